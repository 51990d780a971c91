#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quillo/codecs/jpeg.h"
#include "quillo/io/quilloio.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

const uint8_t kAPP13 = 0xED;

// The payloads of every APP13 segment of a JPEG file, in order.
std::vector<std::string> App13Payloads(const std::vector<uint8_t>& J) {
  std::vector<std::string> Out;
  size_t I = 2;
  while (I + 4 <= J.size() && J[I] == 0xFF && J[I + 1] != 0xDA) {
    const size_t Len = static_cast<size_t>(J[I + 2] << 8 | J[I + 3]);
    if (J[I + 1] == kAPP13) Out.emplace_back(reinterpret_cast<const char*>(&J[I + 4]), Len - 2);
    I += 2 + Len;
  }
  return Out;
}

}  // namespace

TEST(QuilloIOJpeg, StreamHeadersLetImagesFollowOneAnother) {
  TBitmap A = RandomBitmap24(20, 10, 1), B = RandomBitmap24(7, 33, 2);
  TMemoryStream S;
  TQuilloIO IO;
  IO.StreamHeaders = true;
  IO.SetAttachedBitmap(&A);
  IO.SaveToStreamJpeg(S);
  ASSERT_FALSE(IO.Aborting);
  const int64_t Second = S.GetPosition();
  IO.SetAttachedBitmap(&B);
  IO.SaveToStream(S, ioJPEG);
  ASSERT_FALSE(IO.Aborting);
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(S.Memory()), 4), "JFIF");

  S.SetPosition(0);
  EXPECT_EQ(FindStreamFormat(S), ioJPEG);
  TBitmap Target;
  TQuilloIO In;
  In.SetAttachedBitmap(&Target);
  In.LoadFromStream(S);
  ASSERT_FALSE(In.Aborting);
  EXPECT_EQ(Target.GetWidth(), 20);
  EXPECT_EQ(S.GetPosition(), Second);
  EXPECT_EQ(In.IOParams().FileType, ioJPEG);
  In.LoadFromStream(S);
  ASSERT_FALSE(In.Aborting);
  EXPECT_EQ(Target.GetHeight(), 33);
  EXPECT_EQ(S.GetPosition(), S.GetSize());
  // Parameters alone, through the header too.
  S.SetPosition(Second);
  In.ParamsFromStream(S);
  EXPECT_EQ(In.IOParams().FileType, ioJPEG);
  EXPECT_EQ(In.IOParams().Width, 7);

  // Without headers, the reader still stops right after the first image.
  TMemoryStream Plain;
  IO.StreamHeaders = false;
  IO.SetAttachedBitmap(&A);
  IO.SaveToStreamJpeg(Plain);
  const int64_t End = Plain.GetPosition();
  IO.SaveToStreamJpeg(Plain);
  Plain.SetPosition(0);
  In.LoadFromStream(Plain);
  EXPECT_EQ(Plain.GetPosition(), End);
}

TEST(QuilloIOJpeg, IptcTravelsAsApp13) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(16, 16, 3);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Src);
  // A fresh load empties the IPTC list, which counts as a change: the JPEG saved next carries
  // the bare 26-byte resource with size 0.
  IO.SaveToFileBMP(Dir.File("a.bmp"));
  IO.LoadFromFile(Dir.File("a.bmp"));
  IO.SaveToFile(Dir.File("a.jpg"));
  ASSERT_FALSE(IO.Aborting);
  std::vector<std::string> P = App13Payloads(ReadFileBytes(Dir.File("a.jpg")));
  ASSERT_EQ(P.size(), 1u);
  ASSERT_EQ(P[0].size(), 26u);
  EXPECT_EQ(P[0].substr(0, 18), std::string("Photoshop 3.0\0008BIM", 18));
  EXPECT_EQ(P[0].substr(22, 4), std::string(4, '\0'));

  // Records set by the user are written; a load reads them back and marks the list unchanged,
  // so that saving again writes the same APP13.
  IO.IOParams().IPTCInfoList.AddStringItem(2, 5, "Harbour at dawn");
  IO.IOParams().IPTCInfoList.AddStringItem(2, 120, "Boats leaving the harbour");
  IO.SaveToFile(Dir.File("b.jpg"));
  const std::vector<std::string> First = App13Payloads(ReadFileBytes(Dir.File("b.jpg")));
  ASSERT_EQ(First.size(), 1u);
  TBitmap Target;
  TQuilloIO In;
  In.SetAttachedBitmap(&Target);
  In.LoadFromFile(Dir.File("b.jpg"));
  ASSERT_FALSE(In.Aborting);
  const TQLIPTCInfoList& L = In.IOParams().IPTCInfoList;
  ASSERT_EQ(L.Count(), 2);
  EXPECT_EQ(L.GetStrings(0), "Harbour at dawn");
  EXPECT_EQ(L.GetRecordNumber(1), 2);
  EXPECT_EQ(L.GetDataSet(1), 120);
  EXPECT_FALSE(L.GetUserChanged());
  In.SaveToFile(Dir.File("c.jpg"));
  EXPECT_EQ(App13Payloads(ReadFileBytes(Dir.File("c.jpg"))), First);
  // Parameters alone bring the records too.
  TQuilloIO Params;
  Params.ParamsFromFile(Dir.File("b.jpg"));
  EXPECT_EQ(Params.IOParams().FileType, ioJPEG);
  EXPECT_EQ(Params.IOParams().IPTCInfoList.Count(), 2);

  if (!HaveProgram("convert")) GTEST_SKIP() << "ImageMagick missing";
  // The peer reads our records...
  std::string Text;
  ASSERT_EQ(RunCommand("convert " + Dir.File("b.jpg") + " 8BIMTEXT:-", &Text), 0);
  EXPECT_NE(Text.find("2#5#"), std::string::npos) << Text;
  EXPECT_NE(Text.find("\"Harbour at dawn\""), std::string::npos) << Text;
  EXPECT_NE(Text.find("2#120#"), std::string::npos) << Text;
  EXPECT_NE(Text.find("\"Boats leaving the harbour\""), std::string::npos) << Text;
  // ...and we read the peer's.
  const std::string T = "2#5#Title=\"Made elsewhere\"\n2#25#Keyword=\"sea\"\n";
  WriteFileBytes(Dir.File("iptc.txt"), std::vector<uint8_t>(T.begin(), T.end()));
  ASSERT_EQ(RunCommand("convert " + Dir.File("a.bmp") +
                       " -profile 8BIMTEXT:" + Dir.File("iptc.txt") + " " + Dir.File("peer.jpg")),
            0);
  In.LoadFromFile(Dir.File("peer.jpg"));
  ASSERT_FALSE(In.Aborting);
  ASSERT_GE(L.IndexOf(2, 5), 0);
  EXPECT_EQ(L.GetStrings(L.IndexOf(2, 5)), "Made elsewhere");
  ASSERT_GE(L.IndexOf(2, 25), 0);
  EXPECT_EQ(L.GetStrings(L.IndexOf(2, 25)), "sea");
}

