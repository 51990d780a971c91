#include "quillo/platform/canvas.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <unordered_map>

namespace quillo {

// ---------------------------------------------------------------------------------------------
// Pixel access shared by every operation.

namespace {

// A view of the bitmap's pixels as integer values: blue | green << 8 | red << 16 for 24 and 32
// bits, the packed word for 15 and 16 bits, the palette index for indexed formats. Raster
// operations work bitwise on these values, as the device rules want.
struct TSurface {
  uint8_t* Bits = nullptr;
  int32_t W = 0, H = 0, RowLen = 0, Depth = 0;
  uint32_t Mask = 0;
  const std::vector<TRGBQuad>* Pal = nullptr;

  explicit TSurface(TBitmap& B) {
    W = B.GetWidth();
    H = B.GetHeight();
    RowLen = B.RowLen();
    Bits = B.Bits();
    Pal = &B.GetPalette();
    TPixelFormat PF = B.GetPixelFormat();
    Depth = PF == pf15bit ? 15 : QLStorageBitCount(PF);
    Mask = Depth >= 24 ? 0xFFFFFFu : Depth == 15 ? 0x7FFFu : (1u << Depth) - 1u;
  }
  uint8_t* Row(int32_t Y) const { return Bits + static_cast<size_t>(H - 1 - Y) * RowLen; }

  uint32_t Get(const uint8_t* R, int32_t X) const {
    switch (Depth) {
      case 1:
        return (R[X >> 3] >> (7 - (X & 7))) & 1u;
      case 4:
        return (X & 1) ? (R[X >> 1] & 0x0Fu) : (R[X >> 1] >> 4);
      case 8:
        return R[X];
      case 15:
      case 16:
        return R[X * 2] | (R[X * 2 + 1] << 8);
      case 24:
        return R[X * 3] | (R[X * 3 + 1] << 8) | (static_cast<uint32_t>(R[X * 3 + 2]) << 16);
      case 32:
        return R[X * 4] | (R[X * 4 + 1] << 8) | (static_cast<uint32_t>(R[X * 4 + 2]) << 16);
      default:
        return 0;
    }
  }
  void Put(uint8_t* R, int32_t X, uint32_t V) const {
    switch (Depth) {
      case 1: {
        uint8_t M = static_cast<uint8_t>(0x80 >> (X & 7));
        R[X >> 3] = (V & 1) ? (R[X >> 3] | M) : (R[X >> 3] & ~M);
        break;
      }
      case 4:
        R[X >> 1] = (X & 1) ? static_cast<uint8_t>((R[X >> 1] & 0xF0) | (V & 0x0F))
                            : static_cast<uint8_t>((R[X >> 1] & 0x0F) | ((V & 0x0F) << 4));
        break;
      case 8:
        R[X] = static_cast<uint8_t>(V);
        break;
      case 15:
      case 16:
        R[X * 2] = static_cast<uint8_t>(V);
        R[X * 2 + 1] = static_cast<uint8_t>(V >> 8);
        break;
      case 24:
        R[X * 3] = static_cast<uint8_t>(V);
        R[X * 3 + 1] = static_cast<uint8_t>(V >> 8);
        R[X * 3 + 2] = static_cast<uint8_t>(V >> 16);
        break;
      case 32:
        R[X * 4] = static_cast<uint8_t>(V);
        R[X * 4 + 1] = static_cast<uint8_t>(V >> 8);
        R[X * 4 + 2] = static_cast<uint8_t>(V >> 16);
        R[X * 4 + 3] = 0;
        break;
      default:
        break;
    }
  }

  // The pixel value of a colour: the nearest palette entry for indexed formats.
  uint32_t FromColor(TColor C) const {
    C = ColorToRGB(C);
    uint32_t R = GetRValue(C), G = GetGValue(C), B = GetBValue(C);
    switch (Depth) {
      case 15:
        return ((R >> 3) << 10) | ((G >> 3) << 5) | (B >> 3);
      case 16:
        return ((R >> 3) << 11) | ((G >> 2) << 5) | (B >> 3);
      case 24:
      case 32:
        return B | (G << 8) | (R << 16);
      default:
        break;
    }
    uint32_t Best = 0;
    int32_t BestD = INT32_MAX;
    for (uint32_t I = 0; I < Pal->size() && I <= Mask; ++I) {
      const TRGBQuad& Q = (*Pal)[I];
      int32_t DR = Q.rgbRed - int32_t(R), DG = Q.rgbGreen - int32_t(G), DB = Q.rgbBlue - int32_t(B);
      int32_t D = DR * DR + DG * DG + DB * DB;
      if (D < BestD) {
        BestD = D;
        Best = I;
      }
    }
    return Best;
  }
  TColor ToColor(uint32_t V) const {
    switch (Depth) {
      case 15: {
        uint32_t R = (V >> 10) & 31, G = (V >> 5) & 31, B = V & 31;
        return RGBColor(uint8_t((R << 3) | (R >> 2)), uint8_t((G << 3) | (G >> 2)),
                        uint8_t((B << 3) | (B >> 2)));
      }
      case 16: {
        uint32_t R = (V >> 11) & 31, G = (V >> 5) & 63, B = V & 31;
        return RGBColor(uint8_t((R << 3) | (R >> 2)), uint8_t((G << 2) | (G >> 4)),
                        uint8_t((B << 3) | (B >> 2)));
      }
      case 24:
      case 32:
        return RGBColor(uint8_t(V >> 16), uint8_t(V >> 8), uint8_t(V));
      default:
        if (V < Pal->size())
          return RGBColor((*Pal)[V].rgbRed, (*Pal)[V].rgbGreen, (*Pal)[V].rgbBlue);
        return clBlack;
    }
  }
};

// Binary raster operation by its code 1..16: bit ((P << 1) | D) of Code - 1 is the result.
inline uint32_t Rop2(uint32_t T, uint32_t P, uint32_t D) {
  switch (T) {
    case 12:
      return P;
    case 6:
      return P ^ D;
    case 5:
      return ~D;
    case 10:
      return D;
    default:
      break;
  }
  uint32_t R = 0;
  if (T & 1) R |= ~P & ~D;
  if (T & 2) R |= ~P & D;
  if (T & 4) R |= P & ~D;
  if (T & 8) R |= P & D;
  return R;
}

// Ternary raster operation: bit ((P << 2) | (S << 1) | D) of the table is the result.
inline uint32_t Rop3(uint32_t T, uint32_t P, uint32_t S, uint32_t D) {
  switch (T) {
    case 0xCC:
      return S;
    case 0x66:
      return S ^ D;
    case 0x88:
      return S & D;
    case 0xEE:
      return S | D;
    case 0x33:
      return ~S;
    case 0x55:
      return ~D;
    case 0xF0:
      return P;
    case 0xC0:
      return P & S;
    default:
      break;
  }
  uint32_t R = 0;
  for (uint32_t I = 0; I < 8; ++I)
    if (T & (1u << I)) R |= ((I & 4) ? P : ~P) & ((I & 2) ? S : ~S) & ((I & 1) ? D : ~D);
  return R;
}

// Pen modes as binary raster operation codes (1 black .. 16 white).
constexpr uint8_t kRop2OfMode[16] = {1, 16, 11, 6, 13, 4, 14, 5, 12, 3, 15, 2, 9, 8, 7, 10};

// Hatch patterns, eight rows from the top, the most significant bit leftmost; aligned to the
// canvas origin.
constexpr uint8_t kHatches[6][8] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF},  // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
};

// Cosmetic pen styles: on and off runs in pixels along the major axis, starting on.
struct TDash {
  const uint8_t* Runs;
  int32_t N;
  int32_t Period;
  bool On(int64_t Pos) const {
    int64_t P = Pos % Period;
    for (int32_t I = 0; I < N; ++I) {
      if (P < Runs[I]) return (I & 1) == 0;
      P -= Runs[I];
    }
    return false;
  }
};
constexpr uint8_t kDashRuns[] = {18, 6};
constexpr uint8_t kDotRuns[] = {3, 3};
constexpr uint8_t kDashDotRuns[] = {9, 6, 3, 6};
constexpr uint8_t kDashDotDotRuns[] = {9, 3, 3, 3, 3, 3};

const TDash* DashOf(TPenStyle S) {
  static const TDash D[4] = {
      {kDashRuns, 2, 24}, {kDotRuns, 2, 6}, {kDashDotRuns, 4, 24}, {kDashDotDotRuns, 6, 24}};
  switch (S) {
    case psDash:
      return &D[0];
    case psDot:
      return &D[1];
    case psDashDot:
      return &D[2];
    case psDashDotDot:
      return &D[3];
    default:
      return nullptr;
  }
}

