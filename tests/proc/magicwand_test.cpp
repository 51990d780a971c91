#include <gtest/gtest.h>

#include "quillo/core/pixels.h"
#include "quillo/proc/magicwand.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TBitmap Canvas(int32_t W, int32_t H, const std::vector<std::string>& Rows = {}) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      const bool On = Y < int32_t(Rows.size()) && X < int32_t(Rows[Y].size()) && Rows[Y][X] == '#';
      reinterpret_cast<TRGB*>(B.ScanLine(Y))[X] = On ? TRGB{200, 200, 200} : TRGB{10, 10, 10};
    }
  return B;
}

// Twice the signed area of the polygon (shoelace), positive for the wand's orientation.
int64_t Area2(const std::vector<TPoint>& P) {
  int64_t S = 0;
  for (size_t I = 0; I < P.size(); ++I) {
    const TPoint& A = P[I];
    const TPoint& B = P[(I + 1) % P.size()];
    S += int64_t(A.X) * B.Y - int64_t(B.X) * A.Y;
  }
  return S < 0 ? -S : S;
}

}  // namespace

TEST(MagicWand, SinglePixel) {
  TBitmap B = Canvas(5, 5, {".....", ".....", "..#..", ".....", "....."});
  const auto P = _MakeMagicWandPoints(B, 2, 2, false, 30);
  const std::vector<TPoint> Want = {{2, 2}, {3, 2}, {3, 2}, {3, 3}, {3, 3}, {2, 3}, {2, 3}, {2, 2}};
  EXPECT_EQ(P, Want);
  // Growing by the maximum filter stays inside the region's 1 x 1 box.
  EXPECT_EQ(_MakeMagicWandPoints(B, 2, 2, true, 30), Want);
}

TEST(MagicWand, RejectedInput) {
  TBitmap B = Canvas(4, 4);
  EXPECT_TRUE(_MakeMagicWandPoints(B, -1, 0, false, 10).empty());
  EXPECT_TRUE(_MakeMagicWandPoints(B, 0, 4, false, 10).empty());
  EXPECT_TRUE(_MakeMagicWandPoints(B, 1, 1, false, -1).empty());
  TBitmap Mono(4, 4, pf1bit);
  EXPECT_TRUE(_MakeMagicWandPoints(Mono, 1, 1, false, 10).empty());
}

TEST(MagicWand, RectanglesRingsAndBorders) {
  // The whole image.
  TBitmap R = RandomBitmap24(13, 7, 3);
  auto P = _MakeMagicWandPoints(R, 6, 3, false, 255);
  EXPECT_EQ(Area2(P), 2 * 13 * 7);
  for (const TPoint& V : P) {
    EXPECT_TRUE(V.X == 0 || V.X == 13 || V.Y == 0 || V.Y == 7);
    EXPECT_TRUE(V.X >= 0 && V.X <= 13 && V.Y >= 0 && V.Y <= 7);
  }
  // A rectangle inside, and one touching the right and bottom border.
  TBitmap In =
      Canvas(10, 8, {"..........", "..........", "...####...", "...####...", "...####..."});
  P = _MakeMagicWandPoints(In, 4, 3, false, 0);
  EXPECT_EQ(Area2(P), 2 * 12);
  EXPECT_NE(std::find(P.begin(), P.end(), TPoint{3, 2}), P.end());
  EXPECT_NE(std::find(P.begin(), P.end(), TPoint{7, 5}), P.end());
  TBitmap Corner = Canvas(6, 4, {"......", "...###", "...###", "...###"});
  P = _MakeMagicWandPoints(Corner, 5, 3, false, 0);
  EXPECT_EQ(Area2(P), 2 * 9);
  // A ring is traced along its outer edge; a click in its hole gives the hole.
  TBitmap Ring = Canvas(9, 9,
                        {".........", ".#######.", ".#######.", ".##...##.", ".##...##.",
                         ".##...##.", ".#######.", ".#######.", "........."});
  EXPECT_EQ(Area2(_MakeMagicWandPoints(Ring, 1, 1, false, 0)), 2 * 49);
  EXPECT_EQ(Area2(_MakeMagicWandPoints(Ring, 4, 4, false, 0)), 2 * 9);
  // The background around the ring touches every border: its outer outline is the image.
  EXPECT_EQ(Area2(_MakeMagicWandPoints(Ring, 0, 0, false, 0)), 2 * 81);
}

TEST(MagicWand, MaximumFilterClosesNotches) {
  TBitmap B =
      Canvas(7, 7, {".......", ".##.##.", ".#####.", ".#####.", ".#####.", ".#####.", "......."});
  EXPECT_EQ(Area2(_MakeMagicWandPoints(B, 2, 3, false, 5)), 2 * 24);
  EXPECT_EQ(Area2(_MakeMagicWandPoints(B, 2, 3, true, 5)), 2 * 25);
}

TEST(MagicWand, LargeSerpentineRegionDoesNotRecurse) {
  // A one-pixel-wide path winding through the whole image: deep for a recursive fill.
  const int32_t W = 801, H = 801;
  std::vector<std::string> Rows(H, std::string(W, '.'));
  for (int32_t Y = 0; Y < H; Y += 2) {
    Rows[Y] = std::string(W, '#');
    if (Y + 1 < H) Rows[Y + 1][(Y / 2) % 2 ? 0 : W - 1] = '#';
  }
  TBitmap B = Canvas(W, H, Rows);
  const auto P = _MakeMagicWandPoints(B, 0, 0, false, 0);
  EXPECT_EQ(Area2(P), 2 * int64_t(401 * W + 400));
}
