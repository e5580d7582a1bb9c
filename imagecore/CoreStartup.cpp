#include "CoreStartup.h"

#include <mutex>
#include <new>

#include "AlphaConversion.h"
#include "BlendTables.h"
#include "CoreResult.h"

namespace {

constexpr char kModuleName[] = "CoreErrorCodes";

std::mutex g_startMutex;
bool g_started = false;

// No text for 0xFFFF: unknown codes fall back to the numbered template.
const char* CoreMessageText(uint32_t id) {
  switch (id) {
    case keErrAborted: return "The operation was aborted.";
    case keErrInvalidArgument: return "Invalid argument.";
    case keErrOutOfMemory: return "Not enough memory to complete the operation.";
    case keErrNoStorage: return "The image holds no pixels, or its format cannot be used here.";
    case keErrPngMissing: return "A picture resource is missing.";
    case keErrBitmapBits: return "The pixels of the bitmap could not be read.";
    default: return nullptr;
  }
}

}  // namespace

uint32_t CoreStartup() {
  std::lock_guard<std::mutex> lock(g_startMutex);
  if (g_started) return 0;
  try {
    UnpremultiplyTable();
    if (StartBlendTables() != 0) return keErrInvalidArgument;
    RegisterMessageModule(kModuleName, CoreMessageText);
  } catch (const std::bad_alloc&) {
    StopBlendTables();
    return keErrInvalidArgument;
  }
  g_started = true;
  return 0;
}

void CoreShutdown() {
  std::lock_guard<std::mutex> lock(g_startMutex);
  if (!g_started) return;
  UnregisterMessageModule(kModuleName);
  StopBlendTables();
  g_started = false;
}

bool CoreIsStarted() {
  std::lock_guard<std::mutex> lock(g_startMutex);
  return g_started;
}
