// JPEG reading and writing over the system's libjpeg (6b interface), and IPTC injection.
#pragma once

#include "quillo/core/metadata.h"
#include "quillo/core/types.h"
#include "quillo/io/params.h"
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

// Copies the JPEG of Source to Destination without decoding it, dropping every APP13 segment
// and placing one APP13 holding the standard IPTC buffer of List where the first APP13 was, or
// after the first APP0. True when the copy completed and the block was placed; false for a
// stream with neither APP0 nor APP13, an invalid marker, a truncated segment or an IPTC buffer
// too long for one segment.
bool QLJpegInjectIPTC(TStream& Source, TStream& Destination, const TQLIPTCInfoList& List);

}  // namespace quillo
