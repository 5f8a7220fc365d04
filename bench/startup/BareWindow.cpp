// A bare Qt window of the same kind as the checker's: one top-level QWidget
// with lists, radio buttons, a label, a table and a row of buttons, nothing
// behind them.

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle("Bare window");
  auto* grid = new QGridLayout(&window);
  for (int i = 0; i < 4; ++i) grid->addWidget(new QComboBox, 0, i);
  grid->addWidget(new QRadioButton("One"), 1, 0);
  grid->addWidget(new QRadioButton("Two"), 1, 1);
  grid->addWidget(new QLabel("Caption"), 2, 0, 1, 4);
  auto* table = new QTableWidget(20, 6);
  grid->addWidget(table, 3, 0, 1, 4);
  for (const char* text : {"One", "Two", "Three", "Four", "Five"})
    grid->addWidget(new QPushButton(text), 4, grid->columnCount() > 4 ? 0 : grid->count() % 4);
  window.resize(800, 600);
  window.show();
  return app.exec();
}
