// The view's mouse modes: zooming by click, scrolling by drag, the rectangle, polygon, ellipse,
// zoom and magic-wand selections, grips and moving, automatic scrolling past the image edge.
#include <algorithm>
#include <cmath>

#include "quillo/platform/cursors.h"
#include "quillo/view/quilloview.h"

namespace quillo {

namespace {

constexpr TQLMouseInteract kSelectModes =
    miSelect | miSelectPolygon | miSelectCircle | miSelectZoom | miSelectMagicWand;

// Drag handlers take client coordinates whatever base the application uses.
class TClientBase {
 public:
  explicit TClientBase(TQuilloView& V) : FView(V), FSaved(V.GetSelectionBase()) {
    V.SetSelectionBase(qlsbClientArea);
  }
  ~TClientBase() { FView.SetSelectionBase(FSaved); }
  TClientBase(const TClientBase&) = delete;
  TClientBase& operator=(const TClientBase&) = delete;

 private:
  TQuilloView& FView;
  TQLSelectionBase FSaved;
};

constexpr double kZoomSteps[] = {2, 5, 10, 25, 33, 50, 75, 100};

double ZoomInStep(double Zoom) {
  if (Zoom >= 100) return Zoom + 100;
  for (double S : kZoomSteps)
    if (S > Zoom) return S;
  return 100;
}

double ZoomOutStep(double Zoom) {
  if (Zoom >= 200) return Zoom - 100;
  for (int32_t I = 7; I >= 0; --I)
    if (kZoomSteps[I] < Zoom) return kZoomSteps[I];
  return 2;
}

int32_t GripCursor(int32_t Grip) {
  switch (Grip) {
    case 0:
    case 2:
      return crQLMoveNWSE;
    case 1:
    case 3:
      return crQLMoveNESW;
    case 4:
    case 5:
      return crQLMoveWE;
    case 6:
    case 7:
      return crQLMoveNS;
    default:
      return crDefault;
  }
}

}  // namespace

void TQuilloView::SetMouseInteract(TQLMouseInteract M) {
  const TQLMouseInteract Old = FMouseInteract;
  if (M == Old) return;
  if (FPolyDrawing && (Old & miSelectPolygon)) {
    AnimPolygonRemoveLastPoint(FSel);
    EndSelect();
    FPolyDrawing = false;
    Invalidate();
  }
  // The first newly added member decides which others stay.
  static constexpr struct {
    TQLMouseInteract Added, Kept;
  } kRules[] = {
      {miScroll, miZoom | miScroll},          {miSelect, miZoom | miSelect},
      {miSelectPolygon, miSelectPolygon},     {miSelectCircle, miSelectCircle},
      {miSelectZoom, miZoom | miSelectZoom},  {miZoom, miZoom | miScroll | miSelect | miSelectZoom},
      {miSelectMagicWand, miSelectMagicWand},
  };
  const TQLMouseInteract Added = M & ~Old;
  for (const auto& R : kRules)
    if (Added & R.Added) {
      M &= R.Kept;
      break;
    }
  FMouseInteract = M;
  if (FGripCursorShown && !(M & kSelectModes)) {
    FGripCursorShown = false;
    SetCursor(FBaseCursor);
  }
}

void TQuilloView::ClampToImage(int32_t& X, int32_t& Y) const {
  X = std::clamp(X, FOffsetX, FOffsetX + FDrawWidth);
  Y = std::clamp(Y, FOffsetY, FOffsetY + FDrawHeight);
}

bool TQuilloView::LastIsPoint() const {
  return !FSel->Points.empty() && FSel->Points.back().X != QLPolyBreak;
}

void TQuilloView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TQLView::MouseDown(Button, Shift, X, Y);
  if (CanFocus()) SetFocus();
  // An ignored press starts no drag: moves with it held must not scroll from a stale start.
  if (Button != mbLeft && !(FMouseInteract & miZoom)) return;
  FButtonDown = true;
  FCursorX = X;
  FCursorY = Y;
  FDragShift = Shift;
  TClientBase Base(*this);
  if (!FFilterSetAside) {
    FSavedFilter = FZoomFilter;
    FFilterSetAside = true;
  }
  FZoomFilter = rfNone;
  ClampToImage(X, Y);
  FStartX = FLastX = FPrevX = X;
  FStartY = FLastY = FPrevY = Y;
  FViewX0 = FViewX;
  FViewY0 = FViewY;
  FCountAtPress = FSel->Count();
  if (FMouseInteract & miSelectPolygon) {
    FMovingGrip = GetMovingGrip(X, Y);
    if (FMovingGrip == -1) {
      if ((Shift & ssCtrl) && LastIsPoint()) {
        const TPoint L = FSel->Points.back();
        _CastPolySelCC(XBmp2Scr(L.X), YBmp2Scr(L.Y), X, Y);
      }
      if (!FPolyDrawing) {
        if (Shift & ssShift)
          AddSelBreakEx();
        else
          DeSelect();
      }
      AddSelPointEx(X, Y);
      FPolyDrawing = true;
      DoSelectionChanging();
    }
  } else if (FMouseInteract & (miSelect | miSelectZoom)) {
    FResizingGrip = GetResizingGrip(X, Y);
    FMovingGrip = GetMovingGrip(X, Y);
    if (FResizingGrip == -1 && FMovingGrip == -1) {
      FRectDrawing = true;
      DoSelectionChanging();
    }
  } else if (FMouseInteract & miSelectCircle) {
    FMovingGrip = GetMovingGrip(X, Y);
    if (FMovingGrip == -1) {
      FEllipseDrawing = true;
      ShowSelectionEx(false);
      DoSelectionChanging();
    }
  } else if (FMouseInteract & miSelectMagicWand) {
    FMovingGrip = GetMovingGrip(X, Y);
  }
  if (Button == mbLeft && (Shift & ssDouble)) EndPolygonByDoubleClick();
}

