#include "PngEncoder.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
// Deflate with a 32 KiB window, marked as the fastest level.
constexpr uint8_t kZlibHeader[] = {0x78, 0x01};
constexpr uint8_t kFilterUp = 2;
// About this many filtered bytes a band: enough for the compressor to find
// its runs, small enough for every core to get several.
constexpr size_t kBandBytes = size_t{1} << 20;
// Bands compressed ahead of the one being written, per thread: keeps the
// memory held bounded however slow the sink.
constexpr size_t kLeadPerThread = 4;

void PutBig32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

bool WriteChunk(const PngSink& sink, const char type[4], const uint8_t* data, size_t size,
                uint32_t crc) {
  std::string head;
  PutBig32(head, static_cast<uint32_t>(size));
  head.append(type, 4);
  std::string tail;
  PutBig32(tail, crc);
  return sink(reinterpret_cast<const uint8_t*>(head.data()), head.size()) &&
         (size == 0 || sink(data, size)) &&
         sink(reinterpret_cast<const uint8_t*>(tail.data()), tail.size());
}

uint32_t ChunkCrc(const char type[4], const uint8_t* data, size_t size) {
  const uint32_t crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(type), 4);
  return crc32_gzip_refl(crc, data, size);
}

bool WriteWholeChunk(const PngSink& sink, const char type[4], const std::string& data) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
  return WriteChunk(sink, type, bytes, data.size(), ChunkCrc(type, bytes, data.size()));
}

int ColourType(int channels) {
  switch (channels) {
    case 1: return 0;
    case 2: return 4;
    case 3: return 2;
    default: return 6;
  }
}

std::string Header(const CPicture& picture) {
  std::string data;
  PutBig32(data, static_cast<uint32_t>(picture.width));
  PutBig32(data, static_cast<uint32_t>(picture.height));
  data += static_cast<char>(8);
  data += static_cast<char>(ColourType(picture.channels));
  data.append(3, '\0');  // deflate, adaptive filtering, not interlaced
  return data;
}

// Pixels per metre across and down, as the file's pHYs chunk says them.
std::string ResolutionChunk(const CPictureMetadata& metadata) {
  std::string data;
  PutBig32(data, static_cast<uint32_t>(std::lround(metadata.xResolution * 1000)));
  PutBig32(data, static_cast<uint32_t>(std::lround(metadata.yResolution * 1000)));
  data += static_cast<char>(1);  // the unit is the metre
  return data;
}

