// TQuilloView: the image view. It owns one bitmap (24-bit or 1-bit) and shows it zoomed,
// scrolled and optionally centred over a styled background, keeps its scroll bars in step,
// paints through a back buffer, resamples when a zoom filter is set, and carries the selection:
// a list of polygons in bitmap pixel-edge coordinates drawn as a crawling dashed outline, and
// its raster mask, which the processing component confines its work to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "quillo/core/selection.h"
#include "quillo/core/view.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/proc/geometry.h"

namespace quillo {

enum TScrollStyle : uint8_t { ssNone, ssHorizontal, ssVertical, ssBoth };

using TQLSelectionOptions = uint8_t;
constexpr TQLSelectionOptions qlsoAnimated = 1;
constexpr TQLSelectionOptions qlsoSizeable = 2;
constexpr TQLSelectionOptions qlsoMoveable = 4;
constexpr TQLSelectionOptions qlsoFilled = 8;

using TQLMouseInteract = uint8_t;
constexpr TQLMouseInteract miZoom = 1;
constexpr TQLMouseInteract miScroll = 2;
constexpr TQLMouseInteract miSelect = 4;
constexpr TQLMouseInteract miSelectPolygon = 8;
constexpr TQLMouseInteract miSelectCircle = 16;
constexpr TQLMouseInteract miSelectZoom = 32;
constexpr TQLMouseInteract miSelectMagicWand = 64;

enum TQLBackgroundStyle : uint8_t {
  qlbsSolid,
  qlbsHorizontal,
  qlbsVertical,
  qlbsFDiagonal,
  qlbsBDiagonal,
  qlbsCross,
  qlbsDiagCross,
  qlbsChessboard,
  qlbsDiagonals,
  qlbsCropped,
  qlbsCropShadow
};

enum TQLShadowType : uint8_t { qlstNone, qlstSolid, qlstSmooth1, qlstSmooth2 };

// A shadow strip right of (or below) a rectangle, darkest next to it. Solid kinds fill with the
// canvas's brush; smooth kinds shade grey by e^(i/n) / e.
void QLRightShadow(TCanvas& Canvas, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                   TQLShadowType Kind);
void QLBottomShadow(TCanvas& Canvas, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                    TQLShadowType Kind);

// Copies the area of Source inside Polygon (Source coordinates, sub-polygons split at QLPolyBreak
// points) into Target so that the polygon's box lands with its top-left corner at Position;
// Target grows to hold the box and one more column and row. Nothing for fewer than 3 points.
void _CopyPolygonToPoint(const TBitmap& Source, const TPoint* Polygon, int32_t Count,
                         TBitmap& Target, TPoint Position);
// Copies the rectangle of Source at Position, of the polygon's box size, into the area of Target
// inside Polygon (Target coordinates); Target grows to reach the box's right and bottom edge.
void _CopyPointToPolygon(const TBitmap& Source, TPoint Position, TBitmap& Target,
                         const TPoint* Polygon, int32_t Count);

// How the scroll bars step: LineStep and PageStep in bitmap pixels (-1: one zoomed pixel, one
// client size), and whether dragging the thumb scrolls at once.
struct TQLScrollBarParams {
  int32_t LineStep = -1;
  int32_t PageStep = -1;
  bool Tracking = true;
};

// Where a scroll-bar action moves a view: from Cur by Line or Page, to the thumb position Pos
// (scaled by Scale), to 0 or to Max. False when the action does not move the view (the end of a
// scroll, or a thumb being dragged while tracking is off).
bool QLScrollTarget(TScrollCode Code, int32_t Pos, int32_t Cur, int32_t Line, int32_t Page,
                    double Scale, const TQLScrollBarParams& P, int32_t Max, int32_t& New);

enum TQLMouseWheelAction : uint8_t { qlmwNone, qlmwVScroll, qlmwZoom };
enum TQLMouseWheelVariation : uint8_t { qlmwAbsolute, qlmwPercentage };

struct TQLMouseWheelParams {
  bool InvertDirection = false;
  TQLMouseWheelAction Action = qlmwZoom;
  TQLMouseWheelVariation Variation = qlmwPercentage;
  int32_t Value = 8;
};

// Change 0: the scroll position moved; 1: the zoom changed.
using TViewChangeEvent = std::function<void(TObject* Sender, int32_t Change)>;

// A polygon list drawn as a dashed outline of two colours that crawls one pixel per tick.
struct TQLAnimPolygon {
  std::vector<TPoint> Points;  // bitmap pixel edges; QLPolyBreak points separate sub-polygons
  TColor Color1 = clBlack;
  TColor Color2 = clWhite;
  bool Animated = true;
  bool Sizeable = true;
  bool Visible = true;
  int32_t Phase = 0;  // 0 .. 5
  int32_t DashCounter = 0;
  TCanvas* Canvas = nullptr;
  // The box of the points: the first two ordered, then extended; kept when the list is cleared.
  int32_t SelX1 = 0, SelY1 = 0, SelX2 = 0, SelY2 = 0;
  int32_t Count() const { return static_cast<int32_t>(Points.size()); }
};

class TQuilloView : public TQLView {
 public:
  explicit TQuilloView(TComponent* AOwner = nullptr);
  ~TQuilloView() override;

