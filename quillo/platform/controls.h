// Controls: the framework's visual component classes, headless by default.
//
// A control keeps its bounds and state inside its parent's client area; windowed controls
// (TWinControl) hold children, keyboard focus, scroll bars and timers, and custom controls
// paint into a surface bitmap of their client size through a canvas. Input arrives through
// TControlHost, the one entry point for mouse, wheel, keyboard, focus and size events, which a
// window backend (or a test) drives; it finds the control under the mouse, keeps the mouse
// captured while a button is held, tracks enter and leave, and routes keys to the focused
// control. A host backend shows the surfaces and scroll bars; headless, they are only read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/classes.h"

namespace quillo {

class TWinControl;
class TControlHost;
class TPopupMenu;

// ---------------------------------------------------------------------------------------------
// Input vocabulary

enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };

// Shift state: keys and buttons held while an input event happened.
using TShiftState = uint16_t;
constexpr TShiftState ssShift = 1;
constexpr TShiftState ssAlt = 2;
constexpr TShiftState ssCtrl = 4;
constexpr TShiftState ssLeft = 8;
constexpr TShiftState ssRight = 16;
constexpr TShiftState ssMiddle = 32;
constexpr TShiftState ssDouble = 64;

// The shift-state bit of a mouse button.
TShiftState ButtonShift(TMouseButton Button);

// Virtual-key codes.
constexpr uint16_t VK_BACK = 8, VK_TAB = 9, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17,
                   VK_MENU = 18, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33, VK_NEXT = 34,
                   VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40,
                   VK_INSERT = 45, VK_DELETE = 46, VK_F1 = 112, VK_ADD = 107, VK_SUBTRACT = 109;
// Letters and digits are their upper-case ASCII codes ('A' = 65, '0' = 48).

// One notch of a mouse wheel.
constexpr int32_t WHEEL_DELTA = 120;

// Scroll bars and their request codes (the order is the message codes').
enum TScrollBarKind : uint8_t { sbHorizontal, sbVertical };
enum TScrollCode : uint8_t {
  scLineUp,
  scLineDown,
  scPageUp,
  scPageDown,
  scPosition,
  scTrack,
  scTop,
  scBottom,
  scEndScroll
};

// A window's scroll bar: shown or not, its range, page, thumb position, whether its arrows
// are enabled and whether the thumb scrolls while it is dragged.
struct TScrollBarInfo {
  bool Visible = false;
  int32_t Min = 0;
  int32_t Max = 100;
  int32_t Page = 0;
  int32_t Position = 0;
  bool ArrowsEnabled = true;
  bool Tracking = true;
  friend bool operator==(const TScrollBarInfo&, const TScrollBarInfo&) = default;
};

// The width of a vertical scroll bar and the height of a horizontal one, in pixels.
extern int32_t gScrollBarSize;

enum TAlign : uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };
using TAnchors = uint8_t;
constexpr TAnchors akLeft = 1;
constexpr TAnchors akTop = 2;
constexpr TAnchors akRight = 4;
constexpr TAnchors akBottom = 8;

enum TBorderStyle : uint8_t { bsNone, bsSingle };

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                       int32_t X, int32_t Y)>;
using TMouseMoveEvent =
    std::function<void(TObject* Sender, TShiftState Shift, int32_t X, int32_t Y)>;
using TMouseWheelEvent = std::function<void(TObject* Sender, TShiftState Shift, int32_t WheelDelta,
                                            TPoint MousePos, bool& Handled)>;
using TKeyEvent = std::function<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;

