#pragma once
// The base class of every service plug-in object the host drives.
//
// A service owns its log, its controller (created by the derived class's
// initialize) and its job data (likewise). Its operations turn the host's
// requests into controller actions: run starts the controller thread and
// sends "START_TRIGGER", pause and resume send "PAUSE_TRIGGER" and
// "RESUME_TRIGGER", send injects data and a trigger, finish asks the
// controller to cancel. The destructor is the whole shutdown: it waits up to
// 5 seconds for the controller thread, stops it when it does not end, and
// deletes the controller, the job data and the log, in that order.
//
// The virtual operations keep this order; the host calls them through the
// table: destructor, initialize, run, pause, resume, finish, send.
//
// Threads: the host may call the operations from any of its threads; send
// calls are serialised on the controller's mutex. The controller thread runs
// the workflow. Ownership: the host owns the service from create to delete.
#include <cstdint>
#include <string>

class ACE_Thread_Manager;

namespace tvan {
class Log;
}

namespace KEF {

class BaseController;
class BaseJobData;

// The progress record a service lends to its controller.
class StatusInfo {
 public:
  virtual ~StatusInfo() = default;

  // Sum of the results of every trigger the controller pulled through its
  // state machine, the final negative one included. Written by the
  // controller thread only.
  int32_t stepCount = 0;
  int32_t reserved1 = 0;  // not used by the framework
  int32_t reserved2 = 0;  // not used by the framework
};

class BaseService {
 public:
  // Creates the log on the framework configuration file, component "KEFCore".
  BaseService();
  virtual ~BaseService();

  BaseService(const BaseService&) = delete;
  BaseService& operator=(const BaseService&) = delete;

  // Prepares the service from the request's XML service data: sets the
  // controller and the job data.
  virtual void initialize(char* serviceData) = 0;
  // Starts the controller thread and queues "START_TRIGGER"; 0. A thread
  // that cannot start reaches the caller as the controller's exception
  // ("Error activating controller"). -1 when there is no controller.
  virtual int run();
  virtual int pause();
  virtual int resume();
  // Raises the controller's cancel request and returns 0 at once.
  virtual int finish();
  // Injects the element named by the data's "DataRoot" into the job data,
  // then queues `trigger`; null or empty arguments are skipped. False, doing
  // nothing, when the controller is not valid. Malformed data throws the XML
  // reader's error to the caller (nothing is queued, the controller's mutex
  // is released).
  virtual bool send(const char* trigger, const char* data);

  // Clears the controller's suspended flag; starts the service when its
  // controller thread was never started.
  void resumeController();
  // The status text of the job data, or "" when it holds no status. Valid
  // until the next call on this service.
  const char* getServiceStatus();
  // The job data document as text.
  std::string& getServiceData();

  // --- For the host and for tests ---
  BaseController* getController() const { return controller; }
  BaseJobData* getJobData() const { return jobData; }
  tvan::Log* getLog() const { return log; }
  const StatusInfo& getStatus() const { return status; }
  const std::string& getServiceName() const { return serviceName; }
  void setServiceName(const std::string& name) { serviceName = name; }
  // True while the controller thread still runs (or ACE is still ending it).
  bool isControllerThreadAlive() const;
  // True when finish was asked and the controller has not acted on it yet.
  bool isFinishRequested() const;

 protected:
  ACE_Thread_Manager* threadManager;  // ACE's process-wide manager; not owned
  BaseController* controller;         // owned; set by the derived initialize
  tvan::Log* log;                     // owned
  StatusInfo status;
  BaseJobData* jobData;               // owned; set by the derived initialize
  std::string serviceName;
  std::string serviceData;

 private:
  // Ends a controller thread that did not end within the wait. False when it
  // could not be ended: the controller and job data must then stay.
  bool stopControllerThread();

  std::string statusText_;  // what getServiceStatus returned last
};

}  // namespace KEF
