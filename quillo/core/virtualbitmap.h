// TQLVirtualBitmap: a bitmap larger than memory, in tiles of a mapped backing store; and the
// 64-bit helpers, the tile-to-bitmap block copy and the DIB stretch it and the thumbnail store
// share.
//
// Every tile is a small bottom-up DIB: tile row r holds image row TileTop + TileHeight − 1 − r.
// Block copies, lent bitmaps, single pixels, ApplyFunction and RenderTo all use that one order,
// so a tile can be drawn straight from its mapping.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/mapping.h"

namespace quillo {

// The unsigned product of two 32-bit values as two 32-bit words.
void QLMul64(uint32_t A, uint32_t B, uint32_t& Low, uint32_t& High);
// The unsigned sum of two 64-bit values given as words; returns the carry out.
bool QLAdd64(uint32_t ALow, uint32_t AHigh, uint32_t BLow, uint32_t BHigh, uint32_t& Low,
             uint32_t& High);
// True when A > B as unsigned 64-bit values.
bool QLGreater64(uint32_t ALow, uint32_t AHigh, uint32_t BLow, uint32_t BHigh);

// Copies Rows x Columns pixels between a tile (bottom-up rows of TileRowLength bytes at
// BitCount bits) and a bitmap: tile row TileRow + k pairs with bitmap row BitmapY + Rows − 1 − k,
// tile column TileColumn + i with bitmap column BitmapX + i. Direction 0: tile to bitmap; 1:
// bitmap to tile. Same depths copy; a 1-bit bitmap into a 24-bit tile gives black and white;
// other pairs copy nothing.
void QLBitmapMapXCopy(uint8_t* Tile, int32_t TileRowLength, int32_t BitCount, TBitmap& Bitmap,
                      int32_t TileColumn, int32_t TileRow, int32_t BitmapX, int32_t BitmapY,
                      int32_t Columns, int32_t Rows, int32_t Direction);

// The depth a tile or a stored DIB keeps for a bitmap: 1, 8 or 24, or 0 for other formats.
int32_t QLTileDepth(const TBitmap& Bitmap);

// A device-independent bitmap's header as drawing needs it.
struct TQLDIBHeader {
  int32_t Width = 0;
  int32_t Height = 0;  // positive: rows bottom-up
  int32_t BitCount = 24;
};

// Stretches the source rectangle of a DIB (Bits: its bottom row first, rows padded to 4 bytes;
// 1-bit: 1 white, 8-bit: grey levels) onto the destination rectangle of the canvas's bitmap,
// nearest pixel, clipped to the bitmap. DrawContext is the platform drawing service's, which
// this platform does not have: every call is the plain copy.
void DrawDibDrawEmu(int32_t DrawContext, TCanvas& Canvas, int32_t XDst, int32_t YDst, int32_t DxDst,
                    int32_t DyDst, const TQLDIBHeader& Header, const uint8_t* Bits, int32_t XSrc,
                    int32_t YSrc, int32_t DxSrc, int32_t DySrc, uint32_t Flags = 0);

class TQLVirtualBitmap {
 public:
  // The store lives in a temporary file in TempDir (empty: DefTEMPPATH or the system's folder)
  // or in anonymous memory.
  explicit TQLVirtualBitmap(TQLVirtualLocation Location = qllTempFile, std::string TempDir = "");
  ~TQLVirtualBitmap();
  TQLVirtualBitmap(const TQLVirtualBitmap&) = delete;
  TQLVirtualBitmap& operator=(const TQLVirtualBitmap&) = delete;

  uint32_t GetWidth() const { return FWidth; }
  uint32_t GetHeight() const { return FHeight; }
  uint32_t GetBitCount() const { return FBitCount; }
  // Each reallocates (the pixels are lost) once all three are non-zero.
  void SetWidth(uint32_t V);
  void SetHeight(uint32_t V);
  void SetBitCount(uint32_t V);

