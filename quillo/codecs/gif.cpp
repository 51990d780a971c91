#include "quillo/codecs/gif.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "quillo/codecs/detail/common.h"
#include "quillo/core/detail/bytes.h"
#include "quillo/core/dither.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

constexpr char kLoopId[] = "NETSCAPE2.0";

inline void PutLE16(std::vector<uint8_t>& V, uint32_t X) {
  V.push_back(static_cast<uint8_t>(X));
  V.push_back(static_cast<uint8_t>(X >> 8));
}

// A colour table as stored (red, green, blue) into TRGB order, 256 entries with the missing
// ones black so that any index byte is safe.
std::array<TRGB, 256> ReadTable(TStream& S, int32_t Entries, bool& Ok) {
  std::array<TRGB, 256> T{};
  std::vector<uint8_t> Raw(static_cast<size_t>(Entries) * 3);
  Ok = S.Read(Raw.data(), static_cast<int64_t>(Raw.size())) == static_cast<int64_t>(Raw.size());
  for (int32_t I = 0; I < Entries; ++I)
    T[static_cast<size_t>(I)] =
        CreateRGB(Raw[static_cast<size_t>(I) * 3], Raw[static_cast<size_t>(I) * 3 + 1],
                  Raw[static_cast<size_t>(I) * 3 + 2]);
  return T;
}

// Skips sub-blocks up to the zero-length one or the end of the stream.
void SkipSubBlocks(TStream& S) {
  uint8_t Len;
  while (S.Read(&Len, 1) == 1 && Len != 0) S.Seek(Len, soFromCurrent);
}

// Skips sub-blocks up to the zero-length one in a stream of Size bytes; false when they run
// past the end.
bool SkipSubBlocksWithin(TStream& S, int64_t Size) {
  uint8_t Len;
  while (S.Read(&Len, 1) == 1) {
    if (Len == 0) return true;
    if (S.Seek(Len, soFromCurrent) > Size) return false;
  }
  return false;
}

// Copies sub-blocks (with the terminator) from S to Out; false when one runs past the end
// (what there was is copied).
bool CopySubBlocks(TStream& S, TStream& Out) {
  uint8_t Buf[256];
  for (;;) {
    if (S.Read(Buf, 1) != 1) return false;
    const int32_t Len = Buf[0];
    const int64_t Got = Len ? S.Read(Buf + 1, Len) : 0;
    Out.WriteBuffer(Buf, 1 + Got);
    if (Got != Len) return false;
    if (Len == 0) return true;
  }
}

// The hooks in the parameters, else the process-wide ones.
TGIFLZWDecompFunc Decoder(const TIOParamsVals& P) {
  return P.GifLZWDecompress ? P.GifLZWDecompress : DefGIF_LZWDECOMPFUNC;
}
TGIFLZWCompFunc Encoder(const TIOParamsVals& P) {
  return P.GifLZWCompress ? P.GifLZWCompress : DefGIF_LZWCOMPFUNC;
}

