#include "quillo/core/target.h"

namespace quillo {

TQLTargetComponent::~TQLTargetComponent() {
  if (FView) FView->RemoveBitmapChangeEvent(this);
}

void TQLTargetComponent::DetachView() {
  if (!FView) return;
  FView->RemoveBitmapChangeEvent(this);
  RemoveFreeNotification(FView);
  FView = nullptr;
}

void TQLTargetComponent::DetachImage() {
  if (!FImage) return;
  RemoveFreeNotification(FImage);
  FImage = nullptr;
}

void TQLTargetComponent::SetAttachedQuillo(TQLView* View) {
  if (View == FView) return;
  const bool HadView = FView != nullptr;
  DetachView();
  if (!View) {
    // The view's bitmap is not ours to keep once we no longer hear about it.
    if (HadView) FBitmap = nullptr;
    return;
  }
  DetachImage();
  FView = View;
  FBitmap = View->GetFBitmap();
  FreeNotification(View);
  View->RegisterBitmapChangeEvent(
      this, [this](TObject* Sender, bool Destroying) { OnBitmapChange(Sender, Destroying); });
}

void TQLTargetComponent::SetAttachedTImage(TImage* Image) {
  if (Image == FImage) return;
  if (!Image) {
    DetachImage();
    if (!FView) FBitmap = nullptr;
    return;
  }
  DetachView();
  DetachImage();
  FImage = Image;
  FBitmap = &Image->GetPicture().Bitmap();
  FreeNotification(Image);
}

void TQLTargetComponent::SetAttachedBitmap(TBitmap* Bitmap) {
  if (!Bitmap) {
    if (FView || FImage) return;
    FBitmap = nullptr;
    return;
  }
  DetachView();
  DetachImage();
  FBitmap = Bitmap;
}

void TQLTargetComponent::OnBitmapChange(TObject* Sender, bool Destroying) {
  if (!FView || Sender != FView) return;
  if (Destroying) {
    RemoveFreeNotification(FView);
    FView = nullptr;
    FBitmap = nullptr;
  } else {
    FBitmap = FView->GetFBitmap();
  }
}

void TQLTargetComponent::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  // The bitmap of a view or image control goes with it: keeping the pointer would leave the
  // next operation writing into freed memory.
  if (AComponent == FView) {
    FView->RemoveBitmapChangeEvent(this);
    FView = nullptr;
    FBitmap = nullptr;
  } else if (AComponent == FImage) {
    FImage = nullptr;
    FBitmap = nullptr;
  }
}

void TQLTargetComponent::Update() {
  if (FView) {
    FView->Update();
    FView->ImageChange();
  } else if (FBitmap) {
    FBitmap->Modified();
  }
}

}  // namespace quillo
