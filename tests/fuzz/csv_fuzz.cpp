// The CSV helpers on any line: fields are pieces of the line in order, a field
// read alone is the split field trimmed, and a column found by name is that
// name or an empty field.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sources/Csv.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

std::string Upper(std::string text) {
  for (char& ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
      ch = static_cast<char>(c - 0x20);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The line, then after the first LF a column name to look up.
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t lf = input.find('\n');
  const std::string line = input.substr(0, lf);
  const std::string name = lf == std::string::npos ? "" : input.substr(lf + 1);

  std::vector<std::string_view> fields;
  dsc::CsvSplit(line, fields, 64);
  FUZZ_CHECK(!fields.empty() && fields.size() <= 64);
  const char* previousEnd = line.data();
  for (size_t i = 0; i < fields.size(); ++i) {
    FUZZ_CHECK(fields[i].data() >= previousEnd);
    FUZZ_CHECK(fields[i].data() + fields[i].size() <= line.data() + line.size());
    previousEnd = fields[i].data() + fields[i].size();
    const std::string trimmed = dsc::TrimWhite(std::string(fields[i]));
    FUZZ_CHECK(dsc::CsvField(line, static_cast<int16_t>(i)) == trimmed);
  }
  // Past the line's last field there is nothing.
  if (fields.size() < 64)
    FUZZ_CHECK(dsc::CsvField(line, static_cast<int16_t>(fields.size())).empty());

  const int16_t column = dsc::CsvColumnIndex(line, name);
  if (column >= 0 && column < 64) {
    FUZZ_CHECK(static_cast<size_t>(column) < fields.size());
    FUZZ_CHECK(fields[column].empty() ||
               Upper(dsc::TrimWhite(std::string(fields[column]))) == Upper(name));
  }
  return 0;
}
