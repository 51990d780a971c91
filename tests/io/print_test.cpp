// Printing: page layout, gamma, the PDF printer (checked by rendering the PDF back with a peer),
// and failures that leave no file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "quillo/io/quilloio.h"
#include "quillo/platform/printer.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// The bounding box of the pixels that are not white.
TRect InkBox(const TBitmap& B) {
  TRect R{B.GetWidth(), B.GetHeight(), -1, -1};
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    const uint8_t* P = B.ScanLine(Y);
    for (int32_t X = 0; X < B.GetWidth(); ++X)
      if (P[3 * X] != 255 || P[3 * X + 1] != 255 || P[3 * X + 2] != 255) {
        R.Left = std::min(R.Left, X);
        R.Top = std::min(R.Top, Y);
        R.Right = std::max(R.Right, X + 1);
        R.Bottom = std::max(R.Bottom, Y + 1);
      }
  }
  return R;
}

TBitmap White(int32_t W, int32_t H) {
  TBitmap B;
  B.SetPixelFormat(pf24bit);
  B.SetSize(W, H);
  TCanvas C(&B);
  C.Brush().SetColor(clWhite);
  C.FillRect(Rect(0, 0, W, H));
  return B;
}

// A bitmap with no white pixel, so that its printed extent is its ink box.
TBitmap Dark(int32_t W, int32_t H, uint32_t Seed) {
  TBitmap B = RandomBitmap24(W, H, Seed);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t K = 0; K < 3 * W; ++K) B.ScanLine(Y)[K] &= 0xFE;
  return B;
}

}  // namespace

TEST(Printing, LayoutSizesAndPlacesTheImageInsideTheMargins) {
  TBitmap Image = Dark(200, 100, 1);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  IO.IOParams().DpiX = IO.IOParams().DpiY = 100;
  TBitmap Page = White(850, 1100);  // 8.5 x 11 inches at 100 dpi
  TCanvas C(&Page);
  C.SetPixelsPerInch(100);
  // At its own resolution: 2 x 1 inches at the top-left margin.
  IO.PrintImage(C, 1, 0.5, 1, 1, qlvpTOP, qlhpLEFT, qlsNORMAL, 0, 0, 1.0);
  EXPECT_EQ(InkBox(Page), Rect(100, 50, 300, 150));
  // Printed 1:1, the pixels are the image's own.
  for (int32_t Y = 0; Y < 100; ++Y)
    ASSERT_EQ(0, std::memcmp(Page.ScanLine(50 + Y) + 300, Image.ScanLine(Y), 600)) << Y;
  // Fitted and centred inside margins of 1 inch: 6.5 x 3.25 inches, centred in 6.5 x 9.
  Page = White(850, 1100);
  TCanvas C2(&Page);
  C2.SetPixelsPerInch(100);
  IO.PrintImage(C2, 1, 1, 1, 1, qlvpCENTER, qlhpCENTER, qlsFITTOPAGE, 0, 0, 1.0);
  EXPECT_EQ(InkBox(Page), Rect(100, 100 + 287, 750, 100 + 287 + 325));
  // Stretched to the margins, and at a specified size at the bottom right.
  Page = White(850, 1100);
  TCanvas C3(&Page);
  C3.SetPixelsPerInch(100);
  IO.PrintImage(C3, 1, 1, 1, 1, qlvpTOP, qlhpLEFT, qlsFITTOPAGESTRETCH, 0, 0, 1.0);
  EXPECT_EQ(InkBox(Page), Rect(100, 100, 750, 1000));
  Page = White(850, 1100);
  TCanvas C4(&Page);
  C4.SetPixelsPerInch(100);
  IO.PrintImage(C4, 1, 1, 1, 1, qlvpBOTTOM, qlhpRIGHT, qlsSPECIFIEDSIZE, 2, 3, 1.0);
  EXPECT_EQ(InkBox(Page), Rect(550, 700, 750, 1000));
  // A rectangle far off the page draws nothing and allocates nothing.
  Page = White(850, 1100);
  TCanvas C5(&Page);
  IO.PrintImagePosEx(C5, 100, 100, 1e6, 1e6, 1e6, 1e6, 1.0);
  EXPECT_EQ(InkBox(Page).Right, -1);
}

TEST(Printing, GammaChangesEveryChannelThroughItsTable) {
  TBitmap Image;
  Image.SetPixelFormat(pf24bit);
  Image.SetSize(4, 1);
  const uint8_t Levels[4] = {0, 64, 128, 254};
  for (int K = 0; K < 4; ++K)
    for (int Ch = 0; Ch < 3; ++Ch) Image.ScanLine(0)[3 * K + Ch] = Levels[K];
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  TBitmap Page = White(4, 1);
  TCanvas C(&Page);
  IO.PrintImagePosEx(C, 1, 1, 0, 0, 4, 1, 2.2);
  for (int K = 0; K < 4; ++K) {
    const int Want = static_cast<int>(std::lround(std::pow(Levels[K] / 255.0, 1 / 2.2) * 255));
    EXPECT_EQ(Page.ScanLine(0)[3 * K], Want) << K;
  }
}

