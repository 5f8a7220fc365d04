#pragma once

#include <QComboBox>
#include <QTimer>

namespace dsc::ui {

// A selector that accepts typed names and tells a choice from its list
// (chosen) apart from typing. QComboBox::activated also fires when editing
// ends on a text equal to an entry (Return, Tab, a click elsewhere); only a
// choice made in the popup, or from code through choose(), is a choice here.
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
