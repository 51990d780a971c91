// The 24-bit pixels of any bitmap, as the quantizers read them.
#pragma once

#include "quillo/platform/bitmap.h"

namespace quillo {

// Bitmap itself when its rows are blue, green, red triples; otherwise a 24-bit copy kept in
// Holder. A 1-bit bitmap expands by the working layout's rule (1 white, 0 black) whatever its
// palette says. The quantizers and the writers index rows as triples, so any other layout
// must not reach them.
const TBitmap& QLAs24Bit(const TBitmap& Bitmap, TBitmap& Holder);

}  // namespace quillo
