// The I/O component's glue to each codec: one file per format (quilloio_<format>.cpp) defines
// the component's loaders and savers for it and the built-in table rows' reader, writer and
// detector, in the table's calling convention (fileformats.h), which fileformats.cpp puts in
// the rows.
#pragma once

#include <cstdint>

#include "quillo/core/params.h"
#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo::iodetail {

// True when more than MoreThan bytes follow the stream's position and they start with the N
// bytes of Magic; the position is restored.
bool StartsWith(TStream& Stream, int64_t MoreThan, const char* Magic, int64_t N);

void TIFFRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
              TProgressRec& Progress);
bool TIFFTry(TStream& Stream);

void GIFRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool GIFTry(TStream& Stream);

void JPEGRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
              TProgressRec& Progress);
bool JPEGTry(TStream& Stream);

void PCXRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool PCXTry(TStream& Stream);

void BMPRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool BMPTry(TStream& Stream);

void ICORead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool ICOTry(TStream& Stream);

void CURRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool CURTry(TStream& Stream);

void PNGRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool PNGTry(TStream& Stream);

void TGARead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool TGATry(TStream& Stream);

void PXMRead(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
             TProgressRec& Progress);
bool PXMTry(TStream& Stream);

void TIFFWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void GIFWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void JPEGWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void PCXWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void BMPWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void PNGWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void TGAWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
void PXMWrite(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress);

}  // namespace quillo::iodetail
