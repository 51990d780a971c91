#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quillo/codecs/fax.h"
#include "quillo/codecs/tiff.h"
#include "quillo/core/hooks.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "quillo/lzw/lzw.h"
#include "quillo/lzw/tiff_lzw.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

using Bytes = std::vector<uint8_t>;

class TIFF : public ::testing::Test {
 protected:
  void SetUp() override { QLInstallLZWCoders(); }
};

struct TiffRead {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  int32_t Count = -1;
  TiffRead(const Bytes& File, int32_t Index = 0, bool Preview = false) {
    Params.TiffImageIndex = Index;
    TMemoryViewStream S(File.data(), static_cast<int64_t>(File.size()));
    TProgressRec P = QLProgressRec(nullptr, nullptr, Aborted);
    TIFFReadStream(Bitmap, S, Count, &Params, P, Preview);
  }
};

Bytes WriteTiff(const TBitmap& B, TIOParamsVals& P, Bytes Existing = {}, bool* Aborted = nullptr,
                int32_t* Result = nullptr) {
  TMemoryStream S;
  S.WriteBuffer(Existing.data(), static_cast<int64_t>(Existing.size()));
  S.SetPosition(0);
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  const int32_t R = TIFFWriteStream(S, !Existing.empty(), B, P, Prog);
  if (Aborted)
    *Aborted = Abort;
  else
    EXPECT_FALSE(Abort);
  if (Result) *Result = R;
  return S.Data();
}

void Bilevel(TIOParamsVals& P, TIOTIFFCompression C) {
  P.BitsPerSample = 1;
  P.SamplesPerPixel = 1;
  P.TiffCompression = C;
}

// A hand-made little- or big-endian TIFF: blobs and IFDs appended as asked.
class Maker {
 public:
  struct Ent {
    uint16_t Tag, Type;
    std::vector<uint32_t> V;
  };
  explicit Maker(bool BE = false) : FBE(BE) {
    File = {static_cast<uint8_t>(BE ? 'M' : 'I'),
            static_cast<uint8_t>(BE ? 'M' : 'I'),
            0,
            0,
            0,
            0,
            0,
            0};
    Put16(2, 42);
  }
  uint32_t Blob(const Bytes& B) {
    if (File.size() & 1) File.push_back(0);
    const uint32_t At = static_cast<uint32_t>(File.size());
    File.insert(File.end(), B.begin(), B.end());
    return At;
  }
  uint32_t Ifd(const std::vector<Ent>& Es, uint32_t Next = 0) {
    std::vector<Bytes> Fields;
    for (const Ent& E : Es) {
      const int Sz = E.Type == 3 ? 2 : E.Type == 1 || E.Type == 2 ? 1 : 4;
      Bytes V(E.V.size() * Sz);
      for (size_t I = 0; I < E.V.size(); ++I) PutN(V.data() + I * Sz, E.V[I], Sz);
      if (V.size() > 4) {
        const uint32_t At = Blob(V);
        V.assign(4, 0);
        PutN(V.data(), At, 4);
      }
      V.resize(4, 0);
      Fields.push_back(V);
    }
    if (File.size() & 1) File.push_back(0);
    const uint32_t At = static_cast<uint32_t>(File.size());
    File.resize(File.size() + 2 + 12 * Es.size() + 4);
    PutN(&File[At], static_cast<uint32_t>(Es.size()), 2);
    for (size_t I = 0; I < Es.size(); ++I) {
      uint8_t* P = &File[At + 2 + 12 * I];
      PutN(P, Es[I].Tag, 2);
      PutN(P + 2, Es[I].Type, 2);
      PutN(P + 4, static_cast<uint32_t>(Es[I].V.size()), 4);
      std::memcpy(P + 8, Fields[I].data(), 4);
    }
    PutN(&File[At + 2 + 12 * Es.size()], Next, 4);
    return At;
  }
  void First(uint32_t Off) { PutN(&File[4], Off, 4); }
  void Link(uint32_t IfdAt, uint32_t Next) {
    const uint32_t N =
        FBE ? (File[IfdAt] << 8 | File[IfdAt + 1]) : (File[IfdAt + 1] << 8 | File[IfdAt]);
    PutN(&File[IfdAt + 2 + 12 * N], Next, 4);
  }
  Bytes File;

