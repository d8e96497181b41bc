#include "KEF/Database/ServiceRequestDatabase.h"

#include <exception>

#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/internal/Clock.h"
#include "KEF/Database/internal/Connection.h"
#include "KEF/Database/internal/Statement.h"

namespace tvan {

using dbinternal::Connection;
using dbinternal::Statement;
using dbinternal::StatementRun;

namespace {

const char kInsert[] =
    "INSERT INTO messages (stored_at, msg_type, service_id, client_id, service_name, note,"
    " persistent, response_status, origin, data, record)"
    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

const char kColumns[] =
    "SELECT id, stored_at, msg_type, service_id, client_id, service_name, note, persistent,"
    " response_status, origin, data, record FROM messages WHERE id > ?";

// The query of a selection; one text per combination of conditions, each
// prepared once per connection.
std::string selectionQuery(const ServiceRequestDatabase::Selection& selection) {
  std::string sql = kColumns;
  if (!selection.serviceID.empty()) sql += " AND service_id = ?";
  if (!selection.serviceName.empty()) sql += " AND service_name = ?";
  sql += " ORDER BY id";
  if (selection.limit > 0) sql += " LIMIT ?";
  return sql;
}

}  // namespace

ServiceRequestDatabase::ServiceRequestDatabase(DatabaseTransaction* transaction)
    : transaction_(transaction) {}

ServiceRequestDatabase::~ServiceRequestDatabase() = default;

bool ServiceRequestDatabase::addEntry(ServiceRequestDatabaseEntry entry) {
  static const char kOperation[] = "addEntry";
  if (transaction_ == nullptr) return false;
  try {
    Connection* connection = transaction_->connectionFor(kOperation, true);
    if (connection == nullptr) return false;
    if (entry.origin.empty()) entry.origin = ServiceRequestDatabaseEntry::currentOrigin();
    StatementRun insert(connection->prepare(kInsert));
    insert->bindInt64(1, dbinternal::nowMillis());
    insert->bindText(2, entry.messageType);
    insert->bindText(3, entry.serviceID);
    insert->bindText(4, entry.clientID);
    insert->bindText(5, entry.serviceName);
    insert->bindText(6, entry.note);
    insert->bindText(7, entry.persistent);
    insert->bindText(8, entry.responseStatus);
    insert->bindText(9, entry.origin);
    insert->bindText(10, entry.data);
    insert->bindBlob(11, entry.record);
    insert->step();
  } catch (const std::exception& error) {
    return transaction_->fail(kOperation, error.what());
  }
  transaction_->succeed();
  return true;
}

bool ServiceRequestDatabase::getEntries(const Selection& selection,
                                        std::vector<ServiceRequestDatabaseEntry>& entries) {
  static const char kOperation[] = "getEntries";
  if (transaction_ == nullptr) return false;
  try {
    Connection* connection = transaction_->connectionFor(kOperation, false);
    if (connection == nullptr) return false;
    StatementRun query(connection->prepare(selectionQuery(selection)));
    int parameter = 1;
    query->bindInt64(parameter++, selection.afterKey);
    if (!selection.serviceID.empty()) query->bindText(parameter++, selection.serviceID);
    if (!selection.serviceName.empty()) query->bindText(parameter++, selection.serviceName);
    if (selection.limit > 0) query->bindInt64(parameter++, static_cast<int64_t>(selection.limit));
    while (query->step()) {
      ServiceRequestDatabaseEntry entry;
      entry.key = std::to_string(query->columnInt64(0));
      entry.storedAt = dbinternal::formatMillis(query->columnInt64(1));
      entry.messageType = query->columnText(2);
      entry.serviceID = query->columnText(3);
      entry.clientID = query->columnText(4);
      entry.serviceName = query->columnText(5);
      entry.note = query->columnText(6);
      entry.persistent = query->columnText(7);
      entry.responseStatus = query->columnText(8);
      entry.origin = query->columnText(9);
      entry.data = query->columnText(10);
      entry.record = query->columnBlob(11);
      entries.push_back(std::move(entry));
    }
  } catch (const std::exception& error) {
    return transaction_->fail(kOperation, error.what());
  }
  transaction_->succeed();
  return true;
}

bool ServiceRequestDatabase::removeEntriesBefore(int64_t cutoffMillis, int64_t& removed) {
  static const char kOperation[] = "removeEntriesBefore";
  removed = 0;
  if (transaction_ == nullptr) return false;
  try {
    Connection* connection = transaction_->connectionFor(kOperation, true);
    if (connection == nullptr) return false;
    StatementRun remove(connection->prepare("DELETE FROM messages WHERE stored_at < ?"));
    remove->bindInt64(1, cutoffMillis);
    remove->step();
    removed = connection->changes();
  } catch (const std::exception& error) {
    return transaction_->fail(kOperation, error.what());
  }
  transaction_->succeed();
  return true;
}

}  // namespace tvan
