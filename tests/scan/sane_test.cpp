// Real acquisition through SANE's test backend, compared pixel for pixel with scanimage of the
// same device and settings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <fstream>

#include "quillo/io/quilloio.h"
#include "quillo/multi/quillomio.h"
#include "quillo/view/allinone.h"
#include "quillo/scan/twain.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// A SANE configuration of its own: only the test backend, a small page with a pattern. SANE
// reads where its configuration lives once per process, so there is one for all tests.
class TSaneConfig {
 public:
  TSaneConfig() {
    std::ofstream(Dir.File("dll.conf")) << "test\n";
    std::ofstream(Dir.File("test.conf")) << "number_of_devices 2\n"
                                            "mode Gray\n"
                                            "depth 8\n"
                                            "resolution 50.0\n"
                                            "test-picture \"Color pattern\"\n"
                                            "geometry_min 0.0\n"
                                            "geometry_max 200.0\n"
                                            "geometry_quant 1.0\n"
                                            "tl_x 0.0\n"
                                            "tl_y 0.0\n"
                                            "br_x 30.0\n"
                                            "br_y 20.0\n"
                                            "select-fd true\n";
    const char* Old = std::getenv("SANE_CONFIG_DIR");
    if (Old) FOld = Old, FHadOld = true;
    setenv("SANE_CONFIG_DIR", Dir.Path().c_str(), 1);
  }
  ~TSaneConfig() {
    if (FHadOld)
      setenv("SANE_CONFIG_DIR", FOld.c_str(), 1);
    else
      unsetenv("SANE_CONFIG_DIR");
  }
  TempDir Dir;

 private:
  std::string FOld;
  bool FHadOld = false;
};

const TSaneConfig& Sane() {
  static TSaneConfig Config;
  return Config;
}

bool SaneReady() {
  if (!PeerAvailable(QLHaveSourceManager(), "SANE") || !HaveProgram("scanimage")) return false;
  Sane();
  return true;
}

// scanimage's page of the first test device at these settings.
bool Reference(const TSaneConfig& C, const std::string& Mode, int32_t Depth, int32_t Dpi,
               TBitmap& Out) {
  const std::string File = C.Dir.File("ref.pnm");
  const std::string Cmd = "SANE_CONFIG_DIR='" + C.Dir.Path() + "' scanimage -d test:0 --mode " +
                          Mode + " --depth " + std::to_string(Depth) + " --resolution " +
                          std::to_string(Dpi) + " --format=pnm > '" + File + "' 2>/dev/null";
  return PeerToPNM(Cmd, File, Out);
}

void Prepare(TQLTWainParams& P, int32_t PixelType, int32_t Dpi) {
  P.VisibleDialog = false;
  ASSERT_TRUE(P.SelectSourceByName("noname frontend"));
  EXPECT_EQ(P.GetSourceName(0), "Noname frontend-tester");
  EXPECT_EQ(P.GetSourceName(1), "Noname frontend-tester #2");
  P.PixelType().SetCurrentValue(PixelType);
  P.XResolution().SetCurrentValue(Dpi);
  P.YResolution().SetCurrentValue(Dpi);
  // The test backend keeps its settings from one opening to the next within a process: the
  // flatbed and the configured area are set every time.
  P.SetFeederEnabled(false);
  P.SetAcquireFrameEnabled(true);
  P.SetAcquireFrame(0, 0, 30 / 25.4, 20 / 25.4);
}

TEST(SaneAcquire, FlatbedPagesMatchScanimage) {
  if (!SaneReady()) GTEST_SKIP() << "no SANE or scanimage";
  const TSaneConfig& Config = Sane();
  struct {
    int32_t Type;
    const char* Mode;
    int32_t Depth;
  } Modes[] = {{TWPT_RGB, "Color", 8}, {TWPT_GRAY, "Gray", 8}, {TWPT_BW, "Gray", 1}};
  for (const auto& M : Modes)
    for (int32_t Dpi : {50, 75})
      for (bool Buffered : {true, false}) {
        SCOPED_TRACE(std::string(M.Mode) + " " + std::to_string(M.Depth) + " bit " +
                     std::to_string(Dpi) + " dpi " + (Buffered ? "memory" : "native"));
        TBitmap Want;
        ASSERT_TRUE(Reference(Config, M.Mode, M.Depth, Dpi, Want));
        TBitmap B;
        TQuilloIO IO;
        IO.SetAttachedBitmap(&B);
        Prepare(IO.TWainParams(), M.Type, Dpi);
        IO.TWainParams().BufferedTransfer = Buffered;
        ASSERT_TRUE(IO.Acquire());
        EXPECT_EQ(B.GetPixelFormat(), M.Depth == 1 ? pf1bit : pf24bit);
        EXPECT_TRUE(SamePixels(As24(B), Want));
        EXPECT_EQ(IO.IOParams().Width, Want.GetWidth());
        EXPECT_EQ(IO.IOParams().Height, Want.GetHeight());
        EXPECT_EQ(IO.IOParams().DpiX, Dpi);
        EXPECT_EQ(IO.IOParams().BitsPerSample, M.Depth);
        EXPECT_EQ(IO.IOParams().SamplesPerPixel, M.Type == TWPT_RGB ? 3 : 1);
      }
}

