#include "quillo/codecs/tiff.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "quillo/codecs/detail/common.h"
#include "quillo/codecs/fax.h"
#include "quillo/codecs/jpeg.h"
#include "quillo/codecs/zstreams.h"
#include "quillo/core/colors.h"
#include "quillo/core/hooks.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

// ---------------------------------------------------------------------------------------------
// File structure

enum : uint16_t {
  kImageWidth = 256,
  kImageLength = 257,
  kBitsPerSample = 258,
  kCompression = 259,
  kPhotometric = 262,
  kFillOrder = 266,
  kDocumentName = 269,
  kImageDescription = 270,
  kStripOffsets = 273,
  kSamplesPerPixel = 277,
  kRowsPerStrip = 278,
  kStripByteCounts = 279,
  kXResolution = 282,
  kYResolution = 283,
  kPlanarConfig = 284,
  kPageName = 285,
  kXPosition = 286,
  kYPosition = 287,
  kT4Options = 292,
  kT6Options = 293,
  kResolutionUnit = 296,
  kPageNumber = 297,
  kSoftware = 305,
  kPredictor = 317,
  kColorMap = 320,
  kTileWidth = 322,
  kTileLength = 323,
  kTileOffsets = 324,
  kTileByteCounts = 325,
  kJpegTables = 347,
  kYCbCrCoefficients = 529,
  kYCbCrSubSampling = 530,
  kReferenceBlackWhite = 532,
};

enum : uint16_t { kBYTE = 1, kASCII = 2, kSHORT = 3, kLONG = 4, kRATIONAL = 5, kLONG8 = 16 };

// Bytes per value of the field types 0..18: the classic 0..13 and the 64-bit integers and IFD
// offsets of the large form (16..18).
constexpr int32_t kTypeSize[19] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4, 0, 0, 8, 8, 8};
int32_t TypeSize(uint16_t Type) {
  return Type < 19 ? kTypeSize[Type] : 0;
}

// Integer field types: BYTE, SHORT, LONG, their signed kinds, IFD, and the 64-bit kinds.
bool IsIntegerType(uint16_t Type) {
  return Type == kBYTE || Type == kSHORT || Type == kLONG || Type == 6 || Type == 8 || Type == 9 ||
         Type == 13 || Type == 16 || Type == 17 || Type == 18;
}

struct TOrder {
  bool BE = false;
  uint16_t U16(const uint8_t* P) const {
    return BE ? static_cast<uint16_t>(P[0] << 8 | P[1]) : static_cast<uint16_t>(P[1] << 8 | P[0]);
  }
  uint32_t U32(const uint8_t* P) const {
    return BE ? (uint32_t{P[0]} << 24 | uint32_t{P[1]} << 16 | uint32_t{P[2]} << 8 | P[3])
              : (uint32_t{P[3]} << 24 | uint32_t{P[2]} << 16 | uint32_t{P[1]} << 8 | P[0]);
  }
  void Put16(uint8_t* P, uint32_t V) const {
    if (BE) {
      P[0] = static_cast<uint8_t>(V >> 8), P[1] = static_cast<uint8_t>(V);
    } else {
      P[0] = static_cast<uint8_t>(V), P[1] = static_cast<uint8_t>(V >> 8);
    }
  }
  uint64_t U64(const uint8_t* P) const {
    return BE ? (uint64_t{U32(P)} << 32 | U32(P + 4)) : (uint64_t{U32(P + 4)} << 32 | U32(P));
  }
  void Put32(uint8_t* P, uint32_t V) const {
    for (int I = 0; I < 4; ++I) P[I] = static_cast<uint8_t>(V >> (BE ? 24 - 8 * I : 8 * I));
  }
  void Put64(uint8_t* P, uint64_t V) const {
    for (int I = 0; I < 8; ++I) P[I] = static_cast<uint8_t>(V >> (BE ? 56 - 8 * I : 8 * I));
  }
};

// The two forms of the file: classic (version 42: 32-bit offsets, 12-byte entries) and large
// (version 43: 64-bit offsets and counts, 20-byte entries, 8-byte IFD entry counts and links).
struct TForm {
  bool Big = false;
  int32_t EntrySize() const { return Big ? 20 : 12; }
  int32_t CountSize() const { return Big ? 8 : 2; }  // an IFD's entry count
  int32_t LinkSize() const { return Big ? 8 : 4; }   // offsets: header, links, value fields
  int32_t FirstLink() const { return Big ? 8 : 4; }  // where the header's first-IFD link sits
  int32_t HeaderSize() const { return Big ? 16 : 8; }
};

// The TIFF in a stream: offsets count from Base; every read is checked against the size.
struct TFile {
  TStream& S;
  int64_t Base = 0;
  int64_t Size = 0;  // bytes from Base to the end of the stream
  TOrder O;
  TForm Form;

  // An offset or link of the file's width; values beyond any file come back as -1, which no
  // read accepts.
  int64_t Offset(const uint8_t* P) const {
    if (!Form.Big) return O.U32(P);
    const uint64_t V = O.U64(P);
    return V > static_cast<uint64_t>(INT64_MAX) ? -1 : static_cast<int64_t>(V);
  }

  explicit TFile(TStream& Stream) : S(Stream) {}

  // False (nothing read) when Count bytes at Off are not all inside the file.
  bool ReadAt(int64_t Off, void* Buf, int64_t Count) {
    if (Off < 0 || Count < 0 || Off > Size || Count > Size - Off) return false;
    if (Count == 0) return true;
    S.SetPosition(Base + Off);
    return S.Read(Buf, Count) == Count;
  }

  // Reads the header at the stream's position; false when it is not a TIFF. A version of 43
  // with 8-byte offsets is the large form; any other version is read as the classic one.
  // First is the first IFD's offset.
  bool Open(int64_t& First) {
    Base = S.GetPosition();
    Size = std::max<int64_t>(S.GetSize() - Base, 0);
    uint8_t H[16];
    if (!ReadAt(0, H, 8)) return false;
    if (H[0] == 'I' && H[1] == 'I')
      O.BE = false;
    else if (H[0] == 'M' && H[1] == 'M')
      O.BE = true;
    else
      return false;
    Form.Big = O.U16(H + 2) == 43;
    if (Form.Big) {
      if (O.U16(H + 4) != 8 || !ReadAt(8, H + 8, 8)) return false;
      First = Offset(H + 8);
      return true;
    }
    First = O.U32(H + 4);
    return true;
  }
};

struct TEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint64_t Count = 0;
  uint8_t Field[8] = {};  // 4 bytes used in the classic form
};

// One IFD in the chain: where it is, its entry count and where its next-IFD link sits.
struct TIfdRef {
  int64_t Offset;
  int64_t Entries;
  int64_t LinkPos;
};

// Walks the IFD chain from First. The walk ends at a zero link, at an IFD whose entries do not
// fit in the file, and at an IFD met before (a cycle of any length). HeaderLinkAbnormal tells
// whether the last link was something other than 0.
std::vector<TIfdRef> WalkChain(TFile& F, int64_t First, bool* EndedAbnormally = nullptr) {
  std::vector<TIfdRef> Chain;
  std::set<int64_t> Seen;
  int64_t Off = First;
  bool Abnormal = false;
  while (Off != 0) {
    const TForm Fm = F.Form;
    uint8_t C[8];
    if (!Seen.insert(Off).second || !F.ReadAt(Off, C, Fm.CountSize())) {
      Abnormal = true;
      break;
    }
    const uint64_t N = Fm.Big ? F.O.U64(C) : F.O.U16(C);
    // The entries must fit in the file before their end is computed.
    if (N > static_cast<uint64_t>(F.Size / Fm.EntrySize())) {
      Abnormal = true;
      break;
    }
    const int64_t LinkPos = Off + Fm.CountSize() + Fm.EntrySize() * static_cast<int64_t>(N);
    uint8_t L[8];
    if (!F.ReadAt(LinkPos, L, Fm.LinkSize())) {
      Abnormal = true;
      break;
    }
    Chain.push_back({Off, static_cast<int64_t>(N), LinkPos});
    Off = F.Offset(L);
    if (Off < 0) {
      Abnormal = true;
      break;
    }
  }
  if (EndedAbnormally) *EndedAbnormally = Abnormal;
  return Chain;
}

// The entries of one IFD and typed access to their values.
class TIfd {
 public:
  TIfd(TFile& F, const TIfdRef& R) : FFile(F) {
    const TForm Fm = F.Form;
    std::vector<uint8_t> Raw(static_cast<size_t>(R.Entries) * Fm.EntrySize());
    if (!F.ReadAt(R.Offset + Fm.CountSize(), Raw.data(), static_cast<int64_t>(Raw.size()))) return;
    for (int64_t I = 0; I < R.Entries; ++I) {
      const uint8_t* P = Raw.data() + I * Fm.EntrySize();
      TEntry E;
      E.Tag = F.O.U16(P);
      E.Type = F.O.U16(P + 2);
      E.Count = Fm.Big ? F.O.U64(P + 4) : F.O.U32(P + 4);
      std::memcpy(E.Field, P + (Fm.Big ? 12 : 8), static_cast<size_t>(Fm.LinkSize()));
      FEntries.push_back(E);
    }
  }

  const std::vector<TEntry>& Entries() const { return FEntries; }

  const TEntry* Find(uint16_t Tag) const {
    for (const TEntry& E : FEntries)
      if (E.Tag == Tag) return &E;
    return nullptr;
  }

  // The raw value bytes of an entry: inside the entry when they fit in 4 bytes, else at the
  // offset it holds. False when they lie outside the file or the type is unknown.
  bool RawValue(const TEntry& E, std::vector<uint8_t>& Out) const {
    const int32_t Sz = TypeSize(E.Type);
    // The count is checked before the product: a 64-bit count times 8 would wrap.
    if (Sz == 0 || E.Count > static_cast<uint64_t>(FFile.Size / Sz) + 1) return false;
    const int64_t Bytes = static_cast<int64_t>(E.Count) * Sz;
    if (Bytes > std::max<int64_t>(FFile.Size, FFile.Form.LinkSize())) return false;
    Out.resize(static_cast<size_t>(Bytes));
    if (Bytes <= FFile.Form.LinkSize()) {
      if (Bytes > 0) std::memcpy(Out.data(), E.Field, static_cast<size_t>(Bytes));
      return true;
    }
    return FFile.ReadAt(FFile.Offset(E.Field), Out.data(), Bytes);
  }

  // The integer values of an integer entry (signed and 64-bit kinds too); empty when absent.
  std::vector<uint64_t> Values(uint16_t Tag) const {
    std::vector<uint64_t> V;
    const TEntry* E = Find(Tag);
    std::vector<uint8_t> Raw;
    if (!E || !IsIntegerType(E->Type) || !RawValue(*E, Raw)) return V;
    const int32_t Sz = TypeSize(E->Type);
    V.resize(static_cast<size_t>(E->Count));
    for (size_t I = 0; I < V.size(); ++I) {
      const uint8_t* P = Raw.data() + I * Sz;
      V[I] = Sz == 1 ? P[0] : Sz == 2 ? FFile.O.U16(P) : Sz == 4 ? FFile.O.U32(P) : FFile.O.U64(P);
    }
    return V;
  }

