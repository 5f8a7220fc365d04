#include "access/StrictJson.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "base/SafeNames.h"
#include "base/TextEncoding.h"

namespace dsc::strictjson {

namespace {

void AppendPointerToken(std::string& out, std::string_view key) {
  if (key.find_first_of("~/") == std::string_view::npos) {
    out += key;
    return;
  }
  for (char c : key) {
    if (c == '~')
      out += "~0";
    else if (c == '/')
      out += "~1";
    else
      out += c;
  }
}

// Builds the document as nlohmann's own reader does, and notes the first key
// given twice in one object: nlohmann would keep the last, losing what was
// written first, so such a file is refused instead. A reader of our own
// rather than nlohmann's callback, which looks through all of an array's
// elements again each time one of them ends (quadratic in the array's length).
class StrictSax {
 public:
  explicit StrictSax(json& root) : root_(root) {}

  bool null() { return element(), Add(nullptr), true; }
  bool boolean(bool v) { return element(), Add(v), true; }
  bool number_integer(json::number_integer_t v) { return element(), Add(v), true; }
  bool number_unsigned(json::number_unsigned_t v) { return element(), Add(v), true; }
  bool number_float(json::number_float_t v, const std::string&) { return element(), Add(v), true; }
  bool string(std::string& v) { return element(), Add(std::move(v)), true; }
  bool binary(json::binary_t& v) { return element(), Add(std::move(v)), true; }
  bool start_object(std::size_t) {
    element();
    push(false);
    open_.push_back(Add(json::value_t::object));
    return true;
  }
  bool key(std::string& k) {
    Frame& f = stack_[depth_ - 1];
    // Objects have a handful of keys: a look along them costs less than a set.
    const bool again = std::find(f.keys.begin(), f.keys.end(), k) != f.keys.end();
    f.keys.push_back(k);
    if (again && error.empty()) error = path();
    member_ = &(*open_.back())[k];  // the last of a repeated key wins, as in nlohmann's reader
    return true;
  }
  bool end_object() {
    --depth_;
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    element();
    push(true);
    open_.push_back(Add(json::value_t::array));
    return true;
  }
  bool end_array() {
    --depth_;
    open_.pop_back();
    return true;
  }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& e) {
    throw e;
  }

  std::string error;  // JSON path of the first repeated key

 private:
  struct Frame {
    bool array = false;
    long index = -1;
    std::vector<std::string> keys;  // of an object, the last one being read
  };
  // Frames above depth_ are kept for their storage: the next object at that
  // depth reuses it.
  void push(bool array) {
    if (depth_ == stack_.size()) stack_.emplace_back();
    Frame& f = stack_[depth_++];
    f.array = array;
    f.index = -1;
    f.keys.clear();
  }
  void element() {
    if (depth_ > 0 && stack_[depth_ - 1].array) ++stack_[depth_ - 1].index;
  }
  std::string path() const {
    std::string p;
    for (size_t i = 0; i < depth_; ++i) {
      const Frame& f = stack_[i];
      p += '/';
      if (f.array)
        p += std::to_string(f.index);
      else
        AppendPointerToken(p, f.keys.back());
    }
    return p;
  }
  // A value where the document stands: the root, the next element of the
  // open array, or the member of the open object whose key came last.
  template <class Value>
  json* Add(Value&& v) {
    if (open_.empty()) {
      root_ = json(std::forward<Value>(v));
      return &root_;
    }
    json* parent = open_.back();
    if (parent->is_array()) {
      parent->push_back(json(std::forward<Value>(v)));
      return &parent->back();
    }
    *member_ = json(std::forward<Value>(v));
    return member_;
  }

  json& root_;
  std::vector<json*> open_;  // the objects and arrays being read, innermost last
  json* member_ = nullptr;
  std::vector<Frame> stack_;
  size_t depth_ = 0;
};

}  // namespace

void Fail(const std::string& path, const std::string& what) {
  throw LoadError{path.empty() ? "/" : path, what};
}

std::string At(const std::string& path, std::string_view key) {
  std::string at;
  at.reserve(path.size() + 1 + key.size());
  at += path;
  at += '/';
  AppendPointerToken(at, key);
  return at;
}
std::string At(const std::string& path, size_t i) {
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%zu", i);
  std::string at;
  at.reserve(path.size() + 1 + static_cast<size_t>(n));
  at += path;
  at += '/';
  at.append(digits, static_cast<size_t>(n));
  return at;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The file is UTF-8; the control system speaks Latin-1.
std::string ToLatin1(const std::string& utf8, const std::string& path) {
  std::string out;
  uint32_t cp = 0;
  // The parser has checked the UTF-8 already.
  if (!Utf8ToLatin1(utf8, out, &cp)) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
    Fail(path, std::string("character ") + buf + " is not a Latin-1 character");
  }
  return out;
}

