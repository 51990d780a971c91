#include "quillo/codecs/pcx.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "quillo/codecs/detail/common.h"
#include "quillo/core/detail/bytes.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

// Run-length decoding of plane lines; a run may run on into the next line (and plane).
class TLineDecoder {
 public:
  // Reads at most Size bytes of image data from In.
  TLineDecoder(TQLByteReader& In, int64_t Size, bool Rle) : FIn(In), FSize(Size), FRle(Rle) {}
  // Fills Count bytes; false when the data ran out.
  bool Line(uint8_t* Out, int64_t Count) {
    int64_t N = 0;
    if (!FRle) {
      if (FPos + Count > FSize || FIn.Read(Out, Count) != Count) return false;
      FPos += Count;
      return true;
    }
    while (N < Count) {
      if (FRun > 0) {
        int64_t K = std::min<int64_t>(FRun, Count - N);
        std::memset(Out + N, FValue, static_cast<size_t>(K));
        N += K;
        FRun -= static_cast<int32_t>(K);
        continue;
      }
      const int32_t B = Next();
      if (B < 0) return false;
      if (B < 192) {
        Out[N++] = static_cast<uint8_t>(B);
        continue;
      }
      const int32_t V = Next();
      if (V < 0) return false;
      FRun = B & 63;
      FValue = static_cast<uint8_t>(V);
    }
    return true;
  }

 private:
  // The next byte of the data, or -1 past its end.
  int32_t Next() {
    if (FPos >= FSize) return -1;
    ++FPos;
    return FIn.Get();
  }

  TQLByteReader& FIn;
  int64_t FSize;
  bool FRle;
  int64_t FPos = 0;
  int32_t FRun = 0;
  uint8_t FValue = 0;
};

