// The working copy of the host's layer, and the two row transfers between
// the host's interleaved planes and the working image.
#pragma once

#include <cstdint>

#include "imagecore/CoreImage.h"
#include "platform/HostInterface.h"

class CImageHolder {
 public:
  CImageHolder();
  CImageHolder(const CImageHolder&) = delete;
  CImageHolder& operator=(const CImageHolder&) = delete;

  // The editor always reaches the layer through here, so the image object
  // itself never moves.
  virtual CCoreImage* GetImage();
  virtual ~CImageHolder();

  // Replaces the image by the host's rows (1 grey, 2 grey+alpha, 3 RGB,
  // 4 RGBA planes; red and blue swapped on the way). 0 for another plane
  // count, which leaves the image empty. Core failures are thrown.
  int ReadHostRows(const void* source, int width, int height, int32_t rowBytes, int planes);
  // Writes the image back with the same byte order; 0, writing nothing, for
  // another plane count or an image that does not have the layer's size and
  // format.
  int WriteHostRows(void* destination, int width, int height, int32_t rowBytes, int planes);

  CCoreImage m_layer;
  FilterRecord* m_filterRecord = nullptr;
};
