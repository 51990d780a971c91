// The vector layer at scale: 100,000 objects (lines, boxes, ellipses, a few texts) over a
// 4000 x 3000 image in a full-HD view. Times drawing the objects (not the image) at several
// zooms, picking the nearest object under the mouse, and saving and loading the layer file.
// With cairo at hand, cairo drawing the same visible shapes on an image surface is timed
// beside it.
#include <benchmark/benchmark.h>

#include <random>

#include "quillo/vect/vect.h"

#ifdef QUILLO_BENCH_CAIRO
#include <cairo.h>
#endif

using namespace quillo;

namespace {

constexpr int32_t kObjects = 100000, kW = 4000, kH = 3000;
constexpr double kZooms[] = {25, 100, 400};

TQuilloVect& Layer() {
  static TQuilloVect* V = [] {
    static TQuilloVect L;
    L.SetBorderStyle(bsNone);
    L.SetBounds(0, 0, 1920, 1080);
    TBitmap B(kW, kH, pf24bit);
    L.Assign(&B);
    std::mt19937 R(7);
    for (int32_t I = 0; I < kObjects; ++I) {
      const int32_t X = static_cast<int32_t>(R() % kW), Y = static_cast<int32_t>(R() % kH);
      const int32_t W = 5 + static_cast<int32_t>(R() % 60), H = 5 + static_cast<int32_t>(R() % 60);
      const int32_t h = L.AddNewObject();
      const TQLVObjectKind K = I % 50 == 0 ? qlkTEXT : static_cast<TQLVObjectKind>(1 + I % 3);
      L.SetObjKind(h, K);
      L.SetObjRect(h, TRect{X, Y, X + W, Y + H});
      L.SetObjPenColor(h, static_cast<TColor>(R() & 0xFFFFFF));
      if (K == qlkTEXT) L.SetObjText(h, "label");
    }
    return &L;
  }();
  return *V;
}

void Place(TQuilloVect& V, double Zoom) {
  V.SetZoom(Zoom);
  int32_t MX, MY;
  V.GetMaxViewXY(MX, MY);
  V.SetViewXY(MX / 2, MY / 2);
  V.Paint();
}

void BM_DrawObjects(benchmark::State& State) {
  TQuilloVect& V = Layer();
  Place(V, kZooms[State.range(0)]);
  TCanvas C(&V.Surface());
  for (auto _ : State) V.DrawObjects(C, true);
  State.SetLabel(std::to_string(static_cast<int>(kZooms[State.range(0)])) + "%");
}
BENCHMARK(BM_DrawObjects)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_PickNearest(benchmark::State& State) {
  TQuilloVect& V = Layer();
  Place(V, 100);
  int32_t I = 0;
  for (auto _ : State) {
    const int32_t X = V.XScr2Bmp(100 + (I * 37) % 1700), Y = V.YScr2Bmp(100 + (I * 53) % 900);
    benchmark::DoNotOptimize(V.FindNearestObject(X, Y));
    ++I;
  }
}
BENCHMARK(BM_PickNearest)->Unit(benchmark::kMicrosecond);

void BM_SaveLoad(benchmark::State& State) {
  TQuilloVect& V = Layer();
  for (auto _ : State) {
    TMemoryStream S;
    V.SaveToStreamQLV(S);
    S.Seek(0, soFromBeginning);
    TQuilloVect W;
    if (!W.LoadFromStreamQLV(S)) State.SkipWithError("the layer did not load");
    State.counters["bytes"] = static_cast<double>(S.GetSize());
  }
}
BENCHMARK(BM_SaveLoad)->Unit(benchmark::kMillisecond);

#ifdef QUILLO_BENCH_CAIRO
// cairo drawing the objects the layer draws at that zoom, with the same mapping and pens.
void BM_CairoSameShapes(benchmark::State& State) {
  TQuilloVect& V = Layer();
  Place(V, kZooms[State.range(0)]);
  const double Z = V.GetZoom() / 100;
  cairo_surface_t* S = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 1920, 1080);
  cairo_t* Cr = cairo_create(S);
  cairo_set_line_width(Cr, std::max(1.0, Z));
  for (auto _ : State) {
    for (int32_t h : V.ZOrder()) {
      const TQLVObject& O = V.GetObject(h);
      const double X1 = V.XBmp2Scr(O.X1), Y1 = V.YBmp2Scr(O.Y1), X2 = V.XBmp2Scr(O.X2),
                   Y2 = V.YBmp2Scr(O.Y2);
      if (X2 < 0 || Y2 < 0 || X1 > 1920 || Y1 > 1080) continue;
      cairo_set_source_rgb(Cr, (O.PenColor & 255) / 255.0, ((O.PenColor >> 8) & 255) / 255.0,
                           ((O.PenColor >> 16) & 255) / 255.0);
      if (O.Kind == qlkLINE) {
        cairo_move_to(Cr, X1, Y1);
        cairo_line_to(Cr, X2, Y2);
      } else if (O.Kind == qlkELLIPSE) {
        cairo_save(Cr);
        cairo_translate(Cr, (X1 + X2) / 2, (Y1 + Y2) / 2);
        cairo_scale(Cr, (X2 - X1) / 2 + 0.5, (Y2 - Y1) / 2 + 0.5);
        cairo_arc(Cr, 0, 0, 1, 0, 6.283185307179586);
        cairo_restore(Cr);
      } else {
        cairo_rectangle(Cr, X1, Y1, X2 - X1 + 1, Y2 - Y1 + 1);
      }
      cairo_stroke(Cr);
    }
    cairo_surface_flush(S);
  }
  cairo_destroy(Cr);
  cairo_surface_destroy(S);
  State.SetLabel(std::to_string(static_cast<int>(kZooms[State.range(0)])) + "%");
}
BENCHMARK(BM_CairoSameShapes)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
