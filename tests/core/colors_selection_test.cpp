#include <gtest/gtest.h>

#include <cstring>

#include "quillo/core/colors.h"
#include "quillo/core/selection.h"
#include "tests/support/testutil.h"

using namespace quillo;

namespace {
TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}
}  // namespace

TEST(ColourHelpers, GreyLevelsAndColourValues) {
  EXPECT_EQ(_RGBToGray(CreateRGB(255, 255, 255)), 252u);
  EXPECT_EQ(_RGBToGray(CreateRGB(255, 0, 0)), 53u);
  EXPECT_EQ(_RGBToGray(CreateRGB(0, 255, 0)), 181u);
  EXPECT_EQ(_RGBToGray(CreateRGB(0, 0, 255)), 17u);
  EXPECT_EQ(TRGB2TColor(CreateRGB(1, 2, 3)), 0x030201);
  EXPECT_EQ(TColor2TRGB(0x030201), CreateRGB(1, 2, 3));
}

TEST(ColourHelpers, HSLConversionsTruncateAndClamp) {
  double H, S, L;
  RGB2HSL(CreateRGB(255, 0, 0), H, S, L);
  EXPECT_EQ(H, 0);
  EXPECT_EQ(S, 1);
  EXPECT_EQ(L, 0.5);
  RGB2HSL(CreateRGB(0, 0, 255), H, S, L);
  EXPECT_DOUBLE_EQ(H, 4.0 / 6.0);
  RGB2HSL(CreateRGB(255, 0, 128), H, S, L);  // red is largest, green below blue: wraps past 0
  EXPECT_GT(H, 0.9);
  RGB2HSL(CreateRGB(90, 90, 90), H, S, L);
  EXPECT_EQ(H, 0);
  EXPECT_EQ(S, 0);

  TRGB C;
  HSL2RGB(C, 0, 0, 0.5);  // 127.5 truncates
  EXPECT_EQ(C, CreateRGB(127, 127, 127));
  HSL2RGB(C, 1.0 / 3.0, 1, 0.5);
  EXPECT_EQ(C, CreateRGB(0, 255, 0));
  // Out-of-range inputs clamp: a hue of 1 (or beyond) is red again, not a wrap.
  HSL2RGB(C, 1.7, 3, 0.5);
  EXPECT_EQ(C, CreateRGB(255, 0, 0));
  HSL2RGB(C, -0.2, 0.5, -1);
  EXPECT_EQ(C, CreateRGB(0, 0, 0));
}

TEST(ColourHelpers, HSVConversionsAtTheirBoundaries) {
  int32_t H, S, V;
  RGB2HSV(CreateRGB(255, 0, 0), H, S, V);
  EXPECT_EQ(H, 0);
  EXPECT_EQ(S, 99);
  EXPECT_EQ(V, 99);
  // b' = round(128 / 255 x 99) = 50; hue (0 - 50) x 60 div 99 = -30, +360.
  RGB2HSV(CreateRGB(255, 0, 128), H, S, V);
  EXPECT_EQ(H, 330);
  RGB2HSV(CreateRGB(0, 0, 255), H, S, V);
  EXPECT_EQ(H, 240);
  RGB2HSV(CreateRGB(0, 0, 0), H, S, V);
  EXPECT_EQ(S, 0);
  EXPECT_EQ(V, 0);

  TRGB C;
  HSV2RGB(C, 360, 99, 99);  // as 359: sector 5, f 59, q = 99 - 578259 div 5940 = 2
  EXPECT_EQ(C, CreateRGB(255, 0, 5));
  TRGB Same;
  HSV2RGB(Same, 359, 99, 99);
  EXPECT_EQ(C, Same);
  HSV2RGB(C, 120, 0, 50);  // no saturation: grey round(50 / 99 x 255) = 129
  EXPECT_EQ(C, CreateRGB(129, 129, 129));
  HSV2RGB(C, -40, 200, 150);
  EXPECT_EQ(C, CreateRGB(255, 0, 0));
  for (int32_t V99 = 0; V99 < 100; ++V99) {
    EXPECT_EQ(QL99ToByte(V99), QLRound(V99 / 99.0 * 255));
    EXPECT_EQ(QLByteTo99(QL99ToByte(V99)), V99);
  }
}

