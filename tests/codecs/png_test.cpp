#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "quillo/codecs/bmp.h"
#include "quillo/codecs/png.h"
#include "quillo/codecs/zstreams.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

struct PngRead {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  std::vector<int32_t> Progress;
  PngRead(const std::vector<uint8_t>& Bytes, TRGB Background = CreateRGB(0, 0, 0),
          bool Preview = false) {
    Params.PngBackground = Background;
    TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TProgressRec P =
        QLProgressRec([&](TObject*, int32_t Per) { Progress.push_back(Per); }, nullptr, Aborted);
    ReadPNGStream(S, Bitmap, Params, P, Preview);
  }
};

std::vector<uint8_t> WritePng(const TBitmap& B, TIOParamsVals& P) {
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  WritePNGStream(S, B, P, Prog);
  EXPECT_FALSE(Abort);
  return S.Data();
}

// A chunk of the given type, data and declared length (the true one when Declared < 0).
std::vector<uint8_t> Chunk(const char* Type, const std::vector<uint8_t>& Data,
                           int64_t Declared = -1) {
  const uint32_t L =
      static_cast<uint32_t>(Declared < 0 ? static_cast<int64_t>(Data.size()) : Declared);
  std::vector<uint8_t> C = {uint8_t(L >> 24), uint8_t(L >> 16), uint8_t(L >> 8), uint8_t(L)};
  C.insert(C.end(), Type, Type + 4);
  C.insert(C.end(), Data.begin(), Data.end());
  const uLong Crc = crc32(crc32(0, nullptr, 0), C.data() + 4, static_cast<uInt>(C.size() - 4));
  for (int K = 3; K >= 0; --K) C.push_back(static_cast<uint8_t>(Crc >> (8 * K)));
  return C;
}

// The file with Extra inserted after its header chunk.
std::vector<uint8_t> WithChunk(std::vector<uint8_t> Png, const std::vector<uint8_t>& Extra) {
  Png.insert(Png.begin() + 33, Extra.begin(), Extra.end());
  return Png;
}

std::string Hex(const TRGB& C) {
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "rgb:%02x/%02x/%02x", C.r, C.g, C.b);
  return Buf;
}

}  // namespace

TEST(PNG, WriterColourTypesRoundTrip) {
  TBitmap Src = RandomBitmap24(31, 17, 3);
  TIOParamsVals P;
  P.DpiX = 300;
  P.DpiY = 150;
  for (bool Interlaced : {false, true})
    for (TIOPNGFilter F : {ioPNG_FILTER_NONE, ioPNG_FILTER_SUB, ioPNG_FILTER_PAETH}) {
      P.PngInterlaced = Interlaced;
      P.PngFilter = F;
      PngRead R(WritePng(Src, P));
      ASSERT_FALSE(R.Aborted);
      EXPECT_TRUE(SamePixels(R.Bitmap, Src));
      EXPECT_EQ(R.Params.DpiX, 300);
      EXPECT_EQ(R.Params.DpiY, 150);
      EXPECT_EQ(R.Params.PngInterlaced, Interlaced);
      EXPECT_EQ(R.Params.SamplesPerPixel, 3);
    }
  // 256-colour palette: PLTE of 256 entries, pixels among them.
  P.PngInterlaced = false;
  P.SamplesPerPixel = 1;
  P.BitsPerSample = 8;
  PngRead Pal(WritePng(Src, P));
  ASSERT_FALSE(Pal.Aborted);
  EXPECT_EQ(Pal.Params.ColorMapCount, 256);
  EXPECT_EQ(Pal.Params.BitsPerSample, 8);
  for (int32_t Y = 0; Y < 17; ++Y)
    for (int32_t X = 0; X < 31; ++X) {
      const TRGB C = reinterpret_cast<const TRGB*>(Pal.Bitmap.ScanLine(Y))[X];
      ASSERT_NE(std::find(Pal.Params.ColorMap.begin(), Pal.Params.ColorMap.end(), C),
                Pal.Params.ColorMap.end());
    }
  // 1-bit grey: black and white stays exact; a photo is dithered.
  P.BitsPerSample = 1;
  TBitmap One = RandomBitmap1(29, 9, 4);
  PngRead Bw(WritePng(One, P));
  ASSERT_FALSE(Bw.Aborted);
  EXPECT_EQ(Bw.Bitmap.GetPixelFormat(), pf1bit);
  EXPECT_TRUE(SamePixels(Bw.Bitmap, One));
  PngRead Dithered(WritePng(Src, P));
  EXPECT_EQ(Dithered.Bitmap.GetPixelFormat(), pf1bit);
  // The background goes out as bKGD and comes back.
  P.SamplesPerPixel = 3;
  P.BitsPerSample = 8;
  P.PngBackground = CreateRGB(10, 20, 30);
  PngRead Bk(WritePng(Src, P));
  EXPECT_EQ(Bk.Params.PngBackground, CreateRGB(10, 20, 30));
}

