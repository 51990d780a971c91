// Showing a control's surface in a hosted Qt widget, from an invalidated full-HD surface to
// pixels, against Qt's own QPainter::drawImage of the same picture into the same target
// (/0: in the surface's own 24-bit format; /1: in Qt's native 32-bit format, for scale). Built
// where the Qt backend is; run with QT_QPA_PLATFORM=offscreen (the program sets it when unset).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "quillo/backends/qt/qthost.h"

using namespace quillo;

namespace {

constexpr int kW = 1920, kH = 1080;

// A control whose paint leaves its surface as it is: what is timed is the showing.
class TStill : public TCustomControl {
 protected:
  void Paint() override {}
};

void BM_HostedWidgetRepaint(benchmark::State& S) {
  TStill C;
  C.SetBounds(0, 0, kW, kH);
  for (int32_t Y = 0; Y < kH; ++Y)
    for (int32_t X = 0; X < 3 * kW; ++X) C.Surface().ScanLine(Y)[X] = static_cast<uint8_t>(X ^ Y);
  TQtControlWidget W(C);
  W.resize(kW, kH);
  W.show();
  QImage Target(kW, kH, QImage::Format_RGB32);
  for (auto _ : S) {
    C.Invalidate();
    W.render(&Target);  // paints the widget (our composition and its drawImage) into Target
    benchmark::DoNotOptimize(Target.bits());
  }
}
BENCHMARK(BM_HostedWidgetRepaint)->Unit(benchmark::kMillisecond);

// Qt drawing the same picture in the surface's pixel format (8-bit blue, green, red), and, for
// scale, in its own native 32-bit format.
void BM_QtDrawImage(benchmark::State& S) {
  QImage Source(kW, kH, S.range(0) ? QImage::Format_RGB32 : QImage::Format_BGR888);
  for (int Y = 0; Y < kH; ++Y)
    for (int X = 0; X < kW; ++X) Source.setPixel(X, Y, qRgb(X ^ Y, X, Y));
  QImage Target(kW, kH, QImage::Format_RGB32);
  for (auto _ : S) {
    QPainter P(&Target);
    P.drawImage(0, 0, Source);
    benchmark::DoNotOptimize(Target.bits());
  }
}
BENCHMARK(BM_QtDrawImage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int Argc, char** Argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication A(Argc, Argv);
  benchmark::Initialize(&Argc, Argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
