#include "sources/Csv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <tuple>
#include <utility>

#include "sources/Lint.h"
#include "tests/support/Fakes.h"

namespace dsc {
namespace {

using std::string;

TEST(TrimWhite, RemovesBlanksAndOneLoneLineBreakAtEachEnd) {
  const std::pair<string, string> cases[] = {
      {"\r\n\t x \r\n", "x"}, {"\n a", " a"},  // one lone LF goes, the blank after it stays
      {"\r\n\r\n x", "x"},    {"\r\r x", "\r x"}, {string("\0\0ab\0 ", 6), "ab"},
      {"a\r\r", "a\r"},  // only one trailing CR: why self-test lines are stripped first
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TrimWhite(in), out) << "[" << in << "]";
}

TEST(CsvColumnIndex, FindsNamesInAnyOrderAndCase) {
  const string header = "access,PROPERTY, description ,\"Data,x\",Device";
  const std::pair<string, int16_t> cases[] = {
      {"Access", 0}, {"Property", 1}, {"DESCRIPTION", 2}, {"Device", 4}, {"Reference", -1}};
  for (const auto& [name, index] : cases) EXPECT_EQ(CsvColumnIndex(header, name), index) << name;
  EXPECT_EQ(CsvColumnIndex("A,B,A", "a"), 0);               // first occurrence counts
  EXPECT_EQ(CsvColumnIndex("A,,Property", "Property"), 1);  // an empty field stops the search
  EXPECT_EQ(CsvColumnIndex("A,B, ,", "C"), -1);             // unless it is a trailing one
  EXPECT_EQ(CsvColumnIndex(",,", "C"), 0);
  EXPECT_EQ(CsvColumnIndex("", "X"), 0);
  EXPECT_EQ(CsvColumnIndex("caf\xe9", "CAF\xc9"), 0);  // Latin-1 letters compare in any case
}

TEST(CsvField, SplitsAtCommasAndKeepsQuotedFieldsWhole) {
  // line, position, field
  const std::tuple<string, int16_t, string> cases[] = {
      // clang-format off
      {"x,\"a,b\",c", 2, "c"},
      {"x,P,\"1,2,3\"", 3, ""},  // short record after a quoted last field
      {"\"a,b\",c", 0, "\"a"},    // the first field is never quoted
      {"\"a,b\",c", 1, "b\""},
      {"a, b ,c", 1, "b"},
      {"a,\"open", 1, "\""},      // no closing quote: the quote alone
      {"a,b", -1, ""},
      // clang-format on
  };
  for (const auto& [line, position, field] : cases)
    EXPECT_EQ(CsvField(line, position), field) << line << " @" << position;
}

TEST(CountDataLines, CountsRecordLinesAndReadsNoFurtherThanTheLimit) {
  testing::TempDir dir;
  const std::pair<string, int32_t> cases[] = {
      // bytes, count
      {"", -1},
      {"H\ra\rb", 2},                       // lone CR ends a line
      {"H\na\n\n\nb\n", 2},                 // empty lines skipped
      {";c\r\n%c\r\n#c\r\nH\r\na\r\n", 1},  // comments
      {"H\r\n:a\r\nb\r\n", 2},              // ":" lines are counted, though the readers skip them
      {" \r\nH\r\n", 1},                    // a line of blanks is a line
  };
  for (const auto& [bytes, count] : cases) {
    dir.write("f.csv", bytes);
    EXPECT_EQ(CountDataLines(dir.file("f.csv")), count) << bytes.substr(0, 20);
  }
  EXPECT_EQ(CountDataLines(dir.file("missing.csv")), 0);
  EXPECT_EQ(CountDataLines(dir.path()), 0);  // a directory is no file
  ASSERT_EQ(mkfifo(dir.file("pipe.csv").c_str(), 0600), 0);
  EXPECT_EQ(CountDataLines(dir.file("pipe.csv")), 0);  // nor a pipe, which would block

  // A file is read no further than its record limit: here 40000 records and
  // then a gigabyte (sparse, so cheap to make) that a whole read would load.
  // Without enough records a file past the byte limit is refused unread.
  string records = "; comment\r\n\r\nH\r\n";
  for (int i = 0; i < 40000; ++i) records += "r\r\n";
  for (const auto& [head, kept, read] : {std::tuple{records, size_t{32768 + 1}, true},
                                         std::tuple{string("H\r\n"), size_t{0}, false}}) {
    dir.write("f.csv", head);
    ASSERT_EQ(truncate(dir.file("f.csv").c_str(), off_t{1} << 30), 0);
    std::vector<string> lines;
    EXPECT_EQ(ReadDialectLines(dir.file("f.csv"), lines), read);
    EXPECT_EQ(lines.size(), kept);  // comments and empty lines are not kept
    EXPECT_EQ(CountDataLines(dir.file("f.csv")), read ? 32768 : 0);
  }
}

string Codes(const std::vector<LintFinding>& findings) {
  string out;
  for (const LintFinding& f : findings) out += std::to_string(f.line) + ":" + f.code + " ";
  return out;
}

// Every finding from a file that has only it, and the message names the fix
// where there is one.
TEST(Lint, EachFindingOnItsOwn) {
  const string h = "Description,Property,OutputSize,OutputFormat,Reference,Access\r\n";
  const string t = "Property,OutputSize,OutputFormat,Reference,Tolerance\r\n";
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
      {"bad tolerance", t + "P,1,DOUBLE,1,1x\r\n", "2:bad-tolerance ", "compared exactly"},
      {"tolerance on SHORT", t + "P,1,SHORT,1,1\r\n", "2:bad-tolerance ", "SINGLE and DOUBLE"},
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
