#pragma once
// The base class of the work a state of a controller's state machine runs.
//
// A concrete job overrides the execute operations its states call; the state
// machine calls one of them, chosen when the state is defined, on the
// controller thread, and takes no further trigger until it returns. A job
// ends its state by sending the next trigger to its controller (Trigger).
//
// Ownership: the job refers to its data, controller and log without owning
// them; the controller that created it deletes it. The process-wide `Job`
// points to the most recently constructed job, also after it was destroyed.
#include <cstdint>
#include <string>

namespace tvan {
class Log;
}

namespace KEF {

class BaseController;
class BaseJobData;

class BaseJob {
 public:
  BaseJob(BaseController* controller, BaseJobData* data, tvan::Log* log);
  virtual ~BaseJob();

  BaseJob(const BaseJob&) = delete;
  BaseJob& operator=(const BaseJob&) = delete;

  // The operations a state can run; all do nothing here.
  virtual void execute();
  virtual void execute2();
  virtual void execute3();
  virtual void execute4();
  virtual void execute5();
  virtual void execute6();
  virtual void execute7();
  virtual void execute8();

  BaseJobData* getData() const { return data; }
  BaseController* getController() const { return controller; }
  tvan::Log* getLog() const { return log; }

 protected:
  BaseJobData* data;           // not owned
  BaseController* controller;  // the controller that runs the job; not owned
  tvan::Log* log;              // not owned

  // Free for derived jobs; the framework does not use them.
  int32_t userValue;
  int32_t userValue2;
  std::string userText;
};

// The most recently constructed job of the process.
extern BaseJob* Job;

}  // namespace KEF
