#include "KEF/KEFCore/BaseFSMap.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "Base/Log/LogTestUtil.h"
#include "KEF/KEFCore/BaseJob.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "TestUtil.h"

namespace {

using KEF::BaseJob;
using KEF::BaseJobData;

// Records which of its execute operations ran, in order.
class RecordingJob : public BaseJob {
 public:
  explicit RecordingJob(BaseJobData* data) : BaseJob(nullptr, data, nullptr) {}
  void execute() override { ran.push_back("execute"); }
  void execute2() override { ran.push_back("execute2"); }
  void execute8() override { ran.push_back("execute8"); }

  std::vector<std::string> ran;
};

// Fails every run the way the job libraries do, with a text.
class ThrowingJob : public BaseJob {
 public:
  static constexpr const char* kFailure = "job failed";
  explicit ThrowingJob(BaseJobData* data) : BaseJob(nullptr, data, nullptr) {}
  void execute() override { throw kFailure; }
};

// A machine with every level of its log written to a scratch file.
class BaseFSMap : public ::testing::Test {
 protected:
  BaseFSMap() : log_(openLog(dir_.file("fsm.log"))) { fsm_.log = log_.get(); }

  // The log gets a mutex of this process's own; logs made later by other
  // tests keep the name they had.
  static std::unique_ptr<tvan::Log> openLog(const std::string& path) {
    const std::string previous = tvan::mutexName;
    static const std::string own = [] {
      tvan::testing::useOwnLogMutex("fsm");
      return tvan::mutexName;
    }();
    tvan::Log::SetMutexName(own);
    std::unique_ptr<tvan::Log> log(
        new tvan::Log(path.c_str(), 0xFFFF, tvan::kLocationFile, 5, true, false));
    tvan::Log::SetMutexName(previous);
    return log;
  }

  int pull(const std::string& trigger) { return fsm_.pullTrigger(trigger); }
  std::string current() const {
    return fsm_.getCurrentState() != nullptr ? fsm_.getCurrentState()->name : "(none)";
  }

  // Messages of the entries at `level` ("" for all) that start with `prefix`.
  std::vector<std::string> messages(const std::string& prefix, const std::string& level = "") {
    std::vector<tvan::LogEntry> entries;
    EXPECT_TRUE(tvan::LogFileReader::readAll(dir_.file("fsm.log"), entries));
    std::vector<std::string> out;
    for (const tvan::LogEntry& entry : entries) {
      if (entry.message.compare(0, prefix.size(), prefix) != 0) continue;
      if (level.empty() || entry.level == level) out.push_back(entry.message);
    }
    return out;
  }

