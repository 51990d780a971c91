#include "quillo/io/quilloio.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "quillo/codecs/bmp.h"
#include "quillo/codecs/pxm.h"
#include "quillo/core/pixels.h"
#include "quillo/io/formats_glue.h"

namespace quillo {

void QLSetAbortFlag(bool& Flag) {
  std::atomic_ref<bool>(Flag).store(true, std::memory_order_relaxed);
}

void QLClearAbortFlag(bool& Flag) {
  std::atomic_ref<bool>(Flag).store(false, std::memory_order_relaxed);
}

namespace {

// The bitmap in one of the two working layouts, converted in place when it is in another.
void ToWorkingFormat(TBitmap& B) {
  if (B.GetPixelFormat() != pf1bit && B.GetPixelFormat() != pf24bit) B.SetPixelFormat(pf24bit);
}
}  // namespace

std::string QLExtractExt(const std::string& FileName) {
  size_t Slash = FileName.find_last_of('/');
  size_t Dot = FileName.find_last_of('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return {};
  std::string Ext = FileName.substr(Dot + 1);
  for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Ext;
}

// ---------------------------------------------------------------------------------------------
// Creation and attachment

TQuilloIO::TQuilloIO(TComponent* AOwner)
    : TQLTargetComponent(AOwner), FParams(this), FTWainParams(std::make_unique<TQLTWainParams>()) {}

TQuilloIO::~TQuilloIO() {
  Destroying();
}

bool TQuilloIO::ParamsOwnerViewDpi(int32_t& DpiX, int32_t& DpiY) {
  if (!FView) return false;
  DpiX = FView->GetDPIX();
  DpiY = FView->GetDPIY();
  return true;
}

TColor TQuilloIO::GetBackground() const {
  return FView ? FView->GetBackground() : FBackground;
}

void TQuilloIO::SetBackground(TColor Color) {
  if (FView) {
    if (FView->AcceptsIOBackground()) FView->SetBackGround(Color);
  } else {
    FBackground = Color;
  }
}

void TQuilloIO::Clear() {
  if (!FBitmap || FBitmap->Empty()) return;
  ToWorkingFormat(*FBitmap);
  const TColor C = ColorToRGB(GetBackground());
  const uint8_t R = GetRValue(C), G = GetGValue(C), B = GetBValue(C);
  if (FBitmap->GetPixelFormat() == pf1bit) {
    // The nearer of black and white.
    const uint8_t Fill = (21 * R + 71 * G + 7 * B) / 100 >= 128 ? 0xFF : 0x00;
    std::memset(FBitmap->Bits(), Fill, static_cast<size_t>(FBitmap->BitsSize()));
  } else {
    for (int32_t Y = 0; Y < FBitmap->GetHeight(); ++Y) {
      TRGB* Row = reinterpret_cast<TRGB*>(FBitmap->ScanLine(Y));
      for (int32_t X = 0; X < FBitmap->GetWidth(); ++X) Row[X] = TRGB{B, G, R};
    }
  }
  Update();
}

// ---------------------------------------------------------------------------------------------
// Frames

void TQuilloIO::Fail() {
  QLSetAbortFlag(Aborting);
}

TProgressRec TQuilloIO::MakeProgress() {
  return QLProgressRec(OnProgress, this, Aborting);
}

bool TQuilloIO::BeginLoad() {
  QLClearAbortFlag(Aborting);
  if (!FBitmap) return false;
  FParams.IPTCInfoList.Clear();
  FParams.JpegMarkerList.Clear();
  return true;
}

void TQuilloIO::EndLoad(int32_t FileType, const std::string& File, bool SetViewDpi) {
  FParams.FileName = File;
  FParams.FileType = FileType;
  if (FView && SetViewDpi) FView->SetDPI(FParams.DpiX, FParams.DpiY);
  Update();
}

void TQuilloIO::LoadFrame(int32_t FileType, const std::string& File, bool SetViewDpi,
                          const std::function<void(TProgressRec&)>& Read) {
  if (!BeginLoad()) return;
  TProgressRec P = MakeProgress();
  Read(P);
  EndLoad(FileType, File, SetViewDpi);
}

void TQuilloIO::LoadFileFrame(int32_t FileType, const std::string& FileName, bool SetViewDpi,
                              const std::function<void(TStream&, TProgressRec&)>& Read) {
  if (!BeginLoad()) return;
  TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
  TProgressRec P = MakeProgress();
  Read(F, P);
  EndLoad(FileType, FileName, SetViewDpi);
}

bool TQuilloIO::SaveFrame(const std::function<void(TBitmap&, TProgressRec&)>& Write) {
  QLClearAbortFlag(Aborting);
  if (!FBitmap) return false;
  ToWorkingFormat(*FBitmap);
  TProgressRec P = MakeProgress();
  Write(*FBitmap, P);
  return true;
}

void TQuilloIO::SaveFileFrame(const std::string& FileName,
                              const std::function<void(TStream&, TBitmap&, TProgressRec&)>& Write) {
  QLClearAbortFlag(Aborting);
  if (!FBitmap) return;
  TFileStream F(FileName, fmCreate);
  SaveFrame([&](TBitmap& B, TProgressRec& P) { Write(F, B, P); });
  try {
    F.Flush();
  } catch (const EWriteError&) {
    QLSetAbortFlag(Aborting);
  }
}

// ---------------------------------------------------------------------------------------------
// Dispatch

namespace {
bool In(const std::string& Ext, std::initializer_list<const char*> List) {
  for (const char* E : List)
    if (Ext == E) return true;
  return false;
}
}  // namespace

void TQuilloIO::LoadFromFile(const std::string& FileName) {
  if (!FBitmap || FileName.empty()) return;
  const std::string Ext = QLExtractExt(FileName);
  if (In(Ext, {"jpg", "jpeg", "jpe"})) return LoadFromFileJpeg(FileName);
  if (Ext == "png") return LoadFromFilePNG(FileName);
  if (In(Ext, {"tif", "tiff"})) return void(LoadFromFileTIFF(FileName));
  if (Ext == "pcx") return LoadFromFilePCX(FileName);
  if (Ext == "gif") return void(LoadFromFileGif(FileName));
  if (In(Ext, {"wmf", "emf"})) return ImportMetafile(FileName, -1, -1);
  if (In(Ext, {"bmp", "dib", "rle"})) return LoadFromFileBMP(FileName);
  if (Ext == "cur") return LoadFromFileCUR(FileName);
  if (Ext == "ico") return LoadFromFileICO(FileName);
  if (In(Ext, {"tga", "targa", "vda", "icb", "vst", "pix"})) return LoadFromFileTGA(FileName);
  if (In(Ext, {"pxm", "ppm", "pgm", "pbm"})) return LoadFromFilePXM(FileName);
  // Any other extension: a registered format, or nothing.
  FParams.FileName.clear();
  FParams.FileType = ioUnknown;
  FParams.IPTCInfoList.Clear();
  FParams.JpegMarkerList.Clear();
  TQLFileFormatInfo* Row = QLFileFormatGetInfo2(Ext);
  if (!Row || !Row->ReadFunction) {
    return Fail();
  }
  TQLReadFunction Read = Row->ReadFunction;
  LoadFileFrame(Row->FileType, FileName, true,
                [&](TStream& S, TProgressRec& P) { Read(S, *FBitmap, FParams, false, P); });
}

void TQuilloIO::SaveToFile(const std::string& FileName) {
  const std::string Ext = QLExtractExt(FileName);
  if (In(Ext, {"jpg", "jpeg"})) return SaveToFileJpeg(FileName);
  if (Ext == "pcx") return SaveToFilePCX(FileName);
  if (Ext == "gif") return SaveToFileGif(FileName);
  if (In(Ext, {"tif", "tiff"})) return SaveToFileTIFF(FileName);
  if (Ext == "png") return SaveToFilePNG(FileName);
  if (Ext == "bmp") return SaveToFileBMP(FileName);
  if (Ext == "tga") return SaveToFileTGA(FileName);
  if (In(Ext, {"pxm", "pbm", "pgm", "ppm"})) return SaveToFilePXM(FileName);
  TQLFileFormatInfo* Row = QLFileFormatGetInfo2(Ext);
  if (!Row || !Row->WriteFunction) {
    return Fail();
  }
  TQLWriteFunction Write = Row->WriteFunction;
  SaveFileFrame(FileName,
                [&](TStream& S, TBitmap& B, TProgressRec& P) { Write(S, B, FParams, P); });
}

void TQuilloIO::LoadFromFileFormat(const std::string& FileName, int32_t FileType) {
  switch (FileType) {
    case ioTIFF:
      LoadFromFileTIFF(FileName);
      return;
    case ioGIF:
      LoadFromFileGif(FileName);
      return;
    case ioJPEG:
      LoadFromFileJpeg(FileName);
      return;
    case ioPCX:
      LoadFromFilePCX(FileName);
      return;
    case ioBMP:
      LoadFromFileBMP(FileName);
      return;
    case ioICO:
      LoadFromFileICO(FileName);
      return;
    case ioCUR:
      LoadFromFileCUR(FileName);
      return;
    case ioPNG:
      LoadFromFilePNG(FileName);
      return;
    case ioWMF:
    case ioEMF:
      ImportMetafile(FileName, -1, -1);
      return;
    case ioTGA:
      LoadFromFileTGA(FileName);
      return;
    case ioPXM:
      LoadFromFilePXM(FileName);
      return;
    default:
      break;
  }
  TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row || !Row->ReadFunction) {
    return Fail();
  }
  TQLReadFunction Read = Row->ReadFunction;
  LoadFileFrame(FileType, FileName, true,
                [&](TStream& S, TProgressRec& P) { Read(S, *FBitmap, FParams, false, P); });
}

void TQuilloIO::LoadFromStream(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  const int32_t Type = FindStreamFormat(Stream);
  Stream.SetPosition(Pos);
  LoadFromStreamFormat(Stream, Type);
}

void TQuilloIO::LoadFromStreamFormat(TStream& Stream, int32_t FileType) {
  switch (FileType) {
    case ioTIFF:
      LoadFromStreamTIFF(Stream);
      return;
    case ioGIF:
      LoadFromStreamGif(Stream);
      return;
    case ioJPEG:
      LoadFromStreamJpeg(Stream);
      return;
    case ioPCX:
      LoadFromStreamPCX(Stream);
      return;
    case ioBMP:
      LoadFromStreamBMP(Stream);
      return;
    case ioICO:
      LoadFromStreamICO(Stream);
      return;
    case ioCUR:
      LoadFromStreamCUR(Stream);
      return;
    case ioPNG:
      LoadFromStreamPNG(Stream);
      return;
    case ioTGA:
      LoadFromStreamTGA(Stream);
      return;
    case ioPXM:
      LoadFromStreamPXM(Stream);
      return;
    default:
      break;
  }
  TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row || !Row->ReadFunction) {
    return Fail();
  }
  TQLReadFunction Read = Row->ReadFunction;
  LoadFrame(FileType, "", true,
            [&](TProgressRec& P) { Read(Stream, *FBitmap, FParams, false, P); });
}

