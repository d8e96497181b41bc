#pragma once
// A parse tree shared between documents through reference counting.
#include "Base/BaseTypes/Collectable.h"

class XMLParser;

// Owns one `XMLParser` (and so its tree). Lives on the heap and is held
// through `tvan::Handle<CollectParser>`; the tree lives as long as the last
// handle. Counts are not atomic: handles are adjusted under the owning
// document's mutex.
class CollectParser : public tvan::Collectable {
 public:
  // Takes ownership of `parser` (may be null).
  explicit CollectParser(XMLParser* parser);
  CollectParser(const CollectParser&) = delete;
  CollectParser& operator=(const CollectParser&) = delete;

  XMLParser* getParser() const { return parser_; }

 protected:
  // Deletes the parser and its tree.
  ~CollectParser() override;

 private:
  XMLParser* parser_;  // owned
};

namespace tvan {
using ::CollectParser;
}  // namespace tvan
