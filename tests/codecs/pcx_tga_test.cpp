#include <gtest/gtest.h>

#include <cstring>

#include "quillo/codecs/pcx.h"
#include "quillo/codecs/tga.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

enum class Fmt { Pcx, Tga };

// Reads an image held in memory; the constructor does the reading.
struct Decoded {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  Decoded(Fmt F, const std::vector<uint8_t>& Bytes, bool Preview = false) {
    TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TProgressRec P = QLProgressRec(nullptr, nullptr, Aborted);
    if (F == Fmt::Pcx)
      ReadPcxStream(S, Bitmap, Params, P, Preview, static_cast<int64_t>(Bytes.size()));
    else
      ReadTGAStream(S, Bitmap, Params, P, Preview);
  }
};

std::vector<uint8_t> Encode(Fmt F, const TBitmap& B, TIOParamsVals& P, bool* Aborted = nullptr) {
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  if (F == Fmt::Pcx)
    WritePcxStream(S, B, P, Prog);
  else
    WriteTGAStream(S, B, P, Prog);
  if (Aborted) *Aborted = Abort;
  return S.Data();
}

void SetDepth(TIOParamsVals& P, int32_t Bits) {
  P.BitsPerSample = Bits == 24 ? 8 : Bits;
  P.SamplesPerPixel = Bits == 24 ? 3 : 1;
}

TBitmap FewColours(int32_t W, int32_t H, int32_t N) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      const int32_t K = (X / 2 + Y * 3) % N;
      reinterpret_cast<TRGB*>(B.ScanLine(Y))[X] =
          CreateRGB(static_cast<uint8_t>(K * 40), static_cast<uint8_t>(255 - K * 20),
                    static_cast<uint8_t>(K * 7));
    }
  return B;
}

}  // namespace

TEST(PCX, RoundTripsAtEveryDepth) {
  TBitmap Src = RandomBitmap24(37, 12, 4);
  for (bool Rle : {true, false}) {
    TIOParamsVals P;
    P.PcxCompression = Rle ? ioPCX_RLE : ioPCX_UNCOMPRESSED;
    SetDepth(P, 24);
    Decoded D(Fmt::Pcx, Encode(Fmt::Pcx, Src, P));
    ASSERT_FALSE(D.Aborted);
    EXPECT_TRUE(SamePixels(D.Bitmap, Src)) << Rle;
    EXPECT_EQ(D.Params.PcxCompression, P.PcxCompression);
    EXPECT_EQ(D.Params.SamplesPerPixel, 3);

    TBitmap One = RandomBitmap1(37, 12, 5);
    SetDepth(P, 1);
    Decoded B(Fmt::Pcx, Encode(Fmt::Pcx, One, P));
    ASSERT_FALSE(B.Aborted);
    EXPECT_TRUE(SamePixels(B.Bitmap, One));

    // Palette images come back as exactly the palette's colours.
    for (int32_t Bits : {4, 8}) {
      TBitmap Few = FewColours(37, 12, Bits == 4 ? 9 : 40);
      SetDepth(P, Bits);
      Decoded C(Fmt::Pcx, Encode(Fmt::Pcx, Few, P));
      ASSERT_FALSE(C.Aborted) << Bits;
      EXPECT_EQ(C.Params.ColorMapCount, 1 << Bits);
      for (int32_t Y = 0; Y < 12; ++Y)
        for (int32_t X = 0; X < 37; ++X) {
          const TRGB Got = reinterpret_cast<const TRGB*>(C.Bitmap.ScanLine(Y))[X];
          EXPECT_NE(std::find(P.ColorMap.begin(), P.ColorMap.end(), Got), P.ColorMap.end());
        }
    }
  }
}

