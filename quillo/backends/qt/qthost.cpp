#include "quillo/backends/qt/qthost.h"
#include "quillo/backends/qt/qtscandialog.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <map>
#include <utility>

#include "quillo/backends/qt/qtprinter.h"
#include "quillo/platform/clipboard.h"
#include "quillo/platform/cursors.h"
#include "quillo/platform/screen.h"
#include "quillo/platform/threads.h"
#include "quillo/proc/dib.h"

namespace quillo {

namespace {

Qt::CursorShape StandardShape(TCursor C) {
  switch (C) {
    case crCross:
      return Qt::CrossCursor;
    case crIBeam:
      return Qt::IBeamCursor;
    case crSizeNESW:
      return Qt::SizeBDiagCursor;
    case crSizeNS:
      return Qt::SizeVerCursor;
    case crSizeNWSE:
      return Qt::SizeFDiagCursor;
    case crSizeWE:
      return Qt::SizeHorCursor;
    case crUpArrow:
      return Qt::UpArrowCursor;
    case crHourGlass:
    case crSQLWait:
      return Qt::WaitCursor;
    case crAppStart:
      return Qt::BusyCursor;
    case crNoDrop:
    case crNo:
      return Qt::ForbiddenCursor;
    case crHSplit:
      return Qt::SplitHCursor;
    case crVSplit:
      return Qt::SplitVCursor;
    case crHandPoint:
      return Qt::PointingHandCursor;
    case crSizeAll:
      return Qt::SizeAllCursor;
    case crHelp:
      return Qt::WhatsThisCursor;
    case crDrag:
    case crMultiDrag:
      return Qt::DragMoveCursor;
    case crNone:
      return Qt::BlankCursor;
    default:
      return Qt::ArrowCursor;
  }
}

QCursor ToQCursor(TCursor C) {
  if (IsStandardCursor(C)) return QCursor(StandardShape(C));
  const TCursorImage& I = CursorImage(C);
  if (I.Empty()) return QCursor(Qt::ArrowCursor);
  QImage Img(I.Width, I.Height, QImage::Format_ARGB32);
  for (int32_t Y = 0; Y < I.Height; ++Y)
    std::copy_n(I.Argb.data() + static_cast<size_t>(Y) * static_cast<size_t>(I.Width), I.Width,
                reinterpret_cast<uint32_t*>(Img.scanLine(Y)));
  return QCursor(QPixmap::fromImage(Img), I.HotX, I.HotY);
}

TMouseButton ToButton(Qt::MouseButton B) {
  return B == Qt::RightButton ? mbRight : B == Qt::MiddleButton ? mbMiddle : mbLeft;
}

// Copies the rows of a bottom-up 24-bit bitmap into a 32-bit image.
void ToImage(const TBitmap& B, QImage& Out) {
  const int32_t W = B.GetWidth(), H = B.GetHeight();
  if (Out.width() != W || Out.height() != H || Out.format() != QImage::Format_RGB32)
    Out = QImage(std::max(W, 1), std::max(H, 1), QImage::Format_RGB32);
  if (W == 0 || H == 0) return;
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* S = B.ScanLine(Y);
    auto* D = reinterpret_cast<uint32_t*>(Out.scanLine(Y));
    for (int32_t X = 0; X < W; ++X, S += 3)
      D[X] =
          0xFF000000u | static_cast<uint32_t>(S[2]) << 16 | static_cast<uint32_t>(S[1]) << 8 | S[0];
  }
}

bool IsAncestor(const TControl* Maybe, const TControl* C) {
  for (const TControl* P = C; P; P = P->GetParent())
    if (P == Maybe) return true;
  return false;
}

}  // namespace

uint16_t QtKeyToVirtualKey(int Key) {
  if (Key >= Qt::Key_A && Key <= Qt::Key_Z) return static_cast<uint16_t>('A' + (Key - Qt::Key_A));
  if (Key >= Qt::Key_0 && Key <= Qt::Key_9) return static_cast<uint16_t>('0' + (Key - Qt::Key_0));
  if (Key >= Qt::Key_F1 && Key <= Qt::Key_F24)
    return static_cast<uint16_t>(VK_F1 + (Key - Qt::Key_F1));
  switch (Key) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Shift:
      return VK_SHIFT;
    case Qt::Key_Control:
      return VK_CONTROL;
    case Qt::Key_Alt:
      return VK_MENU;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    case Qt::Key_Plus:
      return VK_ADD;
    case Qt::Key_Minus:
      return VK_SUBTRACT;
    default:
      return 0;
  }
}

