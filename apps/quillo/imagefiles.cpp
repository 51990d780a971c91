#include "apps/quillo/imagefiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/paramtable.h"
#include "apps/quillo/session.h"

namespace quillo::tool {

namespace {

std::runtime_error FileError(const std::string& File, const std::string& What) {
  return std::runtime_error(File + ": " + What);
}

}  // namespace

void LoadImage(TQuilloIO& IO, const std::string& FileName, int32_t Frame) {
  std::error_code Ec;
  if (!std::filesystem::exists(FileName, Ec)) throw FileError(FileName, "no such file");
  if (!std::filesystem::is_regular_file(FileName, Ec))
    throw FileError(FileName, "not a regular file");
  const int32_t Type = FindFileFormat(FileName, false);
  IO.IOParams().GifImageIndex = Frame;
  IO.IOParams().TiffImageIndex = Frame;
  IO.OnProgress = ProgressBar("reading " + std::filesystem::path(FileName).filename().string());
  {
    TInterruptGuard Guard(IO.Aborting);
    try {
      if (Type != ioUnknown)
        IO.LoadFromFileFormat(FileName, Type);
      else
        IO.LoadFromFile(FileName);
    } catch (const EFOpenError&) {
      throw FileError(FileName, std::string("cannot open: ") + std::strerror(errno));
    }
  }
  IO.OnProgress = nullptr;
  FinishProgress();
  if (Interrupted()) throw TInterrupted{};
  if (IO.Aborting || IO.GetAttachedBitmap()->Empty()) {
    if (Type == ioUnknown && IO.IOParams().FileType == ioUnknown)
      throw FileError(FileName, "not an image format this build reads");
    if (Frame > 0)
      throw FileError(FileName, "damaged, truncated, or has no image " + std::to_string(Frame));
    throw FileError(FileName, "damaged or truncated image");
  }
}

int32_t OutputType(const std::string& FileName, const std::string& Format) {
  const std::string Ext = Format.empty() ? QLExtractExt(FileName) : Format;
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo2(Ext[0] == '.' ? Ext.substr(1) : Ext);
  // The built-in formats are written by the component itself, registered ones through their row.
  const bool Writable =
      Row && (Row->WriteFunction || Row->FileType == ioTIFF || Row->FileType == ioGIF ||
              Row->FileType == ioJPEG || Row->FileType == ioPCX || Row->FileType == ioBMP ||
              Row->FileType == ioPNG || Row->FileType == ioTGA || Row->FileType == ioPXM);
  if (!Writable) {
    if (Format.empty())
      throw TUsageError{"cannot tell the output format from \"" + FileName + "\" (use --format)"};
    throw TUsageError{"no writer for the format \"" + Format + "\""};
  }
  return Row->FileType;
}

void FitParams(TIOParamsVals& P, int32_t Type, const std::string& FileName) {
  const bool Grey = P.SamplesPerPixel == 1 && P.ColorMapCount == 0;
  switch (Type) {
    case ioJPEG:
      // Baseline JPEG holds 8-bit grey or colour.
      P.SamplesPerPixel = Grey ? 1 : 3;
      P.BitsPerSample = 8;
      break;
    case ioPXM: {
      const std::string Ext = QLExtractExt(FileName);
      if (Ext == "pbm") P.BitsPerSample = 1, P.SamplesPerPixel = 1;
      if (Ext == "pgm") P.BitsPerSample = 8, P.SamplesPerPixel = 1;
      if (Ext == "ppm") P.BitsPerSample = 8, P.SamplesPerPixel = 3;
      break;
    }
    case ioTGA:
      // One-bit targa files are our own extension; others read 8-bit grey.
      if (P.BitsPerSample == 1) P.BitsPerSample = 8, P.SamplesPerPixel = 1;
      break;
    default:
      break;
  }
  // Depths beyond 8 bits per sample are read into 8-bit pixels.
  if (P.BitsPerSample > 8) P.BitsPerSample = 8;
  if (P.SamplesPerPixel > 3 || P.SamplesPerPixel < 1) P.SamplesPerPixel = 3;
}

void SaveImage(TQuilloIO& IO, const std::string& FileName, const std::string& Format) {
  const int32_t Type = OutputType(FileName, Format);
  FitParams(IO.IOParams(), Type, FileName);
  TOutputFile Out(FileName);
  IO.OnProgress = ProgressBar("writing " + std::filesystem::path(FileName).filename().string());
  {
    TInterruptGuard Guard(IO.Aborting);
    try {
      if (Format.empty()) {
        IO.SaveToFile(Out.Path());
      } else {
        TFileStream S(Out.Path(), fmCreate);
        IO.SaveToStream(S, Type);
        S.Flush();
      }
    } catch (const EFCreateError&) {
      throw FileError(FileName, std::string("cannot create: ") + std::strerror(errno));
    } catch (const EWriteError&) {
      throw FileError(FileName, std::string("cannot write: ") + std::strerror(errno));
    }
  }
  IO.OnProgress = nullptr;
  FinishProgress();
  if (Interrupted()) throw TInterrupted{};
  if (IO.Aborting) throw FileError(FileName, "cannot write this image in this format");
  if (!Out.Commit())
    throw FileError(FileName, std::string("cannot rename into place: ") + std::strerror(errno));
}

int32_t ParseFrame(const std::string& Text) {
  char* End = nullptr;
  const long N = std::strtol(Text.c_str(), &End, 10);
  if (Text.empty() || *End || N < 0 || N > 1000000)
    throw TUsageError{"--frame takes a number from 0, not \"" + Text + "\""};
  return static_cast<int32_t>(N);
}

void ApplySets(TIOParamsVals& P, const std::vector<std::string>& Sets) {
  for (const std::string& Set : Sets) {
    const size_t Eq = Set.find('=');
    if (Eq == std::string::npos) throw TUsageError{"--set takes FIELD=VALUE, not \"" + Set + "\""};
    const TParamField* Field = FindParamField(Set.substr(0, Eq));
    if (!Field) throw TUsageError{"no parameter called \"" + Set.substr(0, Eq) + "\""};
    if (!Field->Set(P, Set.substr(Eq + 1)))
      throw TUsageError{"\"" + Set.substr(Eq + 1) + "\" is not a value of " + Field->Name};
  }
}

}  // namespace quillo::tool
