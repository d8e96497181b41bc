#pragma once
// The HELLO service's controller: its workflow.
//
//   INITIAL --START_TRIGGER--> GREET   GreetJob::execute: "Hello, <Name>"
//   GREET   --GREETED-------->  DONE   GreetJob::execute2: the closing report
//   INITIAL, GREET --CancelTrigger--> DONE
//
// DONE is the terminal state: the controller thread ends once it is reached,
// and the host counts a workflow that ended there as a success. The cancel
// trigger is what the controller pulls when the host finishes the service
// (kefhost --for, SIGINT, SIGTERM) before the workflow got there by itself.
//
// Ownership: owns its job; refers to the service's data and log.
#include <KEF/KEFCore/BaseController.h>

#include "GreetJob.h"

namespace hello {

class HelloData;

class HelloController : public KEF::BaseController {
 public:
  // Defines the whole workflow: nothing may be defined once the service's
  // run has started the controller thread.
  HelloController(ACE_Thread_Manager* threadManager, tvan::Log* log, HelloData* data);

 private:
  GreetJob job_;
};

}  // namespace hello
