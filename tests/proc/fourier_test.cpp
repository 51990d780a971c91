#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>

#include "quillo/core/pixels.h"
#include "quillo/proc/fourier.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TBitmap Uniform(int32_t W, int32_t H, uint8_t V) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y) std::memset(B.ScanLine(Y), V, static_cast<size_t>(W) * 3);
  return B;
}

}  // namespace

TEST(Fourier, SizesAndOffsets) {
  TQLFtImage F;
  F.BuildFT(Uniform(300, 200, 9), qlitGrayscale);
  EXPECT_EQ(F.Size(), 512);
  EXPECT_EQ(F.OffsetX(), 106);
  EXPECT_EQ(F.OffsetY(), 156);
  EXPECT_NE(F.Plane(3), nullptr);
  EXPECT_EQ(F.Plane(0), nullptr);
  TQLFtImage U;
  U.BuildFT(Uniform(4, 4, 1), qlitUnknown);
  EXPECT_EQ(U.Size(), 0);
}

// The forward transform is the unitary DFT (sign -1) of the normalised, origin-shifted image.
TEST(Fourier, ForwardIsTheCentredUnitaryDft) {
  const TBitmap Src = RandomBitmap24(8, 5, 21);
  TQLFtImage F;
  F.BuildFT(Src, qlitRGB);
  const int32_t N = 8;
  ASSERT_EQ(F.Size(), N);
  // Red plane from the definition.
  std::vector<double> In(N * N, 0.0);
  int32_t Largest = 1;
  for (int32_t Y = 0; Y < 5; ++Y)
    for (int32_t X = 0; X < 8; ++X)
      Largest = std::max<int32_t>(Largest, Src.ScanLine(Y)[X * 3 + 2]);
  for (int32_t Y = 0; Y < 5; ++Y)
    for (int32_t X = 0; X < 8; ++X) {
      const int32_t Py = Y + F.OffsetY();
      In[Py * N + X] = Src.ScanLine(Y)[X * 3 + 2] / double(Largest) * (((X + Py) & 1) ? -1 : 1);
    }
  for (int32_t V = 0; V < N; ++V)
    for (int32_t U = 0; U < N; ++U) {
      std::complex<double> Sum = 0;
      for (int32_t Y = 0; Y < N; ++Y)
        for (int32_t X = 0; X < N; ++X)
          Sum += In[Y * N + X] *
                 std::polar(1.0, -2 * std::numbers::pi * (double(U) * X + double(V) * Y) / N);
      Sum /= N;
      const TQLComplexImage C = F.GetComplexImage(U, V);
      ASSERT_NE(C.real_Red, nullptr);
      EXPECT_NEAR(*C.real_Red, Sum.real(), 1e-5) << U << "," << V;
      EXPECT_NEAR(*C.imag_Red, Sum.imag(), 1e-5) << U << "," << V;
      EXPECT_EQ(C.real_Gray, nullptr);
    }
}

TEST(Fourier, InverseRecoversTheImage) {
  TBitmap Src = RandomBitmap24(37, 21, 4);
  // Full range in every channel so the rescaling to 0..255 is the identity.
  std::memset(Src.ScanLine(0), 0, 3);
  std::memset(Src.ScanLine(0) + 3, 255, 3);
  auto Grey = [&](int32_t X, int32_t Y) {
    const uint8_t* S = Src.ScanLine(Y) + X * 3;
    return (21 * S[2] + 71 * S[1] + 7 * S[0]) / 100;
  };
  int32_t GreyMax = 0;
  for (int32_t Y = 0; Y < 21; ++Y)
    for (int32_t X = 0; X < 37; ++X) GreyMax = std::max(GreyMax, Grey(X, Y));
  for (TQLFtImageType T : {qlitRGB, qlitGrayscale}) {
    TQLFtImage F;
    F.BuildFT(Src, T);
    TBitmap Back;
    F.BuildBitmap(Back);
    ASSERT_EQ(Back.GetWidth(), 37);
    ASSERT_EQ(Back.GetHeight(), 21);
    for (int32_t Y = 0; Y < 21; ++Y)
      for (int32_t X = 0; X < 37; ++X) {
        const uint8_t* S = Src.ScanLine(Y) + X * 3;
        const uint8_t* B = Back.ScanLine(Y) + X * 3;
        if (T == qlitRGB) {
          for (int32_t C = 0; C < 3; ++C) ASSERT_NEAR(B[C], S[C], 1) << X << "," << Y;
        } else {
          // The grey range 0..GreyMax is stretched to 0..255.
          ASSERT_NEAR(B[0], Grey(X, Y) * 255.0 / GreyMax, 1.01);
        }
      }
    // Low pass with radius N keeps everything.
    TQLFtImage L;
    L.Assign(F);
    L.LoPass(L.Size());
    TBitmap Back2;
    L.BuildBitmap(Back2);
    EXPECT_TRUE(SamePixels(Back, Back2));
  }
}

