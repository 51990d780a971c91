// quillo convert IN OUT: one image from one format to another.
#include <cstdio>
#include <filesystem>

#include "apps/quillo/commands.h"
#include "apps/quillo/paramtable.h"
#include "quillo/io/quilloio.h"

namespace quillo::tool {

namespace {

// Loads FileName into the component: by content when it is recognised, else by extension.
bool LoadImage(TQuilloIO& IO, const std::string& FileName) {
  const int32_t Type = FindFileFormat(FileName, false);
  if (Type != ioUnknown)
    IO.LoadFromFileFormat(FileName, Type);
  else
    IO.LoadFromFile(FileName);
  return !IO.Aborting;
}

}  // namespace

int CmdInfo(const TArgs& Args) {
  if (Args.empty()) throw TUsageError{"info needs at least one file"};
  int Status = 0;
  for (const std::string& File : Args) {
    TBitmap Unused;
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Unused);
    if (!std::filesystem::exists(File)) {
      std::fprintf(stderr, "quillo info: %s: no such file\n", File.c_str());
      Status = 1;
      continue;
    }
    IO.ParamsFromFileFormat(File, FindFileFormat(File, false));
    const TIOParamsVals& P = IO.IOParams();
    if (P.FileType == ioUnknown) {
      std::fprintf(stderr, "quillo info: %s: not an image this build can read\n", File.c_str());
      Status = 1;
      continue;
    }
    std::printf("%s: %s\n", File.c_str(), P.GetFileTypeStr().c_str());
    std::printf("  size            %d x %d\n", P.Width, P.Height);
    std::printf("  bits per sample %d, samples per pixel %d\n", P.BitsPerSample, P.SamplesPerPixel);
    std::printf("  resolution      %d x %d dpi\n", P.DpiX, P.DpiY);
    if (P.ColorMapCount) std::printf("  palette         %d colours\n", P.ColorMapCount);
    for (int32_t I = 0; I < P.PxmComments.Count(); ++I)
      std::printf("  comment         %s\n", P.PxmComments[I].c_str());
  }
  return Status;
}

int CmdConvert(const TArgs& Args) {
  std::vector<std::string> Files, Sets;
  std::string Format, ParamsFile;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    if (Args[I] == "--format")
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
  TBitmap Image;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  if (!LoadImage(IO, In)) {
    std::fprintf(stderr, "quillo convert: %s: cannot read the image\n", In.c_str());
    return 1;
  }
  // Parameters for the output: a saved parameters file, then single fields.
  if (!ParamsFile.empty()) IO.IOParams().LoadFromFile(ParamsFile);
  for (const std::string& Set : Sets) {
    const size_t Eq = Set.find('=');
    if (Eq == std::string::npos) throw TUsageError{"--set takes FIELD=VALUE, not \"" + Set + "\""};
    const TParamField* Field = FindParamField(Set.substr(0, Eq));
    if (!Field) throw TUsageError{"no parameter called \"" + Set.substr(0, Eq) + "\""};
    if (!Field->Set(IO.IOParams(), Set.substr(Eq + 1)))
      throw TUsageError{"\"" + Set.substr(Eq + 1) + "\" is not a value of " + Field->Name};
  }
  if (Format.empty()) {
    IO.SaveToFile(Out);
  } else {
    TQLFileFormatInfo* Row = QLFileFormatGetInfo2(Format);
    if (!Row) throw TUsageError{"unknown format \"" + Format + "\""};
    TFileStream F(Out, fmCreate);
    IO.SaveToStream(F, Row->FileType);
    F.Flush();
  }
  if (IO.Aborting) {
    // No partial file is left behind.
    std::error_code Ec;
    std::filesystem::remove(Out, Ec);
    std::fprintf(stderr, "quillo convert: %s: cannot write the image in this format\n",
                 Out.c_str());
    return 1;
  }
  return 0;
}

}  // namespace quillo::tool
