#include <gtest/gtest.h>

#include <vector>

#include "ImageTestUtil.h"
#include "imagecore/AlphaConversion.h"
#include "imagecore/ColorRef.h"
#include "imagecore/CoreImage.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A one-row image of `format` holding `pixels`, read back through a view.
CCoreImage OneRow(keFormat format, int width, const Bytes& pixels, const uint8_t* palette = nullptr,
                  int paletteCount = -1) {
  CCoreImage image;
  CoreResult result = image.Create(width, 1, format, nullptr, palette, paletteCount);
  EXPECT_EQ(ExamineResult(result), 0u);
  WriteRow(image, 0, pixels);
  return image;
}

Bytes StorageRow(CCoreImage& image) {
  CCoreImage plain;
  CoreResult result = plain.ShareFrom(image);
  EXPECT_EQ(ExamineResult(result), 0u);
  return ReadRow(plain, 0);
}

struct RoundTrip {
  keFormat storage;
  keFormat view;
  Bytes stored;    // two pixels in the storage format
  Bytes loaded;    // what the view reads
  Bytes written;   // what is written through the view
  Bytes restored;  // what the storage then holds
};

}  // namespace

// Every pair with a store converter, read and written back through mode 2.
TEST(ImageViews, FormatViewsReadAndWriteBack) {
  const uint8_t l1 = Luminance(30, 20, 10);  // red 30, green 20, blue 10
  const uint8_t l2 = Luminance(200, 100, 50);
  const std::vector<RoundTrip> cases = {
      {keFormatIndex8, keFormatIndex8A, {7, 9}, {7, 255, 9, 255}, {3, 0, 4, 1}, {3, 4}},
      {keFormatIndex8A, keFormatIndex8, {7, 50, 9, 60}, {7, 9}, {1, 2}, {1, 255, 2, 255}},
      {keFormatGrey, keFormatGreyA, {5, 6}, {5, 255, 6, 255}, {8, 1, 9, 2}, {8, 9}},
      {keFormatGrey, keFormatBGR, {5, 6}, {5, 5, 5, 6, 6, 6}, {10, 20, 30, 50, 100, 200}, {l1, l2}},
      {keFormatGrey, keFormatBGRA, {5, 6}, {5, 5, 5, 255, 6, 6, 6, 255}, {10, 20, 30, 0, 50, 100, 200, 7},
       {l1, l2}},
      {keFormatGreyA, keFormatBGRA, {5, 1, 6, 2}, {5, 5, 5, 1, 6, 6, 6, 2},
       {10, 20, 30, 3, 50, 100, 200, 4}, {l1, 3, l2, 4}},
      {keFormatBGR, keFormatGrey, {10, 20, 30, 50, 100, 200}, {l1, l2}, {4, 5}, {4, 4, 4, 5, 5, 5}},
      {keFormatBGR, keFormatGreyA, {10, 20, 30, 50, 100, 200}, {l1, 255, l2, 255}, {4, 0, 5, 0},
       {4, 4, 4, 5, 5, 5}},
      {keFormatBGR, keFormatBGRA, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 255, 4, 5, 6, 255}, {7, 8, 9, 0, 1, 1, 1, 0},
       {7, 8, 9, 1, 1, 1}},
      {keFormatBGRA, keFormatGreyA, {10, 20, 30, 40, 50, 100, 200, 60}, {l1, 40, l2, 60}, {4, 1, 5, 2},
       {4, 4, 4, 1, 5, 5, 5, 2}},
      {keFormatBGRA, keFormatBGR, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 5, 6, 7}, {9, 9, 9, 8, 8, 8},
       {9, 9, 9, 255, 8, 8, 8, 255}},
      {keFormatBGRA, keFormatBGRxA, {200, 100, 50, 128, 9, 9, 9, 0}, {100, 50, 25, 128, 0, 0, 0, 0},
       {100, 50, 25, 128, 10, 10, 10, 255}, {199, 100, 50, 128, 10, 10, 10, 255}},
      {keFormatBGRxA, keFormatBGRA, {100, 50, 25, 128, 7, 7, 7, 0}, {199, 100, 50, 128, 0, 0, 0, 0},
       {200, 100, 50, 128, 10, 10, 10, 255}, {100, 50, 25, 128, 10, 10, 10, 255}},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(std::string(FormatName(c.storage)) + " as " + FormatName(c.view));
    CCoreImage image = OneRow(c.storage, 2, c.stored);
    ASSERT_EQ(Code(image.SetViewFormat(c.view, keAccessReadWrite)), 0u);
    EXPECT_EQ(image.ViewFormat(), c.view);
    EXPECT_EQ(image.StorageFormat(), c.storage);
    EXPECT_EQ(ReadRow(image, 0), c.loaded);
    WriteRow(image, 0, c.written);
    EXPECT_EQ(StorageRow(image), c.restored);
  }
}

