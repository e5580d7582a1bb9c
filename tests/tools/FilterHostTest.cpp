#include "tools/kelvane/FilterHost.h"

#include <gtest/gtest.h>

#include <vector>

#include "tools/kelvane/HostProgram.h"

namespace {

CPngPixels Pixels(int width, int height, int channels, std::vector<uint8_t> bytes) {
  CPngPixels pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.channels = channels;
  pixels.bytes = std::move(bytes);
  return pixels;
}

TEST(FilterHost, LayersGetAnOpaqueAlphaPlaneUnlessThePlanesStayAsInTheFile) {
  const CHostLayer grey = LayerFromPixels(Pixels(2, 1, 1, {10, 20}), false);
  EXPECT_EQ(grey.planes, 4);
  EXPECT_EQ(grey.imageMode, plugInModeRGBColor);
  EXPECT_EQ(grey.bytes, (std::vector<uint8_t>{10, 10, 10, 255, 20, 20, 20, 255}));

  const CHostLayer greyA = LayerFromPixels(Pixels(1, 1, 2, {10, 99}), false);
  EXPECT_EQ(greyA.bytes, (std::vector<uint8_t>{10, 10, 10, 99}));

  const CHostLayer rgb = LayerFromPixels(Pixels(1, 1, 3, {1, 2, 3}), false);
  EXPECT_EQ(rgb.bytes, (std::vector<uint8_t>{1, 2, 3, 255}));

  const CHostLayer asGrey = LayerFromPixels(Pixels(2, 1, 1, {10, 20}), true);
  EXPECT_EQ(asGrey.planes, 1);
  EXPECT_EQ(asGrey.imageMode, plugInModeGrayScale);
  const CHostLayer asGreyA = LayerFromPixels(Pixels(1, 1, 2, {10, 99}), true);
  EXPECT_EQ(asGreyA.planes, 2);
  EXPECT_EQ(asGreyA.imageMode, plugInModeGrayScale);
  const CHostLayer asRgb = LayerFromPixels(Pixels(1, 1, 3, {1, 2, 3}), true);
  EXPECT_EQ(asRgb.planes, 3);
  EXPECT_EQ(asRgb.imageMode, plugInModeRGBColor);
  EXPECT_EQ(asRgb.bytes, (std::vector<uint8_t>{1, 2, 3}));

  EXPECT_EQ(LayerToRGBA(asGreyA), (std::vector<uint8_t>{10, 10, 10, 99}));
  EXPECT_EQ(LayerToRGBA(asRgb), (std::vector<uint8_t>{1, 2, 3, 255}));
}

// A filter of our own that works in horizontal bands, one per Continue, on
// the planes 1..2 only, and records what the host did.
struct CBandFilter {
  std::vector<int16_t> selectors;
  int bands = 0;
  int16_t answerAtContinue = noErr;
  bool askOutside = false;
  void* platformData = nullptr;
};
CBandFilter* g_filter = nullptr;

void RequestBand(FilterRecord* record, int band) {
  const int16_t top = static_cast<int16_t>(band * 2);
  if (top >= record->imageSize.v) {
    record->inRect = record->outRect = record->maskRect = VRect{0, 0, 0, 0};
    return;
  }
  const int16_t bottom = std::min<int16_t>(static_cast<int16_t>(top + 2), record->imageSize.v);
  record->inRect = record->outRect = VRect{top, 1, bottom, record->imageSize.h};
  record->maskRect = VRect{0, 0, 0, 0};
  record->inLoPlane = record->outLoPlane = 1;
  record->inHiPlane = record->outHiPlane = 2;
}

void BandEntry(int16_t selector, FilterRecord* record, intptr_t*, int16_t* result) {
  CBandFilter& filter = *g_filter;
  filter.selectors.push_back(selector);
  filter.platformData = record->platformData;
  *result = noErr;
  if (selector == filterSelectorStart) {
    RequestBand(record, 0);
    if (filter.askOutside) record->inRect.bottom = static_cast<int16_t>(record->imageSize.v + 1);
  } else if (selector == filterSelectorContinue) {
    if (filter.answerAtContinue != noErr) {
      *result = filter.answerAtContinue;
      return;
    }
    const int width = record->outRect.right - record->outRect.left;
    const int height = record->outRect.bottom - record->outRect.top;
    const uint8_t* in = static_cast<const uint8_t*>(record->inData);
    uint8_t* out = static_cast<uint8_t*>(record->outData);
    for (int y = 0; y < height; ++y) {
      for (int i = 0; i < width * 2; ++i) {
        out[y * record->outRowBytes + i] = static_cast<uint8_t>(255 - in[y * record->inRowBytes + i]);
      }
    }
    RequestBand(record, ++filter.bands);
  }
}

CHostLayer NumberedLayer(int width, int height) {
  CHostLayer layer;
  layer.width = width;
  layer.height = height;
  layer.planes = 4;
  layer.bytes.resize(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < layer.bytes.size(); ++i) layer.bytes[i] = static_cast<uint8_t>(i);
  return layer;
}

TEST(FilterHost, ContinuesWhileTheFilterAsksAndKeepsWhatItWrote) {
  CBandFilter filter;
  g_filter = &filter;
  CHostLayer layer = NumberedLayer(4, 5);
  const CHostLayer before = layer;
  KelvanePlatformData platform = HostPlatformData();
  const CFilterOutcome outcome = RunFilter(BandEntry, layer, platform);
  EXPECT_FALSE(outcome.hostFailed) << outcome.message;
  EXPECT_EQ(outcome.result, noErr);
  EXPECT_EQ(filter.selectors, (std::vector<int16_t>{1, 2, 3, 4, 4, 4, 5}));
  EXPECT_EQ(filter.platformData, &platform);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 4; ++x) {
      for (int p = 0; p < 4; ++p) {
        const size_t at = (static_cast<size_t>(y) * 4 + x) * 4 + p;
        const bool touched = x >= 1 && (p == 1 || p == 2);
        EXPECT_EQ(layer.bytes[at], touched ? 255 - before.bytes[at] : before.bytes[at])
            << x << "," << y << " plane " << p;
      }
    }
  }
}

