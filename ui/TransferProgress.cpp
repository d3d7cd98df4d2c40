#include "ui/TransferProgress.h"

#include <QLabel>
#include <QProgressBar>

#include "ftp/TimeLeft.h"

TTransferProgress::TTransferProgress(QProgressBar* bar, QLabel* timeLeft) : bar_(bar), timeLeft_(timeLeft) {
  Hide();
}

void TTransferProgress::Show(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, const QString& format,
                             std::int64_t startedAt) {
  const int perMille = PerMille(done, total);
  if (perMille < 0) {
    Hide();
    shownAtMs_ = elapsedMs;
    return;
  }
  shownAtMs_ = elapsedMs;
  if (bar_->format() != format) bar_->setFormat(format);
  bar_->setValue(perMille);  // repaints only when the value changes
  if (bar_->isHidden()) bar_->show();
  const std::int64_t seconds = SecondsLeft(done, total, elapsedMs, startedAt);
  if (seconds != secondsShown_) {
    secondsShown_ = seconds;
    timeLeft_->setText(seconds < 0 ? QString() : QStringLiteral("reste ") + QString::fromStdString(ClockText(seconds)));
    timeLeft_->setVisible(seconds >= 0);
  }
}

bool TTransferProgress::Due(std::int64_t elapsedMs) const {
  constexpr std::int64_t kEveryMs = 100;
  return shownAtMs_ < 0 || elapsedMs < shownAtMs_ || elapsedMs - shownAtMs_ >= kEveryMs;
}

void TTransferProgress::Hide() {
  bar_->hide();
  timeLeft_->hide();
  secondsShown_ = -2;
  shownAtMs_ = -1;
}