TEST(Selection, RectangleRuleAndSubPolygons) {
  const TPoint R[4] = {{10, 20}, {30, 20}, {30, 40}, {10, 40}};
  EXPECT_TRUE(_IsRectangle(R, 4));
  const TPoint Start[4] = {{30, 20}, {30, 40}, {10, 40}, {10, 20}};  // starting with a vertical
  EXPECT_TRUE(_IsRectangle(Start, 4));
  EXPECT_FALSE(_IsRectangle(R, 3));
  const TPoint Diamond[4] = {{5, 0}, {10, 5}, {5, 10}, {0, 5}};
  EXPECT_FALSE(_IsRectangle(Diamond, 4));
  const TPoint Repeat[4] = {{0, 0}, {0, 0}, {5, 5}, {0, 5}};  // a zero-length edge
  EXPECT_FALSE(_IsRectangle(Repeat, 4));
  const TPoint Z[4] = {{0, 0}, {5, 0}, {0, 5}, {5, 5}};  // crossing: two diagonal edges
  EXPECT_FALSE(_IsRectangle(Z, 4));

  const TPoint B{QLPolyBreak, QLPolyBreak};
  const TPoint List[8] = {{0, 0}, {4, 0}, {4, 4}, B, {6, 6}, {9, 6}, {9, 9}, B};
  const auto Runs = QLSubPolygons(List, 8);
  ASSERT_EQ(Runs.size(), 2u);
  EXPECT_EQ(Runs[0].First, 0);
  EXPECT_EQ(Runs[0].Count, 3);
  EXPECT_EQ(Runs[1].First, 4);
  EXPECT_EQ(Runs[1].Count, 3);
}

TEST(Selection, MaskCopiesSelectedPixels) {
  TQLMask M;
  M.AllocateBits(10, 6, 1);
  EXPECT_GT(M.X1, M.X2);  // empty box
  M.DrawHorizontalLine(1, 3, 5, 2);
  M.SetPixel(4, 3, 1);
  M.SetPixel(40, 3, 1);  // outside: ignored
  EXPECT_EQ(M.X1, 4);    // DrawHorizontalLine does not extend the box; SetPixel does
  EXPECT_TRUE(M.IsPointInside(3, 2));
  EXPECT_FALSE(M.IsPointInside(6, 2));
  EXPECT_EQ(M.GetPixel(-1, 0), 0);
  M.SetPixel(3, 2, 1);
  M.SetPixel(5, 2, 1);
  ASSERT_EQ(M.X1, 3);
  ASSERT_EQ(M.X2, 5);
  ASSERT_EQ(M.Y1, 2);
  ASSERT_EQ(M.Y2, 3);

  TBitmap Src = test::RandomBitmap24(10, 6, 3);
  TBitmap Crop(3, 2, pf24bit);
  M.CopyBitmap(Crop, Src, true);
  EXPECT_EQ(Px(Crop, 0, 0), Px(Src, 3, 2));
  EXPECT_EQ(Px(Crop, 2, 0), Px(Src, 5, 2));
  EXPECT_EQ(Px(Crop, 1, 1), Px(Src, 4, 3));
  EXPECT_EQ(Px(Crop, 0, 1), TRGB{});  // not selected
  TBitmap Wrong(5, 5, pf24bit);
  M.CopyBitmap(Wrong, Src, false);  // sizes differ without crop: nothing
  EXPECT_EQ(Px(Wrong, 4, 3), TRGB{});

  // Weights blend: t + ((s - t) x w x 1024) >> 18.
  TQLMask W;
  W.AllocateBits(2, 1, 8);
  W.SetPixel(0, 0, 128);
  W.SetPixel(1, 0, 255);
  TBitmap S(2, 1, pf24bit), T(2, 1, pf24bit);
  reinterpret_cast<TRGB*>(S.ScanLine(0))[0] = CreateRGB(200, 100, 0);
  reinterpret_cast<TRGB*>(S.ScanLine(0))[1] = CreateRGB(255, 255, 255);
  reinterpret_cast<TRGB*>(T.ScanLine(0))[0] = CreateRGB(0, 100, 200);
  W.CopyBitmap(T, S, false);
  EXPECT_EQ(Px(T, 0, 0), CreateRGB(100, 100, 100));
  EXPECT_EQ(Px(T, 1, 0), CreateRGB(254, 254, 254));  // 255 x 255 / 256 rounds down
}
