// The quillo tool run as a user runs it: through the shell, on files made here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "quillo/codecs/bmp.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "quillo/lzw/lzw.h"
#include "quillo/multi/avifile.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

const std::string kTool = QUILLO_TOOL_PATH;

// Runs the tool with Args (a shell-quoted line); returns the exit status, output in Out.
int Tool(const std::string& Args, std::string* Out = nullptr) {
  return RunCommand(kTool + " --quiet " + Args + " 2>&1", Out);
}

void WriteImage(const TBitmap& B, const std::string& Path, const std::string& Set = "") {
  TBitmap Copy;
  Copy.Assign(B);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Copy);
  (void)Set;
  IO.SaveToFile(Path);
  ASSERT_FALSE(IO.Aborting) << Path;
}

bool ReadImage(const std::string& Path, TBitmap& B) {
  TQuilloIO IO;
  IO.SetAttachedBitmap(&B);
  IO.LoadFromFile(Path);
  return !IO.Aborting;
}

std::vector<std::string> FilesIn(const std::string& Dir) {
  std::vector<std::string> Names;
  for (const auto& E : std::filesystem::directory_iterator(Dir))
    Names.push_back(E.path().filename().string());
  std::sort(Names.begin(), Names.end());
  return Names;
}

}  // namespace

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kTool.empty()) GTEST_SKIP() << "the tool is not built";
  }
  TempDir Dir;
};

TEST_F(ToolTest, HelpVersionAndUsageErrors) {
  std::string Out;
  EXPECT_EQ(Tool("--help", &Out), 0);
  EXPECT_NE(Out.find("convert"), std::string::npos);
  for (const char* Cmd : {"info", "convert", "process", "frames", "join", "demo", "formats"}) {
    EXPECT_EQ(Tool(std::string(Cmd) + " --help", &Out), 0) << Cmd;
    EXPECT_NE(Out.find("usage"), std::string::npos) << Cmd;
  }
  EXPECT_EQ(Tool("", &Out), 2);
  EXPECT_EQ(Tool("frobnicate", &Out), 2);
  EXPECT_EQ(Tool("convert onlyone", &Out), 2);
  EXPECT_EQ(Tool("--max-pixels -5 info x", &Out), 2);
  EXPECT_EQ(Tool("--version", &Out), 0);
}

TEST_F(ToolTest, InfoTextAndJson) {
  const TBitmap B = RandomBitmap24(37, 21, 5);
  WriteImage(B, Dir.File("a.bmp"));
  WriteImage(B, Dir.File("b.png"));
  std::string Out;
  ASSERT_EQ(Tool("info " + Dir.File("a.bmp"), &Out), 0) << Out;
  EXPECT_NE(Out.find("37 x 21"), std::string::npos) << Out;
  EXPECT_NE(Out.find("BmpVersion"), std::string::npos) << Out;
  // JSON parses back, one object per file, errors included.
  const std::string Cmd = kTool + " info --json " + Dir.File("a.bmp") + " " + Dir.File("b.png") +
                          " " + Dir.File("missing.png") + " 2>/dev/null > " + Dir.File("info.json");
  EXPECT_EQ(RunCommand(Cmd), 1);
  if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is not installed";
  ASSERT_EQ(RunCommand("python3 -c \"import json,sys; d=json.load(open(sys.argv[1])); "
                       "assert len(d)==3; assert d[0]['width']==37 and d[0]['height']==21; "
                       "assert d[1]['fileType']==8 and 'PngCompression' in d[1]['parameters']; "
                       "assert d[2]['error']=='no such file'\" " +
                       Dir.File("info.json")),
            0);
}

TEST_F(ToolTest, ConvertCarriesAndSetsParameters) {
  const TBitmap B = RandomBitmap24(40, 30, 9);
  WriteImage(B, Dir.File("in.bmp"));
  std::string Out;
  // Lossless round trips by extension and by --format.
  for (const char* Ext : {"png", "tga", "ppm", "pcx", "tif"}) {
    const std::string O = Dir.File(std::string("o.") + Ext);
    ASSERT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + O, &Out), 0) << Ext << Out;
    TBitmap R;
    ASSERT_TRUE(ReadImage(O, R)) << Ext;
    EXPECT_TRUE(SamePixels(R, B)) << Ext;
  }
  ASSERT_EQ(Tool("convert --format png " + Dir.File("in.bmp") + " " + Dir.File("noext"), &Out), 0)
      << Out;
  EXPECT_EQ(ReadFileBytes(Dir.File("noext"))[1], 'P');
  // --set by short and full enumeration names, and numbers.
  ASSERT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("q.jpg") +
                     " --set JpegQuality=95 --set "
                     "JpegProgressive=true",
                 &Out),
            0)
      << Out;
  ASSERT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("rle.bmp") +
                     " --set BitsPerSample=8 --set SamplesPerPixel=1 --set BmpCompression=rle",
                 &Out),
            0)
      << Out;
  ASSERT_EQ(Tool("info --json " + Dir.File("rle.bmp"), &Out), 0);
  EXPECT_NE(Out.find("\"BmpCompression\": \"ioBMP_RLE\""), std::string::npos) << Out;
  // A saved parameters file.
  TIOParamsVals P;
  P.JpegQuality = 10;
  P.SaveToFile(Dir.File("p.params"));
  ASSERT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("low.jpg") + " --params " +
                     Dir.File("p.params"),
                 &Out),
            0);
  EXPECT_LT(std::filesystem::file_size(Dir.File("low.jpg")),
            std::filesystem::file_size(Dir.File("q.jpg")));
  // A grey JPEG from a black-and-white image, and a netpbm depth from the extension.
  ASSERT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("g.pgm"), &Out), 0);
  EXPECT_EQ(ReadFileBytes(Dir.File("g.pgm"))[1], '5');
  ASSERT_EQ(Tool("convert " + Dir.File("g.pgm") + " " + Dir.File("g.jpg"), &Out), 0);
  ASSERT_EQ(Tool("info --json " + Dir.File("g.jpg"), &Out), 0);
  EXPECT_NE(Out.find("\"samplesPerPixel\": 1"), std::string::npos) << Out;
}

