#include "imagecore/CoreImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "ImageTestUtil.h"
#include "imagecore/ColorRef.h"
#include "imagecore/MemBlock.h"
#include "imagecore/Palettes.h"
#include "imagecore/RowBands.h"

namespace {

uint8_t* RowAddress(CCoreImage& image, int y, int x = 0) {
  uint8_t* row = nullptr;
  CoreResult result = image.GetRow(y, x, -1, row);
  EXPECT_EQ(ExamineResult(result), 0u);
  image.ReleaseRow(y);
  return row;
}

bool InStrip(const CCoreImage& image, int strip, const uint8_t* address) {
  CStripInfo info;
  if (!image.GetStripInfo(strip, info)) return false;
  return address >= info.blockAddress && address < info.blockAddress + info.blockSize;
}

}  // namespace

// ---- Storage geometry -------------------------------------------------------

TEST(CoreImageGeometry, OnePixelBGRAIsOneStripOfOneGranule) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(1, 1)), 0u);
  EXPECT_EQ(image.StripCount(), 1);
  EXPECT_EQ(image.RowSize(), 512);
  CStripInfo info;
  ASSERT_TRUE(image.GetStripInfo(0, info));
  EXPECT_EQ(info.blockSize, 65536u);
  EXPECT_EQ(info.rows, 1);
  EXPECT_EQ(info.stride, -512);
  EXPECT_EQ(info.firstRow, info.blockAddress);
  EXPECT_EQ(RowAddress(image, 0), info.blockAddress);
}

TEST(CoreImageGeometry, Height300HasThreeStripsTheLastWith44BottomUpRows) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(10, 300)), 0u);
  ASSERT_EQ(image.StripCount(), 3);
  EXPECT_EQ(image.RowSize(), 128);
  CStripInfo last;
  ASSERT_TRUE(image.GetStripInfo(2, last));
  EXPECT_EQ(last.rows, 44);
  EXPECT_EQ(last.blockSize, 65536u);  // room for 128 rows even in the last strip
  EXPECT_TRUE(InStrip(image, 2, RowAddress(image, 299)));
  EXPECT_FALSE(InStrip(image, 1, RowAddress(image, 299)));
  EXPECT_TRUE(InStrip(image, 1, RowAddress(image, 255)));
  EXPECT_TRUE(InStrip(image, 2, RowAddress(image, 256)));
  // Bottom-up within a strip: the strip's last row starts the block.
  EXPECT_EQ(RowAddress(image, 299), last.blockAddress);
  EXPECT_EQ(RowAddress(image, 256), last.firstRow);
  EXPECT_EQ(RowAddress(image, 11), RowAddress(image, 10) - 128);
}

TEST(CoreImageGeometry, WideRowsArePaddedAndStripsTakeWholeGranules) {
  CCoreImage image;
  ASSERT_EQ(Code(image.Create(1000, 5, keFormatBGR, nullptr, nullptr, -1)), 0u);
  EXPECT_EQ(image.RowSize(), 1024 * 3);
  CStripInfo info;
  ASSERT_TRUE(image.GetStripInfo(0, info));
  EXPECT_EQ(info.blockSize, 6u * 65536u);  // 3072 * 128 bytes
  EXPECT_EQ(image.BitsPerPixel(), 24);

  ASSERT_EQ(Code(image.Create(129, 1, keFormatIndex1, nullptr, nullptr, -1)), 0u);
  EXPECT_EQ(image.RowSize(), 32);
}

TEST(CoreImageGeometry, CreateRejectsUnstorableFormatsAndEmptySizes) {
  CCoreImage image;
  EXPECT_EQ(Code(image.Create(4, 4, keFormatNone, nullptr, nullptr, -1)), 101u);
  EXPECT_EQ(Code(image.Create(4, 4, keFormatGrey_f32, nullptr, nullptr, -1)), 101u);
  EXPECT_EQ(Code(image.Create(4, 4, keFormatCustom, nullptr, nullptr, -1)), 101u);
  EXPECT_EQ(Code(image.Create(0, 4, keFormatGrey, nullptr, nullptr, -1)), 101u);
  EXPECT_FALSE(image.HasStorage());
  EXPECT_EQ(Code(image.Create(4, 4, keFormatBGRxA_u16, nullptr, nullptr, -1)), 0u);
  EXPECT_EQ(image.BitsPerPixel(), 64);
}

TEST(CoreImageGeometry, ImpossibleRowsFailAsOutOfMemoryAndLeaveNothing) {
  const size_t before = CMemAllocator::Instance().Statistics().liveBlocks;
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(4, 4)), 0u);
  EXPECT_EQ(Code(image.CreateBGRA(5000000, 2)), 102u);
  EXPECT_FALSE(image.HasStorage());
  EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, before);
}

TEST(CoreImageGeometry, NewStorageIsZeroAndDescribesItself) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGreyA(7, 130)), 0u);
  EXPECT_EQ(image.Width(), 7);
  EXPECT_EQ(image.Height(), 130);
  EXPECT_EQ(image.StorageFormat(), keFormatGreyA);
  EXPECT_EQ(image.ViewFormat(), keFormatGreyA);
  EXPECT_EQ(image.AccessMode(), keAccessReadWrite);
  EXPECT_EQ(image.ChannelCode(), keChannelNone);
  EXPECT_EQ(image.Tag(), 0);
  for (int y : {0, 127, 128, 129}) {
    for (uint8_t b : ReadRow(image, y)) ASSERT_EQ(b, 0);
  }
}

