#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "quillo/core/pixels.h"
#include "quillo/proc/dib.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}
uint32_t LE32(const std::vector<uint8_t>& D, size_t O) {
  return D[O] | (D[O + 1] << 8) | (D[O + 2] << 16) | (static_cast<uint32_t>(D[O + 3]) << 24);
}
void Put32(std::vector<uint8_t>& D, size_t O, uint32_t V) {
  for (int32_t K = 0; K < 4; ++K) D[O + K] = static_cast<uint8_t>(V >> (8 * K));
}
// A 40-byte header, Extra bytes of palette or masks, then Pixels.
std::vector<uint8_t> DIB(int32_t W, int32_t H, int32_t Bits, uint32_t Compression,
                         const std::vector<uint8_t>& Extra, const std::vector<uint8_t>& Pixels,
                         uint32_t ClrUsed = 0) {
  std::vector<uint8_t> D(40);
  Put32(D, 0, 40);
  Put32(D, 4, static_cast<uint32_t>(W));
  Put32(D, 8, static_cast<uint32_t>(H));
  D[12] = 1;
  D[14] = static_cast<uint8_t>(Bits);
  Put32(D, 16, Compression);
  Put32(D, 32, ClrUsed);
  D.insert(D.end(), Extra.begin(), Extra.end());
  D.insert(D.end(), Pixels.begin(), Pixels.end());
  return D;
}
// A BMP file: the 14-byte file header before a packed DIB.
std::vector<uint8_t> AsBMPFile(const std::vector<uint8_t>& D, uint32_t PixelOffset) {
  std::vector<uint8_t> F(14);
  F[0] = 'B';
  F[1] = 'M';
  Put32(F, 2, static_cast<uint32_t>(D.size() + 14));
  Put32(F, 10, PixelOffset + 14);
  F.insert(F.end(), D.begin(), D.end());
  return F;
}

}  // namespace

TEST(DIB, BitmapToDIBLayout) {
  TBitmap Bw = RandomBitmap1(16, 3, 2);
  const std::vector<uint8_t> D = _CopyBitmaptoDIB(Bw, 3, 1, 14, 0);  // Y2 0: to the bottom
  ASSERT_EQ(D.size(), 40u + 8 + 4 * 2 + 4);
  EXPECT_EQ(LE32(D, 0), 40u);
  EXPECT_EQ(LE32(D, 4), 11u);
  EXPECT_EQ(LE32(D, 8), 2u);
  EXPECT_EQ(D[12], 1);
  EXPECT_EQ(D[14], 1);
  EXPECT_EQ(LE32(D, 40), 0u);
  EXPECT_EQ(LE32(D, 44), 0xFFFFFFFFu);
  // The first stored row is the bottom one; bits start at column 3.
  for (int32_t X = 0; X < 11; ++X) {
    EXPECT_EQ((D[48 + (X >> 3)] >> (7 - (X & 7))) & 1,
              (Bw.ScanLine(2)[(X + 3) >> 3] >> (7 - ((X + 3) & 7))) & 1);
    EXPECT_EQ((D[52 + (X >> 3)] >> (7 - (X & 7))) & 1,
              (Bw.ScanLine(1)[(X + 3) >> 3] >> (7 - ((X + 3) & 7))) & 1);
  }
  TBitmap C = RandomBitmap24(5, 4, 3);
  const std::vector<uint8_t> E = _CopyBitmaptoDIB(C, 1, 1, 3, 3);
  ASSERT_EQ(E.size(), 40u + 8 * 2 + 4);
  EXPECT_EQ(E[14], 24);
  EXPECT_EQ(std::memcmp(E.data() + 40, C.ScanLine(2) + 3, 6), 0);
  EXPECT_EQ(std::memcmp(E.data() + 48, C.ScanLine(1) + 3, 6), 0);
  // Other formats give a 24-bit DIB of their colours, never a header without pixels.
  TBitmap Eight = RandomBitmap24(6, 2, 4);
  Eight.SetPixelFormat(pf8bit);
  const std::vector<uint8_t> F = _CopyBitmaptoDIB(Eight, 0, 0, 0, 0);
  TBitmap Back;
  ASSERT_EQ(_CopyDIB2Bitmap(F.data(), F.size(), Back), 24);
  TBitmap Wide;
  Wide.Assign(Eight);
  Wide.SetPixelFormat(pf24bit);
  EXPECT_TRUE(SamePixels(Back, Wide));
}

