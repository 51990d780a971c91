#include "quillo/quant/convert.h"

#include "quillo/core/pixels.h"
#include "quillo/quant/source24.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "quillo/quant/quantizer.h"

namespace quillo {

namespace {

// Indexes come from files; one beyond the palette reads as black instead of past its end.
inline void PutPaletteEntry(uint8_t* Dst, const TRGB* Palette, int32_t Count, int32_t Index) {
  if (Palette && Index < Count) {
    const TRGB& E = Palette[Index];
    Dst[0] = E.b;
    Dst[1] = E.g;
    Dst[2] = E.r;
  } else {
    Dst[0] = Dst[1] = Dst[2] = 0;
  }
}

inline int32_t Bit(const uint8_t* Src, int32_t X) {
  return (Src[X >> 3] >> (7 - (X & 7))) & 1;
}

inline int32_t Nibble(const uint8_t* Src, int32_t X) {
  return (X & 1) ? (Src[X >> 1] & 0x0F) : (Src[X >> 1] >> 4);
}

// ORs a 4-bit value into its half of the byte, high half first; the caller zeroed Dst.
inline void OrNibble(uint8_t* Dst, int32_t X, int32_t V) {
  Dst[X >> 1] |= static_cast<uint8_t>((X & 1) ? (V & 0x0F) : ((V & 0x0F) << 4));
}

}  // namespace

int32_t _ConvertXBitsToYBits(const uint8_t* Src, uint8_t* Dst, int32_t SrcBits, int32_t DstBits,
                             int32_t Width, const TRGB* Palette, int32_t PaletteCount,
                             TQLQuantizer* Quantizer) {
  // Rows wider than this cannot exist within the pixel limit; their byte counts would wrap.
  if (Width <= 0 || Width > INT32_MAX / 4) return 0;
  const size_t W = static_cast<size_t>(Width);
  const int32_t Bytes1 = static_cast<int32_t>((W + 7) / 8);
  const int32_t Bytes4 = static_cast<int32_t>((W + 1) / 2);
  switch (SrcBits * 100 + DstBits) {
    case 101:
      std::memcpy(Dst, Src, static_cast<size_t>(Bytes1));
      return Bytes1;
    case 104:
      for (int32_t X = 0; X < Width; ++X) OrNibble(Dst, X, Bit(Src, X));
      return Bytes4;
    case 108:
      for (int32_t X = 0; X < Width; ++X) Dst[X] = static_cast<uint8_t>(Bit(Src, X));
      return Width;
    case 124:
      for (int32_t X = 0; X < Width; ++X)
        PutPaletteEntry(Dst + 3 * X, Palette, PaletteCount, Bit(Src, X));
      return 3 * Width;
    case 404:
      std::memcpy(Dst, Src, static_cast<size_t>(Bytes4));
      return Bytes4;
    case 408:
      for (int32_t X = 0; X < Width; ++X) Dst[X] = static_cast<uint8_t>(Nibble(Src, X));
      return Width;
    case 424:
      for (int32_t X = 0; X < Width; ++X)
        PutPaletteEntry(Dst + 3 * X, Palette, PaletteCount, Nibble(Src, X));
      return 3 * Width;
    case 801:
      std::memset(Dst, 0, static_cast<size_t>(Bytes1));
      // Only a value's lowest bit is its pixel; higher bits must not spill into neighbours.
      for (int32_t X = 0; X < Width; ++X)
        Dst[X >> 3] |= static_cast<uint8_t>((Src[X] & 1) << (7 - (X & 7)));
      return Bytes1;
    case 808:
      std::memcpy(Dst, Src, W);
      return Width;
    case 824:
      for (int32_t X = 0; X < Width; ++X)
        PutPaletteEntry(Dst + 3 * X, Palette, PaletteCount, Src[X]);
      return 3 * Width;
    case 2404:
    case 2408: {
      if (!Quantizer) return 0;
      // Indexes come a block at a time so the quantizer's row loop does the lookups.
      int32_t Index[256];
      for (int32_t X0 = 0; X0 < Width; X0 += 256) {
        const int32_t N = std::min(256, Width - X0);
        Quantizer->GetRGBIndexes(Src + 3 * X0, N, Index);
        if (DstBits == 8)
          for (int32_t I = 0; I < N; ++I) Dst[X0 + I] = static_cast<uint8_t>(Index[I]);
        else
          for (int32_t I = 0; I < N; ++I) OrNibble(Dst, X0 + I, Index[I]);
      }
      return DstBits == 8 ? Width : Bytes4;
    }
    case 2424:
      std::memcpy(Dst, Src, 3 * W);
      return 3 * Width;
    case 3224:
      for (int32_t X = 0; X < Width; ++X) {
        Dst[3 * X] = Src[4 * X];
        Dst[3 * X + 1] = Src[4 * X + 1];
        Dst[3 * X + 2] = Src[4 * X + 2];
      }
      return 3 * Width;
    default:
      return 0;
  }
}

const TBitmap& QLAs24Bit(const TBitmap& Bitmap, TBitmap& Holder) {
  if (Bitmap.Empty() || QLStorageBitCount(Bitmap.GetPixelFormat()) == 24) return Bitmap;
  if (Bitmap.GetPixelFormat() == pf1bit) {
    bool Abort = false;
    TProgressRec Quiet = QLProgressRec(nullptr, nullptr, Abort);
    _Conv1to24(Bitmap, Holder, Quiet);
  } else {
    Holder.Assign(Bitmap);
    Holder.SetPixelFormat(pf24bit);
  }
  return Holder;
}

}  // namespace quillo