  int64_t Single(uint16_t Tag, int64_t Default) const {
    const TEntry* E = Find(Tag);
    if (!E || E->Count == 0) return Default;
    switch (E->Type) {
      case kBYTE:
        return E->Field[0];
      case 6:
        return static_cast<int8_t>(E->Field[0]);
      case kSHORT:
        return FFile.O.U16(E->Field);
      case 8:
        return static_cast<int16_t>(FFile.O.U16(E->Field));
      case kLONG:
        return FFile.O.U32(E->Field);
      case 9:
        return static_cast<int32_t>(FFile.O.U32(E->Field));
      case 16:
      case 17:
        if (!FFile.Form.Big) return Default;
        return static_cast<int64_t>(std::min<uint64_t>(FFile.O.U64(E->Field), INT64_MAX));
      default:
        return Default;
    }
  }

  // numerator / denominator of a RATIONAL (a denominator of 0 counts as 1), or the value of
  // an integer entry; 0 when absent.
  double Rational(uint16_t Tag) const {
    const TEntry* E = Find(Tag);
    if (!E) return 0;
    if (E->Type != kRATIONAL) return static_cast<double>(std::max<int64_t>(Single(Tag, 0), 0));
    uint8_t R[8];
    if (E->Count == 0) return 0;
    // The large form holds one rational in the entry itself.
    if (FFile.Form.Big && E->Count == 1)
      std::memcpy(R, E->Field, 8);
    else if (!FFile.ReadAt(FFile.Offset(E->Field), R, 8))
      return 0;
    const uint32_t Num = FFile.O.U32(R), Den = FFile.O.U32(R + 4);
    return static_cast<double>(Num) / (Den ? Den : 1);
  }

  // The values of a RATIONAL entry (a denominator of 0 counts as 1); empty when absent.
  std::vector<double> Rationals(uint16_t Tag) const {
    const TEntry* E = Find(Tag);
    std::vector<uint8_t> Raw;
    std::vector<double> V;
    if (!E || E->Type != kRATIONAL || !RawValue(*E, Raw)) return V;
    for (size_t I = 0; I + 8 <= Raw.size(); I += 8) {
      const uint32_t Den = FFile.O.U32(Raw.data() + I + 4);
      V.push_back(static_cast<double>(FFile.O.U32(Raw.data() + I)) / (Den ? Den : 1));
    }
    return V;
  }

  // The raw bytes of a BYTE or UNDEFINED field (empty when absent).
  std::vector<uint8_t> Bytes(uint16_t Tag) const {
    const TEntry* E = Find(Tag);
    std::vector<uint8_t> Raw;
    if (!E || (E->Type != kBYTE && E->Type != 7) || !RawValue(*E, Raw)) return {};
    return Raw;
  }

  // An ASCII entry up to its first NUL; empty when absent.
  std::string String(uint16_t Tag) const {
    const TEntry* E = Find(Tag);
    std::vector<uint8_t> Raw;
    if (!E || E->Type != kASCII || !RawValue(*E, Raw)) return {};
    std::string S(Raw.begin(), Raw.end());
    return S.substr(0, S.find('\0'));
  }

 private:
  TFile& FFile;
  std::vector<TEntry> FEntries;
};

// ---------------------------------------------------------------------------------------------
// Reading

// Every byte value with its bits in reverse order.
const std::array<uint8_t, 256>& ReversedBits() {
  static const std::array<uint8_t, 256> Table = [] {
    std::array<uint8_t, 256> T{};
    for (int I = 0; I < 256; ++I)
      for (int B = 0; B < 8; ++B)
        if (I & (1 << B)) T[static_cast<size_t>(I)] |= static_cast<uint8_t>(0x80 >> B);
    return T;
  }();
  return Table;
}

// Luma and chroma samples (photometric 6) outside JPEG: data units of H x V luma samples, left
// to right and top to bottom, followed by one Cb and one Cr for the block; a row of units covers
// V rows of pixels. The conversion is the usual fixed-point one over the page's luma
// coefficients and reference black and white, in 16-bit fractions, so that the result matches
// the common readers' to the bit.
struct TYCbCr {
  int32_t H = 2, V = 2;
  std::array<int32_t, 256> YTab{}, CrR{}, CbB{}, CrG{}, CbG{};

  void Init(const TIfd& Ifd) {
    const std::vector<uint64_t> Sub = Ifd.Values(kYCbCrSubSampling);
    if (Sub.size() >= 2) H = static_cast<int32_t>(Sub[0]), V = static_cast<int32_t>(Sub[1]);
    std::vector<double> Luma = Ifd.Rationals(kYCbCrCoefficients);
    if (Luma.size() < 3) Luma = {0.299, 0.587, 0.114};
    std::vector<double> Ref = Ifd.Rationals(kReferenceBlackWhite);
    if (Ref.size() < 6) Ref = {0, 255, 128, 255, 128, 255};
    constexpr int32_t Shift = 16;
    auto Fix = [](float X) { return static_cast<int32_t>(X * (1 << Shift) + 0.5f); };
    auto Clamp = [](float X, float Lo, float Hi) { return X < Lo ? Lo : X > Hi ? Hi : X; };
    const float LR = static_cast<float>(Luma[0]), LG = static_cast<float>(Luma[1]),
                LB = static_cast<float>(Luma[2]);
    if (LG == 0) return;
    const float F1 = 2 - 2 * LR, F2 = LR * F1 / LG, F3 = 2 - 2 * LB, F4 = LB * F3 / LG;
    const int32_t D1 = Fix(Clamp(F1, 0, 2)), D2 = -Fix(Clamp(F2, 0, 2));
    const int32_t D3 = Fix(Clamp(F3, 0, 2)), D4 = -Fix(Clamp(F4, 0, 2));
    auto Code2V = [](float C, float Black, float White, float Range) {
      const float D = White - Black != 0 ? White - Black : 1;
      return (C - Black) * Range / D;
    };
    auto Wide = [&](float X) { return static_cast<int32_t>(Clamp(X, -128.0f * 32, 128.0f * 32)); };
    const float R[6] = {static_cast<float>(Ref[0]), static_cast<float>(Ref[1]),
                        static_cast<float>(Ref[2]), static_cast<float>(Ref[3]),
                        static_cast<float>(Ref[4]), static_cast<float>(Ref[5])};
    for (int32_t I = 0, X = -128; I < 256; ++I, ++X) {
      const int32_t Cr = Wide(Code2V(static_cast<float>(X), R[4] - 128, R[5] - 128, 127));
      const int32_t Cb = Wide(Code2V(static_cast<float>(X), R[2] - 128, R[3] - 128, 127));
      const size_t K = static_cast<size_t>(I);
      CrR[K] = (D1 * Cr + (1 << (Shift - 1))) >> Shift;
      CbB[K] = (D3 * Cb + (1 << (Shift - 1))) >> Shift;
      CrG[K] = D2 * Cr;
      CbG[K] = D4 * Cb + (1 << (Shift - 1));
      YTab[K] = Wide(Code2V(static_cast<float>(X + 128), R[0], R[1], 255));
    }
  }

  bool Valid() const { return (H == 1 || H == 2 || H == 4) && (V == 1 || V == 2 || V == 4); }
  int64_t UnitRowBytes(int64_t Pixels) const { return (Pixels + H - 1) / H * (H * V + 2); }

  TRGB Pixel(uint8_t Y, uint8_t Cb, uint8_t Cr) const {
    const int32_t L = YTab[Y];
    auto C = [](int32_t I) { return static_cast<uint8_t>(std::clamp(I, 0, 255)); };
    return CreateRGB(C(L + CrR[Cr]), C(L + ((CbG[Cb] + CrG[Cr]) >> 16)), C(L + CbB[Cb]));
  }

  // One row of units into Rows (at most V) rows of Pixels 24-bit pixels.
  void Convert(const uint8_t* Units, int64_t Pixels, uint8_t* const* Dest, int32_t Rows) const {
    const int64_t Across = (Pixels + H - 1) / H;
    for (int64_t U = 0; U < Across; ++U, Units += H * V + 2) {
      const uint8_t Cb = Units[H * V], Cr = Units[H * V + 1];
      for (int32_t J = 0; J < Rows; ++J) {
        TRGB* D = reinterpret_cast<TRGB*>(Dest[J]);
        for (int32_t I = 0; I < H && U * H + I < Pixels; ++I)
          D[U * H + I] = Pixel(Units[J * H + I], Cb, Cr);
      }
    }
  }
};

// What one page needs for decoding.
struct TPage {
  int64_t Width = 0, Height = 0;
  int32_t Spp = 1, Bps = 1;
  int64_t RowsPerStrip = 0;
  int64_t TileWidth = -1, TileLength = -1;
  int32_t Photometric = 2, Planar = 1, Compression = 1, Predictor = 1;
  int64_t T4Options = 0;
  int32_t FillOrder = 1;
  std::string Software;
  std::vector<uint64_t> StripOffsets, StripCounts, TileOffsets, TileCounts;
  std::vector<TRGB> Palette;
  TTIFFLZWDecompFunc Lzw = nullptr;
  std::vector<uint8_t> JpegTables;  // shared by the chunks of a JPEG-compressed page
  bool JpegRgb = false;             // three JPEG components stored as red, green, blue
  bool BE = false;
  bool OneBit = false;
  bool YCbCr = false;  // luma and chroma units, not JPEG-coded
  TYCbCr Chroma;
};

bool IsFax(int32_t Compression) {
  return Compression >= 2 && Compression <= 4;
}

// JPEG with its tables in the page's JPEGTables field (the older form, 6, is not read).
constexpr int32_t kJpegCompression = 7;

// Deflate (zlib streams): 8, and 32946 as the first writers numbered it.
bool IsDeflate(int32_t Compression) {
  return Compression == 8 || Compression == 32946;
}

// Decodes the rows of one strip or tile: Fetch gives the next raw row (RowLen bytes, samples
// unpacked to one byte each below 8 bits, predictor undone), or nullptr when the data fails.
class TRowSource {
 public:
  TRowSource(const TPage& P, std::vector<uint8_t>& Data, int64_t Pixels, int32_t Samples)
      : FP(P), FData(Data), FPixels(Pixels), FSamples(Samples) {
    FRowLen = (Pixels * Samples * P.Bps + 7) / 8;
    FWork.assign(static_cast<size_t>(FRowLen) + 16, 0);
    if (IsFax(P.Compression)) FFax.Reset(static_cast<int32_t>(Pixels));
    // Fill order 2 stores the first bit in the least significant place; turn it round once.
    if (P.FillOrder == 2) {
      const std::array<uint8_t, 256>& R = ReversedBits();
      for (uint8_t& B : FData) B = R[B];
    }
    if (P.Compression == 5 || P.Predictor == 2 || P.Bps < 8) FUnpacked.resize(FWork.size());
    if (IsDeflate(P.Compression)) Inflate();
    if (P.Compression == kJpegCompression)
      QLJpegDecodeChunk(P.JpegTables.data(), P.JpegTables.size(), FData.data(), FData.size(),
                        static_cast<int32_t>(Pixels), Samples, P.JpegRgb, ChunkRows(), FInflated);
  }
  ~TRowSource() {
    // The decoder hook is told that the strip has ended, whatever happened.
    if (FP.Compression == 5 && FP.Lzw) FP.Lzw(nullptr, 0, 0, FLzwState);
  }
  TRowSource(const TRowSource&) = delete;
  TRowSource& operator=(const TRowSource&) = delete;

