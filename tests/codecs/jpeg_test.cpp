#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quillo/codecs/jpeg.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// Smooth ramps, hard edges and a little noise: every sampling and DCT path has work to do.
TBitmap TestImage(int32_t W, int32_t H) {
  TBitmap B(W, H, pf24bit);
  uint32_t Seed = 12345;
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      Seed = Seed * 1103515245u + 12345u;
      const int32_t N = static_cast<int32_t>((Seed >> 16) % 9) - 4;
      const bool Box = X > W / 3 && X < W * 2 / 3 && Y > H / 4 && Y < H * 3 / 4;
      auto C = [](int32_t V) { return static_cast<uint8_t>(V < 0 ? 0 : V > 255 ? 255 : V); };
      Row[3 * X] = C((Box ? 40 : X * 255 / W) + N);
      Row[3 * X + 1] = C((Box ? 200 : Y * 255 / H) + N);
      Row[3 * X + 2] = C((Box ? 90 : 255 - X * 200 / W) + N);
    }
  }
  return B;
}

struct JpegRead {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  int64_t EndPos = 0;
  int32_t LastProgress = -1;
  JpegRead() = default;
  JpegRead(const std::vector<uint8_t>& Bytes, bool Preview = false) { Read(Bytes, Preview); }
  void Read(const std::vector<uint8_t>& Bytes, bool Preview = false) {
    TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TProgressRec P =
        QLProgressRec([this](TObject*, int32_t Per) { LastProgress = Per; }, nullptr, Aborted);
    ReadJPegStream(S, Bitmap, Params, P, Preview);
    EndPos = S.GetPosition();
  }
};

std::vector<uint8_t> WriteJpeg(const TBitmap& B, TIOParamsVals& P, bool* Aborted = nullptr) {
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  WriteJPegStream(S, B, P, Prog);
  if (Aborted) *Aborted = Abort;
  return S.Data();
}

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}

// Mean absolute difference per channel between two bitmaps of the same size.
double MeanDiff(const TBitmap& A, const TBitmap& B) {
  int64_t Sum = 0;
  for (int32_t Y = 0; Y < A.GetHeight(); ++Y)
    for (int32_t X = 0; X < A.GetWidth() * 3; ++X)
      Sum += std::abs(A.ScanLine(Y)[X] - B.ScanLine(Y)[X]);
  return static_cast<double>(Sum) / (3.0 * A.GetWidth() * A.GetHeight());
}

// The marker codes of a JPEG's header segments, up to the first scan.
std::vector<int32_t> SegmentCodes(const std::vector<uint8_t>& J) {
  std::vector<int32_t> Codes;
  size_t I = 2;
  while (I + 4 <= J.size() && J[I] == 0xFF) {
    Codes.push_back(J[I + 1]);
    if (J[I + 1] == 0xDA) break;
    I += 2 + (J[I + 2] << 8 | J[I + 3]);
  }
  return Codes;
}

bool HavePeers() {
  return HaveProgram("cjpeg") && HaveProgram("djpeg");
}

const char* DctName(TIOJPEGDctMethod M) {
  return M == ioJPEG_ISLOW ? "int" : M == ioJPEG_IFAST ? "fast" : "float";
}

}  // namespace

