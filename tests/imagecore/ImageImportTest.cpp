#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "DibTestUtil.h"
#include "ImageTestUtil.h"
#include "imagecore/CoreImage.h"
#include "imagecore/MemBlock.h"
#include "imagecore/Palettes.h"
#include "platform/GlobalMemory.h"

namespace {

std::vector<uint8_t> PaletteOf(const CCoreImage& image) {
  const uint8_t* p = image.Palette();
  return p ? std::vector<uint8_t>(p, p + 4 * image.PaletteCount()) : std::vector<uint8_t>();
}

// ---- FromPixels ---------------------------------------------------------------

TEST(FromPixels, CopiesEachRowFromItsStrideEvenUpwards) {
  // Five rows of 3 BGR pixels, stored bottom-up with padding: a negative
  // stride from the last row in memory gives the picture upright.
  const int width = 3, height = 5, stride = 12;
  std::vector<uint8_t> block(stride * height, 0xEE);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < 9; ++i) block[(height - 1 - y) * stride + i] = PatternByte(i, y);
  }
  CCoreImage image;
  ASSERT_EQ(Code(image.FromPixels(keFormatBGR, width, height, block.data() + (height - 1) * stride, -stride,
                                  0, nullptr)),
            0u);
  ASSERT_EQ(image.ViewFormat(), keFormatBGR);
  for (int y = 0; y < height; ++y) {
    const std::vector<uint8_t> row = ReadRow(image, y);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(row[i], PatternByte(i, y)) << "row " << y;
  }
}

TEST(FromPixels, ArgumentErrorsLeaveTheImageAsItWas) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(4, 4)), 0u);
  const uint8_t pixels[16] = {};
  EXPECT_EQ(Code(image.FromPixels(keFormatNone, 2, 2, pixels, 2, 0, nullptr)), 101u);
  EXPECT_EQ(Code(image.FromPixels(keFormatCustom, 2, 2, pixels, 2, 0, nullptr)), 101u);
  EXPECT_EQ(Code(image.FromPixels(keFormatBGRA_f32, 2, 2, pixels, 2, 0, nullptr)), 101u);
  EXPECT_EQ(Code(image.FromPixels(keFormatGrey, 0, 2, pixels, 2, 0, nullptr)), 101u);
  EXPECT_EQ(Code(image.FromPixels(keFormatGrey, 2, -1, pixels, 2, 0, nullptr)), 101u);
  EXPECT_EQ(Code(image.FromPixels(keFormatGrey, 2, 2, nullptr, 2, 0, nullptr)), 101u);
  EXPECT_EQ(Code(image.FromPixels(keFormatGrey, 2, 2, pixels, 0, 0, nullptr)), 101u);
  EXPECT_TRUE(image.HasStorage());
  EXPECT_EQ(image.Width(), 4);
  EXPECT_EQ(image.ViewFormat(), keFormatGrey);
}

TEST(FromPixels, IndexedFormatsTakeThePaletteOthersDoNot) {
  const uint8_t palette[8] = {10, 20, 30, 0, 40, 50, 60, 0};
  const uint8_t bits[1] = {0b10100000};
  CCoreImage indexed;
  ASSERT_EQ(Code(indexed.FromPixels(keFormatIndex1, 3, 1, bits, 4, 2, palette)), 0u);
  EXPECT_EQ(PaletteOf(indexed), std::vector<uint8_t>(palette, palette + 8));
  EXPECT_EQ(ReadRow(indexed, 0)[0] & 0xE0, 0b10100000);

  CCoreImage grey;
  ASSERT_EQ(Code(grey.FromPixels(keFormatGrey, 1, 1, bits, 4, 2, palette)), 0u);
  EXPECT_EQ(grey.PaletteCount(), 256);  // the grey ramp, not the palette given
  EXPECT_EQ(grey.Palette()[4 * 40], 40);
}

// ---- FromPackedDib --------------------------------------------------------------

