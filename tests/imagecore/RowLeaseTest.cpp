#include "imagecore/RowLease.h"

#include <gtest/gtest.h>

#include <utility>

#include "ImageTestUtil.h"

namespace {

// A BGRA image seen through a read-write channel view, so rows go through
// the view's cache and a held row can be told from a free one.
CCoreImage ViewedImage(int height = 6) {
  CCoreImage image;
  EXPECT_EQ(Code(image.CreateBGRA(10, height)), 0u);
  EXPECT_EQ(Code(image.SetChannelView(1, keAccessReadWrite)), 0u);
  return image;
}

// A held view row refuses a fetch with another span than its own; the
// leases in these tests never ask for this one.
bool IsHeld(CCoreImage& image, int y) {
  uint8_t* row = nullptr;
  CoreResult probe = image.GetRow(y, 0, 1, row);
  if (ExamineResult(probe) != 0) return true;
  image.ReleaseRow(y);
  return false;
}

template <class Fn>
uint32_t RaisedCode(Fn lease) {
  try {
    lease();
  } catch (const CJException& raised) {
    return raised.Code();
  }
  return 0;
}

uint8_t* PlainRowAddress(CCoreImage& image, int y) {
  uint8_t* row = nullptr;
  EXPECT_EQ(Code(image.GetRow(y, row)), 0u);
  image.ReleaseRow(y);
  return row;
}

}  // namespace

TEST(RowLease, HoldsItsRowUntilItEndsAndReleasesItOnce) {
  CCoreImage image = ViewedImage();
  uint8_t* own = nullptr;
  ASSERT_EQ(Code(image.GetRow(2, own)), 0u);  // the test's own hold
  {
    const CRowLease lease(image, 2);
    EXPECT_EQ(lease.Data(), own);
    image.ReleaseRow(2);
    EXPECT_TRUE(IsHeld(image, 2));
  }
  EXPECT_FALSE(IsHeld(image, 2));

  // A second release by the lease would free a row the test still holds.
  ASSERT_EQ(Code(image.GetRow(4, own)), 0u);
  { const CRowLease lease(image, 4); }
  EXPECT_TRUE(IsHeld(image, 4));
  image.ReleaseRow(4);
  EXPECT_FALSE(IsHeld(image, 4));
}

TEST(RowLease, WritesThroughAViewReachTheStorageWhenTheLeaseEnds) {
  CCoreImage image = ViewedImage();
  CCoreImage storage;
  ASSERT_EQ(Code(storage.ShareFrom(image)), 0u);
  {
    const CRowLease lease(image, 3);
    lease.Data()[5] = 77;
    EXPECT_EQ(ReadRow(storage, 3)[4 * 5 + 1], 0);
  }
  EXPECT_EQ(ReadRow(storage, 3)[4 * 5 + 1], 77);
}

TEST(RowLease, ASpanStartsAtItsFirstPixel) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(10, 4)), 0u);
  const CRowLease span(image, 1, 6, 3);
  EXPECT_EQ(span.Data(), PlainRowAddress(image, 1) + 4 * 6);

  CCoreImage viewed = ViewedImage();
  {
    const CRowLease toTheEdge(viewed, 2, 7, -1);
    EXPECT_TRUE(IsHeld(viewed, 2));
  }
  EXPECT_FALSE(IsHeld(viewed, 2));
}

TEST(RowLease, AFailedFetchRaisesItsCodeAndHoldsNothing) {
  CCoreImage empty;
  EXPECT_EQ(RaisedCode([&] { CRowLease lease(empty, 0); }), keErrNoStorage);

  CCoreImage image = ViewedImage();
  EXPECT_EQ(RaisedCode([&] { CRowLease lease(image, 6); }), keErrInvalidArgument);
  EXPECT_EQ(RaisedCode([&] { CRowLease lease(image, -1); }), keErrInvalidArgument);
  EXPECT_EQ(RaisedCode([&] { CRowLease lease(image, 0, 8, 3); }), keErrInvalidArgument);

  // Row 2 held with another span: the lease is refused and must not count
  // as a holder of its own.
  uint8_t* own = nullptr;
  ASSERT_EQ(Code(image.GetRow(2, 3, 4, own)), 0u);
  EXPECT_EQ(RaisedCode([&] { CRowLease lease(image, 2); }), keErrInvalidArgument);
  image.ReleaseRow(2);
  EXPECT_FALSE(IsHeld(image, 2));
}

