// quillo acquire: the scanners there are, one page as scanimage gives it, a feeder batch, and a
// device that is not there.
#include <gtest/gtest.h>

#include <fstream>

#include "quillo/io/quilloio.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {
const std::string kTool = QUILLO_TOOL_PATH;
}  // namespace

TEST(ToolAcquire, ListScanAndFeeder) {
  if (kTool.empty() || !QLHaveSourceManager() || !HaveProgram("scanimage"))
    GTEST_SKIP() << "no tool, SANE or scanimage";
  TempDir D;
  std::ofstream(D.File("dll.conf")) << "test\n";
  std::ofstream(D.File("test.conf")) << "test-picture \"Color pattern\"\nbr_x 25.0\nbr_y 15.0\n";
  const std::string Env = "SANE_CONFIG_DIR='" + D.Path() + "' ";
  std::string Out;
  ASSERT_EQ(RunCommand(Env + kTool + " acquire --list", &Out), 0);
  EXPECT_EQ(Out, "test:0\tNoname frontend-tester\ntest:1\tNoname frontend-tester #2\n");

  ASSERT_EQ(
      RunCommand(Env + kTool + " --quiet acquire --device test:1 --mode color --resolution 60 " +
                 D.File("page.png")),
      0);
  TBitmap Want, Got;
  ASSERT_TRUE(PeerToPNM(Env + "scanimage -d test:1 --mode Color --resolution 60 > " +
                            D.File("ref.ppm") + " 2>/dev/null",
                        D.File("ref.ppm"), Want));
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Got);
  IO.LoadFromFile(D.File("page.png"));
  EXPECT_TRUE(SamePixels(Got, Want));
  EXPECT_EQ(IO.IOParams().DpiX, 60);

  // Every page of the feeder into one TIFF; the test device's feeder holds ten.
  ASSERT_EQ(RunCommand(Env + kTool + " --quiet acquire --feeder --mode lineart --resolution 40 " +
                       D.File("batch.tif")),
            0);
  EXPECT_EQ(EnumTIFFIm(D.File("batch.tif")), 10);

  EXPECT_EQ(RunCommand(Env + kTool + " --quiet acquire --device nothing " + D.File("x.png") +
                       " 2>/dev/null"),
            1);
  EXPECT_EQ(
      RunCommand(Env + kTool + " --quiet acquire --mode sepia " + D.File("x.png") + " 2>/dev/null"),
      2);
  EXPECT_FALSE(std::ifstream(D.File("x.png")).good());
}