TEST(PCX, LineCodingRules) {
  std::vector<uint8_t> Out;
  const uint8_t Single200[] = {200};
  PcxEncodeLine(Single200, 1, Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{193, 200, 0}));  // odd count: one 0 byte more
  Out.clear();
  const uint8_t Mixed[] = {5, 5, 5, 7, 191, 192};
  PcxEncodeLine(Mixed, 6, Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{195, 5, 7, 191, 193, 192}));
  Out.clear();
  std::vector<uint8_t> Long(100, 9);
  PcxEncodeLine(Long.data(), 100, Out);
  EXPECT_EQ(Out, (std::vector<uint8_t>{255, 9, 192 + 37, 9}));

  // A 3-pixel 8-bit image: 4 bytes per line, each line with its extra 0.
  TIOParamsVals P;
  SetDepth(P, 8);
  std::vector<uint8_t> Bytes = Encode(Fmt::Pcx, FewColours(3, 2, 3), P);
  EXPECT_EQ(Bytes[66] | (Bytes[67] << 8), 4);
  // Runs may run on across lines: a 4 x 2 image of one value as a single run of 8.
  std::vector<uint8_t> Hand(128, 0);
  Hand[0] = 10, Hand[1] = 5, Hand[2] = 1, Hand[3] = 8, Hand[8] = 3, Hand[10] = 1, Hand[65] = 1,
  Hand[66] = 4;
  Hand.insert(Hand.end(), {200, 7});
  std::vector<uint8_t> Palette(768, 0);
  Palette[7 * 3] = 255;
  Hand.insert(Hand.end(), Palette.begin(), Palette.end());
  Decoded D(Fmt::Pcx, Hand);
  ASSERT_FALSE(D.Aborted);
  for (int32_t Y = 0; Y < 2; ++Y)
    for (int32_t X = 0; X < 4; ++X)
      EXPECT_EQ(reinterpret_cast<const TRGB*>(D.Bitmap.ScanLine(Y))[X], CreateRGB(255, 0, 0));
}

TEST(PCX, HeaderChecksAndResolution) {
  TIOParamsVals P;
  P.DpiX = 300;
  P.DpiY = 0;
  SetDepth(P, 24);
  std::vector<uint8_t> Bytes = Encode(Fmt::Pcx, RandomBitmap24(4, 4, 1), P);
  Decoded D(Fmt::Pcx, Bytes);
  EXPECT_EQ(D.Params.DpiX, 96);
  EXPECT_EQ(D.Params.DpiY, 96);
  std::vector<uint8_t> Bad = Bytes;
  Bad[0] = 11;
  EXPECT_TRUE(Decoded(Fmt::Pcx, Bad).Aborted);
  Bad = Bytes;
  Bad[3] = 16;
  EXPECT_TRUE(Decoded(Fmt::Pcx, Bad).Aborted);
  Bad = Bytes;
  Bad[2] = 2;
  EXPECT_TRUE(Decoded(Fmt::Pcx, Bad).Aborted);
  for (size_t Cut = 0; Cut < Bytes.size(); Cut += 5)
    EXPECT_TRUE(Decoded(Fmt::Pcx, std::vector<uint8_t>(Bytes.begin(),
                                                       Bytes.begin() + static_cast<ptrdiff_t>(Cut)))
                    .Aborted)
        << Cut;
  // Bytes per line too small for the width is refused rather than read past.
  Bad = Bytes;
  Bad[66] = 1, Bad[67] = 0;
  EXPECT_TRUE(Decoded(Fmt::Pcx, Bad).Aborted);
}

TEST(TGA, RoundTripsAtEveryDepth) {
  TBitmap Src = RandomBitmap24(29, 11, 6);
  for (bool Rle : {true, false}) {
    TIOParamsVals P;
    P.TgaCompressed = Rle;
    SetDepth(P, 24);
    Decoded D(Fmt::Tga, Encode(Fmt::Tga, Src, P));
    ASSERT_FALSE(D.Aborted);
    EXPECT_TRUE(SamePixels(D.Bitmap, Src));
    EXPECT_EQ(D.Params.TgaCompressed, Rle);

    TBitmap One = RandomBitmap1(29, 11, 7);
    SetDepth(P, 1);
    Decoded B(Fmt::Tga, Encode(Fmt::Tga, One, P));
    ASSERT_FALSE(B.Aborted);
    EXPECT_TRUE(SamePixels(B.Bitmap, One));

    for (int32_t Bits : {4, 8}) {
      TBitmap Few = FewColours(29, 11, 7);
      SetDepth(P, Bits);
      P.TgaCompressed = Rle;
      P.TgaGrayLevel = false;
      Decoded C(Fmt::Tga, Encode(Fmt::Tga, Few, P));
      ASSERT_FALSE(C.Aborted) << Bits;
      EXPECT_EQ(C.Params.BitsPerSample, Bits);
      for (int32_t Y = 0; Y < 11; ++Y)
        for (int32_t X = 0; X < 29; ++X) {
          const TRGB Got = reinterpret_cast<const TRGB*>(C.Bitmap.ScanLine(Y))[X];
          EXPECT_NE(std::find(P.ColorMap.begin(), P.ColorMap.end(), Got), P.ColorMap.end());
        }
    }
    // Grey: the palette's grey levels, stored without a colour map.
    SetDepth(P, 8);
    P.TgaGrayLevel = true;
    Decoded G(Fmt::Tga, Encode(Fmt::Tga, FewColours(10, 3, 4), P));
    ASSERT_FALSE(G.Aborted);
    EXPECT_TRUE(G.Params.TgaGrayLevel);
    const TRGB Px = reinterpret_cast<const TRGB*>(G.Bitmap.ScanLine(0))[0];
    EXPECT_TRUE(Px.r == Px.g && Px.g == Px.b);
  }
}