// The profile's chunk: a name, then the profile deflated as a zlib stream.
bool ProfileChunk(const std::vector<uint8_t>& icc, std::string& data) {
  uLongf packed = compressBound(static_cast<uLong>(icc.size()));
  std::vector<uint8_t> buffer(packed);
  if (compress2(buffer.data(), &packed, icc.data(), static_cast<uLong>(icc.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK) {
    return false;
  }
  data.assign("icc\0\0", 5);
  data.append(reinterpret_cast<const char*>(buffer.data()), packed);
  return true;
}

// XMP travels as international text under its registered keyword,
// uncompressed, with no language or translated keyword.
std::string XmpChunk(const std::vector<uint8_t>& xmp) {
  std::string data("XML:com.adobe.xmp\0\0\0\0\0", 22);
  data.append(reinterpret_cast<const char*>(xmp.data()), xmp.size());
  return data;
}

// One band of rows, filtered and compressed, as an image data chunk's
// contents with its check value, and the Adler-32 of its filtered bytes.
struct CBand {
  bool done = false;
  bool failed = false;
  std::vector<uint8_t> packed;
  uint32_t crc = 0;
  uLong adler = 0;
  size_t filteredBytes = 0;
};

class CBandCompressor {
 public:
  CBandCompressor(const CPicture& picture, int rowsPerBand)
      : m_picture(picture),
        m_rowBytes(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.channels)),
        m_rowsPerBand(rowsPerBand) {}

  int Bands() const { return (m_picture.height + m_rowsPerBand - 1) / m_rowsPerBand; }

  void Compress(int index, CBand& band) {
    const int top = index * m_rowsPerBand;
    const int rows = std::min(m_rowsPerBand, m_picture.height - top);
    const bool last = top + rows == m_picture.height;
    try {
      Filter(top, rows);
      band.filteredBytes = m_filteredBytes;
      band.adler = isal_adler32(1, m_filtered.data(), m_filteredBytes);
      band.failed = !Deflate(last, band.packed);
      band.crc = ChunkCrc("IDAT", band.packed.data(), band.packed.size());
    } catch (const std::bad_alloc&) {
      band.failed = true;
    }
  }

 private:
  // Each row as its difference from the row above: a filter byte, then the
  // bytes. The first row's "above" is zeros.
  void Filter(int top, int rows) {
    m_filteredBytes = static_cast<size_t>(rows) * (m_rowBytes + 1);
    // Zeros past the end, whatever band this buffer held before: nothing a
    // compressor may look at beyond its input depends on the order bands
    // came to this thread.
    m_filtered.resize(m_filteredBytes + kPadding);
    std::fill(m_filtered.begin() + static_cast<ptrdiff_t>(m_filteredBytes), m_filtered.end(), 0);
    uint8_t* to = m_filtered.data();
    for (int y = top; y < top + rows; ++y) {
      const uint8_t* row = m_picture.bytes.data() + static_cast<size_t>(y) * m_rowBytes;
      *to++ = kFilterUp;
      if (y == 0) {
        std::memcpy(to, row, m_rowBytes);
      } else {
        const uint8_t* above = row - m_rowBytes;
        for (size_t x = 0; x < m_rowBytes; ++x) to[x] = static_cast<uint8_t>(row[x] - above[x]);
      }
      to += m_rowBytes;
    }
  }

  // Raw deflate of the filtered bytes at the fastest level. A band before
  // the last ends with a sync flush: byte aligned and not final, so the
  // next band's blocks follow it directly.
  bool Deflate(bool last, std::vector<uint8_t>& packed) {
    if (!m_stream) {
      m_stream = std::make_unique<isal_zstream>();
      m_levelBuffer.resize(ISAL_DEF_LVL1_DEFAULT);
    }
    // Every band starts from the same state, so its bytes depend on its rows
    // alone, never on which band this thread compressed before.
    isal_zstream& stream = *m_stream;
    stream = isal_zstream();
    std::fill(m_levelBuffer.begin(), m_levelBuffer.end(), 0);
    isal_deflate_init(&stream);
    stream.level = 1;
    stream.level_buf = m_levelBuffer.data();
    stream.level_buf_size = static_cast<uint32_t>(m_levelBuffer.size());
    stream.gzip_flag = IGZIP_DEFLATE;
    stream.end_of_stream = last ? 1 : 0;
    stream.flush = last ? NO_FLUSH : SYNC_FLUSH;
    stream.next_in = m_filtered.data();
    stream.avail_in = static_cast<uint32_t>(m_filteredBytes);
    // Stored blocks bound the output: five bytes of header each 64 KiB.
    packed.resize(m_filteredBytes + m_filteredBytes / 8192 + 1024);
    size_t written = 0;
    for (;;) {
      stream.next_out = packed.data() + written;
      stream.avail_out = static_cast<uint32_t>(packed.size() - written);
      if (isal_deflate(&stream) != COMP_OK) return false;
      written = packed.size() - stream.avail_out;
      const int state = stream.internal_state.state;
      if (stream.avail_in == 0 && state == (last ? ZSTATE_END : ZSTATE_NEW_HDR)) break;
      // Only a full output buffer leaves work undone.
      if (stream.avail_out != 0) return false;
      packed.resize(packed.size() * 2);
    }
    packed.resize(written);
    return true;
  }

  const CPicture& m_picture;
  const size_t m_rowBytes;
  const int m_rowsPerBand;
  static constexpr size_t kPadding = 64;
  std::vector<uint8_t> m_filtered;  // the band's filtered rows, then kPadding zeros
  size_t m_filteredBytes = 0;
  // The compressor's state and match tables, kept from band to band.
  std::unique_ptr<isal_zstream> m_stream;
  std::vector<uint8_t> m_levelBuffer;
};

// Compresses the bands on `threads` threads (the caller's among them) and
// hands them to `write` in order, each as soon as all before it are out.
class CBandPipeline {
 public:
  CBandPipeline(const CPicture& picture, int rowsPerBand, unsigned threads)
      : m_picture(picture),
        m_rowsPerBand(rowsPerBand),
        m_bands(static_cast<size_t>(CBandCompressor(picture, rowsPerBand).Bands())),
        m_lead(kLeadPerThread * threads) {
    m_helpers.reserve(threads - 1);
    for (unsigned i = 1; i < threads && i < m_bands.size(); ++i) {
      try {
        m_helpers.emplace_back([this] { Help(); });
      } catch (const std::system_error&) {
        break;  // fewer helpers; the caller compresses what they leave
      }
    }
  }

  ~CBandPipeline() {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_stopped = true;
    }
    m_changed.notify_all();
    for (std::thread& helper : m_helpers) helper.join();
  }

  // False as soon as a band failed or `write` refused one.
  template <typename Write>
  bool Run(Write write) {
    CBandCompressor compressor(m_picture, m_rowsPerBand);
    std::unique_lock<std::mutex> lock(m_lock);
    while (m_written < m_bands.size()) {
      CBand& next = m_bands[m_written];
      if (next.done) {
        lock.unlock();
        const bool ok = !next.failed && write(next);
        next = CBand();
        lock.lock();
        if (!ok) return false;
        ++m_written;
        m_changed.notify_all();
      } else if (!TakeAndCompress(compressor, lock)) {
        // Nothing to take while the lead window is full: sleep, so that the
        // helper holding the next band can hand it in.
        m_changed.wait(lock, [&] { return next.done || CanTake(); });
      }
    }
    return true;
  }

 private:
  void Help() {
    CBandCompressor compressor(m_picture, m_rowsPerBand);
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopped && m_taken < m_bands.size()) {
      if (!TakeAndCompress(compressor, lock)) m_changed.wait(lock, [this] { return CanTake(); });
    }
  }

  bool CanTake() const {
    return m_stopped || (m_taken < m_bands.size() && m_taken < m_written + m_lead);
  }

  // Compresses the next band when one may be taken; false when none was.
  bool TakeAndCompress(CBandCompressor& compressor, std::unique_lock<std::mutex>& lock) {
    if (m_stopped || !CanTake()) return false;
    const size_t index = m_taken++;
    lock.unlock();
    CBand band;
    compressor.Compress(static_cast<int>(index), band);
    lock.lock();
    band.done = true;
    m_bands[index] = std::move(band);
    m_changed.notify_all();
    return true;
  }

  const CPicture& m_picture;
  const int m_rowsPerBand;
  std::vector<CBand> m_bands;
  const size_t m_lead;
  size_t m_taken = 0;
  size_t m_written = 0;
  bool m_stopped = false;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<std::thread> m_helpers;
};

