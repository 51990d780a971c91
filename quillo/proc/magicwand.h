// The magic wand: the outline of the region of similar colour around a pixel, as a polygon on
// pixel corners that a view's selection can take.
#pragma once

#include <cstdint>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/types.h"

namespace quillo {

// Floods the 4-connected region around (X, Y) of a 24-bit bitmap whose pixels differ from the
// clicked one by at most Tolerance in every channel, and returns the outer outline of the region
// (with MaxFilter, of the region grown by one pixel inside its bounding box). Empty when the
// bitmap is not 24-bit, (X, Y) lies outside it or Tolerance is negative.
std::vector<TPoint> _MakeMagicWandPoints(const TBitmap& Bitmap, int32_t X, int32_t Y,
                                         bool MaxFilter, int32_t Tolerance);

}  // namespace quillo
