#include "Host/ServiceRequest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Base/XML/XMLUtils.h"
#include "Base/XML/XmlDOM.h"
#include "Host/ExceptionText.h"
#include "KEF/KEFCore/ServiceManager.h"

namespace kefhost {

namespace {

// The whole file; false with errno set. A folder counts as unreadable
// (EISDIR) rather than as an empty file.
bool readWholeFile(const std::string& file, std::string& text) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return false;
  }
  char buffer[8192];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      errno = error;
      return false;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return true;
}

}  // namespace

ServiceRequest::ServiceRequest() = default;
ServiceRequest::~ServiceRequest() = default;
ServiceRequest::ServiceRequest(ServiceRequest&&) noexcept = default;
ServiceRequest& ServiceRequest::operator=(ServiceRequest&&) noexcept = default;

bool ServiceRequest::load(const std::string& file, int index, ServiceRequest& request,
                          std::string& error) {
  std::string text;
  if (!readWholeFile(file, text)) {
    error = "cannot read service data " + file + ": " + std::strerror(errno);
    return false;
  }
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    error = "service data " + file + " is empty";
    return false;
  }

  ServiceRequest loaded;
  try {
    loaded.document_ = std::make_unique<tvan::XmlDOM>(text.c_str(), false);
    tvan::XmlDOM& document = *loaded.document_;
    document.resetActiveToRoot();
    const std::string rootName = document.getActiveNodeName();
    std::string name;
    tvan::getValue(&document, "ServiceName", name, false, 0, true, true);
    loaded.serviceName_ = name.empty() ? rootName : name;
  } catch (...) {
    error = "service data " + file + " is not well-formed XML: " + currentExceptionText();
    return false;
  }
  loaded.file_ = file;
  loaded.index_ = index;
  request = std::move(loaded);
  return true;
}

std::string ServiceRequest::givenServiceID() const {
  std::string id;
  tvan::getValue(document_.get(), "ServiceID", id, false, 0, true, true);
  return id;
}

void ServiceRequest::bind(ServiceManager* manager, const std::string& newServiceID) {
  tvan::XmlDOM* document = document_.get();
  // Replaces any MasterMgr the file had: only this process's manager is
  // valid in this process.
  // The jobs take the address as ACE's task type: store that sub-object's.
  ACE_Task<ACE_MT_SYNCH>* task = manager;
  tvan::setClassPointer(document, "MasterMgr", "ServiceManager", task);
  serviceID_ = givenServiceID();
  if (serviceID_.empty()) {
    serviceID_ = newServiceID;
    tvan::setValue(document, "ServiceID", serviceID_.c_str(), 0, true, true);
  }
  std::string uid;
  tvan::getValue(document, "uid", uid, false, 0, true, true);
  if (uid.empty()) tvan::setValue(document, "uid", serviceID_.c_str(), 0, true, true);
}

std::string ServiceRequest::text() const {
  std::string out;
  document_->dump(out, true, false);
  return out;
}

std::string ServiceRequest::label() const {
  return serviceName_ + "[" + std::to_string(index_) + "]";
}

std::string ServiceRequest::labelWithFile() const { return label() + " (" + file_ + ")"; }

}  // namespace kefhost
