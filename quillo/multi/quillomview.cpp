#include "quillo/multi/quillomview.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "quillo/core/selection.h"
#include "quillo/multi/detail/thumbloader.h"
#include "quillo/platform/sysutils.h"
#include "quillo/platform/threads.h"

namespace quillo {

namespace {

// Pauses longer than this between typed characters start a new search.
constexpr int64_t kSearchPause = 1000;

// A bitmap the store takes as it is: 1, 8 or 24 bits per pixel.
bool StorableFormat(const TBitmap& B) {
  const TPixelFormat F = B.GetPixelFormat();
  return F == pf1bit || F == pf8bit || F == pf24bit;
}

}  // namespace

void QLThumbnailSize(int32_t W, int32_t H, int32_t BoxW, int32_t BoxH, int32_t& OutW,
                     int32_t& OutH) {
  OutW = OutH = 0;
  if (W <= 0 || H <= 0) return;
  const double S = std::min(static_cast<double>(BoxH) / H, static_cast<double>(BoxW) / W);
  OutW = std::max(QLTrunc(W * S), 1);
  OutH = std::max(QLTrunc(H * S), 1);
}

bool QLMakeThumbnail(const TBitmap& Source, int32_t BoxW, int32_t BoxH, TResampleFilter Filter,
                     TBitmap& Thumb) {
  const int32_t W = Source.GetWidth(), H = Source.GetHeight();
  int32_t DW, DH;
  QLThumbnailSize(W, H, std::max(BoxW, 1), std::max(BoxH, 1), DW, DH);
  if (DW == 0) return false;
  if (Source.GetPixelFormat() == pf1bit && (DW < W || DH < H)) {
    Thumb.Recreate(DW, DH, pf24bit);
    _SubResample1bitFiltered(Source, 0, 0, W - 1, H - 1, Thumb);
    return true;
  }
  const TBitmap* Src = &Source;
  TBitmap Converted;
  if (Source.GetPixelFormat() != pf24bit && Source.GetPixelFormat() != pf1bit) {
    Converted.Assign(Source);
    Converted.SetPixelFormat(pf24bit);
    Src = &Converted;
  }
  if (Filter == rfNone || W < 2 || H < 2 || Src->GetPixelFormat() != pf24bit) {
    Thumb.Recreate(DW, DH, Src->GetPixelFormat());
    if (Src->GetPixelFormat() == pf1bit) Thumb.SetPalette(Src->GetPalette());
    _QLBmpStretch(*Src, Thumb);
    return true;
  }
  Thumb.Recreate(DW, DH, pf24bit);
  // Normalised: a flat area stays flat in the thumbnail, whatever the reduction.
  _ResampleRect(*Src, Rect(0, 0, W, H), Thumb, Filter, true);
  return true;
}

TQuilloMView::TQuilloMView(TComponent* AOwner)
    : TQLView(AOwner),
      FStore(std::make_unique<TQLVirtualDIBList>()),
      FIO(std::make_unique<TQuilloIO>()) {
  SetBounds(0, 0, 180, 90);
  SetTabStop(true);
}

TQuilloMView::~TQuilloMView() {
  FDestroying = true;
  // Workers first: nothing may arrive into a half-destroyed view.
  FLoader.reset();
  KillTimer(kPlayTimer);
  DeselectNU();
}

TQuilloMView::TImageRec* TQuilloMView::Rec(int32_t Idx) const {
  if (Idx < 0 || Idx >= GetImageCount()) return nullptr;
  return FImages[static_cast<size_t>(Idx)].get();
}

// ---------------------------------------------------------------------------------------------
// Images

int32_t TQuilloMView::InsertRecord(int32_t Idx) {
  SetPlaying(false);
  auto R = std::make_unique<TImageRec>();
  R->Background = GetBackground();
  R->Serial = FNextSerial++;
  if (Idx < 0) Idx = 0;
  if (Idx >= GetImageCount()) {
    FImages.push_back(std::move(R));
    Idx = GetImageCount() - 1;
  } else {
    FImages.insert(FImages.begin() + Idx, std::move(R));
    // The selection stays with its image (and its lent bitmap), which moved one place on.
    if (FSelectedItem >= Idx) ++FSelectedItem;
    if (FMarkAnchor >= Idx) ++FMarkAnchor;
  }
  FLastOp = 1;
  FLastOpIdx = Idx;
  return Idx;
}

void TQuilloMView::InsertImageEx(int32_t Idx) {
  InsertRecord(Idx);
  CallBitmapChangeEvents();
  Update();
}

void TQuilloMView::InsertImage(int32_t Idx) {
  SetSelectedItemNU(InsertRecord(Idx));
  FLastOpIdx = FSelectedItem;
  CallBitmapChangeEvents();
  Update();
}

int32_t TQuilloMView::AppendImage() {
  InsertImage(GetImageCount());
  return GetImageCount() - 1;
}

void TQuilloMView::DropStored(TImageRec& R) {
  if (!R.Image) return;
  if (FSelectedItem >= 0 && Rec(FSelectedItem) == &R) FSelectedBitmap = nullptr;
  FStore->Delete(R.Image);
  R.Image = nullptr;
}

void TQuilloMView::StoreImage(TImageRec& R, const TBitmap& Bitmap, bool Reduce) {
  const bool Selected = FSelectedItem >= 0 && Rec(FSelectedItem) == &R;
  DropStored(R);
  R.Failed = false;
  if (Bitmap.Empty()) return;
  if (Reduce && FStoreType == qltThumb) {
    TBitmap Thumb;
    if (QLMakeThumbnail(Bitmap, FThumbWidth, FThumbHeight, FThumbFilter, Thumb))
      R.Image = FStore->AddBitmap(Thumb);
  } else if (StorableFormat(Bitmap)) {
    R.Image = FStore->AddBitmap(Bitmap);
  } else {
    TBitmap B;
    B.Assign(Bitmap);
    B.SetPixelFormat(pf24bit);
    R.Image = FStore->AddBitmap(B);
  }
  if (Selected && R.Image) FSelectedBitmap = FStore->GetBitmap(R.Image);
}

void TQuilloMView::SetImageEx(int32_t Idx, const TBitmap& Bitmap) {
  if (TImageRec* R = Rec(Idx)) StoreImage(*R, Bitmap, true);
}

void TQuilloMView::SetImage(int32_t Idx, const TBitmap& Bitmap) {
  SetImageEx(Idx, Bitmap);
  Update();
}

void TQuilloMView::SetImageRect(int32_t Idx, const TBitmap& Bitmap, int32_t X1, int32_t Y1,
                                int32_t X2, int32_t Y2) {
  TImageRec* R = Rec(Idx);
  if (!R || Bitmap.Empty()) return;
  X1 = std::clamp(X1, 0, Bitmap.GetWidth() - 1);
  X2 = std::clamp(X2, 0, Bitmap.GetWidth() - 1);
  Y1 = std::clamp(Y1, 0, Bitmap.GetHeight() - 1);
  Y2 = std::clamp(Y2, 0, Bitmap.GetHeight() - 1);
  if (X2 < X1) std::swap(X1, X2);
  if (Y2 < Y1) std::swap(Y1, Y2);
  const bool Selected = Idx == FSelectedItem;
  DropStored(*R);
  if (StorableFormat(Bitmap)) {
    R->Image = FStore->AddBitmapRect(Bitmap, X1, Y1, X2 - X1 + 1, Y2 - Y1 + 1);
  } else {
    TBitmap B;
    B.Assign(Bitmap);
    B.SetPixelFormat(pf24bit);
    R->Image = FStore->AddBitmapRect(B, X1, Y1, X2 - X1 + 1, Y2 - Y1 + 1);
  }
  if (Selected && R->Image) FSelectedBitmap = FStore->GetBitmap(R->Image);
  Update();
}

bool TQuilloMView::SetImageFromFile(int32_t Idx, const std::string& FileName) {
  TImageRec* R = Rec(Idx);
  if (!R) return false;
  TBitmap B(1, 1, pf24bit);
  FIO->SetAttachedBitmap(&B);
  FIO->SetBackground(R->Background);
  FIO->OnProgress = OnIOProgress;
  FIO->IOParams().JpegScale = ioJPEG_FULLSIZE;
  bool Ok = false;
  try {
    FIO->LoadFromFile(FileName);
    Ok = !FIO->Aborting && !B.Empty();
  } catch (const Exception&) {
    Ok = false;
  }
  FIO->SetAttachedBitmap(nullptr);
  FIO->OnProgress = nullptr;
  if (Ok) {
    R->Background = FIO->GetBackground();
    SetImageEx(Idx, B);
  }
  Update();
  return Ok;
}

bool TQuilloMView::DeleteImageNU(int32_t Idx) {
  SetPlaying(false);
  if (Idx < 0 || Idx >= GetImageCount()) return false;
  const int32_t OldSel = FSelectedItem;
  DeselectNU();
  TImageRec& R = *FImages[static_cast<size_t>(Idx)];
  if (R.Image) FStore->Delete(R.Image);
  FImages.erase(FImages.begin() + Idx);
  int32_t NewSel = OldSel;
  if (OldSel == Idx && Idx == GetImageCount())
    NewSel = GetImageCount() - 1;
  else if (Idx < OldSel)
    NewSel = OldSel - 1;
  if (OldSel >= 0) SetSelectedItemNU(NewSel);
  FLastOp = 2;
  FLastOpIdx = Idx;
  CallBitmapChangeEvents();
  return true;
}

void TQuilloMView::DeleteImage(int32_t Idx) {
  if (DeleteImageNU(Idx)) Update();
}

void TQuilloMView::MoveImage(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex < 0 || CurIndex >= GetImageCount() || NewIndex < 0 || CurIndex == NewIndex) return;
  SetPlaying(false);
  const int32_t Sel = FSelectedItem;
  DeselectNU();
  auto R = std::move(FImages[static_cast<size_t>(CurIndex)]);
  FImages.erase(FImages.begin() + CurIndex);
  if (NewIndex >= GetImageCount())
    FImages.push_back(std::move(R));
  else
    FImages.insert(FImages.begin() + NewIndex, std::move(R));
  SetSelectedItemNU(Sel);
  Update();
}

