// The thumbnail view: grid geometry, cell fitting read off the painted surface, lazy loading,
// selection and marks by mouse and keys, keyboard search, playing on the virtual clock, the
// lent bitmap, and decoding on worker threads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "quillo/io/quilloio.h"
#include "quillo/multi/quillomview.h"
#include "quillo/platform/threads.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TBitmap Solid(int32_t W, int32_t H, TColor C) {
  TBitmap B(W, H, pf24bit);
  B.Canvas().Brush().SetColor(C);
  B.Canvas().FillRect(Rect(0, 0, W, H));
  return B;
}

TColor At(const TBitmap& B, int32_t X, int32_t Y) {
  const uint8_t* P = B.ScanLine(Y) + X * 3;
  return P[2] | (P[1] << 8) | (P[0] << 16);
}

// A borderless view of the given client size inside a headless host.
struct TFixture {
  TQuilloMView View;
  std::unique_ptr<TControlHost> Host;
  TFixture(int32_t W, int32_t H, int32_t Images = 0) {
    View.SetBorderStyle(bsNone);
    View.SetBounds(0, 0, W, H);
    View.SetBackGround(0x808080);
    for (int32_t I = 0; I < Images; ++I) {
      View.InsertImageEx(I);
      View.SetImageEx(I, Solid(20, 20, 0x000010 * (I + 1)));
    }
    View.Update();
    Host = std::make_unique<TControlHost>(View);
    Host->PaintAll();
  }
  const TBitmap& Paint() {
    Host->PaintAll();
    return View.Surface();
  }
};

struct TVirtualClock {
  TVirtualClock() { Application().UseVirtualClock(true); }
  ~TVirtualClock() { Application().UseVirtualClock(false); }
};

// "p<I>.jpg", built without the literal-plus-string pattern that trips gcc 12's -Wrestrict.
std::string PhotoName(int32_t I) {
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "p%d.jpg", I);
  return Buf;
}

void WriteJpeg(const std::string& Path, const TBitmap& B) {
  TBitmap Copy;
  Copy.Assign(B);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Copy);
  IO.IOParams().JpegQuality = 95;
  IO.SaveToFile(Path);
}

}  // namespace

TEST(MViewGeometry, GridRowColumnsAndSingleMode) {
  TFixture F(600, 300, 5);
  for (int32_t I = 0; I < 5; ++I) {
    EXPECT_EQ(F.View.GetImageX(I), 4 + 104 * I);
    EXPECT_EQ(F.View.GetImageY(I), 4);
  }
  EXPECT_EQ(F.View.GetExtentX(), 524);
  EXPECT_EQ(F.View.GetExtentY(), 108);

  // As many columns as fit: (330 - 4) div 104 = 3.
  F.View.SetBounds(0, 0, 330, 300);
  F.View.SetGridWidth(-1);
  EXPECT_EQ(F.View.GetColumns(), 3);
  EXPECT_EQ(F.View.GetImageCol(3), 0);
  EXPECT_EQ(F.View.GetImageRow(3), 1);
  EXPECT_EQ(F.View.GetImageY(4), 108);
  EXPECT_EQ(F.View.GetExtentY(), 108 + 104);

  // A client narrower than one cell: every image stays in one row.
  F.View.SetBounds(0, 0, 90, 300);
  EXPECT_EQ(F.View.GetImageRow(4), 0);

  F.View.SetDisplayMode(mdSingle);
  for (int32_t I = 0; I < 5; ++I) {
    EXPECT_EQ(F.View.GetImageX(I), 4);
    EXPECT_EQ(F.View.GetImageY(I), 4);
  }
  EXPECT_EQ(F.View.GetImageX(99), 0);
  EXPECT_EQ(F.View.GetImageID(99), -1);
}

TEST(MViewGeometry, ThumbnailSizes) {
  int32_t W, H;
  QLThumbnailSize(400, 200, 100, 100, W, H);
  EXPECT_EQ(W, 100);
  EXPECT_EQ(H, 50);
  QLThumbnailSize(10, 20, 100, 100, W, H);
  EXPECT_EQ(W, 50);
  EXPECT_EQ(H, 100);
  QLThumbnailSize(1000, 1, 100, 100, W, H);
  EXPECT_EQ(W, 100);
  EXPECT_EQ(H, 1);  // never below one pixel
  QLThumbnailSize(0, 5, 100, 100, W, H);
  EXPECT_EQ(W, 0);
}

