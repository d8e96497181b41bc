#pragma once
// The HELLO service's job data. The framework keeps a service's data in one
// XML document, the service data the host handed over (with the MasterMgr,
// ServiceID and uid the host adds); BaseJobData reads the framework's
// elements of it, this class owns the document and reads the service's own.
#include <Base/XML/XmlDOM.h>
#include <KEF/KEFCore/BaseJobData.h>

#include <string>

namespace hello {

class HelloData : public KEF::BaseJobData {
 public:
  // Parses the service data; text that is not well-formed XML throws the XML
  // reader's error (the host then reports that initialize failed).
  explicit HelloData(const char* serviceData);

  // Whom to greet: the text of Name under the root, "World" without one.
  std::string name();

 private:
  // Declared after the base, destroyed before it: BaseJobData never touches
  // the document in its destructor.
  tvan::XmlDOM document_;
};

}  // namespace hello
