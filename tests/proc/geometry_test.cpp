#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

#include "quillo/core/pixels.h"
#include "quillo/proc/geometry.h"
#include "quillo/proc/quilloproc.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}

// A plain implementation of one filtered pass, written from the definition: for each target
// position the sources around its centre, mirrored at the edges, weighted by the kernel
// (divided by the scale when reducing), summed in order, clamped and rounded.
uint8_t RefSample(const std::vector<uint8_t>& Line, int32_t I, int32_t Dst, TResampleFilter F) {
  const int32_t Src = static_cast<int32_t>(Line.size());
  const double S = static_cast<double>(Dst) / Src, R = QLFilterSupport(F);
  const double C = I / S;
  const double Width = S >= 1 ? R : R / S;
  double Sum = 0;
  for (int64_t J = static_cast<int64_t>(std::floor(C - Width));
       J <= static_cast<int64_t>(std::ceil(C + Width)); ++J) {
    const double W = S >= 1 ? QLFilterKernel(F, C - J) : QLFilterKernel(F, (C - J) * S) * S;
    if (W == 0) continue;
    int64_t N = J < 0 ? -J : J >= Src ? 2 * Src - 1 - J : J;
    N = std::clamp<int64_t>(N, 0, Src - 1);
    Sum += W * Line[static_cast<size_t>(N)];
  }
  if (Sum > 255) return 255;
  if (Sum < 0) return 0;
  return static_cast<uint8_t>(QLRound(Sum));
}

TBitmap RefResample(const TBitmap& Src, int32_t TW, int32_t TH, TResampleFilter F) {
  const int32_t SW = Src.GetWidth(), SH = Src.GetHeight();
  TBitmap Mid(TW, SH, pf24bit), Out(TW, TH, pf24bit);
  for (int32_t Y = 0; Y < SH; ++Y)
    for (int32_t Ch = 0; Ch < 3; ++Ch) {
      std::vector<uint8_t> Line(static_cast<size_t>(SW));
      for (int32_t X = 0; X < SW; ++X) Line[static_cast<size_t>(X)] = Src.ScanLine(Y)[X * 3 + Ch];
      for (int32_t X = 0; X < TW; ++X) Mid.ScanLine(Y)[X * 3 + Ch] = RefSample(Line, X, TW, F);
    }
  for (int32_t X = 0; X < TW; ++X)
    for (int32_t Ch = 0; Ch < 3; ++Ch) {
      std::vector<uint8_t> Line(static_cast<size_t>(SH));
      for (int32_t Y = 0; Y < SH; ++Y) Line[static_cast<size_t>(Y)] = Mid.ScanLine(Y)[X * 3 + Ch];
      for (int32_t Y = 0; Y < TH; ++Y) Out.ScanLine(Y)[X * 3 + Ch] = RefSample(Line, Y, TH, F);
    }
  return Out;
}

// The three-shear rotation written plainly from its definition, on a grid of pixels with
// real arithmetic: each pass places every line at its start, blending with the preceding pixel.
using TGrid = std::vector<std::vector<TRGB>>;

