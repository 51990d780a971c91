// Analysis and colour reduction: histograms, colour counts, reduction to a palette or to black
// and white, video-frame (YUV) conversions and data hidden in the pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/types.h"

namespace quillo {

struct THistogramItem {
  uint32_t R = 0;
  uint32_t G = 0;
  uint32_t B = 0;
  uint32_t Grey = 0;
};
using THistogram = THistogramItem[256];

// A set of 32-bit keys hashed by their low Bits bits, each bucket holding one key or a chain.
class THash1 {
 public:
  explicit THash1(int32_t Bits);
  // True when Key was added, false when it was present already.
  bool Insert(uint32_t Key);
  bool KeyPresent(uint32_t Key) const;
  int32_t Count() const { return FCount; }

 private:
  struct TNode {
    uint32_t Key;
    int32_t Next;  // index into FNodes, -1 at the end
  };
  uint32_t FMask;
  std::vector<uint32_t> FSlot;  // the key itself (state 1) or the first node's index (state 2)
  std::vector<uint8_t> FState;  // 0 empty, 1 one key, 2 a chain
  std::vector<TNode> FNodes;
  int32_t FCount = 0;
};

// Counts red, green, blue and grey levels over Rect of a 24-bit bitmap (Histogram is added to).
void _GetHistogram(const TBitmap& Bitmap, THistogram& Histogram, const TRect& Rect);
// The number of distinct colours in Rect of a 24-bit bitmap (0 for other formats).
int32_t _GetImageNumColors(const TBitmap& Bitmap, const TRect& Rect);
// Reduces a 24-bit bitmap to Colors colours from TQLQuantizer (into Palette when given, which
// then holds Colors entries); the bitmap stays 24-bit.
void _ConvertTo(TBitmap& Bitmap, int32_t Colors, TRGB* Palette, const TQLProgressEvent& OnProgress,
                TObject* Sender);
// 24-bit only: pixels whose grey level is below Threshold become black, the others white; the
// 1-bit result replaces the bitmap. Threshold -1 takes the grey of the channel reference levels.
void _ConvertToBWThreshold(TBitmap& Bitmap, int32_t Threshold, TProgressRec& Progress);
// The channel reference levels: each channel's sum over the whole bitmap divided by
// (width - 1) x (height - 1), truncated; 128 each when that product is 0.
void _GetMediaContrastRGB(const TBitmap& Bitmap, int32_t& R, int32_t& G, int32_t& B);
// The index of the palette entry nearest to Color by |dr| + |dg| + |db| (the first of equals).
int32_t _GetSimilColor(const TRGB* Palette, int32_t Count, const TRGB& Color);
// A palette as the platform keeps one (red, green, blue, flags 0).
std::vector<TRGBQuad> _CreateWinPalette(const TRGB* Palette, int32_t Count);
// Swaps red and blue in place; copies then swaps.
void _RGB2BGR(TRGB* Colors, int32_t Count);
void _CopyBGR_RGB(TRGB* Dest, const TRGB* Source, int32_t Count);
// True when both have the same size and the same pixel memory.
bool _BitmapCompareX(const TBitmap& A, const TBitmap& B);

// YUV (BT.601, studio range) to RGB, rounding halves to even and clamping.
void YUV2RGB(int32_t Y, int32_t U, int32_t V, TRGB& Rgb);
// Video frame rows of each layout into a 24-bit bitmap of the frame's size. TopDown puts the
// first data row at the top.
void _CopyYUY2ToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyYVYUToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyUYVYToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyIYU1ToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyIYU2ToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyY211ToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyY41PToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyCLJRToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyI420ToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyYV12ToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);
void _CopyYVU9ToBitmap(const uint8_t* Data, TBitmap& Bitmap, bool TopDown);

// Data hidden in the lowest bits of a 24-bit image: an 8-byte header (length in bytes 4..7),
// then the data, one bit per channel byte, rows from the top, all but the last two bytes of
// each row. The room in bytes: width x height x 3 div 8 - 8 (0 unless 24-bit).
int32_t _GetHiddenDataSpace(const TBitmap& Bitmap);
// Writes Length bytes (as far as the image reaches; the full length is recorded); returns
// Length, or 0 unless 24-bit.
int32_t _WriteHiddenData(TBitmap& Bitmap, const void* Data, int32_t Length);
// Reads the stored length and up to Maximum data bytes into Data (Data may be null with
// Maximum 0); returns the stored length, or 0 unless 24-bit.
int32_t _ReadHiddenData(const TBitmap& Bitmap, void* Data, int32_t Maximum);
// The hidden text, its length bounded by the room the image has (an image without hidden data
// gives a short string of whatever its bits spell, never a huge one).
std::string _ReadHiddenText(const TBitmap& Bitmap);

}  // namespace quillo
