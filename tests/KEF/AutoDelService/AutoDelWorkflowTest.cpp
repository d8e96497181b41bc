// The AUTODELETE service's workflow and lifecycle, with the deletion and
// closing jobs replaced by jobs that only record their runs.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AutoDelTestUtil.h"
#include "KEF/AutoDelService/AutoDelController.h"
#include "KEF/AutoDelService/AutoDelData.h"
#include "KEF/AutoDelService/AutoDelService.h"
#include "KEF/Jobs/AutoDelJobs/AutoDelJob.h"
#include "KEF/Jobs/StandardJobs/SendMsgJob.h"

namespace {

using coretest::eventually;
using coretest::ScratchEnvironment;
using coretest::ScriptJob;

::testing::Environment* const scratch =
    ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);

// A service whose states run recording substitutes instead of the real jobs.
class SubstitutedService {
 public:
  SubstitutedService() {
    std::string data = autodeltest::serviceData(manager, "<Root>/nonexistent</Root>");
    service.initialize(&data[0]);
    controller = static_cast<KEF::AutoDelController*>(service.getController());
    deletion = std::make_unique<ScriptJob>(controller, service.getJobData());
    closing = std::make_unique<ScriptJob>(controller, service.getJobData());
    for (KEF::State* state : controller->getFSM().getStates()) {
      if (state->name == "AUTODELJOB") state->job = deletion.get();
      if (state->name == "SEND") state->job = closing.get();
    }
  }
  ~SubstitutedService() {
    // The substitutes send nothing: end the closing state by hand.
    service.finish();
    send("SENDMSG_DONE");
    eventually([&] { return !service.isControllerThreadAlive(); });
  }

  void send(const char* trigger) { KEF::Trigger(trigger).send(controller); }
  std::string state() { return controller->getFSM().getCurrentState()->name; }

  autodeltest::CountingManager manager;
  KEF::AutoDelService service;
  KEF::AutoDelController* controller;
  std::unique_ptr<ScriptJob> deletion;
  std::unique_ptr<ScriptJob> closing;
};

// Records its runs and holds the controller thread inside run number
// `holdAt` until the test opens the gate; sends nothing itself.
class GateJob : public KEF::BaseJob {
 public:
  GateJob(KEF::BaseController* controller, KEF::BaseJobData* data, int holdAt)
      : BaseJob(controller, data, nullptr), holdAt_(holdAt) {}
  void execute() override {
    if (++runs == holdAt_) {
      held = true;
      coretest::eventually([&] { return open.load(); }, 10000);
    }
  }
  std::atomic<int> runs{0};
  std::atomic<bool> held{false};
  std::atomic<bool> open{false};

 private:
  const int holdAt_;
};

TEST(AutoDelWorkflow, DefinesItsStatesTransitionsAndJobs) {
  autodeltest::CountingManager manager;
  KEF::AutoDelService service;
  std::string data = autodeltest::serviceData(manager, "<Root>/nonexistent</Root>");
  service.initialize(&data[0]);

  auto* controller = static_cast<KEF::AutoDelController*>(service.getController());
  ASSERT_NE(controller, nullptr);
  KEF::BaseFSMap& fsm = controller->getFSM();
  std::string states;
  for (const KEF::State* state : fsm.getStates()) states += state->name + " ";
  EXPECT_EQ(states, "INITIAL AUTODELJOB SEND DONE ");
  EXPECT_EQ(fsm.getStates()[1]->job, controller->getAutoDelJob());
  EXPECT_EQ(fsm.getStates()[2]->job, controller->getSendMsgJob());
  std::string transitions;
  for (const KEF::Transition* t : fsm.getTransitions()) {
    transitions += t->current + "+" + t->trigger + "=" + t->next + " ";
  }
  EXPECT_EQ(transitions,
            "INITIAL+START_TRIGGER=AUTODELJOB AUTODELJOB+CancelTrigger=SEND "
            "AUTODELJOB+AUTODEL_DONE=AUTODELJOB AUTODELJOB+AUTODEL_ERROR=AUTODELJOB "
            "SEND+AUTODEL_DONE=DONE SEND+CancelTrigger=DONE SEND+SENDMSG_DONE=DONE ");
  EXPECT_EQ(fsm.getCurrentState()->name, "INITIAL");
  EXPECT_EQ(fsm.getTerminalState(), "DONE");
  EXPECT_EQ(fsm.cancelTrigger, "CancelTrigger");
  EXPECT_TRUE(fsm.timeoutTrigger.empty());
  // One status step per job-data part.
  EXPECT_EQ(fsm.getTotalStatusSteps(), 2);

  // The service's job data and its AutoDelData are one object, whose
  // closing-job part is a second view of the same document.
  KEF::AutoDelData* autoDelData = service.getAutoDelData();
  EXPECT_EQ(service.getJobData(), static_cast<KEF::BaseJobData*>(
                                      static_cast<KEF::AutoDelJobData*>(autoDelData)));
  EXPECT_EQ(static_cast<KEF::SendMsgJobData*>(autoDelData)->getDocument(),
            autoDelData->getServiceDataDom());
  EXPECT_EQ(service.getJobData()->getDocument(), autoDelData->getServiceDataDom());
}

