#pragma once
// The response of a state change: its status text is a small document,
// <ServiceStatusResp><StateName>name</StateName></ServiceStatusResp>.
#include <string>

#include "KEF/KEFCore/KEFResponse.h"

class ServiceStatusResponse : public KEFResponse {
 public:
  // A new document whose root is ServiceStatusResp.
  ServiceStatusResponse();
  // A received response, as KEFResponse(xml).
  explicit ServiceStatusResponse(const char* xml);
  ~ServiceStatusResponse() override;

  // Writes StateName under the root (one element, overwritten).
  void setStateName(const char* name);
  // The state name of a received state-change response, or of one built
  // here; empty when there is none.
  void getCurrentState(std::string& out);

 private:
  std::string reserved;  // kept for derived responses
};
