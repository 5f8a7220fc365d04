#pragma once

#include <array>
#include <cstdint>

namespace dsc {

// One byte more than the transfer limit, so that a text of 16384 characters is
// still followed by its terminating zero byte.
using TransferArea = std::array<uint8_t, 16385>;
inline constexpr int32_t kTransferLimit = 16384;

// State shared by the runner, the input parser, the completion handler and the
// self-test reader. Never cleared between commands or runs.
struct RunState {
  TransferArea dataBuffer{};
  TransferArea referenceBuffer{};
  int32_t accessTimeout = 0;
  // The code an asynchronous access completed with, once it is no longer
  // pending; stopped: a stop request ended the wait first.
  int32_t completionStatus = 0;
  bool completionPending = false;
  bool completionStopped = false;
  int16_t currentCommand = 0;
  // How many bytes of referenceBuffer the last reference text actually set; the
  // comparison never looks past them (see CheckRunner).
  int32_t referenceBytes = 0;
};

// The element count actually transferred in one direction: 0 for a size <= 0
// or a format without element size, else the size cut to 16384 bytes.
int32_t EffectiveSize(int32_t size, int16_t format);

}  // namespace dsc
