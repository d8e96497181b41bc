#pragma once
// The service manager of the host process: every service's MasterMgr.
// Its jobs' reports are stored in the request database and then announced
// here, on the job's thread; the manager hands them to the status feed,
// which reads them back and shows them.
#include "KEF/KEFCore/ServiceManager.h"

namespace kefhost {

class StatusFeed;

class HostServiceManager : public ServiceManager {
 public:
  explicit HostServiceManager(StatusFeed& feed) : feed_(feed) {}

  int notifyRequest(int processId, int threadId) override;

 private:
  StatusFeed& feed_;
};

}  // namespace kefhost
