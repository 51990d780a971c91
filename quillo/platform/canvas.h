// TCanvas: a software renderer on a TBitmap with the pixel rules of the classic graphics
// device interface: pens, brushes, fonts, raster operations and clip regions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/classes.h"
#include "quillo/platform/font.h"
#include "quillo/platform/region.h"
#include "quillo/platform/types.h"

namespace quillo {

enum TPenStyle : uint8_t {
  psSolid,
  psDash,
  psDot,
  psDashDot,
  psDashDotDot,
  psClear,
  psInsideFrame
};

// The sixteen binary raster operations between the pen (or brush) and the destination.
enum TPenMode : uint8_t {
  pmBlack,
  pmWhite,
  pmNop,
  pmNot,
  pmCopy,
  pmNotCopy,
  pmMergePenNot,
  pmMaskPenNot,
  pmMergeNotPen,
  pmMaskNotPen,
  pmMerge,
  pmNotMerge,
  pmMask,
  pmNotMask,
  pmXor,
  pmNotXor
};

enum TBrushStyle : uint8_t {
  bsSolid,
  bsClear,
  bsHorizontal,
  bsVertical,
  bsFDiagonal,
  bsBDiagonal,
  bsCross,
  bsDiagCross
};

// Ternary raster operations of the block transfers: the high word's low byte is the truth table
// over pattern (bit 2), source (bit 1) and destination (bit 0).
using TCopyMode = int32_t;
constexpr TCopyMode cmBlackness = 0x00000042;
constexpr TCopyMode cmDstInvert = 0x00550009;
constexpr TCopyMode cmMergeCopy = 0x00C000CA;
constexpr TCopyMode cmMergePaint = 0x00BB0226;
constexpr TCopyMode cmNotSrcCopy = 0x00330008;
constexpr TCopyMode cmNotSrcErase = 0x001100A6;
constexpr TCopyMode cmPatCopy = 0x00F00021;
constexpr TCopyMode cmPatInvert = 0x005A0049;
constexpr TCopyMode cmPatPaint = 0x00FB0A09;
constexpr TCopyMode cmSrcAnd = 0x008800C6;
constexpr TCopyMode cmSrcCopy = 0x00CC0020;
constexpr TCopyMode cmSrcErase = 0x00440328;
constexpr TCopyMode cmSrcInvert = 0x00660046;
constexpr TCopyMode cmSrcPaint = 0x00EE0086;
constexpr TCopyMode cmWhiteness = 0x00FF0062;

// Background of text, hatches and pen gaps. bkAuto follows the brush: opaque in the brush
// colour when the brush is solid, transparent otherwise.
enum TBkMode : uint8_t { bkAuto, bkTransparent, bkOpaque };

// Text alignment of TextOut and ExtTextOut: one horizontal and one vertical value.
constexpr uint32_t taLeft = 0;
constexpr uint32_t taUpdateCP = 1;
constexpr uint32_t taRight = 2;
constexpr uint32_t taCenter = 6;
constexpr uint32_t taTop = 0;
constexpr uint32_t taBottom = 8;
constexpr uint32_t taBaseline = 24;

// ExtTextOut options.
constexpr uint32_t etoOpaque = 2;
constexpr uint32_t etoClipped = 4;

// TextRect formats.
using TTextFormat = uint32_t;
constexpr TTextFormat tfLeft = 0;
constexpr TTextFormat tfTop = 0;
constexpr TTextFormat tfCenter = 1;
constexpr TTextFormat tfRight = 2;
constexpr TTextFormat tfVerticalCenter = 4;
constexpr TTextFormat tfBottom = 8;
constexpr TTextFormat tfWordBreak = 0x10;
constexpr TTextFormat tfSingleLine = 0x20;
constexpr TTextFormat tfNoClip = 0x100;
constexpr TTextFormat tfCalcRect = 0x400;
constexpr TTextFormat tfEndEllipsis = 0x8000;

// 3-D edges (DrawEdge): borders and the sides to draw.
constexpr uint32_t bdrRaisedOuter = 1;
constexpr uint32_t bdrSunkenOuter = 2;
constexpr uint32_t bdrRaisedInner = 4;
constexpr uint32_t bdrSunkenInner = 8;
constexpr uint32_t edgeRaised = bdrRaisedOuter | bdrRaisedInner;
constexpr uint32_t edgeSunken = bdrSunkenOuter | bdrSunkenInner;
constexpr uint32_t edgeEtched = bdrSunkenOuter | bdrRaisedInner;
constexpr uint32_t edgeBump = bdrRaisedOuter | bdrSunkenInner;
constexpr uint32_t bfLeft = 1;
constexpr uint32_t bfTop = 2;
constexpr uint32_t bfRight = 4;
constexpr uint32_t bfBottom = 8;
constexpr uint32_t bfRect = 15;
constexpr uint32_t bfMiddle = 0x800;
constexpr uint32_t bfSoft = 0x1000;
constexpr uint32_t bfAdjust = 0x2000;
constexpr uint32_t bfFlat = 0x4000;
constexpr uint32_t bfMono = 0x8000;

class TPen : public TPersistent {
 public:
  TColor GetColor() const { return FColor; }
  void SetColor(TColor Color) { FColor = Color; }
  // Width in pixels; 0 and 1 draw one-pixel (cosmetic) lines. Styles other than solid, clear
  // and inside-frame draw only at widths up to 1; wider styled pens draw solid.
  int32_t GetWidth() const { return FWidth; }
  void SetWidth(int32_t Width) { FWidth = Width < 0 ? 0 : Width; }
  TPenStyle GetStyle() const { return FStyle; }
  void SetStyle(TPenStyle Style) { FStyle = Style; }
  TPenMode GetMode() const { return FMode; }
  void SetMode(TPenMode Mode) { FMode = Mode; }
  void Assign(const TPen& Source);

