#include "CoreImage.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>

#include "ColorRef.h"
#include "ImageStorage.h"
#include "Palettes.h"
#include "RowBands.h"

namespace {

constexpr char kTag[] = "CoreImage";

// Serialises mapping a strip and unmapping it; locks of a mapped strip only count.
std::mutex& StripMappingMutex() {
  static std::mutex mutex;
  return mutex;
}

constexpr int kStripRows = 128;
constexpr size_t kBlockGranule = 65536;
// Larger strips than this cannot be described by the int fields of a strip.
constexpr int64_t kMaxRowBytes = INT_MAX / kStripRows;

std::atomic<uint64_t> g_rowBufferAllocations{0};

// Copies `bits` bits starting `srcBit` bits into src to dst from its first
// bit; used when a sub-image of 1- or 4-bit storage does not start on a byte.
void CopyBits(uint8_t* dst, const uint8_t* src, int srcBit, int64_t bits) {
  const int64_t outBytes = (bits + 7) / 8;
  const int64_t srcBytes = (srcBit + bits + 7) / 8;
  for (int64_t k = 0; k < outBytes; ++k) {
    unsigned v = static_cast<unsigned>(src[k]) << srcBit;
    if (srcBit != 0 && k + 1 < srcBytes) v |= static_cast<unsigned>(src[k + 1]) >> (8 - srcBit);
    dst[k] = static_cast<uint8_t>(v);
  }
}

// Writes `value` over bits [phase, phase + bits) of row, most significant bit
// first, leaving the other bits of the edge bytes as they were.
void WriteBits(uint8_t* row, int phase, int64_t bits, uint8_t value) {
  const int64_t endBit = phase + bits;
  const int64_t lastByte = (endBit - 1) / 8;
  for (int64_t i = 0; i <= lastByte; ++i) {
    unsigned mask = 0xFF;
    if (i == 0) mask &= 0xFFu >> phase;
    if (i == lastByte) mask &= (0xFFu << (8 - (endBit - 8 * lastByte))) & 0xFFu;
    if (mask == 0xFF) {
      // The middle bytes are whole; write them in one go.
      const int64_t last = i == lastByte ? i : lastByte - 1;
      std::memset(row + i, value, static_cast<size_t>(last - i + 1));
      i = last;
      continue;
    }
    row[i] = static_cast<uint8_t>((row[i] & ~mask) | (value & mask));
  }
}

void ReplicatePattern(uint8_t* row, const uint8_t* pattern, size_t patternBytes, size_t total) {
  if (total == 0) return;
  std::memcpy(row, pattern, std::min(patternBytes, total));
  size_t done = std::min(patternBytes, total);
  while (done < total) {
    const size_t chunk = std::min(done, total - done);
    std::memcpy(row + done, row, chunk);
    done += chunk;
  }
}

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

CoreResult CreateOrFill(CCoreImage& image, int width, int height, keFormat format,
                        const CColorRef* fill, const CColorRef& defaultColour) {
  if (image.HasStorage() && image.Width() == width && image.Height() == height &&
      image.ViewFormat() == format) {
    return image.Fill(fill ? *fill : defaultColour);
  }
  image.Reset();
  // Zero-filled storage already is the default colour of all four formats.
  return image.Create(width, height, format, fill, nullptr, -1);
}

}  // namespace

// ---- Strips ---------------------------------------------------------------

CImageStrip::~CImageStrip() {
  try {
    m_blockLock.Unlock();
  } catch (const CJException&) {
    // A block that cannot be unlocked is freed all the same.
  }
  if (m_block) m_block->Release();
}

uint8_t* CImageStrip::Lock() {
  for (int count = m_lockCount.load(); count > 0;) {
    if (m_lockCount.compare_exchange_weak(count, count + 1)) return m_firstRow;
  }
  std::lock_guard<std::mutex> mapping(StripMappingMutex());
  if (m_lockCount.load() == 0) {
    auto* base =
        static_cast<uint8_t*>(m_blockLock.Lock(m_block, m_lockOffset, m_lockLength, kTag, __LINE__));
    if (!base) throw CJException(keErrNoStorage);
    m_firstRow = base + static_cast<ptrdiff_t>(m_rows - 1) * -m_stride;
  }
  ++m_lockCount;
  return m_firstRow;
}

