#include "Base/XML/XmlImp.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <unordered_set>

#include "Base/System/Platform/Clock.h"
#include "Base/XML/XMLParser.h"

namespace tvan {

namespace {

// Failure texts are thrown as `char*`, which handlers written for `char*` and
// for `const char*` both catch. Nothing writes through the pointer.
[[noreturn]] void fail(const char* text) { throw const_cast<char*>(text); }

const char kDeclaration[] = "<?xml version='1.0' encoding='iso-8859-1' ?>";

// True when `node` is `top` or lies below it.
bool isInSubtree(const XMLNode* node, const XMLNode* top) {
  for (const XMLNode* n = node; n != nullptr; n = n->getParent()) {
    if (n == top) return true;
  }
  return false;
}

// Wraps a freshly parsed parser into a shared holder; the parser is freed when
// the holder cannot be made.
CollectParser* makeCollectParser(std::unique_ptr<XMLParser>& parser, const char* failureText) {
  CollectParser* holder = new (std::nothrow) CollectParser(parser.get());
  if (holder == nullptr) fail(failureText);
  parser.release();
  return holder;
}

std::unique_ptr<XMLParser> makeParser() {
  std::unique_ptr<XMLParser> parser(new (std::nothrow) XMLParser());
  if (!parser) fail("Unable to allocate XMLParser");
  return parser;
}

}  // namespace

XmlImp::ThContext::~ThContext() { delete copyBuffer; }

XmlImp::XmlImp() : current_(nullptr) {}

XmlImp::XmlImp(const XmlImp& other) : current_(nullptr) { *this = other; }

XmlImp& XmlImp::operator=(const XmlImp& other) {
  if (this == &other) return *this;
  parser_ = other.parser_;
  deleteContexts();
  const ThContext* src = other.current_;
  if (src == nullptr) return *this;
  ThContext* context = new (std::nothrow) ThContext();
  if (context == nullptr) fail("XmlImp::operator= new of ThContext failed");
  context->thread = src->thread;
  context->selection = src->selection;
  context->active = src->active;
  context->lastCreated = src->lastCreated;
  context->root = src->root;
  // Each context owns its copy buffer, so the copy gets one of its own.
  context->copyBuffer = src->copyBuffer ? new XMLNode(*src->copyBuffer) : nullptr;
  contexts_.push_back(context);
  current_ = context;
  return *this;
}

XmlImp::~XmlImp() {
  deleteContexts();
  parser_.reset();
}

void XmlImp::deleteContexts() {
  for (ThContext* context : contexts_) delete context;
  contexts_.clear();
  current_ = nullptr;
}

XMLNode* XmlImp::treeRoot() const {
  if (parser_.get() == nullptr || parser_->getParser() == nullptr) return nullptr;
  return parser_->getParser()->getRoot();
}

bool XmlImp::checkContext(bool reset) {
  if (reset) deleteContexts();
  const uint32_t thread = platform::currentThreadId();
  if (current_ != nullptr && current_->thread == thread) return true;
  for (ThContext* context : contexts_) {
    if (context->thread == thread) {
      current_ = context;
      return true;
    }
  }
  std::unique_ptr<ThContext> context(new ThContext());
  context->thread = thread;
  context->root = treeRoot();
  context->active = context->root;
  // A thread that never selected anything stands at the root, so index 0
  // of its selection names the root (the document's count starts at 1).
  if (context->root != nullptr) context->selection.push_back(context->root);
  contexts_.push_back(context.get());
  current_ = context.release();
  return true;
}

void XmlImp::install(CollectParser* parser) {
  parser_ = parser;
  checkContext(true);
}

void XmlImp::setXml(const char* fileName) {
  // Parse before replacing anything, so a file that fails to load leaves the
  // current tree and every position intact.
  std::unique_ptr<XMLParser> parser = makeParser();
  if (fileName == nullptr || !parser->parseFile(fileName)) {
    throw std::string("Invalid XML File: ") + (fileName ? fileName : "");
  }
  install(makeCollectParser(parser, "XmlImp::setXml new of CollectParser failed"));
}

bool XmlImp::createNewXml(const char* rootName) {
  std::unique_ptr<XMLParser> parser = makeParser();
  parser->createXML(rootName ? rootName : "");
  install(makeCollectParser(parser, "XmlImp::createNewXml new of CollectParser failed"));
  return true;
}

bool XmlImp::fillDOM(const char* text) {
  std::unique_ptr<XMLParser> parser = makeParser();
  if (text == nullptr || !parser->parseString(text)) return false;
  install(makeCollectParser(parser, "XmlImp::fillDOM new of CollectParser failed"));
  return true;
}

int XmlImp::selectNodes(const char* path, bool makeFirstActive) {
  checkContext(false);
  std::vector<XMLNode*>& selection = current_->selection;
  selection.clear();
  if (current_->active == nullptr || path == nullptr) return 0;
  if (current_->active->findNodes(path, selection, true) && makeFirstActive) {
    current_->active = selection.front();
  }
  return static_cast<int>(selection.size());
}

void XmlImp::setActiveNode(int index) {
  checkContext(false);
  if (index < 0 || static_cast<size_t>(index) >= current_->selection.size()) return;
  current_->active = current_->selection[index];
}

void XmlImp::createElement(const char* name, bool makeActive, const char* value, int index) {
  checkContext(false);
  if (current_->active == nullptr) return;
  XMLNode* node = new (std::nothrow) XMLNode(name ? name : "", value ? value : "");
  if (node == nullptr) fail("XmlImp::createElement new of XmlImp failed");
  current_->active->addChild(node, index);
  if (makeActive) current_->active = node;
  current_->lastCreated = node;
}

void XmlImp::setValue(const char* value, bool onLastCreated) {
  checkContext(false);
  XMLNode* node = onLastCreated ? current_->lastCreated : current_->active;
  if (node != nullptr) node->setValue(value ? value : "");
}

bool XmlImp::setAttribute(const char* name, const char* value) {
  checkContext(false);
  if (current_->active == nullptr) return false;
  XMLAttribute* attribute = new (std::nothrow) XMLAttribute(name ? name : "", value ? value : "");
  if (attribute == nullptr) fail("XmlImp::setAttribute new of XMLAttribute failed");
  current_->active->addAttribute(attribute);
  return true;
}

void XmlImp::forgetSubtree(XMLNode* node) {
  for (ThContext* context : contexts_) {
    std::vector<XMLNode*>& selection = context->selection;
    selection.erase(std::remove_if(selection.begin(), selection.end(),
                                   [node](XMLNode* n) { return isInSubtree(n, node); }),
                    selection.end());
    if (isInSubtree(context->active, node)) context->active = context->root;
    if (isInSubtree(context->lastCreated, node)) context->lastCreated = context->root;
  }
}

void XmlImp::removeNode(int index) {
  checkContext(false);
  std::vector<XMLNode*>& selection = current_->selection;
  if (index < 0 || static_cast<size_t>(index) >= selection.size()) return;
  XMLNode* node = selection[index];
  if (node == treeRoot()) {
    // The parser owns the root; removing it would leave the document
    // without a tree. Only the entry goes.
    selection.erase(selection.begin() + index);
    return;
  }
  forgetSubtree(node);
  node->removeFromParent();
  delete node;
}

void XmlImp::removeNodes(int count) {
  checkContext(false);
  std::vector<XMLNode*>& selection = current_->selection;
  const size_t n = std::min(static_cast<size_t>(std::max(count, 0)), selection.size());
  const std::vector<XMLNode*> batch(selection.begin(), selection.begin() + n);
  selection.erase(selection.begin(), selection.begin() + n);

  // Only the topmost nodes of the batch are deleted; a node lying below
  // another batch node (or listed twice) goes with that one, so nothing is
  // deleted twice. The root is never deleted.
  XMLNode* root = treeRoot();
  std::unordered_set<XMLNode*> doomed(batch.begin(), batch.end());
  doomed.erase(root);
  std::vector<XMLNode*> tops;
  std::unordered_set<XMLNode*> seen;
  for (XMLNode* node : batch) {
    if (node == root || !seen.insert(node).second) continue;
    bool belowAnother = false;
    for (XMLNode* up = node->getParent(); up != nullptr; up = up->getParent()) {
      if (doomed.count(up) != 0) {
        belowAnother = true;
        break;
      }
    }
    if (!belowAnother) tops.push_back(node);
  }
  for (XMLNode* node : tops) {
    forgetSubtree(node);
    node->removeFromParent();
    delete node;
  }
}

bool XmlImp::duplicateNode(bool withChildren) {
  checkContext(false);
  if (current_->active == nullptr) return false;
  XMLNode* copy = new (std::nothrow) XMLNode(*current_->active);
  if (copy == nullptr) fail("XmlImp::duplicateNode new of XMLNode failed");
  if (!withChildren) copy->removeAllChildren();
  delete current_->copyBuffer;  // an earlier copy that was never pasted
  current_->copyBuffer = copy;
  return true;
}

bool XmlImp::paste() {
  checkContext(false);
  if (current_->copyBuffer == nullptr || current_->active == nullptr) return false;
  current_->active->addChild(current_->copyBuffer, -1);
  current_->copyBuffer = nullptr;  // the tree owns it now
  return true;
}

bool XmlImp::copyChildNodes(std::string& out) {
  checkContext(false);
  out.clear();
  if (current_->active == nullptr) return true;
  std::vector<XMLNode*> children;
  current_->active->getAllChildren(children);
  for (const XMLNode* child : children) child->appendDump(out);
  return true;
}

bool XmlImp::pasteFragment(const char* text) {
  checkContext(false);
  if (text == nullptr || current_->active == nullptr) return false;
  const std::string wrapped = std::string("<fragment>") + text + "</fragment>";
  XMLParser parser;
  std::unique_ptr<XMLNode> fragment(parser.parseFragment(wrapped.c_str()));
  if (!fragment) return false;
  std::vector<XMLNode*> children;
  fragment->getAllChildren(children);
  for (const XMLNode* child : children) {
    current_->active->addChild(new XMLNode(*child), -1);
  }
  return true;
}

bool XmlImp::getValue(std::string& out) {
  checkContext(false);
  out = current_->active ? current_->active->value() : std::string();
  return true;
}

bool XmlImp::getAttribute(const char* name, std::string& out) {
  checkContext(false);
  out.clear();
  if (current_->active != nullptr && name != nullptr) out = current_->active->getAttribute(name);
  return !out.empty();
}

bool XmlImp::getAttribute(std::map<std::string, std::string>& out) {
  // Always the calling thread's node, never the last caller's.
  checkContext(false);
  if (current_->active != nullptr) current_->active->getAttributeMap(out);
  return true;
}

void XmlImp::removeAttribute(const char* name) {
  checkContext(false);
  if (current_->active != nullptr && name != nullptr) current_->active->removeAttribute(name);
}

void XmlImp::resetRoot() {
  checkContext(false);
  current_->active = current_->root;
  current_->selection.clear();
  if (current_->root != nullptr) current_->selection.push_back(current_->root);
}

void XmlImp::dumpToBuffer(std::string& out, bool fromRoot, bool) {
  checkContext(false);
  XMLNode* node = fromRoot ? current_->root : current_->active;
  out.clear();
  if (node != nullptr) node->dump(out);
}

void XmlImp::dump(std::ofstream& out, bool fromRoot) {
  std::string text;
  dumpToBuffer(text, fromRoot, false);
  out << text;
}

void XmlImp::dumpToFile(const char* fileName) {
  std::string text;
  dumpToBuffer(text, true, false);
  setXMLEncoding(text);
  if (fileName == nullptr) return;
  FILE* file = std::fopen(fileName, "w");
  if (file == nullptr) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

void XmlImp::getRootName(std::string& out) {
  checkContext(false);
  out = current_->root ? current_->root->name() : std::string();
}

std::string XmlImp::getActiveNodeName() {
  checkContext(false);
  return current_->active ? current_->active->name() : std::string();
}

int XmlImp::getNumSelectedNodes() {
  checkContext(false);
  return static_cast<int>(current_->selection.size());
}

void XmlImp::setXMLEncoding(std::string& doc) {
  // Only a declaration the text starts with is replaced: a "<?xml ...?>"
  // further in (inside a stored comment, say) is content, and cutting the
  // text there would lose everything before it.
  const size_t start = doc.find_first_not_of(" \t\r\n");
  if (start != std::string::npos && doc.compare(start, 2, "<?") == 0) {
    const size_t end = doc.find("?>", start + 2);
    if (end != std::string::npos && doc.substr(start, end + 2 - start).find("xml") != std::string::npos) {
      doc = kDeclaration + doc.substr(end + 2);
      return;
    }
  }
  doc.insert(0, kDeclaration);
}

}  // namespace tvan
