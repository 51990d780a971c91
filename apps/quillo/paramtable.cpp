#include "apps/quillo/paramtable.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace quillo::tool {

namespace {

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

bool ParseInt(const std::string& S, int32_t& V) {
  if (S.empty()) return false;
  char* End = nullptr;
  long long L = std::strtoll(S.c_str(), &End, 10);
  if (*End || L < std::numeric_limits<int32_t>::min() || L > std::numeric_limits<int32_t>::max())
    return false;
  V = static_cast<int32_t>(L);
  return true;
}

bool ParseDouble(const std::string& S, double& V) {
  if (S.empty()) return false;
  char* End = nullptr;
  V = std::strtod(S.c_str(), &End);
  return !*End;
}

bool ParseBool(const std::string& S, bool& V) {
  const std::string L = Lower(S);
  if (L == "true" || L == "1" || L == "yes" || L == "on") return V = true, true;
  if (L == "false" || L == "0" || L == "no" || L == "off") return V = false, true;
  return false;
}

std::string ColorText(const TRGB& C) {
  char Buf[8];
  std::snprintf(Buf, sizeof(Buf), "#%02X%02X%02X", C.r, C.g, C.b);
  return Buf;
}

bool ParseColor(const std::string& S, TRGB& C) {
  std::string H = S[0] == '#' ? S.substr(1) : S;
  if (H.size() != 6) return false;
  char* End = nullptr;
  unsigned long V = std::strtoul(H.c_str(), &End, 16);
  if (*End) return false;
  C = CreateRGB(static_cast<uint8_t>(V >> 16), static_cast<uint8_t>(V >> 8),
                static_cast<uint8_t>(V));
  return true;
}

}  // namespace

std::string TParamField::Get(const TIOParamsVals& P) const {
  switch (Row->Kind) {
    case TQLParamKind::Int:
      return std::to_string(QLParamRef<int32_t>(*Row, P));
    case TQLParamKind::Bool:
      return QLParamRef<bool>(*Row, P) ? "true" : "false";
    case TQLParamKind::Double: {
      char Buf[32];
      std::snprintf(Buf, sizeof(Buf), "%g", QLParamRef<double>(*Row, P));
      return Buf;
    }
    case TQLParamKind::String: {
      const std::string& S = QLParamRef<std::string>(*Row, P);
      return S.substr(0, S.find('\0'));
    }
    case TQLParamKind::Enum: {
      const size_t V = std::get<TQLParamEnum>(Row->Member).Get(P);
      return V < Values.size() ? Values[V] : std::to_string(V);
    }
    case TQLParamKind::Color:
      return ColorText(QLParamRef<TRGB>(*Row, P));
    default:
      return {};
  }
}

bool TParamField::Set(TIOParamsVals& P, const std::string& Text) const {
  switch (Row->Kind) {
    case TQLParamKind::Int:
      return ParseInt(Text, QLParamRef<int32_t>(*Row, P));
    case TQLParamKind::Bool:
      return ParseBool(Text, QLParamRef<bool>(*Row, P));
    case TQLParamKind::Double:
      return ParseDouble(Text, QLParamRef<double>(*Row, P));
    case TQLParamKind::String:
      QLParamRef<std::string>(*Row, P) = Text;
      return true;
    case TQLParamKind::Enum: {
      const std::string L = Lower(Text);
      const size_t Pre = std::strlen(Row->EnumPrefix);
      for (size_t I = 0; I < Values.size(); ++I)
        if (Lower(Values[I]) == L || Lower(Values[I].substr(Pre)) == L) {
          std::get<TQLParamEnum>(Row->Member).Set(P, static_cast<uint8_t>(I));
          return true;
        }
      return false;
    }
    case TQLParamKind::Color:
      return !Text.empty() && ParseColor(Text, QLParamRef<TRGB>(*Row, P));
    default:
      return false;
  }
}

double TParamField::Number(const TIOParamsVals& P) const {
  return Row->Kind == TQLParamKind::Double ? QLParamRef<double>(*Row, P)
                                           : static_cast<double>(QLParamRef<int32_t>(*Row, P));
}

const std::vector<TParamField>& ParamFields() {
  static const std::vector<TParamField> Fields = [] {
    std::vector<TParamField> Out;
    for (const TQLParamField& F : QLParamFields()) {
      // Where the record was read from is not a setting.
      if (std::strcmp(F.Name, "FileName") == 0) continue;
      TFieldKind Kind;
      switch (F.Kind) {
        case TQLParamKind::Int:
        case TQLParamKind::Double:
          Kind = TFieldKind::Number;
          break;
        case TQLParamKind::Bool:
          Kind = TFieldKind::Boolean;
          break;
        case TQLParamKind::String:
        case TQLParamKind::Enum:
        case TQLParamKind::Color:
          Kind = TFieldKind::Text;
          break;
        default:
          continue;  // palette, lists and coder hooks have no text form
      }
      Out.push_back({&F, F.Name, Kind, {F.EnumNames.begin(), F.EnumNames.end()}});
    }
    return Out;
  }();
  return Fields;
}

const TParamField* FindParamField(const std::string& Name) {
  const std::string L = Lower(Name);
  for (const TParamField& F : ParamFields())
    if (Lower(F.Name) == L) return &F;
  return nullptr;
}

const char* FormatParamPrefix(int32_t Type) {
  switch (Type) {
    case ioTIFF:
      return "Tiff";
    case ioGIF:
      return "Gif";
    case ioJPEG:
      return "Jpeg";
    case ioPCX:
      return "Pcx";
    case ioBMP:
      return "Bmp";
    case ioICO:
      return "Ico";
    case ioCUR:
      return "Cur";
    case ioPNG:
      return "Png";
    case ioTGA:
      return "Tga";
    default:
      return nullptr;
  }
}

std::string MarkerName(uint8_t M) {
  char Buf[24];
  if (M >= 0xE0 && M <= 0xEF)
    std::snprintf(Buf, sizeof(Buf), "APP%d (0x%02X)", M - 0xE0, M);
  else if (M == 0xFE)
    std::snprintf(Buf, sizeof(Buf), "COM (0xFE)");
  else
    std::snprintf(Buf, sizeof(Buf), "0x%02X", M);
  return Buf;
}

}  // namespace quillo::tool
