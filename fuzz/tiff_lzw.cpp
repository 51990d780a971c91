// The TIFF LZW decoder alone: the first two bytes give the row size, the rest is one strip.
#include <cstring>
#include <memory>

#include "fuzz/common/fuzzutil.h"
#include "quillo/lzw/tiff_lzw.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const int32_t RowSize = 1 + ((Data[0] | Data[1] << 8) % 5000);
  const size_t N = Size - 2;
  // An exactly sized copy, so that a read past the strip is caught.
  const auto Strip = std::make_unique<uint8_t[]>(N ? N : 1);
  if (N) std::memcpy(Strip.get(), Data + 2, N);
  intptr_t State = 0;
  for (int Row = 0; Row < 256; ++Row)
    if (!TIFFLZWDecompress(Strip.get(), static_cast<int64_t>(N), RowSize, State)) break;
  TIFFLZWDecompress(nullptr, 0, 0, State);
  return 0;
}
