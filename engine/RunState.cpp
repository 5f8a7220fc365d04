#include "engine/RunState.h"

#include "base/Formats.h"

namespace dsc {

int32_t EffectiveSize(int32_t size, int16_t format) {
  int32_t elementSize = FormatElementSize(format);
  if (size <= 0 || elementSize <= 0) return 0;
  int32_t limit = kTransferLimit / elementSize;
  return size > limit ? limit : size;
}

}  // namespace dsc
