#pragma once
// Sends the spool's writes for one server to it, oldest first, in batches:
// each batch is one server transaction (holding the writers' lock, so the
// message ids keep the order of the spool), and its rows leave the spool
// only after the server committed it. Sending a batch again is harmless: a
// message whose entry uid the server has is skipped (ON CONFLICT DO
// NOTHING) and a status older than the server's is not applied. So a
// forwarder killed at any point loses nothing and doubles nothing: the next
// one sends what is left.
//
// A write the server refuses for good (a constraint, a type) is moved
// aside in the spool with the reason and logged, so that it does not hold
// up the ones behind it.
#include <cstdint>
#include <string>

namespace tvan {
namespace dbinternal {

class PgSession;
class RequestSpool;

class SpoolForwarder {
 public:
  static constexpr int kBatch = 200;

  struct Outcome {
    int64_t forwarded = 0;
    bool drained = false;      // nothing waits for this server any more
    bool connectionLost = false;
    std::string reason;        // why forwarding stopped early
  };

  SpoolForwarder(RequestSpool& spool, PgSession& session, const std::string& target)
      : spool_(spool), session_(session), target_(target) {}

  // Forwards batches until the spool is drained, the server fails, or
  // `budgetMillis` have passed (checked between batches). Throws
  // DatabaseError when the spool cannot be read or changed.
  Outcome run(long long budgetMillis);

 private:
  // One batch; false when forwarding must stop (outcome says why). `full`:
  // the batch had kBatch rows, so more may wait.
  bool forwardBatch(Outcome& outcome, bool& full);

  RequestSpool& spool_;
  PgSession& session_;
  const std::string& target_;
};

}  // namespace dbinternal
}  // namespace tvan
