// Printing: the image laid out on a page and drawn onto a printer's (or any) canvas.
#include <algorithm>
#include <array>
#include <cmath>

#include "quillo/core/pixels.h"
#include "quillo/core/virtualbitmap.h"
#include "quillo/io/quilloio.h"
#include "quillo/platform/screen.h"

namespace quillo {

namespace {

// Gamma table: round((i / 255)^(1 / Gamma) * 255), limited to 0..255.
std::array<uint8_t, 256> GammaTable(double Gamma) {
  std::array<uint8_t, 256> T{};
  for (int I = 0; I < 256; ++I) {
    const double V = std::pow(I / 255.0, 1.0 / Gamma) * 255.0;
    T[static_cast<size_t>(I)] = static_cast<uint8_t>(std::clamp(QLRound32(V), 0, 255));
  }
  return T;
}

}  // namespace

void TQuilloIO::PrintImagePosEx(TCanvas& Canvas, int32_t DpiX, int32_t DpiY, double X, double Y,
                                double Width, double Height, double Gamma) {
  if (!FBitmap || FBitmap->Empty()) return;
  TBitmap* Page = Canvas.GetBitmap();
  if (!Page || Page->Empty()) return;
  const TBitmap& Src = *FBitmap;
  const bool OneBit = Src.GetPixelFormat() == pf1bit;
  if (!OneBit && Src.GetPixelFormat() != pf24bit) return;
  const int32_t L = QLTrunc(DpiX * X), T = QLTrunc(DpiY * Y);
  const int32_t W = QLTrunc(DpiX * Width), H = QLTrunc(DpiY * Height);
  if (W <= 0 || H <= 0) return;
  // The image is a bottom-up DIB as it stands: drawn straight from its rows, only where the
  // rectangle meets the page, so nothing of the printed size is allocated.
  const TQLDIBHeader Header{Src.GetWidth(), Src.GetHeight(), OneBit ? 1 : 24};
  DrawDibDrawEmu(0, Canvas, L, T, W, H, Header, Src.ScanLine(Src.GetHeight() - 1), 0, 0,
                 Src.GetWidth(), Src.GetHeight());
  if (OneBit || !(Gamma > 0) || Gamma == 1.0) return;
  // Gamma works pixel by pixel, so it applies as well to the drawn copy as to the source.
  const std::array<uint8_t, 256> G = GammaTable(Gamma);
  const int32_t X0 = std::max(L, 0),
                X1 = static_cast<int32_t>(std::min<int64_t>(int64_t{L} + W, Page->GetWidth()));
  const int32_t Y0 = std::max(T, 0),
                Y1 = static_cast<int32_t>(std::min<int64_t>(int64_t{T} + H, Page->GetHeight()));
  for (int32_t DY = Y0; DY < Y1; ++DY) {
    uint8_t* D = Page->ScanLine(DY);
    for (int32_t K = 3 * X0; K < 3 * X1; ++K) D[K] = G[D[K]];
  }
  Page->Modified();
}

void TQuilloIO::PrintImagePos(TCanvas& Canvas, double X, double Y, double Width, double Height,
                              double Gamma) {
  const int32_t Dpi = Canvas.GetPixelsPerInch();
  PrintImagePosEx(Canvas, Dpi, Dpi, X, Y, Width, Height, Gamma);
}

void TQuilloIO::PrintImageEx(TCanvas& Canvas, int32_t DpiX, int32_t DpiY, double PageWidth,
                             double PageHeight, double LeftMargin, double TopMargin,
                             double RightMargin, double BottomMargin, TQLVerticalPos VerticalPos,
                             TQLHorizontalPos HorizontalPos, TQLSize Size, double GivenWidth,
                             double GivenHeight, double Gamma) {
  if (!FBitmap || FBitmap->Empty() || DpiX <= 0 || DpiY <= 0) return;
  int32_t ImgDpiX = FParams.DpiX, ImgDpiY = FParams.DpiY;
  if (FView) {
    ImgDpiX = FView->GetDPIX();
    ImgDpiY = FView->GetDPIY();
  }
  if (ImgDpiX == 0) ImgDpiX = gSystemDPIX;
  if (ImgDpiY == 0) ImgDpiY = gSystemDPIY;
  const double AvailW = PageWidth - (LeftMargin + RightMargin);
  const double AvailH = PageHeight - (TopMargin + BottomMargin);
  const double IW = FBitmap->GetWidth(), IH = FBitmap->GetHeight();
  double W = 0, H = 0;
  switch (Size) {
    case qlsNORMAL:
      W = IW / ImgDpiX;
      H = IH / ImgDpiY;
      break;
    case qlsFITTOPAGE: {
      const double W0 = IW / DpiX, H0 = IH / DpiY;
      const double F = std::min(AvailW / W0, AvailH / H0);
      W = W0 * F;
      H = H0 * F;
      break;
    }
    case qlsFITTOPAGESTRETCH:
      W = AvailW;
      H = AvailH;
      break;
    case qlsSPECIFIEDSIZE:
      W = GivenWidth;
      H = GivenHeight;
      break;
  }
  double X = LeftMargin, Y = TopMargin;
  if (HorizontalPos == qlhpCENTER) X = LeftMargin + (AvailW - W) / 2;
  if (HorizontalPos == qlhpRIGHT) X = LeftMargin + AvailW - W;
  if (VerticalPos == qlvpCENTER) Y = TopMargin + (AvailH - H) / 2;
  if (VerticalPos == qlvpBOTTOM) Y = TopMargin + AvailH - H;
  PrintImagePosEx(Canvas, DpiX, DpiY, X, Y, W, H, Gamma);
}

void TQuilloIO::PrintImage(TCanvas& Canvas, double LeftMargin, double TopMargin, double RightMargin,
                           double BottomMargin, TQLVerticalPos VerticalPos,
                           TQLHorizontalPos HorizontalPos, TQLSize Size, double GivenWidth,
                           double GivenHeight, double Gamma) {
  const TBitmap* Page = Canvas.GetBitmap();
  const int32_t Dpi = Canvas.GetPixelsPerInch();
  if (!Page || Dpi <= 0) return;
  PrintImageEx(Canvas, Dpi, Dpi, static_cast<double>(Page->GetWidth()) / Dpi,
               static_cast<double>(Page->GetHeight()) / Dpi, LeftMargin, TopMargin, RightMargin,
               BottomMargin, VerticalPos, HorizontalPos, Size, GivenWidth, GivenHeight, Gamma);
}

void TQuilloIO::PreviewPrintImage(TBitmap& Bitmap, int32_t MaxWidth, int32_t MaxHeight,
                                  TPrinter& Printer, double LeftMargin, double TopMargin,
                                  double RightMargin, double BottomMargin,
                                  TQLVerticalPos VerticalPos, TQLHorizontalPos HorizontalPos,
                                  TQLSize Size, double GivenWidth, double GivenHeight,
                                  double Gamma) {
  const double PW = Printer.GetPageWidth(), PH = Printer.GetPageHeight();
  if (PW <= 0 || PH <= 0 || MaxWidth <= 5 || MaxHeight <= 5) return;
  const double Zoom = std::min((MaxWidth - 5) / (PW / 100), (MaxHeight - 5) / (PH / 100));
  const double F = Zoom / 100;
  Bitmap.SetPixelFormat(pf24bit);
  Bitmap.SetSize(QLTrunc(PW * F), QLTrunc(PH * F));
  TCanvas C(&Bitmap);
  C.Brush().SetStyle(bsSolid);
  C.Brush().SetColor(clWhite);
  C.FillRect(Rect(0, 0, Bitmap.GetWidth(), Bitmap.GetHeight()));
  const int32_t Dpi = std::max(QLTrunc(Printer.GetDpi() * F), 1);
  PrintImageEx(C, Dpi, Dpi, static_cast<double>(Bitmap.GetWidth()) / Dpi,
               static_cast<double>(Bitmap.GetHeight()) / Dpi, LeftMargin, TopMargin, RightMargin,
               BottomMargin, VerticalPos, HorizontalPos, Size, GivenWidth, GivenHeight, Gamma);
  C.Pen().SetStyle(psDot);
  C.Pen().SetWidth(1);
  C.Pen().SetMode(pmNot);
  C.Brush().SetStyle(bsClear);
  C.Rectangle(QLTrunc(LeftMargin * Dpi), QLTrunc(TopMargin * Dpi),
              QLTrunc(Bitmap.GetWidth() - RightMargin * Dpi),
              QLTrunc(Bitmap.GetHeight() - BottomMargin * Dpi));
}

}  // namespace quillo
