// The body shared by the image reader fuzz targets: read from memory into a bitmap, first as a
// preview, then fully; any outcome but a crash, hang, leak or sanitizer report is acceptable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fuzz/common/fuzzutil.h"
#include "quillo/core/params.h"
#include "quillo/platform/streams.h"

namespace quillo::fuzz {

template <typename ReadFn>
int RunReader(const uint8_t* Data, size_t Size, ReadFn&& Read) {
  Init();
  for (bool Preview : {true, false}) {
    TMemoryViewStream S(Data, static_cast<int64_t>(Size));
    TBitmap Bitmap;
    TIOParamsVals Params;
    bool Abort = false;
    TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
    Read(S, Bitmap, Params, P, Preview);
    if (Preview && !Bitmap.Empty()) __builtin_trap();  // a preview never touches the pixels
  }
  return 0;
}

}  // namespace quillo::fuzz
