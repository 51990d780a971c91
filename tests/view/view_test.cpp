// The image view: geometry, painting against a nearest-pixel reference, scrolling, wheel,
// backgrounds, the zoom filter and its delay.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "quillo/platform/cursors.h"
#include "quillo/quillo.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// A view of the given client size (no border), showing a random bitmap.
struct TViewFixture {
  TQuilloView View;
  TViewFixture(int32_t ClientW, int32_t ClientH, int32_t BmpW, int32_t BmpH, uint32_t Seed = 1,
               bool Mono = false) {
    View.SetBorderStyle(bsNone);
    View.SetBounds(0, 0, ClientW, ClientH);
    const TBitmap B = Mono ? RandomBitmap1(BmpW, BmpH, Seed) : RandomBitmap24(BmpW, BmpH, Seed);
    View.Assign(&B);
  }
};

TColor PixelAt(const TBitmap& B, int32_t X, int32_t Y) {
  const uint8_t* P = B.ScanLine(Y) + X * 3;
  return P[2] | (P[1] << 8) | (P[0] << 16);
}

TColor BitmapPixel(const TBitmap& B, int32_t X, int32_t Y) {
  if (B.GetPixelFormat() == pf1bit)
    return ((B.ScanLine(Y)[X >> 3] >> (7 - (X & 7))) & 1) ? 0xFFFFFF : 0;
  return PixelAt(B, X, Y);
}

// Round half to even, as the view's arithmetic does.
int64_t RoundEven(double X) {
  return static_cast<int64_t>(std::nearbyint(X));
}

// The picture the view must show, written from the definition: the zoomed-image pixel at the
// client's image-area corner is ViewX; the visible source columns start at Round(ViewX * w /
// ExtentX) and are stretched nearest-pixel onto the destination; the rest is the background colour.
TBitmap ReferencePaint(const TQuilloView& V, TColor Background) {
  const TBitmap& B = V.Bitmap();
  const int32_t CW = V.GetClientWidth(), CH = V.GetClientHeight();
  const double Z = V.GetZoom() / 100;
  const int64_t EX = RoundEven(B.GetWidth() * Z), EY = RoundEven(B.GetHeight() * Z);
  const int64_t DrawW = std::min<int64_t>(EX, CW), DrawH = std::min<int64_t>(EY, CH);
  int64_t OX = 0, OY = 0;
  if (V.GetCenter()) {
    if (DrawW < CW) OX = (CW - DrawW) / 2;
    if (DrawH < CH) OY = (CH - DrawH) / 2;
  }
  auto Axis = [&](int64_t Size, int64_t Extent, int64_t View, int64_t Draw, int64_t& Src,
                  int64_t& SrcLen, int64_t& Dst) {
    const double R = static_cast<double>(Size) / Extent;
    Src = RoundEven(View * R);
    SrcLen = RoundEven(Draw * R);
    if (Src + SrcLen > Size) --SrcLen;
    if (Z > 1) {
      Dst = static_cast<int64_t>(SrcLen * Z);
      if (Dst < Draw && Src + SrcLen + 1 <= Size) Dst = static_cast<int64_t>(++SrcLen * Z);
    } else {
      Dst = Draw;
    }
  };
  int64_t SX, SW, DW, SY, SH, DH;
  Axis(B.GetWidth(), EX, V.GetViewX(), DrawW, SX, SW, DW);
  Axis(B.GetHeight(), EY, V.GetViewY(), DrawH, SY, SH, DH);
  TBitmap Out(CW, CH, pf24bit);
  const TColor Bg = ColorToRGB(Background);
  for (int32_t Y = 0; Y < CH; ++Y)
    for (int32_t X = 0; X < CW; ++X) {
      TColor C = Bg;
      if (X >= OX && X < OX + DW && Y >= OY && Y < OY + DH)
        C = BitmapPixel(B, static_cast<int32_t>(SX + (X - OX) * SW / DW),
                        static_cast<int32_t>(SY + (Y - OY) * SH / DH));
      uint8_t* P = Out.ScanLine(Y) + X * 3;
      P[0] = static_cast<uint8_t>(C >> 16), P[1] = static_cast<uint8_t>(C >> 8),
      P[2] = static_cast<uint8_t>(C);
    }
  return Out;
}

