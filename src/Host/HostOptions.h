#pragma once
// What `kefhost run` was asked to do.
#include <string>
#include <vector>

namespace kefhost {

struct HostOptions {
  std::string pluginPath;
  // One service per file, numbered from 1 in this order.
  std::vector<std::string> serviceDataFiles;
  // Finish each service once it has reported this many passes; 0: no limit.
  int passes = 0;
  // Finish every service after this many seconds; 0: no limit.
  double forSeconds = 0;
  bool quiet = false;
  bool json = false;
};

}  // namespace kefhost