  // --- bitmap and background -------------------------------------------------------------------
  TBitmap& Bitmap() { return FBitmap; }
  const TBitmap& Bitmap() const { return FBitmap; }
  TBitmap* GetFBitmap() override { return &FBitmap; }
  void SetBackGround(TColor Color) override;
  void ImageChange() override;
  // Fills the bitmap with the background colour and updates.
  void Clear();
  // Makes the bitmap 1 x 1 and clears it.
  void Blank();
  // Takes another view's bitmap, background and resolution; none clears.
  void Assign(const TQuilloView* Source);
  // Takes a bitmap: 24-bit and 1-bit as they are, other formats converted to 24-bit.
  void Assign(const TBitmap* Source);

  // --- geometry --------------------------------------------------------------------------------
  double GetZoom() const { return FZoom; }
  // Sets the zoom in percent keeping the client centre; values <= 0 are ignored.
  void SetZoom(double Value);
  double GetZoomFactor() const { return FZoomF; }
  double GetZoomInverse() const { return FZoomI; }
  int32_t GetViewX() const { return FViewX; }
  int32_t GetViewY() const { return FViewY; }
  void SetViewX(int32_t X);
  void SetViewY(int32_t Y);
  void SetViewXY(int32_t X, int32_t Y);
  // The scroll limits in zoomed pixels.
  void GetMaxViewXY(int32_t& MaxX, int32_t& MaxY) const;
  int32_t GetOffsetX() const { return FOffsetX; }
  int32_t GetOffsetY() const { return FOffsetY; }
  int32_t GetExtentX() const { return FExtentX; }
  int32_t GetExtentY() const { return FExtentY; }
  int32_t GetDrawWidth() const { return FDrawWidth; }
  int32_t GetDrawHeight() const { return FDrawHeight; }
  // The source rectangle (bitmap pixels) and destination size of the last paint.
  int32_t GetSrcX() const { return FSrcX; }
  int32_t GetSrcY() const { return FSrcY; }
  int32_t GetSrcWidth() const { return FSrcWidth; }
  int32_t GetSrcHeight() const { return FSrcHeight; }
  int32_t GetDstWidth() const { return FDstWidth; }
  int32_t GetDstHeight() const { return FDstHeight; }
  double GetHScrollScale() const { return FHScale; }
  double GetVScrollScale() const { return FVScale; }

  // Bitmap pixels to client pixels and back. Screen to bitmap reads the last paint's source
  // origin; the two directions are not exact inverses.
  int32_t XBmp2Scr(int32_t X) const;
  int32_t YBmp2Scr(int32_t Y) const;
  int32_t XScr2Bmp(int32_t X) const override;
  int32_t YScr2Bmp(int32_t Y) const override;

  // Zooms so that the whole bitmap fits the control inside its border (and inside bars that are
  // always shown).
  void Fit();
  // Zooms to Zoom percent and brings the bitmap point under client (X, Y) to the client centre.
  void ZoomAt(int32_t X, int32_t Y, double Zoom);
  // Zooms so that the selection's box fills the same room as Fit, and removes the selection.
  void ZoomSelection();

  // Recomputes geometry and scroll bars and asks for a repaint.
  void Update() override;
  // Shows the view: recomposes the back buffer when stale and copies it to the surface.
  void Paint() override;
  // Composes the client picture (background, image, filled selection, grid) on Canvas.
  virtual void PaintTo(TCanvas& Canvas);
  // Draws the visible part of the image at (0, 0) of Canvas, DrawWidth x DrawHeight.
  void DrawTo(TCanvas& Canvas);
  void LockPaint() { ++FLock; }
  // Decrements the lock; at zero updates. Returns the new count.
  int32_t UnLockPaint();
  // Decrements the lock without updating.
  int32_t NPUnLockPaint();
  int32_t GetPaintLock() const { return FLock; }

