#include "ui/Ftpinput.h"

#include "ui/FormUnits.h"
#include "ui/Screen.h"

TInputForm* InputForm = nullptr;

TInputForm::TInputForm(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  UsePixelFonts(this);
  // A dialog border: fixed size, no minimize or maximize button.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(165, 79);
  connect(ui.Input, &QLineEdit::textChanged, this, &TInputForm::InputChange);
  connect(ui.Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui.Button2, &QPushButton::clicked, this, &QDialog::reject);
}

bool TInputForm::Ask(const QString& caption, const QString& question, QString& answer) {
  setWindowTitle(caption);
  ui.Prompt->setText(question);
  ui.Prompt->adjustSize();  // the question label takes the width of its text
  ui.Input->clear();
  Screen::TArrowWhileAsking arrow;
  const bool ok = exec() == QDialog::Accepted;
  answer = ui.Input->text();
  return ok;
}

void TInputForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
}

void TInputForm::FormShow() {
  ui.Input->setFocus();
  ui.Button1->setEnabled(false);
}

void TInputForm::InputChange() {
  ui.Button1->setEnabled(!ui.Input->text().isEmpty());
}
