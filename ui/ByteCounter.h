// TByteCounter: the label under the log that shows the bytes moved by the running file
// transfer. A transfer reports its progress every 2 KB; setting a label's text re-lays it
// out each time, which costs the transfer more than the chunk itself. This one only keeps
// the count and asks for a repaint once until it comes (asking the widget system for each
// chunk is itself costly), and draws the number when it paints.
#pragma once

#include <QLabel>
#include <cstdint>

class TByteCounter : public QLabel {
 public:
  explicit TByteCounter(QWidget* parent = nullptr) : QLabel(parent) {}

  void SetCount(std::int64_t bytes);
  void Clear();
  // What the counter shows: the count in decimal, or nothing.
  QString Caption() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Repaint();

  std::int64_t count_ = 0;
  bool shown_ = false;
  bool repaintAsked_ = false;  // a repaint is on its way and will draw the newest count
};
