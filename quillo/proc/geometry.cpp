#include "quillo/proc/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"

#include "quillo/proc/detail/cpu.h"

namespace quillo {

namespace {

inline uint8_t blimit(int64_t V) {
  return static_cast<uint8_t>(V < 0 ? 0 : V > 255 ? 255 : V);
}

double Sinc(double X) {
  if (X == 0) return 1.0;
  X *= std::numbers::pi;
  return std::sin(X) / X;
}

// One target position's sources: the first weight's index into the flat arrays and the count.
struct TContrib {
  int32_t First = 0;
  int32_t Count = 0;
};

struct TContribList {
  std::vector<TContrib> Of;     // per target position
  std::vector<int32_t> Source;  // source positions, mirrored into range
  std::vector<double> Weight;
};

// The contributors of every target position of a pass from SrcLen to DstLen positions.
// Quick lists hold at most 13 entries a position (the first ones). Normalised lists have each
// position's weights scaled to sum to 1.
TContribList Contributors(int32_t SrcLen, int32_t DstLen, TResampleFilter Filter, bool Quick,
                          bool Normalise) {
  TContribList L;
  L.Of.resize(static_cast<size_t>(DstLen));
  const double S = static_cast<double>(DstLen) / SrcLen;
  const double R = QLFilterSupport(Filter);
  for (int32_t I = 0; I < DstLen; ++I) {
    TContrib& C = L.Of[static_cast<size_t>(I)];
    C.First = static_cast<int32_t>(L.Source.size());
    const double Centre = I / S;
    const double Width = S >= 1 ? R : R / S;
    const double F = S >= 1 ? 1.0 : 1.0 / S;
    const int64_t Lo = static_cast<int64_t>(std::floor(Centre - Width));
    const int64_t Hi = static_cast<int64_t>(std::ceil(Centre + Width));
    for (int64_t J = Lo; J <= Hi; ++J) {
      const double W = S >= 1 ? QLFilterKernel(Filter, Centre - J)
                              : QLFilterKernel(Filter, (Centre - J) / F) / F;
      if (W == 0) continue;
      if (Quick && C.Count == 13) break;
      // Positions outside mirror back in (a source of one or two positions can still fall
      // outside after one mirroring; those are clamped).
      int64_t N = J < 0 ? -J : J >= SrcLen ? 2 * static_cast<int64_t>(SrcLen) - 1 - J : J;
      N = std::clamp<int64_t>(N, 0, SrcLen - 1);
      L.Source.push_back(static_cast<int32_t>(N));
      L.Weight.push_back(W);
      ++C.Count;
    }
    if (Normalise) {
      double Sum = 0;
      for (int32_t K = 0; K < C.Count; ++K) Sum += L.Weight[static_cast<size_t>(C.First + K)];
      if (Sum != 0)
        for (int32_t K = 0; K < C.Count; ++K) L.Weight[static_cast<size_t>(C.First + K)] /= Sum;
    }
  }
  return L;
}

// A weighted sum as a byte: above 255 is 255, below 0 is 0, otherwise rounded with halves to
// even. Adding and taking away 1.5 x 2^52 rounds a double below 2^51 to an integer in the
// current (nearest, ties to even) mode, exactly as QLRound does, without a branch or a call.
inline uint8_t ToByte(double V) {
  if (V > 255) return 255;
  if (V < 0) return 0;
  constexpr double Magic = 6755399441055744.0;
  volatile double T = V + Magic;  // kept from being folded with the subtraction below
  return static_cast<uint8_t>(static_cast<int32_t>(T - Magic));
}

// One row of the horizontal pass. The row is widened to doubles once: each source pixel
// feeds several targets.
void HorizontalRowScalar(const uint8_t* Src, int32_t SrcWidth, uint8_t* Dst, const TContribList& L,
                         std::vector<double>& Wide) {
  for (int32_t I = 0; I < SrcWidth * 3; ++I) Wide[static_cast<size_t>(I)] = Src[I];
  const double* In = Wide.data();
  const size_t N = L.Of.size();
  for (size_t I = 0; I < N; ++I) {
    const TContrib& C = L.Of[I];
    double B = 0, G = 0, R = 0;
    const int32_t* Srcs = L.Source.data() + C.First;
    const double* Ws = L.Weight.data() + C.First;
    for (int32_t K = 0; K < C.Count; ++K) {
      const double* P = In + static_cast<size_t>(Srcs[K]) * 3;
      const double W = Ws[K];
      B += W * P[0];
      G += W * P[1];
      R += W * P[2];
    }
    Dst[I * 3] = ToByte(B);
    Dst[I * 3 + 1] = ToByte(G);
    Dst[I * 3 + 2] = ToByte(R);
  }
}

#ifdef QUILLO_X86

using detail::HaveAVX2;

// Sum += W x the pixel at byte offset At of Row, its blue, green and red in three double lanes.
// Four bytes are read; the fourth lane (the next pixel's blue) is never used.
__attribute__((target("avx2"))) inline __m256d AddTap(__m256d Sum, const uint8_t* Row, size_t At,
                                                      double W) {
  int32_t V;
  std::memcpy(&V, Row + At, sizeof V);
  const __m256d P = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(V)));
  return _mm256_add_pd(Sum, _mm256_mul_pd(_mm256_set1_pd(W), P));
}

