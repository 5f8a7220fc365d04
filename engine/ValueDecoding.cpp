#include "engine/ValueDecoding.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "base/Codec.h"
#include "base/Formats.h"

namespace dsc {

namespace {

// The shortest text that reads back as the same value of its own type.
// Most values a check reads are whole or have a decimal or two (1.5, 20,
// -0.25): those are written from integers and read back once to make sure,
// instead of the general shortest-digits search (several times dearer).
// Beyond 1e-2..1e4 the shortest text may be in exponent form: left to it.
bool FewDecimals(double value, char* buf, char*& end) {
  if (value == 0 && !std::signbit(value)) {
    *(end = buf)++ = '0';
    return true;
  }
  const double magnitude = std::fabs(value);
  if (!(magnitude < 1e4) || magnitude < 1e-2) return false;  // -0 too
  static constexpr int64_t kUnits[] = {1, 10, 100};
  for (int decimals = 0; decimals <= 2; ++decimals) {
    const int64_t unit = kUnits[decimals];
    const double scaled = magnitude * static_cast<double>(unit);
    if (scaled != std::nearbyint(scaled)) continue;
    const auto whole = static_cast<int64_t>(scaled);
    char* at = buf;
    if (value < 0) *at++ = '-';
    at = std::to_chars(at, at + 8, whole / unit).ptr;
    const int64_t fraction = whole % unit;
    if (decimals == 1) {
      *at++ = '.';
      *at++ = static_cast<char>('0' + fraction);
    } else if (decimals == 2) {
      *at++ = '.';
      *at++ = static_cast<char>('0' + fraction / 10);
      *at++ = static_cast<char>('0' + fraction % 10);
    }
    double back = 0;
    if (std::from_chars(buf, at, back).ptr != at || back != value) return false;
    end = at;
    return true;
  }
  return false;
}

template <typename T>
std::string Shortest(T value) {
  if (std::isnan(value)) return "nan";
  char buf[32];
  if constexpr (std::is_same_v<T, double>) {
    char* end = nullptr;
    if (FewDecimals(value, buf, end)) return std::string(buf, end);
  }
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

std::string FieldText(const DecodedValue::Field& f) {
  if (f.kind == FieldKind::Name) return "\"" + f.text + "\"";
  return f.kind == FieldKind::Single ? Shortest(static_cast<float>(f.number)) : Shortest(f.number);
}

}  // namespace

std::string ShortestNumberText(double value) { return Shortest(value); }

DecodedValue DecodeValue(std::span<const uint8_t> area, int16_t format, int32_t count,
                         int32_t limit) {
  DecodedValue v;
  v.format = format;
  const int32_t size = FormatElementSize(format);
  if (size <= 0 || count <= 0) return v;
  // Never past the area, whatever the command announced.
  count = std::min<int32_t>(count, static_cast<int32_t>(area.size()) / size);
  v.count = count;
  const uint8_t* at = area.data();

  if (format == kFormatText || (format >= kFormatBase && IsNameFormat(format))) {
    v.kind = DecodedValue::Kind::Text;
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size);
    const auto* end = static_cast<const uint8_t*>(std::memchr(at, 0, bytes));
    v.text.assign(reinterpret_cast<const char*>(at), end ? static_cast<size_t>(end - at) : bytes);
    return v;
  }
  const int32_t kept = std::min(count, std::max<int32_t>(limit, 0));
  // A short code (never a command's) is shown as its bytes.
  const bool full = format >= kFormatBase;
  if (full && IsNumberFormat(format)) {
    v.kind = DecodedValue::Kind::Number;
    v.numbers.reserve(static_cast<size_t>(kept));
    for (int32_t i = 0; i < kept; ++i) v.numbers.push_back(ReadNumber(at + i * size, format));
    return v;
  }
  if (full && IsCompoundFormat(format)) {
    v.kind = DecodedValue::Kind::Fields;
    const std::span<const FormatField> layout = FormatLayout(format);
    v.elements.resize(static_cast<size_t>(kept));
    for (int32_t i = 0; i < kept; ++i) {
      for (const FormatField& f : layout) {
        const uint8_t* field = at + i * size + f.offset;
        DecodedValue::Field& shown = v.elements[static_cast<size_t>(i)].emplace_back();
        shown.kind = f.kind;
        if (f.kind == FieldKind::Name)
          shown.text = ReadName(field, static_cast<size_t>(f.size));
        else
          shown.number = ReadField(field, f.kind);
      }
    }
    return v;
  }
  // Formats whose layout is the server's own: their bytes.
  v.kind = DecodedValue::Kind::Bytes;
  const int32_t keptBytes = std::min(count * size, std::max<int32_t>(limit, 0) * size);
  v.bytes.assign(at, at + keptBytes);
  return v;
}

bool DecodedValue::SameAs(const DecodedValue& o) const {
  return kind == o.kind && format == o.format && count == o.count && numbers == o.numbers &&
         text == o.text && bytes == o.bytes && elements == o.elements;
}

int32_t DecodedValue::omitted() const {
  switch (kind) {
    case Kind::Number:
      return count - static_cast<int32_t>(numbers.size());
    case Kind::Fields:
      return count - static_cast<int32_t>(elements.size());
    case Kind::Bytes: {
      const int32_t size = FormatElementSize(format);
      return size > 0 ? count - static_cast<int32_t>(bytes.size()) / size : 0;
    }
    default:
      return 0;
  }
}

const std::string& DecodedValue::Display() const {
  if (!formatted_) {
    shown_ = Format();
    formatted_ = true;
  }
  return shown_;
}

std::string DecodedValue::Format() const {
  std::string out;
  switch (kind) {
    case Kind::None:
      return out;
    case Kind::Text:
      return "\"" + text + "\"";
    case Kind::Number:
      for (size_t i = 0; i < numbers.size(); ++i) {
        if (i) out += ", ";
        out += format == kFormatSingle ? Shortest(static_cast<float>(numbers[i]))
                                       : Shortest(numbers[i]);
      }
      break;
    case Kind::Fields:
      for (size_t i = 0; i < elements.size(); ++i) {
        if (i) out += ", ";
        out += "{";
        for (size_t k = 0; k < elements[i].size(); ++k)
          out += (k ? ", " : "") + FieldText(elements[i][k]);
        out += "}";
      }
      break;
    case Kind::Bytes: {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "<";
      for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ' ';
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 15];
      }
      out += ">";
      break;
    }
  }
  const int32_t rest = omitted();
  if (rest > 0) out += ", ... " + std::to_string(rest) + " more";
  if (count > 1) out = "[" + out + "]";
  return out;
}

}  // namespace dsc
