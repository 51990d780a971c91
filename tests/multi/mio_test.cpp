// Multi-image I/O: the parameter list in step with the view, GIF animations and multi-page
// TIFFs written by peers loaded frame for frame as the peers decode them and saved back to
// files the peers read the same, and AVI videos made and checked by FFmpeg's command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "quillo/lzw/lzw.h"
#include "quillo/multi/avifile.h"
#include "quillo/multi/quillomio.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

struct TMultiFixture {
  TQuilloMView View;
  TQuilloMIO MIO;
  TMultiFixture() {
    QLInstallLZWCoders();
    View.SetBounds(0, 0, 400, 300);
    MIO.SetAttachedMView(&View);
  }
  // The stored image I (full size: the store keeps images as given) as 24-bit.
  TBitmap Image(int32_t I) {
    TBitmap* B = View.GetBitmap(I);
    TBitmap Out = B ? As24(*B) : TBitmap();
    View.ReleaseBitmap(I);
    return Out;
  }
};

// The largest difference of one channel between two 24-bit bitmaps of one size (-1: sizes
// differ).
int MaxDiff(const TBitmap& A, const TBitmap& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight()) return -1;
  int M = 0;
  for (int32_t Y = 0; Y < A.GetHeight(); ++Y)
    for (int32_t X = 0; X < A.GetWidth() * 3; ++X)
      M = std::max(M, std::abs(A.ScanLine(Y)[X] - B.ScanLine(Y)[X]));
  return M;
}

// Frame N of a video as FFmpeg's command line decodes it.
bool FFmpegFrame(const std::string& Video, int32_t N, const std::string& Out, TBitmap& Frame) {
  return PeerToPNM("ffmpeg -v error -y -i '" + Video + "' -vf 'select=eq(n\\," + std::to_string(N) +
                       ")' -vsync 0 -frames:v 1 '" + Out + "'",
                   Out, Frame);
}

std::string Probe(const std::string& Video, const std::string& Entries) {
  std::string Out;
  RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=" + Entries +
                 " -of default=nw=1:nk=1 '" + Video + "'",
             &Out);
  return Out;
}

}  // namespace

TEST(MultiIO, ParameterListFollowsTheView) {
  TMultiFixture F;
  for (int32_t I = 0; I < 4; ++I) F.View.AppendImage();
  ASSERT_EQ(F.MIO.GetParamsCount(), 4);
  F.MIO.GetParams(2)->JpegQuality = 33;
  F.View.InsertImageEx(2);  // a copy of the entry it displaces
  ASSERT_EQ(F.MIO.GetParamsCount(), 5);
  EXPECT_EQ(F.MIO.GetParams(2)->JpegQuality, 33);
  F.View.DeleteImage(0);
  ASSERT_EQ(F.MIO.GetParamsCount(), 4);
  for (int32_t I = 0; I < 4; ++I) {
    EXPECT_EQ(F.MIO.GetParams(I)->GifImageIndex, I);
    EXPECT_EQ(F.MIO.GetParams(I)->TiffImageIndex, I);
  }
  EXPECT_EQ(F.MIO.GetParams(4), nullptr);
  // Unknown extensions do nothing.
  F.MIO.LoadFromFile("x.bmp");
  EXPECT_EQ(F.View.GetImageCount(), 4);
  EXPECT_FALSE(F.MIO.Aborting);
  {
    TQuilloMView Gone;
    F.MIO.SetAttachedMView(&Gone);
  }
  EXPECT_EQ(F.MIO.GetAttachedMView(), nullptr);
}

