#include <gtest/gtest.h>

#include <vector>

#include "host/ImageHolder.h"
#include "imagecore/RowLease.h"

namespace {

std::vector<uint8_t> ImageRow(CCoreImage& image, int y) {
  const CRowLease row(image, y);
  const int bytes = image.Width() * FormatBitsPerPixel(image.StorageFormat()) / 8;
  return std::vector<uint8_t>(row.Data(), row.Data() + bytes);
}

TEST(ImageHolder, RgbaBecomesBgraAndComesBackAsItWas) {
  CImageHolder holder;
  const uint8_t host[8] = {10, 20, 30, 40, 1, 2, 3, 4};
  ASSERT_EQ(holder.ReadHostRows(host, 2, 1, 8, 4), 1);
  CCoreImage& image = *holder.GetImage();
  EXPECT_EQ(image.StorageFormat(), keFormatBGRA);
  EXPECT_EQ(ImageRow(image, 0), (std::vector<uint8_t>{30, 20, 10, 40, 3, 2, 1, 4}));
  uint8_t back[8] = {};
  ASSERT_EQ(holder.WriteHostRows(back, 2, 1, 8, 4), 1);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 8), std::vector<uint8_t>(host, host + 8));
}

TEST(ImageHolder, EachPlaneCountGetsItsFormatAndByteOrder) {
  CImageHolder holder;
  const uint8_t host[6] = {1, 2, 3, 4, 5, 6};
  ASSERT_EQ(holder.ReadHostRows(host, 2, 1, 6, 3), 1);
  EXPECT_EQ(holder.GetImage()->StorageFormat(), keFormatBGR);
  EXPECT_EQ(ImageRow(*holder.GetImage(), 0), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));

  ASSERT_EQ(holder.ReadHostRows(host, 3, 1, 6, 2), 1);
  EXPECT_EQ(holder.GetImage()->StorageFormat(), keFormatGreyA);
  EXPECT_EQ(ImageRow(*holder.GetImage(), 0), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));

  ASSERT_EQ(holder.ReadHostRows(host, 6, 1, 6, 1), 1);
  EXPECT_EQ(holder.GetImage()->StorageFormat(), keFormatGrey);
  EXPECT_EQ(ImageRow(*holder.GetImage(), 0), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
}

TEST(ImageHolder, WideStridesLeaveThePaddingOfBothBuffersAlone) {
  const int width = 3;
  const int height = 300;  // several strips
  const int stride = width * 4 + 5;
  std::vector<uint8_t> in(static_cast<size_t>(stride) * height);
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 13 + 1);
  CImageHolder holder;
  ASSERT_EQ(holder.ReadHostRows(in.data(), width, height, stride, 4), 1);
  // Rows are taken top-down with the stride: row 250 is where the host put it.
  const uint8_t* host = in.data() + 250 * stride;
  EXPECT_EQ(ImageRow(*holder.GetImage(), 250)[0], host[2]);
  EXPECT_EQ(ImageRow(*holder.GetImage(), 250)[2], host[0]);

  std::vector<uint8_t> out(in.size(), 0xEE);
  ASSERT_EQ(holder.WriteHostRows(out.data(), width, height, stride, 4), 1);
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < stride; ++i) {
      const size_t at = static_cast<size_t>(y) * stride + i;
      if (i < width * 4) {
        ASSERT_EQ(out[at], in[at]) << "row " << y << " byte " << i;
      } else {
        ASSERT_EQ(out[at], 0xEE) << "padding of row " << y;
      }
    }
  }
}

TEST(ImageHolder, ASecondReadDiscardsTheFirstWhateverItsFormat) {
  CImageHolder holder;
  std::vector<uint8_t> big(40 * 30 * 4, 200);
  ASSERT_EQ(holder.ReadHostRows(big.data(), 40, 30, 160, 4), 1);
  const uint8_t small[4] = {7, 8, 9, 10};
  ASSERT_EQ(holder.ReadHostRows(small, 2, 2, 2, 1), 1);
  CCoreImage& image = *holder.GetImage();
  EXPECT_EQ(image.StorageFormat(), keFormatGrey);
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.Height(), 2);
  EXPECT_EQ(ImageRow(image, 0), (std::vector<uint8_t>{7, 8}));
  EXPECT_EQ(ImageRow(image, 1), (std::vector<uint8_t>{9, 10}));
}

TEST(ImageHolder, UnsupportedPlaneCountsLeaveAnEmptyImageAndWriteNothing) {
  CImageHolder holder;
  const uint8_t host[20] = {1, 2, 3, 4};
  ASSERT_EQ(holder.ReadHostRows(host, 1, 1, 4, 4), 1);
  for (int planes : {0, 5, -1}) {
    EXPECT_EQ(holder.ReadHostRows(host, 2, 2, 10, planes), 0);
    EXPECT_FALSE(holder.GetImage()->HasStorage());
    uint8_t out[20];
    std::fill(std::begin(out), std::end(out), 0xEE);
    EXPECT_EQ(holder.WriteHostRows(out, 2, 2, 10, planes), 0);
    for (uint8_t byte : out) EXPECT_EQ(byte, 0xEE);
  }
}

TEST(ImageHolder, WritingAnImageOfAnotherSizeOrFormatIsRefused) {
  CImageHolder holder;
  std::vector<uint8_t> host(4 * 4 * 4, 50);
  ASSERT_EQ(holder.ReadHostRows(host.data(), 4, 4, 16, 4), 1);
  std::vector<uint8_t> out(host.size() * 4, 0xEE);
  EXPECT_EQ(holder.WriteHostRows(out.data(), 8, 4, 32, 4), 0);  // wider than the image
  EXPECT_EQ(holder.WriteHostRows(out.data(), 4, 8, 16, 4), 0);  // taller
  EXPECT_EQ(holder.WriteHostRows(out.data(), 4, 4, 12, 3), 0);  // other planes
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xEE));
}

}  // namespace
