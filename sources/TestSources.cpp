#include "sources/TestSources.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "access/CompletionCodes.h"
#include "access/NamespaceQueries.h"
#include "base/Formats.h"
#include "base/Letters.h"
#include "base/SafeNames.h"
#include "engine/NumberText.h"
#include "engine/ReportLog.h"
#include "sources/Csv.h"

#ifndef OVRA_DATA_RELDIR
#define OVRA_DATA_RELDIR "share/ovra-checker"
#endif

namespace dsc {

namespace {

constexpr int16_t kReadAccess = 1;
constexpr const char* kHyphens62 = "--------------------------------------------------------------";

bool IsCommentChar(char c) { return c == ';' || c == '%' || c == '#' || c == ':'; }

// The columns of a test description, looked up once per header.
struct TestColumns {
  int16_t description, property, device, inputSize, inputFormat, data, outputSize, outputFormat,
      reference, access, tolerance;

  explicit TestColumns(const std::string& header)
      : description(CsvColumnIndex(header, "Description")),
        property(CsvColumnIndex(header, "Property")),
        device(CsvColumnIndex(header, "Device")),
        inputSize(CsvColumnIndex(header, "InputSize")),
        inputFormat(CsvColumnIndex(header, "InputFormat")),
        data(CsvColumnIndex(header, "Data")),
        outputSize(CsvColumnIndex(header, "OutputSize")),
        outputFormat(CsvColumnIndex(header, "OutputFormat")),
        reference(CsvColumnIndex(header, "Reference")),
        access(CsvColumnIndex(header, "Access")),
        tolerance(CsvColumnIndex(header, "Tolerance")) {
    // A column added after the checker's own: only a header that names it
    // has it (an empty header field, which answers for any name, does not).
    if (tolerance >= 0 && UpperCase(CsvField(header, tolerance)) != "TOLERANCE") {
      tolerance = -1;
      std::vector<std::string_view> names;
      CsvSplit(header, names, 32768);
      for (size_t i = 0; i < names.size() && tolerance < 0; ++i)
        if (UpperCase(TrimWhite(std::string(names[i]))) == "TOLERANCE")
          tolerance = static_cast<int16_t>(i);
    }
  }
};

// A size field by the leading-number rule; false when it does not fit a
// 32-bit whole number, which ends the load like any other reading failure.
bool ReadSize(const std::string& field, int32_t& size) {
  const double v = LeadingNumber(field);
  if (!(v >= -2147483648.5 && v < 2147483647.5)) return false;
  size = RoundToInt32(v);
  return true;
}

// Fills one command from a record. The defaults apply only when the header
// lacks the column: an empty field of an existing column stays empty (an
// empty Device is "", not "#0"; an empty format is 767, not 0).
class RecordReader {
 public:
  explicit RecordReader(const std::string& header) : col_(header) {
    for (const int16_t c :
         {col_.description, col_.property, col_.device, col_.inputSize, col_.inputFormat, col_.data,
          col_.outputSize, col_.outputFormat, col_.reference, col_.access, col_.tolerance}) {
      maxFields_ = std::max<int32_t>(maxFields_, c + 1);
    }
  }
  bool HasProperty() const { return col_.property >= 0; }

  bool Fill(const std::string& line, TestCommand& c) {
    // One split per record instead of a walk from the line's start per column.
    CsvSplit(line, fields_, maxFields_);
    c.Property = Field(col_.property);
    c.Description = col_.description >= 0 ? Field(col_.description) : c.Property;
    c.Device = col_.device >= 0 ? Field(col_.device) : "#0";
    c.InputSize = 0;
    if (col_.inputSize >= 0 && !ReadSize(Field(col_.inputSize), c.InputSize)) return false;
    c.InputFormat = col_.inputFormat >= 0 ? FullFormatFromName(Field(col_.inputFormat)) : 0;
    c.OutputSize = 0;
    if (col_.outputSize >= 0 && !ReadSize(Field(col_.outputSize), c.OutputSize)) return false;
    c.OutputFormat = col_.outputFormat >= 0 ? FullFormatFromName(Field(col_.outputFormat)) : 0;
    c.Data = col_.data >= 0 ? Field(col_.data) : "";
    c.Reference = col_.reference >= 0 ? Field(col_.reference) : "";
    c.Access = col_.access >= 0 ? Field(col_.access) : "READ";
    c.Tolerance = col_.tolerance >= 0 ? Field(col_.tolerance) : "";
    return true;
  }

