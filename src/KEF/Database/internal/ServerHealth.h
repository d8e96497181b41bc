#pragma once
// What the process knows of one PostgreSQL location's reachability, shared
// by all its connections to it: whether the server is thought down, when
// to try it again, and which events were logged.
//
// After a failed attempt the server is left alone for kRetryMillis: every
// writer goes straight to the spool meanwhile, so an outage costs a writer
// at most one connection attempt (bounded by the connect time-out) per
// period instead of one per write, and only one caller of the process
// makes that attempt. The log gets one warning when the server becomes
// unreachable and one entry when the spool is drained again, not one per
// entry.
//
// Thread-safe; consistent in a forked child.
#include <cstdint>
#include <string>

namespace tvan {
namespace dbinternal {

class ServerHealth {
 public:
  static constexpr long long kRetryMillis = 1000;

  // The state of the location `location` (shown as `shown` in the log).
  static ServerHealth& of(const std::string& location, const std::string& shown);

  // Whether to talk to the server now: always while it is thought
  // reachable; while it is not, true for one caller once the back-off has
  // passed, who then reports the outcome (reachable or unreachable).
  bool mayTry();
  // Whether the server is thought down (and not due for another try).
  bool isDown();
  // Why it was last found unreachable.
  std::string reason();

  void reachable();
  // Logs the first failure of an outage, naming the spool that takes the
  // writes meanwhile.
  void unreachable(const std::string& reason, const std::string& spoolPath);
  // The server is not a request database: logged once per process.
  void refused(const std::string& reason);
  // Entries forwarded from the spool; when `drained`, the spool holds no
  // more for this server, which is logged once if anything was forwarded
  // since the last such entry.
  void forwarded(int64_t count, bool drained, const std::string& spoolPath);

  ServerHealth(const ServerHealth&) = delete;
  ServerHealth& operator=(const ServerHealth&) = delete;

 private:
  explicit ServerHealth(std::string shown) : shown_(std::move(shown)) {}
  friend class ServerHealthRegistry;

  const std::string shown_;
  // Below: protected by the registry's mutex.
  bool down_ = false;
  bool attempting_ = false;
  long long retryAt_ = 0;  // monotonic milliseconds
  std::string reason_;
  bool refusalLogged_ = false;
  int64_t forwardedSinceDrain_ = 0;
};

}  // namespace dbinternal
}  // namespace tvan