void CImageStrip::Unlock() {
  for (int count = m_lockCount.load(); count > 1;) {
    if (m_lockCount.compare_exchange_weak(count, count - 1)) return;
  }
  std::lock_guard<std::mutex> mapping(StripMappingMutex());
  if (m_lockCount.load() <= 0) return;
  if (--m_lockCount == 0) {
    m_blockLock.Unlock();
    m_firstRow = nullptr;
  }
}

// ---- Life cycle -------------------------------------------------------------

CCoreImage::CCoreImage() = default;

CCoreImage::CCoreImage(const CCoreImage& other) { AssignFrom(other); }

CCoreImage& CCoreImage::operator=(const CCoreImage& other) { return AssignFrom(other); }

CCoreImage::~CCoreImage() { Reset(); }

void CCoreImage::FlushRowCache() {
  if (!m_rowCache) return;
  CRowCacheEntry* cache = m_rowCache;
  const int rows = m_rowCacheRows;
  m_rowCache = nullptr;
  m_rowCacheRows = 0;
  for (int y = 0; y < rows; ++y) {
    CRowCacheEntry& entry = cache[y];
    if (!entry.m_buffer) continue;
    // Rows still held are written back as if released.
    if (m_store) {
      const int64_t bit = static_cast<int64_t>(m_storageBpp) * (m_originX + entry.m_x);
      m_convertBitPhase = static_cast<int>(bit % 8);
      m_store(*this, StorageRow(y) + bit / 8, entry.m_buffer, entry.m_count);
    }
    delete[] entry.m_buffer;
  }
  delete[] cache[rows].m_buffer;
  delete[] cache;
}

void CCoreImage::Reset() {
  FlushRowCache();
  // The strips stay locked while any image shares them; the last holder of
  // the row table is the one that unlocks.
  if (m_rowTable && m_rowTable->m_refCount == 1 && m_strips) {
    for (int s = 0; s < m_strips->m_count; ++s) m_strips->m_items[s].Unlock();
  }
  DropShared(m_strips);
  DropShared(m_rowTable);
  DropShared(m_palette);
  m_storageFormat = keFormatNone;
  m_stripGrid = CoreRect();
  m_paletteCount = 0;
  m_storageWidth = 0;
  m_storageHeight = 0;
  m_load = nullptr;
  m_store = nullptr;
  m_rect = CoreRect();
  m_originX = 0;
  m_originY = 0;
  m_storageBpp = 0;
  m_accessMode = keAccessReadWrite;
  m_channelCode = keChannelNone;
  m_viewFormat = keFormatNone;
  m_tag = 0;
  m_channelOffset = 0;
  m_convertBitPhase = 0;
}

CoreResult CCoreImage::Create(int width, int height, keFormat format, const CColorRef* fill,
                              const uint8_t* palette, int paletteCount) {
  Reset();
  if (!FormatIsStorable(format) || width <= 0 || height <= 0) {
    return MakeResult(keErrInvalidArgument);
  }
  CoreResult result = CreateStorage(width, height, format, fill == nullptr, palette, paletteCount);
  if (!result.IsNull()) return result;
  if (fill) return Fill(*fill);
  return result;
}

