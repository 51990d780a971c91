// The shared form of a selection: the polygon list (bitmap pixel-edge coordinates, sub-polygons
// separated by a break point) and the raster mask that confines operations to it.
#pragma once

#include <cstdint>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/region.h"
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
// The pixels inside a selection polygon's sub-polygons, each filled alternately, moved by
// (DX, DY).
TRegion QLPolygonRegion(const TPoint* Polygon, int32_t Count, int32_t DX, int32_t DY);

// True exactly when there are 4 points and, going round (the fourth back to the first), every
// edge is vertical (same X, different Y) or horizontal (same Y, different X), alternating.
bool _IsRectangle(const TPoint* Points, int32_t Count);

// Snaps (X, Y), the next point of a polygon after (LastX, LastY), onto a vertical, horizontal
// or 45-degree line from the last point; a point off by more than 30 pixels from the axis goes to
// the axis, any other to the diagonal.
void _CastPolySelCC(int32_t LastX, int32_t LastY, int32_t& X, int32_t& Y);
// X1 <= X <= X2 and Y1 <= Y <= Y2 with the corners given ordered; _InRectO orders them first.
bool _InRect(int32_t X, int32_t Y, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
bool _InRectO(int32_t X, int32_t Y, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
// True when the rectangles overlap or touch (edges inclusive). A's corners may come in any
// order, B's must be ordered.
bool _RectXRect(int32_t AX1, int32_t AY1, int32_t AX2, int32_t AY2, int32_t BX1, int32_t BY1,
                int32_t BX2, int32_t BY2);
// Rectangle B against the ordered rectangle A: 2 when both of B's x and both of its y lie in A's
// ranges, 1 when B straddles an edge of A, 0 otherwise.
int32_t _RectPRect(int32_t AX1, int32_t AY1, int32_t AX2, int32_t AY2, int32_t BX1, int32_t BY1,
                   int32_t BX2, int32_t BY2);
double _DistPoint2Point(double X1, double Y1, double X2, double Y2);
// The distance from P to the infinite line through A and B.
double _DistPoint2Line(double PX, double PY, double AX, double AY, double BX, double BY);
// The distance from P to the segment A-B.
double _DistPoint2Seg(double PX, double PY, double AX, double AY, double BX, double BY);

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
  // Changes the size keeping each row at its place from the top and the overlapping bytes of
  // each row; the box is kept. Nothing when the size is unchanged.
  void ResizeBits(int32_t Width, int32_t Height);

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

  // Clears the mask and fills every sub-polygon of Points (pixel-edge coordinates, runs split
  // at QLPolyBreak points) with Value; the box becomes that of the filled points. A polygon
  // that reaches beyond the mask grows it first.
  void DrawPolygon(int32_t Value, const TPoint* Points, int32_t Count);
  // Fills one polygon of N points by integer scanline stepping: an edge covers rows y0 .. y1 - 1
  // and each span between a pair of edges covers columns a .. b - 1 (a rectangle (x1, y1)-(x2, y2)
  // sets columns x1 .. x2 - 1 of rows y1 .. y2 - 1).
  void DrawSinglePolygon(int32_t Value, const TPoint* Points, int32_t N);

  // 1-bit masks: stretches Src of the mask (top-down coordinates) onto Dest of the canvas's
  // 24-bit bitmap, inverting the pixels under selected mask pixels.
  void InvertCanvas(TCanvas& Canvas, const TRect& Dest, const TRect& Src) const;
  // The raw rows for drawing.
  const uint8_t* GetBits() const { return FBits.data(); }

  // Copies the selected pixels of Source into Target. Without Crop both must have the same size
  // and pixels keep their place; with Crop, Target receives the box only (source (x, y) goes to
  // (x - X1, y - Y1)). 1-bit masks copy selected pixels between two 24-bit or two 1-bit bitmaps;
  // 8-bit masks blend 24-bit pixels by weight / 256 and copy 1-bit pixels of non-zero weight.
  // Other combinations copy nothing; pixels beyond either bitmap are skipped.
  void CopyBitmap(TBitmap& Target, const TBitmap& Source, bool Crop) const;

  // Draws Source at (X, Y) of Target (same pixel format, 24-bit or 1-bit) only over the
  // selected pixels of 1-bit masks; the rest of Target keeps its pixels.
  void PasteBitmap(TBitmap& Target, const TBitmap& Source, int32_t X, int32_t Y) const;

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
