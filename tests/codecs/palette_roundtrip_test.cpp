// Opening a file and saving it again must not change a pixel when the format can hold the
// image: palette and grey files written by the peers' tools go through a load and a save in their
// own format and variant, and come back as the peers decode the original.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "quillo/codecs/bmp.h"
#include "quillo/codecs/gif.h"
#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "quillo/lzw/lzw.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/quantizer.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// N distinct colours (or grey levels) in blocks and stripes, so that every colour is used and
// the run-length coders meet both runs and changes.
TBitmap Colours(int32_t N, bool Grey, int32_t W = 61, int32_t H = 37) {
  std::vector<TRGB> Set;
  std::set<uint32_t> Seen;
  uint32_t R = 0x2545F491u + static_cast<uint32_t>(N) * 77u + (Grey ? 1u : 0u);
  while (static_cast<int32_t>(Set.size()) < N) {
    R = R * 1664525u + 1013904223u;
    const uint32_t V = Grey ? (R >> 24) * 0x010101u : R >> 8;
    if (!Seen.insert(V).second) continue;
    Set.push_back(CreateRGB(static_cast<uint8_t>(V >> 16), static_cast<uint8_t>(V >> 8),
                            static_cast<uint8_t>(V)));
  }
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X)
      reinterpret_cast<TRGB*>(B.ScanLine(Y))[X] =
          Set[static_cast<size_t>((X / 3 + Y * 7 + (X * Y) % 5) % N)];
  return B;
}

void WritePGM(const TBitmap& B, const std::string& Path) {
  const int32_t W = B.GetWidth(), H = B.GetHeight();
  std::string S = "P5\n" + std::to_string(W) + " " + std::to_string(H) + "\n255\n";
  std::vector<uint8_t> Bytes(S.begin(), S.end());
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X)
      Bytes.push_back(reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X].r);
  WriteFileBytes(Path, Bytes);
}

bool PeerDecode(const std::string& File, const std::string& Out, TBitmap& B) {
  // Bottom-up TGA files carry their orientation as a property; comments are left out.
  return PeerToPNM("convert " + File + " -auto-orient +set comment -depth 8 ppm:" + Out, Out, B);
}

struct TPeerFile {
  const char* Source;   // c<N>.ppm colour, g<N>.pgm grey
  const char* Command;  // %s the source, %o the file written
  const char* Ext;
};

// Every lossless format with its palette and grey variants, as the peers write them.
const TPeerFile kPeerFiles[] = {
    {"c2.ppm", "ppmtobmp -bpp 1 %s > %o", "bmp"},
    {"c16.ppm", "ppmtobmp -bpp 4 %s > %o", "bmp"},
    {"c200.ppm", "ppmtobmp -bpp 8 %s > %o", "bmp"},
    {"c256.ppm", "convert %s -type Palette BMP3:%o", "bmp"},
    {"g200.pgm", "ppmtobmp -bpp 8 %s > %o", "bmp"},
    {"c2.ppm", "pamtogif %s > %o", "gif"},
    {"c16.ppm", "pamtogif %s > %o", "gif"},
    {"c200.ppm", "convert %s %o", "gif"},
    {"c256.ppm", "pamtogif %s > %o", "gif"},
    {"g200.pgm", "convert %s %o", "gif"},
    {"c2.ppm", "pnmtopng %s > %o", "png"},
    {"c16.ppm", "pnmtopng %s > %o", "png"},
    {"c200.ppm", "convert %s PNG8:%o", "png"},
    {"c256.ppm", "pnmtopng %s > %o", "png"},
    {"g16.pgm", "pnmtopng %s > %o", "png"},
    {"g256.pgm", "convert %s %o", "png"},
    {"c2.ppm", "ppmtopcx %s > %o", "pcx"},
    {"c16.ppm", "ppmtopcx %s > %o", "pcx"},
    {"c200.ppm", "ppmtopcx -8bit %s > %o", "pcx"},
    {"g256.pgm", "ppmtopcx -8bit %s > %o", "pcx"},
    {"c16.ppm", "convert %s -type Palette %o", "tga"},
    {"c200.ppm", "ppmtotga -cmap %s > %o", "tga"},
    {"c256.ppm", "ppmtotga -cmap %s > %o", "tga"},
    {"g200.pgm", "ppmtotga -mono %s > %o", "tga"},
    {"c2.ppm", "convert %s -type Palette %o", "tif"},
    {"c16.ppm", "convert %s -type Palette %o", "tif"},
    {"c200.ppm", "pnmtotiff %s > %o", "tif"},
    {"c256.ppm", "pnmtotiff -lzw %s > %o", "tif"},
    {"g200.pgm", "pnmtotiff %s > %o", "tif"},
    {"g256.pgm", "cat %s > %o", "pgm"},
};

