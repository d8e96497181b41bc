#include "KEF/Jobs/AutoDelJobs/DeletionTotals.h"
namespace KEF {
void DeletionTotals::add(const DeletionTotals&) {}
void DeletionTotals::addError(const std::string&, const std::string&) {}
}  // namespace KEF
