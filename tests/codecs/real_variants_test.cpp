// Variants that other tools write: two-colour images of other colours than black and white,
// the large TIFF form, deflate, luma and chroma pages, the first writers' LZW, and reading every
// frame or page in one pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "quillo/codecs/bmp.h"
#include "quillo/codecs/gif.h"
#include "quillo/codecs/tiff.h"
#include "quillo/io/quilloio.h"
#include "quillo/lzw/lzw.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

class RealVariants : public ::testing::Test {
 protected:
  void SetUp() override {
    QLInstallLZWCoders();
    for (const char* P : {"convert", "ppmtobmp", "ppmtopcx", "ppmtogif", "tiffcp", "tiffinfo",
                          "tiff2rgba", "pnmtotiff", "pcxtoppm"})
      if (!HaveProgram(P)) GTEST_SKIP() << P << " is missing";
  }
  TempDir Dir;
  std::string F(const std::string& Name) const { return Dir.File(Name); }

  // Loads a file through the I/O component (format by content).
  bool Load(const std::string& Path, TBitmap& Out, TIOParamsVals* Params = nullptr,
            int32_t Index = 0) {
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Out);
    IO.IOParams().TiffImageIndex = Index;
    IO.IOParams().GifImageIndex = Index;
    TFileStream S(Path, fmOpenRead | fmShareDenyWrite);
    IO.LoadFromStream(S);
    if (Params) Params->Assign(IO.IOParams());
    return !IO.Aborting && !Out.Empty();
  }
};

// Blue with a green block and a checker corner: two colours, neither black nor white.
TBitmap TwoColours() {
  TBitmap B(37, 11, pf24bit);
  for (int32_t Y = 0; Y < 11; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(B.ScanLine(Y));
    for (int32_t X = 0; X < 37; ++X) {
      const bool Green = (X >= 3 && X <= 20 && Y >= 2 && Y <= 8) || (X > 30 && (X + Y) % 2);
      Row[X] = Green ? CreateRGB(30, 220, 60) : CreateRGB(20, 40, 200);
    }
  }
  return B;
}

TEST_F(RealVariants, TwoColourFilesOfPeersKeepTheirColours) {
  const TBitmap Source = TwoColours();
  WriteReferencePPM(Source, F("two.ppm"));
  const std::string In = "'" + F("two.ppm") + "'";
  struct TCase {
    const char* File;
    std::string Command;
    bool Netpbm;  // decoded by netpbm (ImageMagick reads a 1-bit PCX as black and white)
  };
  const std::vector<TCase> Cases = {
      {"nb.bmp", "ppmtobmp " + In + " > '" + F("nb.bmp") + "'", false},
      {"im.bmp", "convert " + In + " -type palette BMP3:'" + F("im.bmp") + "'", false},
      {"nb.pcx", "ppmtopcx " + In + " > '" + F("nb.pcx") + "'", true},
      {"nb.gif", "ppmtogif " + In + " > '" + F("nb.gif") + "'", false},
      {"im.ico", "convert " + In + " -colors 2 '" + F("im.ico") + "'", false},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.File);
    ASSERT_EQ(RunCommand(C.Command + " 2>/dev/null"), 0);
    TBitmap Peer;
    const std::string Decode = C.Netpbm
                                   ? "pcxtoppm '" + F(C.File) + "' > '" + F("peer.ppm") + "'"
                                   : "convert '" + F(C.File) + "' -depth 8 '" + F("peer.ppm") + "'";
    ASSERT_TRUE(PeerToPNM(Decode, F("peer.ppm"), Peer));
    TBitmap Ours;
    TIOParamsVals P;
    ASSERT_TRUE(Load(F(C.File), Ours, &P));
    EXPECT_EQ(Ours.GetPixelFormat(), pf24bit);
    EXPECT_TRUE(SamePixels(Ours, Peer));
    EXPECT_TRUE(SamePixels(Ours, Source));
    // The parameters still tell the file's own depth and palette.
    EXPECT_EQ(P.BitsPerSample, 1);
    ASSERT_GE(P.ColorMapCount, 2);
    EXPECT_TRUE(
        (P.ColorMap[0] == CreateRGB(20, 40, 200) && P.ColorMap[1] == CreateRGB(30, 220, 60)) ||
        (P.ColorMap[1] == CreateRGB(20, 40, 200) && P.ColorMap[0] == CreateRGB(30, 220, 60)));
  }
}

