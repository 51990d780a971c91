#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "quillo/codecs/bmp.h"
#include "quillo/core/pixels.h"
#include "quillo/io/quilloio.h"
#include "tests/support/testutil.h"

using namespace quillo;
using namespace quillo::test;

namespace {

// A view that owns a bitmap, standing in for the image view.
class TestView : public TQLView {
 public:
  using TQLView::TQLView;
  TBitmap* GetFBitmap() override { return Current; }
  void Update() override { ++Updates; }
  void ImageChange() override { ++ImageChanges; }
  // Replaces the shown bitmap and tells the listeners.
  void SwapBitmap() {
    Current = Current == &A ? &B : &A;
    CallBitmapChangeEvents();
  }
  TBitmap A, B;
  TBitmap* Current = &A;
  int Updates = 0, ImageChanges = 0;
};

std::string WriteBmpFile(const TempDir& Dir, const std::string& Name, const TBitmap& B,
                         int32_t Dpi = 200) {
  TIOParamsVals P;
  P.DpiX = P.DpiY = Dpi;
  TMemoryStream S;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  BMPWriteStream(S, B, P, Prog);
  S.SaveToFile(Dir.File(Name));
  return Dir.File(Name);
}

}  // namespace

TEST(QuilloIO, ExtensionDecidesForFilesContentForStreams) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(12, 9, 1);
  const std::string AsPgm = WriteBmpFile(Dir, "image.pgm", Src);
  TBitmap Target;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Target);
  IO.LoadFromFile(AsPgm);  // goes to the PBM/PGM/PPM reader, which refuses it
  EXPECT_TRUE(IO.Aborting);

  TFileStream F(AsPgm, fmOpenRead);
  IO.LoadFromStream(F);
  EXPECT_FALSE(IO.Aborting);
  EXPECT_EQ(IO.IOParams().FileType, ioBMP);
  EXPECT_EQ(IO.IOParams().FileName, "");
  EXPECT_TRUE(SamePixels(Target, Src));

  EXPECT_EQ(FindFileFormat(AsPgm, false), ioBMP);
  EXPECT_EQ(FindFileFormat(AsPgm, true), ioUnknown);
  EXPECT_EQ(FindFileFormat(WriteBmpFile(Dir, "image.dib", Src), true), ioBMP);
  EXPECT_EQ(FindFileFormat(Dir.File("missing.bmp"), false), ioUnknown);

  IO.LoadFromFile(WriteBmpFile(Dir, "good.BMP", Src));
  EXPECT_FALSE(IO.Aborting);
  EXPECT_EQ(IO.IOParams().FileName, Dir.File("good.BMP"));
  EXPECT_EQ(IO.IOParams().FileType, ioBMP);
  EXPECT_EQ(IO.IOParams().GetFileTypeStr(), "Windows Bitmap (BMP) ver.3");
}

TEST(QuilloIO, FailuresAndErrors) {
  TempDir Dir;
  TBitmap Target(3, 3, pf24bit);
  TQuilloIO IO;
  // Without a target nothing happens at all.
  IO.LoadFromFile(Dir.File("x.bmp"));
  EXPECT_FALSE(IO.Aborting);
  IO.SetAttachedBitmap(&Target);
  IO.LoadFromFile("");
  EXPECT_FALSE(IO.Aborting);
  // A missing file raises the platform's open error.
  EXPECT_THROW(IO.LoadFromFile(Dir.File("missing.bmp")), EFOpenError);
  // Unknown extensions and unknown content end in the flag, the image untouched.
  WriteFileBytes(Dir.File("data.xyz"), {1, 2, 3});
  IO.LoadFromFile(Dir.File("data.xyz"));
  EXPECT_TRUE(IO.Aborting);
  EXPECT_EQ(Target.GetWidth(), 3);
  TMemoryViewStream Junk("junkjunkjunkjunk", 16);
  IO.LoadFromStream(Junk);
  EXPECT_TRUE(IO.Aborting);
  IO.SaveToFile(Dir.File("out.xyz"));
  EXPECT_TRUE(IO.Aborting);
  // The JPEG row of the table carries ".jpe" but no writer.
  IO.SaveToFile(Dir.File("out.jpe"));
  EXPECT_TRUE(IO.Aborting);
  // A save clears the flag and brings a foreign layout to 24 bits in place.
  TBitmap Eight(4, 4, pf8bit);
  IO.SetAttachedBitmap(&Eight);
  IO.SaveToFile(Dir.File("ok.bmp"));
  EXPECT_FALSE(IO.Aborting);
  EXPECT_EQ(Eight.GetPixelFormat(), pf24bit);
  EXPECT_EQ(FindFileFormat(Dir.File("ok.bmp"), true), ioBMP);
}

