#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QTimer>
#include <QWheelEvent>

namespace dsc::ui {

// A selector that accepts typed names and tells a choice from its list
// (chosen) apart from typing. QComboBox::activated also fires when editing
// ends on a text equal to an entry (Return, Tab, a click elsewhere); only a
// choice made in the popup, by the arrow keys or the wheel, or from code
// through choose(), is a choice here.
class SelectorCombo final : public QComboBox {
  Q_OBJECT

 public:
  explicit SelectorCombo(QWidget* parent = nullptr) : QComboBox(parent) {
    connect(this, &QComboBox::activated, this, [this](int index) {
      if (!fromPopup_) return;
      fromPopup_ = false;
      emit chosen(index);
    });
  }

  // Selects the entry as the operator's choice would.
  void choose(int index) {
    setCurrentIndex(index);
    emit chosen(index);
  }

  // Arrow keys, Page Up/Down and the wheel change the current entry without
  // the popup: that is a choice too, and runs the same cascade. Return on a
  // typed text equal to an entry is not.
  void keyPressEvent(QKeyEvent* event) override {
    const int before = currentIndex();
    QComboBox::keyPressEvent(event);
    switch (event->key()) {
      case Qt::Key_Up:
      case Qt::Key_Down:
      case Qt::Key_PageUp:
      case Qt::Key_PageDown:
      case Qt::Key_Home:
      case Qt::Key_End:
        if (currentIndex() != before && currentIndex() >= 0 && !view()->isVisible())
          emit chosen(currentIndex());
        break;
      default:
        break;
    }
  }
  void wheelEvent(QWheelEvent* event) override {
    const int before = currentIndex();
    QComboBox::wheelEvent(event);
    if (currentIndex() != before && currentIndex() >= 0) emit chosen(currentIndex());
  }

  // The popup is hidden right before it reports the entry picked in it.
  void hidePopup() override {
    fromPopup_ = true;
    QComboBox::hidePopup();
    QTimer::singleShot(0, this, [this] { fromPopup_ = false; });
  }

 signals:
  void chosen(int index);

 private:
  bool fromPopup_ = false;
};

}  // namespace dsc::ui