TEST(FromPackedDib, EightBitsWithTheGreyRampAreGreyAnyOtherPaletteIndexed) {
  auto byteAt = [](int x, int y) { return static_cast<uint8_t>(x + 16 * y); };
  CTestDib ramp = MakeDib(5, 3, 8, GreyRampTable(), byteAt);
  CCoreImage grey;
  ASSERT_EQ(Code(grey.FromPackedDib(ramp.bytes.data())), 0u);
  EXPECT_EQ(grey.StorageFormat(), keFormatGrey);

  std::vector<uint8_t> table = GreyRampTable();
  table[4 * 200 + 2] = 7;  // one red component off the ramp
  CTestDib coloured = MakeDib(5, 3, 8, table, byteAt);
  CCoreImage indexed;
  ASSERT_EQ(Code(indexed.FromPackedDib(coloured.bytes.data())), 0u);
  EXPECT_EQ(indexed.StorageFormat(), keFormatIndex8);
  EXPECT_EQ(PaletteOf(indexed), table);
  for (int y = 0; y < 3; ++y) {
    const std::vector<uint8_t> row = ReadRow(indexed, y);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(row[x], byteAt(x, y));
  }

  // A short table cannot be the ramp.
  const std::vector<uint8_t> ramp256 = GreyRampTable();
  CTestDib shortTable = MakeDib(5, 3, 8, std::vector<uint8_t>(ramp256.begin(), ramp256.begin() + 512), byteAt);
  CCoreImage partial;
  ASSERT_EQ(Code(partial.FromPackedDib(shortTable.bytes.data())), 0u);
  EXPECT_EQ(partial.StorageFormat(), keFormatIndex8);
  EXPECT_EQ(partial.PaletteCount(), 128);
}

TEST(FromPackedDib, SixteenBitsAreGreyAOrIndexWithAlpha) {
  auto byteAt = [](int x, int y) { return static_cast<uint8_t>(3 * x + y); };
  CCoreImage greyA;
  ASSERT_EQ(Code(greyA.FromPackedDib(MakeDib(4, 2, 16, GreyRampTable(), byteAt).bytes.data())), 0u);
  EXPECT_EQ(greyA.StorageFormat(), keFormatGreyA);
  EXPECT_EQ(ReadRow(greyA, 1), (std::vector<uint8_t>{1, 4, 7, 10, 13, 16, 19, 22}));

  std::vector<uint8_t> table(256 * 4, 9);
  CCoreImage indexA;
  ASSERT_EQ(Code(indexA.FromPackedDib(MakeDib(4, 2, 16, table, byteAt).bytes.data())), 0u);
  EXPECT_EQ(indexA.StorageFormat(), keFormatIndex8A);
}

TEST(FromPackedDib, DerivesColourFormatsAndRejectsOtherBitCounts) {
  auto byteAt = [](int x, int y) { return PatternByte(x, y); };
  CCoreImage image;
  ASSERT_EQ(Code(image.FromPackedDib(MakeDib(3, 2, 24, {}, byteAt).bytes.data())), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatBGR);
  ASSERT_EQ(Code(image.FromPackedDib(MakeDib(3, 2, 32, {}, byteAt).bytes.data())), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatBGRA);
  EXPECT_EQ(ReadRow(image, 1), std::vector<uint8_t>({byteAt(0, 1), byteAt(1, 1), byteAt(2, 1), byteAt(3, 1),
                                                     byteAt(4, 1), byteAt(5, 1), byteAt(6, 1), byteAt(7, 1),
                                                     byteAt(8, 1), byteAt(9, 1), byteAt(10, 1), byteAt(11, 1)}));

  ASSERT_EQ(Code(image.FromPackedDib(MakeDib(9, 2, 1, {0, 0, 0, 0, 255, 255, 255, 0}, byteAt).bytes.data())), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatIndex1);
  EXPECT_EQ(image.PaletteCount(), 2);
  ASSERT_EQ(Code(image.FromPackedDib(MakeDib(3, 2, 4, std::vector<uint8_t>(64, 1), byteAt).bytes.data())), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatIndex4);
  EXPECT_EQ(image.PaletteCount(), 16);

  const CTestDib twoBits = MakeDib(3, 2, 2, std::vector<uint8_t>(16), byteAt);
  EXPECT_EQ(Code(image.FromPackedDib(twoBits.bytes.data())), 101u);
  EXPECT_EQ(image.StorageFormat(), keFormatIndex4);  // unchanged
}

