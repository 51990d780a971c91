#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "quillo/core/pixels.h"
#include "quillo/platform/streams.h"
#include "quillo/proc/filters.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TRGB& Px(TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<TRGB*>(B.ScanLine(Y))[X];
}

TBitmap Uniform(int32_t W, int32_t H, TRGB C) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) Px(B, X, Y) = C;
  return B;
}

// The convolution written from its definition, one pixel and channel at a time.
TBitmap RefConvolve(const TBitmap& Src, const TGraphFilter& F, const TRect& R) {
  TBitmap Out;
  Out.Assign(Src);
  const int32_t W = Src.GetWidth(), H = Src.GetHeight();
  const int32_t Div = F.Divisor ? F.Divisor : 1;
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
    for (int32_t X = R.Left; X < R.Right; ++X)
      for (int32_t C = 0; C < 3; ++C) {
        int32_t Sum = 0;
        for (int32_t Ky = -1; Ky <= 1; ++Ky)
          for (int32_t Kx = -1; Kx <= 1; ++Kx) {
            const int32_t Sx = std::clamp(X + Kx, 0, W - 1), Sy = std::clamp(Y + Ky, 0, H - 1);
            Sum += F.Values[Ky + 1][Kx + 1] * Src.ScanLine(Sy)[Sx * 3 + C];
          }
        Out.ScanLine(Y)[X * 3 + C] = static_cast<uint8_t>(std::clamp(Sum / Div, 0, 255));
      }
  return Out;
}

TProgressRec NoProgress() {
  return TProgressRec{};
}

// One morphological pass written from its definition: the window scanned rows outer, columns
// inner, clamped to R; the first strictly better grey than the start value wins.
void RefMorphPass(TBitmap& B, int32_t N, bool Max, const TRect& R) {
  TBitmap Snap;
  Snap.Assign(B);
  auto Grey = [&](int32_t X, int32_t Y) {
    const TRGB P = reinterpret_cast<const TRGB*>(Snap.ScanLine(Y))[X];
    return (21 * P.r + 71 * P.g + 7 * P.b) / 100;
  };
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
    for (int32_t X = R.Left; X < R.Right; ++X) {
      int32_t Best = Max ? 0 : 255, Bx = -1, By = -1;
      for (int32_t Dy = -N; Dy <= N; ++Dy)
        for (int32_t Dx = -N; Dx <= N; ++Dx) {
          const int32_t Xx = std::clamp(X + Dx, R.Left, R.Right - 1);
          const int32_t Yy = std::clamp(Y + Dy, R.Top, R.Bottom - 1);
          const int32_t G = Grey(Xx, Yy);
          if (Max ? G > Best : G < Best) Best = G, Bx = Xx, By = Yy;
        }
      if (Bx >= 0) Px(B, X, Y) = reinterpret_cast<const TRGB*>(Snap.ScanLine(By))[Bx];
    }
}

}  // namespace

TEST(Filters, PresetsMatchTheDefinitionOnWholeImagesAndSelections) {
  const TBitmap Src = RandomBitmap24(23, 17, 7);
  for (const TRect& R : {TRect{0, 0, 23, 17}, TRect{5, 4, 12, 9}, TRect{0, 10, 8, 17}}) {
    for (int32_t P = 0; P < 9; ++P) {
      TBitmap B;
      B.Assign(Src);
      auto Pr = NoProgress();
      _ApplyFilter(B, QLFiltPres[P], R, Pr);
      EXPECT_TRUE(SamePixels(B, RefConvolve(Src, QLFiltPres[P], R))) << "preset " << P;
    }
  }
}

