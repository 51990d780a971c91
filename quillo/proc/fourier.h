// The two-dimensional discrete Fourier transform of an image: one complex plane per channel (or
// one of grey levels), padded to an N x N square with N a power of two, with a unitary scale and
// the zero frequency moved to the centre (N/2, N/2).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "quillo/core/types.h"
#include "quillo/platform/bitmap.h"

namespace quillo {

enum TQLFtImageType : uint8_t { qlitUnknown, qlitRGB, qlitGrayscale };

// Pointers to one coefficient in every plane; those of planes the image does not hold are null.
// Writing through them edits the spectrum.
struct TQLComplexImage {
  float* real_Red = nullptr;
  float* imag_Red = nullptr;
  float* real_Blue = nullptr;
  float* imag_Blue = nullptr;
  float* real_Green = nullptr;
  float* imag_Green = nullptr;
  float* imag_Gray = nullptr;
  float* real_Gray = nullptr;
};

class TQLFtImage {
 public:
  // N rows of 2N floats each: the N real parts, then the N imaginary parts.
  class TPlane {
   public:
    explicit TPlane(int32_t N) : FN(N), FData(static_cast<size_t>(N) * 2 * N) {}
    float* Row(int32_t Y) { return FData.data() + static_cast<size_t>(Y) * 2 * FN; }
    const float* Row(int32_t Y) const { return FData.data() + static_cast<size_t>(Y) * 2 * FN; }
    float* Real(int32_t X, int32_t Y) { return Row(Y) + X; }
    float* Imag(int32_t X, int32_t Y) { return Row(Y) + FN + X; }
    int32_t Size() const { return FN; }

   private:
    int32_t FN;
    std::vector<float> FData;
  };

  TQLFtImage() = default;
  TQLFtImage(const TQLFtImage&) = delete;
  TQLFtImage& operator=(const TQLFtImage&) = delete;

  // Builds the planes of Type from a 24-bit bitmap (nothing for qlitUnknown or another format).
  void BuildFT(const TBitmap& Bitmap, TQLFtImageType Type);
  // Makes Bitmap 24-bit N x N showing the log-scaled magnitude of each plane.
  void GetFTImage(TBitmap& Bitmap) const;
  // Makes Bitmap 24-bit of the source size holding the inverse transform, rescaled to 0..255.
  void BuildBitmap(TBitmap& Bitmap) const;
  // Clears every coefficient at a (truncated) distance <= Radius from the centre.
  void HiPass(int32_t Radius);
  // Clears every coefficient at a (truncated) distance > Radius from the centre.
  void LoPass(int32_t Radius);
  // Clears the coefficients X1..X2 x Y1..Y2 (inclusive, clipped to the square).
  void ClearZone(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  // The coefficient at column X, row Y of every plane; all null outside the square.
  TQLComplexImage GetComplexImage(int32_t X, int32_t Y);
  void Assign(const TQLFtImage& Source);
  void FreeAll();

  TQLFtImageType ImageType() const { return FType; }
  int32_t Size() const { return FWorkSize; }
  int32_t OffsetX() const { return FOffsetX; }
  int32_t OffsetY() const { return FOffsetY; }
  int32_t SourceWidth() const { return FSourceWidth; }
  int32_t SourceHeight() const { return FSourceHeight; }
  const TPlane* Plane(int32_t Channel) const;  // 0 red, 1 green, 2 blue, 3 grey

  TQLProgressEvent OnProgress;
  TObject* ProgressSender = nullptr;

 private:
  void PrepareTables(int32_t N);
  void Transform1D(float* Re, float* Im, int32_t Sign) const;
  void Transform2D(TPlane& P, int32_t Sign, int32_t PlaneIndex, int32_t PlaneCount) const;
  void ForEachPlane(const std::function<void(TPlane&)>& Fn);
  // Clears the coefficients whose truncated distance from the centre is <= Radius (Inside) or
  // > Radius (not Inside).
  void ClearByDistance(int32_t Radius, bool Inside);

  std::vector<double> FSine;
  std::vector<int32_t> FBitRev;
  std::vector<int32_t> FBlockSize;
  int32_t FN = 0, FLog2N = 0;
  double FScale = 1;
  int32_t FWorkSize = 0;
  bool FNormalize = false;
  std::unique_ptr<TPlane> FRed, FGreen, FBlue, FGray;
  int32_t FOffsetX = 0, FOffsetY = 0;
  int32_t FSourceWidth = 0, FSourceHeight = 0;
  TQLFtImageType FType = qlitUnknown;
};

}  // namespace quillo
