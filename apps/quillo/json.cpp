#include "apps/quillo/json.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace quillo::tool {

namespace {

// Length of the valid UTF-8 sequence starting at I, or 0.
size_t Utf8Length(const std::string& S, size_t I) {
  const auto B = [&](size_t K) { return static_cast<uint8_t>(S[K]); };
  const uint8_t C = B(I);
  size_t N = C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : (C >> 3) == 30 ? 4 : 0;
  if (N == 0 || I + N > S.size()) return 0;
  for (size_t K = 1; K < N; ++K)
    if ((B(I + K) & 0xC0) != 0x80) return 0;
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
    } else if (C < 0x20) {
      char Buf[8];
      std::snprintf(Buf, sizeof(Buf), "\\u%04x", C);
      Out += Buf;
      ++I;
    } else if (const size_t N = Utf8Length(Text, I); N > 0) {
      Out.append(Text, I, N);
      I += N;
    } else {
      Out += static_cast<char>(0xC0 | (C >> 6));
      Out += static_cast<char>(0x80 | (C & 0x3F));
      ++I;
    }
  }
  return Out + "\"";
}

TJson& TJson::Raw(const std::string& Key, const std::string& Encoded) {
  FItems.push_back(JsonString(Key) + ": " + Encoded);
  return *this;
}

TJson& TJson::Num(const std::string& Key, double Value) {
  if (!std::isfinite(Value)) return Raw(Key, "null");
  char Buf[32];
  std::snprintf(Buf, sizeof(Buf), "%.10g", Value);
  return Raw(Key, Buf);
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
