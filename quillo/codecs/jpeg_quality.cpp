#include "quillo/codecs/jpeg_quality.h"

#include <algorithm>
#include <array>
#include <limits>

namespace quillo {

namespace {

// The example tables of the JPEG standard (Annex K), in natural order.
constexpr std::array<uint16_t, 64> kStdLuma = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<uint16_t, 64> kStdChroma = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Position in natural order of the k-th coefficient of a DQT segment (zig-zag order).
constexpr std::array<uint8_t, 64> kZigZag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A standard table entry scaled for a quality the way the common encoders scale it (5000 / q
// below 50, 200 - 2q from there, per cent, rounded), limited to Limit.
int64_t Scaled(uint16_t Base, int32_t Quality, int64_t Limit) {
  const int64_t Scale = Quality < 50 ? 5000 / Quality : 200 - 2 * Quality;
  return std::clamp<int64_t>((Base * Scale + 50) / 100, 1, Limit);
}

int64_t Distance(const uint16_t* Table, const std::array<uint16_t, 64>& Std, int32_t Quality) {
  // Baseline tables stop at 255; an entry beyond shows a table scaled without that limit.
  const int64_t Limit = *std::max_element(Table, Table + 64) > 255 ? 32767 : 255;
  int64_t D = 0;
  for (size_t I = 0; I < 64; ++I) {
    const int64_t E = Scaled(Std[I], Quality, Limit) - Table[I];
    D += E < 0 ? -E : E;
  }
  return D;
}

}  // namespace

int32_t QLJpegQualityFromTables(const uint16_t* Luma, const uint16_t* Chroma) {
  int32_t Best = 0;
  int64_t BestD = std::numeric_limits<int64_t>::max();
  // From the top, so that qualities giving the same tables report the highest.
  for (int32_t Q = 100; Q >= 1; --Q) {
    int64_t D = Distance(Luma, kStdLuma, Q);
    if (Chroma) D += Distance(Chroma, kStdChroma, Q);
    if (D < BestD) BestD = D, Best = Q;
  }
  return Best;
}

int32_t QLJpegEstimateQuality(TStream& Stream) {
  const int64_t Start = Stream.GetPosition();
  std::array<std::array<uint16_t, 64>, 2> Tables{};
  std::array<bool, 2> Have{};
  auto Byte = [&Stream](int32_t& B) {
    uint8_t C;
    if (Stream.Read(&C, 1) != 1) return false;
    B = C;
    return true;
  };
  int32_t B0 = 0, B1 = 0;
  if (Byte(B0) && Byte(B1) && B0 == 0xFF && B1 == 0xD8) {
    // Segments up to the first scan; fill bytes (0xFF) may precede a marker code.
    for (;;) {
      int32_t M = 0, Hi = 0, Lo = 0;
      if (!Byte(M) || M != 0xFF) break;
      do {
        if (!Byte(M)) M = -1;
      } while (M == 0xFF);
      if (M < 0 || M == 0xDA || M == 0xD9) break;
      if (M == 0x01 || (M >= 0xD0 && M <= 0xD7)) continue;
      if (!Byte(Hi) || !Byte(Lo)) break;
      int64_t Left = Hi * 256 + Lo - 2;
      if (Left < 0) break;
      if (M != 0xDB) {
        Stream.Seek(Left, soFromCurrent);
        continue;
      }
      // A DQT segment holds one or more tables: precision and id, then 64 entries.
      while (Left > 0) {
        int32_t PqTq = 0;
        if (!Byte(PqTq)) break;
        const bool Wide = (PqTq >> 4) != 0;
        const int32_t Id = PqTq & 15;
        std::array<uint16_t, 64> T{};
        bool Ok = true;
        for (size_t K = 0; K < 64 && Ok; ++K) {
          int32_t V = 0, V2 = 0;
          Ok = Byte(V) && (!Wide || Byte(V2));
          T[kZigZag[K]] = static_cast<uint16_t>(Wide ? V * 256 + V2 : V);
        }
        if (!Ok) break;
        if (Id < 2) Tables[static_cast<size_t>(Id)] = T, Have[static_cast<size_t>(Id)] = true;
        Left -= 1 + (Wide ? 128 : 64);
      }
      if (Left != 0) break;
    }
  }
  Stream.SetPosition(Start);
  if (!Have[0]) return 0;
  return QLJpegQualityFromTables(Tables[0].data(), Have[1] ? Tables[1].data() : nullptr);
}

}  // namespace quillo