void ReadPcx(TStream& S, TBitmap& Bmp, TIOParamsVals& P, TProgressRec& Prog, bool Preview,
             int64_t DataSize) {
  const int64_t Start = S.GetPosition();
  uint8_t H[128];
  if (S.Read(H, 128) != 128) return QLSetAbort(Prog);
  const int32_t Bits = H[3], Planes = H[65];
  if (H[0] != 10 || Bits > 8 || H[2] > 1) return QLSetAbort(Prog);
  const int32_t W = LE16(H + 8) - LE16(H + 4) + 1;
  const int32_t Ht = LE16(H + 10) - LE16(H + 6) + 1;
  int32_t DpiX = LE16(H + 12), DpiY = LE16(H + 14);
  if (DpiX == 0 || DpiY == 0) {
    DpiX = gSystemDPIX;
    DpiY = gSystemDPIY;
  }
  const int32_t BytesPerLine = LE16(H + 66);
  // The data the image may use, the palette of 8-bit images included.
  DataSize = std::min(DataSize > 0 ? DataSize : S.GetSize() - Start, S.GetSize() - Start);
  std::array<TRGB, 16> HeaderPal;
  for (int32_t I = 0; I < 16; ++I)
    HeaderPal[static_cast<size_t>(I)] = CreateRGB(H[16 + I * 3], H[17 + I * 3], H[18 + I * 3]);
  std::array<TRGB, 256> Pal{};
  if (Planes == 1 && Bits > 4) {
    if (DataSize < 128 + 768) return QLSetAbort(Prog);
    uint8_t Raw[768];
    S.SetPosition(Start + DataSize - 768);
    S.ReadBuffer(Raw, 768);
    for (int32_t I = 0; I < 256; ++I)
      Pal[static_cast<size_t>(I)] = CreateRGB(Raw[I * 3], Raw[I * 3 + 1], Raw[I * 3 + 2]);
    S.SetPosition(Start + 128);
  }
  P.BitsPerSample = Bits;
  P.SamplesPerPixel = Planes;
  P.PcxVersion = H[1];
  P.PcxCompression = H[2] ? ioPCX_RLE : ioPCX_UNCOMPRESSED;
  P.FreeColorMap();
  if (Planes == 1 && Bits == 8) {
    P.SetColorMap(Pal.data(), 256);
  } else if (Bits == 1 && Planes == 4) {
    P.SetColorMap(HeaderPal.data(), 16);
    P.BitsPerSample = 4;
    P.SamplesPerPixel = 1;
  } else if (Planes == 1 && Bits < 8 && Bits > 0) {
    P.SetColorMap(HeaderPal.data(), std::min(16, 1 << Bits));
  }
  P.Width = W;
  P.Height = Ht;
  P.DpiX = DpiX;
  P.DpiY = DpiY;
  if (Preview) return;

  // Layouts: packed indexes in one plane (1, 2, 4 bits), one bit per plane in 2 to 4 planes,
  // 8-bit indexes, or three 8-bit planes of red, green and blue.
  const bool Packed = Planes == 1 && (Bits == 1 || Bits == 2 || Bits == 4);
  const bool BitPlanes = Bits == 1 && Planes >= 2 && Planes <= 4;
  const bool Indexed8 = Planes == 1 && Bits == 8;
  const bool Rgb = Planes == 3 && Bits == 8;
  if (!(Packed || BitPlanes || Indexed8 || Rgb)) return QLSetAbort(Prog);
  if (W <= 0 || Ht <= 0) return QLSetAbort(Prog);
  // A line must hold the row's samples.
  if (static_cast<int64_t>(BytesPerLine) * 8 < static_cast<int64_t>(W) * Bits)
    return QLSetAbort(Prog);
  // One bit in one plane: the header's first two entries are its colours. Writers that leave a
  // black-and-white file's palette unset store zeros there, which mean black and white too.
  const TQLTwoColours Two =
      HeaderPal[0] == HeaderPal[1] ? tcBlackWhite : QLTwoColours(HeaderPal[0], HeaderPal[1]);
  const bool OneBit = Packed && Bits == 1 && Two != tcColoured;
  if (!QLPrepareBitmap(Bmp, W, Ht, OneBit, Prog)) return;

  const int64_t Avail = std::max<int64_t>(0, std::min(DataSize - 128, S.Remaining()));
  // The data is decoded as it is read; however decoding ends, the stream is left after it.
  struct TLeaveAfter {
    TStream& S;
    int64_t Pos;
    ~TLeaveAfter() {
      try {
        S.SetPosition(Pos);
      } catch (...) {
      }
    }
  } LeaveAfter{S, S.GetPosition() + Avail};
  TQLByteReader In(S);
  TLineDecoder Dec(In, Avail, H[2] == 1);
  std::vector<uint8_t> Lines(static_cast<size_t>(BytesPerLine) * Planes);
  const bool InvertOneBit = Two == tcWhiteBlack;
  for (int32_t Y = 0; Y < Ht; ++Y) {
    QLProgress(Prog, QLTrunc(Y * 100.0 / Ht));
    if (QLAborted(Prog)) break;
    for (int32_t Pl = 0; Pl < Planes; ++Pl)
      if (!Dec.Line(Lines.data() + static_cast<size_t>(Pl) * BytesPerLine, BytesPerLine))
        return QLSetAbort(Prog);
    uint8_t* Row = Bmp.ScanLine(Y);
    TRGB* Px = reinterpret_cast<TRGB*>(Row);
    const uint8_t* L = Lines.data();
    if (OneBit) {
      std::memcpy(Row, L, static_cast<size_t>((W + 7) / 8));
      // Index 0 white and 1 black is the inverse of the working layout's meaning.
      if (InvertOneBit)
        for (int32_t K = 0; K < (W + 7) / 8; ++K) Row[K] = static_cast<uint8_t>(~Row[K]);
    } else if (Packed) {
      const int32_t PerByte = 8 / Bits, Mask = (1 << Bits) - 1;
      for (int32_t X = 0; X < W; ++X) {
        int32_t Shift = 8 - Bits * (X % PerByte + 1);
        Px[X] = HeaderPal[static_cast<size_t>((L[X / PerByte] >> Shift) & Mask)];
      }
    } else if (BitPlanes) {
      for (int32_t X = 0; X < W; ++X) {
        int32_t Index = 0;
        for (int32_t Pl = 0; Pl < Planes; ++Pl)
          Index |= ((L[Pl * BytesPerLine + (X >> 3)] >> (7 - (X & 7))) & 1) << Pl;
        Px[X] = HeaderPal[static_cast<size_t>(Index)];
      }
    } else if (Indexed8) {
      for (int32_t X = 0; X < W; ++X) Px[X] = Pal[L[X]];
    } else {
      for (int32_t X = 0; X < W; ++X)
        Px[X] = CreateRGB(L[X], L[BytesPerLine + X], L[2 * BytesPerLine + X]);
    }
  }
}

