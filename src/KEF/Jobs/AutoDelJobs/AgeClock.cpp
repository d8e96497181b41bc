#include "KEF/Jobs/AutoDelJobs/AgeClock.h"

#include <time.h>

#include <limits>

namespace KEF {

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// About 126 years either side of 1970: wide enough for any real file, narrow
// enough that "now - time" cannot overflow.
constexpr int64_t kClampSeconds = 4000000000;

int64_t nanoseconds(const timespec& time) {
  int64_t seconds = time.tv_sec;
  if (seconds > kClampSeconds) seconds = kClampSeconds;
  if (seconds < -kClampSeconds) seconds = -kClampSeconds;
  return seconds * kNsPerSecond + time.tv_nsec;
}

}  // namespace

int64_t AgeClock::wallNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return nanoseconds(now);
}

int64_t AgeClock::limitNs(double seconds) {
  const double ns = seconds * static_cast<double>(kNsPerSecond);
  // 2^63 is exactly representable; anything at or above it saturates.
  if (!(ns < 9223372036854775808.0)) return std::numeric_limits<int64_t>::max();
  if (ns <= 0) return 0;
  return static_cast<int64_t>(ns);
}

int64_t AgeClock::timeOf(const struct stat& st) const {
  switch (by_) {
    case AgeBy::kAccessed:
      return nanoseconds(st.st_atim);
    case AgeBy::kChanged:
      return nanoseconds(st.st_ctim);
    case AgeBy::kModified:
      break;
  }
  return nanoseconds(st.st_mtim);
}

}  // namespace KEF
