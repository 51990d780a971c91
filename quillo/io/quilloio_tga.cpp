// The I/O component's TGA loaders and savers.
#include "quillo/codecs/tga.h"
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFileTGA(const std::string& FileName) {
  LoadFileFrame(ioTGA, FileName, true, [&](TStream& S, TProgressRec& P) {
    ReadTGAStream(S, *GetAttachedBitmap(), IOParams(), P, false);
  });
}

void TQuilloIO::LoadFromStreamTGA(TStream& Stream) {
  LoadFrame(ioTGA, "", false, [&](TProgressRec& P) {
    ReadTGAStream(Stream, *GetAttachedBitmap(), IOParams(), P, false);
  });
}

void TQuilloIO::SaveToFileTGA(const std::string& FileName) {
  SaveFileFrame(FileName, [&](TStream& S, TBitmap& B, TProgressRec& P) {
    WriteTGAStream(S, B, IOParams(), P);
  });
}

void TQuilloIO::SaveToStreamTGA(TStream& Stream) {
  SaveFrame([&](TBitmap& B, TProgressRec& P) { WriteTGAStream(Stream, B, IOParams(), P); });
}

namespace iodetail {

bool TryTGA(TStream& Stream) {
  return quillo::TryTGA(Stream);
}

void PreviewTGA(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress) {
  TBitmap Unused;
  ReadTGAStream(Stream, Unused, Params, Progress, true);
}

}  // namespace iodetail

}  // namespace quillo