// The whole of info's output for files written with --set: the parameters' names, order, JSON
// kinds and text forms as users and scripts see them.
// The video libraries load only when a video is used: they and what they bring cost a tenth
// of a second at every start.
TEST_F(ToolTest, VideoLibrariesLoadOnlyForVideos) {
  WriteImage(RandomBitmap24(5, 4, 1), Dir.File("a.bmp"));
  std::string Out;
  ASSERT_EQ(
      RunCommand("LD_DEBUG=files " + kTool + " --quiet info " + Dir.File("a.bmp") + " 2>&1", &Out),
      0);
  EXPECT_NE(Out.find("libpng"), std::string::npos) << "LD_DEBUG shows no libraries";
  EXPECT_EQ(Out.find("libavformat"), std::string::npos);
  if (!QLAVIAvailable()) return;
  ASSERT_EQ(
      Tool("join " + Dir.File("v.avi") + " " + Dir.File("a.bmp") + " " + Dir.File("a.bmp"), &Out),
      0)
      << Out;
  ASSERT_EQ(
      RunCommand("LD_DEBUG=files " + kTool + " --quiet info " + Dir.File("v.avi") + " 2>&1", &Out),
      0);
  EXPECT_NE(Out.find("libavformat"), std::string::npos);
}

TEST_F(ToolTest, InfoOfSetParametersIsPinned) {
  WriteImage(RandomBitmap24(12, 8, 3), Dir.File("in.png"));
  std::string Out;
  // Names in any case, enumerations by full or short name in any case, colours with or
  // without '#', booleans in their several spellings.
  ASSERT_EQ(Tool("convert " + Dir.File("in.png") + " " + Dir.File("t.tga") +
                     " --set tgaauthor=me --set TgaDate=44000.5 --set TgaBackground=#102030"
                     " --set TGAIMAGENAME=job --set TgaGamma=1.8 --set TgaAspectRatio=0.5"
                     " --set TgaCompressed=no --set TgaXPos=3 --set TgaYPos=4"
                     " --set TgaDescriptor=id --set TgaGrayLevel=off",
                 &Out),
            0)
      << Out;
  ASSERT_EQ(Tool("convert " + Dir.File("in.png") + " " + Dir.File("p.png") +
                     " --set PngInterlaced=YES --set PngBackground=abcdef --set PngFilter=Paeth"
                     " --set PngCompression=9",
                 &Out),
            0)
      << Out;
  ASSERT_EQ(Tool("convert " + Dir.File("in.png") + " " + Dir.File("r.pcx") +
                     " --set BitsPerSample=8 --set SamplesPerPixel=1"
                     " --set PcxCompression=IOPCX_UNCOMPRESSED",
                 &Out),
            0)
      << Out;
  const std::string Info = "cd " + Dir.Path() + " && " + kTool + " --quiet info ";
  // The PNG reader does not learn the filter or the compression level from the file.
  std::string Json, Text;
  ASSERT_EQ(RunCommand(Info + "--json t.tga p.png r.pcx", &Json), 0);
  EXPECT_EQ(
      Json,
      R"([{"file": "t.tga", "format": "Targa Bitmap (TGA) Uncompressed", "fileType": 11, "width": 12, "height": 8, "bitsPerSample": 8, "samplesPerPixel": 3, "dpiX": 96, "dpiY": 96, "paletteSize": 0, "images": 1, "parameters": {"TgaXPos": 3, "TgaYPos": 4, "TgaCompressed": false, "TgaDescriptor": "id", "TgaAuthor": "me", "TgaDate": 44000.5, "TgaImageName": "job", "TgaBackground": "#102030", "TgaAspectRatio": 0.5, "TgaGamma": 1.8, "TgaGrayLevel": false}}, )"
      R"({"file": "p.png", "format": "Portable Network Graphics (PNG) Interlaced", "fileType": 8, "width": 12, "height": 8, "bitsPerSample": 8, "samplesPerPixel": 3, "dpiX": 96, "dpiY": 96, "paletteSize": 0, "images": 1, "parameters": {"PngInterlaced": true, "PngBackground": "#ABCDEF", "PngFilter": "ioPNG_FILTER_NONE", "PngCompression": 5}}, )"
      R"({"file": "r.pcx", "format": "PaintBrush (PCX) Uncompressed", "fileType": 4, "width": 12, "height": 8, "bitsPerSample": 8, "samplesPerPixel": 1, "dpiX": 96, "dpiY": 96, "paletteSize": 256, "images": 1, "parameters": {"PcxVersion": 5, "PcxCompression": "ioPCX_UNCOMPRESSED"}}])"
      "\n");
  ASSERT_EQ(RunCommand(Info + "t.tga p.png r.pcx", &Text), 0);
  EXPECT_EQ(Text, R"(t.tga: Targa Bitmap (TGA) Uncompressed
  size                   12 x 8
  depth                  8 bits per sample, 3 samples per pixel
  resolution             96 x 96 dpi
  TgaXPos                3
  TgaYPos                4
  TgaCompressed          false
  TgaDescriptor          id
  TgaAuthor              me
  TgaDate                44000.5
  TgaImageName           job
  TgaBackground          #102030
  TgaAspectRatio         0.5
  TgaGamma               1.8
  TgaGrayLevel           false
p.png: Portable Network Graphics (PNG) Interlaced
  size                   12 x 8
  depth                  8 bits per sample, 3 samples per pixel
  resolution             96 x 96 dpi
  PngInterlaced          true
  PngBackground          #ABCDEF
  PngFilter              ioPNG_FILTER_NONE
  PngCompression         5
r.pcx: PaintBrush (PCX) Uncompressed
  size                   12 x 8
  depth                  8 bits per sample, 1 samples per pixel
  resolution             96 x 96 dpi
  palette                256 colours
  PcxVersion             5
  PcxCompression         ioPCX_UNCOMPRESSED
)");
  // Values a field does not take, and names that are not parameters: where the file came
  // from, the palette and the lists have no text form.
  for (const char* Bad :
       {"TgaGamma=abc", "TgaXPos=99999999999", "TgaXPos=", "TgaXPos=1.5", "TgaBackground=#12345",
        "TgaBackground=#GGGGGG", "TgaBackground=", "TgaCompressed=maybe", "PngFilter=up",
        "PngFilter=ioPNG_FILTER_", "TgaAuthor", "FileName=x.png", "ColorMap=1", "JpegMarkerList=x",
        "PxmComments=x", "GifLZWCompress=0"})
    EXPECT_EQ(
        Tool("convert " + Dir.File("in.png") + " " + Dir.File("bad.png") + " --set " + Bad, &Out),
        2)
        << Bad << ": " << Out;
  EXPECT_FALSE(std::filesystem::exists(Dir.File("bad.png")));
}

