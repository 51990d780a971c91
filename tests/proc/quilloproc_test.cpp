#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "quillo/core/pixels.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/clipboard.h"
#include "quillo/platform/region.h"
#include "quillo/proc/colorops.h"
#include "quillo/proc/quilloproc.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}
TRGB Inverted(TRGB C) {
  return CreateRGB(255 - C.r, 255 - C.g, 255 - C.b);
}
int32_t Bit(const TBitmap& B, int32_t X, int32_t Y) {
  return (B.ScanLine(Y)[X >> 3] >> (7 - (X & 7))) & 1;
}
TBitmap Copy(const TBitmap& B) {
  TBitmap C;
  C.Assign(B);
  return C;
}

// A view that carries a selection polygon and its mask, zooms by 2 and counts its notices.
class TTestView : public TQLView {
 public:
  TBitmap First = RandomBitmap24(20, 16, 1);
  TBitmap Second = RandomBitmap24(4, 4, 2);
  TBitmap* Current = &First;
  std::vector<TPoint> Poly;
  TQLMask Mask;
  bool Selected = false;
  TRect Box;
  TQLSelectionBase Base = qlsbClientArea;
  std::vector<TQLSelectionBase> BaseAtSelect;
  int32_t Updates = 0, Changes = 0, DeSelects = 0;

  TBitmap* GetFBitmap() override { return Current; }
  bool HasSelectionSupport() const override { return true; }
  bool GetSelected() const override { return Selected; }
  int32_t GetSelX1() const override { return Box.Left; }
  int32_t GetSelY1() const override { return Box.Top; }
  int32_t GetSelX2() const override { return Box.Right; }
  int32_t GetSelY2() const override { return Box.Bottom; }
  const TPoint* GetPolySelArray() const override { return Poly.data(); }
  int32_t GetPolySelCount() const override { return static_cast<int32_t>(Poly.size()); }
  TQLMask* GetMask() override { return &Mask; }
  TQLSelectionBase GetSelectionBase() const override { return Base; }
  void SetSelectionBase(TQLSelectionBase B) override { Base = B; }
  void Select(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLSelOp) override {
    BaseAtSelect.push_back(Base);
    SetPolygon({{X1, Y1}, {X2, Y1}, {X2, Y2}, {X1, Y2}});
  }
  void DeSelect() override {
    Selected = false;
    Poly.clear();
    ++DeSelects;
  }
  int32_t XScr2Bmp(int32_t X) const override { return X / 2; }
  int32_t YScr2Bmp(int32_t Y) const override { return Y / 2; }
  void Update() override { ++Updates; }
  void ImageChange() override { ++Changes; }

  // Selects the polygon: its box, and a mask of the pixels whose centres lie inside.
  void SetPolygon(const std::vector<TPoint>& P) {
    Poly = P;
    Selected = true;
    Box = TRect{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (const TPoint& Q : P) {
      if (Q.X == QLPolyBreak) continue;
      Box.Left = std::min(Box.Left, Q.X);
      Box.Top = std::min(Box.Top, Q.Y);
      Box.Right = std::max(Box.Right, Q.X);
      Box.Bottom = std::max(Box.Bottom, Q.Y);
    }
    Mask.AllocateBits(Current->GetWidth() + 1, Current->GetHeight() + 1, 1);
    const TRegion R = Region();
    for (int32_t Y = 0; Y <= Current->GetHeight(); ++Y)
      for (int32_t X = 0; X <= Current->GetWidth(); ++X)
        if (R.Contains(X, Y)) Mask.SetPixel(X, Y, 1);
  }
  TRegion Region() const {
    TRegion All;
    for (const TQLSubPolygon& S : QLSubPolygons(Poly.data(), static_cast<int32_t>(Poly.size())))
      All |= TRegion::FromPolygon(Poly.data() + S.First, S.Count, pfmAlternate);
    return All;
  }
};

const std::vector<TPoint> kTriangle = {{2, 1}, {17, 3}, {6, 14}};

class ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override { SetClipboard(nullptr); }
  void TearDown() override { SetClipboard(nullptr); }
};

}  // namespace

