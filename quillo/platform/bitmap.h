// TBitmap: the library's device-independent bitmap, the one pixel container.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "quillo/platform/classes.h"
#include "quillo/platform/pixelblock.h"

namespace quillo {

class TCanvas;

enum TPixelFormat : uint8_t {
  pfDevice,  // the screen's layout; stored as 24-bit blue, green, red
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,  // 5-5-5, little-endian words, bit 15 unused
  pf16bit,  // 5-6-5, little-endian words
  pf24bit,
  pf32bit,  // blue, green, red, unused
  pfCustom
};

// One palette entry as stored in bitmaps: blue, green, red, unused.
struct TRGBQuad {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
  friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

// Bits per pixel of the stored rows of a format (24 for pfDevice, 0 for pfCustom).
int32_t QLStorageBitCount(TPixelFormat PF);

// The process-wide maximum pixel count (width x height) any bitmap or reader may allocate.
int64_t QLGetMaxPixels();
void QLSetMaxPixels(int64_t MaxPixels);
// True when a Width x Height image is within the pixel limit and its rows at BitCount bits per
// pixel can be addressed without overflow. Readers call it before sizing a bitmap.
bool QLImageSizeOK(int64_t Width, int64_t Height, int32_t BitCount = 24);
// ((Width x BitCount + 31) div 32) x 4: bytes of one stored row, padded to 4 bytes as in
// bitmaps and DIBs.
int32_t _BitmapRowLen(int32_t Width, int32_t BitCount);

// The bitmap's pixels are one block stored bottom-up (the bottom row first), rows padded to a
// multiple of 4 bytes; ScanLine(0) is the top row. A bitmap with zero width or height has no
// pixels. Sizes beyond the pixel limit raise EOutOfMemory before anything is allocated.
class TBitmap : public TPersistent {
 public:
  TBitmap();
  TBitmap(int32_t Width, int32_t Height, TPixelFormat PixelFormat = pf24bit);
  ~TBitmap() override;
  // Bitmaps move (the source is left empty); copies are made with Assign.
  TBitmap(TBitmap&& Other) noexcept;
  TBitmap& operator=(TBitmap&& Other) noexcept;

  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  void SetWidth(int32_t Width) { SetSize(Width, FHeight); }
  void SetHeight(int32_t Height) { SetSize(FWidth, Height); }
  // Changes the size keeping the overlapping top-left part; new pixels are zero, or take the
  // canvas's brush once the bitmap has a canvas.
  void SetSize(int32_t Width, int32_t Height);
  // Drops the pixels and makes a zero-filled bitmap of the given size and format (the palette
  // of an indexed format is reset); what a reader wants before it fills every row.
  void Recreate(int32_t Width, int32_t Height, TPixelFormat PF);
  bool Empty() const { return FWidth == 0 || FHeight == 0; }

  TPixelFormat GetPixelFormat() const { return FPixelFormat; }
  // Converts the pixels to the new layout. Indexed targets get the default palette of their
  // depth unless the bitmap already has a palette that fits, and take the nearest entry.
  // pfCustom cannot be set (EInvalidGraphic).
  void SetPixelFormat(TPixelFormat PixelFormat);

  // Row Y, 0 at the top. Raises EInvalidGraphic outside 0..height-1.
  uint8_t* ScanLine(int32_t Y);
  const uint8_t* ScanLine(int32_t Y) const;
  // Bytes per stored row (padded to 4).
  int32_t RowLen() const { return FRowLen; }
  // Start of the pixel block (the bottom row) and its size in bytes.
  uint8_t* Bits() { return FBits.data(); }
  const uint8_t* Bits() const { return FBits.data(); }
  int64_t BitsSize() const { return static_cast<int64_t>(FBits.size()); }

  // Palette of the indexed formats (empty for the others).
  const std::vector<TRGBQuad>& GetPalette() const { return FPalette; }
  void SetPalette(const std::vector<TRGBQuad>& Palette);
  static std::vector<TRGBQuad> DefaultPalette(TPixelFormat PixelFormat);

  // Copies size, format, palette and pixels.
  void Assign(const TBitmap& Source);

  // Tells OnChange that the pixels changed.
  void Modified();
  TNotifyEvent OnChange;

  // The bitmap's own canvas, created on first use; it lives as long as the bitmap and follows
  // it when the bitmap is moved.
  TCanvas& Canvas();

 private:
  void Reallocate(int32_t Width, int32_t Height, TPixelFormat PF, bool KeepPixels);

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FRowLen = 0;
  TPixelFormat FPixelFormat = pfDevice;
  TQLPixelBlock FBits;
  std::vector<TRGBQuad> FPalette;
  std::unique_ptr<TCanvas> FCanvas;
};

}  // namespace quillo
