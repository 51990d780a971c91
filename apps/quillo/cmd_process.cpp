// quillo process IN OUT OP [ARG]...: a chain of processing operations on one image.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/operations.h"
#include "apps/quillo/session.h"
#include "quillo/io/quilloio.h"
#include "quillo/proc/magicwand.h"
#include "quillo/proc/quilloproc.h"

namespace quillo::tool {

namespace {

struct TStep {
  const TOp* Op;
  TValues Values;
};

std::vector<TStep> ParseSteps(const TArgs& Words) {
  std::vector<TStep> Steps;
  size_t Positional = 0;
  for (const std::string& W : Words) {
    if (const TOp* Op = FindOp(Lower(W)); Op && W.find('=') == std::string::npos) {
      Steps.push_back({Op, {}});
      Positional = 0;
      continue;
    }
    if (Steps.empty())
      throw TUsageError{"unknown operation \"" + W + "\" (quillo process --help lists them)"};
    TStep& S = Steps.back();
    const size_t Eq = W.find('=');
    const TArgDef* Def = nullptr;
    std::string Text = W;
    if (Eq != std::string::npos) {
      for (const TArgDef& A : S.Op->Args)
        if (Lower(A.Name) == Lower(W.substr(0, Eq))) Def = &A;
      if (!Def)
        throw TUsageError{std::string(S.Op->Name) + " has no argument \"" + W.substr(0, Eq) + "\""};
      Text = W.substr(Eq + 1);
    } else {
      if (Positional >= S.Op->Args.size())
        throw TUsageError{std::string(S.Op->Name) + " takes " + std::to_string(S.Op->Args.size()) +
                          " arguments; \"" + W + "\" is one too many (or an unknown operation)"};
      Def = &S.Op->Args[Positional++];
    }
    S.Values.FValues[Def->Name] = CheckValue(*S.Op, *Def, Text);
  }
  for (TStep& S : Steps) FillDefaults(*S.Op, S.Values);
  return Steps;
}

}  // namespace

std::string ProcessHelp() {
  std::string H =
      "quillo process IN OUT OPERATION [ARG]... [OPERATION [ARG]...]...\n\n"
      "Runs the operations in order on IN and writes OUT (format by extension). Arguments go by\n"
      "position or as Name=value; colours are #RRGGBB. --format, --frame and --set work as for\n"
      "convert. Operations:\n";
  for (const TOp& O : Ops()) {
    std::string Line = std::string("  ") + O.Name;
    for (const TArgDef& A : O.Args) {
      Line += std::string(" ") + (A.Default ? "[" : "") + A.Name;
      if (A.Default && *A.Default) Line += std::string("=") + A.Default;
      Line += A.Default ? "]" : "";
    }
    H += Line + "\n      " + O.Summary + "\n";
  }
  H += "\nResample filters: none triangle hermite bell bspline lanczos3 mitchell.\n"
       "Convolution presets: none blur edge emboss highpass1 highpass2 highpass3 lowpass1 "
       "lowpass2.\n"
       "Example: quillo process in.jpg out.png resample 800 rotate 30 contrast 20";
  return H;
}

int CmdProcess(const TArgs& Args) {
  std::vector<std::string> Files, Words, Sets;
  std::string Format;
  int32_t Frame = 0;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    if (Args[I] == "--format") {
      Format = Value("an extension");
    } else if (Args[I] == "--set") {
      Sets.push_back(Value("FIELD=VALUE"));
    } else if (Args[I] == "--frame" || Args[I] == "--page") {
      Frame = ParseFrame(Value("a number"));
    } else if (Files.size() < 2) {
      Files.push_back(Args[I]);
    } else {
      Words.push_back(Args[I]);
    }
  }
  if (Files.size() < 2) throw TUsageError{"process needs an input and an output file"};
  if (Words.empty()) throw TUsageError{"process needs at least one operation"};
  const std::vector<TStep> Steps = ParseSteps(Words);
  std::string Out = Files[1];
  SplitFormatPrefix(Out, Format);
  OutputType(Out, Format);
  const TInputFile In(Files[0]);
  TBitmap Image;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  const TSourceInfo Source = LoadImage(IO, In, Frame);
  ApplySets(IO.IOParams(), Sets);
  TQuilloProc Proc;
  Proc.SetAttachedBitmap(&Image);
  Proc.SetAutoUndo(false);
  for (const TStep& S : Steps) {
    Proc.OnProgress = ProgressBar(S.Op->Name);
    // The processing component has no abort flag of its own: an interrupt ends the chain
    // between steps.
    S.Op->Run(Proc, S.Values);
    FinishProgress();
    if (Interrupted()) throw TInterrupted{};
  }
  // What is written follows the result: a 1-bit result is written as 1-bit, a 24-bit one as
  // it was read.
  ParamsFollowBitmap(IO.IOParams(), Image);
  SaveImage(IO, Out, Format, &Source);
  return 0;
}

}  // namespace quillo::tool
