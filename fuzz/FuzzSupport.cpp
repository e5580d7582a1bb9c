#include "fuzz/FuzzSupport.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/Bitmap.h"

namespace fs = std::filesystem;

namespace {

std::string g_scratch;

void RemoveScratch() {
  std::error_code ignored;
  if (!g_scratch.empty()) fs::remove_all(g_scratch, ignored);
}

}  // namespace

const std::string& ScratchFolder() {
  if (g_scratch.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] == '/' ? base : "/tmp") + "/kelvane-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("kelvane fuzz: cannot make a scratch folder");
      std::abort();
    }
    g_scratch = pattern;
    std::atexit(RemoveScratch);
  }
  return g_scratch;
}

void UsePrivateConfiguration() {
  const std::string config = ScratchFolder() + "/config";
  fs::create_directories(config);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
}

CMemoryFile::CMemoryFile(const uint8_t* data, size_t size) {
  m_fd = memfd_create("kelvane-fuzz-input", MFD_CLOEXEC);
  if (m_fd < 0) return;
  size_t written = 0;
  while (written < size) {
    const ssize_t got = write(m_fd, data + written, size - written);
    if (got <= 0) {
      close(m_fd);
      m_fd = -1;
      return;
    }
    written += static_cast<size_t>(got);
  }
  lseek(m_fd, 0, SEEK_SET);
  m_path = "/proc/self/fd/" + std::to_string(m_fd);
}

CMemoryFile::~CMemoryFile() {
  if (m_fd >= 0) close(m_fd);
}

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out.flush());
}

void ExpectAccepted(bool accepted, const char* what) {
  if (accepted) return;
  const char* required = std::getenv("KELVANE_FUZZ_REQUIRE_VALID");
  if (required && std::strcmp(required, "1") == 0) {
    std::fprintf(stderr, "kelvane fuzz: a seed was refused: %s\n", what);
    std::abort();
  }
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "kelvane fuzz: broken promise: %s\n", what);
  std::abort();
}

std::optional<uint64_t> PackedDibBytes(const uint8_t* data, size_t size, uint64_t limit) {
  BITMAPINFOHEADER header;
  if (size < sizeof header) return std::nullopt;
  std::memcpy(&header, data, sizeof header);
  if (header.biSize < sizeof header || header.biCompression != BI_RGB) return std::nullopt;
  const uint64_t table = static_cast<uint64_t>(DibColourTableEntries(header)) * 4;
  uint64_t total = static_cast<uint64_t>(header.biSize) + table;
  // An empty bitmap reads no rows: the reader stands in a pixel of its own.
  if (header.biWidth != 0 && header.biHeight != 0) {
    if (header.biWidth < 0 || header.biHeight == INT32_MIN || header.biBitCount == 0) return std::nullopt;
    const uint64_t rows = static_cast<uint64_t>(header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight)
                                                                    : header.biHeight);
    const uint64_t rowBytes = static_cast<uint64_t>(DibRowBytes(header.biWidth, header.biBitCount));
    // Checked by division first, so the product cannot wrap.
    if (rowBytes != 0 && rows > limit / rowBytes) return std::nullopt;
    total += rowBytes * rows;
  }
  if (total > limit) return std::nullopt;
  return total;
}
