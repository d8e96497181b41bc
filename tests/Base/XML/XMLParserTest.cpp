#include "Base/XML/XMLParser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "Base/BaseTypes/Handle.h"
#include "Base/XML/CollectParser.h"
#include "Base/XML/XMLEscape.h"

namespace {

const std::string kBadFormed =
    "XMLParser::parseNode \"XML: Bad Formed XML (possible non-matching begin/end tags)\"";

std::string roundTrip(const char* text) {
  XMLParser parser;
  EXPECT_TRUE(parser.parseString(text)) << text;
  std::string out;
  if (parser.getRoot()) parser.getRoot()->dump(out);
  return out;
}

// The text the parse threw, or "" when it did not throw.
std::string thrownBy(const std::string& text) {
  XMLParser parser;
  try {
    parser.parseString(text.c_str());
  } catch (const char* message) {
    return message;
  }
  return "";
}

std::string nested(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<d>";
  for (int i = 0; i < depth; ++i) text += "</d>";
  return text;
}

}  // namespace

TEST(XMLParser, ValueIsLastTextRunAndChildrenKeepGroupOrder) {
  XMLParser parser;
  ASSERT_TRUE(parser.parseString("<a><b>x</b>y<b/>z</a>"));
  XMLNode* a = parser.getRoot();
  EXPECT_EQ(a->name(), "a");
  EXPECT_EQ(a->value(), "z");
  XMLNode* b = a->findFirstChild("b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->value(), "x");
  ASSERT_NE(b->getSibling(), nullptr);
  EXPECT_EQ(b->getSibling()->value(), "");
  EXPECT_EQ(b->getSibling()->getParent(), a);
  EXPECT_EQ(roundTrip("<a><b>x</b>y<b/>z</a>"), "<a><b>x</b><b/>z</a>");
  EXPECT_EQ(roundTrip("<r><b/><a/></r>"), "<r><a/><b/></r>");
  EXPECT_EQ(roundTrip("<r><b>1</b><a/><b>2</b><c x=\"1\"/></r>"), "<r><a/><b>1</b><b>2</b><c x=\"1\"/></r>");
  EXPECT_EQ(roundTrip("<e></e>"), "<e/>");
  EXPECT_EQ(roundTrip("<r>\n  <a>  spaced  text </a>\n</r>"), "<r><a>spaced  text</a></r>");
  EXPECT_EQ(roundTrip("before<r/>"), "<r>before</r>");
  EXPECT_EQ(roundTrip("before<r>after</r>"), "<r>after</r>");
}

TEST(XMLParser, DumpReadsBackToTheSameText) {
  const char* text =
      "<DataRoot><Job age=\"30\" name=\"AUTODEL\"><Path>/tmp/a</Path><Path>/tmp/b</Path></Job>"
      "<ServiceID>1|2|3.4</ServiceID><Status>a &lt; b &amp; c</Status></DataRoot>";
  const std::string once = roundTrip(text);
  EXPECT_EQ(once, text);
  EXPECT_EQ(roundTrip(once.c_str()), once);
}

TEST(XMLParser, DeclarationIsSkippedOnlyAtTheStart) {
  XMLParser parser;
  ASSERT_TRUE(parser.parseString("<?xml version='1.0' ?>\n<r/>"));
  EXPECT_EQ(parser.getRoot()->name(), "r");
  EXPECT_EQ(parser.getRoot()->value(), "");
  EXPECT_FALSE(parser.getRoot()->hasChildren());
  EXPECT_EQ(thrownBy(" <?xml version='1.0' ?><r/>"), kBadFormed);
  EXPECT_EQ(thrownBy("<?xml version='1.0'"), kBadFormed);
}

TEST(XMLParser, CommentsBelongToTheFollowingElement) {
  EXPECT_EQ(roundTrip("<r><!-- note --><c/></r>"), "<r><!-- note --><c/></r>");
  EXPECT_EQ(roundTrip("<r><!-- a > b --><c/></r>"), "<r><!-- a ><c/></r>");
  EXPECT_EQ(roundTrip("<!--top--><r><c/><!--dropped--></r>"), "<!--top--><r><c/></r>");
  XMLParser parser;
  ASSERT_TRUE(parser.parseString("<r><!--1--><!--2--><c><d/></c></r>"));
  XMLNode* c = parser.getRoot()->findFirstChild("c");
  ASSERT_EQ(c->comments().size(), 2u);
  EXPECT_EQ(c->comments()[1], "<!--2-->");
  // A run that begins with a comment empties the value.
  ASSERT_TRUE(parser.parseString("<r>x<c/><!-- c -->y</r>"));
  EXPECT_EQ(parser.getRoot()->value(), "");
}

TEST(XMLParser, AttributesNeedDoubleQuotedValues) {
  XMLParser parser;
  ASSERT_TRUE(parser.parseString("<r a=\"1\" b = \"two words\" flag></r>"));
  const auto& attributes = parser.getRoot()->attributes();
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[1]->name(), "b");
  EXPECT_EQ(attributes[1]->value(), "two words");
  EXPECT_EQ(parser.getRoot()->getAttribute("a"), "1");
  ASSERT_TRUE(parser.parseString("<r a=\"x &amp; y\"/>"));
  EXPECT_EQ(parser.getRoot()->attributes()[0]->rawValue(), "x &amp; y");
  EXPECT_EQ(parser.getRoot()->getAttribute("a"), "x & y");
}

