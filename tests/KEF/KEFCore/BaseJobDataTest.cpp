#include "KEF/KEFCore/BaseJobData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <thread>

#include "Base/System/FunctionMutex.h"
#include "Base/System/Mutex.h"
#include "Base/XML/XmlDOM.h"
#include "Base/XML/XmlTestUtil.h"

namespace {

using KEF::BaseJobData;
using tvan::XmlDOM;
using xmltest::dumpAll;
using xmltest::thrown;

// A document and one data object over it.
struct JobData {
  explicit JobData(const char* xml) : dom(xml, false) { data.initialize(&dom); }
  XmlDOM dom;
  BaseJobData data;
};

TEST(BaseJobData, StatusMessageKeepsOneElementUnderRoot) {
  JobData job("<Req><ServiceID>S1</ServiceID></Req>");
  std::string status, text;
  job.data.setStatusMsg("RUNNING");
  EXPECT_EQ(dumpAll(job.dom),
            "<Req><ServiceID>S1</ServiceID>"
            "<ServiceStatus ServiceID=\"S1\" Status=\"RUNNING\">OK</ServiceStatus></Req>");
  job.data.setStatusMsg("DONE", "<StatusText>OK</StatusText>");
  EXPECT_EQ(job.data.getStatusMsg(status, text), 1);
  EXPECT_EQ(status, "DONE");
  EXPECT_EQ(text, "<StatusText>OK</StatusText>");

  // The one-argument form on a single element changes only Status.
  job.data.setStatusMsg("ERROR");
  EXPECT_EQ(job.data.getStatusMsg(status, text), 1);
  EXPECT_EQ(status, "ERROR");
  EXPECT_EQ(text, "<StatusText>OK</StatusText>");

  // Injected duplicates collapse to one fresh element directly under the
  // root, for either form.
  const char* twoStatuses =
      "<ServiceStatus Status=\"A\">a</ServiceStatus><ServiceStatus Status=\"B\">b</ServiceStatus>";
  job.data.injectData(twoStatuses);
  job.data.setStatusMsg("FAILURE", "broken");
  EXPECT_EQ(dumpAll(job.dom),
            "<Req><ServiceID>S1</ServiceID>"
            "<ServiceStatus ServiceID=\"S1\" Status=\"FAILURE\">broken</ServiceStatus></Req>");
  job.data.injectData(twoStatuses);
  job.data.setStatusMsg("RUNNING");
  EXPECT_EQ(dumpAll(job.dom),
            "<Req><ServiceID>S1</ServiceID>"
            "<ServiceStatus ServiceID=\"S1\" Status=\"RUNNING\">OK</ServiceStatus></Req>");

  job.data.removeStatus();
  EXPECT_EQ(dumpAll(job.dom), "<Req><ServiceID>S1</ServiceID></Req>");

  // Without a ServiceID neither form touches the document.
  JobData anonymous("<Req><ServiceStatus>x</ServiceStatus><ServiceStatus>y</ServiceStatus></Req>");
  const std::string before = dumpAll(anonymous.dom);
  anonymous.data.setStatusMsg("DONE", "text");
  anonymous.data.setStatusMsg("DONE");
  EXPECT_EQ(dumpAll(anonymous.dom), before);
}

TEST(BaseJobData, ChildIDFallsBackToServiceIDOrThrowsUnlocked) {
  JobData job("<Req><ServiceID>S1</ServiceID></Req>");
  std::string id;
  EXPECT_EQ(job.data.getChildID(id, 0), 1);
  EXPECT_EQ(id, "S1");

  job.data.injectData("<ChildID>c1</ChildID><ChildID>c2</ChildID>");
  EXPECT_EQ(job.data.getChildID(id, 1), 2);
  EXPECT_EQ(id, "c2");
  EXPECT_EQ(job.data.getChildID(id, 5), 2);  // beyond the ChildIDs: unchanged
  EXPECT_EQ(id, "c2");

  JobData empty("<Req><Other/></Req>");
  id = "kept";
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(thrown([&] { empty.data.getChildID(id, 0); }),
            "Exception! Required job data unfound, location 1");
  ::testing::internal::GetCapturedStdout();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Exception! Required job data unfound ServiceID"), std::string::npos);
  EXPECT_EQ(id, "kept");
  // The mutex left with the exception: another thread can take it.
  bool locked = false;
  std::thread other([&] {
    locked = empty.dom.mutex->lock(tvan::kNoBlock);
    if (locked) empty.dom.mutex->unlock();
  });
  other.join();
  EXPECT_TRUE(locked);
}

TEST(BaseJobData, GeneratedChildIDHasTimeAndOverwrites) {
  JobData job("<Req/>");
  // Two calls within one millisecond write the same text into one element.
  // Retry a few times in case a millisecond boundary falls between them.
  const std::regex stamp(R"(a\|b\|(\d+)\.(0|[1-9]\d{0,2}))");
  bool sameMillisecond = false;
  for (int attempt = 0; attempt < 20 && !sameMillisecond; ++attempt) {
    std::string first, second;
    job.data.setChildID("a", "b", nullptr);
    job.data.getChildID(first, 0);
    job.data.setChildID("a", "b", nullptr);
    EXPECT_EQ(job.data.getChildID(second, 0), 1);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(second, match, stamp)) << second;
    EXPECT_LE(std::abs(std::stoll(match[1].str()) - static_cast<long long>(std::time(nullptr))), 2);
    sameMillisecond = first == second;
  }
  EXPECT_TRUE(sameMillisecond);
}