TEST(TGA, ExtensionAreaAndFooter) {
  TIOParamsVals P;
  P.TgaAuthor = "Ada";
  P.TgaImageName = "job 7";
  P.TgaDescriptor = "ident";
  P.TgaBackground = CreateRGB(1, 2, 3);
  P.TgaAspectRatio = 1.25;
  P.TgaGamma = 1.8;
  P.TgaDate = 45000.5;  // 15 March 2023, noon
  P.TgaXPos = 3;
  P.TgaYPos = 4;
  SetDepth(P, 24);
  std::vector<uint8_t> Bytes = Encode(Fmt::Tga, RandomBitmap24(3, 2, 1), P);
  EXPECT_EQ(std::memcmp(Bytes.data() + Bytes.size() - 18, "TRUEVISION-XFILE.", 18), 0);
  Decoded D(Fmt::Tga, Bytes);
  ASSERT_FALSE(D.Aborted);
  EXPECT_EQ(D.Params.TgaAuthor, "Ada");
  EXPECT_EQ(D.Params.TgaImageName, "job 7");
  EXPECT_EQ(D.Params.TgaDescriptor, "ident");
  EXPECT_EQ(D.Params.TgaBackground, CreateRGB(1, 2, 3));
  EXPECT_DOUBLE_EQ(D.Params.TgaAspectRatio, 1.25);
  EXPECT_DOUBLE_EQ(D.Params.TgaGamma, 1.8);
  EXPECT_DOUBLE_EQ(D.Params.TgaDate, 45000.5);
  EXPECT_EQ(D.Params.TgaXPos, 3);

  // Without a footer: the defaults.
  std::vector<uint8_t> Bare(Bytes.begin(), Bytes.end() - 26);
  Decoded B(Fmt::Tga, Bare);
  ASSERT_FALSE(B.Aborted);
  EXPECT_DOUBLE_EQ(B.Params.TgaAspectRatio, 1.0);
  EXPECT_DOUBLE_EQ(B.Params.TgaGamma, 2.2);
  EXPECT_EQ(B.Params.TgaDate, QLToday());
  EXPECT_EQ(B.Params.TgaAuthor, "");
}

TEST(TGA, RowOrderMirrorDetectionAndBadInput) {
  // 2 x 2, 24-bit raw, bottom-up (descriptor 0): the first stored row lands at the bottom.
  std::vector<uint8_t> H = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};
  const std::vector<uint8_t> Rows = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
  std::vector<uint8_t> Up = H;
  Up.insert(Up.end(), Rows.begin(), Rows.end());
  Decoded A(Fmt::Tga, Up);
  ASSERT_FALSE(A.Aborted);
  EXPECT_EQ(A.Bitmap.ScanLine(1)[0], 1);
  EXPECT_EQ(A.Bitmap.ScanLine(0)[0], 3);
  std::vector<uint8_t> Down = Up;
  Down[17] = 0x20;
  EXPECT_EQ(Decoded(Fmt::Tga, Down).Bitmap.ScanLine(0)[0], 1);
  std::vector<uint8_t> Mirrored = Up;
  Mirrored[17] = 0x30;
  EXPECT_EQ(Decoded(Fmt::Tga, Mirrored).Bitmap.ScanLine(0)[0], 2);

  auto Try = [](const std::vector<uint8_t>& B) {
    TMemoryViewStream S(B.data(), static_cast<int64_t>(B.size()));
    return TryTGA(S);
  };
  EXPECT_TRUE(Try(Up));
  std::vector<uint8_t> Pnm(Up);
  std::memcpy(Pnm.data(), "P6\n", 3);
  Pnm[2] = '\n';
  EXPECT_FALSE(Try(Pnm));
  std::vector<uint8_t> BadType = Up;
  BadType[2] = 4;
  EXPECT_FALSE(Try(BadType));
  EXPECT_TRUE(Decoded(Fmt::Tga, BadType).Aborted);
  for (size_t Cut = 0; Cut < Up.size(); ++Cut)
    EXPECT_TRUE(Decoded(Fmt::Tga,
                        std::vector<uint8_t>(Up.begin(), Up.begin() + static_cast<ptrdiff_t>(Cut)))
                    .Aborted);
  // A run-length packet longer than the row is cut at the row's end.
  std::vector<uint8_t> Rle = {0, 0, 10, 0, 0, 0,  0,    0,    0, 0, 0,
                              0, 2, 0,  1, 0, 24, 0x20, 0xFF, 9, 8, 7};
  Decoded R(Fmt::Tga, Rle);
  ASSERT_FALSE(R.Aborted);
  EXPECT_EQ(R.Bitmap.ScanLine(0)[3], 9);
}

