#pragma once
// The host's view of its services' status reports.
//
// The jobs store their reports in the request database and the host's
// service manager is notified after each commit, on the job's thread. The
// feed then reads, for every service of this host (selected by its
// ServiceID, so other processes' services never show), the reports stored
// after the last one it read, writes a progress line for each and counts
// each service's passes.
//
// Passes: the highest Pass figure reported; a running or error report
// without a Pass figure (other than a change of state) counts as one more
// pass.
//
// Threads: watch() before any service runs; poll() from any thread (the
// controller threads, the main thread's last read), serialised here;
// passes() from any thread without waiting for a poll, so that the main
// loop never stalls behind a slow reader of the progress output.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

namespace kefhost {

class ProgressWriter;
struct StatusReport;

class StatusFeed {
 public:
  // Problems reading the database go to `diagnostics`, once.
  StatusFeed(ProgressWriter& writer, FILE* diagnostics);

  StatusFeed(const StatusFeed&) = delete;
  StatusFeed& operator=(const StatusFeed&) = delete;

  // Follows the service's reports from now on: reports stored earlier under
  // the same ServiceID (an earlier run of the same service data) do not
  // count.
  void watch(int index, const std::string& serviceName, const std::string& serviceID);

  // Reads and writes out every report stored since the last poll.
  void poll();

  // The passes the service numbered `index` has reported so far.
  int64_t passes(int index) const;

  // Whether the request database can be read: "" or why not. The caller
  // says it; the feed then does not say it again.
  std::string checkDatabase();

 private:
  struct Watched {
    Watched(int index, std::string serviceName, std::string serviceID, int64_t afterKey)
        : index(index),
          serviceName(std::move(serviceName)),
          serviceID(std::move(serviceID)),
          afterKey(afterKey) {}

    const int index;
    const std::string serviceName;
    const std::string serviceID;
    int64_t afterKey;  // the key of the last report read
    std::atomic<int64_t> passes{0};
  };

  // The key of the service's latest stored report; 0 when there is none.
  static int64_t latestKey(const std::string& serviceID);
  void count(Watched& service, const StatusReport& report);
  void reportTrouble(const std::string& reason);

  ProgressWriter& writer_;
  FILE* diagnostics_;
  std::mutex mutex_;  // serialises polls: guards the writer and afterKey
  std::deque<Watched> services_;  // a deque: its elements never move
  bool troubleReported_ = false;
};

}  // namespace kefhost
