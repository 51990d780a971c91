#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "quillo/core/colors.h"
#include "quillo/proc/colorops.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {
TRGB& Px(TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<TRGB*>(B.ScanLine(Y))[X];
}
TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}
TBitmap Solid(int32_t W, int32_t H, TRGB C) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) Px(B, X, Y) = C;
  return B;
}
// Every colour of a grid over the cube, the greys and a few extremes, W pixels a row.
TBitmap ManyColours() {
  TBitmap B(61, 80, pf24bit);
  int32_t I = 0;
  for (int32_t Y = 0; Y < 80; ++Y)
    for (int32_t X = 0; X < 61; ++X, ++I) {
      const int32_t K = I % 4913;  // 17^3 grid points
      TRGB C =
          CreateRGB(static_cast<uint8_t>(K % 17 * 15 + (I / 4913) * 7 % 15),
                    static_cast<uint8_t>(K / 17 % 17 * 15), static_cast<uint8_t>(K / 289 * 15));
      if (Y == 79)
        C = CreateRGB(static_cast<uint8_t>(X * 4), static_cast<uint8_t>(X * 4),
                      static_cast<uint8_t>(X * 4));
      Px(B, X, Y) = C;
    }
  return B;
}
// Applies Fn to every pixel inside R of a copy, as the reference for a point operation.
template <typename TFn>
TBitmap PerPixel(const TBitmap& Src, const TRect& R, TFn&& Fn) {
  TBitmap Out;
  Out.Assign(Src);
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
    for (int32_t X = R.Left; X < R.Right; ++X) Fn(Px(Out, X, Y));
  return Out;
}
}  // namespace

TEST(ColourOps, HSLAndHSVShiftsFollowTheConversions) {
  const TBitmap Src = ManyColours();
  const TRect R{3, 1, 58, 80};  // odd start, rows and columns outside stay
  const int32_t Params[][3] = {{0, 0, 0}, {30, 20, 10}, {-200, -50, 40}, {360, 100, -100}};
  for (const auto& P : Params) {
    TBitmap Got;
    Got.Assign(Src);
    _HSLvar(Got, P[0], P[1], P[2], R);
    const TBitmap Want = PerPixel(Src, R, [&](TRGB& C) {
      double H, S, L;
      RGB2HSL(C, H, S, L);
      HSL2RGB(C, H + P[0] / 360.0, S + P[1] / 100.0, L + P[2] / 100.0);
    });
    EXPECT_TRUE(SamePixels(Got, Want)) << P[0] << " " << P[1] << " " << P[2];

    Got.Assign(Src);
    _HSVvar(Got, P[0], P[1] / 2, P[2] / 2, R);
    const TBitmap WantV = PerPixel(Src, R, [&](TRGB& C) {
      int32_t H, S, V;
      RGB2HSV(C, H, S, V);
      HSV2RGB(C, H + P[0], S + P[1] / 2, V + P[2] / 2);
    });
    EXPECT_TRUE(SamePixels(Got, WantV)) << P[0];
  }
  // A full turn of hue on red clamps at 1, which is red again.
  TBitmap Red = Solid(3, 2, CreateRGB(255, 0, 0));
  _HSLvar(Red, 360, 0, 0, TRect{0, 0, 3, 2});
  EXPECT_EQ(Px(Red, 2, 1), CreateRGB(255, 0, 0));
  // Hue pushed past the end stays at the end of the range.
  TBitmap Blue = Solid(1, 1, CreateRGB(0, 0, 255));
  _HSVvar(Blue, 300, 0, 0, TRect{0, 0, 1, 1});
  TRGB End;
  HSV2RGB(End, 359, 99, 99);
  EXPECT_EQ(Px(Blue, 0, 0), End);
}

