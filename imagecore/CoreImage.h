// CCoreImage: the one raster type. Pixels live in 128-row strips of memory
// blocks shared by reference count; an optional view converts rows on access.
#pragma once

#include <cstdint>

#include "imagecore/CoreResult.h"
#include "imagecore/Formats.h"

class CColorRef;

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

class CCoreImage {
 public:
  CCoreImage();
  // Copies share storage, as AssignFrom does; CopyFrom makes a deep copy.
  CCoreImage(const CCoreImage& other);
  CCoreImage& operator=(const CCoreImage& other);
  virtual ~CCoreImage();

  void Reset();
  CoreResult Create(int width, int height, keFormat format, const CColorRef* fill,
                    const uint8_t* palette, int paletteCount);
  CoreResult CreateBGRA(int width, int height, const CColorRef* fill = nullptr);
  CoreResult CreateBGR(int width, int height, const CColorRef* fill = nullptr);
  CoreResult CreateGrey(int width, int height, const CColorRef* fill = nullptr);
  CoreResult CreateGreyA(int width, int height, const CColorRef* fill = nullptr);

  // Rows are handed out in the view format; every successful GetRow is
  // paired with exactly one ReleaseRow(y). count -1 means up to the right edge.
  CoreResult GetRow(int y, int x, int count, uint8_t*& row);
  CoreResult GetRow(int y, uint8_t*& row) { return GetRow(y, 0, -1, row); }
  void ReleaseRow(int y);

  bool HasStorage() const;
  int Width() const;
  int Height() const;
  keFormat StorageFormat() const;
  keFormat ViewFormat() const;

  // The rest of the interface (views, copies, fills, alpha conversion and
  // the storage description) is declared below this line.
};
