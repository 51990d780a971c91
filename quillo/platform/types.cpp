#include "quillo/platform/types.h"

#include <algorithm>
#include <array>

namespace quillo {

bool IntersectRect(TRect& Dst, const TRect& A, const TRect& B) {
  Dst.Left = std::max(A.Left, B.Left);
  Dst.Top = std::max(A.Top, B.Top);
  Dst.Right = std::min(A.Right, B.Right);
  Dst.Bottom = std::min(A.Bottom, B.Bottom);
  if (Dst.IsEmpty()) {
    Dst = TRect{};
    return false;
  }
  return true;
}

bool UnionRect(TRect& Dst, const TRect& A, const TRect& B) {
  if (A.IsEmpty()) {
    Dst = B;
  } else if (B.IsEmpty()) {
    Dst = A;
  } else {
    Dst = TRect{std::min(A.Left, B.Left), std::min(A.Top, B.Top), std::max(A.Right, B.Right),
                std::max(A.Bottom, B.Bottom)};
  }
  if (Dst.IsEmpty()) {
    Dst = TRect{};
    return false;
  }
  return true;
}

void OffsetRect(TRect& R, int32_t DX, int32_t DY) {
  R.Left += DX;
  R.Right += DX;
  R.Top += DY;
  R.Bottom += DY;
}

void InflateRect(TRect& R, int32_t DX, int32_t DY) {
  R.Left -= DX;
  R.Right += DX;
  R.Top -= DY;
  R.Bottom += DY;
}

namespace {
// The classic desktop scheme, used until a backend reports the real one.
std::array<TColor, 25> gSysColors = {
    0xC8C8C8,  // scroll bar
    0x000000,  // background
    0x6A240A,  // active caption
    0x808080,  // inactive caption
    0xC0C0C0,  // menu
    0xFFFFFF,  // window
    0x000000,  // window frame
    0x000000,  // menu text
    0x000000,  // window text
    0xFFFFFF,  // caption text
    0xC0C0C0,  // active border
    0xC0C0C0,  // inactive border
    0x808080,  // app workspace
    0x6A240A,  // highlight
    0xFFFFFF,  // highlight text
    0xC0C0C0,  // button face
    0x808080,  // button shadow
    0x808080,  // grey text
    0x000000,  // button text
    0xC0C0C0,  // inactive caption text
    0xFFFFFF,  // button highlight
    0x404040,  // 3-D dark shadow
    0xC0C0C0,  // 3-D light
    0x000000,  // info text
    0xE1FFFF,  // info background
};
}  // namespace

TColor ColorToRGB(TColor Color) {
  if (Color < 0) {
    uint32_t Index = static_cast<uint32_t>(Color) & 0xFF;
    return Index < gSysColors.size() ? gSysColors[Index] : clBlack;
  }
  return Color;
}

void SetSystemColor(int32_t Index, TColor RGB) {
  if (Index >= 0 && Index < static_cast<int32_t>(gSysColors.size()))
    gSysColors[static_cast<size_t>(Index)] = RGB & 0xFFFFFF;
}

}  // namespace quillo
