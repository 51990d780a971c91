#include "quillo/core/pixels.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace quillo {

int32_t _Pixelformat2BitCount(TPixelFormat PF) {
  switch (PF) {
    case pf1bit:
      return 1;
    case pf4bit:
      return 4;
    case pf8bit:
      return 8;
    case pf15bit:
      return 15;
    case pf16bit:
      return 16;
    case pf24bit:
      return 24;
    case pf32bit:
      return 32;
    default:
      return 0;  // device and custom
  }
}

TPixelFormat _Bitcount2Pixelformat(int32_t BitCount) {
  switch (BitCount) {
    case 1:
      return pf1bit;
    case 4:
      return pf4bit;
    case 8:
      return pf8bit;
    case 15:
      return pf15bit;
    case 16:
      return pf16bit;
    case 24:
      return pf24bit;
    case 32:
      return pf32bit;
    default:
      return pfCustom;
  }
}

int32_t _GetBitCount(uint32_t Mask) {
  if (Mask == 0) return 0;
  Mask >>= std::countr_zero(Mask);
  return std::countr_one(Mask);
}

int32_t _NColToBitsPixel(int32_t NCol) {
  if (NCol <= 0) return -1;
  uint32_t V = static_cast<uint32_t>(NCol);
  int32_t High = 31 - std::countl_zero(V);
  return std::has_single_bit(V) ? High : High + 1;
}

int32_t _GetNumCol(int32_t BitsPerSample, int32_t SamplesPerPixel) {
  int64_t Bits = static_cast<int64_t>(BitsPerSample) * SamplesPerPixel;
  if (Bits < 0) return 0;
  if (Bits >= 31) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(int64_t{1} << Bits);
}

void QLCopyBitmap(const TBitmap& Source, TBitmap& Dest) {
  if (&Source == &Dest) return;
  Dest.SetSize(1, 1);
  Dest.SetPixelFormat(Source.GetPixelFormat() == pfCustom ? pf24bit : Source.GetPixelFormat());
  if (Source.GetWidth() == 0 || Source.GetHeight() == 0) return;
  Dest.Assign(Source);
}

std::unique_ptr<TBitmap> QLCloneBitmap(const TBitmap& Source) {
  auto Result = std::make_unique<TBitmap>();
  QLCopyBitmap(Source, *Result);
  return Result;
}

namespace {
// For each byte of a 1-bit row, its 8 pixels as 24 bytes (bit 7 first; 1 white, 0 black).
struct ExpandTable {
  std::array<std::array<uint8_t, 24>, 256> Rows{};
  ExpandTable() {
    for (int B = 0; B < 256; ++B)
      for (int Bit = 0; Bit < 8; ++Bit) {
        uint8_t V = (B & (0x80 >> Bit)) ? 255 : 0;
        Rows[B][Bit * 3] = Rows[B][Bit * 3 + 1] = Rows[B][Bit * 3 + 2] = V;
      }
  }
};
const ExpandTable& Expand1to24() {
  static const ExpandTable Table;
  return Table;
}
}  // namespace

void _Conv1to24(const TBitmap& Source, TBitmap& Dest, TProgressRec& Progress) {
  // Working from a copy lets Source and Dest be the same bitmap.
  std::unique_ptr<TBitmap> Copy;
  const TBitmap* Src = &Source;
  if (&Source == &Dest) {
    Copy = QLCloneBitmap(Source);
    Src = Copy.get();
  }
  const int32_t W = Src->GetWidth(), H = Src->GetHeight();
  Dest.SetSize(1, 1);
  Dest.SetPixelFormat(pf24bit);
  Dest.SetSize(W, H);
  if (W == 0 || H == 0) return;
  const auto& Table = Expand1to24().Rows;
  Progress.StepFactor = 100.0 / H;
  const int32_t Full = W / 8, Rest = W % 8;
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* S = Src->ScanLine(Y);
    uint8_t* D = Dest.ScanLine(Y);
    for (int32_t I = 0; I < Full; ++I, D += 24) std::memcpy(D, Table[S[I]].data(), 24);
    if (Rest) std::memcpy(D, Table[S[Full]].data(), static_cast<size_t>(Rest) * 3);
    QLProgressStep(Progress, Y + 1);
    if (QLAborted(Progress)) break;
  }
}

