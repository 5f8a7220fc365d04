#pragma once

#include "engine/Outcome.h"
#include "engine/RunEvents.h"

namespace dsc {

// An output of ovra-check is a listener on the run's one observer channel.
using CheckOutput = RunObserver;

}  // namespace dsc
