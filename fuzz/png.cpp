// The PNG reader on arbitrary bytes.
#include "quillo/codecs/png.h"
#include "fuzz/common/codec_target.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  return fuzz::RunReader(
      Data, Size, [](TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& R, bool Preview) {
        ReadPNGStream(S, B, P, R, Preview);
      });
}
