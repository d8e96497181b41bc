#include "KEF/Database/internal/SpoolForwarder.h"

#include <time.h>

#include <vector>

#include "KEF/Database/internal/Clock.h"
#include "KEF/Database/internal/EngineLog.h"
#include "KEF/Database/internal/PgSchema.h"
#include "KEF/Database/internal/PgSession.h"
#include "KEF/Database/internal/RequestSpool.h"

namespace tvan {
namespace dbinternal {

SpoolForwarder::Outcome SpoolForwarder::run(long long budgetMillis) {
  Outcome outcome;
  const long long deadline = monotonicMillis() + budgetMillis;
  bool full = false;
  // After a short batch one more look tells whether the spool is drained,
  // whatever the budget: the drained spool is logged.
  while (forwardBatch(outcome, full)) {
    if (full && monotonicMillis() >= deadline) break;
  }
  return outcome;
}

bool SpoolForwarder::forwardBatch(Outcome& outcome, bool& full) {
  full = false;
  if (!spool_.beginForwarding()) {
    outcome.drained = true;  // no spool file
    return false;
  }
  bool serverOpen = false;
  // Ends the failed batch on both sides and records why; false.
  auto stop = [&](const PgResult& result, const char* doing) {
    outcome.reason = session_.describe(result, doing);
    outcome.connectionLost = session_.classify(result) == PgSession::kConnectionLost;
    if (serverOpen && !outcome.connectionLost) session_.execute("ROLLBACK");
    spool_.endForwarding(false);
    return false;
  };
  try {
    const std::vector<RequestSpool::Row> rows = spool_.oldest(target_, kBatch);
    if (rows.empty()) {
      spool_.endForwarding(true);  // keeps rows moved aside as damaged
      outcome.drained = true;
      return false;
    }
    PgResult begun = session_.execute(PgSchema::beginWriting().c_str());
    if (!begun.ok()) return stop(begun, "beginning to forward the spool");
    serverOpen = true;
    for (const RequestSpool::Row& row : rows) {
      PgResult result = session_.executePrepared(row.write.sql, row.write.parameters);
      if (result.ok()) continue;
      if (session_.classify(result) != PgSession::kRefused) {
        return stop(result, "forwarding the spool");
      }
      // Refused for good: set aside, and the batch sent again without it.
      const std::string reason = session_.describe(result, "forwarding the spool");
      session_.execute("ROLLBACK");
      spool_.refuse(row.seq, reason);
      spool_.endForwarding(true);
      full = true;  // within the budget, like a batch
      logEngineEvent(kError, "SpoolForwarder::forwardBatch",
                     "The request database server " + target_ + " refused a write kept in the " +
                         "spool " + spool_.path() + " (" + reason +
                         "); it stays there, set aside, and the writes behind it go on.");
      return true;
    }
    PgResult committed = session_.execute("COMMIT");
    if (!committed.ok()) return stop(committed, "committing what was forwarded");
    serverOpen = false;
    if (std::string(PQcmdStatus(committed.get())) != "COMMIT") {
      outcome.reason = "the server rolled the forwarded batch back";
      spool_.endForwarding(false);
      return false;
    }
    spool_.remove(target_, rows.back().seq);
    spool_.endForwarding(true);
    outcome.forwarded += static_cast<int64_t>(rows.size());
    full = rows.size() == static_cast<size_t>(kBatch);
    return true;
  } catch (...) {
    if (serverOpen) session_.execute("ROLLBACK");
    spool_.endForwarding(false);
    throw;
  }
}

}  // namespace dbinternal
}  // namespace tvan