TShiftState QtShiftState(Qt::KeyboardModifiers M, Qt::MouseButtons B) {
  TShiftState S = 0;
  if (M & Qt::ShiftModifier) S |= ssShift;
  if (M & Qt::ControlModifier) S |= ssCtrl;
  if (M & Qt::AltModifier) S |= ssAlt;
  if (B & Qt::LeftButton) S |= ssLeft;
  if (B & Qt::RightButton) S |= ssRight;
  if (B & Qt::MiddleButton) S |= ssMiddle;
  return S;
}

// ---------------------------------------------------------------------------------------------
// The host that reflects the framework's changes in the widget.

class TQtControlWidget::THost : public TControlHost {
 public:
  THost(TWinControl& Root, TQtControlWidget& W) : TControlHost(Root), FWidget(W) {}
  void ShowCursor(int32_t Cursor) override { FWidget.setCursor(ToQCursor(Cursor)); }
  void ShowScrollBar(TWinControl& C, TScrollBarKind Kind) override {
    FWidget.SyncScrollBar(C, Kind);
  }
  void ShowInvalid(TWinControl&, const TRect&) override { FWidget.update(); }
  void ShowDrawn(TWinControl&) override { FWidget.update(); }
  void ControlGone(TControl& C) override {
    for (auto It = FBars.begin(); It != FBars.end();) {
      if (IsAncestor(&C, It->first.first)) {
        It = FBars.erase(It);
      } else {
        ++It;
      }
    }
  }
  // The real scroll bar of a control's bar, made on first use.
  QScrollBar* Bar(TWinControl& C, TScrollBarKind Kind) {
    auto& Owned = FBars[{&C, Kind}];
    if (!Owned) {
      Owned = std::make_unique<QScrollBar>(Kind == sbHorizontal ? Qt::Horizontal : Qt::Vertical,
                                           &FWidget);
      QScrollBar* Slot = Owned.get();
      Slot->setFocusPolicy(Qt::NoFocus);
      TWinControl* Ctl = &C;
      QObject::connect(Slot, &QScrollBar::actionTriggered, Slot,
                       [this, Ctl, Kind, Slot](int Action) {
                         if (FWidget.FSyncing) return;
                         TScrollCode Code = scEndScroll;
                         int32_t Pos = Slot->sliderPosition();
                         switch (Action) {
                           case QAbstractSlider::SliderSingleStepSub:
                             Code = scLineUp;
                             break;
                           case QAbstractSlider::SliderSingleStepAdd:
                             Code = scLineDown;
                             break;
                           case QAbstractSlider::SliderPageStepSub:
                             Code = scPageUp;
                             break;
                           case QAbstractSlider::SliderPageStepAdd:
                             Code = scPageDown;
                             break;
                           case QAbstractSlider::SliderToMinimum:
                             Code = scTop;
                             break;
                           case QAbstractSlider::SliderToMaximum:
                             Code = scBottom;
                             break;
                           case QAbstractSlider::SliderMove:
                             Code = scTrack;
                             break;
                           default:
                             return;
                         }
                         Ctl->SendScroll(Kind, Code, Pos);
                         // The control decides the position; the bar shows what it decided.
                         FWidget.SyncScrollBar(*Ctl, Kind);
                       });
      QObject::connect(Slot, &QScrollBar::sliderReleased, Slot, [Ctl, Kind, Slot] {
        Ctl->SendScroll(Kind, scPosition, Slot->sliderPosition());
        Ctl->SendScroll(Kind, scEndScroll, 0);
      });
    }
    return Owned.get();
  }
  // The bars, owned here (and children of the widget, which they leave when freed first).
  const std::map<std::pair<TWinControl*, TScrollBarKind>, std::unique_ptr<QScrollBar>>& Bars()
      const {
    return FBars;
  }

 private:
  TQtControlWidget& FWidget;
  std::map<std::pair<TWinControl*, TScrollBarKind>, std::unique_ptr<QScrollBar>> FBars;
};

TQtControlWidget::TQtControlWidget(TWinControl& Control, QWidget* Parent)
    : QWidget(Parent), FControl(&Control), FHost(std::make_unique<THost>(Control, *this)) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(ToQCursor(Control.GetCursor()));
  if (Control.GetWidth() > 0 && Control.GetHeight() > 0)
    resize(Control.GetWidth(), Control.GetHeight());
  for (TScrollBarKind K : {sbHorizontal, sbVertical})
    if (Control.GetScrollInfo(K).Visible) SyncScrollBar(Control, K);
}

TQtControlWidget::~TQtControlWidget() = default;

TControlHost& TQtControlWidget::Host() const {
  return *FHost;
}

