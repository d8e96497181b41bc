#include "KEF/KEFCore/KEFMessage.h"

#include <boost/format.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Base/Log/Log.h"
#include "Base/System/ConfigurationLocations.h"
#include "KEF/Database/ServiceRequestDatabaseEntry.h"
#include "KEF/KEFCore/ServiceManager.h"
#include "KEF/KEFCore/TQSafetyCheck.h"

KEFMessage::KEFMessage(std::string msgType, std::string serviceID, std::string clientID,
                       const char* data, const char* /*reserved*/)
    : message(nullptr), reserved(0) {
  const size_t dataLength = data != nullptr ? std::strlen(data) : 0;
  // The fixed part, the data and its NUL; zeroed, so that the unused bytes
  // of a stored record are always the same.
  message = static_cast<KEF_MESSAGE*>(std::calloc(1, KEF_MESSAGE::kFixedSize + dataLength + 1));
  if (message == nullptr) throw "Unable to allocate buffer";
  // Over-long header texts are cut at 149 characters.
  (void)vc8::strcpy_s(message->msgType, msgType.c_str());
  (void)vc8::strcpy_s(message->serviceID, serviceID.c_str());
  (void)vc8::strcpy_s(message->clientID, clientID.c_str());
  if (data != nullptr) std::memcpy(message->data, data, dataLength);
  message->data[dataLength] = '\0';
  message->dataLength = static_cast<int32_t>(dataLength);
}

KEFMessage::~KEFMessage() {
  std::free(message);
  message = nullptr;
}

int KEFMessage::send(ACE_Task<ACE_MT_SYNCH>* target, const char* note) {
  auto* manager = static_cast<ServiceManager*>(target);
  tvan::ServiceRequestDatabaseEntry entry(*this, nullptr);
  if (note != nullptr) entry.note = note;
  errno = 0;
  if (manager != nullptr && manager->send(entry)) {
    manager->lastMessageTime = std::time(nullptr);
    return 0;
  }
  const int error = errno;
  std::string configurationFile;
  tvan::getKEFConfigurationFileName(configurationFile);
  tvan::Log log(configurationFile.c_str(), tvan::kConfigFileLog);
  if (error == ESHUTDOWN) {
    log.log(tvan::kError, __FILE__, __LINE__, "send", "ERROR: deactivated? (%d,%d).", error, error);
  } else {
    log.log(tvan::kError, __FILE__, __LINE__, "send", "ERROR: %d,%d.", error, error);
  }
  // Never 0 for a message that was not stored.
  return error != 0 ? error : EIO;
}

std::string createServiceID(const char* first, const char* second) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return (boost::format("%1%|%2%|%3%.%4%") % (first != nullptr ? first : "") %
          (second != nullptr ? second : "") % static_cast<long long>(now.tv_sec) %
          static_cast<long>(now.tv_nsec / 1000000))
      .str();
}
