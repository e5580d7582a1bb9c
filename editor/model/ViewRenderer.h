// The image view's picture without a display: the part of the shown image
// under a clip box, scaled by nearest neighbour and composited over the
// matte, ready to be copied into the view's off-screen buffer.
//
// Coordinates are the view's scrolled ones (a client point plus the scroll
// position), the coordinates of the view's own drawing context and its clip
// box.
#pragma once

#include "editor/model/EditorSession.h"
#include "editor/model/ViewGeometry.h"
#include "imagecore/CoreImage.h"

// Screen pixels on a side of a checkerboard cell, whatever the zoom.
inline constexpr int kCheckerCell = 10;

struct CViewPaint {
  double zoom = 1.0;
  // Where the image's top-left corner lies (ScaledImageOrigin).
  CClientPoint origin;
  int scrollX = 0;
  int scrollY = 0;
  int clientWidth = 0;
  int clientHeight = 0;
  CoreRect clip;
  // Cells whose column plus row is even, the corner cell among them, take b.
  CMatteColours matte{};
};

struct CViewPaintArea {
  CoreRect source;       // image pixels the paint reads
  CoreRect destination;  // scrolled coordinates the paint covers
  bool IsEmpty() const { return destination.IsEmpty(); }
};

// The centring offset of the image: half the margin on each axis where the
// scaled image is smaller than the client area, else 0; (0, 0) unless
// centring.
CClientPoint ScaledImageOrigin(double zoom, int imageWidth, int imageHeight, int clientWidth,
                               int clientHeight, bool centre = true);

// What a paint of an image of the size covers: the clip box widened to whole
// source pixels, kept within the client area. Empty when nothing is drawn.
CViewPaintArea ViewPaintArea(int imageWidth, int imageHeight, const CViewPaint& paint);

// Paints the image (in its view format: BGRA composited over the matte, GreyA
// shown as BGRA, BGR as it is; others are not drawn) into `buffer`, which
// becomes a keFormatBGR image of the destination's size to be copied at
// area.destination. A buffer that already is one is reused without clearing.
// The image's rows are only read; its view is left as it was. An empty area
// means nothing is to be drawn.
CoreResult RenderView(CCoreImage& image, const CViewPaint& paint, CCoreImage& buffer,
                      CViewPaintArea& area);

// The same pixels computed one at a time, straight from the rules; the yard
// stick for RenderView.
CoreResult RenderViewReference(CCoreImage& image, const CViewPaint& paint, CCoreImage& buffer,
                               CViewPaintArea& area);
