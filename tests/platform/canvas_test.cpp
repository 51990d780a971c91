#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/region.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// A 24-bit bitmap filled with one colour.
TBitmap Filled(int32_t W, int32_t H, TColor C, TPixelFormat PF = pf24bit) {
  TBitmap B(W, H, PF);
  B.Canvas().Brush().SetColor(C);
  B.Canvas().FillRect(Rect(0, 0, W, H));
  B.Canvas().Brush().SetColor(clWhite);
  return B;
}

int32_t Count(TBitmap& B, TColor C) {
  int32_t N = 0;
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y)
    for (int32_t X = 0; X < B.GetWidth(); ++X) N += B.Canvas().GetPixel(X, Y) == C;
  return N;
}

}  // namespace

TEST(CanvasLines, EndPointExcludedAndTiesGoToTheSmallerCoordinate) {
  TBitmap B = Filled(6, 4, clWhite);
  TCanvas& C = B.Canvas();
  C.MoveTo(0, 0);
  C.LineTo(4, 2);
  EXPECT_EQ(Picture(B, clBlack),
            (std::vector<std::string>{"##....", "..##..", "......", "......"}));
  EXPECT_EQ(C.GetPenPos(), Point(4, 2));
  // The reverse line covers the same pixels between the ends: the tie at (1, 0.5) still goes up.
  TBitmap R = Filled(6, 4, clWhite);
  R.Canvas().MoveTo(4, 2);
  R.Canvas().LineTo(0, 0);
  EXPECT_EQ(Picture(R, clBlack),
            (std::vector<std::string>{".#....", "..##..", "....#.", "......"}));
  // Vertical, zero-length and lines far outside the bitmap.
  TBitmap V = Filled(3, 5, clWhite);
  V.Canvas().MoveTo(1, 4);
  V.Canvas().LineTo(1, 0);
  V.Canvas().LineTo(1, 0);
  V.Canvas().MoveTo(-2000000000, 2);
  V.Canvas().LineTo(2000000000, 2);
  EXPECT_EQ(Picture(V, clBlack), (std::vector<std::string>{"...", ".#.", "###", ".#.", ".#."}));
}

TEST(CanvasLines, PolylineStylesAndWidth) {
  TBitmap B = Filled(30, 3, clWhite);
  TCanvas& C = B.Canvas();
  C.Pen().SetStyle(psDot);
  C.Brush().SetStyle(bsClear);  // transparent gaps
  C.MoveTo(0, 0);
  C.LineTo(30, 0);
  EXPECT_EQ(Picture(B, clBlack)[0], "###...###...###...###...###...");
  // With a solid brush the gaps take the brush colour.
  C.Brush().SetStyle(bsSolid);
  C.Brush().SetColor(clRed);
  C.Pen().SetStyle(psDash);
  C.MoveTo(0, 1);
  C.LineTo(30, 1);
  EXPECT_EQ(Picture(B, clBlack)[1], std::string(18, '#') + "......" + "######");
  EXPECT_EQ(Picture(B, clRed)[1], std::string(18, '.') + "######" + "......");
  // A wide pen covers its width across the line.
  TBitmap W = Filled(12, 9, clWhite);
  W.Canvas().Pen().SetWidth(3);
  W.Canvas().MoveTo(3, 4);
  W.Canvas().LineTo(8, 4);
  auto P = Picture(W, clBlack);
  EXPECT_EQ(P[2], "............");
  EXPECT_EQ(P[3], "..########..");
  EXPECT_EQ(P[4], "..########..");
  EXPECT_EQ(P[5], "..########..");
  EXPECT_EQ(P[6], "............");
}

