// Helper of peers-jpeg.sh, so that our codec runs as a process like djpeg and cjpeg do:
//   jpeg_tool gen W H OUT.ppm              writes the benchmark image
//   jpeg_tool decode IN.jpg D OUT.ppm      reads at 1/D (1, 2, 4 or 8), writes a binary PPM
//   jpeg_tool encode IN.ppm QUALITY OUT.jpg
// OUT may be /dev/null; the PPM is written as djpeg writes it, one row at a time.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/codecs/jpeg.h"

using namespace quillo;

namespace {

int Decode(const std::string& In, int32_t D, const std::string& Out) {
  TFileStream F(In, fmOpenRead);
  TBitmap B;
  TIOParamsVals P;
  P.JpegScale = D == 8   ? ioJPEG_EIGHTH
                : D == 4 ? ioJPEG_QUARTER
                : D == 2 ? ioJPEG_HALF
                         : ioJPEG_FULLSIZE;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  ReadJPegStream(F, B, P, Prog, false);
  if (Abort) return std::fprintf(stderr, "cannot read %s\n", In.c_str()), 1;
  return bench::WritePPM(Out, B) ? 0 : 1;
}

int Encode(const std::string& In, int32_t Quality, const std::string& Out) {
  TBitmap B;
  if (!bench::ReadPPM(In, B)) return std::fprintf(stderr, "cannot read %s\n", In.c_str()), 1;
  TFileStream F(Out, fmCreate);
  TIOParamsVals P;
  P.JpegQuality = Quality;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  WriteJPegStream(F, B, P, Prog);
  F.Flush();
  return Abort ? 1 : 0;
}

}  // namespace

int main(int Argc, char** Argv) {
  std::vector<std::string> A(Argv + 1, Argv + Argc);
  if (A.size() == 4 && A[0] == "gen") {
    TBitmap B = bench::PhotoImage(std::atoi(A[1].c_str()), std::atoi(A[2].c_str()));
    return bench::WritePPM(A[3], B) ? 0 : 1;
  }
  if (A.size() == 4 && A[0] == "decode") return Decode(A[1], std::atoi(A[2].c_str()), A[3]);
  if (A.size() == 4 && A[0] == "encode") return Encode(A[1], std::atoi(A[2].c_str()), A[3]);
  std::fprintf(stderr, "usage: jpeg_tool gen W H OUT | decode IN D OUT | encode IN QUALITY OUT\n");
  return 2;
}
