// The tool view over a real session on the offscreen platform: the user's
// pointer and keys reach the document, and what the view draws over the
// picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <vector>

#include "../editormodel/TestImages.h"
#include "editor/ToolView.h"
#include "engine/Marks.h"
#include "engine/MatteFilter.h"
#include "framework/dialogs/QtApplicationScope.h"
#include "framework/dialogs/QtMessageWindow.h"

namespace {

class CListenerRecorder : public IEditorSessionListener {
 public:
  void Repaint(bool) override { ++repaints; }
  void ShowStatus(int kind) override { statuses.push_back(kind); }
  int repaints = 0;
  std::vector<int> statuses;
};

constexpr QRgb kBackgroundStroke = 0xFFFF6464;
constexpr QRgb kObjectStroke = 0xFF64FF64;

class ToolViewTest : public ::testing::Test {
 protected:
  void Open(CCoreImage picture, int width, int height) {
    holder = std::move(picture);
    window.SetMessageHandler([this](const CWindowMessage& message) { session.HandleMessage(message); });
    session.Open(window);
    view.SetSession(&session, &forward);
    view.resize(width, height);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.OnInitialUpdate();
  }
  QWidget* Client() { return view.viewport(); }
  // A client point inside the image pixel as the view shows it now.
  QPoint Inside(int x, int y) {
    QPoint point(x, y);
    view.ImageToClient(point);
    return point + QPoint(static_cast<int>(view.GetZoom()) / 2, static_cast<int>(view.GetZoom()) / 2);
  }
  // Where the strokes through a pixel are drawn.
  QPoint Drawn(int x, int y) {
    const CClientPoint point = MarkPixelToClient(view.Geometry(), CMarkPoint{x, y});
    return {point.x, point.y};
  }
  QImage Grab() { return Client()->grab().toImage(); }
  static QRgb At(const QImage& shown, QPoint p) { return shown.pixel(p) | 0xFF000000; }
  void Press(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(Client(), button, Qt::NoModifier, at);
  }
  void Move(QPoint at) { QTest::mouseMove(Client(), at); }
  void Release(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(Client(), button, Qt::NoModifier, at);
  }
  // A move without a button held, as the pointer passes over the view.
  void Hover(QPoint at) {
    QMouseEvent event(QEvent::MouseMove, at, Client()->mapToGlobal(at), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Client(), &event);
  }
  const std::vector<CMarkPoint>& Background() { return session.Document().Points(false); }
  const std::vector<CMarkPoint>& Object() { return session.Document().Points(true); }
  uint8_t MarkAt(int x, int y) { return GreyAt(*session.Document().Marks(), x, y); }

  CPrivateConfig config;
  CQtApplicationScope application;
  CCoreImage holder;
  CMatteFilter filter;
  CMatteDocument document;
  CQtMessageWindow window;
  CEditorSession session{filter, document, holder};
  CListenerRecorder forward;
  CToolView view;
};

TEST_F(ToolViewTest, ToolButtonsSelectThroughTheSessionAndShowTheToolsCursor) {
  Open(MakeSkyAndRoof(60, 40), 300, 200);
  forward.statuses.clear();
  EXPECT_TRUE(view.OnCommand(ID_TOOL_HAND));
  EXPECT_EQ(session.Tool(), ID_TOOL_HAND);
  EXPECT_EQ(forward.statuses, std::vector<int>{keStatusToolHelp});
  // The cursor resources are pictures of our own.
  EXPECT_EQ(Client()->cursor().shape(), Qt::BitmapCursor);
  view.OnCommand(ID_TOOL_MARK_OBJECT);
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_OBJECT);
  EXPECT_EQ(Client()->cursor().shape(), Qt::BitmapCursor);
}

TEST_F(ToolViewTest, AStrokeAtZoomTwoRecordsImagePixelsAndIsDrawnInItsColour) {
  Open(MakeSkyAndRoof(60, 40), 300, 200);
  view.OnCommand(ID_TOOL_MARK_BACKGROUND);
  view.SetZoom(2);
  Press(Inside(10, 7));
  Move(Inside(20, 7));
  Move(Inside(20, 15));
  Release(Inside(20, 15));
  const std::vector<CMarkPoint> expected = {{10, 7}, {20, 7}, {20, 15}, kStrokeEnd};
  EXPECT_EQ(Background(), expected);
  EXPECT_TRUE(Object().empty());
  EXPECT_EQ(MarkAt(10, 7), keMarkBackground);
  EXPECT_EQ(MarkAt(20, 15), keMarkBackground);
  EXPECT_EQ(MarkAt(15, 7), keMarkNone);  // lines between samples are not marks
  EXPECT_EQ(session.PressCount(), session.ReleaseCount());

  const QImage shown = Grab();
  EXPECT_EQ(At(shown, (Drawn(10, 7) + Drawn(20, 7)) / 2), kBackgroundStroke);
  EXPECT_EQ(At(shown, (Drawn(20, 7) + Drawn(20, 15)) / 2), kBackgroundStroke);
  EXPECT_NE(At(shown, Drawn(15, 12)), kBackgroundStroke);
}