TEST(DIB, RoundTripsAndClipping) {
  for (const TBitmap& B : {RandomBitmap24(7, 5, 1), RandomBitmap1(13, 4, 2)}) {
    const std::vector<uint8_t> D = _CopyBitmaptoDIB(B, 0, 0, 0, 0);
    TBitmap Back(1, 1, pf8bit);
    EXPECT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), Back), B.GetPixelFormat() == pf1bit ? 1 : 24);
    EXPECT_TRUE(SamePixels(Back, B));
    TBitmap Two;
    EXPECT_GT(_QLCopyDIB2Bitmap2(D.data(), D.size(), Two), 0);
    EXPECT_TRUE(SamePixels(Two, B));
  }
  // A rectangle reaching past the bitmap is clipped to it.
  TBitmap C = RandomBitmap24(4, 4, 9);
  const std::vector<uint8_t> D = _CopyBitmaptoDIB(C, 2, -3, 50, 50);
  EXPECT_EQ(LE32(D, 4), 2u);
  EXPECT_EQ(LE32(D, 8), 4u);
}

TEST(DIB, ReadsEveryDepthAndLayout) {
  TBitmap B;
  // 16 bits: 5-5-5 without masks (0x7FFF is 248 in every channel), 5-6-5 with them.
  auto D = DIB(2, 1, 16, 0, {}, {0xFF, 0x7F, 0x00, 0x7C});
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 16);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(248, 248, 248));
  EXPECT_EQ(Px(B, 1, 0), CreateRGB(248, 0, 0));
  D = DIB(3, 1, 16, 3, {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0},
          {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0});
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 16);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(248, 0, 0));
  EXPECT_EQ(Px(B, 1, 0), CreateRGB(0, 252, 0));
  EXPECT_EQ(Px(B, 2, 0), CreateRGB(0, 0, 248));
  // 4 bits, odd width, through the palette; 8 bits with a short palette (missing entries black).
  D = DIB(3, 1, 4, 0, {1, 2, 3, 0, 4, 5, 6, 0}, {0x10, 0x10, 0, 0}, 2);
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 4);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(6, 5, 4));
  EXPECT_EQ(Px(B, 1, 0), CreateRGB(3, 2, 1));
  EXPECT_EQ(Px(B, 2, 0), CreateRGB(6, 5, 4));
  D = DIB(2, 1, 8, 0, {1, 2, 3, 0}, {0, 200, 0, 0}, 1);
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 8);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(3, 2, 1));
  EXPECT_EQ(Px(B, 1, 0), CreateRGB(0, 0, 0));
  // 32 bits, rows stored top-down (negative height).
  D = DIB(1, -2, 32, 0, {}, {1, 2, 3, 99, 4, 5, 6, 99});
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 32);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(3, 2, 1));
  EXPECT_EQ(Px(B, 0, 1), CreateRGB(6, 5, 4));
  // 1 bit whose palette is white then black: bit 1 must still be white here.
  D = DIB(8, 1, 1, 0, {255, 255, 255, 0, 0, 0, 0, 0}, {0xF0, 0, 0, 0});
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 1);
  EXPECT_EQ(B.GetPixelFormat(), pf1bit);
  EXPECT_EQ(B.ScanLine(0)[0], 0x0F);
  // Run-length 8: a run of 3 of index 1, end of bitmap.
  D = DIB(3, 1, 8, 1, {0, 0, 0, 0, 9, 8, 7, 0}, {3, 1, 0, 1}, 2);
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 8);
  EXPECT_EQ(Px(B, 2, 0), CreateRGB(7, 8, 9));
  // YUY2 from separate bits: studio black and white; a positive height puts the first data row
  // at the top, Y41P and cyuv the other way round.
  D = DIB(2, 2, 16, QLFourCC('Y', 'U', 'Y', '2'), {}, {});
  const uint8_t Frame[8] = {16, 128, 235, 128, 235, 128, 235, 128};
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B, Frame, 8), 16);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(0, 0, 0));
  EXPECT_EQ(Px(B, 1, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(B, 0, 1), CreateRGB(255, 255, 255));
  D = DIB(2, 2, 16, QLFourCC('c', 'y', 'u', 'v'), {}, {});
  const uint8_t Uyvy[8] = {128, 16, 128, 16, 128, 235, 128, 235};
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B, Uyvy, 8), 16);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(B, 0, 1), CreateRGB(0, 0, 0));
  EXPECT_EQ(_QLCopyDIB2Bitmap2(D.data(), D.size(), B, Uyvy, 8), 0);
}