TEST(Filters, ArbitraryKernelsAndDivisors) {
  const TBitmap Src = RandomBitmap24(29, 11, 8);
  uint32_t Seed = 99;
  auto Next = [&](int32_t Range) {
    Seed = Seed * 1103515245u + 12345u;
    return static_cast<int32_t>(static_cast<int64_t>((Seed >> 8) % (2 * static_cast<uint32_t>(Range) + 1)) - Range);
  };
  for (int32_t Div : {1, -1, 3, -7, 255, 1000003, 0}) {
    for (int32_t Range : {4, 1000, 2000000000}) {
      TGraphFilter F;
      for (auto& Row : F.Values)
        for (int32_t& V : Row) V = Next(Range);
      F.Divisor = Div;
      TBitmap B;
      B.Assign(Src);
      auto Pr = NoProgress();
      _ApplyFilter(B, F, TRect{0, 0, 29, 11}, Pr);
      // The reference in 64 bits.
      TBitmap Want;
      Want.Assign(Src);
      for (int32_t Y = 0; Y < 11; ++Y)
        for (int32_t X = 0; X < 29; ++X)
          for (int32_t C = 0; C < 3; ++C) {
            int64_t Sum = 0;
            for (int32_t Ky = -1; Ky <= 1; ++Ky)
              for (int32_t Kx = -1; Kx <= 1; ++Kx)
                Sum += int64_t{F.Values[Ky + 1][Kx + 1]} *
                       Src.ScanLine(std::clamp(Y + Ky, 0, 10))[std::clamp(X + Kx, 0, 28) * 3 + C];
            Want.ScanLine(Y)[X * 3 + C] =
                static_cast<uint8_t>(std::clamp<int64_t>(Sum / (Div ? Div : 1), 0, 255));
          }
      EXPECT_TRUE(SamePixels(B, Want)) << Div << " " << Range;
    }
  }
}

TEST(Filters, HandComputedPresets) {
  auto Pr = NoProgress();
  TBitmap B = RandomBitmap24(9, 9, 3), Copy;
  Copy.Assign(B);
  _ApplyFilter(B, QLFiltPres[fpNone], TRect{0, 0, 9, 9}, Pr);
  EXPECT_TRUE(SamePixels(B, Copy));

  TBitmap U = Uniform(6, 5, TRGB{40, 90, 200});
  _ApplyFilter(U, QLFiltPres[fpEdge], TRect{0, 0, 6, 5}, Pr);
  for (int32_t Y = 0; Y < 5; ++Y)
    for (int32_t X = 0; X < 6; ++X) EXPECT_EQ(Px(U, X, Y), (TRGB{0, 0, 0}));

  // A single 90 on black: blur gives 10 around it; LowPass2 gives 90 x 4 / 16 = 22 at the
  // centre, 90 x 2 / 16 = 11 at the sides, 90 / 16 = 5 at the corners.
  TBitmap D = Uniform(5, 5, TRGB{0, 0, 0});
  Px(D, 2, 2) = TRGB{90, 90, 90};
  TBitmap L;
  L.Assign(D);
  _ApplyFilter(D, QLFiltPres[fpBlur], TRect{0, 0, 5, 5}, Pr);
  EXPECT_EQ(Px(D, 1, 1).r, 10);
  EXPECT_EQ(Px(D, 2, 2).r, 10);
  EXPECT_EQ(Px(D, 0, 0).r, 0);
  _ApplyFilter(L, QLFiltPres[LowPass2], TRect{0, 0, 5, 5}, Pr);
  EXPECT_EQ(Px(L, 2, 2).g, 22);
  EXPECT_EQ(Px(L, 2, 1).g, 11);
  EXPECT_EQ(Px(L, 1, 1).g, 5);
  // Negative sums truncate toward zero and clamp at 0; large ones clamp at 255.
  TGraphFilter Neg{{{0, 0, 0}, {0, -3, 0}, {0, 0, 0}}, -2};
  TBitmap N = Uniform(2, 2, TRGB{1, 100, 255});
  _ApplyFilter(N, Neg, TRect{0, 0, 2, 2}, Pr);
  EXPECT_EQ(Px(N, 0, 0), (TRGB{1, 150, 255}));
}