TEST(MViewPaint, CellsFittedCentredAndFramed) {
  TFixture F(300, 120);
  F.View.AppendImage();
  F.View.SetImage(0, Solid(400, 200, 0x0000FF));
  F.View.AppendImage();
  F.View.SetImage(1, Solid(10, 20, 0x00FF00));
  F.View.Deselect();
  const TBitmap& S = F.Paint();
  // Image 0: 100 x 50 at (4, 4 + 25).
  EXPECT_EQ(At(S, 4, 29), 0x0000FF);
  EXPECT_EQ(At(S, 103, 78), 0x0000FF);
  EXPECT_EQ(At(S, 4, 28), 0x808080);
  EXPECT_EQ(At(S, 4, 79), 0x808080);
  // Image 1: enlarged to 50 x 100 at (108 + 25, 4).
  EXPECT_EQ(At(S, 133, 4), 0x00FF00);
  EXPECT_EQ(At(S, 182, 103), 0x00FF00);
  EXPECT_EQ(At(S, 132, 50), 0x808080);
  EXPECT_EQ(At(S, 183, 50), 0x808080);

  // Selected without focus: a one-pixel frame just outside the cell.
  F.View.SetSelectedItem(0);
  const TBitmap& S2 = F.Paint();
  EXPECT_EQ(At(S2, 3, 50), 0x0000FF);
  EXPECT_EQ(At(S2, 2, 50), 0x808080);
  // With focus: SelectionWidth pixels.
  F.View.SetFocus();
  const TBitmap& S3 = F.Paint();
  EXPECT_EQ(At(S3, 1, 50), 0x0000FF);
  EXPECT_EQ(At(S3, 0, 50), 0x808080);

  // The image's own background fills its cell when asked.
  F.View.SetImageBackground(0, 0x112233);
  F.View.SetDrawImageBackground(true);
  EXPECT_EQ(At(F.Paint(), 50, 10), 0x112233);
}

TEST(MViewImages, InsertDeleteMoveKeepTheSelectionOnItsImage) {
  TFixture F(600, 300, 5);
  F.View.SetSelectedItem(4);
  F.View.DeleteImage(4);
  EXPECT_EQ(F.View.GetSelectedItem(), 3);  // the selected last image: the new last one
  F.View.SetImageID(2, 77);
  F.View.SetSelectedItem(2);
  F.View.DeleteImage(0);
  EXPECT_EQ(F.View.GetSelectedItem(), 1);
  EXPECT_EQ(F.View.GetImageID(1), 77);
  EXPECT_EQ(F.View.GetLastOp(), 2);
  EXPECT_EQ(F.View.GetLastOp(), 0);  // reading resets it

  F.View.InsertImage(10);  // past the end: appended and selected
  EXPECT_EQ(F.View.GetImageCount(), 4);
  EXPECT_EQ(F.View.GetSelectedItem(), 3);
  EXPECT_EQ(F.View.GetLastOpIdx(), 3);
  F.View.SetImageFileName(0, "a.jpg");
  EXPECT_EQ(F.View.GetImageID(0), -1);
  F.View.SetImageID(0, 5);
  EXPECT_EQ(F.View.GetImageFileName(0), "");

  // The selection stays at its index when an image moves.
  F.View.SetSelectedItem(1);
  F.View.MoveImage(1, 3);
  EXPECT_EQ(F.View.GetImageID(3), 77);
  EXPECT_EQ(F.View.GetSelectedItem(), 1);
  F.View.Clear();
  EXPECT_EQ(F.View.GetImageCount(), 0);
  EXPECT_EQ(F.View.GetFBitmap(), nullptr);
}

TEST(MViewImages, LentBitmapIsWrittenBackWhenTheSelectionMoves) {
  TFixture F(600, 300, 3);
  F.View.SetSelectedItem(1);
  TBitmap* B = F.View.GetFBitmap();
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(B->GetWidth(), 20);
  B->SetSize(30, 10);
  B->Canvas().Brush().SetColor(0x123456);
  B->Canvas().FillRect(Rect(0, 0, 30, 10));
  F.View.SetSelectedItem(2);
  EXPECT_EQ(F.View.GetImageWidth(1), 30);
  TBitmap* Again = F.View.GetBitmap(1);
  ASSERT_NE(Again, nullptr);
  EXPECT_EQ(At(*Again, 29, 9), 0x123456);
  F.View.ReleaseBitmap(1);
}

