// CCoreImage: the one raster type. Pixels live in 128-row strips of memory
// blocks shared by reference count; an optional view converts rows on access.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imagecore/CoreResult.h"
#include "imagecore/Formats.h"
#include "platform/Bitmap.h"

class CColorRef;
class CMemBlock;
class CPixelCursor;
struct CStripArray;
struct CRowTable;
struct CPaletteData;
struct CRowCacheEntry;
struct CImageInternals;

enum : int {
  keAccessRead = 0,
  keAccessWrite = 1,
  keAccessReadWrite = 2,
};

struct CoreRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
};

// One strip as it lies in memory: a bottom-up block of rows (negative
// stride), so it can be handed to the system as a bitmap unchanged.
struct CStripInfo {
  const uint8_t* blockAddress = nullptr;  // lowest address of the locked block
  size_t blockSize = 0;
  uint8_t* firstRow = nullptr;  // the strip's top row, at the highest address
  ptrdiff_t stride = 0;         // bytes from one row to the next (negative)
  int rows = 0;
  int width = 0;  // pixels, as created (rows are padded to 128 pixels)
  keFormat format = keFormatNone;
};

class CCoreImage {
 public:
  // (image, destination, source, pixel count): converts one row span between
  // the storage format and the view format.
  using RowConverter = void (*)(CCoreImage& image, uint8_t* dst, const uint8_t* src, int count);

  CCoreImage();
  // Copies share storage, as AssignFrom does; CopyFrom makes a deep copy.
  CCoreImage(const CCoreImage& other);
  CCoreImage& operator=(const CCoreImage& other);
  virtual ~CCoreImage();

  // ---- Life cycle and storage -------------------------------------------

  void Reset();
  // Formats 1..14. Without a fill colour the pixels are zero. Indexed formats
  // take up to paletteCount entries (negative: all) of `palette`, or the
  // default palette when none is given.
  CoreResult Create(int width, int height, keFormat format, const CColorRef* fill,
                    const uint8_t* palette, int paletteCount);
  // When the image already has storage of this size viewed in the wanted
  // format, it is only filled. Defaults: transparent black for BGRA and
  // GreyA, opaque black for BGR and Grey.
  CoreResult CreateBGRA(int width, int height, const CColorRef* fill = nullptr);
  CoreResult CreateBGR(int width, int height, const CColorRef* fill = nullptr);
  CoreResult CreateGrey(int width, int height, const CColorRef* fill = nullptr);
  CoreResult CreateGreyA(int width, int height, const CColorRef* fill = nullptr);
  // New storage in the source's storage format and palette, with the source's
  // view repeated and the rectangle placed at the source's left and top.
  CoreResult CreateLike(int width, int height, const CCoreImage& source,
                        int accessMode = keAccessReadWrite, const CColorRef* fill = nullptr);
  CoreResult CreateLike(const CCoreImage& source, int accessMode = keAccessReadWrite,
                        const CColorRef* fill = nullptr);

  // Deep copy in the source's view format. The source's rows are read through
  // its own row protocol (so a read-write view of the source writes back).
  CoreResult CopyFrom(const CCoreImage& source);
  // Shallow copy: shares strips, row table and palette; no view.
  CoreResult ShareFrom(const CCoreImage& source);
  // A copy that costs a reference where it can: a source without a view is
  // shared, and whichever of the two is written first copies it then (see
  // OwnStorage); a source with a view is copied as CopyFrom copies it.
  CoreResult SnapshotFrom(const CCoreImage& source);
  // Shallow copy that also repeats the source's view and tag word.
  CCoreImage& AssignFrom(const CCoreImage& source);
  // Whether another image (or a cursor) holds this image's storage too.
  bool SharesStorage() const;
  // The storage's identity (equal for images sharing it; null without
  // storage) and the bytes its strips take, for accounting of what is kept.
  const void* StorageId() const { return m_strips; }
  size_t StorageBytes() const;
  // How many images (and cursors) hold the storage; 0 without storage.
  int StorageHolders() const;
  // Storage shared with others is never written: an image about to be
  // written while shared first takes a copy of its pixels as storage of its
  // own (an image with a view cannot: 101). Shared copies thus behave as
  // values, and a snapshot costs a reference until someone writes.
  CoreResult OwnStorage();
  // Takes over the source's storage; the source is left empty.
  void TakeFrom(CCoreImage& source);
  // Shares the source's storage for the rectangle (in the source's
  // coordinates), which must lie within the source's rectangle (else 101).
  CoreResult SubImage(const CCoreImage& source, int left, int top, int right, int bottom);

  // ---- Import ---------------------------------------------------------

  // New storage holding a copy of `height` rows of pixels, row y at
  // firstRow + y * stride (negative for bottom-up blocks). The palette (4-byte
  // entries) is used by indexed formats only. A failure part-way leaves the
  // image empty; argument errors (101) leave it unchanged.
  CoreResult FromPixels(keFormat format, int width, int height, const uint8_t* firstRow,
                        ptrdiff_t stride, int paletteCount, const uint8_t* palette);
  // From a packed device-independent bitmap: header, colour table, bits.
  // keFormatNone derives the format from the bit count (8 and 16 bits with
  // the grey ramp as palette become Grey and GreyA).
  CoreResult FromPackedDib(const void* dib, keFormat format = keFormatNone);
  // From a device bitmap, its indices read through the palette (none: the
  // standard one).
  CoreResult FromBitmap(HBITMAP bitmap, HPALETTE palette = nullptr);

