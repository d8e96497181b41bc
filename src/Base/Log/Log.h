#pragma once
// The shared log file writer.
//
// A Log writes diagnostic entries to a pre-sized log file that several
// processes of one machine may share, and optionally to the system log and to
// standard output. The file starts with a 200-byte header whose first field
// holds the offset of the next entry; entries are tab-separated text lines
// ended by CR LF. When the next-write offset passes the maximum size, the
// file is moved to the same name with ".old" appended and a new file starts.
//
// All writers serialise on one system-wide named mutex (mutexName at
// construction time, "LogObject" by default). The file is mapped shared into
// every writing process, so writing an entry is a copy into the mapping plus
// an update of the header under that mutex: every process sees the same
// pages, and an entry is never torn or interleaved with another. After any
// process moves the file to its backup, every other writer's next entry goes
// to the new file.
//
// A full disk never raises a signal in a writer: an entry is stored only
// where the file's blocks are allocated (allocated ahead of the writers, 1 MB
// at a time for a log that keeps its file open, per entry for one that closes
// it after every entry; written with checked pwrite where the file system
// cannot allocate ahead). An entry for which no space can be had is dropped;
// the first drop of a shortage is reported once on standard error (and to
// the system log when location bit 0x2 is on). The first entry written once
// space is back is preceded by one of its own, with the same leading columns
// (date, component, level, ...), saying "<n> log entries were lost for lack
// of disk space", n counted by this Log. The file's format and size do not
// change. A file that cannot be created for lack of space is reported as
// "Unable to open logfile (%s).\n" and counts as a drop.
//
// Sharing is limited to the user and the shared group: files are created
// 0660 with that group (0600 without one), and an existing file, like the
// mutex's shared object, is used only when it may be trusted
// (Base/System/Platform/SharedObjectAccess.h). Entries to a refused file,
// or under a refused mutex, are dropped, said once on standard error. A file
// cut short by another process while it is mapped ends no writer: the entry
// is tried once more in the file the path then names (a damaged one goes to
// the backup as below, an empty one is removed), said once on standard
// error. A file renamed over or removed from outside is left within a second.
//
// Logging never throws into the caller: file problems are reported on
// standard error ("Unable to open logfile (%s).\n", "Unable to write message
// to logfile (%s).\n") and the next entry tries again; configuration problems
// are reported on standard output and the previous settings stay in force.
//
// Threads: log() and auditLog() may be called from any number of threads and
// processes at once. setComponentName() and setProductInfo() are meant to be
// called by the owner before the log is shared (they are not synchronised
// with concurrent entries).
#include <atomic>
#include <cstdarg>
#include <memory>
#include <string>

namespace tvan {

class Mutex;

// Name of the system-wide mutex taken by logs constructed from now on.
extern std::string mutexName;

// Level of an entry; an entry is written when its level shares a bit with
// the log's level mask. Values with several bits pass the mask test when any
// bit is in the mask and are written as "UNKNOWN".
enum ELogLevel {
  kCritical = 0x0001,
  kError = 0x0002,
  kWarning = 0x0004,
  kInfo = 0x0010,
  kUsage = 0x0020,
  kDebug1 = 0x0100,
  kDebug2 = 0x0200,
  kDebug3 = 0x0400,
  kDebug4 = 0x0800,
  kTrace = 0x1000,
  kMemory = 0x2000,
  kPerformance = 0x4000,
};

// How a log gets its settings (first constructor argument's meaning).
enum ELogType {
  kConfigFileLog = 0,  // name = configuration file (null: default file)
  kPlainLog = 1,       // name = log file; fixed settings
  kAuditLog = 2,       // name = log file; fixed settings, audit columns
};

// Destinations of the location mask.
enum ELogLocation {
  kLocationFile = 0x1,
  kLocationSystemLog = 0x2,
  kLocationReserved = 0x4,
  kLocationStdout = 0x8,
};

class Log {
 public:
  // Two-character format mark at the start of every log file: "aa".
  static const std::string kCurrentLogVersion;

  // kConfigFileLog: `name` is the configuration file (null or empty: the
  // default configuration file); settings are read on the first entry and
  // re-read at most once per update time (60 s until configured).
  // kPlainLog: `name` is the log file; level mask 0xFF, location mask 9,
  // maximum size 20 (millions of bytes), flush always, settings fixed.
  // kAuditLog: `name` is the log file; location mask 9, maximum size 1, flush
  // always, settings fixed; computer and user name from the platform.
  explicit Log(const char* name, ELogType type = kConfigFileLog);

  // All settings given; settings fixed, no configuration file. A maximum size
  // below 1 becomes 5.
  Log(const char* logFile, long levelMask, long locationMask, int maxSize, bool flushAlways,
      bool memoryProfile);