TEST(Filters, FilterFileRoundTripAndBadFiles) {
  TempDir Dir;
  TGraphFilter F{{{1, -2, 3}, {-4, 5, -6}, {7, -8, 9}}, -100000};
  SaveFilterToFile(Dir.File("f.flt"), F);
  const auto Bytes = ReadFileBytes(Dir.File("f.flt"));
  ASSERT_EQ(Bytes.size(), 43u);
  EXPECT_EQ(Bytes[0], 1);
  EXPECT_EQ(Bytes[3], 1);
  EXPECT_EQ(Bytes[7], 0xFE);  // -2, little-endian
  TGraphFilter G;
  LoadFilterFromFile(Dir.File("f.flt"), G);
  EXPECT_EQ(std::memcmp(&F, &G, sizeof F), 0);

  auto Bad = Bytes;
  Bad[2] = 4;
  WriteFileBytes(Dir.File("bad.flt"), Bad);
  TGraphFilter H = QLFiltPres[fpBlur];
  EXPECT_THROW(LoadFilterFromFile(Dir.File("bad.flt"), H), EFilterInvalid);
  EXPECT_EQ(std::memcmp(&H, &QLFiltPres[fpBlur], sizeof H), 0);
  WriteFileBytes(Dir.File("short.flt"), std::vector<uint8_t>(Bytes.begin(), Bytes.begin() + 30));
  EXPECT_THROW(LoadFilterFromFile(Dir.File("short.flt"), H), EFilterInvalid);
  EXPECT_EQ(std::memcmp(&H, &QLFiltPres[fpBlur], sizeof H), 0);
  EXPECT_THROW(LoadFilterFromFile(Dir.File("missing.flt"), H), EFOpenError);
}

TEST(Filters, MorphologyMatchesTheDefinition) {
  // Few grey levels, so equal extremes compete and the scan order decides.
  TBitmap Src(31, 23, pf24bit);
  const TBitmap Noise = RandomBitmap24(31, 23, 17);
  for (int32_t Y = 0; Y < 23; ++Y)
    for (int32_t X = 0; X < 31; ++X) {
      const uint8_t* P = Noise.ScanLine(Y) + X * 3;
      Px(Src, X, Y) = TRGB{uint8_t(P[0] & 0xC3), uint8_t(P[1] & 0xC0), uint8_t(P[2] & 0xC1)};
    }
  for (const TRect& R : {TRect{0, 0, 31, 23}, TRect{4, 3, 20, 11}}) {
    for (int32_t Radius : {1, 2, 5, 40}) {
      for (int32_t Kind = 0; Kind < 4; ++Kind) {
        TBitmap Got, Want;
        Got.Assign(Src);
        Want.Assign(Src);
        _MorphFilter(Got, Radius, Kind, R, nullptr, nullptr);
        const bool First = Kind == 0 || Kind == 3;
        RefMorphPass(Want, Radius, First, R);
        if (Kind >= 2) RefMorphPass(Want, Radius, !First, R);
        EXPECT_TRUE(SamePixels(Got, Want)) << "kind " << Kind << " radius " << Radius;
      }
    }
  }
}

TEST(Filters, MorphologyIdentitiesAndSpecks) {
  TBitmap Src = RandomBitmap24(12, 10, 11);
  for (int32_t Kind : {0, 1, 2, 3}) {
    for (int32_t Radius : {0, -1}) {
      TBitmap B;
      B.Assign(Src);
      _MorphFilter(B, Radius, Kind, TRect{0, 0, 12, 10}, nullptr, nullptr);
      EXPECT_TRUE(SamePixels(B, Src));
    }
    TBitmap U = Uniform(7, 7, TRGB{10, 20, 30});
    TBitmap Copy;
    Copy.Assign(U);
    _MorphFilter(U, 2, Kind, TRect{0, 0, 7, 7}, nullptr, nullptr);
    EXPECT_TRUE(SamePixels(U, Copy));
  }
  // A bright speck smaller than the window goes with an opening and grows with a maximum; a
  // dark hole goes with a closing.
  TBitmap S = Uniform(9, 9, TRGB{50, 50, 50});
  Px(S, 4, 4) = TRGB{0, 0, 255};
  TBitmap Max, Open;
  Max.Assign(S);
  Open.Assign(S);
  _MorphFilter(Open, 1, 2, TRect{0, 0, 9, 9}, nullptr, nullptr);
  EXPECT_TRUE(SamePixels(Open, Uniform(9, 9, TRGB{50, 50, 50})));
  _MorphFilter(Max, 1, 0, TRect{0, 0, 9, 9}, nullptr, nullptr);
  for (int32_t Y = 0; Y < 9; ++Y)
    for (int32_t X = 0; X < 9; ++X)
      EXPECT_EQ(Px(Max, X, Y), (std::abs(X - 4) <= 1 && std::abs(Y - 4) <= 1 ? TRGB{0, 0, 255}
                                                                             : TRGB{50, 50, 50}));
  TBitmap Hole = Uniform(9, 9, TRGB{200, 200, 200});
  Px(Hole, 3, 3) = TRGB{0, 0, 0};
  _MorphFilter(Hole, 1, 3, TRect{0, 0, 9, 9}, nullptr, nullptr);
  EXPECT_TRUE(SamePixels(Hole, Uniform(9, 9, TRGB{200, 200, 200})));
  // The window is clamped to the rectangle: a speck just outside it is not seen.
  TBitmap Edge = Uniform(9, 9, TRGB{50, 50, 50});
  Px(Edge, 2, 2) = TRGB{255, 255, 255};
  _MorphFilter(Edge, 1, 0, TRect{3, 3, 9, 9}, nullptr, nullptr);
  EXPECT_EQ(Px(Edge, 3, 3), (TRGB{50, 50, 50}));
  // Progress ends at 100 for a two-pass kind.
  int32_t Last = -1;
  _MorphFilter(
      Edge, 1, 2, TRect{0, 0, 9, 9}, [&](TObject*, int32_t P) { Last = P; }, nullptr);
  EXPECT_EQ(Last, 105);  // trunc((9 + 9) x 100 / 8.5 / 2): the step overshoots on the last row
}

