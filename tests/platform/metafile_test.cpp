#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "quillo/platform/canvas.h"
#include "quillo/platform/metafile.h"
#include "tests/support/metafile_writer.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

const std::string kDir = std::string(QUILLO_TEST_DATA_DIR) + "/metafile/";

// A raster through ImageMagick as 24-bit pixels over white (empty when the tool is missing).
TBitmap Decode(const std::string& Args) {
  std::string Out;
  if (!test::HaveProgram("convert") ||
      test::RunCommand("convert " + Args + " -background white -flatten -depth 8 ppm:-", &Out) != 0)
    return TBitmap();
  int32_t W = 0, H = 0, Max = 0, Used = 0;
  if (std::sscanf(Out.c_str(), "P6 %d %d %d%n", &W, &H, &Max, &Used) != 3 || Max != 255)
    return TBitmap();
  size_t Off = static_cast<size_t>(Used) + 1;
  if (Out.size() < Off + size_t(W) * size_t(H) * 3) return TBitmap();
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      const auto* P = reinterpret_cast<const uint8_t*>(Out.data()) + Off + (size_t(Y) * W + X) * 3;
      uint8_t* D = B.ScanLine(Y) + X * 3;
      D[0] = P[2];
      D[1] = P[1];
      D[2] = P[0];
    }
  return B;
}

TBitmap Play(const TMetafile& M, int32_t W, int32_t H) {
  TBitmap B(W, H, pf24bit);
  B.Canvas().Brush().SetColor(clWhite);
  B.Canvas().FillRect(Rect(0, 0, W, H));
  M.Play(B.Canvas(), Rect(0, 0, W, H));
  return B;
}

// Share of pixels differing by more than a third of the range in some channel: antialiased
// references differ from plain rendering along edges only.
double Mismatch(const TBitmap& A, const TBitmap& B) {
  int32_t W = std::min(A.GetWidth(), B.GetWidth()), H = std::min(A.GetHeight(), B.GetHeight());
  int64_t Bad = 0;
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X)
      for (int32_t C = 0; C < 3; ++C)
        if (std::abs(A.ScanLine(Y)[X * 3 + C] - B.ScanLine(Y)[X * 3 + C]) > 85) {
          ++Bad;
          break;
        }
  return double(Bad) / (double(W) * H);
}

}  // namespace

TEST(MetafileFromTools, MatchesTheToolsOwnRaster) {
  for (std::string Name : {"shapes", "text"}) {
    TBitmap Ref = Decode(kDir + Name + ".png");
    if (!PeerAvailable(!Ref.Empty(), "ImageMagick's convert")) GTEST_SKIP();
    for (std::string Ext : {".wmf", ".emf"}) {
      SCOPED_TRACE(Name + Ext);
      TMetafile M;
      M.LoadFromFile(kDir + Name + Ext);
      EXPECT_EQ(M.GetEnhanced(), Ext == ".emf");
      EXPECT_NEAR(M.GetWidth(), Ref.GetWidth(), 2);
      EXPECT_NEAR(M.GetHeight(), Ref.GetHeight(), 2);
      TBitmap Out = Play(M, Ref.GetWidth(), Ref.GetHeight());
      EXPECT_LT(Mismatch(Out, Ref), Name == "text" ? 0.05 : 0.02);
    }
  }
}

TEST(MetafileFromTools, WmfAgreesWithImageMagick) {
  TBitmap Peer = Decode("-density 96 " + kDir + "shapes.wmf");
  if (!PeerAvailable(!Peer.Empty(), "ImageMagick's WMF renderer")) GTEST_SKIP();
  TMetafile M;
  M.LoadFromFile(kDir + "shapes.wmf");
  TBitmap Out = Play(M, Peer.GetWidth(), Peer.GetHeight());
  EXPECT_LT(Mismatch(Out, Peer), 0.04);
}

