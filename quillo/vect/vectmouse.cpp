// The layer's mouse and keyboard: placing objects, grips, picking, rubber-band selection, the
// measuring hints and the in-place text editor.
#include <algorithm>
#include <cmath>

#include "quillo/core/selection.h"
#include "quillo/platform/threads.h"
#include "quillo/vect/vect.h"

namespace quillo {

namespace {
constexpr uint16_t kVkF2 = 113;
constexpr TQLMouseInteractVt kMeasureModes = miArea | miLineLen;
}  // namespace

// The edit control over a text object: Return keeps the typing, Escape drops it.
class TQuilloVect::TTextEditor : public TEdit {
 public:
  explicit TTextEditor(TQuilloVect& Owner) : FOwner(Owner) { SetBorderStyle(bsNone); }
  void KeyDown(uint16_t& Key, TShiftState Shift) override {
    if (Key == VK_RETURN || Key == VK_ESCAPE) {
      const bool Accept = Key == VK_RETURN;
      Key = 0;
      FOwner.CloseEditor(Accept);
      return;
    }
    TEdit::KeyDown(Key, Shift);
  }
  bool WantsKey(uint16_t Key) const override {
    return Key == VK_RETURN || Key == VK_ESCAPE || TEdit::WantsKey(Key);
  }

 private:
  TQuilloVect& FOwner;
};

void TQuilloVect::SetMouseInteractVt(TQLMouseInteractVt M) {
  CancelInteracts();
  const TQLMouseInteractVt Added = M & ~FInteractVt;
  // A newly added mode replaces the others: the lowest one added wins.
  FInteractVt = Added ? static_cast<TQLMouseInteractVt>(Added & -Added) : M;
  if (FInteractVt & kMeasureModes)
    UpdateMeasureHint(FMouseX, FMouseY);
  else
    HideHint();
  if (FInteractVt & ~kMeasureModes) TQuilloView::SetMouseInteract(0);
}

void TQuilloVect::SetMouseInteract(TQLMouseInteract M) {
  TQuilloView::SetMouseInteract(M);
  if (M != 0) FInteractVt &= kMeasureModes;
}

void TQuilloVect::ResetInteraction() {
  FPlacing = qlkNONE;
  FMeasuringOnly = false;
  FGrip = 0;
  FBanding = false;
  FButtonDown = false;
  FMoved = false;
}

void TQuilloVect::CancelInteracts() {
  if (FRubberShown) {
    DrawRubber(Canvas());
    FRubberShown = false;
  }
  ResetInteraction();
  if (FEditing >= 0) {
    CloseEditor(true);
    Update();
  }
}

// ---------------------------------------------------------------------------------------------
// Rubber shapes

void TQuilloVect::DrawRubber(TCanvas& C) {
  C.Pen().SetMode(pmNot);
  C.Pen().SetWidth(1);
  C.Pen().SetStyle(psSolid);
  C.Brush().SetStyle(bsClear);
  const int32_t L = std::min(FDownX, FLastX), T = std::min(FDownY, FLastY);
  const int32_t R = std::max(FDownX, FLastX), B = std::max(FDownY, FLastY);
  if (FPlacing == qlkLINE || FPlacing == qlkRULER) {
    C.MoveTo(FDownX, FDownY);
    C.LineTo(FLastX, FLastY);
  } else if (FPlacing == qlkELLIPSE) {
    C.Ellipse(L, T, R + 1, B + 1);
  } else if (FPlacing != qlkNONE || FBanding) {
    C.Rectangle(L, T, R + 1, B + 1);
  }
  C.Pen().SetMode(pmCopy);
  Invalidate();
}

// ---------------------------------------------------------------------------------------------
// Hints

void TQuilloVect::ShowHint(const std::string& Text, double Value, int32_t X, int32_t Y) {
  std::string Shown = Text;
  if (OnMeasureHint) OnMeasureHint(this, Shown, Value);
  const TPoint S = FHint->CalcHintSize(Shown);
  X = std::clamp(X, 0, std::max(GetClientWidth() - S.X - 1, 0));
  Y = std::clamp(Y, 0, std::max(GetClientHeight() - S.Y - 1, 0));
  FHint->ActivateHint(X, Y, Shown);
}

void TQuilloVect::HideHint() {
  FHint->SetVisible(false);
}

void TQuilloVect::UpdateMeasureHint(int32_t X, int32_t Y) {
  const char* Unit = strunits[FMUnit];
  if (FInteractVt & miArea) {
    const double A = GetSelectionArea();
    ShowHint("      " + FormatMeasure(A) + " " + Unit + "\xC2\xB2", A, X, Y);
  } else if (FInteractVt & miLineLen) {
    const double L = GetSelectionLen();
    ShowHint("      " + FormatMeasure(L) + " " + Unit, L, X, Y);
  } else if (!FMeasuringOnly) {
    HideHint();
  }
}

// ---------------------------------------------------------------------------------------------
// Mouse

void TQuilloVect::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  FMouseX = X, FMouseY = Y;
  if (Button != mbLeft || !(FInteractVt & ~kMeasureModes)) {
    TQuilloView::MouseDown(Button, Shift, X, Y);
    return;
  }
  SetFocus();
  if (FEditing >= 0) CloseEditor(true);
  ResetInteraction();
  FButtonDown = true;
  FDownX = FLastX = X;
  FDownY = FLastY = Y;
  FDownShift = Shift;
  if (FInteractVt & miPutLine)
    FPlacing = qlkLINE;
  else if (FInteractVt & miPutRuler)
    FPlacing = qlkRULER;
  else if (FInteractVt & miPutBox)
    FPlacing = qlkBOX;
  else if (FInteractVt & miPutEllipse)
    FPlacing = qlkELLIPSE;
  else if (FInteractVt & miPutBitmap)
    FPlacing = qlkBITMAP;
  else if (FInteractVt & miPutText)
    FPlacing = qlkTEXT;
  else if (FInteractVt & miDragLen)
    FPlacing = qlkLINE, FMeasuringOnly = true;
  else if (FInteractVt & miObjectSelect) {
    if (Shift & ssDouble) {
      double D = 0;
      const int32_t h = FindNearestObject(XScr2Bmp(X), YScr2Bmp(Y), &D);
      if (h >= 0 && Obj(h).Kind == qlkTEXT && D == 0) {
        FSelObjs.assign(1, h);
        SelectChanged();
        FButtonDown = false;
        OpenEditor(h);
        return;
      }
    }
    FGrip = GripAt(X, Y);
  }
}

