// The layer file reader on arbitrary bytes: false with the layer unchanged, or a layer whose
// objects are then drawn at two zooms and written back out.
#include "fuzz/common/fuzzutil.h"
#include "quillo/vect/vect.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  TQuilloVect V;
  V.SetBounds(0, 0, 64, 48);
  TBitmap B(32, 24, pf24bit);
  V.Assign(&B);
  V.AddNewObject();
  TMemoryViewStream In(Data, static_cast<int64_t>(Size));
  if (!V.LoadFromStreamQLV(In)) {
    if (V.ObjectsCount() != 1) __builtin_trap();
    return 0;
  }
  // Drawing and picking must survive any coordinates and sizes the file holds.
  V.Paint();
  V.SetZoom(400);
  V.Paint();
  V.FindNearestObject(10, 10);
  TMemoryStream Out;
  V.SaveToStreamQLV(Out);
  return 0;
}
