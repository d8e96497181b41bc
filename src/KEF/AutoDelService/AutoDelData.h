#pragma once
// The AUTODELETE service's job data: the data of both its jobs over one
// service-data document. The deletion job's data part comes first, so a
// pointer to the whole is also a pointer to that part (and to its
// BaseJobData); the closing job's part is a second BaseJobData over the
// same document.
//
// Ownership: owns the document; the service (through BaseService) owns this
// object.
#include "KEF/Jobs/AutoDelJobs/AutoDelJobData.h"
#include "KEF/Jobs/StandardJobs/SendMsgJobData.h"

namespace tvan {
class XmlDOM;
}

namespace KEF {

class AutoDelData : public AutoDelJobData, public SendMsgJobData {
 public:
  AutoDelData();
  // Deletes the document, then the two parts go.
  ~AutoDelData() override;

  AutoDelData(const AutoDelData&) = delete;
  AutoDelData& operator=(const AutoDelData&) = delete;

  // Parses `serviceData` (XML text) into the document both parts use.
  // Malformed text throws the XML reader's error and leaves no document.
  void initializeServiceData(char* serviceData);

  tvan::XmlDOM* getServiceDataDom() const { return serviceDataDom; }

 private:
  tvan::XmlDOM* serviceDataDom;  // owned; null until initializeServiceData
};

}  // namespace KEF