void TQuilloIO::SaveToStream(TStream& Stream, int32_t FileType) {
  switch (FileType) {
    case ioTIFF:
      SaveToStreamTIFF(Stream);
      return;
    case ioGIF:
      SaveToStreamGif(Stream);
      return;
    case ioJPEG:
      SaveToStreamJpeg(Stream);
      return;
    case ioPCX:
      SaveToStreamPCX(Stream);
      return;
    case ioBMP:
      SaveToStreamBMP(Stream);
      return;
    case ioPNG:
      SaveToStreamPNG(Stream);
      return;
    case ioTGA:
      SaveToStreamTGA(Stream);
      return;
    case ioPXM:
      SaveToStreamPXM(Stream);
      return;
    default:
      break;
  }
  TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row || !Row->WriteFunction) {
    return Fail();
  }
  TQLWriteFunction Write = Row->WriteFunction;
  SaveFrame([&](TBitmap& B, TProgressRec& P) { Write(Stream, B, FParams, P); });
}

// ---------------------------------------------------------------------------------------------
// Parameters only

void TQuilloIO::ParamsFromFile(const std::string& FileName) {
  int32_t Type = FindFileFormat(FileName, true);
  if (Type == ioUnknown) {
    FParams.FileType = ioUnknown;
    return;
  }
  ParamsFromFileFormat(FileName, Type);
}

