#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace dsc {

// Writes an HTML page as it goes: elements opened and closed in order, every
// text and attribute value through AppendMarkup (base/Markup.h), so no text
// of a control system can become markup, and the result is well-formed XML
// under an HTML doctype that tests and tools can read back. Written into a
// file, the page passes through a buffer of kFlushAt bytes: a page of many
// megabytes is never held whole in memory.
class HtmlWriter {
 public:
  static constexpr size_t kFlushAt = 1 << 16;
  // Into a file (the caller opens and closes it), or, without, into text().
  explicit HtmlWriter(FILE* file = nullptr) : file_(file) {
    if (file_) buffer_.reserve(2 * kFlushAt);
  }
  HtmlWriter(const HtmlWriter&) = delete;
  HtmlWriter& operator=(const HtmlWriter&) = delete;

  // "<tag": attributes may follow until the first content.
  HtmlWriter& Start(const char* tag, const char* cls = nullptr);
  HtmlWriter& Attr(const char* name, std::string_view value);
  HtmlWriter& Attr(const char* name, int64_t value);
  HtmlWriter& AttrFixed(const char* name, double value, int decimals);
  HtmlWriter& Text(std::string_view text);
  // Text of this program's own that holds no markup character (the style,
  // the script, a line end): written as it is.
  HtmlWriter& Own(std::string_view text);
  // "</tag>"; every HTML element is closed so, as HTML reads "<td/>" as a
  // start tag only.
  HtmlWriter& End();
  // "/>": for the void elements (meta, input, col) and the SVG's shapes.
  HtmlWriter& Void();
  // An element of text: Start(tag, cls), Text(text), End().
  HtmlWriter& Element(const char* tag, std::string_view text, const char* cls = nullptr);

  // Writes what is buffered; false when the file reported an error.
  bool Flush();
  // The page written so far, without a file.
  const std::string& text() const { return buffer_; }

 private:
  void CloseStartTag() {
    if (startOpen_) buffer_ += '>';
    startOpen_ = false;
  }
  void MaybeFlush() {
    if (file_ && buffer_.size() >= kFlushAt) Flush();
  }
  FILE* file_;
  std::string buffer_;
  std::vector<const char*> open_;  // the tags not closed yet, literals
  bool startOpen_ = false;
};

// Numbers as the page shows them: "12.5" (trailing zeros dropped), and
// elapsed times "850 ms", "1.25 s", "72.5 s".
std::string Fixed(double v, int decimals);
void AppendFixed(std::string& out, double v, int decimals);
std::string SecondsText(int64_t ms);

}  // namespace dsc
