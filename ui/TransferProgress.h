// TTransferProgress: how far the running transfer is, in the free space of the bottom row
// beside the byte counter: a bar (the percentage, or in a folder transfer the number of
// the file among all of them) and the time left. Both hide while no size is known. A
// transfer reports its progress every 2 KB, so nothing is touched unless what it shows
// changes.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;

class TTransferProgress {
 public:
  // `refresh` is called for a Show that Due() put off.
  TTransferProgress(QProgressBar* bar, QLabel* timeLeft, std::function<void()> refresh);

  // `done` of `total` bytes (total < 0: unknown) after `elapsedMs`, of which `startedAt`
  // were there before (a resumed part); `format` is the bar's text, "%p %" for the
  // percentage.
  void Show(std::int64_t done, std::int64_t total, std::int64_t elapsedMs, const QString& format,
            std::int64_t startedAt = 0);
  void Hide();
  // Whether a Show now would be worth its cost: progress comes every 2 KB, and redrawing
  // at that pace took a sixth of a download's time. True after Hide and 100 ms after the
  // last Show; otherwise `refresh` is called once those 100 ms are over, so that the end
  // of a burst of data shows even when nothing follows it for a while.
  bool Due();

 private:
  QProgressBar* bar_;
  QLabel* timeLeft_;
  std::int64_t secondsShown_ = -2;  // what the label shows: -1 nothing, -2 not set yet
  QElapsedTimer shown_;             // since the last Show; invalid after Hide
  QTimer refresh_;                  // the Show that Due() put off
};
