#include <gtest/gtest.h>

#include <string>

#include "quillo/platform/canvas.h"
#include "quillo/platform/font.h"
#include "tests/support/testutil.h"

using namespace quillo;
using quillo::test::PeerAvailable;

namespace {

TBitmap White(int32_t W, int32_t H, TPixelFormat PF = pf24bit) {
  TBitmap B(W, H, PF);
  B.Canvas().Brush().SetColor(clWhite);
  B.Canvas().FillRect(Rect(0, 0, W, H));
  B.Canvas().Font().SetName("DejaVu Sans");
  B.Canvas().Font().SetColor(clBlack);
  return B;
}

// The bounding box of the pixels that are not C.
TRect Ink(TBitmap& B, TColor C = clWhite) {
  TRect R{B.GetWidth(), B.GetHeight(), 0, 0};
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y)
    for (int32_t X = 0; X < B.GetWidth(); ++X)
      if (B.Canvas().GetPixel(X, Y) != C) {
        R.Left = std::min(R.Left, X);
        R.Top = std::min(R.Top, Y);
        R.Right = std::max(R.Right, X + 1);
        R.Bottom = std::max(R.Bottom, Y + 1);
      }
  return R;
}

bool HaveDejaVu() {
  return QLFontFile("DejaVu Sans", false, false).find("DejaVu") != std::string::npos;
}

}  // namespace

TEST(Fonts, FaceNamesAndSizes) {
  if (!PeerAvailable(HaveDejaVu(), "fonts-dejavu-core")) GTEST_SKIP();
  // A face that is not installed still maps to some installed face.
  EXPECT_FALSE(QLFontFile("Arial", false, false).empty());
  EXPECT_FALSE(QLFontFile("No Such Face 123", true, true).empty());
  TFont F;
  F.SetSize(12);
  EXPECT_EQ(F.GetHeight(), -16);
  EXPECT_EQ(F.GetSize(), 12);
  F.SetPixelsPerInch(192);
  F.SetSize(12);
  EXPECT_EQ(F.GetHeight(), -32);
  // UTF-8 decodes; stray high bytes stand for themselves.
  EXPECT_EQ(QLDecodeText("a\xC3\xA9z"), std::u32string(U"a\u00E9z"));
  EXPECT_EQ(QLDecodeText("\xE9t\xE9"), std::u32string(U"\u00E9t\u00E9"));
  EXPECT_EQ(QLDecodeText("\xF0\x9F\x98\x80"), std::u32string(U"\U0001F600"));
}

TEST(Fonts, Measuring) {
  if (!PeerAvailable(HaveDejaVu(), "fonts-dejavu-core")) GTEST_SKIP();
  TBitmap B = White(10, 10);
  TCanvas& C = B.Canvas();
  C.Font().SetHeight(-20);
  int32_t H = C.TextHeight("Hg");
  // The cell is taller than the em: ascent and descent of DejaVu Sans come to about 1.16 em.
  EXPECT_GE(H, 22);
  EXPECT_LE(H, 25);
  // A positive height asks for the cell.
  C.Font().SetHeight(H);
  EXPECT_EQ(C.TextHeight("x"), H);
  C.Font().SetHeight(-20);
  // Advances add up (no kerning), narrow letters are narrower, bold is wider.
  EXPECT_EQ(C.TextWidth("AVAV"), 2 * C.TextWidth("AV"));
  EXPECT_LT(C.TextWidth("iiii"), C.TextWidth("WWWW"));
  EXPECT_EQ(C.TextWidth(""), 0);
  int32_t Regular = C.TextWidth("Hello world");
  C.Font().SetStyle(fsBold);
  EXPECT_GT(C.TextWidth("Hello world"), Regular);
  EXPECT_EQ(C.TextExtent("Hello world").cx, C.TextWidth("Hello world"));
}

TEST(Fonts, TextOutPlacesInkInItsCell) {
  if (!PeerAvailable(HaveDejaVu(), "fonts-dejavu-core")) GTEST_SKIP();
  TBitmap B = White(120, 60);
  TCanvas& C = B.Canvas();
  C.Font().SetHeight(-20);
  C.Brush().SetStyle(bsClear);
  TSize E = C.TextExtent("Hg");
  C.TextOut(10, 15, "Hg");
  EXPECT_EQ(C.GetPenPos(), Point(10 + E.cx, 15));
  TRect I = Ink(B);
  EXPECT_GE(I.Left, 10);
  EXPECT_GE(I.Top, 15);
  EXPECT_LE(I.Right, 10 + E.cx + 1);
  EXPECT_LE(I.Bottom, 15 + E.cy);
  EXPECT_GT(I.Width(), E.cx / 2);
  // "g" reaches below the baseline, "H" does not start at the top of the cell.
  EXPECT_GT(I.Height(), E.cy / 2);
  EXPECT_GT(I.Top, 15);
  // Baseline alignment puts the same ink above the reference point.
  TBitmap D = White(120, 60);
  D.Canvas().Font().SetHeight(-20);
  D.Canvas().Brush().SetStyle(bsClear);
  D.Canvas().SetTextAlign(taBaseline);
  D.Canvas().TextOut(10, 40, "H");
  EXPECT_EQ(Ink(D).Bottom, 40);
}

