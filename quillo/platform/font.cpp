#include "quillo/platform/font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <cmath>
#include <map>
#include <mutex>
#include <numbers>
#include <unordered_map>

#include "quillo/platform/sysutils.h"

namespace quillo {

std::u32string QLDecodeText(const std::string& Text) {
  std::u32string Out;
  Out.reserve(Text.size());
  const auto* S = reinterpret_cast<const uint8_t*>(Text.data());
  size_t N = Text.size(), I = 0;
  while (I < N) {
    uint8_t B = S[I];
    int32_t Len = B < 0x80 ? 1 : (B >> 5) == 6 ? 2 : (B >> 4) == 14 ? 3 : (B >> 3) == 30 ? 4 : 0;
    char32_t C = 0;
    bool OK = Len > 0 && I + static_cast<size_t>(Len) <= N;
    if (OK) {
      C = Len == 1 ? B : Len == 2 ? (B & 0x1F) : Len == 3 ? (B & 0x0F) : (B & 0x07);
      for (int32_t K = 1; K < Len; ++K) {
        if ((S[I + K] & 0xC0) != 0x80) {
          OK = false;
          break;
        }
        C = (C << 6) | (S[I + K] & 0x3F);
      }
      // Overlong forms, surrogates and values beyond Unicode are not valid UTF-8.
      static const char32_t Min[5] = {0, 0, 0x80, 0x800, 0x10000};
      if (OK && (C < Min[Len] || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))) OK = false;
    }
    if (!OK) {
      Out.push_back(B);
      ++I;
    } else {
      Out.push_back(C);
      I += static_cast<size_t>(Len);
    }
  }
  return Out;
}

void TFont::Assign(const TFont& Source) {
  if (&Source == this) return;
  FName = Source.FName;
  FHeight = Source.FHeight;
  FStyle = Source.FStyle;
  FColor = Source.FColor;
  FOrientation = Source.FOrientation;
  FQuality = Source.FQuality;
  FPitch = Source.FPitch;
  FCharset = Source.FCharset;
  FWeight = Source.FWeight;
  FPixelsPerInch = Source.FPixelsPerInch;
  if (OnChange) OnChange(this);
}

int32_t TFont::GetSize() const {
  return static_cast<int32_t>(QLRound(-static_cast<double>(FHeight) * 72.0 / FPixelsPerInch));
}

void TFont::SetSize(int32_t Size) {
  FHeight = -static_cast<int32_t>(QLRound(static_cast<double>(Size) * FPixelsPerInch / 72.0));
}

