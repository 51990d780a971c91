#include "quillo/io/fileformats.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "quillo/core/params.h"
#include "quillo/io/detail/formats_glue.h"

namespace quillo {

namespace {
constexpr size_t kShortStringMax = 80;

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

std::vector<std::string> SplitExtensions(const std::string& Extensions) {
  std::vector<std::string> Parts;
  size_t Start = 0;
  while (true) {
    size_t End = Extensions.find(';', Start);
    Parts.push_back(Extensions.substr(Start, End == std::string::npos ? End : End - Start));
    if (End == std::string::npos) break;
    Start = End + 1;
  }
  return Parts;
}

std::vector<std::unique_ptr<TQLFileFormatInfo>> BuiltInRows() {
  using namespace iodetail;
  struct Row {
    int32_t Type;
    const char* Name;
    const char* Ext;
    TQLReadFunction Read;
    TQLWriteFunction Write;
    TQLTryFunction Try;
    const char* SaveExt;
    bool FileDpi, StreamDpi;
    const char* LoadExt = "";
  };
  // The detectors are tried in this order; none of those ahead of the Targa one accepts what
  // another accepts (their signatures differ in the first bytes), and the Targa test, the
  // weakest, comes after all of them but the netpbm one, whose signatures it refuses.
  // The metafiles are imported from files only: they have no reader, writer or detector.
  // Stream loads of the formats without a stream header leave the view's resolution alone, and
  // the netpbm formats carry none.
  const Row Rows[] = {
      {ioTIFF, "TIFF Bitmap", "TIF;TIFF", TIFFRead, TIFFWrite, TIFFTry, "", true, true},
      {ioGIF, "CompuServe Bitmap", "GIF", GIFRead, GIFWrite, GIFTry, "", true, false},
      {ioJPEG, "JPEG Bitmap", "JPG;JPEG;JPE", JPEGRead, JPEGWrite, JPEGTry, "JPG;JPEG", true, true},
      {ioPCX, "PaintBrush", "PCX", PCXRead, PCXWrite, PCXTry, "", true, true},
      {ioBMP, "Windows Bitmap", "BMP;DIB;RLE", BMPRead, BMPWrite, BMPTry, "BMP", true, false},
      {ioICO, "Windows Icon", "ICO", ICORead, nullptr, ICOTry, "", true, false},
      {ioCUR, "Windows Cursor", "CUR", CURRead, nullptr, CURTry, "", true, false},
      {ioPNG, "Portable Network Graphics", "PNG", PNGRead, PNGWrite, PNGTry, "", true, true},
      {ioWMF, "Windows Metafile", "WMF", nullptr, nullptr, nullptr, "", true, true},
      {ioEMF, "Enhanced Windows Metafile", "EMF", nullptr, nullptr, nullptr, "", true, true},
      {ioTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX", TGARead, TGAWrite, TGATry, "TGA", true,
       false, "WIN"},
      {ioPXM, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM", PXMRead, PXMWrite, PXMTry, "",
       false, false},
  };
  std::vector<std::unique_ptr<TQLFileFormatInfo>> Table;
  for (const Row& R : Rows) {
    auto Info = std::make_unique<TQLFileFormatInfo>();
    Info->FileType = R.Type;
    Info->FullName = R.Name;
    Info->Extensions = R.Ext;
    Info->ReadFunction = R.Read;
    Info->WriteFunction = R.Write;
    Info->TryFunction = R.Try;
    Info->SaveExtensions = R.SaveExt;
    Info->LoadExtensions = R.LoadExt;
    Info->FileLoadSetsViewDpi = R.FileDpi;
    Info->StreamLoadSetsViewDpi = R.StreamDpi;
    Info->BuiltIn = true;
    Table.push_back(std::move(Info));
  }
  return Table;
}
}  // namespace

std::vector<std::unique_ptr<TQLFileFormatInfo>>& qlgFileFormats() {
  static std::vector<std::unique_ptr<TQLFileFormatInfo>> Table = BuiltInRows();
  return Table;
}

TQLFileFormatInfo* QLFileFormatGetInfo(int32_t FileType) {
  for (auto& Row : qlgFileFormats())
    if (Row->FileType == FileType) return Row.get();
  return nullptr;
}

TQLFileFormatInfo* QLFileFormatGetInfo2(const std::string& Extension) {
  std::string Ext = Lower(Extension);
  for (auto& Row : qlgFileFormats())
    for (const std::string& E : SplitExtensions(Row->Extensions))
      if (Lower(E) == Ext) return Row.get();
  return nullptr;
}

TQLFileFormatInfo* QLFileFormatForLoad(const std::string& Extension) {
  if (TQLFileFormatInfo* Row = QLFileFormatGetInfo2(Extension)) return Row;
  const std::string Ext = Lower(Extension);
  for (auto& Row : qlgFileFormats())
    for (const std::string& E : SplitExtensions(Row->LoadExtensions))
      if (Lower(E) == Ext) return Row.get();
  return nullptr;
}

int32_t QLFileFormatGetExtCount(int32_t FileType) {
  TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return 0;
  int32_t N = 0;
  for (const std::string& E : SplitExtensions(Row->Extensions)) {
    if (E.empty()) break;
    ++N;
  }
  return N;
}

std::string QLFileFormatGetExt(int32_t FileType, int32_t Index) {
  TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row || Index < 0) return {};
  std::vector<std::string> Parts = SplitExtensions(Row->Extensions);
  return static_cast<size_t>(Index) < Parts.size() ? Parts[static_cast<size_t>(Index)]
                                                   : std::string();
}

