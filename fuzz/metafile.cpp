// TMetafile on arbitrary bytes: loading either refuses the header or yields a picture that plays
// onto 24-bit and 1-bit canvases without reading outside the data.
#include "quillo/platform/metafile.h"
#include "fuzz/common/fuzzutil.h"
#include "quillo/platform/canvas.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  TMetafile M;
  try {
    M.LoadFromBytes(Data, Size);
  } catch (const Exception&) {
    return 0;
  }
  TBitmap B(64, 48, pf24bit);
  M.Play(B.Canvas(), Rect(0, 0, 64, 48));
  // A mirrored destination and a clipped, 1-bit target take the other paths.
  TBitmap Mono(40, 30, pf1bit);
  Mono.Canvas().SetClipRegion(TRegion(Rect(5, 5, 35, 25)));
  M.Play(Mono.Canvas(), Rect(40, 30, -10, -10));
  return 0;
}
