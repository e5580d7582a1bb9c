// Format and channel views: the row converters between storage and view, and
// their installation in an image's row cache.
#include <new>

#include "AlphaConversion.h"
#include "CoreImage.h"
#include "ImageStorage.h"

namespace {

using RowConverter = CCoreImage::RowConverter;

const uint8_t* PaletteOf(const CCoreImage& image) {
  return CImageInternals::PaletteData(image)->m_entries;
}

// ---- Unpacking and packing of 1- and 4-bit indices -------------------------

uint8_t Index1At(const uint8_t* row, int bit) { return (row[bit >> 3] >> (7 - (bit & 7))) & 1; }

uint8_t Index4At(const uint8_t* row, int nibble) {
  const uint8_t byte = row[nibble >> 1];
  return (nibble & 1) ? (byte & 0x0F) : (byte >> 4);
}

void LoadIndex1ToIndex8(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const int phase = CImageInternals::BitPhase(image);
  for (int i = 0; i < count; ++i) dst[i] = Index1At(src, phase + i);
}

// Bit by bit, so the bits of the edge bytes outside the span keep their value.
void StoreIndex8ToIndex1(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const int phase = CImageInternals::BitPhase(image);
  for (int i = 0; i < count; ++i) {
    const int bit = phase + i;
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit & 7));
    if (src[i] & 1) {
      dst[bit >> 3] |= mask;
    } else {
      dst[bit >> 3] &= static_cast<uint8_t>(~mask);
    }
  }
}

void LoadIndex4ToIndex8(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const int first = CImageInternals::BitPhase(image) / 4;
  for (int i = 0; i < count; ++i) dst[i] = Index4At(src, first + i);
}

void StoreIndex8ToIndex4(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const int first = CImageInternals::BitPhase(image) / 4;
  for (int i = 0; i < count; ++i) {
    const int nibble = first + i;
    uint8_t& byte = dst[nibble >> 1];
    const uint8_t value = src[i] & 0x0F;
    byte = (nibble & 1) ? static_cast<uint8_t>((byte & 0xF0) | value)
                        : static_cast<uint8_t>((byte & 0x0F) | (value << 4));
  }
}

// Palette colours, alpha 255; `Bytes` is the view's pixel size (3 or 4).
template <int Bytes>
void PutPaletteColour(uint8_t* dst, const uint8_t* palette, unsigned index) {
  const uint8_t* entry = palette + 4 * index;
  dst[0] = entry[0];
  dst[1] = entry[1];
  dst[2] = entry[2];
  if (Bytes == 4) dst[3] = 255;
}

template <int Bytes>
void LoadIndex1ToColour(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const uint8_t* palette = PaletteOf(image);
  const int phase = CImageInternals::BitPhase(image);
  for (int i = 0; i < count; ++i, dst += Bytes) PutPaletteColour<Bytes>(dst, palette, Index1At(src, phase + i));
}

template <int Bytes>
void LoadIndex4ToColour(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const uint8_t* palette = PaletteOf(image);
  const int first = CImageInternals::BitPhase(image) / 4;
  for (int i = 0; i < count; ++i, dst += Bytes) PutPaletteColour<Bytes>(dst, palette, Index4At(src, first + i));
}

template <int Bytes>
void LoadIndex8ToColour(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const uint8_t* palette = PaletteOf(image);
  for (int i = 0; i < count; ++i, dst += Bytes) PutPaletteColour<Bytes>(dst, palette, src[i]);
}

// ---- Indexed with and without alpha ----------------------------------------

void LoadIndex8ToIndex8A(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i) {
    dst[2 * i] = src[i];
    dst[2 * i + 1] = 255;
  }
}

void StoreIndex8AToIndex8(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i) dst[i] = src[2 * i];
}

void LoadIndex8AToBGRA(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  const uint8_t* palette = PaletteOf(image);
  for (int i = 0; i < count; ++i, dst += 4, src += 2) {
    const uint8_t* entry = palette + 4 * src[0];
    dst[0] = entry[0];
    dst[1] = entry[1];
    dst[2] = entry[2];
    dst[3] = src[1];
  }
}

// ---- Grey and colour --------------------------------------------------------

// Grey into blue, green and red; with InAlpha the source carries alpha, with
// OutAlpha the destination does (255 when the source has none).
template <bool InAlpha, bool OutAlpha>
void LoadGreyToColour(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i) {
    const uint8_t g = src[0];
    dst[0] = g;
    dst[1] = g;
    dst[2] = g;
    if (OutAlpha) dst[3] = InAlpha ? src[1] : 255;
    src += InAlpha ? 2 : 1;
    dst += OutAlpha ? 4 : 3;
  }
}

// Luminance of colour pixels into grey pixels, alpha passed on when both
// sides carry it and set to 255 when only the grey side does.
template <int InBytes, bool OutAlpha>
void ColourToGrey(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i) {
    dst[0] = Luminance(src[2], src[1], src[0]);
    if (OutAlpha) dst[1] = InBytes == 4 ? src[3] : 255;
    src += InBytes;
    dst += OutAlpha ? 2 : 1;
  }
}

