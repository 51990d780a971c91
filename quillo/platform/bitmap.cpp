#include "quillo/platform/bitmap.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>

#include "quillo/platform/canvas.h"

namespace quillo {

namespace {
// 256 megapixels: far beyond any photograph, small enough that a hostile header cannot make a
// reader reserve gigabytes.
std::atomic<int64_t> gMaxPixels{int64_t{1} << 28};

// Largest pixel block we will allocate, whatever the limit says.
constexpr int64_t kMaxBlockBytes = int64_t{1} << 40;
}  // namespace

int32_t QLStorageBitCount(TPixelFormat PF) {
  switch (PF) {
    case pf1bit:
      return 1;
    case pf4bit:
      return 4;
    case pf8bit:
      return 8;
    case pf15bit:
    case pf16bit:
      return 16;
    case pfDevice:
    case pf24bit:
      return 24;
    case pf32bit:
      return 32;
    default:
      return 0;
  }
}

int64_t QLGetMaxPixels() {
  return gMaxPixels.load(std::memory_order_relaxed);
}
void QLSetMaxPixels(int64_t MaxPixels) {
  gMaxPixels.store(MaxPixels < 1 ? 1 : MaxPixels, std::memory_order_relaxed);
}

bool QLImageSizeOK(int64_t Width, int64_t Height, int32_t BitCount) {
  if (Width < 0 || Height < 0 || Width > INT32_MAX || Height > INT32_MAX) return false;
  int64_t Pixels;
  if (!QLCheckedMul(Width, Height, Pixels) || Pixels > QLGetMaxPixels()) return false;
  int64_t Bits;
  if (!QLCheckedMul(Width, BitCount < 1 ? 1 : BitCount, Bits)) return false;
  int64_t RowLen = ((Bits + 31) / 32) * 4;
  int64_t Total;
  if (RowLen > INT32_MAX || !QLCheckedMul(RowLen, Height, Total)) return false;
  return Total <= kMaxBlockBytes;
}

int32_t _BitmapRowLen(int32_t Width, int32_t BitCount) {
  return static_cast<int32_t>(((static_cast<int64_t>(Width) * BitCount + 31) / 32) * 4);
}

// ---------------------------------------------------------------------------------------------

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int32_t Width, int32_t Height, TPixelFormat PixelFormat) {
  if (PixelFormat == pfCustom) throw EInvalidGraphic("Invalid pixel format");
  FPixelFormat = PixelFormat;
  FPalette = DefaultPalette(PixelFormat);
  Reallocate(Width, Height, PixelFormat, false);
}

TBitmap::~TBitmap() = default;

TBitmap::TBitmap(TBitmap&& Other) noexcept {
  *this = std::move(Other);
}

TBitmap& TBitmap::operator=(TBitmap&& Other) noexcept {
  if (this == &Other) return *this;
  FWidth = std::exchange(Other.FWidth, 0);
  FHeight = std::exchange(Other.FHeight, 0);
  FRowLen = std::exchange(Other.FRowLen, 0);
  FPixelFormat = std::exchange(Other.FPixelFormat, pfDevice);
  FBits = std::move(Other.FBits);
  Other.FBits.clear();
  FPalette = std::move(Other.FPalette);
  Other.FPalette.clear();
  // OnChange stays: a listener watches this object, whatever image is moved into it.
  // The canvas goes with the pixels; a bitmap that had none keeps its own.
  if (Other.FCanvas) {
    FCanvas = std::move(Other.FCanvas);
    FCanvas->FBitmap = this;
  }
  return *this;
}

TCanvas& TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>(this);
  return *FCanvas;
}

