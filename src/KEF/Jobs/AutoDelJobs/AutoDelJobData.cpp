#include "KEF/Jobs/AutoDelJobs/AutoDelJobData.h"

namespace KEF {

AutoDelJobData::AutoDelJobData() = default;
AutoDelJobData::~AutoDelJobData() = default;

void AutoDelJobData::initialize(tvan::XmlDOM* document) { BaseJobData::initialize(document); }

}  // namespace KEF
