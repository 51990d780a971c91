// Pieces every codec shares: sizing the target bitmap, buffered byte reading, and the 1-bit
// form of an image for the writers that store black and white.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "quillo/core/params.h"
#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/streams.h"

namespace quillo {

// Stream calls for the C libraries' callbacks: an exception must not travel through their
// frames, so a failing stream gives -1.
inline int64_t QLReadNoThrow(TStream* S, void* Buf, int64_t Count) noexcept {
  try {
    return S->Read(Buf, Count);
  } catch (...) {
    return -1;
  }
}

inline int64_t QLWriteNoThrow(TStream* S, const void* Buf, int64_t Count) noexcept {
  try {
    return S->Write(Buf, Count);
  } catch (...) {
    return -1;
  }
}

// Five bits widened to eight by repeating the top bits (31 gives 255, 16 gives 132).
inline uint8_t QLExpand5to8(uint32_t V) {
  return static_cast<uint8_t>((V << 3) | (V >> 2));
}

// The stored depth of a pixel as parameters: 1, 4, 8 bits indexed or grey (one sample), 16 as
// three 5-bit samples, 24 as three 8-bit samples, 32 as Samples32 8-bit samples. Other depths
// leave the parameters alone.
void QLDepthToParams(TIOParamsVals& P, int32_t BitCount, int32_t Samples32);

// What a two-entry palette means to the working 1-bit layout, whose bit 1 is white: black then
// white is that layout, white then black its inverse, any other pair (colours, or grey shades)
// needs 24 bits.
enum TQLTwoColours : uint8_t { tcBlackWhite, tcWhiteBlack, tcColoured };
TQLTwoColours QLTwoColours(const TRGB& Index0, const TRGB& Index1);

// Every reader: a fresh, zero-filled 1-bit or 24-bit bitmap of Width x Height. A size that is not
// positive or exceeds the pixel limit sets the abort flag instead and returns false; nothing is
// allocated.
bool QLPrepareBitmap(TBitmap& Bitmap, int64_t Width, int64_t Height, bool OneBit,
                     TProgressRec& Progress);

// The 1-bit image a black-and-white writer stores for Bitmap: a 1-bit bitmap is used as it is
// (Color1 black, Color2 white); a 24-bit one of exactly two colours keeps them (the darker is
// Color1, bit 0); any other is dithered to black and white by the ordered dither. Writers that
// store the two colours pass the palette the image was loaded with as Kept: when it lists them
// the other way round, the bits are inverted and the colours swapped, so the file's indexes
// come back as they were.
std::unique_ptr<TBitmap> QLOneBitForWriting(const TBitmap& Bitmap, TRGB& Color1, TRGB& Color2,
                                            const std::vector<TRGB>* Kept = nullptr);

// Runs a reader's or writer's body, turning the platform's errors into the abort flag and its
// reason: a short read is a truncated file, a size beyond the pixel limit that limit, any other
// error (memory included) damaged data. Codecs report failure only through the flag.
// Inside the body Progress.AbortFlag is never null.
template <typename Body>
void QLGuarded(TProgressRec& Progress, Body&& F) {
  bool Local = false;
  // A borrowed flag is handed back on every way out, other exceptions included.
  struct TGiveBack {
    TProgressRec& P;
    bool Borrowed;
    ~TGiveBack() {
      if (Borrowed) P.AbortFlag = nullptr;
    }
  } GiveBack{Progress, Progress.AbortFlag == nullptr};
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
// The flag's address never outlives this frame: GiveBack clears it.
#pragma GCC diagnostic ignored "-Wdangling-pointer"
#endif
  if (GiveBack.Borrowed) Progress.AbortFlag = &Local;
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic pop
#endif
  try {
    F();
  } catch (const EReadError&) {
    QLSetAbort(Progress, qlarTruncated);
  } catch (const EPixelLimit&) {
    QLSetAbort(Progress, qlarPixelLimit);
  } catch (const Exception&) {
    QLSetAbort(Progress);
  } catch (const std::bad_alloc&) {
    QLSetAbort(Progress);
  }
}

// Byte-wise reading through a buffer, for parsers that look at one byte at a time. Finish (or
// the destructor) puts the stream back right after the last byte consumed.
class TQLByteReader {
 public:
  explicit TQLByteReader(TStream& Stream, int64_t BufferSize = 1 << 16);
  ~TQLByteReader();
  TQLByteReader(const TQLByteReader&) = delete;
  TQLByteReader& operator=(const TQLByteReader&) = delete;

  // The next byte, or -1 at the end of the stream.
  int32_t Get() {
    if (FPos < FLen) return FBuf[FPos++];
    return Refill() ? FBuf[FPos++] : -1;
  }
  // Puts the last byte back (once).
  void Unget() {
    if (FPos > 0) --FPos;
  }
  // Copies up to Count bytes; returns how many arrived.
  int64_t Read(void* Dest, int64_t Count);
  // Seeks the stream to just after the last byte consumed and drops the buffer.
  void Finish();

 private:
  bool Refill();
  TStream& FStream;
  std::vector<uint8_t> FBuf;
  int64_t FPos = 0;
  int64_t FLen = 0;
  bool FFinished = false;
};

}  // namespace quillo
