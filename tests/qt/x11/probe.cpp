// A window for the end-to-end test in a real X server: a hosted control that draws what the
// mouse does (a dot where it is pressed, a line along a drag, the wheel changes the pen), an
// edit control for typing, and the clipboard on two keys. Each event is logged on standard
// output, one line each, for the test script to read.
#include <QApplication>
#include <cstdio>

#include "quillo/backends/qt/qthost.h"
#include "quillo/platform/clipboard.h"
#include "quillo/platform/cursors.h"
#include "quillo/proc/dib.h"

using namespace quillo;

namespace {

void Log(const std::string& Line) {
  std::printf("%s\n", Line.c_str());
  std::fflush(stdout);
}

class TSketch : public TCustomControl {
 public:
  TSketch() {
    SetColor(clNone);
    SetTabStop(true);
    SetCursor(crQLPen);
    FPicture.SetPixelFormat(pf24bit);
  }
  void MouseDown(TMouseButton B, TShiftState, int32_t X, int32_t Y) override {
    SetFocus();
    FDown = B == mbLeft;
    FLast = Point(X, Y);
    Canvas().Brush().SetColor(FPen);
    Canvas().FillRect(Rect(X - 4, Y - 4, X + 5, Y + 5));
    Log("down " + std::to_string(B) + " " + std::to_string(X) + " " + std::to_string(Y));
  }
  void MouseMove(TShiftState, int32_t X, int32_t Y) override {
    if (!FDown) return;
    Canvas().Pen().SetColor(FPen);
    Canvas().Pen().SetWidth(3);
    Canvas().MoveTo(FLast.X, FLast.Y);
    Canvas().LineTo(X, Y);
    FLast = Point(X, Y);
    InvalidateRect(Rect(0, 0, GetClientWidth(), GetClientHeight()));
  }
  void MouseUp(TMouseButton B, TShiftState, int32_t X, int32_t Y) override {
    FDown = false;
    Log("up " + std::to_string(B) + " " + std::to_string(X) + " " + std::to_string(Y));
  }
  bool DoMouseWheel(TShiftState, int32_t Delta, TPoint) override {
    FPen = Delta > 0 ? clBlue : clRed;
    Log("wheel " + std::to_string(Delta));
    return true;
  }
  void KeyPress(char& C) override {
    Log(std::string("char ") + C);
    if (C == 'c') {
      TClipboardLock L(Clipboard());
      Clipboard().SetAsHandle(CF_DIB, _CopyBitmaptoDIB(Surface(), 0, 0, 0, 0));
      Log("copied");
    } else if (C == 'v') {
      TClipboardLock L(Clipboard());
      const std::vector<uint8_t> D = Clipboard().GetAsHandle(CF_DIB);
      TBitmap B;
      if (_CopyDIB2Bitmap(D.data(), D.size(), B) && B.GetWidth() > 0) {
        const uint8_t* P = B.ScanLine(0);
        char Buf[64];
        std::snprintf(Buf, sizeof(Buf), "pasted %d %d %02x%02x%02x", B.GetWidth(), B.GetHeight(),
                      P[2], P[1], P[0]);
        Log(Buf);
      } else {
        Log("pasted nothing");
      }
    }
  }

 protected:
  void Resize() override {
    TCustomControl::Resize();
    Canvas().Brush().SetColor(clWhite);
    Canvas().FillRect(Rect(0, 0, GetClientWidth(), GetClientHeight()));
  }
  // The drawing is kept in the surface itself; painting adds nothing.
  void Paint() override {}

 private:
  TBitmap FPicture;
  bool FDown = false;
  TPoint FLast{};
  TColor FPen = clBlack;
};

}  // namespace

int main(int Argc, char** Argv) {
  QApplication A(Argc, Argv);
  QuilloQtInstall();
  TWinControl Root;
  Root.SetBounds(0, 0, 400, 300);
  TSketch Sketch;
  Sketch.SetParent(&Root);
  Sketch.SetBounds(0, 0, 400, 250);
  Sketch.SetBorderStyle(bsSingle);
  TEdit Edit;
  Edit.SetParent(&Root);
  Edit.SetBounds(0, 260, 400, 30);
  Edit.OnChange = [&](TObject*) { Log("text " + Edit.GetText()); };
  TQtControlWidget W(Root);
  W.setWindowTitle("quillo-probe");
  W.move(0, 0);
  W.show();
  Log("ready");
  return A.exec();
}
