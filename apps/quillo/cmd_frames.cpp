// quillo frames IN PATTERN and quillo join OUT IN...: multi-image files apart and together.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/session.h"
#include "quillo/codecs/gif.h"
#include "quillo/io/quilloio.h"
#include "quillo/multi/avifile.h"

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

std::runtime_error FileError(const std::string& File, const std::string& What) {
  return std::runtime_error(File + ": " + What);
}

// Every frame of an AVI to its own file.
int AviFrames(const TInputFile& In, const std::string& Pattern) {
  if (!QLAVIAvailable()) throw FileError(In.Name(), "AVI videos need FFmpeg's libraries, which this build or system lacks");
  TFileStream S(In.Path(), fmOpenRead | fmShareDenyWrite);
  TQLAVIReader Reader;
  if (!Reader.Open(S)) throw FileError(In.Name(), "not a video this build decodes");
  int32_t Count = 0;
  TBitmap Frame;
  while (Reader.ReadFrame(Frame)) {
    if (Interrupted()) throw TInterrupted{};
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Frame);
    IO.IOParams().SetDefaultParams();
    SaveImage(IO, NameFor(Pattern, Count), "", nullptr);
    ++Count;
  }
  if (Reader.Failed())
    throw FileError(In.Name(), Count == 0 ? "damaged video"
                                          : "damaged after frame " + std::to_string(Count - 1));
  std::printf("%d images\n", Count);
  return 0;
}

// Builds an AVI from image files: every frame at the first one's size, DelayMs apart.
void AviJoin(const std::string& Out, const std::vector<std::string>& Inputs, int32_t DelayMs,
             TQLAVICodec Codec, int32_t Quality) {
  if (!QLAVIAvailable()) throw FileError(Out, "AVI videos need FFmpeg's libraries, which this build or system lacks");
  TOutputFile File(Out, "avi");
  int32_t Rate, Scale;
  QLAVIRateForDelay(DelayMs, Rate, Scale);
  TQLAVIWriter Writer;
  {
    TFileStream S(File.Path(), fmCreate);
    for (size_t I = 0; I < Inputs.size(); ++I) {
      const TInputFile In(Inputs[I]);
      TQuilloIO IO;
      TBitmap Image;
      IO.SetAttachedBitmap(&Image);
      LoadImage(IO, In, 0);
      if (I == 0 &&
          !Writer.Open(S, Image.GetWidth(), Image.GetHeight(), Rate, Scale, Codec, Quality))
        throw FileError(Out, "the compressor cannot take " + std::to_string(Image.GetWidth()) +
                                 " x " + std::to_string(Image.GetHeight()) + " frames");
      if (I > 0 && (Image.GetWidth() != Writer.Width() || Image.GetHeight() != Writer.Height()))
        Warn(In.Name() + " is not " + std::to_string(Writer.Width()) + " x " +
             std::to_string(Writer.Height()) + ": the frame before it is repeated");
      if (!Writer.WriteFrame(Image))
        throw FileError(Out, "cannot write frame " + std::to_string(I));
    }
    if (!Writer.Close()) throw FileError(Out, std::string("cannot write: ") + std::strerror(errno));
  }
  if (!File.Commit())
    throw FileError(Out, std::string(Out == "-" ? "cannot write: " : "cannot rename into place: ") +
                             std::strerror(errno));
}

}  // namespace

int CmdFrames(const TArgs& Args) {
  if (Args.size() != 2) throw TUsageError{"frames needs an input file and an output pattern"};
  OutputType(NameFor(Args[1], 0), "");
  const TInputFile In(Args[0]);
  if (IsAviFile(In.Path())) return AviFrames(In, Args[1]);
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
  std::string Delay, CodecName;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    if (Args[I] == "--set") {
      Sets.push_back(Value("FIELD=VALUE"));
    } else if (Args[I] == "--delay") {
      Delay = Value("a number");
    } else if (Args[I] == "--codec") {
      CodecName = Value("raw, mjpeg or ffv1");
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
  std::string OutExt = Format.empty() ? QLExtractExt(Out) : Format;
  for (char& C : OutExt) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  if (OutExt == "avi") {
    // Milliseconds per frame for a video.
    int32_t Ms = 40;
    if (!Delay.empty()) {
      char* End = nullptr;
      const long N = std::strtol(Delay.c_str(), &End, 10);
      if (*End || N < 1 || N > 3600000) throw TUsageError{"--delay takes 1 to 3600000 ms for AVI"};
      Ms = static_cast<int32_t>(N);
    }
    TQLAVICodec Codec = qlavRaw;
    if (CodecName == "mjpeg")
      Codec = qlavMJPEG;
    else if (CodecName == "ffv1")
      Codec = qlavFFV1;
    else if (!CodecName.empty() && CodecName != "raw")
      throw TUsageError{"--codec takes raw, mjpeg or ffv1"};
    int32_t Quality = 75;
    for (const std::string& Set : Sets)
      if (Set.rfind("JpegQuality=", 0) == 0) Quality = std::atoi(Set.c_str() + 12);
    AviJoin(Out, std::vector<std::string>(Files.begin() + 1, Files.end()), Ms, Codec, Quality);
    return 0;
  }
  if (!CodecName.empty()) throw TUsageError{"--codec is for AVI videos"};
  // Hundredths of a second per frame for a GIF.
  if (!Delay.empty()) Sets.push_back("GifDelayTime=" + Delay);
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
