#include <gtest/gtest.h>

#include <cstring>

#include "quillo/codecs/bmp.h"
#include "quillo/core/pixels.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

struct IconRead {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  IconRead(const std::vector<uint8_t>& Bytes, int32_t Index, bool Cursor, TRGB Background,
           bool Preview = false) {
    Params.IcoImageIndex = Params.CurImageIndex = Index;
    Params.IcoBackground = Params.CurBackground = Background;
    TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TProgressRec P = QLProgressRec(nullptr, nullptr, Aborted);
    if (Cursor)
      CURReadStream(S, Bitmap, Params, Preview, P);
    else
      ICOReadStream(S, Bitmap, Params, Preview, P);
  }
};

void Put16(std::vector<uint8_t>& V, uint32_t X) {
  V.insert(V.end(), {uint8_t(X), uint8_t(X >> 8)});
}
void Put32(std::vector<uint8_t>& V, uint32_t X) {
  V.insert(V.end(), {uint8_t(X), uint8_t(X >> 8), uint8_t(X >> 16), uint8_t(X >> 24)});
}

// One icon image: 40-byte header, palette, colour rows and mask rows given raw.
std::vector<uint8_t> OneImageIcon(uint16_t Type, int32_t W, int32_t H, uint16_t Bits,
                                  const std::vector<uint8_t>& Palette,
                                  const std::vector<uint8_t>& Rows,
                                  const std::vector<uint8_t>& Mask, uint16_t HotX = 0,
                                  uint16_t HotY = 0) {
  std::vector<uint8_t> Img;
  Put32(Img, 40);
  Put32(Img, static_cast<uint32_t>(W));
  Put32(Img, static_cast<uint32_t>(H * 2));
  Put16(Img, 1);
  Put16(Img, Bits);
  for (int I = 0; I < 6; ++I) Put32(Img, 0);
  Img.insert(Img.end(), Palette.begin(), Palette.end());
  Img.insert(Img.end(), Rows.begin(), Rows.end());
  Img.insert(Img.end(), Mask.begin(), Mask.end());
  std::vector<uint8_t> V;
  Put16(V, 0);
  Put16(V, Type);
  Put16(V, 1);
  V.push_back(static_cast<uint8_t>(W));
  V.push_back(static_cast<uint8_t>(H));
  V.push_back(static_cast<uint8_t>(Palette.size() / 4));
  V.push_back(0);
  Put16(V, Type == 2 ? HotX : 1);
  Put16(V, Type == 2 ? HotY : Bits);
  Put32(V, static_cast<uint32_t>(Img.size()));
  Put32(V, 22);
  V.insert(V.end(), Img.begin(), Img.end());
  return V;
}

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}

const TRGB White = CreateRGB(255, 255, 255), Black = CreateRGB(0, 0, 0);

}  // namespace

TEST(ICO, FourBitOnePixelWideWithMask) {
  // 1 x 2, 4-bit: bottom row index 1 (red), top row index 2 (blue) but masked.
  std::vector<uint8_t> Pal(16 * 4, 0);
  Pal[4 + 2] = 255;  // index 1 red
  Pal[8] = 255;      // index 2 blue
  std::vector<uint8_t> Rows = {0x10, 0, 0, 0, 0x2F, 0, 0, 0};
  std::vector<uint8_t> Mask = {0x00, 0, 0, 0, 0x80, 0, 0, 0};
  std::vector<uint8_t> Ico = OneImageIcon(1, 1, 2, 4, Pal, Rows, Mask);
  IconRead R(Ico, 0, false, CreateRGB(1, 2, 3));
  ASSERT_FALSE(R.Aborted);
  ASSERT_EQ(R.Bitmap.GetWidth(), 1);
  ASSERT_EQ(R.Bitmap.GetHeight(), 2);
  EXPECT_EQ(Px(R.Bitmap, 0, 1), CreateRGB(255, 0, 0));
  EXPECT_EQ(Px(R.Bitmap, 0, 0), CreateRGB(1, 2, 3));
  EXPECT_EQ(R.Params.BitsPerSample, 4);
  EXPECT_EQ(R.Params.ColorMapCount, 16);
  // The padding of the one-pixel row never leaks into a second pixel.
  EXPECT_EQ(R.Bitmap.ScanLine(1)[3], 0);
}

