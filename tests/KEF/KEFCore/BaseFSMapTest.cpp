#include "KEF/KEFCore/BaseFSMap.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "Base/Log/Log.h"
#include "Base/Log/LogFileReader.h"
#include "Base/XML/XmlTestUtil.h"
#include "KEF/KEFCore/BaseJob.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "TestUtil.h"

namespace {

using KEF::BaseJob;
using KEF::BaseJobData;
using Strings = std::vector<std::string>;

// Records which of its execute operations ran; execute() throws while `fail`.
class RecordingJob : public BaseJob {
 public:
  explicit RecordingJob(BaseJobData* data) : BaseJob(nullptr, data, nullptr) {}
  void execute() override {
    if (fail) throw "job failed";
    ran.push_back("execute");
  }
  void execute2() override { ran.push_back("execute2"); }
  void execute8() override { ran.push_back("execute8"); }

  Strings ran;
  bool fail = false;
};

// A machine logging every level to a scratch file; two jobs with own data.
class BaseFSMap : public ::testing::Test {
 protected:
  BaseFSMap() { fsm_.log = &log_; }

  // States (without a job when `job` is null), transitions (current, trigger,
  // next) and the initial state, in this order.
  struct StateRow {
    const char* name;
    BaseJob* job = nullptr;
    KEF::JobMethod method = nullptr;
    int steps = 0;
  };
  void define(std::initializer_list<StateRow> states,
              std::initializer_list<std::array<const char*, 3>> transitions,
              const char* initial) {
    for (const StateRow& s : states) {
      if (s.job == nullptr) fsm_.defineState(s.name);
      else fsm_.defineState(s.name, s.job, s.method, s.steps);
    }
    for (const auto& t : transitions) fsm_.defineTransition(t[0], t[1], t[2]);
    fsm_.defineInitial(initial);
  }
  int pull(const std::string& trigger) { return fsm_.pullTrigger(trigger); }
  std::string current() const {
    return fsm_.getCurrentState() != nullptr ? fsm_.getCurrentState()->name : "(none)";
  }
  // Messages logged at `level` that start with `prefix`.
  Strings messages(const std::string& level, const std::string& prefix = "") {
    std::vector<tvan::LogEntry> entries;
    EXPECT_TRUE(tvan::LogFileReader::readAll(dir_.file("fsm.log"), entries));
    Strings out;
    for (const tvan::LogEntry& e : entries) {
      if (e.level == level && e.message.rfind(prefix, 0) == 0) out.push_back(e.message);
    }
    return out;
  }