void TBitmap::Reallocate(int32_t Width, int32_t Height, TPixelFormat PF, bool KeepPixels) {
  if (Width < 0) Width = 0;
  if (Height < 0) Height = 0;
  int32_t BitCount = QLStorageBitCount(PF);
  if (!QLImageSizeOK(Width, Height, BitCount))
    throw EPixelLimit("Bitmap of " + std::to_string(Width) + " x " + std::to_string(Height) +
                       " pixels exceeds the pixel limit");
  int32_t NewRowLen =
      static_cast<int32_t>(((static_cast<int64_t>(Width) * BitCount + 31) / 32) * 4);
  TQLPixelBlock NewBits;
  try {
    NewBits = TQLPixelBlock(static_cast<size_t>(NewRowLen) * static_cast<size_t>(Height));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  if (KeepPixels && !FBits.empty() && !NewBits.empty()) {
    // Keep the top-left part: row y of the old image becomes row y of the new one.
    int32_t Rows = std::min(FHeight, Height);
    int32_t Bytes = std::min(FRowLen, NewRowLen);
    for (int32_t Y = 0; Y < Rows; ++Y) {
      const uint8_t* Src = FBits.data() + static_cast<size_t>(FHeight - 1 - Y) * FRowLen;
      uint8_t* Dst = NewBits.data() + static_cast<size_t>(Height - 1 - Y) * NewRowLen;
      std::memcpy(Dst, Src, static_cast<size_t>(Bytes));
    }
  }
  FBits = std::move(NewBits);
  FWidth = Width;
  FHeight = Height;
  FRowLen = NewRowLen;
}

void TBitmap::Recreate(int32_t Width, int32_t Height, TPixelFormat PF) {
  if (PF == pfCustom) throw EInvalidGraphic("Invalid pixel format");
  Reallocate(Width, Height, PF, false);
  FPixelFormat = PF;
  FPalette = QLStorageBitCount(PF) <= 8 ? DefaultPalette(PF) : std::vector<TRGBQuad>{};
  Modified();
}

void TBitmap::SetSize(int32_t Width, int32_t Height) {
  if (Width == FWidth && Height == FHeight) return;
  int32_t OldW = FWidth, OldH = FHeight;
  Reallocate(Width, Height, FPixelFormat, true);
  // With a canvas the new area takes its brush, as a resized picture shows the background the
  // caller chose.
  if (FCanvas && FCanvas->Brush().GetStyle() != bsClear) {
    if (FWidth > OldW) FCanvas->FillRect(Rect(OldW, 0, FWidth, FHeight));
    if (FHeight > OldH) FCanvas->FillRect(Rect(0, OldH, std::min(OldW, FWidth), FHeight));
  }
  Modified();
}

uint8_t* TBitmap::ScanLine(int32_t Y) {
  if (Y < 0 || Y >= FHeight || FBits.empty()) throw EInvalidGraphic("Scan line index out of range");
  return FBits.data() + static_cast<size_t>(FHeight - 1 - Y) * FRowLen;
}

const uint8_t* TBitmap::ScanLine(int32_t Y) const {
  if (Y < 0 || Y >= FHeight || FBits.empty()) throw EInvalidGraphic("Scan line index out of range");
  return FBits.data() + static_cast<size_t>(FHeight - 1 - Y) * FRowLen;
}

void TBitmap::SetPalette(const std::vector<TRGBQuad>& Palette) {
  int32_t Bits = QLStorageBitCount(FPixelFormat);
  if (Bits > 8) return;
  FPalette = Palette;
  FPalette.resize(std::min<size_t>(FPalette.size(), size_t{1} << Bits));
  Modified();
}

std::vector<TRGBQuad> TBitmap::DefaultPalette(TPixelFormat PixelFormat) {
  auto Q = [](uint8_t R, uint8_t G, uint8_t B) { return TRGBQuad{B, G, R, 0}; };
  std::vector<TRGBQuad> P;
  switch (PixelFormat) {
    case pf1bit:
      P = {Q(0, 0, 0), Q(255, 255, 255)};
      break;
    case pf4bit:
      P = {Q(0, 0, 0),       Q(128, 0, 0),   Q(0, 128, 0),   Q(128, 128, 0),
           Q(0, 0, 128),     Q(128, 0, 128), Q(0, 128, 128), Q(192, 192, 192),
           Q(128, 128, 128), Q(255, 0, 0),   Q(0, 255, 0),   Q(255, 255, 0),
           Q(0, 0, 255),     Q(255, 0, 255), Q(0, 255, 255), Q(255, 255, 255)};
      break;
    case pf8bit:
      // A 6 x 6 x 6 colour cube followed by 40 extra greys.
      for (int R = 0; R < 6; ++R)
        for (int G = 0; G < 6; ++G)
          for (int B = 0; B < 6; ++B)
            P.push_back(Q(static_cast<uint8_t>(R * 51), static_cast<uint8_t>(G * 51),
                          static_cast<uint8_t>(B * 51)));
      for (int I = 0; I < 40; ++I) {
        uint8_t V = static_cast<uint8_t>((I * 255 + 20) / 40);
        P.push_back(Q(V, V, V));
      }
      break;
    default:
      break;
  }
  return P;
}

namespace {

// Reads pixel X of a stored row as blue, green, red.
inline void DecodePixel(const uint8_t* Row, int32_t X, int32_t Bits,
                        const std::vector<TRGBQuad>& Pal, uint8_t* BGR) {
  auto FromIndex = [&](uint32_t I) {
    if (I < Pal.size()) {
      BGR[0] = Pal[I].rgbBlue;
      BGR[1] = Pal[I].rgbGreen;
      BGR[2] = Pal[I].rgbRed;
    } else {
      BGR[0] = BGR[1] = BGR[2] = 0;
    }
  };
  switch (Bits) {
    case 1:
      FromIndex((Row[X >> 3] >> (7 - (X & 7))) & 1);
      break;
    case 4:
      FromIndex((X & 1) ? (Row[X >> 1] & 0x0F) : (Row[X >> 1] >> 4));
      break;
    case 8:
      FromIndex(Row[X]);
      break;
    case 15: {
      uint32_t W = Row[X * 2] | (Row[X * 2 + 1] << 8);
      uint32_t R = (W >> 10) & 31, G = (W >> 5) & 31, B = W & 31;
      BGR[0] = static_cast<uint8_t>((B << 3) | (B >> 2));
      BGR[1] = static_cast<uint8_t>((G << 3) | (G >> 2));
      BGR[2] = static_cast<uint8_t>((R << 3) | (R >> 2));
      break;
    }
    case 16: {
      uint32_t W = Row[X * 2] | (Row[X * 2 + 1] << 8);
      uint32_t R = (W >> 11) & 31, G = (W >> 5) & 63, B = W & 31;
      BGR[0] = static_cast<uint8_t>((B << 3) | (B >> 2));
      BGR[1] = static_cast<uint8_t>((G << 2) | (G >> 4));
      BGR[2] = static_cast<uint8_t>((R << 3) | (R >> 2));
      break;
    }
    case 24:
      std::memcpy(BGR, Row + X * 3, 3);
      break;
    case 32:
      std::memcpy(BGR, Row + X * 4, 3);
      break;
    default:
      BGR[0] = BGR[1] = BGR[2] = 0;
      break;
  }
}

class NearestIndex {
 public:
  explicit NearestIndex(const std::vector<TRGBQuad>& Pal) : FPal(Pal) {}
  uint32_t operator()(const uint8_t* BGR) {
    uint32_t Key = BGR[0] | (BGR[1] << 8) | (BGR[2] << 16);
    auto It = FCache.find(Key);
    if (It != FCache.end()) return It->second;
    uint32_t Best = 0;
    int32_t BestD = INT32_MAX;
    for (uint32_t I = 0; I < FPal.size(); ++I) {
      int32_t DB = FPal[I].rgbBlue - BGR[0], DG = FPal[I].rgbGreen - BGR[1],
              DR = FPal[I].rgbRed - BGR[2];
      int32_t D = DB * DB + DG * DG + DR * DR;
      if (D < BestD) {
        BestD = D;
        Best = I;
      }
    }
    FCache.emplace(Key, Best);
    return Best;
  }

 private:
  const std::vector<TRGBQuad>& FPal;
  std::unordered_map<uint32_t, uint32_t> FCache;
};

inline void EncodePixel(uint8_t* Row, int32_t X, int32_t Bits, const uint8_t* BGR,
                        NearestIndex& Nearest) {
  switch (Bits) {
    case 1: {
      uint8_t Mask = static_cast<uint8_t>(0x80 >> (X & 7));
      if (Nearest(BGR))
        Row[X >> 3] |= Mask;
      else
        Row[X >> 3] &= static_cast<uint8_t>(~Mask);
      break;
    }
    case 4: {
      uint8_t I = static_cast<uint8_t>(Nearest(BGR) & 0x0F);
      uint8_t& Byte = Row[X >> 1];
      Byte = (X & 1) ? static_cast<uint8_t>((Byte & 0xF0) | I)
                     : static_cast<uint8_t>((Byte & 0x0F) | (I << 4));
      break;
    }
    case 8:
      Row[X] = static_cast<uint8_t>(Nearest(BGR));
      break;
    case 15: {
      uint32_t W = ((BGR[2] >> 3) << 10) | ((BGR[1] >> 3) << 5) | (BGR[0] >> 3);
      Row[X * 2] = static_cast<uint8_t>(W);
      Row[X * 2 + 1] = static_cast<uint8_t>(W >> 8);
      break;
    }
    case 16: {
      uint32_t W = ((BGR[2] >> 3) << 11) | ((BGR[1] >> 2) << 5) | (BGR[0] >> 3);
      Row[X * 2] = static_cast<uint8_t>(W);
      Row[X * 2 + 1] = static_cast<uint8_t>(W >> 8);
      break;
    }
    case 24:
      std::memcpy(Row + X * 3, BGR, 3);
      break;
    case 32:
      std::memcpy(Row + X * 4, BGR, 3);
      Row[X * 4 + 3] = 0;
      break;
    default:
      break;
  }
}

// The logical bit count of a format (15 and 16 differ although both store 16 bits).
int32_t FormatBits(TPixelFormat PF) {
  if (PF == pf15bit) return 15;
  return QLStorageBitCount(PF);
}

}  // namespace

void TBitmap::SetPixelFormat(TPixelFormat PixelFormat) {
  if (PixelFormat == FPixelFormat) return;
  if (PixelFormat == pfCustom) throw EInvalidGraphic("Invalid pixel format");
  int32_t OldBits = FormatBits(FPixelFormat);
  int32_t NewBits = FormatBits(PixelFormat);
  // pfDevice and pf24bit share one layout.
  if (OldBits == NewBits && OldBits == 24) {
    FPixelFormat = PixelFormat;
    Modified();
    return;
  }
  std::vector<TRGBQuad> NewPalette;
  bool KeepIndexes = false;
  if (NewBits <= 8) {
    if (OldBits <= 8 && OldBits < NewBits && !FPalette.empty()) {
      // Widening an indexed layout keeps the palette and the indexes.
      NewPalette = FPalette;
      KeepIndexes = true;
    } else {
      NewPalette = DefaultPalette(PixelFormat);
    }
  }
  if (FWidth == 0 || FHeight == 0) {
    FPixelFormat = PixelFormat;
    FPalette = std::move(NewPalette);
    Reallocate(FWidth, FHeight, PixelFormat, false);
    Modified();
    return;
  }
  TBitmap Old;
  Old.FWidth = FWidth;
  Old.FHeight = FHeight;
  Old.FRowLen = FRowLen;
  Old.FBits = std::move(FBits);
  Old.FPixelFormat = FPixelFormat;
  Old.FPalette = std::move(FPalette);
  FBits.clear();
  try {
    Reallocate(Old.FWidth, Old.FHeight, PixelFormat, false);
  } catch (...) {
    FBits = std::move(Old.FBits);
    FPalette = std::move(Old.FPalette);
    throw;
  }
  FPixelFormat = PixelFormat;
  FPalette = std::move(NewPalette);
  NearestIndex Nearest(FPalette);
  for (int32_t Y = 0; Y < FHeight; ++Y) {
    const uint8_t* Src = Old.ScanLine(Y);
    uint8_t* Dst = ScanLine(Y);
    for (int32_t X = 0; X < FWidth; ++X) {
      if (KeepIndexes) {
        uint32_t I = OldBits == 1   ? (Src[X >> 3] >> (7 - (X & 7))) & 1
                     : OldBits == 4 ? ((X & 1) ? (Src[X >> 1] & 0x0F) : (Src[X >> 1] >> 4))
                                    : Src[X];
        if (NewBits == 4)
          Dst[X >> 1] |= static_cast<uint8_t>((X & 1) ? I : (I << 4));
        else
          Dst[X] = static_cast<uint8_t>(I);
        continue;
      }
      uint8_t BGR[3];
      DecodePixel(Src, X, OldBits, Old.FPalette, BGR);
      EncodePixel(Dst, X, NewBits, BGR, Nearest);
    }
  }
  Modified();
}

void TBitmap::Assign(const TBitmap& Source) {
  if (&Source == this) return;
  FWidth = Source.FWidth;
  FHeight = Source.FHeight;
  FRowLen = Source.FRowLen;
  FPixelFormat = Source.FPixelFormat;
  FBits = Source.FBits;
  FPalette = Source.FPalette;
  Modified();
}

void TBitmap::Modified() {
  if (OnChange) OnChange(this);
}

}  // namespace quillo
