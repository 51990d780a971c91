#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "quillo/lzw/gif_lzw.h"

using namespace quillo;

namespace {

std::vector<uint8_t> Encode(const std::vector<uint8_t>& Px, int32_t W, int32_t H, bool Interlaced,
                            int32_t Bits) {
  TMemoryStream S;
  GIFLZWCompress(S, H, W, Interlaced, Px.data(), Bits);
  return S.Data();
}

// The decoder read plainly: a table of prefix codes and last bytes, each string written from
// its end by following its prefixes.
int64_t RefDecode(const uint8_t* Data, int64_t Size, int32_t MinCodeSize, uint8_t* Out,
                  int64_t OutSize, bool& SawEnd) {
  SawEnd = false;
  if (MinCodeSize < 1 || MinCodeSize > 11) return -1;
  const int32_t Clear = 1 << MinCodeSize, End = Clear + 1;
  std::vector<int32_t> Prefix(4096), Len(4096);
  std::vector<uint8_t> Last(4096), First(4096);
  for (int32_t C = 0; C < Clear; ++C) Last[C] = First[C] = static_cast<uint8_t>(C), Len[C] = 1;
  int32_t Width = MinCodeSize + 1, Next = End + 1, Old = -1;
  int64_t BitPos = 0, Pos = 0;
  while (Pos < OutSize) {
    if (BitPos + Width > Size * 8) return Pos;
    int32_t Code = 0;
    for (int32_t B = 0; B < Width; ++B, ++BitPos)
      Code |= ((Data[BitPos >> 3] >> (BitPos & 7)) & 1) << B;
    if (Code == Clear) {
      Width = MinCodeSize + 1, Next = End + 1, Old = -1;
      continue;
    }
    if (Code == End) return SawEnd = true, Pos;
    if (Old < 0) {
      if (Code >= Clear) return -1;
      Out[Pos++] = static_cast<uint8_t>(Code);
      Old = Code;
      continue;
    }
    if (Code > Next || (Code == Next && Next == 4096)) return -1;
    if (Next < 4096) {
      Prefix[Next] = Old;
      Last[Next] = Code == Next ? First[Old] : First[Code];
      First[Next] = First[Old];
      Len[Next] = Len[Old] + 1;
      ++Next;
      if (Next == (1 << Width) && Width < 12) ++Width;
    }
    std::vector<uint8_t> Str;
    for (int32_t C = Code;; C = Prefix[C]) {
      Str.insert(Str.begin(), Last[C]);
      if (C < Clear) break;
    }
    for (size_t I = 0; I < Str.size() && Pos < OutSize; ++I) Out[Pos++] = Str[I];
    Old = Code;
  }
  return Pos;
}

}  // namespace

TEST(GifLZW, DecoderMatchesThePlainReadingOnAnyData) {
  std::mt19937 Rng(7);
  for (int Trial = 0; Trial < 4000; ++Trial) {
    std::vector<uint8_t> Data;
    const int32_t Min = static_cast<int32_t>(Rng() % 13);
    if (Trial % 2) {
      // Real streams, cut anywhere and with bytes flipped.
      const int32_t Bits = static_cast<int32_t>(Rng() % 8) + 1;
      std::vector<uint8_t> Px(Rng() % 3000 + 1);
      for (uint8_t& P : Px)
        P = static_cast<uint8_t>((Rng() % 4 ? Px.size() % 5 : Rng()) & ((1 << Bits) - 1));
      const std::vector<uint8_t> Whole =
          Encode(Px, static_cast<int32_t>(Px.size()), 1, false, Bits);
      for (size_t I = 1; I < Whole.size(); I += Whole[I] + 1u)  // join the sub-blocks
        Data.insert(
            Data.end(), Whole.begin() + static_cast<ptrdiff_t>(I) + 1,
            Whole.begin() + static_cast<ptrdiff_t>(std::min(Whole.size(), I + 1 + Whole[I])));
      Data.resize(Rng() % (Data.size() + 1));
      if (!Data.empty() && Trial % 4 == 1)
        Data[Rng() % Data.size()] ^= static_cast<uint8_t>(1u << (Rng() % 8));
      const int32_t MinUsed = std::max(Bits, 2);
      const int64_t OutSize = static_cast<int64_t>(Rng() % (Px.size() + 10));
      std::vector<uint8_t> A(static_cast<size_t>(OutSize) + 1, 0xEE), B = A;
      bool EndA, EndB;
      const int64_t Ra = GIFLZWDecodeBytes(Data.data(), static_cast<int64_t>(Data.size()), MinUsed,
                                           A.data(), OutSize, EndA);
      const int64_t Rb = RefDecode(Data.data(), static_cast<int64_t>(Data.size()), MinUsed,
                                   B.data(), OutSize, EndB);
      ASSERT_EQ(Ra, Rb) << Trial;
      ASSERT_EQ(EndA, EndB) << Trial;
      if (Ra >= 0) {
        ASSERT_TRUE(std::equal(A.begin(), A.begin() + Ra, B.begin())) << Trial;
      }
      ASSERT_EQ(A.back(), 0xEE);  // nothing past the end
      continue;
    }
    Data.resize(Rng() % 600);
    for (uint8_t& D : Data) D = static_cast<uint8_t>(Rng() % 3 ? Rng() & 0x0F : Rng());
    const int64_t OutSize = static_cast<int64_t>(Rng() % 5000);
    std::vector<uint8_t> A(static_cast<size_t>(OutSize) + 1, 0xEE), B = A;
    bool EndA, EndB;
    const int64_t Ra = GIFLZWDecodeBytes(Data.data(), static_cast<int64_t>(Data.size()), Min,
                                         A.data(), OutSize, EndA);
    const int64_t Rb =
        RefDecode(Data.data(), static_cast<int64_t>(Data.size()), Min, B.data(), OutSize, EndB);
    ASSERT_EQ(Ra, Rb) << Trial;
    ASSERT_EQ(EndA, EndB) << Trial;
    if (Ra >= 0) {
      ASSERT_TRUE(std::equal(A.begin(), A.begin() + Ra, B.begin())) << Trial;
    }
    ASSERT_EQ(A.back(), 0xEE);
  }
}

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
            Px[I] = static_cast<uint8_t>(Kind == 0   ? Rng()
                                         : Kind == 1 ? (I / 37)
                                                     : 3) &
                    ((1 << Bits) - 1);
          std::vector<uint8_t> Data = Encode(Px, W, H, Interlaced, Bits);
          EXPECT_EQ(Data[0], std::max(Bits, 2));
          EXPECT_EQ(Data.back(), 0);
          Data.push_back(0x3B);
          TMemoryViewStream S(Data.data(), static_cast<int64_t>(Data.size()));
          std::vector<uint8_t> Back(Px.size(), 0xEE);
          ASSERT_TRUE(GIFLZWDecompress(S, H, W, Interlaced, Back.data()))
              << Bits << " " << W << "x" << H;
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