TEST_F(ToolTest, ErrorPaths) {
  const TBitmap B = RandomBitmap24(20, 10, 2);
  WriteImage(B, Dir.File("in.bmp"));
  std::string Out;
  EXPECT_EQ(Tool("convert " + Dir.File("nope.bmp") + " " + Dir.File("o.png"), &Out), 1);
  EXPECT_NE(Out.find("no such file"), std::string::npos) << Out;
  EXPECT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("o.xyz"), &Out), 2);
  EXPECT_EQ(Tool("convert --format xyz " + Dir.File("in.bmp") + " " + Dir.File("o.png"), &Out), 2);
  EXPECT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("o.png") + " --set NoSuchField=1",
                 &Out),
            2);
  EXPECT_NE(Out.find("NoSuchField"), std::string::npos) << Out;
  EXPECT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("o.png") +
                     " --set JpegDCTMethod=fastest",
                 &Out),
            2);
  // A damaged file: the header of a BMP whose pixels are missing.
  auto Bytes = ReadFileBytes(Dir.File("in.bmp"));
  Bytes.resize(60);
  WriteFileBytes(Dir.File("cut.bmp"), Bytes);
  EXPECT_EQ(Tool("convert " + Dir.File("cut.bmp") + " " + Dir.File("o.png"), &Out), 1);
  EXPECT_NE(Out.find("cut.bmp"), std::string::npos) << Out;
  WriteFileBytes(Dir.File("junk.png"), {1, 2, 3});
  EXPECT_EQ(Tool("info " + Dir.File("junk.png"), &Out), 1);
  // An output folder that cannot be written (root may write anywhere: use a missing folder).
  EXPECT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("no/such/dir/o.png"), &Out), 1);
  EXPECT_NE(Out.find("cannot create"), std::string::npos) << Out;
  // The pixel limit.
  EXPECT_EQ(Tool("--max-pixels 100 convert " + Dir.File("in.bmp") + " " + Dir.File("o.png"), &Out),
            1);
  // Nothing but the input and the files written above is left.
  for (const std::string& N : FilesIn(Dir.Path()))
    EXPECT_EQ(N.find(".partial"), std::string::npos) << N;
  EXPECT_FALSE(std::filesystem::exists(Dir.File("o.png")));
}

TEST_F(ToolTest, FormatsFollowTheTable) {
  // The icon row has a reader and no writer: the tool reads icons and refuses to write them.
  WriteImage(RandomBitmap24(8, 8, 6), Dir.File("in.bmp"));
  std::string Out;
  EXPECT_EQ(Tool("convert --format ico " + Dir.File("in.bmp") + " " + Dir.File("o.png"), &Out), 2);
  EXPECT_NE(Out.find("no writer"), std::string::npos) << Out;
  EXPECT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("o.cur"), &Out), 2);
  // Every extension of a writable row names its format for writing too, also those the
  // component itself saves under none (".jpe", ".rle").
  ASSERT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("o.jpe"), &Out), 0) << Out;
  ASSERT_EQ(Tool("info --json " + Dir.File("o.jpe"), &Out), 0) << Out;
  EXPECT_NE(Out.find("\"fileType\": 3"), std::string::npos) << Out;
  ASSERT_EQ(Tool("convert " + Dir.File("in.bmp") + " " + Dir.File("o.rle"), &Out), 0) << Out;
  // A Targa file under another of its row's extensions.
  WriteImage(RandomBitmap24(8, 8, 6), Dir.File("t.tga"));
  std::filesystem::rename(Dir.File("t.tga"), Dir.File("t.pix"));
  ASSERT_EQ(Tool("info --json " + Dir.File("t.pix"), &Out), 0) << Out;
  EXPECT_NE(Out.find("\"fileType\": 11"), std::string::npos) << Out;
}

TEST_F(ToolTest, UnreadableImagesSayWhy) {
  WriteImage(RandomBitmap24(20, 20, 7), Dir.File("in.bmp"));
  const auto Good = ReadFileBytes(Dir.File("in.bmp"));
  auto Variant = [&](const std::string& Name, const std::function<void(std::vector<uint8_t>&)>& F) {
    auto Bytes = Good;
    F(Bytes);
    WriteFileBytes(Dir.File(Name), Bytes);
    return Dir.File(Name);
  };
  struct Case {
    std::string File, Options, Says;
  } Cases[] = {
      // The pixel rows end half way.
      {Variant("cut.bmp", [](auto& B) { B.resize(B.size() / 2); }), "", "truncated image"},
      // A width of 0 in the header.
      {Variant("zero.bmp", [](auto& B) { B[18] = B[19] = B[20] = B[21] = 0; }), "",
       "damaged image"},
      // 7 bits per pixel: no such BMP layout is read.
      {Variant("seven.bmp", [](auto& B) { B[28] = 7; }), "", "does not read"},
      {Dir.File("in.bmp"), "--max-pixels 100 ", "pixel limit"},
  };
  for (const Case& C : Cases) {
    std::string Out;
    EXPECT_EQ(Tool(C.Options + "convert " + C.File + " " + Dir.File("o.png"), &Out), 1) << C.File;
    EXPECT_NE(Out.find(C.Says), std::string::npos) << C.File << ": " << Out;
  }
  // info reads the header only: one cut inside it.
  std::string Out;
  const std::string Head = Variant("head.bmp", [](auto& B) { B.resize(20); });
  EXPECT_EQ(Tool("info " + Head, &Out), 1);
  EXPECT_NE(Out.find("truncated image"), std::string::npos) << Out;
}

