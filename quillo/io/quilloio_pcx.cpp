// The I/O component's PCX loaders and savers, with the "PCX2" and old "PCX" stream headers.
#include <cstring>

#include "quillo/codecs/pcx.h"
#include "quillo/io/detail/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFilePCX(const std::string& FileName) {
  if (!BeginLoad()) return;
  TProgressRec P = MakeProgress();
  ReadPcx(FileName, *GetAttachedBitmap(), IOParams(), P, false);
  EndLoad(ioPCX, FileName, ViewDpiAfterLoad(ioPCX, true));
}

void TQuilloIO::LoadFromStreamPCX(TStream& Stream) {
  if (!BeginLoad()) return;
  int64_t DataSize = Stream.GetSize() - Stream.GetPosition();
  int64_t After = -1;  // where the stream is left, when a header says
  if (StreamHeaders) {
    const int64_t HeaderPos = Stream.GetPosition();
    auto H = QLReadStreamHeader(Stream);
    if (!H || std::memcmp(H->Tag, "PCX", 3) != 0) return Fail(qlarDamaged);
    if (H->Tag[3] == '2') {
      DataSize = H->Length;
      After = HeaderPos + 12 + H->Length;
    } else {
      // The old form: a 4-byte header and no length.
      Stream.SetPosition(HeaderPos + 4);
      DataSize = Stream.GetSize() - Stream.GetPosition();
    }
  }
  TProgressRec P = MakeProgress();
  ReadPcxStream(Stream, *GetAttachedBitmap(), IOParams(), P, false, DataSize);
  if (After >= 0) Stream.SetPosition(After);
  EndLoad(ioPCX, "", ViewDpiAfterLoad(ioPCX, false));
}

void TQuilloIO::SaveToFilePCX(const std::string& FileName) {
  SaveFileWith(ioPCX, FileName);
}

void TQuilloIO::SaveToStreamPCX(TStream& Stream) {
  SaveStreamWith(ioPCX, Stream, [&](const TQLWriteFunction& Write, TBitmap& B, TProgressRec& P) {
    bool HeaderAbort = false;
    const int64_t At = StreamHeaders ? QLBeginStreamHeader(Stream, HeaderAbort) : -1;
    Write(Stream, B, IOParams(), P);
    if (At >= 0 && !QLAborted(P)) QLEndStreamHeader(Stream, At, "PCX2", HeaderAbort);
    if (HeaderAbort) QLSetAbort(P);
  });
}

namespace iodetail {

// A stream's image runs to its end.
void PCXRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  ReadPcxStream(Stream, Bitmap, Params, Progress, Preview, Stream.GetSize() - Stream.GetPosition());
}

void PCXWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  WritePcxStream(Stream, Bitmap, Params, Progress);
}

// A "PCX2" or old "PCX" stream header, or the manufacturer byte 10 and a version up to 5.
bool PCXTry(TStream& Stream) {
  if (StartsWith(Stream, 12, "PCX2\0", 5) || StartsWith(Stream, 4, "PCX\0", 4)) return true;
  const int64_t Pos = Stream.GetPosition();
  if (Stream.GetSize() - Pos <= 128) return false;
  uint8_t B[2] = {};
  const bool Read = Stream.Read(B, 2) == 2;
  Stream.SetPosition(Pos);
  return Read && B[0] == 0x0A && B[1] <= 5;
}

}  // namespace iodetail

}  // namespace quillo
