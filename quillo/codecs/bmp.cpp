#include "quillo/codecs/bmp.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "quillo/codecs/detail/common.h"
#include "quillo/codecs/png.h"
#include "quillo/core/detail/bytes.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/detail/dib.h"
#include "quillo/platform/screen.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

int32_t PpmToDpi(int32_t Ppm, int32_t Screen) {
  int32_t Dpi = QLRound32(Ppm / 100.0 * 2.54);
  return Dpi > 0 ? Dpi : Screen;
}
int32_t DpiToPpm(int32_t Dpi) {
  return QLRound32(Dpi / 2.54 * 100.0);
}

// A palette with 256 entries, the missing ones black, so that any index byte is safe.
std::array<TRGB, 256> FullPalette(const TIOParamsVals& P) {
  std::array<TRGB, 256> Pal{};
  for (int32_t I = 0; I < std::min<int32_t>(256, static_cast<int32_t>(P.ColorMap.size())); ++I)
    Pal[static_cast<size_t>(I)] = P.ColorMap[static_cast<size_t>(I)];
  return Pal;
}

// One channel of a bit-field pixel scaled to 8 bits by repeating its bits from the top, so
// that a full channel gives 255 (five bits 11111 give 11111111, 00111 give 00111001); masks
// wider than 8 bits keep their top 8.
struct TMaskChannel {
  uint32_t Mask = 0;
  int32_t Shift = 0;  // position of the lowest set bit
  int32_t Bits = 0;
  explicit TMaskChannel(uint32_t M) : Mask(M) {
    if (M) {
      Shift = std::countr_zero(M);
      Bits = _GetBitCount(M);
    }
  }
  uint8_t operator()(uint32_t Pixel) const {
    if (!Bits) return 0;
    uint32_t V = (Pixel & Mask) >> Shift;
    if (Bits >= 8) return static_cast<uint8_t>(V >> (Bits - 8));
    uint32_t Out = 0;
    for (int32_t Pos = 8 - Bits; Pos > -Bits; Pos -= Bits) Out |= Pos >= 0 ? V << Pos : V >> -Pos;
    return static_cast<uint8_t>(Out);
  }
};

// Len bytes of RLE8/RLE4 codes from the stream into the bitmap, the first row being the bottom
// one; a run cut short by the end of the data aborts. The codes are read a part at a time, so
// a large image needs no copy of its whole compressed data.
void DecodeRLE(TStream& S, int64_t Len, bool RLE4, TBitmap& Bmp, const std::array<TRGB, 256>& Pal,
               TProgressRec& Progress) {
  const int32_t H = Bmp.GetHeight();
  // The row's address is looked up once a row, not once a pixel.
  int64_t LineRow = -1;
  TRGB* Line = nullptr;
  auto Put = [&](int64_t X, int64_t Row, uint32_t Index) {
    if (Row != LineRow) {
      LineRow = Row;
      Line = reinterpret_cast<TRGB*>(Bmp.ScanLine(H - 1 - static_cast<int32_t>(Row)));
    }
    Line[X] = Pal[Index];
  };
  auto NextRow = [&](int64_t Row) {
    QLProgress(Progress, QLTrunc((Row + 1) * Progress.StepFactor));
    return !QLAborted(Progress);
  };
  constexpr int64_t kPart = 1 << 18;
  std::vector<uint8_t> Buf(static_cast<size_t>(std::min<int64_t>(Len, kPart + kDIBRLELongestCode)));
  TDIBRLECursor Cursor;
  size_t Have = 0;
  for (;;) {
    const int64_t Want = std::min<int64_t>(Len, static_cast<int64_t>(Buf.size() - Have));
    const int64_t Got = Want > 0 ? S.Read(Buf.data() + Have, Want) : 0;
    Len -= Got;
    Have += static_cast<size_t>(Got);
    const bool More = Got == Want && Len > 0;
    size_t Used = 0;
    const TDIBRLEEnd End = QLDecodeDIBRLEPart(Buf.data(), Have, More, Cursor, Used, RLE4,
                                              Bmp.GetWidth(), H, Put, NextRow);
    if (End == TDIBRLEEnd::Truncated) QLSetAbort(Progress);
    if (End != TDIBRLEEnd::Data || !More) return;
    std::memmove(Buf.data(), Buf.data() + Used, Have - Used);
    Have -= Used;
  }
}

