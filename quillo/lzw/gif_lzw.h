// LZW coding of GIF image data, with the signatures of the GIF hooks.
#pragma once

#include <cstdint>

#include "quillo/platform/streams.h"

namespace quillo {

// Decodes one image's data (minimum code size byte, sub-blocks, terminator) from the stream
// into Dest (Width x Height index bytes, rows top to bottom; interlaced data is put back in
// display order). The stream is left after the terminator. False when the data is corrupt or
// ends before every pixel arrived (what was decoded stays in Dest, the rest is 0).
bool GIFLZWDecompress(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                      uint8_t* Dest);

// Encodes Width x Height index bytes (rows top to bottom) as GIF image data: the minimum code
// size byte (BitsPerPixel, at least 2), 255-byte sub-blocks and the terminator, rows in
// interlaced order when asked.
void GIFLZWCompress(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                    const uint8_t* Source, int32_t BitsPerPixel);

// The decoding core over the bytes of the sub-blocks joined together: fills Out with up to
// OutSize indexes in data order; returns how many were produced, or -1 for a corrupt code.
// Bytes of Out past the count produced may have been written over (never past OutSize).
int64_t GIFLZWDecodeBytes(const uint8_t* Data, int64_t Size, int32_t MinCodeSize, uint8_t* Out,
                          int64_t OutSize, bool& SawEnd);

}  // namespace quillo