void WritePcx(TStream& S, const TBitmap& Bitmap, TIOParamsVals& P, TProgressRec& Prog) {
  bool& Abort = *Prog.AbortFlag;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  if (W <= 0 || H <= 0 || W > 65536 || H > 65536) return QLSetAbort(Prog);
  int32_t Depth = P.BitsPerSample == 1 ? 1 : P.BitsPerSample * P.SamplesPerPixel;
  // Depths PCX cannot store take the nearest it can.
  if (Depth != 1 && Depth != 4 && Depth != 8 && Depth != 24)
    Depth = P.SamplesPerPixel >= 3 ? 24 : 8;
  const bool Rle = P.PcxCompression != ioPCX_UNCOMPRESSED;

  uint8_t Hd[128] = {};
  Hd[0] = 10;
  Hd[1] = static_cast<uint8_t>(P.PcxVersion);
  Hd[2] = Rle ? 1 : 0;
  Hd[3] = static_cast<uint8_t>(Depth == 24 ? 8 : Depth);
  PutLE16(Hd + 8, static_cast<uint32_t>(W - 1));
  PutLE16(Hd + 10, static_cast<uint32_t>(H - 1));
  PutLE16(Hd + 12, static_cast<uint32_t>(P.DpiX));
  PutLE16(Hd + 14, static_cast<uint32_t>(P.DpiY));
  Hd[65] = Depth == 24 ? 3 : 1;
  int32_t Samples = Depth == 1 ? (W + 7) / 8 : Depth == 4 ? (W + 1) / 2 : W;
  const int32_t BytesPerLine = Samples + (Samples & 1);
  PutLE16(Hd + 66, static_cast<uint32_t>(BytesPerLine));
  PutLE16(Hd + 68, Depth == 24 ? 0 : 1);

  std::unique_ptr<TBitmap> One;
  TBitmap Wide;
  const TBitmap* Src = nullptr;
  std::unique_ptr<TQLPaletteMapper> Map;
  std::vector<TRGB> Pal(256);
  if (Depth == 1) {
    // A two-colour image records its colours in the palette; one that was black and white
    // already, or has to be dithered, leaves those entries zero.
    TRGB C1{}, C2{};
    if (Bitmap.GetPixelFormat() == pf24bit && (One = _ConvertTo1bit(Bitmap, C1, C2))) {
      for (int32_t I = 0; I < 2; ++I) {
        const TRGB& C = I ? C2 : C1;
        Hd[16 + I * 3] = C.r, Hd[17 + I * 3] = C.g, Hd[18 + I * 3] = C.b;
      }
    } else {
      One = QLOneBitForWriting(Bitmap, C1, C2);
    }
    P.FreeColorMap();
    Src = One.get();
  } else {
    Src = &QLAs24Bit(Bitmap, Wide);
    if (Depth == 4 || Depth == 8) {
      const int32_t NCol = Depth == 4 ? 16 : 256;
      Map = std::make_unique<TQLPaletteMapper>(*Src, NCol, P.ColorMap);
      std::copy(Map->Palette().begin(), Map->Palette().end(), Pal.begin());
      P.SetColorMap(Pal.data(), NCol);
      if (Depth == 4)
        for (int32_t I = 0; I < 16; ++I) {
          Hd[16 + I * 3] = Pal[static_cast<size_t>(I)].r;
          Hd[17 + I * 3] = Pal[static_cast<size_t>(I)].g;
          Hd[18 + I * 3] = Pal[static_cast<size_t>(I)].b;
        }
    }
  }
  SafeStreamWrite(S, Abort, Hd, 128);

  std::vector<uint8_t> Line(static_cast<size_t>(BytesPerLine) * 3), Out;
  std::vector<uint8_t> Indexes(static_cast<size_t>(W));
  auto Emit = [&](const uint8_t* L) {
    if (Rle) {
      Out.clear();
      PcxEncodeLine(L, Samples, Out);
      SafeStreamWrite(S, Abort, Out.data(), static_cast<int64_t>(Out.size()));
    } else {
      SafeStreamWrite(S, Abort, L, BytesPerLine);
    }
  };
  for (int32_t Y = 0; Y < H && !Abort; ++Y) {
    QLProgress(Prog, QLTrunc(Y * 100.0 / H));
    if (QLAborted(Prog)) break;
    std::fill(Line.begin(), Line.end(), 0);
    const uint8_t* Row = Src->ScanLine(Y);
    if (Depth == 1) {
      std::memcpy(Line.data(), Row, static_cast<size_t>(Samples));
      Emit(Line.data());
    } else if (Depth == 24) {
      const TRGB* Px = reinterpret_cast<const TRGB*>(Row);
      for (int32_t X = 0; X < W; ++X) {
        Line[static_cast<size_t>(X)] = Px[X].r;
        Line[static_cast<size_t>(BytesPerLine + X)] = Px[X].g;
        Line[static_cast<size_t>(2 * BytesPerLine + X)] = Px[X].b;
      }
      for (int32_t Pl = 0; Pl < 3; ++Pl) Emit(Line.data() + static_cast<size_t>(Pl) * BytesPerLine);
    } else {
      Map->MapRow(Row, W, Indexes.data());
      for (int32_t X = 0; X < W; ++X) {
        const uint8_t I = Indexes[static_cast<size_t>(X)];
        if (Depth == 8)
          Line[static_cast<size_t>(X)] = I;
        else
          Line[static_cast<size_t>(X >> 1)] |=
              static_cast<uint8_t>((X & 1) ? (I & 0x0F) : (I << 4));
      }
      Emit(Line.data());
    }
  }
  if (Depth == 8 && !Abort) {
    // The 256-colour palette follows a 12 byte, the mark other readers look for; ours take
    // the last 768 bytes either way.
    const uint8_t Mark = 12;
    SafeStreamWrite(S, Abort, &Mark, 1);
    uint8_t Raw[768];
    for (int32_t I = 0; I < 256; ++I) {
      Raw[I * 3] = Pal[static_cast<size_t>(I)].r;
      Raw[I * 3 + 1] = Pal[static_cast<size_t>(I)].g;
      Raw[I * 3 + 2] = Pal[static_cast<size_t>(I)].b;
    }
    SafeStreamWrite(S, Abort, Raw, 768);
  }
}

}  // namespace