TEST(MViewImages, ThumbStoreReducesAndOneBitImagesTurnGrey) {
  TFixture F(600, 300);
  F.View.SetStoreType(qltThumb);
  F.View.AppendImage();
  F.View.SetImage(0, RandomBitmap24(640, 320, 3));
  EXPECT_EQ(F.View.GetImageWidth(0), 100);
  EXPECT_EQ(F.View.GetImageHeight(0), 50);
  F.View.AppendImage();
  F.View.SetImage(1, RandomBitmap1(400, 400, 4));
  EXPECT_EQ(F.View.GetImageWidth(1), 100);
  TBitmap* B = F.View.GetBitmap(1);
  ASSERT_NE(B, nullptr);
  EXPECT_EQ(B->GetPixelFormat(), pf24bit);
  F.View.ReleaseBitmap(1);
}

TEST(MViewLoading, FilesLoadWhenTheirCellShowsAndIdsAskTheApplication) {
  TempDir Dir;
  TFixture F(210, 112);  // two cells across, one row
  F.View.SetStoreType(qltThumb);
  for (int32_t I = 0; I < 6; ++I) {
    const std::string Name = Dir.File(PhotoName(I));
    WriteJpeg(Name, Solid(800, 600, 0x0000F0));
    F.View.InsertImageEx(I);
    F.View.SetImageFileName(I, Name);
  }
  F.View.InsertImageEx(6);
  F.View.SetImageFileName(6, Dir.File("missing.jpg"));
  F.View.InsertImageEx(7);
  F.View.SetImageID(7, 42);
  int32_t Asked = -1;
  TBitmap Given = Solid(8, 8, 0x00FF00);
  F.View.OnImageIDRequest = [&](TObject*, int32_t ID, TBitmap*& B) {
    Asked = ID;
    B = &Given;
  };
  F.View.Update();
  F.Paint();
  EXPECT_TRUE(F.View.IsImageLoaded(0));
  EXPECT_TRUE(F.View.IsImageLoaded(1));
  EXPECT_FALSE(F.View.IsImageLoaded(2));
  // Read reduced: the decoder's scaling, then the cell.
  EXPECT_EQ(F.View.GetImageWidth(0), 100);
  EXPECT_EQ(F.View.GetImageHeight(0), 75);
  const uint8_t* P = F.View.Surface().ScanLine(50) + 50 * 3;
  EXPECT_NEAR(P[2], 0xF0, 6);

  F.View.SetViewX(6 * 104);
  F.Paint();
  EXPECT_FALSE(F.View.IsImageLoaded(6));  // a file that cannot be read stays empty
  EXPECT_EQ(Asked, 42);
  EXPECT_TRUE(F.View.IsImageLoaded(7));

  // RemoveCorrupted deletes it at the next paint.
  F.View.SetRemoveCorrupted(true);
  F.View.Invalidate();
  F.Paint();
  EXPECT_EQ(F.View.GetImageCount(), 7);
  EXPECT_EQ(F.View.GetImageID(6), 42);
}

TEST(MViewInput, MouseKeysMarksAndSearch) {
  TFixture F(320, 224, 9);  // 3 columns, 2 full rows visible
  F.View.SetGridWidth(-1);
  std::vector<int32_t> Selected;
  F.View.OnImageSelect = [&](TObject*, int32_t Idx) { Selected.push_back(Idx); };
  // The row just below a cell still belongs to it.
  F.Host->Click(108 + 10, 4 + 100);
  EXPECT_EQ(F.View.GetSelectedItem(), 1);
  ASSERT_EQ(Selected.size(), 1u);
  EXPECT_TRUE(F.View.Focused());
  F.Host->Click(2, 2);  // the border between cells: nothing
  EXPECT_EQ(F.View.GetSelectedItem(), 1);

  F.Host->Key(VK_DOWN);
  EXPECT_EQ(F.View.GetSelectedItem(), 4);
  F.Host->Key(VK_RIGHT);
  EXPECT_EQ(F.View.GetSelectedItem(), 5);
  F.Host->Key(VK_DOWN);  // row 2 is not fully visible: the view scrolls to show it
  EXPECT_EQ(F.View.GetSelectedItem(), 8);
  EXPECT_EQ(F.View.GetImageVisibility(8), 2);
  EXPECT_EQ(F.View.GetViewY(), 3 * 104 + 4 - 224);
  F.Host->Key(VK_HOME);
  EXPECT_EQ(F.View.GetSelectedItem(), 0);
  EXPECT_EQ(F.View.GetViewY(), 0);
  F.Host->Key(VK_END);
  EXPECT_EQ(F.View.GetSelectedItem(), 8);
  F.Host->Key(VK_LEFT);
  EXPECT_EQ(F.View.GetSelectedItem(), 7);

  // Shift marks a range, Ctrl toggles one image.
  F.Host->Key(VK_LEFT, ssShift);
  F.Host->Key(VK_LEFT, ssShift);
  EXPECT_EQ(F.View.GetMarkedItems(), (std::vector<int32_t>{5, 6, 7}));
  F.View.SetViewY(0);
  F.Host->Click(10, 10, mbLeft, ssCtrl);
  EXPECT_EQ(F.View.GetMarkedItems(), (std::vector<int32_t>{0, 5, 6, 7}));
  EXPECT_EQ(F.View.GetSelectedItem(), 5);
  F.Host->Click(10, 10);
  EXPECT_EQ(F.View.GetMarkedItems(), (std::vector<int32_t>{0}));

  // Typing the start of a file name selects the image.
  F.View.SetImageFileName(3, "/x/Beach.jpg");
  F.View.SetImageFileName(6, "/x/bird.jpg");
  F.Host->Type("bi");
  EXPECT_EQ(F.View.GetSelectedItem(), 6);
  EXPECT_TRUE(F.View.SearchFileName("BEA"));
  EXPECT_EQ(F.View.GetSelectedItem(), 3);
  EXPECT_FALSE(F.View.SearchFileName("zz"));

  // Wheel: one cell row per notch, within the extent (three rows: 316 - 224 = 92).
  F.View.SetViewY(0);
  F.Host->Wheel(50, 50, -WHEEL_DELTA);
  EXPECT_EQ(F.View.GetViewY(), 92);
  F.Host->Wheel(50, 50, WHEEL_DELTA);
  EXPECT_EQ(F.View.GetViewY(), 0);
}

