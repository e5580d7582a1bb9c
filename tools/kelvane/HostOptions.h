// The command line of the host program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum : int {
  keExitWritten = 0,    // the result was written
  keExitFailure = 1,    // anything else
  keExitUsage = 2,      // a usage error, an unreadable input, an unwritable output
                        // or a script error
  keExitNoResult = 3,   // the filter ended without a result
  keExitSomeFailed = 4, // a batch in which some pictures failed
};

// The name standing for standard input (as INPUT) or output (as OUTPUT).
inline constexpr const char* kStandardStream = "-";

struct CFlattenColour {
  uint8_t red = 255;
  uint8_t green = 255;
  uint8_t blue = 255;
  bool operator==(const CFlattenColour&) const = default;
};

struct CHostOptions {
  bool help = false;
  bool version = false;
  bool list = false;
  bool planesAsFile = false;
  bool demo = false;         // the built-in session on the sample picture
  bool presets = false;      // the editor shows its preset row
  std::string script;        // a session script to replay instead of the editor
  std::string record;        // where the editor's session is written as a script
  std::string pluginFolder;  // empty: the default folders

  // One picture: INPUT and OUTPUT ("-" for the standard streams).
  std::string input;   // empty: the sample picture
  std::string output;  // empty: derived from the input's name

  // What is written.
  std::string format;  // output ending without the dot from --format; empty: not given
  bool flatten = false;  // composite over `flattenColour`, no alpha
  CFlattenColour flattenColour;
  bool mask = false;   // the matte alone, one grey channel
  bool strip = false;  // no EXIF or XMP in the output
  bool overwrite = false;  // an existing output may be replaced

  // A batch: --out-dir with the pictures and folders named.
  std::string outDir;
  std::vector<std::string> inputs;
  bool recursive = false;
  int jobs = 0;  // pictures side by side; 0: one per core
  bool skipExisting = false;

  // Threads that read and write one picture; 0: one per core.
  int threads = 0;

  // The most memory this process may use, in bytes, given by a batch to each
  // picture's process as its share of the batch (--memory-share, not for
  // users); 0: whatever is available.
  uint64_t memoryShare = 0;

  bool Batch() const { return !outDir.empty(); }
  // The result keeps transparency, so its format must be able to.
  bool NeedsAlpha() const { return !flatten && !mask; }
};

// False, with the reason, for a command line that does not make sense.
bool ParseHostOptions(const std::vector<std::string>& arguments, CHostOptions& options,
                      std::string& error);

// "white", "black" or "#RRGGBB".
bool ParseFlattenColour(const std::string& text, CFlattenColour& colour);

// The format of the file written, as an ending without the dot: a named
// file's own ending (lower case; empty when it has none), else --format,
// else png.
std::string OutputFormatOf(const CHostOptions& options, const std::string& output);

// Where the result goes when no output is named: beside the input, as
// `<input name>.kelvane.<format>` (`.mask.` with --mask); `sample.kelvane.png`
// in the current folder for the sample; standard output for standard input.
std::string DefaultOutputPath(const CHostOptions& options);

std::string HostUsage();

// The options a batch hands each picture's process, as arguments: the
// session, the modules, what is written and how, the threads and memory the
// process may use.
std::vector<std::string> ArgumentsForEachPicture(const CHostOptions& options);