 private:
  void Put16(size_t At, uint32_t V) { PutN(&File[At], V, 2); }
  void PutN(uint8_t* P, uint32_t V, int N) {
    for (int I = 0; I < N; ++I) P[I] = static_cast<uint8_t>(V >> (FBE ? 8 * (N - 1 - I) : 8 * I));
  }
  bool FBE;
};

// The entries of a strip image: width, height, bits (one value per sample), photometric,
// compression, the strip's offset and size.
std::vector<Maker::Ent> StripEntries(uint32_t W, uint32_t H, std::vector<uint32_t> Bits,
                                     uint32_t Photo, uint32_t Compression, uint32_t Offset,
                                     uint32_t Count) {
  return {{256, 4, {W}},
          {257, 4, {H}},
          {258, 3, Bits},
          {259, 3, {Compression}},
          {262, 3, {Photo}},
          {273, 4, {Offset}},
          {277, 3, {static_cast<uint32_t>(Bits.size())}},
          {278, 4, {H}},
          {279, 4, {Count}}};
}

// Value of a LONG or SHORT tag in the first IFD of a little-endian file we wrote.
int64_t TagOf(const Bytes& F, uint16_t Tag, uint32_t* Type = nullptr, uint32_t* Count = nullptr) {
  auto U16 = [&](size_t I) { return static_cast<uint32_t>(F[I] | F[I + 1] << 8); };
  auto U32 = [&](size_t I) { return U16(I) | U16(I + 2) << 16; };
  const size_t Ifd = U32(4);
  for (uint32_t I = 0; I < U16(Ifd); ++I) {
    const size_t E = Ifd + 2 + 12 * I;
    if (U16(E) != Tag) continue;
    if (Type) *Type = U16(E + 2);
    if (Count) *Count = U32(E + 4);
    return U16(E + 2) == 3 ? U16(E + 8) : U32(E + 8);
  }
  return -1;
}

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}

}  // namespace

