#pragma once

#include <cstdint>
#include <string>

#include "engine/RunState.h"

namespace dsc {

// Turns blank-separated values into the control system's byte layout
// (little-endian, IEEE 754) at the start of bdata. Returns the number of values
// placed, or for TEXT the length of the text. Bytes past the values are left
// as they were.
int32_t parseStringToData(TransferArea& bdata, int16_t fmt, const std::string& s);

// Bytes that the last parseStringToData call wrote for a count n of format fmt
// (n x element size; for TEXT the text and its zero byte when there is room
// for it, or 0 when the text did not fit and nothing was copied).
int32_t ParsedByteCount(int16_t fmt, const std::string& s, int32_t n);

}  // namespace dsc
