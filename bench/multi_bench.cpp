// Saving every image of a thumbnail view as one GIF animation or one multi-page TIFF file,
// for 100 to 800 small frames; and appending frames to a GIF file by name, one component doing
// every append or a fresh one for each. The time per frame stays flat when each frame is
// appended where the one before ended, and grows with the count when every append walks the
// frames already written.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "bench/benchimage.h"
#include "quillo/codecs/gif.h"
#include "quillo/io/quilloio.h"
#include "quillo/lzw/lzw.h"
#include "quillo/multi/quillomio.h"

using namespace quillo;

namespace {

void BM_SaveSequence(benchmark::State& State) {
  QLInstallLZWCoders();
  const bool Gif = State.range(0) == 0;
  const int32_t Frames = static_cast<int32_t>(State.range(1));
  TQuilloMView View;
  TQuilloMIO MIO;
  MIO.SetAttachedMView(&View);
  // Ten different pictures, repeated: palettes and pixels differ from frame to frame.
  for (int32_t I = 0; I < Frames; ++I) {
    const int32_t Idx = View.AppendImage();
    View.SetImageEx(Idx, bench::PhotoImage(96, 72, 1 + I % 10));
    MIO.GetParams(Idx)->TiffCompression = ioTIFF_LZW;
  }
  const std::filesystem::path File =
      std::filesystem::temp_directory_path() / (Gif ? "multi_bench.gif" : "multi_bench.tif");
  for (auto _ : State) {
    if (Gif)
      MIO.SaveToFileGif(File.string());
    else
      MIO.SaveToFileTIFF(File.string());
    if (MIO.Aborting) State.SkipWithError("the save failed");
  }
  const int64_t Bytes = static_cast<int64_t>(std::filesystem::file_size(File));
  std::filesystem::remove(File);
  State.SetLabel(std::string(Gif ? "GIF" : "TIFF") + ", " + std::to_string(Bytes / 1024) + " KiB");
  // Seconds per frame (printed with an SI prefix: 1.2m is 1.2 ms).
  State.counters["s/frame"] = benchmark::Counter(
      static_cast<double>(Frames),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Frames appended one by one with TQuilloIO::InsertToFileGif: range(0) 1 gives every append a
// fresh component (which knows nothing of the file and walks it), 0 keeps one component.
// Black-and-white frames (written at 1 bit) keep the quantizer out of the figure.
void BM_InsertToFileGif(benchmark::State& State) {
  QLInstallLZWCoders();
  const bool FreshEach = State.range(0) == 1;
  const int32_t Frames = static_cast<int32_t>(State.range(1));
  const std::filesystem::path File = std::filesystem::temp_directory_path() / "append_bench.gif";
  TBitmap Frame = bench::TextPage(192, 144, 3);
  for (auto _ : State) {
    std::unique_ptr<TQuilloIO> IO;
    for (int32_t I = 0; I < Frames; ++I) {
      if (!IO || FreshEach) {
        IO = std::make_unique<TQuilloIO>();
        IO->SetAttachedBitmap(&Frame);
      }
      IO->IOParams().BitsPerSample = 1;
      IO->IOParams().GifImageIndex = I;
      if (I == 0)
        IO->SaveToFileGif(File.string());
      else if (!IO->InsertToFileGif(File.string()))
        State.SkipWithError("the append failed");
    }
  }
  if (EnumGifIm(File.string()) != Frames) State.SkipWithError("frames are missing");
  std::filesystem::remove(File);
  State.SetLabel(FreshEach ? "fresh component each" : "one component");
  State.counters["s/frame"] = benchmark::Counter(
      static_cast<double>(Frames),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_InsertToFileGif)
    ->ArgsProduct({{0, 1}, {250, 1000}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SaveSequence)
    ->ArgsProduct({{0, 1}, {100, 200, 400, 800}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_MAIN();
