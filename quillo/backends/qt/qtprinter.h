// The system's printers (through Qt's print support) as printer devices of the framework.
#pragma once

namespace quillo {

// Registers every printer the system knows with TPrinter, after the built-in PDF printer.
void QtRegisterSystemPrinters();

}  // namespace quillo
