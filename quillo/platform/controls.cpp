#include "quillo/platform/controls.h"

#include <algorithm>

#include "quillo/platform/screen.h"
#include "quillo/platform/threads.h"

namespace quillo {

int32_t gScrollBarSize = 17;
int32_t gScreenWidth = 1920;
int32_t gScreenHeight = 1080;

namespace {

// Positions may be negative (a scrolled child) but stay within a range whose sums cannot
// overflow.
constexpr int32_t kMaxPosition = 1 << 24;

bool IsAncestorOf(const TControl* Maybe, const TControl* C) {
  for (const TControl* P = C; P; P = P->GetParent())
    if (P == Maybe) return true;
  return false;
}

TRect Intersect(const TRect& A, const TRect& B) {
  TRect R;
  return IntersectRect(R, A, B) ? R : TRect{};
}

bool Contains(const TRect& R, TPoint P) {
  return P.X >= R.Left && P.X < R.Right && P.Y >= R.Top && P.Y < R.Bottom;
}

}  // namespace

TShiftState ButtonShift(TMouseButton Button) {
  return Button == mbLeft ? ssLeft : Button == mbRight ? ssRight : ssMiddle;
}

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FAlive(std::make_shared<bool>(true)) {}

TControl::~TControl() {
  *FAlive = false;
  if (TControlHost* H = GetHost()) H->Forget(this);
  if (FParent) FParent->RemoveControl(this);
  if (FPopupMenu) FPopupMenu->RemoveFreeNotification(this);
}

void TControl::SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height) {
  Left = std::clamp(Left, -kMaxPosition, kMaxPosition);
  Top = std::clamp(Top, -kMaxPosition, kMaxPosition);
  Width = std::clamp(Width, 0, kMaxControlSize);
  Height = std::clamp(Height, 0, kMaxControlSize);
  const bool Sized = Width != FWidth || Height != FHeight;
  const bool Moved = Left != FLeft || Top != FTop;
  if (!Sized && !Moved) return;
  FLeft = Left;
  FTop = Top;
  FWidth = Width;
  FHeight = Height;
  if (Sized) Resize();
  if (FParent) {
    if (FAlign != alNone) FParent->Realign();
    FParent->Invalidate();
  }
}

int32_t TControl::GetClientWidth() const {
  const TRect R = GetClientRect();
  return R.Right - R.Left;
}

int32_t TControl::GetClientHeight() const {
  const TRect R = GetClientRect();
  return R.Bottom - R.Top;
}

void TControl::SetParent(TWinControl* Parent) {
  if (Parent == FParent) return;
  if (Parent && IsAncestorOf(this, Parent))
    throw EInvalidOperation("A control cannot be its own parent or its descendant's child");
  if (FParent) FParent->RemoveControl(this);
  if (Parent) Parent->InsertControl(this);
}

void TControl::SetVisible(bool V) {
  if (V == FVisible) return;
  FVisible = V;
  if (!V)
    if (TControlHost* H = GetHost()) {
      // A hidden control keeps no focus, capture or hover.
      if (H->FFocused && IsAncestorOf(this, H->FFocused)) H->SetFocused(nullptr);
      if (H->FCaptured && IsAncestorOf(this, H->FCaptured)) H->FCaptured = nullptr;
      if (H->FHovered && IsAncestorOf(this, H->FHovered)) H->SetHovered(nullptr);
    }
  if (FParent) {
    if (FAlign != alNone) FParent->Realign();
    FParent->Invalidate();
  }
  Invalidate();
}

bool TControl::IsShowing() const {
  for (const TControl* C = this; C; C = C->FParent)
    if (!C->FVisible) return false;
  return true;
}

void TControl::SetCursor(int32_t C) {
  FCursor = C;
  if (TControlHost* H = GetHost()) H->CursorMaybeChanged();
}

void TControl::SetPopupMenu(TPopupMenu* Menu) {
  if (FPopupMenu) FPopupMenu->RemoveFreeNotification(this);
  FPopupMenu = Menu;
  if (Menu) Menu->FreeNotification(this);
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FPopupMenu) FPopupMenu = nullptr;
}

void TControl::SetAlign(TAlign A) {
  if (A == FAlign) return;
  FAlign = A;
  if (FParent) FParent->Realign();
}

TPoint TControl::ClientToWindow(TPoint P) const {
  for (const TControl* C = this; C; C = C->FParent) {
    const TPoint O = C->GetClientOrigin();
    P.X += O.X;
    P.Y += O.Y;
    if (C->FParent) {
      P.X += C->FLeft;
      P.Y += C->FTop;
    }
  }
  return P;
}

TPoint TControl::WindowToClient(TPoint P) const {
  const TPoint Z = ClientToWindow(Point(0, 0));
  return Point(P.X - Z.X, P.Y - Z.Y);
}

TControlHost* TControl::GetHost() const {
  const TControl* Top = this;
  while (Top->FParent) Top = Top->FParent;
  const auto* W = dynamic_cast<const TWinControl*>(Top);
  return W ? W->FHost : nullptr;
}

void TControl::Invalidate() {
  FInvalid = true;
}

void TControl::Post(std::function<void()> Method) {
  std::weak_ptr<bool> Alive = FAlive;
  Application().Post([Alive, M = std::move(Method)] {
    const auto A = Alive.lock();
    if (A && *A) M();
  });
}

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

bool TControl::DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) {
  bool Handled = false;
  if (OnMouseWheel) OnMouseWheel(this, Shift, WheelDelta, MousePos, Handled);
  return Handled;
}

void TControl::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}

void TControl::MouseLeave() {
  if (OnMouseLeave) OnMouseLeave(this);
}

void TControl::Resize() {
  Invalidate();
  if (OnResize) OnResize(this);
}

// ---------------------------------------------------------------------------------------------
// TWinControl

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
  for (const auto& T : FTimers) Application().RemoveTimer(T.second);
  FTimers.clear();
  if (TControlHost* H = GetHost()) H->Forget(this);
  // Children are not owned: they are left without a parent.
  for (TControl* C : FControls) C->FParent = nullptr;
  FControls.clear();
  if (FHost) FHost->FRoot = nullptr;
}

