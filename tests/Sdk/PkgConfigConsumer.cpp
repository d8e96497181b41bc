// A program of the three libraries that kef.pc names, built by
// pkgconfig-test.sh from the installed headers and kef.pc alone. It prints
// the service name its job data reads, a trigger's name and the request
// database's location: "<ServiceName> <trigger> <database>".
#include <Base/BaseTypes/AutoLibInitialize.h>
#include <Base/XML/XmlDOM.h>
#include <KEF/Database/RequestDatabaseLocation.h>
#include <KEF/KEFCore/BaseController.h>  // ACE's headers through kef.pc's Requires
#include <KEF/KEFCore/BaseJobData.h>
#include <KEF/KEFCore/Trigger.h>

#include <iostream>
#include <string>

int main() {
  tvan::AutoLibInitialize library(tvan::VString("PkgConfigConsumer"));
  tvan::XmlDOM document("<Hello><ServiceName>HELLO</ServiceName></Hello>", false);
  KEF::BaseJobData data;
  data.initialize(&document);
  std::string name;
  data.getServiceName(name);
  std::cout << name << ' ' << KEF::Trigger("START_TRIGGER").getName() << ' '
            << tvan::requestDatabasePath() << '\n';
  return 0;
}
