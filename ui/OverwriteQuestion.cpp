#include "ui/OverwriteQuestion.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

#include "session/KeptPart.h"
#include "ui/Screen.h"

TOverwriteQuestion::Answer TOverwriteQuestion::Ask(const QString& text, bool resumable, bool moreToCome) {
  if (kept_ && (*kept_ != Answer::Resume || resumable)) return *kept_;
  Screen::TArrowWhileAsking arrow;
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirmation"), text, QMessageBox::NoButton, parent_);
  box.setTextFormat(Qt::PlainText);
  QPushButton* replace = box.addButton(QStringLiteral("&Remplacer"), QMessageBox::AcceptRole);
  QPushButton* resume = resumable ? box.addButton(QStringLiteral("Re&prendre"), QMessageBox::AcceptRole) : nullptr;
  QPushButton* skip = box.addButton(QStringLiteral("&Ignorer"), QMessageBox::RejectRole);
  QPushButton* stop = box.addButton(QStringLiteral("Annuler"), QMessageBox::RejectRole);
  // Enter keeps the file that is there; Escape stops everything.
  box.setDefaultButton(skip);
  box.setEscapeButton(stop);
  QCheckBox* keep = nullptr;
  if (moreToCome) {
    keep = new QCheckBox(QStringLiteral("&Faire de même pour les fichiers suivants"));
    box.setCheckBox(keep);  // the box owns it
  }
  box.exec();
  const QAbstractButton* clicked = box.clickedButton();
  const Answer answer = clicked == replace                      ? Answer::Replace
                        : clicked == resume && resume != nullptr ? Answer::Resume
                        : clicked == skip                        ? Answer::Skip
                                                                 : Answer::Stop;
  if (keep != nullptr && keep->isChecked() && answer != Answer::Stop) kept_ = answer;
  return answer;
}

bool HasResumablePart(const std::string& target, const TPartOrigin& source) {
  const std::optional<TKeptPart> part = FindKeptPart(target);
  return part && ContinuesKeptPart(*part, source);
}

void DiscardPart(const std::string& target) {
  if (const std::optional<TKeptPart> part = FindKeptPart(target)) RemoveKeptPart(*part);
}
