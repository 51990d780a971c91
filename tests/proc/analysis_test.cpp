#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "quillo/core/pixels.h"
#include "quillo/proc/analysis.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {
TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}
}  // namespace

TEST(Analysis, HashSetAndColourCounts) {
  THash1 H(2);  // four buckets: chains are exercised
  std::set<uint32_t> Ref;
  for (uint32_t K : {5u, 9u, 13u, 5u, 1u, 2u, 9u, 6u, 100u, 13u}) {
    EXPECT_EQ(H.Insert(K), Ref.insert(K).second) << K;
    EXPECT_TRUE(H.KeyPresent(K));
  }
  EXPECT_EQ(H.Count(), static_cast<int32_t>(Ref.size()));
  EXPECT_FALSE(H.KeyPresent(17));

  TBitmap White(9, 4, pf24bit);
  std::memset(White.Bits(), 255, static_cast<size_t>(White.BitsSize()));
  EXPECT_EQ(_GetImageNumColors(White, Rect(0, 0, 9, 4)), 1);
  TBitmap Noise = RandomBitmap24(50, 40, 2);
  std::set<uint32_t> Distinct;
  for (int32_t Y = 10; Y < 30; ++Y)
    for (int32_t X = 5; X < 45; ++X) {
      const TRGB C = Px(Noise, X, Y);
      Distinct.insert((C.r << 16) | (C.g << 8) | C.b);
    }
  EXPECT_EQ(_GetImageNumColors(Noise, Rect(5, 10, 45, 30)), static_cast<int32_t>(Distinct.size()));
  EXPECT_EQ(_GetImageNumColors(TBitmap(4, 4, pf1bit), Rect(0, 0, 4, 4)), 0);
}

TEST(Analysis, HistogramCountsEveryChannel) {
  TBitmap B(3, 2, pf24bit);
  reinterpret_cast<TRGB*>(B.ScanLine(0))[0] = CreateRGB(255, 255, 255);
  reinterpret_cast<TRGB*>(B.ScanLine(1))[2] = CreateRGB(10, 20, 30);
  THistogram H{};
  _GetHistogram(B, H, Rect(0, 0, 3, 2));
  EXPECT_EQ(H[255].R, 1u);
  EXPECT_EQ(H[252].Grey, 1u);  // white's grey level
  EXPECT_EQ(H[0].R, 4u);
  EXPECT_EQ(H[20].G, 1u);
  EXPECT_EQ(H[(21 * 10 + 71 * 20 + 7 * 30) / 100].Grey, 1u);
  THistogram Part{};
  _GetHistogram(B, Part, Rect(2, 1, 3, 2));
  EXPECT_EQ(Part[30].B, 1u);
  EXPECT_EQ(Part[0].B, 0u);
}

TEST(Analysis, ReductionsAndNearestColour) {
  TBitmap Src = RandomBitmap24(40, 30, 3);
  TRGB Pal[3];
  _ConvertTo(Src, 3, Pal, nullptr, nullptr);
  EXPECT_EQ(Src.GetPixelFormat(), pf24bit);
  EXPECT_LE(_GetImageNumColors(Src, Rect(0, 0, 40, 30)), 3);
  for (int32_t Y = 0; Y < 30; ++Y) {
    const TRGB C = Px(Src, 7, Y);
    EXPECT_TRUE(C == Pal[0] || C == Pal[1] || C == Pal[2]);
  }
  // Threshold: grey below the threshold is black.
  TBitmap G(4, 1, pf24bit);
  const uint8_t Levels[4] = {0, 99, 100, 255};
  for (int32_t X = 0; X < 4; ++X)
    reinterpret_cast<TRGB*>(G.ScanLine(0))[X] = CreateRGB(Levels[X], Levels[X], Levels[X]);
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  // Grey of v is 99 v div 100: 99 -> 98, 100 -> 99.
  _ConvertToBWThreshold(G, 99, P);
  ASSERT_EQ(G.GetPixelFormat(), pf1bit);
  EXPECT_EQ(G.ScanLine(0)[0] & 0xF0, 0x30);
  // -1: the reference grey of the image itself.
  TBitmap Half(2, 2, pf24bit);
  std::memset(Half.ScanLine(0), 200, 6);
  std::memset(Half.ScanLine(1), 10, 6);
  int32_t R, Gr, B;
  _GetMediaContrastRGB(Half, R, Gr, B);
  EXPECT_EQ(R, 420);  // (200 + 200 + 10 + 10) / (1 x 1)
  TBitmap Line(1, 5, pf24bit);
  _GetMediaContrastRGB(Line, R, Gr, B);
  EXPECT_EQ(R, 128);  // (width - 1) x (height - 1) is 0
  const TRGB Pal2[3] = {CreateRGB(0, 0, 0), CreateRGB(100, 100, 100), CreateRGB(100, 100, 100)};
  EXPECT_EQ(_GetSimilColor(Pal2, 3, CreateRGB(90, 95, 99)), 1);  // the first of two equals
  TRGB Swap[1] = {CreateRGB(1, 2, 3)};
  _RGB2BGR(Swap, 1);
  EXPECT_EQ(Swap[0], CreateRGB(3, 2, 1));
  EXPECT_TRUE(_BitmapCompareX(Src, Src));
}

