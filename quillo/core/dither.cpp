#include "quillo/core/dither.h"

#include "quillo/core/pixels.h"

namespace quillo {

namespace {
// Rows by x mod 8, columns by y mod 8.
constexpr uint8_t kOrderedThreshold[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
}  // namespace

void _ConvertToBWOrdered(TBitmap& Bitmap, TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  TBitmap Result(W, H, pf1bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* Src = Bitmap.ScanLine(Y);
    uint8_t* Dst = Result.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      int32_t Grey = (21 * Src[X * 3 + 2] + 71 * Src[X * 3 + 1] + 7 * Src[X * 3]) / 100 / 4;
      if (Grey > kOrderedThreshold[X & 7][Y & 7])
        Dst[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    }
    QLProgress(Progress, QLTrunc((Y + 1) * 100.0 / (H + 0.5)));
    if (QLAborted(Progress)) break;
  }
  QLCopyBitmap(Result, Bitmap);
}

}  // namespace quillo