void LoadGreyToGreyA(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i) {
    dst[2 * i] = src[i];
    dst[2 * i + 1] = 255;
  }
}

void StoreGreyAToGrey(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i) dst[i] = src[2 * i];
}

void LoadBGRToBGRA(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i, dst += 4, src += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    dst[3] = 255;
  }
}

void DropAlphaBGRA(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i, dst += 3, src += 4) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

// BGR view written back into BGRA storage: the stored alpha stays.
void StoreBGRKeepAlpha(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  for (int i = 0; i < count; ++i, dst += 4, src += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

// ---- Premultiplied alpha ------------------------------------------------------

void PremultiplyConverter(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  PremultiplyBGRARow(dst, src, count);
}

void UnpremultiplyConverter(CCoreImage&, uint8_t* dst, const uint8_t* src, int count) {
  UnpremultiplyBGRARow(dst, src, count);
}

// ---- Channels ---------------------------------------------------------------

template <int Bytes>
void ExtractChannel(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  src += image.ChannelOffset();
  for (int i = 0; i < count; ++i) dst[i] = src[i * Bytes];
}

template <int Bytes>
void InsertChannel(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count) {
  dst += image.ChannelOffset();
  for (int i = 0; i < count; ++i) dst[i * Bytes] = src[i];
}

// ---- Tables -------------------------------------------------------------------

struct CViewPair {
  keFormat storage;
  keFormat view;
  RowConverter load;
  RowConverter store;  // null: the view can only be read
};

const CViewPair kViewPairs[] = {
    {keFormatIndex1, keFormatIndex8, LoadIndex1ToIndex8, StoreIndex8ToIndex1},
    {keFormatIndex1, keFormatBGR, LoadIndex1ToColour<3>, nullptr},
    {keFormatIndex1, keFormatBGRA, LoadIndex1ToColour<4>, nullptr},
    {keFormatIndex4, keFormatIndex8, LoadIndex4ToIndex8, StoreIndex8ToIndex4},
    {keFormatIndex4, keFormatBGR, LoadIndex4ToColour<3>, nullptr},
    {keFormatIndex4, keFormatBGRA, LoadIndex4ToColour<4>, nullptr},
    {keFormatIndex8, keFormatIndex8A, LoadIndex8ToIndex8A, StoreIndex8AToIndex8},
    {keFormatIndex8, keFormatBGR, LoadIndex8ToColour<3>, nullptr},
    {keFormatIndex8, keFormatBGRA, LoadIndex8ToColour<4>, nullptr},
    {keFormatIndex8A, keFormatIndex8, StoreIndex8AToIndex8, LoadIndex8ToIndex8A},
    {keFormatIndex8A, keFormatBGRA, LoadIndex8AToBGRA, nullptr},
    {keFormatGrey, keFormatGreyA, LoadGreyToGreyA, StoreGreyAToGrey},
    {keFormatGrey, keFormatBGR, LoadGreyToColour<false, false>, ColourToGrey<3, false>},
    {keFormatGrey, keFormatBGRA, LoadGreyToColour<false, true>, ColourToGrey<4, false>},
    {keFormatGreyA, keFormatBGRA, LoadGreyToColour<true, true>, ColourToGrey<4, true>},
    {keFormatBGR, keFormatGrey, ColourToGrey<3, false>, LoadGreyToColour<false, false>},
    {keFormatBGR, keFormatGreyA, ColourToGrey<3, true>, LoadGreyToColour<true, false>},
    {keFormatBGR, keFormatBGRA, LoadBGRToBGRA, DropAlphaBGRA},
    {keFormatBGRA, keFormatGreyA, ColourToGrey<4, true>, LoadGreyToColour<true, true>},
    {keFormatBGRA, keFormatBGR, DropAlphaBGRA, LoadBGRToBGRA},
    {keFormatBGRA, keFormatBGRxA, PremultiplyConverter, UnpremultiplyConverter},
    {keFormatBGRxA, keFormatBGRA, UnpremultiplyConverter, PremultiplyConverter},
};

struct CChannelView {
  keFormat storage;
  int code;
  keFormat view;
  int offset;
  RowConverter load;  // both null: the storage itself is the view
  RowConverter store;
};

const CChannelView kChannelViews[] = {
    {keFormatGrey, 4, keFormatGrey, 0, nullptr, nullptr},
    {keFormatIndex8, 5, keFormatIndex8, 0, nullptr, nullptr},
    {keFormatBGR, keChannelColour, keFormatBGR, 0, nullptr, nullptr},
    {keFormatIndex8A, 5, keFormatIndex8, 0, ExtractChannel<2>, InsertChannel<2>},
    {keFormatIndex8A, 3, keFormatGrey, 1, ExtractChannel<2>, InsertChannel<2>},
    {keFormatGreyA, 3, keFormatGrey, 1, ExtractChannel<2>, InsertChannel<2>},
    {keFormatGreyA, 4, keFormatGrey, 0, ExtractChannel<2>, InsertChannel<2>},
    {keFormatBGR, 0, keFormatGrey, 0, ExtractChannel<3>, InsertChannel<3>},
    {keFormatBGR, 1, keFormatGrey, 1, ExtractChannel<3>, InsertChannel<3>},
    {keFormatBGR, 2, keFormatGrey, 2, ExtractChannel<3>, InsertChannel<3>},
    {keFormatBGRA, 0, keFormatGrey, 0, ExtractChannel<4>, InsertChannel<4>},
    {keFormatBGRA, 1, keFormatGrey, 1, ExtractChannel<4>, InsertChannel<4>},
    {keFormatBGRA, 2, keFormatGrey, 2, ExtractChannel<4>, InsertChannel<4>},
    {keFormatBGRA, 3, keFormatGrey, 3, ExtractChannel<4>, InsertChannel<4>},
    {keFormatBGRA, keChannelColour, keFormatBGR, 0, DropAlphaBGRA, StoreBGRKeepAlpha},
};

const CViewPair* FindViewPair(keFormat storage, keFormat view) {
  for (const CViewPair& pair : kViewPairs) {
    if (pair.storage == storage && pair.view == view) return &pair;
  }
  return nullptr;
}

const CChannelView* FindChannelView(keFormat storage, int code) {
  for (const CChannelView& channel : kChannelViews) {
    if (channel.storage == storage && channel.code == code) return &channel;
  }
  return nullptr;
}

bool ValidAccessMode(int mode) { return mode >= keAccessRead && mode <= keAccessReadWrite; }

}  // namespace

void CCoreImage::RemoveView() {
  FlushRowCache();
  m_load = nullptr;
  m_store = nullptr;
  m_viewFormat = m_storageFormat;
  m_channelCode = keChannelNone;
  m_channelOffset = 0;
}

CoreResult CCoreImage::InstallConverters(RowConverter load, RowConverter store, int accessMode) {
  if (accessMode == keAccessRead) store = nullptr;
  if (accessMode == keAccessWrite) load = nullptr;
  CRowCacheEntry* cache = nullptr;
  const int rows = Height();
  if (load || store) {
    // One entry per row and the spare; made before the old cache goes, so a
    // failure leaves the current view in place.
    cache = new (std::nothrow) CRowCacheEntry[static_cast<size_t>(rows) + 1]();
    if (!cache) return MakeResult(keErrOutOfMemory);
  }
  FlushRowCache();
  m_load = load;
  m_store = store;
  m_rowCache = cache;
  m_rowCacheRows = cache ? rows : 0;
  return CoreResult();
}

CoreResult CCoreImage::SetViewFormat(keFormat format, int accessMode) {
  if (!HasStorage()) return MakeResult(keErrNoStorage);
  if (!ValidAccessMode(accessMode)) return MakeResult(keErrInvalidArgument);
  if (format == keFormatNone) format = m_storageFormat;
  if (format == m_storageFormat) {
    // A channel view already presents the storage; it stays.
    if (m_channelCode != keChannelNone) return CoreResult();
    RemoveView();
    m_accessMode = accessMode;
    return CoreResult();
  }
  if (m_channelCode != keChannelNone) return MakeResult(keErrInvalidArgument);
  const CViewPair* pair = FindViewPair(m_storageFormat, format);
  if (!pair) return MakeResult(keErrInvalidArgument);
  if (!pair->store && accessMode != keAccessRead) return MakeResult(keErrInvalidArgument);
  CoreResult result = InstallConverters(pair->load, pair->store, accessMode);
  if (!result.IsNull()) return result;
  m_viewFormat = format;
  m_channelCode = keChannelNone;
  m_channelOffset = 0;
  m_accessMode = accessMode;
  return result;
}

CoreResult CCoreImage::SetChannelView(int channelCode, int accessMode) {
  if (!HasStorage()) return MakeResult(keErrNoStorage);
  if (!ValidAccessMode(accessMode)) return MakeResult(keErrInvalidArgument);
  const CChannelView* channel = FindChannelView(m_storageFormat, channelCode);
  const bool identity = channel && !channel->load && !channel->store;
  const bool formatView = m_viewFormat != m_storageFormat && m_channelCode == keChannelNone;
  if (formatView) {
    // The format view stays; only what it already presents is accepted.
    if (channelCode == keChannelNone || identity) return CoreResult();
    return MakeResult(keErrInvalidArgument);
  }
  if (channelCode == keChannelNone || identity) {
    RemoveView();
    m_channelCode = channelCode;
    m_accessMode = accessMode;
    return CoreResult();
  }
  if (!channel) return MakeResult(keErrInvalidArgument);
  CoreResult result = InstallConverters(channel->load, channel->store, accessMode);
  if (!result.IsNull()) return result;
  m_viewFormat = channel->view;
  m_channelOffset = channel->offset;
  m_channelCode = channelCode;
  m_accessMode = accessMode;
  return result;
}
