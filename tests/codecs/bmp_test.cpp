#include <gtest/gtest.h>

#include <cstring>

#include "quillo/codecs/bmp.h"
#include "quillo/core/pixels.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// Reads a BMP held in memory; the constructor does the reading.
struct ReadResult {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  explicit ReadResult(const std::vector<uint8_t>& Bytes, bool Preview = false) {
    TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TProgressRec P = QLProgressRec(nullptr, nullptr, Aborted);
    BMPReadStream(S, Bitmap, 0, Params, P, Preview);
  }
};

std::vector<uint8_t> WriteBmpBytes(const TBitmap& B, TIOParamsVals& Params,
                                   bool* Aborted = nullptr) {
  TMemoryStream S;
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  BMPWriteStream(S, B, Params, P);
  if (Aborted) *Aborted = Abort;
  return S.Data();
}

void Put16(std::vector<uint8_t>& V, uint32_t X) {
  V.insert(V.end(), {uint8_t(X), uint8_t(X >> 8)});
}
void Put32(std::vector<uint8_t>& V, uint32_t X) {
  V.insert(V.end(), {uint8_t(X), uint8_t(X >> 8), uint8_t(X >> 16), uint8_t(X >> 24)});
}

// A BMP assembled by hand: file header, an info header of HeaderSize bytes (the fields after
// the 40th byte zero unless Extra fills them), then Tail (masks, palette, pixels).
std::vector<uint8_t> HandBmp(uint32_t HeaderSize, int32_t W, int32_t H, uint16_t Bits,
                             uint32_t Compression, const std::vector<uint8_t>& Tail,
                             uint32_t ClrUsed = 0, const std::vector<uint8_t>& Extra = {}) {
  std::vector<uint8_t> V = {'B', 'M'};
  Put32(V, 0);
  Put32(V, 0);
  Put32(V, 0);  // data offset 0: the pixels follow the palette
  Put32(V, HeaderSize);
  Put32(V, static_cast<uint32_t>(W));
  Put32(V, static_cast<uint32_t>(H));
  Put16(V, 1);
  Put16(V, Bits);
  Put32(V, Compression);
  Put32(V, 0);
  Put32(V, 2835);
  Put32(V, 2835);
  Put32(V, ClrUsed);
  Put32(V, 0);
  std::vector<uint8_t> Rest = Extra;
  Rest.resize(HeaderSize - 40, 0);
  V.insert(V.end(), Rest.begin(), Rest.end());
  V.insert(V.end(), Tail.begin(), Tail.end());
  return V;
}

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}

}  // namespace

TEST(BMP, TwentyFourBitRoundTripInEveryHeaderForm) {
  TBitmap Src = RandomBitmap24(37, 11, 7);
  for (TIOBMPVersion V : {ioBMP_BM, ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2}) {
    TIOParamsVals P;
    P.BmpVersion = V;
    P.DpiX = 300;
    P.DpiY = 72;
    std::vector<uint8_t> Bytes = WriteBmpBytes(Src, P);
    ReadResult R = ReadResult(Bytes);
    ASSERT_FALSE(R.Aborted);
    EXPECT_TRUE(SamePixels(Src, R.Bitmap)) << int(V);
    EXPECT_EQ(R.Params.BitsPerSample, 8);
    EXPECT_EQ(R.Params.SamplesPerPixel, 3);
    EXPECT_EQ(R.Params.BmpVersion, V == ioBMP_BM ? ioBMP_BM3 : V);
    if (V != ioBMP_BMOS2V1) {
      EXPECT_EQ(R.Params.DpiX, 300);
      EXPECT_EQ(R.Params.DpiY, 72);
      // Colours important holds 2^24 for 24-bit images.
      EXPECT_EQ(
          Bytes[14 + 36] | (Bytes[14 + 37] << 8) | (Bytes[14 + 38] << 16) | (Bytes[14 + 39] << 24),
          16777216);
    }
    // The file header carries the total size and the data offset.
    EXPECT_EQ(Bytes[2] | (Bytes[3] << 8) | (Bytes[4] << 16), static_cast<int>(Bytes.size()));
  }
}