  int64_t RowLen() const { return FRowLen; }

  // Direct, when given, is where a fax row may be decoded straight away (the bitmap's row).
  const uint8_t* Fetch(uint8_t* Direct = nullptr) {
    if (Direct && IsFax(FP.Compression) && FP.OneBit) FFaxOut = Direct;
    const uint8_t* Row = FetchRaw();
    FFaxOut = nullptr;
    if (!Row) return nullptr;
    if (FP.Bps < 8 && !FP.OneBit) return Unpack(Row);
    return Row;
  }

 private:
  const uint8_t* FetchRaw() {
    const int64_t Size = static_cast<int64_t>(FData.size());
    const uint8_t* D = FData.data();
    const int32_t W = static_cast<int32_t>(FPixels);
    switch (FP.Compression) {
      case 1: {
        if (FRowLen > Size - FPos) return nullptr;
        const uint8_t* R = D + FPos;
        FPos += FRowLen;
        return R;
      }
      case 2: {
        if (FPos >= Size) return nullptr;
        FPos += CCITTHuffmanGetLine(FaxOut(), D + FPos, Size - FPos, W, 1);
        return FaxOut();
      }
      case 3:
        if (FP.T4Options & 1)
          FBit = FFax.GetLine(FaxOut(), D, Size, FBit, 1);
        else
          FBit = _CCITTHuffmanGetLine(FaxOut(), D, Size, W, FBit, 1);
        return FaxOut();
      case 4:
        FBit = FFax.GetLine(FaxOut(), D, Size, FBit, 1);
        return FaxOut();
      case 5: {
        if (!FP.Lzw) return nullptr;
        const uint8_t* R = FP.Lzw(D, Size, static_cast<int32_t>(FRowLen), FLzwState);
        if (!R || FP.Predictor != 2) return R;
        Integrate(R, FWork.data());
        return FWork.data();
      }
      case 32773:
        return PackBits(D, Size) ? FWork.data() : nullptr;
      case 7:
      case 8:
      case 32946: {
        if (FRowLen > static_cast<int64_t>(FInflated.size()) - FPos) return nullptr;
        const uint8_t* R = FInflated.data() + FPos;
        FPos += FRowLen;
        // The predictor belongs to the lossless codings only.
        if (FP.Predictor != 2 || FP.Compression == kJpegCompression) return R;
        Integrate(R, FWork.data());
        return FWork.data();
      }
      default:
        return nullptr;
    }
  }

  // The rows one strip or tile holds at most.
  int64_t ChunkRows() const {
    return std::max<int64_t>(
        FP.TileLength > 0 ? FP.TileLength : std::min(FP.RowsPerStrip, FP.Height), 1);
  }

  // The strip's or tile's zlib stream inflated whole, at most its rows' worth. The buffer grows
  // with what the data yields, so a short stream claiming a big strip costs little; a damaged
  // or cut stream keeps the rows it gave.
  void Inflate() {
    const int64_t Max = ChunkRows() * FRowLen;
    z_stream Z{};
    if (inflateInit(&Z) != Z_OK) return;
    Z.next_in = FData.data();
    Z.avail_in = static_cast<uInt>(std::min<size_t>(FData.size(), UINT32_MAX));
    int64_t Have = 0;
    for (;;) {
      const int64_t Room = std::min<int64_t>(
          Max, std::max<int64_t>({Have * 2, static_cast<int64_t>(FData.size()) * 4, 1 << 16}));
      if (Room <= Have) break;
      FInflated.resize(static_cast<size_t>(Room));
      Z.next_out = FInflated.data() + Have;
      Z.avail_out = static_cast<uInt>(Room - Have);
      const int Code = inflate(&Z, Z_SYNC_FLUSH);
      Have = Room - Z.avail_out;
      if (Code != Z_OK || Z.avail_out != 0) break;  // the end, an error, or input used up
    }
    inflateEnd(&Z);
    FInflated.resize(static_cast<size_t>(Have));
  }

  uint8_t* FaxOut() { return FFaxOut ? FFaxOut : FWork.data(); }

  // Header n: 0..127 copies n + 1 bytes, -127..-1 repeats the next byte 1 - n times, -128 is
  // nothing. Runs are cut at the end of the row.
  bool PackBits(const uint8_t* D, int64_t Size) {
    int64_t Out = 0;
    uint8_t* W = FWork.data();
    while (Out < FRowLen) {
      if (FPos >= Size) return false;
      const int32_t N = static_cast<int8_t>(D[FPos++]);
      if (N >= 0) {
        const int64_t Count = N + 1;
        if (Count > Size - FPos) return false;
        const int64_t Take = std::min(Count, FRowLen - Out);
        std::memcpy(W + Out, D + FPos, static_cast<size_t>(Take));
        FPos += Count;
        Out += Take;
      } else if (N != -128) {
        if (FPos >= Size) return false;
        const int64_t Take = std::min<int64_t>(1 - N, FRowLen - Out);
        std::memset(W + Out, D[FPos++], static_cast<size_t>(Take));
        Out += Take;
      }
    }
    return true;
  }

  // Predictor 2: each sample holds the difference to the same channel one pixel to the left.
  void Integrate(const uint8_t* In, uint8_t* Row) const {
    const int64_t N = FPixels * FSamples;
    if (FP.Bps == 8) {
      for (int64_t I = 0; I < std::min<int64_t>(FSamples, N); ++I) Row[I] = In[I];
      for (int64_t I = FSamples; I < N; ++I)
        Row[I] = static_cast<uint8_t>(In[I] + Row[I - FSamples]);
    } else if (FP.Bps == 16) {
      TOrder O{FP.BE};
      for (int64_t I = 0; I < std::min<int64_t>(FSamples, N); ++I)
        O.Put16(Row + 2 * I, O.U16(In + 2 * I));
      for (int64_t I = FSamples; I < N; ++I)
        O.Put16(Row + 2 * I,
                static_cast<uint16_t>(O.U16(In + 2 * I) + O.U16(Row + 2 * (I - FSamples))));
    } else {
      std::memcpy(Row, In, static_cast<size_t>(FRowLen));
    }
  }

  // Samples of fewer than 8 bits become one byte each, most significant bits first.
  const uint8_t* Unpack(const uint8_t* Row) {
    const int64_t N = FPixels * FSamples;
    if (static_cast<int64_t>(FUnpacked.size()) < N) FUnpacked.resize(static_cast<size_t>(N));
    const int32_t B = FP.Bps;
    const uint32_t Mask = (1u << B) - 1;
    int64_t Bit = 0;
    for (int64_t I = 0; I < N; ++I, Bit += B) {
      const int64_t Byte = Bit >> 3;
      const uint32_t Two = (uint32_t{Row[Byte]} << 8) | (Byte + 1 < FRowLen ? Row[Byte + 1] : 0);
      FUnpacked[static_cast<size_t>(I)] =
          static_cast<uint8_t>((Two >> (16 - B - (Bit & 7))) & Mask);
    }
    return FUnpacked.data();
  }

  const TPage& FP;
  std::vector<uint8_t>& FData;
  int64_t FPixels;
  int32_t FSamples;
  int64_t FRowLen = 0;
  int64_t FPos = 0;
  int64_t FBit = 0;
  intptr_t FLzwState = 0;
  std::vector<uint8_t> FWork, FUnpacked, FInflated;
  TQLFax2DDecoder FFax;
  uint8_t* FFaxOut = nullptr;
};

// Conversion of a raw row (as TRowSource gives it) to the bitmap's layout.
class TConverter {
 public:
  explicit TConverter(const TPage& P) : FP(P) {
    const int32_t Max = (1 << std::min(P.Bps, 8)) - 1;
    for (int32_t V = 0; V < 256; ++V)
      FScale[V] = static_cast<uint8_t>(P.Bps >= 8 ? V : std::min(V, Max) * 255 / std::max(Max, 1));
    FShift16 = P.Software.compare(0, 15, "Look@Molli v1.1") == 0 ? 4 : 8;
  }

  // True when this page's photometric and samples can be converted.
  bool Supported() const {
    const TPage& P = FP;
    if (P.OneBit) return true;
    switch (P.Photometric) {
      case 0:
      case 1:
        return P.Bps <= 8 || P.Bps == 16;
      case 2:
        return (P.Spp >= 3 && (P.Bps <= 8 || P.Bps == 16)) || (P.Spp == 1 && P.Bps == 16);
      case 3:
        return P.Spp == 1 && P.Bps <= 8 && !P.Palette.empty();
      case 5:
        return P.Spp >= 4 && (P.Bps == 8 || P.Bps == 16);
      case 6:
        return P.YCbCr && P.Spp == 3 && P.Bps == 8 && P.Chroma.Valid();
      case 8:
        return P.Spp >= 3 && P.Bps == 8;
      default:
        return false;
    }
  }

