#include "KEF/KEFCore/KEFResponse.h"

#include <cstdlib>
#include <initializer_list>

#include "Base/System/FunctionMutex.h"
#include "Base/XML/XMLUtils.h"
#include "Base/XML/XmlDOM.h"

KEFResponse::KEFResponse(const char* xml)
    : document(xml != nullptr ? new tvan::XmlDOM(xml, false) : new tvan::XmlDOM()), reserved(0) {}

KEFResponse::KEFResponse(const char* respType, const char* serviceID, const char* status,
                         const char* statusText, const char* server, const char* unsolNotify)
    : document(nullptr), reserved(0) {
  std::string text = "<KEFResponse><ServiceStatus ServiceID=\"";
  text += serviceID;
  text += "\" Status=\"";
  text += status;
  text += "\" ResponseType=\"";
  text += respType;
  text += "\" Server=\"";
  text += server != nullptr ? server : "KEF";
  text += "\" UnsolNotify=\"";
  text += unsolNotify != nullptr ? unsolNotify : "None";
  text += "\">";
  text += statusText;
  text += "</ServiceStatus></KEFResponse>";
  document = new tvan::XmlDOM(text.c_str(), false);
}

KEFResponse::~KEFResponse() { delete document; }

void KEFResponse::createMsg(std::string& out) { document->dump(out, true, false); }

bool KEFResponse::select(std::initializer_list<const char*> steps) {
  document->resetActiveToRoot();
  int count = 0;
  document->findNodes("ServiceStatus", count, true);
  for (const char* step : steps) {
    if (count == 0) return false;
    document->findNodes(step, count, true);
  }
  return count > 0;
}

void KEFResponse::readAttribute(const char* name, std::string& out) {
  tvan::FunctionMutex guard(document->mutex);
  if (select({})) document->getAttribute(name, out, 0);
}

void KEFResponse::readText(std::initializer_list<const char*> steps, std::string& out) {
  tvan::FunctionMutex guard(document->mutex);
  if (select(steps)) document->getNodeValue(out, -1);
}

void KEFResponse::getServiceID(std::string& out) { readAttribute("ServiceID", out); }
void KEFResponse::getStatus(std::string& out) { readAttribute("Status", out); }
void KEFResponse::getRespType(std::string& out) { readAttribute("ResponseType", out); }
void KEFResponse::getServer(std::string& out) { readAttribute("Server", out); }
void KEFResponse::getStatusValue(std::string& out) { readText({}, out); }
void KEFResponse::getStatusText(std::string& out) { readText({"StatusText"}, out); }
void KEFResponse::getDetail(std::string& out) { readText({"StatusText", "Detail"}, out); }

bool KEFResponse::isGlobal() {
  std::string global;
  readAttribute("Global", global);
  return global == "y";
}

void KEFResponse::getGlobalMsgClient(std::string& out) {
  if (isGlobal()) readText({"GlobalMsgHeader", "MessageClient"}, out);
}
void KEFResponse::getGlobalMsgSource(std::string& out) {
  if (isGlobal()) readText({"GlobalMsgHeader", "MessageSource"}, out);
}
void KEFResponse::getGlobalMsgType(std::string& out) {
  if (isGlobal()) readText({"GlobalMsgHeader", "MessageType"}, out);
}

int KEFResponse::goToNode(const char* path, int index, bool fromRoot, bool makeFirstActive) {
  return tvan::goToNode(document, path, index, fromRoot, makeFirstActive);
}

namespace {

// Selects `path` (from the root element with fromRoot) with the first match
// active; the number of matches.
int selectForRead(tvan::XmlDOM* document, const char* path, bool fromRoot) {
  int count = 0;
  if (fromRoot) {
    document->resetActiveToRoot();
    document->findNodes((std::string("//") + path).c_str(), count, true);
  } else {
    document->findNodes(path, count, true);
  }
  return count;
}

[[noreturn]] void throwMissing(const char* path) {
  // The text must outlive the throw: one per thread, replaced by the next.
  thread_local std::string text;
  text = std::string("Exception! Required job data unfound ") + path;
  throw static_cast<const char*>(text.c_str());
}

}  // namespace

int KEFResponse::getValue(const char* path, std::string& value, bool required, int index,
                          bool fromRoot, bool /*unused*/) {
  const int count = selectForRead(document, path, fromRoot);
  if (count > index) {
    document->getNodeValue(value, index);
  } else if (required) {
    throwMissing(path);
  } else {
    value.clear();
  }
  return count;
}

int KEFResponse::getValue(const char* path, int& value, bool required, int index, bool fromRoot,
                          bool unused) {
  std::string text;
  const int count = getValue(path, text, required, index, fromRoot, unused);
  value = count > index ? std::atoi(text.c_str()) : 0;
  return count;
}

void KEFResponse::setValue(const char* path, const char* value, int index, bool fromRoot,
                           bool makeActive) {
  if (fromRoot) document->resetActiveToRoot();
  int count = 0;
  document->findNodes(path, count, false);
  if (count > index) {
    document->setNodeValue(value, index);
  } else {
    document->createNode(path, value, makeActive);
  }
}

void KEFResponse::setValue(const char* path, int value, int index, bool fromRoot,
                           bool makeActive) {
  setValue(path, std::to_string(value).c_str(), index, fromRoot, makeActive);
}
