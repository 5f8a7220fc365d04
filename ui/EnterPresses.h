#pragma once

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>

namespace dsc::ui {

// Enter and Return press the focused button, as Space does. The buttons are
// not auto-default (a default button would take Enter from the selectors and
// the list), so without this Enter on a focused button does nothing.
class EnterPresses final : public QObject {
 public:
  explicit EnterPresses(QObject* parent) : QObject(parent) {}
  void watch(QAbstractButton* button) { button->installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
        (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
      return false;
    auto* button = qobject_cast<QAbstractButton*>(watched);
    if (!button || !button->isEnabled()) return false;
    button->click();
    return true;
  }
};

}  // namespace dsc::ui
