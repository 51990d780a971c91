// The 3 x 3 convolution and a radius-3 morphological maximum on 24 megapixels, the Fourier
// transform forward and back at 1024 and 2048 against FFTW (single precision, estimated plan,
// one thread), and the magic wand flooding one large region of 24 megapixels.
// peers-filters.sh times ImageMagick on the same convolution and maximum.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>

#include "bench/benchimage.h"
#include "quillo/proc/filters.h"
#include "quillo/proc/fourier.h"
#include "quillo/proc/magicwand.h"

using namespace quillo;

namespace {

void BM_Convolve3x3(benchmark::State& State) {
  TBitmap B;
  B.Assign(bench::Photo24MP());
  TProgressRec P;
  for (auto _ : State) {
    _ApplyFilter(B, QLFiltPres[State.range(0)], TRect{0, 0, 6000, 4000}, P);
    benchmark::DoNotOptimize(B.Bits());
  }
}

void BM_MaximumRadius3(benchmark::State& State) {
  TBitmap B;
  B.Assign(bench::Photo24MP());
  for (auto _ : State) {
    _MorphFilter(B, 3, 0, TRect{0, 0, 6000, 4000}, nullptr, nullptr);
    benchmark::DoNotOptimize(B.Bits());
  }
}

// Forward and inverse of one grey plane, building from and back into a bitmap.
void BM_FourierOurs(benchmark::State& State) {
  const int32_t N = static_cast<int32_t>(State.range(0));
  TBitmap Src = bench::PhotoImage(N, N);
  TBitmap Back;
  for (auto _ : State) {
    TQLFtImage F;
    F.BuildFT(Src, qlitGrayscale);
    F.BuildBitmap(Back);
    benchmark::DoNotOptimize(Back.Bits());
  }
}

// The same pair of transforms on an N x N complex plane with FFTW.
void BM_FourierFFTW(benchmark::State& State) {
  const int N = static_cast<int>(State.range(0));
  fftwf_complex* Data = fftwf_alloc_complex(static_cast<size_t>(N) * N);
  fftwf_plan Fwd = fftwf_plan_dft_2d(N, N, Data, Data, FFTW_FORWARD, FFTW_ESTIMATE);
  fftwf_plan Inv = fftwf_plan_dft_2d(N, N, Data, Data, FFTW_BACKWARD, FFTW_ESTIMATE);
  for (int I = 0; I < N * N; ++I) Data[I][0] = static_cast<float>(I % 251) / 251, Data[I][1] = 0;
  for (auto _ : State) {
    fftwf_execute(Fwd);
    fftwf_execute(Inv);
    benchmark::DoNotOptimize(Data[0][0]);
  }
  fftwf_destroy_plan(Fwd);
  fftwf_destroy_plan(Inv);
  fftwf_free(Data);
}

// A large disc of one colour with a ragged edge on a noisy background.
const TBitmap& WandImage() {
  static TBitmap B = [] {
    TBitmap I(6000, 4000, pf24bit);
    for (int32_t Y = 0; Y < 4000; ++Y) {
      uint8_t* Row = I.ScanLine(Y);
      for (int32_t X = 0; X < 6000; ++X) {
        const double A = std::atan2(Y - 2000.0, X - 3000.0);
        const double R = 1900 + 60 * std::sin(A * 37) + (bench::Hash(X, Y, 3) % 5);
        const bool In = std::hypot(X - 3000.0, Y - 2000.0) < R;
        const uint8_t V = In ? 200 : static_cast<uint8_t>(bench::Hash(X, Y, 9) % 120);
        Row[X * 3] = Row[X * 3 + 1] = Row[X * 3 + 2] = V;
      }
    }
    return I;
  }();
  return B;
}

void BM_MagicWandLargeRegion(benchmark::State& State) {
  WandImage();
  for (auto _ : State) {
    auto P = _MakeMagicWandPoints(WandImage(), 3000, 2000, State.range(0) != 0, 20);
    benchmark::DoNotOptimize(P.data());
  }
}

}  // namespace

BENCHMARK(BM_Convolve3x3)->Arg(fpBlur)->Arg(fpEdge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaximumRadius3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FourierOurs)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FourierFFTW)->Arg(1024)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MagicWandLargeRegion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
