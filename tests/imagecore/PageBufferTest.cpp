#include "imagecore/PageBuffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "platform/RecycledPages.h"

namespace {

TEST(PageBufferTest, CopiesHoldTheSameBytesInStorageOfTheirOwnAndMovesLeaveNothingBehind) {
  for (const size_t bytes : {size_t{100}, size_t{3} << 20}) {  // heap and pages
    CPageBuffer original(bytes);
    ASSERT_EQ(original.Size(), bytes);
    for (size_t i = 0; i < bytes; ++i) original.Data()[i] = static_cast<uint8_t>(i * 7);

    CPageBuffer copy(original);
    ASSERT_NE(copy.Data(), original.Data());
    EXPECT_EQ(std::memcmp(copy.Data(), original.Data(), bytes), 0);
    copy.Data()[0] ^= 0xFF;
    EXPECT_EQ(original.Data()[0], 0);

    CPageBuffer assigned;
    assigned = original;
    EXPECT_EQ(std::memcmp(assigned.Data(), original.Data(), bytes), 0);

    const uint8_t* storage = original.Data();
    CPageBuffer moved(std::move(original));
    EXPECT_EQ(moved.Data(), storage);
    EXPECT_EQ(original.Data(), nullptr);  // NOLINT(bugprone-use-after-move): what a move leaves
    EXPECT_EQ(original.Size(), 0u);       // NOLINT(bugprone-use-after-move)
    assigned = std::move(moved);
    EXPECT_EQ(assigned.Data(), storage);
  }
}

TEST(PageBufferTest, AContainerGrowingPastAMebibyteKeepsItsElementsAndGivesItsPagesBack) {
  ReleaseKeptPages();
  {
    std::vector<uint64_t, CRecycledAllocator<uint64_t>> values;
    for (uint64_t i = 0; i < (uint64_t{3} << 20) / sizeof(uint64_t); ++i) values.push_back(i * 2654435761u);
    bool intact = true;
    for (size_t i = 0; i < values.size(); ++i) intact = intact && values[i] == i * 2654435761u;
    EXPECT_TRUE(intact);
    // What it outgrew is kept for the next request.
    EXPECT_GT(KeptPageBytes(), 0u);
  }
  EXPECT_GE(KeptPageBytes(), size_t{3} << 20);
  ReleaseKeptPages();
}


// A sparse buffer is mostly absent pages: served from kept ones it would
// leave present pages idle while later buffers fault in fresh ones.
TEST(PageBufferTest, SparseBuffersNeitherTakeNorLeaveKeptPages) {
  ReleaseKeptPages();
  { CPageBuffer whole(size_t{8} << 20); }
  const size_t kept = KeptPageBytes();
  ASSERT_GE(kept, size_t{8} << 20);
  {
    CPageBuffer sparse(size_t{6} << 20, true);
    sparse.Data()[0] = 1;
    sparse.Data()[(size_t{6} << 20) - 1] = 2;
    EXPECT_EQ(KeptPageBytes(), kept);
  }
  EXPECT_EQ(KeptPageBytes(), kept);
  ReleaseKeptPages();
}

}  // namespace