void TQuilloIO::ParamsFromFileFormat(const std::string& FileName, int32_t FileType) {
  try {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    ParamsFromStreamFormat(F, FileType);
    if (FParams.FileType != ioUnknown) FParams.FileName = FileName;
  } catch (const std::exception&) {
    FParams.FileType = ioUnknown;
  }
}

void TQuilloIO::ParamsFromStream(TStream& Stream) {
  try {
    const int64_t Pos = Stream.GetPosition();
    const int32_t Type = FindStreamFormat(Stream);
    Stream.SetPosition(Pos);
    ParamsFromStreamFormat(Stream, Type);
  } catch (const std::exception&) {
    FParams.FileType = ioUnknown;
  }
}

void TQuilloIO::ParamsFromStreamFormat(TStream& Stream, int32_t FileType) {
  QLClearAbortFlag(Aborting);
  try {
    FParams.IPTCInfoList.Clear();
    FParams.JpegMarkerList.Clear();
    TProgressRec P = MakeProgress();
    TBitmap Unused;
    switch (FileType) {
      case ioBMP:
        BMPReadStream(Stream, Unused, 0, FParams, P, true);
        break;
      case ioICO:
        ICOReadStream(Stream, Unused, FParams, true, P);
        break;
      case ioCUR:
        CURReadStream(Stream, Unused, FParams, true, P);
        break;
      case ioPXM:
        PXMReadStream(Stream, Unused, FParams, P, true);
        break;
      case ioJPEG:
        iodetail::PreviewJPEG(Stream, FParams, P);
        break;
      case ioPNG:
        iodetail::PreviewPNG(Stream, FParams, P);
        break;
      case ioGIF:
        iodetail::PreviewGIF(Stream, FParams, P);
        break;
      case ioTIFF:
        iodetail::PreviewTIFF(Stream, FParams, P);
        break;
      case ioPCX:
        iodetail::PreviewPCX(Stream, FParams, P);
        break;
      case ioTGA:
        iodetail::PreviewTGA(Stream, FParams, P);
        break;
      default: {
        TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
        if (!Row || !Row->ReadFunction) {
          FParams.FileType = ioUnknown;
          return;
        }
        Row->ReadFunction(Stream, Unused, FParams, true, P);
        break;
      }
    }
    FParams.FileType = Aborting ? ioUnknown : FileType;
    FParams.FileName.clear();
  } catch (const std::exception&) {
    FParams.FileType = ioUnknown;
  }
}

