// The operations of TQuilloProc: each wraps its free function in the component's frame.
#include <algorithm>
#include <cstring>

#include "quillo/core/dither.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/canvas.h"
#include "quillo/proc/colorops.h"
#include "quillo/proc/quilloproc.h"
#include "quillo/quant/quantizer.h"

namespace quillo {

// ---------------------------------------------------------------------------------------------
// Colour adjustments

void TQuilloProc::HSLvar(int32_t Hue, int32_t Saturation, int32_t Luminosity) {
  Process24([&](TBitmap& B, const TRect& R) {
    _HSLvar(B, Hue, Saturation, Luminosity, R, OnProgress, this);
  });
}

void TQuilloProc::HSVvar(int32_t Hue, int32_t Saturation, int32_t Value) {
  Process24(
      [&](TBitmap& B, const TRect& R) { _HSVvar(B, Hue, Saturation, Value, R, OnProgress, this); });
}

void TQuilloProc::Contrast(int32_t Amount) {
  if (!Is24() || (FBitmap->GetWidth() < 2 && FBitmap->GetHeight() < 2)) return;
  // The reference levels come from the whole image, whatever is selected.
  int32_t LR, LG, LB;
  _GetMediaContrastRGB(*FBitmap, LR, LG, LB);
  Process24([&](TBitmap& B, const TRect& R) {
    _ContrastRGB(B, Amount, LR, LG, LB, R, OnProgress, this);
  });
}

void TQuilloProc::IntensityRGBall(int32_t Red, int32_t Green, int32_t Blue) {
  Process24([&](TBitmap& B, const TRect& R) {
    _IntensityRGBall(B, Red, Green, Blue, R, OnProgress, this);
  });
}

void TQuilloProc::ConvertToGray() {
  Process24([&](TBitmap& B, const TRect& R) { _ConvertToGray(B, R, OnProgress, this); });
}

void TQuilloProc::CastColorRange(const TRGB& Lower, const TRGB& Upper, const TRGB& Replacement) {
  Process24([&](TBitmap& B, const TRect& R) {
    _CastColorRange(B, Lower, Upper, Replacement, R, OnProgress, this);
  });
}

void TQuilloProc::Threshold(const TRGB& LowerLimit, const TRGB& UpperLimit, const TRGB& LowerValue,
                            const TRGB& UpperValue) {
  Process24([&](TBitmap& B, const TRect& R) {
    _Threshold(B, LowerLimit, UpperLimit, LowerValue, UpperValue, R, OnProgress, this);
  });
}

void TQuilloProc::HistEqualize(const TRGB& Low, const TRGB& High) {
  Process24([&](TBitmap& B, const TRect& R) { _HistEqualize(B, Low, High, R, OnProgress, this); });
}

void TQuilloProc::HistAutoEqualize() {
  Process24([&](TBitmap& B, const TRect& R) { _HistAutoEqualize(B, R, OnProgress, this); });
}

void TQuilloProc::Negative() {
  Process([&](TBitmap& B, const TRect& R) { _Negative(B, R, OnProgress, this); });
}

void TQuilloProc::Merge(const TBitmap& Other, int32_t Percentage) {
  Process24([&](TBitmap& B, const TRect& R) { _Merge(B, Other, Percentage, R, OnProgress, this); });
}

std::unique_ptr<TBitmap> TQuilloProc::GetRGBChannel(int32_t Channel) {
  return Is24() ? _GetRGBChannel(*FBitmap, Channel, OnProgress, this) : nullptr;
}

std::unique_ptr<TBitmap> TQuilloProc::GetHSVChannel(int32_t Channel) {
  return Is24() ? _GetHSVChannel(*FBitmap, Channel, OnProgress, this) : nullptr;
}

void TQuilloProc::GetRGBChannelAll(TBitmap& Red, TBitmap& Green, TBitmap& Blue) {
  if (Is24()) _GetRGBChannelAll(*FBitmap, Red, Green, Blue, OnProgress, this);
}

void TQuilloProc::GetHSVChannelAll(TBitmap& Hue, TBitmap& Saturation, TBitmap& Value) {
  if (Is24()) _GetHSVChannelAll(*FBitmap, Hue, Saturation, Value, OnProgress, this);
}

// ---------------------------------------------------------------------------------------------
// Filters and effects

void TQuilloProc::ApplyFilter(const TGraphFilter& Filter) {
  const TGraphFilter F = Filter;
  Process24([&](TBitmap& B, const TRect& R) {
    bool NoAbort = false;
    TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
    _ApplyFilter(B, F, R, P);
  });
}

void TQuilloProc::ApplyFilterPreset(TQLFilterPresets Preset) {
  if (Preset <= LowPass2) ApplyFilter(QLFiltPres[Preset]);
}

void TQuilloProc::Maximum(int32_t Radius) {
  Process([&](TBitmap& B, const TRect& R) { _MorphFilter(B, Radius, 0, R, OnProgress, this); });
}

void TQuilloProc::Minimum(int32_t Radius) {
  Process([&](TBitmap& B, const TRect& R) { _MorphFilter(B, Radius, 1, R, OnProgress, this); });
}

void TQuilloProc::Opening(int32_t Radius) {
  Process([&](TBitmap& B, const TRect& R) { _MorphFilter(B, Radius, 2, R, OnProgress, this); });
}

void TQuilloProc::Closing(int32_t Radius) {
  Process([&](TBitmap& B, const TRect& R) { _MorphFilter(B, Radius, 3, R, OnProgress, this); });
}

void TQuilloProc::BumpMapping(int32_t LightX, int32_t LightY, int32_t LightWidth,
                              int32_t LightHeight, int32_t Percentage, const TRGB& LightColor) {
  Process24(
      [&](TBitmap& B, const TRect& R) {
        bool NoAbort = false;
        TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
        _BumpMapping(B, R, LightX, LightY, LightWidth, LightHeight, Percentage, LightColor, P);
      },
      drNoPolygon);
}

void TQuilloProc::Lens(int32_t CX, int32_t CY, int32_t Width, int32_t Height, double Refraction) {
  Process24(
      [&](TBitmap& B, const TRect&) {
        bool NoAbort = false;
        TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
        _lens(B, CX, CY, Width, Height, Refraction, P);
      },
      drNoPolygon);
}

void TQuilloProc::Wave(int32_t Amplitude, int32_t Wavelength, int32_t Phase, bool Reflective) {
  Process24(
      [&](TBitmap& B, const TRect&) {
        bool NoAbort = false;
        TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
        _wave(B, Amplitude, Wavelength, Phase, Reflective, P);
      },
      drNoPolygon);
}

// ---------------------------------------------------------------------------------------------
// Geometry

void TQuilloProc::Resample(int32_t Width, int32_t Height, TResampleFilter Filter) {
  if (!FBitmap) return;
  if (FAutoUndo) SaveUndo();
  if (Width < 0 && Height < 0) return;
  const int64_t W = FBitmap->GetWidth(), H = FBitmap->GetHeight();
  if (W == 0 || H == 0) return;
  int64_t TW = Width, TH = Height;
  if (TW < 0) TW = TH * W / H;
  if (TH < 0) TH = TW * H / W;
  if (TW <= 0 || TH <= 0 || !QLImageSizeOK(TW, TH, 24)) return;
  TBitmap Out(static_cast<int32_t>(TW), static_cast<int32_t>(TH),
              FBitmap->GetPixelFormat() == pf1bit ? pf1bit : pf24bit);
  // The filters need a 24-bit image of at least two pixels in one direction; every other image
  // is stretched rather than left blank.
  if (Filter != rfNone && FBitmap->GetPixelFormat() == pf24bit && (W >= 2 || H >= 2))
    _Resample(*FBitmap, Out, Filter, OnProgress, this);
  else
    _QLBmpStretch(*FBitmap, Out);
  // The new image is handed over, not copied: a copy would hold the result twice at the peak.
  *FBitmap = std::move(Out);
  Update();
}

void TQuilloProc::ImageResize(int32_t Width, int32_t Height) {
  if (!FBitmap || Width <= 0 || Height <= 0 || !QLImageSizeOK(Width, Height, 32)) return;
  if (FAutoUndo) SaveUndo();
  TBrush& Brush = FBitmap->Canvas().Brush();
  Brush.SetBitmap(nullptr);
  Brush.SetStyle(bsSolid);
  Brush.SetColor(GetBackground());
  FBitmap->SetSize(Width, Height);
  Update();
}

void TQuilloProc::Rotate(int32_t Angle, bool Antialias) {
  if (!FBitmap) return;
  if (FAutoUndo) SaveUndo();
  bool NoAbort = false;
  TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
  if (FBitmap->GetPixelFormat() == pf24bit)
    _Rotate24(*FBitmap, Angle, Antialias, GetBackground(), P);
  else
    // The component's own colour decides, not the view's.
    _rotate1bit(*FBitmap, Angle, FBackground != 0 ? 1 : 0, P);
  Update();
}

void TQuilloProc::Flip(TFlipDir Direction) {
  if (!FBitmap) return;
  if (FAutoUndo) SaveUndo();
  _Flip(*FBitmap, Direction);
  Update();
}

// ---------------------------------------------------------------------------------------------
// Analysis and colour reduction

void TQuilloProc::GetHistogram(THistogram& Histogram) {
  if (!Is24()) return;
  std::fill(std::begin(Histogram), std::end(Histogram), THistogramItem{});
  int32_t X1, Y1, X2, Y2, Count;
  const TPoint* Poly;
  TQLMask* Mask;
  GetReSel(X1, Y1, X2, Y2, Poly, Count, Mask);
  const TRect R = WorkRect(X1, Y1, X2, Y2);
  if (!R.IsEmpty()) _GetHistogram(*FBitmap, Histogram, R);
}

int32_t TQuilloProc::CalcImageNumColors() {
  if (!FBitmap) return 0;
  if (FBitmap->GetPixelFormat() == pf1bit) return 2;
  if (FBitmap->GetPixelFormat() != pf24bit) return 0;
  int32_t X1, Y1, X2, Y2, Count;
  const TPoint* Poly;
  TQLMask* Mask;
  GetReSel(X1, Y1, X2, Y2, Poly, Count, Mask);
  const TRect R = WorkRect(X1, Y1, X2, Y2);
  return R.IsEmpty() ? 0 : _GetImageNumColors(*FBitmap, R);
}

void TQuilloProc::CalcImagePalette(TRGB* Palette, int32_t Limit, int32_t Colors) {
  if (!Is24() || !Palette || FBitmap->Empty() || Colors < 1) return;
  TQLQuantizer Q(*FBitmap, Palette, Limit, Colors, -1, 0);
}

void TQuilloProc::ConvertTo(int32_t Colors) {
  ConvertToPalette(Colors, nullptr);
}

void TQuilloProc::ConvertToPalette(int32_t Colors, TRGB* Palette) {
  if (!Is24()) return;
  if (FAutoUndo) SaveUndo();
  if (Colors > 2) {
    _ConvertTo(*FBitmap, Colors, Palette, OnProgress, this);
  } else {
    if (Palette) {
      Palette[0] = CreateRGB(0, 0, 0);
      Palette[1] = CreateRGB(255, 255, 255);
    }
    bool NoAbort = false;
    TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
    _ConvertToBWOrdered(*FBitmap, P);
  }
  Update();
}

void TQuilloProc::ConvertToBWOrdered() {
  if (!Is24()) return;
  if (FAutoUndo) SaveUndo();
  bool NoAbort = false;
  TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
  _ConvertToBWOrdered(*FBitmap, P);
  Update();
}

void TQuilloProc::ConvertToBWThreshold(int32_t Threshold) {
  if (!Is24()) return;
  if (FAutoUndo) SaveUndo();
  bool NoAbort = false;
  TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
  _ConvertToBWThreshold(*FBitmap, Threshold, P);
  Update();
}

void TQuilloProc::ConvertTo24Bit() {
  if (!FBitmap || FBitmap->GetPixelFormat() != pf1bit) return;
  if (FAutoUndo) SaveUndo();
  TBitmap Copy;
  QLCopyBitmap(*FBitmap, Copy);
  bool NoAbort = false;
  TProgressRec P = QLProgressRec(OnProgress, this, NoAbort);
  _Conv1to24(Copy, *FBitmap, P);
  Update();
}

int32_t TQuilloProc::GetHiddenDataSpace() {
  return Is24() ? _GetHiddenDataSpace(*FBitmap) : 0;
}

int32_t TQuilloProc::WriteHiddenData(const void* Data, int32_t Length) {
  if (!Is24()) return 0;
  if (FAutoUndo) SaveUndo();
  const int32_t Result = _WriteHiddenData(*FBitmap, Data, Length);
  Update();
  return Result;
}

int32_t TQuilloProc::WriteHiddenText(const std::string& Text) {
  return WriteHiddenData(Text.data(),
                         static_cast<int32_t>(std::min<size_t>(Text.size(), INT32_MAX)));
}

int32_t TQuilloProc::ReadHiddenData(void* Data, int32_t Maximum) {
  return Is24() ? _ReadHiddenData(*FBitmap, Data, Maximum) : 0;
}

std::string TQuilloProc::ReadHiddenText() {
  return Is24() ? _ReadHiddenText(*FBitmap) : std::string();
}

// ---------------------------------------------------------------------------------------------
// Fourier transform

std::unique_ptr<TQLFtImage> TQuilloProc::FTCreateImage(TQLFtImageType Type, int32_t Width,
                                                       int32_t Height) {
  if (!Is24() || FBitmap->Empty()) return nullptr;
  auto F = std::make_unique<TQLFtImage>();
  F->OnProgress = OnProgress;
  F->ProgressSender = this;
  if (Width < 0 && Height < 0) {
    F->BuildFT(*FBitmap, Type);
    return F;
  }
  const int64_t W = FBitmap->GetWidth(), H = FBitmap->GetHeight();
  int64_t TW = Width, TH = Height;
  if (TW < 0) TW = TH * W / H;
  if (TH < 0) TH = TW * H / W;
  if (TW <= 0 || TH <= 0 || !QLImageSizeOK(TW, TH, 24)) return nullptr;
  TBitmap Stretched(static_cast<int32_t>(TW), static_cast<int32_t>(TH), pf24bit);
  _QLBmpStretch(*FBitmap, Stretched);
  F->BuildFT(Stretched, Type);
  return F;
}

void TQuilloProc::FTDisplayFrom(const TQLFtImage& Image) {
  // An image that holds no transform would leave an empty bitmap behind.
  if (!FBitmap || Image.Size() == 0) return;
  Image.GetFTImage(*FBitmap);
  Update();
}

void TQuilloProc::FTConvertFrom(const TQLFtImage& Image) {
  if (!FBitmap || Image.Size() == 0) return;
  Image.BuildBitmap(*FBitmap);
  Update();
}

}  // namespace quillo
