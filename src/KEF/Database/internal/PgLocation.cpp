#include "KEF/Database/internal/PgLocation.h"

#include <cctype>
#include <cstring>

namespace tvan {
namespace dbinternal {

namespace {

const char* const kUriSchemes[] = {"postgresql://", "postgres://"};

// libpq's connection keywords (PostgreSQL 15).
const char* const kKeywords[] = {
    "host", "hostaddr", "port", "dbname", "user", "password", "passfile", "channel_binding",
    "connect_timeout", "client_encoding", "options", "application_name",
    "fallback_application_name", "keepalives", "keepalives_idle", "keepalives_interval",
    "keepalives_count", "tcp_user_timeout", "sslmode", "requiressl", "sslcompression", "sslcert",
    "sslkey", "sslpassword", "sslrootcert", "sslcrl", "sslcrldir", "sslsni", "requirepeer",
    "ssl_min_protocol_version", "ssl_max_protocol_version", "gssencmode", "krbsrvname", "gsslib",
    "service", "target_session_attrs", "load_balance_hosts"};

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

size_t skipBlanks(const std::string& text, size_t at) {
  while (at < text.size() && isBlank(text[at])) ++at;
  return at;
}

bool startsWithUri(const std::string& text, size_t at) {
  for (const char* scheme : kUriSchemes) {
    if (text.compare(at, std::strlen(scheme), scheme) == 0) return true;
  }
  return false;
}

bool isKeyword(const std::string& word) {
  for (const char* keyword : kKeywords) {
    if (word == keyword) return true;
  }
  return false;
}

// The URI with the password of its user information and of its query replaced.
std::string redactUri(const std::string& uri) {
  const size_t authority = uri.find("://") + 3;
  size_t authorityEnd = uri.find_first_of("/?", authority);
  if (authorityEnd == std::string::npos) authorityEnd = uri.size();
  std::string result = uri.substr(0, authority);
  const size_t at = uri.rfind('@', authorityEnd);
  if (at != std::string::npos && at >= authority) {
    const size_t colon = uri.find(':', authority);
    if (colon != std::string::npos && colon < at) {
      result += uri.substr(authority, colon - authority) + ":***";
    } else {
      result += uri.substr(authority, at - authority);
    }
    result += uri.substr(at, authorityEnd - at);
  } else {
    result += uri.substr(authority, authorityEnd - authority);
  }
  // Query parameters: key=value pairs separated by '&'.
  size_t position = authorityEnd;
  const size_t query = uri.find('?', authorityEnd);
  if (query == std::string::npos) return result + uri.substr(authorityEnd);
  result += uri.substr(authorityEnd, query + 1 - authorityEnd);
  position = query + 1;
  while (position <= uri.size()) {
    size_t end = uri.find('&', position);
    if (end == std::string::npos) end = uri.size();
    const std::string pair = uri.substr(position, end - position);
    if (pair.compare(0, 9, "password=") == 0) {
      result += "password=***";
    } else {
      result += pair;
    }
    if (end == uri.size()) break;
    result += '&';
    position = end + 1;
  }
  return result;
}

// The key=value string with the value of `password` replaced. Values are
// bare words or single-quoted with backslash escapes, as libpq reads them.
std::string redactKeywords(const std::string& text) {
  std::string result;
  size_t at = 0;
  while (at < text.size()) {
    const size_t keyStart = at;
    while (at < text.size() && text[at] != '=' && !isBlank(text[at])) ++at;
    const std::string key = text.substr(keyStart, at - keyStart);
    const size_t valueStart = [&] {
      size_t position = skipBlanks(text, at);
      if (position < text.size() && text[position] == '=') position = skipBlanks(text, position + 1);
      return position;
    }();
    size_t valueEnd = valueStart;
    if (valueEnd < text.size() && text[valueEnd] == '\'') {
      ++valueEnd;
      while (valueEnd < text.size() && text[valueEnd] != '\'') {
        valueEnd += (text[valueEnd] == '\\' && valueEnd + 1 < text.size()) ? 2 : 1;
      }
      if (valueEnd < text.size()) ++valueEnd;
    } else {
      while (valueEnd < text.size() && !isBlank(text[valueEnd])) {
        valueEnd += (text[valueEnd] == '\\' && valueEnd + 1 < text.size()) ? 2 : 1;
      }
    }
    result += text.substr(keyStart, valueStart - keyStart);
    result += key == "password" ? std::string("***") : text.substr(valueStart, valueEnd - valueStart);
    at = skipBlanks(text, valueEnd);
    result += text.substr(valueEnd, at - valueEnd);
    if (at == keyStart) break;  // nothing consumed: malformed, keep the rest out
  }
  return result;
}

}  // namespace

bool PgLocation::matches(const std::string& location) {
  const size_t start = skipBlanks(location, 0);
  if (startsWithUri(location, start)) return true;
  size_t end = start;
  while (end < location.size() &&
         (std::islower(static_cast<unsigned char>(location[end])) || location[end] == '_')) {
    ++end;
  }
  const size_t equals = skipBlanks(location, end);
  return end > start && equals < location.size() && location[equals] == '=' &&
         isKeyword(location.substr(start, end - start));
}

PgLocation::PgLocation(const std::string& location) : text_(location) {
  const size_t start = skipBlanks(location, 0);
  redacted_ = startsWithUri(location, start) ? redactUri(location.substr(start))
                                             : redactKeywords(location.substr(start));
  const std::string timeout = std::to_string(kConnectTimeoutSeconds);
  keywords_ = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
               "keepalives_count", "tcp_user_timeout", "application_name", "dbname",
               "client_encoding"};
  // The keep-alive and TCP time-outs bound how long a write waits for a
  // server that vanished without closing the connection (a network cut);
  // they do nothing on a Unix socket, where a dead server closes it.
  values_ = {timeout, "1", "5", "2", "2", "10000", "kef", location, "UTF8"};
  for (const std::string& keyword : keywords_) keywordPointers_.push_back(keyword.c_str());
  for (const std::string& value : values_) valuePointers_.push_back(value.c_str());
  keywordPointers_.push_back(nullptr);
  valuePointers_.push_back(nullptr);
}

}  // namespace dbinternal
}  // namespace tvan
