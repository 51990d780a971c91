// A small JSON writer for the tool's machine-readable output.
#pragma once

#include <string>
#include <vector>

namespace quillo::tool {

// Text as a JSON string literal; bytes that are not UTF-8 are read as Latin-1.
std::string JsonString(const std::string& Text);

// Builds one object or array, member by member.
class TJson {
 public:
  static TJson Object() { return TJson('{', '}'); }
  static TJson Array() { return TJson('[', ']'); }
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