TEST(DIB, MalformedDIBsLeaveTheBitmapAlone) {
  TBitmap B = RandomBitmap24(3, 3, 1);
  const TBitmap Before = [&] {
    TBitmap C;
    C.Assign(B);
    return C;
  }();
  const std::vector<std::vector<uint8_t>> Bad = {
      DIB(4, 4, 24, 0, {}, std::vector<uint8_t>(47)),  // one byte short
      DIB(0, 4, 24, 0, {}, {}),                        // no width
      DIB(4, 0, 24, 0, {}, {}),                        // no height
      DIB(100000, 100000, 24, 0, {}, {}),              // beyond the pixel limit
      DIB(2, 2, 24, 3, std::vector<uint8_t>(12), std::vector<uint8_t>(16)),  // masks on 24 bits
      DIB(2, 2, 7, 0, {}, std::vector<uint8_t>(64)),                         // no such depth
      DIB(2, 2, 8, 0, {}, std::vector<uint8_t>(8), 300),                     // palette past the end
      DIB(2, 2, 8, 9, {}, std::vector<uint8_t>(8)),                          // unknown compression
      DIB(64, 64, 16, QLFourCC('I', '4', '2', '0'), {}, std::vector<uint8_t>(100)),
      std::vector<uint8_t>(20, 0),
  };
  for (const auto& D : Bad) {
    EXPECT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 0);
    EXPECT_EQ(_QLCopyDIB2Bitmap2(D.data(), D.size(), B), 0);
    EXPECT_TRUE(SamePixels(B, Before));
  }
  auto Header = DIB(2, 2, 24, 0, {}, std::vector<uint8_t>(16));
  Put32(Header, 0, 4000);  // a header longer than the block
  EXPECT_EQ(_CopyDIB2Bitmap(Header.data(), Header.size(), B), 0);
  EXPECT_EQ(_CopyDIB2Bitmap(nullptr, 0, B), 0);
}

TEST(DIB, PeerReadsOurDIBsAndWeReadThePeers) {
  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
  TempDir Dir;
  // Ours, behind a file header, read by ImageMagick.
  for (const TBitmap& B : {RandomBitmap24(13, 7, 5), RandomBitmap1(21, 6, 6)}) {
    const std::vector<uint8_t> D = _CopyBitmaptoDIB(B, 0, 0, 0, 0);
    WriteFileBytes(Dir.File("ours.bmp"), AsBMPFile(D, B.GetPixelFormat() == pf1bit ? 48 : 40));
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM("convert " + Dir.File("ours.bmp") + " -depth 8 ppm:" + Dir.File("p.ppm"),
                          Dir.File("p.ppm"), Peer));
    EXPECT_TRUE(SamePixels(Peer, As24(B)));
  }
  // ImageMagick's BMP files of 1, 4, 8 and 24 bits, file header stripped, read by us.
  WriteReferencePPM(RandomBitmap24(17, 9, 7), Dir.File("src.ppm"));
  const char* Kinds[] = {"-type bilevel", "-colors 12", "-colors 200", "-type truecolor"};
  for (const char* K : Kinds) {
    const std::string Bmp = Dir.File("peer.bmp");
    ASSERT_EQ(RunCommand("convert " + Dir.File("src.ppm") + " " + K + " BMP3:" + Bmp), 0) << K;
    TBitmap Want;
    ASSERT_TRUE(PeerToPNM("convert " + Bmp + " -depth 8 ppm:" + Dir.File("w.ppm"),
                          Dir.File("w.ppm"), Want));
    std::vector<uint8_t> F = ReadFileBytes(Bmp);
    ASSERT_GT(F.size(), 54u);
    TBitmap Got;
    EXPECT_GT(_CopyDIB2Bitmap(F.data() + 14, F.size() - 14, Got), 0) << K;
    EXPECT_TRUE(SamePixels(As24(Got), Want)) << K;
  }
}

// Where the pixels of a packed DIB begin: the three readers of DIB headers once disagreed on it.
TEST(DIB, PixelsFollowEveryTableTheHeaderAnnounces) {
  TBitmap B;
  // 24 bits with a colour table of one entry (a display hint): the pixels follow the table.
  auto D = DIB(1, 1, 24, 0, {9, 9, 9, 0}, {1, 2, 3, 0}, 1);
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 24);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(3, 2, 1));
  ASSERT_EQ(_QLCopyDIB2Bitmap2(D.data(), D.size(), B), 24);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(3, 2, 1));
  // A table announced but not there is refused like a short palette.
  D = DIB(1, 1, 24, 0, {}, {1, 2, 3, 0}, 2);
  EXPECT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 0);
  // A 64-byte header's bytes 40..52 are not masks: bit-field masks follow it.
  std::vector<uint8_t> Masks = std::vector<uint8_t>(24, 0x55);  // fields of the longer header
  for (uint32_t M : {0xF800u, 0x07E0u, 0x001Fu})
    Masks.insert(Masks.end(), {uint8_t(M), uint8_t(M >> 8), 0, 0});
  D = DIB(1, 1, 16, 3, Masks, {0x00, 0xF8, 0, 0});
  Put32(D, 0, 64);
  ASSERT_EQ(_CopyDIB2Bitmap(D.data(), D.size(), B), 16);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(248, 0, 0));
  ASSERT_EQ(_QLCopyDIB2Bitmap2(D.data(), D.size(), B), 16);
  EXPECT_EQ(Px(B, 0, 0), CreateRGB(255, 0, 0));
}