TEST(RowLease, ARangeHoldsItsRowsAndNoOthers) {
  CCoreImage image = ViewedImage();
  {
    const CRowLease rows = CRowLease::Rows(image, 1, 4);
    EXPECT_EQ(rows.Data(), rows.Row(1));
    for (int y = 0; y < image.Height(); ++y) EXPECT_EQ(IsHeld(image, y), y >= 1 && y < 4) << y;
    // Held rows are fetched again at the same address.
    const CRowLease again(image, 3);
    EXPECT_EQ(again.Data(), rows.Row(3));
  }
  for (int y = 0; y < image.Height(); ++y) EXPECT_FALSE(IsHeld(image, y)) << y;
}

TEST(RowLease, AllRowsAreAddressedAcrossStrips) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(20, 300)), 0u);
  const CRowLease rows = CRowLease::AllRows(image);
  for (int y : {0, 127, 128, 255, 256, 299}) EXPECT_EQ(rows.Row(y), PlainRowAddress(image, y)) << y;
}

TEST(RowLease, ARangeThatFailsPartWayReleasesTheRowsItHadFetched) {
  CCoreImage image = ViewedImage();
  uint8_t* own = nullptr;
  ASSERT_EQ(Code(image.GetRow(3, 0, 4, own)), 0u);
  EXPECT_EQ(RaisedCode([&] { const CRowLease rows = CRowLease::AllRows(image); }),
            keErrInvalidArgument);
  for (int y : {0, 1, 2, 4, 5}) EXPECT_FALSE(IsHeld(image, y)) << y;
  EXPECT_TRUE(IsHeld(image, 3));
  image.ReleaseRow(3);
  EXPECT_FALSE(IsHeld(image, 3));

  EXPECT_EQ(RaisedCode([&] { const CRowLease rows = CRowLease::Rows(image, 4, 7); }),
            keErrInvalidArgument);
  EXPECT_FALSE(IsHeld(image, 4));
  EXPECT_FALSE(IsHeld(image, 5));
}

TEST(RowLease, AnEmptyRangeFetchesNothingAndAReversedOneRaises) {
  CCoreImage empty;
  const CRowLease none = CRowLease::AllRows(empty);
  EXPECT_EQ(none.Data(), nullptr);

  CCoreImage image = ViewedImage();
  const CRowLease between = CRowLease::Rows(image, 2, 2);
  EXPECT_FALSE(IsHeld(image, 2));
  EXPECT_EQ(RaisedCode([&] { const CRowLease rows = CRowLease::Rows(image, 3, 2); }),
            keErrInvalidArgument);
}

TEST(RowLease, AMovedLeaseIsReleasedOnceByItsNewHolder) {
  CCoreImage image = ViewedImage();
  uint8_t* own = nullptr;
  ASSERT_EQ(Code(image.GetRow(1, own)), 0u);
  {
    CRowLease first(image, 1);
    const CRowLease second(std::move(first));
    EXPECT_EQ(first.Data(), nullptr);
    EXPECT_EQ(second.Data(), own);
  }
  EXPECT_TRUE(IsHeld(image, 1));
  image.ReleaseRow(1);
  EXPECT_FALSE(IsHeld(image, 1));

  // Assignment lets go of the row held before and takes over the other.
  {
    CRowLease target(image, 4);
    CRowLease range = CRowLease::Rows(image, 1, 3);
    target = std::move(range);
    EXPECT_FALSE(IsHeld(image, 4));
    EXPECT_TRUE(IsHeld(image, 1));
    EXPECT_TRUE(IsHeld(image, 2));
    EXPECT_EQ(target.Row(2), PlainRowAddress(image, 2));
  }
  for (int y = 0; y < image.Height(); ++y) EXPECT_FALSE(IsHeld(image, y)) << y;
}