TEST_F(RealVariants, OneBitPcxOfWhiteThenBlackAndOfAnUnsetPalette) {
  // A 1-bit, 1-plane PCX of 16 x 2 pixels: row 0 all index 0, row 1 all index 1.
  std::vector<uint8_t> File(128, 0);
  File[0] = 10, File[1] = 5, File[2] = 0, File[3] = 1;
  File[8] = 15, File[10] = 1;  // Xmax, Ymax
  File[65] = 1, File[66] = 2;  // planes, bytes per line
  const std::vector<uint8_t> Rows = {0x00, 0x00, 0xFF, 0xFF};
  File.insert(File.end(), Rows.begin(), Rows.end());
  for (const bool WhiteFirst : {false, true}) {
    SCOPED_TRACE(WhiteFirst ? "white, black" : "unset palette");
    if (WhiteFirst) std::fill(File.begin() + 16, File.begin() + 19, uint8_t{255});
    WriteFileBytes(F("wb.pcx"), File);
    TBitmap Ours;
    ASSERT_TRUE(Load(F("wb.pcx"), Ours));
    EXPECT_EQ(Ours.GetPixelFormat(), pf1bit);
    const uint8_t Top = WhiteFirst ? 0xFF : 0x00;
    EXPECT_EQ(Ours.ScanLine(0)[0], Top);
    EXPECT_EQ(Ours.ScanLine(1)[1], static_cast<uint8_t>(~Top));
  }
}

TEST_F(RealVariants, OneBitColourMappedTgaUsesItsMap) {
  // 10 x 2, top-down, a two-entry map; row 0 alternates the indexes, row 1 is all index 1.
  auto Tga = [](TRGB C0, TRGB C1) {
    std::vector<uint8_t> T = {0, 1, 1, 0, 0, 2, 0, 24, 0, 0, 0, 0, 10, 0, 2, 0, 1, 0x20};
    for (const TRGB& C : {C0, C1}) T.insert(T.end(), {C.b, C.g, C.r});
    T.insert(T.end(), {0x55, 0x40, 0xFF, 0xC0});
    return T;
  };
  const TRGB Teal = CreateRGB(0, 128, 128), Orange = CreateRGB(255, 140, 0);
  WriteFileBytes(F("map.tga"), Tga(Teal, Orange));
  TBitmap Ours;
  ASSERT_TRUE(Load(F("map.tga"), Ours));
  ASSERT_EQ(Ours.GetPixelFormat(), pf24bit);
  const TRGB* Row0 = reinterpret_cast<const TRGB*>(Ours.ScanLine(0));
  const TRGB* Row1 = reinterpret_cast<const TRGB*>(Ours.ScanLine(1));
  for (int32_t X = 0; X < 10; ++X) {
    EXPECT_EQ(Row0[X], X % 2 ? Orange : Teal) << X;
    EXPECT_EQ(Row1[X], Orange) << X;
  }
  // White then black stays 1-bit, the bits turned to the working layout's meaning.
  WriteFileBytes(F("wb.tga"), Tga(CreateRGB(255, 255, 255), CreateRGB(0, 0, 0)));
  TBitmap Wb;
  ASSERT_TRUE(Load(F("wb.tga"), Wb));
  ASSERT_EQ(Wb.GetPixelFormat(), pf1bit);
  EXPECT_EQ(Wb.ScanLine(0)[0], 0xAA);
  EXPECT_EQ(Wb.ScanLine(1)[0], 0x00);
}

