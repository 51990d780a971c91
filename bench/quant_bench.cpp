// Quantizer speed: training alone, and training plus mapping every pixel to its index, on 1-
// and 12-megapixel photograph-like images, to 256 colours (the network) and 16 (median cut).
// peers-quant.sh times the peer quantizers on the same pixels.
#include <benchmark/benchmark.h>

#include <map>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/quant/convert.h"
#include "quillo/quant/quantizer.h"

using namespace quillo;

namespace {

const TBitmap& Image(int64_t Megapixels) {
  static std::map<int64_t, TBitmap> Images;
  auto It = Images.find(Megapixels);
  if (It == Images.end()) {
    TBitmap B = Megapixels == 1 ? bench::PhotoImage(1000, 1000) : bench::PhotoImage(4000, 3000);
    It = Images.emplace(Megapixels, std::move(B)).first;
  }
  return It->second;
}

void BM_Train(benchmark::State& State) {
  const TBitmap& B = Image(State.range(0));
  const int32_t NCol = static_cast<int32_t>(State.range(1));
  std::vector<TRGB> Pal(256);
  for (auto _ : State) {
    TQLQuantizer Q(B, Pal.data(), 255, NCol);
    benchmark::DoNotOptimize(Pal.data());
  }
  State.SetItemsProcessed(State.iterations() * B.GetWidth() * B.GetHeight());
}

void BM_TrainAndMap(benchmark::State& State) {
  const TBitmap& B = Image(State.range(0));
  const int32_t NCol = static_cast<int32_t>(State.range(1));
  std::vector<TRGB> Pal(256);
  std::vector<uint8_t> Row(static_cast<size_t>(B.GetWidth()));
  for (auto _ : State) {
    TQLQuantizer Q(B, Pal.data(), 255, NCol);
    for (int32_t Y = 0; Y < B.GetHeight(); ++Y)
      _ConvertXBitsToYBits(B.ScanLine(Y), Row.data(), 24, 8, B.GetWidth(), Pal.data(), NCol, &Q);
    benchmark::DoNotOptimize(Row.data());
  }
  State.SetItemsProcessed(State.iterations() * B.GetWidth() * B.GetHeight());
}

void Sizes(benchmark::internal::Benchmark* B) {
  for (int64_t Mp : {1, 12})
    for (int64_t NCol : {256, 16}) B->Args({Mp, NCol});
  B->ArgNames({"Mpx", "ncol"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Train)->Apply(Sizes);
BENCHMARK(BM_TrainAndMap)->Apply(Sizes);
BENCHMARK_MAIN();
