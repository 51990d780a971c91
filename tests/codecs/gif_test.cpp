#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "quillo/codecs/gif.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "quillo/lzw/gif_lzw.h"
#include "quillo/lzw/lzw.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

class GIF : public ::testing::Test {
 protected:
  void SetUp() override { QLInstallLZWCoders(); }
};

struct GifRead {
  TBitmap Bitmap;
  TIOParamsVals Params;
  bool Aborted = false;
  int32_t Count = -1;
  GifRead(const std::vector<uint8_t>& Bytes, int32_t Index, bool Preview = false) {
    Params.GifImageIndex = Index;
    TMemoryViewStream S(Bytes.data(), static_cast<int64_t>(Bytes.size()));
    TProgressRec P = QLProgressRec(nullptr, nullptr, Aborted);
    ReadGifStream(S, Bitmap, Count, Params, P, Preview);
  }
};

std::vector<uint8_t> WriteGifBytes(const TBitmap& B, TIOParamsVals& P) {
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  WriteGifStream(S, B, P, Prog);
  EXPECT_FALSE(Abort);
  return S.Data();
}

// A hand-made GIF: header with a global table of Colours (RGB triples), then the blocks.
std::vector<uint8_t> HandGif(const std::vector<uint8_t>& Colours,
                             const std::vector<uint8_t>& Blocks, uint8_t SizeField) {
  std::vector<uint8_t> V = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 2, 0};
  V.push_back(static_cast<uint8_t>((Colours.empty() ? 0 : 0x80) | SizeField));
  V.insert(V.end(), {0, 0});
  V.insert(V.end(), Colours.begin(), Colours.end());
  V.insert(V.end(), Blocks.begin(), Blocks.end());
  V.push_back(0x3B);
  return V;
}

// The LZW data of a 4 x 2 image of index Value at 2-bit minimum code size.
std::vector<uint8_t> ImageData(uint8_t Value, bool LocalTable = false, uint8_t Packed = 0) {
  std::vector<uint8_t> Px(8, Value);
  TMemoryStream S;
  GIFLZWCompress(S, 2, 4, false, Px.data(), 2);
  std::vector<uint8_t> D = {0x2C, 0, 0, 0, 0,
                            4,    0, 2, 0, static_cast<uint8_t>(Packed | (LocalTable ? 0x80 : 0))};
  if (LocalTable) D.insert(D.end(), {9, 9, 9, 200, 100, 50});
  D.insert(D.end(), S.Data().begin(), S.Data().end());
  return D;
}

TRGB Px(const TBitmap& B, int32_t X, int32_t Y) {
  return reinterpret_cast<const TRGB*>(B.ScanLine(Y))[X];
}

}  // namespace

