#pragma once
// The messages between services, kept in the request database: the
// framework stores each KEFMessage here (ServiceManager::send), readers list
// them back.
//
// Works on a DatabaseTransaction it does not own, which must outlive it and
// be started before any operation (start() to write, startReading() or
// start() to read). Nothing throws: each operation answers false and the
// transaction's getLastError() says why.
#include <cstdint>
#include <string>
#include <vector>

#include "KEF/Database/ServiceRequestDatabaseEntry.h"

namespace tvan {

class DatabaseTransaction;

class ServiceRequestDatabase {
 public:
  // Which messages getEntries reads; every condition given must hold.
  struct Selection {
    std::string serviceID;    // the message's service id is this (empty: any)
    std::string serviceName;  // the message is addressed to this service (empty: any)
    int64_t afterKey = 0;     // stored after the message of this key (0: from the first)
    size_t limit = 0;         // at most this many, oldest first (0: all)
  };

  explicit ServiceRequestDatabase(DatabaseTransaction* transaction);
  virtual ~ServiceRequestDatabase();

  ServiceRequestDatabase(const ServiceRequestDatabase&) = delete;
  ServiceRequestDatabase& operator=(const ServiceRequestDatabase&) = delete;

  // Stores the message in the writing transaction, stamped with the current
  // time (an empty origin becomes this process). True: stored, visible to
  // others once the transaction commits. Keys grow in the order of storing
  // and are never reused.
  bool addEntry(ServiceRequestDatabaseEntry entry);

  // Appends the selected messages, oldest first, to `entries`, with every
  // text and the key set.
  bool getEntries(const Selection& selection, std::vector<ServiceRequestDatabaseEntry>& entries);

  // Removes the messages stored before `cutoffMillis` (milliseconds since
  // 1970, UTC) in the writing transaction; `removed` counts them.
  bool removeEntriesBefore(int64_t cutoffMillis, int64_t& removed);

 private:
  DatabaseTransaction* transaction_;  // not owned
};

}  // namespace tvan
