// The question asked before a transfer writes over a file that is there already: replace
// it, resume it (a download whose earlier part this client kept), skip it, or stop the
// whole transfer. "Faire de même pour les fichiers suivants" keeps the answer for the rest
// of one batch or folder transfer; each batch has a question of its own.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

#include "session/PartOrigin.h"

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

// Whether a download of `source` into `target` would continue a part this program kept of
// that same file from an earlier try (see KeptPart.h): the one place the window decides it.
bool HasResumablePart(const std::string& target, const TPartOrigin& source);
// Removes this program's part of `target` and its mark, so that the download starts over;
// a part of that name that is not this program's stays as it is.
void DiscardPart(const std::string& target);
