#pragma once
// Asks a pass's stop check often enough (at least every 100 ms of work) and
// cheaply enough to be called for every directory entry: between questions
// it only reads the coarse monotonic clock, which costs no system call.
#include <cstdint>
#include <functional>

namespace KEF {

class StopPoller {
 public:
  // `check` may be empty (never stop); it must outlive the poller.
  explicit StopPoller(const std::function<bool()>& check);

  // True once the check has answered true; asks it when 50 ms have passed
  // since the last question.
  bool stopRequested();
  // Asks the check now (at the start of a root or a phase).
  bool askNow();

 private:
  const std::function<bool()>& check_;
  int64_t lastAskedNs_ = 0;
  bool stopped_ = false;
};

}  // namespace KEF
