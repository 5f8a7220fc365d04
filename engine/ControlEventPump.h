#pragma once

#include <functional>
#include <utility>

#include "access/DataAcquisitionControl.h"
#include "engine/FrontEnd.h"

namespace dsc {

// The event pump of a front end without a window system (terminal checker,
// tests, benchmarks): "processing pending events" delivers the control's due
// completion events. The sleep is injected so that tests can advance a fake
// clock instead of waiting.
class ControlEventPump final : public EventPump {
 public:
  ControlEventPump(DataAcquisitionControl& control, std::function<void(int32_t)> sleep)
      : control_(control), sleep_(std::move(sleep)) {}
  void Sleep(int32_t ms) override { sleep_(ms); }
  void ProcessPendingEvents() override { control_.ProcessEvents(); }

 private:
  DataAcquisitionControl& control_;
  std::function<void(int32_t)> sleep_;
};

}  // namespace dsc
