#include "engine/Feather.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/BoxBlur.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// Every row of the image, in order.
template <class Fn>
void ForEachRow(CCoreImage& image, Fn fn) {
  for (int y = 0; y < image.Height(); ++y) {
    const CRowLease row(image, y);
    fn(row.Data());
  }
}

// The hard matte of a row: alpha at or above the threshold is inside.
void HardMatteRow(const uint8_t* bgra, uint8_t* grey, int count, int threshold) {
  for (int x = 0; x < count; ++x) grey[x] = bgra[4 * x + 3] >= threshold ? 255 : 0;
}

// The factor grows four times faster than the departure of the wide blur
// from the hard matte, capped at 1.
std::array<double, 256> FeatherFactors() {
  std::array<double, 256> factors{};
  for (int d = 0; d < 256; ++d) factors[d] = std::min(4.0 * d / 255.0, 1.0);
  return factors;
}

// `count` pixels of a row, with the wide blur and the spread image at the
// same place: each moves towards the spread image by how far the wide blur
// departs from the hard matte, or takes the spread image outside the matte.
void MixRow(uint8_t* px, const uint8_t* wideRow, const uint8_t* spreadRow, int count,
            int threshold, int inside, const std::array<double, 256>& factors) {
  for (int x = 0; x < count; ++x) {
    uint8_t* p = px + 4 * x;
    const uint8_t* s = spreadRow + 4 * x;
    const int w = wideRow[x];
    const int b = p[3] >= threshold ? 255 : 0;
    const uint8_t blue = p[0];
    const uint8_t green = p[1];
    const uint8_t red = p[2];
    if (w > inside) {
      // Where the blur agrees with the hard matte the factor is 0 and the
      // mix gives the pixel back exactly; skip the arithmetic there.
      if (w != b) {
        const double factor = factors[std::abs(w - b)];
        for (int c = 0; c < 4; ++c) {
          p[c] = static_cast<uint8_t>(static_cast<int>(factor * s[c] + (1.0 - factor) * p[c]));
        }
      }
    } else {
      p[0] = s[0];
      p[1] = s[1];
      p[2] = s[2];
      p[3] = s[3];
    }
    // Colour unpremultiplied from an alpha this small is mostly rounding
    // noise; such pixels keep their own.
    if (p[3] <= 5) {
      p[0] = blue;
      p[1] = green;
      p[2] = red;
    }
  }
}

}  // namespace

void FeatherPlain(CCoreImage& image, int width) {
  if (image.ViewFormat() != keFormatBGRA) ThrowIfFailed(keErrInvalidArgument);
  const int imageWidth = image.Width();
  const int imageHeight = image.Height();

  // A matte that never reaches full opacity is cut at half its own peak, so
  // faint mattes still have an edge to feather.
  int peak = 0;
  ForEachRow(image, [&](const uint8_t* bgra) {
    for (int x = 0; x < imageWidth; ++x) peak = std::max<int>(peak, bgra[4 * x + 3]);
  });
  const int threshold = peak == 255 ? 200 : std::max(peak / 2, 1);

  // The hard matte is not kept: it is read again from the alpha below, which
  // is still unchanged in the row being mixed.
  CCoreImage wide;
  ThrowIfFailed(wide.CreateGrey(imageWidth, imageHeight));
  for (int y = 0; y < imageHeight; ++y) {
    const CRowLease bgra(image, y);
    const CRowLease grey(wide, y);
    HardMatteRow(bgra.Data(), grey.Data(), imageWidth, threshold);
  }
  int window = 3 * width;
  if (window % 2 == 0) ++window;
  ThrowIfFailed(BoxBlur(nullptr, wide, wide, window));

  CCoreImage spread;
  ThrowIfFailed(spread.CopyFrom(image));
  for (int pass = 0; pass < width; ++pass) {
    int three = 3;
    ThrowIfFailed(BoxBlur(nullptr, spread, spread, three));
  }

  const std::array<double, 256> factors = FeatherFactors();

  const int inside = threshold / 2;
  for (int y = 0; y < imageHeight; ++y) {
    const CRowLease px(image, y);
    const CRowLease wideRow(wide, y);
    const CRowLease spreadRow(spread, y);
    MixRow(px.Data(), wideRow.Data(), spreadRow.Data(), imageWidth, threshold, inside, factors);
  }
}