TEST(Fonts, BackgroundQualityAndColour) {
  if (!PeerAvailable(HaveDejaVu(), "fonts-dejavu-core")) GTEST_SKIP();
  // A solid brush fills the text cell; plain quality gives two colours only.
  TBitmap B = White(100, 40);
  TCanvas& C = B.Canvas();
  C.Font().SetHeight(-18);
  C.Font().SetQuality(fqNonAntialiased);
  C.Brush().SetColor(clYellow);
  TSize E = C.TextExtent("Wow");
  C.TextOut(5, 5, "Wow");
  int32_t Grey = 0, Yellow = 0;
  for (int32_t Y = 0; Y < 40; ++Y)
    for (int32_t X = 0; X < 100; ++X) {
      TColor P = C.GetPixel(X, Y);
      bool InCell = X >= 5 && X < 5 + E.cx && Y >= 5 && Y < 5 + E.cy;
      if (!InCell) {
        EXPECT_EQ(P, clWhite);
      }
      if (P == clYellow) ++Yellow;
      if (P != clYellow && P != clBlack && P != clWhite) ++Grey;
    }
  EXPECT_EQ(Grey, 0);
  EXPECT_GT(Yellow, E.cx * E.cy / 2);
  // Antialiased text in a colour blends with the background.
  TBitmap A = White(100, 40);
  A.Canvas().Font().SetHeight(-18);
  A.Canvas().Font().SetColor(clRed);
  A.Canvas().Brush().SetStyle(bsClear);
  A.Canvas().TextOut(5, 5, "Wow");
  int32_t Mixed = 0, Red = 0;
  for (int32_t Y = 0; Y < 40; ++Y)
    for (int32_t X = 0; X < 100; ++X) {
      TColor P = A.Canvas().GetPixel(X, Y);
      Red += P == clRed;
      Mixed += GetRValue(P) == 255 && GetGValue(P) > 0 && GetGValue(P) < 255;
    }
  EXPECT_GT(Red, 20);
  EXPECT_GT(Mixed, 10);
  // On a 1-bit bitmap text draws in the nearest entry.
  TBitmap M = White(60, 30, pf1bit);
  M.Canvas().Brush().SetStyle(bsClear);
  M.Canvas().Font().SetHeight(-16);
  M.Canvas().TextOut(2, 2, "Ab");
  EXPECT_FALSE(Ink(M).IsEmpty());
}

TEST(Fonts, RotationUnderlineAndTextRect) {
  if (!PeerAvailable(HaveDejaVu(), "fonts-dejavu-core")) GTEST_SKIP();
  // 90 degrees counterclockwise: the text runs upwards from the reference point.
  TBitmap R = White(60, 200);
  R.Canvas().Font().SetHeight(-20);
  R.Canvas().Font().SetOrientation(900);
  R.Canvas().Brush().SetStyle(bsClear);
  int32_t W = R.Canvas().TextWidth("Rotated");
  R.Canvas().TextOut(10, 180, "Rotated");
  TRect I = Ink(R);
  EXPECT_GT(I.Height(), I.Width() * 2);
  EXPECT_LE(I.Bottom, 181);
  EXPECT_NEAR(I.Height(), W, 4);
  EXPECT_GE(I.Left, 10);
  // Underline: a bar under the whole text, below the baseline.
  TBitmap U = White(120, 40);
  U.Canvas().Font().SetHeight(-20);
  U.Canvas().Font().SetStyle(fsUnderline);
  U.Canvas().Brush().SetStyle(bsClear);
  U.Canvas().SetTextAlign(taBaseline);
  U.Canvas().TextOut(10, 25, "ooo");
  int32_t Bar = 0;
  for (int32_t Y = 26; Y < 32; ++Y) {
    int32_t Run = 0;
    for (int32_t X = 10; X < 10 + U.Canvas().TextWidth("ooo"); ++X)
      Run += U.Canvas().GetPixel(X, Y) != clWhite;
    Bar = std::max(Bar, Run);
  }
  EXPECT_GE(Bar, U.Canvas().TextWidth("ooo") - 1);
  // TextRect centres a single line and clips to the rectangle.
  TBitmap T = White(200, 80);
  TCanvas& C = T.Canvas();
  C.Font().SetHeight(-16);
  C.Brush().SetStyle(bsClear);
  TRect Box = Rect(20, 10, 180, 70);
  C.TextRect(Box, "centre", tfCenter | tfVerticalCenter | tfSingleLine);
  TRect Ic = Ink(T);
  EXPECT_NEAR((Ic.Left + Ic.Right) / 2, 100, 3);
  EXPECT_NEAR((Ic.Top + Ic.Bottom) / 2, 40, 4);
  TBitmap Clip = White(200, 80);
  Clip.Canvas().Font().SetHeight(-30);
  Clip.Canvas().TextRect(Rect(10, 10, 40, 30), 5, 5, "Clipped text");
  TRect Ik = Ink(Clip);
  EXPECT_GE(Ik.Left, 10);
  EXPECT_GE(Ik.Top, 10);
  EXPECT_LE(Ik.Right, 40);
  EXPECT_LE(Ik.Bottom, 30);
  // Word breaking in a narrow box gives several lines; tfCalcRect measures without drawing.
  TRect Calc = Rect(0, 0, 60, 0);
  C.TextRect(Calc, "one two three four", tfWordBreak | tfCalcRect);
  EXPECT_EQ(Calc.Height() % C.TextHeight("x"), 0);
  EXPECT_GE(Calc.Height(), 2 * C.TextHeight("x"));
  EXPECT_LE(Calc.Width(), 60);
}

// The cache of realised fonts is emptied when full; the fonts it drops, held by nobody else,
// are freed then and must not wait for the lock the cache holds.
TEST(Fonts, ManySizesRealisedInTurn) {
  TBitmap B = White(64, 32);
  for (int32_t H = 1; H <= 600; ++H) {
    B.Canvas().Font().SetHeight(-H);
    const int32_t W = B.Canvas().TextWidth("W");
    if (H >= 8) EXPECT_GT(W, 0) << H;
  }
}
