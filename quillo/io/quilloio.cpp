#include "quillo/io/quilloio.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>

#include "quillo/core/pixels.h"

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

void TQuilloIO::Fail(TQLAbortReason Reason) {
  FAbortReason = Reason;
  QLSetAbortFlag(Aborting);
}

void TQuilloIO::ClearAbort() {
  QLClearAbortFlag(Aborting);
  FAbortReason = qlarNone;
}

TQLAbortReason TQuilloIO::AbortReason() const {
  return std::atomic_ref<bool>(const_cast<bool&>(Aborting)).load(std::memory_order_relaxed)
             ? FAbortReason
             : qlarNone;
}

TProgressRec TQuilloIO::MakeProgress() {
  TProgressRec P = QLProgressRec(OnProgress, this, Aborting);
  P.AbortReason = &FAbortReason;
  return P;
}

bool TQuilloIO::BeginLoad() {
  ClearAbort();
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
  ClearAbort();
  if (!FBitmap) return false;
  ToWorkingFormat(*FBitmap);
  TProgressRec P = MakeProgress();
  Write(*FBitmap, P);
  return true;
}

void TQuilloIO::SaveFileFrame(const std::string& FileName,
                              const std::function<void(TStream&, TBitmap&, TProgressRec&)>& Write) {
  ClearAbort();
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
// Dispatch by the file-format table

bool TQuilloIO::ViewDpiAfterLoad(int32_t FileType, bool FromFile) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return true;
  return FromFile ? Row->FileLoadSetsViewDpi : Row->StreamLoadSetsViewDpi;
}

void TQuilloIO::LoadFileRow(const TQLFileFormatInfo& Row, const std::string& FileName) {
  if (!Row.ReadFunction) return Fail();
  TQLReadFunction Read = Row.ReadFunction;
  LoadFileFrame(Row.FileType, FileName, Row.FileLoadSetsViewDpi,
                [&](TStream& S, TProgressRec& P) { Read(S, *FBitmap, FParams, false, P); });
}

void TQuilloIO::LoadStreamRow(const TQLFileFormatInfo& Row, TStream& Stream) {
  if (!Row.ReadFunction) return Fail();
  TQLReadFunction Read = Row.ReadFunction;
  LoadFrame(Row.FileType, "", Row.StreamLoadSetsViewDpi,
            [&](TProgressRec& P) { Read(Stream, *FBitmap, FParams, false, P); });
}

void TQuilloIO::SaveFileRow(const TQLFileFormatInfo& Row, const std::string& FileName) {
  if (!Row.WriteFunction) return Fail();
  TQLWriteFunction Write = Row.WriteFunction;
  SaveFileFrame(FileName,
                [&](TStream& S, TBitmap& B, TProgressRec& P) { Write(S, B, FParams, P); });
}

void TQuilloIO::SaveStreamRow(const TQLFileFormatInfo& Row, TStream& Stream,
                              const TQLWriteAround& Around) {
  if (!Row.WriteFunction) return Fail();
  TQLWriteFunction Write = Row.WriteFunction;
  SaveFrame([&](TBitmap& B, TProgressRec& P) {
    if (Around) return Around(Write, B, P);
    Write(Stream, B, FParams, P);
  });
}

void TQuilloIO::LoadFileWith(int32_t FileType, const std::string& FileName) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return Fail();
  LoadFileRow(*Row, FileName);
}

void TQuilloIO::LoadStreamWith(int32_t FileType, TStream& Stream) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return Fail();
  LoadStreamRow(*Row, Stream);
}

void TQuilloIO::SaveFileWith(int32_t FileType, const std::string& FileName) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return Fail();
  SaveFileRow(*Row, FileName);
}

void TQuilloIO::SaveStreamWith(int32_t FileType, TStream& Stream, const TQLWriteAround& Around) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return Fail();
  SaveStreamRow(*Row, Stream, Around);
}

