#include "KEF/KEFCore/BaseService.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <ace/Thread_Manager.h>

#include <chrono>
#include <thread>

#include "Base/Log/Log.h"
#include "Base/System/ConfigurationLocations.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Platform/Clock.h"
#include "Base/System/Platform/ThreadStopper.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/KEFCore/BaseController.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "KEF/KEFCore/Trigger.h"

using tvan::kDebug2;
using tvan::kDebug3;
using tvan::kError;
using tvan::kInfo;
using tvan::kWarning;

namespace KEF {

namespace {

const char kFile[] = "BaseService";
const char kDestructor[] = "BaseService::~BaseService()";

// How long the shutdown waits for the controller thread to end by itself,
// then for each way of ending it.
constexpr double kWaitSeconds = 5.0;
constexpr long kCancelGraceMillis = 500;
constexpr long kForceMillis = 2000;
constexpr long kReleaseMillis = 2000;

void sleepMillis(long millis) { std::this_thread::sleep_for(std::chrono::milliseconds(millis)); }

// Waits until `check` is false, at most `millis`. True when it turned false.
template <typename Check>
bool waitWhile(Check check, long millis) {
  const long deadline = tvan::platform::processClockMillis() + millis;
  while (check()) {
    if (tvan::platform::processClockMillis() >= deadline) return false;
    sleepMillis(1);
  }
  return true;
}

// The kernel thread is gone once it cannot be signalled any more.
bool kernelThreadExists(uint32_t tid) {
  return tid != 0 && ::syscall(SYS_tgkill, getpid(), static_cast<pid_t>(tid), 0) == 0;
}

}  // namespace

BaseService::BaseService()
    : threadManager(ACE_Thread_Manager::instance()),
      controller(nullptr),
      log(nullptr),
      jobData(nullptr) {
  std::string configurationFile;
  tvan::getKEFConfigurationFileName(configurationFile);
  log = new tvan::Log(configurationFile.c_str(), tvan::kConfigFileLog);
  log->setComponentName("KEFCore");
}

BaseService::~BaseService() {
  log->log(kDebug3, kFile, __LINE__, "~BaseService", "Waiting for Service Thread to finish.");
  bool ownedObjectsReleased = true;
  if (controller != nullptr) {
    const long start = tvan::platform::processClockMillis();
    while (controller->isThreadManaged()) {
      if ((tvan::platform::processClockMillis() - start) * 0.001 >= kWaitSeconds) break;
      sleepMillis(10);
    }
    if (controller->isThreadManaged()) {
      ownedObjectsReleased = stopControllerThread();
    } else {
      // ACE is done with the task; let the thread itself finish too.
      const uint32_t tid = controller->getThreadId();
      waitWhile([tid] { return kernelThreadExists(tid); }, kReleaseMillis);
    }
    if (ownedObjectsReleased) delete controller;
  }
  // A thread that could not be ended may still use the controller and the
  // job data: they are left rather than freed under it.
  if (ownedObjectsReleased) delete jobData;
  log->log(kDebug3, kFile, __LINE__, "~BaseService", "Closing Service.");
  if (ownedObjectsReleased) delete log;
}

bool BaseService::stopControllerThread() {
  const uint32_t tid = controller->getThreadId();
  tvan::platform::ThreadStopper& stopper = controller->getThreadStopper();
  log->log(kWarning, kFile, __LINE__, kDestructor, "Killing thread %d", static_cast<int>(tid));
  {
    // The stop is requested under the log's mutex. It takes effect only
    // outside the library's critical sections, so the thread is never ended
    // half-way through a log entry or while it holds a lock of the library.
    tvan::FunctionMutex logLock(log->getMutex());
    stopper.cancel();
  }
  if (!stopper.waitUntilStopped(kCancelGraceMillis)) stopper.force(kForceMillis);
  BaseController* task = controller;
  const bool released = waitWhile([task] { return task->isThreadManaged(); }, kReleaseMillis);
  if (!released) {
    log->log(kError, kFile, __LINE__, kDestructor, "Unable to terminate thread %d",
             static_cast<int>(tid));
    return false;
  }
  waitWhile([tid] { return kernelThreadExists(tid); }, kReleaseMillis);
  return true;
}

int BaseService::run() {
  log->log(kDebug3, kFile, __LINE__, "BaseService::run()", "Starting service");
  if (controller == nullptr) {
    // Not initialised: nothing can run.
    if (jobData != nullptr) jobData->setStatusMsg("ERROR", "FAILURE");
    log->log(kWarning, kFile, __LINE__, "BaseService::run()", "Error starting Task");
    return -1;
  }
  controller->setServiceName(serviceName);
  controller->setStatus(&status);
  controller->open(nullptr);
  Trigger("START_TRIGGER").send(controller);
  return 0;
}

int BaseService::pause() {
  log->log(kInfo, kFile, __LINE__, "BaseService::pause()",
           "Service received PAUSE request- send to controller.");
  if (controller != nullptr) Trigger(BaseFSMap::kPauseTrigger).send(controller);
  return 0;
}

int BaseService::resume() {
  log->log(kInfo, kFile, __LINE__, "BaseService::resume()",
           "Service received RESUME request- send to controller.");
  if (controller != nullptr) Trigger(BaseFSMap::kResumeTrigger).send(controller);
  return 0;
}

int BaseService::finish() {
  if (controller != nullptr) controller->requestCancel();
  return 0;
}

bool BaseService::send(const char* trigger, const char* data) {
  if (controller == nullptr) return false;
  // Held for the whole call, released on every way out (also when the data
  // is not well-formed and the parse error goes to the caller).
  tvan::FunctionMutex guard(controller->getMutex());
  if (!controller->isValid()) return false;
  log->log(kDebug2, kFile, __LINE__, "BaseService::send()", "Controller is valid");

  if (data != nullptr && *data != '\0') {
    tvan::XmlDOM document(data, false);
    int count = 0;
    document.findNodes("DataRoot", count, true);
    if (count > 0) {
      std::string path;
      document.getNodeValue(path, -1);
      document.resetActiveToRoot();
      document.findNodes(path.c_str(), count, true);
      if (count > 0 && jobData != nullptr) {
        std::string fragment;
        document.dump(fragment, false, false);
        jobData->injectData(fragment.c_str());
      }
    }
  }
  if (trigger != nullptr && *trigger != '\0') {
    log->log(kDebug2, kFile, __LINE__, "BaseService::send()", "Injecting trigger: %s to %s",
             trigger, serviceName.c_str());
    Trigger(trigger).send(controller);
  }
  return true;
}

void BaseService::resumeController() {
  if (controller == nullptr) return;
  controller->setSuspended(false);
  // Started means: the thread ran svc, or was activated and has not ended.
  if (!controller->isRunning() && controller->thr_count() == 0) run();
}

const char* BaseService::getServiceStatus() {
  std::string statusWord;
  std::string text;
  if (jobData == nullptr || jobData->getStatusMsg(statusWord, text) == 0) {
    statusText_.clear();
    return "";
  }
  statusText_ = text;
  return statusText_.c_str();
}

std::string& BaseService::getServiceData() {
  if (jobData != nullptr) jobData->dump(serviceData);
  return serviceData;
}

bool BaseService::isControllerThreadAlive() const {
  return controller != nullptr && controller->isThreadManaged();
}

bool BaseService::isFinishRequested() const {
  return controller != nullptr && controller->isCancelRequested();
}

}  // namespace KEF
