#include "KEF/Jobs/AutoDelJobs/AutoDelJob.h"

#include "KEF/Jobs/AutoDelJobs/AutoDelJobData.h"
#include "KEF/KEFCore/Trigger.h"

namespace KEF {

const char AutoDelJob::kDoneTrigger[] = "AUTODEL_DONE";
const char AutoDelJob::kErrorTrigger[] = "AUTODEL_ERROR";

AutoDelJob::AutoDelJob(BaseController* controller, AutoDelJobData* data, tvan::Log* log)
    : BaseJob(controller, data, log), autoDelJobData(data), nextDueMillis_(0), passes_(0) {}

AutoDelJob::~AutoDelJob() = default;

void AutoDelJob::execute() { Trigger(kDoneTrigger).send(controller); }

}  // namespace KEF