TEST(FromPackedDib, PositiveHeightIsBottomUpNegativeTopDown) {
  auto byteAt = [](int x, int y) { return static_cast<uint8_t>(10 * y + x); };
  for (int height : {4, -4}) {
    CCoreImage image;
    ASSERT_EQ(Code(image.FromPackedDib(MakeDib(2, height, 8, GreyRampTable(), byteAt).bytes.data())), 0u);
    ASSERT_EQ(image.Height(), 4);
    for (int y = 0; y < 4; ++y) {
      EXPECT_EQ(ReadRow(image, y), (std::vector<uint8_t>{byteAt(0, y), byteAt(1, y)})) << height;
    }
  }
}

TEST(FromPackedDib, AZeroWidthOrHeightGivesOnePixelOfZeroBits) {
  auto byteAt = [](int, int) { return uint8_t{0xAB}; };
  for (auto [width, height] : {std::pair{0, 3}, std::pair{3, 0}}) {
    CTestDib dib = MakeDib(3, 3, 32, {}, byteAt);
    BITMAPINFOHEADER header = dib.Header();
    header.biWidth = width;
    header.biHeight = height;
    dib.SetHeader(header);
    CCoreImage image;
    ASSERT_EQ(Code(image.FromPackedDib(dib.bytes.data())), 0u);
    EXPECT_EQ(image.Width(), 1);
    EXPECT_EQ(image.Height(), 1);
    EXPECT_EQ(ReadRow(image, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
  }
}

TEST(FromPackedDib, ColoursImportantLimitsThePalette) {
  std::vector<uint8_t> table(16 * 4);
  for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i);
  CTestDib dib = MakeDib(4, 1, 4, table, [](int, int) { return uint8_t{0x12}; }, 3);
  CCoreImage image;
  ASSERT_EQ(Code(image.FromPackedDib(dib.bytes.data())), 0u);
  ASSERT_EQ(image.PaletteCount(), 3);
  EXPECT_EQ(PaletteOf(image), std::vector<uint8_t>(table.begin(), table.begin() + 12));
}

// A format of another depth than the bits would read past every row.
TEST(FromPackedDib, AGivenFormatMustMatchTheBitCount) {
  CTestDib dib = MakeDib(4, 2, 24, {}, [](int x, int) { return static_cast<uint8_t>(x); });
  CCoreImage image;
  EXPECT_EQ(Code(image.FromPackedDib(dib.bytes.data(), keFormatBGRA)), 101u);
  EXPECT_FALSE(image.HasStorage());
  CTestDib dib32 = MakeDib(4, 2, 32, {}, [](int x, int) { return static_cast<uint8_t>(x); });
  ASSERT_EQ(Code(image.FromPackedDib(dib32.bytes.data(), keFormatBGRxA)), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatBGRxA);
}

TEST(FromPackedDib, CompressedOrShortHeadersAreRefused) {
  CTestDib dib = MakeDib(4, 2, 8, GreyRampTable(), [](int, int) { return uint8_t{1}; });
  BITMAPINFOHEADER header = dib.Header();
  header.biCompression = 1;
  dib.SetHeader(header);
  CCoreImage image;
  EXPECT_EQ(Code(image.FromPackedDib(dib.bytes.data())), 101u);
  header.biCompression = BI_RGB;
  header.biSize = 12;
  dib.SetHeader(header);
  EXPECT_EQ(Code(image.FromPackedDib(dib.bytes.data())), 101u);
  EXPECT_EQ(Code(image.FromPackedDib(nullptr)), 101u);
}

// ---- FromBitmap -------------------------------------------------------------------

// Rows of a device bitmap: top-down, padded to 2 bytes.
std::vector<uint8_t> DeviceRows(int width, int height, int bits, uint8_t (*byteAt)(int, int)) {
  const int rowBytes = (width * bits + 15) / 16 * 2;
  std::vector<uint8_t> rows(static_cast<size_t>(rowBytes * height));
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < (width * bits + 7) / 8; ++i) rows[y * rowBytes + i] = byteAt(i, y);
  }
  return rows;
}

uint8_t Pattern(int i, int y) { return PatternByte(i, y, 3); }