void TQuilloVect::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  FMouseX = X, FMouseY = Y;
  if (!FButtonDown) {
    TQuilloView::MouseMove(Shift, X, Y);
    if (FInteractVt & kMeasureModes) UpdateMeasureHint(X + 16, Y + 16);
    return;
  }
  if (X != FDownX || Y != FDownY) FMoved = true;
  if (FPlacing != qlkNONE) {
    if (FRubberShown) DrawRubber(Canvas());
    if ((Shift & ssCtrl) && (FPlacing == qlkLINE || FPlacing == qlkRULER)) {
      _CastPolySelCC(FDownX, FDownY, X, Y);
    } else if ((Shift & ssCtrl) && FPlacing == qlkELLIPSE) {
      const int32_t DX = X - FDownX, DY = Y - FDownY;
      const int32_t E = std::abs(DX) >= std::abs(DY) ? DX : DY;
      X = FDownX + (DX < 0 ? -std::abs(E) : std::abs(E));
      Y = FDownY + (DY < 0 ? -std::abs(E) : std::abs(E));
    }
    FLastX = X, FLastY = Y;
    DrawRubber(Canvas());
    FRubberShown = true;
    if (FMeasuringOnly) {
      const double F = ScreenToBitmap();
      const double DX = (FLastX - FDownX) * F * FCoefX, DY = (FLastY - FDownY) * F * FCoefY;
      const double L = std::sqrt(DX * DX + DY * DY);
      ShowHint(FormatMeasure(L) + " " + strunits[FMUnit], L, GetOffsetX(), GetOffsetY());
    }
  } else if (FGrip) {
    const double F = ScreenToBitmap();
    const int32_t DX = static_cast<int32_t>(std::lround((X - FLastX) * F));
    const int32_t DY = static_cast<int32_t>(std::lround((Y - FLastY) * F));
    FLastX = X, FLastY = Y;
    auto Shift = [](int32_t& C, int32_t D) { C = QLVSat(int64_t(C) + D); };
    FBoundsDirty = true;
    for (int32_t h : FSelObjs) {
      TQLVObject& O = Obj(h);
      const bool Size = O.Style & qlvsSizeable, Move = O.Style & qlvsMoveable;
      switch (FGrip) {
        case 1:
          if (Size) Shift(O.X1, DX), Shift(O.Y1, DY);
          break;
        case 2:
          if (Size) Shift(O.X2, DX), Shift(O.Y2, DY);
          break;
        case 4:
          if (Size) Shift(O.X2, DX), Shift(O.Y1, DY);
          break;
        case 5:
          if (Size) Shift(O.X1, DX), Shift(O.Y2, DY);
          break;
        default:
          if (Move) Shift(O.X1, DX), Shift(O.Y1, DY), Shift(O.X2, DX), Shift(O.Y2, DY);
          break;
      }
    }
    Update();
  } else if (FInteractVt & miObjectSelect) {
    if (FRubberShown) DrawRubber(Canvas());
    FBanding = true;
    FLastX = X, FLastY = Y;
    FSelObjs.clear();
    const int32_t A = XScr2Bmp(FDownX), B = YScr2Bmp(FDownY), C = XScr2Bmp(X), D = YScr2Bmp(Y);
    SelInRect(kNoObject, TRect{std::min(A, C), std::min(B, D), std::max(A, C), std::max(B, D)});
    // SelInRect repainted; the band goes back over the fresh picture.
    DrawRubber(Canvas());
    FRubberShown = true;
  }
}

