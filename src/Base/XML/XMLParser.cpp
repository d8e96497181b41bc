// XMLParser: one forward pass over one buffer. Tags are located with memchr;
// names, values, attributes and comments are copied out once. Open elements
// are kept on an explicit stack, so nesting depth costs no machine stack.
#include "Base/XML/XMLParser.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>

const char* const XMLParser::kBadFormedMessage =
    "XMLParser::parseNode \"XML: Bad Formed XML (possible non-matching begin/end tags)\"";

namespace {

// Thrown as `char*` so that handlers of either `char*` or `const char*` catch
// it, like every other text the XML library throws.
[[noreturn]] void throwBadFormed() { throw const_cast<char*>(XMLParser::kBadFormedMessage); }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

const char* findChar(const char* from, const char* end, char c) {
  return static_cast<const char*>(std::memchr(from, c, static_cast<size_t>(end - from)));
}

// A text run between two tags: [begin, end) of the buffer, or empty.
struct Run {
  const char* begin = nullptr;
  size_t length = 0;
};

// Applies the text that stood before a tag to an element's value: a blank run
// leaves the value as it was, a run that starts with a comment empties it,
// any other run (trimmed) replaces it.
void applyRun(const char* begin, const char* end, Run& value) {
  while (begin < end && isSpace(*begin)) ++begin;
  while (end > begin && isSpace(end[-1])) --end;
  if (begin == end) return;
  if (end - begin >= 4 && std::memcmp(begin, "<!--", 4) == 0) {
    value = Run();
    return;
  }
  value.begin = begin;
  value.length = static_cast<size_t>(end - begin);
}

// Splits the inner text of a tag into its name (from the first character
// that is not "/" to the first blank) and its attributes (name, then the
// value between the next two double quotes). Only the blank separates. An
// attribute name that ends the tag is dropped; one without a complete
// double-quoted value makes the text bad-formed.
void splitTag(const char* begin, const char* end, const char*& nameEnd, std::vector<XMLAttribute*>& attributes) {
  const char* p = begin;
  while (p < end && *p != ' ') ++p;
  nameEnd = p;
  for (;;) {
    while (p < end && *p == ' ') ++p;
    if (p == end) return;
    const char* attributeName = p;
    while (p < end && *p != ' ' && *p != '=') ++p;
    if (p == end) return;
    const char* attributeNameEnd = p;
    const char* open = findChar(p, end, '"');
    if (open == nullptr) throwBadFormed();
    const char* close = findChar(open + 1, end, '"');
    if (close == nullptr) throwBadFormed();
    attributes.push_back(new XMLAttribute(std::string(attributeName, attributeNameEnd), std::string(open + 1, close)));
    p = close + 1;
  }
}

struct OpenElement {
  XMLNode* node;
  Run value;
  XMLNode* lastGroupFirst;  // first node of the group the last child joined
};

}  // namespace

XMLParser::~XMLParser() { delete root_; }

bool XMLParser::parseFile(const char* path) {
  if (path == nullptr) return false;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || info.st_size <= 0) {
    std::fclose(file);
    return false;
  }
  const size_t size = static_cast<size_t>(info.st_size);
  std::unique_ptr<char[]> buffer(new char[size + 1]);
  const size_t got = std::fread(buffer.get(), 1, size, file);
  std::fclose(file);
  if (got != size) return false;
  buffer[size] = '\0';
  return parseString(buffer.get());
}

bool XMLParser::parseString(const char* text) {
  XMLNode* node = parseFragment(text);
  delete root_;
  root_ = node;
  return root_ != nullptr;
}

XMLNode* XMLParser::parseFragment(const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = std::strlen(text);
  size_t start = 0;
  if (length >= 2 && text[0] == '<' && text[1] == '?') {
    const char* close = findChar(text, text + length, '>');
    if (close == nullptr) throwBadFormed();
    start = static_cast<size_t>(close - text) + 1;
  }
  size_t consumed = 0;
  return parseNode(text + start, length - start, consumed);
}

bool XMLParser::parseAttributes(const char* tagText, std::string& name, std::vector<XMLAttribute*>& attrs) {
  attrs.clear();
  name.clear();
  if (tagText == nullptr) return true;
  const char* begin = tagText;
  while (*begin == '/') ++begin;
  const char* nameEnd = nullptr;
  try {
    splitTag(begin, begin + std::strlen(begin), nameEnd, attrs);
  } catch (...) {
    for (XMLAttribute* attribute : attrs) delete attribute;
    attrs.clear();
    throw;
  }
  name.assign(begin, nameEnd);
  return true;
}