// Wide pens draw a disc at every point: a long path is filled in batches and the batches
// united, so memory stays bounded and the pixels are those of the path drawn a segment at a time.
TEST(CanvasLines, LongWidePathsStayBoundedAndExact) {
  std::vector<TPoint> Walk;
  uint32_t Seed = 7;
  auto Next = [&](int32_t N) {
    Seed = Seed * 1103515245u + 12345u;
    return static_cast<int32_t>((Seed >> 8) % static_cast<uint32_t>(N));
  };
  // A random walk that wanders well outside the bitmap and back.
  TPoint P{60, 40};
  for (int32_t I = 0; I < 40000; ++I) {
    P.X = std::clamp(P.X + Next(9) - 4, -80, 200);
    P.Y = std::clamp(P.Y + Next(9) - 4, -80, 160);
    Walk.push_back(P);
  }
  TBitmap Whole = Filled(120, 80, clWhite), Pieces = Filled(120, 80, clWhite);
  Whole.Canvas().Pen().SetWidth(9);
  Pieces.Canvas().Pen().SetWidth(9);
  const bool Measured = StartMeasuringAllocations();
  Whole.Canvas().Polyline(Walk.data(), static_cast<int32_t>(Walk.size()));
  if (Measured) {
    EXPECT_LT(LargestAllocation(), size_t{4} << 20);
  }
  for (size_t I = 0; I + 1 < Walk.size(); ++I) Pieces.Canvas().Polyline(&Walk[I], 2);
  EXPECT_GT(Count(Whole, clBlack), 1000);
  EXPECT_LT(Count(Whole, clWhite), 120 * 80);
  EXPECT_TRUE(SamePixels(Whole, Pieces));

  // A pen wider than the bitmap's diagonal covers all of it from one point, and from a point
  // far outside covers nothing.
  TBitmap Wide = Filled(30, 20, clWhite);
  Wide.Canvas().Pen().SetWidth(200);
  const TPoint Far[] = {{15, 10}, {16, 10}};
  Wide.Canvas().Polyline(Far, 2);
  EXPECT_EQ(Count(Wide, clBlack), 30 * 20);
  TBitmap Away = Filled(30, 20, clWhite);
  Away.Canvas().Pen().SetWidth(20);
  const TPoint Out[] = {{500, 500}, {900, 500}};
  Away.Canvas().Polyline(Out, 2);
  EXPECT_EQ(Count(Away, clWhite), 30 * 20);
}

TEST(CanvasShapes, RectangleCoverage) {
  TBitmap B = Filled(8, 7, clBlue);
  TCanvas& C = B.Canvas();
  C.Rectangle(1, 1, 6, 5);
  EXPECT_EQ(Picture(B, clBlack),
            (std::vector<std::string>{"........", ".#####..", ".#...#..", ".#...#..", ".#####..",
                                      "........", "........"}));
  EXPECT_EQ(Count(B, clWhite), 6);
  // Without a pen the fill is one pixel smaller in each direction.
  TBitmap N = Filled(8, 7, clBlue);
  N.Canvas().Pen().SetStyle(psClear);
  N.Canvas().Rectangle(1, 1, 6, 5);
  EXPECT_EQ(Count(N, clWhite), 4 * 3);
  EXPECT_EQ(N.Canvas().GetPixel(4, 3), clWhite);
  EXPECT_EQ(N.Canvas().GetPixel(5, 3), clBlue);
  // Reversed corners draw the same rectangle; FillRect and FrameRect cover Left..Right-1.
  TBitmap F = Filled(8, 7, clBlue);
  F.Canvas().Rectangle(6, 5, 1, 1);
  EXPECT_EQ(Picture(F, clBlack), Picture(B, clBlack));
  F.Canvas().Brush().SetColor(clRed);
  F.Canvas().FrameRect(Rect(0, 0, 8, 7));
  EXPECT_EQ(Count(F, clRed), 8 * 2 + 5 * 2);
  // Inside-frame keeps a wide pen within the rectangle.
  TBitmap I = Filled(10, 10, clBlue);
  I.Canvas().Pen().SetWidth(3);
  I.Canvas().Pen().SetStyle(psInsideFrame);
  I.Canvas().Rectangle(1, 1, 9, 9);
  EXPECT_EQ(Count(I, clBlack), 8 * 8 - 2 * 2);
  EXPECT_EQ(I.Canvas().GetPixel(0, 5), clBlue);
  EXPECT_EQ(I.Canvas().GetPixel(4, 4), clWhite);
}