TEST(Analysis, YuvLayouts) {
  TRGB C;
  YUV2RGB(16, 128, 128, C);
  EXPECT_EQ(C, CreateRGB(0, 0, 0));
  YUV2RGB(235, 128, 128, C);
  EXPECT_EQ(C, CreateRGB(255, 255, 255));
  YUV2RGB(81, 90, 240, C);  // a saturated red
  EXPECT_GT(C.r, 200);
  EXPECT_LT(C.g, 30);
  // YUY2, 4 x 2, bottom-up: the first data row lands at the bottom.
  const uint8_t Yuy2[16] = {16,  128, 235, 128, 16,  128, 16,  128,
                            235, 128, 235, 128, 235, 128, 235, 128};
  TBitmap B(4, 2, pf24bit);
  _CopyYUY2ToBitmap(Yuy2, B, false);
  EXPECT_EQ(Px(B, 0, 1), CreateRGB(0, 0, 0));
  EXPECT_EQ(Px(B, 1, 1), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(B, 3, 0), CreateRGB(255, 255, 255));
  _CopyYUY2ToBitmap(Yuy2, B, true);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(0, 0, 0));
  // UYVY with the same pixels in its own order.
  const uint8_t Uyvy[8] = {128, 16, 128, 235, 128, 235, 128, 16};
  TBitmap U(4, 1, pf24bit);
  _CopyUYVYToBitmap(Uyvy, U, true);
  EXPECT_EQ(Px(U, 1, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(U, 3, 0), CreateRGB(0, 0, 0));
  // I420 2 x 2 with one chroma sample, and YV12 with the planes swapped.
  const uint8_t I420[6] = {16, 235, 235, 16, 128, 128};
  TBitmap P(2, 2, pf24bit);
  _CopyI420ToBitmap(I420, P, true);
  EXPECT_EQ(Px(P, 1, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(P, 1, 1), CreateRGB(0, 0, 0));
  const uint8_t Blueish[6] = {100, 100, 100, 100, 240, 128};  // U high: blue
  TBitmap Q(2, 2, pf24bit), V(2, 2, pf24bit);
  _CopyI420ToBitmap(Blueish, Q, true);
  const uint8_t Swapped[6] = {100, 100, 100, 100, 128, 240};
  _CopyYV12ToBitmap(Swapped, V, true);
  EXPECT_EQ(Px(Q, 0, 0), Px(V, 1, 1));
  EXPECT_GT(Px(Q, 0, 0).b, Px(Q, 0, 0).r);
}

TEST(Analysis, HiddenDataRoundTrip) {
  TBitmap B = RandomBitmap24(10, 10, 4);
  EXPECT_EQ(_GetHiddenDataSpace(B), 29);
  TBitmap Orig;
  Orig.Assign(B);
  const std::string Text = "a quiet message";
  EXPECT_EQ(_WriteHiddenData(B, Text.data(), static_cast<int32_t>(Text.size())),
            static_cast<int32_t>(Text.size()));
  EXPECT_EQ(_ReadHiddenText(B), Text);
  // Each channel byte moved by at most one.
  for (int64_t I = 0; I < B.BitsSize(); ++I) EXPECT_LE(std::abs(B.Bits()[I] - Orig.Bits()[I]), 1);
  // 255 steps down to store a zero.
  TBitmap White(4, 4, pf24bit);
  std::memset(White.Bits(), 255, static_cast<size_t>(White.BitsSize()));
  _WriteHiddenData(White, "\0", 1);
  EXPECT_EQ(White.ScanLine(0)[0], 254);
  // Longer than the room: written as far as it goes, the full length recorded.
  std::string Long(500, 'x');
  EXPECT_EQ(_WriteHiddenData(B, Long.data(), 500), 500);
  EXPECT_EQ(_ReadHiddenData(B, nullptr, 0), 500);
  // A bogus length never sizes the text beyond the image's room.
  EXPECT_LE(_ReadHiddenText(B).size(), 35u);
  TBitmap Noise = RandomBitmap24(30, 30, 9);
  EXPECT_LE(_ReadHiddenText(Noise).size(), static_cast<size_t>(30 * (30 * 3 - 2) / 8));
  EXPECT_EQ(_GetHiddenDataSpace(TBitmap(4, 4, pf1bit)), 0);
}
