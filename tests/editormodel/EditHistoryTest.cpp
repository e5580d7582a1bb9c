#include "editor/model/EditHistory.h"

#include <gtest/gtest.h>

#include "TestImages.h"

namespace {

// A state whose work image is fresh storage of `side` x `side` BGRA.
CEditorState StateWithWork(int side, int modified) {
  CEditorState state;
  ThrowIfFailed(state.document.work.CreateBGRA(side, side));
  state.controls.modified = modified;
  return state;
}

}  // namespace

TEST(EditHistory, TheOldestStepsGoBeyondTheStepLimit) {
  CEditHistory history(CHistoryLimits{size_t{1} << 30, 3});
  for (int i = 0; i < 5; ++i) history.Record(StateWithWork(4, i));
  EXPECT_EQ(history.StepCount(), 3u);
  CEditorState current = StateWithWork(4, 5);
  for (int expected : {4, 3, 2}) {
    ASSERT_TRUE(history.CanUndo());
    current = history.Undo(std::move(current));
    EXPECT_EQ(current.controls.modified, expected);
  }
  EXPECT_FALSE(history.CanUndo());
}

TEST(EditHistory, BytesCountStorageTheCurrentStateDoesNotHoldAndEachPieceOnce) {
  CEditHistory history;
  const CEditorState current = StateWithWork(256, 0);
  const size_t image = current.document.work.StorageBytes();
  ASSERT_GE(image, 256u * 256u * 4u);

  // Shared with the current state: nothing kept.
  CEditorState same;
  ThrowIfFailed(same.document.work.ShareFrom(current.document.work));
  history.Record(std::move(same));
  EXPECT_EQ(history.Bytes(current.document), 0u);

  // Storage of its own, held twice by the history: counted once.
  CEditorState old = StateWithWork(256, 1);
  ThrowIfFailed(old.document.base.ShareFrom(old.document.work));
  CEditorState older;
  ThrowIfFailed(older.document.resultImage.ShareFrom(old.document.work));
  history.Record(std::move(old));
  history.Record(std::move(older));
  EXPECT_EQ(history.Bytes(current.document), image);
}

TEST(EditHistory, TheByteLimitDropsTheOldestSteps) {
  const size_t image = StateWithWork(256, 0).document.work.StorageBytes();
  CEditHistory history(CHistoryLimits{2 * image + image / 2, 100});
  for (int i = 0; i < 4; ++i) history.Record(StateWithWork(256, i));
  // The newest step is the current state's own storage when recorded.
  EXPECT_EQ(history.StepCount(), 3u);
}

// What only the history holds is kept compact against the layer, and comes
// back byte for byte: alpha always, colours where they differ.
TEST(EditHistory, PicturesOnlyTheHistoryHoldsAreKeptCompactAndComeBackExactly) {
  CCoreImage layer = MakeImage(64, 64, 10, 20, 30, 255);
  for (int i = 0; i < 64; ++i) SetPixel(layer, i, (i * 7) % 64, 200, static_cast<uint8_t>(i), 5, 255);
  CEditHistory history;
  history.Open(layer);

  CEditorState edited;
  ThrowIfFailed(edited.document.work.CopyFrom(layer));
  SetPixel(edited.document.work, 3, 4, 10, 20, 30, 0);    // alpha only
  SetPixel(edited.document.work, 9, 9, 99, 98, 97, 128);  // a colour of its own
  ThrowIfFailed(edited.document.base.ShareFrom(edited.document.work));
  CEditorState far;
  far.document.resultImage = MakeImage(64, 64, 1, 2, 3, 255);  // every colour differs
  const std::vector<uint8_t> work = BytesOf(edited.document.work);
  const std::vector<uint8_t> result = BytesOf(far.document.resultImage);
  const size_t full = edited.document.work.StorageBytes();

  history.Record(std::move(far));
  history.Record(std::move(edited));
  history.Compact();
  const CDocumentState nothing;
  // The compact work (64 x 64 alpha and one colour) and the full result.
  EXPECT_LT(history.Bytes(nothing), 2 * full);
  EXPECT_GT(history.Bytes(nothing), full);

  CEditorState back = history.Undo(CEditorState());
  EXPECT_EQ(BytesOf(back.document.work), work);
  EXPECT_EQ(back.document.base.StorageId(), back.document.work.StorageId());
  back = history.Undo(std::move(back));
  EXPECT_EQ(BytesOf(back.document.resultImage), result);
}
