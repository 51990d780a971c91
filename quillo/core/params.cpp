#include "quillo/core/params.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>

#include "quillo/core/pixels.h"

namespace quillo {

double QLToday() {
  std::time_t Now = std::time(nullptr);
  std::tm Local{};
  localtime_r(&Now, &Local);
  using namespace std::chrono;
  year_month_day Date{year{Local.tm_year + 1900}, month{static_cast<unsigned>(Local.tm_mon + 1)},
                      day{static_cast<unsigned>(Local.tm_mday)}};
  // Day 0 is 30 December 1899, which lies 25569 days before 1 January 1970.
  return static_cast<double>(sys_days(Date).time_since_epoch().count()) + 25569.0;
}

TIOParamsVals::TIOParamsVals(IQLParamsOwner* AOwner) : Owner(AOwner) {
  SetDefaultParams();
}

void TIOParamsVals::SetColorMap(const TRGB* Entries, int32_t Count) {
  if (!Entries || Count <= 0) {
    FreeColorMap();
    return;
  }
  ColorMap.assign(Entries, Entries + Count);
  ColorMapCount = Count;
}

void TIOParamsVals::FreeColorMap() {
  ColorMap.clear();
  ColorMap.shrink_to_fit();
  ColorMapCount = 0;
}

void TIOParamsVals::SetDefaultParams() {
  FreeColorMap();
  FileName.clear();
  FileType = ioUnknown;
  BitsPerSample = 8;
  SamplesPerPixel = 3;
  if (Owner) {
    if (TBitmap* B = Owner->ParamsOwnerBitmap()) {
      Width = B->GetWidth();
      Height = B->GetHeight();
    }
    int32_t X, Y;
    if (Owner->ParamsOwnerViewDpi(X, Y)) {
      DpiX = X;
      DpiY = Y;
    }
  }

  TiffCompression = ioTIFF_UNCOMPRESSED;
  TiffImageIndex = 0;
  TiffPhotometInterpret = ioTIFF_RGB;
  TiffPlanarConfig = 1;
  TiffXPos = 0;
  TiffYPos = 0;
  TiffDocumentName.clear();
  TiffImageDescription.clear();
  TiffPageName.clear();
  TiffPageNumber = 0;
  TiffPageCount = 0;
  TiffLZWDecompress = DefTIFF_LZWDECOMPFUNC;
  TiffLZWCompress = DefTIFF_LZWCOMPFUNC;
  TiffImageCount = 0;
  TiffBigTIFF = false;

  GifVersion = "GIF89a";
  GifImageIndex = 0;
  GifXPos = 0;
  GifYPos = 0;
  GifDelayTime = 0;
  GifTransparent = false;
  GifTranspColor = CreateRGB(0, 0, 0);
  GifInterlaced = false;
  GifWinWidth = 0;
  GifWinHeight = 0;
  GifBackground = CreateRGB(0, 0, 0);
  GifRatio = 0;
  GifLZWDecompress = DefGIF_LZWDECOMPFUNC;
  GifLZWCompress = DefGIF_LZWCOMPFUNC;
  GifImageCount = 0;

  JpegColorSpace = ioJPEG_YCbCr;
  JpegQuality = 50;
  JpegDCTMethod = ioJPEG_ISLOW;
  JpegOptimalHuffman = false;
  JpegSmooth = 0;
  JpegProgressive = false;
  JpegScale = ioJPEG_FULLSIZE;
  JpegMarkerList.Clear();

  PcxVersion = 5;
  PcxCompression = ioPCX_RLE;

  BmpVersion = ioBMP_BM3;
  BmpCompression = ioBMP_UNCOMPRESSED;

  IcoImageIndex = 0;
  IcoBackground = CreateRGB(255, 255, 255);

  CurImageIndex = 0;
  CurXHotSpot = 0;
  CurYHotSpot = 0;
  CurBackground = CreateRGB(255, 255, 255);

  PngInterlaced = false;
  PngBackground = CreateRGB(0, 0, 0);
  PngFilter = ioPNG_FILTER_NONE;
  PngCompression = 5;

  TgaXPos = 0;
  TgaYPos = 0;
  TgaCompressed = true;
  TgaDescriptor.clear();
  TgaAuthor.clear();
  TgaDate = QLToday();
  TgaImageName.clear();
  TgaBackground = CreateRGB(0, 0, 0);
  TgaAspectRatio = 1.0;
  TgaGamma = 2.2;
  TgaGrayLevel = false;

  IPTCInfoList.Clear();
  PxmComments.Clear();
}

void TIOParamsVals::Assign(const TIOParamsVals& S) {
  if (&S == this) return;
  FileName = S.FileName;
  FileType = S.FileType;
  BitsPerSample = S.BitsPerSample;
  SamplesPerPixel = S.SamplesPerPixel;
  Width = S.Width;
  Height = S.Height;
  DpiX = S.DpiX;
  DpiY = S.DpiY;
  SetColorMap(S.ColorMap.data(),
              std::min<int32_t>(S.ColorMapCount, static_cast<int32_t>(S.ColorMap.size())));

  TiffCompression = S.TiffCompression;
  TiffImageIndex = S.TiffImageIndex;
  TiffPhotometInterpret = S.TiffPhotometInterpret;
  TiffPlanarConfig = S.TiffPlanarConfig;
  TiffXPos = S.TiffXPos;
  TiffYPos = S.TiffYPos;
  TiffDocumentName = S.TiffDocumentName;
  TiffImageDescription = S.TiffImageDescription;
  TiffPageName = S.TiffPageName;
  TiffPageNumber = S.TiffPageNumber;
  TiffPageCount = S.TiffPageCount;
  TiffLZWDecompress = S.TiffLZWDecompress;
  TiffLZWCompress = S.TiffLZWCompress;
  TiffImageCount = S.TiffImageCount;
  TiffBigTIFF = S.TiffBigTIFF;

  GifVersion = S.GifVersion;
  GifImageIndex = S.GifImageIndex;
  GifXPos = S.GifXPos;
  GifYPos = S.GifYPos;
  GifDelayTime = S.GifDelayTime;
  GifTransparent = S.GifTransparent;
  GifTranspColor = S.GifTranspColor;
  GifInterlaced = S.GifInterlaced;
  GifWinWidth = S.GifWinWidth;
  GifWinHeight = S.GifWinHeight;
  GifBackground = S.GifBackground;
  GifRatio = S.GifRatio;
  GifLZWDecompress = S.GifLZWDecompress;
  GifLZWCompress = S.GifLZWCompress;
  GifImageCount = S.GifImageCount;

  JpegColorSpace = S.JpegColorSpace;
  JpegQuality = S.JpegQuality;
  JpegDCTMethod = S.JpegDCTMethod;
  JpegOptimalHuffman = S.JpegOptimalHuffman;
  JpegSmooth = S.JpegSmooth;
  JpegProgressive = S.JpegProgressive;
  JpegScale = S.JpegScale;
  JpegMarkerList.Assign(S.JpegMarkerList);

  PcxVersion = S.PcxVersion;
  PcxCompression = S.PcxCompression;
  BmpVersion = S.BmpVersion;
  BmpCompression = S.BmpCompression;
  IcoImageIndex = S.IcoImageIndex;
  IcoBackground = S.IcoBackground;
  CurImageIndex = S.CurImageIndex;
  CurXHotSpot = S.CurXHotSpot;
  CurYHotSpot = S.CurYHotSpot;
  CurBackground = S.CurBackground;

  PngInterlaced = S.PngInterlaced;
  PngBackground = S.PngBackground;
  PngFilter = S.PngFilter;
  PngCompression = S.PngCompression;

  TgaXPos = S.TgaXPos;
  TgaYPos = S.TgaYPos;
  TgaCompressed = S.TgaCompressed;
  TgaDescriptor = S.TgaDescriptor;
  TgaAuthor = S.TgaAuthor;
  TgaDate = S.TgaDate;
  TgaImageName = S.TgaImageName;
  TgaBackground = S.TgaBackground;
  TgaAspectRatio = S.TgaAspectRatio;
  TgaGamma = S.TgaGamma;
  TgaGrayLevel = S.TgaGrayLevel;

  IPTCInfoList.Assign(S.IPTCInfoList);
  PxmComments.Assign(S.PxmComments);
}

namespace {
void WriteRGB(TStream& S, const TRGB& C) {
  S.WriteBuffer(&C, 3);
}
TRGB ReadRGB(TStream& S) {
  TRGB C;
  S.ReadBuffer(&C, 3);
  return C;
}
void WriteBool(TStream& S, bool B) {
  QLWriteByte(S, B ? 1 : 0);
}
bool ReadBool(TStream& S) {
  return QLReadByte(S) != 0;
}
template <typename E>
E ReadEnum(TStream& S) {
  return static_cast<E>(QLReadByte(S));
}
}  // namespace

void TIOParamsVals::SaveToStream(TStream& S) const {
  QLWriteIntLE(S, StreamVersion);
  SaveStringToStream(S, FileName);
  QLWriteIntLE(S, FileType);
  for (int32_t V : {BitsPerSample, SamplesPerPixel, Width, Height, DpiX, DpiY}) QLWriteIntLE(S, V);
  int32_t Count = std::min<int32_t>(ColorMapCount, static_cast<int32_t>(ColorMap.size()));
  QLWriteIntLE(S, Count);
  if (Count > 0) S.WriteBuffer(ColorMap.data(), static_cast<int64_t>(Count) * 3);

  QLWriteByte(S, TiffCompression);
  QLWriteIntLE(S, TiffImageIndex);
  QLWriteByte(S, TiffPhotometInterpret);
  QLWriteIntLE(S, TiffPlanarConfig);
  QLWriteIntLE(S, TiffXPos);
  QLWriteIntLE(S, TiffYPos);
  SaveStringToStream(S, TiffDocumentName);
  SaveStringToStream(S, TiffImageDescription);
  SaveStringToStream(S, TiffPageName);
  QLWriteIntLE(S, TiffPageNumber);
  QLWriteIntLE(S, TiffPageCount);
  QLWriteIntLE(S, TiffImageCount);
  WriteBool(S, TiffBigTIFF);

  SaveStringToStream(S, GifVersion);
  for (int32_t V : {GifImageIndex, GifXPos, GifYPos, GifDelayTime}) QLWriteIntLE(S, V);
  WriteBool(S, GifTransparent);
  WriteRGB(S, GifTranspColor);
  WriteBool(S, GifInterlaced);
  QLWriteIntLE(S, GifWinWidth);
  QLWriteIntLE(S, GifWinHeight);
  WriteRGB(S, GifBackground);
  QLWriteIntLE(S, GifRatio);
  QLWriteIntLE(S, GifImageCount);

  QLWriteByte(S, JpegColorSpace);
  QLWriteIntLE(S, JpegQuality);
  QLWriteByte(S, JpegDCTMethod);
  WriteBool(S, JpegOptimalHuffman);
  QLWriteIntLE(S, JpegSmooth);
  WriteBool(S, JpegProgressive);
  QLWriteByte(S, JpegScale);
  JpegMarkerList.SaveToStream(S);

  QLWriteIntLE(S, PcxVersion);
  QLWriteByte(S, PcxCompression);
  QLWriteByte(S, BmpVersion);
  QLWriteByte(S, BmpCompression);
  QLWriteIntLE(S, IcoImageIndex);
  WriteRGB(S, IcoBackground);
  QLWriteIntLE(S, CurImageIndex);
  QLWriteIntLE(S, CurXHotSpot);
  QLWriteIntLE(S, CurYHotSpot);
  WriteRGB(S, CurBackground);

  WriteBool(S, PngInterlaced);
  WriteRGB(S, PngBackground);
  QLWriteByte(S, PngFilter);
  QLWriteIntLE(S, PngCompression);

  QLWriteIntLE(S, TgaXPos);
  QLWriteIntLE(S, TgaYPos);
  WriteBool(S, TgaCompressed);
  SaveStringToStream(S, TgaDescriptor);
  SaveStringToStream(S, TgaAuthor);
  QLWriteDoubleLE(S, TgaDate);
  SaveStringToStream(S, TgaImageName);
  WriteRGB(S, TgaBackground);
  QLWriteDoubleLE(S, TgaAspectRatio);
  QLWriteDoubleLE(S, TgaGamma);
  WriteBool(S, TgaGrayLevel);

  IPTCInfoList.SaveToStream(S);
  PxmComments.SaveToStream(S);
}

void TIOParamsVals::LoadFromStream(TStream& S) {
  const int32_t Ver = QLReadIntLE(S);
  LoadStringFromStream(S, FileName);
  FileType = Ver <= 1 ? QLReadByte(S) : QLReadIntLE(S);
  BitsPerSample = QLReadIntLE(S);
  SamplesPerPixel = QLReadIntLE(S);
  Width = QLReadIntLE(S);
  Height = QLReadIntLE(S);
  DpiX = QLReadIntLE(S);
  DpiY = QLReadIntLE(S);
  FreeColorMap();
  int32_t Count = QLReadIntLE(S);
  if (Count > 0) {
    if (static_cast<int64_t>(Count) * 3 > S.Remaining())
      throw EReadError("Palette beyond the stream");
    ColorMap.resize(static_cast<size_t>(Count));
    S.ReadBuffer(ColorMap.data(), static_cast<int64_t>(Count) * 3);
    ColorMapCount = Count;
  }

  TiffCompression = ReadEnum<TIOTIFFCompression>(S);
  TiffImageIndex = QLReadIntLE(S);
  TiffPhotometInterpret = ReadEnum<TIOTIFFPhotometInterpret>(S);
  TiffPlanarConfig = QLReadIntLE(S);
  TiffXPos = QLReadIntLE(S);
  TiffYPos = QLReadIntLE(S);
  LoadStringFromStream(S, TiffDocumentName);
  LoadStringFromStream(S, TiffImageDescription);
  LoadStringFromStream(S, TiffPageName);
  TiffPageNumber = QLReadIntLE(S);
  TiffPageCount = QLReadIntLE(S);
  if (Ver >= 4) TiffImageCount = QLReadIntLE(S);
  if (Ver >= 6) TiffBigTIFF = ReadBool(S);

  LoadStringFromStream(S, GifVersion);
  GifImageIndex = QLReadIntLE(S);
  GifXPos = QLReadIntLE(S);
  GifYPos = QLReadIntLE(S);
  GifDelayTime = QLReadIntLE(S);
  GifTransparent = ReadBool(S);
  GifTranspColor = ReadRGB(S);
  GifInterlaced = ReadBool(S);
  GifWinWidth = QLReadIntLE(S);
  GifWinHeight = QLReadIntLE(S);
  GifBackground = ReadRGB(S);
  GifRatio = QLReadIntLE(S);
  if (Ver >= 4) GifImageCount = QLReadIntLE(S);

  JpegColorSpace = ReadEnum<TIOJPEGColorspace>(S);
  JpegQuality = QLReadIntLE(S);
  JpegDCTMethod = ReadEnum<TIOJPEGDctMethod>(S);
  JpegOptimalHuffman = ReadBool(S);
  JpegSmooth = QLReadIntLE(S);
  JpegProgressive = ReadBool(S);
  if (Ver >= 1) JpegScale = ReadEnum<TIOJPEGScale>(S);
  if (Ver >= 4) JpegMarkerList.LoadFromStream(S);

  PcxVersion = QLReadIntLE(S);
  PcxCompression = ReadEnum<TIOPCXCompression>(S);
  BmpVersion = ReadEnum<TIOBMPVersion>(S);
  BmpCompression = ReadEnum<TIOBMPCompression>(S);
  if (Ver >= 1) {
    IcoImageIndex = QLReadIntLE(S);
  } else {
    QLReadIntLE(S);
    QLReadIntLE(S);
    IcoImageIndex = 0;
  }
  if (Ver >= 3) IcoBackground = ReadRGB(S);
  if (Ver >= 1) {
    CurImageIndex = QLReadIntLE(S);
    CurXHotSpot = QLReadIntLE(S);
    CurYHotSpot = QLReadIntLE(S);
  } else {
    QLReadIntLE(S);
    QLReadIntLE(S);
    CurImageIndex = 0;
    CurXHotSpot = 0;
    CurYHotSpot = 0;
  }
  if (Ver >= 3) CurBackground = ReadRGB(S);

  PngInterlaced = ReadBool(S);
  PngBackground = ReadRGB(S);
  PngFilter = ReadEnum<TIOPNGFilter>(S);
  PngCompression = QLReadIntLE(S);

  if (Ver >= 3) {
    TgaXPos = QLReadIntLE(S);
    TgaYPos = QLReadIntLE(S);
    TgaCompressed = ReadBool(S);
    LoadStringFromStream(S, TgaDescriptor);
    LoadStringFromStream(S, TgaAuthor);
    TgaDate = QLReadDoubleLE(S);
    LoadStringFromStream(S, TgaImageName);
    TgaBackground = ReadRGB(S);
    TgaAspectRatio = QLReadDoubleLE(S);
    TgaGamma = QLReadDoubleLE(S);
    TgaGrayLevel = ReadBool(S);
  }
  if (Ver >= 4) IPTCInfoList.LoadFromStream(S);
  if (Ver >= 5) {
    // Comment lines, each ended by CR LF, to the end of the stream.
    PxmComments.LoadFromStream(S);
  }
}

void TIOParamsVals::SaveToFile(const std::string& Name) const {
  TFileStream F(Name, fmCreate);
  SaveToStream(F);
  F.Flush();
}

void TIOParamsVals::LoadFromFile(const std::string& Name) {
  TFileStream F(Name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(F);
}


}  // namespace quillo