void TQuilloMView::Clear() {
  SetPlaying(false);
  DeselectNU();
  FImages.clear();
  FStore = std::make_unique<TQLVirtualDIBList>();
  Update();
}

int32_t TQuilloMView::GetImageWidth(int32_t Idx) {
  const TImageRec* R = Rec(Idx);
  return R && R->Image ? FStore->GetImageWidth(R->Image) : 0;
}

int32_t TQuilloMView::GetImageHeight(int32_t Idx) {
  const TImageRec* R = Rec(Idx);
  return R && R->Image ? FStore->GetImageHeight(R->Image) : 0;
}

int32_t TQuilloMView::GetImageX(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->X : 0;
}
int32_t TQuilloMView::GetImageY(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->Y : 0;
}
int32_t TQuilloMView::GetImageRow(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->Row : 0;
}
int32_t TQuilloMView::GetImageCol(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->Col : 0;
}
TColor TQuilloMView::GetImageBackground(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->Background : 0;
}
void TQuilloMView::SetImageBackground(int32_t Idx, TColor Color) {
  if (TImageRec* R = Rec(Idx)) {
    R->Background = Color;
    Update();
  }
}
std::string TQuilloMView::GetImageFileName(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->FileName : std::string();
}
void TQuilloMView::SetImageFileName(int32_t Idx, const std::string& FileName) {
  if (TImageRec* R = Rec(Idx)) {
    R->FileName = FileName;
    R->ID = -1;
    R->Failed = false;
  }
}
int32_t TQuilloMView::GetImageID(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->ID : -1;
}
void TQuilloMView::SetImageID(int32_t Idx, int32_t ID) {
  if (TImageRec* R = Rec(Idx)) {
    R->ID = ID;
    R->FileName.clear();
    R->Failed = false;
  }
}
int32_t TQuilloMView::GetImageDelayTime(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R ? R->DelayTime : 0;
}
void TQuilloMView::SetImageDelayTime(int32_t Idx, int32_t Milliseconds) {
  if (TImageRec* R = Rec(Idx)) R->DelayTime = Milliseconds;
}
bool TQuilloMView::IsImageLoaded(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R && R->Image;
}

