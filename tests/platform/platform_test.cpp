#include <gtest/gtest.h>

#include <cstring>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/streams.h"
#include "quillo/platform/sysutils.h"
#include "quillo/platform/types.h"
#include "tests/support/testutil.h"

using namespace quillo;

TEST(Arithmetic, RoundHalvesGoToEven) {
  EXPECT_EQ(QLRound(0.5), 0);
  EXPECT_EQ(QLRound(1.5), 2);
  EXPECT_EQ(QLRound(2.5), 2);
  EXPECT_EQ(QLRound(-0.5), 0);
  EXPECT_EQ(QLRound(-1.5), -2);
  EXPECT_EQ(QLRound(-2.5), -2);
  EXPECT_EQ(QLRound(2.4999), 2);
  EXPECT_EQ(QLRound(-2.6), -3);
  EXPECT_EQ(QLTrunc(-2.9), -2);
  EXPECT_EQ(QLTrunc(1e300), INT32_MAX);
  int64_t R;
  EXPECT_FALSE(QLCheckedMul(INT64_MAX / 2, 3, R));
  EXPECT_TRUE(QLCheckedMul(1 << 20, 1 << 20, R));
  EXPECT_EQ(R, int64_t{1} << 40);
  EXPECT_EQ(QLSwapWord(0x1234), 0x3412);
  EXPECT_EQ(QLSwapDWord(0x12345678u), 0x78563412u);
}

TEST(Rects, IntersectAndUnion) {
  TRect R;
  EXPECT_TRUE(IntersectRect(R, Rect(0, 0, 10, 10), Rect(5, 5, 20, 20)));
  EXPECT_EQ(R, Rect(5, 5, 10, 10));
  EXPECT_FALSE(IntersectRect(R, Rect(0, 0, 10, 10), Rect(10, 0, 20, 10)));
  EXPECT_TRUE(R.IsEmpty());
  EXPECT_TRUE(UnionRect(R, Rect(0, 0, 0, 0), Rect(1, 2, 3, 4)));
  EXPECT_EQ(R, Rect(1, 2, 3, 4));
  EXPECT_EQ(ColorToRGB(clBtnFace), 0xC0C0C0);
  EXPECT_EQ(ColorToRGB(clRed), clRed);
}

TEST(MemoryStream, ReadWriteSeekAndErrors) {
  TMemoryStream S;
  S.WriteBuffer("hello", 5);
  EXPECT_EQ(S.GetSize(), 5);
  S.Seek(10, soFromBeginning);  // beyond the end: writing there fills with zeros
  S.WriteBuffer("x", 1);
  EXPECT_EQ(S.GetSize(), 11);
  EXPECT_EQ(S.Memory()[7], 0);
  S.SetPosition(3);
  char Buf[16] = {};
  EXPECT_EQ(S.Read(Buf, 16), 8);
  S.SetPosition(9);
  EXPECT_THROW(S.ReadBuffer(Buf, 4), EReadError);
  EXPECT_EQ(S.Seek(-2, soFromEnd), 9);
  EXPECT_EQ(S.Seek(-100, soFromCurrent), 0);
  S.SetSize(2);
  EXPECT_EQ(S.GetPosition(), 0);
  EXPECT_EQ(S.Remaining(), 2);
}