namespace {

// Square tiles of the image, each either left alone or worked on whole.
constexpr int kTile = 64;

// A run of neighbouring tiles of one tile row that must be worked on, and
// the spread image over it once it is made.
struct CTileRun {
  int left, top, right, bottom;  // pixels
  std::vector<uint8_t> spread;   // BGRA, (right - left) x (bottom - top)
};

}  // namespace

// Only pixels near the matte's edge change. A pixel is given back exactly
// where the wide blur agrees with the hard matte at full opacity, and where
// the wide blur stays at or below `inside` while every pixel within `width`
// is fully transparent: the spread image is all zero there, so the pixel
// takes the spread's zero alpha and keeps its own colour. Tiles made only of
// such pixels are skipped. The spread image is made over the remaining runs
// of tiles with a margin of `width`: each pass of the 3 x 3 blur reaches one
// pixel further, so inside the margin the values are those of the whole
// image, and at the image's border the crop reflects as the image does.
void Feather(CCoreImage& image, int width, const CFeatherSink& sink) {
  if (image.ViewFormat() != keFormatBGRA) ThrowIfFailed(keErrInvalidArgument);
  if (image.HasRowCache() || width < 1) {
    CCoreImage feathered;
    ThrowIfFailed(feathered.CopyFrom(image));
    FeatherPlain(feathered, width);
    for (int y = 0; y < feathered.Height(); ++y) {
      const CRowLease row(feathered, y);
      sink(y, 0, feathered.Width(), row.Data());
    }
    return;
  }
  const int imageWidth = image.Width();
  const int imageHeight = image.Height();
  // Fetched once: an image without a view gives its rows to any thread.
  const CRowLease rows = CRowLease::AllRows(image);

  int peak = 0;
  for (int y = 0; y < imageHeight && peak < 255; ++y) {
    const uint8_t* bgra = rows.Row(y);
    for (int x = 0; x < imageWidth; ++x) peak = std::max<int>(peak, bgra[4 * x + 3]);
  }
  const int threshold = peak == 255 ? 200 : std::max(peak / 2, 1);
  const int inside = threshold / 2;

  CCoreImage wide;
  ThrowIfFailed(wide.CreateGrey(imageWidth, imageHeight));
  for (int y = 0; y < imageHeight; ++y) {
    const CRowLease grey(wide, y);
    HardMatteRow(rows.Row(y), grey.Data(), imageWidth, threshold);
  }
  int window = 3 * width;
  if (window % 2 == 0) ++window;
  ThrowIfFailed(BoxBlur(nullptr, wide, wide, window));
  const CRowLease wideRows = CRowLease::AllRows(wide);

  // Per tile: whether any pixel has alpha, and whether every pixel is given
  // back by the opaque rule or could be by the transparent one.
  const int tilesX = (imageWidth + kTile - 1) / kTile;
  const int tilesY = (imageHeight + kTile - 1) / kTile;
  std::vector<uint8_t> anyAlpha(static_cast<size_t>(tilesX) * tilesY, 0);
  std::vector<uint8_t> allOpaque(anyAlpha.size(), 1);
  std::vector<uint8_t> allLow(anyAlpha.size(), 1);
  RunBands(tilesY, BandCount(tilesY, 2), [&](int, int firstTile, int lastTile) {
    for (int y = firstTile * kTile; y < std::min(lastTile * kTile, imageHeight); ++y) {
      const uint8_t* bgra = rows.Row(y);
      const uint8_t* w = wideRows.Row(y);
      const size_t tileRow = static_cast<size_t>(y / kTile) * tilesX;
      for (int tx = 0; tx < tilesX; ++tx) {
        const int x1 = std::min((tx + 1) * kTile, imageWidth);
        bool alpha = false;
        bool opaque = true;
        bool low = true;
        for (int x = tx * kTile; x < x1; ++x) {
          const int a = bgra[4 * x + 3];
          alpha |= a != 0;
          opaque &= w[x] == 255 && a >= threshold;
          low &= w[x] <= inside;
        }
        anyAlpha[tileRow + tx] |= alpha;
        allOpaque[tileRow + tx] &= opaque;
        allLow[tileRow + tx] &= low;
      }
    }
  });
  const int reach = (width + kTile - 1) / kTile;
  auto needed = [&](int tx, int ty) {
    const size_t t = static_cast<size_t>(ty) * tilesX + tx;
    if (allOpaque[t]) return false;
    if (!allLow[t]) return true;
    for (int ny = std::max(ty - reach, 0); ny <= std::min(ty + reach, tilesY - 1); ++ny) {
      for (int nx = std::max(tx - reach, 0); nx <= std::min(tx + reach, tilesX - 1); ++nx) {
        if (anyAlpha[static_cast<size_t>(ny) * tilesX + nx]) return true;
      }
    }
    return false;
  };
  std::vector<CTileRun> runs;
  for (int ty = 0; ty < tilesY; ++ty) {
    for (int tx = 0; tx < tilesX;) {
      if (!needed(tx, ty)) {
        ++tx;
        continue;
      }
      int end = tx + 1;
      while (end < tilesX && needed(end, ty)) ++end;
      runs.push_back(CTileRun{tx * kTile, ty * kTile, std::min(end * kTile, imageWidth),
                              std::min((ty + 1) * kTile, imageHeight), {}});
      tx = end;
    }
  }
  const int runCount = static_cast<int>(runs.size());
  const int runBands = BandCount(runCount, 4);

  // All spread images are made before any pixel changes: their margins read
  // pixels of neighbouring runs.
  RunBands(runCount, runBands, [&](int, int first, int last) {
    CCoreImage crop;
    for (int i = first; i < last; ++i) {
      CTileRun& run = runs[static_cast<size_t>(i)];
      const int left = std::max(run.left - width, 0);
      const int top = std::max(run.top - width, 0);
      const int right = std::min(run.right + width, imageWidth);
      const int bottom = std::min(run.bottom + width, imageHeight);
      crop.Reset();
      ThrowIfFailed(crop.CreateBGRA(right - left, bottom - top));
      for (int y = top; y < bottom; ++y) {
        const CRowLease to(crop, y - top);
        std::memcpy(to.Data(), rows.Row(y) + 4 * left, static_cast<size_t>(right - left) * 4);
      }
      for (int pass = 0; pass < width; ++pass) {
        int three = 3;
        ThrowIfFailed(BoxBlur(nullptr, crop, crop, three));
      }
      const size_t runRow = static_cast<size_t>(run.right - run.left) * 4;
      run.spread.resize(runRow * static_cast<size_t>(run.bottom - run.top));
      for (int y = run.top; y < run.bottom; ++y) {
        const CRowLease from(crop, y - top);
        std::memcpy(run.spread.data() + runRow * static_cast<size_t>(y - run.top),
                    from.Data() + 4 * (run.left - left), runRow);
      }
    }
  });

  const std::array<double, 256> factors = FeatherFactors();
  RunBands(runCount, runBands, [&](int, int first, int last) {
    std::vector<uint8_t> mixed;
    for (int i = first; i < last; ++i) {
      const CTileRun& run = runs[static_cast<size_t>(i)];
      const int count = run.right - run.left;
      const size_t runRow = static_cast<size_t>(count) * 4;
      mixed.resize(runRow);
      for (int y = run.top; y < run.bottom; ++y) {
        const uint8_t* spreadRow = run.spread.data() + runRow * static_cast<size_t>(y - run.top);
        std::memcpy(mixed.data(), rows.Row(y) + 4 * run.left, runRow);
        MixRow(mixed.data(), wideRows.Row(y) + run.left, spreadRow, count, threshold, inside,
               factors);
        sink(y, run.left, run.right, mixed.data());
      }
    }
  });
}

void Feather(CCoreImage& image, int width) {
  // Each run's pixels are read before they are mixed and nothing else reads
  // them afterwards, so they can go straight back.
  Feather(image, width, [&image](int y, int left, int right, const uint8_t* bgra) {
    const CRowLease row(image, y, left, right - left);
    std::memcpy(row.Data(), bgra, static_cast<size_t>(right - left) * 4);
  });
}