  void Convert(const uint8_t* Raw, int64_t Pixels, uint8_t* Dest) const {
    const TPage& P = FP;
    if (P.OneBit) return ConvertOneBit(Raw, Pixels, Dest);
    TRGB* D = reinterpret_cast<TRGB*>(Dest);
    const int64_t S = P.Spp;
    TOrder O{P.BE};
    switch (P.Photometric) {
      case 0:
      case 1: {
        const bool Inv = P.Photometric == 0;
        for (int64_t X = 0; X < Pixels; ++X) {
          uint8_t G;
          if (P.Bps == 16) {
            const uint32_t V = O.U16(Raw + 2 * S * X);
            G = static_cast<uint8_t>((Inv ? 65535 - V : V) >> FShift16);
          } else {
            G = FScale[Raw[S * X]];
            if (Inv) G = static_cast<uint8_t>(255 - G);
          }
          D[X] = TRGB{G, G, G};
        }
        return;
      }
      case 2:
        if (P.Spp == 1) {
          for (int64_t X = 0; X < Pixels; ++X) {
            const uint32_t V = O.U16(Raw + 2 * X);
            D[X] = CreateRGB(QLExpand5to8((V >> 10) & 31), QLExpand5to8((V >> 5) & 31),
                             QLExpand5to8(V & 31));
          }
        } else if (P.Bps == 16) {
          const int Hi = P.BE ? 0 : 1;  // the most significant byte of each sample
          for (int64_t X = 0; X < Pixels; ++X) {
            const uint8_t* Px = Raw + 2 * S * X + Hi;
            D[X] = CreateRGB(Px[0], Px[2], Px[4]);
          }
        } else if (P.Bps == 8 && S == 3) {
          for (int64_t X = 0; X < Pixels; ++X, Raw += 3) D[X] = TRGB{Raw[2], Raw[1], Raw[0]};
        } else {
          for (int64_t X = 0; X < Pixels; ++X) {
            const uint8_t* Px = Raw + S * X;
            D[X] = CreateRGB(FScale[Px[0]], FScale[Px[1]], FScale[Px[2]]);
          }
        }
        return;
      case 3: {
        const size_t N = P.Palette.size();
        for (int64_t X = 0; X < Pixels; ++X) D[X] = Raw[X] < N ? P.Palette[Raw[X]] : TRGB{};
        return;
      }
      case 5: {
        const int64_t Step = P.Bps == 16 ? 2 : 1;
        const int Hi = P.Bps == 16 && !P.BE ? 1 : 0;
        for (int64_t X = 0; X < Pixels; ++X) {
          const uint8_t* Px = Raw + Step * S * X + Hi;
          const int32_t C = Px[0], M = Px[Step], Y = Px[2 * Step], K = Px[3 * Step];
          D[X] = CreateRGB(static_cast<uint8_t>((255 - C) * (255 - K) / 255),
                           static_cast<uint8_t>((255 - M) * (255 - K) / 255),
                           static_cast<uint8_t>((255 - Y) * (255 - K) / 255));
        }
        return;
      }
      case 8:
        for (int64_t X = 0; X < Pixels; ++X) D[X] = Lab(Raw + S * X);
        return;
      default:
        return;
    }
  }

 private:
  void ConvertOneBit(const uint8_t* Raw, int64_t Pixels, uint8_t* Dest) const {
    const size_t N = static_cast<size_t>((Pixels + 7) / 8);
    // The fax decoders give white as 1, which white-is-zero pages keep; raw rows store the
    // photometric's own bits, of which black-is-zero matches the bitmap.
    const bool Invert = IsFax(FP.Compression) ? FP.Photometric == 1 : FP.Photometric != 1;
    if (!Invert) {
      if (Dest != Raw) std::memcpy(Dest, Raw, N);
    } else {
      for (size_t I = 0; I < N; ++I) Dest[I] = static_cast<uint8_t>(~Raw[I]);
    }
  }

  static TRGB Lab(const uint8_t* Px) {
    auto Signed = [](uint8_t V) { return V == 0x80 ? 128 : static_cast<int8_t>(V); };
    const double L = Px[0] / 255.0 * 100.0;
    const double A = (Signed(Px[1]) + 127) / 255.0 * 200.0 - 100.0;
    const double Bb = (Signed(Px[2]) + 127) / 255.0 * 200.0 - 100.0;
    const double Fy = (L + 16.0) / 116.0, Fx = Fy + A / 500.0, Fz = Fy - Bb / 200.0;
    double X, Y, Z;
    if (L >= 7.9996) {
      X = Fx * Fx * Fx, Y = Fy * Fy * Fy, Z = Fz * Fz * Fz;
    } else {
      Y = L / 903.3, X = Y + A / 3893.5, Z = Y - Bb / 1557.4;
    }
    auto Channel = [](double V) -> uint8_t {
      if (V <= 0) return 0;
      if (V >= 1) return 255;
      return static_cast<uint8_t>(std::min(255, QLTrunc(std::sqrt(V) * 256.0)));
    };
    return CreateRGB(Channel(2.69 * X - 1.276 * Y - 0.414 * Z),
                     Channel(-1.022 * X + 1.978 * Y + 0.044 * Z),
                     Channel(0.061 * X - 0.224 * Y + 1.163 * Z));
  }

  const TPage& FP;
  uint8_t FScale[256];
  int FShift16 = 8;
};

// The bytes of one strip or tile: its byte count, or the rest of the file when the count is
// missing or 0. False when they do not lie inside the file.
bool LoadChunk(TFile& F, uint64_t Offset, const std::vector<uint64_t>& Counts, size_t I,
               std::vector<uint8_t>& Out) {
  if (Offset >= static_cast<uint64_t>(F.Size)) return false;
  const int64_t Off = static_cast<int64_t>(Offset);
  uint64_t Count = I < Counts.size() ? Counts[I] : 0;
  if (Count == 0) Count = static_cast<uint64_t>(F.Size - Off);
  if (Count > static_cast<uint64_t>(F.Size - Off)) return false;
  Out.resize(static_cast<size_t>(Count));
  return F.ReadAt(Off, Out.data(), static_cast<int64_t>(Count));
}

void Report(TProgressRec& Prog, int64_t Done, int64_t Total) {
  if (Prog.Handler && Total > 0)
    Prog.Handler(Prog.Sender, static_cast<int32_t>(Done * 100 / Total));
}

// Strips of luma and chroma units: each row of units gives up to V rows of the bitmap (tiles
// are read the same way in DecodeTiles).
void DecodeYCbCrStrips(TFile& F, const TPage& P, TBitmap& Bmp, TProgressRec& Prog) {
  const TYCbCr& C = P.Chroma;
  const int64_t Rps = P.RowsPerStrip;
  const int64_t Needed = (P.Height + Rps - 1) / Rps;
  int64_t Y = 0;
  std::vector<uint8_t> Data;
  for (int64_t I = 0; I < Needed; ++I) {
    if (!LoadChunk(F, P.StripOffsets[static_cast<size_t>(I)], P.StripCounts, static_cast<size_t>(I),
                   Data))
      return QLSetAbort(Prog);
    // The units of a row as one row of bytes, one sample each.
    TPage Bytes = P;
    Bytes.Predictor = 1;
    TRowSource Src(Bytes, Data, C.UnitRowBytes(P.Width), 1);
    const int64_t End = std::min(P.Height, Y + Rps);
    while (Y < End) {
      const uint8_t* Units = Src.Fetch();
      if (!Units) return QLSetAbort(Prog);
      const int32_t Rows = static_cast<int32_t>(std::min<int64_t>(C.V, End - Y));
      uint8_t* Dest[4];
      for (int32_t J = 0; J < Rows; ++J) Dest[J] = Bmp.ScanLine(static_cast<int32_t>(Y + J));
      C.Convert(Units, P.Width, Dest, Rows);
      Y += Rows;
      Report(Prog, Y, P.Height);
      if (QLAborted(Prog)) return;
    }
  }
}

// Strips in planar configuration 1: each strip's rows straight into the bitmap.
void DecodeStrips(TFile& F, const TPage& P, TBitmap& Bmp, TProgressRec& Prog) {
  if (P.YCbCr) return DecodeYCbCrStrips(F, P, Bmp, Prog);
  const TConverter Conv(P);
  const int64_t Rps = P.RowsPerStrip;
  const int64_t Needed = (P.Height + Rps - 1) / Rps;
  int64_t Y = 0;
  std::vector<uint8_t> Data;
  for (int64_t I = 0; I < Needed; ++I) {
    if (static_cast<size_t>(I) >= P.StripOffsets.size() ||
        !LoadChunk(F, P.StripOffsets[static_cast<size_t>(I)], P.StripCounts, static_cast<size_t>(I),
                   Data))
      return QLSetAbort(Prog);
    TRowSource Src(P, Data, P.Width, P.Spp);
    const int64_t Rows = std::min(Rps, P.Height - Y);
    for (int64_t R = 0; R < Rows; ++R, ++Y) {
      uint8_t* Dest = Bmp.ScanLine(static_cast<int32_t>(Y));
      const uint8_t* Row = Src.Fetch(Dest);
      if (!Row) return QLSetAbort(Prog);
      Conv.Convert(Row, P.Width, Dest);
      Report(Prog, Y + 1, P.Height);
      if (QLAborted(Prog)) return;
    }
  }
}

// Strips in planar configuration 2: one set of strips per sample, decoded together and
// interleaved into chunky rows.
void DecodePlanes(TFile& F, const TPage& P, TBitmap& Bmp, TProgressRec& Prog) {
  TPage Plane = P;
  const TConverter Conv(P);
  const int64_t Rps = P.RowsPerStrip;
  const int64_t PerPlane = (P.Height + Rps - 1) / Rps;
  const int32_t Bytes = P.Bps / 8;
  if (static_cast<int64_t>(P.StripOffsets.size()) < PerPlane * P.Spp) return QLSetAbort(Prog);
  std::vector<uint8_t> Chunky(static_cast<size_t>(P.Width * P.Spp * Bytes));
  std::vector<std::vector<uint8_t>> Data(static_cast<size_t>(P.Spp));
  int64_t Y = 0;
  for (int64_t I = 0; I < PerPlane; ++I) {
    std::vector<std::unique_ptr<TRowSource>> Src;
    for (int32_t S = 0; S < P.Spp; ++S) {
      const size_t K = static_cast<size_t>(S * PerPlane + I);
      if (!LoadChunk(F, P.StripOffsets[K], P.StripCounts, K, Data[static_cast<size_t>(S)]))
        return QLSetAbort(Prog);
      Src.push_back(std::make_unique<TRowSource>(Plane, Data[static_cast<size_t>(S)], P.Width, 1));
    }
    const int64_t Rows = std::min(Rps, P.Height - Y);
    for (int64_t R = 0; R < Rows; ++R, ++Y) {
      for (int32_t S = 0; S < P.Spp; ++S) {
        const uint8_t* Row = Src[static_cast<size_t>(S)]->Fetch();
        if (!Row) return QLSetAbort(Prog);
        for (int64_t X = 0; X < P.Width; ++X)
          std::memcpy(&Chunky[static_cast<size_t>((X * P.Spp + S) * Bytes)], Row + X * Bytes,
                      static_cast<size_t>(Bytes));
      }
      Conv.Convert(Chunky.data(), P.Width, Bmp.ScanLine(static_cast<int32_t>(Y)));
      Report(Prog, Y + 1, P.Height);
      if (QLAborted(Prog)) return;
    }
  }
}