std::string Expand(std::string C, const std::string& Src, const std::string& Out) {
  C.replace(C.find("%s"), 2, Src);
  C.replace(C.find("%o"), 2, Out);
  return C;
}

class PaletteRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    QLInstallLZWCoders();
    for (const char* P :
         {"convert", "ppmtobmp", "pamtogif", "pnmtopng", "ppmtopcx", "ppmtotga", "pnmtotiff"})
      if (!HaveProgram(P)) GTEST_SKIP() << "peer tools missing";
    for (int32_t N : {2, 16, 200, 256}) {
      WriteReferencePPM(Colours(N, false), Dir.File("c" + std::to_string(N) + ".ppm"));
      WritePGM(Colours(N, true), Dir.File("g" + std::to_string(N) + ".pgm"));
    }
  }
  // Loads File with the library, saves it to Out with the parameters it was read with.
  void LoadSave(const std::string& File, const std::string& Out) {
    TBitmap B;
    TQuilloIO IO;
    IO.SetAttachedBitmap(&B);
    IO.LoadFromFile(File);
    ASSERT_FALSE(IO.Aborting) << File;
    IO.SaveToFile(Out);
    ASSERT_FALSE(IO.Aborting) << Out;
  }
  TempDir Dir;
};

TEST_F(PaletteRoundTrip, PeerFilesSaveInTheirOwnVariantUnchanged) {
  int32_t I = 0;
  for (const TPeerFile& F : kPeerFiles) {
    const std::string Tag = std::to_string(I++) + "." + F.Ext;
    const std::string Orig = Dir.File("peer" + Tag), Once = Dir.File("once" + Tag),
                      Twice = Dir.File("twice" + Tag);
    SCOPED_TRACE(Expand(F.Command, F.Source, Orig));
    ASSERT_EQ(RunCommand(Expand(F.Command, Dir.File(F.Source), Orig) + " 2>/dev/null"), 0);
    TBitmap Want, Got;
    ASSERT_TRUE(PeerDecode(Orig, Dir.File("want.ppm"), Want));
    LoadSave(Orig, Once);
    ASSERT_TRUE(PeerDecode(Once, Dir.File("got.ppm"), Got));
    EXPECT_TRUE(SamePixels(Want, Got));
    // The variant stays: the peer describes both files alike.
    std::string TypeOrig, TypeOnce;
    RunCommand("identify -format '%[type] %[bit-depth]' " + Orig + " 2>/dev/null", &TypeOrig);
    RunCommand("identify -format '%[type] %[bit-depth]' " + Once + " 2>/dev/null", &TypeOnce);
    EXPECT_EQ(TypeOrig, TypeOnce);
    // A second cycle keeps the palette and its order: the same bytes.
    LoadSave(Once, Twice);
    EXPECT_TRUE(ReadFileBytes(Once) == ReadFileBytes(Twice));
  }
}

TEST_F(PaletteRoundTrip, ConversionsBetweenPaletteFormatsAreExact) {
  struct TTarget {
    const char* Ext;
    int32_t Bits;
  };
  const TTarget Targets[] = {{"gif", 8}, {"bmp", 8}, {"png", 8}, {"pcx", 8},
                             {"tga", 8}, {"tif", 8}, {"bmp", 4}, {"gif", 4}};
  const TPeerFile Sources[] = {{"c200.ppm", "convert %s %o", "gif"},
                               {"c16.ppm", "ppmtobmp -bpp 4 %s > %o", "bmp"},
                               {"c256.ppm", "ppmtopcx -8bit %s > %o", "pcx"},
                               {"g200.pgm", "pnmtopng %s > %o", "png"}};
  int32_t I = 0;
  for (const TPeerFile& F : Sources) {
    const std::string Orig = Dir.File("src" + std::to_string(I++) + "." + F.Ext);
    ASSERT_EQ(RunCommand(Expand(F.Command, Dir.File(F.Source), Orig) + " 2>/dev/null"), 0);
    TBitmap Want;
    ASSERT_TRUE(PeerDecode(Orig, Dir.File("want.ppm"), Want));
    const bool Fits16 = std::string(F.Source) == "c16.ppm";
    for (const TTarget& T : Targets) {
      if (T.Bits == 4 && !Fits16) continue;
      SCOPED_TRACE(Orig + " to " + T.Ext + " at " + std::to_string(T.Bits) + " bits");
      TBitmap B;
      TQuilloIO IO;
      IO.SetAttachedBitmap(&B);
      IO.LoadFromFile(Orig);
      ASSERT_FALSE(IO.Aborting);
      TIOParamsVals& P = IO.IOParams();
      P.BitsPerSample = T.Bits;
      P.SamplesPerPixel = 1;
      P.TiffPhotometInterpret = ioTIFF_RGBPALETTE;
      P.TgaGrayLevel = false;
      const std::string Out = Dir.File(std::string("conv.") + T.Ext);
      IO.SaveToFile(Out);
      ASSERT_FALSE(IO.Aborting);
      TBitmap Got;
      ASSERT_TRUE(PeerDecode(Out, Dir.File("got.ppm"), Got));
      EXPECT_TRUE(SamePixels(Want, Got));
    }
  }
}

