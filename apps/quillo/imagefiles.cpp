#include "apps/quillo/imagefiles.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/paramtable.h"
#include "apps/quillo/session.h"
#include "quillo/codecs/gif.h"
#include "quillo/codecs/jpeg_quality.h"

namespace quillo::tool {

namespace {

std::runtime_error FileError(const std::string& File, const std::string& What) {
  return std::runtime_error(File + ": " + What);
}

// True when the PNG file carries a tRNS chunk before its image data: transparency that the
// channel count does not show (a palette or a single colour).
bool PngHasTransparencyChunk(const std::string& Path) {
  TFileStream F(Path, fmOpenRead | fmShareDenyWrite);
  F.Seek(8, soFromBeginning);
  uint8_t H[8];
  while (F.Read(H, 8) == 8) {
    const uint32_t Length =
        uint32_t{H[0]} << 24 | uint32_t{H[1]} << 16 | uint32_t{H[2]} << 8 | H[3];
    const std::string Type(reinterpret_cast<const char*>(H + 4), 4);
    if (Type == "tRNS") return true;
    if (Type == "IDAT" || Type == "IEND") return false;
    F.Seek(int64_t{Length} + 4, soFromCurrent);
  }
  return false;
}

}  // namespace

namespace {

void CheckInput(const TInputFile& In) {
  std::error_code Ec;
  if (!std::filesystem::exists(In.Path(), Ec)) throw FileError(In.Name(), "no such file");
  if (!std::filesystem::is_regular_file(In.Path(), Ec))
    throw FileError(In.Name(), "not a regular file");
}

// What a load found, for an image of a file of Images images.
TSourceInfo Describe(TQuilloIO& IO, const TInputFile& In, int32_t Images) {
  const std::string& FileName = In.Name();
  TIOParamsVals& P = IO.IOParams();
  TSourceInfo S;
  S.Name = FileName == "-" ? "standard input" : FileName;
  S.FileType = P.FileType;
  S.Images = Images;
  const bool TiffCmyk = P.FileType == ioTIFF && P.TiffPhotometInterpret == ioTIFF_CMYK;
  // Alpha is the sample beyond grey (2) or colour (4, 5 for CMYK); a JPEG has none.
  S.Alpha = P.FileType != ioJPEG && (P.SamplesPerPixel == 2 || P.SamplesPerPixel >= 5 ||
                                     (P.SamplesPerPixel == 4 && !TiffCmyk));
  if (P.FileType == ioPNG && !S.Alpha) S.Alpha = PngHasTransparencyChunk(In.Path());
  S.TransparentColour = P.FileType == ioGIF && P.GifTransparent;
  S.Deep = P.BitsPerSample > 8;
  S.Cmyk = TiffCmyk || (P.FileType == ioJPEG &&
                        (P.JpegColorSpace == ioJPEG_CMYK || P.JpegColorSpace == ioJPEG_YCbCrK));
  S.Lab = P.FileType == ioTIFF && P.TiffPhotometInterpret == ioTIFF_CIELAB;
  if (P.FileType == ioJPEG) {
    TFileStream F(In.Path(), fmOpenRead | fmShareDenyWrite);
    S.JpegQuality = QLJpegEstimateQuality(F);
  }
  P.JpegQuality = S.JpegQuality > 0 ? S.JpegQuality : kToolJpegQuality;
  return S;
}

}  // namespace

std::string UnreadableReason(const TQuilloIO& IO) {
  switch (IO.AbortReason()) {
    case qlarTruncated:
      return "truncated image";
    case qlarDamaged:
      return "damaged image";
    case qlarUnsupported:
      return "a variant of the format this build does not read";
    case qlarPixelLimit:
      return "image larger than the pixel limit (--max-pixels)";
    default:
      return "damaged or truncated image";
  }
}

void LoadEachImage(const TInputFile& In,
                   const std::function<void(TQuilloIO&, const TSourceInfo&)>& OnImage) {
  CheckInput(In);
  const int32_t Type = FindFileFormat(In.Path(), false);
  TBitmap Image;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  if (Type != ioGIF && Type != ioTIFF) return OnImage(IO, LoadImage(IO, In, 0));
  // As in LoadImage: a page whose compression has no writer keeps LZW.
  if (Type == ioTIFF) IO.IOParams().TiffCompression = ioTIFF_LZW;
  std::exception_ptr Error;
  int32_t Count = 0;
  {
    TInterruptGuard Guard(IO.Aborting);
    try {
      Count = IO.LoadEachImage(In.Path(), Type, [&](int32_t) {
        if (Interrupted()) return false;
        try {
          const TIOParamsVals& P = IO.IOParams();
          OnImage(IO, Describe(IO, In, Type == ioGIF ? P.GifImageCount : P.TiffImageCount));
        } catch (...) {
          Error = std::current_exception();
          return false;
        }
        return true;
      });
    } catch (const EFOpenError&) {
      throw FileError(In.Name(), std::string("cannot open: ") + std::strerror(errno));
    }
  }
  if (Error) std::rethrow_exception(Error);
  if (Interrupted()) throw TInterrupted{};
  if (IO.Aborting || Count == 0)
    throw FileError(In.Name(),
                    Count == 0 ? UnreadableReason(IO)
                    : IO.AbortReason() == qlarNone
                        ? "damaged or truncated after image " + std::to_string(Count - 1)
                        : "image " + std::to_string(Count) + ": " + UnreadableReason(IO));
}

TSourceInfo LoadImage(TQuilloIO& IO, const TInputFile& In, int32_t Frame) {
  const std::string& FileName = In.Name();
  CheckInput(In);
  const int32_t Type = FindFileFormat(In.Path(), false);
  IO.IOParams().GifImageIndex = Frame;
  IO.IOParams().TiffImageIndex = Frame;
  // A page whose compression has no writer (JPEG, or a code the reader does not name) keeps
  // this one rather than the last page's.
  if (Type == ioTIFF) IO.IOParams().TiffCompression = ioTIFF_LZW;
  const std::string Shown =
      FileName == "-" ? "standard input" : std::filesystem::path(FileName).filename().string();
  IO.OnProgress = ProgressBar("reading " + Shown);
  {
    TInterruptGuard Guard(IO.Aborting);
    try {
      if (Type != ioUnknown)
        IO.LoadFromFileFormat(In.Path(), Type);
      else
        IO.LoadFromFile(In.Path());
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
    throw FileError(FileName, UnreadableReason(IO));
  }
  return Describe(IO, In, ImageCount(In.Path(), IO.IOParams().FileType));
}

int32_t ImageCount(const std::string& Path, int32_t Type) {
  if (Type == ioGIF) return EnumGifIm(Path);
  if (Type == ioTIFF) return EnumTIFFIm(Path);
  return 1;
}

void SplitFormatPrefix(std::string& Name, std::string& Format) {
  const size_t Colon = Name.find(':');
  if (!Format.empty() || Colon == std::string::npos || Colon < 2) return;
  const std::string Prefix = Name.substr(0, Colon);
  std::string Lower;
  for (const char C : Prefix)
    Lower += static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  if (!QLFileFormatGetInfo2(Lower)) return;
  Format = Lower;
  Name.erase(0, Colon + 1);
}

bool HoldsManyImages(int32_t Type) {
  return Type == ioGIF || Type == ioTIFF;
}

int32_t OutputType(const std::string& FileName, const std::string& Format) {
  if (FileName == "-" && Format.empty())
    throw TUsageError{"standard output needs the format: --format EXT or EXT:-"};
  const std::string Ext = Format.empty() ? QLExtractExt(FileName) : Format;
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo2(Ext[0] == '.' ? Ext.substr(1) : Ext);
  // A format is writable when its row has a writer, built-in or registered alike.
  if (!Row || !Row->WriteFunction) {
    if (Format.empty())
      throw TUsageError{"cannot tell the output format from \"" + FileName + "\" (use --format)"};
    throw TUsageError{"no writer for the format \"" + Format + "\""};
  }
  return Row->FileType;
}

void ParamsFollowBitmap(TIOParamsVals& P, const TBitmap& Image) {
  P.Width = Image.GetWidth();
  P.Height = Image.GetHeight();
  if (Image.GetPixelFormat() == pf1bit)
    P.BitsPerSample = 1, P.SamplesPerPixel = 1;
  else if (P.BitsPerSample == 1)
    P.BitsPerSample = 8, P.SamplesPerPixel = 3;
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
    case ioTIFF:
      // JPEG-compressed pages are read, not written: the lossless coding that compresses.
      if (P.TiffCompression == ioTIFF_OLDJPEG || P.TiffCompression == ioTIFF_JPEG)
        P.TiffCompression = ioTIFF_LZW;
      break;
    default:
      break;
  }
  // Depths beyond 8 bits per sample are read into 8-bit pixels.
  if (P.BitsPerSample > 8) P.BitsPerSample = 8;
  if (P.SamplesPerPixel > 3 || P.SamplesPerPixel < 1) P.SamplesPerPixel = 3;
}

namespace {

// The number of colours the writer of Type stores with P (0: as many as there are), and
// whether it stores grey levels only; mirrors the writers' choice of layout.
int32_t ColourCapacity(int32_t Type, const TIOParamsVals& P, const TBitmap& B, bool& Grey) {
  Grey = false;
  const int32_t Bits = P.BitsPerSample, Spp = P.SamplesPerPixel;
  switch (Type) {
    case ioGIF:
      return 1 << std::clamp(Bits, 1, 8);
    case ioBMP:
      return Bits == 1 ? 2 : Bits == 4 ? 16 : Spp == 1 ? 256 : 0;
    case ioPCX: {
      int32_t Depth = Bits == 1 ? 1 : Bits * Spp;
      if (Depth != 1 && Depth != 4 && Depth != 8 && Depth != 24) Depth = Spp >= 3 ? 24 : 8;
      return Depth == 24 ? 0 : 1 << Depth;
    }
    case ioTGA:
      if (Spp != 1) return 0;
      if (Bits == 1 || Bits == 4) return 1 << Bits;
      Grey = P.TgaGrayLevel;
      return Grey ? 0 : 256;
    case ioPNG:
      return Spp != 1 ? 0 : Bits == 1 ? 2 : 256;
    case ioTIFF:
      if (Bits == 1 && Spp == 1) return 2;
      Grey = Bits == 8 && Spp == 1 &&
             (P.TiffPhotometInterpret == ioTIFF_WHITEISZERO ||
              P.TiffPhotometInterpret == ioTIFF_BLACKISZERO);
      return 0;
    case ioPXM:
      if ((Bits == 1 && Spp == 1) || B.GetPixelFormat() == pf1bit) return 2;
      Grey = Bits == 8 && Spp == 1;
      return 0;
    case ioJPEG:
      Grey = P.JpegColorSpace == ioJPEG_GRAYLEV;
      return 0;
    default:
      return 0;
  }
}

// Distinct colours of a 24-bit bitmap, counted up to Limit + 1; Grey set when every pixel is.
int32_t CountColours(const TBitmap& B, int32_t Limit, bool& AllGrey) {
  AllGrey = true;
  if (B.GetPixelFormat() != pf24bit) return 2;
  std::vector<bool> Seen(size_t{1} << 24);
  int32_t N = 0;
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    const uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < B.GetWidth(); ++X, Row += 3) {
      if (Row[0] != Row[1] || Row[1] != Row[2]) AllGrey = false;
      const size_t Key = size_t{Row[0]} | size_t{Row[1]} << 8 | size_t{Row[2]} << 16;
      if (N <= Limit && !Seen[Key]) Seen[Key] = true, ++N;
      if (N > Limit && !AllGrey) return N;
    }
  }
  return N;
}

}  // namespace