// Files made by the peer encoder decode exactly as the peer decoder decodes them, for every
// DCT method and every reduction.
TEST(JPEG, DecodesPeerFilesLikeThePeerDecoder) {
  if (!HavePeers()) GTEST_SKIP() << "cjpeg/djpeg missing";
  TempDir Dir;
  const std::string Ppm = Dir.File("in.ppm");
  WriteReferencePPM(TestImage(97, 61), Ppm);
  const std::vector<std::pair<std::string, std::string>> Variants = {
      {"baseline", "-quality 75"},
      {"progressive", "-progressive"},
      {"grey", "-grayscale"},
      {"optimise", "-optimize -quality 95"},
      {"restart", "-restart 1"},
      {"restartblocks", "-restart 7B -progressive"},
      {"smooth", "-smooth 40"},
      {"s11", "-sample 1x1"},
      {"s21", "-sample 2x1"},
      {"s12", "-sample 1x2"},
      {"s22", "-sample 2x2"},
      {"s41", "-sample 4x1"},
      {"s22mixed", "-sample 2x2,2x1,1x1"},
      {"rgb", "-rgb"},
      {"arith", "-arithmetic"},
      {"q10", "-quality 10 -dct fast"},
  };
  int32_t Compared = 0;
  for (const auto& [Name, Opts] : Variants) {
    const std::string Jpg = Dir.File(Name + ".jpg");
    if (RunCommand("cjpeg " + Opts + " -outfile " + Jpg + " " + Ppm + " 2>/dev/null") != 0) {
      EXPECT_EQ(Name, "arith") << "cjpeg refused " << Opts;  // arithmetic coding is optional
      continue;
    }
    const std::vector<uint8_t> Bytes = ReadFileBytes(Jpg);
    for (TIOJPEGDctMethod Dct : {ioJPEG_ISLOW, ioJPEG_IFAST, ioJPEG_FLOAT}) {
      for (int32_t D : {1, 2, 4, 8}) {
        SCOPED_TRACE(Name + " dct " + DctName(Dct) + " 1/" + std::to_string(D));
        JpegRead R;
        R.Params.JpegDCTMethod = Dct;
        R.Params.JpegScale = D == 1   ? ioJPEG_FULLSIZE
                             : D == 2 ? ioJPEG_HALF
                             : D == 4 ? ioJPEG_QUARTER
                                      : ioJPEG_EIGHTH;
        R.Read(Bytes);
        ASSERT_FALSE(R.Aborted);
        EXPECT_EQ(R.LastProgress, 100);
        TBitmap Peer;
        const std::string Out = Dir.File("peer.pnm");
        ASSERT_TRUE(PeerToPNM(std::string("djpeg -dct ") + DctName(Dct) + " -scale 1/" +
                                  std::to_string(D) + " -pnm -outfile " + Out + " " + Jpg,
                              Out, Peer));
        ASSERT_TRUE(SamePixels(R.Bitmap, Peer));
        EXPECT_EQ(R.Params.Width, Peer.GetWidth());
        ++Compared;
      }
    }
  }
  EXPECT_GE(Compared, 15 * 12);
}

TEST(JPEG, ReportsTheFileParameters) {
  if (!HavePeers()) GTEST_SKIP() << "cjpeg/djpeg missing";
  TempDir Dir;
  WriteReferencePPM(TestImage(40, 30), Dir.File("in.ppm"));
  auto Make = [&](const std::string& Opts) {
    RunCommand("cjpeg " + Opts + " -outfile " + Dir.File("x.jpg") + " " + Dir.File("in.ppm"));
    return ReadFileBytes(Dir.File("x.jpg"));
  };
  JpegRead Grey(Make("-grayscale -progressive"), true);
  ASSERT_FALSE(Grey.Aborted);
  EXPECT_EQ(Grey.Params.JpegColorSpace, ioJPEG_GRAYLEV);
  EXPECT_TRUE(Grey.Params.JpegProgressive);
  EXPECT_EQ(Grey.Params.Width, 40);
  EXPECT_EQ(Grey.Params.Height, 30);
  EXPECT_EQ(Grey.Params.BitsPerSample, 8);
  EXPECT_EQ(Grey.Params.SamplesPerPixel, 3);
  EXPECT_TRUE(Grey.Bitmap.Empty());  // a preview leaves the bitmap alone
  EXPECT_EQ(Grey.LastProgress, -1);

  JpegRead Rgb(Make("-rgb"));
  EXPECT_EQ(Rgb.Params.JpegColorSpace, ioJPEG_RGB);
  EXPECT_FALSE(Rgb.Params.JpegProgressive);
  EXPECT_EQ(Rgb.Bitmap.GetPixelFormat(), pf24bit);
  // No JFIF header in an RGB file: no resolution, so the screen's.
  EXPECT_EQ(Rgb.Params.DpiX, gSystemDPIX);
  // The decoder stops at the end-of-image marker and leaves the stream there.
  EXPECT_EQ(Rgb.EndPos, static_cast<int64_t>(ReadFileBytes(Dir.File("x.jpg")).size()));
}

