// Small pictures and pixel access for the editor model's tests, and a
// private configuration folder so that no test touches the user's store.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "imagecore/ColorRef.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

inline CCoreImage MakeImage(int width, int height, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  CCoreImage image;
  const CColorRef fill(r, g, b, a);
  ThrowIfFailed(image.CreateBGRA(width, height, &fill));
  return image;
}

// Read through a copy that shares the storage, so the document's images
// can be looked at.
inline uint8_t ByteAt(const CCoreImage& shown, int x, int y, int channel) {
  CCoreImage image(shown);
  const int bytes = image.ViewBitsPerPixel() / 8;
  return CRowLease(image, y).Data()[bytes * x + channel];
}

// Every byte of every row, in the image's view format (none without storage).
inline std::vector<uint8_t> BytesOf(const CCoreImage& shown) {
  std::vector<uint8_t> bytes;
  if (!shown.HasStorage()) return bytes;
  CCoreImage image(shown);
  const size_t rowBytes = static_cast<size_t>(image.Width()) * (image.ViewBitsPerPixel() / 8);
  for (int y = 0; y < image.Height(); ++y) {
    const uint8_t* row = CRowLease(image, y).Data();
    bytes.insert(bytes.end(), row, row + rowBytes);
  }
  return bytes;
}

inline uint8_t AlphaAt(const CCoreImage& image, int x, int y) { return ByteAt(image, x, y, 3); }
inline uint8_t GreyAt(const CCoreImage& image, int x, int y) { return ByteAt(image, x, y, 0); }

inline void SetPixel(CCoreImage& image, int x, int y, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
  const CRowLease row(image, y);
  uint8_t* pixel = row.Data() + 4 * x;
  pixel[0] = b;
  pixel[1] = g;
  pixel[2] = r;
  pixel[3] = a;
}

// Blue sky in the upper half, a red roof in the lower half.
inline CCoreImage MakeSkyAndRoof(int width, int height) {
  CCoreImage image = MakeImage(width, height, 40, 90, 220, 255);
  for (int y = height / 2; y < height; ++y)
    for (int x = 0; x < width; ++x) SetPixel(image, x, y, 200, 30, 20, 255);
  return image;
}

// Points $XDG_CONFIG_HOME at a fresh folder for the life of the object.
class CPrivateConfig {
 public:
  CPrivateConfig() {
    char pattern[] = "/tmp/kelvane-editormodel-XXXXXX";
    m_folder = mkdtemp(pattern);
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
      m_old = old;
      m_hadOld = true;
    }
    setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
  }
  ~CPrivateConfig() {
    if (m_hadOld) {
      setenv("XDG_CONFIG_HOME", m_old.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
  }
  const std::string& Folder() const { return m_folder; }

 private:
  std::string m_folder;
  std::string m_old;
  bool m_hadOld = false;
};