CoreResult CCoreImage::CreateStorage(int width, int height, keFormat format, bool zero,
                                     const uint8_t* palette, int paletteCount) {
  const int bpp = FormatBitsPerPixel(format);
  const int64_t rowBytes = PaddedRowBytes(width, bpp);
  if (rowBytes > kMaxRowBytes) return MakeResult(keErrOutOfMemory);
  const size_t blockBytes =
      (static_cast<size_t>(rowBytes) * kStripRows + kBlockGranule - 1) / kBlockGranule * kBlockGranule;
  const int stripCount = (height + kStripRows - 1) / kStripRows;

  CPaletteData* paletteData = nullptr;
  CRowTable* rowTable = nullptr;
  CStripArray* strips = nullptr;
  int entries = 0;
  try {
    const int maxEntries = PaletteMaxEntries(format);
    if (maxEntries > 0) {
      paletteData = new CPaletteData;
      entries = paletteCount < 0 ? maxEntries : std::min(paletteCount, maxEntries);
      // Without a palette of its own the image takes the full default.
      if (!palette && entries == 0) entries = maxEntries;
      const uint8_t* source = palette ? palette : DefaultPalette(entries);
      std::memcpy(paletteData->m_entries, source, static_cast<size_t>(entries) * 4);
    }

    rowTable = new CRowTable;
    rowTable->m_rows = new uint8_t*[static_cast<size_t>(height)]();
    rowTable->m_count = height;
    strips = new CStripArray;
    strips->m_items = new CImageStrip[static_cast<size_t>(stripCount)];
    strips->m_count = stripCount;

    for (int s = stripCount - 1; s >= 0; --s) {
      CImageStrip& strip = strips->m_items[s];
      strip.m_format = format;
      strip.m_width = width;
      strip.m_rows = kStripRows;
      strip.m_stride = -static_cast<ptrdiff_t>(rowBytes);
      strip.m_paletteCount = entries;
      strip.m_palette = paletteData ? paletteData->m_entries : nullptr;
      strip.m_lockOffset = 0;
      strip.m_lockLength = blockBytes;
      strip.m_block = CMemAllocator::Instance().Allocate(blockBytes, zero, keMemVirtual, kTag, __LINE__);
    }
    if (height % kStripRows != 0) strips->m_items[stripCount - 1].m_rows = height % kStripRows;

    for (int s = 0; s < stripCount; ++s) {
      CImageStrip& strip = strips->m_items[s];
      uint8_t* first = strip.Lock();
      for (int j = 0; j < strip.m_rows; ++j) {
        rowTable->m_rows[kStripRows * s + j] = first + static_cast<ptrdiff_t>(j) * strip.m_stride;
      }
    }
  } catch (const CJException&) {
    DropShared(strips);
    DropShared(rowTable);
    DropShared(paletteData);
    return MakeResult(keErrOutOfMemory);
  } catch (const std::bad_alloc&) {
    DropShared(strips);
    DropShared(rowTable);
    DropShared(paletteData);
    return MakeResult(keErrOutOfMemory);
  }

  DropShared(m_strips);
  DropShared(m_rowTable);
  DropShared(m_palette);
  m_strips = strips;
  m_rowTable = rowTable;
  m_palette = paletteData;
  m_storageFormat = format;
  m_viewFormat = format;
  m_paletteCount = entries;
  m_storageBpp = bpp;
  m_stripGrid = CoreRect{0, 0, 1, stripCount};
  m_storageWidth = width;
  m_storageHeight = height;
  m_rect = CoreRect{0, 0, width, height};
  m_originX = 0;
  m_originY = 0;
  m_accessMode = keAccessReadWrite;
  m_channelCode = keChannelNone;
  m_channelOffset = 0;
  m_tag = 0;
  return CoreResult();
}

CoreResult CCoreImage::CreateBGRA(int width, int height, const CColorRef* fill) {
  return CreateOrFill(*this, width, height, keFormatBGRA, fill, CColorRef(0, 0, 0, 0));
}

CoreResult CCoreImage::CreateBGR(int width, int height, const CColorRef* fill) {
  return CreateOrFill(*this, width, height, keFormatBGR, fill, CColorRef(0, 0, 0, 255));
}

CoreResult CCoreImage::CreateGrey(int width, int height, const CColorRef* fill) {
  return CreateOrFill(*this, width, height, keFormatGrey, fill, CColorRef(0, 0, 0, 255));
}

CoreResult CCoreImage::CreateGreyA(int width, int height, const CColorRef* fill) {
  return CreateOrFill(*this, width, height, keFormatGreyA, fill, CColorRef(0, 0, 0, 0));
}

CoreResult CCoreImage::CreateLike(int width, int height, const CCoreImage& source, int accessMode,
                                  const CColorRef* fill) {
  if (&source == this) {
    // Creating resets this image, which is also the source: work from a share.
    CCoreImage copy(source);
    return CreateLike(width, height, copy, accessMode, fill);
  }
  Reset();
  // The storage's own palette: a grey view of indexed storage still has one.
  const uint8_t* palette = source.m_palette ? source.m_palette->m_entries : nullptr;
  CoreResult result = Create(width, height, source.StorageFormat(), fill, palette,
                             source.m_palette ? source.m_paletteCount : -1);
  if (!result.IsNull()) return result;
  if (source.ChannelCode() == keChannelNone) {
    result = SetViewFormat(source.ViewFormat(), accessMode);
  } else {
    result = SetChannelView(source.ChannelCode(), accessMode);
  }
  if (!result.IsNull()) return result;
  const CoreRect sourceRect = source.Rect();
  m_rect = CoreRect{sourceRect.left, sourceRect.top, sourceRect.left + width, sourceRect.top + height};
  return result;
}

CoreResult CCoreImage::CreateLike(const CCoreImage& source, int accessMode, const CColorRef* fill) {
  return CreateLike(source.Width(), source.Height(), source, accessMode, fill);
}

// ---- Copies ---------------------------------------------------------------