TEST(BMP, OneBitImagesKeepTheirBitsAndPalettes) {
  TBitmap One = RandomBitmap1(45, 9, 3);
  TIOParamsVals P;
  P.BitsPerSample = 1;
  P.SamplesPerPixel = 1;
  ReadResult R = ReadResult(WriteBmpBytes(One, P));
  ASSERT_FALSE(R.Aborted);
  EXPECT_TRUE(SamePixels(One, R.Bitmap));
  EXPECT_EQ(R.Params.BitsPerSample, 1);

  // A two-colour 24-bit image is stored with its own colours, darker first.
  TBitmap Two(10, 3, pf24bit);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 10; ++X)
      reinterpret_cast<TRGB*>(Two.ScanLine(Y))[X] =
          (X % 3) ? CreateRGB(250, 240, 10) : CreateRGB(20, 0, 90);
  WriteBmpBytes(Two, P);
  ASSERT_EQ(P.ColorMapCount, 2);
  EXPECT_EQ(P.ColorMap[0], CreateRGB(20, 0, 90));
  EXPECT_EQ(P.ColorMap[1], CreateRGB(250, 240, 10));
}

TEST(BMP, OneBitWithWhiteFirstPaletteIsInverted) {
  // 8 x 2 pixels, bits 0xF0 in the bottom row and 0x0F in the top row.
  auto Make = [](TRGB First, TRGB Second) {
    std::vector<uint8_t> Tail = {First.b, First.g, First.r, 0, Second.b, Second.g, Second.r, 0,
                                 0xF0,    0,       0,       0, 0x0F,     0,        0,        0};
    return HandBmp(40, 8, 2, 1, 0, Tail, 2);
  };
  ReadResult Inv = ReadResult(Make(CreateRGB(255, 255, 255), CreateRGB(0, 0, 0)));
  ASSERT_FALSE(Inv.Aborted);
  EXPECT_EQ(Inv.Bitmap.ScanLine(0)[0], 0xF0);
  EXPECT_EQ(Inv.Bitmap.ScanLine(1)[0], 0x0F);
  ReadResult Kept = ReadResult(Make(CreateRGB(0, 0, 0), CreateRGB(255, 255, 255)));
  EXPECT_EQ(Kept.Bitmap.ScanLine(0)[0], 0x0F);
  // Two other colours cannot live in the black-and-white layout: they are read into 24 bits.
  ReadResult Other = ReadResult(Make(CreateRGB(255, 0, 0), CreateRGB(0, 0, 255)));
  ASSERT_EQ(Other.Bitmap.GetPixelFormat(), pf24bit);
  EXPECT_EQ(Other.Params.BitsPerSample, 1);
  EXPECT_EQ(Px(Other.Bitmap, 0, 1), CreateRGB(0, 0, 255));
  EXPECT_EQ(Px(Other.Bitmap, 7, 1), CreateRGB(255, 0, 0));
  EXPECT_EQ(Px(Other.Bitmap, 7, 0), CreateRGB(0, 0, 255));
}

TEST(BMP, SixteenBitMasks) {
  // One pixel per row; 0xF800 is pure red in 5-6-5 and pure green's low bit in 5-5-5.
  std::vector<uint8_t> Pixels = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0};
  std::vector<uint8_t> Masks;
  for (uint32_t M : {0xF800u, 0x07E0u, 0x001Fu}) Put32(Masks, M);
  std::vector<uint8_t> Tail = Masks;
  Tail.insert(Tail.end(), Pixels.begin(), Pixels.end());
  ReadResult Bf = ReadResult(HandBmp(40, 1, 2, 16, 3, Tail));
  ASSERT_FALSE(Bf.Aborted);
  EXPECT_EQ(Px(Bf.Bitmap, 0, 1), CreateRGB(0xFF, 0, 0));
  EXPECT_EQ(Px(Bf.Bitmap, 0, 0), CreateRGB(0, 0xFF, 0));
  EXPECT_EQ(Bf.Params.BitsPerSample, 5);

  ReadResult Plain = ReadResult(HandBmp(40, 1, 2, 16, 0, Pixels));
  EXPECT_EQ(Px(Plain.Bitmap, 0, 1), CreateRGB(0xF7, 0, 0));  // 0xF800 = red 11110, green 00000
  EXPECT_EQ(Px(Plain.Bitmap, 0, 0), CreateRGB(8, 0xFF, 0));  // 0x07E0: red 00001, green 11111

  // The longer headers carry the masks inside themselves.
  std::vector<uint8_t> Extra;
  for (uint32_t M : {0xF800u, 0x07E0u, 0x001Fu}) Put32(Extra, M);
  ReadResult V5 = ReadResult(HandBmp(124, 1, 2, 16, 3, Pixels, 0, Extra));
  ASSERT_FALSE(V5.Aborted);
  EXPECT_EQ(Px(V5.Bitmap, 0, 1), CreateRGB(0xFF, 0, 0));
}