// The built-in formats whose loading or saving needs the component beyond the row's reader or
// writer: a BMP file's size bounds its bitmap, GIF and TIFF count their images (and a GIF sets
// the background), PCX, TIFF and JPEG streams may carry stream headers, metafiles are imported.
bool TQuilloIO::OwnFileLoad(const TQLFileFormatInfo& Row, const std::string& FileName) {
  if (!Row.BuiltIn) return false;
  switch (Row.FileType) {
    case ioBMP:
      LoadFromFileBMP(FileName);
      return true;
    case ioGIF:
      LoadFromFileGif(FileName);
      return true;
    case ioTIFF:
      LoadFromFileTIFF(FileName);
      return true;
    case ioPCX:
      LoadFromFilePCX(FileName);
      return true;
    case ioWMF:
    case ioEMF:
      ImportMetafile(FileName, -1, -1);
      return true;
    default:
      return false;
  }
}

bool TQuilloIO::OwnStreamLoad(const TQLFileFormatInfo& Row, TStream& Stream) {
  if (!Row.BuiltIn) return false;
  switch (Row.FileType) {
    case ioGIF:
      LoadFromStreamGif(Stream);
      return true;
    case ioTIFF:
      LoadFromStreamTIFF(Stream);
      return true;
    case ioPCX:
      LoadFromStreamPCX(Stream);
      return true;
    default:
      return false;
  }
}

bool TQuilloIO::OwnStreamSave(const TQLFileFormatInfo& Row, TStream& Stream) {
  if (!Row.BuiltIn) return false;
  switch (Row.FileType) {
    case ioJPEG:
      SaveToStreamJpeg(Stream);
      return true;
    case ioPCX:
      SaveToStreamPCX(Stream);
      return true;
    case ioTIFF:
      SaveToStreamTIFF(Stream);
      return true;
    default:
      return false;
  }
}

void TQuilloIO::LoadFromFile(const std::string& FileName) {
  if (!FBitmap || FileName.empty()) return;
  const TQLFileFormatInfo* Row = QLFileFormatForLoad(QLExtractExt(FileName));
  if (!Row || !Row->BuiltIn) {
    // Not one of the library's formats: a registered one, or nothing.
    FParams.FileName.clear();
    FParams.FileType = ioUnknown;
    FParams.IPTCInfoList.Clear();
    FParams.JpegMarkerList.Clear();
  }
  if (!Row) return Fail();
  if (!OwnFileLoad(*Row, FileName)) LoadFileRow(*Row, FileName);
}

void TQuilloIO::SaveToFile(const std::string& FileName) {
  const std::string Ext = QLExtractExt(FileName);
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo2(Ext);
  if (!Row || !QLFileFormatSavesExt(*Row, Ext)) return Fail();
  SaveFileRow(*Row, FileName);
}

void TQuilloIO::LoadFromFileFormat(const std::string& FileName, int32_t FileType) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return Fail();
  if (!OwnFileLoad(*Row, FileName)) LoadFileRow(*Row, FileName);
}

void TQuilloIO::LoadFromStream(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  const int32_t Type = FindStreamFormat(Stream);
  Stream.SetPosition(Pos);
  LoadFromStreamFormat(Stream, Type);
}

void TQuilloIO::LoadFromStreamFormat(TStream& Stream, int32_t FileType) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return Fail();
  if (!OwnStreamLoad(*Row, Stream)) LoadStreamRow(*Row, Stream);
}

void TQuilloIO::SaveToStream(TStream& Stream, int32_t FileType) {
  const TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
  if (!Row) return Fail();
  if (!OwnStreamSave(*Row, Stream)) SaveStreamRow(*Row, Stream, {});
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
  ClearAbort();
  try {
    FParams.IPTCInfoList.Clear();
    FParams.JpegMarkerList.Clear();
    TProgressRec P = MakeProgress();
    TBitmap Unused;
    TQLFileFormatInfo* Row = QLFileFormatGetInfo(FileType);
    if (!Row || !Row->ReadFunction) {
      FParams.FileType = ioUnknown;
      return;
    }
    Row->ReadFunction(Stream, Unused, FParams, true, P);
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
    auto Try = [&](const TQLTryFunction& Detect) {
      Stream.SetPosition(Pos);
      bool R = Detect(Stream);
      Stream.SetPosition(Pos);
      return R;
    };
    // Registered formats first, then the library's own, each in table order.
    for (const bool BuiltIn : {false, true}) {
      for (auto& Row : qlgFileFormats())
        if (Row->BuiltIn == BuiltIn && Row->TryFunction && Try(Row->TryFunction)) {
          Result = Row->FileType;
          break;
        }
      if (Result != ioUnknown) break;
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
  Owner->FAbortReason = FIO->FAbortReason;
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
