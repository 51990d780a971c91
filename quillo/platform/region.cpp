#include "quillo/platform/region.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillo {

namespace {

// Coordinates are compared after this slack so that integer vertices computed through doubles
// land on the integer they mean.
constexpr double kEps = 1e-7;

int32_t CeilI(double V) {
  double C = std::ceil(V - kEps);
  if (C < -1073741824.0) return -1073741824;
  if (C > 1073741824.0) return 1073741824;
  return static_cast<int32_t>(C);
}

// Merges two sorted lists of half-open spans with a set operation into Out.
void CombineSpans(const int32_t* A, uint32_t NA, const int32_t* B, uint32_t NB, TRegionOp Op,
                  std::vector<int32_t>& Out) {
  Out.clear();
  uint32_t IA = 0, IB = 0;  // index into the 2*N boundary arrays
  bool InA = false, InB = false, In = false;
  auto Eval = [Op](bool PA, bool PB) {
    switch (Op) {
      case rgnAnd:
        return PA && PB;
      case rgnOr:
        return PA || PB;
      case rgnXor:
        return PA != PB;
      case rgnDiff:
        return PA && !PB;
      default:
        return PA;
    }
  };
  while (IA < NA * 2 || IB < NB * 2) {
    int32_t XA = IA < NA * 2 ? A[IA] : std::numeric_limits<int32_t>::max();
    int32_t XB = IB < NB * 2 ? B[IB] : std::numeric_limits<int32_t>::max();
    int32_t X = std::min(XA, XB);
    if (XA == X) {
      InA = !InA;
      ++IA;
    }
    if (XB == X) {
      InB = !InB;
      ++IB;
    }
    bool Now = Eval(InA, InB);
    if (Now != In) {
      // A span that closes where the previous one opened vanishes; one that opens where the
      // previous closed joins it.
      if (Now && !Out.empty() && Out.back() == X)
        Out.pop_back();
      else
        Out.push_back(X);
      In = Now;
    }
  }
  // Drop empty spans that could arise from equal boundaries.
  size_t W = 0;
  for (size_t I = 0; I + 1 < Out.size(); I += 2)
    if (Out[I] < Out[I + 1]) {
      Out[W++] = Out[I];
      Out[W++] = Out[I + 1];
    }
  Out.resize(W);
}

}  // namespace

void TRegionBuilder::AddBand(int32_t Top, int32_t Bottom, const int32_t* X, uint32_t Count) {
  if (Count == 0 || Bottom <= Top) return;
  auto& Bands = FRegion.FBands;
  auto& XS = FRegion.FX;
  if (!Bands.empty()) {
    TRegion::TBand& Last = Bands.back();
    if (Last.Bottom == Top && Last.Count == Count &&
        std::equal(X, X + Count * 2, XS.begin() + Last.First)) {
      Last.Bottom = Bottom;
      return;
    }
  }
  Bands.push_back(TRegion::TBand{Top, Bottom, static_cast<uint32_t>(XS.size()), Count});
  XS.insert(XS.end(), X, X + Count * 2);
}

TRegion::TRegion(const TRect& R) {
  if (R.IsEmpty()) return;
  int32_t X[2] = {R.Left, R.Right};
  TBuilder B;
  B.AddBand(R.Top, R.Bottom, X, 1);
  *this = B.Finish();
}

bool TRegion::SameBands(const TRegion& B) const {
  for (size_t I = 0; I < FBands.size(); ++I) {
    const TBand &P = FBands[I], &Q = B.FBands[I];
    if (P.Top != Q.Top || P.Bottom != Q.Bottom || P.Count != Q.Count) return false;
  }
  return true;
}

TRect TRegion::GetBounds() const {
  if (FBands.empty()) return TRect{};
  TRect R{std::numeric_limits<int32_t>::max(), FBands.front().Top,
          std::numeric_limits<int32_t>::min(), FBands.back().Bottom};
  for (const TBand& B : FBands) {
    R.Left = std::min(R.Left, FX[B.First]);
    R.Right = std::max(R.Right, FX[B.First + B.Count * 2 - 1]);
  }
  return R;
}