// Reads image GifImageIndex; with Each, every image in turn, each handed to Each (which returns
// false to stop) with the parameters that reading it by its index gives.
void ReadGIF(TStream& S, TBitmap& Bmp, int32_t& Count, TIOParamsVals& P, TProgressRec& Prog,
             bool Preview, const std::function<bool(int32_t)>* Each = nullptr) {
  Count = 0;
  QLProgress(Prog, 0);
  if (QLAborted(Prog)) return;
  uint8_t Gce[4] = {};  // flags, delay (2 bytes), transparent index of the wanted image
  uint8_t H[13];
  if (S.Read(H, 13) != 13 || std::memcmp(H, "GIF", 3) != 0) return QLSetAbort(Prog);
  P.GifVersion = std::string(reinterpret_cast<const char*>(H), 6) + '\0';
  P.GifWinWidth = LE16(H + 6);
  P.GifWinHeight = LE16(H + 8);
  P.GifRatio = H[12];
  P.DpiX = gSystemDPIX;
  P.DpiY = gSystemDPIY;
  P.SamplesPerPixel = 1;
  // A logical screen beyond the pixel limit marks a file made to exhaust memory.
  if (!QLImageSizeOK(P.GifWinWidth, P.GifWinHeight, 8)) return QLSetAbort(Prog);
  const int32_t GlobalBits = (H[10] & 7) + 1;
  std::array<TRGB, 256> Global{};
  if (H[10] & 0x80) {
    bool Ok;
    Global = ReadTable(S, 1 << GlobalBits, Ok);
    if (!Ok) return QLSetAbort(Prog);
    P.GifBackground = Global[H[11]];
  }
  if (S.GetPosition() >= S.GetSize()) QLSetAbort(Prog);
  const int32_t Wanted = P.GifImageIndex;
  auto IsWanted = [&](int32_t I) { return Each || I == Wanted; };
  int32_t I = 0;
  while (!QLAborted(Prog)) {
    uint8_t Intro;
    if (S.Read(&Intro, 1) != 1) break;  // the end counts as a trailer
    if (Intro == 0x3B) break;
    if (Intro == 0x21) {
      uint8_t Label;
      if (S.Read(&Label, 1) != 1) break;
      if (Label == 0xF9 && IsWanted(I)) {
        uint8_t Size = 0;
        S.Read(&Size, 1);
        std::vector<uint8_t> Data(Size);
        S.Read(Data.data(), Size);
        std::memset(Gce, 0, 4);
        if (Size > 0) std::memcpy(Gce, Data.data(), std::min<size_t>(4, Size));
      }
      SkipSubBlocks(S);
      continue;
    }
    if (Intro != 0x2C) continue;  // stray bytes between blocks are passed over
    uint8_t D[9];
    if (S.Read(D, 9) != 9) break;
    const bool HasLocal = D[8] & 0x80;
    const int32_t LocalBits = (D[8] & 7) + 1;
    std::array<TRGB, 256> Local{};
    if (HasLocal) {
      bool Ok;
      Local = ReadTable(S, 1 << LocalBits, Ok);
      if (!Ok) break;
    }
    if (!IsWanted(I)) {
      S.Seek(1, soFromCurrent);  // minimum code size
      SkipSubBlocks(S);
      ++I;
      ++Count;
      continue;
    }
    QLProgress(Prog, 30);
    if (QLAborted(Prog)) break;
    const std::array<TRGB, 256>& Table = HasLocal ? Local : Global;
    P.GifTranspColor = Table[Gce[3]];
    P.GifXPos = LE16(D);
    P.GifYPos = LE16(D + 2);
    const int32_t W = LE16(D + 4), Ht = LE16(D + 6);
    P.Width = W;
    P.Height = Ht;
    P.GifDelayTime = LE16(Gce + 1);
    P.GifTransparent = Gce[0] & 1;
    P.GifDisposal = (Gce[0] >> 2) & 7;
    P.GifInterlaced = D[8] & 0x40;
    bool Decoded = true;
    std::vector<uint8_t> Indexes;
    if (Preview) {
      S.Seek(1, soFromCurrent);
      SkipSubBlocks(S);
    } else {
      if (W <= 0 || Ht <= 0 || !QLImageSizeOK(W, Ht, 24)) return QLSetAbort(Prog);
      Indexes.assign(static_cast<size_t>(W) * static_cast<size_t>(Ht), 0);
      const int64_t Before = S.GetPosition();
      if (TGIFLZWDecompFunc Decode = Decoder(P))
        Decoded = Decode(S, Ht, W, P.GifInterlaced, Indexes.data());
      if (S.GetPosition() == Before) return QLSetAbort(Prog);
      QLProgress(Prog, 70);
      if (QLAborted(Prog)) break;
    }
    const int32_t Bits = HasLocal ? LocalBits : GlobalBits;
    P.FreeColorMap();
    P.BitsPerSample = Bits;
    P.SetColorMap(Table.data(), 1 << Bits);
    if (!Preview) {
      const bool OneBit =
          Bits == 1 && Table[0] == CreateRGB(0, 0, 0) && Table[1] == CreateRGB(255, 255, 255);
      if (!QLPrepareBitmap(Bmp, W, Ht, OneBit, Prog)) return;
      for (int32_t Y = 0; Y < Ht; ++Y) {
        const uint8_t* Src = Indexes.data() + static_cast<size_t>(Y) * W;
        uint8_t* Row = Bmp.ScanLine(Y);
        if (OneBit) {
          for (int32_t X = 0; X < W; ++X)
            if (Src[X] & 1) Row[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
        } else {
          TRGB* Px = reinterpret_cast<TRGB*>(Row);
          for (int32_t X = 0; X < W; ++X) Px[X] = Table[Src[X]];
        }
      }
      // Corrupt data ends the image with what was decoded, and the load is reported failed.
      if (!Decoded) QLSetAbort(Prog);
    }
    ++I;
    ++Count;
    if (Each) {
      // The next image has only the control values met after this one.
      std::memset(Gce, 0, 4);
      if (QLAborted(Prog)) break;
      P.GifImageIndex = I - 1;
      if (!(*Each)(I - 1)) break;
    }
  }
  P.GifImageCount = Count;
  if (!QLAborted(Prog)) QLProgress(Prog, 100);
}

// The image as the writers store it: indexes, palette (RGB order) and bits per pixel.
struct TGifImage {
  std::vector<uint8_t> Indexes;
  std::vector<uint8_t> Palette;  // red, green, blue
  int32_t Bits = 8;
  int32_t Background = 0;
  int32_t Transparent = 0;
};

int32_t NearestEntry(const TRGB* Pal, int32_t N, const TRGB& C) {
  int32_t Best = 0, BestD = INT32_MAX;
  for (int32_t I = 0; I < N; ++I) {
    const int32_t D = (Pal[I].r - C.r) * (Pal[I].r - C.r) + (Pal[I].g - C.g) * (Pal[I].g - C.g) +
                      (Pal[I].b - C.b) * (Pal[I].b - C.b);
    if (D < BestD) BestD = D, Best = I;
  }
  return Best;
}

// Builds the index buffer and palette of Bitmap at Bits bits. OneBit bitmaps become 0/1 bytes
// under the palette Dark (bit 0), Light (bit 1); others keep their own colours when they fit
// and go through the quantizer when they do not.
void Prepare(const TBitmap& Bitmap, int32_t Bits, const TIOParamsVals& P, TRGB Dark, TRGB Light,
             TGifImage& Out) {
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  const int32_t N = 1 << Bits;
  Out.Bits = Bits;
  Out.Indexes.assign(static_cast<size_t>(W) * static_cast<size_t>(H) + 9, 0);
  std::vector<TRGB> Pal(static_cast<size_t>(N));
  if (Bitmap.GetPixelFormat() == pf1bit) {
    Pal[0] = Dark;
    Pal[1] = Light;
    for (int32_t Y = 0; Y < H; ++Y) {
      const uint8_t* Row = Bitmap.ScanLine(Y);
      uint8_t* D = Out.Indexes.data() + static_cast<size_t>(Y) * W;
      for (int32_t X = 0; X < W; ++X) D[X] = (Row[X >> 3] >> (7 - (X & 7))) & 1;
    }
    Out.Background = NearestEntry(Pal.data(), 2, P.GifBackground);
    Out.Transparent = NearestEntry(Pal.data(), 2, P.GifTranspColor);
  } else {
    TQLPaletteMapper Map(Bitmap, N, P.ColorMap, Out.Indexes.data());
    Pal = Map.Palette();
    Out.Background = Map.IndexOf(P.GifBackground);
    Out.Transparent = Map.IndexOf(P.GifTranspColor);
  }
  Out.Palette.clear();
  for (const TRGB& C : Pal) Out.Palette.insert(Out.Palette.end(), {C.r, C.g, C.b});
}

// The graphic control extension: transparency, disposal method (bits 2..4), delay.
std::vector<uint8_t> ControlExtension(const TIOParamsVals& P, int32_t TransparentIndex) {
  const int32_t Disposal = P.GifDisposal >= 0 && P.GifDisposal <= 7 ? P.GifDisposal : 2;
  std::vector<uint8_t> E = {0x21, 0xF9, 0x04,
                            static_cast<uint8_t>((P.GifTransparent ? 1 : 0) | Disposal << 2)};
  PutLE16(E, static_cast<uint32_t>(P.GifDelayTime));
  E.push_back(static_cast<uint8_t>(TransparentIndex));
  E.push_back(0);
  return E;
}

std::vector<uint8_t> Descriptor(const TIOParamsVals& P, int32_t W, int32_t H, uint8_t Packed) {
  std::vector<uint8_t> D = {0x2C};
  PutLE16(D, static_cast<uint32_t>(P.GifXPos));
  PutLE16(D, static_cast<uint32_t>(P.GifYPos));
  PutLE16(D, static_cast<uint32_t>(W));
  PutLE16(D, static_cast<uint32_t>(H));
  D.push_back(Packed);
  return D;
}

void WriteGIF(TStream& S, const TBitmap& Bitmap, TIOParamsVals& P, TProgressRec& Prog) {
  bool& Abort = *Prog.AbortFlag;
  QLProgress(Prog, 0);
  if (QLAborted(Prog)) return;
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  if (W <= 0 || H <= 0 || W > 65535 || H > 65535) return QLSetAbort(Prog);
  const int32_t B = std::clamp(P.BitsPerSample, 1, 8);
  std::unique_ptr<TBitmap> One;
  TBitmap Wide;
  const TBitmap* Src;
  TRGB C1 = CreateRGB(0, 0, 0), C2 = CreateRGB(255, 255, 255);
  if (B == 1) {
    One = QLOneBitForWriting(Bitmap, C1, C2, &P.ColorMap);
    Src = One.get();
  } else {
    Src = &QLAs24Bit(Bitmap, Wide);
  }
  TGifImage Img;
  Prepare(*Src, B, P, C1, C2, Img);
  QLProgress(Prog, 30);
  if (QLAborted(Prog)) return;
  std::vector<uint8_t> Head(P.GifVersion.begin(),
                            P.GifVersion.begin() + std::min<size_t>(6, P.GifVersion.size()));
  Head.resize(6, '\0');
  PutLE16(Head, static_cast<uint32_t>(W));
  PutLE16(Head, static_cast<uint32_t>(H));
  Head.push_back(static_cast<uint8_t>((B - 1) + (B - 1) * 16 + 0x80));
  Head.push_back(static_cast<uint8_t>(Img.Background));
  Head.push_back(0);
  Head.insert(Head.end(), Img.Palette.begin(), Img.Palette.end());
  const std::vector<uint8_t> Gce = ControlExtension(P, Img.Transparent);
  Head.insert(Head.end(), Gce.begin(), Gce.end());
  const std::vector<uint8_t> Desc = Descriptor(P, W, H, P.GifInterlaced ? 64 : 0);
  Head.insert(Head.end(), Desc.begin(), Desc.end());
  SafeStreamWrite(S, Abort, Head.data(), static_cast<int64_t>(Head.size()));
  QLProgress(Prog, 70);
  if (QLAborted(Prog)) return;
  TGIFLZWCompFunc Encode = Encoder(P);
  if (!Encode) return QLSetAbort(Prog);
  Encode(S, H, W, P.GifInterlaced, Img.Indexes.data(), B);
  const uint8_t Trailer = 0x3B;
  SafeStreamWrite(S, Abort, &Trailer, 1);
  QLProgress(Prog, 100);
}

// Reads the header and global table; the header is returned with its version set to 89a.
bool ReadHeader(TStream& S, std::vector<uint8_t>& Head) {
  Head.assign(13, 0);
  if (S.Read(Head.data(), 13) != 13 || std::memcmp(Head.data(), "GIF", 3) != 0) return false;
  std::memcpy(Head.data() + 3, "89a", 3);
  if (Head[10] & 0x80) {
    const size_t N = (size_t{1} << ((Head[10] & 7) + 1)) * 3;
    const size_t Old = Head.size();
    Head.resize(Old + N);
    if (S.Read(Head.data() + Old, static_cast<int64_t>(N)) != static_cast<int64_t>(N)) return false;
  }
  return true;
}

// Copies one image (descriptor already read into D) with its table and data to Out; false when
// its data runs past the end.
bool CopyImage(TStream& S, const uint8_t (&D)[9], TStream& Out) {
  const uint8_t Intro = 0x2C;
  Out.WriteBuffer(&Intro, 1);
  Out.WriteBuffer(D, 9);
  if (D[8] & 0x80) {
    const int64_t N = (int64_t{1} << ((D[8] & 7) + 1)) * 3;
    std::vector<uint8_t> T(static_cast<size_t>(N));
    const int64_t Got = S.Read(T.data(), N);
    Out.WriteBuffer(T.data(), Got);
    if (Got != N) return false;
  }
  uint8_t Code;
  if (S.Read(&Code, 1) != 1) return false;
  Out.WriteBuffer(&Code, 1);
  return CopySubBlocks(S, Out);
}

// Skips one image (descriptor already read into D) of a stream of Size bytes: local table,
// code size byte, sub-blocks; false when it runs past the end.
bool SkipImage(TStream& S, int64_t Size, const uint8_t (&D)[9]) {
  if (D[8] & 0x80) S.Seek((int64_t{1} << ((D[8] & 7) + 1)) * 3, soFromCurrent);
  uint8_t CodeSize;
  return S.Read(&CodeSize, 1) == 1 && SkipSubBlocksWithin(S, Size);
}

// Inserting rewrites the stream only from the insertion point on: the blocks before it are
// walked, not copied, so appending a frame costs the frame and a read of the file rather than
// a rewrite of everything before it (which made building an animation frame by frame
// quadratic). Blocks from the insertion point on are copied through memory, dropping any
// stray bytes between them and after the trailer.
int32_t InsertGIF(TStream& S, const TBitmap& Bitmap, TIOParamsVals& P, TProgressRec& Prog,
                  TGifEnd* End) {
  const TGifEnd Hint = End ? *End : TGifEnd{};
  if (End) End->TrailerAt = -1;
  QLProgress(Prog, 0);
  if (QLAborted(Prog)) return 0;
  const int64_t Start = S.GetPosition();
  std::vector<uint8_t> Head;
  if (!ReadHeader(S, Head)) {
    S.SetPosition(Start);
    return 0;
  }

  int32_t B = std::clamp(P.BitsPerSample, 1, 8);
  std::unique_ptr<TBitmap> One;
  TBitmap Wide;
  const TBitmap* Src;
  TRGB C1 = CreateRGB(0, 0, 0), C2 = CreateRGB(255, 255, 255);
  if (B == 1 && Bitmap.GetPixelFormat() == pf1bit) {
    Src = &Bitmap;
  } else if (B == 1) {
    One = _ConvertTo1bit(QLAs24Bit(Bitmap, Wide), C1, C2);
    if (One) {
      Src = One.get();
    } else {
      B = 8;
      Src = &QLAs24Bit(Bitmap, Wide);
    }
  } else {
    Src = &QLAs24Bit(Bitmap, Wide);
  }
  QLProgress(Prog, 30);
  if (QLAborted(Prog)) return 0;

  // What replaces the stream from InsertAt on; empty until the new image is emitted.
  TMemoryStream Out;
  int64_t InsertAt = -1;
  auto Emit = [&](int64_t At) {
    InsertAt = At;
    TGifImage Img;
    Prepare(*Src, B, P, C1, C2, Img);
    const std::vector<uint8_t> Gce = ControlExtension(P, Img.Transparent);
    Out.WriteBuffer(Gce.data(), static_cast<int64_t>(Gce.size()));
    const std::vector<uint8_t> Desc =
        Descriptor(P, Src->GetWidth(), Src->GetHeight(),
                   static_cast<uint8_t>((B - 1) + (P.GifInterlaced ? 64 : 0) + 0x80));
    Out.WriteBuffer(Desc.data(), static_cast<int64_t>(Desc.size()));
    Out.WriteBuffer(Img.Palette.data(), static_cast<int64_t>(Img.Palette.size()));
    TGIFLZWCompFunc Encode = Encoder(P);
    if (!Encode) return QLSetAbort(Prog);
    Encode(Out, Src->GetHeight(), Src->GetWidth(), P.GifInterlaced, Img.Indexes.data(), B);
  };

  const int64_t Size = S.GetSize();
  int32_t Target = P.GifImageIndex;
  int32_t I = 0;
  // An append with a hint that still matches starts at the trailer.
  if (Target == Hint.Count && Hint.TrailerAt >= S.GetPosition() && Hint.TrailerAt + 1 == Size) {
    const int64_t Walk = S.GetPosition();
    uint8_t Trailer = 0;
    S.SetPosition(Hint.TrailerAt);
    const bool Matches = S.Read(&Trailer, 1) == 1 && Trailer == 0x3B;
    if (Matches) I = Hint.Count;
    S.SetPosition(Matches ? Hint.TrailerAt : Walk);
  }
  while (!QLAborted(Prog)) {
    uint8_t Intro;
    // A skipped extension's last sub-block may claim more than is left.
    const int64_t At = std::min(S.GetPosition(), Size);
    if (S.Read(&Intro, 1) != 1 || Intro == 0x3B) {
      if (I == Target) {
        Emit(At);
        ++I;
      }
      if (InsertAt < 0) InsertAt = At;
      break;
    }
    if (Intro == 0x21) {
      uint8_t Label = 0;
      const bool HaveLabel = S.Read(&Label, 1) == 1;
      if (HaveLabel && Label == 0xF9 && I == Target) {
        Emit(At);
        ++I;
        Target = -1;
      }
      if (InsertAt < 0) {
        if (!HaveLabel) {
          InsertAt = At;
          break;
        }
        SkipSubBlocks(S);
        continue;
      }
      Out.WriteBuffer(&Intro, 1);
      if (!HaveLabel) break;
      Out.WriteBuffer(&Label, 1);
      CopySubBlocks(S, Out);
      continue;
    }
    if (Intro != 0x2C) continue;
    uint8_t D[9];
    if (S.Read(D, 9) != 9) {
      QLSetAbort(Prog);
      break;
    }
    // An image without a control extension of its own still takes the new one before it.
    if (I == Target) {
      Emit(At);
      ++I;
      Target = -1;
    }
    if (!(InsertAt < 0 ? SkipImage(S, Size, D) : CopyImage(S, D, Out))) {
      QLSetAbort(Prog);
      break;
    }
    if (I + 1 == Target) {
      QLProgress(Prog, 70);
      if (QLAborted(Prog)) break;
      Emit(S.GetPosition());
      I += 2;
      Target = -1;
    } else {
      ++I;
    }
  }
  if (QLAborted(Prog)) return I;
  const uint8_t Trailer = 0x3B;
  Out.WriteBuffer(&Trailer, 1);
  bool& Abort = *Prog.AbortFlag;
  // A control extension needs version 89a.
  S.SetPosition(Start + 3);
  SafeStreamWrite(S, Abort, Head.data() + 3, 3);
  S.SetPosition(InsertAt);
  SafeStreamWrite(S, Abort, Out.Memory(), Out.GetSize());
  S.SetSize(InsertAt + Out.GetSize());
  if (!Abort) QLProgress(Prog, 100);
  if (End && !Abort) *End = TGifEnd{InsertAt + Out.GetSize() - 1, I};
  return I;
}

}  // namespace

