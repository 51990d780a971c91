#include "quillo/codecs/detail/common.h"

#include <algorithm>
#include <cstring>

#include "quillo/core/dither.h"
#include "quillo/core/pixels.h"

namespace quillo {

void QLDepthToParams(TIOParamsVals& P, int32_t BitCount, int32_t Samples32) {
  switch (BitCount) {
    case 1:
    case 4:
    case 8:
      P.BitsPerSample = BitCount, P.SamplesPerPixel = 1;
      break;
    case 16:
      P.BitsPerSample = 5, P.SamplesPerPixel = 3;
      break;
    case 24:
      P.BitsPerSample = 8, P.SamplesPerPixel = 3;
      break;
    case 32:
      P.BitsPerSample = 8, P.SamplesPerPixel = Samples32;
      break;
    default:
      break;
  }
}

bool QLPrepareBitmap(TBitmap& Bitmap, int64_t Width, int64_t Height, bool OneBit,
                     TProgressRec& Progress) {
  if (Width <= 0 || Height <= 0) {
    QLSetAbort(Progress);
    return false;
  }
  if (!QLImageSizeOK(Width, Height, OneBit ? 1 : 24)) {
    QLSetAbort(Progress, qlarPixelLimit);
    return false;
  }
  Bitmap.Recreate(static_cast<int32_t>(Width), static_cast<int32_t>(Height),
                  OneBit ? pf1bit : pf24bit);
  return true;
}

namespace {

std::unique_ptr<TBitmap> KeepOrder(std::unique_ptr<TBitmap> One, TRGB& Color1, TRGB& Color2,
                                   const std::vector<TRGB>* Kept) {
  if (!Kept || Kept->size() < 2 || (*Kept)[0] != Color2 || (*Kept)[1] != Color1) return One;
  const int64_t Bytes = (int64_t{One->GetWidth()} + 7) / 8;
  for (int32_t Y = 0; Y < One->GetHeight(); ++Y) {
    uint8_t* Row = One->ScanLine(Y);
    for (int64_t I = 0; I < Bytes; ++I) Row[I] = static_cast<uint8_t>(~Row[I]);
  }
  std::swap(Color1, Color2);
  return One;
}

}  // namespace

TQLTwoColours QLTwoColours(const TRGB& Index0, const TRGB& Index1) {
  const TRGB Black = CreateRGB(0, 0, 0), White = CreateRGB(255, 255, 255);
  if (Index0 == Black && Index1 == White) return tcBlackWhite;
  if (Index0 == White && Index1 == Black) return tcWhiteBlack;
  return tcColoured;
}

std::unique_ptr<TBitmap> QLOneBitForWriting(const TBitmap& Bitmap, TRGB& Color1, TRGB& Color2,
                                            const std::vector<TRGB>* Kept) {
  Color1 = CreateRGB(0, 0, 0);
  Color2 = CreateRGB(255, 255, 255);
  if (Bitmap.GetPixelFormat() == pf1bit)
    return KeepOrder(QLCloneBitmap(Bitmap), Color1, Color2, Kept);
  if (auto Two = _ConvertTo1bit(Bitmap, Color1, Color2))
    return KeepOrder(std::move(Two), Color1, Color2, Kept);
  Color1 = CreateRGB(0, 0, 0);
  Color2 = CreateRGB(255, 255, 255);
  auto Copy = QLCloneBitmap(Bitmap);
  if (Copy->GetPixelFormat() != pf24bit) Copy->SetPixelFormat(pf24bit);
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  _ConvertToBWOrdered(*Copy, P);
  return Copy;
}

TQLByteReader::TQLByteReader(TStream& Stream, int64_t BufferSize)
    : FStream(Stream), FBuf(static_cast<size_t>(std::max<int64_t>(BufferSize, 16))) {}

TQLByteReader::~TQLByteReader() {
  try {
    Finish();
  } catch (...) {
    // A stream that cannot seek back leaves its position where the buffer ended.
  }
}

bool TQLByteReader::Refill() {
  if (FFinished) return false;
  FLen = FStream.Read(FBuf.data(), static_cast<int64_t>(FBuf.size()));
  FPos = 0;
  if (FLen <= 0) {
    FLen = 0;
    return false;
  }
  return true;
}

int64_t TQLByteReader::Read(void* Dest, int64_t Count) {
  auto* D = static_cast<uint8_t*>(Dest);
  int64_t Done = 0;
  while (Done < Count) {
    // Large reads with nothing buffered go straight to the stream: one copy instead of two.
    if (FPos >= FLen && !FFinished && Count - Done >= 4096) {
      int64_t N = FStream.Read(D + Done, Count - Done);
      if (N <= 0) break;
      Done += N;
      continue;
    }
    if (FPos >= FLen && !Refill()) break;
    int64_t N = std::min(Count - Done, FLen - FPos);
    std::memcpy(D + Done, FBuf.data() + FPos, static_cast<size_t>(N));
    FPos += N;
    Done += N;
  }
  return Done;
}

void TQLByteReader::Finish() {
  if (FFinished) return;
  FFinished = true;
  int64_t Unread = FLen - FPos;
  FPos = FLen = 0;
  if (Unread > 0) FStream.Seek(-Unread, soFromCurrent);
}

}  // namespace quillo
