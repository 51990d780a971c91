// PCX (PaintBrush) images: 1, 2 and 4 bits in one plane or 1 bit in up to four planes, 8 bits
// with a 256-colour palette, and 24 bits in three planes; run-length coded or not.
#pragma once

#include <cstdint>
#include <string>

#include "quillo/core/types.h"
#include "quillo/core/params.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// Reads a PCX whose header is at the stream's position and whose data (the 256-colour palette
// of 8-bit images included) runs for DataSize bytes from there.
void ReadPcxStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview, int64_t DataSize);
// ReadPcxStream over a file, its size as the data size.
void ReadPcx(const std::string& FileName, TBitmap& Bitmap, TIOParamsVals& Params,
             TProgressRec& Progress, bool Preview);
// Writes the bitmap at 1, 4, 8 or 24 bits (from BitsPerSample x SamplesPerPixel), run-length
// coded unless PcxCompression says otherwise.
void WritePcxStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress);
void WritePcx(const std::string& FileName, const TBitmap& Bitmap, TIOParamsVals& Params,
              TProgressRec& Progress);

// One line of samples run-length coded as PCX stores it (an odd count gets a 0 byte more).
void PcxEncodeLine(const uint8_t* Samples, int32_t Count, std::vector<uint8_t>& Out);

}  // namespace quillo
