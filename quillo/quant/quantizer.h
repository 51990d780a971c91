// Colour quantization: the median-cut engine and TQLQuantizer, the front every writer that
// reduces colours uses.
#pragma once

#include <cstdint>
#include <memory>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"

namespace quillo {

// Builds a palette of up to NCol colours for a 24-bit image and maps colours to palette
// indexes. All work happens in the constructor; afterwards the palette is final.
class TQLQuantizer : public TObject {
 public:
  // ColorMap receives NCol entries (fewer when the image has fewer colours; the rest are left
  // as they were; always at least one). Limit is the highest index ColorMap can take. Quality -1
  // picks the sampling factor from the image size. Method is accepted for compatibility; the engine
  // is chosen by NCol (median cut below 128 colours, the network from 128 on).
  TQLQuantizer(const TBitmap& Bitmap, TRGB* ColorMap, int32_t Limit, int32_t NCol,
               int32_t Quality = -1, int32_t Method = 0);
  ~TQLQuantizer() override;

  // The palette index standing for Color. Answers are cached, so repeated colours are cheap.
  int32_t GetRGBIndex(TRGB Color);
  // GetRGBIndex of Count pixels stored blue, green, red (a 24-bit row), into Indexes.
  void GetRGBIndexes(const uint8_t* Pixels, int32_t Count, int32_t* Indexes);

  // The engine in use: 0 the network, 1 median cut.
  int32_t GetMethod() const;
  // Palette entries written: NCol for the network, the boxes made by median cut.
  int32_t GetColorCount() const;
  // The network's sampling factor (1 = every pixel trains); 0 for median cut.
  int32_t GetSampleFac() const;

  // The network's sampling factor for an image of Pixels pixels: Quality -1 picks it from the
  // size (1 below 2000 pixels, growing to 30), Quality 0..100 maps 100 to 1 and 0 to 30.
  // Always 1..30.
  static int32_t SampleFactor(int64_t Pixels, int32_t Quality);

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

}  // namespace quillo
