// The desktop icons drawn from the module's icon: each size is the icon's own
// picture, pixel for pixel, enlarged without blurring, in the theme's layout.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ResourceFormats.h"
#include "platform/Resources.h"
#include "tools/KelvaneRun.h"

namespace {

struct CRgba {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

bool Decode(png_image& image, CRgba& picture) {
  image.format = PNG_FORMAT_RGBA;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.pixels.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
}

CRgba ReadFile(const std::filesystem::path& path) {
  CRgba picture;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()) || !Decode(image, picture)) return {};
  return picture;
}

// The module's icon picture of exactly this size, decoded.
CRgba IconPicture(int size) {
  std::vector<CIconPicture> pictures;
  if (!ParseIconDirectory(FindResource(RT_ICON, 128), false, pictures)) return {};
  for (const CIconPicture& icon : pictures) {
    if (icon.width != size) continue;
    CRgba picture;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, icon.png.data(), icon.png.size()) ||
        !Decode(image, picture)) {
      return {};
    }
    return picture;
  }
  return {};
}

class IconPictures : public CKelvaneFolderTest {
 protected:
  CRun Draw(const std::string& sizes) const {
    return RunCommand("'" + std::string(KELVANE_BIN_DIR) + "/kelvane_icon_pictures' '" +
                      (m_dir / "icons").string() + "' kelvane " + sizes + " 2>&1");
  }
  CRgba Drawn(int size) const {
    const std::string theme = std::to_string(size) + "x" + std::to_string(size);
    return ReadFile(m_dir / "icons" / theme / "apps" / "kelvane.png");
  }
};

// Each pixel of `large` is the pixel of `small` it covers.
::testing::AssertionResult IsEnlarged(const CRgba& small, const CRgba& large) {
  if (small.width == 0 || large.width % small.width != 0) {
    return ::testing::AssertionFailure() << large.width << " is no multiple of " << small.width;
  }
  const int factor = large.width / small.width;
  for (int y = 0; y < large.height; ++y) {
    for (int x = 0; x < large.width; ++x) {
      for (int c = 0; c < 4; ++c) {
        const uint8_t want = small.pixels[((y / factor) * small.width + x / factor) * 4 + c];
        const uint8_t got = large.pixels[(y * large.width + x) * 4 + c];
        if (want != got) {
          return ::testing::AssertionFailure() << "pixel " << x << "," << y << " channel " << c
                                               << " is " << int(got) << ", not " << int(want);
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

TEST_F(IconPictures, EverySizeIsTheIconsOwnPictureEnlargedPixelForPixel) {
  const CRgba icon16 = IconPicture(16);
  const CRgba icon32 = IconPicture(32);
  ASSERT_EQ(icon16.width, 16);
  ASSERT_EQ(icon32.width, 32);
  const CRun run = Draw("16 32 48 64 256");
  ASSERT_EQ(run.status, 0) << run.output;

  EXPECT_TRUE(IsEnlarged(icon16, Drawn(16)));
  EXPECT_TRUE(IsEnlarged(icon32, Drawn(32)));
  // 48 is no multiple of 32: the 16-pixel drawing, each pixel thrice.
  EXPECT_TRUE(IsEnlarged(icon16, Drawn(48)));
  // Larger sizes come from the larger drawing, where one is drawn apart.
  EXPECT_TRUE(IsEnlarged(icon32, Drawn(64)));
  const CRgba drawn256 = Drawn(256);
  EXPECT_EQ(drawn256.height, 256);
  EXPECT_TRUE(IsEnlarged(icon32, drawn256));
}

TEST_F(IconPictures, ASizeNoPictureDividesIsRefusedNotBlurred) {
  const CRun run = Draw("16 24");
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.output.find("divides the size 24"), std::string::npos) << run.output;
  EXPECT_FALSE(Exists("icons/24x24"));
}

}  // namespace
