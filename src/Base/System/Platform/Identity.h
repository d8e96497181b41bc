#pragma once
// Who and where the process runs, and the system log: the Linux side of the
// log writer's computer name, user name and debugger-output destination.
#include <string>

namespace tvan {
namespace platform {

// The host name (gethostname), at most 255 characters; empty on failure.
std::string computerName();

// The host's domain name: the NIS domain when one is set, otherwise the part
// of the host name after its first dot, otherwise the host name itself (a
// machine outside any domain is its own domain).
std::string domainName();

// The login name of the effective user (passwd entry, else the numeric id).
std::string effectiveUserName();

// Replaces every %NAME% with the value of the environment variable NAME.
// Unset variables stay as written, except USERNAME (effective user's login
// name) and USERDOMAIN (domainName()). The result is cut after `limit`
// characters (the size of the caller's buffer, terminator included, minus
// one).
std::string expandEnvironment(const std::string& text, size_t limit = 255);

// Sends one line to the system log at debug priority.
void writeSystemLog(const char* line);

}  // namespace platform
}  // namespace tvan
