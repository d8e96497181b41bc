#include "KEF/Database/ServiceRequestDatabaseEntry.h"

#include <unistd.h>

#include <cstring>

#include "KEF/KEFCore/KEFMessage.h"

namespace tvan {

namespace {

// A header text of the record: up to its NUL, at most the field's size.
std::string headerText(const char* field) {
  return std::string(field, strnlen(field, KEF_MESSAGE::kTextSize));
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t skipSpaces(const std::string& text, size_t at) {
  while (at < text.size() && isSpace(text[at])) ++at;
  return at;
}

// Whether `text` at `at` holds the start tag `<name` followed by a blank,
// '>' or '/'.
bool startTagAt(const std::string& text, size_t at, const char* name) {
  const size_t length = std::strlen(name);
  if (text.compare(at, length, name) != 0) return false;
  const size_t after = at + length;
  return after < text.size() && (isSpace(text[after]) || text[after] == '>' || text[after] == '/');
}

}  // namespace

ServiceRequestDatabaseEntry::ServiceRequestDatabaseEntry() : DatabaseEntry(kKind) {}

ServiceRequestDatabaseEntry::ServiceRequestDatabaseEntry(const KEFMessage& message,
                                                         const char* note)
    : ServiceRequestDatabaseEntry(message.getMessagePtr(),
                                  message.getMessagePtr() != nullptr ? message.getMessageSize() : 0,
                                  note) {}

ServiceRequestDatabaseEntry::ServiceRequestDatabaseEntry(const KEF_MESSAGE* message, size_t size,
                                                         const char* note)
    : DatabaseEntry(kKind) {
  if (note != nullptr) this->note = note;
  origin = currentOrigin();
  if (message == nullptr || size < KEF_MESSAGE::kFixedSize) return;
  messageType = headerText(message->msgType);
  serviceID = headerText(message->serviceID);
  clientID = headerText(message->clientID);
  serviceName = serviceNameOf(serviceID);
  const size_t room = size - offsetof(KEF_MESSAGE, data);
  size_t length = message->dataLength > 0 ? static_cast<size_t>(message->dataLength) : 0;
  if (length > room) length = room;
  data.assign(message->data, length);
  responseStatus = responseStatusOf(data);
  record.assign(reinterpret_cast<const char*>(message), size);
}

ServiceRequestDatabaseEntry::~ServiceRequestDatabaseEntry() = default;

std::string ServiceRequestDatabaseEntry::serviceNameOf(const std::string& serviceID) {
  const size_t bar = serviceID.find('|');
  return bar == std::string::npos ? std::string() : serviceID.substr(0, bar);
}

std::string ServiceRequestDatabaseEntry::responseStatusOf(const std::string& data) {
  // The framework writes responses by concatenation in one fixed layout
  // (the root KEFResponse, then ServiceStatus with its attributes); this
  // reads that layout, and any attribute order or quoting, without parsing
  // the whole document.
  size_t at = skipSpaces(data, 0);
  if (data.compare(at, 5, "<?xml") == 0) {
    const size_t end = data.find("?>", at);
    if (end == std::string::npos) return std::string();
    at = skipSpaces(data, end + 2);
  }
  if (!startTagAt(data, at, "<KEFResponse")) return std::string();
  for (at = data.find("<ServiceStatus", at); at != std::string::npos;
       at = data.find("<ServiceStatus", at + 1)) {
    if (startTagAt(data, at, "<ServiceStatus")) break;
  }
  if (at == std::string::npos) return std::string();
  at += std::strlen("<ServiceStatus");
  for (;;) {
    at = skipSpaces(data, at);
    if (at >= data.size() || data[at] == '>' || data[at] == '/') return std::string();
    const size_t nameStart = at;
    while (at < data.size() && data[at] != '=' && !isSpace(data[at]) && data[at] != '>') ++at;
    const std::string name = data.substr(nameStart, at - nameStart);
    at = skipSpaces(data, at);
    if (at >= data.size() || data[at] != '=') return std::string();
    at = skipSpaces(data, at + 1);
    if (at >= data.size() || (data[at] != '"' && data[at] != '\'')) return std::string();
    const size_t end = data.find(data[at], at + 1);
    if (end == std::string::npos) return std::string();
    if (name == "Status") return data.substr(at + 1, end - at - 1);
    at = end + 1;
  }
}

std::string ServiceRequestDatabaseEntry::currentOrigin() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) std::strcpy(host, "?");
  return std::string(host) + "/" + std::to_string(::getpid());
}

}  // namespace tvan
