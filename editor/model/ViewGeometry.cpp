#include "editor/model/ViewGeometry.h"

#include <algorithm>
#include <cmath>

namespace {

// The centring margin in window pixels on one axis (0 when the scaled image
// fills the client area), not yet truncated.
double CentringMargin(int client, double zoom, int image) {
  const double scaled = zoom * image;
  return client > scaled ? (client - scaled) / 2 : 0.0;
}

int ToMarkAxis(int pointer, int scroll, int client, double zoom, int image) {
  double x = std::trunc(pointer + static_cast<double>(scroll) - CentringMargin(client, zoom, image));
  x = std::trunc(x * (1 / zoom));
  // Clamped before the conversion so far-off points cannot overflow.
  return static_cast<int>(std::clamp(x, 0.0, static_cast<double>(std::max(image - 1, 0))));
}

int ToClientAxis(int pixel, int scroll, int client, double zoom, int image) {
  return static_cast<int>(
      std::trunc(std::trunc(zoom * pixel) - scroll + CentringMargin(client, zoom, image)));
}

int DabAxis(int pointer, int scroll, int client, double zoom, int image, int diameter) {
  const int scaledDiameter = static_cast<int>(std::trunc(diameter * zoom));
  double x = pointer;
  x -= std::trunc(CentringMargin(client, zoom, image));
  x = x + scroll - scaledDiameter / 2;
  // Far-off pointers keep a far-off, convertible origin; the dab is skipped.
  constexpr double kLimit = 1 << 30;
  return static_cast<int>(std::clamp(std::trunc(x / zoom), -kLimit, kLimit));
}

}  // namespace

CViewGeometry CViewGeometry::AtZoomOne(int imageWidth, int imageHeight) {
  CViewGeometry view;
  view.clientWidth = imageWidth;
  view.clientHeight = imageHeight;
  view.imageWidth = imageWidth;
  view.imageHeight = imageHeight;
  return view;
}

CMarkPoint ClientToMarkPixel(const CViewGeometry& view, CClientPoint point) {
  return {ToMarkAxis(point.x, view.scrollX, view.clientWidth, view.zoom, view.imageWidth),
          ToMarkAxis(point.y, view.scrollY, view.clientHeight, view.zoom, view.imageHeight)};
}

CClientPoint MarkPixelToClient(const CViewGeometry& view, CMarkPoint pixel) {
  return {ToClientAxis(pixel.x, view.scrollX, view.clientWidth, view.zoom, view.imageWidth),
          ToClientAxis(pixel.y, view.scrollY, view.clientHeight, view.zoom, view.imageHeight)};
}

CMarkPoint DabOrigin(const CViewGeometry& view, CClientPoint pointer, int diameter) {
  return {DabAxis(pointer.x, view.scrollX, view.clientWidth, view.zoom, view.imageWidth, diameter),
          DabAxis(pointer.y, view.scrollY, view.clientHeight, view.zoom, view.imageHeight,
                  diameter)};
}
