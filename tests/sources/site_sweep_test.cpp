// What a sweep chooses (contexts, servers, patterns of short and long names),
// and the shards of a site.
#include "sources/SiteSweep.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

using std::string;

// A server per shard of N, for names that come and go.
std::map<string, int> Shards(const std::vector<string>& keys, int n) {
  std::map<string, int> where;
  for (const string& key : keys) {
    for (int k = 1; k <= n; ++k) {
      if (!Shard{k, n}.Holds(key)) continue;
      EXPECT_EQ(where.count(key), 0u) << key << " is in two shards of " << n;
      where[key] = k;
    }
    EXPECT_EQ(where.count(key), 1u) << key << " is in no shard of " << n;
  }
  return where;
}

TEST(SiteSweep, EveryServerInExactlyOneShardAndNoneMovesWhenAnotherComes) {
  std::vector<string> keys;
  for (int i = 0; i < 300; ++i)
    keys.push_back(
        ShardKey("127.0.0.1:10000", "S" + std::to_string(i), "TangoTest/t" + std::to_string(i)));
  for (const int n : {1, 2, 3, 16}) {
    const auto before = Shards(keys, n);
    std::vector<string> more = keys;
    more.insert(more.begin() + 7, ShardKey("127.0.0.1:10000", "NEW", "Fresh/one"));
    more.erase(more.begin() + 100);  // and one goes
    const auto after = Shards(more, n);
    for (const auto& [key, k] : after) {
      if (!before.count(key)) continue;
      EXPECT_EQ(before.at(key), k) << key << " moved in " << n;
    }
    // Every part gets servers: a hash that sent all to one would pass above.
    std::set<int> used;
    for (const auto& entry : before) used.insert(entry.second);
    EXPECT_EQ(used.size(), static_cast<size_t>(n));
  }
  // The documented hash: FNV-1a 64 of the lower-case text, so a job outside
  // the checker can compute the same split.
  EXPECT_EQ(Fnv1a64(""), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(ShardKey("CTX", "TG", "TangoTest/Test"), "ctx/tangotest/test");
  EXPECT_EQ(ShardKey("CTX", "TG", ""), "ctx/tg");

  const struct {
    const char* text;
    bool ok;
  } parsed[] = {{"1/1", true},  {"3/4", true},  {"0/4", false},  {"5/4", false},  {"4", false},
                {"1/0", false}, {"a/b", false}, {"1/4x", false}, {"-1/4", false}, {"", false}};
  for (const auto& [text, ok] : parsed) {
    Shard shard;
    string error;
    EXPECT_EQ(ParseShard(text, shard, error), ok) << text;
    EXPECT_EQ(error.empty(), ok) << text;
  }
}

// The demo's chosen servers and devices, "CONTEXT/SERVER:DEV,DEV ..."
string Chosen(ClientLibrary& lib, const std::vector<string>& names, bool devices) {
  const SweepSelection sel = SelectServers(lib, names, devices);
  string out;
  for (const SweepServer& s : sel.servers) {
    out += (out.empty() ? "" : " ") + s.context + "/" + s.server;
    for (size_t i = 0; i < s.devices.size(); ++i) out += (i ? "," : ":") + s.devices[i];
  }
  for (const string& u : sel.unmatched) out += " ?" + u;
  return out;
}

TEST(SiteSweep, NamesChooseContextsServersAndDevicesInListOrder) {
  testing::FakeClock clock;
  const auto demo = sim::SimControlSystem::Demo(clock);
  const struct {
    std::vector<string> names;
    bool devices;
    string chosen;
  } cases[] = {
      {{"TRANSFER"}, false, "TRANSFER/TL-MAGNETS TRANSFER/TL-DIAG"},
      {{"transfer"}, false, "TRANSFER/TL-MAGNETS TRANSFER/TL-DIAG"},  // any case
      {{"rf-*"}, false, "LINAC/RF-1 RING/RF-R"},
      {{"RF-1"}, true, "LINAC/RF-1:CAVITY-1,CAVITY-2"},
      // Device patterns choose the devices alone, in the server's order
      // whichever pattern named them first.
      {{"PUMP-0[23]", "GAUGE-01", "PUMP-01"},
       true,
       "LINAC/VACUUM-1:PUMP-01,PUMP-02,PUMP-03,GAUGE-01"},
      // A server chosen whole keeps all its devices, listed once.
      {{"CAVITY-2", "RF-1"}, true, "LINAC/RF-1:CAVITY-1,CAVITY-2"},
      {{"RF-1", "RF-1"}, false, "LINAC/RF-1"},
      {{"NOTHING*", "RF-1"}, false, "LINAC/RF-1 ?NOTHING*"},
      {{"CAVITY-1"}, false, " ?CAVITY-1"},  // devices are not looked at for specific and info
  };
  for (const auto& c : cases) {
    string shown;
    for (const string& n : c.names) shown += n + " ";
    EXPECT_EQ(Chosen(*demo, c.names, c.devices), c.chosen) << shown;
  }
  // No names: every server of every context.
  const SweepSelection all = SelectServers(*demo, {}, true);
  EXPECT_GE(all.servers.size(), 10u);
  EXPECT_EQ(all.servers.front().context + "/" + all.servers.front().server, "LINAC/VACUUM-1");
  EXPECT_TRUE(all.unmatched.empty());
}

}  // namespace
}  // namespace dsc
