#pragma once
// Scratch configuration files for the tests of the configuration caches.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace configtest {

// A new file name in the configuration directory (KEF_CONFIGURATION) per
// call: the caches keep every file name for the rest of the process.
inline std::string freshConfigName(const std::string& tag) {
  static int counter = 0;
  const char* dir = std::getenv("KEF_CONFIGURATION");
  return std::string(dir != nullptr ? dir : "/tmp") + "/" + tag + std::to_string(++counter) +
         ".xml";
}

inline void writeFile(const std::string& name, const std::string& text) {
  std::ofstream out(name, std::ios::trunc);
  out << text;
}

inline std::string readFile(const std::string& name) {
  std::ifstream in(name);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace configtest
