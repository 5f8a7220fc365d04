#pragma once

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QString>

namespace dsc::testing {

// One QApplication for the whole test program (the tests link gtest_main).
// Deliberately never destroyed: widgets of failed tests may outlive main.
inline QApplication& QtApp() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* created = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Settings the window remembers go to a directory of this run's own,
    // never to the user's.
    static const QString settings =
        QDir::temp().filePath(QString("ovra-ui-tests-%1").arg(QApplication::applicationPid()));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    return created;
  }();
  return *app;
}

}  // namespace dsc::testing
