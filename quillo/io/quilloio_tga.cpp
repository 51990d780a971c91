// The I/O component's TGA loaders and savers.
#include "quillo/codecs/tga.h"
#include "quillo/io/detail/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFileTGA(const std::string& FileName) {
  LoadFileWith(ioTGA, FileName);
}

void TQuilloIO::LoadFromStreamTGA(TStream& Stream) {
  LoadStreamWith(ioTGA, Stream);
}

void TQuilloIO::SaveToFileTGA(const std::string& FileName) {
  SaveFileWith(ioTGA, FileName);
}

void TQuilloIO::SaveToStreamTGA(TStream& Stream) {
  SaveStreamWith(ioTGA, Stream);
}

namespace iodetail {

void TGARead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress) {
  ReadTGAStream(Stream, Bitmap, Params, Progress, Preview);
}

void TGAWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  WriteTGAStream(Stream, Bitmap, Params, Progress);
}

bool TGATry(TStream& Stream) {
  return TryTGA(Stream);
}

}  // namespace iodetail

}  // namespace quillo
