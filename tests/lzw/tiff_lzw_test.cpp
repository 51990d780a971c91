#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "quillo/lzw/tiff_lzw.h"

using namespace quillo;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Compress(const Bytes& Data, int32_t RowSize) {
  TMemoryStream S;
  intptr_t State = 0;
  for (size_t I = 0; I < Data.size(); I += static_cast<size_t>(RowSize))
    TIFFLZWCompress(Data.data() + I, RowSize, S, State);
  TIFFLZWCompress(nullptr, 0, S, State);
  EXPECT_EQ(State, 0);
  return S.Data();
}

// Decodes Rows rows; false when a row fails. The coded data sits in an exactly sized buffer.
bool Decompress(const Bytes& Coded, int32_t RowSize, int32_t Rows, Bytes& Out) {
  const auto Buf = std::make_unique<uint8_t[]>(Coded.size() + 1);
  std::memcpy(Buf.get(), Coded.data(), Coded.size());
  intptr_t State = 0;
  bool Ok = true;
  Out.clear();
  for (int32_t R = 0; R < Rows && Ok; ++R) {
    const uint8_t* Row =
        TIFFLZWDecompress(Buf.get(), static_cast<int64_t>(Coded.size()), RowSize, State);
    if (!Row)
      Ok = false;
    else
      Out.insert(Out.end(), Row, Row + RowSize);
  }
  TIFFLZWDecompress(nullptr, 0, 0, State);
  EXPECT_EQ(State, 0);
  return Ok;
}

}  // namespace

TEST(TiffLZW, RoundTripsThroughTableResets) {
  std::mt19937 Rng(1);
  // Noise (many codes, several table resets), long runs (long strings that cross rows) and
  // a small alphabet; row sizes that do not divide the strings.
  for (int Kind = 0; Kind < 3; ++Kind)
    for (int32_t RowSize : {1, 7, 300, 4099}) {
      Bytes Data(static_cast<size_t>(RowSize) * (200000 / RowSize + 1));
      for (size_t I = 0; I < Data.size(); ++I)
        Data[I] = Kind == 0   ? static_cast<uint8_t>(Rng())
                  : Kind == 1 ? static_cast<uint8_t>(I / 5000)
                              : static_cast<uint8_t>(Rng() % 3);
      const Bytes Coded = Compress(Data, RowSize);
      Bytes Back;
      ASSERT_TRUE(Decompress(Coded, RowSize, static_cast<int32_t>(Data.size() / RowSize), Back))
          << Kind << " " << RowSize;
      EXPECT_EQ(Back, Data) << Kind << " " << RowSize;
    }
}

TEST(TiffLZW, KnownCodes) {
  // "AAAA": clear (256), 'A', 258 ("AA"), 'A', end (257), all at 9 bits, most significant
  // bit first: 100000000 001000001 100000010 001000001 100000001, then zero padding.
  const Bytes Coded = Compress(Bytes{'A', 'A', 'A', 'A'}, 4);
  EXPECT_EQ(Coded, (Bytes{0x80, 0x10, 0x60, 0x44, 0x18, 0x08}));
  Bytes Back;
  ASSERT_TRUE(Decompress(Coded, 4, 1, Back));
  EXPECT_EQ(Back, (Bytes{'A', 'A', 'A', 'A'}));
}

TEST(TiffLZW, BadDataEndsTheStrip) {
  Bytes Data(5000);
  for (size_t I = 0; I < Data.size(); ++I) Data[I] = static_cast<uint8_t>(I * 7);
  const Bytes Coded = Compress(Data, 100);
  Bytes Back;
  // Cut short: the rows that were there come out, then failure.
  EXPECT_FALSE(Decompress(Bytes(Coded.begin(), Coded.begin() + static_cast<long>(Coded.size() / 2)),
                          100, 50, Back));
  EXPECT_GT(Back.size(), 0u);
  EXPECT_TRUE(std::equal(Back.begin(), Back.end(), Data.begin()));
  // More rows asked than coded: the end code ends the strip.
  EXPECT_FALSE(Decompress(Coded, 100, 51, Back));
  // A code beyond the table, and garbage of every kind: failure or rows, never a crash.
  EXPECT_FALSE(Decompress(Bytes{0x80, 0x10, 0x65, 0x80}, 4, 1, Back));  // clear, A, 300
  std::mt19937 Rng(3);
  for (int T = 0; T < 200; ++T) {
    Bytes G(1 + Rng() % 64);
    for (uint8_t& B : G) B = static_cast<uint8_t>(Rng());
    Decompress(G, 1 + static_cast<int32_t>(Rng() % 50), 20, Back);
  }
}