TEST(XMLParser, ParseAttributesSplitsOnBlanksOnly) {
  std::string name = "old";
  XMLAttribute* kept = new XMLAttribute("k", "v");
  std::vector<XMLAttribute*> attributes{kept};
  // The list is emptied without deleting; tabs belong to names; whatever
  // stands before the opening quote is skipped; a trailing name is dropped.
  ASSERT_TRUE(XMLParser::parseAttributes("//x\ty a=\"1\"b x=\"2 3\" \t=\"4\" flag", name, attributes));
  delete kept;
  EXPECT_EQ(name, "x\ty");
  std::vector<std::pair<std::string, std::string>> got;
  for (XMLAttribute* attribute : attributes) {
    got.emplace_back(attribute->rawName(), attribute->rawValue());
    delete attribute;
  }
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", "2 3"}, {"\t", "4"}}));
  attributes.clear();
  try {
    XMLParser::parseAttributes("r a=\"1\" b='2'", name, attributes);
    ADD_FAILURE() << "a value without double quotes was accepted";
  } catch (const char* message) {
    EXPECT_EQ(message, kBadFormed);
  }
  EXPECT_TRUE(attributes.empty());  // what was split before is freed
}

TEST(XMLParser, BadFormedTextsThrowTheExactMessage) {
  const char* texts[] = {
      "<a><b></a>", "<a><b>", "<a>", "<a><b/>", "<r></x></r>", "</r>", "<r><a></r></a>",
      "<r\na=\"1\"></r>",          // a line break is part of the name
      "<r a='1'/>", "<r a=\"1/>",  // no complete double-quoted value
      "<r><c a=\"1\" b></c><d x=></d></r>",
      "<!-- never closed", "<r><!-- x", "<r", "<r><c/><d",
      "<r><a><b><c>x</c></b></a><a><b>",  // a partial tree is freed
  };
  for (const char* text : texts) EXPECT_EQ(thrownBy(text), kBadFormed) << text;
  EXPECT_EQ(kBadFormed, XMLParser::kBadFormedMessage);
}

TEST(XMLParser, TextWithoutElementYieldsNothing) {
  for (const char* text : {"", "plain text", "  \n", "<!-- only a comment -->", "<?xml version='1.0' ?>"}) {
    XMLParser parser;
    EXPECT_FALSE(parser.parseString(text)) << text;
    EXPECT_EQ(parser.getRoot(), nullptr);
    EXPECT_EQ(parser.parseFragment(text), nullptr);
  }
  XMLParser parser;
  EXPECT_FALSE(parser.parseString(nullptr));
  ASSERT_TRUE(parser.parseString("<r/>"));
  EXPECT_FALSE(parser.parseString("no element"));  // the root becomes the (null) result
  EXPECT_EQ(parser.getRoot(), nullptr);
}

TEST(XMLParser, FragmentIsOwnedByTheCallerAndRootIsReplaced) {
  XMLParser parser;
  parser.createXML("Root");
  std::unique_ptr<XMLNode> fragment(parser.parseFragment("<fragment><a>1</a><b/></fragment>"));
  ASSERT_NE(fragment, nullptr);
  EXPECT_EQ(parser.getRoot()->name(), "Root");
  std::string out;
  fragment->dump(out);
  EXPECT_EQ(out, "<fragment><a>1</a><b/></fragment>");
  ASSERT_TRUE(parser.parseString("<x/>"));
  ASSERT_TRUE(parser.parseString("<y/>"));  // the previous tree is freed
  EXPECT_EQ(parser.getRoot()->name(), "y");
}

