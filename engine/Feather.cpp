#include "engine/Feather.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/BoxBlur.h"
#include "imagecore/CoreImage.h"
#include "imagecore/PageBuffer.h"
#include "imagecore/RowBands.h"
#include "imagecore/RowLease.h"

namespace {

// The stages, as both forms run them: the threshold of the hard matte, the
// wide blur of the hard matte, the spread image, and the mix of the pixel
// with the spread image by how far the wide blur departs from the hard matte.
// The tiled form makes the spread image and mixes only over runs of tiles
// near the matte's edge.

// The threshold of the hard matte. A matte that never reaches full opacity
// is cut at half its own peak, so faint mattes still have an edge to feather.
int MatteThreshold(CCoreImage& image) {
  const int imageWidth = image.Width();
  int peak = 0;
  for (int y = 0; y < image.Height() && peak < 255; ++y) {
    const CRowLease row(image, y);
    const uint8_t* bgra = row.Data();
    for (int x = 0; x < imageWidth; ++x) peak = std::max<int>(peak, bgra[4 * x + 3]);
  }
  return peak == 255 ? 200 : std::max(peak / 2, 1);
}

// The hard matte of a row: alpha at or above the threshold is inside.
void HardMatteRow(const uint8_t* bgra, uint8_t* grey, int count, int threshold) {
  for (int x = 0; x < count; ++x) grey[x] = bgra[4 * x + 3] >= threshold ? 255 : 0;
}

// The wide blur: the hard matte blurred over about three times the
// feathering width. The hard matte itself is not kept: the mix reads it
// again from the alpha, which is still unchanged in the row being mixed.
CCoreImage WideBlur(CCoreImage& image, int width, int threshold) {
  CCoreImage wide;
  ThrowIfFailed(wide.CreateGrey(image.Width(), image.Height()));
  ForEachRowInBands(image.Height(), image.HasRowCache(), [&](int y) {
    const CRowLease bgra(image, y);
    const CRowLease grey(wide, y);
    HardMatteRow(bgra.Data(), grey.Data(), image.Width(), threshold);
  });
  int window = 3 * width;
  ThrowIfFailed(BoxBlur(nullptr, wide, wide, window));
  return wide;
}

// The spread image, in place: the object's colour carried outwards by
// `width` passes of the 3 x 3 blur, each reaching one pixel further.
void Spread(CCoreImage& image, int width) {
  for (int pass = 0; pass < width; ++pass) {
    int three = 3;
    ThrowIfFailed(BoxBlur(nullptr, image, image, three));
  }
}

// The factor grows four times faster than the departure of the wide blur
// from the hard matte, capped at 1.
std::array<double, 256> FeatherFactors() {
  std::array<double, 256> factors{};
  for (int d = 0; d < 256; ++d) factors[d] = std::min(4.0 * d / 255.0, 1.0);
  return factors;
}

// The mix of `count` pixels of a row, with the wide blur and the spread
// image at the same place: each moves towards the spread image by how far
// the wide blur departs from the hard matte, or takes the spread image
// outside the matte.
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

// The mix over the whole image, row by row.
void MixWhole(CCoreImage& image, CCoreImage& wide, CCoreImage& spread, int threshold) {
  const std::array<double, 256> factors = FeatherFactors();
  const int inside = threshold / 2;
  for (int y = 0; y < image.Height(); ++y) {
    const CRowLease px(image, y);
    const CRowLease wideRow(wide, y);
    const CRowLease spreadRow(spread, y);
    MixRow(px.Data(), wideRow.Data(), spreadRow.Data(), image.Width(), threshold, inside, factors);
  }
}

}  // namespace

void FeatherPlain(CCoreImage& image, int width) {
  if (image.ViewFormat() != keFormatBGRA) ThrowIfFailed(keErrInvalidArgument);
  const int threshold = MatteThreshold(image);
  CCoreImage wide = WideBlur(image, width, threshold);
  CCoreImage spread;
  ThrowIfFailed(spread.CopyFrom(image));
  Spread(spread, width);
  MixWhole(image, wide, spread, threshold);
}