void ReadGifStream(TStream& Stream, TBitmap& Bitmap, int32_t& ImageCount, TIOParamsVals& Params,
                   TProgressRec& Progress, bool Preview) {
  ImageCount = 0;
  QLGuarded(Progress, [&] { ReadGIF(Stream, Bitmap, ImageCount, Params, Progress, Preview); });
}

int32_t ReadGifEach(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                    const std::function<bool(int32_t)>& OnImage) {
  int32_t Total = 0, Done = 0;
  QLGuarded(Progress, [&] {
    // One walk that skips every image gives the count the parameters report.
    const int64_t Start = Stream.GetPosition();
    const int32_t Index = Params.GifImageIndex;
    Params.GifImageIndex = -1;
    ReadGIF(Stream, Bitmap, Total, Params, Progress, true);
    Params.GifImageIndex = Index;
    if (QLAborted(Progress)) return;
    Stream.SetPosition(Start);
    const std::function<bool(int32_t)> Each = [&](int32_t I) {
      Params.GifImageCount = Total;
      ++Done;
      return OnImage(I);
    };
    int32_t Count = 0;
    ReadGIF(Stream, Bitmap, Count, Params, Progress, false, &Each);
    Params.GifImageCount = Total;
  });
  return Done;
}

void ReadGif(const std::string& FileName, TBitmap& Bitmap, int32_t& ImageCount,
             TIOParamsVals& Params, TProgressRec& Progress) {
  TFileStream F(FileName, fmOpenRead | fmShareDenyWrite);
  ReadGifStream(F, Bitmap, ImageCount, Params, Progress, false);
}

void WriteGifStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress) {
  QLGuarded(Progress, [&] { WriteGIF(Stream, Bitmap, Params, Progress); });
}

void WriteGif(const std::string& FileName, const TBitmap& Bitmap, TIOParamsVals& Params,
              TProgressRec& Progress) {
  TFileStream F(FileName, fmCreate);
  WriteGifStream(F, Bitmap, Params, Progress);
  try {
    F.Flush();
  } catch (const EWriteError&) {
    QLSetAbort(Progress);
  }
}

int32_t _InsertGifImStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                           TProgressRec& Progress, TGifEnd* End) {
  int32_t Result = 0;
  QLGuarded(Progress, [&] { Result = InsertGIF(Stream, Bitmap, Params, Progress, End); });
  return Result;
}

int32_t _InsertGifIm(const std::string& FileName, const TBitmap& Bitmap, TIOParamsVals& Params,
                     TProgressRec& Progress) {
  TFileStream F(FileName, fmOpenReadWrite);
  const int32_t Result = _InsertGifImStream(F, Bitmap, Params, Progress);
  try {
    F.Flush();
  } catch (const EWriteError&) {
    QLSetAbort(Progress);
  }
  return Result;
}

int32_t _DeleteGifIm(const std::string& FileName, int32_t Index, bool Save) {
  TMemoryStream Out;
  int32_t Kept = 0;
  {
    TFileStream S(FileName, fmOpenRead | fmShareDenyWrite);
    std::vector<uint8_t> Head;
    if (!ReadHeader(S, Head)) return 0;
    Out.WriteBuffer(Head.data(), static_cast<int64_t>(Head.size()));
    int32_t I = 0;
    for (;;) {
      uint8_t Intro;
      if (S.Read(&Intro, 1) != 1 || Intro == 0x3B) break;
      if (Intro == 0x21) {
        uint8_t Label;
        if (S.Read(&Label, 1) != 1) break;
        if (Label == 0xF9 && I == Index) {
          SkipSubBlocks(S);
          continue;
        }
        Out.WriteBuffer(&Intro, 1);
        Out.WriteBuffer(&Label, 1);
        CopySubBlocks(S, Out);
        continue;
      }
      if (Intro != 0x2C) continue;
      uint8_t D[9];
      if (S.Read(D, 9) != 9) break;
      if (I == Index) {
        if (D[8] & 0x80) S.Seek((int64_t{1} << ((D[8] & 7) + 1)) * 3, soFromCurrent);
        S.Seek(1, soFromCurrent);
        SkipSubBlocks(S);
        ++I;
        continue;
      }
      const bool Whole = CopyImage(S, D, Out);
      ++I;
      ++Kept;
      if (!Whole) break;
    }
  }
  const uint8_t Trailer = 0x3B;
  Out.WriteBuffer(&Trailer, 1);
  if (Save) Out.SaveToFile(FileName);
  return Kept;
}

