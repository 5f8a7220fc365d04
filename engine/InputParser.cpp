#include "engine/InputParser.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <string_view>

#include "base/Codec.h"
#include "base/Formats.h"
#include "engine/NumberText.h"

namespace dsc {

namespace {

// Numbers and names of a command's format, which is always the full form: a
// short code converts nothing.
bool Parsed(int16_t fmt) {
  return fmt >= kFormatBase && (IsNumberFormat(fmt) || IsNameFormat(fmt));
}

// A text that fills the whole area is still copied, only without its zero
// byte; one character more and nothing is copied at all.
constexpr size_t kAreaSize = std::tuple_size_v<TransferArea>;
bool TextFits(const std::string& s) { return s.size() <= kAreaSize; }
int32_t TextBytes(const std::string& s) {
  return static_cast<int32_t>(s.size() < kAreaSize ? s.size() + 1 : s.size());
}

int32_t TextCount(const std::string& s) {
  return s.size() > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(s.size());
}

void PutNumber(uint8_t* at, int16_t fmt, std::string_view word) {
  double value = LeadingNumber(word);
  switch (fmt) {
    case kFormatDouble:
      // An overflowing exponent stays infinity: a valid double the server
      // may well answer.
      PutLittleEndian(at, value);
      break;
    case kFormatShort:
      // Remainder by 32767, not 32768, keeping the sign: 32767 stores 0 and
      // 40000 stores 7233. The servers' test lists are written for that.
      PutLittleEndian(at, static_cast<int16_t>(RoundToInt32(value) % 32767));
      break;
    case kFormatByte: {
      // Remainder by 255, not 256: 255 stores 0 and 256 stores 1. The test
      // lists of the servers rely on this, so it must stay. A negative
      // remainder (-1 .. -254) stores its two's-complement low byte, as a
      // signed byte would: -1 gives FF.
      int32_t rest = RoundToInt32(value) % 255;
      *at = static_cast<uint8_t>(rest & 0xFF);
      break;
    }
    case kFormatLong:
      // Beyond the 32-bit range the value saturates, like every whole number.
      PutLittleEndian(at, RoundToInt32(value));
      break;
    case kFormatSingle: {
      // Saturate at the largest finite float instead of turning into infinity.
      double clamped =
          std::clamp(value, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX));
      PutLittleEndian(at, static_cast<float>(clamped));
      break;
    }
    default:
      break;
  }
}

}  // namespace

int32_t parseStringToData(TransferArea& bdata, int16_t fmt, const std::string& s) {
  if (fmt == kFormatText) {
    if (TextFits(s)) {
      std::memcpy(bdata.data(), s.data(), s.size());
      if (s.size() < kAreaSize) bdata[s.size()] = 0;
    }
    return TextCount(s);
  }
  bool number = IsNumberFormat(fmt);
  if (!Parsed(fmt)) return 0;

  // Every blank ends a word, so doubled, leading or trailing blanks give
  // empty words, which read as 0 or as an empty name.
  const int16_t elementSize = FormatElementSize(fmt);
  const int32_t limit = kTransferLimit / elementSize;
  if (s.empty()) return 0;
  std::string_view rest(s);
  int32_t n = 0;
  while (n < limit) {
    size_t blank = rest.find(' ');
    std::string_view word = rest.substr(0, blank);
    uint8_t* at = bdata.data() + static_cast<size_t>(n) * elementSize;
    if (number) {
      PutNumber(at, fmt, word);
    } else {
      WriteName(at, static_cast<size_t>(elementSize), word);
    }
    ++n;
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }
  return n;
}

int32_t ParsedByteCount(int16_t fmt, const std::string& s, int32_t n) {
  if (fmt == kFormatText) return TextFits(s) ? TextBytes(s) : 0;
  if (!Parsed(fmt)) return 0;
  int32_t count = std::clamp(n, 0, kTransferLimit / FormatElementSize(fmt));
  return count * FormatElementSize(fmt);
}

}  // namespace dsc
