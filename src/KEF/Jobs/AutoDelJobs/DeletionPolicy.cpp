#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"

#include <strings.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "KEF/Jobs/AutoDelJobs/PolicyElements.h"
#include "KEF/Jobs/AutoDelJobs/SystemFolders.h"

namespace KEF {

namespace {

std::string quoted(const char* element, const std::string& text) {
  return std::string(element) + " \"" + text + "\"";
}

// The single text of an optional element: false (with `error`) when it is
// given more than once, since then it is not clear which value is meant.
bool single(PolicyElements& elements, const char* name, bool& present, std::string& text,
            std::string& error) {
  const std::vector<std::string> texts = elements.all(name);
  if (texts.size() > 1) {
    error = std::string(name) + " is given " + std::to_string(texts.size()) + " times";
    return false;
  }
  present = !texts.empty();
  if (present) text = texts.front();
  return true;
}

// A finite decimal number, the whole text. from_chars ignores the locale,
// so "1.5" reads the same wherever the service runs.
bool parseNumber(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

// Reads an optional number into `value` (kept when absent) and checks it is
// at least `minimum` (above it when `strict`) and at most `maximum`.
bool readNumber(PolicyElements& elements, const char* name, bool required, double minimum,
                bool strict, double maximum, double& value, bool& present, std::string& error) {
  std::string text;
  if (!single(elements, name, present, text, error)) return false;
  if (!present) {
    if (required) error = std::string("Policy has no ") + name;
    return !required;
  }
  double number = 0;
  if (!parseNumber(text, number)) {
    error = quoted(name, text) + " is not a number";
    return false;
  }
  if (number < minimum || (strict && number == minimum)) {
    error = quoted(name, text) + (strict ? " is not above " : " is below ") +
            std::to_string(static_cast<long long>(minimum));
    return false;
  }
  if (number > maximum) {
    error = quoted(name, text) + " is above " + std::to_string(static_cast<long long>(maximum));
    return false;
  }
  value = number;
  return true;
}

bool readBoolean(PolicyElements& elements, const char* name, bool& value, std::string& error) {
  std::string text;
  bool present = false;
  if (!single(elements, name, present, text, error)) return false;
  if (!present) return true;
  if (strcasecmp(text.c_str(), "yes") == 0) {
    value = true;
  } else if (strcasecmp(text.c_str(), "no") == 0) {
    value = false;
  } else {
    error = quoted(name, text) + " is neither yes nor no";
    return false;
  }
  return true;
}

bool readAgeBy(PolicyElements& elements, AgeBy& value, std::string& error) {
  std::string text;
  bool present = false;
  if (!single(elements, "AgeBy", present, text, error)) return false;
  if (!present) return true;
  if (strcasecmp(text.c_str(), "mtime") == 0) {
    value = AgeBy::kModified;
  } else if (strcasecmp(text.c_str(), "atime") == 0) {
    value = AgeBy::kAccessed;
  } else if (strcasecmp(text.c_str(), "ctime") == 0) {
    value = AgeBy::kChanged;
  } else {
    error = quoted("AgeBy", text) + " is not mtime, atime or ctime";
    return false;
  }
  return true;
}

bool readPatterns(PolicyElements& elements, const char* name, std::vector<std::string>& patterns,
                  std::string& error) {
  patterns = elements.all(name);
  for (const std::string& pattern : patterns) {
    if (pattern.empty()) {
      error = std::string(name) + " is empty";
      return false;
    }
  }
  return true;
}

// The resolved form of `root` when it exists, or "".
std::string realPathOf(const std::string& root) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(root.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

}  // namespace

bool DeletionPolicy::read(BaseJobData& data, DeletionPolicy& policy, std::string& error) {
  PolicyElements elements(data);
  if (!elements.exists()) {
    error = "the job data has no Policy element";
    return false;
  }
  DeletionPolicy read;
  read.roots = elements.all("Root");
  if (read.roots.empty()) {
    error = "Policy has no Root";
    return false;
  }
  for (const std::string& root : read.roots) {
    error = refuseRoot(root);
    if (!error.empty()) return false;
  }
  constexpr double kUnbounded = HUGE_VAL;
  bool present = false;
  bool freeSpaceRule = false;
  if (!readNumber(elements, "MaxAgeDays", true, 0, false, kUnbounded, read.maxAgeDays, present,
                  error) ||
      !readAgeBy(elements, read.ageBy, error) ||
      !readPatterns(elements, "Include", read.include, error) ||
      !readPatterns(elements, "Protect", read.protect, error) ||
      !readNumber(elements, "MinFreePercent", false, 0, false, 100, read.minFreePercent,
                  freeSpaceRule, error) ||
      !readNumber(elements, "MinAgeHours", false, 0, false, kUnbounded, read.minAgeHours, present,
                  error) ||
      !readBoolean(elements, "RemoveEmptyDirs", read.removeEmptyDirs, error) ||
      !readBoolean(elements, "DryRun", read.dryRun, error) ||
      !readNumber(elements, "IntervalSeconds", false, 0, true, kUnbounded, read.intervalSeconds,
                  present, error)) {
    return false;
  }
  error.clear();
  policy = std::move(read);
  return true;
}

std::string DeletionPolicy::refuseRoot(const std::string& root) {
  const std::string written = "Root \"" + root + "\"";
  if (root.empty() || root[0] != '/') return written + " is not an absolute path";
  const std::string normal = SystemFolders::normalise(root);
  std::string verdict = SystemFolders::judge(normal);
  if (!verdict.empty()) {
    return written + " is " + verdict + (normal == root ? "" : " (" + normal + ")");
  }
  // A link, anywhere along the path, may lead where the text does not say.
  const std::string real = realPathOf(root);
  if (real.empty()) return "";
  verdict = SystemFolders::judge(real);
  if (!verdict.empty()) return written + " leads to " + real + ", " + verdict;
  return "";
}

}  // namespace KEF
