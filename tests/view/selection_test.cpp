// Selections: the point list, the mask against a point-in-polygon reference, the outline and its
// grips, and processing confined to the selection.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "quillo/quillo.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

std::unique_ptr<TQuilloView> MakeView(int32_t CW, int32_t CH, int32_t BW, int32_t BH) {
  auto V = std::make_unique<TQuilloView>();
  V->SetBorderStyle(bsNone);
  V->SetBounds(0, 0, CW, CH);
  TBitmap B = RandomBitmap24(BW, BH, 11);
  V->Assign(&B);
  V->Paint();
  return V;
}

int32_t MaskCount(const TQLMask& M) {
  int32_t N = 0;
  for (int32_t Y = 0; Y < M.GetHeight(); ++Y)
    for (int32_t X = 0; X < M.GetWidth(); ++X) N += M.IsPointInside(X, Y);
  return N;
}

// The crossing rule on the sample point (x + 1/2, y): an edge counts on rows y0 <= y < y1 and
// when it crosses the row left of the point. Returns -1 when an edge crosses exactly there (the
// fill may round either way).
int32_t InsideReference(const std::vector<TPoint>& P, int32_t X, int32_t Y) {
  bool In = false;
  const size_t N = P.size();
  for (size_t I = 0; I < N; ++I) {
    TPoint A = P[I], B = P[(I + 1) % N];
    if (A.Y == B.Y) continue;
    if (A.Y > B.Y) std::swap(A, B);
    if (Y < A.Y || Y >= B.Y) continue;
    // Crossing x = A.X + (Y - A.Y) * DX / DY against X + 1/2, in integers times 2 DY.
    const int64_t DX = int64_t(B.X) - A.X, DY = int64_t(B.Y) - A.Y;
    const int64_t Cross = 2 * (int64_t(A.X) * DY + (int64_t(Y) - A.Y) * DX);
    const int64_t Sample = (2 * int64_t(X) + 1) * DY;
    if (Cross == Sample) return -1;
    if (Cross < Sample) In = !In;
  }
  return In;
}

}  // namespace

TEST(Selection, RectanglesInBitmapBase) {
  auto V = MakeView(120, 100, 100, 80);
  V->SetSelectionBase(qlsbBitmap);
  V->Select(10, 20, 30, 40, qlspReplace);
  ASSERT_EQ(V->GetPolySelCount(), 4);
  const TPoint Want[4] = {{10, 20}, {30, 20}, {30, 40}, {10, 40}};
  for (int32_t I = 0; I < 4; ++I) EXPECT_EQ(V->GetPolySel(I), Want[I]);
  EXPECT_EQ(V->GetPolySel(4), Point(0, 0));
  EXPECT_EQ(V->GetSelX1(), 10);
  EXPECT_EQ(V->GetSelY2(), 40);
  EXPECT_EQ(MaskCount(V->Mask()), 400);
  EXPECT_TRUE(V->Mask().IsPointInside(29, 39));
  EXPECT_FALSE(V->Mask().IsPointInside(30, 39));

  // Reversed corners give the same; coincident ones are ignored.
  V->Select(30, 40, 10, 20, qlspReplace);
  EXPECT_EQ(MaskCount(V->Mask()), 400);
  V->Select(5, 5, 5, 50, qlspReplace);
  EXPECT_EQ(V->GetPolySelCount(), 4);

  // The whole bitmap: the mask grows by a column and a row, both clear.
  V->Select(-10, -10, 500, 500, qlspReplace);
  EXPECT_EQ(V->Mask().GetWidth(), 101);
  EXPECT_EQ(V->Mask().GetHeight(), 81);
  EXPECT_EQ(MaskCount(V->Mask()), 100 * 80);

  // Adding: a separator between, one box round both, overlaps set once.
  V->Select(0, 0, 20, 20, qlspReplace);
  V->Select(10, 10, 40, 30, qlspAdd);
  EXPECT_EQ(V->GetPolySelCount(), 9);
  EXPECT_EQ(V->GetPolySel(4).X, QLPolyBreak);
  EXPECT_EQ(V->GetSelX1(), 0);
  EXPECT_EQ(V->GetSelX2(), 40);
  EXPECT_EQ(V->GetSelY2(), 30);
  EXPECT_EQ(MaskCount(V->Mask()), 400 + 600 - 100);

  V->AnimPolygonRemoveLast(&V->SelectionPolygon());
  EXPECT_EQ(V->GetPolySelCount(), 4);
  V->AnimPolygonRemoveLast(&V->SelectionPolygon());
  EXPECT_EQ(V->GetPolySelCount(), 0);

  V->Select(0, 0, 20, 20, qlspReplace);
  V->DeSelect();
  EXPECT_FALSE(V->GetSelected());
  EXPECT_EQ(MaskCount(V->Mask()), 0);
  // A new bitmap size drops the selection and sizes the mask to it.
  V->Select(0, 0, 20, 20, qlspReplace);
  V->Bitmap().SetSize(50, 50);
  V->Update();
  EXPECT_FALSE(V->GetSelected());
  EXPECT_EQ(V->Mask().GetWidth(), 50);
}

