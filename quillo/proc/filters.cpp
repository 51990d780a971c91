#include "quillo/proc/filters.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"

namespace quillo {

const TGraphFilter QLFiltPres[9] = {
    {{{0, 0, 0}, {0, 1, 0}, {0, 0, 0}}, 0},          // fpNone
    {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 9},          // fpBlur
    {{{1, 1, 1}, {1, -8, 1}, {1, 1, 1}}, 1},         // fpEdge
    {{{-1, 0, 1}, {-1, 1, 1}, {-1, 0, 1}}, 1},       // fpEmboss
    {{{0, -1, 0}, {-1, 5, -1}, {0, -1, 0}}, 1},      // fpHighPass1
    {{{-1, -1, -1}, {-1, 9, -1}, {-1, -1, -1}}, 1},  // fpHighPass2
    {{{1, -2, 1}, {-2, 5, -2}, {1, -2, 1}}, 1},      // fpHighPass3
    {{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, 10},         // LowPass1
    {{{1, 2, 1}, {2, 4, 2}, {1, 2, 1}}, 16},         // LowPass2
};

namespace {
// Rect clipped to the bitmap.
TRect Clip(const TBitmap& B, const TRect& R) {
  return TRect{std::max(R.Left, 0), std::max(R.Top, 0), std::min(R.Right, B.GetWidth()),
               std::min(R.Bottom, B.GetHeight())};
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Convolution

namespace {

// Kernel entries up to this size keep every sum of nine products of bytes inside 32 bits.
constexpr int64_t kSmallKernel = (int64_t{1} << 31) / (9 * 255) - 1;

// Count channel bytes of a row whose neighbours lie inside the row on both sides: A0, A1, A2
// point at the first byte in the rows above, at and below. For results in 0..255 the double
// quotient truncates to the integer quotient (its distance to the next integer, at least
// 1 / |Div|, exceeds half an ulp); larger results clamp the same either way.
__attribute__((target_clones("avx2", "default"))) void ConvolveSpan(
    const uint8_t* __restrict A0, const uint8_t* __restrict A1, const uint8_t* __restrict A2,
    uint8_t* __restrict D, int32_t Count, const int32_t* __restrict K, int32_t Div) {
  const int32_t K0 = K[0], K1 = K[1], K2 = K[2], K3 = K[3], K4 = K[4], K5 = K[5], K6 = K[6],
                K7 = K[7], K8 = K[8];
  auto Sum = [&](int32_t I) {
    return K0 * A0[I - 3] + K1 * A0[I] + K2 * A0[I + 3] + K3 * A1[I - 3] + K4 * A1[I] +
           K5 * A1[I + 3] + K6 * A2[I - 3] + K7 * A2[I] + K8 * A2[I + 3];
  };
  if (Div == 1) {
    for (int32_t I = 0; I < Count; ++I) D[I] = static_cast<uint8_t>(std::clamp(Sum(I), 0, 255));
  } else {
    const double Dv = Div;
    for (int32_t I = 0; I < Count; ++I)
      D[I] = static_cast<uint8_t>(std::clamp(static_cast<int32_t>(Sum(I) / Dv), 0, 255));
  }
}

}  // namespace

void _ApplyFilter(TBitmap& Bitmap, const TGraphFilter& Filter, const TRect& Rect,
                  TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  const TRect R = Clip(Bitmap, Rect);
  if (R.IsEmpty()) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  const int64_t Div = Filter.Divisor == 0 ? 1 : Filter.Divisor;
  // One product table per kernel position for the general path. Products and sums are 64-bit:
  // a kernel from a file may hold any 32-bit value.
  int64_t P[9][256];
  int32_t K[9];
  bool Small = true;
  for (int32_t I = 0; I < 9; ++I) {
    K[I] = Filter.Values[I / 3][I % 3];
    Small = Small && K[I] >= -kSmallKernel && K[I] <= kSmallKernel;
    for (int32_t V = 0; V < 256; ++V) P[I][V] = int64_t{K[I]} * V;
  }
  auto General = [&](const uint8_t* const* Rows, uint8_t* D, int32_t X) {
    const int32_t Xs[3] = {std::max(X - 1, 0) * 3, X * 3, std::min(X + 1, W - 1) * 3};
    for (int32_t C = 0; C < 3; ++C) {
      int64_t Sum = 0;
      for (int32_t Ky = 0; Ky < 3; ++Ky)
        for (int32_t Kx = 0; Kx < 3; ++Kx) Sum += P[Ky * 3 + Kx][Rows[Ky][Xs[Kx] + C]];
      D[(X - R.Left) * 3 + C] = blimit(Sum / Div);
    }
  };
  // Every result is computed from the bitmap as it was: a row is written back once the row
  // below it, the last to read it, is done.
  const size_t RowBytes = static_cast<size_t>(R.Width()) * 3;
  std::vector<uint8_t> Done[2] = {std::vector<uint8_t>(RowBytes), std::vector<uint8_t>(RowBytes)};
  // Columns whose neighbours are inside the bitmap on both sides.
  const int32_t In0 = std::max(R.Left, 1), In1 = std::min(R.Right, W - 1);
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    const uint8_t* Rows[3] = {Bitmap.ScanLine(std::max(Y - 1, 0)), Bitmap.ScanLine(Y),
                              Bitmap.ScanLine(std::min(Y + 1, H - 1))};
    uint8_t* D = Done[Y & 1].data();
    if (Small && In1 > In0) {
      for (int32_t X = R.Left; X < In0; ++X) General(Rows, D, X);
      ConvolveSpan(Rows[0] + In0 * 3, Rows[1] + In0 * 3, Rows[2] + In0 * 3, D + (In0 - R.Left) * 3,
                   (In1 - In0) * 3, K, static_cast<int32_t>(Div));
      for (int32_t X = In1; X < R.Right; ++X) General(Rows, D, X);
    } else {
      for (int32_t X = R.Left; X < R.Right; ++X) General(Rows, D, X);
    }
    if (Y > R.Top)
      std::memcpy(Bitmap.ScanLine(Y - 1) + R.Left * 3, Done[(Y - 1) & 1].data(), RowBytes);
    QLRowProgress(Progress, Y, R.Top, R.Bottom - 1);
  }
  std::memcpy(Bitmap.ScanLine(R.Bottom - 1) + R.Left * 3, Done[(R.Bottom - 1) & 1].data(),
              RowBytes);
  Bitmap.Modified();
}

void SaveFilterToStream(TStream& Stream, const TGraphFilter& Filter) {
  const uint8_t Sig[3] = {1, 3, 3};
  Stream.WriteBuffer(Sig, 3);
  for (int32_t I = 0; I < 9; ++I) QLWriteIntLE(Stream, Filter.Values[I / 3][I % 3]);
  QLWriteIntLE(Stream, Filter.Divisor);
}

void LoadFilterFromStream(TStream& Stream, TGraphFilter& Filter) {
  uint8_t Raw[43];
  const int64_t Got = Stream.Read(Raw, 43);
  if (Got < 3 || Raw[0] != 1 || Raw[1] != 3 || Raw[2] != 3)
    throw EFilterInvalid("Not a filter file");
  if (Got < 43) throw EFilterInvalid("The filter file is cut short");
  TGraphFilter F;
  auto Int = [&](int32_t I) {
    const uint8_t* P = Raw + 3 + I * 4;
    return static_cast<int32_t>(P[0] | (P[1] << 8) | (P[2] << 16) |
                                (static_cast<uint32_t>(P[3]) << 24));
  };
  for (int32_t I = 0; I < 9; ++I) F.Values[I / 3][I % 3] = Int(I);
  F.Divisor = Int(9);
  Filter = F;
}

void SaveFilterToFile(const std::string& FileName, const TGraphFilter& Filter) {
  TFileStream F(FileName, fmCreate);
  SaveFilterToStream(F, Filter);
  F.Flush();
}

void LoadFilterFromFile(const std::string& FileName, TGraphFilter& Filter) {
  TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFilterFromStream(F, Filter);
}

// ---------------------------------------------------------------------------------------------
// Morphology

namespace {

// One maximum (Max) or minimum pass over R; Pass and Passes for the progress.
//
// A pixel takes the colour of the first pixel, in scan order (rows outer, columns inner) over
// its window clamped to R, whose grey is the window's extreme, unless that extreme equals the
// start value (0 for a maximum, 255 for a minimum), when no neighbour is strictly better and the
// pixel keeps its colour. The first extreme of the window is the first extreme of the first row
// holding it, so the pass is separable: each row's windows first (their extreme and its column),
// then each column's windows over those. Both use monotonic queues that keep the earlier of
// equal values, so the cost per pixel does not depend on the radius. Only the 2n + 1 rows a
// window can reach are held, in rings.
template <bool Max>
void MorphPass(TBitmap& B, int32_t N, const TRect& R, const TQLProgressEvent& OnProgress,
               TObject* Sender, int32_t Pass, int32_t Passes) {
  const int32_t W = R.Width(), H = R.Height();
  N = std::min(N, std::max(W, H));
  auto Better = [](int32_t A, int32_t Bv) { return Max ? A > Bv : A < Bv; };
  const int32_t Start = Max ? 0 : 255;
  // Ring sizes are powers of two so that slots are masks, not divisions.
  const int32_t Ring =
      static_cast<int32_t>(std::bit_ceil(static_cast<uint32_t>(std::min(2 * N + 1, H))));
  std::vector<TRGB> Colour(static_cast<size_t>(Ring) * W);     // the rows as they were
  std::vector<uint8_t> RowExt(static_cast<size_t>(Ring) * W);  // each row window's extreme grey
  std::vector<int32_t> RowAt(static_cast<size_t>(Ring) * W);   // and its column
  std::vector<uint8_t> Grey(static_cast<size_t>(W));
  std::vector<int32_t> Queue(static_cast<size_t>(W));
  // Per column, a queue of rows (indices counting up, taken modulo its capacity).
  const int32_t Cap = Ring, Mask = Cap - 1;  // a queue holds at most a window of rows
  std::vector<int32_t> ColQueue(static_cast<size_t>(Cap) * W);
  std::vector<int32_t> Head(static_cast<size_t>(W)), Tail(static_cast<size_t>(W));
  auto Slot = [&](int32_t Row) { return static_cast<size_t>(Row & (Ring - 1)) * W; };

  auto AddRow = [&](int32_t Row) {
    const size_t S = Slot(Row);
    const TRGB* Src = reinterpret_cast<const TRGB*>(B.ScanLine(R.Top + Row)) + R.Left;
    std::copy(Src, Src + W, Colour.begin() + static_cast<ptrdiff_t>(S));
    for (int32_t X = 0; X < W; ++X)
      Grey[static_cast<size_t>(X)] = static_cast<uint8_t>(_RGBToGray(Src[X]));
    int32_t Qh = 0, Qt = 0, Next = 0;
    for (int32_t X = 0; X < W; ++X) {
      for (const int32_t Hi = std::min(X + N, W - 1); Next <= Hi; ++Next) {
        while (Qt > Qh &&
               Better(Grey[static_cast<size_t>(Next)], Grey[static_cast<size_t>(Queue[Qt - 1])]))
          --Qt;
        Queue[static_cast<size_t>(Qt++)] = Next;
      }
      while (Queue[static_cast<size_t>(Qh)] < X - N) ++Qh;
      RowAt[S + X] = Queue[static_cast<size_t>(Qh)];
      RowExt[S + X] = Grey[static_cast<size_t>(Queue[static_cast<size_t>(Qh)])];
    }
    for (int32_t X = 0; X < W; ++X) {
      int32_t* Q = ColQueue.data() + static_cast<size_t>(X) * Cap;
      const int32_t G = RowExt[S + X];
      while (Tail[X] > Head[X] && Better(G, RowExt[Slot(Q[(Tail[X] - 1) & Mask]) + X])) --Tail[X];
      Q[Tail[X]++ & Mask] = Row;
    }
  };

  const double Step = 100.0 / (H - 1 + 0.5) / Passes;
  int32_t NextRow = 0;
  for (int32_t Y = 0; Y < H; ++Y) {
    const int32_t Lo = Y - N;
    for (int32_t X = 0; X < W; ++X) {
      const int32_t* Q = ColQueue.data() + static_cast<size_t>(X) * Cap;
      while (Tail[X] > Head[X] && Q[Head[X] & Mask] < Lo) ++Head[X];
    }
    for (const int32_t Hi = std::min(Y + N, H - 1); NextRow <= Hi; ++NextRow) AddRow(NextRow);
    TRGB* Out = reinterpret_cast<TRGB*>(B.ScanLine(R.Top + Y)) + R.Left;
    for (int32_t X = 0; X < W; ++X) {
      const int32_t Row = ColQueue[static_cast<size_t>(X) * Cap + (Head[X] & Mask)];
      const size_t S = Slot(Row);
      if (RowExt[S + X] != Start) Out[X] = Colour[S + RowAt[S + X]];
    }
    if (OnProgress) OnProgress(Sender, QLTrunc((Y + 1 + Pass * H) * Step));
  }
}

}  // namespace

void _MorphFilter(TBitmap& Bitmap, int32_t Radius, int32_t Kind, const TRect& Rect,
                  const TQLProgressEvent& OnProgress, TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit || Radius <= 0 || Kind < 0 || Kind > 3) return;
  const TRect R = Clip(Bitmap, Rect);
  if (R.IsEmpty()) return;
  switch (Kind) {
    case 0:
      MorphPass<true>(Bitmap, Radius, R, OnProgress, Sender, 0, 1);
      break;
    case 1:
      MorphPass<false>(Bitmap, Radius, R, OnProgress, Sender, 0, 1);
      break;
    case 2:
      MorphPass<false>(Bitmap, Radius, R, OnProgress, Sender, 0, 2);
      MorphPass<true>(Bitmap, Radius, R, OnProgress, Sender, 1, 2);
      break;
    case 3:
      MorphPass<true>(Bitmap, Radius, R, OnProgress, Sender, 0, 2);
      MorphPass<false>(Bitmap, Radius, R, OnProgress, Sender, 1, 2);
      break;
  }
  Bitmap.Modified();
}

// ---------------------------------------------------------------------------------------------
// Bump mapping

void _BumpMapping(TBitmap& Bitmap, const TRect& Rect, int32_t LightX, int32_t LightY,
                  int32_t LightWidth, int32_t LightHeight, int32_t Percentage, const TRGB& Color,
                  TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit || LightWidth == 0 || LightHeight == 0) return;
  const TRect R = Clip(Bitmap, Rect);
  if (R.IsEmpty()) return;
  // The light spot: brightest (v = 1) at the centre, wrapped to a byte as stored.
  static const std::vector<uint8_t> Map = [] {
    std::vector<uint8_t> M(256 * 256);
    for (int32_t I = 0; I < 256; ++I)
      for (int32_t J = 0; J < 256; ++J) {
        const double A = (I - 128) / 128.0, B = (J - 128) / 128.0;
        const double V = std::max(0.0, 1 - std::sqrt(A * A + B * B));
        M[static_cast<size_t>(I) * 256 + J] =
            static_cast<uint8_t>(static_cast<int32_t>(V * 256) & 255);
      }
    return M;
  }();
  const int32_t W = R.Width(), H = R.Height();
  std::vector<uint8_t> Grey(static_cast<size_t>(W) * H);
  for (int32_t Y = 0; Y < H; ++Y) {
    const TRGB* Row = reinterpret_cast<const TRGB*>(Bitmap.ScanLine(R.Top + Y)) + R.Left;
    for (int32_t X = 0; X < W; ++X)
      Grey[static_cast<size_t>(Y) * W + X] = static_cast<uint8_t>(_RGBToGray(Row[X]));
  }
  auto G = [&](int32_t X, int32_t Y) {
    return static_cast<int32_t>(
        Grey[static_cast<size_t>(std::clamp(Y, 0, H - 1)) * W + std::clamp(X, 0, W - 1)]);
  };
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(Bitmap.ScanLine(R.Top + Y)) + R.Left;
    const int32_t AbsY = R.Top + Y;
    for (int32_t X = 0; X < W; ++X) {
      const int32_t AbsX = R.Left + X;
      const int32_t Gx = G(X + 1, Y) - G(X - 1, Y), Gy = G(X, Y + 1) - G(X, Y - 1);
      const int32_t I =
          blimit(Gx - QLTrunc(static_cast<double>(AbsX - LightX) / LightWidth * 128) + 128);
      const int32_t J =
          blimit(Gy - QLTrunc(static_cast<double>(AbsY - LightY) / LightHeight * 128) + 128);
      const double L = Map[static_cast<size_t>(I) * 256 + J] * (100 - Percentage) / 100.0;
      auto Ch = [&](uint8_t C, uint8_t Lc) {
        return blimit(QLRound(C * Percentage / 100.0 + L * Lc / 255.0));
      };
      Row[X] = TRGB{Ch(Row[X].b, Color.b), Ch(Row[X].g, Color.g), Ch(Row[X].r, Color.r)};
    }
    QLRowProgress(Progress, AbsY, R.Top, R.Bottom - 1);
  }
  Bitmap.Modified();
}

