// The I/O component's GIF loaders and savers, frame insertion, the GIF file functions, and
// the one-pass loading of every frame or page.
#include <algorithm>

#include "quillo/codecs/gif.h"
#include "quillo/codecs/tiff.h"
#include "quillo/io/detail/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

namespace {
// After a GIF load the component's background is the frame's transparent colour when it has
// one, else the logical screen's background.
void TakeGifBackground(TQuilloIO& IO) {
  const TIOParamsVals& P = IO.IOParams();
  const TRGB C = P.GifTransparent ? P.GifTranspColor : P.GifBackground;
  IO.SetBackground(RGBColor(C.r, C.g, C.b));
}
}  // namespace

int32_t TQuilloIO::LoadFromFileGif(const std::string& FileName) {
  if (!BeginLoad()) return 0;
  int32_t Count = 0;
  TProgressRec P = MakeProgress();
  ReadGif(FileName, *GetAttachedBitmap(), Count, IOParams(), P);
  EndLoad(ioGIF, FileName, ViewDpiAfterLoad(ioGIF, true));
  TakeGifBackground(*this);
  return Count;
}

int32_t TQuilloIO::LoadFromStreamGif(TStream& Stream) {
  if (!BeginLoad()) return 0;
  int32_t Count = 0;
  TProgressRec P = MakeProgress();
  ReadGifStream(Stream, *GetAttachedBitmap(), Count, IOParams(), P, false);
  EndLoad(ioGIF, "", ViewDpiAfterLoad(ioGIF, false));
  TakeGifBackground(*this);
  return Count;
}

void TQuilloIO::SaveToFileGif(const std::string& FileName) {
  SaveFileWith(ioGIF, FileName);
}

void TQuilloIO::SaveToStreamGif(TStream& Stream) {
  SaveStreamWith(ioGIF, Stream);
}

bool TQuilloIO::InsertToFileGif(const std::string& FileName) {
  int32_t Result = 0;
  SaveFrame([&](TBitmap& B, TProgressRec& P) {
    TIOParamsVals& Prm = IOParams();
    TGifEnd End;
    {
      TFileStream F(FileName, fmOpenReadWrite);
      // The logical screen grows to hold the new frame, and never shrinks below the file's own
      // (the parameters may not have seen the file).
      int32_t FileW = 0, FileH = 0;
      uint8_t H[10];
      if (F.Read(H, 10) == 10 && H[0] == 'G' && H[1] == 'I' && H[2] == 'F') {
        FileW = H[6] | (H[7] << 8);
        FileH = H[8] | (H[9] << 8);
      }
      F.SetPosition(0);
      Prm.GifWinWidth = std::max({Prm.GifWinWidth, FileW, B.GetWidth() + Prm.GifXPos});
      Prm.GifWinHeight = std::max({Prm.GifWinHeight, FileH, B.GetHeight() + Prm.GifYPos});
      // A file unchanged since this component appended to it last need not be walked again;
      // the codec still checks that the trailer stands where the hint says.
      if (FGifAppendTrailer >= 0 && F.Stamp() == FGifAppendStamp)
        End = TGifEnd{FGifAppendTrailer, FGifAppendCount};
      FGifAppendTrailer = -1;
      Result = _InsertGifImStream(F, B, Prm, P, &End);
      try {
        F.Flush();
      } catch (const EWriteError&) {
        QLSetAbort(P);
      }
    }
    if (QLAborted(P)) return;
    _GifMakeAnimate(FileName, 0, Prm.GifWinWidth, Prm.GifWinHeight);
    if (End.TrailerAt < 0) return;
    // Animating may have moved the trailer (a loop extension put in front) but leaves it last.
    TFileStream After(FileName, fmOpenRead | fmShareDenyWrite);
    FGifAppendStamp = After.Stamp();
    FGifAppendTrailer = After.GetSize() - 1;
    FGifAppendCount = Result;
  });
  return Result != 0;
}

int32_t DeleteGifIm(const std::string& FileName, int32_t Index) {
  return _DeleteGifIm(FileName, Index, true);
}

int32_t EnumGifIm(const std::string& FileName) {
  try {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    TIOParamsVals P;
    P.GifImageIndex = -1;  // no image wanted: only count them
    TBitmap Unused;
    int32_t Count = 0;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    ReadGifStream(F, Unused, Count, P, Prog, true);
    return Count;
  } catch (const std::exception&) {
    return 0;
  }
}

bool CheckAniGif(const std::string& FileName) {
  try {
    return _CheckGifAnimate(FileName);
  } catch (const std::exception&) {
    return false;
  }
}

namespace iodetail {

void GIFRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  int32_t Count = 0;
  ReadGifStream(Stream, Bitmap, Count, Params, Progress, Preview);
}

void GIFWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  WriteGifStream(Stream, Bitmap, Params, Progress);
}

bool GIFTry(TStream& Stream) {
  return StartsWith(Stream, 13, "GIF", 3);
}

}  // namespace iodetail

}  // namespace quillo

namespace quillo {

int32_t TQuilloIO::LoadEachImage(const std::string& FileName, int32_t Type,
                                 const std::function<bool(int32_t)>& OnImage) {
  if (!BeginLoad() || (Type != ioGIF && Type != ioTIFF)) return 0;
  TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
  TProgressRec P = MakeProgress();
  auto Each = [&](int32_t I) {
    EndLoad(Type, FileName, ViewDpiAfterLoad(Type, true));
    if (Type == ioGIF) TakeGifBackground(*this);
    const bool More = OnImage(I);
    // The next image starts a load of its own.
    FParams.IPTCInfoList.Clear();
    FParams.JpegMarkerList.Clear();
    return More;
  };
  if (Type == ioGIF) return ReadGifEach(F, *GetAttachedBitmap(), IOParams(), P, Each);
  return TIFFReadEachPage(F, *GetAttachedBitmap(), IOParams(), P, Each);
}

}  // namespace quillo
