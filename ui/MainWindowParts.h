#pragma once

// What the files of the main window share: helpers and the two classes the
// window keeps beside its widgets. Included by ui/MainWindow*.cpp only.

#include <atomic>
#include <memory>
#include <string>

#include <QPalette>
#include <QString>

#include "ui/MainWindow.h"

namespace dsc::ui::window {

// The last line of a caption (where the test sources put the reason), without
// the directory of a file it names, for a one-line note.
inline QString Reason(const std::string& text) {
  QString shown = FromLatin1(text);
  shown.replace("\r\n", "\n");
  return shown.trimmed().section('\n', -1).section('/', -1).trimmed();
}

inline bool IsDark(const QPalette& palette) {
  return palette.color(QPalette::Base).lightness() < 128;
}

// Holds a counter up for the lifetime of a scope.
struct Counted {
  explicit Counted(std::atomic<int>& n) : n_(n) { ++n_; }
  ~Counted() { --n_; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  std::atomic<int>& n_;
};

}  // namespace dsc::ui::window

namespace dsc::ui {

// What a configured run's summary shows for one server.
struct Vesker::ServerOutcome {
  std::string server;
  std::shared_ptr<RunRows> rows;  // null when the server was not run
  int32_t planned = 0, run = 0, failed = 0, skipped = 0;
  QString note;
  std::string caption;  // the test's caption as the run showed it
  bool running = false;
};

// Counts the run's commands for the progress line and keeps each command's
// decoded values beside its row. Widgets are updated only when the window
// processes events: a label per command would cost more than the command.
class Vesker::Progress final : public RunObserver {
 public:
  explicit Progress(Vesker& w) : w_(w) {}

  void ServerStarted(const std::string& context, const std::string& server,
                     int32_t planned) override {
    rows = w_.model_->StartRun(context, server);
    this->server = server;
    this->planned = planned;
    current = -1;
    silentAsks = 0;
    done = failed = notRun = 0;
    running = true;
    changed = true;
  }
  void CommandStarted(int32_t index, const TestCommand&) override {
    current = index;
    w_.keepAnswering();
  }
  void CommandEnded(const CommandOutcome& o) override {
    // A command a stop left out was not done; the summary says the run
    // stopped, and its row what it would have done and that it did not.
    if (o.outcome.notRun == NotRunReason::Interrupted) {
      if (o.command)
        w_.model_->SetRow(o.index + 1, o.command->Description, o.resultText,
                          ResultColorOf(o.outcome));
      changed = true;
      return;
    }
    ++done;
    if (o.skipped()) {
      ++notRun;
    } else if (!o.outcome.passed()) {
      ++failed;
    }
    if (!o.actual.empty() || !o.expected.empty())
      w_.model_->SetValues(o.index + 1, o.actual.Display(), o.expected.Display());
    changed = true;
  }
  void ServerEnded(const RunSummary& s) override {
    last = s;
    running = false;
    changed = true;
  }

  std::shared_ptr<RunRows> rows;
  RunSummary last;
  int32_t planned = 0, done = 0, failed = 0, notRun = 0;
  std::string server;
  int32_t current = -1;    // the command under way
  int32_t silentAsks = 0;  // Link Error boxes of this server's run for a server not answering
  bool running = false, changed = false;

 private:
  Vesker& w_;
};

}  // namespace dsc::ui
