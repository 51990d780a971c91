// The I/O component's metafile calls. This build has no metafile codec yet: every call ends in the
// abort flag.
#include "quillo/io/formats_glue.h"
#include "quillo/io/quilloio.h"

namespace quillo {

void TQuilloIO::ImportMetafile(const std::string&, int32_t, int32_t) {
  Fail();
}

}  // namespace quillo