TEST_F(RealVariants, LargeTiffOfPeersReadAndOursReadByPeers) {
  const TBitmap Source = RandomBitmap24(61, 47, 7);
  WriteReferencePPM(Source, F("src.ppm"));
  ASSERT_EQ(RunCommand("pnmtotiff '" + F("src.ppm") + "' > '" + F("src.tif") + "' 2>/dev/null"), 0);
  for (const std::string& Opts :
       std::vector<std::string>{"-c none -r 8", "-c lzw -t -w 16 -l 16", "-c zip:p2 -r 5"}) {
    SCOPED_TRACE(Opts);
    ASSERT_EQ(RunCommand("tiffcp -8 " + Opts + " '" + F("src.tif") + "' '" + F("big.tif") + "'"),
              0);
    const std::vector<uint8_t> Head = ReadFileBytes(F("big.tif"));
    ASSERT_EQ(Head[2] | Head[3], 43);
    TBitmap Ours;
    ASSERT_TRUE(Load(F("big.tif"), Ours));
    EXPECT_TRUE(SamePixels(Ours, Source));
  }
  // Ours in the large form, two pages, read back by libtiff's tools.
  TBitmap Image;
  Image.Assign(Source);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  IO.IOParams().TiffBigTIFF = true;
  IO.IOParams().TiffCompression = ioTIFF_DEFLATE;
  IO.SaveToFile(F("ours.tif"));
  ASSERT_FALSE(IO.Aborting);
  IO.IOParams().TiffImageIndex = 1;
  IO.IOParams().TiffCompression = ioTIFF_LZW;
  IO.InsertToFileTIFF(F("ours.tif"));
  ASSERT_FALSE(IO.Aborting);
  const std::vector<uint8_t> Head = ReadFileBytes(F("ours.tif"));
  ASSERT_EQ(Head[2], 43);
  std::string Info;
  ASSERT_EQ(RunCommand("tiffinfo '" + F("ours.tif") + "' 2>&1", &Info), 0);
  EXPECT_EQ(Info.find("rror"), std::string::npos) << Info;
  for (int32_t Page : {0, 1}) {
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM("convert '" + F("ours.tif") + "[" + std::to_string(Page) +
                              "]' -depth 8 '" + F("p.ppm") + "'",
                          F("p.ppm"), Peer));
    EXPECT_TRUE(SamePixels(Peer, Source)) << Page;
    TBitmap Ours;
    ASSERT_TRUE(Load(F("ours.tif"), Ours, nullptr, Page));
    EXPECT_TRUE(SamePixels(Ours, Source)) << Page;
  }
  // tiffcp rewrites it in the classic form with the same pixels.
  ASSERT_EQ(RunCommand("tiffcp -c none '" + F("ours.tif") + "' '" + F("classic.tif") + "'"), 0);
  TBitmap Back;
  ASSERT_TRUE(Load(F("classic.tif"), Back, nullptr, 1));
  EXPECT_TRUE(SamePixels(Back, Source));
}

