// TIFF against libtiff's tools and ImageMagick, in both directions, pixel for pixel.
#include <gtest/gtest.h>

#include <filesystem>

#include <string>
#include <vector>

#include "quillo/codecs/fax.h"
#include "quillo/codecs/tiff.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "quillo/lzw/lzw.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

class TIFFPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    QLInstallLZWCoders();
    for (const char* P :
         {"tiffcp", "tiffinfo", "tiffsplit", "fax2tiff", "tiff2bw", "tiffcrop", "convert"})
      if (!HaveProgram(P)) GTEST_SKIP() << P << " is missing";
  }
  TempDir Dir;
  std::string F(const std::string& Name) const { return Dir.File(Name); }
};

// Reads page Index of a TIFF file here.
bool ReadHere(const std::string& Path, TBitmap& Out, int32_t Index = 0,
              TIOParamsVals* ParamsOut = nullptr) {
  const std::vector<uint8_t> Bytes = ReadFileBytes(Path);
  TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  TIOParamsVals P;
  P.TiffImageIndex = Index;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  int32_t Count = 0;
  TIFFReadStream(Out, S, Count, &P, Prog, false);
  if (ParamsOut) ParamsOut->Assign(P);
  return !Abort && !Out.Empty();
}

// Page Index as ImageMagick decodes it.
bool ReadPeer(const std::string& Path, const std::string& Tmp, TBitmap& Out, int32_t Index = 0) {
  return PeerToPNM("convert '" + Path + "[" + std::to_string(Index) + "]' -depth 8 '" + Tmp + "'",
                   Tmp, Out);
}

// A text-like black-and-white page (1 = white): lines of glyph-sized blocks.
TBitmap TextPage(int32_t W, int32_t H, uint32_t Seed) {
  TBitmap B(W, H, pf1bit);
  uint32_t R = Seed;
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      const int32_t Line = Y / 24, InLine = Y % 24, Glyph = X / 14;
      R = R * 1103515245u + 12345u;
      const uint32_t Hash =
          (static_cast<uint32_t>(Line) * 7919u + static_cast<uint32_t>(Glyph) * 104729u) ^ Seed;
      const bool Ink = InLine > 4 && InLine < 20 && (Hash % 5) != 0 && (X % 14) > 2 &&
                       ((Hash >> 3) & (1u << ((X % 14 + InLine) % 7))) != 0;
      const bool Speck = (R >> 20) % 3000 == 0;
      if (!(Ink || Speck)) Row[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    }
  }
  return B;
}

std::string Stderr(const std::string& Command) {
  std::string Out;
  RunCommand(Command + " 2>&1 >/dev/null", &Out);
  return Out;
}

}  // namespace