TEST(JPEG, ResolutionFromTheJfifDensity) {
  TIOParamsVals P;
  P.DpiX = 300;
  P.DpiY = 150;
  std::vector<uint8_t> J = WriteJpeg(TestImage(16, 16), P);
  // The JFIF header: FF E0, length, "JFIF\0", version, unit, X and Y density.
  ASSERT_EQ(std::memcmp(&J[6], "JFIF", 5), 0);
  EXPECT_EQ(J[13], 1);
  EXPECT_EQ(J[14] << 8 | J[15], 300);
  JpegRead R(J);
  EXPECT_EQ(R.Params.DpiX, 300);
  EXPECT_EQ(R.Params.DpiY, 150);
  // Dots per centimetre: 118 gives trunc(118 x 2.54) = 299.
  J[13] = 2;
  J[14] = 0, J[15] = 118;
  J[16] = 0, J[17] = 118;
  JpegRead Cm(J);
  EXPECT_EQ(Cm.Params.DpiX, 299);
  EXPECT_EQ(Cm.Params.DpiY, 299);
  // Unit 0 gives the numbers as they are.
  J[13] = 0;
  JpegRead Aspect(J);
  EXPECT_EQ(Aspect.Params.DpiX, 118);
}

TEST(JPEG, AutomaticScaleTakesTheNearestArea) {
  TIOParamsVals W;
  W.JpegQuality = 20;
  const std::vector<uint8_t> J = WriteJpeg(TestImage(1600, 1200), W);
  JpegRead R;
  R.Params.JpegScale = ioJPEG_AUTOCALC;
  R.Params.Width = 200;
  R.Params.Height = 150;
  R.Read(J);
  EXPECT_EQ(R.Bitmap.GetWidth(), 200);
  EXPECT_EQ(R.Params.Height, 150);
  R.Params.Width = 700;  // 420000: nearer to 800 x 600 than to 400 x 300
  R.Params.Height = 600;
  R.Read(J);
  EXPECT_EQ(R.Bitmap.GetWidth(), 800);
  R.Params.Width = 0;  // no target: full size
  R.Read(J);
  EXPECT_EQ(R.Bitmap.GetWidth(), 1600);
  EXPECT_EQ(R.Bitmap.GetHeight(), 1200);
}

// What we write, the peer decoder decodes to exactly what we decode.
TEST(JPEG, OurFilesDecodeAlikeInThePeerDecoder) {
  if (!HavePeers()) GTEST_SKIP() << "cjpeg/djpeg missing";
  TempDir Dir;
  const TBitmap Src = TestImage(83, 45);
  struct Case {
    const char* Name;
    TIOJPEGColorspace Space;
    bool Progressive, Optimal;
    int32_t Quality, Smooth;
    TIOJPEGDctMethod Dct;
  };
  const Case Cases[] = {
      {"ycbcr", ioJPEG_YCbCr, false, false, 90, 0, ioJPEG_ISLOW},
      {"progressive", ioJPEG_YCbCr, true, false, 75, 0, ioJPEG_ISLOW},
      {"grey", ioJPEG_GRAYLEV, false, false, 50, 0, ioJPEG_ISLOW},
      {"optimal", ioJPEG_YCbCr, false, true, 60, 0, ioJPEG_FLOAT},
      {"rgb", ioJPEG_RGB, false, false, 85, 0, ioJPEG_IFAST},
      {"smooth", ioJPEG_YCbCr, true, true, 30, 50, ioJPEG_ISLOW},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TIOParamsVals P;
    P.JpegColorSpace = C.Space;
    P.JpegProgressive = C.Progressive;
    P.JpegOptimalHuffman = C.Optimal;
    P.JpegQuality = C.Quality;
    P.JpegSmooth = C.Smooth;
    P.JpegDCTMethod = C.Dct;
    bool Abort = true;
    const std::vector<uint8_t> J = WriteJpeg(Src, P, &Abort);
    ASSERT_FALSE(Abort);
    WriteFileBytes(Dir.File("ours.jpg"), J);
    JpegRead Ours(J);
    ASSERT_FALSE(Ours.Aborted);
    EXPECT_EQ(Ours.Params.JpegColorSpace, C.Space);
    EXPECT_EQ(Ours.Params.JpegProgressive, C.Progressive);
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM("djpeg -pnm -outfile " + Dir.File("p.pnm") + " " + Dir.File("ours.jpg"),
                          Dir.File("p.pnm"), Peer));
    EXPECT_TRUE(SamePixels(Ours.Bitmap, Peer));
    if (C.Space != ioJPEG_GRAYLEV && C.Quality >= 75) {
      EXPECT_LE(MeanDiff(Ours.Bitmap, Src), 6.0);
    }
  }
  // The settings reach the file: a better quality makes a bigger file, optimised tables a
  // smaller one.
  TIOParamsVals Low, High, Opt;
  Low.JpegQuality = 20;
  High.JpegQuality = 95;
  Opt.JpegQuality = 95;
  Opt.JpegOptimalHuffman = true;
  EXPECT_LT(WriteJpeg(Src, Low).size(), WriteJpeg(Src, High).size());
  EXPECT_LT(WriteJpeg(Src, Opt).size(), WriteJpeg(Src, High).size());
}

