// Shared set-up of the fuzz targets.
#pragma once

#include <cstdint>

#include "quillo/platform/bitmap.h"

namespace quillo::fuzz {

// A pixel limit small enough that an input cannot make a target slow by size alone, set once.
inline void Init() {
  static bool Done = false;
  if (!Done) {
    QLSetMaxPixels(int64_t{1} << 22);
    Done = true;
  }
}

}  // namespace quillo::fuzz
