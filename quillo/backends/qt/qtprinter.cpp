#include "quillo/backends/qt/qtprinter.h"

#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <memory>

#include "quillo/platform/printer.h"

namespace quillo {

namespace {

// A system printer: each page goes to the printer as one image covering the page.
class TQtPrinterDevice : public TPrinterDevice {
 public:
  explicit TQtPrinterDevice(const QPrinterInfo& Info) : FInfo(Info) {}
  std::string Name() const override { return FInfo.printerName().toStdString(); }
  bool Begin(const std::string& Title, std::string& Error) override {
    FPrinter = std::make_unique<QPrinter>(FInfo, QPrinter::HighResolution);
    FPrinter->setDocName(QString::fromStdString(Title));
    FPrinter->setFullPage(true);
    FPainter = std::make_unique<QPainter>();
    if (!FPainter->begin(FPrinter.get())) {
      Error = "Cannot print to " + Name();
      FPainter.reset();
      FPrinter.reset();
      return false;
    }
    FFirst = true;
    return true;
  }
  bool AddPage(const TBitmap& Page, int32_t, int32_t, double WidthPt, double HeightPt,
               std::string& Error) override {
    if (!FPainter) {
      Error = "No document";
      return false;
    }
    FPrinter->setPageSize(QPageSize(QSizeF(WidthPt, HeightPt), QPageSize::Point));
    if (!FFirst && !FPrinter->newPage()) {
      Error = "Cannot start a page on " + Name();
      return false;
    }
    FFirst = false;
    QImage Img(Page.GetWidth(), Page.GetHeight(), QImage::Format_RGB888);
    for (int Y = 0; Y < Page.GetHeight(); ++Y) {
      const uint8_t* S = Page.ScanLine(Y);
      uint8_t* D = Img.scanLine(Y);
      for (int X = 0; X < Page.GetWidth(); ++X) {
        D[3 * X] = S[3 * X + 2];
        D[3 * X + 1] = S[3 * X + 1];
        D[3 * X + 2] = S[3 * X];
      }
    }
    FPainter->drawImage(FPrinter->pageLayout().fullRectPixels(FPrinter->resolution()), Img);
    return true;
  }
  bool End(bool Complete, std::string& Error) override {
    if (!FPainter) return !Complete;
    if (!Complete) FPrinter->abort();
    FPainter->end();
    FPainter.reset();
    FPrinter.reset();
    if (!Complete) return false;
    (void)Error;
    return true;
  }

 private:
  QPrinterInfo FInfo;
  std::unique_ptr<QPrinter> FPrinter;
  std::unique_ptr<QPainter> FPainter;
  bool FFirst = true;
};

}  // namespace

void QtRegisterSystemPrinters() {
  TPrinter::ClearRegisteredDevices();
  for (const QPrinterInfo& Info : QPrinterInfo::availablePrinters())
    TPrinter::RegisterDevice(std::make_shared<TQtPrinterDevice>(Info));
}

}  // namespace quillo