TEST_F(GIF, RoundTripAndParameters) {
  TBitmap Src = RandomBitmap24(23, 17, 4);
  TIOParamsVals P;
  P.GifXPos = 5;
  P.GifYPos = 6;
  P.GifDelayTime = 40;
  P.GifTransparent = true;
  P.GifInterlaced = true;
  std::vector<uint8_t> Bytes = WriteGifBytes(Src, P);
  GifRead R(Bytes, 0);
  ASSERT_FALSE(R.Aborted);
  EXPECT_EQ(R.Count, 1);
  EXPECT_EQ(R.Params.GifImageCount, 1);
  EXPECT_EQ(R.Params.GifXPos, 5);
  EXPECT_EQ(R.Params.GifDelayTime, 40);
  EXPECT_TRUE(R.Params.GifTransparent);
  EXPECT_TRUE(R.Params.GifInterlaced);
  EXPECT_EQ(R.Params.GifDisposal, 2);  // the default: restore the background
  EXPECT_EQ(R.Params.GifVersion, std::string("GIF89a\0", 7));
  // Every disposal method comes back as written, beside the transparency bit; values
  // outside the field's three bits are written as the default.
  for (int32_t Disposal : {0, 1, 3, 7, -1, 8}) {
    P.GifDisposal = Disposal;
    const std::vector<uint8_t> D = WriteGifBytes(Src, P);
    GifRead Back(D, 0);
    EXPECT_EQ(Back.Params.GifDisposal, Disposal >= 0 && Disposal <= 7 ? Disposal : 2);
    EXPECT_TRUE(Back.Params.GifTransparent);
  }
  P.GifDisposal = 2;
  EXPECT_EQ(R.Params.BitsPerSample, 8);
  EXPECT_EQ(R.Params.ColorMapCount, 256);
  // Every pixel is a colour of the file's palette.
  for (int32_t Y = 0; Y < 17; ++Y)
    for (int32_t X = 0; X < 23; ++X) {
      const TRGB C = Px(R.Bitmap, X, Y);
      ASSERT_NE(std::find(R.Params.ColorMap.begin(), R.Params.ColorMap.end(), C),
                R.Params.ColorMap.end());
    }
  // Black and white bitmaps stay 1-bit at 1 bit per sample.
  TBitmap One = RandomBitmap1(19, 5, 2);
  P.BitsPerSample = 1;
  P.GifInterlaced = false;
  GifRead B(WriteGifBytes(One, P), 0);
  ASSERT_FALSE(B.Aborted);
  EXPECT_EQ(B.Bitmap.GetPixelFormat(), pf1bit);
  EXPECT_TRUE(SamePixels(B.Bitmap, One));
  // A many-coloured image at 1 bit is dithered, not refused.
  GifRead D(WriteGifBytes(Src, P), 0);
  ASSERT_FALSE(D.Aborted);
  EXPECT_EQ(D.Bitmap.GetPixelFormat(), pf1bit);
}

TEST_F(GIF, PalettesDecideTheLayout) {
  const std::vector<uint8_t> BlackWhite = {0, 0, 0, 255, 255, 255};
  GifRead A(HandGif(BlackWhite, ImageData(1), 0), 0);
  ASSERT_FALSE(A.Aborted);
  EXPECT_EQ(A.Bitmap.GetPixelFormat(), pf1bit);
  EXPECT_EQ(A.Bitmap.ScanLine(0)[0] & 0xF0, 0xF0);
  GifRead B(HandGif({255, 255, 255, 0, 0, 0}, ImageData(1), 0), 0);
  EXPECT_EQ(B.Bitmap.GetPixelFormat(), pf24bit);
  EXPECT_EQ(Px(B.Bitmap, 0, 0), CreateRGB(0, 0, 0));
  // A local table wins over the global one.
  GifRead L(HandGif(BlackWhite, ImageData(1, true), 0), 0);
  EXPECT_EQ(Px(L.Bitmap, 3, 1), CreateRGB(200, 100, 50));
  // No table at all: two entries from the (zero) size field, both black.
  GifRead N(HandGif({}, ImageData(1), 0), 0);
  ASSERT_FALSE(N.Aborted);
  EXPECT_EQ(N.Params.ColorMapCount, 2);
  EXPECT_EQ(N.Params.BitsPerSample, 1);
}

TEST_F(GIF, ChoosingAndCountingImages) {
  // Three images; the control extension of image 2 comes after image 1.
  auto Gce = [](uint8_t Flags, uint16_t Delay, uint8_t Transparent) {
    return std::vector<uint8_t>{
        0x21,        0xF9, 4, Flags, static_cast<uint8_t>(Delay), static_cast<uint8_t>(Delay >> 8),
        Transparent, 0};
  };
  std::vector<uint8_t> Blocks;
  for (int I = 0; I < 3; ++I) {
    std::vector<uint8_t> G = Gce(I == 2 ? 1 : 0, static_cast<uint16_t>(10 * (I + 1)), 1);
    Blocks.insert(Blocks.end(), G.begin(), G.end());
    std::vector<uint8_t> Img = ImageData(static_cast<uint8_t>(I % 2));
    Img[1] = static_cast<uint8_t>(I);  // left
    Blocks.insert(Blocks.end(), Img.begin(), Img.end());
  }
  const std::vector<uint8_t> File = HandGif({10, 20, 30, 40, 50, 60}, Blocks, 0);
  GifRead Third(File, 2);
  ASSERT_FALSE(Third.Aborted);
  EXPECT_EQ(Third.Count, 3);
  EXPECT_EQ(Third.Params.GifXPos, 2);
  EXPECT_EQ(Third.Params.GifDelayTime, 30);
  EXPECT_TRUE(Third.Params.GifTransparent);
  EXPECT_EQ(Third.Params.GifTranspColor, CreateRGB(40, 50, 60));
  // Beyond the last image: counted, nothing else touched, no failure.
  GifRead Beyond(File, 7);
  EXPECT_FALSE(Beyond.Aborted);
  EXPECT_EQ(Beyond.Count, 3);
  EXPECT_TRUE(Beyond.Bitmap.Empty());
  EXPECT_EQ(Beyond.Params.ColorMapCount, 0);
  // Without a decoder nothing can be loaded.
  TGIFLZWDecompFunc Saved = DefGIF_LZWDECOMPFUNC;
  DefGIF_LZWDECOMPFUNC = nullptr;
  GifRead NoDecoder(File, 0);
  EXPECT_TRUE(NoDecoder.Aborted);
  DefGIF_LZWDECOMPFUNC = Saved;
}

