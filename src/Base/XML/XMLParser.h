#pragma once
// The library's own XML reader.
//
// The reader accepts the subset of XML the library writes: elements,
// attributes in double quotes, text content, comments and one leading
// declaration ("<?...>"), and builds a tree of `XMLNode`s (XMLNode.h).
//
// Failures: a bad-formed text makes the parse throw a `char*` that points at
// the text of `XMLParser::kBadFormedMessage` (a `const char*` handler catches
// it too). A text in which no element can be read makes `parseString` return
// false and `parseFragment` return null.
//
// Nothing here is thread-safe; the document layer serialises access per tree.
#include <string>
#include <vector>

#include "Base/XML/XMLEscape.h"
#include "Base/XML/XMLNode.h"

// Parses a file or a text into a tree of `XMLNode`s and owns its root.
class XMLParser {
 public:
  // The text thrown (as `char*`) for a bad-formed document.
  static const char* const kBadFormedMessage;
  // Elements nested deeper than this are rejected as bad-formed, so that
  // every recursive walk of a parsed tree stays well inside a thread stack.
  static constexpr int kMaxDepth = 4096;

  XMLParser() = default;
  ~XMLParser();
  XMLParser(const XMLParser&) = delete;
  XMLParser& operator=(const XMLParser&) = delete;

  // Reads the whole file (binary) and parses it as `parseString` does.
  // False when the file cannot be opened or read completely (an empty file
  // included) or holds no element.
  bool parseFile(const char* path);
  // Skips a leading "<?...>" declaration (only when the text starts with
  // "<?"), then parses the root element. The root becomes the result: the
  // new tree, or null when no element could be read; a previous tree is
  // deleted. Returns whether a root was produced. Throws kBadFormedMessage
  // for a bad-formed text, leaving the current root as it was.
  bool parseString(const char* text);
  // The same parse; the node is returned to the caller, who owns it (null
  // when no element could be read). The parser's root is left alone.
  XMLNode* parseFragment(const char* text);
  // Deletes the current root and makes a new empty root named `rootName`.
  void createXML(const char* rootName);

  XMLNode* getRoot() const { return root_; }

  // Splits the inner text of a tag (between "<" and ">", without a closing
  // "/") into its name and attributes. `attrs` is emptied first (without
  // deleting what it held); the caller owns the attributes appended. Leading
  // "/" characters are skipped; the name runs to the first blank (0x20; tabs
  // and line breaks belong to names); each attribute's value is the text
  // between the next two double quotes, whatever stands before the opening
  // one being skipped. An attribute name that ends the text is dropped; one
  // without a double-quoted value throws kBadFormedMessage. Returns true.
  static bool parseAttributes(const char* tagText, std::string& name, std::vector<XMLAttribute*>& attrs);

 private:
  // Parses one element starting at `text` (nothing read yet: the first
  // element's start tag is searched for). Returns the owned node, or null
  // when no element start is found; `consumed` is the count of characters up
  // to and including the element's closing ">".
  XMLNode* parseNode(const char* text, size_t length, size_t& consumed);

  XMLNode* root_ = nullptr;  // owned
};

namespace tvan {
using ::XMLParser;
}  // namespace tvan