TEST(QuilloProc, UndoKeepsOneImageAndRestoresItTwice) {
  TBitmap B = RandomBitmap24(5, 4, 3);
  const TBitmap Original = Copy(B);
  TQuilloProc P;
  P.SetAttachedBitmap(&B);
  EXPECT_FALSE(P.GetCanUndo());
  P.Negative();
  EXPECT_TRUE(P.GetCanUndo());
  EXPECT_EQ(Px(B, 1, 1), Inverted(Px(Original, 1, 1)));
  P.Undo();
  EXPECT_TRUE(SamePixels(B, Original));
  P.ConvertToGray();
  P.Undo();
  P.Undo();
  EXPECT_TRUE(SamePixels(B, Original));
  EXPECT_TRUE(P.GetCanUndo());

  // Without AutoUndo nothing is kept; a 1 x 1 image is kept but cannot be restored.
  P.ClearUndo();
  P.SetAutoUndo(false);
  P.Negative();
  EXPECT_FALSE(P.GetCanUndo());
  P.SetAutoUndo(true);
  TBitmap One = RandomBitmap24(1, 1, 4);
  const TRGB Was = Px(One, 0, 0);
  P.SetAttachedBitmap(&One);
  P.Negative();
  EXPECT_FALSE(P.GetCanUndo());
  P.Undo();
  EXPECT_EQ(Px(One, 0, 0), Inverted(Was));

  // An undo after switching targets restores the old image into the new one.
  P.SetAttachedBitmap(&B);
  const TBitmap Kept = Copy(B);
  P.Negative();
  TBitmap Other(2, 2, pf24bit);
  P.SetAttachedBitmap(&Other);
  P.Undo();
  EXPECT_TRUE(SamePixels(Other, Kept));
}

TEST(QuilloProc, NothingAttachedDoesNothing) {
  TQuilloProc P;
  TBitmap Some = RandomBitmap24(3, 3, 1);
  P.Negative();
  P.HSLvar(1, 2, 3);
  P.Contrast(5);
  P.Merge(Some, 50);
  P.ApplyFilterPreset(fpBlur);
  P.Maximum(2);
  P.Wave(3, 4, 5, true);
  P.Resample(10, 10, rfLanczos3);
  P.Rotate(30, true);
  P.Flip(fdVertical);
  P.ImageResize(5, 5);
  P.Clear();
  P.ClearSel();
  P.CropSel();
  P.ConvertTo(16);
  P.ConvertTo24Bit();
  P.CopyToClipboard();
  P.PasteFromClipboard();
  P.Undo();
  P.SaveUndo();
  EXPECT_FALSE(P.GetCanUndo());
  EXPECT_FALSE(P.GetRGBChannel(0));
  EXPECT_EQ(P.CalcImageNumColors(), 0);
  EXPECT_EQ(P.WriteHiddenText("x"), 0);
  EXPECT_EQ(P.ReadHiddenText(), "");
  EXPECT_FALSE(P.FTCreateImage(qlitRGB, -1, -1));
  EXPECT_EQ(P.GetSelX2(), 0);
}

