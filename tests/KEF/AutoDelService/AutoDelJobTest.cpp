// The deletion and closing jobs at work in a running AUTODELETE service: what
// a pass deletes and reports, how the interval wait yields to pause, resume,
// send and finish, and what the closing job leaves in the request database.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>

#include "AutoDelTestUtil.h"
#include "Base/System/FunctionMutex.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/AutoDelService/AutoDelService.h"
#include "KEF/Jobs/AutoDelJobs/AutoDelJob.h"
#include "KEF/KEFCore/BaseController.h"

namespace {

using coretest::eventually;
using coretest::ScratchEnvironment;

::testing::Environment* const scratch =
    ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);

constexpr long kDay = 86400;

// Writes a file whose modification time lies `ageSeconds` in the past.
void makeFile(const std::string& path, long ageSeconds) {
  testutil::writeFile(path, "data");
  const timespec now = {std::time(nullptr) - ageSeconds, 0};
  const timespec times[2] = {now, now};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

bool exists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

class RunningService : public ::testing::Test {
 protected:
  void SetUp() override { autodeltest::useFreshDatabase(); }

  void TearDown() override {
    if (service) {
      service->finish();
      eventually([&] { return !service->isControllerThreadAlive(); }, 10000);
    }
  }

  void start(const std::string& policy, const std::string& extra = "",
             const char* serviceName = nullptr) {
    service = std::make_unique<KEF::AutoDelService>();
    if (serviceName != nullptr) service->setServiceName(serviceName);
    std::string data = autodeltest::serviceData(manager, policy, extra);
    service->initialize(&data[0]);
    ASSERT_EQ(service->run(), 0);
  }

  std::string policyFor(const std::string& root, const std::string& more = "") {
    return "<Root>" + root + "</Root><MaxAgeDays>1</MaxAgeDays>" + more;
  }

  int passes() {
    std::string value;
    tvan::XmlDOM* document = service->getJobData()->getDocument();
    tvan::FunctionMutex guard(document->mutex);
    document->resetActiveToRoot();
    int count = 0;
    document->findNodes("Totals", count, true);
    if (count == 0) return 0;
    document->getAttribute("Pass", value, 0);
    return std::atoi(value.c_str());
  }

  size_t countStatus(const std::string& status) {
    size_t n = 0;
    for (const std::string& s : autodeltest::storedStatuses()) n += (s == status);
    return n;
  }

  // Finishes the service and waits for its workflow to end; the time it took.
  double finishAndWait() {
    const auto begin = std::chrono::steady_clock::now();
    service->finish();
    EXPECT_TRUE(eventually([&] { return !service->isControllerThreadAlive(); }, 10000));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  }

  std::string state() {
    return service->getController()->getFSM().getCurrentState()->name;
  }

  testutil::TempDir tree{"autodel_job"};
  autodeltest::CountingManager manager;
  std::unique_ptr<KEF::AutoDelService> service;
};

TEST_F(RunningService, APassDeletesReportsAndTheClosingJobEndsTheRequest) {
  makeFile(tree.file("old.dat"), 3 * kDay);
  makeFile(tree.file("new.dat"), 60);
  start(policyFor(tree.path(), "<IntervalSeconds>600</IntervalSeconds>"));

  ASSERT_TRUE(eventually([&] { return countStatus("RUNNING") == 1; }));
  EXPECT_FALSE(exists(tree.file("old.dat")));
  EXPECT_TRUE(exists(tree.file("new.dat")));
  EXPECT_EQ(passes(), 1);
  EXPECT_EQ(autodeltest::requestStatus("req-1"), "RUNNING");
  const auto messages = autodeltest::storedMessages();
  KEFResponse report(messages[0].data.c_str());
  std::string text;
  report.getStatusText(text);
  EXPECT_NE(text.find("Pass 1: scanned 2, deleted 1"), std::string::npos) << text;
  EXPECT_NE(messages[0].data.find("Deleted=\"1\""), std::string::npos);

  // The interval is ten minutes and the controller's time-out 20 s: the
  // finish still takes effect at once.
  EXPECT_LT(finishAndWait(), 2.0);
  EXPECT_EQ(state(), "DONE");
  EXPECT_EQ(autodeltest::storedStatuses().back(), "DONE");
  EXPECT_EQ(autodeltest::requestStatus("req-1"), "DONE");
  EXPECT_EQ(passes(), 1);
  EXPECT_GE(manager.notifications.load(), 2);
}

TEST_F(RunningService, PauseResumeAndSendInterruptTheWaitWithoutExtraPasses) {
  makeFile(tree.file("old.dat"), 3 * kDay);
  // A one-second time-out: the pause must outlast several empty waits.
  start(policyFor(tree.path(), "<IntervalSeconds>600</IntervalSeconds>"), "",
        coretest::kOneSecond);
  ASSERT_TRUE(eventually([&] { return passes() == 1; }));

  KEF::BaseFSMap& fsm = service->getController()->getFSM();
  ASSERT_EQ(service->pause(), 0);
  ASSERT_TRUE(eventually([&] { return fsm.isPaused(); }, 1500));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  ASSERT_TRUE(service->isControllerThreadAlive());
  ASSERT_EQ(service->resume(), 0);
  ASSERT_TRUE(eventually([&] { return !fsm.isPaused(); }, 1500));

  ASSERT_TRUE(service->send("AUTODEL_DONE", "<Data><DataRoot>Note</DataRoot><Note>hello</Note></Data>"));
  ASSERT_TRUE(eventually([&] {
    std::string note;
    return service->getJobData()->getValue("Note", note) == 1 && note == "hello";
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(service->isControllerThreadAlive());
  EXPECT_EQ(state(), "AUTODELJOB");
  EXPECT_EQ(passes(), 1);  // still waiting for the same due time

  EXPECT_LT(finishAndWait(), 2.0);
  EXPECT_EQ(state(), "DONE");
}

TEST_F(RunningService, PassesRepeatAtTheInterval) {
  start(policyFor(tree.path(), "<IntervalSeconds>0.2</IntervalSeconds>"));
  ASSERT_TRUE(eventually([&] { return passes() >= 1; }));
  makeFile(tree.file("later.dat"), 3 * kDay);
  ASSERT_TRUE(eventually([&] { return !exists(tree.file("later.dat")); }));
  ASSERT_TRUE(eventually([&] { return passes() >= 4; }));
  EXPECT_LT(finishAndWait(), 2.0);
  EXPECT_EQ(state(), "DONE");
}

TEST_F(RunningService, ARefusedPolicyIsReportedAndEndsTheRequestInError) {
  start("<Root>/</Root><MaxAgeDays>1</MaxAgeDays>");
  ASSERT_TRUE(eventually([&] { return countStatus("ERROR") == 1; }));
  const auto messages = autodeltest::storedMessages();
  KEFResponse report(messages[0].data.c_str());
  std::string text;
  report.getStatusText(text);
  EXPECT_NE(text.find("/"), std::string::npos) << text;

  EXPECT_LT(finishAndWait(), 2.0);
  EXPECT_EQ(state(), "DONE");
  EXPECT_EQ(autodeltest::requestStatus("req-1"), "ERROR");
  // The closing report repeats the error.
  KEFResponse closing(autodeltest::storedMessages().back().data.c_str());
  std::string closingText;
  closing.getStatusText(closingText);
  EXPECT_EQ(closingText, text);
}

TEST_F(RunningService, TheParentGetsTheClosingTotals) {
  makeFile(tree.file("old.dat"), 3 * kDay);
  start(policyFor(tree.path()), "<ParentID>PARENT|x|1.0</ParentID>");
  ASSERT_TRUE(eventually([&] { return passes() == 1; }));
  finishAndWait();
  bool found = false;
  for (const auto& entry : autodeltest::storedMessages()) {
    if (entry.messageType != "ClosingTotals") continue;
    found = true;
    EXPECT_EQ(entry.serviceID, "PARENT|x|1.0");
    EXPECT_NE(entry.data.find("Deleted=\"1\""), std::string::npos) << entry.data;
    EXPECT_NE(entry.data.find("<ParentID>PARENT|x|1.0</ParentID>"), std::string::npos);
  }
  EXPECT_TRUE(found);
}

}  // namespace
