#include "Base/Log/Log.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Base/BaseTypes/AppInfo.h"
#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/FormatStr.h"
#include "Base/BaseTypes/VString.h"
#include "Base/Log/LogConfiguration.h"
#include "Base/System/FileUtil.h"
#include "Base/System/Mutex.h"
#include "Base/System/Platform/ThreadStop.h"
#include "Base/System/Platform/BusErrorGuard.h"
#include "Base/System/Platform/Clock.h"
#include "Base/System/Platform/Identity.h"
#include "Base/System/Platform/SharedCounter.h"
#include "Base/System/Platform/SharedObjectAccess.h"

namespace tvan {

std::string mutexName = "LogObject";

const std::string Log::kCurrentLogVersion = "aa";

namespace {

constexpr long long kHeaderSize = 200;
constexpr long long kMillion = 1000000;
constexpr int kMaxPresizeMillions = 2000;
// How far ahead of the next entry a log that keeps its file open allocates
// blocks, so that an entry costs a system call once per this many bytes.
constexpr size_t kAllocationStep = 1 << 20;
// How often a log that keeps its file open makes sure the path still names
// that file when no rollover was counted: a file renamed over or removed
// from outside is noticed this late at most.
constexpr long kPathCheckMillis = 1000;

size_t pageSize() {
  static const size_t size = [] {
    const long page = ::sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<size_t>(page) : size_t{4096};
  }();
  return size;
}

size_t roundUp(size_t value, size_t unit) { return (value + unit - 1) / unit * unit; }

bool isNoSpace(int error) { return error == ENOSPC || error == EDQUOT; }

// Writes all of `length` bytes at `offset`; false (errno set) otherwise.
bool pwriteAll(int fd, const char* data, size_t length, off_t offset) {
  while (length > 0) {
    const ssize_t n = ::pwrite(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

const char kFileTitle[] = "Tovan Studio Log File - rev ";

// getpid() is a system call in current C libraries; the id is cached and
// refreshed in a forked child.
std::atomic<int> cachedPid{0};
void resetPidAfterFork() { cachedPid.store(0, std::memory_order_relaxed); }
const int pidForkHandler = pthread_atfork(nullptr, nullptr, &resetPidAfterFork);

int processId() {
  int pid = cachedPid.load(std::memory_order_relaxed);
  if (pid == 0) {
    pid = static_cast<int>(::getpid());
    cachedPid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

const char* levelText(long level) {
  switch (level) {
    case kCritical: return "CRITICAL";
    case kError: return "ERROR";
    case kWarning: return "WARNING";
    case kInfo: return "INFO";
    case kUsage: return "USAGE";
    case kDebug1: return "DEBUG1";
    case kDebug2: return "DEBUG2";
    case kDebug3: return "DEBUG3";
    case kDebug4: return "DEBUG4";
    case kTrace: return "TRACE";
    case kMemory: return "MEMORY";
    case kPerformance: return "PERFORMANCE";
    default: return "UNKNOWN";
  }
}

// "YYYY/MM/DD hh:mm:ss.cc" into `out` (at least 32 bytes); returns its
// length. localtime_r runs once per second per thread.
size_t formatDateTime(char* out) {
  struct Cache {
    time_t second = -1;
    char text[32];
    size_t length = 0;
  };
  thread_local Cache cache;
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  if (now.tv_sec != cache.second) {
    struct tm local;
    ::localtime_r(&now.tv_sec, &local);
    const int n = std::snprintf(cache.text, sizeof(cache.text), "%4.4d/%2.2d/%2.2d %2.2d:%2.2d:%2.2d",
                                local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min, local.tm_sec);
    cache.length = n > 0 ? std::min(static_cast<size_t>(n), sizeof(cache.text) - 4) : 0;
    cache.second = now.tv_sec;
  }
  std::memcpy(out, cache.text, cache.length);
  const int hundredths = static_cast<int>(now.tv_nsec / 10000000);  // milliseconds / 10
  out[cache.length] = '.';
  out[cache.length + 1] = static_cast<char>('0' + hundredths / 10);
  out[cache.length + 2] = static_cast<char>('0' + hundredths % 10);
  out[cache.length + 3] = '\0';
  return cache.length + 3;
}

void appendNumber(std::string& out, long long value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof(digits), value);
  out.append(digits, result.ptr);
}

// Number of message characters per line: what is left of a 1,019-byte line
// once the fixed columns (and `overhead` for separators and numbers) are in.
// Never below one, so that every line carries part of the message and the
// chunking ends.
size_t chunkLength(long overhead, size_t fixedColumns) {
  const long chunk = 1019 - overhead - static_cast<long>(fixedColumns);
  return chunk < 1 ? 1 : static_cast<size_t>(chunk);
}

// The next-write offset from the header ("aa" then decimal digits from byte 2,
// read like atol); -1 when the header is too short or holds no number.
long long headerOffset(const char* header, size_t length) {
  long long value = 0;
  size_t i = 2;
  const size_t end = std::min<size_t>(length, 30);
  while (i < end && header[i] == ' ') ++i;
  const size_t first = i;
  while (i < end && header[i] >= '0' && header[i] <= '9' && value < kMillion * kMillion) {
    value = value * 10 + (header[i] - '0');
    ++i;
  }
  return i == first ? -1 : value;
}

// Per-thread scratch space of the entry builders, reused so that an entry
// costs no allocation. A thread may still log after its thread_local objects
// were destroyed (from thread-specific-data destructors, as a thread library
// ending a task does): then each call uses fresh buffers of its own.
struct ThreadBuffers {
  std::string message;
  std::string prefix;
  std::vector<std::string> lines;
  ~ThreadBuffers();
};
thread_local bool threadBuffersGone = false;  // trivial: outlives the buffers
ThreadBuffers::~ThreadBuffers() { threadBuffersGone = true; }

// The thread's buffers, or `fallback` once they are gone.
ThreadBuffers& threadBuffers(std::unique_ptr<ThreadBuffers>& fallback) {
  if (!threadBuffersGone) {
    thread_local ThreadBuffers buffers;
    if (!threadBuffersGone) return buffers;
  }
  fallback.reset(new ThreadBuffers);
  return *fallback;
}

// Holds a Mutex for a scope; a lock failure leaves the scope unlocked
// (logging never throws into the caller) and is reported once per log
// (`reported`): a mutex whose shared object was refused fails every time.
// While it is held no cancellation ends the thread: an entry half-written,
// or the mutex left held, would block every later writer.
class LogLock {
 public:
  LogLock(Mutex& mutex, std::atomic<bool>& reported) : mutex_(mutex) {
    try {
      locked_ = mutex_.lock(kBlock, -1);
    } catch (const Error& e) {
      if (!reported.exchange(true)) {
        std::fprintf(stderr, "Log: %s; entries are dropped while it fails.\n", e.keystring());
      }
    } catch (...) {
      if (!reported.exchange(true)) std::fprintf(stderr, "Log: unable to lock the log mutex\n");
    }
  }
  ~LogLock() {
    if (!locked_) return;
    try {
      mutex_.unlock();
    } catch (...) {
      std::fprintf(stderr, "Log: unable to release the log mutex\n");
    }
  }
  LogLock(const LogLock&) = delete;
  LogLock& operator=(const LogLock&) = delete;
  bool locked() const { return locked_; }

 private:
  platform::NoCancelScope noCancel_;  // declared first: ends after the unlock
  Mutex& mutex_;
  bool locked_ = false;
};

}  // namespace

// The open log file, mapped shared so that every writing process works on
// the same pages. Guarded by the log's mutex.
struct Log::FileState {
  int fd = -1;
  char* map = nullptr;
  size_t mapLength = 0;
  dev_t device = 0;
  ino_t inode = 0;
  std::string path;            // the name the file was opened under
  uint64_t generation = 0;     // rollover generation seen when opened
  platform::SharedCounter* rollovers = nullptr;  // per mutex name, process-lifetime

  // A store into a page of the mapping that has no blocks behind it raises
  // SIGBUS when the file system is full, so entries go only where blocks are
  // known to be allocated: [0, allocatedEnd) of the open file. Pages before
  // the header's offset hold written entries and have blocks; what lies
  // beyond is allocated ahead of the writers with fallocate. Allocation only
  // grows, so what other writers allocated is at worst unknown here, never
  // wrong. Both fields hold for the open descriptor only.
  size_t allocatedEnd = 0;
  bool fallocateUnsupported = false;  // entries go in with checked pwrite
  std::string scratch;                // the pwrite form of an entry

  // Entries dropped for lack of space since the last one written, and
  // whether that was reported; kept across closes.
  unsigned long lostEntries = 0;
  bool lossReported = false;
  int spaceError = ENOSPC;  // errno of the last failure for lack of space

  // Whether a refused file was reported (until a file is opened again), and
  // whether a file cut short under the mapping was.
  bool refusalReported = false;
  bool truncationReported = false;
  long pathCheckedAt = 0;  // coarse process clock ms of the last path check

  enum class Backing { kAllocated, kNoSpace, kUnsupported };

  // Makes sure [offset, end) of the open file has blocks, allocating at least
  // `step` bytes ahead when it must allocate. kUnsupported: the file system
  // does not allocate ahead; the caller writes with pwrite, which reports a
  // full disk as an error.
  Backing allocate(size_t offset, size_t end, size_t step) {
    if (end <= allocatedEnd) return Backing::kAllocated;
    if (fallocateUnsupported) return Backing::kUnsupported;
    const size_t page = pageSize();
    const size_t start = std::max(allocatedEnd, offset) / page * page;
    const size_t exact = std::min(roundUp(end, page), mapLength);
    const size_t ahead = std::min(roundUp(std::max(end, start + step), page), mapLength);
    // The step first; when that much is not to be had, the entry alone.
    for (const size_t target : {ahead, exact}) {
      int rc;
      do {
        rc = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(start),
                         static_cast<off_t>(target - start));
      } while (rc != 0 && errno == EINTR);
      if (rc == 0) {
        allocatedEnd = target;
        return Backing::kAllocated;
      }
      if (!isNoSpace(errno)) {
        fallocateUnsupported = true;
        return Backing::kUnsupported;
      }
      spaceError = errno;
      if (ahead == exact) break;  // the step was no more than the entry
    }
    return Backing::kNoSpace;
  }

  bool isOpen() const { return fd >= 0; }

  // Maps the whole file, of status `known` when the caller has it; false
  // when it cannot be mapped.
  bool remap(const struct stat* known = nullptr) {
    struct stat st;
    if (known != nullptr) {
      st = *known;
    } else if (::fstat(fd, &st) != 0) {
      return false;
    }
    if (map) ::munmap(map, mapLength);
    map = nullptr;
    mapLength = 0;
    device = st.st_dev;
    inode = st.st_ino;
    if (st.st_size <= 0) return true;
    void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return false;
    map = static_cast<char*>(p);
    mapLength = static_cast<size_t>(st.st_size);
    return true;
  }

  // Makes the file and the mapping at least `length` bytes long.
  bool reserve(size_t length) {
    if (length <= mapLength) return true;
    struct stat st;
    if (::fstat(fd, &st) != 0) return false;
    if (st.st_size < static_cast<off_t>(length) && ::ftruncate(fd, static_cast<off_t>(length)) != 0) {
      return false;
    }
    return remap() && mapLength >= length;
  }

  // True while the path still names the open file.
  bool pathNamesOpenFile() const {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == device && st.st_ino == inode;
  }

  // The header's offset when the header is intact (the format mark, an offset
  // not below the header and not past the end of the file); -1 otherwise.
  // Another writer may have grown the file: the mapping follows it first.
  long long validOffset() {
    long long offset = parsedOffset();
    if (offset < 0 || offset > static_cast<long long>(mapLength)) {
      if (!remap()) return -1;
      offset = parsedOffset();
    }
    if (offset < kHeaderSize || offset > static_cast<long long>(mapLength)) return -1;
    return offset;
  }

  long long parsedOffset() const {
    if (mapLength < static_cast<size_t>(kHeaderSize)) return -1;
    if (map[0] != Log::kCurrentLogVersion[0] || map[1] != Log::kCurrentLogVersion[1]) return -1;
    return headerOffset(map, mapLength);
  }

  void close() {
    if (map) ::munmap(map, mapLength);
    if (fd >= 0) ::close(fd);
    map = nullptr;
    mapLength = 0;
    fd = -1;
    allocatedEnd = 0;
    fallocateUnsupported = false;
  }
};

Log::Log(const char* name, ELogType type) : file_(new FileState) {
  switch (type) {
    case kPlainLog:
      logFileName_ = name ? name : "";
      levelMask_ = 0xFF;
      locationMask_ = kLocationFile | kLocationStdout;
      maxSize_ = 20;
      flushAlways_ = true;
      updateTime_ = 0;
      settingsFixed_ = true;
      break;
    case kAuditLog:
      logFileName_ = name ? name : "";
      // Audit entries do not consult the level mask; log() on an audit log
      // writes nothing.
      levelMask_ = 0;
      locationMask_ = kLocationFile | kLocationStdout;
      maxSize_ = 1;
      flushAlways_ = true;
      memoryProfile_ = false;
      updateTime_ = 0;
      settingsFixed_ = true;
      productInfo_ = componentName_ = computerName_ = userName_ = "UNKNOWN";
      if (!platform::computerName().empty()) computerName_ = platform::computerName();
      userName_ = platform::expandEnvironment("%USERDOMAIN%/%USERNAME%");
      break;
    case kConfigFileLog:
    default:
      configFileName_ = name ? name : "";
      updateTime_ = 60;
      break;
  }
  mutex_.reset(new Mutex(VString(mutexName), kProcessMutex));
  file_->rollovers = &platform::SharedCounter::forName(mutexName);
}

Log::Log(const char* logFile, long levelMask, long locationMask, int maxSize, bool flushAlways,
         bool memoryProfile)
    : file_(new FileState) {
  logFileName_ = logFile ? logFile : "";
  levelMask_ = levelMask;
  locationMask_ = locationMask;
  maxSize_ = maxSize < 1 ? 5 : maxSize;
  flushAlways_ = flushAlways;
  memoryProfile_ = memoryProfile;
  updateTime_ = 60;
  settingsFixed_ = true;
  mutex_.reset(new Mutex(VString(mutexName), kProcessMutex));
  file_->rollovers = &platform::SharedCounter::forName(mutexName);
}

Log::~Log() { closeFile(); }

void Log::SetMutexName(const std::string& name) { mutexName = name; }

void Log::getDateTime(char* buffer) {
  char text[32];
  const size_t length = formatDateTime(text);
  std::memcpy(buffer, text, length + 1);
}

void Log::setProductInfo(const char* a, const char* b, const char* c) {
  productInfo_ = std::string(a ? a : "(null)") + " " + (b ? b : "(null)") + " " + (c ? c : "(null)");
}

std::string Log::getLogFileName() const { return logFileName_; }
long Log::getLocationMask() const { return locationMask_; }
int Log::getMaxSize() const { return maxSize_; }
bool Log::getFlushAlways() const { return flushAlways_; }
int Log::getUpdateTime() const { return updateTime_.load(std::memory_order_relaxed); }
bool Log::getMemoryProfile() const { return memoryProfile_; }

void Log::log(ELogLevel level, const char* file, int line, const char* function,
              const char* format, ...) {
  if (settingsFresh() && !(level & levelMask_.load(std::memory_order_relaxed))) return;
  va_list args;
  va_start(args, format);
  internalLog(componentName_.c_str(), level, file, line, function, format, args);
  va_end(args);
}

void Log::log(const char* component, ELogLevel level, const char* file, int line,
              const char* function, const char* format, ...) {
  if (settingsFresh() && !(level & levelMask_.load(std::memory_order_relaxed))) return;
  va_list args;
  va_start(args, format);
  internalLog(component ? component : "", level, file, line, function, format, args);
  va_end(args);
}

void Log::log(ELogLevel level, const char* file, int line, const char* function,
              const std::string& text) {
  log(componentName_.c_str(), level, file, line, function, text);
}

void Log::log(const char* component, ELogLevel level, const char* file, int line,
              const char* function, const std::string& text) {
  if (!settingsFresh()) {
    LogLock hold(*mutex_, lockFailureReported_);
    updatePrefs();
  }
  if (!(level & levelMask_.load(std::memory_order_relaxed))) return;
  writeMessage(component ? component : "", level, file, line, function, text.data(), text.size());
}

bool Log::settingsFresh() const {
  if (settingsFixed_) return true;
  const long last = lastUpdate_.load(std::memory_order_relaxed);
  if (last == 0) return false;
  // The coarse clock lags by a few milliseconds at most: an update may come
  // that much late, which an interval of seconds does not notice.
  return platform::coarseProcessClockMillis() - last <
         static_cast<long>(updateTime_.load(std::memory_order_relaxed)) * 1000;
}

void Log::internalLog(const char* component, ELogLevel level, const char* file, int line,
                      const char* function, const char* format, va_list args) {
  if (!settingsFresh()) {
    LogLock hold(*mutex_, lockFailureReported_);
    updatePrefs();
  }
  if (!(level & levelMask_.load(std::memory_order_relaxed))) return;
  std::unique_ptr<ThreadBuffers> fallback;
  std::string& message = threadBuffers(fallback).message;
  vformatStrInto(message, format, args);
  writeMessage(component, level, file, line, function, message.data(), message.size());
  if (message.capacity() > 64 * 1024) std::string().swap(message);
}

void Log::writeMessage(const char* component, ELogLevel level, const char* file, int line,
                       const char* function, const char* message, size_t length) {
  if (length == 0) return;
  if (!file) file = "";
  const char* level_text = levelText(level);
  const char* function_name = function ? function : "[unknown]";
  char date[32];
  const size_t dateLength = formatDateTime(date);
  const size_t chunk = chunkLength(24, dateLength + std::strlen(component) + std::strlen(file) +
                                           std::strlen(function_name) + std::strlen(level_text));

  // Every line starts with the same columns; only the message part differs.
  std::unique_ptr<ThreadBuffers> fallback;
  ThreadBuffers& buffers = threadBuffers(fallback);
  std::string& prefix = buffers.prefix;
  prefix.assign(date, dateLength);
  prefix.push_back('\t');
  prefix.append(component);
  prefix.push_back('\t');
  appendNumber(prefix, processId());
  prefix.push_back('\t');
  appendNumber(prefix, platform::currentThreadId());
  prefix.push_back('\t');
  prefix.append(parseFile(file));
  prefix.push_back('\t');
  appendNumber(prefix, line);
  prefix.push_back('\t');
  prefix.append(function_name);
  prefix.push_back('\t');
  prefix.append(level_text);
  prefix.append(":\t");

  // The lines are complete before the mutex is taken, so that other writers
  // wait only for the copy into the file.
  std::vector<std::string>& lines = buffers.lines;
  size_t count = 0;
  for (size_t offset = 0; offset < length; offset += chunk, ++count) {
    if (lines.size() <= count) lines.emplace_back();
    lines[count].assign(prefix);
    lines[count].append(message + offset, std::min(chunk, length - offset));
  }

  LogLock hold(*mutex_, lockFailureReported_);
  if (!hold.locked()) return;
  for (size_t i = 0; i < count; ++i) {
    logFile(lines[i], prefix.size());
    logDebug(lines[i]);
    logStdout(lines[i]);
    logWindows(lines[i]);
  }
  if (count > 64) lines.resize(64);
}

void Log::auditLog(const char* event, const char* format, ...) {
  std::unique_ptr<ThreadBuffers> fallback;
  std::string& message = threadBuffers(fallback).message;
  va_list args;
  va_start(args, format);
  vformatStrInto(message, format, args);
  va_end(args);
  writeAudit(event ? event : "", message.data(), message.size());
}

void Log::writeAudit(const char* event, const char* message, size_t length) {
  if (length == 0) return;
  char date[32];
  const size_t dateLength = formatDateTime(date);
  const size_t chunk =
      chunkLength(9, dateLength + componentName_.size() + std::strlen(event) + productInfo_.size() +
                         computerName_.size() + userName_.size());
  std::string prefix(date, dateLength);
  for (const std::string* column : {&productInfo_, &computerName_, &userName_, &componentName_}) {
    prefix.push_back('\t');
    prefix.append(*column);
  }
  prefix.push_back('\t');
  prefix.append(event);
  prefix.push_back('\t');

  // Audit entries share the file, and its header, with every other writer.
  LogLock hold(*mutex_, lockFailureReported_);
  if (!hold.locked()) return;
  for (size_t offset = 0; offset < length; offset += chunk) {
    logFile(prefix + std::string(message + offset, std::min(chunk, length - offset)), prefix.size());
  }
}

void Log::updatePrefs() {
  // Another thread may have read the settings while this one waited.
  if (settingsFresh()) return;
  if (!settingsFixed_) {
    try {
      LogConfiguration configuration(configFileName_.empty() ? nullptr : configFileName_.c_str());
      configuration.updateIfNeeded();
      std::string logFile;
      long levelMask = 0, locationMask = 0;
      int maxSize = 5, updateTime = 60;
      bool flushAlways = false, memoryProfile = false;
      configuration.getData(logFile, levelMask, locationMask, maxSize, flushAlways, updateTime,
                            memoryProfile);
      logFileName_ = logFile;
      levelMask_.store(levelMask, std::memory_order_relaxed);
      locationMask_ = locationMask;
      maxSize_ = maxSize;
      flushAlways_ = flushAlways;
      updateTime_.store(updateTime, std::memory_order_relaxed);
      memoryProfile_ = memoryProfile;
      profileMemory();
    } catch (const Error& e) {
      VString text;
      e.constructMessage(text);
      std::printf("Log::updatePrefs%s\n", text.narrow().c_str());
      return;
    } catch (const char* text) {
      std::printf("Log::updatePrefs%s", text ? text : "");
      return;
    } catch (const std::string& text) {
      // The document loader may throw its reason as a std::string too.
      std::printf("Log::updatePrefs%s", text.c_str());
      return;
    } catch (...) {
      std::printf("Log::updatePrefs Exception caught");
      return;
    }
  }
  // Zero means "never read"; a read in the first millisecond counts as 1.
  lastUpdate_.store(std::max(1L, platform::processClockMillis()), std::memory_order_relaxed);
}

void Log::profileMemory() {}

void Log::logDebug(const std::string& line) {
  if (locationMask_ & kLocationSystemLog) platform::writeSystemLog(line.c_str());
}

void Log::logStdout(const std::string& line) {
  if (locationMask_ & kLocationStdout) std::printf("%s\n", line.c_str());
}

void Log::logWindows(const std::string&) {}

const char* Log::parseFile(const char* file) {
  const char* name = file;
  for (const char* p = file; *p; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

void Log::logFile(const std::string& line, size_t prefixLength) {
  if (!(locationMask_ & kLocationFile) || logFileName_.empty()) return;
  FileState& f = *file_;
  if (f.lostEntries > 0) {
    // Space is back: the first entry written is preceded by the count of
    // those that were not, with the same leading columns.
    std::string notice = line.substr(0, std::min(prefixLength, line.size()));
    appendNumber(notice, static_cast<long long>(f.lostEntries));
    notice.append(" log entries were lost for lack of disk space");
    const WriteResult noticed = writeLine(notice);
    if (noticed == WriteResult::kWritten) {
      f.lostEntries = 0;
      f.lossReported = false;
    } else {
      if (noticed == WriteResult::kNoSpace) noteLostEntry();
      if (flushAlways_) closeFile();
      return;
    }
  }
  if (writeLine(line) == WriteResult::kNoSpace) noteLostEntry();
  if (flushAlways_) closeFile();
}

Log::WriteResult Log::writeLine(const std::string& line) {
  // A file cut short under the mapping is given up and the entry tried once
  // more, in the file the path names then (a new one when it is damaged).
  for (int attempt = 0;; ++attempt) {
    const WriteResult opened = openFile();
    if (opened != WriteResult::kWritten) return opened;
    long long newOffset = 0;
    const WriteResult written = writeEntry(line, newOffset);
    if (written == WriteResult::kCutShort) {
      noteTruncation();
      closeFile();
      if (attempt == 0) continue;
      return WriteResult::kFailed;
    }
    if (written == WriteResult::kFailed) {
      std::fprintf(stderr, "Unable to write message to logfile (%s).\n", logFileName_.c_str());
      closeFile();
      return written;
    }
    if (written == WriteResult::kWritten && static_cast<long long>(maxSize_) * kMillion < newOffset) {
      startNewLogFile();
    }
    return written;
  }
}

void Log::noteTruncation() {
  FileState& f = *file_;
  if (f.truncationReported) return;
  f.truncationReported = true;
  std::fprintf(stderr, "Log file %s was cut short by another process while in use; writing goes on in a "
               "checked file.\n", logFileName_.c_str());
}

void Log::noteRefusal(const std::string& reason) {
  FileState& f = *file_;
  if (f.refusalReported) return;
  f.refusalReported = true;
  const std::string text = "Log entries to " + logFileName_ + " are dropped: the file " +
                           platform::SharedObjectAccess::describe(platform::SharedObjectAccess::kFile,
                                                                  logFileName_) +
                           " " + reason + ".";
  std::fprintf(stderr, "%s\n", text.c_str());
  if (locationMask_ & kLocationSystemLog) platform::writeSystemLog(text.c_str());
}

void Log::noteLostEntry() {
  FileState& f = *file_;
  ++f.lostEntries;
  if (f.lossReported) return;
  f.lossReported = true;
  char reason[128];
  const std::string text = "Log entries to " + logFileName_ + " are dropped until there is space (" +
                           ::strerror_r(f.spaceError, reason, sizeof(reason)) + ").";
  std::fprintf(stderr, "%s\n", text.c_str());
  if (locationMask_ & kLocationSystemLog) platform::writeSystemLog(text.c_str());
}

Log::WriteResult Log::openFile() {
  FileState& f = *file_;
  if (f.isOpen()) {
    // A new file name from the configuration, or a rollover by any writer
    // since this file was opened: keep the file only while the path still
    // names it.
    const uint64_t generation = f.rollovers->load();
    if (f.path != logFileName_) {
      closeFile();
    } else if (generation != f.generation || !f.rollovers->isShared()) {
      if (f.pathNamesOpenFile()) {
        f.generation = generation;
      } else {
        closeFile();
      }
    } else {
      // A file renamed over or removed from outside counts no rollover.
      const long now = platform::coarseProcessClockMillis();
      if (now - f.pathCheckedAt >= kPathCheckMillis) {
        f.pathCheckedAt = now;
        if (!f.pathNamesOpenFile()) closeFile();
      }
    }
  }

  for (int attempt = 0; attempt < 2 && !f.isOpen(); ++attempt) {
    const char* name = logFileName_.c_str();
    f.path = logFileName_;
    f.generation = f.rollovers->load();
    f.pathCheckedAt = platform::coarseProcessClockMillis();
    // Created 0660 with the shared group; an existing file is used only when
    // it may be trusted (SharedObjectAccess.h), and never through a link.
    const platform::SharedObjectAccess::Opened opened = platform::SharedObjectAccess::current().open(
        platform::SharedObjectAccess::kFile, logFileName_, O_RDWR, true);
    if (!opened.refusal.empty()) {
      noteRefusal(opened.refusal);
      return WriteResult::kRefused;
    }
    const int fd = opened.fd;
    const bool created = opened.created;
    if (fd < 0) {
      std::fprintf(stderr, "Unable to open logfile (%s).\n", name);
      return WriteResult::kFailed;
    }
    f.refusalReported = false;
    if (created) {
      if (!initializeFile(fd)) {
        // A file without its header is of no use to any writer: it goes
        // again (no other writer has seen it, the mutex is held), and the
        // next entry tries anew. A full disk is reported once per shortage.
        const int error = errno;
        ::unlink(name);
        ::close(fd);
        if (!isNoSpace(error)) {
          std::fprintf(stderr, "Unable to open logfile (%s).\n", name);
          return WriteResult::kFailed;
        }
        f.spaceError = error;
        if (!f.lossReported) std::fprintf(stderr, "Unable to open logfile (%s).\n", name);
        return WriteResult::kNoSpace;
      }
    }
    f.fd = fd;
    if (!f.remap(created ? nullptr : &opened.status)) {
      std::fprintf(stderr, "Unable to open logfile (%s).\n", name);
      closeFile();
      return WriteResult::kFailed;
    }
    // A file that does not carry this format's mark, or whose next-write
    // offset lies before the entries or past the end, is never written
    // over: it goes to the backup and a new file starts. So does one cut
    // short under the new mapping while its header is read.
    long long offset = -1;
    auto readOffset = [&f, &offset] { offset = f.validOffset(); };
    if (!platform::BusErrorGuard::run(readOffset)) offset = -1;
    if (offset < 0) startNewLogFile();
  }
  return f.isOpen() ? WriteResult::kWritten : WriteResult::kFailed;
}

// The header is written with pwrite, so that its page has blocks before
// anything is stored through the mapping; the rest of the file stays sparse.
// False with errno set when either step fails.
bool Log::initializeFile(int fd) {
  char header[kHeaderSize];
  std::memset(header, ' ', sizeof(header));
  std::memcpy(header, kCurrentLogVersion.data(), 2);
  std::memcpy(header + 2, "200", 4);  // with its terminator
  const std::string title = std::string(kFileTitle) + kCurrentLogVersion;
  std::memcpy(header + 50, title.data(), std::min<size_t>(title.size(), 150));
  try {
    const AppInfo& info = AppInfo::info();
    const std::string application = info.version().narrow() + " " + info.buildDate().narrow();
    std::memcpy(header + 100, application.data(), std::min<size_t>(application.size(), 98));
  } catch (...) {
    // Nothing reads these bytes back; spaces will do.
  }
  header[198] = '\r';
  header[199] = '\n';
  if (!pwriteAll(fd, header, sizeof(header), 0)) return false;
  const long long size = std::min(maxSize_, kMaxPresizeMillions) * kMillion;
  return ::ftruncate(fd, static_cast<off_t>(std::max(size, kHeaderSize))) == 0;
}

Log::WriteResult Log::writeEntry(const std::string& line, long long& newOffset) {
  // Another process may cut the file short while it is mapped: the store
  // past its new end would raise SIGBUS. The guard turns that into a result.
  WriteResult result = WriteResult::kFailed;
  auto write = [this, &line, &newOffset, &result] { result = writeMappedEntry(line, newOffset); };
  if (!platform::BusErrorGuard::run(write)) return WriteResult::kCutShort;
  return result;
}

Log::WriteResult Log::writeMappedEntry(const std::string& line, long long& newOffset) {
  FileState& f = *file_;
  newOffset = 0;
  const long long offset = f.validOffset();
  if (offset < 0) return WriteResult::kFailed;
  const size_t length = line.size();
  const long long end = offset + static_cast<long long>(length) + 2;
  if (!f.reserve(static_cast<size_t>(end))) return WriteResult::kFailed;

  // The entry goes in first and the header names it afterwards, so that a
  // writer killed half-way leaves the header on the last complete entry. The
  // header's page has blocks since the file was created.
  const FileState::Backing backing =
      f.allocate(static_cast<size_t>(offset), static_cast<size_t>(end), flushAlways_ ? 0 : kAllocationStep);
  if (backing == FileState::Backing::kNoSpace) return WriteResult::kNoSpace;
  if (backing == FileState::Backing::kAllocated) {
    char* target = f.map + offset;
    std::memcpy(target, line.data(), length);
    for (size_t i = 0; i < length; ++i) {
      if (target[i] == '\r' || target[i] == '\n') target[i] = ' ';
    }
    target[length] = '\r';
    target[length + 1] = '\n';
  } else {
    std::string& text = f.scratch;
    text.assign(line);
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    text.append("\r\n");
    if (!pwriteAll(f.fd, text.data(), text.size(), static_cast<off_t>(offset))) {
      if (!isNoSpace(errno)) return WriteResult::kFailed;
      f.spaceError = errno;
      return WriteResult::kNoSpace;
    }
  }
  std::atomic_thread_fence(std::memory_order_release);

  char mark[32];
  std::memcpy(mark, kCurrentLogVersion.data(), 2);
  const auto result = std::to_chars(mark + 2, mark + sizeof(mark), end);
  std::memcpy(f.map, mark, static_cast<size_t>(result.ptr - mark));
  newOffset = end;
  return WriteResult::kWritten;
}

void Log::closeFile() { file_->close(); }

void Log::startNewLogFile() {
  FileState& f = *file_;
  // Only the file this log has open is moved: when another writer has moved
  // it already, the path names that writer's new file, which stays.
  const bool move = f.isOpen() && f.pathNamesOpenFile();
  struct stat st;
  const bool empty = move && ::fstat(f.fd, &st) == 0 && st.st_size == 0;
  f.close();
  if (empty) {
    // Nothing to keep (a file cut to nothing from outside): the backup
    // stays as it is.
    ::unlink(f.path.c_str());
    f.rollovers->increment();
  } else if (move) {
    FileUtil current{VString(f.path)};
    if (!current.moveFile(VString(f.path + ".old"), true)) {
      std::fprintf(stderr, "Unable to open logfile (%s).\n", f.path.c_str());
    }
    f.rollovers->increment();
  }
}

}  // namespace tvan
