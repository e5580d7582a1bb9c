// Draws the module's pictures - tool bar, icon, cursors and the preset
// buttons - from the pixel grids below, and writes them as the files the
// resource manifest names. The files are kept in the repository; run this
// after changing a grid:
//
//   DrawPictures OUTPUT-DIRECTORY [PREVIEW.png]
//
// The optional preview shows every picture enlarged on a checkerboard.
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Rgba {
  uint8_t r, g, b, a;
};

const std::map<char, Rgba>& Colours() {
  static const std::map<char, Rgba> colours = {
      {'.', {0, 0, 0, 0}},         {'k', {0, 0, 0, 255}},       {'d', {64, 64, 64, 255}},
      {'g', {128, 128, 128, 255}}, {'l', {192, 192, 192, 255}}, {'w', {255, 255, 255, 255}},
      {'c', {170, 210, 255, 255}}, {'b', {40, 90, 200, 255}},   {'B', {20, 50, 130, 255}},
      {'r', {255, 100, 100, 255}}, {'R', {180, 30, 30, 255}},   {'e', {100, 255, 100, 255}},
      {'E', {20, 130, 20, 255}},   {'o', {170, 110, 50, 255}},  {'O', {110, 60, 20, 255}},
      {'s', {255, 226, 190, 255}}, {'x', {220, 20, 20, 255}},   {'y', {240, 200, 60, 255}},
      {'h', {0, 0, 0, 96}},        // soft shadow
  };
  return colours;
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<Rgba> pixels;
  Rgba& At(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  const Rgba& At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Picture Blank(int width, int height) {
  Picture p;
  p.width = width;
  p.height = height;
  p.pixels.assign(static_cast<size_t>(width) * height, Rgba{0, 0, 0, 0});
  return p;
}

Picture FromGrid(const std::vector<std::string>& grid, const char* name) {
  Picture p = Blank(static_cast<int>(grid.front().size()), static_cast<int>(grid.size()));
  for (int y = 0; y < p.height; ++y) {
    if (static_cast<int>(grid[y].size()) != p.width) {
      throw std::runtime_error(std::string(name) + ": row " + std::to_string(y) + " has " +
                               std::to_string(grid[y].size()) + " pixels, not " + std::to_string(p.width));
    }
    for (int x = 0; x < p.width; ++x) {
      auto it = Colours().find(grid[y][x]);
      if (it == Colours().end()) throw std::runtime_error(std::string(name) + ": unknown colour " + grid[y][x]);
      p.At(x, y) = it->second;
    }
  }
  return p;
}

// Places `source` into `target` with its top-left at (x, y).
void Paste(Picture& target, const Picture& source, int x, int y) {
  for (int j = 0; j < source.height; ++j) {
    for (int i = 0; i < source.width; ++i) {
      if (source.At(i, j).a != 0) target.At(x + i, y + j) = source.At(i, j);
    }
  }
}

Picture Scaled(const Picture& source, int factor) {
  Picture p = Blank(source.width * factor, source.height * factor);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) p.At(x, y) = source.At(x / factor, y / factor);
  }
  return p;
}

// ---- Grids ------------------------------------------------------------------------

// Tool bar buttons, 16 x 15, in the tool bar's order.
const std::vector<std::string> kZoom = {
    "....kkkk........",
    "..kkwwcckk......",
    "..kwccccck......",
    ".kwccccccck.....",
    ".kcccccccck.....",
    ".kcccccccck.....",
    ".kcccccccck.....",
    "..kcccccck......",
    "..kkcccckk......",
    "....kkkkkOok....",
    ".........kOok...",
    "..........kOok..",
    "...........kOok.",
    "............kOok",
    ".............kk.",
};

const std::vector<std::string> kHand = {
    "......kk.kk.....",
    ".....kwwkwwk....",
    "..kk.kwwkwwk.kk.",
    ".kwwkkwwkwwkkwwk",
    ".kwwkkwwkwwkkwwk",
    ".kwwkkwwkwwkkwwk",
    ".kwwwwwwwwwwwwwk",
    "kkkwwwwwwwwwwwwk",
    "kwwkwwwwwwwwwwwk",
    "kwwwwwwwwwwwwwk.",
    ".kwwwwwwwwwwwwk.",
    "..kwwwwwwwwwwk..",
    "...kwwwwwwwwwk..",
    "....kwwwwwwwk...",
    "....kkkkkkkkk...",
};

