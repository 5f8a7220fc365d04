#include "html/HtmlWriter.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

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
  // The tags go out as two appends (not seven pieces): nine cells a row.
  char tags[2 * 16 + 3];
  if (name.size() > 16) return Start(tag, cls).Text(text).End();
  tags[0] = '<';
  name.copy(tags + 1, name.size());
  if (cls) {
    buffer_.append(tags, name.size() + 1);
    Attr("class", cls);
    buffer_ += '>';
  } else {
    tags[name.size() + 1] = '>';
    buffer_.append(tags, name.size() + 2);
  }
  AppendMarkup(buffer_, text);
  tags[0] = '<';
  tags[1] = '/';
  name.copy(tags + 2, name.size());
  tags[name.size() + 2] = '>';
  buffer_.append(tags, name.size() + 3);
  return *this;
}

bool HtmlWriter::Flush() {
  if (!file_) return true;
  const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), file_) == buffer_.size();
  buffer_.clear();
  return ok && std::ferror(file_) == 0;
}

void AppendFixed(std::string& out, double v, int decimals) {
  // The plots' coordinates (one or two a command): whole numbers of tenths
  // go out through integer conversion, which costs a fraction of a
  // floating-point one.
  if (decimals == 1 && std::fabs(v) < 1e15) {
    const double tenths = v * 10;
    if (tenths == std::nearbyint(tenths)) {
      const auto t = static_cast<int64_t>(tenths);
      char digits[24];
      char* end = std::to_chars(digits, digits + sizeof digits, t / 10).ptr;
      if (t < 0 && t > -10) out += '-';  // -0.5: the whole part alone loses its sign
      out.append(digits, static_cast<size_t>(end - digits));
      if (t % 10 != 0) {
        out += '.';
        out += static_cast<char>('0' + std::abs(t % 10));
      }
      return;
    }
  }
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