const TRegion::TBand* TRegion::BandAt(int32_t Y, size_t& Hint) const {
  if (FBands.empty()) return nullptr;
  if (Hint >= FBands.size() || FBands[Hint].Top > Y) {
    // Binary search for the first band whose Bottom is beyond Y.
    auto It = std::upper_bound(FBands.begin(), FBands.end(), Y,
                               [](int32_t V, const TBand& B) { return V < B.Bottom; });
    Hint = static_cast<size_t>(It - FBands.begin());
  } else {
    while (Hint < FBands.size() && FBands[Hint].Bottom <= Y) ++Hint;
  }
  if (Hint < FBands.size() && FBands[Hint].Top <= Y) return &FBands[Hint];
  return nullptr;
}

bool TRegion::Contains(int32_t X, int32_t Y) const {
  size_t Hint = FBands.size();
  const TBand* B = BandAt(Y, Hint);
  if (!B) return false;
  const int32_t* S = SpanX(*B);
  for (uint32_t I = 0; I < B->Count; ++I)
    if (X >= S[I * 2] && X < S[I * 2 + 1]) return true;
  return false;
}

int64_t TRegion::Area() const {
  int64_t A = 0;
  for (const TBand& B : FBands) {
    int64_t W = 0;
    for (uint32_t I = 0; I < B.Count; ++I) W += FX[B.First + I * 2 + 1] - FX[B.First + I * 2];
    A += W * (B.Bottom - B.Top);
  }
  return A;
}

void TRegion::Offset(int32_t DX, int32_t DY) {
  for (TBand& B : FBands) {
    B.Top += DY;
    B.Bottom += DY;
  }
  for (int32_t& X : FX) X += DX;
}

void TRegion::Clear() {
  FBands.clear();
  FX.clear();
}

TRegion TRegion::Combine(const TRegion& A, const TRegion& B, TRegionOp Op) {
  if (Op == rgnCopy) return A;
  if (Op == rgnAnd && (A.IsEmpty() || B.IsEmpty())) return TRegion();
  if ((Op == rgnOr || Op == rgnXor) && B.IsEmpty()) return A;
  if ((Op == rgnOr || Op == rgnXor) && A.IsEmpty()) return B;
  if (Op == rgnDiff && (A.IsEmpty() || B.IsEmpty())) return A;
  TBuilder Out;
  std::vector<int32_t> Spans;
  size_t IA = 0, IB = 0;
  int32_t Y = std::min(A.FBands.front().Top, B.FBands.front().Top);
  const int32_t YEnd = std::max(A.FBands.back().Bottom, B.FBands.back().Bottom);
  while (Y < YEnd) {
    while (IA < A.FBands.size() && A.FBands[IA].Bottom <= Y) ++IA;
    while (IB < B.FBands.size() && B.FBands[IB].Bottom <= Y) ++IB;
    // The slice [Y, Next) where neither region changes.
    int32_t Next = YEnd;
    const TBand* BA = nullptr;
    const TBand* BB = nullptr;
    if (IA < A.FBands.size()) {
      const TBand& Q = A.FBands[IA];
      if (Q.Top <= Y) {
        BA = &Q;
        Next = std::min(Next, Q.Bottom);
      } else {
        Next = std::min(Next, Q.Top);
      }
    }
    if (IB < B.FBands.size()) {
      const TBand& Q = B.FBands[IB];
      if (Q.Top <= Y) {
        BB = &Q;
        Next = std::min(Next, Q.Bottom);
      } else {
        Next = std::min(Next, Q.Top);
      }
    }
    if (BA || BB) {
      CombineSpans(BA ? A.SpanX(*BA) : nullptr, BA ? BA->Count : 0, BB ? B.SpanX(*BB) : nullptr,
                   BB ? BB->Count : 0, Op, Spans);
      Out.AddBand(Y, Next, Spans.data(), static_cast<uint32_t>(Spans.size() / 2));
    }
    Y = Next;
  }
  return Out.Finish();
}