// ---------------------------------------------------------------------------------------------
// TControl

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner = nullptr);
  ~TControl() override;

  int32_t GetLeft() const { return FLeft; }
  int32_t GetTop() const { return FTop; }
  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  void SetLeft(int32_t V) { SetBounds(V, FTop, FWidth, FHeight); }
  void SetTop(int32_t V) { SetBounds(FLeft, V, FWidth, FHeight); }
  void SetWidth(int32_t V) { SetBounds(FLeft, FTop, V, FHeight); }
  void SetHeight(int32_t V) { SetBounds(FLeft, FTop, FWidth, V); }
  TRect GetBoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
  // Sizes are clamped to 0 .. kMaxControlSize; the parent re-aligns its children.
  virtual void SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height);
  static constexpr int32_t kMaxControlSize = 16384;

  // The area inside the border and the scroll bars, in the control's own coordinates.
  virtual TRect GetClientRect() const { return Rect(0, 0, FWidth, FHeight); }
  int32_t GetClientWidth() const;
  int32_t GetClientHeight() const;
  // Where the client area starts inside the control's bounds.
  virtual TPoint GetClientOrigin() const { return Point(0, 0); }

  TWinControl* GetParent() const { return FParent; }
  // Makes this control a child of Parent (none: detached). A parent that is this control or
  // one of its descendants is refused with EInvalidOperation.
  virtual void SetParent(TWinControl* Parent);
  bool GetVisible() const { return FVisible; }
  void SetVisible(bool V);
  // Visible here and in every parent.
  bool IsShowing() const;
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool V) { FEnabled = V; }
  int32_t GetCursor() const { return FCursor; }
  void SetCursor(int32_t C);
  const std::string& GetHint() const { return FHint; }
  void SetHint(const std::string& H) { FHint = H; }
  bool GetShowHint() const { return FShowHint; }
  void SetShowHint(bool V) { FShowHint = V; }
  TPopupMenu* GetPopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* Menu);

  TAlign GetAlign() const { return FAlign; }
  void SetAlign(TAlign A);
  TAnchors GetAnchors() const { return FAnchors; }
  void SetAnchors(TAnchors A) { FAnchors = A; }

  // Mapping between this control's client coordinates and its host window's.
  TPoint ClientToWindow(TPoint P) const;
  TPoint WindowToClient(TPoint P) const;
  // The host that shows this control's top-level parent; none when not hosted.
  TControlHost* GetHost() const;

  // Marks the control for repainting.
  virtual void Invalidate();
  // Repaints what is invalid now.
  virtual void Update() {}
  // Invalidate and Update.
  void Repaint() {
    Invalidate();
    Update();
  }
  bool IsInvalid() const { return FInvalid; }

  // Runs Method on the main thread's queue, later; dropped when the control is gone by then.
  void Post(std::function<void()> Method);

  // Events, fired by the default handlers below.
  TNotifyEvent OnClick, OnDblClick, OnResize, OnMouseEnter, OnMouseLeave;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TMouseWheelEvent OnMouseWheel;

  // Input handlers, called by the host with client coordinates. Derived controls override
  // them and call the inherited one to fire the events.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual void Click();
  virtual void DblClick();
  // True when the wheel was handled (else the parent is asked).
  virtual bool DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos);
  virtual void MouseEnter();
  virtual void MouseLeave();

 protected:
  // Called after the size changed.
  virtual void Resize();
  void Notification(TComponent* AComponent, TOperation Operation) override;
  bool FInvalid = true;

 private:
  friend class TWinControl;
  friend class TControlHost;
  int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TWinControl* FParent = nullptr;
  bool FVisible = true;
  bool FEnabled = true;
  int32_t FCursor = 0;
  std::string FHint;
  bool FShowHint = false;
  TPopupMenu* FPopupMenu = nullptr;
  TAlign FAlign = alNone;
  TAnchors FAnchors = akLeft | akTop;
  // The parent's client size when the anchors were last applied.
  int32_t FAnchorParentW = -1, FAnchorParentH = -1;
  std::shared_ptr<bool> FAlive;
};