TEST_F(TIFFPeers, TheirFilesReadHere) {
  // Sources: a bilevel page of a width that is no multiple of 8, an RGB photograph-like image,
  // its grey version and a 16-colour palette version.
  const TBitmap Page = TextPage(1001, 301, 3);
  const TBitmap Rgb = RandomBitmap24(203, 97, 5);
  WriteReferencePPM(As24(Page), F("page.ppm"));
  WriteReferencePPM(Rgb, F("rgb.ppm"));
  ASSERT_EQ(RunCommand("convert " + F("page.ppm") + " -depth 1 -type bilevel -compress none " +
                       F("page.tif")),
            0);
  ASSERT_EQ(RunCommand("convert " + F("rgb.ppm") + " -compress none " + F("rgb.tif")), 0);
  ASSERT_EQ(RunCommand("convert " + F("rgb.ppm") + " -colorspace gray -depth 8 -compress none " +
                       F("grey.tif")),
            0);
  ASSERT_EQ(RunCommand("convert " + F("rgb.ppm") +
                       " -colors 16 -depth 8 -type palette -compress none " + F("pal.tif")),
            0);
  ASSERT_EQ(RunCommand("convert " + F("rgb.ppm") + " -depth 16 -compress lzw " + F("rgb16.tif")),
            0);
  ASSERT_EQ(RunCommand("convert " + F("rgb.ppm") + " -colorspace gray -depth 4 " + F("grey4.tif")),
            0);
  ASSERT_EQ(
      RunCommand("convert " + F("rgb.ppm") + " -colorspace gray -depth 16 " + F("grey16.tif")), 0);
  ASSERT_EQ(
      RunCommand("convert " + F("rgb.ppm") + " -colorspace CMYK -compress lzw " + F("cmyk.tif")),
      0);
  ASSERT_EQ(RunCommand("tiff2bw " + F("rgb.tif") + " " + F("bw.tif")), 0);

  struct Case {
    std::string Source, Options;
  };
  const std::vector<Case> Cases = {
      {"page.tif", "-c none"},
      {"page.tif", "-c packbits"},
      {"page.tif", "-c lzw"},
      {"page.tif", "-c g3"},
      {"page.tif", "-c g3:2d"},
      {"page.tif", "-c g3:2d:fill"},
      {"page.tif", "-c g4"},
      {"page.tif", "-c g4 -f lsb2msb"},
      {"page.tif", "-c g3:2d -B -r 7"},
      {"page.tif", "-c g4 -t -w 256 -l 128"},
      {"page.tif", "-c none -f lsb2msb"},
      {"rgb.tif", "-c none"},
      {"rgb.tif", "-c lzw"},
      {"rgb.tif", "-c lzw:2"},
      {"rgb.tif", "-c packbits"},
      {"rgb.tif", "-c lzw:2 -B"},
      {"rgb.tif", "-c lzw:2 -p separate"},
      {"rgb.tif", "-c none -p separate -r 5"},
      {"rgb.tif", "-c lzw -t -w 64 -l 32"},
      {"grey.tif", "-c none"},
      {"grey.tif", "-c lzw:2"},
      {"grey.tif", "-c packbits -r 3"},
      {"pal.tif", "-c none"},
      {"pal.tif", "-c lzw"},
      {"rgb16.tif", "-c lzw:2"},
      {"rgb16.tif", "-c none -B"},
      {"grey4.tif", "-c none"},
      {"grey16.tif", "-c lzw:2 -B"},
      {"cmyk.tif", "-c lzw"},
      {"bw.tif", "-c none"},
      // Deflate, which writers use as often as LZW.
      {"rgb.tif", "-c zip"},
      {"rgb.tif", "-c zip:2"},
      {"rgb.tif", "-c zip:2 -p separate"},
      {"rgb.tif", "-c zip -t -w 64 -l 32"},
      {"rgb16.tif", "-c zip:2"},
      {"grey4.tif", "-c zip"},
      {"pal.tif", "-c zip"},
      {"page.tif", "-c zip -r 9"},
  };
  int N = 0;
  for (const Case& C : Cases) {
    const std::string Out = F("case" + std::to_string(++N) + ".tif");
    ASSERT_EQ(RunCommand("tiffcp " + C.Options + " " + F(C.Source) + " " + Out), 0) << C.Options;
    TBitmap Ours, Theirs;
    ASSERT_TRUE(ReadHere(Out, Ours)) << C.Source << " " << C.Options;
    ASSERT_TRUE(ReadPeer(Out, F("peer.ppm"), Theirs)) << C.Source << " " << C.Options;
    if (C.Source == "page.tif") {
      EXPECT_EQ(Ours.GetPixelFormat(), pf1bit) << C.Options;
    }
    if (C.Source == "cmyk.tif" || C.Source == "grey16.tif") {
      // The same formula up to rounding (16-bit grey: the most significant byte here, the
      // rounded value there).
      const TBitmap A = As24(Ours);
      ASSERT_EQ(A.GetWidth(), Theirs.GetWidth());
      for (int32_t Y = 0; Y < A.GetHeight(); ++Y)
        for (int32_t X = 0; X < A.GetWidth() * 3; ++X)
          ASSERT_LE(std::abs(A.ScanLine(Y)[X] - Theirs.ScanLine(Y)[X]), 1);
      continue;
    }
    EXPECT_TRUE(SamePixels(As24(Ours), Theirs)) << C.Source << " " << C.Options;
  }
  // 16-bit samples give their most significant byte: the 8-bit source.
  TBitmap Deep;
  ASSERT_TRUE(ReadHere(F("case25.tif"), Deep));
  EXPECT_TRUE(SamePixels(Deep, Rgb));

  // A region cut out by tiffcrop (it keeps group 4 with black-is-zero).
  ASSERT_EQ(RunCommand("tiffcrop -U px -z 11,13,310,212 " + F("case7.tif") + " " + F("crop.tif")),
            0);
  TBitmap Crop, CropPeer;
  ASSERT_TRUE(ReadHere(F("crop.tif"), Crop));
  ASSERT_TRUE(ReadPeer(F("crop.tif"), F("peer.ppm"), CropPeer));
  EXPECT_TRUE(SamePixels(As24(Crop), CropPeer));
  EXPECT_EQ(Crop.GetWidth(), 300);
}

