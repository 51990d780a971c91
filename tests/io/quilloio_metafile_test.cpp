#include <gtest/gtest.h>

#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "quillo/platform/screen.h"
#include "tests/support/metafile_writer.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

TEST(ImportMetafile, SizesFollowTheRules) {
  TempDir Dir;
  const int32_t Dpi = gSystemDPIX;
  // 4000 x 1000 pixels on the screen.
  WriteFileBytes(Dir.File("wide.wmf"), TWmf().Finish(4000 * 96 / Dpi, 1000 * 96 / Dpi));
  TBitmap B;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&B);
  IO.SetBackground(clRed);
  IO.ImportMetafile(Dir.File("wide.wmf"), -1, -1);
  ASSERT_FALSE(IO.Aborting);
  EXPECT_EQ(B.GetWidth(), 2799);
  EXPECT_EQ(B.GetHeight(), 699);
  EXPECT_EQ(IO.IOParams().FileType, 9);
  EXPECT_EQ(IO.IOParams().Width, 2799);
  EXPECT_EQ(B.GetPixelFormat(), pf24bit);
  EXPECT_EQ(reinterpret_cast<const TRGB*>(B.ScanLine(300))[1000],
            (TRGB{0, 0, 255}));  // the background
  IO.ImportMetafile(Dir.File("wide.wmf"), 400, -1);
  EXPECT_EQ(B.GetWidth(), 399);
  EXPECT_EQ(B.GetHeight(), 99);
  IO.ImportMetafile(Dir.File("wide.wmf"), -1, 100);
  EXPECT_EQ(B.GetWidth(), 399);
  IO.ImportMetafile(Dir.File("wide.wmf"), 50, 60);
  EXPECT_EQ(B.GetWidth(), 49);
  EXPECT_EQ(B.GetHeight(), 59);
  // A zero size does nothing; a one-pixel result is nothing to show.
  IO.ImportMetafile(Dir.File("wide.wmf"), 0, 10);
  EXPECT_FALSE(IO.Aborting);
  EXPECT_EQ(B.GetWidth(), 49);
  IO.ImportMetafile(Dir.File("wide.wmf"), 1, 10);
  EXPECT_TRUE(IO.Aborting);
  // Not a metafile.
  WriteFileBytes(Dir.File("bad.wmf"), {1, 2, 3, 4});
  IO.ImportMetafile(Dir.File("bad.wmf"), -1, -1);
  EXPECT_TRUE(IO.Aborting);
}

TEST(ImportMetafile, LoadFromFileDrawsRealFiles) {
  const std::string Data = std::string(QUILLO_TEST_DATA_DIR) + "/metafile/";
  for (const char* Name : {"shapes.wmf", "shapes.emf"}) {
    TBitmap B;
    TQuilloIO IO;
    IO.SetAttachedBitmap(&B);
    IO.LoadFromFile(Data + Name);
    ASSERT_FALSE(IO.Aborting) << Name;
    EXPECT_EQ(IO.IOParams().FileType, std::string(Name).ends_with("emf") ? 10 : 9);
    EXPECT_GT(B.GetWidth(), 10);
    // Something other than the white background was drawn.
    int64_t Coloured = 0;
    for (int32_t Y = 0; Y < B.GetHeight(); ++Y)
      for (int32_t X = 0; X < B.GetWidth(); ++X) {
        const TRGB P = reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
        Coloured += !(P.r == 255 && P.g == 255 && P.b == 255);
      }
    EXPECT_GT(Coloured, int64_t(B.GetWidth()) * B.GetHeight() / 50) << Name;
  }
}