TGrid RefShears(const TBitmap& Src, int32_t Angle, bool Antialias, const TRGB& Bg) {
  const int32_t W = Src.GetWidth(), H = Src.GetHeight();
  const double Th = Angle * 3.14159265358979323846 / 180, T = std::fabs(std::tan(Th / 2)),
               S = std::fabs(std::sin(Th));
  auto Nr = [](double V) { return static_cast<int32_t>(std::nearbyint(V)); };
  const int32_t W1 = Nr(H * T + W + 1), D2 = Nr((W1 - W) * S), H2u = Nr(W1 * S + H + 1);
  const int32_t H2 = H2u - 2 * D2, D3 = Nr((H2u - H - D2) * T), W3 = Nr(H2 * T + W1 + 1 - 2 * D3);
  auto Mix = [&](const TRGB& P, const TRGB& C, int32_t Wt) {
    auto Ch = [&](int32_t Pv, int32_t Cv) {
      return static_cast<uint8_t>(
          std::clamp(Nr((Pv * Wt + Cv * (4096 - Wt) + 2048) / 4096.0), 0, 255));
    };
    return TRGB{Ch(P.b, C.b), Ch(P.g, C.g), Ch(P.r, C.r)};
  };
  // Places a line of N pixels (Get(i)) from Start into a line of Limit pixels (Put(k, v)).
  auto Line = [&](int32_t N, int32_t Start, int32_t Limit, int32_t Wt, auto Get, auto Put) {
    TRGB Prev = Bg;
    for (int32_t I = 0; I < N; ++I) {
      const TRGB V = Antialias ? Mix(Prev, Get(I), Wt) : Get(I);
      if (Start + I >= 0 && Start + I < Limit) Put(Start + I, V);
      Prev = Get(I);
    }
    if (Antialias && Wt > 0 && Start + N >= 0 && Start + N < Limit)
      Put(Start + N, Mix(Prev, Bg, Wt));
  };
  const bool Pos = Th > 0;
  TGrid A(H, std::vector<TRGB>(W1, Bg)), B(H2, std::vector<TRGB>(W1, Bg)),
      C(H2, std::vector<TRGB>(W3, Bg));
  for (int32_t Y = 0; Y < H; ++Y) {
    const double O = Pos ? Y * T : (H - Y) * T;
    Line(
        W, Nr(O), W1, static_cast<int32_t>((O - Nr(O)) * 4096),
        [&](int32_t I) { return Px(Src, I, Y); }, [&](int32_t K, const TRGB& V) { A[Y][K] = V; });
  }
  for (int32_t X = 0; X < W1; ++X) {
    const double O = Pos ? (W1 - X) * S : X * S;
    Line(
        H, Nr(O) - D2, H2, Nr((O - Nr(O)) * 4096), [&](int32_t I) { return A[I][X]; },
        [&](int32_t K, const TRGB& V) { B[K][X] = V; });
  }
  for (int32_t Y = 0; Y < H2; ++Y) {
    const double O = Pos ? Y * T : (H2 - Y) * T;
    Line(
        W1, Nr(O) - D3, W3, Nr((O - Nr(O)) * 4096), [&](int32_t I) { return B[Y][I]; },
        [&](int32_t K, const TRGB& V) { C[Y][K] = V; });
  }
  return C;
}

}  // namespace

TEST(Geometry, KernelsAtTheirEdges) {
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfTriangle, 0), 1);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfTriangle, 1), 0);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfHermite, 0.5), 0.5);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfBell, 0.5), 0.5);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfBell, 1.5), 0);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfBSpline, 0), 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfBSpline, 1), 1.0 / 6.0);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfLanczos3, 0), 1);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfLanczos3, 3), 0);
  EXPECT_NEAR(QLFilterKernel(rfLanczos3, 1), 0, 1e-15);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfMitchell, 0), 16.0 / 18.0);
  EXPECT_NEAR(QLFilterKernel(rfMitchell, 1), 1.0 / 18.0, 1e-15);
  EXPECT_DOUBLE_EQ(QLFilterKernel(rfMitchell, -1.9), QLFilterKernel(rfMitchell, 1.9));
  EXPECT_DOUBLE_EQ(QLFilterSupport(rfLanczos3), 3);
  EXPECT_DOUBLE_EQ(QLFilterSupport(rfNone), 0);
}

