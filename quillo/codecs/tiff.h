// TIFF images: one page out of a single or multi-page file (both byte orders, the classic and
// the 64-bit large form, strips or tiles, uncompressed, PackBits, CCITT fax, LZW through the
// TIFF hooks, deflate; JPEG and YCbCr pages read), every page in one walk, counting pages,
// writing a page as a new file or linked into an existing one, deleting a page by rebuilding
// the file.
//
// A TIFF may start anywhere in a stream: its offsets count from the position of its header.
#pragma once

#include <cstdint>
#include <functional>

#include "quillo/core/params.h"
#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// Reads the page numbered TiffImageIndex (from 0) of the TIFF at the stream's position;
// PageCount gets the number of pages in the file. With Preview only the parameters are filled.
// Params may be null: then only the pages are counted. An index beyond the last page fills
// nothing and is no error.
void TIFFReadStream(TBitmap& Bitmap, TStream& Stream, int32_t& PageCount, TIOParamsVals* Params,
                    TProgressRec& Progress, bool Preview);

// Reads every page of the TIFF at the stream's position, walking its chain once, calling
// OnPage(index) after each with the bitmap and parameters as TIFFReadStream with that index
// leaves them; OnPage returns false to stop. Returns the number of pages handed over; a page
// that cannot be read sets the abort flag and ends the walk.
int32_t TIFFReadEachPage(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params,
                         TProgressRec& Progress, const std::function<bool(int32_t)>& OnPage);

// The number of pages of the TIFF at the stream's position; 0 when it is not a TIFF.
int32_t _EnumTIFFImStream(TStream& Stream);

// Where a TIFF's last page links to nothing (the position of that zero link from the TIFF's
// start) and how many pages come before, as a write left them. A writer that adds page after
// page hands it back with each write, so that appending after the last page does not walk the
// whole page chain again; a hint whose link is no longer zero is ignored.
struct TTiffEnd {
  int64_t LinkPos = -1;
  int32_t Count = 0;
};

// Writes the bitmap as one page: a new file at the stream's position, or (Append) a page linked
// into the TIFF there, as page TiffImageIndex (after the last page when the index lies beyond
// it). Compression, photometric and tags come from Params. Returns the page count of the
// result (1 for a new file; 0 when the stream holds no TIFF to append to). With End, an append
// after the last page may use it, and it is updated (LinkPos -1 when the write failed or did
// not end the chain).
int32_t TIFFWriteStream(TStream& Stream, bool Append, const TBitmap& Bitmap, TIOParamsVals& Params,
                        TProgressRec& Progress, TTiffEnd* End = nullptr);

// Removes page Index from the TIFF at the stream's position by rebuilding it in place; returns
// the number of pages the file had before (0 when it is not a TIFF). An index outside the
// pages leaves the stream as it was.
int32_t _DeleteTIFFImStream(TStream& Stream, int32_t Index);

// PackBits coding of one row (runs never cross rows), appended to Out.
void TIFFPackBitsRow(const uint8_t* Row, int32_t Count, std::vector<uint8_t>& Out);

}  // namespace quillo