TEST_F(RealVariants, DeflateWrittenIsReadByPeersAndReportedPerPage) {
  TBitmap Image = RandomBitmap24(50, 30, 3);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  IO.IOParams().TiffCompression = ioTIFF_LZW;
  IO.SaveToFile(F("two.tif"));
  IO.IOParams().TiffCompression = ioTIFF_DEFLATE;
  IO.IOParams().TiffImageIndex = 1;
  IO.InsertToFileTIFF(F("two.tif"));
  ASSERT_FALSE(IO.Aborting);
  std::string Info;
  RunCommand("tiffinfo '" + F("two.tif") + "' 2>&1", &Info);
  EXPECT_NE(Info.find("Deflate"), std::string::npos) << Info;
  EXPECT_NE(Info.find("horizontal differencing"), std::string::npos) << Info;
  TBitmap Peer;
  ASSERT_EQ(RunCommand("tiffcp -c none '" + F("two.tif") + ",1' '" + F("p.tif") + "'"), 0);
  ASSERT_TRUE(
      PeerToPNM("convert '" + F("p.tif") + "' -depth 8 '" + F("p.ppm") + "'", F("p.ppm"), Peer));
  EXPECT_TRUE(SamePixels(Peer, Image));
  // One component reads page 0 (LZW) then page 1 (deflate): each reports its own.
  TBitmap Out;
  TQuilloIO Reader;
  Reader.SetAttachedBitmap(&Out);
  Reader.LoadFromFile(F("two.tif"));
  EXPECT_EQ(Reader.IOParams().TiffCompression, ioTIFF_LZW);
  Reader.IOParams().TiffImageIndex = 1;
  Reader.LoadFromFile(F("two.tif"));
  EXPECT_EQ(Reader.IOParams().TiffCompression, ioTIFF_DEFLATE);
  EXPECT_TRUE(SamePixels(Out, Image));
  // The value survives the parameter stream.
  TMemoryStream M;
  Reader.IOParams().TiffBigTIFF = true;
  Reader.IOParams().SaveToStream(M);
  M.SetPosition(0);
  TIOParamsVals Loaded;
  Loaded.LoadFromStream(M);
  EXPECT_EQ(Loaded.TiffCompression, ioTIFF_DEFLATE);
  EXPECT_TRUE(Loaded.TiffBigTIFF);
}

// A classic little-endian TIFF of one strip with the given entries (tag, type, values); values
// that do not fit in an entry follow the header.
std::vector<uint8_t> TinyTiff(
    std::vector<std::tuple<uint16_t, uint16_t, std::vector<uint32_t>>> Tags,
    const std::vector<uint8_t>& Strip) {
  std::vector<uint8_t> Out = {'I', 'I', 42, 0, 0, 0, 0, 0};
  auto Put = [](std::vector<uint8_t>& V, uint32_t X, int Bytes) {
    for (int I = 0; I < Bytes; ++I) V.push_back(static_cast<uint8_t>(X >> (8 * I)));
  };
  const uint32_t StripAt = static_cast<uint32_t>(Out.size());
  Out.insert(Out.end(), Strip.begin(), Strip.end());
  if (Out.size() & 1) Out.push_back(0);
  Tags.push_back({273, 4, {StripAt}});
  Tags.push_back({279, 4, {static_cast<uint32_t>(Strip.size())}});
  std::sort(Tags.begin(), Tags.end(),
            [](const auto& A, const auto& B) { return std::get<0>(A) < std::get<0>(B); });
  std::vector<std::vector<uint8_t>> Values;
  for (const auto& [Tag, Type, V] : Tags) {
    std::vector<uint8_t> Bytes;
    for (uint32_t X : V) {
      if (Type == 5) {
        Put(Bytes, X, 4);
        Put(Bytes, 1, 4);
      } else {
        Put(Bytes, X, Type == 3 ? 2 : 4);
      }
    }
    Values.push_back(Bytes);
  }
  std::vector<uint32_t> Where(Tags.size(), 0);
  for (size_t I = 0; I < Tags.size(); ++I)
    if (Values[I].size() > 4) {
      Where[I] = static_cast<uint32_t>(Out.size());
      Out.insert(Out.end(), Values[I].begin(), Values[I].end());
    }
  const uint32_t Ifd = static_cast<uint32_t>(Out.size());
  for (int I = 0; I < 4; ++I) Out[4 + I] = static_cast<uint8_t>(Ifd >> (8 * I));
  Put(Out, static_cast<uint32_t>(Tags.size()), 2);
  for (size_t I = 0; I < Tags.size(); ++I) {
    Put(Out, std::get<0>(Tags[I]), 2);
    Put(Out, std::get<1>(Tags[I]), 2);
    Put(Out, static_cast<uint32_t>(std::get<2>(Tags[I]).size()), 4);
    std::vector<uint8_t> Field = Values[I].size() > 4 ? std::vector<uint8_t>{} : Values[I];
    if (Values[I].size() > 4) Put(Field, Where[I], 4);
    Field.resize(4, 0);
    Out.insert(Out.end(), Field.begin(), Field.end());
  }
  Put(Out, 0, 4);
  return Out;
}

