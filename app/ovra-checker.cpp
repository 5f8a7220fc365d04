// The checker's window program. Starts on the bundled demo facility unless
// --facility names another one or a Tango site file.

#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFontMetrics>
#include <QMessageBox>
#include <QPalette>
#include <QProcess>
#include <QRadioButton>
#include <QTimer>

#include "app/ControlSystems.h"
#include "base/Clock.h"
#include "sources/TestSources.h"
#include "ui/MainWindow.h"
#include "ui/SelectorCombo.h"

namespace {

// Clicks through the window for docs/screenshots.sh. Steps are separated by
// ";" and run one after another, each a moment after the previous one started,
// so that steps keep coming while a modal box is open:
//   click:NAME  check:NAME  pick:COMBO=TEXT  button:TEXT (of the open box)
//   close (the open modal window)   shot:FILE   wait:MS
//   idle (until no test runs)   dark (a dark palette)   quit
class DemoSteps : public QObject {
 public:
  DemoSteps(dsc::ui::Vesker& window, QStringList steps)
      : window_(window), steps_(std::move(steps)) {}
  void start() {
    QTimer::singleShot(600, this, [this] { next(); });
  }

 private:
  template <class T>
  T* find(const QString& name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == name)
        if (auto* w = qobject_cast<T*>(top)) return w;
      if (auto* w = top->findChild<T*>(name)) return w;
    }
    return nullptr;
  }

  void next() {
    if (index_ >= steps_.size()) return;
    const QString step = steps_[index_++];
    const QString verb = step.section(':', 0, 0), arg = step.section(':', 1);
    int delay = 500;
    if (verb == "wait") delay = arg.toInt();
    if (verb == "idle" && window_.commandRunning()) {
      --index_;
      delay = 200;
    }
    // Scheduled before the step runs: a click may open a modal box, whose own
    // event loop then carries the following steps.
    QTimer::singleShot(delay, this, [this] { next(); });
    if (verb == "click") {
      if (auto* b = find<QAbstractButton>(arg)) b->click();
    } else if (verb == "check") {
      if (auto* b = find<QAbstractButton>(arg)) b->setChecked(true);
    } else if (verb == "pick") {
      if (auto* combo = find<QComboBox>(arg.section('=', 0, 0))) {
        const int i = combo->findText(arg.section('=', 1));
        if (auto* selector = qobject_cast<dsc::ui::SelectorCombo*>(combo); selector && i >= 0) {
          selector->choose(i);
        } else if (i >= 0) {
          combo->setCurrentIndex(i);
          emit combo->activated(i);
        }
      }
    } else if (verb == "button") {
      if (QWidget* modal = QApplication::activeModalWidget())
        for (auto* b : modal->findChildren<QAbstractButton*>())
          if (b->text().remove('&') == arg) {
            b->click();
            break;
          }
    } else if (verb == "close") {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    } else if (verb == "shot") {
      QApplication::processEvents();
      QProcess::execute("import", {"-window", "root", arg});
    } else if (verb == "dark") {
      // A dark scheme, as a desktop's dark theme would give the window.
      QApplication::setStyle("Fusion");
      QPalette dark;
      dark.setColor(QPalette::Window, QColor(45, 45, 48));
      dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
      dark.setColor(QPalette::Base, QColor(30, 30, 32));
      dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
      dark.setColor(QPalette::Text, QColor(230, 230, 230));
      dark.setColor(QPalette::Button, QColor(60, 60, 64));
      dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
      dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
      dark.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
      dark.setColor(QPalette::ToolTipBase, QColor(60, 60, 64));
      dark.setColor(QPalette::ToolTipText, QColor(230, 230, 230));
      for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
      QApplication::setPalette(dark);
      // Fusion draws a radio button's ring a shade darker than the window,
      // which vanishes on a base this dark: the indicators get the buttons'
      // lighter face instead, so the ring and its dot stand out.
      QPalette radio = dark;
      radio.setColor(QPalette::Base, dark.color(QPalette::Button));
      QApplication::setPalette(radio, "QRadioButton");
    } else if (verb == "quit") {
      QApplication::exit(0);
    }
  }

  dsc::ui::Vesker& window_;
  QStringList steps_;
  qsizetype index_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setOrganizationName("ovra");  // where QSettings keeps the window's choices
  QCoreApplication::setApplicationName("ovra-checker");
  QCoreApplication::setApplicationVersion(OVRA_VERSION);

  QCommandLineParser parser;
  parser.setApplicationDescription(QString("Device Server Checker\n\n") +
                                   dsc::kWhereThingsComeFrom);
  const QCommandLineOption helpOption = parser.addHelpOption();
  const QCommandLineOption versionOption = parser.addVersionOption();
  QCommandLineOption facilityOption(
      "facility",
      "Facility description of the simulated control system (default: $OVRA_FACILITY, else the "
      "demo), or a Tango site file.",
      "FILE");
  QCommandLineOption tangoHostOption(
      "tango-host",
      "A Tango database (several allowed): its servers and devices are checked. Without "
      "--facility and --tango-host, TANGO_HOST in the environment names them.",
      "HOST:PORT");
  QCommandLineOption databaseOption(
      "database", "Database directory with procedures.csv and the test files.", "DIR");
  QCommandLineOption stepsOption("demo-steps", "Steps to click through.", "STEPS");
  stepsOption.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOptions({facilityOption, tangoHostOption, databaseOption, stepsOption});

  // --help and --version answer before the window system is touched, so
  // that they work without a display (help2man runs them).
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const bool parsed = parser.parse(arguments);
  if (parsed &&
      (parser.isSet(helpOption) || parser.isSet("help-all") || parser.isSet(versionOption))) {
    QCoreApplication terminal(argc, argv);
    QCoreApplication::setApplicationVersion(QString(OVRA_VERSION "\n") +
                                            QString::fromStdString(dsc::BackendStatus()));
    parser.process(terminal);  // prints and exits
  }

  dsc::SystemClock clock;
  struct Opened {
    dsc::ControlSystem system;
    std::string error;
    bool ok = false;
  };
  // What the options ask to open, and opening it.
  auto chosen = [&] {
    const std::string file = dsc::ChosenFacility(
        parser.isSet(facilityOption) ? parser.value(facilityOption).toStdString() : "");
    std::vector<std::string> given;
    for (const QString& host : parser.values(tangoHostOption)) given.push_back(host.toStdString());
    return std::pair(file, file.empty() ? dsc::AddressesToOpen(given) : std::vector<std::string>{});
  };
  auto open = [&clock](const std::string& file, const std::vector<std::string>& hosts) {
    Opened o;
    o.ok = hosts.empty() ? dsc::OpenControlSystem(file, clock, o.system, o.error)
                         : dsc::OpenAddresses(hosts, clock, o.system, o.error);
    return o;
  };
  // The built-in demo facility is read and checked on a second thread while
  // Qt starts up (the window system, the fonts). Only the demo: Tango's
  // libraries read the environment, which Qt may change as it starts. With
  // options only Qt knows (-platform ...), the arguments are understood once
  // Qt has taken its own, and the control system opens after that.
  std::future<Opened> early;
  if (parsed) {
    if (auto [file, hosts] = chosen(); file.empty() && hosts.empty())
      early = std::async(std::launch::async, open, file, hosts);
  }
  QApplication app(argc, argv);
  parser.process(app);

  Opened opened;
  if (early.valid()) {
    // Meanwhile the fonts are looked up, as the window's first text would
    // have them looked up: the longest part of Qt's start.
    QFontMetrics(QApplication::font()).height();
    opened = early.get();
  } else {
    const auto [file, hosts] = chosen();
    opened = open(file, hosts);
  }
  dsc::ControlSystem& system = opened.system;
  const std::string& error = opened.error;
  if (!opened.ok) {
    std::fprintf(stderr, "ovra-checker: %s\n", error.c_str());
    QMessageBox::critical(
        nullptr, "Device Server Checker",
        "The control system could not be opened:\n" + QString::fromStdString(error));
    return 2;
  }

  dsc::ui::VeskerOptions options;
  options.clock = &clock;
  options.callsMayBlock = system.callsMayBlock;
  options.systemDescription = system.description;
  options.databasePath =
      dsc::ChooseDatabaseDirectory(
          dsc::DatabaseSearch::FromEnvironment(
              argv[0], parser.isSet(databaseOption)
                           ? QDir(parser.value(databaseOption)).absolutePath().toStdString()
                           : ""))
          .path;

  dsc::ui::Vesker window(std::move(system.library), std::move(system.control), options);
  // Which facility and database this window works on.
  window.setWindowTitle(window.windowTitle() + " \u2014 " +
                        QString::fromStdString(system.description) + ", database " +
                        QString::fromStdString(options.databasePath));
  window.show();

  std::unique_ptr<DemoSteps> steps;
  if (parser.isSet(stepsOption)) {
    window.move(0, 0);
    steps = std::make_unique<DemoSteps>(window, parser.value(stepsOption).split(';'));
    steps->start();
  }
  return app.exec();
}
