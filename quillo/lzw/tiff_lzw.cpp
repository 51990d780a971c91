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

struct TDecoder {
  // The string of code c is String(Prefix[c]) followed by Suffix[c]; Length[c] bytes long,
  // beginning with First[c].
  std::array<uint16_t, kTableSize> Prefix{};
  std::array<uint8_t, kTableSize> Suffix{};
  std::array<uint8_t, kTableSize> First{};
  std::array<uint16_t, kTableSize> Length{};
  int64_t BitPos = 0;
  int32_t Next = kFirst;
  int32_t Bits = kMinBits;
  int32_t Prev = -1;
  bool Ended = false;
  std::vector<uint8_t> Row;
  // Bytes of the last string that did not fit in the previous row.
  std::array<uint8_t, kTableSize> Spill{};
  int32_t SpillPos = 0, SpillEnd = 0;

  TDecoder() {
    for (int32_t C = 0; C < 256; ++C) {
      Suffix[static_cast<size_t>(C)] = First[static_cast<size_t>(C)] = static_cast<uint8_t>(C);
      Length[static_cast<size_t>(C)] = 1;
    }
  }

  // The next code, or -1 when the data has no whole code left.
  int32_t ReadCode(const uint8_t* Data, int64_t Size) {
    if (BitPos + Bits > Size * 8) return -1;
    const int64_t I = BitPos >> 3;
    uint32_t V = 0;
    for (int K = 0; K < 3; ++K) V = (V << 8) | (I + K < Size ? Data[I + K] : 0);
    const int32_t Code =
        static_cast<int32_t>((V >> (24 - Bits - (BitPos & 7))) & ((1u << Bits) - 1));
    BitPos += Bits;
    return Code;
  }

  // Writes the string of Code backwards ending at Dest[Len - 1].
  void Emit(int32_t Code, uint8_t* Dest, int32_t Len) const {
    for (int32_t I = Len - 1; I >= 0; --I) {
      Dest[I] = Suffix[static_cast<size_t>(Code)];
      Code = Prefix[static_cast<size_t>(Code)];
    }
  }

  bool DecodeRow(const uint8_t* Data, int64_t Size, int32_t RowSize) {
    Row.resize(static_cast<size_t>(RowSize));
    uint8_t* Out = Row.data();
    int32_t Fill = std::min(RowSize, SpillEnd - SpillPos);
    std::memcpy(Out, Spill.data() + SpillPos, static_cast<size_t>(Fill));
    SpillPos += Fill;
    while (Fill < RowSize) {
      if (Ended) return false;
      const int32_t Code = ReadCode(Data, Size);
      if (Code < 0 || Code == kEnd) {
        Ended = true;
        return false;
      }
      if (Code == kClear) {
        Next = kFirst;
        Bits = kMinBits;
        Prev = -1;
        continue;
      }
      if (Prev < 0) {
        if (Code > 255) return Ended = true, false;
        Out[Fill++] = static_cast<uint8_t>(Code);
        Prev = Code;
        continue;
      }
      if (Code > Next || (Code == Next && Next >= kTableSize)) return Ended = true, false;
      if (Next < kTableSize) {
        const size_t N = static_cast<size_t>(Next);
        Prefix[N] = static_cast<uint16_t>(Prev);
        Suffix[N] = First[static_cast<size_t>(Code == Next ? Prev : Code)];
        First[N] = First[static_cast<size_t>(Prev)];
        Length[N] = static_cast<uint16_t>(Length[static_cast<size_t>(Prev)] + 1);
        ++Next;
        // Early change: the width grows one code before the table needs it.
        if (Next + 1 >= (1 << Bits) && Bits < kMaxBits) ++Bits;
      }
      const int32_t Len = Length[static_cast<size_t>(Code)];
      if (Len <= RowSize - Fill) {
        Emit(Code, Out + Fill, Len);
        Fill += Len;
      } else {
        Emit(Code, Spill.data(), Len);
        const int32_t Part = RowSize - Fill;
        std::memcpy(Out + Fill, Spill.data(), static_cast<size_t>(Part));
        Fill += Part;
        SpillPos = Part;
        SpillEnd = Len;
      }
      Prev = Code;
    }
    return true;
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
  if (!State) State = reinterpret_cast<intptr_t>(std::make_unique<TDecoder>().release());
  TDecoder& D = *reinterpret_cast<TDecoder*>(State);
  if (!D.DecodeRow(Data, std::max<int64_t>(DataSize, 0), RowSize)) return nullptr;
  return D.Row.data();
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
