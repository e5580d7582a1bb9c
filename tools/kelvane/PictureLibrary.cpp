#include "PictureLibrary.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <string_view>

#include "tools/kelvane/PictureLoaders.h"

namespace {

// Some decoders give up with only a warning to say why; the last one is
// kept for the message. Warnings may come from the library's threads.
std::mutex g_warningLock;
std::string g_lastWarning;
// The JPEG decoder meets the end of a picture's data before its last row
// with only a complaint left in the error buffer, and goes on to fill the
// rest grey at the size the header claims, whatever the library is told to
// fail on. Other decoders may say the same in a warning.
std::atomic<bool> g_dataEndedEarly{false};

bool SaysDataEndedEarly(const char* message) {
  static constexpr std::string_view kPremature = "premature end";
  const std::string_view text(message);
  return std::search(text.begin(), text.end(), kPremature.begin(), kPremature.end(),
                     [](char a, char b) {
                       return std::tolower(static_cast<unsigned char>(a)) == b;
                     }) != text.end();
}


void KeepWarning(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
  if (message && SaysDataEndedEarly(message)) g_dataEndedEarly = true;
  const std::lock_guard<std::mutex> hold(g_warningLock);
  g_lastWarning = message ? message : "";
}

// Threads a picture is read and written with; 0 one per core.
int g_pictureThreads = 0;

}  // namespace

// The library's first complaint, on one line; the buffer is emptied so that
// the next failure is not blamed on this one.
std::string TakeLibraryError() {
  std::string text = vips_error_buffer();
  vips_error_clear();
  {
    const std::lock_guard<std::mutex> hold(g_warningLock);
    if (text.empty()) text = g_lastWarning;
    g_lastWarning.clear();
  }
  // A failed system call is said on the line after the complaint; its cause
  // ("No space left on device") is what the user can act on.
  static constexpr std::string_view kSystem = "\nunix error: ";
  const size_t system = text.find(kSystem);
  std::string cause;
  if (system != std::string::npos) {
    const size_t start = system + kSystem.size();
    cause = text.substr(start, text.find('\n', start) - start);
  }
  const size_t end = text.find('\n');
  if (end != std::string::npos) text.resize(end);
  if (!cause.empty()) text += " (" + cause + ")";
  return text.empty() ? std::string("unknown reason") : text;
}

// Each read or write starts with a clean slate.
void ForgetLibraryComplaints() {
  vips_error_clear();
  g_dataEndedEarly = false;
  const std::lock_guard<std::mutex> hold(g_warningLock);
  g_lastWarning.clear();
}

bool StartPictureLibrary(const char* programName, std::string& error) {
  if (vips_init(programName) != 0) {
    error = "cannot start libvips: " + TakeLibraryError();
    return false;
  }
  // Each picture is read once; a cache would only hold memory and files open.
  vips_cache_set_max(0);
  // A failure is reported once, as the error of the read or write; the
  // library's running commentary on it would only repeat it in pieces.
  g_log_set_handler("VIPS", G_LOG_LEVEL_WARNING, KeepWarning, nullptr);
  RestrictPictureLoaders();
  // Blocking the untrusted operations takes the JPEG XL saver with them; it
  // only writes pixels of ours.
  vips_operation_block_set("VipsForeignSaveJxl", FALSE);
  return true;
}

std::string PictureLibraryVersion() { return vips_version_string(); }

void SetPictureThreads(int threads) {
  g_pictureThreads = std::max(threads, 0);
  if (threads > 0) vips_concurrency_set(threads);
}

int PictureThreads() { return g_pictureThreads; }

bool DataEndedEarly() {
  const char* complaints = vips_error_buffer();
  return g_dataEndedEarly || (complaints && SaysDataEndedEarly(complaints));
}