namespace {
inline uint8_t Luminance(const TRGB& C) {
  return static_cast<uint8_t>(QLRound((21.0 * C.r + 71.0 * C.g + 7.0 * C.b) / 100.0));
}
}  // namespace

std::unique_ptr<TBitmap> _ConvertTo1bit(const TBitmap& Bitmap, TRGB& Color1, TRGB& Color2) {
  if (Bitmap.GetPixelFormat() != pf24bit) return nullptr;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  auto Result = std::make_unique<TBitmap>();
  Result->SetPixelFormat(pf1bit);
  Result->SetSize(W, H);
  int32_t Count = 0;
  TRGB C1{}, C2{};
  for (int32_t Y = 0; Y < H && Count <= 2; ++Y) {
    const TRGB* Px = reinterpret_cast<const TRGB*>(Bitmap.ScanLine(Y));
    uint8_t* Dst = Result->ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      const TRGB& P = Px[X];
      if (Count == 0) {
        C1 = P;
        Count = 1;
      }
      if (P == C1) continue;  // bit 0, already clear
      if (Count == 1) {
        C2 = P;
        Count = 2;
      } else if (!(P == C2)) {
        Count = 3;
        break;
      }
      Dst[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    }
  }
  if (Count != 2) return nullptr;
  if (Luminance(C2) < Luminance(C1)) {
    for (int32_t Y = 0; Y < H; ++Y) {
      uint8_t* Row = Result->ScanLine(Y);
      for (int32_t I = 0; I < Result->RowLen(); ++I) Row[I] = static_cast<uint8_t>(~Row[I]);
    }
    std::swap(C1, C2);
  }
  Color1 = C1;
  Color2 = C2;
  return Result;
}

void _CopyBits(uint8_t* Dst, const uint8_t* Src, int32_t DstOffset, int32_t BitCount,
               int32_t SrcOffset) {
  if (BitCount <= 0) return;
  // Byte-aligned on both sides: whole bytes in one move, then the ragged end.
  if ((DstOffset & 7) == 0 && (SrcOffset & 7) == 0) {
    uint8_t* D = Dst + (DstOffset >> 3);
    const uint8_t* S = Src + (SrcOffset >> 3);
    int32_t Bytes = BitCount >> 3;
    std::memmove(D, S, static_cast<size_t>(Bytes));
    int32_t Rest = BitCount & 7;
    if (Rest) {
      uint8_t Mask = static_cast<uint8_t>(0xFF00 >> Rest);
      D[Bytes] = static_cast<uint8_t>((D[Bytes] & ~Mask) | (S[Bytes] & Mask));
    }
    return;
  }
  for (int32_t I = 0; I < BitCount; ++I) {
    int32_t S = SrcOffset + I, D = DstOffset + I;
    uint8_t Bit = (Src[S >> 3] >> (7 - (S & 7))) & 1;
    uint8_t Mask = static_cast<uint8_t>(0x80 >> (D & 7));
    if (Bit)
      Dst[D >> 3] |= Mask;
    else
      Dst[D >> 3] &= static_cast<uint8_t>(~Mask);
  }
}

int64_t SafeStreamWrite(TStream& Stream, bool& Abort, const void* Buffer, int64_t Length) {
  int64_t N = Stream.Write(Buffer, Length);
  if (N < Length) Abort = true;
  return N;
}

void SaveStringToStream(TStream& Stream, const std::string& S) {
  QLWriteIntLE(Stream, static_cast<int32_t>(S.size()));
  Stream.WriteBuffer(S.data(), static_cast<int64_t>(S.size()));
}

void LoadStringFromStream(TStream& Stream, std::string& S) {
  int32_t Len = QLReadIntLE(Stream);
  if (Len < 0 || Len > Stream.Remaining()) throw EReadError("String length beyond the stream");
  S.assign(static_cast<size_t>(Len), '\0');
  Stream.ReadBuffer(S.data(), Len);
}

