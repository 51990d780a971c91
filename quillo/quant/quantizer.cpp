// TQLQuantizer: median cut below 128 colours; from 128 on a self-organising network of NCol
// neurons trained with frequency-sensitive competitive learning in integer fixed point on a
// sample of the pixels, answered afterwards by a search sorted on green.
//
// Every value of the training stays far inside 32 bits (bounds at each step below), so the
// arithmetic is plain int32_t and gives the same palette on every machine.
#include "quillo/quant/quantizer.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "quillo/quant/mediancut.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

constexpr int32_t kMethodNetwork = 0;
constexpr int32_t kMethodMedianCut = 1;

// Fixed-point layout of the network.
constexpr int32_t kNetBiasShift = 4;      // neuron colours carry 4 fraction bits while training
constexpr int32_t kInitAlpha = 1024;      // learning rate, 10 fraction bits
constexpr int32_t kAlphaShiftDiv = 1024;  // 2^10
constexpr int32_t kRadiusBiasShift = 6;   // the radius carries 6 fraction bits
constexpr int32_t kRadiusDec = 30;
constexpr int32_t kBetaShift = 10;     // frequency decay
constexpr int32_t kBeta = 64;          // added to the winner's frequency
constexpr int32_t kBetaGamma = 65536;  // taken from the winner's bias
constexpr int32_t kBiasToDist = 12;    // bias (16 fraction bits) to distance (4)
constexpr int32_t kRadBias = 256;
constexpr int32_t kRadAlphaDiv = 262144;  // 2^18: radpower's scale
constexpr int32_t kCycles = 100;
constexpr int32_t kSearchStart = 1000;
constexpr int32_t kPrimes[4] = {499, 491, 487, 503};

// Packed (distance << 15 | neuron) keys let one minimum give the first neuron at the smallest
// distance. Distances are at most 3 x 4095 and biased distances lie in -16384..28925 (see
// Contest), so after the offset both fit in 16 bits and the key stays below 2^31.
constexpr int32_t kPackShift = 15;
constexpr int32_t kPackMaxNeurons = 1 << kPackShift;
constexpr int32_t kPackOffset = 32768;

struct TNetwork {
  int32_t NetSize = 0;
  int32_t MaxNetPos = 0;
  int32_t InitRad = 0;
  int32_t InitRadius = 0;
  int32_t AlphaDec = 0;
  int64_t LengthCount = 0;
  int32_t SampleFac = 1;
  // Training keeps the channels in separate arrays so the contest loop runs over them in
  // vector registers.
  std::vector<int32_t> Blue, Green, Red;
  std::vector<int32_t> Bias, Freq, RadPower;
  // After training: the neurons sorted on green, each blue, green, red, palette index.
  std::vector<std::array<int32_t, 4>> Sorted;
  std::array<int32_t, 256> NetIndex{};

  void Init(int32_t NCol);
  void Learn(const TBitmap& Src);
  int32_t Contest(int32_t B, int32_t G, int32_t R);
  void AlterSingle(int32_t Alpha, int32_t J, int32_t B, int32_t G, int32_t R);
  void AlterNeigh(int32_t Rad, int32_t J, int32_t B, int32_t G, int32_t R);
  void FillRadPower(int32_t Alpha, int32_t Rad);
  void UnbiasAndWrite(TRGB* ColorMap);
  void BuildIndex();
  int32_t Search(int32_t B, int32_t G, int32_t R) const;
  int32_t CellSearch(int32_t B, int32_t G, int32_t R);
  uint32_t BuildCell(int32_t Cell);

  // The sorted neurons again, channel by channel, for CellSearch.
  std::vector<int32_t> SBlue, SGreen, SRed;
  // A candidate of a cell: a neuron's colour and its position in the sorted network. A
  // cell's list starts with an entry whose Pos is the count.
  struct TCandidate {
    int16_t B, G, R;
    uint16_t Pos;
  };
  // Per 8 x 8 x 8 colour cell: where its candidate list starts in CellPool, or kUnbuilt.
  std::vector<uint32_t> CellStart;
  std::vector<TCandidate> CellPool;
};