  testutil::TempDir dir_{"kef_fsm"};
  std::unique_ptr<tvan::Log> log_;
  KEF::BaseFSMap fsm_;  // destroyed before the log it writes its last entry to
};

using Strings = std::vector<std::string>;

TEST_F(BaseFSMap, PauseBanksOnlyTheLastTriggerAndEveryResumePullsIt) {
  BaseJobData dataA, dataB;
  RecordingJob a(&dataA), b(&dataB);
  fsm_.defineState("IDLE");
  fsm_.defineState("A", &a, &BaseJob::execute, 1);
  fsm_.defineState("B", &b, &BaseJob::execute2, 3);
  fsm_.defineInitial("IDLE");
  fsm_.defineTransition("IDLE", "GO_A", "A");
  fsm_.defineTransition("IDLE", "GO_B", "B");
  fsm_.defineTransition("B", "GO_B", "B");

  EXPECT_EQ(pull("PAUSE_TRIGGER"), 0);
  EXPECT_EQ(pull("GO_A"), 0);
  EXPECT_EQ(pull("GO_B"), 0);
  EXPECT_EQ(current(), "IDLE");
  EXPECT_TRUE(a.ran.empty() && b.ran.empty());

  EXPECT_EQ(pull("RESUME_TRIGGER"), 3);
  EXPECT_EQ(current(), "B");
  EXPECT_TRUE(a.ran.empty());
  EXPECT_EQ(b.ran, Strings{"execute2"});
  EXPECT_EQ(dataA.getCurrentIdx(), 0);
  EXPECT_EQ(dataB.getCurrentIdx(), 1);
  EXPECT_EQ(messages("Banking trigger: ", "INFO"),
            (Strings{"Banking trigger: GO_A", "Banking trigger: GO_B"}));
  EXPECT_EQ(messages("Resuming with trigger: "), Strings{"Resuming with trigger: GO_B"});

  // Nothing new banked: the next resume pulls the same trigger again; a
  // second pause while paused changes nothing.
  EXPECT_EQ(pull("PAUSE_TRIGGER"), 0);
  EXPECT_EQ(pull("PAUSE_TRIGGER"), 0);
  EXPECT_EQ(pull("RESUME_TRIGGER"), 3);
  EXPECT_EQ(b.ran, (Strings{"execute2", "execute2"}));
  EXPECT_EQ(dataB.getCurrentIdx(), 2);
  EXPECT_FALSE(fsm_.isPaused());
  EXPECT_TRUE(messages("Resuming with no banked").empty());
}

TEST_F(BaseFSMap, ResumeWithNothingBankedWarnsAndKeepsTheState) {
  BaseJobData data;
  RecordingJob job(&data);
  fsm_.defineState("IDLE");
  fsm_.defineState("WORK", &job, &BaseJob::execute, 2);
  fsm_.defineInitial("IDLE");
  fsm_.defineTransition("IDLE", "GO", "WORK");

  EXPECT_EQ(pull("PAUSE_TRIGGER"), 0);
  EXPECT_EQ(pull("RESUME_TRIGGER"), 0);
  EXPECT_EQ(current(), "IDLE");
  EXPECT_TRUE(job.ran.empty());
  EXPECT_EQ(messages("", "WARNING"),
            Strings{"Resuming with no banked trigger (potential lost trigger)"});

  // The machine runs again.
  EXPECT_EQ(pull("GO"), 2);
  EXPECT_EQ(job.ran, Strings{"execute"});
}

TEST_F(BaseFSMap, DoNothingAndPassiveStatesRunNoJob) {
  BaseJobData data;
  RecordingJob work(&data), decoy(&data), waiting(&data);
  fsm_.defineState("WORK", &work, &BaseJob::execute, 1);
  // A state that happens to carry the reserved name is never entered.
  fsm_.defineState("DO_NOTHING", &decoy, &BaseJob::execute, 5);
  fsm_.defineState("WAITING", &waiting, &BaseJob::execute, 9);
  fsm_.defineInitial("WORK");
  fsm_.passiveState = "WAITING";
  fsm_.defineTransition("WORK", "TICK", "DO_NOTHING");
  fsm_.defineTransition("WORK", "HOLD", "WAITING");
  fsm_.defineTransition("WAITING", "HOLD", "WAITING");

  EXPECT_EQ(pull("TICK"), 0);
  EXPECT_EQ(current(), "WORK");
  EXPECT_TRUE(messages("WORK+TICK").empty());

  // Entering the passive state, also again, yields 1 and runs nothing.
  EXPECT_EQ(pull("HOLD"), 1);
  EXPECT_EQ(pull("HOLD"), 1);
  EXPECT_EQ(current(), "WAITING");

  EXPECT_TRUE(work.ran.empty() && decoy.ran.empty() && waiting.ran.empty());
  EXPECT_EQ(data.getCurrentIdx(), 0);
}

TEST_F(BaseFSMap, TerminalStateRunsItsJobFirstAndEndsWithMinusTwo) {
  BaseJobData workData, doneData;
  RecordingJob work(&workData), done(&doneData);
  fsm_.defineState("IDLE");
  fsm_.defineState("WORK", &work, &BaseJob::execute, 1);
  fsm_.defineState("DONE", &done, &BaseJob::execute2, 7);
  fsm_.defineInitial("IDLE");
  fsm_.defineTerminate("DONE");
  fsm_.defineTransition("IDLE", "GO", "WORK");
  fsm_.defineTransition("WORK", "END", "DONE");

  EXPECT_EQ(pull("GO"), 1);
  EXPECT_EQ(pull("END"), -2);
  EXPECT_EQ(current(), "DONE");
  EXPECT_EQ(done.ran, Strings{"execute2"});
  EXPECT_EQ(doneData.getCurrentIdx(), 1);
  EXPECT_EQ(messages("IDLE+"), Strings{"IDLE+GO=WORK"});
  EXPECT_EQ(messages("WORK+"), Strings{"WORK+END=DONE"});
  EXPECT_EQ(messages("Run next state: "),
            (Strings{"Run next state: WORK", "Run next state: DONE"}));
}

TEST_F(BaseFSMap, FirstDefinitionWinsForTransitionsAndStates) {
  BaseJobData data;
  RecordingJob first(&data), second(&data);
  fsm_.defineState("IDLE");
  fsm_.defineState("A", &first, &BaseJob::execute, 1);
  fsm_.defineState("A", &second, &BaseJob::execute, 2);
  fsm_.defineState("B");
  fsm_.defineInitial("IDLE");
  fsm_.defineTransition("IDLE", "GO", "A");
  fsm_.defineTransition("IDLE", "GO", "B");
  fsm_.defineTransition("A", "GO", "B");  // same trigger from another state is new

  EXPECT_EQ(fsm_.getTransitions().size(), 2u);
  EXPECT_EQ(pull("GO"), 1);
  EXPECT_EQ(first.ran, Strings{"execute"});
  EXPECT_TRUE(second.ran.empty());
  EXPECT_EQ(pull("GO"), 0);
  EXPECT_EQ(current(), "B");
}

TEST_F(BaseFSMap, LookupFailuresReturnMinusOneAndKeepTheState) {
  BaseJobData data;
  RecordingJob job(&data);
  fsm_.defineState("IDLE");
  fsm_.defineState("WORK", &job, &BaseJob::execute, 1);
  fsm_.defineInitial("IDLE");
  fsm_.defineTransition("IDLE", "GO", "WORK");
  fsm_.defineTransition("IDLE", "EMPTY", "");
  fsm_.defineTransition("IDLE", "GHOST", "NOWHERE");  // never defined

  // Unknown trigger, names differing in case only, an empty next state, an
  // undefined next state, and a resume outside a pause (an ordinary trigger).
  for (const char* trigger : {"UNKNOWN", "go", "EMPTY", "GHOST", "RESUME_TRIGGER", ""}) {
    EXPECT_EQ(pull(trigger), -1) << trigger;
    EXPECT_EQ(current(), "IDLE") << trigger;
  }
  EXPECT_TRUE(job.ran.empty());
  EXPECT_EQ(messages("", "WARNING"),
            (Strings{"Unable to find next state- current: IDLE trigger: UNKNOWN",
                     "Unable to find next state- current: IDLE trigger: go",
                     "Unable to find next state- current: IDLE trigger: EMPTY",
                     "Unable to find next state- current: IDLE trigger: GHOST",
                     "Unable to find next state- current: IDLE trigger: RESUME_TRIGGER",
                     "Unable to find next state- current: IDLE trigger: "}));
  EXPECT_EQ(pull("GO"), 1);
}

TEST_F(BaseFSMap, JobFailurePassesOutAndLeavesTheIndex) {
  BaseJobData failingData, workingData;
  ThrowingJob failing(&failingData);
  RecordingJob working(&workingData);
  fsm_.defineState("IDLE");
  fsm_.defineState("FAIL", &failing, &BaseJob::execute, 1);
  fsm_.defineState("WORK", &working, &BaseJob::execute, 1);
  fsm_.defineInitial("IDLE");
  fsm_.defineTransition("IDLE", "GO", "FAIL");
  fsm_.defineTransition("FAIL", "GO", "WORK");

  const char* thrown = nullptr;
  try {
    pull("GO");
  } catch (const char* text) {
    thrown = text;
  }
  EXPECT_EQ(thrown, ThrowingJob::kFailure);
  EXPECT_EQ(failingData.getCurrentIdx(), 0);
  // The state was entered before its job ran.
  EXPECT_EQ(current(), "FAIL");

  EXPECT_EQ(pull("GO"), 1);
  EXPECT_EQ(workingData.getCurrentIdx(), 1);
}

TEST_F(BaseFSMap, ExecuteOperationsAreCalledThroughTheVirtualTable) {
  BaseJobData data;
  RecordingJob job(&data);
  fsm_.defineState("S1", &job, &BaseJob::execute, 1);
  fsm_.defineState("S2", &job, &BaseJob::execute2, 1);
  fsm_.defineState("S8", &job, &BaseJob::execute8, 1);
  fsm_.defineState("S4", &job, &BaseJob::execute4, 1);  // not overridden: BaseJob's runs
  fsm_.defineInitial("S4");
  fsm_.defineTransition("S4", "NEXT", "S2");
  fsm_.defineTransition("S2", "NEXT", "S8");
  fsm_.defineTransition("S8", "NEXT", "S1");
  fsm_.defineTransition("S1", "NEXT", "S4");

  for (int i = 0; i < 4; ++i) EXPECT_EQ(pull("NEXT"), 1);
  EXPECT_EQ(job.ran, (Strings{"execute2", "execute8", "execute"}));
  EXPECT_EQ(data.getCurrentIdx(), 4);  // every run advances, also BaseJob's
}

TEST_F(BaseFSMap, TotalStatusStepsWeighEachJobStateByItsIndexCount) {
  BaseJobData first, second;
  RecordingJob one(&first), two(&second);
  fsm_.defineState("IDLE");
  fsm_.defineState("A", &one, &BaseJob::execute, 1);
  fsm_.defineState("B", &two, &BaseJob::execute, 1);
  EXPECT_EQ(fsm_.getTotalStatusSteps(), 2);

  second.setIdxCount(3);
  fsm_.defineState("C", &two, &BaseJob::execute2, 2);
  EXPECT_EQ(fsm_.getTotalStatusSteps(), 1 + 3 + 6);
}

TEST_F(BaseFSMap, PullBeforeAnInitialStateIsRefused) {
  BaseJobData data;
  RecordingJob job(&data);
  fsm_.defineState("WORK", &job, &BaseJob::execute, 1);
  fsm_.defineTransition("WORK", "GO", "WORK");
  EXPECT_EQ(pull("GO"), -1);
  fsm_.defineInitial("MISSING");
  EXPECT_EQ(pull("GO"), -1);
  EXPECT_EQ(pull("PAUSE_TRIGGER"), -1);
  EXPECT_TRUE(job.ran.empty());
  EXPECT_TRUE(messages("Initial:").empty());

  fsm_.defineInitial("WORK");
  EXPECT_EQ(pull("GO"), 1);
}

}  // namespace
