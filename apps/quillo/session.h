// What every command of the tool shares: the progress bar, Ctrl-C, and output files that appear
// only when complete.
#pragma once

#include <string>

#include "quillo/core/types.h"

namespace quillo::tool {

enum class TProgressMode { Auto, Always, Never };

// Set from the global options before a command runs.
void SetProgressMode(TProgressMode Mode);

// A progress handler drawing "Label [####....]  42%" on standard error (when it is a terminal,
// or always with --progress; never with --quiet). The bar is cleared when the next one starts
// or FinishProgress is called.
TQLProgressEvent ProgressBar(const std::string& Label);
void FinishProgress();

// While one lives, Ctrl-C sets Flag (a component's Aborting) so the running codec or operation
// stops at its next row; a second Ctrl-C ends the process at once.
class TInterruptGuard {
 public:
  explicit TInterruptGuard(bool& Flag);
  ~TInterruptGuard();
  TInterruptGuard(const TInterruptGuard&) = delete;
  TInterruptGuard& operator=(const TInterruptGuard&) = delete;

 private:
  bool* FPrevious;
};
// True once Ctrl-C was pressed.
bool Interrupted();
// Installs the Ctrl-C handler (once, at start).
void InstallInterruptHandler();

// An output file written under a temporary name beside its final one (with the same
// extension, so that the extension still picks the format) and renamed into place by Commit;
// dropped without Commit, it removes what was written. No half-written image ever carries the
// final name, and an existing file of that name survives a failed write.
class TOutputFile {
 public:
  explicit TOutputFile(std::string FinalName);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  const std::string& Path() const { return FTemp; }
  const std::string& FinalName() const { return FFinal; }
  // Renames the file into place; false (with errno) when that fails.
  bool Commit();

 private:
  std::string FFinal, FTemp;
  bool FDone = false;
};

// Thrown when a command stops because of Ctrl-C; the tool exits with status 130.
struct TInterrupted {};

}  // namespace quillo::tool
