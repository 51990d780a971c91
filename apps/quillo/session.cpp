#include "apps/quillo/session.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <vector>

#include "quillo/io/quilloio.h"

namespace quillo::tool {

namespace {

TProgressMode gMode = TProgressMode::Auto;
bool gQuiet = false;
std::set<std::string> gWarned;
int gTempCount = 0;
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

void SetQuiet(bool Quiet) {
  gQuiet = Quiet;
}

namespace {
std::function<TQLProgressEvent(const std::string&)> gBars;
std::function<void(const std::string&)> gWarnings;
}  // namespace

void SetProgressSink(std::function<TQLProgressEvent(const std::string& Label)> Bars) {
  gBars = std::move(Bars);
}

void SetWarningSink(std::function<void(const std::string& Text)> Warnings) {
  gWarnings = std::move(Warnings);
}

void ForgetWarnings() {
  gWarned.clear();
}

void Warn(const std::string& Text) {
  if (gQuiet || !gWarned.insert(Text).second) return;
  if (gWarnings) return gWarnings(Text);
  FinishProgress();
  std::fprintf(stderr, "quillo: warning: %s\n", Text.c_str());
}

std::string TempFolder() {
  std::error_code Ec;
  const std::filesystem::path P = std::filesystem::temp_directory_path(Ec);
  return Ec ? std::string(".") : P.string();
}

namespace {

// A fresh name in the temporary folder, ending in Ext (".png", or empty).
std::string TempName(const std::string& Ext) {
  return (std::filesystem::path(TempFolder()) /
          ("quillo-" + std::to_string(getpid()) + "-" + std::to_string(++gTempCount) + Ext))
      .string();
}

// Writes all of Data to a descriptor; TBrokenPipe when its reader has gone.
bool WriteAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t N = write(Fd, Data, Size);
    if (N < 0 && errno == EINTR) continue;
    if (N < 0 && errno == EPIPE) throw TBrokenPipe{};
    if (N <= 0) return false;
    Data += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}

}  // namespace

void FinishProgress() {
  if (gBarShown) std::fputs("\r\033[K", stderr);
  gBarShown = false;
  gLastPercent = -1;
}

TQLProgressEvent ProgressBar(const std::string& Label) {
  FinishProgress();
  if (gBars) return gBars(Label);
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
  // A reader of standard output that goes away shows as EPIPE, so that temporary files are
  // still removed before the tool ends.
  std::signal(SIGPIPE, SIG_IGN);
}

TOutputFile::TOutputFile(std::string FinalName, const std::string& Ext)
    : FFinal(std::move(FinalName)) {
  if (FFinal == "-") {
    FTemp = TempName(Ext.empty() ? "" : "." + Ext);
    return;
  }
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
  if (FFinal == "-") {
    // Copied out, then removed by the destructor.
    std::FILE* F = std::fopen(FTemp.c_str(), "rb");
    if (!F) return false;
    std::vector<char> Buf(1 << 16);
    bool Ok = true;
    try {
      for (size_t N; Ok && (N = std::fread(Buf.data(), 1, Buf.size(), F)) > 0;)
        Ok = WriteAll(STDOUT_FILENO, Buf.data(), N);
    } catch (...) {
      std::fclose(F);
      throw;
    }
    Ok = Ok && !std::ferror(F);
    std::fclose(F);
    return Ok;
  }
  if (std::rename(FTemp.c_str(), FFinal.c_str()) != 0) return false;
  FDone = true;
  return true;
}

TInputFile::TInputFile(const std::string& Name) : FName(Name), FPath(Name) {
  if (Name != "-") return;
  FPath = TempName("");
  std::FILE* F = std::fopen(FPath.c_str(), "wb");
  if (!F) throw std::runtime_error("cannot create a temporary file for standard input");
  FSpooled = true;
  std::vector<char> Buf(1 << 16);
  bool Ok = true;
  for (;;) {
    const ssize_t N = read(STDIN_FILENO, Buf.data(), Buf.size());
    if (gInterrupted.load()) throw TInterrupted{};
    if (N < 0 && errno == EINTR) continue;
    if (N < 0) Ok = false;
    if (N <= 0) break;
    Ok = std::fwrite(Buf.data(), 1, static_cast<size_t>(N), F) == static_cast<size_t>(N);
    if (!Ok) break;
  }
  Ok = std::fclose(F) == 0 && Ok;
  if (!Ok) throw std::runtime_error("-: cannot read standard input");
}

TInputFile::~TInputFile() {
  if (!FSpooled) return;
  std::error_code Ec;
  std::filesystem::remove(FPath, Ec);
}

}  // namespace quillo::tool