TEST_F(TIFF, RoundTripsEveryWriterMode) {
  const TBitmap One = RandomBitmap1(101, 37, 1);
  for (TIOTIFFCompression C : {ioTIFF_UNCOMPRESSED, ioTIFF_CCITT1D, ioTIFF_G3FAX1D, ioTIFF_G3FAX2D,
                               ioTIFF_G4FAX, ioTIFF_LZW, ioTIFF_PACKBITS}) {
    TIOParamsVals P;
    Bilevel(P, C);
    TiffRead R(WriteTiff(One, P));
    ASSERT_FALSE(R.Aborted) << C;
    EXPECT_EQ(R.Count, 1);
    EXPECT_EQ(R.Params.TiffCompression, C);
    EXPECT_EQ(R.Bitmap.GetPixelFormat(), pf1bit);
    EXPECT_TRUE(SamePixels(R.Bitmap, One)) << C;
  }
  const TBitmap Rgb = RandomBitmap24(53, 29, 2);
  for (TIOTIFFCompression C : {ioTIFF_UNCOMPRESSED, ioTIFF_LZW, ioTIFF_PACKBITS}) {
    TIOParamsVals P;
    P.TiffCompression = C;
    TiffRead R(WriteTiff(Rgb, P));
    ASSERT_FALSE(R.Aborted) << C;
    EXPECT_EQ(R.Params.TiffCompression, C);
    EXPECT_TRUE(SamePixels(R.Bitmap, Rgb)) << C;
  }
  // CMYK keeps every channel within one step.
  TIOParamsVals Cmyk;
  Cmyk.TiffPhotometInterpret = ioTIFF_CMYK;
  Cmyk.TiffCompression = ioTIFF_LZW;
  TiffRead K(WriteTiff(Rgb, Cmyk));
  ASSERT_FALSE(K.Aborted);
  EXPECT_EQ(K.Params.TiffPhotometInterpret, ioTIFF_CMYK);
  EXPECT_EQ(K.Params.SamplesPerPixel, 4);
  for (int32_t Y = 0; Y < 29; ++Y)
    for (int32_t X = 0; X < 53; ++X) {
      const TRGB A = Px(Rgb, X, Y), B = Px(K.Bitmap, X, Y);
      ASSERT_LE(std::abs(A.r - B.r) + std::abs(A.g - B.g) + std::abs(A.b - B.b), 3);
    }
  // Grey: one sample, and grey pixels keep their value.
  TBitmap Grey(40, 3, pf24bit);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 40; ++X) {
      const uint8_t V = static_cast<uint8_t>(X * 6 + Y);
      reinterpret_cast<TRGB*>(Grey.ScanLine(Y))[X] = TRGB{V, V, V};
    }
  TIOParamsVals G;
  G.BitsPerSample = 8;
  G.SamplesPerPixel = 1;
  G.TiffPhotometInterpret = ioTIFF_BLACKISZERO;
  G.TiffCompression = ioTIFF_LZW;
  const Bytes GF = WriteTiff(Grey, G);
  EXPECT_EQ(TagOf(GF, 277), 1);
  TiffRead GR(GF);
  ASSERT_FALSE(GR.Aborted);
  EXPECT_EQ(GR.Params.TiffPhotometInterpret, ioTIFF_BLACKISZERO);
  EXPECT_TRUE(SamePixels(GR.Bitmap, Grey));
}

