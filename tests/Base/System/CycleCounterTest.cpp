#include "Base/System/CycleCounter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "Base/BaseTypes/Error.h"
#include "Base/System/Processor.h"
#include "Base/System/StopWatch.h"

namespace tvan {
namespace {

TEST(CycleCounter, NeverStartedCountsNothing) {
  CycleCounter c;
  EXPECT_EQ(0, c.count());
  EXPECT_EQ(0.0, c.average());
  EXPECT_EQ(0.0, c.total());
  std::ostringstream os;
  c.debugText(os);
  EXPECT_EQ("CycleCounter never used.\n", os.str());
}

TEST(CycleCounter, WeightedUseMeasuresNanoseconds) {
  CycleCounter c(VString("work"));
  c.start(5);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  c.stop();
  EXPECT_EQ(5, c.count());
  EXPECT_EQ(1, c.uses());
  // The clock runs at 1e9 ticks per second once the library is initialised.
  EXPECT_GE(c.total(), 19e6);
  EXPECT_LT(c.total(), 2e9);
  EXPECT_NEAR(c.total() / 5, c.average(), 1e-6 * c.total());
  std::ostringstream os;
  c.debugText(os);
  EXPECT_EQ(0u, os.str().find("work used 5x, "));

  CycleCounter copy(c);
  EXPECT_EQ(c.total(), copy.total());
  c.reset();
  EXPECT_EQ(0, c.count());
  EXPECT_EQ(1, c.uses());
  EXPECT_EQ(0.0, c.total());
  EXPECT_GT(CycleCounter::overhead(), 0.0);
}

TEST(CycleCounter, AveragesNothingWithoutAClockRate) {
  const float saved = cpuFrequency;
  cpuFrequency = 0.0f;
  CycleCounter c;  // takes the rate at construction
  cpuFrequency = saved;
  c.start(1);
  c.stop();
  EXPECT_EQ(0.0, c.average());
  EXPECT_EQ(0.0, c.total());
}

TEST(StopWatch, FrequencyChoice) {
  // A slow counter far from the processor clock gives way to the estimate.
  EXPECT_EQ(2e9, StopWatch::chooseFrequency(true, 3579545.0, StopWatch::_estimateFrequency(2000),
                                            false));
  EXPECT_EQ(1e9, StopWatch::chooseFrequency(true, 1e9, 0.95e9, false));
  EXPECT_EQ(0.89e9, StopWatch::chooseFrequency(true, 1e9, 0.89e9, false));
  EXPECT_EQ(1e9, StopWatch::chooseFrequency(true, 1e9, 0.0, false));
  EXPECT_EQ(5e8, StopWatch::chooseFrequency(false, 0.0, 5e8, false));
  try {
    StopWatch::chooseFrequency(false, 0.0, 5e8, true);
    ADD_FAILURE() << "a failed counter in use must throw";
  } catch (const Error& e) {
    EXPECT_STREQ("QueryPerformanceFrequency() failed. Can't make useful measurements", e.keystring());
  }
  const double measured = StopWatch::_estimateFrequency();
  EXPECT_NEAR(1e9, measured, 0.05e9);
  EXPECT_EQ(1e9f, cpuFrequency);
  StopWatch::_setFrequency();
  EXPECT_EQ(1e9f, cpuFrequency);
}

TEST(StopWatch, TimeBases) {
  EXPECT_DOUBLE_EQ(1000.0 / cpuFrequency, StopWatch::_timeBasePeriod(StopWatch::kMilliseconds));
  EXPECT_STREQ("msec", StopWatch::timeBaseStr(StopWatch::kMilliseconds));
  for (int bad : {0, 10, 60}) {
    try {
      StopWatch::_timeBasePeriod(bad);
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_STREQ("unknown TimeBase type", e.keystring());
    }
    EXPECT_THROW(StopWatch::timeBaseStr(bad), Error);
  }
}

TEST(Processor, Classification) {
  auto version = [](unsigned family, unsigned model, unsigned stepping) {
    return (family << 8) | (model << 4) | stepping;
  };
  EXPECT_TRUE(StopWatch::needsPerformanceCounter(kProcessorIntelPentiumMCentrino));
  EXPECT_TRUE(StopWatch::needsPerformanceCounter(kProcessorIntelPentium4M));
  EXPECT_FALSE(StopWatch::needsPerformanceCounter(kProcessorIntelPentium4OrXeon));
  // Modern models: an extended family (AMD) or extended model (Intel).
  EXPECT_EQ(kProcessorUnknown, classifyProcessor("AuthenticAMD", version(15, 1, 0) | (8u << 20)));
  EXPECT_EQ(kProcessorUnknown, classifyProcessor("GenuineIntel", version(6, 9, 0) | (9u << 16)));
  EXPECT_EQ(kProcessorUnknown, classifyProcessor("CyrixInstead", version(5, 2, 0)));

  // Every model of the tables: {vendor is Intel, family, model, stepping, id}.
  struct Model {
    bool intel;
    unsigned family, model, stepping;
    ProcessorId id;
  };
  const Model models[] = {
      {true, 6, 9, 5, kProcessorIntelPentiumMCentrino}, {true, 4, 5, 0, kProcessorIntel486SX2},
      {true, 15, 2, 7, kProcessorIntelPentium4M},  {true, 15, 4, 10, kProcessorIntelPentium4Other},
      {true, 15, 4, 3, kProcessorUnknown},        {false, 5, 8, 0, kProcessorAMDK62},
      {false, 5, 4, 0, kProcessorUnknown},        {false, 5, 12, 0, kProcessorAMDK63},
      {true, 4, 0, 0, kProcessorIntel486DX},      {true, 4, 1, 0, kProcessorIntel486DX},
      {true, 4, 2, 0, kProcessorIntel486SX},      {true, 4, 3, 0, kProcessorIntel486DX2},
      {true, 4, 4, 0, kProcessorIntel486SL},      {true, 4, 7, 0, kProcessorIntel486DX2E},
      {true, 4, 8, 0, kProcessorIntel486DX4},     {true, 4, 6, 0, kProcessorUnknown},
      {true, 5, 0, 0, kProcessorUnknown},         {true, 5, 1, 0, kProcessorIntelPentium},
      {true, 5, 3, 0, kProcessorIntelPentium},    {true, 5, 4, 0, kProcessorIntelPentiumMMX},
      {true, 6, 1, 0, kProcessorIntelPentiumPRO}, {true, 6, 3, 0, kProcessorIntelPentiumII},
      {true, 6, 5, 0, kProcessorIntelPentiumII},  {true, 6, 6, 0, kProcessorIntelCeleron},
      {true, 6, 7, 0, kProcessorIntelPentiumIII}, {true, 6, 8, 0, kProcessorIntelPentiumIII},
      {true, 6, 10, 0, kProcessorIntelPentiumIII}, {true, 6, 15, 0, kProcessorIntelPentium4OrXeon},
      {true, 6, 2, 0, kProcessorUnknown},         {true, 15, 1, 2, kProcessorIntelPentium4OrXeon},
      {true, 15, 2, 4, kProcessorIntelPentium4OrXeon}, {true, 15, 2, 9, kProcessorIntelPentium4OrXeon},
      {true, 15, 4, 1, kProcessorIntelPentium4OrXeon}, {true, 15, 1, 3, kProcessorUnknown},
      {false, 4, 9, 0, kProcessorAMD486Or586},    {false, 5, 0, 0, kProcessorAMDK5},
      {false, 5, 3, 0, kProcessorAMDK5},          {false, 5, 6, 0, kProcessorAMDK6},
      {false, 5, 7, 0, kProcessorAMDK6},          {false, 5, 9, 0, kProcessorAMDK63},
      {false, 5, 15, 0, kProcessorAMDK63},        {false, 6, 4, 0, kProcessorAMDAthlon},
      {false, 7, 0, 0, kProcessorUnknown},
  };
  for (const Model& m : models) {
    EXPECT_EQ(m.id, classifyProcessor(m.intel ? "GenuineIntel" : "AuthenticAMD",
                                      version(m.family, m.model, m.stepping)))
        << m.intel << " " << m.family << "/" << m.model << "/" << m.stepping;
  }

  EXPECT_STREQ("kProcessorUnknown", DetectProcessorStr(kProcessorIntelPentium4Other));
  EXPECT_STREQ("kProcessorIntelPentiumMCentrino",
               DetectProcessorStr(kProcessorIntelPentiumMCentrino));
  EXPECT_STREQ("kProcessorUnknown", DetectProcessorStr(static_cast<ProcessorId>(99)));
  EXPECT_EQ(DetectProcessor(), processor);
}

}  // namespace
}  // namespace tvan
