#include "ui/ByteCounter.h"

#include <QPainter>

void TByteCounter::SetCount(std::int64_t bytes) {
  if (shown_ && bytes == count_) return;
  count_ = bytes;
  shown_ = true;
  Repaint();
}

void TByteCounter::Clear() {
  if (!shown_) return;
  shown_ = false;
  Repaint();
}

void TByteCounter::Repaint() {
  if (repaintAsked_ && isVisible()) return;
  repaintAsked_ = true;
  update();
}

QString TByteCounter::Caption() const {
  return shown_ ? QString::number(count_) : QString();
}

void TByteCounter::paintEvent(QPaintEvent*) {
  repaintAsked_ = false;
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(contentsRect(), static_cast<int>(alignment()), Caption());
}
