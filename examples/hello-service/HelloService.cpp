#include "HelloService.h"

#include <Base/Log/Log.h>

#include <memory>

#include "HelloController.h"
#include "HelloData.h"

namespace hello {

void HelloService::initialize(char* serviceData) {
  // Log entries of this service are then found by `tvan_logread -c HELLO`.
  if (log != nullptr) log->setComponentName("HELLO");
  // The data is handed to BaseService only once the controller exists, so
  // that a failure leaves nothing half-made behind for the destructor.
  auto data = std::make_unique<HelloData>(serviceData);
  controller = new HelloController(threadManager, log, data.get());
  jobData = data.release();
}

}  // namespace hello
