#include "ui/Ftpinput.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QStringListModel>
#include <algorithm>

#include "ui/FormUnits.h"
#include "ui/Screen.h"

TInputForm* InputForm = nullptr;

TInputForm::TInputForm(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  UsePixelFonts(this);
  // A dialog border: fixed size, no minimize or maximize button.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(kWidth, kHeight);
  ui.RememberBox->hide();
  connect(ui.Input, &QLineEdit::textChanged, this, &TInputForm::InputChange);
  connect(ui.Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui.Button2, &QPushButton::clicked, this, &QDialog::reject);
}

bool TInputForm::Ask(const QString& caption, const QString& question, QString& answer, bool secret) {
  TPromptOffer offer;
  offer.Secret = secret;
  return Ask(caption, question, answer, offer);
}

bool TInputForm::Ask(const QString& caption, const QString& question, QString& answer, const TPromptOffer& offer,
                     bool* remember) {
  if (asking_) {
    TInputForm own(parentWidget());
    return own.Ask(caption, question, answer, offer, remember);
  }
  asking_ = true;
  setWindowTitle(caption);
  ui.Prompt->setText(question);
  ui.Prompt->adjustSize();  // the question label takes the width of its text
  ui.Input->clear();
  ui.Input->setEchoMode(offer.Secret ? QLineEdit::Password : QLineEdit::Normal);
  if (!offer.Suggestions.isEmpty()) {
    completer_ = new QCompleter(new QStringListModel(offer.Suggestions, this), this);
    completer_->setFilterMode(Qt::MatchContains);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setMaxVisibleItems(static_cast<int>(offer.Suggestions.size()));
    // In the field's font, as wide as the longest line (within reason): a link cut short
    // tells little.
    QAbstractItemView* list = completer_->popup();
    list->setFont(ui.Input->font());
    int widest = 0;
    for (const QString& line : offer.Suggestions) widest = std::max(widest, list->fontMetrics().horizontalAdvance(line));
    list->setMinimumWidth(std::min(widest + kListMargin, kListMaxWidth));
    ui.Input->setCompleter(completer_);
  }
  ui.RememberBox->setVisible(offer.OfferRemember);
  ui.RememberBox->setChecked(offer.RememberChecked);
  setFixedSize(kWidth, kHeight + (offer.OfferRemember ? kRememberHeight : 0));
  Screen::TArrowWhileAsking arrow;
  const bool ok = exec() == QDialog::Accepted;
  answer = ui.Input->text();
  if (remember != nullptr) *remember = offer.OfferRemember && ui.RememberBox->isChecked();
  ui.Input->clear();  // a password typed here stays nowhere
  if (completer_ != nullptr) {
    ui.Input->setCompleter(nullptr);
    completer_->model()->deleteLater();
    completer_->deleteLater();
    completer_ = nullptr;
  }
  ui.RememberBox->hide();
  setFixedSize(kWidth, kHeight);
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
  // The servers used before show at once, all of them, under the empty field.
  if (completer_ != nullptr) {
    completer_->setCompletionPrefix(QString());
    completer_->complete();
  }
}

void TInputForm::InputChange() {
  ui.Button1->setEnabled(!ui.Input->text().isEmpty());
}
