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
        uint32_t Fn = U16(P, N, O + 4);
        if (Words < 3 || O + Words * 2 > N || Fn == 0) break;
        if (Fn == 0x020B) {
          FBoxLeft = S16(P, N, O + 8);
          FBoxTop = S16(P, N, O + 6);
        } else if (Fn == 0x020C && !HaveExt) {
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
  FObjects.resize(static_cast<size_t>(std::clamp(Handles, 0, int32_t(kMaxObjects))));
  size_t O = Start;
  std::vector<TPointF> Pts;
  while (O + 6 <= N) {
    uint64_t Words = U32(P, N, O);
    uint32_t Fn = U16(P, N, O + 4);
    if (Words < 3 || Words * 2 > N - O) break;
    if (Fn == 0) break;
    const uint8_t* R = P + O;
    const size_t RN = static_cast<size_t>(Words * 2);
    O += RN;
    // Parameter I (16-bit words after the function number).
    auto W = [&](size_t I) { return S16(R, RN, 6 + 2 * I); };
    auto UW = [&](size_t I) { return U16(R, RN, 6 + 2 * I); };
    auto Color = [&](size_t I) { return static_cast<TColor>(U32(R, RN, 6 + 2 * I) & 0xFFFFFF); };
    switch (Fn) {
      case 0x0201:  // set background colour
        FDC.BkColor = Color(0);
        break;
      case 0x0209:
        FDC.TextColor = Color(0);
        break;
      case 0x0102:
        FDC.BkMode = W(0);
        break;
      case 0x0103:
        FDC.MapMode = W(0);
        break;
      case 0x0104:
        FDC.Rop2 = W(0);
        break;
      case 0x0106:
        FDC.PolyFill = W(0);
        break;
      case 0x012E:
        FDC.TextAlign = UW(0);
        break;
      case 0x020B:
        FDC.WOX = W(1);
        FDC.WOY = W(0);
        break;
      case 0x020C:
        FDC.WEX = W(1);
        FDC.WEY = W(0);
        break;
      case 0x020D:
        FDC.VOX = W(1);
        FDC.VOY = W(0);
        break;
      case 0x020E:
        FDC.VEX = W(1);
        FDC.VEY = W(0);
        break;
      case 0x020F:
        FDC.WOX += W(1);
        FDC.WOY += W(0);
        break;
      case 0x0211:
        FDC.VOX += W(1);
        FDC.VOY += W(0);
        break;
      case 0x0410:  // scale window extent: y denominator, y numerator, x denominator, x numerator
        if (W(2) && W(0)) {
          FDC.WEX = FDC.WEX * W(3) / W(2);
          FDC.WEY = FDC.WEY * W(1) / W(0);
        }
        break;
      case 0x0412:
        if (W(2) && W(0)) {
          FDC.VEX = FDC.VEX * W(3) / W(2);
          FDC.VEY = FDC.VEY * W(1) / W(0);
        }
        break;
      case 0x001E:
        SaveDC();
        break;
      case 0x0127:
        RestoreDC(W(0));
        break;
      case 0x0214:
        MoveTo(W(1), W(0));
        break;
      case 0x0213:
        LineTo(W(1), W(0));
        break;
      case 0x041B:
        Shape(0, W(3), W(2), W(1), W(0), 0, 0, nullptr);
        break;
      case 0x0418:
        Shape(1, W(3), W(2), W(1), W(0), 0, 0, nullptr);
        break;
      case 0x061C:
        Shape(2, W(5), W(4), W(3), W(2), W(1), W(0), nullptr);
        break;
      case 0x0817:
      case 0x081A:
      case 0x0830: {
        // End y and x, start y and x, then the box bottom, right, top, left.
        TPointF Rad[2] = {{double(W(3)), double(W(2))}, {double(W(1)), double(W(0))}};
        Shape(Fn == 0x0817 ? 3 : Fn == 0x081A ? 4 : 5, W(7), W(6), W(5), W(4), 0, 0, Rad);
        break;
      }
      case 0x041F: {
        if (FInPath) break;
        Realize();
        TPoint D = Round(Dev(W(3), W(2)));
        FC.SetPixel(D.X, D.Y, Color(0));
        break;
      }
      case 0x0324:
      case 0x0325: {
        if (!ReadPoints(R, RN, 8, UW(0), false, Pts)) break;
        if (Fn == 0x0324)
          PolyPolygon({Pts});
        else
          Polyline(Pts);
        break;
      }
      case 0x0538: {
        uint32_t NP = UW(0);
        if (NP > (RN - 8) / 2) break;
        std::vector<std::vector<TPointF>> Cs;
        size_t Off = 8 + size_t(NP) * 2;
        bool OK = true;
        for (uint32_t I = 0; I < NP && OK; ++I) {
          uint32_t C = UW(1 + I);
          OK = ReadPoints(R, RN, Off, C, false, Pts);
          if (OK) Cs.push_back(Pts);
          Off += size_t(C) * 4;
        }
        if (OK) PolyPolygon(Cs);
        break;
      }
      case 0x0521: {  // TEXTOUT: count, string, y, x
        uint32_t Cnt = UW(0);
        size_t SOff = 8, Pad = (size_t(Cnt) + 1) & ~size_t{1};
        if (SOff + Pad + 4 > RN) break;
        std::u32string S;
        for (uint32_t I = 0; I < Cnt; ++I) S.push_back(FromCp1252(R[SOff + I]));
        double Y = S16(R, RN, SOff + Pad), X = S16(R, RN, SOff + Pad + 2);
        Text(X, Y, 0, nullptr, S, {});
        break;
      }
      case 0x0A32: {  // EXTTEXTOUT: y, x, count, options, [rect], string, [dx]
        double Y = W(0), X = W(1);
        uint32_t Cnt = UW(2), Opt = UW(3);
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
      case 0x02FA: {
        TObj Ob;
        Ob.Kind = okPen;
        Ob.Pen.Style = UW(0);
        Ob.Pen.Width = std::abs(W(1));
        Ob.Pen.Cosmetic = Ob.Pen.Width == 0;
        Ob.Pen.Color = Color(3);
        StoreWMF(std::move(Ob));
        break;
      }
      case 0x02FC: {
        TObj Ob;
        Ob.Kind = okBrush;
        Ob.Brush.Style = UW(0);
        Ob.Brush.Color = Color(1);
        Ob.Brush.Hatch = UW(3);
        StoreWMF(std::move(Ob));
        break;
      }
      case 0x0142: {  // DIB pattern brush: style, colour usage, DIB
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
      case 0x02FB: {
        TObj Ob;
        Ob.Kind = okFont;
        Ob.Font.Height = W(0);
        Ob.Font.Escapement = W(2);
        Ob.Font.Weight = W(4);
        Ob.Font.Italic = U8(R, RN, 16) != 0;
        Ob.Font.Underline = U8(R, RN, 17) != 0;
        Ob.Font.StrikeOut = U8(R, RN, 18) != 0;
        Ob.Font.Quality = static_cast<uint8_t>(U8(R, RN, 22));
        for (size_t I = 24; I < 56 && I < RN && R[I]; ++I) Ob.Font.Face.push_back(char(R[I]));
        StoreWMF(std::move(Ob));
        break;
      }
      case 0x06FF: {  // region: header, bounding box, scans of x pairs
        TObj Ob;
        Ob.Kind = okRegion;
        uint32_t Scans = UW(5);
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
      case 0x00F7:  // palette
      case 0x01F9:  // pattern brush from a device bitmap
      {
        TObj Ob;
        Ob.Kind = okOther;
        if (Fn == 0x01F9) {
          Ob.Kind = okBrush;
          Ob.Brush.Style = 0;
          Ob.Brush.Color = 0x808080;
        }
        StoreWMF(std::move(Ob));
        break;
      }
      case 0x012D:
        Select(UW(0));
        break;
      case 0x01F0:
        Delete(UW(0));
        break;
      case 0x012C:  // select clip region
        if (TObj* Ob = Object(UW(0)); Ob && Ob->Kind == okRegion) SetClip(Ob->Region, rgnCopy);
        break;
      case 0x0416:
      case 0x0415: {
        TRect D = DevRect(W(3), W(2), W(1), W(0));
        D = Rect(std::min(D.Left, D.Right), std::min(D.Top, D.Bottom), std::max(D.Left, D.Right),
                 std::max(D.Top, D.Bottom));
        SetClip(TRegion(D), Fn == 0x0416 ? rgnAnd : rgnDiff);
        break;
      }
      case 0x0220:
        if (FDC.HasClip) {
          TXForm M = Full();
          FDC.Clip.Offset(QLRound32(W(1) * M.A), QLRound32(W(0) * M.E));
          FClipDirty = true;
        }
        break;
      case 0x0228:  // fill region with brush
      case 0x012B:  // paint region with the current brush
      case 0x012A: {
        TObj* Rg = Object(UW(0));
        if (!Rg || Rg->Kind != okRegion || FInPath) break;
        Realize();
        if (Fn == 0x012A) {
          FC.InvertRegion(Rg->Region);
        } else {
          if (Fn == 0x0228) {
            if (TObj* Br = Object(UW(1)); Br && Br->Kind == okBrush) RealizeBrush(Br->Brush);
          }
          FC.FillRegion(Rg->Region);
        }
        break;
      }
      case 0x061D:  // PATBLT: rop, height, width, y, x
        if (FInPath) break;
        Realize();
        FC.PatBlt(DevRect(W(5), W(4), W(5) + W(3), W(4) + W(2)),
                  static_cast<TCopyMode>(U32(R, RN, 6)));
        break;
      case 0x0940:
      case 0x0B41:
      case 0x0F43:
      case 0x0D33: {
        uint32_t Rop = U32(R, RN, 6);
        bool NoDIB = RN == size_t((Fn >> 8) + 3) * 2;
        double SX, SY, SW, SH, DX, DY, DW, DH;
        size_t DibOff;
        if (Fn == 0x0940) {  // rop, ySrc, xSrc, height, width, yDest, xDest
          size_t K = NoDIB ? 1 : 0;
          SY = W(2);
          SX = W(3);
          DH = SH = W(4 + K);
          DW = SW = W(5 + K);
          DY = W(6 + K);
          DX = W(7 + K);
          DibOff = 6 + 2 * 8;
        } else if (Fn == 0x0B41) {  // rop, srcH, srcW, ySrc, xSrc, destH, destW, yDest, xDest
          size_t K = NoDIB ? 1 : 0;
          SH = W(2);
          SW = W(3);
          SY = W(4);
          SX = W(5);
          DH = W(6 + K);
          DW = W(7 + K);
          DY = W(8 + K);
          DX = W(9 + K);
          DibOff = 6 + 2 * 10;
        } else if (Fn == 0x0F43) {  // rop, usage, srcH, srcW, ySrc, xSrc, destH, destW, yDst, xDst
          SH = W(3);
          SW = W(4);
          SY = W(5);
          SX = W(6);
          DH = W(7);
          DW = W(8);
          DY = W(9);
          DX = W(10);
          DibOff = 6 + 2 * 11;
        } else {  // usage, scans, start, yDib, xDib, height, width, yDest, xDest
          Rop = static_cast<uint32_t>(cmSrcCopy);
          SY = W(3);
          SX = W(4);
          DH = SH = W(5);
          DW = SW = W(6);
          DY = W(7);
          DX = W(8);
          DibOff = 6 + 2 * 9;
        }
        if (NoDIB || DibOff >= RN) {
          Blit(DX, DY, DW, DH, R, RN, 0, 0, 0, 0, 0, 0, 0, 0, Rop, false);
          break;
        }
        // The pixels follow the header and palette inside the same block.
        size_t Hdr = QLPackedDIBInfoSize(R + DibOff, RN - DibOff);
        if (!Hdr) break;
        Blit(DX, DY, DW, DH, R, RN, DibOff, Hdr, DibOff + Hdr, RN - DibOff - Hdr, SX, SY, SW, SH,
             Rop, Fn == 0x0F43 || Fn == 0x0D33);
        break;
      }
      default:
        // Escapes, palettes, mapper flags, layout and records this player does not draw.
        break;
    }
  }
}

// ---- the enhanced records

void TPlayer::PlayEMF(const uint8_t* P, size_t N, int32_t Handles) {
  FObjects.resize(static_cast<size_t>(std::clamp(Handles, 0, int32_t(kMaxObjects))));
  size_t O = 0;
  std::vector<TPointF> Pts;
  while (O + 8 <= N) {
    uint32_t Type = U32(P, N, O);
    uint64_t Size = U32(P, N, O + 4);
    if (Size < 8 || Size > N - O) break;
    const uint8_t* R = P + O;
    const size_t RN = static_cast<size_t>(Size);
    O += RN;
    auto I32 = [&](size_t Off) { return S32(R, RN, Off); };
    auto D32 = [&](size_t Off) { return U32(R, RN, Off); };
    auto Flt = [&](size_t Off) { return F32(R, RN, Off); };
    switch (Type) {
      case 14:  // end of file
        return;
      case 9:
        FDC.WEX = I32(8);
        FDC.WEY = I32(12);
        break;
      case 10:
        FDC.WOX = I32(8);
        FDC.WOY = I32(12);
        break;
      case 11:
        FDC.VEX = I32(8);
        FDC.VEY = I32(12);
        break;
      case 12:
        FDC.VOX = I32(8);
        FDC.VOY = I32(12);
        break;
      case 31:  // scale viewport extent: x num, x denom, y num, y denom
      case 32:
        if (I32(12) && I32(20)) {
          double& EX = Type == 31 ? FDC.VEX : FDC.WEX;
          double& EY = Type == 31 ? FDC.VEY : FDC.WEY;
          EX = EX * I32(8) / I32(12);
          EY = EY * I32(16) / I32(20);
        }
        break;
      case 17:
        FDC.MapMode = I32(8);
        break;
      case 18:
        FDC.BkMode = I32(8);
        break;
      case 19:
        FDC.PolyFill = I32(8);
        break;
      case 20:
        FDC.Rop2 = I32(8);
        break;
      case 22:
        FDC.TextAlign = D32(8);
        break;
      case 24:
        FDC.TextColor = static_cast<TColor>(D32(8) & 0xFFFFFF);
        break;
      case 25:
        FDC.BkColor = static_cast<TColor>(D32(8) & 0xFFFFFF);
        break;
      case 57:
        FDC.ArcCW = I32(8) == 2;
        break;
      case 33:
        SaveDC();
        break;
      case 34:
        RestoreDC(I32(8));
        break;
      case 35:
      case 36: {
        TXForm X{Flt(8), Flt(16), Flt(24), Flt(12), Flt(20), Flt(28)};
        uint32_t Mode = Type == 35 ? 4 : D32(32);
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
      case 27:
        MoveTo(I32(8), I32(12));
        break;
      case 54:
        LineTo(I32(8), I32(12));
        break;
      case 15: {
        if (FInPath) break;
        Realize();
        TPoint D = Round(Dev(I32(8), I32(12)));
        FC.SetPixel(D.X, D.Y, static_cast<TColor>(D32(16) & 0xFFFFFF));
        break;
      }
      case 43:
        Shape(0, I32(8), I32(12), I32(16), I32(20), 0, 0, nullptr);
        break;
      case 42:
        Shape(1, I32(8), I32(12), I32(16), I32(20), 0, 0, nullptr);
        break;
      case 44:
        Shape(2, I32(8), I32(12), I32(16), I32(20), I32(24), I32(28), nullptr);
        break;
      case 45:
      case 46:
      case 47:
      case 55: {
        TPointF Rad[2] = {{double(I32(24)), double(I32(28))}, {double(I32(32)), double(I32(36))}};
        if (Type == 55) {
          // Arc-to: a line to the arc's start, the arc, and the position at its end.
          double L = I32(8), T = I32(12), Rr = I32(16), B = I32(20);
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
        Shape(Type == 45 ? 3 : Type == 46 ? 5 : 4, I32(8), I32(12), I32(16), I32(20), 0, 0, Rad);
        break;
      }
      case 41: {  // angle arc: centre, radius, start, sweep (degrees)
        double CX = I32(8), CY = I32(12), Rad = D32(16);
        double A0 = Flt(20) * std::numbers::pi / 180, Sw = Flt(24) * std::numbers::pi / 180;
        if (Rad > 1e7) break;
        std::vector<TPointF> A;
        ArcPoints(A, CX, CY, Rad, Rad, A0, Sw);
        PolyTo(A, false);
        break;
      }
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
      case 85:
      case 86:
      case 87:
      case 88:
      case 89: {
        bool Wide = Type < 85;
        if (!ReadPoints(R, RN, 28, D32(24), Wide, Pts)) break;
        uint32_t Kind = Wide ? Type : Type - 83;
        if (Kind == 2)
          PolyBezier(Pts);
        else if (Kind == 3)
          PolyPolygon({Pts});
        else if (Kind == 4)
          Polyline(Pts);
        else
          PolyTo(Pts, Kind == 5);
        break;
      }
      case 7:
      case 8:
      case 90:
      case 91: {
        bool Wide = Type < 90;
        uint32_t NP = D32(24), NT = D32(28);
        if (NP > (RN - 32) / 4) break;
        size_t Off = 32 + size_t(NP) * 4;
        if (!ReadPoints(R, RN, Off, NT, Wide, Pts)) break;
        std::vector<std::vector<TPointF>> Cs;
        size_t At = 0;
        for (uint32_t I = 0; I < NP; ++I) {
          uint32_t C = D32(32 + size_t(I) * 4);
          if (C > Pts.size() - At) break;
          Cs.emplace_back(Pts.begin() + static_cast<ptrdiff_t>(At),
                          Pts.begin() + static_cast<ptrdiff_t>(At + C));
          At += C;
        }
        if (Type == 8 || Type == 91) {
          PolyPolygon(Cs);
        } else {
          for (auto& C : Cs) Polyline(C);
        }
        break;
      }
      case 56:
      case 92: {  // poly-draw: points then one type byte each
        bool Wide = Type == 56;
        uint32_t Cnt = D32(24);
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
      case 59:
        FInPath = true;
        FPath.clear();
        break;
      case 60:
        FInPath = false;
        break;
      case 61:
        CloseFigure();
        break;
      case 68:
        FInPath = false;
        FPath.clear();
        break;
      case 62:
      case 63:
      case 64:
        FillPath(Type != 62, Type != 64);
        break;
      case 67:
        SetClip(PathRegion(), static_cast<TRegionOp>(std::clamp(I32(8), 1, 5)));
        break;
      case 37:
        Select(D32(8));
        break;
      case 40:
        Delete(D32(8));
        break;
      case 38: {
        TObj Ob;
        Ob.Kind = okPen;
        Ob.Pen.Style = I32(12);
        Ob.Pen.Width = std::abs(I32(16));
        Ob.Pen.Cosmetic = Ob.Pen.Width == 0;
        Ob.Pen.Color = static_cast<TColor>(D32(24) & 0xFFFFFF);
        StoreEMF(D32(8), std::move(Ob));
        break;
      }
      case 95: {  // extended pen: type and style, width, brush style, colour
        TObj Ob;
        Ob.Kind = okPen;
        uint32_t Style = D32(28);
        Ob.Pen.Style = static_cast<int32_t>(Style & 0xF);
        Ob.Pen.Width = D32(32);
        Ob.Pen.Cosmetic = !(Style & 0x10000) || Ob.Pen.Width == 0;
        Ob.Pen.Color = static_cast<TColor>(D32(40) & 0xFFFFFF);
        if (D32(36) == 1) Ob.Pen.Style = 5;  // hollow brush: no line
        Ob.Pen.EndCap = Style & 0xF00;
        if (!Ob.Pen.Cosmetic && Ob.Pen.Width > 0) {
          // Geometric styles scale with the width; a user style lists its own lengths.
          static const std::vector<double> Styles[5] = {
              {}, {3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
          if (Ob.Pen.Style >= 1 && Ob.Pen.Style <= 4) {
            for (double V : Styles[Ob.Pen.Style]) Ob.Pen.Dash.push_back(V * Ob.Pen.Width);
            Ob.Pen.Style = 0;
          } else if (Ob.Pen.Style == 7) {
            uint32_t NE = std::min<uint32_t>(D32(48), 16);
            for (uint32_t I = 0; I < NE && 52 + 4 * size_t(I) + 4 <= RN; ++I)
              Ob.Pen.Dash.push_back(D32(52 + 4 * size_t(I)));
            Ob.Pen.Style = 0;
          }
          double Sum = 0;
          for (double V : Ob.Pen.Dash) Sum += V;
          if (Sum <= 0) Ob.Pen.Dash.clear();
        }
        StoreEMF(D32(8), std::move(Ob));
        break;
      }
      case 39: {
        TObj Ob;
        Ob.Kind = okBrush;
        Ob.Brush.Style = I32(12);
        Ob.Brush.Color = static_cast<TColor>(D32(16) & 0xFFFFFF);
        Ob.Brush.Hatch = I32(20);
        StoreEMF(D32(8), std::move(Ob));
        break;
      }
      case 93:
      case 94: {  // mono or DIB pattern brush: usage, bmi offset and size, bits offset and size
        TObj Ob;
        Ob.Kind = okBrush;
        Ob.Brush.Style = 5;
        size_t OB = D32(16), CB = D32(20), OBits = D32(24), CBits = D32(28);
        auto B = std::make_shared<TBitmap>();
        if (OB <= RN && CB <= RN - OB && OBits <= RN && CBits <= RN - OBits &&
            QLDecodeDIB(R + OB, CB, R + OBits, CBits, *B))
          Ob.Brush.Pattern = B;
        else
          Ob.Brush.Style = 0;
        StoreEMF(D32(8), std::move(Ob));
        break;
      }
      case 82: {
        TObj Ob;
        Ob.Kind = okFont;
        Ob.Font.Height = I32(12);
        Ob.Font.Escapement = I32(20);
        Ob.Font.Weight = I32(28);
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
        StoreEMF(D32(8), std::move(Ob));
        break;
      }
      case 49: {
        TObj Ob;
        Ob.Kind = okOther;
        StoreEMF(D32(8), std::move(Ob));
        break;
      }
      case 83:
      case 84: {  // text: bounds, mode, scales, then reference, count, offset, options, rect, dx
        double X = I32(36), Y = I32(40);
        uint32_t Cnt = D32(44), SOff = D32(48), Opt = D32(52), DOff = D32(72);
        size_t Each = Type == 84 ? 2 : 1;
        if (SOff > RN || Cnt > (RN - SOff) / Each) break;
        std::u32string S;
        for (uint32_t I = 0; I < Cnt; ++I) {
          if (Type == 84) {
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
          for (uint32_t I = 0; I < Cnt; ++I) Dx.push_back(I32(DOff + 4 * size_t(I)));
        // Surrogate pairs leave fewer characters than advances; drop the extra ones.
        if (Dx.size() > S.size()) Dx.resize(S.size());
        if (!Dx.empty() && Dx.size() < S.size()) Dx.clear();
        TRect Rc{};
        bool HasRect = (Opt & (etoOpaque | etoClipped)) != 0;
        if (HasRect) {
          Rc = DevRect(I32(56), I32(60), I32(64), I32(68));
          Rc = Rect(std::min(Rc.Left, Rc.Right), std::min(Rc.Top, Rc.Bottom),
                    std::max(Rc.Left, Rc.Right), std::max(Rc.Top, Rc.Bottom));
        }
        Text(X, Y, Opt, HasRect ? &Rc : nullptr, S, Dx);
        break;
      }
      case 30:
      case 29: {
        TRect D = DevRect(I32(8), I32(12), I32(16), I32(20));
        D = Rect(std::min(D.Left, D.Right), std::min(D.Top, D.Bottom), std::max(D.Left, D.Right),
                 std::max(D.Top, D.Bottom));
        SetClip(TRegion(D), Type == 30 ? rgnAnd : rgnDiff);
        break;
      }
      case 26:
        if (FDC.HasClip) {
          TXForm M = Full();
          FDC.Clip.Offset(QLRound32(I32(8) * M.A), QLRound32(I32(12) * M.E));
          FClipDirty = true;
        }
        break;
      case 75: {  // select clip region: data size, mode, region data in device units
        uint32_t Cb = D32(8), Mode = D32(12);
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
      case 71:
      case 73:
      case 74: {  // fill (with a brush), invert, paint: bounds, data size, [brush], data
        if (FInPath) break;
        uint32_t Cb = D32(24);
        size_t DOff = Type == 71 ? 32 : 28;
        TRegion Rg = RegionFromRgnData(R, RN, DOff, Cb);
        Realize();
        if (Type == 73) {
          FC.InvertRegion(Rg);
        } else {
          if (Type == 71) {
            uint32_t Ih = D32(28);
            if (TObj* Br = Object(Ih); Br && Br->Kind == okBrush) RealizeBrush(Br->Brush);
          }
          FC.FillRegion(Rg);
        }
        break;
      }
      case 76:
      case 77: {  // bit-block transfers with an optional source DIB
        double DX = I32(24), DY = I32(28), DW = I32(32), DH = I32(36);
        uint32_t Rop = D32(40);
        double SX = I32(44), SY = I32(48);
        size_t OB = D32(84), CB = D32(88), OBits = D32(92), CBits = D32(96);
        double SW = Type == 77 ? I32(100) : DW, SH = Type == 77 ? I32(104) : DH;
        Blit(DX, DY, DW, DH, R, RN, OB, CB, OBits, CBits, SX, SY, SW, SH, Rop, false);
        break;
      }
      case 81: {  // stretch DIB bits
        double DX = I32(24), DY = I32(28), SX = I32(32), SY = I32(36), SW = I32(40), SH = I32(44);
        size_t OB = D32(48), CB = D32(52), OBits = D32(56), CBits = D32(60);
        uint32_t Rop = D32(68);
        double DW = I32(72), DH = I32(76);
        if (CB == 0) break;
        Blit(DX, DY, DW, DH, R, RN, OB, CB, OBits, CBits, SX, SY, SW, SH, Rop, true);
        break;
      }
      case 80: {  // set DIB bits to the device
        double DX = I32(24), DY = I32(28), SX = I32(32), SY = I32(36), SW = I32(40), SH = I32(44);
        size_t OB = D32(48), CB = D32(52), OBits = D32(56), CBits = D32(60);
        if (CB == 0) break;
        Blit(DX, DY, SW, SH, R, RN, OB, CB, OBits, CBits, SX, SY, SW, SH,
             static_cast<uint32_t>(cmSrcCopy), true);
        break;
      }
      default:
        // Comments (including embedded drawing records of later formats), palettes, colour
        // management and the rest draw nothing here.
        break;
    }
  }
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
