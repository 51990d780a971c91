#include "apps/quillo/operations.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "quillo/proc/magicwand.h"
#include "quillo/vect/vect.h"

namespace quillo::tool {

namespace {

// A view standing in for the image view when a step selects a polygon (the magic wand): the
// processing component then works on it the way it works on the view's selection.
class TSelectionView : public TQLView {
 public:
  TBitmap* GetFBitmap() override { return FBitmap; }
  bool HasSelectionSupport() const override { return true; }
  bool GetSelected() const override { return !FPolygon.empty(); }
  int32_t GetSelX1() const override { return FBox.Left; }
  int32_t GetSelY1() const override { return FBox.Top; }
  int32_t GetSelX2() const override { return FBox.Right; }
  int32_t GetSelY2() const override { return FBox.Bottom; }
  const TPoint* GetPolySelArray() const override { return FPolygon.data(); }
  int32_t GetPolySelCount() const override { return static_cast<int32_t>(FPolygon.size()); }
  TQLSelectionBase GetSelectionBase() const override { return qlsbBitmap; }
  void DeSelect() override { FPolygon.clear(); }
  void SetPolygon(std::vector<TPoint> P) {
    FPolygon = std::move(P);
    FBox = TRect{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (const TPoint& Q : FPolygon) {
      FBox.Left = std::min(FBox.Left, Q.X), FBox.Top = std::min(FBox.Top, Q.Y);
      FBox.Right = std::max(FBox.Right, Q.X), FBox.Bottom = std::max(FBox.Bottom, Q.Y);
    }
  }
  TBitmap* FBitmap = nullptr;

 private:
  std::vector<TPoint> FPolygon;
  TRect FBox;
};

const std::vector<std::string> kFilters = {"none",    "triangle", "hermite", "bell",
                                           "bspline", "lanczos3", "mitchell"};
const std::vector<std::string> kPresets = {"none",      "blur",      "edge",
                                           "emboss",    "highpass1", "highpass2",
                                           "highpass3", "lowpass1",  "lowpass2"};

}  // namespace

const std::vector<TOp>& Ops() {
  static const std::vector<TOp> List = {
      {"negative", "invert every pixel", {}, [](TQuilloProc& P, const TValues&) { P.Negative(); }},
      {"gray",
       "grey levels (21 R + 71 G + 7 B) / 100",
       {},
       [](TQuilloProc& P, const TValues&) { P.ConvertToGray(); }},
      {"contrast",
       "stretch (positive) or flatten (negative) about the image's levels",
       {{"Amount", TKind::Int, nullptr}},
       [](TQuilloProc& P, const TValues& V) { P.Contrast(V.Int("Amount")); }},
      {"hsl",
       "shift hue (degrees), saturation and luminosity (-100..100)",
       {{"Hue", TKind::Int, "0"}, {"Saturation", TKind::Int, "0"}, {"Luminosity", TKind::Int, "0"}},
       [](TQuilloProc& P, const TValues& V) {
         P.HSLvar(V.Int("Hue"), V.Int("Saturation"), V.Int("Luminosity"));
       }},
      {"hsv",
       "shift hue (degrees), saturation and value (-100..100)",
       {{"Hue", TKind::Int, "0"}, {"Saturation", TKind::Int, "0"}, {"Value", TKind::Int, "0"}},
       [](TQuilloProc& P, const TValues& V) {
         P.HSVvar(V.Int("Hue"), V.Int("Saturation"), V.Int("Value"));
       }},
      {"intensity",
       "add to each channel",
       {{"Red", TKind::Int, "0"}, {"Green", TKind::Int, "0"}, {"Blue", TKind::Int, "0"}},
       [](TQuilloProc& P, const TValues& V) {
         P.IntensityRGBall(V.Int("Red"), V.Int("Green"), V.Int("Blue"));
       }},
      {"threshold",
       "per channel: at most LowerLimit becomes LowerValue, then above UpperLimit becomes "
       "UpperValue",
       {{"LowerLimit", TKind::Colour, "#7F7F7F"},
        {"UpperLimit", TKind::Colour, "#7F7F7F"},
        {"LowerValue", TKind::Colour, "#000000"},
        {"UpperValue", TKind::Colour, "#FFFFFF"}},
       [](TQuilloProc& P, const TValues& V) {
         P.Threshold(V.Colour("LowerLimit"), V.Colour("UpperLimit"), V.Colour("LowerValue"),
                     V.Colour("UpperValue"));
       }},
      {"equalize",
       "spread the histogram automatically",
       {},
       [](TQuilloProc& P, const TValues&) { P.HistAutoEqualize(); }},
      {"levels",
       "stretch the channel levels between Low and High",
       {{"Low", TKind::Colour, nullptr}, {"High", TKind::Colour, nullptr}},
       [](TQuilloProc& P, const TValues& V) { P.HistEqualize(V.Colour("Low"), V.Colour("High")); }},
      {"resample",
       "scale to Width x Height (a negative side follows the other by the aspect ratio)",
       {{"Width", TKind::Int, nullptr},
        {"Height", TKind::Int, "-1"},
        {"Filter", TKind::Choice, "lanczos3", kFilters}},
       [](TQuilloProc& P, const TValues& V) {
         P.Resample(V.Int("Width"), V.Int("Height"),
                    static_cast<TResampleFilter>(V.Choice("Filter")));
       }},
      {"resize",
       "change the canvas size, keeping the pixels at the top-left",
       {{"Width", TKind::Int, nullptr}, {"Height", TKind::Int, nullptr}},
       [](TQuilloProc& P, const TValues& V) { P.ImageResize(V.Int("Width"), V.Int("Height")); }},
      {"rotate",
       "rotate by whole degrees, counter-clockwise",
       {{"Angle", TKind::Int, nullptr}, {"Antialias", TKind::Bool, "true"}},
       [](TQuilloProc& P, const TValues& V) { P.Rotate(V.Int("Angle"), V.Bool("Antialias")); }},
      {"flip",
       "mirror left-right (horizontal) or top-bottom (vertical)",
       {{"Direction", TKind::Choice, "horizontal", {"horizontal", "vertical"}}},
       [](TQuilloProc& P, const TValues& V) {
         P.Flip(static_cast<TFlipDir>(V.Choice("Direction")));
       }},
      {"convolve",
       "3 x 3 convolution with a preset, or a filter file (File=...)",
       {{"Preset", TKind::Choice, "blur", kPresets}, {"File", TKind::Text, ""}},
       [](TQuilloProc& P, const TValues& V) {
         if (V.Get("File").empty())
           return P.ApplyFilterPreset(static_cast<TQLFilterPresets>(V.Choice("Preset")));
         TGraphFilter F;
         try {
           LoadFilterFromFile(V.Get("File"), F);
         } catch (const EFilterInvalid& E) {
           throw std::runtime_error(V.Get("File") + ": " + E.what());
         } catch (const EFOpenError&) {
           throw std::runtime_error(V.Get("File") + ": cannot open the filter file");
         }
         P.ApplyFilter(F);
       }},
      {"maximum",
       "morphological maximum over a (2 Radius + 1) square",
       {{"Radius", TKind::Int, "1"}},
       [](TQuilloProc& P, const TValues& V) { P.Maximum(V.Int("Radius")); }},
      {"minimum",
       "morphological minimum",
       {{"Radius", TKind::Int, "1"}},
       [](TQuilloProc& P, const TValues& V) { P.Minimum(V.Int("Radius")); }},
      {"opening",
       "minimum then maximum: removes bright specks",
       {{"Radius", TKind::Int, "1"}},
       [](TQuilloProc& P, const TValues& V) { P.Opening(V.Int("Radius")); }},
      {"closing",
       "maximum then minimum: removes dark specks",
       {{"Radius", TKind::Int, "1"}},
       [](TQuilloProc& P, const TValues& V) { P.Closing(V.Int("Radius")); }},
      {"bump",
       "relief lit by a spot",
       {{"LightX", TKind::Int, "0"},
        {"LightY", TKind::Int, "0"},
        {"LightWidth", TKind::Int, "200"},
        {"LightHeight", TKind::Int, "200"},
        {"Percentage", TKind::Int, "50"},
        {"LightColor", TKind::Colour, "#FFFFFF"}},
       [](TQuilloProc& P, const TValues& V) {
         P.BumpMapping(V.Int("LightX"), V.Int("LightY"), V.Int("LightWidth"), V.Int("LightHeight"),
                       V.Int("Percentage"), V.Colour("LightColor"));
       }},
      {"lens",
       "an elliptical lens",
       {{"CX", TKind::Int, nullptr},
        {"CY", TKind::Int, nullptr},
        {"Width", TKind::Int, nullptr},
        {"Height", TKind::Int, nullptr},
        {"Refraction", TKind::Real, "2"}},
       [](TQuilloProc& P, const TValues& V) {
         P.Lens(V.Int("CX"), V.Int("CY"), V.Int("Width"), V.Int("Height"), V.Real("Refraction"));
       }},
      {"wave",
       "concentric waves",
       {{"Amplitude", TKind::Int, "5"},
        {"Wavelength", TKind::Int, "10"},
        {"Phase", TKind::Int, "0"},
        {"Reflective", TKind::Bool, "false"}},
       [](TQuilloProc& P, const TValues& V) {
         P.Wave(V.Int("Amplitude"), V.Int("Wavelength"), V.Int("Phase"), V.Bool("Reflective"));
       }},
      {"reduce",
       "reduce to Colors colours (the image stays 24-bit)",
       {{"Colors", TKind::Int, "256"}},
       [](TQuilloProc& P, const TValues& V) { P.ConvertTo(V.Int("Colors")); }},
      {"dither",
       "black and white by ordered dither",
       {},
       [](TQuilloProc& P, const TValues&) { P.ConvertToBWOrdered(); }},
      {"bw",
       "black and white by a grey threshold (-1: the image's own level)",
       {{"Threshold", TKind::Int, "-1"}},
       [](TQuilloProc& P, const TValues& V) { P.ConvertToBWThreshold(V.Int("Threshold")); }},
      {"lowpass",
       "keep the frequencies within Radius of the centre (Fourier transform)",
       {{"Radius", TKind::Int, nullptr}, {"Gray", TKind::Bool, "false"}},
       [](TQuilloProc& P, const TValues& V) {
         auto F = P.FTCreateImage(V.Bool("Gray") ? qlitGrayscale : qlitRGB, -1, -1);
         if (!F) return;
         F->LoPass(V.Int("Radius"));
         P.FTConvertFrom(*F);
       }},
      {"highpass",
       "drop the frequencies within Radius of the centre (Fourier transform)",
       {{"Radius", TKind::Int, nullptr}, {"Gray", TKind::Bool, "false"}},
       [](TQuilloProc& P, const TValues& V) {
         auto F = P.FTCreateImage(V.Bool("Gray") ? qlitGrayscale : qlitRGB, -1, -1);
         if (!F) return;
         F->HiPass(V.Int("Radius"));
         P.FTConvertFrom(*F);
       }},
      {"overlay",
       "burn a vector layer file or a DXF drawing into the image (the drawing scaled to the "
       "image by its header extents)",
       {{"Drawing", TKind::Text, nullptr}},
       [](TQuilloProc& P, const TValues& V) {
         TBitmap* B = P.GetAttachedBitmap();
         const std::string& File = V.Get("Drawing");
         TQuilloVect Layer;
         Layer.Bitmap() = std::move(*B);
         bool Ok = Layer.LoadFromFileQLV(File);
         if (!Ok) Ok = Layer.ImportDXF(File);
         if (Ok) Layer.CopyObjectsToBack();
         *B = std::move(Layer.Bitmap());
         if (!Ok)
           throw std::runtime_error(File + ": neither a vector layer file nor a DXF drawing");
       }},
      {"select",
       "work within the rectangle X1,Y1 - X2,Y2 from here on (X2, Y2 exclusive); all: the whole "
       "image again",
       {{"X1", TKind::Int, nullptr},
        {"Y1", TKind::Int, nullptr},
        {"X2", TKind::Int, nullptr},
        {"Y2", TKind::Int, nullptr}},
       [](TQuilloProc& P, const TValues& V) {
         P.Select(V.Int("X1"), V.Int("Y1"), V.Int("X2"), V.Int("Y2"));
       }},
      {"all",
       "work on the whole image again",
       {},
       [](TQuilloProc& P, const TValues&) { P.SelectAll(); }},
      {"crop",
       "keep the rectangle X1,Y1 - X2,Y2 (X2, Y2 exclusive)",
       {{"X1", TKind::Int, nullptr},
        {"Y1", TKind::Int, nullptr},
        {"X2", TKind::Int, nullptr},
        {"Y2", TKind::Int, nullptr}},
       [](TQuilloProc& P, const TValues& V) {
         P.Select(V.Int("X1"), V.Int("Y1"), V.Int("X2"), V.Int("Y2"));
         P.CropSel();
         P.SelectAll();
       }},
      {"wand",
       "keep the region of similar colour around X,Y (the rest of its box black)",
       {{"X", TKind::Int, nullptr},
        {"Y", TKind::Int, nullptr},
        {"Tolerance", TKind::Int, "32"},
        {"MaxFilter", TKind::Bool, "false"}},
       [](TQuilloProc& P, const TValues& V) {
         TBitmap* B = P.GetAttachedBitmap();
         auto Points = _MakeMagicWandPoints(*B, V.Int("X"), V.Int("Y"), V.Bool("MaxFilter"),
                                            V.Int("Tolerance"));
         if (Points.empty())
           throw std::runtime_error("the magic wand found no region at that point");
         TSelectionView View;
         View.FBitmap = B;
         View.SetPolygon(std::move(Points));
         P.SetAttachedQuillo(&View);
         P.CropSel();
         P.SetAttachedBitmap(View.FBitmap);
       }},
  };
  return List;
}

const TOp* FindOp(const std::string& Name) {
  for (const TOp& O : Ops())
    if (Name == O.Name) return &O;
  return nullptr;
}

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

// Checks Text as a value of Def; the stored form (choices by index).
std::string CheckValue(const TOp& Op, const TArgDef& Def, const std::string& Text) {
  auto Bad = [&](const char* What) {
    return TUsageError{std::string(Op.Name) + ": " + Def.Name + " takes " + What + ", not \"" +
                       Text + "\""};
  };
  char* End = nullptr;
  switch (Def.Kind) {
    case TKind::Int: {
      const long long V = std::strtoll(Text.c_str(), &End, 10);
      if (Text.empty() || *End || V < -1000000000 || V > 1000000000) throw Bad("a whole number");
      return Text;
    }
    case TKind::Real:
      std::strtod(Text.c_str(), &End);
      if (Text.empty() || *End) throw Bad("a number");
      return Text;
    case TKind::Bool: {
      const std::string L = Lower(Text);
      if (L == "true" || L == "1" || L == "yes" || L == "on") return "true";
      if (L == "false" || L == "0" || L == "no" || L == "off") return "false";
      throw Bad("true or false");
    }
    case TKind::Colour: {
      const std::string H = Text[0] == '#' ? Text.substr(1) : Text;
      std::strtoul(H.c_str(), &End, 16);
      if (H.size() != 6 || *End) throw Bad("a colour #RRGGBB");
      return Text;
    }
    case TKind::Choice:
      for (size_t I = 0; I < Def.Choices.size(); ++I)
        if (Lower(Text) == Def.Choices[I]) return std::to_string(I);
      {
        std::string All;
        for (const std::string& C : Def.Choices) All += (All.empty() ? "" : ", ") + C;
        throw Bad(("one of " + All).c_str());
      }
    case TKind::Text:
      return Text;
  }
  return Text;
}

void FillDefaults(const TOp& Op, TValues& V) {
  for (const TArgDef& A : Op.Args) {
    if (V.FValues.count(A.Name)) continue;
    if (!A.Default) throw TUsageError{std::string(Op.Name) + " needs " + A.Name};
    V.FValues[A.Name] = CheckValue(Op, A, A.Default);
  }
}

}  // namespace quillo::tool
