// TInputForm: the one-line prompt dialog. Made hidden at start-up and reused by every
// prompt; each caller sets the caption and the question, empties the field and shows it
// modally. "&OK" is enabled only while the field holds text, so Enter does nothing on an
// empty field; Escape cancels.
#pragma once

#include <QDialog>

#include "ui_Ftpinput.h"

class TInputForm : public QDialog {
 public:
  explicit TInputForm(QWidget* parent = nullptr);

  // The steps every caller takes: caption, question, empty field, modal show. Returns
  // whether the answer is OK; `answer` gets the field's text whatever the result.
  bool Ask(const QString& caption, const QString& question, QString& answer);

  Ui::TInputForm ui;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void InputChange();
};

extern TInputForm* InputForm;
