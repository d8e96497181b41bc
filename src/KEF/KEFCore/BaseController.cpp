#include "KEF/KEFCore/BaseController.h"

#include <cxxabi.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/VString.h"
#include "Base/Log/Log.h"
#include "Base/System/CycleCounter.h"
#include "Base/System/GeneralConfiguration.h"
#include "Base/System/Platform/Clock.h"
#include "Base/System/Platform/ThreadStopper.h"
#include "KEF/KEFCore/BaseService.h"
#include "KEF/KEFCore/internal/LetsCancellationThrough.h"

using tvan::kCritical;
using tvan::kDebug1;
using tvan::kDebug2;
using tvan::kDebug3;
using tvan::kDebug4;
using tvan::kError;
using tvan::kInfo;

namespace KEF {

namespace {

const char kFile[] = "BaseController";
const char kSvc[] = "BaseController::svc()";

// Releases the dequeued message of an iteration on every way out. The
// message is kept in the controller, not on the stack, so that it is also
// released when the thread is forced out of the iteration.
class MessageHolder {
 public:
  explicit MessageHolder(ACE_Message_Block*& slot) : slot_(slot) {}
  ~MessageHolder() { reset(); }
  void reset(ACE_Message_Block* block = nullptr) {
    if (slot_ != nullptr) slot_->release();
    slot_ = block;
  }

