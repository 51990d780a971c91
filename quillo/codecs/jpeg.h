// JPEG reading and writing over the system's libjpeg (6b interface), and IPTC injection.
#pragma once

#include <cstdint>
#include <vector>

#include "quillo/core/metadata.h"
#include "quillo/core/types.h"
#include "quillo/core/params.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// True when the next three bytes are 0xFF 0xD8 0xFF; the position is restored.
bool JpegTryStream(TStream& Stream);

// Reads one JPEG at the stream's position into a 24-bit bitmap, reduced by JpegScale, with the
// DCT method of JpegDCTMethod. Fills the size, resolution, JpegColorSpace, JpegProgressive and
// JpegMarkerList (every APPn and COM segment but a leading APP0). The stream is left right after
// the bytes the decoder consumed. Bad, truncated or corrupt data sets the abort flag; the rows
// decoded until then stay in the bitmap.
void ReadJPegStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                    bool Preview);

// Writes the 1-bit or 24-bit bitmap as a JPEG at the stream's position, in JpegColorSpace with
// JpegQuality, JpegDCTMethod, JpegOptimalHuffman, JpegSmooth, JpegProgressive and the resolution
// (dots per inch), followed by every marker of JpegMarkerList. Markers whose payload exceeds
// the 65533 bytes one segment can carry are left out. A failed write sets the abort flag.
void WriteJPegStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                     TProgressRec& Progress);

// Decodes one JPEG-compressed strip or tile of a TIFF page into Out: rows of Width x Components
// 8-bit samples, interleaved, grey or red-green-blue. Tables, when not empty, is the page's
// table stream (quantisation and Huffman tables shared by its chunks), read before Data. With
// StoredRgb three components are taken as stored red, green and blue, otherwise as luma and
// chroma. At most MaxRows rows are decoded. False when the data is not a JPEG of the expected
// width and component count, or fails part-way (Out then holds the rows decoded until then).
bool QLJpegDecodeChunk(const uint8_t* Tables, size_t TablesSize, const uint8_t* Data,
                       size_t DataSize, int32_t Width, int32_t Components, bool StoredRgb,
                       int64_t MaxRows, std::vector<uint8_t>& Out);
// Copies the JPEG of Source to Destination without decoding it, dropping every APP13 segment
// and placing one APP13 holding the standard IPTC buffer of List where the first APP13 was, or
// after the first APP0. True when the copy completed and the block was placed; false for a
// stream with neither APP0 nor APP13, an invalid marker, a truncated segment or an IPTC buffer
// too long for one segment.
bool QLJpegInjectIPTC(TStream& Source, TStream& Destination, const TQLIPTCInfoList& List);

}  // namespace quillo
