// Mouse modes of the view driven through a headless host: the selection, zoom and scroll that
// presses, drags and releases leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "quillo/platform/cursors.h"
#include "quillo/quillo.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// A 200 x 150 client (no border) over a 400 x 300 bitmap, hosted.
struct TMouseFixture {
  TQuilloView View;
  std::unique_ptr<TControlHost> Host;
  explicit TMouseFixture(TQLMouseInteract Mode, int32_t BW = 400, int32_t BH = 300) {
    View.SetBorderStyle(bsNone);
    View.SetBounds(0, 0, 200, 150);
    const TBitmap B = RandomBitmap24(BW, BH, 5);
    View.Assign(&B);
    View.SetMouseInteract(Mode);
    Host = std::make_unique<TControlHost>(View);
    Host->PaintAll();
  }
  std::vector<TPoint> Points() const {
    const TPoint* P = View.GetPolySelArray();
    return P ? std::vector<TPoint>(P, P + View.GetPolySelCount()) : std::vector<TPoint>{};
  }
};

std::vector<TPoint> RectPts(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  return {{X1, Y1}, {X2, Y1}, {X2, Y2}, {X1, Y2}};
}

// Records every cursor the window was asked to show.
struct TCursorHost : TControlHost {
  using TControlHost::TControlHost;
  std::vector<int32_t> Shown;
  void ShowCursor(int32_t Cursor) override { Shown.push_back(Cursor); }
};

struct TVirtualClock {
  TVirtualClock() { Application().UseVirtualClock(true); }
  ~TVirtualClock() { Application().UseVirtualClock(false); }
  TVirtualClock(const TVirtualClock&) = delete;
  TVirtualClock& operator=(const TVirtualClock&) = delete;
};

TColor SurfacePixel(const TBitmap& B, int32_t X, int32_t Y) {
  const uint8_t* P = B.ScanLine(Y) + X * 3;
  return P[2] | (P[1] << 8) | (P[0] << 16);
}

}  // namespace

TEST(ViewMouse, AddingAModeDropsTheIncompatibleOnes) {
  TQuilloView V;
  V.SetMouseInteract(miZoom | miScroll);
  V.SetMouseInteract(miZoom | miScroll | miSelectPolygon);
  EXPECT_EQ(V.GetMouseInteract(), miSelectPolygon);
  V.SetMouseInteract(miSelect);
  V.SetMouseInteract(miSelect | miZoom);
  EXPECT_EQ(V.GetMouseInteract(), miZoom | miSelect);
  V.SetMouseInteract(miZoom | miSelect | miSelectMagicWand);
  EXPECT_EQ(V.GetMouseInteract(), miSelectMagicWand);
  // Removing members keeps what is given.
  V.SetMouseInteract(miZoom | miScroll);
  V.SetMouseInteract(miScroll);
  EXPECT_EQ(V.GetMouseInteract(), miScroll);
}

TEST(ViewMouse, ClicksZoomInAndOutByTheSteps) {
  TMouseFixture F(miZoom);
  struct {
    double From;
    TMouseButton Button;
    double To;
  } const Cases[] = {{30, mbLeft, 33},   {100, mbLeft, 200}, {1, mbLeft, 2},  {150, mbRight, 100},
                     {100, mbRight, 75}, {2, mbRight, 2},    {1, mbRight, 2}, {300, mbRight, 200}};
  for (const auto& C : Cases) {
    F.View.SetZoom(C.From);
    F.Host->Click(1, 1, C.Button);
    EXPECT_EQ(F.View.GetZoom(), C.To) << C.From;
  }
  // A press and release at different points is no click.
  F.View.SetZoom(100);
  F.Host->Drag(Point(10, 10), Point(30, 10));
  EXPECT_EQ(F.View.GetZoom(), 100);
  // Without miZoom the right button does nothing.
  F.View.SetMouseInteract(0);
  F.View.SetMouseInteract(miSelect);
  F.Host->Click(20, 20, mbRight);
  EXPECT_EQ(F.View.GetZoom(), 100);
  EXPECT_FALSE(F.View.GetSelected());
}

TEST(ViewMouse, ScrollDragMovesTheViewByTheMouse) {
  TMouseFixture F(miScroll);
  F.View.SetViewXY(50, 50);
  F.Host->Drag(Point(100, 75), Point(60, 45));
  EXPECT_EQ(F.View.GetViewX(), 90);
  EXPECT_EQ(F.View.GetViewY(), 80);
  // The view stops at its limits.
  F.Host->Drag(Point(10, 10), Point(190, 140));
  EXPECT_EQ(F.View.GetViewX(), 0);
  EXPECT_EQ(F.View.GetViewY(), 0);
}