void PcxEncodeLine(const uint8_t* Samples, int32_t Count, std::vector<uint8_t>& Out) {
  int32_t X = 0;
  while (X < Count) {
    const uint8_t V = Samples[X];
    int32_t Run = 1;
    while (Run < 63 && X + Run < Count && Samples[X + Run] == V) ++Run;
    if (Run > 1 || V >= 192) {
      Out.push_back(static_cast<uint8_t>(192 + Run));
      Out.push_back(V);
    } else {
      Out.push_back(V);
    }
    X += Run;
  }
  // Lines are stored at an even length.
  if (Count & 1) Out.push_back(0);
}

void ReadPcxStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview, int64_t DataSize) {
  QLGuarded(Progress, [&] { ReadPcx(Stream, Bitmap, Params, Progress, Preview, DataSize); });
}

void ReadPcx(const std::string& FileName, TBitmap& Bitmap, TIOParamsVals& Params,
             TProgressRec& Progress, bool Preview) {
  TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
  ReadPcxStream(F, Bitmap, Params, Progress, Preview, F.GetSize());
}

void WritePcxStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress) {
  QLGuarded(Progress, [&] { WritePcx(Stream, Bitmap, Params, Progress); });
}

void WritePcx(const std::string& FileName, const TBitmap& Bitmap, TIOParamsVals& Params,
              TProgressRec& Progress) {
  TFileStream F(FileName, fmCreate);
  WritePcxStream(F, Bitmap, Params, Progress);
  try {
    F.Flush();
  } catch (const EWriteError&) {
    QLSetAbort(Progress);
  }
}

}  // namespace quillo
