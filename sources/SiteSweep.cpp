#include "sources/SiteSweep.h"

#include "base/Glob.h"

#include <algorithm>
#include <charconv>

#include "access/NamespaceQueries.h"

namespace dsc {

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool Matches(const std::string& pattern, const std::string& name) {
  return !name.empty() && GlobMatches(pattern, name);
}

bool ParsePart(std::string_view text, int32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

uint64_t Fnv1a64(std::string_view text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : text) {
    h ^= static_cast<uint8_t>(c);
    h *= 0x100000001b3ull;
  }
  return h;
}

bool ParseShard(const std::string& text, Shard& shard, std::string& error) {
  const size_t slash = text.find('/');
  Shard s;
  if (slash == std::string::npos || !ParsePart(std::string_view(text).substr(0, slash), s.k) ||
      !ParsePart(std::string_view(text).substr(slash + 1), s.n) || s.n < 1 || s.n > 100000 ||
      s.k < 1 || s.k > s.n) {
    error = "--shard takes K/N with 1 <= K <= N <= 100000, not \"" + text + "\"";
    return false;
  }
  shard = s;
  return true;
}

std::string ShardKey(const std::string& context, const std::string& server,
                     const std::string& longName) {
  return Lower(context + "/" + (longName.empty() ? server : longName));
}

bool IsGlobPattern(std::string_view text) {
  return text.find_first_of("*?[") != std::string_view::npos;
}

SweepSelection SelectServers(ClientLibrary& lib, const std::vector<std::string>& names,
                             bool devices) {
  SweepSelection sel;
  std::vector<std::string> contexts;
  int16_t n = 0;
  if (const int16_t code = GetContextList(lib, contexts, n); code != 0) {
    sel.code = code;
    sel.failedList = "contexts";
    return sel;
  }
  contexts.resize(static_cast<size_t>(std::max<int16_t>(n, 0)));

  // Every server of every context, listed once, in list order.
  struct Listed {
    SweepServer s;
    bool whole = false, chosen = false, listed = false;
    std::vector<std::string> allDevices;
  };
  std::vector<Listed> all;
  for (const std::string& c : contexts) {
    std::vector<std::string> servers;
    int16_t m = 0;
    if (const int16_t code = GetServerList(lib, c, servers, m); code != 0) {
      if (sel.code == 0) {
        sel.code = code;
        sel.failedList = "servers of " + c;
      }
      continue;
    }
    for (int16_t i = 0; i < m; ++i) {
      Listed l;
      l.s.context = c;
      l.s.server = servers[i];
      l.s.longName = lib.LongNameOf(c, servers[i], "").name;
      all.push_back(std::move(l));
    }
  }
  auto deviceList = [&](Listed& l) -> const std::vector<std::string>& {
    if (!l.listed) {
      std::vector<std::string> list;
      int16_t m = 0;
      if (GetDeviceNameList(lib, l.s.server, list, m) == 0)
        l.allDevices.assign(list.begin(), list.begin() + std::max<int16_t>(m, 0));
      l.listed = true;
    }
    return l.allDevices;
  };

  std::vector<std::string> chosenNames = names;
  if (chosenNames.empty()) chosenNames = contexts;
  for (const std::string& name : chosenNames) {
    bool any = false;
    const bool isContext = std::any_of(contexts.begin(), contexts.end(),
                                       [&](const auto& c) { return Lower(c) == Lower(name); });
    for (Listed& l : all) {
      if (isContext ? Lower(l.s.context) == Lower(name)
                    : Matches(name, l.s.server) || Matches(name, l.s.longName)) {
        l.chosen = l.whole = any = true;
      }
    }
    if (!any && devices && !isContext) {
      for (Listed& l : all) {
        if (l.whole) continue;
        for (const std::string& d : deviceList(l)) {
          if (!Matches(name, d) && !Matches(name, lib.LongNameOf(l.s.context, l.s.server, d).name))
            continue;
          if (std::find(l.s.devices.begin(), l.s.devices.end(), d) == l.s.devices.end())
            l.s.devices.push_back(d);
          l.chosen = any = true;
        }
      }
    }
    if (!any) sel.unmatched.push_back(name);
  }
  for (Listed& l : all) {
    if (!l.chosen) continue;
    if (l.whole && devices) {
      l.s.devices = deviceList(l);
    } else if (devices) {
      // In the server's order, whichever pattern chose them first.
      std::vector<std::string> ordered;
      for (const std::string& d : l.allDevices)
        if (std::find(l.s.devices.begin(), l.s.devices.end(), d) != l.s.devices.end())
          ordered.push_back(d);
      l.s.devices = std::move(ordered);
    }
    sel.servers.push_back(std::move(l.s));
  }
  return sel;
}

}  // namespace dsc
