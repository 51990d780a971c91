#include "quillo/core/selection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "quillo/core/detail/blit.h"
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
  // A span: partial first and last bytes, whole bytes between.
  const int32_t B1 = X1 >> 3, B2 = X2 >> 3;
  const uint8_t Head = static_cast<uint8_t>(0xFF >> (X1 & 7));
  const uint8_t Tail = static_cast<uint8_t>(0xFF << (7 - (X2 & 7)));
  auto Put = [&](int32_t B, uint8_t M) {
    R[B] = Value ? static_cast<uint8_t>(R[B] | M) : static_cast<uint8_t>(R[B] & ~M);
  };
  if (B1 == B2) {
    Put(B1, static_cast<uint8_t>(Head & Tail));
    return;
  }
  Put(B1, Head);
  if (B2 > B1 + 1) std::memset(R + B1 + 1, Value ? 0xFF : 0, static_cast<size_t>(B2 - B1 - 1));
  Put(B2, Tail);
}

void TQLMask::ResizeBits(int32_t Width, int32_t Height) {
  if (Width == FWidth && Height == FHeight) return;
  const int32_t OldW = FWidth, OldH = FHeight, OldLen = FRowLen, BPP = FBitsPerPixel;
  std::vector<uint8_t> Old;
  Old.swap(FBits);
  const int32_t BX1 = X1, BY1 = Y1, BX2 = X2, BY2 = Y2;
  AllocateBits(Width, Height, BPP);
  X1 = BX1, Y1 = BY1, X2 = BX2, Y2 = BY2;
  if (FBits.empty() || Old.empty()) return;
  const int32_t Rows = std::min(OldH, FHeight);
  const size_t Len = static_cast<size_t>(std::min(OldLen, FRowLen));
  for (int32_t Y = 0; Y < Rows; ++Y)
    std::memcpy(Row(Y), Old.data() + static_cast<size_t>(OldH - 1 - Y) * OldLen, Len);
  (void)OldW;
}

void TQLMask::DrawPolygon(int32_t Value, const TPoint* Points, int32_t Count) {
  EmptyBox();
  Fill(0);
  if (!Points) return;
  for (const TQLSubPolygon& P : QLSubPolygons(Points, Count))
    DrawSinglePolygon(Value, Points + P.First, P.Count);
}

void TQLMask::DrawSinglePolygon(int32_t Value, const TPoint* Points, int32_t N) {
  if (N < 1 || !Points) return;
  int32_t YMin = Points[0].Y, YMax = Points[0].Y;
  for (int32_t I = 0; I < N; ++I) {
    const TPoint& P = Points[I];
    YMin = std::min(YMin, P.Y);
    YMax = std::max(YMax, P.Y);
    if (Value) {
      X1 = std::min(X1, P.X);
      Y1 = std::min(Y1, P.Y);
      X2 = std::max(X2, P.X);
      Y2 = std::max(Y2, P.Y);
    }
  }
  // A selection reaching the bitmap's right or bottom edge has its corner one beyond the last
  // pixel: the mask grows to hold it.
  if (Value && X1 < X2 && Y1 < Y2 && (X2 >= FWidth || Y2 >= FHeight) && FBitsPerPixel)
    ResizeBits(std::max(X2 + 1, FWidth), std::max(Y2 + 1, FHeight));

  struct TEdge {
    int64_t X, Top, DX, DY, Err;
  };
  std::vector<std::vector<TEdge>> Buckets(static_cast<size_t>(int64_t(YMax) - YMin + 1));
  for (int32_t I = 0; I < N; ++I) {
    TPoint A = Points[I], B = Points[(I + 1) % N];
    if (A.Y == B.Y) continue;
    if (A.Y > B.Y) std::swap(A, B);
    auto& Bucket = Buckets[static_cast<size_t>(int64_t(A.Y) - YMin)];
    Bucket.insert(Bucket.begin(), TEdge{A.X, B.Y, int64_t(B.X) - A.X, int64_t(B.Y) - A.Y, 0});
  }
  std::vector<TEdge> Active;
  for (int64_t Y = YMin; Y <= YMax; ++Y) {
    // Step the edges that continue; drop those that end on this row.
    size_t Keep = 0;
    for (size_t I = 0; I < Active.size(); ++I) {
      TEdge E = Active[I];
      if (E.Top == Y) continue;
      const int64_t Q = E.DX / E.DY;
      E.X += Q;
      E.Err += 2 * (E.DX - Q * E.DY);
      if (E.Err > E.DY || E.Err < -E.DY) {
        if (E.DX < 1) {
          E.Err += 2 * E.DY;
          E.X -= 1;
        } else {
          E.Err -= 2 * E.DY;
          E.X += 1;
        }
      }
      Active[Keep++] = E;
    }
    Active.resize(Keep);
    // Edges that crossed keep the list in x order (insertion sort: it is nearly sorted).
    for (size_t I = 1; I < Active.size(); ++I)
      for (size_t J = I; J > 0 && Active[J - 1].X > Active[J].X; --J)
        std::swap(Active[J - 1], Active[J]);
    for (const TEdge& E : Buckets[static_cast<size_t>(Y - YMin)]) {
      auto It = Active.begin();
      while (It != Active.end() &&
             !(It->X > E.X || (It->X == E.X && E.DY * It->DX >= E.DX * It->DY)))
        ++It;
      Active.insert(It, E);
    }
    for (size_t I = 0; I + 1 < Active.size(); I += 2) {
      const int64_t A = Active[I].X, B = Active[I + 1].X - 1;
      if (B >= A && Y >= 0 && Y < FHeight && B >= 0 && A < FWidth)
        DrawHorizontalLine(Value, static_cast<int32_t>(std::max<int64_t>(A, 0)),
                           static_cast<int32_t>(std::min<int64_t>(B, FWidth - 1)),
                           static_cast<int32_t>(Y));
    }
  }
}