void ReadBMP(TStream& S, TBitmap& Bmp, int64_t BlockSize, TIOParamsVals& P, TProgressRec& Prog,
             bool Preview) {
  const int64_t Start = S.GetPosition();
  uint8_t FH[14];
  if (S.Read(FH, 14) != 14) return QLSetAbort(Prog, qlarTruncated);
  uint32_t FileSize = LE32(FH + 2), DataOffset = LE32(FH + 10);
  if (BlockSize <= 0 && FileSize != 0) BlockSize = FileSize;
  if (FH[0] != 'B' || FH[1] != 'M') return QLSetAbort(Prog);

  const uint32_t HeaderSize = QLReadDWordLE(S);
  S.Seek(-4, soFromCurrent);
  P.FreeColorMap();
  // The header's first 64 bytes are all that is read of it; longer ones are skipped.
  uint8_t Raw[64] = {};
  const uint32_t Stored = HeaderSize == 12 ? 12 : std::min<uint32_t>(64, HeaderSize);
  S.ReadBuffer(Raw, Stored);
  if (HeaderSize > 64) S.Seek(static_cast<int64_t>(HeaderSize) - 64, soFromCurrent);
  TDIBHeader Hd = QLParseDIBHeader(Raw, Stored);
  if (HeaderSize == 12) {
    P.BmpVersion = ioBMP_BMOS2V1;
    P.DpiX = gSystemDPIX;
    P.DpiY = gSystemDPIY;
  } else {
    P.BmpVersion = HeaderSize == 64 ? ioBMP_BMOS2V2 : HeaderSize == 40 ? ioBMP_BM3 : ioBMP_BM;
    P.DpiX = PpmToDpi(Hd.XPelsPerMeter, gSystemDPIX);
    P.DpiY = PpmToDpi(Hd.YPelsPerMeter, gSystemDPIY);
  }
  if (Hd.MasksFollow())
    for (auto& M : Hd.Masks) M = QLReadDWordLE(S);
  const int32_t Width = Hd.Width, BitCount = Hd.BitCount;
  const uint32_t Compression = Hd.Compression, ImageSize = Hd.ImageSize;
  const std::array<uint32_t, 3> Masks = Hd.Masks;
  const bool HaveMasks = Hd.HaveMasks;
  if (Hd.PaletteCount > 0) {
    const int64_t Colours = static_cast<int64_t>(Hd.PaletteCount);
    const int64_t Bytes = Colours * static_cast<int64_t>(Hd.PaletteEntrySize);
    if (HeaderSize != 12 && Bytes > S.Remaining()) return QLSetAbort(Prog);
    std::vector<uint8_t> Table(static_cast<size_t>(Bytes));
    S.ReadBuffer(Table.data(), Bytes);
    std::vector<TRGB> Pal(static_cast<size_t>(Colours));
    for (size_t I = 0; I < Pal.size(); ++I) {
      const uint32_t C = QLDIBTableEntry(Table.data(), Table.size(), Hd.PaletteEntrySize, I);
      Pal[I] = TRGB{uint8_t(C), uint8_t(C >> 8), uint8_t(C >> 16)};
    }
    P.SetColorMap(Pal.data(), static_cast<int32_t>(Colours));
  }
  P.BmpCompression = (Compression == 1 || Compression == 2) ? ioBMP_RLE : ioBMP_UNCOMPRESSED;
  QLDepthToParams(P, BitCount, 3);
  // A negative height marks rows stored top-down.
  const bool TopDown = Hd.TopDown;
  const int64_t AbsHeight = Hd.Height;
  P.Width = Width;
  P.Height = static_cast<int32_t>(std::min<int64_t>(AbsHeight, INT32_MAX));

  if (DataOffset != 0) S.SetPosition(Start + DataOffset);
  int64_t DataLen = BlockSize > 0 ? BlockSize + Start - S.GetPosition() : ImageSize;
  if (Preview) return;

  const bool Rle = Compression == 1 || Compression == 2;
  const bool Known = (BitCount == 1 && Compression == 0) ||
                     ((BitCount == 4 || BitCount == 8) &&
                      (Compression == 0 || Compression == (BitCount == 8 ? 1u : 2u))) ||
                     BitCount == 16 || BitCount == 24 || BitCount == 32;
  // Formats the reader cannot decode, and RLE stored top-down (not a valid combination), are
  // reported rather than left as an empty image.
  if (!Known) return QLSetAbort(Prog, qlarUnsupported);
  if (Rle && TopDown) return QLSetAbort(Prog);
  // Two colours other than black and white are read through the palette into 24 bits, as the
  // other readers do: the working 1-bit layout can only mean black and white.
  const TQLTwoColours Two = BitCount == 1 && P.ColorMapCount >= 2
                                ? QLTwoColours(P.ColorMap[0], P.ColorMap[1])
                                : tcBlackWhite;
  const bool Coloured1 = BitCount == 1 && Two == tcColoured;
  if (!QLPrepareBitmap(Bmp, Width, AbsHeight, BitCount == 1 && !Coloured1, Prog)) return;
  const int32_t W = Width, H = static_cast<int32_t>(AbsHeight);
  // The rows of the stored depth must fit in the row length's 32 bits too.
  if (!QLImageSizeOK(W, H, BitCount)) return QLSetAbort(Prog, qlarPixelLimit);
  Prog.StepFactor = 100.0 / H;
  const int64_t RowLen = _BitmapRowLen(W, BitCount);
  const std::array<TRGB, 256> Pal = FullPalette(P);

  if (Rle) {
    // Writers that leave the image size 0 mean "the rest of the file".
    if (DataLen <= 0) DataLen = S.Remaining();
    const int64_t Len = std::max<int64_t>(0, std::min(DataLen, S.Remaining()));
    DecodeRLE(S, Len, Compression == 2, Bmp, Pal, Prog);
    return;
  }

  const TMaskChannel R(HaveMasks ? Masks[0] : (BitCount == 16 ? 0x7C00u : 0xFF0000u));
  const TMaskChannel G(HaveMasks ? Masks[1] : (BitCount == 16 ? 0x03E0u : 0x00FF00u));
  const TMaskChannel B(HaveMasks ? Masks[2] : (BitCount == 16 ? 0x001Fu : 0x0000FFu));
  const bool Plain32 =
      BitCount == 32 &&
      (!HaveMasks || (Masks[0] == 0xFF0000u && Masks[1] == 0x00FF00u && Masks[2] == 0xFFu));
  std::vector<uint8_t> FileRow(static_cast<size_t>(RowLen));
  for (int32_t I = 0; I < H; ++I) {
    QLProgressStep(Prog, I);
    if (QLAborted(Prog)) break;
    const int32_t Y = TopDown ? I : H - 1 - I;
    uint8_t* Dst = Bmp.ScanLine(Y);
    if ((BitCount == 1 && !Coloured1) || BitCount == 24) {
      if (S.Read(Dst, RowLen) != RowLen) return QLSetAbort(Prog, qlarTruncated);
      continue;
    }
    if (S.Read(FileRow.data(), RowLen) != RowLen) return QLSetAbort(Prog, qlarTruncated);
    TRGB* Px = reinterpret_cast<TRGB*>(Dst);
    const uint8_t* Src = FileRow.data();
    switch (BitCount) {
      case 1:
        for (int32_t X = 0; X < W; ++X) Px[X] = Pal[(Src[X >> 3] >> (7 - (X & 7))) & 1];
        break;
      case 4:
        for (int32_t X = 0; X < W; ++X)
          Px[X] = Pal[(X & 1) ? Src[X >> 1] & 0x0F : Src[X >> 1] >> 4];
        break;
      case 8:
        for (int32_t X = 0; X < W; ++X) Px[X] = Pal[Src[X]];
        break;
      case 16:
        for (int32_t X = 0; X < W; ++X) {
          uint32_t V = LE16(Src + X * 2);
          Px[X] = TRGB{B(V), G(V), R(V)};
        }
        break;
      case 32:
        for (int32_t X = 0; X < W; ++X) {
          if (Plain32) {
            std::memcpy(&Px[X], Src + X * 4, 3);
          } else {
            uint32_t V = LE32(Src + X * 4);
            Px[X] = TRGB{B(V), G(V), R(V)};
          }
        }
        break;
    }
  }
  if (BitCount == 1 && Two == tcWhiteBlack) {
    // Index 0 is white here, so the bits are the inverse of the working layout's.
    for (int32_t Y = 0; Y < H; ++Y) {
      uint8_t* Row = Bmp.ScanLine(Y);
      for (int64_t K = 0; K < RowLen; ++K) Row[K] = static_cast<uint8_t>(~Row[K]);
    }
  }
}

