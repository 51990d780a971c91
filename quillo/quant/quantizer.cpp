// Placeholder until the engines land: a fixed palette and nearest-entry lookup, so that code
// written against the interface links and runs.
#include "quillo/quant/quantizer.h"

#include <vector>

namespace quillo {

struct TQLQuantizer::TState {
  std::vector<TRGB> Palette;
};

TQLQuantizer::TQLQuantizer(const TBitmap&, TRGB* ColorMap, int32_t, int32_t NCol, int32_t,
                           int32_t)
    : FState(std::make_unique<TState>()) {
  for (int32_t I = 0; I < NCol; ++I) {
    uint8_t V = static_cast<uint8_t>(NCol > 1 ? I * 255 / (NCol - 1) : 0);
    ColorMap[I] = CreateRGB(V, V, V);
    FState->Palette.push_back(ColorMap[I]);
  }
}

TQLQuantizer::~TQLQuantizer() = default;

int32_t TQLQuantizer::GetRGBIndex(TRGB Color) {
  int32_t Best = 0, BestD = 1 << 30;
  for (size_t I = 0; I < FState->Palette.size(); ++I) {
    const TRGB& P = FState->Palette[I];
    int32_t D = (P.r - Color.r) * (P.r - Color.r) + (P.g - Color.g) * (P.g - Color.g) +
                (P.b - Color.b) * (P.b - Color.b);
    if (D < BestD) BestD = D, Best = static_cast<int32_t>(I);
  }
  return Best;
}

}  // namespace quillo
