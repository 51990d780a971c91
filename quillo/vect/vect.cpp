// The object store, the object properties, the lists, the selection of objects, the bitmap
// table and the measures.
#include "quillo/vect/vect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "quillo/core/selection.h"
#include "quillo/proc/analysis.h"

namespace quillo {

const char* const strunits[8] = {"pixels", "inches", "km",      "mt",
                                 "cm",     "mm",     "microns", "nanometers"};

std::string TQLLogFont::Face() const {
  return std::string(FaceName.data(), strnlen(FaceName.data(), FaceName.size()));
}

void TQLLogFont::SetFace(const std::string& Name) {
  FaceName.fill(0);
  std::memcpy(FaceName.data(), Name.data(), std::min(Name.size(), FaceName.size() - 1));
}

TBitmap QLVDefaultPicture(int32_t Size) {
  // A small landscape: sky fading to the horizon, a sun, a green hill, a frame.
  TBitmap B(Size, Size, pf24bit);
  const double S = Size;
  for (int32_t Y = 0; Y < Size; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < Size; ++X) {
      uint8_t R = static_cast<uint8_t>(90 + 120 * Y / Size),
              G = static_cast<uint8_t>(150 + 80 * Y / Size), Bl = 235;
      const double DX = X - S * 0.7, DY = Y - S * 0.3;
      if (DX * DX + DY * DY < S * S * 0.018) R = 255, G = 214, Bl = 60;
      const double Hill = S * 0.62 + S * 0.12 * std::sin(X * 6.0 / S);
      if (Y > Hill) R = 60, G = static_cast<uint8_t>(150 - 50 * (Y - Hill) / S), Bl = 70;
      if (X == 0 || Y == 0 || X == Size - 1 || Y == Size - 1) R = G = Bl = 70;
      Row[3 * X] = Bl, Row[3 * X + 1] = G, Row[3 * X + 2] = R;
    }
  }
  return B;
}

TQuilloVect::TQuilloVect(TComponent* AOwner)
    : TQuilloView(AOwner), FHint(std::make_unique<THintWindow>()) {
  FHint->SetVisible(false);
  FHint->SetParent(this);
  FTemplate.PenColor = Canvas().Font().GetColor();
  TFont F = Canvas().Font();
  F.SetName("Arial");
  FTemplate.Font = LogFontOf(F);
  FTemplate.HasFont = true;
  const TBitmap Icon = QLVDefaultPicture(64);
  FTemplate.BitmapIndex = StoreBitmap(Icon);
  RecalcCoef();
}

TQuilloVect::~TQuilloVect() {
  FEditor.reset();
}

// ---------------------------------------------------------------------------------------------
// Handles and properties

TQLVObject& TQuilloVect::Obj(int32_t h) {
  if (h == kTemplate) return FTemplate;
  if (h == kLastAdded) return FStore.back().O;
  return FStore[static_cast<size_t>(h)].O;
}

const TQLVObject& TQuilloVect::Obj(int32_t h) const {
  return const_cast<TQuilloVect*>(this)->Obj(h);
}

void TQuilloVect::Changed(int32_t h) {
  if (h != kTemplate) FBoundsDirty = true;
  if (h != kTemplate) Update();
}

#define QL_VSETTER(Name, Type, Field)                 \
  void TQuilloVect::SetObj##Name(int32_t h, Type V) { \
    Obj(h).Field = V;                                 \
    Changed(h);                                       \
  }
QL_VSETTER(PenColor, TColor, PenColor)
QL_VSETTER(PenWidth, int32_t, PenWidth)
QL_VSETTER(BrushColor, TColor, BrushColor)
QL_VSETTER(BeginShape, TQLShape, BeginShape)
QL_VSETTER(EndShape, TQLShape, EndShape)
QL_VSETTER(ShapeWidth, int32_t, ShapeWidth)
QL_VSETTER(ShapeHeight, int32_t, ShapeHeight)
QL_VSETTER(BeginAngle, double, BeginAngle)
QL_VSETTER(EndAngle, double, EndAngle)
QL_VSETTER(Name, const std::string&, Name)
QL_VSETTER(ID, int32_t, ID)
QL_VSETTER(Style, TQLVStyle, Style)
QL_VSETTER(TextAlign, uint8_t, TextAlign)
QL_VSETTER(RulerUnit, TQLUnits, RulerUnit)
QL_VSETTER(RulerType, TQLVRulerType, RulerType)
#undef QL_VSETTER

