// TQuilloVect: an image view carrying a layer of editable vector objects over its bitmap (lines
// with arrow heads, boxes, ellipses, arcs, bitmaps, text boxes and measuring rulers), placed,
// picked, moved and resized with the mouse, measured in physical units, saved to and loaded
// from the layer file, imported from DXF drawings, and burnt into the bitmap.
//
// Objects live in bitmap pixels. A handle is the object's index in the store and never changes
// while the object lives; the special handles are kTemplate (-1: the properties of the next
// object made), kLastAdded (-2), kNoObject (-3) and kNoGrip (-4).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quillo/platform/controls.h"
#include "quillo/proc/geometry.h"
#include "quillo/view/quilloview.h"

namespace quillo {

enum TQLVObjectKind : uint8_t {
  qlkNONE,
  qlkLINE,
  qlkBOX,
  qlkELLIPSE,
  qlkARC,
  qlkBITMAP,
  qlkTEXT,
  qlkRULER
};
enum TQLShape : uint8_t { qlsNONE, qlsINARROW, qlsOUTARROW };
enum TQLVRulerType : uint8_t { qlrtRULER, qlrtQUOTEBEGIN, qlrtQUOTECENTER, qlrtQUOTEEND };
enum TQLUnits : uint8_t {
  qluPIXELS,
  qluINCHES,
  qluKM,
  qluMETERS,
  qluCENTIMETERS,
  qluMILLIMETERS,
  qluMICRONS,
  qluNANOMETERS
};
// The units' display names, in the order above.
extern const char* const strunits[8];

using TQLVStyle = uint8_t;
constexpr TQLVStyle qlvsSelectable = 1;
constexpr TQLVStyle qlvsMoveable = 2;
constexpr TQLVStyle qlvsSizeable = 4;
constexpr TQLVStyle qlvsVisible = 8;

using TQLMouseInteractVt = uint16_t;
constexpr TQLMouseInteractVt miArea = 1 << 0;
constexpr TQLMouseInteractVt miLineLen = 1 << 1;
constexpr TQLMouseInteractVt miPutLine = 1 << 2;
constexpr TQLMouseInteractVt miPutBox = 1 << 3;
constexpr TQLMouseInteractVt miPutEllipse = 1 << 4;
constexpr TQLMouseInteractVt miPutBitmap = 1 << 5;
constexpr TQLMouseInteractVt miPutText = 1 << 6;
constexpr TQLMouseInteractVt miObjectSelect = 1 << 7;
constexpr TQLMouseInteractVt miDragLen = 1 << 8;
constexpr TQLMouseInteractVt miPutRuler = 1 << 9;

// The logical-font record stored with text objects: 60 bytes, little-endian in the layer file.
struct TQLLogFont {
  int32_t Height = 0;
  int32_t Width = 0;
  int32_t Escapement = 0;  // tenths of a degree
  int32_t Orientation = 0;
  int32_t Weight = 400;
  uint8_t Italic = 0, Underline = 0, StrikeOut = 0, CharSet = 1;
  uint8_t OutPrecision = 0, ClipPrecision = 0, Quality = 0, PitchAndFamily = 0;
  std::array<char, 32> FaceName{};
  std::string Face() const;
  void SetFace(const std::string& Name);
};
static_assert(sizeof(TQLLogFont) == 60, "the font record is 60 bytes in the layer file");

struct TQLVObject {
  int32_t X1 = 0, Y1 = 0, X2 = 63, Y2 = 63;
  TQLVObjectKind Kind = qlkNONE;
  TQLShape BeginShape = qlsNONE, EndShape = qlsNONE;
  int32_t ShapeWidth = 10, ShapeHeight = 20;
  TColor PenColor = clBlack;
  uint8_t PenStyle = psSolid;
  int32_t PenWidth = 1;
  TColor BrushColor = clWhite;
  uint8_t BrushStyle = 1;  // 1: clear
  double BeginAngle = 0, EndAngle = 6.283185307179586;
  int32_t BitmapIndex = -1;
  std::string Text;
  bool HasFont = false;
  TQLLogFont Font;
  uint8_t TextAlign = 0;  // 0 left, 1 right, 2 centred
  std::string Name;
  int32_t ID = 0;
  TQLVStyle Style = 15;
  TQLUnits RulerUnit = qluPIXELS;
  TQLVRulerType RulerType = qlrtQUOTECENTER;
};

using TQLVMeasureHintEvent = std::function<void(TObject* Sender, std::string& Hint, double Value)>;
using TQLVDragLenEndEvent = std::function<void(TObject* Sender, double Length)>;
using TQLVNewObject = std::function<void(TObject* Sender, int32_t hobj)>;

class TQuilloVect : public TQuilloView {
 public:
  static constexpr int32_t kTemplate = -1, kLastAdded = -2, kNoObject = -3, kNoGrip = -4;

