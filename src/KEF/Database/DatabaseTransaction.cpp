#include "KEF/Database/DatabaseTransaction.h"

#include <exception>

#include "KEF/Database/RequestDatabaseLocation.h"
#include "KEF/Database/internal/Connection.h"
#include "KEF/Database/internal/ConnectionPool.h"
#include "KEF/Database/internal/DatabaseError.h"

namespace tvan {

using dbinternal::Connection;
using dbinternal::ConnectionPool;
using dbinternal::DatabaseError;

DatabaseTransaction::DatabaseTransaction()
    : DatabaseTransaction(requestDatabasePath(), kCreateMissing) {}

DatabaseTransaction::DatabaseTransaction(const std::string& path, OpenMode mode)
    : path_(path), mode_(mode), open_(false), writing_(false) {}

DatabaseTransaction::~DatabaseTransaction() {
  if (open_) rollback();
  release();
}

bool DatabaseTransaction::start() { return begin(true); }

bool DatabaseTransaction::startReading() { return begin(false); }

bool DatabaseTransaction::begin(bool writing) {
  const char* const operation = writing ? "start" : "startReading";
  if (open_) return fail(operation, "a transaction is already open");
  if (path_.empty()) {
    fail(operation, "no request database location");
    startError_ = lastError_;
    return false;
  }
  try {
    if (connection_ == nullptr) {
      connection_ = ConnectionPool::instance().take(path_, mode_ == kCreateMissing);
    }
    connection_->begin(writing);
  } catch (const std::exception& error) {
    // A connection that failed to begin may be broken: do not keep it.
    connection_.reset();
    fail(operation, error.what());
    startError_ = lastError_;
    return false;
  }
  open_ = true;
  writing_ = writing;
  startError_.clear();
  succeed();
  return true;
}

bool DatabaseTransaction::commit() {
  if (!open_) return fail("commit", "no transaction is open");
  open_ = false;
  try {
    connection_->commit();
  } catch (const std::exception& error) {
    connection_->rollback();
    return fail("commit", error.what());
  }
  succeed();
  return true;
}

bool DatabaseTransaction::rollback() {
  if (!open_) return fail("rollback", "no transaction is open");
  open_ = false;
  if (!connection_->rollback()) {
    connection_.reset();  // in an unknown state: closed rather than reused
    return fail("rollback", "the rollback failed; the connection was closed");
  }
  succeed();
  return true;
}

Connection* DatabaseTransaction::connectionFor(const char* operation, bool writing) {
  if (!open_) {
    fail(operation, startError_.empty() ? "no transaction is open"
                                        : "no transaction is open; " + startError_);
    return nullptr;
  }
  if (writing && !writing_) {
    fail(operation, "the transaction was started for reading");
    return nullptr;
  }
  return connection_.get();
}

bool DatabaseTransaction::fail(const char* operation, const std::string& reason) {
  try {
    lastError_ = std::string(operation) + ": " + reason;
  } catch (...) {
    lastError_.clear();
  }
  return false;
}

void DatabaseTransaction::release() {
  if (connection_ == nullptr) return;
  try {
    ConnectionPool::instance().giveBack(path_, std::move(connection_));
  } catch (...) {
    connection_.reset();
  }
}

}  // namespace tvan
