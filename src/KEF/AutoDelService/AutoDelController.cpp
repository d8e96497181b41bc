#include "KEF/AutoDelService/AutoDelController.h"

#include "KEF/AutoDelService/AutoDelData.h"
#include "KEF/Jobs/AutoDelJobs/AutoDelJob.h"
#include "KEF/Jobs/StandardJobs/SendMsgJob.h"

namespace KEF {

AutoDelController::AutoDelController(AutoDelData* data, ACE_Thread_Manager* threadManager,
                                     tvan::Log* log)
    : BaseController(threadManager, log),
      autoDelData(data),
      autoDelJob(nullptr),
      sendMsgJob(nullptr) {}

AutoDelController::~AutoDelController() {
  delete autoDelJob;
  autoDelJob = nullptr;
  delete sendMsgJob;
  sendMsgJob = nullptr;
}

void AutoDelController::initialize() {
  fsm.log = getLog();
  autoDelJob = new AutoDelJob(this, autoDelData, getLog());
  sendMsgJob = new SendMsgJob(this, autoDelData != nullptr ? static_cast<SendMsgJobData*>(autoDelData)
                                                           : nullptr,
                              getLog());

  fsm.defineState("INITIAL");
  fsm.defineState("AUTODELJOB", autoDelJob, &BaseJob::execute, 1);
  fsm.defineState("SEND", sendMsgJob, &BaseJob::execute2, 1);
  fsm.defineState("DONE");
  fsm.defineInitial("INITIAL");
  fsm.defineTerminate("DONE");
  fsm.cancelTrigger = "CancelTrigger";

  fsm.defineTransition("INITIAL", "START_TRIGGER", "AUTODELJOB");
  fsm.defineTransition("AUTODELJOB", "CancelTrigger", "SEND");
  fsm.defineTransition("AUTODELJOB", "AUTODEL_DONE", "AUTODELJOB");
  fsm.defineTransition("AUTODELJOB", "AUTODEL_ERROR", "AUTODELJOB");
  fsm.defineTransition("SEND", "AUTODEL_DONE", "DONE");
  fsm.defineTransition("SEND", "CancelTrigger", "DONE");
  fsm.defineTransition("SEND", "SENDMSG_DONE", "DONE");
}

}  // namespace KEF