int64_t FloorDiv(int64_t A, int64_t B) {
  int64_t Q = A / B;
  if ((A % B != 0) && ((A < 0) != (B < 0))) --Q;
  return Q;
}
int64_t CeilDiv(int64_t A, int64_t B) {
  return -FloorDiv(-A, B);
}

// Appends horizontal runs of pixels to a collector, joining neighbours on one row.
struct TRunBuilder {
  TSpanCollector* C;
  bool Active = false;
  int32_t Y = 0, X0 = 0, X1 = 0;
  void Add(int32_t X, int32_t PY) {
    if (Active && PY == Y && X == X1) {
      ++X1;
      return;
    }
    if (Active && PY == Y && X == X0 - 1) {
      --X0;
      return;
    }
    Flush();
    Active = true;
    Y = PY;
    X0 = X;
    X1 = X + 1;
  }
  void Flush() {
    if (Active) C->Add(Y, X0, X1);
    Active = false;
  }
};

// One cosmetic segment from A to B without B. Ties between two pixels go to the smaller minor
// coordinate, whichever way the line runs, so a line and its reverse cover the same pixels
// apart from the end points. Only the part inside L is walked. Sink(X, Y, On) takes each pixel,
// On false for the gaps of a styled pen.
template <class TSink>
void ThinSegment(TPoint A, TPoint B, const TRect& L, TSink& Sink, const TDash* Dash,
                 int64_t DashPos) {
  int64_t DX = int64_t(B.X) - A.X, DY = int64_t(B.Y) - A.Y;
  int64_t ADX = DX < 0 ? -DX : DX, ADY = DY < 0 ? -DY : DY;
  int64_t Len = std::max(ADX, ADY);
  if (Len == 0) return;
  bool XMajor = ADX > ADY;
  int64_t Major = XMajor ? ADX : ADY, Minor = XMajor ? ADY : ADX;
  int64_t MajInc = XMajor ? (DX < 0 ? -1 : 1) : (DY < 0 ? -1 : 1);
  int64_t MinInc = XMajor ? (DY < 0 ? -1 : 1) : (DX < 0 ? -1 : 1);
  int64_t Start = XMajor ? A.X : A.Y, MinStart = XMajor ? A.Y : A.X;
  int64_t Lo = XMajor ? L.Left : L.Top, Hi = XMajor ? L.Right : L.Bottom;  // [Lo, Hi)
  int64_t K0 = 0, K1 = Len;
  if (MajInc > 0) {
    K0 = std::max(K0, Lo - Start);
    K1 = std::min(K1, Hi - Start);
  } else {
    K0 = std::max(K0, Start - Hi + 1);
    K1 = std::min(K1, Start - Lo + 1);
  }
  if (K0 >= K1) return;
  // Minor offset at step K: ceil((2 Minor K - Major) / 2 Major) when the minor coordinate
  // grows, floor((2 Minor K + Major) / 2 Major) when it shrinks. Found once by division, then
  // kept with the remainder R of the division.
  const int64_t Den = 2 * Major, Step = 2 * Minor;
  int64_t M, R;
  if (MinInc > 0) {
    int64_t Num = Step * K0 - Major;
    M = CeilDiv(Num, Den);
    R = Num - M * Den;  // in (-Den, 0]
  } else {
    int64_t Num = Step * K0 + Major;
    M = FloorDiv(Num, Den);
    R = Num - M * Den;  // in [0, Den)
  }
  for (int64_t K = K0; K < K1; ++K) {
    int64_t P = Start + K * MajInc, Q = MinStart + M * MinInc;
    int32_t X = static_cast<int32_t>(XMajor ? P : Q), Y = static_cast<int32_t>(XMajor ? Q : P);
    Sink(X, Y, !Dash || Dash->On(DashPos + K));
    R += Step;
    if (MinInc > 0) {
      if (R > 0) {
        ++M;
        R -= Den;
      }
    } else if (R >= Den) {
      ++M;
      R -= Den;
    }
  }
}

double SignedArea(const TPointF* P, size_t N) {
  double A = 0;
  for (size_t I = 0; I < N; ++I) {
    const TPointF &U = P[I], &V = P[(I + 1) % N];
    A += U.X * V.Y - V.X * U.Y;
  }
  return A;
}

// Appends a contour, reversed when needed so that all contours of a stroke turn the same way
// and a winding fill unites them.
void AddContour(std::vector<TPointF>& Pts, std::vector<int32_t>& Counts, std::vector<TPointF>& C) {
  if (C.size() < 3) return;
  if (SignedArea(C.data(), C.size()) < 0) std::reverse(C.begin(), C.end());
  Pts.insert(Pts.end(), C.begin(), C.end());
  Counts.push_back(static_cast<int32_t>(C.size()));
}

void AddDisc(std::vector<TPointF>& Pts, std::vector<int32_t>& Counts, double CX, double CY,
             double R) {
  int32_t N = std::clamp(static_cast<int32_t>(std::ceil(2 * std::numbers::pi * R / 1.5)), 8, 256);
  std::vector<TPointF> C(static_cast<size_t>(N));
  for (int32_t I = 0; I < N; ++I) {
    double A = 2 * std::numbers::pi * I / N;
    C[static_cast<size_t>(I)] = TPointF{CX + R * std::cos(A), CY + R * std::sin(A)};
  }
  AddContour(Pts, Counts, C);
}

// Splits the pixels of a thin curved outline into the dashes and gaps of a cosmetic style,
// counting pixels along the curve counterclockwise from the angle Start around (CX, CY).
void SplitDashes(const TRegion& Pix, double CX, double CY, double Start, const TDash& Dash,
                 TRegion& On, TRegion& Off) {
  struct TPix {
    double Key;
    int32_t X, Y;
  };
  std::vector<TPix> P;
  for (const TRegion::TBand& B : Pix.Bands()) {
    const int32_t* S = Pix.SpanX(B);
    for (int32_t Y = B.Top; Y < B.Bottom; ++Y)
      for (uint32_t I = 0; I < B.Count; ++I)
        for (int32_t X = S[I * 2]; X < S[I * 2 + 1]; ++X) {
          double A = std::atan2(-(Y - CY), X - CX);
          P.push_back(
              TPix{std::fmod(A - Start + 4 * std::numbers::pi, 2 * std::numbers::pi), X, Y});
        }
  }
  std::sort(P.begin(), P.end(), [](const TPix& A, const TPix& B) { return A.Key < B.Key; });
  TSpanCollector COn, COff;
  for (size_t I = 0; I < P.size(); ++I)
    (Dash.On(static_cast<int64_t>(I)) ? COn : COff).AddPixel(P[I].X, P[I].Y);
  On = COn.Finish();
  Off = COff.Finish();
}

TRegion Erode(const TRegion& S) {
  TRegion E = S, T = S;
  T.Offset(1, 0);
  E &= T;
  T = S;
  T.Offset(-1, 0);
  E &= T;
  T = S;
  T.Offset(0, 1);
  E &= T;
  T = S;
  T.Offset(0, -1);
  E &= T;
  return E;
}