  testutil::TempDir dir_{"kef_fsm"};
  tvan::Log log_{dir_.file("fsm.log").c_str(), 0xFFFF, tvan::kLocationFile, 5, true, false};
  BaseJobData dataA_, dataB_;
  RecordingJob a_{&dataA_}, b_{&dataB_};
  KEF::BaseFSMap fsm_;  // destroyed before the log it writes its last entry to
};

TEST_F(BaseFSMap, PauseBanksOnlyTheLastTriggerAndEveryResumePullsIt) {
  define({{"IDLE"}, {"A", &a_, &BaseJob::execute, 1}, {"B", &b_, &BaseJob::execute2, 3}},
         {{"IDLE", "GO_A", "A"}, {"IDLE", "GO_B", "B"}, {"B", "GO_B", "B"}}, "IDLE");

  // Nothing banked: the resume warns, ends the pause and keeps the state.
  for (const char* t : {"PAUSE_TRIGGER", "RESUME_TRIGGER"}) EXPECT_EQ(pull(t), 0) << t;
  EXPECT_EQ(current(), "IDLE");
  EXPECT_FALSE(fsm_.isPaused());
  EXPECT_EQ(messages("WARNING"),
            Strings{"Resuming with no banked trigger (potential lost trigger)"});

  for (const char* t : {"PAUSE_TRIGGER", "GO_A", "GO_B"}) EXPECT_EQ(pull(t), 0) << t;
  EXPECT_EQ(pull("RESUME_TRIGGER"), 3);
  EXPECT_EQ(current(), "B");
  EXPECT_TRUE(a_.ran.empty());
  EXPECT_EQ(b_.ran, Strings{"execute2"});
  EXPECT_EQ(messages("INFO", "Banking"),
            (Strings{"Banking trigger: GO_A", "Banking trigger: GO_B"}));
  EXPECT_EQ(messages("INFO", "Resuming"), Strings{"Resuming with trigger: GO_B"});

  // The trigger stays banked: another pause (twice over) and resume pulls it
  // again, without a warning.
  for (const char* t : {"PAUSE_TRIGGER", "PAUSE_TRIGGER"}) EXPECT_EQ(pull(t), 0) << t;
  EXPECT_EQ(pull("RESUME_TRIGGER"), 3);
  EXPECT_EQ(dataB_.getCurrentIdx(), 2);
  EXPECT_EQ(messages("WARNING").size(), 1u);
}

TEST_F(BaseFSMap, DoNothingAndPassiveStateRunNoJobTheTerminalRunsItsJobThenEnds) {
  // A state that happens to carry the reserved name is never entered.
  define({{"WORK"}, {"DO_NOTHING", &a_, &BaseJob::execute, 5},
          {"WAITING", &a_, &BaseJob::execute, 9}, {"DONE", &b_, &BaseJob::execute2, 7}},
         {{"WORK", "TICK", "DO_NOTHING"}, {"WORK", "HOLD", "WAITING"},
          {"WAITING", "HOLD", "WAITING"}, {"WAITING", "END", "DONE"}}, "WORK");
  fsm_.defineTerminate("DONE");
  fsm_.passiveState = "WAITING";

  EXPECT_EQ(pull("TICK"), 0);
  EXPECT_EQ(current(), "WORK");
  for (int i = 0; i < 2; ++i) EXPECT_EQ(pull("HOLD"), 1);  // also when entered again
  EXPECT_EQ(current(), "WAITING");
  EXPECT_TRUE(a_.ran.empty());
  EXPECT_EQ(pull("END"), -2);
  EXPECT_EQ(current(), "DONE");
  EXPECT_EQ(b_.ran, Strings{"execute2"});
  EXPECT_EQ(dataB_.getCurrentIdx(), 1);
}

// A later state of the same name is never entered, yet counts towards the
// total status steps like every state with a job: steps x its index count.
TEST_F(BaseFSMap, FirstDefinitionWinsAndTotalStepsWeighEveryJobState) {
  // The same trigger from another state is a transition of its own.
  define({{"IDLE"}, {"A", &a_, &BaseJob::execute, 1}, {"A", &b_, &BaseJob::execute, 2}, {"B"}},
         {{"IDLE", "GO", "A"}, {"IDLE", "GO", "B"}, {"A", "GO", "B"}}, "IDLE");
  EXPECT_EQ(fsm_.getTransitions().size(), 2u);
  dataB_.setIdxCount(3);
  EXPECT_EQ(fsm_.getTotalStatusSteps(), 1 * 1 + 2 * 3);
  EXPECT_EQ(pull("GO"), 1);
  EXPECT_EQ(a_.ran, Strings{"execute"});
  EXPECT_TRUE(b_.ran.empty());
  EXPECT_EQ(pull("GO"), 0);
  EXPECT_EQ(current(), "B");
}

TEST_F(BaseFSMap, LookupFailuresReturnMinusOneAndKeepTheState) {
  // An unknown initial state is ignored, also after a known one; without an
  // initial state every pull, a pause too, is refused.
  define({{"IDLE"}, {"WORK", &a_, &BaseJob::execute, 1}},
         {{"IDLE", "GO", "WORK"}, {"IDLE", "EMPTY", ""}, {"IDLE", "GHOST", "NOWHERE"}}, "MISSING");
  EXPECT_EQ(pull("PAUSE_TRIGGER"), -1);
  EXPECT_EQ(pull("GO"), -1);
  fsm_.defineInitial("IDLE");
  fsm_.defineInitial("MISSING");

  // Unknown trigger, names differing in case only, an empty next state, an
  // undefined next state, and a resume outside a pause (an ordinary trigger).
  Strings warnings;
  for (const char* trigger : {"UNKNOWN", "go", "EMPTY", "GHOST", "RESUME_TRIGGER", ""}) {
    EXPECT_EQ(pull(trigger), -1) << trigger;
    EXPECT_EQ(current(), "IDLE") << trigger;
    warnings.push_back(std::string("Unable to find next state- current: IDLE trigger: ") + trigger);
  }
  EXPECT_TRUE(a_.ran.empty());
  EXPECT_EQ(messages("WARNING"), warnings);
  EXPECT_EQ(pull("GO"), 1);
}

TEST_F(BaseFSMap, JobsRunThroughTheVirtualTableAndAThrowLeavesTheIndex) {
  // execute4 is not overridden: BaseJob's runs.
  define({{"S1", &a_, &BaseJob::execute, 1}, {"S2", &a_, &BaseJob::execute2, 1},
          {"S8", &a_, &BaseJob::execute8, 1}, {"S4", &a_, &BaseJob::execute4, 1},
          {"FAIL", &a_, &BaseJob::execute, 1}},
         {{"S1", "NEXT", "S2"}, {"S2", "NEXT", "S8"}, {"S8", "NEXT", "S4"}, {"S4", "NEXT", "S1"},
          {"S1", "FAIL", "FAIL"}}, "S1");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(pull("NEXT"), 1);
  EXPECT_EQ(a_.ran, (Strings{"execute2", "execute8", "execute"}));
  EXPECT_EQ(dataA_.getCurrentIdx(), 4);  // every run advances, also BaseJob's

  a_.fail = true;
  EXPECT_EQ(xmltest::thrown([&] { pull("FAIL"); }), "job failed");
  EXPECT_EQ(dataA_.getCurrentIdx(), 4);
  EXPECT_EQ(current(), "FAIL");  // entered before its job ran
}

}  // namespace
