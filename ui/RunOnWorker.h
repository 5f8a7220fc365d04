#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <QObject>

#include "access/DataAcquisitionControl.h"
#include "engine/FrontEnd.h"
#include "engine/RunEvents.h"
#include "ui/OffThread.h"
#include "ui/QtFrontEnd.h"

namespace dsc::ui {

// The window's side of a run that goes on the worker thread as a whole, so
// that the control's calls are direct calls there instead of one hand-over
// each (which costs more than a simulated access). What the runner writes
// into the grid and tells its observers is kept in order and applied on the
// GUI thread in batches (Drain); what needs an answer (a Link Error box, the
// grid's text) is asked on the GUI thread with the worker waiting for it.
// Called on the GUI thread, every front end below passes straight through.
class GuiRelay {
 public:
  GuiRelay(QObject& gui, BlockingCalls& calls, QtResultsGrid& grid)
      : gui_(gui), calls_(calls), grid_(grid) {}

  bool onWorker() const { return calls_.onWorker(); }
  // Runs `call` on the GUI thread after everything kept so far has been
  // applied; on the worker, returns once it has, rethrowing what it threw.
  void OnGui(const std::function<void()>& call);
  // GUI thread: applies what the worker has kept since the last time.
  void Drain();
  // GUI thread, once the run on the worker has returned: the last of it.
  void RunEnded();

  // Worker: a grid write or an observer's event, kept for the GUI thread.
  struct Op {
    enum class Kind : uint8_t { Clear, Rows, Row, Col, Text, Color, Width, Call };
    Kind kind = Kind::Call;
    int32_t value = 0, twips = 0;
    Rgb color;
    std::string text;
    std::function<void()> call;
  };
  void Keep(Op op);
  // Worker, between commands: the calls the GUI thread handed over meanwhile
  // (a handler's query) run now.
  void ServeQueued() { calls_.ServeQueued(); }

 private:
  void Apply(Op& op);

  QObject& gui_;
  BlockingCalls& calls_;
  QtResultsGrid& grid_;
  std::mutex mutex_;
  std::vector<Op> kept_, applying_;
  std::vector<Op> spent_;  // applied, for the worker to free
  bool draining_ = false;
};

// The grid as the runner sees it: the window's grid on the GUI thread, kept
// writes on the worker.
class RelayGrid final : public ResultsGrid {
 public:
  RelayGrid(GuiRelay& relay, QtResultsGrid& grid) : relay_(relay), grid_(grid) {}
  void Clear() override;
  void SetRows(int32_t rows) override;
  void SelectRow(int32_t row) override;
  void SelectCol(int32_t col) override;
  void SetText(const std::string& text) override;
  std::string Text() const override;
  void SetTextColor(Rgb color) override;
  void SetColumnWidthTwips(int32_t col, int32_t twips) override;

 private:
  void Keep(GuiRelay::Op::Kind kind, int32_t value, int32_t twips = 0);
  GuiRelay& relay_;
  QtResultsGrid& grid_;
};

// The Link Error box is always asked on the GUI thread.
class RelayPrompt final : public LinkErrorPrompt {
 public:
  RelayPrompt(GuiRelay& relay, LinkErrorPrompt& prompt) : relay_(relay), prompt_(prompt) {}
  Answer Ask(const std::string& title, const std::string& text) override;
  void NewCommand() override { prompt_.NewCommand(); }

 private:
  GuiRelay& relay_;
  LinkErrorPrompt& prompt_;
};

// On the worker the GUI thread processes its own events; pumping is the
// control's completion events only, delivered there when the runner pumps.
// A sleep the window was given (tests) runs on the GUI thread.
class RelayPump final : public EventPump {
 public:
  RelayPump(GuiRelay& relay, EventPump& pump, DataAcquisitionControl& control,
            std::function<void(int32_t)> sleep)
      : relay_(relay), pump_(pump), control_(control), sleep_(std::move(sleep)) {}
  void Sleep(int32_t ms) override;
  void ProcessPendingEvents() override;

 private:
  GuiRelay& relay_;
  EventPump& pump_;
  DataAcquisitionControl& control_;
  std::function<void(int32_t)> sleep_;
};

// An observer that sees the run's events on the GUI thread, in order.
class RelayObserver final : public RunObserver {
 public:
  RelayObserver(GuiRelay& relay, RunObserver& observer) : relay_(relay), observer_(observer) {}
  void ServerStarted(const std::string& context, const std::string& server,
                     int32_t planned) override;
  void CommandStarted(int32_t index, const TestCommand& command) override;
  void CommandEnded(const CommandOutcome& outcome) override;
  void ServerEnded(const RunSummary& summary) override;

 private:
  void Keep(std::function<void()> call) {
    GuiRelay::Op op;
    op.call = std::move(call);
    relay_.Keep(std::move(op));
  }
  GuiRelay& relay_;
  RunObserver& observer_;
};

}  // namespace dsc::ui
