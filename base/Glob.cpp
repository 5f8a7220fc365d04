#include "base/Glob.h"

#include <fnmatch.h>

#include <string>

namespace dsc {

bool GlobMatches(std::string_view pattern, std::string_view name) {
  return fnmatch(std::string(pattern).c_str(), std::string(name).c_str(), FNM_CASEFOLD) == 0;
}

}  // namespace dsc
