// The quality estimate against the tables our writer and the reference encoder make.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillo/codecs/jpeg.h"
#include "quillo/codecs/jpeg_quality.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

int32_t EstimateOf(const std::vector<uint8_t>& Bytes) {
  TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  S.SetPosition(0);
  const int32_t Q = QLJpegEstimateQuality(S);
  EXPECT_EQ(S.GetPosition(), 0);
  return Q;
}

}  // namespace

TEST(JpegQuality, ExactForEveryQualityOfOurWriterInColourAndGrey) {
  const TBitmap B = RandomBitmap24(16, 16, 3);
  for (const TIOJPEGColorspace Space : {ioJPEG_YCbCr, ioJPEG_GRAYLEV})
    for (int32_t Q = 1; Q <= 100; ++Q) {
      TIOParamsVals P;
      P.JpegQuality = Q;
      P.JpegColorSpace = Space;
      TMemoryStream S;
      bool Abort = false;
      TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
      WriteJPegStream(S, B, P, Prog);
      ASSERT_FALSE(Abort);
      EXPECT_EQ(EstimateOf(S.Data()), Q) << "colour space " << int(Space);
    }
}

TEST(JpegQuality, ReferenceEncoderIncludingTablesBeyondBaseline) {
  if (!HaveProgram("cjpeg")) GTEST_SKIP() << "cjpeg missing";
  TempDir Dir;
  WriteReferencePPM(RandomBitmap24(32, 24, 8), Dir.File("in.ppm"));
  // Below about 25 the scaled tables pass 255 and cjpeg writes 16-bit tables.
  for (const int Q : {3, 10, 24, 50, 68, 85, 97, 100})
    for (const std::string Opts : {"", "-grayscale", "-optimize -progressive"}) {
      const std::string Out = Dir.File("q.jpg");
      ASSERT_EQ(RunCommand("cjpeg -quality " + std::to_string(Q) + " " + Opts + " -outfile " + Out +
                           " " + Dir.File("in.ppm") + " 2>/dev/null"),
                0);
      EXPECT_EQ(EstimateOf(ReadFileBytes(Out)), Q) << Opts;
    }
}

TEST(JpegQuality, NoTablesNoEstimate) {
  EXPECT_EQ(EstimateOf({0xFF, 0xD8, 0xFF, 0xDA, 0, 2}), 0);
  EXPECT_EQ(EstimateOf({'G', 'I', 'F', '8', '9', 'a'}), 0);
  // A table cut short.
  EXPECT_EQ(EstimateOf({0xFF, 0xD8, 0xFF, 0xDB, 0, 67, 0, 1, 2, 3}), 0);
}
