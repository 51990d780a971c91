// quillo demo: the library on its built-in sample, and quillo formats.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "apps/quillo/commands.h"
#include "quillo/quillo.h"

namespace quillo::tool {

namespace {

// The built-in sample: smooth colour ramps, soft discs and hard-edged text-like bars, so that
// every codec has both smooth areas and detail to get right.
TBitmap DrawSample(int32_t W, int32_t H) {
  TBitmap B(W, H, pf24bit);
  for (int32_t Y = 0; Y < H; ++Y) {
    TRGB* Row = reinterpret_cast<TRGB*>(B.ScanLine(Y));
    for (int32_t X = 0; X < W; ++X) {
      int32_t R = X * 255 / (W - 1), G = Y * 255 / (H - 1), Bl = 255 - (X + Y) * 255 / (W + H - 2);
      for (auto [Cx, Cy, Rad] :
           {std::tuple{W / 4, H / 3, H / 5}, std::tuple{2 * W / 3, H / 2, H / 4}}) {
        int32_t D2 = (X - Cx) * (X - Cx) + (Y - Cy) * (Y - Cy);
        if (D2 < Rad * Rad) {
          int32_t K = 255 - D2 * 255 / (Rad * Rad);
          R = (R * (255 - K) + 250 * K) / 255;
          G = (G * (255 - K) + 200 * K) / 255;
          Bl = (Bl * (255 - K) + 40 * K) / 255;
        }
      }
      if (Y > H * 4 / 5 && ((X / 6) % 3 == 0) && ((Y / 4) % 2 == 0)) R = G = Bl = 16;
      Row[X] =
          CreateRGB(static_cast<uint8_t>(R), static_cast<uint8_t>(G), static_cast<uint8_t>(Bl));
    }
  }
  return B;
}

// Which sample a variant is written from and compared with: what its format is meant to hold.
enum TSampleKind { skColour, skGrey, skBlackWhite };

// One written form of the sample.
struct TVariant {
  const char* Name;
  const char* Ext;
  TSampleKind Kind;
  std::function<void(TIOParamsVals&)> Setup;
};

// Every format and variant the library writes.
std::vector<TVariant> Variants() {
  return {
      {"BMP 24-bit", "bmp", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 3; }},
      {"BMP 24-bit OS/2 v1", "bmp", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.BmpVersion = ioBMP_BMOS2V1;
       }},
      {"BMP 8-bit", "bmp", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 1; }},
      {"BMP 8-bit RLE", "bmp", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 1, P.BmpCompression = ioBMP_RLE;
       }},
      {"BMP 4-bit", "bmp", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 4, P.SamplesPerPixel = 1; }},
      {"BMP 4-bit RLE", "bmp", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 4, P.SamplesPerPixel = 1, P.BmpCompression = ioBMP_RLE;
       }},
      {"BMP 1-bit", "bmp", skBlackWhite,
       [](TIOParamsVals& P) { P.BitsPerSample = 1, P.SamplesPerPixel = 1; }},
      {"JPEG quality 90", "jpg", skColour, [](TIOParamsVals& P) { P.JpegQuality = 90; }},
      {"JPEG quality 50", "jpg", skColour, [](TIOParamsVals& P) { P.JpegQuality = 50; }},
      {"JPEG progressive", "jpg", skColour,
       [](TIOParamsVals& P) { P.JpegQuality = 90, P.JpegProgressive = true; }},
      {"JPEG optimised", "jpg", skColour,
       [](TIOParamsVals& P) { P.JpegQuality = 90, P.JpegOptimalHuffman = true; }},
      {"JPEG grey", "jpg", skGrey,
       [](TIOParamsVals& P) { P.JpegQuality = 90, P.JpegColorSpace = ioJPEG_GRAYLEV; }},
      {"JPEG CMYK", "jpg", skColour,
       [](TIOParamsVals& P) { P.JpegQuality = 90, P.JpegColorSpace = ioJPEG_CMYK; }},
      {"PNG RGB", "png", skColour, [](TIOParamsVals& P) { P.SamplesPerPixel = 3; }},
      {"PNG RGB Paeth, level 9", "png", skColour,
       [](TIOParamsVals& P) {
         P.SamplesPerPixel = 3, P.PngFilter = ioPNG_FILTER_PAETH, P.PngCompression = 9;
       }},
      {"PNG RGB Sub, level 1", "png", skColour,
       [](TIOParamsVals& P) {
         P.SamplesPerPixel = 3, P.PngFilter = ioPNG_FILTER_SUB, P.PngCompression = 1;
       }},
      {"PNG RGB interlaced", "png", skColour,
       [](TIOParamsVals& P) { P.SamplesPerPixel = 3, P.PngInterlaced = true; }},
      {"PNG 256-colour palette", "png", skColour,
       [](TIOParamsVals& P) { P.SamplesPerPixel = 1, P.BitsPerSample = 8; }},
      {"PNG 1-bit grey", "png", skBlackWhite,
       [](TIOParamsVals& P) { P.SamplesPerPixel = 1, P.BitsPerSample = 1; }},
      {"GIF 8-bit", "gif", skColour, [](TIOParamsVals& P) { P.BitsPerSample = 8; }},
      {"GIF 8-bit interlaced", "gif", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.GifInterlaced = true; }},
      {"GIF 4-bit", "gif", skColour, [](TIOParamsVals& P) { P.BitsPerSample = 4; }},
      {"GIF 1-bit", "gif", skBlackWhite, [](TIOParamsVals& P) { P.BitsPerSample = 1; }},
      {"PCX 24-bit", "pcx", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 3; }},
      {"PCX 24-bit raw", "pcx", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.PcxCompression = ioPCX_UNCOMPRESSED;
       }},
      {"PCX 8-bit", "pcx", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 1; }},
      {"PCX 4-bit", "pcx", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 4, P.SamplesPerPixel = 1; }},
      {"PCX 1-bit", "pcx", skBlackWhite,
       [](TIOParamsVals& P) { P.BitsPerSample = 1, P.SamplesPerPixel = 1; }},
      {"TGA 24-bit RLE", "tga", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 3; }},
      {"TGA 24-bit raw", "tga", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.TgaCompressed = false;
       }},
      {"TGA 8-bit mapped RLE", "tga", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 1; }},
      {"TGA 8-bit grey", "tga", skGrey,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 1, P.TgaGrayLevel = true; }},
      {"TGA 4-bit mapped", "tga", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 4, P.SamplesPerPixel = 1; }},
      {"TGA 1-bit", "tga", skBlackWhite,
       [](TIOParamsVals& P) { P.BitsPerSample = 1, P.SamplesPerPixel = 1; }},
      {"TIFF 24-bit", "tif", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 3; }},
      {"TIFF PackBits", "tif", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.TiffCompression = ioTIFF_PACKBITS;
       }},
      {"TIFF LZW predictor", "tif", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.TiffCompression = ioTIFF_LZW;
       }},
      {"TIFF deflate predictor", "tif", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.TiffCompression = ioTIFF_DEFLATE;
       }},
      {"TIFF large form", "tif", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.TiffCompression = ioTIFF_LZW,
         P.TiffBigTIFF = true;
       }},
      {"TIFF CMYK LZW", "tif", skColour,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 3, P.TiffCompression = ioTIFF_LZW,
         P.TiffPhotometInterpret = ioTIFF_CMYK;
       }},
      {"TIFF grey LZW", "tif", skGrey,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 8, P.SamplesPerPixel = 1, P.TiffCompression = ioTIFF_LZW,
         P.TiffPhotometInterpret = ioTIFF_BLACKISZERO;
       }},
      {"TIFF 1-bit", "tif", skBlackWhite,
       [](TIOParamsVals& P) { P.BitsPerSample = 1, P.SamplesPerPixel = 1; }},
      {"TIFF 1-bit PackBits", "tif", skBlackWhite,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 1, P.SamplesPerPixel = 1, P.TiffCompression = ioTIFF_PACKBITS;
       }},
      {"TIFF Huffman", "tif", skBlackWhite,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 1, P.SamplesPerPixel = 1, P.TiffCompression = ioTIFF_CCITT1D;
       }},
      {"TIFF G3 1D", "tif", skBlackWhite,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 1, P.SamplesPerPixel = 1, P.TiffCompression = ioTIFF_G3FAX1D;
       }},
      {"TIFF G3 2D", "tif", skBlackWhite,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 1, P.SamplesPerPixel = 1, P.TiffCompression = ioTIFF_G3FAX2D;
       }},
      {"TIFF G4", "tif", skBlackWhite,
       [](TIOParamsVals& P) {
         P.BitsPerSample = 1, P.SamplesPerPixel = 1, P.TiffCompression = ioTIFF_G4FAX;
       }},
      {"PPM (P6)", "ppm", skColour,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 3; }},
      {"PGM (P5)", "pgm", skGrey,
       [](TIOParamsVals& P) { P.BitsPerSample = 8, P.SamplesPerPixel = 1; }},
      {"PBM (P4)", "pbm", skBlackWhite,
       [](TIOParamsVals& P) { P.BitsPerSample = 1, P.SamplesPerPixel = 1; }},
  };
}