TEST(QuilloProc, AttachmentsFollowTheirTargets) {
  auto View = std::make_unique<TTestView>();
  TQuilloProc P;
  P.SetAttachedQuillo(View.get());
  EXPECT_EQ(P.GetAttachedBitmap(), &View->First);
  P.SetAttachedBitmap(nullptr);  // ignored while a view is attached
  EXPECT_EQ(P.GetAttachedBitmap(), &View->First);
  View->Current = &View->Second;
  View->CallBitmapChangeEvents();
  EXPECT_EQ(P.GetAttachedBitmap(), &View->Second);

  // The view's background is the component's; Update reaches the view.
  P.SetBackground(clRed);
  EXPECT_EQ(View->GetBackground(), clRed);
  P.Negative();
  EXPECT_EQ(View->Updates, 1);
  EXPECT_EQ(View->Changes, 1);

  // A view that goes takes its bitmap with it.
  View.reset();
  EXPECT_EQ(P.GetAttachedQuillo(), nullptr);
  EXPECT_EQ(P.GetAttachedBitmap(), nullptr);
  P.Negative();

  auto Image = std::make_unique<TImage>();
  Image->GetPicture().Bitmap() = RandomBitmap24(3, 3, 5);
  P.SetTImage(Image.get());
  EXPECT_EQ(P.GetAttachedBitmap(), &Image->GetPicture().Bitmap());
  Image.reset();
  EXPECT_EQ(P.GetAttachedTImage(), nullptr);
  EXPECT_EQ(P.GetAttachedBitmap(), nullptr);

  // A bare bitmap replaces the view; the view's later notices no longer reach the component.
  TTestView V2;
  TBitmap Bare = RandomBitmap24(2, 2, 6);
  P.SetAttachedQuillo(&V2);
  P.SetAttachedBitmap(&Bare);
  V2.CallBitmapChangeEvents();
  EXPECT_EQ(P.GetAttachedBitmap(), &Bare);
  int32_t Notices = 0;
  Bare.OnChange = [&](TObject*) { ++Notices; };
  P.Update();
  EXPECT_EQ(Notices, 1);
  P.SetBackground(clBlue);
  EXPECT_EQ(P.GetBackground(), clBlue);
  EXPECT_NE(V2.GetBackground(), clBlue);
}

TEST(QuilloProc, StoredSelectionConfinesOperations) {
  TBitmap B = RandomBitmap24(8, 6, 7);
  const TBitmap Original = Copy(B);
  TQuilloProc P;
  P.SetAttachedBitmap(&B);
  int32_t X1, Y1, X2, Y2, Count;
  const TPoint* Poly;
  TQLMask* Mask;
  EXPECT_FALSE(P.GetReSel(X1, Y1, X2, Y2, Poly, Count, Mask));
  EXPECT_EQ(X2, 8);
  EXPECT_EQ(Y2, 6);
  P.Select(2, 1, 5, 3);
  EXPECT_TRUE(P.GetReSel(X1, Y1, X2, Y2, Poly, Count, Mask));
  EXPECT_EQ(Count, 0);
  EXPECT_EQ(P.GetSelX1(), 2);
  EXPECT_EQ(P.GetSelY2(), 3);
  P.Negative();
  for (int32_t Y = 0; Y < 6; ++Y)
    for (int32_t X = 0; X < 8; ++X) {
      const bool In = X >= 2 && X < 5 && Y >= 1 && Y < 3;
      EXPECT_EQ(Px(B, X, Y), In ? Inverted(Px(Original, X, Y)) : Px(Original, X, Y));
    }
  // Backwards, outside and empty selections change nothing; one reaching past the edge is
  // clipped.
  const TBitmap After = Copy(B);
  for (const TRect& R : {TRect{5, 3, 2, 1}, TRect{50, 50, 60, 60}, TRect{3, 3, 3, 5}}) {
    P.Select(R.Left, R.Top, R.Right, R.Bottom);
    P.Negative();
    P.ConvertToGray();
    P.ApplyFilterPreset(fpEdge);
    P.CropSel();
    EXPECT_TRUE(SamePixels(B, After)) << R.Left;
  }
  P.Select(6, 4, 100, 100);
  P.Negative();
  EXPECT_EQ(Px(B, 7, 5), Inverted(Px(After, 7, 5)));
  P.SelectAll();
  EXPECT_FALSE(P.GetReSel(X1, Y1, X2, Y2, Poly, Count, Mask));

  // With a view that carries a selection, Select goes there in bitmap coordinates.
  TTestView V;
  P.SetAttachedQuillo(&V);
  P.Select(1, 2, 7, 9);
  ASSERT_EQ(V.BaseAtSelect.size(), 1u);
  EXPECT_EQ(V.BaseAtSelect[0], qlsbBitmap);
  EXPECT_EQ(V.Base, qlsbClientArea);
  EXPECT_EQ(P.GetSelX2(), 7);
  P.SelectAll();
  EXPECT_EQ(V.DeSelects, 1);
  EXPECT_EQ(P.GetSelX2(), 20);  // the whole bitmap
}

