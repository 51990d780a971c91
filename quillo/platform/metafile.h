// TMetafile: vector pictures in the 16-bit (WMF, with or without the placeable header) and the
// enhanced 32-bit (EMF) record formats, read from a stream and played onto a TCanvas.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/streams.h"
#include "quillo/platform/types.h"

namespace quillo {

// Decodes a device-independent bitmap (info header, palette or bit masks, then the pixels) into
// a 24-bit bitmap. Headers of 12, 40 and the longer versions; 1, 4, 8, 16, 24 and 32 bits per
// pixel, uncompressed, with bit fields, or RLE8/RLE4. TopDown tells how the stored rows run.
// False (Out untouched) for anything malformed or larger than the data holds.
bool QLDecodeDIB(const uint8_t* Info, size_t InfoSize, const uint8_t* Bits, size_t BitsSize,
                 TBitmap& Out, bool* TopDown = nullptr);

class TMetafile : public TPersistent {
 public:
  TMetafile() = default;

  // Replaces the content with the metafile at the stream's position (to its end). Raises
  // EInvalidGraphic when the bytes are not a metafile header; record errors are found when
  // playing.
  void LoadFromStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName);
  void LoadFromBytes(const uint8_t* Data, size_t Size);
  void Clear();

  bool Empty() const { return FData.empty(); }
  // True for the 32-bit format.
  bool GetEnhanced() const { return FEnhanced; }
  // The picture's size in pixels at 96 dots per inch: from the placeable header's box, from
  // the enhanced header's frame, or from the window extent of a plain 16-bit file.
  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  const std::vector<uint8_t>& Data() const { return FData; }

  // Plays the records onto Canvas with the picture stretched into Dest. Unknown records are
  // skipped; a record whose size runs past the data ends the play. The canvas's pen, brush,
  // font, modes and clip are restored afterwards; drawing is clipped to the canvas's clip.
  void Play(TCanvas& Canvas, const TRect& Dest) const;
  void Draw(TCanvas& Canvas, const TRect& Dest) const { Play(Canvas, Dest); }

 private:
  std::vector<uint8_t> FData;
  bool FEnhanced = false;
  bool FPlaceable = false;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  // The picture's box in its own units: the placeable box or the plain file's window (16-bit),
  // or the frame in device units of the reference device (enhanced).
  double FBoxLeft = 0, FBoxTop = 0, FBoxRight = 0, FBoxBottom = 0;
  size_t FRecordsStart = 0;
  int32_t FHandles = 0;
  double FDevPerMMX = 96 / 25.4, FDevPerMMY = 96 / 25.4;
};

}  // namespace quillo