  explicit TQuilloVect(TComponent* AOwner = nullptr);
  ~TQuilloVect() override;

  // --- object properties (handle -1: the template, changed without repainting) ---------------
  TQLVObjectKind GetObjKind(int32_t h) const { return Obj(h).Kind; }
  void SetObjKind(int32_t h, TQLVObjectKind K);
  TRect GetObjRect(int32_t h) const;
  void SetObjRect(int32_t h, const TRect& R);
  int32_t GetObjLeft(int32_t h) const { return Obj(h).X1; }
  void SetObjLeft(int32_t h, int32_t V);
  int32_t GetObjTop(int32_t h) const { return Obj(h).Y1; }
  void SetObjTop(int32_t h, int32_t V);
  int32_t GetObjWidth(int32_t h) const;
  void SetObjWidth(int32_t h, int32_t V);
  int32_t GetObjHeight(int32_t h) const;
  void SetObjHeight(int32_t h, int32_t V);
  TColor GetObjPenColor(int32_t h) const { return Obj(h).PenColor; }
  void SetObjPenColor(int32_t h, TColor C);
  TPenStyle GetObjPenStyle(int32_t h) const { return static_cast<TPenStyle>(Obj(h).PenStyle); }
  void SetObjPenStyle(int32_t h, TPenStyle S);
  int32_t GetObjPenWidth(int32_t h) const { return Obj(h).PenWidth; }
  void SetObjPenWidth(int32_t h, int32_t W);
  TColor GetObjBrushColor(int32_t h) const { return Obj(h).BrushColor; }
  void SetObjBrushColor(int32_t h, TColor C);
  TBrushStyle GetObjBrushStyle(int32_t h) const {
    return static_cast<TBrushStyle>(Obj(h).BrushStyle);
  }
  void SetObjBrushStyle(int32_t h, TBrushStyle S);
  TQLShape GetObjBeginShape(int32_t h) const { return Obj(h).BeginShape; }
  void SetObjBeginShape(int32_t h, TQLShape S);
  TQLShape GetObjEndShape(int32_t h) const { return Obj(h).EndShape; }
  void SetObjEndShape(int32_t h, TQLShape S);
  int32_t GetObjShapeWidth(int32_t h) const { return Obj(h).ShapeWidth; }
  void SetObjShapeWidth(int32_t h, int32_t V);
  int32_t GetObjShapeHeight(int32_t h) const { return Obj(h).ShapeHeight; }
  void SetObjShapeHeight(int32_t h, int32_t V);
  double GetObjBeginAngle(int32_t h) const { return Obj(h).BeginAngle; }
  void SetObjBeginAngle(int32_t h, double A);
  double GetObjEndAngle(int32_t h) const { return Obj(h).EndAngle; }
  void SetObjEndAngle(int32_t h, double A);
  // The object's bitmap (nullptr for none); setting stores it by the sharing rule.
  const TBitmap* GetObjBitmap(int32_t h) const;
  void SetObjBitmap(int32_t h, const TBitmap* B);
  int32_t GetObjBitmapIndex(int32_t h) const { return Obj(h).BitmapIndex; }
  void SetObjBitmapIndex(int32_t h, int32_t Index);
  const std::string& GetObjText(int32_t h) const { return Obj(h).Text; }
  void SetObjText(int32_t h, const std::string& T);
  const std::string& GetObjName(int32_t h) const { return Obj(h).Name; }
  void SetObjName(int32_t h, const std::string& N);
  int32_t GetObjID(int32_t h) const { return Obj(h).ID; }
  void SetObjID(int32_t h, int32_t ID);
  TQLVStyle GetObjStyle(int32_t h) const { return Obj(h).Style; }
  void SetObjStyle(int32_t h, TQLVStyle S);
  int32_t GetObjFontAngle(int32_t h) const { return Obj(h).Font.Escapement / 10; }
  void SetObjFontAngle(int32_t h, int32_t Degrees);
  int32_t GetObjFontHeight(int32_t h) const { return Obj(h).Font.Height; }
  void SetObjFontHeight(int32_t h, int32_t V);
  std::string GetObjFontName(int32_t h) const { return Obj(h).Font.Face(); }
  void SetObjFontName(int32_t h, const std::string& N);
  TFontStyles GetObjFontStyles(int32_t h) const;
  void SetObjFontStyles(int32_t h, TFontStyles S);
  uint8_t GetObjTextAlign(int32_t h) const { return Obj(h).TextAlign; }
  void SetObjTextAlign(int32_t h, uint8_t A);
  TQLUnits GetObjRulerUnit(int32_t h) const { return Obj(h).RulerUnit; }
  void SetObjRulerUnit(int32_t h, TQLUnits U);
  TQLVRulerType GetObjRulerType(int32_t h) const { return Obj(h).RulerType; }
  void SetObjRulerType(int32_t h, TQLVRulerType T);
  // Copies the font's record and sets the object's pen colour to the font colour.
  void SetObjFont(int32_t h, const TFont& F);
  // The whole record (read only: change it through the setters).
  const TQLVObject& GetObject(int32_t h) const { return Obj(h); }

