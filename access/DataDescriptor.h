#pragma once

#include <cstdint>

namespace dsc {

// The 16-byte description of a buffer passed to the client library: element
// count (a byte count for STRUCT) and full-form format code.
struct DataDescriptor {
  int32_t count = 0;
  int16_t format = 767;
  uint8_t reserved[10] = {};
};
static_assert(sizeof(DataDescriptor) == 16);

}  // namespace dsc