TEST(BMP, AlphaBitFieldsUseTheirMasks) {
  // Compression 6: red in the low byte, blue in the third, whatever 32-bit pixels usually mean.
  std::vector<uint8_t> Tail;
  for (uint32_t M : {0x0000FFu, 0x00FF00u, 0xFF0000u}) Put32(Tail, M);
  Tail.insert(Tail.end(), {10, 20, 30, 0});
  ReadResult R = ReadResult(HandBmp(40, 1, 1, 32, 6, Tail));
  ASSERT_FALSE(R.Aborted);
  EXPECT_EQ(Px(R.Bitmap, 0, 0), CreateRGB(10, 20, 30));
}

TEST(BMP, LongHeaderPaletteFollowsTheHeader) {
  std::vector<uint8_t> Tail = {10, 20, 30, 0, 40, 50, 60, 0, 1, 0, 0, 0};
  ReadResult R = ReadResult(HandBmp(108, 2, 1, 8, 0, Tail, 2));
  ASSERT_FALSE(R.Aborted);
  EXPECT_EQ(R.Params.BmpVersion, ioBMP_BM);
  EXPECT_EQ(Px(R.Bitmap, 0, 0), (TRGB{40, 50, 60}));
  EXPECT_EQ(Px(R.Bitmap, 1, 0), (TRGB{10, 20, 30}));
}

TEST(BMP, NegativeHeightIsTopDown) {
  std::vector<uint8_t> Tail = {1, 2, 3, 0, 4, 5, 6, 0};  // two rows of one pixel, top first
  ReadResult R = ReadResult(HandBmp(40, 1, -2, 24, 0, Tail));
  ASSERT_FALSE(R.Aborted);
  ASSERT_EQ(R.Bitmap.GetHeight(), 2);
  EXPECT_EQ(Px(R.Bitmap, 0, 0), (TRGB{1, 2, 3}));
  EXPECT_EQ(Px(R.Bitmap, 0, 1), (TRGB{4, 5, 6}));
  EXPECT_EQ(R.Params.Height, 2);
}

TEST(BMP, RLEEncodingFollowsTheRowRules) {
  std::vector<uint8_t> Out;
  const uint8_t Row8[] = {5, 5, 5, 1, 2, 3, 7};
  BMPEncodeRLERow(Row8, 7, false, Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{3, 5, 0, 4, 1, 2, 3, 7, 0, 0}));
  Out.clear();
  const uint8_t Odd4[] = {1, 2, 3, 9, 9};
  BMPEncodeRLERow(Odd4, 5, true, Out);
  // Three literals: 0, 3, then 0x12 and the last pixel in the high nibble 0x30; two data
  // bytes need no padding. Then the run of two 9s with the index in both nibbles.
  EXPECT_EQ(Out, (std::vector<uint8_t>{0, 3, 0x12, 0x30, 2, 0x99, 0, 0}));
  Out.clear();
  const uint8_t Two[] = {4, 6};
  BMPEncodeRLERow(Two, 2, false, Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{1, 4, 1, 6, 0, 0}));
  Out.clear();
  BMPEncodeRLERow(Two, 2, true, Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{2, 0x46, 0, 0}));
  // Long runs split at 255.
  std::vector<uint8_t> Long(600, 3);
  Out.clear();
  BMPEncodeRLERow(Long.data(), 600, false, Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{255, 3, 255, 3, 90, 3, 0, 0}));
}

