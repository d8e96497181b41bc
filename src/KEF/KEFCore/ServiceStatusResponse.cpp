#include "KEF/KEFCore/ServiceStatusResponse.h"

#include "Base/XML/XmlDOM.h"

ServiceStatusResponse::ServiceStatusResponse() : KEFResponse(nullptr) {
  document->createNewXml("ServiceStatusResp");
}

ServiceStatusResponse::ServiceStatusResponse(const char* xml) : KEFResponse(xml) {}

ServiceStatusResponse::~ServiceStatusResponse() = default;

void ServiceStatusResponse::setStateName(const char* name) {
  setValue("StateName", name, 0, true, true);
}

void ServiceStatusResponse::getCurrentState(std::string& out) {
  // A received response holds the state-change document inside its
  // ServiceStatus; one built here is that document. Missing steps leave the
  // active node where it is.
  goToNode("ServiceStatus", 0, true, true);
  goToNode("ServiceStatusResp", 0, false, true);
  getValue("StateName", out, false, 0, false, false);
}