TEST(ImageViews, SubByteIndicesUnpackAndPackInPlace) {
  CCoreImage bits = OneRow(keFormatIndex1, 20, {0b10110010, 0b01000000, 0b10100000});
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(bits, 3, 0, 11, 1)), 0u);
  ASSERT_EQ(Code(window.SetViewFormat(keFormatIndex8, keAccessReadWrite)), 0u);
  EXPECT_EQ(ReadRow(window, 0), (Bytes{1, 0, 0, 1, 0, 0, 1, 0}));
  WriteRow(window, 0, {0, 1, 1, 0, 1, 1, 0, 1});
  // Pixels 0..2 and 11.. keep their bits.
  EXPECT_EQ(StorageRow(bits), (Bytes{0b10101101, 0b10100000, 0b10100000}));

  CCoreImage nibbles = OneRow(keFormatIndex4, 5, {0x12, 0x34, 0x50});
  ASSERT_EQ(Code(window.SubImage(nibbles, 1, 0, 4, 1)), 0u);
  ASSERT_EQ(Code(window.SetViewFormat(keFormatIndex8, keAccessReadWrite)), 0u);
  EXPECT_EQ(ReadRow(window, 0), (Bytes{2, 3, 4}));
  WriteRow(window, 0, {0xA, 0xB, 0xC});
  EXPECT_EQ(StorageRow(nibbles), (Bytes{0x1A, 0xBC, 0x50}));
}

TEST(ImageViews, PaletteViewsAreReadOnly) {
  CCoreImage indexed = OneRow(keFormatIndex8, 2, {5, 43});
  EXPECT_EQ(Code(indexed.SetViewFormat(keFormatBGR, keAccessReadWrite)), 101u);
  EXPECT_EQ(Code(indexed.SetViewFormat(keFormatBGR, keAccessWrite)), 101u);
  EXPECT_EQ(indexed.ViewFormat(), keFormatIndex8);
  ASSERT_EQ(Code(indexed.SetViewFormat(keFormatBGR, keAccessRead)), 0u);
  EXPECT_EQ(ReadRow(indexed, 0), (Bytes{255, 0, 0, 51, 51, 51}));
  ASSERT_EQ(Code(indexed.SetViewFormat(keFormatBGRA, keAccessRead)), 0u);
  EXPECT_EQ(ReadRow(indexed, 0), (Bytes{255, 0, 0, 255, 51, 51, 51, 255}));

  CCoreImage bits = OneRow(keFormatIndex1, 3, {0b01000000});
  ASSERT_EQ(Code(bits.SetViewFormat(keFormatBGR, keAccessRead)), 0u);
  EXPECT_EQ(ReadRow(bits, 0), (Bytes{0, 0, 0, 255, 255, 255, 0, 0, 0}));

  CCoreImage nibbles = OneRow(keFormatIndex4, 2, {0x9C});
  ASSERT_EQ(Code(nibbles.SetViewFormat(keFormatBGRA, keAccessRead)), 0u);
  EXPECT_EQ(ReadRow(nibbles, 0), (Bytes{0, 0, 255, 255, 255, 0, 0, 255}));

  CCoreImage withAlpha = OneRow(keFormatIndex8A, 1, {5, 77});
  EXPECT_EQ(Code(withAlpha.SetViewFormat(keFormatBGRA, keAccessReadWrite)), 101u);
  ASSERT_EQ(Code(withAlpha.SetViewFormat(keFormatBGRA, keAccessRead)), 0u);
  EXPECT_EQ(ReadRow(withAlpha, 0), (Bytes{255, 0, 0, 77}));

  // Writing into a read view's row never reaches the storage.
  WriteRow(withAlpha, 0, {1, 2, 3, 4});
  EXPECT_EQ(StorageRow(withAlpha), (Bytes{5, 77}));
}

