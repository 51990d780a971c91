// The modified Huffman decoder on arbitrary data, row after row.
#include "fuzz/common/fax_target.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  return fuzz::RunFax(Data, Size,
                      [](uint8_t* Row, const uint8_t* D, int64_t N, int32_t W, uint8_t*,
                         int64_t Pos, int32_t FillOrder) -> int64_t {
                        const int64_t Byte = Pos / 8;
                        if (Byte >= N) return Pos;
                        return Pos + 8 * CCITTHuffmanGetLine(Row, D + Byte, N - Byte, W, FillOrder);
                      });
}