// ---------------------------------------------------------------------------------------------
// Detection

int32_t FindStreamFormat(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  int32_t Result = ioUnknown;
  try {
    const int64_t Size = Stream.GetSize() - Pos;
    uint8_t B[16] = {};
    auto Head = [&](int64_t N) {
      std::memset(B, 0, sizeof(B));
      Stream.SetPosition(Pos);
      bool Ok = Stream.Read(B, N) == N;
      Stream.SetPosition(Pos);
      return Ok;
    };
    auto Try = [&](const auto& Detect) {
      Stream.SetPosition(Pos);
      bool R = Detect(Stream);
      Stream.SetPosition(Pos);
      return R;
    };
    for (auto& Row : qlgFileFormats())
      if (Row->TryFunction && Try(Row->TryFunction)) {
        Result = Row->FileType;
        break;
      }
    if (Result == ioUnknown) {
      if (Try(iodetail::TryJPEG))
        Result = ioJPEG;
      else if (Size > 12 && Head(5) && std::memcmp(B, "JFIF\0", 5) == 0)
        Result = ioJPEG;
      else if (Size > 13 && Head(3) && std::memcmp(B, "GIF", 3) == 0)
        Result = ioGIF;
      else if (Size > 12 && Head(5) && std::memcmp(B, "PCX2\0", 5) == 0)
        Result = ioPCX;
      else if (Size > 4 && Head(4) && std::memcmp(B, "PCX\0", 4) == 0)
        Result = ioPCX;
      else if (Size > 14 && Head(2) && std::memcmp(B, "BM", 2) == 0)
        Result = ioBMP;
      else if (Size > 128 && Head(2) && B[0] == 0x0A && B[1] <= 5)
        Result = ioPCX;
      else if (Size > 12 && Head(5) && std::memcmp(B, "TIFF\0", 5) == 0)
        Result = ioTIFF;
      else if (Size > 8 && Head(2) &&
               (std::memcmp(B, "II", 2) == 0 || std::memcmp(B, "MM", 2) == 0))
        Result = ioTIFF;
      else if (Size > 8 && Try(iodetail::TryPNG))
        Result = ioPNG;
      else if (Try(ICOTryStream))
        Result = ioICO;
      else if (Try(CURTryStream))
        Result = ioCUR;
      else if (Try(iodetail::TryTGA))
        Result = ioTGA;
      else if (Try(TryPXM))
        Result = ioPXM;
    }
  } catch (const std::exception&) {
    // A detector that fails ends detection with what was found so far.
  }
  Stream.SetPosition(Pos);
  return Result;
}

int32_t FindFileFormat(const std::string& FileName, bool VerifyExtension) {
  int32_t Type = ioUnknown;
  try {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    Type = FindStreamFormat(F);
  } catch (const std::exception&) {
    return ioUnknown;
  }
  if (VerifyExtension) {
    TQLFileFormatInfo* Row = QLFileFormatGetInfo2(QLExtractExt(FileName));
    if (!Row || Row->FileType != Type) return ioUnknown;
  }
  return Type;
}

