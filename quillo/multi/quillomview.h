// TQuilloMView: the thumbnail view. It shows many images as a grid of cells that scrolls, or
// one image at a time (single mode, also used to play the images as an animation). Images come
// in as bitmaps, as file names read when their cell first shows, or as application
// identifiers whose bitmap the application hands over on demand. They live in the thumbnail
// store; the selected image's bitmap is lent out by the store (GetFBitmap), so that the I/O and
// processing components attached to the view work on it, and written back when the selection
// moves.
//
// File names can be decoded on a pool of worker threads (SetAsyncLoading): the cells that show
// are wanted first, then the ones after them in scroll order; each decoded thumbnail is handed
// to the user-interface thread, and a cell shows its background until its image arrives.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "quillo/core/view.h"
#include "quillo/io/quilloio.h"
#include "quillo/multi/virtualdiblist.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/proc/geometry.h"
#include "quillo/view/quilloview.h"

namespace quillo {

class TQLThumbLoader;

// How images are kept: as given, or reduced to the cell size.
enum TQLStoreType : uint8_t { qltNormal, qltThumb };
enum TQLMDisplayMode : uint8_t { mdGrid, mdSingle };
enum TQLSeek : uint8_t {
  iskLeft,
  iskRight,
  iskUp,
  iskDown,
  iskFirst,
  iskLast,
  iskPagDown,
  iskPagUp
};

using TQLMMouseInteract = uint8_t;
constexpr TQLMMouseInteract mmiScroll = 1;
constexpr TQLMMouseInteract mmiSelect = 2;
using TQLMKeyInteract = uint8_t;
constexpr TQLMKeyInteract mkiMoveSelected = 1;

// The application supplies the bitmap of image ID (it keeps ownership; the view copies it).
using TQLImageIDRequestEvent = std::function<void(TObject* Sender, int32_t ID, TBitmap*& Bitmap)>;
using TQLImageDrawEvent =
    std::function<void(TObject* Sender, int32_t Idx, int32_t Left, int32_t Top, TCanvas& Canvas)>;
using TQLImageSelectEvent = std::function<void(TObject* Sender, int32_t Idx)>;
using TQLMProgressEvent = std::function<void(TObject* Sender, int32_t Per, int32_t Idx)>;

// The size an image of W x H takes in a box of BoxW x BoxH: scaled to fit (small images are
// enlarged), each side at least 1; (0, 0) when W or H is 0.
void QLThumbnailSize(int32_t W, int32_t H, int32_t BoxW, int32_t BoxH, int32_t& OutW,
                     int32_t& OutH);
// Source reduced (or enlarged) into Thumb at the size QLThumbnailSize gives for the box: 1-bit
// images through the filtered grey reduction when they shrink, others through the resampler
// with Filter (a plain stretch for rfNone or images below 2 x 2). False for an empty source.
bool QLMakeThumbnail(const TBitmap& Source, int32_t BoxW, int32_t BoxH, TResampleFilter Filter,
                     TBitmap& Thumb);

class TQuilloMView : public TQLView {
 public:
  explicit TQuilloMView(TComponent* AOwner = nullptr);
  ~TQuilloMView() override;