// The pixels of R for which Keep(x, y) holds.
template <class F>
TRegion Filter(const TRegion& R, F Keep) {
  TSpanCollector C;
  TRunBuilder B{&C};
  for (const TRegion::TBand& Band : R.Bands()) {
    const int32_t* S = R.SpanX(Band);
    for (int32_t Y = Band.Top; Y < Band.Bottom; ++Y)
      for (uint32_t I = 0; I < Band.Count; ++I)
        for (int32_t X = S[I * 2]; X < S[I * 2 + 1]; ++X)
          if (Keep(X, Y)) B.Add(X, Y);
  }
  B.Flush();
  return C.Finish();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct TCanvas::TPaint {
  bool None = false;
  uint32_t Rop = 12;  // binary raster operation code minus one
  uint32_t Fg = 0;
  uint32_t Bg = 0;
  bool HasBg = false;
  const uint8_t* Hatch = nullptr;
  std::shared_ptr<std::vector<uint32_t>> Tile;  // pattern brush in pixel values
  int32_t TileW = 0, TileH = 0;

  uint32_t PatternAt(int32_t X, int32_t Y, bool& Draw) const {
    Draw = true;
    if (Hatch) {
      if ((Hatch[Y & 7] >> (7 - (X & 7))) & 1) return Fg;
      Draw = HasBg;
      return Bg;
    }
    if (Tile) {
      int32_t TX = ((X % TileW) + TileW) % TileW, TY = ((Y % TileH) + TileH) % TileH;
      return (
          *Tile)[static_cast<size_t>(TY) * static_cast<size_t>(TileW) + static_cast<size_t>(TX)];
    }
    return Fg;
  }
};

// ---------------------------------------------------------------------------------------------

void TPen::Assign(const TPen& Source) {
  FColor = Source.FColor;
  FWidth = Source.FWidth;
  FStyle = Source.FStyle;
  FMode = Source.FMode;
}

void TBrush::SetBitmap(const TBitmap* Bitmap) {
  if (!Bitmap || Bitmap->Empty()) {
    FBitmap.reset();
    return;
  }
  auto Copy = std::make_shared<TBitmap>();
  Copy->Assign(*Bitmap);
  FBitmap = std::move(Copy);
}

void TBrush::Assign(const TBrush& Source) {
  FColor = Source.FColor;
  FStyle = Source.FStyle;
  FBitmap = Source.FBitmap;
}

TCanvas::TCanvas(TBitmap* Bitmap) : FBitmap(Bitmap) {}
TCanvas::~TCanvas() = default;

bool TCanvas::Ready() const {
  return FBitmap && !FBitmap->Empty() && FBitmap->GetPixelFormat() != pfCustom &&
         FBitmap->BitsSize() > 0;
}

void TCanvas::Changing() {
  if (OnChanging) OnChanging(this);
}

void TCanvas::Changed() {
  if (FBitmap) FBitmap->Modified();
  if (OnChange) OnChange(this);
}

TRect TCanvas::Limit() const {
  TRect R = FBitmap ? Rect(0, 0, FBitmap->GetWidth(), FBitmap->GetHeight()) : TRect{};
  if (FHasClip) {
    TRect Out;
    IntersectRect(Out, R, FClip.GetBounds());
    return Out;
  }
  return R;
}

void TCanvas::SelectClipRegion(const TRegion& Region, TRegionOp Op) {
  if (Op == rgnCopy) {
    FClip = Region;
  } else {
    TRegion Base =
        FHasClip
            ? FClip
            : TRegion(FBitmap ? Rect(0, 0, FBitmap->GetWidth(), FBitmap->GetHeight()) : TRect{});
    FClip = TRegion::Combine(Base, Region, Op);
  }
  FHasClip = true;
}

void TCanvas::ClearClipRegion() {
  FHasClip = false;
  FClip.Clear();
}

void TCanvas::ExcludeClipRect(const TRect& R) {
  SelectClipRegion(TRegion(R), rgnDiff);
}

void TCanvas::IntersectClipRect(const TRect& R) {
  SelectClipRegion(TRegion(R), rgnAnd);
}

TRect TCanvas::GetClipRect() const {
  return Limit();
}

bool TCanvas::Opaque() const {
  return FBkMode == bkOpaque ||
         (FBkMode == bkAuto && FBrush.GetStyle() == bsSolid && FBrush.GetBitmap() == nullptr);
}

TColor TCanvas::BkColorNow() const {
  return FBkMode == bkAuto ? FBrush.GetColor() : FBkColor;
}

TCanvas::TPaint TCanvas::PenPaint() const {
  TPaint P;
  TSurface S(*FBitmap);
  P.Rop = kRop2OfMode[FPen.GetMode() & 15] - 1u;
  P.Fg = S.FromColor(FPen.GetColor());
  P.None = FPen.GetStyle() == psClear || P.Rop == 10;
  return P;
}

TCanvas::TPaint TCanvas::BkPaint(bool WithPenMode) const {
  TPaint P;
  TSurface S(*FBitmap);
  P.Rop = WithPenMode ? kRop2OfMode[FPen.GetMode() & 15] - 1u : 12u;
  P.Fg = S.FromColor(BkColorNow());
  P.None = !Opaque() || P.Rop == 10;
  return P;
}

TCanvas::TPaint TCanvas::BrushPaint(bool WithPenMode) const {
  TPaint P;
  TSurface S(*FBitmap);
  P.Rop = WithPenMode ? kRop2OfMode[FPen.GetMode() & 15] - 1u : 12u;
  if (const TBitmap* Pat = FBrush.GetBitmap()) {
    P.TileW = Pat->GetWidth();
    P.TileH = Pat->GetHeight();
    P.Tile = std::make_shared<std::vector<uint32_t>>(static_cast<size_t>(P.TileW) *
                                                     static_cast<size_t>(P.TileH));
    std::unordered_map<TColor, uint32_t> Map;
    TSurface PS(const_cast<TBitmap&>(*Pat));
    for (int32_t Y = 0; Y < P.TileH; ++Y)
      for (int32_t X = 0; X < P.TileW; ++X) {
        TColor C = PS.ToColor(PS.Get(PS.Row(Y), X));
        auto It = Map.find(C);
        uint32_t V = It != Map.end() ? It->second : (Map[C] = S.FromColor(C));
        (*P.Tile)[static_cast<size_t>(Y) * static_cast<size_t>(P.TileW) + static_cast<size_t>(X)] =
            V;
      }
  } else {
    TBrushStyle St = FBrush.GetStyle();
    if (St == bsClear) P.None = true;
    P.Fg = S.FromColor(FBrush.GetColor());
    if (St >= bsHorizontal && St <= bsDiagCross) {
      P.Hatch = kHatches[St - bsHorizontal];
      P.HasBg = FBkMode == bkOpaque;
      P.Bg = S.FromColor(FBkColor);
    }
  }
  if (P.Rop == 10) P.None = true;
  return P;
}

namespace {
// Fills [X0, X1) of row Y, which lie inside the bitmap.
void FillSpanPaint(const TSurface& S, int32_t Y, int32_t X0, int32_t X1, const TCanvas::TPaint& P);
}  // namespace

void TCanvas::PaintRegion(const TRegion& Region, const TPaint& Paint, const TRect* ExtraClip) {
  if (Paint.None || Region.IsEmpty() || !Ready()) return;
  TSurface S(*FBitmap);
  TRect L = Limit();
  if (ExtraClip && !IntersectRect(L, L, *ExtraClip)) return;
  size_t ClipHint = 0;
  for (const TRegion::TBand& Band : Region.Bands()) {
    if (Band.Bottom <= L.Top) continue;
    if (Band.Top >= L.Bottom) break;
    const int32_t* SX = Region.SpanX(Band);
    for (int32_t Y = std::max(Band.Top, L.Top); Y < std::min(Band.Bottom, L.Bottom); ++Y) {
      const TRegion::TBand* CB = nullptr;
      if (FHasClip) {
        CB = FClip.BandAt(Y, ClipHint);
        if (!CB) continue;
      }
      for (uint32_t I = 0; I < Band.Count; ++I) {
        int32_t A = std::max(SX[I * 2], L.Left), B = std::min(SX[I * 2 + 1], L.Right);
        if (A >= B) continue;
        if (!CB) {
          FillSpanPaint(S, Y, A, B, Paint);
          continue;
        }
        const int32_t* CX = FClip.SpanX(*CB);
        for (uint32_t J = 0; J < CB->Count; ++J) {
          int32_t C0 = std::max(A, CX[J * 2]), C1 = std::min(B, CX[J * 2 + 1]);
          if (C0 < C1) FillSpanPaint(S, Y, C0, C1, Paint);
        }
      }
    }
  }
}

namespace {

void FillSpanPaint(const TSurface& S, int32_t Y, int32_t X0, int32_t X1, const TCanvas::TPaint& P) {
  uint8_t* R = S.Row(Y);
  const uint32_t T = P.Rop;
  if (P.Hatch || P.Tile) {
    for (int32_t X = X0; X < X1; ++X) {
      bool Draw;
      uint32_t V = P.PatternAt(X, Y, Draw);
      if (Draw) S.Put(R, X, Rop2(T, V, S.Get(R, X)) & S.Mask);
    }
    return;
  }
  const uint32_t Fg = P.Fg;
  switch (S.Depth) {
    case 24: {
      uint8_t* D = R + X0 * 3;
      int32_t N = X1 - X0;
      if (T == 12) {
        uint8_t B = uint8_t(Fg), G = uint8_t(Fg >> 8), Rr = uint8_t(Fg >> 16);
        if (B == G && G == Rr && N >= 16) {
          std::memset(D, B, static_cast<size_t>(N) * 3);
        } else {
          for (int32_t I = 0; I < N; ++I, D += 3) {
            D[0] = B;
            D[1] = G;
            D[2] = Rr;
          }
        }
      } else {
        for (int32_t I = 0; I < N; ++I, D += 3) {
          uint32_t Old = D[0] | (D[1] << 8) | (uint32_t(D[2]) << 16);
          uint32_t V = Rop2(T, Fg, Old);
          D[0] = uint8_t(V);
          D[1] = uint8_t(V >> 8);
          D[2] = uint8_t(V >> 16);
        }
      }
      return;
    }
    case 1: {
      uint8_t PB = (Fg & 1) ? 0xFF : 0x00;
      int32_t X = X0;
      while (X < X1) {
        int32_t ByteI = X >> 3;
        int32_t Bit0 = X & 7;
        int32_t Take = std::min(8 - Bit0, X1 - X);
        uint8_t M = static_cast<uint8_t>((0xFF >> Bit0) & (0xFF << (8 - Bit0 - Take)));
        uint8_t D = R[ByteI];
        uint8_t V = static_cast<uint8_t>(Rop2(T, PB, D));
        R[ByteI] = static_cast<uint8_t>((V & M) | (D & ~M));
        X += Take;
        // Whole bytes in the middle.
        if (Take == 8 - Bit0 && X1 - X >= 8) {
          int32_t Bytes = (X1 - X) >> 3;
          uint8_t* P8 = R + (X >> 3);
          if (T == 12) {
            std::memset(P8, PB, static_cast<size_t>(Bytes));
          } else {
            for (int32_t K = 0; K < Bytes; ++K) P8[K] = static_cast<uint8_t>(Rop2(T, PB, P8[K]));
          }
          X += Bytes * 8;
        }
      }
      return;
    }
    case 8:
      if (T == 12) {
        std::memset(R + X0, int(Fg & 0xFF), static_cast<size_t>(X1 - X0));
        return;
      }
      [[fallthrough]];
    default:
      for (int32_t X = X0; X < X1; ++X) S.Put(R, X, Rop2(T, Fg, S.Get(R, X)) & S.Mask);
      return;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Strokes

TRegion TCanvas::StrokeWide(const TPoint* Points, int32_t Count, bool Closed, int32_t Width,
                            const TRect& L) const {
  const double R = Width / 2.0;
  // Even widths sit half a pixel up and left of the centre line, so that a width covers
  // exactly that many pixel rows or columns.
  const double Sh = (Width % 2 == 0) ? -0.5 : 0.0;
  const int32_t Segs = Closed ? Count : Count - 1;
  // A contour whose box misses the limit adds nothing inside it (all contours turn the same
  // way, so it cannot change a winding there either). The rest is filled a batch at a time and
  // the batches united: memory stays that of one batch however many points the path has, where
  // a disc of up to 256 vertices for each point of a long path would take hundreds of bytes per
  // byte of a drawing's data.
  constexpr size_t kBatch = 1 << 16;
  // Whether everything within R of the box from (X0, Y0) to (X1, Y1) lies outside the limit.
  auto Misses = [&](double X0, double Y0, double X1, double Y1) {
    return X1 + R < L.Left - 1 || X0 - R > L.Right + 1 || Y1 + R < L.Top - 1 ||
           Y0 - R > L.Bottom + 1;
  };
  // A disc holding every corner of the limit within its inscribed polygon covers all of it.
  const double In = R * std::cos(std::numbers::pi / 8);
  TRegion Out;
  std::vector<TPointF> Pts, C;
  std::vector<int32_t> Counts;
  auto Flush = [&] {
    if (Counts.empty()) return;
    TRegion Part = TRegion::FromPolygons(Pts.data(), Counts.data(),
                                         static_cast<int32_t>(Counts.size()), pfmWinding, &L);
    Out = Out.IsEmpty() ? std::move(Part) : TRegion::Combine(Out, Part, rgnOr);
    Pts.clear();
    Counts.clear();
  };
  for (int32_t I = 0; I < Count; ++I) {
    const double CX = Points[I].X + Sh, CY = Points[I].Y + Sh;
    if (Misses(CX, CY, CX, CY)) continue;
    auto Near = [&](double X, double Y) { return std::hypot(X - CX, Y - CY) <= In; };
    if (Near(L.Left, L.Top) && Near(L.Right, L.Top) && Near(L.Left, L.Bottom) &&
        Near(L.Right, L.Bottom))
      return TRegion(L);
    AddDisc(Pts, Counts, CX, CY, R);
    if (Pts.size() >= kBatch) Flush();
  }
  for (int32_t I = 0; I < Segs; ++I) {
    TPoint A = Points[I], B = Points[(I + 1) % Count];
    double DX = double(B.X) - A.X, DY = double(B.Y) - A.Y, Len = std::hypot(DX, DY);
    if (Len == 0) continue;
    double NX = -DY / Len * R, NY = DX / Len * R;
    C = {TPointF{A.X + Sh + NX, A.Y + Sh + NY}, TPointF{B.X + Sh + NX, B.Y + Sh + NY},
         TPointF{B.X + Sh - NX, B.Y + Sh - NY}, TPointF{A.X + Sh - NX, A.Y + Sh - NY}};
    if (Misses(std::min(A.X, B.X) + Sh, std::min(A.Y, B.Y) + Sh, std::max(A.X, B.X) + Sh,
               std::max(A.Y, B.Y) + Sh))
      continue;
    AddContour(Pts, Counts, C);
    if (Pts.size() >= kBatch) Flush();
  }
  Flush();
  return Out;
}

void TCanvas::Stroke(const TPoint* Points, int32_t Count, bool Closed, TSpanCollector& On,
                     TSpanCollector& Off, int64_t& DashPos) const {
  if (Count < 1) return;
  TRect L = Limit();
  InflateRect(L, 1, 1);
  int32_t W = FPen.GetWidth();
  if (W > 1) {
    const TRegion R = StrokeWide(Points, Count, Closed, W, L);
    for (const TRegion::TBand& B : R.Bands()) {
      const int32_t* X = R.SpanX(B);
      for (int32_t Y = B.Top; Y < B.Bottom; ++Y)
        for (uint32_t I = 0; I < B.Count; ++I) On.Add(Y, X[I * 2], X[I * 2 + 1]);
    }
    return;
  }
  const TDash* Dash = DashOf(FPen.GetStyle());
  TRunBuilder BOn{&On}, BOff{&Off};
  auto Sink = [&](int32_t X, int32_t Y, bool IsOn) { (IsOn ? BOn : BOff).Add(X, Y); };
  int32_t Segs = Closed ? Count : Count - 1;
  for (int32_t I = 0; I < Segs; ++I) {
    TPoint A = Points[I], B = Points[(I + 1) % Count];
    ThinSegment(A, B, L, Sink, Dash, DashPos);
    DashPos += std::max(std::abs(int64_t(B.X) - A.X), std::abs(int64_t(B.Y) - A.Y));
  }
  BOn.Flush();
  BOff.Flush();
}

void TCanvas::FillAndOutline(const TRegion& Fill, const TRegion& Outline, const TRegion* Gaps) {
  Changing();
  // The fill goes first and the outline over it; only modes where painting a pixel twice
  // differs from once need the outline cut out of the fill.
  TPenMode M = FPen.GetMode();
  bool Twice = !(M == pmCopy || M == pmBlack || M == pmWhite || M == pmNotCopy || M == pmMerge ||
                 M == pmMask || M == pmNop);
  TRegion F = (!Twice || Outline.IsEmpty()) ? Fill : TRegion::Combine(Fill, Outline, rgnDiff);
  if (Twice && Gaps && !Gaps->IsEmpty()) F = TRegion::Combine(F, *Gaps, rgnDiff);
  PaintRegion(F, BrushPaint(true));
  PaintRegion(Outline, PenPaint());
  if (Gaps && !Gaps->IsEmpty() && FPen.GetStyle() != psClear) PaintRegion(*Gaps, BkPaint(true));
  Changed();
}

void TCanvas::LineTo(int32_t X, int32_t Y) {
  TPoint P[2] = {FPenPos, Point(X, Y)};
  FPenPos = P[1];
  Polyline(P, 2);
}

void TCanvas::Polyline(const TPoint* Points, int32_t Count) {
  PolyPolyline(Points, &Count, 1);
}

void TCanvas::PolyPolyline(const TPoint* Points, const int32_t* Counts, int32_t Contours) {
  if (!Ready() || FPen.GetStyle() == psClear) return;
  if (FPen.GetWidth() <= 1) {
    // Cosmetic lines go straight to the pixels in runs: each segment is drawn on its own, as
    // the device does, so crossings of one polyline meet twice under xor.
    TPaint On = PenPaint(), Off = BkPaint(true);
    if (On.None && Off.None) return;
    Changing();
    TSurface S(*FBitmap);
    TRect L = Limit();
    const TDash* Dash = DashOf(FPen.GetStyle());
    size_t Hint = 0;
    struct TRun {
      bool Active = false, IsOn = false;
      int32_t Y = 0, X0 = 0, X1 = 0;
    } Run;
    auto Flush = [&] {
      if (!Run.Active) return;
      Run.Active = false;
      const TPaint& P = Run.IsOn ? On : Off;
      if (P.None || Run.Y < L.Top || Run.Y >= L.Bottom) return;
      int32_t A = std::max(Run.X0, L.Left), B = std::min(Run.X1, L.Right);
      if (A >= B) return;
      if (!FHasClip) {
        FillSpanPaint(S, Run.Y, A, B, P);
        return;
      }
      const TRegion::TBand* CB = FClip.BandAt(Run.Y, Hint);
      if (!CB) return;
      const int32_t* CX = FClip.SpanX(*CB);
      for (uint32_t J = 0; J < CB->Count; ++J) {
        int32_t C0 = std::max(A, CX[J * 2]), C1 = std::min(B, CX[J * 2 + 1]);
        if (C0 < C1) FillSpanPaint(S, Run.Y, C0, C1, P);
      }
    };
    auto Sink = [&](int32_t X, int32_t Y, bool IsOn) {
      if (Run.Active && Run.Y == Y && Run.IsOn == IsOn) {
        if (X == Run.X1) {
          ++Run.X1;
          return;
        }
        if (X == Run.X0 - 1) {
          --Run.X0;
          return;
        }
      }
      Flush();
      Run = TRun{true, IsOn, Y, X, X + 1};
    };
    const TPoint* P = Points;
    for (int32_t C = 0; C < Contours; ++C) {
      int64_t DashPos = 0;
      for (int32_t I = 0; I + 1 < Counts[C]; ++I) {
        ThinSegment(P[I], P[I + 1], L, Sink, Dash, DashPos);
        DashPos += std::max(std::abs(int64_t(P[I + 1].X) - P[I].X),
                            std::abs(int64_t(P[I + 1].Y) - P[I].Y));
        // Segments are separate drawings: a run never joins across them.
        Flush();
      }
      P += std::max(Counts[C], 0);
    }
    Changed();
    return;
  }
  TSpanCollector On, Off;
  const TPoint* P = Points;
  for (int32_t C = 0; C < Contours; ++C) {
    int64_t DashPos = 0;
    if (Counts[C] >= 2) Stroke(P, Counts[C], false, On, Off, DashPos);
    P += std::max(Counts[C], 0);
  }
  TRegion Gaps = Off.Finish();
  FillAndOutline(TRegion(), On.Finish(), &Gaps);
}

void TCanvas::Polygon(const TPoint* Points, int32_t Count) {
  PolyPolygon(Points, &Count, 1);
}

void TCanvas::PolyPolygon(const TPoint* Points, const int32_t* Counts, int32_t Contours) {
  if (!Ready()) return;
  TRect L = Limit();
  std::vector<TPointF> F;
  std::vector<int32_t> FC;
  TSpanCollector On, Off;
  const TPoint* P = Points;
  for (int32_t C = 0; C < Contours; ++C) {
    int32_t N = std::max(Counts[C], 0);
    if (N >= 2) {
      for (int32_t I = 0; I < N; ++I) F.push_back(TPointF{double(P[I].X), double(P[I].Y)});
      FC.push_back(N);
      int64_t DashPos = 0;
      if (FPen.GetStyle() != psClear) Stroke(P, N, true, On, Off, DashPos);
    }
    P += N;
  }
  TRegion Fill = TRegion::FromPolygons(F.data(), FC.data(), static_cast<int32_t>(FC.size()),
                                       FPolyFillMode, &L);
  TRegion Gaps = Off.Finish();
  FillAndOutline(Fill, On.Finish(), &Gaps);
}

// ---------------------------------------------------------------------------------------------
// Rectangles, ellipses and their parts

namespace {
enum TShapeKind { skRect, skEllipse, skRoundRect, skArc, skPie, skChord };
}

void TCanvas::DrawShape(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t Kind, int32_t CW,
                        int32_t CH, const TPoint* Radials) {
  if (!Ready()) return;
  int32_t L = std::min(X1, X2), T = std::min(Y1, Y2), R = std::max(X1, X2), B = std::max(Y1, Y2);
  TRect Lim = Limit();
  TRect LimB = Lim;
  InflateRect(LimB, 2, 2);
  const bool NoPen = FPen.GetStyle() == psClear;
  const int32_t W = std::max(FPen.GetWidth(), 1);
  auto ShapeOf = [&](TRect Box, int32_t Extra) -> TRegion {
    if (Box.IsEmpty()) return TRegion();
    switch (Kind) {
      case skRect:
        return TRegion(Box);
      case skRoundRect:
        return TRegion::FromRoundRect(Box, std::max(CW + Extra, 0), std::max(CH + Extra, 0), &LimB);
      default:
        return TRegion::FromEllipse(Box, &LimB);
    }
  };
  if (NoPen) {
    if (Kind == skArc) return;
    --R;
    --B;
  }
  if (FPen.GetStyle() == psInsideFrame && W > 1) {
    L += W / 2;
    T += W / 2;
    R -= W - 1 - W / 2;
    B -= W - 1 - W / 2;
  }
  if (R <= L || B <= T) return;
  TRegion Fill, Outline, Gaps;
  const TDash* Dash = W <= 1 ? DashOf(FPen.GetStyle()) : nullptr;
  if (NoPen) {
    Fill = ShapeOf(Rect(L, T, R, B), 0);
  } else if (W <= 1) {
    TRegion S = ShapeOf(Rect(L, T, R, B), 0);
    Outline = Kind == skRect
                  ? TRegion::Combine(S, TRegion(Rect(L + 1, T + 1, R - 1, B - 1)), rgnDiff)
                  : TRegion::Combine(S, Erode(S), rgnDiff);
    Fill = TRegion::Combine(S, Outline, rgnDiff);
  } else {
    int32_t A = W / 2, C = W - 1 - W / 2;
    TRegion Outer = ShapeOf(Rect(L - A, T - A, R + C, B + C), A + C);
    Fill = ShapeOf(Rect(L + C + 1, T + C + 1, R - A - 1, B - A - 1), -(A + C + 2));
    Outline = TRegion::Combine(Outer, Fill, rgnDiff);
  }
  if (Dash && Kind == skRect) {
    // Styled frames follow the outline clockwise from the top-left corner.
    TPoint Pts[4] = {Point(L, T), Point(R - 1, T), Point(R - 1, B - 1), Point(L, B - 1)};
    TSpanCollector On, Off;
    int64_t DashPos = 0;
    Stroke(Pts, 4, true, On, Off, DashPos);
    Outline = On.Finish();
    Gaps = Off.Finish();
  }
  if (Dash && (Kind == skEllipse || Kind == skRoundRect)) {
    TRegion On, Off;
    SplitDashes(Outline, (L + R - 1) / 2.0, (T + B - 1) / 2.0, 0, *Dash, On, Off);
    Outline = std::move(On);
    Gaps = std::move(Off);
  }
  if (Kind >= skArc) {
    // Radial angles are measured counterclockwise on screen (y grows downwards).
    double CX = (L + R - 1) / 2.0, CY = (T + B - 1) / 2.0;
    double RX = std::max((R - L - 1) / 2.0, 0.5), RY = std::max((B - T - 1) / 2.0, 0.5);
    double A0 = std::atan2(-(Radials[0].Y - CY), Radials[0].X - CX);
    double A1 = std::atan2(-(Radials[1].Y - CY), Radials[1].X - CX);
    if (FArcClockwise) std::swap(A0, A1);
    double Sweep = std::fmod(A1 - A0 + 4 * std::numbers::pi, 2 * std::numbers::pi);
    if (Sweep < 1e-12) Sweep = 2 * std::numbers::pi;
    auto InArc = [=](int32_t X, int32_t Y) {
      if (X == CX && Y == CY) return true;
      double A = std::atan2(-(Y - CY), X - CX);
      return std::fmod(A - A0 + 4 * std::numbers::pi, 2 * std::numbers::pi) <= Sweep + 1e-9;
    };
    auto OnEllipse = [&](double A) {
      double DX = std::cos(A), DY = -std::sin(A);
      double S = 1.0 / std::sqrt((DX / RX) * (DX / RX) + (DY / RY) * (DY / RY));
      return Point(QLRound32(CX + DX * S), QLRound32(CY + DY * S));
    };
    TPoint P0 = OnEllipse(A0), P1 = OnEllipse(A0 + Sweep);
    TRegion ArcPix = Filter(Outline, InArc);
    TSpanCollector On, Off;
    int64_t DashPos = 0;
    TPoint Centre = Point(QLRound32(CX), QLRound32(CY));
    if (Kind == skPie) {
      TPoint Pts[3] = {P1, Centre, P0};
      Stroke(Pts, 3, false, On, Off, DashPos);
      Fill = Filter(Fill, InArc);
    } else if (Kind == skChord) {
      TPoint Pts[2] = {P1, P0};
      Stroke(Pts, 2, false, On, Off, DashPos);
      // The chord keeps the side of the line P0-P1 where the arc runs.
      double MA = A0 + Sweep / 2;
      double MX = CX + std::cos(MA) * RX, MY = CY - std::sin(MA) * RY;
      auto Side = [&](double X, double Y) {
        return (P1.X - P0.X) * (Y - P0.Y) - (P1.Y - P0.Y) * (X - P0.X);
      };
      double MS = Side(MX, MY);
      Fill = Filter(Fill, [&](int32_t X, int32_t Y) {
        double S = Side(X, Y);
        return MS >= 0 ? S >= 0 : S <= 0;
      });
    } else {
      Fill.Clear();
    }
    if (Kind != skArc) {
      On.Add(P0.Y, P0.X, P0.X + 1);
      On.Add(P1.Y, P1.X, P1.X + 1);
    }
    TRegion Lines = On.Finish(), LineGaps = Off.Finish();
    if (Dash) {
      TRegion ArcOn, ArcOff;
      SplitDashes(ArcPix, CX, CY, A0, *Dash, ArcOn, ArcOff);
      ArcPix = std::move(ArcOn);
      LineGaps |= ArcOff;
    }
    Outline = TRegion::Combine(ArcPix, Lines, rgnOr);
    if (NoPen) Outline.Clear();
    Gaps = TRegion::Combine(LineGaps, Outline, rgnDiff);
  }
  if (NoPen) Outline.Clear();
  Lim = Limit();
  Fill &= TRegion(Lim);
  FillAndOutline(Fill, Outline, &Gaps);
}

void TCanvas::Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  DrawShape(X1, Y1, X2, Y2, skRect, 0, 0, nullptr);
}

void TCanvas::RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3) {
  DrawShape(X1, Y1, X2, Y2, skRoundRect, std::abs(X3), std::abs(Y3), nullptr);
}

void TCanvas::Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  DrawShape(X1, Y1, X2, Y2, skEllipse, 0, 0, nullptr);
}

void TCanvas::Arc(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3,
                  int32_t X4, int32_t Y4) {
  TPoint P[2] = {Point(X3, Y3), Point(X4, Y4)};
  DrawShape(X1, Y1, X2, Y2, skArc, 0, 0, P);
}

void TCanvas::Pie(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3,
                  int32_t X4, int32_t Y4) {
  TPoint P[2] = {Point(X3, Y3), Point(X4, Y4)};
  DrawShape(X1, Y1, X2, Y2, skPie, 0, 0, P);
}

void TCanvas::Chord(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3,
                    int32_t X4, int32_t Y4) {
  TPoint P[2] = {Point(X3, Y3), Point(X4, Y4)};
  DrawShape(X1, Y1, X2, Y2, skChord, 0, 0, P);
}

void TCanvas::FillRect(const TRect& R) {
  if (!Ready()) return;
  Changing();
  PaintRegion(TRegion(R), BrushPaint(false));
  Changed();
}

void TCanvas::FrameRect(const TRect& R) {
  if (!Ready() || R.IsEmpty()) return;
  Changing();
  TRegion F = TRegion::Combine(
      TRegion(R), TRegion(Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1)), rgnDiff);
  PaintRegion(F, BrushPaint(false));
  Changed();
}

