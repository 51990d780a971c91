// The TIFF reader (first and second page, then every page in one walk), page counting,
// appending a page (with and without an end hint) and deleting one, on arbitrary bytes, in both
// forms of the file.
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
  {
    View.SetPosition(0);
    TBitmap B;
    TIOParamsVals P;
    bool Abort = false;
    TProgressRec R = QLProgressRec(nullptr, nullptr, Abort);
    TIFFReadEachPage(View, B, P, R, [](int32_t I) { return I < 3; });
  }
  View.SetPosition(0);
  TMemoryStream File;
  File.WriteBuffer(Data, static_cast<int64_t>(Size));
  File.SetPosition(0);
  TBitmap Page(3, 2, pf1bit);
  TIOParamsVals P;
  P.BitsPerSample = 1;
  P.SamplesPerPixel = 1;
  // Appending follows the file's form (classic or large, 64-bit links); deflate or fax data.
  P.TiffCompression = Size % 2 ? ioTIFF_DEFLATE : ioTIFF_G4FAX;
  P.TiffImageIndex = static_cast<int32_t>(Size % 3);
  bool Abort = false;
  TProgressRec R = QLProgressRec(nullptr, nullptr, Abort);
  // Half the inputs give an end hint (right or wrong); a write that reports its end is followed
  // by an append that uses it.
  TTiffEnd End{static_cast<int64_t>(Size % 64), static_cast<int32_t>(Size % 4)};
  TIFFWriteStream(File, true, Page, P, R, (Size & 4) ? &End : nullptr);
  if ((Size & 4) && End.LinkPos >= 0 && !Abort) {
    File.SetPosition(0);
    P.TiffImageIndex = End.Count;
    TIFFWriteStream(File, true, Page, P, R, &End);
  }
  File.SetPosition(0);
  try {
    _DeleteTIFFImStream(File, static_cast<int32_t>(Size % 2));
  } catch (const Exception&) {
    // A rebuild may run out of room in a stream; only crashes matter here.
  }
  return 0;
}
