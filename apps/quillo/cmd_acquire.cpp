// quillo acquire: pages from a scanner into image files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/session.h"
#include "quillo/io/fileformats.h"
#include "quillo/io/quilloio.h"

namespace quillo::tool {

namespace {

// OUT with "-N" before its extension: the name of page N of a batch.
std::string PageName(const std::string& Out, int32_t N) {
  const std::filesystem::path Path(Out);
  return (Path.parent_path() /
          (Path.stem().string() + "-" + std::to_string(N) + Path.extension().string()))
      .string();
}

std::string Field(const char (&S)[34]) {
  return std::string(S, strnlen(S, sizeof S));
}

// Selects the source named by a device name or the beginning of a product name.
void SelectDevice(TQLTWainParams& TW, const std::string& Name) {
  for (int32_t I = 0; I < TW.GetSourceCount(); ++I)
    if (Field(TW.GetSource(I)->ProductFamily) == Name) {
      TW.SetSelectedSource(I);
      return;
    }
  if (!TW.SelectSourceByName(Name))
    throw std::runtime_error("no scanner named " + Name + " (quillo acquire --list)");
}

}  // namespace

int CmdAcquire(const TArgs& Args) {
  TQuilloIO IO;
  TQLTWainParams& TW = IO.TWainParams();
  // A command line has no window for the scanner's own dialog.
  TW.VisibleDialog = false;
  if (Args.size() == 1 && Args[0] == "--list") {
    for (int32_t I = 0; I < TW.GetSourceCount(); ++I) {
      const TW_IDENTITY& Id = *TW.GetSource(I);
      std::printf("%s\t%s\n", Field(Id.ProductFamily).c_str(), Field(Id.ProductName).c_str());
    }
    return 0;
  }
  std::string Device, Out;
  int32_t Resolution = 0, PixelType = -1;
  bool Feeder = false;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    const std::string& A = Args[I];
    if (A == "--device") {
      Device = Value("a device name");
    } else if (A == "--resolution") {
      const std::string V = Value("a resolution in dpi");
      char* End = nullptr;
      const long R = std::strtol(V.c_str(), &End, 10);
      if (*End || R < 1 || R > 100000) throw TUsageError{"--resolution takes dots per inch"};
      Resolution = static_cast<int32_t>(R);
    } else if (A == "--mode") {
      const std::string M = Value("color, gray or lineart");
      if (M == "color")
        PixelType = TWPT_RGB;
      else if (M == "gray")
        PixelType = TWPT_GRAY;
      else if (M == "lineart")
        PixelType = TWPT_BW;
      else
        throw TUsageError{"--mode takes color, gray or lineart"};
    } else if (A == "--feeder") {
      Feeder = true;
    } else if (!A.empty() && A[0] == '-' && A != "-") {
      throw TUsageError{"unknown option " + A};
    } else if (Out.empty()) {
      Out = A;
    } else {
      throw TUsageError{"acquire takes one output file"};
    }
  }
  if (Out.empty()) throw TUsageError{"acquire needs an output file (or --list)"};
  const int32_t Type = OutputType(Feeder ? PageName(Out, 1) : Out, "");

  if (TW.GetSourceCount() == 0) throw std::runtime_error("no scanner found");
  if (!Device.empty()) SelectDevice(TW, Device);
  if (PixelType >= 0) TW.PixelType().SetCurrentValue(PixelType);
  if (Resolution > 0) {
    TW.XResolution().SetCurrentValue(Resolution);
    TW.YResolution().SetCurrentValue(Resolution);
  }
  TW.SetFeederEnabled(Feeder);

  TBitmap Bitmap;
  IO.SetAttachedBitmap(&Bitmap);
  IO.OnProgress = ProgressBar("scanning");
  TInterruptGuard Guard(IO.Aborting);
  if (!Feeder) {
    const bool Ok = IO.Acquire();
    FinishProgress();
    if (Interrupted()) throw TInterrupted{};
    if (!Ok) throw std::runtime_error("the scanner delivered no page");
    SaveImage(IO, Out);
    return 0;
  }

  // A feeder batch: each page is written once the next one has begun, so that only two are in
  // memory; a GIF or TIFF output holds them all, other formats get a file per page.
  std::optional<TMultiImageWriter> Multi;
  if (HoldsManyImages(Type)) Multi.emplace(Out, Type);
  TBitmap Pending;
  TIOParamsVals PendingParams;
  bool HavePending = false;
  int32_t Pages = 0;
  auto Flush = [&] {
    if (!HavePending) return;
    TQuilloIO Writer;
    Writer.SetAttachedBitmap(&Pending);
    Writer.AssignParams(PendingParams);
    ++Pages;
    if (Multi)
      Multi->Add(Writer);
    else
      SaveImage(Writer, PageName(Out, Pages));
    HavePending = false;
  };
  TProgressRec Progress = QLProgressRec(IO.OnProgress, &IO, IO.Aborting);
  const bool Ok = QLTW_Acquire(
      nullptr, true,
      [&](TBitmap& Page, TIOParamsVals*& Params) {
        Flush();
        Pending = std::move(Page);
        PendingParams.SetDefaultParams();
        Params = &PendingParams;
        HavePending = true;
      },
      TW, nullptr, TW.Shared, Progress, nullptr);
  Flush();
  FinishProgress();
  if (Multi && Pages > 0) Multi->Finish(0);
  if (Interrupted()) throw TInterrupted{};
  if (!Ok) throw std::runtime_error("the scanner delivered no page");
  std::fprintf(stderr, "%d pages\n", Pages);
  return 0;
}

}  // namespace quillo::tool
