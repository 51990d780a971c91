#include "quillo/multi/quillomio.h"

#include <algorithm>

#include "quillo/codecs/gif.h"
#include "quillo/codecs/tiff.h"
#include "quillo/core/colors.h"
#include "quillo/platform/screen.h"
#include "quillo/platform/sysutils.h"

namespace quillo {

namespace {

std::string LowerExt(const std::string& FileName) {
  std::string E = QLExtractExt(FileName);
  for (char& C : E) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return E;
}

}  // namespace

TQuilloMIO::TQuilloMIO(TComponent* AOwner) : TComponent(AOwner) {}

TQuilloMIO::~TQuilloMIO() {
  Detach();
}

void TQuilloMIO::Detach() {
  if (!FView) return;
  FView->RemoveBitmapChangeEvent(this);
  FView->RemoveFreeNotification(this);
  FView = nullptr;
}

void TQuilloMIO::SetAttachedMView(TQuilloMView* View) {
  if (View == FView) return;
  Detach();
  FView = View;
  if (!FView) return;
  FView->FreeNotification(this);
  FView->RegisterBitmapChangeEvent(
      this, [this](TObject*, bool Destroying) { BitmapChanged(Destroying); });
}

void TQuilloMIO::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FView) FView = nullptr;
}

void TQuilloMIO::BitmapChanged(bool Destroying) {
  if (Destroying) {
    FView = nullptr;
    return;
  }
  if (!FView) return;
  const int32_t Op = FView->GetLastOp();
  const int32_t Idx = FView->GetLastOpIdx();
  if (Op == 1) {
    auto P = std::make_unique<TIOParamsVals>(this);
    const int32_t N = GetParamsCount();
    if (N > 0) P->Assign(*FParams[static_cast<size_t>(std::min(Idx, N - 1))]);
    P->Owner = this;
    if (Idx >= N)
      FParams.push_back(std::move(P));
    else
      FParams.insert(FParams.begin() + std::max(Idx, 0), std::move(P));
    Renumber();
  } else if (Op == 2) {
    if (Idx >= 0 && Idx < GetParamsCount()) FParams.erase(FParams.begin() + Idx);
    Renumber();
  }
}

void TQuilloMIO::Renumber() {
  for (int32_t I = 0; I < GetParamsCount(); ++I) {
    FParams[static_cast<size_t>(I)]->GifImageIndex = I;
    FParams[static_cast<size_t>(I)]->TiffImageIndex = I;
  }
}

TIOParamsVals* TQuilloMIO::GetParams(int32_t I) const {
  if (I < 0 || I >= GetParamsCount()) return nullptr;
  return FParams[static_cast<size_t>(I)].get();
}

TBitmap* TQuilloMIO::ParamsOwnerBitmap() {
  return FView ? FView->GetFBitmap() : nullptr;
}

bool TQuilloMIO::ParamsOwnerViewDpi(int32_t& DpiX, int32_t& DpiY) {
  if (!FView) return false;
  DpiX = FView->GetDPIX();
  DpiY = FView->GetDPIY();
  return true;
}

int32_t TQuilloMIO::InsertionPoint() const {
  return FView && FView->GetSelectedItem() >= 0 ? FView->GetSelectedItem() : 0;
}

void TQuilloMIO::Progress(int32_t Done, int32_t Total) {
  if (OnProgress && Total > 0)
    OnProgress(this, static_cast<int32_t>(static_cast<int64_t>(Done) * 100 / Total));
}

