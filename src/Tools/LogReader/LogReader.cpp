// tvan_logread: prints the entries of a log file written by tvan::Log.
#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Base/Log/LogFileReader.h"

namespace {

const char kHelp[] =
    "Usage: tvan_logread [options] LOGFILE\n"
    "\n"
    "Prints the entries of a log file, oldest first, up to the offset its\n"
    "header names (bytes after it are not entries yet).\n"
    "\n"
    "Options:\n"
    "  -o, --old              print the backup LOGFILE.old first\n"
    "  -l, --level LEVELS     only these levels: names separated by commas\n"
    "                         (CRITICAL,ERROR,WARNING,INFO,USAGE,DEBUG1..DEBUG4,\n"
    "                         TRACE,MEMORY,PERFORMANCE,UNKNOWN) or a hexadecimal\n"
    "                         mask such as 0x17\n"
    "  -c, --component NAME   only entries of this component\n"
    "  -s, --since TIME       only entries at or after TIME\n"
    "  -u, --until TIME       only entries at or before TIME\n"
    "                         TIME is local time written like the entries,\n"
    "                         \"YYYY/MM/DD hh:mm:ss.cc\"; any leading part will do\n"
    "                         (\"2024/05/01\", \"2024/05/01 13:30\")\n"
    "  -f, --follow           keep printing new entries as they are written, like\n"
    "                         tail -f; when the file is moved to LOGFILE.old the\n"
    "                         rest of it is printed and the new file followed\n"
    "  -i, --interval MS      how often --follow looks for news (default 250)\n"
    "  -h, --help             this text\n"
    "\n"
    "Examples:\n"
    "  tvan_logread -o kef.log\n"
    "  tvan_logread -l ERROR,CRITICAL -c AUTODELETE kef.log\n"
    "  tvan_logread -s \"2024/05/01 13:00\" -u \"2024/05/01 14:00\" kef.log\n"
    "  tvan_logread -f -l 0x7 kef.log\n"
    "\n"
    "Exit status: 0 when the file was read, 1 on a usage error, 2 when the\n"
    "file cannot be opened or is not a log file.\n";

struct Filter {
  bool byLevel = false;
  long levelMask = 0;
  bool unknownLevel = false;
  std::string component;
  bool byComponent = false;
  std::string since;
  std::string until;

  bool any() const { return byLevel || byComponent || !since.empty() || !until.empty(); }

  bool accepts(const tvan::LogEntry& entry) const {
    if (entry.kind == tvan::LogEntry::kOther) return !any();
    if (byLevel) {
      if (entry.kind != tvan::LogEntry::kEntry) return false;
      const long level = tvan::logLevelFromText(entry.level);
      if (level == 0 ? !unknownLevel : !(level & levelMask)) return false;
    }
    if (byComponent && entry.component != component) return false;
    if (!since.empty() && entry.dateTime.compare(0, since.size(), since) < 0) return false;
    if (!until.empty() && entry.dateTime.compare(0, until.size(), until) > 0) return false;
    return true;
  }
};

bool parseLevels(const std::string& text, Filter& filter) {
  filter.byLevel = true;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    char* end = nullptr;
    filter.levelMask = std::strtol(text.c_str(), &end, 16);
    return end && *end == '\0';
  }
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string name = text.substr(start, comma - start);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "UNKNOWN") {
      filter.unknownLevel = true;
    } else {
      const long level = tvan::logLevelFromText(name);
      if (level == 0) return false;
      filter.levelMask |= level;
    }
    start = comma + 1;
  }
  return true;
}

void print(const std::vector<tvan::LogEntry>& entries, const Filter& filter) {
  for (const tvan::LogEntry& entry : entries) {
    if (!filter.accepts(entry)) continue;
    std::fwrite(entry.text.data(), 1, entry.text.size(), stdout);
    std::fputc('\n', stdout);
  }
}

// Prints a whole file; false when it cannot be read as a log file.
bool printFile(const std::string& path, const Filter& filter) {
  std::vector<tvan::LogEntry> entries;
  if (!tvan::LogFileReader::readAll(path, entries)) return false;
  print(entries, filter);
  return true;
}

int follow(const std::string& path, const Filter& filter, long intervalMs) {
  tvan::LogFileReader reader;
  std::vector<tvan::LogEntry> entries;
  for (;;) {
    if (!reader.isOpen() && !reader.open(path)) {
      ::usleep(static_cast<useconds_t>(intervalMs) * 1000);
      continue;
    }
    entries.clear();
    reader.readNew(entries);
    if (reader.isReplaced()) {
      // Writers finish with a file before moving it: what is left is final.
      reader.readNew(entries);
      reader.close();
    }
    print(entries, filter);
    std::fflush(stdout);
    if (reader.isOpen()) ::usleep(static_cast<useconds_t>(intervalMs) * 1000);
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const option options[] = {
      {"old", no_argument, nullptr, 'o'},          {"level", required_argument, nullptr, 'l'},
      {"component", required_argument, nullptr, 'c'}, {"since", required_argument, nullptr, 's'},
      {"until", required_argument, nullptr, 'u'},  {"follow", no_argument, nullptr, 'f'},
      {"interval", required_argument, nullptr, 'i'}, {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0}};
  Filter filter;
  bool withOld = false;
  bool followFile = false;
  long intervalMs = 250;
  int option;
  while ((option = ::getopt_long(argc, argv, "ol:c:s:u:fi:h", options, nullptr)) != -1) {
    switch (option) {
      case 'o': withOld = true; break;
      case 'l':
        if (!parseLevels(optarg, filter)) {
          std::fprintf(stderr, "tvan_logread: unknown level in \"%s\"\n", optarg);
          return 1;
        }
        break;
      case 'c': filter.component = optarg; filter.byComponent = true; break;
      case 's': filter.since = optarg; break;
      case 'u': filter.until = optarg; break;
      case 'f': followFile = true; break;
      case 'i':
        intervalMs = std::atol(optarg);
        if (intervalMs < 1) intervalMs = 1;
        break;
      case 'h': std::fputs(kHelp, stdout); return 0;
      default: std::fputs(kHelp, stderr); return 1;
    }
  }
  if (optind + 1 != argc) {
    std::fputs(kHelp, stderr);
    return 1;
  }
  const std::string path = argv[optind];
  if (withOld && !printFile(path + ".old", filter)) {
    std::fprintf(stderr, "tvan_logread: no readable backup %s.old\n", path.c_str());
  }
  if (followFile) return follow(path, filter, intervalMs);
  if (!printFile(path, filter)) {
    std::fprintf(stderr, "tvan_logread: %s is not a readable log file\n", path.c_str());
    return 2;
  }
  return 0;
}