struct TVirtualClock {
  TVirtualClock() { Application().UseVirtualClock(true); }
  ~TVirtualClock() { Application().UseVirtualClock(false); }
};

}  // namespace

TEST(ViewGeometry, ExtentsLimitsAndCentring) {
  TViewFixture F(400, 300, 1000, 800);
  TQuilloView& V = F.View;
  V.SetZoom(50);
  EXPECT_EQ(V.GetExtentX(), 500);
  EXPECT_EQ(V.GetExtentY(), 400);
  int32_t MX, MY;
  V.GetMaxViewXY(MX, MY);
  EXPECT_EQ(MX, 100);
  EXPECT_EQ(MY, 100);
  V.SetViewXY(1000, -5);
  EXPECT_EQ(V.GetViewX(), 100);
  EXPECT_EQ(V.GetViewY(), 0);
  EXPECT_EQ(V.XBmp2Scr(0), -100);

  TViewFixture Small(200, 100, 50, 40);
  EXPECT_EQ(Small.View.GetOffsetX(), 0);
  EXPECT_EQ(Small.View.GetDrawWidth(), 50);
  Small.View.SetCenter(true);
  EXPECT_EQ(Small.View.GetOffsetX(), 75);
  EXPECT_EQ(Small.View.GetOffsetY(), 30);
  Small.View.Paint();
  EXPECT_EQ(Small.View.XBmp2Scr(0), 75);
  EXPECT_EQ(Small.View.XScr2Bmp(75), 0);
  EXPECT_EQ(Small.View.XScr2Bmp(124), 49);
  for (double Z : {10.0, 33.0, 100.0, 250.0, 1600.0}) {
    Small.View.SetCenter(false);
    Small.View.SetZoom(Z);
    EXPECT_EQ(Small.View.XBmp2Scr(0), 0) << Z;
  }
}

TEST(ViewGeometry, OuterSizeHoldingTheImageMeansNoScrolling) {
  // 105 x 105 with a sunken edge leaves a smaller client; the outer size still holds 103 x 103.
  TQuilloView V;
  V.SetBounds(0, 0, 105, 105);
  const TBitmap B = RandomBitmap24(103, 103, 2);
  V.Assign(&B);
  ASSERT_LT(V.GetClientWidth(), 103);
  int32_t MX, MY;
  V.GetMaxViewXY(MX, MY);
  EXPECT_EQ(MX, 0);
  EXPECT_EQ(MY, 0);
  V.Bitmap().SetSize(0, 7);
  V.Update();
  V.GetMaxViewXY(MX, MY);
  EXPECT_EQ(MX + MY, 0);
}

TEST(ViewGeometry, ZoomKeepsTheCentreAndReportsChanges) {
  TViewFixture F(400, 300, 1000, 800);
  TQuilloView& V = F.View;
  std::vector<int32_t> Changes;
  V.OnViewChange = [&](TObject*, int32_t C) { Changes.push_back(C); };
  V.SetViewX(100);
  V.SetZoom(200);
  // Centre 200 + 100 = bitmap column 300, at 200 % 600, minus the half client.
  EXPECT_EQ(V.GetViewX(), 400);
  EXPECT_DOUBLE_EQ(V.GetZoomFactor(), 2.0);
  EXPECT_DOUBLE_EQ(V.GetZoomInverse(), 0.5);
  ASSERT_FALSE(Changes.empty());
  EXPECT_EQ(Changes.front(), 0);
  EXPECT_EQ(Changes.back(), 1);
  Changes.clear();
  V.SetZoom(200);
  V.SetZoom(0);
  V.SetZoom(-3);
  EXPECT_TRUE(Changes.empty());
  EXPECT_EQ(V.GetZoom(), 200);

  // ZoomAt puts the bitmap point under the mouse at the centre.
  V.SetZoom(100);
  V.SetViewXY(0, 0);
  V.Paint();
  V.ZoomAt(100, 50, 400);
  EXPECT_EQ(V.GetViewX(), 400 - 200);
  EXPECT_EQ(V.GetViewY(), 200 - 150);
}

