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


// Pages moved to another offset in their page table lose the cheap touch of
// pages already present on some hypervisors, so a gathered region places the
// longest kept mapping at its own offset, and after it any mapping that keeps
// its offset where it lands, however old.
TEST_F(RecycledPagesTest, GatheredPagesKeepTheirOffsetInAPageTableWhereTheyCan) {
  constexpr size_t kTable = size_t{2} << 20;
  // Mappings carved at chosen offsets out of reserved address space.
  auto carve = [](size_t offset, size_t bytes) -> uint8_t * {
    void *reserved = mmap(nullptr, bytes + 2 * kTable, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reserved == MAP_FAILED) return nullptr;
    const uintptr_t aligned = (reinterpret_cast<uintptr_t>(reserved) + kTable - 1) & ~(kTable - 1);
    auto *start = reinterpret_cast<uint8_t *>(aligned + offset);
    auto *begin = static_cast<uint8_t *>(reserved);
    munmap(begin, static_cast<size_t>(start - begin));
    munmap(start + bytes, static_cast<size_t>(begin + bytes + 2 * kTable - (start + bytes)));
    // Each page holds where it was.
    for (size_t at = 0; at < bytes; at += kPage) {
      const uintptr_t self = reinterpret_cast<uintptr_t>(start + at);
      std::memcpy(start + at, &self, sizeof self);
    }
    return start;
  };
  const size_t longBytes = kTable + 5 * kPage;
  const size_t shortBytes = 64 * kPage;
  uint8_t *follows = carve(3 * kPage + longBytes % kTable, shortBytes);  // continues the longest
  uint8_t *longest = carve(3 * kPage, longBytes);
  uint8_t *newest = carve(7 * kPage, shortBytes);
  ASSERT_TRUE(follows && longest && newest);
  ASSERT_TRUE(GivePagesBack(follows, shortBytes));
  ASSERT_TRUE(GivePagesBack(longest, longBytes));
  ASSERT_TRUE(GivePagesBack(newest, shortBytes));

  size_t length = 0;
  const size_t need = longBytes + 2 * shortBytes;
  auto *region = static_cast<uint8_t *>(TakePages(need, false, false, length));
  ASSERT_NE(region, nullptr);
  EXPECT_EQ(KeptPageBytes(), 0u);
  std::vector<uintptr_t> from;
  for (size_t at = 0; at < need; at += kPage) {
    uintptr_t was = 0;
    std::memcpy(&was, region + at, sizeof was);
    from.push_back(was);
  }
  EXPECT_EQ(from.front(), reinterpret_cast<uintptr_t>(longest));
  EXPECT_EQ(from[longBytes / kPage], reinterpret_cast<uintptr_t>(follows));
  EXPECT_EQ(from[(longBytes + shortBytes) / kPage], reinterpret_cast<uintptr_t>(newest));
  for (size_t page = 0; page < (longBytes + shortBytes) / kPage; ++page) {
    EXPECT_EQ((reinterpret_cast<uintptr_t>(region) + page * kPage - from[page]) % kTable, 0u) << "page " << page;
  }
  ASSERT_TRUE(GivePagesBack(region, length));
}


// A request no kept mapping serves whole, but one is longer than, takes the
// front of the shortest such mapping where it lies, without moving pages.
TEST_F(RecycledPagesTest, AShorterRequestSplitsTheShortestLongerMappingInPlace) {
  size_t longLength = 0;
  size_t shortLength = 0;
  uint8_t *longer = Written(96 * kPage, 0x3C, longLength);
  uint8_t *shorter = Written(48 * kPage, 0x4D, shortLength);
  ASSERT_TRUE(longer && shorter);
  ASSERT_TRUE(GivePagesBack(longer, longLength));
  ASSERT_TRUE(GivePagesBack(shorter, shortLength));

  size_t length = 0;
  auto *front = static_cast<uint8_t *>(TakePages(20 * kPage, false, false, length));
  EXPECT_EQ(front, shorter);
  EXPECT_EQ(length, 20 * kPage);
  EXPECT_TRUE(AllAre(front, 20 * kPage, 0x4D));
  EXPECT_EQ(KeptPageBytes(), (96 + 28) * kPage);

  // The rest of the split mapping is kept where it was and serves on.
  size_t restLength = 0;
  auto *rest = static_cast<uint8_t *>(TakePages(28 * kPage, false, false, restLength));
  EXPECT_EQ(rest, shorter + 20 * kPage);
  EXPECT_EQ(restLength, 28 * kPage);
  ASSERT_TRUE(GivePagesBack(front, length));
  ASSERT_TRUE(GivePagesBack(rest, restLength));
}

}  // namespace

// Pieces cut one after another from a kept mapping (an image's strips) come
// back, in any order, as that mapping, which then serves a long request
// where it lies: gathered pages would have been moved.
TEST_F(RecycledPagesTest, PiecesCutFromOneMappingJoinAgainAndServeWhereTheyLie) {
  constexpr size_t kPieces = 8;
  const size_t pieceBytes = size_t{256} << 10;
  size_t wholeLength = 0;
  uint8_t *whole = Written(kPieces * pieceBytes, 0x00, wholeLength);
  ASSERT_NE(whole, nullptr);
  ASSERT_EQ(wholeLength, kPieces * pieceBytes);
  ASSERT_TRUE(GivePagesBack(whole, wholeLength));

  std::vector<std::pair<uint8_t *, size_t>> pieces;
  for (size_t k = 0; k < kPieces; ++k) {
    size_t length = 0;
    uint8_t *piece = Written(pieceBytes, static_cast<uint8_t>(0x40 + k), length);
    ASSERT_EQ(piece, whole + k * pieceBytes);
    pieces.emplace_back(piece, length);
  }
  for (const size_t k : {5, 0, 7, 2, 6, 1, 3, 4}) ASSERT_TRUE(GivePagesBack(pieces[k].first, pieces[k].second));
  EXPECT_EQ(KeptPageBytes(), kPieces * pieceBytes);

  size_t length = 0;
  auto *again = static_cast<uint8_t *>(TakePages(kPieces * pieceBytes, false, false, length));
  EXPECT_EQ(again, whole);
  EXPECT_EQ(length, kPieces * pieceBytes);
  for (size_t k = 0; k < kPieces; ++k) {
    EXPECT_TRUE(AllAre(again + k * pieceBytes, pieceBytes, static_cast<uint8_t>(0x40 + k))) << "piece " << k;
  }
  ASSERT_TRUE(GivePagesBack(again, length));
}