TRegion TRegion::FromPolygons(const TPointF* Points, const int32_t* Counts, int32_t Contours,
                              TPolyFillMode Mode, const TRect* Limit) {
  struct TEdge {
    double X0, Y0, Slope, Y1;
    int32_t Dir;
    int32_t RowFirst, RowEnd;  // rows [RowFirst, RowEnd) the edge crosses
  };
  std::vector<TEdge> Edges;
  const TPointF* P = Points;
  for (int32_t C = 0; C < Contours; ++C) {
    int32_t N = Counts[C];
    for (int32_t I = 0; I < N; ++I) {
      TPointF A = P[I], B = P[(I + 1) % N];
      if (!std::isfinite(A.X) || !std::isfinite(A.Y) || !std::isfinite(B.X) || !std::isfinite(B.Y))
        continue;
      int32_t Dir = 1;
      if (A.Y > B.Y) {
        std::swap(A, B);
        Dir = -1;
      }
      // Rows whose centre lies in [A.Y, B.Y): the top end belongs to the edge, the bottom not.
      int32_t R0 = CeilI(A.Y), R1 = CeilI(B.Y);
      if (Limit) {
        R0 = std::max(R0, Limit->Top);
        R1 = std::min(R1, Limit->Bottom);
      }
      if (R0 >= R1) continue;
      Edges.push_back(TEdge{A.X, A.Y, (B.X - A.X) / (B.Y - A.Y), B.Y, Dir, R0, R1});
    }
    P += N;
  }
  TBuilder Out;
  if (Edges.empty()) return Out.Finish();
  std::sort(Edges.begin(), Edges.end(),
            [](const TEdge& L, const TEdge& R) { return L.RowFirst < R.RowFirst; });
  struct TCross {
    double X;
    int32_t Dir;
  };
  std::vector<const TEdge*> Active;
  std::vector<TCross> Cross;
  std::vector<int32_t> Spans;
  size_t NextEdge = 0;
  int32_t Y = Edges.front().RowFirst;
  while (NextEdge < Edges.size() || !Active.empty()) {
    if (Active.empty() && NextEdge < Edges.size()) Y = std::max(Y, Edges[NextEdge].RowFirst);
    while (NextEdge < Edges.size() && Edges[NextEdge].RowFirst <= Y)
      Active.push_back(&Edges[NextEdge++]);
    Active.erase(std::remove_if(Active.begin(), Active.end(),
                                [Y](const TEdge* E) { return E->RowEnd <= Y; }),
                 Active.end());
    if (Active.empty()) continue;
    Cross.clear();
    for (const TEdge* E : Active) Cross.push_back(TCross{E->X0 + (Y - E->Y0) * E->Slope, E->Dir});
    std::sort(Cross.begin(), Cross.end(),
              [](const TCross& L, const TCross& R) { return L.X < R.X; });
    Spans.clear();
    auto Push = [&Spans, Limit](int32_t X0, int32_t X1) {
      if (Limit) {
        X0 = std::max(X0, Limit->Left);
        X1 = std::min(X1, Limit->Right);
      }
      if (X1 <= X0) return;
      if (!Spans.empty() && Spans.back() >= X0) {
        Spans.back() = std::max(Spans.back(), X1);
        return;
      }
      Spans.push_back(X0);
      Spans.push_back(X1);
    };
    if (Mode == pfmAlternate) {
      for (size_t I = 0; I + 1 < Cross.size(); I += 2)
        Push(CeilI(Cross[I].X), CeilI(Cross[I + 1].X));
    } else {
      int32_t Wind = 0;
      double Start = 0;
      for (const TCross& C : Cross) {
        int32_t Before = Wind;
        Wind += C.Dir;
        if (Before == 0 && Wind != 0) Start = C.X;
        if (Before != 0 && Wind == 0) Push(CeilI(Start), CeilI(C.X));
      }
    }
    Out.AddRow(Y, Spans.data(), static_cast<uint32_t>(Spans.size() / 2));
    ++Y;
  }
  return Out.Finish();
}