TEST(Geometry, ResampleMatchesAPlainImplementation) {
  TBitmap Src = RandomBitmap24(23, 17, 1);
  for (TResampleFilter F : {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell})
    for (auto [W, H] : {std::pair{7, 5}, std::pair{50, 40}, std::pair{23, 17}, std::pair{1, 30}}) {
      TBitmap Dst(W, H, pf24bit);
      _Resample(Src, Dst, F, nullptr, nullptr);
      EXPECT_TRUE(SamePixels(Dst, RefResample(Src, W, H, F))) << int(F) << " " << W << "x" << H;
    }
  // Strong reductions: long and uneven lists of contributors, negative lobes clamped.
  TBitmap Wide = RandomBitmap24(301, 37, 2);
  for (TResampleFilter F : {rfTriangle, rfLanczos3, rfMitchell}) {
    TBitmap Dst(13, 5, pf24bit);
    _Resample(Wide, Dst, F, nullptr, nullptr);
    EXPECT_TRUE(SamePixels(Dst, RefResample(Wide, 13, 5, F))) << int(F);
  }
  // Same size with the triangle filter is the identity.
  TBitmap Same(23, 17, pf24bit);
  _Resample(Src, Same, rfTriangle, nullptr, nullptr);
  EXPECT_TRUE(SamePixels(Same, Src));
  // Degenerate sources and rfNone leave the destination alone.
  TBitmap Tiny(1, 1, pf24bit), Dst(4, 4, pf24bit);
  std::memset(Dst.Bits(), 7, static_cast<size_t>(Dst.BitsSize()));
  _Resample(Tiny, Dst, rfTriangle, nullptr, nullptr);
  _Resample(Src, Dst, rfNone, nullptr, nullptr);
  EXPECT_EQ(Dst.ScanLine(0)[0], 7);
  // Progress ends at 99 or 100 and never goes back.
  std::vector<int32_t> Seen;
  TBitmap Big(60, 10, pf24bit);
  _Resample(
      Src, Big, rfLanczos3, [&](TObject*, int32_t P) { Seen.push_back(P); }, nullptr);
  ASSERT_FALSE(Seen.empty());
  EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));
  EXPECT_GE(Seen.back(), 99);
}

TEST(Geometry, QuickResampleAndStretch) {
  TBitmap Src = RandomBitmap24(12, 9, 2);
  TBitmap Up(30, 20, pf24bit);
  _QuickResample(Src, Up, rfTriangle, nullptr, nullptr);
  TBitmap Full(30, 20, pf24bit);
  _Resample(Src, Full, rfTriangle, nullptr, nullptr);
  EXPECT_TRUE(SamePixels(Up, Full));  // triangle needs far fewer than 13 sources
  // Reducing passes are nearest-neighbour: every output pixel is a source pixel.
  TBitmap Down(5, 4, pf24bit);
  _QuickResample(Src, Down, rfLanczos3, nullptr, nullptr);
  TBitmap Nearest(5, 4, pf24bit);
  _QLBmpStretch(Src, Nearest);
  EXPECT_TRUE(SamePixels(Down, Nearest));
  // Doubling by stretch repeats each pixel twice; 1-bit stays 1-bit.
  TBitmap Double(24, 18, pf24bit);
  _QLBmpStretch(Src, Double);
  EXPECT_EQ(Px(Double, 5, 7), Px(Src, 2, 3));
  EXPECT_EQ(Px(Double, 4, 6), Px(Src, 2, 3));
  TBitmap One = RandomBitmap1(11, 3, 3), OneUp(22, 6, pf24bit);
  _QLBmpStretch(One, OneUp);
  EXPECT_EQ(OneUp.GetPixelFormat(), pf1bit);
  for (int32_t X = 0; X < 22; ++X)
    EXPECT_EQ(_GetPixelbw(OneUp.ScanLine(5), X), _GetPixelbw(One.ScanLine(2), X / 2));
}

TEST(Geometry, QuarterTurnsAndFlipsArePermutations) {
  TBitmap Src = RandomBitmap24(13, 7, 4);
  TBitmap A, B;
  _Rot90(Src, A);
  ASSERT_EQ(A.GetWidth(), 7);
  ASSERT_EQ(A.GetHeight(), 13);
  EXPECT_EQ(Px(A, 0, 0), Px(Src, 12, 0));  // the top-right corner comes to the top-left
  _Rot90o(A, B);
  EXPECT_TRUE(SamePixels(B, Src));
  TBitmap C;
  C.Assign(Src);
  for (int I = 0; I < 4; ++I) _Rot90(C, C);
  EXPECT_TRUE(SamePixels(C, Src));
  for (TPixelFormat PF : {pf24bit, pf1bit}) {
    TBitmap F = PF == pf24bit ? RandomBitmap24(13, 7, 5) : RandomBitmap1(13, 7, 5);
    TBitmap Orig;
    Orig.Assign(F);
    _Flip(F, fdHorizontal);
    for (int32_t X = 0; X < 13; ++X)
      if (PF == pf1bit) {
        EXPECT_EQ(_GetPixelbw(F.ScanLine(3), X), _GetPixelbw(Orig.ScanLine(3), 12 - X));
      } else {
        EXPECT_EQ(Px(F, X, 3), Px(Orig, 12 - X, 3));
      }
    _Flip(F, fdHorizontal);
    EXPECT_TRUE(SamePixels(F, Orig));
    _Flip(F, fdVertical);
    EXPECT_EQ(std::memcmp(F.ScanLine(0), Orig.ScanLine(6), static_cast<size_t>(F.RowLen())), 0);
    _Flip(F, fdVertical);
    EXPECT_TRUE(SamePixels(F, Orig));
  }
}

