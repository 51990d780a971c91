// The viewer's small forms: the numbers of a processing operation, a format's saving parameters,
// and the printing choices. Each returns false when the user cancels.
#pragma once

#include <QString>
#include <string>

#include "apps/quillo/operations.h"
#include "quillo/core/params.h"
#include "quillo/io/quilloio.h"

class QWidget;

namespace quillo::view {

// Asks for the arguments of Op; Values comes in with the values to offer (the stored forms the
// operation table checks: choices by index, colours as #RRGGBB) and goes out with the chosen
// ones, each checked against its definition.
bool AskOperationValues(QWidget* Parent, const tool::TOp& Op, tool::TValues& Values);

// Asks for the parameters of the format Type's own group (JPEG quality, TIFF compression...);
// true without asking when the format has none.
bool AskSaveParams(QWidget* Parent, int32_t Type, TIOParamsVals& Params);

struct TPrintChoice {
  std::string Printer;  // a name from Printer().Printers()
  std::string PdfFile;  // for the PDF printer
  bool Landscape = false;
  TQLSize Size = qlsFITTOPAGE;
  TQLHorizontalPos Horizontal = qlhpCENTER;
  TQLVerticalPos Vertical = qlvpCENTER;
  double Margin = 0.5;  // inches, on every side
};

// Asks where and how to print; with PdfOnly the PDF printer is chosen and only a file is asked.
bool AskPrint(QWidget* Parent, TPrintChoice& Choice, bool PdfOnly);

}  // namespace quillo::view
