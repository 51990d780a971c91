// The icon and cursor readers and detectors on arbitrary bytes; the last byte picks the image.
#include "fuzz/common/codec_target.h"
#include "quillo/codecs/bmp.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const int32_t Index = Size ? Data[Size - 1] % 4 : 0;
  {
    TMemoryViewStream S(Data, static_cast<int64_t>(Size));
    ICOTryStream(S);
    CURTryStream(S);
  }
  return fuzz::RunReader(
      Data, Size, [&](TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& R, bool Preview) {
        P.IcoImageIndex = P.CurImageIndex = Index;
        if (Index & 1)
          CURReadStream(S, B, P, Preview, R);
        else
          ICOReadStream(S, B, P, Preview, R);
      });
}
