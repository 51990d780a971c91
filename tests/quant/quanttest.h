// Images shared by the quantizer tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"

namespace quillo::test {

// Smooth gradients with a little noise and a bright disc: many nearby colours, as in photos.
inline TBitmap PhotoLike(int32_t W, int32_t H, uint32_t Seed) {
  TBitmap B(W, H, pf24bit);
  std::mt19937 Rng(Seed);
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      int32_t R = X * 255 / (W > 1 ? W - 1 : 1), G = Y * 255 / (H > 1 ? H - 1 : 1);
      int32_t Bl = (X + Y) * 127 / (W + H) + 64;
      int32_t Dx = X - W / 3, Dy = Y - H / 2;
      if (Dx * Dx + Dy * Dy < W * H / 16) R = 250, G = 200 + (X & 7), Bl = 40;
      auto Noise = [&](int32_t V) {
        return static_cast<uint8_t>(std::clamp(V + static_cast<int32_t>(Rng() % 9) - 4, 0, 255));
      };
      Row[3 * X] = Noise(Bl);
      Row[3 * X + 1] = Noise(G);
      Row[3 * X + 2] = Noise(R);
    }
  }
  return B;
}

// A W x H image of one colour.
inline TBitmap Solid(int32_t W, int32_t H, TRGB C) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(B.ScanLine(Y));
    for (int32_t X = 0; X < W; ++X) Row[X] = C;
  }
  return B;
}

inline TRGB PixelAt(const TBitmap& B, int32_t X, int32_t Y) {
  const uint8_t* P = B.ScanLine(Y) + 3 * X;
  return TRGB{P[0], P[1], P[2]};
}

inline void SetPixel(TBitmap& B, int32_t X, int32_t Y, TRGB C) {
  uint8_t* P = B.ScanLine(Y) + 3 * X;
  P[0] = C.b, P[1] = C.g, P[2] = C.r;
}

}  // namespace quillo::test
