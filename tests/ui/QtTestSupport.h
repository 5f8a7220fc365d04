#pragma once

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

namespace dsc::testing {

// One QApplication for the whole test program (the tests link gtest_main).
// Deliberately never destroyed: widgets of failed tests may outlive main.
inline QApplication& QtApp() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    // Without a session's runtime directory Qt makes /tmp/runtime-$USER.
    static const QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
      qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    auto* created = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    // Settings the window remembers go to a directory of this run's own,
    // never to the user's, removed when the run ends.
    static const QTemporaryDir settings;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    return created;
  }();
  return *app;
}

}  // namespace dsc::testing
