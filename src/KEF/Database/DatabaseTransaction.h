#pragma once
// A transaction on the machine's request database: the unit in which the
// framework stores a message (ServiceRequestDatabase) or a request's status
// (KEFRequestDatabase).
//
// Use: construct on the stack, start(), run the database operations on it,
// then commit() (or rollback()); the destructor rolls back a transaction
// still open. Objects working on the transaction must be destroyed first.
//
// The connection is taken when the transaction starts and kept until the
// object is destroyed; connections are reused across transactions of a
// process, so a transaction costs no open of the file. The database is one
// SQLite file shared by every process of the machine, or a PostgreSQL server
// that several machines share (then a write the server cannot take goes to a
// local spool, and the commit still succeeds); a writing transaction holds
// its write lock from start() to commit() or rollback(), waiting for another
// writer up to 10 s, and what it committed survives the end of the process.
// See the README, "Request database".
//
// Failure: no operation throws. Each answers false and records why in
// getLastError(): the file is not a request database (it is then left
// unchanged), it cannot be created or opened, the write lock stayed taken,
// the disk is full, and so on.
//
// Threads: one object is used by one thread at a time; different objects
// may run on different threads.
#include <memory>
#include <string>

namespace tvan {

namespace dbinternal {
class Connection;
}

class DatabaseTransaction {
 public:
  enum OpenMode {
    kCreateMissing,  // a missing database (and its folder) is created
    kExistingOnly    // a missing database is an error (readers, the tool)
  };

  // The request database at the configured location (requestDatabasePath),
  // looked up now; created when missing.
  DatabaseTransaction();
  // The request database in the file `path`.
  explicit DatabaseTransaction(const std::string& path, OpenMode mode = kCreateMissing);
  virtual ~DatabaseTransaction();

  DatabaseTransaction(const DatabaseTransaction&) = delete;
  DatabaseTransaction& operator=(const DatabaseTransaction&) = delete;

  // Begins a writing transaction, waiting for the write lock if another
  // process holds it. False when one is already open or the database cannot
  // be used.
  bool start();
  // Begins a reading transaction: one consistent state of the database,
  // without the write lock, so it never waits for a writer.
  bool startReading();
  // Makes the changes of the open transaction permanent. False when none is
  // open or the commit failed (the changes are then rolled back).
  bool commit();
  // Drops the changes of the open transaction. False when none is open.
  bool rollback();

  bool isOpen() const { return open_; }
  // The database file this transaction works on.
  const std::string& getPath() const { return path_; }
  // Why the last operation on this transaction, or on a database object
  // working on it, failed; empty after one that succeeded.
  const std::string& getLastError() const { return lastError_; }

 private:
  friend class ServiceRequestDatabase;
  friend class KEFRequestDatabase;

  bool begin(bool writing);
  // The open transaction's connection for an operation of a database
  // object; null, with the reason recorded, when no transaction is open.
  dbinternal::Connection* connectionFor(const char* operation, bool writing);
  // Records a failure of `operation`; returns false.
  bool fail(const char* operation, const std::string& reason);
  void succeed() { lastError_.clear(); }
  // Returns the connection to the process's pool.
  void release();

  std::string path_;
  OpenMode mode_;
  std::unique_ptr<dbinternal::Connection> connection_;  // owned while held
  bool open_;
  bool writing_;
  std::string lastError_;
  // Why the last start failed, repeated by the operations tried without a
  // transaction (callers may not check start's result).
  std::string startError_;
};

}  // namespace tvan
