#include "engine/MatteDocument.h"

#include <gtest/gtest.h>

#include "TestImages.h"
#include "engine/Marks.h"

namespace {

class MatteDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeBGRA(m_layer, 8, 6, 10, 20, 30, 255);
    SetPixelByte(m_layer, 1, 1, 3, 7);  // partly transparent
    SetPixelByte(m_layer, 2, 1, 3, 0);  // transparent
    ThrowIfFailed(m_displayed.CopyFrom(m_layer));
    m_doc.Open(m_layer, &m_displayed);
  }

  // As a brush dab would.
  void SetWorkAlpha(int x, int y, uint8_t alpha) {
    m_doc.EditWork([&](CCoreImage& work, CCoreImage&, CCoreImage&) {
      SetPixelByte(work, x, y, 3, alpha);
    });
  }

  // As an aborted run that had replaced the previous strength would.
  void PublishStrength(int strength) {
    CRunOutputs outputs;
    ThrowIfFailed(outputs.work.CopyFrom(m_doc.Work()));
    outputs.prevMatte = std::make_shared<const CPlane>(*m_doc.PrevMatte());
    outputs.prevStrength = strength;
    CCoreImage result;
    m_doc.PublishRun(ERunEnd::kAborted, outputs, result);
  }

  CCoreImage m_layer;
  CCoreImage m_displayed;
  CMatteDocument m_doc;
};

}  // namespace

TEST_F(MatteDocumentTest, OpeningMakesEveryNonZeroAlphaOpaque) {
  EXPECT_EQ(PixelByte(m_doc.Work(), 1, 1, 3), 255);
  EXPECT_EQ(PixelByte(m_doc.Work(), 2, 1, 3), 0);
  EXPECT_EQ(AllBytes(m_doc.Base()), AllBytes(m_doc.Work()));
  ASSERT_TRUE(m_doc.PrevMatte());
  EXPECT_EQ(PixelByte(*m_doc.PrevMatte(), 1, 1), 255);
  EXPECT_EQ(PixelByte(*m_doc.PrevMatte(), 2, 1), 0);
  EXPECT_FALSE(m_doc.HasMarks());
  EXPECT_EQ(m_doc.PrevStrength(), 0);
  EXPECT_EQ(PixelByte(m_doc.Original(), 1, 1, 3), 7);  // the layer itself is untouched
}

TEST_F(MatteDocumentTest, AWorkWithNothingToBinarizeSharesTheLayerUntilItIsWritten) {
  // The fixture's layer has a partial alpha: its work is a binarized copy.
  EXPECT_NE(m_doc.Work().StorageId(), m_layer.StorageId());

  CCoreImage opaque;
  MakeBGRA(opaque, 8, 6, 10, 20, 30, 255);
  SetPixelByte(opaque, 2, 1, 3, 0);  // 0 and 255 only
  CCoreImage displayed;
  ThrowIfFailed(displayed.CopyFrom(opaque));
  CMatteDocument doc;
  doc.Open(opaque, &displayed);
  EXPECT_EQ(doc.Work().StorageId(), opaque.StorageId());
  EXPECT_EQ(AllBytes(doc.Work()), AllBytes(opaque));
  EXPECT_EQ(PixelByte(*doc.PrevMatte(), 2, 1), 0);

  // A brush dab on the work leaves the layer and the committed base alone.
  doc.EditWork([](CCoreImage& work, CCoreImage&, CCoreImage&) { SetPixelByte(work, 4, 4, 3, 0); });
  EXPECT_EQ(PixelByte(doc.Work(), 4, 4, 3), 0);
  EXPECT_EQ(PixelByte(opaque, 4, 4, 3), 255);
  EXPECT_EQ(PixelByte(doc.Base(), 4, 4, 3), 255);
  EXPECT_EQ(PixelByte(doc.Original(), 4, 4, 3), 255);
}

