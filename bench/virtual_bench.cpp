// Images larger than memory: thumbnails added to and read back from the store, and a
// 1-gigapixel virtual bitmap filled band by band and rendered to a full-HD canvas.
#include <benchmark/benchmark.h>

#include <cstring>

#include "quillo/core/virtualbitmap.h"
#include "quillo/multi/virtualdiblist.h"

using namespace quillo;

namespace {

void BM_ThumbnailAddAndRead(benchmark::State& S) {
  TBitmap T;
  T.SetPixelFormat(pf24bit);
  T.SetSize(160, 120);
  for (int32_t Y = 0; Y < 120; ++Y) std::memset(T.ScanLine(Y), Y, 480);
  TQLVirtualDIBList Store;
  Store.PrepareSpaceFor(160, 120, 24, 20000);
  TBitmap Back;
  int64_t N = 0;
  for (auto _ : S) {
    TQLVirtualImageInfo* Info = Store.AddBitmap(T);
    Store.CopyToBitmap(Info, Back);
    benchmark::DoNotOptimize(Back.ScanLine(0));
    if (++N % 20000 == 0) {
      S.PauseTiming();
      while (Store.GetImageCount()) Store.RemoveImageInfo(Store.GetImageCount() - 1);
      S.ResumeTiming();
    }
  }
  S.SetItemsProcessed(S.iterations());
}
BENCHMARK(BM_ThumbnailAddAndRead);

// 32768 x 32768 pixels at 24 bits (3 GiB in a temporary file), filled black in bands of 1024
// rows (what the peer script's libvips command writes), then rendered whole onto 1920 x 1080.
void BM_GigapixelFillAndRender(benchmark::State& S) {
  constexpr int32_t kSide = 32768, kBand = 1024;
  TBitmap Band;
  Band.SetPixelFormat(pf24bit);
  Band.SetSize(kSide, kBand);
  TBitmap Screen;
  Screen.SetPixelFormat(pf24bit);
  Screen.SetSize(1920, 1080);
  TCanvas C(&Screen);
  for (auto _ : S) {
    TQLVirtualBitmap V;
    if (!V.AllocateBits(kSide, kSide, 24)) {
      S.SkipWithError(V.GetError().c_str());
      return;
    }
    for (int32_t Y = 0; Y < kBand; ++Y)
      std::memset(Band.ScanLine(Y), 0, static_cast<size_t>(Band.RowLen()));
    for (int32_t Y0 = 0; Y0 < kSide; Y0 += kBand) V.CopyFromBitmap(Band, 0, Y0, kSide, kBand);
    V.RenderTo(C, 0, 0, 0, 1920, 1080, 0, 0, kSide, kSide);
    benchmark::DoNotOptimize(Screen.ScanLine(0));
  }
}
BENCHMARK(BM_GigapixelFillAndRender)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
