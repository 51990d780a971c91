// The palette a writer stores for a 24-bit image and the index of every pixel in it: the image's
// own colours when they fit, the quantizer's palette only when they do not.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"

namespace quillo {

class TQLQuantizer;

// The distinct colours of a 24-bit image, up to a limit, each with a palette index, in a small
// open-addressing table keyed on the 24-bit value.
class TQLColorSet {
 public:
  // Adds the colours of Count pixels (blue, green, red) as long as at most Limit (1..256) are
  // met, writing each pixel's index (the colour's place in Colors()) to Indexes when it is
  // given. Returns false, leaving the rest of the row, at the first colour beyond the limit.
  bool AddRow(const uint8_t* Bgr, int32_t Count, int32_t Limit, uint8_t* Indexes = nullptr);
  // AddRow over every row of a 24-bit bitmap, indexes (when given) row after row from the top.
  bool AddImage(const TBitmap& Bitmap, int32_t Limit, uint8_t* Indexes = nullptr);
  // The index of Key (blue | green << 8 | red << 16), or -1 when it is not in the set.
  int32_t Find(uint32_t Key) const {
    for (uint32_t H = Hash(Key);; H = (H + 1) & kMask) {
      const uint64_t E = FSlots[H];
      if (static_cast<uint32_t>(E) == Key + 1) return static_cast<int32_t>(E >> 32);
      if (E == 0) return -1;
    }
  }
  // The colours in the order they were first met.
  const std::vector<TRGB>& Colors() const { return FColors; }
  // Gives the colour Key (which must be in the set) the index V.
  void SetIndex(uint32_t Key, uint8_t V);

  static uint32_t KeyOf(const uint8_t* Bgr) {
    return Bgr[0] | (uint32_t{Bgr[1]} << 8) | (uint32_t{Bgr[2]} << 16);
  }
  static uint32_t KeyOf(TRGB C) { return C.b | (uint32_t{C.g} << 8) | (uint32_t{C.r} << 16); }

 private:
  // Eight times the largest palette keeps nearly every look-up to one probe, in 16 KiB. A slot
  // holds the key plus one (so 0 is empty) in its low half and the index in its high half.
  static constexpr uint32_t kSlots = 2048, kMask = kSlots - 1;
  static uint32_t Hash(uint32_t Key) { return (Key * 0x9E3779B1u) >> 21; }
  int32_t Insert(uint32_t Key, int32_t Limit);
  template <bool WithIndexes>
  bool AddPixels(const uint8_t* Bgr, int32_t Count, int32_t Limit, uint8_t* Indexes);
  std::array<uint64_t, kSlots> FSlots{};
  std::vector<TRGB> FColors;
};

// The palette of NCol entries (1..256) for a 24-bit bitmap and the mapping of its pixels.
// An image of at most NCol colours gets exactly its colours: in the order of Kept (the palette
// the image was loaded with) when every colour is among Kept's first NCol entries, so that a
// loaded image saves with the indexes it was read with, else in the order first met. An image of
// more colours goes through TQLQuantizer as before.
class TQLPaletteMapper {
 public:
  // With AllIndexes (width x height bytes), the index of every pixel is written there, row after
  // row from the top, in the same pass that counts the colours.
  TQLPaletteMapper(const TBitmap& Bitmap24, int32_t NCol, const std::vector<TRGB>& Kept = {},
                   uint8_t* AllIndexes = nullptr);
  ~TQLPaletteMapper();
  TQLPaletteMapper(const TQLPaletteMapper&) = delete;
  TQLPaletteMapper& operator=(const TQLPaletteMapper&) = delete;

  // NCol entries; those past the colours in use are black.
  const std::vector<TRGB>& Palette() const { return FPalette; }
  // True when every pixel's colour is in the palette.
  bool Exact() const { return !FQuantizer; }
  // True when the palette is Kept's.
  bool KeptOrder() const { return FKeptOrder; }
  // Entries in use: the image's colours (all of Kept's first NCol when its order serves), or
  // those the quantizer made.
  int32_t ColorCount() const { return FCount; }
  // The indexes of Count pixels stored blue, green, red.
  void MapRow(const uint8_t* Bgr, int32_t Count, uint8_t* Indexes);
  // The entry standing for C (a background colour, say): its own entry when it has one, else
  // the nearest entry in use, or the quantizer's answer.
  int32_t IndexOf(TRGB C);

 private:
  TQLColorSet FSet;
  std::vector<TRGB> FPalette;
  std::unique_ptr<TQLQuantizer> FQuantizer;
  std::vector<int32_t> FWide;
  int32_t FCount = 0;
  bool FKeptOrder = false;
};

}  // namespace quillo
