// Codec speed in memory on a 24-megapixel photograph-like image: BMP (24-bit and RLE8) and PPM
// read and write, beside a plain copy of the same bytes. peers-codecs.sh times the peer tools.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/codecs/bmp.h"
#include "quillo/codecs/pxm.h"

using namespace quillo;

namespace {

void ParamsFor(int64_t Kind, TIOParamsVals& P) {
  if (Kind == 1) {  // RLE8
    P.BitsPerSample = 8;
    P.SamplesPerPixel = 1;
    P.BmpCompression = ioBMP_RLE;
  }
}

// Writes the photo in the given kind at the stream's position.
void WriteKind(TStream& S, int64_t Kind) {
  TIOParamsVals P;
  ParamsFor(Kind, P);
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  if (Kind == 2)
    PXMWriteStream(S, bench::Photo24MP(), P, Prog);
  else
    BMPWriteStream(S, bench::Photo24MP(), P, Prog);
}

std::vector<uint8_t> Encoded(int64_t Kind) {
  TMemoryStream S;
  WriteKind(S, Kind);
  return S.Data();
}

const char* KindName(int64_t Kind) {
  return Kind == 0 ? "BMP24" : Kind == 1 ? "BMP-RLE8" : "PPM";
}

void BM_CopyImageBytes(benchmark::State& State) {
  const TBitmap& B = bench::Photo24MP();
  std::vector<uint8_t> Dst(static_cast<size_t>(B.BitsSize()));
  for (auto _ : State) {
    std::memcpy(Dst.data(), B.Bits(), Dst.size());
    benchmark::DoNotOptimize(Dst.data());
  }
  State.SetBytesProcessed(State.iterations() * B.BitsSize());
}

// The same copy into fresh memory, as a reader must: what any decoder pays at least.
void BM_CopyToFreshBitmap(benchmark::State& State) {
  const TBitmap& B = bench::Photo24MP();
  for (auto _ : State) {
    TBitmap Dst(B.GetWidth(), B.GetHeight(), pf24bit);
    std::memcpy(Dst.Bits(), B.Bits(), static_cast<size_t>(B.BitsSize()));
    benchmark::DoNotOptimize(Dst.Bits());
  }
  State.SetBytesProcessed(State.iterations() * B.BitsSize());
}

void BM_Read(benchmark::State& State) {
  const int64_t Kind = State.range(0);
  static std::vector<uint8_t> Data[3];
  if (Data[Kind].empty()) Data[Kind] = Encoded(Kind);
  State.SetLabel(KindName(Kind));
  for (auto _ : State) {
    TMemoryViewStream S(Data[Kind].data(), static_cast<int64_t>(Data[Kind].size()));
    TBitmap B;
    TIOParamsVals P;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    if (Kind == 2)
      PXMReadStream(S, B, P, Prog, false);
    else
      BMPReadStream(S, B, 0, P, Prog, false);
    benchmark::DoNotOptimize(B.Bits());
  }
  State.SetBytesProcessed(State.iterations() * bench::Photo24MP().BitsSize());
}

void BM_Write(benchmark::State& State) {
  const int64_t Kind = State.range(0);
  State.SetLabel(KindName(Kind));
  TMemoryStream S;
  S.SetSize(bench::Photo24MP().BitsSize() + (1 << 20));
  for (auto _ : State) {
    S.SetPosition(0);
    WriteKind(S, Kind);
    benchmark::DoNotOptimize(S.Memory());
  }
  State.SetBytesProcessed(State.iterations() * bench::Photo24MP().BitsSize());
}

}  // namespace

BENCHMARK(BM_CopyImageBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyToFreshBitmap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Read)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Write)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
