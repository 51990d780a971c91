// The TGA reader and detector on arbitrary bytes.
#include "quillo/codecs/tga.h"
#include "fuzz/common/codec_target.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  {
    TMemoryViewStream S(Data, static_cast<int64_t>(Size));
    TryTGA(S);
  }
  return fuzz::RunReader(
      Data, Size, [](TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& R, bool Preview) {
        ReadTGAStream(S, B, P, R, Preview);
      });
}