// ---------------------------------------------------------------------------------------------
// TWinControl

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner = nullptr);
  ~TWinControl() override;

  void SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height) override;
  TRect GetClientRect() const override;
  TPoint GetClientOrigin() const override;

  int32_t GetControlCount() const { return static_cast<int32_t>(FControls.size()); }
  TControl* GetControl(int32_t I) const { return FControls[static_cast<size_t>(I)]; }
  // The visible, enabled child under a client point, searching from the topmost; none when the
  // point is on this control itself.
  TControl* ControlAtPos(TPoint P) const;

  // Border: none, a one-pixel frame, or a sunken 3-D edge of gEdgeX x gEdgeY with Ctl3D.
  TBorderStyle GetBorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle S);
  bool GetCtl3D() const { return FCtl3D; }
  void SetCtl3D(bool V);
  // Border width in pixels on each side.
  int32_t BorderWidthX() const;
  int32_t BorderWidthY() const;

  // Keyboard focus.
  int32_t GetTabOrder() const { return FTabOrder; }
  void SetTabOrder(int32_t Order);
  bool GetTabStop() const { return FTabStop; }
  void SetTabStop(bool V) { FTabStop = V; }
  bool CanFocus() const;
  // Gives this control the keyboard focus (within its host).
  void SetFocus();
  bool Focused() const;
  // Moves the focus to the next (or previous) tab stop among this control's descendants.
  void SelectNext(bool Forward = true);

  // Scroll bars.
  const TScrollBarInfo& GetScrollInfo(TScrollBarKind Kind) const {
    return FScroll[Kind == sbHorizontal ? 0 : 1];
  }
  // Stores the bar (position clamped to Min .. Max − max(Page − 1, 0)), resizes the client
  // area when its visibility changed and tells the host.
  void SetScrollInfo(TScrollBarKind Kind, const TScrollBarInfo& Info);
  void ShowScrollBar(TScrollBarKind Kind, bool Show);
  void SetScrollPos(TScrollBarKind Kind, int32_t Position);
  // A scroll request as the bar (or a host's real scroll bar) sends it; Pos is the thumb
  // position for scPosition and scTrack.
  void SendScroll(TScrollBarKind Kind, TScrollCode Code, int32_t Pos);

  // Timers by identifier, fired through TimerTick on the main thread while the control lives.
  void SetTimer(int32_t Id, int32_t Milliseconds);
  void KillTimer(int32_t Id);

  // Keyboard events.
  TKeyEvent OnKeyDown, OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter, OnExit;

  virtual void KeyDown(uint16_t& Key, TShiftState Shift);
  virtual void KeyUp(uint16_t& Key, TShiftState Shift);
  virtual void KeyPress(char& Key);
  // Whether the control wants a navigation key (arrows, page keys, tab) for itself rather
  // than let the host use it to move the focus.
  virtual bool WantsKey(uint16_t Key) const;
  virtual void DoEnter();
  virtual void DoExit();
  virtual void HScroll(TScrollCode Code, int32_t Pos);
  virtual void VScroll(TScrollCode Code, int32_t Pos);
  virtual void TimerTick(int32_t Id);

  // Lays the aligned children out in the client area and applies anchors.
  void Realign();
  // Brings the surface up to date (paints when invalid); the host calls it before composing
  // the window. Controls whose Update does more than that keep this as the plain repaint.
  virtual void UpdateSurface() { Update(); }

  // Composes this control's window image: border, the surfaces of this control and its
  // windowed descendants, placeholders for scroll bars. For screenshots and headless checks.
  void PaintWindowTo(TBitmap& Target, TPoint Origin) const;
  void PaintWindowInto(TCanvas& Canvas, TPoint Origin, const TRect& Clip) const;

  // The host that shows this control when it is a top-level control.
  TControlHost* GetOwnHost() const { return FHost; }

 protected:
  void Resize() override;
  // The surface of a windowed control; none for plain windowed containers.
  virtual const TBitmap* GetSurface() const { return nullptr; }

 private:
  friend class TControl;
  friend class TControlHost;
  void ClientSizeChanged();
  void InsertControl(TControl* C);
  void RemoveControl(TControl* C);
  std::vector<TControl*> FControls;
  TBorderStyle FBorderStyle = bsNone;
  bool FCtl3D = true;
  int32_t FTabOrder = -1;
  bool FTabStop = false;
  TScrollBarInfo FScroll[2];
  std::vector<std::pair<int32_t, int64_t>> FTimers;  // identifier, application timer
  TControlHost* FHost = nullptr;
  int32_t FLastClientW = -1, FLastClientH = -1;
};

// ---------------------------------------------------------------------------------------------
// TCustomControl

// A windowed control that paints itself into a surface of its client size.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner = nullptr);
  // Brings the control's surface up to date: paints when invalid.
  void Update() override { TCustomControl::UpdateSurface(); }
  void UpdateSurface() override;
  void Invalidate() override;
  // Marks a part of the client for repainting (the whole surface is repainted; the rectangle
  // tells the host how much to show again).
  void InvalidateRect(const TRect& R);
  // The part invalidated since the last paint (empty when none).
  TRect GetInvalidRect() const { return FInvalidRect; }
  // The surface the control paints into (client size, 24-bit).
  TBitmap& Surface() { return FSurface; }
  const TBitmap& Surface() const { return FSurface; }
  TCanvas& Canvas() { return FCanvas; }
  // Colour the surface is cleared to before Paint; clNone leaves the last picture.
  TColor GetColor() const { return FColor; }
  void SetColor(TColor C) {
    FColor = C;
    Invalidate();
  }

 protected:
  virtual void Paint() {}
  void Resize() override;
  const TBitmap* GetSurface() const override { return &FSurface; }

 private:
  TBitmap FSurface;
  TCanvas FCanvas;
  TColor FColor = clNone;
  TRect FInvalidRect{};
  // Set while UpdateSurface paints: the host shows that picture anyway.
  bool FPainting = false;
};

