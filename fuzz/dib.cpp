// The DIB readers on arbitrary bytes, as a pasted clipboard block or a capture frame would
// arrive. Byte 0 picks the reader: even bytes the exact reader on a packed DIB, odd ones the
// display reader; bit 1 splits the rest into a header block and a separate pixel block at the
// offset in bytes 1 and 2. Whatever the exact reader accepts must come back unchanged through
// a DIB written by the library.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/common/fuzzutil.h"
#include "quillo/proc/dib.h"

using namespace quillo;

namespace {
bool Same(const TBitmap& A, const TBitmap& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight() ||
      A.GetPixelFormat() != B.GetPixelFormat())
    return false;
  const int64_t Bits = static_cast<int64_t>(A.GetWidth()) * QLStorageBitCount(A.GetPixelFormat());
  for (int32_t Y = 0; Y < A.GetHeight(); ++Y) {
    const uint8_t* Ra = A.ScanLine(Y);
    const uint8_t* Rb = B.ScanLine(Y);
    if (std::memcmp(Ra, Rb, static_cast<size_t>(Bits / 8)) != 0) return false;
    if (Bits % 8) {
      const uint8_t M = static_cast<uint8_t>(0xFF00 >> (Bits % 8));
      if ((Ra[Bits / 8] & M) != (Rb[Bits / 8] & M)) return false;
    }
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  if (Size < 3) return 0;
  const uint8_t Mode = Data[0];
  const uint8_t* Info = Data + 3;
  size_t InfoSize = Size - 3;
  const uint8_t* Bits = nullptr;
  size_t BitsSize = 0;
  if (Mode & 2) {
    const size_t Split = std::min<size_t>(Data[1] | (Data[2] << 8), InfoSize);
    // Separate blocks, as a capture driver hands them over: copies, so that reading past either
    // end is caught.
    static std::vector<uint8_t> Head, Pixels;
    Head.assign(Info, Info + Split);
    Pixels.assign(Info + Split, Info + InfoSize);
    Info = Head.data();
    InfoSize = Head.size();
    Bits = Pixels.data();
    BitsSize = Pixels.size();
  }
  TBitmap B;
  if (Mode & 1) {
    _QLCopyDIB2Bitmap2(Info, InfoSize, B, Bits, BitsSize);
    return 0;
  }
  if (_CopyDIB2Bitmap(Info, InfoSize, B, Bits, BitsSize) == 0) return 0;
  const std::vector<uint8_t> Again = _CopyBitmaptoDIB(B, 0, 0, 0, 0);
  TBitmap C;
  if (_CopyDIB2Bitmap(Again.data(), Again.size(), C) == 0 || !Same(B, C)) __builtin_trap();
  return 0;
}
