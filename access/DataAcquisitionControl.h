#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "access/CompletionCodes.h"

namespace dsc {

// The data-acquisition control (Zorbel1 on the main window): one property of
// one device per access. A synchronous access completes inside ExecuteAccess;
// an asynchronous one (StartAccess) reports through the completion event.
//
// Completion events are never delivered behind the caller's back: they queue
// inside the control and reach the handler only from ProcessEvents(), which
// the front end's event pump calls on the GUI thread.
class DataAcquisitionControl {
 public:
  using CompletionHandler = std::function<void(int32_t ignored, int32_t code)>;

  virtual ~DataAcquisitionControl() = default;

  virtual void setContextName(const std::string& name) = 0;
  virtual std::string ContextName() const = 0;
  virtual void setServerName(const std::string& name) = 0;
  virtual std::string ServerName() const = 0;
  virtual void setDeviceName(const std::string& name) = 0;
  virtual std::string DeviceName() const = 0;
  virtual void setPropertyName(const std::string& name) = 0;
  virtual std::string PropertyName() const = 0;
  virtual void setAccessMode(const std::string& mode) = 0;
  virtual std::string AccessMode() const = 0;
  virtual void setLinkTimeout(int32_t ms) = 0;
  virtual int32_t LinkTimeout() const = 0;
  // A text for the last completion, whatever its code.
  virtual std::string StatusText() const = 0;
  // A control system that keeps a stack of errors for a failure gives the
  // last failure's whole stack here, where it arose first; the default has
  // none beyond StatusText.
  struct ErrorFrame {
    std::string reason, description, origin;
  };
  virtual std::vector<ErrorFrame> ErrorStack() const { return {}; }
  // What the last access, when it succeeded, saw worth a word beside
  // "Success" (a device's state by name, a value of doubtful quality); empty
  // by default and for most accesses.
  virtual std::string SuccessNote() const { return {}; }
  // What the last access told about its value beyond the value itself, where
  // the control system has it (Tango: quality, type, unit, time stamp, the
  // sizes read, a text array's lines, the set point read back, the limits
  // the value is judged by). Empty by default: a field left empty (or -1,
  // or without value) is not known.
  struct ValueFacts {
    std::string quality;     // "VALID", "WARNING", "ALARM", "CHANGING", "INVALID"
    std::string dataType;    // the control system's type name, e.g. "DevDouble"
    std::string dataFormat;  // "SCALAR", "SPECTRUM", "IMAGE"
    std::string unit;
    std::string timeStamp;           // UTC, "2026-12-07T03:40:00.123456Z"
    int32_t dimX = -1, dimY = -1;    // the sizes read
    std::vector<std::string> lines;  // the elements of a text array
    std::vector<double> values;      // the numbers read, before any conversion
    std::vector<double> setPoint;    // the set point read back
    bool writable = false;
    std::optional<double> minAlarm, maxAlarm, minWarning, maxWarning;
  };
  virtual ValueFacts LastValueFacts() const { return {}; }
  // The tolerance of the command about to run ("0.05", "2%"), for a control
  // that compares a value it reads back itself (a set point after a write);
  // the default compares nothing.
  virtual void setTolerance(const std::string& /*tolerance*/) {}
  // Why the last access failed with code; refusedAtStart: StartAccess
  // refused it. A control system that knows more than the code says (a
  // server hung rather than gone) tells it here.
  virtual AccessFailure FailureOf(int32_t code, bool refusedAtStart) const {
    return FailureOfCode(code, refusedAtStart);
  }
  // True when the last failure was not the server's doing this time: the
  // client library answered at once with an earlier time-out (while it holds
  // back reconnecting). Fail fast does not count it again.
  virtual bool LastFailureRepeated() const { return false; }

  // Output area, count, format; input area, count, format. Counts are element
  // counts, formats full-form codes. An omitted direction passes an empty
  // span, count 0 and format 767. Input and output may be the same bytes: the
  // input is consumed before the answer is written. Returns the completion code.
  virtual int32_t ExecuteAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                                std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) = 0;
  // Same arguments; negative means refused (minus the completion code), otherwise the access goes
  // on and delivers into `out` (which must stay valid until StopAccess).
  virtual int32_t StartAccess(std::span<uint8_t> out, int32_t outCount, int16_t outFormat,
                              std::span<const uint8_t> in, int32_t inCount, int16_t inFormat) = 0;
  virtual void StopAccess() = 0;

  virtual void setCompletionHandler(CompletionHandler handler) = 0;
  // Delivers every queued completion event that is due to the handler.
  virtual void ProcessEvents() = 0;
};

}  // namespace dsc
