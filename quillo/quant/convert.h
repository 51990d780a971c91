// Row conversion between bit depths, with the quantizer for the 24-bit to indexed paths.
#pragma once

#include <cstdint>

#include "quillo/core/types.h"

namespace quillo {

class TQLQuantizer;

// Converts one row of Width pixels from SrcBits to DstBits per pixel:
//   1 -> 1, 4, 8, 24;  4 -> 4, 8, 24;  8 -> 1, 8, 24;  24 -> 4, 8 (through Quantizer), 24;
//   32 -> 24. Indexed sources expand through Palette (PaletteCount entries); an index beyond
// the palette gives black. 8 -> 1 takes each byte's lowest bit. Targets that are OR-ed into
// (1 -> 4, 24 -> 4) must be zeroed by the caller. Returns the bytes produced, 0 for
// combinations it does not handle and for 24 -> 4 or 8 without a quantizer.
int32_t _ConvertXBitsToYBits(const uint8_t* Src, uint8_t* Dst, int32_t SrcBits, int32_t DstBits,
                             int32_t Width, const TRGB* Palette, int32_t PaletteCount,
                             TQLQuantizer* Quantizer);

}  // namespace quillo
