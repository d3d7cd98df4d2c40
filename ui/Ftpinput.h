// TInputForm: the one-line prompt dialog. Made hidden at start-up and reused by every
// prompt; each caller sets the caption and the question, empties the field and shows it
// modally. "&OK" is enabled only while the field holds text, so Enter does nothing on an
// empty field; Escape cancels. A question asked while the dialog is already open for
// another asker (the engine asks for a login value while a rename prompt waits) gets a
// dialog of its own, so that each answer goes to the one who asked.
#pragma once

#include <QDialog>

#include "ui_Ftpinput.h"

class TInputForm : public QDialog {
 public:
  explicit TInputForm(QWidget* parent = nullptr);

  // The steps every caller takes: caption, question, empty field, modal show. Returns
  // whether the answer is OK; `answer` gets the field's text whatever the result. A
  // secret answer (a password) is not shown as it is typed.
  bool Ask(const QString& caption, const QString& question, QString& answer, bool secret = false);

  Ui::TInputForm ui;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void InputChange();

  bool asking_ = false;  // shown for a caller who has not had the answer yet
};

extern TInputForm* InputForm;