TEST(PNG, InterlacedProgressReachesOneHundred) {
  TBitmap Src = RandomBitmap24(16, 16, 5);
  TIOParamsVals P;
  P.PngInterlaced = true;
  PngRead R(WritePng(Src, P));
  ASSERT_FALSE(R.Aborted);
  ASSERT_EQ(R.Progress.size(), 7u * 16u);
  EXPECT_EQ(R.Progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(R.Progress.begin(), R.Progress.end()));
}

TEST(PNG, DamagedFilesAbort) {
  TBitmap Src = RandomBitmap24(20, 10, 6);
  TIOParamsVals P;
  std::vector<uint8_t> Good = WritePng(Src, P);
  for (size_t Cut = 0; Cut + 12 < Good.size(); Cut += 7) {
    PngRead R(std::vector<uint8_t>(Good.begin(), Good.begin() + static_cast<ptrdiff_t>(Cut)));
    EXPECT_TRUE(R.Aborted) << Cut;
  }
  // A flipped byte inside the image data breaks its checksum.
  std::vector<uint8_t> Bad = Good;
  Bad[Good.size() / 2] ^= 0x55;
  EXPECT_TRUE(PngRead(Bad).Aborted);
  // Dimensions beyond the pixel limit are refused before the image is allocated.
  const int64_t Old = QLGetMaxPixels();
  QLSetMaxPixels(100);
  EXPECT_TRUE(PngRead(Good).Aborted);
  QLSetMaxPixels(Old);
  std::vector<uint8_t> Sig = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  TMemoryViewStream S(Sig.data(), 8);
  EXPECT_TRUE(IsPNGStream(S));
  EXPECT_EQ(S.GetPosition(), 0);
}

TEST(PNG, ForgedChunkLengthsAllocateNothing) {
  TBitmap Src = RandomBitmap24(9, 7, 8);
  TIOParamsVals P;
  const std::vector<uint8_t> Good = WritePng(Src, P);
  const bool Measured = StartMeasuringAllocations();
  // A text chunk declaring 1.7 GB in a file of a few hundred bytes (found by fuzzing: the
  // length was read out of the text of a damaged chunk before it).
  const std::vector<uint8_t> Text = {'d', 'a', 't', 'e', 0, '2', '0'};
  for (const char* Type : {"tEXt", "zTXt", "iCCP", "prVt", "PLTE", "tRNS"}) {
    EXPECT_TRUE(PngRead(WithChunk(Good, Chunk(Type, Text, 0x653a6372))).Aborted) << Type;
    EXPECT_TRUE(PngRead(WithChunk(Good, Chunk(Type, Text, 0x7FFFFFFF))).Aborted) << Type;
  }
  // The file the fuzzer found, as it came.
  static const uint8_t Found[] = {
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
      0x52, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x07, 0x10, 0x06, 0x00, 0x00, 0x00, 0x8a,
      0x0b, 0xbb, 0x23, 0x00, 0x00, 0x00, 0x04, 0x67, 0x41, 0x4d, 0x41, 0x00, 0x00, 0xb1, 0x8f,
      0x0b, 0xfc, 0x61, 0x05, 0x00, 0x00, 0x00, 0x20, 0x63, 0x48, 0x52, 0x4d, 0x00, 0x00, 0x7a,
      0x26, 0x00, 0x00, 0x80, 0x84, 0x00, 0x00, 0xfa, 0x00, 0x00, 0x00, 0x80, 0xe8, 0x00, 0x00,
      0x75, 0x30, 0x00, 0x00, 0xea, 0x60, 0x00, 0x00, 0x3a, 0x98, 0xff, 0xff, 0xff, 0x09, 0x58,
      0xf7, 0xdc, 0x74, 0x65, 0x3a, 0x63, 0x72, 0x74, 0x45, 0x58, 0x74, 0x64, 0x61, 0x74, 0x65,
      0x3a, 0x6d, 0x6f, 0x37, 0x2b, 0x30, 0x30, 0x3a, 0x30, 0x30, 0x5e, 0x53, 0xd3, 0x71, 0x00,
      0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x18, 0x44, 0xae, 0x8b, 0xea, 0x89, 0x50,
      0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x64, 0x61, 0x74,
      0x65, 0x3a, 0xa0, 0x17, 0x9c, 0x7a, 0x50, 0x45, 0x32, 0x37, 0x30};
  EXPECT_TRUE(PngRead(std::vector<uint8_t>(std::begin(Found), std::end(Found))).Aborted);
  if (Measured) {
    EXPECT_LT(LargestAllocation(), size_t{1} << 20);
  }

  // Honest ancillary chunks larger than anything we buffer are passed over, not refused.
  const std::vector<uint8_t> Long(3 << 20, 'x');
  std::vector<uint8_t> Keyed = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0};
  Keyed.insert(Keyed.end(), Long.begin(), Long.end());
  for (const char* Type : {"tEXt", "prVt"}) {
    PngRead R(WithChunk(Good, Chunk(Type, Keyed)));
    ASSERT_FALSE(R.Aborted) << Type;
    EXPECT_TRUE(SamePixels(R.Bitmap, Src)) << Type;
  }
}

