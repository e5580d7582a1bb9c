#include "PngFile.h"

#include <png.h>
#include <zlib.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/VirtualMemory.h"

namespace {

// Everything a libpng error may jump over is plain data: the jumps below
// never skip a destructor. C++ objects live in the callers.
struct CPngState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[256] = {};
};

void OnPngError(png_structp png, png_const_charp message) {
  CPngState* state = static_cast<CPngState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message ? message : "");
  png_longjmp(png, 1);
}

// Harmless oddities (unknown profiles, bad ancillary chunks) are no reason
// to bother the user.
void OnPngWarning(png_structp, png_const_charp) {}

class CReadGuard {
 public:
  explicit CReadGuard(CPngState& state) : m_state(state) {}
  ~CReadGuard() {
    if (m_state.png) png_destroy_read_struct(&m_state.png, &m_state.info, nullptr);
  }

 private:
  CPngState& m_state;
};

class CWriteGuard {
 public:
  explicit CWriteGuard(CPngState& state) : m_state(state) {}
  ~CWriteGuard() {
    if (m_state.png) png_destroy_write_struct(&m_state.png, &m_state.info);
  }

 private:
  CPngState& m_state;
};

class CFileGuard {
 public:
  explicit CFileGuard(std::FILE* file) : m_file(file) {}
  ~CFileGuard() {
    if (m_file) std::fclose(m_file);
  }
  std::FILE* Get() const { return m_file; }
  // Closes now and tells whether everything buffered reached the file.
  bool Close() {
    std::FILE* file = m_file;
    m_file = nullptr;
    return std::fclose(file) == 0;
  }

 private:
  std::FILE* m_file;
};

// Reads the header and sets the conversions to 8-bit grey, grey+alpha, RGB
// or RGBA. Returns false on a libpng error (message in state).
bool ReadHeader(CPngState* state, std::FILE* file, png_uint_32* width, png_uint_32* height,
                int* channels, int* passes) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  png_init_io(state->png, file);
  png_set_sig_bytes(state->png, 8);
  png_read_info(state->png, state->info);

  const int colourType = png_get_color_type(state->png, state->info);
  const int bitDepth = png_get_bit_depth(state->png, state->info);
  if (bitDepth == 16) png_set_scale_16(state->png);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(state->png);
  if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) {
    png_set_expand_gray_1_2_4_to_8(state->png);
  }
  if (png_get_valid(state->png, state->info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(state->png);
  *passes = png_set_interlace_handling(state->png);
  png_read_update_info(state->png, state->info);

  *width = png_get_image_width(state->png, state->info);
  *height = png_get_image_height(state->png, state->info);
  *channels = png_get_channels(state->png, state->info);
  return true;
}

// Reads the rows into `bytes`. The whole image is reserved (address space
// only) but non-interlaced rows are appended one at a time, so that memory is
// touched only as data actually arrives, not as a damaged header claims.
bool ReadRows(CPngState* state, png_uint_32 width, png_uint_32 height, int channels, int passes,
              std::vector<uint8_t>* bytes) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  const size_t rowSize = static_cast<size_t>(width) * static_cast<size_t>(channels);
  if (passes == 1) {
    bytes->reserve(rowSize * height);
    // Pages are asked for a band of rows ahead of the decoder rather than
    // one fault at a time, still only as far as data arrives.
    constexpr size_t kBandBytes = size_t{1} << 20;
    size_t prefaulted = 0;
    for (png_uint_32 y = 0; y < height; ++y) {
      const size_t start = bytes->size();
      if (start + rowSize > prefaulted) {
        const size_t band = std::min(std::max(kBandBytes, rowSize), rowSize * height - start);
        PrefaultForWriting(bytes->data() + start, band);
        prefaulted = start + band;
      }
      bytes->resize(start + rowSize);
      png_read_row(state->png, bytes->data() + start, nullptr);
    }
  } else {
    bytes->resize(rowSize * height);
    for (int pass = 0; pass < passes; ++pass) {
      for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(state->png, bytes->data() + rowSize * y, nullptr);
      }
    }
  }
  // A file cut off after its pixels is still damaged.
  png_read_end(state->png, nullptr);
  return true;
}

// The written file goes to the disk while the rest is still being
// compressed, so the final fsync waits only for the last stretch.
struct CWriteSink {
  std::FILE* file = nullptr;
  off_t flushedTo = 0;
  off_t written = 0;
};

constexpr off_t kWriteBackStretch = off_t{2} << 20;

void WriteToSink(png_structp png, png_bytep data, png_size_t length) {
  auto* sink = static_cast<CWriteSink*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, length, sink->file) != length) png_error(png, std::strerror(errno));
  sink->written += static_cast<off_t>(length);
  if (sink->written - sink->flushedTo >= kWriteBackStretch) {
    if (std::fflush(sink->file) != 0) png_error(png, std::strerror(errno));
    // Only a start: errors surface at the fsync that follows the last row.
    sync_file_range(fileno(sink->file), sink->flushedTo, sink->written - sink->flushedTo,
                    SYNC_FILE_RANGE_WRITE);
    sink->flushedTo = sink->written;
  }
}

