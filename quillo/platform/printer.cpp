#include "quillo/platform/printer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#if QUILLO_HAVE_CAIRO
#include <cairo-pdf.h>
#include <cairo.h>
#endif

namespace quillo {

namespace {

std::mutex gDevicesLock;
std::vector<std::shared_ptr<TPrinterDevice>>& Registered() {
  static std::vector<std::shared_ptr<TPrinterDevice>> Devices;
  return Devices;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The PDF device

#if QUILLO_HAVE_CAIRO
struct TPdfPrinterDevice::TState {
  cairo_surface_t* Surface = nullptr;
  ~TState() {
    if (Surface) cairo_surface_destroy(Surface);
  }
};
#else
struct TPdfPrinterDevice::TState {};
#endif

TPdfPrinterDevice::TPdfPrinterDevice(std::string OutputFile) : FOutput(std::move(OutputFile)) {}

TPdfPrinterDevice::~TPdfPrinterDevice() {
  std::string Ignored;
  if (FState) End(false, Ignored);
}

bool TPdfPrinterDevice::Begin(const std::string& Title, std::string& Error) {
#if QUILLO_HAVE_CAIRO
  if (FOutput.empty()) {
    Error = "No output file named for the PDF printer";
    return false;
  }
  // Written beside the target under a temporary name, renamed when the document is complete.
  FTemp = FOutput + ".part";
  FState = std::make_unique<TState>();
  FState->Surface = cairo_pdf_surface_create(FTemp.c_str(), 595.0, 842.0);
  if (cairo_surface_status(FState->Surface) != CAIRO_STATUS_SUCCESS) {
    Error = "Cannot write " + FOutput + ": " +
            cairo_status_to_string(cairo_surface_status(FState->Surface));
    FState.reset();
    std::error_code Ec;
    std::filesystem::remove(FTemp, Ec);
    return false;
  }
  cairo_pdf_surface_set_metadata(FState->Surface, CAIRO_PDF_METADATA_TITLE, Title.c_str());
  cairo_pdf_surface_set_metadata(FState->Surface, CAIRO_PDF_METADATA_CREATOR, "Quillo");
  return true;
#else
  (void)Title;
  Error = "PDF printing is not available in this build";
  return false;
#endif
}

bool TPdfPrinterDevice::AddPage(const TBitmap& Page, int32_t DpiX, int32_t DpiY, double WidthPt,
                                double HeightPt, std::string& Error) {
#if QUILLO_HAVE_CAIRO
  if (!FState) {
    Error = "No document";
    return false;
  }
  cairo_pdf_surface_set_size(FState->Surface, WidthPt, HeightPt);
  const int32_t W = Page.GetWidth(), H = Page.GetHeight();
  cairo_surface_t* Img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, W, H);
  if (cairo_surface_status(Img) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(Img);
    Error = "Out of memory for a page";
    return false;
  }
  // The page's pixels, exactly: cairo keeps image data losslessly in the PDF.
  cairo_surface_flush(Img);
  uint8_t* Data = cairo_image_surface_get_data(Img);
  const int Stride = cairo_image_surface_get_stride(Img);
  TBitmap Copy;
  const TBitmap* Src = &Page;
  if (Page.GetPixelFormat() != pf24bit) {
    Copy.Assign(Page);
    Copy.SetPixelFormat(pf24bit);
    Src = &Copy;
  }
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* S = Src->ScanLine(Y);
    auto* D =
        reinterpret_cast<uint32_t*>(Data + static_cast<size_t>(Y) * static_cast<size_t>(Stride));
    for (int32_t X = 0; X < W; ++X, S += 3)
      D[X] =
          0xFF000000u | static_cast<uint32_t>(S[2]) << 16 | static_cast<uint32_t>(S[1]) << 8 | S[0];
  }
  cairo_surface_mark_dirty(Img);
  cairo_t* Cr = cairo_create(FState->Surface);
  cairo_scale(Cr, 72.0 / std::max(DpiX, 1), 72.0 / std::max(DpiY, 1));
  cairo_set_source_surface(Cr, Img, 0, 0);
  // No smoothing: a page rendered back at the printer's resolution gives the same pixels.
  cairo_pattern_set_filter(cairo_get_source(Cr), CAIRO_FILTER_NEAREST);
  cairo_paint(Cr);
  cairo_show_page(Cr);
  const cairo_status_t St = cairo_status(Cr);
  cairo_destroy(Cr);
  cairo_surface_destroy(Img);
  if (St != CAIRO_STATUS_SUCCESS) {
    Error = std::string("Cannot write the page: ") + cairo_status_to_string(St);
    return false;
  }
  return true;
#else
  (void)Page, (void)DpiX, (void)DpiY, (void)WidthPt, (void)HeightPt;
  Error = "PDF printing is not available in this build";
  return false;
#endif
}

bool TPdfPrinterDevice::End(bool Complete, std::string& Error) {
#if QUILLO_HAVE_CAIRO
  if (!FState) return !Complete;
  cairo_surface_finish(FState->Surface);
  const cairo_status_t St = cairo_surface_status(FState->Surface);
  FState.reset();
  std::error_code Ec;
  if (!Complete || St != CAIRO_STATUS_SUCCESS) {
    std::filesystem::remove(FTemp, Ec);
    if (Complete)
      Error = std::string("Cannot write ") + FOutput + ": " + cairo_status_to_string(St);
    return false;
  }
  std::filesystem::rename(FTemp, FOutput, Ec);
  if (Ec) {
    std::filesystem::remove(FTemp, Ec);
    Error = "Cannot write " + FOutput;
    return false;
  }
  return true;
#else
  (void)Complete;
  Error = "PDF printing is not available in this build";
  return false;
#endif
}

// ---------------------------------------------------------------------------------------------
// TPrinter

TPrinter::TPrinter() : FPdf(std::make_shared<TPdfPrinterDevice>()) {
  FPageBitmap.SetPixelFormat(pf24bit);
}

TPrinter::~TPrinter() {
  if (FPrinting) Abort();
}

void TPrinter::RegisterDevice(std::shared_ptr<TPrinterDevice> Device) {
  std::lock_guard<std::mutex> L(gDevicesLock);
  Registered().push_back(std::move(Device));
}

void TPrinter::ClearRegisteredDevices() {
  std::lock_guard<std::mutex> L(gDevicesLock);
  Registered().clear();
}

std::vector<std::string> TPrinter::Printers() const {
  std::vector<std::string> Names{FPdf->Name()};
  std::lock_guard<std::mutex> L(gDevicesLock);
  for (const auto& D : Registered()) Names.push_back(D->Name());
  return Names;
}

void TPrinter::SetPrinterIndex(int32_t I) {
  if (FPrinting) throw EPrinter("Printing in progress");
  const int32_t N = static_cast<int32_t>(Printers().size());
  if (I < 0 || I >= N) throw EPrinter("Printer index out of range");
  FIndex = I;
}

bool TPrinter::SelectPrinter(const std::string& Name) {
  const std::vector<std::string> Names = Printers();
  const auto It = std::find(Names.begin(), Names.end(), Name);
  if (It == Names.end()) return false;
  SetPrinterIndex(static_cast<int32_t>(It - Names.begin()));
  return true;
}

TPrinterDevice& TPrinter::Device() const {
  if (FIndex == 0) return *FPdf;
  std::lock_guard<std::mutex> L(gDevicesLock);
  const auto& R = Registered();
  if (FIndex - 1 >= static_cast<int32_t>(R.size())) return *FPdf;
  return *R[static_cast<size_t>(FIndex - 1)];
}

void TPrinter::SetPaperSize(double WidthPt, double HeightPt) {
  // From a label (1 inch) to a large plotter sheet (200 inches).
  FPaperW = std::clamp(WidthPt, 72.0, 14400.0);
  FPaperH = std::clamp(HeightPt, 72.0, 14400.0);
}

bool TPrinter::SetPaperName(const std::string& Name) {
  struct TPaper {
    const char* Name;
    double W, H;
  };
  static const TPaper Papers[] = {{"A3", 841.8898, 1190.5512},
                                  {"A4", 595.2756, 841.8898},
                                  {"A5", 419.5276, 595.2756},
                                  {"Letter", 612, 792},
                                  {"Legal", 612, 1008}};
  for (const TPaper& P : Papers)
    if (Name == P.Name) {
      SetPaperSize(P.W, P.H);
      return true;
    }
  return false;
}

void TPrinter::SetDpi(int32_t Dpi) {
  if (FPrinting) throw EPrinter("Printing in progress");
  FDpi = std::clamp(Dpi, 36, 1200);
}

int32_t TPrinter::GetPageWidth() const {
  const double W = FOrientation == poPortrait ? FPaperW : FPaperH;
  return static_cast<int32_t>(W / 72.0 * FDpi + 0.5);
}

int32_t TPrinter::GetPageHeight() const {
  const double H = FOrientation == poPortrait ? FPaperH : FPaperW;
  return static_cast<int32_t>(H / 72.0 * FDpi + 0.5);
}

void TPrinter::BeginDoc() {
  if (FPrinting) throw EPrinter("Printing in progress");
  std::string Error;
  if (!Device().Begin(Title, Error)) throw EPrinter(Error);
  FPrinting = true;
  FAborted = false;
  FPage = 0;
  StartPage();
}

void TPrinter::StartPage() {
  ++FPage;
  FCanvas.reset();
  FPageBitmap.SetPixelFormat(pf24bit);
  FPageBitmap.SetSize(GetPageWidth(), GetPageHeight());
  FCanvas = std::make_unique<TCanvas>(&FPageBitmap);
  FCanvas->SetPixelsPerInch(FDpi);
  FCanvas->Brush().SetStyle(bsSolid);
  FCanvas->Brush().SetColor(clWhite);
  FCanvas->FillRect(Rect(0, 0, FPageBitmap.GetWidth(), FPageBitmap.GetHeight()));
}

void TPrinter::FlushPage() {
  std::string Error;
  // The page's physical size is that of its whole pixels, so that a reader rendering it at the
  // printer's resolution gets the same pixel grid.
  if (!Device().AddPage(FPageBitmap, FDpi, FDpi, FPageBitmap.GetWidth() * 72.0 / FDpi,
                        FPageBitmap.GetHeight() * 72.0 / FDpi, Error)) {
    Abort();
    throw EPrinter(Error);
  }
}

void TPrinter::NewPage() {
  if (!FPrinting) throw EPrinter("Printer is not printing");
  FlushPage();
  StartPage();
}

void TPrinter::EndDoc() {
  if (!FPrinting) throw EPrinter("Printer is not printing");
  FlushPage();
  FPrinting = false;
  FCanvas.reset();
  FPageBitmap.SetSize(0, 0);
  std::string Error;
  if (!Device().End(true, Error)) throw EPrinter(Error);
}

void TPrinter::Abort() {
  if (!FPrinting) return;
  FPrinting = false;
  FAborted = true;
  FCanvas.reset();
  FPageBitmap.SetSize(0, 0);
  std::string Ignored;
  Device().End(false, Ignored);
}

TCanvas& TPrinter::Canvas() {
  if (!FCanvas) {
    // Outside a document the canvas still measures at the printer's resolution.
    FPageBitmap.SetPixelFormat(pf24bit);
    FPageBitmap.SetSize(1, 1);
    FCanvas = std::make_unique<TCanvas>(&FPageBitmap);
    FCanvas->SetPixelsPerInch(FDpi);
  }
  return *FCanvas;
}

TPrinter& Printer() {
  static TPrinter P;
  return P;
}

}  // namespace quillo
