#pragma once
// The deletion job's data: the service data document, read through
// BaseJobData. The job reads its Policy element from it and keeps the
// running totals of its passes in a Totals element under the root,
// where the closing job finds them.
#include "KEF/KEFCore/BaseJobData.h"

namespace KEF {

class AutoDelJobData : public BaseJobData {
 public:
  AutoDelJobData();
  ~AutoDelJobData() override;

  // Uses `document` as BaseJobData does.
  void initialize(tvan::XmlDOM* document) override;
};

}  // namespace KEF