// Grey images of every level, white included, stay exact in each grey form.
TEST_F(PaletteRoundTrip, GreyLevelsSurviveEveryGreyWriter) {
  TBitmap Grey = Colours(256, true);
  for (const char* Ext : {"pgm", "tif", "png", "tga", "gif", "bmp", "pcx"}) {
    SCOPED_TRACE(Ext);
    TBitmap B;
    QLCopyBitmap(Grey, B);
    TQuilloIO IO;
    IO.SetAttachedBitmap(&B);
    TIOParamsVals& P = IO.IOParams();
    P.BitsPerSample = 8;
    P.SamplesPerPixel = 1;
    P.TiffPhotometInterpret = ioTIFF_BLACKISZERO;
    P.TgaGrayLevel = true;
    const std::string Out = Dir.File(std::string("grey.") + Ext);
    IO.SaveToFile(Out);
    ASSERT_FALSE(IO.Aborting);
    TBitmap Got;
    ASSERT_TRUE(PeerDecode(Out, Dir.File("got.ppm"), Got));
    EXPECT_TRUE(SamePixels(Grey, Got));
  }
  // A grey image's PNG is grey, not a palette.
  std::string Type;
  RunCommand("identify -format '%[type]' " + Dir.File("grey.png"), &Type);
  EXPECT_EQ(Type, "Grayscale");
}

// A grey JPEG of flat blocks decodes to the very levels, white included.
TEST_F(PaletteRoundTrip, GreyJpegKeepsWhite) {
  TBitmap B(16, 8, pf24bit);
  for (int32_t Y = 0; Y < 8; ++Y)
    for (int32_t X = 0; X < 16; ++X)
      reinterpret_cast<TRGB*>(B.ScanLine(Y))[X] =
          X < 8 ? CreateRGB(255, 255, 255) : CreateRGB(77, 77, 77);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&B);
  IO.IOParams().JpegColorSpace = ioJPEG_GRAYLEV;
  IO.IOParams().JpegQuality = 100;
  IO.SaveToFile(Dir.File("grey.jpg"));
  ASSERT_FALSE(IO.Aborting);
  TBitmap Got;
  ASSERT_TRUE(PeerDecode(Dir.File("grey.jpg"), Dir.File("got.ppm"), Got));
  EXPECT_EQ(reinterpret_cast<const TRGB*>(Got.ScanLine(3))[2], CreateRGB(255, 255, 255));
  EXPECT_EQ(reinterpret_cast<const TRGB*>(Got.ScanLine(3))[12], CreateRGB(77, 77, 77));
}

// Coloured pixels keep the weighted grey: (21 r + 71 g + 7 b) div 100.
TEST(StoredGrey, ColouredPixelsKeepTheWeightedFormula) {
  EXPECT_EQ(QLStoredGrey(255, 255, 255), 255);
  EXPECT_EQ(QLStoredGrey(7, 7, 7), 7);
  EXPECT_EQ(QLStoredGrey(255, 0, 0), 53);
  EXPECT_EQ(QLStoredGrey(255, 255, 254), 252);
  EXPECT_EQ(QLStoredGrey(0, 0, 1), 0);
  EXPECT_EQ(_RGBToGray(CreateRGB(255, 255, 255)), 252u);
}