constexpr uint32_t kUnbuilt = UINT32_MAX;
// CellSearch packs (distance << 16 | rank); ranks stay below 2 x NetSize.
constexpr int32_t kCellSearchMaxNeurons = 32768;
// Cells are kCellSize wide in each channel.
constexpr int32_t kCellShift = 3;
constexpr int32_t kCellSize = 1 << kCellShift;
constexpr int32_t kCellBits = 8 - kCellShift;
constexpr int32_t kCellMask = (1 << kCellBits) - 1;

void TNetwork::Init(int32_t NCol) {
  NetSize = NCol;
  MaxNetPos = NetSize - 1;
  InitRad = NetSize / 8;
  InitRadius = InitRad << kRadiusBiasShift;
  Blue.resize(NetSize);
  Green.resize(NetSize);
  Red.resize(NetSize);
  Bias.assign(NetSize, 0);
  Freq.assign(NetSize, 65536 / NetSize);
  RadPower.assign(std::max(InitRad, 1), 0);
  for (int32_t I = 0; I < NetSize; ++I) {
    // I < NetSize, so the product stays below 4096 x NetSize.
    const int32_t V = static_cast<int32_t>((int64_t{I} << 12) / NetSize);
    Blue[I] = Green[I] = Red[I] = V;
  }
}

// Each weight is at most 1024 x 256. The intermediate is 64-bit for networks beyond a few
// thousand neurons, where (Rad^2 - I^2) x 256 would not fit in 32 bits; below that the
// results are the same.
void TNetwork::FillRadPower(int32_t Alpha, int32_t Rad) {
  const int64_t Rad2 = int64_t{Rad} * Rad;
  for (int32_t I = 0; I < Rad; ++I)
    RadPower[I] = Alpha * static_cast<int32_t>(((Rad2 - int64_t{I} * I) * kRadBias) / Rad2);
}

// Neuron colours and pixels both lie in 0..4095 and Alpha <= 1024: the product is below 2^22,
// and the move never leaves the range spanned by the old value and the pixel.
void TNetwork::AlterSingle(int32_t Alpha, int32_t J, int32_t B, int32_t G, int32_t R) {
  Blue[J] -= ((Blue[J] - B) * Alpha) / kAlphaShiftDiv;
  Green[J] -= ((Green[J] - G) * Alpha) / kAlphaShiftDiv;
  Red[J] -= ((Red[J] - R) * Alpha) / kAlphaShiftDiv;
}

// Weights are at most 1024 x 256 = 2^18, so (value - pixel) x weight stays below 2^30.
void TNetwork::AlterNeigh(int32_t Rad, int32_t J, int32_t B, int32_t G, int32_t R) {
  const int32_t Lo = std::max(J - Rad, -1);
  const int32_t Hi = std::min(J + Rad, NetSize);
  int32_t Up = J + 1, Down = J - 1, M = 1;
  while (Up < Hi || Down > Lo) {
    const int32_t A = RadPower[M++];
    if (Up < Hi) {
      Blue[Up] -= ((Blue[Up] - B) * A) / kRadAlphaDiv;
      Green[Up] -= ((Green[Up] - G) * A) / kRadAlphaDiv;
      Red[Up] -= ((Red[Up] - R) * A) / kRadAlphaDiv;
      ++Up;
    }
    if (Down > Lo) {
      Blue[Down] -= ((Blue[Down] - B) * A) / kRadAlphaDiv;
      Green[Down] -= ((Green[Down] - G) * A) / kRadAlphaDiv;
      Red[Down] -= ((Red[Down] - R) * A) / kRadAlphaDiv;
      --Down;
    }
  }
}

