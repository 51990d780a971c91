#include "quillo/proc/colorops.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "quillo/core/colors.h"
#include "quillo/platform/canvas.h"
#include "quillo/proc/analysis.h"

#include "quillo/proc/detail/cpu.h"

namespace quillo {

namespace {

TRect Clip(const TBitmap& B, const TRect& R) {
  return TRect{std::max(R.Left, 0), std::max(R.Top, 0), std::min(R.Right, B.GetWidth()),
               std::min(R.Bottom, B.GetHeight())};
}

// Runs Fn(first pixel, count, row) over each row of Rect of a 24-bit bitmap, reporting progress
// after every row.
template <typename TFn>
void EachRow24(TBitmap& B, const TRect& Rect, const TQLProgressEvent& OnProgress, TObject* Sender,
               TFn&& Fn) {
  if (B.GetPixelFormat() != pf24bit) return;
  const TRect R = Clip(B, Rect);
  if (R.IsEmpty()) return;
  bool NoAbort = false;
  const TProgressRec P = QLProgressRec(OnProgress, Sender, NoAbort);
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    Fn(reinterpret_cast<TRGB*>(B.ScanLine(Y)) + R.Left, R.Width(), Y);
    QLRowProgress(P, Y, R.Top, R.Bottom - 1);
  }
  B.Modified();
}

// A table per channel, in the pixel's byte order: blue, green, red.
struct TChannelTables {
  uint8_t T[3][256];
};

void MapRow(TRGB* Px, int32_t N, const TChannelTables& L) {
  uint8_t* P = reinterpret_cast<uint8_t*>(Px);
  const uint8_t(&T)[3][256] = L.T;
  int32_t I = 0;
  // Four pixels as three 32-bit words: one load and one store per word instead of per byte.
  for (; I + 4 <= N; I += 4, P += 12) {
    uint32_t A, B, C;
    std::memcpy(&A, P, 4);
    std::memcpy(&B, P + 4, 4);
    std::memcpy(&C, P + 8, 4);
    auto Word = [&](uint32_t V, int32_t C0) {
      return static_cast<uint32_t>(T[C0][V & 255]) | (T[(C0 + 1) % 3][(V >> 8) & 255] << 8) |
             (T[(C0 + 2) % 3][(V >> 16) & 255] << 16) |
             (static_cast<uint32_t>(T[C0][V >> 24]) << 24);
    };
    A = Word(A, 0);
    B = Word(B, 1);
    C = Word(C, 2);
    std::memcpy(P, &A, 4);
    std::memcpy(P + 4, &B, 4);
    std::memcpy(P + 8, &C, 4);
  }
  for (; I < N; ++I, P += 3) {
    P[0] = T[0][P[0]];
    P[1] = T[1][P[1]];
    P[2] = T[2][P[2]];
  }
}

void MapChannels(TBitmap& B, const TChannelTables& L, const TRect& Rect,
                 const TQLProgressEvent& OnProgress, TObject* Sender) {
  EachRow24(B, Rect, OnProgress, Sender, [&](TRGB* P, int32_t N, int32_t) { MapRow(P, N, L); });
}

uint8_t Channel(const TRGB& C, int32_t I) {
  return I == 0 ? C.b : I == 1 ? C.g : C.r;
}

// ---------------------------------------------------------------------------------------------
// Row kernels. The vector versions compute exactly what the scalar ones do: the same integer
// arithmetic, or the same double operations in the same order (no fused multiply-adds), lane by
// lane.

uint8_t GreyOf(const uint8_t* P) {
  return static_cast<uint8_t>((21u * P[2] + 71u * P[1] + 7u * P[0]) / 100u);
}

void GrayRowScalar(uint8_t* P, int32_t N) {
  for (int32_t I = 0; I < N; ++I, P += 3) P[0] = P[1] = P[2] = GreyOf(P);
}

void AddRowScalar(uint8_t* P, int32_t N, const int32_t* Add) {
  for (int32_t I = 0; I < N; ++I, P += 3)
    for (int32_t C = 0; C < 3; ++C) P[C] = blimit(int64_t{P[C]} + Add[C]);
}

void HSLRowScalar(TRGB* P, int32_t N, double DH, double DS, double DL) {
  for (int32_t X = 0; X < N; ++X) {
    double H, S, L;
    RGB2HSL(P[X], H, S, L);
    HSL2RGB(P[X], H + DH, S + DS, L + DL);
  }
}

#ifdef QUILLO_X86

using detail::HaveAVX2;
using detail::HaveSSSE3;

// Sixteen pixels at a time: the channels are gathered into planes by byte shuffles, the grey
// level is computed in 16-bit lanes (at most 99 x 255) and divided by 100 exactly as a multiply
// by 41944 / 2^22, and spread back to three bytes per pixel.
__attribute__((target("ssse3"))) int32_t GrayRowSSSE3(uint8_t* P, int32_t N) {
  const __m128i SB0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i SB1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
  const __m128i SB2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
  const __m128i SG0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i SG1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
  const __m128i SG2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
  const __m128i SR0 = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i SR1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
  const __m128i SR2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
  const __m128i O0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
  const __m128i O1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
  const __m128i O2 = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
  const __m128i Z = _mm_setzero_si128();
  const __m128i K21 = _mm_set1_epi16(21), K71 = _mm_set1_epi16(71), K7 = _mm_set1_epi16(7);
  const __m128i Magic = _mm_set1_epi16(static_cast<short>(41944));
  int32_t I = 0;
  for (; I + 16 <= N; I += 16, P += 48) {
    const __m128i A = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16));
    const __m128i C = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 32));
    const __m128i Bl = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(A, SB0), _mm_shuffle_epi8(B, SB1)), _mm_shuffle_epi8(C, SB2));
    const __m128i Gr = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(A, SG0), _mm_shuffle_epi8(B, SG1)), _mm_shuffle_epi8(C, SG2));
    const __m128i Rd = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(A, SR0), _mm_shuffle_epi8(B, SR1)), _mm_shuffle_epi8(C, SR2));
    __m128i Half[2];
    for (int32_t K = 0; K < 2; ++K) {
      const __m128i B16 = K ? _mm_unpackhi_epi8(Bl, Z) : _mm_unpacklo_epi8(Bl, Z);
      const __m128i G16 = K ? _mm_unpackhi_epi8(Gr, Z) : _mm_unpacklo_epi8(Gr, Z);
      const __m128i R16 = K ? _mm_unpackhi_epi8(Rd, Z) : _mm_unpacklo_epi8(Rd, Z);
      const __m128i Sum =
          _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(R16, K21), _mm_mullo_epi16(G16, K71)),
                        _mm_mullo_epi16(B16, K7));
      Half[K] = _mm_srli_epi16(_mm_mulhi_epu16(Sum, Magic), 6);
    }
    const __m128i G = _mm_packus_epi16(Half[0], Half[1]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P), _mm_shuffle_epi8(G, O0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P + 16), _mm_shuffle_epi8(G, O1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(P + 32), _mm_shuffle_epi8(G, O2));
  }
  return I;
}

