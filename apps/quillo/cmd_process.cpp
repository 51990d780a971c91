// quillo process IN OUT OP [ARG]...: a chain of processing operations on one image.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/session.h"
#include "quillo/io/quilloio.h"
#include "quillo/proc/magicwand.h"
#include "quillo/proc/quilloproc.h"

namespace quillo::tool {

namespace {

enum class TKind { Int, Real, Bool, Colour, Choice, Text };

struct TArgDef {
  const char* Name;
  TKind Kind;
  const char* Default;  // nullptr: required
  std::vector<std::string> Choices = {};
};

// The arguments of one step, checked against their definitions.
class TValues {
 public:
  int32_t Int(const std::string& N) const {
    return static_cast<int32_t>(std::strtol(Get(N).c_str(), nullptr, 10));
  }
  double Real(const std::string& N) const { return std::strtod(Get(N).c_str(), nullptr); }
  bool Bool(const std::string& N) const {
    const std::string V = Get(N);
    return V == "true" || V == "1" || V == "yes" || V == "on";
  }
  TRGB Colour(const std::string& N) const {
    const std::string V = Get(N);
    const unsigned long C = std::strtoul(V.c_str() + (V[0] == '#'), nullptr, 16);
    return CreateRGB(static_cast<uint8_t>(C >> 16), static_cast<uint8_t>(C >> 8),
                     static_cast<uint8_t>(C));
  }
  // The index of the value among the definition's choices.
  int32_t Choice(const std::string& N) const { return std::stoi(Get(N)); }
  const std::string& Get(const std::string& N) const { return FValues.at(N); }
  std::map<std::string, std::string> FValues;
};

struct TOp {
  const char* Name;
  const char* Summary;
  std::vector<TArgDef> Args;
  std::function<void(TQuilloProc&, const TValues&)> Run;
};

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

struct TStep {
  const TOp* Op;
  TValues Values;
};

std::vector<TStep> ParseSteps(const TArgs& Words) {
  std::vector<TStep> Steps;
  size_t Positional = 0;
  for (const std::string& W : Words) {
    if (const TOp* Op = FindOp(Lower(W)); Op && W.find('=') == std::string::npos) {
      Steps.push_back({Op, {}});
      Positional = 0;
      continue;
    }
    if (Steps.empty())
      throw TUsageError{"unknown operation \"" + W + "\" (quillo process --help lists them)"};
    TStep& S = Steps.back();
    const size_t Eq = W.find('=');
    const TArgDef* Def = nullptr;
    std::string Text = W;
    if (Eq != std::string::npos) {
      for (const TArgDef& A : S.Op->Args)
        if (Lower(A.Name) == Lower(W.substr(0, Eq))) Def = &A;
      if (!Def)
        throw TUsageError{std::string(S.Op->Name) + " has no argument \"" + W.substr(0, Eq) + "\""};
      Text = W.substr(Eq + 1);
    } else {
      if (Positional >= S.Op->Args.size())
        throw TUsageError{std::string(S.Op->Name) + " takes " + std::to_string(S.Op->Args.size()) +
                          " arguments; \"" + W + "\" is one too many (or an unknown operation)"};
      Def = &S.Op->Args[Positional++];
    }
    S.Values.FValues[Def->Name] = CheckValue(*S.Op, *Def, Text);
  }
  for (TStep& S : Steps)
    for (const TArgDef& A : S.Op->Args) {
      if (S.Values.FValues.count(A.Name)) continue;
      if (!A.Default) throw TUsageError{std::string(S.Op->Name) + " needs " + A.Name};
      S.Values.FValues[A.Name] = CheckValue(*S.Op, A, A.Default);
    }
  return Steps;
}

}  // namespace

std::string ProcessHelp() {
  std::string H =
      "quillo process IN OUT OPERATION [ARG]... [OPERATION [ARG]...]...\n\n"
      "Runs the operations in order on IN and writes OUT (format by extension). Arguments go by\n"
      "position or as Name=value; colours are #RRGGBB. --format, --frame and --set work as for\n"
      "convert. Operations:\n";
  for (const TOp& O : Ops()) {
    std::string Line = std::string("  ") + O.Name;
    for (const TArgDef& A : O.Args) {
      Line += std::string(" ") + (A.Default ? "[" : "") + A.Name;
      if (A.Default && *A.Default) Line += std::string("=") + A.Default;
      Line += A.Default ? "]" : "";
    }
    H += Line + "\n      " + O.Summary + "\n";
  }
  H += "\nResample filters: none triangle hermite bell bspline lanczos3 mitchell.\n"
       "Convolution presets: none blur edge emboss highpass1 highpass2 highpass3 lowpass1 "
       "lowpass2.\n"
       "Example: quillo process in.jpg out.png resample 800 rotate 30 contrast 20";
  return H;
}

int CmdProcess(const TArgs& Args) {
  std::vector<std::string> Files, Words, Sets;
  std::string Format;
  int32_t Frame = 0;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    if (Args[I] == "--format") {
      Format = Value("an extension");
    } else if (Args[I] == "--set") {
      Sets.push_back(Value("FIELD=VALUE"));
    } else if (Args[I] == "--frame" || Args[I] == "--page") {
      Frame = ParseFrame(Value("a number"));
    } else if (Files.size() < 2) {
      Files.push_back(Args[I]);
    } else {
      Words.push_back(Args[I]);
    }
  }
  if (Files.size() < 2) throw TUsageError{"process needs an input and an output file"};
  if (Words.empty()) throw TUsageError{"process needs at least one operation"};
  const std::vector<TStep> Steps = ParseSteps(Words);
  std::string Out = Files[1];
  SplitFormatPrefix(Out, Format);
  OutputType(Out, Format);
  const TInputFile In(Files[0]);
  TBitmap Image;
  TQuilloIO IO;
  IO.SetAttachedBitmap(&Image);
  const TSourceInfo Source = LoadImage(IO, In, Frame);
  ApplySets(IO.IOParams(), Sets);
  TQuilloProc Proc;
  Proc.SetAttachedBitmap(&Image);
  Proc.SetAutoUndo(false);
  for (const TStep& S : Steps) {
    Proc.OnProgress = ProgressBar(S.Op->Name);
    // The processing component has no abort flag of its own: an interrupt ends the chain
    // between steps.
    S.Op->Run(Proc, S.Values);
    FinishProgress();
    if (Interrupted()) throw TInterrupted{};
  }
  // What is written follows the result: a 1-bit result is written as 1-bit, a 24-bit one as
  // it was read.
  TIOParamsVals& P = IO.IOParams();
  P.Width = Image.GetWidth();
  P.Height = Image.GetHeight();
  if (Image.GetPixelFormat() == pf1bit)
    P.BitsPerSample = 1, P.SamplesPerPixel = 1;
  else if (P.BitsPerSample == 1)
    P.BitsPerSample = 8, P.SamplesPerPixel = 3;
  SaveImage(IO, Out, Format, &Source);
  return 0;
}

}  // namespace quillo::tool
