// quillo print IN ...: an image, or every frame or page of one, onto printed pages.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "apps/quillo/commands.h"
#include "apps/quillo/imagefiles.h"
#include "apps/quillo/session.h"
#include "quillo/io/quilloio.h"
#include "quillo/platform/printer.h"

namespace quillo::tool {

namespace {

// A length: inches, or millimetres and centimetres with their suffix.
double ParseLength(const std::string& Text) {
  char* End = nullptr;
  const double V = std::strtod(Text.c_str(), &End);
  const std::string Unit = End ? End : "";
  if (End == Text.c_str() || V < 0 || V > 200) throw TUsageError{"not a length: " + Text};
  if (Unit.empty() || Unit == "in") return V;
  if (Unit == "mm") return V / 25.4;
  if (Unit == "cm") return V / 2.54;
  throw TUsageError{"lengths are in inches, or end in mm or cm: " + Text};
}

// "A,B" or "A,B,C,D" as lengths.
std::vector<double> ParseLengths(const std::string& Text, size_t Count) {
  std::vector<double> Out;
  size_t Start = 0;
  for (;;) {
    const size_t Comma = Text.find(',', Start);
    Out.push_back(ParseLength(
        Text.substr(Start, Comma == std::string::npos ? std::string::npos : Comma - Start)));
    if (Comma == std::string::npos) break;
    Start = Comma + 1;
  }
  if (Out.size() == 1 && Count == 4) Out.assign(4, Out[0]);
  if (Out.size() != Count)
    throw TUsageError{"expected " + std::to_string(Count) + " lengths: " + Text};
  return Out;
}

}  // namespace

int CmdPrint(const TArgs& Args) {
  TPrinter& P = Printer();
  if (Args.size() == 1 && Args[0] == "--list") {
    for (const std::string& Name : P.Printers()) std::printf("%s\n", Name.c_str());
    return 0;
  }
  std::string Input, Pdf, PrinterName;
  TQLSize Size = qlsNORMAL;
  TQLHorizontalPos H = qlhpCENTER;
  TQLVerticalPos V = qlvpCENTER;
  std::vector<double> Margins(4, 0.5), GivenSize(2, 0.0);
  double Gamma = 1.0;
  int32_t Frame = -1;
  for (size_t I = 0; I < Args.size(); ++I) {
    auto Value = [&](const char* What) {
      if (++I >= Args.size()) throw TUsageError{Args[I - 1] + " needs " + What};
      return Args[I];
    };
    const std::string& A = Args[I];
    if (A == "--pdf") {
      Pdf = Value("a file name");
    } else if (A == "--printer") {
      PrinterName = Value("a printer name");
    } else if (A == "--paper") {
      const std::string Paper = Value("a paper name");
      if (!P.SetPaperName(Paper)) {
        const std::vector<double> WH = ParseLengths(Paper, 2);
        P.SetPaperSize(WH[0] * 72, WH[1] * 72);
      }
    } else if (A == "--landscape") {
      P.SetOrientation(poLandscape);
    } else if (A == "--dpi") {
      P.SetDpi(std::atoi(Value("a resolution").c_str()));
    } else if (A == "--fit") {
      Size = qlsFITTOPAGE;
    } else if (A == "--stretch") {
      Size = qlsFITTOPAGESTRETCH;
    } else if (A == "--size") {
      Size = qlsSPECIFIEDSIZE;
      GivenSize = ParseLengths(Value("WIDTH,HEIGHT"), 2);
    } else if (A == "--margins") {
      Margins = ParseLengths(Value("LEFT,TOP,RIGHT,BOTTOM"), 4);
    } else if (A == "--position") {
      const std::string Pos = Value("H,V");
      const size_t Comma = Pos.find(',');
      const std::string HP = Pos.substr(0, Comma),
                        VP = Comma == std::string::npos ? "center" : Pos.substr(Comma + 1);
      if (HP == "left")
        H = qlhpLEFT;
      else if (HP == "center")
        H = qlhpCENTER;
      else if (HP == "right")
        H = qlhpRIGHT;
      else
        throw TUsageError{"--position takes left, center or right, then top, center or bottom"};
      if (VP == "top")
        V = qlvpTOP;
      else if (VP == "center")
        V = qlvpCENTER;
      else if (VP == "bottom")
        V = qlvpBOTTOM;
      else
        throw TUsageError{"--position takes left, center or right, then top, center or bottom"};
    } else if (A == "--gamma") {
      Gamma = std::strtod(Value("a number").c_str(), nullptr);
      if (!(Gamma > 0 && Gamma < 100)) throw TUsageError{"--gamma takes a number above 0"};
    } else if (A == "--frame" || A == "--page") {
      Frame = ParseFrame(Value("a number"));
    } else if (!A.empty() && A[0] == '-' && A != "-") {
      throw TUsageError{"unknown option " + A};
    } else if (Input.empty()) {
      Input = A;
    } else {
      throw TUsageError{"print takes one input file"};
    }
  }
  if (Input.empty()) throw TUsageError{"print needs an input file (or --list)"};
  if (Pdf.empty() == PrinterName.empty())
    throw TUsageError{"print needs --pdf FILE or --printer NAME"};
  if (!PrinterName.empty() && !P.SelectPrinter(PrinterName))
    throw std::runtime_error("no printer named " + PrinterName + " (quillo print --list)");
  if (!Pdf.empty()) {
    P.SelectPrinter("PDF");
    P.SetOutputFile(Pdf);
  }
  const TInputFile In(Input);
  const int32_t Count = ImageCount(In.Path(), FindFileFormat(In.Path(), false));
  if (Count == 0) throw std::runtime_error(In.Name() + ": damaged or truncated image");
  const int32_t First = Frame >= 0 ? Frame : 0, Last = Frame >= 0 ? Frame : Count - 1;
  if (First >= Count)
    throw std::runtime_error(In.Name() + " has " + std::to_string(Count) + " images");
  P.Title = In.Name();
  P.BeginDoc();
  try {
    for (int32_t K = First; K <= Last; ++K) {
      TBitmap Image;
      TQuilloIO IO;
      IO.SetAttachedBitmap(&Image);
      LoadImage(IO, In, K);
      if (K > First) P.NewPage();
      IO.PrintImage(P.Canvas(), Margins[0], Margins[1], Margins[2], Margins[3], V, H, Size,
                    GivenSize[0], GivenSize[1], Gamma);
      if (Interrupted()) throw TInterrupted{};
    }
    P.EndDoc();
  } catch (...) {
    P.Abort();
    throw;
  }
  if (!Pdf.empty())
    std::fprintf(stderr, "%d page%s written to %s\n", Last - First + 1, Last > First ? "s" : "",
                 Pdf.c_str());
  return 0;
}

}  // namespace quillo::tool
