#pragma once
// XmlDOM: the thread-safe XML document the rest of the system passes around
// (service data, job data, configuration files, response documents).
//
// Every public operation holds the document's own re-entrant mutex for its
// whole duration, so single operations are atomic with respect to other
// threads. A sequence of operations (select, then read) is atomic only when
// the caller holds `mutex` around it:
//
//     tvan::FunctionMutex guard(dom->mutex);   // mutex is a tvan::Mutex*
//     dom->findNodes("ServiceID", count, true);
//     dom->getNodeValue(value, 0);
//
// Positions belong to the calling thread: each thread has its own active node
// and its own last selection. An `int index` names the n-th node (from 0) of
// the calling thread's last findNodes selection, which becomes the active node
// before the operation; -1 means "the active node as it is" where allowed.
// Indices are checked against the document's selection count (one per
// document: the size of the last findNodes of any thread) and against the
// calling thread's own selection; a failing check throws a text (below).
//
// Failures: argument and state errors throw their texts as `char*` (caught by
// `char*` and `const char*` handlers alike); a missing file throws
// tvan::Error; loading errors of the parser pass through (a `std::string`
// "Invalid XML File: <name>" or the parser's bad-formed text).
// Absence of data is reported by results, never by exceptions.
#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <string>

namespace tvan {

class Mutex;
class XmlImp;

class XmlDOM {
 public:
  // Loads a document from a file (isFile) or from XML text. Throws for a null
  // or empty source, a missing file (tvan::Error), an unreadable file, a
  // malformed text, and a text in which no element can be read.
  XmlDOM(const char* source, bool isFile);

  // An empty, invalid document; only createNewXml makes it usable.
  XmlDOM();

  // Copies share the other's tree (not its mutex). Copying an invalid
  // document throws "XmlDOM::operator=  \"XML: Invalid new DOM object\"".
  XmlDOM(const XmlDOM& other);
  XmlDOM& operator=(const XmlDOM& other);

  virtual ~XmlDOM();

  // A new tree whose root is named rootName; resets every thread's position.
  void createNewXml(const char* rootName);

  // Selects the matches of path (resolved from the calling thread's active
  // node) as the calling thread's selection; count := number of matches.
  // With makeFirstActive the first match becomes the active node.
  bool findNodes(const char* path, int& count, bool makeFirstActive = true);

  void setActiveNode(int index);  // -1 not allowed
  // Active node := root; the calling thread's selection := [root].
  void resetActiveToRoot();

  void getNodeValue(std::string& value, int index = -1);  // -1 allowed
  void setNodeValue(const char* value, int index = -1);   // -1 allowed

  // -1 is not allowed for the attribute reads, copy and paste: index 0 is the
  // first node of the selection (the root after resetActiveToRoot).
  bool getAttribute(std::map<std::string, std::string>& attributes, int index = 0);
  // Returns whether the (unescaped) value is non-empty.
  bool getAttribute(const char* name, std::string& value, int index = 0);
  bool setAttribute(const char* name, const char* value);
  // No validity check: nothing happens on a document without a tree.
  void removeAttribute(const char* name);

  // New child `name` with text `value` under the active node; `index` is its
  // position among the children of that name (-1 appends).
  void createNode(const char* name, const char* value, bool makeActive = true, int index = -1);

  // Deletes the selected node (index) or every node of the calling thread's
  // selection (-1) with its subtree. The selection loses the removed entries
  // and the selection count follows it; positions of any thread that lay in a
  // removed subtree move to the root. The root itself is never removed.
  void removeNode(int index = -1);

  // Deep copy of the node into the calling thread's copy buffer; every
  // failure is thrown as "Error copy node".
  bool copy(int index = 0);
  bool copyChildNodes(std::string& out, int index = -1);
  // Hands the copy buffer to the tree; false when there is nothing to paste
  // (no copy, or already pasted).
  bool paste(int index = 0);
  // Parses text as a list of elements and appends copies under the node.
  bool pasteFragment(const char* text, int index = -1);

  // Reloads from the source file or stored text; false without a source.
  bool reload();
  // With a name: writes the tree (with declaration) to that file. With null:
  // back to the source file, or, for a text document, into the stored text.
  // A file is replaced as a whole (a temporary beside it, synced, renamed):
  // a failed write (a full disk) throws tvan::Error and the old file stays.
  void saveToFile(const char* fileName = nullptr);

  void dump(std::ofstream& out, bool fromRoot = true);
  void dump(std::string& out, bool fromRoot = true, bool unused = false);

  std::string getActiveNodeName();

  // Pure text transformations of a one-line serialisation (no document
  // state is touched).
  void formatForPrint(std::string& text);
  // As formatForPrint, with elements masked: an element whose start tag (as
  // it stands, attributes included; "<x/>" matches "<x>") is in `tags` is
  // left out of the printout when `replacement` is empty, otherwise it is
  // printed as one line holding `replacement` at the element's indentation.
  void formatForPrintWithTagDataModify(std::string& text, const std::set<std::string>& tags,
                                       const std::string& replacement);
  // Escapes & < > " ' for embedding in XML (an existing entity is escaped
  // again).
  static void encode(std::string& text);

  // The document's re-entrant in-process mutex (owned). Hold it with
  // tvan::FunctionMutex around a sequence of operations.
  Mutex* mutex;

 private:
  void validIndex(int index, bool allowMinusOne);
  void checkValid() const;
  void createMutex(const char* failureText);

  XmlImp* imp_;  // owned
  std::string source_;
  int32_t selectedCount_;
  std::string rootName_;
  bool isFile_;
  bool valid_;
};

}  // namespace tvan