TEST(MultiIO, GifFromPeerLoadsEveryFrameAndSavesBack) {
  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
  TempDir Dir;
  const std::string Gif = Dir.File("anim.gif");
  // Three whole frames; the second has no delay of its own.
  ASSERT_EQ(RunCommand("convert -size 37x23 -delay 20 gradient:red-blue -delay 0 plasma:fractal "
                       "-seed 3 -delay 50 xc:gold -colors 64 '" +
                       Gif + "' 2>/dev/null"),
            0);
  TMultiFixture F;
  for (int32_t I = 0; I < 6; ++I) F.View.AppendImage();
  F.View.SetSelectedItem(5);
  F.MIO.LoadFromFile(Gif);
  ASSERT_FALSE(F.MIO.Aborting);
  ASSERT_EQ(F.View.GetImageCount(), 9);  // inserted at 5, 6 and 7
  for (int32_t I = 5; I < 8; ++I) {
    EXPECT_EQ(F.MIO.GetParams(I)->GifImageIndex, I);
    EXPECT_EQ(F.MIO.GetParams(I)->FileType, ioGIF);
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM(
        "convert '" + Gif + "[" + std::to_string(I - 5) + "]' -depth 8 '" + Dir.File("p.ppm") + "'",
        Dir.File("p.ppm"), Peer));
    EXPECT_EQ(MaxDiff(F.Image(I), Peer), 0) << "frame " << I - 5;
  }
  EXPECT_EQ(F.View.GetImageDelayTime(5), 200);
  EXPECT_EQ(F.View.GetImageDelayTime(6), 200);  // the delay before it
  EXPECT_EQ(F.View.GetImageDelayTime(7), 500);
  EXPECT_EQ(F.View.GetSelectedItem(), 8);  // the selection stays on its image

  // The three frames alone back into one GIF: one write and two insertions.
  for (int32_t I = 8; I >= 0; --I)
    if (I < 5 || I > 7) F.View.DeleteImage(I);
  ASSERT_EQ(F.View.GetImageCount(), 3);
  const std::string Out = Dir.File("out.gif");
  F.MIO.SaveToFile(Out);
  ASSERT_FALSE(F.MIO.Aborting);
  std::string N;
  RunCommand("identify '" + Out + "' | wc -l", &N);
  EXPECT_EQ(std::atoi(N.c_str()), 3);
  for (int32_t I = 0; I < 3; ++I) {
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM(
        "convert '" + Out + "[" + std::to_string(I) + "]' -depth 8 '" + Dir.File("q.ppm") + "'",
        Dir.File("q.ppm"), Peer));
    EXPECT_EQ(MaxDiff(F.Image(I), Peer), 0) << "frame " << I;
  }
  std::string Delays;
  RunCommand("identify -format '%T ' '" + Out + "'", &Delays);
  // Each frame goes back with its own parameters: the second keeps its zero delay.
  EXPECT_EQ(Delays, "20 0 50 ");
  // Into a stream that already holds other bytes, the same GIF follows them.
  TMemoryStream S;
  S.WriteBuffer("prefix", 6);
  F.MIO.SaveToStreamGif(S);
  const std::vector<uint8_t> File = ReadFileBytes(Out);
  ASSERT_EQ(S.GetSize(), static_cast<int64_t>(6 + File.size()));
  EXPECT_TRUE(std::equal(File.begin(), File.end(), S.Data().begin() + 6));
}

TEST(MultiIO, TiffPagesFromPeerLoadAndSaveBack) {
  if (!HaveProgram("convert") || !HaveProgram("tiffcp")) GTEST_SKIP() << "peers missing";
  TempDir Dir;
  ASSERT_EQ(RunCommand("cd '" + Dir.Path() +
                       "' && convert -size 31x17 gradient:lime-navy -depth 8 "
                       "a.tif && convert -size 12x40 plasma:fractal -seed 5 -depth 8 b.tif && "
                       "convert -size 20x20 pattern:checkerboard -monochrome c.tif && "
                       "tiffcp -c lzw a.tif b.tif c.tif pages.tif 2>/dev/null"),
            0);
  const std::string Tif = Dir.File("pages.tif");
  TMultiFixture F;
  F.MIO.LoadFromFile(Tif);
  ASSERT_FALSE(F.MIO.Aborting);
  ASSERT_EQ(F.View.GetImageCount(), 3);
  for (int32_t I = 0; I < 3; ++I) {
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM(
        "convert '" + Tif + "[" + std::to_string(I) + "]' -depth 8 ppm:'" + Dir.File("p.ppm") + "'",
        Dir.File("p.ppm"), Peer));
    EXPECT_EQ(MaxDiff(F.Image(I), Peer), 0) << "page " << I;
    EXPECT_EQ(F.View.GetImageDelayTime(I), 100);
    EXPECT_EQ(F.MIO.GetParams(I)->FileType, ioTIFF);
  }
  const std::string Out = Dir.File("out.tiff");
  F.MIO.SaveToFile(Out);
  ASSERT_FALSE(F.MIO.Aborting);
  std::string Pages;
  RunCommand("tiffinfo '" + Out + "' 2>/dev/null | grep -c 'Image Width'", &Pages);
  EXPECT_EQ(std::atoi(Pages.c_str()), 3);
  for (int32_t I = 0; I < 3; ++I) {
    TBitmap Peer;
    ASSERT_TRUE(PeerToPNM(
        "convert '" + Out + "[" + std::to_string(I) + "]' -depth 8 ppm:'" + Dir.File("q.ppm") + "'",
        Dir.File("q.ppm"), Peer));
    EXPECT_EQ(MaxDiff(F.Image(I), Peer), 0) << "page " << I;
  }
}

