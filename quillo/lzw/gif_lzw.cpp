#include "quillo/lzw/gif_lzw.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quillo {

namespace {

constexpr int32_t kMaxCodes = 4096;

// Rows of an interlaced image in the order they are stored: every 8th row from 0, every 8th
// from 4, every 4th from 2, every 2nd from 1.
std::vector<int32_t> InterlacedRows(int32_t Height) {
  std::vector<int32_t> Rows;
  Rows.reserve(static_cast<size_t>(Height));
  const int32_t Start[4] = {0, 4, 2, 1}, Step[4] = {8, 8, 4, 2};
  for (int32_t Pass = 0; Pass < 4; ++Pass)
    for (int32_t Y = Start[Pass]; Y < Height; Y += Step[Pass]) Rows.push_back(Y);
  return Rows;
}

}  // namespace

int64_t GIFLZWDecodeBytes(const uint8_t* Data, int64_t Size, int32_t MinCodeSize, uint8_t* Out,
                          int64_t OutSize, bool& SawEnd) {
  SawEnd = false;
  if (MinCodeSize < 1 || MinCodeSize > 11) return -1;
  const int32_t Clear = 1 << MinCodeSize, End = Clear + 1;
  // Every string of the table is a piece of the output already written: the entry made after
  // code c starts where c's string was written and runs one byte past it (onto the first byte
  // of the next string). So a code is one copy from earlier output, kept as Start and Length.
  int64_t Start[kMaxCodes];
  uint16_t Length[kMaxCodes];
  int32_t CodeSize = MinCodeSize + 1, Next = End + 1, Old = -1;
  int64_t OldPos = 0;  // where the string of Old was written
  uint64_t Bits = 0;
  int32_t Count = 0;
  int64_t In = 0, Pos = 0;
  auto LengthOf = [&](int32_t C) -> int64_t { return C < Clear ? 1 : Length[C]; };
  while (Pos < OutSize) {
    while (Count < CodeSize) {
      if (In >= Size) return Pos;
      Bits |= static_cast<uint64_t>(Data[In++]) << Count;
      Count += 8;
    }
    const int32_t Code = static_cast<int32_t>(Bits & ((1u << CodeSize) - 1));
    Bits >>= CodeSize;
    Count -= CodeSize;
    if (Code == Clear) {
      CodeSize = MinCodeSize + 1;
      Next = End + 1;
      Old = -1;
      continue;
    }
    if (Code == End) {
      SawEnd = true;
      return Pos;
    }
    if (Old < 0) {
      // The first code after a clear is a plain index.
      if (Code >= Clear) return -1;
      OldPos = Pos;
      Out[Pos++] = static_cast<uint8_t>(Code);
      Old = Code;
      continue;
    }
    // The code not yet in the table (Code == Next) is the previous string and its own first
    // byte: the entry about to be made, so its copy overlaps what it writes.
    if (Code > Next || (Code == Next && Next >= kMaxCodes)) return -1;
    if (Next < kMaxCodes) {
      Start[Next] = OldPos;
      Length[Next] = static_cast<uint16_t>(LengthOf(Old) + 1);
      ++Next;
      // The decoder widens its codes once the next entry needs one more bit (no early change
      // in GIF); at 4096 entries it keeps 12 bits and waits for a clear code.
      if (Next == (1 << CodeSize) && CodeSize < 12) ++CodeSize;
    }
    OldPos = Pos;
    if (Code < Clear) {
      Out[Pos++] = static_cast<uint8_t>(Code);
    } else {
      const int64_t N = std::min<int64_t>(Length[Code], OutSize - Pos);
      const uint8_t* From = Out + Start[Code];
      uint8_t* To = Out + Pos;
      if (From + N <= To && N <= 16 && Pos + 16 <= OutSize) {
        // Most strings are short: one 16-byte move through a temporary; the bytes past the
        // string are written over by the strings that follow.
        uint8_t T[16];
        std::memcpy(T, From, 16);
        std::memcpy(To, T, 16);
      } else if (From + N <= To) {
        std::memcpy(To, From, static_cast<size_t>(N));
      } else {
        for (int64_t K = 0; K < N; ++K) To[K] = From[K];  // forwards, as the overlap needs
      }
      Pos += N;
    }
    Old = Code;
  }
  return Pos;
}

