// The fields of TIOParamsVals by name, for --set and for printing parameters: the rows of the
// library's field table (QLParamFields) that have a text form.
#pragma once

#include <string>
#include <vector>

#include "quillo/core/paramfields.h"

namespace quillo::tool {

enum class TFieldKind { Number, Boolean, Text };

struct TParamField {
  const TQLParamField* Row;
  const char* Name;
  // How the value is written in JSON: numbers and booleans bare, the rest (enumerations and
  // colours too) as strings.
  TFieldKind Kind;
  // For enumerations, the names of the values in order; empty otherwise.
  std::vector<std::string> Values;

  // The value as text (numbers in decimal, colours as #RRGGBB, booleans as true/false,
  // enumerations by their full name, strings up to their first NUL: the fixed-size fields of
  // some formats keep their terminator or padding).
  std::string Get(const TIOParamsVals& P) const;
  // Sets the value from text; enumerations take their full or short name (the part after the
  // prefix, e.g. "g4" or "ioTIFF_G4FAX"); false when the text is not a value of the field.
  bool Set(TIOParamsVals& P, const std::string& Text) const;
  // The value of a Number field.
  double Number(const TIOParamsVals& P) const;
};

// In the library table's order, which is the parameter stream's.
const std::vector<TParamField>& ParamFields();
// The field of that name (case-insensitive), or nullptr.
const TParamField* FindParamField(const std::string& Name);
// The prefix of the fields that belong to a format's own group ("Jpeg" for ioJPEG...), or
// nullptr for a format without one.
const char* FormatParamPrefix(int32_t Type);
// A JPEG marker's name: "APP1 (0xE1)", "COM (0xFE)", or its code.
std::string MarkerName(uint8_t Marker);

}  // namespace quillo::tool