TEST_F(ToolTest, FramesAndJoin) {
  for (int I = 0; I < 3; ++I)
    WriteImage(RandomBitmap24(16, 12, I + 1), Dir.File("f" + std::to_string(I) + ".bmp"));
  std::string Out;
  ASSERT_EQ(Tool("join " + Dir.File("anim.gif") + " " + Dir.File("f0.bmp") + " " +
                     Dir.File("f1.bmp") + " " + Dir.File("f2.bmp") + " --delay 7 --loop 3",
                 &Out),
            0)
      << Out;
  ASSERT_EQ(Tool("info --json " + Dir.File("anim.gif"), &Out), 0);
  EXPECT_NE(Out.find("\"images\": 3"), std::string::npos) << Out;
  EXPECT_NE(Out.find("\"delay\": 7"), std::string::npos) << Out;
  EXPECT_NE(Out.find("\"loop\": 3"), std::string::npos) << Out;
  ASSERT_EQ(Tool("frames " + Dir.File("anim.gif") + " " + Dir.File("out-%02d.png"), &Out), 0)
      << Out;
  EXPECT_TRUE(std::filesystem::exists(Dir.File("out-02.png")));
  ASSERT_EQ(Tool("convert --frame 1 " + Dir.File("anim.gif") + " " + Dir.File("one.png"), &Out), 0)
      << Out;
  EXPECT_EQ(Tool("convert --frame 9 " + Dir.File("anim.gif") + " " + Dir.File("nine.png"), &Out),
            1);
}

TEST_F(ToolTest, ProcessChains) {
  const TBitmap B = RandomBitmap24(24, 16, 9);
  WriteImage(B, Dir.File("in.bmp"));
  std::string Out;
  // Two inversions and two mirrors give the input back; one inversion gives 255 - v.
  ASSERT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("same.bmp") +
                     " negative flip horizontal negative flip Direction=horizontal",
                 &Out),
            0)
      << Out;
  TBitmap Got;
  ASSERT_TRUE(ReadImage(Dir.File("same.bmp"), Got));
  EXPECT_TRUE(SamePixels(Got, B));
  ASSERT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("neg.bmp") + " negative", &Out),
            0);
  ASSERT_TRUE(ReadImage(Dir.File("neg.bmp"), Got));
  EXPECT_EQ(Got.ScanLine(3)[5], 255 - B.ScanLine(3)[5]);
  // select limits the next operations to its rectangle (right and bottom edges excluded); all
  // ends that.
  ASSERT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("sel.bmp") +
                     " select 2 3 10 9 negative all negative",
                 &Out),
            0)
      << Out;
  ASSERT_TRUE(ReadImage(Dir.File("sel.bmp"), Got));
  for (int32_t Y = 0; Y < 16; ++Y)
    for (int32_t X = 0; X < 24; ++X) {
      const bool Inside = X >= 2 && X < 10 && Y >= 3 && Y < 9;
      const uint8_t V = B.ScanLine(Y)[3 * X];
      ASSERT_EQ(Got.ScanLine(Y)[3 * X], Inside ? V : 255 - V) << X << "," << Y;
    }
  // Geometry changes the size, and crop keeps the rectangle.
  ASSERT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("r.png") +
                     " resample 48 rotate 90 crop 2 3 12 8",
                 &Out),
            0)
      << Out;
  ASSERT_TRUE(ReadImage(Dir.File("r.png"), Got));
  EXPECT_EQ(Got.GetWidth(), 10);
  EXPECT_EQ(Got.GetHeight(), 5);
  // The wand keeps the box of a flat region: a white square on black.
  TBitmap Sq;
  Sq.Recreate(20, 20, TPixelFormat::pf24bit);
  for (int32_t Y = 5; Y < 12; ++Y)
    for (int32_t X = 4; X < 14; ++X) std::memset(Sq.ScanLine(Y) + 3 * X, 255, 3);
  WriteImage(Sq, Dir.File("sq.bmp"));
  ASSERT_EQ(Tool("process " + Dir.File("sq.bmp") + " " + Dir.File("w.bmp") + " wand 8 8 10", &Out),
            0)
      << Out;
  ASSERT_TRUE(ReadImage(Dir.File("w.bmp"), Got));
  EXPECT_EQ(Got.GetWidth(), 10);
  EXPECT_EQ(Got.GetHeight(), 7);
  // Usage errors exit 2 and write nothing; a bad filter file is an error of the input (1).
  EXPECT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("x.bmp") + " frobnicate", &Out),
            2);
  EXPECT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("x.bmp") + " resample", &Out), 2);
  EXPECT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("x.bmp") + " rotate abc", &Out),
            2);
  EXPECT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("x.bmp") + " flip Nope=1", &Out),
            2);
  WriteFileBytes(Dir.File("bad.flt"), {1, 2, 3, 4});
  EXPECT_EQ(Tool("process " + Dir.File("in.bmp") + " " + Dir.File("x.bmp") +
                     " convolve File=" + Dir.File("bad.flt"),
                 &Out),
            1)
      << Out;
  EXPECT_FALSE(std::filesystem::exists(Dir.File("x.bmp")));
}

TEST_F(ToolTest, OverlayBurnsADrawing) {
  TBitmap White(40, 30, pf24bit);
  std::memset(White.ScanLine(White.GetHeight() - 1), 255, static_cast<size_t>(White.BitsSize()));
  WriteImage(White, Dir.File("w.bmp"));
  // A horizontal line across a 40 x 30 drawing space: extents 0..39 x 0..29 give scale 1 and a
  // vertical offset of 30 - 29 = 1, so y = 15 lands on row 30 - 15 - 1 = 14.
  WriteFileBytes(Dir.File("d.dxf"), [] {
    const std::string T =
        "0\nSECTION\n2\nHEADER\n9\n$EXTMIN\n10\n0\n20\n0\n9\n$EXTMAX\n10\n39\n20\n29\n"
        "0\nENDSEC\n0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n5\n20\n15\n11\n35\n21\n15\n"
        "0\nENDSEC\n0\nEOF\n";
    return std::vector<uint8_t>(T.begin(), T.end());
  }());
  std::string Out;
  ASSERT_EQ(Tool("process " + Dir.File("w.bmp") + " " + Dir.File("o.bmp") + " overlay " +
                     Dir.File("d.dxf"),
                 &Out),
            0)
      << Out;
  TBitmap Got;
  ASSERT_TRUE(ReadImage(Dir.File("o.bmp"), Got));
  EXPECT_EQ(Got.ScanLine(14)[3 * 20], 0);
  EXPECT_EQ(Got.ScanLine(10)[3 * 20], 255);
  WriteFileBytes(Dir.File("junk.qlv"), {1, 2, 3});
  EXPECT_EQ(Tool("process " + Dir.File("w.bmp") + " " + Dir.File("x.bmp") + " overlay " +
                     Dir.File("junk.qlv"),
                 &Out),
            1);
  EXPECT_FALSE(std::filesystem::exists(Dir.File("x.bmp")));
}