TEST(CoreImageLifeCycle, StorageBlocksAreFreedWithTheLastSharer) {
  const size_t before = CMemAllocator::Instance().Statistics().liveBlocks;
  {
    CCoreImage a;
    ASSERT_EQ(Code(a.CreateBGRA(300, 300)), 0u);
    EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, before + 3);
    CCoreImage b;
    ASSERT_EQ(Code(b.ShareFrom(a)), 0u);
    CCoreImage c;
    ASSERT_EQ(Code(c.SubImage(a, 5, 5, 50, 200)), 0u);
    a.Reset();
    b.Reset();
    EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, before + 3);
    EXPECT_EQ(ReadRow(c, 150).size(), 45u * 4);
  }
  EXPECT_EQ(CMemAllocator::Instance().Statistics().liveBlocks, before);
}

// ---- CreateBGRA and friends -------------------------------------------------

TEST(CoreImageCreate, SameSizeBGRAIsOnlyFilledTransparentBlackByDefault) {
  CCoreImage image;
  const CColorRef red(255, 0, 0, 255);
  ASSERT_EQ(Code(image.CreateBGRA(8, 3, &red)), 0u);
  EXPECT_EQ(ReadRow(image, 2)[2], 255);
  EXPECT_EQ(ReadRow(image, 2)[3], 255);
  uint8_t* before = RowAddress(image, 1);
  ASSERT_EQ(Code(image.CreateBGRA(8, 3)), 0u);
  EXPECT_EQ(RowAddress(image, 1), before);  // same storage
  for (int y = 0; y < 3; ++y) {
    for (uint8_t b : ReadRow(image, y)) ASSERT_EQ(b, 0);
  }
  const CColorRef blue(0, 0, 255, 128);
  ASSERT_EQ(Code(image.CreateBGRA(8, 3, &blue)), 0u);
  EXPECT_EQ(RowAddress(image, 1), before);
  EXPECT_EQ(ReadRow(image, 0), (std::vector<uint8_t>{255, 0, 0, 128, 255, 0, 0, 128, 255, 0, 0, 128,
                                                    255, 0, 0, 128, 255, 0, 0, 128, 255, 0, 0, 128,
                                                    255, 0, 0, 128, 255, 0, 0, 128}));
}

TEST(CoreImageCreate, OtherSizeOrFormatMakesNewStorage) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(8, 3)), 0u);
  ASSERT_EQ(Code(image.CreateGrey(8, 3)), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatGrey);
  ASSERT_EQ(Code(image.CreateGrey(9, 3)), 0u);
  EXPECT_EQ(image.Width(), 9);
  // A view in the wanted format counts as the wanted format.
  ASSERT_EQ(Code(image.CreateBGRA(9, 3)), 0u);
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessReadWrite)), 0u);
  const CColorRef grey(200, 200, 200);
  ASSERT_EQ(Code(image.CreateGrey(9, 3, &grey)), 0u);
  EXPECT_EQ(image.StorageFormat(), keFormatBGRA);
  EXPECT_EQ(ReadRow(image, 0)[0], 200);
  ASSERT_EQ(Code(image.SetChannelView(keChannelNone, keAccessReadWrite)), 0u);
  EXPECT_EQ(ReadRow(image, 0)[3], 200);  // only alpha was filled
  EXPECT_EQ(ReadRow(image, 0)[0], 0);
}

TEST(CoreImageCreate, CreateLikeRepeatsFormatPaletteViewAndPlace) {
  const uint8_t palette[8] = {1, 2, 3, 0, 9, 8, 7, 0};
  CCoreImage indexed;
  ASSERT_EQ(Code(indexed.Create(20, 10, keFormatIndex8A, nullptr, palette, 2)), 0u);
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(indexed, 4, 3, 14, 9)), 0u);
  ASSERT_EQ(Code(window.SetChannelView(3, keAccessRead)), 0u);

  CCoreImage like;
  ASSERT_EQ(Code(like.CreateLike(window, keAccessReadWrite)), 0u);
  EXPECT_EQ(like.StorageFormat(), keFormatIndex8A);
  EXPECT_EQ(like.ViewFormat(), keFormatGrey);
  EXPECT_EQ(like.ChannelCode(), 3);
  EXPECT_EQ(like.AccessMode(), keAccessReadWrite);
  EXPECT_EQ(like.Rect().left, 4);
  EXPECT_EQ(like.Rect().top, 3);
  EXPECT_EQ(like.Width(), 10);
  EXPECT_EQ(like.Height(), 6);
  ASSERT_EQ(Code(like.SetChannelView(keChannelNone, keAccessReadWrite)), 0u);
  ASSERT_EQ(like.PaletteCount(), 2);
  EXPECT_EQ(std::memcmp(like.Palette(), palette, 8), 0);

  CCoreImage sized;
  ASSERT_EQ(Code(sized.CreateLike(3, 2, window, keAccessRead)), 0u);
  EXPECT_EQ(sized.Width(), 3);
  EXPECT_EQ(sized.Rect().right, 7);
}

// ---- Palettes ---------------------------------------------------------------

