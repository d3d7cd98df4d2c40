#include "ui/FormUnits.h"

#include <QWidget>
#include <cmath>

namespace {

void UsePixelFont(QWidget* widget) {
  if (!widget->testAttribute(Qt::WA_SetFont)) return;  // inherits its parent's font
  QFont font = widget->font();
  if (font.pointSizeF() <= 0) return;
  font.setPixelSize(static_cast<int>(std::lround(font.pointSizeF() * 96.0 / 72.0)));
  widget->setFont(font);
}

}  // namespace

void UsePixelFonts(QWidget* form) {
  UsePixelFont(form);
  for (QWidget* child : form->findChildren<QWidget*>()) UsePixelFont(child);
}