 private:
  // CsvField of the record: the trimmed field, "" past the record's end.
  std::string Field(int16_t position) const {
    if (position < 0 || position >= static_cast<int32_t>(fields_.size())) return "";
    return TrimWhite(std::string(fields_[position]));
  }

  TestColumns col_;
  int32_t maxFields_ = 0;
  std::vector<std::string_view> fields_;
};

bool IsFileLineSkipped(const std::string& line) {
  return line.empty() || IsCommentChar(line.front());
}

// The records of a test description into the plan: the first line not
// skipped is the header, every later one a record. 21 at the first record
// when the header has no Property column, 42 for a record that cannot be read.
template <class Skipped>
int16_t ReadTestRecords(const std::vector<std::string>& lines, TestPlanState& plan, Skipped skipped,
                        std::string& why) {
  std::optional<RecordReader> reader;
  int32_t i = 0;
  for (const std::string& line : lines) {
    if (skipped(line)) continue;
    if (!reader) {
      reader.emplace(line);
      continue;
    }
    if (!reader->HasProperty()) return kCodeNoPropertyColumn;
    if (!reader->Fill(line, plan.TestPlan[i])) {
      why = "record " + std::to_string(i + 1) + ": a size does not fit a 32-bit whole number";
      return kCodeNothingToLoad;
    }
    ++i;
  }
  plan.TestPlanCount = static_cast<int16_t>(i);
  return kCodeSuccess;
}

// CountDataLines and the reading in one pass: the file is read once. Returns
// the count as CountDataLines gives it (0 for a file that cannot be read),
// and why a count the loaders refuse (below 1, above the limit) is what it
// is: "" when the count is one they load.
int32_t ReadCountedLines(const std::string& path, std::vector<std::string>& lines,
                         std::string& why) {
  why.clear();
  std::vector<int32_t> numbers;
  if (!ReadDialectLines(path, lines, &why, &numbers)) return 0;
  // What is sent and compared is in the control system's Latin-1.
  if (!LinesToLatin1(lines, numbers, why)) return 0;
  const int32_t n = CountDataLines(lines);
  if (n < 1) why = "no record below the header";
  if (n > kMaxListEntries) why = "more than " + std::to_string(kMaxListEntries) + " records";
  return n;
}

// The program's own directory for argv0 ("" and bare names included).
std::string ProgramDirectory(const std::string& argv0) {
  const size_t slash = argv0.rfind('/');
  if (slash != std::string::npos) return slash == 0 ? "" : argv0.substr(0, slash);
  // Started through PATH: the name says nothing about where the file is.
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec && self.has_parent_path()) return self.parent_path().string();
  return ".";
}

}  // namespace

std::string getDatabasePath(const std::string& argv0) {
  std::string program = argv0;
  for (char& c : program) {
    if (c == '\\') c = '/';
  }
  const std::string base = program.substr(program.rfind('/') + 1);
  std::error_code ec;
  if (!base.empty() && std::filesystem::is_regular_file(base, ec)) return "../database/";
  return ProgramDirectory(program) + "/../database/";
}

std::string FindDatabaseDirectory(const std::string& argv0, std::vector<std::string>* looked) {
  const std::string standard = getDatabasePath(argv0);
  if (looked) looked->push_back(standard);
  std::error_code ec;
  if (std::filesystem::is_directory(standard, ec)) return standard;
  std::filesystem::path dir = std::filesystem::weakly_canonical(ProgramDirectory(argv0), ec);
  if (ec) return standard;
  for (;;) {
    const std::string candidate = (dir / "database").string() + "/";
    if (looked) looked->push_back(candidate);
    std::error_code probe;  // a candidate that does not exist is no failure
    if (std::filesystem::is_regular_file(candidate + "procedures.csv", probe)) return candidate;
    if (dir == dir.parent_path()) return standard;
    dir = dir.parent_path();
  }
}

