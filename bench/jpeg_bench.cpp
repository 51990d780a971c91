// JPEG speed: our reader and writer against the bare library doing the same work (memory in,
// blue-green-red rows out, one row per call), on a 12-megapixel photograph-like image at
// quality 90, decoded at full size and at 1/8. The ratio ours / bare is our overhead.
// peers-jpeg.sh times djpeg and cjpeg on the same image.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "bench/benchimage.h"
#include "quillo/codecs/jpeg.h"

using namespace quillo;

namespace {

const TBitmap& Photo() {
  static const TBitmap B = bench::PhotoImage(4000, 3000);
  return B;
}

const std::vector<uint8_t>& PhotoJpeg() {
  static const std::vector<uint8_t> J = [] {
    TIOParamsVals P;
    P.JpegQuality = 90;
    TMemoryStream S;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    WriteJPegStream(S, Photo(), P, Prog);
    return S.Data();
  }();
  return J;
}

// The bare library's error exit for the benchmarks: inputs are known good.
struct BareErr {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
};
void BareExit(j_common_ptr C) {
  std::longjmp(reinterpret_cast<BareErr*>(C->err)->Jump, 1);
}

// Decodes with the bare library into a new buffer of blue-green-red rows; false on an error.
bool BareDecode(const std::vector<uint8_t>& J, unsigned Denom, std::unique_ptr<uint8_t[]>& Out) {
  jpeg_decompress_struct Info;
  BareErr Err;
  Info.err = jpeg_std_error(&Err.Pub);
  Err.Pub.error_exit = BareExit;
  if (setjmp(Err.Jump)) {
    jpeg_destroy_decompress(&Info);
    return false;
  }
  jpeg_create_decompress(&Info);
  jpeg_mem_src(&Info, J.data(), static_cast<unsigned long>(J.size()));
  jpeg_read_header(&Info, TRUE);
  Info.out_color_space = JCS_EXT_BGR;
  Info.scale_num = 1;
  Info.scale_denom = Denom;
  jpeg_start_decompress(&Info);
  const size_t Row = (Info.output_width * 3 + 3) & ~size_t{3};
  Out.reset(new uint8_t[Row * Info.output_height]);
  while (Info.output_scanline < Info.output_height) {
    JSAMPROW P = Out.get() + Row * Info.output_scanline;
    jpeg_read_scanlines(&Info, &P, 1);
  }
  jpeg_finish_decompress(&Info);
  jpeg_destroy_decompress(&Info);
  return true;
}

bool BareEncode(const TBitmap& B, int Quality, std::vector<uint8_t>& Out) {
  jpeg_compress_struct Info;
  BareErr Err;
  Info.err = jpeg_std_error(&Err.Pub);
  Err.Pub.error_exit = BareExit;
  unsigned char* Mem = nullptr;
  unsigned long Size = 0;
  if (setjmp(Err.Jump)) {
    jpeg_destroy_compress(&Info);
    std::free(Mem);
    return false;
  }
  jpeg_create_compress(&Info);
  jpeg_mem_dest(&Info, &Mem, &Size);
  Info.image_width = static_cast<JDIMENSION>(B.GetWidth());
  Info.image_height = static_cast<JDIMENSION>(B.GetHeight());
  Info.input_components = 3;
  Info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&Info);
  jpeg_set_quality(&Info, Quality, TRUE);
  jpeg_start_compress(&Info, TRUE);
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    JSAMPROW P = const_cast<uint8_t*>(B.ScanLine(Y));
    jpeg_write_scanlines(&Info, &P, 1);
  }
  jpeg_finish_compress(&Info);
  jpeg_destroy_compress(&Info);
  Out.assign(Mem, Mem + Size);
  std::free(Mem);
  return true;
}

void BM_DecodeOurs(benchmark::State& State) {
  const std::vector<uint8_t>& J = PhotoJpeg();
  const int64_t D = State.range(0);
  for (auto _ : State) {
    TMemoryViewStream S(J.data(), static_cast<int64_t>(J.size()));
    TBitmap B;
    TIOParamsVals P;
    P.JpegScale = D == 1 ? ioJPEG_FULLSIZE : ioJPEG_EIGHTH;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    ReadJPegStream(S, B, P, Prog, false);
    if (Abort) State.SkipWithError("decode failed");
    benchmark::DoNotOptimize(B.Bits());
  }
}

void BM_DecodeBare(benchmark::State& State) {
  const std::vector<uint8_t>& J = PhotoJpeg();
  for (auto _ : State) {
    std::unique_ptr<uint8_t[]> Out;
    if (!BareDecode(J, static_cast<unsigned>(State.range(0)), Out))
      State.SkipWithError("decode failed");
    benchmark::DoNotOptimize(Out.get());
  }
}

void BM_EncodeOurs(benchmark::State& State) {
  const TBitmap& B = Photo();
  for (auto _ : State) {
    TMemoryStream S;
    TIOParamsVals P;
    P.JpegQuality = 90;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    WriteJPegStream(S, B, P, Prog);
    if (Abort) State.SkipWithError("encode failed");
    benchmark::DoNotOptimize(S.Memory());
  }
}

void BM_EncodeBare(benchmark::State& State) {
  const TBitmap& B = Photo();
  for (auto _ : State) {
    std::vector<uint8_t> Out;
    if (!BareEncode(B, 90, Out)) State.SkipWithError("encode failed");
    benchmark::DoNotOptimize(Out.data());
  }
}

// What every reader pays before decoding: a new bitmap of the output size, zero-filled.
void BM_NewBitmap(benchmark::State& State) {
  for (auto _ : State) {
    TBitmap B(4000, 3000, pf24bit);
    benchmark::DoNotOptimize(B.Bits());
  }
}

}  // namespace

BENCHMARK(BM_NewBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeOurs)->Arg(1)->Arg(8)->ArgName("scale_1_over")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBare)->Arg(1)->Arg(8)->ArgName("scale_1_over")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBare)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