TEST(JPEG, OneBitImagesAreWrittenAsBlackAndWhite) {
  TBitmap One = RandomBitmap1(33, 9, 7);
  TIOParamsVals P;
  P.JpegQuality = 100;
  P.JpegColorSpace = ioJPEG_GRAYLEV;
  JpegRead R(WriteJpeg(One, P));
  ASSERT_FALSE(R.Aborted);
  EXPECT_LE(MeanDiff(R.Bitmap, As24(One)), 6.0);
}

// CMYK files as Adobe applications (and ImageMagick) write them store inverted samples; the
// reader turns them into light with channel x K / 255.
TEST(JPEG, CmykFilesMatchThePeerDecodeConvertedTheSameWay) {
  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
  TempDir Dir;
  const TBitmap Src = TestImage(50, 30);
  WriteReferencePPM(Src, Dir.File("in.ppm"));
  ASSERT_EQ(RunCommand("convert " + Dir.File("in.ppm") + " -colorspace cmyk -quality 92 " +
                       Dir.File("cmyk.jpg")),
            0);
  JpegRead R(ReadFileBytes(Dir.File("cmyk.jpg")));
  ASSERT_FALSE(R.Aborted);
  // The peer writes YCCK (Adobe transform 2), which the library turns into CMYK.
  EXPECT_EQ(R.Params.JpegColorSpace, ioJPEG_YCbCrK);
  // The peer's own samples (ink amounts, 0 = none) of the same file.
  ASSERT_EQ(RunCommand("convert " + Dir.File("cmyk.jpg") + " -depth 8 cmyk:" + Dir.File("raw")), 0);
  const std::vector<uint8_t> Raw = ReadFileBytes(Dir.File("raw"));
  ASSERT_EQ(Raw.size(), 50u * 30u * 4u);
  for (int32_t Y = 0; Y < 30; ++Y)
    for (int32_t X = 0; X < 50; ++X) {
      const uint8_t* Ink = &Raw[(static_cast<size_t>(Y) * 50 + X) * 4];
      const int32_t C = 255 - Ink[0], M = 255 - Ink[1], Ye = 255 - Ink[2], K = 255 - Ink[3];
      ASSERT_EQ(Px(R.Bitmap, X, Y),
                CreateRGB(static_cast<uint8_t>(C * K / 255), static_cast<uint8_t>(M * K / 255),
                          static_cast<uint8_t>(Ye * K / 255)))
          << X << "," << Y;
    }
  EXPECT_LE(MeanDiff(R.Bitmap, Src), 6.0);

  // Ours, in both four-component spaces, read back by us and seen right by the peer.
  for (TIOJPEGColorspace Space : {ioJPEG_CMYK, ioJPEG_YCbCrK}) {
    SCOPED_TRACE(Space);
    TIOParamsVals P;
    P.JpegColorSpace = Space;
    P.JpegQuality = 95;
    const std::vector<uint8_t> J = WriteJpeg(Src, P);
    JpegRead Back(J);
    ASSERT_FALSE(Back.Aborted);
    EXPECT_EQ(Back.Params.JpegColorSpace, Space);
    EXPECT_LE(MeanDiff(Back.Bitmap, Src), 6.0);
    WriteFileBytes(Dir.File("ours.jpg"), J);
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM(
        "convert " + Dir.File("ours.jpg") + " -colorspace sRGB ppm:" + Dir.File("peer.ppm"),
        Dir.File("peer.ppm"), Peer));
    EXPECT_LE(MeanDiff(Peer, Src), 6.0);
    // One Adobe segment, the library's, even when the list carries one from another file.
    TIOParamsVals Again;
    Again.JpegColorSpace = Space;
    Again.JpegMarkerList.Assign(R.Params.JpegMarkerList);
    ASSERT_GE(Again.JpegMarkerList.IndexOf(0xEE), 0);
    const std::vector<int32_t> Codes = SegmentCodes(WriteJpeg(Src, Again));
    EXPECT_EQ(std::count(Codes.begin(), Codes.end(), 0xEE), 1);
  }
}

