#include "apps/quillo/paramtable.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace quillo::tool {

namespace {

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

bool ParseInt(const std::string& S, int32_t& V) {
  if (S.empty()) return false;
  char* End = nullptr;
  long long L = std::strtoll(S.c_str(), &End, 10);
  if (*End || L < std::numeric_limits<int32_t>::min() || L > std::numeric_limits<int32_t>::max())
    return false;
  V = static_cast<int32_t>(L);
  return true;
}

bool ParseDouble(const std::string& S, double& V) {
  if (S.empty()) return false;
  char* End = nullptr;
  V = std::strtod(S.c_str(), &End);
  return !*End;
}

bool ParseBool(const std::string& S, bool& V) {
  const std::string L = Lower(S);
  if (L == "true" || L == "1" || L == "yes" || L == "on") return V = true, true;
  if (L == "false" || L == "0" || L == "no" || L == "off") return V = false, true;
  return false;
}

std::string ColorText(const TRGB& C) {
  char Buf[8];
  std::snprintf(Buf, sizeof(Buf), "#%02X%02X%02X", C.r, C.g, C.b);
  return Buf;
}

bool ParseColor(const std::string& S, TRGB& C) {
  std::string H = S[0] == '#' ? S.substr(1) : S;
  if (H.size() != 6) return false;
  char* End = nullptr;
  unsigned long V = std::strtoul(H.c_str(), &End, 16);
  if (*End) return false;
  C = CreateRGB(static_cast<uint8_t>(V >> 16), static_cast<uint8_t>(V >> 8),
                static_cast<uint8_t>(V));
  return true;
}

template <typename T>
TParamField IntField(const char* Name, T TIOParamsVals::*M) {
  return {Name,
          TFieldKind::Number,
          [M](const TIOParamsVals& P) { return std::to_string(P.*M); },
          [M](TIOParamsVals& P, const std::string& S) {
            int32_t V;
            if (!ParseInt(S, V)) return false;
            P.*M = V;
            return true;
          },
          {},
          [M](const TIOParamsVals& P) { return static_cast<double>(P.*M); }};
}

TParamField BoolField(const char* Name, bool TIOParamsVals::*M) {
  return {Name,
          TFieldKind::Boolean,
          [M](const TIOParamsVals& P) { return std::string(P.*M ? "true" : "false"); },
          [M](TIOParamsVals& P, const std::string& S) { return ParseBool(S, P.*M); },
          {}};
}

TParamField DoubleField(const char* Name, double TIOParamsVals::*M) {
  return {Name,
          TFieldKind::Number,
          [M](const TIOParamsVals& P) {
            char Buf[32];
            std::snprintf(Buf, sizeof(Buf), "%g", P.*M);
            return std::string(Buf);
          },
          [M](TIOParamsVals& P, const std::string& S) { return ParseDouble(S, P.*M); },
          {},
          [M](const TIOParamsVals& P) { return P.*M; }};
}

TParamField StringField(const char* Name, std::string TIOParamsVals::*M) {
  return {Name,
          TFieldKind::Text,
          [M](const TIOParamsVals& P) {
            const std::string& S = P.*M;
            return S.substr(0, S.find('\0'));
          },
          [M](TIOParamsVals& P, const std::string& S) {
            P.*M = S;
            return true;
          },
          {}};
}

TParamField ColorField(const char* Name, TRGB TIOParamsVals::*M) {
  return {Name,
          TFieldKind::Text,
          [M](const TIOParamsVals& P) { return ColorText(P.*M); },
          [M](TIOParamsVals& P, const std::string& S) { return !S.empty() && ParseColor(S, P.*M); },
          {}};
}

// An enumeration stored in one byte; Names are the full names in value order and Prefix the
// part that the short names leave out.
template <typename E>
TParamField EnumField(const char* Name, E TIOParamsVals::*M, const char* Prefix,
                      std::vector<std::string> Names) {
  const std::string Pre = Prefix;
  return {Name, TFieldKind::Text,
          [M, Names](const TIOParamsVals& P) {
            size_t V = static_cast<size_t>(P.*M);
            return V < Names.size() ? Names[V] : std::to_string(V);
          },
          [M, Names, Pre](TIOParamsVals& P, const std::string& S) {
            const std::string L = Lower(S);
            for (size_t I = 0; I < Names.size(); ++I)
              if (Lower(Names[I]) == L || Lower(Names[I].substr(Pre.size())) == L) {
                P.*M = static_cast<E>(I);
                return true;
              }
            return false;
          },
          Names};
}

}  // namespace