TEST(FileStream, BufferedReadsAndWritesAgreeWithTheFile) {
  test::TempDir Dir;
  std::string Name = Dir.File("data.bin");
  std::vector<uint8_t> Expected(200000);
  for (size_t I = 0; I < Expected.size(); ++I) Expected[I] = static_cast<uint8_t>(I * 7 + I / 251);
  {
    TFileStream F(Name, fmCreate);
    // Small and large writes mixed, then a rewrite in the middle of what was written.
    F.WriteBuffer(Expected.data(), 10);
    F.WriteBuffer(Expected.data() + 10, 100000);
    for (size_t I = 100010; I < Expected.size(); I += 1000)
      F.WriteBuffer(Expected.data() + I,
                    static_cast<int64_t>(std::min<size_t>(1000, Expected.size() - I)));
    EXPECT_EQ(F.GetSize(), static_cast<int64_t>(Expected.size()));
    F.SetPosition(5000);
    uint8_t Check[10];
    F.ReadBuffer(Check, 10);
    EXPECT_EQ(std::memcmp(Check, Expected.data() + 5000, 10), 0);
    Expected[5010] = 0xAB;
    F.WriteBuffer(&Expected[5010], 1);
    F.Flush();
  }
  EXPECT_EQ(test::ReadFileBytes(Name), Expected);
  TFileStream F(Name, fmOpenRead | fmShareDenyWrite);
  std::vector<uint8_t> Back(Expected.size());
  // Odd-sized reads across buffer boundaries.
  for (size_t I = 0; I < Back.size(); I += 777)
    F.ReadBuffer(Back.data() + I, static_cast<int64_t>(std::min<size_t>(777, Back.size() - I)));
  EXPECT_EQ(Back, Expected);
  uint8_t B;
  EXPECT_EQ(F.Read(&B, 1), 0);
}

TEST(FileStream, OpenAndCreateErrorsNameTheFile) {
  test::TempDir Dir;
  try {
    TFileStream F(Dir.File("missing.bmp"), fmOpenRead);
    FAIL();
  } catch (const EFOpenError& E) {
    EXPECT_NE(E.Message().find("missing.bmp"), std::string::npos);
  }
  EXPECT_THROW(TFileStream(Dir.File("no/such/dir/x"), fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(Dir.Path(), fmOpenRead), EFOpenError);
}

TEST(Bitmap, RowsAreBottomUpAndPadded) {
  TBitmap B(5, 3, pf24bit);
  EXPECT_EQ(B.RowLen(), 16);
  EXPECT_EQ(B.BitsSize(), 48);
  EXPECT_EQ(B.ScanLine(2), B.Bits());
  EXPECT_EQ(B.ScanLine(0), B.Bits() + 32);
  EXPECT_THROW(B.ScanLine(3), EInvalidGraphic);
  EXPECT_THROW(B.ScanLine(-1), EInvalidGraphic);
  TBitmap One(33, 2, pf1bit);
  EXPECT_EQ(One.RowLen(), 8);
}

TEST(Bitmap, ResizeKeepsTheTopLeftPart) {
  TBitmap B = test::RandomBitmap24(7, 5, 1);
  TBitmap Orig;
  Orig.Assign(B);
  B.SetSize(4, 9);
  for (int32_t Y = 0; Y < 5; ++Y)
    EXPECT_EQ(std::memcmp(B.ScanLine(Y), Orig.ScanLine(Y), 12), 0) << Y;
  for (int32_t Y = 5; Y < 9; ++Y)
    for (int32_t I = 0; I < 12; ++I) EXPECT_EQ(B.ScanLine(Y)[I], 0);
  B.SetSize(0, 9);
  EXPECT_TRUE(B.Empty());
  EXPECT_EQ(B.BitsSize(), 0);
}

TEST(Bitmap, PixelLimitRefusesBeforeAllocating) {
  int64_t Old = QLGetMaxPixels();
  QLSetMaxPixels(10000);
  TBitmap B;
  EXPECT_THROW(B.SetSize(101, 100), EOutOfMemory);
  EXPECT_NO_THROW(B.SetSize(100, 100));
  QLSetMaxPixels(Old);
  EXPECT_FALSE(QLImageSizeOK(INT32_MAX, INT32_MAX));
  EXPECT_FALSE(QLImageSizeOK(-1, 5));
  EXPECT_TRUE(QLImageSizeOK(0, 0));
}

TEST(Bitmap, PixelFormatConversionsPreserveColours) {
  // Colours every layout can hold exactly survive a round trip through it.
  TBitmap B(6, 2, pf24bit);
  const uint8_t Colours[6][3] = {{0, 0, 0},   {255, 255, 255}, {0, 0, 255},
                                 {0, 255, 0}, {255, 0, 0},     {255, 255, 0}};
  for (int32_t Y = 0; Y < 2; ++Y)
    for (int32_t X = 0; X < 6; ++X) std::memcpy(B.ScanLine(Y) + X * 3, Colours[X], 3);
  for (TPixelFormat PF : {pf4bit, pf8bit, pf15bit, pf16bit, pf32bit, pfDevice}) {
    TBitmap C;
    C.Assign(B);
    C.SetPixelFormat(PF);
    EXPECT_EQ(C.GetPixelFormat(), PF);
    C.SetPixelFormat(pf24bit);
    EXPECT_TRUE(test::SamePixels(B, C)) << int(PF);
  }
  // Black and white go to 1 bit as 0 and 1.
  TBitmap BW(3, 1, pf24bit);
  std::memset(BW.ScanLine(0) + 3, 255, 3);
  BW.SetPixelFormat(pf1bit);
  EXPECT_EQ(BW.ScanLine(0)[0] & 0xE0, 0x40);
  // Widening an indexed layout keeps its palette and indexes.
  BW.SetPixelFormat(pf8bit);
  EXPECT_EQ(BW.ScanLine(0)[1], 1);
  EXPECT_EQ(BW.GetPalette().size(), 2u);
  EXPECT_THROW(BW.SetPixelFormat(pfCustom), EInvalidGraphic);
}

TEST(Bitmap, OnChangeFiresOnModification) {
  TBitmap B;
  int Calls = 0;
  B.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &B);
    ++Calls;
  };
  B.SetSize(2, 2);
  B.SetPixelFormat(pf1bit);
  B.Modified();
  EXPECT_EQ(Calls, 3);
  // A new image moved in keeps the listener, and the moved-from image's does not travel.
  TBitmap Other(4, 4, pf24bit);
  int OtherCalls = 0;
  Other.OnChange = [&](TObject*) { ++OtherCalls; };
  B = std::move(Other);
  EXPECT_EQ(B.GetWidth(), 4);
  B.Modified();
  EXPECT_EQ(Calls, 4);
  EXPECT_EQ(OtherCalls, 0);
}

