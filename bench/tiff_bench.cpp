// TIFF speed: our reader and writer against libtiff doing the same work in process, memory to
// memory, on a 300-dpi A4 text page (2480 x 3508, bilevel) in group 4 and group 3 2-D, and on
// a 12-megapixel photograph-like image in LZW with the predictor. Both sides decode the same
// files (the ones our writer makes, one strip per page) into a whole image in memory, and
// encode the same pixels as one strip. peers-tiff.sh times tiffcp on the same images.
//
// With "page OUT.pbm" it writes the page instead, for the script.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/codecs/tiff.h"
#include "quillo/lzw/lzw.h"

#ifdef QUILLO_BENCH_LIBTIFF
#include <tiffio.h>
#endif

using namespace quillo;

namespace {

const TBitmap& Page() {
  static const TBitmap B = bench::TextPage(2480, 3508);
  return B;
}
const TBitmap& Photo() {
  static const TBitmap B = bench::PhotoImage(4000, 3000);
  return B;
}

enum TKind { kG4, kG32D, kLzw };

const TBitmap& Source(TKind K) {
  return K == kLzw ? Photo() : Page();
}

std::vector<uint8_t> WriteOurs(TKind K) {
  TIOParamsVals P;
  P.BitsPerSample = K == kLzw ? 8 : 1;
  P.SamplesPerPixel = K == kLzw ? 3 : 1;
  P.TiffCompression = K == kG4 ? ioTIFF_G4FAX : K == kG32D ? ioTIFF_G3FAX2D : ioTIFF_LZW;
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  TIFFWriteStream(S, false, Source(K), P, Prog);
  return S.Data();
}

const std::vector<uint8_t>& File(TKind K) {
  static std::vector<uint8_t> F[3];
  if (F[K].empty()) F[K] = WriteOurs(K);
  return F[K];
}

void BM_DecodeOurs(benchmark::State& State) {
  const TKind K = static_cast<TKind>(State.range(0));
  const std::vector<uint8_t>& F = File(K);
  for (auto _ : State) {
    TMemoryViewStream S(F.data(), static_cast<int64_t>(F.size()));
    TBitmap B;
    TIOParamsVals P;
    bool Abort = false;
    TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
    int32_t Count = 0;
    TIFFReadStream(B, S, Count, &P, Prog, false);
    if (Abort) State.SkipWithError("decode failed");
    benchmark::DoNotOptimize(B.Bits());
  }
}

void BM_EncodeOurs(benchmark::State& State) {
  const TKind K = static_cast<TKind>(State.range(0));
  for (auto _ : State) benchmark::DoNotOptimize(WriteOurs(K).size());
}

#ifdef QUILLO_BENCH_LIBTIFF
// libtiff over a growable memory buffer.
struct TMem {
  std::vector<uint8_t> Data;
  toff_t Pos = 0;
};
tsize_t MemRead(thandle_t H, tdata_t Buf, tsize_t N) {
  TMem& M = *static_cast<TMem*>(H);
  const toff_t Left = M.Pos < M.Data.size() ? M.Data.size() - M.Pos : 0;
  const tsize_t Got = static_cast<tsize_t>(std::min<toff_t>(Left, static_cast<toff_t>(N)));
  std::memcpy(Buf, M.Data.data() + M.Pos, static_cast<size_t>(Got));
  M.Pos += static_cast<toff_t>(Got);
  return Got;
}
tsize_t MemWrite(thandle_t H, tdata_t Buf, tsize_t N) {
  TMem& M = *static_cast<TMem*>(H);
  if (M.Pos + static_cast<toff_t>(N) > M.Data.size()) M.Data.resize(M.Pos + static_cast<toff_t>(N));
  std::memcpy(M.Data.data() + M.Pos, Buf, static_cast<size_t>(N));
  M.Pos += static_cast<toff_t>(N);
  return N;
}
toff_t MemSeek(thandle_t H, toff_t Off, int Whence) {
  TMem& M = *static_cast<TMem*>(H);
  M.Pos = Whence == SEEK_SET ? Off : Whence == SEEK_CUR ? M.Pos + Off : M.Data.size() + Off;
  return M.Pos;
}
int MemClose(thandle_t) {
  return 0;
}
toff_t MemSize(thandle_t H) {
  return static_cast<TMem*>(H)->Data.size();
}
int MemMap(thandle_t, tdata_t*, toff_t*) {
  return 0;
}
void MemUnmap(thandle_t, tdata_t, toff_t) {}

TIFF* Open(TMem& M, const char* Mode) {
  return TIFFClientOpen("mem", Mode, &M, MemRead, MemWrite, MemSeek, MemClose, MemSize, MemMap,
                        MemUnmap);
}

void BM_DecodeLibtiff(benchmark::State& State) {
  const TKind K = static_cast<TKind>(State.range(0));
  TMem M;
  M.Data = File(K);
  for (auto _ : State) {
    M.Pos = 0;
    TIFF* T = Open(M, "r");
    uint32_t W = 0, H = 0;
    TIFFGetField(T, TIFFTAG_IMAGEWIDTH, &W);
    TIFFGetField(T, TIFFTAG_IMAGELENGTH, &H);
    const tsize_t Line = TIFFScanlineSize(T);
    // The whole image in fresh zeroed memory, as our bitmap is.
    std::vector<uint8_t> Image(static_cast<size_t>(Line) * H);
    for (uint32_t Y = 0; Y < H; ++Y)
      if (TIFFReadScanline(T, Image.data() + static_cast<size_t>(Line) * Y, Y, 0) < 0)
        State.SkipWithError("libtiff decode failed");
    TIFFClose(T);
    benchmark::DoNotOptimize(Image.data());
  }
}

void BM_EncodeLibtiff(benchmark::State& State) {
  const TKind K = static_cast<TKind>(State.range(0));
  const TBitmap& B = Source(K);
  const uint32_t W = static_cast<uint32_t>(B.GetWidth()), H = static_cast<uint32_t>(B.GetHeight());
  // The rows as the file stores them: 0 white for the fax pages, red-green-blue for the photo.
  std::vector<std::vector<uint8_t>> Rows(H);
  for (uint32_t Y = 0; Y < H; ++Y) {
    const uint8_t* In = B.ScanLine(static_cast<int32_t>(Y));
    if (K == kLzw) {
      Rows[Y].resize(W * 3);
      for (uint32_t X = 0; X < W; ++X)
        for (int C = 0; C < 3; ++C) Rows[Y][3 * X + C] = In[3 * X + 2 - C];
    } else {
      Rows[Y].resize((W + 7) / 8);
      for (size_t I = 0; I < Rows[Y].size(); ++I) Rows[Y][I] = static_cast<uint8_t>(~In[I]);
    }
  }
  for (auto _ : State) {
    TMem M;
    TIFF* T = Open(M, "w");
    TIFFSetField(T, TIFFTAG_IMAGEWIDTH, W);
    TIFFSetField(T, TIFFTAG_IMAGELENGTH, H);
    TIFFSetField(T, TIFFTAG_ROWSPERSTRIP, H);
    if (K == kLzw) {
      TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, 8);
      TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, 3);
      TIFFSetField(T, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
      TIFFSetField(T, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
      TIFFSetField(T, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    } else {
      TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, 1);
      TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, 1);
      TIFFSetField(T, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
      TIFFSetField(T, TIFFTAG_COMPRESSION,
                   K == kG4 ? COMPRESSION_CCITTFAX4 : COMPRESSION_CCITTFAX3);
      if (K == kG32D) TIFFSetField(T, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
    }
    for (uint32_t Y = 0; Y < H; ++Y)
      if (TIFFWriteScanline(T, Rows[Y].data(), Y, 0) < 0)
        State.SkipWithError("libtiff encode failed");
    TIFFClose(T);
    benchmark::DoNotOptimize(M.Data.data());
  }
}
#endif

void Args(benchmark::internal::Benchmark* B) {
  B->Arg(kG4)
      ->Arg(kG32D)
      ->Arg(kLzw)
      ->ArgName("kind")
      ->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime();
}

}  // namespace

BENCHMARK(BM_DecodeOurs)->Apply(Args);
BENCHMARK(BM_EncodeOurs)->Apply(Args);
#ifdef QUILLO_BENCH_LIBTIFF
BENCHMARK(BM_DecodeLibtiff)->Apply(Args);
BENCHMARK(BM_EncodeLibtiff)->Apply(Args);
#endif

int main(int argc, char** argv) {
  QLInstallLZWCoders();
  if (argc == 3 && std::string(argv[1]) == "page") return bench::WritePBM(argv[2], Page()) ? 0 : 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
