// Where a pointer position lands in the image: the view's scroll position,
// client size and zoom, and the rules that turn a window point into a mark
// pixel, a mark pixel back into a window point, and a pointer into a dab.
#pragma once

#include "engine/MatteDocument.h"

struct CClientPoint {
  int x = 0;
  int y = 0;
  bool operator==(const CClientPoint&) const = default;
};

struct CViewGeometry {
  int scrollX = 0;
  int scrollY = 0;
  int clientWidth = 0;
  int clientHeight = 0;
  double zoom = 1.0;
  int imageWidth = 0;
  int imageHeight = 0;

  // Zoom 1 over a client area of the image's size: a window point is the
  // image pixel itself (what a session script's points are).
  static CViewGeometry AtZoomOne(int imageWidth, int imageHeight);
};

// The image pixel under a window point, clamped into the image, so a point
// in the margin or beyond lands on the nearest edge pixel.
CMarkPoint ClientToMarkPixel(const CViewGeometry& view, CClientPoint point);
// Where a mark pixel is drawn.
CClientPoint MarkPixelToClient(const CViewGeometry& view, CMarkPoint pixel);
// The image pixel of a dab's top-left corner for a brush of the diameter
// centred on the pointer; the dab may reach beyond the image.
CMarkPoint DabOrigin(const CViewGeometry& view, CClientPoint pointer, int diameter);
