// A filter module for the host's tests: it hands every layer back unchanged,
// except that it aborts on a layer 13 pixels wide, as a faulty filter would.
#include <sys/resource.h>

#include <cstdlib>

#include "platform/HostInterface.h"

namespace {

constexpr int kCrashingWidth = 13;

void Crash() {
  // The tests crash it on purpose: no core file is wanted.
  const rlimit none{0, 0};
  setrlimit(RLIMIT_CORE, &none);
  std::abort();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void ENTRYPOINT(int16_t selector,
                                                                   FilterRecord* record,
                                                                   intptr_t*, int16_t* result) {
  *result = noErr;
  switch (selector) {
    case filterSelectorStart:
      // The whole layer as destination: what comes back is what went out.
      record->outRect = record->filterRect;
      record->outLoPlane = 0;
      record->outHiPlane = static_cast<int16_t>(record->planes - 1);
      break;
    case filterSelectorContinue:
      if (record->imageSize.h == kCrashingWidth) Crash();
      record->inRect = VRect{};
      record->outRect = VRect{};
      record->maskRect = VRect{};
      break;
    default:
      break;
  }
}