void TWinControl::SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height) {
  TControl::SetBounds(Left, Top, Width, Height);
}

int32_t TWinControl::BorderWidthX() const {
  return FBorderStyle == bsNone ? 0 : FCtl3D ? gEdgeX : 1;
}

int32_t TWinControl::BorderWidthY() const {
  return FBorderStyle == bsNone ? 0 : FCtl3D ? gEdgeY : 1;
}

TRect TWinControl::GetClientRect() const {
  const int32_t W = GetWidth() - 2 * BorderWidthX() - (FScroll[1].Visible ? gScrollBarSize : 0);
  const int32_t H = GetHeight() - 2 * BorderWidthY() - (FScroll[0].Visible ? gScrollBarSize : 0);
  return Rect(0, 0, std::max(W, 0), std::max(H, 0));
}

TPoint TWinControl::GetClientOrigin() const {
  return Point(BorderWidthX(), BorderWidthY());
}

TControl* TWinControl::ControlAtPos(TPoint P) const {
  if (!Contains(GetClientRect(), P)) return nullptr;
  for (auto It = FControls.rbegin(); It != FControls.rend(); ++It) {
    TControl* C = *It;
    if (C->GetVisible() && C->GetEnabled() && Contains(C->GetBoundsRect(), P)) return C;
  }
  return nullptr;
}

void TWinControl::SetBorderStyle(TBorderStyle S) {
  if (S == FBorderStyle) return;
  FBorderStyle = S;
  ClientSizeChanged();
}

void TWinControl::SetCtl3D(bool V) {
  if (V == FCtl3D) return;
  FCtl3D = V;
  ClientSizeChanged();
}

void TWinControl::InsertControl(TControl* C) {
  FControls.push_back(C);
  C->FParent = this;
  if (auto* W = dynamic_cast<TWinControl*>(C); W && W->FTabOrder < 0) {
    int32_t N = 0;
    for (TControl* O : FControls)
      if (O != C && dynamic_cast<TWinControl*>(O)) ++N;
    W->FTabOrder = N;
  }
  if (C->FAlign != alNone) Realign();
  C->FAnchorParentW = GetClientWidth();
  C->FAnchorParentH = GetClientHeight();
  Invalidate();
}

void TWinControl::RemoveControl(TControl* C) {
  if (TControlHost* H = GetHost()) H->Forget(C);
  FControls.erase(std::remove(FControls.begin(), FControls.end(), C), FControls.end());
  C->FParent = nullptr;
  if (C->FAlign != alNone) Realign();
  Invalidate();
}

void TWinControl::SetTabOrder(int32_t Order) {
  TWinControl* P = GetParent();
  if (!P) {
    FTabOrder = std::max(Order, 0);
    return;
  }
  // Siblings keep consecutive orders: this one moves to Order, the others close up.
  std::vector<TWinControl*> Siblings;
  for (TControl* C : P->FControls)
    if (auto* W = dynamic_cast<TWinControl*>(C); W && W != this) Siblings.push_back(W);
  std::stable_sort(
      Siblings.begin(), Siblings.end(),
      [](const TWinControl* A, const TWinControl* B) { return A->FTabOrder < B->FTabOrder; });
  Order = std::clamp(Order, 0, static_cast<int32_t>(Siblings.size()));
  Siblings.insert(Siblings.begin() + Order, this);
  for (size_t I = 0; I < Siblings.size(); ++I) Siblings[I]->FTabOrder = static_cast<int32_t>(I);
}

bool TWinControl::CanFocus() const {
  for (const TControl* C = this; C; C = C->GetParent())
    if (!C->GetVisible() || !C->GetEnabled()) return false;
  return true;
}

void TWinControl::SetFocus() {
  if (!CanFocus()) return;
  if (TControlHost* H = GetHost()) H->SetFocused(this);
}

bool TWinControl::Focused() const {
  const TControlHost* H = GetHost();
  return H && H->FFocused == this;
}

namespace {
void CollectTabStops(const TWinControl& W, std::vector<TWinControl*>& Out) {
  std::vector<TWinControl*> Kids;
  for (int32_t I = 0; I < W.GetControlCount(); ++I)
    if (auto* C = dynamic_cast<TWinControl*>(W.GetControl(I));
        C && C->GetVisible() && C->GetEnabled())
      Kids.push_back(C);
  std::stable_sort(Kids.begin(), Kids.end(), [](const TWinControl* A, const TWinControl* B) {
    return A->GetTabOrder() < B->GetTabOrder();
  });
  for (TWinControl* K : Kids) {
    if (K->GetTabStop()) Out.push_back(K);
    CollectTabStops(*K, Out);
  }
}
}  // namespace

void TWinControl::SelectNext(bool Forward) {
  std::vector<TWinControl*> Stops;
  CollectTabStops(*this, Stops);
  if (Stops.empty()) return;
  TControlHost* H = GetHost();
  const TWinControl* Current = H ? H->FFocused : nullptr;
  const auto It = std::find(Stops.begin(), Stops.end(), Current);
  const int32_t N = static_cast<int32_t>(Stops.size());
  int32_t I = It == Stops.end()
                  ? (Forward ? 0 : N - 1)
                  : (static_cast<int32_t>(It - Stops.begin()) + (Forward ? 1 : N - 1)) % N;
  Stops[static_cast<size_t>(I)]->SetFocus();
}

void TWinControl::SetScrollInfo(TScrollBarKind Kind, const TScrollBarInfo& Info) {
  TScrollBarInfo N = Info;
  if (N.Max < N.Min) N.Max = N.Min;
  const int64_t Span = static_cast<int64_t>(N.Max) - N.Min + 1;
  N.Page = static_cast<int32_t>(std::clamp<int64_t>(N.Page, 0, Span));
  const int64_t Top = static_cast<int64_t>(N.Max) - std::max(N.Page - 1, 0);
  N.Position =
      static_cast<int32_t>(std::clamp<int64_t>(N.Position, N.Min, std::max<int64_t>(Top, N.Min)));
  TScrollBarInfo& Old = FScroll[Kind == sbHorizontal ? 0 : 1];
  if (Old == N) return;
  const bool Shown = Old.Visible != N.Visible;
  Old = N;
  if (Shown) ClientSizeChanged();
  if (TControlHost* H = GetHost()) H->ShowScrollBar(*this, Kind);
}

