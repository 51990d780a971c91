// LZW coding of TIFF strips and tiles (compression 5), with the signatures of the TIFF hooks:
// codes most significant bit first, 9 to 12 bits wide with the early change, clear code 256,
// end-of-information code 257. The decoder also reads the first writers' form: codes least
// significant bit first, widened without the early change.
#pragma once

#include <cstdint>

#include "quillo/platform/streams.h"

namespace quillo {

// Decodes the next row of RowSize bytes of the strip Data (DataSize bytes, the same on every
// call of one strip); State is 0 at the start of the strip and carries the decoder from row to
// row. Returns the row (valid until the next call), or nullptr when the data is corrupt or
// ends before the row is complete. The call with Data nullptr and RowSize 0 releases State.
const uint8_t* TIFFLZWDecompress(const uint8_t* Data, int64_t DataSize, int32_t RowSize,
                                 intptr_t& State);

// Codes one row of RowSize bytes to Stream; State is 0 at the start of a strip. The call with
// Row nullptr and RowSize 0 writes the last code and the end-of-information code, pads to a
// whole byte and releases State.
void TIFFLZWCompress(const uint8_t* Row, int32_t RowSize, TStream& Stream, intptr_t& State);

}  // namespace quillo
