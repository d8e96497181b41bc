// The service's operations, and its shutdown with controller threads that
// end, block, spin or log when the service is deleted.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Base/System/Mutex.h"
#include "CoreTestUtil.h"

namespace {

using coretest::eventually;
using coretest::ScratchEnvironment;
using coretest::ScriptJob;
using coretest::TestController;
using coretest::TestService;

::testing::Environment* const scratch =
    ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);

char kServiceData[] = "<Job><ServiceID>svc-1</ServiceID></Job>";

// A service with the loop machine, initialised but not started.
std::unique_ptr<TestService> loopService(const char* name, std::vector<std::string> script = {},
                                         ScriptJob** job = nullptr) {
  auto service = std::make_unique<TestService>(
      name, [script, job](TestController& c, KEF::BaseJobData& data) {
        ScriptJob* made = coretest::defineLoop(c, data, script);
        if (job != nullptr) *job = made;
      });
  service->initialize(kServiceData);
  return service;
}

size_t queued(KEF::BaseService& service) {
  return service.getController()->msg_queue()->message_count();
}

TEST(BaseService, SendInjectsTheDataRootElementBeforeQueuingTheTrigger) {
  const coretest::LogWindow entries;
  auto service = loopService(coretest::kLongWait);
  EXPECT_TRUE(service->send(
      "NEXT", "<Data><DataRoot>Params</DataRoot><Params><Root>/srv</Root></Params></Data>"));
  EXPECT_EQ(queued(*service), 1u);
  std::string text = service->getServiceData();
  EXPECT_NE(text.find("<Params><Root>/srv</Root></Params>"), std::string::npos) << text;

  // No DataRoot, or one naming nothing: the trigger alone.
  EXPECT_TRUE(service->send("NEXT", "<Data><Params><Root>/other</Root></Params></Data>"));
  EXPECT_TRUE(service->send("NEXT", "<Data><DataRoot>Missing</DataRoot></Data>"));
  EXPECT_EQ(queued(*service), 3u);
  EXPECT_EQ(service->getServiceData(), text);

  // Nothing to do: true, nothing queued.
  EXPECT_TRUE(service->send(nullptr, nullptr));
  EXPECT_TRUE(service->send("", ""));
  EXPECT_EQ(queued(*service), 3u);
  EXPECT_TRUE(entries.has("Injecting trigger: NEXT to LONGWAIT"));

  service->getController()->setValid(false);
  EXPECT_FALSE(service->send("NEXT", nullptr));
  EXPECT_EQ(queued(*service), 3u);
}

TEST(BaseService, MalformedDataReachesTheCallerAndReleasesTheControllerMutex) {
  const coretest::LogWindow entries;
  auto service = loopService(coretest::kLongWait);
  EXPECT_ANY_THROW(service->send("NEXT", "<Data><DataRoot>"));
  EXPECT_EQ(queued(*service), 0u);
  std::atomic<bool> sent{false};
  std::thread other([&] { sent = service->send("NEXT", nullptr); });
  EXPECT_TRUE(eventually([&] { return sent.load(); }, 2000));
  other.join();
  EXPECT_EQ(queued(*service), 1u);
}

TEST(BaseService, ConcurrentSendsAllArrive) {
  const coretest::LogWindow entries;
  auto service = loopService(coretest::kLongWait);
  constexpr int kThreads = 6, kEach = 40;
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&service, t] {
      for (int i = 0; i < kEach; ++i) {
        const std::string data = "<D><DataRoot>Item</DataRoot><Item>" + std::to_string(t) + "." +
                                 std::to_string(i) + "</Item></D>";
        EXPECT_TRUE(service->send("NEXT", data.c_str()));
      }
    });
  }
  for (std::thread& s : senders) s.join();
  EXPECT_EQ(queued(*service), size_t{kThreads * kEach});
  EXPECT_EQ(testutil::countOf(service->getServiceData(), "<Item>"), size_t{kThreads * kEach});
}

TEST(BaseService, StatusDataAndFinishWithoutARunningThread) {
  const coretest::LogWindow entries;
  auto service = loopService(coretest::kLongWait);
  EXPECT_STREQ(service->getServiceStatus(), "");
  service->getJobData()->setStatusMsg("DONE", "<StatusText>OK</StatusText>");
  EXPECT_STREQ(service->getServiceStatus(), "<StatusText>OK</StatusText>");
  EXPECT_EQ(service->finish(), 0);
  EXPECT_TRUE(service->isFinishRequested());
  EXPECT_FALSE(service->isControllerThreadAlive());
}

TEST(BaseService, WithoutInitializeNothingRunsAndDeleteIsImmediate) {
  const coretest::LogWindow entries;
  auto service = std::make_unique<TestService>(coretest::kLongWait,
                                                [](TestController&, KEF::BaseJobData&) {});
  EXPECT_EQ(service->run(), -1);
  EXPECT_EQ(service->pause(), 0);
  EXPECT_EQ(service->finish(), 0);
  EXPECT_FALSE(service->send("NEXT", nullptr));
  EXPECT_STREQ(service->getServiceStatus(), "");
  service.reset();
  EXPECT_TRUE(entries.has("Error starting Task"));
  EXPECT_TRUE(entries.has("Closing Service."));
}

