#include "platform/RecycledPages.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

size_t ResidentPages(void *address, size_t bytes) {
  std::vector<unsigned char> flags((bytes + kPage - 1) / kPage);
  if (mincore(address, bytes, flags.data()) != 0) return 0;
  return static_cast<size_t>(std::count_if(flags.begin(), flags.end(), [](unsigned char f) { return f & 1; }));
}

// Pages taken and written with one byte value throughout.
uint8_t *Written(size_t bytes, uint8_t value, size_t &length) {
  auto *pages = static_cast<uint8_t *>(TakePages(bytes, false, false, length));
  if (pages) std::memset(pages, value, bytes);
  return pages;
}

bool AllAre(const uint8_t *bytes, size_t count, uint8_t value) {
  return std::all_of(bytes, bytes + count, [value](uint8_t b) { return b == value; });
}

class RecycledPagesTest : public ::testing::Test {
 protected:
  void SetUp() override { ReleaseKeptPages(); }
  void TearDown() override { ReleaseKeptPages(); }
};

TEST_F(RecycledPagesTest, PagesGivenBackServeTheNextRequestOfTheirLengthWithOrWithoutClearing) {
  size_t length = 0;
  uint8_t *first = Written(40 * kPage + 12, 0x5A, length);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(length, 41 * kPage);  // whole pages
  ASSERT_TRUE(GivePagesBack(first, length));
  EXPECT_EQ(KeptPageBytes(), 41 * kPage);

  size_t again = 0;
  auto *second = static_cast<uint8_t *>(TakePages(40 * kPage, false, false, again));
  EXPECT_EQ(second, first);
  EXPECT_EQ(again, 41 * kPage);  // a little longer than asked serves whole
  EXPECT_TRUE(AllAre(second, 40 * kPage, 0x5A));
  EXPECT_EQ(KeptPageBytes(), 0u);
  ASSERT_TRUE(GivePagesBack(second, again));

  auto *cleared = static_cast<uint8_t *>(TakePages(40 * kPage, true, false, again));
  EXPECT_EQ(cleared, first);
  EXPECT_TRUE(AllAre(cleared, 40 * kPage, 0));
  ASSERT_TRUE(GivePagesBack(cleared, again));
}

TEST_F(RecycledPagesTest, ALongerRequestGathersKeptPagesWithoutFreshOnesAndClearsWhatItMoved) {
  size_t lengthA = 0;
  size_t lengthB = 0;
  uint8_t *a = Written(16 * kPage, 0xA1, lengthA);
  uint8_t *b = Written(16 * kPage, 0xB2, lengthB);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_TRUE(GivePagesBack(a, lengthA));
  ASSERT_TRUE(GivePagesBack(b, lengthB));

  // 40 pages: the 32 kept ones, the most recently given back first, then 8
  // fresh ones.
  size_t length = 0;
  auto *region = static_cast<uint8_t *>(TakePages(40 * kPage, false, false, length));
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(length, 40 * kPage);
  EXPECT_EQ(KeptPageBytes(), 0u);
  EXPECT_EQ(ResidentPages(region, 32 * kPage), 32u);
  EXPECT_TRUE(AllAre(region, 16 * kPage, 0xB2));
  EXPECT_TRUE(AllAre(region + 16 * kPage, 16 * kPage, 0xA1));
  EXPECT_TRUE(AllAre(region + 32 * kPage, 8 * kPage, 0));
  ASSERT_TRUE(GivePagesBack(region, length));

  // A shorter request than what is kept takes the front of a mapping and
  // leaves the rest kept; clearing covers every byte asked for.
  auto *part = static_cast<uint8_t *>(TakePages(10 * kPage + 1, true, false, length));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(length, 11 * kPage);
  EXPECT_EQ(KeptPageBytes(), 29 * kPage);
  EXPECT_TRUE(AllAre(part, 10 * kPage + 1, 0));
  ASSERT_TRUE(GivePagesBack(part, length));
}

TEST_F(RecycledPagesTest, WhatIsKeptIsBoundedAndGoesBackOnRequest) {
  std::vector<std::pair<void *, size_t>> taken;
  for (int i = 0; i < 300; ++i) {
    size_t length = 0;
    void *pages = TakeFreshPages(kPage, false);
    ASSERT_NE(pages, nullptr);
    length = kPage;
    taken.emplace_back(pages, length);
  }
  for (const auto &[pages, length] : taken) ASSERT_TRUE(GivePagesBack(pages, length));
  EXPECT_GT(KeptPageBytes(), 0u);
  EXPECT_LE(KeptPageBytes(), 256 * kPage);
  ReleaseKeptPages();
  EXPECT_EQ(KeptPageBytes(), 0u);
}

// Run stages take and give back pages on two threads at once; each buffer
// stays its owner's alone while held.
TEST_F(RecycledPagesTest, TwoThreadsTakingAndGivingBackNeverShareABuffer) {
  auto worker = [](uint8_t value, bool &intact) {
    intact = true;
    for (int round = 0; round < 200; ++round) {
      const size_t bytes = (8 + round % 5) * kPage;
      size_t length = 0;
      auto *pages = static_cast<uint8_t *>(TakePages(bytes, false, false, length));
      if (!pages || length < bytes) {
        intact = false;
        return;
      }
      std::memset(pages, value, bytes);
      std::this_thread::yield();
      intact = intact && AllAre(pages, bytes, value);
      GivePagesBack(pages, length);
    }
  };
  bool firstIntact = false;
  bool secondIntact = false;
  std::thread first(worker, uint8_t{0x11}, std::ref(firstIntact));
  std::thread second(worker, uint8_t{0x22}, std::ref(secondIntact));
  first.join();
  second.join();
  EXPECT_TRUE(firstIntact);
  EXPECT_TRUE(secondIntact);
}

}  // namespace