TEST(CoreImagePalette, DefaultsFollowTheIndexedFormat) {
  CCoreImage image;
  ASSERT_EQ(Code(image.Create(4, 4, keFormatIndex1, nullptr, nullptr, -1)), 0u);
  ASSERT_EQ(image.PaletteCount(), 2);
  EXPECT_EQ(std::vector<uint8_t>(image.Palette(), image.Palette() + 8),
            (std::vector<uint8_t>{0, 0, 0, 0, 255, 255, 255, 0}));

  ASSERT_EQ(Code(image.Create(4, 4, keFormatIndex4, nullptr, nullptr, -1)), 0u);
  ASSERT_EQ(image.PaletteCount(), 16);
  const uint8_t* p = image.Palette();
  EXPECT_EQ(std::vector<uint8_t>(p + 4 * 1, p + 4 * 2), (std::vector<uint8_t>{0, 0, 128, 0}));  // dark red
  EXPECT_EQ(std::vector<uint8_t>(p + 4 * 7, p + 4 * 8), (std::vector<uint8_t>{192, 192, 192, 0}));
  EXPECT_EQ(std::vector<uint8_t>(p + 4 * 12, p + 4 * 13), (std::vector<uint8_t>{255, 0, 0, 0}));  // blue

  ASSERT_EQ(Code(image.Create(4, 4, keFormatIndex8, nullptr, nullptr, -1)), 0u);
  ASSERT_EQ(image.PaletteCount(), 256);
  p = image.Palette();
  // Entry 43 = 1*36 + 1*6 + 1: blue 51, green 51, red 51.
  EXPECT_EQ(std::vector<uint8_t>(p + 4 * 43, p + 4 * 44), (std::vector<uint8_t>{51, 51, 51, 0}));
  EXPECT_EQ(std::vector<uint8_t>(p + 4 * 5, p + 4 * 6), (std::vector<uint8_t>{255, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(p + 4 * 215, p + 4 * 216), (std::vector<uint8_t>{255, 255, 255, 0}));
  for (int i = 216 * 4; i < 1024; ++i) ASSERT_EQ(p[i], 0);
}

TEST(CoreImagePalette, SuppliedPalettesAreCutOrPaddedAndGreyAnswersTheRamp) {
  std::vector<uint8_t> many(40 * 4, 77);
  CCoreImage image;
  ASSERT_EQ(Code(image.Create(4, 4, keFormatIndex4, nullptr, many.data(), 40)), 0u);
  EXPECT_EQ(image.PaletteCount(), 16);
  const uint8_t three[12] = {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0};
  ASSERT_EQ(Code(image.Create(4, 4, keFormatIndex8, nullptr, three, 3)), 0u);
  EXPECT_EQ(image.PaletteCount(), 3);
  EXPECT_EQ(image.Palette()[8], 3);
  for (int i = 12; i < 1024; ++i) ASSERT_EQ(image.Palette()[i], 0);

  ASSERT_EQ(Code(image.CreateGrey(4, 4)), 0u);
  EXPECT_EQ(image.PaletteCount(), 256);
  EXPECT_EQ(image.Palette()[4 * 200 + 1], 200);
  ASSERT_EQ(Code(image.CreateBGR(4, 4)), 0u);
  EXPECT_EQ(image.PaletteCount(), 0);
  EXPECT_EQ(image.Palette(), nullptr);
}

// ---- Row protocol ----------------------------------------------------------

TEST(CoreImageRows, GetRowChecksItsArguments) {
  CCoreImage image;
  uint8_t* row = nullptr;
  EXPECT_EQ(Code(image.GetRow(0, row)), 110u);
  ASSERT_EQ(Code(image.CreateBGRA(10, 4)), 0u);
  EXPECT_EQ(Code(image.GetRow(-1, row)), 101u);
  EXPECT_EQ(Code(image.GetRow(4, row)), 101u);
  EXPECT_EQ(Code(image.GetRow(0, -1, 3, row)), 101u);
  EXPECT_EQ(Code(image.GetRow(0, 8, 3, row)), 101u);
  EXPECT_EQ(Code(image.GetRow(0, 2, 0, row)), 101u);
  EXPECT_EQ(Code(image.GetRow(0, 10, -1, row)), 101u);
  ASSERT_EQ(Code(image.GetRow(3, 7, 3, row)), 0u);
  image.ReleaseRow(3);
  EXPECT_EQ(row, RowAddress(image, 3) + 7 * 4);
  image.ReleaseRow(99);  // ignored
}

TEST(CoreImageRows, HeldViewRowsKeepTheirSpan) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(10, 4)), 0u);
  ASSERT_EQ(Code(image.SetChannelView(1, keAccessReadWrite)), 0u);
  uint8_t* first = nullptr;
  uint8_t* again = nullptr;
  ASSERT_EQ(Code(image.GetRow(2, 3, 4, first)), 0u);
  ASSERT_EQ(Code(image.GetRow(2, 3, 4, again)), 0u);
  EXPECT_EQ(first, again);
  EXPECT_EQ(Code(image.GetRow(2, 4, 4, again)), 101u);
  EXPECT_EQ(Code(image.GetRow(2, 3, 5, again)), 101u);
  image.ReleaseRow(2);
  EXPECT_EQ(Code(image.GetRow(2, 0, 4, again)), 101u);  // still held once
  image.ReleaseRow(2);
  ASSERT_EQ(Code(image.GetRow(2, 0, 4, again)), 0u);
  image.ReleaseRow(2);
}

