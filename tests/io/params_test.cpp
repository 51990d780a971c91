#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "quillo/core/paramfields.h"
#include "quillo/core/params.h"
#include "quillo/core/pixels.h"
#include "quillo/io/fileformats.h"
#include "tests/support/testutil.h"

using namespace quillo;

namespace {

class FakeOwner : public IQLParamsOwner {
 public:
  TBitmap* Bitmap = nullptr;
  bool HasView = false;
  int32_t ViewDpiX = 0, ViewDpiY = 0;
  TBitmap* ParamsOwnerBitmap() override { return Bitmap; }
  bool ParamsOwnerViewDpi(int32_t& X, int32_t& Y) override {
    X = ViewDpiX;
    Y = ViewDpiY;
    return HasView;
  }
};

// Every persisted field set to a value different from its default.
void FillAll(TIOParamsVals& P) {
  P.FileName = "photo.tif";
  P.FileType = ioTIFF;
  P.BitsPerSample = 4;
  P.SamplesPerPixel = 1;
  P.Width = 640;
  P.Height = 480;
  P.DpiX = 300;
  P.DpiY = 150;
  TRGB Pal[3] = {CreateRGB(1, 2, 3), CreateRGB(4, 5, 6), CreateRGB(7, 8, 9)};
  P.SetColorMap(Pal, 3);
  P.TiffCompression = ioTIFF_G4FAX;
  P.TiffImageIndex = 2;
  P.TiffPhotometInterpret = ioTIFF_CMYK;
  P.TiffPlanarConfig = 2;
  P.TiffXPos = 11;
  P.TiffYPos = 12;
  P.TiffDocumentName = "doc";
  P.TiffImageDescription = "desc";
  P.TiffPageName = "page";
  P.TiffPageNumber = 3;
  P.TiffPageCount = 9;
  P.TiffImageCount = 9;
  P.GifVersion = "GIF87a";
  P.GifImageIndex = 4;
  P.GifXPos = 5;
  P.GifYPos = 6;
  P.GifDelayTime = 50;
  P.GifTransparent = true;
  P.GifTranspColor = CreateRGB(10, 20, 30);
  P.GifInterlaced = true;
  P.GifWinWidth = 800;
  P.GifWinHeight = 600;
  P.GifBackground = CreateRGB(40, 50, 60);
  P.GifRatio = 49;
  P.GifImageCount = 7;
  P.GifDisposal = 1;
  P.JpegColorSpace = ioJPEG_CMYK;
  P.JpegQuality = 90;
  P.JpegDCTMethod = ioJPEG_FLOAT;
  P.JpegOptimalHuffman = true;
  P.JpegSmooth = 20;
  P.JpegProgressive = true;
  P.JpegScale = ioJPEG_QUARTER;
  P.JpegMarkerList.AddMarker(0xFE, "comment", 7);
  P.PcxVersion = 3;
  P.PcxCompression = ioPCX_UNCOMPRESSED;
  P.BmpVersion = ioBMP_BMOS2V2;
  P.BmpCompression = ioBMP_RLE;
  P.IcoImageIndex = 1;
  P.IcoBackground = CreateRGB(1, 1, 1);
  P.CurImageIndex = 2;
  P.CurXHotSpot = 3;
  P.CurYHotSpot = 4;
  P.CurBackground = CreateRGB(2, 2, 2);
  P.PngInterlaced = true;
  P.PngBackground = CreateRGB(3, 3, 3);
  P.PngFilter = ioPNG_FILTER_PAETH;
  P.PngCompression = 9;
  P.TgaXPos = 7;
  P.TgaYPos = 8;
  P.TgaCompressed = false;
  P.TgaDescriptor = "id";
  P.TgaAuthor = "me";
  P.TgaDate = 44000.0;
  P.TgaImageName = "job";
  P.TgaBackground = CreateRGB(4, 4, 4);
  P.TgaAspectRatio = 1.5;
  P.TgaGamma = 1.8;
  P.TgaGrayLevel = true;
  P.IPTCInfoList.AddStringItem(2, 5, "title");
  P.PxmComments.Add("first comment");
  P.PxmComments.Add("second");
}

std::vector<uint8_t> Saved(const TIOParamsVals& P) {
  TMemoryStream S;
  P.SaveToStream(S);
  return S.Data();
}

std::string Hex(const std::vector<uint8_t>& Bytes) {
  std::string Out;
  char Buf[4];
  for (size_t I = 0; I < Bytes.size(); ++I) {
    std::snprintf(Buf, sizeof(Buf), "%02x", Bytes[I]);
    Out += Buf;
    Out += (I % 32 == 31 || I + 1 == Bytes.size()) ? '\n' : ' ';
  }
  return Out;
}

// Compares Bytes with the checked-in hex dump tests/data/params/<Name>.hex. Those dumps were
// written by the parameter code before its fields were described by a table, and stored
// parameter files depend on every byte: they are never regenerated to make a test pass. A
// missing dump is written (and the test fails) so that a new case can be added.
void ExpectGolden(const std::string& Name, const std::vector<uint8_t>& Bytes) {
  const std::string Path = std::string(QUILLO_TEST_DATA_DIR) + "/params/" + Name + ".hex";
  std::ifstream In(Path);
  if (!In) {
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
    std::ofstream(Path) << Hex(Bytes);
    ADD_FAILURE() << "wrote " << Path << "; check it and run again";
    return;
  }
  std::stringstream Want;
  Want << In.rdbuf();
  EXPECT_EQ(Hex(Bytes), Want.str()) << Name;
}

}  // namespace