void TWinControl::ShowScrollBar(TScrollBarKind Kind, bool Show) {
  TScrollBarInfo I = GetScrollInfo(Kind);
  I.Visible = Show;
  SetScrollInfo(Kind, I);
}

void TWinControl::SetScrollPos(TScrollBarKind Kind, int32_t Position) {
  TScrollBarInfo I = GetScrollInfo(Kind);
  I.Position = Position;
  SetScrollInfo(Kind, I);
}

void TWinControl::SendScroll(TScrollBarKind Kind, TScrollCode Code, int32_t Pos) {
  Application().EnterDispatch();
  try {
    if (Kind == sbHorizontal)
      HScroll(Code, Pos);
    else
      VScroll(Code, Pos);
  } catch (...) {
    Application().LeaveDispatch();
    throw;
  }
  Application().LeaveDispatch();
}

namespace {
// The position a plain scroll bar takes for a request.
int32_t ScrolledPosition(const TScrollBarInfo& I, TScrollCode Code, int32_t Pos) {
  const int32_t Page = std::max(I.Page, 1);
  switch (Code) {
    case scLineUp:
      return I.Position - 1;
    case scLineDown:
      return I.Position + 1;
    case scPageUp:
      return I.Position - Page;
    case scPageDown:
      return I.Position + Page;
    case scPosition:
      return Pos;
    case scTrack:
      return I.Tracking ? Pos : I.Position;
    case scTop:
      return I.Min;
    case scBottom:
      return I.Max;
    default:
      return I.Position;
  }
}
}  // namespace

void TWinControl::HScroll(TScrollCode Code, int32_t Pos) {
  SetScrollPos(sbHorizontal, ScrolledPosition(GetScrollInfo(sbHorizontal), Code, Pos));
}

void TWinControl::VScroll(TScrollCode Code, int32_t Pos) {
  SetScrollPos(sbVertical, ScrolledPosition(GetScrollInfo(sbVertical), Code, Pos));
}

void TWinControl::SetTimer(int32_t Id, int32_t Milliseconds) {
  KillTimer(Id);
  std::weak_ptr<bool> Alive = FAlive;
  const int64_t H = Application().AddTimer(Milliseconds, [this, Alive, Id] {
    const auto A = Alive.lock();
    if (A && *A) TimerTick(Id);
  });
  FTimers.emplace_back(Id, H);
}

void TWinControl::KillTimer(int32_t Id) {
  for (auto It = FTimers.begin(); It != FTimers.end(); ++It)
    if (It->first == Id) {
      Application().RemoveTimer(It->second);
      FTimers.erase(It);
      return;
    }
}

void TWinControl::TimerTick(int32_t) {}

void TWinControl::KeyDown(uint16_t& Key, TShiftState Shift) {
  if (OnKeyDown) OnKeyDown(this, Key, Shift);
}

void TWinControl::KeyUp(uint16_t& Key, TShiftState Shift) {
  if (OnKeyUp) OnKeyUp(this, Key, Shift);
}

void TWinControl::KeyPress(char& Key) {
  if (OnKeyPress) OnKeyPress(this, Key);
}

bool TWinControl::WantsKey(uint16_t) const {
  return false;
}

void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}

void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}

void TWinControl::Resize() {
  ClientSizeChanged();
  TControl::Resize();
}

void TWinControl::ClientSizeChanged() {
  const int32_t W = GetClientWidth(), H = GetClientHeight();
  if (W == FLastClientW && H == FLastClientH) return;
  FLastClientW = W;
  FLastClientH = H;
  // Anchored children keep their distances to the anchored sides.
  for (TControl* C : FControls) {
    if (C->FAlign != alNone) continue;
    if (C->FAnchorParentW < 0) {
      C->FAnchorParentW = W;
      C->FAnchorParentH = H;
      continue;
    }
    const int32_t DW = W - C->FAnchorParentW, DH = H - C->FAnchorParentH;
    C->FAnchorParentW = W;
    C->FAnchorParentH = H;
    int32_t L = C->FLeft, T = C->FTop, CW = C->FWidth, CH = C->FHeight;
    const TAnchors A = C->FAnchors;
    if ((A & akLeft) && (A & akRight))
      CW += DW;
    else if (A & akRight)
      L += DW;
    else if (!(A & akLeft))
      L += DW / 2;
    if ((A & akTop) && (A & akBottom))
      CH += DH;
    else if (A & akBottom)
      T += DH;
    else if (!(A & akTop))
      T += DH / 2;
    C->SetBounds(L, T, CW, CH);
  }
  Realign();
  // The surface follows the client size.
  Invalidate();
}

void TWinControl::Realign() {
  static thread_local int32_t Depth = 0;
  if (Depth > 8) return;  // aligned children that resize their parent cannot loop for ever
  ++Depth;
  TRect R = GetClientRect();
  auto Place = [&](TAlign Which) {
    for (TControl* C : FControls) {
      if (C->FAlign != Which || !C->FVisible) continue;
      const int32_t W = R.Right - R.Left, H = R.Bottom - R.Top;
      switch (Which) {
        case alTop:
          C->SetBounds(R.Left, R.Top, W, std::min(C->FHeight, H));
          R.Top += C->FHeight;
          break;
        case alBottom:
          C->SetBounds(R.Left, R.Bottom - std::min(C->FHeight, H), W, std::min(C->FHeight, H));
          R.Bottom -= C->FHeight;
          break;
        case alLeft:
          C->SetBounds(R.Left, R.Top, std::min(C->FWidth, W), H);
          R.Left += C->FWidth;
          break;
        case alRight:
          C->SetBounds(R.Right - std::min(C->FWidth, W), R.Top, std::min(C->FWidth, W), H);
          R.Right -= C->FWidth;
          break;
        case alClient:
          C->SetBounds(R.Left, R.Top, W, H);
          break;
        default:
          break;
      }
    }
  };
  for (TAlign A : {alTop, alBottom, alLeft, alRight, alClient}) Place(A);
  --Depth;
}