TEST(BaseService, RunsTheWorkflowUntilFinishedAndDeletesWithoutWaiting) {
  const coretest::LogWindow entries;
  ScriptJob* job = nullptr;
  auto service = loopService(coretest::kLongWait, {"NEXT", "NEXT"}, &job);
  EXPECT_EQ(service->run(), 0);
  EXPECT_TRUE(eventually([&] { return job->runs() == 3; }));
  EXPECT_EQ(service->pause(), 0);
  EXPECT_TRUE(service->send("NEXT", nullptr));  // banked
  EXPECT_EQ(service->resume(), 0);
  EXPECT_TRUE(eventually([&] { return job->runs() == 4; }));
  // The cancel is noticed at the next iteration: give it one.
  EXPECT_EQ(service->finish(), 0);
  EXPECT_TRUE(service->send("NEXT", nullptr));
  EXPECT_TRUE(eventually([&] { return !service->isControllerThreadAlive(); }));
  EXPECT_EQ(service->getStatus().stepCount, 5 - 2);
  const uint32_t tid = service->getController()->getThreadId();

  const auto start = std::chrono::steady_clock::now();
  service.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_FALSE(coretest::threadExists(tid));
  EXPECT_EQ(entries.count("Killing thread " + std::to_string(tid)), 0u);
  EXPECT_TRUE(entries.has("Closing Service."));
}

// Jobs that never end their run.
class StuckJob : public KEF::BaseJob {
 public:
  enum Way { kSleeps, kSpins, kLogs };
  StuckJob(KEF::BaseController* c, KEF::BaseJobData* d, tvan::Log* log, Way way)
      : BaseJob(c, d, log), way_(way) {}
  void execute() override {
    started = true;
    volatile unsigned long spins = 0;
    for (unsigned long i = 0;; ++i) {
      switch (way_) {
        case kSleeps:
          std::this_thread::sleep_for(std::chrono::hours(1));
          break;
        case kSpins:
          spins = spins + 1;
          break;
        case kLogs:
          log->log(tvan::kInfo, __FILE__, __LINE__, "StuckJob::execute()", "busy %lu", i);
          break;
      }
    }
  }
  std::atomic<bool> started{false};

 private:
  StuckJob::Way way_;
};

// Deleting the service ends the stuck thread after the 5-second wait: the
// destructor returns, no thread of the service is left, and the log and its
// mutex still work for everyone else.
void expectStuckThreadStopped(StuckJob::Way way) {
  const coretest::LogWindow entries;
  // The busy job writes to a small log of its own (rolling over every
  // megabyte) that serialises on the same mutex as the service's log.
  tvan::Log busyLog((ScratchEnvironment::dir() + "/busy.log").c_str(), 0xFFFF, 0x1, 1, false,
                    false);
  StuckJob* job = nullptr;
  auto service = std::make_unique<TestService>(
      coretest::kLongWait, [&job, &busyLog, way](TestController& c, KEF::BaseJobData& data) {
        job = c.adopt(new StuckJob(&c, &data, &busyLog, way));
        KEF::BaseFSMap& fsm = c.getFSM();
        fsm.defineState("INITIAL");
        fsm.defineState("STUCK", job, &KEF::BaseJob::execute, 1);
        fsm.defineInitial("INITIAL");
        fsm.defineTransition("INITIAL", "START_TRIGGER", "STUCK");
      });
  service->initialize(kServiceData);
  ASSERT_EQ(service->run(), 0);
  ASSERT_TRUE(eventually([&] { return job->started.load(); }));
  const uint32_t tid = service->getController()->getThreadId();

  const auto start = std::chrono::steady_clock::now();
  service.reset();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(4900));
  EXPECT_LT(took, std::chrono::milliseconds(8000));
  EXPECT_FALSE(coretest::threadExists(tid));
  EXPECT_EQ(entries.count("Killing thread " + std::to_string(tid)), 1u);
  EXPECT_EQ(entries.count("Unable to terminate thread " + std::to_string(tid)), 0u);

  // The log's mutex is free and the next entry of another thread is written.
  tvan::Log after(nullptr, tvan::kConfigFileLog);
  std::thread other([&after] {
    EXPECT_TRUE(after.getMutex().lock(tvan::kNoBlock, -1));
    after.getMutex().unlock();
    after.log(tvan::kInfo, __FILE__, __LINE__, "other", "written after the stop");
  });
  other.join();
  EXPECT_TRUE(entries.has("written after the stop"));
}

TEST(BaseService, DeleteStopsAControllerThreadBlockedInAWait) {
  const coretest::LogWindow entries;
#if defined(__SANITIZE_THREAD__)
  // The C library runs the cancellation's unwind inside its cancellation
  // signal's handler, where ThreadSanitizer stops following the thread's
  // synchronisation and reports every lock the unwind takes.
  GTEST_SKIP() << "ThreadSanitizer does not follow a cancelled thread's unwind";
#endif
  expectStuckThreadStopped(StuckJob::kSleeps);
}

TEST(BaseService, DeleteStopsAControllerThreadSpinningInItsJob) {
  const coretest::LogWindow entries;
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer delivers signals only at its own safe points";
#endif
  expectStuckThreadStopped(StuckJob::kSpins);
}

TEST(BaseService, DeleteStopsAControllerThreadLoggingInATightLoop) {
  const coretest::LogWindow entries;
  expectStuckThreadStopped(StuckJob::kLogs);
}

}  // namespace
