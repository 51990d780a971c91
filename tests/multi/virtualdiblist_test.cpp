// The thumbnail store: region sizes and file growth, the ten most recently used mappings,
// loans with counts, images intact in every depth, bounded memory for many images, and a full
// disk that refuses new images without losing the stored ones.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

#include "quillo/multi/virtualdiblist.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

TBitmap Random(int32_t W, int32_t H, TPixelFormat F, uint32_t Seed) {
  TBitmap B;
  B.SetPixelFormat(F);
  B.SetSize(W, H);
  std::mt19937 R(Seed);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t K = 0; K < B.RowLen(); ++K) B.ScanLine(Y)[K] = static_cast<uint8_t>(R());
  // Padding bits of 1-bit rows are not pixels.
  if (F == pf1bit && W % 8)
    for (int32_t Y = 0; Y < H; ++Y) B.ScanLine(Y)[W / 8] &= static_cast<uint8_t>(0xFF00 >> (W % 8));
  return B;
}

bool SameRows(const TBitmap& A, const TBitmap& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight() ||
      A.GetPixelFormat() != B.GetPixelFormat())
    return false;
  const int32_t Bytes = A.GetPixelFormat() == pf1bit   ? (A.GetWidth() + 7) / 8
                        : A.GetPixelFormat() == pf8bit ? A.GetWidth()
                                                       : 3 * A.GetWidth();
  for (int32_t Y = 0; Y < A.GetHeight(); ++Y)
    if (std::memcmp(A.ScanLine(Y), B.ScanLine(Y), static_cast<size_t>(Bytes))) return false;
  return true;
}

// The process's resident memory in bytes, from its own accounting.
int64_t Resident() {
  std::ifstream F("/proc/self/statm");
  int64_t Size = 0, Rss = 0;
  F >> Size >> Rss;
  return Rss * sysconf(_SC_PAGESIZE);
}

}  // namespace

TEST(ThumbnailStore, RegionsAndGrowth) {
  TQLVirtualDIBList S;
  ASSERT_TRUE(S.GetError().empty()) << S.GetError();
  EXPECT_EQ(S.GetFileSize(), 65536u);
  TQLVirtualImageInfo* Big = S.AddBlankImage(200, 200, 24);
  ASSERT_NE(Big, nullptr);
  EXPECT_EQ(Big->UsedSize, 120048u);
  EXPECT_EQ(Big->RegionSize, 131072u);
  EXPECT_EQ(S.GetGrowthStep(), 131072u);
  EXPECT_EQ(S.GetFileSize(), 196608u);
  TQLVirtualImageInfo* Small = S.AddBlankImage(100, 100, 24);
  EXPECT_EQ(Small->UsedSize, 30048u);
  EXPECT_EQ(Small->RegionSize, 65536u);
  EXPECT_EQ(S.GetImageWidth(Small), 100);
  EXPECT_EQ(S.GetImageBitCount(Small), 24);
  // Deleting the last image shrinks the file to the growth step.
  S.Delete(Big);
  S.Delete(Small);
  EXPECT_EQ(S.GetImageCount(), 0);
  EXPECT_EQ(S.GetFileSize(), S.GetGrowthStep());
  EXPECT_EQ(S.AddBlankImage(0, 10, 24), nullptr);
  EXPECT_EQ(S.AddBlankImage(10, 10, 16), nullptr);
}

TEST(ThumbnailStore, TheTenMostRecentlyUsedStayMapped) {
  TQLVirtualDIBList S;
  // Room made in one step: growing the file would close every mapping.
  ASSERT_TRUE(S.PrepareSpaceFor(16, 16, 24, 11));
  std::vector<TQLVirtualImageInfo*> Images;
  for (int I = 0; I < 11; ++I) Images.push_back(S.AddBlankImage(16, 16, 24));
  EXPECT_EQ(S.GetMappedCount(), 10);
  EXPECT_EQ(Images[0]->Mapped(), nullptr);  // the least recently used went
  ASSERT_TRUE(S.MapImage(Images[1]));       // already mapped: now the most recent
  ASSERT_TRUE(S.MapImage(Images[0]));       // maps, dropping the least recent: image 2
  EXPECT_NE(Images[1]->Mapped(), nullptr);
  EXPECT_EQ(Images[2]->Mapped(), nullptr);
  EXPECT_EQ(S.GetMappedCount(), 10);
}

