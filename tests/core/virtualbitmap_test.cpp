// The virtual bitmap: tile geometry, every pixel of rectangles straddling tile borders in and
// out at each depth, pixels and loans in one row order, ApplyFunction visiting each pixel once,
// RenderTo against a plain stretch, and a store that cannot be had.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "quillo/core/virtualbitmap.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TBitmap Random(int32_t W, int32_t H, int32_t Bits, uint32_t Seed) {
  TBitmap B;
  B.SetPixelFormat(Bits == 1 ? pf1bit : Bits == 8 ? pf8bit : pf24bit);
  B.SetSize(W, H);
  std::mt19937 R(Seed);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t K = 0; K < B.RowLen(); ++K) B.ScanLine(Y)[K] = static_cast<uint8_t>(R());
  return B;
}

// The pixel (X, Y) of a bitmap as bytes (1 bit: 0 or 1).
std::vector<uint8_t> Px(const TBitmap& B, int32_t X, int32_t Y, int32_t Bits) {
  const uint8_t* R = B.ScanLine(Y);
  if (Bits == 1) return {static_cast<uint8_t>((R[X >> 3] >> (7 - (X & 7))) & 1)};
  const int32_t N = Bits / 8;
  return std::vector<uint8_t>(R + N * X, R + N * X + N);
}

}  // namespace

TEST(VirtualBitmap, SixtyFourBitHelpers) {
  uint32_t Lo, Hi;
  QLMul64(0xFFFFFFFFu, 2, Lo, Hi);
  EXPECT_EQ(Lo, 0xFFFFFFFEu);
  EXPECT_EQ(Hi, 1u);
  EXPECT_FALSE(QLGreater64(5, 7, 5, 7));
  EXPECT_TRUE(QLGreater64(0, 8, 0xFFFFFFFFu, 7));
  EXPECT_TRUE(QLAdd64(0xFFFFFFFFu, 0xFFFFFFFFu, 1, 0, Lo, Hi));
  EXPECT_EQ(Lo, 0u);
  EXPECT_EQ(Hi, 0u);
  EXPECT_FALSE(QLAdd64(0xFFFFFFFFu, 0, 1, 0, Lo, Hi));
  EXPECT_EQ(Hi, 1u);
}

TEST(VirtualBitmap, TileGeometry) {
  TQLVirtualBitmap V(qllPageFile);
  ASSERT_TRUE(V.AllocateBits(1025, 1, 1));
  EXPECT_EQ(V.GetTilesX(), 2);
  EXPECT_EQ(V.GetTilesY(), 1);
  EXPECT_EQ(V.GetTileRowLength(), 128);
  EXPECT_EQ(V.GetStoreSize(), 131072u);
  ASSERT_TRUE(V.AllocateBits(513, 513, 24));
  EXPECT_EQ(V.GetTilesX() * V.GetTilesY(), 4);
  EXPECT_EQ(V.GetStoreSize(), 4u * 1536u * 512u);
  // The setters reallocate once all three are set.
  TQLVirtualBitmap S;
  S.SetWidth(300);
  S.SetHeight(200);
  EXPECT_FALSE(S.Allocated());
  S.SetBitCount(8);
  EXPECT_TRUE(S.Allocated());
  EXPECT_EQ(S.GetTileWidth(), 256);
}

TEST(VirtualBitmap, EveryPixelOfStraddlingRectanglesAtEachDepth) {
  for (TQLVirtualLocation Where : {qllTempFile, qllPageFile})
    for (int32_t Bits : {1, 8, 24}) {
      TQLVirtualBitmap V(Where);
      const int32_t W = Bits == 1 ? 2100 : 1100, H = 1100;
      ASSERT_TRUE(V.AllocateBits(W, H, Bits)) << V.GetError();
      TBitmap Whole = Random(W, H, Bits, 7 + Bits);
      V.CopyFromBitmap(Whole, 0, 0, W, H);
      // Rectangles across tile borders, one pixel wide or high, and reaching the last
      // column and row.
      const TRect Cases[] = {{0, 0, W, H},           {511, 255, 1025, 769}, {3, 511, 4, 1000},
                             {1000, 512, 1100, 513}, {W - 1, H - 1, W, H},  {250, 0, 780, 1}};
      for (const TRect& C : Cases) {
        TBitmap* L = V.GetBitmap(C.Left, C.Top, C.Right - C.Left, C.Bottom - C.Top);
        ASSERT_NE(L, nullptr);
        for (int32_t Y = C.Top; Y < C.Bottom; ++Y)
          for (int32_t X = C.Left; X < C.Right; ++X)
            ASSERT_EQ(Px(*L, X - C.Left, Y - C.Top, Bits), Px(Whole, X, Y, Bits))
                << Bits << " bits at " << X << "," << Y;
        V.ReleaseBitmap(L);
      }
      // A rectangle copied in at an offset lands exactly there.
      TBitmap Patch = Random(300, 200, Bits, 99);
      V.CopyFromBitmap(Patch, 400, 450, 300, 200);
      uint8_t Got[3];
      for (int32_t Y : {450, 511, 512, 649})
        for (int32_t X : {400, 511, 512, 699}) {
          ASSERT_TRUE(V.GetPixel(X, Y, Got));
          const std::vector<uint8_t> Want = Px(Patch, X - 400, Y - 450, Bits);
          EXPECT_EQ(std::vector<uint8_t>(Got, Got + Want.size()), Want) << X << "," << Y;
        }
    }
}

