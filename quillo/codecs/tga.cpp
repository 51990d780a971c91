#include "quillo/codecs/tga.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "quillo/codecs/detail/common.h"
#include "quillo/core/colors.h"
#include "quillo/core/detail/bytes.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

constexpr char kSignature[] = "TRUEVISION-XFILE.";  // 17 characters and a NUL: 18 bytes
constexpr int32_t kExtensionSize = 495;

bool KnownType(uint8_t T) {
  return T == 1 || T == 2 || T == 3 || T == 9 || T == 10 || T == 11;
}
bool KnownDepth(uint8_t D) {
  return D == 1 || D == 4 || D == 8 || D == 16 || D == 24 || D == 32;
}

// A 15/16-bit word: red bits 10..14, green 5..9, blue 0..4, each widened to 8 bits by
// repeating its top bits so that 31 gives 255.
inline TRGB Word555(uint16_t W) {
  return CreateRGB(QLExpand5to8((W >> 10) & 31), QLExpand5to8((W >> 5) & 31), QLExpand5to8(W & 31));
}

std::string FixedString(const uint8_t* P, size_t N) {
  size_t L = 0;
  while (L < N && P[L]) ++L;
  return std::string(reinterpret_cast<const char*>(P), L);
}

// Date and time to days since 30 December 1899 (fraction of a day for the time); false for
// values that are no date.
bool EncodeDate(int32_t Month, int32_t Day, int32_t Year, int32_t Hour, int32_t Min, int32_t Sec,
                double& Out) {
  using namespace std::chrono;
  year_month_day D{year{Year}, month{static_cast<unsigned>(Month)},
                   day{static_cast<unsigned>(Day)}};
  if (Month < 1 || Month > 12 || Day < 1 || Year < 1 || !D.ok()) return false;
  if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59) return false;
  Out = static_cast<double>(sys_days(D).time_since_epoch().count()) + 25569.0 +
        (Hour * 3600 + Min * 60 + Sec) / 86400.0;
  return true;
}

void DecodeDate(double V, int32_t& Month, int32_t& Day, int32_t& Year, int32_t& Hour, int32_t& Min,
                int32_t& Sec) {
  using namespace std::chrono;
  const double Days = std::floor(V);
  int32_t Secs = static_cast<int32_t>(std::lround((V - Days) * 86400.0));
  if (Secs >= 86400) Secs = 86399;
  year_month_day D{sys_days{days{static_cast<int64_t>(Days) - 25569}}};
  Month = static_cast<int32_t>(static_cast<unsigned>(D.month()));
  Day = static_cast<int32_t>(static_cast<unsigned>(D.day()));
  Year = static_cast<int32_t>(D.year());
  Hour = Secs / 3600;
  Min = Secs / 60 % 60;
  Sec = Secs % 60;
}

void ReadExtension(TStream& S, int64_t Start, TIOParamsVals& P) {
  P.TgaAuthor.clear();
  P.TgaImageName.clear();
  P.TgaDate = QLToday();
  P.TgaBackground = CreateRGB(0, 0, 0);
  P.TgaAspectRatio = 1.0;
  P.TgaGamma = 2.2;
  const int64_t Size = S.GetSize();
  if (Size - Start < 18 + 26) return;
  uint8_t F[26];
  S.SetPosition(Size - 26);
  S.ReadBuffer(F, 26);
  if (std::memcmp(F + 8, kSignature, 18) != 0) return;
  const int64_t Offset = LE32(F);
  if (Offset == 0 || Start + Offset + kExtensionSize > Size) return;
  uint8_t E[kExtensionSize];
  S.SetPosition(Start + Offset);
  S.ReadBuffer(E, kExtensionSize);
  P.TgaAuthor = FixedString(E + 2, 41);
  P.TgaImageName = FixedString(E + 379, 41);
  const int32_t Month = LE16(E + 367), Day = LE16(E + 369), Year = LE16(E + 371);
  double Date;
  if (Month && Day && Year &&
      EncodeDate(Month, Day, Year, LE16(E + 373), LE16(E + 375), LE16(E + 377), Date))
    P.TgaDate = Date;
  P.TgaBackground = CreateRGB(E[471], E[472], E[473]);
  if (LE16(E + 474) && LE16(E + 476))
    P.TgaAspectRatio = static_cast<double>(LE16(E + 474)) / LE16(E + 476);
  if (LE16(E + 478) && LE16(E + 480))
    P.TgaGamma = static_cast<double>(LE16(E + 478)) / LE16(E + 480);
}

