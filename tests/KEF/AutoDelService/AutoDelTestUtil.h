#pragma once
// Shared by the AUTODELETE tests: service data naming a service manager that
// records what reaches it, a request database of each test's own, and reads
// of what the jobs stored.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/KEFCore/KEFResponse.h"
#include "KEF/KEFCore/ServiceManager.h"
#include "KEF/KEFCore/CoreTestUtil.h"

namespace autodeltest {

class CountingManager : public ServiceManager {
 public:
  int notifyRequest(int, int) override {
    ++notifications;
    return 0;
  }
  std::atomic<int> notifications{0};
};

// The <MasterMgr .../> element naming `manager`.
inline std::string masterElement(ServiceManager& manager) {
  char address[32];
  std::snprintf(address, sizeof address, "0x%" PRIxPTR,
                reinterpret_cast<uintptr_t>(static_cast<ACE_Task<ACE_MT_SYNCH>*>(&manager)));
  return std::string("<MasterMgr Pointer=\"") + address + "\" ClassType=\"ServiceManager\"/>";
}

// A service-data document for an AUTODELETE request with this policy body.
inline std::string serviceData(ServiceManager& manager, const std::string& policy,
                               const std::string& extra = "") {
  return "<AutoDelete><ServiceID>AUTODELETE|test|1.0</ServiceID>"
         "<ServiceName>AUTODELETE</ServiceName><uid>req-1</uid>" +
         masterElement(manager) + "<Policy>" + policy + "</Policy>" + extra + "</AutoDelete>";
}

// Points KEF_REQUEST_DATABASE at a new file in the scratch folder.
inline std::string useFreshDatabase() {
  static int counter = 0;
  const std::string path = coretest::ScratchEnvironment::dir() + "/autodel" +
                           std::to_string(++counter) + ".db";
  ::setenv("KEF_REQUEST_DATABASE", path.c_str(), 1);
  return path;
}

inline std::vector<tvan::ServiceRequestDatabaseEntry> storedMessages() {
  tvan::DatabaseTransaction transaction;
  tvan::ServiceRequestDatabase database(&transaction);
  std::vector<tvan::ServiceRequestDatabaseEntry> entries;
  if (transaction.start()) database.getEntries({}, entries);
  transaction.rollback();
  return entries;
}

// Status attribute of each stored response, in order.
inline std::vector<std::string> storedStatuses() {
  std::vector<std::string> statuses;
  for (const auto& entry : storedMessages()) statuses.push_back(entry.responseStatus);
  return statuses;
}

inline std::string requestStatus(const std::string& uid) {
  tvan::DatabaseTransaction transaction;
  tvan::KEFRequestDatabase database(&transaction);
  std::vector<tvan::KEFRequestDatabase::Request> requests;
  if (transaction.start()) database.getRequests(requests, uid);
  transaction.rollback();
  return requests.empty() ? std::string() : requests[0].status;
}

}  // namespace autodeltest
