#pragma once
// XmlImp: the document implementation behind XmlDOM. It holds one parsed tree
// through a shared, reference-counted parser handle and, for every thread
// that uses it, a context of its own (active node, last selection, last
// created node, copy buffer). Node-level operations act on the calling
// thread's active node.
//
// XmlImp takes no lock: every call must be serialised by the owner (XmlDOM
// holds its document mutex for each call). Copies share the tree (not the
// contexts); a node removed through one copy is not known to the contexts of
// another copy, so copies that edit the tree must not be mixed.
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "Base/BaseTypes/Handle.h"
#include "Base/XML/CollectParser.h"

class XMLNode;

namespace tvan {

class XmlImp {
 public:
  // One thread's position in the document. Owns its copy buffer; every other
  // node pointer points into the shared tree.
  struct ThContext {
    ThContext() = default;
    ~ThContext();
    ThContext(const ThContext&) = delete;
    ThContext& operator=(const ThContext&) = delete;

    uint32_t thread = 0;
    std::vector<XMLNode*> selection;  // last selectNodes (or resetRoot)
    XMLNode* active = nullptr;
    XMLNode* lastCreated = nullptr;
    XMLNode* root = nullptr;
    XMLNode* copyBuffer = nullptr;  // owned until pasted
  };

  XmlImp();
  XmlImp(const XmlImp& other);
  XmlImp& operator=(const XmlImp& other);
  virtual ~XmlImp();

  // Makes the calling thread's context current (creating it at the root when
  // the thread has none); with reset, drops every context first.
  bool checkContext(bool reset);

  // Loads a file. Throws std::string "Invalid XML File: <name>" when it cannot
  // be read, the parser's text when it is malformed. On failure the previous
  // tree and positions are kept.
  void setXml(const char* fileName);
  bool createNewXml(const char* rootName);
  // Parses XML text; false (previous tree kept) when no element can be read.
  bool fillDOM(const char* text);

  int selectNodes(const char* path, bool makeFirstActive);
  // index must lie in the calling thread's selection (the caller checks).
  void setActiveNode(int index);
  void createElement(const char* name, bool makeActive, const char* value, int index);
  void setValue(const char* value, bool onLastCreated);
  bool setAttribute(const char* name, const char* value);

  // Deletes selection[index] with its subtree (the root is never deleted, its
  // entry is only dropped). Entries of every context's selection that lie in
  // the removed subtree are dropped (later entries move down); active and
  // lastCreated nodes that lay in it move to the root.
  void removeNode(int index);
  // Removes the first `count` entries of the calling thread's selection in
  // one sweep (entries inside an already removed subtree are just dropped).
  void removeNodes(int count);

  bool duplicateNode(bool withChildren);
  // Appends the copy buffer under the active node; false when it is empty.
  bool paste();
  bool copyChildNodes(std::string& out);
  bool pasteFragment(const char* text);

  bool getValue(std::string& out);
  bool getAttribute(const char* name, std::string& out);
  bool getAttribute(std::map<std::string, std::string>& out);
  void removeAttribute(const char* name);

  void resetRoot();
  void dumpToBuffer(std::string& out, bool fromRoot, bool unused = false);
  void dump(std::ofstream& out, bool fromRoot);
  // Writes the declaration and the whole tree; a file that cannot be opened is
  // ignored.
  void dumpToFile(const char* fileName);

  void getRootName(std::string& out);
  std::string getActiveNodeName();
  int getNumSelectedNodes();

  // Puts "<?xml version='1.0' encoding='iso-8859-1' ?>" in front of doc,
  // replacing a declaration it already starts with.
  static void setXMLEncoding(std::string& doc);

 private:
  void deleteContexts();
  XMLNode* treeRoot() const;
  // Installs a freshly parsed parser and resets every context to its root.
  void install(CollectParser* parser);
  // Fixes every context for the removal of `node`'s subtree.
  void forgetSubtree(XMLNode* node);

  Handle<CollectParser> parser_;     // shared with copies; null until loaded
  std::vector<ThContext*> contexts_;  // owned, one per thread
  ThContext* current_;                // one of contexts_, or null
};

}  // namespace tvan
