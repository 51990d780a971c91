// The LZW coder hooks. LZW coding is supplied by the application (or by quillo/lzw, which
// QLInstallLZWCoders installs); the globals below are empty until someone assigns them, and
// every TIOParamsVals copies them when its parameters are reset.
#pragma once

#include <cstdint>

#include "quillo/platform/streams.h"

namespace quillo {

// GIF decoder. The stream is positioned on the minimum code size byte; Dest holds
// Width x Height bytes and receives one colour index per pixel, rows top to bottom in display
// order (interlacing undone when Interlaced). Leaves the stream just after the image data's
// zero-length terminator. Returns false when the data was corrupt or ended early (the pixels
// decoded so far stay in Dest).
using TGIFLZWDecompFunc = bool (*)(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                                   uint8_t* Dest);

// GIF encoder. Source holds Width x Height index bytes, rows top to bottom; writes the minimum
// code size byte, the sub-blocks and the terminator, in interlaced row order when Interlaced.
using TGIFLZWCompFunc = void (*)(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                                 const uint8_t* Source, int32_t BitsPerPixel);

// TIFF decoder, called once per row of a strip or tile: Data and DataSize are the whole coded
// strip (the same on every call of one strip), RowSize the bytes of one decoded row, State the
// caller's state word (0 at the start of each strip). Returns the decoded row (valid until the
// next call) or nullptr on failure. After the last row one more call with Data nullptr and
// RowSize 0 releases the state.
using TTIFFLZWDecompFunc = const uint8_t* (*)(const uint8_t* Data, int64_t DataSize,
                                              int32_t RowSize, intptr_t& State);

// TIFF encoder: compresses one row of RowSize bytes to Stream. State is 0 at the start of a
// strip; after the last row one more call with Row nullptr and RowSize 0 flushes and releases.
using TTIFFLZWCompFunc = void (*)(const uint8_t* Row, int32_t RowSize, TStream& Stream,
                                  intptr_t& State);

extern TGIFLZWDecompFunc DefGIF_LZWDECOMPFUNC;
extern TGIFLZWCompFunc DefGIF_LZWCOMPFUNC;
extern TTIFFLZWDecompFunc DefTIFF_LZWDECOMPFUNC;
extern TTIFFLZWCompFunc DefTIFF_LZWCOMPFUNC;

}  // namespace quillo
