// What a job's reports make of its data, what reaches the service manager,
// and what the request database holds afterwards.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include <string>
#include <utility>
#include <vector>

#include "CoreTestUtil.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/KEFCore/KEFMessage.h"
#include "KEF/KEFCore/KEFResponse.h"
#include "KEF/KEFCore/ServiceManager.h"
#include "KEF/KEFCore/ServiceStatusResponse.h"

namespace {

using coretest::ScratchEnvironment;

::testing::Environment* const scratch =
    ::testing::AddGlobalTestEnvironment(new ScratchEnvironment);

// Records the notifications it gets.
class RecordingManager : public ServiceManager {
 public:
  int notifyRequest(int processId, int threadId) override {
    notifications.emplace_back(processId, threadId);
    return 0;
  }
  std::vector<std::pair<int, int>> notifications;
};

// A job over data that names the manager, with a request database of its own.
class JobReports : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    databasePath = ScratchEnvironment::dir() + "/requests" + std::to_string(++counter) + ".db";
    ::setenv("KEF_REQUEST_DATABASE", databasePath.c_str(), 1);
  }

  void useData(const std::string& body) {
    data.reset(new coretest::OwnDocumentData(("<Job>" + body + "</Job>").c_str()));
    data->setClassPointer("MasterMgr", "ServiceManager", static_cast<ACE_Task<ACE_MT_SYNCH>*>(&manager));
    job.reset(new KEF::BaseJob(nullptr, data.get(), nullptr));
  }

  std::vector<tvan::ServiceRequestDatabaseEntry> stored() {
    tvan::DatabaseTransaction transaction;
    tvan::ServiceRequestDatabase database(&transaction);
    std::vector<tvan::ServiceRequestDatabaseEntry> entries;
    EXPECT_TRUE(transaction.start());
    EXPECT_TRUE(database.getEntries({}, entries)) << transaction.getLastError();
    transaction.rollback();
    return entries;
  }

  // The response of the only stored message.
  std::unique_ptr<KEFResponse> onlyResponse() {
    const auto entries = stored();
    EXPECT_EQ(entries.size(), 1u);
    if (entries.empty()) return nullptr;
    EXPECT_EQ(entries[0].messageType, "Status");
    EXPECT_EQ(entries[0].clientID, "KEF");
    return std::make_unique<KEFResponse>(entries[0].data.c_str());
  }

  static std::string read(KEFResponse& response, void (KEFResponse::*getter)(std::string&)) {
    std::string value;
    (response.*getter)(value);
    return value;
  }

  std::string databasePath;
  RecordingManager manager;
  std::unique_ptr<coretest::OwnDocumentData> data;
  std::unique_ptr<KEF::BaseJob> job;
};

const char kIdentity[] = "<ServiceID>CLEAN|host|1.5</ServiceID><ServiceName>CLEAN</ServiceName>";

TEST_F(JobReports, DoneStoresOkUnlessAnErrorWasRecorded) {
  useData(kIdentity);
  EXPECT_TRUE(job->reportStatus("DONE", "<StatusText>ignored</StatusText>", nullptr, nullptr,
                                nullptr, nullptr));
  auto response = onlyResponse();
  ASSERT_NE(response, nullptr);
  EXPECT_EQ(read(*response, &KEFResponse::getStatusText), "OK");
  EXPECT_EQ(read(*response, &KEFResponse::getRespType), "CLEAN");
  EXPECT_NE(stored()[0].data.find("UnsolNotify=\"NONE\""), std::string::npos);
  std::string status, text;
  data->getStatusMsg(status, text);
  EXPECT_EQ(status + " " + text, "DONE OK");
  ASSERT_EQ(manager.notifications.size(), 1u);
  EXPECT_EQ(manager.notifications[0].first, static_cast<int>(::getpid()));
  EXPECT_NE(manager.lastMessageTime, 0);

  useData(kIdentity);
  data->setStatusMsg("ERROR", "<StatusText>disk gone</StatusText>");
  EXPECT_TRUE(job->reportStatus("DONE", nullptr, nullptr, nullptr, nullptr, nullptr));
  const auto entries = stored();
  ASSERT_EQ(entries.size(), 2u);
  KEFResponse again(entries[1].data.c_str());
  EXPECT_EQ(read(again, &KEFResponse::getStatusText), "disk gone");
  data->getStatusMsg(status, text);
  EXPECT_EQ(status, "ERROR");
}

TEST_F(JobReports, ErrorsCarryTheirDetailAndStateChangesTheirState) {
  useData(kIdentity);
  EXPECT_TRUE(job->reportError("no space", "/srv is full", "Elsewhere"));
  EXPECT_TRUE(job->reportStateChange("AUTODELJOB"));
  const auto entries = stored();
  ASSERT_EQ(entries.size(), 2u);
  KEFResponse error(entries[0].data.c_str());
  EXPECT_EQ(read(error, &KEFResponse::getStatus), "ERROR");
  EXPECT_EQ(read(error, &KEFResponse::getDetail), "/srv is full");
  EXPECT_EQ(read(error, &KEFResponse::getServer), "Elsewhere");
  EXPECT_EQ(read(error, &KEFResponse::getStatusText), "no space");

  ServiceStatusResponse change(entries[1].data.c_str());
  EXPECT_EQ(read(change, &KEFResponse::getStatus), "RUNNING");
  EXPECT_EQ(read(change, &KEFResponse::getRespType), "ServiceStatusResp");
  std::string state;
  change.getCurrentState(state);
  EXPECT_EQ(state, "AUTODELJOB");
  EXPECT_NE(entries[1].data.find("UnsolNotify=\"RegServiceStat\""), std::string::npos);
}