TEST(ICO, OneBitMaskXorsOnWhiteOnly) {
  // 8 x 1: colour bits 0b00110011, mask 0b01010101.
  std::vector<uint8_t> Pal = {0, 0, 0, 0, 255, 255, 255, 0};
  std::vector<uint8_t> Ico = OneImageIcon(1, 8, 1, 1, Pal, {0x33, 0, 0, 0}, {0x55, 0, 0, 0});
  IconRead OnWhite(Ico, 0, false, White);
  ASSERT_FALSE(OnWhite.Aborted);
  EXPECT_EQ(OnWhite.Bitmap.GetPixelFormat(), pf1bit);
  EXPECT_EQ(OnWhite.Bitmap.ScanLine(0)[0], 0x33 ^ 0x55);
  IconRead OnBlack(Ico, 0, false, Black);
  EXPECT_EQ(OnBlack.Bitmap.ScanLine(0)[0], 0x33);
}

TEST(ICO, CursorsCarryTheirHotSpot) {
  std::vector<uint8_t> Pal(256 * 4, 0);
  Pal[5 * 4 + 1] = 200;  // index 5 green
  std::vector<uint8_t> Rows = {5, 5, 0, 0, 5, 0, 0, 0};
  std::vector<uint8_t> Mask = {0x40, 0, 0, 0, 0, 0, 0, 0};
  std::vector<uint8_t> Cur = OneImageIcon(2, 2, 2, 8, Pal, Rows, Mask, 7, 9);
  EXPECT_TRUE(CURTryStream(*std::make_unique<TMemoryViewStream>(Cur.data(), Cur.size())));
  EXPECT_FALSE(ICOTryStream(*std::make_unique<TMemoryViewStream>(Cur.data(), Cur.size())));
  IconRead R(Cur, 0, true, CreateRGB(9, 9, 9));
  ASSERT_FALSE(R.Aborted);
  EXPECT_EQ(R.Params.CurXHotSpot, 7);
  EXPECT_EQ(R.Params.CurYHotSpot, 9);
  EXPECT_EQ(R.Params.SamplesPerPixel, 1);
  EXPECT_EQ(Px(R.Bitmap, 0, 1), CreateRGB(0, 200, 0));
  EXPECT_EQ(Px(R.Bitmap, 1, 1), CreateRGB(9, 9, 9));
  EXPECT_EQ(Px(R.Bitmap, 1, 0), CreateRGB(0, 0, 0));
}

TEST(ICO, DetectionIndexesAndFallbacks) {
  std::vector<uint8_t> Pal = {0, 0, 0, 0, 255, 255, 255, 0};
  std::vector<uint8_t> Ico = OneImageIcon(1, 8, 1, 1, Pal, {0xFF, 0, 0, 0}, {0, 0, 0, 0});
  TMemoryViewStream S(Ico.data(), static_cast<int64_t>(Ico.size()));
  S.SetPosition(0);
  EXPECT_TRUE(ICOTryStream(S));
  EXPECT_EQ(S.GetPosition(), 0);
  // An image offset pointing back into the directory is not an icon.
  std::vector<uint8_t> Bad = Ico;
  Bad[18] = 4;
  TMemoryViewStream B(Bad.data(), static_cast<int64_t>(Bad.size()));
  EXPECT_FALSE(ICOTryStream(B));
  // An index outside the directory changes nothing and is no error.
  IconRead Out(Ico, 3, false, White);
  EXPECT_FALSE(Out.Aborted);
  EXPECT_TRUE(Out.Bitmap.Empty());
  // A stream that starts with "BM" is read as a bitmap.
  TBitmap Src = RandomBitmap24(5, 4, 1);
  TMemoryStream Bmp;
  TIOParamsVals P;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  BMPWriteStream(Bmp, Src, P, Prog);
  IconRead AsBmp(Bmp.Data(), 0, false, White);
  ASSERT_FALSE(AsBmp.Aborted);
  EXPECT_TRUE(SamePixels(AsBmp.Bitmap, Src));
  // Every truncation of the icon ends cleanly.
  for (size_t Cut = 0; Cut < Ico.size(); ++Cut) {
    IconRead T(std::vector<uint8_t>(Ico.begin(), Ico.begin() + static_cast<ptrdiff_t>(Cut)), 0,
               false, White);
    (void)T;
  }
}