// Finds the neuron closest to the pixel after the frequency bias, ageing every neuron's
// frequency and rewarding the unbiased winner.
//
// Freq stays within 0..66559: it decays by Freq >> 10 and the winner gains 64, which cannot
// lift it past the point where the decay is 64 again. Each step keeps Bias + 1024 x Freq
// equal to its start value 1024 x (65536 div NetSize), so Bias >> 12 lies in -16640..16384.
int32_t TNetwork::Contest(int32_t B, int32_t G, int32_t R) {
  int32_t* Bl = Blue.data();
  int32_t* Gr = Green.data();
  int32_t* Rd = Red.data();
  int32_t* Bs = Bias.data();
  int32_t* Fq = Freq.data();
  const int32_t N = NetSize;
  int32_t BestPos, BestBiasPos;
  if (N <= kPackMaxNeurons) {
    int32_t BestKey = INT32_MAX, BestBiasKey = INT32_MAX;
    for (int32_t I = 0; I < N; ++I) {
      const int32_t Dist = std::abs(Bl[I] - B) + std::abs(Gr[I] - G) + std::abs(Rd[I] - R);
      const int32_t BiasDist = Dist - (Bs[I] >> kBiasToDist);
      const int32_t BetaFreq = Fq[I] >> kBetaShift;
      Fq[I] -= BetaFreq;
      Bs[I] += BetaFreq << kBetaShift;
      BestKey = std::min(BestKey, (Dist << kPackShift) | I);
      BestBiasKey = std::min(BestBiasKey, ((BiasDist + kPackOffset) << kPackShift) | I);
    }
    BestPos = BestKey & (kPackMaxNeurons - 1);
    BestBiasPos = BestBiasKey & (kPackMaxNeurons - 1);
  } else {
    int32_t BestD = INT32_MAX, BestBiasD = INT32_MAX;
    BestPos = BestBiasPos = -1;
    for (int32_t I = 0; I < N; ++I) {
      const int32_t Dist = std::abs(Bl[I] - B) + std::abs(Gr[I] - G) + std::abs(Rd[I] - R);
      if (Dist < BestD) BestD = Dist, BestPos = I;
      const int32_t BiasDist = Dist - (Bs[I] >> kBiasToDist);
      if (BiasDist < BestBiasD) BestBiasD = BiasDist, BestBiasPos = I;
      const int32_t BetaFreq = Fq[I] >> kBetaShift;
      Fq[I] -= BetaFreq;
      Bs[I] += BetaFreq << kBetaShift;
    }
  }
  Fq[BestPos] += kBeta;
  Bs[BestPos] -= kBetaGamma;
  return BestBiasPos;
}

void TNetwork::Learn(const TBitmap& Src) {
  const int32_t W = Src.GetWidth(), H = Src.GetHeight();
  const int64_t Pixels = static_cast<int64_t>(W) * H;
  AlphaDec = 30 + (SampleFac - 1) / 3;
  const int64_t SamplePixels = LengthCount / (3 * SampleFac);
  int64_t Delta = SamplePixels / kCycles;
  if (Delta == 0) Delta = 1;
  if (SamplePixels == 0) return;

  int32_t Alpha = kInitAlpha;
  int32_t Radius = InitRadius;
  int32_t Rad = Radius >> kRadiusBiasShift;
  if (Rad <= 1) Rad = 0;
  FillRadPower(Alpha, Rad);

  int32_t Step = kPrimes[3];
  for (int32_t I = 0; I < 3; ++I)
    if (LengthCount % kPrimes[I] != 0) {
      Step = kPrimes[I];
      break;
    }

  std::vector<const uint8_t*> Rows(H);
  for (int32_t Y = 0; Y < H; ++Y) Rows[Y] = Src.ScanLine(Y);
  // Positions count pixels row by row. On images smaller than the step a position can stay
  // beyond the end after the wrap; its row is then taken modulo the height.
  auto PixelAt = [&](int64_t Pos) {
    int64_t Row = Pos / W;
    if (Row >= H) Row %= H;
    return Rows[Row] + 3 * (Pos % W);
  };

  int64_t Pos = 0;
  const uint8_t* Px = PixelAt(Pos);
  for (int64_t I = 0; I < SamplePixels;) {
    const int32_t B = Px[0] << kNetBiasShift;
    const int32_t G = Px[1] << kNetBiasShift;
    const int32_t R = Px[2] << kNetBiasShift;
    Pos += Step;
    if (Pos >= Pixels) Pos -= Pixels;
    // The samples jump across the image; fetch the next one while this one trains.
    Px = PixelAt(Pos);
    __builtin_prefetch(Px);

    const int32_t J = Contest(B, G, R);
    AlterSingle(Alpha, J, B, G, R);
    if (Rad != 0) AlterNeigh(Rad, J, B, G, R);

    ++I;
    if (I % Delta == 0) {
      Alpha -= Alpha / AlphaDec;
      Radius -= Radius / kRadiusDec;
      Rad = Radius >> kRadiusBiasShift;
      if (Rad <= 1) Rad = 0;
      FillRadPower(Alpha, Rad);
    }
  }
}

