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

  // --- Reporting. Every report is a framework message to the service
  // manager recorded in the job data (MasterMgr), from client "KEF"; what
  // the manager's database answers is not passed on.

  // Sends a status report: a response document with the job's ServiceID,
  // `status` and a status text. For "DONE", or without a text, the job data's
  // status becomes DONE/OK and the text "<StatusText>OK</StatusText>" (a
  // job whose data recorded an ERROR status reports that status's text
  // again for DONE). `detail` is appended to the text's root element as a
  // Detail element. The response type defaults to the service name, the
  // notification mark to "NONE", the server to "KEF". False, sending
  // nothing, when the data lacks ServiceID, MasterMgr or ServiceName.
  // Texts that are not well-formed XML fail with the XML reader's error.
  bool reportStatus(const char* status, const char* statusText, const char* respType,
                    const char* unsolNotify, const char* detail, const char* server);
  // reportStatus("ERROR", "<StatusText>" + message + "</StatusText>", ...);
  // the message is inserted without escaping.
  bool reportError(const char* message, const char* detail, const char* server);
  bool reportError(const char* message, const char* detail, const std::string& server);
  // A RUNNING report whose text is a ServiceStatusResp document naming the
  // state; true whatever the report returned.
  bool reportStateChange(const char* stateName);
  // Sends `data` to a child service with ClientID, ServiceID (the child's),
  // ParentID (this job's ServiceID) and MasterMgr set (overwriting those
  // present). False without the job's ServiceID or MasterMgr.
  bool sendChild(const char* msgType, const char* childServiceID, const char* data);
  // Sends `data` to the parent service with ClientID, ParentID and MasterMgr
  // appended (existing ones are kept). False without ParentID or MasterMgr.
  bool sendParent(const char* msgType, const char* data);
  // The request of the data's `uid` takes `status` in the request database;
  // nothing without a uid or status, and database failures are swallowed
  // after a rollback.
  void updateRequestStatus(std::string status);
  // reportStatus of the job `Job` points to, without detail and server.
  static void statusCallback(const std::string& status, const std::string& statusText,
                             const std::string& respType, const std::string& unsolNotify);

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