// Clamped additions are unsigned saturating adds and subtracts with the offsets laid out in the
// 48-byte period of the channel order.
int32_t AddRowSSE2(uint8_t* P, int32_t N, const int32_t* Add) {
  alignas(16) uint8_t Plus[48], Minus[48];
  for (int32_t K = 0; K < 48; ++K) {
    Plus[K] = static_cast<uint8_t>(std::clamp(Add[K % 3], 0, 255));
    Minus[K] = static_cast<uint8_t>(std::clamp(-Add[K % 3], 0, 255));
  }
  __m128i A[3], S[3];
  for (int32_t K = 0; K < 3; ++K) {
    A[K] = _mm_load_si128(reinterpret_cast<const __m128i*>(Plus + 16 * K));
    S[K] = _mm_load_si128(reinterpret_cast<const __m128i*>(Minus + 16 * K));
  }
  int32_t I = 0;
  for (; I + 16 <= N; I += 16, P += 48)
    for (int32_t K = 0; K < 3; ++K) {
      __m128i* Q = reinterpret_cast<__m128i*>(P + 16 * K);
      _mm_storeu_si128(Q, _mm_subs_epu8(_mm_adds_epu8(_mm_loadu_si128(Q), A[K]), S[K]));
    }
  return I;
}

// b where M is set, else a.
__attribute__((target("avx2"))) inline __m256d Sel(__m256d M, __m256d B, __m256d A) {
  return _mm256_blendv_pd(A, B, M);
}
__attribute__((target("avx2"))) inline __m256d Lt(__m256d A, __m256d B) {
  return _mm256_cmp_pd(A, B, _CMP_LT_OQ);
}
__attribute__((target("avx2"))) inline __m256d Clamp01(__m256d X) {
  const __m256d Zero = _mm256_setzero_pd(), One = _mm256_set1_pd(1);
  X = Sel(Lt(X, Zero), Zero, X);
  return Sel(_mm256_cmp_pd(X, One, _CMP_GT_OQ), One, X);
}
// HueChannel of HSL2RGB, all branches taken and selected in the same priority.
__attribute__((target("avx2"))) inline __m256d HueChannel4(__m256d M1, __m256d M2, __m256d H) {
  const __m256d One = _mm256_set1_pd(1), Zero = _mm256_setzero_pd(), Two = _mm256_set1_pd(2),
                Three = _mm256_set1_pd(3), Six = _mm256_set1_pd(6),
                TwoThirds = _mm256_set1_pd(2.0 / 3.0);
  H = Sel(Lt(H, Zero), _mm256_add_pd(H, One), H);
  H = Sel(_mm256_cmp_pd(H, One, _CMP_GT_OQ), _mm256_sub_pd(H, One), H);
  const __m256d D = _mm256_sub_pd(M2, M1);
  const __m256d Rise = _mm256_add_pd(M1, _mm256_mul_pd(_mm256_mul_pd(D, H), Six));
  const __m256d Fall =
      _mm256_add_pd(M1, _mm256_mul_pd(_mm256_mul_pd(D, _mm256_sub_pd(TwoThirds, H)), Six));
  __m256d R = Sel(Lt(_mm256_mul_pd(Three, H), Two), Fall, M1);
  R = Sel(Lt(_mm256_mul_pd(Two, H), One), M2, R);
  return Sel(Lt(_mm256_mul_pd(Six, H), One), Rise, R);
}
__attribute__((target("avx2"))) inline void ToBytes(__m256d V, int32_t* Out) {
  __m128i I = _mm256_cvttpd_epi32(_mm256_mul_pd(V, _mm256_set1_pd(255)));
  I = _mm_min_epi32(_mm_max_epi32(I, _mm_setzero_si128()), _mm_set1_epi32(255));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Out), I);
}

