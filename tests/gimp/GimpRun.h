// Runs the real GIMP headless with the build's plug-in folder on its plug-in
// path, in a folder of its own: its own GIMP settings, filter settings and
// cache, and no display.
#pragma once

#include <png.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/KelvaneRun.h"

class CGimpFolderTest : public CKelvaneFolderTest {
 protected:
  void SetUp() override {
    CKelvaneFolderTest::SetUp();
    const std::filesystem::path home = m_dir / "gimp";
    // GIMP complains when a writable data folder it saves into is missing.
    std::filesystem::create_directories(home / "gradients");
    std::ofstream(home / "gimprc")
        << "(plug-in-path \"${gimp_dir}/plug-ins:${gimp_plug_in_dir}/plug-ins:"
        << KELVANE_GIMP_PLUGIN_ROOT << "\")\n";
  }

  // Each batch command is evaluated by Script-Fu, then GIMP quits.
  CRun Gimp(const std::string& batch) const {
    const std::string command =
        "cd '" + m_dir.string() + "' && DISPLAY= WAYLAND_DISPLAY= GIMP2_DIRECTORY='" +
        (m_dir / "gimp").string() + "' XDG_CONFIG_HOME='" + (m_dir / "config").string() +
        "' XDG_CACHE_HOME='" + (m_dir / "cache").string() +
        "' gimp-console-2.10 -i -d -f -b '" + batch + "' -b '(gimp-quit 0)' 2>&1";
    return RunCommand(command);
  }
};

// A PNG file's pixels as 8-bit RGBA, or nothing when it cannot be read.
inline std::vector<uint8_t> ReadRgba(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return pixels;
}

// A Scheme string for a text of printable characters and line ends.
inline std::string SchemeString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '\n') {
      quoted += "\\n";
    } else {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
  }
  return quoted + "\"";
}