TEST_F(GIF, BadAndHostileFiles) {
  EXPECT_TRUE(GifRead({'G', 'I', 'X', '8', '9', 'a', 0, 0, 0, 0, 0, 0, 0}, 0).Aborted);
  // A logical screen beyond the pixel limit is refused before anything is allocated.
  std::vector<uint8_t> Huge = HandGif({0, 0, 0, 255, 255, 255}, ImageData(1), 0);
  const int64_t Old = QLGetMaxPixels();
  QLSetMaxPixels(10000);
  Huge[6] = Huge[7] = Huge[8] = Huge[9] = 0xFF;
  EXPECT_TRUE(GifRead(Huge, 0).Aborted);
  // So is a frame beyond it.
  std::vector<uint8_t> Frame = HandGif({0, 0, 0, 255, 255, 255}, ImageData(1), 0);
  Frame[13 + 6 + 5] = Frame[13 + 6 + 6] = 0xFF;
  Frame[13 + 6 + 7] = Frame[13 + 6 + 8] = 0xFF;
  EXPECT_TRUE(GifRead(Frame, 0).Aborted);
  QLSetMaxPixels(Old);
  // Every truncation ends cleanly.
  TBitmap Src = RandomBitmap24(9, 7, 1);
  TIOParamsVals P;
  std::vector<uint8_t> Good = WriteGifBytes(Src, P);
  for (size_t Cut = 0; Cut < Good.size(); ++Cut) {
    GifRead R(std::vector<uint8_t>(Good.begin(), Good.begin() + static_cast<ptrdiff_t>(Cut)), 0);
    if (Cut < Good.size() - 2) {
      EXPECT_TRUE(R.Aborted || R.Count == 0) << Cut;
    }
  }
}

