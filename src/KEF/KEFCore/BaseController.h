#pragma once
// The active object of a service: an ACE task with one thread of its own and
// a message queue of triggers.
//
// Triggers (Trigger) arrive on the queue from the service, from the jobs and
// from anything else that holds the controller. The thread (svc) takes them
// one at a time and pulls each through the state machine `fsm`, which runs
// the job of the state it enters. The thread waits on the queue with the
// service's time-out from the framework configuration (20 s by default),
// turns a time-out and a cancel request into the machine's time-out and
// cancel triggers, can ignore a number of occurrences of one trigger, and
// after the terminal state drains the queue for a second and writes its
// run-time statistics. A concrete service derives from it and defines the
// state machine before the thread starts.
//
// Threads: svc runs on the controller thread; everything else on other
// threads. The cancel and suspend requests are flags the thread polls once
// per iteration. `getMutex()` is taken only by BaseService::send.
//
// Ownership: the controller owns its state machine's states and transitions
// and (in derived classes) its jobs; it refers to the service's log and
// progress record without owning them. It must not be deleted while its
// thread still runs (BaseService's destructor waits for, or stops, it).
#include <ace/Task.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Base/System/Mutex.h"
#include "KEF/KEFCore/BaseFSMap.h"

namespace tvan {
class CycleCounter;
class Log;
namespace platform {
class ThreadStopper;
}
}  // namespace tvan

namespace KEF {

class StatusInfo;

class BaseController : public ACE_Task<ACE_MT_SYNCH> {
 public:
  // High water mark of the trigger queue, in bytes.
  static constexpr size_t kQueueHighWaterMark = 0xA00000;
  // Wait on the queue when the configuration gives the service none.
  static constexpr int kDefaultTimeoutSeconds = 20;

  BaseController(ACE_Thread_Manager* threadManager, tvan::Log* log);
  // Deletes the queue with every message still on it.
  ~BaseController() override;

  BaseController(const BaseController&) = delete;
  BaseController& operator=(const BaseController&) = delete;

  // Starts the controller thread (one detached thread). Throws the text
  // "Error activating controller" (a char*) when the thread cannot start.
  int open(void* args = nullptr) override;
  // Called by ACE when the thread has left svc.
  int close(unsigned long flags = 0) override;
  // Does nothing: triggers are appended to the queue directly.
  int put(ACE_Message_Block* block, ACE_Time_Value* timeout = nullptr) override;
  // The thread's main loop: 0 after the terminal state, -1 after an error.
  int svc() override;

  // Writes the run-time entry to the statistics file and "Service %s
  // finished" to the service's log. Never throws.
  virtual void dumpStatistics(double seconds);
  virtual bool isDataPresent();

  // The next `count` occurrences of `trigger` are dropped; replaces any
  // earlier pair.
  void ignoreTriggers(const char* trigger, int count);

  // --- Used by the service (BaseService) ---
  void setServiceName(const std::string& name) { serviceName = name; }
  const std::string& getServiceName() const { return serviceName; }
  void setStatus(StatusInfo* info) { status = info; }
  // Asks the thread to pull the cancel trigger at its next iteration.
  void requestCancel() { cancelRequested.store(true, std::memory_order_relaxed); }
  bool isCancelRequested() const { return cancelRequested.load(std::memory_order_relaxed); }
  bool isValid() const { return valid.load(std::memory_order_relaxed); }
  void setValid(bool value) { valid.store(value, std::memory_order_relaxed); }
  // True once the thread has started svc (never cleared).
  bool isRunning() const { return running.load(std::memory_order_acquire); }
  bool isSuspended() const { return suspended.load(std::memory_order_relaxed); }
  void setSuspended(bool value) { suspended.store(value, std::memory_order_relaxed); }
  tvan::Mutex& getMutex() { return mutex; }
  // Kernel thread id of the controller thread; 0 until svc starts.
  uint32_t getThreadId() const { return threadId.load(std::memory_order_acquire); }
  // True while a thread of this controller is still managed by its thread
  // manager (from activation until ACE is done with the task).
  bool isThreadManaged();
  // How the service's shutdown stops a thread that does not end by itself.
  tvan::platform::ThreadStopper& getThreadStopper() { return *stopper; }

  // --- Observation (tests, diagnostics) ---
  // The time-out, in seconds, of the latest wait on the queue; -1 before the
  // first wait. The configuration is consulted again for a wait once the
  // previous answer is a second old.
  int getLastTimeoutSeconds() const { return lastTimeout.load(std::memory_order_relaxed); }
  BaseFSMap& getFSM() { return fsm; }
  // The service's log (not owned).
  tvan::Log* getLog() const { return log; }

 protected:
  BaseFSMap fsm;       // defined by the derived controller before the thread starts

 private:
  static int runServiceLoop(void* controller);
  int serviceLoop();
  int waitTimeoutSeconds();
  bool logFailure();
  void drainQueue();

  StatusInfo* status;  // the service's progress record; not owned
  tvan::Log* log;      // the service's log; not owned
  std::atomic<uint32_t> threadId;
  ACE_Time_Value deadline;  // of the current wait; whole seconds
  // ignoreTriggers may run on any thread: the pair is guarded by
  // ignoreMutex; the count is also read without it to skip the lock.
  std::mutex ignoreMutex;
  std::string ignoreTrigger;
  std::atomic<int32_t> ignoreCount;
  std::string serviceName;
  // Flags written by other threads and polled by the controller thread.
  std::atomic<bool> cancelRequested;
  std::atomic<bool> valid;
  bool unusedFlag;
  std::atomic<bool> running;
  std::atomic<bool> suspended;
  tvan::Mutex mutex;  // "TQ_ControllerMutex", in-process

  std::atomic<int> lastTimeout;
  // The service's configured time-out as last looked up (controller thread
  // only), and when (coarse process clock, -1: never).
  static constexpr long kTimeoutLookupMillis = 1000;
  int configuredTimeout;
  std::string timeoutServiceName;
  long timeoutReadAt;
  // State of the running loop kept off the thread's stack, so that nothing
  // leaks when the thread is forced out of an iteration.
  ACE_Message_Block* currentMessage;  // owned while an iteration holds it
  std::string currentTrigger;
  std::unique_ptr<tvan::CycleCounter> runCounter;
  std::unique_ptr<tvan::platform::ThreadStopper> stopper;
};

}  // namespace KEF
