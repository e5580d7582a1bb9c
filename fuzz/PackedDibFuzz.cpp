// Packed device-independent bitmaps, as the module's bitmap resources and
// the system's clipboard-style blocks are imported into images.
#include <cstdint>
#include <cstring>
#include <optional>

#include "fuzz/FuzzSupport.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"
#include "platform/Bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The importer takes a pointer alone and trusts the header for the
  // block's length; only blocks as long as their header says are handed in.
  const std::optional<uint64_t> needed = PackedDibBytes(data, size, size);
  if (!needed) {
    ExpectAccepted(false, "the header describes a bitmap within the input");
    return 0;
  }
  BITMAPINFOHEADER header;
  std::memcpy(&header, data, sizeof header);
  CCoreImage image;
  CoreResult result = image.FromPackedDib(data);
  const bool imported = ExamineResult(result) == 0;
  if (imported) {
    const int64_t height = header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight) : header.biHeight;
    const bool empty = header.biWidth == 0 || header.biHeight == 0;
    Require(image.Width() == (empty ? 1 : header.biWidth) && image.Height() == (empty ? 1 : height),
            "an imported bitmap keeps its size");
    // Every row can be read.
    for (int y = 0; y < image.Height(); ++y) {
      bool read = false;
      try {
        const CRowLease row(image, y);
        read = row.Data() != nullptr;
      } catch (const CJException&) {
      }
      Require(read, "every row of an imported bitmap can be read");
    }
  }
  ExpectAccepted(imported, "a seed bitmap is imported");
  return 0;
}
