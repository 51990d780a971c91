// The I/O component's PCX loaders and savers, with the "PCX2" and old "PCX" stream headers.
#include <cstring>

#include "quillo/codecs/pcx.h"
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFilePCX(const std::string& FileName) {
  if (!BeginLoad()) return;
  TProgressRec P = MakeProgress();
  ReadPcx(FileName, *GetAttachedBitmap(), IOParams(), P, false);
  EndLoad(ioPCX, FileName, true);
}

void TQuilloIO::LoadFromStreamPCX(TStream& Stream) {
  if (!BeginLoad()) return;
  int64_t DataSize = Stream.GetSize() - Stream.GetPosition();
  int64_t After = -1;  // where the stream is left, when a header says
  if (StreamHeaders) {
    const int64_t HeaderPos = Stream.GetPosition();
    auto H = QLReadStreamHeader(Stream);
    if (!H || std::memcmp(H->Tag, "PCX", 3) != 0) return Fail();
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
  EndLoad(ioPCX, "", true);
}

void TQuilloIO::SaveToFilePCX(const std::string& FileName) {
  SaveFileFrame(FileName, [&](TStream& S, TBitmap& B, TProgressRec& P) {
    WritePcxStream(S, B, IOParams(), P);
  });
}

void TQuilloIO::SaveToStreamPCX(TStream& Stream) {
  SaveFrame([&](TBitmap& B, TProgressRec& P) {
    bool HeaderAbort = false;
    const int64_t At = StreamHeaders ? QLBeginStreamHeader(Stream, HeaderAbort) : -1;
    WritePcxStream(Stream, B, IOParams(), P);
    if (At >= 0 && !QLAborted(P)) QLEndStreamHeader(Stream, At, "PCX2", HeaderAbort);
    if (HeaderAbort) QLSetAbort(P);
  });
}

namespace iodetail {

void PreviewPCX(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress) {
  TBitmap Unused;
  ReadPcxStream(Stream, Unused, Params, Progress, true, Stream.GetSize() - Stream.GetPosition());
}

}  // namespace iodetail

}  // namespace quillo