TEST(JPEG, MarkersTravelThroughReadAndWrite) {
  const std::string Exif = std::string("Exif\0\0", 6) + "MM fake tiff";
  const std::string Com = "made by a test";
  const std::string App0 = "a second APP0";
  TIOParamsVals W;
  W.JpegMarkerList.AddMarker(0xE1, Exif.data(), static_cast<int32_t>(Exif.size()));
  W.JpegMarkerList.AddMarker(0xFE, Com.data(), static_cast<int32_t>(Com.size()));
  W.JpegMarkerList.AddMarker(0xE0, App0.data(), static_cast<int32_t>(App0.size()));
  // Too long for one segment: left out rather than failing the whole file.
  std::vector<uint8_t> Huge(65534, 'x');
  W.JpegMarkerList.AddMarker(0xE5, Huge.data(), static_cast<int32_t>(Huge.size()));
  std::vector<uint8_t> Max(65533, 'y');
  W.JpegMarkerList.AddMarker(0xE6, Max.data(), static_cast<int32_t>(Max.size()));
  bool Abort = true;
  const std::vector<uint8_t> J = WriteJpeg(TestImage(20, 10), W, &Abort);
  ASSERT_FALSE(Abort);
  // The library's JFIF header first, then the list in order.
  EXPECT_EQ(SegmentCodes(J)[0], 0xE0);
  JpegRead R(J);
  ASSERT_FALSE(R.Aborted);
  const TQLMarkerList& L = R.Params.JpegMarkerList;
  // The leading JFIF APP0 is dropped; the later APP0 stays.
  ASSERT_EQ(L.GetCount(), 4);
  EXPECT_EQ(L.GetMarkerType(0), 0xE1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(L.GetMarkerData(0)), L.GetMarkerLength(0)),
            Exif);
  EXPECT_EQ(L.GetMarkerType(1), 0xFE);
  EXPECT_EQ(L.GetMarkerType(2), 0xE0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(L.GetMarkerData(2)), L.GetMarkerLength(2)),
            App0);
  EXPECT_EQ(L.GetMarkerType(3), 0xE6);
  EXPECT_EQ(L.GetMarkerLength(3), 65533);
  // A second generation carries the same list.
  TIOParamsVals W2;
  W2.JpegMarkerList.Assign(L);
  JpegRead R2(WriteJpeg(R.Bitmap, W2));
  ASSERT_EQ(R2.Params.JpegMarkerList.GetCount(), 4);
  for (int32_t I = 0; I < 4; ++I)
    EXPECT_EQ(R2.Params.JpegMarkerList.GetMarkerLength(I), L.GetMarkerLength(I));

  if (HaveProgram("rdjpgcom")) {
    TempDir Dir;
    WriteFileBytes(Dir.File("m.jpg"), J);
    std::string Out;
    RunCommand("rdjpgcom " + Dir.File("m.jpg"), &Out);
    EXPECT_NE(Out.find(Com), std::string::npos);
  }
}