TRegion TRegion::FromPolygon(const TPoint* Points, int32_t Count, TPolyFillMode Mode,
                             const TRect* Limit) {
  std::vector<TPointF> F(static_cast<size_t>(std::max(Count, 0)));
  for (int32_t I = 0; I < Count; ++I)
    F[static_cast<size_t>(I)] = TPointF{double(Points[I].X), double(Points[I].Y)};
  return FromPolygons(F.data(), &Count, 1, Mode, Limit);
}

namespace {

// Half the width of the ellipse inscribed in a box of W x H pixels, at row offset DY from its
// centre row. The radii reach half a pixel beyond the outermost centres so that the box's edge
// pixels belong to the ellipse.
double EllipseHalfWidth(double W, double H, double DY) {
  double RX = W / 2.0, RY = H / 2.0;
  double T = DY / RY;
  double Q = 1.0 - T * T;
  return Q <= 0 ? 0.0 : RX * std::sqrt(Q);
}

}  // namespace

TRegion TRegion::FromEllipse(const TRect& R, const TRect* Limit) {
  return FromRoundRect(R, R.Width(), R.Height(), Limit);
}

TRegion TRegion::FromRoundRect(const TRect& R, int32_t W, int32_t H, const TRect* Limit) {
  TBuilder Out;
  if (R.IsEmpty()) return Out.Finish();
  W = std::clamp(W, 0, R.Width());
  H = std::clamp(H, 0, R.Height());
  TRect L = R;
  if (Limit && !IntersectRect(L, R, *Limit)) return Out.Finish();
  if (W < 2 || H < 2) return TRegion(L);
  // Corner ellipse: W x H pixels; its centre row sits (H - 1) / 2 rows in from the edge.
  double CY = (H - 1) / 2.0, CX = (W - 1) / 2.0;
  int32_t X[2];
  for (int32_t Y = L.Top; Y < L.Bottom; ++Y) {
    double DTop = (Y - R.Top) - CY, DBottom = CY - (R.Bottom - 1 - Y);
    double DY = DTop < 0 ? DTop : (DBottom > 0 ? DBottom : 0.0);
    if (DY == 0) {
      X[0] = R.Left;
      X[1] = R.Right;
    } else {
      double HW = EllipseHalfWidth(W, H, DY);
      int32_t Inset = CeilI(CX - HW);
      X[0] = R.Left + Inset;
      X[1] = R.Right - Inset;
    }
    X[0] = std::max(X[0], L.Left);
    X[1] = std::min(X[1], L.Right);
    if (X[1] <= X[0]) continue;
    Out.AddRow(Y, X, 1);
  }
  return Out.Finish();
}

void TSpanCollector::Add(int32_t Y, int32_t X0, int32_t X1) {
  if (X1 > X0) FSpans.push_back(TSpan{Y, X0, X1});
}

TRegion TSpanCollector::Finish() {
  std::sort(FSpans.begin(), FSpans.end(),
            [](const TSpan& A, const TSpan& B) { return A.Y != B.Y ? A.Y < B.Y : A.X0 < B.X0; });
  TRegion::TBuilder Out;
  std::vector<int32_t> Row;
  size_t I = 0;
  while (I < FSpans.size()) {
    int32_t Y = FSpans[I].Y;
    Row.clear();
    for (; I < FSpans.size() && FSpans[I].Y == Y; ++I) {
      if (!Row.empty() && Row.back() >= FSpans[I].X0) {
        Row.back() = std::max(Row.back(), FSpans[I].X1);
      } else {
        Row.push_back(FSpans[I].X0);
        Row.push_back(FSpans[I].X1);
      }
    }
    Out.AddRow(Y, Row.data(), static_cast<uint32_t>(Row.size() / 2));
  }
  FSpans.clear();
  return Out.Finish();
}

}  // namespace quillo