TEST(IOParams, StreamRoundTripRestoresEveryField) {
  TIOParamsVals P;
  FillAll(P);
  std::vector<uint8_t> Bytes = Saved(P);
  TMemoryViewStream In(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  TIOParamsVals Q;
  Q.LoadFromStream(In);
  EXPECT_EQ(Saved(Q), Bytes);
  EXPECT_EQ(Q.ColorMapCount, 3);
  EXPECT_EQ(Q.ColorMap[2], CreateRGB(7, 8, 9));
  EXPECT_EQ(Q.PxmComments.Count(), 2);
  EXPECT_EQ(Q.PxmComments[1], "second");
  EXPECT_EQ(Q.JpegMarkerList.GetCount(), 1);
  EXPECT_EQ(Q.IPTCInfoList.GetStrings(0), "title");
  EXPECT_EQ(Q.TgaGamma, 1.8);

  // An empty palette is a count of 0 and no palette bytes.
  TIOParamsVals E;
  E.TgaDate = 1.0;
  std::vector<uint8_t> EBytes = Saved(E);
  TMemoryViewStream EIn(EBytes.data(), static_cast<int64_t>(EBytes.size()));
  Q.LoadFromStream(EIn);
  EXPECT_EQ(Q.ColorMapCount, 0);
  EXPECT_TRUE(Q.ColorMap.empty());
  EXPECT_EQ(Saved(Q), EBytes);
}

namespace {
// Writes a stream of an older version by hand, following the version rules row by row.
std::vector<uint8_t> OldStream(int32_t Version) {
  TMemoryStream S;
  QLWriteIntLE(S, Version);
  SaveStringToStream(S, "old.gif");
  if (Version <= 1)
    QLWriteByte(S, ioGIF);
  else
    QLWriteIntLE(S, ioGIF);
  for (int32_t V : {8, 1, 32, 16, 72, 72}) QLWriteIntLE(S, V);
  QLWriteIntLE(S, 0);  // no palette
  QLWriteByte(S, ioTIFF_LZW);
  QLWriteIntLE(S, 1);
  QLWriteByte(S, ioTIFF_RGB);
  for (int32_t V : {1, 0, 0}) QLWriteIntLE(S, V);
  for (int I = 0; I < 3; ++I) SaveStringToStream(S, "t");
  QLWriteIntLE(S, 1);
  QLWriteIntLE(S, 2);
  if (Version >= 4) QLWriteIntLE(S, 5);
  if (Version >= 6) QLWriteByte(S, 1);  // the large TIFF form
  SaveStringToStream(S, "GIF87a");
  for (int32_t V : {1, 2, 3, 4}) QLWriteIntLE(S, V);
  QLWriteByte(S, 1);
  S.WriteBuffer("\x01\x02\x03", 3);
  QLWriteByte(S, 0);
  QLWriteIntLE(S, 100);
  QLWriteIntLE(S, 50);
  S.WriteBuffer("\x04\x05\x06", 3);
  QLWriteIntLE(S, 0);
  if (Version >= 4) QLWriteIntLE(S, 6);
  QLWriteByte(S, ioJPEG_GRAYLEV);
  QLWriteIntLE(S, 75);
  QLWriteByte(S, ioJPEG_IFAST);
  QLWriteByte(S, 1);
  QLWriteIntLE(S, 10);
  QLWriteByte(S, 0);
  if (Version >= 1) QLWriteByte(S, ioJPEG_EIGHTH);
  if (Version >= 4) TQLMarkerList().SaveToStream(S);
  QLWriteIntLE(S, 5);
  QLWriteByte(S, ioPCX_RLE);
  QLWriteByte(S, ioBMP_BM);
  QLWriteByte(S, ioBMP_RLE);
  if (Version >= 1) {
    QLWriteIntLE(S, 3);  // ICO index
  } else {
    QLWriteIntLE(S, 77);
    QLWriteIntLE(S, 78);
  }
  if (Version >= 3) S.WriteBuffer("\x09\x09\x09", 3);
  if (Version >= 1) {
    for (int32_t V : {4, 5, 6}) QLWriteIntLE(S, V);  // CUR index and hot spot
  } else {
    QLWriteIntLE(S, 77);
    QLWriteIntLE(S, 78);
  }
  if (Version >= 3) S.WriteBuffer("\x08\x08\x08", 3);
  QLWriteByte(S, 1);
  S.WriteBuffer("\x07\x07\x07", 3);
  QLWriteByte(S, ioPNG_FILTER_SUB);
  QLWriteIntLE(S, 6);
  if (Version >= 3) {
    QLWriteIntLE(S, 21);
    QLWriteIntLE(S, 22);
    QLWriteByte(S, 1);
    SaveStringToStream(S, "old id");
    SaveStringToStream(S, "old author");
    QLWriteDoubleLE(S, 40000.25);
    SaveStringToStream(S, "old job");
    S.WriteBuffer("\x0a\x0b\x0c", 3);
    QLWriteDoubleLE(S, 0.75);
    QLWriteDoubleLE(S, 1.0);
    QLWriteByte(S, 0);
  }
  if (Version >= 4) {
    TQLIPTCInfoList Iptc;
    Iptc.AddStringItem(2, 120, "old caption");
    Iptc.AddStringItem(2, 25, "keyword");
    Iptc.SaveToStream(S);
  }
  if (Version >= 5) S.WriteBuffer("old line\r\n", 10);
  return S.Data();
}
}  // namespace

TEST(IOParams, StreamBytesArePinned) {
  TIOParamsVals P;
  FillAll(P);
  ExpectGolden("filled_v7", Saved(P));
  // The defaults of every stored field (the date is today's, so it is fixed here).
  TIOParamsVals D;
  D.TgaDate = 45000.0;
  ExpectGolden("defaults_v7", Saved(D));
}

TEST(IOParams, EveryOlderVersionLoadsAsBefore) {
  for (int32_t Version = 0; Version < TIOParamsVals::StreamVersion; ++Version) {
    TIOParamsVals P;
    FillAll(P);
    // Loading never touches the coder hooks, which no stream holds.
    P.GifLZWCompress = [](TStream&, int32_t, int32_t, bool, const uint8_t*, int32_t) {};
    const TGIFLZWCompFunc Hook = P.GifLZWCompress;
    std::vector<uint8_t> Bytes = OldStream(Version);
    TMemoryViewStream In(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    P.LoadFromStream(In);
    EXPECT_EQ(In.GetPosition(), In.GetSize()) << Version;
    EXPECT_EQ(P.GifLZWCompress, Hook);
    EXPECT_EQ(P.TgaAuthor, Version >= 3 ? "old author" : "me");
    EXPECT_EQ(P.IPTCInfoList.Count(), Version >= 4 ? 2 : 1);
    EXPECT_EQ(P.PxmComments.Count(), Version >= 5 ? 1 : 2);
    EXPECT_EQ(P.TiffBigTIFF, Version >= 6);
    EXPECT_EQ(P.GifDisposal, 1);  // no older stream holds it
    // Every stored field, as the version 7 form of what the older stream left.
    ExpectGolden("loaded_v" + std::to_string(Version), Saved(P));
  }
}

TEST(IOParams, OlderVersionsLeaveTheirMissingRowsAlone) {
  for (int32_t Version : {0, 1, 2}) {
    TIOParamsVals P;
    FillAll(P);
    std::vector<uint8_t> Bytes = OldStream(Version);
    TMemoryViewStream In(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    P.LoadFromStream(In);
    EXPECT_EQ(In.GetPosition(), In.GetSize()) << Version;
    EXPECT_EQ(P.FileType, ioGIF);
    EXPECT_EQ(P.FileName, "old.gif");
    EXPECT_EQ(P.TiffCompression, ioTIFF_LZW);
    EXPECT_EQ(P.GifDelayTime, 4);
    EXPECT_EQ(P.PngCompression, 6);
    // Untouched before version 4.
    EXPECT_EQ(P.TiffImageCount, 9);
    EXPECT_EQ(P.GifImageCount, 7);
    EXPECT_EQ(P.JpegMarkerList.GetCount(), 1);
    EXPECT_EQ(P.IPTCInfoList.Count(), 1);
    EXPECT_EQ(P.PxmComments.Count(), 2);
    // Untouched before version 3.
    EXPECT_EQ(P.IcoBackground, CreateRGB(1, 1, 1));
    EXPECT_EQ(P.CurBackground, CreateRGB(2, 2, 2));
    EXPECT_EQ(P.TgaAuthor, "me");
    EXPECT_EQ(P.TgaGamma, 1.8);
    if (Version == 0) {
      EXPECT_EQ(P.JpegScale, ioJPEG_QUARTER);
      EXPECT_EQ(P.IcoImageIndex, 0);
      EXPECT_EQ(P.CurImageIndex, 0);
      EXPECT_EQ(P.CurXHotSpot, 0);
      EXPECT_EQ(P.CurYHotSpot, 0);
    } else {
      EXPECT_EQ(P.JpegScale, ioJPEG_EIGHTH);
      EXPECT_EQ(P.IcoImageIndex, 3);
      EXPECT_EQ(P.CurImageIndex, 4);
      EXPECT_EQ(P.CurYHotSpot, 6);
    }
  }
}

TEST(IOParams, TruncatedAndGarbageStreamsRaiseReadErrors) {
  TIOParamsVals P;
  FillAll(P);
  std::vector<uint8_t> Bytes = Saved(P);
  // Every cut point before the comment lines (which may legitimately end anywhere).
  size_t CommentBytes = std::strlen("first comment\r\nsecond\r\n");
  for (size_t Cut = 0; Cut + CommentBytes < Bytes.size(); Cut += 3) {
    TMemoryViewStream In(Bytes.data(), static_cast<int64_t>(Cut));
    TIOParamsVals Q;
    EXPECT_THROW(Q.LoadFromStream(In), EReadError) << Cut;
  }
  // A palette count far beyond the data.
  TMemoryStream Bad;
  QLWriteIntLE(Bad, 5);
  SaveStringToStream(Bad, "");
  QLWriteIntLE(Bad, 1);
  for (int I = 0; I < 6; ++I) QLWriteIntLE(Bad, 0);
  QLWriteIntLE(Bad, 0x20000000);
  Bad.SetPosition(0);
  TIOParamsVals Q;
  EXPECT_THROW(Q.LoadFromStream(Bad), EReadError);
}

TEST(IOParams, DefaultsAndOwnerValues) {
  FakeOwner Owner;
  TIOParamsVals P(&Owner);
  P.Width = 10;
  P.Height = 20;
  P.DpiX = 30;
  P.DpiY = 40;
  P.CurXHotSpot = 5;
  P.CurYHotSpot = 6;
  P.SetDefaultParams();
  // No bitmap, no view: size and resolution stay.
  EXPECT_EQ(P.Width, 10);
  EXPECT_EQ(P.DpiY, 40);
  EXPECT_EQ(P.CurXHotSpot, 0);
  EXPECT_EQ(P.CurYHotSpot, 0);
  EXPECT_EQ(P.JpegQuality, 50);
  EXPECT_EQ(P.BmpVersion, ioBMP_BM3);
  EXPECT_EQ(P.IcoBackground, CreateRGB(255, 255, 255));
  EXPECT_EQ(P.GifVersion, "GIF89a");
  EXPECT_DOUBLE_EQ(P.TgaGamma, 2.2);
  EXPECT_EQ(P.TgaDate, QLToday());
  EXPECT_EQ(P.TgaDate, static_cast<double>(static_cast<int64_t>(P.TgaDate)));

  TBitmap B(33, 44, pf24bit);
  Owner.Bitmap = &B;
  Owner.HasView = true;
  Owner.ViewDpiX = 300;
  Owner.ViewDpiY = 0;
  P.SetDefaultParams();
  EXPECT_EQ(P.Width, 33);
  EXPECT_EQ(P.Height, 44);
  EXPECT_EQ(P.DpiX, 300);
  EXPECT_EQ(P.DpiY, 0);

  // The hooks follow the globals at every reset.
  DefGIF_LZWDECOMPFUNC = [](TStream&, int32_t, int32_t, bool, uint8_t*) { return true; };
  P.SetDefaultParams();
  EXPECT_EQ(P.GifLZWDecompress, DefGIF_LZWDECOMPFUNC);
  DefGIF_LZWDECOMPFUNC = nullptr;
}

TEST(IOParams, AssignCopiesWithoutSharing) {
  FakeOwner Owner;
  TIOParamsVals P;
  FillAll(P);
  TIOParamsVals Q(&Owner);
  Q.Assign(P);
  EXPECT_EQ(Q.Owner, &Owner);
  EXPECT_EQ(Saved(Q), Saved(P));
  EXPECT_NE(Q.ColorMap.data(), P.ColorMap.data());
  P.ColorMap[0] = CreateRGB(99, 99, 99);
  EXPECT_EQ(Q.ColorMap[0], CreateRGB(1, 2, 3));
  // The lists are copies too.
  P.JpegMarkerList.Clear();
  P.IPTCInfoList.Clear();
  P.PxmComments.Clear();
  EXPECT_EQ(Q.JpegMarkerList.GetCount(), 1);
  EXPECT_EQ(Q.IPTCInfoList.Count(), 1);
  EXPECT_EQ(Q.PxmComments.Count(), 2);
  // The coder hooks, which no stream holds, are copied as well.
  P.TiffLZWCompress = [](const uint8_t*, int32_t, TStream&, intptr_t&) {};
  P.GifLZWDecompress = [](TStream&, int32_t, int32_t, bool, uint8_t*) { return false; };
  Q.Assign(P);
  EXPECT_EQ(Q.TiffLZWCompress, P.TiffLZWCompress);
  EXPECT_EQ(Q.GifLZWDecompress, P.GifLZWDecompress);
  EXPECT_EQ(Q.TiffLZWDecompress, P.TiffLZWDecompress);
  EXPECT_EQ(Q.GifLZWCompress, P.GifLZWCompress);
}

// The rules a new row must keep: the tool finds fields by name in any case, a stream is read
// row by row, and the comment lines run to the stream's end.
TEST(IOParams, FieldTableIsWellFormed) {
  const auto Fields = QLParamFields();
  std::set<std::string> Names;
  const TQLParamField* LastStored = nullptr;
  for (const TQLParamField& F : Fields) {
    std::string L = F.Name;
    for (char& C : L) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    EXPECT_TRUE(Names.insert(L).second) << F.Name;
    EXPECT_LE(F.Since, TIOParamsVals::StreamVersion) << F.Name;
    if (F.Since <= 0) {
      EXPECT_EQ(F.Before, TQLParamBefore::Nothing) << F.Name;
    }
    if (F.Kind == TQLParamKind::Enum) {
      EXPECT_LT(F.DefNumber, static_cast<double>(F.EnumNames.size())) << F.Name;
      for (const char* V : F.EnumNames) EXPECT_TRUE(std::string(V).starts_with(F.EnumPrefix));
    }
    if (F.Stored()) LastStored = &F;
  }
  ASSERT_NE(LastStored, nullptr);
  EXPECT_EQ(LastStored->Kind, TQLParamKind::Comments);
}

TEST(IOParams, FileRoundTripAndMissingFile) {
  test::TempDir Dir;
  TIOParamsVals P;
  FillAll(P);
  P.SaveToFile(Dir.File("p.qlp"));
  TIOParamsVals Q;
  Q.LoadFromFile(Dir.File("p.qlp"));
  EXPECT_EQ(Saved(Q), Saved(P));
  EXPECT_THROW(Q.LoadFromFile(Dir.File("none.qlp")), EFOpenError);
}

TEST(IOParams, FileTypeDescriptions) {
  TIOParamsVals P;
  P.FileType = ioBMP;
  P.BmpVersion = ioBMP_BMOS2V1;
  EXPECT_EQ(P.GetFileTypeStr(), "Windows Bitmap (BMP) OS/2 v.1");
  P.FileType = ioTIFF;
  P.TiffCompression = ioTIFF_G3FAX2D;
  EXPECT_EQ(P.GetFileTypeStr(), "TIFF Bitmap (TIF) Group 3 Fax 2D");
  P.FileType = ioJPEG;
  P.JpegColorSpace = ioJPEG_RGB;
  EXPECT_EQ(P.GetFileTypeStr(), "JPEG Bitmap (JPG)");
  P.JpegColorSpace = ioJPEG_GRAYLEV;
  EXPECT_EQ(P.GetFileTypeStr(), "JPEG Bitmap (JPG) Gray level");
  P.FileType = ioTGA;
  EXPECT_EQ(P.GetFileTypeStr(), "Targa Bitmap (TGA) Compressed");
  P.FileType = ioPCX;
  P.PcxCompression = ioPCX_UNCOMPRESSED;
  EXPECT_EQ(P.GetFileTypeStr(), "PaintBrush (PCX) Uncompressed");
  P.FileType = ioPXM;
  EXPECT_EQ(P.GetFileTypeStr(), "Portable Pixmap, GreyMap, BitMap (PXM)");
  P.FileType = 999;
  EXPECT_EQ(P.GetFileTypeStr(), "");
  // Values from a hostile stream cannot index past the name tables.
  P.FileType = ioTIFF;
  P.TiffCompression = static_cast<TIOTIFFCompression>(200);
  EXPECT_EQ(P.GetFileTypeStr(), "TIFF Bitmap (TIF)");
}

TEST(FileFormats, BuiltInRowsAndRegistration) {
  ASSERT_GE(qlgFileFormats().size(), 12u);
  EXPECT_EQ(QLFileFormatGetInfo(ioTGA)->FullName, "Targa Bitmap");
  EXPECT_EQ(QLFileFormatGetExtCount(ioTGA), 6);
  EXPECT_EQ(QLFileFormatGetExt(ioTGA, 5), "PIX");
  EXPECT_EQ(QLFileFormatGetExt(ioTGA, 6), "");
  EXPECT_EQ(QLFileFormatGetExt(ioJPEG, -1), "");
  EXPECT_EQ(QLFileFormatGetInfo2("jpe")->FileType, ioJPEG);
  EXPECT_EQ(QLFileFormatGetInfo2("PGM")->FileType, ioPXM);
  EXPECT_EQ(QLFileFormatGetInfo2("xyz"), nullptr);
  EXPECT_EQ(QLFileFormatGetInfo(0), nullptr);
  EXPECT_EQ(QLFileFormatGetExtCount(0), 0);

  TQLFileFormatInfo Row;
  Row.FileType = 100;
  Row.FullName = std::string(100, 'n');
  Row.Extensions = "QQ;QQQ";
  Row.TryFunction = [](TStream&) { return false; };
  QLFileFormatAdd(Row);
  TQLFileFormatInfo* Got = QLFileFormatGetInfo2("qqq");
  ASSERT_NE(Got, nullptr);
  EXPECT_EQ(Got->FileType, 100);
  EXPECT_EQ(Got->FullName.size(), 80u);
  EXPECT_TRUE(static_cast<bool>(Got->TryFunction));
  QLFileFormatRemove(100);
  EXPECT_EQ(QLFileFormatGetInfo(100), nullptr);
  EXPECT_EQ(qlgFileFormats().size(), 12u);
}
