#include "KEF/Jobs/AutoDelJobs/DeletionPass.h"
namespace KEF {
DeletionPass::DeletionPass(const DeletionPolicy& policy) : policy_(policy) {}
bool DeletionPass::run(DeletionTotals&, std::string& error) { error = "not yet"; return false; }
}  // namespace KEF
