#pragma once
// Test doubles and a scratch environment shared by the framework-core tests.
//
// Every test program gets one scratch directory that is also the framework
// configuration directory and holds the registry store, so nothing outside
// it is read. Its KEFConfiguration.xml names a log file with every level on
// and a statistics file, and one supported service per time-out a test
// needs (the configuration is read once per process, so tests pick their
// time-out by service name).
#include <gtest/gtest.h>
#include <unistd.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "Base/Log/LogTestUtil.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/KEFCore/BaseController.h"
#include "KEF/KEFCore/BaseFSMap.h"
#include "KEF/KEFCore/BaseJob.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "KEF/KEFCore/BaseService.h"
#include "KEF/KEFCore/Trigger.h"
#include "TestUtil.h"

namespace coretest {

// Service names and the time-outs the configuration gives them.
constexpr const char kNoWait[] = "NOWAIT";      // timeOut 0: every wait returns at once
constexpr const char kOneSecond[] = "ONESEC";   // timeOut 1
constexpr const char kLongWait[] = "LONGWAIT";  // timeOut 30
constexpr const char kUnlisted[] = "UNLISTED";  // not configured: the default wait

class ScratchEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/kefcore_testXXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir() = pattern;
    ::setenv("TVAN_REGISTRY_FILE", (dir() + "/registry").c_str(), 1);
    ::setenv("KEF_CONFIGURATION", dir().c_str(), 1);
    tvan::testing::useOwnLogMutex("core");
    testutil::writeFile(
        dir() + "/KEFConfiguration.xml",
        "<KEFPrefs><VolumePrefs/><SupportedServices>"
        "<NOWAIT ENABLED=\"1\" timeOut=\"0\"/><ONESEC ENABLED=\"1\" timeOut=\"1\"/>"
        "<LONGWAIT ENABLED=\"1\" timeOut=\"30\"/><KEEPER ENABLED=\"1\" Persistent=\"yes\"/>"
        "</SupportedServices>"
        "<StatFile>" + statisticsFile() + "</StatFile>"
        "<Log><LogFile>" + logFile() + "</LogFile><LevelMask>0xFFFF</LevelMask>"
        "<LocationMask>0x1</LocationMask><MaximumSize>50</MaximumSize>"
        "<UpdateTime>3600</UpdateTime></Log></KEFPrefs>");
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }

  static std::string& dir() {
    static std::string path;
    return path;
  }
  static std::string logFile() { return dir() + "/kef.log"; }
  static std::string statisticsFile() { return dir() + "/statistics.log"; }
};

// The message column of every entry of a log file, in order.
inline std::vector<std::string> logMessages(const std::string& path) {
  std::vector<tvan::LogEntry> entries;
  tvan::LogFileReader::readAll(path, entries);
  std::vector<std::string> messages;
  for (const tvan::LogEntry& entry : entries) messages.push_back(entry.message);
  return messages;
}

// The entries of the service log written since the window was made, so that
// tests running in one process do not see each other's entries.
class LogWindow {
 public:
  LogWindow() : start_(logMessages(ScratchEnvironment::logFile()).size()) {}
  size_t count(const std::string& message) const {
    const std::vector<std::string> all = logMessages(ScratchEnvironment::logFile());
    size_t n = 0;
    for (size_t i = start_; i < all.size(); ++i) n += (all[i] == message);
    return n;
  }
  bool has(const std::string& message) const { return count(message) > 0; }

 private:
  size_t start_;
};

// Waits until `done` holds, at most `millis`.
inline bool eventually(const std::function<bool()>& done, long millis = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Whether the thread of that kernel id still exists in this process.
inline bool threadExists(uint32_t tid) {
  return tid != 0 && ::access(("/proc/self/task/" + std::to_string(tid)).c_str(), F_OK) == 0;
}

// Job data over a document of its own.
class OwnDocumentData : public KEF::BaseJobData {
 public:
  explicit OwnDocumentData(const char* xml = "<Job><ServiceID>svc-1</ServiceID></Job>")
      : document_(xml, false) {
    initialize(&document_);
  }

 private:
  tvan::XmlDOM document_;
};

// Records every run and answers it with the next trigger of its script
// (nothing once the script is used up).
class ScriptJob : public KEF::BaseJob {
 public:
  ScriptJob(KEF::BaseController* controller, KEF::BaseJobData* data,
            std::vector<std::string> script = {})
      : BaseJob(controller, data, nullptr), script_(std::move(script)) {}

  void execute() override { answer("execute"); }
  void execute2() override { answer("execute2"); }

  int runs() const { return runs_.load(); }
  std::vector<std::string> calls() {
    std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
  }

 private:
  void answer(const char* operation) {
    std::string next;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      calls_.push_back(operation);
      if (!script_.empty()) {
        next = script_.front();
        script_.erase(script_.begin());
      }
    }
    ++runs_;
    if (!next.empty()) KEF::Trigger(next).send(controller);
  }

  std::mutex mutex_;
  std::vector<std::string> script_;
  std::vector<std::string> calls_;
  std::atomic<int> runs_{0};
};

// A controller whose machine the test defines; it owns the jobs it is given.
class TestController : public KEF::BaseController {
 public:
  explicit TestController(tvan::Log* log)
      : BaseController(ACE_Thread_Manager::instance(), log) {
    fsm.log = log;
  }
  ~TestController() override {
    for (KEF::BaseJob* job : jobs_) delete job;
  }
  template <class JobType>
  JobType* adopt(JobType* job) {
    jobs_.push_back(job);
    return job;
  }

 private:
  std::vector<KEF::BaseJob*> jobs_;
};

// A service that builds its controller with `define` on initialize.
class TestService : public KEF::BaseService {
 public:
  using Definer = std::function<void(TestController&, KEF::BaseJobData&)>;

  TestService(const std::string& name, Definer define) : define_(std::move(define)) {
    serviceName = name;
  }
  void initialize(char* serviceData) override {
    jobData = new OwnDocumentData(serviceData);
    auto* testController = new TestController(log);
    define_(*testController, *jobData);
    controller = testController;
  }

 private:
  Definer define_;
};

// INITIAL -START_TRIGGER-> WORK (job.execute, 1 step); WORK -NEXT-> WORK;
// WORK -CancelTrigger-> DONE (terminal); WORK -END-> DONE.
inline ScriptJob* defineLoop(TestController& c, KEF::BaseJobData& data,
                             std::vector<std::string> script = {}) {
  ScriptJob* job = c.adopt(new ScriptJob(&c, &data, std::move(script)));
  KEF::BaseFSMap& fsm = c.getFSM();
  fsm.defineState("INITIAL");
  fsm.defineState("WORK", job, &KEF::BaseJob::execute, 1);
  fsm.defineState("DONE");
  fsm.defineInitial("INITIAL");
  fsm.defineTerminate("DONE");
  fsm.cancelTrigger = "CancelTrigger";
  fsm.defineTransition("INITIAL", "START_TRIGGER", "WORK");
  fsm.defineTransition("WORK", "NEXT", "WORK");
  fsm.defineTransition("WORK", "CancelTrigger", "DONE");
  fsm.defineTransition("WORK", "END", "DONE");
  return job;
}

}  // namespace coretest
