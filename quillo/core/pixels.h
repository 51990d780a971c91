// Pixel-format helpers shared by the codecs and the processing routines.
//
// The two working layouts: 24-bit (blue, green, red per pixel) and 1-bit (eight pixels per
// byte, most significant bit leftmost, 1 = white, 0 = black whatever the palette says).
#pragma once

#include <cstdint>
#include <memory>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// _BitmapRowLen, the bytes of one stored row, comes with quillo/platform/bitmap.h.
int32_t _Pixelformat2BitCount(TPixelFormat PF);
TPixelFormat _Bitcount2Pixelformat(int32_t BitCount);
// Length of the run of set bits starting at the lowest set bit (0x7C00 gives 5, 0 gives 0).
int32_t _GetBitCount(uint32_t Mask);
// Bits per pixel for a number of colours: 256 gives 8, 3 gives 2, 1 gives 0, 0 gives -1.
int32_t _NColToBitsPixel(int32_t NCol);
// 2 to the power BitsPerSample x SamplesPerPixel (saturated at 2^31-1).
int32_t _GetNumCol(int32_t BitsPerSample, int32_t SamplesPerPixel);

// Dest becomes a copy of Source (1 x 1 first, Source's format, then its size and pixels).
void QLCopyBitmap(const TBitmap& Source, TBitmap& Dest);
// A new bitmap filled by QLCopyBitmap.
std::unique_ptr<TBitmap> QLCloneBitmap(const TBitmap& Source);

// Expands a 1-bit bitmap into Dest as 24-bit (1 white, 0 black), reporting progress per row.
void _Conv1to24(const TBitmap& Source, TBitmap& Dest, TProgressRec& Progress);
// A 1-bit copy of a two-colour 24-bit bitmap, its darker colour in Color1 (bit 0) and the
// other in Color2 (bit 1); nothing for a bitmap of one colour, more than two or not 24-bit.
std::unique_ptr<TBitmap> _ConvertTo1bit(const TBitmap& Bitmap, TRGB& Color1, TRGB& Color2);
// Copies BitCount bits, most significant first, from Src at bit SrcOffset to Dst at bit
// DstOffset; the bits of Dst around the run are kept.
void _CopyBits(uint8_t* Dst, const uint8_t* Src, int32_t DstOffset, int32_t BitCount,
               int32_t SrcOffset);

// Writes Length bytes; sets Abort when the stream took fewer. Returns the stream's count.
int64_t SafeStreamWrite(TStream& Stream, bool& Abort, const void* Buffer, int64_t Length);
// A 32-bit little-endian length, then the bytes.
void SaveStringToStream(TStream& Stream, const std::string& S);
// Reads what SaveStringToStream wrote. A negative length or one beyond the stream's end raises
// EReadError without allocating.
void LoadStringFromStream(TStream& Stream, std::string& S);

// Little-endian and big-endian integers on streams; short reads raise EReadError.
uint8_t QLReadByte(TStream& Stream);
uint16_t QLReadWordLE(TStream& Stream);
uint32_t QLReadDWordLE(TStream& Stream);
int32_t QLReadIntLE(TStream& Stream);
double QLReadDoubleLE(TStream& Stream);
void QLWriteByte(TStream& Stream, uint8_t V);
void QLWriteWordLE(TStream& Stream, uint16_t V);
void QLWriteDWordLE(TStream& Stream, uint32_t V);
void QLWriteIntLE(TStream& Stream, int32_t V);
void QLWriteDoubleLE(TStream& Stream, double V);

// Bit X of a 1-bit row, most significant bit first.
inline int32_t _GetPixelbw(const uint8_t* Row, int32_t X) {
  return (Row[X >> 3] >> (7 - (X & 7))) & 1;
}
inline void _SetPixelbw(uint8_t* Row, int32_t X, int32_t Value) {
  const uint8_t Mask = static_cast<uint8_t>(0x80 >> (X & 7));
  Row[X >> 3] =
      Value ? static_cast<uint8_t>(Row[X >> 3] | Mask) : static_cast<uint8_t>(Row[X >> 3] & ~Mask);
}

// Reduces the inclusive area (X1, Y1)-(X2, Y2) of raw 1-bit rows to a 24-bit grey destination
// of its current size (each pixel the share of white in its box): Rows points at row 0 and rows are Stride bytes apart (negative
// for bottom-up storage); the source is SrcWidth x SrcHeight.
void _SubResample1bitFilteredDIB(const uint8_t* Rows, int64_t Stride, int32_t SrcWidth,
                                 int32_t SrcHeight, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                                 TBitmap& Destination);

}  // namespace quillo