void ReadTGA(TStream& S, TBitmap& Bmp, TIOParamsVals& P, TProgressRec& Prog, bool Preview) {
  const int64_t Start = S.GetPosition();
  ReadExtension(S, Start, P);
  S.SetPosition(Start);
  uint8_t H[18];
  if (S.Read(H, 18) != 18) return QLSetAbort(Prog);
  const uint8_t Type = H[2], Depth = H[16], Desc = H[17];
  P.TgaXPos = LE16(H + 8);
  P.TgaYPos = LE16(H + 10);
  if (!KnownType(Type) || !KnownDepth(Depth)) return QLSetAbort(Prog);
  std::string Id(H[0], '\0');
  S.ReadBuffer(Id.data(), H[0]);
  P.TgaDescriptor = FixedString(reinterpret_cast<const uint8_t*>(Id.data()), Id.size());

  // The working palette: a 3-3-2 colour cube unless the file says otherwise.
  std::array<TRGB, 256> Pal;
  for (int32_t I = 0; I < 256; ++I)
    Pal[static_cast<size_t>(I)] = CreateRGB(static_cast<uint8_t>((I >> 5) * 32 + 28),
                                            static_cast<uint8_t>(((I >> 2) & 7) * 32 + 28),
                                            static_cast<uint8_t>((I & 3) * 64 + 60));
  P.FreeColorMap();
  if (H[1] == 1) {
    const int32_t First = LE16(H + 3), Length = LE16(H + 5), EntryBits = H[7];
    const int32_t EntryBytes = (EntryBits + 7) / 8;
    if (EntryBits != 15 && EntryBits != 16 && EntryBits != 24 && EntryBits != 32)
      return QLSetAbort(Prog);
    std::vector<uint8_t> Raw(static_cast<size_t>(Length) * EntryBytes);
    S.ReadBuffer(Raw.data(), static_cast<int64_t>(Raw.size()));
    // Entries beyond the 256 an index can reach are read past and dropped.
    for (int32_t I = 0; I < Length && First + I < 256; ++I) {
      const uint8_t* E = Raw.data() + static_cast<size_t>(I) * EntryBytes;
      Pal[static_cast<size_t>(First + I)] =
          EntryBytes == 2 ? Word555(LE16(E)) : TRGB{E[0], E[1], E[2]};
    }
    P.SetColorMap(Pal.data(), std::min(Length, 256));
    P.TgaGrayLevel = false;
  } else if (Depth == 8) {
    for (int32_t I = 0; I < 256; ++I)
      Pal[static_cast<size_t>(I)] =
          CreateRGB(static_cast<uint8_t>(I), static_cast<uint8_t>(I), static_cast<uint8_t>(I));
    P.TgaGrayLevel = true;
  } else if (Depth == 1) {
    Pal[0] = CreateRGB(0, 0, 0);
    Pal[1] = CreateRGB(255, 255, 255);
  }
  P.TgaCompressed = Type >= 9;
  const int32_t W = LE16(H + 12), Ht = LE16(H + 14);
  P.Width = W;
  P.Height = Ht;
  P.DpiX = gSystemDPIX;
  P.DpiY = gSystemDPIY;
  QLDepthToParams(P, Depth, 4);
  if (Preview) return;
  // A colour-mapped depth-1 image holds its two colours in the map.
  const TQLTwoColours Two = Depth == 1 ? QLTwoColours(Pal[0], Pal[1]) : tcBlackWhite;
  const bool OneBit = Depth == 1 && Two != tcColoured;
  if (!QLPrepareBitmap(Bmp, W, Ht, OneBit, Prog)) return;

  // A pixel's bytes: one byte holds eight pixels at depth 1 and two at depth 4; packets count
  // those units.
  const int32_t Unit = Depth <= 8 ? 1 : Depth / 8;
  const int32_t Units = Depth == 1 ? (W + 7) / 8 : Depth == 4 ? (W + 1) / 2 : W;
  std::vector<uint8_t> Raw(static_cast<size_t>(Units) * Unit);
  TQLByteReader R(S, 8192);
  const bool TopDown = Desc & 0x20, Mirror = Desc & 0x10;
  for (int32_t I = 0; I < Ht; ++I) {
    QLProgress(Prog, QLTrunc(I * 100.0 / Ht));
    if (QLAborted(Prog)) break;
    // The units of one row; a run-length packet that would pass the row's end is cut there.
    if (P.TgaCompressed) {
      int32_t N = 0;
      while (N < Units) {
        const int32_t Hdr = R.Get();
        if (Hdr < 0) return QLSetAbort(Prog);
        const int32_t Count = (Hdr & 127) + 1;
        uint8_t Pixel[4];
        if (Hdr & 128) {
          if (R.Read(Pixel, Unit) != Unit) return QLSetAbort(Prog);
          for (int32_t K = 0; K < Count && N < Units; ++K, ++N)
            std::memcpy(&Raw[static_cast<size_t>(N) * Unit], Pixel, static_cast<size_t>(Unit));
        } else {
          const int32_t Take = std::min(Count, Units - N);
          if (R.Read(&Raw[static_cast<size_t>(N) * Unit], static_cast<int64_t>(Take) * Unit) !=
              static_cast<int64_t>(Take) * Unit)
            return QLSetAbort(Prog);
          for (int32_t K = Take; K < Count; ++K)
            if (R.Read(Pixel, Unit) != Unit) return QLSetAbort(Prog);
          N += Take;
        }
      }
    } else if (R.Read(Raw.data(), static_cast<int64_t>(Raw.size())) !=
               static_cast<int64_t>(Raw.size())) {
      return QLSetAbort(Prog);
    }
    const int32_t Y = TopDown ? I : Ht - 1 - I;
    uint8_t* Row = Bmp.ScanLine(Y);
    if (OneBit) {
      // One bit per pixel, the leftmost in the top bit, 1 for the lighter value: the working
      // layout's own arrangement (inverted for a map of white then black).
      if (Two == tcWhiteBlack)
        for (uint8_t& B : Raw) B = static_cast<uint8_t>(~B);
      if (!Mirror) {
        std::memcpy(Row, Raw.data(), Raw.size());
      } else {
        std::memset(Row, 0, static_cast<size_t>(Bmp.RowLen()));
        for (int32_t X = 0; X < W; ++X)
          if ((Raw[static_cast<size_t>(X >> 3)] >> (7 - (X & 7))) & 1) {
            const int32_t To = W - 1 - X;
            Row[To >> 3] |= static_cast<uint8_t>(0x80 >> (To & 7));
          }
      }
      continue;
    }
    TRGB* Px = reinterpret_cast<TRGB*>(Row);
    for (int32_t X = 0; X < W; ++X) {
      const int32_t To = Mirror ? W - 1 - X : X;
      const uint8_t* E = Raw.data() + static_cast<size_t>(Depth == 4 ? X / 2 : X) * Unit;
      switch (Depth) {
        case 1:
          Px[To] = Pal[(Raw[static_cast<size_t>(X >> 3)] >> (7 - (X & 7))) & 1];
          break;
        case 4:
          Px[To] = Pal[(X & 1) ? (*E & 0x0F) : (*E >> 4)];
          break;
        case 8:
          Px[To] = Pal[*E];
          break;
        case 16:
          Px[To] = Word555(LE16(E));
          break;
        default:
          Px[To] = TRGB{E[0], E[1], E[2]};
          break;
      }
    }
  }
}

