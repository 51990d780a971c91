#include "quillo/core/detail/blit.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillo {

TQLBlitSource QLBlitSourceOf(const TBitmap& Bitmap) {
  TQLBlitSource S;
  const TPixelFormat PF = Bitmap.GetPixelFormat();
  if (Bitmap.Empty() || (PF != pf24bit && PF != pf1bit)) return S;
  S.Row0 = Bitmap.ScanLine(0);
  S.Stride = Bitmap.GetHeight() > 1 ? Bitmap.ScanLine(1) - Bitmap.ScanLine(0) : 0;
  S.Width = Bitmap.GetWidth();
  S.Height = Bitmap.GetHeight();
  S.BitsPerPixel = PF == pf24bit ? 24 : 1;
  return S;
}

namespace {

// Gathers one target row segment from a 24-bit source row through the column table.
void Gather24(uint8_t* D, const uint8_t* S, const int32_t* Off, int32_t N) {
  int32_t I = 0;
  for (; I + 4 <= N; I += 4, D += 12) {
    const uint8_t* A = S + Off[I];
    const uint8_t* B = S + Off[I + 1];
    const uint8_t* C = S + Off[I + 2];
    const uint8_t* E = S + Off[I + 3];
    D[0] = A[0], D[1] = A[1], D[2] = A[2];
    D[3] = B[0], D[4] = B[1], D[5] = B[2];
    D[6] = C[0], D[7] = C[1], D[8] = C[2];
    D[9] = E[0], D[10] = E[1], D[11] = E[2];
  }
  for (; I < N; ++I, D += 3) {
    const uint8_t* A = S + Off[I];
    D[0] = A[0], D[1] = A[1], D[2] = A[2];
  }
}

}  // namespace

void QLStretchBlit(TBitmap& Target, const TRect& Dest, const TQLBlitSource& Source,
                   const TRect& SrcRect, const TRect& Clip, TQLBlitMode Mode) {
  if (Target.GetPixelFormat() != pf24bit || Target.Empty() || !Source.Row0) return;
  if (Source.BitsPerPixel != 24 && Source.BitsPerPixel != 1) return;
  const int64_t DW = int64_t(Dest.Right) - Dest.Left, DH = int64_t(Dest.Bottom) - Dest.Top;
  const int64_t SW = int64_t(SrcRect.Right) - SrcRect.Left,
                SH = int64_t(SrcRect.Bottom) - SrcRect.Top;
  if (DW <= 0 || DH <= 0 || SW <= 0 || SH <= 0) return;
  const int32_t X0 = std::max({Dest.Left, Clip.Left, 0});
  const int32_t X1 = std::min({Dest.Right, Clip.Right, Target.GetWidth()});
  const int32_t Y0 = std::max({Dest.Top, Clip.Top, 0});
  const int32_t Y1 = std::min({Dest.Bottom, Clip.Bottom, Target.GetHeight()});
  if (X1 <= X0 || Y1 <= Y0) return;

  // The column table: for each target column its source column. Columns whose source falls
  // outside the source are trimmed from either end (the mapping is monotonic).
  std::vector<int32_t> Col;
  Col.reserve(static_cast<size_t>(X1 - X0));
  int32_t First = X0;
  for (int32_t X = X0; X < X1; ++X) {
    const int64_t SX = SrcRect.Left + (int64_t(X) - Dest.Left) * SW / DW;
    if (SX < 0) {
      First = X + 1;
      continue;
    }
    if (SX >= Source.Width) break;
    Col.push_back(static_cast<int32_t>(SX));
  }
  const int32_t N = static_cast<int32_t>(Col.size());
  if (N == 0) return;
  const bool Is24 = Source.BitsPerPixel == 24;
  if (Is24)
    for (int32_t& C : Col) C *= 3;
  // A 1:1 copy of a 24-bit row is one move.
  const bool Straight = Is24 && SW == DW && Mode == qlbmCopy;

  uint8_t* PrevRow = nullptr;
  int64_t PrevSY = -1;
  for (int32_t Y = Y0; Y < Y1; ++Y) {
    const int64_t SY = SrcRect.Top + (int64_t(Y) - Dest.Top) * SH / DH;
    if (SY < 0 || SY >= Source.Height) continue;
    uint8_t* D = Target.ScanLine(Y) + int64_t(First) * 3;
    // Enlarging repeats source rows: the row already drawn is copied again.
    if (SY == PrevSY && Mode == qlbmCopy) {
      std::memcpy(D, PrevRow, static_cast<size_t>(N) * 3);
      continue;
    }
    const uint8_t* S = Source.Row0 + SY * Source.Stride;
    if (Mode == qlbmCopy) {
      if (Straight) {
        std::memcpy(D, S + Col[0], static_cast<size_t>(N) * 3);
      } else if (Is24) {
        Gather24(D, S, Col.data(), N);
      } else {
        for (int32_t I = 0; I < N; ++I, D += 3) {
          const uint8_t V = static_cast<uint8_t>(-((S[Col[I] >> 3] >> (7 - (Col[I] & 7))) & 1));
          D[0] = D[1] = D[2] = V;
        }
        D -= int64_t(N) * 3;
      }
      PrevRow = D;
      PrevSY = SY;
    } else if (Is24) {
      for (int32_t I = 0; I < N; ++I, D += 3) {
        const uint8_t* A = S + Col[I];
        if (A[0] | A[1] | A[2]) D[0] = ~D[0], D[1] = ~D[1], D[2] = ~D[2];
      }
    } else {
      for (int32_t I = 0; I < N; ++I, D += 3)
        if ((S[Col[I] >> 3] >> (7 - (Col[I] & 7))) & 1) D[0] = ~D[0], D[1] = ~D[1], D[2] = ~D[2];
    }
  }
  Target.Modified();
}

}  // namespace quillo