TEST_F(TIFF, PhotometricTagsAndByteOrder) {
  // Uncompressed bilevel: black-is-zero and the bitmap's own bits; G4: white-is-zero.
  const TBitmap One = RandomBitmap1(16, 2, 3);
  TIOParamsVals P;
  Bilevel(P, ioTIFF_UNCOMPRESSED);
  P.TiffDocumentName = "abc";
  P.TiffImageDescription = "a longer description";
  P.TiffPageName = "p1";
  P.TiffPageNumber = 2;
  P.TiffPageCount = 5;
  P.DpiX = 300;
  P.DpiY = 150;
  P.TiffXPos = 3;
  const Bytes F = WriteTiff(One, P);
  EXPECT_EQ(TagOf(F, 262), 1);
  const int64_t Strip = TagOf(F, 273);
  EXPECT_EQ(F[static_cast<size_t>(Strip)], One.ScanLine(0)[0]);
  EXPECT_EQ(F[static_cast<size_t>(Strip + 3)], One.ScanLine(1)[1]);
  // A name of three characters and its NUL fit in the entry itself.
  uint32_t Type = 0, Count = 0;
  const int64_t Inline = TagOf(F, 269, &Type, &Count);
  EXPECT_EQ(Type, 2u);
  EXPECT_EQ(Count, 4u);
  EXPECT_EQ(Inline, 'a' | 'b' << 8 | 'c' << 16);
  TiffRead R(F);
  EXPECT_EQ(R.Params.TiffDocumentName, "abc");
  EXPECT_EQ(R.Params.TiffImageDescription, "a longer description");
  EXPECT_EQ(R.Params.TiffPageName, "p1");
  EXPECT_EQ(R.Params.TiffPageNumber, 2);
  EXPECT_EQ(R.Params.TiffPageCount, 5);
  EXPECT_EQ(R.Params.DpiX, 300);
  EXPECT_EQ(R.Params.DpiY, 150);
  EXPECT_EQ(R.Params.TiffXPos, 3);
  EXPECT_EQ(R.Params.TiffPhotometInterpret, ioTIFF_BLACKISZERO);
  TIOParamsVals G4;
  Bilevel(G4, ioTIFF_G4FAX);
  const Bytes FG = WriteTiff(One, G4);
  EXPECT_EQ(TagOf(FG, 262), 0);
  EXPECT_EQ(TiffRead(FG).Params.TiffPhotometInterpret, ioTIFF_WHITEISZERO);
  // The entries are in ascending tag order.
  const size_t Ifd = static_cast<size_t>(FG[4] | FG[5] << 8 | FG[6] << 16);
  for (int I = 1; I < (FG[Ifd] | FG[Ifd + 1] << 8); ++I)
    EXPECT_LT(FG[Ifd + 2 + 12 * (I - 1)] | FG[Ifd + 3 + 12 * (I - 1)] << 8,
              FG[Ifd + 2 + 12 * I] | FG[Ifd + 3 + 12 * I] << 8);

  // The same pixels in a big-endian file with 16-bit samples, a palette page and a 5-5-5 page.
  Maker M(true);
  const uint32_t D16 =
      M.Blob({0x12, 0x34, 0xAB, 0xCD, 0xFF, 0x00, 0x00, 0x01, 0x80, 0x00, 0x7F, 0xFF});
  M.First(M.Ifd(StripEntries(2, 1, {16, 16, 16}, 2, 1, D16, 12)));
  TiffRead B(M.File);
  ASSERT_FALSE(B.Aborted);
  EXPECT_EQ(Px(B.Bitmap, 0, 0), CreateRGB(0x12, 0xAB, 0xFF));
  EXPECT_EQ(Px(B.Bitmap, 1, 0), CreateRGB(0x00, 0x80, 0x7F));

  Maker Pal;
  const uint32_t DP = Pal.Blob({0x01, 0x23});
  std::vector<Maker::Ent> E = StripEntries(4, 1, {4}, 3, 1, DP, 2);
  std::vector<uint32_t> Map(48, 0);
  for (uint32_t I = 0; I < 16; ++I)
    Map[I] = I * 0x1111, Map[16 + I] = 0x4000, Map[32 + I] = 0xFFFF - I * 256;
  E.push_back({320, 3, Map});
  Pal.First(Pal.Ifd(E));
  TiffRead PR(Pal.File);
  ASSERT_FALSE(PR.Aborted);
  EXPECT_EQ(PR.Params.ColorMapCount, 16);
  EXPECT_EQ(Px(PR.Bitmap, 3, 0), CreateRGB(0x33, 0x40, 0xFC));

  Maker Fifteen;
  const uint32_t D15 = Fifteen.Blob({0x1F, 0x7C, 0xE0, 0x03});  // magenta, then green
  Fifteen.First(Fifteen.Ifd(StripEntries(2, 1, {16}, 2, 1, D15, 4)));
  TiffRead FR(Fifteen.File);
  ASSERT_FALSE(FR.Aborted);
  EXPECT_EQ(Px(FR.Bitmap, 0, 0), CreateRGB(255, 0, 255));
  EXPECT_EQ(Px(FR.Bitmap, 1, 0), CreateRGB(0, 255, 0));
}

