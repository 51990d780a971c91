// The median-cut quantizer: a palette of at most NCol colours from recursive splits of a
// 5-bit-per-channel colour histogram, and a 32768-cell inverse map from colour to palette index.
#pragma once

#include <cstdint>
#include <memory>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"

namespace quillo {

// The engine's state; opaque to callers, reached through TMedianCutHandle.
struct TMedianCutState;

struct TMedianCutDeleter {
  void operator()(TMedianCutState* State) const noexcept;
};

// Owns one median-cut state; releasing the handle releases the tables.
using TMedianCutHandle = std::unique_ptr<TMedianCutState, TMedianCutDeleter>;

// Builds the palette of a 24-bit bitmap (other pixel formats are read through a 24-bit copy).
// Writes ColorMap[0..produced-1], each channel a multiple of 8; later entries are left as they
// were. NCol is clamped to 1..256. Limit, the highest index ColorMap can take, is not read.
TMedianCutHandle CreateMedianCutQuantizer(const TBitmap& Bitmap, TRGB* ColorMap, int32_t Limit,
                                          int32_t NCol);

// The palette index of Color's cell; a colour whose cell lies in no box gives 0.
uint8_t MedianCutFindIndex(const TMedianCutState& State, TRGB Color);
inline uint8_t MedianCutFindIndex(const TMedianCutHandle& Handle, TRGB Color) {
  return MedianCutFindIndex(*Handle, Color);
}

// The 32768-entry inverse map behind MedianCutFindIndex, indexed by
// (R shr 3) x 1024 + (G shr 3) x 32 + (B shr 3); valid while the state lives.
const uint8_t* MedianCutInverseMap(const TMedianCutState& State);

// The number of palette entries the state produced (1..NCol).
int32_t MedianCutColorCount(const TMedianCutState& State);

// Releases the state and empties the handle; an empty handle is left as it is.
void FreeMedianCutQuantizer(TMedianCutHandle& Handle);

}  // namespace quillo
