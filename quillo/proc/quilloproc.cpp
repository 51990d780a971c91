#include "quillo/proc/quilloproc.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/clipboard.h"
#include "quillo/platform/region.h"
#include "quillo/proc/dib.h"

namespace quillo {

namespace {

// Puts back the clip, copy mode and brush of a canvas that an operation borrows.
class TCanvasGuard {
 public:
  explicit TCanvasGuard(TCanvas& C)
      : FCanvas(C), FHadClip(C.HasClipRegion()), FClip(C.GetClipRegion()), FMode(C.GetCopyMode()) {
    FBrush.Assign(C.Brush());
  }
  ~TCanvasGuard() {
    if (FHadClip)
      FCanvas.SetClipRegion(FClip);
    else
      FCanvas.ClearClipRegion();
    FCanvas.SetCopyMode(FMode);
    FCanvas.Brush().Assign(FBrush);
  }
  TCanvasGuard(const TCanvasGuard&) = delete;
  TCanvasGuard& operator=(const TCanvasGuard&) = delete;

 private:
  TCanvas& FCanvas;
  bool FHadClip;
  TRegion FClip;
  TCopyMode FMode;
  TBrush FBrush;
};

// A zero-filled W x H bitmap of Source's format and palette.
void Fresh(const TBitmap& Source, TBitmap& Dest, int32_t W, int32_t H) {
  const TPixelFormat PF = Source.GetPixelFormat() == pfCustom ? pf24bit : Source.GetPixelFormat();
  Dest.SetSize(1, 1);
  Dest.Recreate(std::max(W, 0), std::max(H, 0), PF);
  if (!Source.GetPalette().empty() && PF == Source.GetPixelFormat())
    Dest.SetPalette(Source.GetPalette());
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Copies through polygons

void _CopyBitmapRect(const TBitmap& Source, TBitmap& Destination, int32_t X1, int32_t Y1,
                     int32_t X2, int32_t Y2) {
  const int32_t W = Source.GetWidth(), H = Source.GetHeight();
  if (X2 == 0) X2 = W;
  if (Y2 == 0) Y2 = H;
  X2 = ilimit(X2, 0, W);
  Y2 = ilimit(Y2, 0, H);
  X1 = ilimit(X1, 0, X2);
  Y1 = ilimit(Y1, 0, Y2);
  Fresh(Source, Destination, X2 - X1, Y2 - Y1);
  // Every stored layout copies as a run of bits from bit X1 x depth.
  const int32_t Bpp = QLStorageBitCount(Source.GetPixelFormat());
  if (Bpp == 0 || Bpp != QLStorageBitCount(Destination.GetPixelFormat())) return;
  for (int32_t Y = Y1; Y < Y2; ++Y) {
    const uint8_t* S = Source.ScanLine(Y);
    uint8_t* D = Destination.ScanLine(Y - Y1);
    if (Bpp % 8 == 0)
      std::memcpy(D, S + static_cast<size_t>(X1) * (Bpp / 8),
                  static_cast<size_t>(X2 - X1) * (Bpp / 8));
    else
      _CopyBits(D, S, 0, (X2 - X1) * Bpp, X1 * Bpp);
  }
}

void _CopyBitmapPoly(const TBitmap& Source, TBitmap& Destination, int32_t X1, int32_t Y1,
                     int32_t X2, int32_t Y2, const TPoint* Polygon, int32_t Count) {
  const int32_t W = std::max(X2 - X1, 0), H = std::max(Y2 - Y1, 0);
  Fresh(Source, Destination, W, H);
  if (W == 0 || H == 0 || Source.Empty()) return;
  TCanvas& C = Destination.Canvas();
  TCanvasGuard Guard(C);
  if (Count > 0 && Polygon)
    C.SetClipRegion(QLPolygonRegion(Polygon, Count, -X1, -Y1));
  else
    C.ClearClipRegion();
  C.StretchBlt(TRect{0, 0, W, H}, Source, TRect{X1, Y1, X2, Y2}, cmSrcCopy);
}

void _CopyPolygonBitmap(TBitmap& Destination, const TBitmap& Copy, int32_t X, int32_t Y,
                        const TPoint* Polygon, int32_t Count) {
  if (Copy.Empty() || Destination.Empty() || !Polygon || Count < 1) return;
  TCanvas& C = Destination.Canvas();
  TCanvasGuard Guard(C);
  // One draw through the union of the sub-polygons gives what drawing once per sub-polygon does.
  C.SetClipRegion(QLPolygonRegion(Polygon, Count, 0, 0));
  C.StretchBlt(Bounds(X, Y, Copy.GetWidth(), Copy.GetHeight()), Copy,
               TRect{0, 0, Copy.GetWidth(), Copy.GetHeight()}, cmSrcCopy);
}

void _ClearSel(TBitmap& Bitmap, const TPoint* Polygon, int32_t Count, TColor Color) {
  if (Bitmap.Empty() || !Polygon || Count < 1) return;
  TCanvas& C = Bitmap.Canvas();
  TCanvasGuard Guard(C);
  C.SetClipRegion(QLPolygonRegion(Polygon, Count, 0, 0));
  C.Brush().SetBitmap(nullptr);
  C.Brush().SetStyle(bsSolid);
  C.Brush().SetColor(Color);
  C.FillRect(TRect{0, 0, Bitmap.GetWidth(), Bitmap.GetHeight()});
}

namespace {
// Fills R (clipped to the bitmap) with Color.
void FillRect(TBitmap& B, const TRect& R, TColor Color) {
  if (B.Empty()) return;
  TCanvas& C = B.Canvas();
  TCanvasGuard Guard(C);
  C.ClearClipRegion();
  C.Brush().SetBitmap(nullptr);
  C.Brush().SetStyle(bsSolid);
  C.Brush().SetColor(Color);
  C.FillRect(R);
}

// Draws Image stretched onto R of B as a plain copy.
void DrawOnto(TBitmap& B, const TRect& R, const TBitmap& Image) {
  if (B.Empty() || Image.Empty()) return;
  TCanvas& C = B.Canvas();
  TCanvasGuard Guard(C);
  C.ClearClipRegion();
  C.StretchBlt(R, Image, TRect{0, 0, Image.GetWidth(), Image.GetHeight()}, cmSrcCopy);
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation and attachment

TQuilloProc::TQuilloProc(TComponent* AOwner) : TQLTargetComponent(AOwner), FUndo(1, 1, pf24bit) {}

TQuilloProc::~TQuilloProc() {
  Destroying();
}

TColor TQuilloProc::GetBackground() const {
  return FView ? FView->GetBackground() : FBackground;
}

void TQuilloProc::SetBackground(TColor Color) {
  if (FView)
    FView->SetBackGround(Color);
  else
    FBackground = Color;
}

// ---------------------------------------------------------------------------------------------
// Undo

void TQuilloProc::SaveUndo() {
  if (!FBitmap) return;
  ClearUndo();
  if (FBitmap->GetWidth() > 0 && FBitmap->GetHeight() > 0) QLCopyBitmap(*FBitmap, FUndo);
}

void TQuilloProc::Undo() {
  if (!FBitmap || !GetCanUndo()) return;
  QLCopyBitmap(FUndo, *FBitmap);
  Update();
}

void TQuilloProc::ClearUndo() {
  // A fresh block: a large undo image gives its memory back.
  FUndo.Recreate(1, 1, pf24bit);
}

bool TQuilloProc::GetCanUndo() const {
  return FUndo.GetWidth() > 1 || FUndo.GetHeight() > 1;
}

// ---------------------------------------------------------------------------------------------
// Selection and the working area

TQLView* TQuilloProc::SelectionView() const {
  return FView && FView->HasSelectionSupport() ? FView : nullptr;
}

void TQuilloProc::Select(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLSelOp Op) {
  FSelX1 = X1;
  FSelY1 = Y1;
  FSelX2 = X2;
  FSelY2 = Y2;
  if (TQLView* V = SelectionView()) {
    const TQLSelectionBase Old = V->GetSelectionBase();
    V->SetSelectionBase(qlsbBitmap);
    V->Select(X1, Y1, X2, Y2, Op);
    V->SetSelectionBase(Old);
  }
}

void TQuilloProc::SelectAll() {
  FSelX1 = FSelY1 = FSelX2 = FSelY2 = -1;
  if (TQLView* V = SelectionView()) V->DeSelect();
}

bool TQuilloProc::GetReSel(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2,
                           const TPoint*& Polygon, int32_t& PolyCount, TQLMask*& Mask) const {
  PolyCount = 0;
  Polygon = nullptr;
  Mask = nullptr;
  if (TQLView* V = SelectionView()) {
    if (V->GetSelected()) {
      X1 = V->GetSelX1();
      Y1 = V->GetSelY1();
      X2 = V->GetSelX2();
      Y2 = V->GetSelY2();
      Polygon = V->GetPolySelArray();
      PolyCount = Polygon ? std::max(V->GetPolySelCount(), 0) : 0;
      Mask = V->GetMask();
    } else {
      X1 = -1;
    }
  } else {
    X1 = FSelX1;
    Y1 = FSelY1;
    X2 = FSelX2;
    Y2 = FSelY2;
  }
  if (X1 >= 0) return true;
  X1 = Y1 = 0;
  X2 = FBitmap ? FBitmap->GetWidth() : 0;
  Y2 = FBitmap ? FBitmap->GetHeight() : 0;
  return false;
}

namespace {
struct TSel {
  int32_t X1, Y1, X2, Y2;
  const TPoint* Polygon;
  int32_t Count;
  TQLMask* Mask;
  bool Selected;
};
TSel ReadSel(const TQuilloProc& P) {
  TSel S{};
  S.Selected = P.GetReSel(S.X1, S.Y1, S.X2, S.Y2, S.Polygon, S.Count, S.Mask);
  return S;
}
}  // namespace

int32_t TQuilloProc::GetSelX1() const {
  return ReadSel(*this).X1;
}
int32_t TQuilloProc::GetSelY1() const {
  return ReadSel(*this).Y1;
}
int32_t TQuilloProc::GetSelX2() const {
  return ReadSel(*this).X2;
}
int32_t TQuilloProc::GetSelY2() const {
  return ReadSel(*this).Y2;
}

TRect TQuilloProc::WorkRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) const {
  if (!FBitmap) return {};
  TRect R{std::max(X1, 0), std::max(Y1, 0), std::min(X2, FBitmap->GetWidth()),
          std::min(Y2, FBitmap->GetHeight())};
  // A rectangle given backwards or lying outside the bitmap holds nothing to work on.
  if (R.IsEmpty()) return {};
  return R;
}

void TQuilloProc::Process(const std::function<void(TBitmap&, const TRect&)>& Op, TDirectRule Rule) {
  if (!FBitmap) return;
  if (FAutoUndo) SaveUndo();
  const TSel S = ReadSel(*this);
  const bool Direct = S.Count < 1 || (Rule == drRectangles && _IsRectangle(S.Polygon, S.Count));
  const TRect R = WorkRect(S.X1, S.Y1, S.X2, S.Y2);
  if (!R.IsEmpty()) {
    if (Direct) {
      Op(*FBitmap, R);
    } else {
      TBitmap Copy;
      _CopyBitmapRect(*FBitmap, Copy, R.Left, R.Top, R.Right, R.Bottom);
      Op(Copy, TRect{0, 0, Copy.GetWidth(), Copy.GetHeight()});
      // A view's mask is the selection as it shows it and as the copy commands take it; the
      // polygon clip may round edge pixels the other way.
      if (S.Mask && S.Mask->GetBitsPerPixel() == 1 && S.Mask->GetWidth() >= FBitmap->GetWidth() &&
          S.Mask->GetHeight() >= FBitmap->GetHeight())
        S.Mask->PasteBitmap(*FBitmap, Copy, R.Left, R.Top);
      else
        _CopyPolygonBitmap(*FBitmap, Copy, R.Left, R.Top, S.Polygon, S.Count);
    }
  }
  Update();
}

void TQuilloProc::Process24(const std::function<void(TBitmap&, const TRect&)>& Op,
                            TDirectRule Rule) {
  if (Is24()) Process(Op, Rule);
}

// ---------------------------------------------------------------------------------------------
// Clearing and cropping

void TQuilloProc::Clear() {
  if (!FBitmap) return;
  if (FAutoUndo) SaveUndo();
  FillRect(*FBitmap, TRect{0, 0, FBitmap->GetWidth(), FBitmap->GetHeight()}, GetBackground());
  Update();
}

namespace {
void ClearSelection(TBitmap& B, const TSel& S, TColor Color) {
  if (S.Count < 1 || _IsRectangle(S.Polygon, S.Count))
    FillRect(B, TRect{S.X1, S.Y1, S.X2, S.Y2}, Color);
  else
    _ClearSel(B, S.Polygon, S.Count, Color);
}
}  // namespace

void TQuilloProc::ClearSel() {
  if (!FBitmap) return;
  if (FAutoUndo) SaveUndo();
  ClearSelection(*FBitmap, ReadSel(*this), GetBackground());
  Update();
}

void TQuilloProc::CropSel() {
  if (!FBitmap) return;
  if (FAutoUndo) SaveUndo();
  const TSel S = ReadSel(*this);
  const TRect R = WorkRect(S.X1, S.Y1, S.X2, S.Y2);
  if (S.Selected && !R.IsEmpty()) {
    TBitmap Cropped;
    _CopyBitmapPoly(*FBitmap, Cropped, R.Left, R.Top, R.Right, R.Bottom, S.Polygon, S.Count);
    QLCopyBitmap(Cropped, *FBitmap);
  }
  Update();
}

// ---------------------------------------------------------------------------------------------
// Clipboard

void TQuilloProc::PutDIB(const TBitmap& Source, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
  TClipboard& C = Clipboard();
  C.Clear();
  C.SetAsHandle(CF_DIB, _CopyBitmaptoDIB(Source, X1, Y1, X2, Y2));
}

void TQuilloProc::CopyToClipboard() {
  if (!FBitmap) return;
  TClipboardLock Lock(Clipboard());
  if (!Lock.Opened()) return;
  PutDIB(*FBitmap, 0, 0, 0, 0);
}

namespace {
// Puts the selection S of B on the (open) clipboard; false when there was nothing to put.
bool PutSelection(
    TBitmap& B, const TSel& S,
    const std::function<void(const TBitmap&, int32_t, int32_t, int32_t, int32_t)>& Put) {
  if (!S.Selected) {
    Put(B, 0, 0, B.GetWidth(), B.GetHeight());
    return true;
  }
  const TRect R{std::max(S.X1, 0), std::max(S.Y1, 0), std::min(S.X2, B.GetWidth()),
                std::min(S.Y2, B.GetHeight())};
  if (R.IsEmpty()) return false;
  if (S.Count < 1 || _IsRectangle(S.Polygon, S.Count)) {
    Put(B, R.Left, R.Top, R.Right, R.Bottom);
    return true;
  }
  TBitmap Temp;
  if (S.Mask) {
    const TQLMask& M = *S.Mask;
    if (M.X1 > M.X2 || M.Y1 > M.Y2) return false;
    const int64_t W = int64_t{M.X2} - M.X1 + 1, H = int64_t{M.Y2} - M.Y1 + 1;
    if (!QLImageSizeOK(W, H, 24)) return false;
    Fresh(B, Temp, static_cast<int32_t>(W), static_cast<int32_t>(H));
    M.CopyBitmap(Temp, B, true);
  } else {
    // A view that keeps no mask: the polygon itself over the selection's box.
    _CopyBitmapPoly(B, Temp, R.Left, R.Top, R.Right, R.Bottom, S.Polygon, S.Count);
  }
  Put(Temp, 0, 0, Temp.GetWidth(), Temp.GetHeight());
  return true;
}
}  // namespace

void TQuilloProc::SelCopyToClip() {
  if (!FBitmap) return;
  TClipboardLock Lock(Clipboard());
  if (!Lock.Opened()) return;
  PutSelection(*FBitmap, ReadSel(*this),
               [this](const TBitmap& B, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
                 PutDIB(B, X1, Y1, X2, Y2);
               });
}

void TQuilloProc::SelCutToClip() {
  if (!FBitmap) return;
  const TSel S = ReadSel(*this);
  if (!S.Selected) return;
  TClipboardLock Lock(Clipboard());
  if (!Lock.Opened()) return;
  if (FAutoUndo) SaveUndo();
  // Only what reached the clipboard is cleared.
  if (!PutSelection(*FBitmap, S,
                    [this](const TBitmap& B, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
                      PutDIB(B, X1, Y1, X2, Y2);
                    }))
    return;
  ClearSelection(*FBitmap, S, GetBackground());
  Update();
}

bool TQuilloProc::ClipboardBitmap(TBitmap& Out) const {
  TClipboard& C = Clipboard();
  TClipboardLock Lock(C);
  if (!Lock.Opened() || !C.HasFormat(CF_DIB)) return false;
  const std::vector<uint8_t> DIB = C.GetAsHandle(CF_DIB);
  return _CopyDIB2Bitmap(DIB.data(), DIB.size(), Out) != 0;
}

void TQuilloProc::PasteFromClipboard() {
  if (!FBitmap) return;
  TBitmap Image;
  if (!ClipboardBitmap(Image)) return;
  if (FAutoUndo) SaveUndo();
  QLCopyBitmap(Image, *FBitmap);
  Update();
}

void TQuilloProc::PointPasteFromClip(int32_t X, int32_t Y) {
  if (!FBitmap) return;
  if (TQLView* V = SelectionView(); V && V->GetSelectionBase() == qlsbClientArea) {
    X = V->XScr2Bmp(X);
    Y = V->YScr2Bmp(Y);
  }
  TBitmap Image;
  if (!ClipboardBitmap(Image)) return;
  if (FAutoUndo) SaveUndo();
  DrawOnto(*FBitmap, Bounds(X, Y, Image.GetWidth(), Image.GetHeight()), Image);
  Update();
}

void TQuilloProc::SelPasteFromClipStretch() {
  if (!FBitmap) return;
  const TSel S = ReadSel(*this);
  if (!S.Selected) {
    PasteFromClipboard();
    return;
  }
  TBitmap Image;
  if (!ClipboardBitmap(Image)) return;
  if (FAutoUndo) SaveUndo();
  DrawOnto(*FBitmap, TRect{S.X1, S.Y1, S.X2, S.Y2}, Image);
  Update();
}

}  // namespace quillo