void TWinControl::PaintWindowTo(TBitmap& Target, TPoint Origin) const {
  if (Target.GetPixelFormat() != pf24bit) Target.SetPixelFormat(pf24bit);
  TCanvas C(&Target);
  PaintWindowInto(C, Origin, Rect(0, 0, Target.GetWidth(), Target.GetHeight()));
}

void TWinControl::PaintWindowInto(TCanvas& Canvas, TPoint Origin, const TRect& Clip) const {
  const TRect Outer = Intersect(Bounds(Origin.X, Origin.Y, GetWidth(), GetHeight()), Clip);
  if (Outer.Right <= Outer.Left || Outer.Bottom <= Outer.Top) return;
  Canvas.ClearClipRegion();
  Canvas.IntersectClipRect(Outer);
  TRect Frame = Bounds(Origin.X, Origin.Y, GetWidth(), GetHeight());
  if (FBorderStyle == bsSingle) {
    if (FCtl3D) {
      Canvas.DrawEdge(Frame, edgeSunken, bfRect);
    } else {
      Canvas.Brush().SetColor(clBlack);
      Canvas.Brush().SetStyle(bsSolid);
      Canvas.FrameRect(Frame);
    }
  }
  const TPoint CO = GetClientOrigin();
  const TRect Client = GetClientRect();
  const TPoint At = Point(Origin.X + CO.X, Origin.Y + CO.Y);
  // Scroll bars: a track with its thumb, drawn in the system colours.
  auto Bar = [&](TScrollBarKind Kind) {
    const TScrollBarInfo& I = GetScrollInfo(Kind);
    if (!I.Visible) return;
    const bool H = Kind == sbHorizontal;
    const TRect Track = H ? Bounds(At.X, At.Y + Client.Bottom, Client.Right, gScrollBarSize)
                          : Bounds(At.X + Client.Right, At.Y, gScrollBarSize, Client.Bottom);
    Canvas.Brush().SetStyle(bsSolid);
    Canvas.Brush().SetColor(clScrollBar);
    Canvas.FillRect(Track);
    const int64_t Span = static_cast<int64_t>(I.Max) - I.Min + 1;
    const int32_t Len = H ? Track.Right - Track.Left : Track.Bottom - Track.Top;
    if (Span <= 0 || Len <= 0 || !I.ArrowsEnabled) return;
    const int32_t Thumb =
        std::max<int32_t>(8, static_cast<int32_t>(Len * std::max(I.Page, 1) / Span));
    const int32_t Pos =
        static_cast<int32_t>((static_cast<int64_t>(I.Position) - I.Min) * Len / Span);
    TRect T =
        H ? Bounds(Track.Left + Pos, Track.Top + 1, std::min(Thumb, Len - Pos), gScrollBarSize - 2)
          : Bounds(Track.Left + 1, Track.Top + Pos, gScrollBarSize - 2, std::min(Thumb, Len - Pos));
    Canvas.Brush().SetColor(clBtnFace);
    Canvas.FillRect(T);
    Canvas.DrawEdge(T, edgeRaised, bfRect);
  };
  Bar(sbHorizontal);
  Bar(sbVertical);
  const TRect ClientArea = Intersect(Bounds(At.X, At.Y, Client.Right, Client.Bottom), Outer);
  if (const TBitmap* S = GetSurface(); S && !S->Empty()) {
    Canvas.ClearClipRegion();
    Canvas.IntersectClipRect(ClientArea);
    Canvas.Draw(At.X, At.Y, *S);
  }
  for (TControl* C : FControls) {
    auto* W = dynamic_cast<TWinControl*>(C);
    if (!W || !W->GetVisible()) continue;
    W->PaintWindowInto(Canvas, Point(At.X + W->GetLeft(), At.Y + W->GetTop()), ClientArea);
  }
  Canvas.ClearClipRegion();
}

// ---------------------------------------------------------------------------------------------
// TCustomControl

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner), FCanvas(&FSurface) {
  FSurface.SetPixelFormat(pf24bit);
  // Every drawing call ends in the surface's Modified. Drawing outside a repaint reaches the
  // window only if the host hears of it.
  FSurface.OnChange = [this](TObject*) {
    if (FPainting) return;
    if (TControlHost* H = GetHost()) H->ShowDrawn(*this);
  };
}

void TCustomControl::Resize() {
  FSurface.SetPixelFormat(pf24bit);
  TWinControl::Resize();
  FSurface.SetSize(GetClientWidth(), GetClientHeight());
  Invalidate();
}

void TCustomControl::Invalidate() {
  InvalidateRect(Rect(0, 0, GetClientWidth(), GetClientHeight()));
}

void TCustomControl::InvalidateRect(const TRect& R) {
  const TRect C = Intersect(R, Rect(0, 0, GetClientWidth(), GetClientHeight()));
  if (C.Right <= C.Left || C.Bottom <= C.Top) {
    FInvalid = true;
    return;
  }
  if (!FInvalid || FInvalidRect.Right <= FInvalidRect.Left)
    FInvalidRect = C;
  else
    FInvalidRect =
        TRect{std::min(FInvalidRect.Left, C.Left), std::min(FInvalidRect.Top, C.Top),
              std::max(FInvalidRect.Right, C.Right), std::max(FInvalidRect.Bottom, C.Bottom)};
  FInvalid = true;
  if (TControlHost* H = GetHost()) H->ShowInvalid(*this, C);
}