QSize TQtControlWidget::sizeHint() const {
  return QSize(std::max(FControl->GetWidth(), 16), std::max(FControl->GetHeight(), 16));
}

void TQtControlWidget::SyncScrollBar(TWinControl& C, TScrollBarKind Kind) {
  const TScrollBarInfo& I = C.GetScrollInfo(Kind);
  QScrollBar* B = FHost->Bar(C, Kind);
  FSyncing = true;
  const QSignalBlocker Block(B);
  // A bar of range Min..Max with a page shows positions Min..Max - Page + 1.
  B->setRange(I.Min, std::max(I.Min, I.Max - std::max(I.Page - 1, 0)));
  B->setPageStep(std::max(I.Page, 1));
  B->setSingleStep(1);
  B->setValue(I.Position);
  B->setTracking(I.Tracking);
  B->setEnabled(I.ArrowsEnabled && C.IsShowing());
  B->setVisible(I.Visible && C.IsShowing());
  FSyncing = false;
  PlaceScrollBars();
}

void TQtControlWidget::PlaceScrollBars() {
  for (const auto& [Key, Bar] : FHost->Bars()) {
    TWinControl& C = *Key.first;
    const TRect R = C.GetClientRect();
    const TPoint O = C.ClientToWindow(Point(0, 0));
    if (Key.second == sbHorizontal)
      Bar->setGeometry(O.X, O.Y + R.Bottom, R.Right, gScrollBarSize);
    else
      Bar->setGeometry(O.X + R.Right, O.Y, gScrollBarSize, R.Bottom);
  }
}

namespace {

// What the window's frame (borders, places of scroll bars, the background of plain containers)
// depends on; the frame is composed again only when this changes.
void LayoutKey(const TWinControl& C, std::vector<int64_t>& K) {
  K.insert(K.end(), {static_cast<int64_t>(reinterpret_cast<intptr_t>(&C)), C.GetLeft(), C.GetTop(),
                     C.GetWidth(), C.GetHeight(), C.GetBorderStyle(), C.GetCtl3D(),
                     C.GetScrollInfo(sbHorizontal).Visible, C.GetScrollInfo(sbVertical).Visible});
  for (int32_t I = 0; I < C.GetControlCount(); ++I)
    if (auto* W = dynamic_cast<const TWinControl*>(C.GetControl(I)); W && W->GetVisible())
      LayoutKey(*W, K);
  K.push_back(-1);
}

}  // namespace

void TQtControlWidget::PaintControl(QPainter& P, const TWinControl& C, QPoint Origin,
                                    const QRegion& Clip) {
  const QRect Outer(Origin.x(), Origin.y(), C.GetWidth(), C.GetHeight());
  const QRegion Here = Clip & Outer;
  if (Here.isEmpty()) return;
  const TPoint CO = C.GetClientOrigin();
  const TRect CR = C.GetClientRect();
  const QRect Client(Origin.x() + CO.X, Origin.y() + CO.Y, CR.Right, CR.Bottom);
  const auto* Custom = dynamic_cast<const TCustomControl*>(&C);
  const bool HasSurface = Custom && !Custom->Surface().Empty();
  // The frame's pixels where no surface lies: borders, bar places, plain containers.
  const QRegion Frame = HasSurface ? Here - Client : Here;
  if (!Frame.isEmpty()) {
    P.setClipRegion(Frame);
    P.drawImage(0, 0, FImage);
  }
  const QRegion Inside = Here & Client;
  if (HasSurface && !Inside.isEmpty()) {
    // The surface's rows are bottom-up: wrapped as they are, upside down, and flipped by the
    // painter, so that no copy or conversion of ours comes between the surface and the screen.
    const TBitmap& S = Custom->Surface();
    const QImage Wrap(S.ScanLine(S.GetHeight() - 1), S.GetWidth(), S.GetHeight(), S.RowLen(),
                      QImage::Format_BGR888);
    P.setClipRegion(Inside);
    P.setTransform(QTransform(1, 0, 0, -1, Client.x(), Client.y() + S.GetHeight()));
    P.drawImage(0, 0, Wrap);
    P.resetTransform();
  }
  for (int32_t I = 0; I < C.GetControlCount(); ++I)
    if (auto* W = dynamic_cast<const TWinControl*>(C.GetControl(I)); W && W->GetVisible())
      PaintControl(P, *W, QPoint(Client.x() + W->GetLeft(), Client.y() + W->GetTop()), Inside);
}

