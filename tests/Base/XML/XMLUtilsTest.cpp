#include "Base/XML/XMLUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Base/XML/XmlDOM.h"
#include "Base/XML/XmlTestUtil.h"

namespace {

using tvan::XmlDOM;
using xmltest::dumpAll;
using xmltest::thrown;

TEST(XMLUtils, GetValueOfAbsentElement) {
  XmlDOM dom("<Job><ServiceID>17</ServiceID><Name>n</Name></Job>", false);
  std::string text = "kept";
  int number = 99;
  EXPECT_EQ(tvan::getValue(&dom, "Missing", text, false, 0, true, true), 0);
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(tvan::getValue(&dom, "Missing", number, false, 0, true, true), 0);
  EXPECT_EQ(number, 0);

  EXPECT_EQ(tvan::getValue(&dom, "ServiceID", number, true, 0, true, true), 1);
  EXPECT_EQ(number, 17);
  EXPECT_EQ(tvan::getValue(&dom, "Name", text, true, 0, true, true), 1);
  EXPECT_EQ(text, "n");

  // The job-data defaults: not required, first match, from the root.
  tvan::setValue(&dom, "Count", 5);
  EXPECT_EQ(tvan::getValue(&dom, "Count", number), 1);
  EXPECT_EQ(number, 5);
  EXPECT_EQ(tvan::goToNode(&dom, "Name"), 1);
  EXPECT_EQ(dom.getActiveNodeName(), "Name");
}

TEST(XMLUtils, MissingRequiredValueThrowsAfterDiagnostics) {
  XmlDOM dom("<Job><Name>n</Name></Job>", false);
  std::string text;
  int number = 0;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(thrown([&] { tvan::getValue(&dom, "Name", text, true, 1, true, true); }),
            "Exception! Required job data unfound, location 1");
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "<Job><Name>n</Name></Job>\nActive=\"Name\"\n");
  EXPECT_EQ(err.rfind("Error in XMLUtils at ", 0), 0u);
  EXPECT_NE(err.find(": \n         Exception! Required job data unfound Name\n"), std::string::npos);

  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(thrown([&] { tvan::getValue(&dom, "Other", number, true, 0, true, true); }),
            "Exception! Required job data unfound, location 2");
  out = ::testing::internal::GetCapturedStdout();
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "");
  EXPECT_NE(err.find("         Exception! Required job data unfound Other\n"), std::string::npos);
  EXPECT_EQ(dumpAll(dom), "<Job><Name>n</Name></Job>");
}

TEST(XMLUtils, SetValueCreatesOrOverwrites) {
  XmlDOM dom("<Job><S>1</S><S>2</S></Job>", false);
  tvan::setValue(&dom, "New", "n", 0, true, false);
  tvan::setValue(&dom, "S", "two", 1, true, false);
  tvan::setValue(&dom, "S", "under first", 2, true, false);
  EXPECT_EQ(dumpAll(dom), "<Job><New>n</New><S><S>under first</S>1</S><S>two</S></Job>");

  tvan::setValue(&dom, "Neg", -42, 0, true, false);
  int number = 0;
  EXPECT_EQ(tvan::getValue(&dom, "Neg", number, true, 0, true, true), 1);
  EXPECT_EQ(number, -42);
  std::string text;
  tvan::getValue(&dom, "Neg", text, true, 0, true, true);
  EXPECT_EQ(text, "-42");

  EXPECT_EQ(tvan::goToNode(&dom, "S", 1, true, false), 2);
  EXPECT_EQ(dom.getActiveNodeName(), "S");
  dom.getNodeValue(text, -1);
  EXPECT_EQ(text, "two");
}

TEST(XMLUtils, ClassPointerRoundTrip) {
  XmlDOM dom("<Job/>", false);
  void* address = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7ffe12345678abcdULL));
  tvan::setClassPointer(&dom, "MasterMgr", "ServiceManager", &dom);
  tvan::setClassPointer(&dom, "MasterMgr", "ServiceManager", address);
  EXPECT_EQ(dumpAll(dom),
            "<Job><MasterMgr Pointer=\"0x7ffe12345678abcd\" ClassType=\"ServiceManager\"/></Job>");

  void* read = nullptr;
  EXPECT_EQ(tvan::getClassPointer(&dom, "MasterMgr", "Other", read), 0);
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(tvan::getClassPointer(&dom, "MasterMgr", "ServiceManager", read), 1);
  EXPECT_EQ(read, address);

  tvan::removeClassPointer(&dom, "MasterMgr");
  EXPECT_EQ(tvan::getClassPointer(&dom, "MasterMgr", "ServiceManager", read), 0);
  EXPECT_EQ(dumpAll(dom), "<Job/>");

  // A path naming the root itself never removes the root.
  tvan::setClassPointer(&dom, "Job", "T", address);
  tvan::setClassPointer(&dom, "Job", "T", address);
  EXPECT_EQ(tvan::getClassPointer(&dom, "Job", "T", read), 0);  // the root matches first
  EXPECT_NE(dumpAll(dom).find("<Job Pointer=\"0x7ffe12345678abcd\" ClassType=\"T\"/>"),
            std::string::npos);
}

TEST(XMLUtils, NormalizeData) {
  std::string text = "C:/dir/file\tname\xE9\x7F|?";
  std::string plain = text;
  tvan::normalizeData(plain, false);
  EXPECT_EQ(plain, "C:/dir/file_name\xE9_|?");
  tvan::normalizeData(text, true);
  EXPECT_EQ(text, "C__dir_file_name____");
  std::string bytes = "\xA0\xA1\x1F";
  tvan::normalizeData(bytes, false);
  EXPECT_EQ(bytes, "_\xA1_");
}

}  // namespace