// ToByte of four sums at once, as 32-bit lanes. The rounding relies on the additions being kept
// as written.
#ifdef __FAST_MATH__
#error "the resampler's rounding needs IEEE arithmetic"
#endif
__attribute__((target("avx2"))) inline __m128i ToBytes4(__m256d V) {
  const __m256d Magic = _mm256_set1_pd(6755399441055744.0);
  V = _mm256_min_pd(_mm256_max_pd(V, _mm256_setzero_pd()), _mm256_set1_pd(255));
  return _mm256_cvttpd_epi32(_mm256_sub_pd(_mm256_add_pd(V, Magic), Magic));
}

// The first three lanes of a target's sums: its blue, green and red.
__attribute__((target("avx2"))) inline void StoreBytes(__m256d V, uint8_t* Dst) {
  alignas(16) int32_t Out[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(Out), ToBytes4(V));
  Dst[0] = static_cast<uint8_t>(Out[0]);
  Dst[1] = static_cast<uint8_t>(Out[1]);
  Dst[2] = static_cast<uint8_t>(Out[2]);
}

// ToByte of the sums, four at a time, as far as whole groups of four go; returns how many.
__attribute__((target("avx2"))) size_t SumsToBytesAVX2(const double* Sums, uint8_t* Dst, size_t N) {
  size_t X = 0;
  for (; X + 4 <= N; X += 4) {
    const __m128i I = ToBytes4(_mm256_loadu_pd(Sums + X));
    const int32_t Packed = _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packus_epi32(I, I), I));
    std::memcpy(Dst + X, &Packed, sizeof Packed);
  }
  return X;
}

// HorizontalRowScalar with a target's three sums in the lanes of one vector, each lane adding its
// contributors in their order with no fused multiply-add (the results are the same), and four
// targets at a time: their sums are independent chains of additions that the processor
// overlaps, where one target's chain alone would wait on each addition in turn. Every pixel is
// read as four bytes, so Row must be followed by at least one readable byte.
__attribute__((target("avx2"))) void HorizontalRowAVX2(const uint8_t* Row, uint8_t* Dst,
                                                       const TContribList& L) {
  const int32_t* Srcs = L.Source.data();
  const double* Ws = L.Weight.data();
  auto At = [&](size_t J) { return static_cast<size_t>(Srcs[J]) * 3; };
  const size_t N = L.Of.size();
  size_t I = 0;
  for (; I + 4 <= N; I += 4) {
    const TContrib* C = L.Of.data() + I;
    const size_t J0 = static_cast<size_t>(C[0].First), J1 = static_cast<size_t>(C[1].First),
                 J2 = static_cast<size_t>(C[2].First), J3 = static_cast<size_t>(C[3].First);
    const size_t E0 = J0 + static_cast<size_t>(C[0].Count),
                 E1 = J1 + static_cast<size_t>(C[1].Count),
                 E2 = J2 + static_cast<size_t>(C[2].Count),
                 E3 = J3 + static_cast<size_t>(C[3].Count);
    const size_t M = std::min({E0 - J0, E1 - J1, E2 - J2, E3 - J3});
    __m256d S0 = _mm256_setzero_pd(), S1 = S0, S2 = S0, S3 = S0;
    for (size_t K = 0; K < M; ++K) {
      S0 = AddTap(S0, Row, At(J0 + K), Ws[J0 + K]);
      S1 = AddTap(S1, Row, At(J1 + K), Ws[J1 + K]);
      S2 = AddTap(S2, Row, At(J2 + K), Ws[J2 + K]);
      S3 = AddTap(S3, Row, At(J3 + K), Ws[J3 + K]);
    }
    for (size_t K = J0 + M; K < E0; ++K) S0 = AddTap(S0, Row, At(K), Ws[K]);
    for (size_t K = J1 + M; K < E1; ++K) S1 = AddTap(S1, Row, At(K), Ws[K]);
    for (size_t K = J2 + M; K < E2; ++K) S2 = AddTap(S2, Row, At(K), Ws[K]);
    for (size_t K = J3 + M; K < E3; ++K) S3 = AddTap(S3, Row, At(K), Ws[K]);
    StoreBytes(S0, Dst + I * 3);
    StoreBytes(S1, Dst + I * 3 + 3);
    StoreBytes(S2, Dst + I * 3 + 6);
    StoreBytes(S3, Dst + I * 3 + 9);
  }
  for (; I < N; ++I) {
    const size_t J = static_cast<size_t>(L.Of[I].First), E = J + static_cast<size_t>(L.Of[I].Count);
    __m256d Sum = _mm256_setzero_pd();
    for (size_t K = J; K < E; ++K) Sum = AddTap(Sum, Row, At(K), Ws[K]);
    StoreBytes(Sum, Dst + I * 3);
  }
}