TEST(CanvasShapes, EllipseTouchesItsBoxAndArcsFollowTheRadials) {
  TBitmap B = Filled(12, 10, clBlue);
  TCanvas& C = B.Canvas();
  C.Ellipse(1, 1, 11, 9);
  TRegion Ink;
  for (int32_t Y = 0; Y < 10; ++Y)
    for (int32_t X = 0; X < 12; ++X)
      if (C.GetPixel(X, Y) != clBlue) Ink |= TRegion(Rect(X, Y, X + 1, Y + 1));
  EXPECT_EQ(Ink.GetBounds(), Rect(1, 1, 11, 9));
  EXPECT_EQ(C.GetPixel(6, 5), clWhite);
  EXPECT_EQ(C.GetPixel(1, 1), clBlue);
  // Symmetric: mirrored left to right.
  for (int32_t Y = 0; Y < 10; ++Y)
    for (int32_t X = 0; X < 12; ++X) EXPECT_EQ(C.GetPixel(X, Y), C.GetPixel(11 - X, Y));
  // A dotted outline covers the solid outline's pixels, half in the pen, half in the brush.
  TBitmap D = Filled(40, 30, clBlue);
  D.Canvas().Pen().SetStyle(psDot);
  D.Canvas().Brush().SetColor(clRed);
  D.Canvas().Ellipse(1, 1, 39, 29);
  TBitmap S = Filled(40, 30, clBlue);
  S.Canvas().Brush().SetStyle(bsClear);
  S.Canvas().Ellipse(1, 1, 39, 29);
  int32_t Dots = 0, Gaps = 0;
  for (int32_t Y = 0; Y < 30; ++Y)
    for (int32_t X = 0; X < 40; ++X) {
      bool Edge = S.Canvas().GetPixel(X, Y) == clBlack;
      TColor P = D.Canvas().GetPixel(X, Y);
      EXPECT_EQ(Edge, P == clBlack || (P == clRed && Edge)) << X << "," << Y;
      Dots += P == clBlack;
      Gaps += Edge && P == clRed;
    }
  EXPECT_NEAR(Dots, Gaps, 6);
  // A pie from 3 o'clock to 12 o'clock (counterclockwise) fills the top-right quarter only.
  TBitmap P = Filled(21, 21, clBlue);
  P.Canvas().Pen().SetStyle(psClear);
  P.Canvas().Brush().SetColor(clRed);
  P.Canvas().Pie(0, 0, 21, 21, 20, 10, 10, 0);
  EXPECT_EQ(P.Canvas().GetPixel(14, 6), clRed);
  EXPECT_EQ(P.Canvas().GetPixel(6, 6), clBlue);
  EXPECT_EQ(P.Canvas().GetPixel(14, 14), clBlue);
  // Clockwise runs the other way round: three quarters.
  TBitmap Q = Filled(21, 21, clBlue);
  Q.Canvas().Pen().SetStyle(psClear);
  Q.Canvas().Brush().SetColor(clRed);
  Q.Canvas().SetArcClockwise(true);
  Q.Canvas().Pie(0, 0, 21, 21, 20, 10, 10, 0);
  EXPECT_EQ(Q.Canvas().GetPixel(14, 6), clBlue);
  EXPECT_EQ(Q.Canvas().GetPixel(6, 6), clRed);
  EXPECT_EQ(Q.Canvas().GetPixel(14, 14), clRed);
}

