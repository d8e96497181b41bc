#include "KEF/Database/internal/ConnectionPool.h"

#include <pthread.h>

namespace tvan {
namespace dbinternal {

ConnectionPool& ConnectionPool::instance() {
  static ConnectionPool pool;
  return pool;
}

ConnectionPool::ConnectionPool() : generation_(0) {
  ::pthread_atfork(&ConnectionPool::beforeFork, &ConnectionPool::afterForkInParent,
                   &ConnectionPool::afterForkInChild);
}

void ConnectionPool::beforeFork() { instance().mutex_.lock(); }

void ConnectionPool::afterForkInParent() { instance().mutex_.unlock(); }

void ConnectionPool::afterForkInChild() {
  ConnectionPool& pool = instance();
  ++pool.generation_;
  pool.mutex_.unlock();
}

ConnectionPool::~ConnectionPool() {
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& connection : idle_) {
    if (connection->forkGeneration != generation_) setAside(std::move(connection));
  }
  idle_.clear();
  // Inherited connections stay open on purpose (see inherited_); kept
  // reachable so that the leak checker does not count them.
  static auto* const kept = new std::vector<std::unique_ptr<Connection>>();
  for (auto& connection : inherited_) kept->push_back(std::move(connection));
}

void ConnectionPool::setAside(std::unique_ptr<Connection> connection) {
  inherited_.push_back(std::move(connection));
}

std::unique_ptr<Connection> ConnectionPool::take(const std::string& path, bool createMissing) {
  std::unique_ptr<Connection> connection;
  std::vector<std::unique_ptr<Connection>> stale;  // closed outside the lock
  unsigned generation = 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    generation = generation_;
    if (path != path_) {
      stale.swap(idle_);
      path_ = path;
    }
    while (!idle_.empty()) {
      std::unique_ptr<Connection> candidate = std::move(idle_.back());
      idle_.pop_back();
      if (candidate->forkGeneration != generation) {
        setAside(std::move(candidate));
      } else if (candidate->refersTo(path)) {
        connection = std::move(candidate);
        break;
      } else {
        stale.push_back(std::move(candidate));  // its file was removed or replaced
      }
    }
    for (auto& old : stale) {
      if (old->forkGeneration != generation) setAside(std::move(old));
    }
  }
  if (connection == nullptr) {
    connection = openConnection(path, createMissing);
    connection->forkGeneration = generation;
  }
  return connection;
}

void ConnectionPool::giveBack(const std::string& path, std::unique_ptr<Connection> connection) {
  if (connection == nullptr) return;
  std::lock_guard<std::mutex> hold(mutex_);
  if (connection->forkGeneration != generation_) {
    // Taken before a fork, given back in the child.
    setAside(std::move(connection));
    return;
  }
  if (connection->inTransaction() && !connection->rollback()) return;  // closed by unique_ptr
  if (path == path_ && idle_.size() < kMaxIdle) idle_.push_back(std::move(connection));
}

}  // namespace dbinternal
}  // namespace tvan