void ReportLosses(const TSourceInfo& Source, const TBitmap& Bitmap, int32_t Type,
                  const TIOParamsVals& P, const std::string& OutName) {
  const std::string& In = Source.Name;
  // The PNG reader composes transparency onto the background; the others leave it out.
  if (Source.Alpha)
    Warn(In + (Source.FileType == ioPNG ? ": the alpha channel was composited onto the background"
                                        : ": the alpha channel was dropped"));
  // The GIF writer alone stores a transparent colour; the reader gives those pixels the
  // colour stored for them.
  if (Source.TransparentColour && Type != ioGIF)
    Warn(In + ": the transparent colour was dropped; its pixels keep the colour stored for them");
  if (Source.Deep) Warn(In + ": 16-bit samples were reduced to 8 bits");
  const bool KeepsCmyk =
      (Type == ioJPEG && (P.JpegColorSpace == ioJPEG_CMYK || P.JpegColorSpace == ioJPEG_YCbCrK)) ||
      (Type == ioTIFF && P.TiffPhotometInterpret == ioTIFF_CMYK);
  if (Source.Cmyk && !KeepsCmyk) Warn(In + ": CMYK colours were converted to RGB");
  if (Source.Lab) Warn(In + ": Lab colours were converted to RGB");
  bool Grey = false;
  const int32_t Capacity = ColourCapacity(Type, P, Bitmap, Grey);
  if (Capacity == 0 && !Grey) return;
  bool AllGrey = true;
  const int32_t Colours = CountColours(Bitmap, Capacity > 0 ? Capacity : 0, AllGrey);
  const std::string Out = OutName == "-" ? "standard output" : OutName;
  if (Capacity > 0 && Colours > Capacity)
    Warn(Out + ": colours were quantized to " + std::to_string(Capacity) +
         " (what this format holds here)");
  else if (Grey && !AllGrey)
    Warn(Out + ": colours were converted to grey levels");
}

