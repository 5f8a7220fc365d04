#include "app/ProgressLine.h"

namespace dsc {

namespace {

// "75 s" below two minutes, "12 min 5 s" above: a glance, not a timing.
std::string Duration(int64_t ms) {
  const int64_t s = (ms + 500) / 1000;
  if (s < 120) return std::to_string(s) + " s";
  return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
}

}  // namespace

void ProgressLine::Start(int32_t servers) {
  total_ = servers;
  done_ = failed_ = 0;
  start_ = std::chrono::steady_clock::now();
  started_ = shown_ && servers > 1;
  Draw();
}

void ProgressLine::ServerDone(bool failed) {
  ++done_;
  if (failed) ++failed_;
  Erase();
  Draw();
}

std::string ProgressLine::Text(int64_t elapsedMs) const {
  std::string text = "servers " + std::to_string(done_) + " of " + std::to_string(total_) +
                     " done, " + std::to_string(failed_) + " failed, " + Duration(elapsedMs) +
                     " elapsed";
  // The servers done so far say what the rest will take; none done says nothing.
  if (done_ > 0 && done_ < total_)
    text += ", about " + Duration(elapsedMs * (total_ - done_) / done_) + " left";
  return text;
}

void ProgressLine::Erase() {
  if (!drawn_) return;
  out_ << "\r\x1b[K";
  drawn_ = false;
}

void ProgressLine::Draw() {
  if (!started_ || drawn_) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start_)
                      .count();
  // Reverse video sets it apart from the result lines; no line end, so the
  // next line of another output starts where it was erased.
  out_ << "\x1b[7m" << Text(ms) << "\x1b[0m";
  out_.flush();
  drawn_ = true;
}

}  // namespace dsc
