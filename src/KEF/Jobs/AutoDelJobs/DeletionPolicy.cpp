#include "KEF/Jobs/AutoDelJobs/DeletionPolicy.h"
namespace KEF {
bool DeletionPolicy::read(BaseJobData&, DeletionPolicy&, std::string& error) { error = "not yet"; return false; }
std::string DeletionPolicy::refuseRoot(const std::string&) { return "not yet"; }
}  // namespace KEF
