// Controls: the framework's visual component classes, headless by default. A control keeps its
// bounds and state; windowed controls paint into a surface bitmap that a host backend shows.
#pragma once

#include <cstdint>
#include <memory>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/classes.h"

namespace quillo {

class TWinControl;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner = nullptr) : TComponent(AOwner) {}

  int32_t GetLeft() const { return FLeft; }
  int32_t GetTop() const { return FTop; }
  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  void SetLeft(int32_t V) { SetBounds(V, FTop, FWidth, FHeight); }
  void SetTop(int32_t V) { SetBounds(FLeft, V, FWidth, FHeight); }
  void SetWidth(int32_t V) { SetBounds(FLeft, FTop, V, FHeight); }
  void SetHeight(int32_t V) { SetBounds(FLeft, FTop, FWidth, V); }
  virtual void SetBounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height);
  // The area inside the border.
  virtual int32_t GetClientWidth() const { return FWidth; }
  virtual int32_t GetClientHeight() const { return FHeight; }

  TWinControl* GetParent() const { return FParent; }
  void SetParent(TWinControl* Parent) { FParent = Parent; }
  bool GetVisible() const { return FVisible; }
  void SetVisible(bool V) { FVisible = V; }
  bool GetEnabled() const { return FEnabled; }
  void SetEnabled(bool V) { FEnabled = V; }
  int32_t GetCursor() const { return FCursor; }
  void SetCursor(int32_t C) { FCursor = C; }

  // Marks the control for repainting.
  virtual void Invalidate() { FInvalid = true; }
  // Repaints what is invalid now.
  virtual void Update() {}
  bool IsInvalid() const { return FInvalid; }

 protected:
  // Called after the bounds changed.
  virtual void Resize() {}
  bool FInvalid = true;

 private:
  int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  TWinControl* FParent = nullptr;
  bool FVisible = true;
  bool FEnabled = true;
  int32_t FCursor = 0;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner = nullptr) : TControl(AOwner) {}
};

// A windowed control that paints itself.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner = nullptr) : TWinControl(AOwner) {}
  // Brings the control's surface up to date: paints when invalid.
  void Update() override;
  // The surface the control paints into (client size, 24-bit).
  TBitmap& Surface() { return FSurface; }

 protected:
  virtual void Paint() {}
  void Resize() override;

 private:
  TBitmap FSurface;
};

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

}  // namespace quillo
