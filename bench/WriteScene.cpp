// Writes the benchmark picture and its strokes as the marking lines of a
// session script, so that a whole-program run works on the same picture and
// marks as the in-process benchmark. The picture's ending picks its format:
// RGBA where the format keeps transparency, RGB for JPEG (as a camera
// writes it).
//
//   bench-scene SIZE PICTURE.{png,jpg,...} STROKES.txt
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "SyntheticScene.h"
#include "imagecore/RowLease.h"
#include "tools/kelvane/PictureWriter.h"
#include "tools/kelvane/PictureLibrary.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SIZE PICTURE.{png,jpg,...} STROKES.txt\n", argv[0]);
    return 2;
  }
  const int size = std::atoi(argv[1]);
  if (size < 64 || size > kMaxPictureSide) {
    std::fprintf(stderr, "%s: SIZE must be 64 to %d\n", argv[0], kMaxPictureSide);
    return 2;
  }

  std::string error;
  if (!StartPictureLibrary(argv[0], error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::string format = std::filesystem::path(argv[2]).extension().string();
  if (!format.empty()) format.erase(0, 1);
  std::transform(format.begin(), format.end(), format.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // The scene is opaque: a format without transparency gets RGB, not a
  // refusal.
  const int channels = format == "jpg" || format == "jpeg" ? 3 : 4;
  if (!CheckOutputFormat(argv[2], format, channels == 4, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }

  CCoreImage image;
  MakeSyntheticScene(image, size);
  std::vector<uint8_t> pixels(static_cast<size_t>(size) * size * channels);
  for (int y = 0; y < size; ++y) {
    const CRowLease lease(image, y);
    const uint8_t* row = lease.Data();
    uint8_t* out = pixels.data() + static_cast<size_t>(y) * size * channels;
    for (int x = 0; x < size; ++x, out += channels) {
      out[0] = row[4 * x + 2];
      out[1] = row[4 * x + 1];
      out[2] = row[4 * x];
      if (channels == 4) out[3] = row[4 * x + 3];
    }
  }
  CPicture picture;
  picture.width = picture.height = size;
  picture.channels = channels;
  picture.bytes = std::move(pixels);
  if (!WritePicture(argv[2], format, picture, false, true, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  std::FILE* strokes = std::fopen(argv[3], "w");
  if (!strokes) {
    std::perror(argv[3]);
    return 1;
  }
  for (const CSyntheticStroke& stroke : SyntheticStrokes(size)) {
    std::fputs(stroke.object ? "object" : "background", strokes);
    for (const CMarkPoint& p : stroke.points) std::fprintf(strokes, " %d,%d", p.x, p.y);
    std::fputc('\n', strokes);
  }
  if (std::fclose(strokes) != 0) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