 private:
  ACE_Message_Block*& slot_;
};

}  // namespace

BaseController::BaseController(ACE_Thread_Manager* threadManager, tvan::Log* log)
    : ACE_Task<ACE_MT_SYNCH>(threadManager),
      status(nullptr),
      log(log),
      threadId(0),
      deadline(0),
      ignoreCount(0),
      cancelRequested(false),
      valid(true),
      unusedFlag(false),
      running(false),
      suspended(false),
      mutex(tvan::VString("TQ_ControllerMutex"), tvan::kThreadMutex),
      lastTimeout(-1),
      configuredTimeout(-1),
      timeoutReadAt(-1),
      currentMessage(nullptr),
      runCounter(new tvan::CycleCounter),
      stopper(new tvan::platform::ThreadStopper) {
  (void)unusedFlag;
  serviceName.clear();
  msg_queue()->high_water_mark(kQueueHighWaterMark);
}

BaseController::~BaseController() {
  if (log != nullptr) {
    log->log(kDebug2, kFile, __LINE__, "BaseController::~BaseController()", "Destroy");
  }
}

int BaseController::open(void*) {
  if (log != nullptr) log->log(kDebug2, kFile, __LINE__, "BaseController::open()", "Activate Controller");
  const int result = activate(THR_DETACHED, 1, 0, ACE_DEFAULT_THREAD_PRIORITY, -1, this);
  if (result == -1) throw static_cast<const char*>("Error activating controller");
  return result;
}

int BaseController::close(unsigned long) {
  if (log != nullptr) log->log(kDebug2, kFile, __LINE__, "BaseController::close", "Controller is closing");
  return 0;
}

int BaseController::put(ACE_Message_Block*, ACE_Time_Value*) { return 0; }

bool BaseController::isDataPresent() { return false; }

void BaseController::ignoreTriggers(const char* trigger, int count) {
  if (log != nullptr) {
    log->log(kDebug1, kFile, __LINE__, "BaseController::ignoreTriggers()",
             "Ignoring trigger %s %d times", trigger ? trigger : "", count);
  }
  std::lock_guard<std::mutex> hold(ignoreMutex);
  ignoreTrigger = trigger ? trigger : "";
  ignoreCount.store(count, std::memory_order_release);
}

bool BaseController::isThreadManaged() { return thr_mgr() != nullptr && thr_mgr()->num_threads_in_task(this) > 0; }

// The thread runs the loop through its stopper, so that a service shutdown
// can end it even when a job never returns (ThreadStopper.h).
int BaseController::svc() {
  const int result = stopper->run(&runServiceLoop, this, -1);
  // After a forced stop the iteration's message is still held here.
  MessageHolder(currentMessage).reset();
  return result;
}

int BaseController::runServiceLoop(void* controller) {
  return static_cast<BaseController*>(controller)->serviceLoop();
}

// The configured time-out is looked up again once it is a second old: the
// lookup costs several times a whole trigger round trip, and a second is
// far below any time-out it can change.
int BaseController::waitTimeoutSeconds() {
  const long now = tvan::platform::coarseProcessClockMillis();
  if (timeoutReadAt < 0 || now - timeoutReadAt >= kTimeoutLookupMillis ||
      timeoutServiceName != serviceName) {
    tvan::GeneralConfiguration configuration;
    configuredTimeout = configuration.getServicesTimeout(serviceName);
    timeoutServiceName = serviceName;
    timeoutReadAt = now;
  }
  const int timeout = configuredTimeout;
  if (timeout >= 0) {
    log->log(kDebug2, kFile, __LINE__, kSvc, "Time out set to %d", timeout);
    return timeout;
  }
  return kDefaultTimeoutSeconds;
}

KEF_LETS_CANCELLATION_THROUGH int BaseController::serviceLoop() {
  try {
    threadId.store(tvan::platform::currentThreadId(), std::memory_order_release);
    log->log(kDebug1, kFile, __LINE__, kSvc, "Controller activated with thread id [%d]",
             static_cast<int>(threadId.load()));
  } catch (...) {
    logFailure();  // the thread goes on whatever it was
  }

  int rc = 0;
  tvan::CycleCounter& counter = *runCounter;
  counter.reset();
  tvan::CycleCounter::calibrate();
  counter.start(1);
  running.store(true, std::memory_order_release);

  while (rc >= 0) {
    try {
      MessageHolder message(currentMessage);
      std::string& trigger = currentTrigger;
      trigger.clear();
      if (suspended.load(std::memory_order_relaxed)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      if (cancelRequested.exchange(false, std::memory_order_relaxed)) {
        trigger = fsm.cancelTrigger;
        if (trigger.empty()) continue;
        log->log(kInfo, kFile, __LINE__, kSvc, "Cancelling service");
      } else {
        const int timeout = waitTimeoutSeconds();
        lastTimeout.store(timeout, std::memory_order_relaxed);
        deadline = ACE_Time_Value(std::time(nullptr) + timeout);
        ACE_Message_Block* block = nullptr;
        if (getq(block, &deadline) != -1) {
          message.reset(block);
          // The name ends at its NUL, and never beyond the block's data.
          trigger.assign(block->rd_ptr(), strnlen(block->rd_ptr(), block->length()));
          log->log(kDebug4, kFile, __LINE__, kSvc, "Trigger received: %s", trigger.c_str());
        } else if (errno == EWOULDBLOCK) {
          log->log(kDebug2, kFile, __LINE__, kSvc, "TimedOut");
          // While paused, a time-out must not replace the trigger that the
          // pause banked: the resume would pull the time-out instead and the
          // real trigger would be lost.
          if (fsm.isPaused() && !fsm.getBankedTrigger().empty()) continue;
          trigger = fsm.timeoutTrigger;
        } else {
          log->log(kCritical, kFile, __LINE__, kSvc, "Error receiving message- errno: %d", errno);
          return -1;
        }
      }

      if (ignoreCount.load(std::memory_order_acquire) > 0) {
        std::unique_lock<std::mutex> hold(ignoreMutex);
        if (ignoreCount.load(std::memory_order_relaxed) > 0 && trigger == ignoreTrigger) {
          const int left = ignoreCount.fetch_sub(1, std::memory_order_relaxed) - 1;
          const std::string name = ignoreTrigger;
          hold.unlock();
          log->log(kDebug3, kFile, __LINE__, kSvc, "Ignoring trigger %s (%d left)", name.c_str(),
                   left);
          continue;
        }
      }
      rc = fsm.pullTrigger(trigger);
      if (status != nullptr) status->stepCount += rc;
      if (rc == BaseFSMap::kError) return -1;
    } catch (...) {
      // A library error leaves the loop running; anything else ends it.
      if (!logFailure()) return -1;
    }
  }

  drainQueue();
  counter.stop();
  dumpStatistics(counter.total() * 0.000000001);
  return 0;
}

// Logs the exception being handled; true when it was a library error. A
// cancellation of the thread passes on.
KEF_LETS_CANCELLATION_THROUGH bool BaseController::logFailure() {
  try {
    throw;
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (const tvan::Error& e) {
    tvan::VString text;
    e.constructMessage(text);
    log->log(kError, kFile, __LINE__, kSvc, text.narrow());
    return true;
  } catch (const char* text) {
    log->log(kError, kFile, __LINE__, kSvc, std::string(text ? text : ""));
  } catch (...) {
    log->log(kError, kFile, __LINE__, kSvc, "System exception");
  }
  return false;
}

// Whatever arrives within a second of the terminal state is dropped.
void BaseController::drainQueue() {
  deadline = ACE_Time_Value(std::time(nullptr) + 1);
  ACE_Message_Block* block = nullptr;
  while (getq(block, &deadline) != -1) block->release();
}

KEF_LETS_CANCELLATION_THROUGH void BaseController::dumpStatistics(double seconds) {
  try {
    std::string statisticsFile;
    tvan::GeneralConfiguration configuration;
    configuration.getStatisticsFile(statisticsFile);
    tvan::Log statistics(statisticsFile.c_str(), tvan::kPlainLog);
    statistics.log(kInfo, kFile, __LINE__, "BaseController::dumpStatistics()",
                   "%s run time: %.2f", serviceName.c_str(), seconds);
    log->log(kInfo, kFile, __LINE__, "BaseController::dumpStatistics()", "Service %s finished",
             serviceName.c_str());
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (const tvan::Error& e) {
    tvan::VString text;
    e.constructMessage(text);
    std::printf("BaseController::dumpStatistics() %s\n", text.narrow().c_str());
  } catch (const char* text) {
    std::printf("BaseController::dumpStatistics() %s\n", text ? text : "");
  } catch (...) {
    std::printf("BaseController::dumpStatistics() Exception caught\n");
  }
}

}  // namespace KEF
