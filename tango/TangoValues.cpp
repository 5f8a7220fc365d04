#include "tango/TangoValues.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <type_traits>
#include <vector>

#include "access/CompletionCodes.h"
#include "base/Codec.h"
#include "base/Formats.h"
#include "tango/TangoBackend.h"

namespace dsc::tango {

namespace {

Outcome Fault(int16_t code, std::string text) { return Outcome{code, std::move(text)}; }

// The checker format a Tango element type travels in. Types the checker has
// no format for are widened where that loses nothing an operator compares
// (unsigned 16 and 32 bits), carried as DOUBLE where it may (64-bit integers,
// exact up to 2^53), and unknown otherwise.
int16_t FormatOfType(long type) {
  switch (type) {
    case Tango::DEV_DOUBLE:
    case Tango::DEVVAR_DOUBLEARRAY:
    case Tango::DEV_ULONG:
    case Tango::DEVVAR_ULONGARRAY:
    case Tango::DEV_LONG64:
    case Tango::DEVVAR_LONG64ARRAY:
    case Tango::DEV_ULONG64:
    case Tango::DEVVAR_ULONG64ARRAY:
      return kFormatDouble;
    case Tango::DEV_FLOAT:
    case Tango::DEVVAR_FLOATARRAY:
      return kFormatSingle;
    case Tango::DEV_SHORT:
    case Tango::DEVVAR_SHORTARRAY:
    case Tango::DEV_ENUM:
      return kFormatShort;
    case Tango::DEV_LONG:
    case Tango::DEVVAR_LONGARRAY:
    case Tango::DEV_USHORT:
    case Tango::DEVVAR_USHORTARRAY:
      return kFormatLong;
    case Tango::DEV_UCHAR:
    case Tango::DEVVAR_CHARARRAY:
    case Tango::DEV_BOOLEAN:
    case Tango::DEVVAR_BOOLEANARRAY:
    case Tango::DEV_STATE:
      return kFormatByte;
    case Tango::DEV_STRING:
      return kFormatText;
    default:
      return kFormatNull;
  }
}

bool IsArrayType(long type) {
  switch (type) {
    case Tango::DEVVAR_CHARARRAY:
    case Tango::DEVVAR_SHORTARRAY:
    case Tango::DEVVAR_LONGARRAY:
    case Tango::DEVVAR_FLOATARRAY:
    case Tango::DEVVAR_DOUBLEARRAY:
    case Tango::DEVVAR_USHORTARRAY:
    case Tango::DEVVAR_ULONGARRAY:
    case Tango::DEVVAR_STRINGARRAY:
    case Tango::DEVVAR_BOOLEANARRAY:
    case Tango::DEVVAR_LONG64ARRAY:
    case Tango::DEVVAR_ULONG64ARRAY:
      return true;
    default:
      return false;
  }
}

template <class T>
double AsDouble(const T& v) {
  if constexpr (std::is_same_v<T, Tango::DevState>)
    return static_cast<double>(static_cast<int>(v));
  else
    return static_cast<double>(v);
}

// Numbers into the area; the elements the value has not got are zero.
// `values` is a vector or a span of Tango's element type.
template <class Values>
Outcome PutNumbers(const Values& values, std::span<uint8_t> out, int32_t count, int16_t format) {
  using T = std::remove_cv_t<typename Values::value_type>;
  if (count <= 0) return {};
  if (!IsNumberFormat(format))
    return Fault(kTangoIllegalFormat,
                 "a numeric value cannot be delivered as " + FormatNameFromCode(format));
  const size_t size = static_cast<size_t>(FormatElementSize(format));
  const size_t n = std::min(static_cast<size_t>(count), out.size() / size);
  // The usual case, a value read in its own layout, is a copy.
  constexpr int16_t kSameLayout = std::is_same_v<T, double>           ? kFormatDouble
                                  : std::is_same_v<T, float>          ? kFormatSingle
                                  : std::is_same_v<T, Tango::DevLong> ? kFormatLong
                                  : std::is_same_v<T, short>          ? kFormatShort
                                  : std::is_same_v<T, unsigned char>  ? kFormatByte
                                                                      : kFormatNull;
  if constexpr (kSameLayout != kFormatNull) {
    if (format == kSameLayout) {
      const size_t copied = std::min(n, values.size());
      std::memcpy(out.data(), values.data(), copied * size);
      std::memset(out.data() + copied * size, 0, (n - copied) * size);
      return {};
    }
  }
  // Beyond the asked format's range a value gives its nearest end, as the
  // checker's own parser does.
  if (const FormatField* field = NumberField(format))
    for (size_t i = 0; i < n; ++i)
      WriteField(out.data() + i * size, field->kind,
                 i < values.size() ? AsDouble<T>(values[i]) : 0.0);
  return {};
}

// Text into the area: strings joined by line feeds, cut at `count`
// characters, the rest of the count zero.
Outcome PutText(const std::string& text, std::span<uint8_t> out, int32_t count, int16_t format) {
  if (count <= 0) return {};
  if (format != kFormatText)
    return Fault(kTangoIllegalFormat,
                 "a text value cannot be delivered as " + FormatNameFromCode(format));
  WriteName(out.data(), std::min(static_cast<size_t>(count), out.size()), text);
  return {};
}

std::string Joined(const std::vector<std::string>& lines) {
  size_t size = lines.size();
  for (const std::string& line : lines) size += line.size();
  std::string text;
  text.reserve(size);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += '\n';
    text += lines[i];
  }
  return text;
}

// The checker's elements as values of T; a value T cannot hold is refused,
// never wrapped, so that a test never writes what it did not mean.
template <class T>
Outcome TakeNumbers(std::span<const uint8_t> in, int32_t count, int16_t format,
                    std::vector<T>& values) {
  if (!IsNumberFormat(format))
    return Fault(kTangoIllegalFormat,
                 FormatNameFromCode(format) + " input cannot be written to a numeric value");
  const size_t size = static_cast<size_t>(FormatElementSize(format));
  const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), in.size() / size);
  values.clear();
  values.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const double v = ReadNumber(in.data() + i * size, format);
    if constexpr (std::is_same_v<T, bool>) {
      values.push_back(v != 0);
    } else if constexpr (std::is_floating_point_v<T>) {
      if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<T>::max())
        return Fault(kTangoIllegalFormat, "the value " + std::to_string(v) + " does not fit");
      values.push_back(static_cast<T>(v));
    } else {
      // Whole numbers: rounded, and within the type's range.
      const double r = std::nearbyint(v);
      const double hi = std::ldexp(1.0, std::numeric_limits<T>::digits);
      const double lo = std::is_signed_v<T> ? -hi : 0.0;
      if (!(r >= lo && r < hi))
        return Fault(kTangoIllegalFormat,
                     "the value " + std::to_string(v) + " is outside the range of the target");
      values.push_back(static_cast<T>(r));
    }
  }
  return {};
}