void TQuilloVect::SetObjPenStyle(int32_t h, TPenStyle S) {
  Obj(h).PenStyle = S;
  Changed(h);
}

void TQuilloVect::SetObjBrushStyle(int32_t h, TBrushStyle S) {
  Obj(h).BrushStyle = S;
  Changed(h);
}

void TQuilloVect::SetObjKind(int32_t h, TQLVObjectKind K) {
  TQLVObject& O = Obj(h);
  O.Kind = K;
  if (K == qlkTEXT && !O.HasFont) {
    O.Font = FTemplate.Font;
    O.HasFont = true;
  }
  Changed(h);
}

TRect TQuilloVect::GetObjRect(int32_t h) const {
  const TQLVObject& O = Obj(h);
  return TRect{O.X1, O.Y1, O.X2, O.Y2};
}

void TQuilloVect::SetObjRect(int32_t h, const TRect& R) {
  TQLVObject& O = Obj(h);
  O.X1 = R.Left, O.Y1 = R.Top, O.X2 = R.Right, O.Y2 = R.Bottom;
  Changed(h);
}

void TQuilloVect::SetObjLeft(int32_t h, int32_t V) {
  TQLVObject& O = Obj(h);
  O.X2 = QLVSat(int64_t(O.X2) + V - O.X1);
  O.X1 = V;
  Changed(h);
}

void TQuilloVect::SetObjTop(int32_t h, int32_t V) {
  TQLVObject& O = Obj(h);
  O.Y2 = QLVSat(int64_t(O.Y2) + V - O.Y1);
  O.Y1 = V;
  Changed(h);
}

int32_t TQuilloVect::GetObjWidth(int32_t h) const {
  return QLVSat(int64_t(Obj(h).X2) - Obj(h).X1 + 1);
}

int32_t TQuilloVect::GetObjHeight(int32_t h) const {
  return QLVSat(int64_t(Obj(h).Y2) - Obj(h).Y1 + 1);
}

void TQuilloVect::SetObjWidth(int32_t h, int32_t V) {
  Obj(h).X2 = QLVSat(int64_t(Obj(h).X1) + V - 1);
  Changed(h);
}

void TQuilloVect::SetObjHeight(int32_t h, int32_t V) {
  Obj(h).Y2 = QLVSat(int64_t(Obj(h).Y1) + V - 1);
  Changed(h);
}

void TQuilloVect::SetObjText(int32_t h, const std::string& T) {
  Obj(h).Text = T;
  Changed(h);
}

void TQuilloVect::SetObjFontAngle(int32_t h, int32_t Degrees) {
  Obj(h).Font.Escapement = Degrees * 10;
  Changed(h);
}

void TQuilloVect::SetObjFontHeight(int32_t h, int32_t V) {
  Obj(h).Font.Height = V;
  Changed(h);
}

void TQuilloVect::SetObjFontName(int32_t h, const std::string& N) {
  Obj(h).Font.SetFace(N);
  Changed(h);
}

TFontStyles TQuilloVect::GetObjFontStyles(int32_t h) const {
  const TQLLogFont& F = Obj(h).Font;
  TFontStyles S = 0;
  if (F.Weight >= 700) S |= fsBold;
  if (F.Italic) S |= fsItalic;
  if (F.Underline) S |= fsUnderline;
  if (F.StrikeOut) S |= fsStrikeOut;
  return S;
}

void TQuilloVect::SetObjFontStyles(int32_t h, TFontStyles S) {
  TQLLogFont& F = Obj(h).Font;
  F.Weight = (S & fsBold) ? 700 : 400;
  F.Italic = (S & fsItalic) ? 1 : 0;
  F.Underline = (S & fsUnderline) ? 1 : 0;
  F.StrikeOut = (S & fsStrikeOut) ? 1 : 0;
  Changed(h);
}

TQLLogFont TQuilloVect::LogFontOf(const TFont& F) const {
  TQLLogFont L;
  L.Height = F.GetHeight();
  L.Escapement = L.Orientation = F.GetOrientation();
  L.Weight = F.GetWeight() ? F.GetWeight() : (F.GetStyle() & fsBold) ? 700 : 400;
  L.Italic = (F.GetStyle() & fsItalic) ? 1 : 0;
  L.Underline = (F.GetStyle() & fsUnderline) ? 1 : 0;
  L.StrikeOut = (F.GetStyle() & fsStrikeOut) ? 1 : 0;
  L.CharSet = F.GetCharset();
  L.Quality = static_cast<uint8_t>(F.GetQuality());
  L.SetFace(F.GetName());
  return L;
}