namespace {
class Watcher : public TComponent {
 public:
  using TComponent::TComponent;
  TComponent* Watched = nullptr;
  void Watch(TComponent* C) {
    Watched = C;
    FreeNotification(C);
  }

 protected:
  void Notification(TComponent* C, TOperation Op) override {
    if (Op == opRemove && C == Watched) Watched = nullptr;
  }
};
}  // namespace

TEST(Component, FreeNotificationClearsPointersEitherWay) {
  Watcher W;
  {
    TComponent Target;
    W.Watch(&Target);
    EXPECT_EQ(W.Watched, &Target);
  }
  EXPECT_EQ(W.Watched, nullptr);
  // The watcher going first must not leave a dangling registration in the target.
  TComponent Target;
  {
    Watcher Short;
    Short.Watch(&Target);
  }
  SUCCEED();
}

TEST(Component, OwnerListFollowsLifetimes) {
  auto Owner = std::make_unique<TComponent>();
  {
    TComponent A(Owner.get());
    A.SetName("a");
    EXPECT_EQ(Owner->GetComponentCount(), 1);
    EXPECT_EQ(Owner->FindComponent("a"), &A);
  }
  EXPECT_EQ(Owner->GetComponentCount(), 0);
  TComponent B(Owner.get());
  Owner.reset();
  EXPECT_EQ(B.GetOwner(), nullptr);
}

TEST(StringList, TextSplitsAnyLineEnd) {
  TStringList L;
  L.SetText("one\r\ntwo\nthree\rfour");
  ASSERT_EQ(L.Count(), 4);
  EXPECT_EQ(L[3], "four");
  EXPECT_EQ(L.GetText(), "one\r\ntwo\r\nthree\r\nfour\r\n");
  L.SetText("a\r\n\r\nb\r\n");
  EXPECT_EQ(L.Count(), 3);
  EXPECT_EQ(L[1], "");
  EXPECT_THROW(L.Delete(3), EListError);
  EXPECT_THROW(L.Strings(-1), EListError);
}
