#include "KEF/Database/internal/Clock.h"

#include <time.h>

#include <cstdio>

namespace tvan {
namespace dbinternal {

int64_t nowMillis() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long long monotonicMillis() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string formatMillis(int64_t millis) {
  int64_t seconds = millis / 1000;
  int64_t rest = millis % 1000;
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  const time_t whole = static_cast<time_t>(seconds);
  struct tm parts;
  gmtime_r(&whole, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(rest));
  return text;
}

}  // namespace dbinternal
}  // namespace tvan
