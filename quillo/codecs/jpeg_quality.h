// The quality a JPEG was written with, estimated from its quantization tables.
#pragma once

#include <cstdint>

#include "quillo/platform/streams.h"

namespace quillo {

// The quality 1..100 whose scaling of the standard luminance (and, when given, chrominance)
// tables comes closest to these tables, both in natural (row by row) order; exact for tables
// made by scaling the standard ones with a quality. Chroma may be null (grey images).
int32_t QLJpegQualityFromTables(const uint16_t* Luma, const uint16_t* Chroma);

// The estimated quality of the JPEG at the stream's position, from its tables 0 (luminance)
// and 1 (chrominance); 0 when the data holds no quantization table before the first scan or is
// not a JPEG. The position is restored.
int32_t QLJpegEstimateQuality(TStream& Stream);

}  // namespace quillo
