#include "quillo/platform/metafile.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>

#include "quillo/platform/detail/dib.h"
#include "quillo/platform/sysutils.h"

namespace quillo {

namespace {

// Little-endian reads that yield 0 beyond the end, so that a short record can never make the
// player read past its data.
inline uint32_t U8(const uint8_t* P, size_t N, size_t O) {
  return O < N ? P[O] : 0u;
}
inline uint32_t U16(const uint8_t* P, size_t N, size_t O) {
  return O + 2 <= N ? uint32_t(P[O] | (P[O + 1] << 8)) : 0u;
}
inline int32_t S16(const uint8_t* P, size_t N, size_t O) {
  return static_cast<int16_t>(U16(P, N, O));
}
inline uint32_t U32(const uint8_t* P, size_t N, size_t O) {
  return O + 4 <= N ? uint32_t(P[O]) | (uint32_t(P[O + 1]) << 8) | (uint32_t(P[O + 2]) << 16) |
                          (uint32_t(P[O + 3]) << 24)
                    : 0u;
}
inline int32_t S32(const uint8_t* P, size_t N, size_t O) {
  return static_cast<int32_t>(U32(P, N, O));
}
inline double F32(const uint8_t* P, size_t N, size_t O) {
  uint32_t V = U32(P, N, O);
  float F;
  std::memcpy(&F, &V, 4);
  return std::isfinite(F) ? F : 0.0;
}

// Code page 1252 for the bytes of 8-bit text records.
char32_t FromCp1252(uint8_t B) {
  static const char16_t High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return (B >= 0x80 && B < 0xA0) ? High[B - 0x80] : B;
}

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr uint32_t kEmfSignature = 0x464D4520u;  // " EMF"

// Function numbers of the 16-bit records.
enum class TWmfRecord : uint16_t {
  mrEof = 0x0000,
  mrSaveDC = 0x001E,
  mrRealizePalette = 0x0035,
  mrSetPalEntries = 0x0037,
  mrCreatePalette = 0x00F7,
  mrSetBkMode = 0x0102,
  mrSetMapMode = 0x0103,
  mrSetRop2 = 0x0104,
  mrSetRelAbs = 0x0105,
  mrSetPolyFillMode = 0x0106,
  mrSetStretchBltMode = 0x0107,
  mrSetTextCharExtra = 0x0108,
  mrRestoreDC = 0x0127,
  mrInvertRegion = 0x012A,
  mrPaintRegion = 0x012B,
  mrSelectClipRegion = 0x012C,
  mrSelectObject = 0x012D,
  mrSetTextAlign = 0x012E,
  mrResizePalette = 0x0139,
  mrDIBCreatePatternBrush = 0x0142,
  mrSetLayout = 0x0149,
  mrDeleteObject = 0x01F0,
  mrCreatePatternBrush = 0x01F9,
  mrSetBkColor = 0x0201,
  mrSetTextColor = 0x0209,
  mrSetTextJustification = 0x020A,
  mrSetWindowOrg = 0x020B,
  mrSetWindowExt = 0x020C,
  mrSetViewportOrg = 0x020D,
  mrSetViewportExt = 0x020E,
  mrOffsetWindowOrg = 0x020F,
  mrOffsetViewportOrg = 0x0211,
  mrLineTo = 0x0213,
  mrMoveTo = 0x0214,
  mrOffsetClipRgn = 0x0220,
  mrFillRegion = 0x0228,
  mrSetMapperFlags = 0x0231,
  mrSelectPalette = 0x0234,
  mrCreatePenIndirect = 0x02FA,
  mrCreateFontIndirect = 0x02FB,
  mrCreateBrushIndirect = 0x02FC,
  mrPolygon = 0x0324,
  mrPolyline = 0x0325,
  mrScaleWindowExt = 0x0410,
  mrScaleViewportExt = 0x0412,
  mrExcludeClipRect = 0x0415,
  mrIntersectClipRect = 0x0416,
  mrEllipse = 0x0418,
  mrFloodFill = 0x0419,
  mrRectangle = 0x041B,
  mrSetPixel = 0x041F,
  mrFrameRegion = 0x0429,
  mrAnimatePalette = 0x0436,
  mrTextOut = 0x0521,
  mrPolyPolygon = 0x0538,
  mrExtFloodFill = 0x0548,
  mrRoundRect = 0x061C,
  mrPatBlt = 0x061D,
  mrEscape = 0x0626,
  mrCreateRegion = 0x06FF,
  mrArc = 0x0817,
  mrPie = 0x081A,
  mrChord = 0x0830,
  mrBitBlt = 0x0922,
  mrDIBBitBlt = 0x0940,
  mrExtTextOut = 0x0A32,
  mrStretchBlt = 0x0B23,
  mrDIBStretchBlt = 0x0B41,
  mrSetDIBToDev = 0x0D33,
  mrStretchDIB = 0x0F43,
};

// Types of the enhanced records.
enum class TEmfRecord : uint32_t {
  emrHeader = 1,
  emrPolyBezier = 2,
  emrPolygon = 3,
  emrPolyline = 4,
  emrPolyBezierTo = 5,
  emrPolylineTo = 6,
  emrPolyPolyline = 7,
  emrPolyPolygon = 8,
  emrSetWindowExtEx = 9,
  emrSetWindowOrgEx = 10,
  emrSetViewportExtEx = 11,
  emrSetViewportOrgEx = 12,
  emrSetBrushOrgEx = 13,
  emrEof = 14,
  emrSetPixelV = 15,
  emrSetMapperFlags = 16,
  emrSetMapMode = 17,
  emrSetBkMode = 18,
  emrSetPolyFillMode = 19,
  emrSetRop2 = 20,
  emrSetStretchBltMode = 21,
  emrSetTextAlign = 22,
  emrSetColorAdjustment = 23,
  emrSetTextColor = 24,
  emrSetBkColor = 25,
  emrOffsetClipRgn = 26,
  emrMoveToEx = 27,
  emrSetMetaRgn = 28,
  emrExcludeClipRect = 29,
  emrIntersectClipRect = 30,
  emrScaleViewportExtEx = 31,
  emrScaleWindowExtEx = 32,
  emrSaveDC = 33,
  emrRestoreDC = 34,
  emrSetWorldTransform = 35,
  emrModifyWorldTransform = 36,
  emrSelectObject = 37,
  emrCreatePen = 38,
  emrCreateBrushIndirect = 39,
  emrDeleteObject = 40,
  emrAngleArc = 41,
  emrEllipse = 42,
  emrRectangle = 43,
  emrRoundRect = 44,
  emrArc = 45,
  emrChord = 46,
  emrPie = 47,
  emrSelectPalette = 48,
  emrCreatePalette = 49,
  emrSetPaletteEntries = 50,
  emrResizePalette = 51,
  emrRealizePalette = 52,
  emrExtFloodFill = 53,
  emrLineTo = 54,
  emrArcTo = 55,
  emrPolyDraw = 56,
  emrSetArcDirection = 57,
  emrSetMiterLimit = 58,
  emrBeginPath = 59,
  emrEndPath = 60,
  emrCloseFigure = 61,
  emrFillPath = 62,
  emrStrokeAndFillPath = 63,
  emrStrokePath = 64,
  emrFlattenPath = 65,
  emrWidenPath = 66,
  emrSelectClipPath = 67,
  emrAbortPath = 68,
  emrGdiComment = 70,
  emrFillRgn = 71,
  emrFrameRgn = 72,
  emrInvertRgn = 73,
  emrPaintRgn = 74,
  emrExtSelectClipRgn = 75,
  emrBitBlt = 76,
  emrStretchBlt = 77,
  emrMaskBlt = 78,
  emrPlgBlt = 79,
  emrSetDIBitsToDevice = 80,
  emrStretchDIBits = 81,
  emrExtCreateFontIndirectW = 82,
  emrExtTextOutA = 83,
  emrExtTextOutW = 84,
  emrPolyBezier16 = 85,
  emrPolygon16 = 86,
  emrPolyline16 = 87,
  emrPolyBezierTo16 = 88,
  emrPolylineTo16 = 89,
  emrPolyPolyline16 = 90,
  emrPolyPolygon16 = 91,
  emrPolyDraw16 = 92,
  emrCreateMonoBrush = 93,
  emrCreateDIBPatternBrushPt = 94,
  emrExtCreatePen = 95,
  emrPolyTextOutA = 96,
  emrPolyTextOutW = 97,
  emrSetICMMode = 98,
  emrCreateColorSpace = 99,
  emrSetColorSpace = 100,
  emrDeleteColorSpace = 101,
  emrGLSRecord = 102,
  emrGLSBoundedRecord = 103,
  emrPixelFormat = 104,
  emrDrawEscape = 105,
  emrExtEscape = 106,
  emrSmallTextOut = 108,
  emrForceUFIMapping = 109,
  emrNamedEscape = 110,
  emrColorCorrectPalette = 111,
  emrSetICMProfileA = 112,
  emrSetICMProfileW = 113,
  emrAlphaBlend = 114,
  emrSetLayout = 115,
  emrTransparentBlt = 116,
  emrGradientFill = 118,
  emrSetLinkedUFIs = 119,
  emrSetTextJustification = 120,
  emrColorMatchToTargetW = 121,
  emrCreateColorSpaceW = 122,
};

// A record of the 16-bit format: its function and its bytes (size in words, function,
// parameters).
struct TWmfRec {
  TWmfRecord Fn;
  const uint8_t* R;
  size_t RN;
  // Parameter I: the 16-bit words after the function number.
  int32_t W(size_t I) const { return S16(R, RN, 6 + 2 * I); }
  uint32_t UW(size_t I) const { return U16(R, RN, 6 + 2 * I); }
  TColor Color(size_t I) const { return static_cast<TColor>(U32(R, RN, 6 + 2 * I) & 0xFFFFFF); }
};

// An enhanced record: its type and its bytes (type, size, fields), read by byte offset.
struct TEmfRec {
  TEmfRecord Type;
  const uint8_t* R;
  size_t RN;
  int32_t I32(size_t Off) const { return S32(R, RN, Off); }
  uint32_t D32(size_t Off) const { return U32(R, RN, Off); }
  double Flt(size_t Off) const { return F32(R, RN, Off); }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Loading

void TMetafile::Clear() {
  FData.clear();
  FEnhanced = FPlaceable = false;
  FWidth = FHeight = 0;
  FBoxLeft = FBoxTop = FBoxRight = FBoxBottom = 0;
  FRecordsStart = 0;
  FHandles = 0;
}

void TMetafile::LoadFromStream(TStream& Stream) {
  int64_t N = Stream.Remaining();
  // A metafile lives in memory whole; refuse absurd sizes before allocating.
  if (N < 0 || N > (int64_t{1} << 31)) throw EInvalidGraphic("Metafile too large");
  std::vector<uint8_t> Bytes(static_cast<size_t>(N));
  if (N) Stream.ReadBuffer(Bytes.data(), N);
  LoadFromBytes(Bytes.data(), Bytes.size());
}

void TMetafile::LoadFromFile(const std::string& FileName) {
  TFileStream S(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(S);
}

void TMetafile::LoadFromBytes(const uint8_t* Data, size_t Size) {
  Clear();
  const uint8_t* P = Data;
  size_t N = Size;
  if (N >= 44 && U32(P, N, 0) == 1 && U32(P, N, 40) == kEmfSignature) {
    FEnhanced = true;
    FRecordsStart = 0;
    int32_t BL = S32(P, N, 8), BT = S32(P, N, 12), BR = S32(P, N, 16), BB = S32(P, N, 20);
    int32_t FL = S32(P, N, 24), FT = S32(P, N, 28), FR = S32(P, N, 32), FB = S32(P, N, 36);
    FHandles = static_cast<int32_t>(U16(P, N, 56));
    int32_t DevX = S32(P, N, 72), DevY = S32(P, N, 76), MMX = S32(P, N, 80), MMY = S32(P, N, 84);
    if (DevX > 0 && DevY > 0 && MMX > 0 && MMY > 0) {
      FDevPerMMX = double(DevX) / MMX;
      FDevPerMMY = double(DevY) / MMY;
    }
    if (FR > FL && FB > FT) {
      FWidth = QLRound32((double(FR) - FL) * 96.0 / 2540.0);
      FHeight = QLRound32((double(FB) - FT) * 96.0 / 2540.0);
      FBoxLeft = FL / 100.0 * FDevPerMMX;
      FBoxTop = FT / 100.0 * FDevPerMMY;
      FBoxRight = FR / 100.0 * FDevPerMMX;
      FBoxBottom = FB / 100.0 * FDevPerMMY;
    } else if (BR >= BL && BB >= BT) {
      // No frame: the bounds in device units, inclusive.
      FWidth = QLRound32((double(BR) - BL + 1) * 96.0 / 25.4 / FDevPerMMX);
      FHeight = QLRound32((double(BB) - BT + 1) * 96.0 / 25.4 / FDevPerMMY);
      FBoxLeft = BL;
      FBoxTop = BT;
      FBoxRight = double(BR) + 1;
      FBoxBottom = double(BB) + 1;
    }
  } else {
    size_t H = 0;
    if (N >= 22 && U32(P, N, 0) == kPlaceableKey) {
      FPlaceable = true;
      int32_t L = S16(P, N, 6), T = S16(P, N, 8), R = S16(P, N, 10), B = S16(P, N, 12);
      int32_t Inch = static_cast<int32_t>(U16(P, N, 14));
      if (Inch == 0) Inch = 1440;
      FBoxLeft = std::min(L, R);
      FBoxRight = std::max(L, R);
      FBoxTop = std::min(T, B);
      FBoxBottom = std::max(T, B);
      FWidth = QLRound32((FBoxRight - FBoxLeft) * 96.0 / Inch);
      FHeight = QLRound32((FBoxBottom - FBoxTop) * 96.0 / Inch);
      H = 22;
    }
    uint32_t Type = U16(P, N, H), HeaderWords = U16(P, N, H + 2);
    if (N < H + 18 || (Type != 1 && Type != 2) || HeaderWords != 9)
      throw EInvalidGraphic("Not a metafile");
    FHandles = static_cast<int32_t>(U16(P, N, H + 10));
    FRecordsStart = H + 18;
    if (!FPlaceable) {
      // A plain file tells its size only through the window it sets up.
      bool HaveExt = false;
      size_t O = FRecordsStart;
      while (O + 6 <= N) {
        uint64_t Words = U32(P, N, O);
        const auto Fn = static_cast<TWmfRecord>(U16(P, N, O + 4));
        if (Words < 3 || O + Words * 2 > N || Fn == TWmfRecord::mrEof) break;
        if (Fn == TWmfRecord::mrSetWindowOrg) {
          FBoxLeft = S16(P, N, O + 8);
          FBoxTop = S16(P, N, O + 6);
        } else if (Fn == TWmfRecord::mrSetWindowExt && !HaveExt) {
          FBoxRight = std::abs(S16(P, N, O + 8));
          FBoxBottom = std::abs(S16(P, N, O + 6));
          HaveExt = true;
        }
        O += static_cast<size_t>(Words * 2);
      }
      if (HaveExt) {
        FWidth = static_cast<int32_t>(FBoxRight);
        FHeight = static_cast<int32_t>(FBoxBottom);
        FBoxRight += FBoxLeft;
        FBoxBottom += FBoxTop;
      }
    }
  }
  FData.assign(Data, Data + Size);
}

// ---------------------------------------------------------------------------------------------
// Playing

namespace {

struct TXForm {
  // X' = A X + B Y + C, Y' = D X + E Y + F
  double A = 1, B = 0, C = 0, D = 0, E = 1, F = 0;
  TPointF Apply(double X, double Y) const { return TPointF{A * X + B * Y + C, D * X + E * Y + F}; }
  // This transform followed by Next.
  TXForm Then(const TXForm& N) const {
    return TXForm{N.A * A + N.B * D, N.A * B + N.B * E, N.A * C + N.B * F + N.C,
                  N.D * A + N.E * D, N.D * B + N.E * E, N.D * C + N.E * F + N.F};
  }
  double Det() const { return A * E - B * D; }
  bool Rotated() const { return std::abs(B) > 1e-9 || std::abs(D) > 1e-9; }
};

struct TLogPen {
  int32_t Style = 0;  // PS_*
  double Width = 0;   // logical units; 0 is one pixel
  TColor Color = 0;
  bool Cosmetic = true;
  // Dash and gap lengths of a styled geometric pen, in logical units (empty: not dashed).
  std::vector<double> Dash;
  uint32_t EndCap = 0;  // 0 round, 0x100 square, 0x200 flat
};

struct TLogBrush {
  int32_t Style = 0;  // BS_*
  TColor Color = 0xFFFFFF;
  int32_t Hatch = 0;
  std::shared_ptr<const TBitmap> Pattern;
};

struct TLogFont {
  double Height = 0;
  int32_t Escapement = 0;
  int32_t Weight = 400;
  bool Italic = false, Underline = false, StrikeOut = false;
  uint8_t Quality = 0;
  std::string Face;
};

enum TObjKind : uint8_t { okNone, okPen, okBrush, okFont, okRegion, okOther };

struct TObj {
  TObjKind Kind = okNone;
  TLogPen Pen;
  TLogBrush Brush;
  TLogFont Font;
  TRegion Region;  // canvas pixels
};

struct TDC {
  int32_t MapMode = 1;
  double WOX = 0, WOY = 0, WEX = 1, WEY = 1, VOX = 0, VOY = 0, VEX = 1, VEY = 1;
  TXForm World;
  TLogPen Pen;
  TLogBrush Brush;
  TLogFont Font;
  TColor TextColor = 0;
  TColor BkColor = 0xFFFFFF;
  int32_t BkMode = 2;
  int32_t Rop2 = 13;
  int32_t PolyFill = 1;
  uint32_t TextAlign = 0;
  bool ArcCW = false;
  bool HasClip = false;
  TRegion Clip;  // canvas pixels
  TPointF Cur;   // logical
};

constexpr TPenMode kModeOfRop2[17] = {
    pmCopy,        pmBlack, pmNotMerge,    pmMaskNotPen, pmNotCopy, pmMaskPenNot,
    pmNot,         pmXor,   pmNotMask,     pmMask,       pmNotXor,  pmNop,
    pmMergeNotPen, pmCopy,  pmMergePenNot, pmMerge,      pmWhite};

// Upper bound on the object table: a file cannot make the player reserve more.
constexpr size_t kMaxObjects = 65536;

class TPlayer {
 public:
  TPlayer(TCanvas& C, bool Enhanced, double DevPerMMX, double DevPerMMY)
      : FC(C), FEnhanced(Enhanced), FDevPerMMX(DevPerMMX), FDevPerMMY(DevPerMMY) {
    FDC.Pen.Color = 0;
    FDC.Brush.Color = 0xFFFFFF;
    FBaseHasClip = C.HasClipRegion();
    FBaseClip = C.GetClipRegion();
    TBitmap* B = C.GetBitmap();
    FSurface = B ? Rect(0, 0, B->GetWidth(), B->GetHeight()) : TRect{};
  }

  TXForm FOuter;
  TDC FDC;

  void PlayWMF(const uint8_t* P, size_t N, size_t Start, int32_t Handles);
  void PlayEMF(const uint8_t* P, size_t N, int32_t Handles);

 private:
  // The players of the record families, tried in turn by PlayWMF and PlayEMF: each plays the
  // records of its family and returns false for the others.
  bool WmfState(const TWmfRec& Rec);
  bool WmfMapping(const TWmfRec& Rec);
  bool WmfDraw(const TWmfRec& Rec);
  bool WmfText(const TWmfRec& Rec);
  bool WmfObjects(const TWmfRec& Rec);
  bool WmfRegions(const TWmfRec& Rec);
  bool WmfClip(const TWmfRec& Rec);
  bool WmfBitmaps(const TWmfRec& Rec);
  void WmfDIBBlit(const TWmfRec& Rec);
  bool EmfMapping(const TEmfRec& Rec);
  bool EmfState(const TEmfRec& Rec);
  bool EmfDraw(const TEmfRec& Rec);
  bool EmfPoly(const TEmfRec& Rec);
  bool EmfPath(const TEmfRec& Rec);
  bool EmfObjects(const TEmfRec& Rec);
  bool EmfPens(const TEmfRec& Rec);
  bool EmfBrushes(const TEmfRec& Rec);
  bool EmfFonts(const TEmfRec& Rec);
  bool EmfText(const TEmfRec& Rec);
  bool EmfClip(const TEmfRec& Rec);
  bool EmfRegions(const TEmfRec& Rec);
  bool EmfBitmaps(const TEmfRec& Rec);

 private:
  // ---- transforms
  TXForm PageToDevice() const {
    const TDC& D = FDC;
    double SX = 1, SY = 1;
    switch (D.MapMode) {
      case 1:
        break;
      case 2:
        SX = FDevPerMMX / 10;
        SY = -FDevPerMMY / 10;
        break;
      case 3:
        SX = FDevPerMMX / 100;
        SY = -FDevPerMMY / 100;
        break;
      case 4:
        SX = FDevPerMMX * 0.254;
        SY = -FDevPerMMY * 0.254;
        break;
      case 5:
        SX = FDevPerMMX * 0.0254;
        SY = -FDevPerMMY * 0.0254;
        break;
      case 6:
        SX = FDevPerMMX * 25.4 / 1440;
        SY = -FDevPerMMY * 25.4 / 1440;
        break;
      default: {
        SX = D.WEX != 0 ? D.VEX / D.WEX : 1;
        SY = D.WEY != 0 ? D.VEY / D.WEY : 1;
        if (D.MapMode == 7) {
          // Isotropic: one scale for both axes, the smaller, signs kept.
          double M = std::min(std::abs(SX), std::abs(SY));
          SX = SX < 0 ? -M : M;
          SY = SY < 0 ? -M : M;
        }
        break;
      }
    }
    return TXForm{SX, 0, D.VOX - D.WOX * SX, 0, SY, D.VOY - D.WOY * SY};
  }
  TXForm Full() const { return FDC.World.Then(PageToDevice()).Then(FOuter); }
  TPointF Dev(double X, double Y) const { return Full().Apply(X, Y); }
  static TPoint Round(const TPointF& P) {
    return Point(QLRound32(std::clamp(P.X, -1e9, 1e9)), QLRound32(std::clamp(P.Y, -1e9, 1e9)));
  }
  double ScaleX() const {
    TXForm M = Full();
    return std::hypot(M.A, M.D);
  }
  double ScaleY() const {
    TXForm M = Full();
    return std::hypot(M.B, M.E);
  }
  // An axis-aligned rectangle of the device from logical corners (canvas normalises order).
  TRect DevRect(double L, double T, double R, double B) const {
    TPoint P = Round(Dev(L, T)), Q = Round(Dev(R, B));
    return Rect(P.X, P.Y, Q.X, Q.Y);
  }
  TRect OuterRect(double L, double T, double R, double B) const {
    TPoint P = Round(FOuter.Apply(L, T)), Q = Round(FOuter.Apply(R, B));
    return Rect(std::min(P.X, Q.X), std::min(P.Y, Q.Y), std::max(P.X, Q.X), std::max(P.Y, Q.Y));
  }

  // ---- canvas state
  void RealizePen() {
    TPen& P = FC.Pen();
    const TLogPen& L = FDC.Pen;
    int32_t Style = L.Style & 0xF;
    static const TPenStyle Map[9] = {psSolid, psDash,        psDot,   psDashDot, psDashDotDot,
                                     psClear, psInsideFrame, psSolid, psSolid};
    P.SetStyle(Style <= 8 ? Map[Style] : psSolid);
    P.SetColor(L.Color & 0xFFFFFF);
    double W = L.Cosmetic ? 1 : L.Width * std::sqrt(std::abs(Full().Det()));
    P.SetWidth(std::clamp(static_cast<int32_t>(QLRound(std::clamp(W, 0.0, 1e6))), 1, 4096));
    P.SetMode(kModeOfRop2[FDC.Rop2 >= 1 && FDC.Rop2 <= 16 ? FDC.Rop2 : 13]);
  }
  void RealizeBrush(const TLogBrush& L) {
    TBrush& B = FC.Brush();
    B.SetPattern(nullptr);
    B.SetColor(L.Color & 0xFFFFFF);
    switch (L.Style) {
      case 0:
        B.SetStyle(bsSolid);
        break;
      case 2:
        B.SetStyle(static_cast<TBrushStyle>(bsHorizontal + std::clamp(L.Hatch, 0, 5)));
        break;
      case 3:
      case 5:
      case 6:
        B.SetStyle(bsSolid);
        if (L.Pattern) B.SetPattern(L.Pattern);
        break;
      default:
        B.SetStyle(bsClear);
        break;
    }
  }
  void Realize() {
    RealizePen();
    RealizeBrush(FDC.Brush);
    FC.SetBkMode(FDC.BkMode == 1 ? bkTransparent : bkOpaque);
    FC.SetBkColor(FDC.BkColor & 0xFFFFFF);
    FC.SetPolyFillMode(FDC.PolyFill == 2 ? pfmWinding : pfmAlternate);
    FC.SetArcClockwise(FDC.ArcCW != (Full().Det() < 0));
    if (FClipDirty) {
      if (FDC.HasClip && FBaseHasClip)
        FC.SetClipRegion(TRegion::Combine(FBaseClip, FDC.Clip, rgnAnd));
      else if (FDC.HasClip)
        FC.SetClipRegion(FDC.Clip);
      else if (FBaseHasClip)
        FC.SetClipRegion(FBaseClip);
      else
        FC.ClearClipRegion();
      FClipDirty = false;
    }
  }
  void RealizeFont() {
    TFont& F = FC.Font();
    const TLogFont& L = FDC.Font;
    F.SetName(L.Face.empty() ? std::string("sans-serif") : L.Face);
    double H = L.Height * ScaleY();
    int32_t HI = static_cast<int32_t>(QLRound(std::clamp(H, -4000.0, 4000.0)));
    if (HI == 0 && L.Height != 0) HI = L.Height < 0 ? -1 : 1;
    F.SetHeight(HI);
    F.SetWeight(L.Weight);
    F.SetStyle(
        static_cast<TFontStyles>((L.Italic ? fsItalic : 0) | (L.Underline ? fsUnderline : 0) |
                                 (L.StrikeOut ? fsStrikeOut : 0) | (L.Weight >= 600 ? fsBold : 0)));
    TXForm M = Full();
    double Rot = std::atan2(-M.D, M.A) * 1800.0 / std::numbers::pi;
    int32_t Or = static_cast<int32_t>(QLRound(L.Escapement + (M.Det() < 0 ? -Rot : Rot)));
    Or %= 3600;
    if (Or < 0) Or += 3600;
    F.SetOrientation(Or);
    F.SetQuality(L.Quality == 3 ? fqNonAntialiased : L.Quality == 4 ? fqAntialiased : fqDefault);
    F.SetColor(FDC.TextColor & 0xFFFFFF);
    FC.SetTextAlign(FDC.TextAlign & (taRight | taCenter | taBottom | taBaseline));
  }

  void SetClip(const TRegion& R, TRegionOp Op) {
    if (Op == rgnCopy) {
      FDC.Clip = R;
      FDC.HasClip = true;
    } else {
      TRegion Base = FDC.HasClip ? FDC.Clip : TRegion(FSurface);
      FDC.Clip = TRegion::Combine(Base, R, Op);
      FDC.HasClip = true;
    }
    FClipDirty = true;
  }

  // ---- objects
  // Objects live behind pointers so that a file naming a high index costs a pointer per
  // slot, not a whole object.
  TObj* Object(uint32_t I) { return I < FObjects.size() ? FObjects[I].get() : nullptr; }
  void StoreWMF(TObj O) {
    // The 16-bit format gives a new object the lowest free index.
    for (auto& Slot : FObjects)
      if (!Slot) {
        Slot = std::make_unique<TObj>(std::move(O));
        return;
      }
    if (FObjects.size() < kMaxObjects) FObjects.push_back(std::make_unique<TObj>(std::move(O)));
  }
  void StoreEMF(uint32_t I, TObj O) {
    if (I >= kMaxObjects) return;
    if (I >= FObjects.size()) FObjects.resize(I + 1);
    FObjects[I] = std::make_unique<TObj>(std::move(O));
  }
  void Select(uint32_t I) {
    if (FEnhanced && (I & 0x80000000u)) {
      uint32_t S = I & 0x7FFFFFFFu;
      static const TColor Greys[5] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0x000000};
      if (S <= 4) {
        FDC.Brush = TLogBrush{0, Greys[S], 0, nullptr};
      } else if (S == 5) {
        FDC.Brush = TLogBrush{1, 0, 0, nullptr};
      } else if (S == 6 || S == 7) {
        FDC.Pen = TLogPen{0, 0, S == 6 ? 0xFFFFFF : 0, true, {}};
      } else if (S == 8) {
        FDC.Pen = TLogPen{5, 0, 0, true, {}};
      } else if (S >= 10 && S <= 17) {
        FDC.Font = TLogFont{};
      } else if (S == 18) {
        FDC.Brush = TLogBrush{0, 0xFFFFFF, 0, nullptr};
      } else if (S == 19) {
        FDC.Pen = TLogPen{0, 0, 0, true, {}};
      }
      return;
    }
    TObj* O = Object(I);
    if (!O) return;
    switch (O->Kind) {
      case okPen:
        FDC.Pen = O->Pen;
        break;
      case okBrush:
        FDC.Brush = O->Brush;
        break;
      case okFont:
        FDC.Font = O->Font;
        break;
      case okRegion:
        SetClip(O->Region, rgnCopy);
        break;
      default:
        break;
    }
  }
  void Delete(uint32_t I) {
    if (I < FObjects.size()) FObjects[I].reset();
  }

  // ---- paths and drawing
  void PathMove(const TPointF& D) { FPath.push_back({{D}, false}); }
  void PathLine(const TPointF& D) {
    if (FPath.empty() || FPath.back().Closed) FPath.push_back({{Dev(FDC.Cur.X, FDC.Cur.Y)}, false});
    FPath.back().Pts.push_back(D);
  }
  void PathFigure(std::vector<TPointF> Pts, bool Closed) {
    if (!Pts.empty()) FPath.push_back({std::move(Pts), Closed});
  }

  static std::vector<TPoint> ToInt(const std::vector<TPointF>& P) {
    std::vector<TPoint> R(P.size());
    for (size_t I = 0; I < P.size(); ++I) R[I] = Round(P[I]);
    return R;
  }
  std::vector<TPointF> DevPts(const std::vector<TPointF>& L) const {
    TXForm M = Full();
    std::vector<TPointF> R(L.size());
    for (size_t I = 0; I < L.size(); ++I) R[I] = M.Apply(L[I].X, L[I].Y);
    return R;
  }

  void Polyline(const std::vector<TPointF>& L) {
    if (L.empty()) return;
    if (FInPath) {
      PathFigure(DevPts(L), false);
      return;
    }
    Realize();
    if (Dashed()) {
      StrokeDashed(DevPts(L), false);
      return;
    }
    auto P = ToInt(DevPts(L));
    FC.Polyline(P.data(), static_cast<int32_t>(P.size()));
  }
  void PolyPolygon(const std::vector<std::vector<TPointF>>& Contours) {
    if (FInPath) {
      for (const auto& C : Contours) PathFigure(DevPts(C), true);
      return;
    }
    Realize();
    std::vector<TPoint> All;
    std::vector<int32_t> Counts;
    for (const auto& C : Contours) {
      auto P = ToInt(DevPts(C));
      All.insert(All.end(), P.begin(), P.end());
      Counts.push_back(static_cast<int32_t>(P.size()));
    }
    if (Dashed()) {
      FC.Pen().SetStyle(psClear);
      FC.PolyPolygon(All.data(), Counts.data(), static_cast<int32_t>(Counts.size()));
      RealizePen();
      for (const auto& C : Contours) StrokeDashed(DevPts(C), true);
      return;
    }
    FC.PolyPolygon(All.data(), Counts.data(), static_cast<int32_t>(Counts.size()));
  }
  // Points of an elliptic arc in logical units, from angle A0 sweeping Sweep (radians,
  // counterclockwise with y up).
  static void ArcPoints(std::vector<TPointF>& Out, double CX, double CY, double RX, double RY,
                        double A0, double Sweep) {
    int32_t N =
        std::clamp(static_cast<int32_t>(std::clamp(
                       std::abs(Sweep) * std::max(std::abs(RX), std::abs(RY)) / 4, 0.0, 256.0)),
                   8, 256);
    for (int32_t I = 0; I <= N; ++I) {
      double A = A0 + Sweep * I / N;
      Out.push_back(TPointF{CX + RX * std::cos(A), CY - RY * std::sin(A)});
    }
  }
  void Shape(int32_t Kind, double L, double T, double R, double B, double CW, double CH,
             const TPointF* Radials) {
    // Kinds: 0 rectangle, 1 ellipse, 2 round rectangle, 3 arc, 4 pie, 5 chord.
    TXForm M = Full();
    if (!FInPath && !M.Rotated()) {
      Realize();
      TRect D = DevRect(L, T, R, B);
      switch (Kind) {
        case 0:
          FC.Rectangle(D);
          return;
        case 1:
          FC.Ellipse(D);
          return;
        case 2:
          FC.RoundRect(D.Left, D.Top, D.Right, D.Bottom,
                       QLRound32(std::clamp(CW * std::abs(M.A), -1e8, 1e8)),
                       QLRound32(std::clamp(CH * std::abs(M.E), -1e8, 1e8)));
          return;
        default: {
          TPoint P = Round(Dev(Radials[0].X, Radials[0].Y)),
                 Q = Round(Dev(Radials[1].X, Radials[1].Y));
          if (Kind == 3)
            FC.Arc(D.Left, D.Top, D.Right, D.Bottom, P.X, P.Y, Q.X, Q.Y);
          else if (Kind == 4)
            FC.Pie(D.Left, D.Top, D.Right, D.Bottom, P.X, P.Y, Q.X, Q.Y);
          else
            FC.Chord(D.Left, D.Top, D.Right, D.Bottom, P.X, P.Y, Q.X, Q.Y);
          return;
        }
      }
    }
    // Rotated, sheared or recorded into a path: as polygons in logical units.
    std::vector<TPointF> Pts;
    double CX = (L + R) / 2, CY = (T + B) / 2, RX = (R - L) / 2, RY = (B - T) / 2;
    if (Kind == 0) {
      Pts = {{L, T}, {R, T}, {R, B}, {L, B}};
    } else if (Kind == 1 || Kind == 2) {
      ArcPoints(Pts, CX, CY, RX, RY, 0, 2 * std::numbers::pi);
      Pts.pop_back();
    } else {
      double A0 = std::atan2(-(Radials[0].Y - CY), Radials[0].X - CX);
      double A1 = std::atan2(-(Radials[1].Y - CY), Radials[1].X - CX);
      double Sweep = std::fmod(A1 - A0 + 4 * std::numbers::pi, 2 * std::numbers::pi);
      if (Sweep < 1e-12) Sweep = 2 * std::numbers::pi;
      if (FDC.ArcCW) Sweep -= 2 * std::numbers::pi;
      ArcPoints(Pts, CX, CY, RX, RY, A0, Sweep);
      if (Kind == 3) {
        Polyline(Pts);
        return;
      }
      if (Kind == 4) Pts.push_back(TPointF{CX, CY});
    }
    PolyPolygon({Pts});
  }

  // Strokes device points with the geometric dash pattern of the pen, each dash as a solid
  // wide polyline.
  void StrokeDashed(const std::vector<TPointF>& Dev, bool Closed) {
    double S = std::sqrt(std::abs(Full().Det()));
    std::vector<double> Pat;
    for (double V : FDC.Pen.Dash) Pat.push_back(std::max(V * S, 1.0));
    std::vector<TPointF> Pts = Dev;
    if (Closed && Pts.size() > 1) Pts.push_back(Pts.front());
    size_t Idx = 0;
    double Left = Pat[0];
    std::vector<TPoint> Piece;
    int32_t Pieces = 0;
    // Round caps come with the canvas's wide lines; square and flat caps are drawn as quads,
    // square ones reaching half the width beyond each end.
    const bool Quads = FDC.Pen.EndCap != 0;
    const double HalfW = FC.Pen().GetWidth() / 2.0, Ext = FDC.Pen.EndCap == 0x100 ? HalfW : 0;
    std::vector<TPoint> QuadPts;
    std::vector<int32_t> QuadCounts;
    auto Emit = [&] {
      if (Piece.size() > 1 && Pieces < 100000) {
        ++Pieces;
        if (!Quads) {
          FC.Polyline(Piece.data(), static_cast<int32_t>(Piece.size()));
        } else {
          for (size_t K = 0; K + 1 < Piece.size(); ++K) {
            double AX = Piece[K].X, AY = Piece[K].Y, BX = Piece[K + 1].X, BY = Piece[K + 1].Y;
            double L = std::hypot(BX - AX, BY - AY);
            if (L == 0) continue;
            double UX = (BX - AX) / L, UY = (BY - AY) / L, NX = -UY * HalfW, NY = UX * HalfW;
            double E0 = K == 0 ? Ext : 0, E1 = K + 2 == Piece.size() ? Ext : 0;
            AX -= UX * E0;
            AY -= UY * E0;
            BX += UX * E1;
            BY += UY * E1;
            for (TPointF Q : {TPointF{AX + NX, AY + NY}, TPointF{BX + NX, BY + NY},
                              TPointF{BX - NX, BY - NY}, TPointF{AX - NX, AY - NY}})
              QuadPts.push_back(Round(Q));
            QuadCounts.push_back(4);
          }
        }
      }
      Piece.clear();
    };
    // Dashes are walked only where they can be seen (the canvas's clip box grown by the pen);
    // elsewhere the pattern's phase is advanced by arithmetic.
    double Period = 0;
    for (double V : Pat) Period += V;
    TRect Box = FC.GetClipRect();
    double Grow = HalfW + 2;
    double BX0 = Box.Left - Grow, BY0 = Box.Top - Grow, BX1 = Box.Right + Grow,
           BY1 = Box.Bottom + Grow;
    double Phase = 0;
    auto Locate = [&](double Ph) {
      Idx = 0;
      while (Ph >= Pat[Idx] && Idx + 1 < Pat.size()) {
        Ph -= Pat[Idx];
        ++Idx;
      }
      Left = std::max(Pat[Idx] - Ph, 1e-9);
    };
    for (size_t I = 0; I + 1 < Pts.size(); ++I) {
      TPointF A = Pts[I], B = Pts[I + 1];
      double Len = std::hypot(B.X - A.X, B.Y - A.Y);
      if (!(Len < 1e12)) return;
      if (Len == 0) continue;
      // The visible part [T0, T1] of the segment (Liang-Barsky).
      double T0 = 0, T1 = 1, DX = B.X - A.X, DY = B.Y - A.Y;
      auto Clip = [&](double P, double Q) {
        if (P == 0) return Q >= 0;
        double R = Q / P;
        if (P < 0) {
          if (R > T1) return false;
          T0 = std::max(T0, R);
        } else {
          if (R < T0) return false;
          T1 = std::min(T1, R);
        }
        return true;
      };
      bool Visible = Clip(-DX, A.X - BX0) && Clip(DX, BX1 - A.X) && Clip(-DY, A.Y - BY0) &&
                     Clip(DY, BY1 - A.Y) && T0 < T1;
      if (!Visible || T0 > 0) Emit();
      if (Visible) {
        double Pos = T0 * Len, End = T1 * Len;
        Locate(std::fmod(Phase + Pos, Period));
        while (Pos < End) {
          double Take = std::min(Left, End - Pos);
          bool On = (Idx % 2) == 0;
          TPointF P{A.X + DX * Pos / Len, A.Y + DY * Pos / Len};
          TPointF Q{A.X + DX * (Pos + Take) / Len, A.Y + DY * (Pos + Take) / Len};
          if (On) {
            if (Piece.empty()) Piece.push_back(Round(P));
            Piece.push_back(Round(Q));
          }
          Pos += Take;
          Left -= Take;
          if (Left <= 1e-9) {
            if (On) Emit();
            Idx = (Idx + 1) % Pat.size();
            Left = Pat[Idx];
          }
        }
        if (T1 < 1) Emit();
      }
      Phase = std::fmod(Phase + Len, Period);
    }
    Emit();
    if (!QuadCounts.empty()) {
      // The quads fill as one shape in the pen's colour and mode.
      TBrush Saved;
      Saved.Assign(FC.Brush());
      TPenStyle SavedStyle = FC.Pen().GetStyle();
      TPolyFillMode SavedFill = FC.GetPolyFillMode();
      FC.Brush().SetPattern(nullptr);
      FC.Brush().SetStyle(bsSolid);
      FC.Brush().SetColor(FC.Pen().GetColor());
      FC.Pen().SetStyle(psClear);
      FC.SetPolyFillMode(pfmWinding);
      FC.PolyPolygon(QuadPts.data(), QuadCounts.data(), static_cast<int32_t>(QuadCounts.size()));
      FC.Brush().Assign(Saved);
      FC.Pen().SetStyle(SavedStyle);
      FC.SetPolyFillMode(SavedFill);
    }
  }
  bool Dashed() const { return !FDC.Pen.Dash.empty() && (FDC.Pen.Style & 0xF) != 5; }

  // ---- text
  void Text(double X, double Y, uint32_t Options, const TRect* R, const std::u32string& S,
            const std::vector<int32_t>& DxLog) {
    if (FInPath) return;
    Realize();
    RealizeFont();
    bool UpdateCP = FDC.TextAlign & taUpdateCP;
    if (UpdateCP) {
      X = FDC.Cur.X;
      Y = FDC.Cur.Y;
    }
    TPoint P = Round(Dev(X, Y));
    std::vector<int32_t> Dx;
    if (!DxLog.empty()) {
      double SX = ScaleX();
      double Acc = 0;
      int64_t Prev = 0;
      for (int32_t V : DxLog) {
        Acc = std::clamp(Acc + V * SX, -1e9, 1e9);
        int64_t Now = QLRound32(Acc);
        Dx.push_back(static_cast<int32_t>(Now - Prev));
        Prev = Now;
      }
    }
    FC.ExtTextOut(P.X, P.Y, Options & (etoOpaque | etoClipped), R, S,
                  Dx.empty() ? nullptr : Dx.data());
    if (UpdateCP) {
      double W = 0;
      for (int32_t V : DxLog) W += V;
      if (DxLog.empty()) {
        auto F = QLRealizeFont(FC.Font());
        int32_t Px = 0;
        for (char32_t C : S) Px += F->Advance(C);
        W = ScaleX() > 0 ? Px / ScaleX() : 0;
      }
      FDC.Cur.X += W;
    }
  }

  // ---- bitmaps
  void Blit(double DX, double DY, double DW, double DH, const uint8_t* Rec, size_t RecN,
            size_t OffBmi, size_t CbBmi, size_t OffBits, size_t CbBits, double SX, double SY,
            double SW, double SH, uint32_t Rop, bool DIBCoords) {
    if (FInPath) return;
    Realize();
    TRect D = DevRect(DX, DY, DX + DW, DY + DH);
    if (CbBmi == 0) {
      FC.PatBlt(D, static_cast<TCopyMode>(Rop));
      return;
    }
    if (OffBmi > RecN || CbBmi > RecN - OffBmi || OffBits > RecN || CbBits > RecN - OffBits) return;
    TBitmap B;
    bool TopDown = false;
    if (!QLDecodeDIB(Rec + OffBmi, CbBmi, Rec + OffBits, CbBits, B, &TopDown)) return;
    // Source coordinates of a bottom-up DIB count from its last row.
    double Top = (DIBCoords && !TopDown) ? B.GetHeight() - SY - SH : SY;
    TRect S{static_cast<int32_t>(QLRound(std::clamp(SX, -1e9, 1e9))),
            static_cast<int32_t>(QLRound(std::clamp(Top, -1e9, 1e9))),
            static_cast<int32_t>(QLRound(std::clamp(SX + SW, -1e9, 1e9))),
            static_cast<int32_t>(QLRound(std::clamp(Top + SH, -1e9, 1e9)))};
    FC.StretchBlt(D, B, S, static_cast<TCopyMode>(Rop));
  }

  TRegion RegionFromRgnData(const uint8_t* P, size_t N, size_t Off, size_t Size) {
    TRegion R;
    if (Off > N || Size > N - Off || Size < 32) return R;
    uint32_t Count = U32(P, N, Off + 8);
    if (Count > (Size - 32) / 16) Count = static_cast<uint32_t>((Size - 32) / 16);
    for (uint32_t I = 0; I < Count; ++I) {
      size_t O = Off + 32 + size_t(I) * 16;
      R |= TRegion(OuterRect(S32(P, N, O), S32(P, N, O + 4), S32(P, N, O + 8), S32(P, N, O + 12)));
    }
    return R;
  }

  void SaveDC() {
    if (FStack.size() < 4096) FStack.push_back(FDC);
  }
  void RestoreDC(int32_t Level) {
    size_t Target;
    if (Level < 0) {
      if (static_cast<size_t>(-static_cast<int64_t>(Level)) > FStack.size()) return;
      Target = FStack.size() - static_cast<size_t>(-static_cast<int64_t>(Level));
    } else {
      if (Level == 0 || static_cast<size_t>(Level) > FStack.size()) return;
      Target = static_cast<size_t>(Level) - 1;
    }
    FDC = FStack[Target];
    FStack.resize(Target);
    FClipDirty = true;
  }

  TCanvas& FC;
  bool FEnhanced;
  double FDevPerMMX, FDevPerMMY;
  bool FBaseHasClip = false;
  TRegion FBaseClip;
  TRect FSurface;
  bool FClipDirty = true;
  std::vector<TDC> FStack;
  std::vector<std::unique_ptr<TObj>> FObjects;
  struct TFigure {
    std::vector<TPointF> Pts;  // device
    bool Closed;
  };
  bool FInPath = false;
  std::vector<TFigure> FPath;

  void FillPath(bool Stroke, bool Fill) {
    FInPath = false;
    Realize();
    std::vector<TPoint> All;
    std::vector<int32_t> Counts;
    for (const TFigure& F : FPath) {
      auto P = ToInt(F.Pts);
      All.insert(All.end(), P.begin(), P.end());
      Counts.push_back(static_cast<int32_t>(P.size()));
    }
    if (Fill) {
      TPenStyle Old = FC.Pen().GetStyle();
      FC.Pen().SetStyle(psClear);
      FC.PolyPolygon(All.data(), Counts.data(), static_cast<int32_t>(Counts.size()));
      FC.Pen().SetStyle(Old);
    }
    if (Stroke && Dashed()) {
      for (const TFigure& F : FPath) StrokeDashed(F.Pts, F.Closed);
    } else if (Stroke) {
      size_t O = 0;
      for (const TFigure& F : FPath) {
        std::vector<TPoint> P(All.begin() + static_cast<ptrdiff_t>(O),
                              All.begin() + static_cast<ptrdiff_t>(O + F.Pts.size()));
        if (F.Closed && P.size() > 1) P.push_back(P.front());
        FC.Polyline(P.data(), static_cast<int32_t>(P.size()));
        O += F.Pts.size();
      }
    }
    FPath.clear();
  }
  TRegion PathRegion() {
    std::vector<TPointF> All;
    std::vector<int32_t> Counts;
    for (const TFigure& F : FPath) {
      All.insert(All.end(), F.Pts.begin(), F.Pts.end());
      Counts.push_back(static_cast<int32_t>(F.Pts.size()));
    }
    TRect L = FSurface;
    TRegion R =
        TRegion::FromPolygons(All.data(), Counts.data(), static_cast<int32_t>(Counts.size()),
                              FDC.PolyFill == 2 ? pfmWinding : pfmAlternate, &L);
    FPath.clear();
    FInPath = false;
    return R;
  }

  // Flattens a cubic Bezier from P0 into Out (P0 itself not added).
  static void Bezier(std::vector<TPointF>& Out, TPointF P0, TPointF P1, TPointF P2, TPointF P3) {
    double Len = std::hypot(P1.X - P0.X, P1.Y - P0.Y) + std::hypot(P2.X - P1.X, P2.Y - P1.Y) +
                 std::hypot(P3.X - P2.X, P3.Y - P2.Y);
    int32_t N = static_cast<int32_t>(std::clamp(Len / 3, 2.0, 64.0));
    for (int32_t I = 1; I <= N; ++I) {
      double T = double(I) / N, U = 1 - T;
      double A = U * U * U, B = 3 * U * U * T, C = 3 * U * T * T, D = T * T * T;
      Out.push_back(TPointF{A * P0.X + B * P1.X + C * P2.X + D * P3.X,
                            A * P0.Y + B * P1.Y + C * P2.Y + D * P3.Y});
    }
  }

 public:
  // Points of a record as logical coordinates: Count pairs of 16- or 32-bit integers at Off.
  static bool ReadPoints(const uint8_t* P, size_t N, size_t Off, uint64_t Count, bool Wide,
                         std::vector<TPointF>& Out) {
    size_t Each = Wide ? 8 : 4;
    if (Off > N || Count > (N - Off) / Each) return false;
    Out.resize(static_cast<size_t>(Count));
    for (size_t I = 0; I < Count; ++I) {
      size_t O = Off + I * Each;
      Out[I] = Wide ? TPointF{double(S32(P, N, O)), double(S32(P, N, O + 4))}
                    : TPointF{double(S16(P, N, O)), double(S16(P, N, O + 2))};
    }
    return true;
  }

  void MoveTo(double X, double Y) {
    FDC.Cur = TPointF{X, Y};
    if (FInPath) PathMove(Dev(X, Y));
  }
  void LineTo(double X, double Y) {
    if (FInPath) {
      PathLine(Dev(X, Y));
    } else {
      Realize();
      TPoint A = Round(Dev(FDC.Cur.X, FDC.Cur.Y)), B = Round(Dev(X, Y));
      FC.MoveTo(A.X, A.Y);
      FC.LineTo(B.X, B.Y);
    }
    FDC.Cur = TPointF{X, Y};
  }
  void PolyTo(const std::vector<TPointF>& L, bool Bez) {
    std::vector<TPointF> Pts{FDC.Cur};
    if (Bez) {
      for (size_t I = 0; I + 2 < L.size(); I += 3)
        Bezier(Pts, Pts.back(), L[I], L[I + 1], L[I + 2]);
    } else {
      Pts.insert(Pts.end(), L.begin(), L.end());
    }
    if (Pts.size() < 2) return;
    if (FInPath) {
      for (size_t I = 1; I < Pts.size(); ++I) PathLine(Dev(Pts[I].X, Pts[I].Y));
    } else {
      Polyline(Pts);
    }
    FDC.Cur = Pts.back();
  }
  void PolyBezier(const std::vector<TPointF>& L) {
    if (L.empty()) return;
    std::vector<TPointF> Pts{L[0]};
    for (size_t I = 1; I + 2 < L.size(); I += 3) Bezier(Pts, Pts.back(), L[I], L[I + 1], L[I + 2]);
    Polyline(Pts);
  }
  void CloseFigure() {
    if (FInPath && !FPath.empty()) FPath.back().Closed = true;
  }
};

// ---- the 16-bit records

void TPlayer::PlayWMF(const uint8_t* P, size_t N, size_t Start, int32_t Handles) {
  using enum TWmfRecord;
  static constexpr bool (TPlayer::*kFamilies[])(const TWmfRec&) = {
      &TPlayer::WmfState,   &TPlayer::WmfMapping, &TPlayer::WmfDraw, &TPlayer::WmfText,
      &TPlayer::WmfObjects, &TPlayer::WmfRegions, &TPlayer::WmfClip, &TPlayer::WmfBitmaps,
  };
  FObjects.resize(static_cast<size_t>(std::clamp(Handles, 0, int32_t(kMaxObjects))));
  size_t O = Start;
  while (O + 6 <= N) {
    uint64_t Words = U32(P, N, O);
    const auto Fn = static_cast<TWmfRecord>(U16(P, N, O + 4));
    if (Words < 3 || Words * 2 > N - O) break;
    if (Fn == mrEof) break;
    const TWmfRec Rec{Fn, P + O, static_cast<size_t>(Words * 2)};
    O += Rec.RN;
    // Records of no family (escapes, palettes, mapper flags, layout, ...) are skipped.
    for (auto Play : kFamilies)
      if ((this->*Play)(Rec)) break;
  }
}

// Background, text colour, modes and the saved states.
bool TPlayer::WmfState(const TWmfRec& Rec) {
  using enum TWmfRecord;
  switch (Rec.Fn) {
    case mrSetBkColor:
      FDC.BkColor = Rec.Color(0);
      break;
    case mrSetTextColor:
      FDC.TextColor = Rec.Color(0);
      break;
    case mrSetBkMode:
      FDC.BkMode = Rec.W(0);
      break;
    case mrSetRop2:
      FDC.Rop2 = Rec.W(0);
      break;
    case mrSetPolyFillMode:
      FDC.PolyFill = Rec.W(0);
      break;
    case mrSetTextAlign:
      FDC.TextAlign = Rec.UW(0);
      break;
    case mrSaveDC:
      SaveDC();
      break;
    case mrRestoreDC:
      RestoreDC(Rec.W(0));
      break;
    default:
      return false;
  }
  return true;
}

// The mapping mode, window and viewport.
bool TPlayer::WmfMapping(const TWmfRec& Rec) {
  using enum TWmfRecord;
  switch (Rec.Fn) {
    case mrSetMapMode:
      FDC.MapMode = Rec.W(0);
      break;
    case mrSetWindowOrg:
      FDC.WOX = Rec.W(1);
      FDC.WOY = Rec.W(0);
      break;
    case mrSetWindowExt:
      FDC.WEX = Rec.W(1);
      FDC.WEY = Rec.W(0);
      break;
    case mrSetViewportOrg:
      FDC.VOX = Rec.W(1);
      FDC.VOY = Rec.W(0);
      break;
    case mrSetViewportExt:
      FDC.VEX = Rec.W(1);
      FDC.VEY = Rec.W(0);
      break;
    case mrOffsetWindowOrg:
      FDC.WOX += Rec.W(1);
      FDC.WOY += Rec.W(0);
      break;
    case mrOffsetViewportOrg:
      FDC.VOX += Rec.W(1);
      FDC.VOY += Rec.W(0);
      break;
    case mrScaleWindowExt:  // y denominator, y numerator, x denominator, x numerator
      if (Rec.W(2) && Rec.W(0)) {
        FDC.WEX = FDC.WEX * Rec.W(3) / Rec.W(2);
        FDC.WEY = FDC.WEY * Rec.W(1) / Rec.W(0);
      }
      break;
    case mrScaleViewportExt:
      if (Rec.W(2) && Rec.W(0)) {
        FDC.VEX = FDC.VEX * Rec.W(3) / Rec.W(2);
        FDC.VEY = FDC.VEY * Rec.W(1) / Rec.W(0);
      }
      break;
    default:
      return false;
  }
  return true;
}

// Lines, shapes, pixels and polygons.
bool TPlayer::WmfDraw(const TWmfRec& Rec) {
  using enum TWmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TWmfRecord Fn = Rec.Fn;
  std::vector<TPointF> Pts;
  switch (Rec.Fn) {
    case mrMoveTo:
      MoveTo(Rec.W(1), Rec.W(0));
      break;
    case mrLineTo:
      LineTo(Rec.W(1), Rec.W(0));
      break;
    case mrRectangle:
      Shape(0, Rec.W(3), Rec.W(2), Rec.W(1), Rec.W(0), 0, 0, nullptr);
      break;
    case mrEllipse:
      Shape(1, Rec.W(3), Rec.W(2), Rec.W(1), Rec.W(0), 0, 0, nullptr);
      break;
    case mrRoundRect:
      Shape(2, Rec.W(5), Rec.W(4), Rec.W(3), Rec.W(2), Rec.W(1), Rec.W(0), nullptr);
      break;
    case mrArc:
    case mrPie:
    case mrChord: {
      // End y and x, start y and x, then the box bottom, right, top, left.
      TPointF Rad[2] = {{double(Rec.W(3)), double(Rec.W(2))}, {double(Rec.W(1)), double(Rec.W(0))}};
      Shape(Fn == mrArc   ? 3
            : Fn == mrPie ? 4
                          : 5,
            Rec.W(7), Rec.W(6), Rec.W(5), Rec.W(4), 0, 0, Rad);
      break;
    }
    case mrSetPixel: {
      if (FInPath) break;
      Realize();
      TPoint D = Round(Dev(Rec.W(3), Rec.W(2)));
      FC.SetPixel(D.X, D.Y, Rec.Color(0));
      break;
    }
    case mrPolygon:
    case mrPolyline: {
      if (!ReadPoints(R, RN, 8, Rec.UW(0), false, Pts)) break;
      if (Fn == mrPolygon)
        PolyPolygon({Pts});
      else
        Polyline(Pts);
      break;
    }
    case mrPolyPolygon: {
      uint32_t NP = Rec.UW(0);
      if (NP > (RN - 8) / 2) break;
      std::vector<std::vector<TPointF>> Cs;
      size_t Off = 8 + size_t(NP) * 2;
      bool OK = true;
      for (uint32_t I = 0; I < NP && OK; ++I) {
        uint32_t C = Rec.UW(1 + I);
        OK = ReadPoints(R, RN, Off, C, false, Pts);
        if (OK) Cs.push_back(Pts);
        Off += size_t(C) * 4;
      }
      if (OK) PolyPolygon(Cs);
      break;
    }
    default:
      return false;
  }
  return true;
}

// Text.
bool TPlayer::WmfText(const TWmfRec& Rec) {
  using enum TWmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  switch (Rec.Fn) {
    case mrTextOut: {  // count, string, y, x
      uint32_t Cnt = Rec.UW(0);
      size_t SOff = 8, Pad = (size_t(Cnt) + 1) & ~size_t{1};
      if (SOff + Pad + 4 > RN) break;
      std::u32string S;
      for (uint32_t I = 0; I < Cnt; ++I) S.push_back(FromCp1252(R[SOff + I]));
      double Y = S16(R, RN, SOff + Pad), X = S16(R, RN, SOff + Pad + 2);
      Text(X, Y, 0, nullptr, S, {});
      break;
    }
    case mrExtTextOut: {  // y, x, count, options, [rect], string, [dx]
      double Y = Rec.W(0), X = Rec.W(1);
      uint32_t Cnt = Rec.UW(2), Opt = Rec.UW(3);
      size_t Off = 14;
      TRect Rc{};
      bool HasRect = (Opt & (etoOpaque | etoClipped)) != 0;
      if (HasRect) {
        Rc = DevRect(S16(R, RN, 14), S16(R, RN, 16), S16(R, RN, 18), S16(R, RN, 20));
        Rc = Rect(std::min(Rc.Left, Rc.Right), std::min(Rc.Top, Rc.Bottom),
                  std::max(Rc.Left, Rc.Right), std::max(Rc.Top, Rc.Bottom));
        Off += 8;
      }
      if (Off > RN || Cnt > RN - Off) break;
      std::u32string S;
      for (uint32_t I = 0; I < Cnt; ++I) S.push_back(FromCp1252(R[Off + I]));
      Off += (size_t(Cnt) + 1) & ~size_t{1};
      std::vector<int32_t> Dx;
      if (Off + size_t(Cnt) * 2 <= RN)
        for (uint32_t I = 0; I < Cnt; ++I) Dx.push_back(S16(R, RN, Off + 2 * I));
      Text(X, Y, Opt, HasRect ? &Rc : nullptr, S, Dx);
      break;
    }
    default:
      return false;
  }
  return true;
}

// Pens, brushes, fonts and palettes into the object table, selected and deleted.
bool TPlayer::WmfObjects(const TWmfRec& Rec) {
  using enum TWmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TWmfRecord Fn = Rec.Fn;
  switch (Rec.Fn) {
    case mrCreatePenIndirect: {
      TObj Ob;
      Ob.Kind = okPen;
      Ob.Pen.Style = Rec.UW(0);
      Ob.Pen.Width = std::abs(Rec.W(1));
      Ob.Pen.Cosmetic = Ob.Pen.Width == 0;
      Ob.Pen.Color = Rec.Color(3);
      StoreWMF(std::move(Ob));
      break;
    }
    case mrCreateBrushIndirect: {
      TObj Ob;
      Ob.Kind = okBrush;
      Ob.Brush.Style = Rec.UW(0);
      Ob.Brush.Color = Rec.Color(1);
      Ob.Brush.Hatch = Rec.UW(3);
      StoreWMF(std::move(Ob));
      break;
    }
    case mrDIBCreatePatternBrush: {  // style, colour usage, DIB
      TObj Ob;
      Ob.Kind = okBrush;
      Ob.Brush.Style = 5;
      auto B = std::make_shared<TBitmap>();
      size_t Hdr = RN > 10 ? QLPackedDIBInfoSize(R + 10, RN - 10) : 0;
      if (Hdr && QLDecodeDIB(R + 10, Hdr, R + 10 + Hdr, RN - 10 - Hdr, *B)) Ob.Brush.Pattern = B;
      if (!Ob.Brush.Pattern) Ob.Brush.Style = 0;
      StoreWMF(std::move(Ob));
      break;
    }
    case mrCreateFontIndirect: {
      TObj Ob;
      Ob.Kind = okFont;
      Ob.Font.Height = Rec.W(0);
      Ob.Font.Escapement = Rec.W(2);
      Ob.Font.Weight = Rec.W(4);
      Ob.Font.Italic = U8(R, RN, 16) != 0;
      Ob.Font.Underline = U8(R, RN, 17) != 0;
      Ob.Font.StrikeOut = U8(R, RN, 18) != 0;
      Ob.Font.Quality = static_cast<uint8_t>(U8(R, RN, 22));
      for (size_t I = 24; I < 56 && I < RN && R[I]; ++I) Ob.Font.Face.push_back(char(R[I]));
      StoreWMF(std::move(Ob));
      break;
    }
    case mrCreatePalette:
    case mrCreatePatternBrush:  // from a device bitmap: drawn as grey
    {
      TObj Ob;
      Ob.Kind = okOther;
      if (Fn == mrCreatePatternBrush) {
        Ob.Kind = okBrush;
        Ob.Brush.Style = 0;
        Ob.Brush.Color = 0x808080;
      }
      StoreWMF(std::move(Ob));
      break;
    }
    case mrSelectObject:
      Select(Rec.UW(0));
      break;
    case mrDeleteObject:
      Delete(Rec.UW(0));
      break;
    default:
      return false;
  }
  return true;
}

// Regions: made, filled, painted and inverted.
bool TPlayer::WmfRegions(const TWmfRec& Rec) {
  using enum TWmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TWmfRecord Fn = Rec.Fn;
  switch (Rec.Fn) {
    case mrCreateRegion: {  // header, bounding box, scans of x pairs
      TObj Ob;
      Ob.Kind = okRegion;
      uint32_t Scans = Rec.UW(5);
      size_t Off = 6 + 20;
      for (uint32_t I = 0; I < Scans && Off + 6 <= RN; ++I) {
        uint32_t Cnt = U16(R, RN, Off);
        double Top = S16(R, RN, Off + 2), Bottom = S16(R, RN, Off + 4);
        size_t XOff = Off + 6;
        if (Cnt > (RN - XOff) / 2) break;
        for (uint32_t K = 0; K + 1 < Cnt; K += 2) {
          TRect D = DevRect(S16(R, RN, XOff + 2 * K), Top, S16(R, RN, XOff + 2 * K + 2), Bottom);
          Ob.Region |= TRegion(Rect(std::min(D.Left, D.Right), std::min(D.Top, D.Bottom),
                                    std::max(D.Left, D.Right), std::max(D.Top, D.Bottom)));
        }
        Off = XOff + size_t(Cnt) * 2 + 2;
      }
      StoreWMF(std::move(Ob));
      break;
    }
    case mrFillRegion:   // with a given brush
    case mrPaintRegion:  // with the current brush
    case mrInvertRegion: {
      TObj* Rg = Object(Rec.UW(0));
      if (!Rg || Rg->Kind != okRegion || FInPath) break;
      Realize();
      if (Fn == mrInvertRegion) {
        FC.InvertRegion(Rg->Region);
      } else {
        if (Fn == mrFillRegion) {
          if (TObj* Br = Object(Rec.UW(1)); Br && Br->Kind == okBrush) RealizeBrush(Br->Brush);
        }
        FC.FillRegion(Rg->Region);
      }
      break;
    }
    default:
      return false;
  }
  return true;
}

// The clip region.
bool TPlayer::WmfClip(const TWmfRec& Rec) {
  using enum TWmfRecord;
  const TWmfRecord Fn = Rec.Fn;
  switch (Rec.Fn) {
    case mrSelectClipRegion:
      if (TObj* Ob = Object(Rec.UW(0)); Ob && Ob->Kind == okRegion) SetClip(Ob->Region, rgnCopy);
      break;
    case mrIntersectClipRect:
    case mrExcludeClipRect: {
      TRect D = DevRect(Rec.W(3), Rec.W(2), Rec.W(1), Rec.W(0));
      D = Rect(std::min(D.Left, D.Right), std::min(D.Top, D.Bottom), std::max(D.Left, D.Right),
               std::max(D.Top, D.Bottom));
      SetClip(TRegion(D), Fn == mrIntersectClipRect ? rgnAnd : rgnDiff);
      break;
    }
    case mrOffsetClipRgn:
      if (FDC.HasClip) {
        TXForm M = Full();
        FDC.Clip.Offset(QLRound32(Rec.W(1) * M.A), QLRound32(Rec.W(0) * M.E));
        FClipDirty = true;
      }
      break;
    default:
      return false;
  }
  return true;
}

// Pattern and bitmap block transfers.
bool TPlayer::WmfBitmaps(const TWmfRec& Rec) {
  using enum TWmfRecord;
  switch (Rec.Fn) {
    case mrPatBlt:  // rop, height, width, y, x
      if (FInPath) break;
      Realize();
      FC.PatBlt(DevRect(Rec.W(5), Rec.W(4), Rec.W(5) + Rec.W(3), Rec.W(4) + Rec.W(2)),
                static_cast<TCopyMode>(U32(Rec.R, Rec.RN, 6)));
      break;
    case mrDIBBitBlt:
    case mrDIBStretchBlt:
    case mrStretchDIB:
    case mrSetDIBToDev:
      WmfDIBBlit(Rec);
      break;
    default:
      return false;
  }
  return true;
}

// The block transfers with a DIB, or without one (a pattern transfer) when the record ends
// after its parameters.
void TPlayer::WmfDIBBlit(const TWmfRec& Rec) {
  using enum TWmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TWmfRecord Fn = Rec.Fn;
  uint32_t Rop = U32(R, RN, 6);
  // The function number's high byte is its parameter count: a record of just that many words
  // carries no bitmap.
  bool NoDIB = RN == size_t((static_cast<uint32_t>(Fn) >> 8) + 3) * 2;
  double SX, SY, SW, SH, DX, DY, DW, DH;
  size_t DibOff;
  if (Fn == mrDIBBitBlt) {
    // rop, ySrc, xSrc, height, width, yDest, xDest
    size_t K = NoDIB ? 1 : 0;
    SY = Rec.W(2);
    SX = Rec.W(3);
    DH = SH = Rec.W(4 + K);
    DW = SW = Rec.W(5 + K);
    DY = Rec.W(6 + K);
    DX = Rec.W(7 + K);
    DibOff = 6 + 2 * 8;
  } else if (Fn == mrDIBStretchBlt) {
    // rop, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest
    size_t K = NoDIB ? 1 : 0;
    SH = Rec.W(2);
    SW = Rec.W(3);
    SY = Rec.W(4);
    SX = Rec.W(5);
    DH = Rec.W(6 + K);
    DW = Rec.W(7 + K);
    DY = Rec.W(8 + K);
    DX = Rec.W(9 + K);
    DibOff = 6 + 2 * 10;
  } else if (Fn == mrStretchDIB) {
    // rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, yDst, xDst
    SH = Rec.W(3);
    SW = Rec.W(4);
    SY = Rec.W(5);
    SX = Rec.W(6);
    DH = Rec.W(7);
    DW = Rec.W(8);
    DY = Rec.W(9);
    DX = Rec.W(10);
    DibOff = 6 + 2 * 11;
  } else {
    // usage, scans, start, yDib, xDib, height, width, yDest, xDest
    Rop = static_cast<uint32_t>(cmSrcCopy);
    SY = Rec.W(3);
    SX = Rec.W(4);
    DH = SH = Rec.W(5);
    DW = SW = Rec.W(6);
    DY = Rec.W(7);
    DX = Rec.W(8);
    DibOff = 6 + 2 * 9;
  }
  if (NoDIB || DibOff >= RN) {
    Blit(DX, DY, DW, DH, R, RN, 0, 0, 0, 0, 0, 0, 0, 0, Rop, false);
    return;
  }
  // The pixels follow the header and palette inside the same block.
  size_t Hdr = QLPackedDIBInfoSize(R + DibOff, RN - DibOff);
  if (!Hdr) return;
  Blit(DX, DY, DW, DH, R, RN, DibOff, Hdr, DibOff + Hdr, RN - DibOff - Hdr, SX, SY, SW, SH, Rop,
       Fn == mrStretchDIB || Fn == mrSetDIBToDev);
}

// ---- the enhanced records

void TPlayer::PlayEMF(const uint8_t* P, size_t N, int32_t Handles) {
  using enum TEmfRecord;
  static constexpr bool (TPlayer::*kFamilies[])(const TEmfRec&) = {
      &TPlayer::EmfMapping, &TPlayer::EmfState,   &TPlayer::EmfDraw, &TPlayer::EmfPoly,
      &TPlayer::EmfPath,    &TPlayer::EmfObjects, &TPlayer::EmfPens, &TPlayer::EmfBrushes,
      &TPlayer::EmfFonts,   &TPlayer::EmfText,    &TPlayer::EmfClip, &TPlayer::EmfRegions,
      &TPlayer::EmfBitmaps,
  };
  FObjects.resize(static_cast<size_t>(std::clamp(Handles, 0, int32_t(kMaxObjects))));
  size_t O = 0;
  while (O + 8 <= N) {
    const auto Type = static_cast<TEmfRecord>(U32(P, N, O));
    uint64_t Size = U32(P, N, O + 4);
    if (Size < 8 || Size > N - O) break;
    const TEmfRec Rec{Type, P + O, static_cast<size_t>(Size)};
    O += Rec.RN;
    if (Type == emrEof) return;
    // Records of no family (comments, including embedded drawing records of later formats,
    // palettes, colour management, ...) draw nothing here.
    for (auto Play : kFamilies)
      if ((this->*Play)(Rec)) break;
  }
}

// The mapping mode, window, viewport and world transform.
bool TPlayer::EmfMapping(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const TEmfRecord Type = Rec.Type;
  switch (Rec.Type) {
    case emrSetWindowExtEx:
      FDC.WEX = Rec.I32(8);
      FDC.WEY = Rec.I32(12);
      break;
    case emrSetWindowOrgEx:
      FDC.WOX = Rec.I32(8);
      FDC.WOY = Rec.I32(12);
      break;
    case emrSetViewportExtEx:
      FDC.VEX = Rec.I32(8);
      FDC.VEY = Rec.I32(12);
      break;
    case emrSetViewportOrgEx:
      FDC.VOX = Rec.I32(8);
      FDC.VOY = Rec.I32(12);
      break;
    case emrScaleViewportExtEx:  // x num, x denom, y num, y denom
    case emrScaleWindowExtEx:
      if (Rec.I32(12) && Rec.I32(20)) {
        double& EX = Type == emrScaleViewportExtEx ? FDC.VEX : FDC.WEX;
        double& EY = Type == emrScaleViewportExtEx ? FDC.VEY : FDC.WEY;
        EX = EX * Rec.I32(8) / Rec.I32(12);
        EY = EY * Rec.I32(16) / Rec.I32(20);
      }
      break;
    case emrSetMapMode:
      FDC.MapMode = Rec.I32(8);
      break;
    case emrSetWorldTransform:
    case emrModifyWorldTransform: {
      TXForm X{Rec.Flt(8), Rec.Flt(16), Rec.Flt(24), Rec.Flt(12), Rec.Flt(20), Rec.Flt(28)};
      uint32_t Mode = Type == emrSetWorldTransform ? 4 : Rec.D32(32);
      if (Mode == 1)
        FDC.World = TXForm{};
      else if (Mode == 2)
        FDC.World = X.Then(FDC.World);
      else if (Mode == 3)
        FDC.World = FDC.World.Then(X);
      else if (Mode == 4)
        FDC.World = X;
      break;
    }
    default:
      return false;
  }
  return true;
}

// Modes, colours, arc direction and the saved states.
bool TPlayer::EmfState(const TEmfRec& Rec) {
  using enum TEmfRecord;
  switch (Rec.Type) {
    case emrSetBkMode:
      FDC.BkMode = Rec.I32(8);
      break;
    case emrSetPolyFillMode:
      FDC.PolyFill = Rec.I32(8);
      break;
    case emrSetRop2:
      FDC.Rop2 = Rec.I32(8);
      break;
    case emrSetTextAlign:
      FDC.TextAlign = Rec.D32(8);
      break;
    case emrSetTextColor:
      FDC.TextColor = static_cast<TColor>(Rec.D32(8) & 0xFFFFFF);
      break;
    case emrSetBkColor:
      FDC.BkColor = static_cast<TColor>(Rec.D32(8) & 0xFFFFFF);
      break;
    case emrSetArcDirection:
      FDC.ArcCW = Rec.I32(8) == 2;
      break;
    case emrSaveDC:
      SaveDC();
      break;
    case emrRestoreDC:
      RestoreDC(Rec.I32(8));
      break;
    default:
      return false;
  }
  return true;
}

// The current position, pixels, shapes and arcs.
bool TPlayer::EmfDraw(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const TEmfRecord Type = Rec.Type;
  switch (Rec.Type) {
    case emrMoveToEx:
      MoveTo(Rec.I32(8), Rec.I32(12));
      break;
    case emrLineTo:
      LineTo(Rec.I32(8), Rec.I32(12));
      break;
    case emrSetPixelV: {
      if (FInPath) break;
      Realize();
      TPoint D = Round(Dev(Rec.I32(8), Rec.I32(12)));
      FC.SetPixel(D.X, D.Y, static_cast<TColor>(Rec.D32(16) & 0xFFFFFF));
      break;
    }
    case emrRectangle:
      Shape(0, Rec.I32(8), Rec.I32(12), Rec.I32(16), Rec.I32(20), 0, 0, nullptr);
      break;
    case emrEllipse:
      Shape(1, Rec.I32(8), Rec.I32(12), Rec.I32(16), Rec.I32(20), 0, 0, nullptr);
      break;
    case emrRoundRect:
      Shape(2, Rec.I32(8), Rec.I32(12), Rec.I32(16), Rec.I32(20), Rec.I32(24), Rec.I32(28),
            nullptr);
      break;
    case emrArc:
    case emrChord:
    case emrPie:
    case emrArcTo: {
      TPointF Rad[2] = {{double(Rec.I32(24)), double(Rec.I32(28))},
                        {double(Rec.I32(32)), double(Rec.I32(36))}};
      if (Type == emrArcTo) {
        // Arc-to: a line to the arc's start, the arc, and the position at its end.
        double L = Rec.I32(8), T = Rec.I32(12), Rr = Rec.I32(16), B = Rec.I32(20);
        double CX = (L + Rr) / 2, CY = (T + B) / 2, RX = (Rr - L) / 2, RY = (B - T) / 2;
        double A0 = std::atan2(-(Rad[0].Y - CY), Rad[0].X - CX);
        double A1 = std::atan2(-(Rad[1].Y - CY), Rad[1].X - CX);
        double Sweep = std::fmod(A1 - A0 + 4 * std::numbers::pi, 2 * std::numbers::pi);
        if (FDC.ArcCW) Sweep -= 2 * std::numbers::pi;
        std::vector<TPointF> A;
        ArcPoints(A, CX, CY, RX, RY, A0, Sweep);
        PolyTo(A, false);
        break;
      }
      Shape(Type == emrArc     ? 3
            : Type == emrChord ? 5
                               : 4,
            Rec.I32(8), Rec.I32(12), Rec.I32(16), Rec.I32(20), 0, 0, Rad);
      break;
    }
    case emrAngleArc: {  // centre, radius, start, sweep (degrees)
      double CX = Rec.I32(8), CY = Rec.I32(12), Rad = Rec.D32(16);
      double A0 = Rec.Flt(20) * std::numbers::pi / 180, Sw = Rec.Flt(24) * std::numbers::pi / 180;
      if (Rad > 1e7) break;
      std::vector<TPointF> A;
      ArcPoints(A, CX, CY, Rad, Rad, A0, Sw);
      PolyTo(A, false);
      break;
    }
    default:
      return false;
  }
  return true;
}

// Polylines, polygons and Beziers with 32- and 16-bit points.
bool TPlayer::EmfPoly(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TEmfRecord Type = Rec.Type;
  std::vector<TPointF> Pts;
  switch (Rec.Type) {
    case emrPolyBezier:
    case emrPolygon:
    case emrPolyline:
    case emrPolyBezierTo:
    case emrPolylineTo:
    case emrPolyBezier16:
    case emrPolygon16:
    case emrPolyline16:
    case emrPolyBezierTo16:
    case emrPolylineTo16: {
      bool Wide = Type < emrPolyBezier16;
      if (!ReadPoints(R, RN, 28, Rec.D32(24), Wide, Pts)) break;
      if (Type == emrPolyBezier || Type == emrPolyBezier16)
        PolyBezier(Pts);
      else if (Type == emrPolygon || Type == emrPolygon16)
        PolyPolygon({Pts});
      else if (Type == emrPolyline || Type == emrPolyline16)
        Polyline(Pts);
      else
        PolyTo(Pts, Type == emrPolyBezierTo || Type == emrPolyBezierTo16);
      break;
    }
    case emrPolyPolyline:
    case emrPolyPolygon:
    case emrPolyPolyline16:
    case emrPolyPolygon16: {
      bool Wide = Type < emrPolyPolyline16;
      uint32_t NP = Rec.D32(24), NT = Rec.D32(28);
      if (NP > (RN - 32) / 4) break;
      size_t Off = 32 + size_t(NP) * 4;
      if (!ReadPoints(R, RN, Off, NT, Wide, Pts)) break;
      std::vector<std::vector<TPointF>> Cs;
      size_t At = 0;
      for (uint32_t I = 0; I < NP; ++I) {
        uint32_t C = Rec.D32(32 + size_t(I) * 4);
        if (C > Pts.size() - At) break;
        Cs.emplace_back(Pts.begin() + static_cast<ptrdiff_t>(At),
                        Pts.begin() + static_cast<ptrdiff_t>(At + C));
        At += C;
      }
      if (Type == emrPolyPolygon || Type == emrPolyPolygon16) {
        PolyPolygon(Cs);
      } else {
        for (auto& C : Cs) Polyline(C);
      }
      break;
    }
    case emrPolyDraw:
    case emrPolyDraw16: {  // points, then one type byte each
      bool Wide = Type == emrPolyDraw;
      uint32_t Cnt = Rec.D32(24);
      if (!ReadPoints(R, RN, 28, Cnt, Wide, Pts)) break;
      size_t TOff = 28 + size_t(Cnt) * (Wide ? 8 : 4);
      if (TOff > RN || Cnt > RN - TOff) break;
      for (uint32_t I = 0; I < Cnt; ++I) {
        uint8_t T = R[TOff + I];
        if ((T & 6) == 6) {
          MoveTo(Pts[I].X, Pts[I].Y);
        } else if ((T & 6) == 4 && I + 2 < Cnt) {
          PolyTo({Pts[I], Pts[I + 1], Pts[I + 2]}, true);
          I += 2;
        } else {
          LineTo(Pts[I].X, Pts[I].Y);
        }
        if (T & 1) CloseFigure();
      }
      break;
    }
    default:
      return false;
  }
  return true;
}

// Paths: recorded, filled, stroked or made the clip.
bool TPlayer::EmfPath(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const TEmfRecord Type = Rec.Type;
  switch (Rec.Type) {
    case emrBeginPath:
      FInPath = true;
      FPath.clear();
      break;
    case emrEndPath:
      FInPath = false;
      break;
    case emrCloseFigure:
      CloseFigure();
      break;
    case emrAbortPath:
      FInPath = false;
      FPath.clear();
      break;
    case emrFillPath:
    case emrStrokeAndFillPath:
    case emrStrokePath:
      FillPath(Type != emrFillPath, Type != emrStrokePath);
      break;
    case emrSelectClipPath:
      SetClip(PathRegion(), static_cast<TRegionOp>(std::clamp(Rec.I32(8), 1, 5)));
      break;
    default:
      return false;
  }
  return true;
}

// Selecting and deleting objects, and palettes.
bool TPlayer::EmfObjects(const TEmfRec& Rec) {
  using enum TEmfRecord;
  switch (Rec.Type) {
    case emrSelectObject:
      Select(Rec.D32(8));
      break;
    case emrDeleteObject:
      Delete(Rec.D32(8));
      break;
    case emrCreatePalette: {
      TObj Ob;
      Ob.Kind = okOther;
      StoreEMF(Rec.D32(8), std::move(Ob));
      break;
    }
    default:
      return false;
  }
  return true;
}

// Pens.
bool TPlayer::EmfPens(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const size_t RN = Rec.RN;
  switch (Rec.Type) {
    case emrCreatePen: {
      TObj Ob;
      Ob.Kind = okPen;
      Ob.Pen.Style = Rec.I32(12);
      Ob.Pen.Width = std::abs(Rec.I32(16));
      Ob.Pen.Cosmetic = Ob.Pen.Width == 0;
      Ob.Pen.Color = static_cast<TColor>(Rec.D32(24) & 0xFFFFFF);
      StoreEMF(Rec.D32(8), std::move(Ob));
      break;
    }
    case emrExtCreatePen: {  // type and style, width, brush style, colour
      TObj Ob;
      Ob.Kind = okPen;
      uint32_t Style = Rec.D32(28);
      Ob.Pen.Style = static_cast<int32_t>(Style & 0xF);
      Ob.Pen.Width = Rec.D32(32);
      Ob.Pen.Cosmetic = !(Style & 0x10000) || Ob.Pen.Width == 0;
      Ob.Pen.Color = static_cast<TColor>(Rec.D32(40) & 0xFFFFFF);
      if (Rec.D32(36) == 1) Ob.Pen.Style = 5;  // hollow brush: no line
      Ob.Pen.EndCap = Style & 0xF00;
      if (!Ob.Pen.Cosmetic && Ob.Pen.Width > 0) {
        // Geometric styles scale with the width; a user style lists its own lengths.
        static const std::vector<double> Styles[5] = {
            {}, {3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
        if (Ob.Pen.Style >= 1 && Ob.Pen.Style <= 4) {
          for (double V : Styles[Ob.Pen.Style]) Ob.Pen.Dash.push_back(V * Ob.Pen.Width);
          Ob.Pen.Style = 0;
        } else if (Ob.Pen.Style == 7) {
          uint32_t NE = std::min<uint32_t>(Rec.D32(48), 16);
          for (uint32_t I = 0; I < NE && 52 + 4 * size_t(I) + 4 <= RN; ++I)
            Ob.Pen.Dash.push_back(Rec.D32(52 + 4 * size_t(I)));
          Ob.Pen.Style = 0;
        }
        double Sum = 0;
        for (double V : Ob.Pen.Dash) Sum += V;
        if (Sum <= 0) Ob.Pen.Dash.clear();
      }
      StoreEMF(Rec.D32(8), std::move(Ob));
      break;
    }
    default:
      return false;
  }
  return true;
}

// Brushes.
bool TPlayer::EmfBrushes(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  switch (Rec.Type) {
    case emrCreateBrushIndirect: {
      TObj Ob;
      Ob.Kind = okBrush;
      Ob.Brush.Style = Rec.I32(12);
      Ob.Brush.Color = static_cast<TColor>(Rec.D32(16) & 0xFFFFFF);
      Ob.Brush.Hatch = Rec.I32(20);
      StoreEMF(Rec.D32(8), std::move(Ob));
      break;
    }
    case emrCreateMonoBrush:
    case emrCreateDIBPatternBrushPt: {
      // Usage, offset and size of the bitmap info, offset and size of the bits.
      TObj Ob;
      Ob.Kind = okBrush;
      Ob.Brush.Style = 5;
      size_t OB = Rec.D32(16), CB = Rec.D32(20), OBits = Rec.D32(24), CBits = Rec.D32(28);
      auto B = std::make_shared<TBitmap>();
      if (OB <= RN && CB <= RN - OB && OBits <= RN && CBits <= RN - OBits &&
          QLDecodeDIB(R + OB, CB, R + OBits, CBits, *B))
        Ob.Brush.Pattern = B;
      else
        Ob.Brush.Style = 0;
      StoreEMF(Rec.D32(8), std::move(Ob));
      break;
    }
    default:
      return false;
  }
  return true;
}

// Fonts.
bool TPlayer::EmfFonts(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  switch (Rec.Type) {
    case emrExtCreateFontIndirectW: {
      TObj Ob;
      Ob.Kind = okFont;
      Ob.Font.Height = Rec.I32(12);
      Ob.Font.Escapement = Rec.I32(20);
      Ob.Font.Weight = Rec.I32(28);
      Ob.Font.Italic = U8(R, RN, 32) != 0;
      Ob.Font.Underline = U8(R, RN, 33) != 0;
      Ob.Font.StrikeOut = U8(R, RN, 34) != 0;
      Ob.Font.Quality = static_cast<uint8_t>(U8(R, RN, 38));
      for (size_t I = 0; I < 32; ++I) {
        uint32_t C = U16(R, RN, 40 + 2 * I);
        if (!C) break;
        // Face names are matched through fontconfig as UTF-8.
        if (C < 0x80) {
          Ob.Font.Face.push_back(char(C));
        } else if (C < 0x800) {
          Ob.Font.Face.push_back(char(0xC0 | (C >> 6)));
          Ob.Font.Face.push_back(char(0x80 | (C & 0x3F)));
        } else {
          Ob.Font.Face.push_back(char(0xE0 | (C >> 12)));
          Ob.Font.Face.push_back(char(0x80 | ((C >> 6) & 0x3F)));
          Ob.Font.Face.push_back(char(0x80 | (C & 0x3F)));
        }
      }
      StoreEMF(Rec.D32(8), std::move(Ob));
      break;
    }
    default:
      return false;
  }
  return true;
}

// Text.
bool TPlayer::EmfText(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TEmfRecord Type = Rec.Type;
  switch (Rec.Type) {
    case emrExtTextOutA:
    case emrExtTextOutW: {
      // Bounds, mode, scales, then reference, count, offset, options, rect, dx.
      double X = Rec.I32(36), Y = Rec.I32(40);
      uint32_t Cnt = Rec.D32(44), SOff = Rec.D32(48), Opt = Rec.D32(52), DOff = Rec.D32(72);
      size_t Each = Type == emrExtTextOutW ? 2 : 1;
      if (SOff > RN || Cnt > (RN - SOff) / Each) break;
      std::u32string S;
      for (uint32_t I = 0; I < Cnt; ++I) {
        if (Type == emrExtTextOutW) {
          char32_t C = U16(R, RN, SOff + 2 * I);
          // Join surrogate pairs.
          if (C >= 0xD800 && C < 0xDC00 && I + 1 < Cnt) {
            char32_t Lo = U16(R, RN, SOff + 2 * (I + 1));
            if (Lo >= 0xDC00 && Lo < 0xE000) {
              C = 0x10000 + ((C - 0xD800) << 10) + (Lo - 0xDC00);
              ++I;
            }
          }
          S.push_back(C);
        } else {
          S.push_back(FromCp1252(R[SOff + I]));
        }
      }
      std::vector<int32_t> Dx;
      if (DOff && DOff <= RN && Cnt <= (RN - DOff) / 4)
        for (uint32_t I = 0; I < Cnt; ++I) Dx.push_back(Rec.I32(DOff + 4 * size_t(I)));
      // Surrogate pairs leave fewer characters than advances; drop the extra ones.
      if (Dx.size() > S.size()) Dx.resize(S.size());
      if (!Dx.empty() && Dx.size() < S.size()) Dx.clear();
      TRect Rc{};
      bool HasRect = (Opt & (etoOpaque | etoClipped)) != 0;
      if (HasRect) {
        Rc = DevRect(Rec.I32(56), Rec.I32(60), Rec.I32(64), Rec.I32(68));
        Rc = Rect(std::min(Rc.Left, Rc.Right), std::min(Rc.Top, Rc.Bottom),
                  std::max(Rc.Left, Rc.Right), std::max(Rc.Top, Rc.Bottom));
      }
      Text(X, Y, Opt, HasRect ? &Rc : nullptr, S, Dx);
      break;
    }
    default:
      return false;
  }
  return true;
}

// The clip region.
bool TPlayer::EmfClip(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TEmfRecord Type = Rec.Type;
  switch (Rec.Type) {
    case emrIntersectClipRect:
    case emrExcludeClipRect: {
      TRect D = DevRect(Rec.I32(8), Rec.I32(12), Rec.I32(16), Rec.I32(20));
      D = Rect(std::min(D.Left, D.Right), std::min(D.Top, D.Bottom), std::max(D.Left, D.Right),
               std::max(D.Top, D.Bottom));
      SetClip(TRegion(D), Type == emrIntersectClipRect ? rgnAnd : rgnDiff);
      break;
    }
    case emrOffsetClipRgn:
      if (FDC.HasClip) {
        TXForm M = Full();
        FDC.Clip.Offset(QLRound32(Rec.I32(8) * M.A), QLRound32(Rec.I32(12) * M.E));
        FClipDirty = true;
      }
      break;
    case emrExtSelectClipRgn: {  // data size, mode, region data in device units
      uint32_t Cb = Rec.D32(8), Mode = Rec.D32(12);
      if (Mode == 5 && Cb == 0) {
        FDC.HasClip = false;
        FDC.Clip.Clear();
        FClipDirty = true;
        break;
      }
      SetClip(RegionFromRgnData(R, RN, 16, Cb),
              static_cast<TRegionOp>(std::clamp<uint32_t>(Mode, 1, 5)));
      break;
    }
    default:
      return false;
  }
  return true;
}

// Regions filled, painted or inverted.
bool TPlayer::EmfRegions(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TEmfRecord Type = Rec.Type;
  switch (Rec.Type) {
    case emrFillRgn:
    case emrInvertRgn:
    case emrPaintRgn: {  // bounds, data size, [brush (fill only)], data
      if (FInPath) break;
      uint32_t Cb = Rec.D32(24);
      size_t DOff = Type == emrFillRgn ? 32 : 28;
      TRegion Rg = RegionFromRgnData(R, RN, DOff, Cb);
      Realize();
      if (Type == emrInvertRgn) {
        FC.InvertRegion(Rg);
      } else {
        if (Type == emrFillRgn) {
          uint32_t Ih = Rec.D32(28);
          if (TObj* Br = Object(Ih); Br && Br->Kind == okBrush) RealizeBrush(Br->Brush);
        }
        FC.FillRegion(Rg);
      }
      break;
    }
    default:
      return false;
  }
  return true;
}

// Bitmap block transfers.
bool TPlayer::EmfBitmaps(const TEmfRec& Rec) {
  using enum TEmfRecord;
  const uint8_t* R = Rec.R;
  const size_t RN = Rec.RN;
  const TEmfRecord Type = Rec.Type;
  switch (Rec.Type) {
    case emrBitBlt:
    case emrStretchBlt: {  // with an optional source DIB
      double DX = Rec.I32(24), DY = Rec.I32(28), DW = Rec.I32(32), DH = Rec.I32(36);
      uint32_t Rop = Rec.D32(40);
      double SX = Rec.I32(44), SY = Rec.I32(48);
      size_t OB = Rec.D32(84), CB = Rec.D32(88), OBits = Rec.D32(92), CBits = Rec.D32(96);
      double SW = Type == emrStretchBlt ? Rec.I32(100) : DW,
             SH = Type == emrStretchBlt ? Rec.I32(104) : DH;
      Blit(DX, DY, DW, DH, R, RN, OB, CB, OBits, CBits, SX, SY, SW, SH, Rop, false);
      break;
    }
    case emrStretchDIBits: {
      double DX = Rec.I32(24), DY = Rec.I32(28), SX = Rec.I32(32), SY = Rec.I32(36),
             SW = Rec.I32(40), SH = Rec.I32(44);
      size_t OB = Rec.D32(48), CB = Rec.D32(52), OBits = Rec.D32(56), CBits = Rec.D32(60);
      uint32_t Rop = Rec.D32(68);
      double DW = Rec.I32(72), DH = Rec.I32(76);
      if (CB == 0) break;
      Blit(DX, DY, DW, DH, R, RN, OB, CB, OBits, CBits, SX, SY, SW, SH, Rop, true);
      break;
    }
    case emrSetDIBitsToDevice: {
      double DX = Rec.I32(24), DY = Rec.I32(28), SX = Rec.I32(32), SY = Rec.I32(36),
             SW = Rec.I32(40), SH = Rec.I32(44);
      size_t OB = Rec.D32(48), CB = Rec.D32(52), OBits = Rec.D32(56), CBits = Rec.D32(60);
      if (CB == 0) break;
      Blit(DX, DY, SW, SH, R, RN, OB, CB, OBits, CBits, SX, SY, SW, SH,
           static_cast<uint32_t>(cmSrcCopy), true);
      break;
    }
    default:
      return false;
  }
  return true;
}

}  // namespace

void TMetafile::Play(TCanvas& Canvas, const TRect& Dest) const {
  if (FData.empty() || !Canvas.GetBitmap() || Dest.IsEmpty()) return;
  // What the play changes on the canvas, restored at the end.
  TPen Pen;
  Pen.Assign(Canvas.Pen());
  TBrush Brush;
  Brush.Assign(Canvas.Brush());
  TFont Font(Canvas.Font());
  TPoint PenPos = Canvas.GetPenPos();
  TBkMode BkMode = Canvas.GetBkMode();
  TColor BkColor = Canvas.GetBkColor();
  TPolyFillMode Fill = Canvas.GetPolyFillMode();
  uint32_t Align = Canvas.GetTextAlign();
  bool CW = Canvas.GetArcClockwise();
  bool HadClip = Canvas.HasClipRegion();
  TRegion Clip = Canvas.GetClipRegion();

  TPlayer Player(Canvas, FEnhanced, FDevPerMMX, FDevPerMMY);
  double BW = FBoxRight - FBoxLeft, BH = FBoxBottom - FBoxTop;
  if (FEnhanced) {
    // The frame, in the reference device's pixels, fills Dest.
    if (BW > 0 && BH > 0) {
      double SX = Dest.Width() / BW, SY = Dest.Height() / BH;
      Player.FOuter = TXForm{SX, 0, Dest.Left - FBoxLeft * SX, 0, SY, Dest.Top - FBoxTop * SY};
    } else {
      Player.FOuter = TXForm{1, 0, double(Dest.Left), 0, 1, double(Dest.Top)};
    }
    try {
      Player.PlayEMF(FData.data(), FData.size(), FHandles);
    } catch (const std::bad_alloc&) {
    }
  } else {
    // The picture's box is the window, Dest the viewport; the records may change the window.
    Player.FDC.MapMode = 8;
    Player.FDC.WOX = FBoxLeft;
    Player.FDC.WOY = FBoxTop;
    Player.FDC.WEX = BW > 0 ? BW : 1;
    Player.FDC.WEY = BH > 0 ? BH : 1;
    Player.FDC.VOX = Dest.Left;
    Player.FDC.VOY = Dest.Top;
    Player.FDC.VEX = BW > 0 ? Dest.Width() : 1;
    Player.FDC.VEY = BH > 0 ? Dest.Height() : 1;
    try {
      Player.PlayWMF(FData.data(), FData.size(), FRecordsStart, FHandles);
    } catch (const std::bad_alloc&) {
    }
  }

  Canvas.Pen().Assign(Pen);
  Canvas.Brush().Assign(Brush);
  Canvas.Font().Assign(Font);
  Canvas.SetPenPos(PenPos);
  Canvas.SetBkMode(BkMode);
  Canvas.SetBkColor(BkColor);
  Canvas.SetPolyFillMode(Fill);
  Canvas.SetTextAlign(Align);
  Canvas.SetArcClockwise(CW);
  if (HadClip)
    Canvas.SetClipRegion(Clip);
  else
    Canvas.ClearClipRegion();
}

}  // namespace quillo