const double* Unit255() {
  static const auto T = [] {
    std::array<double, 256> A{};
    for (int32_t I = 0; I < 256; ++I) A[static_cast<size_t>(I)] = I / 255.0;
    return A;
  }();
  return T.data();
}

// RGB2HSL, the shift and HSL2RGB for four pixels at a time in double lanes.
__attribute__((target("avx2"))) int32_t HSLRowAVX2(TRGB* P, int32_t N, double DH, double DS,
                                                   double DL) {
  const double* U = Unit255();
  const __m256d Zero = _mm256_setzero_pd(), One = _mm256_set1_pd(1), Half = _mm256_set1_pd(0.5),
                Two = _mm256_set1_pd(2), Four = _mm256_set1_pd(4), Six = _mm256_set1_pd(6),
                Third = _mm256_set1_pd(1.0 / 3.0);
  const __m256d VH = _mm256_set1_pd(DH), VS = _mm256_set1_pd(DS), VL = _mm256_set1_pd(DL);
  int32_t I = 0;
  for (; I + 4 <= N; I += 4) {
    TRGB* Q = P + I;
    const __m256d R = _mm256_setr_pd(U[Q[0].r], U[Q[1].r], U[Q[2].r], U[Q[3].r]);
    const __m256d G = _mm256_setr_pd(U[Q[0].g], U[Q[1].g], U[Q[2].g], U[Q[3].g]);
    const __m256d B = _mm256_setr_pd(U[Q[0].b], U[Q[1].b], U[Q[2].b], U[Q[3].b]);
    const __m256d Max = _mm256_max_pd(R, _mm256_max_pd(G, B));
    const __m256d Min = _mm256_min_pd(R, _mm256_min_pd(G, B));
    __m256d L = _mm256_div_pd(_mm256_add_pd(Max, Min), Two);
    // Grey pixels (Max = Min) have hue and saturation 0; their lanes divide by zero and are
    // masked afterwards.
    const __m256d Grey = _mm256_cmp_pd(Max, Min, _CMP_EQ_OQ);
    const __m256d D = _mm256_sub_pd(Max, Min);
    __m256d S = Sel(Lt(L, Half), _mm256_div_pd(D, _mm256_add_pd(Max, Min)),
                    _mm256_div_pd(D, _mm256_sub_pd(_mm256_sub_pd(Two, Max), Min)));
    const __m256d HueR = _mm256_div_pd(_mm256_sub_pd(G, B), D);
    const __m256d HueG = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(B, R), D), Two);
    const __m256d HueB = _mm256_add_pd(_mm256_div_pd(_mm256_sub_pd(R, G), D), Four);
    const __m256d Hue = Sel(_mm256_cmp_pd(Max, R, _CMP_EQ_OQ), HueR,
                            Sel(_mm256_cmp_pd(Max, G, _CMP_EQ_OQ), HueG, HueB));
    __m256d H = _mm256_div_pd(Hue, Six);
    H = Sel(Lt(H, Zero), _mm256_add_pd(H, One), H);
    H = _mm256_andnot_pd(Grey, H);
    S = _mm256_andnot_pd(Grey, S);

    H = Clamp01(_mm256_add_pd(H, VH));
    S = Clamp01(_mm256_add_pd(S, VS));
    L = Clamp01(_mm256_add_pd(L, VL));
    const __m256d M2 =
        Sel(_mm256_cmp_pd(L, Half, _CMP_LE_OQ), _mm256_mul_pd(L, _mm256_add_pd(One, S)),
            _mm256_sub_pd(_mm256_add_pd(L, S), _mm256_mul_pd(L, S)));
    const __m256d M1 = _mm256_sub_pd(_mm256_mul_pd(Two, L), M2);
    const __m256d Flat = _mm256_cmp_pd(S, Zero, _CMP_EQ_OQ);
    alignas(16) int32_t Rv[4], Gv[4], Bv[4];
    ToBytes(Sel(Flat, L, HueChannel4(M1, M2, _mm256_add_pd(H, Third))), Rv);
    ToBytes(Sel(Flat, L, HueChannel4(M1, M2, H)), Gv);
    ToBytes(Sel(Flat, L, HueChannel4(M1, M2, _mm256_sub_pd(H, Third))), Bv);
    for (int32_t K = 0; K < 4; ++K)
      Q[K] = CreateRGB(static_cast<uint8_t>(Rv[K]), static_cast<uint8_t>(Gv[K]),
                       static_cast<uint8_t>(Bv[K]));
  }
  return I;
}