TEST(Geometry, ShearRotationMatchesTheDefinition) {
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  const TRGB Bg = CreateRGB(10, 200, 30);
  for (auto [W, H] : {std::pair{23, 17}, std::pair{40, 9}, std::pair{1, 12}, std::pair{64, 64}})
    for (int32_t Angle : {1, 7, 30, 45, -1, -13, -30, -45, 44})
      for (bool Aa : {false, true}) {
        const TBitmap Src = RandomBitmap24(W, H, static_cast<uint32_t>(W * 100 + Angle + 50));
        TBitmap B;
        B.Assign(Src);
        ASSERT_TRUE(_Rotate24(B, Angle, Aa, RGBColor(10, 200, 30), P));
        const TGrid Want = RefShears(Src, Angle, Aa, Bg);
        ASSERT_EQ(B.GetHeight(), static_cast<int32_t>(Want.size()));
        ASSERT_EQ(B.GetWidth(), static_cast<int32_t>(Want[0].size()));
        int32_t Bad = 0;
        for (int32_t Y = 0; Y < B.GetHeight(); ++Y)
          for (int32_t X = 0; X < B.GetWidth(); ++X) Bad += !(Px(B, X, Y) == Want[Y][X]);
        EXPECT_EQ(Bad, 0) << W << "x" << H << " angle " << Angle << " antialias " << Aa;
      }
}

TEST(Geometry, RotationSteps) {
  TBitmap Src = RandomBitmap24(20, 11, 6);
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  for (int32_t Angle : {0, 360, -360}) {
    TBitmap B;
    B.Assign(Src);
    ASSERT_TRUE(_Rotate24(B, Angle, true, clWhite, P));
    EXPECT_TRUE(SamePixels(B, Src)) << Angle;
  }
  TBitmap Ccw, Cw, Expect;
  Ccw.Assign(Src);
  Cw.Assign(Src);
  _Rotate24(Ccw, 90, true, clWhite, P);
  _Rot90(Src, Expect);
  EXPECT_TRUE(SamePixels(Ccw, Expect));
  _Rotate24(Cw, -90, false, clWhite, P);
  _Rot90o(Src, Expect);
  EXPECT_TRUE(SamePixels(Cw, Expect));
  // 46 degrees: a quarter turn, then -44 by shears.
  TBitmap A46, Manual;
  A46.Assign(Src);
  _Rotate24(A46, 46, false, clBlack, P);
  _Rot90(Src, Manual);
  _Rotate24(Manual, -44, false, clBlack, P);
  EXPECT_TRUE(SamePixels(A46, Manual));
  // A small turn grows the image by the shear sizes and keeps the colour of a flat image's
  // interior.
  TBitmap Flat(40, 30, pf24bit);
  std::memset(Flat.Bits(), 90, static_cast<size_t>(Flat.BitsSize()));
  _Rotate24(Flat, 10, true, clWhite, P);
  EXPECT_GT(Flat.GetWidth(), 40);
  EXPECT_GT(Flat.GetHeight(), 30);
  EXPECT_EQ(Px(Flat, Flat.GetWidth() / 2, Flat.GetHeight() / 2), CreateRGB(90, 90, 90));
  EXPECT_EQ(Px(Flat, 0, 0), CreateRGB(255, 255, 255));
  // Beyond the pixel limit: refused, image untouched.
  const int64_t Old = QLGetMaxPixels();
  QLSetMaxPixels(1300);
  TBitmap Limit = RandomBitmap24(35, 35, 1);
  EXPECT_FALSE(_Rotate24(Limit, 30, false, clBlack, P));
  EXPECT_EQ(Limit.GetWidth(), 35);
  QLSetMaxPixels(Old);
  // 1-bit: a turn of 0 keeps the size and pixels; the inverse mapping fills corners.
  TBitmap One = RandomBitmap1(17, 9, 7), OneOrig;
  OneOrig.Assign(One);
  ASSERT_TRUE(_rotate1bit(One, 0, 1, P));
  EXPECT_TRUE(SamePixels(One, OneOrig));
  TBitmap White(10, 10, pf1bit);
  ASSERT_TRUE(_rotate1bit(White, 45, 1, P));
  EXPECT_EQ(_GetPixelbw(White.ScanLine(0), 0), 1);  // a corner outside the old image
  EXPECT_EQ(_GetPixelbw(White.ScanLine(White.GetHeight() / 2), White.GetWidth() / 2), 0);
}

