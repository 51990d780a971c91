// quillo print: pages in a PDF at the place and size asked, every page of a multi-page file,
// and failures that leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/testutil.h"

using namespace quillo::test;

namespace {
const std::string kTool = QUILLO_TOOL_PATH;
}  // namespace

TEST(ToolPrint, PagesLandWhereAsked) {
  if (!HaveProgram("convert") || !HaveProgram("pdfinfo") || !HaveProgram("pdftocairo") ||
      !HaveProgram("pngtopnm"))
    GTEST_SKIP() << "peer tools missing";
  TempDir D;
  ASSERT_EQ(RunCommand("convert -size 100x50 xc:'#102030' -density 100 -units PixelsPerInch " +
                       D.File("a.png") + " && convert -size 40x40 xc:red " + D.File("p1.tif") +
                       " && convert -size 40x40 xc:lime " + D.File("p2.tif") + " && tiffcp " +
                       D.File("p1.tif") + " " + D.File("p2.tif") + " " + D.File("two.tif")),
            0);
  // At its own 100 dpi, top-left inside margins of one inch, on a 100-dpi page.
  ASSERT_EQ(RunCommand(kTool + " --quiet print " + D.File("a.png") + " --pdf " + D.File("a.pdf") +
                       " --dpi 100 --paper Letter --margins 1 --position left,top"),
            0);
  ASSERT_EQ(RunCommand("pdftocairo -r 100 -png -singlefile " + D.File("a.pdf") + " " + D.File("a") +
                       " && pngtopnm " + D.File("a.png") + " > " + D.File("a.ppm")),
            0);
  quillo::TBitmap Page;
  ASSERT_TRUE(ReadReferencePNM(D.File("a.ppm"), Page));
  EXPECT_EQ(Page.GetWidth(), 850);
  auto Px = [&](int X, int Y) {
    const uint8_t* P = Page.ScanLine(Y) + 3 * X;
    return (P[2] << 16) | (P[1] << 8) | P[0];
  };
  EXPECT_EQ(Px(100, 100), 0x102030);
  EXPECT_EQ(Px(199, 149), 0x102030);
  EXPECT_EQ(Px(200, 100), 0xFFFFFF);
  EXPECT_EQ(Px(99, 100), 0xFFFFFF);
  // Every page of a multi-page file on a page of its own; --page picks one.
  std::string Info;
  ASSERT_EQ(RunCommand(kTool + " --quiet print " + D.File("two.tif") + " --pdf " + D.File("b.pdf") +
                           " --fit && pdfinfo " + D.File("b.pdf"),
                       &Info),
            0);
  EXPECT_NE(Info.find("Pages:           2"), std::string::npos);
  ASSERT_EQ(RunCommand(kTool + " --quiet print " + D.File("two.tif") + " --page 1 --pdf " +
                           D.File("c.pdf") + " && pdfinfo " + D.File("c.pdf"),
                       &Info),
            0);
  EXPECT_NE(Info.find("Pages:           1"), std::string::npos);
  // Failures: an unwritable path (status 1, nothing left), a bad command line (status 2).
  EXPECT_EQ(RunCommand(kTool + " --quiet print " + D.File("two.tif") + " --pdf " +
                       D.File("none/x.pdf") + " 2>/dev/null"),
            1);
  EXPECT_EQ(RunCommand(kTool + " print " + D.File("a.png") + " 2>/dev/null"), 2);
  EXPECT_EQ(
      RunCommand(kTool + " print " + D.File("a.png") + " --pdf x.pdf --margins 1,2 2>/dev/null"),
      2);
  EXPECT_FALSE(std::filesystem::exists(D.File("none")));
  std::string List;
  ASSERT_EQ(RunCommand(kTool + " print --list", &List), 0);
  EXPECT_EQ(List.substr(0, 4), "PDF\n");
}