TEST(ICO, WeReadWhatPeersWrite) {
  if (!HaveProgram("convert") || !HaveProgram("ppmtowinicon")) GTEST_SKIP() << "peer tools missing";
  TempDir Dir;
  const std::string D = Dir.Path() + "/";
  // Several sizes in one file, 32-bit from ImageMagick.
  TBitmap A = RandomBitmap24(16, 16, 1), B = RandomBitmap24(32, 32, 2),
          C = RandomBitmap24(48, 48, 3);
  WriteReferencePPM(A, D + "a.ppm");
  WriteReferencePPM(B, D + "b.ppm");
  WriteReferencePPM(C, D + "c.ppm");
  ASSERT_EQ(RunCommand("convert " + D + "a.ppm " + D + "b.ppm " + D + "c.ppm " + D + "im.ico"), 0);
  std::vector<uint8_t> Im = ReadFileBytes(D + "im.ico");
  const TBitmap* Expect[] = {&A, &B, &C};
  for (int32_t I = 0; I < 3; ++I) {
    IconRead R(Im, I, false, White);
    ASSERT_FALSE(R.Aborted) << I;
    EXPECT_TRUE(SamePixels(R.Bitmap, *Expect[I])) << I;
  }
  // Palette icons with an AND mask from netpbm: 1, 4 and 8 bits by colour count.
  for (int32_t Colours : {2, 16, 200}) {
    TBitmap Src(13, 7, pf24bit), MaskImg(13, 7, pf24bit);
    for (int32_t Y = 0; Y < 7; ++Y)
      for (int32_t X = 0; X < 13; ++X) {
        int32_t K = (X * 5 + Y * 3) % Colours;
        uint8_t V = static_cast<uint8_t>(Colours == 2 ? K * 255 : K);
        reinterpret_cast<TRGB*>(Src.ScanLine(Y))[X] =
            CreateRGB(V, static_cast<uint8_t>(255 - V), static_cast<uint8_t>(V / 2));
        uint8_t M = ((X + Y) % 4 == 0) ? 0 : 255;  // black in the AND image means transparent
        reinterpret_cast<TRGB*>(MaskImg.ScanLine(Y))[X] = CreateRGB(M, M, M);
      }
    WriteReferencePPM(Src, D + "s.ppm");
    WriteReferencePPM(MaskImg, D + "m.ppm");
    ASSERT_EQ(RunCommand("ppmtopgm " + D + "m.ppm > " + D + "m.pgm && ppmtowinicon -andpgms " + D +
                         "s.ppm " + D + "m.pgm > " + D + "nb.ico 2>/dev/null"),
              0);
    std::vector<uint8_t> Nb = ReadFileBytes(D + "nb.ico");
    TRGB Bg = CreateRGB(17, 34, 51);
    IconRead R(Nb, 0, false, Bg);
    ASSERT_FALSE(R.Aborted) << Colours;
    // A 1-bit icon of two colours other than black and white keeps them, like the deeper ones.
    EXPECT_EQ(R.Bitmap.GetPixelFormat(), pf24bit) << Colours;
    for (int32_t Y = 0; Y < 7; ++Y)
      for (int32_t X = 0; X < 13; ++X) {
        bool Transparent = (X + Y) % 4 == 0;
        EXPECT_EQ(Px(R.Bitmap, X, Y), Transparent ? Bg : Px(Src, X, Y))
            << Colours << " " << X << "," << Y;
      }
  }
}
