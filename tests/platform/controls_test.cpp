// The control framework headless: input routed through the host, focus, layout, scroll bars,
// timers on the virtual clock, deferred freeing, painted surfaces, and the small controls.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "quillo/codecs/png.h"
#include "quillo/platform/controls.h"
#include "quillo/platform/cursors.h"
#include "quillo/platform/screen.h"
#include "quillo/platform/streams.h"
#include "quillo/platform/threads.h"

using namespace quillo;

namespace {

// A control that records what reaches it.
class TProbe : public TCustomControl {
 public:
  explicit TProbe(std::vector<std::string>& Log, const std::string& Name)
      : FLog(Log), FName(Name) {}
  void MouseDown(TMouseButton B, TShiftState S, int32_t X, int32_t Y) override {
    Say("down", B, S, X, Y);
    TCustomControl::MouseDown(B, S, X, Y);
  }
  void MouseMove(TShiftState S, int32_t X, int32_t Y) override { Say("move", mbLeft, S, X, Y); }
  void MouseUp(TMouseButton B, TShiftState S, int32_t X, int32_t Y) override {
    Say("up", B, S, X, Y);
  }
  void Click() override { FLog.push_back(FName + " click"); }
  void DblClick() override { FLog.push_back(FName + " dblclick"); }
  void MouseEnter() override { FLog.push_back(FName + " enter"); }
  void MouseLeave() override { FLog.push_back(FName + " leave"); }
  bool DoMouseWheel(TShiftState, int32_t Delta, TPoint P) override {
    FLog.push_back(FName + " wheel " + std::to_string(Delta) + " " + std::to_string(P.X) + "," +
                   std::to_string(P.Y));
    return WheelHandled;
  }
  void KeyDown(uint16_t& K, TShiftState) override {
    FLog.push_back(FName + " key " + std::to_string(K));
  }
  void KeyPress(char& C) override { FLog.push_back(FName + " char " + std::string(1, C)); }
  bool WantsKey(uint16_t K) const override { return WantArrows && K >= VK_PRIOR && K <= VK_DOWN; }
  void DoEnter() override { FLog.push_back(FName + " focus"); }
  void DoExit() override { FLog.push_back(FName + " blur"); }
  void TimerTick(int32_t Id) override { FLog.push_back(FName + " timer " + std::to_string(Id)); }
  bool WheelHandled = true;
  bool WantArrows = false;

 protected:
  void Paint() override { ++Paints; }

 public:
  int32_t Paints = 0;

 private:
  void Say(const char* What, TMouseButton B, TShiftState S, int32_t X, int32_t Y) {
    FLog.push_back(FName + " " + What + " " + std::to_string(static_cast<int>(B)) + " " +
                   std::to_string(S) + " " + std::to_string(X) + "," + std::to_string(Y));
  }
  std::vector<std::string>& FLog;
  std::string FName;
};

bool Has(const std::vector<std::string>& Log, const std::string& S) {
  return std::find(Log.begin(), Log.end(), S) != Log.end();
}

}  // namespace