TEST(PNG, PeersConformanceSet) {
  if (!HaveProgram("convert") || !HaveProgram("pngtopnm") || !HaveProgram("pnmtopng")) GTEST_SKIP();
  TempDir Dir;
  const std::string D = Dir.Path() + "/";
  TBitmap Src = RandomBitmap24(33, 21, 7);
  WriteReferencePPM(Src, D + "src.ppm");
  ASSERT_EQ(RunCommand("convert -size 33x21 gradient:'rgba(255,0,0,1)-rgba(0,0,255,0)' " + D +
                       "alpha.png"),
            0);
  ASSERT_EQ(RunCommand("ppmtopgm " + D + "src.ppm > " + D + "grey.pgm && pgmtopbm " + D +
                       "grey.pgm > " + D + "bw.pbm"),
            0);
  const std::vector<std::string> Commands = {
      "convert " + D + "src.ppm PNG24:" + D + "out.png",
      "convert " + D + "src.ppm -colors 200 PNG8:" + D + "out.png",
      "convert " + D + "src.ppm -interlace PNG PNG24:" + D + "out.png",
      "convert " + D + "src.ppm -depth 16 PNG48:" + D + "out.png",
      "convert " + D + "src.ppm -type Grayscale -depth 16 " + D + "out.png",
      "convert " + D + "src.ppm -type Grayscale -depth 4 " + D + "out.png",
      "convert " + D + "src.ppm -type Grayscale -depth 2 " + D + "out.png",
      "convert " + D + "src.ppm -colors 12 -define png:bit-depth=4 -define png:color-type=3 " + D +
          "out.png",
      "convert " + D + "src.ppm -colors 3 -define png:bit-depth=2 -define png:color-type=3 " + D +
          "out.png",
      "convert " + D + "src.ppm -colors 2 -define png:bit-depth=1 -define png:color-type=3 " + D +
          "out.png",
      "convert " + D + "alpha.png PNG32:" + D + "out.png",
      "convert " + D + "alpha.png -background '#305070' -alpha on -depth 16 PNG64:" + D + "out.png",
      "convert " + D + "alpha.png -colorspace gray -define png:color-type=4 " + D + "out.png",
      "convert " + D + "alpha.png -colors 30 PNG8:" + D + "out.png",
      "pnmtopng " + D + "src.ppm > " + D + "out.png",
      "pnmtopng -interlace " + D + "src.ppm > " + D + "out.png",
      "pnmtopng " + D + "grey.pgm > " + D + "out.png",
      "pnmtopng " + D + "bw.pbm > " + D + "out.png",
      "pnmtopng -alpha=" + D + "grey.pgm -background=rgb:40/50/60 " + D + "src.ppm > " + D +
          "out.png",
  };
  for (const std::string& C : Commands) {
    ASSERT_EQ(RunCommand(C + " 2>/dev/null"), 0) << C;
    PngRead R(ReadFileBytes(D + "out.png"), CreateRGB(200, 100, 50));
    ASSERT_FALSE(R.Aborted) << C;
    // libpng's decode through netpbm, transparency mixed onto the colour we composed onto.
    TBitmap Ref;
    ASSERT_TRUE(PeerToPNM("pngtopnm -mix -background=" + Hex(R.Params.PngBackground) + " " + D +
                              "out.png | pnmtopnm > " + D + "ref.pnm",
                          D + "ref.pnm", Ref))
        << C;
    EXPECT_TRUE(SamePixels(As24(R.Bitmap), Ref)) << C;
  }
  // Black-and-white images with a transparent colour: netpbm mixes those at one bit, so the
  // reference is its image and its alpha mask put together here (alpha is 0 or 1 throughout).
  for (const std::string& C : {"pnmtopng -transparent=black " + D + "bw.pbm > " + D + "out.png",
                               "pnmtopng -background=rgb:11/22/33 -transparent=white " + D +
                                   "bw.pbm > " + D + "out.png"}) {
    ASSERT_EQ(RunCommand(C + " 2>/dev/null"), 0) << C;
    PngRead R(ReadFileBytes(D + "out.png"), CreateRGB(200, 100, 50));
    ASSERT_FALSE(R.Aborted) << C;
    TBitmap Image, Mask;
    ASSERT_TRUE(PeerToPNM("pngtopnm " + D + "out.png > " + D + "img.pnm", D + "img.pnm", Image))
        << C;
    ASSERT_TRUE(
        PeerToPNM("pngtopnm -alpha " + D + "out.png > " + D + "mask.pnm", D + "mask.pnm", Mask))
        << C;
    for (int32_t Y = 0; Y < Image.GetHeight(); ++Y)
      for (int32_t X = 0; X < Image.GetWidth(); ++X) {
        TRGB& P = reinterpret_cast<TRGB*>(Image.ScanLine(Y))[X];
        if (Mask.ScanLine(Y)[X * 3] == 0) P = R.Params.PngBackground;
      }
    EXPECT_TRUE(SamePixels(As24(R.Bitmap), Image)) << C;
  }
  // The files we write, ImageMagick and netpbm read with our pixels.
  for (int Kind = 0; Kind < 4; ++Kind) {
    TIOParamsVals P;
    P.SamplesPerPixel = Kind == 0 || Kind == 3 ? 3 : 1;
    P.BitsPerSample = Kind == 2 ? 1 : 8;
    P.PngInterlaced = Kind == 3;
    std::vector<uint8_t> Bytes = WritePng(Src, P);
    WriteFileBytes(D + "ours.png", Bytes);
    PngRead Mine(Bytes);
    TBitmap Im, Nb;
    ASSERT_TRUE(
        PeerToPNM("convert " + D + "ours.png -depth 8 ppm:" + D + "im.ppm", D + "im.ppm", Im));
    EXPECT_TRUE(SamePixels(As24(Mine.Bitmap), Im)) << "ImageMagick " << Kind;
    ASSERT_TRUE(
        PeerToPNM("pngtopnm " + D + "ours.png | pnmtopnm > " + D + "nb.pnm", D + "nb.pnm", Nb));
    EXPECT_TRUE(SamePixels(As24(Mine.Bitmap), Nb)) << "netpbm " << Kind;
  }
  // An icon holding a 256 x 256 PNG image.
  ASSERT_EQ(RunCommand("convert " + D + "src.ppm -resize 256x256! " + D + "big.png && convert " +
                       D + "big.png " + D + "big.ico"),
            0);
  TBitmap Icon;
  TIOParamsVals IP;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  TFileStream F(D + "big.ico", fmOpenRead);
  ICOReadStream(F, Icon, IP, false, Prog);
  ASSERT_FALSE(Abort);
  TBitmap Ref;
  ASSERT_TRUE(PeerToPNM("pngtopnm " + D + "big.png > " + D + "big.ppm", D + "big.ppm", Ref));
  EXPECT_TRUE(SamePixels(Icon, Ref));
}

