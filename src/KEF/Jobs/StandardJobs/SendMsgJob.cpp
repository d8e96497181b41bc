#include "KEF/Jobs/StandardJobs/SendMsgJob.h"

#include "KEF/Jobs/StandardJobs/SendMsgJobData.h"
#include "KEF/KEFCore/Trigger.h"

namespace KEF {

const char SendMsgJob::kDoneTrigger[] = "SENDMSG_DONE";

SendMsgJob::SendMsgJob(BaseController* controller, SendMsgJobData* data, tvan::Log* log)
    : BaseJob(controller, data, log), sendMsgJobData(data) {}

SendMsgJob::~SendMsgJob() = default;

void SendMsgJob::execute2() { Trigger(kDoneTrigger).send(controller); }

}  // namespace KEF
