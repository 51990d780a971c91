// Printers: pages of a document drawn through a canvas at the printer's resolution.
//
// The built-in printer writes PDF files: each page is drawn on a page bitmap at the printer's
// resolution and embedded in the PDF losslessly at the page's physical size, so that a page
// rendered back at the same resolution gives the same pixels. Window backends add the
// system's printers through TPrinterDevice. The file appears only when the document ends
// complete; a failed or aborted document leaves nothing behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quillo/platform/bitmap.h"
#include "quillo/platform/canvas.h"
#include "quillo/platform/classes.h"

namespace quillo {

enum TPrinterOrientation : uint8_t { poPortrait, poLandscape };

// A printer as the platform knows it: a name, its pages, and how to send them.
class TPrinterDevice {
 public:
  virtual ~TPrinterDevice() = default;
  virtual std::string Name() const = 0;
  // Starts a document; false (with a reason) when it cannot be written.
  virtual bool Begin(const std::string& Title, std::string& Error) = 0;
  // Adds a finished page: the bitmap at DpiX x DpiY, meant to fill a page of WidthPt x
  // HeightPt points (1/72 inch).
  virtual bool AddPage(const TBitmap& Page, int32_t DpiX, int32_t DpiY, double WidthPt,
                       double HeightPt, std::string& Error) = 0;
  // Ends the document; Complete false throws away what was sent.
  virtual bool End(bool Complete, std::string& Error) = 0;
};

// The built-in PDF printer: writes the document to OutputFile.
class TPdfPrinterDevice : public TPrinterDevice {
 public:
  explicit TPdfPrinterDevice(std::string OutputFile = "");
  ~TPdfPrinterDevice() override;
  std::string Name() const override { return "PDF"; }
  void SetOutputFile(const std::string& F) { FOutput = F; }
  const std::string& GetOutputFile() const { return FOutput; }
  bool Begin(const std::string& Title, std::string& Error) override;
  bool AddPage(const TBitmap& Page, int32_t DpiX, int32_t DpiY, double WidthPt, double HeightPt,
               std::string& Error) override;
  bool End(bool Complete, std::string& Error) override;

 private:
  struct TState;
  std::string FOutput;
  std::string FTemp;
  std::unique_ptr<TState> FState;
};

// A printer: the chosen device, the paper, the orientation and the resolution, and a canvas
// for the current page. Errors while printing raise EPrinter with the reason.
class TPrinter : public TObject {
 public:
  TPrinter();
  ~TPrinter() override;

  // The printers there are: the built-in PDF printer first, then those a backend registered.
  std::vector<std::string> Printers() const;
  int32_t GetPrinterIndex() const { return FIndex; }
  void SetPrinterIndex(int32_t I);
  // Selects a printer by name; false when there is none of that name.
  bool SelectPrinter(const std::string& Name);
  // The file the PDF printer writes.
  void SetOutputFile(const std::string& F) { FPdf->SetOutputFile(F); }

  // Paper size in points (1/72 inch), as for portrait; A4 by default.
  void SetPaperSize(double WidthPt, double HeightPt);
  // Named papers: "A4", "A3", "A5", "Letter", "Legal"; false for an unknown name.
  bool SetPaperName(const std::string& Name);
  TPrinterOrientation GetOrientation() const { return FOrientation; }
  void SetOrientation(TPrinterOrientation O) { FOrientation = O; }
  // Resolution in dots per inch (at most 1200).
  int32_t GetDpi() const { return FDpi; }
  void SetDpi(int32_t Dpi);
  // The page in device pixels, for the current orientation.
  int32_t GetPageWidth() const;
  int32_t GetPageHeight() const;
  std::string Title = "Quillo";

  void BeginDoc();
  void NewPage();
  void EndDoc();
  // Ends the document without writing it.
  void Abort();
  bool GetPrinting() const { return FPrinting; }
  bool GetAborted() const { return FAborted; }
  int32_t GetPageNumber() const { return FPage; }
  // The current page's canvas, white at the start of each page; its pixels per inch are the
  // printer's resolution.
  TCanvas& Canvas();

  // Window backends register the system's printers here.
  static void RegisterDevice(std::shared_ptr<TPrinterDevice> Device);
  static void ClearRegisteredDevices();

 private:
  TPrinterDevice& Device() const;
  void StartPage();
  void FlushPage();
  std::shared_ptr<TPdfPrinterDevice> FPdf;
  int32_t FIndex = 0;
  double FPaperW = 595.2756, FPaperH = 841.8898;
  TPrinterOrientation FOrientation = poPortrait;
  int32_t FDpi = 300;
  bool FPrinting = false, FAborted = false;
  int32_t FPage = 0;
  TBitmap FPageBitmap;
  std::unique_ptr<TCanvas> FCanvas;
};

class EPrinter : public Exception {
 public:
  using Exception::Exception;
};

// The process's printer.
TPrinter& Printer();

}  // namespace quillo
