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

bool TInputForm::Ask(const QString& caption, const QString& question, QString& answer, bool secret) {
  if (asking_) {
    TInputForm own(parentWidget());
    return own.Ask(caption, question, answer, secret);
  }
  asking_ = true;
  setWindowTitle(caption);
  ui.Prompt->setText(question);
  ui.Prompt->adjustSize();  // the question label takes the width of its text
  ui.Input->clear();
  ui.Input->setEchoMode(secret ? QLineEdit::Password : QLineEdit::Normal);
  Screen::TArrowWhileAsking arrow;
  const bool ok = exec() == QDialog::Accepted;
  answer = ui.Input->text();
  ui.Input->clear();  // a password typed here stays nowhere
  asking_ = false;
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