#endif

// The horizontal pass over rows of Source that are SrcWidth pixels wide, with the scratch it
// keeps from row to row.
class THorizontalPass {
 public:
  THorizontalPass(const TContribList& L, const TBitmap& Source, int32_t SrcWidth)
      : FL(L), FSrcWidth(SrcWidth), FEnd(Source.Bits() + Source.BitsSize()) {
#ifdef QUILLO_X86
    if (HaveAVX2()) {
      FPadded.resize(static_cast<size_t>(SrcWidth) * 3 + 1);
      return;
    }
#endif
    FWide.resize(static_cast<size_t>(SrcWidth) * 3);
  }
  void Row(const uint8_t* Src, uint8_t* Dst) {
#ifdef QUILLO_X86
    if (!FPadded.empty()) {
      // A row is read in place unless it ends the bitmap's pixels.
      const size_t Bytes = static_cast<size_t>(FSrcWidth) * 3;
      if (Src + Bytes >= FEnd) {
        std::memcpy(FPadded.data(), Src, Bytes);
        Src = FPadded.data();
      }
      return HorizontalRowAVX2(Src, Dst, FL);
    }
#endif
    HorizontalRowScalar(Src, FSrcWidth, Dst, FL, FWide);
  }

 private:
  const TContribList& FL;
  int32_t FSrcWidth;
  const uint8_t* FEnd;
  std::vector<double> FWide;
  std::vector<uint8_t> FPadded;
};

// Acc[X] += W x P[X] over a row: the vertical pass's inner loop, built for the wider vector
// units where the processor has them (no fused multiply-add: results stay those of the
// definition).
__attribute__((target_clones("avx2", "default"))) void AccumulateRow(double* Acc, const uint8_t* P,
                                                                     double W, size_t N) {
  for (size_t X = 0; X < N; ++X) Acc[X] += W * P[X];
}

// One row of the vertical pass, all channels of all columns at once: each output is still the
// sum of its contributors in their order. RowOf(j) gives row j of the horizontal pass.
template <typename TRowOf>
void VerticalRow(TRowOf&& RowOf, uint8_t* Dst, const TContribList& L, int32_t Row,
                 std::vector<double>& Acc) {
  const TContrib& C = L.Of[static_cast<size_t>(Row)];
  std::fill(Acc.begin(), Acc.end(), 0.0);
  const size_t N = Acc.size();
  for (int32_t K = C.First; K < C.First + C.Count; ++K)
    AccumulateRow(Acc.data(), RowOf(L.Source[static_cast<size_t>(K)]),
                  L.Weight[static_cast<size_t>(K)], N);
  size_t X = 0;
#ifdef QUILLO_X86
  if (HaveAVX2()) X = SumsToBytesAVX2(Acc.data(), Dst, N);
#endif
  for (; X < N; ++X) Dst[X] = ToByte(Acc[X]);
}

