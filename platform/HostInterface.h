// The contract between the substitute host and a filter module: the record
// the host fills, the selectors it calls and the codes a filter answers with.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

typedef int16_t OSErr;

enum : int16_t {
  noErr = 0,
  userCanceledErr = -128,
};

enum : int16_t {
  filterSelectorAbout = 0,
  filterSelectorParameters = 1,
  filterSelectorPrepare = 2,
  filterSelectorStart = 3,
  filterSelectorContinue = 4,
  filterSelectorFinish = 5,
};

enum : int16_t {
  plugInModeBitmap = 0,
  plugInModeGrayScale = 1,
  plugInModeIndexedColor = 2,
  plugInModeRGBColor = 3,
  plugInModeCMYKColor = 4,
};

struct VRect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

struct VPoint {
  int16_t v;
  int16_t h;
};

// What the host tells the module about itself; the record's platformData
// points here.
struct KelvanePlatformData {
  uint32_t size;           // sizeof(KelvanePlatformData), for later growth
  int32_t hasDisplay;      // non-zero when windows can be shown
  const char* scriptPath;  // session script to replay instead of the editor, or null
  int32_t showPresets;     // non-zero: the editor shows its preset row
  int32_t scriptStatus;    // written by the module: one of keScriptStatus...
  const char* scriptText;  // the script itself, or null: read from scriptPath,
                           // which then only names it in messages
  // Set by a host that shows messages itself, or null: standard error. Where
  // no window can show them, every message box, and the message that ends a
  // replay without a result, go here. Called on the thread showing the box.
  void (*showMessage)(void* context, int32_t kind, const char* caption, const char* text);
  void* messageContext;    // handed back to showMessage
  // A script file only to check, or null. The module reads it through as a
  // replay would, up to its first ok or cancel, carries nothing out and
  // answers in scriptStatus: keScriptStatusScriptError, with the message as
  // a replay's, for a line that is malformed whatever the picture. A host
  // setting it names no scriptPath, so a module that predates the field
  // runs nothing of the script.
  const char* checkScriptPath;
  // A file the editor writes the session to, as a session script, when it
  // closes (OK or Cancel), or null. It appears whole or not at all; a file
  // already there is replaced only when recordReplace is non-zero.
  const char* recordPath;
  int32_t recordReplace;
  // Written by the module once the editor closed: 0 written, or the errno
  // that kept the file from being written; untouched when no editor ran.
  int32_t recordStatus;
};

// What a message handed to showMessage is.
enum : int32_t {
  keHostMessageBox = 0,        // a message box; its default button is taken
  keHostMessageScriptEnd = 1,  // why a replayed session ended without a result
  // Something in a replayed script the user should know, which did not stop
  // it; a host that knows no such kind shows it as a box.
  keHostMessageScriptWarning = 2,
};

// How a replayed session ended, beyond the selector's result.
enum : int32_t {
  keScriptStatusOk = 0,
  keScriptStatusRunFailed = 1,    // a run ended without a result
  keScriptStatusScriptError = 2,  // a malformed or refused command
};

// Only the fields a filter of this host reads or writes.
struct FilterRecord {
  VPoint imageSize;
  int16_t planes;
  int16_t imageMode;
  VRect filterRect;
  VRect inRect;
  VRect outRect;
  VRect maskRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  void* platformData;
};

typedef void (*FilterEntryProc)(int16_t selector, FilterRecord* record,
                                intptr_t* data, int16_t* result);

}  // extern "C"

// The longest session script a module reads, and a host hands over: far
// beyond any real session, and short enough that a file that never ends
// costs nothing.
inline constexpr size_t kScriptByteLimit = size_t{4} << 20;
