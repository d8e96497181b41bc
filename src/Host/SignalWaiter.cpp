#include "Host/SignalWaiter.h"

#include <pthread.h>

namespace kefhost {

SignalWaiter::SignalWaiter() {
  sigemptyset(&signals_);
  sigaddset(&signals_, SIGINT);
  sigaddset(&signals_, SIGTERM);
  sigaddset(&signals_, SIGUSR1);
  sigaddset(&signals_, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

int SignalWaiter::wait(long millis) {
  timespec timeout;
  timeout.tv_sec = millis / 1000;
  timeout.tv_nsec = (millis % 1000) * 1000000L;
  const int signal = sigtimedwait(&signals_, nullptr, &timeout);
  // A time-out (EAGAIN) and an interruption by a signal the host does not
  // take (EINTR) both mean nothing for the host; its loop comes back soon.
  return signal > 0 ? signal : 0;
}

}  // namespace kefhost
