// The I/O component's PNG calls. This build has no PNG codec yet: every call ends in the
// abort flag.
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFilePNG(const std::string&) {
  Fail();
}

void TQuilloIO::LoadFromStreamPNG(TStream&) {
  Fail();
}

void TQuilloIO::SaveToFilePNG(const std::string&) {
  Fail();
}

void TQuilloIO::SaveToStreamPNG(TStream&) {
  Fail();
}

namespace iodetail {

bool TryPNG(TStream&) {
  return false;
}
void PreviewPNG(TStream&, TIOParamsVals&, TProgressRec& Progress) {
  QLSetAbort(Progress);
}

}  // namespace iodetail

}  // namespace quillo
