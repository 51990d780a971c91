// TQLTargetComponent: the pixel target shared by the components that work on an image.
#pragma once

#include "quillo/core/view.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/controls.h"

namespace quillo {

// Attached to one target at a time: a view, an image control or a plain bitmap. The view and
// the image control are watched through free notification and the view's bitmap through its
// change event, so the bitmap pointer never outlives what it points into.
class TQLTargetComponent : public TComponent {
 public:
  explicit TQLTargetComponent(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
  ~TQLTargetComponent() override;

  TQLView* GetAttachedQuillo() const { return FView; }
  // Takes the view's bitmap and follows it when the view replaces it.
  void SetAttachedQuillo(TQLView* View);
  TImage* GetAttachedTImage() const { return FImage; }
  // Takes the image control's picture bitmap.
  void SetAttachedTImage(TImage* Image);
  // The bitmap the component works on.
  TBitmap* GetAttachedBitmap() const { return FBitmap; }
  // Setting none is ignored while a view or an image control is attached; setting a bitmap
  // clears those attachments.
  void SetAttachedBitmap(TBitmap* Bitmap);
  // Called by the attached view when it replaces its bitmap (Destroying false) or goes (true).
  void OnBitmapChange(TObject* Sender, bool Destroying);

  // Shows a change of the pixels: the view repaints, a bare bitmap tells its listener.
  void Update();

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // Declared first, so that members of derived components built from the bitmap find it.
  TQLView* FView = nullptr;
  TImage* FImage = nullptr;
  TBitmap* FBitmap = nullptr;

 private:
  void DetachView();
  void DetachImage();
};

}  // namespace quillo
