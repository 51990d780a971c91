// Canvas throughput on a 4000 x 3000 24-bit bitmap: polygon fills, lines, ellipses, text, and
// playing a large metafile. The workloads are deterministic; with --mvg KIND FILE the program
// writes the same drawing as ImageMagick draw commands, with --wmf FILE the metafile workload as
// a placeable WMF, so that peers-canvas.sh can time the peers on identical input.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quillo/platform/canvas.h"
#include "quillo/platform/metafile.h"

using namespace quillo;

namespace {

constexpr int32_t kW = 4000, kH = 3000;
// Passes over the polygon set in the metafile workloads.
constexpr int32_t kRounds = 4;

struct TPoly {
  std::vector<TPoint> Pts;
  TColor Color;
};

std::vector<TPoly> Polygons() {
  std::mt19937 Rng(7);
  std::vector<TPoly> Out;
  for (int32_t I = 0; I < 500; ++I) {
    TPoly P;
    int32_t CX = int32_t(Rng() % kW), CY = int32_t(Rng() % kH), R = 50 + int32_t(Rng() % 450);
    for (int32_t K = 0; K < 8; ++K)
      P.Pts.push_back(Point(CX + int32_t(Rng() % (2 * R)) - R, CY + int32_t(Rng() % (2 * R)) - R));
    P.Color = TColor(Rng() & 0xFFFFFF);
    Out.push_back(std::move(P));
  }
  return Out;
}

struct TLine {
  TPoint A, B;
};

std::vector<TLine> Lines() {
  std::mt19937 Rng(11);
  std::vector<TLine> Out;
  for (int32_t I = 0; I < 2000; ++I)
    Out.push_back(TLine{Point(int32_t(Rng() % kW), int32_t(Rng() % kH)),
                        Point(int32_t(Rng() % kW), int32_t(Rng() % kH))});
  return Out;
}

const char* kSentence = "The quick brown fox jumps over the lazy dog 0123456789";

std::vector<TPoint> TextPositions() {
  std::mt19937 Rng(13);
  std::vector<TPoint> Out;
  for (int32_t I = 0; I < 3000; ++I)
    Out.push_back(Point(int32_t(Rng() % (kW - 400)), int32_t(Rng() % (kH - 20))));
  return Out;
}

TBitmap White() {
  TBitmap B(kW, kH, pf24bit);
  B.Canvas().FillRect(Rect(0, 0, kW, kH));
  return B;
}

void BM_PolygonFill(benchmark::State& State) {
  auto Polys = Polygons();
  TBitmap B = White();
  TCanvas& C = B.Canvas();
  C.Pen().SetStyle(psClear);
  C.SetPolyFillMode(State.range(0) ? pfmWinding : pfmAlternate);
  for (auto _ : State) {
    for (const TPoly& P : Polys) {
      C.Brush().SetColor(P.Color);
      C.Polygon(P.Pts.data(), int32_t(P.Pts.size()));
    }
  }
  State.SetItemsProcessed(int64_t(State.iterations()) * int64_t(Polys.size()));
}
BENCHMARK(BM_PolygonFill)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Lines(benchmark::State& State) {
  auto Ls = Lines();
  TBitmap B = White();
  TCanvas& C = B.Canvas();
  C.Pen().SetWidth(int32_t(State.range(0)));
  for (auto _ : State)
    for (const TLine& L : Ls) {
      C.MoveTo(L.A.X, L.A.Y);
      C.LineTo(L.B.X, L.B.Y);
    }
  State.SetItemsProcessed(int64_t(State.iterations()) * int64_t(Ls.size()));
}
BENCHMARK(BM_Lines)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_Ellipses(benchmark::State& State) {
  std::mt19937 Rng(17);
  std::vector<TRect> Rs;
  for (int32_t I = 0; I < 500; ++I) {
    int32_t X = int32_t(Rng() % kW), Y = int32_t(Rng() % kH);
    Rs.push_back(Bounds(X, Y, 20 + int32_t(Rng() % 600), 20 + int32_t(Rng() % 600)));
  }
  TBitmap B = White();
  TCanvas& C = B.Canvas();
  C.Brush().SetColor(clYellow);
  for (auto _ : State)
    for (const TRect& R : Rs) C.Ellipse(R);
  State.SetItemsProcessed(int64_t(State.iterations()) * int64_t(Rs.size()));
}
BENCHMARK(BM_Ellipses)->Unit(benchmark::kMillisecond);

void BM_Text(benchmark::State& State) {
  auto Pos = TextPositions();
  TBitmap B = White();
  TCanvas& C = B.Canvas();
  C.Brush().SetStyle(bsClear);
  C.Font().SetName("DejaVu Sans");
  C.Font().SetHeight(-16);
  C.Font().SetColor(clBlack);
  C.Font().SetQuality(State.range(0) ? fqAntialiased : fqNonAntialiased);
  for (auto _ : State)
    for (const TPoint& P : Pos) C.TextOut(P.X, P.Y, kSentence);
  State.SetItemsProcessed(int64_t(State.iterations()) * int64_t(Pos.size()));
}
BENCHMARK(BM_Text)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A placeable WMF of the polygon workload plus rectangles and ellipses, one inch = 96 units, so
// that it plays at 4000 x 3000 pixels.
std::vector<uint8_t> BigWmf() {
  std::vector<uint8_t> B;
  auto W16 = [&B](int32_t V) {
    B.push_back(uint8_t(V));
    B.push_back(uint8_t(V >> 8));
  };
  uint32_t MaxRecord = 0;
  auto Rec = [&](uint16_t Fn, const std::vector<int32_t>& Words) {
    uint32_t Size = uint32_t(3 + Words.size());
    MaxRecord = std::max(MaxRecord, Size);
    W16(int32_t(Size & 0xFFFF));
    W16(int32_t(Size >> 16));
    W16(Fn);
    for (int32_t V : Words) W16(V);
  };
  W16(0xCDD7);
  W16(0x9AC6);
  for (int32_t V : {0, 0, 0, kW, kH, 96, 0, 0}) W16(V);
  // Checksum: the exclusive-or of the ten words before it.
  uint16_t Sum = 0;
  for (size_t I = 0; I < B.size(); I += 2) Sum ^= uint16_t(B[I] | (B[I + 1] << 8));
  W16(Sum);
  const size_t HeaderAt = B.size();
  for (int32_t V : {1, 9, 0x300, 0, 0, 2, 0, 0, 0}) W16(V);
  Rec(0x0103, {8});
  Rec(0x020B, {0, 0});
  Rec(0x020C, {kH, kW});
  Rec(0x02FA, {0, 1, 0, 0, 0});  // black cosmetic pen, object 0
  Rec(0x012D, {0});
  std::mt19937 Rng(19);
  auto Polys = Polygons();
  for (int32_t Round = 0; Round < kRounds; ++Round) {
    for (const TPoly& P : Polys) {
      Rec(0x02FC, {0, P.Color & 0xFFFF, (P.Color >> 16) & 0xFF, 0});  // brush, object 1
      Rec(0x012D, {1});
      std::vector<int32_t> Ws{int32_t(P.Pts.size())};
      for (const TPoint& Q : P.Pts) {
        Ws.push_back(Q.X);
        Ws.push_back(Q.Y);
      }
      Rec(0x0324, Ws);
      int32_t X = int32_t(Rng() % kW), Y = int32_t(Rng() % kH);
      Rec(Round % 2 ? 0x0418 : 0x041B,
          {Y + 20 + int32_t(Rng() % 200), X + 20 + int32_t(Rng() % 300), Y, X});
      Rec(0x01F0, {1});
    }
  }
  Rec(0x0000, {});
  // The standard header's file size (in words) and largest record.
  uint32_t Words = uint32_t((B.size() - 22) / 2);
  auto Put32 = [&B](size_t At, uint32_t V) {
    for (int32_t I = 0; I < 4; ++I) B[At + size_t(I)] = uint8_t(V >> (8 * I));
  };
  Put32(HeaderAt + 6, Words);
  Put32(HeaderAt + 12, MaxRecord);
  return B;
}

// The same drawing as an enhanced metafile with text records.
std::vector<uint8_t> BigEmf() {
  std::vector<uint8_t> Body;
  auto W32 = [&Body](uint32_t V) {
    for (int32_t I = 0; I < 4; ++I) Body.push_back(uint8_t(V >> (8 * I)));
  };
  auto Rec = [&](uint32_t Type, const std::vector<uint32_t>& Words) {
    W32(Type);
    W32(uint32_t(8 + 4 * Words.size()));
    for (uint32_t V : Words) W32(V);
  };
  auto Polys = Polygons();
  auto Pos = TextPositions();
  std::mt19937 Rng(23);
  Rec(82, {3, uint32_t(-16), 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  Rec(37, {3});
  Rec(18, {1});  // transparent text background
  for (int32_t Round = 0; Round < kRounds; ++Round) {
    for (size_t I = 0; I < Polys.size(); ++I) {
      const TPoly& P = Polys[I];
      Rec(39, {1, 0, uint32_t(P.Color), 0});
      Rec(37, {1});
      std::vector<uint32_t> Ws{0, 0, 0, 0, uint32_t(P.Pts.size())};
      for (const TPoint& Q : P.Pts) Ws.push_back(uint32_t(Q.X | (Q.Y << 16)));
      Rec(86, Ws);
      int32_t X = int32_t(Rng() % kW), Y = int32_t(Rng() % kH);
      Rec(Round % 2 ? 42 : 43, {uint32_t(X), uint32_t(Y), uint32_t(X + 20 + int32_t(Rng() % 300)),
                                uint32_t(Y + 20 + int32_t(Rng() % 200))});
      Rec(40, {1});
      if (I % 4 == 0) {
        const TPoint& T = Pos[(I + size_t(Round) * 7) % Pos.size()];
        std::string S = kSentence;
        std::vector<uint32_t> Tw{
            0,  0, 0, 0, 1, 0, 0, uint32_t(T.X), uint32_t(T.Y), uint32_t(S.size()),
            76, 0, 0, 0, 0, 0, 0};
        for (size_t K = 0; K < S.size(); K += 2)
          Tw.push_back(uint32_t(uint8_t(S[K])) |
                       (K + 1 < S.size() ? uint32_t(uint8_t(S[K + 1])) << 16 : 0));
        Rec(84, Tw);
      }
    }
  }
  Rec(14, {0, 0, 20});
  std::vector<uint8_t> Out;
  Body.swap(Out);
  int32_t FW = int32_t(kW * 2540 / 96), FH = int32_t(kH * 2540 / 96);
  Rec(1, {0,
          0,
          uint32_t(kW - 1),
          uint32_t(kH - 1),
          0,
          0,
          uint32_t(FW),
          uint32_t(FH),
          0x464D4520u,
          0x10000,
          0,
          0,
          8,
          0,
          0,
          0,
          960,
          960,
          254,
          254});
  Body.insert(Body.end(), Out.begin(), Out.end());
  return Body;
}

void BM_PlayMetafile(benchmark::State& State) {
  auto Bytes = State.range(0) ? BigEmf() : BigWmf();
  TMetafile M;
  M.LoadFromBytes(Bytes.data(), Bytes.size());
  TBitmap B = White();
  for (auto _ : State) M.Play(B.Canvas(), Rect(0, 0, kW, kH));
  State.counters["bytes"] = double(Bytes.size());
}
BENCHMARK(BM_PlayMetafile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// ImageMagick draw commands for a workload, aliased like the canvas.
void WriteMvg(const std::string& Kind, FILE* F) {
  std::fprintf(F, "viewbox 0 0 %d %d\n", kW, kH);
  if (Kind == "polygons" || Kind == "polygons-winding") {
    std::fprintf(F, "stroke none\nfill-rule %s\n", Kind == "polygons" ? "evenodd" : "nonzero");
    for (const TPoly& P : Polygons()) {
      std::fprintf(F, "fill #%02X%02X%02X polygon", GetRValue(P.Color), GetGValue(P.Color),
                   GetBValue(P.Color));
      for (const TPoint& Q : P.Pts) std::fprintf(F, " %d,%d", Q.X, Q.Y);
      std::fprintf(F, "\n");
    }
  } else if (Kind == "lines") {
    std::fprintf(F, "stroke black stroke-width 1 fill none\n");
    for (const TLine& L : Lines())
      std::fprintf(F, "line %d,%d %d,%d\n", L.A.X, L.A.Y, L.B.X, L.B.Y);
  } else if (Kind == "text") {
    std::fprintf(F, "font DejaVu-Sans font-size 16 fill black stroke none\n");
    for (const TPoint& P : TextPositions())
      std::fprintf(F, "text %d,%d '%s'\n", P.X, P.Y + 15, kSentence);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--mvg") == 0) {
    FILE* F = std::fopen(argv[3], "w");
    if (!F) return 1;
    WriteMvg(argv[2], F);
    std::fclose(F);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--wmf") == 0) {
    auto Bytes = BigWmf();
    FILE* F = std::fopen(argv[2], "wb");
    if (!F) return 1;
    std::fwrite(Bytes.data(), 1, Bytes.size(), F);
    std::fclose(F);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