// ---------------------------------------------------------------------------------------------
// The host: where input comes in and pictures go out.

// Shows one top-level windowed control (the root) and feeds it input. The headless host is
// this class itself; a window backend derives from it and overrides the Show... hooks. Input
// coordinates are in the root's window (its outer bounds, origin at its top-left corner).
class TControlHost {
 public:
  explicit TControlHost(TWinControl& Root);
  virtual ~TControlHost();
  TControlHost(const TControlHost&) = delete;
  TControlHost& operator=(const TControlHost&) = delete;

  TWinControl& Root() const { return *FRoot; }

  // Input.
  void MouseDown(int32_t X, int32_t Y, TMouseButton Button, TShiftState Shift = 0);
  void MouseMove(int32_t X, int32_t Y, TShiftState Shift = 0);
  void MouseUp(int32_t X, int32_t Y, TMouseButton Button, TShiftState Shift = 0);
  // The second press of a double click (the host sends it instead of MouseDown).
  void DoubleClick(int32_t X, int32_t Y, TMouseButton Button, TShiftState Shift = 0);
  void Wheel(int32_t X, int32_t Y, int32_t Delta, TShiftState Shift = 0);
  void KeyDown(uint16_t Key, TShiftState Shift = 0);
  void KeyUp(uint16_t Key, TShiftState Shift = 0);
  void Char(char C);
  // The mouse left the window.
  void Leave();
  // The window gained or lost the keyboard focus.
  void FocusIn();
  void FocusOut();
  // The window's size changed.
  void Resize(int32_t Width, int32_t Height);

  // Conveniences for tests and scripts: a press and release, a drag in steps, a key typed
  // (down, its character when printable, up), a string typed.
  void Click(int32_t X, int32_t Y, TMouseButton Button = mbLeft, TShiftState Shift = 0);
  void Drag(TPoint From, TPoint To, int32_t Steps = 4, TMouseButton Button = mbLeft,
            TShiftState Shift = 0);
  void Key(uint16_t Key, TShiftState Shift = 0);
  void Type(const std::string& Text);

  // State.
  TWinControl* GetFocused() const { return FFocused; }
  TControl* GetCaptured() const { return FCaptured; }
  TControl* GetHovered() const { return FHovered; }
  // The cursor the window shows now: the hovered (or captured) control's, or an override
  // set by the application (crDefault: none).
  int32_t GetShownCursor() const;
  void SetCursorOverride(int32_t Cursor);

  // Brings every invalid control up to date and composes the window image.
  void PaintAll();
  // Brings every invalid control up to date (their surfaces), without composing.
  void UpdateAll();
  const TBitmap& WindowImage() const { return FWindow; }

  // Window backends override these to reflect changes in the real window.
  virtual void ShowCursor(int32_t /*Cursor*/) {}
  virtual void ShowScrollBar(TWinControl& /*Control*/, TScrollBarKind /*Kind*/) {}
  virtual void ShowInvalid(TWinControl& /*Control*/, const TRect& /*Rect*/) {}
  // A control drew on its surface outside a repaint (a rubber band following the mouse, an
  // animated outline, a scroll that repainted at once): its surface is to be shown again.
  virtual void ShowDrawn(TWinControl& /*Control*/) {}
  // A control left the tree or is being destroyed: drop what shows it.
  virtual void ControlGone(TControl& /*Control*/) {}

 private:
  friend class TControl;
  friend class TWinControl;
  // The control at a window point and the point in its client coordinates.
  TControl* HitTest(TPoint P, TPoint& Local) const;
  void SetHovered(TControl* C);
  void SetFocused(TWinControl* C);
  // Drops every reference to C and its descendants (removed from the tree or destroyed).
  void Forget(TControl* C);
  void CursorMaybeChanged();
  TPoint LocalOf(const TControl* C, int32_t X, int32_t Y) const;
  TWinControl* FRoot;
  TWinControl* FFocused = nullptr;
  TControl* FCaptured = nullptr;
  TControl* FHovered = nullptr;
  TShiftState FButtons = 0;
  bool FWindowFocused = true;
  int32_t FCursorOverride = 0;
  int32_t FLastCursor = 0x7FFFFFFF;
  TBitmap FWindow;
};

