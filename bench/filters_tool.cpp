// Helper of peers-filters.sh, the same whole-process work ImageMagick does:
//   filters_tool convolve IN.ppm OUT.ppm     (the 3 x 3 blur kernel)
//   filters_tool dilate IN.ppm OUT.ppm RADIUS (morphological maximum)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/benchimage.h"
#include "quillo/proc/filters.h"

using namespace quillo;

int main(int argc, char** argv) {
  if (argc < 4) return std::fprintf(stderr, "usage: see the source\n"), 2;
  const std::string Op = argv[1];
  TBitmap B;
  if (!bench::ReadPPM(argv[2], B)) return std::fprintf(stderr, "cannot read %s\n", argv[2]), 1;
  const TRect All{0, 0, B.GetWidth(), B.GetHeight()};
  if (Op == "convolve") {
    TProgressRec P;
    _ApplyFilter(B, QLFiltPres[fpBlur], All, P);
  } else if (Op == "dilate" && argc > 4) {
    _MorphFilter(B, std::atoi(argv[4]), 0, All, nullptr, nullptr);
  } else {
    return 2;
  }
  bench::WritePPM(argv[3], B);
  return 0;
}