TEST(ZStreams, RoundTripsAndLimits) {
  std::vector<uint8_t> Data(300000);
  for (size_t I = 0; I < Data.size(); ++I) Data[I] = static_cast<uint8_t>((I * I) >> 7);
  TMemoryStream Packed;
  {
    TCompressionStream C(TCompressionLevel::clDefault, Packed);
    for (size_t I = 0; I < Data.size(); I += 1000) C.WriteBuffer(Data.data() + I, 1000);
    EXPECT_GT(C.CompressionRate(), 0);
    EXPECT_THROW(C.Seek(5, soFromBeginning), EAbort);
    uint8_t B;
    EXPECT_THROW(C.Read(&B, 1), EAbort);
  }
  Packed.SetPosition(0);
  TDecompressionStream U(Packed);
  std::vector<uint8_t> Back(Data.size());
  U.ReadBuffer(Back.data(), 1000);
  EXPECT_EQ(U.Seek(5000, soFromBeginning), 5000);  // forward: read and dropped
  U.ReadBuffer(Back.data() + 5000, static_cast<int64_t>(Data.size()) - 5000);
  EXPECT_TRUE(std::equal(Data.begin() + 5000, Data.end(), Back.begin() + 5000));
  EXPECT_EQ(U.Seek(0, soFromBeginning), 0);
  U.ReadBuffer(Back.data(), 1000);
  EXPECT_TRUE(std::equal(Data.begin(), Data.begin() + 1000, Back.begin()));
  EXPECT_THROW(U.Seek(10, soFromBeginning), EAbort);  // backwards
  EXPECT_THROW(U.Write(Back.data(), 1), EAbort);

  std::vector<uint8_t> Z, Out;
  CompressBuf(Data.data(), 0, Z);
  DecompressBuf(Z.data(), static_cast<int64_t>(Z.size()), 0, Out);
  EXPECT_TRUE(Out.empty());
  CompressBuf(Data.data(), static_cast<int64_t>(Data.size()), Z);
  DecompressBuf(Z.data(), static_cast<int64_t>(Z.size()), 10, Out);
  EXPECT_EQ(Out, Data);
  // Damaged and cut streams, and an expansion beyond the limit, raise the silent abort.
  std::vector<uint8_t> Cut(Z.begin(), Z.begin() + static_cast<ptrdiff_t>(Z.size() / 2));
  EXPECT_THROW(DecompressBuf(Cut.data(), static_cast<int64_t>(Cut.size()), 0, Out), EAbort);
  std::vector<uint8_t> Junk = {1, 2, 3, 4, 5};
  EXPECT_THROW(DecompressBuf(Junk.data(), 5, 0, Out), EAbort);
  std::vector<uint8_t> Zeros(4 << 20, 0), Bomb;
  CompressBuf(Zeros.data(), static_cast<int64_t>(Zeros.size()), Bomb);
  const int64_t Old = QLGetMaxPixels();
  QLSetMaxPixels(1000);
  EXPECT_THROW(DecompressBuf(Bomb.data(), static_cast<int64_t>(Bomb.size()), 0, Out), EAbort);
  QLSetMaxPixels(Old);
  // A stream made with a preset dictionary cannot be read without it: both readers give up at
  // once rather than waiting for output that never comes.
  std::vector<uint8_t> Dict;
  {
    z_stream D{};
    ASSERT_EQ(deflateInit(&D, 6), Z_OK);
    const uint8_t Words[] = "preset dictionary";
    ASSERT_EQ(deflateSetDictionary(&D, Words, sizeof(Words)), Z_OK);
    Dict.resize(deflateBound(&D, 1000));
    D.next_in = Data.data();
    D.avail_in = 1000;
    D.next_out = Dict.data();
    D.avail_out = static_cast<uInt>(Dict.size());
    ASSERT_EQ(deflate(&D, Z_FINISH), Z_STREAM_END);
    Dict.resize(D.total_out);
    deflateEnd(&D);
  }
  EXPECT_THROW(DecompressBuf(Dict.data(), static_cast<int64_t>(Dict.size()), 0, Out), EAbort);
  TMemoryViewStream DictIn(Dict.data(), static_cast<int64_t>(Dict.size()));
  TDecompressionStream DictZ(DictIn);
  EXPECT_THROW(DictZ.Read(Back.data(), 1000), EAbort);
}

TEST(PNG, ThroughTheComponent) {
  TBitmap Img = RandomBitmap24(12, 7, 8), Back;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Img);
  TMemoryStream S;
  IO.SaveToStream(S, ioPNG);
  ASSERT_FALSE(IO.Aborting);
  S.SetPosition(0);
  IO.SetAttachedBitmap(&Back);
  IO.LoadFromStream(S);
  ASSERT_FALSE(IO.Aborting);
  EXPECT_EQ(IO.IOParams().FileType, ioPNG);
  EXPECT_TRUE(SamePixels(Back, Img));
  // A PNG named .jpg goes to the JPEG reader by extension, and is found by content in a stream.
  TempDir Dir;
  S.SaveToFile(Dir.File("x.jpg"));
  IO.LoadFromFile(Dir.File("x.jpg"));
  EXPECT_TRUE(IO.Aborting);
  EXPECT_EQ(FindFileFormat(Dir.File("x.jpg"), false), ioPNG);
  EXPECT_EQ(FindFileFormat(Dir.File("x.jpg"), true), ioUnknown);
}