void TCanvas::FillRegion(const TRegion& Region) {
  if (!Ready()) return;
  Changing();
  PaintRegion(Region, BrushPaint(false));
  Changed();
}

void TCanvas::InvertRect(const TRect& R) {
  InvertRegion(TRegion(R));
}

void TCanvas::InvertRegion(const TRegion& Region) {
  if (!Ready()) return;
  Changing();
  TPaint P;
  P.Rop = 5;  // not destination
  PaintRegion(Region, P);
  Changed();
}

void TCanvas::PatBlt(const TRect& R, TCopyMode Rop) {
  if (!Ready()) return;
  uint32_t T3 = (static_cast<uint32_t>(Rop) >> 16) & 0xFF;
  // Without the source a ternary operation reduces to a binary one over pattern and
  // destination: take the entries with S equal to P.
  uint32_t T2 =
      ((T3 >> 0) & 1) | (((T3 >> 1) & 1) << 1) | (((T3 >> 6) & 1) << 2) | (((T3 >> 7) & 1) << 3);
  Changing();
  TPaint P = BrushPaint(false);
  if (FBrush.GetStyle() == bsClear && !FBrush.GetBitmap()) {
    P.None = false;
    P.Hatch = nullptr;
  }
  P.Rop = T2;
  PaintRegion(TRegion(R), P);
  Changed();
}

