#pragma once
// One JSON object, written as one line: the host's --json progress records.
// Strings are escaped so that any text yields valid JSON: quotes,
// backslashes and control characters are escaped, and bytes that are not
// valid UTF-8 (file names may hold any) become U+FFFD.
#include <cstdint>
#include <string>

namespace kefhost {

class JsonObject {
 public:
  JsonObject& addString(const char* key, const std::string& value);
  JsonObject& addNumber(const char* key, int64_t value);
  JsonObject& addBool(const char* key, bool value);

  // "{...}" with the members in the order they were added.
  std::string text() const { return "{" + members_ + "}"; }

  // `value` as a JSON string literal, quotes included.
  static std::string quote(const std::string& value);

 private:
  void addKey(const char* key);

  std::string members_;
};

}  // namespace kefhost