CoreResult CCoreImage::CopyFrom(const CCoreImage& constSource) {
  if (&constSource == this) return CoreResult();
  // The source's rows are fetched through its row cache, which changes.
  CCoreImage& source = const_cast<CCoreImage&>(constSource);
  CoreResult result;
  try {
    if (CanCopyInPlace(source)) {
      // Storage of this very shape, held by nobody else, is overwritten
      // whole: the outcome is that of fresh storage without the cost of
      // mapping new pages.
      m_rect = CoreRect{0, 0, m_storageWidth, m_storageHeight};
      m_accessMode = keAccessReadWrite;
      m_tag = 0;
      result = PixelCopy(source);
      if (!result.IsNull()) return result;
      const CoreRect sourceRect = source.Rect();
      m_rect = CoreRect{sourceRect.left, sourceRect.top, sourceRect.left + source.Width(),
                        sourceRect.top + source.Height()};
      return result;
    }
    Reset();
    result = Create(source.Width(), source.Height(), source.ViewFormat(), nullptr, source.Palette(),
                    source.PaletteCount());
    if (!result.IsNull()) return result;
    result = PixelCopy(source);
    if (!result.IsNull()) return result;
    const CoreRect sourceRect = source.Rect();
    m_rect = CoreRect{sourceRect.left, sourceRect.top, sourceRect.left + source.Width(),
                      sourceRect.top + source.Height()};
  } catch (const CJException& caught) {
    ResultFromException(result, caught);
  } catch (const std::bad_alloc&) {
    SetResult(result, keErrOutOfMemory);
  }
  return result;
}

CoreResult CCoreImage::PixelCopy(CCoreImage& source) {
  const int width = Width();
  const int height = Height();
  if (!HasStorage() || !source.HasStorage() || width != source.Width() || height != source.Height() ||
      m_viewFormat != source.m_viewFormat) {
    return MakeResult(keErrInvalidArgument);
  }
  const bool direct = !m_rowCache && m_viewFormat == m_storageFormat && !source.m_rowCache &&
                      source.m_viewFormat == source.m_storageFormat;
  if (!direct && ConvertsStraightFrom(source)) {
    // Each row converted from the source's storage into place, rows in bands
    // side by side: what the source's row cache would hand out, without the
    // cache (one row at a time, on one thread) or a second copy.
    const int64_t bit = static_cast<int64_t>(source.m_storageBpp) * source.m_originX;
    source.m_convertBitPhase = 0;
    RunBands(height, BandCount(height, kMinRowsPerBand), [&](int, int first, int last) {
      for (int y = first; y < last; ++y) {
        source.m_load(source, StorageRow(y) + static_cast<int64_t>(m_storageBpp) * m_originX / 8,
                      source.StorageRow(y) + bit / 8, width);
      }
    });
    return CoreResult();
  }
  if (!direct) {
    const size_t bytes = (static_cast<size_t>(FormatBitsPerPixel(m_viewFormat)) * width + 7) / 8;
    for (int y = 0; y < height; ++y) {
      uint8_t* from = nullptr;
      uint8_t* to = nullptr;
      CoreResult result = source.GetRow(y, from);
      if (ExamineResult(result) != 0) return result;
      result = GetRow(y, to);
      if (ExamineResult(result) != 0) {
        source.ReleaseRow(y);
        return result;
      }
      std::memcpy(to, from, bytes);
      ReleaseRow(y);
      source.ReleaseRow(y);
    }
    return CoreResult();
  }

  // Both hold their pixels in this format: copy strip span by strip span
  // straight between the blocks.
  const int bpp = m_storageBpp;
  const int64_t sourceBit = static_cast<int64_t>(bpp) * source.m_originX;
  const int64_t targetBit = static_cast<int64_t>(bpp) * m_originX;
  const int sourcePhase = static_cast<int>(sourceBit % 8);
  const int64_t rowBits = static_cast<int64_t>(bpp) * width;
  const size_t rowBytes = static_cast<size_t>((rowBits + 7) / 8);
  const size_t sourceByteX = static_cast<size_t>(sourceBit / 8);
  const size_t targetByteX = static_cast<size_t>(targetBit / 8);
  const bool wholeRows = sourceBit == 0 && targetBit == 0 &&
                         PaddedRowBytes(source.m_storageWidth, bpp) == PaddedRowBytes(m_storageWidth, bpp);
  // Bands of rows side by side: a copy into new storage is mostly the first
  // touch of its pages, which cores pay for in parallel. Strip locks may be
  // taken from several threads at once.
  const int bands = BandCount(height, kMinRowsPerBand);
  RunBands(height, bands, [&](int, int first, int last) {
    for (int y = first; y < last;) {
      const int sy = source.m_originY + y;
      const int ty = m_originY + y;
      const int n = std::min({kStripRows - sy % kStripRows, kStripRows - ty % kStripRows, last - y});
      CImageStrip& from = source.m_strips->m_items[sy / kStripRows];
      CImageStrip& to = m_strips->m_items[ty / kStripRows];
      const uint8_t* fromFirst = from.Lock();
      uint8_t* toFirst = to.Lock();
      const uint8_t* fromRow = fromFirst + static_cast<ptrdiff_t>(sy % kStripRows) * from.m_stride;
      uint8_t* toRow = toFirst + static_cast<ptrdiff_t>(ty % kStripRows) * to.m_stride;
      if (wholeRows) {
        // Bottom-up rows of equal size lie back to back: the span's last row is
        // its lowest address.
        const ptrdiff_t span = static_cast<ptrdiff_t>(n - 1) * from.m_stride;
        std::memcpy(toRow + span, fromRow + span, static_cast<size_t>(-from.m_stride) * n);
      } else {
        for (int j = 0; j < n; ++j) {
          const uint8_t* s = fromRow + static_cast<ptrdiff_t>(j) * from.m_stride + sourceByteX;
          uint8_t* t = toRow + static_cast<ptrdiff_t>(j) * to.m_stride + targetByteX;
          if (sourcePhase == 0) {
            std::memcpy(t, s, rowBytes);
          } else {
            CopyBits(t, s, sourcePhase, rowBits);
          }
        }
      }
      to.Unlock();
      from.Unlock();
      y += n;
    }
  });
  return CoreResult();
}