 private:
  TColor FColor = clBlack;
  int32_t FWidth = 1;
  TPenStyle FStyle = psSolid;
  TPenMode FMode = pmCopy;
};

class TBrush : public TPersistent {
 public:
  TBrush() = default;
  TColor GetColor() const { return FColor; }
  void SetColor(TColor Color) { FColor = Color; }
  TBrushStyle GetStyle() const { return FStyle; }
  void SetStyle(TBrushStyle Style) { FStyle = Style; }
  // A pattern brush: the bitmap is tiled from the canvas origin and replaces colour and style
  // while set. A copy is kept; nullptr removes it.
  const TBitmap* GetBitmap() const { return FBitmap.get(); }
  void SetBitmap(const TBitmap* Bitmap);
  // Shares an immutable pattern instead of copying it.
  void SetPattern(std::shared_ptr<const TBitmap> Bitmap) { FBitmap = std::move(Bitmap); }
  void Assign(const TBrush& Source);

 private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
  std::shared_ptr<const TBitmap> FBitmap;
};

// A canvas draws on a bitmap it does not own (TBitmap::Canvas() makes the bitmap's own one).
// Coordinates are pixels, (0, 0) the top-left; what falls outside the bitmap or the clip region
// is dropped. Every drawing call ends with the bitmap's Modified and the canvas's OnChange.
class TCanvas : public TPersistent {
 public:
  explicit TCanvas(TBitmap* Bitmap);
  ~TCanvas() override;

  TBitmap* GetBitmap() const { return FBitmap; }
  TPen& Pen() { return FPen; }
  TBrush& Brush() { return FBrush; }
  TFont& Font() { return FFont; }
  const TPen& Pen() const { return FPen; }
  const TBrush& Brush() const { return FBrush; }
  const TFont& Font() const { return FFont; }

