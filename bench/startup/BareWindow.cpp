// A bare Qt window of the same kind as the checker's: the same widgets in the
// same layout and size (editable lists, radio buttons, a framed label, a
// two-column table, a column of buttons), with nothing behind them.

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("Device Server Checker");

  auto* configured = new QRadioButton("Configured", &window);
  configured->setChecked(true);
  auto* selected = new QRadioButton("Selected", &window);
  auto* configurations = new QComboBox(&window);
  QComboBox* lists[3];
  for (QComboBox*& list : lists) {
    list = new QComboBox(&window);
    list->setEditable(true);
    list->setMinimumContentsLength(14);
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  }
  auto* label = new QLabel(&window);
  label->setWordWrap(true);
  label->setFrameShape(QFrame::StyledPanel);
  label->setMargin(4);
  label->setMinimumHeight(label->fontMetrics().lineSpacing() * 6 + 10);
  auto* table = new QTableWidget(0, 2, &window);
  table->horizontalHeader()->setStretchLastSection(true);
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);

  auto* left = new QGridLayout;
  left->addWidget(configured, 0, 0);
  left->addWidget(configurations, 0, 1, 1, 3);
  left->addWidget(selected, 1, 0);
  for (int i = 0; i < 3; ++i) left->addWidget(lists[i], 1, i + 1);
  left->addWidget(label, 2, 0, 1, 4);
  left->addWidget(table, 3, 0, 1, 4);
  left->setRowStretch(3, 1);
  auto* right = new QVBoxLayout;
  for (const char* text :
       {"Information", "Standard Test", "Specific Test", "Edit Test", "Show Report"}) {
    auto* button = new QPushButton(text, &window);
    button->setMinimumWidth(130);
    right->addWidget(button);
  }
  right->addStretch(1);
  auto* outer = new QHBoxLayout(&window);
  outer->addLayout(left, 1);
  outer->addLayout(right);
  window.resize(1000, 700);
  window.show();
  return app.exec();
}
