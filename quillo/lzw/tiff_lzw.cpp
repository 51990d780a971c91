#include "quillo/lzw/tiff_lzw.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace quillo {

namespace {

constexpr int32_t kClear = 256;
constexpr int32_t kEnd = 257;
constexpr int32_t kFirst = 258;
constexpr int32_t kMinBits = 9;
constexpr int32_t kMaxBits = 12;
constexpr int32_t kTableSize = 1 << kMaxBits;
// The encoder starts a new table when its next code would be 4094, as every TIFF writer does.
constexpr int32_t kEncoderLimit = kTableSize - 2;

// Decodes into the history of its output since the last clear code: every string of the table
// is a piece of that history (an entry is the previous string, followed by the first byte
// written after it), so a code is one copy, and rows are windows on the history.
struct TDecoder {
  std::array<uint32_t, kTableSize> Start{};  // where the string of a code begins in Hist
  std::array<uint16_t, kTableSize> Length{};
  std::vector<uint8_t> Hist;
  size_t End = 0;       // bytes decoded into Hist
  size_t RowStart = 0;  // where the next row begins
  int64_t BitPos = 0;
  int32_t Next = kFirst;
  int32_t Bits = kMinBits;
  int32_t Prev = -1;  // the previous code, written at PrevStart
  size_t PrevStart = 0;
  bool Ended = false;
  // The first writers packed codes least significant bit first and widened them one code later
  // (no early change). Their strips begin with a clear code whose first byte is 0 and whose
  // second has the low bit set, which the usual order never gives.
  bool LsbFirst = false;

  // The next code, or -1 when the data has no whole code left.
  int32_t ReadCode(const uint8_t* Data, int64_t Size) {
    if (BitPos + Bits > Size * 8) return -1;
    const int64_t I = BitPos >> 3;
    if (LsbFirst) {
      uint32_t V = 0;
      for (int K = 0; K < 3; ++K) V |= uint32_t{I + K < Size ? Data[I + K] : uint8_t{0}} << (8 * K);
      const int32_t Code = static_cast<int32_t>((V >> (BitPos & 7)) & ((1u << Bits) - 1));
      BitPos += Bits;
      return Code;
    }
    uint32_t V;
    if (I + 4 <= Size) {
      std::memcpy(&V, Data + I, 4);
      V = __builtin_bswap32(V);
    } else {
      V = 0;
      for (int K = 0; K < 4; ++K) V = (V << 8) | (I + K < Size ? Data[I + K] : 0);
    }
    const int32_t Code = static_cast<int32_t>((V << (BitPos & 7)) >> (32 - Bits));
    BitPos += Bits;
    return Code;
  }

  // Room for Count more bytes after End, and 16 spare for the over-long copies.
  void Reserve(size_t Count) {
    if (End + Count + 16 > Hist.size()) Hist.resize(std::max(Hist.size() * 2, End + Count + 4096));
  }

  // Appends Len bytes of the history from From. Short strings are copied 16 bytes at once
  // through a temporary, which is right whatever the overlap; the excess is overwritten later.
  void Copy(size_t From, size_t Len) {
    uint8_t* H = Hist.data();
    if (Len <= 16) {
      uint8_t T[16];
      std::memcpy(T, H + From, 16);
      std::memcpy(H + End, T, 16);
    } else {
      std::memcpy(H + End, H + From, Len);
    }
    End += Len;
  }

  // A clear code: the table starts over, and the history keeps only the row being made.
  void Clear() {
    Next = kFirst;
    Bits = kMinBits;
    Prev = -1;
    if (End > RowStart) std::memmove(Hist.data(), Hist.data() + RowStart, End - RowStart);
    End -= RowStart;
    RowStart = 0;
  }

  bool DecodeRow(const uint8_t* Data, int64_t Size, int32_t RowSize) {
    const size_t Want = static_cast<size_t>(RowSize);
    while (End - RowStart < Want) {
      if (Ended) return false;
      const int32_t Code = ReadCode(Data, Size);
      if (Code < 0 || Code == kEnd) {
        Ended = true;
        return false;
      }
      if (Code == kClear) {
        Clear();
        continue;
      }
      Reserve(kTableSize);
      const size_t At = End;
      if (Prev < 0) {
        if (Code > 255) return Ended = true, false;
        Hist[End++] = static_cast<uint8_t>(Code);
      } else {
        if (Code > Next || (Code == Next && Next >= kTableSize)) return Ended = true, false;
        const size_t PrevLen = Prev < 256 ? 1 : Length[static_cast<size_t>(Prev)];
        if (Code < 256) {
          Hist[End++] = static_cast<uint8_t>(Code);
        } else if (Code < Next) {
          Copy(Start[static_cast<size_t>(Code)], Length[static_cast<size_t>(Code)]);
        } else {
          // The string not yet in the table: the previous one and its own first byte.
          Copy(PrevStart, PrevLen);
          Hist[End] = Hist[PrevStart];
          ++End;
        }
        if (Next < kTableSize) {
          Start[static_cast<size_t>(Next)] = static_cast<uint32_t>(PrevStart);
          Length[static_cast<size_t>(Next)] = static_cast<uint16_t>(PrevLen + 1);
          ++Next;
          // Early change: the width grows one code before the table needs it.
          if (Next + (LsbFirst ? 0 : 1) >= (1 << Bits) && Bits < kMaxBits) ++Bits;
        }
      }
      Prev = Code;
      PrevStart = At;
    }
    return true;
  }