TEST_F(TIFFPeers, JpegCompressedPages) {
  // JPEG pages as libtiff and ImageMagick write them: luma and chroma (the default), stored
  // RGB, grey, tiles, strips of a few rows. Both sides decode through libjpeg, so the pixels
  // agree up to the colour conversion's rounding.
  // Smooth ramps, distinct in each channel, so that JPEG keeps them close.
  TBitmap Rgb(203, 97, pf24bit);
  for (int32_t Y = 0; Y < 97; ++Y)
    for (int32_t X = 0; X < 203; ++X) {
      uint8_t* P = Rgb.ScanLine(Y) + 3 * X;
      P[0] = static_cast<uint8_t>((X + Y) / 2), P[1] = static_cast<uint8_t>(2 * Y),
      P[2] = static_cast<uint8_t>(X);
    }
  WriteReferencePPM(Rgb, F("rgb.ppm"));
  ASSERT_EQ(RunCommand("convert " + F("rgb.ppm") + " -compress none " + F("rgb.tif")), 0);
  ASSERT_EQ(
      RunCommand("convert " + F("rgb.ppm") + " -colorspace gray -compress none " + F("grey.tif")),
      0);
  ASSERT_EQ(RunCommand("convert " + F("rgb.ppm") + " -compress jpeg " + F("im.tif")), 0);
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"rgb.tif", "-c jpeg -r 16"},    {"rgb.tif", "-c jpeg:r -r 8"},
      {"rgb.tif", "-c jpeg:90 -r 32"}, {"rgb.tif", "-c jpeg -t -w 64 -l 32"},
      {"grey.tif", "-c jpeg -r 8"},    {"im.tif", "-c none"},
  };
  int N = 0;
  for (const auto& [Source, Options] : Cases) {
    const std::string Out = F("jpeg" + std::to_string(++N) + ".tif");
    if (Source == "im.tif" && Options == "-c none") {
      std::filesystem::copy_file(F("im.tif"), Out);
    } else {
      ASSERT_EQ(RunCommand("tiffcp " + Options + " " + F(Source) + " " + Out), 0) << Options;
    }
    TBitmap Ours, Theirs;
    TIOParamsVals P;
    ASSERT_TRUE(ReadHere(Out, Ours, 0, &P)) << Source << " " << Options;
    EXPECT_EQ(P.TiffCompression, ioTIFF_JPEG);
    ASSERT_TRUE(ReadPeer(Out, F("peer.ppm"), Theirs)) << Options;
    const TBitmap A = As24(Ours);
    ASSERT_EQ(A.GetWidth(), Theirs.GetWidth());
    ASSERT_EQ(A.GetHeight(), Theirs.GetHeight());
    int32_t Worst = 0;
    for (int32_t Y = 0; Y < A.GetHeight(); ++Y)
      for (int32_t X = 0; X < A.GetWidth() * 3; ++X)
        Worst = std::max(Worst, std::abs(A.ScanLine(Y)[X] - Theirs.ScanLine(Y)[X]));
    EXPECT_LE(Worst, 1) << Source << " " << Options;
    // And the colour image is the source up to JPEG's loss.
    if (Source == "grey.tif") continue;
    double Err = 0;
    for (int32_t Y = 0; Y < A.GetHeight(); ++Y)
      for (int32_t X = 0; X < A.GetWidth() * 3; ++X)
        Err += std::abs(A.ScanLine(Y)[X] - Rgb.ScanLine(Y)[X]);
    EXPECT_LT(Err / (A.GetWidth() * 3.0 * A.GetHeight()), 3) << Options;
  }
  // An end-of-image marker inside a chunk's data: the abort flag, not a quietly grey image.
  std::vector<uint8_t> Bytes = ReadFileBytes(F("jpeg1.tif"));
  for (size_t I = Bytes.size() / 3; I < Bytes.size() / 3 + 64; I += 2) {
    Bytes[I] = 0xFF;
    Bytes[I + 1] = 0xD9;
  }
  WriteFileBytes(F("damaged.tif"), Bytes);
  TBitmap Damaged;
  EXPECT_FALSE(ReadHere(F("damaged.tif"), Damaged));
}