// ---------------------------------------------------------------------------------------------
// Pixels and block transfers

TColor TCanvas::GetPixel(int32_t X, int32_t Y) const {
  if (!Ready() || X < 0 || Y < 0 || X >= FBitmap->GetWidth() || Y >= FBitmap->GetHeight())
    return clNone;
  TSurface S(*FBitmap);
  return S.ToColor(S.Get(S.Row(Y), X));
}

void TCanvas::SetPixel(int32_t X, int32_t Y, TColor Color) {
  if (!Ready() || !PtInRect(Limit(), Point(X, Y))) return;
  if (FHasClip && !FClip.Contains(X, Y)) return;
  Changing();
  TSurface S(*FBitmap);
  S.Put(S.Row(Y), X, S.FromColor(Color));
  Changed();
}

void TCanvas::Draw(int32_t X, int32_t Y, const TBitmap& Bitmap) {
  StretchBlt(Bounds(X, Y, Bitmap.GetWidth(), Bitmap.GetHeight()), Bitmap,
             Rect(0, 0, Bitmap.GetWidth(), Bitmap.GetHeight()), FCopyMode);
}

void TCanvas::StretchDraw(const TRect& Dest, const TBitmap& Bitmap) {
  StretchBlt(Dest, Bitmap, Rect(0, 0, Bitmap.GetWidth(), Bitmap.GetHeight()), FCopyMode);
}

