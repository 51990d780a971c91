#include "quillo/platform/controls.h"

#include <algorithm>

namespace quillo {

void TControl::SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height) {
  Width = std::max(Width, 0);
  Height = std::max(Height, 0);
  bool Sized = Width != FWidth || Height != FHeight;
  FLeft = Left;
  FTop = Top;
  FWidth = Width;
  FHeight = Height;
  if (Sized) {
    Resize();
    Invalidate();
  }
}

void TCustomControl::Resize() {
  FSurface.SetPixelFormat(pf24bit);
  FSurface.SetSize(GetClientWidth(), GetClientHeight());
}

void TCustomControl::Update() {
  if (!FInvalid) return;
  FInvalid = false;
  Paint();
}

}  // namespace quillo
