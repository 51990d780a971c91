// Reduction of a 24-bit image to black and white by an 8 x 8 ordered dither.
#pragma once

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"

namespace quillo {

// 24-bit bitmaps only: each pixel becomes white when its grey level div 4 exceeds the dither
// threshold at (x mod 8, y mod 8), black otherwise; the 1-bit result replaces the bitmap.
// Progress per row: trunc(rows done x 100 / (height + 0.5)).
void _ConvertToBWOrdered(TBitmap& Bitmap, TProgressRec& Progress);

}  // namespace quillo
