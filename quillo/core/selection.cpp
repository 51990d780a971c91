#include "quillo/core/selection.h"

#include <algorithm>
#include <cstring>

#include "quillo/core/pixels.h"

namespace quillo {

std::vector<TQLSubPolygon> QLSubPolygons(const TPoint* Points, int32_t Count) {
  std::vector<TQLSubPolygon> Runs;
  int32_t First = 0;
  for (int32_t I = 0; I <= Count; ++I) {
    if (I < Count && Points[I].X != QLPolyBreak) continue;
    if (I > First) Runs.push_back(TQLSubPolygon{First, I - First});
    First = I + 1;
  }
  return Runs;
}

bool _IsRectangle(const TPoint* Points, int32_t Count) {
  if (Count != 4 || !Points) return false;
  // 1 vertical, 2 horizontal, 0 neither.
  int32_t Kind[4];
  for (int32_t I = 0; I < 4; ++I) {
    const TPoint& A = Points[I];
    const TPoint& B = Points[(I + 1) % 4];
    Kind[I] = (A.X == B.X && A.Y != B.Y) ? 1 : (A.Y == B.Y && A.X != B.X) ? 2 : 0;
  }
  for (int32_t I = 0; I < 4; ++I)
    if (Kind[I] == 0 || Kind[I] == Kind[(I + 1) % 4]) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------
// TQLMask

void TQLMask::AllocateBits(int32_t Width, int32_t Height, int32_t BitsPerPixel) {
  FreeBits();
  EmptyBox();
  if (Width <= 0 || Height <= 0 || (BitsPerPixel != 1 && BitsPerPixel != 8)) return;
  const int32_t RowLen = BitsPerPixel == 1 ? _BitmapRowLen(Width, 1) : Width;
  int64_t Size;
  if (!QLImageSizeOK(Width, Height, BitsPerPixel) || !QLCheckedMul(RowLen, Height, Size))
    throw EOutOfMemory();
  FBits.assign(static_cast<size_t>(Size), 0);
  FWidth = Width;
  FHeight = Height;
  FBitsPerPixel = BitsPerPixel;
  FRowLen = RowLen;
}

void TQLMask::FreeBits() {
  FBits.clear();
  FBits.shrink_to_fit();
  FWidth = FHeight = FBitsPerPixel = FRowLen = 0;
}

void TQLMask::SetPixel(int32_t X, int32_t Y, int32_t Value) {
  if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight) return;
  uint8_t* R = Row(Y);
  if (FBitsPerPixel == 1) {
    const uint8_t M = static_cast<uint8_t>(0x80 >> (X & 7));
    R[X >> 3] = Value ? static_cast<uint8_t>(R[X >> 3] | M) : static_cast<uint8_t>(R[X >> 3] & ~M);
  } else {
    R[X] = static_cast<uint8_t>(Value);
  }
  if (Value) {
    X1 = std::min(X1, X);
    Y1 = std::min(Y1, Y);
    X2 = std::max(X2, X);
    Y2 = std::max(Y2, Y);
  }
}

int32_t TQLMask::GetPixel(int32_t X, int32_t Y) const {
  if (X < 0 || Y < 0 || X >= FWidth || Y >= FHeight) return 0;
  const uint8_t* R = Row(Y);
  if (FBitsPerPixel == 1) return R[X >> 3] & (0x80 >> (X & 7));
  return R[X];
}

void TQLMask::Fill(uint8_t Value) {
  std::fill(FBits.begin(), FBits.end(), Value);
}

void TQLMask::DrawHorizontalLine(int32_t Value, int32_t X1, int32_t X2, int32_t Y) {
  if (X2 < X1 || Y < 0 || Y >= FHeight) return;
  X1 = std::max(X1, 0);
  X2 = std::min(X2, FWidth - 1);
  if (X2 < X1) return;
  uint8_t* R = Row(Y);
  if (FBitsPerPixel == 8) {
    std::memset(R + X1, static_cast<uint8_t>(Value), static_cast<size_t>(X2 - X1 + 1));
    return;
  }
  for (int32_t X = X1; X <= X2; ++X) {
    const uint8_t M = static_cast<uint8_t>(0x80 >> (X & 7));
    R[X >> 3] = Value ? static_cast<uint8_t>(R[X >> 3] | M) : static_cast<uint8_t>(R[X >> 3] & ~M);
  }
}

void TQLMask::CopyBitmap(TBitmap& Target, const TBitmap& Source, bool Crop) const {
  if (FBits.empty()) return;
  if (!Crop && (Target.GetWidth() != Source.GetWidth() || Target.GetHeight() != Source.GetHeight()))
    return;
  if (X1 > X2 && Y1 > Y2) return;
  const TPixelFormat PF = Source.GetPixelFormat();
  if (PF != Target.GetPixelFormat() || (PF != pf24bit && PF != pf1bit)) return;
  const int32_t DX = Crop ? X1 : 0, DY = Crop ? Y1 : 0;
  // Only the box is visited, and only where the mask, the source and the target all reach.
  const int32_t XA = std::max({X1, 0, DX}), YA = std::max({Y1, 0, DY});
  const int32_t XB = std::min({X2, FWidth - 1, Source.GetWidth() - 1, Target.GetWidth() - 1 + DX});
  const int32_t YB =
      std::min({Y2, FHeight - 1, Source.GetHeight() - 1, Target.GetHeight() - 1 + DY});
  for (int32_t Y = YA; Y <= YB; ++Y) {
    const uint8_t* M = Row(Y);
    const uint8_t* S = Source.ScanLine(Y);
    uint8_t* T = Target.ScanLine(Y - DY);
    for (int32_t X = XA; X <= XB; ++X) {
      const int32_t W = FBitsPerPixel == 1 ? ((M[X >> 3] >> (7 - (X & 7))) & 1) * 256 : M[X];
      if (W == 0) continue;
      const int32_t TX = X - DX;
      if (PF == pf1bit) {
        const uint8_t Bit = static_cast<uint8_t>(0x80 >> (TX & 7));
        const bool On = (S[X >> 3] >> (7 - (X & 7))) & 1;
        T[TX >> 3] =
            On ? static_cast<uint8_t>(T[TX >> 3] | Bit) : static_cast<uint8_t>(T[TX >> 3] & ~Bit);
      } else if (W == 256) {
        std::memcpy(T + TX * 3, S + X * 3, 3);
      } else {
        // A blend by W / 256: t + ((s - t) x w x 1024) >> 18, the shift arithmetic.
        for (int32_t C = 0; C < 3; ++C) {
          const int32_t Tv = T[TX * 3 + C], Sv = S[X * 3 + C];
          T[TX * 3 + C] = static_cast<uint8_t>(Tv + (((Sv - Tv) * W * 1024) >> 18));
        }
      }
    }
  }
  Target.Modified();
}

}  // namespace quillo
