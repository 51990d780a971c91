// What a person waits for when the viewer opens a 24-megapixel JPEG photograph: the file is read
// into the view's bitmap and shown fitted to a 1600 x 900 window (the view's first, unfiltered
// paint; the smooth one follows). The photograph is written to
// $QUILLO_BENCH_JPEG (a temporary file when unset) so that a script can time a peer decoding the
// same file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/benchimage.h"
#include "quillo/io/quilloio.h"
#include "quillo/view/quilloview.h"

using namespace quillo;

namespace {

const std::string& PhotoFile() {
  static const std::string Name = [] {
    const char* Env = std::getenv("QUILLO_BENCH_JPEG");
    std::string F =
        Env && *Env ? Env
                    : (std::filesystem::temp_directory_path() / "quillo-bench-24mp.jpg").string();
    if (!std::filesystem::exists(F)) {
      TBitmap B = bench::PhotoImage(6000, 4000);
      TQuilloIO IO;
      IO.SetAttachedBitmap(&B);
      IO.IOParams().JpegQuality = 90;
      IO.SaveToFileJpeg(F);
    }
    return F;
  }();
  return Name;
}

void BM_OpenJpegFitted(benchmark::State& State) {
  const std::string& File = PhotoFile();
  for (auto _ : State) {
    TQuilloView View;
    View.SetBorderStyle(bsNone);
    View.SetBounds(0, 0, 1600, 900);
    View.SetCenter(true);
    // The viewer shows a newly opened image plain first and turns its smoothing filter on
    // once that is on the screen.
    View.SetZoomFilter(rfNone);
    TBitmap Loaded;
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Loaded);
    IO.LoadFromFile(File);
    if (IO.Aborting) State.SkipWithError("the photograph did not load");
    View.Bitmap() = std::move(Loaded);
    View.Update();
    View.Fit();
    View.Paint();
    benchmark::DoNotOptimize(View.Surface().Bits());
  }
}
BENCHMARK(BM_OpenJpegFitted)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
