#include "KEF/Jobs/StandardJobs/SendMsgJobData.h"

namespace KEF {

SendMsgJobData::SendMsgJobData() = default;
SendMsgJobData::~SendMsgJobData() = default;

void SendMsgJobData::initialize(tvan::XmlDOM* document) { BaseJobData::initialize(document); }

}  // namespace KEF