int32_t TQuilloMView::GetImageVisibility(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  if (!R) return 0;
  const int32_t L = R->X - FViewX, T = R->Y - FViewY;
  return _RectPRect(0, 0, GetClientWidth() - 1, GetClientHeight() - 1, L, T, L + FThumbWidth - 1,
                    T + FThumbHeight - 1);
}

void TQuilloMView::PrepareSpaceFor(int32_t Width, int32_t Height, int32_t BitsPerPixel,
                                   int32_t Count) {
  FStore->PrepareSpaceFor(Width, Height, BitsPerPixel, Count);
}

int32_t TQuilloMView::GetLastOp() {
  const int32_t Op = FLastOp;
  FLastOp = 0;
  return Op;
}

bool TQuilloMView::ObtainImage(int32_t Idx) {
  TImageRec* R = Rec(Idx);
  if (!R) return false;
  if (R->ID >= 0 && OnImageIDRequest) {
    TBitmap* B = nullptr;
    OnImageIDRequest(this, R->ID, B);
    if (B) StoreImage(*R, *B, true);
    return true;
  }
  if (R->FileName.empty()) return true;
  TBitmap B(1, 1, pf24bit);
  FIO->SetAttachedBitmap(&B);
  FIO->SetBackground(R->Background);
  FIO->OnProgress = OnIOProgress;
  TIOParamsVals& P = FIO->IOParams();
  if (FStoreType == qltThumb) {
    P.JpegScale = ioJPEG_AUTOCALC;
    P.Width = FThumbWidth;
    P.Height = FThumbHeight;
  } else {
    P.JpegScale = ioJPEG_FULLSIZE;
  }
  bool Ok = false;
  try {
    FIO->LoadFromFile(R->FileName);
    Ok = !FIO->Aborting;
  } catch (const Exception&) {
    // A file that cannot be opened is a failed load like any other.
    Ok = false;
  }
  FIO->SetAttachedBitmap(nullptr);
  FIO->OnProgress = nullptr;
  if (!Ok) return false;
  R->Background = FIO->GetBackground();
  StoreImage(*R, B, true);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Selection

void TQuilloMView::SetSelectedItemNU(int32_t Idx) {
  if (FPlaying || Idx < 0 || Idx >= GetImageCount()) return;
  if (FSelectedBitmap) FStore->ReleaseBitmap(FSelectedBitmap, true);
  FSelectedBitmap = nullptr;
  if (FSelectedItem >= 0 && FSelectedItem != Idx) {
    // A plain selection keeps only the new image marked; SetMarked and the range calls mark
    // more after it.
    for (auto& R : FImages) R->Marked = false;
  }
  FSelectedItem = Idx;
  FImages[static_cast<size_t>(Idx)]->Marked = true;
  if (!FExtending) FMarkAnchor = Idx;
  FSelectedBitmap = GetBitmap(Idx);
}

void TQuilloMView::SetSelectedItem(int32_t Idx) {
  if (FPlaying) return;
  SetSelectedItemNU(Idx);
  Update();
  if (OnImageSelect) OnImageSelect(this, FSelectedItem);
}

void TQuilloMView::DeselectNU() {
  if (FSelectedBitmap && FStore) FStore->ReleaseBitmap(FSelectedBitmap, true);
  FSelectedBitmap = nullptr;
  FSelectedItem = -1;
}

void TQuilloMView::Deselect() {
  DeselectNU();
  Update();
}

TBitmap* TQuilloMView::GetBitmap(int32_t Idx) {
  TImageRec* R = Rec(Idx);
  if (!R) return nullptr;
  if (!R->Image) ObtainImage(Idx);
  return R->Image ? FStore->GetBitmap(R->Image) : nullptr;
}

void TQuilloMView::ReleaseBitmap(int32_t Idx) {
  TImageRec* R = Rec(Idx);
  if (R && R->Image) FStore->ReleaseBitmapByImage(R->Image, true);
}

TBitmap* TQuilloMView::GetFBitmap() {
  return FSelectedItem >= 0 ? FSelectedBitmap : nullptr;
}

void TQuilloMView::CenterSelected() {
  if (const TImageRec* R = Rec(FSelectedItem))
    SetViewXY(R->X - (GetClientWidth() - FThumbWidth) / 2,
              R->Y - (GetClientHeight() - FThumbHeight) / 2);
}

void TQuilloMView::CenterFrame() {
  if (FSelectedItem < 0) return;
  if (const TImageRec* R = Rec(FVisibleFrame))
    SetViewXY(R->X - (GetClientWidth() - FThumbWidth) / 2,
              R->Y - (GetClientHeight() - FThumbHeight) / 2);
}

bool TQuilloMView::IsMarked(int32_t Idx) const {
  const TImageRec* R = Rec(Idx);
  return R && R->Marked;
}

void TQuilloMView::SetMarked(int32_t Idx, bool Marked) {
  TImageRec* R = Rec(Idx);
  if (!R || (Idx == FSelectedItem && !Marked)) return;
  R->Marked = Marked;
  Invalidate();
}

std::vector<int32_t> TQuilloMView::GetMarkedItems() const {
  std::vector<int32_t> Out;
  for (int32_t I = 0; I < GetImageCount(); ++I)
    if (FImages[static_cast<size_t>(I)]->Marked) Out.push_back(I);
  return Out;
}

void TQuilloMView::ClearMarks() {
  for (int32_t I = 0; I < GetImageCount(); ++I)
    FImages[static_cast<size_t>(I)]->Marked = I == FSelectedItem;
  Invalidate();
}

void TQuilloMView::MarkRange(int32_t From, int32_t To) {
  if (From > To) std::swap(From, To);
  for (int32_t I = std::max(From, 0); I <= std::min(To, GetImageCount() - 1); ++I)
    FImages[static_cast<size_t>(I)]->Marked = true;
}

bool TQuilloMView::SearchFileName(const std::string& Prefix) {
  const int32_t N = GetImageCount();
  if (N == 0 || Prefix.empty()) return false;
  auto Lower = [](std::string S) {
    for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    return S;
  };
  const std::string Want = Lower(Prefix);
  const int32_t Start = std::max(FSelectedItem, 0);
  for (int32_t K = 0; K < N; ++K) {
    const int32_t I = (Start + K) % N;
    const std::string& F = FImages[static_cast<size_t>(I)]->FileName;
    if (F.empty()) continue;
    const std::string Name = Lower(std::filesystem::path(F).filename().string());
    if (Name.compare(0, Want.size(), Want) == 0) {
      SetSelectedItem(I);
      if (GetImageVisibility(I) != 2) CenterSelected();
      return true;
    }
  }
  return false;
}

int32_t TQuilloMView::GetColumns() const {
  if (FGridWidth != -1) return FGridWidth;
  return (GetClientWidth() - FHorizBorder) / (FHorizBorder + FThumbWidth);
}

int32_t TQuilloMView::VisibleRows() const {
  return (GetClientHeight() - FVertBorder) / (FVertBorder + FThumbHeight);
}

void TQuilloMView::BottomRule() {
  const TImageRec* R = Rec(FSelectedItem);
  if (!R || GetImageVisibility(FSelectedItem) == 2) return;
  SetViewY(R->Y + FThumbHeight + FVertBorder - GetClientHeight());
  if (GetImageVisibility(FSelectedItem) != 2)
    SetViewX(R->X + FThumbWidth + FHorizBorder - GetClientWidth());
}

void TQuilloMView::SelectSeek(TQLSeek Key) {
  const int32_t N = GetImageCount();
  if (N == 0) return;
  const int32_t G = GetColumns(), Rows = VisibleRows();
  const int32_t Sel = FSelectedItem;
  const bool Has = Sel >= 0;
  auto Visible = [&] { return GetImageVisibility(FSelectedItem) == 2; };
  auto UpRule = [&] {
    const TImageRec* R = Rec(FSelectedItem);
    if (!R || Visible()) return;
    SetViewY(R->Y - FVertBorder);
    if (!Visible()) SetViewX(R->X - FHorizBorder);
  };
  switch (Key) {
    case iskLeft:
      if (Has) SetSelectedItem(Sel - 1);
      if (const TImageRec* R = Rec(FSelectedItem); R && !Visible())
        SetViewXY(R->X - FHorizBorder, R->Y - FVertBorder);
      break;
    case iskRight:
      if (Has) SetSelectedItem(Sel + 1);
      if (const TImageRec* R = Rec(FSelectedItem); R && !Visible())
        SetViewXY(R->X + FThumbWidth + FHorizBorder - GetClientWidth(),
                  R->Y + FThumbHeight + FVertBorder - GetClientHeight());
      break;
    case iskUp:
      if (Has) SetSelectedItem(FGridWidth != 0 ? std::max(Sel - G, 0) : Sel - 1);
      UpRule();
      break;
    case iskPagUp:
      if (Has) SetSelectedItem(Sel - G * Rows);
      UpRule();
      break;
    case iskFirst:
      SetSelectedItem(0);
      if (!Visible()) SetViewXY(0, 0);
      break;
    case iskDown:
      if (Has) SetSelectedItem(FGridWidth != 0 ? std::min(Sel + G, N - 1) : Sel + 1);
      BottomRule();
      break;
    case iskLast:
      SetSelectedItem(N - 1);
      BottomRule();
      break;
    case iskPagDown:
      if (Has) SetSelectedItem(Sel + G * Rows);
      BottomRule();
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// View

void TQuilloMView::GetMaxViewXY(int32_t& MaxX, int32_t& MaxY) const {
  MaxX = std::max(FExtentX - GetClientWidth(), 0);
  MaxY = std::max(FExtentY - GetClientHeight(), 0);
}

void TQuilloMView::SetViewXYImpl(int32_t X, int32_t Y, bool SetX, bool SetY) {
  int32_t MX, MY;
  GetMaxViewXY(MX, MY);
  X = SetX ? std::clamp(X, 0, MX) : FViewX;
  Y = SetY ? std::clamp(Y, 0, MY) : FViewY;
  if (X == FViewX && Y == FViewY) return;
  FViewX = X;
  FViewY = Y;
  Invalidate();
  if (FScrollBars == ssHorizontal || FScrollBars == ssBoth)
    SetScrollPos(sbHorizontal, QLTrunc(FViewX / FHScale));
  if (FScrollBars == ssVertical || FScrollBars == ssBoth)
    SetScrollPos(sbVertical, QLTrunc(FViewY / FVScale));
  Schedule();
}

void TQuilloMView::SetViewX(int32_t X) {
  SetViewXYImpl(X, 0, true, false);
}
void TQuilloMView::SetViewY(int32_t Y) {
  SetViewXYImpl(0, Y, false, true);
}
void TQuilloMView::SetViewXY(int32_t X, int32_t Y) {
  SetViewXYImpl(X, Y, true, true);
}

void TQuilloMView::UpdateCoords() {
  int32_t G = GetColumns();
  int32_t C = 0, Row = 0, MaxX = 0, MaxY = 0;
  for (auto& R : FImages) {
    R->X = FHorizBorder + C * (FThumbWidth + FHorizBorder);
    R->Y = FVertBorder + Row * (FThumbHeight + FVertBorder);
    R->Row = Row;
    R->Col = C;
    MaxX = std::max(MaxX, R->X);
    MaxY = std::max(MaxY, R->Y);
    ++C;
    if (FDisplayMode == mdSingle) {
      C = Row = 0;
    } else if (G > 0 && C >= G) {
      C = 0;
      ++Row;
    }
  }
  FExtentX = MaxX + FThumbWidth + FHorizBorder;
  FExtentY = MaxY + FThumbHeight + FVertBorder;
}

void TQuilloMView::Update() {
  if (FDestroying) return;
  // Showing or hiding a bar changes the client size, which changes the layout: settle it.
  for (int32_t Pass = 0; Pass < 4; ++Pass) {
    const int32_t CW = GetClientWidth(), CH = GetClientHeight();
    UpdateCoords();
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
      if (Max <= 0) {
        if (!FScrollBarsAlwaysVisible) {
          if (I.Visible) ShowScrollBar(Kind, false);
          return;
        }
        I.Visible = true;
        I.ArrowsEnabled = false;
      } else {
        Scale = (static_cast<double>(Client) + Max - 1) / 65536;
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
      Bar(sbHorizontal, MaxX, CW, FViewX, FHScale, FHParams);
    if (FScrollBars == ssVertical || FScrollBars == ssBoth)
      Bar(sbVertical, MaxY, CH, FViewY, FVScale, FVParams);
    if (CW == GetClientWidth() && CH == GetClientHeight()) break;
  }
  FLastClientW = GetClientWidth();
  FLastClientH = GetClientHeight();
  CallBitmapChangeEvents();
  Invalidate();
  Schedule();
}

void TQuilloMView::Resize() {
  TQLView::Resize();
  if (GetClientWidth() != FLastClientW || GetClientHeight() != FLastClientH) Update();
}

void TQuilloMView::UpdateImage(int32_t Idx) {
  Update();
  if (const TImageRec* R = Rec(Idx))
    InvalidateRect(Bounds(R->X - FViewX, R->Y - FViewY, FThumbWidth, FThumbHeight));
}

int32_t TQuilloMView::UnLockPaint() {
  if (FLock > 0) --FLock;
  if (FLock == 0) Update();
  return FLock;
}

int32_t TQuilloMView::NPUnLockPaint() {
  if (FLock > 0) --FLock;
  return FLock;
}

int32_t TQuilloMView::ImageAtPos(int32_t X, int32_t Y) const {
  for (int32_t I = 0; I < GetImageCount(); ++I) {
    const TImageRec& R = *FImages[static_cast<size_t>(I)];
    const int32_t L = R.X - FViewX, T = R.Y - FViewY;
    // The row just below the cell counts as the cell's, as it always has.
    if (L <= X && X <= L + FThumbWidth - 1 && T <= Y && Y <= T + FThumbHeight) return I;
  }
  return -1;
}

void TQuilloMView::SetBackGround(TColor Color) {
  TQLView::SetBackGround(Color);
  Update();
}

void TQuilloMView::ImageChange() {
  if (OnImageChange) OnImageChange(this);
}

void TQuilloMView::ViewChange(int32_t Change) {
  if (OnViewChange) OnViewChange(this, Change);
}

// ---------------------------------------------------------------------------------------------
// Painting

void TQuilloMView::Paint() {
  if (FLock == 0) PaintTo(Canvas());
}

void TQuilloMView::PaintTo(TCanvas& Canvas) {
  PaintCells(Canvas);
  // Only what lies outside the excluded cells changes.
  Canvas.Brush().SetStyle(bsSolid);
  Canvas.Brush().SetColor(GetBackground());
  Canvas.FillRect(Rect(0, 0, GetClientWidth(), GetClientHeight()));
  Canvas.ClearClipRegion();
  if (OnDrawProgress && GetImageCount() > 1) OnDrawProgress(this, 100, 0);
}

void TQuilloMView::PaintCells(TCanvas& Canvas) {
restart:
  Canvas.ClearClipRegion();
  const int32_t Count = GetImageCount();
  const int32_t N = (FDisplayMode == mdSingle && Count > 0) ? 1 : Count;
  int32_t I = (FPlaying || FDisplayMode == mdSingle)
                  ? std::clamp(FVisibleFrame, 0, std::max(Count - 1, 0))
                  : 0;
  const int32_t W = GetWidth(), H = GetHeight();
  const int32_t BoxH = FThumbHeight - FBottomGap - FUpperGap;
  for (int32_t K = 0; K < N; ++K, I = (I + 1) % Count) {
    if (OnDrawProgress && N > 1) OnDrawProgress(this, QLTrunc(static_cast<double>(K) / N * 100), I);
    TImageRec& R = *FImages[static_cast<size_t>(I)];
    const int32_t Left = R.X - FViewX, Top = R.Y - FViewY;
    if (!_RectXRect(Left, Top, Left + FThumbWidth - 1, Top + FThumbHeight - 1, 0, 0, W - 1, H - 1))
      continue;
    // Decoded on the workers: the cell shows its background until the image arrives.
    if (!R.Image && !(FLoader && !R.FileName.empty() && !(R.ID >= 0 && OnImageIDRequest))) {
      if (!ObtainImage(I) && FRemoveCorrupted) {
        DeleteImageNU(I);
        UpdateCoords();
        goto restart;
      }
    }
    const TColor CellColor = FDrawImageBackground ? R.Background : GetBackground();
    Canvas.Brush().SetStyle(bsSolid);
    Canvas.Brush().SetColor(CellColor);
    if (R.Image) {
      const int32_t IW = FStore->GetImageWidth(R.Image), IH = FStore->GetImageHeight(R.Image);
      int32_t DW, DH;
      QLThumbnailSize(IW, IH, FThumbWidth, BoxH, DW, DH);
      const int32_t X = Left + (FThumbWidth - DW) / 2;
      const int32_t Y = Top + FUpperGap + (BoxH - DH) / 2;
      if (FStore->GetImageBitCount(R.Image) != 1 || (DW >= IW && DH >= IH)) {
        FStore->RenderTo(R.Image, Canvas, 0, X, Y, DW, DH, 0, 0, IW, IH);
      } else {
        TBitmap Full, Grey(DW, DH, pf24bit);
        FStore->CopyToBitmap(R.Image, Full);
        _SubResample1bitFiltered(Full, 0, 0, IW - 1, IH - 1, Grey);
        Canvas.Draw(X, Y, Grey);
      }
      Canvas.FillRect(Rect(Left, Top, X, Top + FThumbHeight));
      Canvas.FillRect(Rect(X + DW, Top, Left + FThumbWidth, Top + FThumbHeight));
      Canvas.FillRect(Rect(X, Top, X + DW, Y));
      Canvas.FillRect(Rect(X, Y + DH, X + DW, Top + FThumbHeight));
    } else {
      Canvas.FillRect(Rect(Left, Top, Left + FThumbWidth, Top + FThumbHeight));
    }
    if (OnImageDraw) OnImageDraw(this, I, Left, Top, Canvas);
    const bool Framed =
        FVisibleSelection && (I == FSelectedItem || (R.Marked && FSelectedItem >= 0));
    if (Framed) {
      Canvas.Pen().SetColor(FSelectionColor);
      Canvas.Pen().SetWidth(1);
      Canvas.Pen().SetStyle(psSolid);
      Canvas.Pen().SetMode(pmCopy);
      Canvas.Brush().SetStyle(bsClear);
      // Marked images other than the selected one get a one-pixel frame.
      const int32_t Wd = (I == FSelectedItem && Focused()) ? FSelectionWidth : 1;
      for (int32_t B = 1; B <= Wd; ++B)
        Canvas.Rectangle(Left - B, Top - B, Left + FThumbWidth + B, Top + FThumbHeight + B);
      Canvas.ExcludeClipRect(
          Rect(Left - Wd, Top - Wd, Left + FThumbWidth + Wd, Top + FThumbHeight + Wd));
    } else {
      Canvas.ExcludeClipRect(Rect(Left, Top, Left + FThumbWidth, Top + FThumbHeight));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Playing

void TQuilloMView::SetPlaying(bool On) {
  if (On == FPlaying) return;
  if (On) {
    FSavedMode = FDisplayMode;
    FSavedSelected = FSelectedItem;
    DeselectNU();
    FPlaying = true;
    PlayFrame();
  } else {
    FPlaying = false;
    PlayFrame();
    FDisplayMode = FSavedMode;
    Update();
    SetSelectedItem(FSavedSelected);
  }
}

void TQuilloMView::SetVisibleFrame(int32_t Idx) {
  FVisibleFrame = Idx;
  Update();
}

void TQuilloMView::PlayFrame() {
  if (FInPlayFrame || FDestroying) return;
  FInPlayFrame = true;
  struct TGuard {
    bool& Flag;
    ~TGuard() { Flag = false; }
  } Guard{FInPlayFrame};
  if (FTimerOn) {
    KillTimer(kPlayTimer);
    FTimerOn = false;
  }
  if (!FPlaying) return;
  if (FDisplayMode != mdSingle) {
    FDisplayMode = mdSingle;
    Update();
  }
  FVisibleFrame = std::min(FVisibleFrame, GetImageCount() - 1);
  if (FVisibleFrame < 0) return;
  const int32_t Shown = FVisibleFrame;
  Invalidate();
  UpdateSurface();
  if (FVisibleFrame == GetImageCount() - 1) {
    FVisibleFrame = 0;
    CallBitmapChangeEvents();
    if (!FPlayLoop) {
      // Ending by itself ends as SetPlaying(false) does: the mode and the selection come back.
      FPlaying = false;
      FDisplayMode = FSavedMode;
      Update();
      SetSelectedItem(FSavedSelected);
      return;
    }
  } else {
    ++FVisibleFrame;
  }
  SetTimer(kPlayTimer, std::max(GetImageDelayTime(Shown), 10));
  FTimerOn = true;
}

void TQuilloMView::TimerTick(int32_t Id) {
  if (Id == kPlayTimer) PlayFrame();
  TQLView::TimerTick(Id);
}

void TQuilloMView::SetDisplayMode(TQLMDisplayMode M) {
  if (FPlaying) {
    FSavedMode = M;
    return;
  }
  FDisplayMode = M;
  Update();
}

// ---------------------------------------------------------------------------------------------
// Properties

void TQuilloMView::SetScrollBars(TScrollStyle S) {
  FScrollBars = S;
  if (GetParent()) {
    if (S == ssHorizontal || S == ssBoth) ShowScrollBar(sbHorizontal, false);
    if (S == ssVertical || S == ssBoth) ShowScrollBar(sbVertical, false);
  }
  Update();
}

void TQuilloMView::SetScrollBarsAlwaysVisible(bool V) {
  FScrollBarsAlwaysVisible = V;
  Update();
}

#define QUILLO_SETTER(Name, Field, Type) \
  void TQuilloMView::Set##Name(Type V) { \
    Field = V;                           \
    Update();                            \
  }
QUILLO_SETTER(ThumbWidth, FThumbWidth, int32_t)
QUILLO_SETTER(ThumbHeight, FThumbHeight, int32_t)
QUILLO_SETTER(HorizBorder, FHorizBorder, int32_t)
QUILLO_SETTER(VertBorder, FVertBorder, int32_t)
QUILLO_SETTER(BottomGap, FBottomGap, int32_t)
QUILLO_SETTER(UpperGap, FUpperGap, int32_t)
QUILLO_SETTER(VisibleSelection, FVisibleSelection, bool)
QUILLO_SETTER(GridWidth, FGridWidth, int32_t)
QUILLO_SETTER(SelectionWidth, FSelectionWidth, int32_t)
QUILLO_SETTER(SelectionColor, FSelectionColor, TColor)
QUILLO_SETTER(DrawImageBackground, FDrawImageBackground, bool)
#undef QUILLO_SETTER

// ---------------------------------------------------------------------------------------------
// Input

void TQuilloMView::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (CanFocus()) SetFocus();
  FPressX = X;
  FPressY = Y;
  FViewX0 = FViewX;
  FViewY0 = FViewY;
  FButtonDown = true;
  TQLView::MouseDown(Button, Shift, X, Y);
}

void TQuilloMView::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  if (FButtonDown && (FMouseInteract & mmiScroll))
    SetViewXY(FViewX0 + FPressX - X, FViewY0 + FPressY - Y);
  TQLView::MouseMove(Shift, X, Y);
}

void TQuilloMView::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  const bool WasDown = FButtonDown;
  FButtonDown = false;
  if (!FPlaying && WasDown) {
    if (FMouseInteract & mmiSelect) {
      const int32_t Idx = ImageAtPos(X, Y);
      if (Idx >= 0 && (Shift & ssCtrl) && Idx != FSelectedItem) {
        // Ctrl toggles the image's mark and leaves the selection where it is.
        SetMarked(Idx, !IsMarked(Idx));
        if (FSelectedItem < 0) SetSelectedItemNU(Idx);
        Update();
      } else if (Idx >= 0 && Idx != FSelectedItem) {
        FExtending = (Shift & ssShift) && FSelectedItem >= 0;
        SetSelectedItemNU(Idx);
        if (FExtending) MarkRange(FMarkAnchor, Idx);
        FExtending = false;
        if (FVisibleSelection) Update();
        if (OnImageSelect) OnImageSelect(this, Idx);
        CallBitmapChangeEvents();
      }
    }
    if (FMouseInteract & mmiScroll) SetViewXY(FViewX0 + FPressX - X, FViewY0 + FPressY - Y);
  }
  TQLView::MouseUp(Button, Shift, X, Y);
}

bool TQuilloMView::DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) {
  if (TQLView::DoMouseWheel(Shift, WheelDelta, MousePos)) return true;
  const int32_t D = WheelDelta > 0 ? -1 : 1;
  SetViewY(FViewY + D * (FThumbHeight + FVertBorder));
  return true;
}

void TQuilloMView::Scroll(bool Horizontal, TScrollCode Code, int32_t Pos) {
  const TQLScrollBarParams& P = Horizontal ? FHParams : FVParams;
  const int32_t Cur = Horizontal ? FViewX : FViewY;
  const int32_t Client = Horizontal ? GetClientWidth() : GetClientHeight();
  const double Scale = Horizontal ? FHScale : FVScale;
  const int32_t Step = Horizontal ? FThumbWidth + FHorizBorder : FThumbHeight + FVertBorder;
  const int32_t Line = P.LineStep == -1 ? Step : P.LineStep;
  const int32_t Page = P.PageStep == -1 ? Client : P.PageStep;
  int32_t MX, MY, New = Cur;
  GetMaxViewXY(MX, MY);
  if (!QLScrollTarget(Code, Pos, Cur, Line, Page, Scale, P, Horizontal ? MX : MY, New)) return;
  if (Horizontal)
    SetViewX(New);
  else
    SetViewY(New);
}

void TQuilloMView::HScroll(TScrollCode Code, int32_t Pos) {
  Scroll(true, Code, Pos);
}
void TQuilloMView::VScroll(TScrollCode Code, int32_t Pos) {
  Scroll(false, Code, Pos);
}

bool TQuilloMView::WantsKey(uint16_t Key) const {
  return (Key >= VK_PRIOR && Key <= VK_DOWN) || TQLView::WantsKey(Key);
}

void TQuilloMView::KeyDown(uint16_t& Key, TShiftState Shift) {
  TQLView::KeyDown(Key, Shift);
  if (FPlaying || Key == 0) return;
  FExtending = (Shift & ssShift) && FSelectedItem >= 0;
  bool Handled = true;
  switch (Key) {
    case VK_PRIOR:
      SelectSeek(iskPagUp);
      break;
    case VK_NEXT:
      SelectSeek(iskPagDown);
      break;
    case VK_END:
      SelectSeek(iskLast);
      break;
    case VK_HOME:
      SelectSeek(iskFirst);
      break;
    case VK_LEFT:
      SelectSeek(iskLeft);
      break;
    case VK_UP:
      SelectSeek(iskUp);
      break;
    case VK_RIGHT:
      SelectSeek(iskRight);
      break;
    case VK_DOWN:
      SelectSeek(iskDown);
      break;
    default:
      Handled = false;
  }
  // Shift with a movement key marks from where the range started to where the selection is.
  if (Handled && FExtending && FSelectedItem >= 0) MarkRange(FMarkAnchor, FSelectedItem);
  FExtending = false;
  if (Handled) Update();
}

void TQuilloMView::KeyPress(char& Key) {
  TQLView::KeyPress(Key);
  if (FPlaying || static_cast<unsigned char>(Key) < 32) return;
  const int64_t Now = Application().Now();
  if (Now - FSearchTime > kSearchPause) FSearch.clear();
  FSearchTime = Now;
  FSearch += Key;
  // Typing the same letter again steps to the next name that starts with it.
  if (FSearch.size() == 2 && FSearch[0] == FSearch[1] && FSelectedItem >= 0) {
    FSearch.resize(1);
    const int32_t N = GetImageCount();
    for (int32_t K = 1; K < N; ++K) {
      const int32_t I = (FSelectedItem + K) % N;
      const std::string Name =
          std::filesystem::path(FImages[static_cast<size_t>(I)]->FileName).filename().string();
      if (!Name.empty() && std::tolower(static_cast<unsigned char>(Name[0])) ==
                               std::tolower(static_cast<unsigned char>(FSearch[0]))) {
        SetSelectedItem(I);
        if (GetImageVisibility(I) != 2) CenterSelected();
        return;
      }
    }
    return;
  }
  SearchFileName(FSearch);
}

void TQuilloMView::DoEnter() {
  TQLView::DoEnter();
  Invalidate();
}

void TQuilloMView::DoExit() {
  TQLView::DoExit();
  Invalidate();
}

// ---------------------------------------------------------------------------------------------
// Worker-thread decoding

void TQuilloMView::SetAsyncLoading(bool On, int32_t Threads) {
  FLoader.reset();
  FAsync = On;
  if (On) FLoader = std::make_unique<TQLThumbLoader>(*this, Threads);
  Schedule();
}

int32_t TQuilloMView::GetPendingLoads() const {
  return FLoader ? FLoader->Pending() : 0;
}

int32_t TQuilloMView::IndexOfSerial(uint64_t Serial) const {
  for (int32_t I = 0; I < GetImageCount(); ++I)
    if (FImages[static_cast<size_t>(I)]->Serial == Serial) return I;
  return -1;
}

void TQuilloMView::Schedule() {
  if (!FLoader || FDestroying) return;
  // Insertions do not lay the grid out again; the wanted cells must be found where they are.
  UpdateCoords();
  const int32_t Count = GetImageCount();
  std::vector<TQLThumbJob> Jobs;
  auto Want = [&](int32_t I) {
    const TImageRec& R = *FImages[static_cast<size_t>(I)];
    if (R.Image || R.Failed || R.FileName.empty() || (R.ID >= 0 && OnImageIDRequest)) return;
    Jobs.push_back(TQLThumbJob{R.Serial, R.FileName, R.Background});
  };
  // Visible cells first, in display order; then the ones after the last visible cell (the
  // direction of reading), then the ones before the first.
  const int32_t W = GetClientWidth(), H = GetClientHeight();
  int32_t First = -1, Last = -1;
  if (FDisplayMode == mdSingle) {
    if (Count > 0) First = Last = std::clamp(FVisibleFrame, 0, Count - 1);
  } else {
    for (int32_t I = 0; I < Count; ++I) {
      const TImageRec& R = *FImages[static_cast<size_t>(I)];
      const int32_t L = R.X - FViewX, T = R.Y - FViewY;
      if (_RectXRect(L, T, L + FThumbWidth - 1, T + FThumbHeight - 1, 0, 0, W - 1, H - 1)) {
        if (First < 0) First = I;
        Last = I;
        Want(I);
      }
    }
  }
  if (First < 0) First = Last = 0;
  if (FDisplayMode == mdSingle && Count > 0) Want(First);
  const int32_t Ahead = FPrefetch < 0 ? Count : FPrefetch;
  for (int32_t I = Last + 1; I < Count && I <= Last + Ahead; ++I) Want(I);
  const int32_t Behind = FPrefetch < 0 ? Count : FPrefetch / 4;
  for (int32_t I = First - 1; I >= 0 && I >= First - Behind; --I) Want(I);
  FLoader->SetJobs(std::move(Jobs), FStoreType == qltThumb, FThumbWidth, FThumbHeight,
                   FThumbFilter);
}

void TQuilloMView::Arrived(uint64_t Serial, std::unique_ptr<TBitmap> Thumb, TColor Background,
                           bool Ok) {
  const int32_t Idx = IndexOfSerial(Serial);
  TImageRec* R = Rec(Idx);
  if (!R || R->Image) return;
  if (!Ok || !Thumb) {
    R->Failed = true;
    if (FRemoveCorrupted) {
      DeleteImage(Idx);
      return;
    }
  } else {
    R->Background = Background;
    // Already reduced on the worker when the store keeps thumbnails.
    StoreImage(*R, *Thumb, false);
  }
  if (GetImageVisibility(Idx) > 0 || Idx == FSelectedItem) Invalidate();
}

}  // namespace quillo
