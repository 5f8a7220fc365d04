#include "sources/Capture.h"

#include <algorithm>

#include "access/NamespaceQueries.h"
#include "base/Formats.h"
#include "engine/RunState.h"
#include "engine/ValueDecoding.h"

namespace dsc {

namespace {

// A reference holds at most this many values: only the elements a reference
// sets are compared, so a long spectrum or an image is judged by its start.
constexpr int32_t kReferenceElements = 256;

// Relative tolerance of a floating-point value whose property has no limits
// to take one from: 0.01 %, so a value written anew is told from the one
// captured, while a value printed and read back always meets it.
constexpr const char* kDefaultTolerance = "0.01%";

// The reference text of what was read, as the dialect writes values: numbers
// separated by single blanks, a text as it stands; `values` says how many
// numbers it holds. Empty where the value cannot be one (a compound format,
// a text holding a comma or a line end, which the unquoted field would
// split).
std::string ReferenceText(const DecodedValue& v, int32_t& values) {
  values = 0;
  if (v.kind == DecodedValue::Kind::Text)
    return v.text.find_first_of(",\r\n") == std::string::npos ? v.text : "";
  if (v.kind != DecodedValue::Kind::Number) return {};
  std::string text;
  for (const double n : v.numbers) {
    // The dialect reads a BYTE reference modulo 255: the values before a 255
    // are the reference.
    if (v.format == kFormatByte && n == 255) break;
    text += (text.empty() ? "" : " ") + ShortestNumberText(n);
    ++values;
  }
  return text;
}

// A tolerance from the property's limits, the tighter pair first: 1 % of
// the span between them; else the relative default.
std::string ToleranceOf(const DataAcquisitionControl::ValueFacts& f) {
  for (const auto& [low, high] : {std::pair{f.minWarning, f.maxWarning}, {f.minAlarm, f.maxAlarm}})
    if (low && high && *high > *low) return ShortestNumberText((*high - *low) / 100);
  return kDefaultTolerance;
}

struct Read {
  int32_t code = 0;
  std::vector<uint8_t> bytes;
  DataAcquisitionControl::ValueFacts facts;
};

Read ReadOnce(DataAcquisitionControl& z, int32_t count, int16_t format) {
  Read r;
  r.bytes.assign(kTransferLimit, 0);
  z.setAccessMode("READ");
  r.code = z.ExecuteAccess(r.bytes, count, format, {}, 0, kFormatNull);
  r.facts = z.LastValueFacts();
  return r;
}

}  // namespace

CapturedTest CaptureCurrentValues(ClientLibrary& lib, DataAcquisitionControl& z,
                                  const std::string& context, const std::string& server,
                                  const std::vector<std::string>& devices) {
  CapturedTest captured;
  z.setContextName(context);
  z.setServerName(server);
  z.setLinkTimeout(3000);
  for (const std::string& d : devices) {
    std::vector<std::string> names;
    std::vector<int16_t> sizes, formats;
    int16_t n = 0;
    const std::string address = "/" + context + "/" + server + "/" + d;
    if (const int16_t code = GetPropertyList(lib, address, names, sizes, formats, n); code != 0) {
      captured.failedAddress = address;
      captured.failureText = GetErrorString(lib, code);
      captured.failureCode = code;
      return captured;
    }
    z.setDeviceName(d);
    for (int16_t i = 0; i < n; ++i) {
      // The standard test's choice: properties that deliver data.
      if (names[i].find('*') != std::string::npos || sizes[i] <= 0) continue;
      const int size = std::max<int>(FormatElementSize(formats[i]), 1);
      const int32_t count = std::min<int32_t>(sizes[i], kTransferLimit / size);
      z.setPropertyName(names[i]);
      const Read first = ReadOnce(z, count, formats[i]);
      if (first.code != 0) {
        captured.skipped.push_back({address + " " + names[i], z.StatusText()});
        continue;
      }
      const Read second = ReadOnce(z, count, formats[i]);
      // The elements read, where the control system says how many.
      int32_t held = count;
      if (first.facts.dimX >= 0 && formats[i] != kFormatText)
        held = std::min<int32_t>(count, first.facts.dimX * std::max(first.facts.dimY, 1));
      const bool changes = second.code != 0 || first.bytes != second.bytes;
      TestCommand c;
      c.Property = names[i];
      c.Device = d;
      c.Access = "READ";
      c.OutputSize = sizes[i];
      c.OutputFormat = formats[i];
      int32_t values = 0;
      if (!changes)
        c.Reference =
            ReferenceText(DecodeValue(first.bytes, formats[i], held, kReferenceElements), values);
      // A reference of fewer values than were read asks for those alone; a
      // value without one is read, and nothing of it compared.
      if (formats[i] != kFormatText) c.OutputSize = values;
      if (c.Reference.empty()) c.OutputSize = 0;
      if (!c.Reference.empty() && (formats[i] == kFormatDouble || formats[i] == kFormatSingle))
        c.Tolerance = ToleranceOf(first.facts);
      c.Description = names[i] + (first.facts.writable ? " (writable)" : "") +
                      (changes               ? " (changes: read only)"
                       : c.Reference.empty() ? " (read only)"
                                             : "");
      captured.commands.push_back(std::move(c));
    }
  }
  return captured;
}

}  // namespace dsc