// The rows of the horizontal pass, made when the vertical pass first asks for them and kept in
// a ring as deep as the widest span of source rows one target row reads. The spans move down
// the image as the target rows do, so every row is made once and no whole scratch image is
// needed.
class TRowRing {
 public:
  TRowRing(const TContribList& V, size_t RowBytes) : FRowBytes(RowBytes) {
    int32_t Span = 1;
    for (const TContrib& C : V.Of) {
      if (C.Count == 0) continue;
      const auto First = V.Source.begin() + C.First;
      const auto [Lo, Hi] = std::minmax_element(First, First + C.Count);
      Span = std::max(Span, *Hi - *Lo + 1);
    }
    FDepth = static_cast<size_t>(Span);
    FRows.resize(FDepth * FRowBytes);
    FHeld.assign(FDepth, -1);
  }
  // Row J, made by Make(J, Row) when the ring does not hold it.
  template <typename TMake>
  const uint8_t* Get(int32_t J, TMake&& Make) {
    const size_t Slot = static_cast<size_t>(J) % FDepth;
    uint8_t* Row = FRows.data() + Slot * FRowBytes;
    if (FHeld[Slot] != J) {
      Make(J, Row);
      FHeld[Slot] = J;
      ++FMade;
    }
    return Row;
  }
  int64_t Made() const { return FMade; }

 private:
  size_t FRowBytes, FDepth = 1;
  std::vector<uint8_t> FRows;
  std::vector<int32_t> FHeld;
  int64_t FMade = 0;
};

void Report(const TQLProgressEvent& OnProgress, TObject* Sender, int32_t Per) {
  if (OnProgress) OnProgress(Sender, Per);
}

// Resamples the rectangle of Source at (X0, Y0) of SW x SH pixels; the quick reduction's
// nearest-neighbour passes take the whole source, so Quick is only given the whole of it.
void ResampleImpl(const TBitmap& Source, int32_t X0, int32_t Y0, int32_t SW, int32_t SH,
                  TBitmap& Destination, TResampleFilter Filter, const TQLProgressEvent& OnProgress,
                  TObject* Sender, bool Quick, bool Normalise) {
  if (Source.GetPixelFormat() != pf24bit || Filter == rfNone) return;
  auto SrcRow = [&](int32_t J) { return Source.ScanLine(Y0 + J) + int64_t(X0) * 3; };
  const int32_t TW = Destination.GetWidth(), TH = Destination.GetHeight();
  if (SW == 0 || SH == 0 || (SW < 2 && SH < 2) || TW <= 0 || TH <= 0) return;
  Destination.SetPixelFormat(pf24bit);
  const double U = 100.0 / (TW + SH + 0.5);

  // Both passes filtered: the horizontal rows stream into the vertical pass through a ring.
  if (!(Quick && TW < SW) && !(Quick && TH < SH)) {
    const TContribList H = Contributors(SW, TW, Filter, Quick, Normalise);
    const TContribList V = Contributors(SH, TH, Filter, Quick, Normalise);
    THorizontalPass Pass(H, Source, SW);
    std::vector<double> Acc(static_cast<size_t>(TW) * 3);
    TRowRing Ring(V, static_cast<size_t>(TW) * 3);
    auto Make = [&](int32_t J, uint8_t* Row) { Pass.Row(SrcRow(J), Row); };
    for (int32_t Y = 0; Y < TH; ++Y) {
      VerticalRow([&](int32_t J) { return Ring.Get(J, Make); }, Destination.ScanLine(Y), V, Y, Acc);
      // The source rows made and the target columns done so far.
      Report(
          OnProgress, Sender,
          QLTrunc((static_cast<double>(Ring.Made()) + static_cast<double>(Y + 1) * TW / TH) * U));
    }
    Destination.Modified();
    return;
  }
  // Horizontal pass into a scratch image TW x SH.
  TBitmap Scratch(TW, SH, pf24bit);
  if (Quick && TW < SW) {
    _QLBmpStretch(Source, Scratch);
  } else {
    const TContribList H = Contributors(SW, TW, Filter, Quick, Normalise);
    THorizontalPass Pass(H, Source, SW);
    for (int32_t Y = 0; Y < SH; ++Y) {
      Pass.Row(SrcRow(Y), Scratch.ScanLine(Y));
      Report(OnProgress, Sender, QLTrunc((Y + 1) * U));
    }
  }
  // Vertical pass into the destination.
  if (Quick && TH < SH) {
    _QLBmpStretch(Scratch, Destination);
  } else {
    const TContribList V = Contributors(SH, TH, Filter, Quick, Normalise);
    std::vector<double> Acc(static_cast<size_t>(TW) * 3);
    for (int32_t Y = 0; Y < TH; ++Y) {
      VerticalRow([&](int32_t J) { return Scratch.ScanLine(J); }, Destination.ScanLine(Y), V, Y,
                  Acc);
      // The columns done so far, as a share of the target width.
      Report(OnProgress, Sender, QLTrunc((SH + static_cast<double>(Y + 1) * TW / TH) * U));
    }
  }
  Destination.Modified();
}

}  // namespace