TEST(Fourier, UniformImageAndFrequencyEdits) {
  TQLFtImage F;
  F.BuildFT(Uniform(16, 16, 77), qlitGrayscale);
  TBitmap Spectrum;
  F.GetFTImage(Spectrum);
  ASSERT_EQ(Spectrum.GetWidth(), 16);
  EXPECT_EQ(Spectrum.ScanLine(8)[8 * 3], 255);
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 16; ++X) {
      if (X == 8 && Y == 8) continue;
      EXPECT_LT(Spectrum.ScanLine(Y)[X * 3], 255);
    }
  TBitmap Back;
  F.BuildBitmap(Back);
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 16 * 3; ++X) EXPECT_EQ(Back.ScanLine(Y)[X], 0);

  // High pass 0 clears only the centre.
  TQLFtImage H;
  H.BuildFT(RandomBitmap24(16, 16, 2), qlitRGB);
  const float Kept = *H.GetComplexImage(9, 8).real_Green;
  H.HiPass(0);
  EXPECT_EQ(*H.GetComplexImage(8, 8).real_Green, 0.0f);
  EXPECT_EQ(*H.GetComplexImage(8, 8).imag_Blue, 0.0f);
  EXPECT_EQ(*H.GetComplexImage(9, 8).real_Green, Kept);
  H.LoPass(2);
  EXPECT_EQ(*H.GetComplexImage(11, 8).real_Red, 0.0f);
  EXPECT_EQ(*H.GetComplexImage(10, 8).real_Green,
            Kept == 0 ? 0.0f : *H.GetComplexImage(10, 8).real_Green);
  TQLFtImage Z;
  Z.Assign(H);
  Z.ClearZone(5, 5, 4, 9);  // x2 < x1: nothing
  Z.ClearZone(0, 0, 100, 3);
  EXPECT_EQ(*Z.GetComplexImage(15, 3).imag_Red, 0.0f);
  EXPECT_EQ(*Z.GetComplexImage(9, 8).real_Green, Kept);
  EXPECT_EQ(Z.GetComplexImage(16, 0).real_Red, nullptr);
  // The copy is deep.
  *Z.GetComplexImage(9, 8).real_Green = 5;
  EXPECT_EQ(*H.GetComplexImage(9, 8).real_Green, Kept);
}

TEST(Fourier, OnePixelImage) {
  TBitmap One = Uniform(1, 1, 200);
  TQLFtImage F;
  F.BuildFT(One, qlitRGB);
  EXPECT_EQ(F.Size(), 1);
  EXPECT_FLOAT_EQ(*F.GetComplexImage(0, 0).real_Blue, 1.0f);
  TBitmap S, B;
  F.GetFTImage(S);
  F.BuildBitmap(B);
  EXPECT_EQ(S.GetWidth(), 1);
  EXPECT_EQ(B.GetWidth(), 1);
  EXPECT_EQ(B.ScanLine(0)[0], 0);
}

TEST(Fourier, ProgressCountsPlanesAndColumns) {
  TQLFtImage F;
  std::vector<int32_t> Seen;
  F.OnProgress = [&](TObject*, int32_t P) { Seen.push_back(P); };
  F.BuildFT(RandomBitmap24(8, 8, 1), qlitRGB);
  ASSERT_EQ(Seen.size(), 24u);
  EXPECT_EQ(Seen.front(), 0);
  EXPECT_EQ(Seen[8], 33);
  EXPECT_EQ(Seen.back(), 95);  // trunc(100 / 24 x 23)
}
