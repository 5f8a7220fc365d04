#include "html/HtmlWriter.h"

#include <charconv>

#include "base/Markup.h"

namespace dsc {

HtmlWriter& HtmlWriter::Start(const char* tag, const char* cls) {
  CloseStartTag();
  MaybeFlush();
  buffer_ += '<';
  buffer_ += tag;
  open_.push_back(tag);
  startOpen_ = true;
  if (cls) Attr("class", cls);
  return *this;
}

HtmlWriter& HtmlWriter::Attr(const char* name, std::string_view value) {
  buffer_ += ' ';
  buffer_ += name;
  buffer_ += "=\"";
  AppendMarkup(buffer_, value);
  buffer_ += '"';
  return *this;
}

HtmlWriter& HtmlWriter::Attr(const char* name, int64_t value) {
  char digits[24];
  buffer_ += ' ';
  buffer_ += name;
  buffer_ += "=\"";
  buffer_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
  buffer_ += '"';
  return *this;
}

HtmlWriter& HtmlWriter::AttrFixed(const char* name, double value, int decimals) {
  buffer_ += ' ';
  buffer_ += name;
  buffer_ += "=\"";
  AppendFixed(buffer_, value, decimals);
  buffer_ += '"';
  return *this;
}

HtmlWriter& HtmlWriter::Text(std::string_view text) {
  CloseStartTag();
  AppendMarkup(buffer_, text);
  return *this;
}

HtmlWriter& HtmlWriter::Own(std::string_view text) {
  CloseStartTag();
  buffer_ += text;
  return *this;
}

HtmlWriter& HtmlWriter::End() {
  CloseStartTag();
  buffer_ += "</";
  buffer_ += open_.back();
  buffer_ += '>';
  open_.pop_back();
  return *this;
}

HtmlWriter& HtmlWriter::Void() {
  buffer_ += "/>";
  startOpen_ = false;
  open_.pop_back();
  return *this;
}

HtmlWriter& HtmlWriter::Element(const char* tag, std::string_view text, const char* cls) {
  // Start, Text and End without the stack: a page of 32767 rows has nine of
  // these a row.
  CloseStartTag();
  MaybeFlush();
  const std::string_view name(tag);
  buffer_ += '<';
  buffer_ += name;
  if (cls) Attr("class", cls);
  buffer_ += '>';
  AppendMarkup(buffer_, text);
  buffer_ += "</";
  buffer_ += name;
  buffer_ += '>';
  return *this;
}

bool HtmlWriter::Flush() {
  if (!file_) return true;
  const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
  buffer_.clear();
  return ok && std::ferror(file_) == 0;
}

void AppendFixed(std::string& out, double v, int decimals) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  const char* end = r.ptr;
  if (decimals > 0) {
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
  }
  out.append(buf, static_cast<size_t>(end - buf));
}

std::string Fixed(double v, int decimals) {
  std::string s;
  AppendFixed(s, v, decimals);
  return s;
}

std::string SecondsText(int64_t ms) {
  if (ms < 1000) return std::to_string(ms) + " ms";
  return Fixed(static_cast<double>(ms) / 1000.0, ms < 60000 ? 2 : 1) + " s";
}

}  // namespace dsc
