// The I/O component's TIFF calls. This build has no TIFF codec yet: every call ends in the
// abort flag.
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

int32_t TQuilloIO::LoadFromFileTIFF(const std::string&) {
  Fail();
  return 0;
}

int32_t TQuilloIO::LoadFromStreamTIFF(TStream&) {
  Fail();
  return 0;
}

void TQuilloIO::SaveToFileTIFF(const std::string&) {
  Fail();
}

void TQuilloIO::SaveToStreamTIFF(TStream&) {
  Fail();
}

int32_t TQuilloIO::InsertToFileTIFF(const std::string&) {
  Fail();
  return 0;
}

int32_t DeleteTIFFIm(const std::string&, int32_t) {
  return 0;
}

int32_t EnumTIFFIm(const std::string&) {
  return 0;
}

namespace iodetail {

void PreviewTIFF(TStream&, TIOParamsVals&, TProgressRec& Progress) {
  QLSetAbort(Progress);
}

}  // namespace iodetail

}  // namespace quillo