TEST(Controls, MouseReachesTheControlUnderItInClientCoordinates) {
  std::vector<std::string> Log;
  TProbe Root(Log, "root"), Child(Log, "child");
  Root.SetBounds(0, 0, 200, 100);
  Root.SetBorderStyle(bsSingle);
  Root.SetCtl3D(false);  // a one-pixel frame
  Child.SetParent(&Root);
  Child.SetBounds(50, 20, 60, 40);
  Child.SetBorderStyle(bsSingle);  // a 3-D edge of gEdgeX x gEdgeY
  TControlHost Host(Root);

  // Window (62, 33) = root client (61, 32) = child bounds (11, 12) = child client (11 - e, 12 - e).
  Host.MouseMove(62, 33);
  Host.MouseDown(62, 33, mbLeft, ssShift);
  Host.MouseUp(62, 33, mbLeft, ssShift);
  const std::string P = std::to_string(11 - gEdgeX) + "," + std::to_string(12 - gEdgeY);
  EXPECT_TRUE(Has(Log, "child enter"));
  EXPECT_TRUE(Has(Log, "child down 0 " + std::to_string(ssShift | ssLeft) + " " + P));
  EXPECT_TRUE(Has(Log, "child up 0 " + std::to_string(ssShift | ssLeft) + " " + P));
  EXPECT_TRUE(Has(Log, "child click"));
  EXPECT_FALSE(Has(Log, "root click"));
  // Outside the child, the root gets it; the child hears it leave.
  Log.clear();
  Host.Click(5, 5, mbRight);
  EXPECT_TRUE(Has(Log, "child leave"));
  EXPECT_TRUE(Has(Log, "root down 1 " + std::to_string(ssRight) + " 4,4"));
  EXPECT_FALSE(Has(Log, "root click"));  // only the left button clicks
  // A hidden or disabled child lets the mouse through to its parent.
  Log.clear();
  Child.SetEnabled(false);
  Host.Click(62, 33);
  EXPECT_TRUE(Has(Log, "root click"));
  EXPECT_EQ(Host.GetShownCursor(), 0);
}

TEST(Controls, CaptureFollowsADragOutsideTheControl) {
  std::vector<std::string> Log;
  TProbe Root(Log, "root"), Child(Log, "child");
  Root.SetBounds(0, 0, 200, 100);
  Child.SetParent(&Root);
  Child.SetBounds(10, 10, 20, 20);
  TControlHost Host(Root);
  Host.MouseMove(15, 15);
  Host.MouseDown(15, 15, mbLeft);
  EXPECT_EQ(Host.GetCaptured(), &Child);
  Host.MouseMove(150, -30);  // outside the child and outside the window
  Host.MouseUp(150, -30, mbLeft);
  EXPECT_TRUE(Has(Log, "child move 0 " + std::to_string(ssLeft) + " 140,-40"));
  EXPECT_TRUE(Has(Log, "child up 0 " + std::to_string(ssLeft) + " 140,-40"));
  EXPECT_FALSE(Has(Log, "child click"));  // released outside: no click
  EXPECT_FALSE(Has(Log, "root move 0 0 150,-30"));
  EXPECT_EQ(Host.GetCaptured(), nullptr);
  // A double click: DblClick, then a press with ssDouble.
  Log.clear();
  Host.MouseDown(15, 15, mbLeft);
  Host.MouseUp(15, 15, mbLeft);
  Host.DoubleClick(15, 15, mbLeft);
  Host.MouseUp(15, 15, mbLeft);
  EXPECT_TRUE(Has(Log, "child dblclick"));
  EXPECT_TRUE(Has(Log, "child down 0 " + std::to_string(ssLeft | ssDouble) + " 5,5"));
  // Losing the window's focus ends a drag.
  Host.MouseDown(15, 15, mbLeft);
  Host.FocusOut();
  EXPECT_EQ(Host.GetCaptured(), nullptr);
}

TEST(Controls, WheelGoesToTheControlUnderTheMouseThenItsParents) {
  std::vector<std::string> Log;
  TProbe Root(Log, "root"), Child(Log, "child");
  Root.SetBounds(0, 0, 200, 100);
  Child.SetParent(&Root);
  Child.SetBounds(10, 10, 50, 50);
  TControlHost Host(Root);
  Host.Wheel(20, 30, -WHEEL_DELTA);
  EXPECT_EQ(Log, std::vector<std::string>{"child wheel -120 10,20"});
  Child.WheelHandled = false;
  Log.clear();
  Host.Wheel(20, 30, 2 * WHEEL_DELTA);
  EXPECT_EQ(Log, (std::vector<std::string>{"child wheel 240 10,20", "root wheel 240 20,30"}));
}

