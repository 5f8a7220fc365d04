// The JSON lines and the JUnit file for any texts: names, a result, a reason
// and values from the input. Every JSON line is one object a JSON parser
// takes (strict UTF-8), its texts read back as the checker's UTF-8 of what
// was given; the JUnit file is well-formed XML to a strict parser (every
// character XML 1.0 forbids refused), has one test case per command, and its
// names read back as the markup text of what was given: nothing dropped.

#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <sstream>

#include "access/CompletionCodes.h"
#include "app/RunOutputs.h"
#include "base/Formats.h"
#include "base/TextEncoding.h"
#include "engine/ValueDecoding.h"
#include "tests/app/StrictXml.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/Fakes.h"

namespace {

using namespace dsc;

[[maybe_unused]] const bool inMemory =
    access("/dev/shm", W_OK) == 0 && setenv("TMPDIR", "/dev/shm", 1) == 0;
const testing::TempDir directory;

const Outcome kOutcomes[] = {{},
                             {OutcomeKind::ReferenceNotMet, {}, {}, kCodeTargetNotMet},
                             {OutcomeKind::InputNotParsed, {}, {}, kCodeParseError},
                             Outcome::Skipped(NotRunReason::Deselected),
                             Outcome::Skipped(NotRunReason::Stopped),
                             Outcome::Failed(AccessFailure::NotReachable, 45),
                             Outcome::Failed(AccessFailure::Refused, 2),
                             Outcome::Failed(AccessFailure::TimedOut, 45, true)};
constexpr int16_t kFormats[] = {kFormatDouble, kFormatShort, kFormatText,
                                kFormatName16, kFormatByte,  kFormatStruct};

DecodedValue Value(FuzzedDataProvider& in) {
  const int16_t format = in.PickValueInArray(kFormats);
  const std::string bytes = in.ConsumeRandomLengthString(64);
  const auto element = std::max<int16_t>(1, FormatElementSize(format));
  return DecodeValue({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, format,
                     static_cast<int32_t>(bytes.size() / static_cast<size_t>(element)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string context = in.ConsumeRandomLengthString(20);
  const std::string server = in.ConsumeRandomLengthString(20);
  const bool ant = in.ConsumeBool();
  std::vector<TestCommand> commands(in.ConsumeIntegralInRange<size_t>(1, 4));
  std::vector<CommandOutcome> outcomes(commands.size());
  for (size_t i = 0; i < commands.size(); ++i) {
    TestCommand& c = commands[i];
    c.Description = in.ConsumeRandomLengthString(40);
    c.Property = in.ConsumeRandomLengthString(20);
    c.Device = in.ConsumeRandomLengthString(20);
    c.Access = in.ConsumeRandomLengthString(20);
    CommandOutcome& o = outcomes[i];
    o.index = static_cast<int32_t>(i);
    o.command = &c;
    o.context = context;
    o.server = server;
    o.outcome = in.PickValueInArray(kOutcomes);
    o.compared = in.ConsumeBool();
    o.resultText = in.ConsumeRandomLengthString(40);
    o.elapsedMs = in.ConsumeIntegral<int16_t>();
    if (in.ConsumeBool()) o.actual = Value(in);
    if (in.ConsumeBool()) o.expected = Value(in);
  }
  const std::string reason = in.ConsumeRandomLengthString(60);
  const std::string stopped = in.ConsumeBool() ? in.ConsumeRandomLengthString() : "";

  std::ostringstream jsonOut;
  JunitWriter junit(ant);
  std::string error;
  FUZZ_CHECK(junit.Open(directory.file("results.xml"), error));
  {
    JsonWriter json(jsonOut, false);
    for (CheckOutput* out : {static_cast<CheckOutput*>(&json), static_cast<CheckOutput*>(&junit)}) {
      out->ServerStarted(context, server, static_cast<int32_t>(commands.size()));
      for (const CommandOutcome& o : outcomes) out->CommandEnded(o);
      out->ServerEnded({context, server, static_cast<int32_t>(commands.size()), 0, 0, 0, stopped});
      out->ServerNotPrepared(context, server + "2", reason);
      CheckTotals totals;
      totals.interruptedBy = stopped;
      out->RunEnding(totals);
      out->RunEnded(totals);
    }
  }

  // JSON: one object per line, texts as given (made UTF-8).
  std::istringstream lines(jsonOut.str());
  size_t commandLines = 0;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    FUZZ_CHECK(j.is_object() && j.contains("type"));
    if (j["type"] == "command") {
      FUZZ_CHECK(commandLines < commands.size());
      const TestCommand& c = commands[commandLines];
      FUZZ_CHECK(j["description"] == AsUtf8(c.Description) && j["device"] == AsUtf8(c.Device));
      FUZZ_CHECK(j["context"] == AsUtf8(context) &&
                 j["result"] == AsUtf8(outcomes[commandLines].resultText));
      ++commandLines;
    } else if (j["type"] == "preparation") {
      FUZZ_CHECK(j["result"] == AsUtf8(reason));
    }
  }
  FUZZ_CHECK(commandLines == commands.size());

  // JUnit: strictly well-formed, a case per command (the Ant flavour leaves
  // out those not run) and one for the preparation, names as given.
  FUZZ_CHECK(junit.written());
  const std::string xml = testing::ReadFileBytes(directory.file("results.xml"));
  FUZZ_CHECK(testing::StrictXmlParses(xml, error));
  pugi::xml_document doc;
  FUZZ_CHECK(doc.load_string(xml.c_str()));
  std::vector<std::string> expected, names;
  for (size_t k = 0; k < commands.size(); ++k)
    if (!ant || !outcomes[k].skipped())
      expected.push_back(XmlText(commands[k].Description.empty() ? commands[k].Property
                                                                 : commands[k].Description));
  expected.push_back("preparation");
  for (pugi::xml_node suite : doc.child("testsuites").children("testsuite"))
    for (pugi::xml_node tc : suite.children("testcase"))
      names.push_back(tc.attribute("name").value());
  FUZZ_CHECK(names == expected);
  return 0;
}
