#pragma once
// The closing job's data: the service data document, read through
// BaseJobData.
#include "KEF/KEFCore/BaseJobData.h"

namespace KEF {

class SendMsgJobData : public BaseJobData {
 public:
  SendMsgJobData();
  ~SendMsgJobData() override;

  // Uses `document` as BaseJobData does.
  void initialize(tvan::XmlDOM* document) override;
};

}  // namespace KEF