bool GIFLZWDecompress(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                      uint8_t* Dest) {
  uint8_t MinCodeSize;
  if (Stream.Read(&MinCodeSize, 1) != 1) return false;
  // Join the sub-blocks; stop at the terminator or the end of the stream.
  std::vector<uint8_t> Data;
  bool Terminated = false;
  for (;;) {
    uint8_t Len;
    if (Stream.Read(&Len, 1) != 1) break;
    if (Len == 0) {
      Terminated = true;
      break;
    }
    const size_t Old = Data.size();
    Data.resize(Old + Len);
    const int64_t Got = Stream.Read(Data.data() + Old, Len);
    if (Got != Len) {
      Data.resize(Old + static_cast<size_t>(std::max<int64_t>(Got, 0)));
      break;
    }
  }
  const int64_t Total = static_cast<int64_t>(Width) * Height;
  bool SawEnd = false;
  int64_t Produced;
  if (!Interlaced) {
    Produced = GIFLZWDecodeBytes(Data.data(), static_cast<int64_t>(Data.size()), MinCodeSize, Dest,
                                 Total, SawEnd);
    if (Produced >= 0 && Produced < Total)
      std::memset(Dest + Produced, 0, static_cast<size_t>(Total - Produced));
  } else {
    std::vector<uint8_t> Stored(static_cast<size_t>(Total));
    Produced = GIFLZWDecodeBytes(Data.data(), static_cast<int64_t>(Data.size()), MinCodeSize,
                                 Stored.data(), Total, SawEnd);
    const std::vector<int32_t> Rows = InterlacedRows(Height);
    for (int32_t I = 0; I < Height; ++I)
      std::memcpy(Dest + static_cast<int64_t>(Rows[static_cast<size_t>(I)]) * Width,
                  Stored.data() + static_cast<int64_t>(I) * Width, static_cast<size_t>(Width));
  }
  (void)SawEnd;
  // All pixels and a proper end: good. Data that stops short (or a bad code) is reported; a
  // missing end code after the last pixel is common and harmless.
  return Produced == Total && Terminated;
}

void GIFLZWCompress(TStream& Stream, int32_t Height, int32_t Width, bool Interlaced,
                    const uint8_t* Source, int32_t BitsPerPixel) {
  const int32_t MinCodeSize = std::clamp(BitsPerPixel, 2, 8);
  const int32_t Clear = 1 << MinCodeSize, End = Clear + 1;
  std::vector<uint8_t> Out;  // the packed codes, then cut into sub-blocks
  uint64_t Bits = 0;
  int32_t Count = 0;
  int32_t CodeSize = MinCodeSize + 1, Next = End + 1;
  auto Emit = [&](int32_t Code) {
    Bits |= static_cast<uint64_t>(Code) << Count;
    Count += CodeSize;
    while (Count >= 8) {
      Out.push_back(static_cast<uint8_t>(Bits));
      Bits >>= 8;
      Count -= 8;
    }
  };
  // Open-addressing table of (prefix code, byte) -> code.
  constexpr int32_t kHashSize = 8192;
  std::vector<int32_t> Keys(kHashSize, -1);
  std::vector<uint16_t> Codes(kHashSize);
  auto Reset = [&] {
    std::fill(Keys.begin(), Keys.end(), -1);
    CodeSize = MinCodeSize + 1;
    Next = End + 1;
  };
  const uint8_t Mask = static_cast<uint8_t>((1 << MinCodeSize) - 1);
  std::vector<int32_t> Order;
  if (Interlaced) Order = InterlacedRows(Height);
  Emit(Clear);
  int32_t Prefix = -1;
  for (int32_t I = 0; I < Height; ++I) {
    const int32_t Y = Interlaced ? Order[static_cast<size_t>(I)] : I;
    const uint8_t* Row = Source + static_cast<int64_t>(Y) * Width;
    for (int32_t X = 0; X < Width; ++X) {
      const uint8_t C = Row[X] & Mask;
      if (Prefix < 0) {
        Prefix = C;
        continue;
      }
      const int32_t Key = (Prefix << 8) | C;
      uint32_t H = (static_cast<uint32_t>(Key) * 2654435761u) >> 19;  // 13 bits
      while (Keys[H] != -1 && Keys[H] != Key) H = (H + 1) & (kHashSize - 1);
      if (Keys[H] == Key) {
        Prefix = Codes[H];
        continue;
      }
      Emit(Prefix);
      if (Next < kMaxCodes) {
        Keys[H] = Key;
        Codes[H] = static_cast<uint16_t>(Next++);
        // The code after the one just added needs one more bit: widen now, as the decoder will.
        if (Next > (1 << CodeSize) && CodeSize < 12) ++CodeSize;
      } else {
        // A full table starts over.
        Emit(Clear);
        Reset();
      }
      Prefix = C;
    }
  }
  if (Prefix >= 0) {
    Emit(Prefix);
    // The decoder adds the last entry on reading that code and may widen before the end code.
    if (Next == (1 << CodeSize) && CodeSize < 12) ++CodeSize;
  }
  Emit(End);
  if (Count > 0) Out.push_back(static_cast<uint8_t>(Bits));

  std::vector<uint8_t> Blocks;
  Blocks.reserve(Out.size() + Out.size() / 255 + 3);
  Blocks.push_back(static_cast<uint8_t>(MinCodeSize));
  for (size_t P = 0; P < Out.size(); P += 255) {
    const size_t N = std::min<size_t>(255, Out.size() - P);
    Blocks.push_back(static_cast<uint8_t>(N));
    Blocks.insert(Blocks.end(), Out.begin() + static_cast<ptrdiff_t>(P),
                  Out.begin() + static_cast<ptrdiff_t>(P + N));
  }
  Blocks.push_back(0);
  Stream.WriteBuffer(Blocks.data(), static_cast<int64_t>(Blocks.size()));
}

}  // namespace quillo