TEST(BMP, RLEFilesReadBackAsTheUncompressedOnes) {
  // A small image, and one whose codes are read in several parts.
  for (const int32_t W : {29, 900})
    for (int32_t Bits : {4, 8}) {
      TBitmap Src = RandomBitmap24(W, W == 29 ? 13 : 700, 11);
      // Flatten some areas so that runs occur.
      for (int32_t Y = 0; Y < 13; ++Y)
        for (int32_t X = 10; X < 25; ++X)
          reinterpret_cast<TRGB*>(Src.ScanLine(Y))[X] = CreateRGB(9, 9, 9);
      TIOParamsVals P;
      P.BitsPerSample = Bits;
      P.SamplesPerPixel = 1;
      std::vector<uint8_t> Plain = WriteBmpBytes(Src, P);
      P.BmpCompression = ioBMP_RLE;
      std::vector<uint8_t> Rle = WriteBmpBytes(Src, P);
      ASSERT_EQ(Rle[30], Bits == 8 ? 1 : 2);
      ASSERT_EQ(Rle[Rle.size() - 2], 0);
      ASSERT_EQ(Rle[Rle.size() - 1], 1);
      if (W > 29) ASSERT_GT(Rle.size(), 300000u);
      ReadResult A = ReadResult(Plain), B = ReadResult(Rle);
      ASSERT_FALSE(A.Aborted);
      ASSERT_FALSE(B.Aborted);
      EXPECT_TRUE(SamePixels(A.Bitmap, B.Bitmap)) << Bits << " " << W;
      EXPECT_EQ(B.Params.BmpCompression, ioBMP_RLE);
      // Every pixel is one of the palette colours written.
      for (int32_t Y = 0; Y < 13; ++Y)
        for (int32_t X = 0; X < 29; ++X) {
          TRGB C = Px(B.Bitmap, X, Y);
          bool Found = false;
          for (const TRGB& E : B.Params.ColorMap) Found |= E == C;
          ASSERT_TRUE(Found);
        }
    }
}

TEST(BMP, RLEDecoderHonoursDeltaAndEndCodes) {
  // 4 x 3, RLE8: bottom row "run of 2 of index 1", delta (1 right, 1 up), absolute run of 3
  // (indexes 2, 2, 1, padded), end of bitmap. The top row stays untouched (black).
  std::vector<uint8_t> Tail = {0, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 0};
  const std::vector<uint8_t> Codes = {2, 1, 0, 2, 1, 1, 0, 3, 2, 2, 1, 0, 0, 1};
  Tail.insert(Tail.end(), Codes.begin(), Codes.end());
  ReadResult R = ReadResult(HandBmp(40, 4, 3, 8, 1, Tail, 3));
  ASSERT_FALSE(R.Aborted);
  const TRGB W = CreateRGB(255, 255, 255), K = CreateRGB(0, 0, 0), Red = CreateRGB(255, 0, 0);
  EXPECT_EQ(Px(R.Bitmap, 0, 2), W);
  EXPECT_EQ(Px(R.Bitmap, 1, 2), W);
  EXPECT_EQ(Px(R.Bitmap, 2, 2), K);
  // After the delta: column 3 of the middle row, then the run of 3 drops its pixels past the
  // width.
  EXPECT_EQ(Px(R.Bitmap, 2, 1), K);
  EXPECT_EQ(Px(R.Bitmap, 3, 1), Red);
  EXPECT_EQ(Px(R.Bitmap, 0, 0), K);
  // An absolute run cut by the end of the data keeps the pixels that are there, and aborts.
  Tail.resize(12);
  Tail.insert(Tail.end(), {0, 4, 1, 1});
  ReadResult Cut = ReadResult(HandBmp(40, 4, 1, 8, 1, Tail, 3));
  EXPECT_TRUE(Cut.Aborted);
  EXPECT_EQ(Px(Cut.Bitmap, 1, 0), W);
  EXPECT_EQ(Px(Cut.Bitmap, 2, 0), K);
}

