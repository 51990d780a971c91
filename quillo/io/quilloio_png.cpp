// The I/O component's PNG loaders and savers.
#include "quillo/codecs/png.h"
#include "quillo/io/detail/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFilePNG(const std::string& FileName) {
  LoadFileWith(ioPNG, FileName);
}

void TQuilloIO::LoadFromStreamPNG(TStream& Stream) {
  LoadStreamWith(ioPNG, Stream);
}

void TQuilloIO::SaveToFilePNG(const std::string& FileName) {
  SaveFileWith(ioPNG, FileName);
}

void TQuilloIO::SaveToStreamPNG(TStream& Stream) {
  SaveStreamWith(ioPNG, Stream);
}

namespace iodetail {

void PNGRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  ReadPNGStream(Stream, Bitmap, Params, Progress, Preview);
}

void PNGWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  WritePNGStream(Stream, Bitmap, Params, Progress);
}

bool PNGTry(TStream& Stream) {
  return Stream.GetSize() - Stream.GetPosition() > 8 && IsPNGStream(Stream);
}

}  // namespace iodetail

}  // namespace quillo