TEST(Printing, ThePdfPrinterWritesPagesAPeerRendersToTheSamePixels) {
  if (!HaveProgram("pdfinfo")) GTEST_SKIP() << "poppler-utils missing";
  TempDir Dir;
  TBitmap Image = Dark(150, 90, 7);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  IO.IOParams().DpiX = IO.IOParams().DpiY = 150;
  TPrinter P;
  P.SetDpi(150);
  ASSERT_TRUE(P.SetPaperName("A5"));
  P.SetOutputFile(Dir.File("out.pdf"));
  P.BeginDoc();
  IO.PrintImage(P.Canvas(), 1, 1, 1, 1, qlvpTOP, qlhpLEFT, qlsNORMAL, 0, 0, 1.0);
  P.NewPage();
  IO.PrintImage(P.Canvas(), 0.5, 0.5, 0.5, 0.5, qlvpCENTER, qlhpCENTER, qlsFITTOPAGE, 0, 0, 1.0);
  EXPECT_FALSE(std::filesystem::exists(Dir.File("out.pdf")));  // only complete documents
  P.EndDoc();
  ASSERT_TRUE(std::filesystem::exists(Dir.File("out.pdf")));
  std::string Info;
  ASSERT_EQ(RunCommand("pdfinfo " + Dir.File("out.pdf"), &Info), 0);
  EXPECT_NE(Info.find("Pages:           2"), std::string::npos) << Info;
  // Rendered back at the printer's resolution by the peer's cairo renderer (its other renderer
  // smooths images even at 1:1), the page has the image's own pixels at the place asked.
  if (!HaveProgram("pdftocairo") || !HaveProgram("pngtopnm")) GTEST_SKIP();
  ASSERT_EQ(
      RunCommand("pdftocairo -r 150 -png -singlefile -f 1 -l 1 " + Dir.File("out.pdf") + " " +
                 Dir.File("p") + " && pngtopnm " + Dir.File("p.png") + " > " + Dir.File("p.ppm")),
      0);
  TBitmap Back;
  ASSERT_TRUE(ReadReferencePNM(Dir.File("p.ppm"), Back));
  EXPECT_EQ(Back.GetWidth(), P.GetPageWidth());
  EXPECT_EQ(InkBox(Back), Rect(150, 150, 300, 240));
  for (int32_t Y = 0; Y < 90; ++Y)
    ASSERT_EQ(0, std::memcmp(Back.ScanLine(150 + Y) + 450, Image.ScanLine(Y), 450)) << Y;
}

TEST(Printing, FailuresLeaveNoFile) {
  TempDir Dir;
  TPrinter P;
  P.SetOutputFile(Dir.File("missing/folder/out.pdf"));
  EXPECT_THROW(P.BeginDoc(), EPrinter);
  EXPECT_FALSE(P.GetPrinting());
  P.SetOutputFile(Dir.File("aborted.pdf"));
  P.SetDpi(72);
  P.BeginDoc();
  P.Canvas().FillRect(Rect(0, 0, 10, 10));
  P.Abort();
  EXPECT_TRUE(P.GetAborted());
  EXPECT_TRUE(std::filesystem::is_empty(Dir.Path()));
  EXPECT_THROW(P.EndDoc(), EPrinter);
  EXPECT_THROW(P.SetPrinterIndex(5), EPrinter);
  EXPECT_EQ(P.Printers().front(), "PDF");
  EXPECT_FALSE(P.SetPaperName("Napkin"));
}

TEST(Printing, ThePreviewIsTheScaledPageWithItsMarginsOutlined) {
  TBitmap Image = Dark(300, 300, 3);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  TPrinter P;
  P.SetDpi(300);
  P.SetPaperName("Letter");  // 2550 x 3300 pixels
  TBitmap Preview;
  IO.PreviewPrintImage(Preview, 260, 400, P, 1, 1, 1, 1, qlvpCENTER, qlhpCENTER, qlsFITTOPAGE, 0, 0,
                       1.0);
  // Zoom = min(255 / 25.5, 395 / 33) = 10 per cent.
  EXPECT_EQ(Preview.GetWidth(), 255);
  EXPECT_EQ(Preview.GetHeight(), 330);
  // The image fills the 6.5-inch width at 30 dpi, centred; the margin frame is drawn at 30.
  const TRect Ink = InkBox(Preview);
  EXPECT_EQ(Ink.Left, 30);
  EXPECT_EQ(Ink.Top, 30);
  EXPECT_EQ(Ink.Right, 225);  // the image's 195 pixels, and the frame's right edge
}