namespace {
// True when the extension whose label was just read is a "NETSCAPE2.0" application extension;
// its identifier block has then been consumed. Otherwise the stream is back after the label.
bool ReadLoopIdentifier(TStream& S) {
  const int64_t Here = S.GetPosition();
  uint8_t Id[12];
  if (S.Read(Id, 12) == 12 && Id[0] == 11 && std::memcmp(Id + 1, kLoopId, 11) == 0) return true;
  S.SetPosition(Here);
  return false;
}

// The loop extension: application block "NETSCAPE2.0", sub-block 1 with the count.
std::array<uint8_t, 19> LoopExtension(uint16_t LoopCount) {
  std::array<uint8_t, 19> Loop = {0x21, 0xFF, 0x0B};
  std::memcpy(Loop.data() + 3, kLoopId, 11);
  Loop[14] = 0x03;
  Loop[15] = 0x01;
  Loop[16] = static_cast<uint8_t>(LoopCount);
  Loop[17] = static_cast<uint8_t>(LoopCount >> 8);
  Loop[18] = 0;
  return Loop;
}

// Where the file's loop extension starts when it stands first after the global table in the
// 19-byte form written here, so that animating needs only the header's version and size and
// the extension's count patched; -1 when the file must be rewritten (or is not a GIF: Head is
// then empty). A later loop extension, which a rewrite would drop, is left: readers take the
// first.
int64_t LoopExtensionToPatch(TStream& S, std::vector<uint8_t>& Head) {
  if (!ReadHeader(S, Head)) {
    Head.clear();
    return -1;
  }
  const int64_t At = S.GetPosition();
  uint8_t Loop[19];
  const std::array<uint8_t, 19> Form = LoopExtension(0);
  if (S.Read(Loop, 19) != 19 || std::memcmp(Loop, Form.data(), 16) != 0 || Loop[18] != 0) return -1;
  return At;
}
}  // namespace