TEST(Controls, KeysGoToTheFocusedControlAndTabFollowsTheTabOrder) {
  std::vector<std::string> Log;
  TProbe Root(Log, "root"), A(Log, "a"), B(Log, "b"), C(Log, "c");
  Root.SetBounds(0, 0, 300, 100);
  for (TProbe* P : {&A, &B, &C}) {
    P->SetParent(&Root);
    P->SetTabStop(true);
  }
  A.SetBounds(0, 0, 50, 50);
  B.SetBounds(100, 0, 50, 50);
  C.SetBounds(200, 0, 50, 50);
  C.SetTabOrder(0);  // C, A, B
  EXPECT_EQ(A.GetTabOrder(), 1);
  EXPECT_EQ(B.GetTabOrder(), 2);
  TControlHost Host(Root);
  Host.Key(VK_TAB);
  EXPECT_EQ(Host.GetFocused(), &C);
  Host.Key(VK_TAB);
  EXPECT_EQ(Host.GetFocused(), &A);
  Host.Key(VK_TAB, ssShift);
  EXPECT_EQ(Host.GetFocused(), &C);
  EXPECT_TRUE(Has(Log, "a blur"));
  // Keys and characters reach the focused control; arrows only when it asks for them.
  Log.clear();
  Host.Key('Q');
  Host.Key(VK_LEFT);
  EXPECT_EQ(Log, (std::vector<std::string>{"c key 81", "c char q"}));
  C.WantArrows = true;
  Host.Key(VK_LEFT);
  EXPECT_TRUE(Has(Log, "c key 37"));
  // A click moves the focus to a control that takes it; a hidden control loses it.
  Host.Click(120, 10);
  EXPECT_EQ(Host.GetFocused(), &B);
  B.SetVisible(false);
  EXPECT_EQ(Host.GetFocused(), nullptr);
}

TEST(Controls, AlignAndAnchorsFollowResizes) {
  TWinControl Root;
  Root.SetBounds(0, 0, 400, 300);
  TWinControl Top, Left, Fill, Corner, Stretch;
  for (TWinControl* C : {&Top, &Left, &Fill, &Corner, &Stretch}) C->SetParent(&Root);
  Top.SetHeight(30);
  Top.SetAlign(alTop);
  Left.SetWidth(50);
  Left.SetAlign(alLeft);
  Fill.SetAlign(alClient);
  Corner.SetBounds(380, 280, 10, 10);
  Corner.SetAnchors(akRight | akBottom);
  Stretch.SetBounds(100, 100, 200, 20);
  Stretch.SetAnchors(akLeft | akRight | akTop);
  EXPECT_EQ(Top.GetBoundsRect(), Rect(0, 0, 400, 30));
  EXPECT_EQ(Left.GetBoundsRect(), Rect(0, 30, 50, 300));
  EXPECT_EQ(Fill.GetBoundsRect(), Rect(50, 30, 400, 300));
  TControlHost Host(Root);
  Host.Resize(500, 350);
  EXPECT_EQ(Top.GetBoundsRect(), Rect(0, 0, 500, 30));
  EXPECT_EQ(Fill.GetBoundsRect(), Rect(50, 30, 500, 350));
  EXPECT_EQ(Corner.GetBoundsRect(), Rect(480, 330, 490, 340));
  EXPECT_EQ(Stretch.GetBoundsRect(), Rect(100, 100, 400, 120));
  // Sizes are clamped, never negative or huge; a cycle of parents is refused.
  Host.Resize(-5, 1 << 30);
  EXPECT_EQ(Root.GetWidth(), 0);
  EXPECT_EQ(Root.GetHeight(), TControl::kMaxControlSize);
  EXPECT_THROW(Root.SetParent(&Fill), EInvalidOperation);
  EXPECT_THROW(Root.SetParent(&Root), EInvalidOperation);
}