TEST(QuilloIO, TargaExtensionsAreTheTableRows) {
  // Loading by extension knows the Targa row's extensions, ".pix" among them, and ".win",
  // under which Targa files have always been read, though it is not one of the row's own.
  TempDir Dir;
  TBitmap Src = RandomBitmap24(7, 5, 9), Target;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Src);
  IO.SaveToFile(Dir.File("a.tga"));
  ASSERT_FALSE(IO.Aborting);
  std::filesystem::copy_file(Dir.File("a.tga"), Dir.File("a.pix"));
  std::filesystem::copy_file(Dir.File("a.tga"), Dir.File("a.win"));
  IO.SetAttachedBitmap(&Target);
  IO.LoadFromFile(Dir.File("a.pix"));
  EXPECT_FALSE(IO.Aborting);
  EXPECT_EQ(IO.IOParams().FileType, ioTGA);
  EXPECT_TRUE(SamePixels(Target, Src));
  EXPECT_EQ(FindFileFormat(Dir.File("a.pix"), true), ioTGA);
  IO.LoadFromFile(Dir.File("a.win"));
  EXPECT_FALSE(IO.Aborting);
  EXPECT_EQ(IO.IOParams().FileType, ioTGA);
  EXPECT_EQ(QLFileFormatGetExtCount(ioTGA), 6);
  // Saving writes Targa files as ".tga" only.
  IO.SaveToFile(Dir.File("b.win"));
  EXPECT_TRUE(IO.Aborting);
}

TEST(QuilloIO, ParamsOnlyReads) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(21, 8, 2);
  const std::string Name = WriteBmpFile(Dir, "p.bmp", Src, 300);
  TBitmap Target(2, 2, pf24bit);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Target);
  IO.ParamsFromFile(Name);
  EXPECT_EQ(IO.IOParams().FileType, ioBMP);
  EXPECT_EQ(IO.IOParams().Width, 21);
  EXPECT_EQ(IO.IOParams().DpiX, 300);
  EXPECT_EQ(Target.GetWidth(), 2);
  IO.ParamsFromFile(Dir.File("missing.bmp"));
  EXPECT_EQ(IO.IOParams().FileType, ioUnknown);
  WriteBmpFile(Dir, "p.gif", Src);
  IO.ParamsFromFile(Dir.File("p.gif"));  // content and extension disagree
  EXPECT_EQ(IO.IOParams().FileType, ioUnknown);
  TMemoryStream S;
  S.LoadFromFile(Name);
  IO.ParamsFromStream(S);
  EXPECT_EQ(IO.IOParams().FileType, ioBMP);
  EXPECT_EQ(IO.IOParams().Height, 8);
  EXPECT_NO_THROW(IO.ParamsFromFileFormat(Dir.File("missing.bmp"), ioBMP));
  EXPECT_EQ(IO.IOParams().FileType, ioUnknown);
}

