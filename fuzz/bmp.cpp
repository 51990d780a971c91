// BMPReadStream on arbitrary bytes, with and without a block size.
#include "quillo/codecs/bmp.h"
#include "fuzz/common/codec_target.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  return fuzz::RunReader(
      Data, Size, [&](TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& R, bool Preview) {
        BMPReadStream(S, B, Size % 3 == 0 ? static_cast<int64_t>(Size) : 0, P, R, Preview);
      });
}