TEST(ViewMouse, RectangleDragAtSeveralZoomsAndScrolls) {
  struct {
    double Zoom;
    int32_t VX, VY;
    TPoint A, B;
    std::vector<TPoint> Want;
  } const Cases[] = {
      {100, 0, 0, {10, 20}, {60, 70}, RectPts(10, 20, 61, 71)},
      {100, 50, 30, {10, 20}, {60, 70}, RectPts(60, 50, 111, 101)},
      // Drawn backwards: the pixel under the release is the first one left out.
      {100, 50, 30, {60, 70}, {10, 20}, RectPts(61, 51, 110, 100)},
      {200, 100, 60, {10, 20}, {61, 71}, RectPts(55, 40, 81, 66)},
      {50, 0, 0, {10, 20}, {61, 71}, RectPts(20, 40, 123, 143)},
  };
  for (const auto& C : Cases) {
    TMouseFixture F(miSelect);
    F.View.SetZoom(C.Zoom);
    F.View.SetViewXY(C.VX, C.VY);
    F.Host->PaintAll();
    F.Host->Drag(C.A, C.B);
    EXPECT_EQ(F.Points(), C.Want) << C.Zoom << " " << C.VX;
    const int32_t W = C.Want[2].X - C.Want[0].X, H = C.Want[2].Y - C.Want[0].Y;
    EXPECT_TRUE(F.View.Mask().IsPointInside(C.Want[0].X, C.Want[0].Y));
    EXPECT_TRUE(F.View.Mask().IsPointInside(C.Want[0].X + W - 1, C.Want[0].Y + H - 1));
    EXPECT_FALSE(F.View.Mask().IsPointInside(C.Want[0].X + W, C.Want[0].Y));
  }
}

TEST(ViewMouse, RectangleEventsFilterGripsAndMoving) {
  TMouseFixture F(miSelect);
  int32_t Changing = 0, Change = 0;
  F.View.OnSelectionChanging = [&](TObject*) { ++Changing; };
  F.View.OnSelectionChange = [&](TObject*) { ++Change; };
  F.View.SetZoomFilter(rfTriangle);
  TResampleFilter During = rfTriangle;
  F.View.OnMouseMove = [&](TObject*, TShiftState, int32_t, int32_t) {
    During = F.View.GetZoomFilter();
  };
  F.Host->Drag(Point(10, 20), Point(60, 70), 4);
  EXPECT_EQ(During, rfNone);
  EXPECT_EQ(F.View.GetZoomFilter(), rfTriangle);
  EXPECT_EQ(Change, 1);
  EXPECT_EQ(Changing, 1 + 4);  // the press and each move
  F.View.OnMouseMove = nullptr;
  ASSERT_EQ(F.Points(), RectPts(10, 20, 61, 71));

  // Cursors: a corner grip, an edge grip, inside, elsewhere.
  F.Host->MouseMove(61, 71);
  EXPECT_EQ(F.Host->GetShownCursor(), crQLMoveNWSE);
  F.Host->MouseMove(61, 50);
  EXPECT_EQ(F.Host->GetShownCursor(), crQLMoveWE);
  F.Host->MouseMove(30, 20);
  EXPECT_EQ(F.Host->GetShownCursor(), crQLMoveNS);
  F.Host->MouseMove(30, 40);
  EXPECT_EQ(F.Host->GetShownCursor(), crQLMove);
  F.Host->MouseMove(150, 140);
  EXPECT_EQ(F.Host->GetShownCursor(), crQLCross2);
  EXPECT_EQ(F.View.GetCursor(), crQLCross2);

  // The bottom-right grip resizes; dragging inside moves.
  F.Host->Drag(Point(61, 71), Point(91, 101));
  EXPECT_EQ(F.Points(), RectPts(10, 20, 92, 102));
  F.Host->Drag(Point(30, 40), Point(40, 45));
  EXPECT_EQ(F.Points(), RectPts(20, 25, 102, 107));
  EXPECT_TRUE(F.View.Mask().IsPointInside(101, 106));
  EXPECT_FALSE(F.View.Mask().IsPointInside(19, 30));
  // A left-edge grip dragged past the right edge flips the rectangle.
  F.Host->Drag(Point(20, 60), Point(150, 60));
  EXPECT_EQ(F.Points(), RectPts(102, 25, 151, 107));

  // A drag that does not move keeps the selection; the release still reports.
  const int32_t Before = Change;
  F.Host->Click(170, 130);
  EXPECT_EQ(F.Points(), RectPts(102, 25, 151, 107));
  EXPECT_EQ(Change, Before + 1);
}

