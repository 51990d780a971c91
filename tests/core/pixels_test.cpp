#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "quillo/core/pixels.h"
#include "tests/support/testutil.h"

using namespace quillo;

TEST(PixelHelpers, RowLengthsAndBitCounts) {
  EXPECT_EQ(_BitmapRowLen(1, 24), 4);
  EXPECT_EQ(_BitmapRowLen(33, 1), 8);
  EXPECT_EQ(_BitmapRowLen(32, 1), 4);
  EXPECT_EQ(_BitmapRowLen(3, 4), 4);
  EXPECT_EQ(_BitmapRowLen(9, 4), 8);
  EXPECT_EQ(_BitmapRowLen(0, 24), 0);
  EXPECT_EQ(_NColToBitsPixel(256), 8);
  EXPECT_EQ(_NColToBitsPixel(2), 1);
  EXPECT_EQ(_NColToBitsPixel(1), 0);
  EXPECT_EQ(_NColToBitsPixel(3), 2);
  EXPECT_EQ(_NColToBitsPixel(5), 3);
  EXPECT_EQ(_NColToBitsPixel(16), 4);
  EXPECT_EQ(_NColToBitsPixel(17), 5);
  EXPECT_EQ(_NColToBitsPixel(0), -1);
  EXPECT_EQ(_GetBitCount(0x7C00), 5);
  EXPECT_EQ(_GetBitCount(0x03E0), 5);
  EXPECT_EQ(_GetBitCount(0xF800), 5);
  EXPECT_EQ(_GetBitCount(0x07E0), 6);
  EXPECT_EQ(_GetBitCount(0xFF000000u), 8);
  EXPECT_EQ(_GetBitCount(0x0505), 1);
  EXPECT_EQ(_GetBitCount(0), 0);
  EXPECT_EQ(_GetNumCol(8, 1), 256);
  EXPECT_EQ(_GetNumCol(1, 1), 2);
  EXPECT_EQ(_GetNumCol(4, 2), 256);
  for (TPixelFormat PF : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit})
    EXPECT_EQ(_Bitcount2Pixelformat(_Pixelformat2BitCount(PF)), PF);
  EXPECT_EQ(_Pixelformat2BitCount(pfDevice), 0);
  EXPECT_EQ(_Pixelformat2BitCount(pfCustom), 0);
  EXPECT_EQ(_Bitcount2Pixelformat(2), pfCustom);
}

TEST(PixelHelpers, CopyBitmapOfEmptySourceIsOneByOne) {
  TBitmap Src;
  Src.SetPixelFormat(pf1bit);
  TBitmap Dst(10, 10, pf24bit);
  QLCopyBitmap(Src, Dst);
  EXPECT_EQ(Dst.GetWidth(), 1);
  EXPECT_EQ(Dst.GetHeight(), 1);
  EXPECT_EQ(Dst.GetPixelFormat(), pf1bit);

  TBitmap Full = test::RandomBitmap24(13, 7, 3);
  auto Clone = QLCloneBitmap(Full);
  EXPECT_TRUE(test::SamePixels(Full, *Clone));
  EXPECT_EQ(std::memcmp(Full.Bits(), Clone->Bits(), static_cast<size_t>(Full.BitsSize())), 0);
}

TEST(PixelHelpers, Conv1to24FillsExactlyTheWidth) {
  TBitmap One = test::RandomBitmap1(13, 4, 9);
  // Padding bits set to 1 must not leak into the expansion.
  for (int32_t Y = 0; Y < 4; ++Y) One.ScanLine(Y)[1] |= 0x07;
  TBitmap Dst(50, 50, pf24bit);
  std::memset(Dst.Bits(), 0x5A, static_cast<size_t>(Dst.BitsSize()));
  bool Abort = false;
  int Calls = 0, Last = -1;
  TProgressRec P =
      QLProgressRec([&](TObject*, int32_t Per) { ++Calls, Last = Per; }, nullptr, Abort);
  _Conv1to24(One, Dst, P);
  ASSERT_EQ(Dst.GetWidth(), 13);
  ASSERT_EQ(Dst.GetPixelFormat(), pf24bit);
  for (int32_t Y = 0; Y < 4; ++Y) {
    const uint8_t* S = One.ScanLine(Y);
    const uint8_t* D = Dst.ScanLine(Y);
    for (int32_t X = 0; X < 13; ++X) {
      uint8_t V = ((S[X >> 3] >> (7 - (X & 7))) & 1) ? 255 : 0;
      EXPECT_EQ(D[X * 3], V);
      EXPECT_EQ(D[X * 3 + 2], V);
    }
    // The row's padding (13 * 3 = 39 of 40 bytes) stays as the new bitmap left it.
    EXPECT_EQ(D[39], 0);
  }
  EXPECT_EQ(Calls, 4);
  EXPECT_EQ(Last, 100);

  // Converting a bitmap onto itself works from a copy.
  TBitmap Self = test::RandomBitmap1(9, 2, 4);
  TBitmap Expect;
  _Conv1to24(Self, Expect, P);
  _Conv1to24(Self, Self, P);
  EXPECT_TRUE(test::SamePixels(Self, Expect));
}

TEST(PixelHelpers, Conv1to24StopsOnAbort) {
  TBitmap One = test::RandomBitmap1(8, 10, 1);
  bool Abort = false;
  int Calls = 0;
  TProgressRec P = QLProgressRec(
      [&](TObject*, int32_t) {
        if (++Calls == 3) Abort = true;
      },
      nullptr, Abort);
  TBitmap Dst;
  _Conv1to24(One, Dst, P);
  EXPECT_EQ(Calls, 3);
  EXPECT_EQ(Dst.GetHeight(), 10);
}