TEST(ViewGeometry, FitAutoFitIdealSize) {
  TViewFixture F(105, 105, 200, 100);
  TQuilloView& V = F.View;
  V.Fit();
  EXPECT_DOUBLE_EQ(V.GetZoom(), 52.5);
  V.SetBackgroundStyle(qlbsCropShadow);
  V.Fit();
  EXPECT_DOUBLE_EQ(V.GetZoom(), 47.5);
  V.SetZoom(50);
  EXPECT_EQ(V.GetIdealComponentWidth(), 101);
  EXPECT_EQ(V.GetIdealComponentHeight(), 51);
  V.SetAutoFit(true);
  EXPECT_DOUBLE_EQ(V.GetZoom(), 52.5);
  V.Bitmap().SetSize(20000, 10);
  V.Update();
  EXPECT_DOUBLE_EQ(V.GetZoom(), 1);
}

// A bordered view fits the bitmap inside its border: its last column and row stay on view.
TEST(ViewGeometry, FitAndZoomSelectionStayInsideTheBorder) {
  TQuilloView V;
  V.SetBorderStyle(bsSingle);
  V.SetBounds(0, 0, 764, 714);
  const TBitmap B = RandomBitmap24(3000, 2000, 4);
  V.Assign(&B);
  V.Fit();
  V.Paint();
  const int32_t CW = V.GetClientWidth(), CH = V.GetClientHeight();
  ASSERT_LT(CW, 764);
  EXPECT_LE(V.GetOffsetX() + V.GetDstWidth(), CW);
  EXPECT_LE(V.GetOffsetY() + V.GetDstHeight(), CH);
  EXPECT_EQ(V.GetSrcX() + V.GetSrcWidth(), 3000);
  EXPECT_EQ(V.GetSrcY() + V.GetSrcHeight(), 2000);
  // Bars that are always shown take their room too.
  V.SetScrollBars(ssBoth);
  V.SetScrollBarsAlwaysVisible(true);
  V.Fit();
  V.Paint();
  EXPECT_LE(V.GetOffsetX() + V.GetDstWidth(), V.GetClientWidth());
  EXPECT_EQ(V.GetSrcX() + V.GetSrcWidth(), 3000);
  // A box as wide as the bitmap: its right edge stays on view after zooming onto it.
  V.SetSelectionBase(qlsbBitmap);
  V.Select(0, 500, 2999, 899, qlspReplace);
  V.ZoomSelection();
  V.Paint();
  EXPECT_EQ(V.GetSrcX(), 0);
  EXPECT_EQ(V.GetSrcX() + V.GetSrcWidth(), 3000);
}