double QLFilterSupport(TResampleFilter Filter) {
  switch (Filter) {
    case rfTriangle:
    case rfHermite:
      return 1.0;
    case rfBell:
      return 1.5;
    case rfBSpline:
    case rfMitchell:
      return 2.0;
    case rfLanczos3:
      return 3.0;
    default:
      return 0.0;
  }
}

double QLFilterKernel(TResampleFilter Filter, double X) {
  const double A = std::fabs(X);
  switch (Filter) {
    case rfTriangle:
      return A < 1 ? 1 - A : 0;
    case rfHermite:
      return A < 1 ? (2 * A - 3) * A * A + 1 : 0;
    case rfBell:
      if (A < 0.5) return 0.75 - A * A;
      if (A < 1.5) return 0.5 * (A - 1.5) * (A - 1.5);
      return 0;
    case rfBSpline:
      if (A < 1) return A * A * A / 2 - A * A + 2.0 / 3.0;
      if (A < 2) return (2 - A) * (2 - A) * (2 - A) / 6;
      return 0;
    case rfLanczos3:
      return A < 3 ? Sinc(A) * Sinc(A / 3) : 0;
    case rfMitchell:
      if (A < 1) return (7 * A * A * A - 12 * A * A + 16.0 / 3.0) / 6;
      if (A < 2) return (-7.0 / 3.0 * A * A * A + 12 * A * A - 20 * A + 32.0 / 3.0) / 6;
      return 0;
    default:
      return 0;
  }
}

void _Resample(const TBitmap& Source, TBitmap& Destination, TResampleFilter Filter,
               const TQLProgressEvent& OnProgress, TObject* Sender) {
  ResampleImpl(Source, 0, 0, Source.GetWidth(), Source.GetHeight(), Destination, Filter, OnProgress,
               Sender, false, false);
}

void _ResampleRect(const TBitmap& Source, const TRect& Rect, TBitmap& Destination,
                   TResampleFilter Filter, bool Normalised) {
  TRect R;
  if (!IntersectRect(R, Rect, TRect{0, 0, Source.GetWidth(), Source.GetHeight()})) return;
  ResampleImpl(Source, R.Left, R.Top, R.Right - R.Left, R.Bottom - R.Top, Destination, Filter,
               nullptr, nullptr, false, Normalised);
}

void _QuickResample(const TBitmap& Source, TBitmap& Destination, TResampleFilter Filter,
                    const TQLProgressEvent& OnProgress, TObject* Sender) {
  ResampleImpl(Source, 0, 0, Source.GetWidth(), Source.GetHeight(), Destination, Filter, OnProgress,
               Sender, true, false);
}