TEST_F(TIFF, TilesAndPlanes) {
  // A 256 x 256 image in four 128 x 128 tiles: each tile a colour of its own.
  Maker M;
  std::vector<uint32_t> Offs, Counts;
  const TRGB Colours[4] = {CreateRGB(255, 0, 0), CreateRGB(0, 255, 0), CreateRGB(0, 0, 255),
                           CreateRGB(9, 99, 199)};
  for (const TRGB& C : Colours) {
    Bytes T(128 * 128 * 3);
    for (size_t I = 0; I < T.size(); I += 3) T[I] = C.r, T[I + 1] = C.g, T[I + 2] = C.b;
    Offs.push_back(M.Blob(T));
    Counts.push_back(static_cast<uint32_t>(T.size()));
  }
  M.First(M.Ifd({{256, 4, {256}},
                 {257, 4, {256}},
                 {258, 3, {8, 8, 8}},
                 {259, 3, {1}},
                 {262, 3, {2}},
                 {277, 3, {3}},
                 {322, 4, {128}},
                 {323, 4, {128}},
                 {324, 4, Offs},
                 {325, 4, Counts}}));
  TiffRead R(M.File);
  ASSERT_FALSE(R.Aborted);
  EXPECT_EQ(Px(R.Bitmap, 0, 0), Colours[0]);
  EXPECT_EQ(Px(R.Bitmap, 255, 0), Colours[1]);
  EXPECT_EQ(Px(R.Bitmap, 0, 255), Colours[2]);
  EXPECT_EQ(Px(R.Bitmap, 255, 255), Colours[3]);
  EXPECT_EQ(Px(R.Bitmap, 127, 128), Colours[2]);

  // Planar configuration 2: three planes of LZW strips with the predictor.
  TMemoryStream Planes[3];
  const uint8_t Rows[3][4] = {{10, 20, 30, 40}, {1, 2, 3, 4}, {200, 100, 50, 25}};
  for (int S = 0; S < 3; ++S) {
    uint8_t D[4] = {Rows[S][0]};
    for (int X = 1; X < 4; ++X) D[X] = static_cast<uint8_t>(Rows[S][X] - Rows[S][X - 1]);
    intptr_t St = 0;
    TIFFLZWCompress(D, 4, Planes[S], St);
    TIFFLZWCompress(nullptr, 0, Planes[S], St);
  }
  Maker P;
  std::vector<uint32_t> PO, PC;
  for (auto& Pl : Planes) {
    PO.push_back(P.Blob(Pl.Data()));
    PC.push_back(static_cast<uint32_t>(Pl.GetSize()));
  }
  P.First(P.Ifd({{256, 4, {4}},
                 {257, 4, {1}},
                 {258, 3, {8, 8, 8}},
                 {259, 3, {5}},
                 {262, 3, {2}},
                 {273, 4, PO},
                 {277, 3, {3}},
                 {278, 4, {1}},
                 {279, 4, PC},
                 {284, 3, {2}},
                 {317, 3, {2}}}));
  TiffRead PR(P.File);
  ASSERT_FALSE(PR.Aborted);
  for (int X = 0; X < 4; ++X)
    EXPECT_EQ(Px(PR.Bitmap, X, 0), CreateRGB(Rows[0][X], Rows[1][X], Rows[2][X]));
}

