#include "KEF/Database/internal/ServerHealth.h"

#include <pthread.h>
#include <time.h>

#include <map>
#include <memory>
#include <mutex>

#include "KEF/Database/internal/Clock.h"
#include "KEF/Database/internal/EngineLog.h"

namespace tvan {
namespace dbinternal {

// Every location's state, and the one mutex over all of them. The mutex is
// held across fork so that a child never inherits it locked.
class ServerHealthRegistry {
 public:
  static ServerHealthRegistry& instance() {
    // Never destroyed: connections closed by static destructors may still
    // report to it.
    static ServerHealthRegistry* const registry = new ServerHealthRegistry;
    return *registry;
  }

  ServerHealth& of(const std::string& location, const std::string& shown) {
    std::lock_guard<std::mutex> hold(mutex);
    auto found = states_.find(location);
    if (found == states_.end()) {
      found = states_.emplace(location, std::unique_ptr<ServerHealth>(new ServerHealth(shown)))
                  .first;
    }
    return *found->second;
  }

  std::mutex mutex;

 private:
  ServerHealthRegistry() {
    ::pthread_atfork([] { instance().mutex.lock(); }, [] { instance().mutex.unlock(); },
                     [] { instance().mutex.unlock(); });
  }
  std::map<std::string, std::unique_ptr<ServerHealth>> states_;
};

ServerHealth& ServerHealth::of(const std::string& location, const std::string& shown) {
  return ServerHealthRegistry::instance().of(location, shown);
}

bool ServerHealth::mayTry() {
  std::lock_guard<std::mutex> hold(ServerHealthRegistry::instance().mutex);
  if (!down_) return true;
  if (attempting_ || monotonicMillis() < retryAt_) return false;
  attempting_ = true;
  return true;
}

bool ServerHealth::isDown() {
  std::lock_guard<std::mutex> hold(ServerHealthRegistry::instance().mutex);
  return down_ && (attempting_ || monotonicMillis() < retryAt_);
}

std::string ServerHealth::reason() {
  std::lock_guard<std::mutex> hold(ServerHealthRegistry::instance().mutex);
  return reason_;
}

void ServerHealth::reachable() {
  std::lock_guard<std::mutex> hold(ServerHealthRegistry::instance().mutex);
  down_ = false;
  attempting_ = false;
}

void ServerHealth::unreachable(const std::string& reason, const std::string& spoolPath) {
  bool first;
  {
    std::lock_guard<std::mutex> hold(ServerHealthRegistry::instance().mutex);
    first = !down_;
    down_ = true;
    attempting_ = false;
    retryAt_ = monotonicMillis() + kRetryMillis;
    reason_ = reason;
  }
  if (first) {
    logEngineEvent(kWarning, "ServerHealth::unreachable",
                   "Request database server " + shown_ + " unreachable (" + reason +
                       "); writes are kept in the spool " + spoolPath +
                       " and forwarded when the server takes them again.");
  }
}

void ServerHealth::refused(const std::string& reason) {
  {
    std::lock_guard<std::mutex> hold(ServerHealthRegistry::instance().mutex);
    if (refusalLogged_) return;
    refusalLogged_ = true;
  }
  logEngineEvent(kError, "ServerHealth::refused", reason);
}

void ServerHealth::forwarded(int64_t count, bool drained, const std::string& spoolPath) {
  int64_t total = 0;
  {
    std::lock_guard<std::mutex> hold(ServerHealthRegistry::instance().mutex);
    forwardedSinceDrain_ += count;
    if (!drained || forwardedSinceDrain_ == 0) return;
    total = forwardedSinceDrain_;
    forwardedSinceDrain_ = 0;
  }
  logEngineEvent(kInfo, "ServerHealth::forwarded",
                 "Request database spool " + spoolPath + " drained: " + std::to_string(total) +
                     " writes forwarded to " + shown_ + ".");
}

}  // namespace dbinternal
}  // namespace tvan
