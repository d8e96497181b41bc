#pragma once
// One service's request: its service-data file, prepared for the plug-in.
//
// The data is an XML document. The service's name is the text of its
// ServiceName element, or the root element's name when there is none. The
// host completes the document before the service sees it: MasterMgr names
// the host's service manager (where the jobs send their reports); ServiceID,
// which the service's reports carry, is the host's unless the file gives
// one; and uid, the key of the request's status, is the ServiceID unless
// the file gives one.
#include <memory>
#include <string>

class ServiceManager;

namespace tvan {
class XmlDOM;
}

namespace kefhost {

class ServiceRequest {
 public:
  ServiceRequest();
  ~ServiceRequest();
  ServiceRequest(ServiceRequest&&) noexcept;
  ServiceRequest& operator=(ServiceRequest&&) noexcept;

  // Reads and parses the file; `index` numbers the service from 1. False,
  // with `error` naming the file and the reason, when the file cannot be
  // read, is empty or is not well-formed XML.
  static bool load(const std::string& file, int index, ServiceRequest& request,
                   std::string& error);

  // The file's ServiceID; empty when it has none.
  std::string givenServiceID() const;

  // Writes MasterMgr, and ServiceID and uid where the file has none, into
  // the document.
  void bind(ServiceManager* manager, const std::string& newServiceID);

  // The document as the service's initialize takes it.
  std::string text() const;

  const std::string& file() const { return file_; }
  int index() const { return index_; }
  const std::string& serviceName() const { return serviceName_; }
  const std::string& serviceID() const { return serviceID_; }
  // "AUTODELETE[2]": how progress lines and messages name the service.
  std::string label() const;
  // "AUTODELETE[2] (/etc/kef/cache.xml)": with the file, for problems.
  std::string labelWithFile() const;

 private:
  std::unique_ptr<tvan::XmlDOM> document_;
  std::string file_;
  int index_ = 0;
  std::string serviceName_;
  std::string serviceID_;
};

}  // namespace kefhost