void TCanvas::CopyRect(const TRect& Dest, const TCanvas& Source, const TRect& SourceRect) {
  if (!Source.FBitmap) return;
  StretchBlt(Dest, *Source.FBitmap, SourceRect, FCopyMode);
}

void TCanvas::StretchBlt(const TRect& Dest, const TBitmap& Source, const TRect& SR, TCopyMode Rop) {
  if (!Ready()) return;
  if (&Source == FBitmap) {
    // Overlapping copies within one bitmap read from a snapshot.
    TBitmap Copy;
    Copy.Assign(*FBitmap);
    StretchBlt(Dest, Copy, SR, Rop);
    return;
  }
  int64_t DW = int64_t(Dest.Right) - Dest.Left, DH = int64_t(Dest.Bottom) - Dest.Top;
  int64_t SW = int64_t(SR.Right) - SR.Left, SH = int64_t(SR.Bottom) - SR.Top;
  if (DW == 0 || DH == 0) return;
  uint32_t T3 = (static_cast<uint32_t>(Rop) >> 16) & 0xFF;
  bool NeedS = ((T3 >> 2) & 0x33) != (T3 & 0x33);
  if (NeedS && (SW == 0 || SH == 0 || Source.Empty() || Source.GetPixelFormat() == pfCustom))
    return;
  bool MirX = (DW < 0) != (SW < 0), MirY = (DH < 0) != (SH < 0);
  int64_t DX0 = std::min<int64_t>(Dest.Left, Dest.Right),
          DY0 = std::min<int64_t>(Dest.Top, Dest.Bottom);
  int64_t ADW = DW < 0 ? -DW : DW, ADH = DH < 0 ? -DH : DH;
  int64_t SX0 = std::min<int64_t>(SR.Left, SR.Right), SY0 = std::min<int64_t>(SR.Top, SR.Bottom);
  int64_t ASW = SW < 0 ? -SW : SW, ASH = SH < 0 ? -SH : SH;
  TRect L = Limit();
  TRect DR{static_cast<int32_t>(std::max<int64_t>(DX0, L.Left)),
           static_cast<int32_t>(std::max<int64_t>(DY0, L.Top)),
           static_cast<int32_t>(std::min<int64_t>(DX0 + ADW, L.Right)),
           static_cast<int32_t>(std::min<int64_t>(DY0 + ADH, L.Bottom))};
  if (DR.IsEmpty()) return;
  Changing();
  TSurface D(*FBitmap);
  // Source column of every destination column in DR: the source pixel under the destination
  // pixel's centre.
  std::vector<int32_t> XMap(static_cast<size_t>(DR.Width()));
  for (int32_t X = DR.Left; X < DR.Right; ++X) {
    int64_t I = X - DX0;
    int64_t J = NeedS ? ((2 * I + 1) * ASW) / (2 * ADW) : 0;
    if (MirX) J = ASW - 1 - J;
    int64_t SX = SX0 + J;
    XMap[static_cast<size_t>(X - DR.Left)] =
        (SX < 0 || SX >= Source.GetWidth()) ? -1 : static_cast<int32_t>(SX);
  }
  // Source pixels convert by colour into the destination's pixel values.
  TSurface SS(const_cast<TBitmap&>(Source));
  bool Same = SS.Depth == D.Depth && (D.Depth > 8 || Source.GetPalette() == FBitmap->GetPalette());
  std::vector<uint32_t> Lut;
  if (!Same && SS.Depth <= 8) {
    Lut.resize(size_t{1} << SS.Depth);
    for (size_t I = 0; I < Lut.size(); ++I)
      Lut[I] = D.FromColor(SS.ToColor(static_cast<uint32_t>(I)));
  }
  std::unordered_map<uint32_t, uint32_t> Cache;
  auto Convert = [&](uint32_t V) -> uint32_t {
    if (Same) return V;
    if (!Lut.empty()) return Lut[V & (Lut.size() - 1)];
    auto It = Cache.find(V);
    if (It != Cache.end()) return It->second;
    return Cache[V] = D.FromColor(SS.ToColor(V));
  };
  TPaint Pat = BrushPaint(false);
  size_t ClipHint = 0;
  std::vector<int32_t> Spans;
  for (int32_t Y = DR.Top; Y < DR.Bottom; ++Y) {
    int64_t I = Y - DY0;
    int64_t J = NeedS ? ((2 * I + 1) * ASH) / (2 * ADH) : 0;
    if (MirY) J = ASH - 1 - J;
    int64_t SY = SY0 + J;
    if (NeedS && (SY < 0 || SY >= Source.GetHeight())) continue;
    Spans.clear();
    if (FHasClip) {
      const TRegion::TBand* CB = FClip.BandAt(Y, ClipHint);
      if (!CB) continue;
      const int32_t* CX = FClip.SpanX(*CB);
      for (uint32_t K = 0; K < CB->Count; ++K) {
        int32_t A = std::max(CX[K * 2], DR.Left), B = std::min(CX[K * 2 + 1], DR.Right);
        if (A < B) {
          Spans.push_back(A);
          Spans.push_back(B);
        }
      }
    } else {
      Spans = {DR.Left, DR.Right};
    }
    uint8_t* DRow = D.Row(Y);
    const uint8_t* SRow = NeedS ? SS.Row(static_cast<int32_t>(SY)) : nullptr;
    for (size_t K = 0; K + 1 < Spans.size(); K += 2) {
      int32_t A = Spans[K], B = Spans[K + 1];
      // The common case: a plain copy between 24-bit bitmaps.
      if (T3 == 0xCC && Same && D.Depth == 24) {
        for (int32_t X = A; X < B; ++X) {
          int32_t SX = XMap[static_cast<size_t>(X - DR.Left)];
          if (SX < 0) continue;
          std::memcpy(DRow + X * 3, SRow + SX * 3, 3);
        }
        continue;
      }
      for (int32_t X = A; X < B; ++X) {
        uint32_t S = 0;
        if (NeedS) {
          int32_t SX = XMap[static_cast<size_t>(X - DR.Left)];
          if (SX < 0) continue;
          S = Convert(SS.Get(SRow, SX));
        }
        bool Draw = true;
        uint32_t P = Pat.PatternAt(X, Y, Draw);
        uint32_t Old = T3 == 0xCC || T3 == 0x33 ? 0 : D.Get(DRow, X);
        D.Put(DRow, X, Rop3(T3, P, S, Old) & D.Mask);
      }
    }
  }
  Changed();
}