TEST(Selection, ClientBaseFollowsZoomAndScroll) {
  auto V = MakeView(100, 100, 200, 200);
  V->SetZoom(200);
  V->SetViewXY(40, 60);
  V->Paint();
  // Client (0, 0) is bitmap (20, 30); a client corner covers its bitmap pixel.
  V->Select(0, 0, 9, 9, qlspReplace);
  EXPECT_EQ(V->GetPolySel(0), Point(20, 30));
  EXPECT_EQ(V->GetPolySel(2), Point(25, 35));
  EXPECT_TRUE(V->IsPointInsideSelection(9, 9));
  EXPECT_FALSE(V->IsPointInsideSelection(10, 9));
}

TEST(Selection, MaskMatchesPointInPolygon) {
  std::mt19937 R(5);
  const int32_t W = 90, H = 70;
  TQLMask M;
  int32_t Ties = 0, Checked = 0;
  for (int32_t Case = 0; Case < 60; ++Case) {
    // Stars, triangles and self-crossing shapes, some reaching past the mask.
    const int32_t N = 3 + static_cast<int32_t>(R() % 9);
    std::vector<TPoint> P;
    for (int32_t I = 0; I < N; ++I)
      P.push_back(Point(static_cast<int32_t>(R() % (W - 1)), static_cast<int32_t>(R() % (H - 1))));
    M.AllocateBits(W, H, 1);
    M.DrawPolygon(1, P.data(), N);
    ASSERT_EQ(M.GetWidth(), W);
    for (int32_t Y = 0; Y < H; ++Y)
      for (int32_t X = 0; X < W; ++X) {
        const int32_t Ref = InsideReference(P, X, Y);
        if (Ref < 0) {
          ++Ties;
          continue;
        }
        ++Checked;
        ASSERT_EQ(M.IsPointInside(X, Y), Ref == 1) << "case " << Case << " at " << X << "," << Y;
      }
  }
  EXPECT_LT(Ties, Checked / 100);

  // Two sub-polygons are filled one after the other: their overlap stays set.
  const TPoint Two[9] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {QLPolyBreak, QLPolyBreak},
                         {5, 5}, {15, 5}, {15, 15}, {5, 15}};
  M.AllocateBits(20, 20, 1);
  M.DrawPolygon(1, Two, 9);
  EXPECT_EQ(MaskCount(M), 175);
  EXPECT_EQ(M.X1, 0);
  EXPECT_EQ(M.X2, 15);
}

TEST(Selection, MaskStorageAndCopy) {
  TQLMask M;
  M.AllocateBits(20, 10, 1);
  M.DrawHorizontalLine(1, 3, 17, 2);
  M.SetPixel(0, 9, 1);
  EXPECT_TRUE(M.IsPointInside(3, 2));
  EXPECT_TRUE(M.IsPointInside(17, 2));
  EXPECT_FALSE(M.IsPointInside(18, 2));
  EXPECT_EQ(M.GetPixel(-1, 2), 0);
  M.ResizeBits(40, 5);
  EXPECT_TRUE(M.IsPointInside(17, 2));
  EXPECT_FALSE(M.IsPointInside(0, 4));
  EXPECT_EQ(M.X1, 0);
  EXPECT_EQ(M.Y2, 9);

  // Inverting a canvas through the mask, stretched 2x.
  TBitmap T(40, 10, pf24bit);
  TCanvas& C = T.Canvas();
  M.InvertCanvas(C, Rect(0, 0, 40, 10), Rect(0, 0, 20, 5));
  EXPECT_EQ(T.ScanLine(4)[6 * 3], 0xFF);
  EXPECT_EQ(T.ScanLine(5)[35 * 3], 0xFF);
  EXPECT_EQ(T.ScanLine(4)[4 * 3], 0);
}

