// Geometry: filtered resampling, nearest-neighbour stretching, rotation and flipping, and the
// reduction of 1-bit images to grey that the views show them with.
#pragma once

#include <cstdint>

#include "quillo/core/pixels.h"
#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/types.h"

namespace quillo {

enum TResampleFilter : uint8_t {
  rfNone,
  rfTriangle,
  rfHermite,
  rfBell,
  rfBSpline,
  rfLanczos3,
  rfMitchell
};

enum TFlipDir : uint8_t { fdHorizontal, fdVertical };

// The filter's kernel at distance X and its support radius (0 for rfNone).
double QLFilterKernel(TResampleFilter Filter, double X);
double QLFilterSupport(TResampleFilter Filter);

// Resamples a 24-bit Source into Destination at Destination's current size (made 24-bit) in
// two separable passes, horizontal then vertical, with the filter's kernel; weights are not
// normalised and each pass rounds to bytes. Nothing happens for an empty source, a source
// below 2 x 2, rfNone or another pixel format.
void _Resample(const TBitmap& Source, TBitmap& Destination, TResampleFilter Filter,
               const TQLProgressEvent& OnProgress, TObject* Sender);
// _Resample of the rectangle Rect of Source (clipped to it), without copying it out first.
// Normalised scales each target position's weights to sum to 1, for pictures that are shown:
// without it, a reduction by a factor that is not whole shows faint bands across flat areas
// (the sums of the kernel's samples rise and fall with the phase of the target position).
void _ResampleRect(const TBitmap& Source, const TRect& Rect, TBitmap& Destination,
                   TResampleFilter Filter, bool Normalised = false);
// The same with a fixed room of 13 contributors per position, for enlarging; a pass that
// reduces is a nearest-neighbour stretch instead.
void _QuickResample(const TBitmap& Source, TBitmap& Destination, TResampleFilter Filter,
                    const TQLProgressEvent& OnProgress, TObject* Sender);
// Nearest-neighbour stretch of the whole source onto the whole destination, which takes the
// source's pixel format.
void _QLBmpStretch(const TBitmap& Source, TBitmap& Destination);

// 24-bit only. _Rot90 turns 90 degrees counter-clockwise (destination (x, y) = source
// (W - 1 - y, x)), _Rot90o clockwise (destination (x, y) = source (y, H - 1 - x)).
void _Rot90(const TBitmap& Source, TBitmap& Destination);
void _Rot90o(const TBitmap& Source, TBitmap& Destination);
// Turns a 24-bit bitmap by Angle whole degrees (counter-clockwise on screen when positive):
// 90-degree steps, then three shears over Background, blended when Antialias. False (nothing
// changed) when the turned image would exceed the pixel limit.
bool _Rotate24(TBitmap& Bitmap, int32_t Angle, bool Antialias, TColor Background,
               TProgressRec& Progress);
// Turns a 1-bit bitmap by Angle degrees by inverse mapping; uncovered pixels take
// BackgroundBit. False when the result would exceed the pixel limit.
bool _rotate1bit(TBitmap& Bitmap, double Angle, int32_t BackgroundBit, TProgressRec& Progress);
// Mirrors left-right or top-bottom (24-bit and 1-bit).
void _Flip(TBitmap& Bitmap, TFlipDir Direction);

// Reduces the inclusive area (X1, Y1)-(X2, Y2) of a 1-bit source to a 24-bit grey destination
// of its current size: each destination pixel is the share of white in its box.
void _SubResample1bitFiltered(const TBitmap& Source, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                              TBitmap& Destination);
}  // namespace quillo