TFont TQuilloVect::MakeFont(const TQLLogFont& L, double Height) const {
  TFont F;
  F.SetName(L.Face().empty() ? "Arial" : L.Face());
  F.SetHeight(static_cast<int32_t>(Height));
  F.SetOrientation(L.Escapement);
  F.SetWeight(std::clamp(L.Weight, 0, 1000));
  TFontStyles S = 0;
  if (L.Italic) S |= fsItalic;
  if (L.Underline) S |= fsUnderline;
  if (L.StrikeOut) S |= fsStrikeOut;
  F.SetStyle(S);
  F.SetQuality(fqAntialiased);
  return F;
}

void TQuilloVect::SetObjFont(int32_t h, const TFont& F) {
  TQLVObject& O = Obj(h);
  O.Font = LogFontOf(F);
  O.HasFont = true;
  O.PenColor = F.GetColor();
  Changed(h);
}

// ---------------------------------------------------------------------------------------------
// Bitmap table

const TBitmap* TQuilloVect::BitmapTableEntry(int32_t I) const {
  if (I < 0 || I >= static_cast<int32_t>(FBitmaps.size())) return nullptr;
  return FBitmaps[static_cast<size_t>(I)].Bitmap.get();
}

int32_t TQuilloVect::BitmapTableRefs(int32_t I) const {
  if (I < 0 || I >= static_cast<int32_t>(FBitmaps.size())) return 0;
  return FBitmaps[static_cast<size_t>(I)].Refs;
}

void TQuilloVect::ReleaseBitmap(int32_t Index) {
  if (Index < 0 || Index >= static_cast<int32_t>(FBitmaps.size())) return;
  TBitmapEntry& E = FBitmaps[static_cast<size_t>(Index)];
  if (--E.Refs <= 0) {
    E.Refs = 0;
    E.Bitmap.reset();
  }
}

int32_t TQuilloVect::StoreBitmap(const TBitmap& B) {
  if (FShareBitmaps)
    for (int32_t I = static_cast<int32_t>(FBitmaps.size()) - 1; I >= 0; --I) {
      TBitmapEntry& E = FBitmaps[static_cast<size_t>(I)];
      if (E.Bitmap && _BitmapCompareX(*E.Bitmap, B)) {
        ++E.Refs;
        return I;
      }
    }
  size_t I = 0;
  while (I < FBitmaps.size() && FBitmaps[I].Bitmap) ++I;
  if (I == FBitmaps.size()) FBitmaps.emplace_back();
  FBitmaps[I].Bitmap = std::make_unique<TBitmap>();
  FBitmaps[I].Bitmap->Assign(B);
  FBitmaps[I].Refs = 1;
  return static_cast<int32_t>(I);
}

int32_t TQuilloVect::ShareIndex(int32_t Index) {
  const TBitmap* B = BitmapTableEntry(Index);
  if (!B) return -1;
  if (FShareBitmaps) {
    ++FBitmaps[static_cast<size_t>(Index)].Refs;
    return Index;
  }
  return StoreBitmap(*B);
}

const TBitmap* TQuilloVect::GetObjBitmap(int32_t h) const {
  return BitmapTableEntry(Obj(h).BitmapIndex);
}

void TQuilloVect::SetObjBitmap(int32_t h, const TBitmap* B) {
  TQLVObject& O = Obj(h);
  // The new one is stored before the old is released: they may be the same entry.
  const int32_t New = B ? StoreBitmap(*B) : -1;
  ReleaseBitmap(O.BitmapIndex);
  O.BitmapIndex = New;
  Changed(h);
}

void TQuilloVect::SetObjBitmapIndex(int32_t h, int32_t Index) {
  TQLVObject& O = Obj(h);
  const int32_t New = ShareIndex(Index);
  ReleaseBitmap(O.BitmapIndex);
  O.BitmapIndex = New;
  Changed(h);
}

// ---------------------------------------------------------------------------------------------
// The object list