void TNetwork::UnbiasAndWrite(TRGB* ColorMap) {
  Sorted.resize(NetSize);
  for (int32_t I = 0; I < NetSize; ++I) {
    Sorted[I] = {Blue[I] >> kNetBiasShift, Green[I] >> kNetBiasShift, Red[I] >> kNetBiasShift, I};
    ColorMap[I] = TRGB{static_cast<uint8_t>(Sorted[I][0]), static_cast<uint8_t>(Sorted[I][1]),
                       static_cast<uint8_t>(Sorted[I][2])};
  }
  // Training is over; only the sorted copy is searched from here on.
  std::vector<int32_t>().swap(Blue);
  std::vector<int32_t>().swap(Green);
  std::vector<int32_t>().swap(Red);
  std::vector<int32_t>().swap(Bias);
  std::vector<int32_t>().swap(Freq);
  std::vector<int32_t>().swap(RadPower);
}

// Selection sort on green, swapping even equal neighbours as the search order depends on it;
// NetIndex[g] is where the search for green g starts.
void TNetwork::BuildIndex() {
  int32_t Previous = 0, StartPos = 0;
  for (int32_t I = 0; I < NetSize; ++I) {
    int32_t SmallPos = I;
    int32_t SmallVal = Sorted[I][1];
    for (int32_t J = I + 1; J < NetSize; ++J)
      if (Sorted[J][1] < SmallVal) {
        SmallPos = J;
        SmallVal = Sorted[J][1];
      }
    if (SmallPos != I) std::swap(Sorted[I], Sorted[SmallPos]);
    if (SmallVal != Previous) {
      NetIndex[Previous] = (StartPos + I) >> 1;
      for (int32_t V = Previous + 1; V < SmallVal; ++V) NetIndex[V] = I;
      Previous = SmallVal;
      StartPos = I;
    }
  }
  NetIndex[Previous] = (StartPos + MaxNetPos) >> 1;
  for (int32_t V = Previous + 1; V < 256; ++V) NetIndex[V] = MaxNetPos;

  SBlue.resize(NetSize);
  SGreen.resize(NetSize);
  SRed.resize(NetSize);
  for (int32_t I = 0; I < NetSize; ++I) {
    SBlue[I] = Sorted[I][0];
    SGreen[I] = Sorted[I][1];
    SRed[I] = Sorted[I][2];
  }
  CellStart.assign(size_t{1} << (3 * kCellBits), kUnbuilt);
}

// Walks up and down the green-sorted neurons from the index entry of G; each direction stops
// once the green difference alone reaches the best distance.
int32_t TNetwork::Search(int32_t B, int32_t G, int32_t R) const {
  int32_t BestD = kSearchStart, Best = -1;
  int32_t I = NetIndex[G], J = I - 1;
  const std::array<int32_t, 4>* P = Sorted.data();
  while (I < NetSize || J >= 0) {
    if (I < NetSize) {
      const auto& Q = P[I];
      int32_t Dist = Q[1] - G;
      if (Dist >= BestD) {
        I = NetSize;
      } else {
        ++I;
        Dist = std::abs(Dist) + std::abs(Q[0] - B);
        if (Dist < BestD) {
          Dist += std::abs(Q[2] - R);
          if (Dist < BestD) BestD = Dist, Best = Q[3];
        }
      }
    }
    if (J >= 0) {
      const auto& Q = P[J];
      int32_t Dist = G - Q[1];
      if (Dist >= BestD) {
        J = -1;
      } else {
        --J;
        Dist = std::abs(Dist) + std::abs(Q[0] - B);
        if (Dist < BestD) {
          Dist += std::abs(Q[2] - R);
          if (Dist < BestD) BestD = Dist, Best = Q[3];
        }
      }
    }
  }
  return Best;
}