// A marker pen drawing a stroke; `t` and `T` become the tip's colours.
const std::vector<std::string> kMarker = {
    "...........kkk..",
    "..........kgggk.",
    ".........kglllgk",
    "........kglllgk.",
    ".......kglllgk..",
    "......kglllgk...",
    ".....kglllgk....",
    "....kTglllk.....",
    "...kTtTgk.......",
    "...ktttTk.......",
    "..kTttk.........",
    "..kTkk..........",
    ".ttt.....ttt....",
    "t...tt.tt...tt..",
    "......t.......t.",
};

// Both strokes crossed out.
const std::vector<std::string> kDeleteMarks = {
    "................",
    "..rrr......eee..",
    ".r...r....e...e.",
    "r.....r..e......",
    "xx.....rr....xx.",
    ".xxx........xxx.",
    "...xxx....xxx...",
    ".....xxxxxx.....",
    "......xxxx......",
    ".....xxxxxx.....",
    "...xxx....xxx...",
    ".xxx..e.....xxx.",
    "xx...e.e.....xx.",
    ".e..e...e..e....",
    "..ee.....ee.....",
};

// A round brush, its soft trace half erased.
const std::vector<std::string> kBrush = {
    "............kkk.",
    "...........kook.",
    "..........kook..",
    ".........kook...",
    "........kook....",
    ".......kook.....",
    "......klllk.....",
    ".....klllk......",
    "....kdddk.......",
    "...kddddk.......",
    "..kdddddk.......",
    "..kddddk........",
    ".kdddkk.........",
    ".kkkk...........",
    "................",
};

// An arrow turning back on itself.
const std::vector<std::string> kReset = {
    "................",
    ".....bbbbbb.....",
    "...bbbbbbbbbb...",
    "..bbbb....bbbb..",
    ".bbb........bbb.",
    ".bbb........bbb.",
    "bbbbb.......bbb.",
    ".bbb........bbb.",
    "..b.........bbb.",
    "............bbb.",
    ".bb.........bbb.",
    ".bbb.......bbb..",
    "..bbbb...bbbb...",
    "...bbbbbbbbb....",
    ".....bbbbb......",
};

// An arrow going back the way it came, for undo; redo is its mirror image.
const std::vector<std::string> kUndo = {
    "................",
    "................",
    "....b...........",
    "...bb...........",
    "..bbbbbbbbbb....",
    ".bbbbbbbbbbbbb..",
    "..bbbbbbbbbbbbb.",
    "...bb......bbbb.",
    "....b.......bbb.",
    "............bbb.",
    "............bbb.",
    "...........bbb..",
    "........bbbbb...",
    "........bbbb....",
    "................",
};

std::vector<std::string> Mirrored(std::vector<std::string> grid) {
  for (std::string& row : grid) std::reverse(row.begin(), row.end());
  return grid;
}

// Preset row buttons, 16 x 16: save (a disk) and delete (a cross).
const std::vector<std::string> kSavePreset = {
    "................",
    ".kkkkkkkkkkkkkk.",
    ".kbbwwwwwwwwbbk.",
    ".kbbwwwwwwwwbbk.",
    ".kbbwgggggwwbbk.",
    ".kbbwwwwwwwwbbk.",
    ".kbbwgggggwwbbk.",
    ".kbbwwwwwwwwbbk.",
    ".kbbbbbbbbbbbbk.",
    ".kbbllllllllbbk.",
    ".kbbllkkllllbbk.",
    ".kbbllkkllllbbk.",
    ".kbbllkkllllbbk.",
    ".kbbllllllllbbk.",
    ".kkkkkkkkkkkkkk.",
    "................",
};

const std::vector<std::string> kDeletePreset = {
    "................",
    "................",
    "..RR........RR..",
    "..RxR......RxR..",
    "...RxR....RxR...",
    "....RxR..RxR....",
    ".....RxRRxR.....",
    "......RxxR......",
    "......RxxR......",
    ".....RxRRxR.....",
    "....RxR..RxR....",
    "...RxR....RxR...",
    "..RxR......RxR..",
    "..RR........RR..",
    "................",
    "................",
};

