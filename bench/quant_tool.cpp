// Helper of peers-quant.sh:
//   quant_tool gen W H OUT.ppm            writes the benchmark image
//   quant_tool quantize IN.ppm NCOL OUT.ppm
//                                         reduces to NCOL colours with TQLQuantizer, writes
//                                         the result as true colour, prints milliseconds of
//                                         training and of mapping
//   quant_tool compare A.ppm B.ppm        prints the mean absolute channel error and the PSNR
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/quant/convert.h"
#include "quillo/quant/quantizer.h"

using namespace quillo;

namespace {

double Ms(std::chrono::steady_clock::time_point A, std::chrono::steady_clock::time_point B) {
  return std::chrono::duration<double, std::milli>(B - A).count();
}

int Quantize(const std::string& In, int32_t NCol, const std::string& Out) {
  TBitmap B;
  if (!bench::ReadPPM(In, B)) return std::fprintf(stderr, "cannot read %s\n", In.c_str()), 1;
  std::vector<TRGB> Pal(256);
  auto T0 = std::chrono::steady_clock::now();
  TQLQuantizer Q(B, Pal.data(), 255, NCol);
  auto T1 = std::chrono::steady_clock::now();
  std::vector<uint8_t> Index(static_cast<size_t>(B.GetWidth()));
  TBitmap Result(B.GetWidth(), B.GetHeight(), pf24bit);
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    _ConvertXBitsToYBits(B.ScanLine(Y), Index.data(), 24, 8, B.GetWidth(), nullptr, 0, &Q);
    _ConvertXBitsToYBits(Index.data(), Result.ScanLine(Y), 8, 24, B.GetWidth(), Pal.data(), NCol,
                         nullptr);
  }
  auto T2 = std::chrono::steady_clock::now();
  if (!bench::WritePPM(Out, Result))
    return std::fprintf(stderr, "cannot write %s\n", Out.c_str()), 1;
  std::printf("train_ms %.1f map_ms %.1f\n", Ms(T0, T1), Ms(T1, T2));
  return 0;
}

int Compare(const std::string& A, const std::string& B) {
  TBitmap Ba, Bb;
  if (!bench::ReadPPM(A, Ba) || !bench::ReadPPM(B, Bb))
    return std::fprintf(stderr, "cannot read\n"), 1;
  if (Ba.GetWidth() != Bb.GetWidth() || Ba.GetHeight() != Bb.GetHeight())
    return std::fprintf(stderr, "sizes differ\n"), 1;
  double Abs = 0, Sq = 0;
  for (int32_t Y = 0; Y < Ba.GetHeight(); ++Y) {
    const uint8_t* Pa = Ba.ScanLine(Y);
    const uint8_t* Pb = Bb.ScanLine(Y);
    for (int32_t I = 0; I < Ba.GetWidth() * 3; ++I) {
      double D = double(Pa[I]) - double(Pb[I]);
      Abs += std::fabs(D);
      Sq += D * D;
    }
  }
  double N = 3.0 * Ba.GetWidth() * Ba.GetHeight();
  double Mse = Sq / N;
  std::printf("mae %.3f psnr %.2f\n", Abs / N,
              Mse > 0 ? 10 * std::log10(255.0 * 255.0 / Mse) : 99.0);
  return 0;
}

}  // namespace

int main(int Argc, char** Argv) {
  std::vector<std::string> A(Argv + 1, Argv + Argc);
  if (A.size() == 4 && A[0] == "gen") {
    TBitmap B = bench::PhotoImage(std::atoi(A[1].c_str()), std::atoi(A[2].c_str()));
    return bench::WritePPM(A[3], B) ? 0 : 1;
  }
  if (A.size() == 4 && A[0] == "quantize") return Quantize(A[1], std::atoi(A[2].c_str()), A[3]);
  if (A.size() == 3 && A[0] == "compare") return Compare(A[1], A[2]);
  std::fprintf(stderr, "usage: quant_tool gen W H OUT | quantize IN NCOL OUT | compare A B\n");
  return 2;
}