// True when PixelCopy can convert the source's rows straight into this
// image's storage: a plain image, and a source whose read-only view converts
// whole bytes and holds no row (a held row is handed out as it stands in the
// cache, which may differ from the storage).
bool CCoreImage::ConvertsStraightFrom(const CCoreImage& source) const {
  if (m_rowCache || m_viewFormat != m_storageFormat || m_channelCode != keChannelNone ||
      m_storageBpp % 8 != 0) {
    return false;
  }
  if (!source.m_rowCache || !source.m_load || source.m_store || source.m_storageBpp % 8 != 0) {
    return false;
  }
  for (int y = 0; y < source.m_rowCacheRows; ++y) {
    if (source.m_rowCache[y].m_buffer) return false;
  }
  return true;
}

// True when CopyFrom can write the source into this image's storage as it
// stands: sole owner, no view, same format and size, and a copy that will
// overwrite every byte of every row (padding included) as a fresh copy would.
bool CCoreImage::CanCopyInPlace(const CCoreImage& source) const {
  if (!HasStorage() || !source.HasStorage()) return false;
  if (m_strips->m_refCount != 1 || m_rowTable->m_refCount != 1 || m_palette) return false;
  if (m_rowCache || m_viewFormat != m_storageFormat || m_channelCode != keChannelNone) return false;
  if (m_originX != 0 || m_originY != 0 || m_rect.left != 0 || m_rect.top != 0 ||
      m_rect.right != m_storageWidth || m_rect.bottom != m_storageHeight) {
    return false;
  }
  if (source.m_rowCache || source.m_viewFormat != source.m_storageFormat) return false;
  if (FormatIsIndexed(source.m_storageFormat) || source.m_storageFormat != m_storageFormat) return false;
  return source.Width() == m_storageWidth && source.Height() == m_storageHeight &&
         source.m_originX == 0 &&
         PaddedRowBytes(source.m_storageWidth, m_storageBpp) == PaddedRowBytes(m_storageWidth, m_storageBpp);
}

CoreResult CCoreImage::ShareFrom(const CCoreImage& source) {
  if (&source == this) {
    RemoveView();
    m_accessMode = keAccessReadWrite;
    return CoreResult();
  }
  if (!source.HasStorage()) {
    Reset();
    return MakeResult(keErrNoStorage);
  }
  // Take the references first: the source may share this image's storage.
  CStripArray* strips = AddShared(source.m_strips);
  CRowTable* rowTable = AddShared(source.m_rowTable);
  CPaletteData* palette = AddShared(source.m_palette);
  Reset();
  m_strips = strips;
  m_rowTable = rowTable;
  m_palette = palette;
  m_paletteCount = source.m_paletteCount;
  m_storageFormat = source.m_storageFormat;
  m_viewFormat = source.m_storageFormat;
  m_stripGrid = source.m_stripGrid;
  m_storageWidth = source.m_storageWidth;
  m_storageHeight = source.m_storageHeight;
  m_rect = source.m_rect;
  m_originX = source.m_originX;
  m_originY = source.m_originY;
  m_storageBpp = source.m_storageBpp;
  m_accessMode = keAccessReadWrite;
  m_channelCode = keChannelNone;
  return CoreResult();
}

