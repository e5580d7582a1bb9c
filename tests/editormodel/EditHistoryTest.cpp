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