// Writes the literal pixels Lit as RLE codes, in chunks of at most 255.
void FlushLiterals(std::vector<uint8_t>& Lit, bool RLE4, std::vector<uint8_t>& Out) {
  size_t Pos = 0;
  while (Pos < Lit.size()) {
    size_t N = std::min<size_t>(255, Lit.size() - Pos);
    const uint8_t* L = Lit.data() + Pos;
    if (N == 1) {
      Out.push_back(1);
      Out.push_back(RLE4 ? static_cast<uint8_t>(L[0] << 4) : L[0]);
    } else if (N == 2) {
      if (RLE4) {
        Out.push_back(2);
        Out.push_back(static_cast<uint8_t>((L[0] << 4) | (L[1] & 0x0F)));
      } else {
        Out.insert(Out.end(), {1, L[0], 1, L[1]});
      }
    } else {
      Out.push_back(0);
      Out.push_back(static_cast<uint8_t>(N));
      size_t Bytes;
      if (RLE4) {
        Bytes = (N + 1) / 2;
        for (size_t K = 0; K < N; K += 2)
          Out.push_back(static_cast<uint8_t>((L[K] << 4) | (K + 1 < N ? (L[K + 1] & 0x0F) : 0)));
      } else {
        Bytes = N;
        Out.insert(Out.end(), L, L + N);
      }
      if (Bytes & 1) Out.push_back(0);
    }
    Pos += N;
  }
  Lit.clear();
}