TEST(MViewInput, ScrollBarsFollowTheExtent) {
  TFixture F(320, 224, 30);
  F.View.SetGridWidth(-1);
  F.View.SetScrollBars(ssVertical);
  const TScrollBarInfo& I = F.View.GetScrollInfo(sbVertical);
  EXPECT_TRUE(I.Visible);
  // The bar takes room from the client: columns are counted on what is left.
  EXPECT_EQ(F.View.GetColumns(), (F.View.GetClientWidth() - 4) / 104);
  F.View.SendScroll(sbVertical, scLineDown, 0);
  EXPECT_EQ(F.View.GetViewY(), 104);
  F.View.SendScroll(sbVertical, scBottom, 0);
  int32_t MX, MY;
  F.View.GetMaxViewXY(MX, MY);
  EXPECT_EQ(F.View.GetViewY(), MY);
  EXPECT_GT(MY, 0);
}

TEST(MViewPlay, FramesFollowTheirDelaysAndStopWithoutLoop) {
  TVirtualClock Clock;
  TFixture F(300, 120, 3);
  F.View.SetImageDelayTime(0, 100);
  F.View.SetImageDelayTime(1, 0);  // plays at 10 ms
  F.View.SetImageDelayTime(2, 50);
  F.View.SetSelectedItem(1);
  F.View.SetPlayLoop(false);
  F.View.SetPlaying(true);
  EXPECT_EQ(F.View.GetDisplayMode(), mdSingle);
  EXPECT_EQ(F.View.GetFBitmap(), nullptr);  // deselected while playing
  EXPECT_EQ(At(F.View.Surface(), 50, 50), 0x000010);
  EXPECT_EQ(F.View.GetVisibleFrame(), 1);
  Application().AdvanceClock(99);
  EXPECT_EQ(F.View.GetVisibleFrame(), 1);
  Application().AdvanceClock(1);
  EXPECT_EQ(At(F.View.Surface(), 50, 50), 0x000020);
  Application().AdvanceClock(10);
  EXPECT_EQ(At(F.View.Surface(), 50, 50), 0x000030);
  EXPECT_FALSE(F.View.GetPlaying());  // the last frame without loop
  EXPECT_EQ(F.View.GetVisibleFrame(), 0);
  // Ending by itself restores the grid and the selection, as stopping does.
  EXPECT_EQ(F.View.GetDisplayMode(), mdGrid);
  EXPECT_EQ(F.View.GetSelectedItem(), 1);
  Application().AdvanceClock(1000);
  EXPECT_FALSE(F.View.GetPlaying());

  // Stopping restores the mode and the selection.
  F.View.SetPlayLoop(true);
  F.View.SetPlaying(true);
  Application().AdvanceClock(1000);
  EXPECT_TRUE(F.View.GetPlaying());
  F.View.SetPlaying(false);
  EXPECT_EQ(F.View.GetDisplayMode(), mdGrid);
  EXPECT_EQ(F.View.GetSelectedItem(), 1);
}