  // --- images ---------------------------------------------------------------------------------
  // A new empty record at Idx (appended when Idx >= count), selected.
  void InsertImage(int32_t Idx);
  // The same without selecting it.
  void InsertImageEx(int32_t Idx);
  int32_t AppendImage();
  void SetImage(int32_t Idx, const TBitmap& Bitmap);
  // Stores a copy of Bitmap (reduced to the cell with qltThumb) as image Idx, without updating.
  void SetImageEx(int32_t Idx, const TBitmap& Bitmap);
  // Stores the inclusive rectangle (corners limited to the bitmap) unreduced.
  void SetImageRect(int32_t Idx, const TBitmap& Bitmap, int32_t X1, int32_t Y1, int32_t X2,
                    int32_t Y2);
  // Loads the file at once, full size; false when it cannot be read.
  bool SetImageFromFile(int32_t Idx, const std::string& FileName);
  void DeleteImage(int32_t Idx);
  bool DeleteImageNU(int32_t Idx);
  void MoveImage(int32_t CurIndex, int32_t NewIndex);
  void Clear();
  int32_t GetImageCount() const { return static_cast<int32_t>(FImages.size()); }
  // Of the stored image; 0 when not loaded or out of range.
  int32_t GetImageWidth(int32_t Idx);
  int32_t GetImageHeight(int32_t Idx);
  int32_t GetImageX(int32_t Idx) const;
  int32_t GetImageY(int32_t Idx) const;
  int32_t GetImageRow(int32_t Idx) const;
  int32_t GetImageCol(int32_t Idx) const;
  TColor GetImageBackground(int32_t Idx) const;
  void SetImageBackground(int32_t Idx, TColor Color);
  std::string GetImageFileName(int32_t Idx) const;
  // Sets the ID to -1; the image is read when its cell shows.
  void SetImageFileName(int32_t Idx, const std::string& FileName);
  int32_t GetImageID(int32_t Idx) const;
  // Forgets the file name.
  void SetImageID(int32_t Idx, int32_t ID);
  int32_t GetImageDelayTime(int32_t Idx) const;
  void SetImageDelayTime(int32_t Idx, int32_t Milliseconds);
  // Whether image Idx is in the store.
  bool IsImageLoaded(int32_t Idx) const;
  // 0 not visible, 1 partly, 2 fully.
  int32_t GetImageVisibility(int32_t Idx) const;
  void PrepareSpaceFor(int32_t Width, int32_t Height, int32_t BitsPerPixel, int32_t Count);
  // The last operation (0 none, 1 insert, 2 delete), reset by reading it, and its index.
  int32_t GetLastOp();
  int32_t GetLastOpIdx() const { return FLastOpIdx; }
  TQLVirtualDIBList& Store() { return *FStore; }

  // --- selection ------------------------------------------------------------------------------
  int32_t GetSelectedItem() const { return FSelectedItem; }
  void SetSelectedItem(int32_t Idx);
  void SetSelectedItemNU(int32_t Idx);
  void Deselect();
  void DeselectNU();
  // Image Idx's bitmap lent by the store (loaded first when needed); none when it cannot be.
  TBitmap* GetBitmap(int32_t Idx);
  void ReleaseBitmap(int32_t Idx);
  TBitmap* GetFBitmap() override;
  void CenterSelected();
  void CenterFrame();
  void SelectSeek(TQLSeek Key);
  // Several images can be marked at once: Ctrl with a click toggles one, Shift with a click or
  // a key marks the range from the selected image. The selected image is always marked.
  bool IsMarked(int32_t Idx) const;
  void SetMarked(int32_t Idx, bool Marked);
  // The marked images in display order.
  std::vector<int32_t> GetMarkedItems() const;
  // Keeps only the selected image marked.
  void ClearMarks();
  // Selects the next image (from the selected one on, wrapping) whose file name's last part
  // starts with Prefix, ignoring case; false when none does. Typed characters search too.
  bool SearchFileName(const std::string& Prefix);

  // --- view -----------------------------------------------------------------------------------
  int32_t GetViewX() const { return FViewX; }
  int32_t GetViewY() const { return FViewY; }
  void SetViewX(int32_t X);
  void SetViewY(int32_t Y);
  void SetViewXY(int32_t X, int32_t Y);
  void GetMaxViewXY(int32_t& MaxX, int32_t& MaxY) const;
  int32_t GetExtentX() const { return FExtentX; }
  int32_t GetExtentY() const { return FExtentY; }
  // Columns as the layout computes them (GridWidth, or those that fit when it is -1).
  int32_t GetColumns() const;
  void Update() override;
  void UpdateCoords();
  void Paint() override;
  virtual void PaintTo(TCanvas& Canvas);
  void UpdateImage(int32_t Idx);
  void LockPaint() { ++FLock; }
  int32_t UnLockPaint();
  int32_t NPUnLockPaint();
  int32_t ImageAtPos(int32_t X, int32_t Y) const;
  void SetBackGround(TColor Color) override;