void FlushSink(png_structp png) {
  auto* sink = static_cast<CWriteSink*>(png_get_io_ptr(png));
  if (std::fflush(sink->file) != 0) png_error(png, std::strerror(errno));
}

bool WriteRows(CPngState* state, CWriteSink* sink, png_uint_32 width, png_uint_32 height,
               const uint8_t* rgba) {
  if (setjmp(png_jmpbuf(state->png))) return false;
  png_set_write_fn(state->png, sink, WriteToSink, FlushSink);
  png_set_IHDR(state->png, state->info, width, height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Fast and still small: run-length matching after the one cheap filter
  // finds the repeats of flat areas and cleared alpha without the cost of a
  // match search, and large IDAT chunks keep the per-chunk work down.
  png_set_compression_level(state->png, 1);
  png_set_compression_strategy(state->png, Z_RLE);
  png_set_filter(state->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_compression_buffer_size(state->png, 256 * 1024);
  png_write_info(state->png, state->info);
  const size_t rowSize = static_cast<size_t>(width) * 4;
  for (png_uint_32 y = 0; y < height; ++y) {
    png_write_row(state->png, rgba + rowSize * y);
  }
  png_write_end(state->png, nullptr);
  return true;
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

bool ReadPng(const std::string& path, CPngPixels& pixels, std::string& error) {
  pixels = CPngPixels();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    error = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "cannot read " + Quoted(path) + ": not a regular file";
    return false;
  }
  CFileGuard file(std::fopen(path.c_str(), "rb"));
  if (!file.Get()) {
    error = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  png_byte signature[8] = {};
  const size_t got = std::fread(signature, 1, sizeof signature, file.Get());
  if (std::ferror(file.Get())) {
    error = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
    return false;
  }
  if (got < sizeof signature || png_sig_cmp(signature, 0, sizeof signature) != 0) {
    error = Quoted(path) + " is not a PNG file";
    return false;
  }

  CPngState state;
  CReadGuard guard(state);
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  if (state.png) state.info = png_create_info_struct(state.png);
  if (!state.png || !state.info) {
    error = "cannot read " + Quoted(path) + ": out of memory";
    return false;
  }
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int channels = 0;
  int passes = 1;
  const std::string damaged = Quoted(path) + " is a damaged or truncated PNG file (";
  if (!ReadHeader(&state, file.Get(), &width, &height, &channels, &passes)) {
    error = damaged + state.message + ")";
    return false;
  }
  if (width > static_cast<png_uint_32>(kMaxPngSide) ||
      height > static_cast<png_uint_32>(kMaxPngSide)) {
    error = Quoted(path) + " is " + std::to_string(width) + " x " + std::to_string(height) +
            " pixels; the largest side the filter takes is " + std::to_string(kMaxPngSide);
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadRows(&state, width, height, channels, passes, &bytes)) {
    error = damaged + state.message + ")";
    return false;
  }
  pixels.width = static_cast<int>(width);
  pixels.height = static_cast<int>(height);
  pixels.channels = channels;
  pixels.bytes = std::move(bytes);
  return true;
}

bool WritePngRGBA(const std::string& path, int width, int height, const uint8_t* rgba,
                  std::string& error) {
  const std::string cannot = "cannot write " + Quoted(path) + ": ";
  if (width <= 0 || height <= 0) {
    error = cannot + "the image is empty";
    return false;
  }
  namespace fs = std::filesystem;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // Beside the target, so the rename stays within one file system.
  std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = cannot + std::strerror(errno);
    return false;
  }
  bool written = false;
  {
    CFileGuard file(fdopen(fd, "wb"));
    if (!file.Get()) {
      error = cannot + std::strerror(errno);
      close(fd);
      unlink(temporary.c_str());
      return false;
    }
    CPngState state;
    CWriteGuard guard(state);
    state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
    if (state.png) state.info = png_create_info_struct(state.png);
    if (!state.png || !state.info) {
      error = cannot + "out of memory";
    } else if (CWriteSink sink{file.Get()};
               !WriteRows(&state, &sink, static_cast<png_uint_32>(width),
                          static_cast<png_uint_32>(height), rgba)) {
      error = cannot + state.message;
    } else if (std::fflush(file.Get()) != 0 || fsync(fd) != 0) {
      error = cannot + std::strerror(errno);
    } else {
      // mkstemp's private mode would outlive the rename; take the usual one.
      const mode_t mask = umask(0);
      umask(mask);
      fchmod(fd, 0666 & ~mask);
      written = true;
    }
    if (!file.Close() && written) {
      error = cannot + std::strerror(errno);
      written = false;
    }
  }
  if (written && std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = cannot + std::strerror(errno);
    written = false;
  }
  if (!written) unlink(temporary.c_str());
  return written;
}
