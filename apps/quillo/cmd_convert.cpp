// quillo convert IN OUT: one image from one format to another.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/session.h"
#include "quillo/io/quilloio.h"

namespace quillo::tool {

int CmdConvert(const TArgs& Args) {
  std::vector<std::string> Files, Sets;
  std::string Format, ParamsFile;
  int32_t Frame = 0;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    if (Args[I] == "--frame" || Args[I] == "--page") {
      Frame = ParseFrame(Value("a number"));
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
  const std::string& In = Files[0];
  const std::string& Out = Files[1];
  if (!Format.empty()) OutputType(Out, Format);  // a bad --format is a usage error before any work
  TBitmap Image;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  LoadImage(IO, In, Frame);
  // Parameters for the output: a saved parameters file, then single fields.
  if (!ParamsFile.empty()) {
    try {
      IO.IOParams().LoadFromFile(ParamsFile);
    } catch (const std::exception&) {
      throw std::runtime_error(ParamsFile + ": not a parameters file");
    }
  }
  ApplySets(IO.IOParams(), Sets);
  SaveImage(IO, Out, Format);
  return 0;
}

}  // namespace quillo::tool
