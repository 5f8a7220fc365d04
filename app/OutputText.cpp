#include "app/OutputText.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "access/CompletionCodes.h"
#include "app/CheckOutput.h"
#include "base/Markup.h"
#include "base/TextEncoding.h"
#include "engine/CheckRunner.h"

namespace dsc {

// True when every byte is printable ASCII (0x20..0x7E) and, with json, none
// is a quote or a backslash: text every output shows as it stands. It runs
// over every text of every line, so eight bytes are looked at a time.
bool PrintableAscii(std::string_view text, bool json) {
  // Eight bytes at a time: the high bit of a byte of `bad` is set where the
  // byte is below 0x20 or above 0x7E (or, for JSON, a quote or backslash).
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  const auto clean = [json](uint64_t x) {
    const auto hasZero = [](uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    uint64_t bad = ((x - kOnes * 0x20) & ~x) | ((x + kOnes) | x);
    if (json) bad |= hasZero(x ^ (kOnes * '"')) | hasZero(x ^ (kOnes * '\\'));
    return (bad & kHigh) == 0;
  };
  const auto load = [](const char* p, auto word) {
    std::memcpy(&word, p, sizeof word);
    return static_cast<uint64_t>(word);
  };
  const char* p = text.data();
  const size_t n = text.size();
  if (n >= 8) {
    for (size_t i = 0; i + 8 <= n; i += 8)
      if (!clean(load(p + i, uint64_t{}))) return false;
    return n % 8 == 0 || clean(load(p + n - 8, uint64_t{}));  // the tail, overlapping
  }
  // Short texts, the most common, in one word: overlapping halves, the rest
  // of the word filled with a harmless letter.
  if (n >= 4) return clean(load(p, uint32_t{}) | load(p + n - 4, uint32_t{}) << 32);
  if (n == 0) return true;
  const auto byte = [p](size_t i) {
    return static_cast<uint64_t>(static_cast<unsigned char>(p[i]));
  };
  return clean((kOnes * 'A' & ~0xFFFFFFULL) | byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16);
}

std::string XmlText(const std::string& text) {
  if (PrintableAscii(text)) return text;
  std::string out;
  AppendMarkup(out, text, MarkupFor::Serializer);
  return out;
}

bool TruncateOutputFile(const std::string& path, std::string& error) {
  std::ofstream probe(path, std::ios::binary | std::ios::trunc);
  if (probe) return true;
  error = path + ": " + std::strerror(errno);
  return false;
}

bool WriteOutputFile(const std::string& path, const std::function<void(FILE*)>& write,
                     std::string& error) {
  FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr;
  if (ok) {
    std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
    write(f);
    ok = std::ferror(f) == 0;
    if (std::fclose(f) != 0) ok = false;
  }
  if (!ok) error = path + ": " + std::strerror(errno);
  return ok;
}

// "12.345": whole milliseconds as seconds, never with an exponent. Writes
// into out (24 bytes are enough) and returns the end.
char* Seconds(int64_t ms, char* out) {
  if (ms < 0) ms = 0;
  out = std::to_chars(out, out + 20, ms / 1000).ptr;
  const int f = static_cast<int>(ms % 1000);
  *out++ = '.';
  *out++ = static_cast<char>('0' + f / 100);
  *out++ = static_cast<char>('0' + f / 10 % 10);
  *out++ = static_cast<char>('0' + f % 10);
  return out;
}

std::string Seconds(int64_t ms) {
  char buf[24];
  return std::string(buf, Seconds(ms, buf));
}

// The command of an outcome; an empty one for an outcome without (made once:
// this runs for every command of every output).
const TestCommand& CommandOf(const CommandOutcome& o) {
  static const TestCommand kNone;
  return o.command ? *o.command : kNone;
}

std::string CommandPath(const CommandOutcome& o) {
  const TestCommand& c = CommandOf(o);
  return "/" + o.context + "/" + o.server + "/" + c.Device + "[" + c.Property + "] " + c.Access;
}

std::string TerminalText(const std::string& text) {
  // Most texts are printable ASCII and show as they are.
  if (PrintableAscii(text)) return text;
  std::string shown;
  shown.reserve(text.size());
  const std::string utf8 = AsUtf8(text);
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c == '\r') continue;
    // C1 controls arrive in UTF-8 as C2 80..C2 9F.
    if (c == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) < 0xA0) {
      shown += '?';
      ++i;
      continue;
    }
    const bool control = (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
    shown += control ? '?' : static_cast<char>(c);
  }
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  return shown;
}

std::string ValueNote(const CommandOutcome& o) {
  if (o.outcome.kind == OutcomeKind::ReferenceNotMet && !o.expected.empty())
    return "expected " + o.expected.Display() + " got " + o.actual.Display();
  if (!o.actual.empty()) return "= " + o.actual.Display();
  return "";
}

void LineFlusher::LineDone() {
  if (Due()) out_.flush();
}

bool LineFlusher::Due() {
  if (terminal_) return true;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::seconds(1)) return false;
  last_ = now;
  return true;
}

int64_t UnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string IsoTimestamp(std::chrono::system_clock::time_point t, bool milliseconds) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[40];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  std::string out(buf, n);
  if (milliseconds) {
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03d", static_cast<int>(ms % 1000));
    out += frac;
    out += 'Z';
  }
  return out;
}

const std::string& TimestampCache::Now() {
  const int64_t ms = UnixMs();
  if (ms / 1000 != second_ || text_.empty()) {
    second_ = ms / 1000;
    text_ =
        IsoTimestamp(std::chrono::system_clock::time_point(std::chrono::milliseconds(ms)), true);
  } else {
    const int f = static_cast<int>(ms % 1000);
    char* frac = text_.data() + text_.size() - 4;  // "...:SS.mmmZ"
    frac[0] = static_cast<char>('0' + f / 100);
    frac[1] = static_cast<char>('0' + f / 10 % 10);
    frac[2] = static_cast<char>('0' + f % 10);
  }
  return text_;
}

}  // namespace dsc
