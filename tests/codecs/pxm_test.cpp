#include <gtest/gtest.h>

#include <cstring>

#include "quillo/codecs/pxm.h"
#include "quillo/core/pixels.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

struct PxmRead {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  int64_t EndPos = 0;
  explicit PxmRead(const std::string& Bytes, bool Preview = false) {
    TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TProgressRec P = QLProgressRec(nullptr, nullptr, Aborted);
    PXMReadStream(S, Bitmap, Params, P, Preview);
    EndPos = S.GetPosition();
  }
};

std::string WritePxm(const TBitmap& B, TIOParamsVals& P) {
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  PXMWriteStream(S, B, P, Prog);
  return std::string(S.Data().begin(), S.Data().end());
}

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}

}  // namespace

TEST(PXM, TextFormsWithComments) {
  PxmRead P1("P1\n# a bitmap\n# second line  \n3 2\n0 1 0\n110");
  ASSERT_FALSE(P1.Aborted);
  EXPECT_EQ(P1.Bitmap.GetPixelFormat(), pf1bit);
  EXPECT_EQ(P1.Bitmap.ScanLine(0)[0] & 0xE0, 0xA0);  // 0 is white: bits 1 0 1
  EXPECT_EQ(P1.Bitmap.ScanLine(1)[0] & 0xE0, 0x20);
  ASSERT_EQ(P1.Params.PxmComments.Count(), 2);
  EXPECT_EQ(P1.Params.PxmComments[1], "second line");
  EXPECT_EQ(P1.Params.BitsPerSample, 1);

  PxmRead P2("P2 2 1 10\n10 5");
  ASSERT_FALSE(P2.Aborted);
  EXPECT_EQ(Px(P2.Bitmap, 0, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(P2.Bitmap, 1, 0), CreateRGB(127, 127, 127));  // trunc(5 / 10 * 255)

  PxmRead P3("P3\n1 1\n255\n10 20 30\n");
  EXPECT_EQ(Px(P3.Bitmap, 0, 0), CreateRGB(10, 20, 30));
  EXPECT_EQ(P3.Params.SamplesPerPixel, 3);
}

TEST(PXM, BinaryFormsAndMaximumValues) {
  PxmRead P4(std::string("P4 10 1\n\xC0\x40", 10));
  ASSERT_FALSE(P4.Aborted);
  // PBM 1 is black; the working layout has 1 for white.
  EXPECT_EQ(P4.Bitmap.ScanLine(0)[0], 0x3F);
  EXPECT_EQ(P4.Bitmap.ScanLine(0)[1] & 0xC0, 0x80);

  PxmRead P5(std::string("P5 2 1 15\n\x0F\x05", 12));
  ASSERT_FALSE(P5.Aborted);
  EXPECT_EQ(Px(P5.Bitmap, 0, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(P5.Bitmap, 1, 0), CreateRGB(85, 85, 85));
  // 8-bit colour samples are taken as they are, whatever the maximum.
  PxmRead P6(std::string("P6 1 1 15\n\x0F\x01\x02", 13));
  EXPECT_EQ(Px(P6.Bitmap, 0, 0), CreateRGB(15, 1, 2));
  // Samples above 255 take two bytes and are scaled.
  PxmRead Wide(std::string("P5 2 1 65535\n\xFF\xFF\x80\x00", 17));
  ASSERT_FALSE(Wide.Aborted);
  EXPECT_EQ(Px(Wide.Bitmap, 0, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(Px(Wide.Bitmap, 1, 0), CreateRGB(128, 128, 128));
  // The stream is left right after the raster, ready for whatever follows.
  PxmRead Two(std::string("P5 1 1 255\n\x07P5 1 1 255\n\x08", 24));
  EXPECT_EQ(Two.EndPos, 12);
}

TEST(PXM, BadHeadersAndShortRasters) {
  EXPECT_TRUE(PxmRead("P7 1 1 255\n").Aborted);
  EXPECT_TRUE(PxmRead("P5 0 1 255\n").Aborted);
  EXPECT_TRUE(PxmRead("P5 1 x 255\n").Aborted);
  EXPECT_TRUE(PxmRead("P5 1 1 0\n\x01").Aborted);
  EXPECT_TRUE(PxmRead("P5 99999999 99999999 255\n").Aborted);
  EXPECT_TRUE(PxmRead("P6 2 2 255\n\x01\x02\x03").Aborted);
  EXPECT_TRUE(PxmRead("P2 2 2 255\n1 2 3").Aborted);
  EXPECT_TRUE(PxmRead("P1 4 1\n01").Aborted);
  PxmRead Pv("P6 7 9 255\n", true);
  EXPECT_FALSE(Pv.Aborted);
  EXPECT_EQ(Pv.Params.Width, 7);
  EXPECT_TRUE(Pv.Bitmap.Empty());

  auto Try = [](const std::string& S) {
    TMemoryViewStream M(S.data(), static_cast<int64_t>(S.size()));
    M.SetPosition(0);
    bool R = TryPXM(M);
    EXPECT_EQ(M.GetPosition(), 0);
    return R;
  };
  EXPECT_TRUE(Try("P4\n# c\n8 8\n"));
  EXPECT_TRUE(Try("  \nP3 1 1 255"));
  EXPECT_FALSE(Try("P4 0 8"));
  EXPECT_FALSE(Try("BM"));
  EXPECT_FALSE(Try(std::string(200000, '\xFF') + "P5 1 1 255"));
}

TEST(PXM, WriterFormsAndComments) {
  TBitmap Src = RandomBitmap24(5, 3, 4);
  TIOParamsVals P;
  P.PxmComments.Add("first");
  P.PxmComments.Add("second");
  std::string P6 = WritePxm(Src, P);
  EXPECT_EQ(P6.substr(0, 30), "P6 \n# first\n\n# second\n5 3 255\n");
  PxmRead Back(P6);
  ASSERT_FALSE(Back.Aborted);
  EXPECT_TRUE(SamePixels(Back.Bitmap, Src));
  ASSERT_EQ(Back.Params.PxmComments.Count(), 2);
  EXPECT_EQ(Back.Params.PxmComments[0], "first");
  EXPECT_EQ(Back.Params.PxmComments[1], "second");

  P.PxmComments.Clear();
  P.BitsPerSample = 8;
  P.SamplesPerPixel = 1;
  std::string P5 = WritePxm(Src, P);
  ASSERT_EQ(P5.substr(0, 11), "P5 5 3 255\n");
  const TRGB C = Px(Src, 2, 1);
  EXPECT_EQ(static_cast<uint8_t>(P5[11 + 5 + 2]), (21 * C.r + 71 * C.g + 7 * C.b) / 100);

  TBitmap One = RandomBitmap1(11, 4, 9);
  std::string P4 = WritePxm(One, P);
  ASSERT_EQ(P4.substr(0, 8), "P4 11 4\n");
  PxmRead Bits(P4);
  EXPECT_TRUE(SamePixels(Bits.Bitmap, One));

  // A colour bitmap asked for as black and white is reduced, not written as raw bits.
  P.BitsPerSample = 1;
  TBitmap Two(4, 1, pf24bit);
  reinterpret_cast<TRGB*>(Two.ScanLine(0))[1] = CreateRGB(255, 255, 255);
  PxmRead Reduced(WritePxm(Two, P));
  ASSERT_FALSE(Reduced.Aborted);
  EXPECT_EQ(Reduced.Bitmap.ScanLine(0)[0] & 0xF0, 0x40);
}

TEST(PXM, PeersAgree) {
  if (!HaveProgram("pnmtoplainpnm") || !HaveProgram("convert"))
    GTEST_SKIP() << "peer tools missing";
  TempDir Dir;
  const std::string D = Dir.Path() + "/";
  TBitmap Src = RandomBitmap24(23, 6, 12);
  WriteReferencePPM(Src, D + "src.ppm");
  struct Case {
    std::string Command;
    bool Grey, Bw;  // the kind of file the command writes
  };
  const std::vector<Case> Cases = {
      {"cp " + D + "src.ppm " + D + "out.pnm", false, false},
      {"pnmtoplainpnm " + D + "src.ppm > " + D + "out.pnm", false, false},
      {"ppmtopgm " + D + "src.ppm > " + D + "out.pnm", true, false},
      {"ppmtopgm " + D + "src.ppm | pnmtoplainpnm > " + D + "out.pnm", true, false},
      {"ppmtopgm " + D + "src.ppm | pgmtopbm > " + D + "out.pnm", false, true},
      {"ppmtopgm " + D + "src.ppm | pgmtopbm | pnmtoplainpnm > " + D + "out.pnm", false, true},
      {"convert " + D + "src.ppm -depth 16 " + D + "out.pnm", false, false},
      {"convert " + D + "src.ppm -colorspace gray -depth 16 pgm:" + D + "out.pnm", true, false},
  };
  for (const Case& C : Cases) {
    ASSERT_EQ(RunCommand(C.Command + " 2>/dev/null"), 0) << C.Command;
    std::vector<uint8_t> Bytes = ReadFileBytes(D + "out.pnm");
    PxmRead R(std::string(Bytes.begin(), Bytes.end()));
    ASSERT_FALSE(R.Aborted) << C.Command;
    TBitmap Ref;
    // netpbm brings 16-bit samples to 8 bits to the nearest level (ImageMagick truncates).
    ASSERT_TRUE(PeerToPNM((C.Bw ? "pnmtopnm " : "pamdepth 255 ") + D + "out.pnm > " + D + "ref.pnm",
                          D + "ref.pnm", Ref));
    EXPECT_TRUE(SamePixels(As24(R.Bitmap), Ref)) << C.Command;
  }
  // What we write, peers read with our pixels.
  TIOParamsVals P;
  for (int32_t Form = 4; Form <= 6; ++Form) {
    P.BitsPerSample = Form == 4 ? 1 : 8;
    P.SamplesPerPixel = Form == 6 ? 3 : 1;
    TBitmap Bits = RandomBitmap1(23, 6, 2);
    std::string Out = WritePxm(Form == 4 ? Bits : Src, P);
    WriteFileBytes(D + "ours.pnm", std::vector<uint8_t>(Out.begin(), Out.end()));
    PxmRead Mine(Out);
    TBitmap Nb;
    ASSERT_TRUE(PeerToPNM("pnmtopnm " + D + "ours.pnm > " + D + "nb.pnm", D + "nb.pnm", Nb))
        << Form;
    EXPECT_TRUE(SamePixels(As24(Mine.Bitmap), Nb)) << Form;
  }
}