TEST(VirtualBitmap, LoansPixelsAndFunctionsShareOneRowOrder) {
  TQLVirtualBitmap V;
  ASSERT_TRUE(V.AllocateBits(700, 600, 24));
  TBitmap* L = V.GetBitmap(500, 500, 100, 50);
  ASSERT_NE(L, nullptr);
  std::memset(L->ScanLine(10) + 3 * 20, 0x7F, 3);  // pixel (520, 510)
  V.ReleaseBitmap(L);
  uint8_t P[3] = {};
  ASSERT_TRUE(V.GetPixel(520, 510, P));
  EXPECT_EQ(P[1], 0x7F);
  const uint8_t Red[3] = {0, 0, 255};
  V.SetPixel(511, 511, Red);
  // Every pixel of a straddling rectangle is visited exactly once, and changes stay.
  std::vector<int32_t> Seen(700 * 600, 0);
  V.ApplyFunction(490, 300, 40, 260, [&](int32_t X, int32_t Y, uint8_t* Pixel) {
    ++Seen[static_cast<size_t>(Y * 700 + X)];
    Pixel[0] = 9;
  });
  int32_t Once = 0, Other = 0;
  for (int32_t Y = 0; Y < 600; ++Y)
    for (int32_t X = 0; X < 700; ++X) {
      const bool In = X >= 490 && X < 530 && Y >= 300 && Y < 560;
      (In && Seen[static_cast<size_t>(Y * 700 + X)] == 1)
          ? ++Once
          : Other += Seen[static_cast<size_t>(Y * 700 + X)];
    }
  EXPECT_EQ(Once, 40 * 260);
  EXPECT_EQ(Other, 0);
  ASSERT_TRUE(V.GetPixel(511, 511, P));
  EXPECT_EQ(P[0], 9);
  EXPECT_EQ(P[2], 255);
  // Unknown loans and pixels outside are ignored.
  TBitmap Stranger;
  V.ReleaseBitmap(&Stranger);
  EXPECT_FALSE(V.GetPixel(700, 0, P));
  EXPECT_EQ(V.GetBitmap(800, 0, 10, 10), nullptr);
}

TEST(VirtualBitmap, RenderToMatchesAPlainStretchOfTheWholeImage) {
  TQLVirtualBitmap V;
  ASSERT_TRUE(V.AllocateBits(1024, 768, 24));
  TBitmap Whole = Random(1024, 768, 24, 5);
  V.CopyFromBitmap(Whole, 0, 0, 1024, 768);
  for (double Scale : {0.5, 1.0, 2.0}) {
    const int32_t DW = static_cast<int32_t>(600 * Scale), DH = static_cast<int32_t>(500 * Scale);
    TBitmap Out;
    Out.SetPixelFormat(pf24bit);
    Out.SetSize(DW + 10, DH + 10);
    TCanvas C(&Out);
    V.RenderTo(C, 0, 5, 5, DW, DH, 200, 100, 600, 500);
    for (int32_t Y = 0; Y < DH; ++Y)
      for (int32_t X = 0; X < DW; ++X) {
        const int32_t SX = 200 + static_cast<int32_t>((2 * X + 1) * 600 / (2 * DW));
        const int32_t SY = 100 + static_cast<int32_t>((2 * Y + 1) * 500 / (2 * DH));
        ASSERT_EQ(0, std::memcmp(Out.ScanLine(5 + Y) + 3 * (5 + X), Whole.ScanLine(SY) + 3 * SX, 3))
            << Scale << " at " << X << "," << Y;
      }
  }
  // A 1-bit image reduced is drawn in filtered grey: an all-white image stays white.
  TQLVirtualBitmap B;
  ASSERT_TRUE(B.AllocateBits(2048, 1024, 1));
  TBitmap White;
  White.SetPixelFormat(pf1bit);
  White.SetSize(2048, 1024);
  for (int32_t Y = 0; Y < 1024; ++Y)
    std::memset(White.ScanLine(Y), 0xFF, static_cast<size_t>(White.RowLen()));
  B.CopyFromBitmap(White, 0, 0, 2048, 1024);
  TBitmap Small;
  Small.SetPixelFormat(pf24bit);
  Small.SetSize(256, 128);
  TCanvas SC(&Small);
  B.RenderTo(SC, 0, 0, 0, 256, 128, 0, 0, 2048, 1024);
  for (int32_t Y = 0; Y < 128; ++Y)
    for (int32_t K = 0; K < 3 * 256; ++K) ASSERT_EQ(Small.ScanLine(Y)[K], 255) << Y << " " << K;
}

TEST(VirtualBitmap, AStoreThatCannotBeHadIsAClearErrorNotACrash) {
  TQLVirtualBitmap V(qllTempFile, "/nonexistent-folder-for-quillo");
  EXPECT_FALSE(V.AllocateBits(100, 100, 24));
  EXPECT_NE(V.GetError().find("nonexistent-folder-for-quillo"), std::string::npos) << V.GetError();
  TBitmap B = Random(10, 10, 24, 1);
  V.CopyFromBitmap(B, 0, 0, 10, 10);
  uint8_t P[3];
  EXPECT_FALSE(V.GetPixel(0, 0, P));
  EXPECT_EQ(V.GetBitmap(0, 0, 10, 10), nullptr);
  EXPECT_FALSE(V.AllocateBits(10, 10, 16));  // unsupported depth
}