TEST(CoreImageRows, ViewRowsReuseOneSpareBuffer) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(64, 40)), 0u);
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessRead)), 0u);
  const uint64_t before = CCoreImage::RowBufferAllocations();
  uint8_t* first = nullptr;
  for (int y = 0; y < image.Height(); ++y) {
    uint8_t* row = nullptr;
    ASSERT_EQ(Code(image.GetRow(y, row)), 0u);
    if (y == 0) first = row;
    EXPECT_EQ(row, first);
    image.ReleaseRow(y);
  }
  EXPECT_EQ(CCoreImage::RowBufferAllocations() - before, 1u);

  // Two rows held at once need two buffers; the larger one is kept as spare.
  uint8_t* a = nullptr;
  uint8_t* b = nullptr;
  ASSERT_EQ(Code(image.GetRow(0, 0, 10, a)), 0u);  // takes the 64-pixel spare
  ASSERT_EQ(Code(image.GetRow(1, 0, 20, b)), 0u);  // new buffer
  EXPECT_EQ(CCoreImage::RowBufferAllocations() - before, 2u);
  image.ReleaseRow(1);
  image.ReleaseRow(0);
  uint8_t* c = nullptr;
  ASSERT_EQ(Code(image.GetRow(5, c)), 0u);  // the spare is only known to hold 20 pixels
  image.ReleaseRow(5);
  EXPECT_EQ(CCoreImage::RowBufferAllocations() - before, 3u);
  ASSERT_EQ(Code(image.GetRow(6, c)), 0u);
  image.ReleaseRow(6);
  EXPECT_EQ(CCoreImage::RowBufferAllocations() - before, 3u);
}

TEST(CoreImageRows, RowsWithoutViewNeverAllocate) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(64, 300)), 0u);
  const uint64_t before = CCoreImage::RowBufferAllocations();
  for (int y = 0; y < image.Height(); ++y) RowAddress(image, y);
  EXPECT_EQ(CCoreImage::RowBufferAllocations(), before);
  EXPECT_FALSE(image.HasRowCache());
}

// ---- Copies ------------------------------------------------------------------

TEST(CoreImageCopy, CopyFromIsDeepAndPlacedAtTheSourceCorner) {
  CCoreImage source;
  ASSERT_EQ(Code(source.CreateBGRA(200, 300)), 0u);
  FillPattern(source);
  CCoreImage copy;
  ASSERT_EQ(Code(copy.CopyFrom(source)), 0u);
  for (int y : {0, 127, 128, 299}) EXPECT_EQ(ReadRow(copy, y), ReadRow(source, y));
  EXPECT_NE(RowAddress(copy, 0), RowAddress(source, 0));
  RowAddress(source, 5)[0] ^= 0xFF;
  EXPECT_NE(ReadRow(copy, 5), ReadRow(source, 5));

  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(source, 3, 70, 150, 290)), 0u);
  ASSERT_EQ(Code(copy.CopyFrom(window)), 0u);
  EXPECT_EQ(copy.Rect().left, 3);
  EXPECT_EQ(copy.Rect().top, 70);
  EXPECT_EQ(copy.Width(), 147);
  EXPECT_EQ(copy.OriginX(), 0);
  for (int y = 0; y < copy.Height(); ++y) ASSERT_EQ(ReadRow(copy, y), ReadRow(window, y)) << y;
}

TEST(CoreImageCopy, CopyIntoLikeStorageOfItsOwnOverwritesItInPlace) {
  CCoreImage source;
  ASSERT_EQ(Code(source.CreateBGRA(130, 140)), 0u);
  FillPattern(source, 1);
  CCoreImage target;
  ASSERT_EQ(Code(target.CreateBGRA(130, 140)), 0u);
  FillPattern(target, 2);
  target.SetTag(5);
  uint8_t* before = RowAddress(target, 139);
  ASSERT_EQ(Code(target.CopyFrom(source)), 0u);
  EXPECT_EQ(RowAddress(target, 139), before);
  EXPECT_EQ(target.Tag(), 0);
  for (int y = 0; y < 140; ++y) ASSERT_EQ(ReadRow(target, y), ReadRow(source, y)) << y;
}

TEST(CoreImageCopy, CopyNeverWritesIntoStorageSharedWithOthers) {
  CCoreImage source;
  ASSERT_EQ(Code(source.CreateGrey(40, 10)), 0u);
  FillPattern(source, 1);
  CCoreImage target;
  ASSERT_EQ(Code(target.CreateGrey(40, 10)), 0u);
  FillPattern(target, 2);
  const std::vector<uint8_t> kept = ReadRow(target, 3);
  CCoreImage sharer;
  ASSERT_EQ(Code(sharer.ShareFrom(target)), 0u);
  ASSERT_EQ(Code(target.CopyFrom(source)), 0u);
  EXPECT_EQ(ReadRow(sharer, 3), kept);
  EXPECT_EQ(ReadRow(target, 3), ReadRow(source, 3));

  // A target with a view gets fresh storage without one.
  ASSERT_EQ(Code(target.SetViewFormat(keFormatGreyA, keAccessReadWrite)), 0u);
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(source, 0, 0, 40, 10)), 0u);
  ASSERT_EQ(Code(target.CopyFrom(window)), 0u);
  EXPECT_EQ(target.ViewFormat(), keFormatGrey);
  EXPECT_FALSE(target.HasRowCache());
  EXPECT_EQ(ReadRow(target, 9), ReadRow(source, 9));
}

