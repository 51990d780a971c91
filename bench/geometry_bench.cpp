// Resampling a 24-megapixel photograph-like image to 25% and 200% with Lanczos3 and Mitchell,
// and rotating it by 30 degrees with antialiasing. peers-geometry.sh times ImageMagick and
// libvips on the same image.
#include <benchmark/benchmark.h>

#include "bench/benchimage.h"
#include "quillo/proc/geometry.h"

using namespace quillo;

namespace {

void BM_Resample(benchmark::State& State) {
  const TResampleFilter F = static_cast<TResampleFilter>(State.range(0));
  const int32_t Percent = static_cast<int32_t>(State.range(1));
  bench::Photo24MP();  // made before the timing starts
  for (auto _ : State) {
    TBitmap Dst(6000 * Percent / 100, 4000 * Percent / 100, pf24bit);
    _Resample(bench::Photo24MP(), Dst, F, nullptr, nullptr);
    benchmark::DoNotOptimize(Dst.Bits());
  }
}

void BM_Rotate30(benchmark::State& State) {
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  bench::Photo24MP();
  for (auto _ : State) {
    TBitmap B;
    B.Assign(bench::Photo24MP());
    _Rotate24(B, 30, true, clWhite, P);
    benchmark::DoNotOptimize(B.Bits());
  }
}

}  // namespace

BENCHMARK(BM_Resample)
    ->Args({rfLanczos3, 25})
    ->Args({rfMitchell, 25})
    ->Args({rfLanczos3, 200})
    ->Args({rfMitchell, 200})
    ->ArgNames({"filter", "percent"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate30)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
