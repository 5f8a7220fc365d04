#include "html/HtmlReport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "html/HtmlPage.h"
#include "html/HtmlWriter.h"

namespace dsc {

namespace {

int64_t UnixNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

FILE* OpenPage(const std::string& path, std::string& error) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) error = path + ": " + std::strerror(errno);
  return f;
}

}  // namespace

HtmlReport::HtmlReport(HtmlRunInfo info) {
  run_.info = std::move(info);
  if (run_.info.startedMs == 0) run_.info.startedMs = UnixNowMs();
}

HtmlRun::Server& HtmlReport::ServerFor(const std::string& context, const std::string& server) {
  auto& servers = run_.servers;
  if (!servers.empty() && servers.back().context == context && servers.back().server == server)
    return servers.back();
  HtmlRun::Server& s = servers.emplace_back();
  s.context = context;
  s.server = server;
  s.startMs = UnixNowMs();
  return s;
}

void HtmlReport::ServerStarted(const std::string& context, const std::string& server,
                               int32_t planned) {
  // A sweep runs a server's devices one after the other: one section.
  HtmlRun::Server& s = ServerFor(context, server);
  s.planned += std::max(planned, 0);
  s.rows.reserve(static_cast<size_t>(s.planned));
}

void HtmlReport::ValueDelivered(int32_t index, int64_t atMs, const DecodedValue& value) {
  if (index != pendingIndex_) {
    pendingDeliveries_.clear();
    pendingIndex_ = index;
  }
  // A long poll keeps its first few thousand values: enough for the picture.
  if (pendingDeliveries_.size() >= 5000) return;
  HtmlRun::Delivery d;
  d.atMs = atMs;
  d.shown = value.Display();
  if (value.kind == DecodedValue::Kind::Number && !value.numbers.empty()) {
    d.number = value.numbers[0];
    d.isNumber = true;
  }
  pendingDeliveries_.push_back(std::move(d));
}

void HtmlReport::CommandEnded(const CommandOutcome& o) {
  HtmlRun::Server& s = ServerFor(o.context, o.server);
  HtmlRun::Row& r = s.rows.emplace_back();
  r.index = o.index;
  r.kind = o.verdict();
  r.timedOut = o.outcome.failure == AccessFailure::TimedOut;
  r.ms = o.elapsedMs;
  if (o.command) {
    r.description = o.command->Description;
    r.property = o.command->Property;
    r.device = o.command->Device;
  }
  r.result = o.resultText;
  if (!o.actual.empty()) r.value = o.actual.Display();
  if (!o.expected.empty()) r.expected = o.expected.Display();
  ++s.counts[static_cast<int>(r.kind)];
  if (pendingIndex_ == o.index && !pendingDeliveries_.empty()) {
    s.polls.push_back({static_cast<int32_t>(s.rows.size() - 1), std::move(pendingDeliveries_)});
    pendingDeliveries_.clear();
  }
  pendingIndex_ = -1;
}

void HtmlReport::ServerEnded(const RunSummary& summary) {
  HtmlRun::Server& s = ServerFor(summary.context, summary.server);
  s.ms = UnixNowMs() - s.startMs;
  s.stoppedBy = summary.stoppedBy;
}

void HtmlReport::ServerNotPrepared(const std::string& context, const std::string& server,
                                   const std::string& reason) {
  ServerFor(context, server).notPrepared = reason.empty() ? "not prepared" : reason;
}

void HtmlReport::RunEnded(const CheckTotals& totals) {
  totals_ = totals;
  ended_ = true;
}

bool HtmlReport::Open(const std::string& path, std::string& error) {
  path_ = path;
  FILE* f = OpenPage(path, error);
  return f && std::fclose(f) == 0;
}

void HtmlReport::Finished(const CheckTotals& totals) { written_ = Save(path_, totals, error_); }

bool HtmlReport::Save(const std::string& path, const CheckTotals& totals,
                      std::string& error) const {
  FILE* f = OpenPage(path, error);
  if (!f) return false;
  HtmlWriter out(f);
  WritePage(out, run_, totals);
  bool ok = out.Flush();
  if (std::fclose(f) != 0) ok = false;
  // A full disk shows at the latest when the file is closed.
  if (!ok) error = path + ": " + std::strerror(errno ? errno : EIO);
  return ok;
}

std::string HtmlReport::Page(const CheckTotals& totals) const {
  HtmlWriter out;
  WritePage(out, run_, totals);
  return out.text();
}

}  // namespace dsc
