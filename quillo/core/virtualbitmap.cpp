#include "quillo/core/virtualbitmap.h"

#include <algorithm>
#include <cstring>

#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"

namespace quillo {

void QLMul64(uint32_t A, uint32_t B, uint32_t& Low, uint32_t& High) {
  const uint64_t P = static_cast<uint64_t>(A) * B;
  Low = static_cast<uint32_t>(P);
  High = static_cast<uint32_t>(P >> 32);
}

bool QLAdd64(uint32_t ALow, uint32_t AHigh, uint32_t BLow, uint32_t BHigh, uint32_t& Low,
             uint32_t& High) {
  const uint64_t A = static_cast<uint64_t>(AHigh) << 32 | ALow;
  const uint64_t B = static_cast<uint64_t>(BHigh) << 32 | BLow;
  const uint64_t S = A + B;
  Low = static_cast<uint32_t>(S);
  High = static_cast<uint32_t>(S >> 32);
  return S < A;
}

bool QLGreater64(uint32_t ALow, uint32_t AHigh, uint32_t BLow, uint32_t BHigh) {
  return AHigh != BHigh ? AHigh > BHigh : ALow > BLow;
}

namespace {

inline int32_t GetBit(const uint8_t* Row, int32_t X) {
  return (Row[X >> 3] >> (7 - (X & 7))) & 1;
}
inline void PutBit(uint8_t* Row, int32_t X, int32_t V) {
  const uint8_t M = static_cast<uint8_t>(0x80 >> (X & 7));
  Row[X >> 3] = V ? static_cast<uint8_t>(Row[X >> 3] | M) : static_cast<uint8_t>(Row[X >> 3] & ~M);
}

}  // namespace

int32_t QLTileDepth(const TBitmap& B) {
  switch (B.GetPixelFormat()) {
    case pf1bit:
      return 1;
    case pf8bit:
      return 8;
    case pf24bit:
      return 24;
    default:
      return 0;
  }
}

void QLBitmapMapXCopy(uint8_t* Tile, int32_t TileRowLength, int32_t BitCount, TBitmap& Bitmap,
                      int32_t TileColumn, int32_t TileRow, int32_t BitmapX, int32_t BitmapY,
                      int32_t Columns, int32_t Rows, int32_t Direction) {
  const int32_t BB = QLTileDepth(Bitmap);
  const bool Same = BB == BitCount;
  const bool Widen = BB == 1 && BitCount == 24 && Direction == 1;
  if (!Same && !Widen) return;
  for (int32_t K = 0; K < Rows; ++K) {
    uint8_t* T = Tile + static_cast<int64_t>(TileRow + K) * TileRowLength;
    uint8_t* R = Bitmap.ScanLine(BitmapY + Rows - 1 - K);
    if (Widen) {
      for (int32_t I = 0; I < Columns; ++I)
        std::memset(T + 3 * (TileColumn + I), GetBit(R, BitmapX + I) ? 255 : 0, 3);
    } else if (BitCount == 1) {
      for (int32_t I = 0; I < Columns; ++I) {
        if (Direction == 0)
          PutBit(R, BitmapX + I, GetBit(T, TileColumn + I));
        else
          PutBit(T, TileColumn + I, GetBit(R, BitmapX + I));
      }
    } else {
      const int32_t P = BitCount / 8;
      uint8_t* TP = T + P * TileColumn;
      uint8_t* RP = R + P * BitmapX;
      if (Direction == 0)
        std::memcpy(RP, TP, static_cast<size_t>(P) * Columns);
      else
        std::memcpy(TP, RP, static_cast<size_t>(P) * Columns);
    }
  }
  if (Direction == 0) Bitmap.Modified();
}

void DrawDibDrawEmu(int32_t, TCanvas& Canvas, int32_t XDst, int32_t YDst, int32_t DxDst,
                    int32_t DyDst, const TQLDIBHeader& H, const uint8_t* Bits, int32_t XSrc,
                    int32_t YSrc, int32_t DxSrc, int32_t DySrc, uint32_t) {
  TBitmap* Page = Canvas.GetBitmap();
  if (!Page || Page->Empty() || !Bits || DxDst <= 0 || DyDst <= 0 || DxSrc <= 0 || DySrc <= 0)
    return;
  if (H.BitCount != 1 && H.BitCount != 8 && H.BitCount != 24) return;
  if (Page->GetPixelFormat() != pf24bit) Page->SetPixelFormat(pf24bit);
  const int64_t RowLen = _BitmapRowLen(H.Width, H.BitCount);
  // Sums in 64 bits: a destination far off the page must not wrap onto it.
  const int32_t X0 = std::max(XDst, 0);
  const int32_t X1 =
      static_cast<int32_t>(std::min<int64_t>(int64_t{XDst} + DxDst, Page->GetWidth()));
  const int32_t Y0 = std::max(YDst, 0);
  const int32_t Y1 =
      static_cast<int32_t>(std::min<int64_t>(int64_t{YDst} + DyDst, Page->GetHeight()));
  if (X0 >= X1 || Y0 >= Y1) return;
  std::vector<int32_t> Column(static_cast<size_t>(X1 - X0));
  for (int32_t DX = X0; DX < X1; ++DX)
    Column[static_cast<size_t>(DX - X0)] =
        XSrc + static_cast<int32_t>(((int64_t{DX} - XDst) * 2 + 1) * DxSrc / (2 * int64_t{DxDst}));
  for (int32_t DY = Y0; DY < Y1; ++DY) {
    const int32_t SY =
        YSrc + static_cast<int32_t>(((int64_t{DY} - YDst) * 2 + 1) * DySrc / (2 * int64_t{DyDst}));
    if (SY < 0 || SY >= H.Height) continue;
    // Bottom-up: the top row is the last in memory.
    const uint8_t* S = Bits + static_cast<int64_t>(H.Height - 1 - SY) * RowLen;
    uint8_t* D = Page->ScanLine(DY) + 3 * X0;
    for (size_t K = 0; K < Column.size(); ++K, D += 3) {
      const int32_t SX = Column[K];
      if (SX < 0 || SX >= H.Width) continue;
      if (H.BitCount == 24) {
        std::memcpy(D, S + 3 * SX, 3);
      } else {
        const uint8_t V = H.BitCount == 8 ? S[SX] : (GetBit(S, SX) ? 255 : 0);
        D[0] = D[1] = D[2] = V;
      }
    }
  }
  Page->Modified();
}

// ---------------------------------------------------------------------------------------------

TQLVirtualBitmap::TQLVirtualBitmap(TQLVirtualLocation Location, std::string TempDir)
    : FLocation(Location), FTempDir(std::move(TempDir)) {}

TQLVirtualBitmap::~TQLVirtualBitmap() {
  FreeBits();
}

void TQLVirtualBitmap::SetWidth(uint32_t V) {
  FWidth = V;
  if (FWidth && FHeight && FBitCount) AllocateBits(FWidth, FHeight, FBitCount);
}

void TQLVirtualBitmap::SetHeight(uint32_t V) {
  FHeight = V;
  if (FWidth && FHeight && FBitCount) AllocateBits(FWidth, FHeight, FBitCount);
}

void TQLVirtualBitmap::SetBitCount(uint32_t V) {
  FBitCount = V;
  if (FWidth && FHeight && FBitCount) AllocateBits(FWidth, FHeight, FBitCount);
}

bool TQLVirtualBitmap::AllocateBits(uint32_t Width, uint32_t Height, uint32_t BitCount) {
  FreeBits();
  FError.clear();
  FWidth = Width;
  FHeight = Height;
  FBitCount = BitCount;
  switch (BitCount) {
    case 1:
      FTileW = 1024, FTileH = 512;
      break;
    case 8:
      FTileW = 256, FTileH = 256;
      break;
    default:
      FTileW = 512, FTileH = 512;
      break;
  }
  if (Width == 0 || Height == 0 || (BitCount != 1 && BitCount != 8 && BitCount != 24)) {
    FError = "A virtual bitmap needs a size and 1, 8 or 24 bits";
    return false;
  }
  FTilesX = static_cast<int32_t>((Width + FTileW - 1) / static_cast<uint32_t>(FTileW));
  FTilesY = static_cast<int32_t>((Height + FTileH - 1) / static_cast<uint32_t>(FTileH));
  FTileRowLen = _BitmapRowLen(FTileW, static_cast<int32_t>(BitCount));
  uint32_t Lo, Hi;
  QLMul64(static_cast<uint32_t>(FTileRowLen) * static_cast<uint32_t>(FTileH),
          static_cast<uint32_t>(FTilesX) * static_cast<uint32_t>(FTilesY), Lo, Hi);
  const uint64_t Size = static_cast<uint64_t>(Hi) << 32 | Lo;
  auto Store = TMappedStore::Create(FLocation, FTempDir, FError);
  if (!Store || !Store->Resize(Size, FError)) {
    FTilesX = FTilesY = 0;
    return false;
  }
  FStore = std::move(Store);
  return true;
}

void TQLVirtualBitmap::FreeBits() {
  while (!FLoans.empty()) ReleaseBitmap(FLoans.back().Bitmap.get());
  FCache.Reset();
  FCacheTX = FCacheTY = 65535;
  FStore.reset();
}

uint64_t TQLVirtualBitmap::TileOffset(int32_t TX, int32_t TY) const {
  const uint64_t Index =
      static_cast<uint64_t>(TX) + static_cast<uint64_t>(TY) * static_cast<uint64_t>(FTilesX);
  return Index * static_cast<uint64_t>(FTileRowLen) * static_cast<uint64_t>(FTileH);
}

TMapping TQLVirtualBitmap::MapTile(int32_t TX, int32_t TY) const {
  if (!FStore) return {};
  return FStore->Map(TileOffset(TX, TY),
                     static_cast<size_t>(FTileRowLen) * static_cast<size_t>(FTileH));
}

bool TQLVirtualBitmap::Clip(int32_t& X, int32_t& Y, int32_t& W, int32_t& H) const {
  const int64_t X1 = std::max<int64_t>(X, 0), Y1 = std::max<int64_t>(Y, 0);
  const int64_t X2 = std::min<int64_t>(int64_t{X} + W, FWidth),
                Y2 = std::min<int64_t>(int64_t{Y} + H, FHeight);
  if (!FStore || X2 <= X1 || Y2 <= Y1) return false;
  X = static_cast<int32_t>(X1);
  Y = static_cast<int32_t>(Y1);
  W = static_cast<int32_t>(X2 - X1);
  H = static_cast<int32_t>(Y2 - Y1);
  return true;
}

void TQLVirtualBitmap::Walk(int32_t X0, int32_t Y0, int32_t W, int32_t H,
                            const std::function<void(const TBlock&)>& F) {
  int32_t CX = X0, CY = Y0;
  while (CY < Y0 + H) {
    const int32_t TX = CX / FTileW, OX = CX % FTileW, TY = CY / FTileH, OY = CY % FTileH;
    const int32_t Rows = std::min(FTileH - OY, Y0 + H - CY);
    const int32_t Columns = std::min(FTileW - OX, X0 + W - CX);
    F(TBlock{TX, TY, CX, CY, Columns, Rows});
    CX = TX * FTileW + FTileW;
    if (CX >= X0 + W) {
      CX = X0;
      CY += FTileH - OY;
    }
  }
}

void TQLVirtualBitmap::CopyBlock(const TBlock& B, uint8_t* Tile, TBitmap& Bitmap, int32_t BitmapX,
                                 int32_t BitmapY, int32_t Direction) const {
  const int32_t OX = B.CX - B.TX * FTileW, OY = B.CY - B.TY * FTileH;
  QLBitmapMapXCopy(Tile, FTileRowLen, static_cast<int32_t>(FBitCount), Bitmap, OX,
                   FTileH - OY - B.Rows, BitmapX, BitmapY, B.Columns, B.Rows, Direction);
}

void TQLVirtualBitmap::CopyFromBitmap(const TBitmap& Source, int32_t X, int32_t Y, int32_t W,
                                      int32_t H) {
  if (QLTileDepth(Source) != static_cast<int32_t>(FBitCount)) return;
  W = std::min(W, Source.GetWidth());
  H = std::min(H, Source.GetHeight());
  const int32_t SX = X, SY = Y;
  if (!Clip(X, Y, W, H)) return;
  FCache.Reset();
  FCacheTX = FCacheTY = 65535;
  // The block copy reads the bitmap; it is not changed.
  TBitmap& Src = const_cast<TBitmap&>(Source);
  const size_t TileBytes = static_cast<size_t>(FTileRowLen) * static_cast<size_t>(FTileH);
  std::vector<uint8_t> Whole;
  Walk(X, Y, W, H, [&](const TBlock& B) {
    // A block that covers its whole tile is assembled in memory and written in one call;
    // faulting in a fresh mapping page by page costs several times more.
    if (B.Columns == FTileW && B.Rows == FTileH) {
      Whole.resize(TileBytes);
      CopyBlock(B, Whole.data(), Src, B.CX - SX, B.CY - SY, 1);
      if (FStore->Write(TileOffset(B.TX, B.TY), Whole.data(), TileBytes)) return;
    }
    TMapping M = MapTile(B.TX, B.TY);
    if (M) CopyBlock(B, M.Data(), Src, B.CX - SX, B.CY - SY, 1);
  });
}

TBitmap* TQLVirtualBitmap::GetBitmap(int32_t X, int32_t Y, int32_t W, int32_t H) {
  if (FBitCount != 1 && FBitCount != 8 && FBitCount != 24) return nullptr;
  if (!Clip(X, Y, W, H)) return nullptr;
  auto B = std::make_unique<TBitmap>();
  B->SetPixelFormat(FBitCount == 1 ? pf1bit : FBitCount == 8 ? pf8bit : pf24bit);
  B->SetSize(W, H);
  FCache.Reset();
  FCacheTX = FCacheTY = 65535;
  const size_t TileBytes = static_cast<size_t>(FTileRowLen) * static_cast<size_t>(FTileH);
  std::vector<uint8_t> Whole;
  Walk(X, Y, W, H, [&](const TBlock& Blk) {
    if (Blk.Columns == FTileW && Blk.Rows == FTileH) {
      Whole.resize(TileBytes);
      if (FStore->Read(TileOffset(Blk.TX, Blk.TY), Whole.data(), TileBytes)) {
        CopyBlock(Blk, Whole.data(), *B, Blk.CX - X, Blk.CY - Y, 0);
        return;
      }
    }
    TMapping M = MapTile(Blk.TX, Blk.TY);
    if (M) CopyBlock(Blk, M.Data(), *B, Blk.CX - X, Blk.CY - Y, 0);
  });
  TBitmap* Raw = B.get();
  FLoans.push_back({X, Y, W, H, std::move(B)});
  return Raw;
}

void TQLVirtualBitmap::ReleaseBitmap(TBitmap* Bitmap) {
  const auto It = std::find_if(FLoans.begin(), FLoans.end(),
                               [&](const TLoan& L) { return L.Bitmap.get() == Bitmap; });
  if (It == FLoans.end() || !Bitmap) return;
  TLoan L = std::move(*It);
  FLoans.erase(It);
  // A loan whose pixel format was changed by its borrower cannot be written back.
  if (QLTileDepth(*L.Bitmap) == static_cast<int32_t>(FBitCount) && L.Bitmap->GetWidth() >= L.W &&
      L.Bitmap->GetHeight() >= L.H)
    CopyFromBitmap(*L.Bitmap, L.X, L.Y, L.W, L.H);
}

uint8_t* TQLVirtualBitmap::PixelAddress(int32_t X, int32_t Y, int32_t& Bit) {
  if (!FStore || X < 0 || Y < 0 || static_cast<uint32_t>(X) >= FWidth ||
      static_cast<uint32_t>(Y) >= FHeight)
    return nullptr;
  const int32_t TX = X / FTileW, TY = Y / FTileH;
  if (TX != FCacheTX || TY != FCacheTY || !FCache) {
    FCache = MapTile(TX, TY);
    FCacheTX = TX;
    FCacheTY = TY;
    if (!FCache) return nullptr;
  }
  const int32_t OX = X % FTileW, Row = FTileH - 1 - Y % FTileH;
  uint8_t* R = FCache.Data() + static_cast<int64_t>(Row) * FTileRowLen;
  Bit = OX;
  return FBitCount == 1 ? R : R + OX * static_cast<int32_t>(FBitCount / 8);
}

bool TQLVirtualBitmap::GetPixel(int32_t X, int32_t Y, uint8_t* Value) {
  int32_t Bit = 0;
  uint8_t* P = PixelAddress(X, Y, Bit);
  if (!P) return false;
  if (FBitCount == 1)
    Value[0] = static_cast<uint8_t>(GetBit(P, Bit));
  else
    std::memcpy(Value, P, FBitCount / 8);
  return true;
}

bool TQLVirtualBitmap::SetPixel(int32_t X, int32_t Y, const uint8_t* Value) {
  int32_t Bit = 0;
  uint8_t* P = PixelAddress(X, Y, Bit);
  if (!P) return false;
  if (FBitCount == 1)
    PutBit(P, Bit, Value[0]);
  else
    std::memcpy(P, Value, FBitCount / 8);
  return true;
}

void TQLVirtualBitmap::ApplyFunction(int32_t X, int32_t Y, int32_t W, int32_t H,
                                     const TPixelFunction& Function) {
  if (!Function || !Clip(X, Y, W, H)) return;
  FCache.Reset();
  FCacheTX = FCacheTY = 65535;
  const int32_t P = static_cast<int32_t>(FBitCount / 8);
  Walk(X, Y, W, H, [&](const TBlock& B) {
    TMapping M = MapTile(B.TX, B.TY);
    if (!M) return;
    const int32_t OX = B.CX - B.TX * FTileW, OY = B.CY - B.TY * FTileH;
    for (int32_t K = 0; K < B.Rows; ++K) {
      uint8_t* Row = M.Data() + static_cast<int64_t>(FTileH - 1 - (OY + K)) * FTileRowLen;
      for (int32_t I = 0; I < B.Columns; ++I) {
        if (FBitCount == 1) {
          uint8_t V = static_cast<uint8_t>(GetBit(Row, OX + I));
          Function(B.CX + I, B.CY + K, &V);
          PutBit(Row, OX + I, V);
        } else {
          Function(B.CX + I, B.CY + K, Row + P * (OX + I));
        }
      }
    }
  });
}

void TQLVirtualBitmap::RenderTo(TCanvas& Canvas, int32_t DrawContext, int32_t DestX, int32_t DestY,
                                int32_t DestW, int32_t DestH, int32_t X, int32_t Y, int32_t W,
                                int32_t H) {
  if (W <= 0 || H <= 0 || DestW <= 0 || DestH <= 0) return;
  const double SX = static_cast<double>(DestW) / W, SY = static_cast<double>(DestH) / H;
  const int32_t X0 = X, Y0 = Y;
  int32_t CX = X, CY = Y, CW = W, CH = H;
  if (!Clip(CX, CY, CW, CH)) return;
  const bool Reduce1 = FBitCount == 1 && (SX < 1 || SY < 1);
  Walk(CX, CY, CW, CH, [&](const TBlock& B) {
    TMapping M = MapTile(B.TX, B.TY);
    if (!M) return;
    // Each block ends where the next begins, so that scaled blocks leave no seams.
    const int32_t DX = DestX + QLTrunc((B.CX - X0) * SX), DY = DestY + QLTrunc((B.CY - Y0) * SY);
    const int32_t DW = DestX + QLTrunc((B.CX + B.Columns - X0) * SX) - DX;
    const int32_t DH = DestY + QLTrunc((B.CY + B.Rows - Y0) * SY) - DY;
    if (DW <= 0 || DH <= 0) return;
    const int32_t OX = B.CX - B.TX * FTileW, OY = B.CY - B.TY * FTileH;
    // The block's rows: its top image row sits at tile row TileHeight − 1 − OY.
    const uint8_t* BlockBottom =
        M.Data() + static_cast<int64_t>(FTileH - OY - B.Rows) * FTileRowLen;
    if (!Reduce1) {
      TQLDIBHeader Hd{FTileW, B.Rows, static_cast<int32_t>(FBitCount)};
      DrawDibDrawEmu(DrawContext, Canvas, DX, DY, DW, DH, Hd, BlockBottom, OX, 0, B.Columns,
                     B.Rows);
      return;
    }
    TBitmap Grey;
    Grey.SetPixelFormat(pf24bit);
    Grey.SetSize(DW, DH);
    const uint8_t* Top = M.Data() + static_cast<int64_t>(FTileH - 1 - OY) * FTileRowLen;
    _SubResample1bitFilteredDIB(Top, -static_cast<int64_t>(FTileRowLen), FTileW, B.Rows, OX, 0,
                                OX + B.Columns - 1, B.Rows - 1, Grey);
    TQLDIBHeader Hd{DW, DH, 24};
    // Grey's rows are bottom-up in memory, its bottom row first.
    DrawDibDrawEmu(DrawContext, Canvas, DX, DY, DW, DH, Hd, Grey.ScanLine(DH - 1), 0, 0, DW, DH);
  });
}

}  // namespace quillo
