#include "apps/quillo/session.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "quillo/io/quilloio.h"

namespace quillo::tool {

namespace {

TProgressMode gMode = TProgressMode::Auto;
bool gBarShown = false;
int gLastPercent = -1;

std::atomic<bool*> gFlag{nullptr};
std::atomic<bool> gInterrupted{false};

bool BarWanted() {
  switch (gMode) {
    case TProgressMode::Always:
      return true;
    case TProgressMode::Never:
      return false;
    case TProgressMode::Auto:
      return isatty(STDERR_FILENO) == 1;
  }
  return false;
}

void OnSigInt(int) {
  if (gInterrupted.exchange(true)) _exit(130);
  if (bool* F = gFlag.load()) QLSetAbortFlag(*F);
}

}  // namespace

void SetProgressMode(TProgressMode Mode) {
  gMode = Mode;
}

void FinishProgress() {
  if (gBarShown) std::fputs("\r\033[K", stderr);
  gBarShown = false;
  gLastPercent = -1;
}

TQLProgressEvent ProgressBar(const std::string& Label) {
  FinishProgress();
  if (!BarWanted()) return nullptr;
  return [Label](TObject*, int32_t Percent) {
    // Some operations pass a little over 100 on their last rows.
    const int P = Percent < 0 ? 0 : Percent > 100 ? 100 : Percent;
    if (P == gLastPercent) return;
    gLastPercent = P;
    constexpr int kWidth = 30;
    const int Fill = P * kWidth / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", Label.c_str(), Fill,
                 "##############################", kWidth - Fill, "", P);
    std::fflush(stderr);
    gBarShown = true;
  };
}

TInterruptGuard::TInterruptGuard(bool& Flag) : FPrevious(gFlag.exchange(&Flag)) {
  if (gInterrupted.load()) QLSetAbortFlag(Flag);
}

TInterruptGuard::~TInterruptGuard() {
  gFlag.store(FPrevious);
}

bool Interrupted() {
  return gInterrupted.load();
}

void InstallInterruptHandler() {
  struct sigaction Sa {};
  Sa.sa_handler = OnSigInt;
  sigemptyset(&Sa.sa_mask);
  sigaction(SIGINT, &Sa, nullptr);
  sigaction(SIGTERM, &Sa, nullptr);
}

TOutputFile::TOutputFile(std::string FinalName) : FFinal(std::move(FinalName)) {
  const std::filesystem::path P(FFinal);
  std::string Name = ".";
  Name += P.stem().string();
  Name += ".partial-";
  Name += std::to_string(getpid());
  Name += P.extension().string();
  FTemp = (P.parent_path() / Name).string();
}

TOutputFile::~TOutputFile() {
  if (FDone) return;
  std::error_code Ec;
  std::filesystem::remove(FTemp, Ec);
}

bool TOutputFile::Commit() {
  if (std::rename(FTemp.c_str(), FFinal.c_str()) != 0) return false;
  FDone = true;
  return true;
}

}  // namespace quillo::tool