TEST(SaneAcquire, CapabilitiesFromTheDeviceOptions) {
  if (!SaneReady()) GTEST_SKIP() << "no SANE or scanimage";
  {
    // Settings sent go to the device, and a fresh read finds them there.
    TQLTWainParams Sent;
    Prepare(Sent, TWPT_BW, 60);
    ASSERT_TRUE(Sent.Update());
  }
  TQLTWainParams P;
  ASSERT_EQ(P.GetSourceCount(), 2);
  EXPECT_EQ(P.GetDefaultSource(), 0);
  TQLDoubleList& X = P.XResolution();
  EXPECT_EQ(X.GetRangeMin(), 1);
  EXPECT_EQ(X.GetRangeMax(), 1200);
  EXPECT_EQ(X.GetCurrentValue(), 60);
  EXPECT_EQ(P.PixelType().Count(), 3);  // line-art through grey at one bit
  EXPECT_EQ(P.PixelType().GetCurrentValue(), TWPT_BW);
  EXPECT_NEAR(P.GetPhysicalWidth(), 200 / 25.4, 1e-4);
  EXPECT_FALSE(P.GetFeederEnabled());
  EXPECT_FALSE(P.GetDuplexSupported());
  // The scan area, in inches both ways.
  P.SetAcquireFrameEnabled(true);
  P.SetAcquireFrame(0, 0, 1, 0.5);
  P.XResolution().SetCurrentValue(50);
  P.YResolution().SetCurrentValue(50);
  ASSERT_TRUE(P.Update());
  EXPECT_NEAR(P.GetAcquireFrameRight(), 1, 0.03);
  EXPECT_NEAR(P.GetAcquireFrameBottom(), 0.5, 0.03);
  TBitmap B;
  bool Abort = false;
  TProgressRec PR = QLProgressRec(nullptr, nullptr, Abort);
  P.VisibleDialog = false;
  ASSERT_TRUE(QLTW_Acquire(&B, false, nullptr, P, nullptr, P.Shared, PR, nullptr));
  EXPECT_NEAR(B.GetWidth(), 50, 1);
  EXPECT_NEAR(B.GetHeight(), 25, 1);
}

TEST(SaneAcquire, FeederDeliversEveryPageToTheCallback) {
  if (!SaneReady()) GTEST_SKIP() << "no SANE or scanimage";
  const TSaneConfig& Config = Sane();
  TBitmap Want;
  ASSERT_TRUE(Reference(Config, "Color", 8, 50, Want));
  TQLTWainParams P(true);
  Prepare(P, TWPT_RGB, 50);
  // Reading the capabilities took the device's own setting (the flatbed).
  EXPECT_FALSE(P.GetFeederEnabled());
  P.SetFeederEnabled(true);
  std::vector<TBitmap> Pages;
  std::deque<TIOParamsVals> Params;
  bool Abort = false;
  TProgressRec PR = QLProgressRec(nullptr, nullptr, Abort);
  ASSERT_TRUE(QLTW_Acquire(
      nullptr, true,
      [&](TBitmap& Page, TIOParamsVals*& To) {
        Pages.push_back(std::move(Page));
        To = &Params.emplace_back();
      },
      P, nullptr, P.Shared, PR, nullptr));
  // The test backend's feeder runs empty after ten pages.
  ASSERT_EQ(Pages.size(), 10u);
  for (size_t I = 0; I < Pages.size(); ++I) {
    EXPECT_TRUE(SamePixels(Pages[I], Want)) << I;
    EXPECT_EQ(Params[I].Width, Want.GetWidth());
    EXPECT_EQ(Params[I].Height, Want.GetHeight());
    EXPECT_EQ(Params[I].DpiY, 50);
    EXPECT_EQ(Params[I].SamplesPerPixel, 3);
  }
}

