// Colour adjustments: point operations on the 24-bit pixels of a rectangle (hue, saturation and
// luminosity or value shifts, contrast, intensity, grey, colour ranges, thresholds, level
// stretches and equalization, negative, blending) and the extraction of single channels as grey
// images.
//
// Every operation takes, after its own parameters, the rectangle to work on (half-open, clipped
// to the bitmap), a progress handler and the Sender passed to it; progress is reported once per
// row. Unless said otherwise an operation changes nothing when the bitmap is not 24-bit.
#pragma once

#include <cstdint>
#include <memory>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/types.h"

namespace quillo {

// Shifts hue (degrees), saturation and luminosity (per cent) in HSL; the results are clamped,
// the hue does not wrap around.
void _HSLvar(TBitmap& Bitmap, int32_t Hue, int32_t Saturation, int32_t Luminosity,
             const TRect& Rect, const TQLProgressEvent& OnProgress = nullptr,
             TObject* Sender = nullptr);
// Shifts hue (degrees), saturation and value (0..99 scale) in HSV; clamped, no wrapping.
void _HSVvar(TBitmap& Bitmap, int32_t Hue, int32_t Saturation, int32_t Value, const TRect& Rect,
             const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);

// The contrast factor of an amount: 1 - sqrt(-Amount) / 10 below 0, 1 + Amount / 10 otherwise.
double QLContrastFactor(int32_t Amount);
// Contrast about a reference level per channel: v becomes blimit(m + trunc((v - m) x f)).
// The levels usually come from _GetMediaContrastRGB over the whole image.
void _ContrastRGB(TBitmap& Bitmap, int32_t Amount, int32_t LevelR, int32_t LevelG, int32_t LevelB,
                  const TRect& Rect, const TQLProgressEvent& OnProgress = nullptr,
                  TObject* Sender = nullptr);
// The same with one level for every byte.
void _Contrast(TBitmap& Bitmap, int32_t Amount, int32_t Level, const TRect& Rect,
               const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);
// The single reference level: the sum of all pixel bytes divided by (3 x width - 1) x
// (height - 1), truncated; 128 when that product is 0 or the bitmap is not 24-bit.
int32_t _GetMediaContrast(const TBitmap& Bitmap);

// Adds an offset to each channel, clamped.
void _IntensityRGBall(TBitmap& Bitmap, int32_t Red, int32_t Green, int32_t Blue, const TRect& Rect,
                      const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);
// Every pixel becomes its grey level (21 r + 71 g + 7 b) div 100 in all three channels.
void _ConvertToGray(TBitmap& Bitmap, const TRect& Rect,
                    const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);
// Pixels inside the colour box Lower..Upper (every channel, inclusive) become Replacement.
void _CastColorRange(TBitmap& Bitmap, const TRGB& Lower, const TRGB& Upper, const TRGB& Replacement,
                     const TRect& Rect, const TQLProgressEvent& OnProgress = nullptr,
                     TObject* Sender = nullptr);
// Per channel: a value <= the lower limit becomes the lower value; then a value > the upper
// limit becomes the upper value. Nothing happens with limits black and white.
void _Threshold(TBitmap& Bitmap, const TRGB& LowerLimit, const TRGB& UpperLimit,
                const TRGB& LowerValue, const TRGB& UpperValue, const TRect& Rect,
                const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);
// Stretches the levels Low..255 to 0..255, then 0..High to 0..255, per channel (High's
// channels count at least 1). Nothing happens when High (so raised) equals Low.
void _HistEqualize(TBitmap& Bitmap, const TRGB& Low, const TRGB& High, const TRect& Rect,
                   const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);
// Equalizes the grey histogram of the whole bitmap, choosing per pixel between the lower and
// upper level of its grey bin by the mean colour of its 3 x 3 neighbourhood; the Rect's pixels
// are changed. Images of fewer than 256 pixels aim at a fractional count per level.
void _HistAutoEqualize(TBitmap& Bitmap, const TRect& Rect,
                       const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);
// Inverts the rectangle: every byte of a 24-bit bitmap, every bit of a 1-bit bitmap (without
// progress); other formats are left unchanged.
void _Negative(TBitmap& Bitmap, const TRect& Rect, const TQLProgressEvent& OnProgress = nullptr,
               TObject* Sender = nullptr);
// Inverts every bit of a whole 1-bit bitmap.
void _Negative1Bit(TBitmap& Bitmap);
// Blends Other, stretched to the rectangle's size, into the rectangle: each channel becomes
// round(v x Percentage / 100 + w x (100 - Percentage) / 100), v the current value.
void _Merge(TBitmap& Bitmap, const TBitmap& Other, int32_t Percentage, const TRect& Rect,
            const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);

// A grey 24-bit image of one byte of each pixel over the whole bitmap: 0 blue, 1 green, 2 red
// (any other value red). Null unless the bitmap is 24-bit.
std::unique_ptr<TBitmap> _GetRGBChannel(const TBitmap& Bitmap, int32_t Channel,
                                        const TQLProgressEvent& OnProgress = nullptr,
                                        TObject* Sender = nullptr);
// A grey 24-bit image of the hue (0; any other value too), saturation (1) or value (2):
// trunc(H / 359 x 255), trunc(S / 99 x 255), trunc(V / 99 x 255). Null unless 24-bit.
std::unique_ptr<TBitmap> _GetHSVChannel(const TBitmap& Bitmap, int32_t Channel,
                                        const TQLProgressEvent& OnProgress = nullptr,
                                        TObject* Sender = nullptr);
// The three channel images in one pass into the given bitmaps (made 24-bit, the source's size).
void _GetRGBChannelAll(const TBitmap& Bitmap, TBitmap& Red, TBitmap& Green, TBitmap& Blue,
                       const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);
void _GetHSVChannelAll(const TBitmap& Bitmap, TBitmap& Hue, TBitmap& Saturation, TBitmap& Value,
                       const TQLProgressEvent& OnProgress = nullptr, TObject* Sender = nullptr);

}  // namespace quillo
