#include "engine/ValueDecoding.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "access/Formats.h"

namespace dsc {

namespace {

// The transfer areas hold values little-endian whatever the host.
template <typename T>
T GetLittleEndian(const uint8_t* at) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, at, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) std::reverse(bytes, bytes + sizeof(T));
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

bool IsNameFormat(int16_t f) {
  return f == kFormatName8 || f == kFormatName16 || f == kFormatName32 || f == kFormatName48 ||
         f == kFormatName64;
}

double NumberAt(const uint8_t* at, int16_t format) {
  switch (format) {
    case kFormatDouble:
      return GetLittleEndian<double>(at);
    case kFormatSingle:
      return GetLittleEndian<float>(at);
    case kFormatShort:
      return GetLittleEndian<int16_t>(at);
    case kFormatLong:
      return GetLittleEndian<int32_t>(at);
    default:  // BYTE
      return *at;
  }
}

std::string FloatText(float value) {
  if (std::isnan(value)) return "nan";
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

}  // namespace

std::string ShortestNumberText(double value) {
  if (std::isnan(value)) return "nan";
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string("?");
}

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

  if (format == kFormatText || IsNameFormat(format)) {
    v.kind = DecodedValue::Kind::Text;
    const size_t bytes = static_cast<size_t>(count) * static_cast<size_t>(size);
    const auto* end = static_cast<const uint8_t*>(std::memchr(at, 0, bytes));
    v.text.assign(reinterpret_cast<const char*>(at), end ? static_cast<size_t>(end - at) : bytes);
    return v;
  }
  const bool number = format == kFormatDouble || format == kFormatSingle ||
                      format == kFormatShort || format == kFormatLong || format == kFormatByte;
  const int32_t kept = std::min(count, std::max<int32_t>(limit, 0));
  if (number) {
    v.kind = DecodedValue::Kind::Number;
    v.numbers.reserve(static_cast<size_t>(kept));
    for (int32_t i = 0; i < kept; ++i) v.numbers.push_back(NumberAt(at + i * size, format));
    return v;
  }
  // Compound formats (pairs of numbers, named records): their bytes, since
  // their layouts are the servers' own.
  v.kind = DecodedValue::Kind::Bytes;
  const int32_t keptBytes = std::min(count * size, std::max<int32_t>(limit, 0) * size);
  v.bytes.assign(at, at + keptBytes);
  return v;
}

int32_t DecodedValue::omitted() const {
  switch (kind) {
    case Kind::Number:
      return count - static_cast<int32_t>(numbers.size());
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
        out += format == kFormatSingle ? FloatText(static_cast<float>(numbers[i]))
                                       : ShortestNumberText(numbers[i]);
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