// ---------------------------------------------------------------------------------------------
// Small standard controls

// A picture that holds a bitmap.
class TPicture : public TPersistent {
 public:
  TBitmap& Bitmap() { return FBitmap; }
  TNotifyEvent OnChange;

 private:
  TBitmap FBitmap;
};

// A control that shows a picture.
class TImage : public TControl {
 public:
  explicit TImage(TComponent* AOwner = nullptr) : TControl(AOwner) {}
  TPicture& GetPicture() { return FPicture; }

 private:
  TPicture FPicture;
};

// A hint window: a line or a few lines of text in a framed box at a point, kept inside the
// screen (gScreenWidth x gScreenHeight) when shown there.
class THintWindow : public TCustomControl {
 public:
  explicit THintWindow(TComponent* AOwner = nullptr);
  // Shows Text with its top-left corner at (X, Y) in screen coordinates, moved as little as
  // needed to lie inside the screen.
  void ActivateHint(int32_t X, int32_t Y, const std::string& Text);
  void ReleaseHandle() { SetVisible(false); }
  const std::string& GetCaption() const { return FCaption; }
  // The size the text needs, border and margins included.
  TPoint CalcHintSize(const std::string& Text);

 protected:
  void Paint() override;

 private:
  std::string FCaption;
};

// The screen's size in pixels (headless: 1920 x 1080; a backend sets the real one).
extern int32_t gScreenWidth;
extern int32_t gScreenHeight;

// An edit control of one line (TEdit) or several (TMemo, WantReturns): text, caret,
// selection, the usual editing keys, and OnChange.
class TCustomEdit : public TCustomControl {
 public:
  explicit TCustomEdit(TComponent* AOwner = nullptr, bool MultiLine = false);
  const std::string& GetText() const { return FText; }
  void SetText(const std::string& T);
  int32_t GetSelStart() const { return FCaret; }
  void SetSelStart(int32_t P);
  int32_t GetSelLength() const;
  void SetSelLength(int32_t L);
  std::string GetSelText() const;
  void SelectAll();
  bool GetMultiLine() const { return FMultiLine; }
  // The lines of the text (split at line feeds).
  std::vector<std::string> Lines() const;
  TFont& Font() { return Canvas().Font(); }
  TNotifyEvent OnChange;

  void KeyDown(uint16_t& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  bool WantsKey(uint16_t Key) const override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;

 protected:
  void Paint() override;

 private:
  void Replace(const std::string& With);
  void MoveCaret(int32_t To, bool Extend);
  int32_t LineStart(int32_t P) const;
  int32_t LineEnd(int32_t P) const;
  int32_t PosAt(int32_t X, int32_t Y);
  std::string FText;
  int32_t FCaret = 0, FAnchor = 0;
  bool FMultiLine;
};

class TEdit : public TCustomEdit {
 public:
  explicit TEdit(TComponent* AOwner = nullptr) : TCustomEdit(AOwner, false) {}
};

class TMemo : public TCustomEdit {
 public:
  explicit TMemo(TComponent* AOwner = nullptr) : TCustomEdit(AOwner, true) {}
};

// A popup menu: items with captions, check marks and click events, shown at a screen point.
// A host backend shows it for real; headless, it is open until an item is chosen or it is
// closed, and tests choose items by index.
struct TMenuItem {
  std::string Caption;  // "-" is a separator
  bool Enabled = true;
  bool Checked = false;
  TNotifyEvent OnClick;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
  std::vector<TMenuItem> Items;
  TNotifyEvent OnPopup;
  // The control that opened it (for handlers), none when opened by the application.
  TControl* GetPopupComponent() const { return FPopupComponent; }
  void Popup(int32_t X, int32_t Y, TControl* By = nullptr);
  bool IsOpen() const { return FOpen; }
  TPoint GetPopupPoint() const { return FPoint; }
  // Chooses item Index (a separator or a disabled item closes the menu and does nothing).
  void Choose(int32_t Index);
  void Close() { FOpen = false; }
  // A window backend shows the menu through this hook; headless it is unset.
  static std::function<void(TPopupMenu&)> ShowHook;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TControl* FPopupComponent = nullptr;
  bool FOpen = false;
  TPoint FPoint{};
};

}  // namespace quillo