uint8_t QLReadByte(TStream& Stream) {
  uint8_t B;
  Stream.ReadBuffer(&B, 1);
  return B;
}

uint16_t QLReadWordLE(TStream& Stream) {
  uint8_t B[2];
  Stream.ReadBuffer(B, 2);
  return static_cast<uint16_t>(B[0] | (B[1] << 8));
}

uint32_t QLReadDWordLE(TStream& Stream) {
  uint8_t B[4];
  Stream.ReadBuffer(B, 4);
  return static_cast<uint32_t>(B[0]) | (static_cast<uint32_t>(B[1]) << 8) |
         (static_cast<uint32_t>(B[2]) << 16) | (static_cast<uint32_t>(B[3]) << 24);
}

int32_t QLReadIntLE(TStream& Stream) {
  return static_cast<int32_t>(QLReadDWordLE(Stream));
}

double QLReadDoubleLE(TStream& Stream) {
  uint8_t B[8];
  Stream.ReadBuffer(B, 8);
  uint64_t V = 0;
  for (int I = 7; I >= 0; --I) V = (V << 8) | B[I];
  return std::bit_cast<double>(V);
}

void QLWriteByte(TStream& Stream, uint8_t V) {
  Stream.WriteBuffer(&V, 1);
}

void QLWriteWordLE(TStream& Stream, uint16_t V) {
  uint8_t B[2] = {static_cast<uint8_t>(V), static_cast<uint8_t>(V >> 8)};
  Stream.WriteBuffer(B, 2);
}

void QLWriteDWordLE(TStream& Stream, uint32_t V) {
  uint8_t B[4] = {static_cast<uint8_t>(V), static_cast<uint8_t>(V >> 8),
                  static_cast<uint8_t>(V >> 16), static_cast<uint8_t>(V >> 24)};
  Stream.WriteBuffer(B, 4);
}

void QLWriteIntLE(TStream& Stream, int32_t V) {
  QLWriteDWordLE(Stream, static_cast<uint32_t>(V));
}

void QLWriteDoubleLE(TStream& Stream, double V) {
  uint64_t U = std::bit_cast<uint64_t>(V);
  uint8_t B[8];
  for (int I = 0; I < 8; ++I) B[I] = static_cast<uint8_t>(U >> (8 * I));
  Stream.WriteBuffer(B, 8);
}

void _SubResample1bitFilteredDIB(const uint8_t* Rows, int64_t Stride, int32_t SrcWidth,
                                 int32_t SrcHeight, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                                 TBitmap& Destination) {
  const int32_t DW = Destination.GetWidth(), DH = Destination.GetHeight();
  if (SrcWidth == 0 || SrcHeight == 0 || DW == 0 || DH == 0) return;
  Destination.SetPixelFormat(pf24bit);
  const int32_t AW = X2 - X1 + 1, AH = Y2 - Y1 + 1;
  const double GX = static_cast<double>(AW) / DW, GY = static_cast<double>(AH) / DH;
  const int32_t KX = QLTrunc(GX), KY = QLTrunc(GY);
  for (int32_t J = 0; J < DH; ++J) {
    const int32_t R0 = QLTrunc(GY * J), R1 = std::max(QLTrunc(GY * J + KY - 1), R0);
    TRGB* Out = reinterpret_cast<TRGB*>(Destination.ScanLine(J));
    for (int32_t I = 0; I < DW; ++I) {
      const int32_t C0 = X1 + QLTrunc(GX * I), C1 = std::max(X1 + QLTrunc(GX * I + KX - 1), C0);
      int64_t Set = 0, All = 0;
      for (int32_t Y = Y1 + R0; Y <= Y1 + R1; ++Y) {
        if (Y < 0 || Y >= SrcHeight) continue;
        const uint8_t* Row = Rows + Y * Stride;
        for (int32_t X = C0; X <= C1; ++X) {
          if (X < 0 || X >= SrcWidth) continue;
          Set += _GetPixelbw(Row, X);
          ++All;
        }
      }
      const uint8_t V = All ? static_cast<uint8_t>(255 * Set / All) : 0;
      Out[I] = TRGB{V, V, V};
    }
  }
  Destination.Modified();
}

}  // namespace quillo