TEST_F(GIF, InsertDeleteAndAnimate) {
  TempDir Dir;
  const std::string File = Dir.File("anim.gif");
  TBitmap A = RandomBitmap24(10, 8, 1), B = RandomBitmap24(6, 4, 2);
  TIOParamsVals P;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  WriteGif(File, A, P, Prog);
  // Appending: index equal to the count.
  P.GifImageIndex = 1;
  EXPECT_EQ(_InsertGifIm(File, B, P, Prog), 2);
  P.GifImageIndex = 2;
  EXPECT_EQ(_InsertGifIm(File, A, P, Prog), 3);
  // Beyond the count: nothing inserted.
  P.GifImageIndex = 9;
  EXPECT_EQ(_InsertGifIm(File, A, P, Prog), 3);
  // At the front.
  P.GifImageIndex = 0;
  EXPECT_EQ(_InsertGifIm(File, B, P, Prog), 4);
  EXPECT_FALSE(Abort);
  EXPECT_EQ(EnumGifIm(File), 4);
  TBitmap Out;
  int32_t Count = 0;
  TIOParamsVals Q;
  Q.GifImageIndex = 0;
  ReadGif(File, Out, Count, Q, Prog);
  EXPECT_EQ(Out.GetWidth(), 6);
  Q.GifImageIndex = 2;
  ReadGif(File, Out, Count, Q, Prog);
  EXPECT_EQ(Out.GetWidth(), 6);

  // Deleting without saving counts what would remain.
  const std::vector<uint8_t> Before = ReadFileBytes(File);
  EXPECT_EQ(_DeleteGifIm(File, 1, false), 3);
  EXPECT_EQ(ReadFileBytes(File), Before);
  EXPECT_EQ(DeleteGifIm(File, 1), 3);
  EXPECT_EQ(EnumGifIm(File), 3);

  EXPECT_FALSE(CheckAniGif(File));
  _GifMakeAnimate(File, 0, 20, 20);
  _GifMakeAnimate(File, 7, 20, 20);
  EXPECT_TRUE(CheckAniGif(File));
  TFileStream F(File, fmOpenRead);
  EXPECT_EQ(QLGifLoopCount(F), 7);
  const std::vector<uint8_t> Bytes = ReadFileBytes(File);
  int Loops = 0;
  for (size_t I = 0; I + 11 <= Bytes.size(); ++I)
    Loops += std::memcmp(&Bytes[I], "NETSCAPE2.0", 11) == 0;
  EXPECT_EQ(Loops, 1);
  EXPECT_EQ(EnumGifIm(File), 3);
  EXPECT_EQ(EnumGifIm(Dir.File("none.gif")), 0);
  EXPECT_FALSE(CheckAniGif(Dir.File("none.gif")));
}

// Inserting rewrites only from the insertion point on, and animating patches the header and
// loop count in place; the files must come out as a whole rewrite would make them.
TEST_F(GIF, InsertAndAnimateInPlace) {
  auto Loops = [](const std::vector<uint8_t>& V) {
    int N = 0;
    for (size_t I = 0; I + 11 <= V.size(); ++I) N += std::memcmp(&V[I], "NETSCAPE2.0", 11) == 0;
    return N;
  };
  TempDir Dir;
  const std::string File = Dir.File("a.gif");
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  TIOParamsVals P;
  P.GifVersion = "GIF87a";
  WriteGif(File, RandomBitmap24(3, 2, 1), P, Prog);
  // Frames of widths 3, 4, 5 with delays 4, 5, 6; then width 9 (delay 99) between the first two.
  for (int32_t W = 4; W <= 5; ++W) {
    P.GifImageIndex = W - 3;
    P.GifDelayTime = W + 1;
    const std::vector<uint8_t> Before = ReadFileBytes(File);
    ASSERT_EQ(_InsertGifIm(File, RandomBitmap24(W, 2, W), P, Prog), W - 2);
    const std::vector<uint8_t> After = ReadFileBytes(File);
    // Appending keeps every byte before the old trailer but the version.
    ASSERT_GT(After.size(), Before.size());
    EXPECT_EQ(std::string(After.begin(), After.begin() + 6), "GIF89a");
    EXPECT_TRUE(std::equal(Before.begin() + 6, Before.end() - 1, After.begin() + 6));
    EXPECT_EQ(After.back(), 0x3B);
  }
  P.GifImageIndex = 1;
  P.GifDelayTime = 99;
  ASSERT_EQ(_InsertGifIm(File, RandomBitmap24(9, 2, 9), P, Prog), 4);
  EXPECT_FALSE(Abort);
  const std::vector<uint8_t> Four = ReadFileBytes(File);
  const int32_t Widths[] = {3, 9, 4, 5}, Delays[] = {0, 99, 5, 6};
  for (int32_t I = 0; I < 4; ++I) {
    GifRead R(Four, I);
    ASSERT_FALSE(R.Aborted);
    EXPECT_EQ(R.Count, 4);
    EXPECT_EQ(R.Bitmap.GetWidth(), Widths[I]) << I;
    EXPECT_EQ(R.Params.GifDelayTime, Delays[I]) << I;
  }

  // The first animating rewrites (no loop extension yet); later ones patch in place.
  _GifMakeAnimate(File, 0, 9, 2);
  const std::vector<uint8_t> Animated = ReadFileBytes(File);
  ASSERT_EQ(Animated.size(), Four.size() + 19);
  EXPECT_EQ(Loops(Animated), 1);
  _GifMakeAnimate(File, 0x0102, 0x0304, 0x0506);
  const std::vector<uint8_t> Now = ReadFileBytes(File);
  ASSERT_EQ(Now.size(), Animated.size());
  const uint8_t Size[] = {4, 3, 6, 5};
  EXPECT_TRUE(std::equal(Size, Size + 4, Now.begin() + 6));
  size_t Differ = 0;
  for (size_t I = 10; I < Now.size(); ++I) Differ += Now[I] != Animated[I];
  EXPECT_EQ(Differ, 2u);  // the loop count
  {
    TFileStream F(File, fmOpenRead);
    EXPECT_EQ(QLGifLoopCount(F), 0x0102);
  }

  // A file whose loop extension is not first gets one there, and loses the old one.
  const std::string Id = "NETSCAPE2.0";
  const auto Loop = std::search(Now.begin(), Now.end(), Id.begin(), Id.end()) - 3;
  std::vector<uint8_t> Moved(Now.begin(), Loop);
  Moved.insert(Moved.end(), Loop + 19, Now.end() - 1);
  Moved.insert(Moved.end(), Loop, Loop + 19);
  Moved.push_back(0x3B);
  WriteFileBytes(File, Moved);
  _GifMakeAnimate(File, 7, 9, 2);
  EXPECT_EQ(Loops(ReadFileBytes(File)), 1);
  EXPECT_EQ(ReadFileBytes(File).size(), Now.size());
  {
    TFileStream F(File, fmOpenRead);
    EXPECT_EQ(QLGifLoopCount(F), 7);
  }

  // A file whose last image is cut short is left as it was.
  std::vector<uint8_t> Cut(Four.begin(), Four.end() - 6);
  WriteFileBytes(File, Cut);
  P.GifImageIndex = 4;
  EXPECT_EQ(_InsertGifIm(File, RandomBitmap24(2, 2, 1), P, Prog), 3);
  EXPECT_TRUE(Abort);
  EXPECT_EQ(ReadFileBytes(File), Cut);
}

