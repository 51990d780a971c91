// The nearest-pixel stretching blitter the views draw with: a rectangle of 24-bit or 1-bit rows
// onto a rectangle of a 24-bit bitmap. It runs at every repaint, so it works on raw rows.
#pragma once

#include <cstdint>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/types.h"

namespace quillo {

// Rows of pixels to blit from: Row0 points at row 0 (the top) and rows lie Stride bytes apart
// (negative for bottom-up storage). BitsPerPixel is 24 (blue, green, red) or 1 (most
// significant bit leftmost, 1 is white, 0 is black).
struct TQLBlitSource {
  const uint8_t* Row0 = nullptr;
  int64_t Stride = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitsPerPixel = 0;
};

// The rows of a 24-bit or 1-bit bitmap; an empty source for other formats.
TQLBlitSource QLBlitSourceOf(const TBitmap& Bitmap);

enum TQLBlitMode : uint8_t {
  qlbmCopy,      // the target pixel takes the source pixel
  qlbmXorWhite,  // the target pixel is inverted where the source is white (1-bit) or non-black
};

// Stretches SrcRect of Source onto Dest of the 24-bit Target, nearest pixel: target pixel
// (x, y) of Dest takes source pixel (SrcRect.Left + (x - Dest.Left) * SrcW div DestW,
// SrcRect.Top + (y - Dest.Top) * SrcH div DestH). Only target pixels inside Clip and the
// target are written, and pixels whose source lies outside the source are left alone.
void QLStretchBlit(TBitmap& Target, const TRect& Dest, const TQLBlitSource& Source,
                   const TRect& SrcRect, const TRect& Clip, TQLBlitMode Mode = qlbmCopy);

}  // namespace quillo
