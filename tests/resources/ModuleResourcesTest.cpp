// The resources compiled into the module: every number the editor asks for
// is there and holds what the editor expects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imagecore/CoreImage.h"
#include "imagecore/PngResource.h"
#include "imagecore/RowLease.h"
#include "platform/DialogTemplate.h"
#include "platform/ResourceFormats.h"
#include "platform/Resources.h"

namespace {

std::string String(int id) {
  std::string text = "<missing>";
  LoadString(id, text);
  return text;
}

TEST(ModuleResources, StringsHoldTheirTexts) {
  const struct {
    int id;
    const char* text;
  } strings[] = {
      {32771, "Exit the filter\nExit"},
      {32773, "Make the image larger in size"},
      {32775, "Make the image smaller in size"},
      {32776, "Make the image larger or smaller in size."},
      {32777, "Drag the image contents"},
      {32778, "Mark colors for erasing"},
      {32779, "Mark Object"},
      {32780, "Manual Erase/Recover"},
      {32790, "Delete All Marks"},
      {32791, "Reset"},
      {32781, "Click to zoom in. Right-click to zoom out. Use mouse wheel to zoom."},
      {32782, "Click and drag to scroll image in desired direction."},
      {32783, "Click and drag to mark background. Use Ctrl for additional options."},
      {32784, "Click and drag to mark object. Use Ctrl for additional options."},
      {32785, "Click and drag to erase. Right-click and drag to unerase."},
      {32786, "1.Mark color for erasing 2.Mark object 3.Press Apply button 4.If it is necessary use Manual "
              "Erase/Recover"},
      {57346, "Kelvane"},
      {1011, "File is wrong format. Possibly missing layers.\nProgram requires RGBA image (24 bit + transparency)."},
  };
  for (const auto& s : strings) EXPECT_EQ(String(s.id), s.text) << s.id;
  std::string untouched = "kept";
  EXPECT_FALSE(LoadString(32772, untouched));
  EXPECT_EQ(untouched, "kept");
}

TEST(ModuleResources, PlusAndMinusZoomWithoutModifiers) {
  std::vector<CAccelerator> table;
  ASSERT_TRUE(LoadAcceleratorTable(3001, table));
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(TranslateAccelerator(table, U'+'), 32773);
  EXPECT_EQ(TranslateAccelerator(table, U'-'), 32775);
}

TEST(ModuleResources, TheToolBarHasNineDrawnButtonsEachWithItsToolTip) {
  CToolBarResource toolBar;
  ASSERT_TRUE(LoadToolBar(128, toolBar));
  EXPECT_EQ(toolBar.items, (std::vector<int>{32776, 32777, 32778, 32779, 32790, 32780, 0, 32791, 0,
                                             32792, 32793}));
  EXPECT_EQ(toolBar.buttonWidth, 16);
  EXPECT_EQ(toolBar.buttonHeight, 15);
  EXPECT_EQ(toolBar.bitmapId, 128);
  ASSERT_TRUE(toolBar.hasTransparent);
  for (int command : toolBar.items) {
    if (command == 0) continue;
    EXPECT_NE(String(command), "<missing>") << command;
  }

  const std::span<const uint8_t> dib = FindResource(RT_BITMAP, 128);
  ASSERT_FALSE(dib.empty());
  CCoreImage bitmap;
  CoreResult result = bitmap.FromPackedDib(dib.data());
  ASSERT_EQ(ExamineResult(result), 0u);
  ASSERT_EQ(bitmap.StorageFormat(), keFormatBGR);
  ASSERT_EQ(bitmap.Width(), 9 * 16);
  ASSERT_EQ(bitmap.Height(), 15);
  // Every button's picture has something drawn over its transparent face.
  std::vector<int> drawn(9, 0);
  for (int y = 0; y < 15; ++y) {
    const CRowLease row(bitmap, y);
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint8_t* p = row.Data() + 3 * x;
      const bool face = p[2] == toolBar.transparentRed && p[1] == toolBar.transparentGreen &&
                        p[0] == toolBar.transparentBlue;
      drawn[x / 16] += !face;
    }
  }
  for (int b = 0; b < 9; ++b) {
    EXPECT_GT(drawn[b], 20) << "button " << b;
    EXPECT_LT(drawn[b], 16 * 15 - 20) << "button " << b;
  }
}