void WriteBMP(TStream& S, const TBitmap& Bitmap, TIOParamsVals& P, TProgressRec& Prog) {
  bool& Abort = *Prog.AbortFlag;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  if (W <= 0 || H <= 0) return QLSetAbort(Prog);
  int32_t BitCount = (P.BitsPerSample == 1 || P.BitsPerSample == 4)
                         ? P.BitsPerSample
                         : (P.SamplesPerPixel == 1 ? 8 : 24);
  const bool Os2v1 = P.BmpVersion == ioBMP_BMOS2V1;
  // The 12-byte header stores 16-bit sizes.
  if (Os2v1 && (W > 0xFFFF || H > 0xFFFF)) return QLSetAbort(Prog);
  const bool Rle = !Os2v1 && P.BmpCompression == ioBMP_RLE && (BitCount == 4 || BitCount == 8);
  const uint32_t HeaderSize = Os2v1 ? 12 : (P.BmpVersion == ioBMP_BMOS2V2 ? 64 : 40);
  const int64_t Start = S.GetPosition();

  auto InfoHeader = [&](uint32_t Bits, uint32_t DataSize) {
    std::vector<uint8_t> H0(HeaderSize, 0);
    PutLE32(H0.data(), HeaderSize);
    if (Os2v1) {
      PutLE16(H0.data() + 4, static_cast<uint32_t>(W));
      PutLE16(H0.data() + 6, static_cast<uint32_t>(H));
      PutLE16(H0.data() + 8, 1);
      PutLE16(H0.data() + 10, Bits);
    } else {
      PutLE32(H0.data() + 4, static_cast<uint32_t>(W));
      PutLE32(H0.data() + 8, static_cast<uint32_t>(H));
      PutLE16(H0.data() + 12, 1);
      PutLE16(H0.data() + 14, Bits);
      PutLE32(H0.data() + 16, Rle ? (BitCount == 4 ? 2u : 1u) : 0u);
      PutLE32(H0.data() + 20, DataSize);
      PutLE32(H0.data() + 24, static_cast<uint32_t>(DpiToPpm(P.DpiX)));
      PutLE32(H0.data() + 28, static_cast<uint32_t>(DpiToPpm(P.DpiY)));
      PutLE32(H0.data() + 32, BitCount <= 8 ? (1u << BitCount) : 0u);
      PutLE32(H0.data() + 36, 1u << BitCount);
    }
    return H0;
  };
  uint8_t FileHeader[14] = {'B', 'M'};
  SafeStreamWrite(S, Abort, FileHeader, 14);
  std::vector<uint8_t> Info = InfoHeader(0, 0);
  SafeStreamWrite(S, Abort, Info.data(), static_cast<int64_t>(Info.size()));
  Prog.StepFactor = 100.0 / H;
  const int64_t RowLen = _BitmapRowLen(W, BitCount);

  auto WritePalette = [&](const TRGB* Pal, int32_t N) {
    std::vector<uint8_t> T;
    for (int32_t I = 0; I < N; ++I) {
      T.insert(T.end(), {Pal[I].b, Pal[I].g, Pal[I].r});
      if (!Os2v1) T.push_back(0);
    }
    SafeStreamWrite(S, Abort, T.data(), static_cast<int64_t>(T.size()));
  };

  int64_t DataPos = 0;
  std::vector<uint8_t> Row(static_cast<size_t>(RowLen));
  if (BitCount == 4 || BitCount == 8) {
    TBitmap Copy;
    const TBitmap* Src = &QLAs24Bit(Bitmap, Copy);
    const int32_t NCol = 1 << BitCount;
    TQLPaletteMapper Map(*Src, NCol, P.ColorMap);
    const std::vector<TRGB> Pal = Map.Palette();
    P.SetColorMap(Pal.data(), NCol);
    WritePalette(Pal.data(), NCol);
    DataPos = S.GetPosition();
    std::vector<uint8_t> Indexes(static_cast<size_t>(W));
    std::vector<uint8_t> Encoded, Literals;
    for (int32_t Y = H - 1; Y >= 0 && !Abort; --Y) {
      QLProgressStep(Prog, H - 1 - Y);
      if (QLAborted(Prog)) break;
      Map.MapRow(Src->ScanLine(Y), W, Indexes.data());

      if (Rle) {
        Encoded.clear();
        BMPEncodeRLERow(Indexes.data(), W, BitCount == 4, Encoded);
        SafeStreamWrite(S, Abort, Encoded.data(), static_cast<int64_t>(Encoded.size()));
      } else {
        std::fill(Row.begin(), Row.end(), 0);
        if (BitCount == 8) {
          std::memcpy(Row.data(), Indexes.data(), static_cast<size_t>(W));
        } else {
          for (int32_t X = 0; X < W; ++X)
            Row[static_cast<size_t>(X >> 1)] |=
                static_cast<uint8_t>((X & 1) ? Indexes[static_cast<size_t>(X)] & 0x0F
                                             : Indexes[static_cast<size_t>(X)] << 4);
        }
        SafeStreamWrite(S, Abort, Row.data(), RowLen);
      }
    }
    if (Rle && !Abort) {
      const uint8_t End[2] = {0, 1};
      SafeStreamWrite(S, Abort, End, 2);
    }
  } else if (BitCount == 1) {
    TRGB C1, C2;
    std::unique_ptr<TBitmap> One = QLOneBitForWriting(Bitmap, C1, C2, &P.ColorMap);
    TRGB Pal[2] = {C1, C2};
    P.SetColorMap(Pal, 2);
    WritePalette(Pal, 2);
    DataPos = S.GetPosition();
    for (int32_t Y = H - 1; Y >= 0 && !Abort; --Y) {
      QLProgressStep(Prog, H - 1 - Y);
      if (QLAborted(Prog)) break;
      SafeStreamWrite(S, Abort, One->ScanLine(Y), RowLen);
    }
  } else {
    TBitmap Copy;
    const TBitmap* Src = &QLAs24Bit(Bitmap, Copy);
    DataPos = S.GetPosition();
    for (int32_t Y = H - 1; Y >= 0 && !Abort; --Y) {
      QLProgressStep(Prog, H - 1 - Y);
      if (QLAborted(Prog)) break;
      SafeStreamWrite(S, Abort, Src->ScanLine(Y), RowLen);
    }
  }
  if (Abort) return;
  const int64_t End = S.GetPosition();
  PutLE32(FileHeader + 2, static_cast<uint32_t>(End - Start));
  PutLE32(FileHeader + 10, static_cast<uint32_t>(DataPos - Start));
  Info = InfoHeader(static_cast<uint32_t>(BitCount), static_cast<uint32_t>(End - DataPos));
  S.SetPosition(Start);
  SafeStreamWrite(S, Abort, FileHeader, 14);
  SafeStreamWrite(S, Abort, Info.data(), static_cast<int64_t>(Info.size()));
  S.SetPosition(End);
}