std::string TakeText(std::span<const uint8_t> in, int32_t count) {
  const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), in.size());
  const auto* p = reinterpret_cast<const char*>(in.data());
  return std::string(p, std::find(p, p + n, '\0'));
}

// One C++ element type and the Tango types (scalar and array) that carry it.
template <class T, long... Types>
struct Element {
  template <class F>
  bool Give(long type, F& f) const {
    if (!((type == Types) || ...)) return false;
    f(T{});
    return true;
  }
};

using CarriedElements =
    std::tuple<Element<bool, Tango::DEV_BOOLEAN, Tango::DEVVAR_BOOLEANARRAY>,
               Element<short, Tango::DEV_SHORT, Tango::DEVVAR_SHORTARRAY, Tango::DEV_ENUM>,
               Element<Tango::DevLong, Tango::DEV_LONG, Tango::DEVVAR_LONGARRAY>,
               Element<float, Tango::DEV_FLOAT, Tango::DEVVAR_FLOATARRAY>,
               Element<double, Tango::DEV_DOUBLE, Tango::DEVVAR_DOUBLEARRAY>,
               Element<unsigned short, Tango::DEV_USHORT, Tango::DEVVAR_USHORTARRAY>,
               Element<Tango::DevULong, Tango::DEV_ULONG, Tango::DEVVAR_ULONGARRAY>,
               Element<unsigned char, Tango::DEV_UCHAR, Tango::DEVVAR_CHARARRAY>,
               Element<Tango::DevLong64, Tango::DEV_LONG64, Tango::DEVVAR_LONG64ARRAY>,
               Element<Tango::DevULong64, Tango::DEV_ULONG64, Tango::DEVVAR_ULONG64ARRAY>>;

