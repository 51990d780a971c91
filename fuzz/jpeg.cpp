// ReadJPegStream on arbitrary bytes, at every reduction and DCT method.
#include "quillo/codecs/jpeg.h"
#include "fuzz/common/codec_target.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  return fuzz::RunReader(
      Data, Size, [&](TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& R, bool Preview) {
        P.JpegScale = static_cast<TIOJPEGScale>(Size % 5);
        P.JpegDCTMethod = static_cast<TIOJPEGDctMethod>(Size / 5 % 3);
        P.Width = 40;
        P.Height = 30;
        ReadJPegStream(S, B, P, R, Preview);
        // What was read must be writable again: the marker list holds whole segments.
        if (!Preview && !*R.AbortFlag) {
          TMemoryStream Out;
          WriteJPegStream(Out, B, P, R);
        }
      });
}
