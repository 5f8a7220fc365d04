#pragma once

#include <string_view>

namespace dsc {

// Shell-style pattern matching ("*", "?", "[...]"), case ignored: the
// command-line filters and a site file's include and exclude lists.
bool GlobMatches(std::string_view pattern, std::string_view name);

}  // namespace dsc