  // Closes the file.
  virtual ~Log();

  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // Writes one entry (one line per chunk of the formatted message) with the
  // log's component name. `file` is the caller's source file as the compiler
  // gives it; `function` may be null ("[unknown]"). An empty message writes
  // nothing. A level masked out costs no lock and no system call.
  void log(ELogLevel level, const char* file, int line, const char* function,
           const char* format, ...) __attribute__((format(printf, 6, 7)));
  // The same with an explicit component column.
  void log(const char* component, ELogLevel level, const char* file, int line,
           const char* function, const char* format, ...)
      __attribute__((format(printf, 7, 8)));
  // `text` is written unchanged (no format expansion).
  void log(ELogLevel level, const char* file, int line, const char* function,
           const std::string& text);
  void log(const char* component, ELogLevel level, const char* file, int line,
           const char* function, const std::string& text);

  // Writes an audit entry (date, product, computer, user, component, event,
  // message) to the file only. No level test and no settings update; it
  // serialises on the log's mutex like log().
  void auditLog(const char* event, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  // Product information = "a b c".
  void setProductInfo(const char* a, const char* b, const char* c);

  // Writes the local date and time "YYYY/MM/DD hh:mm:ss.cc" (22 characters
  // and a terminator) into `buffer`, which holds at least 23 bytes.
  static void getDateTime(char* buffer);

  // Replaces mutexName for logs constructed afterwards.
  static void SetMutexName(const std::string& name);

  void setComponentName(const std::string& name) { componentName_ = name; }
  const std::string& getComponentName() const { return componentName_; }
  const std::string& getProductInfo() const { return productInfo_; }
  const std::string& getComputerName() const { return computerName_; }
  const std::string& getUserName() const { return userName_; }

  // Current settings (as last read for a configured log).
  std::string getLogFileName() const;
  long getLevelMask() const { return levelMask_.load(std::memory_order_relaxed); }
  long getLocationMask() const;
  int getMaxSize() const;
  bool getFlushAlways() const;
  int getUpdateTime() const;
  bool getMemoryProfile() const;
  bool isSettingsFixed() const { return settingsFixed_; }

  // The system-wide mutex every entry of this log is written under; holding
  // it keeps every writer of the same mutex name out.
  Mutex& getMutex() const { return *mutex_; }

 private:
  struct FileState;  // the open, mapped log file
  // kRefused: the file may not be trusted (dropped, said once); kCutShort:
  // the file was cut short under the mapping while the entry went in.
  enum class WriteResult { kWritten, kNoSpace, kFailed, kRefused, kCutShort };

  void internalLog(const char* component, ELogLevel level, const char* file, int line,
                   const char* function, const char* format, va_list args);
  void writeMessage(const char* component, ELogLevel level, const char* file, int line,
                    const char* function, const char* message, size_t length);
  void writeAudit(const char* event, const char* message, size_t length);
  // True when the masked-out test can be trusted without taking the mutex.
  bool settingsFresh() const;
  void updatePrefs();
  // `prefixLength`: length of the leading columns of `line`, repeated in
  // front of the count of lost entries.
  void logFile(const std::string& line, size_t prefixLength);
  WriteResult writeLine(const std::string& line);
  void noteLostEntry();
  void noteTruncation();
  void noteRefusal(const std::string& reason);
  void logDebug(const std::string& line);
  void logStdout(const std::string& line);
  void logWindows(const std::string& line);
  void profileMemory();
  static const char* parseFile(const char* file);
  WriteResult openFile();
  WriteResult writeEntry(const std::string& line, long long& newOffset);
  WriteResult writeMappedEntry(const std::string& line, long long& newOffset);
  bool initializeFile(int fd);
  void closeFile();
  void startNewLogFile();

  std::string configFileName_;
  std::string componentName_;
  std::string productInfo_;
  std::string computerName_;
  std::string userName_;
  std::unique_ptr<FileState> file_;   // guarded by mutex_
  std::unique_ptr<Mutex> mutex_;      // system-wide, named mutexName
  std::atomic<long> lastUpdate_{0};   // process clock ms of the last settings read; 0 = never
  std::atomic<bool> lockFailureReported_{false};

  // Settings below change only under mutex_ (configured logs); the level
  // mask and update time are also read without it for the masked-out test.
  std::string logFileName_;
  std::atomic<long> levelMask_{0};
  long locationMask_ = 0;
  int maxSize_ = 5;
  bool flushAlways_ = false;
  std::atomic<int> updateTime_{60};
  bool memoryProfile_ = false;
  bool settingsFixed_ = false;
};

}  // namespace tvan
