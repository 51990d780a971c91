// The shared form of a selection: the polygon list (bitmap pixel-edge coordinates, sub-polygons
// separated by a break point) and the raster mask that confines operations to it.
#pragma once

#include <cstdint>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/types.h"

namespace quillo {

// A point whose X is this value ends one sub-polygon of a selection and starts the next.
constexpr int32_t QLPolyBreak = 0xFFFFF;

// One sub-polygon of a selection polygon: Count points from index First.
struct TQLSubPolygon {
  int32_t First = 0;
  int32_t Count = 0;
};

// The runs of points between breaks (or the ends); empty runs are left out.
std::vector<TQLSubPolygon> QLSubPolygons(const TPoint* Points, int32_t Count);

// True exactly when there are 4 points and, going round (the fourth back to the first), every
// edge is vertical (same X, different Y) or horizontal (same Y, different X), alternating.
bool _IsRectangle(const TPoint* Points, int32_t Count);

// One bit (or one weight byte) per bitmap pixel telling whether the pixel is selected. Rows are
// stored bottom-up; in 1-bit masks the leftmost pixel is the most significant bit. Any other
// depth holds no storage and makes every operation do nothing.
class TQLMask {
 public:
  TQLMask() = default;

  // Frees, then allocates zeroed rows of the given size and depth (1 or 8); the box is emptied.
  void AllocateBits(int32_t Width, int32_t Height, int32_t BitsPerPixel);
  // Frees the storage; size, depth and row length become 0.
  void FreeBits();

  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  int32_t GetBitsPerPixel() const { return FBitsPerPixel; }
  int32_t GetRowLen() const { return FRowLen; }

  // Sets (or clears, with 0) a pixel inside the mask; a non-zero value extends the box.
  void SetPixel(int32_t X, int32_t Y, int32_t Value);
  // The bit (non-zero when set) or the weight; 0 outside the mask.
  int32_t GetPixel(int32_t X, int32_t Y) const;
  bool IsPointInside(int32_t X, int32_t Y) const { return GetPixel(X, Y) != 0; }
  // Every byte of the storage becomes Value.
  void Fill(uint8_t Value);
  // Pixels X1..X2 of row Y take Value (1-bit masks: set when Value is non-zero); nothing when
  // X2 < X1. The run is clipped to the mask.
  void DrawHorizontalLine(int32_t Value, int32_t X1, int32_t X2, int32_t Y);

  // Copies the selected pixels of Source into Target. Without Crop both must have the same size
  // and pixels keep their place; with Crop, Target receives the box only (source (x, y) goes to
  // (x - X1, y - Y1)). 1-bit masks copy selected pixels between two 24-bit or two 1-bit bitmaps;
  // 8-bit masks blend 24-bit pixels by weight / 256 and copy 1-bit pixels of non-zero weight.
  // Other combinations copy nothing; pixels beyond either bitmap are skipped.
  void CopyBitmap(TBitmap& Target, const TBitmap& Source, bool Crop) const;

  // The inclusive box of selected pixels; empty is X1 = Y1 = 2147483647, X2 = Y2 = 0.
  int32_t X1 = 2147483647;
  int32_t Y1 = 2147483647;
  int32_t X2 = 0;
  int32_t Y2 = 0;
  void EmptyBox() {
    X1 = Y1 = 2147483647;
    X2 = Y2 = 0;
  }

 private:
  uint8_t* Row(int32_t Y) { return FBits.data() + static_cast<size_t>(FHeight - 1 - Y) * FRowLen; }
  const uint8_t* Row(int32_t Y) const {
    return FBits.data() + static_cast<size_t>(FHeight - 1 - Y) * FRowLen;
  }

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FBitsPerPixel = 0;
  int32_t FRowLen = 0;
  std::vector<uint8_t> FBits;
};

}  // namespace quillo