void TQLMask::PasteBitmap(TBitmap& Target, const TBitmap& Source, int32_t X, int32_t Y) const {
  const TPixelFormat PF = Source.GetPixelFormat();
  if (FBitsPerPixel != 1 || FBits.empty() || PF != Target.GetPixelFormat() ||
      (PF != pf24bit && PF != pf1bit))
    return;
  const int32_t XA = std::max({X, 0, X1}), YA = std::max({Y, 0, Y1});
  const int32_t XB = std::min({X + Source.GetWidth(), Target.GetWidth(), FWidth, X2 + 1});
  const int32_t YB = std::min({Y + Source.GetHeight(), Target.GetHeight(), FHeight, Y2 + 1});
  for (int32_t TY = YA; TY < YB; ++TY) {
    const uint8_t* M = Row(TY);
    const uint8_t* S = Source.ScanLine(TY - Y);
    uint8_t* T = Target.ScanLine(TY);
    for (int32_t TX = XA; TX < XB; ++TX) {
      if (!((M[TX >> 3] >> (7 - (TX & 7))) & 1)) continue;
      const int32_t SX = TX - X;
      if (PF == pf24bit) {
        std::memcpy(T + TX * 3, S + SX * 3, 3);
      } else {
        const uint8_t Bit = static_cast<uint8_t>(0x80 >> (TX & 7));
        T[TX >> 3] = ((S[SX >> 3] >> (7 - (SX & 7))) & 1) ? static_cast<uint8_t>(T[TX >> 3] | Bit)
                                                          : static_cast<uint8_t>(T[TX >> 3] & ~Bit);
      }
    }
  }
  Target.Modified();
}

void TQLMask::InvertCanvas(TCanvas& Canvas, const TRect& Dest, const TRect& Src) const {
  TBitmap* Target = Canvas.GetBitmap();
  if (FBitsPerPixel != 1 || FBits.empty() || !Target) return;
  TQLBlitSource S;
  S.Row0 = Row(0);
  S.Stride = -static_cast<int64_t>(FRowLen);
  S.Width = FWidth;
  S.Height = FHeight;
  S.BitsPerPixel = 1;
  QLStretchBlit(*Target, Dest, S, Src, Canvas.GetClipRect(), qlbmXorWhite);
}

// ---------------------------------------------------------------------------------------------
// Geometry helpers

