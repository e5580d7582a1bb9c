#include "MatteApp.h"

#include "platform/MessageBox.h"

const char* const kInputErrorCaption = "! Input Data Error !";
const char* const kInputErrorText =
    "File is wrong format. Possibly missing layers.\n"
    "Program requires RGBA image (24 bit + transparency).";

bool CMatteApp::CheckImage(FilterRecord* record, void*) {
  if (record->imageMode == plugInModeRGBColor && record->planes == 4) return true;
  // The refusal is the whole message: the host shows nothing for -128.
  MessageBox(nullptr, kInputErrorText, kInputErrorCaption, MB_OK);
  return false;
}
