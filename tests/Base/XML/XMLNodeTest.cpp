#include "Base/XML/XMLNode.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "Base/XML/XMLParser.h"

namespace {

// Values of the nodes `path` selects from `from`.
std::vector<std::string> valuesAt(XMLNode* from, const char* path) {
  std::vector<XMLNode*> found;
  from->findNodes(path, found, true);
  std::vector<std::string> values;
  for (XMLNode* node : found) values.push_back(node->value());
  return values;
}

std::string dumped(XMLNode* node) {
  std::string out;
  node->dump(out);
  return out;
}

using Values = std::vector<std::string>;

class XMLNodeSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(parser_.parseString(
        "<KEFPrefs><StatFile>s1</StatFile><StatFile>s2</StatFile><LevelMask>0x1f</LevelMask>"
        "<Log><LevelMask>0x2</LevelMask><File>f</File></Log></KEFPrefs>"));
    root_ = parser_.getRoot();
  }
  XMLParser parser_;
  XMLNode* root_ = nullptr;
};

}  // namespace

TEST_F(XMLNodeSearch, StepsResolveFromTheNodeItsNameOrTheRoot) {
  EXPECT_EQ(valuesAt(root_, "//KEFPrefs/StatFile"), (Values{"s1", "s2"}));
  EXPECT_EQ(valuesAt(root_, "KEFPrefs/StatFile"), (Values{"s1", "s2"}));
  EXPECT_EQ(valuesAt(root_, "StatFile"), (Values{"s1", "s2"}));
  XMLNode* log = root_->findFirstChild("Log");
  EXPECT_EQ(valuesAt(log, "../LevelMask"), (Values{"0x1f"}));
  EXPECT_EQ(valuesAt(log, "LevelMask"), (Values{"0x2"}));
  EXPECT_EQ(valuesAt(log, "//KEFPrefs/Log/File"), (Values{"f"}));
  EXPECT_EQ(valuesAt(root_, "Missing/File"), Values{});
}

TEST_F(XMLNodeSearch, SelfMatchDotSlashAndStar) {
  XMLNode* first = root_->findFirstChild("StatFile");
  // A node named like the step selects itself and its following siblings.
  EXPECT_EQ(valuesAt(first->getSibling(), "StatFile"), (Values{"s2"}));
  XMLParser parser;
  ASSERT_TRUE(parser.parseString("<x><x>1</x><x>2</x></x>"));
  EXPECT_EQ(valuesAt(parser.getRoot(), "x").size(), 1u);
  EXPECT_EQ(valuesAt(parser.getRoot(), "./x"), (Values{"1", "2"}));
  // "*" takes every child in group order and ignores the rest of the path.
  EXPECT_EQ(valuesAt(root_, "*"), (Values{"0x1f", "", "s1", "s2"}));
  EXPECT_EQ(valuesAt(root_, "*/ignored/steps"), (Values{"0x1f", "", "s1", "s2"}));
  EXPECT_EQ(valuesAt(root_, "Log/*"), (Values{"f", "0x2"}));
}

TEST_F(XMLNodeSearch, ParentStepsFindNothingPastTheRootAndReportEachNodeOnce) {
  EXPECT_EQ(valuesAt(root_, "../StatFile"), Values{});
  EXPECT_EQ(valuesAt(root_, "Log/.."), Values{});
  EXPECT_EQ(valuesAt(root_, "StatFile/../LevelMask"), (Values{"0x1f"}));
  EXPECT_EQ(valuesAt(root_, "StatFile/../StatFile"), (Values{"s1", "s2"}));
  EXPECT_EQ(valuesAt(root_, "StatFile/..///KEFPrefs/Log/File"), (Values{"f"}));
  std::vector<XMLNode*> found{root_};
  EXPECT_TRUE(root_->findNodes("Nothing", found, true));  // appends, never clears
  EXPECT_EQ(found.size(), 1u);
  EXPECT_FALSE(root_->findNodes(nullptr, found = {}, true));
}

TEST_F(XMLNodeSearch, WithoutFollowingThePathOnlyTheFirstStepCounts) {
  std::vector<XMLNode*> found;
  EXPECT_TRUE(root_->findNodes("StatFile/not/looked/at", found, false));
  EXPECT_EQ(found.size(), 2u);
  XMLNode* log = root_->findFirstChild("Log");
  EXPECT_FALSE(log->findNodes("//KEFPrefs", found = {}, false));  // never climbs
  EXPECT_FALSE(log->findNodes("../LevelMask", found, false));     // ".." is a name
  std::vector<XMLNode*> groups{root_};
  root_->enumerateChildren(groups);  // cleared, then the first of each group
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[0]->name() + groups[1]->name() + groups[2]->name(), "LevelMaskLogStatFile");
  EXPECT_EQ(groups[2]->value(), "s1");
}

