#include "KEF/Database/KEFRequestDatabase.h"

#include <exception>

#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/internal/Clock.h"
#include "KEF/Database/internal/Connection.h"
#include "KEF/Database/internal/Statement.h"

namespace tvan {

using dbinternal::Connection;
using dbinternal::StatementRun;

KEFRequestDatabase::KEFRequestDatabase(DatabaseTransaction* transaction)
    : transaction_(transaction) {}

KEFRequestDatabase::~KEFRequestDatabase() = default;

bool KEFRequestDatabase::updateStatus(std::string uid, std::string status) {
  static const char kOperation[] = "updateStatus";
  if (transaction_ == nullptr) return false;
  if (uid.empty()) return transaction_->fail(kOperation, "the request's uid is empty");
  try {
    Connection* connection = transaction_->connectionFor(kOperation, true);
    if (connection == nullptr) return false;
    StatementRun upsert(connection->prepare(
        "INSERT INTO requests (uid, status, changed_at) VALUES (?, ?, ?)"
        " ON CONFLICT (uid) DO UPDATE SET status = excluded.status,"
        " changed_at = excluded.changed_at"));
    upsert->bindText(1, uid);
    upsert->bindText(2, status);
    upsert->bindInt64(3, dbinternal::nowMillis());
    upsert->step();
  } catch (const std::exception& error) {
    return transaction_->fail(kOperation, error.what());
  }
  transaction_->succeed();
  return true;
}

bool KEFRequestDatabase::getRequests(std::vector<Request>& requests, const std::string& uid) {
  static const char kOperation[] = "getRequests";
  if (transaction_ == nullptr) return false;
  try {
    Connection* connection = transaction_->connectionFor(kOperation, false);
    if (connection == nullptr) return false;
    StatementRun query(connection->prepare(
        uid.empty() ? "SELECT uid, status, changed_at FROM requests ORDER BY uid"
                    : "SELECT uid, status, changed_at FROM requests WHERE uid = ?"));
    if (!uid.empty()) query->bindText(1, uid);
    while (query->step()) {
      Request request;
      request.uid = query->columnText(0);
      request.status = query->columnText(1);
      request.changedAt = query->columnInt64(2);
      requests.push_back(std::move(request));
    }
  } catch (const std::exception& error) {
    return transaction_->fail(kOperation, error.what());
  }
  transaction_->succeed();
  return true;
}

}  // namespace tvan