TEST(QuilloIO, RegisteredFormatsServeLoadSaveAndDetection) {
  // A toy format: "QQ", width, height bytes, then 24-bit rows.
  TQLFileFormatInfo Row;
  Row.FileType = 200;
  Row.FullName = "Test Raw";
  Row.Extensions = "QQR";
  Row.ReadFunction = [](TStream& S, TBitmap& B, TIOParamsVals& P, bool Preview,
                        TProgressRec& Prog) {
    uint8_t H[4];
    if (S.Read(H, 4) != 4 || H[0] != 'Q' || H[1] != 'Q') return QLSetAbort(Prog);
    P.Width = H[2];
    P.Height = H[3];
    if (Preview) return;
    B.SetPixelFormat(pf24bit);
    B.SetSize(H[2], H[3]);
    for (int32_t Y = 0; Y < H[3]; ++Y) S.ReadBuffer(B.ScanLine(Y), H[2] * 3);
  };
  Row.WriteFunction = [](TStream& S, TBitmap& B, TIOParamsVals&, TProgressRec&) {
    uint8_t H[4] = {'Q', 'Q', static_cast<uint8_t>(B.GetWidth()),
                    static_cast<uint8_t>(B.GetHeight())};
    S.WriteBuffer(H, 4);
    for (int32_t Y = 0; Y < B.GetHeight(); ++Y) S.WriteBuffer(B.ScanLine(Y), B.GetWidth() * 3);
  };
  Row.TryFunction = [](TStream& S) {
    char H[2] = {};
    return S.Read(H, 2) == 2 && H[0] == 'Q' && H[1] == 'Q';
  };
  QLFileFormatAdd(Row);
  TempDir Dir;
  TBitmap Src = RandomBitmap24(5, 4, 3), Target;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Src);
  IO.SaveToFile(Dir.File("x.qqr"));
  EXPECT_FALSE(IO.Aborting);
  IO.SetAttachedBitmap(&Target);
  IO.LoadFromFile(Dir.File("x.qqr"));
  EXPECT_FALSE(IO.Aborting);
  EXPECT_TRUE(SamePixels(Target, Src));
  EXPECT_EQ(IO.IOParams().FileType, 200);
  EXPECT_EQ(IO.IOParams().GetFileTypeStr(), "Test Raw (QQR)");
  EXPECT_EQ(FindFileFormat(Dir.File("x.qqr"), true), 200);
  TMemoryStream S;
  S.LoadFromFile(Dir.File("x.qqr"));
  TBitmap Again;
  IO.SetAttachedBitmap(&Again);
  IO.LoadFromStream(S);
  EXPECT_TRUE(SamePixels(Again, Src));
  TMemoryStream Out;
  IO.SaveToStream(Out, 200);
  EXPECT_EQ(Out.GetSize(), S.GetSize());
  QLFileFormatRemove(200);
  IO.LoadFromFile(Dir.File("x.qqr"));
  EXPECT_TRUE(IO.Aborting);
}