double Psnr(const TBitmap& A, const TBitmap& B) {
  double Sum = 0;
  int64_t N = 0;
  for (int32_t Y = 0; Y < A.GetHeight(); ++Y) {
    const uint8_t* Ra = A.ScanLine(Y);
    const uint8_t* Rb = B.ScanLine(Y);
    for (int32_t I = 0; I < A.GetWidth() * 3; ++I, ++N) Sum += (Ra[I] - Rb[I]) * (Ra[I] - Rb[I]);
  }
  return Sum == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * N / Sum);
}

bool SameImage(const TBitmap& A, const TBitmap& B) {
  if (A.GetWidth() != B.GetWidth() || A.GetHeight() != B.GetHeight() ||
      A.GetPixelFormat() != B.GetPixelFormat())
    return false;
  const int64_t Bits = static_cast<int64_t>(A.GetWidth()) * QLStorageBitCount(A.GetPixelFormat());
  for (int32_t Y = 0; Y < A.GetHeight(); ++Y) {
    if (std::memcmp(A.ScanLine(Y), B.ScanLine(Y), static_cast<size_t>(Bits / 8)) != 0) return false;
    if (Bits % 8) {
      const uint8_t Mask = static_cast<uint8_t>(0xFF00 >> (Bits % 8));
      if ((A.ScanLine(Y)[Bits / 8] ^ B.ScanLine(Y)[Bits / 8]) & Mask) return false;
    }
  }
  return true;
}

