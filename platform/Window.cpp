#include "Window.h"

#include <utility>

CMessageWindow::~CMessageWindow() = default;

bool CMessageWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(CWindowMessage{message, wParam, lParam});
  }
  m_posted.notify_all();
  OnMessagePosted();
  return true;
}

int CMessageWindow::PumpMessages() {
  int handled = 0;
  while (true) {
    CWindowMessage message;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_queue.empty()) break;
      message = m_queue.front();
      m_queue.pop_front();
    }
    // Unlocked, so that the handler may post or remove messages itself.
    WindowProc(message);
    ++handled;
  }
  return handled;
}

bool CMessageWindow::WaitForMessage(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_posted.wait_for(lock, timeout, [this] { return !m_queue.empty(); });
}

int CMessageWindow::RemoveMessages(UINT message, CWindowMessage* lastRemoved) {
  std::lock_guard<std::mutex> lock(m_mutex);
  int removed = 0;
  for (auto it = m_queue.begin(); it != m_queue.end();) {
    if (it->message == message) {
      if (lastRemoved) *lastRemoved = *it;
      it = m_queue.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  return removed;
}

int CMessageWindow::QueuedCount(UINT message) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  int count = 0;
  for (const CWindowMessage& queued : m_queue) {
    if (message == WM_NULL || queued.message == message) ++count;
  }
  return count;
}

void CMessageWindow::SetMessageHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_handler = std::move(handler);
}

void CMessageWindow::WindowProc(const CWindowMessage& message) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    handler = m_handler;
  }
  if (handler) handler(message);
}