TEST(FileFormats, ApplicationCodecRunsLikeABuiltInOne) {
  // A toy format that claims files starting "BM" too: a registered detector is asked before
  // the built-in ones. "BMQ", width, height bytes, then 24-bit rows.
  TQLFileFormatInfo Row;
  Row.FileType = 201;
  Row.FullName = "Toy";
  Row.Extensions = "TOY;TY";
  Row.ReadFunction = [](TStream& S, TBitmap& B, TIOParamsVals& P, bool Preview,
                        TProgressRec& Prog) {
    uint8_t H[5];
    if (S.Read(H, 5) != 5 || H[2] != 'Q') return QLSetAbort(Prog);
    P.Width = H[3];
    P.Height = H[4];
    P.DpiX = P.DpiY = 77;
    if (Preview) return;
    B.Recreate(H[3], H[4], pf24bit);
    for (int32_t Y = 0; Y < H[4]; ++Y) S.ReadBuffer(B.ScanLine(Y), H[3] * 3);
  };
  Row.WriteFunction = [](TStream& S, TBitmap& B, TIOParamsVals&, TProgressRec&) {
    uint8_t H[5] = {'B', 'M', 'Q', static_cast<uint8_t>(B.GetWidth()),
                    static_cast<uint8_t>(B.GetHeight())};
    S.WriteBuffer(H, 5);
    for (int32_t Y = 0; Y < B.GetHeight(); ++Y) S.WriteBuffer(B.ScanLine(Y), B.GetWidth() * 3);
  };
  Row.TryFunction = [](TStream& S) {
    char H[3] = {};
    return S.Read(H, 3) == 3 && std::memcmp(H, "BMQ", 3) == 0;
  };
  QLFileFormatAdd(Row);
  TempDir Dir;
  TBitmap Src = RandomBitmap24(6, 3, 11), Target;
  TestView View;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Src);
  IO.SaveToFile(Dir.File("a.ty"));  // every extension of the row is written
  EXPECT_FALSE(IO.Aborting);
  EXPECT_TRUE(QLFileFormatSavesExt(*QLFileFormatGetInfo(201), "TOY"));
  // By content and by extension, with the extension check.
  EXPECT_EQ(FindFileFormat(Dir.File("a.ty"), true), 201);
  std::filesystem::copy_file(Dir.File("a.ty"), Dir.File("a.bmp"));
  EXPECT_EQ(FindFileFormat(Dir.File("a.bmp"), false), 201);
  EXPECT_EQ(FindFileFormat(Dir.File("a.bmp"), true), ioUnknown);
  // Loads through the common frame: type, name, the view's resolution, parameters only.
  IO.SetAttachedQuillo(&View);
  IO.LoadFromFile(Dir.File("a.ty"));
  EXPECT_FALSE(IO.Aborting);
  EXPECT_TRUE(SamePixels(View.A, Src));
  EXPECT_EQ(IO.IOParams().FileType, 201);
  EXPECT_EQ(IO.IOParams().FileName, Dir.File("a.ty"));
  EXPECT_EQ(View.GetDPIX(), 77);
  IO.SetAttachedBitmap(&Target);
  IO.LoadFromFileFormat(Dir.File("a.bmp"), 201);
  EXPECT_TRUE(SamePixels(Target, Src));
  TMemoryStream S;
  S.LoadFromFile(Dir.File("a.ty"));
  IO.ParamsFromStream(S);
  EXPECT_EQ(IO.IOParams().FileType, 201);
  EXPECT_EQ(IO.IOParams().Width, 6);
  TBitmap Again;
  IO.SetAttachedBitmap(&Again);
  S.SetPosition(0);
  IO.LoadFromStream(S);
  EXPECT_TRUE(SamePixels(Again, Src));
  QLFileFormatRemove(201);
  // Gone from the table, the same file is a damaged BMP again.
  EXPECT_EQ(FindFileFormat(Dir.File("a.bmp"), false), ioBMP);
}

TEST(FileFormats, BuiltInRowsCarryTheirCodecs) {
  // The library's rows hold the same kind of functions an application registers: the PNG row
  // alone writes, detects and reads an image back.
  const TQLFileFormatInfo* Png = QLFileFormatGetInfo(ioPNG);
  ASSERT_TRUE(Png && Png->ReadFunction && Png->WriteFunction && Png->TryFunction);
  TBitmap Src = RandomBitmap24(9, 4, 12), Back;
  TIOParamsVals P;
  bool Abort = false;
  TProgressRec Prog = QLProgressRec(nullptr, nullptr, Abort);
  TMemoryStream S;
  Png->WriteFunction(S, Src, P, Prog);
  S.SetPosition(0);
  EXPECT_TRUE(Png->TryFunction(S));
  EXPECT_EQ(FindStreamFormat(S), ioPNG);
  Png->ReadFunction(S, Back, P, false, Prog);
  EXPECT_FALSE(Abort);
  EXPECT_TRUE(SamePixels(Back, Src));
  // Which formats can be written, and under which extensions, is the rows' to say.
  for (int32_t Type : {ioICO, ioCUR, ioWMF, ioEMF})
    EXPECT_FALSE(QLFileFormatGetInfo(Type)->WriteFunction) << Type;
  EXPECT_TRUE(QLFileFormatSavesExt(*QLFileFormatGetInfo(ioPXM), "pbm"));
  EXPECT_FALSE(QLFileFormatSavesExt(*QLFileFormatGetInfo(ioBMP), "dib"));
  EXPECT_FALSE(QLFileFormatSavesExt(*QLFileFormatGetInfo(ioJPEG), "jpe"));
}

