#pragma once
// Scratch configuration files for the tests of the configuration caches.
#include <cstdlib>
#include <string>

#include "TestUtil.h"

namespace configtest {

using testutil::readFile;
using testutil::writeFile;

// A new file name in the configuration directory (KEF_CONFIGURATION) per
// call: the caches keep every file name for the rest of the process.
inline std::string freshConfigName(const std::string& tag) {
  static int counter = 0;
  const char* dir = std::getenv("KEF_CONFIGURATION");
  return std::string(dir != nullptr ? dir : "/tmp") + "/" + tag + std::to_string(++counter) +
         ".xml";
}

}  // namespace configtest