// Every cut of a small file, and damaged bytes, end in the abort flag (or, for damage the
// format cannot notice, in a whole image), never in a crash or a leak.
TEST(JPEG, TruncatedAndCorruptFilesAbort) {
  for (bool Progressive : {false, true}) {
    SCOPED_TRACE(Progressive ? "progressive" : "baseline");
    TIOParamsVals P;
    P.JpegProgressive = Progressive;
    P.JpegMarkerList.AddMarker(0xFE, "note", 4);
    const std::vector<uint8_t> J = WriteJpeg(TestImage(24, 17), P);
    for (size_t Cut = 0; Cut < J.size(); ++Cut) {
      std::vector<uint8_t> Part(J.begin(), J.begin() + static_cast<ptrdiff_t>(Cut));
      JpegRead R(Part);
      ASSERT_TRUE(R.Aborted) << "cut at " << Cut << " of " << J.size();
    }
    JpegRead Whole(J);
    EXPECT_FALSE(Whole.Aborted);
    for (size_t I = 0; I < J.size(); ++I) {
      std::vector<uint8_t> Bad = J;
      Bad[I] ^= static_cast<uint8_t>(1u << (I % 8));
      JpegRead R(Bad);
      if (!R.Aborted) {
        EXPECT_EQ(R.Bitmap.GetWidth(), R.Params.Width);
        EXPECT_EQ(R.LastProgress, 100);
      }
    }
  }
  // Not a JPEG at all, or empty.
  JpegRead Empty(std::vector<uint8_t>{});
  EXPECT_TRUE(Empty.Aborted);
  JpegRead Png(std::vector<uint8_t>{0x89, 'P', 'N', 'G', 13, 10, 26, 10});
  EXPECT_TRUE(Png.Aborted);
  EXPECT_EQ(Png.EndPos, 0);
}

TEST(JPEG, AHugeDeclaredSizeIsRefusedBeforeDecoding) {
  TIOParamsVals P;
  std::vector<uint8_t> J = WriteJpeg(TestImage(16, 16), P);
  // SOF0: FF C0, length, precision, height, width.
  size_t Sof = 2;
  while (!(J[Sof] == 0xFF && J[Sof + 1] == 0xC0)) Sof += 2 + (J[Sof + 2] << 8 | J[Sof + 3]);
  J[Sof + 5] = 0xFD, J[Sof + 6] = 0xE8;  // 65000 rows
  J[Sof + 7] = 0xFD, J[Sof + 8] = 0xE8;  // 65000 columns
  JpegRead Preview(J, true);
  EXPECT_FALSE(Preview.Aborted);  // the header alone is fine
  EXPECT_EQ(Preview.Params.Width, 65000);
  JpegRead R(J);
  EXPECT_TRUE(R.Aborted);
  EXPECT_TRUE(R.Bitmap.Empty());

  // A progressive file is decoded through a buffer of the whole image, whatever the reduction:
  // 20000 x 20000 read at 1/8 gives a small bitmap but would need 1.2 GB of coefficients,
  // more than an image within the pixel limit can ask for.
  P.JpegProgressive = true;
  J = WriteJpeg(TestImage(16, 16), P);
  Sof = 2;
  while (!(J[Sof] == 0xFF && J[Sof + 1] == 0xC2)) Sof += 2 + (J[Sof + 2] << 8 | J[Sof + 3]);
  J[Sof + 5] = 0x4E, J[Sof + 6] = 0x20;
  J[Sof + 7] = 0x4E, J[Sof + 8] = 0x20;
  const int64_t Limit = QLGetMaxPixels();
  QLSetMaxPixels(int64_t{8} << 20);
  JpegRead Eighth;
  Eighth.Params.JpegScale = ioJPEG_EIGHTH;
  Eighth.Read(J);
  QLSetMaxPixels(Limit);
  EXPECT_TRUE(Eighth.Aborted);
  EXPECT_TRUE(Eighth.Bitmap.Empty());
}