// ---------------------------------------------------------------------------------------------
// Icons and cursors

bool TryIconDirectory(TStream& S, uint16_t Type) {
  const int64_t Pos = S.GetPosition();
  bool Result = false;
  try {
    const int64_t Size = S.GetSize();
    uint8_t H[6];
    if (Size - Pos > 22 && S.Read(H, 6) == 6 && LE16(H) == 0 && LE16(H + 2) == Type &&
        LE16(H + 4) != 0) {
      Result = true;
      for (int32_t I = 0; I < LE16(H + 4) && Result; ++I) {
        uint8_t E[16];
        if (S.Read(E, 16) != 16) {
          Result = false;
          break;
        }
        int64_t After = S.GetPosition() - Pos;
        Result = E[3] == 0 && LE32(E + 8) != 0 && static_cast<int64_t>(LE32(E + 12)) >= After;
      }
    }
  } catch (const Exception&) {
    Result = false;
  }
  S.SetPosition(Pos);
  return Result;
}

void ReadIcon(TStream& S, TBitmap& Bmp, TIOParamsVals& P, bool Preview, TProgressRec& Prog,
              bool Cursor) {
  const int64_t Start = S.GetPosition();
  uint8_t Dir[6];
  S.ReadBuffer(Dir, 6);
  if (!Cursor && Dir[0] == 'B' && Dir[1] == 'M') {
    S.SetPosition(Start);
    ReadBMP(S, Bmp, S.GetSize(), P, Prog, Preview);
    return;
  }
  const int32_t Count = LE16(Dir + 4);
  const int32_t Index = Cursor ? P.CurImageIndex : P.IcoImageIndex;
  if (Index < 0 || Index >= Count) return;
  uint8_t E[16];
  S.Seek(static_cast<int64_t>(Index) * 16, soFromCurrent);
  S.ReadBuffer(E, 16);
  const int64_t Offset = LE32(E + 12);
  if (Start + Offset + 40 > S.GetSize()) return QLSetAbort(Prog);
  S.SetPosition(Start + Offset);
  uint8_t H[40];
  S.ReadBuffer(H, 40);
  // Large icons are stored as whole PNG images: decoded as such, transparency over the
  // background colour like the other icons.
  if (std::memcmp(H, "\x89PNG\r\n\x1a\n", 8) == 0) {
    S.SetPosition(Start + Offset);
    TIOParamsVals Png;
    Png.PngBackground = Cursor ? P.CurBackground : P.IcoBackground;
    ReadPNGStream(S, Bmp, Png, Prog, Preview);
    if (Cursor) {
      P.CurXHotSpot = LE16(E + 4);
      P.CurYHotSpot = LE16(E + 6);
    }
    P.Width = Png.Width;
    P.Height = Png.Height;
    P.BitsPerSample = Png.BitsPerSample;
    P.SamplesPerPixel = Png.SamplesPerPixel;
    P.DpiX = Png.DpiX;
    P.DpiY = Png.DpiY;
    P.SetColorMap(Png.ColorMap.data(), Png.ColorMapCount);
    return;
  }
  const int32_t HdrWidth = static_cast<int32_t>(LE32(H + 4));
  const int32_t HdrHeight = static_cast<int32_t>(LE32(H + 8));
  const int32_t HdrBits = LE16(H + 14);
  if (Cursor) {
    P.CurXHotSpot = LE16(E + 4);
    P.CurYHotSpot = LE16(E + 6);
  }
  int32_t DpiX = QLRound32(static_cast<int32_t>(LE32(H + 24)) / 100.0 * 2.54);
  int32_t DpiY = QLRound32(static_cast<int32_t>(LE32(H + 28)) / 100.0 * 2.54);
  if (DpiX < 1) DpiX = gSystemDPIX;
  if (DpiY < 1) DpiY = gSystemDPIY;

  int32_t BitCount = HdrBits;
  if (BitCount == 0 && !Cursor) BitCount = LE16(E + 6);
  if (BitCount == 0) BitCount = std::max(0, _NColToBitsPixel(E[2]));
  if (BitCount == 0) return QLSetAbort(Prog);
  const int32_t Colours = E[2] ? E[2] : (BitCount <= 8 ? 1 << BitCount : 0);

  int32_t W = E[0] ? E[0] : HdrWidth;
  int32_t Ht = E[1] ? E[1] : HdrHeight / 2;
  if (!Cursor && E[0] && E[0] != HdrWidth && HdrWidth < 2048 && HdrHeight < 2048) {
    W = HdrWidth;
    Ht = HdrHeight / 2;
  }
  if (Cursor) {
    P.BitsPerSample = BitCount;
    P.SamplesPerPixel = 1;
  } else if (BitCount > 8) {
    P.BitsPerSample = 8;
    P.SamplesPerPixel = 3;
  } else {
    P.BitsPerSample = BitCount;
    P.SamplesPerPixel = 1;
  }
  P.FreeColorMap();
  if (BitCount <= 8 && Colours > 0) {
    std::vector<uint8_t> Raw(static_cast<size_t>(Colours) * 4);
    S.ReadBuffer(Raw.data(), Colours * 4);
    std::vector<TRGB> Pal(static_cast<size_t>(Colours));
    for (size_t I = 0; I < Pal.size(); ++I)
      Pal[I] = TRGB{Raw[I * 4], Raw[I * 4 + 1], Raw[I * 4 + 2]};
    P.SetColorMap(Pal.data(), Colours);
  }
  P.Width = W;
  P.Height = Ht;
  P.DpiX = DpiX;
  P.DpiY = DpiY;
  if (Preview) return;
  if (BitCount != 1 && BitCount != 4 && BitCount != 8 && BitCount != 24 && BitCount != 32)
    return QLSetAbort(Prog);
  // A two-colour icon of other colours than black and white goes through its palette.
  const TQLTwoColours Two = BitCount == 1 && P.ColorMapCount >= 2
                                ? QLTwoColours(P.ColorMap[0], P.ColorMap[1])
                                : tcBlackWhite;
  const bool OneBit = BitCount == 1 && Two != tcColoured;
  if (!QLPrepareBitmap(Bmp, W, Ht, OneBit, Prog)) return;
  Prog.StepFactor = 100.0 / Ht;

  if (!QLImageSizeOK(W, Ht, BitCount)) return QLSetAbort(Prog, qlarPixelLimit);
  const int64_t RowLen = _BitmapRowLen(W, BitCount);
  const int64_t MaskLen = _BitmapRowLen(W, 1);
  int64_t ColourBytes, MaskBytes;
  if (!QLCheckedMul(RowLen, Ht, ColourBytes) || !QLCheckedMul(MaskLen, Ht, MaskBytes) ||
      ColourBytes > S.Remaining())
    return QLSetAbort(Prog);
  std::vector<uint8_t> Colour(static_cast<size_t>(ColourBytes));
  S.ReadBuffer(Colour.data(), ColourBytes);
  // A missing mask (some writers leave it out of 32-bit images) counts as all opaque.
  std::vector<uint8_t> Mask(static_cast<size_t>(MaskBytes), 0);
  S.Read(Mask.data(), MaskBytes);
  const TRGB Bg = Cursor ? P.CurBackground : P.IcoBackground;
  const std::array<TRGB, 256> Pal = FullPalette(P);
  // 32-bit images carry alpha; images whose alpha is all zero predate it and use the mask.
  bool UseAlpha = false;
  if (BitCount == 32)
    for (int64_t K = 3; K < ColourBytes && !UseAlpha; K += 4)
      UseAlpha = Colour[static_cast<size_t>(K)] != 0;

  for (int32_t I = 0; I < Ht; ++I) {
    QLProgressStep(Prog, I);
    if (QLAborted(Prog)) break;
    const int32_t Y = Ht - 1 - I;
    const uint8_t* Src = Colour.data() + I * RowLen;
    const uint8_t* M = Mask.data() + I * MaskLen;
    uint8_t* Dst = Bmp.ScanLine(Y);
    auto Transparent = [&](int32_t X) { return (M[X >> 3] >> (7 - (X & 7))) & 1; };
    TRGB* Px = reinterpret_cast<TRGB*>(Dst);
    switch (BitCount) {
      case 1: {
        if (!OneBit) {
          for (int32_t X = 0; X < W; ++X)
            Px[X] = Transparent(X) ? Bg : Pal[(Src[X >> 3] >> (7 - (X & 7))) & 1];
          break;
        }
        const uint8_t Flip = Two == tcWhiteBlack ? 0xFF : 0;
        for (int32_t K = 0; K < Bmp.RowLen() && K < RowLen; ++K)
          Dst[K] = static_cast<uint8_t>(Src[K] ^ Flip);
        const bool White = Bg == CreateRGB(255, 255, 255);
        for (int32_t X = 0; X < W; ++X)
          if (Transparent(X) && White) Dst[X >> 3] ^= static_cast<uint8_t>(0x80 >> (X & 7));
        break;
      }
      case 4:
        for (int32_t X = 0; X < W; ++X)
          Px[X] = Transparent(X) ? Bg : Pal[(X & 1) ? Src[X >> 1] & 0x0F : Src[X >> 1] >> 4];
        break;
      case 8:
        for (int32_t X = 0; X < W; ++X) Px[X] = Transparent(X) ? Bg : Pal[Src[X]];
        break;
      case 24:
        std::memcpy(Dst, Src, static_cast<size_t>(W) * 3);
        break;
      case 32:
        for (int32_t X = 0; X < W; ++X) {
          const uint8_t* C = Src + X * 4;
          if (!UseAlpha) {
            Px[X] = Transparent(X) ? Bg : TRGB{C[0], C[1], C[2]};
            continue;
          }
          const int32_t A = C[3];
          auto Mix = [&](int32_t F, int32_t B) {
            return static_cast<uint8_t>((F * A + B * (255 - A) + 127) / 255);
          };
          Px[X] = TRGB{Mix(C[0], Bg.b), Mix(C[1], Bg.g), Mix(C[2], Bg.r)};
        }
        break;
    }
  }
}

}  // namespace

