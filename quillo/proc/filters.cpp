#include "quillo/proc/filters.h"

#include <algorithm>
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

void _ApplyFilter(TBitmap& Bitmap, const TGraphFilter& Filter, const TRect& Rect,
                  TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  const TRect R = Clip(Bitmap, Rect);
  if (R.IsEmpty()) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  const int64_t Div = Filter.Divisor == 0 ? 1 : Filter.Divisor;
  // One product table per kernel position: no multiplication in the inner loop. Products and
  // sums are 64-bit: a kernel from a file may hold any 32-bit value.
  int64_t P[9][256];
  for (int32_t K = 0; K < 9; ++K)
    for (int32_t V = 0; V < 256; ++V) P[K][V] = int64_t{Filter.Values[K / 3][K % 3]} * V;
  // The processed area, computed from the bitmap as it was.
  TBitmap Out(R.Width(), R.Height(), pf24bit);
  std::vector<int32_t> Cols(static_cast<size_t>(R.Width()) * 3);
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    const uint8_t* Rows[3] = {Bitmap.ScanLine(std::max(Y - 1, 0)), Bitmap.ScanLine(Y),
                              Bitmap.ScanLine(std::min(Y + 1, H - 1))};
    uint8_t* D = Out.ScanLine(Y - R.Top);
    for (int32_t X = R.Left; X < R.Right; ++X) {
      const int32_t Xs[3] = {std::max(X - 1, 0) * 3, X * 3, std::min(X + 1, W - 1) * 3};
      for (int32_t C = 0; C < 3; ++C) {
        int64_t Sum = 0;
        for (int32_t Ky = 0; Ky < 3; ++Ky)
          for (int32_t Kx = 0; Kx < 3; ++Kx) Sum += P[Ky * 3 + Kx][Rows[Ky][Xs[Kx] + C]];
        D[(X - R.Left) * 3 + C] = blimit(Sum / Div);
      }
    }
    QLRowProgress(Progress, Y, R.Top, R.Bottom - 1);
  }
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
    std::memcpy(Bitmap.ScanLine(Y) + R.Left * 3, Out.ScanLine(Y - R.Top),
                static_cast<size_t>(R.Width()) * 3);
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
void MorphPass(TBitmap& B, int32_t N, bool Max, const TRect& R, const TQLProgressEvent& OnProgress,
               TObject* Sender, int32_t Pass, int32_t Passes) {
  const int32_t W = R.Width(), H = R.Height();
  std::vector<uint8_t> Grey(static_cast<size_t>(W) * H);
  std::vector<TRGB> Colour(static_cast<size_t>(W) * H);
  for (int32_t Y = 0; Y < H; ++Y) {
    const TRGB* Row = reinterpret_cast<const TRGB*>(B.ScanLine(R.Top + Y)) + R.Left;
    for (int32_t X = 0; X < W; ++X) {
      Colour[static_cast<size_t>(Y) * W + X] = Row[X];
      Grey[static_cast<size_t>(Y) * W + X] = static_cast<uint8_t>(_RGBToGray(Row[X]));
    }
  }
  const double Step = 100.0 / (H - 1 + 0.5) / Passes;
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Out = reinterpret_cast<TRGB*>(B.ScanLine(R.Top + Y)) + R.Left;
    for (int32_t X = 0; X < W; ++X) {
      int32_t Best = Max ? 0 : 255;
      int64_t BestAt = -1;
      for (int32_t Dy = -N; Dy <= N; ++Dy) {
        const int32_t Yy = std::clamp(Y + Dy, 0, H - 1);
        const uint8_t* G = Grey.data() + static_cast<size_t>(Yy) * W;
        for (int32_t Dx = -N; Dx <= N; ++Dx) {
          const int32_t Xx = std::clamp(X + Dx, 0, W - 1);
          if (Max ? G[Xx] > Best : G[Xx] < Best)
            Best = G[Xx], BestAt = static_cast<int64_t>(Yy) * W + Xx;
        }
      }
      // No neighbour beat the start value: the pixel keeps its own colour.
      if (BestAt >= 0) Out[X] = Colour[static_cast<size_t>(BestAt)];
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
      MorphPass(Bitmap, Radius, true, R, OnProgress, Sender, 0, 1);
      break;
    case 1:
      MorphPass(Bitmap, Radius, false, R, OnProgress, Sender, 0, 1);
      break;
    case 2:
      MorphPass(Bitmap, Radius, false, R, OnProgress, Sender, 0, 2);
      MorphPass(Bitmap, Radius, true, R, OnProgress, Sender, 1, 2);
      break;
    case 3:
      MorphPass(Bitmap, Radius, true, R, OnProgress, Sender, 0, 2);
      MorphPass(Bitmap, Radius, false, R, OnProgress, Sender, 1, 2);
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
