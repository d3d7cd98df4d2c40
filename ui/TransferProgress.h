// TTransferProgress: how far the running transfer is, in the free space of the bottom row
// beside the byte counter: a bar (the percentage, or in a folder transfer the number of
// the file among all of them) and the time left. Both hide while no size is known. A
// transfer reports its progress every 2 KB, so nothing is touched unless what it shows
// changes.
#pragma once

#include <QString>
#include <cstdint>

class QLabel;
class QProgressBar;

class TTransferProgress {
 public:
  TTransferProgress(QProgressBar* bar, QLabel* timeLeft);

  // `done` of `total` bytes (total < 0: unknown) after `elapsedMs`, of which `startedAt`
  // were there before (a resumed part); `format` is the bar's text, "%p %" for the
  // percentage.
  void Show(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, const QString& format,
            std::int64_t startedAt = 0);
  void Hide();
  // Whether a Show at `elapsedMs` would be worth its cost: progress comes every 2 KB, and
  // redrawing at that pace took a sixth of a download's time. True after Hide, for a new
  // transfer (its time began again) and every 100 ms.
  bool Due(std::int64_t elapsedMs) const;

 private:
  QProgressBar* bar_;
  QLabel* timeLeft_;
  std::int64_t secondsShown_ = -2;  // what the label shows: -1 nothing, -2 not set yet
  std::int64_t shownAtMs_ = -1;     // the elapsed time of the last Show; -1 after Hide
};
