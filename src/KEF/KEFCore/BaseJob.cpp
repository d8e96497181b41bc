#include "KEF/KEFCore/BaseJob.h"

#include <cxxabi.h>

#include "Base/Log/Log.h"
#include "Base/XML/XMLUtils.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"
#include "KEF/KEFCore/BaseJobData.h"
#include "KEF/KEFCore/KEFMessage.h"
#include "KEF/KEFCore/KEFResponse.h"
#include "KEF/KEFCore/ServiceStatusResponse.h"
#include "KEF/KEFCore/internal/LetsCancellationThrough.h"

namespace KEF {

BaseJob* Job = nullptr;

namespace {

const char kOkText[] = "<StatusText>OK</StatusText>";

}  // namespace

BaseJob::BaseJob(BaseController* controller, BaseJobData* data, tvan::Log* log)
    : data(data), controller(controller), log(log), userValue(0), userValue2(0) {
  Job = this;
}

BaseJob::~BaseJob() = default;

void BaseJob::execute() {}
void BaseJob::execute2() {}
void BaseJob::execute3() {}
void BaseJob::execute4() {}
void BaseJob::execute5() {}
void BaseJob::execute6() {}
void BaseJob::execute7() {}
void BaseJob::execute8() {}

bool BaseJob::reportStatus(const char* status, const char* statusText, const char* respType,
                           const char* unsolNotify, const char* detail, const char* server) {
  std::string serviceID, serviceName;
  BaseJobData::MasterTask* master = nullptr;
  if (data->getServiceID(serviceID) == 0 || data->getMasterPtr(master) == 0 ||
      data->getServiceName(serviceName) == 0) {
    return false;
  }

  std::string text;
  if (std::string(status) == "DONE") {
    std::string storedStatus, storedText;
    data->getStatusMsg(storedStatus, storedText);
    if (storedStatus == "ERROR") {
      text = storedText;  // a job that failed earlier reports its error again
    } else {
      data->setStatusMsg("DONE", "OK");
      text = kOkText;
    }
  } else if (statusText == nullptr) {
    data->setStatusMsg("DONE", "OK");
    text = kOkText;
  } else {
    text = statusText;
  }

  if (detail != nullptr) {
    tvan::XmlDOM document(text.c_str(), false);
    document.resetActiveToRoot();
    document.createNode("Detail", detail, false);
    document.dump(text, true, false);
  }

  std::string response;
  KEFResponse(respType != nullptr ? respType : serviceName.c_str(), serviceID.c_str(), status,
              text.c_str(), server, unsolNotify != nullptr ? unsolNotify : "NONE")
      .createMsg(response);
  KEFMessage("Status", serviceID, "KEF", response.c_str(), nullptr).send(master, nullptr);
  return true;
}

bool BaseJob::reportError(const char* message, const char* detail, const char* server) {
  const std::string text = std::string("<StatusText>") + message + "</StatusText>";
  return reportStatus("ERROR", text.c_str(), nullptr, nullptr, detail, server);
}

bool BaseJob::reportError(const char* message, const char* detail, const std::string& server) {
  return reportError(message, detail, server.c_str());
}

bool BaseJob::reportStateChange(const char* stateName) {
  ServiceStatusResponse response;
  response.setStateName(stateName);
  std::string text;
  response.createMsg(text);
  reportStatus("RUNNING", text.c_str(), "ServiceStatusResp", "RegServiceStat", nullptr, "KEF");
  return true;
}

bool BaseJob::sendChild(const char* msgType, const char* childServiceID, const char* childData) {
  if (log != nullptr) log->log(tvan::kDebug4, "BaseJob", __LINE__, "BaseJob::sendChild()", "Starting");
  std::string serviceID;
  BaseJobData::MasterTask* master = nullptr;
  if (data->getServiceID(serviceID) == 0 || data->getMasterPtr(master) == 0) return false;

  std::string text;
  if (childData != nullptr && *childData != '\0') {
    tvan::XmlDOM document(childData, false);
    tvan::setValue(&document, "ClientID", "KEF", 0, true, true);
    tvan::setValue(&document, "ServiceID", childServiceID, 0, true, true);
    tvan::setValue(&document, "ParentID", serviceID.c_str(), 0, true, true);
    tvan::setValue(&document, "MasterMgr", "", 0, true, true);
    tvan::setClassPointerAttributes(&document, "ServiceManager", master);
    document.dump(text, true, false);
  }
  KEFMessage(msgType, childServiceID, "KEF", text.c_str(), nullptr).send(master, nullptr);
  return true;
}

bool BaseJob::sendParent(const char* msgType, const char* parentData) {
  if (log != nullptr) log->log(tvan::kDebug4, "BaseJob", __LINE__, "BaseJob::sendParent()", "Starting");
  std::string parentID;
  BaseJobData::MasterTask* master = nullptr;
  if (data->getParentID(parentID) == 0 || data->getMasterPtr(master) == 0) return false;

  std::string text;
  if (parentData != nullptr && *parentData != '\0') {
    tvan::XmlDOM document(parentData, false);
    document.resetActiveToRoot();
    document.createNode("ClientID", "KEF", false);
    document.createNode("ParentID", parentID.c_str(), false);
    document.createNode("MasterMgr", "", true);
    tvan::setClassPointerAttributes(&document, "ServiceManager", master);
    document.dump(text, true, false);
  }
  KEFMessage(msgType, parentID, "KEF", text.c_str(), nullptr).send(master, nullptr);
  return true;
}

KEF_LETS_CANCELLATION_THROUGH void BaseJob::updateRequestStatus(std::string status) {
  const std::string uid = data->getRequestUID();
  if (uid.empty() || status.empty()) return;
  tvan::DatabaseTransaction transaction;
  try {
    tvan::KEFRequestDatabase database(&transaction);
    transaction.start();
    database.updateStatus(uid, status);
    transaction.commit();
  } catch (abi::__forced_unwind&) {
    throw;
  } catch (...) {
    transaction.rollback();
  }
}

void BaseJob::statusCallback(const std::string& status, const std::string& statusText,
                             const std::string& respType, const std::string& unsolNotify) {
  if (Job == nullptr) return;
  Job->reportStatus(status.c_str(), statusText.c_str(), respType.c_str(), unsolNotify.c_str(),
                    nullptr, nullptr);
}

}  // namespace KEF