TEST(Controls, ScrollBarsTakeClientRoomAndScrollCodesStayInRange) {
  TWinControl W;
  W.SetBounds(0, 0, 100, 80);
  TScrollBarInfo I;
  I.Visible = true;
  I.Min = 0;
  I.Max = 99;
  I.Page = 10;
  I.Position = 500;  // clamped to Max - Page + 1
  W.SetScrollInfo(sbVertical, I);
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 90);
  EXPECT_EQ(W.GetClientWidth(), 100 - gScrollBarSize);
  EXPECT_EQ(W.GetClientHeight(), 80);
  W.SendScroll(sbVertical, scTop, 0);
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 0);
  W.SendScroll(sbVertical, scLineUp, 0);
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 0);
  W.SendScroll(sbVertical, scLineDown, 0);
  W.SendScroll(sbVertical, scPageDown, 0);
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 11);
  W.SendScroll(sbVertical, scTrack, 40);
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 40);
  I = W.GetScrollInfo(sbVertical);
  I.Tracking = false;
  W.SetScrollInfo(sbVertical, I);
  W.SendScroll(sbVertical, scTrack, 60);  // ignored while not tracking
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 40);
  W.SendScroll(sbVertical, scPosition, 60);
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 60);
  W.SendScroll(sbVertical, scBottom, 0);
  EXPECT_EQ(W.GetScrollInfo(sbVertical).Position, 90);
  W.ShowScrollBar(sbVertical, false);
  EXPECT_EQ(W.GetClientWidth(), 100);
}

TEST(Controls, TimersFireInOrderOnTheVirtualClockAndNeverReachAFreedControl) {
  Application().UseVirtualClock(true);
  std::vector<std::string> Log;
  auto A = std::make_unique<TProbe>(Log, "a");
  TProbe B(Log, "b");
  A->SetTimer(1, 30);
  B.SetTimer(2, 20);
  TTimer T;
  T.SetInterval(25);
  T.OnTimer = [&](TObject*) { Log.push_back("t"); };
  Application().AdvanceClock(60);
  EXPECT_EQ(Log, (std::vector<std::string>{"b timer 2", "t", "a timer 1", "b timer 2", "t",
                                           "a timer 1", "b timer 2"}));
  EXPECT_EQ(Application().Now(), 60);
  Log.clear();
  A->Post([&] { Log.push_back("posted"); });
  A.reset();
  B.KillTimer(2);
  T.SetEnabled(false);
  Application().AdvanceClock(100);
  Application().ProcessMessages();
  EXPECT_TRUE(Log.empty());
  Application().UseVirtualClock(false);
}

TEST(Controls, AControlFreedInItsOwnHandlerGoesAfterTheHandlerReturns) {
  struct TSelfFreeing : TCustomControl {
    bool* Gone;
    bool InHandler = false;
    explicit TSelfFreeing(bool* G) : Gone(G) {}
    ~TSelfFreeing() override { *Gone = true; }
    void Click() override {
      InHandler = true;
      Application().ReleaseLater(std::unique_ptr<TObject>(Owned.release()));
      EXPECT_FALSE(*Gone);  // still here while its handler runs
      InHandler = false;
    }
    std::unique_ptr<TSelfFreeing> Owned;
  };
  TWinControl Root;
  Root.SetBounds(0, 0, 50, 50);
  TControlHost Host(Root);
  bool Gone = false;
  auto Self = std::make_unique<TSelfFreeing>(&Gone);
  TSelfFreeing* Raw = Self.get();
  Raw->Owned = std::move(Self);
  Raw->SetParent(&Root);
  Raw->SetBounds(0, 0, 50, 50);
  Host.Click(10, 10);
  EXPECT_TRUE(Gone);
  EXPECT_EQ(Root.GetControlCount(), 0);
  EXPECT_EQ(Host.GetHovered(), nullptr);
  Host.Click(10, 10);  // nothing left to reach
}

