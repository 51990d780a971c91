// quillo frames IN PATTERN and quillo join OUT IN...: multi-image files apart and together.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/session.h"
#include "quillo/codecs/gif.h"
#include "quillo/io/quilloio.h"

namespace quillo::tool {

namespace {

// PATTERN with its first "%d" (or "%0Nd") replaced by N; without one, "-N" goes before the
// extension.
std::string NameFor(const std::string& Pattern, int32_t N) {
  const size_t P = Pattern.find('%');
  if (P != std::string::npos) {
    char Buf[4096];
    std::snprintf(Buf, sizeof(Buf), Pattern.c_str(), N);
    return Buf;
  }
  const std::filesystem::path Path(Pattern);
  return (Path.parent_path() /
          (Path.stem().string() + "-" + std::to_string(N) + Path.extension().string()))
      .string();
}

}  // namespace

int CmdFrames(const TArgs& Args) {
  if (Args.size() != 2) throw TUsageError{"frames needs an input file and an output pattern"};
  OutputType(NameFor(Args[1], 0), "");
  const TInputFile In(Args[0]);
  // One pass over the input: finding each frame from the start would make the work grow with
  // the square of the frame count.
  int32_t Count = 0;
  LoadEachImage(In, [&](TQuilloIO& IO, const TSourceInfo& Source) {
    SaveImage(IO, NameFor(Args[1], Count), "", &Source);
    ++Count;
  });
  std::printf("%d images\n", Count);
  return 0;
}

int CmdJoin(const TArgs& Args) {
  std::vector<std::string> Files, Sets;
  int32_t Loop = 0;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    if (Args[I] == "--set") {
      Sets.push_back(Value("FIELD=VALUE"));
    } else if (Args[I] == "--delay") {
      Sets.push_back("GifDelayTime=" + Value("a number"));
    } else if (Args[I] == "--loop") {
      const std::string V = Value("a number");
      char* End = nullptr;
      const long N = std::strtol(V.c_str(), &End, 10);
      if (V.empty() || *End || N < 0 || N > 65535)
        throw TUsageError{"--loop takes 0 (forever) to 65535"};
      Loop = static_cast<int32_t>(N);
    } else {
      Files.push_back(Args[I]);
    }
  }
  if (Files.size() < 2) throw TUsageError{"join needs an output file and at least one input"};
  std::string Out = Files[0], Format;
  SplitFormatPrefix(Out, Format);
  const int32_t Type = OutputType(Out, Format);
  if (!HoldsManyImages(Type))
    throw TUsageError{"join writes GIF animations and TIFF pages (.gif, .tif, .tiff)"};
  TMultiImageWriter Writer(Out, Type);
  for (size_t I = 1; I < Files.size(); ++I) {
    // A GIF or TIFF input gives its first image.
    const TInputFile In(Files[I]);
    TQuilloIO IO;
    TBitmap Image;
    IO.SetAttachedBitmap(&Image);
    const TSourceInfo Source = LoadImage(IO, In, 0);
    ApplySets(IO.IOParams(), Sets);
    Writer.Add(IO, &Source);
  }
  // A GIF of several frames loops: forever, or --loop times.
  Writer.Finish(Loop);
  return 0;
}

}  // namespace quillo::tool
