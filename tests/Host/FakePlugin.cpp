// A service plug-in for the host's tests, whose workflow its service data
// steers:
//
//   <Fake>
//     <ServiceName>FAKE</ServiceName>
//     <IntervalMillis>30</IntervalMillis>  how long a pass takes
//     <FailAtPass>2</FailAtPass>           report an error at that pass and
//                                          end the workflow in WORK
//     <ReportPass>no</ReportPass>          reports without a Pass figure
//     <CloseMillis>2500</CloseMillis>      how long the closing job takes
//   </Fake>
//
//   INITIAL -START_TRIGGER-> WORK (a pass) -NEXT-> WORK ...
//   WORK -CancelTrigger-> CLOSING (the closing report) -CLOSED-> DONE
//   CLOSING -NEXT-> (stays)
#include <chrono>
#include <string>
#include <thread>

#include "Base/XML/XmlDOM.h"
#include "KEF/KEFCore/BaseController.h"
#include "KEF/KEFCore/BaseJob.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "KEF/KEFCore/BaseService.h"
#include "KEF/KEFCore/Trigger.h"

namespace {

class FakeData : public KEF::BaseJobData {
 public:
  explicit FakeData(const char* xml) : document_(xml, false) { initialize(&document_); }

  int number(const char* name, int fallback) {
    int value = 0;
    return getValue(name, value) > 0 ? value : fallback;
  }
  bool isNo(const char* name) {
    std::string value;
    getValue(name, value);
    return value == "no";
  }

 private:
  tvan::XmlDOM document_;
};

class FakeJob : public KEF::BaseJob {
 public:
  FakeJob(KEF::BaseController* controller, FakeData* data)
      : BaseJob(controller, data, controller->getLog()), fakeData_(data) {}

  // One pass.
  void execute() override {
    ++passes_;
    const std::string n = std::to_string(passes_);
    if (passes_ == fakeData_->number("FailAtPass", 0)) {
      reportError("disk on fire", "/a/b\n/c", nullptr);
      KEF::Trigger("NO_SUCH_TRIGGER").send(controller);
      return;
    }
    const std::string pass = fakeData_->isNo("ReportPass") ? "" : " Pass=\"" + n + "\"";
    const std::string text = "<StatusText" + pass + " Scanned=\"" + std::to_string(100 * passes_) +
                             "\" Deleted=\"" + std::to_string(10 * passes_) +
                             "\" BytesFreed=\"" + std::to_string(1048576 * passes_) +
                             "\" DirsRemoved=\"0\" Errors=\"0\" DryRun=\"no\" Failed=\"no\">Pass " +
                             n + ": \"quoted\" &amp; done</StatusText>";
    reportStatus("RUNNING", text.c_str(), nullptr, nullptr, nullptr, nullptr);
    sleepMillis(fakeData_->number("IntervalMillis", 30));
    KEF::Trigger("NEXT").send(controller);
  }

  // The closing report.
  void execute2() override {
    sleepMillis(fakeData_->number("CloseMillis", 0));
    reportStatus("DONE", nullptr, nullptr, nullptr, nullptr, nullptr);
    KEF::Trigger("CLOSED").send(controller);
  }

 private:
  static void sleepMillis(int millis) {
    std::this_thread::sleep_for(std::chrono::milliseconds(millis));
  }

  FakeData* fakeData_;
  int passes_ = 0;
};

class FakeController : public KEF::BaseController {
 public:
  FakeController(ACE_Thread_Manager* threads, tvan::Log* log, FakeData* data)
      : BaseController(threads, log), job_(this, data) {
    fsm.log = log;
    fsm.defineState("INITIAL");
    fsm.defineState("WORK", &job_, &KEF::BaseJob::execute, 1);
    fsm.defineState("CLOSING", &job_, &KEF::BaseJob::execute2, 1);
    fsm.defineState("DONE");
    fsm.defineInitial("INITIAL");
    fsm.defineTerminate("DONE");
    fsm.cancelTrigger = "CancelTrigger";
    fsm.defineTransition("INITIAL", "START_TRIGGER", "WORK");
    fsm.defineTransition("WORK", "NEXT", "WORK");
    fsm.defineTransition("WORK", "CancelTrigger", "CLOSING");
    fsm.defineTransition("CLOSING", "CLOSED", "DONE");
    // The last pass's NEXT may still be queued behind the cancel.
    fsm.defineTransition("CLOSING", "NEXT", KEF::BaseFSMap::kDoNothing);
  }

 private:
  FakeJob job_;
};

class FakeService : public KEF::BaseService {
 public:
  void initialize(char* serviceData) override {
    auto* data = new FakeData(serviceData);
    jobData = data;
    controller = new FakeController(threadManager, log, data);
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) KEF::BaseService* create_service() {
  return new FakeService;
}

extern "C" __attribute__((visibility("default"))) void delete_service(KEF::BaseService* service) {
  delete service;
}