TEST(QuilloProc, RectanglesRunDirectlyPolygonsThroughAClippedCopy) {
  // A blur over a rectangle selection reads the real neighbours outside it; through a copy it
  // would see only the copy's edges.
  TTestView V;
  V.First = TBitmap(20, 16, pf24bit);
  reinterpret_cast<TRGB*>(V.First.ScanLine(5))[4] = CreateRGB(90, 90, 90);
  TQuilloProc P;
  P.SetAttachedQuillo(&V);
  V.SetPolygon({{5, 5}, {10, 5}, {10, 9}, {5, 9}});
  P.ApplyFilterPreset(fpBlur);
  EXPECT_EQ(Px(V.First, 5, 5), CreateRGB(10, 10, 10));

  // A triangle: the pixels inside are inverted, every other one keeps its value.
  V.First = RandomBitmap24(20, 16, 9);
  const TBitmap Original = Copy(V.First);
  V.SetPolygon(kTriangle);
  P.Negative();
  const TRegion In = V.Region();
  int32_t Inside = 0;
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 20; ++X) {
      const bool I = In.Contains(X, Y);
      Inside += I;
      ASSERT_EQ(Px(V.First, X, Y), I ? Inverted(Px(Original, X, Y)) : Px(Original, X, Y))
          << X << "," << Y;
    }
  EXPECT_GT(Inside, 50);

  // Two sub-polygons, and the same on a 1-bit image (whose format Negative does not check).
  V.First = RandomBitmap1(20, 16, 2);
  const TBitmap Bw = Copy(V.First);
  V.SetPolygon({{1, 1}, {6, 1}, {1, 6}, {QLPolyBreak, QLPolyBreak}, {10, 8}, {19, 8}, {19, 15}});
  P.Negative();
  const TRegion Two = V.Region();
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 20; ++X)
      ASSERT_EQ(Bit(V.First, X, Y), Two.Contains(X, Y) ? 1 - Bit(Bw, X, Y) : Bit(Bw, X, Y));

  // Wave and lens take the whole image without a polygon, even with a stored rectangle; with a
  // rectangle polygon they work on its copy only.
  TBitmap B = RandomBitmap24(30, 30, 4);
  const TBitmap WaveOrig = Copy(B);
  TQuilloProc Q;
  Q.SetAttachedBitmap(&B);
  Q.Select(10, 10, 20, 20);
  Q.Wave(5, 3, 0, false);
  EXPECT_FALSE(Px(B, 2, 2) == Px(WaveOrig, 2, 2) && Px(B, 27, 27) == Px(WaveOrig, 27, 27) &&
               Px(B, 2, 27) == Px(WaveOrig, 2, 27));
  V.First = RandomBitmap24(20, 16, 4);
  const TBitmap ViewOrig = Copy(V.First);
  V.SetPolygon({{4, 4}, {12, 4}, {12, 12}, {4, 12}});
  P.Wave(5, 3, 0, false);
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 20; ++X)
      if (X < 4 || X >= 12 || Y < 4 || Y >= 12) {
        ASSERT_EQ(Px(V.First, X, Y), Px(ViewOrig, X, Y));
      }
}