TEST(ViewScroll, BarsRequestsAndWheel) {
  TViewFixture F(400, 300, 1000, 800);
  TQuilloView& V = F.View;
  V.SetScrollBars(ssBoth);
  const TScrollBarInfo& H = V.GetScrollInfo(sbHorizontal);
  ASSERT_TRUE(H.Visible);
  EXPECT_EQ(H.Max, 65535);
  const int32_t CW = V.GetClientWidth();
  int32_t MX, MY;
  V.GetMaxViewXY(MX, MY);
  EXPECT_EQ(MX, 1000 - CW);
  EXPECT_DOUBLE_EQ(V.GetHScrollScale(), (CW + MX) / 65536.0);

  V.SetZoom(400);
  V.SetViewXY(1000, 1000);
  V.HScroll(scLineDown, 0);
  EXPECT_EQ(V.GetViewX(), 1004);
  V.HScrollBarParams().LineStep = 10;
  V.HScroll(scLineUp, 0);
  EXPECT_EQ(V.GetViewX(), 964);
  V.HScroll(scPageDown, 0);
  EXPECT_EQ(V.GetViewX(), 964 + V.GetClientWidth());
  V.VScroll(scTop, 0);
  EXPECT_EQ(V.GetViewY(), 0);
  V.VScroll(scBottom, 0);
  V.GetMaxViewXY(MX, MY);
  EXPECT_EQ(V.GetViewY(), MY);
  V.HScroll(scPosition, 1000);
  EXPECT_EQ(V.GetViewX(), static_cast<int32_t>(1000 * V.GetHScrollScale()));
  EXPECT_EQ(V.GetScrollInfo(sbHorizontal).Position,
            static_cast<int32_t>(V.GetViewX() / V.GetHScrollScale()));
  V.HScrollBarParams().Tracking = false;
  V.HScroll(scTrack, 5000);
  EXPECT_EQ(V.GetViewX(), static_cast<int32_t>(1000 * V.GetHScrollScale()));

  // The wheel: forward zooms out by 8 %, at least 1.
  V.SetZoom(100);
  EXPECT_TRUE(V.DoMouseWheel(0, WHEEL_DELTA, Point(0, 0)));
  EXPECT_EQ(V.GetZoom(), 92);
  V.SetZoom(10);
  V.DoMouseWheel(0, WHEEL_DELTA, Point(0, 0));
  EXPECT_EQ(V.GetZoom(), 9);
  V.MouseWheelParams().InvertDirection = true;
  V.DoMouseWheel(0, WHEEL_DELTA, Point(0, 0));
  EXPECT_EQ(V.GetZoom(), 10);
  V.MouseWheelParams().Action = qlmwVScroll;
  V.SetZoom(100);
  V.SetViewY(0);
  V.DoMouseWheel(0, -WHEEL_DELTA, Point(0, 0));
  EXPECT_EQ(V.GetViewY(), 0);
  V.DoMouseWheel(0, WHEEL_DELTA, Point(0, 0));
  EXPECT_EQ(V.GetViewY(), static_cast<int32_t>(std::nearbyint(V.GetClientHeight() * 0.08)));
  EXPECT_TRUE(V.WantsKey(VK_PRIOR));
  EXPECT_TRUE(V.WantsKey(VK_DOWN));

  // Without anything to scroll the bars go, unless they are always visible.
  V.SetZoom(10);
  EXPECT_FALSE(V.GetScrollInfo(sbHorizontal).Visible);
  V.SetScrollBarsAlwaysVisible(true);
  EXPECT_TRUE(V.GetScrollInfo(sbHorizontal).Visible);
  EXPECT_FALSE(V.GetScrollInfo(sbHorizontal).ArrowsEnabled);
}

TEST(ViewPaint, MatchesNearestPixelReference) {
  for (bool Mono : {false, true}) {
    TViewFixture F(173, 131, 97, 61, 7, Mono);
    TQuilloView& V = F.View;
    V.SetBackGround(0x123456);
    for (bool Centre : {false, true}) {
      V.SetCenter(Centre);
      for (double Z : {12.5, 33.0, 50.0, 99.0, 100.0, 150.0, 333.0, 400.0, 1000.0}) {
        V.SetZoom(Z);
        int32_t MX, MY;
        V.GetMaxViewXY(MX, MY);
        for (int32_t Step : {0, 1, 2}) {
          V.SetViewXY(MX * Step / 2, MY * Step / 3);
          V.Paint();
          const TBitmap Ref = ReferencePaint(V, 0x123456);
          ASSERT_TRUE(SamePixels(V.Surface(), Ref))
              << "mono " << Mono << " centre " << Centre << " zoom " << Z << " view "
              << V.GetViewX() << "," << V.GetViewY();
        }
      }
    }
  }
}