  int32_t GetIdealComponentWidth() const;
  int32_t GetIdealComponentHeight() const;
  virtual bool HasParentWindow() const { return true; }

  // --- properties ------------------------------------------------------------------------------
  TResampleFilter GetZoomFilter() const { return FZoomFilter; }
  void SetZoomFilter(TResampleFilter F);
  bool GetDelayZoomFilter() const { return FDelayZoomFilter; }
  void SetDelayZoomFilter(bool V) { FDelayZoomFilter = V; }
  int32_t GetZoomFilterDelay() const { return FDelay; }
  TScrollStyle GetScrollBars() const { return FScrollBars; }
  virtual void SetScrollBars(TScrollStyle S);
  bool GetScrollBarsAlwaysVisible() const { return FScrollBarsAlwaysVisible; }
  void SetScrollBarsAlwaysVisible(bool V);
  TQLSelectionOptions GetSelectionOptions() const { return FSelectionOptions; }
  void SetSelectionOptions(TQLSelectionOptions O);
  bool GetCenter() const { return FCenter; }
  void SetCenter(bool V);
  TQLMouseInteract GetMouseInteract() const { return FMouseInteract; }
  // Stores the set after dropping the members the newly added one cannot work with; ends a
  // polygon being drawn when the polygon mode was on.
  virtual void SetMouseInteract(TQLMouseInteract M);
  bool GetDoubleBuffer() const { return FDoubleBuffer; }
  void SetDoubleBuffer(bool V);
  bool GetAutoFit() const { return FAutoFit; }
  void SetAutoFit(bool V);
  TQLSelectionBase GetSelectionBase() const override { return FSelectionBase; }
  void SetSelectionBase(TQLSelectionBase B) override { FSelectionBase = B; }
  TQLBackgroundStyle GetBackgroundStyle() const { return FBackgroundStyle; }
  void SetBackgroundStyle(TQLBackgroundStyle S);
  bool GetDisplayGrid() const { return FDisplayGrid; }
  void SetDisplayGrid(bool V);
  TQLScrollBarParams& HScrollBarParams() { return *FHParams; }
  TQLScrollBarParams& VScrollBarParams() { return *FVParams; }
  TQLMouseWheelParams& MouseWheelParams() { return *FWheelParams; }
  int32_t GetMagicWandTolerance() const { return FMagicWandTolerance; }
  void SetMagicWandTolerance(int32_t V) { FMagicWandTolerance = V; }
  bool GetMagicWandMaxFilter() const { return FMagicWandMaxFilter; }
  void SetMagicWandMaxFilter(bool V) { FMagicWandMaxFilter = V; }

