// What every command of the tool shares: the progress bar, Ctrl-C, and output files that appear
// only when complete.
#pragma once

#include <functional>
#include <string>

#include "quillo/core/types.h"

namespace quillo::tool {

enum class TProgressMode { Auto, Always, Never };

// Set from the global options before a command runs.
void SetProgressMode(TProgressMode Mode);
// --quiet: no progress bar and no warnings.
void SetQuiet(bool Quiet);

// One line "quillo: warning: Text" on standard error, unless --quiet; a text already shown in
// this run is not shown again (a conversion of many frames warns once).
void Warn(const std::string& Text);

// A progress handler drawing "Label [####....]  42%" on standard error (when it is a terminal,
// or always with --progress; never with --quiet). The bar is cleared when the next one starts
// or FinishProgress is called.
TQLProgressEvent ProgressBar(const std::string& Label);
void FinishProgress();

// A program with its own window shows progress and warnings there: when set, ProgressBar returns
// what Bars makes for the label, and Warn passes each text (once, as above) to Warnings.
void SetProgressSink(std::function<TQLProgressEvent(const std::string& Label)> Bars);
void SetWarningSink(std::function<void(const std::string& Text)> Warnings);
// Lets the texts already shown be shown again (a window warns on every save, not once a run).
void ForgetWarnings();

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
// final name, and an existing file of that name survives a failed write. The final name "-" is
// standard output: the image is written to a temporary file named with Ext (when the caller
// knows the format) and copied out by Commit.
class TOutputFile {
 public:
  explicit TOutputFile(std::string FinalName, const std::string& Ext = "");
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;
  const std::string& Path() const { return FTemp; }
  const std::string& FinalName() const { return FFinal; }
  // Renames the file into place (or copies it to standard output); false (with errno) when
  // that fails. Throws TBrokenPipe when standard output was closed by its reader.
  bool Commit();

 private:
  std::string FFinal, FTemp;
  bool FDone = false;
};

// Thrown when a command stops because of Ctrl-C; the tool exits with status 130.
struct TInterrupted {};

// Thrown when the reader of standard output has gone; the tool ends quietly with the status of
// a process killed by SIGPIPE (141).
struct TBrokenPipe {};

// Standard input for the name "-": the bytes are spooled to a temporary file (the readers and
// the frame counters seek), removed again when this goes. Other names are used as they are.
class TInputFile {
 public:
  explicit TInputFile(const std::string& Name);
  ~TInputFile();
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;
  // The file to read.
  const std::string& Path() const { return FPath; }
  // The name to show in messages ("-" stays "-").
  const std::string& Name() const { return FName; }

 private:
  std::string FName, FPath;
  bool FSpooled = false;
};

// The system's folder for temporary files (TMPDIR when set).
std::string TempFolder();

}  // namespace quillo::tool