TEST(ColourOps, ContrastAboutTheLevels) {
  // Worked values: levels 100, f = 2 for amount 10 and 0.5 for amount -25 (trunc toward 0).
  TBitmap B(4, 1, pf24bit);
  const uint8_t In[4] = {150, 40, 151, 49};
  for (int32_t X = 0; X < 4; ++X) Px(B, X, 0) = CreateRGB(In[X], In[X], In[X]);
  TBitmap Up;
  Up.Assign(B);
  _Contrast(Up, 10, 100, TRect{0, 0, 4, 1});
  EXPECT_EQ(Px(Up, 0, 0).r, 200);
  EXPECT_EQ(Px(Up, 1, 0).g, 0);
  _Contrast(B, -25, 100, TRect{0, 0, 4, 1});
  EXPECT_EQ(Px(B, 2, 0).b, 125);
  EXPECT_EQ(Px(B, 3, 0).b, 75);

  // Every amount, on every byte value, against the formula; levels inside and outside a byte.
  TBitmap All(256, 3, pf24bit);
  for (int32_t X = 0; X < 256; ++X)
    for (int32_t Y = 0; Y < 3; ++Y)
      Px(All, X, Y) = CreateRGB(static_cast<uint8_t>(X), static_cast<uint8_t>(255 - X),
                                static_cast<uint8_t>(X * 7));
  const int32_t Levels[][3] = {{128, 128, 128}, {17, 200, 255}, {0, 300, 64}};
  for (const auto& Lv : Levels)
    for (int32_t Amount = -130; Amount <= 130; Amount += 3) {
      TBitmap Got;
      Got.Assign(All);
      _ContrastRGB(Got, Amount, Lv[0], Lv[1], Lv[2], TRect{1, 0, 256, 3});
      const double F = Amount < 0 ? 1 - std::sqrt(-Amount) / 10 : 1 + Amount / 10.0;
      const TBitmap Want = PerPixel(All, TRect{1, 0, 256, 3}, [&](TRGB& C) {
        C.r = blimit(Lv[0] + QLTrunc((C.r - Lv[0]) * F));
        C.g = blimit(Lv[1] + QLTrunc((C.g - Lv[1]) * F));
        C.b = blimit(Lv[2] + QLTrunc((C.b - Lv[2]) * F));
      });
      ASSERT_TRUE(SamePixels(Got, Want)) << Amount << " level " << Lv[0];
    }

  // The single level: all bytes over (3 w - 1)(h - 1); 128 when that is 0.
  TBitmap M = Solid(2, 2, CreateRGB(10, 20, 30));
  EXPECT_EQ(_GetMediaContrast(M), 240 / 5);
  EXPECT_EQ(_GetMediaContrast(TBitmap(5, 1, pf24bit)), 128);
}

TEST(ColourOps, IntensityGreyAndRanges) {
  const TBitmap Src = RandomBitmap24(37, 5, 11);  // rows with a tail after the vector blocks
  const TRect R{3, 1, 36, 5};
  TBitmap Got;
  Got.Assign(Src);
  _IntensityRGBall(Got, 40, -300, 0, R);
  EXPECT_TRUE(SamePixels(Got, PerPixel(Src, R, [](TRGB& C) {
                           C.r = blimit(C.r + 40);
                           C.g = 0;
                         })));
  Got.Assign(Src);
  _IntensityRGBall(Got, -7, 9, 1000, R);
  EXPECT_TRUE(SamePixels(Got, PerPixel(Src, R, [](TRGB& C) {
                           C.r = blimit(C.r - 7);
                           C.g = blimit(C.g + 9);
                           C.b = 255;
                         })));
  Got.Assign(Src);
  _ConvertToGray(Got, R);
  EXPECT_TRUE(SamePixels(Got, PerPixel(Src, R, [](TRGB& C) {
                           const uint8_t G =
                               static_cast<uint8_t>((21 * C.r + 71 * C.g + 7 * C.b) / 100);
                           C = CreateRGB(G, G, G);
                         })));
  TBitmap White = Solid(20, 1, CreateRGB(255, 255, 255));
  _ConvertToGray(White, TRect{0, 0, 20, 1});
  EXPECT_EQ(Px(White, 19, 0), CreateRGB(252, 252, 252));

  // The colour box is inclusive on both ends.
  TBitmap Box(4, 1, pf24bit);
  Px(Box, 0, 0) = CreateRGB(10, 20, 30);
  Px(Box, 1, 0) = CreateRGB(50, 60, 70);
  Px(Box, 2, 0) = CreateRGB(51, 60, 70);
  Px(Box, 3, 0) = CreateRGB(9, 20, 30);
  _CastColorRange(Box, CreateRGB(10, 20, 30), CreateRGB(50, 60, 70), CreateRGB(1, 2, 3),
                  TRect{0, 0, 4, 1});
  EXPECT_EQ(Px(Box, 0, 0), CreateRGB(1, 2, 3));
  EXPECT_EQ(Px(Box, 1, 0), CreateRGB(1, 2, 3));
  EXPECT_EQ(Px(Box, 2, 0), CreateRGB(51, 60, 70));
  EXPECT_EQ(Px(Box, 3, 0), CreateRGB(9, 20, 30));
}