TEST(CanvasFill, HatchesAreAlignedToTheCanvasOrigin) {
  TBitmap B = Filled(24, 16, clWhite);
  TCanvas& C = B.Canvas();
  C.Brush().SetColor(clRed);
  C.Brush().SetStyle(bsVertical);
  C.FillRect(Rect(1, 0, 9, 8));
  C.FillRect(Rect(11, 3, 24, 16));
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 24; ++X) {
      bool In = (X >= 1 && X < 9 && Y < 8) || (X >= 11 && Y >= 3);
      EXPECT_EQ(C.GetPixel(X, Y) == clRed, In && X % 8 == 4) << X << "," << Y;
    }
  // Between hatch lines the old pixels stay (transparent) unless the background is opaque.
  C.Brush().SetStyle(bsFDiagonal);
  C.SetBkMode(bkOpaque);
  C.SetBkColor(clLime);
  C.FillRect(Rect(16, 0, 24, 8));
  EXPECT_EQ(C.GetPixel(16, 0), clRed);
  EXPECT_EQ(C.GetPixel(17, 1), clRed);
  EXPECT_EQ(C.GetPixel(17, 0), clLime);
}

TEST(CanvasModes, XorAndNotAreTheirOwnInverse) {
  TBitmap Orig = Filled(20, 20, RGBColor(10, 200, 30));
  Orig.Canvas().Brush().SetColor(clYellow);
  Orig.Canvas().Ellipse(2, 2, 15, 18);
  TBitmap B;
  B.Assign(Orig);
  TCanvas& C = B.Canvas();
  C.Pen().SetMode(pmXor);
  C.Pen().SetColor(clWhite);
  C.Brush().SetStyle(bsClear);
  C.Rectangle(1, 1, 19, 19);
  EXPECT_EQ(C.GetPixel(1, 1), RGBColor(245, 55, 225));
  EXPECT_EQ(C.GetPixel(5, 5), clYellow);
  C.Rectangle(1, 1, 19, 19);
  EXPECT_EQ(Picture(B, clYellow), Picture(Orig, clYellow));
  C.Pen().SetMode(pmNot);
  C.MoveTo(0, 10);
  C.LineTo(20, 10);
  EXPECT_EQ(C.GetPixel(0, 10), RGBColor(245, 55, 225));
  C.MoveTo(0, 10);
  C.LineTo(20, 10);
  EXPECT_EQ(C.GetPixel(0, 10), RGBColor(10, 200, 30));
  // A filled shape in xor mode paints every pixel once (the outline is not painted twice).
  TBitmap X = Filled(10, 10, clBlack);
  X.Canvas().Pen().SetMode(pmXor);
  X.Canvas().Pen().SetColor(clWhite);
  X.Canvas().Brush().SetColor(clWhite);
  X.Canvas().Rectangle(0, 0, 10, 10);
  EXPECT_EQ(Count(X, clWhite), 100);
  // The remaining modes follow their truth tables.
  TBitmap M = Filled(1, 1, RGBColor(0xF0, 0x0F, 0x55));
  M.Canvas().Pen().SetColor(RGBColor(0xFF, 0x00, 0x33));
  M.Canvas().Pen().SetMode(pmMask);
  M.Canvas().SetPixel(0, 0, M.Canvas().GetPixel(0, 0));
  M.Canvas().Pen().SetWidth(1);
  M.Canvas().MoveTo(0, 0);
  M.Canvas().LineTo(1, 0);
  EXPECT_EQ(M.Canvas().GetPixel(0, 0), RGBColor(0xF0, 0x00, 0x11));
  M.Canvas().Pen().SetMode(pmMerge);
  M.Canvas().MoveTo(0, 0);
  M.Canvas().LineTo(1, 0);
  EXPECT_EQ(M.Canvas().GetPixel(0, 0), RGBColor(0xFF, 0x00, 0x33));
  M.Canvas().Pen().SetMode(pmNotXor);
  M.Canvas().MoveTo(0, 0);
  M.Canvas().LineTo(1, 0);
  EXPECT_EQ(M.Canvas().GetPixel(0, 0), clWhite);
}

