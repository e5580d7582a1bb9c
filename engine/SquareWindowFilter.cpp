#include "engine/SquareWindowFilter.h"

#include "engine/Plane.h"
#include "imagecore/CoreImage.h"

namespace {

CoreResult Filtered(bool finished) { return finished ? CoreResult() : MakeResult(keErrAborted); }

// BGRA's colours only: the colour view writes them back under the alpha.
CoreResult FilterColours(CProgressScale* progress, CCoreImage& image, int window,
                         CWindowFilter bgr) {
  CoreResult viewed = image.SetChannelView(keChannelColour, keAccessReadWrite);
  if (!viewed.IsNull()) return viewed;
  CWindowRows colours(image);
  const bool finished = bgr(colours, window, false, progress);
  CoreResult reset = image.SetChannelView(keChannelNone, keAccessReadWrite);
  if (!reset.IsNull()) return reset;
  return Filtered(finished);
}

}  // namespace

int OddWindowWithin(int window, int largest) {
  if (window <= 2) {
    window = 3;
  } else if (window > largest) {
    window = largest;
  }
  if (window % 2 == 0) ++window;
  return window;
}

CoreResult FilterImageInWindow(CProgressScale* progress, CCoreImage& source,
                               CCoreImage& destination, int window, EWindowAlpha bgra,
                               const CWindowFilters& filters) {
  CoreResult copied = destination.CopyFrom(source);
  if (!copied.IsNull()) return copied;
  CWindowRows rows(destination);
  if (NoLargerThanHalfTheWindow(rows.Width(), rows.Height(), window)) return CoreResult();

  switch (destination.ViewFormat()) {
    case keFormatGrey:
      return Filtered(filters[0](rows, window, false, progress));
    case keFormatGreyA:
      return Filtered(filters[1](rows, window, true, progress));
    case keFormatBGR:
      return Filtered(filters[2](rows, window, false, progress));
    case keFormatBGRA:
      if (bgra == EWindowAlpha::kColoursOnly) {
        return FilterColours(progress, destination, window, filters[2]);
      }
      return Filtered(filters[3](rows, window, true, progress));
    default:
      return MakeResult(keErrInvalidArgument);
  }
}

CoreResult FilterGreyPlaneInWindow(CPlane& plane, int window, const CWindowFilters& filters) {
  if (plane.BytesPerPixel() != 1) return MakeResult(keErrInvalidArgument);
  CWindowRows rows(plane);
  if (NoLargerThanHalfTheWindow(rows.Width(), rows.Height(), window)) return CoreResult();
  return Filtered(filters[0](rows, window, false, nullptr));
}
