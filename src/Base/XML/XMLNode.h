#pragma once
// The in-memory XML node tree: `XMLNode` elements owning their
// `XMLAttribute`s and child nodes.
//
// Texts are 8-bit byte strings, stored raw (entity references included);
// the accessors `name()` / `value()` return unescaped copies and `dump`
// escapes on the way out.
//
// Children of a node are held as same-name groups, visited group by group in
// ascending (byte-wise) name order and, inside a group, in insertion order.
// Document order across different names is not kept: `<r><b/><a/></r>` is
// held, and written back, as `<r><a/><b/></r>`.
//
// Nothing here is thread-safe; the document layer serialises access per tree.
#include <map>
#include <new>
#include <string>
#include <vector>

#include "Base/XML/XMLPool.h"

// A name and a value, both stored raw (they may hold entity references).
class XMLAttribute {
 public:
  XMLAttribute(std::string name, std::string value);
  XMLAttribute(const XMLAttribute& other) = default;
  XMLAttribute& operator=(const XMLAttribute& other) = default;

  // Storage comes from the XML pool (see XMLPool.h).
  static void* operator new(std::size_t size) { return tvan::xmlpool::allocate(size); }
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return tvan::xmlpool::allocateNoThrow(size);
  }
  static void operator delete(void* block, std::size_t size) { tvan::xmlpool::release(block, size); }
  static void operator delete(void* block, const std::nothrow_t&) noexcept {
    tvan::xmlpool::release(block, sizeof(XMLAttribute));
  }

  // Unescaped copies of the stored texts.
  std::string name() const;
  std::string value() const;

  // The stored (raw) texts.
  const std::string& rawName() const { return name_; }
  const std::string& rawValue() const { return value_; }
  void setRawValue(const std::string& value) { value_ = value; }

 private:
  std::string name_;
  std::string value_;
};

// One element. A node owns its attributes and its children (deleting a node
// deletes its whole subtree); parent and same-name links are non-owning.
class XMLNode {
 public:
  XMLNode(std::string name, std::string value);
  // Deep copy: name, value, attributes and children (groups in order). The
  // copy has no parent, no same-name link and no comments.
  XMLNode(const XMLNode& other);
  // The same copy steps applied to this node, without clearing what it
  // already holds: name and value are replaced, attributes are added with
  // `addAttribute`, copies of the children are appended.
  XMLNode& operator=(const XMLNode& other);
  ~XMLNode();