TEST_F(MatteDocumentTest, StrokeWritesOnlySampledPixelsClampedToTheImage) {
  m_doc.BeginMarkStroke(false);
  m_doc.MarkPoint(false, 3, 2);
  m_doc.MarkPoint(false, -5, 100);  // lands on the nearest edge pixel
  m_doc.EndMarkStroke(false);
  ASSERT_TRUE(m_doc.Marks() && m_doc.AllMarks());
  int marked = 0;
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      const uint8_t mark = PixelByte(*m_doc.Marks(), x, y);
      EXPECT_EQ(mark, PixelByte(*m_doc.AllMarks(), x, y));
      if (mark != keMarkNone) ++marked;
    }
  }
  EXPECT_EQ(marked, 2);
  EXPECT_EQ(PixelByte(*m_doc.Marks(), 3, 2), keMarkBackground);
  EXPECT_EQ(PixelByte(*m_doc.Marks(), 0, 5), keMarkBackground);
  EXPECT_EQ(m_doc.Points(false),
            (std::vector<CMarkPoint>{{3, 2}, {0, 5}, kStrokeEnd}));
}

TEST_F(MatteDocumentTest, ClosingPairOnlyAfterAPointOfThatList) {
  m_doc.BeginMarkStroke(false);
  m_doc.MarkPoint(false, 1, 1);
  m_doc.EndMarkStroke(false);
  m_doc.EndMarkStroke(true);  // the object list is empty: it stays empty
  EXPECT_TRUE(m_doc.Points(true).empty());
  m_doc.EndMarkStroke(false);  // already closed: no second pair
  EXPECT_EQ(m_doc.Points(false).size(), 2u);
}

TEST_F(MatteDocumentTest, CombineModeFollowsTheLastStrokeAndTheTexturedBox) {
  m_doc.BeginMarkStroke(true);
  EXPECT_EQ(m_doc.CombineMode(), 1);
  m_doc.MarkPoint(true, 4, 4);
  m_doc.EndMarkStroke(true);
  EXPECT_EQ(m_doc.CombineMode(), 1);
  EXPECT_EQ(PixelByte(*m_doc.Marks(), 4, 4), keMarkObject);
  m_doc.OnTexturedClicked(true);
  EXPECT_EQ(m_doc.CombineMode(), 0);
  m_doc.OnTexturedClicked(false);
  EXPECT_EQ(m_doc.CombineMode(), 1);
}

TEST_F(MatteDocumentTest, DeleteAllMarksKeepsAllMarksAndResetRemovesThem) {
  m_doc.BeginMarkStroke(false);
  m_doc.MarkPoint(false, 2, 2);
  m_doc.EndMarkStroke(false);
  PublishStrength(40);
  m_doc.DeleteAllMarks();
  EXPECT_FALSE(m_doc.Marks());
  ASSERT_TRUE(m_doc.AllMarks());
  EXPECT_EQ(PixelByte(*m_doc.AllMarks(), 2, 2), keMarkBackground);
  EXPECT_TRUE(m_doc.Points(false).empty());
  EXPECT_EQ(m_doc.PrevStrength(), 0);

  // A new stroke after the deletion starts a fresh marks image.
  m_doc.BeginMarkStroke(true);
  ASSERT_TRUE(m_doc.Marks());
  EXPECT_EQ(PixelByte(*m_doc.Marks(), 2, 2), keMarkNone);

  m_doc.Reset();
  EXPECT_FALSE(m_doc.Marks());
  EXPECT_FALSE(m_doc.AllMarks());
}

TEST_F(MatteDocumentTest, ResetMakesTheWorkFullyOpaqueAndRestoresTheDisplay) {
  SetPixelByte(m_displayed, 0, 0, 3, 0);
  SetWorkAlpha(0, 0, 0);
  m_doc.Reset();
  EXPECT_EQ(PixelByte(m_displayed, 0, 0, 3), 255);
  EXPECT_EQ(PixelByte(m_displayed, 2, 1, 3), 0);  // the layer's own alpha
  EXPECT_EQ(PixelByte(m_doc.Work(), 2, 1, 3), 255);
  EXPECT_EQ(PixelByte(*m_doc.PrevMatte(), 2, 1), 255);
}