TEST(Controls, TheWindowImageShowsEachSurfaceInItsPlace) {
  struct TFill : TCustomControl {
    TColor C;
    explicit TFill(TColor Colour) : C(Colour) {}
    void Paint() override {
      Canvas().Brush().SetColor(C);
      Canvas().FillRect(Rect(0, 0, GetClientWidth(), GetClientHeight()));
    }
  };
  TFill Root(clBlue), Child(clRed);
  Root.SetBounds(0, 0, 40, 30);
  Root.SetBorderStyle(bsSingle);
  Root.SetCtl3D(false);
  Child.SetParent(&Root);
  Child.SetBounds(5, 6, 10, 8);
  TControlHost Host(Root);
  Host.PaintAll();
  const TBitmap& W = Host.WindowImage();
  ASSERT_EQ(W.GetWidth(), 40);
  auto At = [&](int X, int Y) {
    const uint8_t* P = W.ScanLine(Y) + 3 * X;
    return RGBColor(P[2], P[1], P[0]);
  };
  EXPECT_EQ(At(0, 0), clBlack);  // the frame
  EXPECT_EQ(At(1, 1), clBlue);   // the root's client
  EXPECT_EQ(At(6, 7), clRed);    // the child's first pixel: frame 1 + (5, 6)
  EXPECT_EQ(At(15, 14), clRed);  // its last
  EXPECT_EQ(At(16, 15), clBlue);
  EXPECT_EQ(Child.Surface().GetWidth(), 10);
  // Nothing repaints until something is invalid.
  Host.PaintAll();
  EXPECT_FALSE(Child.IsInvalid());
}

TEST(Controls, EditControlsEditText) {
  TWinControl Root;
  Root.SetBounds(0, 0, 300, 200);
  TEdit Edit;
  TMemo Memo;
  Edit.SetParent(&Root);
  Memo.SetParent(&Root);
  Edit.SetBounds(0, 0, 200, 24);
  Memo.SetBounds(0, 40, 200, 100);
  TControlHost Host(Root);
  int Changes = 0;
  Edit.OnChange = [&](TObject*) { ++Changes; };
  Edit.SetFocus();
  Host.Type("hello");
  Host.Key(VK_LEFT);
  Host.Key(VK_LEFT, ssShift);
  EXPECT_EQ(Edit.GetSelText(), "l");
  Host.Type("L");
  Host.Key(VK_HOME);
  Host.Key(VK_DELETE);
  Host.Key(VK_END);
  Host.Key(VK_BACK);
  Host.Key(VK_RETURN);  // a single line takes no line break
  EXPECT_EQ(Edit.GetText(), "elL");
  EXPECT_EQ(Changes, 8);
  Host.Key(VK_TAB);
  EXPECT_EQ(Host.GetFocused(), &Memo);
  Host.Type("ab\rcd");
  Host.Key(VK_UP);
  Host.Type("X");
  EXPECT_EQ(Memo.GetText(), "abX\ncd");
  EXPECT_EQ(Memo.Lines().size(), 2u);
  Host.Key('A', ssCtrl);
  EXPECT_EQ(Memo.GetSelLength(), 6);
  Host.PaintAll();  // paints text, selection and caret without fault
}

TEST(Controls, HintsStayOnScreenAndPopupMenusOpenOnTheRightButton) {
  THintWindow Hint;
  Hint.ActivateHint(gScreenWidth - 5, gScreenHeight - 2, "Length: 12.5 mm\nArea: 3 mm2");
  EXPECT_TRUE(Hint.GetVisible());
  EXPECT_LE(Hint.GetLeft() + Hint.GetWidth(), gScreenWidth);
  EXPECT_LE(Hint.GetTop() + Hint.GetHeight(), gScreenHeight);
  EXPECT_GT(Hint.GetHeight(), 2 * 8);  // two lines
  Hint.Update();

  TWinControl Root;
  Root.SetBounds(0, 0, 100, 100);
  TControlHost Host(Root);
  std::string Chosen;
  {
    TPopupMenu Menu;
    Menu.Items = {{"Zoom in", true, false, [&](TObject*) { Chosen = "in"; }},
                  {"-", true, false, nullptr},
                  {"Zoom out", false, false, [&](TObject*) { Chosen = "out"; }}};
    Root.SetPopupMenu(&Menu);
    Host.Click(30, 40, mbRight);
    ASSERT_TRUE(Menu.IsOpen());
    EXPECT_EQ(Menu.GetPopupPoint(), Point(30, 40));
    EXPECT_EQ(Menu.GetPopupComponent(), &Root);
    Menu.Choose(2);  // disabled
    EXPECT_EQ(Chosen, "");
    Host.Click(30, 40, mbRight);
    Menu.Choose(0);
    EXPECT_EQ(Chosen, "in");
    EXPECT_FALSE(Menu.IsOpen());
  }
  EXPECT_EQ(Root.GetPopupMenu(), nullptr);  // the freed menu is forgotten
  Host.Click(30, 40, mbRight);
}

