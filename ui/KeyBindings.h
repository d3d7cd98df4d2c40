// TKeyBindings: keys bound to actions on given widgets, taken before the widget's own
// handling of them. The two panes' keyboard habits (Delete, F5, Enter, Backspace) go
// through it, so that a key does exactly what the matching button or double click does.
#pragma once

#include <QObject>
#include <functional>
#include <initializer_list>
#include <vector>

class QWidget;

class TKeyBindings : public QObject {
 public:
  using QObject::QObject;

  // `action` runs when one of `keys` is pressed, without modifiers, while `widget` has
  // the focus.
  void Bind(QWidget* widget, std::initializer_list<int> keys, std::function<void()> action);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Binding {
    QObject* widget;
    int key;
    std::function<void()> action;
  };
  std::vector<Binding> bindings_;
};
