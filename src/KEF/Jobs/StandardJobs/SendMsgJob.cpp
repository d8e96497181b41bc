#include "KEF/Jobs/StandardJobs/SendMsgJob.h"

#include <cxxabi.h>

#include <map>
#include <string>

#include "Base/Log/Log.h"
#include "Base/System/FunctionMutex.h"
#include "Base/XML/XmlDOM.h"
#include "KEF/Jobs/StandardJobs/SendMsgJobData.h"
#include "KEF/KEFCore/Trigger.h"

namespace KEF {

const char SendMsgJob::kDoneTrigger[] = "SENDMSG_DONE";

namespace {

const char kFile[] = "SendMsgJob.cpp";

// The attributes of the Totals element directly under the root; empty when
// the data has none.
std::map<std::string, std::string> readTotals(tvan::XmlDOM* document) {
  std::map<std::string, std::string> totals;
  if (document == nullptr) return totals;
  tvan::FunctionMutex guard(document->mutex);
  document->resetActiveToRoot();
  int count = 0;
  document->findNodes("Totals", count, true);
  if (count > 0) document->getAttribute(totals, 0);
  document->resetActiveToRoot();
  return totals;
}

// An attribute value as XML text; control characters become '?'.
std::string escapeAttribute(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  tvan::XmlDOM::encode(out);
  return out;
}

}  // namespace

SendMsgJob::SendMsgJob(BaseController* controller, SendMsgJobData* data, tvan::Log* log)
    : BaseJob(controller, data, log), sendMsgJobData(data) {}

SendMsgJob::~SendMsgJob() = default;

void SendMsgJob::execute2() {
  try {
    const std::map<std::string, std::string> totals = readTotals(data->getDocument());
    const auto summary = totals.find("Summary");
    const auto failed = totals.find("Failed");
    const bool lastPassFailed = failed != totals.end() && failed->second == "yes";

    reportStatus("DONE", nullptr, nullptr, nullptr,
                 summary != totals.end() ? summary->second.c_str() : nullptr, nullptr);

    std::string parentID;
    if (data->getParentID(parentID) > 0) {
      std::string message = "<ClosingTotals Status=\"";
      message += lastPassFailed ? "ERROR" : "DONE";
      message += "\"><Totals";
      for (const auto& figure : totals) {
        message += " " + figure.first + "=\"" + escapeAttribute(figure.second) + "\"";
      }
      message += "/></ClosingTotals>";
      sendParent("ClosingTotals", message.c_str());
    }
    updateRequestStatus(lastPassFailed ? "ERROR" : "DONE");
  } catch (abi::__forced_unwind&) {
    throw;  // a cancelled thread must unwind
  } catch (...) {
    // Whatever the report met, the workflow must still reach its end.
    if (log != nullptr) {
      log->log(tvan::kError, kFile, __LINE__, "SendMsgJob::execute2()",
               "Unable to send the closing report");
    }
  }
  if (controller != nullptr) Trigger(kDoneTrigger).send(controller);
}

}  // namespace KEF