TEST(ViewPaint, BackBufferIsRecomposedOnlyWhenStale) {
  TViewFixture F(64, 64, 32, 32);
  TQuilloView& V = F.View;
  V.Paint();
  // A change of the pixels alone is not shown until the view is updated.
  V.Bitmap().ScanLine(0)[0] ^= 0xFF;
  V.Paint();
  EXPECT_NE(V.Surface().ScanLine(0)[0], V.Bitmap().ScanLine(0)[0]);
  V.Update();
  V.Paint();
  EXPECT_EQ(V.Surface().ScanLine(0)[0], V.Bitmap().ScanLine(0)[0]);
  // Locked, nothing is painted.
  V.LockPaint();
  V.Bitmap().ScanLine(0)[0] ^= 0xFF;
  V.Update();
  V.Paint();
  EXPECT_NE(V.Surface().ScanLine(0)[0], V.Bitmap().ScanLine(0)[0]);
  EXPECT_EQ(V.UnLockPaint(), 0);
  EXPECT_EQ(V.NPUnLockPaint(), 0);
  V.Paint();
  EXPECT_EQ(V.Surface().ScanLine(0)[0], V.Bitmap().ScanLine(0)[0]);
}

TEST(ViewPaint, BackgroundStylesAndGrid) {
  TViewFixture F(100, 80, 10, 10);
  TQuilloView& V = F.View;
  V.SetBackGround(0x00FF00);
  V.SetBackgroundStyle(qlbsChessboard);
  V.Paint();
  EXPECT_EQ(PixelAt(V.Surface(), 36, 0), 0xFF00FF);
  EXPECT_EQ(PixelAt(V.Surface(), 16, 0), 0x00FF00);
  EXPECT_EQ(PixelAt(V.Surface(), 0, 16), 0x00FF00);
  EXPECT_EQ(PixelAt(V.Surface(), 16, 16), 0xFF00FF);
  // The image keeps its place over every style.
  for (int32_t S = qlbsSolid; S <= qlbsCropShadow; ++S) {
    V.SetBackgroundStyle(static_cast<TQLBackgroundStyle>(S));
    V.SetCenter(S % 2 == 0);
    V.Paint();
    const int32_t OX = V.GetOffsetX(), OY = V.GetOffsetY();
    for (int32_t Y = 0; Y < 10; ++Y)
      for (int32_t X = 0; X < 10; ++X)
        ASSERT_EQ(PixelAt(V.Surface(), OX + X, OY + Y), BitmapPixel(V.Bitmap(), X, Y)) << S;
  }
  V.SetBackgroundStyle(qlbsSolid);
  V.SetCenter(false);
  V.SetBackGround(0x00FF00);
  V.SetBackgroundStyle(qlbsHorizontal);
  V.Paint();
  int32_t Green = 0;
  for (int32_t Y = 20; Y < 80; ++Y) Green += PixelAt(V.Surface(), 50, Y) == 0x00FF00;
  EXPECT_GT(Green, 0);
  EXPECT_LT(Green, 60);

  // The grid: every pixel boundary at 400 %, none below.
  V.SetBackgroundStyle(qlbsSolid);
  V.SetZoom(399);
  V.SetDisplayGrid(true);
  V.Paint();
  TBitmap Plain = ReferencePaint(V, 0x00FF00);
  EXPECT_TRUE(SamePixels(V.Surface(), Plain));
  V.SetZoom(400);
  V.Paint();
  for (int32_t X = 0; X < 40; X += 4)
    EXPECT_EQ(PixelAt(V.Surface(), X, 2), ~BitmapPixel(V.Bitmap(), X / 4, 0) & 0xFFFFFF) << X;
  EXPECT_EQ(PixelAt(V.Surface(), 2, 2), BitmapPixel(V.Bitmap(), 0, 0));
}