TEST(QuilloIO, AbortReasons) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(30, 20, 13), Target;
  const std::string Name = WriteBmpFile(Dir, "r.bmp", Src);
  auto Bytes = ReadFileBytes(Name);
  Bytes.resize(Bytes.size() - 100);
  WriteFileBytes(Dir.File("cut.bmp"), Bytes);
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Target);
  IO.LoadFromFile(Dir.File("cut.bmp"));
  EXPECT_EQ(IO.AbortReason(), qlarTruncated);
  // Each load starts afresh; the first cause found is kept.
  IO.LoadFromFile(Name);
  EXPECT_FALSE(IO.Aborting);
  EXPECT_EQ(IO.AbortReason(), qlarNone);
  const int64_t Limit = QLGetMaxPixels();
  QLSetMaxPixels(500);
  IO.LoadFromFile(Name);
  QLSetMaxPixels(Limit);
  EXPECT_EQ(IO.AbortReason(), qlarPixelLimit);
  IO.LoadFromFile(Dir.File("r.xyz"));  // no format for the name
  EXPECT_EQ(IO.AbortReason(), qlarUnsupported);
  // A flag raised by the caller is a cancellation, with no reason.
  IO.OnProgress = [&](TObject*, int32_t) { QLSetAbortFlag(IO.Aborting); };
  IO.LoadFromFile(Name);
  EXPECT_TRUE(IO.Aborting);
  EXPECT_EQ(IO.AbortReason(), qlarNone);
}

TEST(QuilloIO, AttachmentFollowsViewsAndImages) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(6, 5, 4);
  const std::string Name = WriteBmpFile(Dir, "v.bmp", Src, 150);
  TQuilloIO IO;
  {
    TestView View;
    View.SetBackGround(clRed);
    IO.SetAttachedQuillo(&View);
    EXPECT_EQ(IO.GetAttachedBitmap(), &View.A);
    EXPECT_EQ(IO.GetBackground(), clRed);
    IO.SetBackground(clBlue);
    EXPECT_EQ(View.GetBackground(), clBlue);
    IO.LoadFromFile(Name);
    EXPECT_TRUE(SamePixels(View.A, Src));
    EXPECT_EQ(View.GetDPIX(), 150);
    EXPECT_EQ(View.Updates, 1);
    EXPECT_EQ(View.ImageChanges, 1);
    // The view replaces its bitmap: the component follows.
    View.SwapBitmap();
    EXPECT_EQ(IO.GetAttachedBitmap(), &View.B);
    // The netpbm loaders leave the view's resolution alone.
    TIOParamsVals P;
    TMemoryStream Pnm;
    Pnm.WriteBuffer("P6 1 1 255\n\x01\x02\x03", 14);
    Pnm.SaveToFile(Dir.File("x.ppm"));
    View.SetDPI(77, 77);
    IO.LoadFromFile(Dir.File("x.ppm"));
    EXPECT_FALSE(IO.Aborting);
    EXPECT_EQ(View.GetDPIX(), 77);
  }
  // The view is gone: so is the attachment.
  EXPECT_EQ(IO.GetAttachedQuillo(), nullptr);
  EXPECT_EQ(IO.GetAttachedBitmap(), nullptr);
  IO.LoadFromFile(Name);  // nothing to load into, no crash
  {
    TImage Image;
    IO.SetAttachedTImage(&Image);
    IO.LoadFromFile(Name);
    EXPECT_TRUE(SamePixels(Image.GetPicture().Bitmap(), Src));
    TBitmap Plain;
    IO.SetAttachedBitmap(nullptr);  // ignored while the image is attached
    EXPECT_EQ(IO.GetAttachedTImage(), &Image);
    IO.SetAttachedBitmap(&Plain);
    EXPECT_EQ(IO.GetAttachedTImage(), nullptr);
    IO.SetAttachedTImage(&Image);
  }
  EXPECT_EQ(IO.GetAttachedTImage(), nullptr);
  EXPECT_EQ(IO.GetAttachedBitmap(), nullptr);
  // A component destroyed before its view unregisters itself.
  TestView View;
  {
    TQuilloIO Short;
    Short.SetAttachedQuillo(&View);
  }
  View.SwapBitmap();
}