TEST(QuilloProc, ProgressReportsRowsOfTheWorkingArea) {
  TBitmap B = RandomBitmap24(6, 20, 1);
  TQuilloProc P;
  P.SetAttachedBitmap(&B);
  std::vector<int32_t> Seen;
  TObject* From = nullptr;
  P.OnProgress = [&](TObject* S, int32_t Per) {
    From = S;
    Seen.push_back(Per);
  };
  P.Select(0, 2, 6, 12);
  P.ConvertToGray();
  ASSERT_EQ(Seen.size(), 10u);
  EXPECT_EQ(Seen[0], 10);
  EXPECT_EQ(Seen.back(), 105);
  EXPECT_EQ(From, &P);
  Seen.clear();
  P.Select(1, 7, 5, 8);
  P.IntensityRGBall(1, 1, 1);
  EXPECT_EQ(Seen, std::vector<int32_t>{200});
}

TEST(QuilloProc, ClearClearSelAndCrop) {
  TTestView V;
  TQuilloProc P;
  P.SetAttachedQuillo(&V);
  V.SetBackGround(clLime);
  const TBitmap Original = Copy(V.First);
  V.SetPolygon(kTriangle);
  P.ClearSel();
  const TRegion In = V.Region();
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 20; ++X)
      ASSERT_EQ(Px(V.First, X, Y), In.Contains(X, Y) ? CreateRGB(0, 255, 0) : Px(Original, X, Y));

  // Crop to the triangle's box: the outside becomes black.
  V.First = Copy(Original);
  P.CropSel();
  ASSERT_EQ(V.First.GetWidth(), 15);
  ASSERT_EQ(V.First.GetHeight(), 13);
  for (int32_t Y = 0; Y < 13; ++Y)
    for (int32_t X = 0; X < 15; ++X)
      ASSERT_EQ(Px(V.First, X, Y),
                In.Contains(X + 2, Y + 1) ? Px(Original, X + 2, Y + 1) : CreateRGB(0, 0, 0));
  P.Undo();
  EXPECT_TRUE(SamePixels(V.First, Original));

  // Without a selection crop only updates (undo still kept) and ClearSel clears everything.
  V.DeSelect();
  P.ClearUndo();
  P.CropSel();
  EXPECT_TRUE(SamePixels(V.First, Original));
  EXPECT_TRUE(P.GetCanUndo());
  P.ClearSel();
  EXPECT_EQ(Px(V.First, 19, 15), CreateRGB(0, 255, 0));

  TBitmap B = RandomBitmap24(4, 3, 2);
  TQuilloProc Q;
  Q.SetAttachedBitmap(&B);
  Q.SetBackground(RGBColor(1, 2, 3));
  Q.Select(1, 1, 3, 2);
  Q.CropSel();
  EXPECT_EQ(B.GetWidth(), 2);
  EXPECT_EQ(B.GetHeight(), 1);
  Q.Clear();
  EXPECT_EQ(Px(B, 1, 0), CreateRGB(1, 2, 3));
}

