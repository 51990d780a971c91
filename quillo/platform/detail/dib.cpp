#include "quillo/platform/detail/dib.h"

#include <algorithm>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/metafile.h"
#include "quillo/platform/sysutils.h"

namespace quillo {

namespace {

// Little-endian reads that give 0 past Limit.
uint32_t Get16(const uint8_t* P, size_t Limit, size_t O) {
  return O + 2 <= Limit ? uint32_t(P[O] | (P[O + 1] << 8)) : 0u;
}
uint32_t Get32(const uint8_t* P, size_t Limit, size_t O) {
  return O + 4 <= Limit ? uint32_t(P[O]) | (uint32_t(P[O + 1]) << 8) | (uint32_t(P[O + 2]) << 16) |
                              (uint32_t(P[O + 3]) << 24)
                        : 0u;
}

}  // namespace

TDIBHeader QLParseDIBHeader(const uint8_t* P, size_t N) {
  TDIBHeader H;
  if (!P) return H;
  H.HeaderSize = Get32(P, N, 0);
  if (H.HeaderSize == 12) {
    // The core header: 16-bit unsigned sizes, always bottom-up, 3-byte table entries.
    H.Width = static_cast<int32_t>(Get16(P, N, 4));
    H.Height = Get16(P, N, 6);
    H.BitCount = static_cast<int32_t>(Get16(P, N, 10));
    H.PaletteOffset = 12;
    H.PaletteEntrySize = 3;
    H.PaletteCount = H.BitCount <= 8 ? uint64_t{1} << H.BitCount : 0;
  } else {
    // Only the header's own bytes are its fields.
    const size_t Limit = std::min<size_t>(N, H.HeaderSize);
    H.Width = static_cast<int32_t>(Get32(P, Limit, 4));
    const int64_t Height = static_cast<int32_t>(Get32(P, Limit, 8));
    H.TopDown = Height < 0;
    H.Height = H.TopDown ? -Height : Height;
    H.BitCount = static_cast<int32_t>(Get16(P, Limit, 14));
    H.Compression = Get32(P, Limit, 16);
    H.ImageSize = Get32(P, Limit, 20);
    H.XPelsPerMeter = static_cast<int32_t>(Get32(P, Limit, 24));
    H.YPelsPerMeter = static_cast<int32_t>(Get32(P, Limit, 28));
    H.ClrUsed = Get32(P, Limit, 32);
    H.PaletteOffset = H.HeaderSize;
    if (H.Compression == kDIBBitFields || H.Compression == kDIBAlphaBitFields) {
      H.HaveMasks = true;
      H.MasksOffset = H.HeaderSize >= 52 && H.HeaderSize != 64 ? 40 : H.HeaderSize;
      for (size_t K = 0; K < 3; ++K) H.Masks[K] = Get32(P, N, H.MasksOffset + 4 * K);
      if (H.MasksFollow()) H.PaletteOffset += 12;
    }
    H.PaletteCount = H.ClrUsed ? H.ClrUsed : H.BitCount <= 8 ? uint64_t{1} << H.BitCount : 0;
  }
  H.InfoSize = H.PaletteOffset + H.PaletteCount * H.PaletteEntrySize;
  return H;
}

uint32_t QLDIBTableEntry(const uint8_t* Table, size_t Bytes, size_t EntrySize, uint64_t I) {
  if (I >= Bytes / EntrySize + 1) return 0;
  const size_t O = static_cast<size_t>(I) * EntrySize;
  auto Byte = [&](size_t K) { return O + K < Bytes ? uint32_t(Table[O + K]) : 0u; };
  return Byte(0) | (Byte(1) << 8) | (Byte(2) << 16);
}

size_t QLPackedDIBInfoSize(const uint8_t* P, size_t N) {
  const TDIBHeader H = QLParseDIBHeader(P, N);
  if (H.HeaderSize != 12 && (H.HeaderSize < 40 || H.HeaderSize > N)) return 0;
  return H.InfoSize <= N ? static_cast<size_t>(H.InfoSize) : 0;
}

bool QLDecodeDIB(const uint8_t* Info, size_t InfoSize, const uint8_t* Bits, size_t BitsSize,
                 TBitmap& Out, bool* TopDown) {
  if (!Info || InfoSize < 12) return false;
  const TDIBHeader Hd = QLParseDIBHeader(Info, InfoSize);
  if (Hd.HeaderSize != 12 && (Hd.HeaderSize < 40 || Hd.HeaderSize > InfoSize)) return false;
  const int64_t W = Hd.Width, H = Hd.Height;
  const int32_t Bpp = Hd.BitCount;
  const uint32_t Comp = Hd.Compression;
  const bool Down = Hd.TopDown;
  // The second size check keeps the row length of the real depth within its 32 bits.
  if (W <= 0 || H <= 0 || !QLImageSizeOK(W, H, 24) || !QLImageSizeOK(W, H, Bpp)) return false;
  if (Bpp != 1 && Bpp != 4 && Bpp != 8 && Bpp != 16 && Bpp != 24 && Bpp != 32) return false;
  if (Hd.HaveMasks) {
    if (Bpp != 16 && Bpp != 32) return false;
  } else if (Comp == kDIBRLE8) {
    if (Bpp != 8) return false;
  } else if (Comp == kDIBRLE4) {
    if (Bpp != 4) return false;
  } else if (Comp != kDIBRGB) {
    return false;
  }
  // Palette: entries missing from the data read as black.
  std::vector<uint32_t> Pal;
  if (Bpp <= 8) {
    Pal.resize(size_t{1} << Bpp, 0);
    const uint64_t N = std::min<uint64_t>(Hd.PaletteCount, Pal.size());
    const size_t Off = std::min(Hd.PaletteOffset, InfoSize);
    for (uint64_t I = 0; I < N; ++I)
      Pal[I] = QLDIBTableEntry(Info + Off, InfoSize - Off, Hd.PaletteEntrySize, I);
  }
  const int64_t RowLen = _BitmapRowLen(static_cast<int32_t>(W), Bpp);
  const bool Rle = Comp == kDIBRLE8 || Comp == kDIBRLE4;
  if (!Rle) {
    int64_t Need;
    if (!QLCheckedMul(RowLen, H, Need) || Need > static_cast<int64_t>(BitsSize) || !Bits)
      return false;
  } else {
    // Run-length data can describe far more pixels than bytes, but not without bound.
    int64_t Pixels = W * H;
    if (!Bits || Pixels / 4096 > static_cast<int64_t>(BitsSize) + 16) return false;
  }
  TBitmap B(static_cast<int32_t>(W), static_cast<int32_t>(H), pf24bit);
  auto Put = [&](int64_t X, int64_t StoredRow, uint32_t BGR) {
    int64_t Y = Down ? StoredRow : H - 1 - StoredRow;
    uint8_t* D = B.ScanLine(static_cast<int32_t>(Y)) + X * 3;
    D[0] = uint8_t(BGR);
    D[1] = uint8_t(BGR >> 8);
    D[2] = uint8_t(BGR >> 16);
  };
  if (Rle) {
    QLDecodeDIBRLE(
        Bits, BitsSize, Comp == kDIBRLE4, W, H,
        [&](int64_t X, int64_t Row, uint32_t Index) { Put(X, Row, Pal[Index]); },
        [](int64_t) { return true; });
  } else {
    std::array<uint32_t, 3> Masks = Hd.Masks;
    if (!Hd.HaveMasks && Bpp == 16) {
      Masks = {0x7C00, 0x03E0, 0x001F};
    } else if (!Hd.HaveMasks && Bpp == 32) {
      Masks = {0xFF0000, 0x00FF00, 0x0000FF};
    }
    int32_t Shift[3], Width[3];
    for (size_t C = 0; C < 3; ++C) {
      uint32_t M = Masks[C];
      Shift[C] = 0;
      Width[C] = 0;
      if (!M) continue;
      while (!(M & 1)) {
        M >>= 1;
        ++Shift[C];
      }
      while (M & 1) {
        M >>= 1;
        ++Width[C];
      }
    }
    auto Channel = [&](uint32_t V, int32_t C) -> uint32_t {
      if (!Width[C]) return 0;
      uint32_t Max = Width[C] >= 32 ? 0xFFFFFFFFu : (1u << Width[C]) - 1;
      uint32_t X = (V >> Shift[C]) & Max;
      return Max ? (X * 255 + Max / 2) / Max : 0;
    };
    for (int64_t Row = 0; Row < H; ++Row) {
      const uint8_t* R = Bits + Row * RowLen;
      for (int64_t X = 0; X < W; ++X) {
        uint32_t BGR;
        switch (Bpp) {
          case 1:
            BGR = Pal[(R[X >> 3] >> (7 - (X & 7))) & 1];
            break;
          case 4:
            BGR = Pal[(X & 1) ? (R[X >> 1] & 15) : (R[X >> 1] >> 4)];
            break;
          case 8:
            BGR = Pal[R[X]];
            break;
          case 24:
            BGR = R[X * 3] | (R[X * 3 + 1] << 8) | (uint32_t(R[X * 3 + 2]) << 16);
            break;
          default: {
            uint32_t V = Bpp == 16 ? uint32_t(R[X * 2] | (R[X * 2 + 1] << 8))
                                   : Get32(R, size_t(RowLen), size_t(X) * 4);
            BGR = Channel(V, 2) | (Channel(V, 1) << 8) | (Channel(V, 0) << 16);
            break;
          }
        }
        Put(X, Row, BGR);
      }
    }
  }
  Out = std::move(B);
  if (TopDown) *TopDown = Down;
  return true;
}

}  // namespace quillo