void _GifMakeAnimate(const std::string& FileName, uint16_t LoopCount, int32_t Width,
                     int32_t Height) {
  std::vector<uint8_t> Head;
  const std::array<uint8_t, 19> Loop = LoopExtension(LoopCount);
  int64_t LoopAt;
  TMemoryStream Out;
  {
    TFileStream S(FileName, fmOpenRead | fmShareDenyWrite);
    LoopAt = LoopExtensionToPatch(S, Head);
    if (Head.empty()) return;
    Head[6] = static_cast<uint8_t>(Width);
    Head[7] = static_cast<uint8_t>(Width >> 8);
    Head[8] = static_cast<uint8_t>(Height);
    Head[9] = static_cast<uint8_t>(Height >> 8);
    if (LoopAt < 0) {
      S.SetPosition(static_cast<int64_t>(Head.size()));
      Out.WriteBuffer(Head.data(), static_cast<int64_t>(Head.size()));
      Out.WriteBuffer(Loop.data(), static_cast<int64_t>(Loop.size()));
      // The rest of the file, without any loop extension it had: the new one replaces it
      // wherever it stood (writers often put a control extension first).
      for (;;) {
        uint8_t Intro;
        if (S.Read(&Intro, 1) != 1 || Intro == 0x3B) break;
        if (Intro == 0x21) {
          uint8_t Label;
          if (S.Read(&Label, 1) != 1) break;
          if (Label == 0xFF && ReadLoopIdentifier(S)) {
            SkipSubBlocks(S);
            continue;
          }
          Out.WriteBuffer(&Intro, 1);
          Out.WriteBuffer(&Label, 1);
          if (!CopySubBlocks(S, Out)) break;
          continue;
        }
        if (Intro != 0x2C) continue;
        uint8_t D[9];
        if (S.Read(D, 9) != 9 || !CopyImage(S, D, Out)) break;
      }
      const uint8_t Trailer = 0x3B;
      Out.WriteBuffer(&Trailer, 1);
    }
  }
  if (LoopAt < 0) return Out.SaveToFile(FileName);
  // Patched in place, so that adding frames one by one does not rewrite the file each time.
  TFileStream S(FileName, fmOpenReadWrite);
  S.WriteBuffer(Head.data(), 10);
  S.SetPosition(LoopAt + 16);
  S.WriteBuffer(Loop.data() + 16, 2);
  S.Flush();
}