CoreResult CCoreImage::SnapshotFrom(const CCoreImage& source) {
  if (&source == this) return CoreResult();
  if (!source.HasStorage() || source.m_rowCache || source.m_viewFormat != source.m_storageFormat ||
      source.m_channelCode != keChannelNone) {
    return CopyFrom(source);
  }
  CoreResult shared = ShareFrom(source);
  if (shared.IsNull()) m_tag = 0;  // as on a copy
  return shared;
}

size_t CCoreImage::StorageBytes() const {
  if (!m_strips) return 0;
  size_t bytes = 0;
  for (int s = 0; s < m_strips->m_count; ++s) bytes += m_strips->m_items[s].m_lockLength;
  return bytes;
}

int CCoreImage::StorageHolders() const { return m_strips ? m_strips->m_refCount.load() : 0; }

bool CCoreImage::SharesStorage() const { return m_strips && m_strips->m_refCount.load() > 1; }

CoreResult CCoreImage::OwnStorage() {
  if (!SharesStorage()) return CoreResult();
  if (m_rowCache || m_viewFormat != m_storageFormat || m_channelCode != keChannelNone) {
    return MakeResult(keErrInvalidArgument);
  }
  CCoreImage own;
  CoreResult copied = own.CopyFrom(*this);
  if (!copied.IsNull()) return copied;
  const int tag = m_tag;
  TakeFrom(own);
  m_tag = tag;
  return CoreResult();
}

CCoreImage& CCoreImage::AssignFrom(const CCoreImage& source) {
  if (&source == this) return *this;
  Reset();
  if (source.HasStorage()) {
    CoreResult result = ShareFrom(source);
    if (ExamineResult(result) == 0) {
      if (source.m_channelCode == keChannelNone && source.m_viewFormat != source.m_storageFormat) {
        result = SetViewFormat(source.m_viewFormat, source.m_accessMode);
      } else {
        result = SetChannelView(source.m_channelCode, source.m_accessMode);
      }
    }
    // The view is the source's own, so only a cache allocation can fail: that
    // failure travels as an exception, the way of unexamined results.
    ThrowIfFailed(std::move(result));
  }
  m_tag = source.m_tag;
  return *this;
}

void CCoreImage::TakeFrom(CCoreImage& source) {
  if (&source == this) return;
  Reset();
  // Held rows go back into the storage before it changes hands.
  source.FlushRowCache();
  m_strips = source.m_strips;
  m_rowTable = source.m_rowTable;
  m_palette = source.m_palette;
  m_paletteCount = source.m_paletteCount;
  m_storageFormat = source.m_storageFormat;
  m_viewFormat = source.m_storageFormat;
  m_stripGrid = source.m_stripGrid;
  m_storageWidth = source.m_storageWidth;
  m_storageHeight = source.m_storageHeight;
  m_rect = source.m_rect;
  m_originX = source.m_originX;
  m_originY = source.m_originY;
  m_storageBpp = source.m_storageBpp;
  m_tag = source.m_tag;
  source.m_strips = nullptr;
  source.m_rowTable = nullptr;
  source.m_palette = nullptr;
  source.Reset();
}

CoreResult CCoreImage::SubImage(const CCoreImage& source, int left, int top, int right, int bottom) {
  if (!source.HasStorage()) return MakeResult(keErrNoStorage);
  const CoreRect outer = source.m_rect;
  // Checked although callers promise it: a rectangle outside would address
  // memory beyond the strips.
  if (left < outer.left || top < outer.top || right > outer.right || bottom > outer.bottom ||
      right <= left || bottom <= top) {
    return MakeResult(keErrInvalidArgument);
  }
  const int originX = source.m_originX + (left - outer.left);
  const int originY = source.m_originY + (top - outer.top);
  CoreResult result = ShareFrom(source);
  if (!result.IsNull()) return result;
  m_rect = CoreRect{left, top, right, bottom};
  m_originX = originX;
  m_originY = originY;
  return result;
}

