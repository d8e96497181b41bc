#include "KEF/KEFCore/KEFResponse.h"

#include <gtest/gtest.h>

#include <string>

#include "KEF/KEFCore/ServiceStatusResponse.h"

namespace {

std::string written(KEFResponse& response) {
  std::string text;
  response.createMsg(text);
  return text;
}

TEST(KEFResponse, BuiltResponseReadsBackAfterARoundTrip) {
  KEFResponse built("ServiceStatusResp", "svc|host|1.2", "RUNNING",
                    "<StatusText>copying<Detail>disk 2</Detail></StatusText>", nullptr,
                    "RegServiceStat");
  KEFResponse received(written(built).c_str());
  std::string serviceID, status, type, server, text, detail;
  received.getServiceID(serviceID);
  received.getStatus(status);
  received.getRespType(type);
  received.getServer(server);
  received.getStatusText(text);
  received.getDetail(detail);
  EXPECT_EQ(serviceID, "svc|host|1.2");
  EXPECT_EQ(status, "RUNNING");
  EXPECT_EQ(type, "ServiceStatusResp");
  EXPECT_EQ(server, "KEF");
  EXPECT_EQ(detail, "disk 2");
  EXPECT_NE(written(received).find("UnsolNotify=\"RegServiceStat\""), std::string::npos);

  KEFResponse defaults("T", "S", "DONE", "<StatusText>OK</StatusText>", "Other", nullptr);
  EXPECT_NE(written(defaults).find("UnsolNotify=\"None\""), std::string::npos);
  EXPECT_NE(written(defaults).find("Server=\"Other\""), std::string::npos);
}

TEST(KEFResponse, MissingPartsLeaveTheOutParameter) {
  KEFResponse response("T", "S", "DONE", "<StatusText>OK</StatusText>", nullptr, nullptr);
  std::string detail = "unchanged";
  response.getDetail(detail);
  EXPECT_EQ(detail, "unchanged");

  KEFResponse empty("<Other/>");
  std::string status = "unchanged";
  empty.getStatus(status);
  EXPECT_EQ(status, "unchanged");
  EXPECT_ANY_THROW(KEFResponse("T", "S", "DONE", "<StatusText>a < b</StatusText>", 0, 0));
}

TEST(KEFResponse, OnlyALowerCaseYMakesAResponseGlobal) {
  const std::string header =
      "<GlobalMsgHeader><MessageClient>C</MessageClient><MessageSource>S</MessageSource>"
      "<MessageType>T</MessageType></GlobalMsgHeader>";
  for (const char* mark : {"y", "Y", "yes"}) {
    KEFResponse response(("<KEFResponse><ServiceStatus Global=\"" + std::string(mark) + "\">" +
                          header + "</ServiceStatus></KEFResponse>")
                             .c_str());
    std::string client = "none", source = "none", type = "none";
    response.getGlobalMsgClient(client);
    response.getGlobalMsgSource(source);
    response.getGlobalMsgType(type);
    const bool global = std::string(mark) == "y";
    EXPECT_EQ(response.isGlobal(), global) << mark;
    EXPECT_EQ(client + source + type, global ? "CST" : "nonenonenone") << mark;
  }
}

TEST(ServiceStatusResponse, StateNameIsWrittenOnceAndReadFromEitherForm) {
  ServiceStatusResponse change;
  change.setStateName("INITIAL");
  change.setStateName("AUTODELJOB");
  const std::string text = written(change);
  EXPECT_EQ(text, "<ServiceStatusResp><StateName>AUTODELJOB</StateName></ServiceStatusResp>");
  std::string state;
  change.getCurrentState(state);
  EXPECT_EQ(state, "AUTODELJOB");

  // As a job sends it: inside a response's ServiceStatus.
  KEFResponse sent("ServiceStatusResp", "S", "RUNNING", text.c_str(), "KEF", "RegServiceStat");
  ServiceStatusResponse received(written(sent).c_str());
  state.clear();
  received.getCurrentState(state);
  EXPECT_EQ(state, "AUTODELJOB");

  ServiceStatusResponse other("<KEFResponse><ServiceStatus/></KEFResponse>");
  state = "stale";
  other.getCurrentState(state);
  EXPECT_EQ(state, "");
}

}  // namespace
