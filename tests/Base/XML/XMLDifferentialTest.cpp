// Generated documents inside the accepted subset (elements, double-quoted
// attributes, one text run per element, comments before start tags, the five
// entity references) must read the same here as with an independent reader.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <random>
#include <string>
#include <vector>

#include "Base/XML/XMLParser.h"

namespace {

// Entity references decoded, attribute whitespace kept as it stands.
constexpr unsigned kReferenceOptions = pugi::parse_escapes | pugi::parse_eol;

class DocumentGenerator {
 public:
  explicit DocumentGenerator(unsigned seed) : random_(seed) {}

  std::string document() {
    std::string out = pick(2) ? "<?xml version='1.0' encoding='iso-8859-1' ?>\n" : "";
    element(out, 0);
    return out;
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  std::string name() {
    static const char* const names[] = {"a", "b", "Job", "Path", "item-1", "x.y", "_z", "Service_ID"};
    return names[pick(8)];
  }

  std::string text() {
    static const char* const pieces[] = {"plain", " ", "&lt;", "&gt;", "&amp;", "&quot;", "&apos;",
                                         "'", "42", "tab\there", "/tmp/x", "=", "1|2|3.4"};
    std::string out = "t";
    for (int i = pick(6); i > 0; --i) out += pieces[pick(13)];
    return out + "e";  // no blank at either end: both readers agree on trimming
  }

  void space(std::string& out) {
    static const char* const blanks[] = {"", "", "\n", "\n  ", " ", "\r\n\t"};
    out += blanks[pick(6)];
  }

  void element(std::string& out, int depth) {
    const std::string tag = name();
    out += "<" + tag;
    std::vector<std::string> used;
    for (int i = pick(4); i > 0; --i) {
      std::string attribute = "k" + std::to_string(pick(5));
      bool seen = false;
      for (const std::string& u : used) seen = seen || u == attribute;
      if (seen) continue;
      used.push_back(attribute);
      out += " " + attribute + "=\"" + (pick(3) ? text() : "") + "\"";
    }
    const int children = depth < 5 ? pick(5 - depth) : 0;
    const bool hasText = pick(2);
    if (children == 0 && !hasText && pick(2)) {
      out += pick(2) ? "/>" : " />";
      return;
    }
    out += ">";
    for (int i = 0; i < children; ++i) {
      space(out);
      if (pick(4) == 0) out += "<!-- comment " + std::to_string(i) + " -->";
      space(out);
      element(out, depth + 1);
    }
    space(out);
    if (hasText) out += text();
    out += "</" + tag + ">";
  }

  std::mt19937 random_;
};

std::string trimmed(std::string text) {
  const char* blanks = " \t\r\n";
  text.erase(0, text.find_first_not_of(blanks));
  text.erase(text.find_last_not_of(blanks) + 1);
  return text;
}

// Compares names, attributes, values and, per child name, the children in
// order. Returns an empty text when the trees agree, else what differs.
std::string compare(XMLNode* ours, const pugi::xml_node& theirs, const std::string& where) {
  const std::string here = where + "/" + theirs.name();
  if (ours->name() != theirs.name()) return here + ": name " + ours->name();
  if (ours->value() != trimmed(theirs.child_value())) return here + ": value " + ours->value();
  size_t index = 0;
  for (const pugi::xml_attribute& attribute : theirs.attributes()) {
    if (index >= ours->attributes().size()) return here + ": missing attribute " + attribute.name();
    const XMLAttribute* mine = ours->attributes()[index++];
    if (mine->name() != attribute.name() || mine->value() != attribute.value()) {
      return here + ": attribute " + mine->name() + "=" + mine->value();
    }
  }
  if (index != ours->attributes().size()) return here + ": extra attributes";
  std::vector<XMLNode*> groups;
  ours->enumerateChildren(groups);
  size_t theirGroups = 0;
  std::vector<std::string> seen;
  for (const pugi::xml_node& child : theirs.children()) {
    if (child.type() != pugi::node_element) continue;
    bool known = false;
    for (const std::string& s : seen) known = known || s == child.name();
    if (known) continue;
    seen.push_back(child.name());
    ++theirGroups;
    XMLNode* mine = ours->findFirstChild(child.name());
    if (mine == nullptr) return here + ": missing child " + child.name();
    for (const pugi::xml_node& same : theirs.children(child.name())) {
      if (mine == nullptr) return here + ": fewer children " + child.name();
      const std::string difference = compare(mine, same, here);
      if (!difference.empty()) return difference;
      mine = mine->getSibling();
    }
    if (mine != nullptr) return here + ": more children " + child.name();
  }
  if (groups.size() != theirGroups) return here + ": extra child groups";
  return "";
}

}  // namespace

TEST(XMLDifferential, GeneratedDocumentsReadAndWriteLikeAnIndependentReader) {
  DocumentGenerator generator(20261206);
  for (int i = 0; i < 400; ++i) {
    const std::string text = generator.document();
    pugi::xml_document reference;
    ASSERT_TRUE(reference.load_string(text.c_str(), kReferenceOptions)) << text;
    XMLParser parser;
    ASSERT_TRUE(parser.parseString(text.c_str())) << text;
    EXPECT_EQ(compare(parser.getRoot(), reference.document_element(), ""), "") << text;

    // The one-line form we write must read the same again, here and there.
    std::string written;
    parser.getRoot()->dump(written);
    pugi::xml_document rewritten;
    ASSERT_TRUE(rewritten.load_string(written.c_str(), kReferenceOptions)) << written;
    EXPECT_EQ(compare(parser.getRoot(), rewritten.document_element(), ""), "") << written;
    XMLParser reread;
    ASSERT_TRUE(reread.parseString(written.c_str())) << written;
    std::string again;
    reread.getRoot()->dump(again);
    EXPECT_EQ(again, written);
  }
}