TEST_F(ToolTest, InterruptLeavesNoPartialFile) {
  // Big enough that writing at the strongest compression takes a while.
  TBitmap Big = RandomBitmap24(3000, 3000, 4);
  WriteImage(Big, Dir.File("big.bmp"));
  const std::string Out = Dir.File("big.png");
  const pid_t Pid = fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    const int Null = open("/dev/null", O_WRONLY);
    dup2(Null, 2);
    execl(kTool.c_str(), kTool.c_str(), "--quiet", "convert", Dir.File("big.bmp").c_str(),
          Out.c_str(), "--set", "PngCompression=9", static_cast<char*>(nullptr));
    _exit(99);
  }
  // The interrupt goes once the output is being written (its temporary file exists): earlier,
  // a slow start-up may not have installed the handler yet, and the default action would kill
  // the tool, which is not what this tests.
  for (int32_t Wait = 0; Wait < 1000 && FilesIn(Dir.Path()).size() < 2; ++Wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(Pid, SIGINT);
  int Status = 0;
  waitpid(Pid, &Status, 0);
  ASSERT_TRUE(WIFEXITED(Status));
  if (WEXITSTATUS(Status) == 0) GTEST_SKIP() << "the conversion finished before the interrupt";
  EXPECT_EQ(WEXITSTATUS(Status), 130);
  EXPECT_FALSE(std::filesystem::exists(Out));
  EXPECT_EQ(FilesIn(Dir.Path()), std::vector<std::string>{"big.bmp"});
}

TEST_F(ToolTest, DemoRunsOnItsOwnSample) {
  std::string Out;
  ASSERT_EQ(Tool("demo " + Dir.File("demo"), &Out), 0) << Out;
  EXPECT_NE(Out.find("exact"), std::string::npos) << Out;
  EXPECT_GT(FilesIn(Dir.File("demo")).size(), 20u);
}

namespace {

// Runs the tool without --quiet; returns the status, standard error in Err.
int ToolErr(const std::string& Args, std::string& Err) {
  Err.clear();
  return RunCommand(kTool + " " + Args + " 2>&1 >/dev/null", &Err);
}

size_t Count(const std::string& Text, const std::string& What) {
  size_t N = 0;
  for (size_t P = Text.find(What); P != std::string::npos; P = Text.find(What, P + 1)) ++N;
  return N;
}

std::string Peer(const std::string& Command) {
  std::string Out;
  EXPECT_EQ(RunCommand(Command + " 2>/dev/null", &Out), 0) << Command;
  return Out;
}

bool HaveImagePeers() {
  return HaveProgram("convert") && HaveProgram("identify") && HaveProgram("compare") &&
         HaveProgram("tiffcp") && HaveProgram("tiffinfo") && HaveProgram("cjpeg");
}

// The largest difference of one channel between image A[I] and B[J], as a fraction of full
// scale, measured by ImageMagick.
double PeerMaxDiff(const std::string& A, int I, const std::string& B, int J) {
  std::string Out;
  RunCommand("compare -metric PAE '" + A + "[" + std::to_string(I) + "]' '" + B + "[" +
                 std::to_string(J) + "]' null: 2>&1",
             &Out);
  const size_t Open = Out.find('(');
  return Open == std::string::npos ? 1.0 : std::strtod(Out.c_str() + Open + 1, nullptr);
}

}  // namespace