TEST(Geometry, OneBitToGrey) {
  // Left half white, right half black; reduce 8 x 4 to 2 x 1.
  TBitmap One(8, 4, pf1bit);
  for (int32_t Y = 0; Y < 4; ++Y) One.ScanLine(Y)[0] = 0xF0;
  TBitmap Grey(2, 1, pf24bit);
  _SubResample1bitFiltered(One, 0, 0, 7, 3, Grey);
  EXPECT_EQ(Px(Grey, 0, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(Grey, 1, 0), CreateRGB(0, 0, 0));
  // A box across the edge gets the share of white.
  TBitmap Half(1, 1, pf24bit);
  _SubResample1bitFiltered(One, 2, 0, 5, 3, Half);
  EXPECT_EQ(Px(Half, 0, 0), CreateRGB(127, 127, 127));
}

// Reduced by a factor that is not whole, a flat picture keeps its level when the weights are
// normalised; the plain definition's sums of weights rise and fall with the target's phase.
TEST(Geometry, NormalisedWeightsKeepFlatAreasFlat) {
  TBitmap Flat(80, 60, pf24bit);
  std::memset(Flat.Bits(), 200, static_cast<size_t>(Flat.BitsSize()));
  for (TResampleFilter F : {rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell}) {
    TBitmap Shown(76, 57, pf24bit);
    _ResampleRect(Flat, TRect{0, 0, 80, 60}, Shown, F, true);
    for (int32_t Y = 0; Y < 57; ++Y)
      for (int32_t X = 0; X < 76 * 3; ++X) ASSERT_EQ(Shown.ScanLine(Y)[X], 200) << F;
  }
  TBitmap Plain(76, 57, pf24bit);
  _Resample(Flat, Plain, rfTriangle, nullptr, nullptr);
  std::set<uint8_t> Levels(Plain.ScanLine(20), Plain.ScanLine(20) + 76 * 3);
  EXPECT_GT(Levels.size(), 1u);
}

TEST(Geometry, ResampleOfARectangleEqualsResampleOfItsCopy) {
  const TBitmap Src = RandomBitmap24(120, 90, 31);
  for (TResampleFilter F : {rfTriangle, rfLanczos3, rfMitchell})
    for (const TRect& R : {TRect{0, 0, 120, 90}, TRect{13, 7, 101, 66}, TRect{50, 40, 53, 44}}) {
      TBitmap Part;
      _CopyBitmapRect(Src, Part, R.Left, R.Top, R.Right, R.Bottom);
      TBitmap Want(37, 150, pf24bit), Got(37, 150, pf24bit);
      _Resample(Part, Want, F, nullptr, nullptr);
      _ResampleRect(Src, R, Got, F);
      EXPECT_TRUE(SamePixels(Want, Got)) << F << " " << R.Left;
    }
}