TEST(QuilloIOJpeg, InjectionRewritesTheFileOnlyWhenItSucceeds) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(16, 16, 4);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Src);
  IO.IOParams().IPTCInfoList.AddStringItem(2, 5, "old");
  IO.SaveToFile(Dir.File("x.jpg"));
  IO.IOParams().IPTCInfoList.Clear();
  IO.IOParams().IPTCInfoList.AddStringItem(2, 5, "new title");
  ASSERT_TRUE(IO.InjectJpegIPTC(Dir.File("x.jpg")));
  const std::vector<uint8_t> After = ReadFileBytes(Dir.File("x.jpg"));
  const std::vector<std::string> P = App13Payloads(After);
  ASSERT_EQ(P.size(), 1u);
  EXPECT_NE(P[0].find("new title"), std::string::npos);
  EXPECT_EQ(P[0].find("old"), std::string::npos);

  // A file with a bad marker is left as it was.
  std::vector<uint8_t> Bad = After;
  Bad.insert(Bad.begin() + 2, {0xFF, 0x10, 0, 4, 0, 0});
  WriteFileBytes(Dir.File("bad.jpg"), Bad);
  EXPECT_FALSE(IO.InjectJpegIPTC(Dir.File("bad.jpg")));
  EXPECT_EQ(ReadFileBytes(Dir.File("bad.jpg")), Bad);

  // The stream form writes to the destination.
  TMemoryViewStream In(After.data(), static_cast<int64_t>(After.size()));
  TMemoryStream Out;
  EXPECT_TRUE(IO.InjectJpegIPTCStream(In, Out));
  EXPECT_EQ(Out.Data(), After);
}

TEST(QuilloIOJpeg, ExtensionAndContentDispatch) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(10, 8, 5);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Src);
  IO.IOParams().DpiX = 240;
  IO.IOParams().DpiY = 120;
  IO.SaveToFile(Dir.File("photo.jpeg"));
  ASSERT_FALSE(IO.Aborting);
  EXPECT_EQ(FindFileFormat(Dir.File("photo.jpeg"), true), ioJPEG);
  // The same bytes named .bmp: content says JPEG, the extension check refuses.
  WriteFileBytes(Dir.File("photo.bmp"), ReadFileBytes(Dir.File("photo.jpeg")));
  EXPECT_EQ(FindFileFormat(Dir.File("photo.bmp"), true), ioUnknown);

  TBitmap Target;
  TQuilloIO In;
  In.SetAttachedBitmap(&Target);
  In.LoadFromFile(Dir.File("photo.jpeg"));
  ASSERT_FALSE(In.Aborting);
  EXPECT_EQ(In.IOParams().FileType, ioJPEG);
  EXPECT_EQ(In.IOParams().FileName, Dir.File("photo.jpeg"));
  EXPECT_EQ(In.IOParams().DpiX, 240);
  EXPECT_EQ(In.IOParams().DpiY, 120);
  // A bitmap named .jpe is read as JPEG, and refused.
  In.SaveToFileBMP(Dir.File("bitmap.jpe"));
  In.LoadFromFile(Dir.File("bitmap.jpe"));
  EXPECT_TRUE(In.Aborting);
}
