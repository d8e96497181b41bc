#include "Base/Log/LogFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tvan {

namespace {

constexpr long long kHeaderSize = 200;
constexpr size_t kReadBlock = 1 << 20;

std::vector<std::string> splitTabs(const std::string& text, size_t maxFields) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (fields.size() + 1 < maxFields) {
    const size_t tab = text.find('\t', start);
    if (tab == std::string::npos) break;
    fields.push_back(text.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(text.substr(start));
  return fields;
}

bool parseNumber(const std::string& text, long& value) {
  if (text.empty() || text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  value = std::atol(text.c_str());
  return true;
}

// "YYYY/MM/DD hh:mm:ss.cc"
bool isDateTime(const std::string& text) {
  static const char pattern[] = "dddd/dd/dd dd:dd:dd.dd";
  if (text.size() != sizeof(pattern) - 1) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (pattern[i] == 'd' ? !digit : text[i] != pattern[i]) return false;
  }
  return true;
}

}  // namespace

long logLevelFromText(const std::string& name) {
  static const struct {
    const char* text;
    long level;
  } levels[] = {{"CRITICAL", 0x1},  {"ERROR", 0x2},   {"WARNING", 0x4},  {"INFO", 0x10},
                {"USAGE", 0x20},    {"DEBUG1", 0x100}, {"DEBUG2", 0x200}, {"DEBUG3", 0x400},
                {"DEBUG4", 0x800},  {"TRACE", 0x1000}, {"MEMORY", 0x2000},
                {"PERFORMANCE", 0x4000}};
  for (const auto& entry : levels) {
    if (name == entry.text) return entry.level;
  }
  return 0;
}

bool parseLogLine(const std::string& text, LogEntry& out) {
  out.kind = LogEntry::kOther;
  out.text = text;
  std::vector<std::string> fields = splitTabs(text, 9);
  long pid = 0, tid = 0, line = 0;
  if (fields.size() == 9 && isDateTime(fields[0]) && parseNumber(fields[2], pid) &&
      parseNumber(fields[3], tid) && parseNumber(fields[5], line) && !fields[7].empty() &&
      fields[7].back() == ':') {
    out.kind = LogEntry::kEntry;
    out.dateTime = fields[0];
    out.component = fields[1];
    out.processId = pid;
    out.threadId = tid;
    out.sourceFile = fields[4];
    out.line = static_cast<int>(line);
    out.function = fields[6];
    out.level = fields[7].substr(0, fields[7].size() - 1);
    out.message = fields[8];
    return true;
  }
  fields = splitTabs(text, 7);
  if (fields.size() == 7 && isDateTime(fields[0])) {
    out.kind = LogEntry::kAudit;
    out.dateTime = fields[0];
    out.product = fields[1];
    out.computer = fields[2];
    out.user = fields[3];
    out.component = fields[4];
    out.event = fields[5];
    out.message = fields[6];
    return true;
  }
  return false;
}

bool LogFileHeader::isValid() const {
  return version == "aa" && nextWriteOffset >= kHeaderSize && nextWriteOffset <= fileSize;
}

LogFileReader::~LogFileReader() { close(); }

bool LogFileReader::open(const std::string& path) {
  close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  struct stat st;
  if (::fstat(fd_, &st) != 0) {
    close();
    return false;
  }
  path_ = path;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  position_ = kHeaderSize;
  return true;
}

void LogFileReader::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool LogFileReader::readHeader(LogFileHeader& out) const {
  out = LogFileHeader();
  if (fd_ < 0) return false;
  char header[31] = {};
  const ssize_t n = ::pread(fd_, header, 30, 0);
  if (n < 2) return false;
  out.version.assign(header, 2);
  struct stat st;
  out.fileSize = ::fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
  const char* digits = header + 2;
  while (*digits == ' ') ++digits;
  if (*digits >= '0' && *digits <= '9') out.nextWriteOffset = std::atoll(digits);
  return true;
}

int LogFileReader::readNew(std::vector<LogEntry>& out) {
  LogFileHeader header;
  if (!readHeader(header) || !header.isValid() || header.nextWriteOffset < position_) return -1;
  const long long end = header.nextWriteOffset;
  int count = 0;
  std::string pending;  // a line that continues into the next block
  long long pendingStart = position_;
  std::vector<char> block;
  auto emit = [&](const std::string& text, long long start) {
    LogEntry entry;
    parseLogLine(text, entry);
    entry.offset = start;
    out.push_back(std::move(entry));
    ++count;
  };
  while (position_ < end) {
    const size_t want = static_cast<size_t>(std::min<long long>(end - position_, kReadBlock));
    block.resize(want);
    const ssize_t n = ::pread(fd_, block.data(), want, position_);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = block[static_cast<size_t>(i)];
      const long long at = position_ + i;
      if (c == '\0') continue;  // left behind by an interrupted writer
      if (c == '\n' && !pending.empty() && pending.back() == '\r') {
        pending.pop_back();
        emit(pending, pendingStart);
        pending.clear();
        pendingStart = at + 1;
        continue;
      }
      if (pending.empty()) pendingStart = at;
      pending.push_back(c);
    }
    position_ += n;
  }
  if (!pending.empty()) emit(pending, pendingStart);
  return count;
}

bool LogFileReader::isReplaced() const {
  if (fd_ < 0) return true;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) return true;
  return static_cast<unsigned long long>(st.st_dev) != device_ ||
         static_cast<unsigned long long>(st.st_ino) != inode_;
}

bool LogFileReader::readAll(const std::string& path, std::vector<LogEntry>& out) {
  LogFileReader reader;
  if (!reader.open(path)) return false;
  return reader.readNew(out) >= 0;
}

}  // namespace tvan
