// Pictures and readings that several fuzz targets run the filter with.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/MatteParameters.h"
#include "framework/Param.h"
#include "framework/ParamSet.h"
#include "imagecore/ColorRef.h"
#include "imagecore/CoreImage.h"
#include "imagecore/RowLease.h"

// The filter's values, slot by slot, to compare one reading with another.
inline std::vector<int> ParameterValues(CParamSet& set) {
  std::vector<int> values;
  for (int slot = 0; slot < kMatteParameterCount; ++slot) {
    int value = 0;
    set.FindParam(slot)->GetInt(value);
    values.push_back(value);
  }
  return values;
}

// A blue sky above a red roof, so that marks find colours that differ; with
// `greenPatch` a green square sits in the roof, at 60..80 on both axes.
inline CCoreImage SkyAndRoof(int side, bool greenPatch) {
  CCoreImage image;
  const CColorRef sky(40, 90, 220, 255);
  ThrowIfFailed(image.CreateBGRA(side, side, &sky));
  for (int y = side / 2; y < side; ++y) {
    const CRowLease lease(image, y);
    uint8_t* row = lease.Data();
    for (int x = 0; x < side; ++x) {
      const bool patch = greenPatch && x > 60 && x < 80 && y > 60 && y < 80;
      row[4 * x] = patch ? 40 : 20;
      row[4 * x + 1] = patch ? 180 : 30;
      row[4 * x + 2] = patch ? 30 : 200;
      row[4 * x + 3] = 255;
    }
  }
  return image;
}
