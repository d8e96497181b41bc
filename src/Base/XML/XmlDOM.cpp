#include "Base/XML/XmlDOM.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>

#include "Base/BaseTypes/Error.h"
#include "Base/BaseTypes/VString.h"
#include "Base/System/FunctionMutex.h"
#include "Base/System/Mutex.h"
#include "Base/System/Platform/ThreadStop.h"
#include "Base/XML/XMLParser.h"
#include "Base/XML/XmlImp.h"

namespace tvan {

namespace {

// Failure texts are thrown as `char*`, which handlers written for `char*` and
// for `const char*` both catch. Nothing writes through the pointer.
[[noreturn]] void fail(const char* text) { throw const_cast<char*>(text); }

const char kInvalidDom[] = "ERROR invalid DOM";
const char kRangeMessage[] = "XmlDOM::validIndex  \"XML: Index exceeds the range\"";

bool fileExists(const char* name) {
  struct stat info;
  return ::stat(name, &info) == 0;
}

[[noreturn]] void failWriting(int line, const std::string& fileName, int err) {
  const std::string text = "XML: Could not save " + fileName + ": " + std::strerror(err);
  throw Error(__FILE__, line, text.c_str());
}

// Writes all of `text` to `fd`; false with errno set when the file system
// refuses part of it.
bool writeAll(int fd, const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file `fileName` by `text` as one step: the text goes to a
// temporary file beside it, is synced, and is renamed over the file, so that
// the file holds the old document or the new one, never a part of either
// (a full disk, a crash). A symbolic link is kept: its target is replaced.
// The old file's permissions and owner carry over to the new one. Throws
// tvan::Error, after removing the temporary file, when any step fails; the
// old file is then unchanged.
void replaceFile(const char* fileName, const std::string& text) {
  std::string target = fileName;
  struct stat info;
  const bool existed = ::lstat(fileName, &info) == 0;
  if (existed && S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(fileName, resolved) != nullptr) target = resolved;
  }
  const bool targetExists = ::stat(target.c_str(), &info) == 0;

  // Unique per process and call, so that two savers never share one.
  static std::atomic<unsigned> counter{0};
  const std::string temporary = target + ".tmp." + std::to_string(::getpid()) + "." +
                                std::to_string(counter.fetch_add(1));
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) failWriting(__LINE__, target, errno);
  if (targetExists) {
    // Best effort: an unprivileged saver cannot give the file away.
    const int owned = ::fchown(fd, info.st_uid, info.st_gid);
    (void)owned;
    ::fchmod(fd, info.st_mode & 07777);
  }
  int err = 0;
  if (!writeAll(fd, text) || ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temporary.c_str());
    failWriting(__LINE__, target, err);
  }
  // Make the rename itself durable; the document is saved either way.
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

std::string indentation(int depth) { return std::string(depth > 0 ? depth * 4 : 0, ' '); }

// The pretty-printer behind formatForPrint and its masked form. With `tags`
// null nothing is masked. A masked element (start tag text in `tags`) is left
// out, or printed as one line holding `replacement` at its indentation.
void prettyPrint(std::string& text, const std::set<std::string>* tags,
                 const std::string& replacement) {
  std::string result;
  size_t pos = 0;
  int depth = 0;
  bool masking = false;
  int maskDepth = 0;

  auto writeLine = [&](const std::string& line, int lineDepth, bool masked, bool opensMask) {
    if (!masked) {
      result += indentation(lineDepth) + line + "\n";
    } else if (opensMask && !replacement.empty()) {
      result += indentation(lineDepth) + replacement + "\n";
    }
  };

  while (pos < text.size()) {
    const size_t open = text.find('<', pos);
    if (open == std::string::npos) break;
    const size_t close = text.find('>', open);
    if (close == std::string::npos) break;
    const std::string tag = text.substr(open, close - open + 1);
    if (open > pos) writeLine(text.substr(pos, open - pos), depth, masking, false);

    if (tag.size() > 1 && tag[1] == '/') {
      --depth;
      writeLine(tag, depth, masking, false);
      if (masking && depth <= maskDepth) masking = false;
    } else if (tag.size() > 2 && tag[tag.size() - 2] == '/') {
      bool opens = false;
      if (!masking && tags != nullptr) {
        std::string asStart = tag.substr(0, tag.size() - 2) + ">";
        opens = tags->count(asStart) != 0;
      }
      writeLine(tag, depth, masking || opens, opens);
    } else {
      bool opens = false;
      if (!masking && tags != nullptr && tags->count(tag) != 0) {
        masking = true;
        maskDepth = depth;
        opens = true;
      }
      writeLine(tag, depth, masking, opens);
      ++depth;
    }
    pos = close + 1;
  }
  text.swap(result);
}

}  // namespace

