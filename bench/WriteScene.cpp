// Writes the benchmark picture as an RGBA PNG and its strokes as the marking
// lines of a session script, so that a whole-program run works on the same
// picture and marks as the in-process benchmark.
//
//   bench-scene SIZE PICTURE.png STROKES.txt
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "SyntheticScene.h"
#include "tools/kelvane/PictureFile.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s SIZE PICTURE.png STROKES.txt\n", argv[0]);
    return 2;
  }
  const int size = std::atoi(argv[1]);
  if (size < 64 || size > kMaxPictureSide) {
    std::fprintf(stderr, "%s: SIZE must be 64 to %d\n", argv[0], kMaxPictureSide);
    return 2;
  }

  CCoreImage image;
  MakeSyntheticScene(image, size);
  std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
  for (int y = 0; y < size; ++y) {
    uint8_t* row = nullptr;
    image.GetRow(y, row);
    uint8_t* out = rgba.data() + static_cast<size_t>(y) * size * 4;
    for (int x = 0; x < size; ++x) {
      out[4 * x] = row[4 * x + 2];
      out[4 * x + 1] = row[4 * x + 1];
      out[4 * x + 2] = row[4 * x];
      out[4 * x + 3] = row[4 * x + 3];
    }
    image.ReleaseRow(y);
  }
  std::string error;
  if (!StartPictureLibrary(argv[0], error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CPicture picture;
  picture.width = picture.height = size;
  picture.channels = 4;
  picture.bytes = std::move(rgba);
  if (!WritePicture(argv[2], "png", picture, false, error)) {
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