// Calls f with a value of the C++ type Tango uses for elements of `type`
// (scalar or array); returns false for types the backend does not carry.
template <class F>
bool WithElementType(long type, F&& f) {
  return std::apply([&](auto... element) { return (element.Give(type, f) || ...); },
                    CarriedElements{});
}

std::string TypeName(long type) {
  if (type >= 0 && type < Tango::DATA_TYPE_UNKNOWN) return Tango::CmdArgTypeName[type];
  return "type " + std::to_string(type);
}

Outcome Unsupported(long type) {
  return Fault(kTangoIllegalFormat, TypeName(type) + " values are not carried by the checker");
}

// A state read from an attribute or a command: its name where text is asked
// for, else its number.
template <class Value>
Outcome DeliverState(Value& value, std::span<uint8_t> out, int32_t count, int16_t format) {
  Tango::DevState state;
  value >> state;
  if (format == kFormatText) return PutText(Tango::DevStateName[state], out, count, format);
  return PutNumbers(std::vector<Tango::DevState>{state}, out, count, format);
}

// Numbers of Tango type `type`, which `read` fills into a vector of Tango's
// own element type.
template <class Read>
Outcome DeliverNumbers(long type, Read&& read, std::span<uint8_t> out, int32_t count,
                       int16_t format) {
  Outcome result;
  const bool known = WithElementType(type, [&](auto tag) {
    std::vector<decltype(tag)> values;
    read(values);
    result = PutNumbers(values, out, count, format);
  });
  return known ? result : Unsupported(type);
}

// The checker's elements as numbers of Tango type `type`, handed to `give`
// as a vector of Tango's own element type; `give` says how the write went.
template <class Give>
Outcome TakeNumbersAs(long type, std::span<const uint8_t> in, int32_t count, int16_t format,
                      Give&& give) {
  Outcome result;
  const bool known = WithElementType(type, [&](auto tag) {
    std::vector<decltype(tag)> values;
    result = TakeNumbers(in, count, format, values);
    if (result.code == 0) result = give(values);
  });
  return known ? result : Unsupported(type);
}

// The one value of a scalar; `what` names the scalar when there is not
// exactly one.
template <class Value, class T>
Outcome InsertScalar(Value& value, const std::vector<T>& values, const std::string& what) {
  if (values.size() != 1)
    return Fault(kTangoIllegalFormat,
                 what + " takes one value, not " + std::to_string(values.size()));
  if constexpr (std::is_same_v<T, bool>)
    value << static_cast<bool>(values[0]);  // an element of vector<bool> is a proxy
  else if constexpr (!std::is_same_v<Value, Tango::DeviceData> || !std::is_same_v<T, unsigned char>)
    value << values[0];  // a command argument has no single byte: DEV_UCHAR is refused before
  return {};
}

}  // namespace

Declared DeclareAttribute(const Tango::AttributeInfoEx& info) {
  Declared d;
  d.format = FormatOfType(info.data_type);
  if (info.data_format == Tango::SCALAR) {
    d.count = info.data_type == Tango::DEV_STRING ? kStringCharacters : 1;
  } else {
    // Arrays of strings have no checker layout; states only as scalars.
    if (info.data_type == Tango::DEV_STRING || info.data_type == Tango::DEV_STATE)
      d.format = kFormatNull;
    const int64_t y = info.data_format == Tango::IMAGE ? std::max(info.max_dim_y, 1) : 1;
    d.count = static_cast<int32_t>(std::min<int64_t>(int64_t{info.max_dim_x} * y, INT32_MAX));
  }
  return d;
}

Declared DeclareCommand(const Tango::CommandInfo& info) {
  Declared d;
  const long type = info.out_type != Tango::DEV_VOID ? info.out_type : info.in_type;
  d.format = FormatOfType(type);
  // Only a command that needs no input and answers a scalar is read by the
  // standard test; the others declare no size, so only test files run them
  // (a command such as Init should never run as a side effect of a read).
  if (info.in_type == Tango::DEV_VOID && info.out_type != Tango::DEV_VOID &&
      !IsArrayType(info.out_type))
    d.count = info.out_type == Tango::DEV_STRING ? kStringCharacters : 1;
  return d;
}