void TQuilloVect::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  FMouseX = X, FMouseY = Y;
  if (!FButtonDown || Button != mbLeft) {
    TQuilloView::MouseUp(Button, Shift, X, Y);
    return;
  }
  FButtonDown = false;
  if (FRubberShown) {
    DrawRubber(Canvas());
    FRubberShown = false;
  }
  if (FPlacing != qlkNONE) {
    if (FMeasuringOnly) {
      const double F = ScreenToBitmap();
      const double DX = (FLastX - FDownX) * F * FCoefX, DY = (FLastY - FDownY) * F * FCoefY;
      HideHint();
      if (OnDragLenEnd) OnDragLenEnd(this, std::sqrt(DX * DX + DY * DY));
    } else {
      TQLVObject& T = FTemplate;
      T.Kind = FPlacing;
      if (!FMoved) {
        int64_t W = int64_t(T.X2) - T.X1, H = int64_t(T.Y2) - T.Y1;
        // A shape other than a line, placed by a click after a line drawn up or left, still
        // extends right and down from the click.
        if (FPlacing != qlkLINE && FPlacing != qlkRULER) W = W < 0 ? -W : W, H = H < 0 ? -H : H;
        T.X1 = XScr2Bmp(FDownX), T.Y1 = YScr2Bmp(FDownY);
        T.X2 = QLVSat(T.X1 + W), T.Y2 = QLVSat(T.Y1 + H);
      } else {
        T.X1 = XScr2Bmp(FDownX), T.Y1 = YScr2Bmp(FDownY);
        T.X2 = XScr2Bmp(FLastX), T.Y2 = YScr2Bmp(FLastY);
        if (FPlacing != qlkLINE && FPlacing != qlkRULER) {
          if (T.X1 > T.X2) std::swap(T.X1, T.X2);
          if (T.Y1 > T.Y2) std::swap(T.Y1, T.Y2);
        }
      }
      if (FPlacing == qlkTEXT && !T.HasFont) T.HasFont = true;
      const int32_t h = AddObject(T);
      FSelObjs.assign(1, h);
      SelectChanged();
      if (FPlacing == qlkTEXT)
        OpenEditor(h);
      else if (OnVectorialChanged)
        OnVectorialChanged(this);
      if (OnNewObject) OnNewObject(this, h);
    }
  } else if (FGrip) {
    for (int32_t h : FSelObjs) {
      TQLVObject& O = Obj(h);
      if (O.Kind == qlkLINE || O.Kind == qlkRULER) continue;
      if (O.X1 > O.X2) std::swap(O.X1, O.X2);
      if (O.Y1 > O.Y2) std::swap(O.Y1, O.Y2);
    }
    if (OnVectorialChanged) OnVectorialChanged(this);
  } else if (!FBanding && (FInteractVt & miObjectSelect)) {
    const int32_t h = FindNearestObject(XScr2Bmp(X), YScr2Bmp(Y));
    if (h < 0) {
      UnSelAllObjects();
    } else if (!IsSelObject(h)) {
      if (Shift & ssShift) {
        AddSelObject(h);
      } else {
        FSelObjs.assign(1, h);
        SelectChanged();
      }
    } else if (Shift & ssShift) {
      UnSelObject(h);
    } else {
      FSelObjs.assign(1, h);
      SelectChanged();
    }
  }
  ResetInteraction();
  Update();
}

