#pragma once

// Strict reading of the checker's JSON files (facility descriptions and Tango
// site files): every field known, every value checked, and every fault named
// by file and place, as "<file>: <JSON pointer>: <fault>" or
// "<file>: line L, column C: <fault>".

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace dsc::strictjson {

using json = nlohmann::json;

// Loading stops at the first fault; ParseStrict turns it into the message.
struct LoadError {
  std::string place;
  std::string what;
};

[[noreturn]] void Fail(const std::string& path, const std::string& what);

// JSON pointers: "/contexts/0/name".
std::string At(const std::string& path, std::string_view key);
std::string At(const std::string& path, size_t i);
std::string Quoted(const std::string& s);

// The files are UTF-8; the control system speaks Latin-1.
std::string ToLatin1(const std::string& utf8, const std::string& path);

// An object whose every field is known: a misspelt field is refused rather
// than silently ignored.
class Obj {
 public:
  Obj(const json& j, std::string path, std::initializer_list<std::string_view> known)
      : j_(j), path_(std::move(path)) {
    if (!j.is_object()) Fail(path_, std::string("expected an object, found ") + j.type_name());
    for (const auto& [key, value] : j.items()) {
      if (std::find(known.begin(), known.end(), key) == known.end())
        Fail(At(path_, key), "unknown field " + Quoted(key));
    }
  }
  const json* get(std::string_view key) const {
    auto it = j_.find(key);
    return it == j_.end() ? nullptr : &*it;
  }
  const json& need(std::string_view key) const {
    const json* v = get(key);
    if (!v) Fail(path_, "missing field " + Quoted(std::string(key)));
    return *v;
  }
  std::string path(std::string_view key) const { return At(path_, key); }
  const std::string& path() const { return path_; }

 private:
  const json& j_;
  std::string path_;
};

std::string String(const json& j, const std::string& path);  // Latin-1
int64_t Int(const json& j, const std::string& path, int64_t lo, int64_t hi);
double Number(const json& j, const std::string& path);
bool Bool(const json& j, const std::string& path);
const json& Array(const json& j, const std::string& path);

// Longest file read or text parsed: a parsed document takes several times its
// size in memory, and no facility or site file comes near.
inline constexpr size_t kMaxFileBytes = 8 << 20;

// Reads a whole file, only a regular one: a directory opens "successfully"
// and reads as empty, and a pipe would block the program. On failure returns
// false and sets error to "<path>: <why>".
bool ReadFileText(const std::string& path, std::string& text, std::string& error);

// Parses the text, refusing a key given twice in one object (nlohmann would
// keep the last, losing what was written first), and hands the root to build.
// Returns false with the message in error when either fails.
bool ParseStrict(std::string_view text, const std::string& sourceName,
                 const std::function<void(const json&)>& build, std::string& error);

}  // namespace dsc::strictjson
