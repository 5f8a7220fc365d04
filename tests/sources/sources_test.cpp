// Reading the database: the CSV dialect and its checker, and the test
// sources built on them.
#include "base/TextEncoding.h"
#include "sources/Csv.h"
#include "sources/Lint.h"
#include "sources/NearestName.h"
#include "sources/TestSources.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <tuple>
#include <utility>

#include "sim/Facility.h"
#include "sim/SimControlSystem.h"
#include "tests/support/Fakes.h"
#include "tests/support/Recording.h"

namespace dsc {
namespace {

using std::string;

// Trimming takes blanks and one lone line break from each end.
TEST(Csv, TrimmedFieldsFoundByPositionColumnsByNameInAnyOrderAndCase) {
  const std::pair<string, string> trimmed[] = {
      {"\r\n\t x \r\n", "x"}, {"\n a", " a"},  // one lone LF goes, the blank after it stays
      {"\r\n\r\n x", "x"},    {"\r\r x", "\r x"}, {string("\0\0ab\0 ", 6), "ab"},
      {"a\r\r", "a\r"},  // only one trailing CR: why self-test lines are stripped first
  };
  for (const auto& [in, out] : trimmed) EXPECT_EQ(TrimWhite(in), out) << "[" << in << "]";

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
  // ... but the division sign is no letter, nor is y with diaeresis one of the capitals.
  EXPECT_EQ(CsvColumnIndex("\xf7,\xff", "\xd7") + CsvColumnIndex("\xf7,\xff", "\xdf"), -2);

  // Fields split at commas, and quoted ones are kept whole: line, position, field.
  const std::tuple<string, int16_t, string> fields[] = {
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
  for (const auto& [line, position, field] : fields)
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
  // Missing, a directory, and a pipe, which would block: no files.
  ASSERT_EQ(mkfifo(dir.file("pipe.csv").c_str(), 0600), 0);
  for (const string& path : {dir.file("missing.csv"), dir.path(), dir.file("pipe.csv")})
    EXPECT_EQ(CountDataLines(path), 0) << path;

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
  }
}

// Names and texts typed or read in either encoding: strict UTF-8 (no overlong
// form, no surrogate, nothing past U+10FFFF), and Latin-1 where it is not.
TEST(TextEncoding, StrictUtf8AndLatin1BothWays) {
  EXPECT_TRUE(IsUtf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"));
  // Overlong twice, a surrogate, past U+10FFFF.
  for (const char* text : {"\xc0\xa9", "\xe0\x9f\xbf", "\xed\xa0\x80", "\xf4\x90\x80\x80"})
    EXPECT_FALSE(IsUtf8(text)) << text;
  // Latin-1 is converted, UTF-8 kept.
  EXPECT_EQ(AsUtf8("caf\xe9") + AsUtf8("\xc3\xa9"), "caf\xc3\xa9\xc3\xa9");
  // U+0100 is past Latin-1: that text is kept as typed.
  EXPECT_EQ(Utf8ToLatin1("caf\xc3\xa9\xc2\xa0") + Utf8ToLatin1("\xc4\x80"), "caf\xe9\xa0\xc4\x80");
}

// "Did you mean": within a third of the typed length (at least 2 edits).
TEST(NearestName, SuggestsOnlyWhatIsNear) {
  const std::vector<string> known = {"Property", "Reference", "Tolerance"};
  // Three edits are near enough for nine letters, four are not.
  const std::pair<const char*, const char*> cases[] = {
      {"Refernce", "Reference"}, {"REFERENCE", ""}, {"Rxfxrxnce", "Reference"}, {"Rxfxrxnxe", ""}};
  for (const auto& [typed, nearest] : cases)
    EXPECT_EQ(NearestName(typed, known, false), nearest) << typed;
  EXPECT_EQ(NearestName("REFERENCE", known, true), "Reference");
}

string Codes(const std::vector<LintFinding>& findings) {
  string out;
  for (const LintFinding& f : findings) out += std::to_string(f.line) + ":" + f.code + " ";
  return out;
}

// Every finding from a file that has only it, and the message names the fix
// where there is one.
TEST(Lint, EachFindingOnItsOwnAndNoneInTheShippedFiles) {
  const string h = "Description,Property,OutputSize,OutputFormat,Reference,Access\r\n";
  const string t = "Property,OutputSize,OutputFormat,Reference,Tolerance\r\n";
  string tooLong = "Property\n";
  for (int i = 0; i < 32768; ++i) tooLong += "P\n";
  // name, text, findings, a piece of the first one's message
  const std::tuple<const char*, string, string, string> cases[] = {
      {"clean, UTF-8, the editor's NULL",
       h + "Temp\xc3\xa9rature,P,2,SHORT,1 2,READ\r\nw,P,0,,,WRITE\r\nv,P,0,NULL,,WRITE\r\n", "",
       ""},
      {"NULL for values", h + "a,P,1,NULL,1,READ\r\n", "2:unknown-format ", "unknown format"},
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
      {"tolerance on SINGLE and SHORT", t + "P,1,SINGLE,1,1\r\nP,1,SHORT,1,1\r\n",
       "3:bad-tolerance ", "SINGLE and DOUBLE"},
      {"BOM", "\xef\xbb\xbf" + h + "a,P,1,SHORT,1,READ\r\n", "1:bom ", ""},
      {"neither UTF-8 nor ASCII", h + "Temp\xe9rature,P,1,SHORT,1,READ\r\n", "2:encoding ", ""},
      {"beyond Latin-1", h + "; c\r\nT\xc3\xa9 \xe2\x82\xac,P,1,SHORT,1,READ\r\n", "3:not-latin1 ",
       "column 4: U+20AC"},
      {"too long", tooLong, "0:too-long ", "32768 records"},
      {"no records", "; c\r\nProperty\r\n", "0:no-records ", "nothing is loaded"},
      {"only colon lines", "Property\r\n:x\r\n", "0:no-records ", ""},
      // Sizes the loader cannot hold refuse the file; the size is not
      // multiplied past 32 bits for the reference's length.
      {"size beyond 32 bits", h + "a,P,1e10,SHORT,1,READ\r\n", "2:bad-size 2:short-reference ",
       "OutputSize \"1e10\" does not fit"},
      {"empty name answers for Property and sizes", "Description,,OutputSize\r\nx,9e9,1\r\n",
       "1:unknown-column 2:bad-size ", "empty column name"},
      // References the reader turns into another value: it reads them as it
      // always has, lint tells.
      {"DOUBLE overflow", h + "a,P,2,DOUBLE,1 1e999,READ\r\n", "2:reference-out-of-range ",
       "\"1e999\" does not fit DOUBLE: it is compared as infinity"},
      {"SHORT wrap", h + "a,P,1,SHORT,99999,READ\r\n", "2:reference-out-of-range ",
       "compared as 1698"},
      {"BYTE, LONG, SINGLE",
       h + "a,P,1,BYTE,255,READ\r\nb,P,1,LONG,3e9,READ\r\nc,P,1,SINGLE,-1e39,READ\r\n",
       "2:reference-out-of-range 3:reference-out-of-range 4:reference-out-of-range ",
       "compared as 0"},
      {"edges that fit",
       h + "a,P,3,BYTE,-1 254 0,READ\r\nb,P,2,SHORT,32766 -32766,READ\r\n" +
           "c,P,2,LONG,2147483647 -2147483648,READ\r\nd,P,1,SINGLE,3.4e38,READ\r\n",
       "", ""},
      // Configurations and server lists are told apart by their header.
      {"configurations", "Description,FileName,Contxt\r\na,b,c\r\n", "1:unknown-column ", ""},
      {"server lists the loader does not read", "Description,FileName\r\na,/b.csv\r\nb,\r\n",
       "2:server-list-name 3:server-list-name ", "\"/b.csv\" is outside the database"},
      {"server list", "; c\r\nServer,\r\nS1\r\n\"S,2\"\r\n",
       "2:trailing-empty-header 4:quoted-comma ", ""},
      {"test file with a Server column", "Server,Property\r\nS,P\r\n", "1:unknown-column ", ""},
      {"test file with a Server column but no Property", "Server,Device\r\nS,D\r\n",
       "1:unknown-column 1:no-property-column ", ""},
      {"test file with a FileName column", "FileName,Property\r\nS,P\r\n", "1:unknown-column ", ""},
  };
  for (const auto& [name, text, codes, inMessage] : cases) {
    const auto findings = LintText(text, "f.csv");
    EXPECT_EQ(Codes(findings), codes) << name;
    if (!findings.empty()) {
      EXPECT_NE(findings[0].message.find(inMessage), string::npos) << findings[0].Text();
    }
  }

  // The shipped files that are meant to be clean.
  const char* src = std::getenv("OVRA_SOURCE_DIR");
  if (!src) GTEST_SKIP() << "OVRA_SOURCE_DIR is not set (run through ctest)";
  std::vector<LintFinding> findings;
  for (const char* name : {"LINAC-MAGNETS-1.csv", "RING-MAGNETS-R.csv", "TGTEST-TANGOTEST.csv",
                           "procedures.csv", "linac-daily.csv"}) {
    ASSERT_TRUE(LintFile(string(src) + "/database/" + name, findings)) << name;
    EXPECT_EQ(Codes(findings), "") << name;
  }
}

// A file's kind: what the caller reads it as, else a list the configurations
// beside it name, else its header. Past the loaders' byte limit it is refused
// unread.
TEST(Lint, FileKindFromItsUseThenItsDirectoryAndTheByteLimit) {
  testing::TempDir dir;
  dir.write("procedures.csv", "Description,FileName\r\n:list.csv\r\na,list.csv\r\n");
  dir.write("list.csv", "Server,Device\r\nS\r\n");  // by its header a test file
  dir.write("C-S.csv", "Server\r\nS\r\n");          // by its header a server list
  dir.write("big.csv", "Property\r\nP\r\n");
  ASSERT_EQ(truncate(dir.file("big.csv").c_str(), off_t{64 << 20} + 1), 0);
  const std::tuple<string, std::optional<LintFileKind>, string> cases[] = {
      {"list.csv", std::nullopt, "1:unknown-column "},
      {"C-S.csv", std::nullopt, ""},
      {"C-S.csv", LintFileKind::TestFile, "1:unknown-column 1:no-property-column "},
      {"big.csv", std::nullopt, "0:too-long "},
  };
  for (const auto& [name, kind, codes] : cases) {
    std::vector<LintFinding> findings;
    ASSERT_TRUE(LintFile(dir.file(name), kind, findings));
    EXPECT_EQ(Codes(findings), codes) << name;
  }
}

class SourcesTest : public ::testing::Test {
 protected:
  SourcesTest() { session.DatabasePath = db.path() + "/"; }
  // The device argument never reaches the self-test query.
  string& SelfTest() { return lib.answers["/C/S/#0|SRVSELFTEST"].bytes; }
  // The plan, a line per command:
  // Description|Property|Device|Access|sizes|formats|Data|Reference|Tolerance
  string Plan() const {
    string out;
    for (int k = 0; k < session.plan.TestPlanCount; ++k) {
      const TestCommand& t = session.plan.TestPlan[k];
      out += t.Description + "|" + t.Property + "|" + t.Device + "|" + t.Access + "|" +
             std::to_string(t.InputSize) + " " + std::to_string(t.OutputSize) + "|" +
             std::to_string(t.InputFormat) + " " + std::to_string(t.OutputFormat) + "|" + t.Data +
             "|" + t.Reference + "|" + t.Tolerance + "\n";
    }
    return out;
  }
  // The plan read from text as the stored test file of /C/S.
  string Read(const string& text) {
    db.write("C-S.csv", text);
    EXPECT_EQ(sources.fillInTestParams("C", "S", ""), 0) << text;
    return Plan();
  }

  testing::FakeClock clock;
  testing::TempDir dir, db;
  CheckerSession session{clock, dir.path()};
  testing::RecordingLibrary lib;  // no server: only its answers
  TestSources sources{session, lib};
};

// The stored file and the server's self-test text share the record reader but
// not the line rules.
TEST_F(SourcesTest, TestDescriptionCodesAndCounts) {
  string most = "Property\n";
  for (int i = 0; i < 32767; ++i) most += "P\n";
  const string many = most + "P\n";
  // name, from the server, text, code, count (-1: the plan was left as it was), last property
  const std::tuple<const char*, bool, string, int16_t, int16_t, string> cases[] = {
      {"only comments and header", false, "; c\r\n# c\r\nProperty\r\n", 42, -1, ""},
      {"blank line is the header", false, "   \r\nProperty\r\nx\r\n", 21, 2, ""},
      {"colon lines are spare entries", false, "Property\r\n:x\r\nA\r\n", 0, 1, "A"},
      {"size beyond 32 bits", false, "Property,InputSize\r\nA,1\r\nB,3e9\r\n", 42, 2, ""},
      {"garbage", false, string("Property\r\n\xff\x00\x01,\x80\r\n", 17), 0, 1,
       string("\xff\0\x01", 3)},
      {"the most records", false, most, 0, 32767, "P"},
      {"too many records", false, many, 42, -1, ""},
      {"self-test without final LF", true, "Property\nA\nB", 0, 2, "B"},
      {"self-test CR LF", true, "Description,Property\r\nd,A\r\ne,B\r\n", 0, 2, "B"},
      // The area still holds the longer list above; none of it may be read.
      {"self-test shorter than the last", true, "Property\nZ\n", 0, 1, "Z"},
      {"self-test first character trimmed", true, "Property\n A\n\tB\n;c\nC\n", 0, 1, "C"},
      {"self-test without Property", true, "Description\na\n", 21, 3, ""},
  };
  for (const auto& [name, server, text, code, count, last] : cases) {
    SCOPED_TRACE(name);
    session.plan.TestPlanCount = -1;
    db.write("C-S.csv", server ? "" : text);
    SelfTest() = server ? text : "";
    EXPECT_EQ(server ? sources.fillInTestParamsFromServer("C", "S", "DEV")
                     : sources.fillInTestParams("C", "S", "DEV"),
              code);
    EXPECT_EQ(session.plan.TestPlanCount, count);
    EXPECT_EQ(code == 0 ? session.plan.TestPlan[count - 1].Property : "", last);
    EXPECT_EQ(code == 0 ? sources.refusal() : "", "");  // nothing to explain
  }
  // A character Latin-1 cannot hold is named by its line and column.
  db.write("C-S.csv", "Property\r\n; c\r\n\r\nA\r\nT\xc3\x89\xe2\x82\xac\r\n");
  EXPECT_EQ(sources.fillInTestParams("C", "S", ""), 42);
  EXPECT_EQ(sources.refusal(), "line 5, column 3: U+20AC has no Latin-1 character");

  // Why a file gave "nothing to load", for the front ends to show after it.
  const std::pair<string, string> refusals[] = {
      {"; c\r\nProperty\r\n", "no record below the header"},
      {many, "more than 32767 records"},
      {"Property,OutputSize\r\nA,1\r\nB,3e9\r\n",
       "record 2: a size does not fit a 32-bit whole number"},
      {"", "larger than 64 MiB"},
      {"Property\r\nA\r\n", ""}};
  for (const auto& [text, why] : refusals) {
    db.write("C-S.csv", text);
    if (text.empty()) {
      ASSERT_EQ(truncate(db.file("C-S.csv").c_str(), off_t{64 << 20} + 1), 0);
    }
    EXPECT_EQ(sources.fillInTestParams("C", "S", "DEV"), why.empty() ? 0 : 42) << why;
    EXPECT_EQ(sources.refusal(), why);
  }
}

// Defaults apply only where the header lacks the column. What a spreadsheet
// saves reads as the file it was made from: a leading byte-order mark and
// trailing empty header fields change nothing. Tolerance is read only where
// the header names it.
TEST_F(SourcesTest, TestFileColumnsDefaultsAndTheEditorsBytes) {
  // ... and a UTF-8 file as its Latin-1 twin: the control system's character set.
  const string twin = "Temp\xe9rature|TEMP|D1|READ|0 0|0 0|||\nb|P2|D2|POLL|0 0|0 0|||\n";
  const string bom = "\xef\xbb\xbf", rows = "Temp\xc3\xa9rature,TEMP,D1,READ\r\nb,P2,D2,POLL";
  const std::pair<string, string> cases[] = {
      // text, plan
      {"Description,Property\r\nRead temp,TEMP", "Read temp|TEMP|#0|READ|0 0|0 0|||\n"},
      {"Property,Device,InputFormat,OutputFormat\r\nP,,,nonsense", "P|P||READ|0 0|767 767|||\n"},
      {"Property,InputSize,OutputSize,InputFormat\r\nP,2.5,x,double", "P|P|#0|READ|2 0|512 0|||\n"},
      {bom + " Description , Property,Device,Access, \t,\r\n" + rows + ",,", twin},
      // An empty header field answers for every name not found before it,
      // but is no Tolerance column; a trailing one answers for none.
      {"Property,Reference,,Tolerance\r\nP,5,9,0.1", "9|P|9|9|9 9|767 767|9|5|0.1\n"},
      {"Property,Reference,\r\nP,5,0.1", "P|P|#0|READ|0 0|0 0||5|\n"},
      {"Property,,Reference\r\nP,0.1,5", "0.1|P|0.1|0.1|0 0|767 767|0.1|0.1|\n"},
  };
  for (const auto& [text, plan] : cases) EXPECT_EQ(Read(text + "\r\n"), plan);

  // What the editor saves with tolerances reads back (its bytes without them
  // are the editor's Save test).
  Read("Property,OutputSize,OutputFormat,Reference\r\nP,1,DOUBLE,5\r\nP,1,DOUBLE,5\r\n");
  const string head =
      "Description,Property,Device,InputSize,InputFormat,Data,OutputSize,OutputFormat,Reference,"
      "Access";
  const string row = "P,P,#0, 0,DOUBLE,, 1,DOUBLE,5,READ";
  session.plan.TestPlan[1].Tolerance = "1%";
  const string saved = TestFileText(session.plan.TestPlan, 2);
  EXPECT_EQ(saved, head + ",Tolerance\r\n" + row + ",\r\n" + row + ",1%\r\n");
  EXPECT_EQ(TestFileText(session.plan.TestPlan, 1), head + "\r\n" + row + "\r\n");
  EXPECT_EQ(Read(saved), "P|P|#0|READ|0 1|512 512||5|\nP|P|#0|READ|0 1|512 512||5|1%\n");
}

// The server's own texts head the caption. A name that would lead out of the
// database directory names no test file: the file it would name is not read,
// and the caption says why.
TEST_F(SourcesTest, ServerInformationAndSelfTextFallingBackToTheStoredFile) {
  const string at = "/C/S/#0|";
  lib.answers = {{at + "SRVVERSION", {7, "junk"}},
                 {at + "SRVSTARTTIME", {0, "today"}},
                 {at + "APPVERSION", {0, "app 1"}},
                 {at + "APPDATE", {3, "partial"}}};
  const string info =
      " srv vers: pre 3.12\r\n srv start: today\r\n app vers: app 1\r\n app date: unavailable\r\n";
  EXPECT_EQ(sources.GetServerInfo("C", "S"), info);
  const string path = db.file("C-S.csv"), refused = info + "No test file can be named after /";
  // context, server, self-test text, a stored file, code, caption
  const std::tuple<string, string, string, bool, int16_t, string> cases[] = {
      {"C", "S", "Property\nA\n", false, 0, info + "Specific test commands from SRVSELFTEST"},
      {"C", "S", "one line", true, 0, info + "Specific test commands from " + path},
      {"C", "S", "one line", false, 42, info + path + " : message 42"},
      {"..", "S", "", true, 42,
       refused + "../S: the context name \"..\" is refused (the name holds \"..\")"},
      {"C", "S\x1b[2J", "", true, 42,
       refused + "C/S\\x1B[2J: the server name \"S\\x1B[2J\" is refused (the name holds a "
                 "control character)"},
  };
  for (const auto& [context, server, selfTest, file, code, caption] : cases) {
    SCOPED_TRACE(caption);
    SelfTest() = selfTest;
    const string name = context + "-" + server + ".csv";
    std::filesystem::remove(db.file(name));
    if (file) db.write(name, "Property\r\nA\r\n");
    session.report.reportFileName.clear();
    clock.Advance(1000);  // a new report file each time
    EXPECT_EQ(sources.initSelfText(context, server, "D"), code);
    EXPECT_EQ(session.checkerCaption, caption);
    EXPECT_EQ(testing::ReadFileBytes(session.report.reportFileName),
              string(62, '-') + "\r\nSelf-test for /" + context + "/" + server + "\r\n" + caption +
                  "\r\n" + kReportColumnHeader + "\r\n");
  }
  // An unavailable server is asked once, not four times; two of its lines lack
  // the blank. A database that cannot be reached makes up no version either.
  for (const int16_t code : {45, 98, 67}) {
    lib.answers[at + "SRVVERSION"] = {code, ""};
    lib.calls.clear();
    const string m = "unavailable -> message " + std::to_string(code) + "\r\n";
    EXPECT_EQ(sources.GetServerInfo("C", "S"),
              "srv vers: " + m + " srv start: " + m + "app vers: " + m + " app date: " + m);
    EXPECT_EQ(lib.calls.size(), 1u);
  }
}

// A control system with long names keeps its test files under servers/, in
// lower case, a directory per part of the server's name; the file of the short
// names (or of the context's older name) serves until one is made there.
TEST_F(SourcesTest, TestFilesOfLongNamesLiveUnderServersWhereTheyAreSafe) {
  lib.longNames = {
      {"C|", {"Zone-A", "OLD"}}, {"C|S", {"TangoTest/Test", ""}}, {"C|DOTS", {"a/../b", ""}}};
  const string named = "servers/zone-a/tangotest/test.csv";
  // server, the files there, the file chosen
  const std::tuple<string, std::vector<string>, string> cases[] = {
      {"S", {}, named},
      {"S", {"C-S.csv"}, "C-S.csv"},
      {"S", {"OLD-S.csv"}, "OLD-S.csv"},
      {"S", {"C-S.csv", named}, named},
      {"DOTS", {}, "C-DOTS.csv"},
  };
  for (const auto& [server, files, chosen] : cases) {
    for (const char* f : {"C-S.csv", "OLD-S.csv", "servers"})
      std::filesystem::remove_all(db.file(f));
    for (const string& f : files) {
      std::filesystem::create_directories(std::filesystem::path(db.file(f)).parent_path());
      db.write(f, "");
    }
    EXPECT_EQ(sources.TestFilePath("C", server), db.file(chosen)) << chosen;
  }
}

// Headers with a byte-order mark and trailing empty fields, as spreadsheets
// save them.
TEST_F(SourcesTest, ConfigurationsAndServerLists) {
  db.write(
      "procedures.csv",
      "\xef\xbb\xbf; "
      "configurations\r\nContext,Description,FileName,\r\nA,First,a.csv\r\nB,Second,missing.csv\r\n"
      "C,Third,c.csv\r\nD,Outside,../" +
          std::filesystem::path(db.path()).filename().string() +
          "/a.csv\r\nE,Rooted,/a.csv\r\nF,Colons,colons.csv\r\n");
  db.write("a.csv", "\xef\xbb\xbfServer,,\r\nS1\r\n:skipped\r\nS2\r\n");
  db.write("c.csv", "Name\r\nx\r\ny\r\nz\r\n");
  db.write("colons.csv", "Server\r\n:S1\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 0);
  string got;  // without a Server column the records count but have no names
  for (int i = 0; i < session.configs.StoredConfigCount; ++i) {
    const StoredConfig& c = session.configs.StoredConfigs[i];
    got += ";" + c.Context + " " + c.Description + " " + std::to_string(c.ServerCount) + ":";
    for (int k = 0; k < c.ServerCount; ++k) got += " " + c.Servers[k];
    if (!c.ServerListRefusal.empty()) got += " (" + c.ServerListRefusal.substr(0, 24) + ")";
  }
  // The fourth and fifth name a.csv through ".." and from the root: not read.
  EXPECT_EQ(got,
            ";A First 2: S1 S2;B Second 0: (no such file);C Third 3:   ;D Outside 0: (the server "
            "list \"../ovra);E Rooted 0: (the server list \"/a.csv\");F Colons 0: (no record below "
            "the head)");

  db.write("procedures.csv", "Description\r\n");
  EXPECT_EQ(sources.fillInProcNames(), 42);
  EXPECT_EQ(sources.refusal(), "no record below the header");
  EXPECT_EQ(session.configs.StoredConfigCount, 6);  // left as they were
}

// Every combination of the six levels, each present or absent: the first
// present one wins. --database and $OVRA_DATABASE count when set, even for a
// directory that does not exist (the programs then say so); the others only
// when their directory exists.
TEST_F(SourcesTest, DatabaseFirstPresentLevelWinsThenBesideTheProgramOrAboveABuildTree) {
  // Each level's directory and origin.
  const std::pair<const char*, const char*> levels[] = {
      {"/given/", "--database"},
      {"/env/", "$OVRA_DATABASE"},
      {"/config/ovra-checker/database/", "the user's configuration"},
      {"/etc/ovra-checker/database/", "the system's"},
      {"/usr/share/ovra-checker/database/", "the installed demo"},
      {"/usr/bin/../database/", "the program's"}};
  for (int present = 0; present < 64; ++present) {
    testing::TempDir root;
    const string r = root.path();
    const DatabaseSearch search{present & 1 ? r + "/given" : "", present & 2 ? r + "/env" : "",
                                r + "/config", r + "/etc/ovra-checker/database",
                                r + "/usr/bin/prog"};
    for (int level = 2; level < 6; ++level)
      if (present & (1 << level)) std::filesystem::create_directories(r + levels[level].first);
    int first = 0;
    while (first < 6 && !(present & (1 << first))) ++first;

    std::vector<string> looked;
    const DatabaseChoice got = ChooseDatabaseDirectory(search, &looked);
    if (first == 6) {
      // Nothing anywhere: the program's own rule, as in a build tree.
      for (int level = 2; level < 6; ++level)
        EXPECT_EQ(looked.at(level - 2), r + levels[level].first);
      first = 5;
    }
    EXPECT_EQ(r + levels[first].first, got.path) << present;
    EXPECT_EQ(got.origin, levels[first].second) << present;
    EXPECT_EQ(got.named, first < 2) << present;
  }
  // Where the levels come from.
  ::setenv("OVRA_DATABASE", "/from/env", 1);
  ::setenv("XDG_CONFIG_HOME", "", 1);
  ::setenv("HOME", "/home/someone", 1);
  const DatabaseSearch search = DatabaseSearch::FromEnvironment("/usr/bin/prog", "");
  ::unsetenv("OVRA_DATABASE");
  EXPECT_EQ(search.environment + "|" + search.configHome + "|" + search.systemDir,
            "/from/env|/home/someone/.config|/etc/ovra-checker/database");

  // The program's own rule: the database is beside the working directory when
  // the program is found there, or else beside the program. A program in a
  // build tree finds the source tree's database: the nearest "database"
  // holding procedures.csv above it, wherever the tree is.
  namespace fs = std::filesystem;
  dir.write("prog", "");
  const auto cwd = fs::current_path();
  fs::current_path(dir.path());
  const string paths =
      getDatabasePath("/elsewhere/bin/prog") + "|" + getDatabasePath("C:\\ovra\\bin\\other.exe");
  fs::current_path(cwd);
  EXPECT_EQ(paths, "../database/|C:/ovra/bin/../database/");
  fs::create_directories(dir.file("src/database"));
  fs::create_directories(dir.file("src/out/database"));  // no procedures.csv: passed by
  fs::create_directories(dir.file("src/out/build/app"));
  dir.write("src/database/procedures.csv", "");
  const string program = dir.file("src/out/build/app/ovra-check");
  std::vector<string> looked;
  EXPECT_EQ(FindDatabaseDirectory(program, &looked), dir.file("src/database/"));
  std::vector<string> candidates;
  for (const char* d : {"out/build/app/../", "out/build/app/", "out/build/", "out/", ""})
    candidates.push_back(dir.file("src/" + string(d) + "database/"));
  EXPECT_EQ(looked, candidates);
  // The usual place beside the program wins when it exists.
  fs::create_directories(dir.file("src/out/build/database"));
  EXPECT_EQ(FindDatabaseDirectory(program), dir.file("src/out/build/app/../database/"));
}

// The information reads wait 500 ms, or the sweep's --timeout, which the
// plan's reads then carry too.
TEST_F(SourcesTest, StandardTestReadsEveryDemoPropertyThatDeliversData) {
  const auto system = sim::SimControlSystem::Demo(clock);
  // A property announcing no elements is left out, like one whose name has a "*".
  sim::Context& linac = system->facility().contexts[system->facility().index.at("LINAC")];
  sim::Device& pump = linac.servers[linac.index.at("VACUUM-1")].devices[0];
  pump.properties[pump.index.at("CURRENT")].count = 0;
  testing::RecordingLibrary tap(system.get());
  TestSources demo{session, tap};
  const auto infoTimeouts = [&] {
    string shown;
    for (const string& call : tap.calls)
      if (call.starts_with("/LINAC/VACUUM-1/#0 ")) shown += call.substr(call.rfind(' '));
    return shown;
  };
  demo.initStdTest("LINAC", "VACUUM-1", "PUMP-01");
  EXPECT_EQ(Plan(),
            "STATUS|STATUS|PUMP-01|READ|0 1|0 513|||\n"
            "PRESSURE|PRESSURE|PUMP-01|READ|0 1|0 512|||\n"
            "VOLTAGE|VOLTAGE|PUMP-01|READ|0 1|0 512|||\n"
            "ONOFF|ONOFF|PUMP-01|READ|0 1|0 513|||\n"
            "NAME|NAME|PUMP-01|READ|0 16|0 516|||\n"
            "HISTORY|HISTORY|PUMP-01|READ|0 256|0 512|||\n");
  EXPECT_EQ(infoTimeouts(), " 500 500 500 500");
  const string caption =
      " srv vers: 4.2.1\r\n srv start: 2024-03-11 06:42:17\r\n app vers: vacuum 2.3.0\r\n"
      " app date: 2023-11-28\r\nStandard test for  6 READ properties";
  EXPECT_EQ(session.checkerCaption, caption);
  EXPECT_EQ(testing::ReadFileBytes(session.report.reportFileName),
            "Standard test for read properties of /LINAC/VACUUM-1\r\n" + caption + "\r\n" +
                kReportColumnHeader + "\r\n");

  // The cached server information is reused: only the property query is sent.
  const size_t calls = tap.calls.size();
  demo.initStdTest("LINAC", "VACUUM-1", "NO-SUCH-DEVICE");
  EXPECT_EQ(tap.calls.size(), calls + 1);

  session.serverInfoText.clear();
  tap.calls.clear();
  demo.readTimeoutMs = 1500;
  ASSERT_EQ(demo.initStdTest("LINAC", "VACUUM-1", "PUMP-01"), 0);
  EXPECT_EQ(infoTimeouts(), " 1500 1500 1500 1500");
  for (int k = 0; k < session.plan.TestPlanCount; ++k)
    EXPECT_EQ(session.plan.TestPlan[k].Access, "READ[timeout=1500]");
}

}  // namespace
}  // namespace dsc
