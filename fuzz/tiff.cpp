// The TIFF reader (first and second page), page counting, appending a page and deleting one,
// on arbitrary bytes.
#include "quillo/codecs/tiff.h"
#include "fuzz/common/codec_target.h"
#include "quillo/lzw/lzw.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  QLInstallLZWCoders();
  for (int32_t Index : {0, 1})
    fuzz::RunReader(Data, Size,
                    [&](TStream& S, TBitmap& B, TIOParamsVals& P, TProgressRec& R, bool Preview) {
                      P.SetDefaultParams();
                      P.TiffImageIndex = Index;
                      int32_t Count = 0;
                      TIFFReadStream(B, S, Count, &P, R, Preview);
                    });
  TMemoryViewStream View(Data, static_cast<int64_t>(Size));
  _EnumTIFFImStream(View);
  TMemoryStream File;
  File.WriteBuffer(Data, static_cast<int64_t>(Size));
  File.SetPosition(0);
  TBitmap Page(3, 2, pf1bit);
  TIOParamsVals P;
  P.BitsPerSample = 1;
  P.SamplesPerPixel = 1;
  P.TiffCompression = ioTIFF_G4FAX;
  P.TiffImageIndex = static_cast<int32_t>(Size % 3);
  bool Abort = false;
  TProgressRec R = QLProgressRec(nullptr, nullptr, Abort);
  TIFFWriteStream(File, true, Page, P, R);
  File.SetPosition(0);
  try {
    _DeleteTIFFImStream(File, static_cast<int32_t>(Size % 2));
  } catch (const Exception&) {
    // A rebuild may run out of room in a stream; only crashes matter here.
  }
  return 0;
}