// ---------------------------------------------------------------------------------------------
// Stream headers

std::optional<TQLStreamHeader> QLReadStreamHeader(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  uint8_t B[12];
  if (Stream.Read(B, 12) != 12) {
    Stream.SetPosition(Pos);
    return std::nullopt;
  }
  TQLStreamHeader H;
  std::memcpy(H.Tag, B, 4);
  H.Reserved = static_cast<uint32_t>(B[4]) | (static_cast<uint32_t>(B[5]) << 8) |
               (static_cast<uint32_t>(B[6]) << 16) | (static_cast<uint32_t>(B[7]) << 24);
  H.Length = static_cast<int64_t>(B[8]) | (static_cast<int64_t>(B[9]) << 8) |
             (static_cast<int64_t>(B[10]) << 16) | (static_cast<int64_t>(B[11]) << 24);
  return H;
}

int64_t QLBeginStreamHeader(TStream& Stream, bool& Abort) {
  const int64_t Pos = Stream.GetPosition();
  const uint8_t Zero[12] = {};
  SafeStreamWrite(Stream, Abort, Zero, 12);
  return Pos;
}

void QLEndStreamHeader(TStream& Stream, int64_t HeaderPos, const char (&Tag)[5], bool& Abort) {
  const int64_t End = Stream.GetPosition();
  const uint32_t Len = static_cast<uint32_t>(End - HeaderPos - 12);
  uint8_t H[12] = {};
  std::memcpy(H, Tag, 4);
  for (int I = 0; I < 4; ++I) H[8 + I] = static_cast<uint8_t>(Len >> (8 * I));
  Stream.SetPosition(HeaderPos);
  SafeStreamWrite(Stream, Abort, H, 12);
  Stream.SetPosition(End);
}

// ---------------------------------------------------------------------------------------------
// Background loading

// Clears the thread's pointer to its owner when the owner goes first.
class TQLIOThread::TOwnerWatch : public TComponent {
 public:
  explicit TOwnerWatch(TQuilloIO* O) : Owner(O) { FreeNotification(O); }
  TQuilloIO* Owner;

 protected:
  void Notification(TComponent* C, TOperation Op) override {
    if (Op == opRemove && C == Owner) Owner = nullptr;
  }
};

TQLIOThread::TQLIOThread(TQuilloIO* Owner, const std::string& FileName)
    : TThread(true), FWatch(std::make_unique<TOwnerWatch>(Owner)), FFileName(FileName) {
  FIO = std::make_unique<TQuilloIO>();
  FIO->AssignParams(*Owner);
  FBitmap.SetPixelFormat(pf24bit);
  FIO->SetAttachedBitmap(&FBitmap);
}

TQLIOThread::~TQLIOThread() {
  StopAndWait();
}

void TQLIOThread::StopRequested() {
  QLSetAbortFlag(FIO->Aborting);
}

void TQLIOThread::Execute() {
  try {
    FIO->LoadFromFile(FFileName);
  } catch (const std::exception&) {
    // The file could not be opened: the owner learns it through its flag, its image untouched.
    if (!GetTerminated())
      Synchronize([this] {
        if (FWatch->Owner) QLSetAbortFlag(FWatch->Owner->Aborting);
      });
    return;
  }
  // A cancelled load is not handed over.
  if (GetTerminated()) return;
  Synchronize([this] { Deliver(); });
}

void TQLIOThread::Deliver() {
  TQuilloIO* Owner = FWatch->Owner;
  // A thread being destroyed was cancelled, even when its load had just finished.
  if (!Owner || GetTerminated()) return;
  Owner->Aborting = std::atomic_ref<bool>(FIO->Aborting).load();
  Owner->IOParams().Assign(FIO->IOParams());
  if (TQLView* View = Owner->GetAttachedQuillo()) {
    if (TBitmap* B = View->GetFBitmap()) B->Assign(FBitmap);
    View->SetDPI(FIO->IOParams().DpiX, FIO->IOParams().DpiY);
  } else if (TImage* Image = Owner->GetAttachedTImage()) {
    Image->GetPicture().Bitmap().Assign(FBitmap);
  } else if (TBitmap* B = Owner->GetAttachedBitmap()) {
    QLCopyBitmap(FBitmap, *B);
  }
  Owner->Update();
  FDelivered = true;
}

}  // namespace quillo
