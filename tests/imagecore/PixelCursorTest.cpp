#include "imagecore/PixelCursor.h"

#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "imagecore/MemBlock.h"

namespace {

uint8_t* RowAt(CCoreImage& image, int y, int x = 0) {
  uint8_t* row = nullptr;
  CoreResult result = image.GetRow(y, x, -1, row);
  EXPECT_EQ(ExamineResult(result), 0u);
  image.ReleaseRow(y);
  return row;
}

}  // namespace

TEST(PixelCursor, AddressesMatchTheRowTableAcrossStrips) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(50, 300)), 0u);
  CPixelCursor cursor;
  ASSERT_EQ(Code(cursor.SetUp(image)), 0u);
  EXPECT_EQ(cursor.Ratio(), 32768);
  for (int y : {0, 127, 128, 200, 299}) {
    EXPECT_EQ(cursor.Address(0, y), RowAt(image, y));
    EXPECT_EQ(cursor.Address(13, y), RowAt(image, y) + 13);
    EXPECT_EQ(cursor.PixelAddress(7, y), RowAt(image, y, 7));
  }
}

TEST(PixelCursor, SubImagesAreAddressedFromTheirCorner) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGreyA(50, 300)), 0u);
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(image, 9, 120, 40, 290)), 0u);
  CPixelCursor cursor;
  ASSERT_EQ(Code(cursor.SetUp(window)), 0u);
  EXPECT_EQ(cursor.Width(), 31);
  EXPECT_EQ(cursor.Height(), 170);
  EXPECT_EQ(cursor.PixelAddress(0, 0), RowAt(image, 120, 9));
  EXPECT_EQ(cursor.PixelAddress(3, 10), RowAt(image, 130, 12));
  *cursor.PixelAddress(3, 10) = 77;
  EXPECT_EQ(ReadRow(image, 130)[2 * 12], 77);
}

TEST(PixelCursor, ChannelViewsAddressTheStoragePixel) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(10, 10)), 0u);
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessReadWrite)), 0u);
  CPixelCursor cursor;
  ASSERT_EQ(Code(cursor.SetUp(image)), 0u);
  EXPECT_EQ(cursor.Ratio(), 4 * 32768);
  CCoreImage plain;
  ASSERT_EQ(Code(plain.ShareFrom(image)), 0u);
  // View byte x is view pixel x; the channel offset is the caller's to add.
  EXPECT_EQ(cursor.Address(5, 2), RowAt(plain, 2, 5));

  CCoreImage greyA;
  ASSERT_EQ(Code(greyA.CreateGreyA(10, 10)), 0u);
  ASSERT_EQ(Code(greyA.SetChannelView(3, keAccessRead)), 0u);
  ASSERT_EQ(Code(cursor.SetUp(greyA)), 0u);
  EXPECT_EQ(cursor.Ratio(), 2 * 32768);
}

TEST(PixelCursor, SetUpRefusesFormatViewsSubByteFormatsAndEmptyImages) {
  CPixelCursor cursor;
  CCoreImage image;
  EXPECT_EQ(Code(cursor.SetUp(image)), 110u);
  ASSERT_EQ(Code(image.CreateBGR(4, 4)), 0u);
  ASSERT_EQ(Code(image.SetViewFormat(keFormatBGRA, keAccessRead)), 0u);
  EXPECT_EQ(Code(cursor.SetUp(image)), 101u);
  EXPECT_FALSE(cursor.IsSet());
  ASSERT_EQ(Code(image.Create(16, 4, keFormatIndex1, nullptr, nullptr, -1)), 0u);
  EXPECT_EQ(Code(cursor.SetUp(image)), 101u);
  ASSERT_EQ(Code(image.Create(16, 4, keFormatIndex4, nullptr, nullptr, -1)), 0u);
  EXPECT_EQ(Code(cursor.SetUp(image)), 101u);
  ASSERT_EQ(Code(image.Create(16, 4, keFormatBGRA_u16, nullptr, nullptr, -1)), 0u);
  EXPECT_EQ(Code(cursor.SetUp(image)), 0u);
}

TEST(PixelCursor, CursorKeepsTheStorageAliveUntilItGoes) {
  const size_t before = CMemAllocator::Instance().Statistics().liveBlocks;
  CPixelCursor cursor;
  {
    CCoreImage image;
    ASSERT_EQ(Code(image.CreateGrey(8, 200)), 0u);
    RowAt(image, 150)[3] = 55;
    ASSERT_EQ(Code(cursor.SetUp(image)), 0u);
  }
  EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, before + 2);
  EXPECT_EQ(*cursor.Address(3, 150), 55);
  CPixelCursor copy(cursor);
  cursor.Clear();
  EXPECT_EQ(*copy.Address(3, 150), 55);
  copy.Clear();
  EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, before);
}