// Run-length coding of a row of Count pixels of Unit bytes.
void EncodeRow(const uint8_t* Px, int32_t Count, int32_t Unit, std::vector<uint8_t>& Out) {
  auto Same = [&](int32_t A, int32_t B) {
    return std::memcmp(Px + static_cast<size_t>(A) * Unit, Px + static_cast<size_t>(B) * Unit,
                       static_cast<size_t>(Unit)) == 0;
  };
  int32_t X = 0;
  while (X < Count) {
    int32_t Run = 1;
    while (Run < 128 && X + Run < Count && Same(X, X + Run)) ++Run;
    if (Run >= 2) {
      Out.push_back(static_cast<uint8_t>(128 + Run - 1));
      Out.insert(Out.end(), Px + static_cast<size_t>(X) * Unit,
                 Px + static_cast<size_t>(X + 1) * Unit);
      X += Run;
      continue;
    }
    // A raw packet ends before the next pixel that equals its successor.
    int32_t N = 1;
    while (N < 128 && X + N < Count && !(X + N + 1 < Count && Same(X + N, X + N + 1))) ++N;
    Out.push_back(static_cast<uint8_t>(N - 1));
    Out.insert(Out.end(), Px + static_cast<size_t>(X) * Unit,
               Px + static_cast<size_t>(X + N) * Unit);
    X += N;
  }
}

