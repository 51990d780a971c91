// quillo frames IN PATTERN and quillo join OUT IN...: multi-image files apart and together.
#include <cstdio>
#include <filesystem>

#include "apps/quillo/commands.h"
#include "apps/quillo/paramtable.h"
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
  const std::string& In = Args[0];
  const int32_t Type = FindFileFormat(In, false);
  int32_t Count = 0;
  if (Type == ioGIF)
    Count = EnumGifIm(In);
  else if (Type == ioTIFF)
    Count = EnumTIFFIm(In);
  else
    Count = Type != ioUnknown ? 1 : 0;
  if (Count == 0) {
    std::fprintf(stderr, "quillo frames: %s: not an image this build can read\n", In.c_str());
    return 1;
  }
  for (int32_t I = 0; I < Count; ++I) {
    TBitmap Image;
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Image);
    IO.IOParams().GifImageIndex = I;
    IO.IOParams().TiffImageIndex = I;
    IO.LoadFromFileFormat(In, Type);
    if (IO.Aborting) {
      std::fprintf(stderr, "quillo frames: %s: cannot read image %d\n", In.c_str(), I);
      return 1;
    }
    const std::string Out = NameFor(Args[1], I);
    IO.SaveToFile(Out);
    if (IO.Aborting) {
      std::error_code Ec;
      std::filesystem::remove(Out, Ec);
      std::fprintf(stderr, "quillo frames: %s: cannot write the image\n", Out.c_str());
      return 1;
    }
  }
  std::printf("%d images\n", Count);
  return 0;
}

int CmdJoin(const TArgs& Args) {
  std::vector<std::string> Files, Sets;
  for (size_t I = 0; I < Args.size(); ++I) {
    if (Args[I] == "--set") {
      if (++I >= Args.size()) throw TUsageError{"--set needs FIELD=VALUE"};
      Sets.push_back(Args[I]);
    } else if (Args[I] == "--delay" || Args[I] == "--loop") {
      if (I + 1 >= Args.size()) throw TUsageError{Args[I] + " needs a number"};
      Sets.push_back((Args[I] == "--delay" ? "GifDelayTime=" : "GifLoop=") + Args[I + 1]);
      ++I;
    } else {
      Files.push_back(Args[I]);
    }
  }
  if (Files.size() < 2) throw TUsageError{"join needs an output file and at least one input"};
  const std::string Out = Files[0];
  const std::string Ext = QLExtractExt(Out);
  if (Ext != "gif" && Ext != "tif" && Ext != "tiff")
    throw TUsageError{"join writes GIF animations and TIFF pages (.gif, .tif, .tiff)"};
  int32_t Loop = 0;
  TQuilloIO IO;
  TBitmap Image;
  IO.SetAttachedBitmap(&Image);
  std::error_code Ec;
  std::filesystem::remove(Out, Ec);
  for (size_t I = 1; I < Files.size(); ++I) {
    const int32_t Type = FindFileFormat(Files[I], false);
    // A TIFF input gives its first page.
    IO.IOParams().TiffImageIndex = 0;
    IO.LoadFromFileFormat(Files[I], Type == ioUnknown ? ioBMP : Type);
    if (IO.Aborting) {
      std::fprintf(stderr, "quillo join: %s: cannot read the image\n", Files[I].c_str());
      std::filesystem::remove(Out, Ec);
      return 1;
    }
    for (const std::string& Set : Sets) {
      const size_t Eq = Set.find('=');
      if (Eq == std::string::npos) throw TUsageError{"--set takes FIELD=VALUE"};
      if (Set.substr(0, Eq) == "GifLoop") {
        Loop = std::stoi(Set.substr(Eq + 1));
        continue;
      }
      const TParamField* Field = FindParamField(Set.substr(0, Eq));
      if (!Field || !Field->Set(IO.IOParams(), Set.substr(Eq + 1)))
        throw TUsageError{"bad parameter \"" + Set + "\""};
    }
    if (Ext == "gif") {
      IO.IOParams().GifImageIndex = static_cast<int32_t>(I - 1);
      if (I == 1)
        IO.SaveToFile(Out);
      else
        IO.InsertToFileGif(Out);
    } else {
      // Each page goes after the ones already there.
      IO.IOParams().TiffImageIndex = static_cast<int32_t>(I - 1);
      if (I == 1)
        IO.SaveToFile(Out);
      else
        IO.InsertToFileTIFF(Out);
    }
    if (IO.Aborting) {
      std::fprintf(stderr, "quillo join: %s: cannot add %s\n", Out.c_str(), Files[I].c_str());
      std::filesystem::remove(Out, Ec);
      return 1;
    }
  }
  // A GIF of several frames loops: forever unless --loop gives a count.
  if (Ext == "gif" && Files.size() > 2 && Loop != 0)
    _GifMakeAnimate(Out, static_cast<uint16_t>(Loop), IO.IOParams().GifWinWidth,
                    IO.IOParams().GifWinHeight);
  return 0;
}

}  // namespace quillo::tool