bool TQuilloMIO::Acquire() {
  if (!FView) return false;
  Aborting = false;
  int32_t Pos = FView->GetSelectedItem() >= 0 ? FView->GetSelectedItem() : FView->GetImageCount();
  TProgressRec P;
  P.Handler = OnProgress;
  P.Sender = this;
  P.AbortFlag = &Aborting;
  TQLTWainParams& TW = *FTWainParams;
  // Each whole page becomes an image at the insertion point; its parameters are the record the
  // acquisition fills next.
  const TQLAcquirePageEvent Page = [&](TBitmap& Bitmap, TIOParamsVals*& Params) {
    FView->InsertImageEx(Pos);
    Params = GetParams(Pos);
    FView->SetImageEx(Pos, Bitmap);
    FView->SetImageDelayTime(Pos, 100);
    ++Pos;
  };
  const bool Ok = QLTW_Acquire(nullptr, true, Page, TW, TW.ParentWindow, TW.Shared, P, nullptr);
  if (FView->GetVisible()) FView->SetFocus();
  Update();
  return Ok;
}

bool TQuilloMIO::SelectAcquireSource() {
  return QLTW_ChooseSource(*FTWainParams);
}

void TQuilloMIO::Update() {
  if (!FView) return;
  FView->Update();
  FView->ImageChange();
}

// ---------------------------------------------------------------------------------------------
// By extension

void TQuilloMIO::LoadFromFile(const std::string& FileName) {
  const std::string E = LowerExt(FileName);
  if (E == "gif") return LoadFromFileGif(FileName);
  if (E == "tif" || E == "tiff") return LoadFromFileTIFF(FileName);
  if (E == "avi") return LoadFromFileAVI(FileName);
}

void TQuilloMIO::SaveToFile(const std::string& FileName) {
  const std::string E = LowerExt(FileName);
  if (E == "gif") return SaveToFileGif(FileName);
  if (E == "tif" || E == "tiff") return SaveToFileTIFF(FileName);
  if (E == "avi") return SaveToFileAVI(FileName);
}

// ---------------------------------------------------------------------------------------------
// GIF and TIFF

void TQuilloMIO::LoadSequence(TStream& Stream, int32_t Type) {
  Aborting = false;
  if (!FView) return;
  int32_t A = InsertionPoint();
  int32_t LastDelay = 10;
  TBitmap Bitmap;
  TIOParamsVals Read(this);
  Read.SetDefaultParams();
  // The codecs report to a record without a handler; OnProgress gets one report per image.
  TProgressRec P = QLProgressRec(nullptr, nullptr, Aborting);
  // One walk over the file: reading image k from the start each time would make the work
  // grow with the square of the image count.
  auto Each = [&](int32_t K) {
    FView->InsertImageEx(A);
    TIOParamsVals* Mine = GetParams(A);
    if (Mine) {
      Mine->Assign(Read);
      Mine->Owner = this;
      Mine->GifImageIndex = Mine->TiffImageIndex = A;
      Mine->FileType = Type;
      Mine->FileName.clear();
    }
    FView->SetImageEx(A, Bitmap);
    if (Type == ioGIF) {
      FView->SetImageBackground(A, TRGB2TColor(Read.GifBackground));
      int32_t D = LastDelay;
      if (Read.GifDelayTime > 0) D = LastDelay = Read.GifDelayTime * 10;
      FView->SetImageDelayTime(A, D);
    } else {
      FView->SetImageDelayTime(A, 100);
    }
    const int32_t N = Type == ioGIF ? Read.GifImageCount : Read.TiffImageCount;
    Progress(K, std::max(N, K + 1));
    ++A;
    return !Aborting;
  };
  if (Type == ioGIF)
    ReadGifEach(Stream, Bitmap, Read, P, Each);
  else
    TIFFReadEachPage(Stream, Bitmap, Read, P, Each);
  Update();
}