TEST(MetafileWmf, MappingObjectsStateAndClip) {
  TWmf W;
  W.Rec(0x0103, {8});              // anisotropic
  W.Rec(0x020B, {0, 0});           // window origin
  W.Rec(0x020C, {200, 200});       // window extent 200 x 200 logical units
  W.Rec(0x02FC, {0, 0xFF, 0, 0});  // brush: solid red -> object 0
  W.Rec(0x02FA, {5, 0, 0, 0, 0});  // null pen -> object 1
  W.Rec(0x012D, {0});
  W.Rec(0x012D, {1});
  W.Rec(0x001E, {});                // save
  W.Rec(0x0416, {100, 100, 0, 0});  // intersect clip: bottom, right, top, left
  W.Rec(0x041B, {200, 200, 0, 0});  // rectangle over everything: only the clip is painted
  W.Rec(0x0127, {-1});              // restore: clip gone
  W.Rec(0x01F0, {0});               // delete the red brush; the next object takes slot 0
  W.Rec(0x02FC, {0, 0, 0xFF, 0});   // blue (colour as two words: red-green, blue)
  W.Rec(0x012D, {0});
  W.Rec(0x041B, {200, 200, 150, 150});
  TMetafile M;
  auto Bytes = W.Finish(20, 20);
  M.LoadFromBytes(Bytes.data(), Bytes.size());
  EXPECT_FALSE(M.GetEnhanced());
  EXPECT_EQ(M.GetWidth(), 20);
  TBitmap B = Play(M, 20, 20);
  // 200 logical units over 20 pixels: the clip covers pixels 0..9, the blue box 15..18.
  EXPECT_EQ(B.Canvas().GetPixel(5, 5), clRed);
  EXPECT_EQ(B.Canvas().GetPixel(10, 5), clWhite);
  EXPECT_EQ(B.Canvas().GetPixel(16, 16), clBlue);
  EXPECT_EQ(B.Canvas().GetPixel(12, 12), clWhite);
  // The canvas gets its own state back.
  EXPECT_EQ(B.Canvas().Brush().GetColor(), clWhite);
  EXPECT_FALSE(B.Canvas().HasClipRegion());
}

TEST(MetafileWmf, TextLinesAndStretchedBitmaps) {
  TWmf W;
  W.Rec(0x0213, {5, 19});  // line to (19, 5) from (0, 0): end excluded
  // A 2 x 2 24-bit DIB, bottom-up: blue, green / red, white; stretched to 4 x 4 at (10, 10).
  std::vector<int32_t> Dib = {0x0020, 0x00CC,          // SRCCOPY
                              0,      0,               // usage (STRETCHDIB)
                              2,      2,      0,  0,   // src h, w, y, x
                              4,      4,      10, 10,  // dest h, w, y, x
                              40,     0,      2,  0,  2, 0, 1, 24, 0, 0,
                              16,     0,      0,  0,  0, 0, 0, 0,  0, 0};
  // Rows of 8 bytes: bottom row blue, green; top row red, white.
  for (int32_t V : {0x00FF, 0x0000, 0x00FF, 0, 0x0000, 0xFFFF, 0xFFFF, 0}) Dib.push_back(V);
  Dib.erase(Dib.begin() + 2);  // STRETCHDIB has rop then usage: one word for usage
  W.Rec(0x0F43, Dib);
  TMetafile M;
  auto Bytes = W.Finish(20, 20);
  M.LoadFromBytes(Bytes.data(), Bytes.size());
  TBitmap B = Play(M, 20, 20);
  EXPECT_EQ(B.Canvas().GetPixel(0, 0), clBlack);
  EXPECT_EQ(B.Canvas().GetPixel(18, 5), clBlack);
  EXPECT_EQ(B.Canvas().GetPixel(19, 5), clWhite);
  EXPECT_EQ(B.Canvas().GetPixel(10, 10), clRed);
  EXPECT_EQ(B.Canvas().GetPixel(13, 10), clWhite);
  EXPECT_EQ(B.Canvas().GetPixel(10, 13), clBlue);
  EXPECT_EQ(B.Canvas().GetPixel(13, 13), clLime);
}

TEST(MetafileEmf, WorldTransformRegionsAndText) {
  TEmf E;
  E.Rec(39, {1, 0, 0x0000FF, 0});  // brush 1: red
  E.Rec(37, {1});
  E.Rec(37, {0x80000008});  // stock null pen
  // Rotate by 90 degrees about the origin then move right by 40: x' = -y + 40, y' = x.
  E.W32(35);
  E.W32(32);
  E.F32(0);
  E.F32(1);
  E.F32(-1);
  E.F32(0);
  E.F32(40);
  E.F32(0);
  E.Rec(43, {0, 0, 30, 10});         // rectangle 0..30 x 0..10 -> device x 30..40, y 0..30
  E.Rec(36, {0, 0, 0, 0, 0, 0, 1});  // identity
  // Clip to a region of one rectangle, then fill a big rectangle in blue.
  E.Rec(75, {48, 5, 32, 1, 1, 16, 0, 0, 10, 10, 0, 0, 10, 10});
  E.Rec(39, {2, 0, 0xFF0000, 0});
  E.Rec(37, {2});
  E.Rec(43, {0, 0, 50, 50});
  E.Rec(75, {0, 5});  // clip reset
  TMetafile M;
  auto Bytes = E.Finish(50, 40);
  M.LoadFromBytes(Bytes.data(), Bytes.size());
  EXPECT_TRUE(M.GetEnhanced());
  EXPECT_EQ(M.GetWidth(), 50);
  EXPECT_EQ(M.GetHeight(), 40);
  TBitmap B = Play(M, 50, 40);
  EXPECT_EQ(B.Canvas().GetPixel(35, 20), clRed);
  EXPECT_EQ(B.Canvas().GetPixel(25, 5), clWhite);
  EXPECT_EQ(B.Canvas().GetPixel(35, 35), clWhite);
  // The 10 x 10 device region took the blue fill, nothing outside it did.
  EXPECT_EQ(B.Canvas().GetPixel(5, 5), clBlue);
  EXPECT_EQ(B.Canvas().GetPixel(15, 5), clWhite);
}

