#include "quillo/platform/cursors.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "quillo/platform/canvas.h"

namespace quillo {

namespace {

// Cursors are drawn on a 32 x 32 picture whose key colour marks the clear pixels: black
// outlines around white shapes, so that they show on any image.
constexpr int32_t kSize = 32;
constexpr TColor kKey = 0xFF00FF;

struct TDrawing {
  TBitmap Bitmap;
  TCanvas Canvas;
  TDrawing() : Canvas(&Bitmap) {
    Bitmap.SetPixelFormat(pf24bit);
    Bitmap.SetSize(kSize, kSize);
    Canvas.Brush().SetStyle(bsSolid);
    Canvas.Brush().SetColor(kKey);
    Canvas.FillRect(Rect(0, 0, kSize, kSize));
    Canvas.Pen().SetColor(clBlack);
    Canvas.Brush().SetColor(clWhite);
  }
  // A white polygon with a black outline.
  void Shape(std::initializer_list<TPoint> Points, TColor Fill = clWhite) {
    Canvas.Pen().SetWidth(1);
    Canvas.Pen().SetColor(clBlack);
    Canvas.Brush().SetStyle(bsSolid);
    Canvas.Brush().SetColor(Fill);
    Canvas.Polygon(Points.begin(), static_cast<int32_t>(Points.size()));
  }
  // A line of the given colour and width.
  void Line(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TColor C = clBlack, int32_t W = 1) {
    Canvas.Pen().SetColor(C);
    Canvas.Pen().SetWidth(W);
    Canvas.MoveTo(X1, Y1);
    Canvas.LineTo(X2, Y2);
    Canvas.Pen().SetWidth(1);
  }
  // A line drawn white on a black line one pixel wider each side: visible on any background.
  void Outlined(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
    Line(X1, Y1, X2, Y2, clBlack, 3);
    Line(X1, Y1, X2, Y2, clWhite, 1);
  }
  TCursorImage Done(int32_t HotX, int32_t HotY) const {
    return CursorFromBitmap(Bitmap, HotX, HotY, kKey);
  }
};

TCursorImage Arrow() {
  TDrawing D;
  D.Shape({{0, 0}, {0, 17}, {4, 13}, {7, 20}, {10, 19}, {7, 12}, {12, 12}});
  return D.Done(0, 0);
}

// A cross through (16, 16) with a gap of Gap pixels around the centre; Centre draws a small
// square (1) or a dot (2) there.
TCursorImage Cross(int32_t Gap, int32_t Centre) {
  TDrawing D;
  D.Outlined(16, 3, 16, 16 - Gap);
  D.Outlined(16, 16 + Gap, 16, 30);
  D.Outlined(3, 16, 16 - Gap, 16);
  D.Outlined(16 + Gap, 16, 30, 16);
  if (Centre == 1) {
    D.Canvas.Brush().SetStyle(bsClear);
    D.Canvas.Pen().SetColor(clBlack);
    D.Canvas.Rectangle(13, 13, 20, 20);
    D.Canvas.Pen().SetColor(clWhite);
    D.Canvas.Rectangle(14, 14, 19, 19);
  } else if (Centre == 2) {
    D.Canvas.SetPixel(16, 16, clBlack);
  }
  return D.Done(16, 16);
}

TCursorImage Magnifier(bool Plus) {
  TDrawing D;
  D.Line(17, 17, 28, 28, clBlack, 5);
  D.Line(17, 17, 28, 28, clWhite, 2);
  D.Canvas.Pen().SetColor(clBlack);
  D.Canvas.Pen().SetWidth(3);
  D.Canvas.Brush().SetColor(clWhite);
  D.Canvas.Ellipse(2, 2, 21, 21);
  D.Canvas.Pen().SetWidth(1);
  D.Line(7, 11, 16, 11, clBlack, 2);
  if (Plus) D.Line(11, 7, 11, 16, clBlack, 2);
  return D.Done(11, 11);
}

TCursorImage Eraser() {
  TDrawing D;
  D.Shape({{2, 20}, {14, 8}, {26, 20}, {14, 32 - 1}});
  D.Shape({{14, 8}, {20, 2}, {30, 12}, {26, 20}}, clGray);
  return D.Done(4, 20);
}

TCursorImage Hand() {
  TDrawing D;
  // Four fingers, a thumb, and the palm, each a rounded block.
  D.Shape({{6, 14}, {6, 24}, {10, 30}, {24, 30}, {27, 22}, {27, 12}, {6, 12}});
  for (int32_t F = 0; F < 4; ++F) {
    const int32_t X = 9 + F * 5;
    D.Canvas.Pen().SetColor(clBlack);
    D.Canvas.Brush().SetColor(clWhite);
    D.Canvas.RoundRect(X, 3 + (F == 0 || F == 3 ? 3 : 0), X + 5, 17, 4, 4);
  }
  D.Canvas.RoundRect(2, 12, 10, 18, 4, 4);
  return D.Done(16, 16);
}

TCursorImage Pen() {
  TDrawing D;
  D.Shape({{1, 30}, {3, 22}, {22, 3}, {28, 9}, {9, 28}});
  D.Line(3, 22, 9, 28);
  D.Line(19, 6, 25, 12);
  D.Shape({{1, 30}, {3, 22}, {9, 28}}, clBlack);
  return D.Done(1, 30);
}

// A double-headed arrow from (X1, Y1) to (X2, Y2) with heads of 5 pixels.
void DoubleArrow(TDrawing& D, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  D.Outlined(X1, Y1, X2, Y2);
  const auto Head = [&](int32_t X, int32_t Y, int32_t DX, int32_t DY) {
    // The head's two barbs lie at 45 degrees to the shaft.
    const int32_t AX = -DX - DY, AY = -DY + DX, BX = -DX + DY, BY = -DY - DX;
    D.Shape({{X, Y}, {X + AX * 5, Y + AY * 5}, {X + BX * 5, Y + BY * 5}});
  };
  const auto Sign = [](int32_t V) { return (V > 0) - (V < 0); };
  Head(X2, Y2, Sign(X2 - X1), Sign(Y2 - Y1));
  Head(X1, Y1, Sign(X1 - X2), Sign(Y1 - Y2));
}

TCursorImage Move(int32_t Kind) {
  TDrawing D;
  switch (Kind) {
    case 0:
      DoubleArrow(D, 6, 6, 26, 26);
      break;
    case 1:
      DoubleArrow(D, 16, 3, 16, 29);
      break;
    case 2:
      DoubleArrow(D, 26, 6, 6, 26);
      break;
    case 3:
      DoubleArrow(D, 3, 16, 29, 16);
      break;
    default:
      DoubleArrow(D, 16, 3, 16, 29);
      DoubleArrow(D, 3, 16, 29, 16);
      break;
  }
  return D.Done(16, 16);
}

TCursorImage IBeam() {
  TDrawing D;
  D.Outlined(16, 6, 16, 26);
  D.Outlined(12, 5, 20, 5);
  D.Outlined(12, 27, 20, 27);
  return D.Done(16, 16);
}

TCursorImage HourGlass() {
  TDrawing D;
  D.Shape(
      {{8, 3}, {24, 3}, {24, 6}, {17, 16}, {24, 26}, {24, 29}, {8, 29}, {8, 26}, {15, 16}, {8, 6}});
  D.Shape({{16, 19}, {22, 27}, {10, 27}}, clGray);
  return D.Done(16, 16);
}

TCursorImage No() {
  TDrawing D;
  D.Canvas.Pen().SetWidth(4);
  D.Canvas.Brush().SetStyle(bsClear);
  D.Canvas.Ellipse(5, 5, 27, 27);
  D.Line(9, 9, 23, 23, clBlack, 4);
  D.Canvas.Pen().SetWidth(1);
  D.Canvas.Pen().SetColor(clWhite);
  D.Canvas.Ellipse(5, 5, 27, 27);
  D.Line(9, 9, 23, 23, clWhite, 1);
  return D.Done(16, 16);
}

struct TTable {
  std::mutex Lock;
  std::map<TCursor, TCursorImage> Images;
  TTable() {
    const TCursorImage A = Arrow();
    Images[crDefault] = A;
    Images[crArrow] = A;
    Images[crDrag] = A;
    Images[crMultiDrag] = A;
    Images[crAppStart] = A;
    Images[crHelp] = A;
    Images[crUpArrow] = Move(1);
    Images[crCross] = Cross(0, 0);
    Images[crIBeam] = IBeam();
    Images[crSizeNESW] = Move(2);
    Images[crSizeNS] = Move(1);
    Images[crSizeNWSE] = Move(0);
    Images[crSizeWE] = Move(3);
    Images[crSizeAll] = Move(4);
    Images[crHSplit] = Move(3);
    Images[crVSplit] = Move(1);
    Images[crHourGlass] = HourGlass();
    Images[crSQLWait] = HourGlass();
    Images[crNoDrop] = No();
    Images[crNo] = No();
    Images[crHandPoint] = Hand();
    Images[crQLZoomOut] = Magnifier(false);
    Images[crQLZoomIn] = Magnifier(true);
    Images[crQLCross] = Cross(0, 0);
    Images[crQLEraser] = Eraser();
    Images[crQLHand] = Hand();
    Images[crQLPen] = Pen();
    Images[crQLCross1] = Cross(3, 1);
    Images[crQLCross2] = Cross(2, 2);
    Images[crQLMoveNWSE] = Move(0);
    Images[crQLMoveNS] = Move(1);
    Images[crQLMoveNESW] = Move(2);
    Images[crQLMoveWE] = Move(3);
    Images[crQLMove] = Move(4);
  }
};

TTable& Table() {
  static TTable T;
  return T;
}

}  // namespace

TCursorImage CursorFromBitmap(const TBitmap& Picture, int32_t HotX, int32_t HotY,
                              TColor Transparent) {
  TCursorImage I;
  TBitmap B;
  B.Assign(Picture);
  if (B.GetPixelFormat() != pf24bit) B.SetPixelFormat(pf24bit);
  I.Width = B.GetWidth();
  I.Height = B.GetHeight();
  I.HotX = std::clamp(HotX, 0, std::max(I.Width - 1, 0));
  I.HotY = std::clamp(HotY, 0, std::max(I.Height - 1, 0));
  I.Argb.resize(static_cast<size_t>(I.Width) * static_cast<size_t>(I.Height));
  const TColor Key = ColorToRGB(Transparent);
  for (int32_t Y = 0; Y < I.Height; ++Y) {
    const uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < I.Width; ++X) {
      const uint8_t Bl = Row[3 * X], G = Row[3 * X + 1], R = Row[3 * X + 2];
      const bool Clear = RGBColor(R, G, Bl) == Key;
      I.Argb[static_cast<size_t>(Y) * static_cast<size_t>(I.Width) + static_cast<size_t>(X)] =
          Clear ? 0u
                : 0xFF000000u | static_cast<uint32_t>(R) << 16 | static_cast<uint32_t>(G) << 8 | Bl;
    }
  }
  return I;
}

const TCursorImage& CursorImage(TCursor Cursor) {
  static const TCursorImage None;
  TTable& T = Table();
  std::lock_guard<std::mutex> L(T.Lock);
  const auto It = T.Images.find(Cursor);
  return It == T.Images.end() ? None : It->second;
}

void SetCursorImage(TCursor Cursor, TCursorImage Image) {
  TTable& T = Table();
  std::lock_guard<std::mutex> L(T.Lock);
  T.Images[Cursor] = std::move(Image);
}

}  // namespace quillo
