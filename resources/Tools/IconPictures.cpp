// Writes the module's icon as the PNG files of a desktop icon theme, so that
// the program's icon on the desktop is the one its window carries.
//
//   IconPictures OUTPUT-FOLDER NAME SIZE...
//
// Each SIZE becomes OUTPUT-FOLDER/SIZExSIZE/apps/NAME.png. The icon's pictures
// are pixel drawings: a size is made from the largest picture that divides
// it, each pixel repeated, so that no edge is blurred; a size that none of
// them divides is refused rather than resampled.
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/ResourceFormats.h"
#include "platform/Resources.h"

namespace {

namespace fs = std::filesystem;

constexpr int kIconId = 128;

struct CRgbaPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

bool DecodeRgba(const CIconPicture& icon, CRgbaPicture& picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, icon.png.data(), icon.png.size())) return false;
  image.format = PNG_FORMAT_RGBA;
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  picture.pixels.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, picture.pixels.data(), 0, nullptr) != 0;
}

CRgbaPicture Enlarged(const CRgbaPicture& source, int factor) {
  CRgbaPicture result;
  result.width = source.width * factor;
  result.height = source.height * factor;
  result.pixels.resize(static_cast<size_t>(result.width) * result.height * 4);
  for (int y = 0; y < result.height; ++y) {
    for (int x = 0; x < result.width; ++x) {
      const uint8_t* from = &source.pixels[(static_cast<size_t>(y / factor) * source.width + x / factor) * 4];
      uint8_t* to = &result.pixels[(static_cast<size_t>(y) * result.width + x) * 4];
      for (int c = 0; c < 4; ++c) to[c] = from[c];
    }
  }
  return result;
}

bool WritePng(const fs::path& path, const CRgbaPicture& picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path.c_str(), 0, picture.pixels.data(), 0, nullptr) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: IconPictures OUTPUT-FOLDER NAME SIZE...\n";
    return 2;
  }
  std::vector<CIconPicture> icons;
  if (!ParseIconDirectory(FindResource(RT_ICON, kIconId), false, icons) || icons.empty()) {
    std::cerr << "IconPictures: the module carries no icon " << kIconId << "\n";
    return 1;
  }
  std::vector<CRgbaPicture> pictures;
  for (const CIconPicture& icon : icons) {
    CRgbaPicture picture;
    if (!DecodeRgba(icon, picture) || picture.width != picture.height) {
      std::cerr << "IconPictures: icon " << kIconId << " holds a picture that is no square PNG\n";
      return 1;
    }
    pictures.push_back(std::move(picture));
  }
  const fs::path folder(argv[1]);
  const std::string name = argv[2];
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    const CRgbaPicture* best = nullptr;
    for (const CRgbaPicture& picture : pictures) {
      if (size > 0 && size % picture.width == 0 && (!best || picture.width > best->width)) best = &picture;
    }
    if (!best) {
      std::cerr << "IconPictures: no picture of the icon divides the size " << argv[i] << "\n";
      return 1;
    }
    const std::string theme = std::to_string(size) + "x" + std::to_string(size);
    const fs::path path = folder / theme / "apps" / (name + ".png");
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    if (!WritePng(path, Enlarged(*best, size / best->width))) {
      std::cerr << "IconPictures: cannot write " << path.string() << "\n";
      return 1;
    }
  }
  return 0;
}