// Contrast in 16-bit lanes: t = |d| x Whole + (|d| x Frac) >> 16 with the sign of d (and of the
// factor), d = v - level, then level + t saturated to a byte. Used only where it reproduces the
// table of the exact formula for every byte value (see FixedContrast).
__attribute__((target("ssse3"))) int32_t ContrastRowSSSE3(uint8_t* P, int32_t N,
                                                          const int16_t* Level, int16_t Whole,
                                                          uint16_t Frac, bool Negate) {
  alignas(16) int16_t Pattern[48];
  for (int32_t K = 0; K < 48; ++K) Pattern[K] = Level[K % 3];
  __m128i M[6];
  for (int32_t K = 0; K < 6; ++K)
    M[K] = _mm_load_si128(reinterpret_cast<const __m128i*>(Pattern + 8 * K));
  const __m128i Z = _mm_setzero_si128(), Wv = _mm_set1_epi16(Whole),
                Fv = _mm_set1_epi16(static_cast<short>(Frac)), Sg = _mm_set1_epi16(Negate ? -1 : 1);
  int32_t I = 0;
  for (; I + 16 <= N; I += 16, P += 48)
    for (int32_t B = 0; B < 3; ++B) {
      __m128i* Q = reinterpret_cast<__m128i*>(P + 16 * B);
      const __m128i X = _mm_loadu_si128(Q);
      __m128i Out[2];
      for (int32_t H = 0; H < 2; ++H) {
        const __m128i Lv = M[2 * B + H];
        const __m128i D = _mm_sub_epi16(H ? _mm_unpackhi_epi8(X, Z) : _mm_unpacklo_epi8(X, Z), Lv);
        const __m128i A = _mm_abs_epi16(D);
        const __m128i T = _mm_add_epi16(_mm_mullo_epi16(A, Wv), _mm_mulhi_epu16(A, Fv));
        Out[H] = _mm_add_epi16(Lv, _mm_sign_epi16(T, _mm_sign_epi16(D, Sg)));
      }
      _mm_storeu_si128(Q, _mm_packus_epi16(Out[0], Out[1]));
    }
  return I;
}

#endif  // QUILLO_X86

// The fixed-point form of a contrast mapping, when one reproduces the exact table: levels within
// a byte, the factor's whole part small enough for 16-bit lanes, and a fraction (of 1/65536)
// for which every byte value of every channel maps as the table says.
struct TContrastFixed {
  int16_t Level[3] = {0, 0, 0};
  int16_t Whole = 0;
  uint16_t Frac = 0;
  bool Negate = false;
};

bool FixedContrast(double F, const int32_t* Level, const TChannelTables& L, TContrastFixed& K) {
  const double A = std::fabs(F);
  if (!(A < 100)) return false;
  for (int32_t C = 0; C < 3; ++C) {
    if (Level[C] < 0 || Level[C] > 255) return false;
    K.Level[C] = static_cast<int16_t>(Level[C]);
  }
  K.Whole = static_cast<int16_t>(A);
  K.Negate = F < 0;
  const int64_t Base = QLRound((A - K.Whole) * 65536);
  for (int64_t Try : {Base, Base - 1, Base + 1, Base - 2, Base + 2}) {
    if (Try < 0 || Try > 65535) continue;
    K.Frac = static_cast<uint16_t>(Try);
    bool Same = true;
    for (int32_t C = 0; C < 3 && Same; ++C)
      for (int32_t V = 0; V < 256 && Same; ++V) {
        const int32_t D = V - Level[C], Abs = D < 0 ? -D : D;
        int32_t T = Abs * K.Whole + ((Abs * K.Frac) >> 16);
        if ((D < 0) != K.Negate) T = -T;
        Same = blimit(int64_t{Level[C]} + T) == L.T[C][V];
      }
    if (Same) return true;
  }
  return false;
}

