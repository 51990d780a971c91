// Test images for the benchmarks and a minimal binary PPM reader and writer, so that our code
// and the peer tools work on the same pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "quillo/platform/bitmap.h"

namespace quillo::bench {

inline uint32_t Hash(uint32_t X, uint32_t Y, uint32_t Seed) {
  uint32_t H = X * 0x8DA6B343u ^ Y * 0xD8163841u ^ Seed * 0xCB1AB31Fu;
  H ^= H >> 15;
  H *= 0x2C1B3C6Du;
  H ^= H >> 12;
  return H;
}

// Triangle wave of period P (> 0) between 0 and 255.
inline int32_t Wave(int64_t T, int64_t P) {
  int64_t M = ((T % P) + P) % P;
  return static_cast<int32_t>((M < P / 2 ? M : P - M) * 510 / P);
}

// A photograph-like W x H image, in integer arithmetic only so that every machine makes the
// same pixels: a sky gradient over rolling hills, soft-edged discs of many colours, a
// checkered patch, and per-pixel noise.
inline TBitmap PhotoImage(int32_t W, int32_t H, uint32_t Seed = 1) {
  TBitmap B(W, H, pf24bit);
  struct Disc {
    int32_t X, Y, Rad, R, G, B;
  };
  Disc Discs[24];
  for (int32_t I = 0; I < 24; ++I) {
    uint32_t K = Hash(I, 7, Seed);
    Discs[I] = {static_cast<int32_t>(K % W),
                static_cast<int32_t>((K >> 8) % H),
                static_cast<int32_t>(W / 40 + (K >> 16) % (W / 8 + 1)),
                static_cast<int32_t>(Hash(I, 1, Seed) & 255),
                static_cast<int32_t>(Hash(I, 2, Seed) & 255),
                static_cast<int32_t>(Hash(I, 3, Seed) & 255)};
  }
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      int64_t Horizon =
          H / 2 + (Wave(X, W / 3 + 1) - 128) * H / 1600 + (Wave(X, W / 11 + 1) - 128) * H / 4000;
      int32_t R, G, Bl;
      if (Y < Horizon) {  // sky: deep blue at the top to pale near the horizon
        int32_t T = static_cast<int32_t>(Y * 255 / (Horizon + 1));
        R = 40 + T * 150 / 255, G = 90 + T * 130 / 255, Bl = 200 + T * 40 / 255;
      } else {  // hills: greens and browns with long bands of shade
        int32_t T = static_cast<int32_t>((Y - Horizon) * 255 / (H - Horizon + 1));
        int32_t Band = Wave(X + Y * 2, W / 5 + 1);
        R = 60 + T / 3 + Band / 4, G = 110 + Band / 3 - T / 4, Bl = 30 + T / 5;
      }
      for (const Disc& D : Discs) {
        int64_t Dx = X - D.X, Dy = Y - D.Y, D2 = Dx * Dx + Dy * Dy, R2 = int64_t{D.Rad} * D.Rad;
        if (D2 < R2) {
          // Shaded towards the rim, mixed with what lies behind near the edge.
          int32_t A = static_cast<int32_t>(256 - D2 * 256 / R2);
          int32_t Shade = 160 + A * 96 / 256;
          R = (R * (256 - A) + D.R * Shade / 256 * A) / 256;
          G = (G * (256 - A) + D.G * Shade / 256 * A) / 256;
          Bl = (Bl * (256 - A) + D.B * Shade / 256 * A) / 256;
        }
      }
      if (X > W * 3 / 4 && Y > H * 3 / 4 && ((X / 16 + Y / 16) & 1)) R = 230, G = 225, Bl = 210;
      uint32_t N = Hash(X, Y, Seed);
      auto Clamp = [](int32_t V) { return static_cast<uint8_t>(V < 0 ? 0 : V > 255 ? 255 : V); };
      Row[3 * X] = Clamp(Bl + static_cast<int32_t>(N % 11) - 5);
      Row[3 * X + 1] = Clamp(G + static_cast<int32_t>((N >> 8) % 11) - 5);
      Row[3 * X + 2] = Clamp(R + static_cast<int32_t>((N >> 16) % 11) - 5);
    }
  }
  return B;
}

// The 6000 x 4000 photograph the benchmarks share, made once per process (before any timing
// that asks for it first).
inline const TBitmap& Photo24MP() {
  static const TBitmap B = PhotoImage(6000, 4000);
  return B;
}

