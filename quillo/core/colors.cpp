#include "quillo/core/colors.h"

#include <array>

namespace quillo {

namespace {

// Both scales are fixed maps between 256 and 100 levels, kept as tables. Neither quotient can
// fall on a half (c x 33 / 85 and c x 85 / 33 never end in .5), so the table entries equal the
// rounded quotients however they are computed.
struct TScaleTables {
  std::array<uint8_t, 256> To99{};
  std::array<uint8_t, 100> ToByte{};
  TScaleTables() {
    for (int32_t C = 0; C < 256; ++C) To99[C] = static_cast<uint8_t>(QLRound(C / 255.0 * 99));
    for (int32_t C = 0; C < 100; ++C) ToByte[C] = static_cast<uint8_t>(QLRound(C / 99.0 * 255));
  }
};
const TScaleTables& Scales() {
  static const TScaleTables T;
  return T;
}

double HueChannel(double M1, double M2, double H) {
  if (H < 0) H += 1;
  if (H > 1) H -= 1;
  if (6 * H < 1) return M1 + (M2 - M1) * H * 6;
  if (2 * H < 1) return M2;
  if (3 * H < 2) return M1 + (M2 - M1) * (2.0 / 3.0 - H) * 6;
  return M1;
}

uint8_t UnitToByte(double V) {
  return blimit(QLTrunc(V * 255));
}

}  // namespace

uint8_t QLByteTo99(uint8_t C) {
  return Scales().To99[C];
}

uint8_t QL99ToByte(int32_t C) {
  return Scales().ToByte[static_cast<size_t>(ilimit(C, 0, 99))];
}

void RGB2HSL(const TRGB& Rgb, double& H, double& S, double& L) {
  const double R = Rgb.r / 255.0, G = Rgb.g / 255.0, B = Rgb.b / 255.0;
  const double Max = dmax(R, dmax(G, B)), Min = dmin(R, dmin(G, B));
  L = (Max + Min) / 2;
  if (Max == Min) {
    H = S = 0;
    return;
  }
  const double D = Max - Min;
  S = L < 0.5 ? D / (Max + Min) : D / (2 - Max - Min);
  double Hue;
  if (Max == R)
    Hue = (G - B) / D;
  else if (Max == G)
    Hue = (B - R) / D + 2;
  else
    Hue = (R - G) / D + 4;
  H = Hue / 6;
  if (H < 0) H += 1;
}

void HSL2RGB(TRGB& Rgb, double H, double S, double L) {
  H = H < 0 ? 0 : H > 1 ? 1 : H;
  S = S < 0 ? 0 : S > 1 ? 1 : S;
  L = L < 0 ? 0 : L > 1 ? 1 : L;
  if (S == 0) {
    Rgb.r = Rgb.g = Rgb.b = UnitToByte(L);
    return;
  }
  const double M2 = L <= 0.5 ? L * (1 + S) : L + S - L * S;
  const double M1 = 2 * L - M2;
  Rgb.r = UnitToByte(HueChannel(M1, M2, H + 1.0 / 3.0));
  Rgb.g = UnitToByte(HueChannel(M1, M2, H));
  Rgb.b = UnitToByte(HueChannel(M1, M2, H - 1.0 / 3.0));
}

void RGB2HSV(const TRGB& Rgb, int32_t& H, int32_t& S, int32_t& V) {
  const int32_t R = QLByteTo99(Rgb.r), G = QLByteTo99(Rgb.g), B = QLByteTo99(Rgb.b);
  V = imax(R, imax(G, B));
  const int32_t D = V - imin(R, imin(G, B));
  S = V == 0 ? 0 : D * 99 / V;
  if (S == 0) {
    H = 0;
    return;
  }
  if (V == R)
    H = (G - B) * 60 / D;
  else if (V == G)
    H = (B - R) * 60 / D + 120;
  else
    H = (R - G) * 60 / D + 240;
  if (H < 0) H += 360;
}

void HSV2RGB(TRGB& Rgb, int32_t H, int32_t S, int32_t V) {
  H = ilimit(H, 0, 359);
  S = ilimit(S, 0, 99);
  V = ilimit(V, 0, 99);
  int32_t R, G, B;
  if (S == 0) {
    R = G = B = V;
  } else {
    const int32_t F = H % 60;
    const int32_t P = V - S * V / 99;
    const int32_t Q = V - S * V * F / 5940;
    const int32_t T = V - S * V * (60 - F) / 5940;
    switch (H / 60) {
      case 0:
        R = V, G = T, B = P;
        break;
      case 1:
        R = Q, G = V, B = P;
        break;
      case 2:
        R = P, G = V, B = T;
        break;
      case 3:
        R = P, G = Q, B = V;
        break;
      case 4:
        R = T, G = P, B = V;
        break;
      default:
        R = V, G = P, B = Q;
        break;
    }
  }
  Rgb.r = QL99ToByte(R);
  Rgb.g = QL99ToByte(G);
  Rgb.b = QL99ToByte(B);
}

}  // namespace quillo
