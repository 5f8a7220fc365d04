#include "base/Codec.h"

#include <cfloat>
#include <cmath>
#include <limits>

namespace dsc {

namespace {

template <typename T>
T Whole(double v) {
  if (std::isnan(v)) return 0;
  v = std::nearbyint(v);
  if (v <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (v >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(v);
}

}  // namespace

const FormatField* NumberField(int16_t format) {
  return IsNumberFormat(format) ? &FormatLayout(format)[0] : nullptr;
}

double ReadField(const uint8_t* at, FieldKind kind) {
  switch (kind) {
    case FieldKind::Double:
      return GetLittleEndian<double>(at);
    case FieldKind::Single:
      return GetLittleEndian<float>(at);
    case FieldKind::Long:
      return GetLittleEndian<int32_t>(at);
    case FieldKind::Short:
      return GetLittleEndian<int16_t>(at);
    case FieldKind::Byte:
      return *at;
    case FieldKind::Name:
      break;
  }
  return 0;
}

void WriteField(uint8_t* at, FieldKind kind, double v) {
  switch (kind) {
    case FieldKind::Double:
      return PutLittleEndian(at, v);
    case FieldKind::Single:
      return PutLittleEndian(
          at, static_cast<float>(std::isnan(v) ? v : std::clamp<double>(v, -FLT_MAX, FLT_MAX)));
    case FieldKind::Long:
      return PutLittleEndian(at, Whole<int32_t>(v));
    case FieldKind::Short:
      return PutLittleEndian(at, Whole<int16_t>(v));
    case FieldKind::Byte:
      *at = Whole<uint8_t>(v);
      return;
    case FieldKind::Name:
      return;
  }
}

double ReadNumber(const uint8_t* element, int16_t format) {
  const FormatField* f = NumberField(format);
  return f ? ReadField(element, f->kind) : 0;
}

void WriteNumber(uint8_t* element, int16_t format, double value) {
  if (const FormatField* f = NumberField(format)) WriteField(element, f->kind, value);
}

std::string ReadName(const uint8_t* at, size_t width) {
  const auto* end = static_cast<const uint8_t*>(std::memchr(at, 0, width));
  return std::string(reinterpret_cast<const char*>(at),
                     end ? static_cast<size_t>(end - at) : width);
}

void WriteName(uint8_t* at, size_t width, std::string_view name) {
  const size_t copied = std::min(name.size(), width);
  if (copied > 0) std::memcpy(at, name.data(), copied);
  std::memset(at + copied, 0, width - copied);
}

void WritePropertyRecord(std::span<uint8_t> record, const PropertyRecord& p) {
  std::fill(record.begin(), record.end(), 0);
  WriteName(record.data(), kPropertyNameWidth, p.name);
  if (record.size() >= kLongPropertyRecord) {
    PutLittleEndian<int32_t>(record.data() + 168, p.count);
    record[184] = ShortFormat(p.format);
  } else {
    PutLittleEndian<int16_t>(record.data() + 64,
                             static_cast<int16_t>(std::min<int32_t>(p.count, 32767)));
    record[66] = ShortFormat(p.format);
  }
}

PropertyRecord ReadPropertyRecord(std::span<const uint8_t> record) {
  PropertyRecord p;
  p.name = ReadName(record.data(), kPropertyNameWidth);
  if (record.size() >= kLongPropertyRecord) {
    p.count = GetLittleEndian<int32_t>(record.data() + 168);
    p.format = static_cast<int16_t>(record[184] + kFormatBase);
  } else {
    p.count = GetLittleEndian<int16_t>(record.data() + 64);
    p.format = static_cast<int16_t>(record[66] + kFormatBase);
  }
  return p;
}

}  // namespace dsc
