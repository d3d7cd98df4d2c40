#include "ui/KeyBindings.h"

#include <QKeyEvent>
#include <QWidget>

void TKeyBindings::Bind(QWidget* widget, std::initializer_list<int> keys, std::function<void()> action) {
  widget->installEventFilter(this);
  for (const int key : keys) bindings_.push_back({widget, key, action});
}

bool TKeyBindings::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  // Enter on the keypad carries the keypad modifier; nothing else may be held.
  if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
  for (const Binding& binding : bindings_) {
    if (binding.widget == watched && binding.key == key->key()) {
      // A copy: the action may open a dialog whose loop runs anything, this filter included.
      const std::function<void()> action = binding.action;
      action();
      return true;
    }
  }
  return false;
}
