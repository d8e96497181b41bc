#include "Base/XML/XmlImp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using tvan::XmlImp;

const char kDeclaration[] = "<?xml version='1.0' encoding='iso-8859-1' ?>";

std::string dumpAll(XmlImp& imp) {
  std::string out;
  imp.dumpToBuffer(out, true);
  return out;
}

template <class F>
void onOtherThread(F f) {
  std::thread t(f);
  t.join();
}

TEST(XmlImp, ThreadsKeepTheirOwnPositions) {
  XmlImp imp;
  ASSERT_TRUE(imp.fillDOM("<r><a>1</a><b>2</b></r>"));
  ASSERT_EQ(imp.selectNodes("b", true), 1);
  onOtherThread([&] {
    EXPECT_EQ(imp.getActiveNodeName(), "r");  // a new thread starts at the root
    EXPECT_EQ(imp.getNumSelectedNodes(), 1);  // ... with the root as selection
    EXPECT_EQ(imp.selectNodes("a", true), 1);
    EXPECT_EQ(imp.getActiveNodeName(), "a");
  });
  EXPECT_EQ(imp.getActiveNodeName(), "b");
  std::string value;
  imp.getValue(value);
  EXPECT_EQ(value, "2");
}

TEST(XmlImp, SelectionBasics) {
  XmlImp imp;
  ASSERT_TRUE(imp.fillDOM("<r><x id=\"1\"/><x id=\"2\" e=\"\"/><x id=\"3\"/></r>"));
  EXPECT_EQ(imp.selectNodes("missing", true), 0);
  EXPECT_EQ(imp.getActiveNodeName(), "r");
  EXPECT_EQ(imp.getNumSelectedNodes(), 0);

  ASSERT_EQ(imp.selectNodes("x", false), 3);
  imp.setActiveNode(1);
  std::string out = "stale";
  EXPECT_FALSE(imp.getAttribute("e", out));  // present but empty reads as missing
  EXPECT_EQ(out, "");
  EXPECT_TRUE(imp.getAttribute("id", out));
  EXPECT_EQ(out, "2");

  imp.removeNode(0);
  ASSERT_EQ(imp.getNumSelectedNodes(), 2);
  imp.setActiveNode(0);
  imp.getAttribute("id", out);
  EXPECT_EQ(out, "2");
  EXPECT_EQ(dumpAll(imp), "<r><x id=\"2\" e=\"\"/><x id=\"3\"/></r>");

  imp.resetRoot();
  imp.setActiveNode(0);
  EXPECT_EQ(imp.getActiveNodeName(), "r");
}

TEST(XmlImp, RemovalMovesEveryContextOutOfTheSubtree) {
  XmlImp imp;
  ASSERT_TRUE(imp.fillDOM("<r><a><b>1</b><b>2</b></a><c/></r>"));
  ASSERT_EQ(imp.selectNodes("a/b", true), 2);
  imp.createElement("n", false, "v", -1);  // lastCreated lies in the subtree too
  onOtherThread([&] {
    ASSERT_EQ(imp.selectNodes("a", false), 1);
    imp.removeNode(0);
    EXPECT_EQ(imp.getNumSelectedNodes(), 0);
  });
  EXPECT_EQ(imp.getActiveNodeName(), "r");
  EXPECT_EQ(imp.getNumSelectedNodes(), 0);
  imp.setValue("root text", true);  // lastCreated moved to the root
  EXPECT_EQ(dumpAll(imp), "<r><c/>root text</r>");
}

TEST(XmlImp, RemoveNodesSweepsTheSelectionOnce) {
  XmlImp imp;
  ASSERT_TRUE(imp.fillDOM("<r><a><a/></a><a/><b/></r>"));
  ASSERT_EQ(imp.selectNodes("*", false), 3);
  imp.removeNodes(2);  // both top-level a's (one with a nested a)
  EXPECT_EQ(imp.getNumSelectedNodes(), 1);
  EXPECT_EQ(dumpAll(imp), "<r><b/></r>");

  // The root is never deleted, its entry only dropped.
  imp.resetRoot();
  imp.removeNodes(1);
  EXPECT_EQ(imp.getNumSelectedNodes(), 0);
  EXPECT_EQ(dumpAll(imp), "<r><b/></r>");
}

TEST(XmlImp, CopyBufferIsPastedOnce) {
  XmlImp imp;
  ASSERT_TRUE(imp.fillDOM("<r><a k=\"1\"><c/></a><t/></r>"));
  ASSERT_EQ(imp.selectNodes("a", true), 1);
  ASSERT_TRUE(imp.duplicateNode(false));
  ASSERT_EQ(imp.selectNodes("//r/t", true), 1);
  EXPECT_TRUE(imp.paste());
  EXPECT_FALSE(imp.paste());
  EXPECT_EQ(dumpAll(imp), "<r><a k=\"1\"><c/></a><t><a k=\"1\"/></t></r>");

  // Copies that are never pasted, replaced or left behind, are freed.
  imp.duplicateNode(true);
  imp.duplicateNode(true);
  XmlImp copy(imp);
  EXPECT_TRUE(copy.paste());
  EXPECT_TRUE(imp.paste());
}

TEST(XmlImp, FailedLoadsKeepTheTree) {
  XmlImp imp;
  ASSERT_TRUE(imp.fillDOM("<r><a/></r>"));
  ASSERT_EQ(imp.selectNodes("a", true), 1);
  EXPECT_FALSE(imp.fillDOM("no element"));
  EXPECT_THROW(imp.fillDOM("<r><a></r>"), const char*);
  try {
    imp.setXml("/nonexistent/file.xml");
    FAIL();
  } catch (const std::string& e) {
    EXPECT_EQ(e, "Invalid XML File: /nonexistent/file.xml");
  }
  EXPECT_EQ(imp.getActiveNodeName(), "a");
  EXPECT_EQ(dumpAll(imp), "<r><a/></r>");
}

TEST(XmlImp, Declaration) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>";
  XmlImp::setXMLEncoding(doc);
  EXPECT_EQ(doc, std::string(kDeclaration) + "<a/>");
  doc = "<a/>";
  XmlImp::setXMLEncoding(doc);
  EXPECT_EQ(doc, std::string(kDeclaration) + "<a/>");
  // A declaration-like text further in is content, not cut away.
  doc = "<!-- x <?xml ?><a/>";
  XmlImp::setXMLEncoding(doc);
  EXPECT_EQ(doc, std::string(kDeclaration) + "<!-- x <?xml ?><a/>");

  XmlImp imp;
  imp.createNewXml("Root");
  const std::string path = ::testing::TempDir() + "xmlimp_decl.xml";
  imp.dumpToFile(path.c_str());
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), std::string(kDeclaration) + "<Root/>");
  std::remove(path.c_str());
  imp.dumpToFile("/nonexistent/dir/file.xml");  // ignored
}

}  // namespace