TEST(BMP, BadInputEndsInTheAbortFlag) {
  TBitmap Src = RandomBitmap24(9, 7, 2);
  TIOParamsVals P;
  P.BitsPerSample = 8;
  P.SamplesPerPixel = 1;
  P.BmpCompression = ioBMP_RLE;
  std::vector<uint8_t> Good = WriteBmpBytes(Src, P);
  // Every truncation either aborts or decodes fewer rows; none reads past the data.
  for (size_t Cut = 0; Cut < Good.size(); ++Cut) {
    std::vector<uint8_t> Part(Good.begin(), Good.begin() + static_cast<ptrdiff_t>(Cut));
    ReadResult R = ReadResult(Part);
    if (Cut < 54) {
      EXPECT_TRUE(R.Aborted) << Cut;
    }
  }
  EXPECT_TRUE(ReadResult({'X', 'M', 0, 0}).Aborted);
  // Dimensions far beyond the pixel limit are refused before anything is allocated.
  ReadResult Huge = ReadResult(HandBmp(40, 1000000, 1000000, 24, 0, {}));
  EXPECT_TRUE(Huge.Aborted);
  EXPECT_TRUE(ReadResult(HandBmp(40, 4, 4, 24, 0, {})).Aborted);  // no pixel data
  EXPECT_TRUE(ReadResult(HandBmp(40, 4, 4, 1, 1, {0, 0, 0, 0, 255, 255, 255, 0})).Aborted);
  EXPECT_TRUE(ReadResult(HandBmp(40, 0, 4, 24, 0, {})).Aborted);
  EXPECT_TRUE(ReadResult(HandBmp(40, 4, 4, 8, 0, {}, 0x40000000)).Aborted);
  // A preview reads the parameters only.
  TIOParamsVals Q;
  ReadResult Pv = ReadResult(WriteBmpBytes(Src, Q), true);
  EXPECT_FALSE(Pv.Aborted);
  EXPECT_EQ(Pv.Params.Width, 9);
  EXPECT_TRUE(Pv.Bitmap.Empty());
}

TEST(BMP, PeersReadWhatWeWrite) {
  if (!HaveProgram("convert") || !HaveProgram("bmptopnm")) GTEST_SKIP() << "peer tools missing";
  TempDir Dir;
  TBitmap Src = RandomBitmap24(33, 17, 5);
  for (int32_t Y = 0; Y < 17; ++Y)
    for (int32_t X = 5; X < 20; ++X)
      reinterpret_cast<TRGB*>(Src.ScanLine(Y))[X] = CreateRGB(200, 10, 10);
  struct Variant {
    int32_t Bits;
    TIOBMPVersion Version;
    TIOBMPCompression Compression;
  };
  for (Variant V :
       {Variant{24, ioBMP_BM3, ioBMP_UNCOMPRESSED}, Variant{24, ioBMP_BMOS2V1, ioBMP_UNCOMPRESSED},
        Variant{8, ioBMP_BM3, ioBMP_UNCOMPRESSED}, Variant{8, ioBMP_BM3, ioBMP_RLE},
        Variant{4, ioBMP_BM3, ioBMP_RLE}, Variant{4, ioBMP_BM3, ioBMP_UNCOMPRESSED},
        Variant{1, ioBMP_BM3, ioBMP_UNCOMPRESSED}}) {
    TIOParamsVals P;
    P.BitsPerSample = V.Bits == 24 ? 8 : V.Bits;
    P.SamplesPerPixel = V.Bits == 24 ? 3 : 1;
    P.BmpVersion = V.Version;
    P.BmpCompression = V.Compression;
    std::vector<uint8_t> Bytes = WriteBmpBytes(Src, P);
    std::string File = Dir.File("ours.bmp");
    WriteFileBytes(File, Bytes);
    ReadResult Ours = ReadResult(Bytes);
    ASSERT_FALSE(Ours.Aborted);
    TBitmap Mine = As24(Ours.Bitmap);
    if (V.Bits == 24) {
      EXPECT_TRUE(SamePixels(Mine, Src));
    }
    TBitmap Im, Nb;
    ASSERT_TRUE(PeerToPNM("convert " + File + " -depth 8 ppm:" + Dir.File("im.ppm"),
                          Dir.File("im.ppm"), Im));
    EXPECT_TRUE(SamePixels(Im, Mine))
        << "ImageMagick, " << V.Bits << " bits, rle " << int(V.Compression);
    ASSERT_TRUE(PeerToPNM("bmptopnm " + File + " > " + Dir.File("nb.pnm"), Dir.File("nb.pnm"), Nb));
    EXPECT_TRUE(SamePixels(As24(Nb), Mine))
        << "netpbm, " << V.Bits << " bits, rle " << int(V.Compression);
  }
}

