#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace dsc {

// The utility library's byte helpers. UNIXTIME lives on Clock.

inline void MEMCPY(void* dst, const void* src, size_t n) {
  if (n > 0) std::memcpy(dst, src, n);
}

// Only the low 16 bits of the result count; 0 means equal.
inline int32_t MEMCMP(const void* a, const void* b, size_t n) {
  return n == 0 ? 0 : std::memcmp(a, b, n);
}

// The bytes as text, up to the first NUL.
inline std::string Bytes2String(std::span<const uint8_t> bytes) {
  size_t n = 0;
  while (n < bytes.size() && bytes[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(bytes.data()), n);
}

// n bytes of the text copied to dst (the caller checks the room).
inline void String2Bytes(uint8_t* dst, const std::string& text, size_t n) {
  MEMCPY(dst, text.data(), n);
}

}  // namespace dsc