// ---------------------------------------------------------------------------------------------
// 3-D edges

void TCanvas::DrawEdge(TRect& R, uint32_t Edge, uint32_t Flags) {
  if (!Ready()) return;
  Changing();
  TSurface S(*FBitmap);
  auto Line = [&](const TRect& Part, TColor C) {
    TPaint P;
    P.Fg = S.FromColor(C);
    PaintRegion(TRegion(Part), P);
  };
  TRect Box = R;
  // Outer then inner border: the top-left colour and the bottom-right colour of each.
  for (int32_t Pass = 0; Pass < 2; ++Pass) {
    uint32_t Raised = Pass == 0 ? bdrRaisedOuter : bdrRaisedInner;
    uint32_t Sunken = Pass == 0 ? bdrSunkenOuter : bdrSunkenInner;
    if (!(Edge & (Raised | Sunken))) continue;
    TColor TL, BR;
    if (Flags & bfMono) {
      TL = BR = Pass == 0 ? clWindowFrame : clWindow;
    } else if (Flags & bfFlat) {
      TL = BR = Pass == 0 ? clBtnShadow : clBtnFace;
    } else if (Edge & Raised) {
      TL = Pass == 0 ? ((Flags & bfSoft) ? clBtnHighlight : cl3DLight)
                     : ((Flags & bfSoft) ? cl3DLight : clBtnHighlight);
      BR = Pass == 0 ? cl3DDkShadow : clBtnShadow;
    } else {
      TL = Pass == 0 ? ((Flags & bfSoft) ? cl3DDkShadow : clBtnShadow)
                     : ((Flags & bfSoft) ? clBtnShadow : cl3DDkShadow);
      BR = Pass == 0 ? clBtnHighlight : cl3DLight;
    }
    if (Box.IsEmpty()) break;
    // The bottom and right sides own the top-right and bottom-left corners.
    if (Flags & bfTop) Line(Rect(Box.Left, Box.Top, Box.Right - 1, Box.Top + 1), TL);
    if (Flags & bfLeft) Line(Rect(Box.Left, Box.Top, Box.Left + 1, Box.Bottom - 1), TL);
    if (Flags & bfBottom) Line(Rect(Box.Left, Box.Bottom - 1, Box.Right, Box.Bottom), BR);
    if (Flags & bfRight) Line(Rect(Box.Right - 1, Box.Top, Box.Right, Box.Bottom), BR);
    if (Flags & bfLeft) ++Box.Left;
    if (Flags & bfTop) ++Box.Top;
    if (Flags & bfRight) --Box.Right;
    if (Flags & bfBottom) --Box.Bottom;
  }
  if ((Flags & bfMiddle) && !Box.IsEmpty()) Line(Box, (Flags & bfMono) ? clWindow : clBtnFace);
  if (Flags & bfAdjust) R = Box;
  Changed();
}

// ---------------------------------------------------------------------------------------------
// Text

namespace {

void BlendGlyph(const TSurface& S, uint8_t* Row, int32_t X, uint32_t V, TColor C, uint8_t Cov) {
  if (Cov == 0) return;
  if (Cov == 255 || S.Depth == 1) {
    if (Cov >= 128) S.Put(Row, X, V);
    return;
  }
  if (S.Depth == 24) {
    uint8_t* D = Row + X * 3;
    int32_t Src[3] = {GetBValue(C), GetGValue(C), GetRValue(C)};
    for (int32_t I = 0; I < 3; ++I)
      D[I] = static_cast<uint8_t>(D[I] + ((Src[I] - D[I]) * Cov + 127) / 255);
    return;
  }
  TColor Old = S.ToColor(S.Get(Row, X));
  auto Mix = [Cov](int32_t A, int32_t B) {
    return static_cast<uint8_t>(A + ((B - A) * Cov + 127) / 255);
  };
  S.Put(Row, X,
        S.FromColor(RGBColor(Mix(GetRValue(Old), GetRValue(C)), Mix(GetGValue(Old), GetGValue(C)),
                             Mix(GetBValue(Old), GetBValue(C)))));
}

}  // namespace