TEST(MViewAsync, WorkersDecodeVisibleCellsFirstAndDropWhatScrolledAway) {
  TempDir Dir;
  TFixture F(210, 112);
  F.View.SetStoreType(qltThumb);
  F.View.SetPrefetch(0);
  for (int32_t I = 0; I < 12; ++I) {
    const std::string Name = Dir.File(PhotoName(I));
    WriteJpeg(Name, Solid(160, 120, 0x000080 + I));
    F.View.InsertImageEx(I);
    F.View.SetImageFileName(I, Name);
  }
  F.View.InsertImageEx(12);
  F.View.SetImageFileName(12, Dir.File("damaged.jpg"));
  WriteFileBytes(Dir.File("damaged.jpg"), {0xFF, 0xD8, 0xFF, 0x00});
  F.View.SetAsyncLoading(true, 2);
  F.Paint();
  auto Drain = [&] {
    const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (F.View.GetPendingLoads() > 0 && std::chrono::steady_clock::now() < End) {
      Application().WaitAndProcess(5);
    }
    Application().ProcessMessages();
  };
  Drain();
  EXPECT_TRUE(F.View.IsImageLoaded(0));
  EXPECT_TRUE(F.View.IsImageLoaded(1));
  EXPECT_FALSE(F.View.IsImageLoaded(2));  // no prefetch: only what shows
  EXPECT_EQ(F.View.GetImageWidth(0), 100);
  F.View.SetViewX(10 * 104);
  Drain();
  EXPECT_TRUE(F.View.IsImageLoaded(10));
  EXPECT_TRUE(F.View.IsImageLoaded(11));
  EXPECT_FALSE(F.View.IsImageLoaded(5));
  const TBitmap& S = F.Paint();
  EXPECT_NEAR(S.ScanLine(50)[50 * 3 + 2], 0x80 + 10, 4);

  // The damaged file: its cell stays empty; RemoveCorrupted drops it when the result comes.
  F.View.SetRemoveCorrupted(true);
  F.View.SetViewX(12 * 104);
  Drain();
  EXPECT_EQ(F.View.GetImageCount(), 12);

  // Prefetch everything, then a selection takes a loaded image from the store.
  F.View.SetPrefetch(-1);
  F.View.Update();
  Drain();
  for (int32_t I = 0; I < 12; ++I) EXPECT_TRUE(F.View.IsImageLoaded(I)) << I;
  F.View.SetSelectedItem(3);
  ASSERT_NE(F.View.GetFBitmap(), nullptr);
  EXPECT_EQ(F.View.GetFBitmap()->GetWidth(), 100);
}

TEST(MViewAsync, DestroyingWithWorkInFlightIsSafe) {
  TempDir Dir;
  for (int32_t I = 0; I < 20; ++I)
    WriteJpeg(Dir.File(std::to_string(I) + ".jpg"), RandomBitmap24(300, 200, I));
  {
    TFixture F(400, 400);
    F.View.SetStoreType(qltThumb);
    for (int32_t I = 0; I < 20; ++I) {
      F.View.InsertImageEx(I);
      F.View.SetImageFileName(I, Dir.File(std::to_string(I) + ".jpg"));
    }
    F.View.SetPrefetch(-1);
    F.View.SetAsyncLoading(true, 3);
  }
  // Results posted by then are dropped, not delivered to a freed view.
  Application().ProcessMessages();
}

TEST(MViewAsync, ScrollingPastDropsQueuedWork) {
  TempDir Dir;
  const std::string Name = Dir.File("one.jpg");
  WriteJpeg(Name, RandomBitmap24(640, 480, 1));
  TFixture F(420, 112);  // four cells show
  F.View.SetStoreType(qltThumb);
  F.View.SetPrefetch(0);
  for (int32_t I = 0; I < 40; ++I) {
    F.View.InsertImageEx(I);
    F.View.SetImageFileName(I, Name);
  }
  F.View.SetAsyncLoading(true, 1);
  // Scrolled away before any result came back: of the first four cells only the one the
  // single worker had already taken may arrive.
  F.View.SetViewX(36 * 104);
  const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (F.View.GetPendingLoads() > 0 && std::chrono::steady_clock::now() < End)
    Application().WaitAndProcess(5);
  int32_t Early = 0;
  for (int32_t I = 0; I < 4; ++I) Early += F.View.IsImageLoaded(I) ? 1 : 0;
  EXPECT_LE(Early, 1);
  for (int32_t I = 36; I < 40; ++I) EXPECT_TRUE(F.View.IsImageLoaded(I)) << I;
}