void _QLBmpStretch(const TBitmap& Source, TBitmap& Destination) {
  const int32_t SW = Source.GetWidth(), SH = Source.GetHeight();
  const int32_t DW = Destination.GetWidth(), DH = Destination.GetHeight();
  Destination.SetPixelFormat(Source.GetPixelFormat() == pf1bit ? pf1bit : pf24bit);
  if (SW == 0 || SH == 0 || DW == 0 || DH == 0) return;
  // Each destination pixel takes the source pixel under its centre.
  std::vector<int32_t> Cols(static_cast<size_t>(DW));
  for (int32_t X = 0; X < DW; ++X)
    Cols[static_cast<size_t>(X)] = static_cast<int32_t>((2 * static_cast<int64_t>(X) + 1) * SW /
                                                        (2 * static_cast<int64_t>(DW)));
  const bool OneBit = Source.GetPixelFormat() == pf1bit;
  TBitmap Wide;
  const TBitmap* SrcP = &Source;
  if (!OneBit && Source.GetPixelFormat() != pf24bit) {
    Wide.Assign(Source);
    Wide.SetPixelFormat(pf24bit);
    SrcP = &Wide;
  }
  const TBitmap& Src = *SrcP;
  for (int32_t Y = 0; Y < DH; ++Y) {
    const int32_t SY = static_cast<int32_t>((2 * static_cast<int64_t>(Y) + 1) * SH /
                                            (2 * static_cast<int64_t>(DH)));
    const uint8_t* S = Src.ScanLine(SY);
    uint8_t* D = Destination.ScanLine(Y);
    if (OneBit) {
      std::memset(D, 0, static_cast<size_t>(Destination.RowLen()));
      for (int32_t X = 0; X < DW; ++X)
        if (_GetPixelbw(S, Cols[static_cast<size_t>(X)]))
          D[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    } else {
      for (int32_t X = 0; X < DW; ++X)
        std::memcpy(D + X * 3, S + Cols[static_cast<size_t>(X)] * 3, 3);
    }
  }
  Destination.Modified();
}

namespace {

// A quarter turn of a 24-bit bitmap: row Y of the result is column W - 1 - Y of the source read
// top to bottom (Ccw), or column Y read bottom to top.
void QuarterTurn(const TBitmap& Source, TBitmap& Destination, bool Ccw) {
  if (Source.GetPixelFormat() != pf24bit) return;
  const int32_t W = Source.GetWidth(), H = Source.GetHeight();
  TBitmap Out(H, W, pf24bit);
  std::vector<const uint8_t*> Rows(static_cast<size_t>(H));
  for (int32_t Y = 0; Y < H; ++Y)
    Rows[static_cast<size_t>(Ccw ? Y : H - 1 - Y)] = Source.ScanLine(Y);
  for (int32_t Y = 0; Y < W; ++Y) {
    uint8_t* D = Out.ScanLine(Y);
    const int32_t SX = (Ccw ? W - 1 - Y : Y) * 3;
    for (int32_t X = 0; X < H; ++X) std::memcpy(D + X * 3, Rows[static_cast<size_t>(X)] + SX, 3);
  }
  Destination = std::move(Out);
  Destination.Modified();
}

}  // namespace

void _Rot90(const TBitmap& Source, TBitmap& Destination) {
  QuarterTurn(Source, Destination, true);
}

void _Rot90o(const TBitmap& Source, TBitmap& Destination) {
  QuarterTurn(Source, Destination, false);
}

namespace {

// p blended with c by a 4096-based weight w: nearest((p x w + c x (4096 - w) + 2048) / 4096),
// halves to even, clamped to a byte. The numerator is an exact integer, so rounding its
// quotient is floor((n + 2047 + odd(floor(n / 4096))) / 4096), negative n included.
inline TRGB ShearBlend(const TRGB& P, const TRGB& C, int32_t Weight) {
  auto Ch = [Weight](int32_t Pv, int32_t Cv) {
    const int32_t N = Pv * Weight + Cv * (4096 - Weight) + 2048;
    return blimit((N + 2047 + ((N >> 12) & 1)) >> 12);
  };
  return TRGB{Ch(P.b, C.b), Ch(P.g, C.g), Ch(P.r, C.r)};
}

// Out[i] = the blend of P[i] and C[i] for N bytes (channels blend independently, so a run
// of pixels is a run of bytes and the loop vectorises).
void ShearBlendBytes(const uint8_t* P, const uint8_t* C, uint8_t* __restrict Out, size_t N,
                     int32_t Weight) {
  const int32_t Wc = 4096 - Weight;
  for (size_t I = 0; I < N; ++I) {
    const int32_t Num = P[I] * Weight + C[I] * Wc + 2048;
    const int32_t Q = (Num + 2047 + ((Num >> 12) & 1)) >> 12;
    Out[I] = static_cast<uint8_t>(Q < 0 ? 0 : Q > 255 ? 255 : Q);
  }
}

// The Count pixels of In copied into Out (Limit pixels) from position Start on, dropping what
// falls outside; with antialias each is blended with its predecessor in In (the background
// before the first) by the 4096-based weight, and when the weight is positive the position
// after the line receives the last pixel blended with the background.
void ShearLine(const TRGB* In, int32_t Count, TRGB* Out, int32_t Start, int32_t Limit,
               bool Antialias, int32_t Weight, const TRGB& Bg) {
  const int32_t I0 = std::max(0, -Start), I1 = std::min(Count, Limit - Start);
  if (!Antialias) {
    if (I1 > I0)
      std::memcpy(Out + Start + I0, In + I0, static_cast<size_t>(I1 - I0) * sizeof(TRGB));
    return;
  }
  int32_t I = I0;
  if (I == 0 && I < I1) Out[Start + I++] = ShearBlend(Bg, In[0], Weight);
  if (I < I1)
    ShearBlendBytes(reinterpret_cast<const uint8_t*>(In + I - 1),
                    reinterpret_cast<const uint8_t*>(In + I),
                    reinterpret_cast<uint8_t*>(Out + Start + I),
                    static_cast<size_t>(I1 - I) * sizeof(TRGB), Weight);
  const int32_t After = Start + Count;
  if (Weight > 0 && After >= 0 && After < Limit) Out[After] = ShearBlend(In[Count - 1], Bg, Weight);
}

TBitmap Filled(int32_t W, int32_t H, const TRGB& Bg) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(B.ScanLine(Y));
    std::fill(Row, Row + W, Bg);
  }
  return B;
}

}  // namespace

