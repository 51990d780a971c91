// The GIF reader (first and second image, then every image in one pass) and the frame insertion
// (with and without an end hint) on arbitrary bytes.
#include "quillo/codecs/gif.h"
#include "fuzz/common/codec_target.h"
#include "quillo/lzw/lzw.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  QLInstallLZWCoders();
  for (int32_t Index : {0, 1})
    fuzz::RunReader(Data, Size,
                    [&](TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& R, bool Preview) {
                      P.SetDefaultParams();
                      P.GifImageIndex = Index;
                      int32_t Count = 0;
                      ReadGifStream(S, B, Count, P, R, Preview);
                    });
  {
    TMemoryViewStream View(Data, static_cast<int64_t>(Size));
    TBitmap B;
    TIOParamsVals P;
    P.SetDefaultParams();
    bool Abort = false;
    TProgressRec R = QLProgressRec(nullptr, nullptr, Abort);
    ReadGifEach(View, B, P, R, [](int32_t I) { return I < 3; });
  }
  TMemoryStream File;
  File.WriteBuffer(Data, static_cast<int64_t>(Size));
  File.SetPosition(0);
  TBitmap Frame(3, 2, pf24bit);
  TIOParamsVals P;
  P.GifImageIndex = Size % 3;
  bool Abort = false;
  TProgressRec R = QLProgressRec(nullptr, nullptr, Abort);
  // Half the inputs give an end hint (right or wrong); an insertion that reports its end is
  // followed by an append that uses it.
  TGifEnd End{static_cast<int64_t>(Size) - 1, static_cast<int32_t>(Size % 3)};
  _InsertGifImStream(File, Frame, P, R, (Size & 4) ? &End : nullptr);
  if (End.TrailerAt >= 0 && !Abort && (Size & 4)) {
    File.SetPosition(0);
    P.GifImageIndex = End.Count;
    _InsertGifImStream(File, Frame, P, R, &End);
  }
  return 0;
}