TEST(ModuleResources, TheIconHasASmallAndALargePicture) {
  CIconPicture small, large;
  ASSERT_TRUE(LoadIconPicture(128, 16, small));
  ASSERT_TRUE(LoadIconPicture(128, 32, large));
  EXPECT_EQ(small.width, 16);
  EXPECT_EQ(large.width, 32);
  CIconPicture between;
  ASSERT_TRUE(LoadIconPicture(128, 20, between));
  EXPECT_EQ(between.width, 32);
  for (const CIconPicture* picture : {&small, &large}) {
    CCoreImage image;
    ASSERT_TRUE(DecodePngPicture(picture->png, image));
    EXPECT_EQ(image.Width(), picture->width);
    EXPECT_EQ(image.Height(), picture->height);
  }
}

TEST(ModuleResources, EachToolCursorPointsWithADrawnPixel) {
  for (int id : {3009, 3011, 3012, 3013}) {
    CIconPicture cursor;
    ASSERT_TRUE(LoadCursorPicture(id, cursor)) << id;
    EXPECT_EQ(cursor.width, 32);
    EXPECT_EQ(cursor.height, 32);
    ASSERT_LT(cursor.hotspotX, 32);
    ASSERT_LT(cursor.hotspotY, 32);
    CCoreImage image;
    ASSERT_TRUE(DecodePngPicture(cursor.png, image)) << id;
    ASSERT_EQ(image.ViewFormat(), keFormatBGRA);
    // Rows with alpha arrive bottom row first.
    const CRowLease row(image, 31 - cursor.hotspotY);
    EXPECT_EQ(row.Data()[4 * cursor.hotspotX + 3], 255) << id;
  }
}

TEST(ModuleResources, ThePresetButtonsHavePictures) {
  for (int id : {102, 103}) {
    CCoreImage image;
    EXPECT_EQ(LoadPngResource(id, image), 0u) << id;
    EXPECT_TRUE(image.HasStorage()) << id;
  }
}

TEST(ModuleResources, EveryTextResourceParses) {
  for (int id : ResourceIds(RT_DIALOG)) {
    CDialogTemplate dialog;
    EXPECT_TRUE(LoadDialogTemplate(id, dialog)) << "dialog " << id;
  }
  for (int id : ResourceIds(RT_ACCELERATOR)) {
    std::vector<CAccelerator> table;
    EXPECT_TRUE(LoadAcceleratorTable(id, table)) << "accelerators " << id;
  }
  for (int id : ResourceIds(RT_TOOLBAR)) {
    CToolBarResource toolBar;
    EXPECT_TRUE(LoadToolBar(id, toolBar)) << "tool bar " << id;
  }
  EXPECT_EQ(ResourceIds(RT_DIALOG), (std::vector<int>{101, 102, 3017}));
}

struct CExpectedControl {
  int id;
  keControlKind kind;
  const char* text;
  CDialogRect rect;
  uint32_t styles;
};

void ExpectControls(const CDialogTemplate& dialog, const std::vector<CExpectedControl>& expected) {
  ASSERT_EQ(dialog.controls.size(), expected.size()) << "dialog " << dialog.id;
  for (size_t i = 0; i < expected.size(); ++i) {
    const CDialogControl& control = dialog.controls[i];
    const CExpectedControl& e = expected[i];
    EXPECT_EQ(control.id, e.id) << "control " << i;
    EXPECT_EQ(control.kind, e.kind) << "control " << e.id;
    EXPECT_EQ(control.text, e.text) << "control " << e.id;
    EXPECT_EQ(control.rect, e.rect) << "control " << e.id;
    EXPECT_TRUE(control.Has(e.styles)) << "control " << e.id;
  }
}

using K = keControlKind;

TEST(ModuleResources, TheEditorWindowTemplate) {
  CDialogTemplate dialog;
  ASSERT_TRUE(LoadDialogTemplate(101, dialog));
  EXPECT_EQ(dialog.rect, (CDialogRect{0, 0, 412, 257}));
  EXPECT_EQ(dialog.fontPoints, 8);
  EXPECT_TRUE(dialog.Has(keDlgPopup | keDlgCaption | keDlgSysMenu | keDlgThickFrame | keDlgMinimizeBox |
                         keDlgMaximizeBox | keDlgClipChildren | keDlgClipSiblings));
  ExpectControls(dialog, {
      {1, K::PushButton, "OK", {332, 7, 50, 11}, keCtlDefault},
      {2, K::PushButton, "Cancel", {332, 19, 50, 11}, 0},
      {32651, K::PushButton, "Help", {332, 32, 50, 11}, 0},
      {3002, K::Frame, "", {35, 7, 279, 230}, 0},
      {3003, K::Frame, "", {7, 7, 13, 225}, 0},
      {3013, K::Progress, "", {35, 239, 57, 11}, 0},
      {1001, K::Static, "", {7, 239, 24, 11}, 0},
      {1002, K::Static, "", {94, 239, 221, 11}, 0},
      {1005, K::Frame, "", {318, 77, 87, 173}, keCtlHidden},
      {1009, K::Static, "Presets:", {317, 50, 42, 8}, 0},
      {1006, K::ComboBox, "", {317, 60, 56, 30}, keCtlDropDownList},
      {1007, K::PushButton, "", {375, 59, 15, 14}, 0},
      {1008, K::PushButton, "", {390, 59, 15, 14}, 0},
  });
  EXPECT_FALSE(dialog.Find(2)->Has(keCtlDefault));
}

