#include "access/NamespaceQueries.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "access/CompletionCodes.h"
#include "access/DataDescriptor.h"
#include "access/UtilityLibrary.h"
#include "base/Codec.h"
#include "base/Formats.h"

namespace dsc {

namespace {

constexpr int32_t kLongRecord = kLongPropertyRecord;
constexpr int32_t kShortRecord = kShortPropertyRecord;
constexpr int32_t kNamespaceAccess = 1;  // read
constexpr size_t kErrorBuffer = 80;

// Names from the control system lose their blanks, and nothing else.
std::string TrimBlanks(std::string_view s) {
  size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  size_t last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

// The text of a fixed-width field: up to its first NUL, trimmed.
std::string FieldText(const uint8_t* field, size_t width) {
  return TrimBlanks(ReadName(field, width));
}

// One SHORT read without input (NTAGS, NDEVICES, NPROPS).
int16_t ReadCount(ClientLibrary& lib, const std::string& device, const std::string& property,
                  int32_t timeoutMs, int16_t& n) {
  DataDescriptor out;
  out.count = 1;
  out.format = kFormatShort;
  DataDescriptor in;  // 0 elements of format 767
  std::array<uint8_t, 2> value{};
  int16_t code = lib.T_EXECLINK(device, property, out, value, in, {}, kNamespaceAccess, timeoutMs);
  n = GetLittleEndian<int16_t>(value.data());
  return code;
}

// n NAME16 names into a zeroed buffer of n + 1 slots.
int16_t ReadNames(ClientLibrary& lib, const std::string& device, const std::string& property,
                  int16_t n, std::vector<uint8_t>& slots) {
  slots.assign(static_cast<size_t>(n + 1) * kName16, 0);
  DataDescriptor out;
  out.count = n;
  out.format = kFormatName16;
  DataDescriptor in;
  return lib.T_EXECLINK(device, property, out, slots, in, {}, kNamespaceAccess, 3000);
}

}  // namespace

int16_t GetContextList(ClientLibrary& lib, std::vector<std::string>& names, int16_t& count,
                       int32_t* reported) {
  std::vector<uint8_t> slots(static_cast<size_t>(kContextSlots) * kName16, 0);
  int32_t n = kContextCapacity;
  int16_t code = lib.T_GETCONTEXTS(slots, n);
  if (code != kCodeSuccess) return code;
  if (reported) *reported = n;
  // A library that reports more contexts than the buffer has slots gets only
  // the names that are there.
  n = std::clamp<int32_t>(n, 0, kContextSlots);
  names.assign(static_cast<size_t>(n) + 1, std::string());
  for (int32_t i = 0; i < n; ++i) names[i] = FieldText(&slots[i * kName16], kName16);
  count = static_cast<int16_t>(n);
  return kCodeSuccess;
}

int16_t GetServerList(ClientLibrary& lib, const std::string& context,
                      std::vector<std::string>& names, int16_t& count) {
  std::string device = context.empty() ? "ENS" : "ENS/" + context;
  int16_t n = 0;
  int16_t code = ReadCount(lib, device, "NTAGS", 500, n);
  if (code != kCodeSuccess) return code;
  n = std::max<int16_t>(n, 0);
  std::vector<uint8_t> slots;
  code = ReadNames(lib, device, "TAGS", n, slots);
  if (code != kCodeSuccess) return code;
  // Empty slots stay: the server list keeps its positions.
  names.assign(static_cast<size_t>(n) + 1, std::string());
  for (int i = 0; i < n; ++i) names[i] = FieldText(&slots[i * kName16], kName16);
  count = n;
  return kCodeSuccess;
}

int16_t GetDeviceNameList(ClientLibrary& lib, const std::string& server,
                          std::vector<std::string>& names, int16_t& count) {
  int16_t n = 0;
  int16_t code = ReadCount(lib, server, "NDEVICES", 800, n);
  if (code == kCodeNotImplemented) {
    n = 512;  // a server that cannot count its devices still lists them
  } else if (code != kCodeSuccess) {
    return code;
  }
  n = std::max<int16_t>(n, 0);
  std::vector<uint8_t> slots;
  code = ReadNames(lib, server, "DEVICES", n, slots);
  // The flag marks a warning; the names are valid.
  if (static_cast<uint16_t>(code) & kCodeFlagPartial) code = kCodeSuccess;
  if (code != kCodeSuccess) return code;
  names.assign(static_cast<size_t>(n) + 1, std::string());
  int k = 0;
  for (int i = 0; i < n; ++i) {
    std::string name = FieldText(&slots[i * kName16], kName16);
    // A full slot ending in "&" goes on in the next one. The buffer has one
    // slot more than was asked for, so a marker in the last slot joins an
    // empty continuation.
    if (name.size() == kName16 && name.back() == '&') {
      ++i;
      name = name.substr(0, kName16 - 1) + FieldText(&slots[i * kName16], kName16);
    }
    if (!name.empty()) names[k++] = std::move(name);
  }
  count = static_cast<int16_t>(k);
  return kCodeSuccess;
}

int16_t GetPropertyList(ClientLibrary& lib, const std::string& device,
                        std::vector<std::string>& names, std::vector<int16_t>& sizes,
                        std::vector<int16_t>& formats, int16_t& count) {
  int16_t n = 0;
  int16_t code = ReadCount(lib, device, "NPROPS", 800, n);
  if (code != kCodeSuccess) return code;
  n = std::max<int16_t>(n, 0);
  if (n == std::numeric_limits<int16_t>::max()) {
    // A full count may be a larger one cut to 16 bits: asked as a LONG, the
    // server tells. Testing only the first 32767 would pass over the rest
    // unseen.
    DataDescriptor out;
    out.count = 1;
    out.format = kFormatLong;
    std::array<uint8_t, 4> value{};
    const DataDescriptor in;
    int32_t full = 0;
    if (lib.T_EXECLINK(device, "NPROPS", out, value, in, {}, kNamespaceAccess, 800) ==
        kCodeSuccess) {
      full = GetLittleEndian<int32_t>(value.data());
      if (full > n) return kCodeTooManyProperties;
    }
  }

  std::vector<uint8_t> records(static_cast<size_t>(n + 1) * kLongRecord, 0);
  DataDescriptor out;
  out.count = n * kLongRecord;  // a byte count: at most 32767 * 188, well inside 32 bits
  out.format = kFormatStruct;
  DataDescriptor in;
  int32_t recordSize = kLongRecord;
  int32_t read = n;
  code = lib.T_EXECLINK(device, "PROPS", out, records, in, {}, kNamespaceAccess, 3000);
  if (code == kCodeShortPropsOnly) {
    // The short list's byte count is 16-bit: beyond 481 properties only the
    // records that fit below 32768 bytes are asked for and read.
    recordSize = kShortRecord;
    read = std::min<int32_t>(n, 32767 / kShortRecord);
    records.assign(static_cast<size_t>(n + 1) * kShortRecord, 0);
    out = DataDescriptor{};
    out.count = read * kShortRecord;
    out.format = kFormatStruct;
    code = lib.T_EXECLINK(device, "PROPS", out, records, in, {}, kNamespaceAccess, 3000);
  }
  if (code != kCodeSuccess) return code;

  names.assign(static_cast<size_t>(n) + 1, std::string());
  sizes.assign(static_cast<size_t>(n) + 1, 0);
  formats.assign(static_cast<size_t>(n) + 1, 0);
  int k = 0;
  for (int32_t i = 0; i < read; ++i) {
    const PropertyRecord record = ReadPropertyRecord(std::span<const uint8_t>(
        &records[static_cast<size_t>(i) * recordSize], static_cast<size_t>(recordSize)));
    // A record without a name is overwritten by the next one.
    names[k] = TrimBlanks(record.name);
    sizes[k] = static_cast<int16_t>(std::clamp<int32_t>(record.count, -32768, 32767));
    formats[k] = record.format;
    if (!names[k].empty()) ++k;
  }
  count = static_cast<int16_t>(k);
  return kCodeSuccess;
}

std::string GetErrorString(ClientLibrary& lib, int16_t code) {
  std::array<char, kErrorBuffer> buffer{};
  if (lib.RPCERR(code, buffer) != 0) return "Error undefined";
  // A message that fills the buffer has no NUL; it ends with the buffer.
  size_t n = 0;
  while (n < buffer.size() && buffer[n] != '\0') ++n;
  return std::string(buffer.data(), n);
}

std::string BytesToStringList(std::span<const uint8_t> bytes) {
  // The text buffer holds 32767 characters; longer buffers are read that far.
  std::string text = Bytes2String(bytes.first(std::min<size_t>(bytes.size(), 32767)));
  if (text.find('\n') == std::string::npos) return text;
  std::string lines;
  lines.reserve(text.size() + text.size() / 8 + 2);
  size_t start = 0;
  for (;;) {
    size_t lf = text.find('\n', start);
    lines.append(text, start, lf == std::string::npos ? std::string::npos : lf - start);
    lines += "\r\n";
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  return lines;
}

int16_t StringListToBytes(const std::string& text, std::span<uint8_t> bytes) {
  // The count returned is 16-bit: a text it cannot express is not copied.
  if (text.size() > bytes.size() || text.size() > 32767) return 0;
  String2Bytes(bytes.data(), text, text.size());
  if (text.size() < bytes.size()) bytes[text.size()] = 0;
  return static_cast<int16_t>(text.size());
}

}  // namespace dsc