bool WriteImageData(const CPicture& picture, const PngSink& sink, unsigned threads) {
  const size_t rowBytes =
      static_cast<size_t>(picture.width) * static_cast<size_t>(picture.channels) + 1;
  const int rowsPerBand =
      static_cast<int>(std::clamp<size_t>(kBandBytes / rowBytes, 1, static_cast<size_t>(picture.height)));
  uLong adler = adler32(0, nullptr, 0);
  const std::string header(reinterpret_cast<const char*>(kZlibHeader), sizeof kZlibHeader);
  if (!WriteWholeChunk(sink, "IDAT", header)) return false;
  {
    CBandPipeline pipeline(picture, rowsPerBand, threads);
    const bool written = pipeline.Run([&](const CBand& band) {
      adler = adler32_combine(adler, band.adler, static_cast<z_off_t>(band.filteredBytes));
      return WriteChunk(sink, "IDAT", band.packed.data(), band.packed.size(), band.crc);
    });
    if (!written) return false;
  }
  std::string trailer;
  PutBig32(trailer, static_cast<uint32_t>(adler));
  return WriteWholeChunk(sink, "IDAT", trailer);
}

}  // namespace

bool EncodePng(const CPicture& picture, const CPictureMetadata& metadata, const PngSink& sink,
               unsigned threads) {
  if (picture.width <= 0 || picture.height <= 0 || picture.channels < 1 ||
      picture.channels > 4) {
    errno = EINVAL;
    return false;
  }
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  try {
    if (!sink(kSignature, sizeof kSignature) || !WriteWholeChunk(sink, "IHDR", Header(picture))) {
      return false;
    }
    std::string data;
    if (!metadata.icc.empty()) {
      if (!ProfileChunk(metadata.icc, data) || !WriteWholeChunk(sink, "iCCP", data)) return false;
    }
    if (metadata.xResolution > 0 && metadata.yResolution > 0 &&
        !WriteWholeChunk(sink, "pHYs", ResolutionChunk(metadata))) {
      return false;
    }
    if (!metadata.exif.empty()) {
      data.assign(metadata.exif.begin(), metadata.exif.end());
      if (!WriteWholeChunk(sink, "eXIf", data)) return false;
    }
    if (!metadata.xmp.empty() && !WriteWholeChunk(sink, "iTXt", XmpChunk(metadata.xmp))) {
      return false;
    }
    return WriteImageData(picture, sink, threads) && WriteWholeChunk(sink, "IEND", std::string());
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
}
