// quillo convert IN OUT: an image, or every frame or page of one, from one format to another.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/session.h"
#include "quillo/codecs/gif.h"
#include "quillo/io/quilloio.h"

namespace quillo::tool {

namespace {

// Parameters for the output: a saved parameters file, then single fields.
void OutputParams(TQuilloIO& IO, const std::string& ParamsFile,
                  const std::vector<std::string>& Sets) {
  if (!ParamsFile.empty()) {
    try {
      IO.IOParams().LoadFromFile(ParamsFile);
    } catch (const std::exception&) {
      throw std::runtime_error(ParamsFile + ": not a parameters file");
    }
  }
  ApplySets(IO.IOParams(), Sets);
}

// The loop count of a GIF animation to keep, -1 for one without a loop extension (it plays
// once, and so does the copy); 0 (forever) for other sources.
int32_t SourceLoop(const std::string& Path, int32_t Type) {
  if (Type != ioGIF) return 0;
  TFileStream S(Path, fmOpenRead | fmShareDenyWrite);
  return QLGifLoopCount(S);
}

}  // namespace

int CmdConvert(const TArgs& Args) {
  std::vector<std::string> Files, Sets;
  std::string Format, ParamsFile;
  int32_t Frame = 0;
  bool FramePicked = false;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    if (Args[I] == "--frame" || Args[I] == "--page") {
      Frame = ParseFrame(Value("a number"));
      FramePicked = true;
    } else if (Args[I] == "--format")
      Format = Value("an extension");
    else if (Args[I] == "--set")
      Sets.push_back(Value("FIELD=VALUE"));
    else if (Args[I] == "--params")
      ParamsFile = Value("a parameters file");
    else if (Args[I].size() > 1 && Args[I][0] == '-')
      throw TUsageError{"unknown option " + Args[I]};
    else
      Files.push_back(Args[I]);
  }
  if (Files.size() != 2) throw TUsageError{"convert needs an input and an output file"};
  std::string Out = Files[1];
  SplitFormatPrefix(Out, Format);
  // A bad output format is a usage error before any work.
  const int32_t OutType = OutputType(Out, Format);
  const TInputFile In(Files[0]);
  TBitmap Image;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  const TSourceInfo Source = LoadImage(IO, In, Frame);
  if (Source.Images > 1 && !FramePicked && HoldsManyImages(OutType)) {
    // Every frame or page, each with its own parameters.
    TMultiImageWriter Writer(Out, OutType);
    LoadEachImage(In, [&](TQuilloIO& Each, const TSourceInfo& S) {
      OutputParams(Each, ParamsFile, Sets);
      Writer.Add(Each, &S);
    });
    Writer.Finish(SourceLoop(In.Path(), Source.FileType));
    return 0;
  }
  OutputParams(IO, ParamsFile, Sets);
  SaveImage(IO, Out, Format, &Source);
  if (Source.Images > 1 && !FramePicked) {
    const bool Gif = Source.FileType == ioGIF;
    Warn(Source.Name + " holds " + std::to_string(Source.Images) + (Gif ? " frames" : " pages") +
         "; only the first was written (--" + (Gif ? "frame" : "page") +
         " N picks another; quillo frames writes each to its own file)");
  }
  return 0;
}

}  // namespace quillo::tool
