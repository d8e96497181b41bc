#include "Base/System/Platform/Identity.h"

#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace tvan {
namespace platform {

std::string computerName() {
  char buffer[256] = {};
  if (::gethostname(buffer, sizeof(buffer) - 1) != 0) return std::string();
  return std::string(buffer);
}

std::string domainName() {
  char buffer[256] = {};
  if (::getdomainname(buffer, sizeof(buffer) - 1) == 0) {
    std::string nis(buffer);
    if (!nis.empty() && nis != "(none)") return nis;
  }
  const std::string host = computerName();
  const size_t dot = host.find('.');
  if (dot != std::string::npos && dot + 1 < host.size()) return host.substr(dot + 1);
  return host;
}

std::string effectiveUserName() {
  const uid_t uid = ::geteuid();
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_name) {
    return std::string(found->pw_name);
  }
  return std::to_string(uid);
}

std::string expandEnvironment(const std::string& text, size_t limit) {
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    const size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    out.append(text, pos, open - pos);
    const std::string name = text.substr(open + 1, close - open - 1);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value) {
      out.append(value);
    } else if (name == "USERNAME") {
      out.append(effectiveUserName());
    } else if (name == "USERDOMAIN") {
      out.append(domainName());
    } else {
      // Unknown variables stay as written; the closing % may open the next.
      out.append(text, open, close - open);
      pos = close;
      continue;
    }
    pos = close + 1;
  }
  out.append(text, pos, std::string::npos);
  if (out.size() > limit) out.resize(limit);
  return out;
}

void writeSystemLog(const char* line) { ::syslog(LOG_DEBUG, "%s", line); }

}  // namespace platform
}  // namespace tvan
