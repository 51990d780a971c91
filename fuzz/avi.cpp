// The AVI reader on arbitrary bytes: FFmpeg's AVI demuxer and the decoders it picks, fed from
// memory through our stream, for the first few frames.
#include "fuzz/common/fuzzutil.h"
#include "quillo/multi/avifile.h"
#include "quillo/platform/streams.h"

using namespace quillo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  fuzz::Init();
  TMemoryViewStream S(Data, static_cast<int64_t>(Size));
  TQLAVIReader Reader;
  if (!Reader.Open(S)) return 0;
  const TQLAVIStreamInfo& I = Reader.Info();
  if (I.Width <= 0 || I.Height <= 0) __builtin_trap();  // an open reader has a frame size
  TBitmap Frame;
  for (int32_t K = 0; K < 8 && Reader.ReadFrame(Frame); ++K)
    if (Frame.GetPixelFormat() != pf24bit || Frame.Empty()) __builtin_trap();
  return 0;
}
