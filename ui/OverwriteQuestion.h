// The question asked before a transfer writes over a file that is there already: replace
// it, resume it (a download whose earlier part this client kept), skip it, or stop the
// whole transfer. "Faire de même pour les fichiers suivants" keeps the answer for the rest
// of one batch or folder transfer; each batch has a question of its own.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

class QWidget;

class TOverwriteQuestion {
 public:
  enum class Answer : std::uint8_t { Replace, Resume, Skip, Stop };

  explicit TOverwriteQuestion(QWidget* parent) : parent_(parent) {}

  // `text` names the file; `resumable` offers "Reprendre"; `moreToCome` offers to keep
  // the answer. A kept answer is given without asking, unless it is Resume and this file
  // has no part to resume.
  Answer Ask(const QString& text, bool resumable, bool moreToCome);

 private:
  QWidget* parent_;
  std::optional<Answer> kept_;
};

// Whether a download into `target` would continue a part this client kept from an earlier
// try ("NAME.part", a plain file of this user): the one place that decides it.
bool HasResumablePart(const std::string& target);
// Removes that part, so that the download starts over.
void DiscardPart(const std::string& target);
