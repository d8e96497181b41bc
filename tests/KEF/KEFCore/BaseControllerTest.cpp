// The controller's loop, run on the test thread (svc() works on any thread)
// or on its own thread where a test needs a second party.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "Base/BaseTypes/Error.h"
#include "CoreTestUtil.h"

namespace {

using coretest::eventually;
using coretest::OwnDocumentData;
using coretest::ScratchEnvironment;
using coretest::ScriptJob;
using coretest::TestController;

::testing::Environment* const scratch =
    ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);

// A controller with the loop machine of coretest::defineLoop, its data and
// progress record, for one service name.
struct LoopFixture {
  explicit LoopFixture(const char* service, std::vector<std::string> script = {})
      : log(nullptr, tvan::kConfigFileLog), controller(&log) {
    job = coretest::defineLoop(controller, data, std::move(script));
    controller.setServiceName(service);
    controller.setStatus(&status);
  }
  void queue(const char* trigger) { ASSERT_GT(KEF::Trigger(trigger).send(&controller), 0); }

  tvan::Log log;
  OwnDocumentData data;
  TestController controller;
  KEF::StatusInfo status;
  ScriptJob* job = nullptr;
};

TEST(BaseController, RunsTriggersInOrderCountsStepsAndWritesStatisticsOnNormalEnd) {
  const coretest::LogWindow entries;
  LoopFixture f(coretest::kLongWait, {"NEXT", "NEXT", "END"});
  f.queue("START_TRIGGER");
  EXPECT_EQ(f.controller.svc(), 0);

  EXPECT_EQ(f.job->runs(), 3);
  EXPECT_EQ(f.status.stepCount, 1 + 1 + 1 - 2);
  EXPECT_EQ(f.data.getCurrentIdx(), 3);
  EXPECT_EQ(f.controller.getFSM().getCurrentState()->name, "DONE");
  EXPECT_EQ(f.controller.getLastTimeoutSeconds(), 30);
  EXPECT_TRUE(entries.has("Time out set to 30"));
  EXPECT_TRUE(entries.has("Trigger received: START_TRIGGER"));
  EXPECT_TRUE(entries.has("Service LONGWAIT finished"));
  const std::string statistics = testutil::readFile(ScratchEnvironment::statisticsFile());
  EXPECT_NE(statistics.find("LONGWAIT run time: "), std::string::npos) << statistics;
}

TEST(BaseController, DropsWhatArrivesAfterTheTerminalState) {
  const coretest::LogWindow entries;
  LoopFixture f(coretest::kLongWait);
  f.queue("START_TRIGGER");
  f.queue("END");
  f.queue("NEXT");
  f.queue("NEXT");
  EXPECT_EQ(f.controller.svc(), 0);
  EXPECT_EQ(f.job->runs(), 1);
  EXPECT_EQ(f.controller.msg_queue()->message_count(), 0u);
}