// ---- Rows ---------------------------------------------------------------

uint8_t* CCoreImage::StorageRow(int y) const { return m_rowTable->m_rows[m_originY + y]; }

CoreResult CCoreImage::GetRow(int y, int x, int count, uint8_t*& row) {
  if (!m_rowTable) return MakeResult(keErrNoStorage);
  const int width = m_rect.right - m_rect.left;
  if (count == -1) count = width - x;
  if (y < 0 || y >= m_rect.bottom - m_rect.top || x < 0 || count < 1 || x > width - count) {
    return MakeResult(keErrInvalidArgument);
  }
  const int64_t bit = static_cast<int64_t>(m_storageBpp) * (m_originX + x);
  uint8_t* storage = m_rowTable->m_rows[m_originY + y] + bit / 8;
  if (!m_rowCache) {
    row = storage;
    return CoreResult();
  }

  CRowCacheEntry& entry = m_rowCache[y];
  if (entry.m_buffer) {
    // A held row can only be fetched again with the span it was fetched with.
    if (entry.m_x != x || entry.m_count != count) return MakeResult(keErrInvalidArgument);
    ++entry.m_lockCount;
    row = entry.m_buffer;
    return CoreResult();
  }
  CRowCacheEntry& spare = m_rowCache[m_rowCacheRows];
  uint8_t* buffer = nullptr;
  if (spare.m_buffer && spare.m_count >= count) {
    buffer = spare.m_buffer;
    spare = CRowCacheEntry();
  } else {
    const size_t bytes = (static_cast<size_t>(count) * FormatBitsPerPixel(m_viewFormat) + 7) / 8;
    // Zeroed, so a write-only view stores no stale bytes the caller left alone.
    buffer = new (std::nothrow) uint8_t[bytes]();
    if (!buffer) return MakeResult(keErrOutOfMemory);
    g_rowBufferAllocations.fetch_add(1, std::memory_order_relaxed);
  }
  entry.m_buffer = buffer;
  entry.m_offset = static_cast<int>(static_cast<int64_t>(x) * m_storageBpp / 8);
  entry.m_count = count;
  entry.m_lockCount = 1;
  entry.m_x = x;
  if (m_load) {
    m_convertBitPhase = static_cast<int>(bit % 8);
    m_load(*this, buffer, storage, count);
  }
  row = buffer;
  return CoreResult();
}

void CCoreImage::ReleaseRow(int y) {
  if (!m_rowCache || y < 0 || y >= m_rowCacheRows) return;
  CRowCacheEntry& entry = m_rowCache[y];
  if (!entry.m_buffer) return;
  if (--entry.m_lockCount > 0) return;
  if (m_store) {
    const int64_t bit = static_cast<int64_t>(m_storageBpp) * (m_originX + entry.m_x);
    m_convertBitPhase = static_cast<int>(bit % 8);
    m_store(*this, StorageRow(y) + bit / 8, entry.m_buffer, entry.m_count);
  }
  // Only one spare is kept: the larger of the two buffers.
  CRowCacheEntry& spare = m_rowCache[m_rowCacheRows];
  if (!spare.m_buffer) {
    spare.m_buffer = entry.m_buffer;
    spare.m_count = entry.m_count;
  } else if (spare.m_count >= entry.m_count) {
    delete[] entry.m_buffer;
  } else {
    delete[] spare.m_buffer;
    spare.m_buffer = entry.m_buffer;
    spare.m_count = entry.m_count;
  }
  entry = CRowCacheEntry();
}

uint64_t CCoreImage::RowBufferAllocations() {
  return g_rowBufferAllocations.load(std::memory_order_relaxed);
}

// ---- Fill -----------------------------------------------------------------