// ---------------------------------------------------------------------------------------------
// Lens

void _lens(TBitmap& Bitmap, int32_t CX, int32_t CY, int32_t Width, int32_t Height,
           double Refraction, TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit || Bitmap.Empty()) return;
  const int32_t BW = Bitmap.GetWidth(), BH = Bitmap.GetHeight();
  const int32_t Left = std::clamp(CX - Width / 2, 0, BW - 1),
                Top = std::clamp(CY - Height / 2, 0, BH - 1);
  const int32_t Right = std::clamp(CX + Width / 2, 0, BW - 1),
                Bottom = std::clamp(CY + Height / 2, 0, BH - 1);
  const int32_t W = Right - Left, H = Bottom - Top;
  if (W <= 0 || H <= 0) return;
  const double A = W / 2.0, B = H / 2.0, R = std::max(Refraction, 1.0);
  const double Zr = std::min(A, B);
  TBitmap Out(W, H, pf24bit);
  // The refracted offset along one axis for a surface of height Z.
  auto Refract = [&](double D, double Z) {
    const double Theta = std::acos(D / std::sqrt(D * D + Z * Z));
    const double Beta = std::asin(std::sin(std::numbers::pi / 2 - Theta) / R);
    return D - Z * std::tan(std::numbers::pi / 2 - Theta - Beta);
  };
  for (int32_t I = 0; I < W; ++I) {
    for (int32_t J = 0; J < H; ++J) {
      const double Dx = I - A + 0.5, Dy = -(J - B) - 0.5;
      int32_t SX = Left + I, SY = Top + J;
      if (B * B - B * B * Dx * Dx / (A * A) > Dy * Dy) {
        const double Z = std::sqrt(Zr * Zr * (1 - Dx * Dx / (A * A) - Dy * Dy / (B * B)));
        // The source stays inside the bitmap (the lens's origin plus its local position may
        // pass the edge).
        SX = std::min(Left + std::clamp(QLTrunc(Refract(Dx, Z) + A), 0, BW - 1), BW - 1);
        SY = std::min(Top + std::clamp(QLTrunc(-Refract(Dy, Z) + B), 0, BH - 1), BH - 1);
      }
      reinterpret_cast<TRGB*>(Out.ScanLine(J))[I] =
          reinterpret_cast<const TRGB*>(Bitmap.ScanLine(SY))[SX];
    }
    QLRowProgress(Progress, I, 0, W - 1);
  }
  for (int32_t J = 0; J < H; ++J)
    std::memcpy(Bitmap.ScanLine(Top + J) + Left * 3, Out.ScanLine(J), static_cast<size_t>(W) * 3);
  Bitmap.Modified();
}

