// The viewer's window on Qt's offscreen screen: what it opens, what a failed open leaves, an
// operation inside a selection with its undo, the form that asks for its numbers, and a save
// that would lose something.
#ifdef QUILLO_TEST_VIEWER
#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QTimer>
#include <cstring>
#include <filesystem>

#include "apps/quillo-view/forms.h"
#include "apps/quillo-view/viewerwindow.h"
#include "quillo/io/quilloio.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

void Save(TBitmap& B, const std::string& Path) {
  TQuilloIO IO;
  IO.SetAttachedBitmap(&B);
  IO.SaveToFile(Path);
  ASSERT_FALSE(IO.Aborting);
}

TBitmap Load(const std::string& Path) {
  TBitmap B;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&B);
  IO.LoadFromFile(Path);
  return B;
}

struct Viewer : ::testing::Test {
  TempDir Dir;
  view::TViewerWindow W;
  std::vector<std::string> Told;
  Viewer() {
    W.OnTell = [this](const QString& T) { Told.push_back(T.toStdString()); };
    W.resize(640, 480);
    W.show();
    QApplication::processEvents();
  }
};

TEST_F(Viewer, OpensAndKeepsTheImageWhenAnOpenFails) {
  TBitmap B = RandomBitmap24(64, 40, 3);
  Save(B, Dir.File("a.png"));
  ASSERT_TRUE(W.OpenFile(QString::fromStdString(Dir.File("a.png"))));
  EXPECT_TRUE(SamePixels(W.View().Bitmap(), B));
  EXPECT_FALSE(W.Modified());
  EXPECT_TRUE(W.windowTitle().startsWith("a.png"));
  // A damaged file and a missing one: the user is told, the image shown stays.
  WriteFileBytes(Dir.File("bad.png"), {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0});
  EXPECT_FALSE(W.OpenFile(QString::fromStdString(Dir.File("bad.png"))));
  EXPECT_FALSE(W.OpenFile(QString::fromStdString(Dir.File("none.png"))));
  ASSERT_EQ(Told.size(), 2u);
  EXPECT_NE(Told[0].find("bad.png"), std::string::npos) << Told[0];
  EXPECT_TRUE(SamePixels(W.View().Bitmap(), B));
  EXPECT_TRUE(W.windowTitle().startsWith("a.png"));
}

TEST_F(Viewer, AnOperationChangesOnlyTheSelectionAndIsUndone) {
  TBitmap B = RandomBitmap24(50, 30, 5);
  Save(B, Dir.File("b.bmp"));
  ASSERT_TRUE(W.OpenFile(QString::fromStdString(Dir.File("b.bmp"))));
  W.View().SetSelectionBase(qlsbBitmap);
  W.View().Select(10, 5, 20, 15, qlspReplace);
  W.RunOperation(*tool::FindOp("negative"));
  EXPECT_TRUE(W.Modified());
  const TBitmap& Got = W.View().Bitmap();
  for (int32_t Y = 0; Y < 30; ++Y)
    for (int32_t X = 0; X < 50; ++X) {
      const bool Inside = X >= 10 && X < 20 && Y >= 5 && Y < 15;
      const uint8_t V = B.ScanLine(Y)[3 * X];
      ASSERT_EQ(Got.ScanLine(Y)[3 * X], Inside ? 255 - V : V) << X << "," << Y;
    }
  W.View().Proc().Undo();
  EXPECT_TRUE(SamePixels(W.View().Bitmap(), B));
}

// An operation's form takes the keys in its first field, the offered value selected: typing
// replaces it and Return accepts.
TEST_F(Viewer, AnOperationsFormTakesTheKeysInItsFirstField) {
  tool::TValues V;
  V.FValues["Angle"] = "90";
  bool Focused = false;
  QTimer::singleShot(50, [&Focused] {
    QWidget* Form = QApplication::activeModalWidget();
    ASSERT_NE(Form, nullptr);
    QWidget* Field = Form->focusWidget();
    Focused = qobject_cast<QAbstractSpinBox*>(Field) != nullptr;
    if (!Field) Field = Form;
    for (const auto& [Key, Text] :
         {std::pair{Qt::Key_3, "3"}, std::pair{Qt::Key_0, "0"}, std::pair{Qt::Key_Return, "\r"}}) {
      QKeyEvent Press(QEvent::KeyPress, Key, Qt::NoModifier, QString(Text));
      QApplication::sendEvent(Field, &Press);
      QKeyEvent Release(QEvent::KeyRelease, Key, Qt::NoModifier, QString(Text));
      QApplication::sendEvent(Field, &Release);
    }
    if (Form->isVisible()) static_cast<QDialog*>(Form)->reject();
  });
  ASSERT_TRUE(view::AskOperationValues(&W, *tool::FindOp("rotate"), V));
  EXPECT_TRUE(Focused);
  EXPECT_EQ(V.FValues["Angle"], "30");
}

