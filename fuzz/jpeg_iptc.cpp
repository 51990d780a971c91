// QLJpegInjectIPTC on arbitrary bytes. A successful injection is idempotent: injecting the same
// records into its output gives the same bytes.
#include <vector>

#include "fuzz/common/fuzzutil.h"
#include "quillo/codecs/jpeg.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  TQLIPTCInfoList L;
  L.AddStringItem(2, 5, "title");
  L.AddStringItem(2, 120, "a caption of some length");
  TMemoryViewStream In(Data, static_cast<int64_t>(Size));
  TMemoryStream Once;
  if (!QLJpegInjectIPTC(In, Once, L)) return 0;
  TMemoryStream Twice;
  Once.SetPosition(0);
  if (!QLJpegInjectIPTC(Once, Twice, L)) __builtin_trap();
  if (Once.Data() != Twice.Data()) __builtin_trap();
  return 0;
}
