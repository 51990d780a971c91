// Median cut over a 32 x 32 x 32 histogram. The box to split is the one with the largest
// squared error; each channel is tried as the cut axis with the cut placed by a between-class
// score in a window around the mean, and the axis whose halves have the smallest summed error
// wins. All statistics are in 5-bit cell units.
#include "quillo/quant/mediancut.h"

#include <algorithm>
#include <array>
#include <vector>

#include "quillo/quant/source24.h"

namespace quillo {

namespace {

constexpr int32_t kCells = 32768;
constexpr int32_t kMaxBoxes = 256;
// Summed error of a failed trial; above any real one (at most 3 x 31^2 / 4 per box).
constexpr double kFailedTrial = 17523.6;

inline int32_t CellIndex(int32_t R5, int32_t G5, int32_t B5) {
  return (R5 << 10) | (G5 << 5) | B5;
}

// Channels are indexed R = 0, G = 1, B = 2. Boxes are half-open: Lo <= c < Hi.
struct TMCBox {
  double Error = 0.0;
  std::array<double, 3> Mean{};
  // Pixel counts are 64-bit so that no image the pixel limit admits can wrap them.
  int64_t Count = 0;
  std::array<std::array<int64_t, 32>, 3> Marginal{};
  std::array<int32_t, 3> Lo{};
  std::array<int32_t, 3> Hi{};
};

}  // namespace

struct TMedianCutState {
  std::vector<int64_t> Histogram;
  std::vector<TMCBox> Boxes;
  std::vector<uint8_t> InverseMap;
  int64_t TotalPixels = 0;
  int32_t Requested = 0;
  int32_t Produced = 0;
  int32_t Width = 0;
  int32_t Height = 0;
};

void TMedianCutDeleter::operator()(TMedianCutState* State) const noexcept {
  std::default_delete<TMedianCutState>()(State);
}

namespace {

// Error and means of a box from its marginals. A box without pixels keeps its means.
void ComputeStats(TMCBox& Box, int64_t TotalPixels) {
  Box.Error = 0.0;
  if (Box.Count == 0) return;
  const double Count = static_cast<double>(Box.Count);
  double Sum = 0.0;
  for (int32_t C = 0; C < 3; ++C) {
    // Integer sums are exact and equal to the double sums for any admissible image.
    int64_t S1 = 0, S2 = 0;
    for (int32_t V = Box.Lo[C]; V < Box.Hi[C]; ++V) {
      S1 += V * Box.Marginal[C][V];
      S2 += V * V * Box.Marginal[C][V];
    }
    const double Mean = static_cast<double>(S1) / Count;
    Box.Mean[C] = Mean;
    Sum += static_cast<double>(S2) - Mean * Mean * Count;
  }
  Box.Error = Sum / static_cast<double>(TotalPixels);
}

// Bounds shrink to the non-zero part of the marginals; an empty marginal gives lo 32, hi 1.
void ShrinkBounds(TMCBox& Box) {
  for (int32_t C = 0; C < 3; ++C) {
    int32_t Lo = 32, Last = 0;
    for (int32_t V = 0; V < 32; ++V)
      if (Box.Marginal[C][V] != 0) {
        if (Lo == 32) Lo = V;
        Last = V;
      }
    Box.Lo[C] = Lo;
    Box.Hi[C] = Last + 1;
  }
}

int64_t BoxVolume(const TMCBox& Box) {
  int64_t V = 1;
  for (int32_t C = 0; C < 3; ++C) V *= std::max(0, Box.Hi[C] - Box.Lo[C]);
  return V;
}

// Marginals of the histogram cells inside Box's bounds.
void MarginalsFromCells(const TMedianCutState& S, TMCBox& Box) {
  for (auto& M : Box.Marginal) M.fill(0);
  for (int32_t R = Box.Lo[0]; R < Box.Hi[0]; ++R)
    for (int32_t G = Box.Lo[1]; G < Box.Hi[1]; ++G) {
      const int64_t* Row = &S.Histogram[CellIndex(R, G, 0)];
      for (int32_t B = Box.Lo[2]; B < Box.Hi[2]; ++B) {
        const int64_t K = Row[B];
        if (K == 0) continue;
        Box.Marginal[0][R] += K;
        Box.Marginal[1][G] += K;
        Box.Marginal[2][B] += K;
      }
    }
}

// One trial cut of Parent across channel C into First and Second; returns their summed error
// or kFailedTrial.
double TrySplit(const TMedianCutState& S, const TMCBox& Parent, int32_t C, TMCBox& First,
                TMCBox& Second) {
  if (Parent.Lo[C] + 1 == Parent.Hi[C]) return kFailedTrial;
  const auto& H = Parent.Marginal[C];
  const int64_t N = Parent.Count;
  const double M = Parent.Mean[C];
  const int32_t Start = static_cast<int32_t>(QLRound((Parent.Lo[C] + M) / 2));
  // The scan ends at the last occupied coordinate at the latest, which is below 32; the
  // clamp only keeps the index inside the table whatever the bounds say.
  const int32_t Stop = std::min<int32_t>(static_cast<int32_t>(QLRound((Parent.Hi[C] + M) / 2)), 31);

  int64_t Cum = 0;
  for (int32_t V = Parent.Lo[C]; V < Start; ++V) Cum += H[V];
  // The mean accumulator starts at the window, not at the box's low bound.
  double Acc = 0.0;
  int32_t Best = Start;
  int64_t BestCount = N;
  double BestScore = -1.0;
  const double DN = static_cast<double>(N);
  for (int32_t V = Start; V <= Stop; ++V) {
    Cum += H[V];
    if (Cum == N) break;
    Acc = Acc + static_cast<double>(H[V] * V) / DN;
    const double D = M - Acc;
    const double Score = (static_cast<double>(Cum) / static_cast<double>(N - Cum)) * (D * D);
    if (Score > BestScore) {
      Best = V;
      BestCount = Cum;
      BestScore = Score;
    }
  }

  First = Parent;
  Second = Parent;
  First.Hi[C] = Best + 1;
  First.Count = BestCount;
  Second.Lo[C] = Best + 1;
  Second.Count = N - BestCount;
  if (First.Count == 0 || Second.Count == 0) return kFailedTrial;

  // The halves split the parent's cells, so one half's marginals are the parent's minus the
  // other's: gather the half with fewer cells, subtract for the other.
  TMCBox& Scanned = BoxVolume(First) <= BoxVolume(Second) ? First : Second;
  TMCBox& Derived = &Scanned == &First ? Second : First;
  MarginalsFromCells(S, Scanned);
  for (int32_t Ch = 0; Ch < 3; ++Ch)
    for (int32_t V = 0; V < 32; ++V) Derived.Marginal[Ch][V] -= Scanned.Marginal[Ch][V];

  ShrinkBounds(First);
  ShrinkBounds(Second);
  ComputeStats(First, S.TotalPixels);
  ComputeStats(Second, S.TotalPixels);
  return First.Error + Second.Error;
}

// Splits box J into J and N. On failure box J's error becomes 0 so it is not picked again.
bool SplitBox(TMedianCutState& S, int32_t J, int32_t N) {
  TMCBox& Parent = S.Boxes[J];
  if (Parent.Error == 0.0 || Parent.Count == 0) {
    Parent.Error = 0.0;
    return false;
  }
  std::array<TMCBox, 3> First, Second;
  std::array<double, 3> Res;
  for (int32_t C = 0; C < 3; ++C) Res[C] = TrySplit(S, Parent, C, First[C], Second[C]);

  int32_t Axis;
  if (Res[0] < kFailedTrial && Res[0] <= Res[1] && Res[0] <= Res[2])
    Axis = 0;
  else if (Res[1] < kFailedTrial && Res[1] <= Res[0] && Res[1] <= Res[2])
    Axis = 1;
  else if (Res[2] < kFailedTrial)
    Axis = 2;
  else {
    Parent.Error = 0.0;
    return false;
  }
  S.Boxes[J] = First[Axis];
  S.Boxes[N] = Second[Axis];
  return true;
}

}  // namespace

TMedianCutHandle CreateMedianCutQuantizer(const TBitmap& Bitmap, TRGB* ColorMap, int32_t Limit,
                                          int32_t NCol) {
  (void)Limit;
  NCol = std::clamp(NCol, 1, kMaxBoxes);
  TBitmap Holder;
  const TBitmap& Src = QLAs24Bit(Bitmap, Holder);

  TMedianCutHandle Handle(std::make_unique<TMedianCutState>().release());
  TMedianCutState& S = *Handle;
  S.Width = Src.GetWidth();
  S.Height = Src.GetHeight();
  S.TotalPixels = static_cast<int64_t>(S.Width) * S.Height;
  S.Requested = NCol;
  S.Histogram.assign(kCells, 0);
  S.Boxes.assign(kMaxBoxes, TMCBox{});
  S.InverseMap.assign(kCells, 0);

  for (int32_t Y = 0; Y < S.Height; ++Y) {
    const uint8_t* P = Src.ScanLine(Y);
    for (int32_t X = 0; X < S.Width; ++X, P += 3)
      ++S.Histogram[CellIndex(P[2] >> 3, P[1] >> 3, P[0] >> 3)];
  }

  TMCBox& Box0 = S.Boxes[0];
  Box0.Lo = {0, 0, 0};
  Box0.Hi = {32, 32, 32};
  Box0.Count = S.TotalPixels;
  // Box 0's marginals are the histogram's projections (the same counts a per-pixel pass
  // would add up).
  MarginalsFromCells(S, Box0);
  ComputeStats(Box0, S.TotalPixels);

  int32_t N = 1;
  while (N < NCol) {
    int32_t J = -1;
    double Largest = 0.0;
    for (int32_t I = 0; I < N; ++I)
      if (S.Boxes[I].Error > Largest) {
        Largest = S.Boxes[I].Error;
        J = I;
      }
    if (J < 0) break;
    if (SplitBox(S, J, N)) ++N;
  }
  S.Produced = N;

  for (int32_t I = 0; I < N; ++I) {
    const TMCBox& B = S.Boxes[I];
    auto Level = [](double Mean) { return static_cast<uint8_t>(QLRound(Mean) * 8); };
    ColorMap[I] = CreateRGB(Level(B.Mean[0]), Level(B.Mean[1]), Level(B.Mean[2]));
  }

  // Later boxes overwrite earlier ones; cells in no box keep index 0.
  for (int32_t I = 0; I < N; ++I) {
    const TMCBox& B = S.Boxes[I];
    for (int32_t R = B.Lo[0]; R < B.Hi[0]; ++R)
      for (int32_t G = B.Lo[1]; G < B.Hi[1]; ++G)
        for (int32_t Bl = B.Lo[2]; Bl < B.Hi[2]; ++Bl)
          S.InverseMap[CellIndex(R, G, Bl)] = static_cast<uint8_t>(I);
  }
  return Handle;
}

uint8_t MedianCutFindIndex(const TMedianCutState& State, TRGB Color) {
  return State.InverseMap[CellIndex(Color.r >> 3, Color.g >> 3, Color.b >> 3)];
}

const uint8_t* MedianCutInverseMap(const TMedianCutState& State) {
  return State.InverseMap.data();
}

int32_t MedianCutColorCount(const TMedianCutState& State) {
  return State.Produced;
}

void FreeMedianCutQuantizer(TMedianCutHandle& Handle) {
  Handle.reset();
}

}  // namespace quillo