TEST(BMP, WeReadWhatPeersWrite) {
  if (!HaveProgram("convert") || !HaveProgram("ppmtobmp")) GTEST_SKIP() << "peer tools missing";
  TempDir Dir;
  TBitmap Src = RandomBitmap24(31, 9, 8);
  // A few colours only, so that palette forms are exact.
  const TRGB Colours[] = {CreateRGB(0, 0, 0), CreateRGB(255, 255, 255), CreateRGB(255, 0, 0),
                          CreateRGB(0, 128, 255), CreateRGB(12, 200, 7)};
  TBitmap Few(31, 9, pf24bit), Bw(31, 9, pf24bit);
  for (int32_t Y = 0; Y < 9; ++Y)
    for (int32_t X = 0; X < 31; ++X) {
      reinterpret_cast<TRGB*>(Few.ScanLine(Y))[X] = Colours[(X / 3 + Y) % 5];
      reinterpret_cast<TRGB*>(Bw.ScanLine(Y))[X] = Colours[(X * 7 + Y) % 2];
    }
  WriteReferencePPM(Src, Dir.File("src.ppm"));
  WriteReferencePPM(Few, Dir.File("few.ppm"));
  WriteReferencePPM(Bw, Dir.File("bw.ppm"));
  struct Case {
    std::string Command;
    const TBitmap* Expect;
  };
  const std::string D = Dir.Path() + "/";
  std::vector<Case> Cases = {
      {"convert " + D + "src.ppm BMP3:" + D + "out.bmp", &Src},
      {"convert " + D + "src.ppm BMP2:" + D + "out.bmp", &Src},
      {"convert " + D + "src.ppm BMP:" + D + "out.bmp", &Src},
      {"convert " + D + "few.ppm -type Palette BMP3:" + D + "out.bmp", &Few},
      {"convert " + D + "few.ppm -type Palette -compress RLE BMP3:" + D + "out.bmp", &Few},
      {"convert " + D + "few.ppm -colors 16 -type Palette -compress RLE BMP3:" + D + "out.bmp",
       &Few},
      {"convert " + D + "src.ppm -define bmp:subtype=RGB565 BMP:" + D + "out.bmp", nullptr},
      {"convert " + D + "src.ppm -define bmp:subtype=RGB555 BMP:" + D + "out.bmp", nullptr},
      {"convert " + D + "bw.ppm -type Bilevel BMP3:" + D + "out.bmp", &Bw},
      {"ppmtobmp -windows " + D + "src.ppm > " + D + "out.bmp", &Src},
      {"ppmtobmp -os2 " + D + "src.ppm > " + D + "out.bmp", &Src},
      {"ppmtobmp -bpp 8 " + D + "few.ppm > " + D + "out.bmp", &Few},
      {"ppmtobmp -bpp 4 " + D + "few.ppm > " + D + "out.bmp", &Few},
      {"ppmtobmp -bpp 1 " + D + "bw.ppm > " + D + "out.bmp", &Bw},
      {"ppmtobmp -os2 -bpp 4 " + D + "few.ppm > " + D + "out.bmp", &Few},
  };
  for (const Case& C : Cases) {
    std::remove(Dir.File("out.bmp").c_str());
    if (RunCommand(C.Command + " 2>/dev/null") != 0) {
      ADD_FAILURE() << "peer failed: " << C.Command;
      continue;
    }
    std::vector<uint8_t> Bytes = ReadFileBytes(Dir.File("out.bmp"));
    ReadResult R = ReadResult(Bytes);
    ASSERT_FALSE(R.Aborted) << C.Command;
    TBitmap Ref;
    ASSERT_TRUE(PeerToPNM("convert " + Dir.File("out.bmp") + " -depth 8 ppm:" + Dir.File("ref.ppm"),
                          Dir.File("ref.ppm"), Ref));
    EXPECT_TRUE(SamePixels(As24(R.Bitmap), Ref)) << C.Command;
    if (C.Expect) {
      EXPECT_TRUE(SamePixels(As24(R.Bitmap), *C.Expect)) << C.Command;
    }
  }
}