TEST_F(ToolTest, ConvertKeepsEveryFrameAndPage) {
  if (!HaveImagePeers()) GTEST_SKIP() << "ImageMagick or libtiff's tools are missing";
  // Three frames of a few flat colours, and three pages with three compressions.
  for (int I = 0; I < 3; ++I)
    Peer("convert -size 40x30 xc:'rgb(" + std::to_string(I * 100) + ",50,200)' -fill yellow " +
         "-draw 'rectangle " + std::to_string(I * 5) + ",5 " + std::to_string(I * 5 + 10) +
         ",20' -depth 8 " + Dir.File("f" + std::to_string(I) + ".png"));
  Peer("convert -delay 12 " + Dir.File("f0.png") + " -delay 30 " + Dir.File("f1.png") +
       " -delay 50 " + Dir.File("f2.png") + " -loop 3 " + Dir.File("anim.gif"));
  const char* Codings[] = {"lzw", "rle", "none"};
  for (int I = 0; I < 3; ++I)
    Peer("convert " + Dir.File("f" + std::to_string(I) + ".png") + " -compress " + Codings[I] +
         " " + Dir.File("p" + std::to_string(I) + ".tif"));
  Peer("tiffcp " + Dir.File("p0.tif") + " " + Dir.File("p1.tif") + " " + Dir.File("p2.tif") + " " +
       Dir.File("multi.tif"));
  std::string Out;
  for (const char* Src : {"anim.gif", "multi.tif"})
    for (const char* Dst : {"o.gif", "o.tif"}) {
      const std::string In = Dir.File(Src), O = Dir.File(std::string(Src) + "-" + Dst);
      ASSERT_EQ(Tool("convert " + In + " " + O, &Out), 0) << Src << " " << Dst << Out;
      EXPECT_EQ(Peer("identify -format '%p ' " + O), "0 1 2 ") << Src << " " << Dst;
      // The palette writers may round colours by a few levels; a frame lost, doubled or
      // swapped differs by far more.
      const bool Exact = std::string(Dst) == "o.tif";
      for (int K = 0; K < 3; ++K)
        EXPECT_LE(PeerMaxDiff(In, K, O, K), Exact ? 0.0 : 0.04) << Src << " " << Dst << " " << K;
      if (std::string(Src) == "anim.gif" && std::string(Dst) == "o.gif") {
        EXPECT_EQ(Peer("identify -format '%T ' " + O), "12 30 50 ");
        // The loop count as stored, whatever the writer's convention for it.
        std::string A, B;
        ASSERT_EQ(Tool("info --json " + In, &A), 0);
        ASSERT_EQ(Tool("info --json " + O, &B), 0);
        const auto Loop = [](const std::string& J) { return J.substr(J.find("\"loop\"")); };
        EXPECT_EQ(Loop(A), Loop(B));
        EXPECT_EQ(Loop(A).find("\"loop\": 0"), std::string::npos) << A;
      }
      if (std::string(Src) == "multi.tif" && std::string(Dst) == "o.tif") {
        const std::string Info = Peer("tiffinfo " + O);
        EXPECT_EQ(Count(Info, "Compression Scheme: LZW"), 1u) << Info;
        EXPECT_EQ(Count(Info, "Compression Scheme: PackBits"), 1u) << Info;
        EXPECT_EQ(Count(Info, "Compression Scheme: None"), 1u) << Info;
      }
    }
  // An animation that plays once (no loop extension) still plays once, and each frame keeps
  // what a viewer does with it before the next.
  Peer("convert -delay 12 " + Dir.File("f0.png") + " -dispose Previous " + Dir.File("f1.png") +
       " -loop 1 " + Dir.File("once.gif"));
  ASSERT_EQ(Tool("convert " + Dir.File("once.gif") + " " + Dir.File("once-o.gif"), &Out), 0) << Out;
  for (const char* Name : {"once.gif", "once-o.gif"}) {
    ASSERT_EQ(Tool("info --json " + Dir.File(Name), &Out), 0);
    EXPECT_NE(Out.find("\"loop\": -1"), std::string::npos) << Name << Out;
    EXPECT_NE(Out.find("\"disposal\": 3"), std::string::npos) << Name << Out;
  }
  EXPECT_EQ(Peer("identify -format '%p:%T:%W:%D ' " + Dir.File("once-o.gif")),
            "0:12:40:Undefined 1:12:40:Previous ");
  // --format names the kind whatever the name.
  ASSERT_EQ(Tool("convert --format tif " + Dir.File("anim.gif") + " " + Dir.File("noext"), &Out), 0)
      << Out;
  EXPECT_EQ(Peer("identify -format '%p ' tiff:" + Dir.File("noext")), "0 1 2 ");
  // --page still picks one; a one-image target gets the first and says so, once.
  ASSERT_EQ(Tool("convert --page 2 " + Dir.File("multi.tif") + " " + Dir.File("p2.tif"), &Out), 0);
  EXPECT_EQ(Peer("identify -format '%p ' " + Dir.File("p2.tif")), "0 ");
  EXPECT_LE(PeerMaxDiff(Dir.File("multi.tif"), 2, Dir.File("p2.tif"), 0), 0.0);
  std::string Err;
  ASSERT_EQ(ToolErr("convert " + Dir.File("anim.gif") + " " + Dir.File("first.png"), Err), 0);
  EXPECT_EQ(Count(Err, "holds 3 frames"), 1u) << Err;
  EXPECT_NE(Err.find("quillo frames"), std::string::npos) << Err;
  ASSERT_EQ(
      ToolErr("convert --frame 1 " + Dir.File("anim.gif") + " " + Dir.File("second.png"), Err), 0);
  EXPECT_EQ(Err, "");
  ASSERT_EQ(ToolErr("--quiet convert " + Dir.File("anim.gif") + " " + Dir.File("first.png"), Err),
            0);
  EXPECT_EQ(Err, "");
}

TEST_F(ToolTest, JpegKeepsItsQualityOthersGetNinety) {
  if (!HaveImagePeers()) GTEST_SKIP() << "ImageMagick or cjpeg is missing";
  WriteReferencePPM(RandomBitmap24(48, 32, 4), Dir.File("in.ppm"));
  std::string Out;
  for (const int Q : {30, 50, 75, 85, 95}) {
    const std::string Src = Dir.File("q" + std::to_string(Q) + ".jpg");
    Peer("cjpeg -quality " + std::to_string(Q) + " -outfile " + Src + " " + Dir.File("in.ppm"));
    ASSERT_EQ(Tool("convert " + Src + " " + Dir.File("copy.jpg"), &Out), 0) << Out;
    EXPECT_EQ(Peer("identify -format %Q " + Dir.File("copy.jpg")), std::to_string(Q));
    ASSERT_EQ(Tool("info --json " + Src, &Out), 0);
    EXPECT_NE(Out.find("\"JpegQuality\": " + std::to_string(Q) + ","), std::string::npos) << Out;
  }
  ASSERT_EQ(
      Tool("convert " + Dir.File("q30.jpg") + " " + Dir.File("set.jpg") + " --set JpegQuality=60",
           &Out),
      0);
  EXPECT_EQ(Peer("identify -format %Q " + Dir.File("set.jpg")), "60");
  ASSERT_EQ(Tool("convert " + Dir.File("in.ppm") + " " + Dir.File("png.png"), &Out), 0);
  ASSERT_EQ(Tool("convert " + Dir.File("png.png") + " " + Dir.File("from-png.jpg"), &Out), 0);
  EXPECT_EQ(Peer("identify -format %Q " + Dir.File("from-png.jpg")), "90");
}