void TQuilloMIO::SaveSequence(TStream& Stream, int32_t Type) {
  Aborting = false;
  if (!FView || FView->GetImageCount() == 0) return;
  const int64_t Start = Stream.GetPosition();
  TProgressRec P = QLProgressRec(nullptr, nullptr, Aborting);
  const int32_t N = FView->GetImageCount();
  // Where the last write left the end: each append goes straight there instead of walking
  // every frame or page before it.
  TGifEnd GifEnd;
  TTiffEnd TiffEnd;
  for (int32_t I = 0; I < N; ++I) {
    Stream.SetPosition(Start);
    TBitmap* B = FView->GetBitmap(I);
    TIOParamsVals* Params = GetParams(I);
    TIOParamsVals Fallback(this);
    if (!Params) {
      Fallback.SetDefaultParams();
      Params = &Fallback;
    }
    Params->GifImageIndex = Params->TiffImageIndex = I;
    if (!B) {
      // An image that cannot be had (a file that no longer reads) cannot be written.
      Aborting = true;
      break;
    }
    TBitmap Working;
    const TBitmap* Src = B;
    if (B->GetPixelFormat() != pf24bit && B->GetPixelFormat() != pf1bit) {
      Working.Assign(*B);
      Working.SetPixelFormat(pf24bit);
      Src = &Working;
    }
    if (Type == ioGIF) {
      if (I == 0) {
        WriteGifStream(Stream, *Src, *Params, P);
        GifEnd = TGifEnd{Stream.GetPosition() - 1, 1};
      } else if (_InsertGifImStream(Stream, *Src, *Params, P, &GifEnd) == 0) {
        Aborting = true;
      }
    } else {
      if (TIFFWriteStream(Stream, I > 0, *Src, *Params, P, &TiffEnd) == 0) Aborting = true;
    }
    FView->ReleaseBitmap(I);
    Progress(I, N);
    if (Aborting) break;
  }
}

void TQuilloMIO::LoadFromStreamGif(TStream& Stream) {
  LoadSequence(Stream, ioGIF);
}
void TQuilloMIO::LoadFromStreamTIFF(TStream& Stream) {
  LoadSequence(Stream, ioTIFF);
}
void TQuilloMIO::SaveToStreamGif(TStream& Stream) {
  SaveSequence(Stream, ioGIF);
}
void TQuilloMIO::SaveToStreamTIFF(TStream& Stream) {
  SaveSequence(Stream, ioTIFF);
}