TEST(ViewMouse, ShiftDragAddsARectangleAndReplacesOnlyThatOne) {
  TMouseFixture F(miSelect);
  F.Host->Drag(Point(10, 10), Point(40, 40));
  F.Host->Drag(Point(100, 20), Point(150, 60), 5, mbLeft, ssShift);
  std::vector<TPoint> Want = RectPts(10, 10, 41, 41);
  Want.push_back(Point(QLPolyBreak, QLPolyBreak));
  for (TPoint P : RectPts(100, 20, 151, 61)) Want.push_back(P);
  EXPECT_EQ(F.Points(), Want);
  EXPECT_TRUE(F.View.Mask().IsPointInside(20, 20));
  EXPECT_TRUE(F.View.Mask().IsPointInside(120, 40));
}

TEST(ViewMouse, PolygonOfClicksClosesWithADoubleClick) {
  TMouseFixture F(miSelectPolygon);
  int32_t Change = 0;
  F.View.OnSelectionChange = [&](TObject*) { ++Change; };
  F.Host->Click(10, 10);
  // Ctrl snaps a vertex that is nearly level with the last one.
  F.Host->Click(100, 20, mbLeft, ssCtrl);
  F.Host->Click(100, 80);

  // The rubber band inverts the pixels from the mouse to the last vertex, and moving on puts
  // them back.
  F.Host->UpdateAll();
  TBitmap Clean;
  Clean.Assign(F.View.Surface());
  F.Host->MouseMove(40, 120);
  const TBitmap& S = F.View.Surface();
  EXPECT_EQ(SurfacePixel(S, 70, 100), SurfacePixel(Clean, 70, 100) ^ 0xFFFFFF);
  F.Host->MouseMove(10, 80);
  EXPECT_EQ(SurfacePixel(S, 70, 100), SurfacePixel(Clean, 70, 100));
  EXPECT_EQ(SurfacePixel(S, 30, 80), SurfacePixel(Clean, 30, 80) ^ 0xFFFFFF);

  F.Host->Click(10, 80);
  EXPECT_EQ(Change, 0);
  F.Host->DoubleClick(10, 80, mbLeft);
  F.Host->MouseUp(10, 80, mbLeft);
  EXPECT_EQ(Change, 1);
  EXPECT_EQ(F.Points(), RectPts(10, 10, 100, 80));
  EXPECT_TRUE(F.View.Mask().IsPointInside(50, 50));
  EXPECT_FALSE(F.View.Mask().IsPointInside(5, 50));

  // Dragging inside moves it; a new click elsewhere starts over.
  F.Host->Drag(Point(50, 50), Point(60, 55));
  EXPECT_EQ(F.Points(), RectPts(20, 15, 110, 85));
  F.Host->Click(150, 100);
  EXPECT_EQ(F.Points(), std::vector<TPoint>{Point(150, 100)});
  // Changing the mode ends the polygon without the last vertex.
  F.Host->Click(180, 100);
  F.Host->Click(180, 140);
  F.View.SetMouseInteract(miSelect);
  EXPECT_EQ(F.Points(), (std::vector<TPoint>{{150, 100}, {180, 100}}));
}

TEST(ViewMouse, FreehandDragAppendsEveryPoint) {
  TMouseFixture F(miSelectPolygon);
  F.View.SetViewXY(30, 20);
  F.Host->Drag(Point(10, 10), Point(50, 30), 4);
  F.Host->DoubleClick(50, 30, mbLeft);
  F.Host->MouseUp(50, 30, mbLeft);
  // The press, four moves, the second click of the double click (dropped).
  const std::vector<TPoint> Want = {{40, 30}, {50, 35}, {60, 40}, {70, 45}, {80, 50}};
  EXPECT_EQ(F.Points(), Want);
}

TEST(ViewMouse, EllipseDragFromTheCentre) {
  TMouseFixture F(miSelectCircle);
  F.Host->Drag(Point(100, 75), Point(110, 85));
  EXPECT_EQ(F.View.GetPolySelCount(), 15);  // Trunc(10 * 2 pi) div 4
  EXPECT_EQ(F.View.GetPolySel(0), Point(110, 75));
  F.Host->Drag(Point(100, 75), Point(110, 80));
  EXPECT_EQ(F.View.GetPolySelCount(), 15);  // a drag inside moves the ellipse
  EXPECT_EQ(F.View.GetPolySel(0), Point(120, 80));
  F.Host->Drag(Point(50, 50), Point(50, 50));
  EXPECT_EQ(F.View.GetPolySelCount(), 3);  // radius 0
  F.Host->Drag(Point(50, 50), Point(71, 50));
  EXPECT_EQ(F.View.GetPolySelCount(), 3);  // one radius 0
  // Ctrl makes a circle of the larger radius; Shift adds.
  F.Host->Drag(Point(100, 75), Point(104, 65), 2, mbLeft, ssCtrl | ssShift);
  EXPECT_EQ(F.View.GetPolySelCount(), 3 + 1 + 15);
}

