#pragma once
// The AUTODELETE service: keeps folders clean by the policy in its service
// data. BaseService supplies the lifecycle (run, pause, resume, finish, send
// and the shutdown in the destructor); this class prepares the job data and
// the controller from the request's service data.
#include "KEF/KEFCore/BaseService.h"

namespace KEF {

class AutoDelData;

class AutoDelService : public BaseService {
 public:
  AutoDelService();
  // BaseService's destructor does the shutdown.
  ~AutoDelService() override;

  // Names the log's component "AUTODELETE", parses the service data into an
  // AutoDelData (which becomes the service's job data) and creates and
  // defines the AutoDelController. Malformed service data throws the XML
  // reader's error and leaves the service without job data and controller
  // (run then returns -1).
  void initialize(char* serviceData) override;

  AutoDelData* getAutoDelData() const { return autoDelData; }

 private:
  AutoDelData* autoDelData;  // the same object as the job data; owned through BaseService
};

}  // namespace KEF