  // --- selection -------------------------------------------------------------------------------
  // Coordinates are client pixels in the client-area base, bitmap pixels in the bitmap base.
  bool HasSelectionSupport() const override { return true; }
  bool GetSelected() const override { return FSelected; }
  void Select(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLSelOp Op) override;
  // Replaces (or adds to) the point list with the rectangle; coincident corners are ignored.
  void SelectEx(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLSelOp Op);
  // An ellipse of centre (CX, CY) and radii RX, RY as a polygon of Trunc(min(RX, RY) 2 pi) div 4
  // points (at least 3), the radii and the centre in the selection base's units.
  void SelectEllipse(int32_t CX, int32_t CY, int32_t RX, int32_t RY, TQLSelOp Op);
  // The magic-wand outline around (X, Y).
  void SelectMagicWand(int32_t X, int32_t Y, TQLSelOp Op);
  virtual void AddSelPoint(int32_t X, int32_t Y);
  void AddSelPointEx(int32_t X, int32_t Y);
  void AddSelBreak();
  void AddSelBreakEx();
  // Rebuilds the mask from the point list.
  virtual void EndSelect();
  void DeSelect() override;
  TPoint GetPolySel(int32_t I) const;
  const TPoint* GetPolySelArray() const override;
  int32_t GetPolySelCount() const override { return FSel->Count(); }
  int32_t GetSelX1() const override { return FSel->SelX1; }
  int32_t GetSelY1() const override { return FSel->SelY1; }
  int32_t GetSelX2() const override { return FSel->SelX2; }
  int32_t GetSelY2() const override { return FSel->SelY2; }
  TQLMask* GetMask() override { return &FMask; }
  const TQLMask& Mask() const { return FMask; }
  bool IsPointInsideSelection(int32_t X, int32_t Y) const;
  void ShowSelectionEx(bool Draw);
  void HideSelectionEx(bool Repaint);
  bool GetVisibleSelection() const { return FSel->Visible; }
  void SetVisibleSelection(bool V);
  TColor GetSelColor1() const { return FSel->Color1; }
  TColor GetSelColor2() const { return FSel->Color2; }
  void SetSelColor1(TColor C) { FSel->Color1 = C; }
  void SetSelColor2(TColor C) { FSel->Color2 = C; }
  // Copies the selected area into another view (which takes this background and resolution)
  // or into a bitmap.
  void AssignSelTo(TQuilloView& Target);
  void AssignSelTo(TBitmap& Target);
  // Copies Source's area inside Polygon into this bitmap with the polygon's box at Position.
  void CopyFromPolygon(const TBitmap& Source, const TPoint* Polygon, int32_t Count,
                       TPoint Position);
  // Copies this bitmap's rectangle at Position into Target's area inside Polygon.
  void CopyToPolygon(TBitmap& Target, const TPoint* Polygon, int32_t Count, TPoint Position);
  // The grip under client (X, Y): 0 .. 3 corners, 4 .. 7 left, right, top, bottom; -1 none.
  int32_t GetResizingGrip(int32_t X, int32_t Y) const;
  // 0 when client (X, Y) is inside the selection, else -1.
  int32_t GetMovingGrip(int32_t X, int32_t Y) const;
  // Drags a grip of a rectangle selection to client (X, Y); returns the grip now dragged.
  int32_t SelectResizeEx(int32_t Grip, int32_t X, int32_t Y);
  // Moves the selection by (DX, DY) bitmap pixels within the bitmap.
  int32_t SelectMoveEx(int32_t Grip, int32_t DX, int32_t DY);
  void DoSelectionChanging();
  void DoSelectionChange();
  // The selection's outline list.
  TQLAnimPolygon& SelectionPolygon() { return *FSel; }

  // Interaction state (driven by the mouse modes).
  bool FPolyDrawing = false;
  bool FRectDrawing = false;
  bool FEllipseDrawing = false;
  int32_t FResizingGrip = -1;
  int32_t FMovingGrip = -1;

  // --- animated polygons -----------------------------------------------------------------------
  TQLAnimPolygon* AnimPolygonNew(TColor Color1, TColor Color2, bool Animated, bool Sizeable);
  void AnimPolygonDel(TQLAnimPolygon* P);
  void AnimPolygonClear(TQLAnimPolygon* P);
  void AnimPolygonAddPt(TQLAnimPolygon* P, int32_t X, int32_t Y);
  void AnimPolygonAddPtEx(TQLAnimPolygon* P, int32_t X, int32_t Y);
  void AnimPolygonAddBreak(TQLAnimPolygon* P);
  void AnimPolygonRemoveLast(TQLAnimPolygon* P);
  void AnimPolygonRemoveLastPoint(TQLAnimPolygon* P);
  void AnimPolygonMove(TQLAnimPolygon* P, int32_t DX, int32_t DY, int32_t Width, int32_t Height);
  // Draws every visible outline over the surface; the timer's call advances the dash phase and
  // counts the zoom-filter delay down.
  void AniPolyFunc(bool FromTimer);

  // --- input -----------------------------------------------------------------------------------
  void HScroll(TScrollCode Code, int32_t Pos) override;
  void VScroll(TScrollCode Code, int32_t Pos) override;
  bool DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) override;
  bool WantsKey(uint16_t Key) const override;
  void TimerTick(int32_t Id) override;
  // Mouse modes (MouseInteract): zoom by click, scroll by drag, the selection tools, grips.
  // A double click (a press with ssDouble, after OnDblClick) ends the polygon being drawn.
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void DoEnter() override;
  void DoExit() override;
  // One step of automatic scrolling while a drag is outside the image: the view moves by the
  // overshoot of the last cursor position. True when it moved (the step timer then repeats it).
  bool MouseMoveScroll();
  // Shifts the stored last and previous mouse positions by (-DX, -DY).
  virtual void SubMouseMoveScroll(int32_t DX, int32_t DY);
  // Draws (or, drawn twice, removes) the rubber-band line from the mouse to the polygon's last
  // vertex while a polygon is being drawn.
  void PolyDraw1();