DatabaseSearch DatabaseSearch::FromEnvironment(const std::string& argv0, const std::string& given) {
  const auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  DatabaseSearch search;
  search.given = given;
  search.environment = variable("OVRA_DATABASE");
  search.configHome = variable("XDG_CONFIG_HOME");
  if (search.configHome.empty() && !variable("HOME").empty()) {
    search.configHome = variable("HOME") + "/.config";
  }
  search.argv0 = argv0;
  return search;
}

DatabaseChoice ChooseDatabaseDirectory(const DatabaseSearch& search,
                                       std::vector<std::string>* looked) {
  const auto slashed = [](const std::filesystem::path& dir) {
    std::string text = dir.lexically_normal().string();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
  };
  // A named directory is taken as it is written, as it always was.
  for (const auto& [named, origin] :
       {std::pair{search.given, "--database"}, std::pair{search.environment, "$OVRA_DATABASE"}}) {
    if (named.empty()) continue;
    const std::string dir = named.back() == '/' ? named : named + "/";
    if (looked) looked->push_back(dir);
    return {dir, origin, true};
  }
  std::vector<std::pair<std::string, std::string>> levels;
  if (!search.configHome.empty()) {
    levels.emplace_back(slashed(std::filesystem::path(search.configHome) / "ovra-checker/database"),
                        "the user's configuration");
  }
  if (!search.systemDir.empty()) levels.emplace_back(slashed(search.systemDir), "the system's");
  levels.emplace_back(slashed(std::filesystem::path(ProgramDirectory(search.argv0)) / ".." /
                              OVRA_DATA_RELDIR / "database"),
                      "the installed demo");
  for (const auto& [dir, origin] : levels) {
    if (looked) looked->push_back(dir);
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return {dir, origin, false};
  }
  return {FindDatabaseDirectory(search.argv0, looked), "the program's", false};
}

std::string TestFileNameProblem(const std::string& context, const std::string& server) {
  for (const auto& [what, name] : {std::pair{"context", &context}, std::pair{"server", &server}}) {
    const std::string why = UnsafeNameReason(*name);
    if (!why.empty()) {
      return "No test file can be named after /" + VisibleControls(context) + "/" +
             VisibleControls(server) + ": the " + what + " name \"" + VisibleControls(*name) +
             "\" is refused (" + why + ")";
    }
  }
  return "";
}

std::string ServerListNameProblem(const std::string& fileName) {
  const std::string shown = "\"" + VisibleControls(fileName) + "\"";
  if (fileName.empty()) return "the configuration names no server list";
  if (fileName.front() == '/') return "the server list " + shown + " is outside the database";
  for (size_t start = 0; start <= fileName.size();) {
    size_t slash = fileName.find('/', start);
    if (slash == std::string::npos) slash = fileName.size();
    if (fileName.compare(start, slash - start, "..") == 0)
      return "the server list " + shown + " is outside the database";
    start = slash + 1;
  }
  if (HasControlCharacter(fileName))
    return "the server list " + shown + " holds a control character";
  return "";
}

std::string TestFilePathOf(const std::string& databasePath, ClientLibrary& lib,
                           const std::string& context, const std::string& server) {
  const ClientLibrary::LongNames contextNames = lib.LongNameOf(context, "", "");
  std::string old = databasePath + context + "-" + server + ".csv";
  std::error_code ec;
  if (!contextNames.host.empty() && contextNames.host != context &&
      !std::filesystem::exists(old, ec)) {
    const std::string older = databasePath + contextNames.host + "-" + server + ".csv";
    if (UnsafeNameReason(contextNames.host).empty() && std::filesystem::exists(older, ec))
      old = older;
  }
  const std::string contextName = LowerCase(contextNames.name);
  const std::string serverName = LowerCase(lib.LongNameOf(context, server, "").name);
  if (contextName.empty() || serverName.empty()) return old;
  // Each part is a file name of its own: none may lead elsewhere.
  std::string named = databasePath + "servers/" + contextName;
  for (size_t start = 0; start <= serverName.size();) {
    size_t slash = serverName.find('/', start);
    if (slash == std::string::npos) slash = serverName.size();
    const std::string part = serverName.substr(start, slash - start);
    if (part.empty() || !UnsafeNameReason(part).empty()) return old;
    named += "/" + part;
    start = slash + 1;
  }
  named += ".csv";
  if (contextName.find('/') != std::string::npos || !UnsafeNameReason(contextName).empty())
    return old;
  if (!std::filesystem::exists(named, ec) && std::filesystem::exists(old, ec)) return old;
  return named;
}