TEST(MetafileWmf, PlainFilesPiesAndText) {
  // Without the placeable header the size comes from the window the file sets up.
  TWmf W;
  W.Rec(0x0103, {8});
  W.Rec(0x020B, {0, 0});
  W.Rec(0x020C, {30, 40});  // window extent: y 30, x 40
  W.Rec(0x02FC, {0, 0xFF, 0, 0});
  W.Rec(0x012D, {0});
  W.Rec(0x02FA, {5, 0, 0, 0, 0});
  W.Rec(0x012D, {1});
  // Pie: end (y, x), start (y, x), box bottom, right, top, left. From 3 o'clock
  // counterclockwise to 12 o'clock: the top-right quarter.
  W.Rec(0x081A, {0, 10, 10, 20, 21, 21, 0, 0});
  // Text: count, string (padded), y, x; the font: 14 pixels, DejaVu Sans.
  std::vector<int32_t> Font = {-14, 0, 0, 0, 400, 0, 0, 0};
  const char Face[] = "DejaVu Sans";
  for (size_t I = 0; I < 32; I += 2)
    Font.push_back((I < sizeof Face ? uint8_t(Face[I]) : 0) |
                   ((I + 1 < sizeof Face ? uint8_t(Face[I + 1]) : 0) << 8));
  W.Rec(0x02FB, Font);
  W.Rec(0x012D, {2});
  W.Rec(0x0102, {1});  // transparent background
  W.Rec(0x0521, {2, 'H' | ('i' << 8), 10, 24});
  auto Bytes = W.Finish(0, 0);
  Bytes.erase(Bytes.begin(), Bytes.begin() + 22);
  TMetafile M;
  M.LoadFromBytes(Bytes.data(), Bytes.size());
  EXPECT_EQ(M.GetWidth(), 40);
  EXPECT_EQ(M.GetHeight(), 30);
  TBitmap B = Play(M, 40, 30);
  EXPECT_EQ(B.Canvas().GetPixel(14, 6), clRed);
  EXPECT_EQ(B.Canvas().GetPixel(6, 6), clWhite);
  EXPECT_EQ(B.Canvas().GetPixel(14, 14), clWhite);
  int32_t Ink = 0;
  for (int32_t Y = 10; Y < 30; ++Y)
    for (int32_t X = 24; X < 40; ++X) Ink += B.Canvas().GetPixel(X, Y) != clWhite;
  EXPECT_GT(Ink, 10);
}

TEST(MetafileEmf, UnicodeTextAndDashedPens) {
  TEmf E;
  // Font 3: 16 pixels high, face DejaVu Sans.
  std::vector<uint32_t> F = {3, uint32_t(-16), 0, 0, 0, 400, 0, 0};
  std::u16string Face = u"DejaVu Sans";
  for (size_t I = 0; I < 32; I += 2)
    F.push_back((I < Face.size() ? Face[I] : 0) | ((I + 1 < Face.size() ? Face[I + 1] : 0) << 16));
  E.Rec(82, F);
  E.Rec(37, {3});
  E.Rec(18, {1});
  // Text "\u00C5b" at (5, 5): bounds, mode, scales, reference, count, offset 76, options, rect, dx.
  E.Rec(84, {0, 0, 0, 0, 1, 0, 0, 5, 5, 2, 76, 0, 0, 0, 0, 0, 0, 0x00C5 | ('b' << 16)});
  // A geometric pen of width 4 with a user style of 8 on, 8 off, flat caps.
  E.Rec(95, {1, 0, 0, 0, 0, 0x10000 | 0x200 | 7, 4, 0, 0x0000FF, 0, 2, 8, 8});
  E.Rec(37, {1});
  E.Rec(4, {0, 0, 0, 0, 2, 0, 40, 64, 40});  // polyline (0, 40) - (64, 40)
  TMetafile M;
  auto Bytes = E.Finish(64, 48);
  M.LoadFromBytes(Bytes.data(), Bytes.size());
  TBitmap B = Play(M, 64, 48);
  int32_t Ink = 0;
  for (int32_t Y = 0; Y < 30; ++Y)
    for (int32_t X = 0; X < 64; ++X) Ink += B.Canvas().GetPixel(X, Y) != clWhite;
  EXPECT_GT(Ink, 20);
  // Dashes of 8 pixels with gaps of 8 along row 40.
  std::string Row;
  for (int32_t X = 0; X < 32; ++X) Row += B.Canvas().GetPixel(X, 40) == clRed ? '#' : '.';
  EXPECT_EQ(Row, "########........########........");
  EXPECT_EQ(B.Canvas().GetPixel(4, 38), clRed);
  EXPECT_EQ(B.Canvas().GetPixel(4, 42), clWhite);
}

