// Fuzz target for the XML reader and node tree.
//
// Input layout: the XML text, optionally followed by a NUL byte and a path
// for findNodes. Each input is parsed as a document and as a fragment
// wrapped in "<fragment>...</fragment>"; a parsed tree is searched, copied
// and written out, and its one-line form must read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Base/XML/XMLEscape.h"
#include "Base/XML/XMLParser.h"

namespace {

bool isBadFormed(const char* message) { return message == XMLParser::kBadFormedMessage; }

// Names the writer cannot reproduce faithfully exclude a tree from the
// read-back check: an empty name is written as "</>", a name ending in "/"
// as a self-closing tag, one starting with "?" as a declaration and one
// starting with "!--" as a comment.
bool writableNames(const XMLNode* node) {
  std::vector<const XMLNode*> pending{node};
  while (!pending.empty()) {
    const XMLNode* current = pending.back();
    pending.pop_back();
    const std::string& name = current->rawName();
    if (name.empty() || name.back() == '/' || name[0] == '?' || name.compare(0, 3, "!--") == 0) return false;
    std::vector<XMLNode*> children;
    current->getAllChildren(children);
    pending.insert(pending.end(), children.begin(), children.end());
  }
  return true;
}

void exercise(XMLNode* root, const std::string& path) {
  std::string written;
  root->dump(written);

  std::vector<XMLNode*> found;
  root->findNodes(path.c_str(), found, true);
  if (!found.empty()) {
    std::vector<XMLNode*> again;
    found.front()->findNodes(path.c_str(), again, true);
    found.back()->findNodes("..", again, true);
    std::string text;
    found.back()->dump(text);
  }
  std::vector<XMLNode*> all;
  root->findNodes("*", all, true);
  root->findNodes(path.c_str(), all, false);

  XMLNode copy(*root);
  std::string copied;
  copy.dump(copied);

  std::string escaped = root->value();
  escapeChars(escaped);
  unescapeChars(escaped);

  if (writableNames(root)) {
    XMLParser reader;
    bool ok = false;
    try {
      ok = reader.parseString(written.c_str());
    } catch (const char* message) {
      if (!isBadFormed(message)) abort();
    }
    if (!ok) abort();  // what the writer wrote must read back
    std::string rewritten;
    reader.getRoot()->dump(rewritten);
    if (rewritten != written) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  const char* separator = static_cast<const char*>(std::memchr(bytes, '\0', size));
  const std::string text(bytes, separator ? static_cast<size_t>(separator - bytes) : size);
  std::string path = "//*";
  if (separator != nullptr) {
    const char* pathBegin = separator + 1;
    const char* pathEnd = static_cast<const char*>(std::memchr(pathBegin, '\0', size - (pathBegin - bytes)));
    path.assign(pathBegin, pathEnd ? pathEnd : bytes + size);
  }

  try {
    XMLParser parser;
    if (parser.parseString(text.c_str())) exercise(parser.getRoot(), path);
  } catch (const char* message) {
    if (!isBadFormed(message)) abort();
  }

  try {
    XMLParser parser;
    const std::string wrapped = "<fragment>" + text + "</fragment>";
    XMLNode* fragment = parser.parseFragment(wrapped.c_str());
    if (fragment != nullptr) {
      XMLNode target("target", "");
      std::vector<XMLNode*> children;
      fragment->getAllChildren(children);
      for (const XMLNode* child : children) target.addChild(new XMLNode(*child), -1);
      std::vector<XMLNode*> found;
      target.findNodes(path.c_str(), found, true);
      // The search may select `target` itself, which is not on the heap.
      if (!found.empty() && found.front() != &target) {
        found.front()->removeFromParent();
        delete found.front();
      }
      delete fragment;
    }
  } catch (const char* message) {
    if (!isBadFormed(message)) abort();
  }
  return 0;
}