TEST(Selection, GeometryHelpers) {
  const TPoint Rect4[4] = {{0, 0}, {5, 0}, {5, 5}, {0, 5}};
  const TPoint Skew[4] = {{0, 0}, {5, 1}, {5, 5}, {0, 5}};
  EXPECT_TRUE(_IsRectangle(Rect4, 4));
  EXPECT_FALSE(_IsRectangle(Skew, 4));
  EXPECT_FALSE(_IsRectangle(Rect4, 3));

  struct TCast {
    int32_t X, Y, WantX, WantY;
  } Casts[] = {
      {100, 50, 100, 0},     // 50 off the diagonal, more than 30: horizontal
      {10, 100, 0, 100},     // far from the diagonal: vertical
      {100, 10, 100, 0},     // horizontal
      {40, 60, 60, 60},      // right and below, taller
      {-40, -60, -40, -40},  // left and above, taller
      {-60, 40, -60, 60},    // left, not above, wider
      {60, -40, 60, -60},    // above, not left, wider
  };
  for (const TCast& C : Casts) {
    int32_t X = C.X, Y = C.Y;
    _CastPolySelCC(0, 0, X, Y);
    EXPECT_EQ(X, C.WantX) << C.X << "," << C.Y;
    EXPECT_EQ(Y, C.WantY) << C.X << "," << C.Y;
  }
  EXPECT_TRUE(_InRect(1, 1, 0, 0, 2, 2));
  EXPECT_FALSE(_InRect(1, 1, 2, 2, 0, 0));
  EXPECT_TRUE(_InRectO(1, 1, 2, 2, 0, 0));
  EXPECT_TRUE(_RectXRect(5, 5, 0, 0, 5, 5, 9, 9));
  EXPECT_FALSE(_RectXRect(0, 0, 4, 4, 5, 5, 9, 9));
  EXPECT_EQ(_RectPRect(0, 0, 10, 10, 2, 2, 8, 8), 2);
  EXPECT_EQ(_RectPRect(0, 0, 10, 10, 5, 5, 15, 8), 1);
  EXPECT_EQ(_RectPRect(0, 0, 10, 10, 20, 20, 30, 30), 0);
  EXPECT_DOUBLE_EQ(_DistPoint2Seg(5, 3, 0, 0, 10, 0), 3);
  EXPECT_DOUBLE_EQ(_DistPoint2Seg(13, 4, 0, 0, 10, 0), 5);
  EXPECT_DOUBLE_EQ(_DistPoint2Seg(-3, 4, 0, 0, 0, 0), 5);
  EXPECT_DOUBLE_EQ(_DistPoint2Line(13, 4, 0, 0, 10, 0), 4);
}

