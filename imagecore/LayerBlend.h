// The layer blend: composites a source row over a destination row with a
// blend mode, an opacity and optional blend ranges, in straight alpha.
#pragma once

#include <cstdint>
#include <memory>

#include "imagecore/BlendTables.h"
#include "imagecore/RowOperation.h"

// Blend modes. The per-channel ones combine destination c with source s.
enum : int {
  keBlendNone = -1,    // not set: binds to nothing
  keBlendNormal = 0,   // source over destination
  keBlendDarken = 1,   // min(c, s)
  keBlendLighten = 2,  // max(c, s)
  keBlendHue = 3,      // hue / saturation / value model from here to 6
  keBlendSaturation = 4,
  keBlendHueSaturation = 5,
  keBlendValue = 6,
  keBlendMultiply = 7,
  keBlendScreen = 8,
  keBlendDissolve = 9,
  keBlendOverlay = 10,    // test on the destination
  keBlendHardLight = 11,  // the same test on the source
  keBlendSoftLight = 12,
  keBlendDifference = 13,
  keBlendDodge = 14,
  keBlendBurn = 15,
  keBlendExclusion = 16,
  keBlendHslHue = 17,  // hue / saturation / lightness model from here to 20
  keBlendHslSaturation = 18,
  keBlendHslHueSaturation = 19,
  keBlendHslLightness = 20,
};

// Blend ranges: how much of the blend a value lets through (255 all, 0
// none), looked up for the grey level (30/59/11 per cent luminance) and for
// each colour channel, separately for source and destination.
struct CBlendRange {
  uint8_t grey[256];
  uint8_t channel[3][256];  // blue, green, red
};
struct CBlendRangeTable {
  CBlendRange source;
  CBlendRange destination;
};
// A table that lets everything through, to be edited.
CBlendRangeTable OpenBlendRangeTable();

class CLayerBlend : public CRowOperation {
 public:
  // Channel result u for destination c, source s and coverage k.
  using ChannelMix = uint8_t (*)(const CBlendTables& t, unsigned c, unsigned s, unsigned k);
  // The blend colour f (blue, green, red) of destination c and source s.
  using ColourMix = void (*)(const CBlendTables& t, const unsigned* c, const unsigned* s,
                             unsigned* f);

  CLayerBlend() : CRowOperation(keRoRowBlendPsp) {}
  CLayerBlend(int mode, int opacity) : CLayerBlend() {
    SetMode(mode);
    SetOpacity(opacity);
  }

  std::unique_ptr<CRowOperation> Clone() const override;
  bool Bind(CRowContext& context) override;
  void ResetBinding() override;
  RowFunction LookUp(keFormat destination, keFormat source) const override;

  void SetMode(int mode) { m_mode = mode; }
  int Mode() const { return m_mode; }
  // Clamped into 0..255.
  void SetOpacity(int opacity) { m_opacity = opacity < 0 ? 0 : opacity > 255 ? 255 : opacity; }
  int Opacity() const { return m_opacity; }
  // Null blends without ranges. The table is shared with clones.
  void SetBlendRanges(std::shared_ptr<const CBlendRangeTable> ranges) {
    m_ranges = std::move(ranges);
  }
  const CBlendRangeTable* BlendRanges() const { return m_ranges.get(); }
  // When set, the destination's alpha is left as it was.
  void SetKeepDestinationAlpha(bool keep) { m_keepDestinationAlpha = keep ? 1 : 0; }
  bool KeepsDestinationAlpha() const { return m_keepDestinationAlpha != 0; }

  // What the last Bind chose, for the implementations.
  ChannelMix BoundChannelMix() const { return m_channelMix; }
  ColourMix BoundColourMix() const { return m_colourMix; }
  const CBlendTables& BoundTables() const { return m_tables; }

 private:
  int m_mode = keBlendNone;
  int m_opacity = 255;
  std::shared_ptr<const CBlendRangeTable> m_ranges;
  uint8_t m_keepDestinationAlpha = 0;
  ChannelMix m_channelMix = nullptr;
  ColourMix m_colourMix = nullptr;
  CBlendTables m_tables;
};

// Composites `picture` onto `face` with the picture's top-left at (left,
// top) of the face, clipped to the face, with a blend mode and opacity: the
// image buttons draw their picture this way. False when the images' formats
// cannot be blended (both are normally BGRA); true also when the picture
// lies wholly outside the face.
bool BlendPicture(CCoreImage& face, CCoreImage& picture, int mode, int opacity, int left = 0,
                  int top = 0);
