// The GIF LZW decoder alone: the first two bytes give the image size, the rest is image data.
#include <vector>

#include "fuzz/common/fuzzutil.h"
#include "quillo/lzw/gif_lzw.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 3) return 0;
  const int32_t W = Data[0] % 64 + 1, H = Data[1] % 64 + 1;
  const bool Interlaced = Data[1] & 0x80;
  TMemoryViewStream S(Data + 2, static_cast<int64_t>(Size - 2));
  // The exact size, so that a write past the image is caught.
  std::vector<uint8_t> Out(static_cast<size_t>(W) * H);
  GIFLZWDecompress(S, H, W, Interlaced, Out.data());
  return 0;
}