TEST_F(JobReports, MissingIdentityOrManagerSendsNothing) {
  useData("<ServiceID>CLEAN|host|1.5</ServiceID>");  // no ServiceName
  EXPECT_FALSE(job->reportStatus("RUNNING", nullptr, nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(job->sendParent("Hello", "<D/>"));  // no ParentID
  EXPECT_TRUE(manager.notifications.empty());
  EXPECT_TRUE(stored().empty());
}

TEST_F(JobReports, ChildMessagesOverwriteAndParentMessagesAppend) {
  useData(std::string(kIdentity) + "<ParentID>PARENT|host|1.1</ParentID>");
  EXPECT_TRUE(job->sendChild("Start", "CHILD|host|2.2",
                             "<D><ServiceID>old</ServiceID><MasterMgr Pointer=\"0x1\"/></D>"));
  EXPECT_TRUE(job->sendParent("Done", "<D><ParentID>mine</ParentID></D>"));
  const auto entries = stored();
  ASSERT_EQ(entries.size(), 2u);
  const std::string address = [this] {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", reinterpret_cast<unsigned long>(&manager));
    return std::string(text);
  }();

  EXPECT_EQ(entries[0].serviceID, "CHILD|host|2.2");
  EXPECT_EQ(entries[0].serviceName, "CHILD");
  const std::string& child = entries[0].data;
  EXPECT_EQ(testutil::countOf(child, "<ServiceID>"), 1u) << child;
  EXPECT_NE(child.find("<ServiceID>CHILD|host|2.2</ServiceID>"), std::string::npos) << child;
  EXPECT_NE(child.find("<ParentID>CLEAN|host|1.5</ParentID>"), std::string::npos) << child;
  EXPECT_NE(child.find("Pointer=\"" + address + "\""), std::string::npos) << child;
  EXPECT_EQ(testutil::countOf(child, "<MasterMgr"), 1u) << child;

  EXPECT_EQ(entries[1].serviceID, "PARENT|host|1.1");
  const std::string& parent = entries[1].data;
  EXPECT_EQ(testutil::countOf(parent, "<ParentID>"), 2u) << parent;
  EXPECT_NE(parent.find("<ClientID>KEF</ClientID>"), std::string::npos) << parent;
  EXPECT_NE(parent.find("ClassType=\"ServiceManager\""), std::string::npos) << parent;
}

TEST_F(JobReports, PersistentServicesAreMarked) {
  useData("<ServiceID>KEEPER|host|1.5</ServiceID><ServiceName>KEEPER</ServiceName>");
  EXPECT_TRUE(job->reportStatus("RUNNING", nullptr, nullptr, nullptr, nullptr, nullptr));
  useData(kIdentity);
  EXPECT_TRUE(job->reportStatus("RUNNING", nullptr, nullptr, nullptr, nullptr, nullptr));
  const auto entries = stored();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].persistent, tvan::ServiceRequestDatabaseEntry::kPersistent);
  EXPECT_EQ(entries[1].persistent, "");
}

TEST_F(JobReports, RequestStatusNeedsAUidAndAStatus) {
  useData(kIdentity);
  job->updateRequestStatus("RUNNING");
  EXPECT_NE(::access(databasePath.c_str(), F_OK), 0);  // no uid: no database touched

  useData(std::string(kIdentity) + "<uid>req-7</uid>");
  job->updateRequestStatus("");
  EXPECT_NE(::access(databasePath.c_str(), F_OK), 0);
  job->updateRequestStatus("RUNNING");
  job->updateRequestStatus("DONE");
  tvan::DatabaseTransaction transaction;
  tvan::KEFRequestDatabase requests(&transaction);
  std::vector<tvan::KEFRequestDatabase::Request> found;
  ASSERT_TRUE(transaction.start());
  ASSERT_TRUE(requests.getRequests(found));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].uid + " " + found[0].status, "req-7 DONE");
}

TEST_F(JobReports, ARefusedEntryIsLoggedAndReportedWithACode) {
  testutil::writeFile(databasePath, "not a database\n");
  const coretest::LogWindow entries;
  KEFMessage message("Status", "CLEAN|host|1.5", "KEF", "<x/>", nullptr);
  EXPECT_NE(message.send(&manager, nullptr), 0);
  EXPECT_EQ(testutil::readFile(databasePath), "not a database\n");
  EXPECT_TRUE(entries.has("Unable to add message to queue"));
  EXPECT_TRUE(manager.notifications.empty());
  EXPECT_EQ(manager.lastMessageTime, 0);
}

}  // namespace