int32_t TQuilloVect::AddObject(const TQLVObject& O) {
  FStore.push_back({O, false});
  FBoundsDirty = true;
  TQLVObject& N = FStore.back().O;
  N.BitmapIndex = ShareIndex(O.BitmapIndex);
  const int32_t h = static_cast<int32_t>(FStore.size()) - 1;
  FZ.push_back(h);
  return h;
}

int32_t TQuilloVect::AddNewObject() {
  const int32_t h = AddObject(FTemplate);
  Update();
  return h;
}

void TQuilloVect::RemoveObject(int32_t h) {
  if (h == kLastAdded) h = static_cast<int32_t>(FStore.size()) - 1;
  if (h < 0 || h >= static_cast<int32_t>(FStore.size()) || FStore[static_cast<size_t>(h)].Removed)
    return;
  CancelInteracts();
  UnSelObject(h);
  TStored& S = FStore[static_cast<size_t>(h)];
  ReleaseBitmap(S.O.BitmapIndex);
  S.O = TQLVObject{};
  S.Removed = true;
  FZ.erase(std::remove(FZ.begin(), FZ.end(), h), FZ.end());
  // The store shrinks only from its end, so that live handles never change.
  while (!FStore.empty() && FStore.back().Removed) FStore.pop_back();
  FBoundsDirty = true;
  Update();
}

void TQuilloVect::RemoveAllObjects() {
  CancelInteracts();
  const bool HadSelection = !FSelObjs.empty();
  FSelObjs.clear();
  for (TStored& S : FStore)
    if (!S.Removed) ReleaseBitmap(S.O.BitmapIndex);
  FStore.clear();
  FBoundsDirty = true;
  FZ.clear();
  if (HadSelection) SelectChanged();
  Update();
}

int32_t TQuilloVect::GetObjFromName(const std::string& Name) const {
  for (auto I = FZ.rbegin(); I != FZ.rend(); ++I)
    if (Obj(*I).Name == Name) return *I;
  return -1;
}

int32_t TQuilloVect::GetObjFromID(int32_t ID) const {
  for (auto I = FZ.rbegin(); I != FZ.rend(); ++I)
    if (Obj(*I).ID == ID) return *I;
  return -1;
}

void TQuilloVect::SetObjFrontOf(int32_t h, int32_t Other) {
  auto It = std::find(FZ.begin(), FZ.end(), h);
  if (It == FZ.end()) return;
  FZ.erase(It);
  auto At = Other < 0 ? FZ.end() : std::find(FZ.begin(), FZ.end(), Other);
  FZ.insert(At == FZ.end() ? FZ.end() : At + 1, h);
  FBoundsDirty = true;
  Update();
}

void TQuilloVect::SetObjBackTo(int32_t h, int32_t Other) {
  auto It = std::find(FZ.begin(), FZ.end(), h);
  if (It == FZ.end()) return;
  FZ.erase(It);
  auto At = Other < 0 ? FZ.begin() : std::find(FZ.begin(), FZ.end(), Other);
  FZ.insert(At, h);
  FBoundsDirty = true;
  Update();
}

TRect TQuilloVect::GetObjectsExtents() const {
  TRect R{0, 0, 0, 0};
  for (int32_t h : FZ) {
    const TQLVObject& O = Obj(h);
    R.Right = std::max({R.Right, QLVSat(int64_t(O.X1) + 1), QLVSat(int64_t(O.X2) + 1)});
    R.Bottom = std::max({R.Bottom, QLVSat(int64_t(O.Y1) + 1), QLVSat(int64_t(O.Y2) + 1)});
  }
  return R;
}

void TQuilloVect::SetAllObjectsHidden(bool Hidden) {
  FAllHidden = Hidden;
  Update();
}

void TQuilloVect::CopyObjectsToBack() {
  TBitmap& B = Bitmap();
  if (B.Empty()) return;
  if (B.GetPixelFormat() != pf24bit) B.SetPixelFormat(pf24bit);
  TCanvas C(&B);
  DrawObjects(C, false);
  ImageChange();
  Update();
}

void TQuilloVect::CopyObjectTo(int32_t h, TQuilloVect& Other) const {
  TQLVObject O = Obj(h);
  const TBitmap* B = BitmapTableEntry(O.BitmapIndex);
  O.BitmapIndex = B ? Other.StoreBitmap(*B) : -1;
  // AddObject shares the entry once more for the object; the store above counted one already.
  const int32_t New = Other.AddObject(O);
  Other.ReleaseBitmap(O.BitmapIndex);
  (void)New;
  Other.Update();
}

