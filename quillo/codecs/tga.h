// TGA (Targa) images: colour-mapped, true-colour and grey, raw or run-length coded, with the
// TGA 2.0 extension area (author, job name, date, key colour, aspect ratio, gamma).
#pragma once

#include "quillo/core/types.h"
#include "quillo/core/params.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// True when the bytes at the stream's position look like a TGA header (and not a netpbm
// file); the position is restored.
bool TryTGA(TStream& Stream);
void ReadTGAStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview);
// Writes 1-bit (grey, 1 bit per pixel), 4- and 8-bit mapped (or 8-bit grey with TgaGrayLevel)
// and 24-bit images, with the extension area and footer.
void WriteTGAStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress);

}  // namespace quillo