TEST(MultiIO, DamagedSequencesKeepWhatLoaded) {
  TempDir Dir;
  TMultiFixture F;
  WriteFileBytes(Dir.File("bad.gif"), {'G', 'I', 'F', '8', '9', 'a', 1, 0});
  F.MIO.LoadFromFile(Dir.File("bad.gif"));
  EXPECT_EQ(F.View.GetImageCount(), 0);
  WriteFileBytes(Dir.File("bad.avi"), {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
  F.MIO.LoadFromFile(Dir.File("bad.avi"));
  EXPECT_TRUE(F.MIO.Aborting);
  EXPECT_EQ(F.View.GetImageCount(), 0);
  F.MIO.LoadFromFile(Dir.File("none.avi"));
  EXPECT_TRUE(F.MIO.Aborting);
}

TEST(MultiIOAvi, RateBecomesDelays) {
  int32_t Rate, Scale;
  QLAVIRateForDelay(40, Rate, Scale);
  EXPECT_EQ(Rate, 25);
  EXPECT_EQ(Scale, 1);
  QLAVIRateForDelay(2000, Rate, Scale);  // slower than a frame a second stays exact
  EXPECT_EQ(Rate, 1);
  EXPECT_EQ(Scale, 2);
  QLAVIRateForDelay(0, Rate, Scale);
  EXPECT_EQ(Rate, 1000);
  TQLAVIStreamInfo I;
  I.Rate = 15;
  I.Scale = 1;
  EXPECT_EQ(I.DelayMs(), 66);
  I.Rate = 30000;
  I.Scale = 1001;
  EXPECT_EQ(I.DelayMs(), 33);
  I.Rate = 0;
  EXPECT_EQ(I.DelayMs(), 0);
}

TEST(MultiIOAvi, VideosFromFFmpegLoadFrameForFrame) {
  if (!QLAVIAvailable() || !HaveProgram("ffmpeg")) GTEST_SKIP() << "FFmpeg missing";
  TempDir Dir;
  struct TCase {
    const char* Name;
    const char* Args;
    int Tolerance;
  };
  const std::vector<TCase> Cases = {
      {"raw", "-c:v rawvideo -pix_fmt bgr24", 0},
      {"pal8", "-c:v rawvideo -pix_fmt pal8", 0},
      {"mjpeg", "-c:v mjpeg -q:v 3", 3},
      {"mpeg4", "-c:v mpeg4 -q:v 3", 3},
      {"h264", "-c:v libx264 -pix_fmt yuv420p", 3},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Avi = Dir.File(std::string(C.Name) + ".avi");
    if (RunCommand("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=15 -frames:v 5 " +
                   std::string(C.Args) + " '" + Avi + "' 2>/dev/null") != 0) {
      // The encoder is not in this build of FFmpeg.
      continue;
    }
    TMultiFixture F;
    F.MIO.LoadFromFile(Avi);
    ASSERT_FALSE(F.MIO.Aborting);
    ASSERT_EQ(F.View.GetImageCount(), 5);
    for (int32_t I = 0; I < 5; ++I) {
      EXPECT_EQ(F.View.GetImageDelayTime(I), 66);
      EXPECT_EQ(F.MIO.GetParams(I)->GifDelayTime, 6);
      EXPECT_EQ(F.MIO.GetParams(I)->FileName, Avi);
      TBitmap Peer;
      ASSERT_TRUE(FFmpegFrame(Avi, I, Dir.File("f.ppm"), Peer));
      const int D = MaxDiff(F.Image(I), Peer);
      EXPECT_GE(D, 0);
      EXPECT_LE(D, C.Tolerance) << "frame " << I;
    }
  }
}

TEST(MultiIOAvi, WrittenVideosReadBackInFFmpeg) {
  if (!QLAVIAvailable() || !HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
    GTEST_SKIP() << "FFmpeg missing";
  TempDir Dir;
  struct TCase {
    TQLAVICodec Codec;
    const char* Name;
    int Tolerance;
  };
  for (const TCase& C :
       {TCase{qlavRaw, "rawvideo", 0}, TCase{qlavFFV1, "ffv1", 0}, TCase{qlavMJPEG, "mjpeg", 40}}) {
    SCOPED_TRACE(C.Name);
    TMultiFixture F;
    std::vector<TBitmap> Sources;
    for (int32_t I = 0; I < 5; ++I) {
      // Smooth pictures, so that the lossy compressor's error stays small.
      TBitmap B(64, 48, pf24bit);
      for (int32_t Y = 0; Y < 48; ++Y)
        for (int32_t X = 0; X < 64; ++X) {
          uint8_t* P = B.ScanLine(Y) + X * 3;
          P[0] = static_cast<uint8_t>(X * 4);
          P[1] = static_cast<uint8_t>(Y * 5);
          P[2] = static_cast<uint8_t>(40 * I + X);
        }
      F.View.AppendImage();
      F.View.SetImage(I, B);
      F.View.SetImageDelayTime(I, 40);
      Sources.push_back(std::move(B));
    }
    // An odd-sized image is replaced by the last frame of the first image's size.
    F.View.SetImage(3, RandomBitmap24(30, 30, 9));
    F.MIO.SetAVICodec(C.Codec);
    F.MIO.SetAVIQuality(90);
    const std::string Avi = Dir.File(std::string(C.Name) + ".avi");
    F.MIO.SaveToFile(Avi);
    ASSERT_FALSE(F.MIO.Aborting);
    EXPECT_EQ(Probe(Avi, "codec_name"), std::string(C.Name) + "\n");
    EXPECT_EQ(Probe(Avi, "nb_read_frames"), "5\n");
    EXPECT_EQ(Probe(Avi, "r_frame_rate"), "25/1\n");
    std::string Streams;
    RunCommand(
        "ffprobe -v error -show_entries format=nb_streams -of default=nw=1:nk=1 '" + Avi + "'",
        &Streams);
    EXPECT_EQ(Streams, "1\n");
    for (int32_t I = 0; I < 5; ++I) {
      TBitmap Peer;
      ASSERT_TRUE(FFmpegFrame(Avi, I, Dir.File("f.ppm"), Peer));
      const TBitmap& Want = Sources[static_cast<size_t>(I == 3 ? 2 : I)];
      const int D = MaxDiff(Peer, Want);
      EXPECT_GE(D, 0);
      EXPECT_LE(D, C.Tolerance) << "frame " << I;
    }
    // And back through our own reader.
    TMultiFixture G;
    G.MIO.LoadFromFile(Avi);
    ASSERT_EQ(G.View.GetImageCount(), 5);
    EXPECT_EQ(G.View.GetImageDelayTime(0), 40);
    if (C.Tolerance == 0) {
      EXPECT_EQ(MaxDiff(G.Image(4), Sources[4]), 0);
    }
  }
}

TEST(MultiIOAvi, UncreatableFileRaises) {
  TMultiFixture F;
  F.View.AppendImage();
  F.View.SetImage(0, RandomBitmap24(8, 8, 1));
  EXPECT_THROW(F.MIO.SaveToFile("/nonexistent-dir/x.avi"), EInvalidGraphic);
}

TEST(MultiIOAvi, CancelAndStopLeaveSoundFiles) {
  if (!QLAVIAvailable() || !HaveProgram("ffprobe")) GTEST_SKIP() << "FFmpeg missing";
  TempDir Dir;
  TMultiFixture F;
  for (int32_t I = 0; I < 5; ++I) {
    F.View.AppendImage();
    F.View.SetImage(I, RandomBitmap24(32, 24, I));
  }
  // Cancelling the compressor choice writes nothing.
  F.MIO.OnAVICompressor = [](TObject*, TQLAVICodec&, int32_t&) { return false; };
  F.MIO.SaveToFile(Dir.File("cancelled.avi"));
  EXPECT_FALSE(F.MIO.Aborting);
  EXPECT_TRUE(ReadFileBytes(Dir.File("cancelled.avi")).empty());
  // The choice may change the compressor.
  F.MIO.OnAVICompressor = [](TObject*, TQLAVICodec& C, int32_t&) {
    C = qlavFFV1;
    return true;
  };
  // Stopping after the second frame leaves a complete file of two frames.
  F.MIO.OnProgress = [&](TObject*, int32_t Per) {
    if (Per >= 20) F.MIO.Aborting = true;
  };
  const std::string Avi = Dir.File("stopped.avi");
  F.MIO.SaveToFile(Avi);
  EXPECT_TRUE(F.MIO.Aborting);
  EXPECT_EQ(Probe(Avi, "codec_name"), "ffv1\n");
  EXPECT_EQ(Probe(Avi, "nb_read_frames"), "2\n");
}
