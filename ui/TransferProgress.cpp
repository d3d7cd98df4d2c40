#include "ui/TransferProgress.h"

#include <QLabel>
#include <QProgressBar>

#include "session/TimeLeft.h"

namespace {
constexpr int kEveryMs = 100;
}

TTransferProgress::TTransferProgress(QProgressBar* bar, QLabel* timeLeft, std::function<void()> refresh)
    : bar_(bar), timeLeft_(timeLeft) {
  refresh_.setSingleShot(true);
  refresh_.setTimerType(Qt::PreciseTimer);  // a coarse one may fire early, before Show is due
  QObject::connect(&refresh_, &QTimer::timeout, std::move(refresh));
  Hide();
}

void TTransferProgress::Show(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, const QString& format,
                             std::int64_t startedAt) {
  const int perMille = PerMille(done, total);
  if (perMille < 0) {
    Hide();
    shown_.start();
    return;
  }
  shown_.start();
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

bool TTransferProgress::Due() {
  if (!shown_.isValid()) return true;
  const qint64 since = shown_.elapsed();
  if (since >= kEveryMs) return true;
  if (!refresh_.isActive()) refresh_.start(static_cast<int>(kEveryMs - since));
  return false;
}

void TTransferProgress::Hide() {
  bar_->hide();
  timeLeft_->hide();
  secondsShown_ = -2;
  shown_.invalidate();
  refresh_.stop();
}
