// kef_requests: reads the machine's request database: the requests with
// their status, the messages stored between services (the record decoded,
// response documents pretty-printed), following new messages as they are
// stored; prunes old messages; shows (and forwards) what waits in the spool
// of a PostgreSQL request database. Safe beside processes that write: a
// reader takes no write lock.
#include <getopt.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Base/XML/XmlDOM.h"
#include "KEF/Database/DatabaseTransaction.h"
#include "KEF/Database/KEFRequestDatabase.h"
#include "KEF/Database/RequestDatabaseLocation.h"
#include "KEF/Database/ServiceRequestDatabase.h"
#include "KEF/Database/ServiceRequestDatabaseEntry.h"
#include "KEF/Database/internal/DatabaseError.h"
#include "KEF/Database/internal/RequestSpool.h"
#include "KEF/KEFCore/KEFMessage.h"

namespace {

const char kHelp[] =
    "Usage: kef_requests [--db LOCATION] COMMAND [options]\n"
    "\n"
    "Reads the request database that the framework's processes share: an SQLite\n"
    "file, or a PostgreSQL server that several machines share.\n"
    "\n"
    "Commands:\n"
    "  list                   the requests with their status and when it changed\n"
    "  messages               the stored messages, oldest first: the record decoded\n"
    "                         (type, service id, client id, data), when and by whom\n"
    "                         it was stored; response documents pretty-printed\n"
    "      -r, --request ID   only the messages of the request with service id ID\n"
    "      -s, --service NAME only the messages addressed to the service NAME\n"
    "      -a, --after KEY    only the messages stored after the one numbered KEY\n"
    "      -f, --follow       then keep printing messages as they are stored, until\n"
    "                         interrupted\n"
    "      -i, --interval MS  how often --follow looks for news (default 250)\n"
    "  prune AGE              removes the messages stored more than AGE ago; AGE is\n"
    "                         a number with s, m, h or d (seconds when bare): 30d\n"
    "  spool                  what waits in this machine's spool for a PostgreSQL\n"
    "                         server that could not be reached, per server\n"
    "      --forward          first forward it to the server of LOCATION, as far as\n"
    "                         it takes it\n"
    "\n"
    "Options:\n"
    "  -d, --db LOCATION      the database: a file, or a PostgreSQL connection URI\n"
    "                         (postgresql://...) or string (host=... dbname=...); by\n"
    "                         default $KEF_REQUEST_DATABASE, else RequestDatabase in\n"
    "                         the framework configuration, else\n"
    "                         /var/lib/kef/requests.db. The spool is\n"
    "                         $KEF_REQUEST_SPOOL, else RequestSpool in the\n"
    "                         configuration, else /var/lib/kef/requests-spool.db\n"
    "  -h, --help             this text\n"
    "\n"
    "Examples:\n"
    "  kef_requests list\n"
    "  kef_requests messages --service AUTODELETE\n"
    "  kef_requests messages -f --request 'AUTODELETE|job|1733480400.123'\n"
    "  kef_requests prune 30d\n"
    "  kef_requests --db 'host=db1 dbname=kef user=kef' spool --forward\n"
    "\n"
    "Exit status: 0 when something was found (or pruned, or followed until\n"
    "interrupted, or waits in the spool), 1 when nothing was found (an empty\n"
    "spool), 2 on a usage error or when the database cannot be read (missing,\n"
    "not a request database, the server unreachable, ...).\n";

constexpr int kFound = 0;
constexpr int kNothingFound = 1;
constexpr int kFailure = 2;

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

int64_t nowMillis() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string formatMillis(int64_t millis) {
  const time_t seconds = static_cast<time_t>(millis / 1000);
  struct tm parts;
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<int>(millis % 1000));
  return text;
}

int failure(const tvan::DatabaseTransaction& transaction) {
  std::fprintf(stderr, "kef_requests: %s\n", transaction.getLastError().c_str());
  return kFailure;
}

// "30d", "12h", "45m", "90s", "90": milliseconds; -1 when not an age.
int64_t parseAge(const std::string& text) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return -1;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0) return -1;
  const std::string unit = end;
  int64_t factor = 0;
  if (unit.empty() || unit == "s") factor = 1000;
  else if (unit == "m") factor = 60 * 1000;
  else if (unit == "h") factor = 3600 * 1000;
  else if (unit == "d") factor = 24 * 3600 * 1000;
  else return -1;
  if (value > INT64_MAX / factor) return -1;
  return value * factor;
}

// A header text of the record at `offset`: up to its NUL within the field.
std::string recordText(const std::string& record, size_t offset) {
  if (record.size() <= offset) return std::string();
  const size_t room = std::min(KEF_MESSAGE::kTextSize, record.size() - offset);
  const char* field = record.data() + offset;
  return std::string(field, strnlen(field, room));
}

void printIndented(const std::string& text, const char* indent) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::printf("%s%.*s\n", indent, static_cast<int>(end - start), text.data() + start);
    start = end + 1;
  }
}

