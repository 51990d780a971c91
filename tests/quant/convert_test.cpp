#include <gtest/gtest.h>

#include <vector>

#include "quillo/quant/convert.h"
#include "quillo/quant/quantizer.h"
#include "tests/quant/quanttest.h"

using namespace quillo;

namespace {

using Bytes = std::vector<uint8_t>;

// Runs one conversion into a buffer pre-filled with Fill; returns the buffer and the count.
std::pair<Bytes, int32_t> Convert(const Bytes& Src, int32_t From, int32_t To, int32_t Width,
                                  const std::vector<TRGB>& Pal = {}, TQLQuantizer* Q = nullptr,
                                  uint8_t Fill = 0) {
  Bytes Dst(64, Fill);
  int32_t N = _ConvertXBitsToYBits(Src.data(), Dst.data(), From, To, Width,
                                   Pal.empty() ? nullptr : Pal.data(), int32_t(Pal.size()), Q);
  return {Bytes(Dst.begin(), Dst.begin() + std::max(N, 0)), N};
}

const std::vector<TRGB> kPal = {CreateRGB(1, 2, 3), CreateRGB(4, 5, 6), CreateRGB(7, 8, 9)};

}  // namespace

TEST(ConvertBits, FromOneBit) {
  Bytes Src = {0xA5, 0x80};  // 1010 0101 1
  EXPECT_EQ(Convert(Src, 1, 1, 9).first, Bytes({0xA5, 0x80}));
  EXPECT_EQ(Convert(Src, 1, 4, 9).first, Bytes({0x10, 0x10, 0x01, 0x01, 0x10}));
  EXPECT_EQ(Convert(Src, 1, 8, 9).first, Bytes({1, 0, 1, 0, 0, 1, 0, 1, 1}));
  EXPECT_EQ(Convert(Src, 1, 24, 3, kPal).first, Bytes({6, 5, 4, 3, 2, 1, 6, 5, 4}));
}

TEST(ConvertBits, FromFourAndEightBits) {
  Bytes Src4 = {0x12, 0x0F, 0x20};
  EXPECT_EQ(Convert(Src4, 4, 4, 5).first, Bytes({0x12, 0x0F, 0x20}));
  EXPECT_EQ(Convert(Src4, 4, 8, 5).first, Bytes({1, 2, 0, 15, 2}));
  // Index 15 lies beyond the three entries and reads as black.
  EXPECT_EQ(Convert(Src4, 4, 24, 5, kPal).first,
            Bytes({6, 5, 4, 9, 8, 7, 3, 2, 1, 0, 0, 0, 9, 8, 7}));
  Bytes Src8 = {1, 0, 1, 1, 0, 0, 0, 1, 1, 3};
  // The destination is cleared first; a value above 1 contributes only its lowest bit.
  EXPECT_EQ(Convert(Src8, 8, 1, 10, {}, nullptr, 0xFF).first, Bytes({0xB1, 0xC0}));
  EXPECT_EQ(Convert(Src8, 8, 8, 10).first, Src8);
  EXPECT_EQ(Convert(Bytes{2, 0, 200}, 8, 24, 3, kPal).first, Bytes({9, 8, 7, 3, 2, 1, 0, 0, 0}));
}

TEST(ConvertBits, FromTrueColour) {
  Bytes Src = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(Convert(Src, 24, 24, 2).first, Bytes({1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Convert(Bytes{1, 2, 3, 0xAA, 4, 5, 6, 0xBB}, 32, 24, 2).first,
            Bytes({1, 2, 3, 4, 5, 6}));

  // Two colours in the image; median cut gives each its own entry.
  TBitmap B = test::Solid(4, 1, CreateRGB(255, 0, 0));
  test::SetPixel(B, 1, 0, CreateRGB(0, 0, 255));
  std::vector<TRGB> Pal(16);
  TQLQuantizer Q(B, Pal.data(), 15, 16);
  ASSERT_EQ(Q.GetColorCount(), 2);
  int32_t Red = Q.GetRGBIndex(CreateRGB(255, 0, 0)), Blue = Q.GetRGBIndex(CreateRGB(0, 0, 255));
  ASSERT_NE(Red, Blue);
  Bytes Row(B.ScanLine(0), B.ScanLine(0) + 12);
  auto [Eight, N8] = Convert(Row, 24, 8, 4, {}, &Q);
  EXPECT_EQ(N8, 4);
  EXPECT_EQ(Eight, Bytes({uint8_t(Red), uint8_t(Blue), uint8_t(Red), uint8_t(Red)}));
  auto [Four, N4] = Convert(Row, 24, 4, 3, {}, &Q);
  EXPECT_EQ(N4, 2);
  EXPECT_EQ(Four, Bytes({uint8_t(Red << 4 | Blue), uint8_t(Red << 4)}));
}

TEST(ConvertBits, UnhandledCombinationsProduceNothing) {
  Bytes Src(16, 0x55);
  const std::vector<std::pair<int32_t, int32_t>> Pairs = {{4, 1},  {1, 32},  {24, 1},
                                                          {32, 8}, {16, 24}, {8, 4}};
  for (auto [From, To] : Pairs) {
    EXPECT_EQ(Convert(Src, From, To, 4, kPal, nullptr, 0xEE).second, 0) << From << " -> " << To;
  }
  EXPECT_EQ(Convert(Src, 24, 8, 4).second, 0);  // no quantizer
  EXPECT_EQ(Convert(Src, 8, 8, 0).second, 0);
}
