#pragma once
// The host's service manager, as far as the framework needs it: an ACE task
// that framework messages are addressed to. A job finds it through the
// `MasterMgr` element of its data. Sending a message stores it in the request
// database and then notifies the manager; the host derives from this class
// and decides what a notification does.
//
// Threads: send() and notifyRequest() run on the sending (job's) thread; the
// database transaction keeps processes consistent, no lock is held here.
#include <unistd.h>

#include <ace/Task.h>

#include <atomic>
#include <ctime>
#include <string>

#include "Base/Log/Log.h"
#include "Base/System/ConfigurationLocations.h"
#include "Base/System/GeneralConfiguration.h"
#include "Base/System/Platform/Clock.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabaseEntry.h"

class ServiceManager : public ACE_Task<ACE_MT_SYNCH> {
 public:
  explicit ServiceManager(ACE_Thread_Manager* threadManager = nullptr)
      : ACE_Task<ACE_MT_SYNCH>(threadManager), lastMessageTime(0) {}
  ~ServiceManager() override = default;

  // Called after a message for this manager was committed to the request
  // database, on the sending thread, with its process and thread id.
  virtual int notifyRequest(int processId, int threadId) {
    (void)processId;
    (void)threadId;
    return 0;
  }

  // Stores the entry in the request database (marked persistent when the
  // framework configuration says so of its service) and notifies the
  // manager. False, after logging why, when the entry was not stored.
  inline bool send(tvan::ServiceRequestDatabaseEntry entry);

  // Calendar time of the last message stored for this manager; 0 before.
  // The services of one host share their manager, so their controller
  // threads may store it at the same time.
  std::atomic<time_t> lastMessageTime;
};

inline bool ServiceManager::send(tvan::ServiceRequestDatabaseEntry entry) {
  {
    tvan::GeneralConfiguration configuration(nullptr);
    bool enabled = false, persistent = false, exe = false, remote = false;
    int singleton = 0;
    tvan::PriorityEnum priority = tvan::kPriorityLow;
    std::string value;
    if (configuration.getServiceOptions(entry.serviceName, enabled, singleton, persistent, exe,
                                        priority, value, remote) &&
        persistent) {
      entry.persistent = tvan::ServiceRequestDatabaseEntry::kPersistent;
    }
  }
  tvan::DatabaseTransaction transaction;
  tvan::ServiceRequestDatabase database(&transaction);
  transaction.start();
  // A refused entry, and one whose commit failed, are not stored: both are
  // reported, with the database's reason.
  const bool added = database.addEntry(entry);
  if (!added || !transaction.commit()) {
    std::string configurationFile;
    tvan::getKEFConfigurationFileName(configurationFile);
    tvan::Log log(configurationFile.c_str(), tvan::kConfigFileLog);
    log.log(tvan::kError, __FILE__, __LINE__, "send", "Unable to add message to queue");
    if (!transaction.getLastError().empty()) {
      log.log(tvan::kError, __FILE__, __LINE__, "send", transaction.getLastError());
    }
    if (!added) transaction.rollback();
    return false;
  }
  notifyRequest(static_cast<int>(::getpid()), static_cast<int>(tvan::platform::currentThreadId()));
  return true;
}