TEST(ImageViews, UnlistedPairsAndModesAreRefused) {
  CCoreImage grey = OneRow(keFormatGrey, 2, {1, 2});
  EXPECT_EQ(Code(grey.SetViewFormat(keFormatIndex8, keAccessRead)), 101u);
  EXPECT_EQ(Code(grey.SetViewFormat(keFormatBGR_u16, keAccessRead)), 101u);
  EXPECT_EQ(Code(grey.SetViewFormat(keFormatGreyA, 3)), 101u);
  ASSERT_EQ(Code(grey.SetViewFormat(keFormatGreyA, keAccessRead)), 0u);
  // A refused change leaves the current view.
  EXPECT_EQ(Code(grey.SetViewFormat(keFormatBGRxA, keAccessRead)), 101u);
  EXPECT_EQ(grey.ViewFormat(), keFormatGreyA);
  EXPECT_EQ(grey.AccessMode(), keAccessRead);
  CCoreImage empty;
  EXPECT_EQ(Code(empty.SetViewFormat(keFormatGreyA, keAccessRead)), 110u);
  EXPECT_EQ(Code(empty.SetChannelView(3, keAccessRead)), 110u);
}

TEST(ImageViews, WriteModeSkipsLoadingAndStorageFormatRemovesTheView) {
  CCoreImage image = OneRow(keFormatBGR, 2, {1, 2, 3, 4, 5, 6});
  ASSERT_EQ(Code(image.SetViewFormat(keFormatBGRA, keAccessWrite)), 0u);
  EXPECT_EQ(ReadRow(image, 0), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));  // a fresh buffer, not loaded
  EXPECT_EQ(StorageRow(image), (Bytes{0, 0, 0, 0, 0, 0}));        // and stored on release
  WriteRow(image, 0, {7, 8, 9, 0, 1, 2, 3, 0});
  EXPECT_EQ(StorageRow(image), (Bytes{7, 8, 9, 1, 2, 3}));
  ASSERT_EQ(Code(image.SetViewFormat(keFormatNone, keAccessReadWrite)), 0u);
  EXPECT_EQ(image.ViewFormat(), keFormatBGR);
  EXPECT_FALSE(image.HasRowCache());
  ASSERT_EQ(Code(image.SetViewFormat(keFormatGrey, keAccessRead)), 0u);
  ASSERT_EQ(Code(image.SetViewFormat(keFormatBGR, keAccessReadWrite)), 0u);
  EXPECT_FALSE(image.HasRowCache());
}

TEST(ImageViews, HeldRowsAreWrittenBackWhenTheViewChanges) {
  CCoreImage image = OneRow(keFormatBGRA, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  CCoreImage other;
  ASSERT_EQ(Code(other.ShareFrom(image)), 0u);
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessReadWrite)), 0u);
  uint8_t* alpha = nullptr;
  ASSERT_EQ(Code(image.GetRow(0, alpha)), 0u);
  alpha[1] = 99;
  ASSERT_EQ(Code(image.SetChannelView(0, keAccessReadWrite)), 0u);
  EXPECT_EQ(ReadRow(other, 0), (Bytes{1, 2, 3, 4, 5, 6, 7, 99}));

  uint8_t* blue = nullptr;
  ASSERT_EQ(Code(image.GetRow(0, blue)), 0u);
  blue[0] = 42;
  image.Reset();  // the other sharer keeps the storage and sees the row
  EXPECT_EQ(ReadRow(other, 0), (Bytes{42, 2, 3, 4, 5, 6, 7, 99}));
}

// ---- Channel views ----------------------------------------------------------------

TEST(ImageViews, AlphaChannelViewEditsOnlyAlpha) {
  CCoreImage image = OneRow(keFormatBGRA, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessReadWrite)), 0u);
  EXPECT_EQ(image.ViewFormat(), keFormatGrey);
  EXPECT_EQ(image.ChannelCode(), 3);
  EXPECT_EQ(image.ChannelOffset(), 3);
  EXPECT_EQ(ReadRow(image, 0), (Bytes{4, 8, 12}));
  WriteRow(image, 0, {40, 80, 120});
  EXPECT_EQ(StorageRow(image), (Bytes{1, 2, 3, 40, 5, 6, 7, 80, 9, 10, 11, 120}));
}