std::string String(const json& j, const std::string& path) {
  if (!j.is_string()) Fail(path, std::string("expected a string, found ") + j.type_name());
  return ToLatin1(j.get<std::string>(), path);
}

int64_t Int(const json& j, const std::string& path, int64_t lo, int64_t hi) {
  if (!j.is_number_integer()) {
    if (j.is_number_float()) Fail(path, "expected a whole number, found " + j.dump());
    Fail(path, std::string("expected a whole number, found ") + j.type_name());
  }
  if (j.is_number_unsigned() && j.get<uint64_t>() > static_cast<uint64_t>(hi))
    Fail(path, j.dump() + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  int64_t v = j.get<int64_t>();
  if (v < lo || v > hi)
    Fail(path, j.dump() + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  return v;
}

double Number(const json& j, const std::string& path) {
  if (!j.is_number()) Fail(path, std::string("expected a number, found ") + j.type_name());
  return j.get<double>();
}

bool Bool(const json& j, const std::string& path) {
  if (!j.is_boolean()) Fail(path, std::string("expected true or false, found ") + j.type_name());
  return j.get<bool>();
}

const json& Array(const json& j, const std::string& path) {
  if (!j.is_array()) Fail(path, std::string("expected an array, found ") + j.type_name());
  return j;
}

namespace {

std::string TooLong() {
  return "the file is longer than " + std::to_string(kMaxFileBytes >> 20) + " MiB";
}

bool ParseStrictRaw(std::string_view text, const std::string& sourceName,
                    const std::function<void(const json&)>& build, std::string& error) {
  try {
    json root;
    StrictSax sax(root);
    json::sax_parse(text.begin(), text.end(), &sax);
    if (!sax.error.empty()) {
      error = sourceName + ": " + sax.error + ": the key is given twice in its object";
      return false;
    }
    build(root);
    return true;
  } catch (const json::parse_error& e) {
    size_t line = 1, column = 1;
    size_t end = std::min(e.byte > 0 ? e.byte - 1 : 0, text.size());
    for (size_t i = 0; i < end; ++i) {
      if (text[i] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    std::string what = e.what();
    // Drop nlohmann's own prefix "[json.exception...] parse error at line L, column C: ".
    if (size_t at = what.find(": "); at != std::string::npos && what.rfind("[json.", 0) == 0)
      what = what.substr(at + 2);
    error = sourceName + ": line " + std::to_string(line) + ", column " + std::to_string(column) +
            ": " + what;
  } catch (const LoadError& e) {
    error = sourceName + ": " + e.place + ": " + e.what;
  } catch (const std::exception& e) {
    std::string what = e.what();
    if (what.rfind("[json.", 0) == 0 && what.find("] ") != std::string::npos)
      what = what.substr(what.find("] ") + 2);
    error = sourceName + ": " + what;
  }
  return false;
}

}  // namespace

bool ParseStrict(std::string_view text, const std::string& sourceName,
                 const std::function<void(const json&)>& build, std::string& error) {
  if (text.size() > kMaxFileBytes) {
    error = VisibleControls(sourceName) + ": " + TooLong();
    return false;
  }
  if (ParseStrictRaw(text, sourceName, build, error)) return true;
  // Names and parser messages quote the file: its control characters would
  // drive the terminal the message is printed on.
  error = VisibleControls(error);
  return false;
}

bool ReadFileText(const std::string& path, std::string& text, std::string& error) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    error = path + ": not a regular file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot be opened: " + std::strerror(errno);
    return false;
  }
  // Read no further than one byte past the limit: enough to refuse the file.
  std::string bytes;
  char chunk[1 << 16];
  while (bytes.size() <= kMaxFileBytes && (in.read(chunk, sizeof chunk) || in.gcount() > 0))
    bytes.append(chunk, static_cast<size_t>(in.gcount()));
  if (in.bad()) {
    error = path + ": cannot be read";
    return false;
  }
  if (bytes.size() > kMaxFileBytes) {
    error = path + ": " + TooLong();
    return false;
  }
  text = std::move(bytes);
  return true;
}

}  // namespace dsc::strictjson