void GrayRow(uint8_t* P, int32_t N) {
  int32_t Done = 0;
#ifdef QUILLO_X86
  if (HaveSSSE3()) Done = GrayRowSSSE3(P, N);
#endif
  GrayRowScalar(P + 3 * Done, N - Done);
}

void AddRow(uint8_t* P, int32_t N, const int32_t* Add) {
  int32_t Done = 0;
#ifdef QUILLO_X86
  Done = AddRowSSE2(P, N, Add);
#endif
  AddRowScalar(P + 3 * Done, N - Done, Add);
}

void HSLRow(TRGB* P, int32_t N, double DH, double DS, double DL) {
  int32_t Done = 0;
#ifdef QUILLO_X86
  if (HaveAVX2()) Done = HSLRowAVX2(P, N, DH, DS, DL);
#endif
  HSLRowScalar(P + Done, N - Done, DH, DS, DL);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Hue, saturation, luminosity and value

void _HSLvar(TBitmap& Bitmap, int32_t Hue, int32_t Saturation, int32_t Luminosity,
             const TRect& Rect, const TQLProgressEvent& OnProgress, TObject* Sender) {
  const double DH = Hue / 360.0, DS = Saturation / 100.0, DL = Luminosity / 100.0;
  EachRow24(Bitmap, Rect, OnProgress, Sender,
            [&](TRGB* P, int32_t N, int32_t) { HSLRow(P, N, DH, DS, DL); });
}

void _HSVvar(TBitmap& Bitmap, int32_t Hue, int32_t Saturation, int32_t Value, const TRect& Rect,
             const TQLProgressEvent& OnProgress, TObject* Sender) {
  EachRow24(Bitmap, Rect, OnProgress, Sender, [&](TRGB* P, int32_t N, int32_t) {
    for (int32_t X = 0; X < N; ++X) {
      int32_t H, S, V;
      RGB2HSV(P[X], H, S, V);
      HSV2RGB(P[X], H + Hue, S + Saturation, V + Value);
    }
  });
}

// ---------------------------------------------------------------------------------------------
// Contrast, intensity, grey

double QLContrastFactor(int32_t Amount) {
  return Amount < 0 ? 1 - std::sqrt(static_cast<double>(-static_cast<int64_t>(Amount))) / 10
                    : 1 + Amount / 10.0;
}

void _ContrastRGB(TBitmap& Bitmap, int32_t Amount, int32_t LevelR, int32_t LevelG, int32_t LevelB,
                  const TRect& Rect, const TQLProgressEvent& OnProgress, TObject* Sender) {
  const double F = QLContrastFactor(Amount);
  const int32_t Level[3] = {LevelB, LevelG, LevelR};
  TChannelTables L;
  for (int32_t C = 0; C < 3; ++C)
    for (int32_t V = 0; V < 256; ++V)
      L.T[C][V] = blimit(int64_t{Level[C]} + QLTrunc((V - Level[C]) * F));
#ifdef QUILLO_X86
  TContrastFixed K;
  if (HaveSSSE3() && FixedContrast(F, Level, L, K)) {
    EachRow24(Bitmap, Rect, OnProgress, Sender, [&](TRGB* Px, int32_t N, int32_t) {
      uint8_t* P = reinterpret_cast<uint8_t*>(Px);
      const int32_t Done = ContrastRowSSSE3(P, N, K.Level, K.Whole, K.Frac, K.Negate);
      MapRow(Px + Done, N - Done, L);
    });
    return;
  }
#endif
  MapChannels(Bitmap, L, Rect, OnProgress, Sender);
}

void _Contrast(TBitmap& Bitmap, int32_t Amount, int32_t Level, const TRect& Rect,
               const TQLProgressEvent& OnProgress, TObject* Sender) {
  _ContrastRGB(Bitmap, Amount, Level, Level, Level, Rect, OnProgress, Sender);
}

int32_t _GetMediaContrast(const TBitmap& Bitmap) {
  if (Bitmap.GetPixelFormat() != pf24bit) return 128;
  const int64_t Div = (3 * static_cast<int64_t>(Bitmap.GetWidth()) - 1) * (Bitmap.GetHeight() - 1);
  if (Div == 0) return 128;
  uint64_t Sum = 0;
  for (int32_t Y = 0; Y < Bitmap.GetHeight(); ++Y) {
    const uint8_t* Row = Bitmap.ScanLine(Y);
    for (int32_t X = 0; X < 3 * Bitmap.GetWidth(); ++X) Sum += Row[X];
  }
  return QLTrunc(static_cast<double>(Sum) / static_cast<double>(Div));
}

void _IntensityRGBall(TBitmap& Bitmap, int32_t Red, int32_t Green, int32_t Blue, const TRect& Rect,
                      const TQLProgressEvent& OnProgress, TObject* Sender) {
  // Offsets beyond the byte range act as +-255.
  const int32_t Add[3] = {std::clamp(Blue, -255, 255), std::clamp(Green, -255, 255),
                          std::clamp(Red, -255, 255)};
  EachRow24(Bitmap, Rect, OnProgress, Sender,
            [&](TRGB* P, int32_t N, int32_t) { AddRow(reinterpret_cast<uint8_t*>(P), N, Add); });
}

void _ConvertToGray(TBitmap& Bitmap, const TRect& Rect, const TQLProgressEvent& OnProgress,
                    TObject* Sender) {
  EachRow24(Bitmap, Rect, OnProgress, Sender,
            [](TRGB* P, int32_t N, int32_t) { GrayRow(reinterpret_cast<uint8_t*>(P), N); });
}

// ---------------------------------------------------------------------------------------------
// Colour ranges, thresholds, level stretches

void _CastColorRange(TBitmap& Bitmap, const TRGB& Lower, const TRGB& Upper, const TRGB& Replacement,
                     const TRect& Rect, const TQLProgressEvent& OnProgress, TObject* Sender) {
  EachRow24(Bitmap, Rect, OnProgress, Sender, [&](TRGB* P, int32_t N, int32_t) {
    for (int32_t X = 0; X < N; ++X) {
      const TRGB& C = P[X];
      if (C.r >= Lower.r && C.r <= Upper.r && C.g >= Lower.g && C.g <= Upper.g && C.b >= Lower.b &&
          C.b <= Upper.b)
        P[X] = Replacement;
    }
  });
}

void _Threshold(TBitmap& Bitmap, const TRGB& LowerLimit, const TRGB& UpperLimit,
                const TRGB& LowerValue, const TRGB& UpperValue, const TRect& Rect,
                const TQLProgressEvent& OnProgress, TObject* Sender) {
  if (LowerLimit == CreateRGB(0, 0, 0) && UpperLimit == CreateRGB(255, 255, 255)) return;
  TChannelTables L;
  for (int32_t C = 0; C < 3; ++C)
    for (int32_t V = 0; V < 256; ++V) {
      int32_t Out = V;
      if (Out <= Channel(LowerLimit, C)) Out = Channel(LowerValue, C);
      if (Out > Channel(UpperLimit, C)) Out = Channel(UpperValue, C);
      L.T[C][V] = static_cast<uint8_t>(Out);
    }
  MapChannels(Bitmap, L, Rect, OnProgress, Sender);
}

void _HistEqualize(TBitmap& Bitmap, const TRGB& Low, const TRGB& High, const TRect& Rect,
                   const TQLProgressEvent& OnProgress, TObject* Sender) {
  const TRGB Hi = CreateRGB(std::max<uint8_t>(High.r, 1), std::max<uint8_t>(High.g, 1),
                            std::max<uint8_t>(High.b, 1));
  if (Hi == Low) return;
  TChannelTables L;
  for (int32_t C = 0; C < 3; ++C) {
    const int32_t Lo = Channel(Low, C), Hc = Channel(Hi, C);
    const int32_t D = Lo == 255 ? 1 : 255 - Lo;
    uint8_t T1[256], T2[256];
    for (int32_t V = 0; V < 256; ++V) {
      T1[V] = blimit(QLRound(static_cast<double>(V - Lo) / D * 255));
      T2[V] = blimit(QLRound(static_cast<double>(V) / Hc * 255));
    }
    for (int32_t V = 0; V < 256; ++V) L.T[C][V] = T2[T1[V]];
  }
  MapChannels(Bitmap, L, Rect, OnProgress, Sender);
}

void _HistAutoEqualize(TBitmap& Bitmap, const TRect& Rect, const TQLProgressEvent& OnProgress,
                       TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  const TRect R = Clip(Bitmap, Rect);
  if (R.IsEmpty()) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  // The last column and row are not counted.
  THistogram Hist{};
  _GetHistogram(Bitmap, Hist, TRect{0, 0, W - 1, H - 1});
  // The count each output level should take. An image of fewer than 256 pixels would get 0, for
  // which the walk below never ends; it gets its exact share instead. Every value here is a
  // multiple of 1/256, so the walk is exact in doubles.
  const int64_t Pixels = static_cast<int64_t>(W) * H;
  const double Target =
      Pixels >= 256 ? static_cast<double>(Pixels / 256) : static_cast<double>(Pixels) / 256;
  uint8_t Left[256], Right[256];
  double Sum = 0;
  int64_t Level = 0;
  for (int32_t K = 0; K < 256; ++K) {
    Left[K] = blimit(Level);
    Sum += Hist[K].Grey;
    while (Sum > Target) {
      Sum -= Target;
      ++Level;
    }
    Right[K] = blimit(Level);
  }
  // Computed from the bitmap as it was, then copied back.
  std::vector<TRGB> Out(static_cast<size_t>(R.Width()) * R.Height());
  bool NoAbort = false;
  const TProgressRec P = QLProgressRec(OnProgress, Sender, NoAbort);
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    const TRGB* Rows[3] = {reinterpret_cast<const TRGB*>(Bitmap.ScanLine(std::max(Y - 1, 0))),
                           reinterpret_cast<const TRGB*>(Bitmap.ScanLine(Y)),
                           reinterpret_cast<const TRGB*>(Bitmap.ScanLine(std::min(Y + 1, H - 1)))};
    TRGB* D = Out.data() + static_cast<size_t>(Y - R.Top) * R.Width();
    for (int32_t X = R.Left; X < R.Right; ++X) {
      const int32_t Xs[3] = {std::max(X - 1, 0), X, std::min(X + 1, W - 1)};
      int32_t SR = 0, SG = 0, SB = 0;
      for (const TRGB* Row : Rows)
        for (int32_t Xn : Xs) SR += Row[Xn].r, SG += Row[Xn].g, SB += Row[Xn].b;
      const TRGB Mean = CreateRGB(static_cast<uint8_t>(SR / 9), static_cast<uint8_t>(SG / 9),
                                  static_cast<uint8_t>(SB / 9));
      const TRGB& C = Rows[1][X];
      const uint32_t G = _RGBToGray(C), M = _RGBToGray(Mean);
      const uint8_t* Map = nullptr;
      if (Left[G] == Right[G] || M < Left[G])
        Map = Left;
      else if (M > Right[G])
        Map = Right;
      TRGB& O = D[X - R.Left];
      O = Map ? CreateRGB(Map[C.r], Map[C.g], Map[C.b]) : Mean;
    }
    QLRowProgress(P, Y, R.Top, R.Bottom - 1);
  }
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y)
    std::memcpy(Bitmap.ScanLine(Y) + R.Left * 3,
                Out.data() + static_cast<size_t>(Y - R.Top) * R.Width(),
                static_cast<size_t>(R.Width()) * 3);
  Bitmap.Modified();
}

