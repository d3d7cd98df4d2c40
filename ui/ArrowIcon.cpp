#include "ui/ArrowIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

QPixmap DrawArrow(Qt::ArrowType direction, const QColor& fill, const QColor& outline) {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  // Pointing right; mirrored for the left arrow.
  QPainterPath path;
  path.moveTo(1, 5.5);
  path.lineTo(8, 5.5);
  path.lineTo(8, 1.5);
  path.lineTo(14.5, 8);
  path.lineTo(8, 14.5);
  path.lineTo(8, 10.5);
  path.lineTo(1, 10.5);
  path.closeSubpath();
  if (direction == Qt::LeftArrow) {
    painter.translate(16, 0);
    painter.scale(-1, 1);
  }
  painter.setPen(QPen(outline, 1));
  painter.setBrush(fill);
  painter.drawPath(path);
  return pixmap;
}

}  // namespace

QIcon ArrowIcon(Qt::ArrowType direction) {
  QIcon icon;
  icon.addPixmap(DrawArrow(direction, QColor(230, 0, 0), QColor(128, 0, 0)), QIcon::Normal);
  icon.addPixmap(DrawArrow(direction, QColor(192, 192, 192), QColor(128, 128, 128)), QIcon::Disabled);
  return icon;
}