  // Frees the old store and makes one for Width x Height at BitCount (1, 8 or 24) bits. False
  // when the store cannot be had (the reason in GetError); the bitmap is then empty.
  bool AllocateBits(uint32_t Width, uint32_t Height, uint32_t BitCount);
  // Takes back lent bitmaps (writing them), then frees the store.
  void FreeBits();
  // Why the last allocation failed; empty after a success.
  const std::string& GetError() const { return FError; }
  bool Allocated() const { return FStore != nullptr; }

  int32_t GetTileWidth() const { return FTileW; }
  int32_t GetTileHeight() const { return FTileH; }
  int32_t GetTilesX() const { return FTilesX; }
  int32_t GetTilesY() const { return FTilesY; }
  int32_t GetTileRowLength() const { return FTileRowLen; }
  uint64_t GetStoreSize() const { return FStore ? FStore->Size() : 0; }

  // Pixels (0..W−1, 0..H−1) of Source go to the rectangle (X, Y, W, H); Source has the same
  // depth (24-bit, 8-bit or 1-bit). Parts outside the virtual bitmap are left out.
  void CopyFromBitmap(const TBitmap& Source, int32_t X, int32_t Y, int32_t W, int32_t H);
  // A bitmap of the rectangle, lent until ReleaseBitmap; none for an unsupported depth or a
  // rectangle outside the image.
  TBitmap* GetBitmap(int32_t X, int32_t Y, int32_t W, int32_t H);
  // Writes a lent bitmap back into its rectangle and frees it; others are ignored.
  void ReleaseBitmap(TBitmap* Bitmap);
  // One pixel: one byte at 1 and 8 bits (0 or 1 at 1 bit), three (blue, green, red) at 24.
  bool GetPixel(int32_t X, int32_t Y, uint8_t* Value);
  bool SetPixel(int32_t X, int32_t Y, const uint8_t* Value);
  // Calls Function(x, y, pixel) once for every pixel of the rectangle, block by block; the
  // pixel's bytes are the store's own (1 bit: a byte 0 or 1 whose change is written back).
  using TPixelFunction = std::function<void(int32_t X, int32_t Y, uint8_t* Pixel)>;
  void ApplyFunction(int32_t X, int32_t Y, int32_t W, int32_t H, const TPixelFunction& Function);
  // Draws the rectangle (X, Y, W, H) scaled onto the canvas rectangle (DestX, DestY, DestW,
  // DestH), tile block by tile block; a 1-bit image reduced is drawn in filtered grey.
  void RenderTo(TCanvas& Canvas, int32_t DrawContext, int32_t DestX, int32_t DestY, int32_t DestW,
                int32_t DestH, int32_t X, int32_t Y, int32_t W, int32_t H);

 private:
  struct TLoan {
    int32_t X, Y, W, H;
    std::unique_ptr<TBitmap> Bitmap;
  };
  // One block of the tile walk: tile (TX, TY), the image rectangle (CX, CY, Columns, Rows).
  struct TBlock {
    int32_t TX, TY, CX, CY, Columns, Rows;
  };
  void Walk(int32_t X, int32_t Y, int32_t W, int32_t H,
            const std::function<void(const TBlock&)>& F);
  bool Clip(int32_t& X, int32_t& Y, int32_t& W, int32_t& H) const;
  TMapping MapTile(int32_t TX, int32_t TY) const;
  uint64_t TileOffset(int32_t TX, int32_t TY) const;
  // The mapped tile of a pixel, kept while pixels of the same tile are accessed.
  uint8_t* PixelAddress(int32_t X, int32_t Y, int32_t& Bit);
  void CopyBlock(const TBlock& B, uint8_t* Tile, TBitmap& Bitmap, int32_t BitmapX, int32_t BitmapY,
                 int32_t Direction) const;

  TQLVirtualLocation FLocation;
  std::string FTempDir, FError;
  uint32_t FWidth = 0, FHeight = 0, FBitCount = 0;
  int32_t FTileW = 512, FTileH = 512, FTilesX = 0, FTilesY = 0, FTileRowLen = 0;
  std::unique_ptr<TMappedStore> FStore;
  int32_t FCacheTX = 65535, FCacheTY = 65535;
  TMapping FCache;
  std::vector<TLoan> FLoans;
};

}  // namespace quillo