TEST_F(RealVariants, LumaChromaPagesMatchLibtiff) {
  // ImageMagick's (no subsampling), tiled by tiffcp too, and one built here with 2 x 2 units
  // over a width and height that are not multiples of the unit.
  const TBitmap Source = RandomBitmap24(33, 21, 5);
  WriteReferencePPM(Source, F("src.ppm"));
  ASSERT_EQ(RunCommand("convert '" + F("src.ppm") + "' -colorspace YCbCr -compress none '" +
                       F("im.tif") + "'"),
            0);
  const int32_t W = 7, H = 5, Across = 4, Down = 3;
  std::vector<uint8_t> Units;
  for (int32_t U = 0; U < Across * Down; ++U)
    for (int32_t K = 0; K < 6; ++K) Units.push_back(static_cast<uint8_t>(U * 37 + K * 41 + 16));
  WriteFileBytes(F("sub.tif"), TinyTiff({{256, 3, {W}},
                                         {257, 3, {H}},
                                         {258, 3, {8, 8, 8}},
                                         {259, 3, {1}},
                                         {262, 3, {6}},
                                         {277, 3, {3}},
                                         {278, 3, {H}},
                                         {530, 3, {2, 2}}},
                                        Units));
  ASSERT_EQ(RunCommand("tiffcp -t -w 16 -l 16 '" + F("im.tif") + "' '" + F("tiles.tif") + "'"), 0);
  for (const char* Name : {"im.tif", "sub.tif", "tiles.tif"}) {
    SCOPED_TRACE(Name);
    ASSERT_EQ(RunCommand("tiff2rgba -c none '" + F(Name) + "' '" + F("rgba.tif") + "'"), 0);
    TBitmap Peer, Ours;
    TIOParamsVals P;
    ASSERT_TRUE(Load(F("rgba.tif"), Peer));
    ASSERT_TRUE(Load(F(Name), Ours, &P));
    EXPECT_EQ(P.TiffPhotometInterpret, ioTIFF_YCBCR);
    EXPECT_TRUE(SamePixels(Ours, Peer));
  }
}

TEST_F(RealVariants, OneBitPaletteTiffOfOtherColoursMatchesLibtiff) {
  // 10 x 2: row 0 alternates the indexes, row 1 is all index 1; green then magenta.
  WriteFileBytes(F("pal1.tif"), TinyTiff({{256, 3, {10}},
                                          {257, 3, {2}},
                                          {258, 3, {1}},
                                          {259, 3, {1}},
                                          {262, 3, {3}},
                                          {278, 3, {2}},
                                          {320, 3, {0, 0xF000, 0xFFFF, 0x1000, 0, 0xE000}}},
                                         {0x55, 0x40, 0xFF, 0xC0}));
  ASSERT_EQ(RunCommand("tiff2rgba -c none '" + F("pal1.tif") + "' '" + F("rgba.tif") + "'"), 0);
  TBitmap Peer, Ours;
  TIOParamsVals P;
  ASSERT_TRUE(Load(F("rgba.tif"), Peer));
  ASSERT_TRUE(Load(F("pal1.tif"), Ours, &P));
  EXPECT_EQ(Ours.GetPixelFormat(), pf24bit);
  EXPECT_TRUE(SamePixels(Ours, Peer));
  EXPECT_EQ(P.BitsPerSample, 1);
  EXPECT_EQ(P.ColorMapCount, 2);
}