void XMLParser::createXML(const char* rootName) {
  delete root_;
  root_ = nullptr;
  root_ = new XMLNode(rootName ? rootName : "", "");
}

XMLNode* XMLParser::parseNode(const char* text, size_t length, size_t& consumed) {
  const char* const end = text + length;
  const char* p = text;
  const char* runBegin = text;  // the text run before the next tag starts here
  std::unique_ptr<XMLNode> root;
  Run rootValue;
  std::vector<OpenElement> open;
  std::vector<std::string> comments;  // comments seen since the last tag
  std::vector<XMLAttribute*> attributes;  // scratch list of the current tag

  for (;;) {
    const char* lt = findChar(p, end, '<');
    if (lt == nullptr) {
      if (!root) return nullptr;  // no element in the text
      throwBadFormed();           // an element still open
    }
    const char* gt = findChar(lt + 1, end, '>');
    if (gt == nullptr) throwBadFormed();
    if (end - lt >= 4 && std::memcmp(lt, "<!--", 4) == 0) {
      // A comment ends at its first ">"; it belongs to the next tag.
      comments.emplace_back(lt, gt + 1);
      p = gt + 1;
      continue;
    }

    applyRun(runBegin, lt, open.empty() ? rootValue : open.back().value);
    p = runBegin = gt + 1;

    const bool endTag = lt[1] == '/';
    const char* inner = endTag ? lt + 2 : lt + 1;
    const char* innerEnd = gt;
    bool selfClosing = false;
    if (innerEnd > inner && innerEnd[-1] == '/') {
      selfClosing = true;
      --innerEnd;
    }
    while (inner < innerEnd && *inner == '/') ++inner;

    if (endTag) {
      // An end tag closes the innermost open element, and only that one.
      if (open.empty()) throwBadFormed();
      const char* nameEnd = inner;
      while (nameEnd < innerEnd && *nameEnd != ' ') ++nameEnd;
      OpenElement& current = open.back();
      const std::string& name = current.node->name_;
      if (name.size() != static_cast<size_t>(nameEnd - inner) || name.compare(0, name.size(), inner, name.size()) != 0) {
        throwBadFormed();
      }
      current.node->value_.assign(current.value.begin ? current.value.begin : "", current.value.length);
      comments.clear();  // comments before an end tag belong to no element
      open.pop_back();
      if (open.empty()) {
        consumed = static_cast<size_t>(gt + 1 - text);
        return root.release();
      }
      continue;
    }

    std::unique_ptr<XMLNode> node(new XMLNode(std::string(), std::string()));
    const char* nameEnd = nullptr;
    try {
      splitTag(inner, innerEnd, nameEnd, attributes);
    } catch (...) {
      for (XMLAttribute* attribute : attributes) delete attribute;
      throw;
    }
    if (!attributes.empty()) {
      node->attributes_.assign(attributes.begin(), attributes.end());
      attributes.clear();
    }
    node->name_.assign(inner, nameEnd);
    if (!comments.empty()) {
      node->comments_ = new std::vector<std::string>(std::move(comments));
      comments.clear();
    }

    XMLNode* added = node.get();
    if (open.empty()) {
      root = std::move(node);
      if (selfClosing) {
        root->value_.assign(rootValue.begin ? rootValue.begin : "", rootValue.length);
        consumed = static_cast<size_t>(gt + 1 - text);
        return root.release();
      }
      open.push_back(OpenElement{added, rootValue, nullptr});
      continue;
    }

    OpenElement& parent = open.back();
    XMLNode* groupFirst = parent.lastGroupFirst;
    if (groupFirst != nullptr && groupFirst->name_ == added->name_) {
      // Same name as the previous child: append without a map lookup.
      XMLNode* last = groupFirst->lastOfGroup_ ? groupFirst->lastOfGroup_ : groupFirst;
      last->next_ = added;
      groupFirst->lastOfGroup_ = added;
      added->parent_ = parent.node;
      node.release();
    } else {
      std::string key = added->name_;
      if (key.find('&') != std::string::npos) key = added->name();
      parent.lastGroupFirst = parent.node->appendToGroup(node.release(), key);
    }
    if (!selfClosing) {
      if (open.size() >= static_cast<size_t>(kMaxDepth)) throwBadFormed();
      open.push_back(OpenElement{added, Run(), nullptr});
    }
  }
}
