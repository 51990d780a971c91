// The filter file loader on arbitrary bytes: a filter or EFilterInvalid; a loaded filter is then
// applied, so extreme kernels and divisors are exercised too.
#include "fuzz/common/fuzzutil.h"
#include "quillo/proc/filters.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  TGraphFilter F;
  try {
    TMemoryViewStream In(Data, static_cast<int64_t>(Size));
    LoadFilterFromStream(In, F);
  } catch (const EFilterInvalid&) {
    return 0;
  }
  TBitmap B(5, 4, pf24bit);
  for (int32_t Y = 0; Y < 4; ++Y)
    for (int32_t X = 0; X < 15; ++X) B.ScanLine(Y)[X] = static_cast<uint8_t>(X * 17 + Y * 5);
  TProgressRec P;
  _ApplyFilter(B, F, TRect{0, 0, 5, 4}, P);
  return 0;
}
