// The processing operations by name, with their arguments checked from text: the tool's
// process command and the viewer's Image menu run the same table.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "quillo/proc/quilloproc.h"

namespace quillo::tool {

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

// Every operation, in the order the help lists them.
const std::vector<TOp>& Ops();
// The operation of that name (lower case), or nullptr.
const TOp* FindOp(const std::string& Name);
std::string Lower(std::string S);
// Checks Text as a value of Def; returns the stored form (choices by index). Throws TUsageError
// naming the operation and argument when Text is not a value of it.
std::string CheckValue(const TOp& Op, const TArgDef& Def, const std::string& Text);
// The values of Op's arguments not in V, from their defaults; throws TUsageError for a
// required argument that is missing.
void FillDefaults(const TOp& Op, TValues& V);

}  // namespace quillo::tool