  // --- playing --------------------------------------------------------------------------------
  bool GetPlaying() const { return FPlaying; }
  void SetPlaying(bool On);
  void PlayFrame();
  int32_t GetVisibleFrame() const { return FVisibleFrame; }
  void SetVisibleFrame(int32_t Idx);
  bool GetPlayLoop() const { return FPlayLoop; }
  void SetPlayLoop(bool V) { FPlayLoop = V; }

  // --- properties -----------------------------------------------------------------------------
  TScrollStyle GetScrollBars() const { return FScrollBars; }
  virtual void SetScrollBars(TScrollStyle S);
  bool GetScrollBarsAlwaysVisible() const { return FScrollBarsAlwaysVisible; }
  void SetScrollBarsAlwaysVisible(bool V);
  TQLStoreType GetStoreType() const { return FStoreType; }
  void SetStoreType(TQLStoreType T) { FStoreType = T; }
  int32_t GetThumbWidth() const { return FThumbWidth; }
  void SetThumbWidth(int32_t V);
  int32_t GetThumbHeight() const { return FThumbHeight; }
  void SetThumbHeight(int32_t V);
  int32_t GetHorizBorder() const { return FHorizBorder; }
  void SetHorizBorder(int32_t V);
  int32_t GetVertBorder() const { return FVertBorder; }
  void SetVertBorder(int32_t V);
  int32_t GetBottomGap() const { return FBottomGap; }
  void SetBottomGap(int32_t V);
  int32_t GetUpperGap() const { return FUpperGap; }
  void SetUpperGap(int32_t V);
  bool GetVisibleSelection() const { return FVisibleSelection; }
  void SetVisibleSelection(bool V);
  TQLMMouseInteract GetMouseInteract() const { return FMouseInteract; }
  virtual void SetMouseInteract(TQLMMouseInteract M) { FMouseInteract = M; }
  TQLMKeyInteract GetKeyInteract() const { return FKeyInteract; }
  virtual void SetKeyInteract(TQLMKeyInteract K) { FKeyInteract = K; }
  TQLMDisplayMode GetDisplayMode() const { return FDisplayMode; }
  void SetDisplayMode(TQLMDisplayMode M);
  int32_t GetGridWidth() const { return FGridWidth; }
  void SetGridWidth(int32_t V);
  int32_t GetSelectionWidth() const { return FSelectionWidth; }
  void SetSelectionWidth(int32_t V);
  TColor GetSelectionColor() const { return FSelectionColor; }
  void SetSelectionColor(TColor C);
  bool GetRemoveCorrupted() const { return FRemoveCorrupted; }
  void SetRemoveCorrupted(bool V) { FRemoveCorrupted = V; }
  bool GetDrawImageBackground() const { return FDrawImageBackground; }
  void SetDrawImageBackground(bool V);
  TResampleFilter GetThumbnailResampleFilter() const { return FThumbFilter; }
  void SetThumbnailResampleFilter(TResampleFilter F) { FThumbFilter = F; }
  TQLScrollBarParams& VScrollBarParams() { return FVParams; }
  TQLScrollBarParams& HScrollBarParams() { return FHParams; }
  TQuilloIO& IO() { return *FIO; }

  // Worker-thread decoding of file names (off: each file is read when its cell is painted).
  // Threads 0 uses every core. Prefetch is how many images past the last visible one are
  // decoded ahead (-1: all of them); work for images outside that window is dropped.
  bool GetAsyncLoading() const { return FAsync; }
  void SetAsyncLoading(bool On, int32_t Threads = 0);
  int32_t GetPrefetch() const { return FPrefetch; }
  void SetPrefetch(int32_t Count) { FPrefetch = Count; }
  // Images whose decoding is queued or running.
  int32_t GetPendingLoads() const;