namespace {

// Square tiles of the image, each either left alone or worked on whole.
constexpr int kTile = 64;

// What the tiled stages read, from any thread: the image's rows and the wide
// blur's, fetched once (an image without a view gives its rows to any
// thread).
struct CFeatherInputs {
  CRowLease rows;  // BGRA
  CRowLease wideRows;
  int imageWidth, imageHeight;
  int width;  // of the feathering
  int threshold, inside;
};

// Per tile: whether any pixel has alpha, and whether every pixel is given
// back by the opaque rule or could be by the transparent one.
struct CTileFlags {
  int tilesX, tilesY;
  std::vector<uint8_t> anyAlpha, allOpaque, allLow;
};

CTileFlags FlagTiles(const CFeatherInputs& in) {
  const int tilesX = (in.imageWidth + kTile - 1) / kTile;
  const int tilesY = (in.imageHeight + kTile - 1) / kTile;
  const size_t tileCount = static_cast<size_t>(tilesX) * tilesY;
  CTileFlags tiles{tilesX, tilesY, std::vector<uint8_t>(tileCount, 0),
                   std::vector<uint8_t>(tileCount, 1), std::vector<uint8_t>(tileCount, 1)};
  RunBands(tilesY, BandCount(tilesY, 2), [&](int, int firstTile, int lastTile) {
    for (int y = firstTile * kTile; y < std::min(lastTile * kTile, in.imageHeight); ++y) {
      const uint8_t* bgra = in.rows.Row(y);
      const uint8_t* w = in.wideRows.Row(y);
      const size_t tileRow = static_cast<size_t>(y / kTile) * tilesX;
      for (int tx = 0; tx < tilesX; ++tx) {
        const int x1 = std::min((tx + 1) * kTile, in.imageWidth);
        bool alpha = false;
        bool opaque = true;
        bool low = true;
        for (int x = tx * kTile; x < x1; ++x) {
          const int a = bgra[4 * x + 3];
          alpha |= a != 0;
          opaque &= w[x] == 255 && a >= in.threshold;
          low &= w[x] <= in.inside;
        }
        tiles.anyAlpha[tileRow + tx] |= alpha;
        tiles.allOpaque[tileRow + tx] &= opaque;
        tiles.allLow[tileRow + tx] &= low;
      }
    }
  });
  return tiles;
}

// Whether tile (tx, ty) may change: not all of it is given back by the
// opaque rule, and not all of it by the transparent one, which needs every
// tile within `reach` tiles free of alpha.
bool TileNeeded(const CTileFlags& tiles, int tx, int ty, int reach) {
  const size_t t = static_cast<size_t>(ty) * tiles.tilesX + tx;
  if (tiles.allOpaque[t]) return false;
  if (!tiles.allLow[t]) return true;
  for (int ny = std::max(ty - reach, 0); ny <= std::min(ty + reach, tiles.tilesY - 1); ++ny) {
    for (int nx = std::max(tx - reach, 0); nx <= std::min(tx + reach, tiles.tilesX - 1); ++nx) {
      if (tiles.anyAlpha[static_cast<size_t>(ny) * tiles.tilesX + nx]) return true;
    }
  }
  return false;
}

// A run of neighbouring tiles of one tile row that must be worked on, and
// the spread image over it once it is made.
struct CTileRun {
  int left, top, right, bottom;  // pixels
  uint8_t* spread;               // BGRA, (right - left) x (bottom - top)
  size_t SpreadBytes() const {
    return static_cast<size_t>(right - left) * static_cast<size_t>(bottom - top) * 4;
  }
};

// The runs of needed tiles, row by row of tiles.
std::vector<CTileRun> RunsToWorkOn(const CFeatherInputs& in) {
  const CTileFlags tiles = FlagTiles(in);
  const int reach = (in.width + kTile - 1) / kTile;
  std::vector<CTileRun> runs;
  for (int ty = 0; ty < tiles.tilesY; ++ty) {
    for (int tx = 0; tx < tiles.tilesX;) {
      if (!TileNeeded(tiles, tx, ty, reach)) {
        ++tx;
        continue;
      }
      int end = tx + 1;
      while (end < tiles.tilesX && TileNeeded(tiles, end, ty, reach)) ++end;
      runs.push_back(CTileRun{tx * kTile, ty * kTile, std::min(end * kTile, in.imageWidth),
                              std::min((ty + 1) * kTile, in.imageHeight), nullptr});
      tx = end;
    }
  }
  return runs;
}

// The run's spread image, made over a crop of the image with a margin of
// the feathering width. The crop is a window on `room`, storage kept from
// run to run and made larger only when a run needs more: a thread works on
// many runs, and new storage for each would cost more than the blur.
void SpreadRun(const CFeatherInputs& in, CTileRun& run, CCoreImage& room) {
  const int left = std::max(run.left - in.width, 0);
  const int top = std::max(run.top - in.width, 0);
  const int right = std::min(run.right + in.width, in.imageWidth);
  const int bottom = std::min(run.bottom + in.width, in.imageHeight);
  if (!room.HasStorage() || room.Width() < right - left || room.Height() < bottom - top) {
    const int roomWidth = std::max(room.Width(), right - left);
    const int roomHeight = std::max(room.Height(), bottom - top);
    room.Reset();
    ThrowIfFailed(room.CreateBGRA(roomWidth, roomHeight));
  }
  CCoreImage crop;
  ThrowIfFailed(crop.SubImage(room, 0, 0, right - left, bottom - top));
  for (int y = top; y < bottom; ++y) {
    const CRowLease to(crop, y - top);
    std::memcpy(to.Data(), in.rows.Row(y) + 4 * left, static_cast<size_t>(right - left) * 4);
  }
  Spread(crop, in.width);
  const size_t runRow = static_cast<size_t>(run.right - run.left) * 4;
  for (int y = run.top; y < run.bottom; ++y) {
    const CRowLease from(crop, y - top);
    std::memcpy(run.spread + runRow * static_cast<size_t>(y - run.top),
                from.Data() + 4 * (run.left - left), runRow);
  }
}

// The run's pixels mixed, row by row, handed to the sink.
void MixRun(const CFeatherInputs& in, const CTileRun& run, const std::array<double, 256>& factors,
            std::vector<uint8_t>& mixed, const CFeatherSink& sink) {
  const int count = run.right - run.left;
  const size_t runRow = static_cast<size_t>(count) * 4;
  mixed.resize(runRow);
  for (int y = run.top; y < run.bottom; ++y) {
    const uint8_t* spreadRow = run.spread + runRow * static_cast<size_t>(y - run.top);
    std::memcpy(mixed.data(), in.rows.Row(y) + 4 * run.left, runRow);
    MixRow(mixed.data(), in.wideRows.Row(y) + run.left, spreadRow, count, in.threshold, in.inside,
           factors);
    sink(y, run.left, run.right, mixed.data());
  }
}

// The whole image feathered as FeatherPlain reads, on a copy, every pixel to
// the sink: for images whose rows cannot be shared between threads.
void FeatherCopyToSink(CCoreImage& image, int width, const CFeatherSink& sink) {
  CCoreImage feathered;
  ThrowIfFailed(feathered.CopyFrom(image));
  FeatherPlain(feathered, width);
  for (int y = 0; y < feathered.Height(); ++y) {
    const CRowLease row(feathered, y);
    sink(y, 0, feathered.Width(), row.Data());
  }
}

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
    FeatherCopyToSink(image, width, sink);
    return;
  }
  const int threshold = MatteThreshold(image);
  CCoreImage wide = WideBlur(image, width, threshold);
  const CFeatherInputs in{CRowLease::AllRows(image), CRowLease::AllRows(wide), image.Width(),
                          image.Height(), width, threshold, threshold / 2};
  std::vector<CTileRun> runs = RunsToWorkOn(in);
  const int runCount = static_cast<int>(runs.size());
  // The spread images side by side in one buffer: recycled pages, where one
  // allocation per run would take fresh ones on every Apply.
  size_t spreadBytes = 0;
  for (const CTileRun& run : runs) spreadBytes += run.SpreadBytes();
  CPageBuffer spreads(spreadBytes);
  uint8_t* next = spreads.Data();
  for (CTileRun& run : runs) {
    run.spread = next;
    next += run.SpreadBytes();
  }
  const int runBands = BandCount(runCount, 4);

  // All spread images are made before any pixel changes: their margins read
  // pixels of neighbouring runs.
  RunBands(runCount, runBands, [&](int, int first, int last) {
    CCoreImage room;
    for (int i = first; i < last; ++i) SpreadRun(in, runs[static_cast<size_t>(i)], room);
  });

  const std::array<double, 256> factors = FeatherFactors();
  RunBands(runCount, runBands, [&](int, int first, int last) {
    std::vector<uint8_t> mixed;
    for (int i = first; i < last; ++i) {
      MixRun(in, runs[static_cast<size_t>(i)], factors, mixed, sink);
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