  TPoint GetPenPos() const { return FPenPos; }
  void SetPenPos(const TPoint& P) { FPenPos = P; }
  TCopyMode GetCopyMode() const { return FCopyMode; }
  void SetCopyMode(TCopyMode Mode) { FCopyMode = Mode; }
  TPolyFillMode GetPolyFillMode() const { return FPolyFillMode; }
  void SetPolyFillMode(TPolyFillMode Mode) { FPolyFillMode = Mode; }
  TBkMode GetBkMode() const { return FBkMode; }
  void SetBkMode(TBkMode Mode) { FBkMode = Mode; }
  // Background colour used when the background mode is bkOpaque.
  TColor GetBkColor() const { return FBkColor; }
  void SetBkColor(TColor Color) { FBkColor = Color; }
  uint32_t GetTextAlign() const { return FTextAlign; }
  void SetTextAlign(uint32_t Align) { FTextAlign = Align; }
  // Arcs, pies and chords run counterclockwise from the start radial unless set clockwise.
  bool GetArcClockwise() const { return FArcClockwise; }
  void SetArcClockwise(bool Clockwise) { FArcClockwise = Clockwise; }
  // Resolution for font sizes in points; setting it updates the font's.
  int32_t GetPixelsPerInch() const { return FFont.GetPixelsPerInch(); }
  void SetPixelsPerInch(int32_t PPI) { FFont.SetPixelsPerInch(PPI); }

  // Clipping. Without a clip region the whole bitmap is drawable.
  bool HasClipRegion() const { return FHasClip; }
  const TRegion& GetClipRegion() const { return FClip; }
  void SetClipRegion(const TRegion& Region) { SelectClipRegion(Region, rgnCopy); }
  // Combines Region with the current clip (the whole bitmap when there is none).
  void SelectClipRegion(const TRegion& Region, TRegionOp Op);
  void ClearClipRegion();
  void ExcludeClipRect(const TRect& R);
  void IntersectClipRect(const TRect& R);
  // The bounding box of the drawable area.
  TRect GetClipRect() const;

  // Lines: the end point is not drawn.
  void MoveTo(int32_t X, int32_t Y) { FPenPos = Point(X, Y); }
  void LineTo(int32_t X, int32_t Y);
  void Polyline(const TPoint* Points, int32_t Count);
  void PolyPolyline(const TPoint* Points, const int32_t* Counts, int32_t Contours);

  // Filled shapes: the brush fills, the pen outlines, both through the pen's mode. With a
  // one-pixel pen a shape covers Left..Right-1 and Top..Bottom-1; without a pen the fill covers
  // one pixel less in each direction.
  void Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  void Rectangle(const TRect& R) { Rectangle(R.Left, R.Top, R.Right, R.Bottom); }
  void RoundRect(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3);
  void Ellipse(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2);
  void Ellipse(const TRect& R) { Ellipse(R.Left, R.Top, R.Right, R.Bottom); }
  // Part of the ellipse's outline from the radial through (X3, Y3) to the one through (X4, Y4).
  void Arc(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3, int32_t X4,
           int32_t Y4);
  void Pie(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3, int32_t X4,
           int32_t Y4);
  void Chord(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t X3, int32_t Y3, int32_t X4,
             int32_t Y4);
  void Polygon(const TPoint* Points, int32_t Count);
  void PolyPolygon(const TPoint* Points, const int32_t* Counts, int32_t Contours);

  // Brush-only operations (copy mode, no pen): FillRect covers Left..Right-1 and Top..Bottom-1,
  // FrameRect a one-pixel border of that area.
  void FillRect(const TRect& R);
  void FrameRect(const TRect& R);
  void FillRegion(const TRegion& Region);
  // Inverts every pixel of the area.
  void InvertRect(const TRect& R);
  void InvertRegion(const TRegion& Region);
  // Combines the brush with the destination by a raster operation over the rectangle.
  void PatBlt(const TRect& R, TCopyMode Rop);

