// TIOParamsVals: everything a file format knows about an image besides its pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillo/core/hooks.h"
#include "quillo/core/metadata.h"
#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/classes.h"

namespace quillo {

enum TIOTIFFCompression : uint8_t {
  ioTIFF_UNCOMPRESSED,
  ioTIFF_CCITT1D,
  ioTIFF_G3FAX1D,
  ioTIFF_G3FAX2D,
  ioTIFF_G4FAX,
  ioTIFF_LZW,
  ioTIFF_OLDJPEG,
  ioTIFF_JPEG,
  ioTIFF_PACKBITS,
  ioTIFF_DEFLATE  // added last: stored parameter streams keep the numbers before it
};

enum TIOTIFFPhotometInterpret : uint8_t {
  ioTIFF_WHITEISZERO,
  ioTIFF_BLACKISZERO,
  ioTIFF_RGB,
  ioTIFF_RGBPALETTE,
  ioTIFF_TRANSPMASK,
  ioTIFF_CMYK,
  ioTIFF_YCBCR,
  ioTIFF_CIELAB
};

enum TIOJPEGColorspace : uint8_t {
  ioJPEG_RGB,
  ioJPEG_GRAYLEV,
  ioJPEG_YCbCr,
  ioJPEG_CMYK,
  ioJPEG_YCbCrK
};
enum TIOJPEGDctMethod : uint8_t { ioJPEG_ISLOW, ioJPEG_IFAST, ioJPEG_FLOAT };
enum TIOJPEGScale : uint8_t {
  ioJPEG_AUTOCALC,
  ioJPEG_FULLSIZE,
  ioJPEG_HALF,
  ioJPEG_QUARTER,
  ioJPEG_EIGHTH
};
enum TIOBMPVersion : uint8_t { ioBMP_BM, ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2 };
enum TIOBMPCompression : uint8_t { ioBMP_UNCOMPRESSED, ioBMP_RLE };
enum TIOPCXCompression : uint8_t { ioPCX_UNCOMPRESSED, ioPCX_RLE };
enum TIOPNGFilter : uint8_t { ioPNG_FILTER_NONE, ioPNG_FILTER_SUB, ioPNG_FILTER_PAETH };

// File types.
constexpr int32_t ioUnknown = 0;
constexpr int32_t ioTIFF = 1;
constexpr int32_t ioGIF = 2;
constexpr int32_t ioJPEG = 3;
constexpr int32_t ioPCX = 4;
constexpr int32_t ioBMP = 5;
constexpr int32_t ioICO = 6;
constexpr int32_t ioCUR = 7;
constexpr int32_t ioPNG = 8;
constexpr int32_t ioWMF = 9;
constexpr int32_t ioEMF = 10;
constexpr int32_t ioTGA = 11;
constexpr int32_t ioPXM = 12;

// What a parameters object needs of its owner (the I/O component): the bitmap it works on and
// the resolution of its attached view.
class IQLParamsOwner {
 public:
  virtual ~IQLParamsOwner() = default;
  // The owner's bitmap, or nullptr.
  virtual TBitmap* ParamsOwnerBitmap() = 0;
  // The attached view's DPI; false when no view is attached.
  virtual bool ParamsOwnerViewDpi(int32_t& DpiX, int32_t& DpiY) = 0;
};

// Days since 30 December 1899 of today's local date, time 0.
double QLToday();

class TIOParamsVals : public TObject {
 public:
  // The version SaveToStream writes.
  static constexpr int32_t StreamVersion = 6;

  explicit TIOParamsVals(IQLParamsOwner* AOwner = nullptr);

  // Gives every field its default; Width, Height and the DPI change only when the owner has a
  // bitmap or an attached view.
  void SetDefaultParams();
  // Copies every field but Owner; palette and lists are copied, never shared.
  void Assign(const TIOParamsVals& Source);
  // The versioned binary form. A parameters block must be the last thing in a stream: the
  // comment lines run to the stream's end.
  void SaveToStream(TStream& Stream) const;
  // Reads any version 0..5; rows absent from older versions keep their values. A stream that
  // ends early or holds counts it cannot contain raises EReadError.
  void LoadFromStream(TStream& Stream);
  void SaveToFile(const std::string& FileName) const;
  void LoadFromFile(const std::string& FileName);
  // "Windows Bitmap (BMP) ver.3" and the like.
  std::string GetFileTypeStr() const;

