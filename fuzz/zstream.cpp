// The inflating stream and DecompressBuf on arbitrary bytes: a result or the silent abort.
#include <vector>

#include "fuzz/common/fuzzutil.h"
#include "quillo/codecs/zstreams.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  try {
    std::vector<uint8_t> Out;
    DecompressBuf(Data, static_cast<int64_t>(Size), Size % 7 ? 0 : 64, Out);
  } catch (const EAbort&) {
  }
  try {
    TMemoryViewStream In(Data, static_cast<int64_t>(Size));
    TDecompressionStream Z(In);
    uint8_t Buf[4096];
    int64_t Total = 0;
    while (Total < (int64_t{1} << 24)) {
      const int64_t N = Z.Read(Buf, sizeof(Buf));
      if (N <= 0) break;
      Total += N;
    }
    Z.Seek(0, soFromBeginning);
    Z.Seek(100, soFromCurrent);
  } catch (const EAbort&) {
  }
  return 0;
}