// ---------------------------------------------------------------------------------------------
// Keyboard and the text editor

bool TQuilloVect::WantsKey(uint16_t Key) const {
  return Key == kVkF2 || Key == VK_ESCAPE || TQuilloView::WantsKey(Key);
}

void TQuilloVect::KeyDown(uint16_t& Key, TShiftState Shift) {
  if (Key == kVkF2 && !FSelObjs.empty() && Obj(FSelObjs[0]).Kind == qlkTEXT) {
    OpenEditor(FSelObjs[0]);
    Key = 0;
    return;
  }
  if (Key == VK_ESCAPE && FEditing >= 0) {
    CloseEditor(false);
    Key = 0;
    return;
  }
  TQuilloView::KeyDown(Key, Shift);
}

void TQuilloVect::OpenEditor(int32_t h) {
  if (FEditing >= 0) CloseEditor(true);
  FEditing = h;
  FEditBefore = Obj(h).Text;
  FEditor = std::make_unique<TTextEditor>(*this);
  FEditor->SetParent(this);
  FEditor->SetText(FEditBefore);
  PlaceEditor();
  FEditor->SetVisible(true);
  FEditor->SetFocus();
  Update();
}

void TQuilloVect::PlaceEditor() {
  if (!FEditor || FEditing < 0) return;
  const TQLVObject& O = Obj(FEditing);
  const TRect R = ScreenRect(O);
  const double Z = GetZoom() / 100;
  const double H =
      std::clamp(O.Font.Height != 0 ? std::trunc(O.Font.Height * Z) : double(R.Bottom - R.Top + 1),
                 -8192.0, 8192.0);
  TFont F = MakeFont(O.Font, H);
  F.SetColor(O.PenColor);
  FEditor->Font() = F;
  FEditor->SetColor(O.BrushStyle == 1 ? GetBackground() : O.BrushColor);
  FEditor->SetBounds(R.Left, R.Top, std::max(R.Right - R.Left + 1, 1),
                     std::max(R.Bottom - R.Top + 1, 1));
}

void TQuilloVect::CloseEditor(bool Accept) {
  if (FEditing < 0 || !FEditor) return;
  const int32_t h = FEditing;
  Obj(h).Text = Accept ? FEditor->GetText() : FEditBefore;
  FEditing = -1;
  // The editor may be the caller (its Return key): it goes once the event is done.
  std::unique_ptr<TEdit> Gone = std::move(FEditor);
  Gone->SetVisible(false);
  Gone->SetParent(nullptr);
  Application().ReleaseLater(std::move(Gone));
  SetFocus();
  Update();
  if (OnVectorialChanged) OnVectorialChanged(this);
}

void TQuilloVect::ViewChange(int32_t Change) {
  TQuilloView::ViewChange(Change);
  PlaceEditor();
}

}  // namespace quillo
