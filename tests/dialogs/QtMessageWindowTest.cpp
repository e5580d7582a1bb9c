#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <thread>
#include <vector>

#include "framework/dialogs/QtApplicationScope.h"
#include "framework/dialogs/QtMessageWindow.h"

namespace {

TEST(QtMessageWindow, MessagesFromAnotherThreadArriveInOrderOnTheLoopsThread) {
  CQtApplicationScope application;
  CQtMessageWindow window;
  std::vector<LPARAM> received;
  const std::thread::id loopThread = std::this_thread::get_id();
  bool everyOnTheLoop = true;
  window.SetMessageHandler([&](const CWindowMessage& message) {
    everyOnTheLoop = everyOnTheLoop && std::this_thread::get_id() == loopThread;
    received.push_back(message.lParam);
    if (received.size() == 100) QApplication::quit();
  });
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) window.PostMessage(WM_USER + 7, 0, i);
  });
  QTimer::singleShot(5000, [] { QApplication::quit(); });  // a hung loop fails, never hangs
  QApplication::exec();
  poster.join();
  ASSERT_EQ(received.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(received[i], i);
  EXPECT_TRUE(everyOnTheLoop);
}

TEST(QtMessageWindow, QueuedMessagesCanBeRemovedBeforeTheLoopRuns) {
  CQtApplicationScope application;
  CQtMessageWindow window;
  int handled = 0;
  window.SetMessageHandler([&](const CWindowMessage&) { ++handled; });
  for (int i = 0; i < 20; ++i) window.PostMessage(WM_USER + 3, 0, i);
  window.PostMessage(WM_USER + 4, 0, 0);
  CWindowMessage last;
  EXPECT_EQ(window.RemoveMessages(WM_USER + 3, &last), 20);
  EXPECT_EQ(last.lParam, 19);
  QCoreApplication::processEvents();
  EXPECT_EQ(handled, 1);
}

}  // namespace
