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
  // The version SaveToStream writes; each row of QLParamFields says from which version on a
  // stream holds its field.
  static constexpr int32_t StreamVersion = 7;

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

  // The fields. Their names, kinds, defaults and stream versions are the rows of
  // QLParamFields (quillo/core/paramfields.h), which SetDefaultParams, Assign and the stream
  // walk; a member added here needs its row there. The constructor gives every field its
  // default; Width, Height and the DPI start at 0.
  std::string FileName;
  int32_t FileType{};
  int32_t BitsPerSample{};
  int32_t SamplesPerPixel{};
  int32_t Width{};
  int32_t Height{};
  int32_t DpiX{};
  int32_t DpiY{};
  // The palette as stored; ColorMapCount always equals ColorMap.size() (use SetColorMap).
  std::vector<TRGB> ColorMap;
  int32_t ColorMapCount{};

  TIOTIFFCompression TiffCompression{};
  int32_t TiffImageIndex{};
  TIOTIFFPhotometInterpret TiffPhotometInterpret{};
  int32_t TiffPlanarConfig{};
  int32_t TiffXPos{};
  int32_t TiffYPos{};
  std::string TiffDocumentName;
  std::string TiffImageDescription;
  std::string TiffPageName;
  int32_t TiffPageNumber{};
  int32_t TiffPageCount{};
  TTIFFLZWDecompFunc TiffLZWDecompress{};
  TTIFFLZWCompFunc TiffLZWCompress{};
  int32_t TiffImageCount{};
  // Write the large form of TIFF (64-bit offsets) even when the file would fit the classic
  // one; without it the large form is chosen only for files that would pass 4 GiB.
  bool TiffBigTIFF{};

  std::string GifVersion;
  int32_t GifImageIndex{};
  int32_t GifXPos{};
  int32_t GifYPos{};
  int32_t GifDelayTime{};
  bool GifTransparent{};
  TRGB GifTranspColor{};
  bool GifInterlaced{};
  // What a viewer does with the frame before showing the next (the graphic control
  // extension's disposal method, 0..7): 0 unspecified, 1 leave it, 2 restore the background,
  // 3 restore what was there before. Writing takes values outside 0..7 as 2.
  int32_t GifDisposal{};
  int32_t GifWinWidth{};
  int32_t GifWinHeight{};
  TRGB GifBackground{};
  int32_t GifRatio{};
  TGIFLZWDecompFunc GifLZWDecompress{};
  TGIFLZWCompFunc GifLZWCompress{};
  int32_t GifImageCount{};

  TIOJPEGColorspace JpegColorSpace{};
  int32_t JpegQuality{};
  TIOJPEGDctMethod JpegDCTMethod{};
  bool JpegOptimalHuffman{};
  int32_t JpegSmooth{};
  bool JpegProgressive{};
  TIOJPEGScale JpegScale{};
  TQLMarkerList JpegMarkerList;

  int32_t PcxVersion{};
  TIOPCXCompression PcxCompression{};

  TIOBMPVersion BmpVersion{};
  TIOBMPCompression BmpCompression{};

  int32_t IcoImageIndex{};
  TRGB IcoBackground{};

  int32_t CurImageIndex{};
  int32_t CurXHotSpot{};
  int32_t CurYHotSpot{};
  TRGB CurBackground{};

  bool PngInterlaced{};
  TRGB PngBackground{};
  TIOPNGFilter PngFilter{};
  int32_t PngCompression{};

  int32_t TgaXPos{};
  int32_t TgaYPos{};
  bool TgaCompressed{};
  std::string TgaDescriptor;
  std::string TgaAuthor;
  double TgaDate{};
  std::string TgaImageName;
  TRGB TgaBackground{};
  double TgaAspectRatio{};
  double TgaGamma{};
  bool TgaGrayLevel{};

  TQLIPTCInfoList IPTCInfoList;
  TStringList PxmComments;
};

}  // namespace quillo