TEST_F(ClipboardTest, CopyAndPasteThroughDIBs) {
  TBitmap B = RandomBitmap24(9, 5, 3);
  const TBitmap Original = Copy(B);
  TQuilloProc P;
  P.SetAttachedBitmap(&B);
  P.CopyToClipboard();
  EXPECT_TRUE(Clipboard().HasFormat(CF_DIB));
  TBitmap Target(2, 2, pf1bit);
  TQuilloProc T;
  T.SetAttachedBitmap(&Target);
  T.PasteFromClipboard();
  EXPECT_TRUE(SamePixels(Target, Original));
  EXPECT_TRUE(T.GetCanUndo());

  // 1-bit images stay 1-bit.
  TBitmap Bw = RandomBitmap1(13, 3, 5);
  P.SetAttachedBitmap(&Bw);
  P.CopyToClipboard();
  T.PasteFromClipboard();
  EXPECT_TRUE(SamePixels(Target, Bw));

  // The selected rectangle only; then drawn at a point, and stretched into a selection.
  P.SetAttachedBitmap(&B);
  P.Select(2, 1, 6, 4);
  P.SelCopyToClip();
  TBitmap Canvas = RandomBitmap24(10, 10, 8);
  const TBitmap Before = Copy(Canvas);
  T.SetAttachedBitmap(&Canvas);
  T.PointPasteFromClip(5, 6);
  EXPECT_EQ(Px(Canvas, 5, 6), Px(B, 2, 1));
  EXPECT_EQ(Px(Canvas, 8, 8), Px(B, 5, 3));
  EXPECT_EQ(Px(Canvas, 4, 6), Px(Before, 4, 6));
  const TBitmap Pasted = Copy(Canvas);
  T.Select(0, 0, 8, 6);
  T.SelPasteFromClipStretch();
  EXPECT_EQ(Px(Canvas, 1, 1), Px(B, 2, 1));
  EXPECT_EQ(Px(Canvas, 7, 5), Px(B, 5, 3));
  EXPECT_EQ(Px(Canvas, 8, 6), Px(Pasted, 8, 6));

  // Cut: the rectangle goes to the clipboard and is cleared to the background.
  P.SetBackground(clWhite);
  P.SelCutToClip();
  EXPECT_EQ(Px(B, 2, 1), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(B, 1, 1), Px(Original, 1, 1));
  T.SelectAll();
  T.PasteFromClipboard();
  EXPECT_EQ(Canvas.GetWidth(), 4);
  EXPECT_EQ(Px(Canvas, 3, 2), Px(Original, 5, 3));
}

TEST_F(ClipboardTest, PolygonSelectionsAndABusyClipboard) {
  TTestView V;
  TQuilloProc P;
  P.SetAttachedQuillo(&V);
  const TBitmap Original = Copy(V.First);
  V.SetPolygon(kTriangle);
  P.SelCopyToClip();
  TBitmap Got;
  TQuilloProc T;
  T.SetAttachedBitmap(&Got);
  T.PasteFromClipboard();
  // The mask's box (inclusive), the unselected pixels black.
  ASSERT_EQ(Got.GetWidth(), V.Mask.X2 - V.Mask.X1 + 1);
  ASSERT_EQ(Got.GetHeight(), V.Mask.Y2 - V.Mask.Y1 + 1);
  for (int32_t Y = 0; Y < Got.GetHeight(); ++Y)
    for (int32_t X = 0; X < Got.GetWidth(); ++X) {
      const int32_t SX = X + V.Mask.X1, SY = Y + V.Mask.Y1;
      ASSERT_EQ(Px(Got, X, Y), V.Mask.IsPointInside(SX, SY) ? Px(Original, SX, SY) : TRGB{});
    }

  // Client coordinates are converted for a view whose selection base is the client area.
  TBitmap Small(1, 1, pf24bit);
  TQuilloProc S;
  S.SetAttachedBitmap(&Small);
  S.CopyToClipboard();
  V.First = TBitmap(20, 16, pf24bit);
  V.DeSelect();
  reinterpret_cast<TRGB*>(Small.ScanLine(0))[0] = CreateRGB(7, 7, 7);
  S.CopyToClipboard();
  P.PointPasteFromClip(10, 8);
  EXPECT_EQ(Px(V.First, 5, 4), CreateRGB(7, 7, 7));

  // While someone else holds the clipboard nothing is copied, cut or pasted.
  Clipboard().Open();
  V.First = Copy(Original);
  V.SetPolygon(kTriangle);
  P.ClearUndo();
  P.SelCutToClip();
  EXPECT_TRUE(SamePixels(V.First, Original));
  P.PasteFromClipboard();
  EXPECT_TRUE(SamePixels(V.First, Original));
  EXPECT_FALSE(P.GetCanUndo());
  Clipboard().Close();
  // A clipboard without a bitmap pastes nothing.
  Clipboard().Open();
  Clipboard().Clear();
  Clipboard().Close();
  P.PasteFromClipboard();
  EXPECT_TRUE(SamePixels(V.First, Original));
}