void TQuilloVect::CopyAllObjectsTo(TQuilloVect& Other) const {
  for (int32_t h : FZ) CopyObjectTo(h, Other);
}

void TQuilloVect::CopySelectedObjectsTo(TQuilloVect& Other) const {
  for (int32_t h : FSelObjs) CopyObjectTo(h, Other);
}

void TQuilloVect::Assign(const TQuilloVect* Source) {
  CancelInteracts();
  RemoveAllObjects();
  if (!Source || Source == this) return;
  Source->CopyAllObjectsTo(*this);
  FScale = Source->FScale;
  RecalcCoef();
  if (OnVectorialChanged) OnVectorialChanged(this);
}

// ---------------------------------------------------------------------------------------------
// Selection of objects

void TQuilloVect::SelectChanged() {
  Update();
  if (OnSelectObject) OnSelectObject(this);
}

void TQuilloVect::AddSelObject(int32_t h) {
  if (h < 0 || IsSelObject(h)) return;
  FSelObjs.push_back(h);
  SelectChanged();
}

void TQuilloVect::UnSelObject(int32_t h) {
  auto It = std::find(FSelObjs.begin(), FSelObjs.end(), h);
  if (It == FSelObjs.end()) return;
  FSelObjs.erase(It);
  SelectChanged();
}

bool TQuilloVect::IsSelObject(int32_t h) const {
  return std::find(FSelObjs.begin(), FSelObjs.end(), h) != FSelObjs.end();
}

void TQuilloVect::SelAllObjects() {
  FSelObjs.clear();
  SelInRect(kNoObject, TRect{0, 0, 1000000, 1000000});
}

void TQuilloVect::UnSelAllObjects() {
  if (FSelObjs.empty()) return;
  FSelObjs.clear();
  SelectChanged();
}

void TQuilloVect::SelInRect(int32_t h, const TRect& R) {
  auto Inside = [&](int32_t k) {
    const TQLVObject& O = Obj(k);
    const int32_t L = std::min(O.X1, O.X2), T = std::min(O.Y1, O.Y2);
    const int32_t Ri = std::max(O.X1, O.X2), B = std::max(O.Y1, O.Y2);
    return L >= R.Left && T >= R.Top && Ri <= R.Right && B <= R.Bottom;
  };
  for (int32_t k : FZ)
    if ((h == kNoObject || k == h) && Inside(k) && !IsSelObject(k)) FSelObjs.push_back(k);
  SelectChanged();
}

// ---------------------------------------------------------------------------------------------
// Measures

void TQuilloVect::RecalcCoef() {
  if (FMUnit == qluPIXELS) {
    FCoefX = FCoefY = 1;
  } else {
    const double DX = GetDPIX() > 0 ? GetDPIX() : 96, DY = GetDPIY() > 0 ? GetDPIY() : 96;
    double M = 1;
    switch (FMUnit) {
      case qluKM:
        M = 2.54 / 100000;
        break;
      case qluMETERS:
        M = 2.54 / 100;
        break;
      case qluCENTIMETERS:
        M = 2.54;
        break;
      case qluMILLIMETERS:
        M = 25.4;
        break;
      case qluMICRONS:
        M = 25400;
        break;
      case qluNANOMETERS:
        M = 25400000;
        break;
      default:
        break;
    }
    FCoefX = M / DX;
    FCoefY = M / DY;
  }
  FCoefX *= FScale;
  FCoefY *= FScale;
}

void TQuilloVect::SetMUnit(TQLUnits U) {
  FMUnit = U;
  RecalcCoef();
  Update();
}

void TQuilloVect::SetScale(double S) {
  FScale = S;
  RecalcCoef();
  Update();
}

void TQuilloVect::SetDPIX(int32_t V) {
  TQuilloView::SetDPIX(V);
  RecalcCoef();
}

void TQuilloVect::SetDPIY(int32_t V) {
  TQuilloView::SetDPIY(V);
  RecalcCoef();
}

void TQuilloVect::SetScaleFromPixels(int32_t Pixels, double Value) {
  if (Pixels == 0) return;
  const double Save = FScale;
  FScale = 1;
  RecalcCoef();
  const double Base = FCoefX;
  FScale = Save;
  if (Base == 0) return;
  SetScale(Value / Pixels / Base);
}

