// The fields of TIOParamsVals described once. Each row names a field, says what kind of value it
// holds, its default and the first stream version that holds it; SetDefaultParams, Assign,
// SaveToStream/LoadFromStream and the tool's parameters by name all walk this table, so a new
// field is its member plus one row.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "quillo/core/params.h"

namespace quillo {

enum class TQLParamKind : uint8_t {
  Int,       // int32_t; stored as 4 bytes little-endian
  Bool,      // stored as one byte, 1 or 0 (any non-zero byte loads as true)
  Double,    // stored as 8 bytes little-endian
  String,    // stored as SaveStringToStream writes it
  Enum,      // an enumeration of one byte; stored as that byte, unchecked
  Color,     // TRGB; stored as its three bytes
  Palette,   // ColorMap with ColorMapCount; stored as a count, then 3 bytes an entry
  Markers,   // TQLMarkerList, in its own stream form
  IPTC,      // TQLIPTCInfoList, in its own stream form
  Comments,  // TStringList; stored as lines ended by CR LF, to the end of the stream
  // The LZW coder hooks: never stored, reset to the installed coders.
  GifLZWDecompress,
  GifLZWCompress,
  TiffLZWDecompress,
  TiffLZWCompress
};

// How SetDefaultParams treats a field besides giving it its default.
enum class TQLParamReset : uint8_t {
  Default,    // the row's default (lists and palette empty, hooks the installed coders)
  FromOwner,  // set only from the owner's bitmap or view; kept otherwise (a new record has 0)
  Today       // today's date (QLToday)
};

// What a stream older than the row's Since version holds in the row's place.
enum class TQLParamBefore : uint8_t {
  Nothing,      // no bytes; the field keeps its value
  Byte,         // the Int as one unsigned byte
  Reset,        // no bytes; the field takes its default
  SkipTwoInts,  // 8 bytes of a record no longer read; the field takes its default
};

// An enumeration member, read and written as its byte (enumerations differ in type, so the
// row holds two accessors instead of a member pointer).
struct TQLParamEnum {
  uint8_t (*Get)(const TIOParamsVals&);
  void (*Set)(TIOParamsVals&, uint8_t);
};

using TQLParamMember =
    std::variant<int32_t TIOParamsVals::*, bool TIOParamsVals::*, double TIOParamsVals::*,
                 std::string TIOParamsVals::*, TRGB TIOParamsVals::*, TQLParamEnum,
                 std::vector<TRGB> TIOParamsVals::*, TQLMarkerList TIOParamsVals::*,
                 TQLIPTCInfoList TIOParamsVals::*, TStringList TIOParamsVals::*,
                 TGIFLZWDecompFunc TIOParamsVals::*, TGIFLZWCompFunc TIOParamsVals::*,
                 TTIFFLZWDecompFunc TIOParamsVals::*, TTIFFLZWCompFunc TIOParamsVals::*>;

// The Since of a field that no stream holds.
constexpr int32_t QLParamNotStored = -1;

struct TQLParamField {
  // The member's name, which is also its name for the tool's --set and info.
  const char* Name;
  TQLParamKind Kind;
  TQLParamMember Member;
  // The default of an Int, Bool, Enum or Double.
  double DefNumber = 0;
  // The default of a String.
  const char* DefText = "";
  // The default of a Color.
  TRGB DefColor{};
  // An enumeration's value names in value order, and the prefix its short names leave out
  // ("ioTIFF_" of "ioTIFF_G4FAX").
  std::span<const char* const> EnumNames{};
  const char* EnumPrefix = "";
  // The first stream version that holds the field, or QLParamNotStored.
  int32_t Since = 0;
  TQLParamBefore Before = TQLParamBefore::Nothing;
  TQLParamReset Reset = TQLParamReset::Default;

  bool Stored() const { return Since != QLParamNotStored; }
};

// Every field of TIOParamsVals but Owner, stored ones in stream order.
std::span<const TQLParamField> QLParamFields();

// Gives one field its default, as SetDefaultParams does (a FromOwner field is left alone).
void QLResetParamField(const TQLParamField& F, TIOParamsVals& P);
// Copies one field from Source; palette and lists are copied, never shared.
void QLCopyParamField(const TQLParamField& F, TIOParamsVals& Dest, const TIOParamsVals& Source);
// Writes one stored field in its current form.
void QLSaveParamField(const TQLParamField& F, TStream& S, const TIOParamsVals& P);
// Reads one field as a stream of version Version holds it (see Before for older versions).
void QLLoadParamField(const TQLParamField& F, TStream& S, TIOParamsVals& P, int32_t Version);

// Typed access to a row's member; the type must be the one of the row's kind.
template <typename T>
T& QLParamRef(const TQLParamField& F, TIOParamsVals& P) {
  return P.*std::get<T TIOParamsVals::*>(F.Member);
}
template <typename T>
const T& QLParamRef(const TQLParamField& F, const TIOParamsVals& P) {
  return P.*std::get<T TIOParamsVals::*>(F.Member);
}

}  // namespace quillo
