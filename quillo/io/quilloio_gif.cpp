// The I/O component's GIF calls. This build has no GIF codec yet: every call ends in the
// abort flag.
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

int32_t TQuilloIO::LoadFromFileGif(const std::string&) {
  Fail();
  return 0;
}

int32_t TQuilloIO::LoadFromStreamGif(TStream&) {
  Fail();
  return 0;
}

void TQuilloIO::SaveToFileGif(const std::string&) {
  Fail();
}

void TQuilloIO::SaveToStreamGif(TStream&) {
  Fail();
}

bool TQuilloIO::InsertToFileGif(const std::string&) {
  Fail();
  return false;
}

namespace iodetail {

void PreviewGIF(TStream&, TIOParamsVals&, TProgressRec& Progress) {
  QLSetAbort(Progress);
}

}  // namespace iodetail

}  // namespace quillo
