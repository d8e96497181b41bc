#pragma once
// The controller of the AUTODELETE service: its workflow.
//
//   INITIAL    --START_TRIGGER-->  AUTODELJOB   (deletion job, execute)
//   AUTODELJOB --AUTODEL_DONE / AUTODEL_ERROR--> AUTODELJOB
//   AUTODELJOB --CancelTrigger-->  SEND         (closing job, execute2)
//   SEND       --SENDMSG_DONE / AUTODEL_DONE / CancelTrigger--> DONE
//
// The deletion job runs again after each of its runs until the service is
// asked to finish; then the closing job runs once and the workflow ends.
//
// Ownership: owns its two jobs; refers to the service's data and log.
#include "KEF/KEFCore/BaseController.h"

namespace KEF {

class AutoDelData;
class AutoDelJob;
class SendMsgJob;

class AutoDelController : public BaseController {
 public:
  AutoDelController(AutoDelData* data, ACE_Thread_Manager* threadManager, tvan::Log* log);
  // Deletes both jobs.
  ~AutoDelController() override;

  // Creates the two jobs and defines the workflow; once, before the thread
  // starts.
  void initialize();

  AutoDelJob* getAutoDelJob() const { return autoDelJob; }
  SendMsgJob* getSendMsgJob() const { return sendMsgJob; }

 private:
  AutoDelData* autoDelData;  // not owned
  AutoDelJob* autoDelJob;    // owned; null until initialize
  SendMsgJob* sendMsgJob;    // owned; null until initialize
};

}  // namespace KEF