// The message as the record says it, with what the database knows of it.
void printMessage(const tvan::ServiceRequestDatabaseEntry& entry, tvan::XmlDOM& printer) {
  const std::string& record = entry.record;
  std::printf("message %s  stored %s  by %s\n", entry.key.c_str(), entry.storedAt.c_str(),
              entry.origin.c_str());
  if (record.size() < KEF_MESSAGE::kFixedSize) {
    std::printf("  record of %zu bytes, shorter than a message record\n", record.size());
    return;
  }
  int32_t dataLength = 0;
  std::memcpy(&dataLength, record.data() + offsetof(KEF_MESSAGE, dataLength), sizeof dataLength);
  const size_t room = record.size() - offsetof(KEF_MESSAGE, data);
  const size_t length = dataLength < 0 ? 0 : std::min(static_cast<size_t>(dataLength), room);
  std::string data(record.data() + offsetof(KEF_MESSAGE, data), length);

  std::printf("  type:       %s\n", recordText(record, offsetof(KEF_MESSAGE, msgType)).c_str());
  std::printf("  service id: %s", recordText(record, offsetof(KEF_MESSAGE, serviceID)).c_str());
  if (!entry.serviceName.empty()) std::printf("  (service %s)", entry.serviceName.c_str());
  if (entry.persistent == tvan::ServiceRequestDatabaseEntry::kPersistent) {
    std::printf("  persistent");
  }
  std::printf("\n  client id:  %s\n",
              recordText(record, offsetof(KEF_MESSAGE, clientID)).c_str());
  if (!entry.responseStatus.empty()) std::printf("  status:     %s\n", entry.responseStatus.c_str());
  if (!entry.note.empty()) std::printf("  note:       %s\n", entry.note.c_str());
  std::printf("  data:       %d bytes\n", dataLength);
  if (!data.empty() && data[0] == '<') printer.formatForPrint(data);
  printIndented(data, "    ");
}

int listRequests(tvan::DatabaseTransaction& transaction) {
  tvan::KEFRequestDatabase database(&transaction);
  std::vector<tvan::KEFRequestDatabase::Request> requests;
  if (!transaction.startReading() || !database.getRequests(requests)) return failure(transaction);
  transaction.commit();
  if (requests.empty()) return kNothingFound;
  size_t uidWidth = 3, statusWidth = 6;
  for (const auto& request : requests) {
    uidWidth = std::max(uidWidth, request.uid.size());
    statusWidth = std::max(statusWidth, request.status.size());
  }
  std::printf("%-*s  %-*s  %s\n", static_cast<int>(uidWidth), "UID", static_cast<int>(statusWidth),
              "STATUS", "CHANGED");
  for (const auto& request : requests) {
    std::printf("%-*s  %-*s  %s\n", static_cast<int>(uidWidth), request.uid.c_str(),
                static_cast<int>(statusWidth), request.status.c_str(),
                formatMillis(request.changedAt).c_str());
  }
  return kFound;
}

// Prints the selected messages after selection.afterKey and moves it on.
bool printMessages(tvan::DatabaseTransaction& transaction,
                   tvan::ServiceRequestDatabase::Selection& selection, tvan::XmlDOM& printer,
                   size_t& printed) {
  tvan::ServiceRequestDatabase database(&transaction);
  std::vector<tvan::ServiceRequestDatabaseEntry> entries;
  if (!transaction.startReading() || !database.getEntries(selection, entries)) return false;
  transaction.commit();
  for (const auto& entry : entries) {
    printMessage(entry, printer);
    selection.afterKey = std::strtoll(entry.key.c_str(), nullptr, 10);
  }
  printed += entries.size();
  std::fflush(stdout);
  return true;
}

int showMessages(tvan::DatabaseTransaction& transaction,
                 tvan::ServiceRequestDatabase::Selection selection, bool follow, long intervalMs) {
  tvan::XmlDOM printer;
  size_t printed = 0;
  if (!selection.serviceID.empty()) {
    // The request's own status, when the requests table knows it.
    tvan::KEFRequestDatabase requests(&transaction);
    std::vector<tvan::KEFRequestDatabase::Request> found;
    if (!transaction.startReading() || !requests.getRequests(found, selection.serviceID)) {
      return failure(transaction);
    }
    transaction.commit();
    for (const auto& request : found) {
      std::printf("request %s  status %s  changed %s\n", request.uid.c_str(),
                  request.status.c_str(), formatMillis(request.changedAt).c_str());
    }
  }
  if (!printMessages(transaction, selection, printer, printed)) return failure(transaction);
  if (!follow) return printed > 0 ? kFound : kNothingFound;
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  while (!interrupted) {
    ::usleep(static_cast<useconds_t>(intervalMs) * 1000);
    if (interrupted) break;
    if (!printMessages(transaction, selection, printer, printed)) return failure(transaction);
  }
  return kFound;
}

