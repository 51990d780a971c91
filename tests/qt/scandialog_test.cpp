// The scanner's dialog built from a device's settings: each kind of setting gets its widget, a
// change reaches the device and the form follows what the device then reports.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include "quillo/backends/qt/qthost.h"
#include "quillo/backends/qt/qtscandialog.h"

using namespace quillo;

namespace {

// A device whose depth setting is active only in grey mode.
class TFakeDevice : public IQLScanDevice {
 public:
  std::string Mode = "Color";
  double Resolution = 150, Depth = 8;
  bool Preview = false;
  std::vector<std::string> Log;

  std::string DeviceTitle() override { return "Fake scanner"; }
  std::vector<TQLScanOption> Options() override {
    std::vector<TQLScanOption> L(5);
    L[0].Index = 1, L[0].Name = "mode-group", L[0].Title = "Mode",
    L[0].Kind = TQLScanOption::skGroup;
    L[1].Index = 2, L[1].Name = "mode", L[1].Kind = TQLScanOption::skString;
    L[1].Strings = {"Color", "Gray"}, L[1].Text = Mode;
    L[2].Index = 3, L[2].Name = "resolution", L[2].Kind = TQLScanOption::skFixed;
    L[2].HasRange = true, L[2].Min = 50, L[2].Max = 600, L[2].Quant = 1, L[2].Number = Resolution;
    L[3].Index = 4, L[3].Name = "depth", L[3].Kind = TQLScanOption::skInt;
    L[3].Words = {1, 8}, L[3].Number = Depth, L[3].Active = Mode == "Gray";
    L[4].Index = 5, L[4].Name = "preview", L[4].Kind = TQLScanOption::skBool, L[4].Number = Preview;
    for (TQLScanOption& O : L) O.Title = O.Title.empty() ? O.Name : O.Title;
    return L;
  }
  bool SetNumber(int32_t Index, double V) override {
    Log.push_back(std::to_string(Index) + "=" + std::to_string(static_cast<int>(V)));
    if (Index == 3) Resolution = V;
    if (Index == 4) Depth = V;
    if (Index == 5) Preview = V != 0;
    return true;
  }
  bool SetText(int32_t Index, const std::string& V) override {
    Log.push_back(std::to_string(Index) + "=" + V);
    if (Index == 2) Mode = V;
    return true;
  }
};

void Settle() {
  for (int I = 0; I < 5; ++I) QApplication::processEvents();
}

TEST(QtScanDialog, WidgetsFollowTheDevice) {
  ASSERT_NE(QApplication::instance(), nullptr);
  TFakeDevice Dev;
  TQtScanDialog D(Dev);
  auto* Mode = D.findChild<QComboBox*>("mode");
  auto* Res = D.findChild<QDoubleSpinBox*>("resolution");
  auto* Depth = D.findChild<QComboBox*>("depth");
  ASSERT_TRUE(Mode && Res && Depth && D.findChild<QCheckBox*>("preview"));
  EXPECT_EQ(Res->maximum(), 600);
  EXPECT_EQ(Res->value(), 150);
  EXPECT_FALSE(Depth->isEnabled());  // inactive in colour
  emit Mode->textActivated("Gray");
  Settle();
  EXPECT_EQ(Dev.Log, std::vector<std::string>{"2=Gray"});
  Depth = D.findChild<QComboBox*>("depth");
  ASSERT_NE(Depth, nullptr);
  EXPECT_TRUE(Depth->isEnabled());
  emit Depth->activated(0);
  Settle();
  EXPECT_EQ(Dev.Depth, 1);
  D.findChild<QCheckBox*>("preview")->setChecked(true);
  Settle();
  EXPECT_TRUE(Dev.Preview);
}

TEST(QtScanDialog, InstalledAsTheSourceDialog) {
  QuilloQtInstall();
  ASSERT_TRUE(static_cast<bool>(QLGetScanDialogHook()));
  TFakeDevice Dev;
  for (bool Scan : {true, false}) {
    QTimer::singleShot(50, [Scan] {
      for (QWidget* W : QApplication::topLevelWidgets())
        if (auto* D = qobject_cast<QDialog*>(W); D && D->isVisible()) {
          if (Scan)
            D->findChild<QPushButton*>("scan")->click();
          else
            D->reject();
        }
    });
    EXPECT_EQ(QLGetScanDialogHook()(Dev), Scan);
  }
}

}  // namespace
