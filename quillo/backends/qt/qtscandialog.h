// The scanner's own dialog: a form built from the device's settings, shown when an acquisition
// asks for the source's dialog. QuilloQtInstall installs it.
#pragma once

#include <QDialog>

#include "quillo/platform/twain.h"

class QFormLayout;

namespace quillo {

// One widget per setting, named after it (objectName is the setting's name): check boxes,
// spin boxes for ranges, lists for choices, text fields, buttons, and group titles. A change is
// sent to the device at once, and the form is rebuilt from what the device then reports (a
// setting can switch others on or off). Scan accepts, Cancel rejects.
class TQtScanDialog : public QDialog {
 public:
  explicit TQtScanDialog(IQLScanDevice& Device, QWidget* Parent = nullptr);
  // Builds the form again from the device.
  void Rebuild();

 private:
  void AddOption(const TQLScanOption& O);
  void SetNumber(int32_t Index, double Value);
  void SetText(int32_t Index, const QString& Value);

  IQLScanDevice& FDevice;
  QWidget* FForm = nullptr;
  QFormLayout* FLayout = nullptr;
  bool FRebuildQueued = false;
};

// Shows the dialog modally; true when the user asked to scan.
bool QtScanDialog(IQLScanDevice& Device, QWidget* Parent = nullptr);

}  // namespace quillo
