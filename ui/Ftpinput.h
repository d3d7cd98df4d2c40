// TInputForm: the one-line prompt dialog. Made hidden at start-up and reused by every
// prompt; each caller sets the caption and the question, empties the field and shows it
// modally. "&OK" is enabled only while the field holds text, so Enter does nothing on an
// empty field; Escape cancels. A question asked while the dialog is already open for
// another asker (the engine asks for a login value while a rename prompt waits) gets a
// dialog of its own, so that each answer goes to the one who asked.
//
// Two prompts offer more: the server prompt lists the servers used before under its field
// (typing filters them), and the password prompt, where a keyring runs, has the check box
// "Mémoriser le mot de passe" below its buttons (the dialog grows by its height; the
// described layout is otherwise untouched).
#pragma once

#include <QDialog>
#include <QStringList>

#include "ui_Ftpinput.h"

class QCompleter;

// What a prompt offers besides its field.
struct TPromptOffer {
  bool Secret = false;      // a password: not shown as it is typed
  QStringList Suggestions;  // listed under the field, those holding what is typed
  bool OfferRemember = false;
  bool RememberChecked = false;
};

class TInputForm : public QDialog {
 public:
  explicit TInputForm(QWidget* parent = nullptr);

  // The steps every caller takes: caption, question, empty field, modal show. Returns
  // whether the answer is OK; `answer` gets the field's text whatever the result. A
  // secret answer (a password) is not shown as it is typed.
  bool Ask(const QString& caption, const QString& question, QString& answer, bool secret = false);
  // The same with what `offer` adds; `remember` gets the check box's state.
  bool Ask(const QString& caption, const QString& question, QString& answer, const TPromptOffer& offer,
           bool* remember = nullptr);

  Ui::TInputForm ui;
  // The list of suggestions of the running prompt (nullptr when it offers none).
  QCompleter* Suggestions() const { return completer_; }

  static constexpr int kWidth = 165, kHeight = 79, kRememberHeight = 20;
  // The suggestions' list: its margins and scroll bar, and its widest.
  static constexpr int kListMargin = 30, kListMaxWidth = 480;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void InputChange();

  bool asking_ = false;  // shown for a caller who has not had the answer yet
  QCompleter* completer_ = nullptr;
};

extern TInputForm* InputForm;