  // --- input ----------------------------------------------------------------------------------
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  bool DoMouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) override;
  void KeyDown(uint16_t& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;
  bool WantsKey(uint16_t Key) const override;
  void HScroll(TScrollCode Code, int32_t Pos) override;
  void VScroll(TScrollCode Code, int32_t Pos) override;
  void DoEnter() override;
  void DoExit() override;
  void TimerTick(int32_t Id) override;

  TViewChangeEvent OnViewChange;
  TQLImageIDRequestEvent OnImageIDRequest;
  TQLImageDrawEvent OnImageDraw;
  TQLImageSelectEvent OnImageSelect;
  TQLProgressEvent OnIOProgress;
  TQLMProgressEvent OnDrawProgress;
  TNotifyEvent OnImageChange;
  void ImageChange() override;

  static constexpr int32_t kPlayTimer = 1;

 protected:
  virtual void ViewChange(int32_t Change);
  void Resize() override;

 private:
  friend class TQLThumbLoader;
  struct TImageRec {
    TQLVirtualImageInfo* Image = nullptr;
    int32_t X = 0, Y = 0, Row = 0, Col = 0;
    TColor Background = clWhite;
    std::string FileName;
    int32_t ID = -1;
    int32_t DelayTime = 0;
    bool Marked = false;
    bool Failed = false;  // the asynchronous read failed; shown empty, tried again on demand
    uint64_t Serial = 0;
  };
  TImageRec* Rec(int32_t Idx) const;
  // Inserts an empty record; returns where it went.
  int32_t InsertRecord(int32_t Idx);
  bool ObtainImage(int32_t Idx);
  void StoreImage(TImageRec& R, const TBitmap& Bitmap, bool Reduce);
  void DropStored(TImageRec& R);
  void SetViewXYImpl(int32_t X, int32_t Y, bool SetX, bool SetY);
  void Scroll(bool Horizontal, TScrollCode Code, int32_t Pos);
  int32_t VisibleRows() const;
  void BottomRule();
  void MarkRange(int32_t From, int32_t To);
  // Async loading: what the workers should decode now, and a result arriving.
  void Schedule();
  void Arrived(uint64_t Serial, std::unique_ptr<TBitmap> Thumb, TColor Background, bool Ok);
  int32_t IndexOfSerial(uint64_t Serial) const;
  void PaintCells(TCanvas& Canvas);

  std::unique_ptr<TQLVirtualDIBList> FStore;
  std::unique_ptr<TQuilloIO> FIO;
  std::vector<std::unique_ptr<TImageRec>> FImages;
  uint64_t FNextSerial = 1;
  int32_t FSelectedItem = -1;
  TBitmap* FSelectedBitmap = nullptr;
  int32_t FViewX = 0, FViewY = 0, FExtentX = 0, FExtentY = 0;
  double FHScale = 1, FVScale = 1;
  TQLScrollBarParams FVParams, FHParams;
  int32_t FLock = 0;
  bool FPlaying = false;
  int32_t FVisibleFrame = 0;
  bool FPlayLoop = true;
  bool FTimerOn = false;
  TQLMDisplayMode FSavedMode = mdGrid;
  int32_t FSavedSelected = -1;
  bool FInPlayFrame = false;
  int32_t FLastOp = 0, FLastOpIdx = 0;
  int32_t FPressX = 0, FPressY = 0, FViewX0 = 0, FViewY0 = 0;
  bool FButtonDown = false;
  TResampleFilter FThumbFilter = rfBSpline;
  bool FDestroying = false;
  int32_t FLastClientW = -1, FLastClientH = -1;
  // Where a Shift range starts, and whether the selection being made extends one.
  int32_t FMarkAnchor = -1;
  bool FExtending = false;
  std::string FSearch;
  int64_t FSearchTime = 0;

  TScrollStyle FScrollBars = ssNone;
  bool FScrollBarsAlwaysVisible = false;
  TQLStoreType FStoreType = qltNormal;
  int32_t FThumbWidth = 100, FThumbHeight = 100;
  int32_t FHorizBorder = 4, FVertBorder = 4;
  int32_t FBottomGap = 0, FUpperGap = 0;
  bool FVisibleSelection = true;
  TQLMMouseInteract FMouseInteract = mmiSelect;
  TQLMKeyInteract FKeyInteract = mkiMoveSelected;
  TQLMDisplayMode FDisplayMode = mdGrid;
  int32_t FGridWidth = 0;
  int32_t FSelectionWidth = 3;
  TColor FSelectionColor = 0x0000FF;
  bool FRemoveCorrupted = false;
  bool FDrawImageBackground = false;

  bool FAsync = false;
  int32_t FPrefetch = 64;
  std::unique_ptr<TQLThumbLoader> FLoader;
};

}  // namespace quillo
