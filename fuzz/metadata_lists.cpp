// The two metadata list stream loaders on arbitrary bytes (the first byte picks the list).
#include "fuzz/common/fuzzutil.h"
#include "quillo/core/metadata.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  if (Size < 1) return 0;
  TMemoryViewStream In(Data + 1, static_cast<int64_t>(Size - 1));
  try {
    if (Data[0] & 1) {
      TQLMarkerList L;
      L.LoadFromStream(In);
      for (int32_t I = 0; I < L.GetCount(); ++I) L.GetMarkerStream(I);
    } else {
      TQLIPTCInfoList L;
      L.LoadFromStream(In);
      L.SaveToStandardBuffer();
    }
  } catch (const Exception&) {
  }
  return 0;
}
