// The library's own LZW coders for the GIF and TIFF hooks.
#pragma once

namespace quillo {

// Installs the default LZW coders into the four global hooks (DefGIF_LZWDECOMPFUNC,
// DefGIF_LZWCOMPFUNC, DefTIFF_LZWDECOMPFUNC, DefTIFF_LZWCOMPFUNC). Parameters objects reset
// afterwards pick them up. Call it once at start-up.
void QLInstallLZWCoders();

}  // namespace quillo
