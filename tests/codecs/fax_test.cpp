#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "quillo/codecs/fax.h"

using namespace quillo;

namespace {

using Bytes = std::vector<uint8_t>;

size_t RowBytes(int32_t W) {
  return (static_cast<size_t>(W) + 7) / 8;
}

// Rows in the encoders' convention (1 = black): random runs, long runs now and then so that
// make-up and extended make-up codes occur, or plain noise.
std::vector<Bytes> RandomRows(int32_t W, int32_t H, uint32_t Seed) {
  std::mt19937 Rng(Seed);
  std::vector<Bytes> Rows;
  for (int32_t Y = 0; Y < H; ++Y) {
    Bytes R(RowBytes(W), 0);
    const int Style = static_cast<int>(Rng() % 4);
    int32_t X = 0;
    int Bit = static_cast<int>(Rng() & 1);
    while (X < W) {
      int32_t Run = Style == 0   ? 1 + static_cast<int32_t>(Rng() % 3)
                    : Style == 1 ? 1 + static_cast<int32_t>(Rng() % 4000)
                                 : 1 + static_cast<int32_t>(Rng() % 40);
      for (int32_t I = 0; I < Run && X < W; ++I, ++X)
        if (Bit) R[static_cast<size_t>(X >> 3)] |= static_cast<uint8_t>(0x80 >> (X & 7));
      Bit ^= 1;
    }
    // Some rows repeat the one above, as pages mostly do.
    if (Y > 0 && Style == 3) R = Rows.back();
    Rows.push_back(R);
  }
  return Rows;
}

// The decoders write white as 1: a decoded row must be the inverse of the coded one.
bool SameAsCoded(const Bytes& Coded, const uint8_t* Decoded, int32_t W) {
  for (int32_t X = 0; X < W; ++X) {
    const int A = (Coded[static_cast<size_t>(X >> 3)] >> (7 - (X & 7))) & 1;
    const int B = (Decoded[X >> 3] >> (7 - (X & 7))) & 1;
    if (A == B) return false;
  }
  return true;
}

Bytes Reverse(Bytes D) {
  for (uint8_t& B : D) {
    uint8_t R = 0;
    for (int I = 0; I < 8; ++I)
      if (B & (1 << I)) R |= static_cast<uint8_t>(0x80 >> I);
    B = R;
  }
  return D;
}

enum Coding { kMH, kG3, kG32D, kG4 };

Bytes Encode(Coding C, const std::vector<Bytes>& Rows, int32_t W) {
  TMemoryStream S;
  bool Abort = false;
  uint8_t PB = 0;
  int32_t PN = 0;
  std::vector<uint8_t> Ref;
  for (const Bytes& R : Rows) {
    if (C == kMH) CCITTHuffmanPutLine(R.data(), W, S, Abort);
    if (C == kG3) CCITTHuffmanPutLineG3(R.data(), W, S, PB, PN, Abort);
    if (C == kG32D) CCITTHuffmanPutLineG32D(R.data(), W, S, PB, PN, Ref, Abort);
    if (C == kG4) CCITTHuffmanPutLineG4(R.data(), W, S, PB, PN, Ref, Abort);
  }
  if (C == kG3) CCITTHuffmanPutLineG3(nullptr, 0, S, PB, PN, Abort);
  if (C == kG32D) CCITTHuffmanPutLineG32D(nullptr, 0, S, PB, PN, Ref, Abort);
  if (C == kG4) CCITTHuffmanPutLineG4(nullptr, 0, S, PB, PN, Ref, Abort);
  EXPECT_FALSE(Abort);
  return S.Data();
}

// Decodes H rows; the data is handed over in an exactly sized buffer so that a read past it is
// caught by the sanitizers.
std::vector<Bytes> Decode(Coding C, const Bytes& Data, int32_t W, int32_t H, int32_t FillOrder) {
  std::vector<Bytes> Rows;
  const auto Buf = std::make_unique<uint8_t[]>(Data.size() + 1);
  std::memcpy(Buf.get(), Data.data(), Data.size());
  const int64_t Size = static_cast<int64_t>(Data.size());
  Bytes Ref(RowBytes(W), 0xFF);
  int64_t Pos = 0, BitPos = 0;
  for (int32_t Y = 0; Y < H; ++Y) {
    Bytes R(RowBytes(W), 0x55);
    if (C == kMH) Pos += CCITTHuffmanGetLine(R.data(), Buf.get() + Pos, Size - Pos, W, FillOrder);
    if (C == kG3) BitPos = _CCITTHuffmanGetLine(R.data(), Buf.get(), Size, W, BitPos, FillOrder);
    if (C == kG32D || C == kG4)
      BitPos = CCITT3_2D_GetLine(R.data(), Buf.get(), Size, W, Ref.data(), BitPos, FillOrder);
    Rows.push_back(R);
  }
  return Rows;
}

}  // namespace

