// The DXF import on arbitrary text: true or false, never more than the entities in the text, and
// the objects made are drawn.
#include "fuzz/common/fuzzutil.h"
#include "quillo/vect/vect.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  TQuilloVect V;
  V.SetBounds(0, 0, 64, 48);
  TBitmap B(40, 30, pf24bit);
  V.Assign(&B);
  TMemoryViewStream In(Data, static_cast<int64_t>(Size));
  V.ImportDXFStream(In);
  // An entity takes at least four lines of two characters.
  if (static_cast<size_t>(V.ObjectsCount()) > Size / 8 + 1) __builtin_trap();
  V.Paint();
  return 0;
}