TEST(ModuleResources, TheParameterPanelTemplate) {
  CDialogTemplate dialog;
  ASSERT_TRUE(LoadDialogTemplate(3017, dialog));
  EXPECT_EQ(dialog.rect, (CDialogRect{0, 0, 98, 289}));
  EXPECT_EQ(dialog.fontPoints, 8);
  EXPECT_TRUE(dialog.Has(keDlgChild | keDlgControl));
  EXPECT_FALSE(dialog.Has(keDlgCaption));
  ExpectControls(dialog, {
      {-1, K::GroupBox, "", {0, 0, 89, 179}, 0},
      {-1, K::GroupBox, "Processing Param", {0, 7, 89, 53}, 0},
      {-1, K::Static, "Strength", {3, 22, 34, 8}, 0},
      {3018, K::Edit, "", {39, 20, 47, 14}, 0},
      {3023, K::CheckBox, "Textured Background", {2, 36, 83, 8}, keCtlAuto | keCtlMultiLine},
      {3038, K::CheckBox, "Colour Model", {2, 48, 83, 10}, keCtlAuto},
      {-1, K::GroupBox, "Post Processing Param", {0, 63, 89, 97}, 0},
      {-1, K::Static, "Contract", {3, 77, 33, 8}, 0},
      {3020, K::Edit, "", {39, 74, 47, 14}, 0},
      {3027, K::Static, "Feathering", {3, 91, 35, 8}, 0},
      {3026, K::Edit, "", {39, 89, 47, 14}, 0},
      {3030, K::Static, "Boundary Smoothing ", {3, 103, 34, 16}, 0},
      {3028, K::Edit, "", {39, 105, 47, 14}, 0},
      {3022, K::CheckBox, "Fill Holes", {2, 121, 83, 10}, keCtlAuto},
      {3035, K::CheckBox, "Refine Edge", {2, 133, 83, 10}, keCtlAuto},
      {3037, K::Static, "Edge Width", {2, 148, 37, 8}, 0},
      {3036, K::Edit, "", {39, 145, 47, 14}, 0},
      {3007, K::PushButton, "Default", {3, 162, 30, 13}, keCtlMultiLine},
      {3006, K::PushButton, "Apply", {37, 162, 49, 13}, keCtlMultiLine},
      {-1, K::GroupBox, "Manual Eraser Param", {2, 180, 86, 39}, 0},
      {3032, K::Static, "Brush Size ", {3, 192, 34, 12}, 0},
      {3033, K::Edit, "", {39, 190, 47, 14}, 0},
      {3034, K::CheckBox, "Smooth Brush", {3, 206, 80, 10}, keCtlAuto},
      {-1, K::GroupBox, "          View", {1, 220, 87, 54}, 0},
      {3025, K::Static, "Display", {4, 234, 24, 8}, 0},
      {3024, K::ListBox, "", {31, 230, 55, 19}, keCtlNotify | keCtlSort},
      {3031, K::Static, "Show Mat", {5, 251, 22, 16}, 0},
      {3029, K::ListBox, "", {31, 251, 56, 19}, keCtlNotify},
  });
  EXPECT_FALSE(dialog.Find(3029)->Has(keCtlSort));
  EXPECT_FALSE(dialog.Find(3022)->Has(keCtlMultiLine));
}

TEST(ModuleResources, TheSaveStyleTemplate) {
  CDialogTemplate dialog;
  ASSERT_TRUE(LoadDialogTemplate(102, dialog));
  EXPECT_EQ(dialog.caption, "Save Style");
  EXPECT_TRUE(dialog.Has(keDlgPopup | keDlgCaption));
  int edits = 0;
  for (const CDialogControl& control : dialog.controls) edits += control.kind == K::Edit;
  EXPECT_EQ(edits, 1);
  ASSERT_NE(dialog.Find(1), nullptr);
  EXPECT_EQ(dialog.Find(1)->text, "OK");
  EXPECT_TRUE(dialog.Find(1)->Has(keCtlDefault));
  ASSERT_NE(dialog.Find(2), nullptr);
  EXPECT_EQ(dialog.Find(2)->text, "Cancel");
  ASSERT_NE(dialog.Find(-1), nullptr);
  EXPECT_EQ(dialog.Find(-1)->text, "Style Name:");
}

}  // namespace
