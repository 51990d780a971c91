#include "quillo/proc/dib.h"

#include <algorithm>
#include <cstring>

#include "quillo/core/colors.h"
#include "quillo/core/detail/bytes.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/detail/dib.h"
#include "quillo/platform/metafile.h"
#include "quillo/proc/analysis.h"

namespace quillo {

namespace {

// What the header of a DIB says, checked against the sizes at hand.
struct TDIBInfo {
  int32_t Width = 0;
  int32_t Height = 0;     // absolute
  bool Negative = false;  // the height field was negative
  int32_t BitCount = 0;
  uint32_t Compression = 0;
  size_t InfoSize = 0;  // header, masks and palette: what precedes the pixels
  std::vector<TRGB> Palette;
  uint32_t Masks[3] = {0, 0, 0};
  const uint8_t* Pixels = nullptr;
  size_t PixelsSize = 0;
};

// The YUV layouts: the row converter, the packed group (pixels, bytes) or the planar chroma
// subsampling, and whether the top-down rule is reversed.
struct TYUVLayout {
  uint32_t Code;
  void (*Convert)(const uint8_t*, TBitmap&, bool);
  int32_t Group, GroupBytes, Sub;
  bool Reversed;
};
const TYUVLayout kYUV[] = {
    {QLFourCC('Y', 'U', 'Y', '2'), _CopyYUY2ToBitmap, 2, 4, 0, false},
    {QLFourCC('Y', 'U', 'N', 'V'), _CopyYUY2ToBitmap, 2, 4, 0, false},
    {QLFourCC('Y', 'V', 'Y', 'U'), _CopyYVYUToBitmap, 2, 4, 0, false},
    {QLFourCC('U', 'Y', 'V', 'Y'), _CopyUYVYToBitmap, 2, 4, 0, false},
    {QLFourCC('U', 'Y', 'N', 'V'), _CopyUYVYToBitmap, 2, 4, 0, false},
    {QLFourCC('c', 'y', 'u', 'v'), _CopyUYVYToBitmap, 2, 4, 0, true},
    {QLFourCC('I', 'Y', 'U', '1'), _CopyIYU1ToBitmap, 4, 6, 0, false},
    {QLFourCC('I', 'Y', 'U', '2'), _CopyIYU2ToBitmap, 1, 3, 0, false},
    {QLFourCC('Y', '2', '1', '1'), _CopyY211ToBitmap, 4, 4, 0, false},
    {QLFourCC('Y', '4', '1', 'P'), _CopyY41PToBitmap, 8, 12, 0, true},
    {QLFourCC('C', 'L', 'J', 'R'), _CopyCLJRToBitmap, 4, 4, 0, false},
    {QLFourCC('I', '4', '2', '0'), _CopyI420ToBitmap, 0, 0, 2, false},
    {QLFourCC('I', 'Y', 'U', 'V'), _CopyI420ToBitmap, 0, 0, 2, false},
    {QLFourCC('Y', 'V', '1', '2'), _CopyYV12ToBitmap, 0, 0, 2, false},
    {QLFourCC('Y', 'V', 'U', '9'), _CopyYVU9ToBitmap, 0, 0, 4, false},
};

const TYUVLayout* FindYUV(uint32_t Compression) {
  for (const TYUVLayout& L : kYUV)
    if (L.Code == Compression) return &L;
  return nullptr;
}

// Bytes a frame of the layout needs.
int64_t YUVFrameSize(const TYUVLayout& L, int64_t W, int64_t H) {
  if (L.Sub) {
    const int64_t CW = (W + L.Sub - 1) / L.Sub, CH = (H + L.Sub - 1) / L.Sub;
    return W * H + 2 * CW * CH;
  }
  return (W + L.Group - 1) / L.Group * L.GroupBytes * H;
}

// Reads and checks the header; the pixels come from Bits when given. False for anything the
// data cannot back.
bool ParseDIB(const uint8_t* DIB, size_t Size, const uint8_t* Bits, size_t BitsSize, TDIBInfo& I) {
  if (!DIB || Size < 40) return false;
  const TDIBHeader Hd = QLParseDIBHeader(DIB, Size);
  if (Hd.HeaderSize < 40 || Hd.HeaderSize > Size) return false;
  if (Hd.Width <= 0 || Hd.Height == 0 || Hd.Height > INT32_MAX) return false;
  I.Width = Hd.Width;
  I.Height = static_cast<int32_t>(Hd.Height);
  I.Negative = Hd.TopDown;
  I.BitCount = Hd.BitCount;
  I.Compression = Hd.Compression;
  if (!QLImageSizeOK(I.Width, I.Height, 24)) return false;

  size_t Offset = Hd.HeaderSize;
  const TYUVLayout* YUV = FindYUV(I.Compression);
  if (!YUV) {
    const int32_t BC = I.BitCount;
    if (BC != 1 && BC != 4 && BC != 8 && BC != 16 && BC != 24 && BC != 32) return false;
    if (I.Compression > 3) return false;
    if (I.Compression == 1 && BC != 8) return false;
    if (I.Compression == 2 && BC != 4) return false;
    if (I.Compression == 3 && BC != 16 && BC != 32) return false;
    if (Hd.HaveMasks) {
      if (Hd.MasksOffset + 12 > Size) return false;
      for (size_t K = 0; K < 3; ++K) I.Masks[K] = Hd.Masks[K];
    } else if (BC == 16) {
      I.Masks[0] = 0x7C00;
      I.Masks[1] = 0x03E0;
      I.Masks[2] = 0x001F;
    }
    Offset = Hd.PaletteOffset;
    // The colour table, refused when it runs past the block.
    if (Hd.PaletteCount > (Size - Offset) / 4) return false;
    if (BC <= 8) {
      I.Palette.resize(size_t{1} << BC);
      const size_t Read =
          static_cast<size_t>(std::min<uint64_t>(Hd.PaletteCount, I.Palette.size()));
      for (size_t K = 0; K < Read; ++K) {
        const uint32_t C = QLDIBTableEntry(DIB + Offset, Size - Offset, 4, K);
        I.Palette[K] = TRGB{uint8_t(C), uint8_t(C >> 8), uint8_t(C >> 16)};
      }
    }
    Offset = static_cast<size_t>(Hd.InfoSize);
  }
  I.InfoSize = std::min(Offset, Size);
  if (Bits) {
    I.Pixels = Bits;
    I.PixelsSize = BitsSize;
  } else {
    if (Offset > Size) return false;
    I.Pixels = DIB + Offset;
    I.PixelsSize = Size - Offset;
  }
  if (I.Compression == 1 || I.Compression == 2) return true;  // the run-length decoder checks
  const int64_t Need = YUV ? YUVFrameSize(*YUV, I.Width, I.Height)
                           : static_cast<int64_t>(_BitmapRowLen(I.Width, I.BitCount)) * I.Height;
  return Need <= static_cast<int64_t>(I.PixelsSize);
}

// A channel of a bit-field pixel placed by a shift that may point either way; a mask layout
// the shifts were not made for gives some byte, never undefined behaviour.
uint8_t Shifted(uint32_t V, int32_t Shift) {
  if (Shift >= 32 || Shift <= -32) return 0;
  return static_cast<uint8_t>(Shift >= 0 ? V >> Shift : V << -Shift);
}

}  // namespace

std::vector<uint8_t> _CopyBitmaptoDIB(const TBitmap& Bitmap, int32_t X1, int32_t Y1, int32_t X2,
                                      int32_t Y2) {
  const TBitmap* Src = &Bitmap;
  TBitmap Wide;
  if (Bitmap.GetPixelFormat() != pf1bit && Bitmap.GetPixelFormat() != pf24bit && !Bitmap.Empty()) {
    Wide.Assign(Bitmap);
    Wide.SetPixelFormat(pf24bit);
    Src = &Wide;
  }
  const int32_t W = Src->GetWidth(), H = Src->GetHeight();
  if (X2 == 0) X2 = W;
  if (Y2 == 0) Y2 = H;
  X1 = ilimit(X1, 0, W);
  Y1 = ilimit(Y1, 0, H);
  X2 = ilimit(X2, X1, W);
  Y2 = ilimit(Y2, Y1, H);
  const bool OneBit = Src->GetPixelFormat() == pf1bit;
  const int32_t BitCount = OneBit ? 1 : 24;
  const int32_t DW = X2 - X1, DH = Y2 - Y1;
  const int32_t RowLen = _BitmapRowLen(DW, BitCount);
  const size_t Head = 40 + (OneBit ? 8 : 0);
  std::vector<uint8_t> D(Head + static_cast<size_t>(RowLen) * DH + 4, 0);
  PutLE32(D.data(), 40);
  PutLE32(D.data() + 4, static_cast<uint32_t>(DW));
  PutLE32(D.data() + 8, static_cast<uint32_t>(DH));
  D[12] = 1;
  D[14] = static_cast<uint8_t>(BitCount);
  if (OneBit) std::memset(D.data() + 44, 255, 4);  // black, then white
  uint8_t* Out = D.data() + Head;
  for (int32_t Y = Y2 - 1; Y >= Y1; --Y, Out += RowLen) {
    const uint8_t* S = Src->ScanLine(Y);
    if (OneBit)
      _CopyBits(Out, S, 0, DW, X1);
    else
      std::memcpy(Out, S + static_cast<size_t>(X1) * 3, static_cast<size_t>(DW) * 3);
  }
  return D;
}

int32_t _CopyDIB2Bitmap(const uint8_t* DIB, size_t DIBSize, TBitmap& Bitmap, const uint8_t* Bits,
                        size_t BitsSize) {
  TDIBInfo I;
  if (!ParseDIB(DIB, DIBSize, Bits, BitsSize, I)) return 0;
  const int32_t W = I.Width, H = I.Height;
  if (const TYUVLayout* L = FindYUV(I.Compression)) {
    Bitmap.Recreate(W, H, pf24bit);
    L->Convert(I.Pixels, Bitmap, L->Reversed ? I.Negative : !I.Negative);
    return I.BitCount;
  }
  if (I.Compression == 1 || I.Compression == 2) {
    TBitmap Decoded;
    if (!QLDecodeDIB(DIB, I.InfoSize, I.Pixels, I.PixelsSize, Decoded)) return 0;
    QLCopyBitmap(Decoded, Bitmap);
    Bitmap.Modified();
    return I.BitCount;
  }
  const int32_t Stride = _BitmapRowLen(W, I.BitCount);
  // Stored rows run bottom-up unless the height was negative.
  auto Stored = [&](int32_t Y) {
    return I.Pixels + static_cast<size_t>(I.Negative ? Y : H - 1 - Y) * Stride;
  };
  if (I.BitCount == 1) {
    Bitmap.Recreate(W, H, pf1bit);
    // Bit 1 is white in this library's 1-bit images: a DIB whose first colour is the brighter
    // one stores the opposite and is inverted.
    const bool Invert = _RGBToGray(I.Palette[0]) > _RGBToGray(I.Palette[1]);
    for (int32_t Y = 0; Y < H; ++Y) {
      uint8_t* D = Bitmap.ScanLine(Y);
      std::memcpy(D, Stored(Y), static_cast<size_t>(Stride));
      if (Invert)
        for (int32_t K = 0; K < Stride; ++K) D[K] = static_cast<uint8_t>(~D[K]);
    }
    Bitmap.Modified();
    return 1;
  }
  Bitmap.Recreate(W, H, pf24bit);
  const int32_t NR = _GetBitCount(I.Masks[0]), NG = _GetBitCount(I.Masks[1]),
                NB = _GetBitCount(I.Masks[2]);
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* S = Stored(Y);
    TRGB* D = reinterpret_cast<TRGB*>(Bitmap.ScanLine(Y));
    switch (I.BitCount) {
      case 4:
        for (int32_t X = 0; X < W; ++X)
          D[X] = I.Palette[(X & 1) ? (S[X >> 1] & 15) : (S[X >> 1] >> 4)];
        break;
      case 8:
        for (int32_t X = 0; X < W; ++X) D[X] = I.Palette[S[X]];
        break;
      case 16:
        for (int32_t X = 0; X < W; ++X) {
          const uint32_t P = LE16(S + X * 2);
          D[X].r = Shifted(P & I.Masks[0], NR + NG + NB - 8);
          D[X].g = Shifted(P & I.Masks[1], NG + NB - 8);
          D[X].b = Shifted((P & 0xFF) & I.Masks[2], -(8 - NB));
        }
        break;
      case 24:
        std::memcpy(D, S, static_cast<size_t>(W) * 3);
        break;
      default:  // 32: blue, green, red, unused; masks are not applied
        for (int32_t X = 0; X < W; ++X) D[X] = TRGB{S[X * 4], S[X * 4 + 1], S[X * 4 + 2]};
        break;
    }
  }
  Bitmap.Modified();
  return I.BitCount;
}

int32_t _QLCopyDIB2Bitmap2(const uint8_t* DIB, size_t DIBSize, TBitmap& Bitmap, const uint8_t* Bits,
                           size_t BitsSize) {
  TDIBInfo I;
  if (!ParseDIB(DIB, DIBSize, Bits, BitsSize, I) || FindYUV(I.Compression)) return 0;
  TBitmap Decoded;
  if (!QLDecodeDIB(DIB, I.InfoSize, I.Pixels, I.PixelsSize, Decoded)) return 0;
  if (I.BitCount == 1) Decoded.SetPixelFormat(pf1bit);
  QLCopyBitmap(Decoded, Bitmap);
  Bitmap.Modified();
  return I.BitCount;
}

}  // namespace quillo