TEST(CoreImageCopy, OwnStorageCopiesOnlyWhatIsShared) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(40, 300)), 0u);
  FillPattern(image, 1);
  image.SetTag(7);
  CStripInfo before;
  ASSERT_TRUE(image.GetStripInfo(0, before));
  EXPECT_FALSE(image.SharesStorage());
  ASSERT_EQ(Code(image.OwnStorage()), 0u);  // alone: kept as it is
  CStripInfo after;
  ASSERT_TRUE(image.GetStripInfo(0, after));
  EXPECT_EQ(after.blockAddress, before.blockAddress);

  CCoreImage snapshot;
  ASSERT_EQ(Code(snapshot.ShareFrom(image)), 0u);
  EXPECT_TRUE(image.SharesStorage());
  EXPECT_TRUE(snapshot.SharesStorage());
  const std::vector<uint8_t> kept = ReadRow(snapshot, 200);
  ASSERT_EQ(Code(image.OwnStorage()), 0u);
  EXPECT_FALSE(image.SharesStorage());
  EXPECT_FALSE(snapshot.SharesStorage());
  EXPECT_EQ(image.Tag(), 7);
  EXPECT_EQ(ReadRow(image, 200), kept);
  FillPattern(image, 2);
  EXPECT_EQ(ReadRow(snapshot, 200), kept);
  EXPECT_NE(ReadRow(image, 200), kept);

  // A view would be lost by the copy, so a shared image with one refuses.
  CCoreImage viewed;
  ASSERT_EQ(Code(viewed.ShareFrom(snapshot)), 0u);
  ASSERT_EQ(Code(viewed.SetViewFormat(keFormatGreyA, keAccessRead)), 0u);
  EXPECT_EQ(Code(viewed.OwnStorage()), 101u);
}

TEST(CoreImageCopy, ASnapshotSharesPlainStorageAndCopiesAView) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(30, 200)), 0u);
  FillPattern(image, 4);
  image.SetTag(9);
  CCoreImage snapshot;
  ASSERT_EQ(Code(snapshot.SnapshotFrom(image)), 0u);
  EXPECT_EQ(snapshot.StorageId(), image.StorageId());
  EXPECT_EQ(snapshot.Tag(), 0);  // as on a copy
  const std::vector<uint8_t> kept = ReadRow(snapshot, 150);
  // Whoever writes first takes its own storage: the other keeps the pixels.
  ASSERT_EQ(Code(snapshot.OwnStorage()), 0u);
  FillPattern(snapshot, 5);
  EXPECT_EQ(ReadRow(image, 150), kept);
  EXPECT_NE(ReadRow(snapshot, 150), kept);

  // Seen through a view, the snapshot is what CopyFrom gives: the view's
  // pixels in storage of its own.
  CCoreImage alphaView;
  alphaView.AssignFrom(image);
  ASSERT_EQ(Code(alphaView.SetChannelView(3, keAccessRead)), 0u);
  CCoreImage alpha;
  ASSERT_EQ(Code(alpha.SnapshotFrom(alphaView)), 0u);
  CCoreImage copied;
  ASSERT_EQ(Code(copied.CopyFrom(alphaView)), 0u);
  EXPECT_NE(alpha.StorageId(), image.StorageId());
  EXPECT_EQ(alpha.ViewFormat(), keFormatGrey);
  EXPECT_EQ(ReadRow(alpha, 150), ReadRow(copied, 150));

  // Nothing to share fails as a copy does.
  CCoreImage empty;
  EXPECT_EQ(Code(snapshot.SnapshotFrom(empty)), 101u);
}

// Images sharing storage are read on two threads at once (a run's snapshot
// and the editor taking its own copy): each copy is whole and the storage
// survives both.
TEST(CoreImageThreads, SharedStorageCanBeCopiedOnTwoThreadsAtOnce) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(64, 1000)), 0u);
  FillPattern(image, 3);
  CCoreImage left;
  CCoreImage right;
  ASSERT_EQ(Code(left.ShareFrom(image)), 0u);
  ASSERT_EQ(Code(right.ShareFrom(image)), 0u);
  CCoreImage leftCopy;
  CCoreImage rightCopy;
  std::thread other([&] {
    for (int i = 0; i < 20; ++i) {
      leftCopy.Reset();
      Code(leftCopy.CopyFrom(left));
    }
  });
  for (int i = 0; i < 20; ++i) {
    rightCopy.Reset();
    Code(rightCopy.CopyFrom(right));
  }
  other.join();
  for (int y : {0, 500, 999}) {
    EXPECT_EQ(ReadRow(leftCopy, y), ReadRow(image, y));
    EXPECT_EQ(ReadRow(rightCopy, y), ReadRow(image, y));
  }
  left.Reset();
  right.Reset();
  EXPECT_FALSE(image.SharesStorage());
}