void TCustomControl::UpdateSurface() {
  if (!FInvalid) return;
  if (FSurface.GetWidth() != GetClientWidth() || FSurface.GetHeight() != GetClientHeight())
    FSurface.SetSize(GetClientWidth(), GetClientHeight());
  FInvalid = false;
  FInvalidRect = TRect{};
  if (FSurface.Empty()) return;
  FCanvas.ClearClipRegion();
  struct TPaintingScope {
    bool& Flag;
    explicit TPaintingScope(bool& F) : Flag(F) { Flag = true; }
    ~TPaintingScope() { Flag = false; }
  } Scope(FPainting);
  if (FColor != clNone) {
    FCanvas.Brush().SetStyle(bsSolid);
    FCanvas.Brush().SetColor(FColor);
    FCanvas.FillRect(Rect(0, 0, FSurface.GetWidth(), FSurface.GetHeight()));
  }
  Paint();
}

// ---------------------------------------------------------------------------------------------
// TControlHost

TControlHost::TControlHost(TWinControl& Root) : FRoot(&Root) {
  Root.FHost = this;
  FWindow.SetPixelFormat(pf24bit);
}

TControlHost::~TControlHost() {
  if (FRoot) FRoot->FHost = nullptr;
}

TControl* TControlHost::HitTest(TPoint P, TPoint& Local) const {
  if (!FRoot) return nullptr;
  TControl* C = FRoot;
  TPoint L = Point(P.X - FRoot->GetClientOrigin().X, P.Y - FRoot->GetClientOrigin().Y);
  for (;;) {
    auto* W = dynamic_cast<TWinControl*>(C);
    TControl* Child = W ? W->ControlAtPos(L) : nullptr;
    if (!Child) break;
    const TPoint O = Child->GetClientOrigin();
    L = Point(L.X - Child->GetLeft() - O.X, L.Y - Child->GetTop() - O.Y);
    C = Child;
  }
  Local = L;
  return C;
}

TPoint TControlHost::LocalOf(const TControl* C, int32_t X, int32_t Y) const {
  return C->WindowToClient(Point(X, Y));
}

void TControlHost::SetHovered(TControl* C) {
  if (C == FHovered) return;
  TControl* Old = FHovered;
  FHovered = C;
  if (Old) Old->MouseLeave();
  if (C && FHovered == C) C->MouseEnter();
  CursorMaybeChanged();
}

void TControlHost::SetFocused(TWinControl* C) {
  if (C == FFocused) return;
  TWinControl* Old = FFocused;
  FFocused = C;
  if (Old) Old->DoExit();
  if (C && FFocused == C) C->DoEnter();
}

void TControlHost::Forget(TControl* C) {
  ControlGone(*C);
  if (FFocused && IsAncestorOf(C, FFocused)) FFocused = nullptr;
  if (FCaptured && IsAncestorOf(C, FCaptured)) {
    FCaptured = nullptr;
    FButtons = 0;
  }
  if (FHovered && IsAncestorOf(C, FHovered)) FHovered = nullptr;
}

int32_t TControlHost::GetShownCursor() const {
  if (FCursorOverride != 0) return FCursorOverride;
  for (const TControl* C = FCaptured ? FCaptured : FHovered; C; C = C->GetParent())
    if (C->GetCursor() != 0) return C->GetCursor();
  return 0;
}

void TControlHost::SetCursorOverride(int32_t Cursor) {
  FCursorOverride = Cursor;
  CursorMaybeChanged();
}

void TControlHost::CursorMaybeChanged() {
  const int32_t C = GetShownCursor();
  if (C == FLastCursor) return;
  FLastCursor = C;
  ShowCursor(C);
}

namespace {
// Brackets one input event: what a handler releases is freed after it returns.
struct TDispatch {
  TDispatch() { Application().EnterDispatch(); }
  ~TDispatch() { Application().LeaveDispatch(); }
  TDispatch(const TDispatch&) = delete;
  TDispatch& operator=(const TDispatch&) = delete;
};
}  // namespace

void TControlHost::MouseDown(int32_t X, int32_t Y, TMouseButton Button, TShiftState Shift) {
  TDispatch D;
  TPoint L;
  TControl* Hit = HitTest(Point(X, Y), L);
  TControl* Target = FCaptured ? FCaptured : Hit;
  if (!Target || !Target->GetEnabled()) return;
  FButtons |= ButtonShift(Button);
  FCaptured = Target;
  // A click on a control that takes the keyboard gives it the focus.
  for (TControl* C = Target; C; C = C->GetParent())
    if (auto* W = dynamic_cast<TWinControl*>(C); W && W->GetTabStop() && W->CanFocus()) {
      SetFocused(W);
      break;
    }
  if (FCaptured != Target) return;  // the focus change removed it
  const TPoint P = LocalOf(Target, X, Y);
  Target->MouseDown(Button, Shift | FButtons, P.X, P.Y);
}

void TControlHost::DoubleClick(int32_t X, int32_t Y, TMouseButton Button, TShiftState Shift) {
  TDispatch D;
  TPoint L;
  TControl* Target = FCaptured ? FCaptured : HitTest(Point(X, Y), L);
  if (!Target || !Target->GetEnabled()) return;
  FButtons |= ButtonShift(Button);
  FCaptured = Target;
  if (Button == mbLeft) Target->DblClick();
  if (FCaptured != Target) return;
  const TPoint P = LocalOf(Target, X, Y);
  Target->MouseDown(Button, Shift | FButtons | ssDouble, P.X, P.Y);
}

void TControlHost::MouseMove(int32_t X, int32_t Y, TShiftState Shift) {
  TDispatch D;
  TPoint L;
  TControl* Hit = HitTest(Point(X, Y), L);
  if (!FCaptured) {
    const bool Inside =
        FRoot && X >= 0 && Y >= 0 && X < FRoot->GetWidth() && Y < FRoot->GetHeight();
    SetHovered(Inside ? Hit : nullptr);
  }
  TControl* Target = FCaptured ? FCaptured : FHovered;
  if (!Target || !Target->GetEnabled()) return;
  const TPoint P = LocalOf(Target, X, Y);
  Target->MouseMove(Shift | FButtons, P.X, P.Y);
}