TEST_F(TIFFPeers, RawFaxThroughFax2tiff) {
  // Raw group 3 and group 4 data from our coders, wrapped by fax2tiff (its default output is
  // group 3 2-D with byte-aligned EOLs in fill order 2), read back here.
  const int32_t W = 1728;
  const TBitmap Page = TextPage(W, 200, 11);
  for (const std::string Mode : {"-1", "-2", "-4"}) {
    TMemoryStream Raw;
    bool Abort = false;
    uint8_t PB = 0;
    int32_t PN = 0;
    std::vector<uint8_t> Ref, Row((W + 7) / 8);
    for (int32_t Y = 0; Y < Page.GetHeight(); ++Y) {
      for (size_t I = 0; I < Row.size(); ++I) Row[I] = static_cast<uint8_t>(~Page.ScanLine(Y)[I]);
      if (Mode == "-1") CCITTHuffmanPutLineG3(Row.data(), W, Raw, PB, PN, Abort);
      if (Mode == "-2") CCITTHuffmanPutLineG32D(Row.data(), W, Raw, PB, PN, Ref, Abort);
      if (Mode == "-4") CCITTHuffmanPutLineG4(Row.data(), W, Raw, PB, PN, Ref, Abort);
    }
    if (Mode == "-1") CCITTHuffmanPutLineG3(nullptr, 0, Raw, PB, PN, Abort);
    if (Mode == "-2") CCITTHuffmanPutLineG32D(nullptr, 0, Raw, PB, PN, Ref, Abort);
    if (Mode == "-4") CCITTHuffmanPutLineG4(nullptr, 0, Raw, PB, PN, Ref, Abort);
    Raw.SaveToFile(F("page.raw"));
    for (const std::string Output : {"", "-8", "-5 -m -p"}) {
      ASSERT_EQ(RunCommand("fax2tiff " + Mode + (Mode == "-4" ? "" : " -3") + " -M -X 1728 " +
                           Output + " -o " + F("fax.tif") + " " + F("page.raw") + " 2>/dev/null"),
                0);
      TBitmap Back;
      ASSERT_TRUE(ReadHere(F("fax.tif"), Back)) << Mode << " " << Output;
      // fax2tiff turns the EOL that ends group 3 2-D data (or the EOFB of group 4) into one
      // more, white, row.
      const int32_t H = Page.GetHeight();
      ASSERT_GE(Back.GetHeight(), H);
      ASSERT_LE(Back.GetHeight(), H + 1);
      if (Back.GetHeight() > H) {
        for (int32_t X = 0; X < W / 8; ++X) EXPECT_EQ(Back.ScanLine(H)[X], 0xFF);
        Back.SetSize(W, H);
      }
      EXPECT_TRUE(SamePixels(Back, Page)) << Mode << " " << Output;
    }
  }
}

