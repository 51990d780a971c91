#include "apps/quillo/json.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace quillo::tool {

namespace {

// Length of the valid UTF-8 sequence starting at I, or 0: no overlong forms, no surrogates,
// nothing beyond U+10FFFF.
size_t Utf8Length(const std::string& S, size_t I) {
  const auto B = [&](size_t K) { return static_cast<uint8_t>(S[K]); };
  const uint8_t C = B(I);
  if (C < 0x80) return 1;
  const size_t N = (C >= 0xC2 && C <= 0xDF)   ? 2
                   : (C >> 4) == 0xE          ? 3
                   : (C >= 0xF0 && C <= 0xF4) ? 4
                                              : 0;
  if (N == 0 || I + N > S.size()) return 0;
  for (size_t K = 1; K < N; ++K)
    if ((B(I + K) & 0xC0) != 0x80) return 0;
  // The second byte's range where the first alone does not rule out bad forms.
  const uint8_t C1 = B(I + 1);
  if ((C == 0xE0 && C1 < 0xA0) || (C == 0xED && C1 > 0x9F) || (C == 0xF0 && C1 < 0x90) ||
      (C == 0xF4 && C1 > 0x8F))
    return 0;
  return N;
}

}  // namespace

std::string JsonString(const std::string& Text) {
  std::string Out = "\"";
  for (size_t I = 0; I < Text.size();) {
    const uint8_t C = static_cast<uint8_t>(Text[I]);
    if (C == '"' || C == '\\') {
      Out += '\\';
      Out += static_cast<char>(C);
      ++I;
    } else if (C == '\n' || C == '\r' || C == '\t') {
      Out += C == '\n' ? "\\n" : C == '\r' ? "\\r" : "\\t";
      ++I;
    } else if (C < 0x20 || C == 0x7F) {
      // Other control characters are no text: terminators and padding of fixed-size fields.
      ++I;
    } else if (const size_t N = Utf8Length(Text, I); N > 0) {
      Out.append(Text, I, N);
      I += N;
    } else {
      Out += "\\ufffd";
      ++I;
    }
  }
  return Out + "\"";
}

TJson& TJson::Raw(const std::string& Key, const std::string& Encoded) {
  FItems.push_back(JsonString(Key) + ": " + Encoded);
  return *this;
}

std::string TJson::Number(double Value) {
  if (!std::isfinite(Value)) return "null";
  // The shortest of the usual precisions that reads back as the same value.
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "%.15g", Value);
  if (std::strtod(Buf, nullptr) != Value) std::snprintf(Buf, sizeof(Buf), "%.17g", Value);
  return Buf;
}

TJson& TJson::Num(const std::string& Key, double Value) {
  return Raw(Key, Number(Value));
}

TJson& TJson::Add(const std::string& Encoded) {
  FItems.push_back(Encoded);
  return *this;
}

std::string TJson::Text() const {
  std::string Out(1, FOpen);
  for (size_t I = 0; I < FItems.size(); ++I) Out += (I ? ", " : "") + FItems[I];
  return Out + FClose;
}

}  // namespace quillo::tool
