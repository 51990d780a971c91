// The two-dimensional decoder (group 3 2-D and group 4) on arbitrary data, row after row; the
// strip decoder must give the rows CCITT3_2D_GetLine gives.
#include <vector>

#include "fuzz/common/fax_target.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TQLFax2DDecoder Strip;
  std::vector<uint8_t> Other;
  int64_t StripPos = 0;
  return fuzz::RunFax(Data, Size,
                      [&](uint8_t* Row, const uint8_t* D, int64_t N, int32_t W, uint8_t* Ref,
                          int64_t Pos, int32_t FillOrder) {
                        if (Pos == 0) Strip.Reset(W);
                        const int64_t Next = CCITT3_2D_GetLine(Row, D, N, W, Ref, Pos, FillOrder);
                        Other.resize((static_cast<size_t>(W) + 7) / 8);
                        StripPos = Strip.GetLine(Other.data(), D, N, StripPos, FillOrder);
                        if (StripPos != Next || std::memcmp(Other.data(), Row, Other.size()) != 0)
                          __builtin_trap();
                        return Next;
                      });
}
