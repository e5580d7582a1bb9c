// Windows that receive posted messages. Any thread may post; the messages
// are queued in order and handled on the window's own thread when it pumps
// them. The queue lives here so that every kind of window (the headless one
// below, a widget window) offers the same look-ahead: a handler can remove
// the queued messages of one kind, as the progress coalescing needs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

typedef unsigned UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;

enum : UINT {
  WM_NULL = 0x0000,
  WM_TIMER = 0x0113,
  WM_USER = 0x0400,  // messages of the application start here
};

struct CWindowMessage {
  UINT message = WM_NULL;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

class CMessageWindow {
 public:
  using Handler = std::function<void(const CWindowMessage&)>;

  CMessageWindow() = default;
  CMessageWindow(const CMessageWindow&) = delete;
  CMessageWindow& operator=(const CMessageWindow&) = delete;
  virtual ~CMessageWindow();

  // Any thread. Queues the message and wakes the window's thread.
  bool PostMessage(UINT message, WPARAM wParam, LPARAM lParam);

  // Window's thread: handles the queued messages in order, including those
  // posted while it runs, until the queue is empty; returns how many.
  int PumpMessages();
  // Window's thread: waits until a message is queued or the time is up;
  // true when one is queued.
  bool WaitForMessage(std::chrono::milliseconds timeout);

  // Removes every queued message of the kind without handling it; the last
  // one removed is copied to `lastRemoved` when there was one. Returns the
  // number removed.
  int RemoveMessages(UINT message, CWindowMessage* lastRemoved = nullptr);
  // The number of queued messages of the kind (WM_NULL: of every kind).
  int QueuedCount(UINT message = WM_NULL) const;

  // Handles messages that no derived class takes itself.
  void SetMessageHandler(Handler handler);

 protected:
  // Handles one message on the window's thread; by default hands it to the
  // installed handler.
  virtual void WindowProc(const CWindowMessage& message);
  // Called on the posting thread after a message was queued, without any
  // lock held: a widget window posts an event here that makes its own
  // thread call PumpMessages().
  virtual void OnMessagePosted() {}

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_posted;
  std::deque<CWindowMessage> m_queue;
  Handler m_handler;
};

// A window with no display: its owner pumps it (a replay, a test).
class CHeadlessWindow : public CMessageWindow {
 public:
  CHeadlessWindow() = default;
  explicit CHeadlessWindow(Handler handler) { SetMessageHandler(std::move(handler)); }
};
