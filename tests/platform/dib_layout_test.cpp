#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "quillo/platform/detail/dib.h"

using namespace quillo;

namespace {

void Put16(std::vector<uint8_t>& D, size_t O, uint32_t V) {
  D[O] = uint8_t(V);
  D[O + 1] = uint8_t(V >> 8);
}
void Put32(std::vector<uint8_t>& D, size_t O, uint32_t V) {
  for (size_t K = 0; K < 4; ++K) D[O + K] = uint8_t(V >> (8 * K));
}
// An info header of Size bytes (bigger than 40 allowed) followed by Extra zero bytes.
std::vector<uint8_t> Info(uint32_t Size, int32_t W, int32_t H, uint32_t Bits, uint32_t Comp,
                          uint32_t ClrUsed = 0, size_t Extra = 0) {
  std::vector<uint8_t> D(Size + Extra, 0);
  Put32(D, 0, Size);
  if (Size >= 16) {
    Put32(D, 4, static_cast<uint32_t>(W));
    Put32(D, 8, static_cast<uint32_t>(H));
    Put16(D, 12, 1);
    Put16(D, 14, Bits);
  }
  if (Size >= 40) {
    Put32(D, 16, Comp);
    Put32(D, 32, ClrUsed);
  }
  return D;
}

// What the decoder did: the pixels it put as "x,row=index" and how it ended.
struct TRun {
  std::vector<std::string> Pixels;
  TDIBRLEEnd End;
  int32_t Rows = 0;
};
TRun Decode(const std::vector<uint8_t>& Codes, bool RLE4, int64_t W, int64_t H,
            int64_t StopAt = -1) {
  TRun R;
  R.End = QLDecodeDIBRLE(
      Codes.data(), Codes.size(), RLE4, W, H,
      [&](int64_t X, int64_t Row, uint32_t I) {
        EXPECT_TRUE(X >= 0 && X < W && Row >= 0 && Row < H);
        R.Pixels.push_back(std::to_string(X) + "," + std::to_string(Row) + "=" + std::to_string(I));
      },
      [&](int64_t Row) {
        ++R.Rows;
        return Row != StopAt;
      });
  return R;
}

}  // namespace