TEST_F(TIFF, PagesCountedChosenAppendedAndDeleted) {
  TBitmap Pages[4] = {RandomBitmap24(10, 6, 1), RandomBitmap24(7, 9, 2), RandomBitmap24(5, 5, 3),
                      RandomBitmap24(3, 4, 4)};
  TIOParamsVals P;
  Bytes F = WriteTiff(Pages[0], P);
  int32_t Result = 0;
  P.TiffImageIndex = 99;  // beyond the last page: at the end
  F = WriteTiff(Pages[1], P, F, nullptr, &Result);
  EXPECT_EQ(Result, 2);
  F = WriteTiff(Pages[2], P, F, nullptr, &Result);
  EXPECT_EQ(Result, 3);
  TiffRead Second(F, 1);
  EXPECT_EQ(Second.Count, 3);
  EXPECT_EQ(Second.Params.TiffImageCount, 3);
  EXPECT_TRUE(SamePixels(Second.Bitmap, Pages[1]));
  // An index beyond the last page reads nothing and is no error.
  TiffRead None(F, 3);
  EXPECT_FALSE(None.Aborted);
  EXPECT_EQ(None.Count, 3);
  EXPECT_TRUE(None.Bitmap.Empty());
  // Inserted at index 0 the new page comes first.
  P.TiffImageIndex = 0;
  F = WriteTiff(Pages[3], P, F, nullptr, &Result);
  EXPECT_EQ(Result, 4);
  EXPECT_TRUE(SamePixels(TiffRead(F, 0).Bitmap, Pages[3]));
  EXPECT_TRUE(SamePixels(TiffRead(F, 1).Bitmap, Pages[0]));
  // Deleting page 2 (Pages[1]) tells the count before and keeps the others whole.
  TMemoryStream S;
  S.WriteBuffer(F.data(), static_cast<int64_t>(F.size()));
  S.SetPosition(0);
  EXPECT_EQ(_DeleteTIFFImStream(S, 2), 4);
  S.SetPosition(0);
  EXPECT_EQ(_EnumTIFFImStream(S), 3);
  const Bytes D = S.Data();
  EXPECT_TRUE(SamePixels(TiffRead(D, 0).Bitmap, Pages[3]));
  EXPECT_TRUE(SamePixels(TiffRead(D, 1).Bitmap, Pages[0]));
  EXPECT_TRUE(SamePixels(TiffRead(D, 2).Bitmap, Pages[2]));
  // An index outside the pages leaves the file alone.
  S.SetPosition(0);
  EXPECT_EQ(_DeleteTIFFImStream(S, 7), 3);
  EXPECT_EQ(S.Data(), D);
  // Appending to what is not a TIFF fails.
  bool Aborted = false;
  WriteTiff(Pages[0], P, Bytes(20, 'x'), &Aborted, &Result);
  EXPECT_TRUE(Aborted);
  EXPECT_EQ(Result, 0);
}

// Appending with the end the last write reported skips the walk of the page chain and makes the
// same file; a hint whose link is no longer zero is ignored; an insertion before a page leaves
// no hint.
TEST_F(TIFF, AppendWithEndHint) {
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  TIOParamsVals P;
  TMemoryStream Hinted, Walked;
  TTiffEnd End;
  EXPECT_EQ(TIFFWriteStream(Hinted, false, RandomBitmap24(4, 3, 1), P, Prog, &End), 1);
  TIFFWriteStream(Walked, false, RandomBitmap24(4, 3, 1), P, Prog);
  EXPECT_EQ(End.Count, 1);
  P.TiffImageIndex = 99;
  for (int32_t I = 1; I <= 3; ++I) {
    const TBitmap Page = RandomBitmap24(3 + I, 2, I);
    Hinted.SetPosition(0);
    Walked.SetPosition(0);
    EXPECT_EQ(TIFFWriteStream(Hinted, true, Page, P, Prog, &End), I + 1);
    EXPECT_EQ(TIFFWriteStream(Walked, true, Page, P, Prog), I + 1);
    EXPECT_EQ(End.Count, I + 1);
    ASSERT_EQ(Hinted.Data(), Walked.Data());
  }
  // A stale hint: the link it names now points somewhere.
  TTiffEnd Stale{4, 4};  // the header's link to the first page
  Hinted.SetPosition(0);
  EXPECT_EQ(TIFFWriteStream(Hinted, true, RandomBitmap24(2, 2, 9), P, Prog, &Stale), 5);
  EXPECT_EQ(TiffRead(Hinted.Data(), 0).Bitmap.GetWidth(), 4);
  EXPECT_EQ(TiffRead(Hinted.Data(), 4).Bitmap.GetWidth(), 2);
  // Before the first page: the new page's link is not the chain's end.
  P.TiffImageIndex = 0;
  Hinted.SetPosition(0);
  EXPECT_EQ(TIFFWriteStream(Hinted, true, RandomBitmap24(2, 2, 9), P, Prog, &Stale), 6);
  EXPECT_EQ(Stale.LinkPos, -1);
  EXPECT_FALSE(Abort);
}

