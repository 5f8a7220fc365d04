#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "access/ClientLibrary.h"

namespace dsc {

// Lists of the control system's namespace. Each returns the completion code of
// its last library call and touches its outputs only on success. Names are
// trimmed of blanks. Lists are resized to count + 1 entries; the first
// `count` are valid.

// reported, when given, receives how many contexts the library said there
// are: more than kContextSlots means only the first kContextSlots are listed.
int16_t GetContextList(ClientLibrary& lib, std::vector<std::string>& names, int16_t& count,
                       int32_t* reported = nullptr);
int16_t GetServerList(ClientLibrary& lib, const std::string& context,
                      std::vector<std::string>& names, int16_t& count);
int16_t GetDeviceNameList(ClientLibrary& lib, const std::string& server,
                          std::vector<std::string>& names, int16_t& count);
int16_t GetPropertyList(ClientLibrary& lib, const std::string& device,
                        std::vector<std::string>& names, std::vector<int16_t>& sizes,
                        std::vector<int16_t>& formats, int16_t& count);

// Message text of a completion code; "Error undefined" when the library has none.
std::string GetErrorString(ClientLibrary& lib, int16_t code);

// Bytes up to the first NUL as text; with line feeds, every piece ends in CR LF.
std::string BytesToStringList(std::span<const uint8_t> bytes);
// Copies the text (and a NUL when it is shorter than the buffer); 0 and nothing
// copied when it does not fit.
int16_t StringListToBytes(const std::string& text, std::span<uint8_t> bytes);

}  // namespace dsc