void TQuilloView::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  TQLView::MouseMove(Shift, X, Y);
  FCursorX = X;
  FCursorY = Y;
  FDragShift = Shift;
  HandleMove(Shift, X, Y);
}

void TQuilloView::HandleMove(TShiftState Shift, int32_t X, int32_t Y) {
  TClientBase Base(*this);
  const int32_t RawX = X, RawY = Y;
  ClampToImage(X, Y);
  if (FButtonDown) {
    if (FMouseInteract & miScroll) {
      SetViewXY(FViewX0 + FStartX - RawX, FViewY0 + FStartY - RawY);
    } else if (FResizingGrip >= 0) {
      MouseMoveScroll();
      FResizingGrip = SelectResizeEx(FResizingGrip, X, Y);
      DoSelectionChanging();
    } else if (FMovingGrip >= 0) {
      MouseMoveScroll();
      SelectMoveEx(FMovingGrip, XScr2Bmp(X) - XScr2Bmp(FPrevX), YScr2Bmp(Y) - YScr2Bmp(FPrevY));
      DoSelectionChanging();
    } else if (FRectDrawing) {
      MouseMoveScroll();
      TQLSelOp Op = qlspReplace;
      if (Shift & ssShift) {
        if (FSel->Count() != FCountAtPress) AnimPolygonRemoveLast(FSel);
        Op = qlspAdd;
      }
      SelectEx(FStartX, FStartY, X, Y, Op);
      DoSelectionChanging();
    } else if (FPolyDrawing) {
      MouseMoveScroll();
      // The repaint draws the rubber band and PolyDraw1 takes it away: none shows while a
      // freehand line is dragged.
      RepaintUnlessLocked();
      PolyDraw1();
      AnimPolygonAddPtEx(FSel, XScr2Bmp(X), YScr2Bmp(Y));
      DrawOutline(*FSel, false);
      DoSelectionChanging();
    } else if (FEllipseDrawing) {
      MouseMoveScroll();
      DragEllipse(Shift, X, Y);
    }
  } else if (FPolyDrawing) {
    PolyDraw1();
    if ((Shift & ssCtrl) && LastIsPoint()) {
      const TPoint L = FSel->Points.back();
      _CastPolySelCC(XBmp2Scr(L.X), YBmp2Scr(L.Y), X, Y);
    }
    FLastX = X;
    FLastY = Y;
    PolyDraw1();
    DoSelectionChanging();
  } else if (FMouseInteract & kSelectModes) {
    ShowGripCursor(X, Y);
  }
  if (OnMouseInSel && FMask.IsPointInside(XScr2Bmp(X), YScr2Bmp(Y))) OnMouseInSel(this);
  FLastX = FPrevX = X;
  FLastY = FPrevY = Y;
}

void TQuilloView::DragEllipse(TShiftState Shift, int32_t X, int32_t Y) {
  if (Shift & ssShift) {
    if (FSel->Count() != FCountAtPress) AnimPolygonRemoveLast(FSel);
    AddSelBreakEx();
  } else {
    FSel->Points.clear();
  }
  int32_t RX = std::abs(FStartX - X), RY = std::abs(FStartY - Y);
  if (Shift & ssCtrl) RX = RY = std::max(RX, RY);
  const double Pi2 = 2 * 3.14159265358979323846;
  const int32_t N = std::max(QLTrunc(std::min(RX, RY) * Pi2) / 4, 3);
  for (int32_t I = 0; I < N; ++I) {
    const double A = Pi2 / N * I;
    int32_t PX = XScr2Bmp(QLTrunc(std::cos(A) * RX + FStartX));
    int32_t PY = YScr2Bmp(QLTrunc(std::sin(A) * RY + FStartY));
    ClampToBitmap(PX, PY);
    AnimPolygonAddPtEx(FSel, PX, PY);
  }
  RepaintUnlessLocked();
  DrawOutline(*FSel, false);
  DoSelectionChanging();
}

void TQuilloView::ShowGripCursor(int32_t X, int32_t Y) {
  int32_t C = GripCursor(GetResizingGrip(X, Y));
  if (C == crDefault && GetMovingGrip(X, Y) == 0) C = crQLMove;
  if (C != crDefault) {
    if (!FGripCursorShown) FBaseCursor = GetCursor();
    FGripCursorShown = true;
    SetCursor(C);
  } else if (FGripCursorShown) {
    FGripCursorShown = false;
    SetCursor(FBaseCursor);
  }
}