// Appending with the end an insertion reported skips the walk and makes the same stream; a
// hint the stream no longer matches is ignored.
TEST_F(GIF, AppendWithEndHint) {
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  TIOParamsVals P;
  TMemoryStream Hinted, Walked;
  WriteGifStream(Hinted, RandomBitmap24(3, 2, 1), P, Prog);
  WriteGifStream(Walked, RandomBitmap24(3, 2, 1), P, Prog);
  TGifEnd End{Hinted.GetSize() - 1, 1};
  for (int32_t I = 1; I <= 3; ++I) {
    P.GifImageIndex = I;
    P.GifDelayTime = I;
    const TBitmap Frame = RandomBitmap24(2 + I, 2, I);
    Hinted.SetPosition(0);
    Walked.SetPosition(0);
    EXPECT_EQ(_InsertGifImStream(Hinted, Frame, P, Prog, &End), I + 1);
    EXPECT_EQ(_InsertGifImStream(Walked, Frame, P, Prog), I + 1);
    EXPECT_EQ(End.Count, I + 1);
    EXPECT_EQ(End.TrailerAt, Hinted.GetSize() - 1);
    ASSERT_EQ(Hinted.Data(), Walked.Data());
  }
  // Stale hints: a count that is not the index, a trailer that is not last, a last byte that is
  // not a trailer. Each insertion still lands at index 4, 5, 6.
  for (int32_t K = 0; K < 3; ++K) {
    TGifEnd Hint{Hinted.GetSize() - 1, 4 + K};
    if (K == 0) Hint.Count = 9;
    if (K == 1) Hint.TrailerAt -= 1;
    if (K == 2) {
      Hinted.SetSize(Hinted.GetSize() + 1);  // a stray zero after the trailer
      Hint.TrailerAt += 1;
    }
    P.GifImageIndex = 4 + K;
    Hinted.SetPosition(0);
    EXPECT_EQ(_InsertGifImStream(Hinted, RandomBitmap24(2, 2, K), P, Prog, &Hint), 5 + K) << K;
  }
  EXPECT_FALSE(Abort);
  GifRead R(Hinted.Data(), 6);
  EXPECT_FALSE(R.Aborted);
  EXPECT_EQ(R.Count, 7);
}

