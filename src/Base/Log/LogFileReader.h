#pragma once
// Reading log files written by tvan::Log: the 200-byte header with its
// next-write offset, and the entries before that offset.
//
// A reader only reads; it never takes the log mutex. Entries are complete
// once the header names them (writers put the entry in first and move the
// offset afterwards), so reading up to the header's offset never yields a
// half-written entry. Bytes a killed writer may have left behind (zero
// bytes, a line without its ending) are skipped or returned as lines that do
// not parse; they never stop the reading.
#include <string>
#include <vector>

namespace tvan {

// One stored line, split into its columns.
struct LogEntry {
  enum Kind {
    kEntry,  // date, component, pid, tid, file, line, function, "LEVEL:", message
    kAudit,  // date, product, computer, user, component, event, message
    kOther,  // anything else (kept whole in `text`)
  };
  Kind kind = kOther;
  std::string dateTime;
  std::string component;
  long processId = 0;
  long threadId = 0;
  std::string sourceFile;
  int line = 0;
  std::string function;
  std::string level;  // without the ':'
  std::string product;
  std::string computer;
  std::string user;
  std::string event;
  std::string message;
  std::string text;       // the line as stored, without CR LF
  long long offset = 0;   // where the line starts in its file
};

// Splits `text` (one line without CR LF) into `out`; false (and kind kOther)
// when it has neither entry nor audit form. The message column may itself
// hold tabs.
bool parseLogLine(const std::string& text, LogEntry& out);

// The log level whose text is `name` ("ERROR", ...); 0 when there is none.
long logLevelFromText(const std::string& name);

struct LogFileHeader {
  std::string version;           // the first two bytes
  long long nextWriteOffset = -1;  // decimal number from byte 2; -1 when absent
  long long fileSize = 0;
  // The mark is "aa" and the offset lies within [200, file size].
  bool isValid() const;
};

class LogFileReader {
 public:
  LogFileReader() = default;
  ~LogFileReader();
  LogFileReader(const LogFileReader&) = delete;
  LogFileReader& operator=(const LogFileReader&) = delete;

  // Opens `path` and starts at the first entry; false when it cannot be
  // opened.
  bool open(const std::string& path);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }

  // Reads the header of the open file as it is now; false when fewer than
  // two bytes can be read.
  bool readHeader(LogFileHeader& out) const;

  // Appends the entries from the last position up to the header's current
  // offset and moves the position there. Returns the number of entries
  // appended, or -1 when the header is not valid or names an offset before
  // the position (the file was replaced in place or damaged).
  int readNew(std::vector<LogEntry>& out);

  // True when the path no longer names the open file (it was moved to the
  // backup by a rollover, or removed).
  bool isReplaced() const;

  long long position() const { return position_; }

  // Every entry of the file at `path` up to its header's offset; false when
  // the file cannot be opened or its header is not valid.
  static bool readAll(const std::string& path, std::vector<LogEntry>& out);

 private:
  int fd_ = -1;
  std::string path_;
  unsigned long long device_ = 0;
  unsigned long long inode_ = 0;
  long long position_ = 0;
};

}  // namespace tvan