namespace {

// The FreeType library, shared by every realised font; fonts keep it alive.
struct TFTLibrary {
  FT_Library Lib = nullptr;
  TFTLibrary() {
    if (FT_Init_FreeType(&Lib)) Lib = nullptr;
  }
  ~TFTLibrary() {
    if (Lib) FT_Done_FreeType(Lib);
  }
  TFTLibrary(const TFTLibrary&) = delete;
  TFTLibrary& operator=(const TFTLibrary&) = delete;
};

// FreeType objects are not thread-safe; every use goes through this lock.
std::mutex& FontMutex() {
  static std::mutex M;
  return M;
}

std::shared_ptr<TFTLibrary> Library() {
  static std::shared_ptr<TFTLibrary> L = std::make_shared<TFTLibrary>();
  return L;
}

struct TFaceChoice {
  std::string File;
  int32_t Index = 0;
  bool RealBold = false;
  bool RealItalic = false;
};

TFaceChoice MatchFace(const std::string& Name, bool Bold, bool Italic) {
  TFaceChoice Choice;
  static bool Inited = FcInit() != 0;
  if (!Inited) return Choice;
  FcPattern* Pat = FcPatternCreate();
  if (!Pat) return Choice;
  FcPatternAddString(Pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(Name.c_str()));
  FcPatternAddInteger(Pat, FC_WEIGHT, Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(Pat, FC_SLANT, Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(Pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, Pat, FcMatchPattern);
  FcDefaultSubstitute(Pat);
  FcResult Res;
  FcPattern* Match = FcFontMatch(nullptr, Pat, &Res);
  if (Match) {
    FcChar8* File = nullptr;
    int Index = 0, Weight = FC_WEIGHT_REGULAR, Slant = FC_SLANT_ROMAN;
    if (FcPatternGetString(Match, FC_FILE, 0, &File) == FcResultMatch && File)
      Choice.File = reinterpret_cast<const char*>(File);
    FcPatternGetInteger(Match, FC_INDEX, 0, &Index);
    FcPatternGetInteger(Match, FC_WEIGHT, 0, &Weight);
    FcPatternGetInteger(Match, FC_SLANT, 0, &Slant);
    Choice.Index = Index;
    Choice.RealBold = Weight >= FC_WEIGHT_DEMIBOLD;
    Choice.RealItalic = Slant != FC_SLANT_ROMAN;
    FcPatternDestroy(Match);
  }
  FcPatternDestroy(Pat);
  return Choice;
}

class TFTFont : public TRealizedFont {
 public:
  TFTFont(std::shared_ptr<TFTLibrary> Lib, FT_Face Face, bool SynthBold, bool SynthItalic, bool AA,
          int32_t PPEM, double AngleRad)
      : FLib(std::move(Lib)), FFace(Face), FSynthBold(SynthBold), FAA(AA) {
    Angle = AngleRad;
    FT_Set_Pixel_Sizes(FFace, 0, static_cast<FT_UInt>(PPEM));
    double Upem = FFace->units_per_EM ? FFace->units_per_EM : 2048;
    double Scale = PPEM / Upem;
    double Asc = FFace->ascender, Desc = -FFace->descender;
    double StrikePos = Asc * 0.3, StrikeSize = Upem / 20;
    if (auto* OS2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(FFace, FT_SFNT_OS2));
        OS2 && OS2->version != 0xFFFF && OS2->usWinAscent + OS2->usWinDescent > 0) {
      Asc = OS2->usWinAscent;
      Desc = OS2->usWinDescent;
      if (OS2->yStrikeoutSize > 0) {
        StrikePos = OS2->yStrikeoutPosition;
        StrikeSize = OS2->yStrikeoutSize;
      }
    }
    Ascent = static_cast<int32_t>(QLRound(Asc * Scale));
    Descent = static_cast<int32_t>(QLRound(Desc * Scale));
    InternalLeading = std::max(0, Ascent + Descent - PPEM);
    double UPos = FFace->underline_position ? -FFace->underline_position : Upem / 10;
    double UThick = FFace->underline_thickness ? FFace->underline_thickness : Upem / 20;
    UnderlineThickness = std::max<int32_t>(1, static_cast<int32_t>(QLRound(UThick * Scale)));
    UnderlinePos = std::max<int32_t>(1, static_cast<int32_t>(QLRound(UPos * Scale)));
    StrikeOutPos = static_cast<int32_t>(QLRound(StrikePos * Scale));
    (void)StrikeSize;
    FBoldStrength = std::max<FT_Pos>(32, PPEM * 64 / 24);
    // Glyph transform: rotation, with a shear for a synthesised italic (FreeType's y is up).
    double C = std::cos(AngleRad), S = std::sin(AngleRad), Sh = SynthItalic ? 0.2 : 0.0;
    FMatrix.xx = static_cast<FT_Fixed>(C * 65536);
    FMatrix.xy = static_cast<FT_Fixed>((C * Sh - S) * 65536);
    FMatrix.yx = static_cast<FT_Fixed>(S * 65536);
    FMatrix.yy = static_cast<FT_Fixed>((S * Sh + C) * 65536);
  }
  ~TFTFont() override {
    std::lock_guard<std::mutex> Lock(FontMutex());
    FT_Done_Face(FFace);
  }

  int32_t Advance(char32_t Ch) override {
    std::lock_guard<std::mutex> Lock(FontMutex());
    auto It = FAdvances.find(Ch);
    if (It != FAdvances.end()) return It->second;
    FT_Set_Transform(FFace, nullptr, nullptr);
    int32_t Adv = 0;
    if (!FT_Load_Char(FFace, Ch, LoadFlags())) {
      Adv = static_cast<int32_t>((FFace->glyph->advance.x + 32) >> 6);
      if (FSynthBold) Adv += static_cast<int32_t>((FBoldStrength + 32) >> 6);
    }
    if (FAdvances.size() >= 65536) FAdvances.clear();
    FAdvances.emplace(Ch, Adv);
    return Adv;
  }

  std::shared_ptr<const TGlyphImage> Glyph(char32_t Ch) override {
    std::lock_guard<std::mutex> Lock(FontMutex());
    auto It = FGlyphs.find(Ch);
    if (It != FGlyphs.end()) return It->second;
    auto Img = std::make_shared<TGlyphImage>();
    TGlyphImage& G = *Img;
    // Huge glyphs are drawn once and not kept; the cache of one font stays bounded.
    if (FGlyphs.size() >= 2048 || FCachedBytes > (size_t{64} << 20)) {
      FGlyphs.clear();
      FCachedBytes = 0;
    }
    FT_Set_Transform(FFace, &FMatrix, nullptr);
    if (FT_Load_Char(FFace, Ch, LoadFlags() | FT_LOAD_NO_BITMAP)) return FGlyphs[Ch] = Img;
    FT_GlyphSlot Slot = FFace->glyph;
    if (FSynthBold && Slot->format == FT_GLYPH_FORMAT_OUTLINE)
      FT_Outline_Embolden(&Slot->outline, FBoldStrength);
    if (FT_Render_Glyph(Slot, FAA ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO))
      return FGlyphs[Ch] = Img;
    const FT_Bitmap& B = Slot->bitmap;
    G.Width = static_cast<int32_t>(B.width);
    G.Height = static_cast<int32_t>(B.rows);
    G.Left = Slot->bitmap_left;
    G.Top = -Slot->bitmap_top;
    G.Coverage.assign(static_cast<size_t>(G.Width) * static_cast<size_t>(G.Height), 0);
    for (int32_t Y = 0; Y < G.Height; ++Y) {
      const uint8_t* Row = B.buffer + static_cast<ptrdiff_t>(Y) * B.pitch;
      uint8_t* Dst = G.Coverage.data() + static_cast<size_t>(Y) * static_cast<size_t>(G.Width);
      for (int32_t X = 0; X < G.Width; ++X) {
        if (B.pixel_mode == FT_PIXEL_MODE_MONO)
          Dst[X] = (Row[X >> 3] & (0x80 >> (X & 7))) ? 255 : 0;
        else
          Dst[X] = Row[X];
      }
    }
    if (G.Coverage.size() <= (size_t{1} << 20)) {
      FCachedBytes += G.Coverage.size();
      FGlyphs[Ch] = Img;
    }
    return Img;
  }

 private:
  FT_Int32 LoadFlags() const { return FAA ? FT_LOAD_DEFAULT : FT_LOAD_TARGET_MONO; }

  std::shared_ptr<TFTLibrary> FLib;
  FT_Face FFace;
  bool FSynthBold;
  bool FAA;
  FT_Pos FBoldStrength = 64;
  FT_Matrix FMatrix{};
  std::unordered_map<char32_t, int32_t> FAdvances;
  std::unordered_map<char32_t, std::shared_ptr<const TGlyphImage>> FGlyphs;
  size_t FCachedBytes = 0;
};

// Stands in when no font can be opened at all: fixed metrics, empty glyphs, so that measuring
// and layout still work.
class TNullFont : public TRealizedFont {
 public:
  explicit TNullFont(int32_t PPEM) {
    Ascent = PPEM * 4 / 5;
    Descent = PPEM - Ascent;
    FAdv = std::max(1, PPEM / 2);
  }
  int32_t Advance(char32_t) override { return FAdv; }
  std::shared_ptr<const TGlyphImage> Glyph(char32_t) override { return FEmpty; }

 private:
  int32_t FAdv;
  std::shared_ptr<const TGlyphImage> FEmpty = std::make_shared<TGlyphImage>();
};

}  // namespace

std::string QLFontFile(const std::string& Name, bool Bold, bool Italic) {
  std::lock_guard<std::mutex> Lock(FontMutex());
  return MatchFace(Name, Bold, Italic).File;
}

std::shared_ptr<TRealizedFont> QLRealizeFont(const TFont& Font) {
  bool Bold = Font.IsBold(), Italic = (Font.GetStyle() & fsItalic) != 0, AA = Font.Antialiased();
  int32_t Height = Font.GetHeight();
  // Heights beyond this draw nothing useful and would make glyph bitmaps huge.
  constexpr int32_t kMaxPixels = 4000;
  Height = std::clamp(Height, -kMaxPixels, kMaxPixels);
  std::string Key = Font.GetName() + '\x01' + std::to_string(Height) + '\x01' +
                    std::to_string(Bold) + std::to_string(Italic) + std::to_string(AA) + '\x01' +
                    std::to_string(Font.GetOrientation() % 3600);
  // The mutex is created first so that it outlives the cache, whose fonts lock it when freed.
  std::mutex& M = FontMutex();
  static std::map<std::string, std::shared_ptr<TRealizedFont>> Cache;
  // A font freed here locks the mutex in its destructor: fonts dropped from a full cache are
  // moved here and freed after the lock below is released.
  std::map<std::string, std::shared_ptr<TRealizedFont>> Dropped;
  std::lock_guard<std::mutex> Lock(M);
  auto It = Cache.find(Key);
  if (It != Cache.end()) return It->second;
  if (Cache.size() > 256) Dropped.swap(Cache);
  double Angle = (Font.GetOrientation() % 3600) / 10.0 * std::numbers::pi / 180.0;
  std::shared_ptr<TRealizedFont> Result;
  auto Lib = Library();
  TFaceChoice Choice = MatchFace(Font.GetName(), Bold, Italic);
  if (Choice.File.empty()) Choice = MatchFace("sans-serif", Bold, Italic);
  FT_Face Face = nullptr;
  if (Lib->Lib && !Choice.File.empty() &&
      FT_New_Face(Lib->Lib, Choice.File.c_str(), Choice.Index, &Face) == 0) {
    int32_t PPEM = 12;
    if (Height < 0) {
      PPEM = -Height;
    } else if (Height > 0) {
      // A positive height is the cell: scale the em so that ascent plus descent fit it.
      double Cell = Face->ascender - Face->descender;
      if (auto* OS2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(Face, FT_SFNT_OS2));
          OS2 && OS2->version != 0xFFFF && OS2->usWinAscent + OS2->usWinDescent > 0)
        Cell = OS2->usWinAscent + OS2->usWinDescent;
      double Upem = Face->units_per_EM ? Face->units_per_EM : 2048;
      PPEM = Cell > 0 ? static_cast<int32_t>(QLRound(Height * Upem / Cell)) : Height;
    }
    PPEM = std::max(PPEM, 1);
    Result = std::make_shared<TFTFont>(Lib, Face, Bold && !Choice.RealBold,
                                       Italic && !Choice.RealItalic, AA, PPEM, Angle);
  } else {
    Result = std::make_shared<TNullFont>(Height ? std::abs(Height) : 12);
    Result->Angle = Angle;
  }
  Cache.emplace(Key, Result);
  return Result;
}

}  // namespace quillo
