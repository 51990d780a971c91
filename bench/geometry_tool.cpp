// Helper of peers-geometry.sh, the same whole-process work the peers do:
//   geometry_tool resample IN.ppm OUT.ppm PERCENT lanczos3|mitchell
//   geometry_tool rotate IN.ppm OUT.ppm DEGREES
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/benchimage.h"
#include "quillo/proc/geometry.h"

using namespace quillo;

int main(int argc, char** argv) {
  if (argc < 5) return std::fprintf(stderr, "usage: see the source\n"), 2;
  const std::string Op = argv[1];
  TBitmap B;
  if (!bench::ReadPPM(argv[2], B)) return std::fprintf(stderr, "cannot read %s\n", argv[2]), 1;
  if (Op == "resample") {
    const int32_t Percent = std::atoi(argv[4]);
    const TResampleFilter F =
        argc > 5 && std::string(argv[5]) == "mitchell" ? rfMitchell : rfLanczos3;
    TBitmap Out(B.GetWidth() * Percent / 100, B.GetHeight() * Percent / 100, pf24bit);
    _Resample(B, Out, F, nullptr, nullptr);
    bench::WritePPM(argv[3], Out);
  } else if (Op == "rotate") {
    bool Abort = false;
    TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
    _Rotate24(B, std::atoi(argv[4]), true, clWhite, P);
    bench::WritePPM(argv[3], B);
  } else {
    return 2;
  }
  return 0;
}