void XmlDOM::createMutex(const char* failureText) {
  const std::string name =
      "TVANXML" + std::to_string(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
  mutex = new (std::nothrow) Mutex(VString(name), kThreadMutex);
  if (mutex == nullptr) fail(failureText);
}

XmlDOM::XmlDOM(const char* source, bool isFile)
    : mutex(nullptr), imp_(nullptr), selectedCount_(1), isFile_(isFile), valid_(true) {
  createMutex("XmlDOM::XmlDOM new of ACE_Thread_Mutex failed");
  if (source == nullptr || *source == '\0') {
    delete mutex;
    mutex = nullptr;
    if (source == nullptr) fail("XmlDOM::XmlDOM \"  XML: Invalid file name, NULL string");
    fail("XmlDOM::XmlDOM \"XML: Invalid file name, empty string");
  }
  source_ = source;
  imp_ = new (std::nothrow) XmlImp();
  if (imp_ == nullptr) {
    delete mutex;
    mutex = nullptr;
    fail("XmlDOM::XmlDOM new of XmlImp failed");
  }
  try {
    if (!isFile) {
      // A text without any readable element would leave a valid-looking
      // document with no tree.
      if (!imp_->fillDOM(source)) fail(XMLParser::kBadFormedMessage);
    } else {
      if (!fileExists(source)) {
        const std::string message = std::string("XmlDOM::XmlDOM  Cannot find file: ") + source;
        throw Error(__FILE__, __LINE__, message.c_str());
      }
      imp_->setXml(source);
    }
    imp_->getRootName(rootName_);
  } catch (...) {
    delete imp_;
    imp_ = nullptr;
    delete mutex;
    mutex = nullptr;
    throw;
  }
}

XmlDOM::XmlDOM() : mutex(nullptr), imp_(nullptr), selectedCount_(0), isFile_(false), valid_(false) {
  createMutex("XmlDOM::XmlDOM new of ACE_Thread_Mutex failed");
  imp_ = new (std::nothrow) XmlImp();
  if (imp_ == nullptr) {
    delete mutex;
    mutex = nullptr;
    fail("XmlDOM::XmlDOM new of XmlImp failed");
  }
}

XmlDOM::XmlDOM(const XmlDOM& other)
    : mutex(nullptr), imp_(nullptr), selectedCount_(0), isFile_(false), valid_(true) {
  try {
    *this = other;
  } catch (...) {
    delete imp_;
    delete mutex;
    throw;
  }
}

XmlDOM& XmlDOM::operator=(const XmlDOM& other) {
  if (this == &other) return *this;
  if (mutex == nullptr) createMutex("XmlDOM::operator= new of ACE_Thread_Mutex failed");

  // Take a consistent snapshot of the other document under its lock, then
  // install it under ours; the two locks are never held together. A failure
  // leaves this document as it was.
  std::unique_ptr<XmlImp> imp;
  std::string source;
  std::string rootName;
  int32_t selectedCount;
  bool isFile;
  {
    FunctionMutex guard(other.mutex);
    if (!other.valid_) fail("XmlDOM::operator=  \"XML: Invalid new DOM object\"");
    imp.reset(new (std::nothrow) XmlImp(*other.imp_));
    if (!imp) fail("XmlDOM::operator= new of XmlImp failed");
    source = other.source_;
    rootName = other.rootName_;
    selectedCount = other.selectedCount_;
    isFile = other.isFile_;
  }
  FunctionMutex guard(mutex);
  delete imp_;
  imp_ = imp.release();
  source_ = source;
  rootName_ = rootName;
  isFile_ = isFile;
  selectedCount_ = selectedCount;
  valid_ = true;
  return *this;
}

XmlDOM::~XmlDOM() {
  source_ = "bogus value";
  rootName_ = source_;
  delete imp_;
  imp_ = nullptr;
  delete mutex;
  mutex = nullptr;
}

void XmlDOM::checkValid() const {
  if (!valid_) fail(kInvalidDom);
}

void XmlDOM::validIndex(int index, bool allowMinusOne) {
  FunctionMutex guard(mutex);
  if (index >= selectedCount_) fail(kRangeMessage);
  if (index == -1) {
    if (!allowMinusOne) fail("XmlDOM::validIndex  \"XML: Unallowed index value : -1\"");
    return;
  }
  if (index < -1) fail("XmlDOM::validIndex  \"XML: Negative index value \"");
  // The count is the document's, the selection the calling thread's own.
  if (index >= imp_->getNumSelectedNodes()) fail(kRangeMessage);
}

void XmlDOM::createNewXml(const char* rootName) {
  FunctionMutex guard(mutex);
  if (rootName == nullptr) fail("XmlDOM::createNewXml  invalid rootName");
  imp_->createNewXml(rootName);
  imp_->getRootName(rootName_);
  valid_ = true;
  selectedCount_ = 1;
}

bool XmlDOM::findNodes(const char* path, int& count, bool makeFirstActive) {
  FunctionMutex guard(mutex);
  if (path == nullptr) fail("XmlDOM::findNodes  XML: Invalid argument, null contex");
  checkValid();
  selectedCount_ = 0;
  selectedCount_ = imp_->selectNodes(path, makeFirstActive);
  count = selectedCount_;
  return true;
}

void XmlDOM::setActiveNode(int index) {
  FunctionMutex guard(mutex);
  checkValid();
  validIndex(index, false);
  imp_->setActiveNode(index);
}

void XmlDOM::resetActiveToRoot() {
  FunctionMutex guard(mutex);
  checkValid();
  imp_->resetRoot();
}

void XmlDOM::getNodeValue(std::string& value, int index) {
  value.clear();
  FunctionMutex guard(mutex);
  checkValid();
  validIndex(index, true);
  if (index >= 0) imp_->setActiveNode(index);
  if (imp_->getActiveNodeName().empty()) {
    fail("XmlDOM::getNodeValue  \"XML: Empty active node name\"");
  }
  imp_->getValue(value);
}

void XmlDOM::setNodeValue(const char* value, int index) {
  FunctionMutex guard(mutex);
  checkValid();
  validIndex(index, true);
  if (index >= 0) imp_->setActiveNode(index);
  imp_->setValue(value ? value : "", false);
}

bool XmlDOM::getAttribute(std::map<std::string, std::string>& attributes, int index) {
  FunctionMutex guard(mutex);
  checkValid();
  validIndex(index, false);
  imp_->setActiveNode(index);
  attributes.clear();
  return imp_->getAttribute(attributes);
}

bool XmlDOM::getAttribute(const char* name, std::string& value, int index) {
  FunctionMutex guard(mutex);
  if (name == nullptr) fail("XmlDOM::getAttribute  Invalid tag");
  checkValid();
  validIndex(index, false);
  imp_->setActiveNode(index);
  value.clear();
  return imp_->getAttribute(name, value);
}

bool XmlDOM::setAttribute(const char* name, const char* value) {
  FunctionMutex guard(mutex);
  if (name == nullptr || value == nullptr) fail("XmlDOM::setAttribute  Invalid tag or value");
  checkValid();
  return imp_->setAttribute(name, value);
}

void XmlDOM::removeAttribute(const char* name) {
  FunctionMutex guard(mutex);
  if (name == nullptr) fail("XmlDOM::removeAttribute  Invalid tag");
  // No validity check: on a document without a tree there is no active node
  // and nothing is removed.
  imp_->removeAttribute(name);
}

void XmlDOM::createNode(const char* name, const char* value, bool makeActive, int index) {
  FunctionMutex guard(mutex);
  checkValid();
  if (name == nullptr) fail("XmlDOM::createNode  Invalid tag");
  imp_->createElement(name, makeActive, value ? value : "", index);
}

void XmlDOM::removeNode(int index) {
  FunctionMutex guard(mutex);
  checkValid();
  validIndex(index, true);
  if (index == -1) {
    // The whole of the calling thread's selection: the document's count may
    // come from another thread's findNodes.
    imp_->removeNodes(imp_->getNumSelectedNodes());
  } else {
    imp_->removeNode(index);
  }
  selectedCount_ = imp_->getNumSelectedNodes();
}

bool XmlDOM::copy(int index) {
  try {
    FunctionMutex guard(mutex);
    checkValid();
    validIndex(index, false);
    imp_->setActiveNode(index);
    imp_->duplicateNode(true);
    return true;
  } catch (...) {
    fail("Error copy node");
  }
}

bool XmlDOM::copyChildNodes(std::string& out, int index) {
  FunctionMutex guard(mutex);
  checkValid();
  if (index != -1) {
    validIndex(index, true);
    imp_->setActiveNode(index);
  }
  return imp_->copyChildNodes(out);
}

bool XmlDOM::paste(int index) {
  FunctionMutex guard(mutex);
  checkValid();
  validIndex(index, false);
  imp_->setActiveNode(index);
  return imp_->paste();
}

bool XmlDOM::pasteFragment(const char* text, int index) {
  FunctionMutex guard(mutex);
  checkValid();
  if (index >= 0) {
    validIndex(index, true);
    imp_->setActiveNode(index);
  }
  return imp_->pasteFragment(text);
}

bool XmlDOM::reload() {
  platform::NoCancelScope noCancel;  // file input and output under the document's lock
  FunctionMutex guard(mutex);
  checkValid();
  if (source_.empty()) return false;
  if (isFile_) {
    imp_->setXml(source_.c_str());
  } else if (!imp_->fillDOM(source_.c_str())) {
    return false;
  }
  imp_->getRootName(rootName_);
  selectedCount_ = 1;
  return true;
}

void XmlDOM::saveToFile(const char* fileName) {
  platform::NoCancelScope noCancel;  // file input and output under the document's lock
  FunctionMutex guard(mutex);
  checkValid();
  if (fileName != nullptr || isFile_) {
    std::string text;
    imp_->dumpToBuffer(text, true, false);
    XmlImp::setXMLEncoding(text);
    replaceFile(fileName != nullptr ? fileName : source_.c_str(), text);
  } else {
    imp_->dumpToBuffer(source_, true, false);
  }
}

void XmlDOM::dump(std::ofstream& out, bool fromRoot) {
  platform::NoCancelScope noCancel;  // file input and output under the document's lock
  FunctionMutex guard(mutex);
  checkValid();
  if (!out.is_open()) fail("XML: Stream is not open for output");
  imp_->dump(out, fromRoot);
}

void XmlDOM::dump(std::string& out, bool fromRoot, bool unused) {
  FunctionMutex guard(mutex);
  checkValid();
  imp_->dumpToBuffer(out, fromRoot, unused);
}

std::string XmlDOM::getActiveNodeName() {
  FunctionMutex guard(mutex);
  return imp_->getActiveNodeName();
}

void XmlDOM::formatForPrint(std::string& text) { prettyPrint(text, nullptr, std::string()); }

void XmlDOM::formatForPrintWithTagDataModify(std::string& text, const std::set<std::string>& tags,
                                             const std::string& replacement) {
  prettyPrint(text, &tags, replacement);
}

void XmlDOM::encode(std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': result += "&amp;"; break;
      case '<': result += "&lt;"; break;
      case '>': result += "&gt;"; break;
      case '"': result += "&quot;"; break;
      case '\'': result += "&apos;"; break;
      default: result += c; break;
    }
  }
  text.swap(result);
}

}  // namespace tvan