// More colours than entries: the quantizer's palette and mapping, as before.
TEST(PaletteMapper, ManyColoursGoThroughTheQuantizer) {
  QLInstallLZWCoders();
  const TBitmap Src = RandomBitmap24(64, 48, 9);
  std::vector<TRGB> QPal(256);
  TQLQuantizer Q(Src, QPal.data(), 255, 256, -1, 0);

  TIOParamsVals P;
  P.BitsPerSample = 8;
  P.SamplesPerPixel = 1;
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  BMPWriteStream(S, Src, P, Prog);
  ASSERT_FALSE(Abort);
  EXPECT_TRUE(P.ColorMap == QPal);

  TMemoryStream G;
  WriteGifStream(G, Src, P, Prog);
  ASSERT_FALSE(Abort);
  G.SetPosition(0);
  TBitmap Back;
  TIOParamsVals R;
  int32_t Count = 0;
  ReadGifStream(G, Back, Count, R, Prog, false);
  ASSERT_FALSE(Abort);
  EXPECT_TRUE(R.ColorMap == QPal);
  for (int32_t Y = 0; Y < Src.GetHeight(); ++Y)
    for (int32_t X = 0; X < Src.GetWidth(); ++X) {
      const TRGB C = reinterpret_cast<const TRGB*>(Src.ScanLine(Y))[X];
      ASSERT_EQ(reinterpret_cast<const TRGB*>(Back.ScanLine(Y))[X],
                QPal[static_cast<size_t>(Q.GetRGBIndex(C))]);
    }
}

TEST(PaletteMapper, KeptPaletteOrderAndItsLimits) {
  const TBitmap Src = Colours(5, false, 9, 4);
  TQLColorSet Set;
  ASSERT_TRUE(Set.AddImage(Src, 256));
  const std::vector<TRGB> Own = Set.Colors();
  ASSERT_EQ(Own.size(), 5u);
  // A kept palette holding every colour (one twice, some spare entries) is used as it is.
  std::vector<TRGB> Kept = {CreateRGB(1, 2, 3)};
  for (auto It = Own.rbegin(); It != Own.rend(); ++It) Kept.push_back(*It);
  Kept.push_back(Own[0]);
  TQLPaletteMapper M(Src, 16, Kept);
  EXPECT_TRUE(M.Exact());
  EXPECT_TRUE(M.KeptOrder());
  std::vector<uint8_t> Idx(9);
  M.MapRow(Src.ScanLine(2), 9, Idx.data());
  for (int32_t X = 0; X < 9; ++X)
    EXPECT_EQ(Kept[Idx[static_cast<size_t>(X)]], reinterpret_cast<const TRGB*>(Src.ScanLine(2))[X]);
  EXPECT_EQ(M.IndexOf(Own[0]), 5);  // the first entry of a colour listed twice
  // Entries past the writer's palette size do not count; the image's own order takes over.
  TQLPaletteMapper Short(Src, 4 + 1, Kept);
  EXPECT_FALSE(Short.KeptOrder());
  EXPECT_TRUE(Short.Exact());
  EXPECT_EQ(Short.ColorCount(), 5);
  // Five colours do not fit four entries.
  TQLPaletteMapper Four(Src, 4, Kept);
  EXPECT_FALSE(Four.Exact());
}

// The one pass that counts and maps agrees with mapping row by row, whatever the width's
// remainder of four and with the kept order applied afterwards.
TEST(PaletteMapper, OnePassMatchesRowMapping) {
  for (int32_t W = 1; W <= 9; ++W)
    for (bool WithKept : {false, true}) {
      const TBitmap Src = Colours(std::min(256, W * 5), false, W, 7);
      TQLColorSet Set;
      ASSERT_TRUE(Set.AddImage(Src, 256));
      std::vector<TRGB> Kept(Set.Colors().rbegin(), Set.Colors().rend());
      std::vector<uint8_t> All(static_cast<size_t>(W) * 7), Row(static_cast<size_t>(W));
      TQLPaletteMapper M(Src, 256, WithKept ? Kept : std::vector<TRGB>{}, All.data());
      EXPECT_EQ(M.KeptOrder(), WithKept);
      for (int32_t Y = 0; Y < 7; ++Y) {
        M.MapRow(Src.ScanLine(Y), W, Row.data());
        for (int32_t X = 0; X < W; ++X) {
          ASSERT_EQ(All[static_cast<size_t>(Y * W + X)], Row[static_cast<size_t>(X)]);
          ASSERT_EQ(M.Palette()[Row[static_cast<size_t>(X)]],
                    reinterpret_cast<const TRGB*>(Src.ScanLine(Y))[X]);
        }
      }
    }
}

}  // namespace
