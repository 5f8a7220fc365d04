#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "access/ClientLibrary.h"

namespace dsc {

// What a sweep checks: servers of the control system chosen by a context, a
// server or glob patterns, each with the devices a standard test reads.

// 64-bit FNV-1a of the bytes of text.
uint64_t Fnv1a64(std::string_view text);

// One of N parts of a site (--shard K/N), K from 1. A server belongs to part
// 1 + Fnv1a64(ShardKey) mod N: it depends on the server's own name alone, so
// servers that come and go move no other server to another part.
struct Shard {
  int32_t k = 1, n = 1;
  bool Holds(std::string_view key) const {
    return n <= 1 || static_cast<int32_t>(Fnv1a64(key) % static_cast<uint64_t>(n)) == k - 1;
  }
};
// "K/N" with 1 <= K <= N <= 100000; false, with why in error, for anything else.
bool ParseShard(const std::string& text, Shard& shard, std::string& error);
// The text a server is sharded by: its context and its control system's own
// name (Tango's executable/instance) where it has one, else the listed name,
// "CONTEXT/NAME" in lower case (Tango names ignore case).
std::string ShardKey(const std::string& context, const std::string& server,
                     const std::string& longName);

// Whether the text holds a glob character (*, ? or [).
bool IsGlobPattern(std::string_view text);

struct SweepServer {
  std::string context, server;
  std::string longName;              // the control system's own name; "" where it has none
  std::vector<std::string> devices;  // the devices to standard-test
};

// What the names choose. Each name is, tried in this order: a context (all
// its servers), a server (short or own name, any case), a glob pattern of
// server names; with devices also a glob pattern of device names (short or
// own, any case) choosing those devices alone. No names chooses every
// context. Servers come in the order of the contexts and server lists, each
// once; a server chosen whole keeps all its devices.
struct SweepSelection {
  std::vector<SweepServer> servers;
  std::vector<std::string> unmatched;  // names that chose nothing
  int16_t code = 0;                    // the first failed list query's code
  std::string failedList;              // what it listed, for the message
};
SweepSelection SelectServers(ClientLibrary& lib, const std::vector<std::string>& names,
                             bool devices);

}  // namespace dsc