bool _Rotate24(TBitmap& Bitmap, int32_t Angle, bool Antialias, TColor Background,
               TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf24bit || Bitmap.Empty()) return true;
  const TRGB Bg = TColor2TRGB(Background);
  int32_t A = Angle % 360;
  TBitmap Scratch;
  bool Stepped = false;
  while (A > 45) {
    _Rot90(Stepped ? Scratch : Bitmap, Scratch);
    Stepped = true;
    A -= 90;
  }
  while (A < -45) {
    _Rot90o(Stepped ? Scratch : Bitmap, Scratch);
    Stepped = true;
    A += 90;
  }
  if (A == 0) {
    if (Stepped) Bitmap = std::move(Scratch);
    Bitmap.Modified();
    return true;
  }
  const TBitmap& Src = Stepped ? Scratch : Bitmap;
  const double Theta = A * std::numbers::pi / 180.0;
  const double T = std::fabs(std::tan(Theta / 2)), S = std::fabs(std::sin(Theta));
  const int32_t W = Src.GetWidth(), H = Src.GetHeight();
  auto Near = [](double V) { return static_cast<int32_t>(QLRound(V)); };
  const int32_t W1 = Near(H * T + W + 1);
  const int32_t D2 = Near((W1 - W) * S);
  const int32_t H2u = Near(W1 * S + H + 1);
  const int32_t H2 = H2u - 2 * D2;
  const int32_t D3 = Near((H2u - H - D2) * T);
  const int32_t W3 = Near(H2 * T + W1 + 1 - 2 * D3);
  if (!QLImageSizeOK(W1, H, 24) || !QLImageSizeOK(W1, H2, 24) || !QLImageSizeOK(W3, H2, 24) ||
      H2 <= 0 || W3 <= 0)
    return false;
  const bool Pos = Theta > 0;
  const double Total = H + W1 + H2 + 0.5;
  int32_t Lines = 0;
  auto Step = [&]() { QLProgress(Progress, QLTrunc(Lines++ * 100 / Total)); };

  // First shear: rows move right.
  TBitmap B1 = Filled(W1, H, Bg);
  for (int32_t Y = 0; Y < H; ++Y) {
    Step();
    const double O = Pos ? Y * T : (H - Y) * T;
    const int32_t K = Near(O);
    const int32_t Wt = static_cast<int32_t>((O - K) * 4096);  // truncated
    ShearLine(reinterpret_cast<const TRGB*>(Src.ScanLine(Y)), W,
              reinterpret_cast<TRGB*>(B1.ScanLine(Y)), K, W1, Antialias, Wt, Bg);
  }
  // The source is no longer read: its pixels go before the result is made, which keeps the
  // peak to two buffers. Moving an empty image in does not notify the bitmap's listener; the
  // result does, at the end.
  if (Stepped)
    Scratch = TBitmap();
  else
    Bitmap = TBitmap();
  // Second and third shears, a row at a time: row y of the second buffer is made in a line
  // buffer (target row y of column x takes source row y - k(x) of that column, blended with
  // the row above it) and at once sheared into row y of the result.
  std::vector<int32_t> K2(static_cast<size_t>(W1)), Wt2(static_cast<size_t>(W1));
  for (int32_t X = 0; X < W1; ++X) {
    const double O = Pos ? (W1 - X) * S : X * S;
    K2[static_cast<size_t>(X)] = Near(O) - D2;
    Wt2[static_cast<size_t>(X)] = Near((O - Near(O)) * 4096);
  }
  std::vector<TRGB> Line(static_cast<size_t>(W1));
  TBitmap B3 = Filled(W3, H2, Bg);
  for (int32_t Y = 0; Y < H2; ++Y) {
    // Both passes' lines (W1 columns, H2 rows) spread evenly over the rows.
    QLProgress(Progress, QLTrunc((H + static_cast<double>(Y) * (W1 + H2) / H2) * 100 / Total));
    for (int32_t X = 0; X < W1; ++X) {
      const int32_t I = Y - K2[static_cast<size_t>(X)], Wt = Wt2[static_cast<size_t>(X)];
      TRGB V = Bg;
      if (I >= 0 && I < H) {
        const TRGB Cur = reinterpret_cast<const TRGB*>(B1.ScanLine(I))[X];
        V = !Antialias
                ? Cur
                : ShearBlend(I > 0 ? reinterpret_cast<const TRGB*>(B1.ScanLine(I - 1))[X] : Bg, Cur,
                             Wt);
      } else if (I == H && Antialias && Wt > 0) {
        V = ShearBlend(reinterpret_cast<const TRGB*>(B1.ScanLine(H - 1))[X], Bg, Wt);
      }
      Line[static_cast<size_t>(X)] = V;
    }
    const double O = Pos ? Y * T : (H2 - Y) * T;
    ShearLine(Line.data(), W1, reinterpret_cast<TRGB*>(B3.ScanLine(Y)), Near(O) - D3, W3, Antialias,
              Near((O - Near(O)) * 4096), Bg);
  }
  Bitmap = std::move(B3);
  Bitmap.Modified();
  return true;
}