TEST_F(ToolTest, SaysOnceWhatItCannotKeep) {
  if (!HaveImagePeers()) GTEST_SKIP() << "ImageMagick is missing";
  Peer("convert -size 24x16 gradient:red-blue -alpha set -channel A -evaluate set 50% PNG32:" +
       Dir.File("alpha.png"));
  Peer("convert -size 24x16 gradient:red-blue -depth 16 PNG48:" + Dir.File("deep.png"));
  Peer("convert -size 24x16 gradient:red-blue -depth 8 -colorspace CMYK " + Dir.File("cmyk.tif"));
  Peer("convert -size 24x16 gradient:red-blue -depth 8 -colorspace Lab " + Dir.File("lab.tif"));
  Peer("convert -size 64x64 plasma:fractal -depth 8 " + Dir.File("many.png"));
  Peer(
      "convert -size 24x16 xc:white -fill red -draw 'rectangle 4,4 12,12' -transparent white "
      "PNG8:" +
      Dir.File("trns.png"));
  Peer("convert -size 24x16 xc:white -fill red -draw 'rectangle 4,4 12,12' -transparent white " +
       Dir.File("transparent.gif"));
  // Three 16-bit pages: one warning for the whole conversion.
  Peer("convert -size 24x16 gradient:red-blue gradient:blue-green gradient:green-red -depth 16 " +
       Dir.File("deep3.tif"));
  const struct {
    const char* In;
    const char* Out;
    const char* Says;
  } Cases[] = {
      {"alpha.png", "o.bmp", "alpha channel"},
      {"deep.png", "o.png", "16-bit"},
      {"cmyk.tif", "o.png", "CMYK"},
      {"lab.tif", "o.png", "Lab"},
      {"many.png", "o.gif", "quantized to 256"},
      {"deep3.tif", "o.gif", "16-bit"},
      {"trns.png", "o.tga", "alpha channel"},
      {"transparent.gif", "o.png", "transparent colour was dropped"},
  };
  std::string Err;
  for (const auto& C : Cases) {
    ASSERT_EQ(ToolErr("convert " + Dir.File(C.In) + " " + Dir.File(C.Out), Err), 0) << C.In << Err;
    EXPECT_EQ(Count(Err, C.Says), 1u) << C.In << ": " << Err;
    EXPECT_EQ(Count(Err, "\n"), 1u) << C.In << ": " << Err;
    ASSERT_EQ(ToolErr("--quiet convert " + Dir.File(C.In) + " " + Dir.File(C.Out), Err), 0);
    EXPECT_EQ(Err, "") << C.In;
  }
  // A copy that keeps everything says nothing.
  ASSERT_EQ(ToolErr("convert " + Dir.File("many.png") + " " + Dir.File("o.tif"), Err), 0);
  EXPECT_EQ(Err, "");
}

TEST_F(ToolTest, PipesThroughStandardStreams) {
  if (!HaveProgram("bash")) GTEST_SKIP() << "bash is missing";
  QLInstallLZWCoders();
  const TBitmap B = RandomBitmap24(37, 21, 6);
  const std::string Q = kTool + " --quiet ";
  std::string Out;
  for (const char* Ext : {"bmp", "png", "jpg", "gif", "tif", "pcx", "tga", "ppm"}) {
    const std::string In = Dir.File(std::string("f.") + Ext);
    WriteImage(B, In);
    ASSERT_EQ(
        RunCommand("cat " + In + " | " + Q + "convert - --format png - | " + Q + "info -", &Out), 0)
        << Ext;
    EXPECT_NE(Out.find("-: Portable Network Graphics"), std::string::npos) << Ext << Out;
    EXPECT_NE(Out.find("37 x 21"), std::string::npos) << Ext << Out;
  }
  // With a progress bar, standard output still carries the image alone.
  ASSERT_EQ(RunCommand(kTool + " --progress convert " + Dir.File("f.bmp") + " png:- > " +
                           Dir.File("o.png") + " 2>" + Dir.File("err"),
                       &Out),
            0);
  TBitmap Got;
  ASSERT_TRUE(ReadImage(Dir.File("o.png"), Got));
  EXPECT_TRUE(SamePixels(Got, B));
  const auto Err = ReadFileBytes(Dir.File("err"));
  EXPECT_NE(std::string(Err.begin(), Err.end()).find("writing"), std::string::npos);
  // process and join write there too.
  ASSERT_EQ(
      RunCommand(Q + "process " + Dir.File("f.png") + " bmp:- negative | " + Q + "info -", &Out),
      0);
  EXPECT_NE(Out.find("37 x 21"), std::string::npos) << Out;
  ASSERT_EQ(RunCommand(Q + "join gif:- " + Dir.File("f.png") + " " + Dir.File("f.bmp") + " | " + Q +
                           "info -",
                       &Out),
            0);
  EXPECT_NE(Out.find("frame 1"), std::string::npos) << Out;
  // A reader that stops early ends the tool quietly with SIGPIPE's status and no file left in
  // the temporary folder.
  WriteImage(RandomBitmap24(1500, 1500, 2), Dir.File("big.bmp"));
  std::filesystem::create_directory(Dir.File("tmp"));
  ASSERT_EQ(RunCommand("bash -c 'TMPDIR=" + Dir.File("tmp") + " " + kTool + " convert " +
                       Dir.File("big.bmp") + " bmp:- 2>" + Dir.File("err") +
                       " | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}'"),
            141);
  EXPECT_TRUE(ReadFileBytes(Dir.File("err")).empty());
  EXPECT_TRUE(FilesIn(Dir.File("tmp")).empty());
  // Standard output needs a format.
  EXPECT_EQ(Tool("convert " + Dir.File("f.bmp") + " -", &Out), 2);
  EXPECT_NE(Out.find("--format"), std::string::npos) << Out;
}

TEST_F(ToolTest, InfoJsonIsStrictOnEveryFile) {
  if (!HaveProgram("python3")) GTEST_SKIP() << "python3 is missing";
  std::string Out;
  ASSERT_EQ(Tool("demo " + Dir.File("demo"), &Out), 0) << Out;
  // A comment that is not UTF-8 and holds a control character.
  const std::string Pgm = "P5\n# caf\xe9 \x01 \xff\xfe ok\n2 1\n255\n\x10\x20";
  WriteFileBytes(Dir.File("demo/comment.pgm"), std::vector<uint8_t>(Pgm.begin(), Pgm.end()));
  const std::string Json = Dir.File("info.json");
  ASSERT_EQ(RunCommand(kTool + " --quiet info --json " + Dir.File("demo") + "/* > " + Json +
                       " 2>/dev/null"),
            0);
  // The saved crashers and other test files: damaged ones give error objects, still JSON.
  std::string Files;
  for (const auto& E : std::filesystem::recursive_directory_iterator(QUILLO_TEST_DATA_DIR))
    if (E.is_regular_file()) Files += " '" + E.path().string() + "'";
  RunCommand(kTool + " --quiet info --json" + Files + " > " + Dir.File("data.json") +
             " 2>/dev/null");
  EXPECT_EQ(RunCommand("python3 -c \"import json,sys; json.loads(open(sys.argv[1], "
                       "encoding='utf-8', errors='strict').read(), strict=True)\" " +
                       Dir.File("data.json")),
            0);
  const std::string Check =
      "import json, sys\n"
      "def walk(v):\n"
      "    if isinstance(v, str):\n"
      "        assert not any(ord(c) < 32 and c not in '\\t\\n\\r' for c in v), repr(v)\n"
      "    elif isinstance(v, dict):\n"
      "        for k, x in v.items(): walk(k); walk(x)\n"
      "    elif isinstance(v, list):\n"
      "        for x in v: walk(x)\n"
      "raw = open(sys.argv[1], 'rb').read()\n"
      "d = json.loads(raw.decode('utf-8', 'strict'), strict=True)\n"
      "walk(d)\n"
      "assert len(d) > 20\n"
      "for o in d:\n"
      "    assert 'error' not in o, o\n"
      "    assert type(o['width']) is int and type(o['dpiX']) is int, o\n"
      "    p = o.get('parameters', {})\n"
      "    if 'GifVersion' in p: assert p['GifVersion'] in ('GIF87a', 'GIF89a'), p\n"
      "    if 'TgaGamma' in p: assert type(p['TgaGamma']) in (int, float), p\n"
      "c = [o for o in d if o['file'].endswith('comment.pgm')][0]['comments'][0]\n"
      "assert c == 'caf\\ufffd  \\ufffd\\ufffd ok', repr(c)\n";
  WriteFileBytes(Dir.File("check.py"), std::vector<uint8_t>(Check.begin(), Check.end()));
  EXPECT_EQ(RunCommand("python3 " + Dir.File("check.py") + " " + Json + " 2>&1", &Out), 0) << Out;
}

