#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ImageTestUtil.h"
#include "imagecore/ColorRef.h"
#include "imagecore/LayerBlend.h"
#include "imagecore/ProgressScale.h"
#include "imagecore/RowOperation.h"
#include "platform/MessageBox.h"

using Bytes = std::vector<uint8_t>;

namespace {

struct CBox {
  std::string caption;
  std::string text;
  unsigned type;
};

class CBoxCapture {
 public:
  CBoxCapture() {
    m_previous = SetMessageBoxHandler(
        [this](void*, const std::string& text, const std::string& caption, unsigned type) {
          boxes.push_back({caption, text, type});
          return IDOK;
        });
  }
  ~CBoxCapture() { SetMessageBoxHandler(m_previous); }
  std::vector<CBox> boxes;

 private:
  MessageBoxHandler m_previous;
};

CColorRef Colour(int r, int g, int b, int a) { return CColorRef(r, g, b, a, 0, nullptr); }

void CreateFilled(CCoreImage& image, int w, int h, const CColorRef& colour) {
  ASSERT_EQ(Code(image.CreateBGRA(w, h, &colour)), 0u);
}

std::vector<Bytes> AllRows(CCoreImage& image) {
  std::vector<Bytes> rows;
  for (int y = 0; y < image.Height(); ++y) rows.push_back(ReadRow(image, y));
  return rows;
}

void FirstFunction(const CRowOperation&, CRowContext& context) { context.destination[0] = 1; }
void SecondFunction(const CRowOperation&, CRowContext& context) { context.destination[0] = 2; }

// A clock that moves on a second per reading, so every Step reports.
double g_now = 0.0;
double SteppingClock() { return g_now += 1.0; }
int g_reports = 0;
int g_stopAtValue = 0;
int StopAt(CProgressScale& scale) {
  ++g_reports;
  return scale.Value() >= g_stopAtValue ? 1 : 0;
}

}  // namespace

TEST(RowOperation, KindsAreNamedAndGapsAreUnknown) {
  EXPECT_STREQ(RowOpName(keRoNOP), "keRoNOP");
  EXPECT_STREQ(RowOpName(keRoChannelLinear), "keRoChannelLinear");
  EXPECT_STREQ(RowOpName(keRoRowBlend), "keRoRowBlend");
  EXPECT_STREQ(RowOpName(keRoRowBlendPsp), "keRoRowBlendPsp");
  EXPECT_STREQ(RowOpName(keRoRowCopyPalettedWithTransparencyIndex),
               "keRoRowCopyPalettedWithTransparencyIndex");
  EXPECT_STREQ(RowOpName(keRoRowTurbulence), "keRoRowTurbulence");
  EXPECT_STREQ(RowOpName(keRoHighPass), "keRoHighPass");
  for (int gap : {11, 32, 34, -1, 1000})
    EXPECT_STREQ(RowOpName(static_cast<keRowOp>(gap)), "Unknown") << gap;
  // Every named value names itself with the "keRo" prefix.
  for (int v = 0; v <= 33; ++v) {
    if (v == 11 || v == 32) continue;
    EXPECT_EQ(std::string(RowOpName(static_cast<keRowOp>(v))).rfind("keRo", 0), 0u) << v;
  }
}

TEST(RowOperation, LookUpPrefersTheProcessorVariantOnlyWhereAllowed) {
  const CRowImplementation table[] = {
      {keFormatBGRA, keFormatBGRA, 0, FirstFunction},
      {keFormatBGRA, keFormatBGRA, 1, SecondFunction},
      {keFormatGrey, keFormatBGRA, 0, FirstFunction},
  };
  SetProcessorVariantsForTesting(1);
  EXPECT_EQ(LookUpImplementation(table, 3, keFormatBGRA, keFormatBGRA), &SecondFunction);
  EXPECT_EQ(LookUpImplementation(table, 3, keFormatGrey, keFormatBGRA), &FirstFunction);
  SetProcessorVariantsForTesting(0);
  EXPECT_EQ(LookUpImplementation(table, 3, keFormatBGRA, keFormatBGRA), &FirstFunction);
  EXPECT_EQ(LookUpImplementation(table, 3, keFormatBGRA, keFormatGrey), nullptr);
  SetProcessorVariantsForTesting(-1);
}

TEST(RowOperation, KindsWithoutImplementationsShowTheMissingBoxOnceAndChangeNothing) {
  CCoreImage dst, src;
  CreateFilled(dst, 3, 5, Colour(10, 20, 30, 40));
  CreateFilled(src, 3, 5, Colour(200, 200, 200, 255));
  const auto before = AllRows(dst);
  CRowOperation copy(keRoRowCopy);
  CBoxCapture capture;
  EXPECT_FALSE(ApplyRowOperation(copy, dst, src, nullptr, nullptr, nullptr));
  ASSERT_EQ(capture.boxes.size(), 1u);  // one box for the run, not one per row
  EXPECT_EQ(capture.boxes[0].caption, "Missing Row Operation");
  EXPECT_EQ(capture.boxes[0].text, "Type = keRoRowCopy\nDst = keFormatBGRA\nSrc = keFormatBGRA");
  EXPECT_EQ(capture.boxes[0].type & MB_TYPEMASK, MB_OK);
  EXPECT_EQ(AllRows(dst), before);

  // The clone keeps the kind and still has nothing to run.
  const auto clone = copy.Clone();
  EXPECT_EQ(clone->Kind(), keRoRowCopy);
  CRowContext context;
  context.destinationFormat = keFormatBGRA;
  context.sourceFormat = keFormatBGRA;
  EXPECT_FALSE(BindRowOperation(*clone, context, true));
  EXPECT_EQ(capture.boxes.size(), 1u);
}