TEST(AutoDelWorkflow, DeletionRunsUntilCancelThenTheClosingJobOnce) {
  SubstitutedService s;
  // The cancel is taken at the start of an iteration, so it is raised while
  // the third run still holds the thread.
  GateJob deletion(s.controller, s.service.getJobData(), 3);
  s.controller->getFSM().getStates()[1]->job = &deletion;
  const int32_t stepsBefore = s.service.getStatus().stepCount;
  ASSERT_EQ(s.service.run(), 0);
  ASSERT_TRUE(eventually([&] { return deletion.runs == 1; }));
  s.send("AUTODEL_DONE");
  ASSERT_TRUE(eventually([&] { return deletion.runs == 2; }));
  s.send("AUTODEL_ERROR");
  ASSERT_TRUE(eventually([&] { return deletion.held.load(); }));
  s.service.finish();
  deletion.open = true;
  ASSERT_TRUE(eventually([&] { return s.closing->runs() == 1; }));
  EXPECT_EQ(s.state(), "SEND");
  s.send("SENDMSG_DONE");
  ASSERT_TRUE(eventually([&] { return !s.service.isControllerThreadAlive(); }, 10000));

  EXPECT_EQ(s.state(), "DONE");
  EXPECT_EQ(deletion.runs, 3);
  EXPECT_EQ(s.closing->calls(), std::vector<std::string>{"execute2"});
  // Four entries worth 1 step and the final -2.
  EXPECT_EQ(s.service.getStatus().stepCount - stepsBefore, 2);
}

TEST(AutoDelWorkflow, FailuresEndTheThreadOutsideTheTerminalState) {
  {  // A cancel noticed before the start trigger: no way out of INITIAL.
    SubstitutedService s;
    s.controller->requestCancel();
    ASSERT_EQ(s.service.run(), 0);
    ASSERT_TRUE(eventually([&] { return !s.service.isControllerThreadAlive(); }, 10000));
    EXPECT_EQ(s.state(), "INITIAL");
    EXPECT_EQ(s.deletion->runs(), 0);
  }
  {  // A trigger the deletion state has no transition for.
    SubstitutedService s;
    ASSERT_EQ(s.service.run(), 0);
    ASSERT_TRUE(eventually([&] { return s.deletion->runs() == 1; }));
    s.send("SENDMSG_DONE");
    ASSERT_TRUE(eventually([&] { return !s.service.isControllerThreadAlive(); }, 10000));
    EXPECT_EQ(s.state(), "AUTODELJOB");
  }
}

TEST(AutoDelWorkflow, LastDeletionTriggerArrivingInSendEndsAtOnce) {
  SubstitutedService s;
  GateJob gate(s.controller, s.service.getJobData(), 1);
  s.controller->getFSM().getStates()[1]->job = &gate;
  ASSERT_EQ(s.service.run(), 0);
  ASSERT_TRUE(eventually([&] { return gate.held.load(); }));
  // While the deletion job still runs, its trigger is queued and the
  // service is asked to finish: the cancel goes first, the trigger then
  // finds SEND and ends the workflow without waiting for the closing job.
  s.send("AUTODEL_DONE");
  s.service.finish();
  gate.open = true;
  ASSERT_TRUE(eventually([&] { return !s.service.isControllerThreadAlive(); }, 10000));
  EXPECT_EQ(s.state(), "DONE");
  EXPECT_EQ(s.closing->runs(), 1);
}

TEST(AutoDelService, LogComponentChangesWithInitialize) {
  coretest::LogWindow window;
  autodeltest::CountingManager manager;
  {
    KEF::AutoDelService service;
    service.getLog()->log(tvan::kInfo, "test", __LINE__, "test", "before initialize");
    std::string data = autodeltest::serviceData(manager, "<Root>/nonexistent</Root>");
    service.initialize(&data[0]);
    service.getLog()->log(tvan::kInfo, "test", __LINE__, "test", "after initialize");
  }
  std::vector<tvan::LogEntry> entries;
  tvan::LogFileReader::readAll(ScratchEnvironment::logFile(), entries);
  std::string before, after;
  for (const tvan::LogEntry& entry : entries) {
    if (entry.message == "before initialize") before = entry.component;
    if (entry.message == "after initialize") after = entry.component;
  }
  EXPECT_EQ(before, "KEFCore");
  EXPECT_EQ(after, "AUTODELETE");
}

TEST(AutoDelService, MalformedServiceDataLeavesNothingHalfMade) {
  KEF::AutoDelService service;
  std::string data = "<AutoDelete><unclosed></AutoDelete>";
  EXPECT_ANY_THROW(service.initialize(&data[0]));
  EXPECT_EQ(service.getController(), nullptr);
  EXPECT_EQ(service.getJobData(), nullptr);
  EXPECT_EQ(service.run(), -1);
}

}  // namespace