void TControlHost::MouseUp(int32_t X, int32_t Y, TMouseButton Button, TShiftState Shift) {
  TDispatch D;
  TPoint L;
  TControl* Target = FCaptured ? FCaptured : HitTest(Point(X, Y), L);
  const TShiftState Held = FButtons;
  FButtons &= static_cast<TShiftState>(~ButtonShift(Button));
  if (FButtons == 0) FCaptured = nullptr;
  if (!Target || !Target->GetEnabled()) return;
  std::weak_ptr<bool> Alive = Target->FAlive;
  const TPoint P = LocalOf(Target, X, Y);
  Target->MouseUp(Button, Shift | Held, P.X, P.Y);
  if (Alive.expired() || !*Alive.lock()) return;
  const bool Inside = Contains(Rect(0, 0, Target->GetClientWidth(), Target->GetClientHeight()), P);
  if (Button == mbLeft && Inside && (Held & ssLeft)) Target->Click();
  if (Alive.expired() || !*Alive.lock()) return;
  if (Button == mbRight && Inside)
    for (TControl* C = Target; C; C = C->GetParent())
      if (TPopupMenu* M = C->GetPopupMenu()) {
        M->Popup(X, Y, Target);
        break;
      }
  if (!FCaptured) {
    TPoint Q;
    TControl* Hit = HitTest(Point(X, Y), Q);
    const bool InWindow =
        FRoot && X >= 0 && Y >= 0 && X < FRoot->GetWidth() && Y < FRoot->GetHeight();
    SetHovered(InWindow ? Hit : nullptr);
  }
}

void TControlHost::Wheel(int32_t X, int32_t Y, int32_t Delta, TShiftState Shift) {
  TDispatch D;
  TPoint L;
  for (TControl* C = FCaptured ? FCaptured : HitTest(Point(X, Y), L); C; C = C->GetParent()) {
    if (!C->GetEnabled()) continue;
    if (C->DoMouseWheel(Shift | FButtons, Delta, LocalOf(C, X, Y))) return;
  }
}

void TControlHost::KeyDown(uint16_t Key, TShiftState Shift) {
  TDispatch D;
  TWinControl* Target = FFocused ? FFocused : FRoot;
  if (!Target) return;
  if (Key == VK_TAB && !Target->WantsKey(VK_TAB)) {
    if (!(Shift & (ssCtrl | ssAlt))) FRoot->SelectNext(!(Shift & ssShift));
    return;
  }
  // Navigation keys go to a control only when it asks for them.
  if (Key >= VK_PRIOR && Key <= VK_DOWN && !Target->WantsKey(Key)) return;
  Target->KeyDown(Key, Shift);
}

void TControlHost::KeyUp(uint16_t Key, TShiftState Shift) {
  TDispatch D;
  if (TWinControl* Target = FFocused ? FFocused : FRoot) Target->KeyUp(Key, Shift);
}

void TControlHost::Char(char C) {
  TDispatch D;
  if (TWinControl* Target = FFocused ? FFocused : FRoot) Target->KeyPress(C);
}

void TControlHost::Leave() {
  TDispatch D;
  if (!FCaptured) SetHovered(nullptr);
}

void TControlHost::FocusIn() {
  TDispatch D;
  if (FWindowFocused) return;
  FWindowFocused = true;
  if (FFocused) FFocused->DoEnter();
}

void TControlHost::FocusOut() {
  TDispatch D;
  if (!FWindowFocused) return;
  FWindowFocused = false;
  // Losing the window ends a drag: the captured control hears no more of the mouse.
  FCaptured = nullptr;
  FButtons = 0;
  if (FFocused) FFocused->DoExit();
}

void TControlHost::Resize(int32_t Width, int32_t Height) {
  TDispatch D;
  if (FRoot) FRoot->SetBounds(FRoot->GetLeft(), FRoot->GetTop(), Width, Height);
}

void TControlHost::Click(int32_t X, int32_t Y, TMouseButton Button, TShiftState Shift) {
  MouseMove(X, Y, Shift);
  MouseDown(X, Y, Button, Shift);
  MouseUp(X, Y, Button, Shift);
}

void TControlHost::Drag(TPoint From, TPoint To, int32_t Steps, TMouseButton Button,
                        TShiftState Shift) {
  Steps = std::max(Steps, 1);
  MouseMove(From.X, From.Y, Shift);
  MouseDown(From.X, From.Y, Button, Shift);
  for (int32_t I = 1; I <= Steps; ++I)
    MouseMove(From.X + (To.X - From.X) * I / Steps, From.Y + (To.Y - From.Y) * I / Steps, Shift);
  MouseUp(To.X, To.Y, Button, Shift);
}

void TControlHost::Key(uint16_t K, TShiftState Shift) {
  KeyDown(K, Shift);
  char C = 0;
  if (K == VK_RETURN || K == VK_BACK || K == VK_ESCAPE || K == VK_TAB || K == VK_SPACE)
    C = static_cast<char>(K);
  else if (K >= '0' && K <= '9')
    C = static_cast<char>(K);
  else if (K >= 'A' && K <= 'Z')
    C = static_cast<char>((Shift & ssShift) ? K : K + 32);
  if (C && !(Shift & (ssCtrl | ssAlt)) && K != VK_TAB) Char(C);
  KeyUp(K, Shift);
}

void TControlHost::Type(const std::string& Text) {
  for (char C : Text) Char(C);
}

namespace {
void UpdateTree(TWinControl& W) {
  W.UpdateSurface();
  for (int32_t I = 0; I < W.GetControlCount(); ++I)
    if (auto* C = dynamic_cast<TWinControl*>(W.GetControl(I)); C && C->GetVisible()) UpdateTree(*C);
}
}  // namespace

void TControlHost::UpdateAll() {
  TDispatch D;
  if (FRoot) UpdateTree(*FRoot);
}