TEST(ImageViews, EveryExtractingChannelView) {
  struct Case {
    keFormat storage;
    int code;
    Bytes stored;
    keFormat view;
    Bytes loaded;
    Bytes restored;  // after writing 100, 101
  };
  const std::vector<Case> cases = {
      {keFormatIndex8A, 5, {1, 2, 3, 4}, keFormatIndex8, {1, 3}, {100, 2, 101, 4}},
      {keFormatIndex8A, 3, {1, 2, 3, 4}, keFormatGrey, {2, 4}, {1, 100, 3, 101}},
      {keFormatGreyA, 3, {1, 2, 3, 4}, keFormatGrey, {2, 4}, {1, 100, 3, 101}},
      {keFormatGreyA, 4, {1, 2, 3, 4}, keFormatGrey, {1, 3}, {100, 2, 101, 4}},
      {keFormatBGR, 0, {1, 2, 3, 4, 5, 6}, keFormatGrey, {1, 4}, {100, 2, 3, 101, 5, 6}},
      {keFormatBGR, 1, {1, 2, 3, 4, 5, 6}, keFormatGrey, {2, 5}, {1, 100, 3, 4, 101, 6}},
      {keFormatBGR, 2, {1, 2, 3, 4, 5, 6}, keFormatGrey, {3, 6}, {1, 2, 100, 4, 5, 101}},
      {keFormatBGRA, 0, {1, 2, 3, 4, 5, 6, 7, 8}, keFormatGrey, {1, 5}, {100, 2, 3, 4, 101, 6, 7, 8}},
      {keFormatBGRA, 1, {1, 2, 3, 4, 5, 6, 7, 8}, keFormatGrey, {2, 6}, {1, 100, 3, 4, 5, 101, 7, 8}},
      {keFormatBGRA, 2, {1, 2, 3, 4, 5, 6, 7, 8}, keFormatGrey, {3, 7}, {1, 2, 100, 4, 5, 6, 101, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(FormatName(c.storage)) + " channel " + std::to_string(c.code));
    CCoreImage image = OneRow(c.storage, 2, c.stored);
    ASSERT_EQ(Code(image.SetChannelView(c.code, keAccessReadWrite)), 0u);
    EXPECT_EQ(image.ViewFormat(), c.view);
    EXPECT_EQ(ReadRow(image, 0), c.loaded);
    WriteRow(image, 0, {100, 101});
    EXPECT_EQ(StorageRow(image), c.restored);
  }
}

TEST(ImageViews, ColourChannelOfBGRAKeepsStoredAlpha) {
  CCoreImage image = OneRow(keFormatBGRA, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(Code(image.SetChannelView(keChannelColour, keAccessReadWrite)), 0u);
  EXPECT_EQ(image.ViewFormat(), keFormatBGR);
  EXPECT_EQ(ReadRow(image, 0), (Bytes{1, 2, 3, 5, 6, 7}));
  WriteRow(image, 0, {9, 9, 9, 7, 7, 7});
  EXPECT_EQ(StorageRow(image), (Bytes{9, 9, 9, 4, 7, 7, 7, 8}));
}

TEST(ImageViews, IdentityChannelViewsNeedNoConverters) {
  CCoreImage grey = OneRow(keFormatGrey, 2, {1, 2});
  ASSERT_EQ(Code(grey.SetChannelView(4, keAccessRead)), 0u);
  EXPECT_EQ(grey.ChannelCode(), 4);
  EXPECT_EQ(grey.ViewFormat(), keFormatGrey);
  EXPECT_FALSE(grey.HasRowCache());
  CCoreImage indexed = OneRow(keFormatIndex8, 2, {1, 2});
  EXPECT_EQ(Code(indexed.SetChannelView(5, keAccessRead)), 0u);
  EXPECT_FALSE(indexed.HasRowCache());
  CCoreImage colour = OneRow(keFormatBGR, 1, {1, 2, 3});
  EXPECT_EQ(Code(colour.SetChannelView(keChannelColour, keAccessReadWrite)), 0u);
  EXPECT_FALSE(colour.HasRowCache());
  // With a channel view on, a different format is refused; the storage
  // format keeps the channel view.
  EXPECT_EQ(Code(colour.SetViewFormat(keFormatBGRA, keAccessReadWrite)), 101u);
  EXPECT_EQ(Code(colour.SetViewFormat(keFormatBGR, keAccessReadWrite)), 0u);
  EXPECT_EQ(colour.ChannelCode(), keChannelColour);
}

TEST(ImageViews, UnlistedChannelsAreRefused) {
  CCoreImage grey = OneRow(keFormatGrey, 2, {1, 2});
  EXPECT_EQ(Code(grey.SetChannelView(3, keAccessRead)), 101u);
  EXPECT_EQ(Code(grey.SetChannelView(0, keAccessRead)), 101u);
  CCoreImage colour = OneRow(keFormatBGR, 1, {1, 2, 3});
  EXPECT_EQ(Code(colour.SetChannelView(3, keAccessRead)), 101u);
  CCoreImage bgra = OneRow(keFormatBGRA, 1, {1, 2, 3, 4});
  EXPECT_EQ(Code(bgra.SetChannelView(4, keAccessRead)), 101u);
  EXPECT_EQ(Code(bgra.SetChannelView(5, keAccessRead)), 101u);
  CCoreImage wide = OneRow(keFormatBGRA_u16, 1, {1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(Code(wide.SetChannelView(3, keAccessRead)), 101u);
  // A refused channel leaves the current one.
  ASSERT_EQ(Code(bgra.SetChannelView(1, keAccessRead)), 0u);
  EXPECT_EQ(Code(bgra.SetChannelView(7, keAccessRead)), 101u);
  EXPECT_EQ(bgra.ChannelCode(), 1);
  EXPECT_EQ(ReadRow(bgra, 0), (Bytes{2}));
}

TEST(ImageViews, FormatViewStaysWhileChannelViewsAreAsked) {
  CCoreImage image = OneRow(keFormatBGRA, 1, {10, 20, 30, 40});
  ASSERT_EQ(Code(image.SetViewFormat(keFormatGreyA, keAccessReadWrite)), 0u);
  EXPECT_EQ(Code(image.SetChannelView(3, keAccessReadWrite)), 101u);
  EXPECT_EQ(Code(image.SetChannelView(keChannelNone, keAccessReadWrite)), 0u);
  EXPECT_EQ(image.ViewFormat(), keFormatGreyA);
  CCoreImage colour = OneRow(keFormatBGR, 1, {1, 2, 3});
  ASSERT_EQ(Code(colour.SetViewFormat(keFormatGrey, keAccessRead)), 0u);
  EXPECT_EQ(Code(colour.SetChannelView(keChannelColour, keAccessRead)), 0u);
  EXPECT_EQ(colour.ViewFormat(), keFormatGrey);
  EXPECT_EQ(Code(colour.SetChannelView(0, keAccessRead)), 101u);
}

TEST(ImageViews, ChannelModesDropTheUnusedConverter) {
  CCoreImage image = OneRow(keFormatBGRA, 2, {1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessRead)), 0u);
  WriteRow(image, 0, {0, 0});
  EXPECT_EQ(StorageRow(image), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(Code(image.SetChannelView(3, keAccessWrite)), 0u);
  EXPECT_EQ(image.AccessMode(), keAccessWrite);
  uint8_t* row = nullptr;
  ASSERT_EQ(Code(image.GetRow(0, row)), 0u);
  row[0] = 50;
  row[1] = 60;
  image.ReleaseRow(0);
  EXPECT_EQ(StorageRow(image), (Bytes{1, 2, 3, 50, 5, 6, 7, 60}));
}

TEST(ImageViews, ViewsWorkOnSubImagesAcrossStrips) {
  CCoreImage image;
  ASSERT_EQ(Code(image.CreateBGRA(20, 300)), 0u);
  FillPattern(image);
  CCoreImage window;
  ASSERT_EQ(Code(window.SubImage(image, 5, 100, 15, 280)), 0u);
  ASSERT_EQ(Code(window.SetChannelView(2, keAccessRead)), 0u);
  for (int y : {0, 27, 28, 179}) {
    const Bytes full = ReadRow(image, 100 + y);
    const Bytes red = ReadRow(window, y);
    ASSERT_EQ(red.size(), 10u);
    for (int x = 0; x < 10; ++x) EXPECT_EQ(red[x], full[4 * (5 + x) + 2]);
  }
}

TEST(ImageViews, CopiesOfViewedImagesCarryTheViewedPixels) {
  CCoreImage image = OneRow(keFormatBGR, 2, {10, 20, 30, 50, 100, 200});
  ASSERT_EQ(Code(image.SetViewFormat(keFormatGreyA, keAccessRead)), 0u);
  CCoreImage copy;
  ASSERT_EQ(Code(copy.CopyFrom(image)), 0u);
  EXPECT_EQ(copy.StorageFormat(), keFormatGreyA);
  EXPECT_EQ(ReadRow(copy, 0), (Bytes{Luminance(30, 20, 10), 255, Luminance(200, 100, 50), 255}));
  // A read view leaves the source's storage as it was.
  EXPECT_EQ(StorageRow(image), (Bytes{10, 20, 30, 50, 100, 200}));
}
