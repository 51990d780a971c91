// The Qt 6 widgetset: our controls in real windows.
//
// TQtControlWidget is a QWidget that hosts one top-level TWinControl: it shows the control's
// window image (its surface and its windowed children's), shows its scroll bars as real
// QScrollBars kept in step both ways, maps Qt's mouse, wheel, key, focus, enter and leave and
// resize events to the control framework's input, and shows the control's cursor. An
// application embeds it in its own Qt windows like any widget.
//
// QuilloQtInstall (once, after the QApplication exists) runs the framework's main-thread queue
// and timers on Qt's event loop, takes the screen metrics and system colours from the screen
// and palette, bridges the system clipboard to the DIB format, registers the system's
// printers, and shows the scanner's own dialog when an acquisition asks for it.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <vector>

#include "quillo/platform/controls.h"

class QPainter;
class QRegion;
class QScrollBar;

namespace quillo {

class TQtControlWidget : public QWidget {
 public:
  // Hosts Control (not owned; it must outlive the widget or be destroyed with it).
  explicit TQtControlWidget(TWinControl& Control, QWidget* Parent = nullptr);
  ~TQtControlWidget() override;

  TWinControl& Control() const { return *FControl; }
  TControlHost& Host() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* E) override;
  void resizeEvent(QResizeEvent* E) override;
  void mousePressEvent(QMouseEvent* E) override;
  void mouseDoubleClickEvent(QMouseEvent* E) override;
  void mouseMoveEvent(QMouseEvent* E) override;
  void mouseReleaseEvent(QMouseEvent* E) override;
  void wheelEvent(QWheelEvent* E) override;
  void keyPressEvent(QKeyEvent* E) override;
  void keyReleaseEvent(QKeyEvent* E) override;
  void focusInEvent(QFocusEvent* E) override;
  void focusOutEvent(QFocusEvent* E) override;
  void leaveEvent(QEvent* E) override;
  bool focusNextPrevChild(bool Next) override;

 private:
  class THost;
  friend class THost;
  void SyncScrollBar(TWinControl& C, TScrollBarKind Kind);
  // Paints a control and its windowed children within Clip: the composed frame where no
  // surface lies, the surfaces themselves straight from their rows.
  void PaintControl(QPainter& P, const TWinControl& C, QPoint Origin, const QRegion& Clip);
  void PlaceScrollBars();
  TWinControl* FControl;
  std::unique_ptr<THost> FHost;
  // The window's frame as last composed, and what it was composed for.
  QImage FImage;
  std::vector<int64_t> FLayoutKey;
  QScrollBar* FBars[2] = {nullptr, nullptr};
  bool FSyncing = false;
};

// Qt's key code as a virtual-key code (0 when there is none).
uint16_t QtKeyToVirtualKey(int Key);
// Qt's modifiers and buttons as a shift state.
TShiftState QtShiftState(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons);

// Runs the framework on Qt's event loop and bridges the desktop services (see above). Call once
// after the QApplication is created; safe to call again.
void QuilloQtInstall();

}  // namespace quillo
