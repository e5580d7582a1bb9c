// The background-removal filter's application: accepts RGB layers with
// transparency only, and runs the editor on them (or replays a session
// script in its place).
#pragma once

#include "host/PluginApp.h"

class CMatteFilter;
struct KelvanePlatformData;

class CMatteApp : public CPluginApp {
 public:
  bool CheckImage(FilterRecord* record, void* platformData) override;
  // True when the editor (or the replayed session) ended with OK; the
  // holder's image then holds the result.
  bool RunEditor() override;

 private:
  // The modal editor window on the holder's image, inside the Qt
  // application scope the caller made; the session is written where the
  // host asks, after the window closed.
  bool RunEditorWindow(CMatteFilter& filter, KelvanePlatformData& platform);
};

// The box a refused layer gets.
extern const char* const kInputErrorCaption;
extern const char* const kInputErrorText;
