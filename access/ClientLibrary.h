#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "access/DataDescriptor.h"

namespace dsc {

inline constexpr int kContextSlots = 201;     // NAME16 slots of T_GETCONTEXTS
inline constexpr int kContextCapacity = 200;  // count announced to the library
inline constexpr int kName16 = 16;

// The control system's client library. Every call is synchronous and blocks
// the caller up to its time-out; nothing is thrown across this boundary, a
// failure is a non-zero 16-bit completion code. Text is 8-bit Latin-1.
//
// Buffers are spans: an implementation writes at most out.size() bytes, never
// past the buffer, whatever count the descriptor announces.
class ClientLibrary {
 public:
  virtual ~ClientLibrary() = default;

  // Namespace reads (NTAGS/TAGS, NDEVICES/DEVICES, NPROPS/PROPS).
  virtual int16_t T_EXECLINK(const std::string& device, const std::string& property,
                             DataDescriptor& out, std::span<uint8_t> outData,
                             const DataDescriptor& in, std::span<const uint8_t> inData,
                             int16_t access, int32_t timeoutMs) = 0;
  // Reads of a server's own properties (SRVSELFTEST, SRVVERSION, ...).
  virtual int16_t EXECLINKEx(const std::string& device, const std::string& property,
                             DataDescriptor& out, std::span<uint8_t> outData,
                             const DataDescriptor& in, std::span<const uint8_t> inData,
                             int16_t access, int32_t timeoutMs) = 0;
  // names: kContextSlots NAME16 slots; count: in the capacity, out the names written.
  virtual int16_t T_GETCONTEXTS(std::span<uint8_t> names, int32_t& count) = 0;
  // Writes a NUL-terminated message into text and returns 0, or returns
  // non-zero when it has none for the code.
  virtual int16_t RPCERR(int16_t code, std::span<char> text) = 0;

  // A control system whose lists hold short names for longer names of its
  // own tells them here; both default to a library whose names are all
  // short. Names are the lists' names; `context` may be empty where a
  // server's name is unique.
  //
  // Where a name typed by a person belongs, the short or the long form, in
  // any case: `context`, `server` and `device` hold what was typed (empty
  // where nothing was) and, on true, the lists' names of what was found and
  // of what it belongs to. False leaves them as typed, and sets `code`
  // (where given) to why: 0 where the names are not listed, else the
  // completion code of the look-up that failed (a database not answering).
  virtual bool FindNames(std::string& /*context*/, std::string& /*server*/, std::string& /*device*/,
                         int16_t* code = nullptr) {
    if (code) *code = 0;
    return false;
  }
  // The long name of a listed context (server and device empty), server
  // (device empty) or device; for the device "#0" (a server's first) also
  // the host its server runs on. Empty where there is none.
  struct LongNames {
    std::string name;
    // A device's host; for a context, the name an older release gave it,
    // under which its test files may still be stored (empty: the same).
    std::string host;
  };
  virtual LongNames LongNameOf(const std::string& /*context*/, const std::string& /*server*/,
                               const std::string& /*device*/) {
    return {};
  }

  // The database directory the checker keeps its files in. A library that
  // gives short names of its own keeps them there, so that a name once given
  // stays its holder's; the default keeps nothing.
  virtual void setDatabaseDirectory(const std::string& /*path*/) {}
};

}  // namespace dsc