std::string TestSources::TestFilePath(const std::string& context, const std::string& server) const {
  return TestFilePathOf(s_.DatabasePath, lib_, context, server);
}

std::string TestSources::GetServerInfo(const std::string& devcontxt, const std::string& devsrv,
                                       int16_t* versionCode) {
  const std::string device = "/" + devcontxt + "/" + devsrv + "/#0";
  std::array<uint8_t, 32> version{}, start{}, appVersion{}, appDate{};
  DataDescriptor out;
  out.count = 32;
  out.format = kFormatText;
  const DataDescriptor in;  // 0 elements of 767: no input
  const int32_t timeout = readTimeoutMs > 0 ? readTimeoutMs : 500;
  int16_t code = lib_.EXECLINKEx(device, "SRVVERSION", out, version, in, {}, kReadAccess, timeout);
  if (versionCode) *versionCode = code;
  if (NobodyAnsweredInfo(code)) {
    const std::string e = GetErrorString(lib_, code);
    // The first and third prefixes have no leading blank, unlike the lines of
    // a server that answered.
    return "srv vers: unavailable -> " + e + "\r\n" + " srv start: unavailable -> " + e + "\r\n" +
           "app vers: unavailable -> " + e + "\r\n" + " app date: unavailable -> " + e + "\r\n";
  }
  if (code != 0) StringListToBytes("pre 3.12", version);
  const std::pair<const char*, std::array<uint8_t, 32>*> rest[] = {
      {"APPVERSION", &appVersion}, {"SRVSTARTTIME", &start}, {"APPDATE", &appDate}};
  for (const auto& [property, buffer] : rest) {
    out.count = 32;
    code = lib_.EXECLINKEx(device, property, out, *buffer, in, {}, kReadAccess, timeout);
    if (code != 0) StringListToBytes("unavailable", *buffer);
  }
  return " srv vers: " + BytesToStringList(version) + "\r\n" +
         " srv start: " + BytesToStringList(start) + "\r\n" +
         " app vers: " + BytesToStringList(appVersion) + "\r\n" +
         " app date: " + BytesToStringList(appDate) + "\r\n";
}

int16_t TestSources::initStdTest(const std::string& devcon, const std::string& devsrv,
                                 const std::string& devnam) {
  if (s_.runInProgress) return kCodeRunInProgress;
  if (s_.serverInfoText.empty()) s_.serverInfoText = GetServerInfo(devcon, devsrv);
  int16_t n = 0;
  const int16_t code = GetPropertyList(lib_, "/" + devcon + "/" + devsrv + "/" + devnam,
                                       s_.propertyNames, s_.propertySizes, s_.propertyFormats, n);
  if (code != 0) return code;
  if (n < 0) n = 0;
  std::vector<TestCommand> plan(static_cast<size_t>(n) + 1);
  int16_t k = 0;
  for (int16_t i = 0; i < n; ++i) {
    const std::string& name = s_.propertyNames[i];
    if (name.find('*') != std::string::npos || s_.propertySizes[i] <= 0) continue;
    TestCommand& c = plan[k];
    c.Description = name;
    c.Property = name;
    c.Device = devnam;
    c.Access = readTimeoutMs > 0 ? "READ[timeout=" + std::to_string(readTimeoutMs) + "]" : "READ";
    c.OutputSize = s_.propertySizes[i];
    c.OutputFormat = s_.propertyFormats[i];
    ++k;
  }
  s_.plan.TestPlan = std::move(plan);
  s_.plan.TestPlanCount = k;
  s_.checkerCaption = s_.serverInfoText + "Standard test for " + NumberText(k) + " READ properties";
  s_.report.AddToReport("Standard test for read properties of /" + devcon + "/" + devsrv, false);
  ReportLongNames(devcon, devsrv, devnam);
  s_.report.AddToReport(s_.checkerCaption, false);
  s_.report.AddToReport(kReportColumnHeader, false);
  return kCodeSuccess;
}

