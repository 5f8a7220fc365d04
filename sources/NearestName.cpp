#include "sources/NearestName.h"

#include <algorithm>
#include <cstddef>

#include "base/Letters.h"

namespace dsc {

namespace {

size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string NearestName(const std::string& typed, const std::vector<std::string>& known,
                        bool ignoreCase) {
  std::string best;
  size_t bestDistance = std::max<size_t>(2, typed.size() / 3) + 1;
  const std::string word = ignoreCase ? UpperCase(typed) : typed;
  for (const std::string& k : known) {
    const size_t d = Distance(word, ignoreCase ? UpperCase(k) : k);
    if (d < bestDistance) {
      bestDistance = d;
      best = k;
    }
  }
  return best;
}

}  // namespace dsc
