// TFont: a logical font (face name, height, style, colour, angle) realised through fontconfig
// and FreeType when text is measured or drawn.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillo/platform/classes.h"
#include "quillo/platform/types.h"

namespace quillo {

using TFontStyles = uint8_t;
constexpr TFontStyles fsBold = 1;
constexpr TFontStyles fsItalic = 2;
constexpr TFontStyles fsUnderline = 4;
constexpr TFontStyles fsStrikeOut = 8;

enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };

// Rendering quality: fqDefault, fqProof and the ClearType values draw antialiased; fqDraft and
// fqNonAntialiased draw plain one-level glyphs.
enum TFontQuality : uint8_t {
  fqDefault,
  fqDraft,
  fqProof,
  fqNonAntialiased,
  fqAntialiased,
  fqClearType,
  fqClearTypeNatural
};

// Decodes UTF-8; a byte that does not start a valid sequence stands for itself (Latin-1), so
// text in a single-byte code page still shows.
std::u32string QLDecodeText(const std::string& Text);

// A logical font. Height in pixels: negative is the character height (the em size), positive
// the cell height (ascent plus descent), 0 the default. Size is in points through
// PixelsPerInch (96 unless set).
class TFont : public TPersistent {
 public:
  TFont() = default;
  TFont(const TFont& Other) : TPersistent() { Assign(Other); }
  TFont& operator=(const TFont& Other) {
    Assign(Other);
    return *this;
  }
  void Assign(const TFont& Source);

  const std::string& GetName() const { return FName; }
  void SetName(const std::string& Name) { FName = Name; }
  int32_t GetHeight() const { return FHeight; }
  void SetHeight(int32_t Height) { FHeight = Height; }
  // Points: -Height x 72 / PixelsPerInch, rounded.
  int32_t GetSize() const;
  void SetSize(int32_t Size);
  TFontStyles GetStyle() const { return FStyle; }
  void SetStyle(TFontStyles Style) { FStyle = Style; }
  TColor GetColor() const { return FColor; }
  void SetColor(TColor Color) { FColor = Color; }
  // Escapement of the baseline, in tenths of a degree counterclockwise.
  int32_t GetOrientation() const { return FOrientation; }
  void SetOrientation(int32_t Tenths) { FOrientation = Tenths; }
  TFontQuality GetQuality() const { return FQuality; }
  void SetQuality(TFontQuality Quality) { FQuality = Quality; }
  TFontPitch GetPitch() const { return FPitch; }
  void SetPitch(TFontPitch Pitch) { FPitch = Pitch; }
  uint8_t GetCharset() const { return FCharset; }
  void SetCharset(uint8_t Charset) { FCharset = Charset; }
  // Weight 100..900; 0 follows Style (700 with fsBold, else 400). Weights of 600 and more draw
  // bold.
  int32_t GetWeight() const { return FWeight; }
  void SetWeight(int32_t Weight) { FWeight = Weight; }
  int32_t GetPixelsPerInch() const { return FPixelsPerInch; }
  void SetPixelsPerInch(int32_t PPI) { FPixelsPerInch = PPI > 0 ? PPI : 96; }

  bool IsBold() const { return FWeight ? FWeight >= 600 : (FStyle & fsBold) != 0; }
  bool Antialiased() const { return FQuality != fqDraft && FQuality != fqNonAntialiased; }

  TNotifyEvent OnChange;

 private:
  std::string FName = "Tahoma";
  int32_t FHeight = -11;
  TFontStyles FStyle = 0;
  TColor FColor = clWindowText;
  int32_t FOrientation = 0;
  TFontQuality FQuality = fqDefault;
  TFontPitch FPitch = fpDefault;
  uint8_t FCharset = 1;
  int32_t FWeight = 0;
  int32_t FPixelsPerInch = 96;
};

// One rendered glyph: coverage 0..255 (plain rendering gives 0 or 255), Left/Top of the bitmap
// relative to the glyph origin on the baseline (Top grows downwards).
struct TGlyphImage {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Left = 0;
  int32_t Top = 0;
  std::vector<uint8_t> Coverage;
};

// A font realised at a pixel size: metrics in whole pixels and cached glyphs. Obtained through
// QLRealizeFont; shared and immutable from the caller's point of view.
class TRealizedFont {
 public:
  virtual ~TRealizedFont() = default;
  int32_t Ascent = 0;   // pixels above the baseline
  int32_t Descent = 0;  // pixels below it
  int32_t InternalLeading = 0;
  int32_t UnderlinePos = 0;  // below the baseline
  int32_t UnderlineThickness = 1;
  int32_t StrikeOutPos = 0;  // above the baseline
  double Angle = 0;          // radians, counterclockwise
  // Horizontal advance of a character in pixels (unrotated).
  virtual int32_t Advance(char32_t C) = 0;
  // The glyph drawn for C at the font's angle (shared with the font's cache).
  virtual std::shared_ptr<const TGlyphImage> Glyph(char32_t C) = 0;
  int32_t Height() const { return Ascent + Descent; }
};

// The realised form of Font (cached: equal fonts share one). The face comes from fontconfig's
// best match for the name and style, and falls back to any installed sans face.
std::shared_ptr<TRealizedFont> QLRealizeFont(const TFont& Font);
// The file fontconfig chose for a face name and style (empty when none is installed).
std::string QLFontFile(const std::string& Name, bool Bold, bool Italic);

}  // namespace quillo