TEST_F(RealVariants, FirstWritersLzwCodesLeastSignificantBitFirst) {
  // Clear, then every byte as a literal code, then the end code, packed from the low bit; the
  // width grows when the next entry reaches the current width's limit (no early change).
  std::vector<uint8_t> Row;
  for (int32_t I = 0; I < 600; ++I) Row.push_back(static_cast<uint8_t>(I * 7 % 256));
  std::vector<uint8_t> Data;
  uint64_t Acc = 0;
  int32_t Have = 0, Bits = 9, Next = 258;
  auto Emit = [&](uint32_t Code) {
    Acc |= uint64_t{Code} << Have;
    Have += Bits;
    while (Have >= 8) Data.push_back(static_cast<uint8_t>(Acc)), Acc >>= 8, Have -= 8;
  };
  Emit(256);
  for (size_t I = 0; I < Row.size(); ++I) {
    Emit(Row[I]);
    if (I > 0 && ++Next >= (1 << Bits)) ++Bits;
  }
  Emit(257);
  if (Have) Data.push_back(static_cast<uint8_t>(Acc));
  WriteFileBytes(F("old.tif"), TinyTiff({{256, 3, {600}},
                                         {257, 3, {1}},
                                         {258, 3, {8}},
                                         {259, 3, {5}},
                                         {262, 3, {1}},
                                         {278, 3, {1}}},
                                        Data));
  TBitmap Ours, Peer;
  ASSERT_TRUE(Load(F("old.tif"), Ours));
  ASSERT_TRUE(
      PeerToPNM("convert '" + F("old.tif") + "' -depth 8 '" + F("p.ppm") + "'", F("p.ppm"), Peer));
  EXPECT_TRUE(SamePixels(Ours, Peer));
  const TRGB* Px = reinterpret_cast<const TRGB*>(Ours.ScanLine(0));
  EXPECT_EQ(Px[599].g, Row[599]);
}

TEST_F(RealVariants, EveryFrameInOnePassMatchesReadingByIndex) {
  // A GIF of four frames of their own delays, and a TIFF of three pages of different
  // compressions.
  std::vector<TBitmap> Frames;
  for (uint32_t K = 0; K < 4; ++K) Frames.push_back(RandomBitmap24(9 + K, 7, K));
  for (const char* Name : {"anim.gif", "pages.tif"}) {
    SCOPED_TRACE(Name);
    const bool Gif = std::string(Name) == "anim.gif";
    const int32_t N = Gif ? 4 : 3;
    for (int32_t K = 0; K < N; ++K) {
      TBitmap Image;
      Image.Assign(Frames[static_cast<size_t>(K)]);
      TQuilloIO IO;
      IO.SetAttachedBitmap(&Image);
      IO.IOParams().GifDelayTime = 10 * K;
      IO.IOParams().GifImageIndex = K;
      IO.IOParams().TiffImageIndex = K;
      IO.IOParams().TiffCompression = K == 1 ? ioTIFF_DEFLATE : ioTIFF_LZW;
      if (K == 0)
        IO.SaveToFile(F(Name));
      else if (Gif)
        IO.InsertToFileGif(F(Name));
      else
        IO.InsertToFileTIFF(F(Name));
      ASSERT_FALSE(IO.Aborting);
    }
    TBitmap Each;
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Each);
    int32_t Seen = 0;
    const int32_t Count = IO.LoadEachImage(F(Name), Gif ? ioGIF : ioTIFF, [&](int32_t I) {
      EXPECT_EQ(I, Seen++);
      TBitmap One;
      TIOParamsVals P;
      EXPECT_TRUE(Load(F(Name), One, &P, I));
      EXPECT_TRUE(SamePixels(Each, One)) << I;
      const TIOParamsVals& Q = IO.IOParams();
      EXPECT_EQ(Q.GifDelayTime, P.GifDelayTime) << I;
      EXPECT_EQ(Q.GifImageCount, P.GifImageCount) << I;
      EXPECT_EQ(Q.TiffImageCount, P.TiffImageCount) << I;
      EXPECT_EQ(Q.TiffCompression, P.TiffCompression) << I;
      return true;
    });
    EXPECT_EQ(Count, N);
    EXPECT_FALSE(IO.Aborting);
  }
}

}  // namespace