void BMPEncodeRLERow(const uint8_t* Indexes, int32_t Width, bool RLE4, std::vector<uint8_t>& Out) {
  std::vector<uint8_t> Lit;
  int32_t X = 0;
  while (X < Width) {
    if (Lit.size() > 255) FlushLiterals(Lit, RLE4, Out);
    const uint8_t V = Indexes[X];
    if (X == Width - 1 || Indexes[X + 1] != V) {
      Lit.push_back(V);
      ++X;
      continue;
    }
    FlushLiterals(Lit, RLE4, Out);
    int32_t Run = 1;
    while (Run < 255 && X + Run < Width && Indexes[X + Run] == V) ++Run;
    Out.push_back(static_cast<uint8_t>(Run));
    Out.push_back(RLE4 ? static_cast<uint8_t>((V << 4) | (V & 0x0F)) : V);
    X += Run;
  }
  FlushLiterals(Lit, RLE4, Out);
  Out.push_back(0);
  Out.push_back(0);
}

void BMPReadStream(TStream& Stream, TBitmap& Bitmap, int64_t BlockSize, TIOParamsVals& Params,
                   TProgressRec& Progress, bool Preview) {
  QLGuarded(Progress, [&] { ReadBMP(Stream, Bitmap, BlockSize, Params, Progress, Preview); });
}

void BMPWriteStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress) {
  QLGuarded(Progress, [&] { WriteBMP(Stream, Bitmap, Params, Progress); });
}

bool ICOTryStream(TStream& Stream) {
  return TryIconDirectory(Stream, 1);
}
bool CURTryStream(TStream& Stream) {
  return TryIconDirectory(Stream, 2);
}

void ICOReadStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
                   TProgressRec& Progress) {
  QLGuarded(Progress, [&] { ReadIcon(Stream, Bitmap, Params, Preview, Progress, false); });
}

void CURReadStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, bool Preview,
                   TProgressRec& Progress) {
  QLGuarded(Progress, [&] { ReadIcon(Stream, Bitmap, Params, Preview, Progress, true); });
}

}  // namespace quillo