TEST(XMLNode, AddChildPlacesIntoTheGroupAtTheIndex) {
  XMLNode root("r", "");
  auto add = [&root](const char* value, int index) { root.addChild(new XMLNode("c", value), index); };
  add("b", -1);
  add("d", -1);
  add("a", 0);
  add("c", 2);
  add("e", 99);  // past the end: appended
  EXPECT_EQ(valuesAt(&root, "c"), (Values{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(root.findLastSibling("c")->value(), "e");
  EXPECT_EQ(root.findLastSibling("none"), nullptr);
  EXPECT_FALSE(root.addChild(nullptr, -1));
}

TEST(XMLNode, RemoveFromParentKeepsTheGroupIntact) {
  XMLNode root("r", "");
  std::vector<XMLNode*> nodes;
  for (const char* v : {"1", "2", "3", "4"}) {
    nodes.push_back(new XMLNode("c", v));
    root.addChild(nodes.back(), -1);
  }
  nodes[3]->removeFromParent();  // last
  nodes[1]->removeFromParent();  // middle
  nodes[0]->removeFromParent();  // first
  EXPECT_EQ(nodes[0]->getParent(), &root);
  EXPECT_EQ(valuesAt(&root, "c"), (Values{"3"}));
  EXPECT_EQ(root.findLastSibling("c"), nodes[2]);
  root.addChild(nodes[3], -1);
  EXPECT_EQ(valuesAt(&root, "c"), (Values{"3", "4"}));
  nodes[2]->removeFromParent();
  nodes[3]->removeFromParent();
  EXPECT_FALSE(root.hasChildren());
  for (XMLNode* node : nodes) delete node;
  // A name holding a reference is filed and found under its unescaped form.
  XMLNode* amp = new XMLNode("a&amp;b", "");
  root.addChild(amp, -1);
  EXPECT_EQ(root.findFirstChild("a&b"), amp);
  amp->removeFromParent();
  EXPECT_FALSE(root.hasChildren());
  delete amp;
}

TEST(XMLNode, AttributesAreReplacedByUnescapedName) {
  XMLNode node("n", "");
  node.addAttribute(new XMLAttribute("a", "1"));
  node.addAttribute(new XMLAttribute("b&amp;", "2"));
  node.addAttribute(new XMLAttribute("a", "x &lt; y"));
  ASSERT_EQ(node.attributes().size(), 2u);
  EXPECT_EQ(node.getAttribute("a"), "x < y");
  EXPECT_EQ(dumped(&node), "<n a=\"x &lt; y\" b&amp;=\"2\"/>");
  std::map<std::string, std::string> map;
  node.getAttributeMap(map);
  EXPECT_EQ(map, (std::map<std::string, std::string>{{"a", "x < y"}, {"b&", "2"}}));
  EXPECT_TRUE(node.removeAttribute("b&"));
  EXPECT_FALSE(node.removeAttribute("b&"));
  node.setAttributeList({new XMLAttribute("z", "9")});
  EXPECT_EQ(dumped(&node), "<n z=\"9\"/>");
  EXPECT_EQ(node.getAttribute("a"), "");
}

TEST(XMLNode, CopyIsDeepWithoutCommentsOrLinks) {
  XMLParser parser;
  ASSERT_TRUE(parser.parseString("<r><!--c--><a k=\"v\"><b>1</b></a><a/>t</r>"));
  XMLNode* a = parser.getRoot()->findFirstChild("a");
  XMLNode copy(*a);
  EXPECT_EQ(copy.getParent(), nullptr);
  EXPECT_EQ(copy.getSibling(), nullptr);
  EXPECT_EQ(dumped(&copy), "<a k=\"v\"><b>1</b></a>");
  copy.findFirstChild("b")->setValue("changed");
  EXPECT_EQ(a->findFirstChild("b")->value(), "1");
  // Assigning an ancestor into its own descendant copies the old state once.
  XMLParser nested;
  ASSERT_TRUE(nested.parseString("<a><a>1</a></a>"));
  XMLNode* inner = nested.getRoot()->findFirstChild("a");
  *inner = *nested.getRoot();
  EXPECT_EQ(dumped(nested.getRoot()), "<a><a><a>1</a></a></a>");
  parser.getRoot()->removeAllChildren();
  EXPECT_EQ(dumped(parser.getRoot()), "<r>t</r>");
}

TEST(XMLNode, TreesMayBeBuiltAndFreedOnDifferentThreads) {
  std::string text = "<r>";
  for (int i = 0; i < 20000; ++i) text += "<c k=\"" + std::to_string(i) + "\">v</c>";
  text += "</r>";
  std::vector<XMLParser*> parsers(4);
  std::thread builder([&] {
    for (XMLParser*& parser : parsers) {
      parser = new XMLParser;
      parser->parseString(text.c_str());
    }
  });
  builder.join();  // the building thread's cached blocks go back at its exit
  std::thread freer([&] {
    for (int i = 0; i < 2; ++i) delete parsers[i];
  });
  for (int i = 2; i < 4; ++i) delete parsers[i];
  freer.join();
  XMLParser again;
  ASSERT_TRUE(again.parseString(text.c_str()));
  std::vector<XMLNode*> found;
  again.getRoot()->findNodes("c", found, true);
  ASSERT_EQ(found.size(), 20000u);
  EXPECT_EQ(found.back()->getAttribute("k"), "19999");
}
