// The layer file (magic "QLV3" to "QLV6", written as "QLV5") and the DXF import.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "quillo/codecs/png.h"
#include "quillo/codecs/zstreams.h"
#include "quillo/core/params.h"
#include "quillo/vect/vect.h"

namespace quillo {

namespace {

constexpr double kTwoPi = 6.283185307179586;
// Texts and names longer than this are taken as damage, not read.
constexpr int32_t kMaxText = 1 << 20;
// Group records nest at most this deep.
constexpr int32_t kMaxNesting = 32;

// Reads little-endian values; the first short read clears Ok and everything after reads zero.
struct TIn {
  TStream& S;
  bool Ok = true;
  template <class T>
  T Get() {
    T V{};
    if (Ok && S.Read(&V, sizeof(V)) != static_cast<int64_t>(sizeof(V))) Ok = false;
    return Ok ? V : T{};
  }
  std::string Str() {
    const int32_t N = Get<int32_t>();
    if (N < 0 || N > kMaxText) Ok = false;
    std::string T;
    // Read in pieces, so that a length the data does not hold allocates no more than it has.
    while (Ok && static_cast<int32_t>(T.size()) < N) {
      char Buf[4096];
      const int32_t Want = std::min<int32_t>(N - static_cast<int32_t>(T.size()), sizeof(Buf));
      if (S.Read(Buf, Want) != Want) Ok = false;
      T.append(Buf, static_cast<size_t>(Want));
    }
    return Ok ? T : std::string{};
  }
};

struct TOut {
  TStream& S;
  template <class T>
  void Put(const T& V) {
    S.WriteBuffer(&V, sizeof(V));
  }
  void Str(const std::string& T) {
    Put<int32_t>(static_cast<int32_t>(T.size()));
    if (!T.empty()) S.WriteBuffer(T.data(), static_cast<int64_t>(T.size()));
  }
};

void WriteObject(TOut& Z, const TQLVObject& O) {
  Z.Put<int32_t>(O.X1), Z.Put<int32_t>(O.Y1), Z.Put<int32_t>(O.X2), Z.Put<int32_t>(O.Y2);
  Z.Put<uint8_t>(O.Kind);
  Z.Str(O.Name);
  Z.Put<int32_t>(O.ID);
  Z.Put<int32_t>(O.PenColor);
  Z.Put<uint8_t>(O.PenStyle);
  Z.Put<int32_t>(O.PenWidth);
  Z.Put<int32_t>(O.BrushColor);
  Z.Put<uint8_t>(O.BrushStyle);
  Z.Put<uint8_t>(O.Style);
  switch (O.Kind) {
    case qlkLINE:
      Z.Put<uint8_t>(O.BeginShape), Z.Put<uint8_t>(O.EndShape);
      Z.Put<int32_t>(O.ShapeWidth), Z.Put<int32_t>(O.ShapeHeight);
      break;
    case qlkARC:
      Z.Put<double>(O.BeginAngle), Z.Put<double>(O.EndAngle);
      break;
    case qlkBITMAP:
      Z.Put<int32_t>(O.BitmapIndex);
      break;
    case qlkTEXT:
      Z.Put<uint8_t>(O.TextAlign);
      Z.Str(O.Text);
      Z.Put<uint8_t>(O.HasFont ? 1 : 0);
      if (O.HasFont) Z.Put<TQLLogFont>(O.Font);
      break;
    case qlkRULER:
      Z.Put<uint8_t>(O.RulerUnit), Z.Put<uint8_t>(O.RulerType);
      break;
    default:
      break;
  }
}

}  // namespace

// What a layer file holds, read completely before the layer changes.
struct TLayerReader {
  TQLVObject Template;
  int32_t Version = 5;
  std::vector<TQLVObject> Objects;
  size_t MaxObjects = 0;