  TViewChangeEvent OnViewChange;
  TNotifyEvent OnImageChange, OnSelectionChange, OnSelectionChanging, OnMouseInSel;

  static constexpr int32_t kAnimTimer = 1;
  static constexpr int32_t kAnimInterval = 150;
  static constexpr int32_t kScrollTimer = 2;
  static constexpr int32_t kScrollInterval = 40;

 protected:
  void Resize() override;
  virtual void ViewChange(int32_t Change);

 private:
  // The room Fit and ZoomSelection fill: the control less its border, and less the scroll bars
  // only when they are always shown (others go away once the bitmap fits).
  void FitRoom(double& W, double& H) const;
  void PaintBackground(TCanvas& Canvas, const TRect& Image, int32_t W, int32_t H);
  void Scroll(bool Horizontal, TScrollCode Code, int32_t Pos);
  void ArmZoomFilterDelay();
  void SetViewXYImpl(int32_t X, int32_t Y, bool SetX, bool SetY);
  void UpdateScrollPositions();
  void RepaintUnlessLocked();
  void DrawOutline(TQLAnimPolygon& P, bool FromTimer);
  void ConvertPoint(int32_t& X, int32_t& Y) const;
  void ClampToBitmap(int32_t& X, int32_t& Y) const;
  void AppendRectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  void StartOrAdd(TQLSelOp Op);
  // The drag work of MouseMove, also run by the automatic-scroll timer.
  void HandleMove(TShiftState Shift, int32_t X, int32_t Y);
  void ClampToImage(int32_t& X, int32_t& Y) const;
  bool LastIsPoint() const;
  void DragEllipse(TShiftState Shift, int32_t X, int32_t Y);
  void ShowGripCursor(int32_t X, int32_t Y);
  void EndPolygonByDoubleClick();

  // Mouse state: the press point (client, clamped to the image), the view position then, the
  // last and previous mouse positions, the point-list size at the press, the raw cursor.
  int32_t FStartX = 0, FStartY = 0, FViewX0 = 0, FViewY0 = 0;
  int32_t FLastX = 0, FLastY = 0, FPrevX = 0, FPrevY = 0;
  int32_t FCountAtPress = 0;
  int32_t FCursorX = 0, FCursorY = 0;
  TShiftState FDragShift = 0;
  bool FButtonDown = false;
  bool FFilterSetAside = false;
  TResampleFilter FSavedFilter = rfNone;
  bool FGripCursorShown = false;
  int32_t FBaseCursor = 0;

  TBitmap FBitmap;
  TBitmap FBackBuffer;
  std::unique_ptr<TCanvas> FBackCanvas;
  double FZoom = 100, FZoomF = 1, FZoomI = 1;
  int32_t FViewX = 0, FViewY = 0;
  int32_t FOffsetX = 0, FOffsetY = 0;
  int32_t FExtentX = 0, FExtentY = 0;
  int32_t FDrawWidth = 0, FDrawHeight = 0;
  int32_t FSrcX = 0, FSrcY = 0, FSrcWidth = 0, FSrcHeight = 0;
  int32_t FDstWidth = 0, FDstHeight = 0;
  double FHScale = 1, FVScale = 1;
  int32_t FLock = 0;
  bool FStale = true;
  int32_t FLastBmpW = -1, FLastBmpH = -1;
  int32_t FDelay = 0;
  std::unique_ptr<TQLScrollBarParams> FHParams, FVParams;
  std::unique_ptr<TQLMouseWheelParams> FWheelParams;
  TQLMask FMask;
  std::vector<std::unique_ptr<TQLAnimPolygon>> FPolygons;
  TQLAnimPolygon* FSel = nullptr;
  bool FSelected = false;

  TResampleFilter FZoomFilter = rfNone;
  bool FDelayZoomFilter = true;
  TScrollStyle FScrollBars = ssNone;
  bool FScrollBarsAlwaysVisible = false;
  TQLSelectionOptions FSelectionOptions = qlsoAnimated | qlsoSizeable | qlsoMoveable;
  bool FCenter = false;
  TQLMouseInteract FMouseInteract = 0;
  bool FDoubleBuffer = true;
  bool FAutoFit = false;
  TQLSelectionBase FSelectionBase = qlsbClientArea;
  TQLBackgroundStyle FBackgroundStyle = qlbsSolid;
  bool FDisplayGrid = false;
  int32_t FMagicWandTolerance = 15;
  bool FMagicWandMaxFilter = false;
};

}  // namespace quillo
