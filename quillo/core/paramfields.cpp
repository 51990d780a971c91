#include "quillo/core/paramfields.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "quillo/core/pixels.h"

namespace quillo {

namespace {

using P = TIOParamsVals;
using K = TQLParamKind;

// A row under construction: Int("Name", &P::Member, Default) and the like, adjusted by Since
// and Reset.
struct TRow {
  TQLParamField F;
  // The field is in streams from version V on; older ones hold what B says.
  TRow Since(int32_t V, TQLParamBefore B = TQLParamBefore::Nothing) const {
    TRow R = *this;
    R.F.Since = V;
    R.F.Before = B;
    return R;
  }
  TRow Reset(TQLParamReset How) const {
    TRow R = *this;
    R.F.Reset = How;
    return R;
  }
  // Rows convert implicitly, so the table is a plain list of them.
  operator TQLParamField() const { return F; }
};

TRow Int(const char* Name, int32_t P::*M, int32_t Def = 0) {
  return {{.Name = Name, .Kind = K::Int, .Member = M, .DefNumber = static_cast<double>(Def)}};
}
TRow Bool(const char* Name, bool P::*M, bool Def = false) {
  return {{.Name = Name, .Kind = K::Bool, .Member = M, .DefNumber = Def ? 1.0 : 0.0}};
}
TRow Double(const char* Name, double P::*M, double Def) {
  return {{.Name = Name, .Kind = K::Double, .Member = M, .DefNumber = Def}};
}
TRow String(const char* Name, std::string P::*M, const char* Def = "") {
  return {{.Name = Name, .Kind = K::String, .Member = M, .DefText = Def}};
}
TRow Color(const char* Name, TRGB P::*M, TRGB Def = {}) {
  return {{.Name = Name, .Kind = K::Color, .Member = M, .DefColor = Def}};
}
template <auto M>
TRow Enum(const char* Name, std::span<const char* const> Names, const char* Prefix, uint8_t Def) {
  using E = std::remove_cvref_t<decltype(std::declval<P&>().*M)>;
  static_assert(sizeof(E) == 1, "enumerations are stored as one byte");
  TQLParamEnum Access{[](const P& X) { return static_cast<uint8_t>(X.*M); },
                      [](P& X, uint8_t V) { X.*M = static_cast<E>(V); }};
  return {{.Name = Name,
           .Kind = K::Enum,
           .Member = Access,
           .DefNumber = static_cast<double>(Def),
           .EnumNames = Names,
           .EnumPrefix = Prefix}};
}
template <typename T>
TRow Other(const char* Name, K Kind, T P::*M) {
  return {{.Name = Name, .Kind = Kind, .Member = M}};
}
template <typename T>
TRow Hook(const char* Name, K Kind, T P::*M) {
  return Other(Name, Kind, M).Since(QLParamNotStored);
}

// Value names in the order of the enumerations in params.h.
constexpr const char* kTiffCompression[] = {
    "ioTIFF_UNCOMPRESSED", "ioTIFF_CCITT1D", "ioTIFF_G3FAX1D", "ioTIFF_G3FAX2D",  "ioTIFF_G4FAX",
    "ioTIFF_LZW",          "ioTIFF_OLDJPEG", "ioTIFF_JPEG",    "ioTIFF_PACKBITS", "ioTIFF_DEFLATE"};
constexpr const char* kTiffPhotomet[] = {"ioTIFF_WHITEISZERO", "ioTIFF_BLACKISZERO", "ioTIFF_RGB",
                                         "ioTIFF_RGBPALETTE",  "ioTIFF_TRANSPMASK",  "ioTIFF_CMYK",
                                         "ioTIFF_YCBCR",       "ioTIFF_CIELAB"};
constexpr const char* kJpegColorSpace[] = {"ioJPEG_RGB", "ioJPEG_GRAYLEV", "ioJPEG_YCbCr",
                                           "ioJPEG_CMYK", "ioJPEG_YCbCrK"};
constexpr const char* kJpegDctMethod[] = {"ioJPEG_ISLOW", "ioJPEG_IFAST", "ioJPEG_FLOAT"};
constexpr const char* kJpegScale[] = {"ioJPEG_AUTOCALC", "ioJPEG_FULLSIZE", "ioJPEG_HALF",
                                      "ioJPEG_QUARTER", "ioJPEG_EIGHTH"};
constexpr const char* kPcxCompression[] = {"ioPCX_UNCOMPRESSED", "ioPCX_RLE"};
constexpr const char* kBmpVersion[] = {"ioBMP_BM", "ioBMP_BM3", "ioBMP_BMOS2V1", "ioBMP_BMOS2V2"};
constexpr const char* kBmpCompression[] = {"ioBMP_UNCOMPRESSED", "ioBMP_RLE"};
constexpr const char* kPngFilter[] = {"ioPNG_FILTER_NONE", "ioPNG_FILTER_SUB",
                                      "ioPNG_FILTER_PAETH"};

const TRGB kWhite = CreateRGB(255, 255, 255);

}  // namespace

std::span<const TQLParamField> QLParamFields() {
  using B = TQLParamBefore;
  // The order of the stored rows is the order of the stream, fixed by stored files. Version 0
  // stored FileType as a byte; its ICO and CUR records were two integers each, read and
  // dropped, and the fields that replaced them take their defaults.
  static const std::vector<TQLParamField> Fields = {
      String("FileName", &P::FileName),
      Int("FileType", &P::FileType, ioUnknown).Since(2, B::Byte),
      Int("BitsPerSample", &P::BitsPerSample, 8),
      Int("SamplesPerPixel", &P::SamplesPerPixel, 3),
      Int("Width", &P::Width).Reset(TQLParamReset::FromOwner),
      Int("Height", &P::Height).Reset(TQLParamReset::FromOwner),
      Int("DpiX", &P::DpiX).Reset(TQLParamReset::FromOwner),
      Int("DpiY", &P::DpiY).Reset(TQLParamReset::FromOwner),
      Other("ColorMap", K::Palette, &P::ColorMap),

      Enum<&P::TiffCompression>("TiffCompression", kTiffCompression, "ioTIFF_",
                                ioTIFF_UNCOMPRESSED),
      Int("TiffImageIndex", &P::TiffImageIndex),
      Enum<&P::TiffPhotometInterpret>("TiffPhotometInterpret", kTiffPhotomet, "ioTIFF_",
                                      ioTIFF_RGB),
      Int("TiffPlanarConfig", &P::TiffPlanarConfig, 1),
      Int("TiffXPos", &P::TiffXPos),
      Int("TiffYPos", &P::TiffYPos),
      String("TiffDocumentName", &P::TiffDocumentName),
      String("TiffImageDescription", &P::TiffImageDescription),
      String("TiffPageName", &P::TiffPageName),
      Int("TiffPageNumber", &P::TiffPageNumber),
      Int("TiffPageCount", &P::TiffPageCount),
      Int("TiffImageCount", &P::TiffImageCount).Since(4),
      Bool("TiffBigTIFF", &P::TiffBigTIFF).Since(6),
      Hook("TiffLZWDecompress", K::TiffLZWDecompress, &P::TiffLZWDecompress),
      Hook("TiffLZWCompress", K::TiffLZWCompress, &P::TiffLZWCompress),

      String("GifVersion", &P::GifVersion, "GIF89a"),
      Int("GifImageIndex", &P::GifImageIndex),
      Int("GifXPos", &P::GifXPos),
      Int("GifYPos", &P::GifYPos),
      Int("GifDelayTime", &P::GifDelayTime),
      Bool("GifTransparent", &P::GifTransparent),
      Color("GifTranspColor", &P::GifTranspColor),
      Bool("GifInterlaced", &P::GifInterlaced),
      Int("GifWinWidth", &P::GifWinWidth),
      Int("GifWinHeight", &P::GifWinHeight),
      Color("GifBackground", &P::GifBackground),
      Int("GifRatio", &P::GifRatio),
      Int("GifImageCount", &P::GifImageCount).Since(4),
      Int("GifDisposal", &P::GifDisposal, 2).Since(7),
      Hook("GifLZWDecompress", K::GifLZWDecompress, &P::GifLZWDecompress),
      Hook("GifLZWCompress", K::GifLZWCompress, &P::GifLZWCompress),

      Enum<&P::JpegColorSpace>("JpegColorSpace", kJpegColorSpace, "ioJPEG_", ioJPEG_YCbCr),
      Int("JpegQuality", &P::JpegQuality, 50),
      Enum<&P::JpegDCTMethod>("JpegDCTMethod", kJpegDctMethod, "ioJPEG_", ioJPEG_ISLOW),
      Bool("JpegOptimalHuffman", &P::JpegOptimalHuffman),
      Int("JpegSmooth", &P::JpegSmooth),
      Bool("JpegProgressive", &P::JpegProgressive),
      Enum<&P::JpegScale>("JpegScale", kJpegScale, "ioJPEG_", ioJPEG_FULLSIZE).Since(1),
      Other("JpegMarkerList", K::Markers, &P::JpegMarkerList).Since(4),

      Int("PcxVersion", &P::PcxVersion, 5),
      Enum<&P::PcxCompression>("PcxCompression", kPcxCompression, "ioPCX_", ioPCX_RLE),

      Enum<&P::BmpVersion>("BmpVersion", kBmpVersion, "ioBMP_", ioBMP_BM3),
      Enum<&P::BmpCompression>("BmpCompression", kBmpCompression, "ioBMP_", ioBMP_UNCOMPRESSED),

      Int("IcoImageIndex", &P::IcoImageIndex).Since(1, B::SkipTwoInts),
      Color("IcoBackground", &P::IcoBackground, kWhite).Since(3),

      Int("CurImageIndex", &P::CurImageIndex).Since(1, B::SkipTwoInts),
      Int("CurXHotSpot", &P::CurXHotSpot).Since(1, B::Reset),
      Int("CurYHotSpot", &P::CurYHotSpot).Since(1, B::Reset),
      Color("CurBackground", &P::CurBackground, kWhite).Since(3),

      Bool("PngInterlaced", &P::PngInterlaced),
      Color("PngBackground", &P::PngBackground),
      Enum<&P::PngFilter>("PngFilter", kPngFilter, "ioPNG_FILTER_", ioPNG_FILTER_NONE),
      Int("PngCompression", &P::PngCompression, 5),

      Int("TgaXPos", &P::TgaXPos).Since(3),
      Int("TgaYPos", &P::TgaYPos).Since(3),
      Bool("TgaCompressed", &P::TgaCompressed, true).Since(3),
      String("TgaDescriptor", &P::TgaDescriptor).Since(3),
      String("TgaAuthor", &P::TgaAuthor).Since(3),
      Double("TgaDate", &P::TgaDate, 0.0).Since(3).Reset(TQLParamReset::Today),
      String("TgaImageName", &P::TgaImageName).Since(3),
      Color("TgaBackground", &P::TgaBackground).Since(3),
      Double("TgaAspectRatio", &P::TgaAspectRatio, 1.0).Since(3),
      Double("TgaGamma", &P::TgaGamma, 2.2).Since(3),
      Bool("TgaGrayLevel", &P::TgaGrayLevel).Since(3),

      Other("IPTCInfoList", K::IPTC, &P::IPTCInfoList).Since(4),
      // Must stay last: the comment lines run to the end of the stream.
      Other("PxmComments", K::Comments, &P::PxmComments).Since(5),
  };
  return Fields;
}

void QLResetParamField(const TQLParamField& F, TIOParamsVals& X) {
  if (F.Reset == TQLParamReset::FromOwner) return;
  switch (F.Kind) {
    case K::Int:
      QLParamRef<int32_t>(F, X) = static_cast<int32_t>(F.DefNumber);
      break;
    case K::Bool:
      QLParamRef<bool>(F, X) = F.DefNumber != 0;
      break;
    case K::Double:
      QLParamRef<double>(F, X) = F.Reset == TQLParamReset::Today ? QLToday() : F.DefNumber;
      break;
    case K::String:
      QLParamRef<std::string>(F, X) = F.DefText;
      break;
    case K::Enum:
      std::get<TQLParamEnum>(F.Member).Set(X, static_cast<uint8_t>(F.DefNumber));
      break;
    case K::Color:
      QLParamRef<TRGB>(F, X) = F.DefColor;
      break;
    case K::Palette:
      X.FreeColorMap();
      break;
    case K::Markers:
      QLParamRef<TQLMarkerList>(F, X).Clear();
      break;
    case K::IPTC:
      QLParamRef<TQLIPTCInfoList>(F, X).Clear();
      break;
    case K::Comments:
      QLParamRef<TStringList>(F, X).Clear();
      break;
    case K::GifLZWDecompress:
      QLParamRef<TGIFLZWDecompFunc>(F, X) = DefGIF_LZWDECOMPFUNC;
      break;
    case K::GifLZWCompress:
      QLParamRef<TGIFLZWCompFunc>(F, X) = DefGIF_LZWCOMPFUNC;
      break;
    case K::TiffLZWDecompress:
      QLParamRef<TTIFFLZWDecompFunc>(F, X) = DefTIFF_LZWDECOMPFUNC;
      break;
    case K::TiffLZWCompress:
      QLParamRef<TTIFFLZWCompFunc>(F, X) = DefTIFF_LZWCOMPFUNC;
      break;
  }
}

namespace {
template <typename T>
void CopyValue(const TQLParamField& F, TIOParamsVals& D, const TIOParamsVals& S) {
  QLParamRef<T>(F, D) = QLParamRef<T>(F, S);
}
}  // namespace

void QLCopyParamField(const TQLParamField& F, TIOParamsVals& D, const TIOParamsVals& S) {
  switch (F.Kind) {
    case K::Int:
      return CopyValue<int32_t>(F, D, S);
    case K::Bool:
      return CopyValue<bool>(F, D, S);
    case K::Double:
      return CopyValue<double>(F, D, S);
    case K::String:
      return CopyValue<std::string>(F, D, S);
    case K::Enum: {
      const TQLParamEnum& E = std::get<TQLParamEnum>(F.Member);
      return E.Set(D, E.Get(S));
    }
    case K::Color:
      return CopyValue<TRGB>(F, D, S);
    case K::Palette:
      return D.SetColorMap(
          S.ColorMap.data(),
          std::min<int32_t>(S.ColorMapCount, static_cast<int32_t>(S.ColorMap.size())));
    case K::Markers:
      return QLParamRef<TQLMarkerList>(F, D).Assign(QLParamRef<TQLMarkerList>(F, S));
    case K::IPTC:
      return QLParamRef<TQLIPTCInfoList>(F, D).Assign(QLParamRef<TQLIPTCInfoList>(F, S));
    case K::Comments:
      return QLParamRef<TStringList>(F, D).Assign(QLParamRef<TStringList>(F, S));
    case K::GifLZWDecompress:
      return CopyValue<TGIFLZWDecompFunc>(F, D, S);
    case K::GifLZWCompress:
      return CopyValue<TGIFLZWCompFunc>(F, D, S);
    case K::TiffLZWDecompress:
      return CopyValue<TTIFFLZWDecompFunc>(F, D, S);
    case K::TiffLZWCompress:
      return CopyValue<TTIFFLZWCompFunc>(F, D, S);
  }
}

void QLSaveParamField(const TQLParamField& F, TStream& S, const TIOParamsVals& X) {
  switch (F.Kind) {
    case K::Int:
      return QLWriteIntLE(S, QLParamRef<int32_t>(F, X));
    case K::Bool:
      return QLWriteByte(S, QLParamRef<bool>(F, X) ? 1 : 0);
    case K::Double:
      return QLWriteDoubleLE(S, QLParamRef<double>(F, X));
    case K::String:
      return SaveStringToStream(S, QLParamRef<std::string>(F, X));
    case K::Enum:
      return QLWriteByte(S, std::get<TQLParamEnum>(F.Member).Get(X));
    case K::Color:
      return S.WriteBuffer(&QLParamRef<TRGB>(F, X), 3);
    case K::Palette: {
      const int32_t Count =
          std::min<int32_t>(X.ColorMapCount, static_cast<int32_t>(X.ColorMap.size()));
      QLWriteIntLE(S, Count);
      if (Count > 0) S.WriteBuffer(X.ColorMap.data(), static_cast<int64_t>(Count) * 3);
      return;
    }
    case K::Markers:
      return QLParamRef<TQLMarkerList>(F, X).SaveToStream(S);
    case K::IPTC:
      return QLParamRef<TQLIPTCInfoList>(F, X).SaveToStream(S);
    case K::Comments:
      return QLParamRef<TStringList>(F, X).SaveToStream(S);
    case K::GifLZWDecompress:
    case K::GifLZWCompress:
    case K::TiffLZWDecompress:
    case K::TiffLZWCompress:
      return;
  }
}

void QLLoadParamField(const TQLParamField& F, TStream& S, TIOParamsVals& X, int32_t Version) {
  if (!F.Stored()) return;
  if (Version < F.Since) {
    switch (F.Before) {
      case TQLParamBefore::Nothing:
        return;
      case TQLParamBefore::Byte:
        QLParamRef<int32_t>(F, X) = QLReadByte(S);
        return;
      case TQLParamBefore::SkipTwoInts:
        QLReadIntLE(S);
        QLReadIntLE(S);
        [[fallthrough]];
      case TQLParamBefore::Reset:
        QLResetParamField(F, X);
        return;
    }
    return;
  }
  switch (F.Kind) {
    case K::Int:
      QLParamRef<int32_t>(F, X) = QLReadIntLE(S);
      return;
    case K::Bool:
      QLParamRef<bool>(F, X) = QLReadByte(S) != 0;
      return;
    case K::Double:
      QLParamRef<double>(F, X) = QLReadDoubleLE(S);
      return;
    case K::String:
      return LoadStringFromStream(S, QLParamRef<std::string>(F, X));
    case K::Enum:
      return std::get<TQLParamEnum>(F.Member).Set(X, QLReadByte(S));
    case K::Color: {
      TRGB C;
      S.ReadBuffer(&C, 3);
      QLParamRef<TRGB>(F, X) = C;
      return;
    }
    case K::Palette: {
      X.FreeColorMap();
      const int32_t Count = QLReadIntLE(S);
      if (Count <= 0) return;
      if (static_cast<int64_t>(Count) * 3 > S.Remaining())
        throw EReadError("Palette beyond the stream");
      X.ColorMap.resize(static_cast<size_t>(Count));
      S.ReadBuffer(X.ColorMap.data(), static_cast<int64_t>(Count) * 3);
      X.ColorMapCount = Count;
      return;
    }
    case K::Markers:
      return QLParamRef<TQLMarkerList>(F, X).LoadFromStream(S);
    case K::IPTC:
      return QLParamRef<TQLIPTCInfoList>(F, X).LoadFromStream(S);
    case K::Comments:
      return QLParamRef<TStringList>(F, X).LoadFromStream(S);
    case K::GifLZWDecompress:
    case K::GifLZWCompress:
    case K::TiffLZWDecompress:
    case K::TiffLZWCompress:
      return;
  }
}

}  // namespace quillo
