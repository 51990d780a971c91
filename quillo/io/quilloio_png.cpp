// The I/O component's PNG loaders and savers.
#include "quillo/codecs/png.h"
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFilePNG(const std::string& FileName) {
  LoadFileFrame(ioPNG, FileName, true, [&](TStream& S, TProgressRec& P) {
    ReadPNGStream(S, *GetAttachedBitmap(), IOParams(), P, false);
  });
}

void TQuilloIO::LoadFromStreamPNG(TStream& Stream) {
  LoadFrame(ioPNG, "", true, [&](TProgressRec& P) {
    ReadPNGStream(Stream, *GetAttachedBitmap(), IOParams(), P, false);
  });
}

void TQuilloIO::SaveToFilePNG(const std::string& FileName) {
  SaveFileFrame(FileName, [&](TStream& S, TBitmap& B, TProgressRec& P) {
    WritePNGStream(S, B, IOParams(), P);
  });
}

void TQuilloIO::SaveToStreamPNG(TStream& Stream) {
  SaveFrame([&](TBitmap& B, TProgressRec& P) { WritePNGStream(Stream, B, IOParams(), P); });
}

namespace iodetail {

bool TryPNG(TStream& Stream) {
  return IsPNGStream(Stream);
}

void PreviewPNG(TStream& Stream, TIOParamsVals& Params, TProgressRec& Progress) {
  TBitmap Unused;
  ReadPNGStream(Stream, Unused, Params, Progress, true);
}

}  // namespace iodetail

}  // namespace quillo
