#include "KEF/Jobs/AutoDelJobs/StopPoller.h"

#include <time.h>

namespace KEF {

namespace {

// Half the promised interval, since the coarse clock lags by a tick.
constexpr int64_t kAskEveryNs = 50 * 1000 * 1000;

int64_t coarseNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

StopPoller::StopPoller(const std::function<bool()>& check) : check_(check) {
  lastAskedNs_ = coarseNowNs();
}

bool StopPoller::stopRequested() {
  if (stopped_) return true;
  if (!check_) return false;
  const int64_t now = coarseNowNs();
  if (now - lastAskedNs_ < kAskEveryNs) return false;
  return askNow();
}

bool StopPoller::askNow() {
  if (!stopped_ && check_) {
    lastAskedNs_ = coarseNowNs();
    stopped_ = check_();
  }
  return stopped_;
}

}  // namespace KEF