TEST(CanvasFill, AlternateAndWindingDifferInsideAStar) {
  const TPoint Star[5] = {{20, 0}, {32, 38}, {0, 14}, {40, 14}, {8, 38}};
  for (TPolyFillMode Mode : {pfmAlternate, pfmWinding}) {
    TBitmap B = Filled(41, 41, clWhite);
    B.Canvas().Pen().SetStyle(psClear);
    B.Canvas().Brush().SetColor(clRed);
    B.Canvas().SetPolyFillMode(Mode);
    B.Canvas().Polygon(Star, 5);
    EXPECT_EQ(B.Canvas().GetPixel(20, 22) == clRed, Mode == pfmWinding);
    EXPECT_EQ(B.Canvas().GetPixel(20, 5), clRed);
  }
  // An axis-aligned polygon covers its left and top edges, not its right and bottom ones.
  const TPoint Sq[4] = {{2, 2}, {6, 2}, {6, 5}, {2, 5}};
  TRegion R = TRegion::FromPolygon(Sq, 4, pfmAlternate);
  EXPECT_EQ(R, TRegion(Rect(2, 2, 6, 5)));
}

TEST(CanvasClip, PolygonRegionsAndExcludedRectangles) {
  const TPoint Tri[3] = {{0, 0}, {16, 0}, {0, 16}};
  TRegion Clip = TRegion::FromPolygon(Tri, 3, pfmAlternate);
  TBitmap B = Filled(16, 16, clWhite);
  TCanvas& C = B.Canvas();
  C.SetClipRegion(Clip);
  C.Brush().SetColor(clRed);
  C.FillRect(Rect(0, 0, 16, 16));
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 16; ++X)
      EXPECT_EQ(C.GetPixel(X, Y) == clRed, Clip.Contains(X, Y) && X + Y < 16) << X << "," << Y;
  // Excluding a rectangle protects it; clearing the clip draws everywhere again.
  C.ClearClipRegion();
  C.ExcludeClipRect(Rect(4, 4, 8, 8));
  C.Brush().SetColor(clBlue);
  C.FillRect(Rect(0, 0, 16, 16));
  EXPECT_EQ(Count(B, clBlue), 256 - 16);
  C.ClearClipRegion();
  C.FillRect(Rect(0, 0, 16, 16));
  EXPECT_EQ(Count(B, clBlue), 256);
  // Lines and text are clipped too.
  C.SetClipRegion(TRegion(Rect(0, 0, 8, 16)));
  C.MoveTo(0, 3);
  C.LineTo(16, 3);
  EXPECT_EQ(C.GetPixel(7, 3), clBlack);
  EXPECT_EQ(C.GetPixel(8, 3), clBlue);
}

TEST(Regions, CombineOperations) {
  TRegion A(Rect(0, 0, 10, 10)), B(Rect(5, 5, 15, 15));
  EXPECT_EQ(TRegion::Combine(A, B, rgnAnd), TRegion(Rect(5, 5, 10, 10)));
  EXPECT_EQ(TRegion::Combine(A, B, rgnOr).Area(), 175);
  EXPECT_EQ(TRegion::Combine(A, B, rgnXor).Area(), 150);
  EXPECT_EQ(TRegion::Combine(A, B, rgnDiff).Area(), 75);
  EXPECT_EQ(TRegion::Combine(A, B, rgnCopy), A);
  // Union then difference gives back the original; touching rectangles merge into one band.
  TRegion U = TRegion::Combine(A, TRegion(Rect(10, 0, 20, 10)), rgnOr);
  EXPECT_EQ(U, TRegion(Rect(0, 0, 20, 10)));
  EXPECT_EQ(U.Bands().size(), 1u);
  EXPECT_EQ(TRegion::Combine(U, TRegion(Rect(10, 0, 20, 10)), rgnDiff), A);
  TRegion H = TRegion::Combine(A, TRegion(Rect(3, 3, 6, 6)), rgnDiff);
  EXPECT_FALSE(H.Contains(4, 4));
  EXPECT_TRUE(H.Contains(2, 4));
  EXPECT_EQ(H.GetBounds(), Rect(0, 0, 10, 10));
}