double MsSince(std::chrono::steady_clock::time_point T0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
}

}  // namespace

int CmdFormats(const TArgs&) {
  std::printf("%-5s  %-36s  %s\n", "type", "format", "extensions");
  for (const auto& Row : qlgFileFormats())
    std::printf("%-5d  %-36s  %s\n", Row->FileType, Row->FullName.c_str(), Row->Extensions.c_str());
  return 0;
}

int CmdDemo(const TArgs& Args) {
  if (Args.size() > 1) throw TUsageError{"demo takes at most one folder"};
  const std::filesystem::path Folder = Args.empty() ? "quillo-demo" : Args[0];
  std::filesystem::create_directories(Folder);

  TBitmap Sample = DrawSample(480, 320);
  // The black-and-white sample: a threshold of the grey level, kept as a 1-bit bitmap.
  TBitmap Bw(Sample.GetWidth(), Sample.GetHeight(), pf1bit);
  for (int32_t Y = 0; Y < Sample.GetHeight(); ++Y) {
    const TRGB* S = reinterpret_cast<const TRGB*>(Sample.ScanLine(Y));
    for (int32_t X = 0; X < Sample.GetWidth(); ++X)
      if ((21 * S[X].r + 71 * S[X].g + 7 * S[X].b) / 100 >= 128)
        Bw.ScanLine(Y)[X >> 3] |= static_cast<uint8_t>(0x80 >> (X & 7));
  }
  // The grey sample: what grey formats hold, each pixel at the level a grey writer stores.
  TBitmap Grey(Sample.GetWidth(), Sample.GetHeight(), pf24bit);
  for (int32_t Y = 0; Y < Sample.GetHeight(); ++Y) {
    const TRGB* S = reinterpret_cast<const TRGB*>(Sample.ScanLine(Y));
    TRGB* D = reinterpret_cast<TRGB*>(Grey.ScanLine(Y));
    for (int32_t X = 0; X < Sample.GetWidth(); ++X) {
      const uint8_t G = QLStoredGrey(S[X]);
      D[X] = CreateRGB(G, G, G);
    }
  }
  std::printf("quillo %s demo: a %d x %d sample, written to %s\n\n", QuilloVersionString,
              Sample.GetWidth(), Sample.GetHeight(), Folder.string().c_str());
  std::printf("%-22s %-5s %9s %9s %9s  %s\n", "format", "ext", "bytes", "write ms", "read ms",
              "round trip");
  int Failures = 0, N = 0;
  for (const TVariant& V : Variants()) {
    TBitmap Source;
    Source.Assign(V.Kind == skBlackWhite ? Bw : V.Kind == skGrey ? Grey : Sample);
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Source);
    V.Setup(IO.IOParams());
    const std::filesystem::path File = Folder / (std::to_string(++N) + "-" + V.Ext + "." + V.Ext);
    auto T0 = std::chrono::steady_clock::now();
    IO.SaveToFile(File.string());
    const double WriteMs = MsSince(T0);
    if (IO.Aborting) {
      std::printf("%-22s %-5s %9s %9s %9s  %s\n", V.Name, V.Ext, "-", "-", "-", "WRITE FAILED");
      ++Failures;
      continue;
    }
    TBitmap Back;
    TQuilloIO Reader;
    Reader.SetAttachedBitmap(&Back);
    T0 = std::chrono::steady_clock::now();
    Reader.LoadFromFile(File.string());
    const double ReadMs = MsSince(T0);
    std::string Verdict;
    if (Reader.Aborting) {
      Verdict = "READ FAILED";
      ++Failures;
    } else if (SameImage(Source, Back)) {
      Verdict = "exact";
    } else {
      TBitmap A, B;
      A.Assign(Source);
      B.Assign(Back);
      TBitmap Ha, Hb;
      char Buf[64];
      std::snprintf(Buf, sizeof(Buf), "PSNR %.1f dB", Psnr(QLAs24Bit(A, Ha), QLAs24Bit(B, Hb)));
      Verdict = Buf;
    }
    std::printf("%-22s %-5s %9lld %9.1f %9.1f  %s\n", V.Name, V.Ext,
                static_cast<long long>(std::filesystem::file_size(File)), WriteMs, ReadMs,
                Verdict.c_str());
  }

  // A few operations of the image model on the sample.
  TRGB C1, C2;
  TBitmap Thresholded;
  TBitmap Expanded;
  bool Abort = false;
  TProgressRec P = QLProgressRec(nullptr, nullptr, Abort);
  _Conv1to24(Bw, Expanded, P);
  auto Again = _ConvertTo1bit(Expanded, C1, C2);
  std::printf("\n1-bit to 24-bit and back: %s\n",
              Again && SameImage(*Again, Bw) ? "exact" : "DIFFERENT");
  Thresholded.Assign(Sample);
  _ConvertToBWOrdered(Thresholded, P);
  std::printf("ordered dither to black and white: %d x %d, 1-bit\n", Thresholded.GetWidth(),
              Thresholded.GetHeight());

  // The processing engine on the sample: each operation on a fresh copy, written as PNG.
  struct TOp {
    const char* Name;
    std::function<void(TQuilloProc&)> Run;
  };
  const std::vector<TOp> Ops = {
      {"resample x2 lanczos3", [](TQuilloProc& Q) { Q.Resample(960, 640, rfLanczos3); }},
      {"resample /4 triangle", [](TQuilloProc& Q) { Q.Resample(120, 80, rfTriangle); }},
      {"rotate 30 antialiased", [](TQuilloProc& Q) { Q.Rotate(30, true); }},
      {"flip vertical", [](TQuilloProc& Q) { Q.Flip(fdVertical); }},
      {"blur 3 x 3", [](TQuilloProc& Q) { Q.ApplyFilterPreset(fpBlur); }},
      {"emboss 3 x 3", [](TQuilloProc& Q) { Q.ApplyFilterPreset(fpEmboss); }},
      {"maximum radius 2", [](TQuilloProc& Q) { Q.Maximum(2); }},
      {"opening radius 2", [](TQuilloProc& Q) { Q.Opening(2); }},
      {"hue +120", [](TQuilloProc& Q) { Q.HSLvar(120, 0, 0); }},
      {"contrast +30", [](TQuilloProc& Q) { Q.Contrast(30); }},
      {"auto equalize", [](TQuilloProc& Q) { Q.HistAutoEqualize(); }},
      {"grey", [](TQuilloProc& Q) { Q.ConvertToGray(); }},
      {"lens", [](TQuilloProc& Q) { Q.Lens(240, 160, 200, 160, 2.0); }},
      {"wave", [](TQuilloProc& Q) { Q.Wave(6, 24, 0, false); }},
      {"bump mapping",
       [](TQuilloProc& Q) { Q.BumpMapping(120, 80, 300, 300, 60, CreateRGB(255, 255, 255)); }},
      {"reduce to 16 colours", [](TQuilloProc& Q) { Q.ConvertTo(16); }},
  };
  std::printf("\n%-24s %9s  %s\n", "operation", "ms", "result");
  int OpN = 0;
  for (const TOp& Op : Ops) {
    TBitmap Work;
    Work.Assign(Sample);
    TQuilloProc Q;
    Q.SetAttachedBitmap(&Work);
    Q.SetAutoUndo(false);
    const auto T0 = std::chrono::steady_clock::now();
    Op.Run(Q);
    const double Ms = MsSince(T0);
    const std::filesystem::path File = Folder / ("proc-" + std::to_string(++OpN) + ".png");
    TQuilloIO IO;
    IO.SetAttachedBitmap(&Work);
    IO.SaveToFile(File.string());
    if (IO.Aborting) ++Failures;
    std::printf("%-24s %9.1f  %d x %d%s\n", Op.Name, Ms, Work.GetWidth(), Work.GetHeight(),
                IO.Aborting ? ", WRITE FAILED" : "");
  }

  std::printf("\n%d formats and variants, %d operations, %d failed\n", N, OpN, Failures);
  return Failures ? 1 : 0;
}

}  // namespace quillo::tool
