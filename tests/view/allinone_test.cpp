// The all-in-one control gives the same results as a view with separate I/O and processing
// components attached.
#include <gtest/gtest.h>

#include "quillo/quillo.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// A view with its own components, the way an application wires them without TQuillo.
struct TSeparate {
  TQuilloView View;
  TQuilloProc Proc;
  TQuilloIO IO;
  TSeparate() {
    View.SetBounds(0, 0, 120, 90);
    Proc.SetAttachedQuillo(&View);
    Proc.SetAutoUndo(true);
    IO.SetAttachedQuillo(&View);
  }
};

std::string WriteSample(const TempDir& Dir) {
  TQuilloView V;
  const TBitmap B = RandomBitmap24(67, 45, 3);
  V.Assign(&B);
  TQuilloIO IO;
  IO.SetAttachedQuillo(&V);
  const std::string Path = Dir.Path() + "/sample.png";
  IO.SaveToFile(Path);
  return Path;
}

}  // namespace

TEST(AllInOne, LoadsLikeTheSeparateComponentsAndReportsToOneHandler) {
  TempDir Dir;
  const std::string Path = WriteSample(Dir);
  TQuillo Q;
  Q.SetBounds(0, 0, 120, 90);
  int32_t Reports = 0;
  Q.SetOnProgress([&](TObject*, int32_t) { ++Reports; });
  Q.LoadFromFile(Path);
  EXPECT_FALSE(Q.GetAborting());
  EXPECT_GT(Reports, 0);
  TSeparate S;
  S.IO.LoadFromFile(Path);
  EXPECT_TRUE(SamePixels(Q.Bitmap(), S.View.Bitmap()));
  EXPECT_EQ(Q.IOParams().Width, 67);
  EXPECT_EQ(Q.IOParams().FileType, S.IO.IOParams().FileType);

  // The same handler hears processing.
  Reports = 0;
  Q.Negative();
  EXPECT_GT(Reports, 0);

  // A file the I/O component cannot open fails as it does there.
  EXPECT_ANY_THROW(Q.LoadFromFile(Dir.Path() + "/none.png"));
  EXPECT_ANY_THROW(S.IO.LoadFromFile(Dir.Path() + "/none.png"));
}

TEST(AllInOne, ProcessesWithUndoLikeTheSeparateComponents) {
  const TBitmap B = RandomBitmap24(50, 40, 8);
  TQuillo Q;
  Q.SetBounds(0, 0, 120, 90);
  Q.TQuilloView::Assign(&B);
  TSeparate S;
  S.View.Assign(&B);
  EXPECT_TRUE(Q.GetAutoUndo());
  EXPECT_FALSE(Q.GetCanUndo());

  Q.SetSelectionBase(qlsbBitmap);
  S.View.SetSelectionBase(qlsbBitmap);
  Q.Select(5, 5, 30, 25, qlspReplace);
  S.View.Select(5, 5, 30, 25, qlspReplace);
  Q.Negative();
  S.Proc.Negative();
  Q.Contrast(40);
  S.Proc.Contrast(40);
  Q.Flip(fdHorizontal);
  S.Proc.Flip(fdHorizontal);
  EXPECT_TRUE(SamePixels(Q.Bitmap(), S.View.Bitmap()));
  EXPECT_TRUE(Q.GetCanUndo());
  Q.Undo();
  S.Proc.Undo();
  EXPECT_TRUE(SamePixels(Q.Bitmap(), S.View.Bitmap()));

  // Clear is the processing component's: it can be undone, unlike the view's own.
  Q.ClearUndo();
  EXPECT_FALSE(Q.GetCanUndo());
  Q.Clear();
  EXPECT_TRUE(Q.GetCanUndo());
  Q.Undo();
  EXPECT_TRUE(SamePixels(Q.Bitmap(), S.View.Bitmap()));

  // Pasting at a client point lands on the bitmap point under it.
  Q.SetZoom(200);
  Q.SetSelectionBase(qlsbBitmap);
  Q.Select(0, 0, 4, 4, qlspReplace);
  Q.SelCopyToClip();
  Q.DeSelect();
  Q.PointPasteFromClip(20, 10);
  S.View.Select(0, 0, 4, 4, qlspReplace);
  S.Proc.SelCopyToClip();
  S.View.DeSelect();
  S.Proc.PointPasteFromClip(10, 5);
  EXPECT_TRUE(SamePixels(Q.Bitmap(), S.View.Bitmap()));
}

TEST(AllInOne, SavesLikeTheSeparateComponentsAndCopiesParameters) {
  TempDir Dir;
  const TBitmap B = RandomBitmap24(31, 17, 4);
  TQuillo Q;
  Q.TQuilloView::Assign(&B);
  TSeparate S;
  S.View.Assign(&B);
  Q.IOParams().JpegQuality = 55;
  S.IO.IOParams().JpegQuality = 55;
  Q.SaveToFile(Dir.Path() + "/a.jpg");
  S.IO.SaveToFile(Dir.Path() + "/b.jpg");
  EXPECT_EQ(ReadFileBytes(Dir.Path() + "/a.jpg"), ReadFileBytes(Dir.Path() + "/b.jpg"));
  TMemoryStream M1, M2;
  Q.SaveToStreamBMP(M1);
  S.IO.SaveToStreamBMP(M2);
  EXPECT_EQ(M1.GetSize(), M2.GetSize());

  // Assign takes the other control's parameters with its picture; a plain view gives none.
  TQuillo Q2;
  Q2.Assign(&Q);
  EXPECT_EQ(Q2.IOParams().JpegQuality, 55);
  EXPECT_TRUE(SamePixels(Q2.Bitmap(), Q.Bitmap()));
  TQuillo Q3;
  Q3.AssignIOParams(&S.IO);
  EXPECT_EQ(Q3.IOParams().JpegQuality, 55);
  Q3.IOParams().JpegQuality = 90;
  Q3.AssignIOParams(&S.View);
  EXPECT_EQ(Q3.IOParams().JpegQuality, 90);
}
