// The 24-bit pixels of any bitmap, as the quantizers read them.
#pragma once

#include "quillo/platform/bitmap.h"

namespace quillo {

// Bitmap itself when its rows are blue, green, red triples; otherwise a 24-bit copy kept in
// Holder. The quantizers index rows as triples, so any other layout must not reach them.
inline const TBitmap& QLAs24Bit(const TBitmap& Bitmap, TBitmap& Holder) {
  if (Bitmap.Empty() || QLStorageBitCount(Bitmap.GetPixelFormat()) == 24) return Bitmap;
  Holder.Assign(Bitmap);
  Holder.SetPixelFormat(pf24bit);
  return Holder;
}

}  // namespace quillo
