// TQLView: the base of every control that shows an image and to which the I/O and processing
// components attach.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "quillo/core/selection.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/controls.h"
#include "quillo/platform/types.h"

namespace quillo {

class TQLView;

// How a new selection combines with the current one.
enum TQLSelOp : uint8_t { qlspReplace, qlspAdd };
// The coordinates the view's selection calls take: client pixels or bitmap pixels.
enum TQLSelectionBase : uint8_t { qlsbClientArea, qlsbBitmap };

// Told when the view's bitmap is replaced (Destroying false) or the view goes (true).
using TQLBitmapChangeEvent = std::function<void(TObject* Sender, bool Destroying)>;

class TQLView : public TCustomControl {
 public:
  explicit TQLView(TComponent* AOwner = nullptr);
  // Calls every listener with Destroying true, in list order.
  ~TQLView() override;

  TColor GetBackground() const { return FBackground; }
  virtual void SetBackGround(TColor Color) { FBackground = Color; }

  // The shown bitmap; none in the base.
  virtual TBitmap* GetFBitmap() { return nullptr; }
  int32_t GetDPIX() const { return FDPIX; }
  int32_t GetDPIY() const { return FDPIY; }
  // Setting 0 is ignored.
  virtual void SetDPIX(int32_t V) {
    if (V != 0) FDPIX = V;
  }
  virtual void SetDPIY(int32_t V) {
    if (V != 0) FDPIY = V;
  }
  virtual void SetDPI(int32_t X, int32_t Y) {
    SetDPIX(X);
    SetDPIY(Y);
  }
  // Tells the application the image changed (OnImageChange in the image view).
  virtual void ImageChange() {}
  // Whether an attached I/O component may set this view's background.
  virtual bool AcceptsIOBackground() const { return true; }

  // --- selection -----------------------------------------------------------------------------
  // Views that carry a selection (the image view) answer true; the processing component then
  // works on the view's selection rather than on its own stored rectangle. The base carries
  // none, and every call below is neutral.
  virtual bool HasSelectionSupport() const { return false; }
  // True while a selection exists.
  virtual bool GetSelected() const { return false; }
  // The selection's bounding box in bitmap pixels, X2 and Y2 one past the last column and row.
  virtual int32_t GetSelX1() const { return 0; }
  virtual int32_t GetSelY1() const { return 0; }
  virtual int32_t GetSelX2() const { return 0; }
  virtual int32_t GetSelY2() const { return 0; }
  // The selection polygon (bitmap pixel edges, sub-polygons separated by QLPolyBreak points) and
  // its entry count.
  virtual const TPoint* GetPolySelArray() const { return nullptr; }
  virtual int32_t GetPolySelCount() const { return 0; }
  // The raster form of the selection, one bit per bitmap pixel; none in the base.
  virtual TQLMask* GetMask() { return nullptr; }
  virtual TQLSelectionBase GetSelectionBase() const { return qlsbClientArea; }
  virtual void SetSelectionBase(TQLSelectionBase) {}
  // Selects the rectangle X1, Y1 - X2, Y2 in the coordinates of the selection base.
  virtual void Select(int32_t /*X1*/, int32_t /*Y1*/, int32_t /*X2*/, int32_t /*Y2*/,
                      TQLSelOp /*Op*/) {}
  // Removes the selection.
  virtual void DeSelect() {}
  // Client pixels to bitmap pixels.
  virtual int32_t XScr2Bmp(int32_t X) const { return X; }
  virtual int32_t YScr2Bmp(int32_t Y) const { return Y; }

  // Listeners are kept with the object that registered them; removing drops that object's
  // first entry.
  void RegisterBitmapChangeEvent(TObject* Owner, TQLBitmapChangeEvent Event);
  void RemoveBitmapChangeEvent(TObject* Owner);
  // Calls every listener with Destroying false, in list order.
  void CallBitmapChangeEvents();

 protected:
  int32_t FDPIX = 0;
  int32_t FDPIY = 0;

 private:
  struct TEntry {
    TObject* Owner;
    TQLBitmapChangeEvent Event;
  };
  std::vector<TEntry> FListeners;
  TColor FBackground = clBtnFace;
};

}  // namespace quillo
