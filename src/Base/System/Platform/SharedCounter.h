#pragma once
// A 64-bit counter shared by every process of the machine that opens the same
// name, kept in a small POSIX shared-memory object. The log writer uses one
// per log mutex name as a rollover generation: a writer that moves a log file
// to its backup bumps it, and every other writer notices with one memory read
// that its open file may be stale.
//
// The object is created and joined under the rules of SharedObjectAccess.h
// (the user and the shared group share it), is never removed (it holds no
// lock and a stale value only causes one extra check), and is mapped once per
// process and name. An empty name, a machine where the object cannot be
// created, or an object that is refused (said once on standard error) gives
// a counter private to the process; callers that must see other processes'
// changes test isShared().
#include <cstdint>
#include <string>

namespace tvan {
namespace platform {

class SharedCounter {
 public:
  // The counter of `name`; the same object for every call with one name.
  static SharedCounter& forName(const std::string& name);

  // Removes the machine-wide object of `name` (processes that have it mapped
  // keep their mapping); for programs that use throw-away names.
  static void removeName(const std::string& name);

  uint64_t load() const;
  void increment();
  bool isShared() const { return shared_; }

  SharedCounter(const SharedCounter&) = delete;
  SharedCounter& operator=(const SharedCounter&) = delete;

 private:
  SharedCounter(uint64_t* value, bool shared) : value_(value), shared_(shared) {}
  uint64_t* value_;  // in the shared mapping or in this object's own storage
  uint64_t local_ = 0;
  bool shared_;
};

}  // namespace platform
}  // namespace tvan