void WriteTGA(TStream& S, const TBitmap& Bitmap, TIOParamsVals& P, TProgressRec& Prog) {
  bool& Abort = *Prog.AbortFlag;
  if (Bitmap.GetPixelFormat() != pf24bit && Bitmap.GetPixelFormat() != pf1bit) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  if (W <= 0 || H <= 0 || W > 65535 || H > 65535) return QLSetAbort(Prog);
  const int64_t Start = S.GetPosition();
  int32_t Depth = 24;
  if (P.SamplesPerPixel == 1) Depth = P.BitsPerSample == 1 ? 1 : P.BitsPerSample == 4 ? 4 : 8;
  if (Depth == 1 || Depth == 4) P.TgaCompressed = false;
  const bool Grey = Depth == 8 && P.TgaGrayLevel;
  const bool Mapped = (Depth == 4 || Depth == 8) && !Grey;

  std::unique_ptr<TBitmap> One;
  TBitmap Wide;
  const TBitmap* Src = nullptr;
  std::unique_ptr<TQLPaletteMapper> Map;
  std::vector<TRGB> Pal(256);
  if (Depth == 1) {
    TRGB C1, C2;
    One = QLOneBitForWriting(Bitmap, C1, C2);
    Src = One.get();
    P.FreeColorMap();
  } else {
    Src = &QLAs24Bit(Bitmap, Wide);
    if (Depth == 4 || Depth == 8) {
      const int32_t NCol = 1 << Depth;
      Map = std::make_unique<TQLPaletteMapper>(*Src, NCol, P.ColorMap);
      std::copy(Map->Palette().begin(), Map->Palette().end(), Pal.begin());
      P.SetColorMap(Pal.data(), NCol);
    }
  }

  const std::string Id = P.TgaDescriptor.substr(0, 254);
  uint8_t Hd[18] = {};
  Hd[0] = static_cast<uint8_t>(Id.size() + 1);
  Hd[1] = Mapped ? 1 : 0;
  Hd[2] = static_cast<uint8_t>((Depth == 1 || Grey ? 3
                                : Mapped           ? 1
                                                   : 2) +
                               (P.TgaCompressed ? 8 : 0));
  if (Mapped) {
    PutLE16(Hd + 5, 1u << Depth);
    Hd[7] = 24;
  }
  PutLE16(Hd + 8, static_cast<uint32_t>(P.TgaXPos));
  PutLE16(Hd + 10, static_cast<uint32_t>(P.TgaYPos));
  PutLE16(Hd + 12, static_cast<uint32_t>(W));
  PutLE16(Hd + 14, static_cast<uint32_t>(H));
  Hd[16] = static_cast<uint8_t>(Depth);
  Hd[17] = 0x20;  // rows top-down
  SafeStreamWrite(S, Abort, Hd, 18);
  SafeStreamWrite(S, Abort, Id.c_str(), static_cast<int64_t>(Id.size()) + 1);
  if (Mapped) SafeStreamWrite(S, Abort, Pal.data(), static_cast<int64_t>(1 << Depth) * 3);

  const int32_t Unit = Depth == 24 ? 3 : 1;
  const int32_t Units = Depth == 1 ? (W + 7) / 8 : Depth == 4 ? (W + 1) / 2 : W;
  std::vector<uint8_t> Row(static_cast<size_t>(Units) * Unit + 4), Out;
  std::vector<uint8_t> Indexes(static_cast<size_t>(W));
  uint8_t GreyOf[256];
  for (int32_t I = 0; I < 256; ++I) {
    const TRGB& C = Pal[static_cast<size_t>(I)];
    GreyOf[I] = QLStoredGrey(C);
  }
  for (int32_t Y = 0; Y < H && !Abort; ++Y) {
    QLProgress(Prog, QLTrunc(Y * 100.0 / H));
    if (QLAborted(Prog)) break;
    const uint8_t* Line = Src->ScanLine(Y);
    if (Depth == 1) {
      std::memcpy(Row.data(), Line, static_cast<size_t>(Units));
    } else if (Depth == 24) {
      std::memcpy(Row.data(), Line, static_cast<size_t>(W) * 3);
    } else {
      Map->MapRow(Line, W, Indexes.data());
      std::fill(Row.begin(), Row.end(), 0);
      for (int32_t X = 0; X < W; ++X) {
        const uint8_t I = Indexes[static_cast<size_t>(X)];
        if (Depth == 8)
          Row[static_cast<size_t>(X)] = I;
        else
          Row[static_cast<size_t>(X >> 1)] |= static_cast<uint8_t>((X & 1) ? I & 0x0F : I << 4);
      }
      if (Grey)
        for (int32_t X = 0; X < W; ++X)
          Row[static_cast<size_t>(X)] = GreyOf[Row[static_cast<size_t>(X)]];
    }
    if (P.TgaCompressed) {
      Out.clear();
      EncodeRow(Row.data(), Units, Unit, Out);
      SafeStreamWrite(S, Abort, Out.data(), static_cast<int64_t>(Out.size()));
    } else {
      SafeStreamWrite(S, Abort, Row.data(), static_cast<int64_t>(Units) * Unit);
    }
  }
  if (Abort) return;

  uint8_t E[kExtensionSize] = {};
  PutLE16(E, kExtensionSize);
  std::memcpy(E + 2, P.TgaAuthor.data(), std::min<size_t>(P.TgaAuthor.size(), 40));
  int32_t Mo, D, Yr, Hr, Mi, Se;
  DecodeDate(P.TgaDate, Mo, D, Yr, Hr, Mi, Se);
  const int32_t Stamp[6] = {Mo, D, Yr, Hr, Mi, Se};
  for (int32_t I = 0; I < 6; ++I) PutLE16(E + 367 + I * 2, static_cast<uint32_t>(Stamp[I]));
  std::memcpy(E + 379, P.TgaImageName.data(), std::min<size_t>(P.TgaImageName.size(), 40));
  E[471] = P.TgaBackground.r;
  E[472] = P.TgaBackground.g;
  E[473] = P.TgaBackground.b;
  PutLE16(E + 474, static_cast<uint32_t>(QLTrunc(P.TgaAspectRatio * 10000)));
  PutLE16(E + 476, 10000);
  PutLE16(E + 478, static_cast<uint32_t>(QLTrunc(P.TgaGamma * 10000)));
  PutLE16(E + 480, 10000);
  const int64_t ExtPos = S.GetPosition();
  SafeStreamWrite(S, Abort, E, kExtensionSize);
  uint8_t F[26] = {};
  PutLE32(F, static_cast<uint32_t>(ExtPos - Start));
  std::memcpy(F + 8, kSignature, 18);
  SafeStreamWrite(S, Abort, F, 26);
}

}  // namespace

bool TryTGA(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  bool Result = false;
  try {
    uint8_t H[18];
    if (Stream.Read(H, 18) == 18 && KnownType(H[2]) && KnownDepth(H[16])) {
      // The netpbm formats can pass the test above; their signature rules them out.
      const bool Pnm =
          H[0] == 'P' && H[1] >= '2' && H[1] <= '6' && (H[2] == ' ' || H[2] == '#' || H[2] == '\n');
      Result = !Pnm;
    }
  } catch (const Exception&) {
    Result = false;
  }
  Stream.SetPosition(Pos);
  return Result;
}

void ReadTGAStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview) {
  QLGuarded(Progress, [&] { ReadTGA(Stream, Bitmap, Params, Progress, Preview); });
}

void WriteTGAStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress) {
  QLGuarded(Progress, [&] { WriteTGA(Stream, Bitmap, Params, Progress); });
}

}  // namespace quillo