TEST(FromBitmap, ADeviceBitmapArrivesUpright) {
  const std::vector<uint8_t> rows = DeviceRows(5, 3, 24, Pattern);
  HBITMAP bitmap = CreateBitmap(5, 3, 1, 24, rows.data());
  ASSERT_NE(bitmap, nullptr);
  const size_t blocks = CMemAllocator::Instance().Statistics().liveBlocks;
  CCoreImage image;
  ASSERT_EQ(Code(image.FromBitmap(bitmap)), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatBGR);
  for (int y = 0; y < 3; ++y) {
    const std::vector<uint8_t> row = ReadRow(image, y);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(row[i], Pattern(i, y));
  }
  // The temporary packed bitmap is gone; only the image's strip remains.
  EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, blocks + 1);
  DeleteObject(bitmap);
}

TEST(FromBitmap, IndicesTakeTheColoursOfThePaletteGivenOrTheStandardOnes) {
  const std::vector<uint8_t> rows = DeviceRows(4, 2, 8, [](int i, int y) { return static_cast<uint8_t>(i + 4 * y); });
  HBITMAP bitmap = CreateBitmap(4, 2, 1, 8, rows.data());
  PALETTEENTRY entries[8];
  for (int i = 0; i < 8; ++i) entries[i] = PALETTEENTRY{static_cast<uint8_t>(30 * i), 1, 2, 0};
  HPALETTE palette = CreatePalette(entries, 8);

  CCoreImage image;
  ASSERT_EQ(Code(image.FromBitmap(bitmap, palette)), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatIndex8);
  ASSERT_EQ(image.PaletteCount(), 256);
  EXPECT_EQ(image.Palette()[4 * 5 + 2], 150);  // red of entry 5
  EXPECT_EQ(image.Palette()[4 * 9 + 2], 0);    // beyond the palette
  EXPECT_EQ(ReadRow(image, 1), (std::vector<uint8_t>{4, 5, 6, 7}));

  ASSERT_EQ(Code(image.FromBitmap(bitmap)), 0u);
  EXPECT_EQ(image.Palette()[4 * 9 + 2], 255);  // the standard red
  DeleteObject(palette);
  DeleteObject(bitmap);
}

TEST(FromBitmap, OneBitBitmapsAreBlackAndWhite) {
  const std::vector<uint8_t> rows = DeviceRows(10, 1, 1, [](int, int) { return uint8_t{0xA5}; });
  HBITMAP bitmap = CreateBitmap(10, 1, 1, 1, rows.data());
  CCoreImage image;
  ASSERT_EQ(Code(image.FromBitmap(bitmap)), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatIndex1);
  EXPECT_EQ(PaletteOf(image), (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));
  EXPECT_EQ(ReadRow(image, 0)[0], 0xA5);
  DeleteObject(bitmap);
}

TEST(FromBitmap, NoBitmapIs101BitsThatCannotBeReadAre801) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(2, 2)), 0u);
  EXPECT_EQ(Code(image.FromBitmap(nullptr)), 101u);
  HBITMAP gone = CreateBitmap(2, 2, 1, 8, nullptr);
  DeleteObject(gone);
  EXPECT_EQ(Code(image.FromBitmap(gone)), 101u);

  // Two bits a pixel: no device-independent bitmap has that depth.
  HBITMAP twoBits = CreateBitmap(4, 4, 2, 1, nullptr);
  ASSERT_NE(twoBits, nullptr);
  const size_t handles = GlobalHandleCount();
  const size_t blocks = CMemAllocator::Instance().Statistics().liveBlocks;
  EXPECT_EQ(Code(image.FromBitmap(twoBits)), 801u);
  EXPECT_EQ(GlobalHandleCount(), handles);
  EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, blocks);
  EXPECT_EQ(image.ViewFormat(), keFormatGrey);  // untouched
  DeleteObject(twoBits);
}

TEST(FromBitmap, PlanesTimesBitsGiveTheDepth) {
  const std::vector<uint8_t> rows = DeviceRows(3, 2, 4, [](int i, int) { return static_cast<uint8_t>(0x12 + i); });
  HBITMAP bitmap = CreateBitmap(3, 2, 4, 1, rows.data());
  CCoreImage image;
  ASSERT_EQ(Code(image.FromBitmap(bitmap)), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatIndex4);
  DeleteObject(bitmap);
}

}  // namespace