TEST(CanvasMono, OneBitTargets) {
  TBitmap B(20, 3, pf1bit);
  TCanvas& C = B.Canvas();
  C.Brush().SetColor(clWhite);
  C.FillRect(Rect(3, 0, 13, 1));
  for (int32_t X = 0; X < 20; ++X) EXPECT_EQ(C.GetPixel(X, 0) == clWhite, X >= 3 && X < 13);
  EXPECT_EQ(B.ScanLine(0)[0], 0x1F);
  EXPECT_EQ(B.ScanLine(0)[1], 0xF8);
  // Xor with white inverts bits; not inverts too; colours map to the nearest entry.
  C.Pen().SetMode(pmXor);
  C.Pen().SetColor(clWhite);
  C.MoveTo(0, 0);
  C.LineTo(20, 0);
  for (int32_t X = 0; X < 20; ++X) EXPECT_EQ(C.GetPixel(X, 0) == clWhite, X < 3 || X >= 13);
  C.Pen().SetMode(pmCopy);
  C.Pen().SetColor(RGBColor(200, 210, 190));
  C.MoveTo(2, 1);
  C.LineTo(18, 1);
  EXPECT_EQ(C.GetPixel(2, 1), clWhite);
  EXPECT_EQ(C.GetPixel(18, 1), clBlack);
  C.Pen().SetMode(pmNot);
  C.MoveTo(0, 2);
  C.LineTo(9, 2);
  for (int32_t X = 0; X < 20; ++X) EXPECT_EQ(C.GetPixel(X, 2) == clWhite, X < 9);
}

TEST(CanvasBlit, StretchMirrorAndRasterOperations) {
  TBitmap Src(2, 2, pf24bit);
  Src.Canvas().SetPixel(0, 0, clRed);
  Src.Canvas().SetPixel(1, 0, clLime);
  Src.Canvas().SetPixel(0, 1, clBlue);
  Src.Canvas().SetPixel(1, 1, clWhite);
  TBitmap D = Filled(6, 4, clBlack);
  D.Canvas().StretchDraw(Rect(0, 0, 4, 4), Src);
  EXPECT_EQ(D.Canvas().GetPixel(1, 1), clRed);
  EXPECT_EQ(D.Canvas().GetPixel(2, 1), clLime);
  EXPECT_EQ(D.Canvas().GetPixel(3, 3), clWhite);
  EXPECT_EQ(D.Canvas().GetPixel(4, 0), clBlack);
  // A right-to-left destination mirrors.
  D.Canvas().StretchDraw(Rect(6, 0, 4, 2), Src);
  EXPECT_EQ(D.Canvas().GetPixel(4, 0), clLime);
  EXPECT_EQ(D.Canvas().GetPixel(5, 1), clBlue);
  // Xor of a 1-bit mask inverts the pixels under its white bits only (the selection display).
  TBitmap Mask(4, 1, pf1bit);
  Mask.Canvas().SetPixel(1, 0, clWhite);
  Mask.Canvas().SetPixel(2, 0, clWhite);
  TBitmap T = Filled(8, 1, RGBColor(1, 2, 3));
  T.Canvas().StretchBlt(Rect(0, 0, 8, 1), Mask, Rect(0, 0, 4, 1), cmSrcInvert);
  for (int32_t X = 0; X < 8; ++X)
    EXPECT_EQ(T.Canvas().GetPixel(X, 0),
              (X >= 2 && X < 6) ? RGBColor(254, 253, 252) : RGBColor(1, 2, 3));
  // Copy modes: and, or, not-copy, destination invert; clipped by the canvas clip.
  TBitmap A = Filled(2, 1, RGBColor(0x0F, 0xF0, 0x33));
  TBitmap S2 = Filled(2, 1, RGBColor(0x3C, 0x3C, 0x0F));
  A.Canvas().SetCopyMode(cmSrcAnd);
  A.Canvas().Draw(0, 0, S2);
  EXPECT_EQ(A.Canvas().GetPixel(0, 0), RGBColor(0x0C, 0x30, 0x03));
  A.Canvas().SetCopyMode(cmSrcPaint);
  A.Canvas().Draw(0, 0, S2);
  EXPECT_EQ(A.Canvas().GetPixel(0, 0), RGBColor(0x3C, 0x3C, 0x0F));
  A.Canvas().SetCopyMode(cmNotSrcCopy);
  A.Canvas().SetClipRegion(TRegion(Rect(1, 0, 2, 1)));
  A.Canvas().Draw(0, 0, S2);
  EXPECT_EQ(A.Canvas().GetPixel(0, 0), RGBColor(0x3C, 0x3C, 0x0F));
  EXPECT_EQ(A.Canvas().GetPixel(1, 0), RGBColor(0xC3, 0xC3, 0xF0));
  // CopyRect within one canvas reads the pixels as they were.
  TBitmap O = Filled(4, 1, clBlack);
  O.Canvas().SetPixel(0, 0, clWhite);
  O.Canvas().CopyRect(Rect(1, 0, 4, 1), O.Canvas(), Rect(0, 0, 3, 1));
  EXPECT_EQ(Picture(O, clWhite)[0], "##..");
}

