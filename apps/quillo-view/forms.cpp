#include "apps/quillo-view/forms.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "apps/quillo/commands.h"
#include "apps/quillo/paramtable.h"
#include "quillo/platform/printer.h"

namespace quillo::view {

namespace {

// A dialog of labelled rows above OK and Cancel.
class TForm {
 public:
  TForm(QWidget* Parent, const QString& Title, const QString& Summary) : FDialog(Parent) {
    FDialog.setWindowTitle(Title);
    auto* Layout = new QVBoxLayout(&FDialog);
    if (!Summary.isEmpty()) {
      auto* Text = new QLabel(Summary);
      Text->setWordWrap(true);
      Layout->addWidget(Text);
    }
    FRows = new QFormLayout;
    Layout->addLayout(FRows);
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(Buttons, &QDialogButtonBox::accepted, &FDialog, &QDialog::accept);
    QObject::connect(Buttons, &QDialogButtonBox::rejected, &FDialog, &QDialog::reject);
    Layout->addWidget(Buttons);
  }
  void Add(const QString& Label, QWidget* Field) {
    FRows->addRow(Label, Field);
    if (!FFirst) FFirst = Field;
  }
  bool Run() {
    // The first field takes the keys, its text selected, so that typing replaces the offered
    // value (the buttons, made before the fields, would come first otherwise).
    if (FFirst) {
      FFirst->setFocus();
      if (auto* S = qobject_cast<QAbstractSpinBox*>(FFirst)) S->selectAll();
      if (auto* E = qobject_cast<QLineEdit*>(FFirst)) E->selectAll();
    }
    return FDialog.exec() == QDialog::Accepted;
  }
  QDialog& Dialog() { return FDialog; }