// Tiles (planar configuration 1), left to right and top to bottom, each clipped to the image.
void DecodeTiles(TFile& F, const TPage& P, TBitmap& Bmp, TProgressRec& Prog) {
  const TConverter Conv(P);
  const int64_t Across = (P.Width + P.TileWidth - 1) / P.TileWidth;
  const int64_t Down = (P.Height + P.TileLength - 1) / P.TileLength;
  const int64_t Total = Across * Down;
  std::vector<uint8_t> Data;
  std::vector<uint8_t> Line(
      static_cast<size_t>(P.OneBit ? (P.TileWidth + 7) / 8 : P.TileWidth * 3));
  std::vector<uint8_t> Block(P.YCbCr ? static_cast<size_t>(P.Chroma.V * P.TileWidth * 3) : 0);
  for (int64_t I = 0; I < Total; ++I) {
    if (static_cast<size_t>(I) >= P.TileOffsets.size() ||
        !LoadChunk(F, P.TileOffsets[static_cast<size_t>(I)], P.TileCounts, static_cast<size_t>(I),
                   Data))
      return QLSetAbort(Prog);
    const int64_t Col = (I % Across) * P.TileWidth, Row0 = (I / Across) * P.TileLength;
    const int64_t Cols = std::min(P.TileWidth, P.Width - Col);
    const int64_t Rows = std::min(P.TileLength, P.Height - Row0);
    if (P.YCbCr) {
      // Rows of units, each giving up to V rows of the tile.
      const TYCbCr& C = P.Chroma;
      TPage Bytes = P;
      Bytes.Predictor = 1;
      TRowSource Src(Bytes, Data, C.UnitRowBytes(P.TileWidth), 1);
      for (int64_t R = 0; R < Rows; R += C.V) {
        const uint8_t* Units = Src.Fetch();
        if (!Units) return QLSetAbort(Prog);
        const int32_t N = static_cast<int32_t>(std::min<int64_t>(C.V, Rows - R));
        uint8_t* Dest[4];
        for (int32_t J = 0; J < N; ++J) Dest[J] = Block.data() + J * P.TileWidth * 3;
        C.Convert(Units, P.TileWidth, Dest, N);
        for (int32_t J = 0; J < N; ++J)
          std::memcpy(Bmp.ScanLine(static_cast<int32_t>(Row0 + R + J)) + Col * 3, Dest[J],
                      static_cast<size_t>(Cols * 3));
      }
      Report(Prog, I + 1, Total);
      if (QLAborted(Prog)) return;
      continue;
    }
    TRowSource Src(P, Data, P.TileWidth, P.Spp);
    for (int64_t R = 0; R < Rows; ++R) {
      const uint8_t* Raw = Src.Fetch();
      if (!Raw) return QLSetAbort(Prog);
      Conv.Convert(Raw, P.TileWidth, Line.data());
      uint8_t* Dest = Bmp.ScanLine(static_cast<int32_t>(Row0 + R));
      if (P.OneBit)
        _CopyBits(Dest, Line.data(), static_cast<int32_t>(Col), static_cast<int32_t>(Cols), 0);
      else
        std::memcpy(Dest + Col * 3, Line.data(), static_cast<size_t>(Cols * 3));
    }
    Report(Prog, I + 1, Total);
    if (QLAborted(Prog)) return;
  }
}

TIOTIFFCompression CompressionEnum(int32_t C, int64_t T4, TIOTIFFCompression Old) {
  switch (C) {
    case 1:
      return ioTIFF_UNCOMPRESSED;
    case 2:
      return ioTIFF_CCITT1D;
    case 3:
      return (T4 & 1) ? ioTIFF_G3FAX2D : ioTIFF_G3FAX1D;
    case 4:
      return ioTIFF_G4FAX;
    case 5:
      return ioTIFF_LZW;
    case 6:
      return ioTIFF_OLDJPEG;
    case 7:
      return ioTIFF_JPEG;
    case 32773:
      return ioTIFF_PACKBITS;
    case 8:
    case 32946:
      return ioTIFF_DEFLATE;
    default:
      return Old;
  }
}

void ReadPage(TFile& F, const TIfd& Ifd, TBitmap& Bmp, TIOParamsVals& Prm, TProgressRec& Prog,
              bool Preview);

void ReadTIFF(TBitmap& Bmp, TStream& S, int32_t& PageCount, TIOParamsVals* Params,
              TProgressRec& Prog, bool Preview) {
  PageCount = 0;
  TFile F(S);
  int64_t First;
  if (!F.Open(First)) return QLSetAbort(Prog);
  const std::vector<TIfdRef> Chain = WalkChain(F, First);
  PageCount = static_cast<int32_t>(Chain.size());
  if (Params) Params->TiffImageCount = PageCount;
  if (!Params || Params->TiffImageIndex < 0 || Params->TiffImageIndex >= PageCount) return;
  ReadPage(F, TIfd(F, Chain[static_cast<size_t>(Params->TiffImageIndex)]), Bmp, *Params, Prog,
           Preview);
}

// Every page in turn, from one walk of the chain.
int32_t ReadEachPage(TStream& S, TBitmap& Bmp, TIOParamsVals& Prm, TProgressRec& Prog,
                     const std::function<bool(int32_t)>& OnPage) {
  TFile F(S);
  int64_t First;
  if (!F.Open(First)) {
    QLSetAbort(Prog);
    return 0;
  }
  const std::vector<TIfdRef> Chain = WalkChain(F, First);
  const int32_t N = static_cast<int32_t>(Chain.size());
  for (int32_t I = 0; I < N; ++I) {
    Prm.TiffImageCount = N;
    Prm.TiffImageIndex = I;
    ReadPage(F, TIfd(F, Chain[static_cast<size_t>(I)]), Bmp, Prm, Prog, false);
    if (QLAborted(Prog) || !OnPage(I)) return I + (QLAborted(Prog) ? 0 : 1);
  }
  return N;
}

// Reads the page of Ifd into Bmp and Prm.
void ReadPage(TFile& F, const TIfd& Ifd, TBitmap& Bmp, TIOParamsVals& Prm, TProgressRec& Prog,
              bool Preview) {
  TPage P;
  P.BE = F.O.BE;
  P.Width = Ifd.Single(kImageWidth, 0);
  P.Height = Ifd.Single(kImageLength, 0);
  P.Spp = static_cast<int32_t>(std::clamp<int64_t>(Ifd.Single(kSamplesPerPixel, 1), 0, 65535));
  const std::vector<uint64_t> Bits = Ifd.Values(kBitsPerSample);
  P.Bps = Bits.empty() ? 1 : static_cast<int32_t>(std::min<uint64_t>(Bits[0], 65535));
  for (uint64_t B : Bits)
    if (B != Bits[0]) return QLSetAbort(Prog);
  P.RowsPerStrip = Ifd.Single(kRowsPerStrip, -1);
  if (P.RowsPerStrip <= 0 || P.RowsPerStrip > P.Height)
    P.RowsPerStrip = std::max<int64_t>(P.Height, 1);
  P.TileWidth = Ifd.Single(kTileWidth, -1);
  P.TileLength = Ifd.Single(kTileLength, -1);
  P.Photometric = static_cast<int32_t>(Ifd.Single(kPhotometric, 2));
  P.Planar = static_cast<int32_t>(Ifd.Single(kPlanarConfig, 1));
  P.Compression = static_cast<int32_t>(Ifd.Single(kCompression, 1));
  P.Predictor = static_cast<int32_t>(Ifd.Single(kPredictor, 1));
  P.T4Options = Ifd.Single(kT4Options, 0);
  P.FillOrder = static_cast<int32_t>(Ifd.Single(kFillOrder, 1));
  P.Software = Ifd.String(kSoftware);
  const bool Bilevel = P.Spp == 1 && P.Bps == 1;
  // A bilevel page without a photometric of its own is white-is-zero.
  if (Bilevel && P.Photometric == 2) P.Photometric = 0;

  std::vector<uint64_t> Map = Ifd.Values(kColorMap);
  if (P.Bps <= 16 && Map.size() >= 3 * (size_t{1} << P.Bps)) {
    const size_t N = size_t{1} << P.Bps;
    P.Palette.resize(std::min<size_t>(N, 256));
    for (size_t I = 0; I < P.Palette.size(); ++I)
      P.Palette[I] =
          CreateRGB(static_cast<uint8_t>(Map[I] >> 8), static_cast<uint8_t>(Map[I + N] >> 8),
                    static_cast<uint8_t>(Map[I + 2 * N] >> 8));
  }

  Prm.BitsPerSample = P.Bps;
  Prm.SamplesPerPixel = P.Spp;
  Prm.Width = static_cast<int32_t>(std::min<int64_t>(P.Width, INT32_MAX));
  Prm.Height = static_cast<int32_t>(std::min<int64_t>(P.Height, INT32_MAX));
  Prm.TiffCompression = CompressionEnum(P.Compression, P.T4Options, Prm.TiffCompression);
  const int64_t Photo = Ifd.Single(kPhotometric, 2);
  if (Photo >= 0 && Photo <= 6)
    Prm.TiffPhotometInterpret = static_cast<TIOTIFFPhotometInterpret>(Photo);
  else if (Photo == 8)
    Prm.TiffPhotometInterpret = ioTIFF_CIELAB;
  if (Bilevel && Photo == 2) Prm.TiffPhotometInterpret = ioTIFF_WHITEISZERO;
  Prm.TiffPlanarConfig = P.Planar;
  Prm.TiffDocumentName = Ifd.String(kDocumentName);
  Prm.TiffImageDescription = Ifd.String(kImageDescription);
  Prm.TiffPageName = Ifd.String(kPageName);
  const std::vector<uint64_t> PageNo = Ifd.Values(kPageNumber);
  Prm.TiffPageNumber = PageNo.size() > 0 ? static_cast<int32_t>(PageNo[0]) : 0;
  Prm.TiffPageCount = PageNo.size() > 1 ? static_cast<int32_t>(PageNo[1]) : 0;
  Prm.FreeColorMap();
  if (!P.Palette.empty()) Prm.SetColorMap(P.Palette.data(), static_cast<int32_t>(P.Palette.size()));

  const double Factor = Ifd.Single(kResolutionUnit, 2) == 3 ? 2.54 : 1.0;
  Prm.DpiX = QLTrunc(Ifd.Rational(kXResolution) * Factor);
  Prm.DpiY = QLTrunc(Ifd.Rational(kYResolution) * Factor);
  if (Prm.DpiX <= 0) Prm.DpiX = gSystemDPIX;
  if (Prm.DpiY <= 0) Prm.DpiY = gSystemDPIY;
  Prm.TiffXPos = QLTrunc(Ifd.Rational(kXPosition) * Factor);
  Prm.TiffYPos = QLTrunc(Ifd.Rational(kYPosition) * Factor);

  P.Lzw = Prm.TiffLZWDecompress ? Prm.TiffLZWDecompress : DefTIFF_LZWDECOMPFUNC;
  if (P.Compression == 5 && !P.Lzw) return QLSetAbort(Prog);
  if (Preview) return;

  // Palette pages of one bit go through their palette like deeper ones.
  P.OneBit = Bilevel && P.Photometric != 3;
  // JPEG pages of 8-bit grey or colour, chunky: the decoder gives grey or red, green, blue
  // whether the page stores luma and chroma (the usual photometric 6) or RGB.
  const bool Jpeg = P.Compression == kJpegCompression && P.Bps == 8 && P.Planar == 1 &&
                    ((P.Spp == 1 && P.Photometric <= 1) ||
                     (P.Spp == 3 && (P.Photometric == 2 || P.Photometric == 6)));
  if (Jpeg) {
    P.JpegTables = Ifd.Bytes(kJpegTables);
    P.JpegRgb = P.Photometric == 2;
    if (P.Photometric == 6) P.Photometric = 2;
  }
  // Luma and chroma outside JPEG: chunky strips of units.
  if (P.Photometric == 6 && !Jpeg && P.Planar == 1 && P.Spp == 3 && P.Bps == 8) {
    P.YCbCr = true;
    P.Chroma.Init(Ifd);
  }
  const bool Known = P.Compression == 1 || P.Compression == 5 || P.Compression == 32773 ||
                     IsDeflate(P.Compression) || Jpeg || (IsFax(P.Compression) && Bilevel);
  const bool Tiled = P.TileWidth > 0 || P.TileLength > 0;
  // The ranges first: the product of two 16-bit field values does not fit an int.
  if (!Known || P.Spp < 1 || P.Spp > 64 || P.Bps < 1 || P.Bps > 16 || P.Spp * P.Bps > 64 ||
      (P.Bps > 8 && P.Bps != 16) || !TConverter(P).Supported() ||
      (P.Planar == 2 && (Tiled || (P.Bps != 8 && P.Bps != 16))))
    return QLSetAbort(Prog);
  // Tiles larger than the image by more than a tile's usual size mark a file made to exhaust
  // memory.
  if (Tiled &&
      (P.TileWidth <= 0 || P.TileLength <= 0 || P.TileWidth > P.Width + 1024 ||
       P.TileLength > P.Height + 1024 || !QLImageSizeOK(P.TileWidth, P.TileLength, P.Spp * P.Bps)))
    return QLSetAbort(Prog);
  // Every strip or tile the page needs must lie inside the file before anything is allocated.
  const bool UseTiles = Tiled && Ifd.Find(kTileOffsets);
  std::vector<uint64_t> Offsets = Ifd.Values(UseTiles ? kTileOffsets : kStripOffsets);
  std::vector<uint64_t> Counts = Ifd.Values(UseTiles ? kTileByteCounts : kStripByteCounts);
  const int64_t Rps = P.RowsPerStrip;
  const int64_t Needed = UseTiles ? ((P.Width + P.TileWidth - 1) / P.TileWidth) *
                                        ((P.Height + P.TileLength - 1) / P.TileLength)
                                  : ((P.Height + Rps - 1) / Rps) * (P.Planar == 2 ? P.Spp : 1);
  if (static_cast<int64_t>(Offsets.size()) < Needed) return QLSetAbort(Prog);
  for (int64_t I = 0; I < Needed; ++I) {
    const uint64_t Off = Offsets[static_cast<size_t>(I)];
    const uint64_t Count =
        static_cast<size_t>(I) < Counts.size() ? Counts[static_cast<size_t>(I)] : 0;
    if (Off >= static_cast<uint64_t>(F.Size) || Count > static_cast<uint64_t>(F.Size) - Off)
      return QLSetAbort(Prog);
  }
  if (!QLPrepareBitmap(Bmp, P.Width, P.Height, P.OneBit, Prog)) return;
  if (UseTiles) {
    P.TileOffsets = std::move(Offsets);
    P.TileCounts = std::move(Counts);
    return DecodeTiles(F, P, Bmp, Prog);
  }
  P.StripOffsets = std::move(Offsets);
  P.StripCounts = std::move(Counts);
  if (P.Planar == 2 && P.Spp > 1) return DecodePlanes(F, P, Bmp, Prog);
  DecodeStrips(F, P, Bmp, Prog);
}

