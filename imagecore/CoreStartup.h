// Start and stop of the imaging core, once per process.
#pragma once

#include <cstdint>

// Builds the core's shared tables and registers its message texts (the
// message module "CoreErrorCodes"). A second call does nothing. Returns 0, or
// 101 when memory for the start could not be had.
uint32_t CoreStartup();
// Releases what CoreStartup registered; the core can be started again.
void CoreShutdown();
bool CoreIsStarted();