void TQtControlWidget::paintEvent(QPaintEvent* E) {
  std::vector<int64_t> Key;
  LayoutKey(*FControl, Key);
  if (Key != FLayoutKey || FImage.size() != size()) {
    FHost->PaintAll();
    ToImage(FHost->WindowImage(), FImage);
    FLayoutKey = std::move(Key);
  } else {
    FHost->UpdateAll();
  }
  QPainter P(this);
  PaintControl(P, *FControl, QPoint(0, 0), E->region());
}

void TQtControlWidget::resizeEvent(QResizeEvent*) {
  FHost->Resize(width(), height());
  PlaceScrollBars();
  update();
}

void TQtControlWidget::mousePressEvent(QMouseEvent* E) {
  const QPoint P = E->position().toPoint();
  FHost->MouseDown(P.x(), P.y(), ToButton(E->button()), QtShiftState(E->modifiers(), Qt::NoButton));
  update();
}

void TQtControlWidget::mouseDoubleClickEvent(QMouseEvent* E) {
  const QPoint P = E->position().toPoint();
  FHost->DoubleClick(P.x(), P.y(), ToButton(E->button()),
                     QtShiftState(E->modifiers(), Qt::NoButton));
  update();
}

void TQtControlWidget::mouseMoveEvent(QMouseEvent* E) {
  const QPoint P = E->position().toPoint();
  FHost->MouseMove(P.x(), P.y(), QtShiftState(E->modifiers(), Qt::NoButton));
}

void TQtControlWidget::mouseReleaseEvent(QMouseEvent* E) {
  const QPoint P = E->position().toPoint();
  FHost->MouseUp(P.x(), P.y(), ToButton(E->button()), QtShiftState(E->modifiers(), Qt::NoButton));
  update();
}

void TQtControlWidget::wheelEvent(QWheelEvent* E) {
  const QPoint P = E->position().toPoint();
  const int Delta = E->angleDelta().y() != 0 ? E->angleDelta().y() : E->angleDelta().x();
  FHost->Wheel(P.x(), P.y(), Delta, QtShiftState(E->modifiers(), E->buttons()));
  update();
}

void TQtControlWidget::keyPressEvent(QKeyEvent* E) {
  const TShiftState S = QtShiftState(E->modifiers(), Qt::NoButton);
  if (const uint16_t VK = QtKeyToVirtualKey(E->key()))
    FHost->KeyDown(VK, S | (E->key() == Qt::Key_Backtab ? ssShift : 0));
  // Characters: the text Qt composed, one byte at a time (control characters come as keys,
  // except backspace and return, which edit controls take as characters).
  const QByteArray T = E->text().toUtf8();
  if (!(S & (ssCtrl | ssAlt)))
    for (char C : T)
      if (static_cast<unsigned char>(C) >= 32 || C == '\b' || C == '\r') FHost->Char(C);
  update();
}

void TQtControlWidget::keyReleaseEvent(QKeyEvent* E) {
  if (E->isAutoRepeat()) return;
  if (const uint16_t VK = QtKeyToVirtualKey(E->key()))
    FHost->KeyUp(VK, QtShiftState(E->modifiers(), Qt::NoButton));
}

void TQtControlWidget::focusInEvent(QFocusEvent*) {
  FHost->FocusIn();
}

void TQtControlWidget::focusOutEvent(QFocusEvent*) {
  FHost->FocusOut();
}

void TQtControlWidget::leaveEvent(QEvent*) {
  FHost->Leave();
}

bool TQtControlWidget::focusNextPrevChild(bool) {
  // Tab belongs to the hosted controls: it moves the focus among them.
  return false;
}

// ---------------------------------------------------------------------------------------------
// Desktop services

