// The I/O component's JPEG calls. This build has no JPEG codec yet: every call ends in the
// abort flag.
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFileJpeg(const std::string&) {
  Fail();
}

void TQuilloIO::LoadFromStreamJpeg(TStream&) {
  Fail();
}

void TQuilloIO::SaveToFileJpeg(const std::string&) {
  Fail();
}

void TQuilloIO::SaveToStreamJpeg(TStream&) {
  Fail();
}

bool TQuilloIO::InjectJpegIPTC(const std::string&) {
  return false;
}

bool TQuilloIO::InjectJpegIPTCStream(TStream&, TStream&) {
  return false;
}

namespace iodetail {

bool TryJPEG(TStream&) {
  return false;
}
void PreviewJPEG(TStream&, TIOParamsVals&, TProgressRec& Progress) {
  QLSetAbort(Progress);
}

}  // namespace iodetail

}  // namespace quillo