  // Storage comes from the XML pool (see XMLPool.h).
  static void* operator new(std::size_t size) { return tvan::xmlpool::allocate(size); }
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return tvan::xmlpool::allocateNoThrow(size);
  }
  static void operator delete(void* block, std::size_t size) { tvan::xmlpool::release(block, size); }
  static void operator delete(void* block, const std::nothrow_t&) noexcept {
    tvan::xmlpool::release(block, sizeof(XMLNode));
  }

  // Adopts `child` (this node then owns it) into the group of its unescaped
  // name and sets its parent. index -1 appends to the group, 0 makes it the
  // group's first, n > 0 places it at position n of the group; an index past
  // the group's end appends. Returns false only for a null child.
  bool addChild(XMLNode* child, int index = -1);

  // Takes ownership of `a`. If an attribute of the same unescaped name exists,
  // its stored value becomes `a->value()` (unescaped) and `a` is deleted;
  // otherwise `a` is appended. Returns true.
  bool addAttribute(XMLAttribute* a);
  // Deletes the current attributes and takes over the pointers in `list`.
  bool setAttributeList(const std::vector<XMLAttribute*>& list);
  // Deletes the first attribute whose unescaped name is `name`.
  bool removeAttribute(const std::string& name);
  // The unescaped value of the first attribute named `name`; empty if none.
  std::string getAttribute(const std::string& name) const;
  // Sets out[unescaped name] = unescaped value for each attribute in order.
  void getAttributeMap(std::map<std::string, std::string>& out);

  std::string name() const;   // unescaped copy
  std::string value() const;  // unescaped copy

  // Appends the matches of `path` to `out` (never clears it); returns whether
  // `out` is non-empty afterwards. Path syntax: "/"-separated steps; a
  // leading "//" climbs to the root; a leading "./" forbids matching this
  // node itself; ".." goes to the parent (finds nothing at a node without
  // one); a step starting with "*" selects every child and ends the search;
  // a step equal to this node's own name selects the node and its following
  // same-name siblings, otherwise the step selects the children of that name.
  // A node reached along several routes is reported once, at its first place.
  // With `followPath` false, "//" never climbs, ".." is an ordinary name and
  // every match of the first step is taken without reading further steps.
  bool findNodes(const char* path, std::vector<XMLNode*>& out, bool followPath = true);

  // Assigns the one-line serialisation of this node (comments first, then the
  // element with its children and escaped value) to `out`.
  void dump(std::string& out);
  // Appends the serialisation to `out` (same text as `dump`).
  void appendDump(std::string& out) const;

  // Unlinks this node from its parent's group; the caller then owns it. The
  // node keeps its parent pointer. No effect without a parent.
  void removeFromParent();
  // Deletes every child.
  void removeAllChildren();
  // The last node of this node's child group `name` (unescaped), or null.
  XMLNode* findLastSibling(const std::string& name);
  // The first node of this node's child group `name` (unescaped), or null.
  XMLNode* findFirstChild(const std::string& name) const;
  // Clears `out`, then appends the first node of each child group in name
  // order (follow `getSibling()` for the rest of a group).
  void enumerateChildren(std::vector<XMLNode*>& out);
  // Appends every child (groups in name order, each group in order) to `out`.
  void getAllChildren(std::vector<XMLNode*>& out) const;
  // Appends the texts to this node's comment list.
  void insertComments(std::vector<std::string>& comments);

  bool setSibling(XMLNode* next);
  bool setParent(XMLNode* parent);
  XMLNode* getSibling() const { return next_; }   // next of the same name
  XMLNode* getParent() const { return parent_; }

  // Raw stored texts and plain access for the document layer.
  const std::string& rawName() const { return name_; }
  const std::string& rawValue() const { return value_; }
  void setValue(const std::string& rawValue) { value_ = rawValue; }
  const std::vector<XMLAttribute*>& attributes() const { return attributes_; }
  const std::vector<std::string>& comments() const;
  bool hasChildren() const { return !children_.empty(); }

 private:
  friend class XMLParser;

  // Links every child (groups in order) into one chain through the
  // same-name links and empties the index; the caller owns the chain.
  void detachChildren(XMLNode*& first, XMLNode*& last);
  // Moves every child into `out` and empties the index (no deletion).
  void takeChildren(std::vector<XMLNode*>& out);
  // Appends `child` to the group `key` (its unescaped name); returns the
  // group's first node.
  XMLNode* appendToGroup(XMLNode* child, const std::string& key);
  void copyContentFrom(const XMLNode& other);

  std::string name_;
  std::string value_;
  std::vector<XMLAttribute*> attributes_;  // owned, in insertion order
  XMLNode* parent_ = nullptr;              // not owned
  XMLNode* next_ = nullptr;                // next of the same name, not owned
  // Unescaped child name -> first child of that group; owns the groups.
  // Ordered map from unescaped child name to the group's first node, created
  // on the first child only: most nodes are leaves, and a small node keeps a
  // large tree fast to build and to free.
  class ChildIndex {
   public:
    using Map = std::map<std::string, XMLNode*, std::less<>,
                         tvan::xmlpool::Allocator<std::pair<const std::string, XMLNode*>>>;
    ChildIndex() = default;
    ChildIndex(const ChildIndex&) = delete;
    ChildIndex& operator=(const ChildIndex&) = delete;
    ~ChildIndex() { clear(); }
    bool empty() const { return map_ == nullptr || map_->empty(); }
    Map::iterator begin() { return map().begin(); }
    Map::iterator end() { return map().end(); }
    Map::const_iterator begin() const { return map().begin(); }
    Map::const_iterator end() const { return map().end(); }
    template <class Key>
    Map::iterator find(const Key& key) { return map_ ? map_->find(key) : noMap().end(); }
    template <class Key>
    Map::const_iterator find(const Key& key) const { return map_ ? map_->find(key) : noMap().end(); }
    std::pair<Map::iterator, bool> try_emplace(const std::string& key, XMLNode* node);
    void erase(Map::iterator position) { map_->erase(position); }
    void clear();  // frees the map

   private:
    static Map& noMap();  // stands in, always empty, while there is no map
    Map& map() const { return map_ ? *map_ : noMap(); }
    Map* map_ = nullptr;  // owned, pool storage
  };
  ChildIndex children_;
  XMLNode* lastOfGroup_ = nullptr;  // on a group's first node: its last node
  std::vector<std::string>* comments_ = nullptr;  // owned, null while there are none
};

// The tree is also reachable under the utility library's namespace.
namespace tvan {
using ::XMLAttribute;
using ::XMLNode;
}  // namespace tvan
