#pragma once
// The HELLO service's job. Each state of the workflow runs one of its
// execute operations on the controller thread; the job ends its state by
// sending the controller the trigger that leads on.
#include <KEF/KEFCore/BaseJob.h>

namespace hello {

class HelloData;

class GreetJob : public KEF::BaseJob {
 public:
  GreetJob(KEF::BaseController* controller, HelloData* data);

  // State GREET: reports "RUNNING" with the text "Hello, <Name>", then sends
  // "GREETED".
  void execute() override;
  // State DONE, the terminal one: the closing "DONE" report.
  void execute2() override;

 private:
  HelloData* helloData_;  // the service's data; not owned
};

}  // namespace hello