// A text-like black-and-white page (1-bit, 1 = white): margins, lines of words made of
// glyph-sized strokes and bowls, a ruled table and a few specks, like a scanned letter.
inline TBitmap TextPage(int32_t W, int32_t H, uint32_t Seed = 1) {
  TBitmap B(W, H, pf1bit);
  const int32_t Margin = W / 12, LineH = 50, GlyphW = 24;
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* Row = B.ScanLine(Y);
    std::memset(Row, 0xFF, static_cast<size_t>((W + 7) / 8));
    const int32_t Line = Y / LineH, InLine = Y % LineH;
    const bool TableRule = Y > H * 2 / 3 && Y < H * 5 / 6 && (Y - H * 2 / 3) % 80 < 3;
    for (int32_t X = 0; X < W; ++X) {
      bool Ink = false;
      if (X >= Margin && X < W - Margin) {
        const int32_t Glyph = (X - Margin) / GlyphW, InGlyph = (X - Margin) % GlyphW;
        const uint32_t G = Hash(static_cast<uint32_t>(Glyph), static_cast<uint32_t>(Line), Seed);
        const bool Space =
            G % 6 == 0 || Line % 9 == 8 || (Hash(Line, 0, Seed) % 4 == 0 && Glyph > 40);
        if (!Space && InLine >= 12 && InLine < 42) {
          const int32_t Cx = InGlyph - 11, Cy = InLine - 30;
          const bool Stem = (G & 1) && InGlyph >= 3 && InGlyph < 7 && (InLine >= 12 || (G & 2));
          const bool Bowl =
              (G & 4) && InLine >= 22 && Cx * Cx + Cy * Cy < 81 && Cx * Cx + Cy * Cy >= 36;
          const bool Bar = (G & 8) && InLine >= 28 && InLine < 31 && InGlyph > 2 && InGlyph < 20;
          Ink = Stem || Bowl || Bar;
        }
        if (TableRule || ((Y > H * 2 / 3 && Y < H * 5 / 6) && (X - Margin) % 400 < 3)) Ink = true;
      }
      if (Hash(static_cast<uint32_t>(X), static_cast<uint32_t>(Y), Seed + 9) % 20000 == 0)
        Ink = true;
      if (Ink) Row[X >> 3] &= static_cast<uint8_t>(~(0x80 >> (X & 7)));
    }
  }
  return B;
}

// Writes a 1-bit bitmap as a binary PBM (1 = black there).
inline bool WritePBM(const std::string& Path, const TBitmap& B) {
  std::unique_ptr<FILE, int (*)(FILE*)> F(std::fopen(Path.c_str(), "wb"), &std::fclose);
  if (!F) return false;
  std::fprintf(F.get(), "P4\n%d %d\n", B.GetWidth(), B.GetHeight());
  std::string Row(static_cast<size_t>((B.GetWidth() + 7) / 8), '\0');
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    const uint8_t* P = B.ScanLine(Y);
    for (size_t I = 0; I < Row.size(); ++I) Row[I] = static_cast<char>(~P[I]);
    if (std::fwrite(Row.data(), 1, Row.size(), F.get()) != Row.size()) return false;
  }
  return true;
}

inline bool WritePPM(const std::string& Path, const TBitmap& B) {
  std::unique_ptr<FILE, int (*)(FILE*)> F(std::fopen(Path.c_str(), "wb"), &std::fclose);
  if (!F) return false;
  std::fprintf(F.get(), "P6\n%d %d\n255\n", B.GetWidth(), B.GetHeight());
  std::string Row(static_cast<size_t>(B.GetWidth()) * 3, '\0');
  for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
    const uint8_t* P = B.ScanLine(Y);
    for (int32_t X = 0; X < B.GetWidth(); ++X) {
      Row[3 * X] = static_cast<char>(P[3 * X + 2]);
      Row[3 * X + 1] = static_cast<char>(P[3 * X + 1]);
      Row[3 * X + 2] = static_cast<char>(P[3 * X]);
    }
    if (std::fwrite(Row.data(), 1, Row.size(), F.get()) != Row.size()) return false;
  }
  return true;
}

// Reads a binary PPM with maxval 255 (comments allowed in the header).
inline bool ReadPPM(const std::string& Path, TBitmap& B) {
  std::unique_ptr<FILE, int (*)(FILE*)> F(std::fopen(Path.c_str(), "rb"), &std::fclose);
  if (!F) return false;
  auto Number = [&](int32_t& V) {
    int C = std::fgetc(F.get());
    while (C == '#' || C == ' ' || C == '\n' || C == '\r' || C == '\t') {
      if (C == '#')
        while (C != '\n' && C != EOF) C = std::fgetc(F.get());
      C = std::fgetc(F.get());
    }
    if (C < '0' || C > '9') return false;
    int64_t N = 0;
    while (C >= '0' && C <= '9' && N < (1 << 24)) N = N * 10 + (C - '0'), C = std::fgetc(F.get());
    V = static_cast<int32_t>(N);
    return true;
  };
  int32_t W, H, Max;
  if (std::fgetc(F.get()) != 'P' || std::fgetc(F.get()) != '6') return false;
  if (!Number(W) || !Number(H) || !Number(Max) || Max != 255 || !QLImageSizeOK(W, H)) return false;
  B = TBitmap(W, H, pf24bit);
  std::string Row(static_cast<size_t>(W) * 3, '\0');
  for (int32_t Y = 0; Y < H; ++Y) {
    if (std::fread(Row.data(), 1, Row.size(), F.get()) != Row.size()) return false;
    uint8_t* P = B.ScanLine(Y);
    for (int32_t X = 0; X < W; ++X) {
      P[3 * X] = static_cast<uint8_t>(Row[3 * X + 2]);
      P[3 * X + 1] = static_cast<uint8_t>(Row[3 * X + 1]);
      P[3 * X + 2] = static_cast<uint8_t>(Row[3 * X]);
    }
  }
  return true;
}

}  // namespace quillo::bench