bool _rotate1bit(TBitmap& Bitmap, double Angle, int32_t BackgroundBit, TProgressRec& Progress) {
  if (Bitmap.GetPixelFormat() != pf1bit) return true;
  const double Theta = -Angle / 57.29577951308232;
  const double C = std::trunc(std::cos(Theta) * 10000) / 10000;
  const double S = std::trunc(std::sin(Theta) * 10000) / 10000;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  const int64_t NW = static_cast<int64_t>(std::fabs(W * C) + std::fabs(H * S));
  const int64_t NH = static_cast<int64_t>(std::fabs(W * S) + std::fabs(H * C));
  if (!QLImageSizeOK(NW, NH, 1)) return false;
  TBitmap Out(static_cast<int32_t>(NW), static_cast<int32_t>(NH), pf1bit);
  const double NCX = NW / 2.0 - 0.5, NCY = NH / 2.0 - 0.5, OCX = W / 2.0 - 0.5, OCY = H / 2.0 - 0.5;
  for (int32_t Y = 0; Y < NH; ++Y) {
    QLProgress(Progress, QLTrunc(Y * 100.0 / NH));
    uint8_t* Row = Out.ScanLine(Y);
    const double DY = Y - NCY;
    for (int32_t X = 0; X < NW; ++X) {
      const double DX = X - NCX;
      const int32_t SX = QLTrunc(C * DX + S * DY + OCX);
      const int32_t SY = QLTrunc(-S * DX + C * DY + OCY);
      const int32_t Bit = (SX < 0 || SY < 0 || SX >= W || SY >= H)
                              ? BackgroundBit
                              : _GetPixelbw(Bitmap.ScanLine(SY), SX);
      if (Bit) Row[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    }
  }
  Bitmap = std::move(Out);
  Bitmap.Modified();
  return true;
}

void _Flip(TBitmap& Bitmap, TFlipDir Direction) {
  const TPixelFormat PF = Bitmap.GetPixelFormat();
  if ((PF != pf24bit && PF != pf1bit) || Bitmap.Empty()) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  TBitmap Out(W, H, PF);
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* S = Bitmap.ScanLine(Direction == fdVertical ? H - 1 - Y : Y);
    uint8_t* D = Out.ScanLine(Y);
    if (Direction == fdVertical) {
      std::memcpy(D, S, static_cast<size_t>(Bitmap.RowLen()));
    } else if (PF == pf24bit) {
      for (int32_t X = 0; X < W; ++X) std::memcpy(D + X * 3, S + (W - 1 - X) * 3, 3);
    } else {
      for (int32_t X = 0; X < W; ++X)
        if (_GetPixelbw(S, W - 1 - X)) D[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
    }
  }
  Bitmap = std::move(Out);
  Bitmap.Modified();
}

void _SubResample1bitFiltered(const TBitmap& Source, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                              TBitmap& Destination) {
  if (Source.GetPixelFormat() != pf1bit || Source.Empty()) return;
  _SubResample1bitFilteredDIB(Source.ScanLine(0), -static_cast<int64_t>(Source.RowLen()),
                              Source.GetWidth(), Source.GetHeight(), X1, Y1, X2, Y2, Destination);
}

}  // namespace quillo
