#include "ScriptFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/FileDescriptor.h"
#include "tools/filterhost/ModuleRun.h"

namespace {

// What the module says while it checks: only the script's end is kept; a
// box (an older module that wanted its editor) is not the user's business.
struct CCheckMessages {
  std::mutex mutex;
  std::string scriptEnd;

  static void Receive(void* context, int32_t kind, const char*, const char* text) {
    auto* self = static_cast<CCheckMessages*>(context);
    const std::lock_guard<std::mutex> lock(self->mutex);
    if (kind == keHostMessageScriptEnd && text) self->scriptEnd = text;
  }
};

}  // namespace

bool ReadScriptFile(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  const CFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  auto failed = [&] {
    error = "cannot read the script '" + path + "': " + std::strerror(errno);
    text.clear();
    return false;
  };
  if (file.Get() < 0) return failed();
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = read(file.Get(), buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed();
    }
    if (text.size() + static_cast<size_t>(n) > kScriptByteLimit) {
      error = "the script '" + path + "' is longer than " +
              std::to_string(kScriptByteLimit >> 20) + " MiB: no session is that long";
      text.clear();
      return false;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
}

bool ScriptIsMalformed(const CFilterModule& module, const std::string& path,
                       std::string& message) {
  // The smallest layer the filter takes: the check needs none, but it comes
  // through the usual call.
  CHostLayer layer;
  layer.width = 1;
  layer.height = 1;
  layer.planes = 4;
  layer.bytes.assign(4, 0);
  CCheckMessages messages;
  KelvanePlatformData platform = HostPlatformData();
  // No script to replay and no display: a module that does not know the
  // check runs nothing of the script and opens no window.
  platform.hasDisplay = 0;
  platform.checkScriptPath = path.c_str();
  platform.showMessage = &CCheckMessages::Receive;
  platform.messageContext = &messages;
  if (RunLoadedModule(module, layer, platform).end != EModuleRunEnd::kScriptError) return false;
  message = messages.scriptEnd.empty() ? path + ": the script is malformed" : messages.scriptEnd;
  return true;
}
