#include "Base/XML/XmlDOM.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "Base/BaseTypes/Error.h"
#include "Base/System/FunctionMutex.h"
#include "Base/XML/XmlTestUtil.h"

namespace {

using tvan::XmlDOM;
using xmltest::dumpAll;
using xmltest::thrown;

const char kRange[] = "XmlDOM::validIndex  \"XML: Index exceeds the range\"";
const char kBadFormed[] =
    "XMLParser::parseNode \"XML: Bad Formed XML (possible non-matching begin/end tags)\"";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

TEST(XmlDOM, ConstructionRejectsBadSources) {
  EXPECT_EQ(thrown([] { XmlDOM d(nullptr, true); }),
            "XmlDOM::XmlDOM \"  XML: Invalid file name, NULL string");
  EXPECT_EQ(thrown([] { XmlDOM d("", false); }),
            "XmlDOM::XmlDOM \"XML: Invalid file name, empty string");
  EXPECT_EQ(thrown([] { XmlDOM d("no element here", false); }), kBadFormed);
  EXPECT_EQ(thrown([] { XmlDOM d("<a><b></a>", false); }), kBadFormed);
  try {
    XmlDOM d("/nonexistent/config.xml", true);
    FAIL();
  } catch (const tvan::Error& e) {
    EXPECT_STREQ(e.keystring(), "XmlDOM::XmlDOM  Cannot find file: /nonexistent/config.xml");
  }
}

TEST(XmlDOM, InvalidDocumentUntilCreated) {
  XmlDOM dom;
  std::string s;
  int count = 0;
  std::map<std::string, std::string> attributes;
  const std::vector<std::function<void()>> operations = {
      [&] { dom.findNodes("a", count, true); }, [&] { dom.setActiveNode(0); },
      [&] { dom.resetActiveToRoot(); },         [&] { dom.getNodeValue(s, -1); },
      [&] { dom.setNodeValue("v", -1); },       [&] { dom.getAttribute(attributes, 0); },
      [&] { dom.getAttribute("a", s, 0); },     [&] { dom.setAttribute("a", "b"); },
      [&] { dom.createNode("n", "v", true, -1); }, [&] { dom.removeNode(-1); },
      [&] { dom.copyChildNodes(s, -1); },       [&] { dom.paste(0); },
      [&] { dom.pasteFragment("<a/>", -1); },   [&] { dom.reload(); },
      [&] { dom.saveToFile(nullptr); },         [&] { dom.dump(s, true, false); }};
  for (const auto& operation : operations) EXPECT_EQ(thrown(operation), "ERROR invalid DOM");
  // Operations without a validity check do nothing on a document without a tree.
  EXPECT_EQ(thrown([&] { dom.removeAttribute("a"); }), "<none>");
  EXPECT_EQ(dom.getActiveNodeName(), "");
  EXPECT_EQ(thrown([&] { dom.copy(0); }), "Error copy node");
  EXPECT_EQ(thrown([&] { XmlDOM copy(dom); }), "XmlDOM::operator=  \"XML: Invalid new DOM object\"");

  dom.createNewXml("Root");
  dom.createNode("a", "1", false, -1);
  EXPECT_EQ(dumpAll(dom), "<Root><a>1</a></Root>");
}

TEST(XmlDOM, IndexChecks) {
  XmlDOM dom("<r><x>1</x><x>2</x><y/></r>", false);
  std::string value;
  dom.getNodeValue(value, 0);  // a fresh document selects its root
  EXPECT_EQ(value, "");
  EXPECT_EQ(thrown([&] { dom.setActiveNode(1); }), kRange);

  int count = 0;
  ASSERT_TRUE(dom.findNodes("x", count, true));
  ASSERT_EQ(count, 2);
  EXPECT_EQ(thrown([&] { dom.getNodeValue(value, 2); }), kRange);
  EXPECT_EQ(thrown([&] { dom.getNodeValue(value, -2); }),
            "XmlDOM::validIndex  \"XML: Negative index value \"");
  EXPECT_EQ(thrown([&] { dom.setActiveNode(-1); }),
            "XmlDOM::validIndex  \"XML: Unallowed index value : -1\"");
  dom.getNodeValue(value, -1);
  EXPECT_EQ(value, "1");
  dom.getNodeValue(value, 1);
  EXPECT_EQ(value, "2");
  EXPECT_EQ(thrown([&] { dom.copy(5); }), "Error copy node");
  // Texts are thrown as `char*`, so both kinds of handler catch them.
  EXPECT_THROW(dom.setActiveNode(5), char*);
  EXPECT_THROW(dom.setActiveNode(5), const char*);

  ASSERT_TRUE(dom.findNodes("nothing", count, true));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(thrown([&] { dom.setActiveNode(0); }), kRange);

  dom.resetActiveToRoot();
  dom.createNode("", "v", true, -1);
  EXPECT_EQ(thrown([&] { dom.getNodeValue(value, -1); }),
            "XmlDOM::getNodeValue  \"XML: Empty active node name\"");
  EXPECT_EQ(thrown([&] { dom.setAttribute(nullptr, "x"); }),
            "XmlDOM::setAttribute  Invalid tag or value");
  EXPECT_EQ(thrown([&] { dom.findNodes(nullptr, count, true); }),
            "XmlDOM::findNodes  XML: Invalid argument, null contex");
}

TEST(XmlDOM, EachThreadHasItsOwnSelection) {
  XmlDOM dom("<r><x>1</x><x>2</x><x>3</x></r>", false);
  int count = 0;
  dom.findNodes("x", count, false);
  dom.setActiveNode(2);
  std::thread other([&] {
    std::string value;
    // The document's count is 3, this thread's selection is only [root].
    EXPECT_EQ(thrown([&] { dom.getNodeValue(value, 2); }), kRange);
    EXPECT_EQ(dom.getActiveNodeName(), "r");
    tvan::FunctionMutex guard(dom.mutex);
    int n = 0;
    dom.findNodes("x", n, false);
    dom.getNodeValue(value, 0);
    EXPECT_EQ(value, "1");
  });
  other.join();
  std::string value;
  dom.getNodeValue(value, -1);
  EXPECT_EQ(value, "3");
}

TEST(XmlDOM, RemoveNodeKeepsPositionsValid) {
  XmlDOM dom("<r><a><b>1</b><b>2</b></a><c>3</c><c>4</c></r>", false);
  int count = 0;
  dom.findNodes("a/b", count, true);
  ASSERT_EQ(count, 2);
  std::thread other([&] {
    int n = 0;
    dom.findNodes("c", n, false);
    dom.removeNode(0);
    std::string value;
    dom.getNodeValue(value, 0);  // the former second entry moved down
    EXPECT_EQ(value, "4");
    dom.resetActiveToRoot();
    dom.findNodes("a", n, false);
    ASSERT_EQ(n, 1);
    dom.removeNode(-1);
    EXPECT_EQ(thrown([&] { dom.getNodeValue(value, 0); }), kRange);
  });
  other.join();
  // This thread's active node and selection lay in the removed subtree.
  EXPECT_EQ(dom.getActiveNodeName(), "r");
  std::string value;
  EXPECT_EQ(thrown([&] { dom.getNodeValue(value, 0); }), kRange);
  EXPECT_EQ(dumpAll(dom), "<r><c>4</c></r>");

  dom.resetActiveToRoot();
  dom.findNodes("r", count, false);  // selects the root itself
  dom.removeNode(-1);                // ... which stays
  EXPECT_EQ(thrown([&] { dom.getNodeValue(value, 0); }), kRange);
  EXPECT_EQ(dumpAll(dom), "<r><c>4</c></r>");

  // -1 removes the caller's whole selection, whatever another thread's
  // findNodes left as the document's count.
  XmlDOM many("<r><x/><x/><x/><y/></r>", false);
  many.findNodes("x", count, false);
  std::thread([&] {
    int n = 0;
    many.findNodes("y", n, false);
  }).join();
  many.removeNode(-1);
  EXPECT_EQ(dumpAll(many), "<r><y/></r>");
}

TEST(XmlDOM, CopyAndPaste) {
  XmlDOM dom("<r><a k=\"v\">1</a><t/></r>", false);
  int count = 0;
  dom.findNodes("a", count, false);
  EXPECT_TRUE(dom.copy(0));
  dom.resetActiveToRoot();
  dom.findNodes("t", count, false);
  EXPECT_TRUE(dom.paste(0));
  EXPECT_FALSE(dom.paste(0));
  EXPECT_TRUE(dom.pasteFragment("<f/>", 0));
  std::string children;
  dom.copyChildNodes(children, -1);
  EXPECT_EQ(children, "<a k=\"v\">1</a><f/>");
  dom.copy(0);  // never pasted: freed with the document
}

TEST(XmlDOM, CopiesShareTheTreeNotTheMutex) {
  XmlDOM dom("<r><a/></r>", false);
  XmlDOM copy(dom);
  EXPECT_NE(copy.mutex, dom.mutex);
  copy.setNodeValue("x", -1);
  EXPECT_EQ(dumpAll(dom), "<r><a/>x</r>");
  XmlDOM invalid;
  EXPECT_EQ(thrown([&] { copy = invalid; }), "XmlDOM::operator=  \"XML: Invalid new DOM object\"");
  EXPECT_EQ(dumpAll(copy), "<r><a/>x</r>");  // untouched by the failed assignment
}

TEST(XmlDOM, SaveAndReload) {
  XmlDOM text("<r><a>1</a></r>", false);
  text.createNode("b", "2", false, -1);
  EXPECT_TRUE(text.reload());
  EXPECT_EQ(dumpAll(text), "<r><a>1</a></r>");
  text.createNode("b", "2", false, -1);
  text.saveToFile(nullptr);
  EXPECT_TRUE(text.reload());
  EXPECT_EQ(dumpAll(text), "<r><a>1</a><b>2</b></r>");

  const std::string path = ::testing::TempDir() + "xmldom_save.xml";
  text.saveToFile(path.c_str());
  EXPECT_EQ(readFile(path),
            "<?xml version='1.0' encoding='iso-8859-1' ?><r><a>1</a><b>2</b></r>");
  XmlDOM file(path.c_str(), true);
  file.createNode("c", "&<", false, -1);
  file.saveToFile(nullptr);
  EXPECT_TRUE(file.reload());
  EXPECT_EQ(dumpAll(file), "<r><a>1</a><b>2</b><c>&amp;&lt;</c></r>");

  std::ofstream closed;
  EXPECT_EQ(thrown([&] { file.dump(closed, true); }), "XML: Stream is not open for output");
  std::remove(path.c_str());
}

TEST(XmlDOM, PrettyPrinting) {
  XmlDOM dom;
  std::string text = "<a><b/>x</a>";
  dom.formatForPrint(text);
  EXPECT_EQ(text, "<a>\n    <b/>\n    x\n</a>\n");

  const std::string source =
      "<Job><Password>secret</Password><User>u</User><Password/><Key id=\"1\"><k>v</k></Key></Job>";
  text = source;
  dom.formatForPrintWithTagDataModify(text, {"<Password>", "<Key id=\"1\">"}, "");
  EXPECT_EQ(text, "<Job>\n    <User>\n        u\n    </User>\n</Job>\n");
  text = source;
  dom.formatForPrintWithTagDataModify(text, {"<Password>"}, "****");
  EXPECT_EQ(text,
            "<Job>\n    ****\n    <User>\n        u\n    </User>\n    ****\n"
            "    <Key id=\"1\">\n        <k>\n            v\n        </k>\n    </Key>\n</Job>\n");

  // A declaration counts as a start tag; text after the last tag is dropped.
  text = "<?xml version='1.0' ?><a>1</a>tail";
  dom.formatForPrint(text);
  EXPECT_EQ(text, "<?xml version='1.0' ?>\n    <a>\n        1\n    </a>\n");

  text = "a<b & \"c\" 'd'>";
  XmlDOM::encode(text);
  EXPECT_EQ(text, "a&lt;b &amp; &quot;c&quot; &apos;d&apos;&gt;");
  text = "&amp;";
  XmlDOM::encode(text);
  EXPECT_EQ(text, "&amp;amp;");
}

}  // namespace
