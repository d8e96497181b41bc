#include "HelloController.h"

#include <KEF/KEFCore/BaseJob.h>

namespace hello {

HelloController::HelloController(ACE_Thread_Manager* threadManager, tvan::Log* log,
                                 HelloData* data)
    : BaseController(threadManager, log), job_(this, data) {
  // The state machine refuses definitions until it has a log.
  fsm.log = log;

  // The number is what entering the state adds to the service's step count.
  fsm.defineState("INITIAL");
  fsm.defineState("GREET", &job_, &KEF::BaseJob::execute, 1);
  fsm.defineState("DONE", &job_, &KEF::BaseJob::execute2, 1);
  fsm.defineInitial("INITIAL");
  fsm.defineTerminate("DONE");
  fsm.cancelTrigger = "CancelTrigger";

  // BaseService::run starts the thread and queues START_TRIGGER.
  fsm.defineTransition("INITIAL", "START_TRIGGER", "GREET");
  fsm.defineTransition("GREET", "GREETED", "DONE");
  fsm.defineTransition("INITIAL", "CancelTrigger", "DONE");
  fsm.defineTransition("GREET", "CancelTrigger", "DONE");
}

}  // namespace hello