TEST(BaseJobData, InjectMasterPointerAndIndex) {
  JobData job("<Req><Deep><Inner/></Deep></Req>");
  int count = 0;
  job.dom.findNodes("Deep/Inner", count, true);  // moves the active node away from the root
  job.data.injectData("<uid>u-7</uid><MasterMgr/>");
  EXPECT_EQ(dumpAll(job.dom), "<Req><Deep><Inner/></Deep><MasterMgr/><uid>u-7</uid></Req>");
  EXPECT_EQ(job.data.getRequestUID(), "u-7");

  // Only the address is stored and read back; it is never dereferenced.
  BaseJobData::MasterTask* task = nullptr;
  EXPECT_EQ(job.data.getMasterPtr(task), 0);
  void* address = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7ffe12345678abcdULL));
  job.data.setClassPointer("MasterMgr", "OtherManager", address);
  EXPECT_EQ(job.data.getMasterPtr(task), 0);
  EXPECT_EQ(task, nullptr);
  job.data.setClassPointer("MasterMgr", "ServiceManager", address);
  EXPECT_EQ(job.data.getMasterPtr(task), 1);
  EXPECT_EQ(static_cast<void*>(task), address);

  job.data.advanceIdx();
  EXPECT_FALSE(job.data.setIdx(1));
  EXPECT_EQ(job.data.getCurrentIdx(), 1);
  EXPECT_TRUE(job.data.setIdx(0));
  EXPECT_EQ(job.data.getCurrentIdx(), 0);
}

// One thread writes status pairs while another reads them through a second
// data object over the same document: every read sees a whole pair and a
// single element, even while duplicates are injected and collapsed.
TEST(BaseJobData, ConcurrentStatusWriterAndReaderAgree) {
  XmlDOM dom("<Req><ServiceID>S1</ServiceID></Req>", false);
  BaseJobData writer, reader;
  writer.initialize(&dom);
  reader.initialize(&dom);
  writer.setStatusMsg("RUNNING", "one");

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::atomic<long> reads{0};
  std::thread readerThread([&] {
    std::string status, text;
    while (!stop.load()) {
      try {
        const int count = reader.getStatusMsg(status, text);
        const bool pair =
            (status == "RUNNING" && text == "one") || (status == "DONE" && text == "two");
        if (count != 1 || !pair) ++bad;
      } catch (...) {  // a selection moved under an unlocked read
        ++bad;
      }
      ++reads;
    }
  });

  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
  for (long i = 0; std::chrono::steady_clock::now() < end; ++i) {
    try {
      if (i % 16 == 0) {
        // Duplicates are only visible while the writer holds the document.
        tvan::FunctionMutex guard(dom.mutex);
        writer.injectData("<ServiceStatus Status=\"X\">x</ServiceStatus>");
        writer.setStatusMsg("DONE", "two");
      } else if (i % 2 == 0) {
        writer.setStatusMsg("DONE", "two");
      } else {
        writer.setStatusMsg("RUNNING", "one");
      }
    } catch (...) {
      ++bad;
    }
  }
  stop = true;
  readerThread.join();
  EXPECT_GT(reads.load(), 100);
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
