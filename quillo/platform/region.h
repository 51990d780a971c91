// TRegion: a set of pixels described by horizontal bands of spans, the clip regions of the
// canvas and the pixel sets its shapes are rasterised into.
#pragma once

#include <cstdint>
#include <vector>

#include "quillo/platform/types.h"

namespace quillo {

// How a polygon's interior is decided: alternate (even-odd) or winding (non-zero).
enum TPolyFillMode : uint8_t { pfmAlternate = 1, pfmWinding = 2 };

// How two regions combine.
enum TRegionOp : uint8_t { rgnAnd = 1, rgnOr = 2, rgnXor = 3, rgnDiff = 4, rgnCopy = 5 };

// A polygon vertex with fractional coordinates; a pixel's centre is at its integer position.
struct TPointF {
  double X = 0;
  double Y = 0;
};

class TRegionBuilder;

// A value type: copies are independent. Rows are split into bands of identical spans; every
// span is half-open [X0, X1), spans of a band are sorted and disjoint, bands are sorted by Top,
// disjoint, never empty, and two touching bands never hold the same spans.
class TRegion {
 public:
  struct TBand {
    int32_t Top;
    int32_t Bottom;  // exclusive
    uint32_t First;  // index of the band's first X in the coordinate array
    uint32_t Count;  // number of spans (pairs of X)
  };

  TRegion() = default;
  // The pixels Left..Right-1, Top..Bottom-1 (nothing for an empty rectangle).
  explicit TRegion(const TRect& R);

  // Pixels whose centres lie inside the polygons: on the left and top edges counts, on the right
  // and bottom edges does not. Several contours fill as one shape (holes with pfmAlternate,
  // unions of same-direction contours with pfmWinding). Counts gives the points per contour.
  // Limit, when given, bounds the work and the result (renderers pass their clip box).
  static TRegion FromPolygons(const TPointF* Points, const int32_t* Counts, int32_t Contours,
                              TPolyFillMode Mode, const TRect* Limit = nullptr);
  static TRegion FromPolygon(const TPoint* Points, int32_t Count, TPolyFillMode Mode,
                             const TRect* Limit = nullptr);
  // An ellipse filling the bounding box Left..Right-1, Top..Bottom-1 (its outline included).
  static TRegion FromEllipse(const TRect& R, const TRect* Limit = nullptr);
  // A rectangle Left..Right-1, Top..Bottom-1 with corners rounded by an ellipse of W x H.
  static TRegion FromRoundRect(const TRect& R, int32_t W, int32_t H, const TRect* Limit = nullptr);

  bool IsEmpty() const { return FBands.empty(); }
  // The smallest rectangle holding every pixel (empty for an empty region).
  TRect GetBounds() const;
  bool Contains(int32_t X, int32_t Y) const;
  // Pixel count (for tests and statistics).
  int64_t Area() const;
  void Offset(int32_t DX, int32_t DY);
  void Clear();

  // A op B. rgnCopy returns A.
  static TRegion Combine(const TRegion& A, const TRegion& B, TRegionOp Op);
  TRegion& operator&=(const TRegion& B) { return *this = Combine(*this, B, rgnAnd); }
  TRegion& operator|=(const TRegion& B) { return *this = Combine(*this, B, rgnOr); }
  TRegion& operator-=(const TRegion& B) { return *this = Combine(*this, B, rgnDiff); }
  TRegion& operator^=(const TRegion& B) { return *this = Combine(*this, B, rgnXor); }
  friend bool operator==(const TRegion& A, const TRegion& B) {
    return A.FBands.size() == B.FBands.size() && A.FX == B.FX && A.SameBands(B);
  }

  // Read access for renderers: the bands and their span coordinates.
  const std::vector<TBand>& Bands() const { return FBands; }
  const int32_t* SpanX(const TBand& B) const { return FX.data() + B.First; }
  // The band holding row Y, or nullptr. Hint is a band index to start from (kept by callers
  // walking rows downwards).
  const TBand* BandAt(int32_t Y, size_t& Hint) const;

  using TBuilder = TRegionBuilder;

 private:
  friend class TRegionBuilder;
  bool SameBands(const TRegion& B) const;
  std::vector<TBand> FBands;
  std::vector<int32_t> FX;
};

// Builds a region row by row, top to bottom; rows may be skipped, spans of one row must be
// sorted and disjoint.
class TRegionBuilder {
 public:
  void AddRow(int32_t Y, const int32_t* X, uint32_t Count) { AddBand(Y, Y + 1, X, Count); }
  void AddBand(int32_t Top, int32_t Bottom, const int32_t* X, uint32_t Count);
  TRegion Finish() { return std::move(FRegion); }

 private:
  TRegion FRegion;
};

// Collects pixels and spans in any order and turns them into a region: strokes are drawn into
// one so that overlapping pieces of a stroke paint each pixel once.
class TSpanCollector {
 public:
  void Add(int32_t Y, int32_t X0, int32_t X1);  // [X0, X1)
  void AddPixel(int32_t X, int32_t Y) { Add(Y, X, X + 1); }
  bool IsEmpty() const { return FSpans.empty(); }
  TRegion Finish();

 private:
  struct TSpan {
    int32_t Y, X0, X1;
  };
  std::vector<TSpan> FSpans;
};

}  // namespace quillo