// ---------------------------------------------------------------------------------------------
// Writing

// The entries of one IFD being written, each with its value bytes in the file's byte order.
class TIfdWriter {
 public:
  TIfdWriter(TOrder O, TForm Form) : FO(O), FForm(Form) {}

  void Raw(uint16_t Tag, uint16_t Type, uint32_t Count, std::vector<uint8_t> Bytes) {
    FEntries.push_back({Tag, Type, Count, std::move(Bytes)});
  }
  void Shorts(uint16_t Tag, const std::vector<uint32_t>& V) {
    std::vector<uint8_t> B(V.size() * 2);
    for (size_t I = 0; I < V.size(); ++I) FO.Put16(B.data() + 2 * I, V[I]);
    Raw(Tag, kSHORT, static_cast<uint32_t>(V.size()), std::move(B));
  }
  void Longs(uint16_t Tag, const std::vector<uint32_t>& V) {
    std::vector<uint8_t> B(V.size() * 4);
    for (size_t I = 0; I < V.size(); ++I) FO.Put32(B.data() + 4 * I, V[I]);
    Raw(Tag, kLONG, static_cast<uint32_t>(V.size()), std::move(B));
  }
  // Offsets and byte counts of strips and tiles: LONG in the classic form (which cannot hold
  // more: EWriteError), LONG8 in the large one.
  void Offsets(uint16_t Tag, const std::vector<uint64_t>& V) {
    if (FForm.Big) {
      std::vector<uint8_t> B(V.size() * 8);
      for (size_t I = 0; I < V.size(); ++I) FO.Put64(B.data() + 8 * I, V[I]);
      return Raw(Tag, kLONG8, static_cast<uint32_t>(V.size()), std::move(B));
    }
    std::vector<uint32_t> L(V.size());
    for (size_t I = 0; I < V.size(); ++I) {
      if (V[I] > 0xFFFFFFFFull) throw EWriteError("TIFF offsets beyond 4 GiB");
      L[I] = static_cast<uint32_t>(V[I]);
    }
    Longs(Tag, L);
  }
  void Rational(uint16_t Tag, uint32_t Num, uint32_t Den) {
    std::vector<uint8_t> B(8);
    FO.Put32(B.data(), Num);
    FO.Put32(B.data() + 4, Den);
    Raw(Tag, kRATIONAL, 1, std::move(B));
  }
  void Ascii(uint16_t Tag, const std::string& S) {
    if (S.empty()) return;
    std::vector<uint8_t> B(S.begin(), S.end());
    B.push_back(0);
    const uint32_t N = static_cast<uint32_t>(B.size());
    Raw(Tag, kASCII, N, std::move(B));
  }

  // Writes the values that do not fit in their entries, then the IFD (entries in ascending tag
  // order) with Next as its link, at word-aligned offsets from Base. Returns the IFD's offset.
  // In the classic form offsets beyond 4 GiB raise EWriteError.
  int64_t Write(TStream& S, int64_t Base, int64_t Next) {
    std::stable_sort(FEntries.begin(), FEntries.end(),
                     [](const TOut& A, const TOut& B) { return A.Tag < B.Tag; });
    const size_t Inline = static_cast<size_t>(FForm.LinkSize());
    std::vector<int64_t> Where(FEntries.size(), 0);
    for (size_t I = 0; I < FEntries.size(); ++I) {
      if (FEntries[I].Bytes.size() <= Inline) continue;
      Where[I] = Align(S, Base, FForm);
      S.WriteBuffer(FEntries[I].Bytes.data(), static_cast<int64_t>(FEntries[I].Bytes.size()));
    }
    const int64_t At = Align(S, Base, FForm);
    const size_t Es = static_cast<size_t>(FForm.EntrySize()), Cs = FForm.CountSize();
    std::vector<uint8_t> D(Cs + Es * FEntries.size() + Inline, 0);
    PutWide(D.data(), FEntries.size(), Cs);
    for (size_t I = 0; I < FEntries.size(); ++I) {
      uint8_t* E = D.data() + Cs + Es * I;
      FO.Put16(E, FEntries[I].Tag);
      FO.Put16(E + 2, FEntries[I].Type);
      PutWide(E + 4, FEntries[I].Count, Inline);
      uint8_t* Field = E + 4 + Inline;
      if (FEntries[I].Bytes.size() <= Inline) {
        if (!FEntries[I].Bytes.empty())
          std::memcpy(Field, FEntries[I].Bytes.data(), FEntries[I].Bytes.size());
      } else
        PutWide(Field, static_cast<uint64_t>(Where[I]), Inline);
    }
    PutWide(D.data() + D.size() - Inline, static_cast<uint64_t>(Next), Inline);
    S.WriteBuffer(D.data(), static_cast<int64_t>(D.size()));
    return At;
  }

  // Pads to an even offset from Base and returns it; beyond 4 GiB only the large form goes on.
  static int64_t Align(TStream& S, int64_t Base, TForm Form) {
    int64_t Off = S.GetPosition() - Base;
    if (Off & 1) {
      const uint8_t Zero = 0;
      S.WriteBuffer(&Zero, 1);
      ++Off;
    }
    if (!Form.Big && Off > 0xFFFFFFFFll) throw EWriteError("TIFF offsets beyond 4 GiB");
    return Off;
  }

 private:
  struct TOut {
    uint16_t Tag;
    uint16_t Type;
    uint32_t Count;
    std::vector<uint8_t> Bytes;
  };
  // A value 2, 4 or 8 bytes wide.
  void PutWide(uint8_t* P, uint64_t V, size_t Width) const {
    if (Width == 2)
      FO.Put16(P, static_cast<uint32_t>(V));
    else if (Width == 4)
      FO.Put32(P, static_cast<uint32_t>(V));
    else
      FO.Put64(P, V);
  }

  TOrder FO;
  TForm FForm;
  std::vector<TOut> FEntries;
};

TTIFFLZWCompFunc LzwEncoder(const TIOParamsVals& P) {
  return P.TiffLZWCompress ? P.TiffLZWCompress : DefTIFF_LZWCOMPFUNC;
}

// Makes sure the encoder hook's state is released, however the strip ends.
struct TLzwWriteGuard {
  TTIFFLZWCompFunc F;
  TStream& S;
  intptr_t State = 0;
  bool Done = false;
  void Finish() {
    Done = true;
    F(nullptr, 0, S, State);
  }
  ~TLzwWriteGuard() {
    if (Done || !F) return;
    try {
      Finish();
    } catch (...) {
      // The strip is abandoned; only the state had to go.
    }
  }
};

