// Routes one call of the host to the application's handler for it.
#pragma once

#include <cstdint>

#include "platform/HostInterface.h"

class CPluginApp;

// Selectors 0..5 call OnAbout .. OnFinish and store the handler's answer;
// any other selector changes nothing. No exception leaves: a failure is
// shown in a message box and answered with userCanceledErr, so the host
// keeps its layer.
void DispatchSelector(CPluginApp& app, int16_t selector, FilterRecord* record, intptr_t* data,
                      int16_t* result);
