// TQLIPTCInfoList::LoadFromStandardBuffer on arbitrary bytes; what it decodes must encode and
// decode again to the same records.
#include <vector>

#include "fuzz/common/fuzzutil.h"
#include "quillo/core/metadata.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  // The exact size, so that a read past the end is caught.
  std::vector<uint8_t> Copy(Data, Data + Size);
  TQLIPTCInfoList L;
  L.LoadFromStandardBuffer(Copy.data(), static_cast<int32_t>(Copy.size()));
  std::vector<uint8_t> Buf = L.SaveToStandardBuffer();
  TQLIPTCInfoList M;
  M.LoadFromStandardBuffer(Buf.data(), static_cast<int32_t>(Buf.size()));
  int32_t Expected = 0;
  for (int32_t I = 0; I < L.Count(); ++I)
    if (!(L.GetRecordNumber(I) == 2 && L.GetDataSet(I) == 0)) ++Expected;
  if (M.Count() != Expected) __builtin_trap();
  return 0;
}