TEST(CoreImageCopy, CopyFromTakesTheSourceViewFormat) {
  CCoreImage source;
  ASSERT_EQ(Code(source.CreateBGRA(5, 2)), 0u);
  FillPattern(source);
  const std::vector<uint8_t> colour = ReadRow(source, 1);
  ASSERT_EQ(Code(source.SetChannelView(3, keAccessRead)), 0u);
  CCoreImage alpha;
  ASSERT_EQ(Code(alpha.CopyFrom(source)), 0u);
  EXPECT_EQ(alpha.StorageFormat(), keFormatGrey);
  EXPECT_EQ(alpha.ViewFormat(), keFormatGrey);
  const std::vector<uint8_t> row = ReadRow(alpha, 1);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(row[x], colour[4 * x + 3]);
}

// A copy through a read-only view converts rows straight into place, in
// bands; it must hand over what the view's rows show, window and held rows
// included.
TEST(CoreImageCopy, ACopyThroughAReadOnlyViewHasTheViewsRowsInAnyBands) {
  CCoreImage bgra;
  ASSERT_EQ(Code(bgra.CreateBGRA(37, 300)), 0u);
  FillPattern(bgra, 6);
  CCoreImage indexed;
  ASSERT_EQ(Code(indexed.Create(29, 260, keFormatIndex8, nullptr, nullptr, -1)), 0u);
  FillPattern(indexed, 7);
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(bgra, 5, 40, 30, 290)), 0u);

  struct CViewCase {
    CCoreImage* storage;
    keFormat format;
    int channel;
  };
  const CViewCase cases[] = {{&bgra, keFormatNone, keChannelColour},
                             {&bgra, keFormatNone, 3},
                             {&bgra, keFormatGreyA, keChannelNone},
                             {&bgra, keFormatBGRxA, keChannelNone},
                             {&indexed, keFormatBGRA, keChannelNone},
                             {&window, keFormatNone, keChannelColour}};
  for (int bands : {1, 3, 7}) {
    SetBandsForTesting(bands);
    for (const CViewCase& c : cases) {
      CCoreImage view;
      view.AssignFrom(*c.storage);
      if (c.channel != keChannelNone) {
        ASSERT_EQ(Code(view.SetChannelView(c.channel, keAccessRead)), 0u);
      } else {
        ASSERT_EQ(Code(view.SetViewFormat(c.format, keAccessRead)), 0u);
      }
      CCoreImage copy;
      ASSERT_EQ(Code(copy.CopyFrom(view)), 0u);
      ASSERT_EQ(copy.Height(), view.Height());
      for (int y = 0; y < view.Height(); ++y) {
        ASSERT_EQ(ReadRow(copy, y), ReadRow(view, y)) << "bands " << bands << ", row " << y;
      }
    }
  }
  SetBandsForTesting(0);

  // A row held in the view's cache is copied as it stands there.
  CCoreImage view;
  view.AssignFrom(bgra);
  ASSERT_EQ(Code(view.SetChannelView(keChannelColour, keAccessRead)), 0u);
  uint8_t* held = nullptr;
  ASSERT_EQ(Code(view.GetRow(10, held)), 0u);
  std::memset(held, 0xAB, 3 * 37);
  CCoreImage copy;
  ASSERT_EQ(Code(copy.CopyFrom(view)), 0u);
  view.ReleaseRow(10);
  EXPECT_EQ(ReadRow(copy, 10), std::vector<uint8_t>(3 * 37, 0xAB));
  EXPECT_EQ(ReadRow(copy, 11), ReadRow(view, 11));
}

TEST(CoreImageCopy, CopyOfSubByteSubImageShiftsTheBits) {
  CCoreImage bits;
  ASSERT_EQ(Code(bits.Create(20, 2, keFormatIndex1, nullptr, nullptr, -1)), 0u);
  WriteRow(bits, 0, {0b10110011, 0b01011100, 0b11110000});
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(bits, 3, 0, 14, 2)), 0u);
  CCoreImage copy;
  ASSERT_EQ(Code(copy.CopyFrom(window)), 0u);
  // Pixels 3..13 of 1011 0011 0101 1100: 1001 1010 111.
  const std::vector<uint8_t> row = ReadRow(copy, 0);
  EXPECT_EQ(row[0], 0b10011010);
  EXPECT_EQ(row[1] & 0xE0, 0b11100000);
}

TEST(CoreImageCopy, CopyFromItselfOrFromNothing) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateGrey(4, 4)), 0u);
  uint8_t* row = RowAddress(image, 0);
  EXPECT_EQ(Code(image.CopyFrom(image)), 0u);
  EXPECT_EQ(RowAddress(image, 0), row);
  CCoreImage empty;
  EXPECT_EQ(Code(image.CopyFrom(empty)), 101u);
  EXPECT_FALSE(image.HasStorage());
}

TEST(CoreImageCopy, SharesSeeEachOthersPixels) {
  CCoreImage a;
  ASSERT_EQ(Code(a.CreateGrey(6, 6)), 0u);
  a.SetTag(42);
  CCoreImage shared;
  ASSERT_EQ(Code(shared.ShareFrom(a)), 0u);
  EXPECT_EQ(shared.Tag(), 0);  // ShareFrom leaves the tag word alone
  RowAddress(shared, 2)[3] = 99;
  EXPECT_EQ(ReadRow(a, 2)[3], 99);
  CCoreImage indexed;
  ASSERT_EQ(Code(indexed.Create(3, 3, keFormatIndex8, nullptr, nullptr, -1)), 0u);
  ASSERT_EQ(Code(shared.ShareFrom(indexed)), 0u);
  EXPECT_EQ(shared.Palette(), indexed.Palette());

  CCoreImage assigned(a);
  EXPECT_EQ(assigned.Tag(), 42);
  EXPECT_EQ(RowAddress(assigned, 2), RowAddress(a, 2));
  CCoreImage empty;
  assigned = empty;
  EXPECT_FALSE(assigned.HasStorage());
}

