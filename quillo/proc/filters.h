// Neighbourhood operations on 24-bit images: the 3 x 3 integer convolution with its presets and
// file, morphological maximum, minimum, opening and closing, bump mapping, lens and wave.
#pragma once

#include <cstdint>
#include <string>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"
#include "quillo/platform/sysutils.h"
#include "quillo/platform/types.h"

namespace quillo {

// A 3 x 3 kernel (row 0 above the pixel, column 0 to its left) and its divisor (0 counts as 1).
// Its 40 bytes (little-endian) are also the payload of the filter file.
struct TGraphFilter {
  int32_t Values[3][3] = {};
  int32_t Divisor = 0;
};

enum TQLFilterPresets : uint8_t {
  fpNone,
  fpBlur,
  fpEdge,
  fpEmboss,
  fpHighPass1,
  fpHighPass2,
  fpHighPass3,
  LowPass1,
  LowPass2
};

// The kernels of the presets, by ordinal.
extern const TGraphFilter QLFiltPres[9];

// A filter file that is not one: wrong signature, or cut short.
class EFilterInvalid : public Exception {
 public:
  using Exception::Exception;
};

// Convolves Rect of a 24-bit bitmap (neighbours outside Rect are read from the bitmap, edges
// clamped); each channel's sum is divided with truncation and clamped.
void _ApplyFilter(TBitmap& Bitmap, const TGraphFilter& Filter, const TRect& Rect,
                  TProgressRec& Progress);
// The filter file: bytes 1, 3, 3, then the 40 bytes of the filter. Loading a file that is not
// one raises EFilterInvalid and leaves the filter unchanged; opening and creating errors are the
// platform's file errors.
void SaveFilterToFile(const std::string& FileName, const TGraphFilter& Filter);
void LoadFilterFromFile(const std::string& FileName, TGraphFilter& Filter);
void SaveFilterToStream(TStream& Stream, const TGraphFilter& Filter);
void LoadFilterFromStream(TStream& Stream, TGraphFilter& Filter);

// Morphology over Rect by grey level, window (2n + 1) x (2n + 1) clamped to Rect: kind 0
// maximum, 1 minimum, 2 opening (minimum then maximum), 3 closing (maximum then minimum). A
// pixel takes the whole colour of the first strictly brighter (darker) neighbour in scan order.
void _MorphFilter(TBitmap& Bitmap, int32_t Radius, int32_t Kind, const TRect& Rect,
                  const TQLProgressEvent& OnProgress, TObject* Sender);
// Lights Rect as a relief of its grey levels under a spot at (LightX, LightY) of the given size:
// Percentage of the image stays, the rest is light of Color.
void _BumpMapping(TBitmap& Bitmap, const TRect& Rect, int32_t LightX, int32_t LightY,
                  int32_t LightWidth, int32_t LightHeight, int32_t Percentage, const TRGB& Color,
                  TProgressRec& Progress);
// An elliptical lens of Width x Height centred at (CX, CY) refracting the image under it
// (Refraction below 1 counts as 1).
void _lens(TBitmap& Bitmap, int32_t CX, int32_t CY, int32_t Width, int32_t Height,
           double Refraction, TProgressRec& Progress);
// Concentric waves over the whole bitmap.
void _wave(TBitmap& Bitmap, int32_t Amplitude, int32_t Wavelength, int32_t Phase, bool Reflective,
           TProgressRec& Progress);

}  // namespace quillo