// ---------------------------------------------------------------------------------------------
// Negative and blending

void _Negative(TBitmap& Bitmap, const TRect& Rect, const TQLProgressEvent& OnProgress,
               TObject* Sender) {
  if (Bitmap.GetPixelFormat() == pf1bit) {
    const TRect R = Clip(Bitmap, Rect);
    if (R.IsEmpty()) return;
    for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
      uint8_t* Row = Bitmap.ScanLine(Y);
      for (int32_t X = R.Left; X < R.Right; ++X)
        Row[X >> 3] ^= static_cast<uint8_t>(0x80 >> (X & 7));
    }
    Bitmap.Modified();
    return;
  }
  EachRow24(Bitmap, Rect, OnProgress, Sender, [](TRGB* Px, int32_t N, int32_t) {
    uint8_t* P = reinterpret_cast<uint8_t*>(Px);
    for (int32_t I = 0; I < 3 * N; ++I) P[I] = static_cast<uint8_t>(~P[I]);
  });
}

void _Negative1Bit(TBitmap& Bitmap) {
  if (Bitmap.GetPixelFormat() != pf1bit) return;
  uint8_t* P = Bitmap.Bits();
  for (int64_t I = 0; I < Bitmap.BitsSize(); ++I) P[I] = static_cast<uint8_t>(~P[I]);
  Bitmap.Modified();
}