TEST_F(GIF, ThroughTheComponent) {
  TempDir Dir;
  TBitmap Img = RandomBitmap24(8, 8, 3);
  TQuilloIO IO;
  IO.IOParams().SetDefaultParams();  // picks up the installed coders
  IO.SetAttachedBitmap(&Img);
  IO.IOParams().GifDelayTime = 12;
  IO.SaveToFile(Dir.File("a.gif"));
  ASSERT_FALSE(IO.Aborting);
  for (int I = 1; I <= 3; ++I) {
    IO.IOParams().GifImageIndex = I;
    IO.IOParams().GifXPos = I * 4;
    EXPECT_TRUE(IO.InsertToFileGif(Dir.File("a.gif")));
  }
  EXPECT_EQ(EnumGifIm(Dir.File("a.gif")), 4);
  EXPECT_TRUE(CheckAniGif(Dir.File("a.gif")));
  TBitmap Back;
  IO.SetAttachedBitmap(&Back);
  IO.IOParams().GifImageIndex = 3;
  EXPECT_EQ(IO.LoadFromFileGif(Dir.File("a.gif")), 4);
  EXPECT_EQ(IO.IOParams().GifXPos, 12);
  // The logical screen grew to hold the frames.
  EXPECT_EQ(IO.IOParams().GifWinWidth, 20);
  EXPECT_EQ(IO.IOParams().GifWinHeight, 8);
  EXPECT_EQ(FindFileFormat(Dir.File("a.gif"), true), ioGIF);

  // One component appending again and again (it remembers where the file ended) writes the
  // bytes that a fresh component each time (which walks the file) writes, also when the file
  // is changed by others between two appends.
  const std::string Kept = Dir.File("kept.gif"), Fresh = Dir.File("fresh.gif");
  TQuilloIO Appender;
  Appender.IOParams().SetDefaultParams();
  Appender.SetAttachedBitmap(&Img);
  Appender.SaveToFile(Kept);
  Appender.SaveToFile(Fresh);
  for (int32_t I = 1; I <= 8; ++I) {
    if (I == 5) {
      ASSERT_EQ(DeleteGifIm(Kept, 1), 4);
      ASSERT_EQ(DeleteGifIm(Fresh, 1), 4);
    }
    TBitmap Frame = RandomBitmap24(6 + I, 5, 10 + I);
    Appender.SetAttachedBitmap(&Frame);
    Appender.IOParams().GifImageIndex = EnumGifIm(Kept);
    Appender.IOParams().GifDelayTime = I;
    ASSERT_TRUE(Appender.InsertToFileGif(Kept));
    TQuilloIO Once;
    Once.IOParams().Assign(Appender.IOParams());
    Once.SetAttachedBitmap(&Frame);
    ASSERT_TRUE(Once.InsertToFileGif(Fresh));
    ASSERT_EQ(ReadFileBytes(Kept), ReadFileBytes(Fresh)) << "after frame " << I;
  }
  EXPECT_EQ(EnumGifIm(Kept), 8);
}