bool TQuilloView::MouseMoveScroll() {
  const int32_t CX = FCursorX, CY = FCursorY;
  int32_t DX = 0, DY = 0;
  if (CX < FOffsetX)
    DX = CX - FOffsetX;
  else if (CX > FOffsetX + FDrawWidth - 1)
    DX = CX - (FOffsetX + FDrawWidth - 1);
  if (CY < FOffsetY)
    DY = CY - FOffsetY;
  else if (CY > FOffsetY + FDrawHeight - 1)
    DY = CY - (FOffsetY + FDrawHeight - 1);
  bool Moved = false;
  if (DX != 0 || DY != 0) {
    const int32_t OldX = FViewX, OldY = FViewY;
    SetViewXY(FViewX + DX, FViewY + DY);
    Moved = OldX != FViewX || OldY != FViewY;
    if (Moved) {
      FStartX += OldX - FViewX;
      FStartY += OldY - FViewY;
      SubMouseMoveScroll(DX, DY);
    }
  }
  // While the drag stays outside, the step timer keeps scrolling without mouse events.
  if (Moved)
    SetTimer(kScrollTimer, kScrollInterval);
  else
    KillTimer(kScrollTimer);
  return Moved;
}

void TQuilloView::SubMouseMoveScroll(int32_t DX, int32_t DY) {
  FLastX -= DX;
  FLastY -= DY;
  FPrevX -= DX;
  FPrevY -= DY;
}

void TQuilloView::PolyDraw1() {
  if (!FPolyDrawing || !LastIsPoint() || FLock > 0) return;
  TBitmap& S = Surface();
  if (S.Empty()) return;
  const TPoint L = FSel->Points.back();
  TCanvas& C = Canvas();
  C.ClearClipRegion();
  C.Pen().SetMode(pmNot);
  C.Pen().SetWidth(1);
  C.Pen().SetStyle(psSolid);
  C.MoveTo(FLastX, FLastY);
  C.LineTo(XBmp2Scr(L.X), YBmp2Scr(L.Y));
  C.Pen().SetMode(pmCopy);
  S.Modified();
}

void TQuilloView::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TQLView::MouseUp(Button, Shift, X, Y);
  FButtonDown = false;
  KillTimer(kScrollTimer);
  TClientBase Base(*this);
  const bool Left = Button == mbLeft;
  if ((FMouseInteract & miZoom) && X == FStartX && Y == FStartY) {
    if (Button == mbLeft) ZoomAt(X, Y, ZoomInStep(FZoom));
    if (Button == mbRight) ZoomAt(X, Y, ZoomOutStep(FZoom));
  } else if (Left && (FMouseInteract & miScroll)) {
    SetViewXY(FViewX0 + FStartX - X, FViewY0 + FStartY - Y);
  } else if (Left && (FMouseInteract & miSelectZoom)) {
    FRectDrawing = false;
    FResizingGrip = FMovingGrip = -1;
    ZoomSelection();
  } else if (Left && (FMouseInteract & miSelect)) {
    if (FRectDrawing || FResizingGrip >= 0 || FMovingGrip >= 0) EndSelect();
    FRectDrawing = false;
    FResizingGrip = FMovingGrip = -1;
    Invalidate();
    DoSelectionChange();
  } else if (Left && (FMouseInteract & miSelectCircle)) {
    if (FEllipseDrawing || FMovingGrip >= 0) EndSelect();
    FEllipseDrawing = false;
    FMovingGrip = -1;
    Invalidate();
    DoSelectionChange();
  } else if (Left && (FMouseInteract & miSelectPolygon)) {
    if (FMovingGrip >= 0) {
      EndSelect();
      FMovingGrip = -1;
      DoSelectionChange();
    }
  } else if (Left && (FMouseInteract & miSelectMagicWand)) {
    if (FMovingGrip < 0) {
      TControlHost* Host = GetHost();
      if (Host) Host->SetCursorOverride(crHourGlass);
      SelectMagicWand(X, Y, (Shift & ssShift) ? qlspAdd : qlspReplace);
      if (Host) Host->SetCursorOverride(crDefault);
    } else {
      EndSelect();
      FMovingGrip = -1;
    }
    DoSelectionChange();
  }
  if (FFilterSetAside) {
    FFilterSetAside = false;
    SetZoomFilter(FSavedFilter);
  }
}

void TQuilloView::EndPolygonByDoubleClick() {
  if (!FPolyDrawing) return;
  // The press of the second click added a vertex where the first one already put one.
  AnimPolygonRemoveLastPoint(FSel);
  EndSelect();
  FPolyDrawing = false;
  RepaintUnlessLocked();
  DoSelectionChange();
}

void TQuilloView::DoEnter() {
  TQLView::DoEnter();
  Invalidate();
}

void TQuilloView::DoExit() {
  TQLView::DoExit();
  Invalidate();
}

}  // namespace quillo