TEST(CoreImageCopy, AssignFromRepeatsTheView) {
  CCoreImage a;
  ASSERT_EQ(Code(a.CreateBGR(6, 6)), 0u);
  ASSERT_EQ(Code(a.SetViewFormat(keFormatGreyA, keAccessRead)), 0u);
  CCoreImage b;
  b.AssignFrom(a);
  EXPECT_EQ(b.ViewFormat(), keFormatGreyA);
  EXPECT_EQ(b.AccessMode(), keAccessRead);
  ASSERT_EQ(Code(a.SetViewFormat(keFormatNone, keAccessReadWrite)), 0u);
  ASSERT_EQ(Code(a.SetChannelView(2, keAccessWrite)), 0u);
  b.AssignFrom(a);
  EXPECT_EQ(b.ChannelCode(), 2);
  EXPECT_EQ(b.ChannelOffset(), 2);
  EXPECT_EQ(b.AccessMode(), keAccessWrite);
}

TEST(CoreImageCopy, TakeFromMovesTheStorage) {
  CCoreImage a;
  ASSERT_EQ(Code(a.CreateGrey(6, 6)), 0u);
  ASSERT_EQ(Code(a.SetChannelView(4, keAccessReadWrite)), 0u);
  uint8_t* row = RowAddress(a, 1);
  CCoreImage b;
  b.TakeFrom(a);
  EXPECT_FALSE(a.HasStorage());
  EXPECT_EQ(RowAddress(b, 1), row);
  EXPECT_EQ(b.ChannelCode(), keChannelNone);
}

TEST(CoreImageCopy, TakeFromWritesHeldViewRowsBack) {
  CCoreImage a;
  ASSERT_EQ(Code(a.CreateBGRA(4, 2)), 0u);
  ASSERT_EQ(Code(a.SetChannelView(3, keAccessReadWrite)), 0u);
  uint8_t* alpha = nullptr;
  ASSERT_EQ(Code(a.GetRow(1, alpha)), 0u);
  alpha[2] = 77;
  CCoreImage b;
  b.TakeFrom(a);
  EXPECT_EQ(ReadRow(b, 1)[2 * 4 + 3], 77);
}

TEST(CoreImageCopy, SubImageCoordinatesAreTheSourcesOwn) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(100, 300)), 0u);
  CCoreImage sub;
  ASSERT_EQ(Code(sub.SubImage(image, 10, 120, 60, 250)), 0u);
  EXPECT_EQ(sub.Width(), 50);
  EXPECT_EQ(sub.Height(), 130);
  EXPECT_EQ(sub.OriginX(), 10);
  EXPECT_EQ(sub.OriginY(), 120);
  EXPECT_EQ(RowAddress(sub, 10), RowAddress(image, 130) + 40);

  CCoreImage inner;
  ASSERT_EQ(Code(inner.SubImage(sub, 20, 130, 30, 140)), 0u);
  EXPECT_EQ(inner.Rect().left, 20);
  EXPECT_EQ(inner.OriginX(), 20);
  EXPECT_EQ(inner.OriginY(), 130);
  EXPECT_EQ(RowAddress(inner, 0), RowAddress(image, 130) + 80);

  EXPECT_EQ(Code(inner.SubImage(sub, 5, 130, 30, 140)), 101u);
  EXPECT_EQ(Code(inner.SubImage(sub, 20, 130, 61, 140)), 101u);
  EXPECT_EQ(Code(inner.SubImage(sub, 20, 130, 20, 140)), 101u);
}

// ---- Fill --------------------------------------------------------------------

TEST(CoreImageFill, EveryByteFormatTakesTheColourItsWay) {
  const CColorRef colour(10, 20, 30, 40);
  const uint8_t grey = Luminance(10, 20, 30);
  struct Case {
    keFormat format;
    std::vector<uint8_t> pixel;
  };
  const std::vector<Case> cases = {
      {keFormatGrey, {grey}},
      {keFormatGreyA, {grey, 40}},
      {keFormatBGR, {30, 20, 10}},
      {keFormatBGRA, {30, 20, 10, 40}},
      {keFormatBGRxA, {30, 20, 10, 40}},
      {keFormatGrey_u16, {static_cast<uint8_t>(((77 * 2570 + 151 * 5140 + 28 * 7710) >> 8) & 0xFF),
                          static_cast<uint8_t>(((77 * 2570 + 151 * 5140 + 28 * 7710) >> 8) >> 8)}},
      {keFormatBGR_u16, {0x1E, 0x1E, 0x14, 0x14, 0x0A, 0x0A}},
      {keFormatBGRA_u16, {0x1E, 0x1E, 0x14, 0x14, 0x0A, 0x0A, 0x28, 0x28}},
  };
  for (const Case& c : cases) {
    CCoreImage image;
    ASSERT_EQ(Code(image.Create(3, 130, c.format, &colour, nullptr, -1)), 0u) << c.format;
    for (int y : {0, 129}) {
      const std::vector<uint8_t> row = ReadRow(image, y);
      for (int x = 0; x < 3; ++x) {
        ASSERT_EQ(std::vector<uint8_t>(row.begin() + x * c.pixel.size(),
                                       row.begin() + (x + 1) * c.pixel.size()),
                  c.pixel)
            << FormatName(c.format) << " row " << y << " pixel " << x;
      }
    }
  }
}

