// Drawing the objects, their grips and the rubber shapes, and picking by distance.
#include <algorithm>
#include <cmath>
#include <limits>

#include "quillo/core/types.h"
#include "quillo/vect/vect.h"

namespace quillo {

namespace {

constexpr double kPi = 3.14159265358979323846;

double SegmentDistance(double PX, double PY, double AX, double AY, double BX, double BY) {
  const double DX = BX - AX, DY = BY - AY, L2 = DX * DX + DY * DY;
  double T = L2 > 0 ? ((PX - AX) * DX + (PY - AY) * DY) / L2 : 0;
  T = std::clamp(T, 0.0, 1.0);
  const double X = AX + T * DX - PX, Y = AY + T * DY - PY;
  return std::sqrt(X * X + Y * Y);
}

// Screen coordinates are kept within this range, so that sums of a coordinate, a size and a
// margin never overflow, and shapes far outside the window are cut, not rasterised.
constexpr int32_t kLimit = 1 << 22;
// Pens and fonts larger than any screen are drawn at these sizes.
constexpr int32_t kMaxPen = 1 << 13;
constexpr double kMaxFont = 1 << 13;

int32_t Lim(int32_t V) {
  return std::clamp(V, -kLimit, kLimit);
}

// Cuts the segment to the square of side 2 kLimit around the origin (Liang-Barsky), keeping its
// slope; false when nothing of it lies inside.
bool ClipSegment(double& X1, double& Y1, double& X2, double& Y2) {
  double T0 = 0, T1 = 1;
  const double DX = X2 - X1, DY = Y2 - Y1;
  const double P[4] = {-DX, DX, -DY, DY};
  const double Q[4] = {X1 + kLimit, kLimit - X1, Y1 + kLimit, kLimit - Y1};
  for (int32_t I = 0; I < 4; ++I) {
    if (P[I] == 0) {
      if (Q[I] < 0) return false;
      continue;
    }
    const double R = Q[I] / P[I];
    if (P[I] < 0)
      T0 = std::max(T0, R);
    else
      T1 = std::min(T1, R);
    if (T0 > T1) return false;
  }
  const double NX1 = X1 + T0 * DX, NY1 = Y1 + T0 * DY;
  X2 = X1 + T1 * DX, Y2 = Y1 + T1 * DY;
  X1 = NX1, Y1 = NY1;
  return true;
}

}  // namespace

int32_t TQuilloVect::SX(int32_t X) const {
  return Lim(XBmp2Scr(X));
}

int32_t TQuilloVect::SY(int32_t Y) const {
  return Lim(YBmp2Scr(Y));
}

double TQuilloVect::ScreenToBitmap() const {
  return 100.0 / GetZoom();
}

TRect TQuilloVect::ScreenRect(const TQLVObject& O) const {
  const int32_t A = SX(O.X1), B = SX(O.X2), C = SY(O.Y1), D = SY(O.Y2);
  return TRect{std::min(A, B), std::min(C, D), std::max(A, B), std::max(C, D)};
}

TQuilloVect::TVisible TQuilloVect::VisibleBitmapArea() const {
  // One pixel of slack for the rounding of the mapping both ways, and two screen pixels more
  // for an outline's rounding.
  const double Slack = 1 + 2 * ScreenToBitmap();
  return TVisible{XScr2Bmp(GetOffsetX()) - Slack, YScr2Bmp(GetOffsetY()) - Slack,
                  XScr2Bmp(GetOffsetX() + GetDrawWidth()) + Slack,
                  YScr2Bmp(GetOffsetY() + GetDrawHeight()) + Slack};
}

TQuilloVect::TBounds TQuilloVect::BoundsOf(const TQLVObject& O, int32_t Handle) {
  // Wide pens and arrow heads reach a little beyond the rectangle.
  const double Reach =
      std::max({double(O.PenWidth), double(O.ShapeWidth), double(O.ShapeHeight), 0.0});
  return TBounds{std::min(O.X1, O.X2) - Reach,
                 std::min(O.Y1, O.Y2) - Reach,
                 std::max(O.X1, O.X2) + Reach,
                 std::max(O.Y1, O.Y2) + Reach,
                 Handle,
                 O.Kind == qlkNONE};
}

const std::vector<TQuilloVect::TBounds>& TQuilloVect::Bounds() const {
  if (FBoundsDirty) {
    FBounds.resize(FZ.size());
    for (size_t I = 0; I < FZ.size(); ++I)
      FBounds[I] = BoundsOf(FStore[static_cast<size_t>(FZ[I])].O, FZ[I]);
    FBoundsDirty = false;
  }
  return FBounds;
}

bool TQuilloVect::Meets(const TBounds& Box, const TVisible& V) {
  // Without branches: drawing and picking test every object, and most are out of view.
  return (Box.L <= V.R) & (Box.R >= V.L) & (Box.T <= V.B) & (Box.B >= V.T);
}

bool TQuilloVect::MeetsVisibleArea(const TQLVObject& O) const {
  return Meets(BoundsOf(O, 0), VisibleBitmapArea());
}

// ---------------------------------------------------------------------------------------------
// Drawing

void TQuilloVect::PaintTo(TCanvas& C) {
  TQuilloView::PaintTo(C);
  if (FAllHidden || Bitmap().Empty()) return;
  C.ClearClipRegion();
  DrawObjects(C, true);
  DrawGrips(C);
}

void TQuilloVect::Paint() {
  TQuilloView::Paint();
  if (FRubberShown) DrawRubber(Canvas());
}

void TQuilloVect::DrawObjects(TCanvas& C, bool Screen) {
  if (FAllHidden) return;
  const TVisible Vis = VisibleBitmapArea();
  for (const TBounds& B : Bounds()) {
    if (Screen && !Meets(B, Vis)) continue;
    const int32_t h = B.Handle;
    const TQLVObject& O = Obj(h);
    if (!(O.Style & qlvsVisible)) continue;
    DrawObject(C, O, Screen);
  }
  C.Pen().SetMode(pmCopy);
}

void TQuilloVect::DrawObject(TCanvas& C, const TQLVObject& O, bool Screen) {
  const double Z = Screen ? GetZoom() / 100 : 1;
  auto MX = [&](int32_t X) { return Screen ? SX(X) : Lim(X); };
  auto MY = [&](int32_t Y) { return Screen ? SY(Y) : Lim(Y); };
  int32_t X1 = MX(O.X1), Y1 = MY(O.Y1), X2 = MX(O.X2), Y2 = MY(O.Y2);
  if (O.Kind == qlkLINE || O.Kind == qlkRULER) {
    // A segment is cut where it leaves the coordinate range, not bent.
    auto DX = [&](int32_t X) { return Screen ? static_cast<double>(XBmp2Scr(X)) : double(X); };
    auto DY = [&](int32_t Y) { return Screen ? static_cast<double>(YBmp2Scr(Y)) : double(Y); };
    double A = DX(O.X1), B = DY(O.Y1), C = DX(O.X2), D = DY(O.Y2);
    if (!ClipSegment(A, B, C, D)) return;
    X1 = QLTrunc(A), Y1 = QLTrunc(B), X2 = QLTrunc(C), Y2 = QLTrunc(D);
  }
  C.Pen().SetMode(pmCopy);
  C.Pen().SetColor(O.PenColor);
  C.Pen().SetStyle(static_cast<TPenStyle>(std::min<uint8_t>(O.PenStyle, psInsideFrame)));
  // Pens wider than the largest window are drawn at that width.
  C.Pen().SetWidth(
      std::min(FZoomObjectsWidth ? std::max(1, QLTrunc(O.PenWidth * Z)) : O.PenWidth, kMaxPen));
  C.Brush().SetColor(O.BrushColor);
  C.Brush().SetStyle(O.BrushStyle == 1 ? bsClear : bsSolid);
  const TRect R{std::min(X1, X2), std::min(Y1, Y2), std::max(X1, X2) + 1, std::max(Y1, Y2) + 1};
  switch (O.Kind) {
    case qlkLINE:
      DrawLine(C, O, X1, Y1, X2, Y2, Z);
      break;
    case qlkBOX:
      C.Rectangle(R);
      break;
    case qlkELLIPSE:
      C.Ellipse(R);
      break;
    case qlkARC: {
      const double RX = (X2 - X1) / 2.0, RY = (Y2 - Y1) / 2.0;
      // Both ends lie within the clamped rectangle, so the sums stay in range.
      C.Arc(R.Left, R.Top, R.Right, R.Bottom, X1 + QLTrunc(RX + RX * std::cos(O.BeginAngle)),
            Y1 + QLTrunc(RY + RY * std::sin(O.BeginAngle)),
            X1 + QLTrunc(RX + RX * std::cos(O.EndAngle)),
            Y1 + QLTrunc(RY + RY * std::sin(O.EndAngle)));
      break;
    }
    case qlkBITMAP: {
      const TBitmap* B = BitmapTableEntry(O.BitmapIndex);
      if (!B || B->Empty()) {
        C.Brush().SetStyle(bsClear);
        C.Rectangle(R);
        C.MoveTo(R.Left, R.Top);
        C.LineTo(R.Right - 1, R.Bottom - 1);
        C.MoveTo(R.Right - 1, R.Top);
        C.LineTo(R.Left, R.Bottom - 1);
      } else if (FBitmapFilter != rfNone && !FButtonDown && R.Right - R.Left > 0 &&
                 R.Bottom - R.Top > 0 &&
                 int64_t(R.Right - R.Left) * (R.Bottom - R.Top) <= int64_t(1) << 26) {
        TBitmap Src;
        Src.Assign(*B);
        if (Src.GetPixelFormat() != pf24bit) Src.SetPixelFormat(pf24bit);
        TBitmap Sized(R.Right - R.Left, R.Bottom - R.Top, pf24bit);
        _ResampleRect(Src, Rect(0, 0, Src.GetWidth(), Src.GetHeight()), Sized, FBitmapFilter, true);
        C.Draw(R.Left, R.Top, Sized);
      } else {
        C.StretchDraw(R, *B);
      }
      break;
    }
    case qlkTEXT:
      DrawText(C, O, R, Z, Screen);
      break;
    case qlkRULER:
      DrawRuler(C, O, X1, Y1, X2, Y2, Screen);
      break;
    default:
      break;
  }
}

void TQuilloVect::DrawLine(TCanvas& C, const TQLVObject& O, int32_t X1, int32_t Y1, int32_t X2,
                           int32_t Y2, double Z) {
  C.MoveTo(X1, Y1);
  C.LineTo(X2, Y2);
  const double W = std::clamp(std::trunc(O.ShapeWidth * Z), -double(kLimit), double(kLimit));
  const double H = std::clamp(std::trunc(O.ShapeHeight * Z), -double(kLimit), double(kLimit));
  const double DX = X2 - X1, DY = Y2 - Y1, L = std::sqrt(DX * DX + DY * DY);
  if (L == 0) return;
  // Unit vectors along the line (from the end towards the inside) and across it.
  auto Head = [&](TQLShape S, double EX, double EY, double UX, double UY) {
    if (S == qlsNONE) return;
    const double NX = -UY, NY = UX;
    double TipX, TipY, BX, BY;
    if (S == qlsOUTARROW) {
      TipX = EX, TipY = EY;
      BX = EX + UX * H, BY = EY + UY * H;
    } else {
      BX = EX, BY = EY;
      TipX = EX + UX * H, TipY = EY + UY * H;
    }
    auto L = [](double V) { return Lim(QLTrunc(V)); };
    const TPoint P[3] = {TPoint{L(TipX), L(TipY)}, TPoint{L(BX + NX * W / 2), L(BY + NY * W / 2)},
                         TPoint{L(BX - NX * W / 2), L(BY - NY * W / 2)}};
    const TBrushStyle Bs = C.Brush().GetStyle();
    const TColor Bc = C.Brush().GetColor();
    C.Brush().SetStyle(bsSolid);
    C.Brush().SetColor(O.PenColor);
    C.Polygon(P, 3);
    C.Brush().SetStyle(Bs);
    C.Brush().SetColor(Bc);
  };
  Head(O.BeginShape, X1, Y1, DX / L, DY / L);
  Head(O.EndShape, X2, Y2, -DX / L, -DY / L);
}

void TQuilloVect::DrawText(TCanvas& C, const TQLVObject& O, const TRect& R, double Z, bool Screen) {
  const int32_t Handle = FEditing;
  if (Screen && Handle >= 0 && &Obj(Handle) == &O) {
    C.Brush().SetStyle(bsClear);
    C.Rectangle(TRect{R.Left - 1, R.Top - 1, R.Right + 1, R.Bottom + 1});
    return;
  }
  C.Rectangle(R);
  if (O.Text.empty()) return;
  const double Height =
      std::clamp(O.Font.Height != 0 ? std::trunc(O.Font.Height * Z) : double(R.Bottom - R.Top - 1),
                 -kMaxFont, kMaxFont);
  if (Height == 0) return;
  TFont F = MakeFont(O.Font, Height);
  F.SetColor(O.PenColor);
  C.Font() = F;
  const double Theta = O.Font.Escapement / 10.0 * kPi / 180;
  const double W = C.TextWidth(O.Text), H = C.TextHeight(O.Text);
  const double OW = R.Right - R.Left - 1, OH = R.Bottom - R.Top - 1;
  const int32_t VOff = QLTrunc(OH - std::cos(Theta) * H + std::sin(Theta) * W) / 2;
  int32_t HOff;
  switch (O.TextAlign) {
    case 1:
      HOff = QLTrunc(OW - std::cos(Theta) * W);
      break;
    case 2:
      HOff = QLTrunc(OW - W * std::cos(Theta) - std::sin(Theta) * H) / 2;
      break;
    default:
      HOff = std::abs(QLTrunc(std::sin(Theta) * H));
      break;
  }
  C.SetBkMode(bkTransparent);
  C.IntersectClipRect(R);
  C.TextOut(R.Left + HOff, R.Top + VOff, O.Text);
  C.ClearClipRegion();
}

void TQuilloVect::DrawRuler(TCanvas& C, const TQLVObject& O, int32_t X1, int32_t Y1, int32_t X2,
                            int32_t Y2, bool Screen) {
  const double F = Screen ? ScreenToBitmap() : 1;
  TFont Font;
  Font.SetName("Arial");
  Font.SetSize(10);
  Font.SetColor(O.PenColor);
  Font.SetQuality(fqAntialiased);
  C.Brush().SetStyle(bsClear);
  C.SetBkMode(bkTransparent);
  C.MoveTo(X1, Y1);
  C.LineTo(X2, Y2);
  const double DX = X2 - X1, DY = Y2 - Y1, L = std::sqrt(DX * DX + DY * DY);
  if (L == 0) return;
  const double UX = DX / L, UY = DY / L, NX = -UY, NY = UX;
  // The ruler's own unit, through the layer's scale.
  double CX = FCoefX, CY = FCoefY;
  if (O.RulerUnit != FMUnit) {
    TQuilloVect* Self = this;
    const TQLUnits Keep = FMUnit;
    Self->FMUnit = O.RulerUnit;
    Self->RecalcCoef();
    CX = FCoefX, CY = FCoefY;
    Self->FMUnit = Keep;
    Self->RecalcCoef();
  }
  const char* Unit = strunits[std::min<int32_t>(O.RulerUnit, 7)];
  if (O.RulerType == qlrtRULER) {
    C.Font() = Font;
    // Screen pixels per tenth of a unit along the line.
    const double PerX = CX * F * 10, PerY = CY * F * 10;
    const double Step = std::sqrt(UX * UX / (PerX * PerX) + UY * UY / (PerY * PerY));
    if (!(Step > 0.5)) return;  // ticks closer than half a pixel are not drawn
    const int64_t Count = static_cast<int64_t>(L / Step);
    if (Count > 100000) return;
    for (int64_t K = 0; K <= Count; ++K) {
      const double PX = X1 + UX * Step * K, PY = Y1 + UY * Step * K;
      const int32_t Len = K % 10 == 0 ? 12 : K % 5 == 0 ? 8 : 6;
      C.MoveTo(QLTrunc(PX), QLTrunc(PY));
      C.LineTo(QLTrunc(PX + NX * Len), QLTrunc(PY + NY * Len));
      if (K % 10 == 0) {
        const std::string T = std::to_string(K / 10);
        const int32_t TH = C.TextHeight(T);
        C.TextOut(QLTrunc(PX + NX * 2 * TH - C.TextWidth(T) / 2.0),
                  QLTrunc(PY + NY * 2 * TH - TH / 2.0), T);
      }
    }
    return;
  }
  // End bars, then the measure along the line.
  for (const auto& [PX, PY] :
       {std::pair<double, double>{double(X1), double(Y1)}, {double(X2), double(Y2)}}) {
    C.MoveTo(QLTrunc(PX - NX * 4.5), QLTrunc(PY - NY * 4.5));
    C.LineTo(QLTrunc(PX + NX * 4.5), QLTrunc(PY + NY * 4.5));
  }
  const double V =
      std::sqrt(std::pow(std::fabs(DX) * CX * F, 2) + std::pow(std::fabs(DY) * CY * F, 2));
  std::string Label = FormatMeasure(V) + " " + Unit;
  double Angle = std::atan2(-DY, DX);
  Font.SetOrientation(QLTrunc(Angle * 1800 / kPi));
  C.Font() = Font;
  if (O.RulerType == qlrtQUOTEBEGIN) Label = " " + Label;
  if (O.RulerType == qlrtQUOTEEND) Label += " ";
  const double TW = C.TextWidth(Label), TH = C.TextHeight(Label);
  double S = 0;
  if (O.RulerType == qlrtQUOTECENTER) S = (L - TW) / 2;
  if (O.RulerType == qlrtQUOTEEND) S = L - TW;
  // The text sits above the line: its top-left is one text height across from the base.
  const double PX = X1 + UX * S - NX * TH, PY = Y1 + UY * S - NY * TH;
  C.TextOut(QLTrunc(PX), QLTrunc(PY), Label);
}

std::vector<std::pair<int32_t, TPoint>> TQuilloVect::Grips(int32_t h) const {
  const TQLVObject& O = Obj(h);
  std::vector<std::pair<int32_t, TPoint>> G = {{1, TPoint{SX(O.X1), SY(O.Y1)}},
                                               {2, TPoint{SX(O.X2), SY(O.Y2)}}};
  const TRect R = ScreenRect(O);
  G.push_back({3, TPoint{(R.Left + R.Right) / 2, (R.Top + R.Bottom) / 2}});
  if (O.Kind != qlkLINE && O.Kind != qlkRULER) {
    G.push_back({4, TPoint{SX(O.X2), SY(O.Y1)}});
    G.push_back({5, TPoint{SX(O.X1), SY(O.Y2)}});
  }
  return G;
}

void TQuilloVect::DrawGrips(TCanvas& C) {
  C.Pen().SetMode(pmNot);
  C.Pen().SetWidth(1);
  C.Pen().SetStyle(psSolid);
  C.Brush().SetStyle(bsClear);
  for (int32_t h : FSelObjs) {
    if (!MeetsVisibleArea(Obj(h))) continue;
    for (const auto& [Code, P] : Grips(h)) {
      if (Code == 3) {
        const TPoint D[4] = {TPoint{P.X, P.Y - 4}, TPoint{P.X + 4, P.Y}, TPoint{P.X, P.Y + 4},
                             TPoint{P.X - 4, P.Y}};
        C.Polygon(D, 4);
      } else {
        C.Rectangle(P.X - 4, P.Y - 4, P.X + 5, P.Y + 5);
      }
    }
  }
  C.Pen().SetMode(pmCopy);
}

int32_t TQuilloVect::GripAt(int32_t X, int32_t Y) const {
  for (int32_t h : FSelObjs) {
    if (!MeetsVisibleArea(Obj(h))) continue;
    const auto G = Grips(h);
    for (int32_t Code = 1; Code <= 5; ++Code)
      for (const auto& [C, P] : G)
        if (C == Code && std::abs(P.X - X) <= 4 && std::abs(P.Y - Y) <= 4) return Code;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Picking

double TQuilloVect::ObjectDistance(int32_t h, double X, double Y) const {
  const TQLVObject& O = Obj(h);
  constexpr double kFar = 2147483647.0;
  switch (O.Kind) {
    case qlkLINE:
    case qlkRULER:
      return SegmentDistance(X, Y, O.X1, O.Y1, O.X2, O.Y2);
    case qlkELLIPSE:
    case qlkARC: {
      const int64_t A = (int64_t(O.X2) - O.X1) / 2, B = (int64_t(O.Y2) - O.Y1) / 2;
      const double CX = double(O.X1) + A, CY = double(O.Y1) + B;
      // Ellipses beyond some 80000 pixels get a polygon of 65536 vertices, finer than a pixel
      // could show but bounded.
      const int64_t N =
          std::min<int64_t>(static_cast<int64_t>(std::min(A, B) * 2 * kPi) / 8, 1 << 16);
      if (N <= 1) return kFar;
      double Best = kFar;
      double PX = static_cast<double>(A), PY = 0;
      for (int64_t K = 1; K < N; ++K) {
        const double QX = std::trunc(std::cos(2 * kPi * K / N) * A);
        const double QY = std::trunc(std::sin(2 * kPi * K / N) * B);
        Best = std::min(Best, SegmentDistance(X, Y, CX + PX, CY + PY, CX + QX, CY + QY));
        PX = QX, PY = QY;
      }
      return Best;
    }
    case qlkBOX:
    case qlkBITMAP:
    case qlkTEXT: {
      const double L = std::min(O.X1, O.X2), T = std::min(O.Y1, O.Y2);
      const double R = std::max(O.X1, O.X2), B = std::max(O.Y1, O.Y2);
      const bool Filled = O.Kind != qlkBOX || O.BrushStyle != 1;
      if (Filled && X >= L && X <= R && Y >= T && Y <= B) return 0;
      return std::min({SegmentDistance(X, Y, L, T, R, T), SegmentDistance(X, Y, R, T, R, B),
                       SegmentDistance(X, Y, R, B, L, B), SegmentDistance(X, Y, L, B, L, T)});
    }
    default:
      return -1;
  }
}

int32_t TQuilloVect::FindNearestObject(int32_t X, int32_t Y, double* Distance) const {
  double Best = 2147483647.0;
  int32_t Found = kNoObject;
  const TVisible Vis = VisibleBitmapArea();
  const std::vector<TBounds>& Box = Bounds();
  for (auto I = Box.rbegin(); I != Box.rend(); ++I) {
    const TBounds& B = *I;
    if (!Meets(B, Vis)) continue;
    // Every kind lies within its (widened) rectangle: an object whose rectangle is not strictly
    // nearer than the best so far cannot win.
    const double RX = std::max(std::max(B.L - X, 0.0), X - B.R);
    const double RY = std::max(std::max(B.T - Y, 0.0), Y - B.B);
    if (!B.None && RX * RX + RY * RY >= Best * Best) continue;
    const TQLVObject& O = Obj(B.Handle);
    if (!(O.Style & qlvsSelectable)) continue;
    const double D = ObjectDistance(B.Handle, X, Y);
    if (D < Best) {
      Best = D;
      Found = B.Handle;
    }
  }
  if (Found != kNoObject && FMaxPickDistance >= 0 && Best > FMaxPickDistance * ScreenToBitmap())
    Found = kNoObject;
  if (Distance) *Distance = Best;
  return Found;
}

}  // namespace quillo