// Lists the neurons that can be nearest to some colour of the cell: those whose smallest
// possible distance to the cell is within the smallest largest possible distance of any
// neuron. Every neuron at the nearest distance of any colour in the cell is listed.
uint32_t TNetwork::BuildCell(int32_t Cell) {
  const int32_t Lo[3] = {(Cell & kCellMask) << kCellShift,
                         ((Cell >> kCellBits) & kCellMask) << kCellShift,
                         (Cell >> (2 * kCellBits)) << kCellShift};
  const int32_t* Ch[3] = {SBlue.data(), SGreen.data(), SRed.data()};
  int32_t Bound = INT32_MAX;
  for (int32_t P = 0; P < NetSize; ++P) {
    int32_t Far = 0;
    for (int32_t C = 0; C < 3; ++C)
      Far += std::max(std::abs(Ch[C][P] - Lo[C]), std::abs(Ch[C][P] - Lo[C] - (kCellSize - 1)));
    Bound = std::min(Bound, Far);
  }
  const uint32_t Start = static_cast<uint32_t>(CellPool.size());
  CellPool.push_back({});
  for (int32_t P = 0; P < NetSize; ++P) {
    int32_t Near = 0;
    for (int32_t C = 0; C < 3; ++C) {
      const int32_t V = Ch[C][P];
      Near += V < Lo[C] ? Lo[C] - V : V > Lo[C] + kCellSize - 1 ? V - Lo[C] - kCellSize + 1 : 0;
    }
    if (Near <= Bound)
      CellPool.push_back({static_cast<int16_t>(SBlue[P]), static_cast<int16_t>(SGreen[P]),
                          static_cast<int16_t>(SRed[P]), static_cast<uint16_t>(P)});
  }
  CellPool[Start].Pos = static_cast<uint16_t>(CellPool.size() - Start - 1);
  return Start;
}

// Returns exactly what Search returns. Search yields, among the neurons at the smallest
// distance, the first it meets walking outward from NetIndex[G] (up, then down, at each
// step); its pruning never skips such a neuron, since a direction stops only where the green
// difference alone reaches the best distance so far. So the answer is the neuron with the
// smallest (distance, rank in that walk), looked for among the cell's candidates.
int32_t TNetwork::CellSearch(int32_t B, int32_t G, int32_t R) {
  const int32_t Cell =
      ((R >> kCellShift) << (2 * kCellBits)) | ((G >> kCellShift) << kCellBits) | (B >> kCellShift);
  uint32_t Start = CellStart[Cell];
  if (Start == kUnbuilt) Start = CellStart[Cell] = BuildCell(Cell);
  const TCandidate* List = CellPool.data() + Start;
  const int32_t Count = List[0].Pos;
  const int32_t I0 = NetIndex[G];
  int32_t BestKey = INT32_MAX;
  for (int32_t K = 1; K <= Count; ++K) {
    const TCandidate& Q = List[K];
    const int32_t Dist = std::abs(Q.B - B) + std::abs(Q.G - G) + std::abs(Q.R - R);
    // Upward positions I0 + t have rank 2t, downward I0 - 1 - t rank 2t + 1.
    const int32_t U = 2 * (Q.Pos - I0);
    BestKey = std::min(BestKey, (Dist << 16) | (U ^ (U >> 31)));
  }
  const int32_t Rank = BestKey & 0xFFFF;
  const int32_t P = (Rank & 1) ? I0 - 1 - (Rank >> 1) : I0 + (Rank >> 1);
  return Sorted[P][3];
}

// Cache slots hold (colour << 8) | index, so only palettes of up to 256 entries are cached.
// Larger tables lose more to memory latency than they gain in hits on photographs.
constexpr int32_t kCacheMaxColors = 256;
constexpr int32_t kCacheMinBits = 12;
constexpr int32_t kCacheMaxBits = 16;

}  // namespace

struct TQLQuantizer::TState {
  int32_t Method = kMethodNetwork;
  int32_t ColorCount = 0;
  int64_t Pixels = 0;
  TMedianCutHandle MedianCut;
  const uint8_t* InverseMap = nullptr;  // median cut's, read directly on the per-pixel path
  TNetwork Net;
  // Direct-mapped cache of network answers keyed by the full 24-bit colour, built on the
  // first lookup. Every slot holds a true (colour, index) pair, so a hit is always exact.
  std::vector<uint32_t> Cache;
  int32_t CacheShift = 32;

  // The palette index of a colour: what GetRGBIndex answers.
  int32_t LookUp(uint32_t B, uint32_t G, uint32_t R);
};