TEST_F(TIFFPeers, OurFilesReadByThem) {
  const TBitmap Page = TextPage(997, 211, 7);
  const TBitmap Rgb = RandomBitmap24(131, 67, 9);
  struct Variant {
    bool OneBit;
    TIOTIFFCompression Compression;
    TIOTIFFPhotometInterpret Photometric;
  };
  const std::vector<Variant> Variants = {
      {true, ioTIFF_UNCOMPRESSED, ioTIFF_RGB}, {true, ioTIFF_CCITT1D, ioTIFF_RGB},
      {true, ioTIFF_G3FAX1D, ioTIFF_RGB},      {true, ioTIFF_G3FAX2D, ioTIFF_RGB},
      {true, ioTIFF_G4FAX, ioTIFF_RGB},        {true, ioTIFF_LZW, ioTIFF_RGB},
      {true, ioTIFF_PACKBITS, ioTIFF_RGB},     {false, ioTIFF_UNCOMPRESSED, ioTIFF_RGB},
      {false, ioTIFF_LZW, ioTIFF_RGB},         {false, ioTIFF_PACKBITS, ioTIFF_RGB},
      {false, ioTIFF_LZW, ioTIFF_CMYK},        {false, ioTIFF_PACKBITS, ioTIFF_BLACKISZERO},
  };
  int N = 0;
  for (const Variant& V : Variants) {
    const std::string Path = F("ours" + std::to_string(++N) + ".tif");
    TBitmap Work;
    Work.Assign(V.OneBit ? Page : Rgb);
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Work);
    TIOParamsVals& P = IO.IOParams();
    P.BitsPerSample = V.OneBit ? 1 : 8;
    P.SamplesPerPixel = V.OneBit || V.Photometric == ioTIFF_BLACKISZERO ? 1 : 3;
    P.TiffCompression = V.Compression;
    P.TiffPhotometInterpret = V.Photometric;
    P.TiffDocumentName = "doc";
    P.TiffPageName = "a page name";
    P.TiffPageNumber = 1;
    P.TiffPageCount = 2;
    IO.SaveToFile(Path);
    ASSERT_FALSE(IO.Aborting) << N;
    EXPECT_EQ(Stderr("tiffinfo -D " + Path), "") << N;
    std::string Info;
    RunCommand("tiffinfo " + Path, &Info);
    EXPECT_NE(Info.find("DocumentName: doc"), std::string::npos) << Info;
    EXPECT_NE(Info.find("PageName: a page name"), std::string::npos) << Info;
    EXPECT_NE(Info.find("Page Number: 1-2"), std::string::npos) << Info;
    // tiffcp decodes and re-encodes without complaint; ImageMagick sees our pixels.
    EXPECT_EQ(Stderr("tiffcp -c none " + Path + " " + F("copy.tif")), "") << N;
    TBitmap Theirs, Ours;
    ASSERT_TRUE(ReadPeer(F("copy.tif"), F("peer.ppm"), Theirs)) << N;
    ASSERT_TRUE(ReadHere(Path, Ours)) << N;
    if (V.Photometric == ioTIFF_CMYK) {
      EXPECT_EQ(Theirs.GetWidth(), Ours.GetWidth());
      continue;
    }
    EXPECT_TRUE(SamePixels(As24(Ours), Theirs)) << N;
    if (V.Photometric != ioTIFF_BLACKISZERO) {
      EXPECT_TRUE(SamePixels(Ours, V.OneBit ? Page : Rgb)) << N;
    }
  }
}

TEST_F(TIFFPeers, OurPagesReadByThem) {
  // Three pages appended, one inserted first, one deleted: tiffinfo is content, tiffsplit and
  // ImageMagick find our pages.
  const TBitmap Pages[4] = {TextPage(300, 100, 1), RandomBitmap24(50, 40, 2), TextPage(123, 77, 3),
                            RandomBitmap24(33, 21, 4)};
  const std::string Path = F("pages.tif");
  TBitmap Work;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Work);
  for (int I = 0; I < 4; ++I) {
    Work.Assign(Pages[I]);
    const bool One = Pages[I].GetPixelFormat() == pf1bit;
    IO.IOParams().BitsPerSample = One ? 1 : 8;
    IO.IOParams().SamplesPerPixel = One ? 1 : 3;
    IO.IOParams().TiffCompression = One ? ioTIFF_G4FAX : ioTIFF_LZW;
    IO.IOParams().TiffImageIndex = I == 3 ? 0 : 100;
    if (I == 0)
      IO.SaveToFile(Path);
    else
      EXPECT_EQ(IO.InsertToFileTIFF(Path), I + 1);
    ASSERT_FALSE(IO.Aborting) << I;
  }
  // Order now: 3, 0, 1, 2. Delete page 2 (Pages[1]).
  EXPECT_EQ(EnumTIFFIm(Path), 4);
  EXPECT_EQ(DeleteTIFFIm(Path, 2), 4);
  EXPECT_EQ(EnumTIFFIm(Path), 3);
  EXPECT_EQ(Stderr("tiffinfo -D " + Path), "");
  ASSERT_EQ(RunCommand("cd " + Dir.Path() + " && tiffsplit " + Path + " split-"), 0);
  const int Expect[3] = {3, 0, 2};
  const char* Split[3] = {"split-aaa.tif", "split-aab.tif", "split-aac.tif"};
  for (int I = 0; I < 3; ++I) {
    TBitmap Theirs, Ours;
    ASSERT_TRUE(ReadPeer(F(Split[I]), F("peer.ppm"), Theirs)) << I;
    ASSERT_TRUE(ReadHere(Path, Ours, I)) << I;
    EXPECT_TRUE(SamePixels(As24(Pages[Expect[I]]), Theirs)) << I;
    EXPECT_TRUE(SamePixels(Ours, Pages[Expect[I]])) << I;
  }
}
