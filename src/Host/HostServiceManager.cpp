#include "Host/HostServiceManager.h"

#include "Host/StatusFeed.h"

namespace kefhost {

int HostServiceManager::notifyRequest(int, int) {
  // Which service sent the report does not matter: the feed reads every
  // service's new reports, in the order they were stored.
  feed_.poll();
  return 0;
}

}  // namespace kefhost
