// TQuilloProc: the processing component. It owns no image; attached to a view, an image control
// or a bare bitmap, it changes that bitmap in place with one level of undo, confining every
// operation to the current selection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "quillo/core/selection.h"
#include "quillo/core/target.h"
#include "quillo/core/types.h"
#include "quillo/core/view.h"
#include "quillo/platform/bitmap.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/controls.h"
#include "quillo/proc/analysis.h"
#include "quillo/proc/filters.h"
#include "quillo/proc/fourier.h"
#include "quillo/proc/geometry.h"

namespace quillo {

// Copies the rectangle X1, Y1 - X2, Y2 of Source (X2 or Y2 of 0: the full width or height; the
// rectangle is clipped to Source) into Destination, which takes Source's pixel format and the
// rectangle's size.
void _CopyBitmapRect(const TBitmap& Source, TBitmap& Destination, int32_t X1, int32_t Y1,
                     int32_t X2, int32_t Y2);
// Makes Destination (X2 - X1) x (Y2 - Y1) pixels of Source's format and copies into it the part
// of Source's rectangle X1, Y1 - X2, Y2 that lies inside the polygon (Count points in Source
// coordinates, sub-polygons filled alternately); with Count 0 the whole rectangle. Pixels outside
// keep the fresh bitmap's value (0).
void _CopyBitmapPoly(const TBitmap& Source, TBitmap& Destination, int32_t X1, int32_t Y1,
                     int32_t X2, int32_t Y2, const TPoint* Polygon, int32_t Count);
// Draws Copy onto Destination at (X, Y) only inside the polygon (Destination coordinates,
// sub-polygons filled alternately); the pixels outside keep their values.
void _CopyPolygonBitmap(TBitmap& Destination, const TBitmap& Copy, int32_t X, int32_t Y,
                        const TPoint* Polygon, int32_t Count);
// Fills the inside of the polygon (sub-polygons filled alternately) with Color.
void _ClearSel(TBitmap& Bitmap, const TPoint* Polygon, int32_t Count, TColor Color);

class TQuilloProc : public TQLTargetComponent {
 public:
  explicit TQuilloProc(TComponent* AOwner = nullptr);
  ~TQuilloProc() override;

  // --- targets -------------------------------------------------------------------------------
  // The image control's picture bitmap becomes the target.
  void SetTImage(TImage* Image) { SetAttachedTImage(Image); }

  // --- settings ------------------------------------------------------------------------------
  bool GetAutoUndo() const { return FAutoUndo; }
  void SetAutoUndo(bool V) { FAutoUndo = V; }
  // The colour of cleared, cut and uncovered areas: the attached view's background when a view
  // is attached.
  TColor GetBackground() const;
  void SetBackground(TColor Color);
  TQLProgressEvent OnProgress;

  // --- undo (overridable, in this order) -----------------------------------------------------
  // Keeps a copy of the attached bitmap (nothing for an empty bitmap).
  virtual void SaveUndo();
  // Puts the kept copy back; the copy stays, so a second Undo restores it again.
  virtual void Undo();
  virtual void ClearUndo();
  // True when a copy larger than 1 x 1 is kept.
  virtual bool GetCanUndo() const;

  // --- selection -----------------------------------------------------------------------------
  // Stores the rectangle and, with a view that carries a selection, selects it there in bitmap
  // coordinates.
  void Select(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, TQLSelOp Op = qlspReplace);
  // Removes the selection (stored and the view's).
  void SelectAll();
  // The working area: the selection's box, polygon and mask (the view's when it carries a
  // selection, else the stored rectangle without polygon). True when a selection exists; without
  // one the box is the whole bitmap.
  bool GetReSel(int32_t& X1, int32_t& Y1, int32_t& X2, int32_t& Y2, const TPoint*& Polygon,
                int32_t& PolyCount, TQLMask*& Mask) const;
  int32_t GetSelX1() const;
  int32_t GetSelY1() const;
  int32_t GetSelX2() const;
  int32_t GetSelY2() const;

  // --- clearing, cropping, clipboard ---------------------------------------------------------
  // Fills the whole bitmap with the background.
  void Clear();
  // Fills the selection (the whole bitmap without one) with the background.
  void ClearSel();
  // Keeps only the selection's box, the pixels outside its polygon cleared to black.
  void CropSel();
  // Puts the whole bitmap on the clipboard as a DIB.
  void CopyToClipboard();
  // Puts the selection on the clipboard (the whole bitmap without one); a polygon selection
  // gives its mask's box with the unselected pixels black.
  void SelCopyToClip();
  // SelCopyToClip, then ClearSel; nothing without a selection.
  void SelCutToClip();
  // Replaces the bitmap with the clipboard's image.
  void PasteFromClipboard();
  // Draws the clipboard's image with its top-left corner at (X, Y) (client coordinates when the
  // view's selection base is the client area).
  void PointPasteFromClip(int32_t X, int32_t Y);
  // Stretches the clipboard's image into the selection's box (PasteFromClipboard without one).
  void SelPasteFromClipStretch();