  // Replaces the palette with a copy of Count entries (none for Count <= 0).
  void SetColorMap(const TRGB* Entries, int32_t Count);
  void FreeColorMap();

  IQLParamsOwner* Owner = nullptr;

  std::string FileName;
  int32_t FileType = ioUnknown;
  int32_t BitsPerSample = 8;
  int32_t SamplesPerPixel = 3;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t DpiX = 0;
  int32_t DpiY = 0;
  // The palette as stored; ColorMapCount always equals ColorMap.size() (use SetColorMap).
  std::vector<TRGB> ColorMap;
  int32_t ColorMapCount = 0;

  TIOTIFFCompression TiffCompression = ioTIFF_UNCOMPRESSED;
  int32_t TiffImageIndex = 0;
  TIOTIFFPhotometInterpret TiffPhotometInterpret = ioTIFF_RGB;
  int32_t TiffPlanarConfig = 1;
  int32_t TiffXPos = 0;
  int32_t TiffYPos = 0;
  std::string TiffDocumentName;
  std::string TiffImageDescription;
  std::string TiffPageName;
  int32_t TiffPageNumber = 0;
  int32_t TiffPageCount = 0;
  TTIFFLZWDecompFunc TiffLZWDecompress = nullptr;
  TTIFFLZWCompFunc TiffLZWCompress = nullptr;
  int32_t TiffImageCount = 0;
  // Write the large form of TIFF (64-bit offsets) even when the file would fit the classic
  // one; without it the large form is chosen only for files that would pass 4 GiB.
  bool TiffBigTIFF = false;

  std::string GifVersion = "GIF89a";
  int32_t GifImageIndex = 0;
  int32_t GifXPos = 0;
  int32_t GifYPos = 0;
  int32_t GifDelayTime = 0;
  bool GifTransparent = false;
  TRGB GifTranspColor{};
  bool GifInterlaced = false;
  int32_t GifWinWidth = 0;
  int32_t GifWinHeight = 0;
  TRGB GifBackground{};
  int32_t GifRatio = 0;
  TGIFLZWDecompFunc GifLZWDecompress = nullptr;
  TGIFLZWCompFunc GifLZWCompress = nullptr;
  int32_t GifImageCount = 0;

  TIOJPEGColorspace JpegColorSpace = ioJPEG_YCbCr;
  int32_t JpegQuality = 50;
  TIOJPEGDctMethod JpegDCTMethod = ioJPEG_ISLOW;
  bool JpegOptimalHuffman = false;
  int32_t JpegSmooth = 0;
  bool JpegProgressive = false;
  TIOJPEGScale JpegScale = ioJPEG_FULLSIZE;
  TQLMarkerList JpegMarkerList;

  int32_t PcxVersion = 5;
  TIOPCXCompression PcxCompression = ioPCX_RLE;

  TIOBMPVersion BmpVersion = ioBMP_BM3;
  TIOBMPCompression BmpCompression = ioBMP_UNCOMPRESSED;

  int32_t IcoImageIndex = 0;
  TRGB IcoBackground{255, 255, 255};

  int32_t CurImageIndex = 0;
  int32_t CurXHotSpot = 0;
  int32_t CurYHotSpot = 0;
  TRGB CurBackground{255, 255, 255};

  bool PngInterlaced = false;
  TRGB PngBackground{};
  TIOPNGFilter PngFilter = ioPNG_FILTER_NONE;
  int32_t PngCompression = 5;

  int32_t TgaXPos = 0;
  int32_t TgaYPos = 0;
  bool TgaCompressed = true;
  std::string TgaDescriptor;
  std::string TgaAuthor;
  double TgaDate = 0.0;
  std::string TgaImageName;
  TRGB TgaBackground{};
  double TgaAspectRatio = 1.0;
  double TgaGamma = 2.2;
  bool TgaGrayLevel = false;

  TQLIPTCInfoList IPTCInfoList;
  TStringList PxmComments;
};

}  // namespace quillo