TEST(BaseController, TriggerWithoutTransitionEndsAtOnceWithoutStatistics) {
  const coretest::LogWindow entries;
  const std::string statisticsBefore = testutil::readFile(ScratchEnvironment::statisticsFile());
  LoopFixture f(coretest::kLongWait);
  f.queue("START_TRIGGER");
  f.queue("BOGUS");
  f.queue("NEXT");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(f.controller.svc(), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(f.status.stepCount, 1 - 1);
  EXPECT_EQ(f.controller.msg_queue()->message_count(), 1u);  // no drain
  EXPECT_TRUE(entries.has("Unable to find next state- current: WORK trigger: BOGUS"));
  EXPECT_FALSE(entries.has("Service LONGWAIT finished"));
  EXPECT_EQ(testutil::readFile(ScratchEnvironment::statisticsFile()), statisticsBefore);
}

TEST(BaseController, IgnoresTheNamedTriggerAsOftenAsAsked) {
  const coretest::LogWindow entries;
  LoopFixture f(coretest::kLongWait);
  f.controller.ignoreTriggers("NEXT", 2);
  for (const char* t : {"START_TRIGGER", "NEXT", "NEXT", "NEXT", "END"}) f.queue(t);
  EXPECT_EQ(f.controller.svc(), 0);
  EXPECT_EQ(f.job->runs(), 2);
  EXPECT_EQ(f.status.stepCount, 1 + 1 - 2);
  EXPECT_TRUE(entries.has("Ignoring trigger NEXT 2 times"));
  EXPECT_TRUE(entries.has("Ignoring trigger NEXT (1 left)"));
  EXPECT_TRUE(entries.has("Ignoring trigger NEXT (0 left)"));
}

TEST(BaseController, ZeroTimeOutPullsTheTimeOutTriggerAndCancelEndsTheMachine) {
  const coretest::LogWindow entries;
  LoopFixture f(coretest::kNoWait);
  KEF::BaseFSMap& fsm = f.controller.getFSM();
  fsm.timeoutTrigger = "TICK";
  fsm.defineTransition("WORK", "TICK", KEF::BaseFSMap::kDoNothing);
  f.queue("START_TRIGGER");
  int result = 1;
  std::thread loop([&] { result = f.controller.svc(); });
  EXPECT_TRUE(eventually([&] { return entries.count("TimedOut") >= 3; }));
  EXPECT_EQ(f.controller.getLastTimeoutSeconds(), 0);
  f.controller.requestCancel();
  loop.join();
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(f.controller.isCancelRequested());
  EXPECT_EQ(f.controller.getFSM().getCurrentState()->name, "DONE");
  EXPECT_TRUE(entries.has("Cancelling service"));
  EXPECT_TRUE(entries.has("Service NOWAIT finished"));
}

TEST(BaseController, UnconfiguredServiceWaitsTheDefaultTwentySeconds) {
  const coretest::LogWindow entries;
  LoopFixture f(coretest::kUnlisted);
  ASSERT_EQ(f.controller.open(), 0);
  EXPECT_TRUE(eventually([&] { return f.controller.getLastTimeoutSeconds() == 20; }));
  EXPECT_TRUE(f.controller.isRunning());
  EXPECT_NE(f.controller.getThreadId(), 0u);
  f.queue("START_TRIGGER");
  f.queue("END");
  EXPECT_TRUE(eventually([&] { return !f.controller.isThreadManaged(); }));
  EXPECT_FALSE(entries.has("TimedOut"));
  EXPECT_TRUE(entries.has("Controller is closing"));
  const std::string activated =
      "Controller activated with thread id [" + std::to_string(f.controller.getThreadId()) + "]";
  EXPECT_TRUE(entries.has(activated));
}

// Without a time-out trigger a timed-out wait pulls the empty name. While
// paused that must not replace the banked trigger, however long the pause.
TEST(BaseController, PauseLongerThanTheTimeOutKeepsTheBankedTrigger) {
  const coretest::LogWindow entries;
  LoopFixture f(coretest::kNoWait);
  for (const char* t : {"START_TRIGGER", "PAUSE_TRIGGER", "NEXT"}) f.queue(t);
  int result = 1;
  std::thread loop([&] { result = f.controller.svc(); });
  EXPECT_TRUE(eventually([&] { return entries.count("TimedOut") >= 20; }));
  // Outside the pause every wait times out at once: the end must be queued
  // with the resume.
  f.queue("RESUME_TRIGGER");
  f.queue("END");
  loop.join();
  EXPECT_EQ(f.job->runs(), 2);
  EXPECT_EQ(f.controller.getFSM().getBankedTrigger(), "NEXT");
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(entries.has("Resuming with trigger: NEXT"));
}

// A job that fails in the given way on its first run and succeeds after.
class FailingJob : public KEF::BaseJob {
 public:
  enum Failure { kLibraryError, kText, kOther };
  FailingJob(KEF::BaseController* c, KEF::BaseJobData* d, Failure failure)
      : BaseJob(c, d, nullptr), failure_(failure) {}
  void execute() override {
    if (runs_++ > 0) return;
    switch (failure_) {
      case kLibraryError:
        throw tvan::Error("Job.cpp", 7, "disk on fire");
      case kText:
        throw "job gave up";
      case kOther:
        throw 42;
    }
  }
  int runs_ = 0;

 private:
  Failure failure_;
};

TEST(BaseController, JobFailuresAreLoggedAndOnlyLibraryErrorsLetTheLoopGoOn) {
  const coretest::LogWindow entries;
  struct Case {
    FailingJob::Failure failure;
    int result;
    const char* entry;
  };
  for (const Case& c : {Case{FailingJob::kLibraryError, 0, "Error: disk on fire @ Job.cpp:7"},
                        Case{FailingJob::kText, -1, "job gave up"},
                        Case{FailingJob::kOther, -1, "System exception"}}) {
    tvan::Log log(nullptr, tvan::kConfigFileLog);
    OwnDocumentData data;
    TestController controller(&log);
    FailingJob* job = controller.adopt(new FailingJob(&controller, &data, c.failure));
    KEF::BaseFSMap& fsm = controller.getFSM();
    fsm.defineState("INITIAL");
    fsm.defineState("WORK", job, &KEF::BaseJob::execute, 1);
    fsm.defineState("DONE");
    fsm.defineInitial("INITIAL");
    fsm.defineTerminate("DONE");
    fsm.defineTransition("INITIAL", "START_TRIGGER", "WORK");
    fsm.defineTransition("WORK", "AGAIN", "WORK");
    fsm.defineTransition("WORK", "END", "DONE");
    controller.setServiceName(coretest::kLongWait);
    // Every message is released, also the one whose job threw (LeakSanitizer).
    for (const char* t : {"START_TRIGGER", "AGAIN", "END"}) KEF::Trigger(t).send(&controller);
    EXPECT_EQ(controller.svc(), c.result) << c.entry;
    EXPECT_EQ(job->runs_, c.result == 0 ? 2 : 1) << c.entry;
    EXPECT_EQ(data.getCurrentIdx(), c.result == 0 ? 1 : 0) << c.entry;
    EXPECT_TRUE(entries.has(c.entry)) << c.entry;
  }
}

}  // namespace