TEST(DIBLayout, HeaderFormsPlaceMasksTableAndPixels) {
  // Core header: unsigned 16-bit sizes, 3-byte entries, the full table for 4 bits.
  std::vector<uint8_t> Core(12, 0);
  Put32(Core, 0, 12);
  Put16(Core, 4, 0x9000);
  Put16(Core, 6, 0xFFFF);
  Put16(Core, 10, 4);
  TDIBHeader H = QLParseDIBHeader(Core.data(), Core.size());
  EXPECT_EQ(H.Width, 0x9000);
  EXPECT_EQ(H.Height, 0xFFFF);
  EXPECT_FALSE(H.TopDown);
  EXPECT_EQ(H.PaletteEntrySize, 3u);
  EXPECT_EQ(H.InfoSize, 12u + 16 * 3);

  // 40 bytes, bit fields: the masks follow the header and the pixels follow the masks.
  auto D = Info(40, 3, -2, 16, kDIBBitFields, 0, 12);
  Put32(D, 40, 0xF800);
  Put32(D, 44, 0x07E0);
  Put32(D, 48, 0x001F);
  H = QLParseDIBHeader(D.data(), D.size());
  EXPECT_TRUE(H.TopDown);
  EXPECT_EQ(H.Height, 2);
  EXPECT_TRUE(H.MasksFollow());
  EXPECT_EQ(H.Masks, (std::array<uint32_t, 3>{0xF800, 0x07E0, 0x001F}));
  EXPECT_EQ(H.InfoSize, 52u);
  // The same masks inside a 124-byte header; a 64-byte one has other fields there.
  D = Info(124, 3, 2, 32, kDIBAlphaBitFields);
  Put32(D, 40, 0xFF);
  H = QLParseDIBHeader(D.data(), D.size());
  EXPECT_FALSE(H.MasksFollow());
  EXPECT_EQ(H.Masks[0], 0xFFu);
  EXPECT_EQ(H.InfoSize, 124u);
  D = Info(64, 3, 2, 32, kDIBBitFields, 0, 12);
  Put32(D, 40, 0xFF);
  Put32(D, 64, 0xFF00);
  H = QLParseDIBHeader(D.data(), D.size());
  EXPECT_TRUE(H.MasksFollow());
  EXPECT_EQ(H.Masks[0], 0xFF00u);
  EXPECT_EQ(H.InfoSize, 76u);

  // A table beside true colour counts, and a short table for 8 bits is as long as ClrUsed.
  EXPECT_EQ(QLParseDIBHeader(Info(40, 1, 1, 24, 0, 3).data(), 40).InfoSize, 40u + 12);
  EXPECT_EQ(QLParseDIBHeader(Info(40, 1, 1, 8, 0, 2).data(), 40).InfoSize, 40u + 8);
  EXPECT_EQ(QLParseDIBHeader(Info(40, 1, 1, 8, 0).data(), 40).InfoSize, 40u + 1024);

  // A 16-byte OS/2 header: what follows it is the table, not compression or colour counts.
  D = Info(16, 2, 2, 1, 0, 0, 24);
  std::fill(D.begin() + 16, D.end(), uint8_t{0x77});
  H = QLParseDIBHeader(D.data(), D.size());
  EXPECT_EQ(H.Compression, 0u);
  EXPECT_EQ(H.ClrUsed, 0u);
  EXPECT_EQ(H.InfoSize, 16u + 8);
  // Entries past the data read as black; one cut short keeps the bytes that are there.
  const uint8_t Table[] = {1, 2, 3, 0, 4, 5};
  EXPECT_EQ(QLDIBTableEntry(Table, sizeof Table, 4, 0), 0x030201u);
  EXPECT_EQ(QLDIBTableEntry(Table, sizeof Table, 4, 1), 0x000504u);
  EXPECT_EQ(QLDIBTableEntry(Table, sizeof Table, 4, 1u << 30), 0u);
}

TEST(DIBLayout, RunLengthCodesStayInsideTheBitmap) {
  // RLE4: a run alternates the nibbles, high first; pixels past the width are dropped.
  TRun R = Decode({5, 0x12, 0, 1}, true, 3, 1);
  EXPECT_EQ(R.Pixels, (std::vector<std::string>{"0,0=1", "1,0=2", "2,0=1"}));
  EXPECT_EQ(R.End, TDIBRLEEnd::EndCode);
  // End of line moves up a row; a delta moves right and up; leaving the rows ends the codes.
  R = Decode({1, 7, 0, 0, 0, 2, 1, 0, 1, 8, 0, 2, 0, 5, 1, 9}, false, 4, 2);
  EXPECT_EQ(R.Pixels, (std::vector<std::string>{"0,0=7", "1,1=8"}));
  EXPECT_EQ(R.End, TDIBRLEEnd::Rows);
  EXPECT_EQ(R.Rows, 1);
  R = Decode({0, 0, 0, 0, 1, 3}, false, 4, 2);
  EXPECT_EQ(R.End, TDIBRLEEnd::Rows);
  EXPECT_TRUE(R.Pixels.empty());
  // An absolute run (RLE8: 3 bytes padded to 4; RLE4: 3 nibbles in 2 bytes) and one cut short,
  // which keeps its pixels that are there.
  R = Decode({0, 3, 4, 5, 6, 0, 1, 9}, false, 8, 1);
  EXPECT_EQ(R.Pixels, (std::vector<std::string>{"0,0=4", "1,0=5", "2,0=6", "3,0=9"}));
  R = Decode({0, 3, 0x45, 0x60, 1, 0x99}, true, 8, 1);
  EXPECT_EQ(R.Pixels.size(), 4u);
  EXPECT_EQ(R.Pixels[2], "2,0=6");
  R = Decode({0, 5, 1, 2}, false, 8, 1);
  EXPECT_EQ(R.Pixels, (std::vector<std::string>{"0,0=1", "1,0=2"}));
  EXPECT_EQ(R.End, TDIBRLEEnd::Truncated);
  // A delta cut short just ends the data; NextRow can stop the decoding.
  EXPECT_EQ(Decode({0, 2, 1}, false, 4, 4).End, TDIBRLEEnd::Data);
  EXPECT_EQ(Decode({0, 0, 0, 0, 1, 1}, false, 4, 4, 2).End, TDIBRLEEnd::Stopped);
  // Hostile codes on a 1 x 1 bitmap: long runs and deltas far to the right write one pixel.
  std::vector<uint8_t> Junk;
  for (int32_t K = 0; K < 4096; ++K) Junk.insert(Junk.end(), {255, 1, 0, 2, 255, 0});
  R = Decode(Junk, false, 1, 1);
  EXPECT_EQ(R.Pixels.size(), 1u);
  EXPECT_EQ(R.End, TDIBRLEEnd::Data);
}