TEST(CanvasEdges, SunkenAndRaised) {
  TBitmap B = Filled(6, 6, clRed);
  TRect R = Rect(0, 0, 6, 6);
  B.Canvas().DrawEdge(R, edgeSunken, bfRect | bfAdjust | bfMiddle);
  EXPECT_EQ(R, Rect(2, 2, 4, 4));
  TCanvas& C = B.Canvas();
  EXPECT_EQ(C.GetPixel(0, 0), ColorToRGB(clBtnShadow));
  EXPECT_EQ(C.GetPixel(5, 5), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(C.GetPixel(5, 0), ColorToRGB(clBtnHighlight));
  EXPECT_EQ(C.GetPixel(1, 1), ColorToRGB(cl3DDkShadow));
  EXPECT_EQ(C.GetPixel(4, 4), ColorToRGB(cl3DLight));
  EXPECT_EQ(C.GetPixel(2, 2), ColorToRGB(clBtnFace));
  TRect Q = Rect(0, 0, 6, 6);
  C.DrawEdge(Q, bdrRaisedOuter, bfLeft);
  EXPECT_EQ(C.GetPixel(0, 3), ColorToRGB(cl3DLight));
  EXPECT_EQ(Q, Rect(0, 0, 6, 6));
}

TEST(CanvasMisc, ModifiedFiresAndOtherFormatsDrawByNearestColour) {
  TBitmap B(4, 4, pf24bit);
  int32_t Changes = 0;
  B.OnChange = [&](TObject*) { ++Changes; };
  B.Canvas().FillRect(Rect(0, 0, 4, 4));
  B.Canvas().Rectangle(0, 0, 2, 2);
  EXPECT_EQ(Changes, 2);
  for (TPixelFormat PF : {pf4bit, pf8bit, pf15bit, pf16bit, pf32bit}) {
    TBitmap P(5, 5, PF);
    P.Canvas().Brush().SetColor(clRed);
    P.Canvas().Rectangle(0, 0, 5, 5);
    EXPECT_EQ(P.Canvas().GetPixel(2, 2), clRed) << int(PF);
    EXPECT_EQ(P.Canvas().GetPixel(0, 2), clBlack) << int(PF);
    P.Canvas().Pen().SetMode(pmNot);
    P.Canvas().MoveTo(0, 0);
    P.Canvas().LineTo(5, 0);
    EXPECT_NE(P.Canvas().GetPixel(1, 0), clBlack) << int(PF);
  }
  // Growing a bitmap with a canvas fills the new area with the brush.
  TBitmap G = Filled(2, 2, clBlue);
  G.Canvas().Brush().SetColor(clRed);
  G.SetSize(3, 4);
  EXPECT_EQ(Picture(G, clBlue), (std::vector<std::string>{"##.", "##.", "...", "..."}));
  EXPECT_EQ(Count(G, clRed), 8);
  // A moved bitmap takes its canvas along.
  TBitmap M = std::move(B);
  M.Canvas().SetPixel(3, 3, clRed);
  EXPECT_EQ(M.Canvas().GetBitmap(), &M);
  EXPECT_EQ(M.Canvas().GetPixel(3, 3), clRed);
}