TEST(Fax, RoundTripsEveryCodingAtManyWidths) {
  std::vector<int32_t> Widths;
  for (int32_t W = 1; W <= 70; ++W) Widths.push_back(W);
  for (int32_t W : {127, 128, 129, 255, 257, 1001, 1728, 2047, 2481, 2560, 2561, 2623, 3000, 4095,
                    4097, 4999, 5000})
    Widths.push_back(W);
  for (int32_t W : Widths) {
    const int32_t H = W > 1000 ? 12 : 24;
    const std::vector<Bytes> Rows = RandomRows(W, H, static_cast<uint32_t>(W));
    for (Coding C : {kMH, kG3, kG32D, kG4}) {
      const Bytes Data = Encode(C, Rows, W);
      for (int32_t FillOrder : {1, 2}) {
        const std::vector<Bytes> Back =
            Decode(C, FillOrder == 1 ? Data : Reverse(Data), W, H, FillOrder);
        for (int32_t Y = 0; Y < H; ++Y)
          ASSERT_TRUE(
              SameAsCoded(Rows[static_cast<size_t>(Y)], Back[static_cast<size_t>(Y)].data(), W))
              << "coding " << C << " width " << W << " row " << Y << " fill order " << FillOrder;
      }
    }
  }
}

TEST(Fax, CodesOfTheStandard) {
  // An all-white row of 1728: make-up 1728 (010011011), then terminating 0 (00110101).
  Bytes White(RowBytes(1728), 0);
  TMemoryStream S;
  bool Abort = false;
  CCITTHuffmanPutLine(White.data(), 1728, S, Abort);
  EXPECT_EQ(S.Data(), (Bytes{0x4D, 0x9A, 0x80}));
  // A row beginning with black starts with a white run of 0; one black pixel is 010, then
  // seven white pixels 1111.
  Bytes Black = {0x80};
  std::vector<uint8_t> Bits;
  int64_t Pos = 0;
  _CCITTHuffmanPutLine(Black.data(), 8, Bits, Pos);
  EXPECT_EQ(Pos, 8 + 3 + 4);
  EXPECT_EQ(Bits, (Bytes{0x35, 0x5E}));
  // A white run of 3000: extended make-up 2560, make-up 384, terminating 56.
  Bytes Long(RowBytes(3000), 0);
  Bits.clear();
  Pos = 0;
  _CCITTHuffmanPutLine(Long.data(), 3000, Bits, Pos);
  // 000000011111 00110111 01011001
  EXPECT_EQ(Pos, 12 + 8 + 8);
  EXPECT_EQ(Bits, (Bytes{0x01, 0xF3, 0x75, 0x90}));
  // Appending keeps the bits already in the buffer.
  _CCITTHuffmanPutLine(Black.data(), 8, Bits, Pos);
  EXPECT_EQ(Pos, 28 + 15);
  EXPECT_EQ(Bits[3], 0x93);  // 1001 then 0011 of the white run 0
}

TEST(Fax, GroupThreeEndsOfLine) {
  const int32_t W = 40;
  const std::vector<Bytes> Rows = RandomRows(W, 3, 7);
  // Plain 1-D codes, then the same preceded by an EOL with 0 and with 20 extra zero bits.
  std::vector<uint8_t> Plain;
  int64_t Pos = 0;
  _CCITTHuffmanPutLine(Rows[0].data(), W, Plain, Pos);
  for (int Extra : {0, 20}) {
    std::vector<uint8_t> Bits;
    int64_t P = 0;
    // EOL with the extra zeros: Extra + 11 zero bits and a one.
    P += 11 + Extra;
    Bits.assign(static_cast<size_t>((P + 8) / 8 + 1), 0);
    Bits[static_cast<size_t>(P >> 3)] |= static_cast<uint8_t>(0x80 >> (P & 7));
    ++P;
    _CCITTHuffmanPutLine(Rows[0].data(), W, Bits, P);
    Bytes A(RowBytes(W)), B(RowBytes(W));
    _CCITTHuffmanGetLine(A.data(), Plain.data(), static_cast<int64_t>(Plain.size()), W, 0, 1);
    const int64_t End =
        _CCITTHuffmanGetLine(B.data(), Bits.data(), static_cast<int64_t>(Bits.size()), W, 0, 1);
    EXPECT_EQ(A, B) << Extra;
    EXPECT_EQ(End, P) << Extra;
  }
  // The encoder's last row is written whole and padded: a one-pixel-wide image of one black
  // row is EOL (12 bits), white 0 (8 bits), black 1 (3 bits), then a zero pad bit.
  TMemoryStream S;
  bool Abort = false;
  uint8_t PB = 0;
  int32_t PN = 0;
  const Bytes One = {0x80};
  CCITTHuffmanPutLineG3(One.data(), 1, S, PB, PN, Abort);
  EXPECT_EQ(PN, 7);
  CCITTHuffmanPutLineG3(nullptr, 0, S, PB, PN, Abort);
  EXPECT_EQ(PN, 0);
  EXPECT_EQ(S.Data(), (Bytes{0x00, 0x13, 0x54}));
}