 private:
  QDialog FDialog;
  QFormLayout* FRows;
  QWidget* FFirst = nullptr;
};

// A button showing a colour that opens the colour chooser.
QPushButton* ColourButton(QWidget* Parent, std::string& Value) {
  auto* B = new QPushButton(Parent);
  auto Show = [B, &Value] {
    B->setText(QString::fromStdString(Value));
    B->setStyleSheet(QString("background-color: %1").arg(QString::fromStdString(Value)));
  };
  Show();
  QObject::connect(B, &QPushButton::clicked, [B, &Value, Show] {
    const QColor C = QColorDialog::getColor(QColor(QString::fromStdString(Value)), B);
    if (!C.isValid()) return;
    Value = C.name(QColor::HexRgb).toUpper().toStdString();
    Show();
  });
  return B;
}

}  // namespace

bool AskOperationValues(QWidget* Parent, const tool::TOp& Op, tool::TValues& Values) {
  TForm Form(Parent, QString::fromUtf8(Op.Name), QString::fromUtf8(Op.Summary));
  // Each row reads its widget back into the stored form when the form is accepted.
  std::vector<std::function<std::string()>> Readers;
  std::vector<std::string> Colours(Op.Args.size());
  for (size_t I = 0; I < Op.Args.size(); ++I) {
    const tool::TArgDef& A = Op.Args[I];
    const auto Found = Values.FValues.find(A.Name);
    const std::string Now = Found != Values.FValues.end() ? Found->second
                            : A.Default                   ? A.Default
                                                          : "";
    const QString Label = QString::fromUtf8(A.Name);
    switch (A.Kind) {
      case tool::TKind::Int: {
        auto* S = new QSpinBox;
        S->setRange(-1000000000, 1000000000);
        S->setValue(std::atoi(Now.c_str()));
        Form.Add(Label, S);
        Readers.push_back([S] { return std::to_string(S->value()); });
        break;
      }
      case tool::TKind::Real: {
        auto* S = new QDoubleSpinBox;
        S->setRange(-1e6, 1e6);
        S->setDecimals(3);
        S->setValue(std::strtod(Now.c_str(), nullptr));
        Form.Add(Label, S);
        Readers.push_back([S] { return QString::number(S->value(), 'g', 10).toStdString(); });
        break;
      }
      case tool::TKind::Bool: {
        auto* C = new QCheckBox;
        C->setChecked(Now == "true");
        Form.Add(Label, C);
        Readers.push_back([C] { return std::string(C->isChecked() ? "true" : "false"); });
        break;
      }
      case tool::TKind::Colour: {
        Colours[I] = Now.empty() ? "#000000" : Now;
        Form.Add(Label, ColourButton(&Form.Dialog(), Colours[I]));
        Readers.push_back([&Colours, I] { return Colours[I]; });
        break;
      }
      case tool::TKind::Choice: {
        auto* C = new QComboBox;
        for (const std::string& Name : A.Choices) C->addItem(QString::fromStdString(Name));
        // The stored form is an index; a default is a name.
        int32_t Index = 0;
        for (size_t K = 0; K < A.Choices.size(); ++K)
          if (A.Choices[K] == Now) Index = static_cast<int32_t>(K);
        if (!Now.empty() && std::isdigit(static_cast<unsigned char>(Now[0])))
          Index = std::atoi(Now.c_str());
        C->setCurrentIndex(Index);
        Form.Add(Label, C);
        Readers.push_back([C, &A] { return A.Choices[static_cast<size_t>(C->currentIndex())]; });
        break;
      }
      case tool::TKind::Text: {
        auto* E = new QLineEdit(QString::fromStdString(Now));
        Form.Add(Label, E);
        Readers.push_back([E] { return E->text().toStdString(); });
        break;
      }
    }
  }
  while (Form.Run()) {
    try {
      tool::TValues Out;
      for (size_t I = 0; I < Op.Args.size(); ++I)
        Out.FValues[Op.Args[I].Name] = tool::CheckValue(Op, Op.Args[I], Readers[I]());
      Values = std::move(Out);
      return true;
    } catch (const tool::TUsageError& E) {
      QMessageBox::warning(&Form.Dialog(), QString::fromUtf8(Op.Name),
                           QString::fromStdString(E.Message));
    }
  }
  return false;
}

bool AskSaveParams(QWidget* Parent, int32_t Type, TIOParamsVals& Params) {
  const char* Prefix = tool::FormatParamPrefix(Type);
  if (!Prefix) return true;
  std::vector<const tool::TParamField*> Fields;
  for (const tool::TParamField& F : tool::ParamFields())
    if (std::string(F.Name).starts_with(Prefix)) Fields.push_back(&F);
  if (Fields.empty()) return true;
  TForm Form(Parent, "Saving options", "How the file is written:");
  std::vector<std::function<std::string()>> Readers;
  for (const tool::TParamField* F : Fields) {
    const QString Label = QString::fromUtf8(F->Name + std::strlen(Prefix));
    const std::string Now = F->Get(Params);
    if (!F->Values.empty()) {
      auto* C = new QComboBox;
      for (const std::string& V : F->Values) C->addItem(QString::fromStdString(V));
      C->setCurrentText(QString::fromStdString(Now));
      Form.Add(Label, C);
      Readers.push_back([C] { return C->currentText().toStdString(); });
    } else if (F->Kind == tool::TFieldKind::Boolean) {
      auto* C = new QCheckBox;
      C->setChecked(Now == "true");
      Form.Add(Label, C);
      Readers.push_back([C] { return std::string(C->isChecked() ? "true" : "false"); });
    } else {
      auto* E = new QLineEdit(QString::fromStdString(Now));
      Form.Add(Label, E);
      Readers.push_back([E] { return E->text().toStdString(); });
    }
  }
  while (Form.Run()) {
    TIOParamsVals Trial;
    Trial.Assign(Params);
    std::string Bad;
    for (size_t I = 0; I < Fields.size() && Bad.empty(); ++I)
      if (!Fields[I]->Set(Trial, Readers[I]())) Bad = Fields[I]->Name;
    if (Bad.empty()) {
      Params.Assign(Trial);
      return true;
    }
    QMessageBox::warning(&Form.Dialog(), "Saving options",
                         QString("%1 does not take that value.").arg(QString::fromStdString(Bad)));
  }
  return false;
}

bool AskPrint(QWidget* Parent, TPrintChoice& Choice, bool PdfOnly) {
  if (PdfOnly) {
    const QString File =
        QFileDialog::getSaveFileName(Parent, "Print to PDF", QString(), "PDF documents (*.pdf)");
    if (File.isEmpty()) return false;
    Choice.Printer = "PDF";
    Choice.PdfFile = File.endsWith(".pdf", Qt::CaseInsensitive) ? File.toStdString()
                                                                : (File + ".pdf").toStdString();
    return true;
  }
  TForm Form(Parent, "Print", "");
  auto* Printers = new QComboBox;
  for (const std::string& Name : Printer().Printers())
    Printers->addItem(QString::fromStdString(Name));
  Printers->setCurrentText(QString::fromStdString(Choice.Printer));
  Form.Add("Printer", Printers);
  auto* Orientation = new QComboBox;
  Orientation->addItems({"Portrait", "Landscape"});
  Orientation->setCurrentIndex(Choice.Landscape ? 1 : 0);
  Form.Add("Orientation", Orientation);
  auto* Size = new QComboBox;
  Size->addItems({"As scanned (its resolution)", "Fit to the page", "Fill the page"});
  Size->setCurrentIndex(Choice.Size == qlsNORMAL ? 0 : Choice.Size == qlsFITTOPAGE ? 1 : 2);
  Form.Add("Size", Size);
  auto* Margin = new QDoubleSpinBox;
  Margin->setRange(0, 5);
  Margin->setSingleStep(0.1);
  Margin->setSuffix(" in");
  Margin->setValue(Choice.Margin);
  Form.Add("Margins", Margin);
  if (!Form.Run()) return false;
  Choice.Printer = Printers->currentText().toStdString();
  Choice.Landscape = Orientation->currentIndex() == 1;
  Choice.Size = Size->currentIndex() == 0   ? qlsNORMAL
                : Size->currentIndex() == 1 ? qlsFITTOPAGE
                                            : qlsFITTOPAGESTRETCH;
  Choice.Margin = Margin->value();
  if (Choice.Printer == "PDF") return AskPrint(Parent, Choice, true);
  return true;
}

}  // namespace quillo::view
