#include "tools/filterhost/FilterHost.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

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

}  // namespace
