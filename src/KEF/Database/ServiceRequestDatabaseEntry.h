#pragma once
// One framework message as the request database keeps it: the message
// record byte for byte, and the texts derived from it that the database
// indexes and that readers show.
//
// The framework fills an entry from a KEFMessage and sets three texts by
// position: the first (note), the second (serviceName, read to look up the
// service's options) and the fifth (persistent). The other texts are
// derived from the record by the constructor or set when the entry is
// stored; entries read back from the database carry all of them.
#include <cstddef>
#include <string>

#include "KEF/Database/DatabaseEntry.h"

class KEFMessage;
struct KEF_MESSAGE;

namespace tvan {

class ServiceRequestDatabaseEntry : public DatabaseEntry {
 public:
  // The mark of an entry addressed to a persistent service (fifth text).
  static constexpr const char kPersistent[] = "kef:persistent";
  // The kind of these entries (DatabaseEntry::kind).
  static constexpr const char kKind[] = "ServiceRequest";

  // An empty entry of this kind.
  ServiceRequestDatabaseEntry();
  // The entry of `message` (its record, getMessagePtr/getMessageSize);
  // `note` may be null (empty note). The message is not kept.
  ServiceRequestDatabaseEntry(const KEFMessage& message, const char* note);
  // The same from a record of `size` bytes as KEFMessage allocates it. A
  // dataLength that does not fit in `size` is clamped for the data text;
  // the record bytes are kept as they are. Null `record`: an empty entry.
  ServiceRequestDatabaseEntry(const KEF_MESSAGE* record, size_t size, const char* note);
  ~ServiceRequestDatabaseEntry() override;

  ServiceRequestDatabaseEntry(const ServiceRequestDatabaseEntry&) = default;
  ServiceRequestDatabaseEntry& operator=(const ServiceRequestDatabaseEntry&) = default;
  ServiceRequestDatabaseEntry(ServiceRequestDatabaseEntry&&) = default;
  ServiceRequestDatabaseEntry& operator=(ServiceRequestDatabaseEntry&&) = default;

  // The texts, in their fixed order.
  std::string note;         // 1: the sender's note (KEFMessage::send); empty by default
  std::string serviceName;  // 2: the service addressed: serviceNameOf(serviceID)
  std::string messageType;  // 3: the record's msgType
  std::string serviceID;    // 4: the record's serviceID
  std::string persistent;   // 5: kPersistent for a persistent service, else empty
  std::string clientID;     // 6: the record's clientID
  std::string data;         // 7: the record's data (dataLength bytes)
  // 8: the Status attribute of the response document the data carries
  // (responseStatusOf); empty when the data is no response document.
  std::string responseStatus;
  std::string record;    // 9: the whole record, byte for byte
  std::string storedAt;  // 10: when it was stored, "YYYY-MM-DDThh:mm:ss.mmmZ" (UTC); empty before
  std::string origin;    // 11: "host/pid" of the process that made the entry

  // The service a service id is addressed to: the text before its first
  // '|' (ids are made as "name|second|seconds.millis"). An id without '|'
  // was not made that way and names no service: empty.
  static std::string serviceNameOf(const std::string& serviceID);
  // The Status attribute of the ServiceStatus element of a response
  // document (<KEFResponse><ServiceStatus ... Status="..." ...>), as
  // written; empty when `data` is not such a document.
  static std::string responseStatusOf(const std::string& data);
  // "host/pid" of the calling process.
  static std::string currentOrigin();
};

}  // namespace tvan