// Writes the pixel data as one strip; returns false when aborted. Palette pages (Map given) store
// PaletteBits-bit indexes.
bool WritePixels(TStream& S, const TBitmap& Src, bool Bilevel, int32_t Compression, bool G32D,
                 bool Predictor, int32_t Photometric, TQLPaletteMapper* Map, int32_t PaletteBits,
                 const TIOParamsVals& Prm, TProgressRec& Prog) {
  bool& Abort = *Prog.AbortFlag;
  const int32_t W = Src.GetWidth(), H = Src.GetHeight();
  const int32_t Samples = Photometric == 5 ? 4 : Photometric == 2 && !Bilevel ? 3 : 1;
  const int64_t RowLen = Bilevel ? (int64_t{W} + 7) / 8
                         : Map   ? (int64_t{W} * PaletteBits + 7) / 8
                                 : int64_t{W} * Samples;
  std::vector<uint8_t> Row(static_cast<size_t>(RowLen) + 1), Packed;
  std::vector<uint8_t> Indexes(Map ? static_cast<size_t>(W) : 0);
  // Deflate: one zlib stream for the strip, finished before the byte count is taken.
  std::unique_ptr<TCompressionStream> Zip;
  if (IsDeflate(Compression))
    Zip = std::make_unique<TCompressionStream>(TCompressionLevel::clDefault, S);
  uint8_t PendingByte = 0;
  int32_t PendingBits = 0;
  std::vector<uint8_t> Ref;
  TLzwWriteGuard Lzw{Compression == 5 ? LzwEncoder(Prm) : nullptr, S};
  const uint8_t LastMask = static_cast<uint8_t>(0xFF00 >> (W % 8 ? W % 8 : 8));
  Prog.StepFactor = 100.0 / H;
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* In = Src.ScanLine(Y);
    if (Bilevel) {
      // The fax coders read 0 as white, the bitmap's 0 is black.
      const bool Invert = Compression >= 2 && Compression <= 4;
      for (int64_t I = 0; I < RowLen; ++I)
        Row[static_cast<size_t>(I)] = Invert ? static_cast<uint8_t>(~In[I]) : In[I];
      Row[static_cast<size_t>(RowLen - 1)] &= LastMask;
    } else if (Map) {
      Map->MapRow(In, W, Indexes.data());
      if (PaletteBits == 8) {
        std::memcpy(Row.data(), Indexes.data(), static_cast<size_t>(W));
      } else {
        // Indexes packed most significant bits first, the row's last byte padded with zeros.
        std::fill(Row.begin(), Row.end(), 0);
        for (int32_t X = 0; X < W; ++X) {
          const int64_t Bit = int64_t{X} * PaletteBits;
          Row[static_cast<size_t>(Bit >> 3)] |= static_cast<uint8_t>(
              Indexes[static_cast<size_t>(X)] << (8 - PaletteBits - (Bit & 7)));
        }
      }
    } else {
      const TRGB* Px = reinterpret_cast<const TRGB*>(In);
      uint8_t* D = Row.data();
      if (Photometric == 5) {
        for (int32_t X = 0; X < W; ++X, D += 4) {
          const int32_t M = std::max({Px[X].r, Px[X].g, Px[X].b, uint8_t{1}});
          D[0] = static_cast<uint8_t>(255 - Px[X].r * 255 / M);
          D[1] = static_cast<uint8_t>(255 - Px[X].g * 255 / M);
          D[2] = static_cast<uint8_t>(255 - Px[X].b * 255 / M);
          D[3] = static_cast<uint8_t>(255 - std::max({Px[X].r, Px[X].g, Px[X].b}));
        }
      } else if (Photometric == 1) {
        for (int32_t X = 0; X < W; ++X) D[X] = QLStoredGrey(Px[X]);
      } else {
        for (int32_t X = 0; X < W; ++X, D += 3) D[0] = Px[X].r, D[1] = Px[X].g, D[2] = Px[X].b;
      }
      if (Predictor)
        for (int64_t I = RowLen - 1; I >= Samples; --I)
          Row[static_cast<size_t>(I)] = static_cast<uint8_t>(Row[static_cast<size_t>(I)] -
                                                             Row[static_cast<size_t>(I - Samples)]);
    }
    switch (Compression) {
      case 2:
        CCITTHuffmanPutLine(Row.data(), W, S, Abort);
        break;
      case 3:
        if (G32D)
          CCITTHuffmanPutLineG32D(Row.data(), W, S, PendingByte, PendingBits, Ref, Abort);
        else
          CCITTHuffmanPutLineG3(Row.data(), W, S, PendingByte, PendingBits, Abort);
        break;
      case 4:
        CCITTHuffmanPutLineG4(Row.data(), W, S, PendingByte, PendingBits, Ref, Abort);
        break;
      case 5:
        Lzw.F(Row.data(), static_cast<int32_t>(RowLen), S, Lzw.State);
        break;
      case 8:
        Zip->WriteBuffer(Row.data(), RowLen);
        break;
      case 32773:
        Packed.clear();
        TIFFPackBitsRow(Row.data(), static_cast<int32_t>(RowLen), Packed);
        SafeStreamWrite(S, Abort, Packed.data(), static_cast<int64_t>(Packed.size()));
        break;
      default:
        SafeStreamWrite(S, Abort, Row.data(), RowLen);
        break;
    }
    QLProgressStep(Prog, Y + 1);
    if (QLAborted(Prog)) return false;
  }
  if (Compression == 3 && G32D)
    CCITTHuffmanPutLineG32D(nullptr, 0, S, PendingByte, PendingBits, Ref, Abort);
  else if (Compression == 3)
    CCITTHuffmanPutLineG3(nullptr, 0, S, PendingByte, PendingBits, Abort);
  else if (Compression == 4)
    CCITTHuffmanPutLineG4(nullptr, 0, S, PendingByte, PendingBits, Ref, Abort);
  else if (Compression == 5)
    Lzw.Finish();
  Zip.reset();
  return !QLAborted(Prog);
}

int32_t WriteTIFF(TStream& S, bool Append, const TBitmap& Bitmap, TIOParamsVals& Prm,
                  TProgressRec& Prog, TTiffEnd* EndHint) {
  const TTiffEnd Hint = EndHint ? *EndHint : TTiffEnd{};
  if (EndHint) EndHint->LinkPos = -1;
  if (Bitmap.Empty()) {
    QLSetAbort(Prog);
    return 0;
  }
  // 1. The pixels. A palette page keeps its colours, however few; one of more colours than its
  // depth holds goes through the quantizer.
  const bool PalettePage = Prm.TiffPhotometInterpret == ioTIFF_RGBPALETTE &&
                           Prm.SamplesPerPixel == 1 && Prm.BitsPerSample <= 8;
  const int32_t PaletteBits =
      Prm.BitsPerSample == 1 || Prm.BitsPerSample == 2 || Prm.BitsPerSample == 4 ? Prm.BitsPerSample
                                                                                 : 8;
  const bool Bilevel = Prm.BitsPerSample == 1 && Prm.SamplesPerPixel == 1 && !PalettePage;
  std::unique_ptr<TBitmap> One;
  TBitmap Wide;
  const TBitmap* Src;
  if (Bilevel) {
    TRGB C1, C2;
    One = QLOneBitForWriting(Bitmap, C1, C2);
    Src = One.get();
  } else {
    Src = &QLAs24Bit(Bitmap, Wide);
  }
  // 2. Photometric and compression.
  const TIOTIFFPhotometInterpret Ph = Prm.TiffPhotometInterpret;
  int32_t Photometric = Ph == ioTIFF_CMYK ? 5 : 2;
  // Grey pages: 8-bit single-sample white-is-zero or black-is-zero asks for grey samples.
  if (!Bilevel && (Ph == ioTIFF_WHITEISZERO || Ph == ioTIFF_BLACKISZERO) &&
      Prm.BitsPerSample == 8 && Prm.SamplesPerPixel == 1)
    Photometric = 1;
  if (Bilevel) Photometric = 1;
  std::unique_ptr<TQLPaletteMapper> Map;
  if (PalettePage) {
    Photometric = 3;
    Map = std::make_unique<TQLPaletteMapper>(*Src, 1 << PaletteBits, Prm.ColorMap);
  }
  int32_t Compression = 1;
  bool G32D = false;
  switch (Prm.TiffCompression) {
    case ioTIFF_CCITT1D:
      Compression = 2;
      break;
    case ioTIFF_G3FAX1D:
      Compression = 3;
      break;
    case ioTIFF_G3FAX2D:
      Compression = 3;
      G32D = true;
      break;
    case ioTIFF_G4FAX:
      Compression = 4;
      break;
    case ioTIFF_LZW:
      Compression = LzwEncoder(Prm) ? 5 : 1;
      break;
    case ioTIFF_PACKBITS:
      Compression = 32773;
      break;
    case ioTIFF_DEFLATE:
      Compression = 8;
      break;
    default:
      break;
  }
  if (Compression >= 2 && Compression <= 4) {
    if (Bilevel)
      Photometric = 0;
    else
      Compression = 1;
  }
  // Differences of palette indexes mean nothing: palette pages go without the predictor.
  const bool Predictor = (Compression == 5 || Compression == 8) && !Bilevel && !PalettePage;

  // 3. Where the page goes.
  const int64_t Base = S.GetPosition();
  TOrder O;
  TForm Form;
  int32_t Result = 1;
  int64_t LinkPos = -1;  // the link that will point to the new page
  int64_t OldTarget = 0;
  if (Append) {
    TFile F(S);
    int64_t First;
    if (!F.Open(First)) {
      QLSetAbort(Prog);
      return 0;
    }
    O = F.O;
    Form = F.Form;
    const int32_t Index = Prm.TiffImageIndex;
    // After the last page, where the hint still marks the chain's end: no walk.
    uint8_t HintLink[8] = {1};
    if (Hint.LinkPos >= Form.FirstLink() && Hint.Count > 0 && (Index < 0 || Index >= Hint.Count) &&
        F.ReadAt(Hint.LinkPos, HintLink, Form.LinkSize()) && F.Offset(HintLink) == 0) {
      LinkPos = Hint.LinkPos;
      Result = Hint.Count + 1;
    } else {
      const std::vector<TIfdRef> Chain = WalkChain(F, First);
      const int32_t N = static_cast<int32_t>(Chain.size());
      if (Index >= 0 && Index < N) {
        LinkPos = Index == 0 ? Form.FirstLink() : Chain[static_cast<size_t>(Index - 1)].LinkPos;
        OldTarget = Chain[static_cast<size_t>(Index)].Offset;
      } else {
        // After the last page; a chain that ended in a cycle or outside the file ends here now.
        LinkPos = N == 0 ? Form.FirstLink() : Chain.back().LinkPos;
        OldTarget = 0;
      }
      Result = N + 1;
    }
    S.Seek(0, soFromEnd);
  } else {
    // The large form when asked for, or when the page's samples alone (with room for a coder
    // that expands them) could pass the classic form's 4 GiB of offsets.
    const int64_t Samples = int64_t{Src->GetWidth()} * Src->GetHeight() * (Bilevel ? 1 : 32) / 8;
    Form.Big = Prm.TiffBigTIFF || Samples + Samples / 8 + (1 << 20) > 0xFFFFFFFFll;
    const uint8_t Placeholder[16] = {};
    SafeStreamWrite(S, *Prog.AbortFlag, Placeholder, Form.HeaderSize());
  }
  if (QLAborted(Prog)) return 0;

  // 4. Pixel data and entries.
  const int32_t W = Src->GetWidth(), H = Src->GetHeight();
  TIfdWriter Ifd(O, Form);
  Ifd.Longs(kImageWidth, {static_cast<uint32_t>(W)});
  Ifd.Longs(kImageLength, {static_cast<uint32_t>(H)});
  if (Bilevel)
    Ifd.Shorts(kBitsPerSample, {1});
  else if (Photometric == 5)
    Ifd.Shorts(kBitsPerSample, {8, 8, 8, 8});
  else if (PalettePage)
    Ifd.Shorts(kBitsPerSample, {static_cast<uint32_t>(PaletteBits)});
  else if (Photometric == 1)
    Ifd.Shorts(kBitsPerSample, {8});
  else
    Ifd.Shorts(kBitsPerSample, {8, 8, 8});
  Ifd.Shorts(kCompression, {static_cast<uint32_t>(Compression)});
  Ifd.Shorts(kPhotometric, {static_cast<uint32_t>(Photometric)});
  Ifd.Ascii(kDocumentName, Prm.TiffDocumentName);
  Ifd.Ascii(kImageDescription, Prm.TiffImageDescription);
  const int64_t DataAt = TIfdWriter::Align(S, Base, Form);
  if (!WritePixels(S, *Src, Bilevel, Compression, G32D, Predictor, Photometric, Map.get(),
                   PaletteBits, Prm, Prog))
    return 0;
  const int64_t DataBytes = S.GetPosition() - Base - DataAt;
  Ifd.Offsets(kStripOffsets, {static_cast<uint64_t>(DataAt)});
  Ifd.Shorts(kSamplesPerPixel, {static_cast<uint32_t>(Bilevel || PalettePage ? 1
                                                      : Photometric == 5     ? 4
                                                      : Photometric == 1     ? 1
                                                                             : 3)});
  Ifd.Longs(kRowsPerStrip, {static_cast<uint32_t>(H)});
  Ifd.Offsets(kStripByteCounts, {static_cast<uint64_t>(DataBytes)});
  if (Predictor) Ifd.Shorts(kPredictor, {2});
  Ifd.Rational(kXResolution, static_cast<uint32_t>(std::max(Prm.DpiX, 0)), 1);
  Ifd.Rational(kYResolution, static_cast<uint32_t>(std::max(Prm.DpiY, 0)), 1);
  Ifd.Ascii(kPageName, Prm.TiffPageName);
  Ifd.Rational(kXPosition,
               static_cast<uint32_t>(std::max<int64_t>(QLRound(Prm.TiffXPos * 10000.0), 0)), 10000);
  Ifd.Rational(kYPosition,
               static_cast<uint32_t>(std::max<int64_t>(QLRound(Prm.TiffYPos * 10000.0), 0)), 10000);
  if (Compression == 3) Ifd.Longs(kT4Options, {G32D ? 1u : 0u});
  Ifd.Shorts(kResolutionUnit, {2});
  if (Prm.TiffPageNumber != 0 || Prm.TiffPageCount != 0)
    Ifd.Shorts(kPageNumber, {static_cast<uint32_t>(Prm.TiffPageNumber) & 0xFFFF,
                             static_cast<uint32_t>(Prm.TiffPageCount) & 0xFFFF});
  if (Map) {
    // All reds, then all greens, then all blues, as 16-bit values.
    const std::vector<TRGB>& Pal = Map->Palette();
    std::vector<uint32_t> Table(Pal.size() * 3);
    for (size_t I = 0; I < Pal.size(); ++I) {
      Table[I] = Pal[I].r * 257u;
      Table[Pal.size() + I] = Pal[I].g * 257u;
      Table[2 * Pal.size() + I] = Pal[I].b * 257u;
    }
    Ifd.Shorts(kColorMap, Table);
  }

  // 5. The IFD, and the link or header that points to it.
  const int64_t At = Ifd.Write(S, Base, OldTarget);
  const int64_t End = S.GetPosition();
  uint8_t Buf[16] = {};
  if (Append) {
    if (Form.Big)
      O.Put64(Buf, static_cast<uint64_t>(At));
    else
      O.Put32(Buf, static_cast<uint32_t>(At));
    S.SetPosition(Base + LinkPos);
    SafeStreamWrite(S, *Prog.AbortFlag, Buf, Form.LinkSize());
  } else {
    Buf[0] = Buf[1] = 'I';
    if (Form.Big) {
      O.Put16(Buf + 2, 43);
      O.Put16(Buf + 4, 8);
      O.Put64(Buf + 8, static_cast<uint64_t>(At));
    } else {
      O.Put16(Buf + 2, 42);
      O.Put32(Buf + 4, static_cast<uint32_t>(At));
    }
    S.SetPosition(Base);
    SafeStreamWrite(S, *Prog.AbortFlag, Buf, Form.HeaderSize());
  }
  S.SetPosition(End);
  if (QLAborted(Prog)) return 0;
  // The new page's own link (the IFD's last field) ends the chain unless it went before a page.
  if (EndHint && OldTarget == 0) *EndHint = TTiffEnd{End - Base - Form.LinkSize(), Result};
  return Result;
}