TEST_F(MatteDocumentTest, EndOfARecoverStrokeMakesPartialAlphaOpaque) {
  SetWorkAlpha(5, 5, 90);
  m_doc.EndManualStroke(false);
  EXPECT_EQ(PixelByte(m_doc.Work(), 5, 5, 3), 90);  // erase leaves the brush's alpha
  EXPECT_EQ(PixelByte(*m_doc.PrevMatte(), 5, 5), 90);
  m_doc.EndManualStroke(true);
  EXPECT_EQ(PixelByte(m_doc.Work(), 5, 5, 3), 255);
  EXPECT_EQ(PixelByte(m_doc.Base(), 5, 5, 3), 255);
  EXPECT_EQ(AllBytes(m_doc.ResultImage()), AllBytes(m_displayed));
}

// A run's snapshot costs references only; whatever the editor does while the
// run works, the snapshot keeps the state it was taken in.
TEST_F(MatteDocumentTest, ASnapshotSharesStorageAndKeepsItsStateThroughEdits) {
  m_doc.BeginMarkStroke(false);
  m_doc.MarkPoint(false, 3, 2);
  m_doc.EndMarkStroke(false);
  CRunParameters params;
  params.fillHoles = true;
  CRunInputs in = m_doc.SnapshotForRun(params);
  EXPECT_TRUE(in.base.SharesStorage());
  ASSERT_TRUE(in.marks && in.allMarks);
  EXPECT_TRUE(in.marks->SharesStorage());
  EXPECT_EQ(in.prevMatte.get(), m_doc.PrevMatte());
  const std::vector<uint8_t> base = AllBytes(in.base);
  const std::vector<uint8_t> marks = AllBytes(*in.marks);
  const std::vector<uint8_t> allMarks = AllBytes(*in.allMarks);
  const CPlane prevMatte = *in.prevMatte;

  m_doc.BeginMarkStroke(true);
  m_doc.MarkPoint(true, 5, 4);
  m_doc.EndMarkStroke(true);
  SetWorkAlpha(6, 3, 0);
  m_doc.EndManualStroke(false);
  EXPECT_EQ(PixelByte(*m_doc.Marks(), 5, 4), keMarkObject);
  EXPECT_EQ(PixelByte(m_doc.Base(), 6, 3, 3), 0);
  EXPECT_EQ(PixelByte(*m_doc.PrevMatte(), 6, 3), 0);

  EXPECT_EQ(AllBytes(in.base), base);
  EXPECT_EQ(AllBytes(*in.marks), marks);
  EXPECT_EQ(AllBytes(*in.allMarks), allMarks);
  EXPECT_EQ(in.prevMatte->At(6, 3), prevMatte.At(6, 3));
  EXPECT_EQ(prevMatte.At(6, 3), 255);

  // Reset replaces everything the snapshot shares.
  m_doc.Reset();
  EXPECT_EQ(AllBytes(in.base), base);
  EXPECT_EQ(AllBytes(*in.marks), marks);
}

// The base follows the work by sharing it, and the next edit of the work
// leaves the base as it was committed.
TEST_F(MatteDocumentTest, TheBaseKeepsTheCommittedWorkWhenTheWorkIsEdited) {
  m_doc.CommitBase();
  EXPECT_TRUE(m_doc.Base().SharesStorage());
  SetWorkAlpha(4, 4, 0);
  EXPECT_EQ(PixelByte(m_doc.Work(), 4, 4, 3), 0);
  EXPECT_EQ(PixelByte(m_doc.Base(), 4, 4, 3), 255);
}