TEST_F(ToolTest, HelpAliasAndManualPage) {
  std::string Help, Alias;
  for (const char* Cmd : {"info", "convert", "join"}) {
    ASSERT_EQ(Tool(std::string(Cmd) + " --help", &Help), 0);
    ASSERT_EQ(Tool(std::string("help ") + Cmd, &Alias), 0);
    EXPECT_EQ(Help, Alias);
  }
  // The page built beside the tool renders, with every command's usage in it.
  const std::string Page = kTool + ".1";
  ASSERT_TRUE(std::filesystem::exists(Page));
  if (!HaveProgram("man")) GTEST_SKIP() << "man is missing";
  std::string Text;
  ASSERT_EQ(RunCommand("MANWIDTH=100 man -l " + Page + " 2>&1 | col -b", &Text), 0);
  EXPECT_NE(Text.find("COMMANDS"), std::string::npos) << Text;
  for (const char* Usage :
       {"quillo convert IN OUT", "quillo info [--json] FILE...", "quillo frames IN OUTPATTERN"})
    EXPECT_NE(Text.find(Usage), std::string::npos) << Usage << "\n" << Text;
}

TEST_F(ToolTest, AviVideosSplitJoinAndDescribe) {
  if (!QLAVIAvailable() || !HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
    GTEST_SKIP() << "FFmpeg missing";
  const std::string Src = Dir.File("src.avi");
  ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=15 -frames:v 4 "
                       "-c:v rawvideo -pix_fmt bgr24 '" +
                       Src + "'"),
            0);
  std::string Out;
  ASSERT_EQ(Tool("info '" + Src + "'", &Out), 0) << Out;
  EXPECT_NE(Out.find("64 x 48"), std::string::npos) << Out;
  EXPECT_NE(Out.find("frames                 4"), std::string::npos) << Out;
  EXPECT_NE(Out.find("15/1 frames per second (66 ms"), std::string::npos) << Out;
  EXPECT_NE(Out.find("rawvideo"), std::string::npos) << Out;

  ASSERT_EQ(Tool("frames '" + Src + "' '" + Dir.File("f%d.png") + "'", &Out), 0) << Out;
  std::vector<std::string> Frames;
  for (int32_t I = 0; I < 4; ++I) {
    Frames.push_back(Dir.File("f" + std::to_string(I) + ".png"));
    // Each frame as FFmpeg decodes it.
    TBitmap Ours, Peer;
    ASSERT_TRUE(ReadImage(Frames.back(), Ours));
    ASSERT_TRUE(PeerToPNM("ffmpeg -v error -y -i '" + Src + "' -vf 'select=eq(n\\," +
                              std::to_string(I) + ")' -vsync 0 -frames:v 1 '" + Dir.File("p.ppm") +
                              "'",
                          Dir.File("p.ppm"), Peer));
    EXPECT_TRUE(SamePixels(As24(Ours), Peer)) << I;
  }

  const std::string Joined = Dir.File("joined.avi");
  std::string Inputs;
  for (const std::string& F : Frames) Inputs += " '" + F + "'";
  ASSERT_EQ(Tool("join '" + Joined + "'" + Inputs + " --delay 125 --codec ffv1", &Out), 0) << Out;
  std::string Probed;
  RunCommand(
      "ffprobe -v error -count_frames -show_entries stream=codec_name,r_frame_rate,"
      "nb_read_frames -of csv=p=0 '" +
          Joined + "'",
      &Probed);
  EXPECT_EQ(Probed, "ffv1,8/1,4\n");
  EXPECT_EQ(Tool("join '" + Dir.File("x.avi") + "'" + Inputs + " --codec h265", &Out), 2);
  EXPECT_EQ(Tool("join '" + Dir.File("x.gif") + "'" + Inputs + " --codec ffv1", &Out), 2);
  // A truncated video gives the frames before the cut, and FFmpeg's complaints stay quiet.
  std::vector<uint8_t> Bytes = ReadFileBytes(Src);
  Bytes.resize(Bytes.size() / 2);
  WriteFileBytes(Dir.File("cut.avi"), Bytes);
  RunCommand(kTool + " frames '" + Dir.File("cut.avi") + "' '" + Dir.File("c%d.png") + "' 2>&1",
             &Out);
  EXPECT_EQ(Out.find("[avi"), std::string::npos) << Out;
  EXPECT_NE(Out.find("images"), std::string::npos) << Out;
  // A damaged video is an error, not an empty result.
  WriteFileBytes(Dir.File("bad.avi"), {'R', 'I', 'F', 'F', 9, 0, 0, 0, 'A', 'V', 'I', ' ', 1});
  EXPECT_EQ(Tool("frames '" + Dir.File("bad.avi") + "' '" + Dir.File("b%d.png") + "'", &Out), 1)
      << Out;
}