void _Merge(TBitmap& Bitmap, const TBitmap& Other, int32_t Percentage, const TRect& Rect,
            const TQLProgressEvent& OnProgress, TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  const TRect R = Clip(Bitmap, Rect);
  if (R.IsEmpty()) return;
  TBitmap Scratch(R.Width(), R.Height(), pf24bit);
  if (!Other.Empty()) Scratch.Canvas().StretchDraw(TRect{0, 0, R.Width(), R.Height()}, Other);
  // Every result for a current value v and a stretched value w.
  std::vector<uint8_t> Blend(256 * 256);
  for (int32_t V = 0; V < 256; ++V)
    for (int32_t W = 0; W < 256; ++W)
      Blend[static_cast<size_t>(V) * 256 + W] =
          blimit(QLRound(static_cast<double>(int64_t{V} * Percentage) / 100 +
                         static_cast<double>(int64_t{W} * (100 - int64_t{Percentage})) / 100));
  EachRow24(Bitmap, R, OnProgress, Sender, [&](TRGB* Px, int32_t N, int32_t Y) {
    const uint8_t* S = Scratch.ScanLine(Y - R.Top);
    uint8_t* P = reinterpret_cast<uint8_t*>(Px);
    for (int32_t I = 0; I < 3 * N; ++I) P[I] = Blend[static_cast<size_t>(P[I]) * 256 + S[I]];
  });
}

