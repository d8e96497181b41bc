#include "KEF/Jobs/AutoDelJobs/PatternMatcher.h"

#include <fnmatch.h>

namespace KEF {

bool PatternMatcher::anyMatches(const std::vector<std::string>& patterns, const char* name,
                                const char* relativePath) {
  for (const std::string& pattern : patterns) {
    if (::fnmatch(pattern.c_str(), name, 0) == 0) return true;
    if (::fnmatch(pattern.c_str(), relativePath, 0) == 0) return true;
  }
  return false;
}

}  // namespace KEF
