#pragma once

// The name server, answered once for every backend: "ENS" (the default
// context) or "ENS/<context>" answers NTAGS and TAGS (its servers), a
// server's bare name NDEVICES and DEVICES, a device's address
// "/<context>/<server>/<device>" NPROPS and PROPS (its property records). A
// backend describes its directory; the bytes of every answer are laid out
// here, so the simulation and Tango cannot answer the same list differently.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "access/CompletionCodes.h"
#include "base/Codec.h"

namespace dsc {

enum class NameQuery : uint8_t {
  None,  // not a name-server access
  ServerCount,
  Servers,
  DeviceCount,
  Devices,
  PropertyCount,
  Properties,
};

// One name-server access as asked.
struct NameServerCall {
  NameQuery query = NameQuery::None;
  std::string_view address;   // as asked
  std::string_view property;  // NTAGS, TAGS, ...
  // ENS: the context named, "" for the default one; NDEVICES and DEVICES: the server.
  std::string_view name;
  int32_t timeoutMs = 0;
  std::string* detail = nullptr;  // when given, a text naming what failed
};

// Which query an access is; NameQuery::None for any other.
NameServerCall NameServerCallOf(std::string_view address, std::string_view property);

// The servers of a context or the devices of a server, in their NAME16 slots
// (an empty slot keeps its place; DEVICES continues a full name ending in "&"
// in the next slot).
struct NameList {
  std::span<const std::string> names;
  std::vector<std::string> own;      // storage for `names` when the directory builds the list
  std::optional<int32_t> announced;  // the count NTAGS or NDEVICES gives instead of the slots'
};

struct PropertyList {
  std::vector<PropertyRecord> properties;  // in the order PROPS lists them
  std::optional<int32_t> announced;        // the count NPROPS gives instead of the records'
  bool shortRecordsOnly = false;           // an old server: only the 68-byte record
};

// What a backend tells about its namespace. Each answers a completion code:
// 0; a warning (kCodeFlagPartial set), which comes with the list; or a
// failure, and the list is not read.
class Directory {
 public:
  virtual ~Directory() = default;
  virtual int16_t ListServers(const NameServerCall& call, NameList& list) = 0;
  virtual int16_t ListDevices(const NameServerCall& call, NameList& list) = 0;
  virtual int16_t ListProperties(const NameServerCall& call, PropertyList& list) = 0;
};

// Names into NAME16 slots: at most `asked` of them and as many as fit; the
// number written.
size_t WriteNameSlots(std::span<uint8_t> out, std::span<const std::string> names, size_t asked);

// The output an access asked for.
struct NameServerOutput {
  std::span<uint8_t> data;
  int32_t count = 0;   // elements; PROPS: bytes
  int16_t format = 0;  // full form
};

// Answers a name-server call from the directory: a count as one element of
// the number format asked for, names as NAME16 slots, property records as
// STRUCT bytes; `delivered` gets the elements (PROPS: bytes) written. A
// directory's warning is answered after its data.
int16_t AnswerNameServer(Directory& directory, const NameServerCall& call,
                         const NameServerOutput& out, int32_t& delivered);

}  // namespace dsc