  bool ReadObject(TIn& In, int32_t Depth) {
    TQLVObject O = Template;
    O.BeginShape = O.EndShape = qlsNONE;
    O.X1 = In.Get<int32_t>(), O.Y1 = In.Get<int32_t>(), O.X2 = In.Get<int32_t>(),
    O.Y2 = In.Get<int32_t>();
    const uint8_t Kind = In.Get<uint8_t>();
    if (Kind > qlkRULER) return false;
    O.Kind = static_cast<TQLVObjectKind>(Kind);
    O.Name = In.Str();
    O.ID = In.Get<int32_t>();
    O.PenColor = In.Get<int32_t>();
    O.PenStyle = In.Get<uint8_t>();
    O.PenWidth = In.Get<int32_t>();
    O.BrushColor = In.Get<int32_t>();
    O.BrushStyle = In.Get<uint8_t>();
    O.Style = In.Get<uint8_t>();
    O.Text.clear();
    O.BitmapIndex = -1;
    switch (O.Kind) {
      case qlkNONE: {
        // A group: its members follow; the group itself adds no object.
        const int32_t Count = In.Get<int32_t>();
        if (!In.Ok || Count < 0 || Depth >= kMaxNesting) return false;
        for (int32_t I = 0; I < Count; ++I)
          if (!ReadObject(In, Depth + 1)) return false;
        return true;
      }
      case qlkLINE: {
        const uint8_t B = In.Get<uint8_t>(), E = In.Get<uint8_t>();
        if (B > qlsOUTARROW || E > qlsOUTARROW) return false;
        O.BeginShape = static_cast<TQLShape>(B), O.EndShape = static_cast<TQLShape>(E);
        O.ShapeWidth = In.Get<int32_t>(), O.ShapeHeight = In.Get<int32_t>();
        break;
      }
      case qlkARC:
        O.BeginAngle = In.Get<double>(), O.EndAngle = In.Get<double>();
        break;
      case qlkBITMAP:
        O.BitmapIndex = In.Get<int32_t>();
        break;
      case qlkTEXT:
        O.TextAlign = Version >= 4 ? In.Get<uint8_t>() : 0;
        O.Text = In.Str();
        O.HasFont = In.Get<uint8_t>() != 0;
        if (O.HasFont) O.Font = In.Get<TQLLogFont>();
        break;
      case qlkRULER:
        if (Version >= 5) {
          const uint8_t U = In.Get<uint8_t>(), T = In.Get<uint8_t>();
          if (U > qluNANOMETERS || T > qlrtQUOTEEND) return false;
          O.RulerUnit = static_cast<TQLUnits>(U), O.RulerType = static_cast<TQLVRulerType>(T);
        }
        break;
      default:
        break;
    }
    if (!In.Ok || Objects.size() >= MaxObjects) return false;
    Objects.push_back(std::move(O));
    return true;
  }
};

void TQuilloVect::PackBitmaps() {
  std::vector<int32_t> Map(FBitmaps.size(), -1);
  std::vector<TBitmapEntry> Packed;
  for (size_t I = 0; I < FBitmaps.size(); ++I)
    if (FBitmaps[I].Bitmap) {
      Map[I] = static_cast<int32_t>(Packed.size());
      Packed.push_back(std::move(FBitmaps[I]));
    }
  FBitmaps = std::move(Packed);
  auto Renumber = [&](TQLVObject& O) {
    if (O.BitmapIndex >= 0 && O.BitmapIndex < static_cast<int32_t>(Map.size()))
      O.BitmapIndex = Map[static_cast<size_t>(O.BitmapIndex)];
    else
      O.BitmapIndex = -1;
  };
  Renumber(FTemplate);
  for (TStored& S : FStore)
    if (!S.Removed) Renumber(S.O);
}

void TQuilloVect::SaveToStreamQLV(TStream& Stream) {
  PackBitmaps();
  const int64_t Start = Stream.GetPosition();
  TOut Out{Stream};
  Stream.WriteBuffer("QLV5", 4);
  Out.Put<int32_t>(0);
  Out.Put<double>(FScale);
  Out.Put<int32_t>(static_cast<int32_t>(FBitmaps.size()));
  for (size_t I = 0; I < FBitmaps.size(); ++I) {
    const int32_t Refs = FBitmaps[I].Refs - (static_cast<int32_t>(I) == FTemplate.BitmapIndex);
    Out.Put<int32_t>(Refs);
    if (Refs > 0) {
      TIOParamsVals P;
      const bool Mono = FBitmaps[I].Bitmap->GetPixelFormat() == pf1bit;
      P.BitsPerSample = Mono ? 1 : 8;
      P.SamplesPerPixel = Mono ? 1 : 3;
      TProgressRec Progress;
      WritePNGStream(Stream, *FBitmaps[I].Bitmap, P, Progress);
    }
  }
  {
    TCompressionStream Z(TCompressionLevel::clDefault, Stream);
    TOut Zo{Z};
    Zo.Put<int32_t>(static_cast<int32_t>(FZ.size()));
    for (int32_t h : FZ) WriteObject(Zo, Obj(h));
  }
  const int64_t End = Stream.GetPosition();
  const int32_t Length = static_cast<int32_t>(std::min<int64_t>(End - Start, INT32_MAX));
  Stream.Seek(Start + 4, soFromBeginning);
  Out.Put<int32_t>(Length);
  Stream.Seek(End, soFromBeginning);
}

bool TQuilloVect::LoadFromStreamQLV(TStream& Stream) {
  const int64_t Start = Stream.GetPosition();
  char Magic[4];
  if (Stream.Read(Magic, 4) != 4 || std::memcmp(Magic, "QLV", 3) != 0 || Magic[3] < '3' ||
      Magic[3] > '6')
    return false;
  TLayerReader R;
  R.Version = Magic[3] - '0';
  R.Template = FTemplate;
  TIn In{Stream};
  // The record's length: a file cut short of it is damaged, even where what is left would read.
  const int32_t Length = In.Get<int32_t>();
  if (Length > 0 && Start + Length > Stream.GetSize()) return false;
  const double Scale = In.Get<double>();
  const int32_t N = In.Get<int32_t>();
  if (!In.Ok || N < 0 || N > (Stream.GetSize() - Stream.GetPosition()) / 4) return false;
  std::vector<std::unique_ptr<TBitmap>> Table;
  for (int32_t I = 0; I < N; ++I) {
    const int32_t Count = In.Get<int32_t>();
    if (!In.Ok) return false;
    std::unique_ptr<TBitmap> B;
    if (Count > 0) {
      B = std::make_unique<TBitmap>();
      TIOParamsVals P;
      bool Abort = false;
      TProgressRec Progress;
      Progress.AbortFlag = &Abort;
      try {
        if (!IsPNGStream(Stream)) return false;
        ReadPNGStream(Stream, *B, P, Progress, false);
      } catch (const std::exception&) {
        return false;
      }
      if (Abort || B->Empty()) return false;
    }
    Table.push_back(std::move(B));
  }
  // A record is at least 31 bytes of inflated data; zlib inflates at most about a thousand
  // times: the count is bounded by what the rest of the file can hold.
  const int64_t Left = std::max<int64_t>(Stream.GetSize() - Stream.GetPosition(), 0);
  R.MaxObjects = static_cast<size_t>(std::min<int64_t>(Left * 40 + 1024, 50'000'000));
  try {
    TDecompressionStream Z(Stream);
    TIn Zi{Z};
    const int32_t Count = Zi.Get<int32_t>();
    if (!Zi.Ok || Count < 0) return false;
    for (int32_t I = 0; I < Count; ++I)
      if (!R.ReadObject(Zi, 0)) return false;
  } catch (const std::exception&) {
    return false;
  }
  for (const TQLVObject& O : R.Objects)
    if (O.Kind == qlkBITMAP && O.BitmapIndex != -1 &&
        (O.BitmapIndex < 0 || O.BitmapIndex >= N || !Table[static_cast<size_t>(O.BitmapIndex)]))
      return false;

  // Everything is read: the layer takes it.
  const TBitmap* TemplateBitmap = BitmapTableEntry(FTemplate.BitmapIndex);
  TBitmap KeptTemplate;
  if (TemplateBitmap) KeptTemplate.Assign(*TemplateBitmap);
  const bool HadTemplateBitmap = TemplateBitmap != nullptr;
  RemoveAllObjects();
  FBitmaps.clear();
  for (auto& B : Table) FBitmaps.push_back({std::move(B), 0});
  for (TQLVObject& O : R.Objects) {
    if (O.Kind != qlkBITMAP) O.BitmapIndex = -1;
    if (O.BitmapIndex >= 0) ++FBitmaps[static_cast<size_t>(O.BitmapIndex)].Refs;
    FStore.push_back({std::move(O), false});
    FBoundsDirty = true;
    FZ.push_back(static_cast<int32_t>(FStore.size()) - 1);
  }
  for (TBitmapEntry& E : FBitmaps)
    if (E.Refs == 0) E.Bitmap.reset();
  const bool Share = FShareBitmaps;
  FShareBitmaps = true;
  FTemplate.BitmapIndex = HadTemplateBitmap ? StoreBitmap(KeptTemplate) : -1;
  FShareBitmaps = Share;
  FScale = Scale;
  RecalcCoef();
  Update();
  return true;
}

void TQuilloVect::SaveToFileQLV(const std::string& FileName) {
  TFileStream F(FileName, fmCreate);
  SaveToStreamQLV(F);
}

bool TQuilloVect::LoadFromFileQLV(const std::string& FileName) {
  try {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    return LoadFromStreamQLV(F);
  } catch (const std::exception&) {
    return false;
  }
}

// ---------------------------------------------------------------------------------------------
// DXF

namespace {

std::string_view Trim(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t' || S.back() == '\r'))
    S.remove_suffix(1);
  return S;
}

// The drawing as pairs of lines: group code, value. Numbers are read with "." as the decimal
// separator whatever the process locale.
class TDxfReader {
 public:
  explicit TDxfReader(std::string Text) : FText(std::move(Text)) {}
  bool Next(int32_t& Code, std::string_view& Value) {
    std::string_view C;
    if (!Line(C)) return false;
    // A code without its value is a drawing cut short.
    if (!Line(Value)) {
      FBad = !Trim(C).empty();
      return false;
    }
    C = Trim(C);
    Value = Trim(Value);
    const auto R = std::from_chars(C.data(), C.data() + C.size(), Code);
    if (R.ec != std::errc() || R.ptr != C.data() + C.size()) {
      FBad = true;
      return false;
    }
    return true;
  }
  // The value of the next pair with this code, as a finite number.
  bool Find(int32_t Want, double& V) {
    int32_t Code;
    std::string_view Value;
    while (Next(Code, Value))
      if (Code == Want) {
        const auto R = std::from_chars(Value.data(), Value.data() + Value.size(), V);
        return R.ec == std::errc() && R.ptr == Value.data() + Value.size() && std::isfinite(V);
      }
    return false;
  }
  bool Bad() const { return FBad; }

