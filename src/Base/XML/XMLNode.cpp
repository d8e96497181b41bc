// XMLAttribute and XMLNode: the node tree, its serialisation and path search.
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "Base/XML/XMLEscape.h"
#include "Base/XML/XMLParser.h"

namespace {

std::string unescaped(const std::string& raw) {
  if (raw.find('&') == std::string::npos) return raw;
  std::string text(raw);
  unescapeChars(text);
  return text;
}

// Whether the unescaped form of `raw` equals `text`, without copying in the
// common case of a text without references.
bool unescapedEquals(const std::string& raw, std::string_view text) {
  if (raw.find('&') == std::string::npos) return text == raw;
  return text == unescaped(raw);
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Keeps the first occurrence of each node, in order.
void removeDuplicates(std::vector<XMLNode*>& nodes) {
  if (nodes.size() < 2) return;
  std::unordered_set<XMLNode*> seen;
  seen.reserve(nodes.size());
  size_t kept = 0;
  for (XMLNode* node : nodes) {
    if (seen.insert(node).second) nodes[kept++] = node;
  }
  nodes.resize(kept);
}

}  // namespace

// ---------------------------------------------------------------------------
// XMLAttribute

XMLAttribute::XMLAttribute(std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)) {}

std::string XMLAttribute::name() const { return unescaped(name_); }
std::string XMLAttribute::value() const { return unescaped(value_); }

// ---------------------------------------------------------------------------
// XMLNode: construction, copying, destruction

XMLNode::XMLNode(std::string name, std::string value)
    : name_(std::move(name)), value_(std::move(value)) {}

XMLNode::XMLNode(const XMLNode& other) { copyContentFrom(other); }

XMLNode& XMLNode::operator=(const XMLNode& other) {
  if (this != &other) copyContentFrom(other);
  return *this;
}

void XMLNode::copyContentFrom(const XMLNode& other) {
  // Copy every child before changing anything, so that copying a node into
  // one of its own descendants (or ancestors) copies the state before the
  // assignment and never walks a list it is growing.
  std::vector<XMLNode*> sources;
  other.getAllChildren(sources);
  std::vector<XMLNode*> copies;
  copies.reserve(sources.size());
  try {
    for (const XMLNode* child : sources) copies.push_back(new XMLNode(*child));
  } catch (...) {
    for (XMLNode* copy : copies) delete copy;
    throw;
  }
  std::vector<XMLAttribute*> attributes;
  attributes.reserve(other.attributes_.size());
  for (const XMLAttribute* attribute : other.attributes_) attributes.push_back(new XMLAttribute(*attribute));
  name_ = other.name_;
  value_ = other.value_;
  for (XMLAttribute* attribute : attributes) addAttribute(attribute);
  for (XMLNode* copy : copies) addChild(copy, -1);
}

XMLNode::~XMLNode() {
  for (XMLAttribute* attribute : attributes_) delete attribute;
  delete comments_;
  // Deleting without recursion (a deep tree must not exhaust the stack) and
  // without a work list: the children of every node taken are spliced, as
  // one chain through the same-name links, in front of the nodes still to
  // delete, so nodes go in document-tree order.
  XMLNode* pending = nullptr;
  XMLNode* tail = nullptr;
  detachChildren(pending, tail);
  while (pending != nullptr) {
    XMLNode* node = pending;
    pending = node->next_;
    XMLNode* first = nullptr;
    XMLNode* last = nullptr;
    node->detachChildren(first, last);
    if (first != nullptr) {
      last->next_ = pending;
      pending = first;
    }
    node->next_ = nullptr;
    delete node;
  }
}

void XMLNode::detachChildren(XMLNode*& first, XMLNode*& last) {
  first = last = nullptr;
  for (const auto& group : children_) {
    XMLNode* groupLast = group.second->lastOfGroup_ ? group.second->lastOfGroup_ : group.second;
    if (last == nullptr) {
      first = group.second;
    } else {
      last->next_ = group.second;
    }
    last = groupLast;
  }
  children_.clear();
}

void XMLNode::takeChildren(std::vector<XMLNode*>& out) {
  getAllChildren(out);
  children_.clear();
}

void XMLNode::removeAllChildren() {
  std::vector<XMLNode*> children;
  takeChildren(children);
  for (XMLNode* child : children) delete child;
}

// ---------------------------------------------------------------------------
// Children

XMLNode* XMLNode::appendToGroup(XMLNode* child, const std::string& key) {
  child->parent_ = this;
  child->next_ = nullptr;
  child->lastOfGroup_ = nullptr;
  auto found = children_.try_emplace(key, child);
  XMLNode* first = found.first->second;
  if (!found.second) {
    XMLNode* last = first->lastOfGroup_ ? first->lastOfGroup_ : first;
    last->next_ = child;
    first->lastOfGroup_ = child;
  }
  return first;
}

