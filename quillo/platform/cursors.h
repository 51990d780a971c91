// The numbered cursor table: the standard cursors and the image view's own, each an image with
// a hot spot. Every image is drawn by this module from lines and shapes; a window backend shows
// the standard ones as the desktop's own cursors and the others from these images.
#pragma once

#include <cstdint>
#include <vector>

#include "quillo/platform/bitmap.h"

namespace quillo {

using TCursor = int32_t;

constexpr TCursor crDefault = 0;
constexpr TCursor crNone = -1;
constexpr TCursor crArrow = -2;
constexpr TCursor crCross = -3;
constexpr TCursor crIBeam = -4;
constexpr TCursor crSizeNESW = -6;
constexpr TCursor crSizeNS = -7;
constexpr TCursor crSizeNWSE = -8;
constexpr TCursor crSizeWE = -9;
constexpr TCursor crUpArrow = -10;
constexpr TCursor crHourGlass = -11;
constexpr TCursor crDrag = -12;
constexpr TCursor crNoDrop = -13;
constexpr TCursor crHSplit = -14;
constexpr TCursor crVSplit = -15;
constexpr TCursor crMultiDrag = -16;
constexpr TCursor crSQLWait = -17;
constexpr TCursor crNo = -18;
constexpr TCursor crAppStart = -19;
constexpr TCursor crHelp = -20;
constexpr TCursor crHandPoint = -21;
constexpr TCursor crSizeAll = -22;
constexpr TCursor crSize = crSizeAll;

// The image view's thirteen cursors, in their order: zoom out, zoom in, cross, eraser, hand,
// pen, two more crosses (the second is the view's default), and the move arrows (diagonal,
// vertical, the other diagonal, horizontal, all four ways).
constexpr TCursor crQLZoomOut = 1778;
constexpr TCursor crQLZoomIn = 1779;
constexpr TCursor crQLCross = 1780;
constexpr TCursor crQLEraser = 1781;
constexpr TCursor crQLHand = 1782;
constexpr TCursor crQLPen = 1783;
constexpr TCursor crQLCross1 = 1784;
constexpr TCursor crQLCross2 = 1785;
constexpr TCursor crQLMoveNWSE = 1786;
constexpr TCursor crQLMoveNS = 1787;
constexpr TCursor crQLMoveNESW = 1788;
constexpr TCursor crQLMoveWE = 1789;
constexpr TCursor crQLMove = 1790;

// A cursor image: Width x Height pixels, 0xAARRGGBB, rows from the top, with its hot spot.
struct TCursorImage {
  int32_t Width = 0, Height = 0;
  int32_t HotX = 0, HotY = 0;
  std::vector<uint32_t> Argb;
  bool Empty() const { return Argb.empty(); }
  uint32_t At(int32_t X, int32_t Y) const {
    return Argb[static_cast<size_t>(Y) * static_cast<size_t>(Width) + static_cast<size_t>(X)];
  }
};

// Whether the identifier is one of the standard cursors (negative identifiers and crDefault).
inline bool IsStandardCursor(TCursor C) {
  return C <= 0 && C >= crSizeAll;
}

// The image of a cursor: a standard one, the view's own, or one an application set; empty for
// crNone and for identifiers that were never set. crDefault is the arrow.
const TCursorImage& CursorImage(TCursor Cursor);
// Sets (or replaces) the image of a cursor identifier; applications add their own cursors.
void SetCursorImage(TCursor Cursor, TCursorImage Image);
// A cursor image from a picture: pixels of the colour Transparent are left clear.
TCursorImage CursorFromBitmap(const TBitmap& Picture, int32_t HotX, int32_t HotY,
                              TColor Transparent);

}  // namespace quillo