void TControlHost::PaintAll() {
  TDispatch D;
  if (!FRoot) return;
  UpdateTree(*FRoot);
  FWindow.SetSize(FRoot->GetWidth(), FRoot->GetHeight());
  if (!FWindow.Empty()) {
    TCanvas C(&FWindow);
    C.Brush().SetStyle(bsSolid);
    C.Brush().SetColor(clBtnFace);
    C.FillRect(Rect(0, 0, FWindow.GetWidth(), FWindow.GetHeight()));
    FRoot->PaintWindowInto(C, Point(0, 0), Rect(0, 0, FWindow.GetWidth(), FWindow.GetHeight()));
  }
}

// ---------------------------------------------------------------------------------------------
// Hint window

THintWindow::THintWindow(TComponent* AOwner) : TCustomControl(AOwner) {
  SetVisible(false);
  SetColor(clInfoBk);
}

TPoint THintWindow::CalcHintSize(const std::string& Text) {
  int32_t W = 0, H = 0, Lines = 0;
  size_t Start = 0;
  const int32_t LineH = std::max(Canvas().TextHeight("Ag"), 1);
  for (;;) {
    const size_t End = Text.find('\n', Start);
    const std::string Line =
        Text.substr(Start, End == std::string::npos ? std::string::npos : End - Start);
    W = std::max(W, Canvas().TextWidth(Line));
    ++Lines;
    if (End == std::string::npos) break;
    Start = End + 1;
  }
  H = Lines * LineH;
  return Point(W + 8, H + 4);
}

void THintWindow::ActivateHint(int32_t X, int32_t Y, const std::string& Text) {
  FCaption = Text;
  const TPoint S = CalcHintSize(Text);
  X = std::clamp(X, 0, std::max(gScreenWidth - S.X, 0));
  Y = std::clamp(Y, 0, std::max(gScreenHeight - S.Y, 0));
  SetBounds(X, Y, S.X, S.Y);
  SetVisible(true);
  Invalidate();
}

void THintWindow::Paint() {
  TCanvas& C = Canvas();
  C.Brush().SetStyle(bsSolid);
  C.Brush().SetColor(clInfoBk);
  const TRect All = Rect(0, 0, GetClientWidth(), GetClientHeight());
  C.FillRect(All);
  C.Brush().SetColor(clInfoText);
  C.FrameRect(All);
  C.Brush().SetStyle(bsClear);
  C.Font().SetColor(clInfoText);
  const int32_t LineH = std::max(C.TextHeight("Ag"), 1);
  size_t Start = 0;
  for (int32_t Y = 2;; Y += LineH) {
    const size_t End = FCaption.find('\n', Start);
    C.TextOut(4, Y,
              FCaption.substr(Start, End == std::string::npos ? std::string::npos : End - Start));
    if (End == std::string::npos) break;
    Start = End + 1;
  }
}

// ---------------------------------------------------------------------------------------------
// Edit controls

TCustomEdit::TCustomEdit(TComponent* AOwner, bool MultiLine)
    : TCustomControl(AOwner), FMultiLine(MultiLine) {
  SetTabStop(true);
  SetBorderStyle(bsSingle);
  SetColor(clWindow);
  SetCursor(-4);  // the text cursor
}

void TCustomEdit::SetText(const std::string& T) {
  if (T == FText) return;
  FText = FMultiLine ? T : T.substr(0, T.find('\n'));
  FCaret = FAnchor = static_cast<int32_t>(FText.size());
  Invalidate();
  if (OnChange) OnChange(this);
}

void TCustomEdit::SetSelStart(int32_t P) {
  FCaret = FAnchor = std::clamp(P, 0, static_cast<int32_t>(FText.size()));
  Invalidate();
}

int32_t TCustomEdit::GetSelLength() const {
  return std::abs(FCaret - FAnchor);
}

void TCustomEdit::SetSelLength(int32_t L) {
  FAnchor = std::min(FAnchor, FCaret);
  FCaret = std::clamp(FAnchor + std::max(L, 0), 0, static_cast<int32_t>(FText.size()));
  Invalidate();
}

std::string TCustomEdit::GetSelText() const {
  const int32_t A = std::min(FCaret, FAnchor);
  return FText.substr(static_cast<size_t>(A), static_cast<size_t>(GetSelLength()));
}

void TCustomEdit::SelectAll() {
  FAnchor = 0;
  FCaret = static_cast<int32_t>(FText.size());
  Invalidate();
}

std::vector<std::string> TCustomEdit::Lines() const {
  std::vector<std::string> L;
  size_t Start = 0;
  for (;;) {
    const size_t End = FText.find('\n', Start);
    L.push_back(FText.substr(Start, End == std::string::npos ? std::string::npos : End - Start));
    if (End == std::string::npos) return L;
    Start = End + 1;
  }
}

void TCustomEdit::Replace(const std::string& With) {
  const int32_t A = std::min(FCaret, FAnchor), B = std::max(FCaret, FAnchor);
  FText.replace(static_cast<size_t>(A), static_cast<size_t>(B - A), With);
  FCaret = FAnchor = A + static_cast<int32_t>(With.size());
  Invalidate();
  if (OnChange) OnChange(this);
}

void TCustomEdit::MoveCaret(int32_t To, bool Extend) {
  FCaret = std::clamp(To, 0, static_cast<int32_t>(FText.size()));
  if (!Extend) FAnchor = FCaret;
  Invalidate();
}

int32_t TCustomEdit::LineStart(int32_t P) const {
  while (P > 0 && FText[static_cast<size_t>(P - 1)] != '\n') --P;
  return P;
}

int32_t TCustomEdit::LineEnd(int32_t P) const {
  const int32_t N = static_cast<int32_t>(FText.size());
  while (P < N && FText[static_cast<size_t>(P)] != '\n') ++P;
  return P;
}

bool TCustomEdit::WantsKey(uint16_t Key) const {
  if (Key == VK_TAB) return false;
  return (Key >= VK_PRIOR && Key <= VK_DOWN) || (FMultiLine && Key == VK_RETURN);
}