// Codes handed over in parts decode exactly as the whole: the same pixels, the same ending, and
// a cut at any place, including inside a run or a delta.
TEST(DIBLayout, RLECodesInPartsDecodeAsTheWhole) {
  uint32_t Seed = 12345;
  auto Next = [&] { return (Seed = Seed * 1103515245u + 12345u) >> 16; };
  for (int Trial = 0; Trial < 60; ++Trial) {
    // Codes biased to the interesting ones: runs, absolute runs, ends of line, deltas.
    std::vector<uint8_t> Codes;
    while (Codes.size() < 3000) {
      switch (Next() % 5) {
        case 0:
          Codes.insert(Codes.end(), {uint8_t(Next() % 40 + 1), uint8_t(Next())});
          break;
        case 1: {
          const uint8_t N = uint8_t(Next() % 253 + 3);
          Codes.insert(Codes.end(), {0, N});
          for (int K = 0; K < N + (N & 1); ++K) Codes.push_back(uint8_t(Next()));
          break;
        }
        case 2:
          Codes.insert(Codes.end(), {0, 0});
          break;
        case 3:
          Codes.insert(Codes.end(), {0, 2, uint8_t(Next() % 5), uint8_t(Next() % 2)});
          break;
        default:
          Codes.push_back(uint8_t(Next()));
          break;  // anything, even odd alignment
      }
    }
    if (Trial % 3 == 0) Codes.resize(Codes.size() - Next() % 200);  // cut anywhere
    const bool RLE4 = Trial % 2 == 1;
    const TRun Whole = Decode(Codes, RLE4, 300, 80);
    TRun Parts;
    TDIBRLECursor Cursor;
    size_t At = 0;
    for (;;) {
      const size_t Len = std::min(Codes.size() - At, size_t(kDIBRLELongestCode + Next() % 700));
      const bool More = At + Len < Codes.size();
      size_t Used = 0;
      Parts.End = QLDecodeDIBRLEPart(
          Codes.data() + At, Len, More, Cursor, Used, RLE4, 300, 80,
          [&](int64_t X, int64_t Row, uint32_t I) {
            Parts.Pixels.push_back(std::to_string(X) + "," + std::to_string(Row) + "=" +
                                   std::to_string(I));
          },
          [&](int64_t) {
            ++Parts.Rows;
            return true;
          });
      if (Parts.End != TDIBRLEEnd::Data || !More) break;
      ASSERT_GT(Used, 0u);
      At += Used;
    }
    EXPECT_EQ(Parts.End, Whole.End) << Trial;
    EXPECT_EQ(Parts.Rows, Whole.Rows) << Trial;
    EXPECT_TRUE(Parts.Pixels == Whole.Pixels) << Trial;
  }
}
