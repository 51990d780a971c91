// The portable bitmap family: PBM, PGM and PPM (magic numbers P1 to P6).
#pragma once

#include "quillo/core/types.h"
#include "quillo/core/params.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// True when the stream holds a P1..P6 header with a positive size; the position is restored.
bool TryPXM(TStream& Stream);
// Reads P1..P6 (text and binary, any maximum value; comments go to PxmComments).
void PXMReadStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview);
// Writes P4 (black and white), P5 (grey) or P6 (colour), chosen from BitsPerSample,
// SamplesPerPixel and the bitmap, with PxmComments as comment lines.
void PXMWriteStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress);

}  // namespace quillo
