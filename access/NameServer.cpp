#include "access/NameServer.h"

#include <algorithm>

#include "access/ClientLibrary.h"
#include "access/CompletionCodes.h"

namespace dsc {

namespace {

// NTAGS, NDEVICES, NPROPS: one element of a number format.
int16_t WriteCount(const NameServerOutput& out, int32_t value, int32_t& delivered) {
  const size_t size = static_cast<size_t>(std::max<int16_t>(FormatElementSize(out.format), 0));
  if (out.count < 1 || size == 0) return kCodeSuccess;
  if (!IsNumberFormat(out.format)) return kCodeIllegalFormat;
  if (out.data.size() < size) return kCodeSuccess;
  WriteNumber(out.data.data(), out.format, value);
  delivered = 1;
  return kCodeSuccess;
}

// TAGS, DEVICES: as many NAME16 slots as asked for and as fit.
int16_t WriteSlots(const NameServerOutput& out, std::span<const std::string> slots,
                   int32_t& delivered) {
  if (out.format != kFormatName16) return kCodeIllegalFormat;
  delivered = static_cast<int32_t>(
      WriteNameSlots(out.data, slots, static_cast<size_t>(std::max(out.count, 0))));
  return kCodeSuccess;
}

int32_t Announced(const PropertyList& list) {
  return list.announced ? *list.announced : static_cast<int32_t>(list.properties.size());
}

// PROPS: one record per property, as many whole records as the byte count
// and the buffer hold.
int16_t WriteProperties(const NameServerOutput& out, const PropertyList& list, int32_t& delivered) {
  if (out.format != kFormatStruct) return kCodeIllegalFormat;
  const int64_t bytes = std::max(out.count, 0);
  const int64_t announced = Announced(list);
  const bool longAsked =
      announced > 0 ? bytes == announced * static_cast<int64_t>(kLongPropertyRecord)
                    : bytes % kLongPropertyRecord == 0 && bytes % kShortPropertyRecord != 0;
  // An old server knows only the short record and says so when asked for the long list.
  if (list.shortRecordsOnly && bytes > 0 && longAsked) return kCodeShortPropsOnly;
  const size_t record = list.shortRecordsOnly ? kShortPropertyRecord : kLongPropertyRecord;
  const size_t n = std::min(
      {list.properties.size(), static_cast<size_t>(bytes) / record, out.data.size() / record});
  for (size_t i = 0; i < n; ++i)
    WritePropertyRecord(out.data.subspan(i * record, record), list.properties[i]);
  delivered = static_cast<int32_t>(n * record);
  return kCodeSuccess;
}

bool Failed(int16_t code) { return code != 0 && !(static_cast<uint16_t>(code) & kCodeFlagPartial); }

}  // namespace

size_t WriteNameSlots(std::span<uint8_t> out, std::span<const std::string> names, size_t asked) {
  const size_t n = std::min({asked, names.size(), out.size() / kName16});
  for (size_t i = 0; i < n; ++i) WriteName(out.data() + i * kName16, kName16, names[i]);
  return n;
}

NameServerCall NameServerCallOf(std::string_view address, std::string_view property) {
  NameServerCall call;
  call.address = address;
  call.property = property;
  if (address == "ENS" || address.starts_with("ENS/")) {
    call.name = address.size() > 4 ? address.substr(4) : std::string_view();
    if (property == "NTAGS") call.query = NameQuery::ServerCount;
    if (property == "TAGS") call.query = NameQuery::Servers;
  } else if (!address.starts_with("/")) {
    call.name = address;
    if (property == "NDEVICES") call.query = NameQuery::DeviceCount;
    if (property == "DEVICES") call.query = NameQuery::Devices;
  } else {
    if (property == "NPROPS") call.query = NameQuery::PropertyCount;
    if (property == "PROPS") call.query = NameQuery::Properties;
  }
  return call;
}

int16_t AnswerNameServer(Directory& directory, const NameServerCall& call,
                         const NameServerOutput& out, int32_t& delivered) {
  delivered = 0;
  int16_t code = kCodeSuccess, written = kCodeSuccess;
  switch (call.query) {
    case NameQuery::ServerCount:
    case NameQuery::Servers:
    case NameQuery::DeviceCount:
    case NameQuery::Devices: {
      NameList list;
      const bool servers = call.query == NameQuery::ServerCount || call.query == NameQuery::Servers;
      code = servers ? directory.ListServers(call, list) : directory.ListDevices(call, list);
      if (Failed(code)) return code;
      if (call.query == NameQuery::ServerCount || call.query == NameQuery::DeviceCount)
        written = WriteCount(
            out, list.announced ? *list.announced : static_cast<int32_t>(list.names.size()),
            delivered);
      else
        written = WriteSlots(out, list.names, delivered);
      break;
    }
    case NameQuery::PropertyCount:
    case NameQuery::Properties: {
      PropertyList list;
      code = directory.ListProperties(call, list);
      if (Failed(code)) return code;
      written = call.query == NameQuery::PropertyCount ? WriteCount(out, Announced(list), delivered)
                                                       : WriteProperties(out, list, delivered);
      break;
    }
    case NameQuery::None:
      return kCodeSuccess;
  }
  return written != kCodeSuccess ? written : code;
}

}  // namespace dsc