namespace {

// Booleans as Tango received them, read as extract_read into vector<bool>
// would: any non-zero octet is true.
struct BooleanView {
  using value_type = bool;
  const CORBA::Boolean* data;
  size_t count;
  size_t size() const { return count; }
  bool operator[](size_t i) const { return data[i] != 0; }
};

// The sequence Tango unmarshalled a read of element type T into.
template <class T>
auto* ReadSequence(Tango::DeviceAttribute& value) {
  if constexpr (std::is_same_v<T, bool>)
    return &value.BooleanSeq;
  else if constexpr (std::is_same_v<T, short>)
    return &value.ShortSeq;
  else if constexpr (std::is_same_v<T, Tango::DevLong>)
    return &value.LongSeq;
  else if constexpr (std::is_same_v<T, float>)
    return &value.FloatSeq;
  else if constexpr (std::is_same_v<T, double>)
    return &value.DoubleSeq;
  else if constexpr (std::is_same_v<T, unsigned short>)
    return &value.UShortSeq;
  else if constexpr (std::is_same_v<T, Tango::DevULong>)
    return &value.ULongSeq;
  else if constexpr (std::is_same_v<T, unsigned char>)
    return &value.UCharSeq;
  else if constexpr (std::is_same_v<T, Tango::DevLong64>)
    return &value.Long64Seq;
  else
    return &value.ULong64Seq;
}

// The read part of a numeric attribute straight from the sequence Tango
// received, without extract_read's copy into a vector (an image is large);
// false where there is no such sequence with values, which extract_read then
// handles as it always has.
bool DeliverReadDirectly(Tango::DeviceAttribute& value, long type, std::span<uint8_t> out,
                         int32_t count, int16_t format, Outcome& result) {
  bool delivered = false;
  WithElementType(type, [&](auto tag) {
    using T = decltype(tag);
    auto& sequence = *ReadSequence<T>(value);
    if (sequence.operator->() == nullptr || sequence->length() == 0) return;
    const size_t n = std::min<size_t>(static_cast<size_t>(std::max(value.get_nb_read(), 0L)),
                                      sequence->length());
    const auto* data = sequence->get_buffer();
    if constexpr (std::is_same_v<T, bool>)
      result = PutNumbers(BooleanView{data, n}, out, count, format);
    else
      result = PutNumbers(std::span(data, n), out, count, format);
    delivered = true;
  });
  return delivered;
}

}  // namespace

Outcome DeliverAttribute(Tango::DeviceAttribute& value, std::span<uint8_t> out, int32_t count,
                         int16_t format) {
  // Nothing asked for (an unknown format, say): the read itself was the check.
  if (count <= 0) return {};
  const long type = value.get_type();
  if (type == Tango::DEV_STATE) return DeliverState(value, out, count, format);
  if (type == Tango::DEV_STRING) {
    std::vector<std::string> lines;
    value.extract_read(lines);
    return PutText(Joined(lines), out, count, format);
  }
  Outcome direct;
  if (DeliverReadDirectly(value, type, out, count, format, direct)) return direct;
  return DeliverNumbers(
      type, [&](auto& values) { value.extract_read(values); }, out, count, format);
}

Outcome DeliverCommand(Tango::DeviceData& value, long type, std::span<uint8_t> out, int32_t count,
                       int16_t format) {
  if (type == Tango::DEV_VOID || count <= 0) return {};
  if (type == Tango::DEV_STATE) return DeliverState(value, out, count, format);
  if (type == Tango::DEV_STRING) {
    std::string text;
    value >> text;
    return PutText(text, out, count, format);
  }
  if (type == Tango::DEVVAR_STRINGARRAY) {
    std::vector<std::string> lines;
    value >> lines;
    return PutText(Joined(lines), out, count, format);
  }
  if (type == Tango::DEV_UCHAR) return Unsupported(type);
  auto read = [&](auto& values) {
    using T = typename std::decay_t<decltype(values)>::value_type;
    if (IsArrayType(type)) {
      value >> values;
    } else if constexpr (!std::is_same_v<T, unsigned char>) {
      T v{};
      value >> v;
      values.push_back(v);
    }
  };
  return DeliverNumbers(type, read, out, count, format);
}

