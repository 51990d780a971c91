// The I/O component's PCX calls. This build has no PCX codec yet: every call ends in the
// abort flag.
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::LoadFromFilePCX(const std::string&) {
  Fail();
}

void TQuilloIO::LoadFromStreamPCX(TStream&) {
  Fail();
}

void TQuilloIO::SaveToFilePCX(const std::string&) {
  Fail();
}

void TQuilloIO::SaveToStreamPCX(TStream&) {
  Fail();
}

namespace iodetail {

void PreviewPCX(TStream&, TIOParamsVals&, TProgressRec& Progress) {
  QLSetAbort(Progress);
}

}  // namespace iodetail

}  // namespace quillo