TEST(ColourOps, ThresholdAndLevelStretch) {
  const TBitmap Src = RandomBitmap24(9, 4, 5);
  TBitmap Got;
  Got.Assign(Src);
  _Threshold(Got, CreateRGB(0, 0, 0), CreateRGB(255, 255, 255), CreateRGB(9, 9, 9),
             CreateRGB(7, 7, 7), TRect{0, 0, 9, 4});
  EXPECT_TRUE(SamePixels(Got, Src));

  TBitmap T(5, 1, pf24bit);
  const uint8_t In[5] = {5, 10, 11, 200, 201};
  for (int32_t X = 0; X < 5; ++X) Px(T, X, 0) = CreateRGB(In[X], 30, In[X]);
  // Red: <= 10 becomes 0, then > 200 becomes 255. Green: <= 50 becomes 220, which is then above
  // its upper limit 200 and becomes 7.
  _Threshold(T, CreateRGB(10, 50, 10), CreateRGB(200, 200, 200), CreateRGB(0, 220, 0),
             CreateRGB(255, 7, 255), TRect{0, 0, 5, 1});
  const uint8_t Out[5] = {0, 0, 11, 200, 255};
  for (int32_t X = 0; X < 5; ++X) {
    EXPECT_EQ(Px(T, X, 0).r, Out[X]) << X;
    EXPECT_EQ(Px(T, X, 0).g, 7);
  }

  Got.Assign(Src);
  _HistEqualize(Got, CreateRGB(1, 1, 1), CreateRGB(0, 0, 0), TRect{0, 0, 9, 4});
  EXPECT_TRUE(SamePixels(Got, Src));
  // Low 1: (127 / 254) x 255 = 127.5 goes to 128 (halves to even); high 128: 64 / 128 x 255 =
  // 127.5 goes to 128, 200 saturates.
  TBitmap E(3, 1, pf24bit);
  Px(E, 0, 0) = CreateRGB(128, 64, 3);
  Px(E, 1, 0) = CreateRGB(0, 200, 255);
  _HistEqualize(E, CreateRGB(1, 0, 0), CreateRGB(255, 128, 255), TRect{0, 0, 2, 1});
  EXPECT_EQ(Px(E, 0, 0), CreateRGB(128, 128, 3));
  EXPECT_EQ(Px(E, 1, 0), CreateRGB(0, 255, 255));
}