TEST_F(Viewer, SavingAsksBeforeLosingAndWritesWhatIsShown) {
  // A 16-bit grey PNG written as JPEG loses its depth: the user is asked first.
  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  ASSERT_EQ(RunCommand("convert -size 32x24 gradient:black-white -depth 16 PNG48:" +
                       Dir.File("deep.png")),
            0);
  ASSERT_TRUE(W.OpenFile(QString::fromStdString(Dir.File("deep.png"))));
  std::vector<std::string> Asked;
  bool Answer = false;
  W.OnAsk = [&](const QString& T) {
    Asked.push_back(T.toStdString());
    return Answer;
  };
  const QString Out = QString::fromStdString(Dir.File("out.png"));
  EXPECT_FALSE(W.SaveTo(Out));
  ASSERT_EQ(Asked.size(), 1u);
  EXPECT_NE(Asked[0].find("16-bit"), std::string::npos) << Asked[0];
  EXPECT_FALSE(std::filesystem::exists(Dir.File("out.png")));
  Answer = true;
  ASSERT_TRUE(W.SaveTo(Out));
  EXPECT_TRUE(SamePixels(Load(Dir.File("out.png")), W.View().Bitmap()));
  EXPECT_TRUE(W.windowTitle().startsWith("out.png"));
  // What was written keeps nothing more to lose: a second save asks nothing.
  Asked.clear();
  ASSERT_TRUE(W.SaveTo(Out));
  EXPECT_TRUE(Asked.empty());
  // A name no writer takes is refused with a message.
  EXPECT_FALSE(W.SaveTo(QString::fromStdString(Dir.File("out.xyz"))));
  EXPECT_FALSE(Told.empty());
}

TEST_F(Viewer, AnnotationsAreWrittenIntoTheFileAndStayEditable) {
  TBitmap B(60, 40, pf24bit);
  std::memset(B.ScanLine(B.GetHeight() - 1), 255, static_cast<size_t>(B.BitsSize()));
  Save(B, Dir.File("w.png"));
  ASSERT_TRUE(W.OpenFile(QString::fromStdString(Dir.File("w.png"))));
  const int32_t h = W.View().AddNewObject();
  W.View().SetObjKind(h, qlkBOX);
  W.View().SetObjRect(h, TRect{10, 10, 30, 20});
  W.View().SetObjPenColor(h, clBlack);
  ASSERT_TRUE(W.SaveTo(QString::fromStdString(Dir.File("a.png"))));
  const TBitmap Saved = Load(Dir.File("a.png"));
  EXPECT_EQ(Saved.ScanLine(15)[3 * 10], 0);
  EXPECT_EQ(Saved.ScanLine(15)[3 * 20], 255);
  // The picture kept in the window has no box drawn in; the box is still an object.
  EXPECT_TRUE(SamePixels(W.View().Bitmap(), B));
  EXPECT_EQ(W.View().ObjectsCount(), 1);
}

TEST_F(Viewer, AFileOfSeveralImagesShowsThemInTheStrip) {
  if (!HaveProgram("convert")) GTEST_SKIP();
  ASSERT_EQ(RunCommand("convert -delay 20 -size 16x12 xc:red xc:lime xc:blue -loop 0 " +
                       Dir.File("anim.gif")),
            0);
  ASSERT_TRUE(W.OpenFile(QString::fromStdString(Dir.File("anim.gif")), 1)) << Told.front();
  QApplication::processEvents();
  EXPECT_EQ(W.View().Bitmap().ScanLine(0)[1], 255);  // lime: green 255
  EXPECT_TRUE(W.windowTitle().contains("(2 of 3)")) << W.windowTitle().toStdString();
  EXPECT_TRUE(Told.empty());
  // Of more images than the strip shows at once, the one shown is scrolled into sight.
  const std::string Long = Dir.File("long.gif");
  for (int I = 0; I < 24; ++I) {
    TBitmap Frame = RandomBitmap24(16, 12, static_cast<uint32_t>(I + 1));
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Frame);
    IO.IOParams().GifImageIndex = I;
    ASSERT_TRUE(I == 0 ? (IO.SaveToFileGif(Long), !IO.Aborting) : IO.InsertToFileGif(Long));
  }
  ASSERT_TRUE(W.OpenFile(QString::fromStdString(Long), 20));
  for (int I = 0; I < 10; ++I) QApplication::processEvents();
  EXPECT_EQ(W.Strip().GetSelectedItem(), 20);
  EXPECT_EQ(W.Strip().GetImageVisibility(20), 2);
  EXPECT_GT(W.Strip().GetViewX(), 0);
}

}  // namespace
#endif
