#include "ui/Screen.h"

#include <QCursor>
#include <QGuiApplication>

namespace Screen {

namespace {
unsigned changes = 0;  // counts every SetHourglass and SetArrow
}

void SetHourglass() {
  ++changes;
  if (QGuiApplication::overrideCursor() == nullptr) {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else {
    QGuiApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
  }
}

void SetArrow() {
  ++changes;
  // Bounded: each call pops one level, and nothing here pushes more than one.
  for (int i = 0; i < 16 && QGuiApplication::overrideCursor() != nullptr; ++i) {
    QGuiApplication::restoreOverrideCursor();
  }
}

bool IsHourglass() {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
}

TArrowWhileAsking::TArrowWhileAsking() : wasBusy_(IsHourglass()) {
  if (wasBusy_) SetArrow();
  generation_ = changes;
}

TArrowWhileAsking::~TArrowWhileAsking() {
  if (wasBusy_ && generation_ == changes) SetHourglass();
}

}  // namespace Screen
