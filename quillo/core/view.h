// TQLView: the base of every control that shows an image and to which the I/O and processing
// components attach.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/controls.h"
#include "quillo/platform/types.h"

namespace quillo {

class TQLView;

// Told when the view's bitmap is replaced (Destroying false) or the view goes (true).
using TQLBitmapChangeEvent = std::function<void(TObject* Sender, bool Destroying)>;

enum TBorderStyle : uint8_t { bsNone, bsSingle };

class TQLView : public TCustomControl {
 public:
  explicit TQLView(TComponent* AOwner = nullptr);
  // Calls every listener with Destroying true, in list order.
  ~TQLView() override;

  TColor GetBackground() const { return FBackground; }
  virtual void SetBackGround(TColor Color) { FBackground = Color; }
  TBorderStyle GetBorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle S) { FBorderStyle = S; }

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
  TBorderStyle FBorderStyle = bsSingle;
};

}  // namespace quillo
