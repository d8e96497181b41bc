#include "KEF/Database/ServiceRequestDatabaseEntry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "DatabaseTestUtil.h"

using tvan::ServiceRequestDatabaseEntry;

TEST(ServiceRequestDatabaseEntry, DerivesEveryTextFromTheRecord) {
  const std::string id = "AUTODELETE|job|1733480400.123";
  const std::string bytes = dbtest::makeRecord("Status", id, "KEF", dbtest::response(id, "DONE"));
  const ServiceRequestDatabaseEntry entry(dbtest::asRecord(bytes), bytes.size(), nullptr);

  EXPECT_EQ(entry.kind, ServiceRequestDatabaseEntry::kKind);
  EXPECT_EQ(entry.key, "");
  EXPECT_EQ(entry.note, "");
  EXPECT_EQ(entry.serviceName, "AUTODELETE");
  EXPECT_EQ(entry.messageType, "Status");
  EXPECT_EQ(entry.serviceID, id);
  EXPECT_EQ(entry.persistent, "");
  EXPECT_EQ(entry.clientID, "KEF");
  EXPECT_EQ(entry.data, dbtest::response(id, "DONE"));
  EXPECT_EQ(entry.responseStatus, "DONE");
  EXPECT_EQ(entry.record, bytes);  // padding bytes included
  EXPECT_EQ(entry.storedAt, "");
  EXPECT_EQ(entry.origin.substr(entry.origin.rfind('/')), "/" + std::to_string(::getpid()));

  const ServiceRequestDatabaseEntry noted(dbtest::asRecord(bytes), bytes.size(), "retry 2");
  EXPECT_EQ(noted.note, "retry 2");
}

TEST(ServiceRequestDatabaseEntry, HeaderTextsOfFullLengthAndEmptyData) {
  const std::string longest(149, 'x');
  const std::string bytes = dbtest::makeRecord(longest, longest, longest, "");
  const ServiceRequestDatabaseEntry entry(dbtest::asRecord(bytes), bytes.size(), nullptr);
  EXPECT_EQ(entry.messageType, longest);
  EXPECT_EQ(entry.serviceID, longest);
  EXPECT_EQ(entry.clientID, longest);
  EXPECT_EQ(entry.serviceName, "");
  EXPECT_EQ(entry.data, "");
  EXPECT_EQ(entry.record.size(), 461u);
}

TEST(ServiceRequestDatabaseEntry, DataLengthIsNeverReadBeyondTheRecord) {
  std::string bytes = dbtest::makeRecord("T", "S|x", "C", "abcd");
  for (const int32_t length : {1000, -5}) {
    std::memcpy(&bytes[offsetof(KEF_MESSAGE, dataLength)], &length, sizeof length);
    const ServiceRequestDatabaseEntry entry(dbtest::asRecord(bytes), bytes.size(), nullptr);
    EXPECT_LE(entry.data.size(), bytes.size() - offsetof(KEF_MESSAGE, data)) << length;
    EXPECT_EQ(entry.record, bytes) << length;
  }
  const ServiceRequestDatabaseEntry none(nullptr, 0, "n");
  EXPECT_EQ(none.note, "n");
  EXPECT_EQ(none.record, "");
}

TEST(ServiceRequestDatabaseEntry, ServiceNameIsTheTextBeforeTheFirstBar) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"AUTODELETE|job|1733480400.5", "AUTODELETE"},
      {"A|b|c|d", "A"},
      {"A|", "A"},
      {"|second|1.2", ""},
      {"no bar at all", ""},
      {"", ""},
  };
  for (const auto& [id, name] : cases) {
    EXPECT_EQ(ServiceRequestDatabaseEntry::serviceNameOf(id), name) << id;
  }
}

TEST(ServiceRequestDatabaseEntry, ResponseStatusOnlyFromAResponseDocument) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dbtest::response("S|1", "RUNNING"), "RUNNING"},
      {"<?xml version=\"1.0\"?>\n <KEFResponse><ServiceStatus Status='ERROR'/></KEFResponse>",
       "ERROR"},
      {"<KEFResponse>\n<ServiceStatus\n ServiceID = \"a>b\" StatusText=\"no\"  Status = \"DONE\">"
       "</ServiceStatus></KEFResponse>",
       "DONE"},
      // The first real ServiceStatus element counts, not a longer name.
      {"<KEFResponse><ServiceStatusResp Status=\"X\"/><ServiceStatus Status=\"Y\"/></KEFResponse>",
       "Y"},
      {"<KEFResponse><ServiceStatus ServiceID=\"S\">text</ServiceStatus></KEFResponse>", ""},
      {"<Other><ServiceStatus Status=\"RUNNING\"/></Other>", ""},
      {"<KEFResponses><ServiceStatus Status=\"RUNNING\"/></KEFResponses>", ""},
      {"<KEFResponse><ServiceStatus Status=\"RUNN", ""},
      {"<KEFResponse><ServiceStatus Status=RUNNING>", ""},
      {"plain text", ""},
      {"", ""},
  };
  for (const auto& [data, status] : cases) {
    EXPECT_EQ(ServiceRequestDatabaseEntry::responseStatusOf(data), status) << data;
  }
}

TEST(ServiceRequestDatabaseEntry, FromAFrameworkMessage) {
  const KEFMessage message("Status", "AUTODELETE|job|1.2", "KEF", "<KEFResponse/>", nullptr);
  const ServiceRequestDatabaseEntry entry(message, nullptr);
  EXPECT_EQ(entry.serviceName, "AUTODELETE");
  EXPECT_EQ(entry.data, "<KEFResponse/>");
  EXPECT_EQ(entry.record, std::string(reinterpret_cast<const char*>(message.getMessagePtr()),
                                      message.getMessageSize()));
}