void TCustomEdit::KeyDown(uint16_t& Key, TShiftState Shift) {
  TCustomControl::KeyDown(Key, Shift);
  const bool Extend = Shift & ssShift;
  switch (Key) {
    case VK_LEFT:
      if (!Extend && GetSelLength() > 0)
        MoveCaret(std::min(FCaret, FAnchor), false);
      else
        MoveCaret(FCaret - 1, Extend);
      break;
    case VK_RIGHT:
      if (!Extend && GetSelLength() > 0)
        MoveCaret(std::max(FCaret, FAnchor), false);
      else
        MoveCaret(FCaret + 1, Extend);
      break;
    case VK_HOME:
      MoveCaret((Shift & ssCtrl) ? 0 : LineStart(FCaret), Extend);
      break;
    case VK_END:
      MoveCaret((Shift & ssCtrl) ? static_cast<int32_t>(FText.size()) : LineEnd(FCaret), Extend);
      break;
    case VK_UP:
    case VK_DOWN: {
      if (!FMultiLine) break;
      const int32_t Col = FCaret - LineStart(FCaret);
      if (Key == VK_UP) {
        const int32_t S = LineStart(FCaret);
        if (S == 0) break;
        const int32_t PS = LineStart(S - 1);
        MoveCaret(std::min(PS + Col, S - 1), Extend);
      } else {
        const int32_t E = LineEnd(FCaret);
        if (E >= static_cast<int32_t>(FText.size())) break;
        MoveCaret(std::min(E + 1 + Col, LineEnd(E + 1)), Extend);
      }
      break;
    }
    case VK_DELETE:
      if (GetSelLength() == 0) MoveCaret(FCaret + 1, true);
      Replace("");
      break;
    case 'A':
      if (Shift & ssCtrl) SelectAll();
      break;
    default:
      break;
  }
}

void TCustomEdit::KeyPress(char& Key) {
  TCustomControl::KeyPress(Key);
  if (Key == 0) return;
  if (Key == '\b') {
    if (GetSelLength() == 0) MoveCaret(FCaret - 1, true);
    Replace("");
  } else if (Key == '\r' || Key == '\n') {
    if (FMultiLine) Replace("\n");
  } else if (static_cast<unsigned char>(Key) >= 32 && Key != 127) {
    Replace(std::string(1, Key));
  }
}

int32_t TCustomEdit::PosAt(int32_t X, int32_t Y) {
  const int32_t LineH = std::max(Canvas().TextHeight("Ag"), 1);
  const std::vector<std::string> L = Lines();
  const int32_t Row = std::clamp((Y - 1) / LineH, 0, static_cast<int32_t>(L.size()) - 1);
  int32_t Start = 0;
  for (int32_t I = 0; I < Row; ++I)
    Start += static_cast<int32_t>(L[static_cast<size_t>(I)].size()) + 1;
  const std::string& Line = L[static_cast<size_t>(Row)];
  // The character boundary nearest to X.
  int32_t Best = 0, BestDist = std::abs(X - 2);
  for (size_t K = 1; K <= Line.size(); ++K) {
    const int32_t D = std::abs(X - 2 - Canvas().TextWidth(Line.substr(0, K)));
    if (D < BestDist) {
      BestDist = D;
      Best = static_cast<int32_t>(K);
    }
  }
  return Start + Best;
}

void TCustomEdit::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) {
    SetFocus();
    MoveCaret(PosAt(X, Y), Shift & ssShift);
  }
  TCustomControl::MouseDown(Button, Shift, X, Y);
}

void TCustomEdit::Paint() {
  TCanvas& C = Canvas();
  const int32_t LineH = std::max(C.TextHeight("Ag"), 1);
  const int32_t A = std::min(FCaret, FAnchor), B = std::max(FCaret, FAnchor);
  int32_t Start = 0, Y = 1;
  for (const std::string& Line : Lines()) {
    const int32_t End = Start + static_cast<int32_t>(Line.size());
    // Selection highlight within this line.
    const int32_t SA = std::clamp(A, Start, End), SB = std::clamp(B, Start, End);
    if (SB > SA) {
      const int32_t X1 = 2 + C.TextWidth(Line.substr(0, static_cast<size_t>(SA - Start)));
      const int32_t X2 = 2 + C.TextWidth(Line.substr(0, static_cast<size_t>(SB - Start)));
      C.Brush().SetStyle(bsSolid);
      C.Brush().SetColor(clHighlight);
      C.FillRect(Rect(X1, Y, X2, Y + LineH));
    }
    C.Brush().SetStyle(bsClear);
    C.Font().SetColor(clWindowText);
    C.TextOut(2, Y, Line);
    if (Focused() && FCaret >= Start && FCaret <= End) {
      const int32_t X = 2 + C.TextWidth(Line.substr(0, static_cast<size_t>(FCaret - Start)));
      C.Pen().SetColor(clWindowText);
      C.Pen().SetMode(pmCopy);
      C.MoveTo(X, Y);
      C.LineTo(X, Y + LineH);
    }
    Start = End + 1;
    Y += LineH;
  }
}

// ---------------------------------------------------------------------------------------------
// Popup menu

std::function<void(TPopupMenu&)> TPopupMenu::ShowHook;

void TPopupMenu::Popup(int32_t X, int32_t Y, TControl* By) {
  if (FPopupComponent) FPopupComponent->RemoveFreeNotification(this);
  FPopupComponent = By;
  if (By) By->FreeNotification(this);
  FPoint = Point(X, Y);
  FOpen = true;
  if (OnPopup) OnPopup(this);
  if (ShowHook) ShowHook(*this);
}

void TPopupMenu::Choose(int32_t Index) {
  FOpen = false;
  if (Index < 0 || Index >= static_cast<int32_t>(Items.size())) return;
  // A copy: the handler may change the items.
  const TMenuItem Item = Items[static_cast<size_t>(Index)];
  if (Item.Caption == "-" || !Item.Enabled) return;
  if (Item.OnClick) Item.OnClick(this);
}

void TPopupMenu::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FPopupComponent) FPopupComponent = nullptr;
}

}  // namespace quillo