TEST(ViewPaint, ZoomFilterAppliesAfterTheDelay) {
  TVirtualClock Clock;
  TViewFixture F(120, 90, 200, 150, 3);
  TQuilloView& V = F.View;
  V.SetZoomFilter(rfTriangle);
  V.SetZoom(50);
  V.Paint();
  EXPECT_FALSE(SamePixels(V.Surface(), ReferencePaint(V, V.GetBackground())));
  // Scrolling a zoomed view arms the delay: the next pictures are plain.
  V.SetViewXY(7, 5);
  EXPECT_TRUE(SamePixels(V.Surface(), ReferencePaint(V, V.GetBackground())));
  EXPECT_EQ(V.GetZoomFilterDelay(), 2);
  Application().AdvanceClock(2 * TQuilloView::kAnimInterval);
  EXPECT_EQ(V.GetZoomFilterDelay(), 0);
  V.Paint();
  TBitmap Part;
  _CopyBitmapRect(V.Bitmap(), Part, V.GetSrcX(), V.GetSrcY(), V.GetSrcX() + V.GetSrcWidth(),
                  V.GetSrcY() + V.GetSrcHeight());
  TBitmap Filtered(V.GetDrawWidth(), V.GetDrawHeight(), pf24bit);
  _ResampleRect(Part, Rect(0, 0, Part.GetWidth(), Part.GetHeight()), Filtered, rfTriangle, true);
  for (int32_t Y = 0; Y < V.GetDstHeight(); ++Y)
    for (int32_t X = 0; X < V.GetDstWidth(); ++X)
      ASSERT_EQ(PixelAt(V.Surface(), X, Y), PixelAt(Filtered, X, Y)) << X << "," << Y;

  // A flat picture stays flat at a zoom that is no whole fraction (no bands across it).
  TBitmap Flat(200, 150, pf24bit);
  std::memset(Flat.Bits(), 0x80, static_cast<size_t>(Flat.BitsSize()));
  V.Assign(&Flat);
  V.SetZoom(95);
  Application().AdvanceClock(2 * TQuilloView::kAnimInterval);
  V.Paint();
  for (int32_t Y = 0; Y < std::min(V.GetDstHeight(), V.GetClientHeight()); ++Y)
    for (int32_t X = 0; X < std::min(V.GetDstWidth(), V.GetClientWidth()); ++X)
      ASSERT_EQ(PixelAt(V.Surface(), X + V.GetOffsetX(), Y + V.GetOffsetY()), 0x808080)
          << X << "," << Y;

  // Every filter paints; a 1-bit image reduced shows grey levels.
  for (int32_t Fl = rfTriangle; Fl <= rfMitchell; ++Fl) {
    V.SetZoomFilter(static_cast<TResampleFilter>(Fl));
    V.Paint();
  }
  const TBitmap Mono = RandomBitmap1(200, 150, 4);
  V.Assign(&Mono);
  V.SetZoom(25);
  Application().AdvanceClock(2 * TQuilloView::kAnimInterval);
  V.Paint();
  int32_t Grey = 0;
  for (int32_t X = 0; X < V.GetDrawWidth(); ++X) {
    const TColor C = PixelAt(V.Surface(), X, 5);
    Grey += C != 0 && C != 0xFFFFFF;
  }
  EXPECT_GT(Grey, V.GetDrawWidth() / 2);
}

TEST(ViewBasics, ClearBlankAssignAndListeners) {
  TQuilloView V;
  V.SetBackGround(0x102030);
  V.Blank();
  EXPECT_EQ(V.Bitmap().GetWidth(), 1);
  EXPECT_EQ(PixelAt(V.Bitmap(), 0, 0), 0x102030);
  int32_t Images = 0;
  V.OnImageChange = [&](TObject*) { ++Images; };
  TBitmap Pal(5, 4, pf8bit);
  V.Assign(&Pal);
  EXPECT_EQ(V.Bitmap().GetPixelFormat(), pf24bit);
  EXPECT_EQ(V.Bitmap().GetWidth(), 5);
  EXPECT_EQ(Images, 1);
  TQuilloView W;
  W.Assign(&V);
  EXPECT_EQ(W.GetBackground(), 0x102030);
  EXPECT_TRUE(SamePixels(W.Bitmap(), V.Bitmap()));

  int32_t A = 0, B = 0;
  TObject O1, O2;
  {
    TQuilloView L;
    L.RegisterBitmapChangeEvent(&O1, [&](TObject*, bool D) { A += D ? 10 : 1; });
    L.RegisterBitmapChangeEvent(&O1, [&](TObject*, bool D) { B += D ? 10 : 1; });
    L.RemoveBitmapChangeEvent(&O1);
    L.CallBitmapChangeEvents();
    EXPECT_EQ(A, 0);
    EXPECT_EQ(B, 1);
  }
  EXPECT_EQ(B, 11);
}

