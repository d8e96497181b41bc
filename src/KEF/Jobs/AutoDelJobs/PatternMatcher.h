#pragma once
// The Include and Protect patterns of a policy. A pattern matches an entry
// when fnmatch(3) (no flags, so '*' also spans '/') matches either its name
// or its path below the root ("a/b/x.dcm").
#include <string>
#include <vector>

namespace KEF {

class PatternMatcher {
 public:
  // Keeps references: both lists must outlive the matcher.
  PatternMatcher(const std::vector<std::string>& include, const std::vector<std::string>& protect)
      : include_(include), protect_(protect) {}

  bool isProtected(const char* name, const char* relativePath) const {
    return !protect_.empty() && anyMatches(protect_, name, relativePath);
  }
  // Every file is included when there are no Include patterns.
  bool isIncluded(const char* name, const char* relativePath) const {
    return include_.empty() || anyMatches(include_, name, relativePath);
  }

 private:
  static bool anyMatches(const std::vector<std::string>& patterns, const char* name,
                         const char* relativePath);

  const std::vector<std::string>& include_;
  const std::vector<std::string>& protect_;
};

}  // namespace KEF
