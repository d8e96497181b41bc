#include "KEF/KEFCore/BaseJob.h"

namespace KEF {

BaseJob* Job = nullptr;

BaseJob::BaseJob(BaseController* controller, BaseJobData* data, tvan::Log* log)
    : data(data), controller(controller), log(log), userValue(0), userValue2(0) {
  Job = this;
}

BaseJob::~BaseJob() = default;

void BaseJob::execute() {}
void BaseJob::execute2() {}
void BaseJob::execute3() {}
void BaseJob::execute4() {}
void BaseJob::execute5() {}
void BaseJob::execute6() {}
void BaseJob::execute7() {}
void BaseJob::execute8() {}

}  // namespace KEF