// The filter's icon: a figure kept, its background checkered away.
const std::vector<std::string> kIcon = {
    "llwwllwwllwwllww",
    "llwwllwkkkwwllww",
    "wwllwwkbbbkllwwl",
    "wwllwkbbbbbkwwll",
    "llwwlkbbbbbkllww",
    "llwwlkbbbbbkllww",
    "wwllwwkbbbkllwwl",
    "wwllwwlkbkwwllww",
    "llwwkkkbbbkkkwwl",
    "llwkbbbbbbbbbkww",
    "wwkbbbbbbbbbbbkl",
    "wwkbbbbbbbbbbbkl",
    "llkbbbbbbbbbbbkw",
    "llkbbbbbbbbbbbkw",
    "wwkbbbbbbbbbbbkl",
    "wwkkkkkkkkkkkkkl",
};


std::vector<std::string> Recolour(std::vector<std::string> grid, char light, char dark) {
  for (std::string& row : grid) {
    for (char& c : row) {
      if (c == 't') c = light;
      if (c == 'T') c = dark;
    }
  }
  return grid;
}

// The marker for a cursor: the pen without its stroke, its tip at (3, 11).
std::vector<std::string> MarkerCursor(char light, char dark) {
  std::vector<std::string> grid(kMarker.begin(), kMarker.begin() + 12);
  return Recolour(grid, light, dark);
}

// ---- Files -----------------------------------------------------------------------

std::vector<uint8_t> EncodePng(const Picture& picture) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> rgba;
  for (const Rgba& p : picture.pixels) rgba.insert(rgba.end(), {p.r, p.g, p.b, p.a});
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr)) {
    throw std::runtime_error("PNG encoding failed");
  }
  std::vector<uint8_t> bytes(size);
  if (!png_image_write_to_memory(&image, bytes.data(), &size, 0, rgba.data(), 0, nullptr)) {
    throw std::runtime_error("PNG encoding failed");
  }
  bytes.resize(size);
  return bytes;
}