Outcome AttributeValue(const Tango::AttributeInfoEx& info, std::span<const uint8_t> in,
                       int32_t count, int16_t format, Tango::DeviceAttribute& value) {
  std::string name = info.name;
  value.set_name(name);
  const long type = info.data_type;
  if (type == Tango::DEV_STRING) {
    if (format != kFormatText)
      return Fault(kTangoIllegalFormat,
                   FormatNameFromCode(format) + " input cannot be written to a text attribute");
    if (info.data_format != Tango::SCALAR) return Unsupported(type);
    std::string text = TakeText(in, count);
    value << text;
    return {};
  }
  if (type == Tango::DEV_STATE) return Unsupported(type);
  return TakeNumbersAs(type, in, count, format, [&](auto& values) -> Outcome {
    if (info.data_format == Tango::SCALAR) return InsertScalar(value, values, "a scalar attribute");
    if (info.data_format == Tango::SPECTRUM) {
      value << values;
      return {};
    }
    // An image is written row by row: as many full rows as the values give.
    const int x = std::max(info.max_dim_x, 1);
    const int y = static_cast<int>(values.size()) / x;
    if (y < 1)
      return Fault(kTangoIllegalFormat, "an image row takes " + std::to_string(x) + " values");
    values.resize(static_cast<size_t>(x) * y);
    value.insert(values, x, y);
    return {};
  });
}

Outcome CommandArgument(long type, std::span<const uint8_t> in, int32_t count, int16_t format,
                        Tango::DeviceData& value) {
  if (type == Tango::DEV_VOID) return {};  // the input has nowhere to go; the command runs
  if (type == Tango::DEV_STRING || type == Tango::DEVVAR_STRINGARRAY) {
    if (format != kFormatText)
      return Fault(kTangoIllegalFormat,
                   FormatNameFromCode(format) + " input cannot be sent as " + TypeName(type));
    std::string text = TakeText(in, count);
    if (type == Tango::DEV_STRING) {
      value << text;
    } else {
      // Lines of the text are the array's strings.
      std::vector<std::string> lines;
      size_t start = 0;
      for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
      }
      lines.push_back(text.substr(start));
      value << lines;
    }
    return {};
  }
  if (type == Tango::DEV_UCHAR || type == Tango::DEV_STATE) return Unsupported(type);
  return TakeNumbersAs(type, in, count, format, [&](auto& values) -> Outcome {
    if (!IsArrayType(type)) return InsertScalar(value, values, TypeName(type));
    value << values;
    return {};
  });
}

Outcome FromDevFailed(const Tango::DevFailed& e) {
  Outcome o{kTangoDeviceError, "Tango error"};
  const Tango::DevErrorList& errors = e.errors;
  for (CORBA::ULong i = 0; i < errors.length(); ++i)
    o.stack.push_back({errors[i].reason.in(), errors[i].desc.in(), errors[i].origin.in()});
  if (errors.length() > 0) {
    // The first entry is where the fault arose, and says the most.
    std::string desc = errors[0].desc.in();
    desc = desc.substr(0, desc.find('\n'));
    while (!desc.empty() && (desc.back() == ' ' || desc.back() == '\r')) desc.pop_back();
    const std::string reason = errors[0].reason.in();
    o.detail = reason.empty() ? desc : desc.empty() ? reason : reason + ": " + desc;
    if (o.detail.empty()) o.detail = "Tango error";
  }
  for (CORBA::ULong i = 0; i < errors.length(); ++i) {
    const std::string reason = errors[i].reason.in();
    if (reason == "API_CantConnectToDevice" &&
        std::string(errors[i].desc.in()).find("delayed") != std::string::npos)
      o.reconnectDelayed = true;
    // A call that ran out of time may also come up as a CORBA exception.
    if (reason == "API_DeviceTimedOut" ||
        std::string(errors[i].desc.in()).find("CallTimedout") != std::string::npos) {
      o.code = kCodeLinkTimeout;
      return o;
    }
    if (reason == "API_CantConnectToDevice" || reason == "API_ServerNotRunning" ||
        reason == "API_DeviceNotExported" || reason == "API_CommunicationFailed" ||
        reason == "API_CorbaException" || reason == "API_CantConnectToDatabase" ||
        reason == "API_ConnectionFailed")
      o.code = kCodeServerUnavailable45;
  }
  return o;
}

}  // namespace dsc::tango
