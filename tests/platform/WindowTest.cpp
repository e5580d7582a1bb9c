#include "platform/Window.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

constexpr UINT kProgress = WM_USER + 1;
constexpr UINT kDone = WM_USER + 2;

TEST(WindowTest, MessagesFromManyThreadsArriveWholeAndInEachThreadsOrder) {
  std::vector<CWindowMessage> handled;
  CHeadlessWindow window([&](const CWindowMessage& message) { handled.push_back(message); });
  constexpr int kThreads = 4;
  constexpr int kEach = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&window, t] {
      for (int i = 0; i < kEach; ++i) window.PostMessage(kProgress, static_cast<WPARAM>(t), i);
    });
  }
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(window.PumpMessages(), kThreads * kEach);
  ASSERT_EQ(handled.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<LPARAM> next(kThreads, 0);
  for (const CWindowMessage& message : handled) {
    ASSERT_LT(message.wParam, static_cast<WPARAM>(kThreads));
    EXPECT_EQ(message.lParam, next[message.wParam]++);
  }
  EXPECT_EQ(window.QueuedCount(), 0);
}

// The coalescing a progress handler does: one update with the newest value,
// other kinds of messages kept in place.
TEST(WindowTest, AHandlerCanDropTheQueuedMessagesOfOneKind) {
  std::vector<CWindowMessage> handled;
  CHeadlessWindow window;
  window.SetMessageHandler([&](const CWindowMessage& message) {
    CWindowMessage effective = message;
    if (message.message == kProgress) window.RemoveMessages(kProgress, &effective);
    handled.push_back(effective);
  });
  for (int i = 1; i <= 20; ++i) window.PostMessage(kProgress, 0, i * 5);
  window.PostMessage(kDone, 0, 7);
  window.PostMessage(kProgress, 0, 3);

  EXPECT_EQ(window.QueuedCount(kProgress), 21);
  EXPECT_EQ(window.PumpMessages(), 2);
  ASSERT_EQ(handled.size(), 2u);
  EXPECT_EQ(handled[0].message, kProgress);
  EXPECT_EQ(handled[0].lParam, 3);
  EXPECT_EQ(handled[1].message, kDone);
  EXPECT_EQ(handled[1].lParam, 7);
}

TEST(WindowTest, RemovingNothingLeavesTheOutputAlone) {
  CHeadlessWindow window;
  window.PostMessage(kDone, 1, 2);
  CWindowMessage last{kProgress, 9, 9};
  EXPECT_EQ(window.RemoveMessages(kProgress, &last), 0);
  EXPECT_EQ(last.lParam, 9);
  EXPECT_EQ(window.QueuedCount(kDone), 1);
}

TEST(WindowTest, WaitingEndsWhenAnotherThreadPostsOrTheTimeIsUp) {
  CHeadlessWindow window;
  EXPECT_FALSE(window.WaitForMessage(std::chrono::milliseconds(20)));
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    window.PostMessage(kDone, 0, 0);
  });
  EXPECT_TRUE(window.WaitForMessage(std::chrono::seconds(30)));
  poster.join();
  EXPECT_EQ(window.PumpMessages(), 1);
}

// A window of a widget toolkit learns of each post on the posting thread.
TEST(WindowTest, ADerivedWindowIsToldOfEveryPost) {
  class CCountingWindow : public CMessageWindow {
   public:
    int m_posts = 0;
    std::vector<UINT> m_handled;

   protected:
    void OnMessagePosted() override { ++m_posts; }
    void WindowProc(const CWindowMessage& message) override { m_handled.push_back(message.message); }
  } window;
  window.PostMessage(kProgress, 0, 0);
  window.PostMessage(kDone, 0, 0);
  EXPECT_EQ(window.m_posts, 2);
  window.PumpMessages();
  EXPECT_EQ(window.m_handled, (std::vector<UINT>{kProgress, kDone}));
}

}  // namespace
