#pragma once

#include <string>
#include <vector>

namespace dsc {

// The known word nearest to a typed one by edit distance, when it is near
// enough to be a typo (at most a third of the word, at least two edits);
// empty otherwise. For "did you mean" on columns, formats, subcommands and
// options.
std::string NearestName(const std::string& typed, const std::vector<std::string>& known,
                        bool ignoreCase);

}  // namespace dsc