TEST_F(TIFF, HostileFilesEndInTheAbortFlag) {
  const TBitmap One = RandomBitmap1(9, 3, 1);
  TIOParamsVals P;
  Bilevel(P, ioTIFF_UNCOMPRESSED);
  const Bytes Good = WriteTiff(One, P);
  const uint32_t Ifd = Good[4] | Good[5] << 8;
  // Cycles of length 1, 2 and 3 end the walk.
  for (int Len : {1, 2, 3}) {
    Maker M;
    std::vector<uint32_t> At;
    for (int I = 0; I < Len; ++I) At.push_back(M.Ifd({{256, 4, {1}}}));
    for (int I = 0; I < Len; ++I) M.Link(At[I], At[(I + 1) % Len]);
    M.First(At[0]);
    TMemoryViewStream S(M.File.data(), static_cast<int64_t>(M.File.size()));
    EXPECT_EQ(_EnumTIFFImStream(S), Len);
    EXPECT_EQ(TiffRead(M.File, 0, true).Count, Len);
  }
  // Not a TIFF; an IFD outside the file (no pages, no error).
  EXPECT_TRUE(TiffRead(Bytes{'X', 'X', 42, 0}).Aborted);
  Bytes Far = Good;
  Far[4] = Far[5] = 0xF0;
  EXPECT_EQ(TiffRead(Far).Count, 0);
  auto Patch = [&](uint16_t Tag, uint32_t Value) {
    Bytes F = Good;
    for (uint32_t I = 0; I < static_cast<uint32_t>(F[Ifd] | F[Ifd + 1] << 8); ++I) {
      uint8_t* E = &F[Ifd + 2 + 12 * I];
      if ((E[0] | E[1] << 8) != Tag) continue;
      E[2] = 4, E[3] = 0;  // LONG
      for (int K = 0; K < 4; ++K) E[8 + K] = static_cast<uint8_t>(Value >> (8 * K));
    }
    return F;
  };
  // Strip offset or byte count beyond the file; absurd sizes; the bitmap stays untouched.
  for (auto [Tag, Value] : {std::pair<uint16_t, uint32_t>{273, 100000},
                            {279, 100000},
                            {256, 100000000},
                            {257, 3000000000u}}) {
    TiffRead R(Patch(Tag, Value));
    EXPECT_TRUE(R.Aborted) << Tag;
    EXPECT_TRUE(R.Bitmap.Empty()) << Tag;
  }
  // Tiles far larger than the image.
  Maker T;
  const uint32_t D = T.Blob(Bytes(16, 0));
  T.First(T.Ifd({{256, 4, {4}},
                 {257, 4, {4}},
                 {258, 3, {8}},
                 {262, 3, {1}},
                 {322, 4, {1u << 30}},
                 {323, 4, {1u << 30}},
                 {324, 4, {D}},
                 {325, 4, {16}}}));
  EXPECT_TRUE(TiffRead(T.File).Aborted);
  // Unequal bits per sample; a compression that cannot be decoded (only its parameters can be
  // read); LZW without a decoder, even for the parameters.
  Maker U;
  U.First(U.Ifd(StripEntries(1, 1, {8, 8, 4}, 2, 1, 8, 3)));
  EXPECT_TRUE(TiffRead(U.File).Aborted);
  Maker J;
  J.First(J.Ifd(StripEntries(1, 1, {8, 8, 8}, 2, 7, 8, 3)));
  EXPECT_FALSE(TiffRead(J.File, 0, true).Aborted);
  EXPECT_TRUE(TiffRead(J.File).Aborted);
  Maker L;
  L.First(L.Ifd(StripEntries(1, 1, {8, 8, 8}, 2, 5, 8, 3)));
  const TTIFFLZWDecompFunc Saved = DefTIFF_LZWDECOMPFUNC;
  DefTIFF_LZWDECOMPFUNC = nullptr;
  TiffRead NoHook(L.File, 0, true);
  DefTIFF_LZWDECOMPFUNC = Saved;
  EXPECT_TRUE(NoHook.Aborted);
}