void _CastPolySelCC(int32_t LastX, int32_t LastY, int32_t& X, int32_t& Y) {
  const int32_t EX = std::abs(LastX - X), EY = std::abs(LastY - Y);
  if (EX + 30 < EY) {
    X = LastX;
    return;
  }
  if (EY < EX - 30) {
    Y = LastY;
    return;
  }
  const int32_t K = std::abs(EX - EY);
  const bool Wide = EX >= EY;
  if (LastX < X && LastY < Y) {
    if (Wide)
      Y += K;
    else
      X += K;
  } else if (LastX > X && LastY > Y) {
    if (Wide)
      X += K;
    else
      Y += K;
  } else if (LastX > X) {
    if (Wide)
      Y += K;
    else
      X -= K;
  } else if (LastY > Y) {
    if (Wide)
      Y -= K;
    else
      X += K;
  }
}

bool _InRect(int32_t X, int32_t Y, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  return X1 <= X && X <= X2 && Y1 <= Y && Y <= Y2;
}

bool _InRectO(int32_t X, int32_t Y, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  return _InRect(X, Y, std::min(X1, X2), std::min(Y1, Y2), std::max(X1, X2), std::max(Y1, Y2));
}

bool _RectXRect(int32_t AX1, int32_t AY1, int32_t AX2, int32_t AY2, int32_t BX1, int32_t BY1,
                int32_t BX2, int32_t BY2) {
  const int32_t L = std::min(AX1, AX2), R = std::max(AX1, AX2);
  const int32_t T = std::min(AY1, AY2), B = std::max(AY1, AY2);
  return L <= BX2 && BX1 <= R && T <= BY2 && BY1 <= B;
}

int32_t _RectPRect(int32_t AX1, int32_t AY1, int32_t AX2, int32_t AY2, int32_t BX1, int32_t BY1,
                   int32_t BX2, int32_t BY2) {
  const bool IX1 = AX1 <= BX1 && BX1 <= AX2, IX2 = AX1 <= BX2 && BX2 <= AX2;
  const bool IY1 = AY1 <= BY1 && BY1 <= AY2, IY2 = AY1 <= BY2 && BY2 <= AY2;
  if (IX1 && IX2 && IY1 && IY2) return 2;
  if ((IX1 != IX2 && (IY1 || IY2)) || ((IX1 || IX2) && IY1 != IY2)) return 1;
  return 0;
}

double _DistPoint2Point(double X1, double Y1, double X2, double Y2) {
  return std::hypot(X2 - X1, Y2 - Y1);
}

double _DistPoint2Line(double PX, double PY, double AX, double AY, double BX, double BY) {
  const double L = _DistPoint2Point(AX, AY, BX, BY);
  if (L == 0) return _DistPoint2Point(PX, PY, AX, AY);
  return std::fabs((BX - AX) * (AY - PY) - (AX - PX) * (BY - AY)) / L;
}

double _DistPoint2Seg(double PX, double PY, double AX, double AY, double BX, double BY) {
  if (AX == BX && AY == BY) return _DistPoint2Point(PX, PY, AX, AY);
  const double T = ((PX - AX) * (BX - AX) + (PY - AY) * (BY - AY)) /
                   ((BX - AX) * (BX - AX) + (BY - AY) * (BY - AY));
  if (T > 1) return _DistPoint2Point(PX, PY, BX, BY);
  if (T < 0) return _DistPoint2Point(PX, PY, AX, AY);
  return _DistPoint2Line(PX, PY, AX, AY, BX, BY);
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

TRegion QLPolygonRegion(const TPoint* Polygon, int32_t Count, int32_t DX, int32_t DY) {
  TRegion All;
  std::vector<TPoint> Pts;
  for (const TQLSubPolygon& S : QLSubPolygons(Polygon, Count)) {
    Pts.assign(Polygon + S.First, Polygon + S.First + S.Count);
    for (TPoint& P : Pts) P.X += DX, P.Y += DY;
    All |= TRegion::FromPolygon(Pts.data(), S.Count, pfmAlternate);
  }
  return All;
}

}  // namespace quillo
