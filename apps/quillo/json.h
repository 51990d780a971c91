// A small JSON writer for the tool's machine-readable output.
#pragma once

#include <string>
#include <vector>

namespace quillo::tool {

// Text as a JSON string literal: line ends and tabs escaped, other control characters (NUL
// terminators, padding) dropped, and every byte that does not belong to a valid UTF-8 sequence
// replaced by U+FFFD, as the common JSON writers do.
std::string JsonString(const std::string& Text);

// Builds one object or array, member by member.
class TJson {
 public:
  static TJson Object() { return TJson('{', '}'); }
  static TJson Array() { return TJson('[', ']'); }
  // A number as JSON (null when it is not finite, which JSON cannot spell).
  static std::string Number(double Value);
  // Object members; Raw takes an already encoded value (a nested object, a number).
  TJson& Raw(const std::string& Key, const std::string& Encoded);
  TJson& Str(const std::string& Key, const std::string& Text) { return Raw(Key, JsonString(Text)); }
  TJson& Num(const std::string& Key, double Value);
  TJson& Bool(const std::string& Key, bool Value) { return Raw(Key, Value ? "true" : "false"); }
  // Array elements.
  TJson& Add(const std::string& Encoded);
  bool Empty() const { return FItems.empty(); }
  std::string Text() const;

 private:
  TJson(char Open, char Close) : FOpen(Open), FClose(Close) {}
  char FOpen, FClose;
  std::vector<std::string> FItems;
};

}  // namespace quillo::tool
