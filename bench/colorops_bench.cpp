// Point operations on a 24-megapixel photograph-like image against a plain copy of the same
// bytes: _Negative, _ContrastRGB, _HSLvar, _IntensityRGBall and _ConvertToGray. Each iteration
// works on a fresh copy of the image (restored outside the timing). peers-colorops.sh prints the
// ratios to the copy and times ImageMagick on the same image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/proc/analysis.h"
#include "quillo/proc/colorops.h"

using namespace quillo;

namespace {

constexpr int32_t kW = 6000, kH = 4000;

const TBitmap& Image() {
  static TBitmap B = bench::PhotoImage(kW, kH);
  return B;
}

TRect Whole() {
  return TRect{0, 0, kW, kH};
}

// Times Op on a copy of the image, the copy restored before every iteration.
template <typename TOp>
void Run(benchmark::State& State, TOp&& Op) {
  TBitmap Work;
  Work.Assign(Image());
  for (auto _ : State) {
    State.PauseTiming();
    std::memcpy(Work.Bits(), Image().Bits(), static_cast<size_t>(Image().BitsSize()));
    State.ResumeTiming();
    Op(Work);
    benchmark::DoNotOptimize(Work.Bits());
  }
  State.SetBytesProcessed(State.iterations() * Image().BitsSize());
}

void BM_Memcpy(benchmark::State& State) {
  std::vector<uint8_t> Dst(static_cast<size_t>(Image().BitsSize()));
  for (auto _ : State) {
    std::memcpy(Dst.data(), Image().Bits(), Dst.size());
    benchmark::DoNotOptimize(Dst.data());
    benchmark::ClobberMemory();
  }
  State.SetBytesProcessed(State.iterations() * Image().BitsSize());
}

void BM_Negative(benchmark::State& State) {
  Run(State, [](TBitmap& B) { _Negative(B, Whole()); });
}

void BM_ContrastRGB(benchmark::State& State) {
  int32_t R, G, B;
  _GetMediaContrastRGB(Image(), R, G, B);
  Run(State, [&](TBitmap& Bm) { _ContrastRGB(Bm, 20, R, G, B, Whole()); });
}

void BM_HSLvar(benchmark::State& State) {
  Run(State, [](TBitmap& B) { _HSLvar(B, 30, 20, 10, Whole()); });
}

void BM_IntensityRGBall(benchmark::State& State) {
  Run(State, [](TBitmap& B) { _IntensityRGBall(B, 20, -10, 5, Whole()); });
}

void BM_ConvertToGray(benchmark::State& State) {
  Run(State, [](TBitmap& B) { _ConvertToGray(B, Whole()); });
}

}  // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Negative)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContrastRGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HSLvar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntensityRGBall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToGray)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