namespace {

// The system clipboard as the DIB format: images copied here can be pasted elsewhere (Qt offers
// them as PNG, BMP and the rest), and images copied elsewhere are read as DIBs. Other formats
// stay in process.
class TQtClipboard : public TClipboard {
 public:
  bool HasFormat(uint32_t Format) const override {
    if (Format != CF_DIB) return TClipboard::HasFormat(Format);
    const QMimeData* M = QGuiApplication::clipboard()->mimeData();
    return M && M->hasImage();
  }
  bool SetAsHandle(uint32_t Format, std::vector<uint8_t> Data) override {
    if (Format != CF_DIB) return TClipboard::SetAsHandle(Format, std::move(Data));
    if (!IsOpen()) return false;
    TBitmap B;
    // A malformed block is refused like a damaged file.
    if (_CopyDIB2Bitmap(Data.data(), Data.size(), B) == 0) return false;
    if (B.GetPixelFormat() != pf24bit) B.SetPixelFormat(pf24bit);
    QImage Img;
    ToImage(B, Img);
    QGuiApplication::clipboard()->setImage(Img);
    return true;
  }
  std::vector<uint8_t> GetAsHandle(uint32_t Format) const override {
    if (Format != CF_DIB) return TClipboard::GetAsHandle(Format);
    if (!IsOpen()) return {};
    const QImage Img = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
    if (Img.isNull() || Img.width() <= 0 || Img.height() <= 0) return {};
    TBitmap B;
    B.SetPixelFormat(pf24bit);
    B.SetSize(Img.width(), Img.height());
    for (int Y = 0; Y < Img.height(); ++Y) {
      const auto* S = reinterpret_cast<const uint32_t*>(Img.constScanLine(Y));
      uint8_t* D = B.ScanLine(Y);
      for (int X = 0; X < Img.width(); ++X, D += 3) {
        D[0] = static_cast<uint8_t>(S[X]);
        D[1] = static_cast<uint8_t>(S[X] >> 8);
        D[2] = static_cast<uint8_t>(S[X] >> 16);
      }
    }
    return _CopyBitmaptoDIB(B, 0, 0, 0, 0);
  }
  bool Clear() override {
    if (!TClipboard::Clear()) return false;
    QGuiApplication::clipboard()->clear();
    return true;
  }
};

// Runs the framework's queue and due timers, then sleeps until the next timer.
class TPump {
 public:
  TPump() {
    FTimer.setSingleShot(true);
    QObject::connect(&FTimer, &QTimer::timeout, [this] { Run(); });
  }
  void Wake() {
    // From any thread: the pump runs on Qt's main thread.
    QMetaObject::invokeMethod(
        &FTimer, [this] { Run(); }, Qt::QueuedConnection);
  }
  void Run() {
    Application().ProcessMessages();
    const int64_t Next = Application().NextTimerDue();
    if (Next >= 0)
      FTimer.start(static_cast<int>(std::min<int64_t>(Next, 1 << 30)));
    else
      FTimer.stop();
  }

 private:
  QTimer FTimer;
};

void TakeScreenMetrics() {
  if (const QScreen* S = QGuiApplication::primaryScreen()) {
    gSystemDPIX = std::max(1, static_cast<int32_t>(S->logicalDotsPerInchX() + 0.5));
    gSystemDPIY = std::max(1, static_cast<int32_t>(S->logicalDotsPerInchY() + 0.5));
    gSystemColors = S->depth();
    gScreenWidth = S->geometry().width();
    gScreenHeight = S->geometry().height();
  }
  const QPalette P = QGuiApplication::palette();
  auto Set = [](int32_t Index, const QColor& C) {
    SetSystemColor(Index, RGBColor(static_cast<uint8_t>(C.red()), static_cast<uint8_t>(C.green()),
                                   static_cast<uint8_t>(C.blue())));
  };
  Set(5, P.color(QPalette::Base));              // window
  Set(8, P.color(QPalette::Text));              // window text
  Set(13, P.color(QPalette::Highlight));        // highlight
  Set(14, P.color(QPalette::HighlightedText));  // highlight text
  Set(15, P.color(QPalette::Button));           // button face
  Set(16, P.color(QPalette::Dark));             // button shadow
  Set(17, P.color(QPalette::PlaceholderText));  // grey text
  Set(18, P.color(QPalette::ButtonText));       // button text
  Set(20, P.color(QPalette::Light));            // button highlight
  Set(21, P.color(QPalette::Shadow));           // 3-D dark shadow
  Set(22, P.color(QPalette::Midlight));         // 3-D light
  Set(23, P.color(QPalette::ToolTipText));      // info text
  Set(24, P.color(QPalette::ToolTipBase));      // info background
}

}  // namespace

void QuilloQtInstall() {
  static std::unique_ptr<TPump> Pump;
  if (Pump || !QCoreApplication::instance()) return;
  Pump = std::make_unique<TPump>();
  Application().SetWakeHook([] { Pump->Wake(); });
  // Applications built on the framework alone run Qt's loop through Application().Run().
  Application().SetLoopHooks([] { QApplication::exec(); }, [] { QCoreApplication::quit(); });
  // The pump goes with the application object: nothing of Qt's outlives its loop.
  QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [] {
    Application().SetWakeHook(nullptr);
    Application().SetLoopHooks(nullptr, nullptr);
    QLSetScanDialogHook(nullptr);
    Pump.reset();
  });
  Pump->Wake();
  TakeScreenMetrics();
  SetClipboard(std::make_unique<TQtClipboard>());
  QtRegisterSystemPrinters();
  QLSetScanDialogHook(
      [](IQLScanDevice& Device) { return QtScanDialog(Device, QApplication::activeWindow()); });
}

}  // namespace quillo