void TCanvas::DrawTextLine(int32_t X, int32_t Y, const std::u32string& Text, const int32_t* Dx,
                           uint32_t Align, uint32_t Options, const TRect* R) {
  if (!Ready()) return;
  auto F = QLRealizeFont(FFont);
  // Pen positions along the baseline; caller advances may be anything, so they saturate.
  std::vector<int64_t> Pos(Text.size() + 1, 0);
  for (size_t I = 0; I < Text.size(); ++I)
    Pos[I + 1] = std::clamp<int64_t>(Pos[I] + (Dx ? Dx[I] : F->Advance(Text[I])),
                                     -(int64_t{1} << 40), int64_t{1} << 40);
  const double W = double(Pos.back());
  const double CosA = std::cos(F->Angle), SinA = std::sin(F->Angle);
  // Baseline direction and the direction "down" from it, on screen.
  const double UX = CosA, UY = -SinA, VX = SinA, VY = CosA;
  double OX = 0, OY = 0;
  if ((Align & taCenter) == taCenter)
    OX = -W / 2;
  else if (Align & taRight)
    OX = -W;
  if ((Align & taBaseline) == taBaseline)
    OY = 0;
  else if (Align & taBottom)
    OY = -F->Descent;
  else
    OY = F->Ascent;
  const double BX = X + UX * OX + VX * OY, BY = Y + UY * OX + VY * OY;
  auto At = [&](double U, double V) { return TPointF{BX + UX * U + VX * V, BY + UY * U + VY * V}; };
  const TRect* Clip = (Options & etoClipped) ? R : nullptr;
  TRect Lim = Limit();
  Changing();
  TSurface S(*FBitmap);
  if ((Options & etoOpaque) && R) {
    TPaint P;
    P.Fg = S.FromColor(BkColorNow());
    PaintRegion(TRegion(*R), P);
  } else if (Opaque() && !Text.empty()) {
    TPointF Box[4] = {At(0, -F->Ascent), At(W, -F->Ascent), At(W, F->Descent), At(0, F->Descent)};
    int32_t N = 4;
    TPaint P;
    P.Fg = S.FromColor(BkColorNow());
    PaintRegion(TRegion::FromPolygons(Box, &N, 1, pfmWinding, &Lim), P, Clip);
  }
  TColor Color = ColorToRGB(FFont.GetColor());
  uint32_t V = S.FromColor(Color);
  TRect L = Lim;
  if (Clip && !IntersectRect(L, L, *Clip)) L = TRect{};
  size_t Hint = 0;
  for (size_t I = 0; I < Text.size() && !L.IsEmpty(); ++I) {
    TPointF O = At(double(Pos[I]), 0);
    // Glyphs far from the drawable area are not rendered at all.
    double Reach = 2.0 * F->Height() + double(std::abs(Pos[I + 1] - Pos[I]));
    if (O.X + Reach < L.Left || O.X - Reach > L.Right || O.Y + Reach < L.Top ||
        O.Y - Reach > L.Bottom)
      continue;
    std::shared_ptr<const TGlyphImage> Img = F->Glyph(Text[I]);
    const TGlyphImage& G = *Img;
    if (G.Width == 0 || G.Height == 0) continue;
    int32_t GX = QLTrunc(std::clamp(std::floor(O.X + 0.5), -1e9, 1e9)) + G.Left;
    int32_t GY = QLTrunc(std::clamp(std::floor(O.Y + 0.5), -1e9, 1e9)) + G.Top;
    for (int32_t Row = 0; Row < G.Height; ++Row) {
      int32_t PY = GY + Row;
      if (PY < L.Top || PY >= L.Bottom) continue;
      int32_t A = std::max(GX, L.Left), B = std::min(GX + G.Width, L.Right);
      if (A >= B) continue;
      const uint8_t* Cov =
          G.Coverage.data() + static_cast<size_t>(Row) * static_cast<size_t>(G.Width);
      uint8_t* DRow = S.Row(PY);
      auto Span = [&](int32_t S0, int32_t S1) {
        for (int32_t PX = S0; PX < S1; ++PX) BlendGlyph(S, DRow, PX, V, Color, Cov[PX - GX]);
      };
      if (!FHasClip) {
        Span(A, B);
        continue;
      }
      const TRegion::TBand* CB = FClip.BandAt(PY, Hint);
      if (!CB) continue;
      const int32_t* CX = FClip.SpanX(*CB);
      for (uint32_t K = 0; K < CB->Count; ++K) {
        int32_t C0 = std::max(A, CX[K * 2]), C1 = std::min(B, CX[K * 2 + 1]);
        if (C0 < C1) Span(C0, C1);
      }
    }
  }
  // Underline and strike-out: bars along the baseline in the text colour.
  TFontStyles St = FFont.GetStyle();
  if ((St & (fsUnderline | fsStrikeOut)) && W > 0) {
    TPaint P;
    P.Fg = V;
    auto Bar = [&](double Top) {
      double T = F->UnderlineThickness;
      TPointF Q[4] = {At(0, Top), At(W, Top), At(W, Top + T), At(0, Top + T)};
      int32_t N = 4;
      PaintRegion(TRegion::FromPolygons(Q, &N, 1, pfmWinding, &Lim), P, Clip);
    };
    if (St & fsUnderline) Bar(F->UnderlinePos - F->UnderlineThickness / 2);
    if (St & fsStrikeOut) Bar(-F->StrikeOutPos - F->UnderlineThickness / 2);
  }
  Changed();
}

void TCanvas::ExtTextOut(int32_t X, int32_t Y, uint32_t Options, const TRect* R,
                         const std::u32string& Text, const int32_t* Dx) {
  DrawTextLine(X, Y, Text, Dx, FTextAlign, Options, R);
}

void TCanvas::TextOut(int32_t X, int32_t Y, const std::string& Text) {
  std::u32string T = QLDecodeText(Text);
  DrawTextLine(X, Y, T, nullptr, FTextAlign, 0, nullptr);
  FPenPos = Point(X + TextWidth(Text), Y);
}

void TCanvas::TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text) {
  DrawTextLine(X, Y, QLDecodeText(Text), nullptr, FTextAlign,
               etoClipped | (Opaque() ? etoOpaque : 0), &R);
}

int32_t TCanvas::TextWidth(const std::string& Text) {
  return TextExtent(Text).cx;
}

int32_t TCanvas::TextHeight(const std::string& Text) {
  return TextExtent(Text).cy;
}

TSize TCanvas::TextExtent(const std::string& Text) {
  auto F = QLRealizeFont(FFont);
  int32_t W = 0;
  for (char32_t C : QLDecodeText(Text)) W += F->Advance(C);
  return TSize{W, F->Height()};
}

void TCanvas::TextRect(TRect& R, const std::string& Text, TTextFormat Format) {
  auto F = QLRealizeFont(FFont);
  auto Width = [&F](const std::u32string& S) {
    int32_t W = 0;
    for (char32_t C : S) W += F->Advance(C);
    return W;
  };
  std::u32string All = QLDecodeText(Text);
  std::vector<std::u32string> Lines;
  if (Format & tfSingleLine) {
    for (char32_t& C : All)
      if (C == U'\r' || C == U'\n') C = U' ';
    Lines.push_back(All);
  } else {
    std::u32string Cur;
    for (char32_t C : All) {
      if (C == U'\r') continue;
      if (C == U'\n') {
        Lines.push_back(Cur);
        Cur.clear();
      } else {
        Cur.push_back(C);
      }
    }
    Lines.push_back(Cur);
  }
  if ((Format & tfWordBreak) && !(Format & tfSingleLine)) {
    std::vector<std::u32string> Wrapped;
    for (const std::u32string& Line : Lines) {
      std::u32string Cur;
      size_t I = 0;
      while (I <= Line.size()) {
        size_t J = Line.find(U' ', I);
        if (J == std::u32string::npos) J = Line.size();
        std::u32string Word = Line.substr(I, J - I);
        std::u32string Try = Cur.empty() ? Word : Cur + U' ' + Word;
        if (!Cur.empty() && Width(Try) > R.Width()) {
          Wrapped.push_back(Cur);
          Cur = Word;
        } else {
          Cur = Try;
        }
        I = J + 1;
      }
      Wrapped.push_back(Cur);
    }
    Lines = std::move(Wrapped);
  }
  if ((Format & tfEndEllipsis) && (Format & tfSingleLine) && Width(Lines[0]) > R.Width()) {
    std::u32string& L = Lines[0];
    while (!L.empty() && Width(L + U"...") > R.Width()) L.pop_back();
    L += U"...";
  }
  const int32_t LH = F->Height();
  int32_t MaxW = 0;
  for (const auto& L : Lines) MaxW = std::max(MaxW, Width(L));
  if (Format & tfCalcRect) {
    R.Right = R.Left + MaxW;
    R.Bottom = R.Top + LH * static_cast<int32_t>(Lines.size());
    return;
  }
  int32_t Y = R.Top;
  if (Format & tfSingleLine) {
    if (Format & tfBottom)
      Y = R.Bottom - LH;
    else if (Format & tfVerticalCenter)
      Y = R.Top + (R.Height() - LH) / 2;
  }
  for (const auto& L : Lines) {
    int32_t W = Width(L);
    int32_t X = (Format & tfRight)    ? R.Right - W
                : (Format & tfCenter) ? R.Left + (R.Width() - W) / 2
                                      : R.Left;
    DrawTextLine(X, Y, L, nullptr, taLeft | taTop, (Format & tfNoClip) ? 0 : etoClipped, &R);
    Y += LH;
  }
}

}  // namespace quillo