TEST(JPEG, WriteFailuresAbort) {
  // A stream that takes only its first 300 bytes.
  class TShortStream : public TMemoryStream {
   public:
    int64_t Write(const void* B, int64_t N) override {
      const int64_t Room = std::max<int64_t>(0, 300 - GetSize());
      return TMemoryStream::Write(B, std::min(N, Room));
    }
  } Short;
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  TIOParamsVals Params;
  WriteJPegStream(Short, TestImage(64, 64), Params, P);
  EXPECT_TRUE(Abort);
  // An empty bitmap cannot be a JPEG.
  Abort = false;
  TMemoryStream S;
  WriteJPegStream(S, TBitmap(), Params, P);
  EXPECT_TRUE(Abort);
}

TEST(JPEG, DetectorRestoresThePosition) {
  const std::vector<uint8_t> J = {0, 0xFF, 0xD8, 0xFF, 0xE0};
  TMemoryViewStream S(J.data(), 5);
  EXPECT_FALSE(JpegTryStream(S));
  S.SetPosition(1);
  EXPECT_TRUE(JpegTryStream(S));
  EXPECT_EQ(S.GetPosition(), 1);
  S.SetPosition(3);
  EXPECT_FALSE(JpegTryStream(S));
  EXPECT_EQ(S.GetPosition(), 3);
}

// ---------------------------------------------------------------------------------------------
// IPTC injection

namespace {
std::vector<uint8_t> Inject(const std::vector<uint8_t>& J, const TQLIPTCInfoList& L, bool& Ok) {
  TMemoryViewStream In(J.data(), static_cast<int64_t>(J.size()));
  TMemoryStream Out;
  Ok = QLJpegInjectIPTC(In, Out, L);
  return Out.Data();
}
}  // namespace

TEST(JPEG, InjectionReplacesTheIptcBlockWithoutTouchingTheImage) {
  TIOParamsVals P;
  const TBitmap Src = TestImage(30, 20);
  const std::vector<uint8_t> J = WriteJpeg(Src, P);  // JFIF APP0 first
  TQLIPTCInfoList L;
  L.AddStringItem(2, 5, "Title");
  L.AddStringItem(2, 120, "A caption");
  bool Ok = false;
  const std::vector<uint8_t> Once = Inject(J, L, Ok);
  ASSERT_TRUE(Ok);
  std::vector<int32_t> Codes = SegmentCodes(Once);
  ASSERT_GE(Codes.size(), 2u);
  EXPECT_EQ(Codes[0], 0xE0);
  EXPECT_EQ(Codes[1], 0xED);  // right after the APP0
  // Injecting again replaces the block: still exactly one.
  L.SetStrings(0, "Another title");
  const std::vector<uint8_t> Twice = Inject(Once, L, Ok);
  ASSERT_TRUE(Ok);
  Codes = SegmentCodes(Twice);
  EXPECT_EQ(std::count(Codes.begin(), Codes.end(), 0xED), 1);
  JpegRead R(Twice);
  ASSERT_FALSE(R.Aborted);
  EXPECT_TRUE(SamePixels(R.Bitmap, JpegRead(J).Bitmap));
  const int32_t I = R.Params.JpegMarkerList.IndexOf(0xED);
  ASSERT_GE(I, 0);
  TQLIPTCInfoList Back;
  Back.LoadFromStandardBuffer(R.Params.JpegMarkerList.GetMarkerData(I),
                              R.Params.JpegMarkerList.GetMarkerLength(I));
  ASSERT_EQ(Back.Count(), 2);
  EXPECT_EQ(Back.GetStrings(0), "Another title");

  // No APP0 and no APP13 (an RGB file has only the Adobe segment): copied, but false.
  P.JpegColorSpace = ioJPEG_RGB;
  const std::vector<uint8_t> Rgb = WriteJpeg(Src, P);
  EXPECT_EQ(Inject(Rgb, L, Ok), Rgb);
  EXPECT_FALSE(Ok);
  // An invalid marker stops the copy.
  std::vector<uint8_t> Bad = J;
  Bad.insert(Bad.begin() + 2, {0xFF, 0x05});
  Inject(Bad, L, Ok);
  EXPECT_FALSE(Ok);
  // A block too long for one segment is not written.
  TQLIPTCInfoList Big;
  Big.AddStringItem(2, 120, std::string(70000, 'z'));
  Inject(J, Big, Ok);
  EXPECT_FALSE(Ok);
}