TEST(QuilloProc, ColourMethodsCheckTheirFormat) {
  TQuilloProc P;
  TBitmap Bw = RandomBitmap1(8, 8, 1);
  const TBitmap BwOrig = Copy(Bw);
  P.SetAttachedBitmap(&Bw);
  P.HSLvar(10, 10, 10);
  P.Contrast(10);
  P.ApplyFilterPreset(fpBlur);
  P.ConvertToGray();
  EXPECT_TRUE(SamePixels(Bw, BwOrig));
  EXPECT_FALSE(P.GetCanUndo());  // returned before saving undo
  EXPECT_EQ(P.CalcImageNumColors(), 2);
  P.ConvertTo24Bit();
  EXPECT_EQ(Bw.GetPixelFormat(), pf24bit);
  EXPECT_EQ(Px(Bw, 0, 0).r, BwOrig.ScanLine(0)[0] & 0x80 ? 255 : 0);

  // Contrast: a column 1 pixel wide uses 128 for every level; a single pixel is left alone.
  TBitmap Col(1, 3, pf24bit);
  reinterpret_cast<TRGB*>(Col.ScanLine(0))[0] = CreateRGB(200, 100, 128);
  P.SetAttachedBitmap(&Col);
  P.Contrast(10);
  EXPECT_EQ(Px(Col, 0, 0), CreateRGB(255, 72, 128));
  TBitmap Dot(1, 1, pf24bit);
  P.SetAttachedBitmap(&Dot);
  P.ClearUndo();
  P.Contrast(10);
  EXPECT_FALSE(P.GetCanUndo());

  // The channel of the whole image, whatever is selected.
  TBitmap C = RandomBitmap24(5, 4, 3);
  P.SetAttachedBitmap(&C);
  P.Select(1, 1, 2, 2);
  EXPECT_TRUE(SamePixels(*P.GetRGBChannel(2), *_GetRGBChannel(C, 2)));
  THistogram H;
  H[0].R = 99;
  P.GetHistogram(H);
  uint32_t Counted = 0;
  for (const THistogramItem& I : H) Counted += I.Grey;
  EXPECT_EQ(Counted, 1u);
  EXPECT_EQ(P.CalcImageNumColors(), 1);
}

