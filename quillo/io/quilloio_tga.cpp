// The I/O component's TGA calls. This build has no TGA codec yet: every call ends in the
// abort flag.
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFileTGA(const std::string&) {
  Fail();
}

void TQuilloIO::LoadFromStreamTGA(TStream&) {
  Fail();
}

void TQuilloIO::SaveToFileTGA(const std::string&) {
  Fail();
}

void TQuilloIO::SaveToStreamTGA(TStream&) {
  Fail();
}

namespace iodetail {

bool TryTGA(TStream&) {
  return false;
}
void PreviewTGA(TStream&, TIOParamsVals&, TProgressRec& Progress) {
  QLSetAbort(Progress);
}

}  // namespace iodetail

}  // namespace quillo