 private:
  bool Line(std::string_view& Out) {
    if (FPos >= FText.size()) return false;
    const size_t End = FText.find('\n', FPos);
    const size_t Stop = End == std::string::npos ? FText.size() : End;
    Out = std::string_view(FText).substr(FPos, Stop - FPos);
    FPos = End == std::string::npos ? FText.size() : End + 1;
    return true;
  }
  std::string FText;
  size_t FPos = 0;
  bool FBad = false;
};

}  // namespace

bool TQuilloVect::ImportDXFStream(TStream& Stream) {
  std::string Text;
  {
    char Buf[65536];
    int64_t Got;
    while ((Got = Stream.Read(Buf, sizeof(Buf))) > 0) Text.append(Buf, static_cast<size_t>(Got));
  }
  TDxfReader R(std::move(Text));
  const double W = Bitmap().GetWidth(), H = Bitmap().GetHeight();
  double XMin = 0, YMin = 0, S = 1, YOff = 0;
  bool Ok = true;
  auto Map = [&](double X, double Y, int32_t& OX, int32_t& OY) {
    OX = QLTrunc((X - XMin) * S);
    OY = QLTrunc(H - std::trunc((Y - YMin) * S) - YOff);
  };
  auto Add = [&](TQLVObjectKind Kind, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2, double A1,
                 double A2) {
    TQLVObject O = FTemplate;
    O.Kind = Kind;
    O.BeginShape = O.EndShape = qlsNONE;
    O.ShapeWidth = 10, O.ShapeHeight = 20, O.PenWidth = 1;
    O.X1 = X1, O.Y1 = Y1, O.X2 = X2, O.Y2 = Y2;
    if (Kind != qlkLINE) {
      if (O.X1 > O.X2) std::swap(O.X1, O.X2);
      if (O.Y1 > O.Y2) std::swap(O.Y1, O.Y2);
    }
    O.BeginAngle = A1, O.EndAngle = A2;
    AddObject(O);
  };
  std::string Section;
  bool Sections = false;
  int32_t Code;
  std::string_view Value;
  while (Ok && R.Next(Code, Value)) {
    if (Code != 0 && !(Section == "HEADER" && Code == 9)) continue;
    if (Code == 0 && Value == "SECTION") {
      if (!R.Next(Code, Value) || Code != 2) {
        Ok = false;
        break;
      }
      Section = Value;
      Sections = true;
      continue;
    }
    if (Code == 0 && Value == "ENDSEC") {
      Section.clear();
      continue;
    }
    if (Code == 0 && Value == "EOF") break;
    if (Section == "HEADER" && Code == 9) {
      double X = 0, Y = 0;
      if (Value == "$EXTMIN") {
        Ok = R.Find(10, X) && R.Find(20, Y);
        XMin = X, YMin = Y;
      } else if (Value == "$EXTMAX") {
        Ok = R.Find(10, X) && R.Find(20, Y);
        if (Ok) {
          S = std::min(H / (Y - YMin + 1), W / (X - XMin + 1));
          YOff = H - std::trunc((Y - YMin) * S);
          Ok = std::isfinite(S) && std::isfinite(YOff);
        }
      }
    } else if (Section == "ENTITIES" && Code == 0) {
      double X1 = 0, Y1 = 0, X2 = 0, Y2 = 0, Rad = 0, A1 = 0, A2 = 0;
      int32_t PX1 = 0, PY1 = 0, PX2 = 0, PY2 = 0;
      if (Value == "LINE") {
        Ok = R.Find(10, X1) && R.Find(20, Y1) && R.Find(11, X2) && R.Find(21, Y2);
        if (Ok) {
          Map(X1, Y1, PX1, PY1);
          Map(X2, Y2, PX2, PY2);
          Add(qlkLINE, PX1, PY1, PX2, PY2, 0, kTwoPi);
        }
      } else if (Value == "CIRCLE" || Value == "ARC") {
        const bool Arc = Value == "ARC";
        Ok = R.Find(10, X1) && R.Find(20, Y1) && R.Find(40, Rad);
        if (Ok && Arc) Ok = R.Find(50, A1) && R.Find(51, A2);
        if (Ok) {
          Map(X1 - Rad, Y1 + Rad, PX1, PY1);
          Map(X1 + Rad, Y1 - Rad, PX2, PY2);
          if (Arc)
            Add(qlkARC, PX1, PY1, PX2, PY2, kTwoPi - A1 * M_PI / 180, kTwoPi - A2 * M_PI / 180);
          else
            Add(qlkELLIPSE, PX1, PY1, PX2, PY2, 0, kTwoPi);
        }
      }
    }
  }
  Update();
  // Text without a single section is not a drawing.
  return Ok && !R.Bad() && Sections;
}

bool TQuilloVect::ImportDXF(const std::string& FileName) {
  try {
    TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
    return ImportDXFStream(F);
  } catch (const std::exception&) {
    Update();
    return false;
  }
}

}  // namespace quillo