void SaveImage(TQuilloIO& IO, const std::string& FileName, const std::string& Format,
               const TSourceInfo* Source) {
  const int32_t Type = OutputType(FileName, Format);
  FitParams(IO.IOParams(), Type, FileName);
  if (Source) ReportLosses(*Source, *IO.GetAttachedBitmap(), Type, IO.IOParams(), FileName);
  const bool ToStdout = FileName == "-";
  TOutputFile Out(FileName, QLFileFormatGetExt(Type, 0));
  IO.OnProgress =
      ProgressBar("writing " + (ToStdout ? std::string("standard output")
                                         : std::filesystem::path(FileName).filename().string()));
  {
    TInterruptGuard Guard(IO.Aborting);
    try {
      // The component writes by file name only under the extensions a format saves under
      // (".jpg", not ".jpe"); any other name of the format is written by type.
      const TQLFileFormatInfo* Row = QLFileFormatGetInfo(Type);
      if (Format.empty() && Row && QLFileFormatSavesExt(*Row, QLExtractExt(FileName))) {
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
    throw FileError(FileName,
                    std::string(ToStdout ? "cannot write: " : "cannot rename into place: ") +
                        std::strerror(errno));
}

TMultiImageWriter::TMultiImageWriter(const std::string& FileName, int32_t Type)
    : FName(FileName), FType(Type), FOut(FileName, Type == ioGIF ? "gif" : "tif") {}

void TMultiImageWriter::Add(TQuilloIO& IO, const TSourceInfo* Source) {
  TIOParamsVals& P = IO.IOParams();
  const TBitmap& B = *IO.GetAttachedBitmap();
  FitParams(P, FType, FOut.Path());
  if (Source) ReportLosses(*Source, B, FType, P, FName);
  // Each image goes after the ones already there.
  P.GifImageIndex = FCount;
  P.TiffImageIndex = FCount;
  IO.OnProgress = ProgressBar("writing " + std::string(FType == ioGIF ? "frame " : "page ") +
                              std::to_string(FCount));
  {
    TInterruptGuard Guard(IO.Aborting);
    try {
      if (FCount == 0) {
        // By type, not by name: --format may name a format the extension does not.
        FFile = std::make_unique<TFileStream>(FOut.Path(), fmCreate);
        IO.SaveToStream(*FFile, FType);
        FFile->Flush();
        if (FType == ioGIF) FGifEnd = TGifEnd{FFile->GetSize() - 1, 1};
      } else {
        // Straight after the last frame or page, where the one before left the end: the file
        // is neither walked nor rewritten. A GIF's logical screen and loop are set once, when
        // the animation is finished.
        TBitmap& Image = *IO.GetAttachedBitmap();
        if (Image.GetPixelFormat() != pf1bit && Image.GetPixelFormat() != pf24bit)
          Image.SetPixelFormat(pf24bit);
        IO.Aborting = false;
        TProgressRec Prog = QLProgressRec(IO.OnProgress, &IO, IO.Aborting);
        FFile->SetPosition(0);
        if (FType == ioGIF)
          _InsertGifImStream(*FFile, Image, P, Prog, &FGifEnd);
        else
          TIFFWriteStream(*FFile, true, Image, P, Prog, &FTiffEnd);
        FFile->Flush();
      }
    } catch (const EFCreateError&) {
      throw FileError(FName, std::string("cannot create: ") + std::strerror(errno));
    } catch (const EStreamError&) {
      throw FileError(FName, std::string("cannot write: ") + std::strerror(errno));
    }
  }
  IO.OnProgress = nullptr;
  FinishProgress();
  if (Interrupted()) throw TInterrupted{};
  if (IO.Aborting)
    throw FileError(FName, "cannot add " + std::string(FType == ioGIF ? "frame " : "page ") +
                               std::to_string(FCount));
  FWinWidth = std::max({FWinWidth, P.GifWinWidth, B.GetWidth() + P.GifXPos});
  FWinHeight = std::max({FWinHeight, P.GifWinHeight, B.GetHeight() + P.GifYPos});
  ++FCount;
}

void TMultiImageWriter::Finish(int32_t Loop) {
  FFile.reset();
  if (FType == ioGIF && FCount > 1 && Loop >= 0)
    _GifMakeAnimate(FOut.Path(), static_cast<uint16_t>(Loop), FWinWidth, FWinHeight);
  else if (FType == ioGIF && FCount > 1)
    _GifSetScreen(FOut.Path(), FWinWidth, FWinHeight);
  if (!FOut.Commit())
    throw FileError(FName,
                    std::string(FName == "-" ? "cannot write: " : "cannot rename into place: ") +
                        std::strerror(errno));
}

bool IsAviFile(const std::string& Path) {
  std::FILE* F = std::fopen(Path.c_str(), "rb");
  if (!F) return false;
  char H[12] = {};
  const size_t N = std::fread(H, 1, sizeof(H), F);
  std::fclose(F);
  return N == sizeof(H) && std::memcmp(H, "RIFF", 4) == 0 && std::memcmp(H + 8, "AVI ", 4) == 0;
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