TEST(QuilloIO, ProgressAndAbortFromTheHandler) {
  TempDir Dir;
  const std::string Name = WriteBmpFile(Dir, "big.bmp", RandomBitmap24(40, 100, 5));
  TBitmap Target;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Target);
  std::vector<int32_t> Seen;
  IO.OnProgress = [&](TObject* Sender, int32_t Per) {
    EXPECT_EQ(Sender, &IO);
    Seen.push_back(Per);
    if (Per >= 50) IO.Aborting = true;
  };
  IO.LoadFromFile(Name);
  EXPECT_TRUE(IO.Aborting);
  ASSERT_FALSE(Seen.empty());
  EXPECT_EQ(Seen.front(), 0);
  EXPECT_EQ(Seen.back(), 50);
  EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));
}

TEST(QuilloIO, StreamHeaderHelpers) {
  TMemoryStream S;
  bool Abort = false;
  S.WriteBuffer("xy", 2);
  int64_t At = QLBeginStreamHeader(S, Abort);
  S.WriteBuffer("payload", 7);
  QLEndStreamHeader(S, At, "PCX2", Abort);
  EXPECT_FALSE(Abort);
  EXPECT_EQ(S.GetPosition(), 2 + 12 + 7);
  S.SetPosition(2);
  auto H = QLReadStreamHeader(S);
  ASSERT_TRUE(H.has_value());
  EXPECT_EQ(std::string(H->Tag, 4), "PCX2");
  EXPECT_EQ(H->Length, 7);
  EXPECT_EQ(S.GetPosition(), 14);
  S.SetPosition(15);
  EXPECT_FALSE(QLReadStreamHeader(S).has_value());
  EXPECT_EQ(S.GetPosition(), 15);
}

TEST(QuilloIO, BackgroundLoadHandsOverOnTheMainThreadOnly) {
  TempDir Dir;
  TBitmap Src = RandomBitmap24(300, 200, 6);
  const std::string Name = WriteBmpFile(Dir, "bg.bmp", Src, 120);
  TestView View;
  TQuilloIO IO;
  IO.SetAttachedQuillo(&View);
  IO.IOParams().JpegQuality = 77;  // parameters travel to the private component and back
  auto Thread = std::make_unique<TQLIOThread>(&IO, Name);
  Thread->Start();
  // Until the main thread runs its queue, the owner's bitmap is untouched.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(View.A.Empty());
  for (int I = 0; I < 400 && !Thread->GetDelivered(); ++I) Application().WaitAndProcess(10);
  ASSERT_TRUE(Thread->GetDelivered());
  EXPECT_TRUE(SamePixels(View.A, Src));
  EXPECT_EQ(IO.IOParams().JpegQuality, 77);
  EXPECT_EQ(IO.IOParams().FileType, ioBMP);
  EXPECT_EQ(View.GetDPIX(), 120);
  Thread.reset();

  // Destroying a running load stops it and hands nothing over; FreeOnTerminate cleans up.
  TBitmap Plain;
  IO.SetAttachedBitmap(&Plain);
  for (int I = 0; I < 5; ++I) {
    auto T = std::make_unique<TQLIOThread>(&IO, Name);
    T->Start();
    T.reset();
  }
  EXPECT_TRUE(Plain.Empty());
  // The hand-over can come before the body has ended; the thread frees itself after that.
  struct TCountedThread : TQLIOThread {
    TCountedThread(TQuilloIO* Owner, const std::string& File, bool& Gone)
        : TQLIOThread(Owner, File), FGone(Gone) {}
    ~TCountedThread() override { FGone = true; }
    bool& FGone;
  };
  bool Gone = false;
  TQLIOThread::FreeOnTerminate(std::make_unique<TCountedThread>(&IO, Name, Gone));
  for (int I = 0; I < 400 && (Plain.Empty() || !Gone); ++I) Application().WaitAndProcess(10);
  EXPECT_TRUE(SamePixels(Plain, Src));
  EXPECT_TRUE(Gone);
  // A missing file reaches the owner as its flag.
  IO.Aborting = false;
  auto Missing = std::make_unique<TQLIOThread>(&IO, Dir.File("none.bmp"));
  Missing->Start();
  Missing->WaitFor();
  EXPECT_TRUE(IO.Aborting);
}