TEST_F(ToolViewTest, CtrlSwitchesTheStrokeToTheOtherToolMidDrag) {
  Open(MakeSkyAndRoof(60, 40), 300, 200);
  view.OnCommand(ID_TOOL_MARK_BACKGROUND);
  Press(Inside(5, 5));
  Move(Inside(10, 5));
  QTest::keyPress(&view, Qt::Key_Control);
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_OBJECT);
  Move(Inside(15, 5));
  QTest::keyRelease(&view, Qt::Key_Control);
  EXPECT_EQ(session.Tool(), ID_TOOL_MARK_BACKGROUND);
  Move(Inside(20, 5));
  Release(Inside(20, 5));

  const std::vector<CMarkPoint> background = {{5, 5}, {10, 5}, kStrokeEnd,
                                              {15, 5}, {20, 5}, kStrokeEnd};
  const std::vector<CMarkPoint> object = {{10, 5}, {15, 5}, kStrokeEnd};
  EXPECT_EQ(Background(), background);
  EXPECT_EQ(Object(), object);
  EXPECT_EQ(MarkAt(15, 5), keMarkBackground);  // marked by both, the latest wins
  EXPECT_EQ(MarkAt(10, 5), keMarkObject);
  EXPECT_EQ(session.PressCount(), 3);
  EXPECT_EQ(session.ReleaseCount(), 3);

  // The object part is drawn green over the red, which ends where it began.
  const QImage shown = Grab();
  EXPECT_EQ(At(shown, Drawn(12, 5)), kObjectStroke);
  EXPECT_EQ(At(shown, Drawn(7, 5)), kBackgroundStroke);
  EXPECT_EQ(At(shown, Drawn(18, 5)), kBackgroundStroke);
}