TEST(ThumbnailStore, ImagesComeBackIntactAndLoansAreCounted) {
  TQLVirtualDIBList S;
  TBitmap A = Random(37, 23, pf24bit, 1), B = Random(45, 19, pf1bit, 2),
          C = Random(31, 9, pf8bit, 3);
  TQLVirtualImageInfo* IA = S.AddBitmap(A);
  TQLVirtualImageInfo* IB = S.AddBitmap(B);
  TQLVirtualImageInfo* IC = S.AddBitmap(C);
  TQLVirtualImageInfo* IR = S.AddBitmapRect(A, 5, 3, 20, 10);
  // Enough others to push the first ones out of the mapped set.
  for (int I = 0; I < 12; ++I) S.AddBlankImage(8, 8, 24);
  for (auto [Info, Want] : {std::pair{IA, &A}, {IB, &B}, {IC, &C}}) {
    TBitmap Back;
    if (Want == &C) Back.SetPixelFormat(pf8bit);
    S.CopyToBitmap(Info, Back);
    EXPECT_TRUE(SameRows(Back, *Want));
  }
  TBitmap Part;
  S.CopyToBitmap(IR, Part);
  for (int32_t Y = 0; Y < 10; ++Y)
    EXPECT_EQ(0, std::memcmp(Part.ScanLine(Y), A.ScanLine(3 + Y) + 15, 60));
  // The stored rows are a DIB: the bottom row first.
  EXPECT_EQ(0, std::memcmp(S.GetImageBits(IA), A.ScanLine(22), 111));
  // Two loans, one bitmap; written back, and freed with the second release.
  TBitmap* L1 = S.GetBitmap(IA);
  TBitmap* L2 = S.GetBitmap(IA);
  EXPECT_EQ(L1, L2);
  EXPECT_EQ(S.LoanCount(IA), 2);
  std::memset(L1->ScanLine(0), 0x11, 3);
  S.ReleaseBitmap(L1, true);
  EXPECT_EQ(S.BmpToReleaseIndexOf(IA), 0);
  S.ReleaseBitmap(L2, false);
  EXPECT_EQ(S.BmpToReleaseIndexOf(IA), -1);
  EXPECT_FALSE(IA->Lent);
  TBitmap Back;
  S.CopyToBitmap(IA, Back);
  EXPECT_EQ(Back.ScanLine(0)[0], 0x11);
  // A new size moves the image to a new region, still intact.
  TBitmap Wider = Random(80, 23, pf24bit, 4);
  S.CopyFromBitmap(IA, Wider);
  S.CopyToBitmap(IA, Back);
  EXPECT_TRUE(SameRows(Back, Wider));
  // Drawn straight from the store.
  TBitmap Out;
  Out.SetPixelFormat(pf24bit);
  Out.SetSize(80, 23);
  TCanvas Cv(&Out);
  S.RenderTo(IA, Cv, 0, 0, 0, 80, 23, 0, 0, 80, 23);
  EXPECT_TRUE(SameRows(Out, Wider));
}

TEST(ThumbnailStore, ManyImagesInBoundedMemory) {
  // Thumbnails of 160 x 120 and a few full images: the file grows, resident memory does not.
  TQLVirtualDIBList S;
  TBitmap Thumb = Random(160, 120, pf24bit, 8);
  S.PrepareSpaceFor(160, 120, 24, 5000);
  const int64_t Before = Resident();
  std::vector<TQLVirtualImageInfo*> Infos;
  for (int I = 0; I < 5000; ++I) {
    Thumb.ScanLine(0)[0] = static_cast<uint8_t>(I);
    Infos.push_back(S.AddBitmap(Thumb));
    ASSERT_NE(Infos.back(), nullptr) << I;
  }
  TBitmap Big = Random(6000, 4000, pf24bit, 9);
  TQLVirtualImageInfo* BigInfo = nullptr;
  for (int I = 0; I < 3; ++I) BigInfo = S.AddBitmap(Big);
  const int64_t Grown = Resident() - Before;
  EXPECT_GT(S.GetFileSize(), 5000u * 65536u + 3u * 72000000u);
  // Ten mapped regions at most, plus what the allocator keeps: far below the 400 MB stored.
  EXPECT_LT(Grown, int64_t{200} << 20) << Grown;
  TBitmap Back;
  for (int I : {0, 1234, 4999}) {
    S.CopyToBitmap(Infos[static_cast<size_t>(I)], Back);
    EXPECT_EQ(Back.ScanLine(0)[0], static_cast<uint8_t>(I));
  }
  S.CopyToBitmap(BigInfo, Back);
  EXPECT_TRUE(SameRows(Back, Big));
}

TEST(ThumbnailStore, AFullDiskRefusesNewImagesAndKeepsTheOthers) {
  const std::string Dir = "/tmp/quillo-full-" + std::to_string(getpid());
  ASSERT_EQ(RunCommand("mkdir -p " + Dir), 0);
  if (mount("tmpfs", Dir.c_str(), "tmpfs", 0, "size=1m") != 0) {
    RunCommand("rmdir " + Dir);
    GTEST_SKIP() << "cannot mount a small file system here";
  }
  {
    TQLVirtualDIBList S(Dir);
    ASSERT_TRUE(S.GetError().empty()) << S.GetError();
    TBitmap T = Random(100, 100, pf24bit, 3);
    std::vector<TQLVirtualImageInfo*> Kept;
    TQLVirtualImageInfo* Last = nullptr;
    for (int I = 0; I < 40 && (Last = S.AddBitmap(T)); ++I) Kept.push_back(Last);
    EXPECT_EQ(Last, nullptr);  // the disk filled
    EXPECT_FALSE(Kept.empty());
    EXPECT_FALSE(S.GetError().empty());
    TBitmap Back;
    for (TQLVirtualImageInfo* Info : Kept) {
      S.CopyToBitmap(Info, Back);
      EXPECT_TRUE(SameRows(Back, T));
    }
  }
  umount(Dir.c_str());
  RunCommand("rmdir " + Dir);
}
