// The exact palette of an image of few colours (count the colours, build the palette, map every
// pixel) against the GIF write that uses it, on a 24-megapixel photograph posterised to 200
// colours; the quantizer's path on the same image shows what the exact path replaces.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/benchimage.h"
#include "quillo/codecs/gif.h"
#include "quillo/core/lists.h"
#include "quillo/lzw/lzw.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/quantizer.h"

using namespace quillo;

namespace {

// The photograph with each pixel replaced by one of 200 colours picked by its value, so that
// regions, edges and noise stay as in a photograph reduced to a palette.
const TBitmap& Poster200() {
  static const TBitmap B = [] {
    TBitmap P = bench::PhotoImage(6000, 4000);
    for (int32_t Y = 0; Y < P.GetHeight(); ++Y) {
      uint8_t* Px = P.ScanLine(Y);
      for (int32_t X = 0; X < P.GetWidth(); ++X, Px += 3) {
        const uint32_t K = (Px[2] * 7u + Px[1] * 3u + Px[0]) / 8u % 200u;
        const uint32_t C = bench::Hash(K, 0, 5);
        Px[0] = static_cast<uint8_t>(C), Px[1] = static_cast<uint8_t>(C >> 8);
        Px[2] = static_cast<uint8_t>(C >> 16);
      }
    }
    return P;
  }();
  return B;
}

void MapAll(benchmark::State& State, bool Exact) {
  const TBitmap& B = Poster200();
  const int32_t W = B.GetWidth(), H = B.GetHeight();
  std::vector<uint8_t> Indexes(static_cast<size_t>(W) * static_cast<size_t>(H));
  for (auto _ : State) {
    if (Exact) {
      TQLPaletteMapper M(B, 256, {}, Indexes.data());
      State.counters["colours"] = M.ColorCount();
    } else {
      std::vector<TRGB> Pal(256);
      TQLQuantizer Q(B, Pal.data(), 255, 256, -1, 0);
      std::vector<int32_t> Row(static_cast<size_t>(W));
      for (int32_t Y = 0; Y < H; ++Y) {
        Q.GetRGBIndexes(B.ScanLine(Y), W, Row.data());
        for (int32_t X = 0; X < W; ++X)
          Indexes[static_cast<size_t>(Y) * W + X] =
              static_cast<uint8_t>(Row[static_cast<size_t>(X)]);
      }
    }
    benchmark::DoNotOptimize(Indexes.data());
  }
  State.SetItemsProcessed(State.iterations() * W * H);
}

void BM_ExactPalette(benchmark::State& State) {
  MapAll(State, true);
}

void BM_QuantizerPalette(benchmark::State& State) {
  MapAll(State, false);
}

void BM_GifWrite(benchmark::State& State) {
  QLInstallLZWCoders();
  const TBitmap& B = Poster200();
  for (auto _ : State) {
    TNulStream S;
    TIOParamsVals P;
    P.BitsPerSample = 8;
    P.SamplesPerPixel = 1;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    WriteGifStream(S, B, P, Prog);
    benchmark::DoNotOptimize(S.GetSize());
  }
  State.SetItemsProcessed(State.iterations() * B.GetWidth() * B.GetHeight());
}

}  // namespace

BENCHMARK(BM_ExactPalette)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuantizerPalette)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GifWrite)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
