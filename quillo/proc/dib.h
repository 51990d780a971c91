// Exchange of bitmaps with device-independent bitmaps (DIBs): the clipboard's image format and
// the frame format of video capture, including its packed and planar YUV layouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillo/platform/bitmap.h"

namespace quillo {

// A packed DIB of the area X1, Y1 - X2, Y2 (X2 or Y2 of 0: the full width or height; the area is
// clipped to the bitmap): the 40-byte header, for 1-bit bitmaps the palette black then white,
// the rows bottom-up, and 4 spare bytes. 1-bit bitmaps give a 1-bit DIB; every other format a
// 24-bit one.
std::vector<uint8_t> _CopyBitmaptoDIB(const TBitmap& Bitmap, int32_t X1, int32_t Y1, int32_t X2,
                                      int32_t Y2);

// Fills Bitmap from a DIB of DIBSize bytes: 1-bit DIBs give a 1-bit bitmap (bit 1 white), all
// others 24-bit. The pixels are read from Bits (BitsSize bytes) when given, otherwise from behind
// the header, masks and palette. Uncompressed, bit-field and run-length DIBs of 1, 4, 8, 16, 24
// and 32 bits, and the YUV frame layouts (YUY2, YUNV, YVYU, UYVY, UYNV, cyuv, IYU1, IYU2, Y211,
// Y41P, CLJR, I420, IYUV, YV12, YVU9) are read. Returns the DIB's bit count, or 0 (Bitmap
// untouched) when the DIB is malformed, unsupported or larger than its data.
int32_t _CopyDIB2Bitmap(const uint8_t* DIB, size_t DIBSize, TBitmap& Bitmap,
                        const uint8_t* Bits = nullptr, size_t BitsSize = 0);
// The same through the general DIB decoder: palettes and bit masks are applied as a display
// would; 1-bit DIBs give a 1-bit bitmap, the others 24-bit. YUV layouts are not read. Returns
// the bit count, 0 when nothing was read.
int32_t _QLCopyDIB2Bitmap2(const uint8_t* DIB, size_t DIBSize, TBitmap& Bitmap,
                           const uint8_t* Bits = nullptr, size_t BitsSize = 0);

// The compression code of a DIB in a YUV layout, from its four characters.
constexpr uint32_t QLFourCC(char A, char B, char C, char D) {
  return static_cast<uint32_t>(static_cast<uint8_t>(A)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(B)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(C)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(D)) << 24);
}

}  // namespace quillo