TEST(Fax, UncompressedModeAndRowEnds) {
  // Group 4, width 8: uncompressed-mode entry 0000001111, "1" (black), "01" (white, black),
  // exit 00000001 with one white pixel and tag 0 (white), then V0 to the end of the row.
  // 0000001111 1 01 00000001 0 1 -> 0000 0011 | 1110 1000 | 0000 1010
  const Bytes Data = {0x03, 0xE8, 0x0A};
  Bytes Row(1), Ref(1, 0xFF);
  const int64_t End = CCITT3_2D_GetLine(Row.data(), Data.data(), 3, 8, Ref.data(), 0, 1);
  EXPECT_EQ(Row[0], 0x5F);  // B W B W W W W W, white written as 1
  EXPECT_EQ(Ref[0], 0x5F);
  EXPECT_EQ(End, 23);
  // Data that ends inside a row still writes the whole row, in the colour it was in.
  Bytes Wide(4, 0x00), Ref2(4, 0xFF);
  CCITT3_2D_GetLine(Wide.data(), Data.data(), 1, 32, Ref2.data(), 0, 1);
  EXPECT_EQ(Wide, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  // Group 3 2-D: an EOL inside a row ends it and is left for the next row, whose tag says 1-D.
  // Row 1: EOL, tag 0, then at once the next EOL; row 2: that EOL, tag 1, white 8 (10011).
  // 000000000001 0 000000000001 1 10011
  const Bytes G3 = {0x00, 0x10, 0x00, 0xE6};
  Bytes R1(1, 0x00), R2(1, 0x00), Ref3(1, 0xFF);
  int64_t P = CCITT3_2D_GetLine(R1.data(), G3.data(), 4, 8, Ref3.data(), 0, 1);
  EXPECT_EQ(R1[0], 0xFF);
  EXPECT_EQ(P, 13);
  P = CCITT3_2D_GetLine(R2.data(), G3.data(), 4, 8, Ref3.data(), P, 1);
  EXPECT_EQ(R2[0], 0xFF);
  EXPECT_EQ(P, 31);
}

TEST(Fax, DecodersStayInsideTheirData) {
  // Garbage of every kind, decoded row after row with exactly sized buffers: no read past the
  // data, no write past the row (the sanitizers watch), and the position always advances or
  // stops at the end.
  std::mt19937 Rng(5);
  for (int Trial = 0; Trial < 300; ++Trial) {
    const size_t N = 1 + Rng() % 40;
    const auto Data = std::make_unique<uint8_t[]>(N);
    for (size_t I = 0; I < N; ++I)
      Data[I] = static_cast<uint8_t>(Trial % 3 == 0 ? Rng() % 3 : Rng());
    const int32_t W = 1 + static_cast<int32_t>(Rng() % 100);
    const auto Row = std::make_unique<uint8_t[]>(RowBytes(W));
    const auto Ref = std::make_unique<uint8_t[]>(RowBytes(W));
    std::memset(Ref.get(), 0xFF, RowBytes(W));
    int64_t A = 0, B = 0, C = 0;
    // The strip decoder keeps its reference row in its own form and must give the same rows.
    TQLFax2DDecoder Strip(W);
    const auto Row2 = std::make_unique<uint8_t[]>(RowBytes(W));
    for (int Y = 0; Y < 50; ++Y) {
      const int64_t NA = _CCITTHuffmanGetLine(Row.get(), Data.get(), static_cast<int64_t>(N), W, A,
                                              Trial & 1 ? 2 : 1);
      const int64_t NB =
          CCITT3_2D_GetLine(Row.get(), Data.get(), static_cast<int64_t>(N), W, Ref.get(), B, 1);
      C = Strip.GetLine(Row2.get(), Data.get(), static_cast<int64_t>(N), C, 1);
      ASSERT_EQ(C, NB);
      ASSERT_EQ(std::memcmp(Row.get(), Row2.get(), RowBytes(W)), 0);
      EXPECT_TRUE(NA > A || A >= static_cast<int64_t>(N) * 8);
      EXPECT_TRUE(NB >= B);
      A = NA;
      B = NB;
    }
    EXPECT_LE(CCITTHuffmanGetLine(Row.get(), Data.get(), static_cast<int64_t>(N), W, 1),
              static_cast<int64_t>(N));
  }
}
