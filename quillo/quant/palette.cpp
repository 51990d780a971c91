#include "quillo/quant/palette.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "quillo/quant/quantizer.h"

namespace quillo {

int32_t TQLColorSet::Insert(uint32_t Key, int32_t Limit) {
  uint32_t H = Hash(Key);
  while (FSlots[H] != 0) {
    if (static_cast<uint32_t>(FSlots[H]) == Key + 1) return static_cast<int32_t>(FSlots[H] >> 32);
    H = (H + 1) & kMask;
  }
  const int32_t Index = static_cast<int32_t>(FColors.size());
  if (Index >= Limit) return -1;
  FSlots[H] = (Key + 1) | (uint64_t(Index) << 32);
  FColors.push_back(TRGB{static_cast<uint8_t>(Key), static_cast<uint8_t>(Key >> 8),
                         static_cast<uint8_t>(Key >> 16)});
  return Index;
}

template <bool WithIndexes>
bool TQLColorSet::AddPixels(const uint8_t* Bgr, int32_t Count, int32_t Limit, uint8_t* Indexes) {
  const auto Add = [&](uint32_t Key, int32_t X) {
    uint32_t H = Hash(Key);
    uint64_t E = FSlots[H];
    while (static_cast<uint32_t>(E) != Key + 1) [[unlikely]] {
        if (E == 0) {
          const int32_t New = Insert(Key, Limit);
          if (New < 0) return false;
          E = uint64_t(New) << 32;
          break;
        }
        H = (H + 1) & kMask;
        E = FSlots[H];
      }
    const uint32_t Index = static_cast<uint32_t>(E >> 32);
    if constexpr (WithIndexes) Indexes[X] = static_cast<uint8_t>(Index);
    return true;
  };
  int32_t X = 0;
  // Four pixels are twelve bytes: three 32-bit loads.
  for (; X + 4 <= Count; X += 4, Bgr += 12) {
    uint32_t W[3];
    std::memcpy(W, Bgr, 12);
    if (!Add(W[0] & 0xFFFFFFu, X) || !Add((W[0] >> 24) | ((W[1] & 0xFFFFu) << 8), X + 1) ||
        !Add((W[1] >> 16) | ((W[2] & 0xFFu) << 16), X + 2) || !Add(W[2] >> 8, X + 3))
      return false;
  }
  for (; X < Count; ++X, Bgr += 3)
    if (!Add(KeyOf(Bgr), X)) return false;
  return true;
}

bool TQLColorSet::AddRow(const uint8_t* Bgr, int32_t Count, int32_t Limit, uint8_t* Indexes) {
  Limit = std::clamp(Limit, 1, 256);
  return Indexes ? AddPixels<true>(Bgr, Count, Limit, Indexes)
                 : AddPixels<false>(Bgr, Count, Limit, nullptr);
}

bool TQLColorSet::AddImage(const TBitmap& Bitmap, int32_t Limit, uint8_t* Indexes) {
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  for (int32_t Y = 0; Y < H; ++Y)
    if (!AddRow(Bitmap.ScanLine(Y), W, Limit,
                Indexes ? Indexes + static_cast<size_t>(Y) * static_cast<size_t>(W) : nullptr))
      return false;
  return true;
}

void TQLColorSet::SetIndex(uint32_t Key, uint8_t V) {
  for (uint32_t H = Hash(Key); FSlots[H] != 0; H = (H + 1) & kMask)
    if (static_cast<uint32_t>(FSlots[H]) == Key + 1) {
      FSlots[H] = (Key + 1) | (uint64_t(V) << 32);
      return;
    }
}

TQLPaletteMapper::TQLPaletteMapper(const TBitmap& Bitmap24, int32_t NCol,
                                   const std::vector<TRGB>& Kept, uint8_t* AllIndexes) {
  NCol = std::clamp(NCol, 1, 256);
  FPalette.assign(static_cast<size_t>(NCol), TRGB{0, 0, 0});
  const int32_t W = Bitmap24.GetWidth(), H = Bitmap24.GetHeight();
  if (!FSet.AddImage(Bitmap24, NCol, AllIndexes)) {
    FQuantizer = std::make_unique<TQLQuantizer>(Bitmap24, FPalette.data(), NCol - 1, NCol, -1, 0);
    FCount = FQuantizer->GetColorCount();
    if (AllIndexes)
      for (int32_t Y = 0; Y < H; ++Y)
        MapRow(Bitmap24.ScanLine(Y), W, AllIndexes + static_cast<size_t>(Y) * W);
    return;
  }
  const std::vector<TRGB>& Own = FSet.Colors();
  FCount = static_cast<int32_t>(Own.size());
  // The kept palette serves when each colour has an entry there; the first entry of a colour
  // listed twice is the one used.
  const int32_t KeptN = std::min(NCol, static_cast<int32_t>(Kept.size()));
  std::vector<int32_t> InKept(Own.size(), -1);
  bool All = KeptN > 0;
  for (size_t I = 0; I < Own.size() && All; ++I) {
    for (int32_t K = 0; K < KeptN; ++K)
      if (Kept[static_cast<size_t>(K)] == Own[I]) {
        InKept[I] = K;
        break;
      }
    All = InKept[I] >= 0;
  }
  if (!All) {
    std::copy(Own.begin(), Own.end(), FPalette.begin());
    return;
  }
  FKeptOrder = true;
  FCount = KeptN;
  std::copy(Kept.begin(), Kept.begin() + KeptN, FPalette.begin());
  uint8_t Remap[256] = {};
  for (size_t I = 0; I < Own.size(); ++I) {
    Remap[I] = static_cast<uint8_t>(InKept[I]);
    FSet.SetIndex(TQLColorSet::KeyOf(Own[I]), Remap[I]);
  }
  if (AllIndexes) {
    const size_t N = static_cast<size_t>(W) * static_cast<size_t>(H);
    for (size_t I = 0; I < N; ++I) AllIndexes[I] = Remap[AllIndexes[I]];
  }
}

TQLPaletteMapper::~TQLPaletteMapper() = default;

void TQLPaletteMapper::MapRow(const uint8_t* Bgr, int32_t Count, uint8_t* Indexes) {
  if (FQuantizer) {
    FWide.resize(static_cast<size_t>(std::max(Count, 0)));
    FQuantizer->GetRGBIndexes(Bgr, Count, FWide.data());
    for (int32_t X = 0; X < Count; ++X)
      Indexes[X] = static_cast<uint8_t>(FWide[static_cast<size_t>(X)]);
    return;
  }
  for (int32_t X = 0; X < Count; ++X, Bgr += 3) {
    const int32_t I = FSet.Find(TQLColorSet::KeyOf(Bgr));
    // Only a pixel outside the counted image misses; it takes the nearest entry.
    Indexes[X] = static_cast<uint8_t>(I >= 0 ? I : IndexOf(TRGB{Bgr[0], Bgr[1], Bgr[2]}));
  }
}

int32_t TQLPaletteMapper::IndexOf(TRGB C) {
  if (FQuantizer) return FQuantizer->GetRGBIndex(C);
  const int32_t S = FSet.Find(TQLColorSet::KeyOf(C));
  if (S >= 0) return S;
  int32_t Best = 0, BestD = INT32_MAX;
  for (int32_t I = 0; I < FCount; ++I) {
    const TRGB& E = FPalette[static_cast<size_t>(I)];
    const int32_t D =
        (E.r - C.r) * (E.r - C.r) + (E.g - C.g) * (E.g - C.g) + (E.b - C.b) * (E.b - C.b);
    if (D < BestD) BestD = D, Best = I;
  }
  return Best;
}

}  // namespace quillo