void TQuilloVect::SetScaleFromSelectionLen(double Value) {
  const double SX = FCoefX, SY = FCoefY;
  FCoefX = FCoefY = 1;
  const double Len = GetSelectionLen();
  FCoefX = SX, FCoefY = SY;
  SetScaleFromPixels(static_cast<int32_t>(Len), Value);
}

double TQuilloVect::GetSelectionLen() const {
  const TPoint* P = GetPolySelArray();
  const int32_t N = GetPolySelCount();
  if (!P || N <= 0) return 0;
  double L = 0;
  for (int32_t I = 1; I < N; ++I) {
    if (P[I].X == QLPolyBreak || P[I - 1].X == QLPolyBreak) continue;
    const double DX = (P[I].X - P[I - 1].X) * FCoefX, DY = (P[I].Y - P[I - 1].Y) * FCoefY;
    L += std::sqrt(DX * DX + DY * DY);
  }
  auto Seg = [&](TPoint A, TPoint B) {
    const double DX = (B.X - A.X) * FCoefX, DY = (B.Y - A.Y) * FCoefY;
    return std::sqrt(DX * DX + DY * DY);
  };
  if (FPolyDrawing) {
    if (P[N - 1].X != QLPolyBreak) L += Seg(P[N - 1], TPoint{XScr2Bmp(FMouseX), YScr2Bmp(FMouseY)});
  } else if (GetSelected() && N > 2 && P[N - 1].X != QLPolyBreak) {
    L += Seg(P[N - 1], P[0]);
  }
  return L;
}

double TQuilloVect::GetSelectionArea() const {
  const TPoint* P = GetPolySelArray();
  const int32_t N = GetPolySelCount();
  if (!P || N < 3) return 0;
  double Sum = 0;
  int32_t First = 0;
  for (int32_t I = 0; I < N; ++I) {
    if (P[I].X == QLPolyBreak) {
      First = I + 1;
      continue;
    }
    const bool Last = I + 1 >= N || P[I + 1].X == QLPolyBreak;
    const TPoint Q = Last ? P[First] : P[I + 1];
    Sum += static_cast<double>(P[I].X - Q.X) * (Q.Y + P[I].Y) * FCoefX * FCoefY;
  }
  return std::fabs(Sum) / 2;
}

TPoint TQuilloVect::GetSelectionCentroid() const {
  const TPoint* P = GetPolySelArray();
  int32_t N = GetPolySelCount();
  if (!P) return TPoint{0, 0};
  for (int32_t I = 0; I < N; ++I)
    if (P[I].X == QLPolyBreak) N = I;
  if (N < 3) return TPoint{0, 0};
  double A = 0, CX = 0, CY = 0;
  for (int32_t I = 0; I < N; ++I) {
    const TPoint Cur = P[I], Prev = P[I == 0 ? N - 1 : I - 1];
    const double Ai = static_cast<double>(Cur.Y) * Prev.X - static_cast<double>(Cur.X) * Prev.Y;
    A += Ai;
    CX += Ai * (Cur.X + Prev.X);
    CY += Ai * (Cur.Y + Prev.Y);
  }
  if (A == 0) return TPoint{0, 0};
  return TPoint{static_cast<int32_t>(CX / (3 * A)), static_cast<int32_t>(CY / (3 * A))};
}

std::string TQuilloVect::FormatMeasure(double V) const {
  char Buf[64];
  const int32_t Digits = std::clamp(FFloatDigits, 0, 18);
  std::snprintf(Buf, sizeof(Buf), "%.*f", Digits, V);
  // The precision bounds the significant digits, as a fixed format of that precision would.
  std::string S = Buf;
  const int32_t Prec = std::clamp(FFloatPrecision, 1, 18);
  int32_t Significant = 0;
  for (char& C : S) {
    if (C < '0' || C > '9') continue;
    if (Significant > 0 || C != '0') ++Significant;
    if (Significant > Prec) C = '0';
  }
  return S;
}

void TQuilloVect::SetZoomObjectsWidth(bool V) {
  FZoomObjectsWidth = V;
  Update();
}

void TQuilloVect::SetBitmapResampleFilter(TResampleFilter F) {
  FBitmapFilter = F;
  Update();
}

}  // namespace quillo
