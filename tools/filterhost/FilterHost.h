// Hands a layer to a filter module the way an image editor does: the
// record, the selectors in their order, the buffers for the requested
// rectangles and planes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/HostInterface.h"

// A layer as the host holds it: interleaved planes, rows top-down without
// padding.
struct CHostLayer {
  int width = 0;
  int height = 0;
  int planes = 0;
  int16_t imageMode = plugInModeRGBColor;
  std::vector<uint8_t> bytes;
};

// The host's own description for the module (the record's platformData):
// a display when $DISPLAY or $WAYLAND_DISPLAY is set, no script.
KelvanePlatformData HostPlatformData();

// A loaded filter module; unloaded with the object.
class CFilterModule {
 public:
  CFilterModule() = default;
  ~CFilterModule();
  CFilterModule(const CFilterModule&) = delete;
  CFilterModule& operator=(const CFilterModule&) = delete;

  bool Load(const std::string& path, const std::string& entryPoint, std::string& error);
  FilterEntryProc Entry() const { return m_entry; }

 private:
  void* m_handle = nullptr;
  FilterEntryProc m_entry = nullptr;
};

struct CFilterOutcome {
  bool hostFailed = false;  // the filter asked for something the host cannot give
  int16_t result = noErr;   // the first non-zero answer of a selector, or noErr
  std::string message;      // why the host stopped
};

// Calls Parameters, Prepare, Start, Continue while a rectangle is requested,
// and Finish (whenever Start succeeded). On noErr the layer holds the
// filter's output.
CFilterOutcome RunFilter(FilterEntryProc entry, CHostLayer& layer, KelvanePlatformData& platform);