TEST(Filters, BumpMappingLightSpot) {
  auto Pr = NoProgress();
  TBitmap Src = RandomBitmap24(8, 8, 5), B;
  B.Assign(Src);
  _BumpMapping(B, TRect{0, 0, 8, 8}, 4, 4, 0, 8, 50, TRGB{255, 255, 255}, Pr);
  EXPECT_TRUE(SamePixels(B, Src));
  // On a uniform image only the light spot counts. At the light's centre the map holds 0 (v = 1
  // wraps to 0): 101 x 50% = 50.5 rounds to even 50. Half a light width to the left the map
  // holds 128, of which 50% of white is 64: 50.5 + 64 = 114.5 rounds to 114.
  TBitmap U = Uniform(40, 3, TRGB{101, 101, 101});
  _BumpMapping(U, TRect{0, 0, 40, 3}, 20, 1, 20, 20, 50, TRGB{255, 255, 255}, Pr);
  EXPECT_EQ(Px(U, 20, 1).r, 50);
  EXPECT_EQ(Px(U, 10, 1).r, 114);
  // Percentage 100 keeps the image.
  TBitmap K = Uniform(5, 5, TRGB{7, 77, 177});
  _BumpMapping(K, TRect{0, 0, 5, 5}, 2, 2, 3, 3, 100, TRGB{255, 0, 0}, Pr);
  EXPECT_TRUE(SamePixels(K, Uniform(5, 5, TRGB{7, 77, 177})));
}

TEST(Filters, LensAndWaveDegenerateParameters) {
  auto Pr = NoProgress();
  const TBitmap Src = RandomBitmap24(40, 30, 9);
  TBitmap A, B;
  A.Assign(Src);
  B.Assign(Src);
  _lens(A, 20, 15, 20, 16, 0.5, Pr);
  _lens(B, 20, 15, 20, 16, 1.0, Pr);
  EXPECT_TRUE(SamePixels(A, B));
  // Outside the lens box nothing moves; a lens hanging over the edge stays inside the bitmap.
  EXPECT_EQ(Px(A, 0, 0), reinterpret_cast<const TRGB*>(Src.ScanLine(0))[0]);
  EXPECT_EQ(Px(A, 39, 29), reinterpret_cast<const TRGB*>(Src.ScanLine(29))[39]);
  TBitmap C;
  C.Assign(Src);
  _lens(C, 39, 29, 60, 60, 3.0, Pr);
  _lens(C, 0, 0, 60, 60, 3.0, Pr);
  for (int32_t Amp : {0, 5}) {
    TBitmap W;
    W.Assign(Src);
    _wave(W, Amp, Amp ? 0 : 10, 30, false, Pr);
    EXPECT_TRUE(SamePixels(W, Src));
  }
  TBitmap W;
  W.Assign(Src);
  int32_t Last = -1;
  TProgressRec P;
  P.Handler = [&](TObject*, int32_t V) { Last = V; };
  _wave(W, 3, 8, 90, true, P);
  EXPECT_EQ(Last, 96);  // trunc(29 x 100 / 30)
  EXPECT_FALSE(SamePixels(W, Src));
}