  // --- the object list -----------------------------------------------------------------------
  int32_t AddNewObject();
  void RemoveObject(int32_t h);
  void RemoveAllObjects();
  // The live objects' handles, bottom first.
  const std::vector<int32_t>& ZOrder() const { return FZ; }
  int32_t ObjectsCount() const { return static_cast<int32_t>(FZ.size()); }
  int32_t GetObjFromName(const std::string& Name) const;
  int32_t GetObjFromID(int32_t ID) const;
  void SetObjFrontOf(int32_t h, int32_t Other);
  void SetObjBackTo(int32_t h, int32_t Other);
  TRect GetObjectsExtents() const;
  void SetAllObjectsHidden(bool Hidden);
  bool GetAllObjectsHidden() const { return FAllHidden; }
  // Draws every object into the bitmap at zoom 1 (the objects stay).
  void CopyObjectsToBack();
  void CopyObjectTo(int32_t h, TQuilloVect& Other) const;
  void CopyAllObjectsTo(TQuilloVect& Other) const;
  void CopySelectedObjectsTo(TQuilloVect& Other) const;
  // Takes all objects and the scale of Source; none removes all objects.
  void Assign(const TQuilloVect* Source);
  using TQuilloView::Assign;

  // --- selection of objects ------------------------------------------------------------------
  void AddSelObject(int32_t h);
  void UnSelObject(int32_t h);
  bool IsSelObject(int32_t h) const;
  void SelAllObjects();
  void UnSelAllObjects();
  int32_t SelObjectsCount() const { return static_cast<int32_t>(FSelObjs.size()); }
  int32_t SelObjects(int32_t I) const { return FSelObjs[static_cast<size_t>(I)]; }
  // Selects the objects whose ordered rectangle lies inside R (bitmap pixels); h >= 0 tests that
  // object alone, kNoObject all of them.
  void SelInRect(int32_t h, const TRect& R);