  // The row just decoded.
  const uint8_t* TakeRow(int32_t RowSize) {
    const uint8_t* Row = Hist.data() + RowStart;
    RowStart += static_cast<size_t>(RowSize);
    return Row;
  }
};

struct TEncoder {
  // Open addressing on (prefix code, byte); a key of 0 marks an empty slot.
  static constexpr int32_t kHashSize = 1 << 13;
  std::vector<int32_t> Keys = std::vector<int32_t>(kHashSize, 0);
  std::vector<int16_t> Codes = std::vector<int16_t>(kHashSize, 0);
  int32_t Prev = -1;
  int32_t Next = kFirst;
  int32_t Bits = kMinBits;
  uint64_t Acc = 0;
  int32_t N = 0;
  bool Started = false;
  std::vector<uint8_t> Out;

  void Put(int32_t Code) {
    Acc = (Acc << Bits) | static_cast<uint32_t>(Code);
    N += Bits;
    while (N >= 8) {
      N -= 8;
      Out.push_back(static_cast<uint8_t>(Acc >> N));
    }
    Acc &= (uint64_t{1} << N) - 1;
  }

  // Counts a new table entry; writes a clear code and starts over when the table is full.
  void Grow() {
    ++Next;
    if (Next == kEncoderLimit) {
      Put(kClear);
      std::fill(Keys.begin(), Keys.end(), 0);
      Next = kFirst;
      Bits = kMinBits;
    } else if (Next > (1 << Bits) - 1) {
      ++Bits;
    }
  }

  void Encode(const uint8_t* Row, int32_t Size) {
    if (!Started) {
      Put(kClear);
      Started = true;
    }
    for (int32_t I = 0; I < Size; ++I) {
      const int32_t C = Row[I];
      if (Prev < 0) {
        Prev = C;
        continue;
      }
      const int32_t Key = ((Prev << 8) | C) + 1;
      uint32_t H = (static_cast<uint32_t>(Key) * 2654435761u) >> (32 - 13);
      for (;;) {
        const int32_t K = Keys[H];
        if (K == Key) {
          Prev = Codes[H];
          break;
        }
        if (K == 0) {
          Put(Prev);
          Keys[H] = Key;
          Codes[H] = static_cast<int16_t>(Next);
          Grow();
          Prev = C;
          break;
        }
        H = (H + 1) & (kHashSize - 1);
      }
    }
  }

  void Finish() {
    if (!Started) Put(kClear);
    if (Prev >= 0) {
      Put(Prev);
      Grow();
    }
    Put(kEnd);
    if (N > 0) Out.push_back(static_cast<uint8_t>(Acc << (8 - N)));
    N = 0;
  }
};

}  // namespace

const uint8_t* TIFFLZWDecompress(const uint8_t* Data, int64_t DataSize, int32_t RowSize,
                                 intptr_t& State) {
  if (!Data && RowSize == 0) {
    std::unique_ptr<TDecoder> Release(reinterpret_cast<TDecoder*>(State));
    State = 0;
    return nullptr;
  }
  if (!Data || RowSize <= 0) return nullptr;
  if (!State) {
    auto New = std::make_unique<TDecoder>();
    New->LsbFirst = DataSize >= 2 && Data[0] == 0 && (Data[1] & 1);
    State = reinterpret_cast<intptr_t>(New.release());
  }
  TDecoder& D = *reinterpret_cast<TDecoder*>(State);
  if (!D.DecodeRow(Data, std::max<int64_t>(DataSize, 0), RowSize)) return nullptr;
  return D.TakeRow(RowSize);
}

void TIFFLZWCompress(const uint8_t* Row, int32_t RowSize, TStream& Stream, intptr_t& State) {
  if (!State) State = reinterpret_cast<intptr_t>(std::make_unique<TEncoder>().release());
  TEncoder& E = *reinterpret_cast<TEncoder*>(State);
  E.Out.clear();
  if (!Row && RowSize == 0) {
    std::unique_ptr<TEncoder> Release(&E);
    State = 0;
    E.Finish();
    Stream.WriteBuffer(E.Out.data(), static_cast<int64_t>(E.Out.size()));
    return;
  }
  if (Row && RowSize > 0) E.Encode(Row, RowSize);
  Stream.WriteBuffer(E.Out.data(), static_cast<int64_t>(E.Out.size()));
}

}  // namespace quillo
