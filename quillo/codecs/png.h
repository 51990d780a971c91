// PNG images over libpng: every colour type and depth, Adam7, transparency composed onto the
// background, bKGD and pHYs in and out.
#pragma once

#include "quillo/core/types.h"
#include "quillo/core/params.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// True when the next 8 bytes are the PNG signature; the position is restored.
bool IsPNGStream(TStream& Stream);
// Reads a PNG from the stream's position. Pixels with transparency are composed onto the
// file's background (bKGD) or, without one, onto PngBackground. Errors set the abort flag.
void ReadPNGStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview);
// Writes RGB (SamplesPerPixel not 1), 1-bit grey (BitsPerSample 1) or a 256-colour palette
// PNG. A library error raises EInvalidGraphic("Error on creating PNG"); a short write sets the
// abort flag.
void WritePNGStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress);

}  // namespace quillo
