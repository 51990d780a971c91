// The I/O component's TIFF loaders and savers with the "TIFF" stream header, page insertion,
// and the TIFF file functions.
#include <cstring>

#include "quillo/codecs/tiff.h"
#include "quillo/io/detail/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

int32_t TQuilloIO::LoadFromFileTIFF(const std::string& FileName) {
  if (!BeginLoad()) return 0;
  int32_t Count = 0;
  {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    TProgressRec P = MakeProgress();
    TIFFReadStream(*GetAttachedBitmap(), F, Count, &IOParams(), P, false);
  }
  EndLoad(ioTIFF, FileName, ViewDpiAfterLoad(ioTIFF, true));
  return Count;
}

int32_t TQuilloIO::LoadFromStreamTIFF(TStream& Stream) {
  if (!BeginLoad()) return 0;
  int64_t After = -1;  // where a stream header says the image ends
  if (StreamHeaders) {
    const int64_t HeaderPos = Stream.GetPosition();
    auto H = QLReadStreamHeader(Stream);
    if (!H || std::memcmp(H->Tag, "TIFF", 4) != 0) {
      Fail(qlarDamaged);
      return 0;
    }
    After = HeaderPos + 12 + H->Length;
  }
  int32_t Count = 0;
  TProgressRec P = MakeProgress();
  TIFFReadStream(*GetAttachedBitmap(), Stream, Count, &IOParams(), P, false);
  if (After >= 0) Stream.SetPosition(After);
  EndLoad(ioTIFF, "", ViewDpiAfterLoad(ioTIFF, false));
  return Count;
}

void TQuilloIO::SaveToFileTIFF(const std::string& FileName) {
  SaveFileWith(ioTIFF, FileName);
}

void TQuilloIO::SaveToStreamTIFF(TStream& Stream) {
  SaveStreamWith(ioTIFF, Stream, [&](const TQLWriteFunction& Write, TBitmap& B, TProgressRec& P) {
    bool HeaderAbort = false;
    const int64_t At = StreamHeaders ? QLBeginStreamHeader(Stream, HeaderAbort) : -1;
    Write(Stream, B, IOParams(), P);
    if (At >= 0 && !QLAborted(P)) QLEndStreamHeader(Stream, At, "TIFF", HeaderAbort);
    if (HeaderAbort) QLSetAbort(P);
  });
}

int32_t TQuilloIO::InsertToFileTIFF(const std::string& FileName) {
  int32_t Result = 0;
  SaveFrame([&](TBitmap& B, TProgressRec& P) {
    TFileStream F(FileName, fmOpenReadWrite);
    Result = TIFFWriteStream(F, true, B, IOParams(), P);
    try {
      F.Flush();
    } catch (const EWriteError&) {
      QLSetAbort(P);
    }
  });
  return Result;
}

int32_t DeleteTIFFIm(const std::string& FileName, int32_t Index) {
  TFileStream F(FileName, fmOpenReadWrite);
  const int32_t Result = _DeleteTIFFImStream(F, Index);
  F.Flush();
  return Result;
}

int32_t EnumTIFFIm(const std::string& FileName) {
  try {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    return _EnumTIFFImStream(F);
  } catch (const std::exception&) {
    return 0;
  }
}

namespace iodetail {

void TIFFRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
              TProgressRec& Progress) {
  int32_t Count = 0;
  TIFFReadStream(Bitmap, Stream, Count, &Params, Progress, Preview);
}

// A new file holding the one page.
void TIFFWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  TIFFWriteStream(Stream, false, Bitmap, Params, Progress);
}

// A "TIFF" stream header, or either byte order mark.
bool TIFFTry(TStream& Stream) {
  return StartsWith(Stream, 12, "TIFF\0", 5) || StartsWith(Stream, 8, "II", 2) ||
         StartsWith(Stream, 8, "MM", 2);
}

}  // namespace iodetail

}  // namespace quillo