TEST(MetafileRobustness, BadInputEndsQuietly) {
  TMetafile M;
  const uint8_t Junk[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
  EXPECT_THROW(M.LoadFromBytes(Junk, sizeof Junk), EInvalidGraphic);
  // A record claiming more words than the file has ends the play; unknown records are skipped.
  TWmf W;
  W.Rec(0x7777, {1, 2, 3});
  W.Rec(0x041B, {10, 10, 0, 0});
  W.W32(0x7FFFFFFF);
  W.W16(0x041B);
  auto Bytes = W.Finish(10, 10);
  Bytes.resize(Bytes.size() - 6);  // drop the end record
  M.LoadFromBytes(Bytes.data(), Bytes.size());
  TBitmap B = Play(M, 10, 10);
  EXPECT_EQ(B.Canvas().GetPixel(0, 0), clBlack);
  // Every prefix of a real file plays without reading past its end.
  auto Real = test::ReadFileBytes(kDir + "text.emf");
  for (size_t N = 88; N < Real.size(); N += 37) {
    TMetafile T;
    T.LoadFromBytes(Real.data(), N);
    Play(T, 40, 20);
  }
  auto RealW = test::ReadFileBytes(kDir + "text.wmf");
  for (size_t N = 40; N < RealW.size(); N += 11) {
    TMetafile T;
    T.LoadFromBytes(RealW.data(), N);
    Play(T, 40, 20);
  }
}

TEST(DIBs, FormatsAndLimits) {
  // 1-bit with a two-colour palette, bottom-up, 3 x 2.
  std::vector<uint8_t> Info(40 + 8, 0);
  Info[0] = 40;
  Info[4] = 3;
  Info[8] = 2;
  Info[12] = 1;
  Info[14] = 1;
  Info[40] = 0xFF;                                             // entry 0: blue
  Info[44 + 2] = 0xFF;                                         // entry 1: red
  std::vector<uint8_t> Bits = {0xA0, 0, 0, 0, 0x40, 0, 0, 0};  // bottom row 101, top row 010
  TBitmap B;
  ASSERT_TRUE(QLDecodeDIB(Info.data(), Info.size(), Bits.data(), Bits.size(), B));
  EXPECT_EQ(Picture(B, clRed), (std::vector<std::string>{".#.", "#.#"}));
  // Too few pixel bytes for the header's size: refused, nothing allocated.
  Info[4] = 0xFF;
  Info[5] = 0x7F;
  EXPECT_FALSE(QLDecodeDIB(Info.data(), Info.size(), Bits.data(), Bits.size(), B));
  // RLE8: a run of 3 of entry 1, end of line, two literal pixels, end of bitmap.
  std::vector<uint8_t> R(40 + 8, 0);
  R[0] = 40;
  R[4] = 4;
  R[8] = 2;
  R[12] = 1;
  R[14] = 8;
  R[16] = 1;
  R[32] = 2;
  R[44 + 1] = 0xFF;  // entry 1: green
  std::vector<uint8_t> Rle = {3, 1, 0, 0, 0, 3, 1, 0, 1, 0, 0, 1};
  ASSERT_TRUE(QLDecodeDIB(R.data(), R.size(), Rle.data(), Rle.size(), B));
  EXPECT_EQ(Picture(B, clLime), (std::vector<std::string>{"#.#.", "###."}));
  // The core header's sizes are unsigned: a height of 0xFFFF is 65535 rows, not one top-down.
  std::vector<uint8_t> Core = {12, 0, 0, 0, 1, 0, 0xFF, 0xFF, 1, 0, 24, 0};
  std::vector<uint8_t> Row = {1, 2, 3, 0};
  EXPECT_FALSE(QLDecodeDIB(Core.data(), Core.size(), Row.data(), Row.size(), B));
  Core[6] = 1;
  Core[7] = 0;
  bool Down = true;
  ASSERT_TRUE(QLDecodeDIB(Core.data(), Core.size(), Row.data(), Row.size(), B, &Down));
  EXPECT_FALSE(Down);
}