// ---------------------------------------------------------------------------------------------
// Wave

void _wave(TBitmap& Bitmap, int32_t Amplitude, int32_t Wavelength, int32_t Phase, bool Reflective,
           TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit || Amplitude == 0 || Wavelength == 0) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  if (W < 2 || H < 2) return;
  TBitmap Copy;
  Copy.Assign(Bitmap);
  const double Cx = (W - 1) / 2.0, Cy = (H - 1) / 2.0;
  const double Hw = W / 2.0, Hh = H / 2.0;
  double Sx = 1, Sy = 1;
  if (Hw < Hh) Sx = Hh / Hw;
  if (Hw > Hh) Sy = Hw / Hh;
  const double Ph = Phase * std::numbers::pi / 180.0;
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(Bitmap.ScanLine(Y));
    for (int32_t X = 0; X < W; ++X) {
      const double Dx = (X - Cx) * Sx, Dy = (Y - Cy) * Sy;
      const double D = std::sqrt(Dx * Dx + Dy * Dy);
      const double S = std::sin(D / (2.0 * Wavelength) * 2 * std::numbers::pi + Ph);
      double SrcX, SrcY;
      if (Reflective) {
        const double Wv = std::fabs(S) * Amplitude;
        SrcX = Cx + Dx * Wv / Sx;
        SrcY = Cy + Dy * Wv / Sy;
      } else {
        const double Wv = S * Amplitude;
        SrcX = Cx + (Wv + Dx) / Sx;
        SrcY = Cy + (Wv + Dy) / Sy;
      }
      const int32_t Ix = std::clamp(QLTrunc(SrcX), 0, W - 2),
                    Iy = std::clamp(QLTrunc(SrcY), 0, H - 2);
      const double Fx = SrcX - std::trunc(SrcX), Fy = SrcY - std::trunc(SrcY);
      const TRGB* R0 = reinterpret_cast<const TRGB*>(Copy.ScanLine(Iy));
      const TRGB* R1 = reinterpret_cast<const TRGB*>(Copy.ScanLine(Iy + 1));
      auto Mix = [&](uint8_t P00, uint8_t P10, uint8_t P01, uint8_t P11) {
        return blimit(
            QLTrunc((1 - Fy) * ((1 - Fx) * P00 + Fx * P10) + Fy * ((1 - Fx) * P01 + Fx * P11)));
      };
      Row[X] = TRGB{Mix(R0[Ix].b, R0[Ix + 1].b, R1[Ix].b, R1[Ix + 1].b),
                    Mix(R0[Ix].g, R0[Ix + 1].g, R1[Ix].g, R1[Ix + 1].g),
                    Mix(R0[Ix].r, R0[Ix + 1].r, R1[Ix].r, R1[Ix + 1].r)};
    }
    QLProgress(Progress, QLTrunc(Y * 100.0 / H));
  }
  Bitmap.Modified();
}

}  // namespace quillo