TEST(QuilloProc, GeometryMethods) {
  TBitmap B = RandomBitmap24(200, 50, 3);
  TQuilloProc P;
  P.SetAttachedBitmap(&B);
  P.Resample(-1, -1, rfTriangle);
  EXPECT_EQ(B.GetWidth(), 200);
  EXPECT_TRUE(P.GetCanUndo());
  P.Resample(-1, 100, rfTriangle);
  EXPECT_EQ(B.GetWidth(), 400);
  EXPECT_EQ(B.GetHeight(), 100);
  P.Resample(0, 5, rfTriangle);
  EXPECT_EQ(B.GetWidth(), 400);
  // A single pixel cannot be filtered; it is stretched rather than left black.
  TBitmap One(1, 1, pf24bit);
  reinterpret_cast<TRGB*>(One.ScanLine(0))[0] = CreateRGB(10, 20, 30);
  P.SetAttachedBitmap(&One);
  P.Resample(3, 2, rfLanczos3);
  EXPECT_EQ(Px(One, 2, 1), CreateRGB(10, 20, 30));

  // Quarter turns are the exact 90-degree rotations; the bitmap keeps its change listener.
  TBitmap R = RandomBitmap24(7, 4, 5);
  const TBitmap ROrig = Copy(R);
  int32_t Notices = 0;
  R.OnChange = [&](TObject*) { ++Notices; };
  P.SetAttachedBitmap(&R);
  P.Rotate(90, false);
  TBitmap Want;
  _Rot90(ROrig, Want);
  EXPECT_TRUE(SamePixels(R, Want));
  P.Rotate(-90, true);
  P.Rotate(360, true);
  EXPECT_TRUE(SamePixels(R, ROrig));
  P.Flip(fdHorizontal);
  EXPECT_EQ(Px(R, 0, 0), Px(ROrig, 6, 0));
  EXPECT_GT(Notices, 0);
  const int32_t Before = Notices;
  P.Update();
  EXPECT_EQ(Notices, Before + 1);

  // Canvas resizing keeps the top-left and fills with the background.
  P.SetBackground(clBlue);
  P.ImageResize(9, 5);
  EXPECT_EQ(Px(R, 0, 0), Px(ROrig, 6, 0));
  EXPECT_EQ(Px(R, 8, 4), CreateRGB(0, 0, 255));
  P.ImageResize(-3, 5);
  EXPECT_EQ(R.GetWidth(), 9);

  // A 1-bit image turns by the inverse mapping; by 0 it keeps its size.
  TBitmap Bw = RandomBitmap1(13, 6, 2);
  P.SetAttachedBitmap(&Bw);
  P.Rotate(0, false);
  EXPECT_EQ(Bw.GetWidth(), 13);
  EXPECT_EQ(Bw.GetPixelFormat(), pf1bit);
}

TEST(QuilloProc, FilterAnalysisAndTransformMethods) {
  TBitmap B = RandomBitmap24(12, 10, 6);
  const TBitmap Original = Copy(B);
  TQuilloProc P;
  P.SetAttachedBitmap(&B);
  P.ApplyFilterPreset(fpNone);
  P.Maximum(0);
  P.Minimum(-1);
  P.BumpMapping(1, 1, 0, 5, 50, CreateRGB(255, 255, 255));
  EXPECT_TRUE(SamePixels(B, Original));
  EXPECT_TRUE(P.GetCanUndo());
  P.ApplyFilterPreset(fpEdge);
  EXPECT_FALSE(SamePixels(B, Original));

  // Hidden text round trip.
  B = Copy(Original);
  EXPECT_EQ(P.GetHiddenDataSpace(), 12 * 10 * 3 / 8 - 8);
  EXPECT_EQ(P.WriteHiddenText("quillo"), 6);
  EXPECT_EQ(P.ReadHiddenText(), "quillo");

  // Reduction: more than 2 colours stays 24-bit, 2 gives ordered black and white.
  std::vector<TRGB> Pal(4);
  P.ConvertToPalette(4, Pal.data());
  EXPECT_EQ(B.GetPixelFormat(), pf24bit);
  EXPECT_LE(P.CalcImageNumColors(), 4);
  P.ConvertToPalette(2, Pal.data());
  EXPECT_EQ(B.GetPixelFormat(), pf1bit);
  EXPECT_EQ(Pal[1], CreateRGB(255, 255, 255));

  // The transform of a stretched copy: 512 x 256 to 256 x 128 gives N = 256.
  TBitmap Big = RandomBitmap24(512, 256, 1);
  P.SetAttachedBitmap(&Big);
  auto F = P.FTCreateImage(qlitGrayscale, 256, -1);
  ASSERT_TRUE(F);
  EXPECT_EQ(F->Size(), 256);
  EXPECT_EQ(F->SourceHeight(), 128);
  P.FTConvertFrom(*F);
  EXPECT_EQ(Big.GetWidth(), 256);
  EXPECT_EQ(Big.GetHeight(), 128);
  P.FTDisplayFrom(*F);
  EXPECT_EQ(Big.GetHeight(), 256);
  TQLFtImage Empty;
  P.FTDisplayFrom(Empty);  // holds nothing: the bitmap stays
  EXPECT_EQ(Big.GetHeight(), 256);
}