TEST(Cursors, EveryNumberedCursorHasADrawnImageWithItsHotSpotOnIt) {
  std::vector<TCursor> All = {crArrow,  crCross,     crIBeam, crSizeNESW,  crSizeNS, crSizeNWSE,
                              crSizeWE, crHourGlass, crNo,    crHandPoint, crSizeAll};
  for (TCursor C = crQLZoomOut; C <= crQLMove; ++C) All.push_back(C);
  TBitmap Sheet;
  Sheet.SetPixelFormat(pf24bit);
  Sheet.SetSize(36 * static_cast<int32_t>(All.size()), 36);
  TCanvas Canvas(&Sheet);
  Canvas.Brush().SetColor(RGBColor(0x40, 0x80, 0xC0));
  Canvas.FillRect(Rect(0, 0, Sheet.GetWidth(), 36));
  for (size_t K = 0; K < All.size(); ++K) {
    const TCursorImage& I = CursorImage(All[K]);
    ASSERT_FALSE(I.Empty()) << All[K];
    EXPECT_EQ(I.Width, 32);
    int32_t Opaque = 0, Black = 0, White = 0;
    for (int32_t Y = 0; Y < I.Height; ++Y)
      for (int32_t X = 0; X < I.Width; ++X) {
        const uint32_t P = I.At(X, Y);
        if (!(P >> 24)) continue;
        ++Opaque;
        Black += (P & 0xFFFFFF) == 0;
        White += (P & 0xFFFFFF) == 0xFFFFFF;
        uint8_t* Row = Sheet.ScanLine(2 + Y);
        Row[3 * (36 * static_cast<int32_t>(K) + 2 + X)] = static_cast<uint8_t>(P);
        Row[3 * (36 * static_cast<int32_t>(K) + 2 + X) + 1] = static_cast<uint8_t>(P >> 8);
        Row[3 * (36 * static_cast<int32_t>(K) + 2 + X) + 2] = static_cast<uint8_t>(P >> 16);
      }
    // A shape outlined in black around white, neither empty nor a filled square.
    EXPECT_GT(Opaque, 20) << All[K];
    EXPECT_LT(Opaque, 32 * 32 * 2 / 3) << All[K];
    EXPECT_GT(Black, 0) << All[K];
    EXPECT_GT(White, 0) << All[K];
    EXPECT_TRUE(I.HotX >= 0 && I.HotX < 32 && I.HotY >= 0 && I.HotY < 32);
  }
  EXPECT_TRUE(CursorImage(crNone).Empty());
  EXPECT_TRUE(CursorImage(4242).Empty());
  SetCursorImage(4242, CursorImage(crQLPen));
  EXPECT_FALSE(CursorImage(4242).Empty());
  // The sheet, for a person to look at when QUILLO_SHOW is set.
  if (const char* Dir = std::getenv("QUILLO_SHOW")) {
    TFileStream F(std::string(Dir) + "/cursors.png", fmCreate);
    TIOParamsVals P;
    bool Abort = false;
    TProgressRec R = QLProgressRec(nullptr, nullptr, Abort);
    WritePNGStream(F, Sheet, P, R);
  }
}