TEST(PCXTGA, PeersAgree) {
  if (!HaveProgram("convert") || !HaveProgram("ppmtopcx") || !HaveProgram("ppmtotga")) GTEST_SKIP();
  TempDir Dir;
  const std::string D = Dir.Path() + "/";
  TBitmap Src = RandomBitmap24(27, 10, 9), Few = FewColours(27, 10, 12), Bw(27, 10, pf24bit);
  for (int32_t Y = 0; Y < 10; ++Y)
    for (int32_t X = 0; X < 27; ++X)
      reinterpret_cast<TRGB*>(Bw.ScanLine(Y))[X] =
          ((X + Y) % 3) ? CreateRGB(255, 255, 255) : CreateRGB(0, 0, 0);
  WriteReferencePPM(Src, D + "src.ppm");
  WriteReferencePPM(Few, D + "few.ppm");
  WriteReferencePPM(Bw, D + "bw.ppm");
  struct Case {
    Fmt F;
    std::string Command;
    const TBitmap* Expect;
  };
  const std::vector<Case> Cases = {
      {Fmt::Pcx, "convert " + D + "src.ppm PCX:" + D + "out", &Src},
      {Fmt::Pcx, "convert " + D + "few.ppm -type Palette PCX:" + D + "out", &Few},
      {Fmt::Pcx, "convert " + D + "bw.ppm -type Bilevel PCX:" + D + "out", &Bw},
      {Fmt::Pcx, "ppmtopcx -24bit " + D + "src.ppm > " + D + "out", &Src},
      {Fmt::Pcx, "ppmtopcx -8bit " + D + "few.ppm > " + D + "out", &Few},
      {Fmt::Pcx, "ppmtopcx " + D + "few.ppm > " + D + "out", &Few},
      {Fmt::Pcx, "ppmtopcx -packed " + D + "few.ppm > " + D + "out", &Few},
      {Fmt::Pcx, "ppmtopcx " + D + "bw.ppm > " + D + "out", &Bw},
      // ImageMagick keeps a TGA's row order as a tag beside its rows: by default it stores
      // the top row first under a bottom-up descriptor, which the format (and netpbm, and we)
      // read upside down. With -orient TopLeft the descriptor says what the rows are.
      {Fmt::Tga, "convert " + D + "src.ppm TGA:" + D + "out", nullptr},
      {Fmt::Tga, "convert " + D + "src.ppm -orient TopLeft TGA:" + D + "out", &Src},
      {Fmt::Tga, "convert " + D + "src.ppm -orient TopLeft -compress RLE TGA:" + D + "out", &Src},
      {Fmt::Tga, "convert " + D + "few.ppm -orient TopLeft -type Palette TGA:" + D + "out", &Few},
      {Fmt::Tga,
       "convert " + D + "few.ppm -orient TopLeft -type Palette -compress RLE TGA:" + D + "out",
       &Few},
      {Fmt::Tga, "convert " + D + "src.ppm -type Grayscale TGA:" + D + "out", nullptr},
      {Fmt::Tga, "ppmtotga -rgb " + D + "src.ppm > " + D + "out", &Src},
      {Fmt::Tga, "ppmtotga -rgb -norle " + D + "src.ppm > " + D + "out", &Src},
      {Fmt::Tga, "ppmtotga -cmap " + D + "few.ppm > " + D + "out", &Few},
      {Fmt::Tga, "ppmtopgm " + D + "src.ppm | ppmtotga -mono > " + D + "out", nullptr},
  };
  for (const Case& C : Cases) {
    std::remove((D + "out").c_str());
    ASSERT_EQ(RunCommand(C.Command + " 2>/dev/null"), 0) << C.Command;
    Decoded R(C.F, ReadFileBytes(D + "out"));
    ASSERT_FALSE(R.Aborted) << C.Command;
    // netpbm's decode is the reference: ImageMagick shows one-bit PCX files inverted against
    // their palette.
    TBitmap Ref;
    ASSERT_TRUE(
        PeerToPNM((C.F == Fmt::Pcx ? "pcxtoppm " : "tgatoppm ") + D + "out > " + D + "ref.ppm",
                  D + "ref.ppm", Ref))
        << C.Command;
    EXPECT_TRUE(SamePixels(As24(R.Bitmap), Ref)) << C.Command;
    if (C.Expect) {
      EXPECT_TRUE(SamePixels(As24(R.Bitmap), *C.Expect)) << C.Command;
    }
  }
  // What we write, both peers read with our pixels.
  for (Fmt F : {Fmt::Pcx, Fmt::Tga})
    for (int32_t Bits : {1, 4, 8, 24})
      for (bool Rle : {true, false}) {
        TIOParamsVals P;
        SetDepth(P, Bits);
        P.PcxCompression = Rle ? ioPCX_RLE : ioPCX_UNCOMPRESSED;
        P.TgaCompressed = Rle;
        if (F == Fmt::Tga && Bits == 4) continue;  // 4-bit mapped TGA is ours alone
        std::vector<uint8_t> Bytes = Encode(F, Bits == 1 ? Bw : Bits == 24 ? Src : Few, P);
        WriteFileBytes(D + "ours", Bytes);
        TBitmap Mine = As24(Decoded(F, Bytes).Bitmap), Im, Nb;
        const std::string Tag =
            (F == Fmt::Pcx ? "PCX " : "TGA ") + std::to_string(Bits) + (Rle ? " rle" : "");
        // One bit per pixel TGA files are ours alone (neither peer reads that depth).
        if (F == Fmt::Tga && Bits == 1) continue;
        // ImageMagick shows one-bit PCX files inverted against their palette; netpbm reads run-
        // length coded PCX files only.
        if (!(F == Fmt::Pcx && Bits == 1)) {
          ASSERT_TRUE(PeerToPNM("convert " + std::string(F == Fmt::Pcx ? "PCX:" : "TGA:") + D +
                                    "ours -auto-orient -depth 8 ppm:" + D + "im.ppm",
                                D + "im.ppm", Im))
              << Tag;
          EXPECT_TRUE(SamePixels(Im, Mine)) << "ImageMagick, " << Tag;
        }
        if (F == Fmt::Pcx && !Rle) continue;
        ASSERT_TRUE(
            PeerToPNM((F == Fmt::Pcx ? "pcxtoppm " : "tgatoppm ") + D + "ours > " + D + "nb.ppm",
                      D + "nb.ppm", Nb))
            << Tag;
        EXPECT_TRUE(SamePixels(Nb, Mine)) << "netpbm, " << Tag;
      }
}