TEST(CoreImageFill, IndexedFormatsTakeTheNearestOrRememberedIndex) {
  CCoreImage image;
  const CColorRef nearWhite(250, 250, 240);
  ASSERT_EQ(Code(image.Create(4, 2, keFormatIndex8A, nullptr, nullptr, -1)), 0u);
  ASSERT_EQ(Code(image.Fill(CColorRef(250, 250, 240, 9))), 0u);
  EXPECT_EQ(ReadRow(image, 1), (std::vector<uint8_t>{215, 9, 215, 9, 215, 9, 215, 9}));
  const CColorRef indexed = CColorRef::FromPaletteIndex(12, image.PaletteCount(), image.Palette());
  ASSERT_EQ(Code(image.Fill(indexed)), 0u);
  EXPECT_EQ(ReadRow(image, 0)[0], 12);

  ASSERT_EQ(Code(image.Create(3, 1, keFormatIndex4, &nearWhite, nullptr, -1)), 0u);
  EXPECT_EQ(ReadRow(image, 0)[0], 0xFF);
  EXPECT_EQ(ReadRow(image, 0)[1] & 0xF0, 0xF0);
}

TEST(CoreImageFill, OneBitFillMasksPartialBytes) {
  CCoreImage image;
  ASSERT_EQ(Code(image.Create(24, 3, keFormatIndex1, nullptr, nullptr, -1)), 0u);
  for (int y = 0; y < 3; ++y) WriteRow(image, y, {0xAA, 0xAA, 0xAA});
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(image, 3, 1, 13, 3)), 0u);
  ASSERT_EQ(Code(window.Fill(CColorRef(255, 255, 255))), 0u);
  EXPECT_EQ(ReadRow(image, 0), (std::vector<uint8_t>{0xAA, 0xAA, 0xAA}));
  // Bits 3..12 set, every other bit as it was.
  EXPECT_EQ(ReadRow(image, 1), (std::vector<uint8_t>{0xBF, 0xFA, 0xAA}));
  EXPECT_EQ(ReadRow(image, 2), (std::vector<uint8_t>{0xBF, 0xFA, 0xAA}));
  // Within one byte: bits 1..2 cleared.
  ASSERT_EQ(Code(window.SubImage(image, 1, 0, 3, 1)), 0u);
  ASSERT_EQ(Code(window.Fill(CColorRef(0, 0, 0))), 0u);
  EXPECT_EQ(ReadRow(image, 0)[0], 0x8A);
}

TEST(CoreImageFill, FourBitFillKeepsTheOtherNibble) {
  CCoreImage image;
  ASSERT_EQ(Code(image.Create(6, 1, keFormatIndex4, nullptr, nullptr, -1)), 0u);
  WriteRow(image, 0, {0x12, 0x34, 0x56});
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(image, 1, 0, 4, 1)), 0u);
  ASSERT_EQ(Code(window.Fill(CColorRef::FromPaletteIndex(9, 16, image.Palette()))), 0u);
  EXPECT_EQ(ReadRow(image, 0), (std::vector<uint8_t>{0x19, 0x99, 0x56}));
}

TEST(CoreImageFill, InvalidColourAndEmptyImageFail) {
  CCoreImage image;
  EXPECT_EQ(Code(image.Fill(CColorRef(1, 2, 3))), 110u);
  ASSERT_EQ(Code(image.CreateBGRA(2, 2)), 0u);
  EXPECT_EQ(Code(image.Fill(CColorRef())), 101u);
  const CColorRef invalid;
  EXPECT_EQ(Code(image.CreateBGRA(3, 3, &invalid)), 101u);
  // The 16-bit premultiplied format is not filled at all.
  ASSERT_EQ(Code(image.Create(2, 2, keFormatBGRxA_u16, nullptr, nullptr, -1)), 0u);
  EXPECT_EQ(Code(image.Fill(CColorRef(1, 2, 3))), 0u);
  for (uint8_t b : ReadRow(image, 1)) EXPECT_EQ(b, 0);
}

TEST(CoreImageFill, FillThroughAChannelViewTouchesOnlyThatChannel) {
  CCoreImage image;
  const CColorRef colour(1, 2, 3, 4);
  ASSERT_EQ(Code(image.CreateBGRA(3, 200, &colour)), 0u);
  ASSERT_EQ(Code(image.SetChannelView(1, keAccessReadWrite)), 0u);
  ASSERT_EQ(Code(image.Fill(CColorRef(90, 90, 90))), 0u);
  ASSERT_EQ(Code(image.SetChannelView(keChannelNone, keAccessReadWrite)), 0u);
  EXPECT_EQ(ReadRow(image, 199), (std::vector<uint8_t>{3, 90, 1, 4, 3, 90, 1, 4, 3, 90, 1, 4}));
}
