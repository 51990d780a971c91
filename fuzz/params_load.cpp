// TIOParamsVals::LoadFromStream on arbitrary bytes: a clear error or a loaded object, nothing
// else. What loads must save and load again to the same bytes.
#include <cstring>

#include "fuzz/common/fuzzutil.h"
#include "quillo/core/params.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  TMemoryViewStream In(Data, static_cast<int64_t>(Size));
  TIOParamsVals P;
  try {
    P.LoadFromStream(In);
  } catch (const Exception&) {
    return 0;
  }
  TMemoryStream Once, Twice;
  P.SaveToStream(Once);
  Once.SetPosition(0);
  TIOParamsVals Q;
  Q.LoadFromStream(Once);
  Q.SaveToStream(Twice);
  if (Once.GetSize() != Twice.GetSize() ||
      std::memcmp(Once.Memory(), Twice.Memory(), static_cast<size_t>(Once.GetSize())) != 0)
    __builtin_trap();
  P.GetFileTypeStr();
  return 0;
}