TEST(PCXTGA, ThroughTheIOComponentWithStreamHeaders) {
  TBitmap A = RandomBitmap24(8, 5, 1), B = RandomBitmap24(6, 7, 2);
  TMemoryStream S;
  TQuilloIO IO;
  IO.StreamHeaders = true;
  IO.SetAttachedBitmap(&A);
  IO.SaveToStreamPCX(S);
  IO.SetAttachedBitmap(&B);
  IO.SaveToStreamPCX(S);
  ASSERT_FALSE(IO.Aborting);
  EXPECT_EQ(std::memcmp(S.Memory(), "PCX2\0\0\0\0", 8), 0);
  S.SetPosition(0);
  TBitmap Got;
  IO.SetAttachedBitmap(&Got);
  IO.LoadFromStreamPCX(S);
  ASSERT_FALSE(IO.Aborting);
  EXPECT_TRUE(SamePixels(Got, A));
  IO.LoadFromStream(S);  // detected by the header's tag
  ASSERT_FALSE(IO.Aborting);
  EXPECT_TRUE(SamePixels(Got, B));
  EXPECT_EQ(S.GetPosition(), S.GetSize());
  // A header that is not a PCX one aborts and reads nothing.
  TMemoryStream Junk;
  Junk.WriteBuffer("JFIF\0\0\0\0\0\0\0\0", 12);
  Junk.SetPosition(0);
  IO.LoadFromStreamPCX(Junk);
  EXPECT_TRUE(IO.Aborting);
  // TGA by content through the component.
  TMemoryStream T;
  IO.SetAttachedBitmap(&A);
  IO.SaveToStream(T, ioTGA);
  T.SetPosition(0);
  IO.SetAttachedBitmap(&Got);
  IO.LoadFromStream(T);
  ASSERT_FALSE(IO.Aborting);
  EXPECT_EQ(IO.IOParams().FileType, ioTGA);
  EXPECT_TRUE(SamePixels(Got, A));
}
