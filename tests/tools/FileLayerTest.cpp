#include "tools/kelvane/FileLayer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CPicture Pixels(int width, int height, int channels, std::vector<uint8_t> bytes) {
  CPicture pixels;
  pixels.width = width;
  pixels.height = height;
  pixels.channels = channels;
  pixels.bytes = std::move(bytes);
  return pixels;
}

TEST(FileLayer, LayersGetAnOpaqueAlphaPlaneUnlessThePlanesStayAsInTheFile) {
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

}  // namespace