void _GifSetScreen(const std::string& FileName, int32_t Width, int32_t Height) {
  TFileStream S(FileName, fmOpenReadWrite);
  uint8_t Head[6];
  if (S.Read(Head, 6) != 6 || std::memcmp(Head, "GIF", 3) != 0) return;
  const uint8_t Size[4] = {static_cast<uint8_t>(Width), static_cast<uint8_t>(Width >> 8),
                           static_cast<uint8_t>(Height), static_cast<uint8_t>(Height >> 8)};
  S.WriteBuffer(Size, 4);
  S.Flush();
}

bool _CheckGifAnimate(const std::string& FileName) {
  TFileStream S(FileName, fmOpenRead | fmShareDenyWrite);
  return QLGifLoopCount(S) >= 0;
}

int32_t QLGifLoopCount(TStream& S) {
  std::vector<uint8_t> Head;
  if (!ReadHeader(S, Head)) return -1;
  // The loop extension is looked for among the extensions before the first image.
  for (;;) {
    uint8_t Intro, Label;
    if (S.Read(&Intro, 1) != 1 || Intro != 0x21 || S.Read(&Label, 1) != 1) return -1;
    if (Label == 0xFF && ReadLoopIdentifier(S)) {
      uint8_t Sub[4];
      if (S.Read(Sub, 4) != 4 || Sub[0] != 3 || Sub[1] != 1) return 0;
      return LE16(Sub + 2);
    }
    SkipSubBlocks(S);
  }
}

}  // namespace quillo