int32_t TQLQuantizer::SampleFactor(int64_t Pixels, int32_t Quality) {
  int64_t F;
  if (Quality == -1) {
    if (Pixels < 2000) return 1;
    // Beyond this the factor is 30 anyway; below it the product is exact.
    if (Pixels > (int64_t{1} << 40)) return 30;
    F = QLRound(static_cast<double>((Pixels - 2000) * 13) / 148000 + 2);
  } else {
    F = int64_t{QLTrunc((100.0 - Quality) / 100 * 29)} + 1;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(F, 1, 30));
}

TQLQuantizer::TQLQuantizer(const TBitmap& Bitmap, TRGB* ColorMap, int32_t Limit, int32_t NCol,
                           int32_t Quality, int32_t Method)
    : FState(std::make_unique<TState>()) {
  (void)Method;  // the engine follows from NCol alone
  TBitmap Holder;
  const TBitmap& Src = QLAs24Bit(Bitmap, Holder);
  TState& S = *FState;
  S.Pixels = static_cast<int64_t>(Src.GetWidth()) * Src.GetHeight();
  if (NCol < 128) {
    S.Method = kMethodMedianCut;
    S.MedianCut = CreateMedianCutQuantizer(Src, ColorMap, Limit, NCol);
    S.ColorCount = MedianCutColorCount(*S.MedianCut);
    S.InverseMap = MedianCutInverseMap(*S.MedianCut);
    return;
  }
  S.Method = kMethodNetwork;
  S.ColorCount = NCol;
  TNetwork& Net = S.Net;
  Net.LengthCount = S.Pixels * 3;
  Net.SampleFac = SampleFactor(S.Pixels, Quality);
  Net.Init(NCol);
  Net.Learn(Src);
  Net.UnbiasAndWrite(ColorMap);
  Net.BuildIndex();
}

TQLQuantizer::~TQLQuantizer() = default;

// Channel values rather than a TRGB, so that row loops need not assemble 3-byte records in
// memory (a byte-wise store read back as a word stalls the load).
inline int32_t TQLQuantizer::TState::LookUp(uint32_t B, uint32_t G, uint32_t R) {
  TState& S = *this;
  if (S.Method == kMethodMedianCut)
    return InverseMap[((R >> 3) << 10) | ((G >> 3) << 5) | (B >> 3)];
  if (S.Method != kMethodNetwork) return 0;
  if (S.ColorCount > kCacheMaxColors) {
    if (S.ColorCount > kCellSearchMaxNeurons) return S.Net.Search(B, G, R);
    return S.Net.CellSearch(B, G, R);
  }
  if (S.Cache.empty()) {
    // Sized to the image: about a quarter slot per pixel, 16 to 256 KiB.
    int32_t Bits = kCacheMinBits;
    while (Bits < kCacheMaxBits && (int64_t{1} << (Bits + 2)) < S.Pixels) ++Bits;
    S.CacheShift = 32 - Bits;
    S.Cache.assign(size_t{1} << Bits, static_cast<uint32_t>(S.Net.CellSearch(0, 0, 0)));
  }
  const uint32_t Key = (R << 16) | (G << 8) | B;
  uint32_t& Slot = S.Cache[(Key * 0x9E3779B1u) >> S.CacheShift];
  if ((Slot >> 8) == Key) return static_cast<int32_t>(Slot & 0xFF);
  const int32_t Index = S.Net.CellSearch(B, G, R);
  Slot = (Key << 8) | static_cast<uint32_t>(Index);
  return Index;
}

int32_t TQLQuantizer::GetRGBIndex(TRGB Color) {
  return FState->LookUp(Color.b, Color.g, Color.r);
}

void TQLQuantizer::GetRGBIndexes(const uint8_t* Pixels, int32_t Count, int32_t* Indexes) {
  TState& S = *FState;
  for (int32_t I = 0; I < Count; ++I, Pixels += 3)
    Indexes[I] = S.LookUp(Pixels[0], Pixels[1], Pixels[2]);
}

int32_t TQLQuantizer::GetMethod() const {
  return FState->Method;
}

int32_t TQLQuantizer::GetColorCount() const {
  return FState->ColorCount;
}

int32_t TQLQuantizer::GetSampleFac() const {
  return FState->Method == kMethodNetwork ? FState->Net.SampleFac : 0;
}

}  // namespace quillo
