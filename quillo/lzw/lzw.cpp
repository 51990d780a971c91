#include "quillo/lzw/lzw.h"

#include "quillo/core/hooks.h"
#include "quillo/lzw/gif_lzw.h"

namespace quillo {

void QLInstallLZWCoders() {
  DefGIF_LZWDECOMPFUNC = &GIFLZWDecompress;
  DefGIF_LZWCOMPFUNC = &GIFLZWCompress;
}

}  // namespace quillo