// ---------------------------------------------------------------------------------------------
// Deleting

// Tags whose values point at structures a rebuild does not carry over (sub-IFDs, EXIF, GPS
// and interoperability IFDs, free space, old-style JPEG streams): they are left out.
bool PointsElsewhere(uint16_t Tag) {
  switch (Tag) {
    case 288:
    case 289:
    case 330:
    case 513:
    case 514:
    case 34665:
    case 34853:
    case 40965:
      return true;
    default:
      return false;
  }
}

int32_t DeleteTIFF(TStream& S, int32_t Index) {
  TFile F(S);
  int64_t First;
  if (!F.Open(First)) return 0;
  const std::vector<TIfdRef> Chain = WalkChain(F, First);
  const int32_t N = static_cast<int32_t>(Chain.size());
  if (Index < 0 || Index >= N) return N;

  TMemoryStream Out;
  const TForm Form = F.Form;
  uint8_t Head[16] = {};
  F.ReadAt(0, Head, Form.HeaderSize());
  std::memset(Head + Form.FirstLink(), 0, static_cast<size_t>(Form.LinkSize()));
  Out.WriteBuffer(Head, Form.HeaderSize());
  int64_t Link = Form.FirstLink();  // where the previous page's link sits in Out
  for (int32_t K = 0; K < N; ++K) {
    if (K == Index) continue;
    const TIfd Ifd(F, Chain[static_cast<size_t>(K)]);
    TIfdWriter W(F.O, Form);
    const bool Tiled = Ifd.Find(kTileOffsets) != nullptr;
    const uint16_t OffTag = Tiled ? kTileOffsets : kStripOffsets;
    const std::vector<uint64_t> Offsets = Ifd.Values(OffTag);
    const uint16_t CountTag = Tiled ? kTileByteCounts : kStripByteCounts;
    const std::vector<uint64_t> Counts = Ifd.Values(CountTag);
    // Each strip or tile is copied as far as it lies inside the file.
    std::vector<uint64_t> NewOffsets, NewCounts;
    std::vector<uint8_t> Chunk;
    for (size_t I = 0; I < Offsets.size(); ++I) {
      const int64_t Off = static_cast<int64_t>(std::min<uint64_t>(Offsets[I], F.Size));
      const int64_t Count = I < Counts.size() ? static_cast<int64_t>(std::min<uint64_t>(
                                                    Counts[I], static_cast<uint64_t>(F.Size - Off)))
                                              : 0;
      Chunk.resize(static_cast<size_t>(Count));
      if (Count > 0 && !F.ReadAt(Off, Chunk.data(), Count)) Chunk.clear();
      NewOffsets.push_back(static_cast<uint64_t>(TIfdWriter::Align(Out, 0, Form)));
      NewCounts.push_back(Chunk.size());
      Out.WriteBuffer(Chunk.data(), static_cast<int64_t>(Chunk.size()));
    }
    std::vector<uint8_t> Value;
    for (const TEntry& E : Ifd.Entries()) {
      const bool Rewritten = !Offsets.empty() && (E.Tag == OffTag || E.Tag == CountTag);
      if (Rewritten || PointsElsewhere(E.Tag) || !Ifd.RawValue(E, Value)) continue;
      W.Raw(E.Tag, E.Type, static_cast<uint32_t>(E.Count), Value);
    }
    if (!Offsets.empty()) {
      W.Offsets(OffTag, NewOffsets);
      W.Offsets(CountTag, NewCounts);
    }
    const int64_t At = W.Write(Out, 0, 0);
    if (Form.Big)
      F.O.Put64(Out.Memory() + Link, static_cast<uint64_t>(At));
    else
      F.O.Put32(Out.Memory() + Link, static_cast<uint32_t>(At));
    Link = Out.GetSize() - Form.LinkSize();
  }
  S.SetPosition(F.Base);
  S.WriteBuffer(Out.Memory(), Out.GetSize());
  S.SetSize(F.Base + Out.GetSize());
  return N;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

void TIFFPackBitsRow(const uint8_t* Row, int32_t Count, std::vector<uint8_t>& Out) {
  int32_t I = 0, LitStart = 0;
  auto FlushLiterals = [&](int32_t End) {
    while (LitStart < End) {
      const int32_t N = std::min(128, End - LitStart);
      Out.push_back(static_cast<uint8_t>(N - 1));
      Out.insert(Out.end(), Row + LitStart, Row + LitStart + N);
      LitStart += N;
    }
  };
  while (I < Count) {
    int32_t Run = 1;
    while (I + Run < Count && Run < 128 && Row[I + Run] == Row[I]) ++Run;
    if (Run >= 4) {
      FlushLiterals(I);
      Out.push_back(static_cast<uint8_t>(1 - Run));
      Out.push_back(Row[I]);
      I += Run;
      LitStart = I;
    } else {
      I += Run;
    }
  }
  FlushLiterals(Count);
}

void TIFFReadStream(TBitmap& Bitmap, TStream& Stream, int32_t& PageCount, TIOParamsVals* Params,
                    TProgressRec& Progress, bool Preview) {
  PageCount = 0;
  QLGuarded(Progress, [&] { ReadTIFF(Bitmap, Stream, PageCount, Params, Progress, Preview); });
}

int32_t TIFFReadEachPage(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params,
                         TProgressRec& Progress, const std::function<bool(int32_t)>& OnPage) {
  int32_t Done = 0;
  QLGuarded(Progress, [&] { Done = ReadEachPage(Stream, Bitmap, Params, Progress, OnPage); });
  return Done;
}

int32_t _EnumTIFFImStream(TStream& Stream) {
  try {
    TFile F(Stream);
    int64_t First;
    if (!F.Open(First)) return 0;
    return static_cast<int32_t>(WalkChain(F, First).size());
  } catch (const Exception&) {
    return 0;
  }
}

int32_t TIFFWriteStream(TStream& Stream, bool Append, const TBitmap& Bitmap, TIOParamsVals& Params,
                        TProgressRec& Progress, TTiffEnd* End) {
  int32_t Result = 0;
  QLGuarded(Progress, [&] { Result = WriteTIFF(Stream, Append, Bitmap, Params, Progress, End); });
  return Result;
}

int32_t _DeleteTIFFImStream(TStream& Stream, int32_t Index) {
  return DeleteTIFF(Stream, Index);
}

}  // namespace quillo