namespace {
TBitmap TwoColour(TRGB A, TRGB B, int32_t W, int32_t H) {
  TBitmap Bmp(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(Bmp.ScanLine(Y));
    for (int32_t X = 0; X < W; ++X) Row[X] = ((X + Y) % 3 == 0) ? A : B;
  }
  return Bmp;
}
}  // namespace

TEST(PixelHelpers, ConvertTo1bitDetectsTwoColours) {
  TRGB C1, C2;
  TBitmap Mono(4, 4, pf24bit);
  EXPECT_EQ(_ConvertTo1bit(Mono, C1, C2), nullptr);  // one colour

  // White first: the bits are inverted so that black (the darker) is colour 1 and bit 0.
  TRGB White = CreateRGB(255, 255, 255), Black = CreateRGB(0, 0, 0);
  TBitmap Bw = TwoColour(White, Black, 11, 5);
  auto One = _ConvertTo1bit(Bw, C1, C2);
  ASSERT_NE(One, nullptr);
  EXPECT_EQ(C1, Black);
  EXPECT_EQ(C2, White);
  for (int32_t Y = 0; Y < 5; ++Y)
    for (int32_t X = 0; X < 11; ++X) {
      bool Bit = (One->ScanLine(Y)[X >> 3] >> (7 - (X & 7))) & 1;
      EXPECT_EQ(Bit, (X + Y) % 3 == 0) << X << "," << Y;
    }

  // Two colours in the darker-first order keep their bits.
  TRGB Navy = CreateRGB(0, 0, 128), Yellow = CreateRGB(255, 255, 0);
  auto Kept = _ConvertTo1bit(TwoColour(Navy, Yellow, 6, 2), C1, C2);
  ASSERT_NE(Kept, nullptr);
  EXPECT_EQ(C1, Navy);
  EXPECT_EQ((Kept->ScanLine(0)[0] >> 7) & 1, 0);

  // A third colour, even at the very end, gives nothing.
  TBitmap Three = TwoColour(White, Black, 6, 3);
  reinterpret_cast<TRGB*>(Three.ScanLine(2))[5] = CreateRGB(1, 2, 3);
  EXPECT_EQ(_ConvertTo1bit(Three, C1, C2), nullptr);

  TBitmap Not24(4, 4, pf8bit);
  EXPECT_EQ(_ConvertTo1bit(Not24, C1, C2), nullptr);
}

TEST(PixelHelpers, CopyBitsMatchesABitByBitCopy) {
  std::mt19937 Rng(5);
  for (int Round = 0; Round < 500; ++Round) {
    uint8_t Src[16], Dst[16], Want[16];
    for (auto& B : Src) B = static_cast<uint8_t>(Rng());
    for (auto& B : Dst) B = static_cast<uint8_t>(Rng());
    std::memcpy(Want, Dst, 16);
    int32_t SrcOff = static_cast<int32_t>(Rng() % 40), DstOff = static_cast<int32_t>(Rng() % 40);
    int32_t Count = static_cast<int32_t>(Rng() % 80);
    if (Round % 3 == 0) SrcOff &= ~7, DstOff &= ~7;  // exercise the aligned path
    for (int32_t I = 0; I < Count; ++I) {
      int32_t S = SrcOff + I, D = DstOff + I;
      int Bit = (Src[S / 8] >> (7 - S % 8)) & 1;
      Want[D / 8] = static_cast<uint8_t>((Want[D / 8] & ~(0x80 >> (D % 8))) | (Bit << (7 - D % 8)));
    }
    _CopyBits(Dst, Src, DstOff, Count, SrcOff);
    ASSERT_EQ(std::memcmp(Dst, Want, 16), 0) << SrcOff << " " << DstOff << " " << Count;
  }
}

TEST(StreamHelpers, StringsAndSafeWrite) {
  TMemoryStream S;
  SaveStringToStream(S, "abc");
  SaveStringToStream(S, "");
  EXPECT_EQ(S.GetSize(), 4 + 3 + 4);
  EXPECT_EQ(S.Memory()[0], 3);
  S.SetPosition(0);
  std::string A, B;
  LoadStringFromStream(S, A);
  LoadStringFromStream(S, B);
  EXPECT_EQ(A, "abc");
  EXPECT_EQ(B, "");

  // A length beyond the data fails before allocating it.
  TMemoryStream Bad;
  QLWriteIntLE(Bad, 0x7FFFFFF0);
  Bad.WriteBuffer("xy", 2);
  Bad.SetPosition(0);
  EXPECT_THROW(LoadStringFromStream(Bad, A), EReadError);
  Bad.SetPosition(0);
  QLWriteIntLE(Bad, -4);
  Bad.SetPosition(0);
  EXPECT_THROW(LoadStringFromStream(Bad, A), EReadError);

  TMemoryViewStream ReadOnly("abc", 3);
  bool Abort = false;
  EXPECT_EQ(SafeStreamWrite(ReadOnly, Abort, "z", 1), 0);
  EXPECT_TRUE(Abort);
  Abort = false;
  SafeStreamWrite(S, Abort, "z", 1);
  EXPECT_FALSE(Abort);

  TMemoryStream D;
  QLWriteDoubleLE(D, 2.2);
  QLWriteWordLE(D, 0xBEEF);
  D.SetPosition(0);
  EXPECT_EQ(QLReadDoubleLE(D), 2.2);
  EXPECT_EQ(QLReadWordLE(D), 0xBEEF);
}
