#include "quillo/lzw/lzw.h"

#include "quillo/core/hooks.h"
#include "quillo/lzw/gif_lzw.h"
#include "quillo/lzw/tiff_lzw.h"

namespace quillo {

void QLInstallLZWCoders() {
  DefGIF_LZWDECOMPFUNC = &GIFLZWDecompress;
  DefGIF_LZWCOMPFUNC = &GIFLZWCompress;
  DefTIFF_LZWDECOMPFUNC = &TIFFLZWDecompress;
  DefTIFF_LZWCOMPFUNC = &TIFFLZWCompress;
}

}  // namespace quillo