const std::vector<TParamField>& ParamFields() {
  static const std::vector<TParamField> Fields = {
      IntField("FileType", &TIOParamsVals::FileType),
      IntField("BitsPerSample", &TIOParamsVals::BitsPerSample),
      IntField("SamplesPerPixel", &TIOParamsVals::SamplesPerPixel),
      IntField("Width", &TIOParamsVals::Width),
      IntField("Height", &TIOParamsVals::Height),
      IntField("DpiX", &TIOParamsVals::DpiX),
      IntField("DpiY", &TIOParamsVals::DpiY),
      EnumField("TiffCompression", &TIOParamsVals::TiffCompression, "ioTIFF_",
                {"ioTIFF_UNCOMPRESSED", "ioTIFF_CCITT1D", "ioTIFF_G3FAX1D", "ioTIFF_G3FAX2D",
                 "ioTIFF_G4FAX", "ioTIFF_LZW", "ioTIFF_OLDJPEG", "ioTIFF_JPEG", "ioTIFF_PACKBITS",
                 "ioTIFF_DEFLATE"}),
      IntField("TiffImageIndex", &TIOParamsVals::TiffImageIndex),
      EnumField("TiffPhotometInterpret", &TIOParamsVals::TiffPhotometInterpret, "ioTIFF_",
                {"ioTIFF_WHITEISZERO", "ioTIFF_BLACKISZERO", "ioTIFF_RGB", "ioTIFF_RGBPALETTE",
                 "ioTIFF_TRANSPMASK", "ioTIFF_CMYK", "ioTIFF_YCBCR", "ioTIFF_CIELAB"}),
      IntField("TiffPlanarConfig", &TIOParamsVals::TiffPlanarConfig),
      IntField("TiffXPos", &TIOParamsVals::TiffXPos),
      IntField("TiffYPos", &TIOParamsVals::TiffYPos),
      StringField("TiffDocumentName", &TIOParamsVals::TiffDocumentName),
      StringField("TiffImageDescription", &TIOParamsVals::TiffImageDescription),
      StringField("TiffPageName", &TIOParamsVals::TiffPageName),
      IntField("TiffPageNumber", &TIOParamsVals::TiffPageNumber),
      IntField("TiffPageCount", &TIOParamsVals::TiffPageCount),
      IntField("TiffImageCount", &TIOParamsVals::TiffImageCount),
      BoolField("TiffBigTIFF", &TIOParamsVals::TiffBigTIFF),
      StringField("GifVersion", &TIOParamsVals::GifVersion),
      IntField("GifImageIndex", &TIOParamsVals::GifImageIndex),
      IntField("GifXPos", &TIOParamsVals::GifXPos),
      IntField("GifYPos", &TIOParamsVals::GifYPos),
      IntField("GifDelayTime", &TIOParamsVals::GifDelayTime),
      BoolField("GifTransparent", &TIOParamsVals::GifTransparent),
      ColorField("GifTranspColor", &TIOParamsVals::GifTranspColor),
      BoolField("GifInterlaced", &TIOParamsVals::GifInterlaced),
      IntField("GifWinWidth", &TIOParamsVals::GifWinWidth),
      IntField("GifWinHeight", &TIOParamsVals::GifWinHeight),
      ColorField("GifBackground", &TIOParamsVals::GifBackground),
      IntField("GifRatio", &TIOParamsVals::GifRatio),
      IntField("GifImageCount", &TIOParamsVals::GifImageCount),
      EnumField("JpegColorSpace", &TIOParamsVals::JpegColorSpace, "ioJPEG_",
                {"ioJPEG_RGB", "ioJPEG_GRAYLEV", "ioJPEG_YCbCr", "ioJPEG_CMYK", "ioJPEG_YCbCrK"}),
      IntField("JpegQuality", &TIOParamsVals::JpegQuality),
      EnumField("JpegDCTMethod", &TIOParamsVals::JpegDCTMethod, "ioJPEG_",
                {"ioJPEG_ISLOW", "ioJPEG_IFAST", "ioJPEG_FLOAT"}),
      BoolField("JpegOptimalHuffman", &TIOParamsVals::JpegOptimalHuffman),
      IntField("JpegSmooth", &TIOParamsVals::JpegSmooth),
      BoolField("JpegProgressive", &TIOParamsVals::JpegProgressive),
      EnumField(
          "JpegScale", &TIOParamsVals::JpegScale, "ioJPEG_",
          {"ioJPEG_AUTOCALC", "ioJPEG_FULLSIZE", "ioJPEG_HALF", "ioJPEG_QUARTER", "ioJPEG_EIGHTH"}),
      IntField("PcxVersion", &TIOParamsVals::PcxVersion),
      EnumField("PcxCompression", &TIOParamsVals::PcxCompression, "ioPCX_",
                {"ioPCX_UNCOMPRESSED", "ioPCX_RLE"}),
      EnumField("BmpVersion", &TIOParamsVals::BmpVersion, "ioBMP_",
                {"ioBMP_BM", "ioBMP_BM3", "ioBMP_BMOS2V1", "ioBMP_BMOS2V2"}),
      EnumField("BmpCompression", &TIOParamsVals::BmpCompression, "ioBMP_",
                {"ioBMP_UNCOMPRESSED", "ioBMP_RLE"}),
      IntField("IcoImageIndex", &TIOParamsVals::IcoImageIndex),
      ColorField("IcoBackground", &TIOParamsVals::IcoBackground),
      IntField("CurImageIndex", &TIOParamsVals::CurImageIndex),
      IntField("CurXHotSpot", &TIOParamsVals::CurXHotSpot),
      IntField("CurYHotSpot", &TIOParamsVals::CurYHotSpot),
      ColorField("CurBackground", &TIOParamsVals::CurBackground),
      BoolField("PngInterlaced", &TIOParamsVals::PngInterlaced),
      ColorField("PngBackground", &TIOParamsVals::PngBackground),
      EnumField("PngFilter", &TIOParamsVals::PngFilter, "ioPNG_FILTER_",
                {"ioPNG_FILTER_NONE", "ioPNG_FILTER_SUB", "ioPNG_FILTER_PAETH"}),
      IntField("PngCompression", &TIOParamsVals::PngCompression),
      IntField("TgaXPos", &TIOParamsVals::TgaXPos),
      IntField("TgaYPos", &TIOParamsVals::TgaYPos),
      BoolField("TgaCompressed", &TIOParamsVals::TgaCompressed),
      StringField("TgaDescriptor", &TIOParamsVals::TgaDescriptor),
      StringField("TgaAuthor", &TIOParamsVals::TgaAuthor),
      DoubleField("TgaDate", &TIOParamsVals::TgaDate),
      StringField("TgaImageName", &TIOParamsVals::TgaImageName),
      ColorField("TgaBackground", &TIOParamsVals::TgaBackground),
      DoubleField("TgaAspectRatio", &TIOParamsVals::TgaAspectRatio),
      DoubleField("TgaGamma", &TIOParamsVals::TgaGamma),
      BoolField("TgaGrayLevel", &TIOParamsVals::TgaGrayLevel),
  };
  return Fields;
}

const TParamField* FindParamField(const std::string& Name) {
  const std::string L = Lower(Name);
  for (const TParamField& F : ParamFields())
    if (Lower(F.Name) == L) return &F;
  return nullptr;
}

const char* FormatParamPrefix(int32_t Type) {
  switch (Type) {
    case ioTIFF:
      return "Tiff";
    case ioGIF:
      return "Gif";
    case ioJPEG:
      return "Jpeg";
    case ioPCX:
      return "Pcx";
    case ioBMP:
      return "Bmp";
    case ioICO:
      return "Ico";
    case ioCUR:
      return "Cur";
    case ioPNG:
      return "Png";
    case ioTGA:
      return "Tga";
    default:
      return nullptr;
  }
}

std::string MarkerName(uint8_t M) {
  char Buf[24];
  if (M >= 0xE0 && M <= 0xEF)
    std::snprintf(Buf, sizeof(Buf), "APP%d (0x%02X)", M - 0xE0, M);
  else if (M == 0xFE)
    std::snprintf(Buf, sizeof(Buf), "COM (0xFE)");
  else
    std::snprintf(Buf, sizeof(Buf), "0x%02X", M);
  return Buf;
}

}  // namespace quillo::tool
