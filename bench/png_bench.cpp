// PNG decode and encode of a 12-megapixel photograph-like image through our codec beside the
// same work done with libpng directly (rows straight into a buffer, blue-green-red, the same
// compression level and filter). peers-codecs.sh times the peer tools as processes.
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstring>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/codecs/png.h"

using namespace quillo;

namespace {

const TBitmap& Image() {
  static TBitmap B = bench::PhotoImage(4000, 3000);
  return B;
}

std::vector<uint8_t>& Encoded(bool Palette) {
  static std::vector<uint8_t> Files[2];
  std::vector<uint8_t>& F = Files[Palette];
  if (F.empty()) {
    TMemoryStream S;
    TIOParamsVals P;
    if (Palette) P.SamplesPerPixel = 1, P.BitsPerSample = 8;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    WritePNGStream(S, Image(), P, Prog);
    F = S.Data();
  }
  return F;
}

struct TMem {
  const uint8_t* P;
  size_t Left;
};

void MemRead(png_structp Png, png_bytep Out, size_t N) {
  auto* M = static_cast<TMem*>(png_get_io_ptr(Png));
  if (N > M->Left) png_error(Png, "short");
  std::memcpy(Out, M->P, N);
  M->P += N;
  M->Left -= N;
}

void MemWrite(png_structp Png, png_bytep Data, size_t N) {
  auto* V = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(Png));
  V->insert(V->end(), Data, Data + N);
}
void NoFlush(png_structp) {}

void BM_DecodeOurs(benchmark::State& State) {
  const std::vector<uint8_t>& F = Encoded(State.range(0));
  for (auto _ : State) {
    TMemoryViewStream S(F.data(), static_cast<int64_t>(F.size()));
    TBitmap B;
    TIOParamsVals P;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    ReadPNGStream(S, B, P, Prog, false);
    benchmark::DoNotOptimize(B.Bits());
  }
}

void BM_DecodeLibpng(benchmark::State& State) {
  const std::vector<uint8_t>& F = Encoded(State.range(0));
  std::vector<uint8_t> Out(static_cast<size_t>(4000) * 3000 * 3);
  for (auto _ : State) {
    png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    TMem M{F.data(), F.size()};
    png_set_read_fn(Png, &M, MemRead);
    png_read_info(Png, Info);
    png_set_palette_to_rgb(Png);
    png_set_bgr(Png);
    png_read_update_info(Png, Info);
    for (png_uint_32 Y = 0; Y < png_get_image_height(Png, Info); ++Y)
      png_read_row(Png, Out.data() + static_cast<size_t>(Y) * 12000, nullptr);
    png_read_end(Png, nullptr);
    png_destroy_read_struct(&Png, &Info, nullptr);
    benchmark::DoNotOptimize(Out.data());
  }
}

void BM_EncodeOurs(benchmark::State& State) {
  for (auto _ : State) {
    TMemoryStream S;
    TIOParamsVals P;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    WritePNGStream(S, Image(), P, Prog);
    benchmark::DoNotOptimize(S.Memory());
  }
}

void BM_EncodeLibpng(benchmark::State& State) {
  const TBitmap& B = Image();
  for (auto _ : State) {
    std::vector<uint8_t> Out;
    png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop Info = png_create_info_struct(Png);
    png_set_write_fn(Png, &Out, MemWrite, NoFlush);
    png_set_IHDR(Png, Info, 4000, 3000, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(Png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(Png, 5);
    png_set_bgr(Png);
    png_write_info(Png, Info);
    for (int32_t Y = 0; Y < 3000; ++Y) png_write_row(Png, const_cast<uint8_t*>(B.ScanLine(Y)));
    png_write_end(Png, Info);
    png_destroy_write_struct(&Png, &Info);
    benchmark::DoNotOptimize(Out.data());
  }
}

}  // namespace

BENCHMARK(BM_DecodeOurs)->Arg(0)->Arg(1)->ArgName("palette")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLibpng)->Arg(0)->Arg(1)->ArgName("palette")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLibpng)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