TEST(Selection, OutlineDashesCrawlAndGrips) {
  Application().UseVirtualClock(true);
  auto V = MakeView(60, 40, 60, 40);
  V->SetSelectionBase(qlsbBitmap);
  V->SetSelectionOptions(qlsoAnimated);  // no grips over the dashes
  V->Select(0, 10, 50, 30, qlspReplace);
  TQLAnimPolygon& P = V->SelectionPolygon();
  P.Phase = 4;
  V->AniPolyFunc(false);
  auto At = [&](int32_t X) {
    const uint8_t* Px = V->Surface().ScanLine(10) + X * 3;
    return Px[0] | (Px[1] << 8) | (Px[2] << 16);
  };
  // Phase 4: two of colour 2, three of colour 1, three of colour 2.
  const int32_t Want[8] = {0xFFFFFF, 0xFFFFFF, 0, 0, 0, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  for (int32_t X = 0; X < 8; ++X) EXPECT_EQ(At(X), Want[X]) << X;
  // One tick later the pattern moved on by one.
  Application().AdvanceClock(TQuilloView::kAnimInterval);
  EXPECT_EQ(P.Phase, 5);
  EXPECT_EQ(At(0), 0xFFFFFF);
  EXPECT_EQ(At(1), 0);

  // Grips of a sizeable rectangle, in client coordinates at 200 %.
  V->SetSelectionOptions(qlsoAnimated | qlsoSizeable);
  V->SetZoom(200);
  V->SetViewXY(0, 0);
  V->Paint();
  V->Select(5, 5, 15, 10, qlspReplace);
  EXPECT_EQ(V->GetResizingGrip(10, 10), 0);
  EXPECT_EQ(V->GetResizingGrip(31, 21), 2);
  EXPECT_EQ(V->GetResizingGrip(10, 15), 4);
  EXPECT_EQ(V->GetResizingGrip(30, 15), 5);
  EXPECT_EQ(V->GetResizingGrip(20, 10), 6);
  EXPECT_EQ(V->GetResizingGrip(20, 20), 7);
  EXPECT_EQ(V->GetResizingGrip(20, 15), -1);
  EXPECT_EQ(V->GetMovingGrip(20, 15), 0);
  EXPECT_EQ(V->GetMovingGrip(50, 50), -1);
  // Dragging the right side past the left mirrors the grip.
  EXPECT_EQ(V->SelectResizeEx(5, 4, 15), 4);
  EXPECT_EQ(V->GetSelX1(), 3);
  EXPECT_EQ(V->GetSelX2(), 5);
  V->SelectMoveEx(0, -10, 100);
  EXPECT_EQ(V->GetPolySel(0), Point(0, 40));
  Application().UseVirtualClock(false);
}

TEST(Selection, EllipseAndPolygonPoints) {
  auto V = MakeView(100, 100, 100, 100);
  V->SetSelectionBase(qlsbBitmap);
  V->SelectEllipse(50, 50, 10, 10, qlspReplace);
  EXPECT_EQ(V->GetPolySelCount(), 15);
  V->SelectEllipse(50, 50, 0, 5, qlspReplace);
  EXPECT_EQ(V->GetPolySelCount(), 3);
  V->DeSelect();
  V->AddSelPoint(10, 10);
  V->AddSelPoint(30, 10);
  V->AddSelPoint(10, 30);
  V->AddSelBreak();
  V->AddSelBreak();
  EXPECT_EQ(V->GetPolySelCount(), 4);
  V->AddSelPoint(50, 50);
  V->AddSelPoint(70, 50);
  V->AddSelPoint(50, 70);
  EXPECT_EQ(V->GetPolySelCount(), 7);
  V->AnimPolygonRemoveLastPoint(&V->SelectionPolygon());
  V->AnimPolygonRemoveLastPoint(&V->SelectionPolygon());
  V->AnimPolygonRemoveLastPoint(&V->SelectionPolygon());
  EXPECT_EQ(V->GetPolySelCount(), 3);
}

TEST(Selection, ProcessingChangesExactlyTheSelectedPixels) {
  for (int32_t Shape = 0; Shape < 3; ++Shape) {
    auto V = MakeView(100, 80, 100, 80);
    V->SetSelectionBase(qlsbBitmap);
    if (Shape == 0) V->Select(10, 5, 60, 50, qlspReplace);
    if (Shape == 1) V->SelectEllipse(50, 40, 30, 20, qlspReplace);
    if (Shape == 2) {
      V->Select(0, 0, 20, 20, qlspReplace);
      V->AddSelBreakEx();
      for (TPoint P : {Point(40, 10), Point(90, 30), Point(60, 70), Point(45, 35)})
        V->AddSelPointEx(P.X, P.Y);
      V->EndSelect();
    }
    TBitmap Before;
    Before.Assign(V->Bitmap());
    TQuilloProc Proc;
    Proc.SetAttachedQuillo(V.get());
    Proc.Negative();
    for (int32_t Y = 0; Y < 80; ++Y)
      for (int32_t X = 0; X < 100; ++X) {
        const bool Changed =
            std::memcmp(Before.ScanLine(Y) + X * 3, V->Bitmap().ScanLine(Y) + X * 3, 3) != 0;
        ASSERT_EQ(Changed, V->Mask().IsPointInside(X, Y))
            << "shape " << Shape << " at " << X << "," << Y;
      }
  }
}

TEST(Selection, FilledSelectionShowsInverted) {
  auto V = MakeView(80, 60, 40, 30);
  V->SetSelectionBase(qlsbBitmap);
  V->SetZoom(200);
  V->SetSelectionOptions(qlsoFilled);
  V->SelectEllipse(20, 15, 12, 9, qlspReplace);
  V->HideSelectionEx(false);
  V->ShowSelectionEx(false);
  V->Update();
  // Drawn without the outline, every image pixel is inverted exactly where the mask is set.
  V->SelectionPolygon().Visible = true;
  V->PaintTo(*std::make_unique<TCanvas>(&V->Surface()));
  for (int32_t Y = 0; Y < 60; ++Y)
    for (int32_t X = 0; X < 80; ++X) {
      const uint8_t* S = V->Surface().ScanLine(Y) + X * 3;
      const uint8_t* B = V->Bitmap().ScanLine(Y / 2) + (X / 2) * 3;
      const bool Inverted =
          S[0] == static_cast<uint8_t>(~B[0]) && S[1] == static_cast<uint8_t>(~B[1]);
      ASSERT_EQ(Inverted, V->Mask().IsPointInside(X / 2, Y / 2)) << X << "," << Y;
    }
}

TEST(Selection, PolygonCopiesBetweenBitmaps) {
  const TBitmap Src = RandomBitmap24(40, 30, 3);
  const TPoint Tri[3] = {{5, 5}, {25, 5}, {5, 25}};
  TBitmap Out;
  _CopyPolygonToPoint(Src, Tri, 3, Out, Point(2, 3));
  EXPECT_EQ(Out.GetWidth(), 2 + 20 + 1);
  EXPECT_EQ(Out.GetHeight(), 3 + 20 + 1);
  // Inside the triangle the pixels arrive shifted; outside the fresh bitmap stays black.
  EXPECT_EQ(std::memcmp(Out.ScanLine(3 + 1) + (2 + 1) * 3, Src.ScanLine(6) + 6 * 3, 3), 0);
  const uint8_t* Far = Out.ScanLine(3 + 19) + (2 + 19) * 3;
  EXPECT_EQ(Far[0] | Far[1] | Far[2], 0);
  TBitmap Back(10, 10, pf24bit);
  _CopyPointToPolygon(Src, Point(0, 0), Back, Tri, 3);
  EXPECT_EQ(Back.GetWidth(), 25);
  EXPECT_EQ(std::memcmp(Back.ScanLine(6) + 6 * 3, Src.ScanLine(1) + 1 * 3, 3), 0);
  const TPoint Two[2] = {{0, 0}, {5, 5}};
  TBitmap None;
  _CopyPolygonToPoint(Src, Two, 2, None, Point(0, 0));
  EXPECT_TRUE(None.Empty());
}

TEST(Selection, ZoomSelectionFramesTheBox) {
  auto V = MakeView(100, 100, 200, 200);
  V->SetSelectionBase(qlsbBitmap);
  V->ZoomSelection();
  EXPECT_EQ(V->GetZoom(), 100);
  V->Select(40, 60, 59, 79, qlspReplace);
  V->ZoomSelection();
  EXPECT_FALSE(V->GetSelected());
  // The box 40 .. 59 counts 59 - 40 + 1 = 20 pixels: 100 / 0.2.
  EXPECT_DOUBLE_EQ(V->GetZoom(), 500);
  EXPECT_EQ(V->GetViewX(), 200);
  V->Select(40, 60, 69, 79, qlspReplace);
  V->SetZoom(100);
  V->ZoomSelection();
  // 30 x 20: the width decides, the height is centred.
  EXPECT_NEAR(V->GetZoom(), 100 / 0.30, 1e-9);
  const double C = V->GetZoom() / 100;
  EXPECT_EQ(V->GetViewY(), static_cast<int32_t>(60 * C) - (100 - static_cast<int32_t>(20 * C)) / 2);
}