bool XMLNode::addChild(XMLNode* child, int index) {
  if (child == nullptr) return false;
  const std::string key = unescaped(child->name_);
  auto group = children_.find(key);
  if (group == children_.end() || index < 0) {
    appendToGroup(child, key);
    return true;
  }
  XMLNode* first = group->second;
  XMLNode* last = first->lastOfGroup_ ? first->lastOfGroup_ : first;
  child->parent_ = this;
  child->next_ = nullptr;
  child->lastOfGroup_ = nullptr;
  if (index == 0) {
    child->next_ = first;
    child->lastOfGroup_ = last;
    first->lastOfGroup_ = nullptr;
    group->second = child;
    return true;
  }
  XMLNode* previous = first;  // the member at position index - 1
  for (int position = 1; position < index && previous->next_ != nullptr; ++position) {
    previous = previous->next_;
  }
  child->next_ = previous->next_;
  previous->next_ = child;
  if (previous == last) first->lastOfGroup_ = child;
  return true;
}

void XMLNode::removeFromParent() {
  if (parent_ == nullptr) return;
  // The group is keyed by the unescaped name, as addChild filed it.
  auto group = parent_->children_.find(unescaped(name_));
  if (group == parent_->children_.end()) return;
  XMLNode* first = group->second;
  XMLNode* last = first->lastOfGroup_ ? first->lastOfGroup_ : first;
  if (first == this) {
    if (next_ == nullptr) {
      parent_->children_.erase(group);
    } else {
      group->second = next_;
      next_->lastOfGroup_ = last == next_ ? nullptr : last;
    }
  } else {
    XMLNode* previous = first;
    while (previous->next_ != nullptr && previous->next_ != this) previous = previous->next_;
    if (previous->next_ == nullptr) return;  // not a member of the group
    previous->next_ = next_;
    if (last == this) first->lastOfGroup_ = previous == first ? nullptr : previous;
  }
  next_ = nullptr;
  lastOfGroup_ = nullptr;
}

XMLNode* XMLNode::findLastSibling(const std::string& name) {
  XMLNode* first = findFirstChild(name);
  if (first == nullptr) return nullptr;
  return first->lastOfGroup_ ? first->lastOfGroup_ : first;
}

XMLNode* XMLNode::findFirstChild(const std::string& name) const {
  auto group = children_.find(name);
  return group == children_.end() ? nullptr : group->second;
}

void XMLNode::enumerateChildren(std::vector<XMLNode*>& out) {
  out.clear();
  for (const auto& group : children_) out.push_back(group.second);
}

void XMLNode::getAllChildren(std::vector<XMLNode*>& out) const {
  for (const auto& group : children_) {
    for (XMLNode* child = group.second; child != nullptr; child = child->next_) out.push_back(child);
  }
}

void XMLNode::insertComments(std::vector<std::string>& comments) {
  if (comments.empty()) return;
  if (comments_ == nullptr) comments_ = new std::vector<std::string>;
  comments_->insert(comments_->end(), comments.begin(), comments.end());
}

const std::vector<std::string>& XMLNode::comments() const {
  static const std::vector<std::string>* const none = new std::vector<std::string>;  // never destroyed
  return comments_ ? *comments_ : *none;
}

XMLNode::ChildIndex::Map& XMLNode::ChildIndex::noMap() {
  // Never destroyed, so that trees freed during process exit can still use it.
  static Map* const none = new Map;
  return *none;
}

std::pair<XMLNode::ChildIndex::Map::iterator, bool> XMLNode::ChildIndex::try_emplace(const std::string& key,
                                                                                     XMLNode* node) {
  if (map_ == nullptr) map_ = new (tvan::xmlpool::allocate(sizeof(Map))) Map();
  return map_->try_emplace(key, node);
}

void XMLNode::ChildIndex::clear() {
  if (map_ == nullptr) return;
  map_->~Map();
  tvan::xmlpool::release(map_, sizeof(Map));
  map_ = nullptr;
}

bool XMLNode::setSibling(XMLNode* next) {
  next_ = next;
  return true;
}

bool XMLNode::setParent(XMLNode* parent) {
  parent_ = parent;
  return true;
}

// ---------------------------------------------------------------------------
// Attributes and texts

bool XMLNode::addAttribute(XMLAttribute* a) {
  if (a == nullptr) return false;
  const std::string key = a->name();
  for (XMLAttribute* existing : attributes_) {
    if (unescapedEquals(existing->rawName(), key)) {
      existing->setRawValue(a->value());
      delete a;
      return true;
    }
  }
  attributes_.push_back(a);
  return true;
}

