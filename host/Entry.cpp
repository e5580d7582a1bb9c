// The module's one export and the application object behind it.
#include <cstdint>

#include "host/Dispatcher.h"
#include "host/MatteApp.h"
#include "host/Pipl.h"
#include "platform/HostInterface.h"
#include "platform/WinApp.h"

namespace {

CMatteApp theApp;

// Started on the first call rather than by a static constructor: the
// imaging core's own statics in other units may not be built yet at load.
void StartOnce() { static CModuleInstance instance(theApp); }

// The property list lives in the static library; naming it here links it in.
[[gnu::used]] const void* const s_linkPipl = &g_pipl;

}  // namespace

extern "C" __attribute__((visibility("default"))) void ENTRYPOINT(int16_t selector,
                                                                  FilterRecord* record,
                                                                  intptr_t* data,
                                                                  int16_t* result) {
  StartOnce();
  DispatchSelector(theApp, selector, record, data, result);
}