  // --- interaction ---------------------------------------------------------------------------
  TQLMouseInteractVt GetMouseInteractVt() const { return FInteractVt; }
  void SetMouseInteractVt(TQLMouseInteractVt M);
  void SetMouseInteract(TQLMouseInteract M) override;
  void CancelInteracts();
  // The nearest selectable object to bitmap point (X, Y) as picking finds it, or kNoObject.
  int32_t FindNearestObject(int32_t X, int32_t Y, double* Distance = nullptr) const;
  // Distance in bitmap pixels from (X, Y) to the object as picking measures it.
  double ObjectDistance(int32_t h, double X, double Y) const;
  // The largest pick distance in screen pixels (negative: no limit).
  int32_t GetMaxSelectionDistance() const { return FMaxPickDistance; }
  void SetMaxSelectionDistance(int32_t V) { FMaxPickDistance = V; }
  // The text object being edited (-1 none) and its edit control.
  int32_t EditingText() const { return FEditing; }
  TEdit* TextEditor() const { return FEditor.get(); }
  // The measuring hint (shown as a child of the view).
  THintWindow& Hint() { return *FHint; }

  // --- measuring -----------------------------------------------------------------------------
  TQLUnits GetMUnit() const { return FMUnit; }
  void SetMUnit(TQLUnits U);
  double GetScale() const { return FScale; }
  void SetScale(double S);
  double CoefX() const { return FCoefX; }
  double CoefY() const { return FCoefY; }
  void SetScaleFromPixels(int32_t Pixels, double Value);
  void SetScaleFromSelectionLen(double Value);
  double GetSelectionLen() const;
  double GetSelectionArea() const;
  TPoint GetSelectionCentroid() const;
  int32_t GetFloatDigits() const { return FFloatDigits; }
  void SetFloatDigits(int32_t V) { FFloatDigits = V; }
  int32_t GetFloatPrecision() const { return FFloatPrecision; }
  void SetFloatPrecision(int32_t V) { FFloatPrecision = V; }
  // A measure as the hints and rulers write it.
  std::string FormatMeasure(double V) const;
  void SetDPIX(int32_t V) override;
  void SetDPIY(int32_t V) override;

  // --- properties ----------------------------------------------------------------------------
  bool GetShareBitmaps() const { return FShareBitmaps; }
  void SetShareBitmaps(bool V) { FShareBitmaps = V; }
  bool GetZoomObjectsWidth() const { return FZoomObjectsWidth; }
  void SetZoomObjectsWidth(bool V);
  TResampleFilter GetBitmapResampleFilter() const { return FBitmapFilter; }
  void SetBitmapResampleFilter(TResampleFilter F);
  // The bitmap table: entries in use and their reference counts.
  int32_t BitmapTableCount() const { return static_cast<int32_t>(FBitmaps.size()); }
  const TBitmap* BitmapTableEntry(int32_t I) const;
  int32_t BitmapTableRefs(int32_t I) const;

  // --- files ---------------------------------------------------------------------------------
  void SaveToFileQLV(const std::string& FileName);
  bool LoadFromFileQLV(const std::string& FileName);
  void SaveToStreamQLV(TStream& Stream);
  bool LoadFromStreamQLV(TStream& Stream);
  bool ImportDXF(const std::string& FileName);
  bool ImportDXFStream(TStream& Stream);

  TNotifyEvent OnSelectObject, OnVectorialChanged;
  TQLVMeasureHintEvent OnMeasureHint;
  TQLVDragLenEndEvent OnDragLenEnd;
  TQLVNewObject OnNewObject;

  // --- view overrides --------------------------------------------------------------------------
  void PaintTo(TCanvas& Canvas) override;
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void KeyDown(uint16_t& Key, TShiftState Shift) override;
  bool WantsKey(uint16_t Key) const override;

  // Draws the objects on Canvas: through the view's mapping (Screen) or as they are, at zoom 1.
  void DrawObjects(TCanvas& Canvas, bool Screen);

 protected:
  void ViewChange(int32_t Change) override;

 private:
  struct TBitmapEntry {
    std::unique_ptr<TBitmap> Bitmap;
    int32_t Refs = 0;
  };
  struct TStored {
    TQLVObject O;
    bool Removed = false;
  };
  class TTextEditor;
  friend class TTextEditor;
  friend struct TLayerReader;

