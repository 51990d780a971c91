// The image view's repaint: a 1920 x 1080 client from a 24-megapixel image at several zooms,
// plain (nearest pixel) and with the triangle filter, and a scroll by one line. With Qt's GUI
// module at hand, QPainter::drawImage of the same source and target rectangles is timed beside
// it (fast and smooth transformation) and the ratios are printed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/benchimage.h"
#include "quillo/view/quilloview.h"

#ifdef QUILLO_BENCH_QT
#include <QImage>
#include <QPainter>
#endif

using namespace quillo;

namespace {

constexpr double kZooms[] = {12.5, 33, 100, 400};
constexpr int32_t kClientW = 1920, kClientH = 1080;

const TBitmap& Source() {
  static TBitmap B = bench::PhotoImage(6000, 4000);
  return B;
}

// A view of the client size showing the source at Zoom, scrolled to the image's middle.
struct TBenchView {
  TQuilloView View;
  TBenchView(double Zoom, TResampleFilter Filter) {
    View.SetBorderStyle(bsNone);
    View.SetBounds(0, 0, kClientW, kClientH);
    View.Assign(&Source());
    View.SetDelayZoomFilter(false);
    View.SetZoomFilter(Filter);
    View.SetZoom(Zoom);
    int32_t MX, MY;
    View.GetMaxViewXY(MX, MY);
    View.SetViewXY(MX / 2, MY / 2);
    View.Paint();
  }
  void Repaint() {
    View.Update();
    View.Paint();
  }
};

void BM_Repaint(benchmark::State& State) {
  TBenchView V(kZooms[State.range(0)], State.range(1) ? rfTriangle : rfNone);
  for (auto _ : State) {
    V.Repaint();
    benchmark::DoNotOptimize(V.View.Surface().Bits());
  }
  State.SetLabel(std::to_string(kZooms[State.range(0)]) + "%" +
                 (State.range(1) ? " triangle" : ""));
}
BENCHMARK(BM_Repaint)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.3);

void BM_ScrollLine(benchmark::State& State) {
  TBenchView V(kZooms[State.range(0)], rfNone);
  int32_t Dir = 1;
  for (auto _ : State) {
    V.View.VScroll(Dir > 0 ? scLineDown : scLineUp, 0);
    Dir = -Dir;
    benchmark::DoNotOptimize(V.View.Surface().Bits());
  }
}
BENCHMARK(BM_ScrollLine)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(0.3);

// Median of Runs timings of F, in milliseconds.
template <class TFn>
double MedianMs(TFn&& F, int32_t Runs = 15) {
  std::vector<double> T;
  for (int32_t I = 0; I < Runs; ++I) {
    const auto A = std::chrono::steady_clock::now();
    F();
    T.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - A).count());
  }
  std::sort(T.begin(), T.end());
  return T[T.size() / 2];
}

#ifdef QUILLO_BENCH_QT
const QImage& QtSource() {
  static QImage Q = [] {
    const TBitmap& B = Source();
    QImage I(B.GetWidth(), B.GetHeight(), QImage::Format_RGB32);
    for (int32_t Y = 0; Y < B.GetHeight(); ++Y) {
      const uint8_t* S = B.ScanLine(Y);
      auto* D = reinterpret_cast<uint32_t*>(I.scanLine(Y));
      for (int32_t X = 0; X < B.GetWidth(); ++X, S += 3)
        D[X] = 0xFF000000u | (uint32_t(S[2]) << 16) | (uint32_t(S[1]) << 8) | S[0];
    }
    return I;
  }();
  return Q;
}
#endif

void PrintTable() {
  std::printf("\nrepaint of a %d x %d client from 6000 x 4000 (median of 15, ms)\n", kClientW,
              kClientH);
  std::printf(
      "repaint: geometry, composition and copy to the window; compose: the picture alone,\n"
      "which is what QPainter::drawImage is compared with\n");
#ifdef QUILLO_BENCH_QT
  std::printf("%8s %8s %8s %8s %7s %9s %9s %7s %8s\n", "zoom", "repaint", "compose", "qt fast",
              "ratio", "triangle", "qt smooth", "ratio", "scroll");
#else
  std::printf("%8s %8s %8s %9s %8s\n", "zoom", "repaint", "compose", "triangle", "scroll");
#endif
  for (double Z : kZooms) {
    TBenchView Plain(Z, rfNone), Tri(Z, rfTriangle);
    const double P = MedianMs([&] { Plain.Repaint(); });
    TBitmap Picture(kClientW, kClientH, pf24bit);
    TCanvas PictureCanvas(&Picture);
    const double PC = MedianMs([&] { Plain.View.PaintTo(PictureCanvas); });
    const double T = MedianMs([&] { Tri.Repaint(); }, 5);
    int32_t Dir = 1;
    const double S = MedianMs([&] {
      Plain.View.VScroll(Dir > 0 ? scLineDown : scLineUp, 0);
      Dir = -Dir;
    });
#ifdef QUILLO_BENCH_QT
    const TQuilloView& V = Plain.View;
    const QRectF Src(V.GetSrcX(), V.GetSrcY(), V.GetSrcWidth(), V.GetSrcHeight());
    const QRectF Dst(V.GetOffsetX(), V.GetOffsetY(), V.GetDstWidth(), V.GetDstHeight());
    QImage Target(kClientW, kClientH, QImage::Format_RGB32);
    auto Qt = [&](bool Smooth) {
      QPainter Painter(&Target);
      Painter.setRenderHint(QPainter::SmoothPixmapTransform, Smooth);
      Painter.drawImage(Dst, QtSource(), Src);
    };
    const double QF = MedianMs([&] { Qt(false); });
    const double QS = MedianMs([&] { Qt(true); }, 5);
    std::printf("%7.1f%% %8.2f %8.2f %8.2f %7.2f %9.2f %9.2f %7.2f %8.2f\n", Z, P, PC, QF, PC / QF,
                T, QS, T / QS, S);
#else
    std::printf("%7.1f%% %8.2f %8.2f %9.2f %8.2f\n", Z, P, PC, T, S);
#endif
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintTable();
  return 0;
}
