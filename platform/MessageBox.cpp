#include "MessageBox.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex g_handlerMutex;
MessageBoxHandler g_handler;

}  // namespace

int DefaultMessageBoxButton(unsigned type) {
  const unsigned buttons = type & MB_TYPEMASK;
  const unsigned which = (type & MB_DEFMASK) >> 8;  // 0 first, 1 second, 2 third
  switch (buttons) {
    case MB_OKCANCEL:
      return which == 1 ? IDCANCEL : IDOK;
    case MB_YESNO:
      return which == 1 ? IDNO : IDYES;
    case MB_YESNOCANCEL:
      return which == 2 ? IDCANCEL : which == 1 ? IDNO : IDYES;
    default:
      return IDOK;
  }
}

int MessageBox(void* owner, const std::string& text, const std::string& caption, unsigned type) {
  MessageBoxHandler handler;
  {
    std::lock_guard<std::mutex> lock(g_handlerMutex);
    handler = g_handler;
  }
  if (handler) return handler(owner, text, caption, type);
  std::fprintf(stderr, "%s\n%s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
  return DefaultMessageBoxButton(type);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard<std::mutex> lock(g_handlerMutex);
  return std::exchange(g_handler, std::move(handler));
}