TEST(ColourOps, HistAutoEqualizeWorkedExamples) {
  // 16 x 16, left half black, right half white: counted 15 x 15 pixels, target 1 per level,
  // levels 0 -> 0..119 and 252 -> 119..224.
  TBitmap B(16, 16, pf24bit);
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 8; X < 16; ++X) Px(B, X, Y) = CreateRGB(255, 255, 255);
  _HistAutoEqualize(B, TRect{0, 0, 16, 16});
  EXPECT_EQ(Px(B, 2, 5), CreateRGB(0, 0, 0));          // mean 0 lies in 0..119: the mean
  EXPECT_EQ(Px(B, 7, 5), CreateRGB(85, 85, 85));       // mean of 3 whites in 9
  EXPECT_EQ(Px(B, 8, 5), CreateRGB(170, 170, 170));    // mean 168 in 119..224
  EXPECT_EQ(Px(B, 12, 5), CreateRGB(224, 224, 224));   // mean above 224: the upper level
  EXPECT_EQ(Px(B, 15, 15), CreateRGB(224, 224, 224));  // clamped neighbours

  // 10 x 10 has fewer than 256 pixels: the target is 100 / 256 and the walk still ends.
  TBitmap S(10, 10, pf24bit);
  for (int32_t Y = 0; Y < 10; ++Y)
    for (int32_t X = 5; X < 10; ++X) Px(S, X, Y) = CreateRGB(255, 255, 255);
  _HistAutoEqualize(S, TRect{0, 0, 10, 10});
  EXPECT_EQ(Px(S, 1, 1), CreateRGB(0, 0, 0));
  EXPECT_EQ(Px(S, 4, 1), CreateRGB(85, 85, 85));
  EXPECT_EQ(Px(S, 5, 1), CreateRGB(170, 170, 170));
  EXPECT_EQ(Px(S, 8, 1), CreateRGB(207, 207, 207));  // 45 then 36 counts: levels 115, 207

  // A 1 x 1 image and a selection only change what they cover.
  TBitmap One = Solid(1, 1, CreateRGB(9, 9, 9));
  _HistAutoEqualize(One, TRect{0, 0, 1, 1});
  TBitmap Part = RandomBitmap24(20, 20, 8);
  TBitmap Before;
  Before.Assign(Part);
  _HistAutoEqualize(Part, TRect{5, 5, 10, 10});
  EXPECT_EQ(Px(Part, 4, 5), Px(Before, 4, 5));
  EXPECT_EQ(Px(Part, 10, 9), Px(Before, 10, 9));
}

TEST(ColourOps, NegativeInEveryFormat) {
  const TBitmap Src = RandomBitmap24(7, 3, 2);
  TBitmap Got;
  Got.Assign(Src);
  _Negative(Got, TRect{2, 1, 6, 3});
  EXPECT_TRUE(SamePixels(Got, PerPixel(Src, TRect{2, 1, 6, 3}, [](TRGB& C) {
                           C = CreateRGB(255 - C.r, 255 - C.g, 255 - C.b);
                         })));
  // 1-bit: exactly columns 3..12 of row 1.
  TBitmap Bw = RandomBitmap1(20, 3, 4);
  TBitmap BwBefore;
  BwBefore.Assign(Bw);
  _Negative(Bw, TRect{3, 1, 13, 2});
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 20; ++X) {
      const int32_t A = (Bw.ScanLine(Y)[X >> 3] >> (7 - (X & 7))) & 1;
      const int32_t B = (BwBefore.ScanLine(Y)[X >> 3] >> (7 - (X & 7))) & 1;
      EXPECT_EQ(A != B, Y == 1 && X >= 3 && X < 13) << X << "," << Y;
    }
  _Negative1Bit(Bw);
  EXPECT_EQ(Bw.ScanLine(0)[0], static_cast<uint8_t>(~BwBefore.ScanLine(0)[0]));
  TBitmap Eight(4, 4, pf8bit);
  Eight.ScanLine(0)[0] = 7;
  _Negative(Eight, TRect{0, 0, 4, 4});
  EXPECT_EQ(Eight.ScanLine(0)[0], 7);
}

