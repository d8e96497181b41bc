#pragma once
// The framework's requests and their status, kept in the request database:
// each job reports its request's status here (BaseJob::updateRequestStatus).
//
// Works on a DatabaseTransaction it does not own, which must outlive it and
// be started before any operation. Nothing throws: each operation answers
// false and the transaction's getLastError() says why.
#include <cstdint>
#include <string>
#include <vector>

namespace tvan {

class DatabaseTransaction;

class KEFRequestDatabase {
 public:
  struct Request {
    std::string uid;
    std::string status;
    int64_t changedAt = 0;  // milliseconds since 1970, UTC
  };

  explicit KEFRequestDatabase(DatabaseTransaction* transaction);
  virtual ~KEFRequestDatabase();

  KEFRequestDatabase(const KEFRequestDatabase&) = delete;
  KEFRequestDatabase& operator=(const KEFRequestDatabase&) = delete;

  // The request keyed by `uid` takes `status`, stamped with the current
  // time; a request not known yet is added. Needs a writing transaction.
  // False also for an empty uid.
  bool updateStatus(std::string uid, std::string status);

  // Appends the requests ordered by uid to `requests`; with a uid, only
  // that request (nothing when it is unknown).
  bool getRequests(std::vector<Request>& requests, const std::string& uid = std::string());

 private:
  DatabaseTransaction* transaction_;  // not owned
};

}  // namespace tvan