TEST(FilterHost, FinishFollowsAFailedContinueAndTheLayerStaysAsItWas) {
  CBandFilter filter;
  filter.answerAtContinue = userCanceledErr;
  g_filter = &filter;
  CHostLayer layer = NumberedLayer(3, 3);
  const CHostLayer before = layer;
  KelvanePlatformData platform = HostPlatformData();
  const CFilterOutcome outcome = RunFilter(BandEntry, layer, platform);
  EXPECT_EQ(outcome.result, userCanceledErr);
  EXPECT_EQ(filter.selectors, (std::vector<int16_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(layer.bytes, before.bytes);
}

TEST(FilterHost, ARequestOutsideTheImageStopsTheHostBeforeContinue) {
  CBandFilter filter;
  filter.askOutside = true;
  g_filter = &filter;
  CHostLayer layer = NumberedLayer(3, 3);
  KelvanePlatformData platform = HostPlatformData();
  const CFilterOutcome outcome = RunFilter(BandEntry, layer, platform);
  EXPECT_TRUE(outcome.hostFailed);
  EXPECT_FALSE(outcome.message.empty());
  EXPECT_EQ(filter.selectors, (std::vector<int16_t>{1, 2, 3, 5}));
}

TEST(HostOptions, CommandLinesAreReadOrRefused) {
  CHostOptions options;
  std::string error;
  ASSERT_TRUE(ParseHostOptions({"--plugins", "dir", "--planes-as-file", "in.png", "out.png"},
                               options, error));
  EXPECT_EQ(options.pluginFolder, "dir");
  EXPECT_TRUE(options.planesAsFile);
  EXPECT_EQ(options.input, "in.png");
  EXPECT_EQ(options.output, "out.png");
  EXPECT_EQ(PluginFolders(options), std::vector<std::string>{"dir"});

  ASSERT_TRUE(ParseHostOptions({"--", "--odd-name.png"}, options, error));
  EXPECT_EQ(options.input, "--odd-name.png");

  ASSERT_TRUE(ParseHostOptions({"--script", "s.txt", "a.png", "b.png"}, options, error));
  EXPECT_EQ(options.script, "s.txt");
  EXPECT_EQ(options.input, "a.png");
  EXPECT_EQ(options.output, "b.png");
  EXPECT_FALSE(options.presets);
  // The preset row goes with a script and with the editor alike.
  ASSERT_TRUE(ParseHostOptions({"--presets", "--script", "s.txt", "a.png", "b.png"}, options,
                               error));
  EXPECT_TRUE(options.presets);
  EXPECT_EQ(options.script, "s.txt");
  ASSERT_TRUE(ParseHostOptions({"a.png", "--presets"}, options, error));
  EXPECT_TRUE(options.presets);
  EXPECT_EQ(options.input, "a.png");
  ASSERT_TRUE(ParseHostOptions({"--demo"}, options, error));
  EXPECT_TRUE(options.demo);
  EXPECT_EQ(options.input, "");
  EXPECT_EQ(options.output, "");
  // The demo's one file is where its result goes; its input is the sample.
  ASSERT_TRUE(ParseHostOptions({"--demo", "d.png"}, options, error));
  EXPECT_EQ(options.input, "");
  EXPECT_EQ(options.output, "d.png");

  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"a.png", "b.png", "c.png"}, {"--plugins"}, {"--frobnicate"},
        {"--list", "a.png"}, {"--script"}, {"--script", "s.txt", "a.png"},
        {"--script", "s.txt", "a.png", "b.png", "c.png"}, {"--demo", "a.png", "b.png"},
        {"--demo", "--list"}, {"--demo", "--script", "s.txt", "a.png", "b.png"},
        {"--list", "--presets"}}) {
    error.clear();
    EXPECT_FALSE(ParseHostOptions(bad, options, error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(HostOptions, TheDefaultOutputIsNamedAfterTheInputInTheCurrentFolder) {
  EXPECT_EQ(DefaultOutputPath("pictures/cat.png"), "cat.kelvane.png");
  EXPECT_EQ(DefaultOutputPath("/tmp/a.b.png"), "a.b.kelvane.png");
  EXPECT_EQ(DefaultOutputPath(""), "sample.kelvane.png");
}

}  // namespace
