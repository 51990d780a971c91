#include "quillo/backends/qt/qtscandialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace quillo {

TQtScanDialog::TQtScanDialog(IQLScanDevice& Device, QWidget* Parent)
    : QDialog(Parent), FDevice(Device) {
  setWindowTitle(QString::fromStdString(Device.DeviceTitle()));
  auto* Outer = new QVBoxLayout(this);
  auto* Scroll = new QScrollArea(this);
  Scroll->setWidgetResizable(true);
  Outer->addWidget(Scroll);
  FForm = new QWidget(Scroll);
  FLayout = new QFormLayout(FForm);
  Scroll->setWidget(FForm);
  auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  QPushButton* Scan = Buttons->addButton(tr("Scan"), QDialogButtonBox::AcceptRole);
  Scan->setObjectName("scan");
  Scan->setDefault(true);
  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  Outer->addWidget(Buttons);
  resize(480, 560);
  Rebuild();
}

void TQtScanDialog::Rebuild() {
  FRebuildQueued = false;
  while (FLayout->rowCount() > 0) FLayout->removeRow(0);
  for (const TQLScanOption& O : FDevice.Options()) AddOption(O);
}

// A setting changed: the device takes it, and the form follows once the widget's own signal
// has returned (the widget that sent it is among those rebuilt).
void TQtScanDialog::SetNumber(int32_t Index, double Value) {
  FDevice.SetNumber(Index, Value);
  if (!FRebuildQueued) {
    FRebuildQueued = true;
    QTimer::singleShot(0, this, [this] { Rebuild(); });
  }
}

void TQtScanDialog::SetText(int32_t Index, const QString& Value) {
  FDevice.SetText(Index, Value.toStdString());
  if (!FRebuildQueued) {
    FRebuildQueued = true;
    QTimer::singleShot(0, this, [this] { Rebuild(); });
  }
}

void TQtScanDialog::AddOption(const TQLScanOption& O) {
  const QString Title = QString::fromStdString(O.Title);
  const QString Unit = O.Unit.empty() ? QString() : " " + QString::fromStdString(O.Unit);
  const int32_t Index = O.Index;
  QWidget* W = nullptr;
  switch (O.Kind) {
    case TQLScanOption::skGroup: {
      auto* L = new QLabel("<b>" + Title.toHtmlEscaped() + "</b>", FForm);
      FLayout->addRow(L);
      return;
    }
    case TQLScanOption::skButton: {
      auto* B = new QPushButton(Title, FForm);
      connect(B, &QPushButton::clicked, this, [this, Index] { SetNumber(Index, 0); });
      W = B;
      break;
    }
    case TQLScanOption::skBool: {
      auto* C = new QCheckBox(FForm);
      C->setChecked(O.Number != 0);
      connect(C, &QCheckBox::toggled, this, [this, Index](bool On) { SetNumber(Index, On); });
      W = C;
      break;
    }
    case TQLScanOption::skString: {
      if (!O.Strings.empty()) {
        auto* C = new QComboBox(FForm);
        for (const std::string& S : O.Strings) C->addItem(QString::fromStdString(S));
        C->setCurrentText(QString::fromStdString(O.Text));
        connect(C, &QComboBox::textActivated, this,
                [this, Index](const QString& S) { SetText(Index, S); });
        W = C;
      } else {
        auto* E = new QLineEdit(QString::fromStdString(O.Text), FForm);
        connect(E, &QLineEdit::editingFinished, this,
                [this, Index, E] { SetText(Index, E->text()); });
        W = E;
      }
      break;
    }
    case TQLScanOption::skInt:
    case TQLScanOption::skFixed: {
      if (!O.Words.empty()) {
        auto* C = new QComboBox(FForm);
        for (double V : O.Words) C->addItem(QString::number(V) + Unit, V);
        const int At = C->findData(O.Number);
        if (At >= 0) C->setCurrentIndex(At);
        connect(C, &QComboBox::activated, this,
                [this, Index, C](int I) { SetNumber(Index, C->itemData(I).toDouble()); });
        W = C;
      } else if (O.Kind == TQLScanOption::skInt) {
        auto* S = new QSpinBox(FForm);
        S->setRange(O.HasRange ? static_cast<int>(O.Min) : -2147483647,
                    O.HasRange ? static_cast<int>(O.Max) : 2147483647);
        if (O.HasRange && O.Quant > 0) S->setSingleStep(static_cast<int>(O.Quant));
        S->setSuffix(Unit);
        S->setValue(static_cast<int>(O.Number));
        connect(S, &QSpinBox::editingFinished, this,
                [this, Index, S] { SetNumber(Index, S->value()); });
        W = S;
      } else {
        auto* S = new QDoubleSpinBox(FForm);
        S->setDecimals(2);
        S->setRange(O.HasRange ? O.Min : -32768, O.HasRange ? O.Max : 32767);
        if (O.HasRange && O.Quant > 0) S->setSingleStep(O.Quant);
        S->setSuffix(Unit);
        S->setValue(O.Number);
        connect(S, &QDoubleSpinBox::editingFinished, this,
                [this, Index, S] { SetNumber(Index, S->value()); });
        W = S;
      }
      break;
    }
  }
  W->setObjectName(QString::fromStdString(O.Name));
  W->setToolTip(QString::fromStdString(O.Description));
  W->setEnabled(O.Active && O.Settable);
  FLayout->addRow(Title, W);
}

bool QtScanDialog(IQLScanDevice& Device, QWidget* Parent) {
  TQtScanDialog D(Device, Parent);
  return D.exec() == QDialog::Accepted;
}

}  // namespace quillo
