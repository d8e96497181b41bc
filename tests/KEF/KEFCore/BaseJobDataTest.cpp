#include "KEF/KEFCore/BaseJobData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <regex>
#include <string>
#include <thread>

#include "Base/System/FunctionMutex.h"
#include "Base/System/Mutex.h"
#include "Base/XML/XmlDOM.h"
#include "Base/XML/XmlTestUtil.h"

namespace {

using KEF::BaseJobData;
using xmltest::dumpAll;

// A document and one data object over it.
struct JobData {
  explicit JobData(const char* xml) : dom(xml, false) { data.initialize(&dom); }
  tvan::XmlDOM dom;
  BaseJobData data;
};

// The document of ServiceID S1 with exactly one status element.
std::string withStatus(const std::string& status, const std::string& text) {
  return "<Req><ServiceID>S1</ServiceID><ServiceStatus ServiceID=\"S1\" Status=\"" + status +
         "\">" + text + "</ServiceStatus></Req>";
}

TEST(BaseJobData, StatusMessageKeepsOneElementUnderRoot) {
  JobData job("<Req><ServiceID>S1</ServiceID></Req>");
  job.data.setStatusMsg("RUNNING");
  EXPECT_EQ(dumpAll(job.dom), withStatus("RUNNING", "OK"));
  job.data.setStatusMsg("DONE", "text");
  EXPECT_EQ(dumpAll(job.dom), withStatus("DONE", "text"));
  job.data.setStatusMsg("ERROR");  // on a single element changes only Status
  EXPECT_EQ(dumpAll(job.dom), withStatus("ERROR", "text"));

  // Duplicates collapse to one fresh element directly under the root, for
  // either form. The injections land under the root although the last write
  // left a status element active.
  const char* two = "<ServiceStatus Status=\"A\">a</ServiceStatus><ServiceStatus>b</ServiceStatus>";
  job.data.injectData(two);
  job.data.setStatusMsg("FAILURE", "broken");
  EXPECT_EQ(dumpAll(job.dom), withStatus("FAILURE", "broken"));
  job.data.injectData(two);
  job.data.setStatusMsg("RUNNING");
  EXPECT_EQ(dumpAll(job.dom), withStatus("RUNNING", "OK"));
  job.data.removeStatus();
  EXPECT_EQ(dumpAll(job.dom), "<Req><ServiceID>S1</ServiceID></Req>");

  // Without a ServiceID neither form touches the document.
  JobData anonymous("<Req><ServiceStatus>x</ServiceStatus><ServiceStatus>y</ServiceStatus></Req>");
  const std::string before = dumpAll(anonymous.dom);
  anonymous.data.setStatusMsg("DONE", "text");
  anonymous.data.setStatusMsg("DONE");
  EXPECT_EQ(dumpAll(anonymous.dom), before);
}

TEST(BaseJobData, ChildIDFallsBackIsGeneratedInPlaceAndThrowsUnlocked) {
  JobData job("<Req><ServiceID>S1</ServiceID></Req>");
  std::string id;
  EXPECT_EQ(job.data.getChildID(id, 3), 1);  // at any index
  EXPECT_EQ(id, "S1");
  job.data.injectData("<ChildID>c1</ChildID><ChildID>c2</ChildID>");
  EXPECT_EQ(job.data.getChildID(id, 1), 2);
  EXPECT_EQ(job.data.getChildID(id, 5), 2);  // beyond the ChildIDs: unchanged
  EXPECT_EQ(id, "c2");

  // A generated ID overwrites the first ChildID. Two calls within one
  // millisecond write the same text; retried across a millisecond boundary.
  std::string first, second;
  for (int attempt = 0; attempt < 20 && (attempt == 0 || first != second); ++attempt) {
    job.data.setChildID("a", "b", nullptr);
    job.data.getChildID(first, 0);
    job.data.setChildID("a", "b", nullptr);
    EXPECT_EQ(job.data.getChildID(second, 0), 2);
  }
  EXPECT_EQ(first, second);
  std::smatch match;
  ASSERT_TRUE(std::regex_match(second, match, std::regex(R"(a\|b\|(\d+)\.(0|[1-9]\d{0,2}))")))
      << second;
  EXPECT_NEAR(std::stod(match[1].str()), static_cast<double>(std::time(nullptr)), 2);

  JobData empty("<Req><Other/></Req>");
  id = "kept";
  ::testing::internal::CaptureStderr();  // the path helpers' diagnostics
  EXPECT_EQ(xmltest::thrown([&] { empty.data.getChildID(id, 0); }),
            "Exception! Required job data unfound, location 1");
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(id, "kept");
  // The mutex left with the exception: another thread can take it.
  EXPECT_TRUE(std::async(std::launch::async, [&] {
                bool locked = empty.dom.mutex->lock(tvan::kNoBlock);
                if (locked) empty.dom.mutex->unlock();
                return locked;
              }).get());
}

// A reader over the same document sees one whole status pair at all times,
// also while the writer injects duplicates and collapses them.
TEST(BaseJobData, MasterPointerNeedsItsClassTypeAndIndexStaysInBounds) {
  JobData job("<Req><MasterMgr Pointer=\"0x7f0012345678\" ClassType=\"Other\"/></Req>");
  BaseJobData::MasterTask* master = nullptr;
  EXPECT_EQ(job.data.getMasterPtr(master), 0);
  EXPECT_EQ(master, nullptr);
  job.data.setClassPointer("MasterMgr", "ServiceManager", reinterpret_cast<void*>(0x7f0012345678));
  EXPECT_EQ(job.data.getMasterPtr(master), 1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(master), uintptr_t{0x7f0012345678});

  EXPECT_FALSE(job.data.setIdx(1));  // index count 1
  EXPECT_TRUE(job.data.setIdx(0));
  job.data.setIdxCount(3);
  EXPECT_TRUE(job.data.setIdx(2));
  EXPECT_EQ(job.data.getCurrentIdx(), 2);
}

TEST(BaseJobData, ConcurrentStatusWriterAndReaderAgree) {
  JobData writer("<Req><ServiceID>S1</ServiceID></Req>");
  BaseJobData reader;
  reader.initialize(&writer.dom);
  writer.data.setStatusMsg("RUNNING", "one");
  std::atomic<bool> stop{false};
  std::atomic<long> reads{0}, bad{0};
  std::thread readerThread([&] {
    for (std::string status, text; !stop.load(); ++reads) {
      int count = 0;
      try {
        count = reader.getStatusMsg(status, text);
      } catch (...) {  // a selection moved under an unlocked read: counted below
      }
      const std::string pair = status + "/" + text;
      if (count != 1 || (pair != "RUNNING/one" && pair != "DONE/two")) ++bad;
    }
  });
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  for (long i = 0; std::chrono::steady_clock::now() < end; ++i) {
    if (i % 16 == 0) {
      // Duplicates are only visible while the writer holds the document.
      tvan::FunctionMutex guard(writer.dom.mutex);
      writer.data.injectData("<ServiceStatus Status=\"X\">x</ServiceStatus>");
      writer.data.setStatusMsg("DONE", "two");
    } else {
      writer.data.setStatusMsg(i % 2 == 0 ? "DONE" : "RUNNING", i % 2 == 0 ? "two" : "one");
    }
  }
  stop = true;
  readerThread.join();
  EXPECT_GT(reads.load(), 100);
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