TEST(ViewHosted, WindowShowsTheSurfaceAndInputReachesTheView) {
  TQuilloView V;
  V.SetBounds(0, 0, 160, 120);
  V.SetScrollBars(ssBoth);
  const TBitmap B = RandomBitmap24(300, 200, 9);
  V.Assign(&B);
  TControlHost Host(V);
  Host.PaintAll();
  const TBitmap& Win = Host.WindowImage();
  const TPoint O = V.GetClientOrigin();
  auto Same = [&] {
    for (int32_t Y = 0; Y < V.GetClientHeight(); ++Y)
      for (int32_t X = 0; X < V.GetClientWidth(); ++X)
        if (PixelAt(Win, O.X + X, O.Y + Y) != PixelAt(V.Surface(), X, Y)) return false;
    return true;
  };
  EXPECT_TRUE(Same());
  EXPECT_TRUE(SamePixels(V.Surface(), ReferencePaint(V, V.GetBackground())));
  // A wheel notch over the window zooms out; the next composition shows it.
  Host.MouseMove(20, 20);
  EXPECT_EQ(Host.GetShownCursor(), crQLCross2);
  Host.Wheel(20, 20, WHEEL_DELTA);
  EXPECT_EQ(V.GetZoom(), 92);
  Host.PaintAll();
  EXPECT_TRUE(Same());
  EXPECT_TRUE(SamePixels(V.Surface(), ReferencePaint(V, V.GetBackground())));
  V.SendScroll(sbVertical, scPageDown, 0);
  Host.PaintAll();
  int32_t MX, MY;
  V.GetMaxViewXY(MX, MY);
  EXPECT_EQ(V.GetViewY(), std::min(MY, V.GetClientHeight()));
  EXPECT_GT(V.GetViewY(), 0);
  EXPECT_TRUE(Same());
}

TEST(ViewAttached, LoadingThroughTheIOComponentShowsTheImage) {
  const TBitmap B = RandomBitmap24(70, 50, 12);
  const std::string Path = testing::TempDir() + "view_attached.bmp";
  {
    TBitmap Copy;
    Copy.Assign(B);
    TQuilloIO Writer;
    Writer.SetAttachedBitmap(&Copy);
    Writer.SaveToFile(Path);
  }
  TViewFixture F(100, 80, 10, 10);
  TQuilloIO IO;
  IO.SetAttachedQuillo(&F.View);
  IO.LoadFromFile(Path);
  ASSERT_FALSE(IO.Aborting);
  EXPECT_TRUE(SamePixels(F.View.Bitmap(), B));
  EXPECT_EQ(F.View.GetExtentX(), 70);
  F.View.Paint();
  EXPECT_TRUE(SamePixels(F.View.Surface(), ReferencePaint(F.View, F.View.GetBackground())));
  std::remove(Path.c_str());
}

TEST(ViewPaint, DrawToAndUnbufferedPaintShowTheSamePicture) {
  TViewFixture F(150, 100, 400, 300, 21);
  TQuilloView& V = F.View;
  V.SetZoom(75);
  V.SetViewXY(40, 30);
  V.Paint();
  const TBitmap Buffered = As24(V.Surface());
  V.SetDoubleBuffer(false);
  V.Paint();
  EXPECT_TRUE(SamePixels(V.Surface(), Buffered));
  // DrawTo puts the visible part at (0, 0): the same pixels where the image is shown.
  TBitmap Out(V.GetDrawWidth(), V.GetDrawHeight(), pf24bit);
  TCanvas C(&Out);
  V.DrawTo(C);
  for (int32_t Y = 0; Y < Out.GetHeight(); ++Y)
    for (int32_t X = 0; X < Out.GetWidth(); ++X)
      ASSERT_EQ(PixelAt(Out, X, Y), PixelAt(Buffered, X, Y)) << X << "," << Y;
}
