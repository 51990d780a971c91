#include <cstdio>

#include "quillo/quillo.h"

int main() {
  using namespace quillo;
  TBitmap B(4, 4, pf24bit);
  TIOParamsVals P;
  P.FileType = ioPNG;
  std::printf("quillo %s: %s, %d x %d\n", QuilloVersionString, P.GetFileTypeStr().c_str(),
              B.GetWidth(), B.GetHeight());
  return P.GetFileTypeStr() == "Portable Network Graphics (PNG)" ? 0 : 1;
}