bool QLFileFormatSavesExt(const TQLFileFormatInfo& Row, const std::string& Extension) {
  if (!Row.WriteFunction) return false;
  const std::string Ext = Lower(Extension);
  for (const std::string& E :
       SplitExtensions(Row.SaveExtensions.empty() ? Row.Extensions : Row.SaveExtensions))
    if (Lower(E) == Ext) return true;
  return false;
}

void QLFileFormatAdd(const TQLFileFormatInfo& Info) {
  auto Row = std::make_unique<TQLFileFormatInfo>(Info);
  if (Row->FullName.size() > kShortStringMax) Row->FullName.resize(kShortStringMax);
  if (Row->Extensions.size() > kShortStringMax) Row->Extensions.resize(kShortStringMax);
  qlgFileFormats().push_back(std::move(Row));
}

void QLFileFormatRemove(int32_t FileType) {
  auto& Table = qlgFileFormats();
  auto It = std::find_if(Table.begin(), Table.end(),
                         [&](const auto& Row) { return Row->FileType == FileType; });
  if (It != Table.end()) Table.erase(It);
}

namespace iodetail {

bool StartsWith(TStream& Stream, int64_t MoreThan, const char* Magic, int64_t N) {
  const int64_t Pos = Stream.GetPosition();
  if (Stream.GetSize() - Pos <= MoreThan) return false;
  std::string Head(static_cast<size_t>(N), '\0');
  const bool Read = Stream.Read(Head.data(), N) == N;
  Stream.SetPosition(Pos);
  return Read && std::memcmp(Head.data(), Magic, static_cast<size_t>(N)) == 0;
}

}  // namespace iodetail

// The parameter record's description of its format needs the format table, which lives here.
std::string TIOParamsVals::GetFileTypeStr() const {
  std::string Result;
  if (TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType)) {
    std::string Ext = QLFileFormatGetExt(FileType, 0);
    for (char& C : Ext) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
    Result = Row->FullName + " (" + Ext + ")";
  }
  static const char* const TiffNames[] = {
      " Uncompressed", " Huffman",  " Group 3 Fax", " Group 3 Fax 2D", " Group 4 Fax",
      " LZW",          " Jpeg v.5", " Jpeg",        " PackBits RLE",   " Deflate"};
  static const char* const JpegNames[] = {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"};
  static const char* const BmpNames[] = {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"};
  switch (FileType) {
    case ioTIFF:
      if (TiffCompression < std::size(TiffNames)) Result += TiffNames[TiffCompression];
      break;
    case ioGIF:
      if (GifInterlaced) Result += " Interlaced";
      break;
    case ioJPEG:
      if (JpegColorSpace < std::size(JpegNames)) Result += JpegNames[JpegColorSpace];
      break;
    case ioPCX:
      if (PcxCompression == ioPCX_UNCOMPRESSED) Result += " Uncompressed";
      break;
    case ioBMP:
      if (BmpVersion < std::size(BmpNames)) Result += BmpNames[BmpVersion];
      break;
    case ioPNG:
      if (PngInterlaced) Result += " Interlaced";
      break;
    case ioTGA:
      Result += TgaCompressed ? " Compressed" : " Uncompressed";
      break;
    default:
      break;
  }
  return Result;
}

}  // namespace quillo