void TQuilloMIO::LoadFromFileGif(const std::string& FileName) {
  TFileStream S(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStreamGif(S);
}
void TQuilloMIO::LoadFromFileTIFF(const std::string& FileName) {
  TFileStream S(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStreamTIFF(S);
}
void TQuilloMIO::SaveToFileGif(const std::string& FileName) {
  if (!FView || FView->GetImageCount() == 0) return;
  TFileStream S(FileName, fmCreate);
  SaveToStreamGif(S);
}
void TQuilloMIO::SaveToFileTIFF(const std::string& FileName) {
  if (!FView || FView->GetImageCount() == 0) return;
  TFileStream S(FileName, fmCreate);
  SaveToStreamTIFF(S);
}

// ---------------------------------------------------------------------------------------------
// AVI

void TQuilloMIO::LoadFromFileAVI(const std::string& FileName) {
  Aborting = false;
  if (!FView) return;
  std::unique_ptr<TFileStream> S;
  try {
    S = std::make_unique<TFileStream>(FileName, fmOpenRead | fmShareDenyWrite);
  } catch (const EStreamError&) {
    // A file that cannot be opened is reported as the other unusable files are.
    Aborting = true;
    return;
  }
  LoadFromStreamAVI(*S, FileName);
}

void TQuilloMIO::LoadFromStreamAVI(TStream& Stream, const std::string& FileName) {
  Aborting = false;
  if (!FView) return;
  TQLAVIReader Reader;
  if (!Reader.Open(Stream)) {
    Aborting = true;
    return;
  }
  const TQLAVIStreamInfo& Info = Reader.Info();
  const int32_t Delay = Info.DelayMs();
  const int64_t N = Info.Frames;
  int32_t B = InsertionPoint();
  TBitmap Frame;
  for (int64_t I = 0;; ++I) {
    if (!Reader.ReadFrame(Frame)) {
      if (Reader.Failed()) Aborting = true;
      break;
    }
    FView->InsertImageEx(B);
    FView->SetImageEx(B, Frame);
    if (I == 0 && N > 1) {
      // The count is the header's word, not the data's: reserve for a bounded batch only, so
      // that a header claiming millions of frames cannot grow the store's file beyond reason.
      const int64_t FrameBytes =
          static_cast<int64_t>(Frame.RowLen()) * Frame.GetHeight() + TQLVirtualDIBList::kHeaderSize;
      const int64_t Batch = std::min<int64_t>({N - 1, 256, (int64_t{1} << 30) / FrameBytes});
      if (Batch > 0)
        FView->PrepareSpaceFor(Frame.GetWidth(), Frame.GetHeight(), 24,
                               static_cast<int32_t>(Batch));
    }
    FView->SetImageDelayTime(B, Delay);
    if (TIOParamsVals* P = GetParams(B)) {
      P->GifDelayTime = Delay / 10;
      // Frames arrive as 24-bit pictures whatever the codec stored.
      P->BitsPerSample = 8;
      P->SamplesPerPixel = 3;
      P->GifImageIndex = P->TiffImageIndex = B;
      P->DpiX = gSystemDPIX;
      P->DpiY = gSystemDPIY;
      P->Width = Frame.GetWidth();
      P->Height = Frame.GetHeight();
      P->FileName = FileName;
      P->FileType = ioUnknown;
      P->FreeColorMap();
    }
    if (N > 0) Progress(static_cast<int32_t>(std::min<int64_t>(I, N)), static_cast<int32_t>(N));
    ++B;
    if (Aborting) break;
  }
  Update();
}

void TQuilloMIO::SaveToFileAVI(const std::string& FileName) {
  Aborting = false;
  if (!FView || FView->GetImageCount() == 0) return;
  std::unique_ptr<TFileStream> S;
  try {
    S = std::make_unique<TFileStream>(FileName, fmCreate);
  } catch (const EStreamError&) {
    throw EInvalidGraphic("unable to create AVI file");
  }
  SaveToStreamAVI(*S);
}

void TQuilloMIO::SaveToStreamAVI(TStream& Stream) {
  Aborting = false;
  if (!FView || FView->GetImageCount() == 0) return;
  TQLAVICodec Codec = FAVICodec;
  int32_t Quality = FAVIQuality;
  if (OnAVICompressor && !OnAVICompressor(this, Codec, Quality)) return;
  const int32_t W = FView->GetImageWidth(0), H = FView->GetImageHeight(0);
  int32_t Rate, Scale;
  QLAVIRateForDelay(FView->GetImageDelayTime(0), Rate, Scale);
  TQLAVIWriter Writer;
  // The first image decides the frame size; loading it may be needed to know it.
  if (W == 0 || H == 0) {
    TBitmap* B = FView->GetBitmap(0);
    const int32_t BW = B ? B->GetWidth() : 0, BH = B ? B->GetHeight() : 0;
    FView->ReleaseBitmap(0);
    if (BW == 0 || !Writer.Open(Stream, BW, BH, Rate, Scale, Codec, Quality)) {
      Aborting = true;
      return;
    }
  } else if (!Writer.Open(Stream, W, H, Rate, Scale, Codec, Quality)) {
    Aborting = true;
    return;
  }
  const int32_t N = FView->GetImageCount();
  for (int32_t I = 0; I < N; ++I) {
    TBitmap* B = FView->GetBitmap(I);
    // An image that cannot be had is replaced like an odd-sized one.
    static const TBitmap kNone;
    const bool Ok = Writer.WriteFrame(B ? *B : kNone);
    FView->ReleaseBitmap(I);
    if (!Ok) Aborting = true;
    Progress(I, N);
    if (Aborting) break;
  }
  // What was written stays a complete, playable file even when the save stopped early.
  if (!Writer.Close()) Aborting = true;
}

}  // namespace quillo
