#include "quillo/codecs/png.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <vector>

#include "quillo/codecs/detail/common.h"
#include "quillo/core/colors.h"
#include "quillo/core/pixels.h"
#include "quillo/platform/screen.h"
#include "quillo/quant/palette.h"
#include "quillo/quant/source24.h"

namespace quillo {

namespace {

// ---------------------------------------------------------------------------------------------
// The C-style layer. libpng reports errors through its error callback, which must not return;
// ours leaves with longjmp to the setjmp in PRun. Every frame the jump can cross (PRun's, the
// step it calls, libpng's own and the callbacks below) holds only trivially destructible
// locals, so no destructor is skipped. The library objects are owned by holders around, which
// destroy them on every path.

struct TPngIO {
  TStream* Stream;
  bool ShortWrite;
};

// A chunk's data and CRC must fit in what is left of the stream: libpng allocates a buffer of
// the declared length for the chunks it keeps, before it reads a byte of them. Image data is
// streamed, not buffered, so a truncated IDAT still yields the rows that arrived.
void CheckChunkHeader(png_structp P, TStream& S, const png_bytep Header) {
  const uint32_t Length = static_cast<uint32_t>(Header[0]) << 24 |
                          static_cast<uint32_t>(Header[1]) << 16 |
                          static_cast<uint32_t>(Header[2]) << 8 | Header[3];
  if (std::memcmp(Header + 4, "IDAT", 4) == 0) return;
  int64_t Left = -1;
  try {
    Left = S.Remaining();
  } catch (...) {
    png_error(P, "stream size unknown");
  }
  if (static_cast<int64_t>(Length) + 4 > Left) png_error(P, "chunk longer than the stream");
}

void ReadFn(png_structp P, png_bytep Data, size_t N) {
  auto* IO = static_cast<TPngIO*>(png_get_io_ptr(P));
  if (QLReadNoThrow(IO->Stream, Data, static_cast<int64_t>(N)) != static_cast<int64_t>(N))
    png_error(P, "unexpected end of data");
  if (N == 8 && (png_get_io_state(P) & PNG_IO_CHUNK_HDR)) CheckChunkHeader(P, *IO->Stream, Data);
}

void WriteFn(png_structp P, png_bytep Data, size_t N) {
  auto* IO = static_cast<TPngIO*>(png_get_io_ptr(P));
  if (QLWriteNoThrow(IO->Stream, Data, static_cast<int64_t>(N)) != static_cast<int64_t>(N))
    IO->ShortWrite = true;
}

void FlushFn(png_structp) {}
[[noreturn]] void ErrorFn(png_structp P, png_const_charp) {
  png_longjmp(P, 1);
}
void WarningFn(png_structp, png_const_charp) {}

// Runs Step(Ctx), a call into libpng; false when libpng raised an error. Never inlined: the
// setjmp must sit in a frame of its own.
using TPStep = void (*)(void* Ctx);
[[gnu::noinline]] bool PRun(png_structp P, TPStep Step, void* Ctx) {
  if (setjmp(png_jmpbuf(P)) != 0) return false;
  Step(Ctx);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Reading

struct TReadHolder {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~TReadHolder() {
    if (Png) png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
  }
};

// Plain data handed to the steps.
struct TReadCtx {
  png_structp Png;
  png_infop Info;
  png_bytep Row;
  // Transformations chosen from the header.
  bool PaletteToRGB, ExpandGrey, TrnsToAlpha, Strip16, GreyToRGB, Bgr;
  int Passes;
};

void StepReadInfo(void* C) {
  auto* X = static_cast<TReadCtx*>(C);
  png_read_info(X->Png, X->Info);
}

void StepTransforms(void* C) {
  auto* X = static_cast<TReadCtx*>(C);
  if (X->PaletteToRGB) png_set_palette_to_rgb(X->Png);
  if (X->ExpandGrey) png_set_expand_gray_1_2_4_to_8(X->Png);
  if (X->TrnsToAlpha) png_set_tRNS_to_alpha(X->Png);
  if (X->Strip16) png_set_strip_16(X->Png);
  if (X->GreyToRGB) png_set_gray_to_rgb(X->Png);
  if (X->Bgr) png_set_bgr(X->Png);
  X->Passes = png_set_interlace_handling(X->Png);
  png_read_update_info(X->Png, X->Info);
}

void StepReadRow(void* C) {
  auto* X = static_cast<TReadCtx*>(C);
  png_read_row(X->Png, X->Row, nullptr);
}

void StepReadEnd(void* C) {
  auto* X = static_cast<TReadCtx*>(C);
  png_read_end(X->Png, nullptr);
}

// A sample of Depth bits widened to 8 bits.
uint8_t Widen(uint32_t V, int Depth) {
  if (Depth == 16) return static_cast<uint8_t>(V >> 8);
  if (Depth == 8) return static_cast<uint8_t>(V);
  return static_cast<uint8_t>(V * 255 / ((1u << Depth) - 1));
}

// Foreground over background with alpha, rounded to the nearest level.
inline uint8_t Over(uint32_t F, uint32_t B, uint32_t A) {
  return static_cast<uint8_t>((F * A + B * (255 - A) + 127) / 255);
}

// The same at 16 bits (samples big-endian, the background widened by 257), keeping the high
// byte of the result: composing before the samples are cut keeps their precision.
inline uint8_t Over16(uint32_t F, uint32_t B, uint32_t A) {
  const uint64_t V =
      (static_cast<uint64_t>(F) * A + static_cast<uint64_t>(B) * 257 * (65535 - A) + 32767) / 65535;
  return static_cast<uint8_t>(V >> 8);
}

void ComposeRow(const uint8_t* Bgra, int32_t W, bool Wide, const TRGB& Bg, TRGB* Out) {
  if (Wide) {
    auto At = [](const uint8_t* P, int K) {
      return static_cast<uint32_t>((P[2 * K] << 8) | P[2 * K + 1]);
    };
    for (int32_t X = 0; X < W; ++X, Bgra += 8) {
      const uint32_t A = At(Bgra, 3);
      Out[X] = TRGB{Over16(At(Bgra, 0), Bg.b, A), Over16(At(Bgra, 1), Bg.g, A),
                    Over16(At(Bgra, 2), Bg.r, A)};
    }
    return;
  }
  for (int32_t X = 0; X < W; ++X, Bgra += 4) {
    const uint32_t A = Bgra[3];
    Out[X] = TRGB{Over(Bgra[0], Bg.b, A), Over(Bgra[1], Bg.g, A), Over(Bgra[2], Bg.r, A)};
  }
}

// The largest ancillary chunk libpng may buffer: far above a palette, transparency or
// background, far below what a forged length could ask for.
constexpr png_alloc_size_t kMaxChunkBytes = 1 << 20;
// Known ancillary chunks whose contents we do not keep (five bytes each: name and NUL).
const png_byte kSkippedChunks[] =
    "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0hIST\0sCAL\0pCAL\0eXIf\0tIME\0sBIT\0oFFs\0";

void ReadPNG(TStream& S, TBitmap& Bmp, TIOParamsVals& Prm, TProgressRec& Prog, bool Preview) {
  TReadHolder H;
  H.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (!H.Png) return QLSetAbort(Prog);
  H.Info = png_create_info_struct(H.Png);
  if (!H.Info) return QLSetAbort(Prog);
  TPngIO IO{&S, false};
  png_set_read_fn(H.Png, &IO, ReadFn);
  // libpng's own limits, so that nothing it allocates is out of proportion to the input:
  // dimensions in step with the pixel limit (ours is checked again below); no chunk buffer
  // (or decompressed text or profile) beyond what we could use; a bounded count of cached
  // ancillary chunks. We keep none of the texts, profiles and private chunks, so libpng
  // passes over them without buffering them.
  const auto Side = static_cast<png_uint_32>(std::clamp<int64_t>(QLGetMaxPixels(), 1, 0x7FFFFFFF));
  png_set_user_limits(H.Png, Side, Side);
  png_set_chunk_malloc_max(H.Png, kMaxChunkBytes);
  png_set_chunk_cache_max(H.Png, 32);
  png_set_keep_unknown_chunks(H.Png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks,
                              static_cast<int>(sizeof kSkippedChunks / 5));
  png_set_keep_unknown_chunks(H.Png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  TReadCtx X{};
  X.Png = H.Png;
  X.Info = H.Info;
  if (!PRun(H.Png, StepReadInfo, &X)) return QLSetAbort(Prog);

  png_uint_32 W = 0, Ht = 0;
  int Depth = 0, ColorType = 0, Interlace = 0;
  png_get_IHDR(H.Png, H.Info, &W, &Ht, &Depth, &ColorType, &Interlace, nullptr, nullptr);
  const bool HasTrns = png_get_valid(H.Png, H.Info, PNG_INFO_tRNS);
  const bool Palette = ColorType == PNG_COLOR_TYPE_PALETTE;
  const bool HasAlpha = (ColorType & PNG_COLOR_MASK_ALPHA) || HasTrns;

  png_colorp Plte = nullptr;
  int PlteCount = 0;
  if (Palette) png_get_PLTE(H.Png, H.Info, &Plte, &PlteCount);
  std::vector<TRGB> Pal(256);
  for (int I = 0; I < std::min(PlteCount, 256); ++I)
    Pal[static_cast<size_t>(I)] = CreateRGB(Plte[I].red, Plte[I].green, Plte[I].blue);

  Prm.Width = static_cast<int32_t>(std::min<png_uint_32>(W, 0x7FFFFFFF));
  Prm.Height = static_cast<int32_t>(std::min<png_uint_32>(Ht, 0x7FFFFFFF));
  Prm.BitsPerSample = Depth;
  Prm.SamplesPerPixel = png_get_channels(H.Png, H.Info);
  png_uint_32 ResX = 0, ResY = 0;
  int Unit = 0;
  if (png_get_pHYs(H.Png, H.Info, &ResX, &ResY, &Unit) && Unit == PNG_RESOLUTION_METER) {
    Prm.DpiX = QLRound32(ResX / 100.0 * 2.54);
    Prm.DpiY = QLRound32(ResY / 100.0 * 2.54);
  } else {
    Prm.DpiX = Prm.DpiY = 0;
  }
  if (Prm.DpiX <= 0) Prm.DpiX = gSystemDPIX;
  if (Prm.DpiY <= 0) Prm.DpiY = gSystemDPIY;
  Prm.FreeColorMap();
  if (Palette && PlteCount > 0) Prm.SetColorMap(Pal.data(), std::min(PlteCount, 256));
  Prm.PngInterlaced = Interlace != PNG_INTERLACE_NONE;

  // The colour that transparency is composed onto: the file's own background when it names
  // one (at its true value; a palette index names the palette's colour), else PngBackground.
  png_color_16p Bkgd = nullptr;
  if (png_get_bKGD(H.Png, H.Info, &Bkgd) && Bkgd) {
    if (Palette)
      Prm.PngBackground = Pal[Bkgd->index];
    else if (ColorType & PNG_COLOR_MASK_COLOR)
      Prm.PngBackground =
          CreateRGB(Widen(Bkgd->red, Depth), Widen(Bkgd->green, Depth), Widen(Bkgd->blue, Depth));
    else
      Prm.PngBackground =
          CreateRGB(Widen(Bkgd->gray, Depth), Widen(Bkgd->gray, Depth), Widen(Bkgd->gray, Depth));
  }
  if (Preview) return;

  // Black-and-white images (grey at 1 bit, or a two-entry palette of black and white) stay
  // 1-bit; a palette of white then black is inverted into the working layout. Everything else
  // becomes blue, green, red (with alpha while there is transparency to compose).
  const bool BwPalette = Palette && Depth == 1 && PlteCount >= 2 && Pal[0] == CreateRGB(0, 0, 0) &&
                         Pal[1] == CreateRGB(255, 255, 255);
  const bool WbPalette = Palette && Depth == 1 && PlteCount >= 2 &&
                         Pal[0] == CreateRGB(255, 255, 255) && Pal[1] == CreateRGB(0, 0, 0);
  const bool OneBit =
      Depth == 1 && !HasTrns && (ColorType == PNG_COLOR_TYPE_GRAY || BwPalette || WbPalette);
  if (!OneBit) {
    X.PaletteToRGB = Palette;
    X.ExpandGrey = !(ColorType & PNG_COLOR_MASK_COLOR) && Depth < 8;
    X.TrnsToAlpha = HasTrns;
    // 16-bit samples are cut to 8 bits, except where transparency is composed first.
    X.Strip16 = Depth == 16 && !HasAlpha;
    X.GreyToRGB = !(ColorType & PNG_COLOR_MASK_COLOR);
    X.Bgr = true;
  }
  if (!PRun(H.Png, StepTransforms, &X)) return QLSetAbort(Prog);
  if (!QLPrepareBitmap(Bmp, W, Ht, OneBit, Prog)) return;
  const size_t RowBytes = png_get_rowbytes(H.Png, H.Info);
  const int32_t Width = static_cast<int32_t>(W), Height = static_cast<int32_t>(Ht);
  const bool Wide = HasAlpha && Depth == 16;
  const size_t PixelBytes = HasAlpha ? (Wide ? 8 : 4) : 3;
  if (OneBit ? RowBytes > static_cast<size_t>(Bmp.RowLen())
             : RowBytes != static_cast<size_t>(Width) * PixelBytes)
    return QLSetAbort(Prog);

  // Alpha rows are kept whole while passes refine them, then composed.
  std::vector<uint8_t> Rgba;
  if (HasAlpha && !OneBit)
    Rgba.assign(static_cast<size_t>(Width) * PixelBytes * (X.Passes > 1 ? Height : 1), 0);
  const TRGB Bg = Prm.PngBackground;
  Prog.StepFactor = 100.0 / (static_cast<double>(Height) * X.Passes);
  Prog.Pass = 0;
  for (int Pass = 0; Pass < X.Passes; ++Pass) {
    for (int32_t Y = 0; Y < Height; ++Y) {
      uint8_t* Row = Bmp.ScanLine(Y);
      X.Row = Rgba.empty()
                  ? Row
                  : Rgba.data() + (X.Passes > 1 ? static_cast<size_t>(Y) * Width * PixelBytes : 0);
      if (!PRun(H.Png, StepReadRow, &X)) return QLSetAbort(Prog);
      if (!Rgba.empty() && (X.Passes == 1 || Pass == X.Passes - 1))
        ComposeRow(X.Row, Width, Wide, Bg, reinterpret_cast<TRGB*>(Row));
      ++Prog.Pass;
      QLProgress(Prog, QLTrunc(Prog.Pass * Prog.StepFactor));
      if (QLAborted(Prog)) return;
    }
  }
  if (WbPalette)
    for (int32_t Y = 0; Y < Height; ++Y) {
      uint8_t* Row = Bmp.ScanLine(Y);
      for (int32_t K = 0; K < Bmp.RowLen(); ++K) Row[K] = static_cast<uint8_t>(~Row[K]);
    }
  if (!PRun(H.Png, StepReadEnd, &X)) QLSetAbort(Prog);
}

// ---------------------------------------------------------------------------------------------
// Writing

struct TWriteHolder {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  ~TWriteHolder() {
    if (Png) png_destroy_write_struct(&Png, Info ? &Info : nullptr);
  }
};

struct TWriteCtx {
  png_structp Png;
  png_infop Info;
  png_bytep Row;
  int Passes;
};

void StepWriteInfo(void* C) {
  auto* X = static_cast<TWriteCtx*>(C);
  png_write_info(X->Png, X->Info);
  X->Passes = png_set_interlace_handling(X->Png);
}

void StepWriteRow(void* C) {
  auto* X = static_cast<TWriteCtx*>(C);
  png_write_row(X->Png, X->Row);
}

void StepWriteEnd(void* C) {
  auto* X = static_cast<TWriteCtx*>(C);
  png_write_end(X->Png, X->Info);
}

[[noreturn]] void Failed() {
  throw EInvalidGraphic("Error on creating PNG");
}

void WritePNG(TStream& S, const TBitmap& Bitmap, TIOParamsVals& Prm, TProgressRec& Prog) {
  const int32_t W = Bitmap.GetWidth(), H = Bitmap.GetHeight();
  if (W <= 0 || H <= 0) return QLSetAbort(Prog);
  TWriteHolder Hd;
  Hd.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (!Hd.Png) Failed();
  Hd.Info = png_create_info_struct(Hd.Png);
  if (!Hd.Info) Failed();
  TPngIO IO{&S, false};
  png_set_write_fn(Hd.Png, &IO, WriteFn, FlushFn);

  const bool Rgb = Prm.SamplesPerPixel != 1;
  const bool OneBit = !Rgb && Prm.BitsPerSample == 1;
  std::unique_ptr<TBitmap> One;
  TBitmap Wide;
  const TBitmap* Src;
  TRGB C1 = CreateRGB(0, 0, 0), C2 = CreateRGB(255, 255, 255);
  if (OneBit) {
    One = QLOneBitForWriting(Bitmap, C1, C2, &Prm.ColorMap);
    Src = One.get();
  } else {
    Src = &QLAs24Bit(Bitmap, Wide);
  }
  // Two colours other than black and white keep them as a 1-bit palette.
  const bool Grey1 = OneBit && C1 == CreateRGB(0, 0, 0) && C2 == CreateRGB(255, 255, 255);
  const bool Palette1 = OneBit && !Grey1;
  std::unique_ptr<TQLPaletteMapper> Map;
  if (!Rgb && !OneBit) Map = std::make_unique<TQLPaletteMapper>(*Src, 256, Prm.ColorMap);
  // An image of grey pixels only, not loaded with a palette of its own, is stored as 8-bit grey.
  bool Grey8 = Map && Map->Exact() && !Map->KeptOrder();
  for (int32_t I = 0; Grey8 && I < Map->ColorCount(); ++I) {
    const TRGB& C = Map->Palette()[static_cast<size_t>(I)];
    Grey8 = C.r == C.g && C.g == C.b;
  }
  const bool Indexed = Map && !Grey8;
  png_color Plte[256];
  const int PlteCount = Indexed ? 256 : Palette1 ? 2 : 0;
  for (int I = 0; I < PlteCount; ++I) {
    const TRGB C = Indexed ? Map->Palette()[static_cast<size_t>(I)] : I ? C2 : C1;
    Plte[I] = png_color{C.r, C.g, C.b};
  }
  // Everything libpng is told before the header goes out; none of these calls raise errors.
  png_set_IHDR(Hd.Png, Hd.Info, static_cast<png_uint_32>(W), static_cast<png_uint_32>(H),
               OneBit ? 1 : 8,
               Rgb              ? PNG_COLOR_TYPE_RGB
               : Grey1 || Grey8 ? PNG_COLOR_TYPE_GRAY
                                : PNG_COLOR_TYPE_PALETTE,
               Prm.PngInterlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (PlteCount) png_set_PLTE(Hd.Png, Hd.Info, Plte, PlteCount);
  png_set_pHYs(Hd.Png, Hd.Info,
               static_cast<png_uint_32>(std::max(0, QLRound32(Prm.DpiX * 100 / 2.54))),
               static_cast<png_uint_32>(std::max(0, QLRound32(Prm.DpiY * 100 / 2.54))),
               PNG_RESOLUTION_METER);
  png_set_filter(Hd.Png, PNG_FILTER_TYPE_BASE,
                 Prm.PngFilter == ioPNG_FILTER_SUB     ? PNG_FILTER_SUB
                 : Prm.PngFilter == ioPNG_FILTER_PAETH ? PNG_FILTER_PAETH
                                                       : PNG_FILTER_NONE);
  // The background at the image's own depth: a palette index, one grey bit, or 8-bit channels.
  png_color_16 Bkgd{};
  const TRGB& B = Prm.PngBackground;
  if (Indexed) {
    Bkgd.index = static_cast<png_byte>(Map->IndexOf(B));
  } else if (Palette1) {
    const auto Dist = [&B](const TRGB& C) {
      return (C.r - B.r) * (C.r - B.r) + (C.g - B.g) * (C.g - B.g) + (C.b - B.b) * (C.b - B.b);
    };
    Bkgd.index = Dist(C2) < Dist(C1) ? 1 : 0;
  } else if (Grey1) {
    Bkgd.gray = (21 * B.r + 71 * B.g + 7 * B.b) / 100 >= 128 ? 1 : 0;
  } else if (Grey8) {
    Bkgd.gray = QLStoredGrey(B);
  } else {
    Bkgd.red = B.r, Bkgd.green = B.g, Bkgd.blue = B.b;
  }
  png_set_bKGD(Hd.Png, Hd.Info, &Bkgd);
  png_set_compression_level(Hd.Png, std::clamp(Prm.PngCompression, 0, 9));
  if (Rgb) png_set_bgr(Hd.Png);

  TWriteCtx X{Hd.Png, Hd.Info, nullptr, 1};
  if (!PRun(Hd.Png, StepWriteInfo, &X)) Failed();
  std::vector<uint8_t> Line(static_cast<size_t>(W) * 3 + 8);
  Prog.StepFactor = 100.0 / (static_cast<double>(X.Passes) * H);
  Prog.Pass = 0;
  for (int Pass = 0; Pass < X.Passes; ++Pass)
    for (int32_t Y = 0; Y < H; ++Y) {
      const uint8_t* Row = Src->ScanLine(Y);
      if (Indexed) {
        Map->MapRow(Row, W, Line.data());
      } else if (Grey8) {
        const TRGB* Px = reinterpret_cast<const TRGB*>(Row);
        for (int32_t I = 0; I < W; ++I) Line[static_cast<size_t>(I)] = QLStoredGrey(Px[I]);
      } else {
        std::memcpy(Line.data(), Row,
                    OneBit ? static_cast<size_t>((W + 7) / 8) : static_cast<size_t>(W) * 3);
      }
      X.Row = Line.data();
      if (!PRun(Hd.Png, StepWriteRow, &X)) Failed();
      if (IO.ShortWrite) QLSetAbort(Prog);
      ++Prog.Pass;
      QLProgress(Prog, QLTrunc(Prog.Pass * Prog.StepFactor));
      if (QLAborted(Prog)) return;
    }
  if (!PRun(Hd.Png, StepWriteEnd, &X)) Failed();
  if (IO.ShortWrite) QLSetAbort(Prog);
}

}  // namespace

bool IsPNGStream(TStream& Stream) {
  const int64_t Pos = Stream.GetPosition();
  uint8_t Sig[8];
  const bool Result = Stream.Read(Sig, 8) == 8 && png_sig_cmp(Sig, 0, 8) == 0;
  Stream.SetPosition(Pos);
  return Result;
}

void ReadPNGStream(TStream& Stream, TBitmap& Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
                   bool Preview) {
  QLGuarded(Progress, [&] { ReadPNG(Stream, Bitmap, Params, Progress, Preview); });
}

void WritePNGStream(TStream& Stream, const TBitmap& Bitmap, TIOParamsVals& Params,
                    TProgressRec& Progress) {
  // The writer's own error passes to the caller; the platform's errors become the flag.
  bool Local = false;
  const bool Borrowed = Progress.AbortFlag == nullptr;
  if (Borrowed) Progress.AbortFlag = &Local;
  try {
    WritePNG(Stream, Bitmap, Params, Progress);
  } catch (const EInvalidGraphic&) {
    if (Borrowed) Progress.AbortFlag = nullptr;
    throw;
  } catch (const Exception&) {
    QLSetAbort(Progress);
  } catch (const std::bad_alloc&) {
    QLSetAbort(Progress);
  }
  if (Borrowed) Progress.AbortFlag = nullptr;
}

}  // namespace quillo
