#pragma once

#include <functional>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "app/CheckOutput.h"
#include "app/OutputText.h"

namespace dsc {

// JUnit XML: one testsuite per server, one testcase per command. The
// document grows as commands end and is written when the invocation ends
// (interrupted or not).
class JunitWriter final : public CheckOutput {
 public:
  // ant: the flavour of the stricter Ant schema, without skipped tests.
  explicit JunitWriter(bool ant = false);
  // Truncates the file at once: an earlier run's results never survive, and
  // a path that cannot be written is known before anything runs. False (with
  // the system's reason in error) when it cannot be created.
  bool Open(const std::string& path, std::string& error);
  void ServerStarted(const std::string& context, const std::string& server,
                     int32_t planned) override;
  void CommandEnded(const CommandOutcome& outcome) override;
  void ServerEnded(const RunSummary& summary) override;
  void ServerNotPrepared(const std::string& context, const std::string& server,
                         const std::string& reason) override;
  // Writes the file; a file that cannot be written is said in outputError.
  void RunEnding(CheckTotals& totals) override;
  // False when RunEnding could not write the file; the reason in error().
  bool written() const { return written_; }
  const std::string& error() const { return error_; }
  // The control system's own names of contexts and servers, where it has
  // them (Tango's database and server instance; none for the simulation).
  std::function<std::string(const std::string& context, const std::string& server)> longName;

 private:
  struct Suite {
    std::string context, server, stoppedBy;
    std::string leftOut;  // the Ant flavour's skipped commands, a line each
    int64_t startMs = 0, ms = 0;
    int tests = 0, failures = 0, errors = 0, skipped = 0;
    pugi::xml_node node, properties, prototype;
  };
  Suite& SuiteFor(const std::string& context, const std::string& server);
  // A testcase for name; for a fault also its <error>, <failure> or
  // <skipped> with message and, but for a skip, type and body.
  void AddCase(Suite& s, const std::string& name, int64_t ms, Verdict verdict,
               const char* type = "", const std::string& message = {},
               const std::string& body = {});
  bool ant_;
  std::string path_, error_, host_;
  bool written_ = false;
  pugi::xml_document doc_;
  pugi::xml_node root_;
  std::vector<Suite> suites_;
};

}  // namespace dsc
