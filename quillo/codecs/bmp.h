// Windows bitmaps (BMP, with OS/2 headers and RLE4/RLE8), icons (ICO) and cursors (CUR).
#pragma once

#include <cstdint>

#include "quillo/core/types.h"
#include "quillo/core/params.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// Reads one BMP from the stream's position. BlockSize is the BMP's length in the stream; 0 or
// less lets the file header's size field decide. Bottom-up and top-down (negative height)
// bitmaps are read the right way up.
void BMPReadStream(TStream& Stream, TBitmap& Bitmap, int64_t BlockSize, TIOParamsVals& Params,
                   TProgressRec& Progress, bool Preview);
// Writes a BMP at the stream's position: 1, 4, 8 or 24 bits from BitsPerSample and
// SamplesPerPixel, the header form from BmpVersion, RLE4/RLE8 when BmpCompression asks.
void BMPWriteStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress);

// Detectors for icon (type 1) and cursor (type 2) directories; the position is restored.
bool ICOTryStream(TStream& Stream);
bool CURTryStream(TStream& Stream);
// Read the icon chosen by IcoImageIndex (or the cursor chosen by CurImageIndex), drawn over
// IcoBackground (CurBackground) where the icon is transparent.
void ICOReadStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
                   TProgressRec& Progress);
void CURReadStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
                   TProgressRec& Progress);

// One row of palette indexes (one byte each; 0..15 for RLE4) as RLE8 or RLE4 codes, the
// end-of-line code included.
void BMPEncodeRLERow(const uint8_t* Indexes, int32_t Width, bool RLE4, std::vector<uint8_t>& Out);

}  // namespace quillo