// ---------------------------------------------------------------------------------------------
// Channel extraction

namespace {

// Runs Fn(source row, row index) over the whole 24-bit bitmap after sizing each output, with the
// extraction's progress: trunc(row x 100 / height), rows from 0.
template <typename TFn>
void EachSourceRow(const TBitmap& Bitmap, std::initializer_list<TBitmap*> Outputs,
                   const TQLProgressEvent& OnProgress, TObject* Sender, TFn&& Fn) {
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  for (TBitmap* O : Outputs) O->Recreate(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    if (OnProgress) OnProgress(Sender, QLTrunc(Y * 100.0 / H));
    Fn(reinterpret_cast<const TRGB*>(Bitmap.ScanLine(Y)), Y);
  }
  for (TBitmap* O : Outputs) O->Modified();
}

void PutGrey(uint8_t* Row, int32_t X, uint8_t V) {
  uint8_t* P = Row + X * 3;
  P[0] = P[1] = P[2] = V;
}

// The grey levels of hue, saturation and value.
uint8_t HueGrey(int32_t H) {
  return static_cast<uint8_t>(QLTrunc(H / 359.0 * 255));
}
uint8_t ScaleGrey(int32_t S) {
  return static_cast<uint8_t>(QLTrunc(S / 99.0 * 255));
}

}  // namespace

std::unique_ptr<TBitmap> _GetRGBChannel(const TBitmap& Bitmap, int32_t Channel,
                                        const TQLProgressEvent& OnProgress, TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit) return nullptr;
  const int32_t C = Channel < 0 || Channel > 2 ? 2 : Channel;
  auto Out = std::make_unique<TBitmap>();
  EachSourceRow(Bitmap, {Out.get()}, OnProgress, Sender, [&](const TRGB* Row, int32_t Y) {
    const uint8_t* S = reinterpret_cast<const uint8_t*>(Row);
    uint8_t* D = Out->ScanLine(Y);
    for (int32_t X = 0; X < Bitmap.GetWidth(); ++X) PutGrey(D, X, S[X * 3 + C]);
  });
  return Out;
}

std::unique_ptr<TBitmap> _GetHSVChannel(const TBitmap& Bitmap, int32_t Channel,
                                        const TQLProgressEvent& OnProgress, TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit) return nullptr;
  auto Out = std::make_unique<TBitmap>();
  EachSourceRow(Bitmap, {Out.get()}, OnProgress, Sender, [&](const TRGB* Row, int32_t Y) {
    uint8_t* D = Out->ScanLine(Y);
    for (int32_t X = 0; X < Bitmap.GetWidth(); ++X) {
      int32_t H, S, V;
      RGB2HSV(Row[X], H, S, V);
      PutGrey(D, X, Channel == 1 ? ScaleGrey(S) : Channel == 2 ? ScaleGrey(V) : HueGrey(H));
    }
  });
  return Out;
}

void _GetRGBChannelAll(const TBitmap& Bitmap, TBitmap& Red, TBitmap& Green, TBitmap& Blue,
                       const TQLProgressEvent& OnProgress, TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  EachSourceRow(Bitmap, {&Red, &Green, &Blue}, OnProgress, Sender, [&](const TRGB* Row, int32_t Y) {
    uint8_t *R = Red.ScanLine(Y), *G = Green.ScanLine(Y), *B = Blue.ScanLine(Y);
    for (int32_t X = 0; X < Bitmap.GetWidth(); ++X) {
      PutGrey(R, X, Row[X].r);
      PutGrey(G, X, Row[X].g);
      PutGrey(B, X, Row[X].b);
    }
  });
}

void _GetHSVChannelAll(const TBitmap& Bitmap, TBitmap& Hue, TBitmap& Saturation, TBitmap& Value,
                       const TQLProgressEvent& OnProgress, TObject* Sender) {
  if (Bitmap.GetPixelFormat() != pf24bit) return;
  EachSourceRow(
      Bitmap, {&Hue, &Saturation, &Value}, OnProgress, Sender, [&](const TRGB* Row, int32_t Y) {
        uint8_t *HR = Hue.ScanLine(Y), *SR = Saturation.ScanLine(Y), *VR = Value.ScanLine(Y);
        for (int32_t X = 0; X < Bitmap.GetWidth(); ++X) {
          int32_t H, S, V;
          RGB2HSV(Row[X], H, S, V);
          PutGrey(HR, X, HueGrey(H));
          PutGrey(SR, X, ScaleGrey(S));
          PutGrey(VR, X, ScaleGrey(V));
        }
      });
}

}  // namespace quillo
