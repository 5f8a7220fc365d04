#include "sources/Lint.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/Fakes.h"

namespace dsc {
namespace {

using std::string;

string Codes(const std::vector<LintFinding>& findings) {
  string out;
  for (const LintFinding& f : findings) out += std::to_string(f.line) + ":" + f.code + " ";
  return out;
}

// Every finding from a file that has only it, and the message names the fix
// where there is one.
TEST(Lint, EachFindingOnItsOwn) {
  const string h = "Description,Property,OutputSize,OutputFormat,Reference,Access\r\n";
  string tooLong = "Property\n";
  for (int i = 0; i < 32768; ++i) tooLong += "P\n";
  // name, text, findings, a piece of the first one's message
  const std::tuple<const char*, string, string, string> cases[] = {
      {"clean", h + "a,P,2,SHORT,1 2,READ\r\nw,P,0,,,WRITE\r\n", "", ""},
      {"typo'd column", "Description,Property,Refernce\r\na,P,1\r\n", "1:unknown-column ",
       "did you mean \"Reference\""},
      {"trailing empty header", "Property,,\r\nP\r\n", "1:trailing-empty-header ", "ignored"},
      {"duplicate column", "Property,Device,device\r\nP,D,E\r\n", "1:duplicate-column ",
       "\"device\" appears twice"},
      {"no Property", "Description\r\nx\r\n", "1:no-property-column ", ""},
      {"unknown format", h + "a,P,1,DUOBLE,1,READ\r\n", "2:unknown-format ",
       "did you mean \"DOUBLE\""},
      {"size without format", h + "a,P,1,,,WRITE\r\n", "2:unknown-format ", "no format"},
      {"READ without reference", h + "a,P,1,SHORT,,READ\r\n", "2:no-reference ", ""},
      {"POLL without reference", h + "a,P,1,SHORT,,POLL[timeout=500]\r\n", "2:no-reference ", ""},
      {"short reference", h + "a,P,3,LONG,1 2,READ\r\n", "2:short-reference ", "2 of 3 values"},
      {"unconvertible reference", h + "a,P,1,FLTINT,1,READ\r\n", "2:unconvertible-reference ", ""},
      {"quoted first field with comma", h + "\"a, b\",P,1,SHORT,1,READ\r\n",
       "2:quoted-comma 2:unknown-format ", ""},
      {"bad tolerance",
       "Property,OutputSize,OutputFormat,Reference,Tolerance\r\nP,1,DOUBLE,1,1x\r\n",
       "2:bad-tolerance ", "compared exactly"},
      {"tolerance on SHORT",
       "Property,OutputSize,OutputFormat,Reference,Tolerance\r\nP,1,SHORT,1,1\r\n",
       "2:bad-tolerance ", "SINGLE and DOUBLE"},
      {"BOM", "\xef\xbb\xbf" + h + "a,P,1,SHORT,1,READ\r\n", "1:bom ", ""},
      {"neither UTF-8 nor ASCII", h + "Temp\xe9rature,P,1,SHORT,1,READ\r\n", "2:encoding ", ""},
      {"UTF-8 is fine", h + "Temp\xc3\xa9rature,P,1,SHORT,1,READ\r\n", "", ""},
      {"too long", tooLong, "0:too-long ", "32768 records"},
      // Configurations and server lists are told apart by their header.
      {"configurations", "Description,FileName,Contxt\r\na,b,c\r\n", "1:unknown-column ", ""},
      {"server list", "; c\r\nServer,\r\nS1\r\n\"S,2\"\r\n",
       "2:trailing-empty-header 4:quoted-comma ", ""},
      {"test file with a Server column", "Server,Property\r\nS,P\r\n", "1:unknown-column ", ""},
  };
  for (const auto& [name, text, codes, inMessage] : cases) {
    const auto findings = LintText(text, "f.csv");
    EXPECT_EQ(Codes(findings), codes) << name;
    if (!findings.empty()) {
      EXPECT_NE(findings[0].message.find(inMessage), string::npos) << findings[0].Text();
    }
  }
}

TEST(Lint, ShippedFilesThatAreMeantToBeClean) {
  const char* src = std::getenv("OVRA_SOURCE_DIR");
  if (!src) GTEST_SKIP() << "OVRA_SOURCE_DIR is not set (run through ctest)";
  for (const char* name : {"LINAC-MAGNETS-1.csv", "RING-MAGNETS-R.csv", "TGTEST-TANGOTEST.csv",
                           "procedures.csv", "linac-daily.csv"}) {
    std::vector<LintFinding> findings;
    ASSERT_TRUE(LintFile(string(src) + "/database/" + name, findings)) << name;
    EXPECT_EQ(Codes(findings), "") << name;
  }
  std::vector<LintFinding> none;
  EXPECT_FALSE(LintFile(string(src) + "/database/no-such-file.csv", none));
}

}  // namespace
}  // namespace dsc
