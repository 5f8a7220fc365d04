#include "ui/RunOnWorker.h"

#include <exception>
#include <thread>
#include <utility>

#include <QMetaObject>

namespace dsc::ui {

void GuiRelay::OnGui(const std::function<void()>& call) {
  if (!onWorker()) {
    call();
    return;
  }
  std::exception_ptr error;
  // The worker waits for the answer: a call the GUI thread makes to the
  // control system meanwhile runs there at once. The GUI thread itself says
  // when that ends, before the worker goes on.
  calls_.setWorkerParked(true);
  QMetaObject::invokeMethod(
      &gui_,
      [&] {
        try {
          Drain();
          call();
        } catch (...) {
          error = std::current_exception();
        }
        calls_.setWorkerParked(false);
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void GuiRelay::Keep(Op op) {
  std::vector<Op> spent;
  {
    std::lock_guard lock(mutex_);
    kept_.push_back(std::move(op));
    if (!spent_.empty()) std::swap(spent, spent_);
  }
  // Freed here, on the thread that allocated them, where freeing is cheap.
}

void GuiRelay::Drain() {
  // An observer that processes events must not apply later writes before
  // the rest of this batch.
  if (draining_) return;
  draining_ = true;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      applying_.clear();
      std::swap(kept_, applying_);
    }
    if (applying_.empty()) break;
    for (Op& op : applying_) Apply(op);
    std::lock_guard lock(mutex_);
    // Handed back to the worker to free (see Keep).
    if (spent_.empty()) std::swap(spent_, applying_);
  }
  applying_.clear();
  draining_ = false;
}

void GuiRelay::RunEnded() {
  Drain();
  std::lock_guard lock(mutex_);
  spent_.clear();
}

void GuiRelay::Apply(Op& op) {
  using Kind = Op::Kind;
  switch (op.kind) {
    case Kind::Clear:
      grid_.Clear();
      break;
    case Kind::Rows:
      grid_.SetRows(op.value);
      break;
    case Kind::Row:
      grid_.SelectRow(op.value);
      break;
    case Kind::Col:
      grid_.SelectCol(op.value);
      break;
    case Kind::Text:
      grid_.SetText(op.text);
      break;
    case Kind::Color:
      grid_.SetTextColor(op.color);
      break;
    case Kind::Width:
      grid_.SetColumnWidthTwips(op.value, op.twips);
      break;
    case Kind::Call:
      op.call();
      break;
  }
}

void RelayGrid::Keep(GuiRelay::Op::Kind kind, int32_t value, int32_t twips) {
  GuiRelay::Op op;
  op.kind = kind;
  op.value = value;
  op.twips = twips;
  relay_.Keep(std::move(op));
}

void RelayGrid::Clear() {
  if (!relay_.onWorker()) return grid_.Clear();
  Keep(GuiRelay::Op::Kind::Clear, 0);
}

void RelayGrid::SetRows(int32_t rows) {
  if (!relay_.onWorker()) return grid_.SetRows(rows);
  Keep(GuiRelay::Op::Kind::Rows, rows);
}

void RelayGrid::SelectRow(int32_t row) {
  if (!relay_.onWorker()) return grid_.SelectRow(row);
  Keep(GuiRelay::Op::Kind::Row, row);
}

void RelayGrid::SelectCol(int32_t col) {
  if (!relay_.onWorker()) return grid_.SelectCol(col);
  Keep(GuiRelay::Op::Kind::Col, col);
}

void RelayGrid::SetText(const std::string& text) {
  if (!relay_.onWorker()) return grid_.SetText(text);
  GuiRelay::Op op;
  op.kind = GuiRelay::Op::Kind::Text;
  op.text = text;
  relay_.Keep(std::move(op));
}

std::string RelayGrid::Text() const {
  std::string text;
  relay_.OnGui([&] { text = grid_.Text(); });
  return text;
}

void RelayGrid::SetTextColor(Rgb color) {
  if (!relay_.onWorker()) return grid_.SetTextColor(color);
  GuiRelay::Op op;
  op.kind = GuiRelay::Op::Kind::Color;
  op.color = color;
  relay_.Keep(std::move(op));
}

void RelayGrid::SetColumnWidthTwips(int32_t col, int32_t twips) {
  if (!relay_.onWorker()) return grid_.SetColumnWidthTwips(col, twips);
  Keep(GuiRelay::Op::Kind::Width, col, twips);
}

LinkErrorPrompt::Answer RelayPrompt::Ask(const std::string& title, const std::string& text) {
  Answer answer = Answer::Cancel;
  relay_.OnGui([&] { answer = prompt_.Ask(title, text); });
  return answer;
}

void RelayPump::Sleep(int32_t ms) {
  if (!relay_.onWorker()) return pump_.Sleep(ms);
  if (sleep_) {
    relay_.OnGui([&] { sleep_(ms); });
  } else if (ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
}

void RelayPump::ProcessPendingEvents() {
  if (!relay_.onWorker()) return pump_.ProcessPendingEvents();
  // A command that waits for its completion does not hold up a handler's
  // query until it ends.
  relay_.ServeQueued();
  control_.ProcessEvents();
}

void RelayObserver::ServerStarted(const std::string& context, const std::string& server,
                                  int32_t planned) {
  if (!relay_.onWorker()) return observer_.ServerStarted(context, server, planned);
  Keep([this, context, server, planned] { observer_.ServerStarted(context, server, planned); });
}

void RelayObserver::CommandStarted(int32_t index, const TestCommand& command) {
  if (!relay_.onWorker()) return observer_.CommandStarted(index, command);
  // The command belongs to the plan, which stays put while the run goes on.
  Keep([this, index, c = &command] { observer_.CommandStarted(index, *c); });
  relay_.ServeQueued();
}

void RelayObserver::CommandEnded(const CommandOutcome& outcome) {
  if (!relay_.onWorker()) return observer_.CommandEnded(outcome);
  Keep([this, outcome] { observer_.CommandEnded(outcome); });
}

void RelayObserver::ServerEnded(const RunSummary& summary) {
  if (!relay_.onWorker()) return observer_.ServerEnded(summary);
  Keep([this, summary] { observer_.ServerEnded(summary); });
}

}  // namespace dsc::ui
