// The body shared by the fax decoder targets: the first two bytes give the row width and the
// fill order, the rest is coded data, decoded row after row from an exactly sized buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "quillo/codecs/fax.h"

namespace quillo::fuzz {

// Decode is called with (row, data, size, width, reference row, bit position, fill order) and
// returns the new bit position; rows stop when it no longer advances or after 64 rows.
template <typename DecodeFn>
int RunFax(const uint8_t* Data, size_t Size, DecodeFn&& Decode) {
  if (Size < 2) return 0;
  const int32_t Width = 1 + ((Data[0] | (Data[1] & 0x7F) << 8) % 3000);
  const int32_t FillOrder = Data[1] & 0x80 ? 2 : 1;
  const size_t N = Size - 2;
  const auto Coded = std::make_unique<uint8_t[]>(N ? N : 1);
  if (N) std::memcpy(Coded.get(), Data + 2, N);
  const size_t RowBytes = (static_cast<size_t>(Width) + 7) / 8;
  std::vector<uint8_t> Row(RowBytes), Ref(RowBytes, 0xFF);
  int64_t Pos = 0;
  for (int Y = 0; Y < 64; ++Y) {
    const int64_t Next = Decode(Row.data(), Coded.get(), static_cast<int64_t>(N), Width,
                                Ref.data(), Pos, FillOrder);
    if (Next < Pos) __builtin_trap();  // positions never go back
    if (Next == Pos) break;
    Pos = Next;
  }
  return 0;
}

}  // namespace quillo::fuzz