int16_t TestSources::fillInTestParamsFromServer(const std::string& context,
                                                const std::string& server,
                                                const std::string& /*device*/) {
  if (s_.runInProgress) return kCodeRunInProgress;
  TransferArea& buffer = s_.run.dataBuffer;
  // Cleared first so that a short answer cannot be read together with what a
  // previous command left behind; the last byte stays 0 as the terminator.
  buffer.fill(0);
  DataDescriptor out;
  out.count = kTransferLimit;
  out.format = kFormatText;
  const DataDescriptor in;
  const int16_t code =
      lib_.EXECLINKEx("/" + context + "/" + server + "/#0", "SRVSELFTEST", out,
                      std::span<uint8_t>(buffer.data(), kTransferLimit), in, {}, kReadAccess, 800);
  refusal_.clear();
  selfTestCode_ = code;
  if (code != 0) {
    refusal_ = "no self-test list (code " + std::to_string(code) + ")";
    return kCodeNothingToLoad;
  }

  // Every piece comes back ending in CR LF, so the piece after the last LF is
  // always empty and a text without a final LF still has all its lines read.
  const std::string text = BytesToStringList(buffer);
  std::vector<std::string> pieces;
  size_t start = 0;
  for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
    pieces.emplace_back(text, start, lf - start);
    start = lf + 1;
  }
  const size_t n = pieces.size();
  if (n == 0 || n > static_cast<size_t>(kMaxListEntries)) {
    refusal_ = n == 0 ? "an empty self-test list"
                      : "more than " + std::to_string(kMaxListEntries) + " self-test lines";
    return kCodeNothingToLoad;
  }

  s_.plan.TestPlan.assign(n + 1, TestCommand{});
  s_.plan.TestPlanCount = static_cast<int16_t>(n);
  for (std::string& piece : pieces) {
    // A server that ends its lines with CR LF would otherwise leave a CR on
    // the last column of every line (TrimWhite takes only one of the two).
    while (!piece.empty() && piece.back() == '\r') piece.pop_back();
  }
  // Unlike a file, the first character is trimmed first: a line starting
  // with a blank, a tab or a control character counts as empty here.
  return ReadTestRecords(
      pieces, s_.plan,
      [](const std::string& piece) {
        const std::string first = TrimWhite(piece.substr(0, 1));
        return first.empty() || IsCommentChar(first.front());
      },
      refusal_);
}

int16_t TestSources::fillInTestParams(const std::string& context, const std::string& server,
                                      const std::string& /*device*/) {
  if (s_.runInProgress) return kCodeRunInProgress;
  refusal_ = TestFileNameProblem(context, server);
  if (!refusal_.empty()) return kCodeNothingToLoad;
  const std::string path = TestFilePath(context, server);
  std::vector<std::string> lines;
  const int32_t n = ReadCountedLines(path, lines, refusal_);
  if (n < 1 || n > kMaxListEntries) return kCodeNothingToLoad;

  s_.plan.TestPlan.assign(static_cast<size_t>(n) + 1, TestCommand{});
  s_.plan.TestPlanCount = static_cast<int16_t>(n);
  return ReadTestRecords(lines, s_.plan, IsFileLineSkipped, refusal_);
}