TEST_F(TIFF, StreamHeadersThroughTheComponent) {
  const TBitmap A = RandomBitmap24(12, 5, 8), B = RandomBitmap1(30, 4, 9);
  TMemoryStream S;
  TBitmap Work;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Work);
  IO.StreamHeaders = true;
  Work.Assign(A);
  IO.SaveToStreamTIFF(S);
  ASSERT_FALSE(IO.Aborting);
  Work.Assign(B);
  IO.IOParams().BitsPerSample = 1;
  IO.IOParams().SamplesPerPixel = 1;
  IO.IOParams().TiffCompression = ioTIFF_G4FAX;
  IO.SaveToStreamTIFF(S);
  ASSERT_FALSE(IO.Aborting);
  S.SetPosition(0);
  TBitmap Back;
  TQuilloIO Reader;
  Reader.SetAttachedBitmap(&Back);
  Reader.StreamHeaders = true;
  EXPECT_EQ(Reader.LoadFromStreamTIFF(S), 1);
  EXPECT_TRUE(SamePixels(Back, A));
  EXPECT_EQ(Reader.LoadFromStreamTIFF(S), 1);
  EXPECT_TRUE(SamePixels(Back, B));
  EXPECT_EQ(S.GetPosition(), S.GetSize());
  // Detection by content finds the "TIFF" header.
  S.SetPosition(0);
  EXPECT_EQ(FindStreamFormat(S), ioTIFF);
}

TEST_F(TIFF, FileFunctionsOfTheComponent) {
  TempDir Dir;
  const std::string Path = Dir.File("pages.tif");
  TBitmap Work;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Work);
  const TBitmap Pages[3] = {RandomBitmap24(9, 4, 1), RandomBitmap24(4, 9, 2),
                            RandomBitmap24(6, 6, 3)};
  for (int I = 0; I < 3; ++I) {
    Work.Assign(Pages[I]);
    IO.IOParams().TiffImageIndex = I;
    if (I == 0)
      IO.SaveToFile(Path);
    else
      EXPECT_EQ(IO.InsertToFileTIFF(Path), I + 1);
    ASSERT_FALSE(IO.Aborting);
  }
  EXPECT_EQ(EnumTIFFIm(Path), 3);
  EXPECT_EQ(EnumTIFFIm(Dir.File("missing.tif")), 0);
  EXPECT_EQ(DeleteTIFFIm(Path, 0), 3);
  EXPECT_EQ(EnumTIFFIm(Path), 2);
  TBitmap Back;
  TQuilloIO Reader;
  Reader.SetAttachedBitmap(&Back);
  Reader.IOParams().TiffImageIndex = 1;
  EXPECT_EQ(Reader.LoadFromFileTIFF(Path), 2);
  EXPECT_FALSE(Reader.Aborting);
  EXPECT_TRUE(SamePixels(Back, Pages[2]));
  EXPECT_EQ(Reader.IOParams().FileType, ioTIFF);
  // Parameters only, found by content.
  Reader.IOParams().TiffImageIndex = 0;
  Reader.ParamsFromFile(Path);
  EXPECT_EQ(Reader.IOParams().FileType, ioTIFF);
  EXPECT_EQ(Reader.IOParams().Width, 4);
  EXPECT_EQ(Reader.IOParams().TiffImageCount, 2);
  EXPECT_TRUE(SamePixels(Back, Pages[2]));
  // Inserting into a file that is no TIFF fails and leaves it.
  WriteFileBytes(Dir.File("not.tif"), Bytes(40, 'z'));
  EXPECT_EQ(IO.InsertToFileTIFF(Dir.File("not.tif")), 0);
  EXPECT_TRUE(IO.Aborting);
  EXPECT_EQ(ReadFileBytes(Dir.File("not.tif")), Bytes(40, 'z'));
}