TEST(SaneAcquire, TheAllInOneControlAcquiresLikeItsIOComponent) {
  if (!SaneReady()) GTEST_SKIP() << "no SANE or scanimage";
  const TSaneConfig& Config = Sane();
  TBitmap Want;
  ASSERT_TRUE(Reference(Config, "Color", 8, 50, Want));
  TQuillo Q;
  Prepare(Q.TWainParams(), TWPT_RGB, 50);
  ASSERT_TRUE(Q.Acquire());
  EXPECT_TRUE(SamePixels(Q.Bitmap(), Want));
  EXPECT_EQ(Q.IOParams().DpiX, 50);
}

TEST(SaneAcquire, FeederBatchIntoTheThumbnailView) {
  if (!SaneReady()) GTEST_SKIP() << "no SANE or scanimage";
  const TSaneConfig& Config = Sane();
  TBitmap Want;
  ASSERT_TRUE(Reference(Config, "Color", 8, 50, Want));
  TQuilloMView View;
  View.SetBounds(0, 0, 300, 200);
  TQuilloMIO MIO;
  MIO.SetAttachedMView(&View);
  // Two images there already; the pages go after the selected first one.
  View.InsertImageEx(0);
  View.InsertImageEx(1);
  View.SetSelectedItem(1);
  Prepare(MIO.TWainParams(), TWPT_RGB, 50);
  MIO.TWainParams().SetFeederEnabled(true);
  ASSERT_TRUE(MIO.Acquire());
  ASSERT_EQ(View.GetImageCount(), 12);
  ASSERT_EQ(MIO.GetParamsCount(), 12);
  for (int32_t I = 1; I <= 10; ++I) {
    const TBitmap* Page = View.GetBitmap(I);
    ASSERT_NE(Page, nullptr);
    EXPECT_TRUE(SamePixels(*Page, Want)) << I;
    View.ReleaseBitmap(I);
    EXPECT_EQ(MIO.GetParams(I)->Width, Want.GetWidth());
    EXPECT_EQ(MIO.GetParams(I)->DpiX, 50);
    EXPECT_EQ(View.GetImageDelayTime(I), 100);
  }
  // The image that was selected comes after the batch.
  EXPECT_EQ(MIO.GetParams(11)->Width, MIO.GetParams(0)->Width);
}

TEST(SaneAcquire, DeviceErrorsLeaveNothingBehind) {
  if (!SaneReady()) GTEST_SKIP() << "no SANE or scanimage";
  // The source's dialog (a stand-in for the window backend's) makes the device fail its reads.
  std::string Status;
  int32_t Shown = 0;
  QLSetScanDialogHook([&](IQLScanDevice& Device) {
    ++Shown;
    for (const TQLScanOption& O : Device.Options())
      if (O.Name == "read-return-value") {
        EXPECT_TRUE(Device.SetText(O.Index, Status));
      }
    return true;
  });
  for (const char* S : {"SANE_STATUS_JAMMED", "SANE_STATUS_CANCELLED", "SANE_STATUS_EOF"}) {
    SCOPED_TRACE(S);
    Status = S;
    TBitmap B(3, 3, pf24bit);
    B.ScanLine(1)[1] = 9;
    TQuilloIO IO;
    IO.SetAttachedBitmap(&B);
    Prepare(IO.TWainParams(), TWPT_GRAY, 50);
    IO.TWainParams().VisibleDialog = true;
    EXPECT_FALSE(IO.Acquire());
    EXPECT_EQ(B.GetWidth(), 3);
    EXPECT_EQ(B.ScanLine(1)[1], 9);
  }
  EXPECT_EQ(Shown, 3);
  // Cancelled in the dialog: nothing is scanned.
  QLSetScanDialogHook([](IQLScanDevice&) { return false; });
  TBitmap B;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&B);
  Prepare(IO.TWainParams(), TWPT_GRAY, 50);
  IO.TWainParams().VisibleDialog = true;
  EXPECT_FALSE(IO.Acquire());
  // No handle stayed open: the device opens again and scans.
  QLSetScanDialogHook([](IQLScanDevice& Device) {
    for (const TQLScanOption& O : Device.Options())
      if (O.Name == "read-return-value") Device.SetText(O.Index, "Default");
    return true;
  });
  EXPECT_TRUE(IO.Acquire());
  QLSetScanDialogHook(nullptr);
  EXPECT_FALSE(B.Empty());
}

TEST(SaneAcquire, AbsurdPageIsRefused) {
  if (!SaneReady()) GTEST_SKIP() << "no SANE or scanimage";
  const int64_t Old = QLGetMaxPixels();
  QLSetMaxPixels(1000);
  TBitmap B;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&B);
  Prepare(IO.TWainParams(), TWPT_GRAY, 75);
  EXPECT_FALSE(IO.Acquire());
  EXPECT_TRUE(B.Empty());
  QLSetMaxPixels(Old);
}

}  // namespace
