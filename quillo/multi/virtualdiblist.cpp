#include "quillo/multi/virtualdiblist.h"

#include <algorithm>
#include <cstring>

#include "quillo/core/pixels.h"

namespace quillo {

namespace {

void PutLE32(uint8_t* P, uint32_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
  P[2] = static_cast<uint8_t>(V >> 16);
  P[3] = static_cast<uint8_t>(V >> 24);
}

uint32_t LE32(const uint8_t* P) {
  return P[0] | P[1] << 8 | P[2] << 16 | static_cast<uint32_t>(P[3]) << 24;
}

}  // namespace

TQLVirtualDIBList::TQLVirtualDIBList(std::string TempDir) : FTempDir(std::move(TempDir)) {
  ReAllocateBits();
}

TQLVirtualDIBList::~TQLVirtualDIBList() {
  FreeBits();
}

uint32_t TQLVirtualDIBList::RegionFor(int32_t Width, int32_t Height, int32_t BitsPerPixel,
                                      uint32_t* Used) {
  const uint64_t Rows =
      static_cast<uint64_t>(Height) * static_cast<uint64_t>(_BitmapRowLen(Width, BitsPerPixel));
  if (Used) *Used = static_cast<uint32_t>(Rows + kHeaderSize);
  return static_cast<uint32_t>((Rows + kHeaderSize + 0xFFFF) & ~uint64_t{0xFFFF});
}

bool TQLVirtualDIBList::ReAllocateBits() {
  if (FStore) {
    DiscardAll();
  } else {
    FreeBits();
    FError.clear();
    FStore = TMappedStore::Create(qllTempFile, FTempDir, FError);
    if (!FStore) return false;
  }
  return FStore->Resize(FFileSize, FError);
}

void TQLVirtualDIBList::FreeBits() {
  FLoans.clear();
  FMappedList.clear();
  FImages.clear();
  FStore.reset();
  FNextFree = 0;
}

bool TQLVirtualDIBList::AllocImage(TQLVirtualImageInfo* Info, int32_t Width, int32_t Height,
                                   int32_t BitsPerPixel) {
  if (!Info || !FStore || Width <= 0 || Height <= 0 ||
      (BitsPerPixel != 1 && BitsPerPixel != 8 && BitsPerPixel != 24))
    return false;
  // A region must stay addressable with 32 bits, as the record holds its size.
  const uint64_t Rows =
      static_cast<uint64_t>(Height) * static_cast<uint64_t>(_BitmapRowLen(Width, BitsPerPixel));
  if (Rows > 0xFFFF0000u - kHeaderSize) {
    FError = "Image too large for the thumbnail store";
    return false;
  }
  uint32_t Used = 0;
  const uint32_t Region = RegionFor(Width, Height, BitsPerPixel, &Used);
  if (FGrowthStep < Region) FGrowthStep = Region + FLastRegion;
  FLastRegion = Region;
  const uint64_t End = FNextFree + Region;
  if (End < FNextFree) return false;
  while (End > FFileSize) {
    const uint64_t Old = FFileSize;
    FFileSize += FGrowthStep;
    if (!ReAllocateBits()) {
      // The file keeps its size and what it held; this image is refused.
      FFileSize = Old;
      return false;
    }
  }
  DiscardImage(Info);
  Info->Offset = FNextFree;
  Info->UsedSize = Used;
  Info->RegionSize = Region;
  Info->Lent = false;
  if (MapImage(Info)) {
    uint8_t* H = Info->Mapped();
    std::memset(H, 0, kHeaderSize);
    PutLE32(H, 40);
    PutLE32(H + 4, static_cast<uint32_t>(Width));
    PutLE32(H + 8, static_cast<uint32_t>(Height));
    H[12] = 1;
    H[14] = static_cast<uint8_t>(BitsPerPixel);
    H[44] = H[45] = H[46] = 255;
    FNextFree = End;
  }
  return true;
}

TQLVirtualImageInfo* TQLVirtualDIBList::AddBlankImage(int32_t Width, int32_t Height,
                                                      int32_t BitsPerPixel) {
  auto Info = std::make_unique<TQLVirtualImageInfo>();
  if (!AllocImage(Info.get(), Width, Height, BitsPerPixel) || !Info->Mapped()) return nullptr;
  FImages.push_back(std::move(Info));
  return FImages.back().get();
}

TQLVirtualImageInfo* TQLVirtualDIBList::AddBitmap(const TBitmap& Bitmap) {
  return AddBitmapRect(Bitmap, 0, 0, Bitmap.GetWidth(), Bitmap.GetHeight());
}

TQLVirtualImageInfo* TQLVirtualDIBList::AddBitmapRect(const TBitmap& Bitmap, int32_t X, int32_t Y,
                                                      int32_t Width, int32_t Height) {
  const int32_t D = QLTileDepth(Bitmap);
  if (D == 0 || X < 0 || Y < 0 || Width <= 0 || Height <= 0 || X + Width > Bitmap.GetWidth() ||
      Y + Height > Bitmap.GetHeight())
    return nullptr;
  TQLVirtualImageInfo* Info = AddBlankImage(Width, Height, D);
  if (!Info || !MapImage(Info)) return Info;
  QLBitmapMapXCopy(Info->Mapped() + kHeaderSize, _BitmapRowLen(Width, D), D,
                   const_cast<TBitmap&>(Bitmap), 0, 0, X, Y, Width, Height, 1);
  return Info;
}

void TQLVirtualDIBList::CopyToBitmap(TQLVirtualImageInfo* Info, TBitmap& Bitmap) {
  if (!MapImage(Info)) return;
  const uint8_t* H = Info->Mapped();
  const int32_t W = static_cast<int32_t>(LE32(H + 4)), Ht = static_cast<int32_t>(LE32(H + 8)),
                D = H[14];
  if (D == 1) Bitmap.SetPixelFormat(pf1bit);
  if (D == 24) Bitmap.SetPixelFormat(pf24bit);
  if (D == 8 && QLTileDepth(Bitmap) != 8) Bitmap.SetPixelFormat(pf8bit);
  Bitmap.SetSize(W, Ht);
  QLBitmapMapXCopy(Info->Mapped() + kHeaderSize, _BitmapRowLen(W, D), D, Bitmap, 0, 0, 0, 0, W, Ht,
                   0);
}

void TQLVirtualDIBList::CopyFromBitmap(TQLVirtualImageInfo* Info, const TBitmap& Bitmap) {
  if (!MapImage(Info)) return;
  const int32_t D = QLTileDepth(Bitmap);
  if (D == 0) return;
  const uint8_t* H = Info->Mapped();
  if (static_cast<int32_t>(LE32(H + 4)) != Bitmap.GetWidth() ||
      static_cast<int32_t>(LE32(H + 8)) != Bitmap.GetHeight() || H[14] != D) {
    // A new size or depth: a new region at the end (the old one stays unused until the store
    // is emptied).
    if (!AllocImage(Info, Bitmap.GetWidth(), Bitmap.GetHeight(), D) || !MapImage(Info)) return;
  }
  QLBitmapMapXCopy(Info->Mapped() + kHeaderSize, _BitmapRowLen(Bitmap.GetWidth(), D), D,
                   const_cast<TBitmap&>(Bitmap), 0, 0, 0, 0, Bitmap.GetWidth(), Bitmap.GetHeight(),
                   1);
}

TBitmap* TQLVirtualDIBList::GetBitmap(TQLVirtualImageInfo* Info) {
  if (!Info || !MapImage(Info)) return nullptr;
  for (TLoan& L : FLoans)
    if (L.Info == Info) {
      ++L.Count;
      return L.Bitmap.get();
    }
  auto B = std::make_unique<TBitmap>();
  CopyToBitmap(Info, *B);
  Info->Lent = true;
  FLoans.push_back({Info, std::move(B), 1});
  return FLoans.back().Bitmap.get();
}

void TQLVirtualDIBList::ReleaseBitmap(TBitmap* Bitmap, bool WriteBack) {
  if (!Bitmap) return;
  for (size_t I = 0; I < FLoans.size(); ++I) {
    if (FLoans[I].Bitmap.get() != Bitmap) continue;
    TQLVirtualImageInfo* Info = FLoans[I].Info;
    --FLoans[I].Count;
    if (WriteBack) {
      Info->Lent = false;  // so that the copy reads the stored header, not the loan's
      CopyFromBitmap(Info, *Bitmap);
      Info->Lent = true;
    }
    if (FLoans[I].Count <= 0) {
      Info->Lent = false;
      FLoans.erase(FLoans.begin() + static_cast<ptrdiff_t>(I));
    }
    return;
  }
}

void TQLVirtualDIBList::ReleaseBitmapByImage(TQLVirtualImageInfo* Info, bool WriteBack) {
  const int32_t I = BmpToReleaseIndexOf(Info);
  if (I >= 0) ReleaseBitmap(FLoans[static_cast<size_t>(I)].Bitmap.get(), WriteBack);
}

int32_t TQLVirtualDIBList::BmpToReleaseIndexOf(const TQLVirtualImageInfo* Info) const {
  for (size_t I = 0; I < FLoans.size(); ++I)
    if (FLoans[I].Info == Info) return static_cast<int32_t>(I);
  return -1;
}

int32_t TQLVirtualDIBList::LoanCount(const TQLVirtualImageInfo* Info) const {
  const int32_t I = BmpToReleaseIndexOf(Info);
  return I < 0 ? 0 : FLoans[static_cast<size_t>(I)].Count;
}

TQLVirtualImageInfo* TQLVirtualDIBList::GetImageInfo(int32_t Index) const {
  return Index >= 0 && Index < GetImageCount() ? FImages[static_cast<size_t>(Index)].get()
                                               : nullptr;
}

int32_t TQLVirtualDIBList::IndexOf(const TQLVirtualImageInfo* Info) const {
  for (size_t I = 0; I < FImages.size(); ++I)
    if (FImages[I].get() == Info) return static_cast<int32_t>(I);
  return -1;
}

TQLDIBHeader TQLVirtualDIBList::GetImageInfoHeader(TQLVirtualImageInfo* Info) {
  TQLDIBHeader H{0, 0, 0};
  if (!Info) return H;
  const int32_t L = BmpToReleaseIndexOf(Info);
  if (L >= 0) {
    const TBitmap& B = *FLoans[static_cast<size_t>(L)].Bitmap;
    return TQLDIBHeader{B.GetWidth(), B.GetHeight(), QLTileDepth(B)};
  }
  if (!MapImage(Info)) return H;
  const uint8_t* P = Info->Mapped();
  return TQLDIBHeader{static_cast<int32_t>(LE32(P + 4)), static_cast<int32_t>(LE32(P + 8)), P[14]};
}

int32_t TQLVirtualDIBList::GetImageWidth(TQLVirtualImageInfo* Info) {
  return GetImageInfoHeader(Info).Width;
}

int32_t TQLVirtualDIBList::GetImageHeight(TQLVirtualImageInfo* Info) {
  return GetImageInfoHeader(Info).Height;
}

int32_t TQLVirtualDIBList::GetImageBitCount(TQLVirtualImageInfo* Info) {
  return GetImageInfoHeader(Info).BitCount;
}

const uint8_t* TQLVirtualDIBList::GetImageBits(TQLVirtualImageInfo* Info) {
  if (!Info) return nullptr;
  const int32_t L = BmpToReleaseIndexOf(Info);
  if (L >= 0) {
    const TBitmap& B = *FLoans[static_cast<size_t>(L)].Bitmap;
    return B.Empty() ? nullptr : B.ScanLine(B.GetHeight() - 1);
  }
  return MapImage(Info) ? Info->Mapped() + kHeaderSize : nullptr;
}

void TQLVirtualDIBList::RenderTo(TQLVirtualImageInfo* Info, TCanvas& Canvas, int32_t DrawContext,
                                 int32_t XDst, int32_t YDst, int32_t DxDst, int32_t DyDst,
                                 int32_t XSrc, int32_t YSrc, int32_t DxSrc, int32_t DySrc) {
  if (!MapImage(Info)) return;
  const uint8_t* P = Info->Mapped();
  const TQLDIBHeader H{static_cast<int32_t>(LE32(P + 4)), static_cast<int32_t>(LE32(P + 8)), P[14]};
  DrawDibDrawEmu(DrawContext, Canvas, XDst, YDst, DxDst, DyDst, H, P + kHeaderSize, XSrc, YSrc,
                 DxSrc, DySrc);
}

bool TQLVirtualDIBList::MapImage(TQLVirtualImageInfo* Info) {
  if (!Info || !FStore || Info->RegionSize == 0) return false;
  const auto It = std::find(FMappedList.begin(), FMappedList.end(), Info);
  if (Info->Mapped() && It != FMappedList.end()) {
    FMappedList.erase(It);
    FMappedList.push_back(Info);
    return true;
  }
  while (static_cast<int32_t>(FMappedList.size()) + 1 > kMaxMapped) DiscardOne();
  Info->Mapping = FStore->Map(Info->Offset, Info->RegionSize);
  if (!Info->Mapping) return false;
  FMappedList.push_back(Info);
  return true;
}

void TQLVirtualDIBList::DiscardImage(TQLVirtualImageInfo* Info) {
  if (!Info) return;
  const auto It = std::find(FMappedList.begin(), FMappedList.end(), Info);
  if (It != FMappedList.end()) FMappedList.erase(It);
  Info->Mapping.Reset();
}

void TQLVirtualDIBList::DiscardOne() {
  if (FMappedList.empty()) return;
  TQLVirtualImageInfo* Info = FMappedList.front();
  FMappedList.erase(FMappedList.begin());
  Info->Mapping.Reset();
}

void TQLVirtualDIBList::DiscardAll() {
  for (TQLVirtualImageInfo* Info : FMappedList) Info->Mapping.Reset();
  FMappedList.clear();
}

bool TQLVirtualDIBList::PrepareSpaceFor(int32_t Width, int32_t Height, int32_t BitsPerPixel,
                                        int32_t Count) {
  if (Count <= 0 || Width <= 0 || Height <= 0) return false;
  const uint64_t Add = static_cast<uint64_t>(RegionFor(Width, Height, BitsPerPixel, nullptr)) *
                       static_cast<uint64_t>(Count);
  const uint64_t NewSize = FFileSize + Add;
  if (NewSize < FFileSize) return false;
  const uint64_t Old = FFileSize;
  FFileSize = NewSize;
  if (!ReAllocateBits()) {
    FFileSize = Old;
    return false;
  }
  return true;
}

void TQLVirtualDIBList::RemoveImageInfo(int32_t Index) {
  TQLVirtualImageInfo* Info = GetImageInfo(Index);
  if (!Info) return;
  const int32_t L = BmpToReleaseIndexOf(Info);
  if (L >= 0) FLoans.erase(FLoans.begin() + L);
  DiscardImage(Info);
  FImages.erase(FImages.begin() + Index);
}

void TQLVirtualDIBList::Delete(TQLVirtualImageInfo* Info) {
  RemoveImageInfo(IndexOf(Info));
  if (FImages.empty()) {
    FFileSize = FGrowthStep;
    FNextFree = 0;
    ReAllocateBits();
  }
}

}  // namespace quillo