TEST(XMLParser, ParseFileReadsWholeFilesOnly) {
  char path[] = "/tmp/xmlparser_test_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  XMLParser parser;
  EXPECT_FALSE(parser.parseFile(path));  // empty
  FILE* file = std::fopen(path, "wb");
  std::fputs("<?xml version='1.0' encoding='iso-8859-1' ?><Root><a>1</a></Root>", file);
  std::fclose(file);
  ASSERT_TRUE(parser.parseFile(path));
  EXPECT_EQ(parser.getRoot()->findFirstChild("a")->value(), "1");
  std::remove(path);
  EXPECT_FALSE(parser.parseFile(path));
  EXPECT_FALSE(parser.parseFile(nullptr));
}

TEST(XMLParser, LongTextsNamesAndAttributesAreKeptWhole) {
  const std::string name(5000, 'n');
  const std::string attribute(3000, 'k');
  const std::string value(200000, 'v');
  const std::string text = "<" + name + " " + attribute + "=\"" + value + "\">" + value + "</" + name + ">";
  XMLParser parser;
  ASSERT_TRUE(parser.parseString(text.c_str()));
  EXPECT_EQ(parser.getRoot()->name(), name);
  EXPECT_EQ(parser.getRoot()->getAttribute(attribute), value);
  EXPECT_EQ(parser.getRoot()->value(), value);
  std::string out;
  parser.getRoot()->dump(out);
  EXPECT_EQ(out, text);
  const std::string step(3000, 's');
  XMLNode root("r", "");
  root.addChild(new XMLNode(step, ""), -1);
  std::vector<XMLNode*> found;
  EXPECT_TRUE(root.findNodes(("r/" + step).c_str(), found, true));
}

TEST(XMLParser, NestingIsLimitedWithoutExhaustingTheStack) {
  XMLParser parser;
  ASSERT_TRUE(parser.parseString(nested(XMLParser::kMaxDepth).c_str()));
  std::string out;
  parser.getRoot()->dump(out);
  EXPECT_EQ(out.size(), static_cast<size_t>(XMLParser::kMaxDepth - 1) * 7 + 4);
  XMLNode copy(*parser.getRoot());
  std::vector<XMLNode*> found;
  EXPECT_TRUE(copy.findNodes("d/d/d", found, true));
  EXPECT_EQ(thrownBy(nested(XMLParser::kMaxDepth + 1)), kBadFormed);
  EXPECT_EQ(thrownBy(std::string(1000000, '<').replace(0, 3, "<r>")), kBadFormed);
  std::string deep;
  for (int i = 0; i < 200000; ++i) deep += "<d>";
  EXPECT_EQ(thrownBy(deep), kBadFormed);
}

TEST(CollectParser, TreeLivesAsLongAsTheLastHandle) {
  tvan::Handle<CollectParser> first(new CollectParser(new XMLParser));
  ASSERT_TRUE(first->getParser()->parseString("<r><a/></r>"));
  XMLNode* root = first->getParser()->getRoot();
  tvan::Handle<CollectParser> second(first);
  EXPECT_EQ(first->referenceCount(), 2);
  first = nullptr;
  EXPECT_EQ(second->getParser()->getRoot(), root);
  EXPECT_EQ(second->referenceCount(), 1);
  second = nullptr;  // deletes parser and tree (a leak would fail the sanitized run)
}

TEST(XMLEscape, EscapingLeavesReferencesAlone) {
  std::string text = "a<b>\"c\" 'd' & &amp; &lt;&gt;&quot;&apos; &#65; &amp";
  escapeChars(text);
  EXPECT_EQ(text, "a&lt;b&gt;&quot;c&quot; &apos;d&apos; &amp; &amp; &lt;&gt;&quot;&apos; &amp;#65; &amp;amp");
  std::string plain = "nothing special";
  escapeChars(plain);
  EXPECT_EQ(plain, "nothing special");
}

TEST(XMLEscape, UnescapingReplacesEachReferenceOnce) {
  const std::pair<std::string, std::string> cases[] = {
      {"a &lt; b", "a < b"},       {"&lt;&lt;", "<<"},       {"&amp;lt;", "&lt;"},
      {"&#65; &nbsp;", "&#65; &nbsp;"}, {"x & y", "x & y"},  {"&quot;&apos;&gt;&amp", "\"'>&amp"},
      {"&", "&"},                  {"", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.first;
    unescapeChars(text);
    EXPECT_EQ(text, c.second) << c.first;
  }
  XMLNode node("v", "x & y");
  std::string out;
  node.dump(out);
  EXPECT_EQ(out, "<v>x &amp; y</v>");
}