CoreResult CCoreImage::Fill(const CColorRef& colour) {
  if (!HasStorage()) return MakeResult(keErrNoStorage);
  const keFormat format = m_viewFormat;
  if (format < keFormatIndex1 || format > keFormatBGRA_u16) return CoreResult();

  uint8_t pattern[8] = {};
  size_t patternBytes = static_cast<size_t>(FormatBitsPerPixel(format) / 8);
  CoreResult result;
  switch (format) {
    case keFormatIndex1: case keFormatIndex4: case keFormatIndex8: case keFormatIndex8A: {
      int index = 0;
      result = colour.ToIndex(PaletteCount(), Palette(), index);
      if (!result.IsNull()) return result;
      if (format == keFormatIndex1) {
        pattern[0] = (index & 1) ? 0xFF : 0x00;
      } else if (format == keFormatIndex4) {
        pattern[0] = static_cast<uint8_t>((index & 0x0F) * 0x11);
      } else {
        pattern[0] = static_cast<uint8_t>(index);
        pattern[1] = colour.Alpha8();
      }
      break;
    }
    case keFormatGrey: case keFormatGreyA:
      result = colour.ToGrey8(pattern[0], pattern[1]);
      break;
    case keFormatBGR: case keFormatBGRA: case keFormatBGRxA: {
      uint8_t bgra[4];
      result = colour.ToBGRA8(bgra);
      std::memcpy(pattern, bgra, 4);
      break;
    }
    case keFormatGrey_u16: case keFormatGreyA_u16: {
      uint16_t grey = 0, alpha = 0;
      result = colour.ToGrey16(grey, alpha);
      PutU16(pattern, grey);
      PutU16(pattern + 2, alpha);
      break;
    }
    default: {  // BGR_u16, BGRA_u16
      uint16_t red = 0, green = 0, blue = 0, alpha = 0;
      result = colour.ToChannels16(red, green, blue, alpha);
      PutU16(pattern, blue);
      PutU16(pattern + 2, green);
      PutU16(pattern + 4, red);
      PutU16(pattern + 6, alpha);
      break;
    }
  }
  if (!result.IsNull()) return result;

  const int width = Width();
  const int height = Height();
  const bool subByte = format == keFormatIndex1 || format == keFormatIndex4;
  const int bpp = FormatBitsPerPixel(format);
  const int64_t bits = static_cast<int64_t>(bpp) * width;
  // Sub-byte formats are never views, so the row starts inside a storage byte.
  const int phase = subByte ? static_cast<int>(static_cast<int64_t>(m_storageBpp) * m_originX % 8) : 0;
  const size_t rowBytes = static_cast<size_t>(bits / 8);

  uint8_t* first = nullptr;
  result = GetRow(0, first);
  if (!result.IsNull()) return result;
  if (subByte) {
    WriteBits(first, phase, bits, pattern[0]);
  } else {
    ReplicatePattern(first, pattern, patternBytes, rowBytes);
  }
  for (int y = 1; y < height; ++y) {
    uint8_t* row = nullptr;
    result = GetRow(y, row);
    if (!result.IsNull()) {
      ReleaseRow(0);
      return result;
    }
    if (subByte) {
      WriteBits(row, phase, bits, pattern[0]);
    } else {
      std::memcpy(row, first, rowBytes);
    }
    ReleaseRow(y);
  }
  ReleaseRow(0);
  return result;
}

// ---- Accessors -------------------------------------------------------------

bool CCoreImage::HasStorage() const { return m_rowTable != nullptr; }

int CCoreImage::Width() const { return m_rect.right - m_rect.left; }

int CCoreImage::Height() const { return m_rect.bottom - m_rect.top; }

keFormat CCoreImage::StorageFormat() const { return m_storageFormat; }

keFormat CCoreImage::ViewFormat() const { return m_viewFormat; }

const uint8_t* CCoreImage::Palette() const {
  if (m_viewFormat == keFormatGrey || m_viewFormat == keFormatGreyA) return GreyRampPalette();
  return m_palette ? m_palette->m_entries : nullptr;
}

int CCoreImage::PaletteCount() const {
  if (m_viewFormat == keFormatGrey || m_viewFormat == keFormatGreyA) return 256;
  return m_palette ? m_paletteCount : 0;
}

int CCoreImage::ViewBitsPerPixel() const { return FormatBitsPerPixel(m_viewFormat); }

int CCoreImage::RowSize() const {
  return HasStorage() ? static_cast<int>(PaddedRowBytes(m_storageWidth, m_storageBpp)) : 0;
}

int CCoreImage::StripCount() const { return m_strips ? m_strips->m_count : 0; }

bool CCoreImage::GetStripInfo(int strip, CStripInfo& info) const {
  if (!m_strips || strip < 0 || strip >= m_strips->m_count) return false;
  const CImageStrip& s = m_strips->m_items[strip];
  info.blockAddress = static_cast<const uint8_t*>(s.m_blockLock.Address());
  info.blockSize = s.m_block ? s.m_block->Size() : 0;
  info.firstRow = s.m_firstRow;
  info.stride = s.m_stride;
  info.rows = s.m_rows;
  info.width = s.m_width;
  info.format = s.m_format;
  return true;
}