int prune(tvan::DatabaseTransaction& transaction, int64_t ageMillis) {
  const int64_t cutoff = nowMillis() - ageMillis;
  tvan::ServiceRequestDatabase database(&transaction);
  int64_t removed = 0;
  if (!transaction.start() || !database.removeEntriesBefore(cutoff, removed) ||
      !transaction.commit()) {
    return failure(transaction);
  }
  std::printf("removed %lld messages stored before %s\n", static_cast<long long>(removed),
              formatMillis(cutoff).c_str());
  return kFound;
}

std::string counted(int64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Writes waiting in the spool: one line per server; how many in all.
int64_t printSpool(const std::string& spoolPath) {
  tvan::dbinternal::RequestSpool spool(spoolPath);
  int64_t waiting = 0;
  for (const auto& count : spool.counts()) {
    std::printf("%s: %s, %s waiting in %s", count.target.c_str(),
                counted(count.messages, "message", "messages").c_str(),
                counted(count.statuses, "status update", "status updates").c_str(),
                spoolPath.c_str());
    if (count.refused > 0) {
      std::printf("; %s refused by the server, kept aside",
                  counted(count.refused, "write", "writes").c_str());
    }
    std::printf("\n");
    waiting += count.messages + count.statuses;
  }
  return waiting;
}

// Writing transactions forward the spool (each as much as it can in a
// short time): as long as they make progress.
void forwardSpool(const std::string& location, const std::string& spoolPath) {
  int64_t before = -1;
  for (;;) {
    int64_t waiting = 0;
    for (const auto& count : tvan::dbinternal::RequestSpool(spoolPath).counts()) {
      waiting += count.messages + count.statuses;
    }
    if (waiting == 0 || waiting == before) return;
    before = waiting;
    tvan::DatabaseTransaction transaction(location, tvan::DatabaseTransaction::kExistingOnly);
    if (!transaction.start()) {
      std::fprintf(stderr, "kef_requests: %s\n", transaction.getLastError().c_str());
      return;
    }
    transaction.commit();
  }
}

int showSpool(const std::string& location, bool forward) {
  const std::string spoolPath = tvan::requestSpoolPath();
  try {
    if (forward) forwardSpool(location, spoolPath);
    if (printSpool(spoolPath) > 0) return kFound;
  } catch (const tvan::dbinternal::DatabaseError& error) {
    std::fprintf(stderr, "kef_requests: %s\n", error.what());
    return kFailure;
  }
  std::printf("nothing waits in the spool %s\n", spoolPath.c_str());
  return kNothingFound;
}

int usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "kef_requests: %s\n", problem);
  std::fputs(kHelp, stderr);
  return kFailure;
}

}  // namespace

int main(int argc, char** argv) {
  static const option options[] = {
      {"db", required_argument, nullptr, 'd'},      {"request", required_argument, nullptr, 'r'},
      {"service", required_argument, nullptr, 's'}, {"after", required_argument, nullptr, 'a'},
      {"follow", no_argument, nullptr, 'f'},        {"interval", required_argument, nullptr, 'i'},
      {"help", no_argument, nullptr, 'h'},          {"forward", no_argument, nullptr, 'F'},
      {nullptr, 0, nullptr, 0}};
  std::string path;
  tvan::ServiceRequestDatabase::Selection selection;
  bool follow = false, selected = false, forward = false;
  long intervalMs = 250;
  int option;
  while ((option = ::getopt_long(argc, argv, "d:r:s:a:fi:h", options, nullptr)) != -1) {
    switch (option) {
      case 'd': path = optarg; break;
      case 'r': selection.serviceID = optarg; selected = true; break;
      case 's': selection.serviceName = optarg; selected = true; break;
      case 'a': selection.afterKey = std::atoll(optarg); selected = true; break;
      case 'f': follow = true; selected = true; break;
      case 'i': intervalMs = std::max(1L, std::atol(optarg)); break;
      case 'F': forward = true; break;
      case 'h': std::fputs(kHelp, stdout); return kFound;
      default: return usage(nullptr);
    }
  }
  if (optind >= argc) return usage("no command");
  const std::string command = argv[optind];
  const int arguments = argc - optind - 1;
  if (command != "messages" && selected) return usage("-r, -s, -a and -f belong to messages");
  if (command != "spool" && forward) return usage("--forward belongs to spool");
  if (path.empty()) path = tvan::requestDatabasePath();
  tvan::DatabaseTransaction transaction(path, tvan::DatabaseTransaction::kExistingOnly);

  if (command == "list" && arguments == 0) return listRequests(transaction);
  if (command == "messages" && arguments == 0) {
    return showMessages(transaction, selection, follow, intervalMs);
  }
  if (command == "spool" && arguments == 0) return showSpool(path, forward);
  if (command == "prune" && arguments == 1) {
    const int64_t age = parseAge(argv[optind + 1]);
    if (age < 0) return usage("AGE is a number with s, m, h or d, such as 30d");
    return prune(transaction, age);
  }
  return usage(("unknown command or wrong arguments: " + command).c_str());
}
