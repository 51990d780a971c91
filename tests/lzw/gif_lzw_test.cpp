#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "quillo/lzw/gif_lzw.h"

using namespace quillo;

namespace {

std::vector<uint8_t> Encode(const std::vector<uint8_t>& Px, int32_t W, int32_t H, bool Interlaced, int32_t Bits) {
  TMemoryStream S;
  GIFLZWCompress(S, H, W, Interlaced, Px.data(), Bits);
  return S.Data();
}

}  // namespace

TEST(GifLZW, RoundTripsEveryDepthSizeAndInterlace) {
  std::mt19937 Rng(1);
  for (int32_t Bits = 1; Bits <= 8; ++Bits)
    for (auto [W, H] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{64, 9}, std::pair{300, 301}})
      for (bool Interlaced : {false, true})
        for (int Kind = 0; Kind < 3; ++Kind) {
          // Noise (fills the table, so clear codes and full-table paths run), runs, and a
          // single value (long strings).
          std::vector<uint8_t> Px(static_cast<size_t>(W) * H);
          for (size_t I = 0; I < Px.size(); ++I)
            Px[I] = static_cast<uint8_t>(Kind == 0 ? Rng() : Kind == 1 ? (I / 37) : 3) & ((1 << Bits) - 1);
          std::vector<uint8_t> Data = Encode(Px, W, H, Interlaced, Bits);
          EXPECT_EQ(Data[0], std::max(Bits, 2));
          EXPECT_EQ(Data.back(), 0);
          Data.push_back(0x3B);
          TMemoryViewStream S(Data.data(), static_cast<int64_t>(Data.size()));
          std::vector<uint8_t> Back(Px.size(), 0xEE);
          ASSERT_TRUE(GIFLZWDecompress(S, H, W, Interlaced, Back.data())) << Bits << " " << W << "x" << H;
          EXPECT_EQ(Back, Px) << Bits << " " << W << "x" << H << " " << Interlaced << " " << Kind;
          EXPECT_EQ(S.GetPosition(), S.GetSize() - 1);  // just after the terminator
        }
}

TEST(GifLZW, HandCodedStreamWithTheSpecialCase) {
  // Minimum code size 2: clear 4, end 5. Codes 4, 1, 6, 6, 5: the first 6 is the code being
  // defined ("1" then "11"), the second adds entry 7, after which codes take 4 bits, so the end
  // code is 4 bits wide. Packed least significant bit first: 0x8C 0x5D.
  const uint8_t Stream[] = {2, 2, 0x8C, 0x5D, 0};
  TMemoryViewStream S(Stream, sizeof(Stream));
  std::vector<uint8_t> Out(5);
  ASSERT_TRUE(GIFLZWDecompress(S, 1, 5, false, Out.data()));
  EXPECT_EQ(Out, (std::vector<uint8_t>{1, 1, 1, 1, 1}));
}

TEST(GifLZW, CorruptOrShortDataIsReported) {
  std::vector<uint8_t> Px(50 * 40);
  for (size_t I = 0; I < Px.size(); ++I) Px[I] = static_cast<uint8_t>(I * 7);
  std::vector<uint8_t> Data = Encode(Px, 50, 40, false, 8);
  // Cut short: fewer pixels than asked, the rest zero, and a failure.
  for (size_t Cut : {size_t{1}, size_t{2}, Data.size() / 2, Data.size() - 1}) {
    TMemoryViewStream S(Data.data(), static_cast<int64_t>(Cut));
    std::vector<uint8_t> Out(Px.size(), 0xEE);
    EXPECT_FALSE(GIFLZWDecompress(S, 40, 50, false, Out.data())) << Cut;
    // Only the terminator missing: every pixel arrived, and still the data is incomplete.
    if (Cut < Data.size() - 1) {
      EXPECT_EQ(Out.back(), 0);
    }
  }
  // Minimum code sizes beyond 11 are refused.
  const uint8_t Bad[] = {12, 1, 0xFF, 0};
  TMemoryViewStream S(Bad, sizeof(Bad));
  std::vector<uint8_t> Out(4);
  EXPECT_FALSE(GIFLZWDecompress(S, 2, 2, false, Out.data()));
  // A code beyond the table is corrupt.
  bool SawEnd;
  const uint8_t Wild[] = {0x3C};  // codes 4 (clear), 7 (unknown) in 3 bits
  EXPECT_EQ(GIFLZWDecodeBytes(Wild, 1, 2, Out.data(), 4, SawEnd), -1);
}
