#pragma once
// The process's idle connections to the request database, so that a
// transaction does not pay for opening and checking the file, setting up
// the connection and preparing its statements: the framework makes one
// DatabaseTransaction per message.
//
// Connections are kept for one file name at a time (the location rarely
// changes; tests change it per test) and only while that name still refers
// to the file they have open. After fork the child never touches its
// parent's connections: they are set aside unused and the child opens its
// own (a fork handler marks the child, so no call asks for the process id).
// Thread-safe; fork waits for a pool operation in progress.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KEF/Database/internal/Connection.h"

namespace tvan {
namespace dbinternal {

class ConnectionPool {
 public:
  static ConnectionPool& instance();

  // An idle connection to `path`, or a new one. Throws DatabaseError.
  std::unique_ptr<Connection> take(const std::string& path, bool createMissing);
  // Gives back a connection taken for `path`; one left inside a transaction
  // that cannot be rolled back is closed instead.
  void giveBack(const std::string& path, std::unique_ptr<Connection> connection);

  ~ConnectionPool();

 private:
  ConnectionPool();
  ConnectionPool(const ConnectionPool&) = delete;
  ConnectionPool& operator=(const ConnectionPool&) = delete;

  // Sets connections of a parent process aside. Needs mutex_.
  void setAside(std::unique_ptr<Connection> connection);

  // Fork handlers: the pool's state is consistent in the child.
  static void beforeFork();
  static void afterForkInParent();
  static void afterForkInChild();

  static constexpr size_t kMaxIdle = 8;

  std::mutex mutex_;
  // State below is protected by mutex_.
  unsigned generation_;  // forks of this process's ancestry, counted by the child handler
  std::string path_;     // the file name of the idle connections
  std::vector<std::unique_ptr<Connection>> idle_;
  // Connections of a parent process, never used or closed here: closing
  // them would act on the parent's locks and files.
  std::vector<std::unique_ptr<Connection>> inherited_;
};

}  // namespace dbinternal
}  // namespace tvan