  TQLVObject& Obj(int32_t h);
  const TQLVObject& Obj(int32_t h) const;
  void Changed(int32_t h);
  void SelectChanged();
  void ReleaseBitmap(int32_t Index);
  int32_t StoreBitmap(const TBitmap& B);
  int32_t ShareIndex(int32_t Index);
  void RecalcCoef();
  int32_t AddObject(const TQLVObject& O);
  // Screen geometry.
  int32_t SX(int32_t X) const;
  int32_t SY(int32_t Y) const;
  double ScreenToBitmap() const;
  TRect ScreenRect(const TQLVObject& O) const;
  // The visible part of the image in bitmap pixels, with a little slack for rounding.
  struct TVisible {
    double L, T, R, B;
  };
  TVisible VisibleBitmapArea() const;
  // Each object's rectangle widened by its pen and arrow heads, in z-order: drawing and picking
  // walk this compact array rather than the records. Rebuilt after objects change.
  struct TBounds {
    double L, T, R, B;
    int32_t Handle;
    bool None;  // an object of no kind: distance -1, nearer than anything
  };
  const std::vector<TBounds>& Bounds() const;
  static TBounds BoundsOf(const TQLVObject& O, int32_t Handle);
  static bool Meets(const TBounds& Box, const TVisible& V);
  mutable std::vector<TBounds> FBounds;
  mutable bool FBoundsDirty = true;
  bool MeetsVisibleArea(const TQLVObject& O) const;
  void DrawObject(TCanvas& C, const TQLVObject& O, bool Screen);
  void DrawLine(TCanvas& C, const TQLVObject& O, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                double Z);
  void DrawText(TCanvas& C, const TQLVObject& O, const TRect& R, double Z, bool Screen);
  void DrawRuler(TCanvas& C, const TQLVObject& O, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2,
                 bool Screen);
  void DrawGrips(TCanvas& C);
  std::vector<std::pair<int32_t, TPoint>> Grips(int32_t h) const;
  int32_t GripAt(int32_t X, int32_t Y) const;
  void DrawRubber(TCanvas& C);
  void ShowHint(const std::string& Text, double Value, int32_t X, int32_t Y);
  void HideHint();
  void UpdateMeasureHint(int32_t X, int32_t Y);
  void OpenEditor(int32_t h);
  void CloseEditor(bool Accept);
  void PlaceEditor();
  TFont MakeFont(const TQLLogFont& F, double Height) const;
  TQLLogFont LogFontOf(const TFont& F) const;
  void PackBitmaps();
  void ResetInteraction();

  std::vector<TStored> FStore;
  std::vector<int32_t> FZ;
  std::vector<int32_t> FSelObjs;
  std::vector<TBitmapEntry> FBitmaps;
  TQLVObject FTemplate;
  TQLUnits FMUnit = qluPIXELS;
  double FScale = 1.0, FCoefX = 1.0, FCoefY = 1.0;
  int32_t FFloatDigits = 2, FFloatPrecision = 15;
  bool FShareBitmaps = true, FZoomObjectsWidth = true, FAllHidden = false;
  TResampleFilter FBitmapFilter = rfNone;
  TQLMouseInteractVt FInteractVt = 0;
  int32_t FMaxPickDistance = -1;
  // Interaction state.
  TQLVObjectKind FPlacing = qlkNONE;
  bool FMeasuringOnly = false;
  int32_t FGrip = 0;
  bool FBanding = false, FMoved = false, FButtonDown = false, FRubberShown = false;
  int32_t FDownX = 0, FDownY = 0, FLastX = 0, FLastY = 0, FMouseX = 0, FMouseY = 0;
  TShiftState FDownShift = 0;
  int32_t FEditing = -1;
  std::string FEditBefore;
  std::unique_ptr<TEdit> FEditor;
  std::unique_ptr<THintWindow> FHint;
};

// Coordinates are int32; sums that leave the range stop at its ends.
inline int32_t QLVSat(int64_t V) {
  return static_cast<int32_t>(V < INT32_MIN ? INT32_MIN : V > INT32_MAX ? INT32_MAX : V);
}

// Draws the layer's own default picture for bitmap objects (a small landscape) at Size.
TBitmap QLVDefaultPicture(int32_t Size);

}  // namespace quillo