TEST(ViewMouse, AutoScrollAdvancesOnTheClockUntilRelease) {
  TVirtualClock Clock;
  TMouseFixture F(miSelect);
  F.Host->MouseMove(100, 75);
  F.Host->MouseDown(100, 75, mbLeft);
  F.Host->MouseMove(220, 100);  // 21 pixels past the last image column
  EXPECT_EQ(F.View.GetViewX(), 21);
  for (int32_t I = 2; I <= 4; ++I) {
    Application().AdvanceClock(TQuilloView::kScrollInterval);
    EXPECT_EQ(F.View.GetViewX(), 21 * I);
  }
  EXPECT_EQ(F.View.GetViewY(), 0);
  // The press point stays on its bitmap pixel while the view moves under it.
  EXPECT_EQ(F.Points(), RectPts(100, 75, 200 + 84 + 1, 101));
  F.Host->MouseUp(220, 100, mbLeft);
  Application().AdvanceClock(5 * TQuilloView::kScrollInterval);
  EXPECT_EQ(F.View.GetViewX(), 84);
  EXPECT_EQ(F.Points(), RectPts(100, 75, 285, 101));

  // Scrolling stops at the limit even with the cursor still outside.
  F.View.DeSelect();
  F.Host->MouseDown(100, 100, mbLeft);
  F.Host->MouseMove(100, 260);  // 111 below
  for (int32_t I = 0; I < 5; ++I) Application().AdvanceClock(TQuilloView::kScrollInterval);
  EXPECT_EQ(F.View.GetViewY(), 150);
  F.Host->MouseUp(100, 260, mbLeft);
}

TEST(ViewMouse, MagicWandClickSelectsAndDragInsideMoves) {
  TMouseFixture F(miSelectMagicWand, 100, 80);
  TBitmap B;
  B.Recreate(100, 80, pf24bit);
  B.Canvas().Brush().SetColor(clWhite);
  B.Canvas().FillRect(Rect(0, 0, 100, 80));
  B.Canvas().Brush().SetColor(clRed);
  B.Canvas().FillRect(Rect(20, 10, 50, 40));
  F.View.Assign(&B);
  F.Host->PaintAll();
  int32_t Change = 0;
  F.View.OnSelectionChange = [&](TObject*) { ++Change; };
  F.Host->Click(30, 20);
  EXPECT_EQ(Change, 1);
  EXPECT_EQ(F.View.GetSelX1(), 20);
  EXPECT_EQ(F.View.GetSelY1(), 10);
  EXPECT_EQ(F.View.GetSelX2(), 50);
  EXPECT_EQ(F.View.GetSelY2(), 40);
  EXPECT_EQ(F.Host->GetShownCursor(), crQLCross2);
  // A release inside the selection ends a move instead of selecting again.
  F.Host->Drag(Point(30, 20), Point(35, 22));
  EXPECT_EQ(Change, 2);
  EXPECT_EQ(F.View.GetSelX1(), 25);
  EXPECT_EQ(F.View.GetSelY1(), 12);
  // A click outside the bitmap leaves the selection.
  F.Host->Click(150, 120);
  EXPECT_EQ(F.View.GetSelX1(), 25);

  // The hourglass shows while the outline is computed, and the view's cursor comes back.
  F.Host.reset();
  TCursorHost Host(F.View);
  Host.Click(80, 70);
  EXPECT_NE(std::find(Host.Shown.begin(), Host.Shown.end(), crHourGlass), Host.Shown.end());
  EXPECT_EQ(Host.Shown.back(), crQLCross2);
  EXPECT_EQ(F.View.GetSelX1(), 0);  // the white area around the rectangle

  // OnMouseInSel fires only over the selected pixels: the white area's outer outline holds
  // the whole bitmap.
  int32_t InSel = 0;
  F.View.OnMouseInSel = [&](TObject*) { ++InSel; };
  Host.MouseMove(30, 20);
  EXPECT_EQ(InSel, 1);
  Host.MouseMove(150, 120);
  EXPECT_EQ(InSel, 1);
}

TEST(ViewMouse, SelectZoomZoomsToTheDraggedRectangle) {
  TMouseFixture F(miSelectZoom);
  F.Host->Drag(Point(0, 0), Point(49, 37));
  EXPECT_FALSE(F.View.GetSelected());
  EXPECT_GT(F.View.GetZoom(), 250);
  EXPECT_EQ(F.View.XScr2Bmp(0), 0);
}
