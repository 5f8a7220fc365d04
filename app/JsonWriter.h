#pragma once

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "app/CheckOutput.h"
#include "app/OutputText.h"

namespace dsc {

// Text waiting to be written, appended in small pieces: a growing array
// whose appends of short, fixed-length pieces compile to a few moves.
class LineBuffer {
 public:
  // Space for n more bytes; Commit says where the written text ends.
  char* Room(size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  void Commit(const char* end) { size_ = static_cast<size_t>(end - data_.get()); }
  void Add(std::string_view text) {
    std::memcpy(Room(text.size()), text.data(), text.size());
    size_ += text.size();
  }
  std::string_view view() const { return {data_.get(), size_}; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }

 private:
  void Grow(size_t n);
  std::unique_ptr<char[]> data_;
  size_t size_ = 0, capacity_ = 0;
};

// One JSON object per line: "command" for every command, "preparation" for a
// test that could not be prepared, "summary" at the end.
class JsonWriter final : public CheckOutput {
 public:
  JsonWriter(std::ostream& out, bool terminal) : out_(out), flusher_(out, terminal) {}
  // Lines of a run that ends without Finished still reach the stream.
  ~JsonWriter() override {
    if (!pending_.empty()) Hand(true);
  }
  void CommandEnded(const CommandOutcome& outcome) override;
  // A server's lines are all in the stream when its run ends.
  void ServerEnded(const RunSummary&) override { Hand(flusher_.Due()); }
  void ServerNotPrepared(const std::string& context, const std::string& server,
                         const std::string& reason) override;
  void RunEnded(const CheckTotals& totals) override;

  // Fields a control system adds to a command's line, written as they come
  // (",\"key\":value..."): its own names of server and device, a failure's
  // whole error stack. The text must stay valid until the next call.
  std::function<std::string_view(const CommandOutcome&)> extraFields;

 private:
  void String(std::string_view key, const std::string& text);
  void Number(std::string_view key, int64_t value);
  void Value(std::string_view key, const DecodedValue& value);
  // Hands the finished lines to the stream; flush: and on to the reader.
  void Hand(bool flush);
  std::ostream& out_;
  LineFlusher flusher_;
  TimestampCache clock_;
  // Finished lines not yet handed on, written in large pieces: a pipe or a
  // file gets one system call per 64 KiB, not one per few lines.
  LineBuffer pending_;
  // The start of every command line of one server, which is the same for
  // all of them: {"type":"command","context":...,"server":...,"index":
  std::string prefix_, prefixContext_, prefixServer_;
};

}  // namespace dsc
