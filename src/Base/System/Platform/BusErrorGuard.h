#pragma once
// Runs code that stores into, or reads from, a shared file mapping that
// another process may truncate: an access past the file's new end raises
// SIGBUS, which would end the process. Inside a guard such a fault instead
// ends the guarded code early and the guard reports it; the caller looks at
// the file again and recovers.
//
// The SIGBUS handler is installed once, on the first guard. A fault outside
// any guard, one that is not an access past the end of a mapped object
// (BUS_ADRERR), or a SIGBUS sent by another process goes on to the handler
// that was installed before, or to the default action (the process ends as
// it would without the guard). Guards nest and are per thread.
//
// The guarded code must leave nothing behind that needs undoing when it is
// cut short: no destructors to run, no locks taken inside it, no memory
// allocated inside it; what it changed before the fault stays changed.
namespace tvan {
namespace platform {

class BusErrorGuard {
 public:
  // Runs body(context); false when a bus error cut it short.
  static bool run(void (*body)(void*), void* context);

  // run() for a callable (a lambda); it must live until run() returns.
  template <class Body>
  static bool run(Body& body) {
    return run([](void* callable) { (*static_cast<Body*>(callable))(); }, &body);
  }
};

}  // namespace platform
}  // namespace tvan