  // The colour of a pixel (palette colour for indexed formats); clNone outside the bitmap.
  TColor GetPixel(int32_t X, int32_t Y) const;
  void SetPixel(int32_t X, int32_t Y, TColor Color);

  // Block transfers through CopyMode, nearest pixel when stretching; a rectangle given right to
  // left or bottom to top mirrors. Source pixels are taken by colour (palette colour for
  // indexed sources).
  void Draw(int32_t X, int32_t Y, const TBitmap& Bitmap);
  void StretchDraw(const TRect& Dest, const TBitmap& Bitmap);
  void CopyRect(const TRect& Dest, const TCanvas& Source, const TRect& SourceRect);
  // The general transfer under a raster operation.
  void StretchBlt(const TRect& Dest, const TBitmap& Source, const TRect& SourceRect, TCopyMode Rop);

  // 3-D edges in the system colours; with bfAdjust R becomes the area inside the edge.
  void DrawEdge(TRect& R, uint32_t Edge, uint32_t Flags);

  // Text in Font, its top-left at (X, Y) under the default alignment; the pen position moves to
  // the end of the text.
  void TextOut(int32_t X, int32_t Y, const std::string& Text);
  // Text clipped to R; the background of R is filled when the background is opaque.
  void TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text);
  // Text laid out in R by Format (alignment, single line or lines broken at line feeds and, with
  // tfWordBreak, at spaces). With tfCalcRect nothing is drawn and R's right and bottom grow or
  // shrink to the text.
  void TextRect(TRect& R, const std::string& Text, TTextFormat Format);
  int32_t TextWidth(const std::string& Text);
  int32_t TextHeight(const std::string& Text);
  TSize TextExtent(const std::string& Text);
  // The general text call: reference point (X, Y) by TextAlign, optional cell advances Dx (one
  // per character), optional rectangle for etoOpaque and etoClipped.
  void ExtTextOut(int32_t X, int32_t Y, uint32_t Options, const TRect* R,
                  const std::u32string& Text, const int32_t* Dx);

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

  // How a region is painted (internal to the renderer).
  struct TPaint;

 private:
  friend class TBitmap;
  bool Ready() const;
  void Changed();
  void Changing();
  TRect Limit() const;
  TPaint PenPaint() const;
  TPaint BrushPaint(bool WithPenMode) const;
  TPaint BkPaint(bool WithPenMode) const;
  bool Opaque() const;
  TColor BkColorNow() const;
  void PaintRegion(const TRegion& Region, const TPaint& Paint, const TRect* ExtraClip = nullptr);
  // Strokes an open or closed polyline with the pen into On (and the gaps of a styled pen into
  // Off); wide pens give round caps and joins.
  void Stroke(const TPoint* Points, int32_t Count, bool Closed, TSpanCollector& On,
              TSpanCollector& Off, int64_t& DashPos) const;
  // The pixels within L of a wide pen along the points: round caps and joins.
  TRegion StrokeWide(const TPoint* Points, int32_t Count, bool Closed, int32_t Width,
                     const TRect& L) const;
  void FillAndOutline(const TRegion& Fill, const TRegion& Outline, const TRegion* Gaps);
  void DrawShape(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, int32_t Kind, int32_t CW,
                 int32_t CH, const TPoint* Radials);
  void DrawTextLine(int32_t X, int32_t Y, const std::u32string& Text, const int32_t* Dx,
                    uint32_t Align, uint32_t Options, const TRect* R);

  TBitmap* FBitmap;
  TPen FPen;
  TBrush FBrush;
  TFont FFont;
  TPoint FPenPos;
  TCopyMode FCopyMode = cmSrcCopy;
  TPolyFillMode FPolyFillMode = pfmAlternate;
  TBkMode FBkMode = bkAuto;
  TColor FBkColor = clWhite;
  uint32_t FTextAlign = taLeft | taTop;
  bool FArcClockwise = false;
  bool FHasClip = false;
  TRegion FClip;
};

}  // namespace quillo