  // --- colour adjustments (24-bit only) ------------------------------------------------------
  void HSLvar(int32_t Hue, int32_t Saturation, int32_t Luminosity);
  void HSVvar(int32_t Hue, int32_t Saturation, int32_t Value);
  // Contrast about the channel levels of the whole image; needs at least 2 pixels in one
  // direction.
  void Contrast(int32_t Amount);
  void IntensityRGBall(int32_t Red, int32_t Green, int32_t Blue);
  void ConvertToGray();
  void CastColorRange(const TRGB& Lower, const TRGB& Upper, const TRGB& Replacement);
  void Threshold(const TRGB& LowerLimit, const TRGB& UpperLimit, const TRGB& LowerValue,
                 const TRGB& UpperValue);
  void HistEqualize(const TRGB& Low, const TRGB& High);
  void HistAutoEqualize();
  // Inverts 24-bit and 1-bit images.
  void Negative();
  // Blends Other (stretched to the selection) by Percentage of the current image.
  void Merge(const TBitmap& Other, int32_t Percentage);
  // Grey images of one channel of the whole bitmap (null without a 24-bit bitmap).
  std::unique_ptr<TBitmap> GetRGBChannel(int32_t Channel);
  std::unique_ptr<TBitmap> GetHSVChannel(int32_t Channel);
  void GetRGBChannelAll(TBitmap& Red, TBitmap& Green, TBitmap& Blue);
  void GetHSVChannelAll(TBitmap& Hue, TBitmap& Saturation, TBitmap& Value);

  // --- filters and effects (24-bit only, the morphology any format) --------------------------
  void ApplyFilter(const TGraphFilter& Filter);
  void ApplyFilterPreset(TQLFilterPresets Preset);
  void Maximum(int32_t Radius);
  void Minimum(int32_t Radius);
  void Opening(int32_t Radius);
  void Closing(int32_t Radius);
  // With a polygon selection the coordinates are relative to the selection's box.
  void BumpMapping(int32_t LightX, int32_t LightY, int32_t LightWidth, int32_t LightHeight,
                   int32_t Percentage, const TRGB& LightColor);
  void Lens(int32_t CX, int32_t CY, int32_t Width, int32_t Height, double Refraction);
  void Wave(int32_t Amplitude, int32_t Wavelength, int32_t Phase, bool Reflective);

  // --- geometry (the whole bitmap) -----------------------------------------------------------
  // A negative size follows the other by the aspect ratio; nothing for sizes that end at 0 or
  // below.
  void Resample(int32_t Width, int32_t Height, TResampleFilter Filter);
  // New size without scaling: the old pixels stay at the top-left, new area the background.
  void ImageResize(int32_t Width, int32_t Height);
  // Whole degrees, counter-clockwise on screen when positive.
  void Rotate(int32_t Angle, bool Antialias);
  void Flip(TFlipDir Direction);

  // --- analysis and colour reduction ---------------------------------------------------------
  // Counts the selection's box of a 24-bit bitmap (the histogram untouched otherwise).
  void GetHistogram(THistogram& Histogram);
  int32_t CalcImageNumColors();
  // The palette TQLQuantizer makes for the whole 24-bit bitmap (Limit and Colors as it takes).
  void CalcImagePalette(TRGB* Palette, int32_t Limit, int32_t Colors);
  // To Colors colours (24-bit kept), or to black and white by ordered dither for 2 or fewer.
  void ConvertTo(int32_t Colors);
  void ConvertToPalette(int32_t Colors, TRGB* Palette);
  void ConvertToBWOrdered();
  void ConvertToBWThreshold(int32_t Threshold);
  // Expands a 1-bit bitmap to 24-bit.
  void ConvertTo24Bit();
  int32_t GetHiddenDataSpace();
  int32_t WriteHiddenData(const void* Data, int32_t Length);
  int32_t WriteHiddenText(const std::string& Text);
  int32_t ReadHiddenData(void* Data, int32_t Maximum);
  std::string ReadHiddenText();

  // --- Fourier transform ---------------------------------------------------------------------
  // The transform of the 24-bit bitmap (both sizes negative) or of a stretched copy (a negative
  // size follows the other by the aspect ratio); null without a 24-bit bitmap.
  std::unique_ptr<TQLFtImage> FTCreateImage(TQLFtImageType Type, int32_t Width, int32_t Height);
  // The spectrum into the bitmap (no undo).
  void FTDisplayFrom(const TQLFtImage& Image);
  // The inverse transform into the bitmap (no undo).
  void FTConvertFrom(const TQLFtImage& Image);

 protected:
  // Which selections an operation runs on directly: every rectangle, or only a selection
  // without polygon.
  enum TDirectRule : uint8_t { drRectangles, drNoPolygon };
  // The frame of a pixel operation: undo, working area, Update. Op runs on the bitmap with the
  // selection's box, or, for a polygon selection, on a copy of the box with the copy's whole
  // area, which is then drawn back inside the polygon.
  void Process(const std::function<void(TBitmap&, const TRect&)>& Op,
               TDirectRule Rule = drRectangles);
  // Process for operations that need a 24-bit bitmap (nothing, not even undo, otherwise).
  void Process24(const std::function<void(TBitmap&, const TRect&)>& Op,
                 TDirectRule Rule = drRectangles);
  bool Is24() const { return FBitmap && FBitmap->GetPixelFormat() == pf24bit; }

 private:
  // The view when it carries a selection.
  TQLView* SelectionView() const;
  // The selection's box clipped to the bitmap.
  TRect WorkRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) const;
  // The clipboard's DIB as a bitmap; false when there is none or it cannot be read.
  bool ClipboardBitmap(TBitmap& Out) const;
  void PutDIB(const TBitmap& Source, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);

  bool FAutoUndo = true;
  TColor FBackground = clBlack;
  TBitmap FUndo;
  int32_t FSelX1 = -1, FSelY1 = -1, FSelX2 = -1, FSelY2 = -1;
};

}  // namespace quillo