bool XMLNode::setAttributeList(const std::vector<XMLAttribute*>& list) {
  for (XMLAttribute* attribute : attributes_) {
    // The list may hand back pointers this node already holds.
    bool kept = false;
    for (XMLAttribute* incoming : list) kept = kept || incoming == attribute;
    if (!kept) delete attribute;
  }
  attributes_ = list;
  return true;
}

bool XMLNode::removeAttribute(const std::string& name) {
  for (auto it = attributes_.begin(); it != attributes_.end(); ++it) {
    if (unescapedEquals((*it)->rawName(), name)) {
      delete *it;
      attributes_.erase(it);
      return true;
    }
  }
  return false;
}

std::string XMLNode::getAttribute(const std::string& name) const {
  for (const XMLAttribute* attribute : attributes_) {
    if (unescapedEquals(attribute->rawName(), name)) return attribute->value();
  }
  return std::string();
}

void XMLNode::getAttributeMap(std::map<std::string, std::string>& out) {
  for (const XMLAttribute* attribute : attributes_) out[attribute->name()] = attribute->value();
}

std::string XMLNode::name() const { return unescaped(name_); }
std::string XMLNode::value() const { return unescaped(value_); }

// ---------------------------------------------------------------------------
// Serialisation

void XMLNode::dump(std::string& out) {
  out.clear();
  appendDump(out);
}

void XMLNode::appendDump(std::string& out) const {
  if (comments_ != nullptr) {
    for (const std::string& comment : *comments_) out += comment;
  }
  out += '<';
  appendEscaped(out, name_);
  for (const XMLAttribute* attribute : attributes_) {
    out += ' ';
    appendEscaped(out, attribute->rawName());
    out += "=\"";
    appendEscaped(out, attribute->rawValue());
    out += '"';
  }
  if (children_.empty() && value_.empty()) {
    out += "/>";
    return;
  }
  out += '>';
  for (const auto& group : children_) {
    for (const XMLNode* child = group.second; child != nullptr; child = child->next_) child->appendDump(out);
  }
  appendEscaped(out, value_);
  out += "</";
  appendEscaped(out, name_);
  out += '>';
}

// ---------------------------------------------------------------------------
// Path search
//
// The search runs step by step over a frontier of nodes instead of recursing
// per step: every branch of the search consumes the same steps, so the
// frontier reproduces the depth-first order of the matches while the stack
// use stays flat for any path length. A node reached along several routes
// (through "..", "//" or a node matching its own name) is kept once; repeated
// entries would make a caller that deletes its selection delete a node twice.

bool XMLNode::findNodes(const char* path, std::vector<XMLNode*>& out, bool followPath) {
  if (path == nullptr) return !out.empty();
  std::string_view rest(path);
  std::vector<XMLNode*> frontier{this};
  std::vector<XMLNode*> candidates;

  for (;;) {
    bool climbed = false;
    if (followPath && startsWith(rest, "//")) {
      for (XMLNode*& node : frontier) {
        while (node->parent_ != nullptr) node = node->parent_;
      }
      removeDuplicates(frontier);
      rest.remove_prefix(2);
      climbed = true;
    }
    bool selfAllowed = true;
    if (!climbed && startsWith(rest, "./")) {
      rest.remove_prefix(2);
      selfAllowed = false;
    }
    const size_t slash = rest.find('/');
    const std::string_view step = rest.substr(0, slash);
    const bool lastStep = slash == std::string_view::npos;
    const std::string_view remaining = lastStep ? std::string_view() : rest.substr(slash + 1);

    candidates.clear();
    if (followPath && step == "..") {
      // ".." as the last step, or at a node without a parent, finds nothing.
      if (lastStep) return !out.empty();
      for (XMLNode* node : frontier) {
        if (node->parent_ != nullptr) candidates.push_back(node->parent_);
      }
      if (frontier.size() > 1) removeDuplicates(candidates);
      if (candidates.empty()) return !out.empty();
      frontier.swap(candidates);
      rest = remaining;
      continue;
    }
    if (!step.empty() && step[0] == '*') {
      for (XMLNode* node : frontier) node->getAllChildren(out);
      return !out.empty();
    }
    for (XMLNode* node : frontier) {
      XMLNode* first = nullptr;
      if (selfAllowed && unescapedEquals(node->name_, step)) {
        first = node;
      } else {
        auto group = node->children_.find(step);
        if (group != node->children_.end()) first = group->second;
      }
      for (XMLNode* match = first; match != nullptr; match = match->next_) candidates.push_back(match);
    }
    if (frontier.size() > 1) removeDuplicates(candidates);
    if (lastStep || !followPath || candidates.empty()) {
      out.insert(out.end(), candidates.begin(), candidates.end());
      return !out.empty();
    }
    frontier.swap(candidates);
    rest = remaining;
  }
}