TEST(ColourOps, MergeWeightsAndStretches) {
  TBitmap Other(2, 1, pf24bit);
  Px(Other, 0, 0) = CreateRGB(255, 0, 0);
  Px(Other, 1, 0) = CreateRGB(0, 0, 255);
  const TBitmap Src = RandomBitmap24(6, 3, 9);
  TBitmap Got;
  Got.Assign(Src);
  _Merge(Got, Other, 100, TRect{1, 1, 5, 3});
  EXPECT_TRUE(SamePixels(Got, Src));
  _Merge(Got, Other, 0, TRect{1, 1, 5, 3});
  EXPECT_EQ(Px(Got, 2, 2), CreateRGB(255, 0, 0));  // the left half of the stretched image
  EXPECT_EQ(Px(Got, 3, 1), CreateRGB(0, 0, 255));
  EXPECT_EQ(Px(Got, 0, 1), Px(Src, 0, 1));
  // 50 %: 1 and 2 give 1.5 -> 2, 1 and 0 give 0.5 -> 0 (halves to even).
  TBitmap A = Solid(1, 1, CreateRGB(1, 1, 9));
  TBitmap W = Solid(1, 1, CreateRGB(2, 0, 0));
  _Merge(A, W, 50, TRect{0, 0, 1, 1});
  EXPECT_EQ(Px(A, 0, 0), CreateRGB(2, 0, 4));
}

TEST(ColourOps, ChannelExtraction) {
  TBitmap B(2, 3, pf24bit);
  Px(B, 0, 0) = CreateRGB(200, 100, 50);
  Px(B, 1, 2) = CreateRGB(0, 0, 255);
  auto Red = _GetRGBChannel(B, 5);  // above 2: red
  ASSERT_TRUE(Red);
  EXPECT_EQ(Px(*Red, 0, 0), CreateRGB(200, 200, 200));
  EXPECT_EQ(Px(*_GetRGBChannel(B, 0), 0, 0), CreateRGB(50, 50, 50));
  // Blue (0, 0, 255): H 240 -> trunc(240 / 359 x 255) = 170; S and V 99 -> 255.
  EXPECT_EQ(Px(*_GetHSVChannel(B, 0), 1, 2).r, 170);
  EXPECT_EQ(Px(*_GetHSVChannel(B, 7), 1, 2).r, 170);
  EXPECT_EQ(Px(*_GetHSVChannel(B, 1), 1, 2).g, 255);
  EXPECT_EQ(Px(*_GetHSVChannel(B, 2), 0, 1).b, 0);
  EXPECT_FALSE(_GetRGBChannel(TBitmap(2, 2, pf1bit), 0));

  TBitmap R, G, Bl, H, S, V;
  std::vector<int32_t> Seen;
  _GetRGBChannelAll(B, R, G, Bl, [&](TObject*, int32_t P) { Seen.push_back(P); });
  EXPECT_EQ(Seen, (std::vector<int32_t>{0, 33, 66}));
  EXPECT_TRUE(SamePixels(G, *_GetRGBChannel(B, 1)));
  EXPECT_TRUE(SamePixels(Bl, *_GetRGBChannel(B, 0)));
  _GetHSVChannelAll(B, H, S, V);
  EXPECT_TRUE(SamePixels(H, *_GetHSVChannel(B, 0)));
  EXPECT_TRUE(SamePixels(V, *_GetHSVChannel(B, 2)));
}

TEST(ColourOps, ProgressPerRowIncludingThePassOver100) {
  TBitmap B = RandomBitmap24(4, 12, 1);
  std::vector<int32_t> Seen;
  auto Record = [&](TObject*, int32_t P) { Seen.push_back(P); };
  _ConvertToGray(B, TRect{0, 2, 4, 12}, Record);
  ASSERT_EQ(Seen.size(), 10u);
  EXPECT_EQ(Seen.front(), 10);
  EXPECT_EQ(Seen.back(), 105);
  Seen.clear();
  _Negative(B, TRect{0, 0, 4, 1}, Record);
  EXPECT_EQ(Seen, std::vector<int32_t>{200});
  Seen.clear();
  _Negative(B, TRect{1, 5, 3, 8}, Record);
  EXPECT_EQ(Seen, (std::vector<int32_t>{40, 80, 120}));
}
