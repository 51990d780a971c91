// GIF images: one image out of a single or multi-image file, one-image files, inserting and
// deleting images, looping animations. The LZW coding is done by the GIF hooks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "quillo/core/params.h"
#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// Reads the image numbered GifImageIndex (from 0) from the stream's position; ImageCount gets
// the number of images met. With Preview only the parameters are filled.
void ReadGifStream(TStream& Stream, TBitmap& Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
                   TProgressRec& Progress, bool Preview);
// Reads every image of the GIF at the stream's position in one pass, calling OnImage(index)
// after each with the bitmap and parameters as ReadGifStream with that index leaves them;
// OnImage returns false to stop. Returns the number of images handed over; a damaged image
// sets the abort flag and ends the walk.
int32_t ReadGifEach(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                    const std::function<bool(int32_t)>& OnImage);
void ReadGif(const std::string& FileName, TBitmap& Bitmap, int32_t& ImageCount,
             TIOParamsVals& Params, TProgressRec& Progress);
// Writes a one-image GIF at BitsPerSample bits (1 to 8) at the stream's position.
void WriteGifStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress);
void WriteGif(const std::string& FileName, const TBitmap& Bitmap, TIOParamsVals& Params,
              TProgressRec& Progress);
// Where a GIF stream's trailer stands and how many images come before it, as an insertion left
// them. A writer that adds frame after frame hands it back with each insertion, so that an
// append (GifImageIndex equal to Count) goes straight to the trailer instead of walking every
// image before it; a hint that no longer matches the stream (the trailer is not at TrailerAt,
// or not last) is ignored.
struct TGifEnd {
  int64_t TrailerAt = -1;
  int32_t Count = 0;
};
// Inserts the bitmap as image number GifImageIndex into the GIF at the stream's position
// (rewritten in place from the insertion point on); returns the number of images now in it (0
// when it is not a GIF). With End, an append may use it and it is updated (TrailerAt -1 when
// the insertion failed).
int32_t _InsertGifImStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                           TProgressRec& Progress, TGifEnd* End = nullptr);
int32_t _InsertGifIm(const std::string& FileName, const TBitmap& Bitmap, TIOParamsVals& Params,
                     TProgressRec& Progress);
// Removes image Index; returns how many images remain. The file is rewritten only when Save is
// set (otherwise the result tells what would remain).
int32_t _DeleteGifIm(const std::string& FileName, int32_t Index, bool Save);
// Makes the file a looping animation (version 89a, the given logical screen, a loop extension
// with LoopCount right after the header) replacing any loop extension it had. A file that
// already has one right after the header is patched in place (a loop extension further on,
// which readers do not look for, then stays).
void _GifMakeAnimate(const std::string& FileName, uint16_t LoopCount, int32_t Width,
                     int32_t Height);
// Sets the logical screen size of a GIF file in place; anything else is left untouched.
void _GifSetScreen(const std::string& FileName, int32_t Width, int32_t Height);
// True when the file carries a "NETSCAPE2.0" loop extension among the extensions before its
// first image.
bool _CheckGifAnimate(const std::string& FileName);
// The loop count of a GIF's "NETSCAPE2.0" extension, or -1 when it has none.
int32_t QLGifLoopCount(TStream& Stream);

}  // namespace quillo