TEST_F(GIF, PeersAgree) {
  if (!HaveProgram("convert") || !HaveProgram("giftopnm") || !HaveProgram("giftext")) GTEST_SKIP();
  TempDir Dir;
  const std::string D = Dir.Path() + "/";
  TBitmap F1 = RandomBitmap24(21, 13, 1), F2 = RandomBitmap24(9, 11, 2);
  WriteReferencePPM(F1, D + "f1.ppm");
  WriteReferencePPM(F2, D + "f2.ppm");
  // An animation built by ImageMagick: local palettes, interlace, delays, loop, transparency,
  // a frame with its own offset and disposal.
  ASSERT_EQ(RunCommand("convert -delay 20 -loop 5 " + D +
                       "f1.ppm -colors 64 -delay 35 -dispose Background -page +4+2 " + D +
                       "f2.ppm -colors 16 -interlace GIF " + D + "im.gif"),
            0);
  ASSERT_EQ(RunCommand("convert " + D +
                       "f1.ppm -colors 7 -transparent-color red -fuzz 30% -transparent black " + D +
                       "t.gif"),
            0);
  for (const std::string Name : {"im.gif", "t.gif"}) {
    const std::vector<uint8_t> Bytes = ReadFileBytes(D + Name);
    const int32_t Frames = Name == "im.gif" ? 2 : 1;
    for (int32_t I = 0; I < Frames; ++I) {
      GifRead R(Bytes, I);
      ASSERT_FALSE(R.Aborted) << Name << " " << I;
      EXPECT_EQ(R.Count, Frames);
      TBitmap Ref;
      ASSERT_TRUE(PeerToPNM(
          "giftopnm --image=" + std::to_string(I + 1) + " " + D + Name + " > " + D + "ref.ppm",
          D + "ref.ppm", Ref))
          << Name << " " << I;
      EXPECT_TRUE(SamePixels(As24(R.Bitmap), Ref)) << Name << " frame " << I;
    }
  }
  GifRead Second(ReadFileBytes(D + "im.gif"), 1);
  EXPECT_EQ(Second.Params.GifDelayTime, 35);
  EXPECT_EQ(Second.Params.GifXPos, 4);
  EXPECT_EQ(Second.Params.GifDisposal, 2);
  EXPECT_EQ(GifRead(ReadFileBytes(D + "im.gif"), 0).Params.GifDisposal, 0);
  EXPECT_TRUE(Second.Params.GifInterlaced);
  EXPECT_TRUE(CheckAniGif(D + "im.gif"));

  // An animation we build is read by both peers with our pixels, delays and loop count.
  TQuilloIO IO;
  IO.IOParams().SetDefaultParams();
  TBitmap Frame;
  Frame.Assign(F1);
  IO.SetAttachedBitmap(&Frame);
  IO.IOParams().GifDelayTime = 15;
  IO.IOParams().GifInterlaced = true;
  IO.SaveToFile(D + "ours.gif");
  Frame.Assign(F2);
  IO.IOParams().GifImageIndex = 1;
  IO.IOParams().GifDelayTime = 45;
  IO.IOParams().GifXPos = 3;
  IO.IOParams().GifInterlaced = false;
  IO.IOParams().GifDisposal = 3;
  ASSERT_TRUE(IO.InsertToFileGif(D + "ours.gif"));
  std::string Disposals;
  ASSERT_EQ(RunCommand("identify -format '%D ' " + D + "ours.gif", &Disposals), 0);
  EXPECT_EQ(Disposals, "Background Previous ");
  const std::vector<uint8_t> Ours = ReadFileBytes(D + "ours.gif");
  for (int32_t I = 0; I < 2; ++I) {
    GifRead Mine(Ours, I);
    ASSERT_FALSE(Mine.Aborted);
    TBitmap Nb, Im;
    ASSERT_TRUE(PeerToPNM(
        "giftopnm --image=" + std::to_string(I + 1) + " " + D + "ours.gif > " + D + "nb.ppm",
        D + "nb.ppm", Nb));
    EXPECT_TRUE(SamePixels(As24(Mine.Bitmap), Nb)) << "netpbm frame " << I;
    ASSERT_TRUE(PeerToPNM("convert '" + D + "ours.gif[" + std::to_string(I) +
                              "]' +repage -depth 8 ppm:" + D + "im.ppm",
                          D + "im.ppm", Im));
    EXPECT_TRUE(SamePixels(As24(Mine.Bitmap), Im)) << "ImageMagick frame " << I;
  }
  std::string Text;
  RunCommand("giftext " + D + "ours.gif", &Text);
  EXPECT_NE(Text.find("DelayTime: 15"), std::string::npos);
  EXPECT_NE(Text.find("DelayTime: 45"), std::string::npos);
  std::string Identify;
  RunCommand("identify -format '%T %[gif:loop-count];' " + D +
                 "ours.gif 2>/dev/null || identify -format '%T;' " + D + "ours.gif",
             &Identify);
  EXPECT_NE(Identify.find("15"), std::string::npos) << Identify;
  EXPECT_NE(Identify.find("45"), std::string::npos) << Identify;
}
