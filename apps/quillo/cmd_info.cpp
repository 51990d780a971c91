// quillo info FILE...: what a file holds, as text or JSON.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/json.h"
#include "apps/quillo/paramtable.h"
#include "apps/quillo/session.h"
#include "quillo/codecs/gif.h"
#include "quillo/codecs/jpeg_quality.h"
#include "quillo/io/quilloio.h"
#include "quillo/multi/avifile.h"
#include "quillo/platform/metafile.h"

namespace quillo::tool {

namespace {

// A field as JSON: numbers and booleans bare, the rest as strings.
std::string JsonValue(const TParamField& F, const TIOParamsVals& P) {
  switch (F.Kind) {
    case TFieldKind::Number:
      return TJson::Number(F.Number(P));
    case TFieldKind::Boolean:
      return F.Get(P);
    default:
      return JsonString(F.Get(P));
  }
}

struct TFrame {
  int32_t Delay, X, Y, Disposal;
  bool Transparent;
  std::string TranspColor;
  std::string PageName;
  int32_t PageNumber;
};

// Everything info reports about one file; Error set when it cannot be read.
struct TInfo {
  std::string File, Error, Format;
  int32_t Type = ioUnknown;
  TIOParamsVals P;
  int32_t Images = 1;
  int32_t Loop = -1;
  std::vector<TFrame> Frames;
  bool Avi = false;
  TQLAVIStreamInfo Video;
};

// An AVI: its first video stream as its headers describe it.
void DescribeAvi(const std::string& File, TInfo& I) {
  I.Avi = true;
  I.Format = "AVI video";
  if (!QLAVIAvailable()) {
    I.Error = "AVI videos need FFmpeg's libraries, which this build or system lacks";
    return;
  }
  TFileStream S(File, fmOpenRead | fmShareDenyWrite);
  TQLAVIReader Reader;
  if (!Reader.Open(S)) {
    I.Error = "damaged video, or none this build decodes";
    return;
  }
  I.Video = Reader.Info();
  I.P.Width = I.Video.Width;
  I.P.Height = I.Video.Height;
  I.Images = static_cast<int32_t>(std::min<int64_t>(I.Video.Frames, INT32_MAX));
}

void Describe(const TInputFile& In, TInfo& I) {
  I.File = In.Name();
  const std::string& File = In.Path();
  std::error_code Ec;
  if (!std::filesystem::is_regular_file(File, Ec)) {
    I.Error = std::filesystem::exists(File, Ec) ? "not a regular file" : "no such file";
    return;
  }
  if (IsAviFile(File)) return DescribeAvi(File, I);
  const int32_t Type = FindFileFormat(File, false);
  const std::string Ext = QLExtractExt(File);
  if (Type == ioUnknown && (Ext == "wmf" || Ext == "emf")) {
    TMetafile M;
    try {
      M.LoadFromFile(File);
    } catch (const std::exception& E) {
      I.Error = std::string("not a metafile: ") + E.what();
      return;
    }
    I.Type = M.GetEnhanced() ? ioEMF : ioWMF;
    I.P.FileType = I.Type;
    I.P.Width = M.GetWidth();
    I.P.Height = M.GetHeight();
    I.Format = I.P.GetFileTypeStr();
    return;
  }
  TBitmap Unused;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Unused);
  try {
    IO.ParamsFromFileFormat(File, Type);
  } catch (const std::exception& E) {
    I.Error = E.what();
    return;
  }
  if (IO.IOParams().FileType == ioUnknown) {
    I.Error = Type == ioUnknown ? "not an image format this build reads" : UnreadableReason(IO);
    return;
  }
  I.P.Assign(IO.IOParams());
  I.Type = I.P.FileType;
  I.Format = I.P.GetFileTypeStr();
  if (I.Type == ioJPEG) {
    // The quality estimated from the tables, the one convert keeps.
    TFileStream S(File, fmOpenRead | fmShareDenyWrite);
    I.P.JpegQuality = QLJpegEstimateQuality(S);
  }
  if (I.Type == ioGIF || I.Type == ioTIFF) {
    I.Images = I.Type == ioGIF ? EnumGifIm(File) : EnumTIFFIm(File);
    for (int32_t K = 0; K < I.Images; ++K) {
      IO.IOParams().GifImageIndex = K;
      IO.IOParams().TiffImageIndex = K;
      IO.ParamsFromFileFormat(File, I.Type);
      const TIOParamsVals& F = IO.IOParams();
      char Col[8];
      std::snprintf(Col, sizeof(Col), "#%02X%02X%02X", F.GifTranspColor.r, F.GifTranspColor.g,
                    F.GifTranspColor.b);
      I.Frames.push_back(I.Type == ioGIF ? TFrame{F.GifDelayTime, F.GifXPos, F.GifYPos,
                                                  F.GifDisposal, F.GifTransparent, Col, "", 0}
                                         : TFrame{0, F.TiffXPos, F.TiffYPos, 0, false, "",
                                                  F.TiffPageName, F.TiffPageNumber});
    }
    if (I.Type == ioGIF) {
      TFileStream S(File, fmOpenRead | fmShareDenyWrite);
      I.Loop = QLGifLoopCount(S);
    }
  }
}

// What a viewer does with a GIF frame before the next one, by the disposal method.
const char* DisposalWord(int32_t Disposal) {
  switch (Disposal) {
    case 0:
      return "unspecified";
    case 1:
      return "keep";
    case 2:
      return "restore background";
    case 3:
      return "restore previous";
    default:
      return "undefined";
  }
}

std::string Json(const TInfo& I) {
  TJson O = TJson::Object();
  O.Str("file", I.File);
  if (!I.Error.empty()) return O.Str("error", I.Error).Text();
  const TIOParamsVals& P = I.P;
  if (I.Avi)
    return O.Str("format", I.Format)
        .Num("width", I.Video.Width)
        .Num("height", I.Video.Height)
        .Num("frames", static_cast<double>(I.Video.Frames))
        .Num("rate", I.Video.Rate)
        .Num("scale", I.Video.Scale)
        .Num("delayMs", I.Video.DelayMs())
        .Str("codec", I.Video.Codec)
        .Text();
  O.Str("format", I.Format).Num("fileType", I.Type).Num("width", P.Width).Num("height", P.Height);
  O.Num("bitsPerSample", P.BitsPerSample).Num("samplesPerPixel", P.SamplesPerPixel);
  O.Num("dpiX", P.DpiX)
      .Num("dpiY", P.DpiY)
      .Num("paletteSize", P.ColorMapCount)
      .Num("images", I.Images);
  if (const char* Pre = FormatParamPrefix(I.Type)) {
    TJson Params = TJson::Object();
    for (const TParamField& F : ParamFields())
      if (std::string(F.Name).starts_with(Pre)) Params.Raw(F.Name, JsonValue(F, P));
    O.Raw("parameters", Params.Text());
  }
  if (P.JpegMarkerList.GetCount()) {
    TJson A = TJson::Array();
    for (int32_t K = 0; K < P.JpegMarkerList.GetCount(); ++K)
      A.Add(TJson::Object()
                .Num("marker", P.JpegMarkerList.GetMarkerType(K))
                .Num("length", P.JpegMarkerList.GetMarkerLength(K))
                .Text());
    O.Raw("jpegMarkers", A.Text());
  }
  if (P.IPTCInfoList.Count()) {
    TJson A = TJson::Array();
    for (int32_t K = 0; K < P.IPTCInfoList.Count(); ++K)
      A.Add(TJson::Object()
                .Num("record", P.IPTCInfoList.GetRecordNumber(K))
                .Num("dataSet", P.IPTCInfoList.GetDataSet(K))
                .Str("value", P.IPTCInfoList.GetStrings(K))
                .Text());
    O.Raw("iptc", A.Text());
  }
  if (P.PxmComments.Count()) {
    TJson A = TJson::Array();
    for (int32_t K = 0; K < P.PxmComments.Count(); ++K) A.Add(JsonString(P.PxmComments[K]));
    O.Raw("comments", A.Text());
  }
  if (!I.Frames.empty()) {
    TJson A = TJson::Array();
    for (const TFrame& F : I.Frames) {
      TJson E = TJson::Object();
      E.Num("x", F.X).Num("y", F.Y);
      if (I.Type == ioGIF) {
        E.Num("delay", F.Delay).Num("disposal", F.Disposal).Bool("transparent", F.Transparent);
        if (F.Transparent) E.Str("transparentColor", F.TranspColor);
      } else {
        E.Str("pageName", F.PageName).Num("pageNumber", F.PageNumber);
      }
      A.Add(E.Text());
    }
    O.Raw("frames", A.Text());
  }
  if (I.Type == ioGIF) O.Num("loop", I.Loop);
  return O.Text();
}

void PrintText(const TInfo& I) {
  const TIOParamsVals& P = I.P;
  if (I.Avi) {
    const TQLAVIStreamInfo& V = I.Video;
    std::printf("%s: %s\n", I.File.c_str(), I.Format.c_str());
    std::printf("  %-22s %d x %d\n", "size", V.Width, V.Height);
    std::printf("  %-22s %lld\n", "frames", static_cast<long long>(V.Frames));
    std::printf("  %-22s %d/%d frames per second (%d ms a frame)\n", "rate", V.Rate, V.Scale,
                V.DelayMs());
    std::printf("  %-22s %s\n", "codec", V.Codec.c_str());
    return;
  }
  std::printf("%s: %s\n", I.File.c_str(), I.Format.c_str());
  std::printf("  %-22s %d x %d\n", "size", P.Width, P.Height);
  std::printf("  %-22s %d bits per sample, %d samples per pixel\n", "depth", P.BitsPerSample,
              P.SamplesPerPixel);
  std::printf("  %-22s %d x %d dpi\n", "resolution", P.DpiX, P.DpiY);
  if (P.ColorMapCount) std::printf("  %-22s %d colours\n", "palette", P.ColorMapCount);
  if (I.Images != 1) std::printf("  %-22s %d\n", I.Type == ioTIFF ? "pages" : "images", I.Images);
  if (const char* Pre = FormatParamPrefix(I.Type))
    for (const TParamField& F : ParamFields())
      if (std::string(F.Name).starts_with(Pre))
        std::printf("  %-22s %s%s\n", F.Name, F.Get(P).c_str(),
                    std::string(F.Name) == "JpegQuality" ? " (estimated from the tables)" : "");
  for (int32_t K = 0; K < P.JpegMarkerList.GetCount(); ++K)
    std::printf("  %-22s %s, %d bytes\n", "marker",
                MarkerName(P.JpegMarkerList.GetMarkerType(K)).c_str(),
                P.JpegMarkerList.GetMarkerLength(K));
  for (int32_t K = 0; K < P.IPTCInfoList.Count(); ++K) {
    const std::string Key = "iptc " + std::to_string(P.IPTCInfoList.GetRecordNumber(K)) + ":" +
                            std::to_string(P.IPTCInfoList.GetDataSet(K));
    std::printf("  %-22s %s\n", Key.c_str(), P.IPTCInfoList.GetStrings(K).c_str());
  }
  for (int32_t K = 0; K < P.PxmComments.Count(); ++K)
    std::printf("  %-22s %s\n", "comment", P.PxmComments[K].c_str());
  for (size_t K = 0; K < I.Frames.size(); ++K) {
    const TFrame& F = I.Frames[K];
    const std::string Key = (I.Type == ioGIF ? "frame " : "page ") + std::to_string(K);
    if (I.Type == ioGIF)
      std::printf("  %-22s delay %d, at %d,%d, disposal %s%s%s\n", Key.c_str(), F.Delay, F.X, F.Y,
                  DisposalWord(F.Disposal), F.Transparent ? ", transparent " : "",
                  F.Transparent ? F.TranspColor.c_str() : "");
    else
      std::printf("  %-22s at %d,%d, page number %d%s%s\n", Key.c_str(), F.X, F.Y, F.PageNumber,
                  F.PageName.empty() ? "" : ", name ", F.PageName.c_str());
  }
  if (I.Type == ioGIF)
    std::printf("  %-22s %s\n", "loop",
                I.Loop < 0    ? "none"
                : I.Loop == 0 ? "forever"
                              : std::to_string(I.Loop).c_str());
}

}  // namespace

int CmdInfo(const TArgs& Args) {
  bool AsJson = false;
  std::vector<std::string> Files;
  for (const std::string& A : Args) {
    if (A == "--json")
      AsJson = true;
    else if (A.size() > 1 && A[0] == '-')
      throw TUsageError{"unknown option " + A};
    else
      Files.push_back(A);
  }
  if (Files.empty()) throw TUsageError{"info needs at least one file"};
  int Status = 0;
  TJson All = TJson::Array();
  for (const std::string& File : Files) {
    TInfo I;
    {
      const TInputFile In(File);
      Describe(In, I);
    }
    if (!I.Error.empty()) {
      std::fprintf(stderr, "quillo info: %s: %s\n", File.c_str(), I.Error.c_str());
      Status = 1;
    }
    if (AsJson)
      All.Add(Json(I));
    else if (I.Error.empty())
      PrintText(I);
  }
  if (AsJson) std::printf("%s\n", All.Text().c_str());
  return Status;
}

}  // namespace quillo::tool