int16_t TestSources::fillInProcNames() {
  if (s_.runInProgress) return kCodeRunInProgress;
  const std::string path = s_.DatabasePath + "procedures.csv";
  std::vector<std::string> lines;
  const int32_t n = ReadCountedLines(path, lines, refusal_);
  if (n < 1 || n > kMaxListEntries) return kCodeNothingToLoad;

  std::vector<StoredConfig> configs(static_cast<size_t>(n) + 1);
  int32_t i = 0;
  bool haveHeader = false;
  int16_t description = -1, fileName = -1, context = -1;
  for (const std::string& line : lines) {
    if (IsFileLineSkipped(line)) continue;
    if (!haveHeader) {
      description = CsvColumnIndex(line, "Description");
      fileName = CsvColumnIndex(line, "FileName");
      context = CsvColumnIndex(line, "Context");
      haveHeader = true;
      continue;
    }
    if (i >= n) break;
    StoredConfig& c = configs[i++];
    if (description >= 0) c.Description = CsvField(line, description);
    if (fileName >= 0) c.FileName = CsvField(line, fileName);
    if (context >= 0) c.Context = CsvField(line, context);
  }

  // Only ":" lines below the header: loaded, but nothing.
  if (i == 0) refusal_ = "no record below the header";
  int16_t result = kCodeSuccess;
  for (int32_t k = 0; k < i; ++k) {
    StoredConfig& c = configs[k];
    // A list outside the database directory is not read: no servers.
    c.ServerListRefusal = ServerListNameProblem(c.FileName);
    if (!c.ServerListRefusal.empty()) continue;
    const std::string listPath = s_.DatabasePath + c.FileName;
    std::vector<std::string> serverLines;
    const int32_t m = ReadCountedLines(listPath, serverLines, c.ServerListRefusal);
    if (m < 1) continue;
    // A server list too long to hold gives its configuration no servers; the
    // other configurations stay usable.
    if (m > kMaxListEntries) {
      result = kCodeNothingToLoad;
      continue;
    }
    c.Servers.assign(static_cast<size_t>(m) + 1, std::string());
    int16_t server = -1;
    bool serverHeader = false;
    int32_t count = 0;
    for (const std::string& line : serverLines) {
      if (IsFileLineSkipped(line)) continue;
      if (!serverHeader) {
        server = CsvColumnIndex(line, "Server");
        serverHeader = true;
        continue;
      }
      if (count >= m) break;
      // Without a Server column the records still count, with empty names.
      if (server >= 0) c.Servers[count] = CsvField(line, server);
      ++count;
    }
    c.ServerCount = static_cast<int16_t>(count);
    if (count == 0) c.ServerListRefusal = "no record below the header";
  }
  s_.configs.StoredConfigs = std::move(configs);
  s_.configs.StoredConfigCount = static_cast<int16_t>(i);
  return result;
}

int16_t TestSources::initSelfText(const std::string& devcon, const std::string& devsrv,
                                  const std::string& devnam) {
  if (s_.runInProgress) return kCodeRunInProgress;
  if (s_.serverInfoText.empty()) s_.serverInfoText = GetServerInfo(devcon, devsrv);
  int16_t r = fillInTestParamsFromServer(devcon, devsrv, devnam);
  s_.checkerCaption = s_.serverInfoText + "Specific test commands from SRVSELFTEST";
  if (r != 0) {
    const std::string path = TestFilePath(devcon, devsrv);
    const std::string refused = TestFileNameProblem(devcon, devsrv);
    r = fillInTestParams(devcon, devsrv, devnam);
    s_.checkerCaption = s_.serverInfoText + "Specific test commands from " + path;
    if (!refused.empty()) {
      s_.checkerCaption = s_.serverInfoText + refused;
    } else if (r != 0) {
      s_.checkerCaption = s_.serverInfoText + path + " : " + GetErrorString(lib_, r);
    }
  }
  s_.report.AddToReport(kHyphens62, false);
  s_.report.AddToReport("Self-test for /" + devcon + "/" + devsrv, false);
  ReportLongNames(devcon, devsrv, devnam);
  s_.report.AddToReport(s_.checkerCaption, false);
  s_.report.AddToReport(kReportColumnHeader, false);
  return r;
}

void TestSources::ReportLongNames(const std::string& context, const std::string& server,
                                  const std::string& device) {
  const std::string serverName = lib_.LongNameOf(context, server, "").name;
  if (serverName.empty()) return;
  std::string line = "Names in the control system: server " + serverName;
  // "#0" would ask for the host too.
  if (!device.empty() && device[0] != '#') {
    const std::string deviceName = lib_.LongNameOf(context, server, device).name;
    if (!deviceName.empty()) line += ", device " + deviceName;
  }
  s_.report.AddToReport(line, false);
}

}  // namespace dsc
