#include "quillo/quant/palette.h"

#include <algorithm>
#include <climits>

#include "quillo/quant/quantizer.h"

namespace quillo {

bool TQLColorSet::AddImage(const TBitmap& Bitmap, int32_t Limit) {
  Limit = std::clamp(Limit, 1, 256);
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  // Neighbouring pixels mostly repeat a colour: the last one seen skips the table.
  uint32_t Last = UINT32_MAX;
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* P = Bitmap.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X, P += 3) {
      const uint32_t Key = KeyOf(P);
      if (Key == Last) continue;
      Last = Key;
      uint32_t S = Hash(Key);
      while (FKeys[S] != 0 && FKeys[S] != Key + 1) S = (S + 1) & kMask;
      if (FKeys[S] != 0) continue;
      if (static_cast<int32_t>(FColors.size()) == Limit) return false;
      FKeys[S] = Key + 1;
      FValues[S] = static_cast<uint8_t>(FColors.size());
      FColors.push_back(TRGB{P[0], P[1], P[2]});
    }
  }
  return true;
}

TQLPaletteMapper::TQLPaletteMapper(const TBitmap& Bitmap24, int32_t NCol,
                                   const std::vector<TRGB>& Kept) {
  NCol = std::clamp(NCol, 1, 256);
  FPalette.assign(static_cast<size_t>(NCol), TRGB{0, 0, 0});
  if (!FSet.AddImage(Bitmap24, NCol)) {
    FQuantizer = std::make_unique<TQLQuantizer>(Bitmap24, FPalette.data(), NCol - 1, NCol, -1, 0);
    FCount = FQuantizer->GetColorCount();
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
  if (All) {
    FKeptOrder = true;
    FCount = KeptN;
    std::copy(Kept.begin(), Kept.begin() + KeptN, FPalette.begin());
    for (size_t I = 0; I < Own.size(); ++I)
      FSet.SetValue(FSet.Find(TQLColorSet::KeyOf(Own[I])), static_cast<uint8_t>(InKept[I]));
  } else {
    std::copy(Own.begin(), Own.end(), FPalette.begin());
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
  uint32_t Last = UINT32_MAX;
  uint8_t LastIndex = 0;
  for (int32_t X = 0; X < Count; ++X, Bgr += 3) {
    const uint32_t Key = TQLColorSet::KeyOf(Bgr);
    if (Key != Last) {
      Last = Key;
      const int32_t S = FSet.Find(Key);
      // Only a pixel outside the counted image misses; it takes the nearest entry.
      LastIndex =
          S >= 0 ? FSet.Value(S) : static_cast<uint8_t>(IndexOf(TRGB{Bgr[0], Bgr[1], Bgr[2]}));
    }
    Indexes[X] = LastIndex;
  }
}

int32_t TQLPaletteMapper::IndexOf(TRGB C) {
  if (FQuantizer) return FQuantizer->GetRGBIndex(C);
  const int32_t S = FSet.Find(TQLColorSet::KeyOf(C));
  if (S >= 0) return FSet.Value(S);
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