TEST_F(ToolViewTest, AClickInTheMarginMarksTheNearestEdgePixel) {
  Open(MakeSkyAndRoof(60, 40), 300, 200);
  ASSERT_GT(view.ImageOrigin().x(), 5);
  view.OnCommand(ID_TOOL_MARK_OBJECT);
  QTest::mouseClick(Client(), Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
  const QPoint far(Client()->width() - 2, Client()->height() - 2);
  QTest::mouseClick(Client(), Qt::LeftButton, Qt::NoModifier, far);
  const std::vector<CMarkPoint> expected = {{0, 0}, kStrokeEnd, {59, 39}, kStrokeEnd};
  EXPECT_EQ(Object(), expected);
}

TEST_F(ToolViewTest, DeleteAllMarksEmptiesTheListsAndTheStrokesGo) {
  Open(MakeSkyAndRoof(60, 40), 300, 200);
  view.OnCommand(ID_TOOL_MARK_BACKGROUND);
  Press(Inside(10, 10));
  Move(Inside(30, 10));
  Release(Inside(30, 10));
  ASSERT_EQ(At(Grab(), Drawn(20, 10)), kBackgroundStroke);
  forward.repaints = 0;
  EXPECT_TRUE(view.OnCommand(ID_DELETE_ALL_MARKS));
  EXPECT_TRUE(Background().empty());
  EXPECT_EQ(forward.repaints, 1);
  EXPECT_NE(At(Grab(), Drawn(20, 10)), kBackgroundStroke);
}

// A stroke whose start has scrolled off the left edge is still drawn along
// its own path up to the edge.
TEST_F(ToolViewTest, StrokesRunOnBeyondTheWindowEdges) {
  Open(MakeSkyAndRoof(400, 100), 200, 200);
  view.OnCommand(ID_TOOL_MARK_BACKGROUND);
  Press(Inside(10, 30));
  Move(Inside(150, 30));
  Release(Inside(150, 30));
  view.horizontalScrollBar()->setValue(50);
  ASSERT_LT(Drawn(10, 30).x(), 0);
  const QImage shown = Grab();
  EXPECT_EQ(At(shown, QPoint(1, Drawn(10, 30).y())), kBackgroundStroke);
  EXPECT_EQ(At(shown, QPoint(60, Drawn(10, 30).y())), kBackgroundStroke);
}

TEST_F(ToolViewTest, EraseAndRecoverDabsChangeTheDisplayedImage) {
  Open(MakeSkyAndRoof(120, 120), 300, 300);
  ASSERT_TRUE(view.OnCommand(ID_TOOL_MANUAL));
  ASSERT_NE(session.Brush(), nullptr);
  const QPoint centre = Inside(60, 30);

  Press(centre);
  EXPECT_TRUE(view.IsBrushActive());
  EXPECT_EQ(Client()->cursor().shape(), Qt::BlankCursor);
  EXPECT_EQ(AlphaAt(holder, 60, 30), 0);
  EXPECT_EQ(AlphaAt(session.Document().Work(), 60, 30), 0);
  Release(centre);
  EXPECT_EQ(session.DisplaySelection(), keDisplayResult);
  // Off the outline's cross the erased picture shows the checkerboard.
  const QPoint probe = centre + QPoint(8, 6);
  const QPoint cell = probe - view.ImageOrigin();
  const QRgb matte = (cell.x() / 10 + cell.y() / 10) % 2 == 0 ? qRgb(208, 205, 195) : qRgb(255, 255, 255);
  EXPECT_EQ(At(Grab(), probe), matte);

  Press(centre, Qt::RightButton);
  EXPECT_EQ(AlphaAt(holder, 60, 30), 255);
  Release(centre, Qt::RightButton);
  EXPECT_EQ(At(Grab(), probe), qRgb(40, 90, 220));

  // Off the view the outline goes and the cursor comes back.
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(Client(), &leave);
  EXPECT_FALSE(view.IsBrushActive());
  EXPECT_NE(Client()->cursor().shape(), Qt::BlankCursor);
}

TEST_F(ToolViewTest, TheBrushOutlineIsDrawnInvertingInPlaceOfTheCursor) {
  Open(MakeSkyAndRoof(120, 120), 300, 300);
  view.OnCommand(ID_TOOL_MANUAL);
  const QPoint centre = Inside(60, 30);
  Hover(centre);
  ASSERT_TRUE(view.IsBrushActive());
  EXPECT_EQ(Client()->cursor().shape(), Qt::BlankCursor);
  // On the cross, a few pixels from its middle, the sky is inverted.
  const QImage shown = Grab();
  EXPECT_EQ(At(shown, centre + QPoint(5, 0)), qRgb(255 - 40, 255 - 90, 255 - 220));
  EXPECT_EQ(At(shown, centre + QPoint(5, 3)), qRgb(40, 90, 220));
  // Nothing was erased by passing over.
  EXPECT_EQ(AlphaAt(holder, 60, 30), 255);

  // Another tool takes the outline away.
  view.OnCommand(ID_TOOL_ZOOM);
  EXPECT_FALSE(view.IsBrushActive());
  EXPECT_EQ(At(Grab(), centre + QPoint(5, 0)), qRgb(40, 90, 220));
}

TEST_F(ToolViewTest, TheHandToolScrollsWithinTheScrollRange) {
  Open(MakeSkyAndRoof(400, 400), 200, 200);
  view.OnCommand(ID_TOOL_HAND);
  Press(QPoint(100, 100));
  Move(QPoint(60, 70));
  Release(QPoint(60, 70));
  EXPECT_EQ(view.ScrollPosition(), QPoint(40, 30));

  Press(QPoint(10, 10));
  Move(QPoint(150, 190));
  EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));
  Move(QPoint(-900, -900));
  Release(QPoint(-900, -900));
  const QSize client = Client()->size();
  EXPECT_EQ(view.ScrollPosition(), QPoint(400 - client.width(), 400 - client.height()));
}

TEST_F(ToolViewTest, TheHandToolCannotScrollASmallImage) {
  Open(MakeSkyAndRoof(60, 40), 300, 200);
  view.OnCommand(ID_TOOL_HAND);
  Press(QPoint(100, 100));
  Move(QPoint(20, 30));
  Release(QPoint(20, 30));
  EXPECT_EQ(view.ScrollPosition(), QPoint(0, 0));
}

TEST_F(ToolViewTest, TheZoomToolZoomsInWithTheLeftButtonAndOutWithTheRight) {
  Open(MakeSkyAndRoof(400, 400), 200, 200);
  view.OnCommand(ID_TOOL_ZOOM);
  QTest::mouseClick(Client(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 150));
  EXPECT_EQ(view.GetZoom(), 1.5);
  EXPECT_GT(view.ScrollPosition().x(), 0);
  QTest::mouseClick(Client(), Qt::RightButton, Qt::NoModifier, QPoint(150, 150));
  EXPECT_EQ(view.GetZoom(), 1);
  // Neither marks anything.
  EXPECT_FALSE(session.Document().HasMarks());
}

}  // namespace