void Put16(std::vector<uint8_t>& out, unsigned v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

// An icon (kind 1) or cursor (kind 2) file of PNG pictures.
std::vector<uint8_t> IconFile(int kind, const std::vector<Picture>& pictures, int hotspotX, int hotspotY) {
  std::vector<std::vector<uint8_t>> encoded;
  for (const Picture& p : pictures) encoded.push_back(EncodePng(p));
  std::vector<uint8_t> out;
  Put16(out, 0);
  Put16(out, static_cast<unsigned>(kind));
  Put16(out, static_cast<unsigned>(pictures.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * pictures.size());
  for (size_t i = 0; i < pictures.size(); ++i) {
    out.push_back(static_cast<uint8_t>(pictures[i].width & 0xFF));
    out.push_back(static_cast<uint8_t>(pictures[i].height & 0xFF));
    out.push_back(0);
    out.push_back(0);
    Put16(out, kind == 2 ? static_cast<unsigned>(hotspotX) : 1u);
    Put16(out, kind == 2 ? static_cast<unsigned>(hotspotY) : 32u);
    Put32(out, static_cast<uint32_t>(encoded[i].size()));
    Put32(out, offset);
    offset += static_cast<uint32_t>(encoded[i].size());
  }
  for (const auto& bytes : encoded) out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

// A 24-bit bitmap file; transparent pixels take the key colour.
std::vector<uint8_t> BitmapFile(const Picture& picture, Rgba key) {
  const uint32_t rowBytes = static_cast<uint32_t>((picture.width * 3 + 3) / 4 * 4);
  const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(picture.height);
  std::vector<uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, 14 + 40 + imageBytes);
  Put32(out, 0);
  Put32(out, 14 + 40);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(picture.width));
  Put32(out, static_cast<uint32_t>(picture.height));
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);
  Put32(out, imageBytes);
  Put32(out, 3780);
  Put32(out, 3780);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = picture.height - 1; y >= 0; --y) {
    size_t written = 0;
    for (int x = 0; x < picture.width; ++x) {
      const Rgba p = picture.At(x, y).a == 0 ? key : picture.At(x, y);
      out.insert(out.end(), {p.b, p.g, p.r});
      written += 3;
    }
    for (; written < rowBytes; ++written) out.push_back(0);
  }
  return out;
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Every picture enlarged eight times over a checkerboard, in rows.
void WritePreview(const std::filesystem::path& path, const std::vector<Picture>& pictures) {
  constexpr int kFactor = 8;
  constexpr int kGap = 8;
  constexpr int kRowWidth = 1100;
  struct Place {
    int x, y;
  };
  std::vector<Place> places;
  int x = kGap, y = kGap, rowHeight = 0, width = 0;
  for (const Picture& p : pictures) {
    if (x > kGap && x + p.width * kFactor > kRowWidth) {
      x = kGap;
      y += rowHeight + kGap;
      rowHeight = 0;
    }
    places.push_back({x, y});
    x += p.width * kFactor + kGap;
    width = std::max(width, x);
    rowHeight = std::max(rowHeight, p.height * kFactor);
  }
  Picture sheet = Blank(width, y + rowHeight + kGap);
  for (int j = 0; j < sheet.height; ++j) {
    for (int i = 0; i < sheet.width; ++i) {
      const bool dark = ((i / 8) + (j / 8)) % 2 == 0;
      sheet.At(i, j) = dark ? Rgba{208, 205, 195, 255} : Rgba{255, 255, 255, 255};
    }
  }
  for (size_t n = 0; n < pictures.size(); ++n) {
    const Picture big = Scaled(pictures[n], kFactor);
    for (int j = 0; j < big.height; ++j) {
      for (int i = 0; i < big.width; ++i) {
        const Rgba s = big.At(i, j);
        Rgba& d = sheet.At(places[n].x + i, places[n].y + j);
        d.r = static_cast<uint8_t>((s.r * s.a + d.r * (255 - s.a)) / 255);
        d.g = static_cast<uint8_t>((s.g * s.a + d.g * (255 - s.a)) / 255);
        d.b = static_cast<uint8_t>((s.b * s.a + d.b * (255 - s.a)) / 255);
      }
    }
  }
  WriteFile(path, EncodePng(sheet));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: DrawPictures OUTPUT-DIRECTORY [PREVIEW.png]\n";
    return 2;
  }
  try {
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);

    const std::vector<Picture> buttons = {
        FromGrid(kZoom, "zoom"),
        FromGrid(kHand, "hand"),
        FromGrid(Recolour(kMarker, 'r', 'R'), "background marker"),
        FromGrid(Recolour(kMarker, 'e', 'E'), "object marker"),
        FromGrid(kDeleteMarks, "delete marks"),
        FromGrid(kBrush, "brush"),
        FromGrid(kReset, "reset"),
        FromGrid(kUndo, "undo"),
        FromGrid(Mirrored(kUndo), "redo"),
    };
    Picture toolBar = Blank(16 * static_cast<int>(buttons.size()), 15);
    for (size_t i = 0; i < buttons.size(); ++i) Paste(toolBar, buttons[i], 16 * static_cast<int>(i), 0);
    WriteFile(out / "ToolBar.bmp", BitmapFile(toolBar, Rgba{255, 0, 255, 255}));

    const Picture save = FromGrid(kSavePreset, "save preset");
    const Picture remove = FromGrid(kDeletePreset, "delete preset");
    WriteFile(out / "SavePreset.png", EncodePng(save));
    WriteFile(out / "DeletePreset.png", EncodePng(remove));

    const Picture icon = FromGrid(kIcon, "icon");
    WriteFile(out / "Kelvane.ico", IconFile(1, {icon, Scaled(icon, 2)}, 0, 0));

    const std::vector<std::string> background = MarkerCursor('r', 'R');
    const std::vector<std::string> object = MarkerCursor('e', 'E');
    // Cursors are 32 x 32 with the picture in the top-left corner.
    const struct {
      const char* file;
      const std::vector<std::string>* grid;
      int hotspotX;
      int hotspotY;
    } cursors[] = {
        {"Zoom.cur", &kZoom, 5, 5},
        {"Hand.cur", &kHand, 8, 8},
        {"MarkBackground.cur", &background, 3, 11},
        {"MarkObject.cur", &object, 3, 11},
    };
    std::vector<Picture> preview = {toolBar, save, remove, icon};
    for (const auto& cursor : cursors) {
      Picture canvas = Blank(32, 32);
      Paste(canvas, FromGrid(*cursor.grid, cursor.file), 0, 0);
      WriteFile(out / cursor.file, IconFile(2, {canvas}, cursor.hotspotX, cursor.hotspotY));
      preview.push_back(canvas);
    }
    if (argc == 3) WritePreview(argv[2], preview);
  } catch (const std::exception& failure) {
    std::cerr << "DrawPictures: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
