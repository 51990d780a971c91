#include "quillo/io/fileformats.h"

#include <algorithm>
#include <cctype>

#include "quillo/core/params.h"

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
  struct Row {
    int32_t Type;
    const char* Name;
    const char* Ext;
  };
  static const Row Rows[] = {
      {ioTIFF, "TIFF Bitmap", "TIF;TIFF"},
      {ioGIF, "CompuServe Bitmap", "GIF"},
      {ioJPEG, "JPEG Bitmap", "JPG;JPEG;JPE"},
      {ioPCX, "PaintBrush", "PCX"},
      {ioBMP, "Windows Bitmap", "BMP;DIB;RLE"},
      {ioICO, "Windows Icon", "ICO"},
      {ioCUR, "Windows Cursor", "CUR"},
      {ioPNG, "Portable Network Graphics", "PNG"},
      {ioWMF, "Windows Metafile", "WMF"},
      {ioEMF, "Enhanced Windows Metafile", "EMF"},
      {ioTGA, "Targa Bitmap", "TGA;TARGA;VDA;ICB;VST;PIX"},
      {ioPXM, "Portable Pixmap, GreyMap, BitMap", "PXM;PPM;PGM;PBM"},
  };
  std::vector<std::unique_ptr<TQLFileFormatInfo>> Table;
  for (const Row& R : Rows) {
    auto Info = std::make_unique<TQLFileFormatInfo>();
    Info->FileType = R.Type;
    Info->FullName = R.Name;
    Info->Extensions = R.Ext;
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
