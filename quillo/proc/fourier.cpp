#include "quillo/proc/fourier.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"

namespace quillo {

namespace {

// Columns gathered together for the column pass: a cache line of floats per row.
constexpr int32_t kColumnBlock = 16;

// One level of butterflies over a block of 2B elements sharing the twiddle (C, F): the pair
// (p, q) becomes (p + q w, p - q w) with w = C + iF, in single precision.
__attribute__((target_clones("avx2", "default"))) void Butterflies(float* __restrict Re,
                                                                   float* __restrict Im, int32_t B,
                                                                   float C, float F) {
  float* __restrict Qr = Re + B;
  float* __restrict Qi = Im + B;
  for (int32_t K = 0; K < B; ++K) {
    const float Tr = Qr[K] * C - Qi[K] * F;
    const float Ti = Qr[K] * F + Qi[K] * C;
    const float Pr = Re[K], Pi = Im[K];
    Re[K] = Pr + Tr;
    Im[K] = Pi + Ti;
    Qr[K] = Pr - Tr;
    Qi[K] = Pi - Ti;
  }
}

// Values of a plane for display: ln(sqrt(|F|)), 0 where |F| is 0.
void LogMagnitudes(const TQLFtImage::TPlane& P, std::vector<double>& V) {
  const int32_t N = P.Size();
  V.resize(static_cast<size_t>(N) * N);
  for (int32_t Y = 0; Y < N; ++Y) {
    const float* Row = P.Row(Y);
    for (int32_t X = 0; X < N; ++X) {
      const double Re = Row[X], Im = Row[N + X];
      const double M = std::sqrt(Re * Re + Im * Im);
      V[static_cast<size_t>(Y) * N + X] = M == 0 ? 0.0 : std::log(std::sqrt(M));
    }
  }
}

}  // namespace

const TQLFtImage::TPlane* TQLFtImage::Plane(int32_t Channel) const {
  switch (Channel) {
    case 0:
      return FRed.get();
    case 1:
      return FGreen.get();
    case 2:
      return FBlue.get();
    case 3:
      return FGray.get();
    default:
      return nullptr;
  }
}

void TQLFtImage::PrepareTables(int32_t N) {
  if (N == FN) return;
  FN = N;
  FLog2N = QLTrunc(std::log(static_cast<double>(N)) / std::log(2.0) + 0.5);
  FSine.resize(static_cast<size_t>(N));
  FBitRev.resize(static_cast<size_t>(N));
  FBlockSize.resize(static_cast<size_t>(FLog2N) + 1);
  for (int32_t K = 0; K < N; ++K)
    FSine[static_cast<size_t>(K)] = std::sin(2 * std::numbers::pi * K / N);
  for (int32_t I = 0; I < N; ++I) {
    int32_t R = 0;
    for (int32_t Bit = 0; Bit < FLog2N; ++Bit)
      if (I & (1 << Bit)) R |= 1 << (FLog2N - 1 - Bit);
    FBitRev[static_cast<size_t>(I)] = R;
  }
  for (int32_t I = 0; I <= FLog2N; ++I) FBlockSize[static_cast<size_t>(I)] = 1 << I;
  FScale = 1 / std::sqrt(static_cast<double>(N));
}

void TQLFtImage::Transform1D(float* Re, float* Im, int32_t Sign) const {
  const int32_t N = FN;
  // A transform of length 1 is the identity (and its scale is 1).
  if (N < 2) return;
  // Depth-first over the blocks: at depth D the block at Index pairs its two halves of B
  // elements with the twiddle of the bit-reversed block number.
  struct TFrame {
    int32_t Depth, Index;
  };
  TFrame Stack[64];
  int32_t Top = 0;
  Stack[Top++] = {1, 0};
  while (Top > 0) {
    const TFrame Fr = Stack[--Top];
    const int32_t B = FBlockSize[static_cast<size_t>(FLog2N - Fr.Depth)];
    const int32_t T = FBitRev[static_cast<size_t>(Fr.Index / B)];
    const float C = static_cast<float>(FSine[static_cast<size_t>((T + N / 4) % N)]);
    const float F = static_cast<float>(Sign * FSine[static_cast<size_t>(T)]);
    Butterflies(Re + Fr.Index, Im + Fr.Index, B, C, F);
    if (Fr.Depth < FLog2N) {
      Stack[Top++] = {Fr.Depth + 1, Fr.Index + B};
      Stack[Top++] = {Fr.Depth + 1, Fr.Index};
    }
  }
  for (int32_t I = 0; I < N; ++I) {
    const int32_t J = FBitRev[static_cast<size_t>(I)];
    if (I >= J) {
      std::swap(Re[I], Re[J]);
      std::swap(Im[I], Im[J]);
    }
  }
  const float S = static_cast<float>(FScale);
  for (int32_t I = 0; I < N; ++I) {
    Re[I] *= S;
    Im[I] *= S;
  }
}

void TQLFtImage::Transform2D(TPlane& P, int32_t Sign, int32_t PlaneIndex,
                             int32_t PlaneCount) const {
  const int32_t N = FN;
  for (int32_t Y = 0; Y < N; ++Y) Transform1D(P.Row(Y), P.Row(Y) + N, Sign);
  // Columns are gathered a block at a time so each row's cache line is read once per block.
  const int32_t Block = std::min(kColumnBlock, N);
  std::vector<float> Scratch(static_cast<size_t>(Block) * 2 * N);
  const double Step = 100.0 / (PlaneCount * N);
  for (int32_t X0 = 0; X0 < N; X0 += Block) {
    for (int32_t Y = 0; Y < N; ++Y) {
      const float* Row = P.Row(Y);
      for (int32_t K = 0; K < Block; ++K) {
        float* S = Scratch.data() + static_cast<size_t>(K) * 2 * N;
        S[Y] = Row[X0 + K];
        S[N + Y] = Row[N + X0 + K];
      }
    }
    for (int32_t K = 0; K < Block; ++K) {
      float* S = Scratch.data() + static_cast<size_t>(K) * 2 * N;
      Transform1D(S, S + N, Sign);
      if (OnProgress) OnProgress(ProgressSender, QLTrunc(Step * (X0 + K) + Step * PlaneIndex * N));
    }
    for (int32_t Y = 0; Y < N; ++Y) {
      float* Row = P.Row(Y);
      for (int32_t K = 0; K < Block; ++K) {
        const float* S = Scratch.data() + static_cast<size_t>(K) * 2 * N;
        Row[X0 + K] = S[Y];
        Row[N + X0 + K] = S[N + Y];
      }
    }
  }
}

void TQLFtImage::BuildFT(const TBitmap& Bitmap, TQLFtImageType Type) {
  FreeAll();
  if (Type == qlitUnknown || Bitmap.GetPixelFormat() != pf24bit || Bitmap.Empty()) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  FSourceWidth = W;
  FSourceHeight = H;
  int32_t N = 1;
  while (N < std::max(W, H)) N *= 2;
  FWorkSize = N;
  FOffsetX = (N - W) / 2;
  FOffsetY = (N - H) / 2;
  FType = Type;
  FNormalize = true;
  // Channel: the byte of a 24-bit pixel (2 red, 1 green, 0 blue), or -1 for grey.
  auto Make = [&](int32_t Channel, int32_t PlaneIndex, int32_t PlaneCount) {
    PrepareTables(N);
    auto P = std::make_unique<TPlane>(N);
    int32_t Largest = 1;
    // The source sits at the offsets inside a black square.
    for (int32_t Y = 0; Y < H; ++Y) {
      const uint8_t* Src = Bitmap.ScanLine(Y);
      float* Re = P->Row(Y + FOffsetY) + FOffsetX;
      for (int32_t X = 0; X < W; ++X) {
        const uint8_t* Px = Src + X * 3;
        const int32_t V = Channel >= 0 ? Px[Channel] : (21 * Px[2] + 71 * Px[1] + 7 * Px[0]) / 100;
        Re[X] = static_cast<float>(V);
        Largest = std::max(Largest, V);
      }
    }
    const float L = static_cast<float>(Largest);
    for (int32_t Y = 0; Y < N; ++Y) {
      float* Re = P->Row(Y);
      for (int32_t X = 0; X < N; ++X) {
        Re[X] /= L;
        // Multiplying by (-1)^(x + y) moves the zero frequency to (N/2, N/2).
        if ((X + Y) & 1) Re[X] = -Re[X];
      }
    }
    Transform2D(*P, -1, PlaneIndex, PlaneCount);
    return P;
  };
  if (Type == qlitRGB) {
    FRed = Make(2, 0, 3);
    FGreen = Make(1, 1, 3);
    FBlue = Make(0, 2, 3);
  } else {
    FGray = Make(-1, 0, 1);
  }
  FNormalize = false;
}

void TQLFtImage::GetFTImage(TBitmap& Bitmap) const {
  const int32_t N = FWorkSize;
  Bitmap.SetPixelFormat(pf24bit);
  Bitmap.SetSize(N, N);
  if (N == 0) return;
  std::vector<double> V;
  auto Show = [&](const TPlane& P, int32_t Channel) {
    LogMagnitudes(P, V);
    double Lo = *std::min_element(V.begin(), V.end()), Hi = *std::max_element(V.begin(), V.end());
    if (std::fabs(Lo) <= 0.00001) Lo = 0;
    for (int32_t Y = 0; Y < N; ++Y) {
      uint8_t* Row = Bitmap.ScanLine(Y);
      for (int32_t X = 0; X < N; ++X) {
        const double Val = V[static_cast<size_t>(Y) * N + X];
        const uint8_t B = Hi == Lo ? 0 : blimit(QLTrunc((Val - Lo) * 255 / (Hi - Lo)));
        if (Channel >= 0)
          Row[X * 3 + Channel] = B;
        else
          Row[X * 3] = Row[X * 3 + 1] = Row[X * 3 + 2] = B;
      }
    }
  };
  if (FType == qlitRGB) {
    Show(*FRed, 2);
    Show(*FGreen, 1);
    Show(*FBlue, 0);
  } else if (FType == qlitGrayscale) {
    Show(*FGray, -1);
  }
  Bitmap.Modified();
}

void TQLFtImage::BuildBitmap(TBitmap& Bitmap) const {
  Bitmap.SetPixelFormat(pf24bit);
  Bitmap.SetSize(FSourceWidth, FSourceHeight);
  if (FWorkSize == 0 || FType == qlitUnknown) return;
  const int32_t N = FWorkSize;
  // The tables belong to the size of the planes held; a copy keeps this object untouched.
  TQLFtImage Tables;
  Tables.PrepareTables(N);
  Tables.OnProgress = OnProgress;
  Tables.ProgressSender = ProgressSender;
  const int32_t Count = FType == qlitRGB ? 3 : 1;
  int32_t Index = 0;
  auto Back = [&](const TPlane& Src, int32_t Channel) {
    TPlane P = Src;
    Tables.Transform2D(P, 1, Index++, Count);
    // The origin shift is not undone: the magnitude removes its sign pattern.
    float Lo = std::fabs(P.Row(0)[0]), Hi = Lo;
    for (int32_t Y = 0; Y < N; ++Y) {
      float* Re = P.Row(Y);
      for (int32_t X = 0; X < N; ++X) {
        Re[X] = std::fabs(Re[X]);
        Lo = std::min(Lo, Re[X]);
        Hi = std::max(Hi, Re[X]);
      }
    }
    for (int32_t Y = 0; Y < FSourceHeight; ++Y) {
      const float* Re = P.Row(Y + FOffsetY) + FOffsetX;
      uint8_t* Row = Bitmap.ScanLine(Y);
      for (int32_t X = 0; X < FSourceWidth; ++X) {
        const uint8_t B = Hi == Lo ? 0 : blimit(QLTrunc((Re[X] - Lo) * 255.0f / (Hi - Lo)));
        if (Channel >= 0)
          Row[X * 3 + Channel] = B;
        else
          Row[X * 3] = Row[X * 3 + 1] = Row[X * 3 + 2] = B;
      }
    }
  };
  if (FType == qlitRGB) {
    Back(*FRed, 2);
    Back(*FGreen, 1);
    Back(*FBlue, 0);
  } else {
    Back(*FGray, -1);
  }
  Bitmap.Modified();
}

void TQLFtImage::ForEachPlane(const std::function<void(TPlane&)>& Fn) {
  for (auto* P : {FRed.get(), FGreen.get(), FBlue.get(), FGray.get()})
    if (P) Fn(*P);
}

void TQLFtImage::ClearByDistance(int32_t Radius, bool Inside) {
  const int32_t N = FWorkSize, C = N / 2;
  ForEachPlane([&](TPlane& P) {
    for (int32_t Y = 0; Y < N; ++Y)
      for (int32_t X = 0; X < N; ++X) {
        const int32_t D =
            QLTrunc(std::sqrt(static_cast<double>((X - C) * (X - C) + (Y - C) * (Y - C))));
        if ((D <= Radius) == Inside) *P.Real(X, Y) = *P.Imag(X, Y) = 0;
      }
  });
}

void TQLFtImage::HiPass(int32_t Radius) {
  ClearByDistance(Radius, true);
}

void TQLFtImage::LoPass(int32_t Radius) {
  ClearByDistance(Radius, false);
}

void TQLFtImage::ClearZone(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  const int32_t N = FWorkSize;
  X1 = std::max(X1, 0), Y1 = std::max(Y1, 0);
  X2 = std::min(X2, N - 1), Y2 = std::min(Y2, N - 1);
  if (X2 < X1) return;
  ForEachPlane([&](TPlane& P) {
    for (int32_t Y = Y1; Y <= Y2; ++Y)
      for (int32_t X = X1; X <= X2; ++X) *P.Real(X, Y) = *P.Imag(X, Y) = 0;
  });
}

TQLComplexImage TQLFtImage::GetComplexImage(int32_t X, int32_t Y) {
  TQLComplexImage R;
  if (X < 0 || Y < 0 || X >= FWorkSize || Y >= FWorkSize) return R;
  if (FRed) R.real_Red = FRed->Real(X, Y), R.imag_Red = FRed->Imag(X, Y);
  if (FBlue) R.real_Blue = FBlue->Real(X, Y), R.imag_Blue = FBlue->Imag(X, Y);
  if (FGreen) R.real_Green = FGreen->Real(X, Y), R.imag_Green = FGreen->Imag(X, Y);
  if (FGray) R.imag_Gray = FGray->Imag(X, Y), R.real_Gray = FGray->Real(X, Y);
  return R;
}

void TQLFtImage::Assign(const TQLFtImage& Source) {
  if (&Source == this) return;
  FreeAll();
  FWorkSize = Source.FWorkSize;
  FNormalize = Source.FNormalize;
  if (Source.FN > 0) PrepareTables(Source.FN);
  FOffsetX = Source.FOffsetX;
  FOffsetY = Source.FOffsetY;
  FSourceWidth = Source.FSourceWidth;
  FSourceHeight = Source.FSourceHeight;
  OnProgress = Source.OnProgress;
  ProgressSender = Source.ProgressSender;
  FType = Source.FType;
  auto Copy = [](const std::unique_ptr<TPlane>& P) {
    return P ? std::make_unique<TPlane>(*P) : nullptr;
  };
  FRed = Copy(Source.FRed);
  FGreen = Copy(Source.FGreen);
  FBlue = Copy(Source.FBlue);
  FGray = Copy(Source.FGray);
}

void TQLFtImage::FreeAll() {
  FRed.reset();
  FGreen.reset();
  FBlue.reset();
  FGray.reset();
  FWorkSize = 0;
  FType = qlitUnknown;
}

}  // namespace quillo
