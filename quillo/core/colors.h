// Small colour and number helpers every operation uses.
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>

#include "quillo/core/types.h"
#include "quillo/platform/types.h"

namespace quillo {

// The TColor value r + g x 256 + b x 65536.
inline TColor TRGB2TColor(const TRGB& C) {
  return RGBColor(C.r, C.g, C.b);
}
inline TColor RGB2TColor(int32_t R, int32_t G, int32_t B) {
  return static_cast<TColor>((R & 0xFF) | ((G & 0xFF) << 8) | ((B & 0xFF) << 16));
}
// System colours resolve to their RGB value first; the low byte is red.
inline TRGB TColor2TRGB(TColor Color) {
  const TColor C = ColorToRGB(Color);
  return CreateRGB(GetRValue(C), GetGValue(C), GetBValue(C));
}
// (21 r + 71 g + 7 b) div 100: white gives 252.
inline uint32_t _RGBToGray(const TRGB& C) {
  return (21u * C.r + 71u * C.g + 7u * C.b) / 100u;
}
// The grey level a writer stores for a pixel: a grey pixel (three equal channels) keeps its
// value, so grey images save exactly; a coloured one takes _RGBToGray.
inline uint8_t QLStoredGrey(uint8_t R, uint8_t G, uint8_t B) {
  return R == G && G == B ? R : static_cast<uint8_t>((21u * R + 71u * G + 7u * B) / 100u);
}
inline uint8_t QLStoredGrey(const TRGB& C) {
  return QLStoredGrey(C.r, C.g, C.b);
}

inline int32_t imin(int32_t A, int32_t B) {
  return A < B ? A : B;
}
inline int32_t imax(int32_t A, int32_t B) {
  return A > B ? A : B;
}
inline double dmin(double A, double B) {
  return A < B ? A : B;
}
inline double dmax(double A, double B) {
  return A > B ? A : B;
}
inline int32_t ilimit(int32_t V, int32_t Lo, int32_t Hi) {
  return imin(imax(V, Lo), Hi);
}
// V clamped to 0..255.
inline uint8_t blimit(int64_t V) {
  return static_cast<uint8_t>(V < 0 ? 0 : V > 255 ? 255 : V);
}
inline void iswap(int32_t& A, int32_t& B) {
  std::swap(A, B);
}
inline void bswap(uint8_t& A, uint8_t& B) {
  std::swap(A, B);
}
// Orders the corners so that X1 <= X2 and Y1 <= Y2.
inline void OrdCor(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2) {
  if (X1 > X2) std::swap(X1, X2);
  if (Y1 > Y2) std::swap(Y1, Y2);
}

// Hue, saturation and luminosity of a pixel: H in [0, 1), S and L in [0, 1].
void RGB2HSL(const TRGB& Rgb, double& H, double& S, double& L);
// The pixel of H, S, L, each clamped to 0..1 first (a hue beyond 1 does not wrap). Channels are
// truncated, not rounded: blimit(trunc(value x 255)).
void HSL2RGB(TRGB& Rgb, double H, double S, double L);
// Hue 0..359, saturation and value 0..99 of a pixel, from the channels scaled to 0..99 and
// rounded; integer divisions truncate.
void RGB2HSV(const TRGB& Rgb, int32_t& H, int32_t& S, int32_t& V);
// The pixel of H (clamped to 0..359), S and V (clamped to 0..99).
void HSV2RGB(TRGB& Rgb, int32_t H, int32_t S, int32_t V);
// A channel on the 0..99 scale of the HSV conversions: round(C / 255 x 99), and back:
// round(C / 99 x 255).
uint8_t QLByteTo99(uint8_t C);
uint8_t QL99ToByte(int32_t C);

}  // namespace quillo
