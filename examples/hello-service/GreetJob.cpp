#include "GreetJob.h"

#include <Base/Log/Log.h>
#include <Base/XML/XMLEscape.h>
#include <KEF/KEFCore/BaseController.h>
#include <KEF/KEFCore/Trigger.h>

#include <string>

#include "HelloData.h"

namespace hello {

GreetJob::GreetJob(KEF::BaseController* controller, HelloData* data)
    : BaseJob(controller, data, controller->getLog()), helloData_(data) {}

void GreetJob::execute() {
  const std::string name = helloData_->name();
  log->log(tvan::kInfo, "GreetJob.cpp", __LINE__, "GreetJob::execute", "Greeting %s",
           name.c_str());

  // The status text is an XML document: the name is text from the service
  // data and must be escaped.
  std::string text = "<StatusText>Hello, ";
  tvan::appendEscaped(text, name);
  text += "</StatusText>";
  // The report goes to the host's service manager and into the request
  // database (`kef_requests messages --request <ServiceID>`). It is false
  // when the data lacks ServiceID, MasterMgr or ServiceName, which the host
  // always provides.
  reportStatus("RUNNING", text.c_str(), nullptr, nullptr, nullptr, nullptr);

  // Without this trigger the controller would wait on its queue for the
  // service's time-out and then stop in GREET: the workflow has no transition
  // for a time-out.
  KEF::Trigger("GREETED").send(controller);
}

void GreetJob::execute2() {
  // Without a text a "DONE" report says "OK" and marks the job data DONE.
  reportStatus("DONE", nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace hello
