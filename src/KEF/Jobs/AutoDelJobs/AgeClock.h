#pragma once
// File ages in nanoseconds against one "now" taken when the pass starts, so
// every file of a pass is judged against the same moment.
#include <sys/stat.h>

#include <cstdint>

#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"

namespace KEF {

class AgeClock {
 public:
  AgeClock(AgeBy by, int64_t nowNs) : by_(by), nowNs_(nowNs) {}

  // The wall clock, in nanoseconds since 1970.
  static int64_t wallNowNs();
  // `seconds` as nanoseconds, saturated: a limit too large to represent is
  // one no file reaches.
  static int64_t limitNs(double seconds);

  // The file's time the age is taken from, in nanoseconds since 1970.
  // Times beyond a few centuries either way are clamped, which keeps ages
  // exact for every real file and free of overflow for absurd ones.
  int64_t timeOf(const struct stat& st) const;
  // True when the file is strictly older than `limitNs`.
  bool olderThan(const struct stat& st, int64_t limitNs) const {
    return nowNs_ - timeOf(st) > limitNs;
  }

 private:
  AgeBy by_;
  int64_t nowNs_;
};

}  // namespace KEF
