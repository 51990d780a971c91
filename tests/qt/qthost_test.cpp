// The Qt backend on Qt's offscreen screen: the hosted widget shows the surfaces' pixels,
// Qt's events reach the handlers, scroll bars stay in step both ways, the framework's timers
// and queued calls run on Qt's loop, and the clipboard speaks DIB.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <thread>

#include "quillo/backends/qt/qthost.h"
#include "quillo/platform/clipboard.h"
#include "quillo/platform/screen.h"
#include "quillo/platform/threads.h"
#include "quillo/proc/dib.h"
#include "quillo/view/quilloview.h"
#include "tests/support/testutil.h"

using namespace quillo;

namespace {

// The application object main made.
void App() {
  ASSERT_NE(QApplication::instance(), nullptr);
}

void Pump(int Ms) {
  QElapsedTimer T;
  T.start();
  while (T.elapsed() < Ms) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A control that paints a pattern and records its input.
class TPattern : public TCustomControl {
 public:
  std::vector<std::string> Log;
  int Ticks = 0;
  uint8_t Shift = 0;
  void Paint() override {
    for (int32_t Y = 0; Y < GetClientHeight(); ++Y) {
      uint8_t* P = Surface().ScanLine(Y);
      for (int32_t X = 0; X < GetClientWidth(); ++X) {
        P[3 * X] = static_cast<uint8_t>(X * 7 + Shift);
        P[3 * X + 1] = static_cast<uint8_t>(Y * 5);
        P[3 * X + 2] = static_cast<uint8_t>(X ^ Y);
      }
    }
  }
  void MouseDown(TMouseButton B, TShiftState S, int32_t X, int32_t Y) override {
    Log.push_back("down " + std::to_string(B) + " " + std::to_string(S) + " " + std::to_string(X) +
                  "," + std::to_string(Y));
  }
  void MouseUp(TMouseButton B, TShiftState, int32_t X, int32_t Y) override {
    Log.push_back("up " + std::to_string(B) + " " + std::to_string(X) + "," + std::to_string(Y));
  }
  bool DoMouseWheel(TShiftState, int32_t Delta, TPoint) override {
    Log.push_back("wheel " + std::to_string(Delta));
    return true;
  }
  void KeyDown(uint16_t& K, TShiftState S) override {
    Log.push_back("key " + std::to_string(K) + " " + std::to_string(S));
  }
  bool WantsKey(uint16_t) const override { return true; }
  void KeyPress(char& C) override { Log.push_back(std::string("char ") + C); }
  void TimerTick(int32_t) override { ++Ticks; }
};

}  // namespace

namespace {
// Pixels where the widget on screen and the headless window image differ, outside the real
// scroll bars (which Qt draws in place of the framework's).
int Differences(TQtControlWidget& W) {
  QRegion Bars;
  for (const QScrollBar* B : W.findChildren<QScrollBar*>())
    if (B->isVisible()) Bars += B->geometry();
  const QImage Shown = W.grab().toImage().convertToFormat(QImage::Format_RGB32);
  W.Host().PaintAll();
  const TBitmap& Window = W.Host().WindowImage();
  if (Shown.width() != Window.GetWidth() || Shown.height() != Window.GetHeight()) return -1;
  int Different = 0;
  for (int Y = 0; Y < Shown.height(); ++Y)
    for (int X = 0; X < Shown.width(); ++X) {
      if (Bars.contains(QPoint(X, Y))) continue;
      const QRgb Q = Shown.pixel(X, Y);
      const uint8_t* P = Window.ScanLine(Y) + 3 * X;
      Different += qRed(Q) != P[2] || qGreen(Q) != P[1] || qBlue(Q) != P[0];
    }
  return Different;
}
}  // namespace

TEST(QtHost, TheWidgetShowsTheSurfacePixels) {
  App();
  TPattern C, Child;
  C.SetBounds(0, 0, 120, 80);
  C.SetBorderStyle(bsSingle);
  Child.SetParent(&C);
  Child.SetBounds(30, 20, 50, 40);
  Child.SetBorderStyle(bsSingle);
  Child.SetCtl3D(false);
  TQtControlWidget W(C);
  W.show();
  Pump(50);
  EXPECT_EQ(Differences(W), 0);
  // A surface repainted later is shown as it is now, its frame and its neighbours unchanged.
  Child.Shift = 100;
  Child.Invalidate();
  EXPECT_EQ(Differences(W), 0);
  const QImage Shown = W.grab().toImage();
  // The client starts inside the sunken edge.
  const QRgb First = Shown.pixel(gEdgeX + 3, gEdgeY + 2);
  EXPECT_EQ(qBlue(First), 21);
  EXPECT_EQ(qGreen(First), 10);
}

namespace {
// A 320 x 240 view of a 500 x 400 picture, with both bars.
void LargerPicture(TQuilloView& V, uint32_t Seed) {
  V.SetBounds(0, 0, 320, 240);
  V.Bitmap().Assign(test::RandomBitmap24(500, 400, Seed));
  V.SetScrollBars(ssBoth);
}
}  // namespace

TEST(QtHost, TheHostedImageViewShowsWhatItsSurfaceShows) {
  App();
  TQuilloView V;
  LargerPicture(V, 11);
  V.SetBackgroundStyle(qlbsChessboard);
  V.Update();
  TQtControlWidget W(V);
  W.show();
  Pump(30);
  EXPECT_EQ(Differences(W), 0);
  // Zoomed and scrolled through the real scroll bar, it still shows the surface exactly.
  V.SetZoom(250);
  V.SetViewXY(130, 70);
  Pump(30);
  EXPECT_EQ(Differences(W), 0);
  QScrollBar* Bar = nullptr;
  for (QScrollBar* B : W.findChildren<QScrollBar*>())
    if (B->orientation() == Qt::Horizontal && B->isVisible()) Bar = B;
  ASSERT_NE(Bar, nullptr);
  const int32_t Before = V.GetViewX();
  Bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_GT(V.GetViewX(), Before);
  Pump(30);
  EXPECT_EQ(Differences(W), 0);
}

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
 public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* E) override {
    if (E->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

// What a control draws outside a repaint (a scroll by the bar, the rubber band of a drag) is
// shown at once; an idle view is not repainted over and over.
TEST(QtHost, DrawingOutsideARepaintReachesTheScreen) {
  App();
  TQuilloView V;
  V.SetBorderStyle(bsNone);
  LargerPicture(V, 12);
  V.SetMouseInteract(miSelect);
  V.Update();
  TQtControlWidget W(V);
  TPaintCounter Counter;
  W.installEventFilter(&Counter);
  W.show();
  Pump(50);
  Counter.Paints = 0;
  Pump(60);
  EXPECT_EQ(Counter.Paints, 0);
  QScrollBar* Bar = nullptr;
  for (QScrollBar* B : W.findChildren<QScrollBar*>())
    if (B->orientation() == Qt::Horizontal && B->isVisible()) Bar = B;
  ASSERT_NE(Bar, nullptr);
  Bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  Pump(30);
  EXPECT_GE(Counter.Paints, 1);
  // A drag: the press repaints anyway; the moves alone draw the rubber band.
  QMouseEvent Press(QEvent::MouseButtonPress, QPointF(20, 20), QPointF(20, 20), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&W, &Press);
  Pump(30);
  Counter.Paints = 0;
  QMouseEvent Move(QEvent::MouseMove, QPointF(120, 90), QPointF(120, 90), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&W, &Move);
  Pump(30);
  EXPECT_GE(Counter.Paints, 1);
  EXPECT_EQ(Differences(W), 0);
}

TEST(QtHost, QtEventsReachTheHandlers) {
  App();
  TPattern C;
  C.SetBounds(0, 0, 100, 100);
  TQtControlWidget W(C);
  W.show();
  Pump(20);
  QMouseEvent Press(QEvent::MouseButtonPress, QPointF(10, 20), QPointF(10, 20), Qt::LeftButton,
                    Qt::LeftButton, Qt::ShiftModifier);
  QApplication::sendEvent(&W, &Press);
  QMouseEvent Release(QEvent::MouseButtonRelease, QPointF(12, 22), QPointF(12, 22), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&W, &Release);
  QWheelEvent Wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&W, &Wheel);
  QKeyEvent Key(QEvent::KeyPress, Qt::Key_Left, Qt::ControlModifier);
  QApplication::sendEvent(&W, &Key);
  QKeyEvent Letter(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier, "q");
  QApplication::sendEvent(&W, &Letter);
  const std::vector<std::string> Want = {"down 0 " + std::to_string(ssShift | ssLeft) + " 10,20",
                                         "up 0 12,22",
                                         "wheel -120",
                                         "key 37 " + std::to_string(ssCtrl),
                                         "key 81 0",
                                         "char q"};
  EXPECT_EQ(C.Log, Want);
  // Resizing the widget resizes the control.
  W.resize(140, 60);
  Pump(20);
  EXPECT_EQ(C.GetWidth(), 140);
  EXPECT_EQ(C.Surface().GetHeight(), 60);
}

TEST(QtHost, ScrollBarsStayInStepBothWays) {
  App();
  TWinControl C;
  C.SetBounds(0, 0, 200, 150);
  TQtControlWidget W(C);
  W.show();
  TScrollBarInfo I;
  I.Visible = true;
  I.Max = 999;
  I.Page = 100;
  I.Position = 300;
  C.SetScrollInfo(sbVertical, I);
  Pump(20);
  QScrollBar* Bar = W.findChild<QScrollBar*>();
  ASSERT_NE(Bar, nullptr);
  EXPECT_TRUE(Bar->isVisible());
  EXPECT_EQ(Bar->maximum(), 900);
  EXPECT_EQ(Bar->pageStep(), 100);
  EXPECT_EQ(Bar->value(), 300);
  EXPECT_EQ(Bar->geometry(), QRect(200 - gScrollBarSize, 0, gScrollBarSize, 150));
  // The real bar's actions arrive as scroll codes.
  Bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(C.GetScrollInfo(sbVertical).Position, 400);
  Bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(C.GetScrollInfo(sbVertical).Position, 900);
  EXPECT_EQ(Bar->value(), 900);
  C.SetScrollPos(sbVertical, 10);
  EXPECT_EQ(Bar->value(), 10);
  C.ShowScrollBar(sbVertical, false);
  EXPECT_FALSE(Bar->isVisible());
}

TEST(QtHost, TimersAndQueuedCallsRunOnQtsLoop) {
  App();
  TPattern C;
  C.SetTimer(1, 10);
  bool Posted = false;
  std::thread T([&] { Application().Post([&] { Posted = true; }); });
  T.join();
  Pump(150);
  EXPECT_TRUE(Posted);
  EXPECT_GE(C.Ticks, 3);
  C.KillTimer(1);
  // The framework's own loop is Qt's: Run returns when a timer calls Terminate.
  TTimer Stop;
  Stop.SetInterval(30);
  Stop.OnTimer = [&](TObject*) { Application().Terminate(); };
  Application().Run();
  EXPECT_TRUE(Application().GetTerminated());
}

TEST(QtHost, TheClipboardCarriesDIBs) {
  App();
  TBitmap B = test::RandomBitmap24(13, 7, 4);
  {
    TClipboardLock L(Clipboard());
    ASSERT_TRUE(L.Opened());
    ASSERT_TRUE(Clipboard().SetAsHandle(CF_DIB, _CopyBitmaptoDIB(B, 0, 0, 0, 0)));
    // A damaged block is refused.
    EXPECT_FALSE(Clipboard().SetAsHandle(CF_DIB, std::vector<uint8_t>(10, 0xFF)));
  }
  EXPECT_TRUE(Clipboard().HasFormat(CF_DIB));
  TClipboardLock L(Clipboard());
  const std::vector<uint8_t> Back = Clipboard().GetAsHandle(CF_DIB);
  TBitmap R;
  ASSERT_EQ(_CopyDIB2Bitmap(Back.data(), Back.size(), R), 24);
  EXPECT_TRUE(test::SamePixels(R, B));
}

int main(int Argc, char** Argv) {
  testing::InitGoogleTest(&Argc, Argv);
  // No display is needed: Qt's offscreen screen, unless the caller chose another.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication A(Argc, Argv);
  QuilloQtInstall();
  return RUN_ALL_TESTS();
}
