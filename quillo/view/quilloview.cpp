#include "quillo/view/quilloview.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "quillo/core/detail/blit.h"
#include "quillo/platform/cursors.h"
#include "quillo/platform/region.h"
#include "quillo/platform/screen.h"
#include "quillo/platform/sysutils.h"
#include "quillo/proc/magicwand.h"
#include "quillo/proc/quilloproc.h"

namespace quillo {

namespace {

// The source rectangle of a bitmap copied into a fresh 24-bit bitmap (1-bit pixels become black
// or white).
void CopyOut24(const TBitmap& Source, int32_t X, int32_t Y, int32_t W, int32_t H, TBitmap& Out) {
  Out.Recreate(W, H, pf24bit);
  const bool Mono = Source.GetPixelFormat() == pf1bit;
  for (int32_t R = 0; R < H; ++R) {
    const uint8_t* S = Source.ScanLine(Y + R);
    uint8_t* D = Out.ScanLine(R);
    if (!Mono) {
      std::memcpy(D, S + int64_t(X) * 3, static_cast<size_t>(W) * 3);
      continue;
    }
    for (int32_t C = 0; C < W; ++C, D += 3) D[0] = D[1] = D[2] = _GetPixelbw(S, X + C) ? 255 : 0;
  }
}

// Draws Source's SrcRect stretched to Dest: through the fast blitter on 24-bit targets, through
// the canvas otherwise.
void StretchOnto(TCanvas& C, const TRect& Dest, const TBitmap& Source, const TRect& SrcRect) {
  TBitmap* T = C.GetBitmap();
  if (T && T->GetPixelFormat() == pf24bit) {
    QLStretchBlit(*T, Dest, QLBlitSourceOf(Source), SrcRect, C.GetClipRect());
    return;
  }
  C.StretchBlt(Dest, Source, SrcRect, cmSrcCopy);
}

// Fills a 24-bit bitmap with one colour outside the rectangle Hole: rows are filled by doubling
// copies of the first pixel, the cheap path of the solid background painted at every repaint.
void FillOutside(TBitmap& B, const TRect& Hole, TColor Color) {
  const int32_t W = B.GetWidth(), H = B.GetHeight();
  if (W == 0 || H == 0) return;
  std::vector<uint8_t> Line(static_cast<size_t>(W) * 3);
  Line[0] = static_cast<uint8_t>(Color >> 16);
  Line[1] = static_cast<uint8_t>(Color >> 8);
  Line[2] = static_cast<uint8_t>(Color);
  for (size_t Done = 3; Done < Line.size(); Done *= 2)
    std::memcpy(Line.data() + Done, Line.data(), std::min(Done, Line.size() - Done));
  const int32_t L = std::clamp(Hole.Left, 0, W), R = std::clamp(Hole.Right, L, W);
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* D = B.ScanLine(Y);
    if (Y < Hole.Top || Y >= Hole.Bottom || L == R) {
      std::memcpy(D, Line.data(), Line.size());
      continue;
    }
    std::memcpy(D, Line.data(), static_cast<size_t>(L) * 3);
    std::memcpy(D + int64_t(R) * 3, Line.data(), static_cast<size_t>(W - R) * 3);
  }
  B.Modified();
}

int32_t ShadowGrey(int32_t I, int32_t N) {
  return QLTrunc(std::exp(static_cast<double>(I) / N) / std::exp(1.0) * 255);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Shadows

void QLRightShadow(TCanvas& C, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLShadowType Kind) {
  const int32_t N = X2 - X1 + 1;
  if (N < 1) return;
  C.Pen().SetMode(pmCopy);
  C.Pen().SetStyle(psSolid);
  C.Pen().SetWidth(1);
  switch (Kind) {
    case qlstNone:
      break;
    case qlstSolid:
      C.FillRect(Rect(X1, Y1 + N, X2, Y2 + 1));
      break;
    case qlstSmooth1:
      for (int32_t I = 0; I < N; ++I) {
        C.Pen().SetColor(ShadowGrey(I, N) * 0x010101);
        C.MoveTo(X1 + I, Y1 + N);
        C.LineTo(X1 + I, Y2 - N + I + 3);
      }
      break;
    case qlstSmooth2:
      for (int32_t Y = Y1; Y <= Y2; ++Y)
        for (int32_t I = 0; I < N; ++I) {
          const int32_t Row = std::min(Y - Y1, N - 1);
          const int32_t G = std::max(ShadowGrey(I, N), ShadowGrey(N - 1 - Row, N));
          C.SetPixel(X1 + I, Y, G * 0x010101);
        }
      break;
  }
}

void QLBottomShadow(TCanvas& C, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                    TQLShadowType Kind) {
  const int32_t N = Y2 - Y1 + 1;
  if (N < 1) return;
  C.Pen().SetMode(pmCopy);
  C.Pen().SetStyle(psSolid);
  C.Pen().SetWidth(1);
  switch (Kind) {
    case qlstNone:
      break;
    case qlstSolid:
      C.FillRect(Rect(X1 + N, Y1, X2 + 1, Y2));
      break;
    case qlstSmooth1:
      for (int32_t J = 0; J < N; ++J) {
        C.Pen().SetColor(ShadowGrey(J, N) * 0x010101);
        C.MoveTo(X1 + N, Y1 + J);
        C.LineTo(X2 - N + J + 3, Y1 + J);
      }
      break;
    case qlstSmooth2:
      for (int32_t X = X1; X <= X2; ++X)
        for (int32_t J = 0; J < N; ++J) {
          const int32_t Col = std::min(X - X1, N - 1);
          const int32_t G = std::max(ShadowGrey(J, N), ShadowGrey(N - 1 - Col, N));
          C.SetPixel(X, Y1 + J, G * 0x010101);
        }
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Polygon copies

namespace {

// The box of a selection polygon's points (separators left out); false when it has fewer than 3.
bool PolygonBox(const TPoint* Polygon, int32_t Count, TRect& Box) {
  int32_t N = 0;
  Box = TRect{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (int32_t I = 0; Polygon && I < Count; ++I) {
    const TPoint& P = Polygon[I];
    if (P.X == QLPolyBreak) continue;
    ++N;
    Box.Left = std::min(Box.Left, P.X);
    Box.Top = std::min(Box.Top, P.Y);
    Box.Right = std::max(Box.Right, P.X);
    Box.Bottom = std::max(Box.Bottom, P.Y);
  }
  return N >= 3;
}

void GrowTo(TBitmap& B, int32_t W, int32_t H, TPixelFormat PF) {
  if (B.Empty() && B.GetPixelFormat() != PF) B.SetPixelFormat(PF);
  if (B.GetWidth() < W || B.GetHeight() < H)
    B.SetSize(std::max(B.GetWidth(), W), std::max(B.GetHeight(), H));
}

// Draws Source's SrcRect at Dest's top-left through the clip of the (shifted) polygons; drawing
// once through their union sets what drawing once per sub-polygon sets.
void DrawClipped(TBitmap& Target, const TBitmap& Source, const TRect& SrcRect, TPoint At,
                 const TRegion& Clip) {
  TCanvas C(&Target);
  C.SetClipRegion(Clip);
  const TRect Dest = Bounds(At.X, At.Y, SrcRect.Right - SrcRect.Left, SrcRect.Bottom - SrcRect.Top);
  C.StretchBlt(Dest, Source, SrcRect, cmSrcCopy);
  Target.Modified();
}

}  // namespace

void _CopyPolygonToPoint(const TBitmap& Source, const TPoint* Polygon, int32_t Count,
                         TBitmap& Target, TPoint Position) {
  TRect Box;
  if (!PolygonBox(Polygon, Count, Box) || Source.Empty()) return;
  const int32_t W = Box.Right - Box.Left, H = Box.Bottom - Box.Top;
  GrowTo(Target, Position.X + W + 1, Position.Y + H + 1, Source.GetPixelFormat());
  DrawClipped(Target, Source, Box, Position,
              QLPolygonRegion(Polygon, Count, Position.X - Box.Left, Position.Y - Box.Top));
}

void _CopyPointToPolygon(const TBitmap& Source, TPoint Position, TBitmap& Target,
                         const TPoint* Polygon, int32_t Count) {
  TRect Box;
  if (!PolygonBox(Polygon, Count, Box) || Source.Empty()) return;
  const int32_t W = Box.Right - Box.Left, H = Box.Bottom - Box.Top;
  GrowTo(Target, Box.Right, Box.Bottom, Source.GetPixelFormat());
  DrawClipped(Target, Source, Bounds(Position.X, Position.Y, W, H), Point(Box.Left, Box.Top),
              QLPolygonRegion(Polygon, Count, 0, 0));
}

// ---------------------------------------------------------------------------------------------
// Construction

TQuilloView::TQuilloView(TComponent* AOwner)
    : TQLView(AOwner),
      FHParams(std::make_unique<TQLScrollBarParams>()),
      FVParams(std::make_unique<TQLScrollBarParams>()),
      FWheelParams(std::make_unique<TQLMouseWheelParams>()) {
  FBitmap.SetPixelFormat(pf24bit);
  FDPIX = gSystemDPIX;
  FDPIY = gSystemDPIY;
  SetCursor(crQLCross2);
  FSel = AnimPolygonNew(clBlack, clWhite, true, true);
  FBackBuffer.SetPixelFormat(pf24bit);
  FBackCanvas = std::make_unique<TCanvas>(&FBackBuffer);
  FMask.AllocateBits(FBitmap.GetWidth(), FBitmap.GetHeight(), 1);
  SetBounds(GetLeft(), GetTop(), 105, 105);
}

TQuilloView::~TQuilloView() {
  KillTimer(kAnimTimer);
  KillTimer(kScrollTimer);
  FPolygons.clear();
  FSel = nullptr;
}

void TQuilloView::Resize() {
  TQLView::Resize();
  if (FSel) Update();
}

// ---------------------------------------------------------------------------------------------
// Bitmap and background

void TQuilloView::SetBackGround(TColor Color) {
  TQLView::SetBackGround(Color);
  Update();
  ImageChange();
}

void TQuilloView::ImageChange() {
  if (OnImageChange) OnImageChange(this);
}

void TQuilloView::Clear() {
  if (!FBitmap.Empty()) {
    TCanvas& C = FBitmap.Canvas();
    C.ClearClipRegion();
    C.Brush().SetStyle(bsSolid);
    C.Brush().SetColor(GetBackground());
    C.FillRect(Rect(0, 0, FBitmap.GetWidth(), FBitmap.GetHeight()));
  }
  Update();
}

void TQuilloView::Blank() {
  FBitmap.SetSize(1, 1);
  Clear();
}

void TQuilloView::Assign(const TQuilloView* Source) {
  if (!Source) {
    Clear();
    return;
  }
  FBitmap.Assign(Source->FBitmap);
  TQLView::SetBackGround(Source->GetBackground());
  SetDPI(Source->GetDPIX(), Source->GetDPIY());
  Update();
  ImageChange();
}

void TQuilloView::Assign(const TBitmap* Source) {
  if (!Source) {
    Clear();
    return;
  }
  FBitmap.Assign(*Source);
  if (FBitmap.GetPixelFormat() != pf24bit && FBitmap.GetPixelFormat() != pf1bit)
    FBitmap.SetPixelFormat(pf24bit);
  Update();
  ImageChange();
}

// ---------------------------------------------------------------------------------------------
// Geometry

void TQuilloView::GetMaxViewXY(int32_t& MaxX, int32_t& MaxY) const {
  MaxX = MaxY = 0;
  const int64_t EW = QLRound(FBitmap.GetWidth() * FZoomF);
  const int64_t EH = QLRound(FBitmap.GetHeight() * FZoomF);
  if (EW < 1 || EH < 1) return;
  // The image fits inside the control without scroll bars.
  if (GetWidth() >= EW && GetHeight() >= EH) return;
  MaxX = static_cast<int32_t>(std::max<int64_t>(EW - GetClientWidth(), 0));
  MaxY = static_cast<int32_t>(std::max<int64_t>(EH - GetClientHeight(), 0));
}

int32_t TQuilloView::XBmp2Scr(int32_t X) const {
  return QLRound32(static_cast<double>(int64_t(X) + QLRound(-FViewX * 100.0 / FZoom)) * FZoomF +
                   FOffsetX);
}

int32_t TQuilloView::YBmp2Scr(int32_t Y) const {
  return QLRound32(static_cast<double>(int64_t(Y) + QLRound(-FViewY * 100.0 / FZoom)) * FZoomF +
                   FOffsetY);
}

int32_t TQuilloView::XScr2Bmp(int32_t X) const {
  return QLTrunc((static_cast<double>(X) - FOffsetX) * 100.0 / FZoom + FSrcX);
}

int32_t TQuilloView::YScr2Bmp(int32_t Y) const {
  return QLTrunc((static_cast<double>(Y) - FOffsetY) * 100.0 / FZoom + FSrcY);
}

void TQuilloView::ArmZoomFilterDelay() {
  if (FDelayZoomFilter && FZoomFilter != rfNone && FZoom != 100) FDelay = 2;
}

void TQuilloView::ViewChange(int32_t Change) {
  if (OnViewChange) OnViewChange(this, Change);
}

void TQuilloView::SetZoom(double Value) {
  if (Value <= 0 || Value == FZoom) return;
  ArmZoomFilterDelay();
  LockPaint();
  // The client centre stays on the same bitmap point.
  const int32_t CX = GetClientWidth() / 2, CY = GetClientHeight() / 2;
  const int64_t BX = QLRound((static_cast<double>(CX) + FViewX - FOffsetX) * 100.0 / FZoom);
  const int64_t BY = QLRound((static_cast<double>(CY) + FViewY - FOffsetY) * 100.0 / FZoom);
  int32_t MaxX, MaxY;
  GetMaxViewXY(MaxX, MaxY);
  FViewX = std::clamp(QLTrunc(BX * Value / 100 - CX), 0, MaxX);
  FViewY = std::clamp(QLTrunc(BY * Value / 100 - CY), 0, MaxY);
  FZoom = Value;
  FZoomF = Value / 100;
  FZoomI = 100 / Value;
  Update();
  NPUnLockPaint();
  Paint();
  LockPaint();
  Update();
  NPUnLockPaint();
  ViewChange(1);
}

void TQuilloView::SetViewX(int32_t X) {
  if (X == FViewX) return;
  SetViewXYImpl(X, FViewY, true, false);
}

void TQuilloView::SetViewY(int32_t Y) {
  if (Y == FViewY) return;
  SetViewXYImpl(FViewX, Y, false, true);
}

void TQuilloView::SetViewXY(int32_t X, int32_t Y) {
  if (X == FViewX && Y == FViewY) return;
  SetViewXYImpl(X, Y, true, true);
}

void TQuilloView::SetViewXYImpl(int32_t X, int32_t Y, bool SetX, bool SetY) {
  ArmZoomFilterDelay();
  int32_t MaxX, MaxY;
  GetMaxViewXY(MaxX, MaxY);
  if (SetX) FViewX = std::clamp(X, 0, MaxX);
  if (SetY) FViewY = std::clamp(Y, 0, MaxY);
  FStale = true;
  // Paint redraws the selection outline over the new picture.
  Paint();
  ViewChange(0);
  UpdateScrollPositions();
}

void TQuilloView::UpdateScrollPositions() {
  if ((FScrollBars == ssHorizontal || FScrollBars == ssBoth) && FHScale > 0 &&
      GetScrollInfo(sbHorizontal).Visible)
    SetScrollPos(sbHorizontal, QLTrunc(FViewX / FHScale));
  if ((FScrollBars == ssVertical || FScrollBars == ssBoth) && FVScale > 0 &&
      GetScrollInfo(sbVertical).Visible)
    SetScrollPos(sbVertical, QLTrunc(FViewY / FVScale));
}

void TQuilloView::FitRoom(double& W, double& H) const {
  W = GetWidth() - 2.0 * BorderWidthX();
  H = GetHeight() - 2.0 * BorderWidthY();
  if (FScrollBarsAlwaysVisible) {
    if (GetScrollInfo(sbVertical).Visible) W -= gScrollBarSize;
    if (GetScrollInfo(sbHorizontal).Visible) H -= gScrollBarSize;
  }
}

void TQuilloView::Fit() {
  int32_t MX = 0, MY = 0;
  if (FBackgroundStyle == qlbsCropped) MX = gEdgeX, MY = gEdgeY;
  if (FBackgroundStyle == qlbsCropShadow) MX = MY = 5;
  if (FBitmap.Empty()) return;
  // The room inside the border: a zoom computed on the outer size would hide the bitmap's last
  // rows and columns under it.
  double W, H;
  FitRoom(W, H);
  SetZoom(std::min((H - 2.0 * MY) / (FBitmap.GetHeight() / 100.0),
                   (W - 2.0 * MX) / (FBitmap.GetWidth() / 100.0)));
}

void TQuilloView::ZoomAt(int32_t X, int32_t Y, double Zoom) {
  LockPaint();
  const int32_t BX = XScr2Bmp(X), BY = YScr2Bmp(Y);
  SetZoom(Zoom);
  const double F = FZoom / 100;
  SetViewXY(QLTrunc(F * BX - GetClientWidth() / 2), QLTrunc(F * BY - GetClientHeight() / 2));
  UnLockPaint();
}

void TQuilloView::ZoomSelection() {
  if (!FSelected) return;
  const int32_t X1 = FSel->SelX1, Y1 = FSel->SelY1, X2 = FSel->SelX2, Y2 = FSel->SelY2;
  LockPaint();
  DeSelect();
  const double W = X2 - X1 + 1.0, H = Y2 - Y1 + 1.0;
  double RoomW, RoomH;
  FitRoom(RoomW, RoomH);
  SetZoom(std::min(RoomH / (H / 100), RoomW / (W / 100)));
  const double C = FZoom / 100;
  SetViewXY(QLTrunc(X1 * C) - (GetClientWidth() - QLTrunc(W * C)) / 2,
            QLTrunc(C * Y1) - (GetClientHeight() - QLTrunc(H * C)) / 2);
  UnLockPaint();
}

int32_t TQuilloView::UnLockPaint() {
  if (FLock > 0) --FLock;
  if (FLock == 0) Update();
  return FLock;
}

int32_t TQuilloView::NPUnLockPaint() {
  if (FLock > 0) --FLock;
  return FLock;
}

int32_t TQuilloView::GetIdealComponentWidth() const {
  int32_t W = QLTrunc(FBitmap.GetWidth() / 100.0 * FZoom) + 1;
  if (FScrollBars == ssHorizontal || FScrollBars == ssBoth) W += GetWidth() - GetClientWidth();
  return W;
}

int32_t TQuilloView::GetIdealComponentHeight() const {
  int32_t H = QLTrunc(FBitmap.GetHeight() / 100.0 * FZoom) + 1;
  if (FScrollBars == ssVertical || FScrollBars == ssBoth) H += GetHeight() - GetClientHeight();
  return H;
}

void TQuilloView::Update() {
  if (!HasParentWindow() || !FSel) return;
  const int32_t BW = FBitmap.GetWidth(), BH = FBitmap.GetHeight();
  if (FAutoFit && BW > 0 && BH > 0) {
    double Z = std::min(GetClientHeight() / (BH / 100.0), GetClientWidth() / (BW / 100.0));
    if (Z < 1) Z = 1;
    FZoom = Z;
    FZoomF = Z / 100;
    FZoomI = 100 / Z;
    ViewChange(1);
  }
  if (BW != FLastBmpW || BH != FLastBmpH) {
    FLastBmpW = BW;
    FLastBmpH = BH;
    if (FSelected) DeSelect();
    FMask.AllocateBits(BW, BH, 1);
  }
  // Showing or hiding a bar changes the client size, which changes the limits: settle it.
  for (int32_t Pass = 0; Pass < 4; ++Pass) {
    const int32_t CW = GetClientWidth(), CH = GetClientHeight();
    int32_t MaxX, MaxY;
    GetMaxViewXY(MaxX, MaxY);
    const int32_t VX = std::clamp(FViewX, 0, MaxX), VY = std::clamp(FViewY, 0, MaxY);
    if (VX != FViewX || VY != FViewY) {
      FViewX = VX;
      FViewY = VY;
      ViewChange(0);
    }
    auto Bar = [&](TScrollBarKind Kind, int32_t Max, int32_t Client, int32_t View, double& Scale,
                   const TQLScrollBarParams& P) {
      TScrollBarInfo I = GetScrollInfo(Kind);
      I.Tracking = P.Tracking;
      if (Max < 1) {
        if (!FScrollBarsAlwaysVisible) {
          if (I.Visible) ShowScrollBar(Kind, false);
          return;
        }
        I.Visible = true;
        I.ArrowsEnabled = false;
      } else {
        Scale = (static_cast<double>(Client) + Max) / 65536;
        I.Visible = true;
        I.ArrowsEnabled = true;
        I.Min = 0;
        I.Max = 65535;
        I.Page = QLTrunc(Client / Scale);
        I.Position = QLTrunc(View / Scale);
      }
      if (!(I == GetScrollInfo(Kind))) SetScrollInfo(Kind, I);
    };
    if (FScrollBars == ssHorizontal || FScrollBars == ssBoth)
      Bar(sbHorizontal, MaxX, CW, FViewX, FHScale, *FHParams);
    if (FScrollBars == ssVertical || FScrollBars == ssBoth)
      Bar(sbVertical, MaxY, CH, FViewY, FVScale, *FVParams);
    if (CW == GetClientWidth() && CH == GetClientHeight()) break;
  }
  FExtentX = QLRound32(BW * FZoomF);
  FExtentY = QLRound32(BH * FZoomF);
  FOffsetX = FOffsetY = 0;
  const int32_t CW = GetClientWidth(), CH = GetClientHeight();
  FDrawWidth = std::min(FExtentX, CW);
  FDrawHeight = std::min(FExtentY, CH);
  if (FCenter) {
    if (FDrawWidth < CW) FOffsetX = (CW - FDrawWidth) / 2;
    if (FDrawHeight < CH) FOffsetY = (CH - FDrawHeight) / 2;
  }
  FStale = true;
  Invalidate();
}

// ---------------------------------------------------------------------------------------------
// Painting

void TQuilloView::Paint() {
  if (FLock > 0) return;
  const int32_t CW = GetClientWidth(), CH = GetClientHeight();
  TBitmap& Surf = Surface();
  if (Surf.GetWidth() != CW || Surf.GetHeight() != CH || Surf.GetPixelFormat() != pf24bit)
    Surf.Recreate(CW, CH, pf24bit);
  if (FDoubleBuffer) {
    if (FBackBuffer.GetWidth() != CW || FBackBuffer.GetHeight() != CH) {
      FBackBuffer.Recreate(CW, CH, pf24bit);
      FStale = true;
    }
    if (FStale) {
      PaintTo(*FBackCanvas);
      FStale = false;
    }
    if (!Surf.Empty())
      std::memcpy(Surf.Bits(), FBackBuffer.Bits(), static_cast<size_t>(Surf.BitsSize()));
    Surf.Modified();
  } else {
    PaintTo(Canvas());
  }
  // The outline lives over the window only; a repaint wipes it, so it is put back at once.
  for (auto& P : FPolygons)
    if (P->Visible && (P.get() != FSel || FSelected)) DrawOutline(*P, false);
  if (FPolyDrawing) PolyDraw1();
}

void TQuilloView::PaintBackground(TCanvas& C, const TRect& Img, int32_t W, int32_t H) {
  const TColor Bg = GetBackground();
  const TColor NotBg = static_cast<TColor>(~ColorToRGB(Bg) & 0xFFFFFF);
  C.Pen().SetMode(pmCopy);
  C.Pen().SetStyle(psSolid);
  C.Pen().SetWidth(1);
  C.Brush().SetStyle(bsSolid);
  switch (FBackgroundStyle) {
    case qlbsSolid:
    case qlbsHorizontal:
    case qlbsVertical:
    case qlbsFDiagonal:
    case qlbsBDiagonal:
    case qlbsCross:
    case qlbsDiagCross: {
      static constexpr TBrushStyle Styles[] = {bsSolid,     bsHorizontal, bsVertical, bsFDiagonal,
                                               bsBDiagonal, bsCross,      bsDiagCross};
      // Hatch lines over an opaque white ground: the stale picture must not show between them.
      const TBkMode Mode = C.GetBkMode();
      const TColor BkColor = C.GetBkColor();
      C.SetBkMode(bkOpaque);
      C.SetBkColor(clWhite);
      C.Brush().SetColor(Bg);
      C.Brush().SetStyle(Styles[FBackgroundStyle]);
      C.FillRect(Rect(0, 0, W, H));
      C.Brush().SetStyle(bsSolid);
      C.SetBkMode(Mode);
      C.SetBkColor(BkColor);
      break;
    }
    case qlbsChessboard:
      for (int32_t Y = 0, Row = 0; Y < H; Y += 16, ++Row)
        for (int32_t X = 0, Col = 0; X < W; X += 16, ++Col) {
          C.Brush().SetColor(((Row + Col) & 1) ? Bg : NotBg);
          C.FillRect(Rect(X, Y, X + 16, Y + 16));
        }
      break;
    case qlbsDiagonals:
      C.Brush().SetColor(Bg);
      C.FillRect(Rect(0, 0, W, H));
      C.Pen().SetColor(NotBg);
      C.MoveTo(0, 0);
      C.LineTo(W, H);
      C.MoveTo(W, 0);
      C.LineTo(0, H);
      break;
    case qlbsCropped: {
      C.Brush().SetColor(clBtnFace);
      C.FillRect(Rect(0, 0, W, H));
      TRect E = Rect(Img.Left - gEdgeX, Img.Top - gEdgeY, Img.Right + gEdgeX, Img.Bottom + gEdgeY);
      C.DrawEdge(E, edgeSunken, bfRect);
      break;
    }
    case qlbsCropShadow:
      C.Brush().SetColor(clBtnFace);
      C.FillRect(Rect(0, 0, W, H));
      QLRightShadow(C, Img.Right, Img.Top, Img.Right + 5, Img.Bottom + 3, qlstSmooth1);
      QLBottomShadow(C, Img.Left, Img.Bottom, Img.Right + 4, Img.Bottom + 5, qlstSmooth1);
      break;
  }
}

void TQuilloView::PaintTo(TCanvas& C) {
  const int32_t CW = GetClientWidth(), CH = GetClientHeight();
  const int32_t BW = FBitmap.GetWidth(), BH = FBitmap.GetHeight();
  C.ClearClipRegion();
  if (BW == 0 || BH == 0) {
    PaintBackground(C, TRect{}, CW, CH);
    return;
  }
  FSrcX = FSrcY = FSrcWidth = FSrcHeight = 0;
  if (FExtentX != 0) {
    const double R = static_cast<double>(BW) / FExtentX;
    FSrcX = QLRound32(FViewX * R);
    FSrcWidth = QLRound32(FDrawWidth * R);
    if (FSrcX + FSrcWidth > BW) --FSrcWidth;
  }
  if (FExtentY != 0) {
    const double R = static_cast<double>(BH) / FExtentY;
    FSrcY = QLRound32(FViewY * R);
    FSrcHeight = QLRound32(FDrawHeight * R);
    if (FSrcY + FSrcHeight > BH) --FSrcHeight;
  }
  if (FZoom > 100) {
    // The partly visible last column and row are included.
    FDstWidth = QLTrunc(FSrcWidth * FZoomF);
    if (FDstWidth < FDrawWidth && FSrcX + FSrcWidth + 1 <= BW)
      FDstWidth = QLTrunc(++FSrcWidth * FZoomF);
    FDstHeight = QLTrunc(FSrcHeight * FZoomF);
    if (FDstHeight < FDrawHeight && FSrcY + FSrcHeight + 1 <= BH)
      FDstHeight = QLTrunc(++FSrcHeight * FZoomF);
  } else {
    FDstWidth = FDrawWidth;
    FDstHeight = FDrawHeight;
  }
  const TRect Img = Rect(FOffsetX, FOffsetY, FOffsetX + FDstWidth, FOffsetY + FDstHeight);
  const TRect Src = Rect(FSrcX, FSrcY, FSrcX + FSrcWidth, FSrcY + FSrcHeight);
  if (FCenter || FDstWidth < CW || FDstHeight < CH) {
    TBitmap* T = C.GetBitmap();
    if (FBackgroundStyle == qlbsSolid && T && T->GetPixelFormat() == pf24bit &&
        T->GetWidth() == CW && T->GetHeight() == CH) {
      FillOutside(*T, Img, ColorToRGB(GetBackground()));
    } else {
      C.ExcludeClipRect(Img);
      PaintBackground(C, Img, CW, CH);
      C.ClearClipRegion();
    }
  }

  bool Drawn = false;
  if (FZoomFilter != rfNone && FDelay < 1 && FZoom != 100 && FDrawWidth > 0 && FDrawHeight > 0 &&
      FSrcWidth > 0 && FSrcHeight > 0) {
    TBitmap Out;
    if (FZoom > 100 || FBitmap.GetPixelFormat() == pf24bit) {
      Out.Recreate(FDrawWidth, FDrawHeight, pf24bit);
      // The resampler leaves sources below 2 x 2 alone; those are drawn unfiltered. A 24-bit
      // bitmap is resampled in place; a 1-bit one is widened first. The weights are normalised
      // so that flat areas stay flat at every zoom.
      if (FSrcWidth >= 2 && FSrcHeight >= 2) {
        if (FBitmap.GetPixelFormat() == pf24bit) {
          _ResampleRect(FBitmap, Src, Out, FZoomFilter, true);
        } else {
          TBitmap Part;
          CopyOut24(FBitmap, FSrcX, FSrcY, FSrcWidth, FSrcHeight, Part);
          _ResampleRect(Part, Rect(0, 0, FSrcWidth, FSrcHeight), Out, FZoomFilter, true);
        }
        Drawn = true;
      }
    } else {
      Out.Recreate(FDrawWidth, FDrawHeight, pf24bit);
      _SubResample1bitFiltered(FBitmap, FSrcX, FSrcY, FSrcX + FSrcWidth - 1, FSrcY + FSrcHeight - 1,
                               Out);
      Drawn = true;
    }
    if (Drawn) {
      const int32_t W = std::min(FDstWidth, Out.GetWidth()),
                    H = std::min(FDstHeight, Out.GetHeight());
      StretchOnto(C, Rect(FOffsetX, FOffsetY, FOffsetX + W, FOffsetY + H), Out, Rect(0, 0, W, H));
    }
  }
  if (!Drawn) StretchOnto(C, Img, FBitmap, Src);

  if ((FSelectionOptions & qlsoFilled) && FSelected && FSel->Visible)
    FMask.InvertCanvas(C, Img, Src);

  if (FDisplayGrid && FZoom >= 400) {
    C.Pen().SetMode(pmNot);
    C.Pen().SetStyle(psSolid);
    C.Pen().SetWidth(1);
    const int32_t L = XBmp2Scr(FSrcX), R = XBmp2Scr(FSrcX + FSrcWidth);
    const int32_t T = YBmp2Scr(FSrcY), B = YBmp2Scr(FSrcY + FSrcHeight);
    for (int32_t Y = FSrcY; Y <= FSrcY + FSrcHeight; ++Y) {
      const int32_t SY = YBmp2Scr(Y);
      C.MoveTo(L, SY);
      C.LineTo(R, SY);
    }
    for (int32_t X = FSrcX; X <= FSrcX + FSrcWidth; ++X) {
      const int32_t SX = XBmp2Scr(X);
      C.MoveTo(SX, T);
      C.LineTo(SX, B);
    }
    C.Pen().SetMode(pmCopy);
  }
}

void TQuilloView::DrawTo(TCanvas& C) {
  const int32_t BW = FBitmap.GetWidth(), BH = FBitmap.GetHeight();
  if (BH < 1 || FExtentX < 1 || FExtentY < 1 || FDrawWidth < 1 || FDrawHeight < 1) return;
  const double RX = static_cast<double>(BW) / FExtentX, RY = static_cast<double>(BH) / FExtentY;
  const int32_t SX = QLRound32(RX * FViewX), SW = std::min(QLRound32(RX * FDrawWidth), BW - SX);
  const int32_t SY = QLRound32(RY * FViewY), SH = std::min(QLRound32(RY * FDrawHeight), BH - SY);
  if (SW < 1 || SH < 1) return;
  const TRect Dest = Rect(0, 0, FDrawWidth, FDrawHeight);
  if (FZoomFilter == rfNone || FZoom == 100 || SW < 2 || SH < 2) {
    StretchOnto(C, Dest, FBitmap, Rect(SX, SY, SX + SW, SY + SH));
    return;
  }
  TBitmap Part, Out;
  CopyOut24(FBitmap, SX, SY, SW, SH, Part);
  Out.Recreate(FDrawWidth, FDrawHeight, pf24bit);
  _ResampleRect(Part, Rect(0, 0, SW, SH), Out, FZoomFilter, true);
  StretchOnto(C, Dest, Out, Dest);
}

// ---------------------------------------------------------------------------------------------
// Properties

void TQuilloView::SetZoomFilter(TResampleFilter F) {
  FZoomFilter = F;
  Update();
}

void TQuilloView::SetScrollBars(TScrollStyle S) {
  FScrollBars = S;
  if (S != ssHorizontal && S != ssBoth) ShowScrollBar(sbHorizontal, false);
  if (S != ssVertical && S != ssBoth) ShowScrollBar(sbVertical, false);
  Update();
}

void TQuilloView::SetScrollBarsAlwaysVisible(bool V) {
  FScrollBarsAlwaysVisible = V;
  Update();
}

void TQuilloView::SetSelectionOptions(TQLSelectionOptions O) {
  FSelectionOptions = O;
  FSel->Animated = (O & qlsoAnimated) != 0;
  FSel->Sizeable = (O & qlsoSizeable) != 0;
  Update();
}

void TQuilloView::SetCenter(bool V) {
  FCenter = V;
  Update();
}

void TQuilloView::SetDoubleBuffer(bool V) {
  FDoubleBuffer = V;
  Update();
}

void TQuilloView::SetAutoFit(bool V) {
  FAutoFit = V;
  Update();
}

void TQuilloView::SetBackgroundStyle(TQLBackgroundStyle S) {
  FBackgroundStyle = S;
  Update();
}

void TQuilloView::SetDisplayGrid(bool V) {
  FDisplayGrid = V;
  Update();
}

// ---------------------------------------------------------------------------------------------
// Input

bool QLScrollTarget(TScrollCode Code, int32_t Pos, int32_t Cur, int32_t Line, int32_t Page,
                    double Scale, const TQLScrollBarParams& P, int32_t Max, int32_t& New) {
  switch (Code) {
    case scLineUp:
      New = Cur - Line;
      return true;
    case scLineDown:
      New = Cur + Line;
      return true;
    case scPageUp:
      New = Cur - Page;
      return true;
    case scPageDown:
      New = Cur + Page;
      return true;
    case scTrack:
      if (!P.Tracking) return false;
      [[fallthrough]];
    case scPosition:
      New = QLTrunc(Pos * Scale);
      return true;
    case scTop:
      New = 0;
      return true;
    case scBottom:
      New = Max;
      return true;
    default:
      return false;
  }
}

void TQuilloView::Scroll(bool Horizontal, TScrollCode Code, int32_t Pos) {
  const TQLScrollBarParams& P = Horizontal ? *FHParams : *FVParams;
  const int32_t Cur = Horizontal ? FViewX : FViewY;
  const int32_t Client = Horizontal ? GetClientWidth() : GetClientHeight();
  const double Scale = Horizontal ? FHScale : FVScale;
  const int32_t U = std::max(QLTrunc(FZoomF), 1);
  const int32_t Line = P.LineStep == -1 ? U : U * P.LineStep;
  const int32_t Page = P.PageStep == -1 ? Client : U * P.PageStep;
  int32_t MX, MY, New = Cur;
  GetMaxViewXY(MX, MY);
  if (!QLScrollTarget(Code, Pos, Cur, Line, Page, Scale, P, Horizontal ? MX : MY, New)) return;
  if (Horizontal)
    SetViewX(New);
  else
    SetViewY(New);
}

void TQuilloView::HScroll(TScrollCode Code, int32_t Pos) {
  Scroll(true, Code, Pos);
}

void TQuilloView::VScroll(TScrollCode Code, int32_t Pos) {
  Scroll(false, Code, Pos);
}

bool TQuilloView::DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) {
  if (TQLView::DoMouseWheel(Shift, WheelDelta, MousePos)) return true;
  const TQLMouseWheelParams& P = *FWheelParams;
  int32_t D = WheelDelta > 0 ? -1 : 1;
  if (P.InvertDirection) D = -D;
  switch (P.Action) {
    case qlmwNone:
      break;
    case qlmwVScroll: {
      const int32_t Step =
          P.Variation == qlmwPercentage
              ? D * std::max(QLRound32(GetClientHeight() * static_cast<double>(P.Value) / 100), 1)
              : D * P.Value * std::max(QLTrunc(FZoomF), 1);
      SetViewY(FViewY + Step);
      break;
    }
    case qlmwZoom: {
      const double Step = P.Variation == qlmwPercentage
                              ? D * std::max<int64_t>(QLRound(FZoom * P.Value / 100), 1)
                              : static_cast<double>(D) * P.Value;
      SetZoom(FZoom + Step);
      break;
    }
  }
  return true;
}

bool TQuilloView::WantsKey(uint16_t Key) const {
  return (Key >= VK_PRIOR && Key <= VK_DOWN) || TQLView::WantsKey(Key);
}

void TQuilloView::TimerTick(int32_t Id) {
  if (Id == kAnimTimer) AniPolyFunc(true);
  if (Id == kScrollTimer) {
    if (FButtonDown)
      HandleMove(FDragShift, FCursorX, FCursorY);
    else
      KillTimer(kScrollTimer);
  }
  TQLView::TimerTick(Id);
}

// ---------------------------------------------------------------------------------------------
// Animated polygons

TQLAnimPolygon* TQuilloView::AnimPolygonNew(TColor Color1, TColor Color2, bool Animated,
                                            bool Sizeable) {
  auto P = std::make_unique<TQLAnimPolygon>();
  P->Color1 = Color1;
  P->Color2 = Color2;
  P->Animated = Animated;
  P->Sizeable = Sizeable;
  P->Canvas = &Canvas();
  FPolygons.push_back(std::move(P));
  if (FPolygons.size() == 1) SetTimer(kAnimTimer, kAnimInterval);
  return FPolygons.back().get();
}

void TQuilloView::AnimPolygonDel(TQLAnimPolygon* P) {
  auto It = std::find_if(FPolygons.begin(), FPolygons.end(),
                         [&](const std::unique_ptr<TQLAnimPolygon>& E) { return E.get() == P; });
  if (It == FPolygons.end()) return;
  if (P == FSel) FSel = nullptr;
  FPolygons.erase(It);
  if (FPolygons.empty()) KillTimer(kAnimTimer);
  if (FSel) RepaintUnlessLocked();
}

void TQuilloView::RepaintUnlessLocked() {
  if (FLock == 0) Paint();
}

void TQuilloView::AnimPolygonClear(TQLAnimPolygon* P) {
  P->Points.clear();
  RepaintUnlessLocked();
}

void TQuilloView::AnimPolygonAddPt(TQLAnimPolygon* P, int32_t X, int32_t Y) {
  AnimPolygonAddPtEx(P, X, Y);
  RepaintUnlessLocked();
}

void TQuilloView::AnimPolygonAddPtEx(TQLAnimPolygon* P, int32_t X, int32_t Y) {
  P->Points.push_back(Point(X, Y));
  const int32_t N = P->Count();
  if (N == 2 && P->Points[0].X != QLPolyBreak) {
    const TPoint A = P->Points[0];
    P->SelX1 = std::min(A.X, X);
    P->SelY1 = std::min(A.Y, Y);
    P->SelX2 = std::max(A.X, X);
    P->SelY2 = std::max(A.Y, Y);
  } else if (N > 2) {
    P->SelX1 = std::min(P->SelX1, X);
    P->SelY1 = std::min(P->SelY1, Y);
    P->SelX2 = std::max(P->SelX2, X);
    P->SelY2 = std::max(P->SelY2, Y);
  }
  FSelected = true;
}

void TQuilloView::AnimPolygonAddBreak(TQLAnimPolygon* P) {
  if (!P->Points.empty() && P->Points.back().X == QLPolyBreak) return;
  P->Points.push_back(Point(QLPolyBreak, QLPolyBreak));
}

void TQuilloView::AnimPolygonRemoveLast(TQLAnimPolygon* P) {
  int32_t Last = 0;
  for (int32_t I = 0; I < P->Count(); ++I)
    if (P->Points[static_cast<size_t>(I)].X == QLPolyBreak) Last = I;
  P->Points.resize(static_cast<size_t>(Last));
  if (P->Points.empty())
    AnimPolygonClear(P);
  else
    RepaintUnlessLocked();
}

void TQuilloView::AnimPolygonRemoveLastPoint(TQLAnimPolygon* P) {
  if (!P->Points.empty()) P->Points.pop_back();
  while (!P->Points.empty() && P->Points.back().X == QLPolyBreak) P->Points.pop_back();
}

void TQuilloView::AnimPolygonMove(TQLAnimPolygon* P, int32_t DX, int32_t DY, int32_t Width,
                                  int32_t Height) {
  RepaintUnlessLocked();
  P->SelX1 += DX;
  P->SelY1 += DY;
  P->SelX2 += DX;
  P->SelY2 += DY;
  for (TPoint& Pt : P->Points) {
    if (Pt.X == QLPolyBreak) continue;
    Pt.X = std::clamp(Pt.X + DX, 0, Width);
    Pt.Y = std::clamp(Pt.Y + DY, 0, Height);
  }
}

void TQuilloView::DrawOutline(TQLAnimPolygon& P, bool FromTimer) {
  if (!P.Visible) return;
  if (FromTimer && P.Animated && !FPolyDrawing && !FRectDrawing && !FEllipseDrawing)
    P.Phase = P.Phase + 1 == 6 ? 0 : P.Phase + 1;
  if (FLock > 0 || P.Points.empty()) return;
  TBitmap& S = Surface();
  if (S.Empty() || S.GetPixelFormat() != pf24bit) return;
  const double R = FExtentX >= 1 ? static_cast<double>(FBitmap.GetWidth()) / FExtentX : 1.0;
  const int64_t BX = QLRound(-FViewX * R), BY = QLRound(-FViewY * R);
  auto Map = [&](const TPoint& Pt) {
    return Point(QLRound32(static_cast<double>(BX + Pt.X) * FZoomF + FOffsetX),
                 QLRound32(static_cast<double>(BY + Pt.Y) * FZoomF + FOffsetY));
  };
  const TColor C1 = ColorToRGB(P.Color1), C2 = ColorToRGB(P.Color2);
  const int32_t SW = S.GetWidth(), SH = S.GetHeight();
  int32_t& Dash = P.DashCounter;
  Dash = P.Phase;
  // A line walk that visits each pixel once and leaves out the end point.
  auto Segment = [&](TPoint A, TPoint B) {
    const int64_t DX = int64_t(B.X) - A.X, DY = int64_t(B.Y) - A.Y;
    const int64_t Steps = std::max(std::llabs(DX), std::llabs(DY));
    for (int64_t I = 0; I < Steps; ++I) {
      const int64_t X = A.X + (2 * I * DX + (DX >= 0 ? Steps : -Steps)) / (2 * Steps);
      const int64_t Y = A.Y + (2 * I * DY + (DY >= 0 ? Steps : -Steps)) / (2 * Steps);
      const TColor Col = Dash <= 2 ? C1 : C2;
      if (Dash > 4) Dash = -1;
      ++Dash;
      if (X < 0 || Y < 0 || X >= SW || Y >= SH) continue;
      uint8_t* Px = S.ScanLine(static_cast<int32_t>(Y)) + X * 3;
      Px[0] = static_cast<uint8_t>(Col >> 16);
      Px[1] = static_cast<uint8_t>(Col >> 8);
      Px[2] = static_cast<uint8_t>(Col);
    }
  };
  const std::vector<TPoint>& Pts = P.Points;
  const int32_t N = P.Count();
  int32_t Start = 0;
  for (int32_t J = 1; J < N; ++J) {
    if (Pts[static_cast<size_t>(J)].X == QLPolyBreak) {
      Segment(Map(Pts[static_cast<size_t>(J - 1)]), Map(Pts[static_cast<size_t>(Start)]));
      Start = J + 1;
      ++J;
      continue;
    }
    Segment(Map(Pts[static_cast<size_t>(J - 1)]), Map(Pts[static_cast<size_t>(J)]));
  }
  if (!FPolyDrawing && Start < N && Pts[static_cast<size_t>(N - 1)].X != QLPolyBreak)
    Segment(Map(Pts[static_cast<size_t>(N - 1)]), Map(Pts[static_cast<size_t>(Start)]));
  if (P.Sizeable && !FRectDrawing && _IsRectangle(Pts.data(), N)) {
    TCanvas& C = Canvas();
    C.ClearClipRegion();
    C.Brush().SetStyle(bsSolid);
    C.Brush().SetColor(P.Color2);
    C.Pen().SetMode(pmCopy);
    C.Pen().SetStyle(psSolid);
    C.Pen().SetWidth(1);
    C.Pen().SetColor(P.Color1);
    for (const TPoint& Pt : Pts) {
      const TPoint Sp = Map(Pt);
      C.Rectangle(Sp.X - 3, Sp.Y - 3, Sp.X + 3, Sp.Y + 3);
    }
  }
  S.Modified();
}

void TQuilloView::AniPolyFunc(bool FromTimer) {
  for (auto& P : FPolygons)
    if (P.get() != FSel || FSelected) DrawOutline(*P, FromTimer);
  if (FromTimer && FDelay > 0 && --FDelay == 0) {
    Update();
    Paint();
  }
}

// ---------------------------------------------------------------------------------------------
// Selection

void TQuilloView::ConvertPoint(int32_t& X, int32_t& Y) const {
  if (FSelectionBase != qlsbClientArea) return;
  X = XScr2Bmp(X);
  Y = YScr2Bmp(Y);
}

void TQuilloView::ClampToBitmap(int32_t& X, int32_t& Y) const {
  X = std::clamp(X, 0, FBitmap.GetWidth());
  Y = std::clamp(Y, 0, FBitmap.GetHeight());
}

void TQuilloView::StartOrAdd(TQLSelOp Op) {
  FSelected = true;
  if (Op == qlspAdd && !FSel->Points.empty())
    AnimPolygonAddBreak(FSel);
  else
    FSel->Points.clear();
}

void TQuilloView::AppendRectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  ClampToBitmap(X1, Y1);
  ClampToBitmap(X2, Y2);
  if (X2 < X1) std::swap(X1, X2);
  if (Y2 < Y1) std::swap(Y1, Y2);
  AnimPolygonAddPtEx(FSel, X1, Y1);
  AnimPolygonAddPtEx(FSel, X2, Y1);
  AnimPolygonAddPtEx(FSel, X2, Y2);
  AnimPolygonAddPtEx(FSel, X1, Y2);
}

void TQuilloView::Select(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLSelOp Op) {
  SelectEx(X1, Y1, X2, Y2, Op);
  EndSelect();
}

void TQuilloView::SelectEx(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLSelOp Op) {
  if (X1 == X2 || Y1 == Y2) return;
  if (FSelectionBase == qlsbClientArea) {
    X1 = XScr2Bmp(X1);
    Y1 = YScr2Bmp(Y1);
    X2 = XScr2Bmp(X2) + 1;
    Y2 = YScr2Bmp(Y2) + 1;
  }
  StartOrAdd(Op);
  AppendRectangle(X1, Y1, X2, Y2);
  ShowSelectionEx(true);
}

void TQuilloView::SelectEllipse(int32_t CX, int32_t CY, int32_t RX, int32_t RY, TQLSelOp Op) {
  RX = std::abs(RX);
  RY = std::abs(RY);
  const double Pi2 = 2 * 3.14159265358979323846;
  const int32_t N = std::max(QLTrunc(std::min(RX, RY) * Pi2) / 4, 3);
  StartOrAdd(Op);
  for (int32_t I = 0; I < N; ++I) {
    const double A = Pi2 / N * I;
    int32_t X = QLTrunc(std::cos(A) * RX + CX), Y = QLTrunc(std::sin(A) * RY + CY);
    ConvertPoint(X, Y);
    ClampToBitmap(X, Y);
    AnimPolygonAddPtEx(FSel, X, Y);
  }
  EndSelect();
  ShowSelectionEx(true);
}

void TQuilloView::SelectMagicWand(int32_t X, int32_t Y, TQLSelOp Op) {
  ConvertPoint(X, Y);
  if (X < 0 || X > FBitmap.GetWidth() || Y < 0 || Y > FBitmap.GetHeight()) return;
  const std::vector<TPoint> Outline =
      _MakeMagicWandPoints(FBitmap, X, Y, FMagicWandMaxFilter, FMagicWandTolerance);
  if (Outline.empty()) return;
  StartOrAdd(Op);
  for (TPoint P : Outline) {
    if (P.X != QLPolyBreak) ClampToBitmap(P.X, P.Y);
    if (P.X == QLPolyBreak)
      AnimPolygonAddBreak(FSel);
    else
      AnimPolygonAddPtEx(FSel, P.X, P.Y);
  }
  EndSelect();
  ShowSelectionEx(true);
}

void TQuilloView::AddSelPoint(int32_t X, int32_t Y) {
  AddSelPointEx(X, Y);
  EndSelect();
}

void TQuilloView::AddSelPointEx(int32_t X, int32_t Y) {
  if (FSelectionBase == qlsbClientArea) {
    ConvertPoint(X, Y);
    ClampToBitmap(X, Y);
  }
  AnimPolygonAddPt(FSel, X, Y);
  ShowSelectionEx(true);
}

void TQuilloView::AddSelBreak() {
  AddSelBreakEx();
  EndSelect();
}

void TQuilloView::AddSelBreakEx() {
  if (!FSel->Points.empty()) AnimPolygonAddBreak(FSel);
}

void TQuilloView::EndSelect() {
  FMask.DrawPolygon(1, FSel->Points.data(), FSel->Count());
}

void TQuilloView::DeSelect() {
  if (FSelected) {
    FSelected = false;
    HideSelectionEx(true);
  }
  FSel->Points.clear();
  EndSelect();
  FPolyDrawing = FRectDrawing = FEllipseDrawing = false;
  FResizingGrip = FMovingGrip = -1;
}

TPoint TQuilloView::GetPolySel(int32_t I) const {
  if (I < 0 || I >= FSel->Count()) return Point(0, 0);
  return FSel->Points[static_cast<size_t>(I)];
}

const TPoint* TQuilloView::GetPolySelArray() const {
  return FSel->Points.empty() ? nullptr : FSel->Points.data();
}

bool TQuilloView::IsPointInsideSelection(int32_t X, int32_t Y) const {
  ConvertPoint(X, Y);
  return FMask.IsPointInside(X, Y);
}

void TQuilloView::ShowSelectionEx(bool Draw) {
  FSel->Visible = true;
  if (Draw) DrawOutline(*FSel, false);
}

void TQuilloView::HideSelectionEx(bool Repaint) {
  FSel->Visible = false;
  if (Repaint) RepaintUnlessLocked();
}

void TQuilloView::SetVisibleSelection(bool V) {
  if (V)
    ShowSelectionEx(true);
  else
    HideSelectionEx(true);
  Update();
}

void TQuilloView::AssignSelTo(TQuilloView& Target) {
  _CopyBitmapPoly(FBitmap, Target.FBitmap, FSel->SelX1, FSel->SelY1, FSel->SelX2, FSel->SelY2,
                  GetPolySelArray(), FSel->Count());
  Target.TQLView::SetBackGround(GetBackground());
  Target.SetDPI(GetDPIX(), GetDPIY());
  Target.Update();
  Target.ImageChange();
}

void TQuilloView::AssignSelTo(TBitmap& Target) {
  _CopyBitmapPoly(FBitmap, Target, FSel->SelX1, FSel->SelY1, FSel->SelX2, FSel->SelY2,
                  GetPolySelArray(), FSel->Count());
  Target.Modified();
}

void TQuilloView::CopyFromPolygon(const TBitmap& Source, const TPoint* Polygon, int32_t Count,
                                  TPoint Position) {
  _CopyPolygonToPoint(Source, Polygon, Count, FBitmap, Position);
  Update();
}

void TQuilloView::CopyToPolygon(TBitmap& Target, const TPoint* Polygon, int32_t Count,
                                TPoint Position) {
  _CopyPointToPolygon(FBitmap, Position, Target, Polygon, Count);
}

int32_t TQuilloView::GetResizingGrip(int32_t X, int32_t Y) const {
  if (!FSel->Visible || !FSel->Sizeable || FRectDrawing ||
      !_IsRectangle(FSel->Points.data(), FSel->Count()))
    return -1;
  for (int32_t I = 0; I < 4; ++I) {
    const TPoint& P = FSel->Points[static_cast<size_t>(I)];
    if (std::abs(X - XBmp2Scr(P.X)) <= 3 && std::abs(Y - YBmp2Scr(P.Y)) <= 3) return I;
  }
  const double L = XBmp2Scr(FSel->SelX1), T = YBmp2Scr(FSel->SelY1);
  const double R = XBmp2Scr(FSel->SelX2), B = YBmp2Scr(FSel->SelY2);
  if (_DistPoint2Seg(X, Y, L, T, L, B) < 3) return 4;
  if (_DistPoint2Seg(X, Y, R, T, R, B) < 3) return 5;
  if (_DistPoint2Seg(X, Y, L, T, R, T) < 3) return 6;
  if (_DistPoint2Seg(X, Y, L, B, R, B) < 3) return 7;
  return -1;
}

int32_t TQuilloView::GetMovingGrip(int32_t X, int32_t Y) const {
  if (!FSel->Visible || FRectDrawing || FPolyDrawing || FEllipseDrawing) return -1;
  return FMask.IsPointInside(XScr2Bmp(X), YScr2Bmp(Y)) ? 0 : -1;
}

int32_t TQuilloView::SelectResizeEx(int32_t Grip, int32_t X, int32_t Y) {
  if (!_IsRectangle(FSel->Points.data(), FSel->Count())) return Grip;
  int32_t BX = XScr2Bmp(X), BY = YScr2Bmp(Y);
  if (Grip == 1 || Grip == 2 || Grip == 5) ++BX;
  if (Grip == 2 || Grip == 3 || Grip == 7) ++BY;
  int32_t X1 = FSel->SelX1, Y1 = FSel->SelY1, X2 = FSel->SelX2, Y2 = FSel->SelY2;
  if (Grip == 0 || Grip == 3 || Grip == 4) X1 = BX == X2 ? X2 - 1 : BX;
  if (Grip == 1 || Grip == 2 || Grip == 5) X2 = BX == X1 ? X1 + 1 : BX;
  if (Grip == 0 || Grip == 1 || Grip == 6) Y1 = BY == Y2 ? Y2 - 1 : BY;
  if (Grip == 2 || Grip == 3 || Grip == 7) Y2 = BY == Y1 ? Y1 + 1 : BY;
  if (X2 < X1) {
    static constexpr int32_t MirrorX[8] = {1, 0, 3, 2, 5, 4, 6, 7};
    Grip = MirrorX[Grip & 7];
  }
  if (Y2 < Y1) {
    static constexpr int32_t MirrorY[8] = {3, 2, 1, 0, 4, 5, 7, 6};
    Grip = MirrorY[Grip & 7];
  }
  FSel->Points.clear();
  AppendRectangle(X1, Y1, X2, Y2);
  ShowSelectionEx(true);
  return Grip;
}

int32_t TQuilloView::SelectMoveEx(int32_t Grip, int32_t DX, int32_t DY) {
  AnimPolygonMove(FSel, DX, DY, FBitmap.GetWidth(), FBitmap.GetHeight());
  DrawOutline(*FSel, false);
  return Grip;
}

void TQuilloView::DoSelectionChanging() {
  if (OnSelectionChanging) OnSelectionChanging(this);
}

void TQuilloView::DoSelectionChange() {
  if (OnSelectionChange) OnSelectionChange(this);
}

}  // namespace quillo