TEST(RowOperation, UnequalOrOutsideRectanglesAreRefusedUntouched) {
  CCoreImage dst, src;
  CreateFilled(dst, 4, 4, Colour(10, 20, 30, 255));
  CreateFilled(src, 3, 4, Colour(200, 200, 200, 255));
  const auto before = AllRows(dst);
  CLayerBlend blend(keBlendNormal, 255);
  EXPECT_FALSE(ApplyRowOperation(blend, dst, src, nullptr, nullptr, nullptr));
  const CoreRect three{0, 0, 3, 3};
  const CoreRect threeByTwo{0, 0, 3, 2};
  EXPECT_FALSE(ApplyRowOperation(blend, dst, src, &three, &threeByTwo, nullptr));
  const CoreRect shifted{2, 0, 5, 3};  // reaches past the destination's right edge
  EXPECT_FALSE(ApplyRowOperation(blend, dst, src, &shifted, &three, nullptr));
  EXPECT_EQ(AllRows(dst), before);
  const CoreRect empty{1, 1, 1, 1};
  EXPECT_TRUE(ApplyRowOperation(blend, dst, src, &empty, &empty, nullptr));
}

TEST(RowOperation, RectanglesSelectRowsAndColumnsOfBothImages) {
  CCoreImage dst, src;
  CreateFilled(dst, 4, 3, Colour(0, 0, 0, 255));
  CreateFilled(src, 3, 3, Colour(0, 0, 0, 255));
  // Source column 2 of row 1 is the only white pixel.
  WriteRow(src, 1, Bytes{0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255});
  CLayerBlend blend(keBlendNormal, 255);
  const CoreRect d{1, 0, 3, 2};  // 2 x 2
  const CoreRect s{1, 1, 3, 3};
  ASSERT_TRUE(ApplyRowOperation(blend, dst, src, &d, &s, nullptr));
  // Source (2, 1) lands on destination (2, 0).
  EXPECT_EQ(ReadRow(dst, 0), (Bytes{0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255}));
  EXPECT_EQ(ReadRow(dst, 1), (Bytes{0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
}

TEST(RowOperation, RowsThroughAViewAreWrittenBack) {
  CCoreImage dst, src;
  const CColorRef grey = Colour(50, 50, 50, 255);
  ASSERT_EQ(Code(dst.CreateBGR(2, 2, &grey)), 0u);
  ASSERT_EQ(Code(dst.SetViewFormat(keFormatBGRA, keAccessReadWrite)), 0u);
  CreateFilled(src, 2, 2, Colour(90, 60, 30, 255));
  CLayerBlend blend(keBlendNormal, 255);
  ASSERT_TRUE(ApplyRowOperation(blend, dst, src, nullptr, nullptr, nullptr));
  ASSERT_EQ(Code(dst.SetViewFormat(keFormatNone, keAccessReadWrite)), 0u);
  EXPECT_EQ(ReadRow(dst, 1), (Bytes{30, 60, 90, 30, 60, 90}));
}

TEST(RowOperation, AStopRequestEndsTheRunWithFalseBeforeTheNextRow) {
  CCoreImage dst, src;
  CreateFilled(dst, 2, 10, Colour(0, 0, 0, 255));
  CreateFilled(src, 2, 10, Colour(255, 255, 255, 255));
  CProgressScale::SetClockForTesting(SteppingClock);
  CProgressScale root;
  root.SetStageCount(2);
  root.SetReportCallback(StopAt);
  g_reports = 0;
  g_stopAtValue = 20;  // the child covers 0..50: row 4 of 10 reports 20
  CLayerBlend blend(keBlendNormal, 255);
  EXPECT_FALSE(ApplyRowOperation(blend, dst, src, nullptr, nullptr, &root));
  CProgressScale::SetClockForTesting(nullptr);
  for (int y = 0; y < 10; ++y) EXPECT_EQ(ReadRow(dst, y)[0], y < 4 ? 255 : 0) << y;
  EXPECT_EQ(root.Child(), nullptr);  // the child let go of its parent
  EXPECT_EQ(root.Stage(), 1);

  // Without a stop every row is processed, one step each.
  CProgressScale::SetClockForTesting(SteppingClock);
  CProgressScale quiet;
  g_reports = 0;
  g_stopAtValue = 1000;
  quiet.SetReportCallback(StopAt);
  EXPECT_TRUE(ApplyRowOperation(blend, dst, src, nullptr, nullptr, &quiet));
  CProgressScale::SetClockForTesting(nullptr);
  EXPECT_EQ(g_reports, 9);  // row 0 is at the starting value 0, so it makes no report
  EXPECT_EQ(ReadRow(dst, 9)[0], 255);
}
