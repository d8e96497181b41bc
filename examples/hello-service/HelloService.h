#pragma once
// The HELLO service: greets the Name of its service data and ends.
// BaseService supplies the lifecycle the host drives (run, pause, resume,
// finish, send, and the shutdown in its destructor); a service only prepares
// its job data and its controller from the service data.
#include <KEF/KEFCore/BaseService.h>

namespace hello {

class HelloService : public KEF::BaseService {
 public:
  // Names the log's component "HELLO" and makes the job data and the
  // controller, which BaseService then owns. Service data that is not
  // well-formed throws and leaves the service without either.
  void initialize(char* serviceData) override;
};

}  // namespace hello