  // ---- Drawing --------------------------------------------------------

  // Stretches the source rectangle (pixels from the image's top-left) onto
  // the destination rectangle (the device's logical units), handing each
  // 128-row strip over as it lies in memory. Index1, Index4, Index8, Grey,
  // BGR and BGRA storage can be drawn (else 110); empty rectangles give 101.
  CoreResult Draw(CDeviceContext& dc, const CoreRect& source, const CoreRect& destination,
                  uint32_t rop);
  // A width or height of 0 means the image's; the pixels are copied.
  CoreResult Draw(CDeviceContext& dc, int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                  int destX, int destY, int destWidth, int destHeight);

  // ---- Row access -----------------------------------------------------

  // Rows are handed out in the view format; every successful GetRow is
  // paired with exactly one ReleaseRow(y). count -1 means up to the right edge.
  CoreResult GetRow(int y, int x, int count, uint8_t*& row);
  CoreResult GetRow(int y, uint8_t*& row) { return GetRow(y, 0, -1, row); }
  void ReleaseRow(int y);

  // ---- Views ------------------------------------------------------------

  // Presents the storage in another format (0: the storage format again) or
  // one channel as a grey image; accessMode 0 read, 1 write, 2 both.
  CoreResult SetViewFormat(keFormat format, int accessMode);
  CoreResult SetChannelView(int channelCode, int accessMode);

  // Every pixel of the rectangle set to the colour, in the view format
  // (formats 1..13; others are left unchanged).
  CoreResult Fill(const CColorRef& colour);

  // In place over the storage; false (nothing changed) unless the view
  // format is GreyA, BGRA or BGRxA.
  bool Premultiply();
  bool Unpremultiply();

  // ---- Accessors --------------------------------------------------------

  bool HasStorage() const;
  int Width() const;
  int Height() const;
  CoreRect Rect() const { return m_rect; }
  keFormat StorageFormat() const;
  keFormat ViewFormat() const;
  // The palette as 4-byte entries (blue, green, red, 0); 8-bit grey formats
  // answer the grey ramp with 256 entries. Null and 0 otherwise.
  const uint8_t* Palette() const;
  int PaletteCount() const;
  int BitsPerPixel() const { return m_storageBpp; }
  int ViewBitsPerPixel() const;
  int Tag() const { return m_tag; }
  void SetTag(int tag) { m_tag = tag; }
  int AccessMode() const { return m_accessMode; }
  int ChannelCode() const { return m_channelCode; }
  int ChannelOffset() const { return m_channelOffset; }
  bool HasRowCache() const { return m_rowCache != nullptr; }

  // Storage description, for drawing and diagnostics.
  int StorageWidth() const { return m_storageWidth; }
  int StorageHeight() const { return m_storageHeight; }
  int OriginX() const { return m_originX; }
  int OriginY() const { return m_originY; }
  int RowSize() const;  // bytes of one padded storage row
  int StripCount() const;
  bool GetStripInfo(int strip, CStripInfo& info) const;

  // Row buffers allocated by views since the process started (all images).
  static uint64_t RowBufferAllocations();

 private:
  friend class CPixelCursor;
  friend struct CImageInternals;

  CoreResult CreateStorage(int width, int height, keFormat format, bool zero,
                           const uint8_t* palette, int paletteCount);
  void FlushRowCache();
  bool ConvertsStraightFrom(const CCoreImage& source) const;
  CoreResult InstallConverters(RowConverter load, RowConverter store, int accessMode);
  void RemoveView();
  CoreResult PixelCopy(CCoreImage& source);
  bool CanCopyInPlace(const CCoreImage& source) const;
  uint8_t* StorageRow(int y) const;

  keFormat m_storageFormat = keFormatNone;
  CoreRect m_stripGrid;
  CStripArray* m_strips = nullptr;
  CPaletteData* m_palette = nullptr;
  int m_paletteCount = 0;
  int m_storageWidth = 0;
  int m_storageHeight = 0;
  RowConverter m_load = nullptr;
  RowConverter m_store = nullptr;
  CRowTable* m_rowTable = nullptr;
  CoreRect m_rect;
  int m_originX = 0;
  int m_originY = 0;
  int m_storageBpp = 0;
  int m_accessMode = keAccessReadWrite;
  int m_channelCode = keChannelNone;
  keFormat m_viewFormat = keFormatNone;
  CRowCacheEntry* m_rowCache = nullptr;
  int m_tag = 0;
  int m_channelOffset = 0;
  // Beyond the description: entries in the row cache (without the spare), and
  // the bit position within its first byte of the span being converted (1-
  // and 4-bit storage only).
  int m_rowCacheRows = 0;
  int m_convertBitPhase = 0;
};
